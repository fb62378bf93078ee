#include "admin/OpenSite.h"

#include "admin/Restore.h"
#include "admin/Sites.h"
#include "core/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/ModUpgrade.h"
#include "core/Notices.h"
#include "core/SafetyCopies.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/WriteAhead.h"
#include "platform/AppExit.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "pricing/BillFile.h"
#include "pricing/RecordSpool.h"
#include "transfer/SwitchIntents.h"

#include <QDir>
#include <QFileInfo>

namespace admin {

namespace {

void step(const SiteOpening& how, int value, const QString& text = QString()) {
    if (how.progress) how.progress(value, text);
}

// A site an older version made carries the root's name in its files: a
// backup of either would be taken for the other's. Its files are given their
// own before anything reads the journal; one that cannot be written now is
// renamed at the next opening.
void tellSiteApart() {
    const QString site = QFileInfo(DataPath).canonicalFilePath();
    const QString root = QFileInfo(RootDataDir()).canonicalFilePath();
    if (site.isEmpty() || root.isEmpty() || site == root) return;
    QString rootId = ModSwitch::StationIdOf(platform::resolveCI(RootDataDir(), QStringLiteral("PhoneCur.mdb")));
    if (rootId.isEmpty()) rootId = ModSwitch::StationIdOf(RootStationFile());
    try {
        ModSwitch::TellSiteApart(rootId, QFileInfo(site).fileName());
    } catch (const platform::DbError&) {
    }
}

// The unfinished acts of every kind the station files hold (ModSwitch::
// UnfinishedActs, core/WriteAhead.h), and the step of the opening that
// settles each, in the order the opening takes them:
//   FilesOpen  a report a kill kept from the operator: shown and settled as
//              soon as both files are open, before anything else reads them;
//   LineUp     the switch's intents ("deposit", "release"): settled by
//              asking the switch, once the site is ready and while the line
//              is up (the start-up opens the line later, and settles then:
//              SettleOnTheLine);
//   Last       the restore's lines: the box "数据恢复成功", after everything
//              else (read from the older "restore.notice" too, so it runs
//              whether or not a record was found).
// A report held for a road's box after the opening (HoldReport) is left to
// ReportsHeldTold; a kind no row names waits, untouched, for its own road.
// The acts whose intent is a file, not a record, are finished by the step
// that owns the file, in this order around the rows above: 数据库管理's
// restore ("restore.journal", step 1), a start's put-back (".pending-restore",
// step 2), [FilesOpen], the journal file's rebuild and the entries past the
// mark (step 5), "CallSpool.dat" and "Bill.dat" (step 7), [LineUp], [Last].
enum class Moment { FilesOpen, LineUp, Last };

void tellReport(const SiteOpening&, const ModSwitch::Unfinished& u) { ModSwitch::TellReport(*u.file, u.record.key); }
void settleWithSwitch(const SiteOpening&, const ModSwitch::Unfinished&) { transfer::SettleSwitchIntents(); }
void tellRestore(const SiteOpening& how, const ModSwitch::Unfinished&) {
    if (how.tellRestore) TellRestore(DataPath, false);
}

struct Settler {
    Moment at;
    const QString& kind;
    std::optional<ModSwitch::ReportBox> box;   // a report's; none for other kinds
    void (*settle)(const SiteOpening&, const ModSwitch::Unfinished&);
    bool perRecord;   // once per record found, else once for them all
    bool always;      // run at its step even when none is found
};
const Settler kSettlers[] = {
    {Moment::FilesOpen, ModSwitch::kReportKind, ModSwitch::ReportBox::AtOnce, tellReport, true, false},
    {Moment::LineUp, ModGeneral::kDepositIntent, std::nullopt, settleWithSwitch, false, false},
    {Moment::LineUp, transfer::kReleaseIntent, std::nullopt, settleWithSwitch, false, false},
    {Moment::Last, ModSwitch::kReportKind, ModSwitch::ReportBox::Restore, tellRestore, false, true},
};

bool takes(const Settler& s, const ModSwitch::Unfinished& u) {
    if (u.record.kind != s.kind) return false;
    return !s.box || ModSwitch::BoxOf(*u.file, u.record.key) == *s.box;
}

// The one place an opening settles unfinished acts: the rows of step `at`,
// each given what the one reader found for it.
void settleUnfinished(Moment at, const SiteOpening& how) {
    const QList<ModSwitch::Unfinished> found = ModSwitch::UnfinishedActs();
    QList<decltype(Settler::settle)> done;
    for (const Settler& s : kSettlers) {
        if (s.at != at) continue;
        bool any = false;
        for (const ModSwitch::Unfinished& u : found) {
            if (!takes(s, u)) continue;
            any = true;
            if (s.perRecord) s.settle(how, u);
        }
        if (s.perRecord || (!any && !s.always) || done.contains(s.settle)) continue;
        done << s.settle;
        s.settle(how, {});
    }
}

// Steps 2 to 5 for the site of DataPath. `failure` null: a file that fails
// its check without a sound copy, or a failed upgrade, ends the station, and
// a file that cannot be opened is asked about. Else false with the reason,
// everything closed again. Nothing here yields but those questions.
bool openFiles(const SiteOpening& how, QString* failure, QString* notice) {
    if (how.check) {
        ModSwitch::RemoveStaleSuperJournals(DataPath);
        for (const auto& [file, done] : {std::pair{QStringLiteral("Switch.mdb"), 10}, std::pair{QStringLiteral("PhoneCur.mdb"), 15}}) {
            if (!failure) ModSwitch::CompactDB(file);
            else if (!ModSwitch::TryCompactDB(file, failure, notice)) return false;
            step(how, done);
        }
    }
    if (!ModSwitch::OpenStationFiles(failure)) return false;
    try {
        // Step 3a: the unfinished acts the files hold, before anything else reads them.
        settleUnfinished(Moment::FilesOpen, how);
        if (!ModUpgrade::UpgradeStationDb(failure)) {
            ModSwitch::OpenAllDB(false);
            return false;
        }
        step(how, 20, QStringLiteral("正在初始化系统..."));
        ModSwitch::LoadSysPara();
        // The default user 0 exists before anything reads users.
        ModSwitch::OpenRecordsets();
        if (how.renewSafetyCopy) {
            // The copy beside it described the file replaced: the next start
            // would take the two for unlike and put the replaced file back.
            ModSwitch::NumberSafetyCopy();
            RenewSafetyCopy(dbSwitch);
        }
        tellSiteApart();
        // No put-back of the root's station file loses a site whose directory
        // is there; a row not written now is at the next opening.
        try {
            ListSitesFound();
        } catch (const platform::DbError&) {
        }
        // The money moves here and nowhere else in an opening.
        ModSwitch::PrepareChargeLog();
        return true;
    } catch (const platform::DbError& e) {
        if (!failure) throw;
        *failure = platform::OperatorText(e);
        ModSwitch::OpenAllDB(false);
        return false;
    }
}

// Why the directory of the site to open, when it is not the root data
// directory (whose lock the start-up has written), cannot be written; "" when it can.
QString writeFailureOfSite() {
    const QString site = QFileInfo(DataPath).canonicalFilePath();
    if (site.isEmpty() || site == QFileInfo(RootDataDir()).canonicalFilePath()) return QString();
    return platform::DirectoryWriteFailure(DataPath);
}

// Records an upload or a collector read answered but could not store; the
// status bar says how many still wait.
void storeWaitingCalls() {
    // Calls a former run of this site took while it could not store them.
    try {
        pricing::spool::Replay();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
        // They stay in the spool; its retry takes them.
    }
    int waiting = 0;
    pricing::billfile::Report report;
    try {
        waiting = pricing::billfile::Price({}, &report);
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
        waiting = pricing::billfile::Waiting();
    }
    if (waiting > 0) core::NotifyStatus(2, pricing::billfile::WaitingText(waiting));
    const QString damaged = pricing::billfile::DamageText(report);
    if (!damaged.isEmpty()) core::Notify(damaged, platform::mbOKOnly | platform::mbExclamation, AppName);
}

}  // namespace

Site CurrentSite() { return Site{DataPath, TerminalName, TerminalID}; }

void MakeCurrent(const Site& site) {
    DataPath = site.dataPath;
    TerminalName = site.name;
    TerminalID = site.id;
}

SiteOpened OpenSite(const SiteOpening& how) {
    SiteOpened r;
    // A site's own directory that cannot be written is named with its cause,
    // as the root's is before the station starts: a station left on it
    // could store no call. The change of site goes back to the site it left;
    // the start-up ends, as on the root.
    const QString cannotWrite = writeFailureOfSite();
    if (!cannotWrite.isEmpty()) {
        const QString text =
            QStringLiteral("无法在数据目录%1中写入文件：%2").arg(QDir::toNativeSeparators(DataPath), cannotWrite);
        if (!how.fallBack) {
            core::Notify(text, platform::mbOKOnly, QStringLiteral("错误提示"));
            platform::EndProgram(1);
        }
        r.opened = false;
        r.failure = text;
        MakeCurrent(*how.fallBack);
    }
    // Before any file is opened; a station file it puts back is brought up
    // to the charge log on the way.
    if (how.finishRestore) CompleteRestore(DataPath);
    if (!r.opened) {
        QString again;
        if (!openFiles(how, &again, &r.notice)) openFiles(how, nullptr, nullptr);
    } else if (!how.fallBack) {
        openFiles(how, nullptr, nullptr);
    } else if (!openFiles(how, &r.failure, &r.notice)) {
        r.opened = false;
        // Back to the site that was open a moment ago: nothing of a restore waits there.
        MakeCurrent(*how.fallBack);
        QString again;
        // That one failing too, the station goes on as at start-up, or ends.
        if (!openFiles(how, &again, &r.notice)) openFiles(how, nullptr, nullptr);
    }
    if (how.opened) how.opened();
    if (how.priceWaiting) storeWaitingCalls();
    if (how.ready) how.ready();
    settleUnfinished(Moment::LineUp, how);
    settleUnfinished(Moment::Last, how);
    return r;
}

void SettleOnTheLine() { settleUnfinished(Moment::LineUp, {}); }

}  // namespace admin
