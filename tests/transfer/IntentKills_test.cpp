// The station process killed (SIGKILL, as a power cut) at each step of an act
// that tells the switch something it must not take twice: a deposit change
// downloaded, a user's accounts and extensions released by 删除 in the user
// view. The switch plays on a pseudo-terminal of the test's own, so it
// outlives the station; the station is then started again (its opening
// settles what it finds), and the operator does the act again where it did
// not happen. The switch and the books then agree, and nothing went twice.
#include "core/ModUpgrade.h"
#include "platform/Currency.h"
#include "platform/Db.h"
#include "sim/RowFrames.h"
#include "sim/Switch.h"
#include "support/Fixtures.h"
#include "support/StationProcess.h"
#include "support/SwitchOnPty.h"
#include "transfer/TransferFixture.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <atomic>
#include <functional>
#include <memory>

using platform::Currency;
using testsupport::StationProcess;

namespace {

// Which frames of the act a kill may follow, and how many of them were seen.
struct KillOnFrame {
    QStringList prefixes;
    int at = 0;   // the at-th such frame (from 1); 0 none
    std::atomic<int> seen{0};
};

class IntentKill : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sw.openPty());
        sw.start();
        sw.setObserver([this](const sim::Frame& f) {
            if (!armed) return;
            for (const QString& p : kill.prefixes)
                if (f.startsWith(p)) {
                    if (++kill.seen == kill.at) target.fire();
                    return;
                }
        });
    }
    void TearDown() override {
        armed = false;
        target.clear();
        sw.setObserver({});
        sw.stop();
    }

    // One run of the station on `d`, killed at the kill.at-th frame of the
    // act or at the child's own hook (`extra`); true when it was killed.
    bool run(const testsupport::StationDir& d, const QStringList& extra, bool killing) {
        StationProcess p(d.appPath(),
                         QStringList{QStringLiteral("--comm-device"), sw.slavePath(), QStringLiteral("--stay-ms"), QStringLiteral("0")} +
                             extra);
        kill.seen = 0;
        armed = killing;
        p.start();
        target.aim(p);
        const bool ended = p.waitEnded(180000);
        armed = false;
        target.clear();
        EXPECT_TRUE(ended) << p.log().join('\n').toStdString();
        if (!ended) p.kill();
        lastLog = p.log();
        for (const QString& l : lastLog)
            if (l.startsWith(QLatin1String("SWITCH\t"))) ADD_FAILURE() << "the test plays the switch itself";
        if (p.killed()) { EXPECT_TRUE(testsupport::drainLine(sw)); }
        else EXPECT_TRUE(lastLog.contains(QStringLiteral("END\t0"))) << lastLog.join('\n').toStdString();
        return p.killed();
    }
    // Runs `once` (true when its run was killed) with the kill at the 1st,
    // 2nd, ... frame of the act starting with one of `prefixes` (fewer than
    // `most`), until a run goes to its end; `act` names it when none does.
    void atEachFrame(const QStringList& prefixes, int most, const char* act, const std::function<bool()>& once) {
        kill.prefixes = prefixes;
        for (int at = 1; at < most && !HasFailure(); ++at) {
            SCOPED_TRACE(at);
            kill.at = at;
            if (!once()) return;
        }
        if (!HasFailure()) ADD_FAILURE() << act << " never ran to its end";
    }
    // The frames the switch received since `from`, as hex.
    QStringList framesSince(size_t from) {
        QStringList out;
        const auto all = sw.received();
        for (size_t k = from; k < all.size(); ++k) out << all[k].hex();
        return out;
    }

    sim::Switch sw;
    testsupport::KillTarget target;
    KillOnFrame kill;
    std::atomic<bool> armed{false};
    QStringList lastLog;
};

// The entries of the journal of `kind` for `user`, each number once,
// whichever file of the data directory holds it.
int journalCount(const QString& data, qint64 user, int kind) {
    QSet<qint64> seqs;
    const auto take = [&](const QString& file, const QString& table) {
        if (!QFileInfo::exists(data + file)) return;
        const platform::Database db = platform::Database::openReadOnly(data + file);
        if (db.actualTableName(table).isEmpty()) return;
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_seq FROM %1 WHERE f_userid=? AND f_kind=?").arg(table),
                                             {user, kind});
             r.next();)
            seqs.insert(r.integer(0));
    };
    take(QStringLiteral("PhoneCur.mdb"), QStringLiteral("tab_chargelog"));
    take(QStringLiteral("switch.mdb"), QStringLiteral("tab_chargemirror"));
    take(QStringLiteral("ChargeLog.mdb"), QStringLiteral("tab_chargelog"));
    return int(seqs.size());
}

