// A record sent again after the clock was put right, where the clock had
// been moved before: the notes of the older move must not hide the newer.
#include "support/PricingFixture.h"

#include "core/ModDefine.h"
#include "platform/Clock.h"
#include "pricing/ClsMonitor.h"

using namespace pricingtest;

namespace {

class ClockDuplicateTest : public PricingTest {
protected:
    void TearDown() override {
        FeeHDTime = 0;
        PricingTest::TearDown();
    }
    bool record(const CallRecord& r) { return ClsMonitor().Record(r.frame(), true); }
    // A call too short to be charged (kept as a reject, no entry) at `when`.
    void shortCallAt(const QDateTime& when) {
        now = when;
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 10), QTime(9, 0, 0));
        r.seconds = 5;
        ASSERT_TRUE(record(r));
    }
};

}  // namespace

// The clock two years ahead for a while (only calls too short to keep seen
// then) and put back; later a session a year ahead stores and charges a call
// and is killed before its answer. Sent again once the clock is right, it is
// the call stored a year ahead, not one of its own.
TEST_F(ClockDuplicateTest, ARecordSentAgainAfterASecondPutRightIsChargedOnce) {
    FeeHDTime = 10;
    addUser(7, "10", 1);
    setExtensionUser(5, 7);
    addRate(QStringLiteral("8"), 7, "1.00", "1.00");
    platform::testing::setTick([] { return qint64(0); });   // the clock alone moves
    shortCallAt(QDateTime(QDate(2026, 6, 20), QTime(12, 0, 0)));
    shortCallAt(QDateTime(QDate(2028, 6, 20), QTime(12, 0, 0)));
    shortCallAt(QDateTime(QDate(2026, 6, 20), QTime(12, 0, 0)));
    ASSERT_EQ(count("Tab_Phone"), 0);

    now = QDateTime(QDate(2027, 6, 20), QTime(12, 0, 0));
    restart();
    CallRecord r;
    r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 30, 0));
    ASSERT_TRUE(record(r));
    ASSERT_EQ(count("Tab_Phone", QStringLiteral("f_date=?"), {QStringLiteral("2027-06-15 10:30:00")}), 1);
    EXPECT_EQ(remainOf(7), yuan("7.00"));   // 125 s: 1.00 + 2 units

    now = QDateTime(QDate(2026, 6, 20), QTime(12, 0, 0));
    restart();
    sent();
    ASSERT_TRUE(record(r));
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(remainOf(7), yuan("7.00"));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
}
