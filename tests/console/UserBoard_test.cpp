// The grid's popup menus, the user commands and the board panel, on a station
// loaded against the simulator.
#include "ConsoleFixture.h"

#include "console/ConsoleCommands.h"
#include "core/books/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModGeneral.h"
#include "core/frmChange.h"
#include "params/BoardPanel.h"
#include "link/Monitor.h"
#include "core/frmDialog.h"
#include "params/ShowTable.h"
#include "sim/RowFrames.h"
#include "support/RefusalWalk.h"

#include <QActionGroup>
#include <QApplication>
#include <QMouseEvent>
#include <QMenu>

using namespace consoletest;

namespace {

class Loaded : public LoadedConsole {
protected:
    void SetUp() override {
        LoadedConsole::SetUp();
        console::SetPopupRunner([this](QMenu* m) {
            QStringList items;
            for (QAction* a : m->actions())
                if (a->isVisible()) items << a->text();
            popups << m->objectName() + ":" + items.join(',');
            return nullptr;
        });
    }
    void TearDown() override {
        console::SetPopupRunner(nullptr);
        LoadedConsole::TearDown();
    }
    // A charge to `user` of `fee`, leaving `remain`, that the station file refused: it waits in the journal.
    static void chargeRefused(int user, const char* fee, const char* remain) {
        dbSwitch.execute("create trigger refuse before update on user begin select raise(abort, 'disk full'); end");
        logCharge(user, fee, remain);
        dbSwitch.execute("drop trigger refuse");
    }
    // The chooser of the selected user given E0003 and account 1234, and nothing else.
    void giveExtensionAndAccount() {
        platform::script::onModal("frmChange", [&](QDialog* d) {
            auto* c = static_cast<frmChange*>(d);
            c->lstHave->clear();
            c->lstHave->addItems({"Ext:E0003", "Acc:1234"});
            c->cmdHide_Click(1);
        });
        console().mnuViewUser_Click();
    }
    void select(int row, int col, int rowSel, int colSel) {
        grid().setRow(row);
        grid().setCol(col);
        grid().setRowSel(rowSel);
        grid().setColSel(colSel);
        int first = 0, last = 0;   // what the grid's mouse-up keeps
        ModGeneral::GetGridSel(grid(), false, first, last);
    }
    // A right-click on the current cell's right (or left) side.
    QString rightClick(bool rightSide, int mouseCol = -1) {
        popups.clear();
        const int x = rightSide ? grid().CellLeft() + 15 : grid().CellLeft() - 15;
        console().fgDisp_MouseDown(2, x, mouseCol < 0 ? grid().Col() : mouseCol);
        return popups.isEmpty() ? QString() : popups.join(';');
    }
    // The operator's own mouse on the grid: button `b` at cell (r, c), a
    // press and its release, or a press, a drag to row `toRow` and a release.
    void click(int r, int c, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        popups.clear();
        mouse(QEvent::MouseButtonPress, at(r, c), b, mods);
        mouse(QEvent::MouseButtonRelease, at(r, c), b, mods);
        drain();
    }
    void drag(int r, int c, int toRow) {
        mouse(QEvent::MouseButtonPress, at(r, c));
        mouse(QEvent::MouseMove, at((r + toRow) / 2, c));
        mouse(QEvent::MouseMove, at(toRow, c));
        mouse(QEvent::MouseButtonRelease, at(toRow, c));
        drain();
    }
    QStringList popups;
};

TEST_F(Loaded, PopupDependsOnViewSelectionTitleAndSideAndTheUserCommandsGoBack) {
    ASSERT_TRUE(console().ShowView("History"));
    select(1, 1, 1, 1);
    EXPECT_EQ(rightClick(true), "");

    ASSERT_TRUE(console().ShowView("LanHead"));
    ASSERT_GE(grid().Rows(), 2);
    grid().AddItem("1\t20\t3\t0\t0\t0\t0");
    select(1, 0, 1, 0);
    EXPECT_EQ(rightClick(true), "popModify:修改");
    select(1, 0, 2, 0);
    EXPECT_EQ(rightClick(true), "");   // 本机字头 on two rows
    console().fgDisp_MouseDown(1, 0, 0);
    select(0, 0, 0, 0);
    EXPECT_EQ(rightClick(true), "");   // the header row

    // The user commands on one user's row; the table's menu as it was afterwards.
    dbSwitch.execute("insert into user (userid, username) values (7, '甲'), (8, '乙')");
    ASSERT_TRUE(console().ShowView("User"));
    ASSERT_EQ(grid().Rows(), 4);
    ASSERT_EQ(grid().TextArray(1).trimmed(), "用户名称") << grid().TextArray(1).toStdString() << grid().FixedCols();
    select(2, 1, 2, 1);
    EXPECT_EQ(rightClick(false), "PopMenuTable:下载,选择分机帐号,结算,初始化");
    select(2, 1, 3, 1);
    EXPECT_EQ(rightClick(false), "PopMenuTable:下载");
    select(1, 1, 1, 1);
    EXPECT_EQ(rightClick(true), "");   // the default user's name
    select(2, 1, 2, 1);
    EXPECT_EQ(rightClick(true), "popModify:修改");

    ASSERT_TRUE(console().ShowView("Relay"));
    select(1, 1, 1, 2);
    EXPECT_EQ(rightClick(true), "");   // two cells of two columns
    select(1, 1, 1, grid().Cols() - 1);
    EXPECT_EQ(rightClick(true), "PopMenuTable:校验,上传,下载");

    // Extension columns 0 to 2 need right 5 as well.
    WorkerRights = QStringList{"6"};
    ASSERT_TRUE(console().ShowView("Extension"));
    select(1, 4, 1, 4);
    EXPECT_EQ(rightClick(true, 1), "");
    EXPECT_EQ(status(), "你没有此操作权限");
    EXPECT_EQ(rightClick(true, 4), "popModify:修改");
    // The operator's own right click refused: its word stays in the status bar.
    console().sbrInfo->setPanelText(2, QString());
    select(2, 1, 2, 1);
    click(2, 1, Qt::RightButton);
    EXPECT_TRUE(popups.isEmpty());
    EXPECT_EQ(status(), "你没有此操作权限");
}

TEST_F(Loaded, ARowHeaderClickOrDragTakesWholeRowsAndOpensTheirPopup) {
    ASSERT_TRUE(console().ShowView("Extension"));
    ASSERT_EQ(grid().FixedCols(), 1);
    click(3, 0);
    EXPECT_EQ(GridSelFirst, 3);
    EXPECT_EQ(GridSelLast, 3);
    EXPECT_EQ(GridSelColFirst, 1);
    EXPECT_EQ(GridSelColLast, grid().Cols() - 1);
    click(3, 0, Qt::RightButton);
    EXPECT_EQ(popups.join(';'), "PopMenuTable:校验,上传,下载");

    drag(2, 0, 6);
    EXPECT_EQ(GridSelFirst, 2);
    EXPECT_EQ(GridSelLast, 6);
    EXPECT_EQ(GridSelColLast - GridSelColFirst + 2, grid().Cols());
    click(9, 0, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(GridSelFirst, 2);
    EXPECT_EQ(GridSelLast, 9);
    click(4, 0, Qt::RightButton);
    EXPECT_EQ(popups.join(';'), "PopMenuTable:校验,上传,下载");
    EXPECT_EQ(status(), QStringLiteral("共%1条记录，选中8条记录  当前光标：行 2 列　1").arg(grid().Rows() - 1));

    // The user popup by the same gesture; a click in a cell still takes the cell.
    dbSwitch.execute("insert into user (userid, username) values (7, '甲')");
    ASSERT_TRUE(console().ShowView("User"));
    click(2, 0);
    click(2, 0, Qt::RightButton);
    EXPECT_EQ(popups.join(';'), "PopMenuTable:下载,选择分机帐号,结算,初始化");
    click(2, 3);
    EXPECT_EQ(GridSelColFirst, 3);
    EXPECT_EQ(GridSelColLast, 3);
}

TEST_F(Loaded, TheDefaultUserIsToldByItsIdAndListedFirst) {
    // The default user stored after the others.
    dbSwitch.execute("insert into user (userid, username) values (9, '丙'), (7, '甲')");
    dbSwitch.execute("create temp table u0 as select * from user where userid=0");
    dbSwitch.execute("delete from user where userid=0");
    dbSwitch.execute("insert into user select * from u0");
    ASSERT_TRUE(console().ShowView("User"));
    EXPECT_EQ(grid().TextMatrix(1, 0), "0");
    EXPECT_EQ(grid().TextMatrix(2, 0), "7");
    EXPECT_EQ(grid().TextMatrix(3, 0), "9");

    // Shown in another order, its name still has no 修改.
    ModGeneral::ShowTable(grid(), "select * from User order by userid desc", QString(), 0, 2, false);
    ASSERT_EQ(grid().TextMatrix(3, 0), "0");
    click(3, 1);
    click(3, 1, Qt::RightButton);
    EXPECT_EQ(popups.join(';'), "");
    click(1, 1);
    click(1, 1, Qt::RightButton);
    EXPECT_EQ(popups.join(';'), "popModify:修改");
}

// 初始化 asks only when money is left, a charge waiting (the station file
// refused it) counted as money owed, and shown so in 用户管理; the balance it
// ends at nothing is not taken from afterwards.
TEST_F(Loaded, InitialisingAsksOnlyWhenMoneyIsLeftAndLeavesNothingToTakeAfterwards) {
    dbSwitch.execute("insert into user (userid, username, deposit, remain, locked, lastdate) values "
                     "(7, '甲', 100000, -50000, 1, '2026-01-01 00:00:00'), (8, '乙', 0, 0, 1, '2026-01-01 00:00:00'), "
                     "(9, '丙', 0, 0, 0, '2026-01-01 00:00:00')");
    chargeRefused(7, "1.00", "-6.00");
    chargeRefused(9, "1.00", "-1.00");
    platform::testing::setNow([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); });
    ASSERT_TRUE(console().ShowView("User"));
    // The balance shown is the journal's: each charge waiting taken, from its own user alone.
    EXPECT_EQ(grid().TextMatrix(2, 5), "-6.00");
    EXPECT_EQ(grid().TextMatrix(3, 5), "0.00");
    EXPECT_EQ(grid().TextMatrix(4, 5), "-1.00");
    select(2, 0, 2, 0);
    platform::script::answer("甲用户还有押金余额,要强制初始化用户吗", platform::rNo);
    console().mnuInitUser_Click();
    EXPECT_EQ(dbSwitch.scalar("select remain from user where userid=7").toLongLong(), -50000);
    const int shown = platform::script::shown().size();
    select(3, 0, 3, 0);
    console().mnuInitUser_Click();
    EXPECT_EQ(platform::script::shown().size(), shown);
    EXPECT_EQ(dbSwitch.scalar("select lastdate from user where userid=8").toString(), "2026-12-07 09:00:00");
    EXPECT_EQ(dbSwitch.scalar("select locked from user where userid=8").toInt(), 0);
    EXPECT_EQ(grid().TextMatrix(3, 10), "OFF");
    EXPECT_EQ(grid().TextMatrix(3, 2), "2026-12-07 09:00:00");

    select(4, 0, 4, 0);
    platform::script::answer("丙用户还有押金余额,要强制初始化用户吗", platform::rYes);
    console().mnuInitUser_Click();
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    ModSwitch::ApplyLoggedCharges();
    EXPECT_EQ(dbSwitch.scalar("select remain from user where userid=9").toLongLong(), 0);
    // Shown again once applied, the charge is taken no more.
    ASSERT_TRUE(console().ShowView("Account"));
    ASSERT_TRUE(console().ShowView("User"));
    EXPECT_EQ(grid().TextMatrix(2, 5), "-6.00");
    EXPECT_EQ(grid().TextMatrix(4, 5), "0.00");
}

TEST_F(Loaded, ChooserOffersExtensionsBelowTheBoundAndAnEmptyChoiceReleasesAll) {
    // Subscriber boards in slots 8 and 9 only: 16 extensions.
    dbSwitch.execute("update MonCard set dispcard=15 where cardorder>8");
    dbSwitch.execute("insert into user (userid, username, balancemode) values (7, '甲', 1)");
    dbSwitch.execute("update Extension set userid=7, depositgrade=9 where Address=3");
    dbSwitch.execute("update Account set userid=7, account='1234', depositgrade=9 where address=2048");
    ASSERT_TRUE(console().ShowView("User"));
    select(2, 0, 2, 0);
    QStringList offered, had;
    platform::script::onModal("frmChange", [&](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        for (int i = 0; i < c->lstShare->count(); ++i) offered << c->lstShare->item(i)->text();
        for (int i = 0; i < c->lstHave->count(); ++i) had << c->lstHave->item(i)->text();
        c->cmdShare_Click(0);
        c->cmdHide_Click(1);
    });
    console().mnuViewUser_Click();
    EXPECT_EQ(had, (QStringList{"Ext:E0003", "Acc:1234"}));
    EXPECT_EQ(offered.size(), 15);
    EXPECT_TRUE(offered.contains("Ext:E0015"));
    EXPECT_FALSE(offered.contains("Ext:E0016"));
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where userid=7").toInt(), 0);
    EXPECT_EQ(dbSwitch.scalar("select userid from Account where address=2048").toInt(), 0);
    EXPECT_EQ(dbSwitch.scalar("select depositgrade from Extension where Address=3").toInt(),
              ModGeneral::GetDepositGrade(0));
}

TEST_F(Loaded, GradesChangedByTheChooserAreDownloaded) {
    // A deposit user in debt: its rows take the lowest grade.
    dbSwitch.execute("insert into user (userid, username, balancemode, remain) values (7, '甲', 0, -10000)");
    dbSwitch.execute("update Extension set bSet=0, bSetSpringNum=0");
    dbSwitch.execute("update Account set bset=0, account='1234' where address=2048");
    dbSwitch.execute("update Extension set userid=7, depositgrade=2 where Address=4");
    const int g0 = ModGeneral::GetDepositGrade(0);
    ASSERT_NE(ModGeneral::GetDepositGrade(7), g0);
    ASSERT_TRUE(console().ShowView("User"));
    select(2, 0, 2, 0);
    // E0003 and account 1234 come to the user, E0004 goes back to the default user.
    giveExtensionAndAccount();
    EXPECT_EQ(dbSwitch.scalar("select userid||depositgrade||bSet from Extension where Address=3").toString(),
              QStringLiteral("7%1").arg(ModGeneral::GetDepositGrade(7)) + "1");
    EXPECT_EQ(dbSwitch.scalar("select userid||depositgrade||bSet from Extension where Address=4").toString(),
              QStringLiteral("0%1").arg(g0) + "1");
    EXPECT_EQ(dbSwitch.scalar("select bset from Account where address=2048").toInt(), 1);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where bSet<>0").toInt(), 2);

    // The download of the extensions takes them to the switch.
    ASSERT_TRUE(console().ShowView("Extension"));
    platform::script::onModal("frmDialog", [](QDialog* d) { static_cast<frmDialog*>(d)->cmdSet[1]->click(); });
    console().tbrSwitch_ButtonClick("DownLoad");
    ASSERT_TRUE(allArrived());
    EXPECT_TRUE(sw.row(sim::tables::Extension, 3));
    EXPECT_TRUE(sw.row(sim::tables::Extension, 4));
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where bSet<>0").toInt(), 0);
}

TEST_F(Loaded, TheChooserMarksEveryRowWhoseFrameChangesWithItsOwner) {
    // A locked user who does not pay in advance: the grade stays, the frame does not.
    dbSwitch.execute("insert into user (userid, username, balancemode, locked) values (7, '甲', 1, 1)");
    dbSwitch.execute("update Extension set bSet=0, bSetSpringNum=0");
    dbSwitch.execute("update Account set bset=0");
    dbSwitch.execute("update Account set account='1234' where address=2048");
    ASSERT_EQ(ModGeneral::GetDepositGrade(7), ModGeneral::GetDepositGrade(0));
    ASSERT_TRUE(console().ShowView("User"));
    select(2, 0, 2, 0);
    giveExtensionAndAccount();
    EXPECT_EQ(dbSwitch.scalar("select userid||bSet from Extension where Address=3").toString(), "71");
    EXPECT_EQ(dbSwitch.scalar("select userid||bset from Account where address=2048").toString(), "71");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where bSet<>0").toInt(), 1);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Account where bset<>0").toInt(), 1);
}

