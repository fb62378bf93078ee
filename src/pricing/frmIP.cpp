#include "pricing/frmIP.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "platform/Prompts.h"
#include "platform/TypedLimit.h"
#include "platform/Twips.h"
#include "pricing/TariffEdit.h"
#include "printing/PrintGrid.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

namespace pricing {

namespace {

frmIP* g_instance = nullptr;

const QString kFormat = QStringLiteral(
    "地区代号        |地名       |首次时长|首次价格|每次时长|每次价格|附加费1|附加费2|手续费1|手续费2|折价类型|附加费折价|"
    "手续费折价");
constexpr int kRight = 18;
const QString kTypeRoot = QStringLiteral("K-1");
const QString kHeadRoot = QStringLiteral("KHead");
constexpr int kKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;
// The access-fee fields take at most this many typed characters.
constexpr int kLinkTyped = 4;

void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }

QString keyOf(const QTreeWidgetItem* n) { return n ? n->data(0, kKeyRole).toString() : QString(); }

QTreeWidgetItem* addNode(QTreeWidget* tree, QTreeWidgetItem* parent, const QString& key, const QString& text) {
    auto* n = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    n->setText(0, text);
    n->setData(0, kKeyRole, key);
    return n;
}

// The first child of the root when there is one, else the root.
void selectFirstChild(QTreeWidget* tree) {
    QTreeWidgetItem* root = tree->topLevelItem(0);
    if (!root) return;
    tree->setCurrentItem(root->childCount() > 0 ? root->child(0) : root);
}

}  // namespace

const QStringList& frmIP::TabCaptions() {
    static const QStringList c{"国际", "特区", "国内", "省内", "移动", "网间", "信息台", "市话"};
    return c;
}

frmIP& frmIP::instance() {
    if (!g_instance) g_instance = new frmIP;
    return *g_instance;
}
bool frmIP::exists() { return g_instance != nullptr; }
void frmIP::unload() {
    if (g_instance) g_instance->close();
}

void frmIP::ShowFromConsole() {
    frmIP& f = instance();
    f.show();
    f.raise();
    f.activateWindow();
}

bool frmIP::SelectNode(QTreeWidget* tree, const QString& key) {
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if (keyOf(*it) == key) {
            tree->setCurrentItem(*it);
            tree->scrollToItem(*it);
            return true;
        }
    }
    return false;
}

// ------------------------------------------------------------------ building

frmIP::frmIP() : FeeRateGridForm(kRight) {
    setObjectName(QStringLiteral("frmIP"));
    setWindowTitle(QStringLiteral("IP费率及字头设置"));
    setMinimumSize(platform::px(11500), platform::px(8800));
    resize(platform::px(12300), platform::px(9600));

    auto* lay = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    buildTypeFrame();
    buildHeadFrame();
    top->addWidget(fraType, 4185);
    top->addWidget(fraIPHead, 7155);
    lay->addLayout(top);
    buildFeeFrame();
    lay->addWidget(fraFeerate, 1);
    lay->addWidget(cmdFeerate[4], 0, Qt::AlignRight);
    // The rate types and heads keep their height; the grid takes the rest.
    for (QTreeWidget* t : {tvwIP, tvwIPHead}) t->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    makeEditors();

    // Loading: the first rate type, tab 国际, the schemes, the first head.
    RefreshIPFeerate();
    selectFirstChild(tvwIP);
    tvwIP_Click();
    fillDiscountList();
    m_Showing = true;
    if (cboDiscount->count() > 0) cboDiscount->setCurrentIndex(0);
    m_Showing = false;
    RefreshIPHead();
    selectFirstChild(tvwIPHead);
    tvwIPHead_Click();
}

