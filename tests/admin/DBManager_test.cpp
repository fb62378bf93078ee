#include "admin/Restore.h"
#include "admin/frmDBManager.h"
#include "admin/frmFindDir.h"
#include "billing/ArchiveBills.h"
#include "billing/Settlement.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"
#include "core/books/ChargeLog.h"
#include "core/books/SafetyCopies.h"
#include "core/Settings.h"
#include "core/ModUpgrade.h"
#include "link/Monitor.h"
#include "params/BoardPanel.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/DbCopy.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "support/CallRows.h"
#include "support/Fixtures.h"
#include "support/Holds.h"
#include "support/RefusalWalk.h"

#include <QLabel>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <stdexcept>

using namespace ModDefine;
using platform::Database;
namespace script = platform::script;
using testsupport::holds;
using testsupport::lacks;
using testsupport::lastBox;

namespace {

class DBManagerTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerRights = QStringList{QStringLiteral("0")};
        archive("PhBill_2025.mdb", 3);
        archive("phbill_2026.mdb", 5);
    }
    void TearDown() override {
        admin::testing::setRestoreHook(nullptr);
        StationDbTest::TearDown();
    }
    // A year archive with `rows` calls in its first month, of extensions 0, 1, ...
    void archive(const QString& name, int rows) {
        Database a = Database::create(DataPath + name);
        a.execute("create table Tab_Ph1(f_calladdr integer, f_userid integer, f_date text)");
        for (int i = 0; i < rows; ++i) a.execute("insert into Tab_Ph1 values(?, ?, ?)", {i, i, "2025-01-01 10:00:00"});
    }
    static qint64 rows(const QString& path) {
        Database a = Database::open(path);
        return a.scalar("select count(*) from Tab_Ph1").toLongLong();
    }
    QString lastLog() { return dbSwitch.scalar("select f_memo from tab_oplog order by rowid desc limit 1").toString(); }
    frmDBManager& win() { return frmDBManager::instance(); }
    QString folder(const QString& name) {
        const QString f = dir->appPath() + name + '/';
        QDir().mkpath(f);
        return f;
    }
    // 备份 (`mode` 0) into or 恢复 (2) from `f`, the box `told` answered; the
    // file `unchecked` (0: the station's, 1) left out.
    void dbManager(int mode, const QString& f, const char* told, int unchecked = -1) {
        if (told) script::answer(told, platform::rOK);
        win().opt_Click(mode);
        win().txtPath->setText(f);
        if (unchecked >= 0) win().tvwDB->topLevelItem(0)->child(unchecked)->setCheckState(0, Qt::Unchecked);
        win().cmd_Click(mode == 0 ? 0 : 1);
    }
    void backupTo(const QString& f, const char* told = nullptr, int unchecked = -1) { dbManager(0, f, told, unchecked); }
    void restoreFrom(const QString& f, const char* told, int unchecked = -1) { dbManager(2, f, told, unchecked); }
    // 备份 of every file into a fresh folder "bk", told it is done; the folder.
    QString backedUp() {
        const QString f = folder("bk");
        backupTo(f, "备份完成");
        return f;
    }
    // The timed backup on, every `interval` days, the last on `last`; its folder.
    QString timedBackup(const char* interval, const char* last) {
        ModSwitch::SetVariant("ChkAutoBackup", "1");
        ModSwitch::SetVariant("IntervalDay", interval);
        ModSwitch::SetVariant("LastBackupDay", last);
        const QString autoPath = folder("auto");
        ModSwitch::SetVariant("AutoPath", autoPath);
        return autoPath;
    }
    // What a restore leaves beside the files: its temporaries and its journal.
    static QStringList leftovers() {
        return QDir(DataPath).entryList({"*" + admin::RestoreTempSuffix() + "*", admin::RestoreJournalName() + "*", "*.recovering"},
                                        QDir::Files | QDir::Hidden);
    }
    // `pairs` restored, the restore killed at its step `point`.
    static void killedAt(const QList<admin::RestorePair>& pairs, const char* point) {
        admin::testing::setRestoreHook([point](const QString& p) {
            if (p == QLatin1String(point)) throw std::runtime_error("killed");
        });
        EXPECT_THROW(admin::ReplaceFiles(pairs), std::runtime_error) << point;
        admin::testing::setRestoreHook(nullptr);
    }
    // Every `op` on a file whose name holds `part` (is it, in any case, when
    // `whole`) refused with `err`.
    static void refuse(const char* op, const QString& part, int err, bool whole = false) {
        platform::testing::setFaultHook([=](const QString& o, const QString& path) {
            const QString name = QFileInfo(path).fileName();
            const bool hit = whole ? name.compare(part, Qt::CaseInsensitive) == 0 : path.contains(part);
            return o == QLatin1String(op) && hit ? err : 0;
        });
    }
};

TEST_F(DBManagerTest, BackupCopiesStationAndArchivesButNeverTheCurrentCalls) {
    const QString f = backedUp();
    EXPECT_EQ(QDir(f).entryList(QDir::Files, QDir::Name),
              (QStringList{"PhBill_2025.mdb", "Switch.mdb", "phbill_2026.mdb"}));
    for (const QString& n : QDir(f).entryList(QDir::Files)) EXPECT_TRUE(Database::open(f + n).quickCheck()) << n.toStdString();
    EXPECT_EQ(rows(f + "phbill_2026.mdb"), 5);
    EXPECT_EQ(lastLog(), "手动备份");

    // Only the archives: the station database is left out.
    const QString g = folder("bk2");
    backupTo(g, "备份完成", 0);
    EXPECT_EQ(QDir(g).entryList(QDir::Files).size(), 2);
    EXPECT_FALSE(QFileInfo::exists(g + "Switch.mdb"));
}

