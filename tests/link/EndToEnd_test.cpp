// The link against the switch simulator over a pseudo-terminal.
#include "LinkTestSupport.h"

#include "core/books/ChargeLog.h"
#include "core/Deposit.h"
#include "core/Settings.h"
#include "platform/Comm.h"
#include "sim/UsbCollectorSim.h"
#include "support/SwitchOnPty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

using namespace linktest;
using namespace ModComm;

namespace {

class EndToEnd : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        platform::testing::setTick(nullptr);   // the simulator runs on real time
        ASSERT_TRUE(link.attach(dir->file("switch.mdb")));
        openDatabases();
        testsupport::scriptClockDialog();
    }
    void TearDown() override {
        ComA().setPortOpen(false);
        LinkTest::TearDown();
    }
    // The link opened without the clock dialog, the switch heard.
    void open() {
        g_NoAnswerCount = 10;
        ASSERT_EQ(OpenComm(false), 1);
        ASSERT_TRUE(waitSent("820300"));
        link.sw().clearReceived();
    }
    // Runs the station's link timer until `done` or `ms` pass.
    bool pumpUntil(const std::function<bool()>& done, int ms = 3000) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms) {
            ProcessComm();
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        return done();
    }
    std::optional<sim::Frame> waitSent(const QString& prefix, size_t from = 0, int ms = 3000) {
        return link.sw().waitFor(prefix, ms, [] { ProcessComm(); QCoreApplication::processEvents(); }, from);
    }
    QStringList sentHex() {
        QStringList out;
        for (const sim::Frame& f : link.sw().received()) out << f.hex();
        return out;
    }
    static sim::CallRecord record(int ext, int secs) {
        sim::CallRecord r;
        r.extAddr = ext;
        r.called = "02112345678";
        r.channel = 2;
        r.start = QDateTime(QDate(2026, 6, 1), QTime(9, 15, 0));
        r.durationSec = secs;
        return r;
    }
    testsupport::SwitchOnPty link;
};

TEST_F(EndToEnd, HandshakeOpensTheLink) {
    g_NoAnswerCount = 10;
    EXPECT_EQ(OpenComm(false), 1) << traceLines().join('\n').toStdString();
    EXPECT_TRUE(waitSent("820300"));
    EXPECT_EQ(sentHex(), (QStringList{"84040000", "960300", "830300", "820300"}));
    EXPECT_EQ(g_NoAnswerCount, 0);
    // Every frame of the exchange is in the trace.
    const QStringList lines = traceLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[3].mid(8).startsWith("<-95 0B "));
    EXPECT_TRUE(lines[4].mid(8).startsWith("->82 03 00 85"));
}

TEST_F(EndToEnd, StartUpHandshakeSendsTheClockAfterTheDialog) {
    g_NoAnswerCount = 10;
    EXPECT_EQ(OpenComm(true), 1);
    const auto clock = link.sw().receivedWith("8509");
    ASSERT_EQ(clock.size(), 1u);
    const auto decoded = sim::decodeClock(clock[0]);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(decoded->when.isValid());
}

TEST_F(EndToEnd, SilentSwitchFailsTheHandshake) {
    link.sw().setAnswerProbe(false);
    g_NoAnswerCount = 10;
    EXPECT_EQ(OpenComm(false), 2);
}

TEST_F(EndToEnd, SendResultsFollowTheSwitchsAnswers) {
    open();
    EXPECT_EQ(SendOrder("800300", true, 1, true), 1);
    link.sw().addRule("800300", sim::Reply::Status03, 1);
    EXPECT_EQ(SendOrder("800300", true, 1, true), 1);   // the retry is acknowledged
    link.sw().addRule("800300", sim::Reply::Status03, 2);
    EXPECT_EQ(SendOrder("800300", true, 1, true), 3);
    link.sw().addRule("800300", sim::Reply::Status01, 2);
    const int bad = SendOrder("800300", true, 1, true);
    EXPECT_NE(bad, 1);
    EXPECT_NE(bad, 0);
    link.sw().addRule("800300", sim::Reply::Silent, 2);
    EXPECT_EQ(SendOrder("800300", true, 1, true), 2);
    link.sw().addRule("800300", sim::Reply::BadSum, 1);
    EXPECT_EQ(SendOrder("800300", true, 1, true), 1);   // a garbled acknowledgement counts for nothing
    EXPECT_EQ(link.sw().receivedWith("800300").size(), 11u);
    EXPECT_TRUE(link.sw().receivedWith("820301").empty());   // acknowledgements are never answered
}

