#include "pricing/frmFeeRate.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "pricing/TariffEdit.h"
#include "printing/PrintGrid.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

namespace pricing {

namespace {

frmFeeRate* g_instance = nullptr;

const QString kFormat = QStringLiteral(
    ">地区代号        |地名          |首次时长|首次价格|每次时长|每次价格|附加费1|附加费2|手续费1|手续费2|折价类型|附加费折价|"
    "手续费折价");
constexpr int kRight = 17;

}  // namespace

const QStringList& frmFeeRate::TabCaptions() {
    static const QStringList c{"国际", "特区", "国内", "省内", "移动", "网间", "信息台", "市话", "IP电话", "本局", "被叫"};
    return c;
}

frmFeeRate& frmFeeRate::instance() {
    if (!g_instance) g_instance = new frmFeeRate;
    return *g_instance;
}
bool frmFeeRate::exists() { return g_instance != nullptr; }
void frmFeeRate::unload() {
    if (g_instance) g_instance->close();
}

void frmFeeRate::ShowFromConsole() {
    frmFeeRate& f = instance();
    f.show();
    f.raise();
    f.activateWindow();
}

frmFeeRate::frmFeeRate() : FeeRateGridForm(kRight) {
    setObjectName(QStringLiteral("frmFeeRate"));
    setWindowTitle(QStringLiteral("普通费率设置"));
    resize(platform::px(12300), platform::px(8800));
    setMinimumSize(platform::px(10000), platform::px(7000));

    auto* lay = new QVBoxLayout(this);
    SSTab1 = new QTabBar(this);
    for (const QString& c : TabCaptions()) SSTab1->addTab(c);
    lay->addWidget(SSTab1);
    makeGrid(this, kFormat);
    lay->addWidget(fgFeerate, 1);
    auto* cmdRow = new QHBoxLayout;
    cmdRow->addStretch();
    int i = 0;
    for (const char* cap : {"增加", "删除", "查找", "打印", "关闭"}) {
        auto* b = new QPushButton(QString::fromUtf8(cap), this);
        connect(b, &QPushButton::clicked, this, [this, i] { cmdFeerate_Click(i); });
        cmdRow->addWidget(b);
        cmdFeerate << b;
        ++i;
    }
    lay->addLayout(cmdRow);

    makeEditors();
    connect(SSTab1, &QTabBar::currentChanged, this, [this](int t) {
        if (leaveTab()) SSTab1_Click(t);
    });

    loadFindList();
    SSTab1_Click(0);
}

void frmFeeRate::SSTab1_Click(int t) {
    m_Tab = t;
    txtModify->hide();
    cboModify->hide();
    fgFeerate->setCol(0);
    fgFeerate->setColSel(0);
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select feerate.*,discountname from feerate,discount where feerate.discountid=discount.discountid "
                       "and feerateid=0 and feeratetype=? order by zonecode desc"),
        {t});
    showRows(rs);
}

void frmFeeRate::loadFindList() {
    platform::Recordset rs =
        dbSwitch.query(QStringLiteral("select zonecode,summary,feeratetype from feerate where feerateid=0"));
    readFindRows(rs);
    // Numeric zone order; a zone code that is not a number counts as 0.
    std::stable_sort(m_FindRows.begin(), m_FindRows.end(),
                     [](const FindRow& a, const FindRow& b) { return LeadingNumber(a.zone) < LeadingNumber(b.zone); });
}

// ------------------------------------------------------------------ commits

void frmFeeRate::reloadAfterFailure(bool) { SSTab1_Click(tab()); }

void frmFeeRate::deleteRate(const QString& zone) {
    dbSwitch.execute(QStringLiteral("delete from feerate where feerateid=0 and zonecode=? and feeratetype=?"),
                     {zone, tab()});
}

void frmFeeRate::setFieldValue(QWidget* editor, const QString& text) {
    const int col = GridEditCol;
    const GridValue v = editedValue(editor, text);
    const QString sql = QStringLiteral("update feerate set ") + FeeRateColumn(col) +
                        QStringLiteral("=? where feerateid=0 and feeratetype=? and zonecode=?");
    // The zone code is one row's own; every other value goes to every target row.
    const int last = qMin<int>(col == 0 ? GridSelFirst : GridSelLast, fgFeerate->Rows() - 1);
    {
        // All the rows or none.
        platform::Transaction tx(dbSwitch);
        for (int r = GridSelFirst; r <= last; ++r) {
            const QString zone = fgFeerate->TextMatrix(r, 0);
            if (!zone.isEmpty()) dbSwitch.execute(sql, {v.value, tab(), zone});
        }
        tx.commit();
    }
    for (int r = GridSelFirst; r <= last; ++r) fgFeerate->setTextMatrix(r, col, v.display);
    editor->hide();
    // The find searches zone codes and place names.
    if (col <= 1) loadFindList();
}

QVariant frmFeeRate::zoneOwner(const QString& zone) const {
    // Categories 0 to 8 share their zone codes; 本局 and 被叫 each keep their own.
    return tab() >= 9 ? dbSwitch.scalar(QStringLiteral("select feeratetype from feerate where feerateid=0 and "
                                                       "feeratetype=? and zonecode=?"),
                                        {tab(), zone})
                      : dbSwitch.scalar(QStringLiteral("select feeratetype from feerate where feerateid=0 and "
                                                       "feeratetype<9 and zonecode=?"),
                                        {zone});
}

QString frmFeeRate::categoryName(int type) const { return TabCaptions().value(type); }

void frmFeeRate::storeZone(int r, const QString& zone) {
    if (!fgFeerate->TextMatrix(r, 0).isEmpty()) {
        setFieldValue(txtModify, zone);
        return;
    }
    insertRate(r, zone, fgFeerate->TextMatrix(r, 1), tab(), 0);
    // The row shows what was stored (a copy of an empty row gets the defaults).
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select feerate.*,discountname from feerate,discount where feerate.discountid=discount.discountid "
                       "and feerateid=0 and feeratetype=? and zonecode=?"),
        {tab(), zone});
    showStoredRow(r, rs, zone);
    txtModify->hide();
    loadFindList();
}

// ------------------------------------------------------------------ commands

void frmFeeRate::cmdFeerate_Click(int index) {
    if (index == 4) {
        close();
        return;
    }
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return;
    switch (index) {
    case 0:   // 增加: a copy of the last row, waiting for its zone code
        addRow();
        break;
    case 1:   // 删除
        if (deleteSelectedRows()) loadFindList();
        break;
    case 2:   // 查找
        findNext();
        break;
    case 3:   // 打印
        printing::PrintGrid(*fgFeerate, QStringLiteral("普通费率/") + TabCaptions().value(tab()) + QStringLiteral("参数"),
                            true);
        m_FindText.clear();
        break;
    default:
        break;
    }
}

// ------------------------------------------------------------------ closing

void frmFeeRate::Form_Unload() {
    // The pricing charges from rsFeeRate: reopened, it carries the edited rates.
    if (dbSwitch.isOpen())
        rsFeeRate = dbSwitch.query(QStringLiteral("select * from feerate order by zonecode desc"));
    if (core::Console* c = core::TheConsole())
        if (QWidget* w = c->ConsoleWidget()) w->show();
}

void frmFeeRate::closeEvent(QCloseEvent* e) {
    // A pending edit is committed as leaving the editor does.
    commitPending();
    try {
        Form_Unload();
    } catch (const platform::DbError&) {
    }
    releaseRates();
    e->accept();
    if (g_instance == this) g_instance = nullptr;
    deleteLater();
}

}  // namespace pricing
