// The station process killed (SIGKILL) while the switch streams call records,
// and during the nightly archive, then started again: every record it answered
// "820302" is stored exactly once, none is stored or charged twice although the
// switch sends again whatever was not answered, and the user's balance is the
// first balance less the fees stored. Kill points come from a logged seed
// (TARVO_DURABILITY_SEED replays one, TARVO_DURABILITY_KILLS makes more).
#include "platform/Currency.h"
#include "platform/Db.h"
#include "sim/Switch.h"
#include "support/Fixtures.h"
#include "support/StationProcess.h"
#include "support/SwitchOnPty.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <atomic>
#include <memory>
#include <random>

using platform::Currency;
using testsupport::StationProcess;

namespace {

Currency yuan(const char* text) { return *Currency::parse(QString::fromLatin1(text)); }

const Currency kInitial = yuan("500.00");
const QString kDay = QStringLiteral("2026-06-15 10:00:00");

class StreamKillTest : public ::testing::Test {
protected:
    void SetUp() override {
        seed = testsupport::durabilitySeed();
        rng.seed(seed);
        dir = std::make_unique<testsupport::StationDir>();
        // A postpaid user 7 owns extension 5; local calls start with 8.
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        db.execute(QStringLiteral("INSERT OR REPLACE INTO user (userid, username, balancemode, remain, overdraft) "
                                  "VALUES (?, ?, 1, ?, 0)"),
                   {7, QStringLiteral("用户7"), kInitial});
        db.execute(QStringLiteral("UPDATE extension SET userid=? WHERE address=?"), {7, 5});
        db.execute(QStringLiteral("INSERT INTO feerate (zonecode, summary, firsttime, firstprice, pertime, perprice, "
                                  "discountid, feeratetype, feerateid) VALUES (?, ?, ?, ?, ?, ?, 1, 7, 0)"),
                   {QStringLiteral("8"), QStringLiteral("本地"), 180, yuan("0.20"), 60, yuan("0.10")});
        db.close();

        sim::SwitchOptions opt;
        opt.seed = seed;
        // A line with no station on it carries nothing: what the switch sends
        // then is gone, and it sends the record again once the station is back.
        opt.dropWhileClosed = true;
        sw = std::make_unique<sim::Switch>(opt);
        ASSERT_TRUE(sw->openPty());
        sw->start();
        sw->setObserver([this](const sim::Frame& f) {
            if (f.startsWith(QStringLiteral("820302"))) {
                if (++answers == killOnAnswer) target.fire();
            }
        });
    }
    void TearDown() override {
        target.clear();
        if (station) station->kill();
        sw->setObserver({});
        sw->stop();
    }

