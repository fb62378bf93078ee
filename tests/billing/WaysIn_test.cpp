// The settlement and the bill query reached as the operator reaches them, on
// a station loaded against the simulator: the query over records the station
// priced from the simulated switch and archived.
#include "console/ConsoleFixture.h"

#include "billing/ArchiveBills.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmBillManage.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"
#include "billing/frmQueryBill.h"
#include "billing/frmRecord.h"
#include "core/Console.h"
#include "core/ModGeneral.h"
#include "platform/Prompts.h"
#include "sim/Switch.h"

#include <QAction>

using namespace consoletest;
using platform::Currency;

namespace {

class SettlementWaysIn : public ConsoleTest {};

TEST_F(SettlementWaysIn, TreeNodesOpenTheSettlementAndTheQueryTheConsoleWaitsForAndThePopupSettlesAndPaysOneUser) {
    // A data directory from before the settlement table: the start-up adds it.
    {
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        db.execute("DROP TABLE tab_balance");
    }
    connectSwitch();
    load();
    console().show();
    settled();
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

    // The query window over calls priced from the switch and archived.
    QDateTime now(QDate(2026, 6, 16), QTime(10, 0));
    platform::testing::setNow([&] { return now; });
    dbSwitch.execute("INSERT OR REPLACE INTO user (userid, username, balancemode, remain) VALUES (7, '七', 0, ?)",
                     {Currency::fromYuan(10)});
    dbSwitch.execute("UPDATE extension SET userid=7 WHERE address=5");
    dbSwitch.execute("INSERT INTO feerate (zonecode, summary, firsttime, firstprice, pertime, perprice, discountid, "
                     "feeratetype, feerateid) VALUES ('8', '本地', 180, ?, 60, ?, 1, 7, 0)",
                     {Currency::fromRaw(2000), Currency::fromRaw(1000)});
    rsFeeRate = dbSwitch.query("select * from feerate order by zonecode desc");
    for (int i = 0; i < 3; ++i) {
        sim::CallRecord r;
        r.extAddr = 5;
        r.called = QStringLiteral("8800123%1").arg(i);
        r.channel = 3;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)).addSecs(600 * i);
        r.durationSec = 200 + 100 * i;
        r.type = 1;
        sw.sendCallRecord(r);
    }
    spin(5000, [] { return dbPhoneCur.rowCount("Tab_Phone") == 3; });
    ASSERT_EQ(dbPhoneCur.rowCount("Tab_Phone"), 3);
    const Currency charged = Currency::fromYuan(10) -
        Currency::fromRaw(dbSwitch.scalar("SELECT remain FROM user WHERE userid=7").toLongLong());
    ASSERT_GT(charged.raw(), 0);
    billing::ArchiveBills();
    ASSERT_EQ(dbPhoneCur.rowCount("Tab_Phone"), 0);

    console().ShowView("Query");
    ASSERT_TRUE(frmQueryBill::exists());
    frmQueryBill& q = frmQueryBill::instance();
    EXPECT_TRUE(q.isVisible());
    EXPECT_EQ(q.windowTitle(), "话单查询");
    EXPECT_FALSE(core::TheConsole()->ConsoleWidget()->isVisible());
    settled();
    EXPECT_TRUE(received().contains("84040000"));

    q.chkNow->setChecked(false);
    q.chkNow_Click();
    q.DTPStart->setDateTime(QDateTime(QDate(2026, 6, 1), QTime(0, 0)));
    q.DTPEnd->setDateTime(QDateTime(QDate(2026, 6, 16), QTime(0, 0)));
    q.itemByText("七")->setCheckState(0, Qt::Checked);
    q.cmdQuery->click();
    frmRecord& r = frmRecord::instance();
    EXPECT_EQ(r.RecordRows(), 3);
    EXPECT_EQ(r.fgCollect->TextMatrix(1, 0), "七");
    EXPECT_EQ(r.fgCollect->TextMatrix(1, 1), charged.toString2());
    EXPECT_EQ(r.fgCollect->TextMatrix(1, 9), charged.toString2());   // all local calls
    EXPECT_EQ(r.fgRecord->TextMatrix(1, 1), "E0005");
    EXPECT_FALSE(q.isEnabled());
    r.cmdClose->click();
    EXPECT_TRUE(q.isEnabled());
    q.cmdClose->click();
    EXPECT_FALSE(frmQueryBill::exists());
    EXPECT_TRUE(core::TheConsole()->ConsoleWidget()->isVisible());

    // F3 opens the archive's window, modal.
    QAction* a = console().findChild<QAction*>(QStringLiteral("mnuBillManage"));
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->isEnabled());
    EXPECT_EQ(a->shortcut(), QKeySequence(Qt::Key_F3));
    QString title;
    platform::script::onModal("frmBillManage", [&](QDialog* d) {
        title = d->windowTitle();
        EXPECT_TRUE(d->isModal());
        d->reject();
    });
    a->trigger();
    EXPECT_EQ(title, "话单库管理");
    EXPECT_FALSE(frmBillManage::exists());
}

}  // namespace