TEST_F(ConsoleTest, ExtensionCountViewIsMadeForAnOlderDataDirectory) {
    {
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        db.execute("DROP VIEW que_extcount");
    }
    connectSwitch();
    load();
    EXPECT_EQ(dbSwitch.scalar("select ExtCount from que_extcount").toInt(), 120);
}

class Board : public Loaded {
protected:
    void SetUp() override {
        Loaded::SetUp();
        ASSERT_TRUE(console().ShowView("MonCard"));
        g_Modified = false;
    }
    int kind(int slot) {
        return dbSwitch.scalar("select dispcard from moncard where cardlayer=0 and cardorder=?", {slot}).toInt();
    }
    QAction* legend(int n) { return console().legendGroup->actions()[n - 1]; }
    QString click(int slot) {
        console().picCard_MouseDown(slot);
        console().picCard_Click(slot);
        return status();
    }
};

TEST_F(Board, ToneBoardStaysAndBoardsGoFromTheBackAndComeFromTheFront) {
    EXPECT_EQ(click(6), "音令板必须要设置");
    EXPECT_EQ(click(1), "请先撤消第 5 块板");
    EXPECT_EQ(kind(1), 1);
    for (int s = 21; s >= 8; --s) ASSERT_EQ(click(s), "") << s;
    EXPECT_EQ(kind(8), 15);
    EXPECT_TRUE(g_Modified);
    console().picCard_MouseDown(2);
    EXPECT_TRUE(legend(6)->isChecked());   // a fitted caller-display slot
    EXPECT_EQ(click(11), "请先设置第 9 块板");
    EXPECT_EQ(kind(11), 15);
    EXPECT_EQ(click(8), "");
    EXPECT_EQ(kind(8), 0);
    EXPECT_EQ(ModComm::CardList[8].Color, 0x800000u);
}

