// What the station was about to tell the switch, written ahead and settled by
// asking the switch: deposit changes downloaded while another program holds
// the station file, answered late, twice, not at all or contradicted, the
// switch's deposit lagging or moved otherwise; a user deleted while the file
// is held. After each, the simulator's deposits and rows are compared with
// the station's pending marks and history.
#include "transfer/TransferFixture.h"

#include "admin/OpenSite.h"
#include "core/books/ChargeLog.h"
#include "core/ModUpgrade.h"
#include "core/StationFiles.h"
#include "core/books/WriteAhead.h"
#include "link/CommState.h"
#include "link/TraceList.h"
#include "link/frmSRV.h"
#include "params/RowEdit.h"
#include "params/ShowTable.h"
#include "transfer/UserDownload.h"

#include <QFile>
#include <QRegularExpression>
#include <atomic>

using namespace transfertest;

namespace {

// The kinds of the write-ahead records of the switch's acts.
const QString kDeposit = QStringLiteral("deposit");
const QString kRelease = QStringLiteral("release");

class SwitchIntents : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        depositTables();
        other = platform::Database::open(dbSwitch.path());
    }
    void TearDown() override {
        sw.setObserver({});
        if (locked) other.execute("ROLLBACK");
        other.close();
        TransferTest::TearDown();
        frmSRV::instance().lstRec->clear();
    }
    void down(const QString& table, int right = 31) { TransferTest::down(table, right); }
    // Another program takes the station file for its own writing (on the
    // switch's thread when the switch sees a frame; the connection serves one
    // thread at a time).
    void lock() {
        other.execute("BEGIN IMMEDIATE");
        locked = true;
    }
    void unlock() {
        other.execute("ROLLBACK");
        locked = false;
    }
    void lockOn(const QString& prefix) {
        sw.setObserver([this, prefix](const sim::Frame& f) {
            if (f.startsWith(prefix) && !locked) lock();
        });
    }
    // What a kill after the frames went leaves: a change of 9 the switch
    // took and one of 8 it never got, each with its intent and pending change.
    void leaveTwoChanges() {
        pend(9, 4800, "-2.00");
        leaveIntent(9, 5000, -200, "A50709020000C8");
        pend(8, 0, "3.00");
        leaveIntent(8, 0, 300, "A507080100012C");
    }
    void leaveIntent(int address, qint64 before, qint64 fen, const char* frame) {
        ModSwitch::WriteAhead(dbSwitch, kDeposit, QString::number(address),
                              ModSwitch::WriteAheadBody().set("before", before).set("change", fen).set("value", fen * 100).set("frame", frame));
    }
    int changesSent(int address) { return depositChangesIn(sent(), address); }
    // The history's sum for the extension, in fen, and its pending change.
    qint64 booked(int address) {
        return platform::Currency::fromRaw(
                   dbSwitch.scalar("select ifnull(sum(ChangeValue),0) from extdeposithistory where ExtAddr=?", {address})
                       .toLongLong())
            .toFen();
    }
    bool pendingChange(int address) {
        return count("select count(*) from ExtDeposit where Address=? and bSet<>0 and ChangeValue<>0", {address}) == 1;
    }
    // Once the switch sees a frame starting with `prefix`, it sends `frames` of its own.
    void strayAfter(const QString& prefix, const QStringList& frames) {
        auto once = std::make_shared<std::atomic<bool>>(true);
        sw.setObserver([this, prefix, frames, once](const sim::Frame& f) {
            if (f.startsWith(prefix) && once->exchange(false))
                for (const QString& h : frames) sw.sendHex(h);
        });
    }
    int intents(const QString& kind) { return int(ModSwitch::PendingWriteAhead(dbSwitch, kind).size()); }
    // The switch holds `held` for the extension, and a change of `change` yuan is pending.
    void pend(int address, qint64 held, const char* change) {
        hold(address, held);
        this->change(address, change);
    }
    // The switch took `fen` for the extension (holding `at`, by default from
    // nothing): booked once, nothing of it left.
    void expectTakenOnce(int address, qint64 fen, qint64 at = -1) {
        SCOPED_TRACE(address);
        EXPECT_EQ(atSwitch(address), at < 0 ? fen : at);
        EXPECT_EQ(booked(address), fen);
        EXPECT_FALSE(pendingChange(address));
    }
    // Booked what the switch holds, from nothing: pending while nothing is.
    void expectBookedAsHeld(std::initializer_list<int> addresses) {
        for (int a : addresses) {
            SCOPED_TRACE(a);
            EXPECT_EQ(atSwitch(a), booked(a));
            EXPECT_EQ(pendingChange(a), booked(a) == 0);
        }
    }

    platform::Database other;
    std::atomic<bool> locked{false};
};

}  // namespace