// Every overwrite is asked first; one declined, or a target that cannot be
// replaced, and nothing of the set is written: the folder keeps what it held.
TEST_F(DBManagerTest, OverwriteDeclinedOrFailedCopyEndsWithoutCompletion) {
    const QString f = folder("bk");
    QFile(f + "PhBill_2025.mdb").open(QIODevice::WriteOnly);
    QDir().mkpath(f + "phbill_2026.mdb/keep");   // a target that cannot be replaced
    script::answer("PhBill_2025.mdb文件已经存在", platform::rYes);
    script::answer("phbill_2026.mdb文件已经存在", platform::rYes);
    script::answer("备份phbill_2026.mdb失败", platform::rOK);
    backupTo(f);
    EXPECT_EQ(QFileInfo(f + "PhBill_2025.mdb").size(), 0);
    EXPECT_FALSE(QFileInfo::exists(f + "Switch.mdb"));
    EXPECT_NE(lastLog(), "手动备份");
    EXPECT_EQ(script::pendingAnswers(), 0);

    // An existing backup whose name differs in case is the same file: asked about.
    QDir(f + "phbill_2026.mdb").removeRecursively();
    QFile(f + "SWITCH.MDB").open(QIODevice::WriteOnly);
    script::answer("SWITCH.MDB文件已经存在", platform::rYes);
    script::answer("文件已经存在", platform::rNo);   // the second file: nothing more happens
    backupTo(f);
    EXPECT_EQ(QFileInfo(f + "SWITCH.MDB").size(), 0);
    EXPECT_EQ(QFileInfo(f + "PhBill_2025.mdb").size(), 0);
    EXPECT_NE(lastLog(), "手动备份");
    EXPECT_EQ(script::pendingAnswers(), 0);
}

// A backup that gives up on one file (held by another program, a full disk)
// leaves the folder's set as it was: never the new station file beside an
// older year file, unsaid. The new set is swapped in only once all of it is in.
TEST_F(DBManagerTest, ABackupThatGivesUpOnOneFileLeavesTheFoldersSetWhole) {
    const QString f = folder("bk");
    ModSwitch::SetVariant("Marker", "first");
    backupTo(f, "备份完成");
    ASSERT_EQ(QDir(f).entryList(QDir::Files).size(), 3);
    ModSwitch::SetVariant("Marker", "second");
    refuse("sync", "phbill_2026", ENOSPC);
    script::answer("phbill_2026.mdb文件已经存在", platform::rYes);
    for (int i = 0; i < 2; ++i) script::answer("文件已经存在", platform::rYes);
    script::answer("备份phbill_2026.mdb失败", platform::rOK);
    backupTo(f);
    platform::testing::setFaultHook(nullptr);
    EXPECT_EQ(script::pendingAnswers(), 0);
    // The station file in the folder is the first backup's, like its year files.
    EXPECT_EQ(Database::open(f + "Switch.mdb").scalar("SELECT value FROM Variant WHERE varname='Marker'").toString(), "first");
    EXPECT_EQ(QDir(f).entryList(QDir::Files | QDir::Hidden).size(), 3) << QDir(f).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString();
}

TEST_F(DBManagerTest, DamagedSourceIsRefusedBeforeAnythingIsClosed) {
    // Bytes that are no database, and a sound-looking file that reads well
    // but holds a page nothing uses (only quick_check tells).
    for (const bool orphan : {false, true}) {
        SCOPED_TRACE(orphan ? "orphan page" : "garbage");
        const QString f = folder(orphan ? "bk2" : "bk");
        backupTo(f, "备份完成");
        // A call stored since: a restore would take it away.
        Database::open(DataPath + "phbill_2026.mdb").execute("insert into Tab_Ph1 values(9, 9, '2026-06-15 10:00:00')");
        if (orphan) {
            testsupport::addOrphanPage(f + "phbill_2026.mdb");
            EXPECT_EQ(rows(f + "phbill_2026.mdb"), 6);   // it still reads
        } else {
            testsupport::writeBytes(f + "phbill_2026.mdb", QByteArray(8192, 'x'));
        }
        restoreFrom(f, "恢复失败:phbill_2026.mdb");
        EXPECT_EQ(script::pendingAnswers(), 0);
        EXPECT_TRUE(dbSwitch.isOpen());
        EXPECT_EQ(rows(DataPath + "phbill_2026.mdb"), orphan ? 7 : 6);
        EXPECT_TRUE(Database::open(DataPath + "phbill_2026.mdb").quickCheck());
    }
}

// A backup never replaces the files the station works on: the data directory
// (spelled in any case) is refused, and what is written after is kept.
TEST_F(DBManagerTest, ABackupIntoTheDataDirectoryIsRefusedAndLeavesItsFilesAlone) {
    dbSwitch.useWriteAheadLog();
    ModSwitch::SetVariant("Marker", "1");
    const QString live = platform::resolveCI(DataPath, "switch.mdb");
    script::answer("备份路径不能是数据目录", platform::rOK);
    backupTo(DataPath);
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_TRUE(QFileInfo::exists(live + "-wal"));
    ModSwitch::SetVariant("Marker", "2");   // written afterwards: still there at the next opening
    ModSwitch::OpenAllDB(false);
    ModSwitch::OpenAllDB(true);
    EXPECT_EQ(ModSwitch::GetVariant("Marker"), "2");
}

// The operator clicks 备份 on a full disk (the copy refused as it is written,
// or as it is synced): the box names the file and says the disk is full.
TEST_F(DBManagerTest, ABackupOnAFullDiskSaysSo) {
    win().show();
    win().opt_Click(0);
    for (const char* step : {"write", "sync"}) {
        SCOPED_TRACE(step);
        win().txtPath->setText(folder(QStringLiteral("bk-") + step));
        platform::testing::setFaultHook([step](const QString& op, const QString& path) {
            return op == QLatin1String(step) && path.contains("Switch.mdb") ? ENOSPC : 0;
        });
        script::answer("备份Switch.mdb失败", platform::rOK);
        QTest::mouseClick(win().cmd[0], Qt::LeftButton);
        platform::testing::setFaultHook(nullptr);
        ASSERT_EQ(script::pendingAnswers(), 0);
        EXPECT_TRUE(holds(lastBox(), "磁盘已满"));
    }
}

// 恢复 from a folder that holds no file it would restore: the operator is
// told, and nothing is closed or replaced.
TEST_F(DBManagerTest, ARestoreFromAFolderWithNothingToRestoreSaysSo) {
    win().show();
    win().opt_Click(2);
    const QString f = folder("empty");
    QFile(f + "PhoneCur.mdb").open(QIODevice::WriteOnly);   // never restored
    win().txtPath->setText(f);
    ModSwitch::SetVariant("Marker", "kept");
    script::answer("没有可恢复的文件", platform::rOK);
    QTest::mouseClick(win().cmd[1], Qt::LeftButton);
    ASSERT_EQ(script::pendingAnswers(), 0);
    EXPECT_TRUE(holds(lastBox(), "Switch.mdb"));
    EXPECT_TRUE(dbSwitch.isOpen());
    EXPECT_EQ(ModSwitch::GetVariant("Marker"), "kept");
    EXPECT_NE(lastLog(), "恢复数据");
}

