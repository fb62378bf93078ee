#include "pricing/frmFeeRate.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "core/frmFeeFind.h"
#include "platform/Prompts.h"
#include "pricing/TariffEdit.h"
#include "printing/PrintGrid.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace pricing {

namespace {

frmFeeRate* g_instance = nullptr;

const QString kFormat = QStringLiteral(
    ">地区代号        |地名          |首次时长|首次价格|每次时长|每次价格|附加费1|附加费2|手续费1|手续费2|折价类型|附加费折价|"
    "手续费折价");
constexpr int kRight = 17;

void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }

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

frmFeeRate::frmFeeRate() : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("frmFeeRate"));
    setWindowTitle(QStringLiteral("普通费率设置"));
    resize(12300 / 15, 8800 / 15);
    setMinimumSize(10000 / 15, 7000 / 15);

    auto* lay = new QVBoxLayout(this);
    SSTab1 = new QTabBar(this);
    for (const QString& c : TabCaptions()) SSTab1->addTab(c);
    lay->addWidget(SSTab1);
    fgFeerate = new platform::FlexGrid(this);
    fgFeerate->setObjectName(QStringLiteral("fgFeerate"));
    fgFeerate->setFixedRows(1);
    fgFeerate->setFormatString(kFormat);
    fgFeerate->setEditTriggers(QAbstractItemView::NoEditTriggers);
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

    txtModify = new QLineEdit(this);
    txtModify->hide();
    txtModify->installEventFilter(this);
    cboModify = new QComboBox(this);
    cboModify->setEditable(true);
    cboModify->setInsertPolicy(QComboBox::NoInsert);
    cboModify->hide();
    cboModify->installEventFilter(this);
    connect(cboModify, &QComboBox::activated, this, [this](int) { cboModify_Commit(); });
    connect(cboModify->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString&) { ModGeneral::ComboAutoComplete(cboModify, false, true); });

    fgFeerate->installEventFilter(this);
    fgFeerate->viewport()->installEventFilter(this);
    connect(fgFeerate, &platform::FlexGrid::cellClickedVb, this, [this] {
        if (!EditorVisible()) GridEditCol = fgFeerate->Col();
    });
    connect(SSTab1, &QTabBar::currentChanged, this, [this](int t) { SSTab1_Click(t); });

    loadFindList();
    SSTab1_Click(0);
}

bool frmFeeRate::EditorVisible() const { return !txtModify->isHidden() || !cboModify->isHidden(); }

bool frmFeeRate::rowOneProtected() const {
    // A category's default row, whose zone code is not a number, lists first and
    // is kept; on a station without default rows row 1 is a rate like any other.
    const QString zone = fgFeerate->TextMatrix(1, 0);
    return !zone.isEmpty() && !IsNumber(zone);
}

void frmFeeRate::SSTab1_Click(int t) {
    txtModify->hide();
    cboModify->hide();
    fgFeerate->setCol(0);
    fgFeerate->setColSel(0);
    fgFeerate->setRedraw(false);
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select feerate.*,discountname from feerate,discount where feerate.discountid=discount.discountid "
                       "and feerateid=0 and feeratetype=? order by zonecode desc"),
        {t});
    QVector<QStringList> rows;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) rows.push_back(FeeRateRowText(rs).split(QChar(9)));
    // A category without rates keeps one empty data row.
    fgFeerate->setRows(1);
    fgFeerate->setRows(1 + qMax<int>(1, rows.size()));
    for (int c = 0; c < fgFeerate->Cols(); ++c) fgFeerate->setTextMatrix(1, c, QString());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c) fgFeerate->setTextMatrix(r + 1, c, rows[r][c]);
    fgFeerate->setRedraw(true);
    fgFeerate->setRow(1);
    fgFeerate->setRowSel(1);
}