// Another program holds the station file: the station cannot write what it is
// about to send, so it sends nothing and says why; once the file is free the
// change goes, once.
TEST_F(SwitchIntents, AChangeTheStationCannotWriteAheadIsNotSent) {
    pend(7, 10000, "10.00");
    lock();
    down("ExtDeposit");
    unlock();
    EXPECT_TRUE(status().startsWith("下载错误:")) << status().toStdString();
    EXPECT_EQ(atSwitch(7), 10000);
    EXPECT_EQ(changesSent(7), 0);
    EXPECT_TRUE(pendingChange(7));

    down("ExtDeposit");
    EXPECT_EQ(status(), "下载成功");
    down("ExtDeposit");
    expectTakenOnce(7, 1000, 11000);
}

// The lock comes while the switch takes the change, or the station stops
// after the frame went (its intent left as it was): the change is settled by
// the switch's deposit at the next download, booked once and never sent again.
TEST_F(SwitchIntents, AChangeTakenButNotWrittenIsSettledByTheSwitchNotSentAgain) {
    pend(7, 10000, "10.00");
    lockOn("A50707");
    down("ExtDeposit");
    sw.setObserver({});
    unlock();
    EXPECT_TRUE(status().startsWith("下载错误:")) << status().toStdString();
    EXPECT_EQ(atSwitch(7), 11000);
    EXPECT_EQ(intents(kDeposit), 1);

    down("ExtDeposit");
    EXPECT_EQ(status(), "下载成功");
    EXPECT_EQ(changesSent(7), 0);
    expectTakenOnce(7, 1000, 11000);
    EXPECT_EQ(intents(kDeposit), 0);

    // Killed after the frame went (the switch took it), and one the switch
    // never got: it goes now, once.
    leaveTwoChanges();
    down("ExtDeposit");
    EXPECT_EQ(status(), "下载成功");
    expectTakenOnce(9, -200, 4800);
    expectTakenOnce(8, 300);
    EXPECT_EQ(count("select count(*) from ExtDeposit where bSet<>0 or ChangeValue<>0"), 0);
    EXPECT_EQ(intents(kDeposit), 0);
}

// Every answer 30 ms late and once more 20 ms after, the switch's deposit
// answer showing a change it took only some questions or some time later:
// each change goes once, and is booked once, from the deposit read when the
// line is quiet.
TEST_F(SwitchIntents, ADepositAnswerLaggingATakenChangeSendsNothingTwice) {
    struct Lag {
        int questions, minMs, maxMs;
    };
    for (const Lag& lag : {Lag{1, 0, 0}, Lag{2, 0, 0}, Lag{5, 0, 0}, Lag{0, 350, 1000}}) {
        SCOPED_TRACE(lag.questions * 10000 + lag.maxMs);
        dbSwitch.execute("delete from extdeposithistory");
        pend(7, 0, "1.00");
        pend(9, 0, "123.45");
        sw.setDepositLag(lag.questions, lag.minMs, lag.maxMs);
        sw.setAckTiming(30, 30, 1.0, 20, 20);
        down("ExtDeposit");
        sw.setAckTiming(-1, -1, 0, 0, 0);
        sw.setDepositLag(0);
        EXPECT_EQ(status(), "下载成功");
        expectTakenOnce(7, 100);
        expectTakenOnce(9, 12345);
    }
}

