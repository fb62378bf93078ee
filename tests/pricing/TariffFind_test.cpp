// 查找 in the two tariff windows on a fresh station: the ordinary fee-rate
// window and the IP tariff window find a zone code or place name the same way,
// moving to the tab that holds it, wrapping past the last tab, and taking the
// text literally but for * and ?.
#include "core/ModDefine.h"
#include "core/frmFeeFind.h"
#include "platform/Prompts.h"
#include "pricing/frmFeeRate.h"
#include "pricing/frmIP.h"
#include "pricing/TariffWindowFixture.h"
#include "support/Fixtures.h"

#include <optional>
#include <vector>

namespace {

// One look: the text sought, the tab it must end on, and where it is checked
// the zone of the row found and the column the selection reaches.
struct Look {
    QString text;
    int tab;
    QString zone = QString();
    int colSel = -1;
};

using pricingtest::rate;

// The ordinary rates: feerateid 0.
struct FeeRateFind {
    using Window = pricing::frmFeeRate;
    static void seed() {
        rate("0755", 7, 0, "深圳");
        rate("0756", 0, 0, "深圳二");
        rate("020", 2, 0, "广州");
    }
    static std::vector<Look> looks() {
        return {{"深圳*", 7, "0755", 12},
                {"深圳*", 0},
                {"深圳*", 7},
                {"0_55", 7},   // literal: no such zone
                {"02?", 2}};
    }
};

// The rates of IP type 1; an ordinary rate of the same name is not this window's.
struct IPFind {
    using Window = pricing::frmIP;
    static void seed() {
        dbSwitch.execute("insert into ipfeerate values(?,?,'')", {1, QStringLiteral("甲")});
        rate("0755", 2, 1, "深圳");
        rate("0756", 5, 1, "深圳二");
        rate("0755", 7, 0, "深圳普通");
    }
    static std::vector<Look> looks() {
        return {{"深圳*", 2},
                {"深圳*", 5, "0756"},
                {"深圳*", 2},
                {"深_", 2},
                {"075?", 5}};
    }
};

template <typename Way>
class TariffFind : public pricingtest::TariffWindowTest<typename Way::Window> {};

struct FindNames {
    template <typename Way>
    static std::string GetName(int) {
        return std::is_same_v<Way, FeeRateFind> ? "FeeRate" : "IP";
    }
};

using Finds = ::testing::Types<FeeRateFind, IPFind>;
TYPED_TEST_SUITE(TariffFind, Finds, FindNames);

TYPED_TEST(TariffFind, FindSwitchesTabWrapsAndIsLiteral) {
    TypeParam::seed();
    auto& win = TypeParam::Window::instance();
    auto& grid = *win.fgFeerate;
    for (const Look& look : TypeParam::looks()) {
        platform::script::onModal("frmFeeFind", [text = look.text](QDialog* d) {
            auto* f = static_cast<frmFeeFind*>(d);
            f->txtFind->setText(text);
            f->cmdFind_Click();
        });
        win.cmdFeerate_Click(2);
        const std::string at = look.text.toStdString();
        EXPECT_EQ(win.SSTab1->currentIndex(), look.tab) << at;
        if (!look.zone.isEmpty()) {
            EXPECT_EQ(grid.TextMatrix(grid.Row(), 0), look.zone) << at;
        }
        if (look.colSel >= 0) {
            EXPECT_EQ(grid.ColSel(), look.colSel) << at;
        }
    }
}

}  // namespace
