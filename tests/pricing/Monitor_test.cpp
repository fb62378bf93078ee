// Live calls of deposit users: limits, cuts and the limits recomputed when the balance changes.
#include "support/PricingFixture.h"

#include "pricing/ClsMonitor.h"

using namespace pricingtest;

namespace {

class MonitorTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        addUser(7, "1.00", 0);
        setExtensionUser(5, 7);
        setExtensionUser(6, 7);
        addRate(QStringLiteral("8"), 7, "0", "0.10", 0, 60);
        addRate(QStringLiteral("本局"), 9, "0", "0", 0, 60);
    }
    void live(int ext, int slot, const QString& dialled = QStringLiteral("88001234"), int kind = 0,
              const QString& account = {}, bool forwarded = false) {
        ClsMonitor().Monitor(liveFrame(ext, dialled, slot, kind, account, forwarded));
    }
};

}  // namespace

TEST_F(MonitorTest, DepositUserGetsTheLimitTheBalancePaysForAndAnEditOfItRecomputesIt) {
    live(5, 2);
    // 1.00 yuan buys ten 60 s units: 600 s in all, one of them talked already.
    EXPECT_EQ(sent(), QStringList{QStringLiteral("920700050256") + QStringLiteral("02")});
    const MonSlot& s = MonSlots[2];
    EXPECT_EQ(s.UserID, 7);
    EXPECT_EQ(s.LimitSet, -1);
    EXPECT_EQ(s.Balance, yuan("1.00"));
    EXPECT_EQ(s.StartTime, now.addSecs(-1));
    EXPECT_EQ(s.EndTime, s.StartTime.addSecs(1 + 598));
    // An edit of the balance recomputes the limit; a free slot takes none.
    ClsMonitor().UpdateMonitor(2, yuan("0.50"));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("92070005012A02")});
    EXPECT_EQ(MonSlots[2].Balance, yuan("0.50"));
    ClsMonitor().UpdateMonitor(5, yuan("9"));
    EXPECT_TRUE(sent().isEmpty());
}

// At the edges of the balance and overdraft (0.10 a minute, one second talked):
// nothing left cuts the call and frees the slot; the overdraft is spendable.
// Each case a user of its own on extension 5, so no other call of theirs runs.
TEST_F(MonitorTest, TheLimitFollowsTheBalanceAndTheOverdraftAtItsEdges) {
    const struct {
        const char *remain, *overdraft;
        int slot;
        const char* frame;
        bool held;
    } cases[] = {{"0", "0", 4, "92070005000004", false},
                 {"0.05", "0", 1, "92070005000001", true},      // pays for no second: limit zero
                 {"0", "0.10", 2, "92070005003A02", true},      // 60 s, one talked: limit 58
                 {"100000", "0", 3, "92070005FFFD03", true}};   // beyond the search: the largest limit
    qint32 user = 20;
    for (const auto& c : cases) {
        addUser(++user, c.remain, 0, c.overdraft);
        setExtensionUser(5, user);
        live(5, c.slot);
        EXPECT_EQ(sent(), QStringList{QString::fromLatin1(c.frame)}) << c.remain << '+' << c.overdraft;
        EXPECT_EQ(MonSlots[c.slot].UserID, c.held ? user : -1) << c.remain;
        EXPECT_EQ(MonSlots[c.slot].LimitSet, c.held ? -1 : 0) << c.remain;
    }
}

TEST_F(MonitorTest, FreeCallsMonthlyUsersAndUnknownUsersGetNoLimit) {
    live(5, 1, QStringLiteral("8001"), 2);   // between extensions: the free 本局 rate
    EXPECT_TRUE(sent().isEmpty());
    addUser(8, "0", 1);
    setExtensionUser(7, 8);
    live(7, 2);
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(MonSlots[2].TalkSecs, 65000);
    setExtensionUser(8, 99);
    MonSlots[3].LimitSet = -1;
    live(8, 3);
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(MonSlots[3].UserID, -1);
    EXPECT_EQ(MonSlots[3].LimitSet, 0);
}

TEST_F(MonitorTest, CallsOfTheDefaultUserAreNeverLimitedOrCut) {
    // Extension 9 belongs to nobody: its calls are the default user's.
    live(9, 1);
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(MonSlots[1].UserID, -1);
    // Even a default user an operator made a deposit user with nothing left.
    addUser(0, "0", 0);
    live(9, 2);
    live(9, 3, QStringLiteral("88001234"), 0, QStringLiteral("2100"));   // an account nobody owns
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(MonSlots[2].LimitSet, 0);
    // A priced call of theirs recomputes no limits.
    CallRecord r;
    r.ext = 9;
    r.start = now.addSecs(-300);
    ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
    for (const QString& o : sent()) EXPECT_FALSE(o.startsWith(QStringLiteral("9207"))) << o.toStdString();
}

TEST_F(MonitorTest, FrameFieldsSlotKindAndAccount) {
    addUser(8, "1.00", 0);
    dbSwitch.execute(QStringLiteral("UPDATE account SET account='0012', userid=8 WHERE address=2050"));
    addRate(QStringLiteral("5"), 10, "0", "0.20", 0, 60);
    ClsMonitor().Monitor(liveFrame(5, QStringLiteral("5551"), 10, 1, QStringLiteral("12"), true));
    EXPECT_EQ(MonSlots[10].UserID, 8);
    EXPECT_EQ(MonSlots[10].Rate.perprice, yuan("0.20"));   // incoming: category 10
    EXPECT_EQ(sent(), QStringList{QStringLiteral("92070005012A0A")});
}

TEST_F(MonitorTest, StaleIpFlagOfAnInsideCallIsCleared) {
    MonSlots[1].IsIPCall = -1;
    MonSlots[1].IPRate.perprice = yuan("5");
    dbSwitch.execute(QStringLiteral("UPDATE feerate SET perprice=1000 WHERE feeratetype=9"));   // 0.10 a minute
    reopenRates();
    live(5, 1, QStringLiteral("8001"), 2);
    EXPECT_EQ(MonSlots[1].IsIPCall, 0);
    EXPECT_EQ(sent(), QStringList{QStringLiteral("92070005025601")});
}

TEST_F(MonitorTest, ChargedRecordRecomputesTheOtherCallsWithRemainPlusOverdraft) {
    addUser(7, "1.00", 0, "0.50");
    live(5, 2);
    sent();
    // The user's other call ends and is priced: 0.30 yuan.
    CallRecord r;
    r.ext = 6;
    r.channel = 0x09;
    r.start = now.addSecs(-200);
    r.seconds = 150;
    ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
    EXPECT_EQ(remainOf(7), yuan("0.70"));
    // 0.70 + 0.50 = 1.20 yuan: 720 s, 1 talked: limit 718 = 0x02CE.
    const QStringList orders = sent();
    EXPECT_TRUE(orders.contains(QStringLiteral("920700050" "2CE02"))) << orders.join(' ').toStdString();
    EXPECT_EQ(orders.last(), QStringLiteral("820302"));
    EXPECT_EQ(MonSlots[2].Balance, yuan("1.20"));
}
