// The sites of the second switch model as the console reaches them: the site
// window (F4) and the change of site (F5).
#include "admin/Restore.h"
#include "admin/frmDBManager.h"
#include "admin/frmTerminal.h"
#include "console/frmPABX.h"
#include "core/MDIMain.h"
#include "core/Main.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/StationFiles.h"
#include "core/SafetyCopies.h"
#include "core/Settings.h"
#include "core/ModUpgrade.h"
#include "core/OpLog.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "params/BoardPanel.h"
#include "params/CellEdit.h"
#include "params/SavePara.h"
#include "platform/AppExit.h"
#include "platform/Prompts.h"
#include "pricing/BillFile.h"
#include "pricing/RecordSpool.h"

namespace {

// A change of site under way: its 200 ms wait lets menu events in, which
// must not start a second change nor open the site window on closing databases.
bool g_changing = false;

void send(QLatin1StringView order) { ModComm::SendOrder(order, false, 4, true); }

// The care a data directory gets at start-up, for the site of DataPath: both
// files checked and compacted (or restored from their copies), opened, and the
// tables added since created. Nothing here yields. False with the reason,
// everything closed again.
bool OpenSite(QString* failure, QString* notice) {
    ModSwitch::RemoveStaleSuperJournals(DataPath);
    if (!ModSwitch::TryCompactDB(QStringLiteral("Switch.mdb"), failure, notice) ||
        !ModSwitch::TryCompactDB(QStringLiteral("PhoneCur.mdb"), failure, notice) || !ModSwitch::TryOpenAllDB(failure))
        return false;
    if (ModUpgrade::UpgradeStationDb(failure)) return true;
    ModSwitch::OpenAllDB(false);
    return false;
}

}  // namespace

void frmPABX::BringSiteUpToDate(const std::function<void()>& open, const std::function<void()>& priced) {
    // A restore that a kill interrupted is finished (or forgotten) before any
    // file is opened; a station file it puts back is brought up to the charge log on the way.
    admin::CompleteRestore(DataPath);
    open();
    // Calls a former run of this site took while it could not store them are priced now.
    try {
        pricing::spool::Replay();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
        // They stay in the spool; its retry takes them.
    }
    PriceWaitingBills();
    if (priced) priced();
    frmDBManager::instance();   // hidden; its timer backs up the site now open
    // A restore of the station file whose box a kill kept from the operator:
    // what it could not recover is told now, and only then forgotten.
    QStringList recovered;
    if (admin::RestoreNotice(DataPath, &recovered)) {
        platform::MsgBox(QStringLiteral("数据恢复成功") +
                             (recovered.isEmpty() ? QString() : QStringLiteral("\n") + recovered.join(QLatin1Char('\n'))),
                         platform::mbOKOnly, AppName);
        admin::ForgetRestoreNotice(DataPath);
    }
}

void frmPABX::PriceWaitingBills() {
    // Records an upload or a collector read answered but could not store.
    int waiting = 0;
    pricing::billfile::Report report;
    try {
        waiting = pricing::billfile::Price({}, &report);
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
        waiting = pricing::billfile::Waiting();
    }
    if (waiting > 0) core::StatusText(2, pricing::billfile::WaitingText(waiting));
    const QString damaged = pricing::billfile::DamageText(report);
    if (!damaged.isEmpty()) platform::MsgBox(damaged, platform::mbOKOnly | platform::mbExclamation, AppName);
}

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
    const QString oldPath = DataPath, oldName = TerminalName;
    const int oldId = TerminalID;
    // The choice comes first: a cancel finds nothing paused, unloaded or closed.
    bool cancelled = false;
    const bool found = core::GetDataPath(false, &cancelled);
    const QString newPath = DataPath, newName = TerminalName;
    const int newId = TerminalID;
    DataPath = oldPath;
    TerminalName = oldName;
    TerminalID = oldId;
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
    DataPath = newPath;
    TerminalName = newName;
    TerminalID = newId;
    QString failure, notice;
    bool changed = false;
    BringSiteUpToDate(
        [&] {
            changed = OpenSite(&failure, &notice);
            if (!changed) {
                // Back to the site that was open a moment ago: nothing of a restore waits there.
                DataPath = oldPath;
                TerminalName = oldName;
                TerminalID = oldId;
                QString again;
                if (!OpenSite(&again, &notice)) {
                    // The site that was open a moment ago fails too: as at start-up.
                    ModSwitch::CompactDB(QStringLiteral("Switch.mdb"));
                    ModSwitch::CompactDB(QStringLiteral("PhoneCur.mdb"));
                    ModSwitch::OpenAllDB(true);
                }
            }
            ModSwitch::LoadSysPara();
        },
        // The boards and the view of the site come once its waiting calls are
        // stored, so that the view shows the balances they charged.
        [this] {
            ModSwitch::LoadCards();
            tvSwitch_Click();
        });
    if (MDIMain::exists())
        MDIMain::instance().SetCaption(AppName + (SwitchModel == 2 ? QStringLiteral("<") + TerminalName + QStringLiteral(">")
                                                                   : QString()));
    send(FrameCode::kResumeReports);
    if (!notice.isEmpty()) platform::MsgBox(notice, platform::mbOKOnly, QStringLiteral("警告"));
    if (!changed) platform::MsgBox(QStringLiteral("更换站点失败:") + failure, platform::mbOKOnly, AppName);
}
