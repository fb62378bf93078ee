// The fee-rate window reached from the console's tree, on a station loaded against the simulator.
#include "console/ConsoleFixture.h"

#include "pricing/frmFeeRate.h"

using namespace consoletest;

namespace {

class FeeRateWayIn : public ConsoleTest {
protected:
    void TearDown() override {
        pricing::frmFeeRate::unload();
        ConsoleTest::TearDown();
    }
};

TEST_F(FeeRateWayIn, TreeNodeTakesTheScreenAndClosingGivesItBack) {
    connectSwitch();
    load();
    console().show();
    settle();
    ASSERT_TRUE(console().ShowView("CityHead"));
    settle();
    sw.clearReceived();

    ASSERT_TRUE(console().ShowView("FeeRate"));
    ASSERT_TRUE(pricing::frmFeeRate::exists());
    EXPECT_TRUE(pricing::frmFeeRate::instance().isVisible());
    EXPECT_FALSE(pricing::frmFeeRate::instance().isModal());
    EXPECT_FALSE(console().isVisible());
    EXPECT_EQ(CurTable, "CityHead");
    ASSERT_TRUE(spin(2000, [&] { return !received().isEmpty(); }));
    EXPECT_EQ(received().value(0), "84040000");

    const quint64 before = rsFeeRate.openSerial();
    pricing::frmFeeRate::instance().cmdFeerate[4]->click();
    EXPECT_FALSE(pricing::frmFeeRate::exists());
    EXPECT_TRUE(console().isVisible());
    EXPECT_NE(rsFeeRate.openSerial(), before);
}

}  // namespace
