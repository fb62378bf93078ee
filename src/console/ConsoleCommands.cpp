// The console's menu bar and toolbar: captions, shortcuts, visibility and the
// handlers behind them; the help; the tooltips of the trace icon and the
// status bar. Items whose windows the station does not have yet stay disabled.
#include "admin/frmSysSet.h"
#include "billing/frmBillManage.h"
#include "console/ConsoleCommands.h"

#include "console/TableBackup.h"
#include "console/frmHelp.h"
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/OpLog.h"
#include "core/frmAbout.h"
#include "core/frmChange.h"
#include "core/frmFind.h"
#include "core/frmProgress.h"
#include "core/frmWorker.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "params/ColumnChooser.h"
#include "params/RowEdit.h"
#include "params/SavePara.h"
#include "platform/AppExit.h"
#include "platform/Twips.h"
#include "printing/PrintGrid.h"
#include "transfer/ModToolbar.h"
#include "transfer/OperationCommands.h"
#include "transfer/SwitchIntents.h"
#include "transfer/frmIPPuhPara.h"
#include "transfer/Upload.h"

#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QMouseEvent>
#include <QSet>

namespace console {

namespace {

std::function<QAction*(QMenu*)>& popupRunner() {
    static std::function<QAction*(QMenu*)> runner;
    return runner;
}

void sendNoWait(QLatin1StringView order) {
    try {
        ModComm::SendOrder(order, false, 4, true);
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
        // The bracket is best effort: the switch resumes on its own time-out.
    }
}

}  // namespace

void RunCommand(frmPABX& c, bool bracket, const std::function<void()>& body) {
    // One command is one gesture: what it meets of the switch is told once.
    const transfer::OneGesture gesture;
    const bool visible = c.isVisible();
    const bool enabled = core::ConsoleEnabled();
    if (bracket) sendNoWait(FrameCode::kPauseReports);
    QString error;
    try {
        body();
    } catch (const platform::ProgramEnded&) {
        if (bracket) sendNoWait(FrameCode::kResumeReports);
        throw;
    } catch (const std::exception& e) {
        error = platform::OperatorText(e);
        if (error.isEmpty()) error = QStringLiteral("未知错误");
    }
    if (bracket) sendNoWait(FrameCode::kResumeReports);
    if (error.isNull()) return;
    c.unsetCursor();
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    if (c.fgDisp) c.fgDisp->setRedraw(true);
    if (frmProgress::exists()) frmProgress::unload();
    if (c.isVisible() != visible) c.setVisible(visible);
    if (core::ConsoleEnabled() != enabled) core::SetConsoleEnabled(enabled);
    c.sbrInfo->setPanelText(2, error);
}

QAction* PopupMenu(QMenu* menu) {
    if (popupRunner()) {
        QAction* a = popupRunner()(menu);
        if (a && a->isEnabled() && a->isVisible()) a->trigger();
        return a;
    }
    return menu->exec(QCursor::pos());
}

void SetPopupRunner(std::function<QAction*(QMenu*)> runner) { popupRunner() = std::move(runner); }

}  // namespace console

namespace {

// The toolbar commands this station carries out; the others' buttons stay greyed.
const QSet<QString>& availableKeys() {
    static const QSet<QString> keys = {"DownLoad", "UpLoad", "Verify", "Save", "Add", "Delete", "Find", "Backup", "Restore", "Print", "Help", "Exit"};
    return keys;
}

// One menu item; without a handler it stays disabled.
QAction* addItem(frmPABX* owner, QMenu* menu, const char* name, const char* caption, const QKeySequence& key,
                 std::function<void()> handler) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QLatin1String(name));
    if (!key.isEmpty()) a->setShortcut(key);
    if (handler)
        QObject::connect(a, &QAction::triggered, owner,
                         [owner, handler] { console::RunCommand(*owner, false, handler); });
    else
        a->setEnabled(false);
    return a;
}

