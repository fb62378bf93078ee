// Editing the console grid through its controls: a double click flips an
// ON/OFF cell or opens an editor over the cell, Enter in the editor commits,
// a command given meanwhile only runs the editor's check, and the editor
// stays over its cell while the grid scrolls.
#include "ConsoleFixture.h"

#include "console/ConsoleCommands.h"

#include "billing/frmBalanceBill.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"
#include "core/books/ChargeLog.h"
#include "core/Deposit.h"
#include "core/MDIMain.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/books/WriteAhead.h"
#include "core/frmDialog.h"
#include "core/frmWorker.h"
#include "console/TableBackup.h"

#include "params/NavTree.h"
#include "params/OptionLists.h"
#include "params/ShowTable.h"
#include "pricing/RateCache.h"
#include "sim/RowFrames.h"
#include "support/RefusalWalk.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <atomic>

using namespace consoletest;

namespace {

class GridEditing : public LoadedConsole {
protected:
    void TearDown() override {
        frmWorker::unload();
        unloadSettlement();
        LoadedConsole::TearDown();
    }
    void doubleClick(int r, int c) {
        doubleClickCell(r, c);
        drain();
    }
    // The editor a double click opens on (r, c): `text` typed in it, or its item chosen, and Enter.
    void type(int r, int c, const QString& text) {
        doubleClick(r, c);
        ASSERT_TRUE(console().txtModify->isVisible());
        console().txtModify->setText(text);
        enter(console().txtModify);
    }
    void pick(int r, int c, const QString& text) {
        doubleClick(r, c);
        ASSERT_TRUE(console().cboModify->isVisible());
        console().cboModify->setEditText(text);
        enter(console().cboModify);
    }
    // 保存 by the command, its question answered.
    void save() {
        platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
        console().tbrSwitch_ButtonClick("Save");
    }
    // The close box of `window` with a cell typed in (2, 1) and not confirmed.
    void closeChecksTheTypedCellFirst(QWidget& window) {
        doubleClick(2, 1);
        ASSERT_TRUE(console().txtModify->isVisible());
        console().txtModify->setText("34");   // typed, not confirmed
        platform::script::answer("要退出系统吗?", platform::rNo);
        QCloseEvent close;
        QApplication::sendEvent(&window, &close);
        EXPECT_FALSE(close.isAccepted());
        EXPECT_EQ(platform::script::pendingAnswers(), 1);   // not asked yet: the cell came first
        platform::script::reset();
        EXPECT_FALSE(console().txtModify->isVisible());
        EXPECT_EQ(grid().TextMatrix(2, 1), "0034");
        EXPECT_TRUE(window.isVisible());
    }
    // A settlement's windows: the payment taken as offered, the statement paid.
    static void payOnSettlement() {
        platform::script::onModal("frmPayMoneny", [](QDialog* d) { static_cast<frmPayMoneny*>(d)->Command1_Click(0); });
        platform::script::onModal("frmPayed", [](QDialog* d) {
            static_cast<frmPayed*>(d)->cmdPay_Click();
            d->accept();
        });
    }
    static void unloadSettlement() {
        frmPayed::unload();
        frmPayfor::unload();
        frmBalanceBill::unload();
    }
    // User `u`, named 用户u, in balance mode `mode` with `raw` as deposit and balance, entered as the books enter money.
    static void addUser(int u, int mode, qint64 raw = 500000) {
        ModSwitch::MoveBalances([&] {
            dbSwitch.execute("insert into user (userid, username, balancemode, deposit, remain) values (?, ?, ?, ?, ?)",
                             {u, QStringLiteral("用户%1").arg(u), mode, raw, raw});
        }, u);
    }
    // Rows first..last chosen, at column `col` when given.
    void selectRows(int first, int last, int col = -1) {
        grid().setRow(first);
        if (col >= 0) grid().setCol(col);
        grid().setRowSel(last);
    }
    void enter(QWidget* w) {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
        drain();
    }
    // 保存 clicked, its question answered; true when it says it saved everything.
    bool saveClick() {
        platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
        QTest::mouseClick(toolButton("Save"), Qt::LeftButton);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        return status() == "保存完成";
    }
    bool edited(int r) { return grid().CellBackColorAt(r, 1) == platform::vbColor(ModGeneral::kEditedRowColor); }
    // The next popup chooses its visible command `text`.
    static void choose(const QString& text) {
        console::SetPopupRunner([text](QMenu* m) {
            for (QAction* a : m->actions())
                if (a->isVisible() && a->text() == text) return a;
            return static_cast<QAction*>(nullptr);
        });
    }
    // A left click on row `r`'s name, then a right click on its header cell, which opens the row's popup.
    void popupOnRow(int r) {
        mouse(QEvent::MouseButtonPress, at(r, 1));
        mouse(QEvent::MouseButtonRelease, at(r, 1));
        drain();
        rightClickHeader(r);
    }
    // A click on the tree's node `key`.
    void clickNode(const QString& key) {
        QTreeWidget* tv = console().tvSwitch;
        QTreeWidgetItem* node = ModSwitch::FindNode(key);
        ASSERT_NE(node, nullptr);
        tv->scrollToItem(node);
        QTest::mouseClick(tv->viewport(), Qt::LeftButton, Qt::NoModifier, tv->visualItemRect(node).center());
        drain();
    }
    void rightClickHeader(int r) {
        mouse(QEvent::MouseButtonPress, at(r, 0), Qt::RightButton);
        console::SetPopupRunner(nullptr);
    }
};

TEST_F(GridEditing, ADoubleClickFlipsAnOnOffCellAndOpensTheTextEditorOverOthers) {
    ASSERT_TRUE(console().ShowView("Account"));
    doubleClick(3, 5);
    EXPECT_EQ(grid().TextMatrix(3, 5), "ON");
    EXPECT_TRUE(edited(3));
    EXPECT_FALSE(console().txtModify->isVisible());
    EXPECT_FALSE(console().cboModify->isVisible());
    EXPECT_TRUE(g_Modified);

    // A title without options gets the text box, laid over the cell.
    doubleClick(2, 1);
    ASSERT_TRUE(console().txtModify->isVisible());
    const QRect cell = grid().visualRect(grid().model()->index(2, 1));
    const QPoint at = grid().viewport()->mapTo(&console(), cell.topLeft());
    EXPECT_EQ(console().txtModify->geometry().left(), at.x());
    EXPECT_EQ(console().txtModify->geometry().top(), at.y() - 2);
    EXPECT_EQ(console().txtModify->width(), grid().columnWidth(1));

    // A command given with the editor open only runs its check.
    console().txtModify->setText("12a");
    EXPECT_TRUE(console().InputVisible());
    EXPECT_EQ(status(), "请输入0000-9999之间的数值");
    EXPECT_TRUE(console().txtModify->isVisible());
    EXPECT_EQ(console().txtModify->text(), "FFFF");
    console().txtModify->setText("12");
    enter(console().txtModify);
    EXPECT_FALSE(console().txtModify->isVisible());
    EXPECT_EQ(grid().TextMatrix(2, 1), "0012");
    // The account reached the switch at once, its password cleared, and waits for nothing.
    const auto row = sw.row(sim::tables::Account, 2049);
    ASSERT_TRUE(row);
    const auto sent = sim::decodeAccount(*row);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->code, "0012");
    EXPECT_FALSE(sent->keepPassword);
    EXPECT_EQ(dbSwitch.scalar("select account||bset||clearpassword from Account where address=2049").toString(), "001200");
    EXPECT_EQ(grid().TextMatrix(2, 6), "OFF");
    EXPECT_FALSE(edited(2));
    EXPECT_FALSE(console().InputVisible());
}