TEST_F(Board, AtMostFourSpecialBoardsNeverBehindAnEmptySlot) {
    auto phone = [this] {
        legend(5)->setChecked(true);
        console().tbrLegend_ButtonClick(5);
    };
    phone();
    for (int s : {7, 8, 9}) ASSERT_EQ(click(s), "") << s;
    EXPECT_EQ(ModComm::SpecPhoneCount, 3);
    EXPECT_TRUE(legend(5)->isChecked());
    EXPECT_EQ(click(10), "");
    EXPECT_EQ(kind(10), 11);
    EXPECT_FALSE(legend(5)->isChecked());   // the fourth was the last one allowed
    phone();
    legend(5)->setChecked(true);
    console().picCard_Click(11);
    EXPECT_EQ(status(), "只能设置四块专用电话板");
    EXPECT_EQ(kind(11), 0);
    EXPECT_EQ(ModComm::SpecPhoneCount, 4);

    // Out of slot 8: a subscriber board again, the next slot holding a board.
    console().tbrLegend_ButtonClick(6);
    EXPECT_EQ(click(7), "");
    EXPECT_EQ(kind(7), 0);
    EXPECT_EQ(ModComm::SpecPhoneCount, 3);

    // Out of the last slot: the slot is left spare, and the change is marked.
    phone();
    EXPECT_EQ(click(21), "");
    EXPECT_EQ(kind(21), 11);
    g_Modified = false;
    console().tbrLegend_ButtonClick(6);
    EXPECT_EQ(click(21), "");
    EXPECT_EQ(kind(21), 15);
    EXPECT_TRUE(g_Modified);
    // Behind an empty slot no special board goes in, and the count stays.
    dbSwitch.execute("update moncard set dispcard=15 where cardorder=20");
    ModSwitch::LoadCards();
    const int before = ModComm::SpecPhoneCount;
    legend(5)->setChecked(true);
    console().picCard_Click(21);
    EXPECT_EQ(status(), "请从前至后依次设置板卡");
    EXPECT_EQ(kind(21), 15);
    EXPECT_EQ(ModComm::SpecPhoneCount, before);
}

