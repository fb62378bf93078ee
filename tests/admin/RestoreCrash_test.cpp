// The station process killed (SIGKILL, as a power cut) in the middle of a
// restore of "Switch.mdb" and five year archives: after the copies, after the
// journal, between two renames and after the last. Started again, every
// station file is the old one or every one is the restored one, each passes
// quick_check, and nothing of the restore is left in the data directory. Which
// rename is interrupted comes from a logged seed (TARVO_DURABILITY_SEED).
#include "admin/Restore.h"
#include "core/books/ChargeLog.h"
#include "platform/Currency.h"
#include "platform/Db.h"
#include "support/Fixtures.h"
#include "support/StationProcess.h"
#include "support/StationRuns.h"

#include <QDir>
#include <QFile>
#include <random>

using platform::Currency;
using testsupport::StationProcess;
using testsupport::runStation;

namespace {

// The restored copies carry this user version; the station's own files 0.
constexpr int kRestoredMark = 7;

class RestoreCrashTest : public ::testing::Test {
protected:
    // A station that has archived calls of 2021 to 2025 into five year files,
    // and a backup folder of its files, marked, beside it.
    static void SetUpTestSuite() {
        templateDir = new testsupport::StationDir();
        {
            platform::Database cur = platform::Database::open(templateDir->file("PhoneCur.mdb"));
            testsupport::storeSpreadCalls(cur, 2000, QDateTime(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC), 78840);
        }
        const auto archive = runStation(*templateDir);
        const QStringList years = QDir(templateDir->dataPath()).entryList({"phbill_*.mdb"}, QDir::Files);
        ASSERT_EQ(years.size(), 5) << archive->log().join('\n').toStdString();

        backup = templateDir->appPath() + "bk/";
        QDir().mkpath(backup);
        for (const QString& f : years + QStringList{"switch.mdb"}) {
            const QString to = backup + (f == "switch.mdb" ? QStringLiteral("Switch.mdb") : f);
            ASSERT_TRUE(QFile::copy(templateDir->file(f), to));
            platform::Database copy = platform::Database::open(to);
            copy.execute(QStringLiteral("PRAGMA user_version=%1").arg(kRestoredMark));
            // A call the station's year file lacks (deleted there since): the
            // restore puts the backup's file in, not keeps the station's.
            if (f != "switch.mdb")
                copy.execute(QStringLiteral("INSERT INTO %1 (f_calladdr, f_date) VALUES (9999, '2020-01-01 00:00:00')")
                                 .arg(copy.qualified(copy.tableNames().value(0))));
        }
    }
    static void TearDownTestSuite() {
        delete templateDir;
        templateDir = nullptr;
    }

    void SetUp() override {
        seed = testsupport::durabilitySeed();
        rng.seed(seed);
    }

    // The mark of each station file: all equal, every file sound, nothing of the restore left.
    int markOfAll(const testsupport::StationDir& d) {
        const QStringList files = QDir(d.dataPath()).entryList({"phbill_*.mdb", "switch.mdb"}, QDir::Files);
        EXPECT_EQ(files.size(), 6) << files.join(", ").toStdString();
        QList<int> marks;
        for (const QString& f : files) {
            platform::Database db = platform::Database::open(d.file(f));
            EXPECT_TRUE(db.quickCheck()) << f.toStdString();
            marks << db.scalar("PRAGMA user_version").toInt();
        }
        for (int m : marks) EXPECT_EQ(m, marks.value(0)) << "old and restored files mixed: " << files.join(", ").toStdString();
        EXPECT_TRUE(QDir(d.dataPath())
                        .entryList({"*" + admin::RestoreTempSuffix(), admin::RestoreJournalName() + "*"}, QDir::Files)
                        .isEmpty());
        return marks.value(0, -1);
    }

    std::unique_ptr<testsupport::StationDir> freshCopy() {
        auto d = std::make_unique<testsupport::StationDir>(0, false);
        EXPECT_TRUE(testsupport::copyTree(templateDir->dataPath(), d->dataPath()));
        return d;
    }