// A cell half typed: another application taking the keyboard commits
// nothing, and the grid scrolled leaves the editor over its cell.
TEST_F(GridEditing, TheEditorStaysOverItsCellWhileTheStationIsLeftOrTheGridScrolls) {
    ASSERT_TRUE(console().ShowView("Extension"));
    const int group = ModSwitch::GetColIndex("组号", grid());
    ASSERT_GT(group, 0);
    const QString before = grid().TextMatrix(2, group);
    console().activateWindow();
    doubleClick(2, group);
    ASSERT_TRUE(console().txtModify->isVisible());
    console().txtModify->setFocus();
    drain();
    console().txtModify->setText("1");   // half typed
    // Another application takes the keyboard: the station's window is no longer active.
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(console().txtModify, &out);
    drain();
    EXPECT_TRUE(console().txtModify->isVisible());
    EXPECT_EQ(console().txtModify->text(), "1");
    EXPECT_EQ(grid().TextMatrix(2, group), before);
    EXPECT_FALSE(edited(2));

    // Back again, the operator types on while the grid scrolls away.
    console().txtModify->setText("12");
    grid().verticalScrollBar()->setValue(grid().verticalScrollBar()->maximum());
    drain();
    const QRect cell = grid().visualRect(grid().model()->index(2, group));
    EXPECT_TRUE(grid().viewport()->rect().contains(cell));
    EXPECT_EQ(console().txtModify->geometry().top(), grid().viewport()->mapTo(&console(), cell.topLeft()).y() - 2);
    EXPECT_EQ(console().txtModify->text(), "12");   // what is typed stays
    enter(console().txtModify);
    EXPECT_EQ(grid().TextMatrix(2, group), "12");
    EXPECT_EQ(grid().CellBackColorAt(2, 3), platform::vbColor(ModGeneral::kEditedRowColor));
    EXPECT_NE(grid().CellBackColorAt(2, 2), platform::vbColor(ModGeneral::kEditedRowColor));
}

TEST_F(GridEditing, EditsReachTheSwitchThroughTheSaveTheDownloadAndTheRowsPopup) {
    ASSERT_TRUE(console().ShowView("Extension"));
    const int group = ModSwitch::GetColIndex("组号", grid());
    const int disp = ModSwitch::GetColIndex("来电显示", grid());
    type(3, group, "9");
    doubleClick(3, disp);
    ASSERT_EQ(grid().TextMatrix(3, disp), "ON");
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    platform::script::onModal("frmDialog", [](QDialog* d) { static_cast<frmDialog*>(d)->cmdSet[1]->click(); });
    console().tbrSwitch_ButtonClick("DownLoad");
    settled();
    const auto ext = sw.row(sim::tables::Extension, 2);
    ASSERT_TRUE(ext) << status().toStdString();
    const auto e = sim::decodeExtPara(*ext);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->groupNo, 9);
    EXPECT_EQ(e->dispCall, 1);
    EXPECT_EQ(dbSwitch.scalar("select groupno||DispCall||bset from Extension where Address=2").toString(), "910");
    EXPECT_NE(grid().CellBackColorAt(3, group), platform::vbColor(ModGeneral::kPendingRowColor));
    EXPECT_NE(grid().CellBackColorAt(3, group), platform::vbColor(ModGeneral::kEditedRowColor));

    ASSERT_TRUE(console().ShowView("Account"));
    pick(4, 2, "市话");
    EXPECT_EQ(grid().TextMatrix(4, 2), "市话");
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    console().tbrSwitch_ButtonClick("DownLoad");
    const auto acc = sw.row(sim::tables::Account, 2051);
    ASSERT_TRUE(acc);
    EXPECT_EQ(sim::decodeAccount(*acc)->grade1, 8);
    EXPECT_EQ(dbSwitch.scalar("select firstgrade||bset from Account where address=2051").toString(), "80");
    EXPECT_NE(grid().CellBackColorAt(4, 1), platform::vbColor(ModGeneral::kPendingRowColor));

    // The popup's 下载 of one row saves its edit first.
    dbSwitch.execute("insert into ExtraHead(Address,ExtraHead) values (0,'111'),(1,'222'),(2,'333')");
    ASSERT_TRUE(console().ShowView("ExtraHead"));
    ASSERT_GE(grid().Rows(), 3);
    type(2, 1, "555");
    ASSERT_TRUE(edited(2));
    // A right click on the row's header cell offers the table menu; 下载 is chosen.
    choose(QStringLiteral("下载"));
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    rightClickHeader(2);
    settled();
    EXPECT_EQ(status(), "下载成功");
    const auto row = sw.row(sim::tables::ExtraHead, 1);
    ASSERT_TRUE(row);
    EXPECT_EQ(sim::decodeExtraHead(*row)->head, "555");
    EXPECT_EQ(dbSwitch.scalar("select ExtraHead||bSet from ExtraHead where Address=1").toString(), "5550");
    EXPECT_FALSE(edited(2));
    EXPECT_FALSE(g_Modified);
}

TEST_F(GridEditing, AUserTheSwitchWillNotReleaseStays) {
    dbSwitch.execute("insert into user (userid, username) values(7, '张三')");
    dbSwitch.execute("update Account set account='0123', userid=7 where address=2050");
    ASSERT_TRUE(console().ShowView("User"));
    const int row = grid().FindRow(0, u"7", 1);
    ASSERT_GT(row, 0);
    selectRows(row, row);
    sw.addRule("8C08", sim::Reply::Status03, -1);
    platform::script::answer("要删除第", platform::rYes);
    console().tbrSwitch_ButtonClick("Delete");
    EXPECT_EQ(grid().TextMatrix(row, 0), "7");
    EXPECT_EQ(dbSwitch.scalar("select userid from Account where address=2050").toInt(), 7);
    EXPECT_FALSE(dbSwitch.scalar("select username from user where userid=7").isNull());

    sw.clearRules();
    selectRows(row, row);
    platform::script::answer("要删除第", platform::rYes);
    console().tbrSwitch_ButtonClick("Delete");
    EXPECT_TRUE(dbSwitch.scalar("select username from user where userid=7").isNull());
    EXPECT_EQ(dbSwitch.scalar("select account||userid from Account where address=2050").toString(), "FFFF0");
    EXPECT_EQ(sim::decodeAccount(*sw.row(sim::tables::Account, 2050))->code, "FFFF");
}