// The jittery line that repeats its answers (or answers 20 ms late and once
// more 500-1000 ms after, or every answer 30 ms late and again 15-40 ms after
// on a paced 9600 baud line), ext 7's change frame lost or refused once: an
// answer that comes while it waits, such as the late copy of ext 5's, books
// nothing. What the switch took is booked, what it did not stays pending with
// its intent, and the next download sends that once.
TEST_F(SwitchIntents, AJitteryRepeatingLineBooksOnlyWhatTheSwitchTook) {
    struct Line {
        int lateMin, lateMax, gapMin, gapMax;
        sim::Reply lost;
        int baud = 0;   // a paced line is met afresh, and repeats its answers in the next download too
    };
    const Line lines[] = {{20, 20, 40, 40, sim::Reply::Silent},
                          {20, 20, 60, 60, sim::Reply::Silent},
                          {10, 60, 10, 400, sim::Reply::Silent},
                          {10, 60, 10, 400, sim::Reply::Status03},
                          {20, 20, 500, 1000, sim::Reply::Silent},
                          {30, 30, 15, 40, sim::Reply::Status03, 9600}};
    int run = 0;
    for (const Line& line : lines) {
        SCOPED_TRACE(run++);
        sw.setBaud(line.baud);
        if (line.baud) freshLink();
        dbSwitch.execute("delete from extdeposithistory");
        for (int a : {5, 7, 9}) pend(a, 0, "1.00");
        sw.clearRules();
        sw.setAckTiming(line.lateMin, line.lateMax, 1.0, line.gapMin, line.gapMax);
        sw.addRule("A50707", line.lost, 1);
        down("ExtDeposit");
        EXPECT_EQ(status(), "下载失败");
        EXPECT_EQ(atSwitch(7), 0);
        expectBookedAsHeld({5, 7, 9});
        // The line as plain as the next download finds it.
        if (!line.baud) sw.setAckTiming(-1, -1, 0, 0, 0);
        down("ExtDeposit");
        EXPECT_EQ(status(), "下载成功");
        for (int a : {5, 7, 9}) expectTakenOnce(a, 100);
    }
}

// A line that repeated one answer once, the switch's deposit answer showing
// the change 700-1000 ms after it took it: two downloads in turn take it once.
TEST_F(SwitchIntents, TwoDownloadsInTurnOnALineThatRepeatedOnceTakeTheChangeOnce) {
    pend(7, 0, "1.00");
    sw.setDepositLag(0, 700, 1000);
    sw.addRule("A50707", sim::Reply::Doubled, 1);
    down("ExtDeposit");
    down("ExtDeposit");
    expectTakenOnce(7, 100);
}

// The switch keeps a deposit within its bounds: a decrease below nothing
// leaves nothing, and is taken. A change withdrawn or turned by the operator
// while it is on its way is not made good by a change the other way.
TEST_F(SwitchIntents, TheSwitchsBoundsAndTheOperatorsEditsWhileAChangeIsOnItsWay) {
    pend(7, 100, "-2.00");
    down("ExtDeposit");
    EXPECT_EQ(status(), "下载成功");
    expectTakenOnce(7, -200, 0);

    for (const char* typed : {"0", "-2.00"}) {
        SCOPED_TRACE(typed);
        dbSwitch.execute("delete from extdeposithistory");
        pend(7, 0, "1.00");
        sw.setObserver([&](const sim::Frame& f) {
            if (f.startsWith("A50707"))
                other.execute("update ExtDeposit set ChangeValue=?, bSet=1 where Address=7",
                              {platform::Currency::parse(QString::fromLatin1(typed))->toVariant()});
        });
        down("ExtDeposit");
        sw.setObserver({});
        EXPECT_EQ(atSwitch(7), 100);
        EXPECT_EQ(booked(7), 100);
        EXPECT_EQ(dbSwitch.scalar("select ChangeValue from ExtDeposit where Address=7").toLongLong(),
                  platform::Currency::parse(QString::fromLatin1(typed))->raw());
        EXPECT_EQ(pendingChange(7), QByteArray(typed) != "0");
    }
}

// The switch's answers to the deposit question never agree: told as such,
// never as answers that did not come; the change stays pending.
TEST_F(SwitchIntents, ADepositWhoseAnswersDisagreeIsToldSo) {
    pend(7, 0, "1.00");
    sw.addRule("A50707", sim::Reply::LostAck, 1);
    std::atomic<int> moved{0};
    std::atomic<bool> sentChange{false};
    sw.setObserver([&](const sim::Frame& f) {
        if (f.startsWith("A50707")) {
            sentChange = true;
            hold(7, 300);
        } else if (f.startsWith("A50307") && sentChange) {
            hold(7, 300 + 7 * ++moved);
        }
    });
    platform::script::answer("之后交换机对押金查询的", platform::rOK);
    down("ExtDeposit");
    sw.setObserver({});
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(status(), "下载失败");
    EXPECT_EQ(booked(7), 0);
    EXPECT_TRUE(pendingChange(7));
    EXPECT_EQ(intents(kDeposit), 1);
}

