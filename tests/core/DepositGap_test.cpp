// A deposit moved in a gap of the journal: where a later deposit entry of the
// same user proves what the lost one moved, the user is named with that
// amount and asked once; where none does, the box says the deposits cannot be
// checked, never leaving a deposit short unsaid.
#include "LedgerFixture.h"

#include "billing/Payments.h"
#include "core/books/ChargeLog.h"
#include "platform/Prompts.h"

namespace pricingtest {
namespace {

class DepositGap : public LedgerTest {
protected:
    // User 7 pays `amount` at the payment window: the balance and the deposit
    // move, each an entry; the number of the deposit's.
    qint64 pay(Currency amount) {
        EXPECT_TRUE(billing::PayUser(7, amount, Currency(), QDateTime(QDate(2026, 6, 15), QTime(10, 0)), nullptr));
        return dbPhoneCur.scalar("SELECT max(f_seq) FROM tab_chargelog WHERE f_kind=? AND f_userid=7",
                                 {int(ModSwitch::LogKind::Deposit)})
            .toLongLong();
    }
    static constexpr const char* kUnchecked = "其中如有押金变动，无法核对，请核对备份之后办理过缴费或押金变动的用户的押金。";
};

// The first payment's deposit entry lost, the second's held: its deposit
// before proves what went. Named with that amount and its sign once, asked
// once; the same file put back again asks nothing, and the deposit lacks
// only the amount named.
TEST_F(DepositGap, ADepositLostBeforeALaterOneIsNamedWithItsAmountOnce) {
    const QString copy = keepStationFile("by-hand.mdb");
    const Currency first = yuan("30.00");
    const qint64 lost = pay(first);
    pay(yuan("20.00"));
    addUserNow(8, "乙", yuan("50.00"));   // a user waiting: the opening catches up
    const Currency ledger = depositOf(7);
    loseEntries(lost, lost);
    const QString line = QStringLiteral("以下金额无法找回，请重新录入：\n用户7 用户7：押金%1").arg(first.toString2());
    const QString text = startWithStationFile(copy);
    EXPECT_EQ(text.count(line), 1) << text.toStdString();
    EXPECT_EQ(text.count("用户7 用户7："), 1) << text.toStdString();
    EXPECT_FALSE(text.contains(kUnchecked)) << text.toStdString();
    EXPECT_EQ(depositOf(7), ledger - first) << text.toStdString();
    EXPECT_EQ(asked(7), qMakePair(qint64(1), first)) << text.toStdString();
    const QString again = startWithStationFile(copy);
    EXPECT_FALSE(again.contains("用户7 用户7：")) << again.toStdString();
    EXPECT_EQ(depositOf(7), ledger - first) << again.toStdString();
    EXPECT_EQ(asked(7), qMakePair(qint64(1), first)) << again.toStdString();
}

// The only deposit entry lost (its balance entry held): nothing tells its
// amount, so the box says once that the deposits cannot be checked.
TEST_F(DepositGap, ADepositLostWithNoLaterOneIsSaidUncheckedOnce) {
    const QString copy = keepStationFile("by-hand.mdb");
    const qint64 lost = pay(yuan("30.00"));
    addUserNow(8, "乙", yuan("50.00"));
    loseEntries(lost, lost);
    const QString text = startWithStationFile(copy);
    EXPECT_EQ(text.count(kUnchecked), 1) << text.toStdString();
    EXPECT_FALSE(text.contains("请重新录入")) << text.toStdString();
}

}  // namespace
}  // namespace pricingtest