TEST_F(GridEditing, AnOwnerIsToldByItsIdWhateverItsNameHoldsAndARefusedOneStaysAsStored) {
    dbSwitch.execute("insert into user (userid, username, balancemode) values (2, '乙', 1), (5, '财务-2', 1), "
                     "(6, '王', 1), (7, '王', 1)");
    dbSwitch.execute("update Account set userid=5 where address=2050");
    dbSwitch.execute("update Account set userid=7 where address=2051");
    dbSwitch.execute("update Extension set userid=7 where Address=3");
    ASSERT_TRUE(console().ShowView("Account"));
    EXPECT_EQ(grid().TextMatrix(3, 7), "财务-2");
    EXPECT_EQ(grid().TextMatrix(4, 7), "王");

    // The owner's editor confirmed as it opened changes nothing.
    doubleClick(3, 7);
    ASSERT_TRUE(console().cboModify->isVisible());
    enter(console().cboModify);
    EXPECT_FALSE(console().cboModify->isVisible());
    EXPECT_NE(status(), "用户不存在");
    EXPECT_EQ(dbSwitch.scalar("select userid from Account where address=2050").toInt(), 5);
    EXPECT_EQ(grid().TextMatrix(3, 7), "财务-2");

    // 闭锁 switched on both rows and saved: each keeps its own owner.
    doubleClick(3, 5);
    doubleClick(4, 5);
    save();
    EXPECT_EQ(status(), "保存完成");
    EXPECT_EQ(dbSwitch.scalar("select userid||locked from Account where address=2050").toString(), "51");
    EXPECT_EQ(dbSwitch.scalar("select userid||locked from Account where address=2051").toString(), "71");

    // The other user of the same name is chosen by its item.
    pick(4, 7, "王-6");
    EXPECT_EQ(dbSwitch.scalar("select userid from Account where address=2051").toInt(), 6);

    // Another program holds the station file for its own writing: an owner
    // chosen or an account typed that the database refuses is not shown as
    // stored, the operator hears why, and the grid paints on.
    const auto stored = [] { return dbSwitch.scalar("select userid||account from Account where address=2050").toString(); };
    const QString before = stored();
    {
        platform::Database other = platform::Database::open(dbSwitch.path());
        other.execute("BEGIN IMMEDIATE");
        doubleClick(3, 7);
        ASSERT_TRUE(console().cboModify->isVisible());
        console().cboModify->setEditText("乙-2");   // as an input method puts it
        platform::script::answer("所属用户未能保存：数据库正被其他程序使用", platform::rOK);
        QTest::keyClick(console().cboModify, Qt::Key_Return);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        EXPECT_FALSE(console().cboModify->isVisible());
        EXPECT_EQ(grid().TextMatrix(3, 7), "财务-2");
        EXPECT_TRUE(grid().Redraw());

        doubleClick(3, 1);
        ASSERT_TRUE(console().txtModify->isVisible());
        QTest::keyClicks(console().txtModify, "12");
        platform::script::answer("帐号未能保存：数据库正被其他程序使用", platform::rOK);
        QTest::keyClick(console().txtModify, Qt::Key_Return);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        EXPECT_EQ(grid().TextMatrix(3, 1), "FFFF");
        EXPECT_EQ(grid().TextMatrix(3, 6), "OFF");
        EXPECT_TRUE(grid().Redraw());
        EXPECT_FALSE(g_Modified);
        other.execute("ROLLBACK");
    }
    EXPECT_EQ(stored(), before);
    EXPECT_TRUE(platform::script::unexpected().isEmpty());
    // The lock gone, the same choice is stored and shown.
    doubleClick(3, 7);
    ASSERT_TRUE(console().cboModify->isVisible());
    console().cboModify->setEditText("乙-2");
    QTest::keyClick(console().cboModify, Qt::Key_Return);
    EXPECT_EQ(grid().TextMatrix(3, 7), "乙");
    EXPECT_EQ(dbSwitch.scalar("select userid from Account where address=2050").toInt(), 2);

    ASSERT_TRUE(console().ShowView("Extension"));
    const int owner = ModSwitch::GetColIndex("所属用户", grid());
    const int disp = ModSwitch::GetColIndex("来电显示", grid());
    ASSERT_GT(owner, 0);
    EXPECT_EQ(grid().TextMatrix(4, owner), "王");
    doubleClick(4, disp);
    save();
    EXPECT_EQ(dbSwitch.scalar("select userid||bset from Extension where Address=3").toString(), "71");
}

// A locked owner changes the frames its rows are sent with, not their grade:
// an owner chosen in the grid, an unlock (初始化) or a lock (闭锁) the switch
// did not take leaves the rows waiting for their download.
TEST_F(GridEditing, AnOwnerChosenAnUnlockOrALockLeavesTheRowsPendingTillTheSwitchTakesThem) {
    dbSwitch.execute("insert into user (userid, username, balancemode, locked) values (7, '甲', 1, 1)");
    const auto clearMarks = [] {
        dbSwitch.execute("update Extension set bSet=0, bSetSpringNum=0");
        dbSwitch.execute("update Account set bset=0");
    };
    clearMarks();
    ASSERT_EQ(ModGeneral::GetDepositGrade(7), ModGeneral::GetDepositGrade(0));
    ASSERT_TRUE(console().ShowView("Extension"));
    const int owner = ModSwitch::GetColIndex("所属用户", grid());
    ASSERT_GT(owner, 3);
    pick(4, owner, "甲-7");
    EXPECT_EQ(dbSwitch.scalar("select userid||bSet from Extension where Address=3").toString(), "71");
    EXPECT_EQ(grid().CellBackColorAt(4, owner), platform::vbColor(ModGeneral::kPendingRowColor));
    EXPECT_NE(grid().CellBackColorAt(4, 2), platform::vbColor(ModGeneral::kPendingRowColor));
    EXPECT_FALSE(g_Modified);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where bSet<>0").toInt(), 1);

    ASSERT_TRUE(console().ShowView("Account"));
    const qint64 account = grid().TextMatrix(3, 0).toLongLong();
    pick(3, 7, "甲-7");
    EXPECT_EQ(dbSwitch.scalar("select userid||bset from Account where address=?", {account}).toString(), "71");
    EXPECT_EQ(grid().CellBackColorAt(3, 1), platform::vbColor(ModGeneral::kPendingRowColor));

    const auto pending = [&] {
        return dbSwitch.scalar("select group_concat(bSet) from (select bSet from Extension where Address=3 "
                               "union all select bset from Account where address=?)", {account}).toString();
    };
    clearMarks();
    ASSERT_TRUE(console().ShowView("User"));
    ASSERT_EQ(grid().TextMatrix(2, 0), "7");
    sw.setDefaultReply(sim::Reply::Status03);   // the switch takes no row

    // 初始化 unlocks the user: the rows' frames change.
    choose(QStringLiteral("初始化"));
    popupOnRow(2);
    settled();
    ASSERT_EQ(dbSwitch.scalar("select locked from user where userid=7").toInt(), 0);
    EXPECT_EQ(pending(), "1,1");

    // 闭锁 switched on and saved: the rows wait again for the switch.
    clearMarks();
    doubleClick(2, 10);
    ASSERT_EQ(grid().TextMatrix(2, 10), "ON");
    save();
    ASSERT_EQ(dbSwitch.scalar("select locked from user where userid=7").toInt(), 1);
    EXPECT_EQ(pending(), "1,1");

    // A switch that takes the rows: 初始化 pushes them, and nothing stays pending.
    sw.setDefaultReply(sim::Reply::Normal);
    choose(QStringLiteral("初始化"));
    popupOnRow(2);
    settled();
    ASSERT_EQ(dbSwitch.scalar("select locked from user where userid=7").toInt(), 0);
    EXPECT_EQ(pending(), "0,0");
}

TEST_F(GridEditing, AUniqueValueTypedOverSeveralRowsIsRefused) {
    // Rows first..last of the first column, Enter on the grid, and `text` confirmed in the editor.
    const auto typeOver = [&](int first, int last, const QString& text) {
        selectRows(first, last, 1);
        grid().setFocus();
        enter(&grid());
        ASSERT_TRUE(console().txtModify->isVisible());
        ASSERT_EQ(GridSelLast, GridSelFirst + last - first);
        console().txtModify->setText(text);
        enter(console().txtModify);
    };
    ASSERT_TRUE(console().ShowView("Account"));
    typeOver(2, 4, "1234");
    EXPECT_EQ(status(), "帐号不能重复，只能输入到一行中");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Account where account='1234'").toInt(), 0);
    for (int r = 2; r <= 4; ++r) EXPECT_EQ(grid().TextMatrix(r, 1), "FFFF");
    // The editor stays over the first row alone, with its value back.
    EXPECT_EQ(GridSelLast, GridSelFirst);
    enter(console().txtModify);
    EXPECT_FALSE(console().txtModify->isVisible());
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Account where account='1234'").toInt(), 0);

    // Two rows are several rows too.
    typeOver(5, 6, "4321");
    EXPECT_EQ(status(), "帐号不能重复，只能输入到一行中");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Account where account='4321'").toInt(), 0);
    EXPECT_EQ(grid().TextMatrix(6, 1), "FFFF");
    enter(console().txtModify);

    dbSwitch.execute("insert into user (userid, username) values (7, '甲'), (8, '乙')");
    ASSERT_TRUE(console().ShowView("User"));
    typeOver(2, 3, "王五");
    EXPECT_EQ(status(), "用户名称不能重复，只能输入到一行中");
    EXPECT_EQ(grid().TextMatrix(2, 1), "甲");
    EXPECT_EQ(grid().TextMatrix(3, 1), "乙");
}