// A station file put back from its copy (taken while the changes were
// pending) after a download: the change the switch took is booked again from
// the journal, never pending again; the one it did not take stays pending.
TEST_F(SwitchIntents, AStationFilePutBackKeepsWhatTheSwitchTookAndWhatItDidNot) {
    ModSwitch::PrepareChargeLog();
    pend(7, 0, "10.00");
    pend(9, 0, "2.00");
    const QString copy = dir->file("copy.mdb"), byHand = dir->file("by-hand.mdb");
    dbSwitch.backupTo(copy);
    dbSwitch.backupTo(byHand);
    sw.addRule("A50709", sim::Reply::Status03, 1);
    down("ExtDeposit");
    ASSERT_EQ(atSwitch(7), 1000);
    ASSERT_EQ(booked(7), 1000);
    ASSERT_EQ(atSwitch(9), 0);
    ASSERT_TRUE(pendingChange(9));
    ModSwitch::RecoverRestoredStationFile(copy, dir->file("PhoneCur.mdb"));
    platform::Database put = platform::Database::open(copy);
    EXPECT_EQ(put.scalar("select count(*) from ExtDeposit where Address=7 and (bSet<>0 or ChangeValue<>0)").toInt(), 0);
    EXPECT_EQ(put.scalar("select count(*) from extdeposithistory where ExtAddr=7").toInt(), 1);
    EXPECT_EQ(put.scalar("select count(*) from ExtDeposit where Address=9 and bSet<>0 and ChangeValue<>0").toInt(), 1);
    EXPECT_EQ(put.scalar("select count(*) from extdeposithistory where ExtAddr=9").toInt(), 0);
    EXPECT_TRUE(ModSwitch::PendingWriteAhead(put, kDeposit).isEmpty());

    // The same copy put back by hand over the station file: the opening
    // brings it up to the journal.
    ModSwitch::OpenAllDB(false);
    for (const char* side : {"", "-wal", "-shm"}) QFile::remove(dir->file("switch.mdb") + side);
    ASSERT_TRUE(QFile::copy(byHand, dir->file("switch.mdb")));
    openDatabases();
    ModSwitch::PrepareChargeLog();
    expectTakenOnce(7, 1000);
    EXPECT_TRUE(pendingChange(9));
    EXPECT_EQ(booked(9), 0);
}

// The planted faults of the deposit rules.
TEST_F(SwitchIntents, TheDepositRulesHoldAgainstContradictionsMovesRefusalsAndCopies) {
    // The change frame goes unanswered while a stray "820300" and then a
    // "820303" come: neither books anything; the deposit shows it was not
    // taken, so it goes once more at the next download.
    pend(7, 0, "1.00");
    sw.addRule("A50707", sim::Reply::Silent, 1);
    strayAfter("A50707", {"820300", "820303"});
    down("ExtDeposit");
    sw.setObserver({});
    expectBookedAsHeld({7});
    down("ExtDeposit");
    expectTakenOnce(7, 100);

    // The switch's deposit moved by a third amount while the change's answer
    // was lost: in doubt, named with both values, never sent again.
    pend(6, 1000, "1.00");
    dbSwitch.execute("delete from ExtDeposit where Address<>6");
    sw.addRule("A50706", sim::Reply::LostAck, 1);
    sw.setObserver([&](const sim::Frame& f) {
        if (f.startsWith("A50706")) hold(6, 1000 + 100 + 500);
    });
    platform::script::answer("改变前交换机上的押金为10.00，现在为16.00", platform::rOK);
    down("ExtDeposit");
    sw.setObserver({});
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(status(), "下载失败");
    platform::script::answer("改变前交换机上的押金为10.00，现在为16.00", platform::rOK);
    down("ExtDeposit");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(changesSent(6), 0);
    EXPECT_EQ(atSwitch(6), 1600);
    EXPECT_EQ(booked(6), 0);
    EXPECT_TRUE(pendingChange(6));
    // The operator, having read the switch's deposits, withdraws the change:
    // it is asked about no more.
    dbSwitch.execute("update ExtDeposit set ChangeValue=0, bSet=0 where Address=6");
    down("ExtDeposit");
    EXPECT_EQ(status(), "下载成功");
    EXPECT_EQ(intents(kDeposit), 0);
    EXPECT_EQ(atSwitch(6), 1600);
    dbSwitch.execute("delete from ExtDeposit");

    // A switch that answers each order once more 20 ms after: two copies more
    // than it makes come while ext 4's change went unanswered. They are no
    // repeats of anything: the deposit decides, the change goes once more at
    // the next download.
    pend(4, 0, "1.00");
    sw.setAckTiming(0, 0, 1.0, 20, 20);
    sw.addRule("A50704", sim::Reply::Silent, 1);
    strayAfter("A50704", {"820300", "820300"});
    down("ExtDeposit");
    sw.setObserver({});
    sw.setAckTiming(-1, -1, 0, 0, 0);
    EXPECT_EQ(atSwitch(4), 0);
    EXPECT_TRUE(pendingChange(4));
    down("ExtDeposit");
    expectTakenOnce(4, 100);
}

