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
    testsupport::SwitchOnPty link;
};

TEST_F(EndToEnd, HandshakeOpensTheLink) {
    g_NoAnswerCount = 10;
    EXPECT_EQ(OpenComm(false), 1) << traceLines().join('\n').toStdString();
    EXPECT_TRUE(waitSent("820300"));
    const auto r = link.sw().received();
    ASSERT_GE(r.size(), 4u);
    EXPECT_EQ(r[0].hex(), "84040000");
    EXPECT_EQ(r[1].hex(), "960300");
    EXPECT_EQ(r[2].hex(), "830300");
    EXPECT_EQ(r[3].hex(), "820300");
}

}  // namespace