// Backups stand alone in rollback-journal mode: checking one writes nothing
// beside it; a restored file the system will not rename into place fails the
// restore with every file as it was.
TEST_F(DBManagerTest, BackupsStandAloneAndAFailedStepLeavesEveryFileAsItWas) {
    dbSwitch.useWriteAheadLog();
    const QString f = backedUp();
    for (const QString& n : QDir(f).entryList(QDir::Files)) {
        QFile b(f + n);
        ASSERT_TRUE(b.open(QIODevice::ReadOnly));
        const QByteArray head = b.read(20);
        EXPECT_EQ(int(head[18]), 1) << n.toStdString();
        EXPECT_EQ(int(head[19]), 1) << n.toStdString();
    }
    // A backup kept in write-ahead-log form by an older station: checked, nothing is written beside it.
    Database::open(f + "phbill_2026.mdb").execute("PRAGMA journal_mode=WAL");
    EXPECT_EQ(admin::CheckRestoreSource(f + "phbill_2026.mdb", false), QString());
    EXPECT_EQ(QDir(f).entryList(QDir::Files | QDir::Hidden).size(), 3);

    // The station file cannot be renamed into place: the restore fails, and says why.
    ModSwitch::SetVariant("Marker", "since");
    refuse("rename", "switch.mdb", EROFS, true);
    // The recovered station file is on the disk before it would be renamed in.
    QStringList synced;
    bool syncedFirst = false;
    platform::testing::setSyncHook([&](const QString& p) { synced << QFileInfo(p).fileName().toLower(); });
    admin::testing::setRestoreHook([&](const QString& point) {
        if (point == "recovered") syncedFirst = synced.contains("switch.mdb.recovering");
    });
    restoreFrom(f, "磁盘为只读");
    platform::testing::setFaultHook(nullptr);
    platform::testing::setSyncHook(nullptr);
    EXPECT_TRUE(syncedFirst);
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(ModSwitch::GetVariant("Marker"), "since");
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(DBManagerTest, RestoreBringsBackEveryFileAndReloadsSettingsAndBoards) {
    const QString f = folder("bk");
    ModSwitch::SetVariant("AppName", "Before");
    dbSwitch.execute("update moncard set dispcard=11 where cardorder=9");   // a special telephone in slot 9
    backupTo(f, "备份完成");
    ModSwitch::SetVariant("AppName", "After");
    AppName = "After";
    dbSwitch.execute("update moncard set dispcard=15 where cardorder=9");
    ModSwitch::LoadCards();
    ASSERT_EQ(ModComm::CardList[9].KindName, "空余板");
    Database(Database::open(DataPath + "PhBill_2025.mdb")).execute("insert into Tab_Ph1 values(9, 9, 'x')");
    restoreFrom(f, "数据恢复成功");
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(AppName, "Before");
    EXPECT_EQ(ModComm::CardList[9].KindName, "专用电话");
    EXPECT_EQ(ModComm::SpecPhoneCount, 1);
    EXPECT_EQ(rows(DataPath + "PhBill_2025.mdb"), 4);   // the call archived since the backup stays
    EXPECT_EQ(lastLog(), "恢复数据");
    EXPECT_EQ(leftovers(), QStringList());
}

// Each call of the current table and of every month table of `year`, by its
// key (extension and start), with how many times it is held.
QMap<QString, int> callsHeld(int year) {
    QMap<QString, int> held;
    auto count = [&](const Database& db, const QString& table) {
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_calladdr, f_date FROM %1").arg(db.qualified(table))); r.next();)
            ++held[r.text(0) + '/' + r.text(1)];
    };
    count(dbPhoneCur, "Tab_Phone");
    Database arch = Database::open(DataPath + billing::ArchiveFileName(year));
    for (const QString& t : arch.tableNames())
        if (t.startsWith("Tab_Ph", Qt::CaseInsensitive)) count(arch, t);
    return held;
}

// Calls answered, archived, backed up with the year file, more calls answered
// and archived since, January's calls deleted by the operator: the restore
// through the window puts the year file back holding every call once, those
// archived since the backup as well as January's, the box says how many each
// side gave, and the settlement's sums see them all.
TEST_F(DBManagerTest, ARestoredYearFileKeepsTheCallsArchivedSinceItsBackup) {
    QFile::remove(DataPath + "PhBill_2025.mdb");
    QFile::remove(DataPath + "phbill_2026.mdb");
    auto answered = [](int n, const QDateTime& first) {
        testsupport::storeCalls(dbPhoneCur, n, [&](qint64 i) {
            return testsupport::CallRow{.calladdr = 5, .date = first.addSecs(i * 3600), .secs = 60, .rectype = 1,
                                        .fee = platform::Currency::fromYuan(1), .resp = "88001234", .zh = "    ",
                                        .phmode = 2, .userid = 7};
        });
        billing::ArchiveBills();
        ASSERT_TRUE(billing::LastArchiveRun().ran);
        ASSERT_EQ(billing::LastArchiveRun().left, 0);
    };
    answered(10, QDateTime(QDate(2026, 1, 5), QTime(9, 0)));
    answered(5, QDateTime(QDate(2026, 2, 3), QTime(9, 0)));
    const QString f = backedUp();
    ASSERT_TRUE(QFile::exists(f + billing::ArchiveFileName(2026)));
    answered(2, QDateTime(QDate(2026, 2, 20), QTime(9, 0)));
    answered(8, QDateTime(QDate(2026, 3, 2), QTime(9, 0)));
    // 话单管理 deletes January's calls from the year file.
    Database(Database::open(DataPath + billing::ArchiveFileName(2026))).execute("DROP TABLE Tab_Ph1");
    ASSERT_EQ(callsHeld(2026).size(), 15);

    restoreFrom(f, "数据恢复成功");
    ASSERT_EQ(script::pendingAnswers(), 0);
    EXPECT_TRUE(lastBox().contains(
        billing::ArchiveFileName(2026) + "：从备份找回10张现有文件中没有的话单，保留备份之后归档的10张话单。"))
        << lastBox().toStdString();
    const QMap<QString, int> held = callsHeld(2026);
    EXPECT_EQ(held.size(), 25);
    for (auto it = held.cbegin(); it != held.cend(); ++it) EXPECT_EQ(it.value(), 1) << it.key().toStdString();
    billing::PeriodSums sums;
    QList<billing::DetailRow> details;
    billing::TotalBill(7, QDateTime(QDate(2026, 1, 1), QTime(0, 0)), QDateTime(QDate(2027, 1, 1), QTime(0, 0)),
                       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0, sums, details);
    EXPECT_EQ(sums.total(), platform::Currency::fromYuan(25));
}

// A year file of 3,000 calls backed up, then, on the station's side: 200
// calls archived since; or a call's fee changed since; or the month dropped
// and as many other calls archived under the same row numbers. The restore
// through the window keeps every call once, the backup's content where both
// hold a call; the station's file stays untouched only where it held every
// call of the backup as the backup has it.
TEST_F(DBManagerTest, ARestoreKeepsTheStationsYearFileOnlyWhereItHoldsEveryCallOfTheBackup) {
    const QString year = DataPath + "phbill_2026.mdb";
    auto calls = [](const QString& path) {
        QMap<QString, QString> held;
        Database a = Database::open(path);
        for (platform::RowReader r = a.rows("select f_calladdr, f_date, f_moneny from Tab_Ph1"); r.next();) {
            const QString key = r.text(0) + '/' + r.text(1);
            held[key] = held.contains(key) ? QStringLiteral("twice") : r.text(2);
        }
        return held;
    };
    auto answered = [](const Database& a, int n, int hour, int fee) {
        platform::Transaction tx(a);
        for (int i = 0; i < n; ++i)
            a.execute("insert into Tab_Ph1 values(?, ?, ?, ?)",
                      {i % 40, i % 40,
                       QString("2026-01-05 %1:%2:%3").arg(hour, 2, 10, QChar('0')).arg(i / 60, 2, 10, QChar('0')).arg(i % 60, 2, 10, QChar('0')),
                       fee});
        tx.commit();
    };
    enum Since { Archived, FeeChanged, MonthRefilled };
    for (const Since since : {Archived, FeeChanged, MonthRefilled}) {
        SCOPED_TRACE(since);
        {
            QFile::remove(year);
            Database a = Database::create(year);
            a.execute("create table Tab_Ph1(f_calladdr integer, f_userid integer, f_date text, f_moneny integer)");
            answered(a, 3000, 8, 100);
        }
        const QString f = folder(QString("bk%1").arg(int(since)));
        backupTo(f, "备份完成");
        ASSERT_EQ(script::pendingAnswers(), 0);
        const QMap<QString, QString> backedUp = calls(f + "phbill_2026.mdb");
        ASSERT_EQ(backedUp.size(), 3000);
        QMap<QString, QString> expected = backedUp;
        {
            Database a = Database::open(year);
            if (since == Archived) {
                answered(a, 200, 20, 300);
            } else if (since == FeeChanged) {
                a.execute("update Tab_Ph1 set f_moneny=999 where rowid=1500");
            } else {
                a.execute("delete from Tab_Ph1");
                answered(a, 3000, 21, 400);
            }
        }
        for (auto [key, fee] : calls(year).asKeyValueRange())
            if (!expected.contains(key)) expected[key] = fee;
        const QByteArray before = platform::fileIdentity(year);
        restoreFrom(f, "数据恢复成功");
        ASSERT_EQ(script::pendingAnswers(), 0);
        EXPECT_EQ(calls(year), expected);
        EXPECT_EQ(platform::fileIdentity(year) == before, since == Archived);
        const QString line = since == Archived      ? "phbill_2026.mdb：从备份找回0张现有文件中没有的话单，保留备份之后归档的200张话单。"
                             : since == FeeChanged ? "数据恢复成功"
                                                   : "phbill_2026.mdb：从备份找回3000张现有文件中没有的话单，保留备份之后归档的3000张话单。";
        EXPECT_TRUE(holds(lastBox(), line));
        // A year file that gave and kept nothing has no line.
        if (since == FeeChanged) {
            EXPECT_TRUE(lacks(lastBox(), "从备份找回"));
        }
        EXPECT_EQ(leftovers(), QStringList());
    }
}

// A year file that cannot be merged (the station's own is damaged) is not
// restored at all, nor is anything else: the box says why.
TEST_F(DBManagerTest, AYearFileThatCannotBeMergedIsNotRestored) {
    const QString f = backedUp();
    ModSwitch::SetVariant("Marker", "since");
    testsupport::writeBytes(DataPath + "phbill_2026.mdb", QByteArray(8192, 'x'));
    restoreFrom(f, "恢复失败:phbill_2026.mdb（现有话单未能并入备份");
    EXPECT_EQ(script::pendingAnswers(), 0) << lastBox().toStdString();
    EXPECT_EQ(ModSwitch::GetVariant("Marker"), "since");
    EXPECT_EQ(QFileInfo(DataPath + "phbill_2026.mdb").size(), 8192);
    EXPECT_EQ(rows(DataPath + "PhBill_2025.mdb"), 3);
    EXPECT_EQ(leftovers(), QStringList());
}

// The calls stored since a backup are charged to its balances when it is put
// back, once: should the restored file be damaged and put back from its
// fresh safety copy, they are not charged a second time.
TEST_F(DBManagerTest, CallsLoggedSinceABackupAreChargedOnceWhenItIsPutBack) {
    const QString f = folder("bk");
    dbSwitch.execute("insert into user (userid, username, balancemode, remain) values (7, '用户7', 1, ?)",
                     {platform::Currency::fromYuan(100)});
    backupTo(f, "备份完成");
    {
        platform::Transaction tx(dbSwitch);
        ModSwitch::LogCharge(7, platform::Currency::fromYuan(5), platform::Currency::fromYuan(95), 5, "2026-06-15 09:00:00");
        tx.commit();
    }
    EXPECT_EQ(dbSwitch.scalar("select remain from user where userid=7").toLongLong(), platform::Currency::fromYuan(95).raw());
    restoreFrom(f, "数据恢复成功");
    ASSERT_EQ(script::pendingAnswers(), 0);
    EXPECT_TRUE(holds(lastBox(), "重新计入备份之后的1笔话费，共5.00元。"));
    EXPECT_EQ(dbSwitch.scalar("select remain from user where userid=7").toLongLong(), platform::Currency::fromYuan(95).raw());
    ModSwitch::OpenAllDB(false);
    QFile::remove(DataPath + "switch.mdb");
    script::answer("已用备份switch.mdb.bak恢复", platform::rOK);
    ModSwitch::CompactDB("Switch.mdb");
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(Database::open(DataPath + "switch.mdb").scalar("select remain from user where userid=7").toLongLong(),
              platform::Currency::fromYuan(95).raw());
    ModSwitch::OpenAllDB(true);
}

// Another station's backup chosen by mistake is refused whole, named, before
// anything is closed for good or merged: neither its station file (whose
// balances would take this station's charges) nor its year file (whose calls
// the bill query and the settlement would count here) goes in.
TEST_F(DBManagerTest, AnotherStationsBackupIsRefusedWholeItsYearFilesIncluded) {
    const QString f = backedUp();
    ModSwitch::SetCallFileNote(ModSwitch::kStationId, "this station");
    {
        Database other = Database::open(f + "Switch.mdb");
        other.execute("delete from Variant where varname=?", {ModSwitch::kStationId});
        other.execute("insert into Variant(varname,value) values(?,'another station')", {ModSwitch::kStationId});
        Database year = Database::open(f + "phbill_2026.mdb");
        for (int i = 0; i < 32; ++i) year.execute("insert into Tab_Ph1 values(?, 2, '2026-03-01 10:00:00')", {100 + i});
    }
    ModSwitch::SetVariant("Marker", "since");
    restoreFrom(f, "恢复失败:Switch.mdb（");
    ASSERT_EQ(script::pendingAnswers(), 0) << lastBox().toStdString();
    EXPECT_TRUE(holds(lastBox(), "属于另一个话务台或站点，未恢复任何文件"));
    for (const script::Shown& b : script::shown()) EXPECT_TRUE(lacks(b.text, "数据恢复成功"));
    EXPECT_EQ(ModSwitch::GetVariant("Marker"), "since");
    EXPECT_EQ(rows(DataPath + "phbill_2026.mdb"), 5);
    EXPECT_EQ(rows(DataPath + "PhBill_2025.mdb"), 3);
    EXPECT_EQ(leftovers(), QStringList());
}

// A year file is merged once a restore: its completion leaves a station's
// year file untouched since the merge alone (here held by another program
// meanwhile, as a merge would wait on it; a kill after the journal had every
// start merge it again), and merges one that changed (the test above).
TEST_F(DBManagerTest, AYearFileIsMergedOnceARestore) {
    const QString f = backedUp();
    Database(Database::open(f + "phbill_2026.mdb")).execute("insert into Tab_Ph1 values(7, 7, '2026-01-02 10:00:00')");
    Database holder;
    admin::testing::setRestoreHook([&](const QString& p) {
        if (p != "marked") return;
        holder = Database::open(DataPath + "phbill_2026.mdb");
        holder.execute("BEGIN EXCLUSIVE");
    });
    restoreFrom(f, "数据恢复成功", 0);
    admin::testing::setRestoreHook(nullptr);
    if (holder.isOpen()) {
        holder.execute("ROLLBACK");
        holder.close();
    }
    ASSERT_EQ(script::pendingAnswers(), 0) << lastBox().toStdString();
    EXPECT_TRUE(holds(lastBox(), "phbill_2026.mdb：从备份找回1张现有文件中没有的话单，保留备份之后归档的0张话单。"));
    EXPECT_EQ(rows(DataPath + "phbill_2026.mdb"), 6);
}

// A backup made before the station gained a table is a sound file: the restore
// brings it up to date, and the next start, also after a kill past the rename,
// neither takes it for damaged nor puts the replaced file back.
TEST_F(DBManagerTest, RestoredFileFromAnOlderStationSurvivesTheNextStart) {
    const QString f = folder("bk");
    ModSwitch::SetVariant("AppName", "Before");
    ModSwitch::OpenAllDB(false);
    QFile::copy(DataPath + "switch.mdb", f + "Switch.mdb");
    Database(Database::open(f + "Switch.mdb")).execute("drop table tab_balance");
    for (const bool killed : {true, false}) {
        ModSwitch::OpenAllDB(true);
        ModUpgrade::UpgradeStationDb();   // the present file has every table...
        ModSwitch::SetVariant("AppName", "After");
        ModSwitch::OpenAllDB(false);
        ModSwitch::CompactDB("Switch.mdb");   // ...and so has its safety copy
        if (killed) {
            killedAt(admin::RestorePairs(f, DataPath, true, false), "renamed");
        } else {
            ModSwitch::OpenAllDB(true);
            restoreFrom(f, "数据恢复成功");
            EXPECT_TRUE(dbSwitch.hasTable("tab_balance"));
            EXPECT_TRUE(Database::open(DataPath + "switch.mdb.bak").hasTable("tab_balance"));
            ModSwitch::OpenAllDB(false);
        }
        admin::CompleteRestore(DataPath);   // the next start
        ModSwitch::CompactDB("Switch.mdb");
        EXPECT_EQ(Database::open(DataPath + "switch.mdb").scalar("select value from variant where varname='AppName'").toString(),
                  "Before")
            << killed;
    }
    ModSwitch::OpenAllDB(true);
}

// A restore decided and then killed, the station archiving into its year
// file before the next opening completes it: those calls are kept too, and
// the box's line is the one counted when the restore was decided.
TEST_F(DBManagerTest, CallsArchivedWhileARestoreWaitsAreKeptByItsCompletion) {
    ModSwitch::OpenAllDB(false);
    const QString f = folder("bk");
    QFile::copy(DataPath + "phbill_2026.mdb", f + "phbill_2026.mdb");
    Database(Database::open(f + "phbill_2026.mdb")).execute("insert into Tab_Ph1 values(7, 7, '2026-01-02 10:00:00')");
    killedAt(admin::RestorePairs(f, DataPath, false, true), "marked");
    Database(Database::open(DataPath + "phbill_2026.mdb")).execute("insert into Tab_Ph1 values(9, 9, '2026-06-15 10:00:00')");
    admin::CompleteRestore(DataPath);
    EXPECT_EQ(rows(DataPath + "phbill_2026.mdb"), 7);   // its 5, the backup's 1, the 1 archived while it waited
    QStringList lines;
    ASSERT_TRUE(admin::RestoreNotice(DataPath, &lines));
    EXPECT_EQ(lines, QStringList{"phbill_2026.mdb：从备份找回1张现有文件中没有的话单，保留备份之后归档的0张话单。"});
    admin::ForgetRestoreNotice(DataPath);
    ModSwitch::OpenAllDB(true);
}

TEST_F(DBManagerTest, TimedBackupFollowsTheIntervalAndKeepsTheDayOnFailure) {
    QDateTime now(QDate(2026, 3, 10), QTime(12, 0, 30));
    platform::testing::setNow([&] { return now; });
    const QString autoPath = timedBackup("3", "2026-03-03");   // 7 days ago
    EXPECT_TRUE(win().Timer1->isActive());
    win().Timer1_Timer();
    EXPECT_TRUE(QDir(autoPath).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());

    ModSwitch::SetVariant("LastBackupDay", "2026-03-04");   // 6 days ago
    frmDBManager::unload();
    win().Timer1_Timer();
    const QString made = autoPath + "202603101200/";
    EXPECT_EQ(QDir(made).entryList(QDir::Files).size(), 3);
    EXPECT_FALSE(QFileInfo::exists(made + "PhoneCur.mdb"));
    EXPECT_EQ(ModSwitch::GetVariant("LastBackupDay"), "2026-03-10");
    EXPECT_TRUE(win().lblLastBackupDay->text().startsWith("上次备份日期："));

    // A folder that cannot be made: logged, and the day of the last backup kept.
    ModSwitch::SetVariant("LastBackupDay", "2026-03-04");
    frmDBManager::unload();
    now = now.addSecs(-3600 * 24 * 3);   // 2026-03-07, 3 days after the last backup
    QFile(autoPath + "202603071200").open(QIODevice::WriteOnly);
    win().Timer1_Timer();
    EXPECT_EQ(lastLog(), "定时备份失败");
    EXPECT_EQ(ModSwitch::GetVariant("LastBackupDay"), "2026-03-04");
}

// Another program holds a year file through the whole timed backup: the
// station goes on, the log says which file and why, no copy of it is left
// and the day of the last backup is kept for the next try. Every step of the
// copy moves the clock on by 15 s; the holder would let go after the tenth.
TEST_F(DBManagerTest, ATimedBackupOfAFileHeldByAnotherProgramEndsAndLogsWhy) {
    QDateTime now(QDate(2026, 3, 10), QTime(12, 0, 30));
    platform::testing::setNow([&] { return now; });
    const QString autoPath = timedBackup("0", "2026-03-04");
    Database other = Database::open(DataPath + "PhBill_2025.mdb");
    other.execute("BEGIN EXCLUSIVE");
    other.execute("insert into Tab_Ph1 values(99, 99, '2025-02-01 10:00:00')");
    qint64 tick = 1000;
    int steps = 0;
    platform::testing::setTick([&] { return tick; });
    platform::testing::setStepCopyHook([&](int) {
        tick += 15000;
        if (++steps == 10) other.execute("ROLLBACK");
    });
    win().Timer1_Timer();
    platform::testing::setStepCopyHook(nullptr);
    platform::testing::setTick(nullptr);
    const QString log = lastLog();
    EXPECT_TRUE(log.startsWith("定时备份失败：PhBill_2025.mdb")) << log.toStdString();
    EXPECT_TRUE(holds(log, {"被其他程序占用", "请关闭正在使用该文件的其他程序"}));
    EXPECT_FALSE(QFileInfo::exists(autoPath + "202603101200/PhBill_2025.mdb"));
    EXPECT_TRUE(QDir(autoPath + "202603101200").entryList(QDir::Files | QDir::Hidden).filter(".new").isEmpty());
    EXPECT_EQ(ModSwitch::GetVariant("LastBackupDay"), "2026-03-04");
    if (steps < 10) other.execute("ROLLBACK");
    EXPECT_EQ(rows(DataPath + "PhBill_2025.mdb"), 3);
}

TEST_F(DBManagerTest, DefaultsStampedFolderAndClosing) {
    platform::testing::setNow([] { return QDateTime(QDate(2026, 5, 1), QTime(8, 30)); });
    EXPECT_EQ(win().DTAuto->time(), QTime(12, 0));
    EXPECT_EQ(win().txtDay->text(), "7");
    EXPECT_EQ(win().lblLastBackupDay->text(), "上次备份时间：2026-05-01");
    EXPECT_FALSE(win().Timer1->isActive());
    const QString stamped = DataPath + "Backup/202605010830/";
    EXPECT_EQ(win().txtPath->text(), stamped);
    EXPECT_TRUE(QFileInfo(stamped).isDir());
    win().opt_Click(2);
    win().cmdExit_Click();
    EXPECT_EQ(ModSwitch::GetVariant("ChkAutoBackup"), "0");
    EXPECT_EQ(lastLog(), "退出数据库管理没有定时备份");
    frmDBManager::unload();
    EXPECT_FALSE(QFileInfo::exists(stamped));

    // A typed relative folder falls back; an absolute one is made level by level.
    win().txtPath->setText("relative/dir");
    win().txtPath_LostFocus();
    EXPECT_EQ(win().txtPath->text(), DataPath + "Backup/");
    const QString deep = dir->appPath() + "x/y/z";
    win().txtPath->setText(deep);
    win().txtPath_LostFocus();
    EXPECT_EQ(win().txtPath->text(), deep + "/");
    EXPECT_EQ(win().backupPath(), deep + "/");
}

TEST_F(DBManagerTest, TypingAPathMovesTheFolderChoosersListAndARelativeFolderIsRefused) {
    const QString base = dir->appPath() + "pick";
    ASSERT_TRUE(QDir().mkpath(base + "/inner"));
    QFile(base + "/inner/note.txt").open(QIODevice::WriteOnly);
    QStringList listed;
    script::onModal("frmFindDir", [&](QDialog*) {
        frmFindDir& d = frmFindDir::instance();
        const auto items = [&] {
            QStringList out;
            for (int i = 0; i < d.Dir1->count(); ++i) out << d.Dir1->item(i)->text();
            return out;
        };
        d.txtDir->setFocus();
        d.txtDir->selectAll();
        QTest::keyClicks(d.txtDir, base);
        listed << items().join(',');
        QTest::keyClicks(d.txtDir, "/inner/note.txt");   // a file: the folders beside it
        listed << d.ListedFolder();
        QTest::keyClicks(d.txtDir, "x");                 // names nothing: the list stays
        listed << d.ListedFolder();
        d.cmdCancel_Click();
    });
    EXPECT_EQ(frmFindDir::instance().SelectPath(DataPath), QString());
    EXPECT_EQ(listed, (QStringList{"..,inner", base + "/inner", base + "/inner"}));

    script::onModal("frmFindDir", [](QDialog*) {
        frmFindDir& d = frmFindDir::instance();
        d.txtDir->setText("data/backup");
        d.cmdOK_Click();   // refused, the window stays
        d.txtDir->setText(DataPath);
        d.cmdOK_Click();
    });
    script::answer("错误的驱动符", platform::rOK);
    EXPECT_EQ(frmFindDir::instance().SelectPath("/no/such/folder"), DataPath);
    EXPECT_EQ(script::pendingAnswers(), 0);
}

TEST_F(DBManagerTest, TheIntervalBoxStandsInsideItsCaption) {
    frmDBManager& w = win();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // The layouts the showing asked for are done before their places are read.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QLabel* before = nullptr;
    QLabel* after = nullptr;
    for (QLabel* l : w.lblDay->findChildren<QLabel*>()) {
        if (l->text() == "每隔") before = l;
        if (l->text() == "天备份") after = l;
    }
    ASSERT_TRUE(before && after);
    EXPECT_TRUE(w.lblDay->text().isEmpty());
    const QRect box = w.txtDay->geometry();
    EXPECT_EQ(w.txtDay->parentWidget(), w.lblDay);
    EXPECT_LE(before->geometry().right(), box.left());
    EXPECT_LE(box.right(), after->geometry().left());
    EXPECT_GE(box.width(), w.txtDay->fontMetrics().horizontalAdvance("999"));
}

}  // namespace

