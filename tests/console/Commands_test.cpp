// The console's menu bar, toolbar, help and table backup, driven as the
// operator drives them on a station loaded against the simulator.
#include "ConsoleFixture.h"

#include "console/ConsoleCommands.h"
#include "console/TableBackup.h"
#include "core/books/ChargeLog.h"
#include "core/StationFiles.h"
#include "console/frmHelp.h"
#include "core/Settings.h"
#include "core/frmChange.h"
#include "core/frmFind.h"
#include "core/Password.h"
#include "core/frmWorker.h"
#include "platform/Printer.h"
#include "printing/PrintGrid.h"
#include "support/RefusalWalk.h"

#include <QApplication>
#include <QFile>
#include <QMenu>

using namespace consoletest;

namespace {

class Commands : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        connectSwitch();
    }
    void start() {
        load();
        console().show();
        // The start-up's orders on the line, where there is a line.
        if (!sw.slavePath().isEmpty()) {
            ASSERT_TRUE(allArrived());
        }
        WorkerRights = QStringList{"0"};
    }
    void TearDown() override {
        frmHelp::unload();
        frmFind::unload();
        ConsoleTest::TearDown();
    }
    QAction* item(const char* name) { return console().findChild<QAction*>(QLatin1String(name)); }
    // "caption|shortcut|visible|enabled" of every item of a menu, separators as "-".
    QStringList menu(const char* name) {
        QStringList out;
        QMenu* m = console().findChild<QMenu*>(QLatin1String(name));
        if (!m) return {"missing"};
        for (QAction* a : m->actions()) {
            if (a->isSeparator()) {
                out << "-";
                continue;
            }
            out << QStringLiteral("%1|%2|%3%4")
                       .arg(a->text(), a->shortcut().toString(), a->isVisible() ? "v" : "h", a->isEnabled() ? "e" : "d");
        }
        return out;
    }
    QStringList topMenus() {
        QStringList out;
        for (QAction* a : console().mnuBar->actions())
            if (a->isVisible()) out << a->text();
        return out;
    }
    QString lastLogText() {
        platform::Recordset rs = dbSwitch.query("select * from tab_oplog order by rowid desc limit 1");
        return rs.eof() ? QString() : rs.value(3).toString();
    }
};

TEST_F(Commands, MenuBarOfTheFirstModelInOrderWithShortcutsAndGates) {
    start();
    EXPECT_EQ(topMenus(), (QStringList{"系统管理", "操作命令", "  选  项  ", "  帮  助  "}));
    EXPECT_EQ(menu("mnuSysManager"),
              (QStringList{"修改密码|F7|ve", "-", "数据库管理|F2|ve", "话单库管理|F3|ve", "站点  管理|F4|hd", "-",
                           "员工管理||ve", "-", "重新登录|F6|ve", "更换站点|F5|hd", "-", "退出系统|Ctrl+Q|ve"}));
    EXPECT_EQ(menu("mnuWorkerManager"), (QStringList{"增加员工|Ctrl+A|ve", "删除员工|Ctrl+D|ve", "修改员工|Ctrl+M|ve"}));
    EXPECT_EQ(menu("mnuOPCommand"), (QStringList{"通信握手|Ctrl+F7|ve", "初 始 化|Ctrl+F8|ve", "系统复位|Ctrl+F9|ve", "-",
                                                 "下载时间|Shift+F9|ve", "下载参数|Shift+F8|ve", "上传参数|Shift+F7|ve"}));
    EXPECT_EQ(menu("mnuOption"), (QStringList{"系统参数|F9|ve", "IP公话参数|F8|hd", "-", "分机选项|Ctrl+E|vd",
                                              "中继选项|Ctrl+R|vd", "-", "立即打印|Ctrl+P|ve"}));
    EXPECT_EQ(menu("mnuHelp"), (QStringList{"关于软件|F11|ve", "帮助主题|F1|ve"}));
}

class SecondModel : public Commands {
protected:
    void SetUp() override {
        model = 2;
        ConsoleTest::SetUp();
        SwitchModel = 2;
        platform::SetUsbCollector(std::make_shared<sim::UsbCollectorSim>());
    }
};

