// The administration windows as the operator reaches them from the console.
#include "console/ConsoleFixture.h"

#include "admin/frmDBManager.h"

#include <QAction>

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

TEST_F(AdminWaysIn, BackupWindowLivesHiddenFromStartUpAndF2ShowsIt) {
    setting("ChkAutoBackup", "1");
    load();
    console().show();
    settle();
    WorkerRights = QStringList{"0"};
    ASSERT_TRUE(frmDBManager::exists());
    EXPECT_FALSE(frmDBManager::instance().isVisible());
    EXPECT_TRUE(frmDBManager::instance().Timer1->isActive());

    item("mnuDbManager")->trigger();
    settle(50);
    EXPECT_TRUE(frmDBManager::instance().isVisible());
    EXPECT_FALSE(console().window()->isVisible());
    frmDBManager::instance().cmdExit->click();
    settle(50);
    EXPECT_FALSE(frmDBManager::instance().isVisible());
    EXPECT_TRUE(console().window()->isVisible());

    EXPECT_THROW(console().CloseApp(), platform::ProgramEnded);
    EXPECT_FALSE(frmDBManager::exists());
}

}  // namespace