// The flexible head is refused by 删除 before its question; a stored head
// keeps its key, and another change of its row saves deleting nothing.
TEST_F(GridEditing, TheFlexibleHeadIsRefusedAndAStoredHeadKeepsItsKeyAndTheSaveDeletesNothing) {
    // A stored head of extensions and one of calls out.
    dbSwitch.execute("insert into LanHead values('8', 21, 3, 0, 0, 0, 0), ('9', 12, 8, 0, 0, 0, 0)");
    dbSwitch.execute("update Extension set Head=21, SpringNum='0'||substr('00'||Address,-2) where Address<5");
    ASSERT_TRUE(console().ShowView("LanHead"));
    const int flexible = grid().FindRow(0, u"E", 1);
    ASSERT_GT(flexible, 0);
    mouse(QEvent::MouseButtonPress, at(flexible, 0));
    mouse(QEvent::MouseButtonRelease, at(flexible, 0));
    platform::script::answer("不能删除字头<E>", platform::rOK);
    console().tbrSwitch_ButtonClick("Delete");
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_EQ(platform::script::shown().first().text, "不能删除字头<E>");
    EXPECT_EQ(status(), "不能删除字头<E>");
    EXPECT_EQ(grid().TextMatrix(flexible, 0), "E");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from LanHead where HeadID='E'").toInt(), 1);

    const int row = grid().FindRow(0, u"8", 1);
    ASSERT_GT(row, 0);
    type(row, 0, "");
    EXPECT_EQ(status(), "此项数据不能为空");
    EXPECT_EQ(grid().TextMatrix(row, 0), "8");
    EXPECT_EQ(console().txtModify->text(), "8");
    enter(console().txtModify);
    // Another change of the row saves, and the head and its extensions stay.
    type(row, 3, "5");
    save();
    EXPECT_EQ(status(), "保存完成");
    EXPECT_EQ(dbSwitch.scalar("select HeadType||HeadLen||Headdelay from LanHead where HeadID='8'").toString(), "2135");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where Head=21").toInt(), 5);
    EXPECT_EQ(dbSwitch.scalar("select SpringNum from Extension where Address=4").toString(), "004");
}

TEST_F(GridEditing, TheAddedRowsKeyIsTypedOverAfterTheSaveQuestionsBox) {
    ASSERT_TRUE(console().ShowView("LanHead"));
    console().activateWindow();
    ASSERT_TRUE(spin(2000, [&] { return console().isActiveWindow(); }));
    type(1, 3, "7");
    ASSERT_TRUE(g_Modified);
    // The question's box has the activation while it stands; the console gets it back after.
    QWidget box;
    platform::script::whileShown([&](const QString&) {
        box.show();
        box.activateWindow();
        spin(1000, [&] { return box.isActiveWindow(); });
    });
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    QAction* add = toolAction("Add");
    ASSERT_NE(add, nullptr);
    add->trigger();
    platform::script::whileShown(nullptr);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    ASSERT_TRUE(console().txtModify->isVisible());
    box.hide();
    console().activateWindow();
    ASSERT_TRUE(spin(2000, [&] { return console().isActiveWindow(); }));
    QKeyEvent five(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, "5");
    QApplication::sendEvent(console().txtModify, &five);
    EXPECT_EQ(console().txtModify->text(), "5");
}

TEST_F(GridEditing, TheCloseBoxChecksATypedCellFirstAsExitDoes) {
    ASSERT_TRUE(console().ShowView("Account"));
    closeChecksTheTypedCellFirst(console());
}

// The console as the station shows it: inside the frame, loaded by the frame.
class FrameEditing : public GridEditing {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        connectSwitch();
        testsupport::scriptLogin();
        MDIMain::instance().Show();
        WorkerRights = {QStringLiteral("0")};
        ASSERT_TRUE(allArrived());
    }
};

TEST_F(FrameEditing, TheFramesCloseBoxChecksATypedCellFirst) {
    ASSERT_EQ(MDIMain::instance().centralWidget(), &console());
    ASSERT_TRUE(console().ShowView("Account"));
    closeChecksTheTypedCellFirst(MDIMain::instance());
}

