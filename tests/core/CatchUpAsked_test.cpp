// The opening's catch-up of a station file behind the journal: each amount
// it asks the operator to enter again is asked once, and money whose entry
// went with the call file's log pages is named, never silently left out.
#include "LedgerFixture.h"

#include "billing/Payments.h"
#include "core/books/ChargeLog.h"
#include "platform/Prompts.h"

namespace pricingtest {
namespace {

class CatchUpAsked : public LedgerTest {};

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
    const QString line = QStringLiteral("以下金额无法找回，请重新录入：\n用户7 用户7：%1").arg(paid.toString2());
    const QString first = startWithStationFile(copy);
    EXPECT_EQ(first.count(line), 1) << first.toStdString();
    EXPECT_EQ(remainOf(7), ledger - paid) << first.toStdString();
    EXPECT_EQ(asked(7), qMakePair(qint64(1), paid)) << first.toStdString();
    const QString second = startWithStationFile(copy);
    EXPECT_FALSE(second.contains("用户7 用户7：")) << second.toStdString();
    EXPECT_EQ(remainOf(7), ledger - paid) << second.toStdString();
    EXPECT_EQ(asked(7), qMakePair(qint64(1), paid)) << second.toStdString();
}
INSTANTIATE_TEST_SUITE_P(Mark, CatchUpAskedOnce, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Unmarked" : "Marked"; });

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
    const qsizetype shown = platform::script::shown().size();
    restart();
    EXPECT_EQ(platform::script::shown().size(), shown);
}
INSTANTIATE_TEST_SUITE_P(CatchUpAsked, PaymentLostWithTheLogsPages, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "BesideCalls" : "Alone"; });

}  // namespace
}  // namespace pricingtest