void frmFeeRate::loadFindList() {
    m_FindRows.clear();
    m_FindPos = -1;
    platform::Recordset rs =
        dbSwitch.query(QStringLiteral("select zonecode,summary,feeratetype from feerate where feerateid=0"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        m_FindRows.push_back({rs.str("zonecode"), rs.str("summary"), static_cast<int>(rs.lng("feeratetype"))});
    // Numeric zone order; a zone code that is not a number counts as 0.
    std::stable_sort(m_FindRows.begin(), m_FindRows.end(),
                     [](const FindRow& a, const FindRow& b) { return LeadingNumber(a.zone) < LeadingNumber(b.zone); });
}

// ------------------------------------------------------------------ grid

void frmFeeRate::fgFeerate_DblClick() {
    if (EditorVisible()) return;
    const int col = fgFeerate->Col();
    if (fgFeerate->Row() < 1) return;
    if (col < 10) {
        if (col <= 1 && fgFeerate->Row() == 1 && rowOneProtected()) return;
        setFieldEnter(txtModify);
    } else {
        GetSelectArr(col == 10);
        setFieldEnter(cboModify);
    }
}

void frmFeeRate::fgFeerate_MouseDown(int button) {
    if (EditorVisible()) return;
    GridEditCol = fgFeerate->Col();
    // A right click on a block of rows in one value column edits them all at
    // once; the zone code and place name are edited one row at a time.
    if (button == 2 && fgFeerate->Col() == fgFeerate->ColSel() &&
        (fgFeerate->Col() >= 2 || fgFeerate->Row() == fgFeerate->RowSel()))
        fgFeerate_DblClick();
}

void frmFeeRate::fgFeerate_KeyDown(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) fgFeerate_MouseDown(2);
}

void frmFeeRate::GetSelectArr(bool bDiscount) {
    cboModify->clear();
    if (bDiscount) {
        platform::Recordset rs =
            dbSwitch.query(QStringLiteral("select discountid,discountname from discount order by discountid"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) cboModify->addItem(rs.str("discountname"), rs.lng("discountid"));
    } else {
        cboModify->addItem(QStringLiteral("否"), 0);
        cboModify->addItem(QStringLiteral("是"), 1);
    }
}

void frmFeeRate::setFieldEnter(QWidget* editor) {
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return;
    int c1 = 0, c2 = 0;
    ModGeneral::GetGridSel(*fgFeerate, false, c1, c2);
    if (GridSelFirst < 1) GridSelFirst = 1;
    if (GridSelLast < GridSelFirst) GridSelLast = GridSelFirst;
    GridEditCol = fgFeerate->Col();
    const QRect cell = fgFeerate->visualRect(fgFeerate->model()->index(GridSelFirst, GridEditCol));
    const QPoint at = fgFeerate->viewport()->mapTo(this, cell.topLeft());
    editor->setGeometry(at.x(), at.y(), qMax(cell.width(), 40), qMax(cell.height(), editor->sizeHint().height()));
    const QString text = fgFeerate->TextMatrix(GridSelFirst, GridEditCol);
    if (editor == txtModify) {
        txtModify->setText(text);
    } else {
        cboModify->setCurrentIndex(cboModify->findText(text));
        cboModify->setEditText(text);
    }
    editor->show();
    editor->raise();
    editor->setFocus();
    if (editor == txtModify) ModGeneral::SelectAllText(txtModify);
}

// ------------------------------------------------------------------ commits

void frmFeeRate::txtModify_LostFocus() {
    if (txtModify->isHidden() || m_Committing) return;
    m_Committing = true;
    try {
        if (GridEditCol == 0) zoneCommit();
        else setFieldValue(txtModify, txtModify->text());
    } catch (const platform::DbError& e) {
        // The statement was refused: the grid keeps what is stored.
        txtModify->hide();
        say(QStringLiteral("保存失败: ") + e.text());
        SSTab1_Click(tab());
    }
    m_Committing = false;
}

void frmFeeRate::cboModify_Commit() {
    if (cboModify->isHidden() || m_Committing) return;
    m_Committing = true;
    const QString text = cboModify->currentText();
    const int ix = cboModify->findText(text);
    if (text.isEmpty() || ix < 0) {
        // Only the list's items can be stored.
        cboModify->setEditText(fgFeerate->TextMatrix(GridSelFirst, GridEditCol));
        cboModify->setFocus();
    } else {
        cboModify->setCurrentIndex(ix);
        try {
            setFieldValue(cboModify, text);
        } catch (const platform::DbError& e) {
            cboModify->hide();
            say(QStringLiteral("保存失败: ") + e.text());
            SSTab1_Click(tab());
        }
    }
    m_Committing = false;
}

void frmFeeRate::setFieldValue(QWidget* editor, const QString& text) {
    const int col = GridEditCol;
    GridValue v;
    if (editor == cboModify) {
        v.display = text;
        v.value = platform::Param(cboModify->currentData().toLongLong());
    } else if (col == 0) {
        v.display = text;
        v.value = platform::Param(text);
    } else {
        v = FeeGridValue(fgFeerate->TextMatrix(0, col), text);
    }
    const QString sql = QStringLiteral("update feerate set ") + FeeRateColumn(col) +
                        QStringLiteral("=? where feerateid=0 and feeratetype=? and zonecode=?");
    // The zone code is one row's own; every other value goes to every target row.
    const int last = col == 0 ? GridSelFirst : GridSelLast;
    for (int r = GridSelFirst; r <= last && r < fgFeerate->Rows(); ++r) {
        const QString zone = fgFeerate->TextMatrix(r, 0);
        if (!zone.isEmpty()) dbSwitch.execute(sql, {v.value, tab(), zone});
        fgFeerate->setTextMatrix(r, col, v.display);
    }
    editor->hide();
    if (col == 0) loadFindList();
}

void frmFeeRate::refuseZone(const QString& message, int r) {
    say(message);
    txtModify->setText(fgFeerate->TextMatrix(r, 0));
    txtModify->setFocus();
    ModGeneral::SelectAllText(txtModify);
}

void frmFeeRate::zoneCommit() {
    const int r = GridSelFirst;
    QString t = txtModify->text();
    if (t.isEmpty()) t = fgFeerate->TextMatrix(r, GridEditCol);
    if (t.isEmpty()) {
        // A row just added keeps waiting for its zone code; nothing is stored yet.
        txtModify->hide();
        return;
    }
    if (t.size() > 16) return refuseZone(QStringLiteral("请输入1-16位地区代号"), r);
    if (!IsZoneCode(t)) return refuseZone(QStringLiteral("请输入数字"), r);
    // Categories 0 to 8 share their zone codes; 本局 and 被叫 each keep their own.
    const QVariant found =
        tab() >= 9 ? dbSwitch.scalar(QStringLiteral("select feeratetype from feerate where feerateid=0 and feeratetype=? "
                                                    "and zonecode=?"),
                                     {tab(), t})
                   : dbSwitch.scalar(QStringLiteral("select feeratetype from feerate where feerateid=0 and feeratetype<9 "
                                                    "and zonecode=?"),
                                     {t});
    if (!found.isNull()) {
        if (fgFeerate->TextMatrix(r, GridEditCol) == t) {
            txtModify->hide();
            return;
        }
        return refuseZone(QStringLiteral("地区代号<") + t + QStringLiteral(">已经存在于") +
                              TabCaptions().value(found.toInt()),
                          r);
    }
    if (fgFeerate->TextMatrix(r, 0).isEmpty()) {
        insertRow(r, t);
        txtModify->hide();
        loadFindList();
        return;
    }
    setFieldValue(txtModify, t);
}

void frmFeeRate::insertRow(int r, const QString& zone) {
    auto cell = [&](int c) { return fgFeerate->TextMatrix(r, c); };
    const QVariant did =
        dbSwitch.scalar(QStringLiteral("select discountid from discount where discountname=?"), {cell(10)});
    auto num = [&](int c) { return FeeGridValue(fgFeerate->TextMatrix(0, c), cell(c)).value; };
    dbSwitch.execute(
        QStringLiteral("insert into feerate(zonecode,summary,firsttime,firstprice,pertime,perprice,extrafee,extrarate,"
                       "poundage,poundagerate,discountid,extradiscount,poundagediscount,feeratetype,feerateid) "
                       "values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,0)"),
        {zone, cell(1), num(2), num(3), num(4), num(5), num(6), num(7), num(8), num(9), did.isNull() ? 1 : did.toInt(),
         cell(11) == QStringLiteral("是") ? 1 : 0, cell(12) == QStringLiteral("是") ? 1 : 0, tab()});
    // The row shows what was stored (a copy of an empty row gets the defaults).
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select feerate.*,discountname from feerate,discount where feerate.discountid=discount.discountid "
                       "and feerateid=0 and feeratetype=? and zonecode=?"),
        {tab(), zone});
    if (!rs.eof()) {
        const QStringList cells = FeeRateRowText(rs).split(QChar(9));
        for (int c = 0; c < cells.size(); ++c) fgFeerate->setTextMatrix(r, c, cells[c]);
    } else {
        fgFeerate->setTextMatrix(r, 0, zone);
    }
}