// A typed deposit the save cannot store (another program holds the station
// file): 退出 and another view in the tree each keep the station, the view
// and the amount; 系统管理 → 重新登录 is told the login failed, its window
// stays in its loop until 退 出, and the worker logged in stays. With the lock
// gone 重新登录 opens and logs in, and the save stores the amount once. A
// deposit typed afterwards goes with the edits a restore or an initialise drops.
TEST_F(GridEditing, ATypedDepositKeptUnderALockAndDroppedByARestoreOrAnInitialise) {
    WorkerID = QStringLiteral("0000");
    WorkerName = QStringLiteral("管理员");
    dbSwitch.execute("insert into user (userid, username, balancemode, deposit, remain) values (7, '甲', 1, 500000, 500000)");
    ASSERT_TRUE(console().ShowView("User"));
    ASSERT_EQ(grid().TextMatrix(2, 0), "7");
    doubleClick(2, 4);
    ASSERT_TRUE(console().txtModify->isVisible());
    QTest::keyClicks(console().txtModify, "100");
    QTest::keyClick(console().txtModify, Qt::Key_Return);
    ASSERT_EQ(grid().TextMatrix(2, 4), "150.00");
    QWidget* exit = toolButton("Exit");
    ASSERT_NE(exit, nullptr);
    QAction* reLogin = console().findChild<QAction*>("mnuReLogin");
    ASSERT_NE(reLogin, nullptr);
    bool ended = false;
    int shown = 0;
    bool stayed = false;
    {
        platform::Database other = platform::Database::open(dbSwitch.path());
        other.execute("BEGIN IMMEDIATE");
        platform::script::answer("要退出系统吗?", platform::rYes);
        platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
        try {
            QTest::mouseClick(exit, Qt::LeftButton);
        } catch (const platform::ProgramEnded&) {
            ended = true;
        }
        EXPECT_FALSE(ended);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        EXPECT_TRUE(status().startsWith("保存错误")) << status().toStdString();

        platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
        clickNode("Account");
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        EXPECT_EQ(CurTable, "User");
        EXPECT_EQ(console().tvSwitch->currentItem(), ModSwitch::FindNode("User"));
        EXPECT_EQ(grid().TextMatrix(2, 4), "150.00");
        EXPECT_TRUE(g_Modified);

        platform::script::answer("登录失败：数据库正被其他程序使用", platform::rOK);
        platform::script::onModal("frmWorker", [&](QDialog* d) {
            ++shown;
            auto* w = static_cast<frmWorker*>(d);
            QTest::keyClicks(w->txtUser, "0000");
            QTest::keyClick(w->txtUser, Qt::Key_Return);
            QTest::keyClicks(w->txtPWD, "0000");
            QTest::keyClick(w->txtPWD, Qt::Key_Return);
            stayed = w->isVisible() && QApplication::activeModalWidget() == w;
            QTest::mouseClick(w->cmdExitProgram, Qt::LeftButton);
        });
        reLogin->trigger();
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        other.execute("ROLLBACK");
    }
    ASSERT_TRUE(dbSwitch.isOpen());
    EXPECT_TRUE(console().isVisible());
    EXPECT_EQ(dbSwitch.scalar("select deposit||'/'||remain from user where userid=7").toString(), "500000/500000");
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(stayed);
    EXPECT_FALSE(frmWorker::exists());
    EXPECT_EQ(WorkerID, "0000");
    EXPECT_EQ(WorkerRights, QStringList{"0"});
    EXPECT_EQ(CurTable, "User");
    EXPECT_EQ(grid().TextMatrix(2, 4), "150.00");
    EXPECT_TRUE(g_Modified);
    EXPECT_TRUE(dbSwitch.scalar("select WorkerID from Worker where b_active<>0").isNull());

    // The lock gone: 重新登录 opens again and logs in.
    bool loggedIn = false;
    platform::script::onModal("frmWorker", [&](QDialog* d) {
        ++shown;
        auto* w = static_cast<frmWorker*>(d);
        QTest::keyClicks(w->txtUser, "0000");
        QTest::keyClicks(w->txtPWD, "0000");
        QTest::mouseClick(w->cmdLogin, Qt::LeftButton);
        loggedIn = !w->isVisible();
        if (w->isVisible()) QTest::mouseClick(w->cmdExitProgram, Qt::LeftButton);
    });
    reLogin->trigger();
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(loggedIn);
    EXPECT_EQ(dbSwitch.scalar("select WorkerID from Worker where b_active<>0").toString(), "0000");
    EXPECT_EQ(grid().TextMatrix(2, 4), "150.00");

    // The amount typed is stored once, and the view changes.
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    clickNode("Account");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(CurTable, "Account");
    EXPECT_FALSE(g_Modified);
    const auto stored = [] { return dbSwitch.scalar("select deposit||'/'||remain from user where userid=7").toString(); };
    EXPECT_EQ(stored(), "1500000/1500000");

    // A refused amount starts again at nothing added: the second Enter adds nothing.
    ASSERT_TRUE(console().ShowView("User"));
    platform::script::answer("要备份数据库吗?", platform::rYes);
    console().tbrSwitch_ButtonClick("Backup");
    ASSERT_EQ(status(), "备份成功");
    type(2, 4, "abc");
    EXPECT_EQ(status(), "请输入最大为1亿的数值");
    EXPECT_EQ(console().txtModify->text(), "0.00");
    enter(console().txtModify);
    EXPECT_EQ(grid().TextMatrix(2, 4), "150.00");
    EXPECT_EQ(grid().TextMatrix(2, 5), "150.00");
    EXPECT_FALSE(g_Modified);

    const auto saveRent = [&](const QString& rent) {
        type(2, 7, rent);
        save();
        EXPECT_EQ(status(), "保存完成");
    };
    type(2, 4, "100");
    EXPECT_EQ(grid().TextMatrix(2, 4), "250.00");
    platform::script::answer("要从备份库恢复数据吗?", platform::rYes);
    console().tbrSwitch_ButtonClick("Restore");
    EXPECT_EQ(status(), "恢复成功");
    EXPECT_EQ(grid().TextMatrix(2, 4), "150.00");
    saveRent("5");
    EXPECT_EQ(grid().TextMatrix(2, 4), "150.00");
    EXPECT_EQ(stored(), "1500000/1500000");

    // Typed again, then the user popup's 初始化 on the row's header, which drops it too.
    type(2, 4, "100");
    EXPECT_EQ(grid().TextMatrix(2, 5), "250.00");
    choose(QStringLiteral("初始化"));
    platform::script::answer("甲用户还有押金余额,要强制初始化用户吗", platform::rYes);
    popupOnRow(2);
    settled();
    EXPECT_EQ(grid().TextMatrix(2, 4), "0.00");
    ASSERT_EQ(stored(), "0/0");
    saveRent("6");
    EXPECT_EQ(grid().TextMatrix(2, 4), "0.00");
    EXPECT_EQ(stored(), "0/0");
}

// A call charged to one user while the operator has another selected: the
// balance is written where it stands, and the operator's row, selection and
// scrolled position stay.
TEST_F(GridEditing, ACallChargedToAnotherUserLeavesTheOperatorsRowWhereItWas) {
    {
        platform::Transaction tx(dbSwitch);
        for (int u = 1; u <= 60; ++u)
            dbSwitch.execute("insert into user (userid, username, balancemode, remain) values (?, ?, 0, ?)",
                             {u, QStringLiteral("用户%1").arg(u), platform::Currency::fromYuan(100)});
        tx.commit();
    }
    dbSwitch.execute("update extension set userid=58 where address=5");
    dbSwitch.execute("insert into feerate (zonecode, summary, firsttime, firstprice, pertime, perprice, discountid, "
                     "feeratetype, feerateid) values ('8', '本地', 180, ?, 60, ?, 1, 7, 0)",
                     {platform::Currency::fromFen(20), platform::Currency::fromFen(10)});
    ModSwitch::OpenSharedRecordsets();
    pricing::RateCache::invalidate();
    ASSERT_TRUE(console().ShowView("User"));
    const int y = grid().FindRow(0, u"58", 1);
    ASSERT_GT(y, 50);
    QTest::mouseClick(grid().viewport(), Qt::LeftButton, Qt::NoModifier, at(3, 1));
    ASSERT_TRUE(spin(10000, [&] { return status().contains(QStringLiteral("行 3 ")); })) << status().toStdString();
    const QString said = status();
    const int scrolled = grid().verticalScrollBar()->value();
    ASSERT_EQ(grid().TextMatrix(y, 5), "100.00");

    sim::CallRecord r;
    r.extAddr = 5;
    r.called = QStringLiteral("88001234");
    r.channel = 3;
    r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0));
    r.durationSec = 250;
    r.type = 1;
    sw.sendCallRecord(r);
    ASSERT_TRUE(spin(20000, [&] { return grid().TextMatrix(y, 5) != "100.00"; }));
    EXPECT_EQ(grid().TextMatrix(y, 5), "99.60");
    EXPECT_EQ(grid().Row(), 3);
    EXPECT_EQ(grid().RowSel(), 3);
    EXPECT_EQ(grid().verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(status(), said);
    const QModelIndexList selected = grid().selectionModel()->selectedIndexes();
    ASSERT_FALSE(selected.isEmpty());
    for (const QModelIndex& ix : selected) EXPECT_EQ(ix.row(), 3);
}

// A click on another node of the tree while a cell's editor is open: the
// typed value is checked as any command checks it, and then either stays in
// the grid as an unsaved edit (asked about with the table's save) or is
// refused with the reason; the tree goes on naming the view the grid shows.
TEST_F(GridEditing, ATreeClickOverAnOpenEditorKeepsTheValueAndTheTreeOnTheShownView) {
    QTreeWidget* tv = console().tvSwitch;
    const auto nodeAt = [&](const QString& key) {
        QTreeWidgetItem* node = ModSwitch::FindNode(key);
        tv->scrollToItem(node);
        return tv->visualItemRect(node).center();
    };
    ASSERT_TRUE(console().ShowView("Extension"));
    const int group = ModSwitch::GetColIndex("组号", grid());
    const int address = grid().TextMatrix(2, 0).toInt();
    doubleClick(2, group);
    ASSERT_TRUE(console().txtModify->isVisible());
    QTest::keyClicks(console().txtModify, "5");
    // A quick click on a busy station: press and release come before the
    // editor hears it lost the keyboard.
    QTest::mouseClick(tv->viewport(), Qt::LeftButton, Qt::NoModifier, nodeAt("Account"));
    ASSERT_TRUE(spin(10000, [&] { return !console().txtModify->isVisible(); }));
    EXPECT_EQ(CurTable, "Extension");
    EXPECT_EQ(tv->currentItem(), ModSwitch::FindNode("Extension"));
    EXPECT_EQ(grid().TextMatrix(2, group), "5");
    EXPECT_TRUE(g_Modified);
    // The next click on the node asks about the edit, and the save stores it.
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    clickNode("Account");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(CurTable, "Account");
    EXPECT_EQ(tv->currentItem(), ModSwitch::FindNode("Account"));
    EXPECT_EQ(dbSwitch.scalar("select groupno from Extension where Address=?", {address}).toInt(), 5);

    // A value the check refuses, the press and the release apart as a hand makes them.
    ASSERT_TRUE(console().ShowView("Account"));
    doubleClick(2, 1);
    ASSERT_TRUE(console().txtModify->isVisible());
    QTest::keyClicks(console().txtModify, "12a");
    const QPoint p = nodeAt("Extension");
    QTest::mousePress(tv->viewport(), Qt::LeftButton, Qt::NoModifier, p);
    ASSERT_TRUE(spin(10000, [&] { return status() == "请输入0000-9999之间的数值"; })) << status().toStdString();
    QTest::mouseRelease(tv->viewport(), Qt::LeftButton, Qt::NoModifier, p);
    ASSERT_TRUE(spin(10000, [&] { return !console().txtModify->isVisible(); }));
    EXPECT_EQ(CurTable, "Account");
    EXPECT_EQ(tv->currentItem(), ModSwitch::FindNode("Account"));
    EXPECT_EQ(grid().TextMatrix(2, 1), "FFFF");
    EXPECT_EQ(status(), "请输入0000-9999之间的数值");
    EXPECT_TRUE(platform::script::unexpected().isEmpty());
}