    static testsupport::StationDir* templateDir;
    static QString backup;
    unsigned seed = 0;
    std::mt19937 rng;
};

testsupport::StationDir* RestoreCrashTest::templateDir = nullptr;
QString RestoreCrashTest::backup;

TEST_F(RestoreCrashTest, KilledAnywhereInARestoreLeavesEveryFileOldOrEveryFileRestored) {
    {
        auto d = freshCopy();
        const QString log = runStation(*d, {"--restore-from", backup})->log().join('\n');
        EXPECT_TRUE(log.contains("数据恢复成功") && log.contains("END\t0") && !log.contains("UNEXPECTED")) << log.toStdString();
        EXPECT_EQ(markOfAll(*d), kRestoredMark) << "an undisturbed restore";
    }
    const int between = std::uniform_int_distribution<int>(1, 5)(rng);
    const struct {
        QString point;
        int mark;
    } kills[] = {{"copied", 0}, {"marked", kRestoredMark}, {QStringLiteral("renamed:%1").arg(between), kRestoredMark},
                 {"renamed:6", kRestoredMark}};
    for (const auto& k : kills) {
        SCOPED_TRACE(k.point.toStdString());
        auto d = freshCopy();
        const auto run = runStation(*d, {"--restore-from", backup, "--kill-in-restore", k.point});
        EXPECT_TRUE(run->killed()) << "the restore never reached " << k.point.toStdString() << "\n"
                                   << run->log().join('\n').toStdString();
        // Started again, the station loads and closes cleanly.
        const QStringList log = runStation(*d)->log();
        EXPECT_TRUE(log.contains("END\t0") && !log.join('\n').contains("UNEXPECTED")) << log.join('\n').toStdString();
        EXPECT_EQ(markOfAll(*d), k.mark);
    }
}

// A restore of the station file killed once its journal was written, and
// again inside the completion at the next start (once recovered, once put in
// place): the start after completes it and tells, as the restore's own box
// does, what the backup could not give back: a payment made since and a user
// added since.
class RestoreCompletion : public ::testing::TestWithParam<const char*> {};

TEST_P(RestoreCompletion, AKilledRestoreIsToldWithWhatItCouldNotRecoverAtTheNextStart) {
    testsupport::StationDir d;
    auto run = [&](const QStringList& extra) { return runStation(d, extra); };
    run({});   // the station's files as it keeps them
    const QString backup = d.appPath() + "bk/";
    QDir().mkpath(backup);
    {
        platform::Database sw = platform::Database::open(d.file("switch.mdb"));
        sw.execute("INSERT INTO user (userid, username, balancemode, remain, deposit) VALUES (7, '张三', 1, ?, ?)",
                   {Currency::fromYuan(100), Currency::fromYuan(100)});
        sw.close();
    }
    ASSERT_TRUE(QFile::copy(d.file("switch.mdb"), backup + "Switch.mdb"));
    {
        // Since the backup: user 7 pays 50.00 and makes a call of 1.00; user 8 is added with 30.00.
        platform::Database sw = platform::Database::open(d.file("switch.mdb"));
        platform::Database cur = platform::Database::open(d.file("PhoneCur.mdb"));
        const qint64 mark = ModSwitch::AppliedMark(sw);
        cur.execute("INSERT INTO tab_chargelog (f_seq, f_kind, f_userid, f_amount, f_balance) VALUES (?, 2, 8, 0, ?)",
                    {mark + 1, Currency::fromYuan(30)});
        cur.execute("INSERT INTO tab_chargelog (f_seq, f_kind, f_userid, f_amount, f_balance) VALUES (?, 0, 7, ?, ?)",
                    {mark + 2, Currency::fromYuan(1), Currency::fromYuan(149)});
        sw.execute("UPDATE user SET remain=? WHERE userid=7", {Currency::fromYuan(149)});
        sw.execute("INSERT INTO user (userid, username, balancemode, remain, deposit) VALUES (8, '李四', 1, ?, ?)",
                   {Currency::fromYuan(30), Currency::fromYuan(30)});
        sw.execute("UPDATE Variant SET value=? WHERE varname=?", {QString::number(mark + 2), ModSwitch::kChargeMark});
    }
    EXPECT_TRUE(run({"--restore-from", backup, "--kill-in-restore", "marked"})->killed());
    EXPECT_TRUE(run({"--kill-in-restore", GetParam()})->killed());
    const QString log = run({})->log().join('\n');
    EXPECT_TRUE(log.contains("数据恢复成功") && log.contains("用户7 张三：50.00") &&
                log.contains("用户8：余额30.00（备份之后新增，备份中没有此用户）") && log.contains("END\t0"))
        << log.toStdString();
    EXPECT_EQ(testsupport::remainOf(d.dataPath(), 7), Currency::fromYuan(99));
    // Told once.
    EXPECT_FALSE(run({})->log().join('\n').contains("数据恢复成功"));
}

INSTANTIATE_TEST_SUITE_P(SecondKill, RestoreCompletion, ::testing::Values("recovered", "renamed"));

// Calls answered and archived into the year file, a backup of every file (the
// year file with it), then more calls answered and archived since: the
// restore of that backup, killed anywhere in it and again in its completion
// at the next start, leaves every answered call held once (the current table
// and the year file together), and the box says what the year file brought
// and kept. Which completion step is killed comes from the logged seed.
TEST(RestoreOfAYearFile, EveryAnsweredCallStaysOnceWhereverTheRestoreIsKilled) {
    const unsigned seed = testsupport::durabilitySeed();
    std::mt19937 rng(seed);
    const auto run = runStation;
    testsupport::StationDir history;
    auto answered = [&](qint64 n, const QDateTime& first) {
        {
            platform::Database cur = platform::Database::open(history.file("PhoneCur.mdb"));
            testsupport::storeSpreadCalls(cur, n, first, 86400 + 37);
        }
        run(history, {});   // the start archives them
    };
    answered(20, QDateTime(QDate(2026, 1, 5), QTime(9, 0), Qt::UTC));
    const QString backup = history.appPath() + "bk/";
    QDir().mkpath(backup);
    const QStringList years = QDir(history.dataPath()).entryList({"phbill_*.mdb"}, QDir::Files);
    ASSERT_EQ(years.size(), 1);
    ASSERT_TRUE(QFile::copy(history.file("switch.mdb"), backup + "Switch.mdb"));
    ASSERT_TRUE(QFile::copy(history.file(years[0]), backup + years[0]));
    answered(12, QDateTime(QDate(2026, 4, 2), QTime(9, 0), Qt::UTC));
    {
        const testsupport::StoredCalls before = testsupport::readStoredCalls(history.dataPath());
        ASSERT_EQ(before.count.size(), 32);
        ASSERT_EQ(before.currentRows, 0);
    }
    const QString told = years[0] + "：从备份找回0张现有文件中没有的话单，保留备份之后归档的12张话单。";
    const char* const completionKills[] = {"copied", "recovered:1", "renamed:1", "recovered:2"};
    const QString again = QString::fromLatin1(completionKills[std::uniform_int_distribution<int>(0, 3)(rng)]);
    const struct {
        QString restoreKill, completionKill;
    } cases[] = {{"", ""},           {"copied", ""},    {"marked", ""},     {"recovered:1", ""}, {"renamed:1", ""},
                 {"recovered:2", ""}, {"renamed:2", ""}, {"marked", again}};
    for (const auto& c : cases) {
        SCOPED_TRACE((c.restoreKill + " / " + c.completionKill).toStdString());
        testsupport::StationDir d(0, false);
        ASSERT_TRUE(testsupport::copyTree(history.dataPath(), d.dataPath()));
        QStringList extra{"--restore-from", backup};
        if (!c.restoreKill.isEmpty()) extra << "--kill-in-restore" << c.restoreKill;
        const auto restore = run(d, extra);
        EXPECT_EQ(restore->killed(), !c.restoreKill.isEmpty()) << "the restore never reached its kill";
        QString log = restore->log().join('\n');
        if (!c.completionKill.isEmpty()) {
            EXPECT_TRUE(run(d, {"--kill-in-restore", c.completionKill})->killed());
        }
        if (!c.restoreKill.isEmpty()) log = run(d, {})->log().join('\n');
        if (c.restoreKill == "copied") {
            EXPECT_FALSE(log.contains("数据恢复成功")) << log.toStdString();
        } else {
            EXPECT_TRUE(log.contains("数据恢复成功") && log.contains(told)) << log.toStdString();
        }
        EXPECT_EQ(log.count(told), c.restoreKill == "copied" ? 0 : 1);
        const testsupport::StoredCalls after = testsupport::readStoredCalls(d.dataPath());
        EXPECT_EQ(after.count.size(), 32);
        for (auto it = after.count.cbegin(); it != after.count.cend(); ++it)
            EXPECT_EQ(it.value(), 1) << it.key().toStdString();
        EXPECT_TRUE(after.filesNotSound.isEmpty()) << after.filesNotSound.join(", ").toStdString();
        EXPECT_TRUE(QDir(d.dataPath())
                        .entryList({"*" + admin::RestoreTempSuffix() + "*", admin::RestoreJournalName() + "*", "restore.notice"},
                                   QDir::Files | QDir::Hidden)
                        .isEmpty());
    }
}

}  // namespace