// ------------------------------------------------------------------ commands

void frmFeeRate::cmdFeerate_Click(int index) {
    if (index == 4) {
        close();
        return;
    }
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return;
    int c1 = 0, c2 = 0;
    switch (index) {
    case 0: {   // 增加: a copy of the last row, waiting for its zone code
        const int above = fgFeerate->Rows() - 1;
        fgFeerate->setRedraw(false);
        fgFeerate->AddItem(QString());
        const int r = fgFeerate->Rows() - 1;
        for (int c = 1; c < 13; ++c) fgFeerate->setTextMatrix(r, c, fgFeerate->TextMatrix(above, c));
        fgFeerate->setRedraw(true);
        fgFeerate->setRow(r);
        fgFeerate->setRowSel(r);
        fgFeerate->setCol(0);
        fgFeerate->setColSel(0);
        fgFeerate->setTopRow(r);
        GridEditCol = 0;
        setFieldEnter(txtModify);
        if (!txtModify->isHidden()) {
            txtModify->setText(ModGeneral::NextNumStr(fgFeerate->TextMatrix(above, 0)));
            ModGeneral::SelectAllText(txtModify);
        }
        break;
    }
    case 1: {   // 删除
        txtModify->hide();
        cboModify->hide();
        ModGeneral::GetGridSel(*fgFeerate, false, c1, c2);
        if (GridSelFirst < 1) GridSelFirst = 1;
        if (GridSelFirst == 1 && rowOneProtected()) GridSelFirst = 2;
        for (int r = qMin<int>(GridSelLast, fgFeerate->Rows() - 1); r >= GridSelFirst; --r) {
            const QString zone = fgFeerate->TextMatrix(r, 0);
            if (!zone.isEmpty())
                dbSwitch.execute(
                    QStringLiteral("delete from feerate where feerateid=0 and zonecode=? and feeratetype=?"),
                    {zone, tab()});
            if (fgFeerate->Rows() > 2) {
                fgFeerate->RemoveItem(r);
            } else {
                // The tab keeps one data row; it no longer shows a stored rate.
                for (int c = 0; c < fgFeerate->Cols(); ++c) fgFeerate->setTextMatrix(r, c, QString());
            }
        }
        loadFindList();
        break;
    }
    case 2: {   // 查找
        m_FindText = frmFeeFind::instance().Find(QStringLiteral("请输入要查找的地区代号或地名:"), m_FindText);
        if (m_FindText.isEmpty()) return;
        const int n = m_FindRows.size();
        const QRegularExpression rx = WildcardPattern(m_FindText);
        int hit = -1;
        for (int k = 1; k <= n && hit < 0; ++k) {
            const int i = (m_FindPos + k + n) % qMax(1, n);
            if (i < 0 || i >= n) break;
            if (rx.match(m_FindRows[i].zone).hasMatch() || rx.match(m_FindRows[i].summary).hasMatch()) hit = i;
        }
        if (hit < 0) return;
        m_FindPos = hit;
        const FindRow& f = m_FindRows[hit];
        if (f.type != tab() && f.type >= 0 && f.type < SSTab1->count()) SSTab1->setCurrentIndex(f.type);
        fgFeerate->setRedraw(false);
        for (int r = 1; r < fgFeerate->Rows(); ++r) {
            if (fgFeerate->TextMatrix(r, 0) != f.zone) continue;
            fgFeerate->setTopRow(r);
            fgFeerate->setRow(r);
            fgFeerate->setCol(0);
            fgFeerate->setRowSel(r);
            fgFeerate->setColSel(fgFeerate->Cols() - 1);
            break;
        }
        fgFeerate->setRedraw(true);
        break;
    }
    case 3:   // 打印
        printing::PrintGrid(*fgFeerate, QStringLiteral("普通费率/") + TabCaptions().value(tab()) + QStringLiteral("参数"),
                            true);
        m_FindText.clear();
        break;
    default:
        break;
    }
}

