// The sites as the operator reaches them from the console of the second model.
#include "console/ConsoleFixture.h"

#include "admin/frmTerminal.h"

#include <QAction>

using namespace consoletest;

namespace {

class SitesWaysIn : public ConsoleTest {
protected:
    void SetUp() override {
        model = 2;
        ConsoleTest::SetUp();
        SwitchModel = 2;
        TerminalName = QStringLiteral("默认");
        connectSwitch();
        load();
        console().show();
        settle();
    }
    void TearDown() override {
        frmTerminal::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ConsoleTest::TearDown();
    }
    QAction* item(const char* name) { return console().findChild<QAction*>(QLatin1String(name)); }
};

TEST_F(SitesWaysIn, F4NeedsRight32AndTheSiteWindowGivesTheConsoleBack) {
    WorkerRights = QStringList{"5"};
    sw.clearReceived();
    item("mnuTerminal")->trigger();
    settle();
    EXPECT_FALSE(frmTerminal::exists());
    EXPECT_TRUE(console().window()->isVisible());
    EXPECT_EQ(console().sbrInfo->panelText(2), "你没有此操作权限");
    EXPECT_TRUE(received().isEmpty());

    WorkerRights = QStringList{"32"};
    item("mnuTerminal")->trigger();
    settle();
    ASSERT_TRUE(frmTerminal::exists());
    EXPECT_TRUE(frmTerminal::instance().isVisible());
    EXPECT_EQ(frmTerminal::instance().windowTitle(), "站点管理");
    EXPECT_FALSE(console().window()->isVisible());
    EXPECT_TRUE(received().contains("84040000"));
    frmTerminal::instance().tbrPoint_ButtonClick("Exit");
    EXPECT_FALSE(frmTerminal::exists());
    EXPECT_TRUE(console().window()->isVisible());
}

}  // namespace
