#include "console/frmPABX.h"
#include "core/MDIMain.h"
#include "core/Main.h"
#include "core/frmWelcome.h"
#include "platform/AppExit.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"
#include "support/SwitchOnPty.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QToolBar>

class MainFrame : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        testsupport::scriptLogin();
        // The start-up opens the link: a switch answers it.
        ASSERT_TRUE(link.attach(dir->file("switch.mdb")));
        testsupport::scriptClockDialog();
    }
    void TearDown() override {
        MDIMain::unload();
        frmPABX::unload();
        core::SetProgramDir(QString());
        StationTest::TearDown();
    }
    testsupport::SwitchOnPty link;
};

TEST_F(MainFrame, DataPathEndsWithASlashAndTheModelComesFromTheRoot) {
    AppPath.clear();
    DataPath = "unchanged";
    SwitchModel = 5;
    core::SetProgramDir(dir->appPath() + "nowhere");
    EXPECT_FALSE(core::GetDataPath(true));
    EXPECT_EQ(DataPath, "unchanged");
    EXPECT_EQ(SwitchModel, 0);

    // The directory is found whatever its letter case.
    ASSERT_TRUE(QDir().rename(dir->appPath() + "data", dir->appPath() + "Data"));
    core::SetProgramDir(dir->appPath());
    ASSERT_TRUE(core::GetDataPath(true));
    EXPECT_EQ(AppPath, dir->appPath());
    EXPECT_EQ(DataPath, dir->appPath() + "Data/");
    EXPECT_EQ(SwitchModel, 0);
    {
        platform::Database root = platform::Database::open(DataPath + "switch.mdb");
        root.execute("update variant set value='2' where varname='SWITCHMODEL'");
    }
    ASSERT_TRUE(core::GetDataPath(false));
    EXPECT_EQ(SwitchModel, 2);
}

TEST_F(MainFrame, LoadRunsTheStartUpSetsTheCaptionAndShowsEveryLegendButtonClosingAsksAndShutdownAsksNothing) {
    MDIMain::instance().MDIForm_Load();
    // The console's caption shows in the frame's title, as a maximised child's does.
    EXPECT_EQ(MDIMain::instance().windowTitle(), "DE Duzariv - [板卡通道状态]");
    frmPABX::instance().setWindowTitle("本机字头");
    EXPECT_EQ(MDIMain::instance().windowTitle(), "DE Duzariv - [本机字头]");
    EXPECT_EQ(WorkerID, "0000");
    EXPECT_TRUE(dbSwitch.isOpen());
    EXPECT_TRUE(dbPhoneCur.isOpen());
    EXPECT_TRUE(rsUser.isOpen());
    EXPECT_EQ(LanHeadTypeList.size(), 33);
    EXPECT_FALSE(MonRes.isEmpty());
    EXPECT_TRUE(QFile::exists(dir->file("switch.mdb.bak")));
    EXPECT_TRUE(frmPABX::instance().tmrSys->isActive());
    EXPECT_FALSE(frmWelcome::exists());

    // At the size the window opens at, every board kind of the legend can be
    // clicked: the special telephone board and the spare slot as well.
    MDIMain::instance().show();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(MDIMain::instance().size(), QSize(1024, 720));
    frmPABX& c = frmPABX::instance();
    const QRect pane(c.PicMain->mapTo(&MDIMain::instance(), QPoint(0, 0)), c.PicMain->size());
    const QList<QAction*> buttons = c.tbrLegend->actions();
    ASSERT_EQ(buttons.size(), 6);
    for (QAction* a : buttons) {
        QWidget* w = c.tbrLegend->widgetForAction(a);
        ASSERT_TRUE(w && w->isVisible()) << a->text().toStdString();
        const QRect at(w->mapTo(&MDIMain::instance(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(pane.contains(at) && MDIMain::instance().rect().contains(at)) << a->text().toStdString();
        QTest::mouseClick(w, Qt::LeftButton);
        EXPECT_TRUE(a->isChecked()) << a->text().toStdString();
    }

    // Closing asks first: No keeps the station.
    platform::script::answer("要退出系统吗?", platform::rNo);
    bool cancel = false;
    MDIMain::instance().MDIForm_QueryUnload(cancel, 0);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(dbSwitch.isOpen());
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_EQ(platform::script::shown()[0].title, AppName);

    // The system shutting down closes it without a question.
    dbSwitch.execute("update worker set b_active=1");
    EXPECT_THROW(MDIMain::instance().MDIForm_QueryUnload(cancel, 2), platform::ProgramEnded);
    EXPECT_EQ(platform::script::shown().size(), 1);
    EXPECT_FALSE(dbSwitch.isOpen());
    EXPECT_FALSE(dbPhoneCur.isOpen());
    EXPECT_FALSE(rsUser.isOpen());
    platform::Database sw = platform::Database::open(dir->file("switch.mdb"));
    EXPECT_EQ(sw.scalar("select count(*) from worker where b_active<>0").toInt(), 0);
    EXPECT_EQ(sw.scalar("select f_memo from tab_oplog order by rowid desc limit 1").toString(), "退出系统");
}

TEST_F(MainFrame, AStartUpFailureEndsWithAMessage) {
    platform::Database::open(dir->file("switch.mdb")).execute("drop table feerate");
    platform::script::answer("系统启动失败", platform::rOK);
    EXPECT_THROW(MDIMain::instance().MDIForm_Load(), platform::ProgramEnded);
    ASSERT_FALSE(platform::script::shown().isEmpty());
    EXPECT_TRUE(platform::script::shown().back().text.startsWith("系统启动失败:"));
    EXPECT_EQ(platform::script::shown().back().title, "警告");
}