TEST_F(SecondModel, SitesShowAndTheUsbSettingShowsItsMenuInOrder) {
    setting("CHKUSEUSB", "1");
    start();
    EXPECT_EQ(topMenus(), (QStringList{"系统管理", "操作命令", "USB设置", "  选  项  ", "  帮  助  "}));
    EXPECT_TRUE(item("mnuTerminal")->isVisible());
    EXPECT_TRUE(item("mnuChangeTerminal")->isVisible());
    EXPECT_TRUE(item("mnuIPPUHPARA")->isVisible());
    EXPECT_TRUE(item("mnuTerminal")->isEnabled());
    EXPECT_EQ(menu("mnuUsb"), (QStringList{"设置USB编号|Shift+F6|ve", "查看USB编号|Shift+F5|ve", "清除USB话单|Shift+F4|ve",
                                           "重读USB话单|Shift+F3|ve", "读取USB话单|Shift+F2|hd",
                                           "校验USB话单|Shift+F1|hd"}));
}

TEST_F(Commands, WorkerItemsOpenTheWorkerWindowInTheirModeAndThePasswordCanBeChanged) {
    start();
    QStringList seen;
    platform::script::onModal("frmWorker", [&](QDialog* d) {
        auto* w = static_cast<frmWorker*>(d);
        seen << w->windowTitle().trimmed() + ":" + (w->fraWorkerAddDelete->isVisible() ? w->cmdOK->text() : "");
        d->reject();
    });
    for (int i = 0; i < 3; ++i) item(QByteArray("mnuWorker" + QByteArray::number(i)).constData())->trigger();
    EXPECT_EQ(seen, (QStringList{"员工管理窗口:增加", "员工管理窗口:删除", "员工管理窗口:修改"}));

    console().sbrInfo->setPanelText(5, "管理员");
    WorkerID = "0000";
    WorkerName = "管理员";
    platform::script::onModal("frmWorker", [&](QDialog* d) {
        auto* w = static_cast<frmWorker*>(d);
        seen << w->windowTitle().trimmed();
        w->txtOld->setText("0000");
        w->txtNew->setText("4321");
        w->txtConfirm->setText("4321");
        w->cmdModify->click();
        if (w->isVisible()) d->reject();
    });
    platform::script::answer("密码修改成功", platform::rOK);
    item("mnuChangePassword")->trigger();
    EXPECT_EQ(seen.last(), "修改员工<管理员>的密码");
    EXPECT_EQ(ModGeneral::UnscramblePassword(dbSwitch.scalar("select passcode from worker where workerid='0000'").toString()), "4321");
}

TEST_F(Commands, AnOpenEditorOnlyCommitsThenTheCommandRuns) {
    start();
    console().sbrInfo->setPanelText(2, "旧消息");
    console().txtModify->show();
    console().txtModify->setText("1");   // the open editor's check accepts it
    console().tbrSwitch_ButtonClick("Help");
    EXPECT_FALSE(frmHelp::exists());
    EXPECT_EQ(status(), "旧消息");
    console().txtModify->hide();
    console().tbrSwitch_ButtonClick("Help");
    ASSERT_TRUE(frmHelp::exists());
    EXPECT_TRUE(frmHelp::instance().isVisible());
    EXPECT_EQ(status(), "");
    // F1 and the help item open the one window; the text lists the menus with their keys.
    item("mnuContent")->trigger();
    EXPECT_EQ(QApplication::topLevelWidgets().count(&frmHelp::instance()), 1);
    const QString help = frmHelp::instance().PlainText();
    EXPECT_TRUE(help.contains("帮助主题") && help.contains("（F1）"));
    EXPECT_TRUE(help.contains("退出系统") && help.contains("（Ctrl+Q）"));
    // An unknown key only clears the message; 退出 asks.
    console().sbrInfo->setPanelText(2, "x");
    console().tbrSwitch_ButtonClick("Nothing");
    EXPECT_EQ(status(), "");
    platform::script::answer("要退出系统吗?", platform::rNo);
    console().tbrSwitch_ButtonClick("Exit");
    EXPECT_EQ(platform::script::shown().last().text, "要退出系统吗?");
}

