// The site window of the second switch model: the list, the names a site may
// take, and the directories made, renamed and deleted with the rows. The site
// chooser: what it offers, what a choice sets, and that only its buttons
// leave it; and the station started on a chosen site.
#include "admin/OpenSite.h"
#include "admin/Sites.h"
#include "admin/frmSelTerminal.h"
#include "admin/frmTerminal.h"
#include "billing/frmFeeDetail.h"
#include "core/books/ChargeLog.h"
#include "core/Main.h"
#include "core/ModUpgrade.h"
#include "core/StationFiles.h"
#include "platform/AppExit.h"
#include "platform/Prompts.h"
#include "admin/ImmutableDir.h"
#include "support/Fixtures.h"
#include "support/Holds.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <fcntl.h>
#include <unistd.h>

using testsupport::holds;
using testsupport::lacks;
using testsupport::lastBox;

namespace {

class Sites : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        model = 2;
        StationDbTest::SetUp();
        SwitchModel = 2;
        TerminalName = QStringLiteral("默认");
        ASSERT_EQ(ModUpgrade::CreateTable(dbSwitch, "Terminal", false), 2);
        WorkerRights = QStringList{"0"};
    }
    void TearDown() override {
        frmTerminal::SetPopupRunner(nullptr);
        if (frmTerminal::exists() && win().Modified()) platform::script::answer("你已修改了数据,要保存吗", platform::rNo);
        frmTerminal::unload();
        billing::frmFeeDetail::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        StationDbTest::TearDown();
    }
    void site(int id, const QString& name, bool withDir = true, const QString& remark = {}) {
        dbSwitch.execute("insert into terminal(pointid,pointname,summary) values(?,?,?)", {id, name, remark});
        if (withDir) QDir().mkpath(dir->file(name));
    }
    frmTerminal& win() { return frmTerminal::instance(); }
    platform::FlexGrid& grid() { return *win().fgPoint; }
    QStringList column(int c) {
        QStringList out;
        for (int r = 1; r < grid().Rows(); ++r) out << grid().TextMatrix(r, c);
        return out;
    }
    void edit(int row, int col, const QString& text) {
        grid().setRow(row);
        grid().setRowSel(row);
        grid().setCol(col);
        grid().setColSel(col);
        win().StartEdit();
        ASSERT_TRUE(win().EditorVisible());
        win().txtModify->setText(text);
        win().txtModify_LostFocus();
    }
    void press(const QString& key) { win().tbrPoint_ButtonClick(key); }
    // Rows 1 to `n` selected and deleted, the question answered yes; the box
    // of what went wrong answered when `fails`.
    void deleteRows(int n, bool fails = true) {
        grid().setRow(1);
        grid().setRowSel(n);
        platform::script::answer(QStringLiteral("真的要删除第1条到第%1条共%1条记录吗?").arg(n), platform::rYes);
        if (fails) platform::script::answer("操作错误,", platform::rOK);
        press("Delete");
    }
    bool hasDir(const QString& name) { return QFileInfo(dir->file(name)).isDir(); }
    qint64 count(const QString& sql, const platform::Params& p = {}) { return dbSwitch.scalar(sql, p).toLongLong(); }
};

// The list drops the rows that are no site, touching no directory: a site
// whose directory is gone, a row named as no site may be (".", "..",
// "Backup"). 增加 proposes the number after the last site kept, which the
// new site takes.
TEST_F(Sites, ListDropsSitesWithoutDirectoryAndAddProposesTheNextNumber) {
    site(1, "北区");
    site(2, ".");
    site(3, "..");
    site(4, "Backup");
    site(5, "c");
    site(7, "gone", false);
    EXPECT_EQ(column(0), (QStringList{"1", "5"}));
    EXPECT_EQ(column(1), (QStringList{"北区", "c"}));
    EXPECT_EQ(count("select count(*) from terminal"), 2);
    EXPECT_TRUE(hasDir("Backup"));
    EXPECT_TRUE(QFile::exists(dir->file("switch.mdb")));
    press("Add");
    EXPECT_EQ(grid().TextMatrix(3, 0), "6");
    EXPECT_EQ(grid().TextMatrix(3, 5), "年月话费");
    EXPECT_TRUE(win().EditorVisible());
    EXPECT_EQ(win().EditCol(), 1);
    win().txtModify->setText("n");
    win().txtModify_LostFocus();
    press("Save");
    EXPECT_EQ(count("select count(*) from terminal where pointid=6 and pointname='n'"), 1);
    EXPECT_TRUE(hasDir("n"));
}