int intents(const platform::Database& db, const QString& kind) {
    if (db.actualTableName(QStringLiteral("tab_writeahead")).isEmpty()) return 0;
    return db.scalar(QStringLiteral("SELECT count(*) FROM tab_writeahead WHERE f_kind=?"), {kind}).toInt();
}

// ---------------------------------------------------------------- deposit changes

class DepositChangeKill : public IntentKill {
protected:
    void hold(int address, qint64 fen) { sw.setRow(sim::tables::ExtDeposit, address, sim::extDepositRow(address, fen)); }
    // Ext 7 holds 100.00 on the switch and 8 nothing; the station (of the
    // second model, which keeps the deposits) has 10.00 and 3.00 to add.
    std::unique_ptr<testsupport::StationDir> prepared() {
        auto d = std::make_unique<testsupport::StationDir>(2);
        platform::Database db = platform::Database::open(d->file("switch.mdb"));
        EXPECT_NE(ModUpgrade::CreateTable(db, QStringLiteral("ExtDeposit"), false), 0);
        EXPECT_NE(ModUpgrade::CreateTable(db, QStringLiteral("ExtDepositHistory"), false), 0);
        db.execute("delete from ExtDeposit");
        db.execute("insert into ExtDeposit(Address,ChangeValue,bSet) values(7,?,1),(8,?,1)",
                   {Currency::fromFen(1000).toVariant(), Currency::fromFen(300).toVariant()});
        hold(7, 10000);
        hold(8, 0);
        return d;
    }
    // Killed as `extra` and kill.at say, started again, downloaded again:
    // each change is on the switch once and in the history once. True when
    // the first run was killed.
    bool killedThenDoneOnce(const QStringList& extra) {
        auto d = prepared();
        const size_t from = sw.receivedCount();
        const bool killed = run(*d, QStringList{QStringLiteral("--download"), QStringLiteral("ExtDeposit")} + extra, true);
        std::printf("download %s, %d frames of it seen\n", killed ? "killed" : "done", kill.seen.load());
        // Started again: the opening settles what the kill left.
        run(*d, {}, false);
        // The operator downloads again.
        run(*d, {QStringLiteral("--download"), QStringLiteral("ExtDeposit")}, false);
        EXPECT_TRUE(lastLog.contains(QStringLiteral("DOWNLOADED\tExtDeposit\t下载成功"))) << lastLog.join('\n').toStdString();
        const QStringList frames = framesSince(from);
        const platform::Database db = platform::Database::openReadOnly(d->file("switch.mdb"));
        for (const auto& [address, fen, at] : {std::tuple{7, 1000, 11000}, std::tuple{8, 300, 300}}) {
            SCOPED_TRACE(address);
            EXPECT_EQ(transfertest::depositChangesIn(frames, address), 1) << frames.join(' ').toStdString();
            EXPECT_EQ(transfertest::depositAt(sw, address), at);
            EXPECT_EQ(Currency::fromRaw(db.scalar("select ifnull(sum(ChangeValue),0) from extdeposithistory where ExtAddr=?",
                                                  {address})
                                            .toLongLong()),
                      Currency::fromFen(fen));
            EXPECT_EQ(db.scalar("select count(*) from ExtDeposit where Address=? and (bSet<>0 or ChangeValue<>0)", {address}).toInt(),
                      0);
        }
        EXPECT_EQ(intents(db, QStringLiteral("deposit")), 0);
        return killed;
    }
};

// Killed as each change frame reaches the switch (which takes it): the
// change is settled by the switch's deposit, never sent again.
TEST_F(DepositChangeKill, KilledAtEachChangeFrameEachChangeIsTakenAndBookedOnce) {
    atEachFrame({QStringLiteral("A50707"), QStringLiteral("A50708")}, 10, "the download", [&] { return killedThenDoneOnce({}); });
}

// Killed as each change's record is written (before its frame goes; the one
// before booked in the same commit) and as each is settled (its booking).
TEST_F(DepositChangeKill, KilledAtEachRecordOfTheChangesEachIsTakenAndBookedOnce) {
    for (int nth = 1; nth < 10 && !HasFailure(); ++nth) {
        SCOPED_TRACE(nth);
        if (!killedThenDoneOnce({QStringLiteral("--kill-at-writeahead"), QStringLiteral("deposit:written:%1").arg(nth)})) break;
    }
    for (const char* ext : {"7", "8"}) {
        SCOPED_TRACE(ext);
        EXPECT_TRUE(killedThenDoneOnce({QStringLiteral("--kill-at-writeahead"), QStringLiteral("deposit:settled:1:%1").arg(ext)}));
    }
}

