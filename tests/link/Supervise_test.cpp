#include "LinkTestSupport.h"

#include "core/Settings.h"
#include "link/FrameCodes.h"
#include "platform/Comm.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace linktest;
using namespace ModComm;

namespace {

class SuperviseTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        openDatabases();
    }
};

TEST_F(SuperviseTest, MonitorModeFollowsTheView) {
    CurTable = "LanHead";
    SetMonitor(true);
    CurTable = "MonCard";
    SetMonitor(false);
    SetMonitor(true);
    CurTable = "PortMonitor";
    g_NoAnswerCount = 10;
    SetMonitor(true);
    EXPECT_EQ(takeSent(), (QStringList{withSum("84040000"), withSum("84040000"), withSum("84040101"), withSum("84040100")}));
}

TEST_F(SuperviseTest, ExpiredLimitsAreCutOnce) {
    const QDateTime now(QDate(2026, 1, 1), QTime(12, 0, 0));
    // Slot 3 runs out now, slot 4 ran out without a limit set, slot 5 runs out a second later.
    for (const auto& [slot, limit, secs] : {std::tuple{3, 1, 0}, {4, 0, -100}, {5, 1, 1}}) {
        MonSlots[slot].ExtAddr = 0x12 + slot;
        MonSlots[slot].UserID = slot + 1;
        MonSlots[slot].LimitSet = limit;
        MonSlots[slot].EndTime = now.addSecs(secs);
    }
    g_NoAnswerCount = 10;   // silent: the cut is queued all the same
    CheckTimeLimit(now);
    CheckTimeLimit(now);
    EXPECT_EQ(takeSent(), QStringList{withSum("92070015000003")});
    EXPECT_EQ(MonSlots[3].UserID, -1);
    EXPECT_EQ(MonSlots[3].LimitSet, 0);
    EXPECT_EQ(MonSlots[4].UserID, 5);
    EXPECT_EQ(MonSlots[5].LimitSet, 1);
}

TEST_F(SuperviseTest, AMissingPortSettingIsAnErrorAndTheCollectorReadsNone) {
    dbSwitch.execute("delete from Variant where varname='CommPort'");
    EXPECT_EQ(OpenComm(false), 8);
    ModSwitch::SetVariant("CommPort", "1");
    ModSwitch::SetVariant("CommDevice", dir->appPath() + "no-such-tty");
    EXPECT_EQ(OpenComm(false), 8);
    EXPECT_TRUE(takeSent().isEmpty());

    // Over the collector no port setting is read, and a silent switch times out.
    dbSwitch.execute("delete from Variant where varname in ('CommPort','CommSet')");
    auto usb = std::make_shared<QueuedCollector>();   // nothing new, ever
    platform::SetUsbCollector(usb);
    ModComm::ChooseTransport(true);
    EXPECT_EQ(OpenComm(false), 2);
    platform::SetUsbCollector(nullptr);
    ASSERT_GE(usb->writes.size(), 3);
    EXPECT_EQ(usb->writes[0].left(5), bytes(withSum("84040000")));
    EXPECT_EQ(usb->writes[1].left(4), bytes(withSum("960300")));
    EXPECT_EQ(usb->writes[2].left(4), bytes(withSum("830300")));
    EXPECT_EQ(usb->writes[0].size(), 64);
}

// The far end of the serial line closes (a USB adapter pulled; here the
// master of a pseudo-terminal): the port is closed instead of retrying the
// failing write at every turn of the events, and each order the link hands
// it later (the minute's probe) is one try to open it again.
TEST_F(SuperviseTest, ALineWhoseOtherEndWentIsTriedAtTheLinksPaceNotInALoop) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    // The line by a name of its own that goes with its far end: the terminal's
    // number, once free, may be another test's line by the next try.
    QTemporaryDir dir;
    const QString device = dir.filePath("line");
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(::ptsname(master)), device));
    ModSwitch::SetVariant("CommDevice", device);
    ModSwitch::SetVariant("CommSet", "9600,N,8,1");
    ModComm::ComA().setPortOpen(false);
    struct Closed {
        ~Closed() { Link().close(); }   // the line, closed, is no longer one whose end went
    } closed;
    ASSERT_NO_THROW(Link().open());
    ::close(master);
    QFile::remove(device);
    const int before = platform::testing::portFailures();
    SendOrder(FrameCode::kLinkProbe, false, 4, true);
    // The console's link timer and the window events, turn by turn.
    for (int turn = 0; turn < 500; ++turn) {
        ProcessComm();
        QCoreApplication::processEvents();
    }
    EXPECT_LT(platform::testing::portFailures() - before, 10);
    EXPECT_FALSE(Link().isOpen());
    EXPECT_EQ(traceLines().filter("的对端已断开").size(), 1);

    // The next minute's probe: one try, refused, nothing left waiting to go.
    const int tried = platform::testing::portFailures();
    EXPECT_EQ(SendOrder(FrameCode::kLinkProbe, false, 4, true), 0);
    for (int turn = 0; turn < 50; ++turn) ProcessComm();
    EXPECT_FALSE(Link().isOpen());
    EXPECT_LE(platform::testing::portFailures() - tried, 1);
    EXPECT_EQ(traceLines().filter("不通").size(), 1);
}

}  // namespace
