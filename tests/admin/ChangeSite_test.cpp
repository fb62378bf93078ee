// The administration windows as the operator reaches them from the console,
// loaded against the simulator: the backup window (F2), the settings (F9),
// and in the second model the site window (F4) and the change of site
// (更换站点, F5).
#include "console/ConsoleFixture.h"

#include "admin/ImmutableDir.h"
#include "support/Holds.h"

#include "admin/Restore.h"
#include "admin/Sites.h"
#include "admin/frmDBManager.h"
#include "admin/frmSelTerminal.h"
#include "admin/frmSysSet.h"
#include "admin/frmTerminal.h"
#include "core/books/ChargeLog.h"
#include "core/Main.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "link/Monitor.h"
#include "params/BoardPanel.h"
#include "platform/Files.h"
#include "support/StationProcess.h"

#include <atomic>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTreeWidget>

using namespace consoletest;
using testsupport::holds;
using testsupport::lacks;
using testsupport::lastBox;

namespace {

class ChangeSite : public ConsoleTest {
protected:
    void SetUp() override {
        model = 2;
        ConsoleTest::SetUp();
        SwitchModel = 2;
        TerminalName = QStringLiteral("默认");
        admin::RegisterSiteChooser();
        core::SetProgramDir(dir->appPath());
        connectSwitch();
        load();
        console().resize(1000, 700);
        console().show();
        settled();
        WorkerRights = QStringList{"0"};
        MDIMain::instance().SetCaption(AppName + "<默认>");
    }
    void TearDown() override {
        frmTerminal::unload();
        core::SetSiteChooser(nullptr);
        core::SetProgramDir(QString());
        ConsoleTest::TearDown();
    }
    // A site made as the site window makes it, with settings of its own.
    QString makeSite(int id, const QString& name) {
        QString error;
        EXPECT_TRUE(admin::AddSiteDirectory(name, dbSwitch, &error)) << error.toStdString();
        dbSwitch.execute("insert into terminal(pointid,pointname) values(?,?)", {id, name});
        return dir->file(name + "/");
    }
    static void put(const QString& file, const QString& key, const QString& value) {
        platform::Database db = platform::Database::open(file);
        db.execute("delete from Variant where varname=?", {key});
        db.execute("insert into Variant(varname,value) values(?,?)", {key, value});
    }
    // Presses F5 and answers the chooser with `name` (empty: cancel).
    void changeTo(const QString& name) {
        platform::script::onModal("frmSelTerminal", [name](QDialog* d) {
            auto* w = static_cast<frmSelTerminal*>(d);
            if (name.isEmpty()) return w->cmdCancel->click();
            w->lvwPoint->setCurrentItem(w->lvwPoint->findItems(name, Qt::MatchExactly).value(0));
            platform::script::answer("真的要选择<" + name + ">吗", platform::rYes);
            w->cmdSelect->click();
        });
        clearLine();
        console().findChild<QAction*>("mnuChangeTerminal")->trigger();
        // A change ends with the switch's reports on again; after a cancel
        // whatever the station's trace lists has reached the switch (nothing,
        // if it sent nothing).
        if (name.isEmpty()) settled();
        else arrived("960301");
    }
    // 数据库管理 backs up (`mode` 0) the site open into, or restores it (2)
    // from, `folder`, every file checked; the box it shows is answered when
    // it begins with `box`. Its text.
    QString dbManager(int mode, const QString& folder, const QString& box) {
        frmDBManager& w = frmDBManager::instance();
        w.opt_Click(mode);
        w.txtPath->setText(folder);
        w.tvwDB->topLevelItem(0)->setCheckState(0, Qt::Checked);
        platform::script::answer(box, platform::rOK);
        w.cmd_Click(mode == 0 ? 0 : 1);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        return lastBox();
    }
    // A backup into `name` under the program directory; the folder.
    QString backupInto(const QString& name) {
        const QString folder = dir->appPath() + name + "/";
        QDir().mkpath(folder);
        dbManager(0, folder, "备份完成");
        return folder;
    }
    QString restoreFrom(const QString& folder, const QString& box) { return dbManager(2, folder, box); }
    // A year file of `n` calls of extension 5 in `dir`, January's table.
    static void yearFile(const QString& dir, int n) {
        platform::Database y = platform::Database::create(dir + "phbill_2026.mdb");
        y.execute("create table Tab_Ph1(f_calladdr integer, f_userid integer, f_date text, f_moneny integer)");
        for (int i = 0; i < n; ++i)
            y.execute("insert into Tab_Ph1 values(5, 2, ?, 10000)",
                      {QDateTime(QDate(2026, 1, 5), QTime(9, 0)).addSecs(600 * i).toString("yyyy-MM-dd HH:mm:ss")});
    }
    // The station's name a file carries: a station file's in "Variant", a call file's in "tab_notes".
    static QString idOf(const QString& file) {
        const platform::Database db = platform::Database::openReadOnly(file);
        const QString table = db.hasTable("Variant") ? "Variant" : "tab_notes";
        return db.scalar(QString("select value from %1 where varname=?").arg(table), {ModSwitch::kStationId}).toString();
    }
    static qint64 calls(const QString& file) {
        if (!QFile::exists(file)) return 0;
        return platform::Database::openReadOnly(file).scalar("select count(*) from Tab_Ph1").toLongLong();
    }
    static qint64 remainIn(const platform::Database& db, int user) {
        return db.scalar("select remain from user where userid=?", {user}).toLongLong();
    }
    // Types `text` into cell (r, c) of the console grid through its editor.
    void type(int r, int c, const QString& text) {
        doubleClickCell(r, c);
        spin(5000, [this] { return console().txtModify->isVisible() || console().cboModify->isVisible(); });
        QWidget* editor = console().txtModify;
        if (console().cboModify->isVisible()) {
            editor = console().cboModify;
            console().cboModify->setEditText(text);
        } else {
            ASSERT_TRUE(editor->isVisible());
            console().txtModify->setText(text);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(editor, &enter);
        spin(5000, [editor] { return !editor->isVisible(); });
    }
};

TEST_F(ChangeSite, F4NeedsRight32AndTheSiteWindowGivesTheConsoleBack) {
    WorkerRights = QStringList{"5"};
    clearLine();
    QAction* f4 = console().findChild<QAction*>("mnuTerminal");
    f4->trigger();
    settled();
    EXPECT_FALSE(frmTerminal::exists());
    EXPECT_TRUE(console().window()->isVisible());
    EXPECT_EQ(console().sbrInfo->panelText(2), "你没有此操作权限");
    EXPECT_TRUE(received().isEmpty());
    WorkerRights = QStringList{"32"};
    f4->trigger();
    ASSERT_TRUE(frmTerminal::exists());
    EXPECT_TRUE(frmTerminal::instance().isVisible());
    EXPECT_FALSE(console().window()->isVisible());
    EXPECT_TRUE(arrived("84040000"));
    frmTerminal::instance().tbrPoint_ButtonClick("Exit");
    EXPECT_FALSE(frmTerminal::exists());
    EXPECT_TRUE(console().window()->isVisible());
}

TEST_F(ChangeSite, TheChosenSitesSettingsBoardsViewAndBackupsTakeOver) {
    const QString site = makeSite(4, "东区");
    for (auto [key, value] : {std::pair{"AppName", "东区台"}, {"ChkAutoBackup", "1"}, {"BackupTime", "03:15"},
                              {"LastBackupDay", "2026-06-01"}, {"IntervalDay", "1"}})
        put(site + "Switch.mdb", key, value);
    int kind = 0;
    {
        platform::Database db = platform::Database::open(site + "Switch.mdb");
        kind = db.scalar("select max(dispcard) from moncard").toInt();
        db.execute("update moncard set dispcard=? where cardlayer=(select min(cardlayer) from moncard) and "
                   "cardorder=(select min(cardorder) from moncard)",
                   {kind});
        db.execute("insert into user(userid,username) values(7,?)", {QStringLiteral("东区用户")});
    }
    ASSERT_TRUE(console().ShowView("User"));
    settled();   // the view's monitor order is on the line before the change begins
    // The window's identity, not its address: a new one may be made where the old one was.
    const QPointer<frmDBManager> before = &frmDBManager::instance();

    changeTo("东区");
    EXPECT_EQ(DataPath, site);
    EXPECT_EQ(TerminalName, "东区");
    EXPECT_EQ(TerminalID, 4);
    EXPECT_EQ(QFileInfo(dbSwitch.path()).absolutePath() + "/", site);
    EXPECT_EQ(MDIMain::instance().Caption(), "东区台<东区>");
    QString name;
    quint32 colour = 0;
    ASSERT_TRUE(ModSwitch::CardKind(kind, &colour, &name));
    EXPECT_EQ(ModComm::CardList.value(0).KindName, name);
    QStringList users;
    for (int r = 1; r < console().fgDisp->Rows(); ++r) users << console().fgDisp->TextMatrix(r, 1);
    EXPECT_TRUE(users.contains("东区用户")) << users.join(',').toStdString();
    EXPECT_EQ(received().first(), "960300");
    EXPECT_EQ(received().value(1), "84040000");
    EXPECT_EQ(received().last(), "960301");

    // The backup window is loaded anew and backs up the site now open.
    ASSERT_TRUE(frmDBManager::exists());
    EXPECT_TRUE(before.isNull());   // the old one went
    EXPECT_EQ(frmDBManager::instance().autoPath(), site + "Backup/");
    platform::testing::setNow([] { return QDateTime(QDate(2026, 6, 2), QTime(3, 15, 20)); });
    frmDBManager::instance().Timer1_Timer();
    EXPECT_TRUE(QFile::exists(site + "Backup/202606020315/Switch.mdb")) << QDir(site + "Backup").entryList().join(',').toStdString();
}

TEST_F(ChangeSite, AnEditIsSavedIntoItsOwnSiteBeforeTheChangeAndACancelKeepsIt) {
    const QString site = makeSite(4, "东区");
    ASSERT_TRUE(console().ShowView("LanHead"));
    ASSERT_EQ(console().fgDisp->TextMatrix(1, 0), "E");
    type(1, 3, "5");
    ASSERT_TRUE(g_Modified);

    // A cancelled choice asks nothing, sends nothing, changes nothing and
    // leaves the edit where it was.
    const quint64 connection = dbSwitch.connectionSerial();
    const frmDBManager* backups = &frmDBManager::instance();
    changeTo(QString());
    EXPECT_TRUE(platform::script::shown().isEmpty());
    EXPECT_TRUE(g_Modified);
    EXPECT_EQ(console().fgDisp->TextMatrix(1, 3), "5");
    EXPECT_EQ(DataPath, dir->dataPath());
    EXPECT_EQ(TerminalName, "默认");
    EXPECT_EQ(dbSwitch.connectionSerial(), connection);
    EXPECT_EQ(&frmDBManager::instance(), backups);
    EXPECT_TRUE(received().isEmpty()) << received().join(' ').toStdString();

    // The question comes while the site the edit belongs to is still open.
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    changeTo("东区");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    ASSERT_EQ(DataPath, site);
    EXPECT_FALSE(g_Modified);
    EXPECT_EQ(dbSwitch.scalar("select Headdelay||bSet from LanHead where HeadID='E'").toString(), "00");
    platform::Database root = platform::Database::open(dir->file("switch.mdb"));
    EXPECT_EQ(root.scalar("select Headdelay||bSet from LanHead where HeadID='E'").toString(), "51");
}

TEST_F(ChangeSite, AnAmountTypedUnderADepositStaysWithTheSiteItWasTypedIn) {
    const QString site = makeSite(4, "东区");
    dbSwitch.execute("insert into user(userid,username,balancemode,deposit,remain) values(7,'甲',0,500000,500000)");
    {
        platform::Database db = platform::Database::open(site + "Switch.mdb");
        db.execute("insert into user(userid,username,balancemode,deposit,remain) values(7,'东区甲',0,500000,500000)");
    }
    ASSERT_TRUE(console().ShowView("User"));
    const int row = ModGeneral::FindGridRow(*console().fgDisp, 0, "7", 1);
    ASSERT_GE(row, 1);
    type(row, 4, "100");
    ASSERT_EQ(console().fgDisp->TextMatrix(row, 4), "150.00");

    // The change saves the amount into the site it was typed in...
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    changeTo("东区");
    ASSERT_EQ(DataPath, site);
    // ...and a save in the next site adds it to nobody there.
    ASSERT_TRUE(console().ShowView("User"));
    const int there = ModGeneral::FindGridRow(*console().fgDisp, 0, "7", 1);
    ASSERT_GE(there, 1);
    type(there, 7, "5");
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    console().tbrSwitch_ButtonClick("Save");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(dbSwitch.scalar("select deposit||'/'||remain||'/'||rent from user where userid=7").toString(),
              "500000/500000/50000");
    EXPECT_EQ(dbSwitch.scalar("select sum(deposit) from user").toLongLong(), 500000);
    platform::Database root = platform::Database::open(dir->file("switch.mdb"));
    EXPECT_EQ(root.scalar("select deposit||'/'||remain from user where userid=7").toString(), "1500000/1500000");
}

// F5 to a site that cannot be opened gives the previous site back whole:
// its station file garbled; its directory unwritable (named, and why, as the
// root's is at start-up); its upgrade failing late, which moves no money on
// the way, as its balances are brought up to its call file only once it is
// open (so its files of two stations are not even told).
TEST_F(ChangeSite, ASiteThatCannotBeOpenedGivesThePreviousSiteBack) {
    const struct {
        const char* name;
        QStringList told;   // what the box holds beside "更换站点失败:"
        std::function<void(const QString&)> spoil;   // none: the directory made unwritable
    } cases[] = {
        {"坏站", {}, [](const QString& s) { testsupport::writeBytes(s + "Switch.mdb", QByteArray(4096, 'x')); }},
        {"只读站", {"无法在数据目录", "只读站", "没有写入权限"}, nullptr},
        {"旧站", {}, [](const QString& s) {
             put(s + "Switch.mdb", ModSwitch::kStationId, "another station");
             platform::Database(platform::Database::open(s + "Switch.mdb")).execute("drop table rightlist");
         }},
    };
    int id = 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString site = makeSite(id++, c.name);
        std::unique_ptr<ImmutableDir> readOnly;
        if (c.spoil) {
            c.spoil(site);
        } else {
            readOnly = std::make_unique<ImmutableDir>(site);
            if (!readOnly->made()) continue;   // immutable directories need a right this run lacks
        }
        platform::script::answer("更换站点失败:", platform::rOK);
        changeTo(c.name);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        EXPECT_TRUE(testsupport::holdsAll(lastBox(), c.told));
        for (const auto& box : platform::script::shown()) EXPECT_TRUE(lacks(box.text, "不属于同一个话务台"));
        EXPECT_EQ(DataPath, dir->dataPath());
        EXPECT_EQ(TerminalName, "默认");
        EXPECT_EQ(TerminalID, 0);
        EXPECT_EQ(MDIMain::instance().Caption(), AppName + "<默认>");
        ASSERT_TRUE(dbSwitch.isOpen());
        EXPECT_TRUE(platform::sameFile(dbSwitch.path(), dir->file("switch.mdb")));
        EXPECT_TRUE(rsUser.isOpen());
        EXPECT_TRUE(frmDBManager::exists());
        EXPECT_EQ(received().last(), "960301");
    }
}

TEST_F(ChangeSite, AnInterruptedRestoreIsFinishedAndTablesAddedSinceAreMade) {
    const QString site = makeSite(4, "旧站");
    {
        platform::Database db = platform::Database::open(site + "Switch.mdb");
        db.execute("drop table ExtDeposit");
        db.execute("drop table tab_balance");
    }
    // A restore into the site was killed after its journal: the change finishes it first.
    const QString restored = site + "Switch.mdb" + admin::RestoreTempSuffix();
    ASSERT_TRUE(QFile::copy(site + "Switch.mdb", restored));
    put(restored, "RestoredMark", "1");
    QFile journal(site + admin::RestoreJournalName());
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.write(("Switch.mdb" + admin::RestoreTempSuffix() + "\tSwitch.mdb\n").toUtf8());
    journal.close();
    // The operator hears of the restore the kill kept from them.
    platform::script::answer("数据恢复成功", platform::rOK);
    changeTo("旧站");
    ASSERT_EQ(DataPath, site);
    EXPECT_EQ(ModSwitch::GetVariant("RestoredMark"), "1");
    EXPECT_FALSE(QFile::exists(restored));
    EXPECT_EQ(dbSwitch.rowCount("ExtDeposit"), 120);
    EXPECT_TRUE(dbSwitch.hasTable("tab_balance"));
    // Back to the root, which was checked and opened again.
    changeTo("默认");
    EXPECT_EQ(DataPath, dir->dataPath());
    EXPECT_TRUE(platform::sameFile(dbSwitch.path(), dir->file("switch.mdb")));
}

// Each site is a station of its own to 数据库管理's restore: in a site, the
// root's backup is refused whole, named, before anything is replaced (its
// year file's calls would be counted for the site's users of the same
// numbers); the site's own backup goes back in; at the root the site's
// backup is refused the same way.
TEST_F(ChangeSite, ARestoreTakesNoBackupOfAnotherSiteYearFilesIncluded) {
    const QString root = dir->dataPath();
    dbSwitch.execute("insert into user(userid,username,balancemode,deposit,remain) values(2,'乙',0,0,1000000)");
    const QString east = makeSite(4, "东区");
    EXPECT_NE(idOf(east + "Switch.mdb"), idOf(root + "switch.mdb"));
    EXPECT_EQ(idOf(east + "Switch.mdb"), idOf(east + "PhoneCur.mdb"));
    yearFile(root, 10);
    const QString rootBackup = backupInto("bk-root");
    ASSERT_EQ(calls(rootBackup + "phbill_2026.mdb"), 10);

    changeTo("东区");
    ASSERT_EQ(DataPath, east);
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain+500000 where userid=2"); });
    const qint64 paid = remainIn(dbSwitch, 2);
    const QString eastBackup = backupInto("bk-east");
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain-4500 where userid=2"); });
    const qint64 now = remainIn(dbSwitch, 2);

    QString box = restoreFrom(rootBackup, "恢复失败:Switch.mdb");
    EXPECT_TRUE(holds(box, "属于另一个话务台或站点，未恢复任何文件"));
    EXPECT_EQ(remainIn(dbSwitch, 2), now);
    EXPECT_FALSE(QFile::exists(east + "phbill_2026.mdb"));
    EXPECT_TRUE(QDir(east).entryList({"*" + admin::RestoreTempSuffix() + "*", admin::RestoreJournalName()}).isEmpty());

    // The site's own backup: in, brought up to the site's journal.
    box = restoreFrom(eastBackup, "数据恢复成功");
    EXPECT_EQ(remainIn(dbSwitch, 2), now);
    EXPECT_NE(paid, now);

    changeTo("默认");
    ASSERT_EQ(DataPath, root);
    box = restoreFrom(eastBackup, "恢复失败:Switch.mdb");
    EXPECT_TRUE(holds(box, "属于另一个话务台或站点"));
    EXPECT_EQ(remainIn(dbSwitch, 2), 1000000);
    EXPECT_EQ(calls(root + "phbill_2026.mdb"), 10);

    // A site made since the root's backup stays a site when that backup is
    // restored at the root, or the root's station file is put back by hand
    // from it: listed, and reachable by 更换站点.
    const QString north = makeSite(3, "北站");
    restoreFrom(rootBackup, "数据恢复成功");
    ASSERT_EQ(dbSwitch.scalar("select pointid from terminal where pointname=?", {"北站"}).toInt(), 3);
    changeTo("北站");
    EXPECT_EQ(DataPath, north);
    // The root's station file put back by hand from a copy older than the
    // site: the root's opening lists the site again.
    for (const char* side : {"", "-wal", "-shm"}) QFile::remove(dir->file("switch.mdb") + side);
    ASSERT_TRUE(QFile::copy(rootBackup + "Switch.mdb", dir->file("switch.mdb")));
    changeTo("默认");
    ASSERT_FALSE(dbSwitch.scalar("select pointid from terminal where pointname=?", {"北站"}).isNull());
    changeTo("北站");
    EXPECT_EQ(DataPath, north);
}

// A site an older release made carries the root's name in its files (that
// release copied the root's files, name and all, into each site), and so do
// the site's backups of that time. Restored into the root, such a backup is
// placed by the site's journal, or, made before its charges were marked, by
// its folder (within the site's directory it is the site's), and refused
// whole, the root's balances untouched; the root's own backups of that time
// go in. The site's opening gives its files a name of their own (the same in
// every file, its journal file's too), without a word; from then on the
// root's backup is refused there, and the site's own backups from before
// still go back in, placed by the site's journal.
TEST_F(ChangeSite, ASiteSharingTheRootsNameIsToldApartAtItsOpening) {
    const QString root = dir->dataPath();
    // The site "东区" as an older release left it: user 2 paid for in the
    // site and at the root (the root's entry of the same number gives another
    // balance), then every file of the site named as the root, and its
    // station file copied as a backup of that time into "bk-old-east".
    dbSwitch.execute("insert into user(userid,username,balancemode,deposit,remain) values(2,'乙',0,0,1000000)");
    const QString east = makeSite(4, "东区");
    changeTo("东区");
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain+500000 where userid=2"); });
    changeTo("默认");
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain+10000 where userid=2"); });
    const QString rootId = idOf(root + "PhoneCur.mdb");
    ASSERT_FALSE(rootId.isEmpty());
    put(east + "Switch.mdb", ModSwitch::kStationId, rootId);
    platform::Database::open(east + "PhoneCur.mdb")
        .execute("update tab_notes set value=? where varname=?", {rootId, ModSwitch::kStationId});
    const QString oldEast = dir->appPath() + "bk-old-east/";
    QDir().mkpath(oldEast);
    ASSERT_TRUE(QFile::copy(east + "Switch.mdb", oldEast + "Switch.mdb"));
    yearFile(root, 10);
    const QString rootBackup = backupInto("bk-root");
    const auto unmarked = [](const QString& from, const QString& in) {
        QDir().mkpath(in + "bk-old/");
        EXPECT_TRUE(QFile::copy(from + "Switch.mdb", in + "bk-old/Switch.mdb"));
        platform::Database::open(in + "bk-old/Switch.mdb")
            .execute("delete from Variant where varname=?", {ModSwitch::kChargeMark});
        return in + "bk-old/";
    };
    qint64 now = remainIn(dbSwitch, 2);
    QString box = restoreFrom(unmarked(oldEast, east), "恢复失败:Switch.mdb");
    EXPECT_TRUE(holds(box, "是站点东区的备份"));
    EXPECT_EQ(remainIn(dbSwitch, 2), now);
    restoreFrom(unmarked(rootBackup, root), "数据恢复成功");
    EXPECT_EQ(remainIn(dbSwitch, 2), now);
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain-4500 where userid=2"); });
    now = remainIn(dbSwitch, 2);
    box = restoreFrom(oldEast, "恢复失败:Switch.mdb");
    EXPECT_TRUE(holds(box, "是站点东区的备份"));
    EXPECT_EQ(remainIn(dbSwitch, 2), now);
    restoreFrom(rootBackup, "数据恢复成功");
    EXPECT_EQ(remainIn(dbSwitch, 2), now);

    changeTo("东区");
    ASSERT_EQ(DataPath, east);
    for (const auto& b : platform::script::shown()) EXPECT_TRUE(lacks(b.text, "不属于同一个话务台"));
    const QString own = idOf(east + "Switch.mdb");
    EXPECT_FALSE(own.isEmpty());
    EXPECT_NE(own, rootId);
    EXPECT_EQ(idOf(east + "PhoneCur.mdb"), own);
    EXPECT_EQ(idOf(root + "PhoneCur.mdb"), rootId);
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain-4500 where userid=2"); });
    now = remainIn(dbSwitch, 2);

    box = restoreFrom(rootBackup, "恢复失败:Switch.mdb");
    EXPECT_TRUE(holds(box, "属于另一个话务台或站点"));
    EXPECT_EQ(remainIn(dbSwitch, 2), now);
    EXPECT_FALSE(QFile::exists(east + "phbill_2026.mdb"));
    restoreFrom(oldEast, "数据恢复成功");
    EXPECT_EQ(remainIn(dbSwitch, 2), now);
    // Told apart once: the next opening finds the name its own.
    changeTo("默认");
    changeTo("东区");
    EXPECT_EQ(idOf(east + "Switch.mdb"), own);
}

// Records keep coming while the station changes its site and restores its
// station file: every one is answered, and stored once, in the site that was
// open when it was handled (the switch here does not pause its reports).
TEST_F(ChangeSite, RecordsStreamingThroughChangesOfSiteAndARestoreAreEachStoredOnce) {
    const QString north = makeSite(1, "北站");
    const QString backup = backupInto("bk");

    QStringList keys;
    // Counted on the switch's thread, which may outlive an early end of the test.
    const auto answers = std::make_shared<std::atomic<int>>(0);
    sw.setObserver([answers](const sim::Frame& f) {
        if (f.startsWith(QStringLiteral("820302"))) ++*answers;
    });
    std::atomic<int>& answered = *answers;
    const auto queue = [&](int n) {
        for (int k = 0; k < n; ++k) {
            const int i = int(keys.size());
            sim::CallRecord r;
            r.extAddr = 5;
            r.called = QStringLiteral("8800%1").arg(3000 + i);
            r.channel = i % 8;
            r.start = QDateTime(QDate(2026, 6, 15), QTime(8, 0, 0)).addSecs(60 * i);
            r.durationSec = 65;
            keys << QStringLiteral("5 %1").arg(r.start.toString("yyyy-MM-dd HH:mm:ss"));
            sw.sendCallRecord(r);
        }
    };
    // Each change (and the restore) comes while records stream in.
    const auto streaming = [&] {
        const int before = answered;
        queue(40);
        ASSERT_TRUE(spin(20000, [&] { return answered >= before + 3; })) << answered;
    };
    for (int round = 0; round < 4; ++round) {
        streaming();
        if (HasFatalFailure()) return;
        changeTo(round % 2 == 0 ? "北站" : "默认");
    }
    streaming();
    if (HasFatalFailure()) return;
    restoreFrom(backup, "数据恢复成功");

    EXPECT_TRUE(spin(30000, [this] { return sw.recordsWaiting() == 0; }))
        << sw.recordsWaiting() << " records the switch still waits to hand over";
    settled();
    sw.setObserver({});
    EXPECT_EQ(answered, keys.size());
    const auto here = testsupport::readStoredCalls(dir->dataPath());
    const auto there = testsupport::readStoredCalls(north);
    EXPECT_GT(there.rows, 0);
    EXPECT_GT(here.rows, 0);
    for (const QString& k : keys) EXPECT_EQ(here.count.value(k) + there.count.value(k), 1) << k.toStdString();
    EXPECT_EQ(here.rows + there.rows, keys.size());
}

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
    settled();
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