QMenu* addMenu(QMenuBar* bar, const char* name, const char* caption) {
    QMenu* m = bar->addMenu(QString::fromUtf8(caption));
    m->setObjectName(QLatin1String(name));
    m->menuAction()->setObjectName(QLatin1String(name));
    return m;
}

// Mouse events of the console's controls that the command handlers need.
class CommandEvents : public QObject {
public:
    explicit CommandEvents(frmPABX* c) : QObject(c), c_(c) {}

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        const QEvent::Type t = e->type();
        if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonRelease && t != QEvent::MouseMove)
            return false;
        auto* m = static_cast<QMouseEvent*>(e);
        const QPoint p = m->position().toPoint();
        if (o == c_->picRun && t == QEvent::MouseButtonPress) {
            c_->picRun_MouseDown();
        } else if (t == QEvent::MouseMove && (o == c_->sbrInfo || o->parent() == c_->sbrInfo)) {
            // Over a panel or between panels, in the status bar's own coordinates.
            c_->sbrInfo_MouseMove(static_cast<QWidget*>(o)->mapTo(c_->sbrInfo, p).x());
        } else if (c_->fgDisp && o == c_->fgDisp->viewport() && t == QEvent::MouseButtonPress &&
                   m->button() == Qt::RightButton) {
            // The right button leaves the current cell where it is: the popup
            // rules read the current cell, not the one under the pointer.
            const int col = c_->fgDisp->columnAt(p.x());
            console::RunCommand(*c_, false, [&] { c_->fgDisp_MouseDown(2, platform::twips(p.x()), col); });
            return true;
        } else if (auto* w = qobject_cast<QLabel*>(o)) {
            const int index = c_->picCard.indexOf(w);
            if (index < 0) return false;
            if (t == QEvent::MouseButtonPress && m->button() == Qt::LeftButton) {
                c_->picCard_MouseDown(index);
            } else if (t == QEvent::MouseButtonRelease && m->button() == Qt::LeftButton && w->rect().contains(p)) {
                console::RunCommand(*c_, false, [&] { c_->picCard_Click(index); });
            }
        }
        return false;
    }

private:
    frmPABX* c_;
};

}  // namespace