void frmIP::buildTypeFrame() {
    fraType = new QGroupBox(QStringLiteral("IP费率类型设置"), this);
    auto* h = new QHBoxLayout(fraType);
    tvwIP = new QTreeWidget(fraType);
    tvwIP->setObjectName(QStringLiteral("tvwIP"));
    tvwIP->setHeaderHidden(true);
    tvwIP->setEditTriggers(QAbstractItemView::NoEditTriggers);   // names change through the name box
    connect(tvwIP, &QTreeWidget::itemClicked, this, [this] { tvwIP_Click(); });
    h->addWidget(tvwIP, 1);

    Frame1 = new QGroupBox(fraType);
    auto* g = new QGridLayout(Frame1);
    txtIPFeerate.resize(2);
    const char* labels[] = {"IP费率类型", "IP费率说明"};
    for (int i = 0; i < 2; ++i) {
        g->addWidget(new QLabel(QString::fromUtf8(labels[i]), Frame1), i * 2, 0);
        txtIPFeerate[i] = new QLineEdit(Frame1);
        txtIPFeerate[i]->setMaxLength(50);
        txtIPFeerate[i]->installEventFilter(this);
        g->addWidget(txtIPFeerate[i], i * 2 + 1, 0);
    }
    cmdIPType.resize(3);
    const char* caps[] = {"增加", "删除", "保存"};
    for (int i = 0; i < 3; ++i) {
        cmdIPType[i] = new QPushButton(QString::fromUtf8(caps[i]), Frame1);
        connect(cmdIPType[i], &QPushButton::clicked, this, [this, i] { cmdIPType_Click(i); });
    }
    // Stacked 增加, 保存, 删除.
    g->addWidget(cmdIPType[0], 4, 0);
    g->addWidget(cmdIPType[2], 5, 0);
    g->addWidget(cmdIPType[1], 6, 0);
    h->addWidget(Frame1);
}

void frmIP::buildHeadFrame() {
    fraIPHead = new QGroupBox(QStringLiteral("IP字头及接入费设置"), this);
    auto* h = new QHBoxLayout(fraIPHead);
    tvwIPHead = new QTreeWidget(fraIPHead);
    tvwIPHead->setObjectName(QStringLiteral("tvwIPHead"));
    tvwIPHead->setHeaderHidden(true);
    tvwIPHead->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(tvwIPHead, &QTreeWidget::itemClicked, this, [this] { tvwIPHead_Click(); });
    h->addWidget(tvwIPHead, 2);

    fraIPHeadSet = new QGroupBox(fraIPHead);
    auto* g = new QGridLayout(fraIPHeadSet);
    auto label = [&](const char* text, int row, int col) {
        g->addWidget(new QLabel(QString::fromUtf8(text), fraIPHeadSet), row, col);
    };
    label("IP 字 头", 0, 0);
    txtIPHead = new QLineEdit(fraIPHeadSet);
    txtIPHead->setMaxLength(15);
    g->addWidget(txtIPHead, 0, 1);
    label("IP费率类型", 0, 2);
    cboIPType = new QComboBox(fraIPHeadSet);
    g->addWidget(cboIPType, 0, 3);
    label("备    注", 1, 0);
    txtSummary = new QLineEdit(fraIPHeadSet);
    txtSummary->setMaxLength(50);
    g->addWidget(txtSummary, 1, 1);
    label("折价类型", 1, 2);
    cboDiscount = new QComboBox(fraIPHeadSet);
    g->addWidget(cboDiscount, 1, 3);

    const char* linkLabels[] = {"首次时长", "首次价格", "每次时长", "每次价格", "附加费1", "附加费2", "手续费1", "手续费2"};
    const char* linkStart[] = {"180s", "0.20", "60s", "0.10", "0.00", "0%", "0.50", "0%"};
    txtLink.resize(8);
    for (int i = 0; i < 8; ++i) {
        label(linkLabels[i], 2 + i / 2, (i % 2) * 2);
        txtLink[i] = new QLineEdit(QString::fromUtf8(linkStart[i]), fraIPHeadSet);
        txtLink[i]->installEventFilter(this);
        // An access-fee field takes at most four typed characters, however they come.
        platform::LimitTyped(txtLink[i], kLinkTyped);
        g->addWidget(txtLink[i], 2 + i / 2, (i % 2) * 2 + 1);
        connect(txtLink[i], &QLineEdit::textChanged, this, [this] { markModified(); });
    }
    chkExtra = new QCheckBox(QStringLiteral("附加费折价"), fraIPHeadSet);
    chkPoundage = new QCheckBox(QStringLiteral("手续费折价"), fraIPHeadSet);
    chkShowIPHeadOnly = new QCheckBox(QStringLiteral("只显示IP字头"), fraIPHeadSet);
    auto* checks = new QHBoxLayout;
    for (QCheckBox* c : {chkExtra, chkPoundage, chkShowIPHeadOnly}) checks->addWidget(c);
    g->addLayout(checks, 6, 0, 1, 4);
    auto* buttons = new QHBoxLayout;
    cmdIPHead.resize(3);
    const char* caps[] = {"增加", "保存", "删除"};
    for (int i = 0; i < 3; ++i) {
        cmdIPHead[i] = new QPushButton(QString::fromUtf8(caps[i]), fraIPHeadSet);
        connect(cmdIPHead[i], &QPushButton::clicked, this, [this, i] { cmdIPHead_Click(i); });
        buttons->addWidget(cmdIPHead[i]);
    }
    g->addLayout(buttons, 7, 0, 1, 4);
    h->addWidget(fraIPHeadSet, 5);

    // Every edit of the shown head marks it, to be saved when it is left.
    txtIPHead->installEventFilter(this);
    txtSummary->installEventFilter(this);
    connect(txtIPHead, &QLineEdit::textChanged, this, [this] { markModified(); });
    connect(txtSummary, &QLineEdit::textChanged, this, [this] { markModified(); });
    connect(cboIPType, &QComboBox::currentIndexChanged, this, [this] { markModified(); });
    connect(cboDiscount, &QComboBox::currentIndexChanged, this, [this] { markModified(); });
    for (QCheckBox* c : {chkExtra, chkPoundage, chkShowIPHeadOnly})
        connect(c, &QCheckBox::toggled, this, [this] { markModified(); });
}

