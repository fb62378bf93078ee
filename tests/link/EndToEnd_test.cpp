// The link against the switch simulator over a pseudo-terminal.
#include "LinkTestSupport.h"

#include "platform/Comm.h"
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

TEST_F(EndToEnd, StartUpHandshakeSendsTheClockAfterTheDialog) {
    g_NoAnswerCount = 10;
    EXPECT_EQ(OpenComm(true), 1);
    const auto clock = link.sw().receivedWith("8509");
    ASSERT_EQ(clock.size(), 1u);
    const auto decoded = sim::decodeClock(clock[0]);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(decoded->when.isValid());
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

}  // namespace