// ------------------------------------------------------------------ events

bool frmFeeRate::eventFilter(QObject* o, QEvent* e) {
    if (o == fgFeerate->viewport()) {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(e);
            if (EditorVisible()) return true;
            if (me->button() == Qt::RightButton) {
                // The selection stays as it is: a right click edits it.
                fgFeerate_MouseDown(2);
                return true;
            }
        } else if (e->type() == QEvent::MouseButtonDblClick) {
            fgFeerate_DblClick();
            return true;
        }
    } else if (o == fgFeerate && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            fgFeerate_KeyDown(key);
            return true;
        }
    } else if (o == txtModify) {
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                txtModify_LostFocus();
                return true;
            }
        } else if (e->type() == QEvent::FocusOut) {
            txtModify_LostFocus();
        }
    } else if (o == cboModify && e->type() == QEvent::FocusOut) {
        if (!cboModify->view()->isVisible()) cboModify_Commit();
    }
    return QWidget::eventFilter(o, e);
}

void frmFeeRate::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    txtModify->hide();
    cboModify->hide();
}

void frmFeeRate::Form_Unload() {
    // The pricing charges from rsFeeRate: reopened, it carries the edited rates.
    if (dbSwitch.isOpen())
        rsFeeRate = dbSwitch.query(QStringLiteral("select * from feerate order by zonecode desc"));
    if (core::Console* c = core::TheConsole())
        if (QWidget* w = c->ConsoleWidget()) w->show();
}

void frmFeeRate::closeEvent(QCloseEvent* e) {
    // A pending edit is committed as leaving the editor does.
    if (!txtModify->isHidden()) txtModify_LostFocus();
    if (!cboModify->isHidden()) cboModify_Commit();
    try {
        Form_Unload();
    } catch (const platform::DbError&) {
    }
    e->accept();
    if (g_instance == this) g_instance = nullptr;
    deleteLater();
}

}  // namespace pricing
