// Runs the station in a process of its own, for start-up and crash tests.
//
//   tarvo-testrunner PROGRAM_DIR [--log FILE] [--answer TEXT=RESULT]... [--stay-ms N] [--login-cancel]
//                    [--no-switch | --comm-device PATH] [--clock "yyyy-MM-dd HH:mm:ss"]
//                    [--kill-in-archive STAGE:N] [--kill-in-nightly-archive STAGE:N]
//                    [--kill-after-store N] [--restore-from FOLDER [--kill-in-restore POINT]]
//                    [--record-upload] [--kill-in-copy-restore STEP[:N]]
//                    [--pay USER:PAY:DUE]... [--delete-user USER]... [--backup-to FOLDER]
//                    [--add-user NAME:AMOUNT:EXT]... [--give-ext EXT:USER]... [--init-user USER]...
//                    [--users-backup] [--users-restore] [--delete-row USER]... [--download VIEW]...
//                    [--kill-at-writeahead KIND:STEP[:N[:KEY]]] [--kill-at-prompt TEXT]
//
// PROGRAM_DIR stands in for the executable's directory (its "data" directory
// is the station's). Prompts are answered by script: each --answer answers
// the next prompt whose text contains TEXT; RESULT is a button number or ok, cancel, yes, no, retry,
// ignore, abort. The log lists every prompt shown ("PROMPT", or "UNEXPECTED"
// when no answer matched: kind, title, text, tab-separated), "LOADED" and the
// frame's caption once the main frame is up, "YIELDS_IN_TRANSACTION" with the
// count when a wait yielded while a transaction was open, and "END" with the exit code.
// The login window is answered with worker "0000", password "0000", unless
// --login-cancel closes it. After loading, the
// station is closed through its stop road at once, or after --stay-ms milliseconds.
// A switch simulator answers the station's link on a pseudo-terminal (the
// data directory's "CommDevice" names it) unless --no-switch is given; then
// "CommDevice" names a device that does not exist, so that a test never
// reaches a real serial line. With a switch, the log ends with every frame it
// received ("SWITCH" and its hex without the checksum), in order.
// With --comm-device the line is PATH instead: a switch the test plays itself,
// which outlives the station when the test kills it.
// With --clock the station's clock stands at that time until it is loaded and
// runs on from there (so the nightly jobs come a known time after loading);
// the PC's clock is never set. --kill-in-archive ends the process with SIGKILL
// (no cleanup, as a power cut) the Nth time (from 1) a run of the call-record
// archive reaches STAGE: copied, month, compacted, detached or replaced;
// --kill-in-nightly-archive counts only the runs after loading.
// With the second switch model the site chooser is answered with the site
// NAME of --site ("默认" when none is given) and its confirmation with Yes.
// --kill-after-store does so at the Nth call record stored, right after the
// record and its charge committed and before the switch is answered.
// --restore-from runs, once loaded, the database window's restore of every
// file from FOLDER (answer its "数据恢复成功" with --answer); --kill-in-restore
// ends the process with SIGKILL when that restore reaches POINT: copied (the
// temporaries written), journal (the journal written), renamed<N> (the Nth
// file renamed into place).
// --record-upload runs, once loaded, the IP payphone window's record upload
// ("上传话单", its default dates) and logs "UPLOADED" when it is over.
// --kill-in-copy-restore ends the process with SIGKILL the Nth time (from 1)
// a restore from a safety copy reaches STEP: marked, moved, copied,
// recovered or renamed.
// Once loaded (after --restore-from), each --pay settles USER with PAY
// against DUE as the settlement window writes it, then logs "PAID", USER and
// 1 (or 0 when refused); each --delete-user deletes USER as the settlement
// window's delete after a payment does (the switch's part taken as done) and
// logs "DELETED", USER and 1 or 0; --backup-to then backs the station file
// ("Switch") up into FOLDER through the database window and logs "BACKEDUP"
// (with --backup-archives the year files too, the window's "PhoneCur" item).
// Each --add-user (before the payments) adds a user in the user view as the
// operator does: the added row named NAME, paying monthly, AMOUNT typed as its
// deposit, saved; it then owns extension EXT and "ADDED", its number and 1 (or
// 0 when the save failed) are logged. Each --give-ext (after the additions)
// gives extension EXT to USER as the extensions' grid does (所属用户) and logs
// "GIVEN", EXT and USER. Each --init-user (after the deletes)
// runs 初始化 on USER's row of the user view, its question answered Yes, and
// logs "INITED" and USER; --users-backup and --users-restore then back up or
// put back the users' table with the toolbar's 备份 and 恢复 in the user view
// and log "USERSBACKEDUP" or "USERSRESTORED". Each --delete-row (after those)
// deletes USER's row of the user view with the toolbar's 删除, its question
// answered Yes, and logs "ROWDELETED" and USER; each --download (last) shows
// VIEW and downloads it with the toolbar's 下载, and logs "DOWNLOADED", VIEW
// and the status bar's text. --kill-at-writeahead ends the process with
// SIGKILL the Nth time (from 1) a record of KIND (and KEY, when given) is
// written ahead ("written") or settled ("settled"). --kill-at-prompt does so
// while a box whose text contains TEXT stands, before it is answered (the
// prompts before it logged).
#include "admin/Restore.h"
#include "admin/frmDBManager.h"
#include "admin/frmSelTerminal.h"
#include "billing/ArchiveBills.h"
#include "billing/Payments.h"
#include "console/StationWindows.h"
#include "console/frmPABX.h"
#include "core/MDIMain.h"
#include "core/Main.h"
#include "core/ModDefine.h"
#include "core/books/ChargeLog.h"
#include "core/books/CopyRecovery.h"
#include "core/books/WriteAhead.h"
#include "pricing/ClsMonitor.h"
#include "params/CellEdit.h"
#include "params/RowEdit.h"
#include "params/SavePara.h"
#include "platform/AppExit.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"
#include "support/SwitchOnPty.h"
#include "transfer/frmIPPuhPara.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

