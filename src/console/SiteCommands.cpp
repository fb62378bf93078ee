// The sites of the second switch model as the console reaches them: the site
// window (F4) and the change of site (F5).
#include "admin/OpenSite.h"
#include "admin/frmDBManager.h"
#include "admin/frmTerminal.h"
#include "console/frmPABX.h"
#include "core/MDIMain.h"
#include "core/Main.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "core/StationFiles.h"
#include "core/Settings.h"
#include "core/WriteAhead.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "params/BoardPanel.h"
#include "params/CellEdit.h"
#include "params/SavePara.h"
#include "platform/Prompts.h"

namespace {

// A change of site under way: its 200 ms wait lets menu events in, which
// must not start a second change nor open the site window on closing databases.
bool g_changing = false;

void send(QLatin1StringView order) { ModComm::SendOrder(order, false, 4, true); }

}  // namespace

void frmPABX::mnuTerminal_Click() {
    if (SwitchModel != 2 || g_changing || ModGeneral::CheckRight(32, ModGeneral::kRightStatusBar)) return;
    send(FrameCode::kMonitorOff);
    // Made before the console goes: a site list that cannot be read leaves it where it is.
    frmTerminal& w = frmTerminal::instance();
    window()->hide();
    w.show();
    w.raise();
    w.activateWindow();
}

void frmPABX::mnuChangeTerminal_Click() {
    if (SwitchModel != 2 || g_changing || InputVisible()) return;
    const admin::Site left = admin::CurrentSite();
    // The choice comes first: a cancel finds nothing paused, unloaded or closed.
    bool cancelled = false;
    const bool found = core::GetDataPath(false, &cancelled);
    const admin::Site chosen = admin::CurrentSite();
    admin::MakeCurrent(left);
    if (!found || cancelled) return;
    // Unsaved edits belong to the site open now: offered for saving into it
    // before anything closes. A save that fails keeps them, and the site.
    if (g_Modified || ParaMode == QLatin1String("UpSend")) {
        ModSwitch::SaveSwitchPara(m_TableRight, false);
        if (g_Modified || ParaMode == QLatin1String("UpSend")) return;
    }

    g_changing = true;
    struct Done {
        ~Done() { g_changing = false; }
    } done;
    send(FrameCode::kPauseReports);
    send(FrameCode::kMonitorOff);
    frmDBManager::unload();
    ModGeneral::Delay(200);
    // What the line brought before the pause is handled in the site it came
    // for, and its answers are out, before the reload empties the rings.
    ModComm::DrainLink();

    // From closing to reopening nothing yields, so no tick or frame finds the databases closed.
    ModSwitch::OpenAllDB(false);
    // Amounts typed for the users of the site left are no deposits of the next.
    ModSwitch::DropTypedDeposits();
    admin::SiteOpening how;
    how.fallBack = left;
    // The boards and the view of the site come once its waiting calls are
    // stored, so that the view shows the balances they charged.
    how.ready = [this] {
        ModSwitch::LoadCards();
        tvSwitch_Click();
        frmDBManager::instance();   // hidden; its timer backs up the site now open
    };
    admin::MakeCurrent(chosen);
    const admin::SiteOpened opened = admin::OpenSite(how);
    if (MDIMain::exists())
        MDIMain::instance().SetCaption(AppName + (SwitchModel == 2 ? QStringLiteral("<") + TerminalName + QStringLiteral(">")
                                                                   : QString()));
    send(FrameCode::kResumeReports);
    // What it told is read: the reports kept for it are settled.
    ModSwitch::TellHeldReports({opened.notice, QStringLiteral("警告"), platform::mbOKOnly});
    if (!opened.opened) platform::MsgBox(QStringLiteral("更换站点失败:") + opened.failure, platform::mbOKOnly, AppName);
}