    static QString keyOf(const sim::CallRecord& r) {
        return QStringLiteral("5 %1").arg(r.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }
    // The station's arguments on the switch's line, staying `stayMs` once loaded.
    QStringList onLine(const char* stayMs, const QStringList& extra) const {
        return QStringList{QStringLiteral("--comm-device"), sw->slavePath(), QStringLiteral("--stay-ms"),
                           QString::fromLatin1(stayMs)} + extra;
    }
    // Records from the extension of user 7, a minute apart, of seeded lengths.
    void queueRecords(int n, const QDateTime& first) {
        for (int k = 0; k < n; ++k) {
            const int i = int(keys.size());
            sim::CallRecord r;
            r.extAddr = 5;
            r.called = QStringLiteral("8800%1").arg(1000 + i);
            r.channel = i % 8;
            r.start = first.addSecs(60 * i);
            r.durationSec = std::uniform_int_distribution<int>(20, 900)(rng);
            r.type = 1;
            keys << keyOf(r);
            sw->sendCallRecord(r);
        }
    }

    // Starts the station and waits until it has resumed the reports; then the
    // switch sends the record it had in flight again, as a real switch does.
    void startStation(const QStringList& extra) {
        target.clear();
        station = std::make_unique<StationProcess>(dir->appPath(), onLine("600000", extra));
        const size_t from = sw->receivedCount();
        station->start();
        target.aim(*station);
        ASSERT_TRUE(sw->waitFor(QStringLiteral("960301"), 60000, {}, from)) << station->log().join('\n').toStdString();
        sw->resendRecordInFlight();
    }

    // After the station died: what it had not read from the line is gone.
    void drainLine() { ASSERT_TRUE(testsupport::drainLine(*sw)); }

    size_t acknowledged() const {
        size_t n = 0;
        for (const QString& a : sw->recordAnswers()) n += a == QLatin1String("820302");
        return n;
    }

    // What a crash may leave: every acknowledged record exactly once, the one
    // in flight at most once, nothing else, the balance matching the fees.
    void checkStored(const char* when) {
        SCOPED_TRACE(when);
        const auto stored = testsupport::readStoredCalls(dir->dataPath());
        EXPECT_TRUE(stored.filesNotSound.isEmpty()) << stored.filesNotSound.join(", ").toStdString();
        const size_t acked = acknowledged();
        for (int i = 0; i < keys.size(); ++i) {
            const int n = stored.count.value(keys[i]);
            if (size_t(i) < acked) { EXPECT_EQ(n, 1) << "acknowledged record " << i << " " << keys[i].toStdString(); }
            else EXPECT_LE(n, 1) << "record " << i << " " << keys[i].toStdString();
        }
        EXPECT_LE(stored.rows, qint64(keys.size()));
        EXPECT_EQ(stored.count.size(), int(stored.rows)) << "a record stored twice";
        EXPECT_EQ(testsupport::remainOf(dir->dataPath(), 7), kInitial - stored.feesOf7);
        if (!stored.onlyInStationFile.isEmpty())
            std::printf("%s: only in the station file's copy, given back at the next start: %s\n", when,
                        qPrintable(stored.onlyInStationFile.join(QStringLiteral(", "))));
    }

    // Every record answered, the station killed: each stored once.
    void takeAll(const char* when) {
        EXPECT_TRUE(waitAllAnsweredOrDead(30000)) << acknowledged() << " of " << keys.size() << " answered";
        station->kill();
        drainLine();
        checkStored(when);
        EXPECT_EQ(testsupport::readStoredCalls(dir->dataPath()).rows, keys.size());
    }
    // Waits until every record is answered "820302" or the station died.
    bool waitAllAnsweredOrDead(int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (acknowledged() >= size_t(keys.size()) && sw->recordsWaiting() == 0) return true;
            if (station->waitEnded(5)) return false;
        }
        return false;
    }