void frmIP::buildFeeFrame() {
    fraFeerate = new QGroupBox(QStringLiteral("IP费率设置"), this);
    auto* v = new QVBoxLayout(fraFeerate);
    SSTab1 = new QTabBar(fraFeerate);
    for (const QString& c : TabCaptions()) SSTab1->addTab(c);
    v->addWidget(SSTab1);
    makeGrid(fraFeerate, kFormat);
    v->addWidget(fgFeerate, 1);

    auto* bottom = new QHBoxLayout;
    FraCmd = new QWidget(fraFeerate);
    auto* cmdRow = new QHBoxLayout(FraCmd);
    cmdRow->setContentsMargins(0, 0, 0, 0);
    cmdFeerate.resize(5);
    const char* caps[] = {"增加", "删除", "查找", "打印", "关闭"};
    for (int i = 0; i < 5; ++i) {
        // 关闭 stays usable while the frame is disabled: it belongs to the window.
        cmdFeerate[i] = new QPushButton(QString::fromUtf8(caps[i]), i == 4 ? static_cast<QWidget*>(this) : FraCmd);
        connect(cmdFeerate[i], &QPushButton::clicked, this, [this, i] { cmdFeerate_Click(i); });
        if (i < 4) cmdRow->addWidget(cmdFeerate[i]);
    }
    bottom->addWidget(FraCmd);
    bottom->addStretch();
    v->addLayout(bottom);

    connect(SSTab1, &QTabBar::currentChanged, this, [this](int) {
        if (leaveTab()) SSTab1_Click();
    });
}

void frmIP::fillDiscountList() {
    m_Showing = true;
    const QVariant keep = cboDiscount->currentData();
    cboDiscount->clear();
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select discountid,discountname from discount order by discountid"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) cboDiscount->addItem(rs.str("discountname"), rs.lng("discountid"));
    if (keep.isValid()) cboDiscount->setCurrentIndex(cboDiscount->findData(keep));
    m_Showing = false;
}

// ------------------------------------------------------------------ rate types

void frmIP::RefreshIPFeerate() {
    m_Showing = true;
    // The head shown keeps its rate type chosen across the rebuild.
    const QVariant keep = cboIPType->currentData();
    tvwIP->clear();
    cboIPType->clear();
    QTreeWidgetItem* root = addNode(tvwIP, nullptr, kTypeRoot, QStringLiteral("IP费率类型"));
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select ipfeerateid,ipfeeratename,summary from ipfeerate order by ipfeerateid"));
    QTreeWidgetItem* last = root;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        last = addNode(tvwIP, root, QStringLiteral("K%1").arg(rs.lng("ipfeerateid")), rs.str("ipfeeratename"));
        last->setData(0, kTagRole, rs.str("summary"));
        cboIPType->addItem(rs.str("ipfeeratename"), rs.lng("ipfeerateid"));
    }
    root->setExpanded(true);
    tvwIP->scrollToItem(last);
    if (keep.isValid()) cboIPType->setCurrentIndex(cboIPType->findData(keep));
    m_Showing = false;
}

void frmIP::RefreshIPHead() {
    tvwIPHead->clear();
    QTreeWidgetItem* root = addNode(tvwIPHead, nullptr, kHeadRoot, QStringLiteral("IP字头"));
    // Table order: the order in which the pricing tries the heads.
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select iphead from iphead order by rowid"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        addNode(tvwIPHead, root, QStringLiteral("K") + rs.str("iphead"), rs.str("iphead"));
    root->setExpanded(true);
}

