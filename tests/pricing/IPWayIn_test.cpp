// The IP tariff window reached from the console's tree, on a station loaded against the simulator.
#include "console/ConsoleFixture.h"

#include "pricing/frmIP.h"

using namespace consoletest;

namespace {

class IPWayIn : public ConsoleTest {
protected:
    void TearDown() override {
        pricing::frmIP::unload();
        ConsoleTest::TearDown();
    }
};

TEST_F(IPWayIn, TreeNodeTakesTheScreenAndClosingGivesItBack) {
    connectSwitch();
    load();
    console().show();
    settle();
    ASSERT_TRUE(console().ShowView("CityHead"));
    settle();
    sw.clearReceived();

    ASSERT_TRUE(console().ShowView("IP"));
    ASSERT_TRUE(pricing::frmIP::exists());
    auto& win = pricing::frmIP::instance();
    EXPECT_TRUE(win.isVisible());
    EXPECT_FALSE(win.isModal());
    EXPECT_EQ(win.windowTitle(), "IP费率及字头设置");
    EXPECT_FALSE(console().isVisible());
    EXPECT_EQ(CurTable, "CityHead");
    ASSERT_TRUE(spin(2000, [&] { return !received().isEmpty(); }));
    EXPECT_EQ(received().value(0), "84040000");

    const quint64 rates = rsFeeRate.openSerial(), heads = rsIPHead.openSerial();
    win.cmdFeerate[4]->click();
    EXPECT_FALSE(pricing::frmIP::exists());
    EXPECT_TRUE(console().isVisible());
    EXPECT_NE(rsFeeRate.openSerial(), rates);
    EXPECT_NE(rsIPHead.openSerial(), heads);
}

}  // namespace