QString g_logPath;
testsupport::SwitchOnPty* g_link = nullptr;
bool g_loaded = false;

// The station's clock: standing at `start` until loading is done, then running.
QDateTime g_clockStart;
QElapsedTimer g_sinceLoaded;

QDateTime stationNow() {
    if (!g_loaded || !g_sinceLoaded.isValid()) return g_clockStart;
    return g_clockStart.addMSecs(g_sinceLoaded.elapsed());
}

// A SIGKILL at the chosen archive stage: the process ends where it stands.
struct ArchiveKill {
    QString stage;
    int nth = 0;
    bool nightlyOnly = false;
    int seen = 0;
};
ArchiveKill g_archiveKill;

const char* stageName(billing::testing::ArchiveStage s) {
    using S = billing::testing::ArchiveStage;
    switch (s) {
    case S::MonthCopied: return "copied";
    case S::MonthDone: return "month";
    case S::Compacted: return "compacted";
    case S::Detached: return "detached";
    case S::Replaced: return "replaced";
    }
    return "";
}

void parseArchiveKill(const QString& spec, bool nightlyOnly) {
    g_archiveKill.stage = spec.section(QLatin1Char(':'), 0, 0);
    g_archiveKill.nth = qMax(1, spec.section(QLatin1Char(':'), 1, 1).toInt());
    g_archiveKill.nightlyOnly = nightlyOnly;
    billing::testing::setHook([](billing::testing::ArchiveStage s) {
        if (g_archiveKill.nightlyOnly && !g_loaded) return;
        if (g_archiveKill.stage != QLatin1String(stageName(s))) return;
        if (++g_archiveKill.seen < g_archiveKill.nth) return;
        ::kill(::getpid(), SIGKILL);
    });
}

void writeLog(const QString& line) {
    if (g_logPath.isEmpty()) {
        std::fprintf(stdout, "%s\n", line.toUtf8().constData());
        std::fflush(stdout);
        return;
    }
    QFile f(g_logPath);
    if (f.open(QIODevice::Append | QIODevice::Text)) {
        f.write(line.toUtf8() + '\n');
        f.flush();
        ::fsync(f.handle());
    }
}