// A site starts with the root's users and balances but none of its calls:
// the root's charges the station file keeps a copy of are not given to the
// site's call file when the site is first opened either.
TEST_F(Sites, NewSiteGetsTheRootStationAndNoCallRecords) {
    for (int ext : {5, 6}) {
        testsupport::storeCall(dbPhoneCur, {.calladdr = ext, .date = "2026-06-01 10:00:00"});
        ModSwitch::LogCharge(7, platform::Currency::fromYuan(1), platform::Currency(), ext, "2026-06-01 10:00:00");
    }
    dbPhoneCur.execute("insert into tab_errPh(f_calladdr) values(5)");
    ModSwitch::ApplyLoggedCharges();
    ModSwitch::SetCallFileNote(ModSwitch::kMovedNote, "1");
    EXPECT_EQ(grid().Rows(), 2);
    press("Add");
    EXPECT_EQ(grid().Rows(), 2);   // the empty row became the new site
    EXPECT_EQ(grid().TextMatrix(1, 0), "1");
    win().txtModify->setText("一号站");
    win().txtModify_LostFocus();
    EXPECT_TRUE(win().RowModified(1));
    press("Save");
    ASSERT_TRUE(hasDir("一号站"));
    EXPECT_FALSE(win().RowModified(1));
    EXPECT_FALSE(win().Modified());
    EXPECT_EQ(count("select count(*) from terminal where pointid=1 and pointname=? and feedetail=?", {"一号站", "年月话费"}), 1);
    platform::Database sw = platform::Database::open(dir->file("一号站/Switch.mdb"));
    EXPECT_EQ(sw.scalar("select count(*) from worker").toInt(), 1);
    platform::Database cur = platform::Database::open(dir->file("一号站/PhoneCur.mdb"));
    EXPECT_EQ(cur.scalar("select count(*) from Tab_Phone").toInt(), 0);
    EXPECT_EQ(cur.scalar("select count(*) from tab_errPh").toInt(), 0);
    EXPECT_EQ(cur.scalar("select count(*) from tab_chargelog").toInt(), 0);   // the root's charges are the root's
    EXPECT_EQ(dbPhoneCur.scalar("select count(*) from Tab_Phone").toInt(), 2);   // the root keeps its own
    // Nothing of the work is left beside the sites.
    EXPECT_EQ(QDir(dir->dataPath()).entryList({".site-*"}, QDir::AllEntries | QDir::Hidden).size(), 0);
    admin::MakeCurrent({dir->file("一号站/"), "一号站", 1});
    ASSERT_TRUE(admin::OpenSite({}).opened);
    EXPECT_EQ(dbPhoneCur.scalar("select count(*) from Tab_Phone").toInt(), 0);
    EXPECT_EQ(dbPhoneCur.scalar("select count(*) from tab_chargelog").toInt(), 0);
    EXPECT_EQ(ModSwitch::CallFileNote(ModSwitch::kMovedNote), "");   // its journal file holds nothing
}

// The start-up on a site whose directory cannot be written (not even by
// root: immutable) names the directory and the cause, as it names the root's,
// and ends, having written nothing there.
TEST_F(Sites, AStartOnASiteDirectoryThatCannotBeWrittenNamesItAndEnds) {
    QString error;
    ASSERT_TRUE(admin::AddSiteDirectory("只读站", dbSwitch, &error)) << error.toStdString();
    dbSwitch.execute("insert into terminal(pointid,pointname) values(1,'只读站')");
    ModSwitch::OpenAllDB(false);
    admin::MakeCurrent({dir->file("只读站/"), "只读站", 1});
    {
        const ImmutableDir readOnly(dir->file("只读站"));
        if (!readOnly.made()) GTEST_SKIP() << "immutable directories need a right this run lacks";
        platform::script::answer("无法在数据目录", platform::rOK);
        EXPECT_THROW(admin::OpenSite({}), platform::ProgramEnded);
    }
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_TRUE(holds(lastBox(), {"只读站", "没有写入权限"}));
    EXPECT_FALSE(dbSwitch.isOpen());
}

