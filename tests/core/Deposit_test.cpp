#include "console/frmPABX.h"
#include "core/Deposit.h"
#include "core/Settings.h"
#include "support/Fixtures.h"

using namespace ModGeneral;
using platform::Currency;

namespace {

class DepositGrades : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        for (int i = 0; i < 4; ++i) ModSwitch::SetVariant(QStringLiteral("Deposit%1").arg(i), QStringLiteral("0"));
        dbSwitch.execute(QStringLiteral("delete from user"));
        dbSwitch.execute(QStringLiteral("update extension set userid=0,depositgrade=0,bset=0"));
        dbSwitch.execute(QStringLiteral("update account set userid=0,depositgrade=0,bset=0"));
    }
    void user(qint64 id, const QString& remain, const QString& overdraft = QStringLiteral("0"), int mode = 0) {
        dbSwitch.execute(QStringLiteral("insert or replace into user(userid,username,remain,overdraft,balancemode) values(?,?,?,?,?)"),
                         {id, QStringLiteral("u%1").arg(id), *Currency::parse(remain), *Currency::parse(overdraft), mode});
    }
    void thresholds(const QStringList& t) {
        for (int i = 0; i < 4; ++i) ModSwitch::SetVariant(QStringLiteral("Deposit%1").arg(i), t[i]);
    }
    int grade(const QString& table, int address) {
        return dbSwitch.scalar(QStringLiteral("select depositgrade from %1 where address=?").arg(table), {address}).toInt();
    }
    int pending(const QString& table) {
        return dbSwitch.scalar(QStringLiteral("select count(*) from %1 where bset<>0").arg(table)).toInt();
    }
};

TEST_F(DepositGrades, GradeAtEachThreshold) {
    thresholds({"10", "20", "30.5", "40"});
    const QList<QPair<QString, int>> cases = {
        {"-5", 2}, {"10", 2}, {"10.0001", 3}, {"20", 3}, {"30.5", 6}, {"30.5001", 8}, {"40", 8}, {"40.01", 10}};
    for (const auto& [balance, expected] : cases) {
        user(7, balance);
        EXPECT_EQ(GetDepositGrade(7), expected) << balance.toStdString();
    }
    // The balance is remain plus overdraft.
    user(7, QStringLiteral("5"), QStringLiteral("15"));
    EXPECT_EQ(GetDepositGrade(7), 3);
    user(7, QStringLiteral("5"), QStringLiteral("16"));
    EXPECT_EQ(GetDepositGrade(7), 6);
    EXPECT_EQ(GetDepositGrade(999), 0);   // no such user

    // All thresholds zero, then missing or not a number.
    thresholds({"0", "0", "0", "0"});
    user(1, QStringLiteral("-0.01"));
    user(2, QStringLiteral("0.01"));
    EXPECT_EQ(GetDepositGrade(1), 2);
    EXPECT_EQ(GetDepositGrade(2), 10);
    dbSwitch.execute(QStringLiteral("delete from Variant where varname like 'Deposit%'"));
    ModSwitch::SetVariant(QStringLiteral("Deposit3"), QStringLiteral("不是数"));
    EXPECT_EQ(GetDepositGrade(1), 2);
    EXPECT_EQ(GetDepositGrade(2), 10);

    // Users who do not pay in advance are not graded.
    user(3, QStringLiteral("-100"), QStringLiteral("0"), 1);
    user(4, QStringLiteral("100"), QStringLiteral("0"), 2);
    EXPECT_EQ(GetDepositGrade(3), 0);
    EXPECT_EQ(GetDepositGrade(4), 0);
    dbSwitch.execute(QStringLiteral("update extension set userid=3,depositgrade=8 where address in (5,6)"));
    dbSwitch.execute(QStringLiteral("update account set userid=3,depositgrade=8 where address=2050"));
    CheckDeposit(3, false, false);
    EXPECT_EQ(grade("extension", 5), 0);
    EXPECT_EQ(grade("extension", 6), 0);
    EXPECT_EQ(grade("account", 2050), 0);
}

TEST_F(DepositGrades, ChangedRowsArePendingASecondRunChangesNothingAndTheGridShowingTheRowsFollows) {
    thresholds({"10", "20", "30", "40"});
    user(5, QStringLiteral("25"));
    user(6, QStringLiteral("100"));
    dbSwitch.execute(QStringLiteral("update extension set userid=5 where address in (1,2)"));
    dbSwitch.execute(QStringLiteral("update extension set userid=6 where address=3"));
    dbSwitch.execute(QStringLiteral("update account set userid=5 where address=2048"));
    // No switch has been heard: the push fails and the changed rows stay pending.
    EXPECT_FALSE(CheckDeposit(0, true, false));
    EXPECT_EQ(grade("extension", 1), 6);
    EXPECT_EQ(grade("extension", 2), 6);
    EXPECT_EQ(grade("extension", 3), 10);
    EXPECT_EQ(grade("account", 2048), 6);
    EXPECT_EQ(grade("extension", 4), 0);   // belongs to no graded user
    EXPECT_EQ(pending("extension"), 3);
    EXPECT_EQ(pending("account"), 1);

    // The download acknowledged them; nothing changed since: nothing new is pending.
    dbSwitch.execute(QStringLiteral("update extension set bset=0"));
    dbSwitch.execute(QStringLiteral("update account set bset=0"));
    EXPECT_FALSE(CheckDeposit(0, false, false));
    EXPECT_EQ(pending("extension"), 0);
    EXPECT_EQ(pending("account"), 0);

    user(5, QStringLiteral("5"));
    CheckDeposit(5, true, false);
    EXPECT_EQ(grade("extension", 1), 2);
    EXPECT_EQ(grade("extension", 3), 10);
    EXPECT_EQ(pending("extension"), 2);
    EXPECT_EQ(pending("account"), 1);

    // The grid showing the rows follows.
    platform::FlexGrid* g = frmPABX::instance().fgDisp;
    g->setFormatString(QStringLiteral("<分机|<押金等级"));
    g->setRows(121);
    CurTable = QStringLiteral("Extension");
    user(5, QStringLiteral("35"));
    CheckDeposit(5, false, false);
    EXPECT_EQ(g->TextMatrix(2, 1), QStringLiteral("市话"));   // grade 8, row address + 1
    EXPECT_EQ(g->TextMatrix(3, 1), QStringLiteral("市话"));
    EXPECT_TRUE(g->TextMatrix(4, 1).isEmpty());   // another user's row

    CurTable = QStringLiteral("Account");
    g->setRows(1);
    g->setRows(10);
    user(5, QStringLiteral("15"));
    CheckDeposit(5, false, false);
    EXPECT_EQ(g->TextMatrix(1, 1), QStringLiteral("国内长途"));   // grade 3, row address - 2047
    // Forced: rewritten even though nothing changed.
    g->setTextMatrix(1, 1, QString());
    CheckDeposit(5, false, true);
    EXPECT_EQ(g->TextMatrix(1, 1), QStringLiteral("国内长途"));
    CheckDeposit(5, false, false);   // not forced, nothing changed: the cell is left alone
    g->setTextMatrix(1, 1, QString());
    CheckDeposit(5, false, false);
    EXPECT_TRUE(g->TextMatrix(1, 1).isEmpty());
}

}  // namespace