TEST_F(Commands, ToolbarButtonsReachTheirCommandsAndPrintNeedsTheRight) {
    start();
    ASSERT_TRUE(console().ShowView("LanHead"));
    QStringList keys;
    for (QAction* a : console().tbrSwitch->actions())
        if (!a->isSeparator() && a->isEnabled()) keys << a->data().toString();
    EXPECT_EQ(keys, (QStringList{"DownLoad", "UpLoad", "Verify", "Backup", "Restore", "Save", "Add", "Delete", "Find", "Print", "Help", "Exit"}));
    for (QAction* a : console().tbrSwitch->actions())
        if (a->data().toString() == "Find") a->trigger();
    ASSERT_TRUE(frmFind::exists());
    EXPECT_EQ(frmFind::instance().FindGrid.data(), console().fgDisp);

    platform::PrintRecorder& rec = platform::testing::usePrintRecorder();
    printing::testing::setHasPrinter(true);
    WorkerRights = QStringList{"9"};
    console().tbrSwitch_ButtonClick("Print");
    EXPECT_EQ(status(), "你没有此操作权限");
    EXPECT_TRUE(rec.records.isEmpty());
    WorkerRights = QStringList{"10"};
    platform::script::answer("真的要打印", platform::rYes);
    console().tbrSwitch_ButtonClick("Print");
    bool titled = false;
    for (const auto& r : rec.records) titled |= r.kind == platform::PrintRecord::Text && r.text == "本机字头";
    EXPECT_TRUE(titled);
    platform::testing::resetPrinter();
    printing::testing::setHasPrinter(std::nullopt);

    // Tooltips: the message panel shows its text, the rest the worker's rights.
    const auto panels = console().sbrInfo->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    console().sbrInfo->setPanelText(2, "下载成功");
    WorkerRightNames = QStringList{"字头设置", "分机设置"};
    console().sbrInfo_MouseMove(panels[1]->x() + 1);
    EXPECT_EQ(console().sbrInfo->toolTip(), "下载成功");
    console().sbrInfo_MouseMove(panels[3]->x() + 1);
    EXPECT_EQ(console().sbrInfo->toolTip(), "字头设置,分机设置");
    console().picRun_MouseDown();
    EXPECT_TRUE(console().picRun->toolTip().startsWith(AppName + " Ver1.5.7"));
}

TEST_F(Commands, ColumnChooserStoresAChoiceAndNothingWhenEmptied) {
    start();
    ASSERT_TRUE(console().ShowView("Relay"));
    platform::script::onModal("frmChange", [](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        c->cmdShare_Click(0);   // every movable title back
        c->cmdHide_Click(1);
    });
    console().mnuRelayOption_Click();
    // The two fixed titles stay chosen.
    EXPECT_EQ(ModSwitch::GetVariant("RelayShowlist"), "00,01");
    EXPECT_EQ(console().fgDisp->Cols(), 2);
    platform::script::onModal("frmChange", [](QDialog* d) { static_cast<frmChange*>(d)->cmdHide_Click(0); });
    console().mnuRelayOption_Click();
    EXPECT_EQ(ModSwitch::GetVariant("RelayShowlist"), "00,01");
}

// ------------------------------------------------------------------ backup and restore

class Backup : public Commands {
protected:
    void SetUp() override {
        Commands::SetUp();
        start();
    }
    QString backupFile() { return dir->file("Backup.mdb"); }
    void backup(const char* view) {
        ASSERT_TRUE(console().ShowView(view));
        platform::script::answer("要备份数据库吗?", platform::rYes);
        console().tbrSwitch_ButtonClick("Backup");
    }
    // 恢复 of the table `view` shows, or of the one shown.
    void restore(const char* view = nullptr) {
        if (view) {
            ASSERT_TRUE(console().ShowView(view));
        }
        platform::script::answer("要从备份库恢复数据吗?", platform::rYes);
        console().tbrSwitch_ButtonClick("Restore");
    }
};