void frmPABX::buildMenus() {
    mnuBar = new QMenuBar(this);
    mnuBar->setObjectName(QStringLiteral("mnuBar"));
    const QKeySequence none;

    QMenu* sys = addMenu(mnuBar, "mnuSysManager", "系统管理");
    addItem(this, sys, "mnuChangePassword", "修改密码", Qt::Key_F7, [this] { mnuChangePassword_Click(); });
    sys->addSeparator();
    addItem(this, sys, "mnuDbManager", "数据库管理", Qt::Key_F2, [this] { mnuDbManager_Click(); });
    addItem(this, sys, "mnuBillManage", "话单库管理", Qt::Key_F3, [] { frmBillManage::ShowModal(); });
    mnuTerminal = addItem(this, sys, "mnuTerminal", "站点  管理", Qt::Key_F4, [this] { mnuTerminal_Click(); });
    sys->addSeparator();
    QMenu* workers = sys->addMenu(QStringLiteral("员工管理"));
    workers->setObjectName(QStringLiteral("mnuWorkerManager"));
    workers->menuAction()->setObjectName(QStringLiteral("mnuWorkerManager"));
    const char* const workerCaptions[] = {"增加员工", "删除员工", "修改员工"};
    const QKeySequence workerKeys[] = {QKeySequence(Qt::CTRL | Qt::Key_A), QKeySequence(Qt::CTRL | Qt::Key_D),
                                       QKeySequence(Qt::CTRL | Qt::Key_M)};
    for (int i = 0; i < 3; ++i) {
        const QByteArray name = "mnuWorker" + QByteArray::number(i);
        addItem(this, workers, name.constData(), workerCaptions[i], workerKeys[i], [this, i] { mnuWorker_Click(i); });
    }
    sys->addSeparator();
    addItem(this, sys, "mnuReLogin", "重新登录", Qt::Key_F6, [this] { mnuReLogin_Click(); });
    mnuChangeTerminal =
        addItem(this, sys, "mnuChangeTerminal", "更换站点", Qt::Key_F5, [this] { mnuChangeTerminal_Click(); });
    sys->addSeparator();
    mnuExit = addItem(this, sys, "mnuExit", "退出系统", QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { mnuExit_Click(); });

    // The operation commands check their own rights; an open editor only commits first.
    auto gated = [this](void (*command)()) {
        return [this, command] {
            if (!InputVisible()) command();
        };
    };
    QMenu* op = addMenu(mnuBar, "mnuOPCommand", "操作命令");
    addItem(this, op, "mnuConnect", "通信握手", QKeySequence(Qt::CTRL | Qt::Key_F7),
            gated(OperationCommands::mnuConnect_Click));
    addItem(this, op, "mnuInit", "初 始 化", QKeySequence(Qt::CTRL | Qt::Key_F8), gated(OperationCommands::mnuInit_Click));
    addItem(this, op, "mnuReset", "系统复位", QKeySequence(Qt::CTRL | Qt::Key_F9),
            gated(OperationCommands::mnuReset_Click));
    op->addSeparator();
    addItem(this, op, "mnuDownSysTime", "下载时间", QKeySequence(Qt::SHIFT | Qt::Key_F9),
            gated(OperationCommands::mnuDownSysTime_Click));
    addItem(this, op, "mnuDownPara", "下载参数", QKeySequence(Qt::SHIFT | Qt::Key_F8),
            gated(OperationCommands::mnuDownPara_Click));
    addItem(this, op, "mnuUPSendPara", "上传参数", QKeySequence(Qt::SHIFT | Qt::Key_F7),
            gated(OperationCommands::mnuUPSendPara_Click));

    mnuUsb = addMenu(mnuBar, "mnuUsb", "USB设置");
    mnuSetUsbID = addItem(this, mnuUsb, "mnuSetUsbID", "设置USB编号", QKeySequence(Qt::SHIFT | Qt::Key_F6),
                          [this] { mnuSetUsbID_Click(); });
    mnuGetUSBID = addItem(this, mnuUsb, "mnuGetUSBID", "查看USB编号", QKeySequence(Qt::SHIFT | Qt::Key_F5),
                          [this] { mnuGetUSBID_Click(); });
    mnuClearUSB = addItem(this, mnuUsb, "mnuClearUSB", "清除USB话单", QKeySequence(Qt::SHIFT | Qt::Key_F4),
                          [this] { mnuClearUSB_Click(); });
    mnuReadUSB = {nullptr, nullptr, nullptr};
    mnuReadUSB[1] = addItem(this, mnuUsb, "mnuReadUSB1", "重读USB话单", QKeySequence(Qt::SHIFT | Qt::Key_F3),
                            [this] { mnuReadUSB_Click(1); });
    mnuReadUSB[2] = addItem(this, mnuUsb, "mnuReadUSB2", "读取USB话单", QKeySequence(Qt::SHIFT | Qt::Key_F2),
                            [this] { mnuReadUSB_Click(2); });
    mnuReadUSB[2]->setVisible(false);
    // Listed for its place; the collector has no verification command.
    QAction* verifyUsb =
        addItem(this, mnuUsb, "mnuVerifyUSB", "校验USB话单", QKeySequence(Qt::SHIFT | Qt::Key_F1), nullptr);
    verifyUsb->setVisible(false);

    QMenu* opt = addMenu(mnuBar, "mnuOption", "  选  项  ");
    addItem(this, opt, "mnuSysPara", "系统参数", Qt::Key_F9, [this] {
        if (InputVisible()) return;
        frmSysSet::ShowModal();
        // However the window was closed (Esc, its close box, "关 闭"), the
        // reports it switched off come back with the view's monitor mode, not
        // only when the window system hands the console the activation again.
        if (!ModComm::MonitorModeOfView()) Form_Activate();
    });
    mnuIPPUHPARA = addItem(this, opt, "mnuIPPUHPARA", "IP公话参数", Qt::Key_F8, [this] { mnuIPPUHPARA_Click(); });
    opt->addSeparator();
    mnuExtOption = addItem(this, opt, "mnuExtOption", "分机选项", QKeySequence(Qt::CTRL | Qt::Key_E),
                           [this] { mnuExtOption_Click(); });
    mnuRelayOption = addItem(this, opt, "mnuRelayOption", "中继选项", QKeySequence(Qt::CTRL | Qt::Key_R),
                             [this] { mnuRelayOption_Click(); });
    mnuExtOption->setEnabled(false);
    mnuRelayOption->setEnabled(false);
    opt->addSeparator();
    addItem(this, opt, "mnuMomentBill", "立即打印", QKeySequence(Qt::CTRL | Qt::Key_P), [this] { mnuMomentBill_Click(); });

    QMenu* help = addMenu(mnuBar, "mnuHelp", "  帮  助  ");
    addItem(this, help, "mnuAbout", "关于软件", Qt::Key_F11, [this] { mnuAbout_Click(); });
    addItem(this, help, "mnuContent", "帮助主题", Qt::Key_F1, [this] { mnuContent_Click(); });
    (void)none;
}

