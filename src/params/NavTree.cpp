#include "params/NavTree.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "params/BoardPanel.h"
#include "platform/FlexGrid.h"

#include <QAction>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QToolBar>
#include <QTreeWidget>

namespace ModSwitch {

namespace {

constexpr int kKeyRole = Qt::UserRole;

struct NodeDef { const char* key; const char* caption; const char* parent; };
const NodeDef kNodes[] = {
    {"Monitor", "系统监控", "Switch"},
    {"MonCard", "板卡通道状态", "Monitor"},
    {"PortMonitor", "分机端口状态", "Monitor"},
    {"Bill", "即时话单记录", "Monitor"},
    {"Awake", "叫醒服务记录", "Monitor"},
    {"History", "操作历史记录", "Monitor"},
    {"ExtDepositHistory", "分机押金记录", "Monitor"},
    {"Head", "字头设置", "Switch"},
    {"LanHead", "本机字头", "Head"},
    {"CityHead", "市话字头", "Head"},
    {"Shrink", "缩位字头", "Head"},
    {"ExtraHead", "附加字头", "Head"},
    {"AddHead", "加发字头", "Head"},
    {"Router1", "路由1", "AddHead"},
    {"Router2", "路由2", "AddHead"},
    {"Parameter", "参数设置", "Switch"},
    {"Extension", "分机参数", "Parameter"},
    {"Relay", "中继参数", "Parameter"},
    {"Account", "帐号参数", "Parameter"},
    {"User", "用户管理", "Parameter"},
    {"PabxFeeRate", "集团电话费率", "Parameter"},
    {"PabxTimes", "集团电话时段", "Parameter"},
    {"ExtDeposit", "分机押金参数", "Parameter"},
    {"Calculate", "计费管理", "Switch"},
    {"Balance", "用户结算", "Calculate"},
    {"Query", "话单查询", "Calculate"},
    {"Discount", "折价设置", "Calculate"},
    {"FeeRate", "普通费率", "Calculate"},
    {"IP", "IP费率及字头", "Calculate"},
};

using KeySet = QSet<QString>;

const KeySet& transferKeys() {
    static const KeySet k = {"LanHead", "CityHead", "PabxFeeRate", "Account", "PabxTimes", "Router1", "Router2",
                             "Extension", "Relay", "ExtraHead", "MonCard", "Shrink", "ExtDeposit"};
    return k;
}
const KeySet& backupKeys() {
    static const KeySet k = {"LanHead", "CityHead", "ExtraHead", "PabxTimes", "PabxFeeRate", "FeeRate", "Extension",
                             "Relay", "Router1", "Router2", "User", "Account", "Shrink"};
    return k;
}
const KeySet& addKeys() {
    static const KeySet k = {"LanHead", "CityHead", "PabxFeeRate", "User", "FeeRate", "Discount"};
    return k;
}

void drawGlyph(QPainter& p, int index) {
    QPainterPath path;
    switch (index) {
    case 1:   // download: arrow down
        path.moveTo(12, 4); path.lineTo(12, 18); path.moveTo(6, 12); path.lineTo(12, 18); path.lineTo(18, 12);
        break;
    case 2:   // upload: arrow up
        path.moveTo(12, 20); path.lineTo(12, 6); path.moveTo(6, 12); path.lineTo(12, 6); path.lineTo(18, 12);
        break;
    case 12:  // verify: tick
        path.moveTo(5, 12); path.lineTo(10, 17); path.lineTo(19, 6);
        break;
    case 3:   // backup: box with arrow in
        path.addRect(5, 11, 14, 8); path.moveTo(12, 3); path.lineTo(12, 13); path.moveTo(9, 10); path.lineTo(12, 13); path.lineTo(15, 10);
        break;
    case 4:   // restore: box with arrow out
        path.addRect(5, 11, 14, 8); path.moveTo(12, 15); path.lineTo(12, 3); path.moveTo(9, 6); path.lineTo(12, 3); path.lineTo(15, 6);
        break;
    case 5:   // save: disk
        path.addRect(5, 5, 14, 14); path.addRect(8, 5, 8, 5); path.addRect(8, 13, 8, 6);
        break;
    case 6:   // add: plus
        path.moveTo(12, 5); path.lineTo(12, 19); path.moveTo(5, 12); path.lineTo(19, 12);
        break;
    case 7:   // delete: cross
        path.moveTo(6, 6); path.lineTo(18, 18); path.moveTo(18, 6); path.lineTo(6, 18);
        break;
    case 8:   // find: magnifier
        path.addEllipse(5, 5, 10, 10); path.moveTo(14, 14); path.lineTo(19, 19);
        break;
    case 9:   // print: printer
        path.addRect(4, 10, 16, 7); path.addRect(7, 4, 10, 6); path.addRect(7, 15, 10, 5);
        break;
    case 10:  // help: question mark
        path.moveTo(8, 9); path.cubicTo(8, 3, 17, 3, 16, 9); path.cubicTo(15, 12, 12, 11, 12, 15); path.addEllipse(11, 18, 2, 2);
        break;
    case 11:  // exit: door and arrow
        path.addRect(5, 4, 9, 16); path.moveTo(11, 12); path.lineTo(20, 12); path.moveTo(17, 9); path.lineTo(20, 12); path.lineTo(17, 15);
        break;
    default:
        break;
    }
    p.drawPath(path);
}

}  // namespace

QIcon ToolImage(int index) {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (index >= 13 && index <= 18) {
        // The legend: a board in the colour of its kind.
        static const int kinds[] = {1, 10, 8, 0, 11, 15};
        quint32 color = 0;
        CardKind(kinds[index - 13], &color, nullptr);
        p.setPen(Qt::black);
        p.setBrush(platform::vbColor(color));
        p.drawRect(7, 2, 10, 20);
    } else {
        p.setPen(QPen(QColor(30, 60, 120), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        drawGlyph(p, index);
    }
    p.end();
    return QIcon(pm);
}

QString NodeKey(const QTreeWidgetItem* node) { return node ? node->data(0, kKeyRole).toString() : QString(); }

QTreeWidgetItem* FindNode(const QString& key) {
    core::Console* c = core::TheConsole();
    QTreeWidget* tv = c ? c->tvSwitch : nullptr;
    if (!tv) return nullptr;
    for (QTreeWidgetItemIterator it(tv); *it; ++it)
        if (NodeKey(*it) == key) return *it;
    return nullptr;
}

void BuildNavTree() {
    core::Console* c = core::TheConsole();
    QTreeWidget* tv = c ? c->tvSwitch : nullptr;
    if (!tv) return;
    tv->clear();
    auto* root = new QTreeWidgetItem(tv, QStringList{QStringLiteral("系统导航")});
    root->setData(0, kKeyRole, QStringLiteral("Switch"));
    for (const NodeDef& n : kNodes) {
        const QString key = QLatin1String(n.key);
        if ((key == QLatin1String("ExtDepositHistory") || key == QLatin1String("ExtDeposit")) && SwitchModel != 2) continue;
        QTreeWidgetItem* parent = FindNode(QLatin1String(n.parent));
        auto* item = new QTreeWidgetItem(parent, QStringList{QString::fromUtf8(n.caption)});
        item->setData(0, kKeyRole, key);
    }
    // The groups show expanded: the last child of each is made visible.
    for (const char* g : {"Switch", "Monitor", "Head", "AddHead", "Parameter", "Calculate"})
        if (QTreeWidgetItem* n = FindNode(QLatin1String(g))) n->setExpanded(true);
    tv->setCurrentItem(FindNode(QStringLiteral("MonCard")));
}

QAction* AddToolButton(const QString& key, const QString& tip, int image, int style) {
    (void)style;
    core::Console* c = core::TheConsole();
    QToolBar* bar = c ? c->tbrSwitch : nullptr;
    if (!bar) return nullptr;
    QAction* a = bar->addAction(ToolImage(image), tip);
    a->setObjectName(key);
    a->setData(key);
    a->setToolTip(tip);
    bar->addSeparator();
    return a;
}

void SetToolbar() {
    core::Console* c = core::TheConsole();
    if (!c || !c->tvSwitch || !c->tbrSwitch) return;
    const QString key = NodeKey(c->tvSwitch->currentItem());
    c->tbrSwitch->clear();
    c->tbrSwitch->addSeparator();
    const bool transfer = transferKeys().contains(key);
    if (transfer || key == QLatin1String("User")) AddToolButton(QStringLiteral("DownLoad"), QStringLiteral("下载"), 1);
    if (transfer) {
        AddToolButton(QStringLiteral("UpLoad"), QStringLiteral("上传"), 2);
        AddToolButton(QStringLiteral("Verify"), QStringLiteral("校验"), 12);
    }
    if (backupKeys().contains(key)) {
        AddToolButton(QStringLiteral("Backup"), QStringLiteral("备份"), 3);
        AddToolButton(QStringLiteral("Restore"), QStringLiteral("恢复"), 4);
    }
    static const KeySet noSave = {"Bill", "Awake", "ErrBill", "History", "PortMonitor", "ExtDepositHistory"};
    if (!noSave.contains(key)) AddToolButton(QStringLiteral("Save"), QStringLiteral("保存"), 5);
    if (addKeys().contains(key)) AddToolButton(QStringLiteral("Add"), QStringLiteral("增加"), 6);
    static const KeySet deleteOnly = {"ErrBill", "Awake", "History", "ExtDepositHistory"};
    if (addKeys().contains(key) || deleteOnly.contains(key))
        AddToolButton(QStringLiteral("Delete"), QStringLiteral("删除"), 7);
    const bool monitorView = key == QLatin1String("PortMonitor") || key == QLatin1String("MonCard");
    if (!monitorView) {
        AddToolButton(QStringLiteral("Find"), QStringLiteral("查找"), 8);
        AddToolButton(QStringLiteral("Print"), QStringLiteral("打印"), 9);
    }
    AddToolButton(QStringLiteral("Help"), QStringLiteral("帮助"), 10);
    AddToolButton(QStringLiteral("Exit"), QStringLiteral("退出"), 11);
}

}  // namespace ModSwitch
