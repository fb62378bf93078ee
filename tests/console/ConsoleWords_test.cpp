// What the console's windows say is so: 重新登录 under another program's
// lock keeps the worker and what was typed, a 备份 after a save that failed
// claims no copy, and panel 2 follows the operator's row when users above it
// are deleted.
#include "ConsoleFixture.h"

#include "billing/frmBalanceBill.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"
#include "console/TableBackup.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "core/frmWorker.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTest>
#include <QToolBar>

using namespace consoletest;

namespace {

class ConsoleWords : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        connectSwitch();
        load();
        WorkerID = QStringLiteral("0000");
        WorkerName = QStringLiteral("管理员");
        WorkerRights = {QStringLiteral("0")};
        console().resize(1000, 700);
        console().show();
        ASSERT_TRUE(allArrived());
    }
    void TearDown() override {
        frmWorker::unload();
        frmPayed::unload();
        frmPayfor::unload();
        frmBalanceBill::unload();
        ConsoleTest::TearDown();
    }
    QString status() { return console().sbrInfo->panelText(2); }
    // Types `text` into cell (r, c) and confirms it with Enter.
    void type(int r, int c, const QString& text) {
        doubleClickCell(r, c);
        ASSERT_TRUE(spin(5000, [&] { return console().txtModify->isVisible(); }));
        QTest::keyClicks(console().txtModify, text);
        QTest::keyClick(console().txtModify, Qt::Key_Return);
        ASSERT_TRUE(spin(5000, [&] { return !console().txtModify->isVisible(); }));
    }
    QWidget* toolButton(const QString& key) {
        for (QAction* a : console().tbrSwitch->actions())
            if (a->data().toString() == key) return console().tbrSwitch->widgetForAction(a);
        return nullptr;
    }
    QAction* menuItem(const char* name) { return console().findChild<QAction*>(QLatin1String(name)); }
};

// 系统管理 → 重新登录 while another program holds "switch.mdb" and a deposit
// typed in 用户管理 waits unsaved: the login is told it failed, the window
// stays in its loop until 退 出, the worker logged in stays, the typed
// deposit stays; with the lock gone 重新登录 opens and logs in, and the
// deposit is saved once.
TEST_F(ConsoleWords, ReLoginUnderALockKeepsTheWorkerAndTheTypedDepositAndWorksAfter) {
    dbSwitch.execute("insert into user (userid, username, balancemode, deposit, remain) values (7, '甲', 1, 500000, 500000)");
    ASSERT_TRUE(console().ShowView("User"));
    const int row = ModGeneral::FindGridRow(grid(), 0, "7", 1);
    ASSERT_GE(row, 1);
    type(row, 4, "100");
    ASSERT_EQ(grid().TextMatrix(row, 4), "150.00");
    ASSERT_TRUE(g_Modified);
    QAction* reLogin = menuItem("mnuReLogin");
    ASSERT_NE(reLogin, nullptr);

    int shown = 0;
    bool stayed = false;
    {
        platform::Database other = platform::Database::open(dbSwitch.path());
        other.execute("BEGIN IMMEDIATE");
        platform::script::answer("登录失败：数据库正被其他程序使用", platform::rOK);
        platform::script::onModal("frmWorker", [&](QDialog* d) {
            ++shown;
            auto* w = static_cast<frmWorker*>(d);
            QTest::keyClicks(w->txtUser, "0000");
            QTest::keyClick(w->txtUser, Qt::Key_Return);
            QTest::keyClicks(w->txtPWD, "0000");
            QTest::keyClick(w->txtPWD, Qt::Key_Return);
            stayed = w->isVisible() && QApplication::activeModalWidget() == w;
            QTest::mouseClick(w->cmdExitProgram, Qt::LeftButton);
        });
        reLogin->trigger();
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        other.execute("ROLLBACK");
    }
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(stayed);
    EXPECT_FALSE(frmWorker::exists());
    EXPECT_EQ(WorkerID, "0000");
    EXPECT_EQ(WorkerRights, QStringList{"0"});
    EXPECT_TRUE(console().isVisible());
    EXPECT_EQ(CurTable, "User");
    EXPECT_EQ(grid().TextMatrix(row, 4), "150.00");
    EXPECT_TRUE(g_Modified);
    EXPECT_TRUE(dbSwitch.scalar("select WorkerID from Worker where b_active<>0").isNull());

    // The lock gone: 重新登录 opens again and logs in.
    bool loggedIn = false;
    platform::script::onModal("frmWorker", [&](QDialog* d) {
        ++shown;
        auto* w = static_cast<frmWorker*>(d);
        QTest::keyClicks(w->txtUser, "0000");
        QTest::keyClicks(w->txtPWD, "0000");
        QTest::mouseClick(w->cmdLogin, Qt::LeftButton);
        loggedIn = !w->isVisible();
        if (w->isVisible()) QTest::mouseClick(w->cmdExitProgram, Qt::LeftButton);
    });
    reLogin->trigger();
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(loggedIn);
    EXPECT_EQ(dbSwitch.scalar("select WorkerID from Worker where b_active<>0").toString(), "0000");
    EXPECT_EQ(grid().TextMatrix(row, 4), "150.00");

    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    QTest::mouseClick(toolButton("Save"), Qt::LeftButton);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(dbSwitch.scalar("select deposit||'/'||remain from user where userid=7").toString(), "1500000/1500000");
}