// A user deleted by a settlement while the console shows the users: the
// operator's row stays on its user when a user above goes, panel 2 telling
// the row it moved to, and when the operator's own user goes no other user
// takes its place for the next edit.
TEST_F(GridEditing, AUserDeletedElsewhereLeavesTheOperatorsRowOnItsUserOrOnNone) {
    platform::testing::setNow([] { return QDateTime(QDate(2004, 12, 6), QTime(10, 0)); });
    for (int u = 1; u <= 5; ++u) {
        dbSwitch.execute("insert into user (userid, username, balancemode, lastdate, deposit, remain) "
                         "values (?, ?, 0, '2004-11-01 00:00:00', 500000, 500000)",
                         {u, QStringLiteral("用户%1").arg(u)});
        dbSwitch.execute("update Extension set userid=? where Address=?", {u, u + 2});
        testsupport::storeCall(dbPhoneCur, {.calladdr = u + 2, .date = "2004-11-05 10:00:00", .secs = 60,
                                            .fee = platform::Currency::fromRaw(12300), .zh = "    ", .phmode = 7, .userid = u});
    }
    payOnSettlement();
    ASSERT_TRUE(console().ShowView("User"));
    const auto rowOf = [&](const char* id) { return grid().FindRow(0, QString::fromLatin1(id), 1); };
    const int fourth = rowOf("4");
    ASSERT_GT(fourth, rowOf("2"));
    // The operator's cell: user 4's deposit.
    QTest::mouseClick(grid().viewport(), Qt::LeftButton, Qt::NoModifier, at(fourth, 4));
    ASSERT_TRUE(spin(10000, [&] { return status().contains(QStringLiteral("行 %1 ").arg(fourth)); })) << status().toStdString();

    // User 2 is settled and deleted in the settlement window beside the
    // console, which keeps its row and its words meanwhile (the tree's node
    // would clear panel 2 as it opens the window).
    frmBalanceBill& bill = frmBalanceBill::instance();
    bill.show();
    ASSERT_TRUE(status().contains(QStringLiteral("行 %1 ").arg(fourth)));
    QTreeWidgetItem* two = bill.itemByKey("K2");
    ASSERT_NE(two, nullptr);
    two->setCheckState(0, Qt::Checked);
    bill.optCL[2]->setChecked(true);
    QTest::mouseClick(bill.cmdBalance[1], Qt::LeftButton);
    ASSERT_TRUE(spin(20000, [&] { return rowOf("2") < 0; }));
    QTest::mouseClick(bill.cmdClose, Qt::LeftButton);
    ASSERT_TRUE(spin(10000, [&] { return console().isEnabled() && console().isVisible(); }));
    unloadSettlement();
    ASSERT_TRUE(dbSwitch.scalar("select userid from user where userid=2").isNull());
    ASSERT_EQ(rowOf("4"), fourth - 1);
    EXPECT_EQ(grid().Row(), fourth - 1);
    EXPECT_EQ(status(), QStringLiteral("共%1条记录，选中1条记录  当前光标：行 %2 列　4").arg(grid().Rows() - 1).arg(fourth - 1));
    // The 删除 question names that row.
    platform::script::answer(QStringLiteral("要删除第%1条至第%1条记录吗?").arg(fourth - 1), platform::rNo);
    QTest::mouseClick(toolButton("Delete"), Qt::LeftButton);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);

    // Enter and an amount: the deposit goes to user 4, and to no other.
    grid().setFocus();
    QTest::keyClick(&grid(), Qt::Key_Return);
    ASSERT_TRUE(console().txtModify->isVisible());
    QTest::keyClicks(console().txtModify, "100");
    QTest::keyClick(console().txtModify, Qt::Key_Return);
    EXPECT_EQ(grid().TextMatrix(rowOf("4"), 4), "150.00");
    EXPECT_EQ(grid().TextMatrix(rowOf("5"), 4), "50.00");
    save();
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(dbSwitch.scalar("select group_concat(userid||':'||deposit, ' ') from user where userid in (3,4,5)").toString(),
              "3:500000 4:1500000 5:500000");

    // The operator's own user 3, a deposit and a rent typed on its row and not
    // saved, is settled from the row and deleted: the row leaves with its
    // edits and nothing asks to save them; no other user is chosen in its
    // place, Enter opens no editor, and a later save stores no user.
    type(rowOf("3"), 4, "100");
    type(rowOf("3"), 7, "5");
    ASSERT_TRUE(g_Modified);
    const auto boxes = platform::script::shown().size();
    ModSwitch::SetVariant("OptCL", "2");
    choose(QStringLiteral("结算"));
    popupOnRow(rowOf("3"));
    ASSERT_TRUE(spin(20000, [&] { return rowOf("3") < 0 && console().isVisible(); }));
    unloadSettlement();
    ASSERT_TRUE(dbSwitch.scalar("select userid from user where userid=3").isNull());
    EXPECT_EQ(dbSwitch.scalar("select userid from Extension where Address=5").toInt(), 0);
    for (const auto& shown : platform::script::shown().mid(boxes))
        EXPECT_FALSE(shown.text.contains("参数已经改变")) << shown.text.toStdString();
    EXPECT_LT(grid().Row(), grid().FixedRows());
    for (const QModelIndex& ix : grid().selectionModel()->selectedIndexes()) EXPECT_LT(ix.row(), grid().FixedRows());
    grid().setFocus();
    QTest::keyClick(&grid(), Qt::Key_Return);
    EXPECT_FALSE(console().txtModify->isVisible());
    EXPECT_FALSE(console().cboModify->isVisible());
    EXPECT_FALSE(g_Modified);
    EXPECT_TRUE(platform::script::unexpected().isEmpty());
    save();
    platform::script::reset();
    EXPECT_TRUE(dbSwitch.scalar("select userid from user where userid=3").isNull());
    EXPECT_EQ(dbSwitch.scalar("select group_concat(userid) from (select userid from user order by userid)").toString(), "0,1,4,5");
}