void frmPABX::mnuIPPUHPARA_Click() {
    // The window takes the screen and shows the console again when it closes.
    ModComm::SendOrder(FrameCode::kMonitorOff, false, 4, true);
    hide();
    frmIPPuhPara::ShowFromConsole();
}

void frmPABX::connectCommands() {
    connect(tbrSwitch, &QToolBar::actionTriggered, this, [this](QAction* a) {
        tbrSwitch_ButtonClick(a->data().toString());
    });
    connect(tbrLegend, &QToolBar::actionTriggered, this, [this](QAction* a) {
        const int index = legendGroup->actions().indexOf(a);
        if (index >= 0) tbrLegend_ButtonClick(index + 1);
    });
    auto* events = new CommandEvents(this);
    picRun->installEventFilter(events);
    sbrInfo->setMouseTracking(true);
    sbrInfo->installEventFilter(events);
    for (QLabel* panel : sbrInfo->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        panel->setMouseTracking(true);
        panel->installEventFilter(events);
    }
    fgDisp->viewport()->installEventFilter(events);
    for (QLabel* card : picCard) card->installEventFilter(events);
    buildPopups();
}

void frmPABX::UpdateCommandStates() {
    for (QAction* a : tbrSwitch->actions())
        if (!a->isSeparator()) a->setEnabled(availableKeys().contains(a->data().toString()));
}

// ------------------------------------------------------------------ toolbar

