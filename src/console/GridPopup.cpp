// The popup menus of the console grid: which one a right-click opens, by the
// view, the worker's rights, the shape of the selection, the current column's
// title and the side of the current cell the pointer is on.
#include "console/ConsoleCommands.h"
#include "console/frmPABX.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "params/GridEditors.h"
#include "transfer/ModToolbar.h"
#include "transfer/OperationCommands.h"
#include "transfer/Upload.h"

#include <QSet>

namespace {

QAction* popupItem(frmPABX* owner, QMenu* menu, const char* name, const char* caption, bool visible,
                   std::function<void()> handler) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QLatin1String(name));
    a->setVisible(visible);
    if (handler)
        QObject::connect(a, &QAction::triggered, owner, [owner, handler] { console::RunCommand(*owner, false, handler); });
    else
        a->setEnabled(false);   // listed for its place, no command of its own
    return a;
}

QAction* item(QMenu* menu, const char* name) { return menu->findChild<QAction*>(QLatin1String(name)); }

}  // namespace

void frmPABX::buildPopups() {
    popModify = new QMenu(QStringLiteral("修改"), this);
    popModify->setObjectName(QStringLiteral("popModify"));
    popupItem(this, popModify, "mnuModifyTable", "修改", true, [] { ModSwitch::mnuModifyTable_Click(); });

    PopMenuTable = new QMenu(QStringLiteral("表弹出菜单"), this);
    PopMenuTable->setObjectName(QStringLiteral("PopMenuTable"));
    popupItem(this, PopMenuTable, "mnuFind", "查找", false, nullptr);
    popupItem(this, PopMenuTable, "mnuVerify", "校验", true, [this] { ModToolbar::mnuVerify_Click(m_TableRight); });
    popupItem(this, PopMenuTable, "mnuUpSend", "上传", true, [this] { ModToolbar::mnuUpSend_Click(m_TableRight); });
    popupItem(this, PopMenuTable, "mnuDownload", "下载", true, [this] { ModToolbar::mnuDownload_Click(m_TableRight); });
    popupItem(this, PopMenuTable, "mnuCancelMonitor", "取消监控", false, OperationCommands::mnuCancelMonitor_Click);
    popupItem(this, PopMenuTable, "mnuViewUser", "选择分机帐号", false, [this] { mnuViewUser_Click(); });
    popupItem(this, PopMenuTable, "mnuBalanceUser", "结算", false, [this] { mnuBalanceUser_Click(); });
    popupItem(this, PopMenuTable, "mnuInitUser", "初始化", false, [this] { mnuInitUser_Click(); });
}

void frmPABX::fgDisp_MouseDown(int Button, int x, int mouseCol) {
    static const QSet<QString> records = {"Awake", "Bill", "History", "ExtDepositHistory"};
    if (Button != 2 || records.contains(CurTable)) return;
    // The selection as it stands now (the right button does not move it).
    int colFirst = 0, colLast = 0;
    ModGeneral::GetGridSel(*fgDisp, false, colFirst, colLast);
    if (GridSelFirst == 0) return;
    const int rightNo = CurTable == QLatin1String("Extension") && mouseCol < 3 ? 5 : m_TableRight;
    if (ModGeneral::CheckRight(rightNo, 0)) return;
    const int col = fgDisp->Col();
    GridMouseCol = col;
    if (CurTable == QLatin1String("PabxFeeRate") && fgDisp->TextMatrix(1, 1).isEmpty()) return;
    const bool whole = fgDisp->Cols() == colLast - colFirst + 2;
    if (!whole && colFirst != colLast) return;

    const QString title = fgDisp->TextArray(col).trimmed();
    const bool right = x > fgDisp->CellLeft();
    const bool oneRow = GridSelFirst == GridSelLast;
    static const QSet<QString> headTitles = {"费率字头", "本机字头", "市话字头", "弹性号码", "本机类别", "市话类别"};
    static const QSet<QString> tableViews = {"Router1", "Router2", "ExtraHead", "Extension", "Relay", "ExtDeposit"};
    static const QSet<QString> readOnly = {"押金余额", "押金等级", "上次结算日期"};
    QMenu* popup = nullptr;
    if (headTitles.contains(title)) {
        if (oneRow) popup = popModify;
    } else if (title == QStringLiteral("附加字头")) {
        popup = right && oneRow ? popModify : PopMenuTable;
    } else if (title == QStringLiteral("加发字头") || title == QStringLiteral("缩位字头")) {
        popup = right ? popModify : PopMenuTable;
    } else if (title == QStringLiteral("帐号")) {
        if (!right) popup = PopMenuTable;
        else if (oneRow) popup = popModify;
    } else if (title == QStringLiteral("用户名称")) {
        if (!right) {
            popupUserMenu(oneRow);
            return;
        }
        // The default user (id 0) keeps its name, wherever its row stands.
        if (oneRow && fgDisp->TextMatrix(GridSelFirst, 0).trimmed() != QLatin1String("0")) popup = popModify;
    } else if (whole) {
        if (tableViews.contains(CurTable)) popup = PopMenuTable;
    } else if (CurTable == QLatin1String("ExtDeposit")) {
        if (GridMouseCol == 2) popup = popModify;
    } else if (!readOnly.contains(title) && col >= fgDisp->FixedCols()) {
        popup = popModify;
    }
    if (popup) console::PopupMenu(popup);
}

void frmPABX::popupUserMenu(bool oneRow) {
    if (oneRow) {
        for (const char* n : {"mnuInitUser", "mnuViewUser", "mnuBalanceUser"}) item(PopMenuTable, n)->setVisible(true);
    }
    item(PopMenuTable, "mnuUpSend")->setVisible(false);
    item(PopMenuTable, "mnuVerify")->setVisible(false);
    struct Restore {
        QMenu* m;
        ~Restore() {
            for (const char* n : {"mnuCancelMonitor", "mnuBalanceUser", "mnuInitUser", "mnuViewUser"})
                item(m, n)->setVisible(false);
            item(m, "mnuUpSend")->setVisible(true);
            item(m, "mnuVerify")->setVisible(true);
        }
    } restore{PopMenuTable};
    console::PopupMenu(PopMenuTable);
}