TEST_F(Backup, CopiesReplaceEachOtherPerTableRoutesTravelTogetherAndAMissingCopyIsTold) {
    // No file yet: said before anything is asked.
    platform::script::answer("不存在备份数据", platform::rOK);
    ASSERT_TRUE(console().ShowView("Relay"));
    console().tbrSwitch_ButtonClick("Restore");
    EXPECT_EQ(platform::script::shown().size(), 1u);
    dbSwitch.execute("insert into LanHead values('8', 20, 3, 0, 0, 0, 1)");
    dbSwitch.execute("insert into AddHead values(1, 224, '1', 0)");
    dbSwitch.execute("insert into AddHead values(2, 225, '2', 1)");
    backup("LanHead");
    EXPECT_EQ(status(), "备份成功");
    EXPECT_EQ(lastLogText(), "本机备份");
    ASSERT_TRUE(QFile::exists(backupFile()));
    dbSwitch.execute("delete from LanHead where HeadID='8'");
    backup("LanHead");
    backup("Router1");
    platform::Database bak = platform::Database::open(backupFile());
    EXPECT_EQ(bak.rowCount("LanHead"), 1);
    EXPECT_EQ(bak.rowCount("AddHead"), 2);
    bak.close();
    // A table the file holds no copy of stays as it is.
    const qint64 relays = dbSwitch.rowCount("Relay");
    platform::script::answer("没有备份数据", platform::rOK);
    restore("Relay");
    EXPECT_EQ(platform::script::shown().last().text, "没有备份数据");
    EXPECT_EQ(dbSwitch.rowCount("Relay"), relays);

    dbSwitch.execute("delete from AddHead");
    restore("Router2");
    EXPECT_EQ(status(), "恢复成功");
    EXPECT_EQ(dbSwitch.rowCount("AddHead"), 2);
    // The pending flags come back as they were backed up.
    EXPECT_EQ(dbSwitch.scalar("select bSet from AddHead where Router=2").toInt(), 1);
    EXPECT_EQ(console().fgDisp->TextMatrix(1, 1), "2");
    EXPECT_EQ(lastLogText(), "路恢复");
    // A refused right copies nothing.
    WorkerRights = QStringList{"1"};
    ASSERT_TRUE(console().ShowView("LanHead"));
    console().tbrSwitch_ButtonClick("Backup");
    EXPECT_EQ(status(), "你没有此操作权限");
}

TEST_F(Backup, RestoredExtensionsFitTheirSuffixesAndAFailureLeavesTheTable) {
    dbSwitch.execute("insert into LanHead values('6', 21, 4, 0, 0, 0, 0)");
    dbSwitch.execute("update Extension set Head=21, SpringNum='12345', bSet=1, bSetSpringNum=1 where Address=1");
    dbSwitch.execute("update Extension set Head=21, SpringNum='12' where Address=2");
    dbSwitch.execute("update Extension set Head=21, SpringNum='0123' where Address=3");
    dbSwitch.execute("update Extension set Head=22, SpringNum='12345' where Address=4");
    backup("Extension");
    restore();
    EXPECT_EQ(status(), "恢复成功");
    auto ext = [](int a) {
        platform::Recordset rs = dbSwitch.query("select Head,SpringNum,bSet,bSetSpringNum from Extension where Address=?", {a});
        return QStringLiteral("%1 %2 %3 %4").arg(rs.str("Head"), rs.str("SpringNum"), rs.str("bSet"), rs.str("bSetSpringNum"));
    };
    EXPECT_EQ(ext(1), "21 2345 1 0");
    EXPECT_EQ(ext(2), "21 0012 0 0");
    EXPECT_EQ(ext(3), "21 0123 0 0");
    EXPECT_EQ(ext(4), "29 2345 0 0");   // category 22 is not in the prefix table

    // A failure after the copy leaves the table as it was.
    dbSwitch.execute("update Extension set SpringNum='7777' where Address=1");
    dbSwitch.execute("create trigger nofit before update of SpringNum on Extension begin select raise(abort,'x'); end");
    restore();
    EXPECT_EQ(status(), "恢复失败");
    EXPECT_EQ(dbSwitch.scalar("select SpringNum from Extension where Address=1").toString(), "7777");
    EXPECT_EQ(dbSwitch.rowCount("Extension"), 120);
}

