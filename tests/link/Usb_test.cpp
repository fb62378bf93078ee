#include "LinkTestSupport.h"

using namespace linktest;
using namespace ModComm;

namespace {

class UsbTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        usb = std::make_shared<QueuedCollector>();
        platform::SetUsbCollector(usb);
        ModComm::ChooseTransport(true);
    }
    void TearDown() override {
        platform::SetUsbCollector(nullptr);
        LinkTest::TearDown();
    }
    std::shared_ptr<QueuedCollector> usb;
};

TEST_F(UsbTest, ReportsCarryOneFrameBehindTheSequenceByte) {
    // A first report with sequence zero is nothing new.
    usb->push(0, "83030086");
    ReadUSB();
    EXPECT_EQ(RxCount(), 0);
    usb->push(5, "83030086");
    ReadUSB();
    EXPECT_EQ(RxCount(), 4);
    EXPECT_EQ(RxBuf[0], 0x83);
    EXPECT_EQ(RxBuf[3], 0x86);
    // The same sequence byte again delivers nothing new.
    ReadUSB();
    EXPECT_EQ(RxCount(), 4);
    // Every step begins with the poll report.
    ASSERT_EQ(usb->writes.size(), 3);
    EXPECT_EQ(usb->writes[0].left(4), QByteArray(4, '\xFF'));
    EXPECT_EQ(usb->writes[0].mid(4), QByteArray(60, '\0'));
    // A length byte beyond the report is dropped, once.
    QByteArray rep(64, '\0');
    rep[0] = 7;
    rep[1] = static_cast<char>(0x9F);
    rep[2] = 63;
    usb->queue.push_back(rep);
    ReadUSB();
    ReadUSB();
    EXPECT_EQ(RxCount(), 4);
}

TEST_F(UsbTest, ReadFailureLatchesUntilCleared) {
    usb->failReads = true;
    ReadUSB();
    EXPECT_TRUE(g_UsbError);
    EXPECT_EQ(traceLines().size(), 1);
    EXPECT_TRUE(traceLines()[0].endsWith("<-NA "));
    usb->failReads = false;
    usb->push(1, "83030086");
    ReadUSB();
    ReadUSB();
    EXPECT_EQ(usb->reads, 1);
    EXPECT_EQ(usb->writes.size(), 3);   // the polls go on
    EXPECT_EQ(RxCount(), 0);
    g_UsbError = false;   // the clock timer's minute
    ReadUSB();
    EXPECT_EQ(RxCount(), 4);
}

// Orders and polls go through the line chosen only; over the collector an
// order is written as a report and traced.
TEST_F(UsbTest, OrdersAndPollsGoThroughTheLineChosenOnly) {
    g_NoAnswerCount = 10;
    usb->push(3, "83030086");
    ChooseTransport(false);
    EXPECT_FALSE(UsbCollectorChosen());
    EXPECT_EQ(SendOrder("830300", false, 4, true), 0);
    HandleArrived();
    EXPECT_TRUE(usb->writes.isEmpty());
    EXPECT_EQ(usb->reads, 0);
    EXPECT_EQ(takeSent(), QStringList{"83030086"});
    ChooseTransport(true);
    EXPECT_FALSE(WriteUSB("", false));
    EXPECT_TRUE(usb->writes.isEmpty());
    EXPECT_EQ(SendOrder("830300", false, 4, true), 0);
    EXPECT_EQ(TxCount(), 0);   // the transmit ring is not used
    ASSERT_EQ(usb->writes.size(), 1);
    EXPECT_EQ(usb->writes[0].left(5), bytes("8303008600"));
    EXPECT_TRUE(traceLines().last().endsWith("->83 03 00 86 "));
    ReadComm();
    EXPECT_EQ(usb->reads, 1);
    EXPECT_EQ(RxCount(), 4);
    EXPECT_TRUE(WriteUSB(QString("00").repeated(65), false));
    usb->failWrites = true;
    const int traced = traceLines().size();
    EXPECT_EQ(SendOrder("830300", true, 4, true), 0);
    EXPECT_EQ(traceLines().size(), traced);   // a failed write is not traced as sent
}

TEST_F(UsbTest, SendAndAcknowledgeOverTheCollector) {
    g_NoAnswerCount = 0;
    int seq = 1;
    ScriptedSwitch idle([](const QString&) { return QStringList{}; });
    QTimer::singleShot(0, [&] { usb->push(++seq, withSum("820300")); });
    EXPECT_EQ(SendOrder("800300", true, 4, true), 1);
}

}  // namespace
