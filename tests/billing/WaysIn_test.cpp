// The settlement reached as the operator reaches it, on a station loaded against the simulator.
#include "console/ConsoleFixture.h"

#include "billing/frmBalanceBill.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"
#include "core/Console.h"
#include "core/ModGeneral.h"

using namespace consoletest;

namespace {

class SettlementWaysIn : public ConsoleTest {
protected:
    void TearDown() override {
        frmPayed::unload();
        frmPayfor::unload();
        frmBalanceBill::unload();
        ConsoleTest::TearDown();
    }
};

TEST_F(SettlementWaysIn, TreeNodeOpensTheWindowTheConsoleWaitsForAndThePopupSettlesAndPaysOneUser) {
    // A data directory from before the settlement table: the start-up adds it.
    {
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        db.execute("DROP TABLE tab_balance");
    }
    connectSwitch();
    load();
    console().show();
    settle();
    EXPECT_TRUE(dbSwitch.hasTable("tab_balance"));
    const QString before = CurTable;

    ASSERT_TRUE(console().ShowView("Balance"));
    ASSERT_TRUE(frmBalanceBill::exists());
    EXPECT_TRUE(frmBalanceBill::instance().isVisible());
    EXPECT_EQ(frmBalanceBill::instance().windowTitle(), "用户结算");
    EXPECT_FALSE(core::ConsoleEnabled());
    EXPECT_EQ(CurTable, before);
    EXPECT_TRUE(arrived("84040000"));

    frmBalanceBill::instance().cmdClose->click();
    spin(5000, [] { return !frmBalanceBill::exists(); });
    EXPECT_FALSE(frmBalanceBill::exists());
    EXPECT_TRUE(core::ConsoleEnabled());

    // The user view's popup settles and pays one user.
    WorkerRights = QStringList{"0"};
    platform::testing::setNow([] { return QDateTime(QDate(2004, 12, 6), QTime(10, 0)); });
    dbSwitch.execute("INSERT INTO user (userid, username, balancemode, lastdate, deposit, remain) "
                     "VALUES (7, '庚', 0, '2004-11-01 00:00:00', 200000, 200000)");
    dbSwitch.execute("INSERT INTO user (userid, username, balancemode, lastdate) VALUES (8, '辛', 0, '2004-11-01 00:00:00')");
    testsupport::storeCall(dbPhoneCur, {.calladdr = 3, .date = "2004-11-05 10:00:00", .secs = 60,
                                        .fee = platform::Currency::fromRaw(123400), .zh = "    ", .phmode = 7, .userid = 7});
    ASSERT_TRUE(console().ShowView("User"));
    QStringList prompts;
    platform::script::onModal("frmPayMoneny", [&](QDialog* d) {
        auto* f = static_cast<frmPayMoneny*>(d);
        prompts << f->Label1->text();
        f->Text1->setText("12.34");
        f->Command1_Click(0);
    });
    platform::script::onModal("frmPayed", [](QDialog* d) {
        static_cast<frmPayed*>(d)->cmdPay_Click();
        d->accept();
    });
    clearLine();
    GridSelFirst = ModGeneral::FindGridRow(*console().fgDisp, 0, "7", 1);
    ASSERT_GE(GridSelFirst, 1);
    console().mnuBalanceUser_Click();
    EXPECT_FALSE(frmBalanceBill::exists());
    EXPECT_TRUE(console().isVisible());
    ASSERT_TRUE(allArrived());
    const QStringList frames = besidesProbes(received());
    ASSERT_GE(frames.size(), 4);
    EXPECT_EQ(frames.mid(0, 2), (QStringList{"84040000", "960300"}));
    EXPECT_EQ(frames.last(), "960301");
    EXPECT_EQ(prompts, QStringList{"用户庚的应付款:12.34"});
    EXPECT_EQ(dbSwitch.scalar("SELECT lastdate FROM user WHERE userid=7").toString(), "2004-12-06 10:00:00");
    EXPECT_EQ(dbSwitch.scalar("SELECT lastdate FROM user WHERE userid=8").toString(), "2004-11-01 00:00:00");
    // The user view shows the payment.
    const int row = ModGeneral::FindGridRow(*console().fgDisp, 0, "7", 1);
    ASSERT_GE(row, 1);
    EXPECT_EQ(console().fgDisp->TextMatrix(row, 2), "2004-12-06 10:00:00");
    EXPECT_EQ(console().fgDisp->TextMatrix(row, 4), "20.00");
}

}  // namespace
