// The bill query reached from the console's tree, over records the station
// priced from the simulated switch and archived.
#include "console/ConsoleFixture.h"

#include "billing/ArchiveBills.h"
#include "billing/frmBillManage.h"
#include "billing/frmQueryBill.h"
#include "billing/frmRecord.h"
#include "core/Console.h"
#include "platform/Prompts.h"

#include <QAction>
#include "sim/Switch.h"

using namespace consoletest;
using platform::Currency;

namespace {

class QueryWaysIn : public ConsoleTest {};

TEST_F(QueryWaysIn, TreeNodeQueriesWhatTheStationPricedAndArchivedAndF3OpensTheArchiveWindow) {
    QDateTime now(QDate(2026, 6, 16), QTime(10, 0));
    platform::testing::setNow([&] { return now; });
    connectSwitch();
    load();
    console().show();
    settle();
    WorkerRights = QStringList{"0"};
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
    settle();
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