// 备份 with an edit the save cannot store (another program holds the file):
// panel 2 keeps the save's failure and says nothing was copied, no copy is
// asked for or made; with the lock gone the same click saves and copies.
TEST_F(ConsoleWords, ABackupAfterASaveThatFailedSaysSoAndCopiesNothing) {
    ASSERT_TRUE(console().ShowView("LanHead"));
    type(1, 3, "7");
    ASSERT_TRUE(g_Modified);
    QWidget* backup = toolButton("Backup");
    ASSERT_NE(backup, nullptr);
    {
        platform::Database other = platform::Database::open(dbSwitch.path());
        other.execute("BEGIN IMMEDIATE");
        platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
        QTest::mouseClick(backup, Qt::LeftButton);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        other.execute("ROLLBACK");
    }
    EXPECT_TRUE(status().startsWith("保存错误")) << status().toStdString();
    EXPECT_TRUE(status().endsWith("没有备份")) << status().toStdString();
    for (const auto& s : platform::script::shown()) EXPECT_FALSE(s.text.contains("要备份数据库吗")) << s.text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(console::BackupFilePath()));
    EXPECT_TRUE(g_Modified);

    // The lock gone, the same click saves, then copies what was saved.
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    platform::script::answer("要备份数据库吗?", platform::rYes);
    QTest::mouseClick(backup, Qt::LeftButton);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(status(), "备份成功");
    EXPECT_FALSE(g_Modified);
    platform::Database copy = platform::Database::open(console::BackupFilePath());
    const char* rows = "select group_concat(HeadID||':'||HeadType||':'||HeadLen||':'||Headdelay, ',') from "
                       "(select * from LanHead order by headtype, headid)";
    EXPECT_EQ(copy.scalar(rows).toString(), dbSwitch.scalar(rows).toString());
}

// The operator's row is the third of three users; a settlement deletes the
// two above it: the row moves up with its user, and panel 2 tells the row it
// moved to, the one the 删除 question then names.
TEST_F(ConsoleWords, UsersDeletedAboveTheOperatorsRowMovePanelTwoWithTheRow) {
    platform::testing::setNow([] { return QDateTime(QDate(2004, 12, 6), QTime(10, 0)); });
    for (int u : {7, 8, 9}) {
        dbSwitch.execute("insert into user (userid, username, balancemode, lastdate) values (?, ?, 0, '2004-11-01 00:00:00')",
                         {u, QStringLiteral("用户%1").arg(u)});
        testsupport::storeCall(dbPhoneCur, {.calladdr = u - 4, .date = "2004-11-05 10:00:00", .secs = 60,
                                            .fee = platform::Currency::fromRaw(12300), .zh = "    ", .phmode = 7, .userid = u});
    }
    ModSwitch::SetVariant("OptCL", "2");   // after the payment: 删除用户
    ASSERT_TRUE(console().ShowView("User"));
    const int before = ModGeneral::FindGridRow(grid(), 0, "9", 1);
    ASSERT_GE(before, 3);
    QTest::mouseClick(grid().viewport(), Qt::LeftButton, Qt::NoModifier, at(before, 1));
    ASSERT_TRUE(spin(5000, [&] { return status().contains(QStringLiteral("行 %1 ").arg(before)); })) << status().toStdString();

    platform::script::onModal("frmPayMoneny", [](QDialog* d) { static_cast<frmPayMoneny*>(d)->Command1_Click(0); });
    platform::script::onModal("frmPayed", [](QDialog* d) {
        auto* f = static_cast<frmPayed*>(d);
        f->fgUser->setRow(1);
        f->fgUser->setRowSel(f->fgUser->Rows() - 1);
        f->cmdPay_Click();
        d->accept();
    });
    platform::script::onModal("frmPayfor", [](QDialog* d) {
        auto* f = static_cast<frmPayfor*>(d);
        f->fgUser->setRow(1);
        f->fgUser->setRowSel(f->fgUser->Rows() - 1);
        f->cmdPay_Click();
        d->accept();
    });
    // The settlement window beside the console, which keeps its row and its
    // words meanwhile (the tree's node clears panel 2 as it opens the window).
    frmBalanceBill& b = frmBalanceBill::instance();
    b.show();
    ASSERT_TRUE(status().contains(QStringLiteral("行 %1 ").arg(before)));
    for (const char* key : {"K7", "K8"}) {
        QTreeWidgetItem* item = b.itemByKey(QLatin1String(key));
        ASSERT_NE(item, nullptr) << key;
        item->setCheckState(0, Qt::Checked);
    }
    QTest::mouseClick(b.cmdBalance[0], Qt::LeftButton);
    QTest::mouseClick(b.cmdClose, Qt::LeftButton);
    ASSERT_TRUE(spin(5000, [] { return !frmBalanceBill::exists(); }));
    ASSERT_TRUE(dbSwitch.scalar("select count(*) from user where userid in (7, 8)").toInt() == 0)
        << "the settlement deleted nobody";

    const int after = ModGeneral::FindGridRow(grid(), 0, "9", 1);
    EXPECT_EQ(after, before - 2);
    EXPECT_EQ(grid().Row(), after);
    EXPECT_EQ(status(), QStringLiteral("共%1条记录，选中1条记录  当前光标：行 %2 列　1").arg(grid().Rows() - 1).arg(after));
    platform::script::answer(QStringLiteral("要删除第%1条至第%1条记录吗?").arg(after), platform::rNo);
    QTest::mouseClick(toolButton("Delete"), Qt::LeftButton);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_FALSE(dbSwitch.scalar("select userid from user where userid=9").isNull());
}

}  // namespace