qint32 frmIP::GetIPID() {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select ipfeerateid from ipfeerate order by ipfeerateid"));
    qint32 i = 1;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext(), ++i)
        if (rs.lng("ipfeerateid") != i) return i;
    return i;
}

void frmIP::tvwIP_Click() {
    QTreeWidgetItem* n = tvwIP->currentItem();
    if (!n) {
        // No node chosen: the root.
        n = tvwIP->topLevelItem(0);
        if (!n) return;
        tvwIP->setCurrentItem(n);
    }
    // A cell edit in progress belongs to the type shown so far.
    commitPending();
    const QString key = keyOf(n);
    if (key == kTypeRoot) {
        fraFeerate->setEnabled(false);
        fraFeerate->setTitle(QStringLiteral("请选择IP费率类型"));
    } else {
        fraFeerate->setEnabled(true);
        fraFeerate->setTitle(n->text(0) + QStringLiteral(" IP费率设置"));
    }
    Frame1->setTitle(fraFeerate->title());
    m_IPFeeRateID = key.mid(1).toInt();
    txtIPFeerate[0]->setText(n->text(0));
    txtIPFeerate[1]->setText(n->data(0, kTagRole).toString());
    loadFindList();
    SSTab1_Click();
}

void frmIP::cmdIPType_Click(int index) {
    if (index < 0 || index > 2) return;
    const QString name = txtIPFeerate[0]->text();
    const QString desc = txtIPFeerate[1]->text();
    if (name.isEmpty()) {
        say(QStringLiteral("请输入IP费率类型"));
        txtIPFeerate[0]->setFocus();
        return;
    }
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return;
    try {
        if (index == 0) {   // 增加
            if (!dbSwitch.scalar(QStringLiteral("select ipfeerateid from ipfeerate where ipfeeratename=?"), {name}).isNull()) {
                say(name + QStringLiteral("已经存在"));
                txtIPFeerate[0]->setFocus();
                return;
            }
            const qint32 id = GetIPID();
            {
                // The type and its default row in every category, or nothing.
                platform::Transaction tx(dbSwitch);
                dbSwitch.execute(QStringLiteral("insert into ipfeerate(ipfeerateid,ipfeeratename,summary) values(?,?,?)"),
                                 {id, name, desc});
                for (int i = 0; i < TabCaptions().size(); ++i)
                    dbSwitch.execute(
                        QStringLiteral("insert into feerate(feerateid,feeratetype,zonecode,summary) values(?,?,?,?)"),
                        {id, i, QStringLiteral("IP") + TabCaptions()[i], QStringLiteral("默认IP") + TabCaptions()[i]});
                tx.commit();
            }
            RefreshIPFeerate();
            // The new type is shown at once: the grid never shows one type while
            // its commands act on another.
            SelectNode(tvwIP, QStringLiteral("K%1").arg(id));
            tvwIP_Click();
        } else if (index == 2) {   // 保存
            if (m_IPFeeRateID <= 0) return;
            // "删除" acts on the typed name: two types never share one.
            if (!dbSwitch
                     .scalar(QStringLiteral("select ipfeerateid from ipfeerate where ipfeeratename=? and ipfeerateid<>?"),
                             {name, m_IPFeeRateID})
                     .isNull()) {
                say(name + QStringLiteral("已经存在"));
                txtIPFeerate[0]->setFocus();
                return;
            }
            dbSwitch.execute(QStringLiteral("update ipfeerate set ipfeeratename=?,summary=? where ipfeerateid=?"),
                             {name, desc, m_IPFeeRateID});
            RefreshIPFeerate();
            SelectNode(tvwIP, QStringLiteral("K%1").arg(m_IPFeeRateID));
            tvwIP_Click();
        } else {   // 删除 the type named in the name box
            const QVariant t = dbSwitch.scalar(QStringLiteral("select ipfeerateid from ipfeerate where ipfeeratename=?"), {name});
            if (t.isNull()) {
                say(name + QStringLiteral(" 不存在"));
                return;
            }
            const qint32 id = t.toInt();
            const bool used =
                !dbSwitch.scalar(QStringLiteral("select iphead from iphead where ipfeerate=? limit 1"), {id}).isNull();
            if (used && platform::MsgBox(name + QStringLiteral(" IP费率已经被使用,要删除此费率及相关IP字头吗?"),
                                         platform::mbYesNo, AppName) != platform::rYes)
                return;
            // The head tree is rebuilt below: a pending head edit is saved first.
            if (m_IPHeadModified && saveHead(false) == SaveResult::BadInput) return;
            {
                platform::Transaction tx(dbSwitch);
                dbSwitch.execute(QStringLiteral("delete from iphead where ipfeerate=?"), {id});
                dbSwitch.execute(QStringLiteral("delete from feerate where feerateid=?"), {id});
                dbSwitch.execute(QStringLiteral("delete from ipfeerate where ipfeerateid=?"), {id});
                tx.commit();
            }
            RefreshIPFeerate();
            const QString shown = m_IPHead;
            RefreshIPHead();
            if (shown.isEmpty() || !SelectNode(tvwIPHead, QStringLiteral("K") + shown))
                tvwIPHead->setCurrentItem(tvwIPHead->topLevelItem(0));
            tvwIPHead->setFocus();
            tvwIPHead_Click();
            selectFirstChild(tvwIP);
            tvwIP_Click();
            txtIPFeerate[0]->clear();
            txtIPFeerate[1]->clear();
            txtIPFeerate[0]->setFocus();
        }
    } catch (const platform::DbError& e) {
        say(QStringLiteral("保存失败: ") + platform::OperatorText(e));
        RefreshIPFeerate();
        if (!SelectNode(tvwIP, QStringLiteral("K%1").arg(m_IPFeeRateID))) selectFirstChild(tvwIP);
        tvwIP_Click();
    }
}

