// The site chooser: what it offers, what a choice sets, and that only its
// buttons leave it; and the station started on a chosen site.
#include "admin/frmSelTerminal.h"
#include "core/Main.h"
#include "core/ModUpgrade.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

class SiteChooser : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        model = 2;
        StationDbTest::SetUp();
        ASSERT_EQ(ModUpgrade::CreateTable(dbSwitch, "Terminal", false), 2);
        admin::RegisterSiteChooser();
        core::SetProgramDir(dir->appPath());
        TerminalName = "默认";
    }
    void TearDown() override {
        core::SetSiteChooser(nullptr);
        core::SetProgramDir(QString());
        StationDbTest::TearDown();
    }
    void site(int id, const QString& name, bool withDir) {
        dbSwitch.execute("insert into terminal(pointid,pointname) values(?,?)", {id, name});
        if (withDir) QDir().mkpath(dir->file(name));
    }
    // Runs the chooser; `drive` plays the operator once it is shown.
    QString choose(bool startup, const std::function<void(frmSelTerminal*)>& drive, bool* cancelled = nullptr) {
        platform::script::onModal("frmSelTerminal", [&](QDialog* d) { drive(static_cast<frmSelTerminal*>(d)); });
        return frmSelTerminal::GetDatapath(startup, cancelled);
    }
    static QStringList rows(frmSelTerminal* w) {
        QStringList out;
        for (int i = 0; i < w->lvwPoint->topLevelItemCount(); ++i) out << w->lvwPoint->topLevelItem(i)->text(0);
        return out;
    }
    static void pick(frmSelTerminal* w, const QString& name) {
        w->lvwPoint->setCurrentItem(w->lvwPoint->findItems(name, Qt::MatchExactly).value(0));
    }
};

// Offered: the root and the sites with a directory, but no foreign row named
// as no site may be ("." and ".." lead out of the data directory, "Backup" is
// the station's own folder). The chooser stays over other windows.
TEST_F(SiteChooser, OffersTheRootAndTheSitesWithADirectoryAndSetsTheChosenOne) {
    QStringList listed;
    bool onTop = false;
    TerminalName = "东区";
    TerminalID = 3;
    platform::script::answer("真的要选择<默认>吗", platform::rYes);
    QString path = choose(true, [&](frmSelTerminal* w) {
        listed = rows(w);
        w->cmdSelect->click();
    });
    EXPECT_EQ(listed, QStringList{"默认"});
    EXPECT_EQ(path, dir->dataPath());
    EXPECT_EQ(TerminalName, "默认");
    EXPECT_EQ(TerminalID, 0);

    site(1, ".", false);
    site(2, "..", false);
    site(3, "东区", true);
    site(4, "gone", false);
    site(5, "Backup", true);
    site(6, "分部 A-1", true);   // named before the rule for new names: a site all the same
    platform::script::answer("真的要选择<东区>吗", platform::rNo);
    platform::script::answer("真的要选择<东区>吗", platform::rYes);
    int noStillOpen = 0;
    path = choose(true, [&](frmSelTerminal* w) {
        listed = rows(w);
        onTop = w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        pick(w, "东区");
        w->cmdSelect->click();
        if (w->isVisible() && TerminalName == "默认") ++noStillOpen;
        w->cmdSelect->click();
    });
    EXPECT_EQ(listed, (QStringList{"默认", "东区", "分部 A-1"}));
    EXPECT_TRUE(onTop);
    EXPECT_EQ(noStillOpen, 1);
    EXPECT_EQ(path, dir->file("东区/"));
    EXPECT_EQ(TerminalName, "东区");
    EXPECT_EQ(TerminalID, 3);
}

TEST_F(SiteChooser, AtStartUpOnlyConfirmingLeavesAtRunTimeCancelChangesNothing) {
    site(3, "东区", true);
    platform::script::answer("真的要选择<默认>吗", platform::rYes);
    bool leftEarly = false;
    choose(true, [&](frmSelTerminal* w) {
        EXPECT_FALSE(w->cmdCancel->isEnabled());
        w->cmdCancel_Click();
        QCloseEvent close;
        QCoreApplication::sendEvent(w, &close);
        w->reject();
        leftEarly = !w->isVisible();
        w->cmdSelect->click();
    });
    EXPECT_FALSE(leftEarly);

    // Through core, as the change of site asks: cancelled, the site stays.
    DataPath = dir->file("东区/");
    TerminalName = "东区";
    TerminalID = 3;
    bool cancelled = false;
    platform::script::onModal("frmSelTerminal", [](QDialog* d) {
        auto* w = static_cast<frmSelTerminal*>(d);
        pick(w, "默认");
        w->cmdCancel->click();
    });
    ASSERT_TRUE(core::GetDataPath(false, &cancelled));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(DataPath, dir->file("东区/"));
    EXPECT_EQ(TerminalName, "东区");
    EXPECT_EQ(TerminalID, 3);
    EXPECT_EQ(SwitchModel, 2);
}

TEST(SiteChooserProcess, TheStationStartsOnTheChosenSiteAndNamesItInTheCaption) {
    testsupport::StationDir dir(2);
    {
        platform::Database root = platform::Database::open(dir.file("switch.mdb"));
        ASSERT_EQ(ModUpgrade::CreateTable(root, "Terminal", false), 2);
        root.execute("insert into terminal(pointid,pointname) values(2,?)", {QStringLiteral("东区")});
    }
    QDir().mkpath(dir.file("东区"));
    for (const char* f : {"switch.mdb", "PhoneCur.mdb"})
        ASSERT_TRUE(QFile::copy(dir.file(f), dir.file(QStringLiteral("东区/") + f)));
    {
        platform::Database sw = platform::Database::open(dir.file("东区/switch.mdb"));
        sw.execute("delete from Variant where varname in ('CommDevice','AppName')");
        sw.execute("insert into Variant(varname,value) values('CommDevice',?)", {dir.appPath() + "no-switch"});
        sw.execute("insert into Variant(varname,value) values('AppName','东区台')");
    }
    const QString log = dir.appPath() + "run.log";
    QProcess p;
    p.start(QStringLiteral(TARVO_BINARY_DIR "/tarvo-testrunner"),
            {dir.appPath(), "--log", log, "--no-switch", "--site", "东区", "--answer", "与集团电话通讯失败，是否继续?=yes"});
    ASSERT_TRUE(p.waitForFinished(60000));
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    testsupport::expectNoYieldInTransaction(lines);
    EXPECT_TRUE(lines.contains("LOADED\t东区台<东区> - [板卡通道状态]")) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains("PROMPT\t0\t操作提示\t真的要选择<东区>吗"));
    // The site's own files were checked and kept; the root's were not touched.
    EXPECT_TRUE(QFile::exists(dir.file("东区/PhoneCur.mdb.bak")));
    EXPECT_FALSE(QFile::exists(dir.file("PhoneCur.mdb.bak")));
    // The second model's tables are made in the site's own database.
    platform::Database sw = platform::Database::open(dir.file("东区/switch.mdb"));
    EXPECT_EQ(sw.rowCount("ExtDeposit"), 120);
}

}  // namespace