TEST_F(Loaded, DownloadIsBracketedAlsoWhenRefused) {
    WorkerRights = QStringList{"1"};
    ASSERT_TRUE(console().ShowView("LanHead"));
    clearLine();
    console().tbrSwitch_ButtonClick("DownLoad");
    ASSERT_TRUE(allArrived());
    const QStringList got = besidesProbes(received());
    ASSERT_GE(got.size(), 2);
    EXPECT_EQ(got.first(), "960300");
    EXPECT_EQ(got.last(), "960301");
    EXPECT_EQ(status(), "你没有此操作权限");
    // Verify compares the whole grid, here its one row.
    WorkerRights = QStringList{"0"};
    ASSERT_EQ(grid().Rows(), 2);
    clearLine();
    platform::script::answer("集团电话参数缺少本机字头", platform::rOK);
    console().tbrSwitch_ButtonClick("Verify");
    ASSERT_TRUE(allArrived());
    EXPECT_EQ(SelRowFirst, 1);
    EXPECT_EQ(SelRowLast, 1);
    EXPECT_EQ(besidesProbes(received()).first(), "960300");
    EXPECT_EQ(besidesProbes(received()).last(), "960301");
    // The operation commands wait for an open editor to commit: the command
    // puts nothing on the line (its trace lists every order as it goes).
    const int before = tracedOrders();
    console().txtModify->show();
    console().findChild<QAction*>("mnuConnect")->trigger();
    EXPECT_EQ(tracedOrders(), before);
    console().txtModify->hide();
}