TEST_F(DBManagerTest, TimedBackupSettingsThatCannotBeStoredAreToldAndNothingChanges) {
    ModSwitch::SetVariant("IntervalDay", "7");
    ModSwitch::SetVariant("LastBackupDay", "2026-03-03");
    frmDBManager& w = win();
    w.show();
    w.opt_Click(1);
    const QString shown = w.lblLastBackupDay->text();
    w.txtDay->setText("3");
    // Another program holds the station file for its own writing.
    Database other = Database::open(dbSwitch.path());
    other.execute("BEGIN IMMEDIATE");
    platform::script::answer("保存定时备份设置失败:", platform::rOK);
    QTest::mouseClick(w.cmdSet, Qt::LeftButton);
    other.execute("ROLLBACK");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(ModSwitch::GetVariant("IntervalDay"), "7");
    EXPECT_EQ(ModSwitch::GetVariant("LastBackupDay"), "2026-03-03");
    EXPECT_EQ(w.lblLastBackupDay->text(), shown);
    QTest::mouseClick(w.cmdSet, Qt::LeftButton);
    EXPECT_EQ(ModSwitch::GetVariant("IntervalDay"), "3");
    w.hide();
}

// The safety copy has one writer, which checks in full what it writes, and
// no restore deletes it before the file that replaces it is in place.
TEST_F(DBManagerTest, ARestoreGivenUpKeepsTheSafetyCopyAndARenewedCopyIsCheckedInFull) {
    const QString f = folder("bk");
    ModSwitch::OpenAllDB(false);
    QFile::copy(DataPath + "switch.mdb", f + "Switch.mdb");
    ModSwitch::CompactDB("Switch.mdb");
    const QString bak = platform::resolveCI(DataPath, "switch.mdb.bak");
    const auto bytes = testsupport::bytesOf;
    const QByteArray copy = bytes(bak);
    ASSERT_TRUE(QFileInfo::exists(bak));
    // The restored station file cannot be renamed in: the restore is given up whole.
    refuse("rename", "switch.mdb", EROFS, true);
    QString failed;
    EXPECT_FALSE(admin::ReplaceFiles(admin::RestorePairs(f, DataPath, true, false), &failed));
    platform::testing::setFaultHook(nullptr);
    EXPECT_TRUE(holds(failed, "磁盘为只读"));
    EXPECT_EQ(bytes(bak), copy);

    // An index that no longer matches its table: only the full check finds it.
    {
        Database d = Database::open(DataPath + "switch.mdb");
        d.execute("create index ix_probe on Variant(value)");
        d.execute("PRAGMA writable_schema=ON");
        d.execute("update sqlite_master set sql='CREATE INDEX ix_probe on Variant(varname)' where name='ix_probe'");
    }
    ModSwitch::OpenAllDB(true);
    ASSERT_TRUE(dbSwitch.quickCheck());
    EXPECT_FALSE(admin::RenewSafetyCopy(dbSwitch));
    EXPECT_EQ(bytes(bak), copy);
    dbSwitch.execute("drop index ix_probe");
    EXPECT_TRUE(admin::RenewSafetyCopy(dbSwitch));
    EXPECT_TRUE(Database::open(bak).integrityCheck());
}