// ---------------------------------------------------------------- a user's release

// User 5, not paying in advance, owning account 2048 and extension 5: a
// station directory each run copies, whose rows the switch holds as the
// station does (downloaded once) before each case.
class UserRowsKill : public IntentKill {
protected:
    static void makeTemplate(bool locked) {
        templateDir = new testsupport::StationDir();
        platform::Database db = platform::Database::open(templateDir->file("switch.mdb"));
        db.execute("insert into user (userid, username, balancemode, locked) values(5, '张三', 1, ?)", {locked ? 1 : 0});
        db.execute("update account set account='0123', userid=5, bSet=1 where address=2048");
        db.execute("update extension set userid=5, bSet=1 where address=5");
    }
    static void TearDownTestSuite() {
        delete templateDir;
        templateDir = nullptr;
    }
    void SetUp() override {
        IntentKill::SetUp();
        run(*templateDir, {QStringLiteral("--download"), QStringLiteral("User")}, false);
    }
    // What the switch holds of account 2048 and extension 5.
    QList<QByteArray> rows() {
        return {sw.row(sim::tables::Account, 2048).value_or(QByteArray()), sw.row(sim::tables::Extension, 5).value_or(QByteArray())};
    }
    // A copy of the template, the switch holding `held` (as rows() gives them).
    std::unique_ptr<testsupport::StationDir> copied(const QList<QByteArray>& held) {
        auto d = std::make_unique<testsupport::StationDir>(0, false);
        EXPECT_TRUE(testsupport::copyTree(templateDir->dataPath(), d->dataPath()));
        sw.setRow(sim::tables::Account, 2048, held.value(0));
        sw.setRow(sim::tables::Extension, 5, held.value(1));
        return d;
    }

    static testsupport::StationDir* templateDir;
};

testsupport::StationDir* UserRowsKill::templateDir = nullptr;

class UserReleaseKill : public UserRowsKill {
protected:
    static void SetUpTestSuite() { makeTemplate(false); }
    void SetUp() override {
        UserRowsKill::SetUp();
        ASSERT_FALSE(released(sim::tables::Account, 2048));
        held = rows();
        ASSERT_FALSE(held.contains(QByteArray()));
    }
    std::unique_ptr<testsupport::StationDir> prepared() { return copied(held); }
    bool released(const QString& table, int address) {
        const QByteArray row = sw.row(table, address).value_or(QByteArray());
        if (table == sim::tables::Account) {
            const auto a = sim::decodeAccount(row);
            return a && a->code == "FFFF";
        }
        return row != held.value(1);
    }
    int releasesSent(const QStringList& frames) {
        return int(frames.filter(QRegularExpression("^8C080800FFFF")).size() +
                   frames.filter(QRegularExpression("^8B1605")).size());
    }
    // The switch and the station agree: the user kept owns rows the switch
    // holds, or they wait for their download; the user gone, the switch holds
    // them free; and nothing is left to settle.
    void agree(const testsupport::StationDir& d) {
        const platform::Database db = platform::Database::openReadOnly(d.file("switch.mdb"));
        EXPECT_EQ(intents(db, QStringLiteral("release")), 0);
        if (!kept(d)) {
            EXPECT_TRUE(released(sim::tables::Account, 2048));
            EXPECT_EQ(db.scalar("select account||'/'||userid from account where address=2048").toString(), "FFFF/0");
            return;
        }
        EXPECT_TRUE(!released(sim::tables::Account, 2048) ||
                    db.scalar("select bSet from account where address=2048").toInt() != 0);
        EXPECT_TRUE(!released(sim::tables::Extension, 5) ||
                    db.scalar("select bSet from extension where address=5").toInt() != 0);
    }
    bool kept(const testsupport::StationDir& d) {
        return !platform::Database::openReadOnly(d.file("switch.mdb")).scalar("select 1 from user where userid=5").isNull();
    }
    // Killed as `extra` and kill.at say, started again (the opening settles
    // the release by asking the switch), the deletion done again when the
    // user is still there: gone once, released on the switch, each row's
    // release sent once by each deletion the operator asked for. True when
    // the first run was killed.
    bool killedThenDone(const QStringList& extra) {
        auto d = prepared();
        const size_t from = sw.receivedCount();
        const bool killed = run(*d, QStringList{QStringLiteral("--delete-row"), QStringLiteral("5")} + extra, true);
        std::printf("deletion %s, %d frames of it seen\n", killed ? "killed" : "done", kill.seen.load());
        const size_t opening = sw.receivedCount();
        EXPECT_LE(releasesSent(framesSince(from)), 2);
        run(*d, {}, false);
        EXPECT_EQ(releasesSent(framesSince(opening)), 0) << "the opening released again";
        std::printf("after the opening the user is %s\n", kept(*d) ? "kept" : "gone");
        agree(*d);
        if (kept(*d)) {
            const size_t again = sw.receivedCount();
            run(*d, {QStringLiteral("--delete-row"), QStringLiteral("5")}, false);
            EXPECT_EQ(releasesSent(framesSince(again)), 2);
        }
        agree(*d);
        EXPECT_FALSE(kept(*d));
        EXPECT_EQ(journalCount(d->dataPath(), 5, 1), 1);
        return killed;
    }