    unsigned seed = 0;
    std::mt19937 rng;
    std::unique_ptr<testsupport::StationDir> dir;
    std::unique_ptr<sim::Switch> sw;
    std::unique_ptr<StationProcess> station;
    // What the switch's observer kills, from the simulator's thread.
    testsupport::KillTarget target;
    QStringList keys;
    std::atomic<int> answers{0};
    std::atomic<int> killOnAnswer{-1};
    const QStringList clock{QStringLiteral("--clock"), kDay};
};

TEST_F(StreamKillTest, KilledWhileRecordsStreamLosesNoAcknowledgedRecordAndChargesNoneTwice) {
    const int kills = testsupport::durabilityKills(3);
    queueRecords(60, QDateTime(QDate(2026, 6, 15), QTime(8, 0, 0)));
    for (int k = 0; k < kills; ++k) {
        // A seeded kill point: right after a record and its charge committed
        // (not yet answered), when its answer reaches the switch, or at a
        // moment while records are being handled.
        const int mode = std::uniform_int_distribution<int>(0, 2)(rng);
        const int nth = std::uniform_int_distribution<int>(1, 6)(rng);
        const int delayMs = std::uniform_int_distribution<int>(0, 120)(rng);
        std::printf("kill %d: mode %d, record %d, delay %d ms\n", k, mode, nth, delayMs);
        startStation(mode == 0 ? clock + QStringList{QStringLiteral("--kill-after-store"), QString::number(nth)}
                               : clock);
        if (HasFatalFailure()) return;
        if (mode == 1) killOnAnswer = answers + nth;
        else if (mode == 2) {
            QThread::msleep(delayMs);
            station->killNow();
        }
        const bool done = waitAllAnsweredOrDead(30000);
        killOnAnswer = -1;
        station->kill();
        drainLine();
        checkStored("after a kill");
        if (HasFailure() || done) break;
    }
    // Started again, the station takes the rest; then it starts and stops cleanly.
    startStation(clock);
    if (HasFatalFailure()) return;
    takeAll("all answered");

    StationProcess last(dir->appPath(), onLine("0", clock));
    last.start();
    ASSERT_TRUE(last.waitEnded(60000));
    EXPECT_TRUE(last.logHas(QStringLiteral("END\t0"))) << last.log().join('\n').toStdString();
    checkStored("after a clean start");
    EXPECT_EQ(testsupport::readStoredCalls(dir->dataPath()).currentRows, 0) << "the start-up archive took them all";
}

TEST_F(StreamKillTest, KilledDuringTheNightlyArchiveLosesNoRecordAndArchivesNoneTwice) {
    // The clock stands at 01:59:58 until the station is loaded: its archive
    // runs two seconds later, while records come in, and dies at a seeded stage.
    static const char* const kStages[] = {"copied", "month", "compacted", "detached", "replaced"};
    const QString stage = QString::fromLatin1(kStages[std::uniform_int_distribution<int>(0, 4)(rng)]);
    std::printf("nightly archive killed at stage %s\n", qPrintable(stage));
    const QDateTime first(QDate(2026, 6, 14), QTime(20, 0, 0));
    queueRecords(10, first);
    const QStringList night{QStringLiteral("--clock"), QStringLiteral("2026-06-15 01:59:58")};
    startStation(night + QStringList{QStringLiteral("--kill-in-nightly-archive"), stage + QStringLiteral(":1")});
    if (HasFatalFailure()) return;
    // Records keep coming, one every 40 ms, until the archive has killed the
    // station: some are stored before two o'clock, some arrive while it runs.
    for (int i = 0; i < 150 && !station->waitEnded(40); ++i) queueRecords(1, first);
    ASSERT_TRUE(station->waitEnded(60000)) << "the archive never reached " << stage.toStdString();
    EXPECT_TRUE(station->killed());
    std::printf("%zu of %lld records answered when the archive died\n", acknowledged(), qlonglong(keys.size()));
    drainLine();
    checkStored("killed in the nightly archive");

    startStation(night);
    if (HasFatalFailure()) return;
    // Past two o'clock the archive of this run has taken what was stored before it.
    takeAll("all answered");
}

TEST_F(StreamKillTest, RecordsSentWhileTheCallFileIsLockedAreKeptAndStoredOnceAfterTheLockOrARestart) {
    const QString spoolFile = dir->file("CallSpool.dat");
    auto holdCallFile = [this] {
        // Another program writes "PhoneCur.mdb" in a transaction it keeps open.
        auto lock = std::make_unique<platform::Database>(platform::Database::open(dir->file("PhoneCur.mdb")));
        lock->execute(QStringLiteral("BEGIN IMMEDIATE"));
        lock->scalar(QStringLiteral("select count(*) from Tab_Phone"));
        return lock;
    };
    auto waitAcknowledged = [this](size_t n, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (acknowledged() < n && t.elapsed() < timeoutMs) QThread::msleep(20);
        return acknowledged() >= n;
    };

    startStation(clock);
    if (HasFatalFailure()) return;
    auto lock = holdCallFile();
    queueRecords(5, QDateTime(QDate(2026, 6, 15), QTime(8, 0, 0)));
    // Each is answered as taken although none can be stored: the spool keeps them.
    ASSERT_TRUE(waitAcknowledged(5, 40000)) << acknowledged() << " answered";
    EXPECT_EQ(testsupport::readStoredCalls(dir->dataPath()).rows, 0);
    // Killed while the file is still held, so nothing has been stored.
    station->kill();
    drainLine();
    EXPECT_EQ(testsupport::readStoredCalls(dir->dataPath()).rows, 0);
    lock.reset();

    // The next start prices them.
    startStation(clock);
    if (HasFatalFailure()) return;
    checkStored("after the restart");
    EXPECT_EQ(testsupport::readStoredCalls(dir->dataPath()).rows, 5);
    EXPECT_FALSE(QFile::exists(spoolFile));

    // Held while the station runs: stored as soon as the file is free again.
    lock = holdCallFile();
    queueRecords(3, QDateTime(QDate(2026, 6, 15), QTime(9, 0, 0)));
    ASSERT_TRUE(waitAcknowledged(8, 40000)) << acknowledged() << " answered";
    EXPECT_TRUE(QFile::exists(spoolFile));
    lock.reset();
    QElapsedTimer t;
    t.start();
    while (QFile::exists(spoolFile) && t.elapsed() < 30000) QThread::msleep(50);
    EXPECT_FALSE(QFile::exists(spoolFile));
    station->kill();
    drainLine();
    checkStored("after the lock ended");
    EXPECT_EQ(testsupport::readStoredCalls(dir->dataPath()).rows, 8);
}

}  // namespace