TEST_F(EndToEnd, AskResultsAnswerNothingAndTimeOut) {
    open();
    link.sw().setRow(sim::tables::BoardLayout, 0, sim::fromHex("9E13" + QString("01").repeated(17)));
    QByteArray answer;
    EXPECT_EQ(GetOrder(answer, "9E13", false, "8E040000", 2), 2);
    EXPECT_EQ(answer.left(2), bytes("9E13"));
    EXPECT_TRUE(waitSent("820300"));

    link.sw().setAnswerProbe(false);
    EXPECT_EQ(GetOrder(answer, "950B", false, "830300", 1), 0);
}

TEST_F(EndToEnd, CallRecordDuringASendIsHandledInsideTheWait) {
    open();
    link.sw().addRule("800300", sim::Reply::Silent, 1);
    bool inWait = false;
    sink->onRecord = [&] {
        for (const AckSlot& s : AckRing) inWait = inWait || s.Pending != 0;
    };
    QTimer::singleShot(50, [&] { link.sw().sendCallRecord(record(5, 65)); });
    EXPECT_EQ(SendOrder("800300", true, 1, true), 1);
    ASSERT_EQ(sink->records.size(), 1);
    EXPECT_TRUE(inWait);
    EXPECT_TRUE(waitSent("820302"));
    EXPECT_EQ(link.sw().recordAnswers(), std::vector<QString>{"820302"});
}

TEST_F(EndToEnd, BadChecksumsAreAnsweredPerFamily) {
    open();
    link.sw().sendGarbled(record(5, 10).body());
    EXPECT_TRUE(waitSent("820303"));
    link.sw().sendGarbled(sim::cardStateBody(2, {0, 0, 0, 0, 0, 0, 0, 0}));
    link.sw().sendGarbled(sim::balanceQueryBody(5, {}));
    EXPECT_TRUE(waitSent("820301"));
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(link.sw().receivedWith("8203").size(), 2u);
    EXPECT_TRUE(sink->records.isEmpty());
}

TEST_F(EndToEnd, SplitFramesAndNoiseLoseNoRecord) {
    open();
    link.sw().setSplit(3, 2);
    link.sw().setNoise(0.5, 3);
    for (int i = 0; i < 5; ++i) link.sw().sendCallRecord(record(i, 30 + i));
    EXPECT_TRUE(pumpUntil([&] { return sink->records.size() == 5; }, 10000));
    EXPECT_TRUE(pumpUntil([&] { return link.sw().recordAnswers().size() == 5; }, 3000));
    for (int i = 0; i < sink->records.size(); ++i) EXPECT_EQ(static_cast<quint8>(sink->records[i][3]), i);
}

TEST_F(EndToEnd, RefusedRecordIsSentAgain) {
    open();
    sink->store = false;
    link.sw().sendCallRecord(record(7, 20));
    EXPECT_TRUE(pumpUntil([&] { return sink->records.size() >= 2; }, 5000));
    sink->store = true;
    EXPECT_TRUE(pumpUntil([&] { return link.sw().recordsWaiting() == 0; }, 5000));
    EXPECT_EQ(link.sw().recordAnswers().front(), "820303");
    EXPECT_EQ(link.sw().recordAnswers().back(), "820302");
}

TEST_F(EndToEnd, BalanceQueryIsAnsweredFromTheUserTable) {
    dbSwitch.execute("create table if not exists user (userid LONG NOT NULL DEFAULT 0, remain CURRENCY NOT NULL "
                     "DEFAULT 0, overdraft CURRENCY NOT NULL DEFAULT 0)");
    dbSwitch.execute("delete from user where userid=3");
    dbSwitch.execute("insert into user (userid, remain) values(3, ?)", {*platform::Currency::parse("-1.5")});
    dbSwitch.execute("update Extension set userid=3 where Address=5");
    open();
    link.sw().sendBalanceQuery(5, {}, 0x42);
    const auto answer = waitSent("950810");
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->hex(), "950810058000" "96" "42");
    const auto b = sim::decodeBalance(*answer);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->signedFen(), -150);
    EXPECT_EQ(sentHex().first(), "820300");
}

