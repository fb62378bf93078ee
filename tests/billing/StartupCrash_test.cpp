// The station process killed (SIGKILL) while it starts on a large call-record
// file of earlier months: during the compaction of "PhoneCur.mdb" and during
// the archive that moves the records into the yearly files. Started again, it
// loads, every record is there exactly once, and every file is sound. Kill
// points come from a logged seed (TARVO_DURABILITY_SEED replays one,
// TARVO_DURABILITY_KILLS makes more).
#include "platform/Db.h"
#include "sim/Switch.h"
#include "support/Fixtures.h"
#include "support/StationProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <random>

using testsupport::StationProcess;

namespace {

// Calls of December 2025 to February 2026, 90 s apart, round the extensions.
constexpr int kRecords = 60000;

class StartupCrashTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        templateDir = new testsupport::StationDir();
        platform::Database cur = platform::Database::open(templateDir->file("PhoneCur.mdb"));
        testsupport::storeSpreadCalls(cur, kRecords, QDateTime(QDate(2025, 12, 1), QTime(0, 0), Qt::UTC), 90);
        cur.close();
    }
    static void TearDownTestSuite() {
        delete templateDir;
        templateDir = nullptr;
    }

    void SetUp() override {
        seed = testsupport::durabilitySeed();
        rng.seed(seed);
        ASSERT_TRUE(sw.openPty());
        sw.start();
    }
    void TearDown() override { sw.stop(); }

    // A fresh copy of the prepared station.
    std::unique_ptr<testsupport::StationDir> freshCopy() {
        auto d = std::make_unique<testsupport::StationDir>(0, false);
        EXPECT_TRUE(testsupport::copyTree(templateDir->dataPath(), d->dataPath()));
        return d;
    }

    QStringList args(const QStringList& extra) const {
        return QStringList{QStringLiteral("--comm-device"), sw.slavePath(), QStringLiteral("--clock"),
                           QStringLiteral("2026-06-15 10:00:00"), QStringLiteral("--stay-ms"), QStringLiteral("0")} +
               extra;
    }

    // Every record exactly once, all files sound; `loaded`: the archive has run to its end.
    void checkRecords(const testsupport::StationDir& d, bool loaded, const char* when) {
        SCOPED_TRACE(when);
        const auto stored = testsupport::readStoredCalls(d.dataPath());
        EXPECT_TRUE(stored.filesNotSound.isEmpty()) << stored.filesNotSound.join(", ").toStdString();
        EXPECT_EQ(stored.rows, kRecords) << "records lost or archived twice";
        EXPECT_EQ(stored.count.size(), kRecords) << "a record in two places";
        if (loaded) {
            EXPECT_EQ(stored.currentRows, 0) << "the start-up archive left records current";
        }
    }

    // Started again after a kill, the station loads and closes cleanly.
    void restartAndCheck(const testsupport::StationDir& d) {
        StationProcess again(d.appPath(), args({}));
        again.start();
        ASSERT_TRUE(again.waitEnded(120000));
        const QStringList log = again.log();
        EXPECT_TRUE(log.contains(QStringLiteral("LOADED\tDE Duzariv - [板卡通道状态]")) && log.contains(QStringLiteral("END\t0")))
            << log.join('\n').toStdString();
        checkRecords(d, true, "started again");
    }

    static testsupport::StationDir* templateDir;
    sim::Switch sw;
    unsigned seed = 0;
    std::mt19937 rng;
};

testsupport::StationDir* StartupCrashTest::templateDir = nullptr;

TEST_F(StartupCrashTest, KilledAtAnArchiveStageLosesNoRecordAndArchivesNoneTwice) {
    static const char* const kStages[] = {"copied", "month", "compacted", "detached", "replaced"};
    const int kills = testsupport::durabilityKills(2);
    for (int k = 0; k < kills && !HasFailure(); ++k) {
        const QString stage = QString::fromLatin1(kStages[std::uniform_int_distribution<int>(0, 4)(rng)]);
        // Three months (December to February): a month's copy or its end may be the first to the third.
        const int nth = stage == QLatin1String("copied") || stage == QLatin1String("month")
                            ? std::uniform_int_distribution<int>(1, 3)(rng)
                            : 1;
        std::printf("archive kill %d: stage %s, occurrence %d\n", k, qPrintable(stage), nth);
        auto d = freshCopy();
        StationProcess run(d->appPath(), args({QStringLiteral("--kill-in-archive"), stage + ':' + QString::number(nth)}));
        run.start();
        ASSERT_TRUE(run.waitEnded(120000));
        EXPECT_TRUE(run.killed()) << "the archive never reached " << stage.toStdString() << "\n"
                                  << run.log().join('\n').toStdString();
        checkRecords(*d, false, "killed in the archive");
        restartAndCheck(*d);
    }
}

TEST_F(StartupCrashTest, KilledAtASeededMomentOfTheStartLosesNoRecordAndArchivesNoneTwice) {
    // One undisturbed start measures how long compaction and archive take;
    // the kills then fall anywhere in that time.
    auto measured = freshCopy();
    QElapsedTimer t;
    StationProcess whole(measured->appPath(), args({}));
    t.start();
    whole.start();
    ASSERT_TRUE(whole.waitLoaded(120000)) << whole.log().join('\n').toStdString();
    const int loadMs = int(t.elapsed());
    ASSERT_TRUE(whole.waitEnded(60000));
    checkRecords(*measured, true, "undisturbed start");
    std::printf("start-up with %d records: %d ms\n", kRecords, loadMs);

    const int kills = testsupport::durabilityKills(2);
    for (int k = 0; k < kills && !HasFailure(); ++k) {
        const int delayMs = std::uniform_int_distribution<int>(0, loadMs)(rng);
        std::printf("start-up kill %d: after %d ms\n", k, delayMs);
        auto d = freshCopy();
        StationProcess run(d->appPath(), args({}));
        run.start();
        QThread::msleep(delayMs);
        run.kill();
        checkRecords(*d, false, "killed while starting");
        restartAndCheck(*d);
    }
}

}  // namespace