// A change the switch refused for certain, whose deposit question then gets
// no answer: the switch did answer (it refused), and is not said to have
// confirmed nothing; the change stays pending, is not sent once more in the
// same download, and is compared next time.
TEST_F(SwitchIntents, ARefusedChangeIsNotToldAsUnanswered) {
    pend(7, 10000, "1.00");
    sw.addRule("A50707", sim::Reply::Status03, 1);
    sw.addRule("A503", sim::Reply::Silent, -1, 1);
    down("ExtDeposit");
    EXPECT_EQ(status(), "下载失败");
    EXPECT_EQ(changesSent(7), 1);
    EXPECT_EQ(atSwitch(7), 10000);
    EXPECT_EQ(booked(7), 0);
    EXPECT_TRUE(pendingChange(7));
    sw.clearRules();
    down("ExtDeposit");
    EXPECT_EQ(status(), "下载成功");
    expectTakenOnce(7, 100, 10100);
}

// The station stopped after a change went (its intent and the pending change
// left as they were; the switch took it): the opening settles it with the
// switch before anything else, booked once.
TEST_F(SwitchIntents, AChangeLeftUnsettledIsSettledAtTheOpening) {
    leaveTwoChanges();
    ASSERT_TRUE(admin::OpenSite({}).opened);
    EXPECT_EQ(intents(kDeposit), 0);
    expectTakenOnce(9, -200, 4800);
    EXPECT_EQ(booked(8), 0);
    EXPECT_TRUE(pendingChange(8));
    EXPECT_TRUE(sent().filter(QRegularExpression("^A507")).isEmpty());
    EXPECT_EQ(atSwitch(8), 0);
}

namespace {

class UserRelease : public SwitchIntents {
protected:
    void SetUp() override {
        SwitchIntents::SetUp();
        dbSwitch.execute("insert into user (userid, username) values(5, '张三')");
        dbSwitch.execute("update account set account='0123', userid=5, bSet=0 where address=2048");
        dbSwitch.execute("update extension set userid=5, bSet=0 where address=5");
        // The switch holds the user's rows as the station does.
        ASSERT_TRUE(ModToolbar::DownUserPara(5, 0, 0, 0, 0));
        sent();
        sw.clearReceived();
    }
    void deleteUser() {
        CurTable = "User";
        platform::FlexGrid& g = *console->fgDisp;
        ModGeneral::ShowTable(g, "select userid, username, '', '', '', '0.00' from user where userid=5",
                              ">用户编号|>用户名称|a|b|c|>余额", 0, 0, false);
        g.setRow(1);
        g.setRowSel(1);
        GridSelFirst = GridSelLast = 1;
        platform::script::answer("要删除第1条至第1条记录吗?", platform::rYes);
        ModSwitch::DelParaRecord(7);
    }
    QString accountAtSwitch() {
        const auto a = sim::decodeAccount(sw.row(sim::tables::Account, 2048).value_or(QByteArray()));
        return a ? a->code : QString();
    }
    bool userKept() { return count("select count(*) from user where userid=5") == 1; }
};

}  // namespace