int resultOf(const QString& r) {
    const QString l = r.trimmed().toLower();
    if (l == "ok") return platform::rOK;
    if (l == "cancel") return platform::rCancel;
    if (l == "abort") return platform::rAbort;
    if (l == "retry") return platform::rRetry;
    if (l == "ignore") return platform::rIgnore;
    if (l == "yes") return platform::rYes;
    if (l == "no") return platform::rNo;
    return l.toInt();
}

void addAnswer(const QString& spec) {
    const int p = spec.lastIndexOf(QLatin1Char('='));
    if (p < 0) return;
    platform::script::answer(spec.left(p), resultOf(spec.mid(p + 1)));
}

// Every prompt shown so far, once.
void flushPrompts() {
    static int written = 0;
    const auto& shown = platform::script::shown();
    const auto& unexpected = platform::script::unexpected();
    for (; written < shown.size(); ++written) {
        const auto& s = shown[written];
        bool isUnexpected = false;
        for (const auto& u : unexpected)
            if (u.text == s.text && u.title == s.title) isUnexpected = true;
        writeLog(QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(isUnexpected ? "UNEXPECTED" : "PROMPT")
                     .arg(static_cast<int>(s.kind))
                     .arg(s.title, s.text));
    }
}

// A step of the run done: the prompts it showed, then its own line.
void logStep(const QString& line) {
    flushPrompts();
    writeLog(line);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    platform::Application app(argc, argv);
    core::SetConsoleMaker([]() -> core::Console* { return &frmPABX::instance(); });
    console::UseStationWindows();
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: tarvo-testrunner PROGRAM_DIR [--log FILE] [--answer TEXT=RESULT]... "
                             "[--stay-ms N]\n");
        return 2;
    }
    platform::script::reset();
    platform::script::enable();
    int stayMs = -1;
    bool loginCancel = false;
    bool withSwitch = true;
    QString commDevice, restoreFrom;
    bool recordUpload = false;
    QString siteName = QStringLiteral("默认");
    QStringList pays, deletes, adds, inits, gives;
    QString backupTo;
    bool backupArchives = false;
    bool usersBackup = false, usersRestore = false;
    QStringList rowDeletes, downloads;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--log" && i + 1 < args.size()) g_logPath = args[++i];
        else if (args[i] == "--answer" && i + 1 < args.size()) addAnswer(args[++i]);
        else if (args[i] == "--stay-ms" && i + 1 < args.size()) stayMs = args[++i].toInt();
        else if (args[i] == "--login-cancel") loginCancel = true;
        else if (args[i] == "--no-switch") withSwitch = false;
        else if (args[i] == "--site" && i + 1 < args.size()) siteName = args[++i];
        else if (args[i] == "--comm-device" && i + 1 < args.size()) {
            commDevice = args[++i];
            withSwitch = false;
        } else if (args[i] == "--clock" && i + 1 < args.size())
            g_clockStart = QDateTime::fromString(args[++i], QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        else if (args[i] == "--kill-in-archive" && i + 1 < args.size()) parseArchiveKill(args[++i], false);
        else if (args[i] == "--kill-in-nightly-archive" && i + 1 < args.size()) parseArchiveKill(args[++i], true);
        else if (args[i] == "--kill-after-store" && i + 1 < args.size()) {
            const int nth = args[++i].toInt();
            pricing::testing::setStoredHook([nth, seen = 0]() mutable {
                if (++seen >= nth) ::kill(::getpid(), SIGKILL);
            });
        }
        else if (args[i] == "--restore-from" && i + 1 < args.size()) restoreFrom = args[++i];
        else if (args[i] == "--record-upload") recordUpload = true;
        else if (args[i] == "--pay" && i + 1 < args.size()) pays << args[++i];
        else if (args[i] == "--delete-user" && i + 1 < args.size()) deletes << args[++i];
        else if (args[i] == "--add-user" && i + 1 < args.size()) adds << args[++i];
        else if (args[i] == "--give-ext" && i + 1 < args.size()) gives << args[++i];
        else if (args[i] == "--backup-to" && i + 1 < args.size()) backupTo = args[++i];
        else if (args[i] == "--backup-archives") backupArchives = true;
        else if (args[i] == "--init-user" && i + 1 < args.size()) inits << args[++i];
        else if (args[i] == "--users-backup") usersBackup = true;
        else if (args[i] == "--users-restore") usersRestore = true;
        else if (args[i] == "--delete-row" && i + 1 < args.size()) rowDeletes << args[++i];
        else if (args[i] == "--download" && i + 1 < args.size()) downloads << args[++i];
        else if (args[i] == "--kill-at-writeahead" && i + 1 < args.size()) {
            const QString kind = args[++i].section(QLatin1Char(':'), 0, 0);
            const QString step = args[i].section(QLatin1Char(':'), 1, 1);
            const int nth = qMax(1, args[i].section(QLatin1Char(':'), 2, 2).toInt());
            const QString key = args[i].section(QLatin1Char(':'), 3, 3);
            ModSwitch::testing::setWriteAheadHook(
                [kind, key, step, nth, seen = 0](const QString& k, const QString& which, const QString& s) mutable {
                    if (k == kind && (key.isEmpty() || which == key) && s == step && ++seen >= nth) ::kill(::getpid(), SIGKILL);
                });
        }
        else if (args[i] == "--kill-at-prompt" && i + 1 < args.size()) {
            const QString text = args[++i];
            platform::script::whileShown([text](const QString& shown) {
                if (!shown.contains(text)) return;
                flushPrompts();
                ::kill(::getpid(), SIGKILL);
            });
        }
        else if ((args[i] == "--kill-in-copy-restore" || args[i] == "--kill-in-restore") && i + 1 < args.size()) {
            // Either road of a restore, at the nth time a step is reached ("renamed:3").
            const QString step = args[++i].section(QLatin1Char(':'), 0, 0);
            const int nth = qMax(1, args[i].section(QLatin1Char(':'), 1, 1).toInt());
            ModSwitch::testing::setRestoreStepHook([step, nth, seen = 0](const QString& s) mutable {
                if (s == step && ++seen >= nth) ::kill(::getpid(), SIGKILL);
            });
        }
    }

    if (g_clockStart.isValid()) {
        platform::testing::recordPcClock();
        platform::testing::setNow(stationNow);
    }

    testsupport::scriptLogin(QStringLiteral("0000"), QStringLiteral("0000"), loginCancel);

    admin::RegisterSiteChooser();
    platform::script::onModal(QStringLiteral("frmSelTerminal"), [siteName](QDialog* d) {
        auto* w = static_cast<frmSelTerminal*>(d);
        const QList<QTreeWidgetItem*> found = w->lvwPoint->findItems(siteName, Qt::MatchExactly);
        if (!found.isEmpty()) w->lvwPoint->setCurrentItem(found.first());
        platform::script::answer(QStringLiteral("真的要选择<"), platform::rYes);
        w->cmdSelect->click();
    });

    // Every end of the station passes here: the log is completed, then the process ends.
    platform::testing::setEndHandler([](int code) {
        flushPrompts();
        if (g_link) {
            // The switch's thread reads what is still on the line first.
            g_link->sw().waitReadAll(30000);
            for (const sim::Frame& f : g_link->sw().received()) writeLog(QStringLiteral("SWITCH\t") + f.hex());
        }
        // A wait that yielded inside a transaction fails the test that ran the station.
        if (platform::yieldsInTransaction() > 0)
            writeLog(QStringLiteral("YIELDS_IN_TRANSACTION\t%1").arg(platform::yieldsInTransaction()));
        writeLog(QStringLiteral("END\t%1").arg(code));
        ::_exit(code);
    });

    // Once the frame is up (the console's load is done), report and close.
    auto* watch = new QTimer(&app);
    watch->setInterval(10);
    QObject::connect(watch, &QTimer::timeout, [watch, stayMs, restoreFrom, recordUpload, pays, deletes, adds, gives, backupTo,
                                                 backupArchives, inits, usersBackup, usersRestore, rowDeletes, downloads] {
        if (!MDIMain::exists() || !MDIMain::instance().isVisible()) return;
        watch->stop();
        g_sinceLoaded.start();
        g_loaded = true;
        logStep(QStringLiteral("LOADED\t%1").arg(MDIMain::instance().windowTitle()));
        if (!restoreFrom.isEmpty()) {
            // As the operator does it: restore mode, the folder, every file checked, "恢复".
            frmDBManager& w = frmDBManager::instance();
            w.opt_Click(2);
            w.txtPath->setText(restoreFrom);
            w.tvwDB->topLevelItem(0)->setCheckState(0, Qt::Checked);
            w.cmd_Click(1);
            logStep(QStringLiteral("RESTORED"));
        }
        for (const QString& a : adds) {
            // As the operator does it: the user view, 添加, the cells typed, 保存.
            frmPABX& f = frmPABX::instance();
            f.ShowView(QStringLiteral("User"));
            ModSwitch::AddParaRecord(7);
            platform::FlexGrid& g = *f.fgDisp;
            const int row = g.Rows() - 1;
            const qint64 id = g.TextMatrix(row, 0).toLongLong();
            f.txtModify->hide();
            for (const auto& [col, text] : {std::pair{1, a.section(QLatin1Char(':'), 0, 0)}, std::pair{3, QStringLiteral("按月用户")},
                                            std::pair{4, a.section(QLatin1Char(':'), 1, 1)}}) {
                GridMouseCol = col;
                GridSelFirst = GridSelLast = row;
                ModSwitch::SaveCellEdit(g, text);
            }
            platform::script::answer(QStringLiteral("参数已经改变"), platform::rYes);
            const bool ok = ModSwitch::SaveSwitchPara(7, true) &&
                            !dbSwitch.scalar(QStringLiteral("SELECT userid FROM user WHERE userid=?"), {id}).isNull();
            // The extension given as the extensions' grid gives it: an entry of the journal.
            if (ok)
                ModSwitch::MoveOwners([&] {
                    dbSwitch.execute(QStringLiteral("UPDATE extension SET userid=? WHERE address=?"),
                                     {id, a.section(QLatin1Char(':'), 2, 2).toLongLong()});
                });
            logStep(QStringLiteral("ADDED\t%1\t%2").arg(id).arg(ok ? 1 : 0));
        }
        for (const QString& g : gives) {
            const qint64 ext = g.section(QLatin1Char(':'), 0, 0).toLongLong(), user = g.section(QLatin1Char(':'), 1, 1).toLongLong();
            bool ok = true;
            try {
                ModSwitch::MoveOwners([&] {
                    dbSwitch.execute(QStringLiteral("UPDATE extension SET userid=?, bset=1 WHERE address=?"), {user, ext});
                });
            } catch (const platform::DbError&) {
                ok = false;
            }
            logStep(QStringLiteral("GIVEN\t%1\t%2\t%3").arg(ext).arg(user).arg(ok ? 1 : 0));
        }
        for (const QString& p : pays) {
            QString error;
            const bool ok = billing::PayUser(p.section(QLatin1Char(':'), 0, 0).toLongLong(),
                                             *platform::Currency::parse(p.section(QLatin1Char(':'), 1, 1)),
                                             *platform::Currency::parse(p.section(QLatin1Char(':'), 2, 2)),
                                             platform::Now(), &error);
            logStep(QStringLiteral("PAID\t%1\t%2").arg(p.section(QLatin1Char(':'), 0, 0)).arg(ok ? 1 : 0));
        }
        if (!deletes.isEmpty()) {
            billing::setUserDownload([](qint64, int) { return true; });
            for (const QString& u : deletes) {
                const qint64 id = u.toLongLong();
                const QString name =
                    dbSwitch.scalar(QStringLiteral("SELECT username FROM user WHERE userid=?"), {id}).toString();
                const bool ok = billing::AfterPayment(id, name, billing::kDeleteUser, platform::Now());
                logStep(QStringLiteral("DELETED\t%1\t%2").arg(id).arg(ok ? 1 : 0));
            }
            billing::setUserDownload({});
        }
        for (const QString& u : inits) {
            // As the operator does it: the user's row of the user view, 初始化, Yes.
            frmPABX& f = frmPABX::instance();
            f.ShowView(QStringLiteral("User"));
            platform::FlexGrid& g = *f.fgDisp;
            for (int r = 1; r < g.Rows(); ++r)
                if (g.TextMatrix(r, 0).trimmed() == u) GridSelFirst = GridSelLast = r;
            platform::script::answer(QStringLiteral("要强制初始化用户吗"), platform::rYes);
            f.mnuInitUser_Click();
            logStep(QStringLiteral("INITED\t%1").arg(u));
        }
        if (usersBackup || usersRestore) {
            // As the operator does it: the user view, the toolbar's 备份 or 恢复, Yes.
            frmPABX& f = frmPABX::instance();
            f.ShowView(QStringLiteral("User"));
            platform::script::answer(usersBackup ? QStringLiteral("要备份数据库吗?") : QStringLiteral("要从备份库恢复数据吗?"),
                                     platform::rYes);
            f.tbrSwitch_ButtonClick(usersBackup ? QStringLiteral("Backup") : QStringLiteral("Restore"));
            logStep(usersBackup ? QStringLiteral("USERSBACKEDUP") : QStringLiteral("USERSRESTORED"));
        }
        for (const QString& u : rowDeletes) {
            // As the operator does it: the user's row of the user view, 删除, Yes.
            frmPABX& f = frmPABX::instance();
            f.ShowView(QStringLiteral("User"));
            platform::FlexGrid& g = *f.fgDisp;
            for (int r = 1; r < g.Rows(); ++r)
                if (g.TextMatrix(r, 0).trimmed() == u) {
                    GridSelFirst = GridSelLast = r;
                    g.setRow(r);
                    g.setRowSel(r);
                }
            platform::script::answer(QStringLiteral("要删除第"), platform::rYes);
            f.tbrSwitch_ButtonClick(QStringLiteral("Delete"));
            logStep(QStringLiteral("ROWDELETED\t%1").arg(u));
        }
        for (const QString& v : downloads) {
            // As the operator does it: the view, then the toolbar's 下载.
            frmPABX& f = frmPABX::instance();
            f.ShowView(v);
            f.tbrSwitch_ButtonClick(QStringLiteral("DownLoad"));
            logStep(QStringLiteral("DOWNLOADED\t%1\t%2").arg(v, f.sbrInfo->panelText(2)));
        }
        if (!backupTo.isEmpty()) {
            // As the operator does it: backup mode, the folder, the station file (and the year files), "备份".
            frmDBManager& w = frmDBManager::instance();
            w.opt_Click(0);
            w.txtPath->setText(backupTo);
            QTreeWidgetItem* root = w.tvwDB->topLevelItem(0);
            for (int i = 0; i < root->childCount(); ++i)
                root->child(i)->setCheckState(
                    0, backupArchives || root->child(i)->data(0, Qt::UserRole).toString() == QLatin1String("Switch")
                           ? Qt::Checked
                           : Qt::Unchecked);
            w.cmd_Click(0);
            logStep(QStringLiteral("BACKEDUP"));
        }
        if (recordUpload) {
            // As the operator does it: the menu item, then "上传话单".
            frmPABX::instance().mnuIPPUHPARA_Click();
            if (frmIPPuhPara::exists()) {
                frmIPPuhPara::instance().cmdUpBill->click();
                frmIPPuhPara::unload();
            }
            logStep(QStringLiteral("UPLOADED"));
        }
        QTimer::singleShot(qMax(0, stayMs), [] { frmPABX::instance().CloseApp(); });
    });
    watch->start();

    testsupport::SwitchOnPty link;
    const QString data = platform::resolveCI(args[0], QStringLiteral("data"));
    const QString db = data.isEmpty() ? QString() : platform::resolveCI(data, QStringLiteral("switch.mdb"));
    if (!db.isEmpty() && QFile::exists(db)) {
        if (withSwitch) {
            if (link.attach(db)) g_link = &link;
        } else {
            try {
                platform::Database sw = platform::Database::open(db);
                sw.execute(QStringLiteral("delete from Variant where varname='CommDevice'"));
                sw.execute(QStringLiteral("insert into Variant(varname,value) values('CommDevice',?)"),
                           {commDevice.isEmpty() ? args[0] + QStringLiteral("/no-switch") : commDevice});
            } catch (const platform::DbError&) {
                // A damaged file is the station's to find.
            }
        }
    }
    testsupport::scriptClockDialog();

    core::SetProgramDir(args[0]);
    return core::Main(argc, argv);
}