// ------------------------------------------------------------------ the fee-rate grid

bool frmIP::gridEditable() const { return fraFeerate->isEnabled(); }

void frmIP::SSTab1_Click() {
    // A cell edit in progress belongs to the tab shown so far.
    commitPending();
    txtModify->hide();
    cboModify->hide();
    m_Tab = SSTab1->currentIndex();
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select feerate.*,discountname from feerate,discount where feerate.discountid=discount.discountid "
                       "and feerateid=? and feeratetype=? order by zonecode desc"),
        {m_IPFeeRateID, m_Tab});
    showRows(rs);
}

void frmIP::loadFindList() {
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select zonecode,summary,feeratetype from feerate where feerateid=?"), {m_IPFeeRateID});
    readFindRows(rs);
    // By category, then numeric zone order (a zone code that is not a number counts as 0).
    std::stable_sort(m_FindRows.begin(), m_FindRows.end(), [](const FindRow& a, const FindRow& b) {
        if (a.type != b.type) return a.type < b.type;
        return LeadingNumber(a.zone) < LeadingNumber(b.zone);
    });
}

void frmIP::reloadAfterFailure(bool fromText) {
    m_Committing = false;
    SSTab1_Click();
    if (fromText) loadFindList();
}

void frmIP::deleteRate(const QString& zone) {
    dbSwitch.execute(QStringLiteral("delete from feerate where feerateid=? and zonecode=?"), {m_IPFeeRateID, zone});
}

void frmIP::setFieldValue(QWidget* editor, const QString& text) {
    const int col = GridEditCol;
    // Prices are stored as shown, rounded to 0.01.
    const GridValue v = editedValue(editor, text);
    // A zone code stands once within a rate type: the update needs no category.
    const QString sql = QStringLiteral("update feerate set ") + FeeRateColumn(col) +
                        QStringLiteral("=? where feerateid=? and zonecode=?");
    const int last = qMin<int>(GridSelLast, fgFeerate->Rows() - 1);
    {
        platform::Transaction tx(dbSwitch);
        for (int r = GridSelFirst; r <= last; ++r) {
            const QString zone = fgFeerate->TextMatrix(r, 0);
            if (!zone.isEmpty()) dbSwitch.execute(sql, {v.value, m_IPFeeRateID, zone});
        }
        tx.commit();
    }
    for (int r = GridSelFirst; r <= last; ++r) fgFeerate->setTextMatrix(r, col, v.display);
    editor->hide();
    if (col == 1) loadFindList();
}

QVariant frmIP::zoneOwner(const QString& zone) const {
    // A zone code stands once within a rate type, whatever its category.
    return dbSwitch.scalar(QStringLiteral("select feeratetype from feerate where feerateid=? and zonecode=?"),
                           {m_IPFeeRateID, zone});
}

QString frmIP::categoryName(int type) const { return TabCaptions().value(type, QString::number(type)); }

