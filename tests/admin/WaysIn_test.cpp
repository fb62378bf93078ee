// The administration windows as the operator reaches them from the console.
#include "console/ConsoleFixture.h"

#include "admin/frmDBManager.h"
#include "admin/frmSysSet.h"
#include "platform/DbCopy.h"

#include <QAction>
#include <QDir>
#include <QMenu>

using namespace consoletest;

namespace {

class AdminWaysIn : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        connectSwitch();
    }
    QAction* item(const char* name) { return console().findChild<QAction*>(QLatin1String(name)); }
};

TEST_F(AdminWaysIn, F2ShowsTheHiddenBackupWindowF9TheSettingsButNotOverAnOpenEditorAndTheUsbBoxShowsTheUsbMenu) {
    setting("ChkAutoBackup", "1");
    load();
    WorkerRights = QStringList{"0"};
    console().resize(1000, 700);
    console().show();
    settle();
    // The backup window lives hidden from the start, its timer running; F2 shows it.
    ASSERT_TRUE(frmDBManager::exists());
    EXPECT_FALSE(frmDBManager::instance().isVisible());
    EXPECT_TRUE(frmDBManager::instance().Timer1->isActive());
    item("mnuDbManager")->trigger();
    EXPECT_TRUE(spin(5000, [] { return frmDBManager::instance().isVisible(); }));
    EXPECT_FALSE(console().window()->isVisible());
    frmDBManager::instance().cmdExit->click();
    EXPECT_TRUE(spin(5000, [this] { return console().window()->isVisible(); }));
    EXPECT_FALSE(frmDBManager::instance().isVisible());
    EXPECT_TRUE(console().window()->isVisible());

    int opened = 0;
    platform::script::onModal("frmSysSet", [&](QDialog* d) {
        ++opened;
        static_cast<frmSysSet*>(d)->cmdExit_Click();
    });
    ASSERT_TRUE(console().ShowView("Account"));
    doubleClickCell(2, 1);
    ASSERT_TRUE(spin(5000, [this] { return console().txtModify->isVisible(); }));
    console().txtModify->setText("12a");
    item("mnuSysPara")->trigger();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(console().txtModify->isVisible());

    console().txtModify->hide();
    EXPECT_EQ(item("mnuSysPara")->shortcut(), QKeySequence(Qt::Key_F9));
    item("mnuSysPara")->trigger();
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(frmSysSet::exists());

    // The USB box acts at once on the console's "USB设置" menu.
    QAction* usbMenu = console().mnuUsb->menuAction();
    frmSysSet& w = frmSysSet::instance();
    w.chkUsb->setChecked(true);
    w.chkUsb_Click();
    EXPECT_TRUE(usbMenu->isVisible());
    EXPECT_FALSE(w.FraCom->isEnabled());
    w.chkUsb->setChecked(false);
    w.chkUsb_Click();
    EXPECT_FALSE(usbMenu->isVisible());
    EXPECT_TRUE(ModComm::ComA().PortOpen());
    frmSysSet::unload();

    // Closing the station unloads the backup window.
    EXPECT_THROW(console().CloseApp(), platform::ProgramEnded);
    EXPECT_FALSE(frmDBManager::exists());
}

// Backups taken while the switch streams call records into the running station.
TEST_F(AdminWaysIn, BackupsWhileRecordsAreStoredAreSoundAndLeaveTheCurrentCallsOut) {
    load();
    WorkerRights = QStringList{"0"};
    settle();
    // Files of several copy steps each, so that records arrive between the steps.
    {
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < 20000; ++i)
            dbSwitch.execute("insert into tab_oplog(f_memo) values(?)", {QString(200, QChar('a' + i % 26))});
        tx.commit();
        platform::Database a = platform::Database::create(DataPath + "PhBill_2025.mdb");
        a.execute("create table Tab_Ph1(f_userid integer, f_resp text)");
        a.execute("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i+1 < 30000) "
                  "INSERT INTO Tab_Ph1 SELECT i, printf('%0200d', i) FROM n");
    }
    const qint64 before = dbPhoneCur.rowCount("Tab_Phone");
    for (int i = 0; i < 400; ++i) {
        sim::CallRecord r;
        r.extAddr = 5;
        r.called = QStringLiteral("8800%1").arg(1000 + i);
        r.channel = i % 8;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0)).addSecs(60 * i);
        r.durationSec = 60;
        r.type = 1;
        sw.sendCallRecord(r);
    }
    spin(3000, [&] { return dbPhoneCur.rowCount("Tab_Phone") > before; });
    QList<qint64> storedAtStep;
    platform::testing::setStepCopyHook([&](int) { storedAtStep << dbPhoneCur.rowCount("Tab_Phone"); });
    frmDBManager& w = frmDBManager::instance();
    const QString folder = dir->appPath() + "bk/";
    QDir().mkpath(folder);
    for (int k = 0; k < 2; ++k) {
        w.opt_Click(0);
        w.txtPath->setText(folder + QString::number(k));
        QDir().mkpath(w.txtPath->text());
        w.tvwDB->topLevelItem(0)->setCheckState(0, Qt::Checked);
        platform::script::answer("备份完成", platform::rOK);
        w.cmd_Click(0);
        const QString made = folder + QString::number(k) + '/';
        EXPECT_EQ(QDir(made).entryList(QDir::Files, QDir::Name), (QStringList{"PhBill_2025.mdb", "Switch.mdb"}));
        for (const QString& f : QDir(made).entryList(QDir::Files))
            EXPECT_TRUE(platform::Database::open(made + f).quickCheck()) << f.toStdString();
    }
    platform::testing::setStepCopyHook(nullptr);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    ASSERT_GE(storedAtStep.size(), 4);
    EXPECT_GT(storedAtStep.last(), storedAtStep.first()) << "no record was stored while the copies ran";
    spin(20000, [&] { return sw.recordsWaiting() == 0; });
}

}  // namespace
