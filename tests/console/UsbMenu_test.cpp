// The USB collector commands of the console against the simulated collector.
#include "ConsoleFixture.h"

#include "core/ModSwitch.h"
#include "link/UsbCommands.h"
#include "sim/UsbCollectorSim.h"

#include <QFile>

using namespace consoletest;

namespace {

class UsbMenu : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        openDatabases();
        ModSwitch::LoadSysPara();
        g_UseUSB = true;
        g_NoAnswerCount = 0;
        usb = std::make_shared<sim::UsbCollectorSim>();
        platform::SetUsbCollector(usb);
        sink = std::make_shared<RecordingSink>();
        SetMonitorSink(sink);
        // Waits run on a tick that moves 5 ms a look.
        platform::testing::setTick([this] { return tick += 5; });
    }
    QByteArray record(int n) {
        sim::CallRecord r;
        r.extAddr = 5;
        r.called = QStringLiteral("8800%1").arg(n, 4, 10, QLatin1Char('0'));
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, n));
        r.durationSec = 60 + n;
        return r.body();
    }
    QByteArray billDat() {
        QFile f(UsbCommands::BillFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    }
    QString lastMessage() {
        const auto& s = platform::script::shown();
        return s.isEmpty() ? QString() : s.last().text;
    }
    std::shared_ptr<sim::UsbCollectorSim> usb;
    std::shared_ptr<RecordingSink> sink;
    qint64 tick = 1000000;
};

TEST_F(UsbMenu, ReadStoresEveryRecordInBillDatAndPricesThem) {
    for (int i = 0; i < 3; ++i) usb->storeRecord(record(i));
    platform::script::answer("读取USB话单成功", platform::rOK);
    console().mnuReadUSB_Click(1);
    EXPECT_EQ(lastMessage(), "读取USB话单成功");
    const QByteArray file = billDat();
    ASSERT_EQ(file.size(), 90);
    ASSERT_EQ(sink->records.size(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(file.mid(30 * k, 29), record(k)) << k;
        EXPECT_EQ(sink->records[k], file.mid(30 * k, 30));
        EXPECT_FALSE(sink->live[k]);   // a re-read is priced without answers to the switch
    }
    EXPECT_TRUE(console().isEnabled());
    EXPECT_FALSE(frmProgress::exists());
}

TEST_F(UsbMenu, ReadThatEndsEarlySaysSoAndPricesWhatCame) {
    for (int i = 0; i < 3; ++i) usb->storeRecord(record(i));
    usb->setPointers(512, 512, 517);   // five announced, three there
    platform::script::answer("读取USB话单未完成", platform::rOK);
    console().mnuReadUSB_Click(2);
    EXPECT_EQ(lastMessage(), "读取USB话单未完成:3/5");
    EXPECT_EQ(billDat().size(), 90);
    ASSERT_EQ(sink->records.size(), 3);
    EXPECT_TRUE(sink->live[0]);   // the new records are answered and charged as live ones
    EXPECT_TRUE(console().isEnabled());
}

TEST_F(UsbMenu, NoPointerAnswerFailsWithoutPricing) {
    usb->storeRecord(record(1));
    usb->ignoreOrders(1);
    platform::script::answer("读取USB话单失败", platform::rOK);
    console().mnuReadUSB_Click(1);
    EXPECT_EQ(lastMessage(), "读取USB话单失败");
    EXPECT_TRUE(sink->records.isEmpty());
    EXPECT_TRUE(console().isEnabled());
    // The read was ended at the collector.
    bool ended = false;
    for (const auto& f : usb->collectorOrders()) ended |= f.hex() == "7F0608000000";
    EXPECT_TRUE(ended);
}

TEST_F(UsbMenu, EmptyStoreLeavesAnEmptyBillDatWithoutProgressWindow) {
    QFile old(AppPath + "Bill.dat");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(60, 'x'));
    old.close();
    platform::script::answer("读取USB话单成功", platform::rOK);
    console().mnuReadUSB_Click(1);
    EXPECT_EQ(lastMessage(), "读取USB话单成功");
    EXPECT_EQ(billDat().size(), 0);
    EXPECT_FALSE(QFile::exists(AppPath + "Bill.dat"));
    EXPECT_TRUE(QFile::exists(AppPath + "bill.dat"));
    EXPECT_TRUE(sink->records.isEmpty());
}

TEST_F(UsbMenu, NumberIsShownAndSetToItsLowSixteenBits) {
    usb->setNumber(4660);
    platform::script::answer("USB编号是", platform::rOK);
    console().mnuGetUSBID_Click();
    EXPECT_EQ(lastMessage(), "USB编号是 4660");

    platform::script::answer("请输入USB编号", platform::rOK, "70000");
    platform::script::answer("USB设置编号为", platform::rOK);
    console().mnuSetUsbID_Click();
    EXPECT_EQ(lastMessage(), "USB设置编号为4464");
    EXPECT_EQ(usb->number(), 4464);
    EXPECT_TRUE(usb->shortEraseSeen());

    // A text that is no number sends nothing.
    const size_t before = usb->collectorOrders().size();
    platform::script::answer("请输入USB编号", platform::rOK, "abc");
    console().mnuSetUsbID_Click();
    EXPECT_EQ(usb->collectorOrders().size(), before);
}

TEST_F(UsbMenu, EraseAsksFirstAndReportsTheOutcome) {
    usb->storeRecord(record(1));
    platform::script::answer("要清除吗", platform::rNo);
    console().mnuClearUSB_Click();
    EXPECT_FALSE(usb->shortEraseSeen());
    usb->setEraseDelay(2);
    platform::script::answer("要清除吗", platform::rYes);
    platform::script::answer("USB清除", platform::rOK);
    console().mnuClearUSB_Click();
    EXPECT_EQ(lastMessage(), "USB清除成功");
    EXPECT_EQ(usb->oldest(), usb->nextFree());
}

}  // namespace