void frmPABX::tbrSwitch_ButtonClick(const QString& key) {
    if (InputVisible()) return;
    sbrInfo->setPanelText(2, QString());
    if (key == QLatin1String("Exit")) {
        // Unloading the console asks whether to end; the answer Yes ends the program there.
        NotExit(0);
        return;
    }
    if (!availableKeys().contains(key)) return;
    const QString caption = windowTitle();
    const QString view = CurTable;
    const int right = m_TableRight;
    if (key == QLatin1String("DownLoad")) {
        // "960300" goes out before any save question, "960301" whatever the outcome.
        console::RunCommand(*this, true, [&] {
            ModSwitch::SaveSwitchPara(right, true);   // the grid's pending edits go first
            ModToolbar::DownTable(right);
        });
        return;
    }
    if (key == QLatin1String("UpLoad") || key == QLatin1String("Verify")) {
        const bool verify = key == QLatin1String("Verify");
        console::RunCommand(*this, true, [&] {
            if (verify) {
                // The whole table is compared.
                SelRowFirst = 1;
                SelRowLast = fgDisp->Rows() - 1;
            }
            ModToolbar::UpLoadOrVerifyTable(verify);
        });
        return;
    }
    console::RunCommand(*this, false, [&] {
        if (key == QLatin1String("Save")) {
            ModSwitch::SaveSwitchPara(right, true);
        } else if (key == QLatin1String("Add")) {
            // The pending edits are offered first, whatever the answer.
            ModSwitch::SaveSwitchPara(right, true);
            ModSwitch::AddParaRecord(right);
        } else if (key == QLatin1String("Delete")) {
            ModSwitch::SaveSwitchPara(right, true);
            ModSwitch::DelParaRecord(right);
        } else if (key == QLatin1String("Find")) {
            frmFind::instance().FindItem(fgDisp);
        } else if (key == QLatin1String("Backup")) {
            console::TableBackup(view, right, caption);
        } else if (key == QLatin1String("Restore")) {
            console::TableRestore(view, right, caption);
        } else if (key == QLatin1String("Print")) {
            if (!ModGeneral::CheckRight(right, 0)) printing::PrintGrid(*fgDisp, caption, true);
        } else if (key == QLatin1String("Help")) {
            mnuContent_Click();
        }
    });
}

// ------------------------------------------------------------------ menus

void frmPABX::mnuChangePassword_Click() {
    if (InputVisible()) return;
    frmWorker::instance().ShowChangePassword();
}

void frmPABX::mnuWorker_Click(int Index) {
    if (InputVisible()) return;
    static const char* const modes[] = {"增加", "删除", "修改"};
    if (Index < 0 || Index > 2) return;
    frmWorker::instance().ShowWorkerManage(QString::fromUtf8(modes[Index]));
}

void frmPABX::mnuReLogin_Click() {
    if (InputVisible()) return;
    frmWorker::instance().GetLogin();
}

void frmPABX::mnuAbout_Click() {
    if (InputVisible()) return;
    frmAbout::instance().ShowAbout();
}

// Opens our own help window, once per choice: nothing is fed back as a key.
void frmPABX::mnuContent_Click() { frmHelp::instance().ShowHelp(mnuBar); }

namespace {

void chooseColumns(frmPABX& c, bool ext) {
    QStringList chosen;
    ModSwitch::BuildColumnList(chosen, false, ext);
    QStringList offered = chosen;
    ModSwitch::GetColumnChoice(offered, false, ext);
    if (!frmChange::instance().SetList(offered, chosen, ext ? QStringLiteral("分机选项") : QStringLiteral("中继参数项"),
                                       ext ? 3 : 2, 0))
        return;
    if (chosen.isEmpty() || chosen.first().isEmpty()) return;
    ModSwitch::SaveColumnChoice(chosen, false, ext);
    c.tvSwitch_Click();
}

}  // namespace

void frmPABX::mnuExtOption_Click() {
    if (InputVisible()) return;
    chooseColumns(*this, true);
}

void frmPABX::mnuRelayOption_Click() {
    if (InputVisible()) return;
    chooseColumns(*this, false);
}

void frmPABX::picRun_MouseDown() {
    QString tip = AppName + QStringLiteral(" Ver%1.%2.%3").arg(frmAbout::kMajor).arg(frmAbout::kMinor).arg(frmAbout::kRevision);
    const QFileInfo exe(AppPath + QStringLiteral("tarvo"));
    if (exe.isFile()) tip += QStringLiteral(">>") + exe.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    picRun->setToolTip(tip);
}

void frmPABX::sbrInfo_MouseMove(int x) {
    const QList<QLabel*> panels = sbrInfo->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    bool message = false;
    if (panels.size() >= 3) message = x >= panels[1]->geometry().left() && x <= panels[2]->geometry().left();
    sbrInfo->setToolTip(message ? sbrInfo->panelText(2) : WorkerRightNames.join(QLatin1Char(',')));
}