// The timed backup's set swapped in whole while the station file refuses the
// write of its day: the backup is logged as made, and the next tick of the
// same minute makes none again. Before, "定时备份失败" and a second backup.
TEST_F(DBManagerTest, ATimedBackupMadeIsLoggedAsMadeWhenItsDayCannotBeStored) {
    QDateTime now(QDate(2026, 3, 10), QTime(12, 0, 5));
    platform::testing::setNow([&] { return now; });
    const QString made = timedBackup("1", "2026-03-09") + "202603101200/";
    {
        const testsupport::refusal::Armed armed(testsupport::refusal::Op::Write, "switch.mdb", 1);
        QMetaObject::invokeMethod(win().Timer1, "timeout");
        EXPECT_TRUE(testsupport::refusal::fired());
    }
    EXPECT_EQ(QDir(made).entryList(QDir::Files).size(), 3);
    EXPECT_TRUE(lastLog().startsWith("定时备份完成")) << lastLog().toStdString();
    EXPECT_TRUE(holds(lastLog(), "磁盘已满"));
    QDir(made).removeRecursively();
    now = now.addSecs(40);
    QMetaObject::invokeMethod(win().Timer1, "timeout");
    EXPECT_FALSE(QFileInfo::exists(made));
}

// A restore whose station file went in while a later file could not (its
// rename refused) is no "恢复失败": the box says what is in and that the
// next start puts the rest in, and the station file's safety copy is taken
// afresh before the station goes on. Before, "恢复失败" and no safety copy.
// The set is not left half swapped with nothing to finish it: the journal
// stays, and the next completion puts the year file in.
TEST_F(DBManagerTest, ARestoreStoppedAfterTheStationFileSaysWhatIsInAndRenewsItsSafetyCopy) {
    const QString f = backedUp();
    ModSwitch::SetVariant("AppName", "After");
    // A call the station's year file lacks: the backup's file is copied in, and renamed.
    Database(Database::open(f + "phbill_2026.mdb")).execute("insert into Tab_Ph1 values(7, 7, '2026-01-02 10:00:00')");
    const qint64 archived = rows(DataPath + "phbill_2026.mdb");
    refuse("rename", "phbill_2026.mdb", EROFS, true);
    restoreFrom(f, "数据恢复未完成");
    platform::testing::setFaultHook(nullptr);
    ASSERT_EQ(script::pendingAnswers(), 0);
    const QString told = lastBox();
    EXPECT_TRUE(holds(told, "switch.mdb已恢复，phbill_2026.mdb（磁盘为只读）未能恢复，下次启动时将再次恢复"));
    EXPECT_EQ(ModSwitch::GetVariant("AppName"), AppName);
    const QString bak = platform::resolveCI(DataPath, "switch.mdb.bak");
    ASSERT_TRUE(QFileInfo::exists(bak));
    EXPECT_TRUE(Database::open(bak).integrityCheck());
    EXPECT_NE(Database::open(bak).scalar("SELECT value FROM Variant WHERE varname='AppName'").toString(), "After");
    EXPECT_TRUE(QFileInfo::exists(DataPath + admin::RestoreJournalName()));
    ModSwitch::OpenAllDB(false);
    admin::CompleteRestore(DataPath);
    EXPECT_EQ(rows(DataPath + "phbill_2026.mdb"), archived + 1);
    EXPECT_FALSE(QFileInfo::exists(DataPath + admin::RestoreJournalName()));
    admin::ForgetRestoreNotice(DataPath);
    ModSwitch::OpenAllDB(true);
}