TEST_F(Sites, NamesThatAreNoSiteAreRefused) {
    site(1, "a");
    QDir().mkpath(dir->file("Backup"));
    QDir().mkpath(dir->file("Old"));
    press("Add");
    // Asked again, the editor stays open.
    // The station's own work files beside the sites are no site's name either, before they exist too.
    for (const QString& bad : QStringList{"", ".", "..", "默认", "a/b", "a b", "restore.notice", "switch.mdb.recovered",
                                          "switch.mdb.recovering", "PhoneCur.mdb.damaged-20260615-083005", "x.new",
                                          "Tmp.mdb", "CallSpool.dat", "x.bak", "tarvo.lock", "restore.journal", "a.TMP"}) {
        platform::script::answer("请输入站点名称(除<默认>外)", platform::rOK);
        win().txtModify->setText(bad);
        win().txtModify_LostFocus();
        EXPECT_TRUE(win().EditorVisible()) << bad.toStdString();
    }
    // Taken: the editor closes, the row keeps no name.
    const QList<QPair<QString, QString>> taken = {
        {"backup", "backup站点已存在"}, {"old", "old站点已存在"}, {"A", "数据库中已存在此站点A"}};
    for (const auto& [name, message] : taken) {
        platform::script::answer(message, platform::rOK);
        if (!win().EditorVisible()) win().StartEdit();
        win().txtModify->setText(name);
        win().txtModify_LostFocus();
        EXPECT_FALSE(win().EditorVisible()) << name.toStdString();
        EXPECT_EQ(grid().TextMatrix(2, 1), "");
    }
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    // Typed "-" and blanks go nowhere; Chinese does.
    win().StartEdit();
    for (const QString& ch : QStringList{"z", "-", " ", "9", "/", "站"}) {
        QKeyEvent k(QEvent::KeyPress, 0, Qt::NoModifier, ch);
        QCoreApplication::sendEvent(win().txtModify, &k);
    }
    EXPECT_EQ(win().txtModify->text(), "z9站");
    win().txtModify->clear();   // an unnamed row goes with the window unasked
}