TEST_F(Backup, ARestoreInTheUploadViewShowsTheRestoredTableAndNothingTakesItBack) {
    dbSwitch.execute("insert into ExtraHead(Address,ExtraHead) values (0,'111')");
    backup("ExtraHead");
    dbSwitch.execute("update ExtraHead set ExtraHead='222', bSet=1 where Address=0");
    console().tbrSwitch_ButtonClick("DownLoad");
    ASSERT_EQ(status(), "下载成功");
    console().tbrSwitch_ButtonClick("UpLoad");
    ASSERT_EQ(ParaMode, "UpSend");
    ASSERT_EQ(console().fgDisp->TextMatrix(1, 1), "222");

    restore();
    EXPECT_EQ(status(), "恢复成功");
    EXPECT_EQ(console().fgDisp->TextMatrix(1, 1), "111");
    EXPECT_TRUE(ParaMode.isEmpty());
    // Leaving the view asks nothing and keeps the restored table.
    ASSERT_TRUE(console().ShowView("Relay"));
    ASSERT_TRUE(console().ShowView("ExtraHead"));
    EXPECT_EQ(dbSwitch.scalar("select ExtraHead from ExtraHead where Address=0").toString(), "111");
    EXPECT_EQ(console().fgDisp->TextMatrix(1, 1), "111");
}

// The users put back from their copy keep what the journal holds since: the
// charges and deletions are applied again, the users added stay, and the
// balances equal the journal's.
TEST_F(Backup, UsersPutBackFromTheirCopyKeepEveryMovementSinceIt) {
    const auto balance = [](int id) {
        return platform::Currency::fromRaw(dbSwitch.scalar("select remain from user where userid=?", {id}).toLongLong());
    };
    ModSwitch::MoveBalances([] {
        dbSwitch.execute("insert into user (userid, username, remain, deposit) values (7, '甲', 1000000, 0), (9, '丙', 50000, 0)");
    });
    backup("User");
    logCharge(7, "0.40", "99.60");
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain+200000 where userid=7"); }, 7);
    ModSwitch::MoveBalances([] { dbSwitch.execute("insert into user (userid, username, remain) values (8, '乙', 300000)"); });
    ModSwitch::MoveBalances([] { dbSwitch.execute("delete from user where userid=9"); }, 9);
    ASSERT_EQ(balance(7), money("119.60"));
    restore("User");
    EXPECT_EQ(status(), "恢复成功");
    EXPECT_EQ(balance(7), money("119.60"));
    EXPECT_EQ(balance(8), money("30.00"));
    EXPECT_TRUE(dbSwitch.scalar("select 1 from user where userid=9").isNull());
    EXPECT_EQ(ModSwitch::ApplyLoggedCharges(), 0);
    EXPECT_EQ(balance(7), money("119.60"));
}