// What stops a restore is named: the call file refusing the lines the
// station file's recovery keeps, a copy the disk has no room for. Before,
// "恢复失败:switch.mdb（）" and "恢复失败:Switch.mdb".
TEST_F(DBManagerTest, ARestoreThatFailsNamesItsCause) {
    const QString f = backedUp();
    ModSwitch::OpenAllDB(false);
    QString failed;
    {
        const testsupport::refusal::Armed armed(testsupport::refusal::Op::Write, "PhoneCur.mdb", 1);
        EXPECT_FALSE(admin::ReplaceFiles(admin::RestorePairs(f, DataPath, true, false), &failed));
    }
    EXPECT_TRUE(failed.startsWith("switch.mdb（PhoneCur.mdb（磁盘已满")) << failed.toStdString();

    // A disk with less room than the station file: the copy stops part of the way.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit was{};
    ::getrlimit(RLIMIT_FSIZE, &was);
    rlimit small = was;
    small.rlim_cur = 16 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool put = admin::ReplaceFiles(admin::RestorePairs(f, DataPath, true, false), &failed);
    ::setrlimit(RLIMIT_FSIZE, &was);
    EXPECT_FALSE(put);
    EXPECT_TRUE(failed.startsWith("Switch.mdb（")) << failed.toStdString();
    EXPECT_TRUE(holds(failed, "文件大小超出限制"));
    EXPECT_EQ(leftovers(), QStringList());
    ModSwitch::OpenAllDB(true);
}

