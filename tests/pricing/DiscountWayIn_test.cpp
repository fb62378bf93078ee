// The discount window reached from the console's tree, on a station loaded against the simulator.
#include "console/ConsoleFixture.h"

#include "pricing/frmDiscount.h"

using namespace consoletest;

namespace {

class DiscountWayIn : public ConsoleTest {
protected:
    void TearDown() override {
        pricing::frmDiscount::unload();
        ConsoleTest::TearDown();
    }
};

TEST_F(DiscountWayIn, TreeNodeTakesTheScreenAndClosingGivesItBack) {
    connectSwitch();
    load();
    console().show();
    settle();
    ASSERT_TRUE(console().ShowView("LanHead"));
    clearLine();

    ASSERT_TRUE(console().ShowView("Discount"));
    ASSERT_TRUE(pricing::frmDiscount::exists());
    auto& win = pricing::frmDiscount::instance();
    EXPECT_TRUE(win.isVisible());
    EXPECT_FALSE(win.isModal());
    EXPECT_FALSE(console().isVisible());
    EXPECT_EQ(CurTable, "LanHead");
    ASSERT_TRUE(spin(2000, [&] { return !received().isEmpty(); }));
    EXPECT_EQ(received().value(0), "84040000");

    // The close box asks about a changed scheme too.
    win.chkSunday->click();
    platform::script::answer("参数已经改变，要保存吗?", platform::rNo);
    win.close();
    EXPECT_FALSE(pricing::frmDiscount::exists());
    EXPECT_TRUE(console().isVisible());
    EXPECT_EQ(dbSwitch.scalar("select sundaydiscount from discount where discountid=1").toInt(), 0);
}

}  // namespace
