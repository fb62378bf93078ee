// The tariff windows reached from the console's tree, on a station loaded
// against the simulator: the ordinary fee-rate window, the IP tariff window
// and the discount window take the screen the same way and give it back on
// closing.
#include "console/ConsoleFixture.h"

#include "pricing/frmDiscount.h"
#include "pricing/frmFeeRate.h"
#include "pricing/frmIP.h"

#include <QTest>

using namespace consoletest;

namespace {

// What differs between the windows: the tree's key, the caption asserted,
// how it is closed and the shared recordsets the closing opens again.
struct FeeRateWay {
    using Window = pricing::frmFeeRate;
    static constexpr const char* kView = "FeeRate";
    static constexpr const char* kTitle = nullptr;
    static constexpr bool kReopensRates = true, kReopensHeads = false;
    static void close(Window& w) { w.cmdFeerate[4]->click(); }
};
struct IPWay {
    using Window = pricing::frmIP;
    static constexpr const char* kView = "IP";
    static constexpr const char* kTitle = "IP费率及字头设置";
    static constexpr bool kReopensRates = true, kReopensHeads = true;
    static void close(Window& w) { w.cmdFeerate[4]->click(); }
};
struct DiscountWay {
    using Window = pricing::frmDiscount;
    static constexpr const char* kView = "Discount";
    static constexpr const char* kTitle = nullptr;
    static constexpr bool kReopensRates = false, kReopensHeads = false;
    // The close box asks about a changed scheme too.
    static void close(Window& w) {
        w.chkSunday->click();
        platform::script::answer("参数已经改变，要保存吗?", platform::rNo);
        w.close();
        EXPECT_EQ(dbSwitch.scalar("select sundaydiscount from discount where discountid=1").toInt(), 0);
    }
};

template <typename Way>
class TariffWayIn : public ConsoleTest {
protected:
    void TearDown() override {
        Way::Window::unload();
        ConsoleTest::TearDown();
    }
};

struct WayNames {
    template <typename Way>
    static std::string GetName(int) {
        return Way::kView;
    }
};

using Ways = ::testing::Types<FeeRateWay, IPWay, DiscountWay>;
TYPED_TEST_SUITE(TariffWayIn, Ways, WayNames);

TYPED_TEST(TariffWayIn, TreeNodeTakesTheScreenAndClosingGivesItBack) {
    using Window = typename TypeParam::Window;
    this->connectSwitch();
    this->load();
    this->console().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&this->console()));
    ASSERT_TRUE(this->console().ShowView("CityHead"));
    this->clearLine();

    ASSERT_TRUE(this->console().ShowView(TypeParam::kView));
    ASSERT_TRUE(Window::exists());
    auto& win = Window::instance();
    EXPECT_TRUE(win.isVisible());
    EXPECT_FALSE(win.isModal());
    if (TypeParam::kTitle) {
        EXPECT_EQ(win.windowTitle(), TypeParam::kTitle);
    }
    EXPECT_FALSE(this->console().isVisible());
    EXPECT_EQ(CurTable, "CityHead");
    ASSERT_TRUE(spin(2000, [&] { return !this->received().isEmpty(); }));
    EXPECT_EQ(this->received().value(0), "84040000");

    const quint64 rates = rsFeeRate.openSerial(), heads = rsIPHead.openSerial();
    TypeParam::close(win);
    EXPECT_FALSE(Window::exists());
    EXPECT_TRUE(this->console().isVisible());
    if (TypeParam::kReopensRates) {
        EXPECT_NE(rsFeeRate.openSerial(), rates);
    }
    if (TypeParam::kReopensHeads) {
        EXPECT_NE(rsIPHead.openSerial(), heads);
    }
}

}  // namespace