// 保存 of deposits typed for three users while the disk refuses once: each
// user's save commits alone, so a refusal may come after some have. The
// status bar says which users are saved and which are not (nothing saved:
// 保存错误; all: 保存完成); what was typed for those not saved stays in the
// grid, and the next 保存 stores it, each deposit once.
TEST_F(GridEditing, ASaveOfSeveralUsersSaysWhichAreSavedWhenALaterOneIsRefused) {
    namespace refusal = testsupport::refusal;
    using platform::Currency;
    const QList<int> users{7, 8, 9};
    for (int u : users)
        addUser(u, 1);
    QMap<int, Currency> deposit;
    for (int u : users) deposit[u] = Currency::fromYuan(50);
    const auto depositOf = [](int u) {
        return Currency::fromRaw(dbSwitch.scalar("select deposit from user where userid=?", {u}).toLongLong());
    };
    const auto rowOf = [&](int u) { return grid().FindRow(0, QString::number(u), 1); };
    const auto names = [](const QList<int>& us) {
        QStringList out;
        for (int u : us) out << QStringLiteral("用户%1").arg(u);
        return out.join(QStringLiteral("、"));
    };
    refusal::walk(
        [&](int) { return saveClick(); },
        [&](int, bool said) {
            const QString text = status();
            QList<int> saved, unsaved;
            for (int u : users) (depositOf(u) == deposit[u] + Currency::fromYuan(10) ? saved : unsaved) << u;
            if (unsaved.isEmpty()) {
                // Done, perhaps with the grades left for later.
                EXPECT_TRUE(said || text.startsWith("保存完成，")) << text.toStdString();
            } else if (saved.isEmpty()) {
                EXPECT_TRUE(text.startsWith("保存错误")) << text.toStdString();
            } else {
                EXPECT_FALSE(text.startsWith("保存错误")) << text.toStdString();
                EXPECT_TRUE(text.startsWith(QStringLiteral("保存未完成：%1已保存，%2未保存：").arg(names(saved), names(unsaved))))
                    << text.toStdString();
            }
            for (int u : saved) deposit[u] += Currency::fromYuan(10);
            for (int u : users) {
                EXPECT_EQ(depositOf(u), deposit[u]) << u;
                EXPECT_EQ(refusal::journalSum(u, int(ModSwitch::LogKind::Deposit)), deposit[u]) << u;
            }
            // The typed work of those not saved stays, and the next 保存 stores it once.
            EXPECT_EQ(g_Modified, !unsaved.isEmpty());
            for (int u : unsaved)
                EXPECT_EQ(grid().TextMatrix(rowOf(u), 4), (deposit[u] + Currency::fromYuan(10)).toString2()) << u;
            if (!unsaved.isEmpty()) {
                saveClick();
                EXPECT_EQ(status(), "保存完成");
                for (int u : unsaved) deposit[u] += Currency::fromYuan(10);
            }
            for (int u : users) {
                EXPECT_EQ(depositOf(u), deposit[u]) << u;
                refusal::checkMoney(u, deposit[u], deposit[u], Currency());
            }
        },
        refusal::stationFiles(),
        [&](int) {
            ASSERT_TRUE(console().ShowView("User"));
            for (int u : users) {
                const int r = rowOf(u);
                ASSERT_GT(r, 0);
                doubleClick(r, 4);
                ASSERT_TRUE(console().txtModify->isVisible());
                QTest::keyClicks(console().txtModify, "10");
                QTest::keyClick(console().txtModify, Qt::Key_Return);
                ASSERT_EQ(grid().TextMatrix(r, 4), (deposit[u] + Currency::fromYuan(10)).toString2());
            }
        });
}


// 保存 of three rows of 集团电话时段 (a percentage typed) stopped at the
// second by a value its column cannot take: each row commits alone, so the
// status bar names the row saved and those not, as the table names them; the
// rows not saved keep what was typed, and the next 保存 stores it. (The
// refusals of the disk on the way are walked by the fee rates' save below,
// which runs the same row by row.)
TEST_F(GridEditing, ASaveOfSeveralRowsOfATableSaysWhichAreSavedWhenALaterOneIsRefused) {
    ASSERT_TRUE(console().ShowView("PabxTimes"));
    const auto key = [this](int r) { return grid().TextMatrix(r, 0).trimmed(); };
    const auto stored = [&](int r) {
        return dbSwitch.scalar("select innerpercent1 from PabxTimes where SegNo=?", {key(r)}).toString();
    };
    for (int r : {1, 2, 3}) {
        ASSERT_NE(stored(r), "20") << r;
        type(r, 4, "20");
    }
    grid().setTextMatrix(2, 4, "2x");
    EXPECT_FALSE(saveClick());
    EXPECT_TRUE(status().startsWith(QStringLiteral("保存未完成：时间段%1已保存，时间段%2、时间段%3未保存：").arg(key(1), key(2), key(3))))
        << status().toStdString();
    EXPECT_EQ(stored(1), "20");
    EXPECT_TRUE(g_Modified);
    for (int r : {2, 3}) {
        EXPECT_NE(stored(r), "20") << r;
        EXPECT_TRUE(edited(r)) << r;
    }
    EXPECT_EQ(grid().TextMatrix(3, 4), "20");
    grid().setTextMatrix(2, 4, "20");
    EXPECT_TRUE(saveClick()) << status().toStdString();
    for (int r : {1, 2, 3}) EXPECT_EQ(stored(r), "20") << r;
}

// 集团电话费率 deletes the heads no longer in the grid (a head typed over)
// in a commit of their own before it stores the rows: a row refused after it
// names those heads deleted with the rows saved and those not.
TEST_F(GridEditing, APartialSaveOfTheFeeRatesNamesTheHeadsItDeleted) {
    namespace refusal = testsupport::refusal;
    const auto colOf = [this](const QString& title) {
        for (int c = 0; c < grid().Cols(); ++c)
            if (grid().TextMatrix(0, c).trimmed() == title) return c;
        return -1;
    };
    const auto stored = [](const QString& head) {
        return dbSwitch.scalar("select FirstTime from PabxFeeRate where FeeRateHead=?", {head});
    };
    QString typed;   // the first time typed for head 11
    int partial = 0;
    const int runs = refusal::walk(
        [&](int) { return saveClick(); },
        [&](int, bool said) {
            const QString text = status();
            const bool deleted = stored("10").isNull();
            QStringList saved, unsaved;
            (stored("19").isNull() ? unsaved : saved) << "费率字头19";
            (stored("11").toString() == typed ? saved : unsaved) << "费率字头11";
            if (!deleted) {
                // The deletion goes first: refused, nothing is stored.
                EXPECT_TRUE(saved.isEmpty());
                EXPECT_TRUE(text.startsWith("保存错误")) << text.toStdString();
            } else if (unsaved.isEmpty()) {
                EXPECT_TRUE(said) << text.toStdString();
            } else {
                ++partial;
                QString done = QStringLiteral("费率字头10已删除，");
                if (!saved.isEmpty()) done += saved.join("、") + "已保存，";
                EXPECT_TRUE(text.startsWith("保存未完成：" + done + unsaved.join("、") + "未保存：")) << text.toStdString();
            }
            // What was typed stays, and the next 保存 stores it.
            EXPECT_EQ(g_Modified, !unsaved.isEmpty());
            if (!unsaved.isEmpty()) {
                saveClick();
                EXPECT_EQ(status(), "保存完成");
            }
            EXPECT_TRUE(stored("10").isNull());
            EXPECT_FALSE(stored("19").isNull());
            EXPECT_EQ(stored("11").toString(), typed);
        },
        refusal::stationFiles(),
        [&](int run) {
            dbSwitch.execute("delete from PabxFeeRate");
            for (const char* head : {"10", "11", "12"})
                dbSwitch.execute("insert into PabxFeeRate (FeeRateHead,FirstTime,PerTime) values (?,180,60)", {head});
            ASSERT_TRUE(console().ShowView("PabxFeeRate"));
            ASSERT_EQ(grid().TextMatrix(1, 0).trimmed(), "10");
            ASSERT_EQ(grid().TextMatrix(2, 0).trimmed(), "11");
            // Head 10 typed over as 19, and a first time typed for head 11.
            type(1, 0, "19");
            typed = QString::number(100 + run % 50);
            type(2, colOf("首次时间"), typed);
            ASSERT_EQ(grid().TextMatrix(1, 0).trimmed(), "19");
            ASSERT_EQ(grid().TextMatrix(2, colOf("首次时间")).trimmed(), typed);
        });
    EXPECT_GT(runs, 2);
    EXPECT_GT(partial, 0);
}