// The entries since the copy gone (the journal file lost, or past its keeping
// time): the users' table put back names, user by user, the whole money row
// that differs from the one it replaced: a user added since with the balance
// they held, a user deleted since who comes back, a deposit moved.
TEST_F(Backup, UsersPutBackWithoutTheirEntriesNameUsersAddedDeletedAndDepositsMoved) {
    ModSwitch::MoveBalances([] {
        dbSwitch.execute("insert into user (userid, username, remain, deposit) values (7, '甲', 1000000, 100000), (9, '丙', 60000, 0)");
    });
    backup("User");
    const qint64 copied = ModSwitch::AppliedMark(dbSwitch);
    ModSwitch::MoveBalances([] { dbSwitch.execute("insert into user (userid, username, remain) values (8, '乙', 0)"); });
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain+500000 where userid=8"); }, 8);
    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 9); }, 9);
    ModSwitch::MoveBalances([] { dbSwitch.execute("update user set deposit=deposit+430000 where userid=7"); }, 7);
    dbSwitch.execute("delete from tab_chargelog where f_seq>?", {copied});
    dbSwitch.execute("delete from tab_chargemirror where f_seq>?", {copied});
    platform::script::answer("无法找回", platform::rOK);
    restore("User");
    EXPECT_EQ(status(), "恢复成功");
    const QString text = lastShown();
    EXPECT_TRUE(text.contains("用户7 甲：押金43.00\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("用户8 乙：余额50.00（恢复后没有此用户）")) << text.toStdString();
    EXPECT_TRUE(text.contains("用户9 丙：余额6.00（恢复前已没有此用户）")) << text.toStdString();
    EXPECT_EQ(text.count("用户8 "), 1) << text.toStdString();
}

// An entry since the copy that the check refuses (its amount stored as text)
// is named with its number, user and kind when the users are put back, as well
// as the difference it leaves.
TEST_F(Backup, UsersPutBackNameEachEntryTheCheckRefusesAndKeepQuotesInTheirNames) {
    ModSwitch::MoveBalances([] { dbSwitch.execute("insert into user (userid, username, remain, deposit) values (7, '甲', 1000000, 0)"); });
    dbSwitch.execute("insert into user (userid, username) values (5, ?)", {"O'Neil"});
    backup("User");
    dbSwitch.execute("delete from user where userid=5");
    const qint64 seq = logCharge(7, "0.40", "99.60");
    dbSwitch.execute("update tab_chargelog set f_amount='abc' where f_seq=?", {seq});
    dbSwitch.execute("delete from tab_chargemirror where f_seq=?", {seq});
    platform::script::answer("记账记录", platform::rOK);
    restore("User");
    EXPECT_EQ(status(), "恢复成功");
    const QString text = lastShown();
    EXPECT_EQ(text.count(QStringLiteral("第%1笔记账记录金额无效（用户7 甲，话费，分机5 2026-06-15 09:00:00的话单，金额为abc），"
                                        "未计入用户余额")
                             .arg(seq)),
              1)
        << text.toStdString();
    EXPECT_TRUE(text.contains("用户7 甲：-0.40")) << text.toStdString();
    EXPECT_EQ(dbSwitch.scalar("select username from user where userid=5").toString(), "O'Neil");
}

// The users' table put back from "Backup.mdb" (用户管理 恢复) while the disk
// refuses once: the table is the copy's exactly when "恢复成功" is said, and
// either way every balance is the journal's, each movement since the copy once.
TEST_F(Backup, UsersPutBackExactlyWhenItSaysSoAndKeepTheJournalsMoneyWhateverIsRefused) {
    namespace refusal = testsupport::refusal;
    using platform::Currency;
    ModSwitch::MoveBalances([] { dbSwitch.execute("insert into user (userid, username, remain, deposit) values (7, '甲', 100000, 0)"); });
    backup("User");
    Currency remain = money("10");
    QStringList boxes;
    refusal::walk(
        [&](int) {
            console().sbrInfo->setPanelText(2, QString());
            const refusal::MaybeBoxes asked({{"要从备份库恢复数据吗?", platform::rYes}, {"", platform::rOK}});
            console().tbrSwitch_ButtonClick("Restore");
            boxes = asked.shown();
            return status() == "恢复成功";
        },
        [&](int, bool said) {
            const bool putBack = dbSwitch.scalar("select username from user where userid=7").toString() == "甲";
            EXPECT_EQ(said, putBack) << status().toStdString() << boxes.join('\n').toStdString();
            EXPECT_EQ(refusal::journalSum(7, int(ModSwitch::LogKind::Balance)), remain - money("10"));
            refusal::checkMoney(7, remain, Currency(), Currency());
        },
        refusal::stationFiles(),
        [&](int i) {
            // A movement since the copy, and a name the copy puts back.
            ModSwitch::MoveBalances([] { dbSwitch.execute("update user set remain=remain+10000 where userid=7"); }, 7);
            remain += money("1");
            dbSwitch.execute("update user set username=? where userid=7", {QStringLiteral("改%1").arg(i)});
            ASSERT_TRUE(console().ShowView("User"));
        });
}

}  // namespace