// A charge logged that the station file has not taken yet (it refused its
// part) is in the balance the switch is told and in the deposit grade.
TEST_F(EndToEnd, BalanceQueryAndDepositGradeCountAChargeWaitingInTheLog) {
    dbSwitch.execute("delete from user where userid=3");
    dbSwitch.execute("insert into user (userid, username, remain, balancemode) values(3, '丙', ?, 0)",
                     {platform::Currency::fromYuan(5)});
    dbSwitch.execute("update Extension set userid=3 where Address=5");
    ModSwitch::SetVariant("Deposit0", "4.50");
    ModSwitch::CreateChargeLog(dbPhoneCur);
    ModSwitch::SetVariant(ModSwitch::kChargeMark, "0");
    dbPhoneCur.execute(QStringLiteral("INSERT INTO %1 (f_seq, f_kind, f_userid, f_amount, f_balance) VALUES (1, 0, 3, ?, ?)")
                           .arg(dbPhoneCur.qualified(ModSwitch::kChargeLog)),
                       {platform::Currency::fromYuan(1), platform::Currency::fromYuan(4)});
    open();
    link.sw().sendBalanceQuery(5, {}, 0x42);
    const auto answer = waitSent("950810");
    ASSERT_TRUE(answer.has_value());
    const auto b = sim::decodeBalance(*answer);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->signedFen(), 400);
    EXPECT_EQ(ModGeneral::GetDepositGrade(3), 2);
}

TEST_F(EndToEnd, AnnouncementIsFollowedByClockMonitorAndResume) {
    open();
    CurTable = "PortMonitor";
    link.sw().announce();
    ASSERT_TRUE(waitSent("960301"));
    QStringList sent = sentHex();
    if (sent.size() > 1) sent[1].truncate(4);   // the clock order's own time left out
    EXPECT_EQ(sent, (QStringList{"820300", "8509", "84040100", "960301"}));
}

TEST_F(EndToEnd, CutOffAndMonitorOrdersReachTheSwitch) {
    open();
    MonSlots[3].ExtAddr = 0x15;
    MonSlots[3].UserID = 2;
    MonSlots[3].LimitSet = 1;
    MonSlots[3].EndTime = platform::Now().addSecs(-1);
    CheckTimeLimit(platform::Now());
    const auto cut = waitSent("9207");
    ASSERT_TRUE(cut.has_value());
    const auto t = sim::decodeTalkLimit(*cut);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->extAddr, 0x15);
    EXPECT_EQ(t->seconds, 0);
    EXPECT_EQ(t->slot, 3);
    CurTable = "MonCard";
    SetMonitor(true);
    EXPECT_TRUE(waitSent("84040101"));
}


class UsbEndToEnd : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        platform::testing::setTick(nullptr);
        usb = std::make_shared<sim::UsbCollectorSim>();
        platform::SetUsbCollector(usb);
        ModComm::ChooseTransport(true);
    }
    void TearDown() override {
        platform::SetUsbCollector(nullptr);
        LinkTest::TearDown();
    }
    std::shared_ptr<sim::UsbCollectorSim> usb;
};

TEST_F(UsbEndToEnd, HandshakeAndRecordsThroughTheCollector) {
    g_NoAnswerCount = 10;
    EXPECT_EQ(OpenComm(false), 1);
    sim::CallRecord r;
    r.extAddr = 3;
    r.called = "114";
    r.start = QDateTime(QDate(2026, 6, 1), QTime(8, 0, 0));
    r.durationSec = 12;
    usb->switchSim().sendCallRecord(r);
    QElapsedTimer t;
    t.start();
    while (sink->records.isEmpty() && t.elapsed() < 3000) {
        ProcessComm();
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(sink->records.size(), 1);
    EXPECT_EQ(sink->records[0].left(29), r.body());
    EXPECT_GT(usb->polls(), 0);
    EXPECT_EQ(usb->readsWithoutPoll(), 0);
}

}  // namespace
