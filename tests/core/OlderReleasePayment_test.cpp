// A station file of the release before the numbered journal, opened by this
// one for the first time: that release logged its calls but not its payments,
// so a payment after a call moved the balance with no entry. The file is
// placed by what its rows prove, and no call is charged twice.
#include "core/LedgerFixture.h"

#include "billing/Payments.h"

#include <limits>

namespace pricingtest {
namespace {

class OlderReleasePaymentTest : public LedgerTest {
protected:
    void pay(qint32 userid) {
        ASSERT_TRUE(billing::PayUser(userid, yuan("30.00"), Currency(), QDateTime(QDate(2026, 6, 15), QTime(10, 0)), nullptr));
    }
    // The station closed, its files made what the older release left
    // (`stationFile`, when given, put in by hand as the station file), and
    // opened by this release; the boxes that opening showed.
    QString upgrade(const QString& stationFile = {}) {
        ModSwitch::OpenAllDB(false);
        EXPECT_TRUE(testsupport::makePreviousVersion(dir->dataPath()));
        if (!stationFile.isEmpty()) replaceClosed("switch.mdb", stationFile);
        return boxesOf([this] { restart(); });
    }
};

// One user: nothing else tells where the file stands against the call. It is
// not charged again; the difference the payment made is named once, with its
// sign, and a later opening names nothing, nor one of the same file again.
TEST_F(OlderReleasePaymentTest, APaymentAfterACallIsNamedNotChargedAgain) {
    const Currency fee = call(1);
    pay(7);
    const Currency ledger = remainOf(7);
    const Currency difference = ledger - (yuan("100.00") - fee);
    const QString line = QStringLiteral("用户7 用户7：余额%1元，记账记录为%2元，相差%3元；其间1笔话费共%4元")
                             .arg(ledger.toString2(), (yuan("100.00") - fee).toString2(),
                                  (difference > Currency() ? "+" : "") + difference.toString2(), fee.toString2());
    platform::script::answer(line, platform::rOK);
    const QString text = upgrade();
    EXPECT_EQ(remainOf(7), ledger) << text.toStdString();
    EXPECT_EQ(text.count(line), 1) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("重新计入备份")) || text.contains(QStringLiteral("重新录入"))) << text.toStdString();
    EXPECT_EQ(asked(7), qMakePair(qint64(1), difference));
    // The copy the upgrading start took, without a mark, put back by hand
    // before another opening: placed alike, asked nothing again.
    ASSERT_LT(ModSwitch::AppliedMark(Database::openReadOnly(dir->file("switch.mdb.bak"))), 0);
    replaceClosed("switch.mdb", dir->file("switch.mdb.bak"));
    EXPECT_EQ(boxesOf([this] { restart(); }), QString());
    EXPECT_EQ(asked(7), qMakePair(qint64(1), difference));
    EXPECT_EQ(remainOf(7), ledger);
}

// The older release's file put in by hand, taken after the payment, is
// placed by a later call: with two users, the other one's (its balance
// stands before that call, which is charged once, and after the payer's
// call, which is held); with the payer alone, its own next call (its
// balance the one before it, so the call before is held and the later one
// charged once).
class PutInByHand : public OlderReleasePaymentTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PutInByHand, AFileIsPlacedByALaterCall) {
    const bool other = GetParam();
    if (other) {
        addUser(8, "100.00");   // on extension 6, beside user 7 on extension 5
        setExtensionUser(6, 8);
    }
    call(1);
    if (other) { EXPECT_TRUE(callAt(2, 6)); }
    pay(7);
    const QString older = olderStationFile();
    const Currency fees = storedFees(other ? 8 : 7);
    ASSERT_TRUE(callAt(3, other ? 6 : 5));
    ASSERT_GT(storedFees(other ? 8 : 7), fees);   // charged
    const Currency ledger7 = remainOf(7), ledger8 = other ? remainOf(8) : Currency();
    EXPECT_EQ(upgrade(older), QString());
    EXPECT_EQ(remainOf(7), ledger7);
    if (other) { EXPECT_EQ(remainOf(8), ledger8); }
    EXPECT_EQ(asked(7).first + asked(8).first, 0);
}
INSTANTIATE_TEST_SUITE_P(LaterCall, PutInByHand, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "OtherUsers" : "PayersOwn"; });

// A balance no sum can hold (a damaged row) beside the payment: the opening
// goes on and says the balances were not brought up, instead of ending.
TEST_F(OlderReleasePaymentTest, ABalanceNoSumCanHoldIsToldNotThrown) {
    call(1);
    pay(7);
    const QString older = olderStationFile();
    Database::open(older).execute("UPDATE user SET remain=? WHERE userid=7", {std::numeric_limits<qint64>::min() + 1});
    platform::script::answer("用户余额未能按备份之后的话费更新", platform::rOK);
    const QString text = upgrade(older);
    EXPECT_TRUE(text.contains(QStringLiteral("用户余额未能按备份之后的话费更新"))) << text.toStdString();
}

}  // namespace
}  // namespace pricingtest