// The place name of an ordinary rate of the same zone, null when there is none.
static QVariant ordinaryPlaceName(const QString& zone) {
    return dbSwitch.scalar(
        QStringLiteral("select summary from feerate where feerateid=0 and zonecode=? order by feeratetype limit 1"), {zone});
}

void frmIP::renameZone(int r, const QString& zone) {
    const QString old = fgFeerate->TextMatrix(r, 0);
    const QVariant name = ordinaryPlaceName(zone);
    {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("update feerate set zonecode=? where zonecode=? and feerateid=?"),
                         {zone, old, m_IPFeeRateID});
        // The zone takes the place name the ordinary rates give it.
        if (!name.isNull())
            dbSwitch.execute(QStringLiteral("update feerate set summary=? where feerateid=? and zonecode=?"),
                             {name, m_IPFeeRateID, zone});
        tx.commit();
    }
    showStoredRow(r, zone);
}

void frmIP::storeZone(int r, const QString& zone) {
    if (fgFeerate->TextMatrix(r, 0).isEmpty()) {
        // The zone takes the place name the ordinary rates give it.
        const QVariant name = ordinaryPlaceName(zone);
        insertRate(r, zone, name.isNull() ? fgFeerate->TextMatrix(r, 1) : name.toString(), m_Tab, m_IPFeeRateID);
        showStoredRow(r, zone);
    } else {
        renameZone(r, zone);
    }
    txtModify->hide();
    loadFindList();
}

void frmIP::showStoredRow(int r, const QString& zone) {
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("select feerate.*,discountname from feerate,discount where feerate.discountid=discount.discountid "
                       "and feerateid=? and zonecode=?"),
        {m_IPFeeRateID, zone});
    FeeRateGridForm::showStoredRow(r, rs, zone);
}

// ------------------------------------------------------------------ grid commands

void frmIP::cmdFeerate_Click(int index) {
    if (index == 4) {
        close();
        return;
    }
    if (index < 0 || index > 4 || m_IPFeeRateID <= 0) return;
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return;
    switch (index) {
    case 0:   // 增加: a copy of the last row, waiting for its zone code
        if (EditorVisible()) return;
        addRow();
        break;
    case 1:   // 删除 the selected rows, the default row kept
        if (deleteSelectedRows()) loadFindList();
        break;
    case 2:   // 查找 a zone code or place name of this rate type
        findNext();
        break;
    case 3: {   // 打印
        const QTreeWidgetItem* n = tvwIP->currentItem();
        const QString type = n && keyOf(n) == QStringLiteral("K%1").arg(m_IPFeeRateID) ? n->text(0) : txtIPFeerate[0]->text();
        m_FindText = type + QStringLiteral("费率/") + TabCaptions().value(m_Tab) + QStringLiteral("参数");
        printing::PrintGrid(*fgFeerate, m_FindText, true);
        m_FindText.clear();
        break;
    }
    default:
        break;
    }
}

// ------------------------------------------------------------------ IP heads

void frmIP::markModified() {
    if (!m_Showing) m_IPHeadModified = true;
}

void frmIP::tvwIPHead_Click() {
    QTreeWidgetItem* n = tvwIPHead->currentItem();
    if (!n) {
        n = tvwIPHead->topLevelItem(0);
        if (!n) return;
        tvwIPHead->setCurrentItem(n);
    }
    if (m_IPHeadModified) {
        // Leaving a head saves its edits first.
        const QString chosen = keyOf(n);
        const QString shownKey = m_IPHead.isEmpty() ? kHeadRoot : QStringLiteral("K") + m_IPHead;
        if (saveHead(false) == SaveResult::BadInput) {
            // The head stays shown with its edits, for the operator to mend.
            SelectNode(tvwIPHead, shownKey);
            return;
        }
        // A save may rename the node of the head shown; the chosen one is selected again.
        if (chosen == shownKey || !SelectNode(tvwIPHead, chosen))
            SelectNode(tvwIPHead, m_IPHead.isEmpty() ? kHeadRoot : QStringLiteral("K") + txtIPHead->text());
        n = tvwIPHead->currentItem();
        if (!n) return;
    }
    m_Showing = true;
    const QString key = keyOf(n);
    if (key == kHeadRoot) {
        m_IPHead.clear();
        txtIPHead->clear();
        fraIPHeadSet->setTitle(QStringLiteral("请选择IP字头"));
    } else {
        m_IPHead = key.mid(1);
        platform::Recordset rs = dbSwitch.query(QStringLiteral("select * from iphead where iphead=?"), {m_IPHead});
        if (!rs.eof()) {
            txtIPHead->setText(rs.str("iphead"));
            txtSummary->setText(rs.str("summary"));
            const int t = cboIPType->findData(rs.lng("ipfeerate"));
            if (t >= 0) cboIPType->setCurrentIndex(t);
            // The access fee is the table's 4th to 11th columns, in this order.
            for (int i = 0; i < 8; ++i) {
                const QString col = rs.fieldName(i + 3);
                QString shown;
                if (i == 0 || i == 2) shown = QString::number(rs.lng(col)) + QLatin1Char('s');
                else if (i == 5 || i == 7) shown = QString::number(rs.lng(col)) + QLatin1Char('%');
                else shown = rs.cur(col).toString2();
                txtLink[i]->setText(shown);
            }
            chkExtra->setChecked(rs.boolean("extradiscount"));
            chkPoundage->setChecked(rs.boolean("poundagediscount"));
            chkShowIPHeadOnly->setChecked(rs.boolean("showipheadonly"));
            const int d = cboDiscount->findData(rs.lng("discountid"));
            if (d >= 0) cboDiscount->setCurrentIndex(d);
        }
        fraIPHeadSet->setTitle(n->text(0) + QStringLiteral(" IP字头设置"));
    }
    m_Showing = false;
    m_IPHeadModified = false;
}