// A restore through the window always says how it ended, whatever write of
// the station's files the disk refuses on the way. Before, one that failed
// while the files were opened again after they went in said nothing at all.
TEST_F(DBManagerTest, ARestoreClickedAlwaysSaysHowItEnded) {
    namespace refusal = testsupport::refusal;
    const QString f = backedUp();
    win().opt_Click(2);
    win().txtPath->setText(f);
    win().tvwDB->topLevelItem(0)->child(1)->setCheckState(0, Qt::Unchecked);
    int reopenFailed = 0;
    // The n-th write from 1 doubling: before the files go in, while they go, and after.
    for (int n = 1;; n *= 2) {
        SCOPED_TRACE("switch.mdb write " + std::to_string(n));
        if (!dbSwitch.isOpen() || !dbPhoneCur.isOpen() || QFileInfo::exists(DataPath + admin::RestoreJournalName())) {
            ModSwitch::OpenAllDB(false);
            admin::CompleteRestore(DataPath);
            admin::ForgetRestoreNotice(DataPath);
            ModSwitch::OpenAllDB(true);
        }
        const int from = int(script::shown().size());
        bool fired = false;
        {
            const refusal::MaybeBoxes boxes({{"", platform::rOK}, {"", platform::rOK}, {"", platform::rOK}});
            const refusal::Armed armed(refusal::Op::Write, "switch.mdb", n);
            win().cmd_Click(1);
            fired = refusal::fired();
        }
        const QStringList said = refusal::boxesSince(from);
        EXPECT_TRUE(refusal::anyContains(said, "数据恢复成功") || refusal::anyContains(said, "恢复失败:") ||
                    refusal::anyContains(said, "数据恢复未完成"))
            << said.join(" | ").toStdString();
        if (refusal::anyContains(said, "重新打开数据库时出错")) ++reopenFailed;
        if (!fired) break;
    }
    EXPECT_GT(reopenFailed, 0);
}