TEST_F(Loaded, SettlingFromThePopupGivesTheConsoleBack) {
    dbSwitch.execute("insert into user (userid, username, balancemode, lastdate) values (7, '甲', 0, '2026-11-01 00:00:00')");
    ASSERT_TRUE(console().ShowView("User"));
    select(2, 1, 2, 1);
    console::SetPopupRunner([](QMenu* m) { return m->findChild<QAction*>("mnuBalanceUser"); });
    bool statement = false;
    platform::script::onModal("frmPayed", [&](QDialog* d) {
        statement = true;
        d->reject();
    });
    clearLine();
    rightClick(false);
    ASSERT_TRUE(allArrived());
    EXPECT_TRUE(statement);
    EXPECT_TRUE(console().isVisible());
    const QStringList got = received();
    EXPECT_TRUE(got.contains("84040000"));
    EXPECT_GT(got.lastIndexOf("960301"), got.lastIndexOf("960300"));
    EXPECT_FALSE(console().findChild<QAction*>("mnuBalanceUser")->isVisible());
}

// 初始化 from the user view's popup while the disk refuses once: the user's
// deposit and balance end at nothing exactly when no error is said, and what
// they gave up is one entry each in the journal.
TEST_F(Loaded, InitialisingEndsTheMoneyExactlyWhenItSaysSoWhateverIsRefused) {
    namespace refusal = testsupport::refusal;
    using platform::Currency;
    using Kind = ModSwitch::LogKind;
    console::SetPopupRunner([](QMenu* m) { return m->findChild<QAction*>("mnuInitUser"); });
    refusal::walk(
        [&](int) {
            console().sbrInfo->setPanelText(2, QString());
            const refusal::MaybeBoxes asked({{"用户还有押金余额,要强制初始化用户吗", platform::rYes}});
            rightClick(false);
            return status().isEmpty();
        },
        [&](int i, bool said) {
            const qint64 u = 100 + i;
            ModSwitch::ApplyLoggedCharges();
            const bool done = dbSwitch.scalar("select remain from user where userid=?", {u}).toLongLong() == 0;
            EXPECT_EQ(said, done) << status().toStdString();
            EXPECT_EQ(refusal::journalSum(u, int(Kind::Balance)), done ? money("-5") : Currency());
            EXPECT_EQ(refusal::journalSum(u, int(Kind::Deposit)), done ? Currency() : money("3"));
            refusal::checkMoney(u, done ? Currency() : money("5"), done ? Currency() : money("3"), Currency());
        },
        refusal::stationFiles(),
        [&](int i) {
            const qint64 u = 100 + i;
            ModSwitch::MoveBalances([&] {
                dbSwitch.execute("insert into user (userid, username, deposit, remain, locked, lastdate) "
                                 "values (?, ?, ?, ?, 1, '2026-01-01 00:00:00')",
                                 {u, QStringLiteral("用户%1").arg(i), money("3"), money("5")});
            }, u);
            ASSERT_TRUE(console().ShowView("User"));
            const int r = grid().FindRow(0, QString::number(u), 1);
            ASSERT_GE(r, 1);
            select(r, 1, r, 1);
        });
}

}  // namespace