void frmIP::cmdIPHead_Click(int index) {
    switch (index) {
    case 0:
        addHead();
        break;
    case 1:
        saveHead(true);
        break;
    case 2: {
        // A refused right keeps the pending edits marked.
        if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return;
        if (m_IPHead.isEmpty()) return;
        if (platform::MsgBox(QStringLiteral("真的要删除IP字头 ") + m_IPHead, platform::mbYesNo, AppName) != platform::rYes)
            return;
        try {
            dbSwitch.execute(QStringLiteral("delete from iphead where iphead=?"), {m_IPHead});
        } catch (const platform::DbError& e) {
            say(QStringLiteral("删除失败: ") + platform::OperatorText(e));
            return;
        }
        QTreeWidgetItem* root = tvwIPHead->topLevelItem(0);
        for (int i = 0; root && i < root->childCount(); ++i) {
            if (keyOf(root->child(i)) == QStringLiteral("K") + m_IPHead) {
                delete root->takeChild(i);
                break;
            }
        }
        m_IPHeadModified = false;
        selectFirstChild(tvwIPHead);
        tvwIPHead_Click();
        txtIPHead->setFocus();
        break;
    }
    default:
        break;
    }
}

void frmIP::txtLink_LostFocus(int index) {
    if (index < 0 || index >= txtLink.size()) return;
    const QString shown = IPLinkText(index, txtLink[index]->text());
    if (shown != txtLink[index]->text()) txtLink[index]->setText(shown);
}

// A head needs its text and a rate type before it is written.
bool frmIP::headFieldsGiven() {
    if (txtIPHead->text().isEmpty()) {
        say(QStringLiteral("请输入IP字头"));
        txtIPHead->setFocus();
        return false;
    }
    if (cboIPType->currentIndex() < 0) {
        say(QStringLiteral("请选择IP费率类型"));
        cboIPType->setFocus();
        return false;
    }
    return true;
}

frmIP::SaveResult frmIP::headTaken(const QString& head) {
    say(head + QStringLiteral(" IP字头已存在"));
    txtIPHead->setFocus();
    return SaveResult::BadInput;
}

frmIP::SaveResult frmIP::addHead() {
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return SaveResult::Refused;
    const QString head = txtIPHead->text();
    if (!headFieldsGiven()) return SaveResult::BadInput;
    if (!dbSwitch.scalar(QStringLiteral("select iphead from iphead where iphead=?"), {head}).isNull()) {
        return headTaken(head);
    }
    try {
        writeHead(true, QString());
    } catch (const platform::DbError& e) {
        say(QStringLiteral("保存失败: ") + platform::OperatorText(e));
        return SaveResult::BadInput;
    }
    addNode(tvwIPHead, tvwIPHead->topLevelItem(0), QStringLiteral("K") + head, head);
    // The fields went to the new head; the head shown before keeps what it stored.
    m_IPHeadModified = false;
    SelectNode(tvwIPHead, QStringLiteral("K") + head);
    tvwIPHead_Click();
    return SaveResult::Saved;
}