// 删除 of a user while another program holds the station file: nothing is
// released on the switch, and the user stays whole.
TEST_F(UserRelease, AUserDeletedUnderALockReleasesNothing) {
    lock();
    deleteUser();
    unlock();
    EXPECT_TRUE(status().startsWith("删除错误:")) << status().toStdString();
    EXPECT_TRUE(sw.receivedWith("8C08").empty());
    EXPECT_TRUE(sw.receivedWith("8B16").empty());
    EXPECT_TRUE(userKept());
    EXPECT_EQ(intents(kRelease), 0);
}

// The lock comes while the switch releases the user's rows: the release
// stands on the switch, the station says the deletion is not finished, and
// the next download finishes it as the switch shows.
TEST_F(UserRelease, AReleaseThatReachedTheSwitchIsFinishedAtTheNextDownload) {
    lockOn("8B1605");
    platform::script::answer("用户张三的删除未能完成", platform::rOK);
    deleteUser();
    sw.setObserver({});
    unlock();
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(accountAtSwitch(), "FFFF");
    EXPECT_TRUE(userKept());
    EXPECT_EQ(intents(kRelease), 1);

    platform::script::answer("其删除现已完成", platform::rOK);
    dbSwitch.execute("update ExtraHead set bSet=1 where Address=0");
    down("ExtraHead", 1);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_FALSE(userKept());
    EXPECT_EQ(dbSwitch.scalar("select account||'/'||userid from account where address=2048").toString(), "FFFF/0");
    EXPECT_EQ(count("select userid from extension where address=5"), 0);
    EXPECT_EQ(intents(kRelease), 0);
}

// A release whose every row the switch refused: the user stays as the
// station holds it, and its intent is settled there and then.
TEST_F(UserRelease, AReleaseTheSwitchRefusedKeepsTheUser) {
    sw.addRule("8C08", sim::Reply::Status03, -1);
    deleteUser();
    EXPECT_TRUE(userKept());
    EXPECT_EQ(accountAtSwitch(), "0123");
    EXPECT_EQ(intents(kRelease), 0);
}

// A release is finished only when the switch shows every row released: one
// row refused keeps the user (the row given back goes again with its next
// download), one row whose answer and read-back are both lost keeps the user
// and its intent, told once.
TEST_F(UserRelease, AReleaseIsFinishedOnlyWhenTheSwitchShowsEveryRowReleased) {
    sw.addRule("8B1605", sim::Reply::Status03, -1);
    platform::script::answer("没有删除，但其帐号2048已在交换机上释放", platform::rOK);
    deleteUser();
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_TRUE(userKept());
    EXPECT_EQ(accountAtSwitch(), "FFFF");
    EXPECT_EQ(count("select bSet from account where address=2048"), 1);
    EXPECT_EQ(intents(kRelease), 0);

    sw.clearRules();
    ASSERT_TRUE(ModToolbar::DownUserPara(5, 0, 0, 0, 0));
    ASSERT_EQ(accountAtSwitch(), "0123");
    sw.addRule("8B1605", sim::Reply::LostAck, -1);
    sw.addRule("88040005", sim::Reply::Silent, -1);
    testsupport::fastTimeouts();
    platform::script::answer("用户张三(5)的删除未能完成", platform::rOK);
    deleteUser();
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_TRUE(userKept());
    EXPECT_EQ(accountAtSwitch(), "FFFF");
    EXPECT_EQ(intents(kRelease), 1);
}

// A release the switch gives no answer for, met by one 下载 of the users:
// settled before the table and again before each user's rows, it is asked
// and told once.
TEST_F(UserRelease, OneDownloadTellsAnUnansweredReleaseOnce) {
    dbSwitch.execute("insert into user (userid, username) values(6, '李四'), (7, '王五')");
    lockOn("8B1605");
    platform::script::answer("用户张三的删除未能完成", platform::rOK);
    deleteUser();
    sw.setObserver({});
    unlock();
    ASSERT_EQ(intents(kRelease), 1);
    sw.addRule("8804", sim::Reply::Silent, -1);
    testsupport::fastTimeouts();
    platform::script::answer("用户张三(5)的删除未能完成", platform::rOK);
    down("User");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_TRUE(userKept());
    EXPECT_EQ(intents(kRelease), 1);
}