TEST_F(Sites, RenamingAnotherSitesNameIsRefusedAndARenameMovesTheDirectoryKeepingTheRemark) {
    site(1, "a", true, "备注一");
    site(2, "b");
    QFile f(dir->file("a/PhBill_2026.mdb"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    // Another grid row's unsaved name is taken too.
    edit(2, 1, "c");
    platform::script::answer("C站点已存在", platform::rOK);
    edit(1, 1, "C");
    EXPECT_EQ(grid().TextMatrix(1, 1), "a");
    edit(1, 1, "d");
    press("Save");
    EXPECT_FALSE(hasDir("a"));
    EXPECT_TRUE(QFile::exists(dir->file("d/PhBill_2026.mdb")));
    EXPECT_TRUE(hasDir("c"));
    frmTerminal::unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(column(8).value(0), "备注一");
    edit(1, 3, "5551234");
    press("Save");
    EXPECT_EQ(count("select count(*) from terminal where pointid=1 and pointname='d' and telephone='5551234' and "
                    "summary=?",
                    {"备注一"}),
              1);
}

TEST_F(Sites, DeletingSparesTheSiteInUseAndOnlyEverDeletesASitesOwnDirectory) {
    site(1, "a");
    site(2, "b");
    site(3, "c");
    TerminalName = "b";
    DataPath = dir->file("b/");
    deleteRows(3, false);
    EXPECT_EQ(column(1), QStringList{"b"});
    EXPECT_FALSE(hasDir("a"));
    EXPECT_FALSE(hasDir("c"));
    EXPECT_TRUE(hasDir("b"));
    EXPECT_EQ(count("select count(*) from terminal"), 1);
    // Nothing but a direct child of the data directory, never the one in use.
    QString error;
    for (const QString& p : {dir->dataPath(), dir->file(".."), dir->file("."), dir->file("b"), dir->appPath()})
        EXPECT_FALSE(admin::DeleteSiteDirectory(p, &error)) << p.toStdString();
    EXPECT_TRUE(QFile::exists(dir->file("switch.mdb")));
}

TEST_F(Sites, SitesNamedBeforeTheRuleForNewNamesStayWithTheirDetails) {
    const QString longName = QString(43, QChar('L'));
    const QStringList kept{"Site-1", "分部 A", "A_B", "x(2)", longName};
    for (int i = 0; i < kept.size(); ++i) {
        site(i + 1, kept[i], true, "备注");
        dbSwitch.execute("update terminal set ownername='张三',telephone='5551234' where pointid=?", {i + 1});
    }
    QDir().mkpath(dir->appPath() + "outside");
    site(8, "../outside");
    site(9, "gone", false);
    TerminalName = "Site-1";
    DataPath = dir->file("Site-1/");
    EXPECT_EQ(column(1), kept);
    EXPECT_EQ(count("select count(*) from terminal where ownername='张三' and telephone='5551234' and summary=?", {"备注"}), 5);
    EXPECT_EQ(count("select count(*) from terminal"), 5);
    EXPECT_TRUE(QFileInfo(dir->appPath() + "outside").isDir());
    // Their names stay as they are, committed unchanged or beside another column's edit.
    edit(2, 1, "分部 A");
    EXPECT_FALSE(win().EditorVisible());
    edit(2, 2, "李四");
    edit(3, 1, "AB");
    press("Save");
    EXPECT_FALSE(win().Modified());
    EXPECT_EQ(count("select count(*) from terminal where pointname=? and ownername='李四'", {"分部 A"}), 1);
    EXPECT_TRUE(hasDir("AB"));
    EXPECT_FALSE(hasDir("A_B"));
}

TEST_F(Sites, ADeletionThatStopsPartwayLeavesEachSiteWholeOrGone) {
    site(1, "a");
    site(2, "b");
    site(3, "c");
    for (const char* s : {"a", "b", "c"}) QFile::copy(dir->file("switch.mdb"), dir->file(QString(s) + "/Switch.mdb"));
    // A file whose name is no text cannot be removed by its listed name, even by root.
    const QByteArray bad = QFile::encodeName(dir->file("b/")) + "\xff\xfe";
    const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    deleteRows(3);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    // "b" went with its name; what could not be removed of it is named as such.
    const QString shown = lastBox();
    EXPECT_TRUE(shown.startsWith("操作错误,以下站点已删除,其目录未能清除:b\n")) << shown.toStdString();
    EXPECT_TRUE(lacks(shown, "未删除"));
    EXPECT_EQ(column(1), QStringList{""});
    EXPECT_EQ(count("select count(*) from terminal"), 0);
    for (const char* s : {"a", "b", "c"}) EXPECT_FALSE(hasDir(s)) << s;
    const QString aside = dir->file(".site-b.del");
    EXPECT_TRUE(QFileInfo(aside).isDir());
    ::unlink((QFile::encodeName(aside) + "/\xff\xfe").constData());

}

// A deletion refused for a site (its row protected, or the data directory
// taking no renames, not even from root): each site stays whole, its row and
// its directory back under its name with its files, named as not deleted.
TEST_F(Sites, ASiteWhoseRowOrDirectoryCannotGoIsNamedAsNotDeletedAndKeptWhole) {
    site(4, "d");
    site(5, "e");
    QFile::copy(dir->file("switch.mdb"), dir->file("e/Switch.mdb"));
    ASSERT_EQ(column(1), (QStringList{"d", "e"}));
    for (const bool rowKept : {true, false}) {
        SCOPED_TRACE(rowKept ? "row protected" : "directory fixed");
        if (rowKept) {
            dbSwitch.execute("CREATE TRIGGER keep_e BEFORE DELETE ON terminal WHEN old.pointname='e' "
                             "BEGIN SELECT RAISE(ABORT, '站点记录被保护'); END");
            deleteRows(2);
            dbSwitch.execute("DROP TRIGGER keep_e");
        } else {
            const ImmutableDir fixed(dir->dataPath());
            if (!fixed.made()) GTEST_SKIP() << "immutable directories need a right this run lacks";
            deleteRows(2);
        }
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        const QString shown = lastBox();
        EXPECT_TRUE(shown.endsWith("\n以下站点未删除:d,e")) << shown.toStdString();
        EXPECT_TRUE(lacks(shown, {"RAISE", "terminal"}));
        EXPECT_TRUE(QFile::exists(dir->file("e/Switch.mdb")));
        EXPECT_FALSE(QFileInfo::exists(dir->file(".site-e.del")));
        EXPECT_TRUE(hasDir("d"));
        EXPECT_EQ(count("select count(*) from terminal"), 2);
        EXPECT_EQ(column(1), (QStringList{"d", "e"}));
    }
}

TEST_F(Sites, ASiteStoredWithASlashInItsNameIsNotSaidToHaveNoDirectory) {
    QDir().mkpath(dir->file("p/q"));
    QString error;
    EXPECT_FALSE(admin::RenameSiteDirectory("p/q", "r", &error));
    EXPECT_TRUE(holds(error, "含有“/”"));
    EXPECT_TRUE(lacks(error, "找不到"));
    EXPECT_TRUE(QFileInfo(dir->file("p/q")).isDir());
}

TEST_F(Sites, AFailedCreateOrRenameIsReportedAndTheRowStaysUnsaved) {
    site(1, "a");
    press("Add");
    win().txtModify->setText("new");
    win().txtModify_LostFocus();
    edit(1, 1, "a2");
    // Meanwhile a directory of that name appears, and "a" is removed by hand.
    QDir().mkpath(dir->file("new"));
    QDir(dir->file("a")).removeRecursively();
    platform::script::answer("操作错误,找不到站点目录", platform::rOK);
    press("Save");
    EXPECT_TRUE(win().RowModified(1));
    EXPECT_EQ(count("select count(*) from terminal where pointname='a'"), 1);
    grid().setTextMatrix(1, 1, "a");   // back to the stored name: the row is saved as it stands
    platform::script::answer("操作错误,new站点已存在", platform::rOK);
    press("Save");
    EXPECT_FALSE(win().RowModified(1));
    EXPECT_TRUE(win().RowModified(2));
    EXPECT_EQ(count("select count(*) from terminal"), 1);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
}

TEST_F(Sites, ClosingWithUnsavedEditsAsksOnceAndNoDiscardsThem) {
    site(1, "a");
    edit(1, 2, "张三");
    platform::script::answer("你已修改了数据,要保存吗", platform::rNo);
    frmTerminal::unload();
    EXPECT_FALSE(frmTerminal::exists());
    EXPECT_EQ(count("select count(*) from terminal where ownername is not null and ownername<>''"), 0);
    // The fee column is not edited; a right click there offers the fee report, elsewhere the edit.
    QStringList popped;
    frmTerminal::SetPopupRunner([&](QMenu* m) { popped << m->objectName(); });
    win().fgPoint_MouseDown(2, 1, 5);
    win().fgPoint_MouseDown(2, 1, 0);
    win().fgPoint_MouseDown(2, 1, 3);
    EXPECT_EQ(popped, (QStringList{"popFee", "popModify"}));
    grid().setCol(5);
    win().StartEdit();
    EXPECT_FALSE(win().EditorVisible());
    // A double click there opens the site's fee report, which holds the site window meanwhile.
    win().fgPoint_DblClick();
    ASSERT_TRUE(billing::frmFeeDetail::exists());
    EXPECT_TRUE(billing::frmFeeDetail::instance().isVisible());
    EXPECT_EQ(QDir(billing::frmFeeDetail::instance().SiteDirectory()).dirName(), "a");
    EXPECT_FALSE(win().isEnabled());
    billing::frmFeeDetail::instance().close();
    EXPECT_TRUE(win().isEnabled());
}

class SiteChooser : public Sites {
protected:
    void SetUp() override {
        Sites::SetUp();
        SwitchModel = 0;   // the start tells it from the root's files
        admin::RegisterSiteChooser();
        core::SetProgramDir(dir->appPath());
    }
    void TearDown() override {
        core::SetSiteChooser(nullptr);
        core::SetProgramDir(QString());
        Sites::TearDown();
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