// A deletion the station finishes behind the open 用户管理 (the switch took
// the release, the station file was held by another program) takes the
// user's row with it, at the next 保存 of another user as at the next 下载;
// a row whose user went by another road is refused by the save, never
// stored again under its number.
TEST_F(GridEditing, ADeletionFinishedBehindTheGridTakesItsRowAndNoSaveStoresItBack) {
    for (int u : {8, 9, 10})
        addUser(u, 1);
    dbSwitch.execute("update Account set account='0123', userid=9 where address=2050");
    dbSwitch.execute("update Account set account='0124', userid=10 where address=2051");
    ASSERT_TRUE(console().ShowView("User"));
    const auto rowOf = [&](int u) { return grid().FindRow(0, QString::number(u), 1); };
    platform::Database other = platform::Database::open(dbSwitch.path());
    std::atomic<bool> locked{false};
    // 删除 of user `u`; another program takes the file once its release frame went.
    const auto deleteUnderLock = [&](int u, const QString& frame) {
        sw.setObserver([&, frame](const sim::Frame& f) {
            if (f.startsWith(frame) && !locked) {
                other.execute("BEGIN IMMEDIATE");
                locked = true;
            }
        });
        selectRows(rowOf(u), rowOf(u));
        platform::script::answer("要删除第", platform::rYes);
        platform::script::answer("用户还有押金余额", platform::rYes);
        platform::script::answer(QStringLiteral("用户用户%1的删除未能完成").arg(u), platform::rOK);
        QTest::mouseClick(toolButton("Delete"), Qt::LeftButton);
        sw.setObserver({});
        if (locked) other.execute("ROLLBACK");
        locked = false;
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        ASSERT_GT(rowOf(u), 0);
    };
    const auto gone = [&](int u) {
        EXPECT_EQ(rowOf(u), -1) << u;
        EXPECT_TRUE(dbSwitch.scalar("select userid from user where userid=?", {u}).isNull()) << u;
    };

    deleteUnderLock(9, "8C080802");
    type(rowOf(8), 7, "5");
    platform::script::answer("其删除现已完成", platform::rOK);
    EXPECT_TRUE(saveClick()) << status().toStdString();
    gone(9);
    EXPECT_EQ(dbSwitch.scalar("select rent from user where userid=8").toLongLong(), 50000);

    deleteUnderLock(10, "8C080803");
    platform::script::answer("其删除现已完成", platform::rOK);
    QTest::mouseClick(toolButton("DownLoad"), Qt::LeftButton);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    gone(10);

    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 8); }, 8);
    type(rowOf(8), 7, "6");
    saveClick();
    EXPECT_TRUE(status().contains("用户用户8(8)已经删除，不能再保存")) << status().toStdString();
    EXPECT_TRUE(dbSwitch.scalar("select userid from user where userid=8").isNull());
    other.close();
}

// 保存 of two deposit users whose first push the switch does not answer: the
// second user's grade is worked out all the same (its balance is gone, so its
// extension is barred), its row marked for the download; both stay pending
// and are named, and the save does not say 保存完成.
TEST_F(GridEditing, ASaveWhoseFirstPushGoesUnansweredGradesEveryUserAndNamesThem) {
    addUser(7, 0);
    addUser(8, 0, 0);
    const int barred = ModGeneral::GetDepositGrade(8);
    const int before = ModGeneral::GetDepositGrade(7);
    ASSERT_NE(barred, before);
    // User 8's extension still carries the grade of the money it had.
    dbSwitch.execute("update Extension set userid=7, depositgrade=?, bSet=0 where Address=3", {before});
    dbSwitch.execute("update Extension set userid=8, depositgrade=?, bSet=0 where Address=4", {before});
    ASSERT_TRUE(console().ShowView("User"));
    for (int u : {7, 8}) {
        const int r = grid().FindRow(0, QString::number(u), 1);
        type(r, 7, "1");
    }
    sw.addRule("8B1603", sim::Reply::Silent, -1);
    testsupport::fastTimeouts();
    EXPECT_FALSE(saveClick());
    EXPECT_EQ(status(), "用户已保存，用户7、用户8的参数未能下载到交换机，仍待下载");
    EXPECT_EQ(dbSwitch.scalar("select depositgrade||'/'||bSet from Extension where Address=4").toString(),
              QStringLiteral("%1/1").arg(barred));
    EXPECT_EQ(dbSwitch.scalar("select group_concat(bset) from (select bset from user where userid in (7, 8) order by userid)").toString(),
              "1,1");
}

// 删除 of three users on a switch that answers nothing: the first user's
// unfinished deletion is told once, and the others are not released on a
// switch that gives no answer (each would end the same, later): the status
// says so.
TEST_F(GridEditing, DeletingSeveralUsersOnASilentSwitchTellsEachFactOnce) {
    for (int u : {7, 8, 9}) {
        dbSwitch.execute("insert into user (userid, username, balancemode) values (?, ?, 1)", {u, QStringLiteral("用户%1").arg(u)});
        dbSwitch.execute("update Account set account=?, userid=? where address=?", {QString::number(120 + u), u, 2043 + u});
    }
    ASSERT_TRUE(console().ShowView("User"));
    selectRows(grid().FindRow(0, u"7", 1), grid().FindRow(0, u"9", 1));
    sw.setDefaultReply(sim::Reply::Silent);
    testsupport::fastTimeouts();
    platform::script::answer("要删除第", platform::rYes);
    platform::script::answer("用户用户9(9)的删除未能完成", platform::rOK);
    QTest::mouseClick(toolButton("Delete"), Qt::LeftButton);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(platform::script::shown().size(), 2);
    EXPECT_EQ(status(), "交换机没有回答，其余2个用户没有删除");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from user where userid in (7, 8, 9)").toInt(), 3);
    EXPECT_EQ(ModSwitch::PendingWriteAhead(dbSwitch, "release").size(), 1);
}

// 备份 with an edit the save cannot store (another program holds the file):
// panel 2 keeps the save's failure and says nothing was copied, no copy is
// asked for or made; with the lock gone the same click saves and copies.
TEST_F(GridEditing, ABackupAfterASaveThatFailedSaysSoAndCopiesNothing) {
    ASSERT_TRUE(console().ShowView("LanHead"));
    type(1, 3, "7");
    ASSERT_TRUE(g_Modified);
    QWidget* backup = toolButton("Backup");
    ASSERT_NE(backup, nullptr);
    {
        platform::Database other = platform::Database::open(dbSwitch.path());
        other.execute("BEGIN IMMEDIATE");
        platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
        QTest::mouseClick(backup, Qt::LeftButton);
        EXPECT_EQ(platform::script::pendingAnswers(), 0);
        other.execute("ROLLBACK");
    }
    EXPECT_TRUE(status().startsWith("保存错误")) << status().toStdString();
    EXPECT_TRUE(status().endsWith("没有备份")) << status().toStdString();
    for (const auto& s : platform::script::shown()) EXPECT_FALSE(s.text.contains("要备份数据库吗")) << s.text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(console::BackupFilePath()));
    EXPECT_TRUE(g_Modified);

    // The lock gone, the same click saves, then copies what was saved.
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    platform::script::answer("要备份数据库吗?", platform::rYes);
    QTest::mouseClick(backup, Qt::LeftButton);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(status(), "备份成功");
    EXPECT_FALSE(g_Modified);
    platform::Database copy = platform::Database::open(console::BackupFilePath());
    const char* rows = "select group_concat(HeadID||':'||HeadType||':'||HeadLen||':'||Headdelay, ',') from "
                       "(select * from LanHead order by headtype, headid)";
    EXPECT_EQ(copy.scalar(rows).toString(), dbSwitch.scalar(rows).toString());
}

}  // namespace