frmIP::SaveResult frmIP::saveHead(bool showAfter) {
    if (!showAfter && m_IPHead.isEmpty()) {
        // Nothing is shown to be saved; the fields stay as they are.
        m_IPHeadModified = false;
        return SaveResult::Saved;
    }
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return SaveResult::Refused;
    const QString head = txtIPHead->text();
    if (!headFieldsGiven()) return SaveResult::BadInput;
    const bool exists = !dbSwitch.scalar(QStringLiteral("select iphead from iphead where iphead=?"), {head}).isNull();
    if (!exists && m_IPHead.isEmpty()) {
        // The root has no head to give the new text to ("增加" adds one).
        m_IPHeadModified = false;
        return SaveResult::Saved;
    }
    if (exists && head != m_IPHead) {
        return headTaken(head);
    }
    const QString old = m_IPHead;
    try {
        writeHead(false, old);
    } catch (const platform::DbError& e) {
        say(QStringLiteral("保存失败: ") + platform::OperatorText(e));
        return SaveResult::BadInput;
    }
    m_IPHeadModified = false;
    if (head != old) {
        // Renamed in place: the node follows.
        for (QTreeWidgetItemIterator it(tvwIPHead); *it; ++it) {
            if (keyOf(*it) != QStringLiteral("K") + old) continue;
            (*it)->setData(0, kKeyRole, QStringLiteral("K") + head);
            (*it)->setText(0, head);
            break;
        }
        m_IPHead = head;
    }
    if (showAfter) {
        SelectNode(tvwIPHead, QStringLiteral("K") + head);
        tvwIPHead_Click();
    }
    return SaveResult::Saved;
}

void frmIP::writeHead(bool isNew, const QString& oldHead) {
    // The fields as their rules read them, whether or not they were left.
    platform::Params p{txtIPHead->text(), txtSummary->text(), cboIPType->currentData().toLongLong()};
    for (int i = 0; i < 8; ++i) p << IPLinkValue(i, txtLink[i]->text());
    const QVariant did = cboDiscount->currentData();
    p << (chkExtra->isChecked() ? 1 : 0) << (chkPoundage->isChecked() ? 1 : 0)
      << (did.isValid() ? did.toLongLong() : 1LL) << (chkShowIPHeadOnly->isChecked() ? 1 : 0);
    if (isNew) {
        dbSwitch.execute(
            QStringLiteral("insert into iphead(iphead,summary,ipfeerate,firsttime,firstprice,pertime,perprice,extrafee,"
                           "extrarate,poundage,poundagerate,extradiscount,poundagediscount,discountid,showipheadonly) "
                           "values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
            p);
    } else {
        p << oldHead;
        dbSwitch.execute(QStringLiteral("update iphead set iphead=?,summary=?,ipfeerate=?,firsttime=?,firstprice=?,"
                                        "pertime=?,perprice=?,extrafee=?,extrarate=?,poundage=?,poundagerate=?,"
                                        "extradiscount=?,poundagediscount=?,discountid=?,showipheadonly=? where iphead=?"),
                         p);
    }
}

// ------------------------------------------------------------------ events

bool frmIP::eventFilter(QObject* o, QEvent* e) {
    // The grid and its editors are the shared editing's; the head fields are this window's.
    auto* edit = qobject_cast<QLineEdit*>(o);
    if (edit && edit != txtModify) {
        const int link = txtLink.indexOf(edit);
        if (e->type() == QEvent::FocusIn) {
            ModGeneral::SelectAllText(edit);
        } else if (link >= 0 && e->type() == QEvent::FocusOut) {
            txtLink_LostFocus(link);
        }
    }
    return FeeRateGridForm::eventFilter(o, e);
}

void frmIP::Form_Unload() {
    // The pricing charges from rsFeeRate and rsIPHead: reopened, they carry the
    // edited IP rates and heads.
    if (dbSwitch.isOpen()) {
        rsFeeRate = dbSwitch.query(QStringLiteral("select * from feerate order by zonecode desc"));
        rsIPHead = dbSwitch.openTable(QStringLiteral("iphead"));
    }
    if (core::Console* c = core::TheConsole())
        if (QWidget* w = c->ConsoleWidget()) w->show();
}

void frmIP::closeEvent(QCloseEvent* e) {
    // A pending cell edit is committed as leaving the editor does.
    commitPending();
    // A pending head edit is saved; input it cannot save keeps the window open.
    if (m_IPHeadModified && saveHead(false) == SaveResult::BadInput) {
        e->ignore();
        return;
    }
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
