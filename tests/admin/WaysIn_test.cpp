// The administration windows as the operator reaches them from the console.
#include "console/ConsoleFixture.h"

#include "admin/frmDBManager.h"
#include "admin/frmSysSet.h"

#include <QAction>
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

}  // namespace
