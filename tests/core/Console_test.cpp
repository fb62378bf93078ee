// The console interface with a console of the test's own: the subsystems
// reach it, and do nothing when no console is loaded.
#include "core/Console.h"
#include "core/frmProgress.h"
#include "link/LinkWindows.h"
#include "platform/AppExit.h"
#include "platform/FlexGrid.h"
#include "platform/StatusBar.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

class TestConsole : public core::Console {
public:
    TestConsole() {
        fgDisp = new platform::FlexGrid(&window);
        sbrInfo = new platform::StatusBar(6, &window);
        core::RegisterConsole(this);
    }
    QWidget* ConsoleWidget() override { return &window; }
    void Form_Load() override {}
    bool NotExit(int) override { return true; }
    [[noreturn]] void CloseApp() override {
        ++closed;
        platform::EndProgram(7);
    }
    void picRun_DblClick() override { ++traces; }
    bool ShowView(const QString&) override { return false; }

    QWidget window;
    int closed = 0;
    int traces = 0;
};

TEST(ConsoleInterface, SubsystemsReachARegisteredConsoleAndNothingWithoutOne) {
    ASSERT_EQ(core::TheConsole(), nullptr);
    // Without a console the one-liners do nothing and the link drops its line.
    core::StatusText(2, QStringLiteral("无人"));
    EXPECT_EQ(core::PanelText(2), QString());
    EXPECT_FALSE(core::ConsoleEnabled());
    LinkWindows::AddDepositLine(QStringLiteral("x"));
    {
        TestConsole c;
        EXPECT_EQ(core::TheConsole(), &c);
        EXPECT_EQ(core::MakeConsole(), &c);   // a loaded console is never made again
        core::StatusText(2, QStringLiteral("已保存"));
        EXPECT_EQ(c.sbrInfo->panelText(2), QStringLiteral("已保存"));
        EXPECT_EQ(core::PanelText(2), QStringLiteral("已保存"));

        c.fgDisp->setCols(2);
        c.fgDisp->setRows(2);
        LinkWindows::AddDepositLine(QStringLiteral("2026-01-01\t801"));
        ASSERT_EQ(c.fgDisp->Rows(), 2);   // the empty first row made way
        EXPECT_EQ(c.fgDisp->TextMatrix(1, 1), QStringLiteral("801"));

        // The progress window holds the console's window while it runs.
        frmProgress::instance().SetEnabled(false);
        EXPECT_FALSE(c.window.isEnabled());
        frmProgress::unload();
        EXPECT_TRUE(c.window.isEnabled());

        platform::testing::throwOnEnd();
        EXPECT_THROW(core::CloseApp(), platform::ProgramEnded);
        EXPECT_EQ(c.closed, 1);
        platform::testing::clearEndHandler();
    }
    // A console that goes takes its registration with it.
    EXPECT_EQ(core::TheConsole(), nullptr);
}

}  // namespace