    QList<QByteArray> held;
};

TEST_F(UserReleaseKill, KilledAtEachFrameOfTheReleaseTheUserGoesOnceAndTheSwitchAgrees) {
    atEachFrame({QStringLiteral("8C08"), QStringLiteral("8103"), QStringLiteral("8B16")}, 20, "the deletion",
                [&] { return killedThenDone({}); });
}

TEST_F(UserReleaseKill, KilledAtTheReleasesRecordTheUserGoesOnceAndTheSwitchAgrees) {
    for (const char* step : {"written", "settled"}) {
        SCOPED_TRACE(step);
        EXPECT_TRUE(killedThenDone({QStringLiteral("--kill-at-writeahead"), QStringLiteral("release:%1:1").arg(step)}))
            << lastLog.join('\n').toStdString();
    }
}

// ---------------------------------------------------------------- 初始化

// 初始化 writes no intent of its own: its rows are marked for their download
// (bSet) in the commit that changes them, before any frame goes, and each
// frame is the row's whole state, so a row sent again is no change taken
// twice. Killed at each frame of its push, the rows the switch does not hold
// as the station does wait for their download, and the next download makes
// them agree.
class InitKill : public UserRowsKill {
protected:
    // User 5 locked on the switch; then what 初始化 makes of it.
    static void SetUpTestSuite() { makeTemplate(true); }
    void SetUp() override {
        UserRowsKill::SetUp();
        before = rows();
        auto d = fresh();
        run(*d, {QStringLiteral("--init-user"), QStringLiteral("5")}, false);
        after = rows();
        ASSERT_NE(before, after) << "初始化 changed nothing the switch holds";
    }
    std::unique_ptr<testsupport::StationDir> fresh() { return copied(before); }
    // Each row the switch does not hold as 初始化 leaves it waits for its download.
    void carried(const testsupport::StationDir& d, bool downloaded) {
        const platform::Database db = platform::Database::openReadOnly(d.file("switch.mdb"));
        EXPECT_EQ(db.scalar("select locked from user where userid=5").toInt(), 0);
        const QList<QByteArray> now = rows();
        const int account = db.scalar("select bSet from account where address=2048").toInt();
        const int extension = db.scalar("select bSet from extension where address=5").toInt();
        EXPECT_TRUE(now[0] == after[0] || account != 0) << now[0].toHex().toStdString();
        EXPECT_TRUE(now[1] == after[1] || extension != 0) << now[1].toHex().toStdString();
        if (downloaded) {
            EXPECT_EQ(now, after);
            EXPECT_EQ(account, 0);
            EXPECT_EQ(extension, 0);
        }
    }

    QList<QByteArray> before, after;
};

TEST_F(InitKill, KilledAtEachFrameOfItsPushThePendingMarksCarryItToTheNextDownload) {
    atEachFrame({QStringLiteral("8C08"), QStringLiteral("8103"), QStringLiteral("8B16")}, 20, "初始化", [&] {
        auto d = fresh();
        const bool killed = run(*d, {QStringLiteral("--init-user"), QStringLiteral("5")}, true);
        std::printf("初始化 %s, %d frames of it seen\n", killed ? "killed" : "done", kill.seen.load());
        carried(*d, false);
        run(*d, {}, false);
        carried(*d, false);
        run(*d, {QStringLiteral("--download"), QStringLiteral("User")}, false);
        carried(*d, true);
        return killed;
    });
}

}  // namespace

