// The opening's catch-up of a station file behind the journal: each amount
// it asks the operator to enter again is asked once, and money whose entry
// went with the call file's log pages is named, never silently left out; a
// deposit moved in a gap of the journal is named with its amount where a
// later entry proves it, and said unchecked where none does.
#include "LedgerFixture.h"

#include "billing/Payments.h"
#include "core/books/ChargeLog.h"

namespace pricingtest {
namespace {

class CatchUpAsked : public LedgerTest {
protected:
    // The station file put back by hand from `copy` twice: the first catch-up
    // names `line` once, the one line of user 7, and asks for `amount` once;
    // the second asks nothing more. `held` (user 7's balance or deposit)
    // lacks only `amount` against `ledger` throughout. The first one's boxes.
    QString askedOnceOverTwoPutBacks(const QString& copy, const QString& line, Currency amount, Currency ledger,
                                  const std::function<Currency()>& held) {
        const QString first = startWithStationFile(copy);
        EXPECT_EQ(first.count(line), 1) << first.toStdString();
        EXPECT_EQ(first.count("用户7 用户7："), 1) << first.toStdString();
        EXPECT_EQ(held(), ledger - amount) << first.toStdString();
        EXPECT_EQ(asked(7), qMakePair(qint64(1), amount)) << first.toStdString();
        const QString second = startWithStationFile(copy);
        EXPECT_FALSE(second.contains("用户7 用户7：")) << second.toStdString();
        EXPECT_EQ(held(), ledger - amount) << second.toStdString();
        EXPECT_EQ(asked(7), qMakePair(qint64(1), amount)) << second.toStdString();
        return first;
    }
};

// A payment's entry lost, the call after it logged, a user added since: the
// station file put back by hand (with its mark, or without one: placed by its
// rows) is caught up at the opening, which asks for the payment's amount. The
// same file put back by hand again asks for it no more: the amount asked is
// one entry of the journal, read against the line.
class CatchUpAskedOnce : public CatchUpAsked, public ::testing::WithParamInterface<bool> {};

TEST_P(CatchUpAskedOnce, AnAmountTheCatchUpAskedIsAskedOnce) {
    const QString copy = keepStationFile("by-hand.mdb");
    if (GetParam()) Database::open(copy).execute("DELETE FROM Variant WHERE varname=?", {ModSwitch::kChargeMark});
    // A payment that moves the balance alone: one entry.
    const Currency paid = yuan("30.00");
    ModSwitch::MoveBalances([&] { dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=7", {paid}); }, 7);
    const qint64 payment = ModSwitch::AppliedMark(dbSwitch);
    call(1);   // its entry tells the balance the payment left
    ModSwitch::MoveBalances([] { dbSwitch.execute("INSERT INTO user (userid, username, remain) VALUES (8, '乙', 50000)"); });
    const Currency ledger = remainOf(7);
    loseEntries(payment, payment);
    askedOnceOverTwoPutBacks(copy, QStringLiteral("以下金额无法找回，请重新录入：\n用户7 用户7：%1").arg(paid.toString2()), paid, ledger,
                             [this] { return remainOf(7); });
}
INSTANTIATE_TEST_SUITE_P(Mark, CatchUpAskedOnce, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Unmarked" : "Marked"; });

// The first payment's deposit entry lost: where the second payment's deposit
// entry is held, its deposit before proves what went, named with its amount
// once and asked once, and the same file put back again asks nothing; where
// it is the only deposit entry (its balance entry held), nothing tells its
// amount, so the box says once that the deposits cannot be checked.
class DepositGap : public CatchUpAsked, public ::testing::WithParamInterface<bool> {};

TEST_P(DepositGap, ALostDepositIsNamedWithTheAmountALaterOneProvesOrSaidUncheckedOnce) {
    const bool later = GetParam();
    const QString copy = keepStationFile("by-hand.mdb");
    // User 7 pays at the payment window: the balance and the deposit move, each an entry.
    const auto pay = [](Currency amount) {
        EXPECT_TRUE(billing::PayUser(7, amount, Currency(), QDateTime(QDate(2026, 6, 15), QTime(10, 0)), nullptr));
        return dbPhoneCur.scalar("SELECT max(f_seq) FROM tab_chargelog WHERE f_kind=? AND f_userid=7", {int(ModSwitch::LogKind::Deposit)})
            .toLongLong();
    };
    const Currency first = yuan("30.00");
    const qint64 lost = pay(first);
    if (later) pay(yuan("20.00"));
    addUserNow(8, "乙", yuan("50.00"));   // a user waiting: the opening catches up
    const Currency ledger = depositOf(7);
    loseEntries(lost, lost);
    const QString unchecked = QStringLiteral("其中如有押金变动，无法核对，请核对备份之后办理过缴费或押金变动的用户的押金。");
    if (later) {
        const QString line = QStringLiteral("以下金额无法找回，请重新录入：\n用户7 用户7：押金%1").arg(first.toString2());
        const QString text = askedOnceOverTwoPutBacks(copy, line, first, ledger, [this] { return depositOf(7); });
        EXPECT_FALSE(text.contains(unchecked)) << text.toStdString();
        return;
    }
    const QString text = startWithStationFile(copy);
    EXPECT_EQ(text.count(unchecked), 1) << text.toStdString();
    EXPECT_FALSE(text.contains("请重新录入")) << text.toStdString();
}
INSTANTIATE_TEST_SUITE_P(LaterDeposit, DepositGap, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Held" : "None"; });

// A payment after the safety copies (beside calls, or alone), the call
// file's log pages lost and the station file copied back by hand from its
// ".bak": no file holds the payment's entry, so the start says so, once; the
// balance lacks only what the box names.
class PaymentLostWithTheLogsPages : public CatchUpAsked, public ::testing::WithParamInterface<bool> {};

TEST_P(PaymentLostWithTheLogsPages, IsNamed) {
    const bool calls = GetParam();
    call(1);
    restart();   // both safety copies hold the first call
    const Currency fees = calls ? call(2) : Currency();
    // Paid as the payment window pays (the balance becomes the deposit after it).
    const Currency before = remainOf(7);
    ASSERT_TRUE(billing::PayUser(7, yuan("150.00"), Currency(), QDateTime(QDate(2026, 6, 15), QTime(10, 0)), nullptr));
    const Currency paid = remainOf(7) - before;
    const Currency more = calls ? call(3) : Currency();
    const Currency ledger = remainOf(7);
    const Currency atCopy = ledger + fees + more - paid;
    const QString text = startBesideLostLogPages(dir->file("switch.mdb.bak"));
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(remainOf(7), atCopy) << text.toStdString();
    const QString line = QStringLiteral("备份之后的缴费、结算和押金变动如有，其计费记录也已无法读取，未计入用户余额，"
                                        "请核对%1备份之后办理过这些业务的用户的余额。")
                             .arg(calls ? "以上用户及" : "");
    EXPECT_EQ(text.count(calls ? notCharged(fees + more) + "\n" + line : line), 1) << text.toStdString();
    // Said with the put-back alone: the next start has nothing to tell.
    EXPECT_EQ(boxesOf([this] { restart(); }), QString());
}
INSTANTIATE_TEST_SUITE_P(CatchUpAsked, PaymentLostWithTheLogsPages, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "BesideCalls" : "Alone"; });

}  // namespace
}  // namespace pricingtest
