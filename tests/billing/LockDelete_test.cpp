// The action after a payment, against the simulated switch on a pseudo-terminal.
#include "transfer/TransferFixture.h"

#include "billing/Payments.h"
#include "platform/Clock.h"

using namespace transfertest;

namespace {

class AfterPaymentAtTheSwitch : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        platform::testing::setNow([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); });
        dbSwitch.execute("insert into user(userid,username,balancemode) values(7,'庚',0), (0,'默认用户',2)");
        dbSwitch.execute("update account set account='0123',userid=7,firstgrade=2,secgrade=5 where address=2050");
        dbSwitch.execute("update extension set userid=7,firstgrade=3,secgrade=4 where address=5");
    }
    QDateTime today() const { return QDateTime(QDate(2026, 12, 7), QTime(0, 0)); }
    qint64 count(const char* sql) { return dbSwitch.scalar(sql).toLongLong(); }
};

TEST_F(AfterPaymentAtTheSwitch, LockThenDeleteFreesEverythingTheUserHeld) {
    EXPECT_FALSE(billing::AfterPayment(7, "庚", billing::kLockUser, today()));
    auto acc = sw.row(sim::tables::Account, 2050);
    ASSERT_TRUE(acc);
    EXPECT_EQ(sim::decodeAccount(*acc)->grade1, 10);   // locked
    EXPECT_EQ(sim::decodeExtPara(*sw.row(sim::tables::Extension, 5))->grade1, 10);
    EXPECT_EQ(count("select count(*) from user where userid=7"), 1);

    // Delete: a period ending before today deletes nothing and sends nothing.
    sw.clearReceived();
    EXPECT_FALSE(billing::AfterPayment(7, "庚", billing::kDeleteUser, today().addDays(-1)));
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_TRUE(billing::AfterPayment(7, "庚", billing::kDeleteUser, today()));
    EXPECT_EQ(sent().first().left(12), "8C080802FFFF");   // the account given back first
    EXPECT_EQ(count("select count(*) from user where userid=7"), 0);
    EXPECT_EQ(count("select count(*) from account where userid=7 or account='0123'"), 0);
    EXPECT_EQ(count("select userid from extension where address=5"), 0);

    // The default user: nothing sent, nothing deleted.
    sw.clearReceived();
    EXPECT_FALSE(billing::AfterPayment(0, "默认用户", billing::kDeleteUser, today()));
    EXPECT_FALSE(billing::AfterPayment(0, "默认用户", billing::kLockUser, today()));
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(count("select count(*) from user where userid=0"), 1);
}

TEST_F(AfterPaymentAtTheSwitch, RefusedLockAndDeleteChangeNothing) {
    sw.addRule("8C08", sim::Reply::Status03, 4);
    platform::script::answer("闭锁用户庚失败", platform::rOK);
    EXPECT_FALSE(billing::AfterPayment(7, "庚", billing::kLockUser, today()));
    platform::script::answer("删除用户庚失败！", platform::rOK);
    EXPECT_FALSE(billing::AfterPayment(7, "庚", billing::kDeleteUser, today()));
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(count("select count(*) from user where userid=7"), 1);
    EXPECT_EQ(count("select userid from account where address=2050"), 7);
    EXPECT_EQ(count("select userid from extension where address=5"), 7);
}

}  // namespace
