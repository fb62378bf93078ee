// The console grid written back: rows stored with their pending flags, heads
// renumbering their extensions, boards moving extensions out of their heads,
// a save stopped by an error, and rows added and deleted.
#include "console/frmPABX.h"
#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/books/TableCopy.h"
#include "core/Settings.h"
#include "params/CellEdit.h"
#include "params/EntryRules.h"
#include "params/NavTree.h"
#include "params/OptionLists.h"
#include "params/RowEdit.h"
#include "params/SavePara.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "platform/AppExit.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"
#include "support/RefusalWalk.h"

#include <QLineEdit>
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using ModSwitch::CheckOptionEntry;
using ModSwitch::CheckTextEntry;
using platform::vbColor;

const char* kHeadHeader = ">本机字头|<本机类别|>号长|>延时|>路由1|>路由2";

class SaveGrid : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        ModSwitch::LoadSysPara();
        WorkerRights = {QStringLiteral("0")};
        ModSwitch::DropTypedDeposits();
        g = frmPABX::instance().fgDisp;
    }
    void show(const QString& view, const QString& sql, const QString& header, int hidden) {
        CurTable = view;
        ModGeneral::ShowTable(*g, sql, header, 0, hidden, false);
    }
    void showHeads() { show("LanHead", "select * from LanHead order by headtype,headid", kHeadHeader, 1); }
    void showUsers() {
        show("User", "select * from User",
             ">用户编号|>用户名称|>上次结算日期|>结算方式|预付押金|押金余额|>透支额|>月租费|>所属部门|>打印即时话单|>闭锁", 2);
    }
    void edit(int col, int first, int last, const QString& value) {
        GridMouseCol = col;
        GridSelFirst = first;
        GridSelLast = last;
        ModSwitch::SaveCellEdit(*g, value);
    }
    int row(int col, const QString& text) const {
        for (int r = 1; r < g->Rows(); ++r)
            if (g->TextMatrix(r, col) == text) return r;
        return -1;
    }
    bool save(int right = 0) {
        platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
        return ModSwitch::SaveSwitchPara(right, true);
    }
    QVariant one(const QString& sql, const platform::Params& p = {}) { return dbSwitch.scalar(sql, p); }
    QString status() const { return frmPABX::instance().sbrInfo->panelText(2); }
    bool colour(int r, int c, quint32 bgr) const { return g->CellBackColorAt(r, c) == vbColor(bgr); }
    platform::FlexGrid* g = nullptr;
};

TEST_F(SaveGrid, ExtensionSaveWritesTheShownColumnsAndItsTwoFlags) {
    CurTable = "Extension";
    ModSwitch::ShowExtGrid(*g, "Extension", true);
    const int disp = ModSwitch::GetColIndex("来电显示", *g);
    edit(disp, 1, 1, "ON");
    edit(2, 2, 2, "0042");
    frmPABX::instance().setWindowTitle("分机参数");
    ASSERT_TRUE(save(6));
    EXPECT_EQ(one("select DispCall||bset||bSetSpringNum from Extension where Address=0").toString(), "110");
    EXPECT_EQ(one("select SpringNum||bset||bSetSpringNum||Head from Extension where Address=1").toString(), "00420129");
    EXPECT_TRUE(colour(1, disp, ModGeneral::kPendingRowColor));
    EXPECT_FALSE(colour(1, 2, ModGeneral::kPendingRowColor));
    EXPECT_TRUE(colour(2, 2, ModGeneral::kPendingRowColor));
    EXPECT_FALSE(g_Modified);
    EXPECT_EQ(status(), "保存完成");
    EXPECT_EQ(one("select f_memo from tab_oplog order by rowid desc limit 1").toString(), "分机保存");
    // Nothing left to save: no question.
    EXPECT_FALSE(ModSwitch::SaveSwitchPara(6, true));
}

TEST_F(SaveGrid, AnErrorKeepsTheRowsNotWrittenUnsaved) {
    show("Account", "select * from Account limit 5",
         ">物理地址|>帐号  |等级一       |等级二       |押金等级     |闭锁  |清密码  |所属用户", 1);
    edit(5, 1, 5, "ON");
    g->setTextMatrix(3, 0, "x");
    EXPECT_FALSE(save(3));
    EXPECT_EQ(one("select group_concat(locked,'') from (select locked from Account order by address limit 5)").toString(), "11000");
    for (int r = 1; r <= 5; ++r)
        EXPECT_TRUE(colour(r, 1, r <= 2 ? ModGeneral::kPendingRowColor : ModGeneral::kEditedRowColor)) << r;
    EXPECT_TRUE(g_Modified);
    // Each row commits alone: the two written are said saved, the rest not.
    EXPECT_TRUE(status().startsWith("保存未完成：帐号（位置2048）、帐号（位置2049）已保存，帐号（位置x）、帐号（位置2051）、帐号（位置2052）未保存："))
        << status().toStdString();
}

TEST_F(SaveGrid, AHeadSaveIsOneTransaction) {
    dbSwitch.execute("insert into LanHead values('8',20,2,0,0,0,0)");
    showHeads();
    edit(3, row(0, "8"), row(0, "8"), "20");
    edit(3, row(0, "E"), row(0, "E"), "30");
    g->setTextMatrix(row(0, "E"), 4, "x");
    EXPECT_FALSE(save(10));
    EXPECT_EQ(one("select Headdelay from LanHead where HeadID='8'").toInt(), 0);
    EXPECT_TRUE(colour(row(0, "8"), 1, ModGeneral::kEditedRowColor));
}

TEST_F(SaveGrid, AShorterHeadRefitsItsExtensionsAndNewDigitsRenumberThem) {
    dbSwitch.execute("insert into LanHead values('8',20,2,0,0,0,0)");
    for (int a = 0; a < 12; ++a)
        dbSwitch.execute("update Extension set Head=20, SpringNum=? where Address=?", {QStringLiteral("%1").arg(a, 2, 10, QLatin1Char('0')), a});
    showHeads();
    edit(2, row(0, "8"), row(0, "8"), "1");
    ASSERT_TRUE(save(10));
    EXPECT_EQ(one("select count(*) from Extension where Head=20").toInt(), 10);
    EXPECT_EQ(one("select count(distinct SpringNum) from Extension where Head=20 and length(SpringNum)=1").toInt(), 10);
    EXPECT_EQ(one("select count(*) from Extension where Address<12 and Head=29").toInt(), 2);
    EXPECT_EQ(one("select count(*) from Extension where Address<12 and bSetSpringNum<>0").toInt(), 12);
    EXPECT_EQ(g->TextMatrix(1, 0), "8");   // redrawn sorted
    EXPECT_TRUE(colour(row(0, "8"), 1, ModGeneral::kPendingRowColor) || one("select bSet from LanHead where HeadID='8'").toInt() != 0);

    // New digits for the head of code 20: its extensions follow in address order.
    dbSwitch.execute("update Extension set bSetSpringNum=0");
    g_Modified = false;
    showHeads();
    edit(0, row(0, "8"), row(0, "8"), "6");
    ASSERT_TRUE(save(10));
    EXPECT_EQ(one("select HeadID from LanHead where HeadType=20").toString(), "6");
    EXPECT_TRUE(one("select HeadID from LanHead where HeadID='8'").isNull());
    EXPECT_EQ(one("select count(*) from Extension where Head=20 and bSetSpringNum<>0").toInt(), 10);
}

TEST_F(SaveGrid, ASpecialTelephoneBoardTakesItsLastFourPortsOutOfTheirHead) {
    dbSwitch.execute("insert into LanHead values('8',20,4,0,0,0,0)");
    dbSwitch.execute("update Extension set Head=20 where Address between 16 and 27");
    dbSwitch.execute("update MonCard set dispcard=11 where cardorder=9");
    CurTable = "MonCard";
    g_Modified = true;
    ASSERT_TRUE(save(4));
    EXPECT_EQ(one("select group_concat(Head||bSetSpringNum,',') from (select * from Extension where Address between 19 and 24 "
                  "order by Address)").toString(),
              "200,291,291,291,291,200");
    EXPECT_EQ(one("select cardtype from MonCard where cardorder=9").toInt(), 11);
    const platform::FlexGrid& ports = *frmPABX::instance().fgMon[1];
    for (int c = 5; c <= 8; ++c) EXPECT_EQ(ports.TextMatrix(6, c), QStringLiteral("E%1").arg(15 + c, 4, 10, QLatin1Char('0')));
}

TEST_F(SaveGrid, UsersKeepChargesBookedMeanwhileAndTheirNamesAsTyped) {
    dbSwitch.execute("insert into user (userid, username, deposit, remain) values(5, 'old', 300000, 300000)");
    showUsers();
    const int r = row(0, "5");
    edit(4, r, r, "100");
    edit(1, r, r, "O'BRIEN");
    // A call is charged while the grid is open.
    dbSwitch.execute("update user set remain=remain-12345 where userid=5");
    ASSERT_TRUE(save(7)) << status().toStdString();
    EXPECT_EQ(one("select username from user where userid=5").toString(), "O'BRIEN");
    EXPECT_EQ(one("select deposit from user where userid=5").toLongLong(), 1300000);
    EXPECT_EQ(one("select remain from user where userid=5").toLongLong(), 1287655);
    EXPECT_EQ(one("select bset from user where userid=5").toInt(), 0);
    EXPECT_TRUE(colour(r, 1, 0xFFFFFF));
}

// A save that fails keeps the view with its edits and the amounts typed; a
// load of the view afterwards (the edits given up) forgets those amounts.
TEST_F(SaveGrid, AFailedSaveKeepsTheViewAndALoadAfterwardsForgetsTheDepositsTyped) {
    ModSwitch::BuildNavTree();
    frmPABX& f = frmPABX::instance();
    dbSwitch.execute("insert into user (userid, username, deposit, remain) values(5, 'a', 0, 0), (6, 'b', 300000, 300000)");
    ASSERT_TRUE(f.ShowView("User"));
    const int r5 = row(0, "5"), r6 = row(0, "6");
    ASSERT_TRUE(r5 > 0 && r5 < r6);
    edit(4, r6, r6, "100");
    edit(1, r5, r5, "c");
    g->setTextMatrix(r5, 2, "x");   // the save stops at this row, before the deposit's
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    ASSERT_TRUE(f.ShowView("User"));
    EXPECT_TRUE(status().startsWith("保存错误")) << status().toStdString();
    EXPECT_EQ(g->TextMatrix(r6, 4), "130.00");
    EXPECT_TRUE(g_Modified);
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rNo);
    ASSERT_TRUE(f.ShowView("User"));
    EXPECT_EQ(g->TextMatrix(r6, 4), "30.00");
    edit(1, r6, r6, "d");
    ASSERT_TRUE(save(7)) << status().toStdString();
    EXPECT_EQ(one("select username||deposit||'/'||remain from user where userid=6").toString(), "d300000/300000");
}

TEST_F(SaveGrid, LeavingAViewOrTheStationOffersTheSaveAndNoKeepsTheDatabase) {
    ModSwitch::BuildNavTree();
    frmPABX& f = frmPABX::instance();
    ASSERT_TRUE(f.ShowView("PabxTimes"));
    edit(4, 7, 7, "55");
    EXPECT_EQ(g->TextMatrix(7, 0), "周六");
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rNo);
    ASSERT_TRUE(f.ShowView("LanHead"));
    EXPECT_EQ(one("select InnerPercent1 from PabxTimes where SegNo=7").toInt(), 100);
    EXPECT_EQ(CurTable, "LanHead");

    ASSERT_TRUE(f.ShowView("PabxTimes"));
    edit(4, 7, 7, "55");
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    ASSERT_TRUE(f.ShowView("LanHead"));
    EXPECT_EQ(one("select InnerPercent1||bSet from PabxTimes where SegNo=7").toString(), "551");

    ASSERT_TRUE(f.ShowView("PabxTimes"));
    edit(4, 1, 1, "66");
    platform::script::answer("要退出系统吗?", platform::rYes);
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rNo);
    EXPECT_THROW(f.NotExit(0), platform::ProgramEnded);
    openDatabases();
    EXPECT_EQ(one("select InnerPercent1 from PabxTimes where SegNo=1").toInt(), 100);
}

TEST_F(SaveGrid, ATrunkTableReadFromTheSwitchReplacesTheFittedTrunksOnly) {
    ModSwitch::BuildNavTree();
    ASSERT_TRUE(frmPABX::instance().ShowView("Relay"));
    dbSwitch.execute("insert into Relay (Address, Switch, Relayno) values(20, 1, '77')");
    ASSERT_TRUE(ModSwitch::CreatePTable("Relay"));
    for (int a = 1; a <= 3; ++a) dbSwitch.execute("insert into pRelay (Address, Relayno) values(?, '99')", {a});
    ParaMode = "UpSend";
    platform::script::answer("要保存上传的参数吗?", platform::rYes);
    EXPECT_TRUE(ModSwitch::SaveSwitchPara(8, true));
    EXPECT_EQ(one("select count(*) from Relay where Address<=16").toInt(), 3);
    EXPECT_EQ(one("select count(*) from Relay where Relayno='99'").toInt(), 3);
    EXPECT_EQ(one("select Relayno from Relay where Address=20").toString(), "77");
    EXPECT_FALSE(dbSwitch.hasTable("pRelay"));
    EXPECT_EQ(ParaMode, "");
}

// ---------------------------------------------------------------- adding and deleting rows

TEST_F(SaveGrid, AddedHeadsFollowTheLastRowUpToTheLimit) {
    dbSwitch.execute("insert into LanHead values('0899',21,4,0,0,0,0)");
    show("LanHead", "select * from LanHead order by headtype desc", kHeadHeader, 1);
    ModSwitch::AddParaRecord(10);
    const int last = g->Rows() - 1;
    EXPECT_EQ(g->TextMatrix(last, 1), "本地出局");
    EXPECT_EQ(g->TextMatrix(last, 0), "");   // the proposal stands in the editor
    EXPECT_EQ(frmPABX::instance().txtModify->text(), "0900");
    EXPECT_FALSE(frmPABX::instance().txtModify->isHidden());
    frmPABX::instance().txtModify->hide();

    for (int i = 0; i < 254; ++i) dbSwitch.execute("insert into LanHead values(?,1,4,0,0,0,0)", {QString::number(10000 + i)});
    showHeads();
    ASSERT_EQ(g->Rows(), 257);
    const QString lastKey = g->TextMatrix(256, 0);
    ModSwitch::AddParaRecord(10);
    EXPECT_EQ(status(), "本机字头不能超过256个");
    EXPECT_EQ(g->Rows(), 257);
    EXPECT_EQ(g->TextMatrix(256, 0), lastKey);
}

// A new user takes the counter and is stored by the save; added since a
// backup, it comes back with its row when the backup is put back.
TEST_F(SaveGrid, AUserAddedSinceABackupComesBackWithTheirRowWhenTheBackupIsPutBack) {
    ModSwitch::PrepareChargeLog();
    const QString backup = dir->file("backup.mdb");
    dbSwitch.backupTo(backup);
    ModSwitch::SetVariant("UserCount", "5");
    showUsers();
    ModSwitch::AddParaRecord(7);
    const int last = g->Rows() - 1;
    const QString id = g->TextMatrix(last, 0);
    EXPECT_EQ(id, "5");
    EXPECT_EQ(GridMouseCol, 1);
    EXPECT_EQ(ModSwitch::GetVariant("UserCount"), "6");
    frmPABX::instance().txtModify->hide();
    edit(1, last, last, "新用户");
    edit(4, last, last, "30");
    ASSERT_TRUE(save(7));
    EXPECT_EQ(one("select username||balancemode||bset from user where userid=5").toString(), "新用户00");
    const QString saved = one("select username||'/'||remain||'/'||deposit||'/'||balancemode from user where userid=" + id).toString();
    const QStringList lines = ModSwitch::RecoverRestoredStationFile(backup, dir->file("PhoneCur.mdb"));
    EXPECT_TRUE(lines.join('\n').contains("以下用户在备份之后新增，已按记账记录重新加入（备份之后为其指定的分机请重新核对）：\n用户" + id + " 新用户"))
        << lines.join('\n').toStdString();
    platform::Database put = platform::Database::open(backup);
    EXPECT_EQ(put.scalar("select username||'/'||remain||'/'||deposit||'/'||balancemode from user where userid=" + id).toString(), saved);
}

TEST_F(SaveGrid, DeletingTakesExactlyTheSelectedRows) {
    frmPABX::instance().setWindowTitle("操作历史记录");
    dbSwitch.execute("delete from tab_oplog");
    for (int i = 0; i < 2; ++i)
        dbSwitch.execute("insert into tab_oplog values('2026-12-07 10:00:00','0000','管理员','保存')");
    show("History", "select * from tab_oplog", ">记录日期|员工编号|员工名称|<操作事件", 0);
    g->setRow(1);
    g->setRowSel(1);
    platform::script::answer("要删除第1条至第1条记录吗?", platform::rYes);
    ModSwitch::DelParaRecord(24);
    EXPECT_EQ(one("select count(*) from tab_oplog where f_memo='保存'").toInt(), 1);
    EXPECT_EQ(one("select f_memo from tab_oplog order by rowid desc limit 1").toString(), "操作历史删除1条记录");

    dbSwitch.execute("insert into LanHead values('6',21,3,0,0,0,0)");
    dbSwitch.execute("update Extension set Head=21, SpringNum='012' where Address=4");
    showHeads();
    g->setRow(1);
    g->setRowSel(2);
    platform::script::answer("要删除第1条至第2条记录吗?", platform::rYes);
    ModSwitch::DelParaRecord(10);
    EXPECT_EQ(status(), "不能删除字头<E>");
    EXPECT_EQ(g->Rows(), 2);
    EXPECT_EQ(g->TextMatrix(1, 0), "E");
    EXPECT_EQ(one("select Head||SpringNum||bSetSpringNum from Extension where Address=4").toString(), "2900121");

    dbSwitch.execute("insert into user (userid, username) values(0, '默认用户')");
    show("User", "select * from User", ">用户编号|>用户名称", 2);
    g->setRow(1);
    g->setRowSel(1);
    platform::script::answer("要删除第1条至第1条记录吗?", platform::rYes);
    ModSwitch::DelParaRecord(7);
    EXPECT_EQ(status(), "不能删除默认用户");

    // A view without a delete rule deletes nothing and asks nothing.
    CurTable = "Extension";
    ModSwitch::DelParaRecord(6);
}

// A deposit typed in 用户管理 and saved (保存) while the disk refuses once: the
// deposit and the balance take it exactly when the save says it is done, and
// it is one entry of the journal.
TEST_F(SaveGrid, ADepositSavedMovesExactlyWhenTheSaveSaysSoWhateverIsRefused) {
    namespace refusal = testsupport::refusal;
    using platform::Currency;
    using Kind = ModSwitch::LogKind;
    ModSwitch::MoveBalances([&] { dbSwitch.execute("insert into user (userid, username, deposit, remain) values(5, 'a', 0, 0)"); });
    Currency deposit;
    refusal::walk(
        [&](int) { return save(7); },
        [&](int, bool said) {
            if (said) deposit += Currency::fromFen(1000);
            EXPECT_EQ(refusal::journalSum(5, int(Kind::Deposit)), deposit) << status().toStdString();
            EXPECT_EQ(refusal::journalSum(5, int(Kind::Balance)), deposit);
            refusal::checkMoney(5, deposit, deposit, Currency());
        },
        refusal::stationFiles(),
        [&](int) {
            ModSwitch::DropTypedDeposits();
            showUsers();
            const int r = row(0, "5");
            ASSERT_GT(r, 0);
            edit(4, r, r, "10");
        });
}

// What an in-place edit of the console grid may put into a cell: the typed
// values checked by their column's title, the chosen options, and how a
// committed value is written into every selected row (the status bar is the
// console's).
class EditRules : public SaveGrid {
protected:
    // A grid of `header` and rows of tab-separated cells; the edit goes to
    // column `col` of rows first..last.
    void grid(const QString& header, const QStringList& rows) {
        g.Clear();
        g.setRows(1);
        g.setFixedRows(1);
        g.setFormatString(header);
        for (const QString& r : rows) g.AddItem(r);
    }
    void edit(int col, int first, int last = -1) {
        GridMouseCol = col;
        GridSelFirst = first;
        GridSelLast = last < 0 ? first : last;
        g.setRow(first);
    }
    QString refused(const QString& typed) {
        const auto r = CheckTextEntry(g, typed);
        return r.ok ? QStringLiteral("accepted:") + r.text : r.message;
    }
    bool edited(int r, int c) const { return g.CellBackColorAt(r, c) == vbColor(ModGeneral::kEditedRowColor); }
    platform::FlexGrid g;   // the edited grid, in place of the console's
};

TEST_F(EditRules, HeadsClashByPrefixLocallyAndExactlyInTheFeeRatesAndAccountsNumbersAndTimesAreChecked) {
    CurTable = "LanHead";
    grid("本机字头|本机类别|号长|延时|路由1|路由2", {"86\t本局1\t2\t10\t0\t0", "7\t本局2\t2\t10\t0\t0", "E\t本局闭锁\t4\t0\t0\t0"});
    edit(0, 2);
    EXPECT_EQ(refused("8"), "本机字头有重复：8=86");
    EXPECT_EQ(refused("7"), "accepted:7");   // its own old value
    EXPECT_EQ(refused("123456789"), "请输入E,*,或1-8位的数值");
    EXPECT_EQ(refused(""), "此项数据不能为空");   // a key once given is not emptied
    g.AddItem("\t本局3\t2\t10\t0\t0");
    edit(0, 4);
    EXPECT_EQ(refused(""), "accepted:");   // a new row's key may stay empty
    // The flexible head's row keeps its digits, whatever is typed: lower-case e included.
    platform::script::answer("不能修改本机字头", platform::rOK);
    edit(0, 3);
    EXPECT_EQ(refused("e"), "accepted:E");
    edit(2, 2);
    EXPECT_EQ(refused(""), "此项数据不能为空");
    EXPECT_EQ(refused("9"), "此项数据只能是0-8之间的数");
    edit(5, 2);
    EXPECT_EQ(refused("300"), "此项数据只能是0-255之间的数");
    edit(3, 2);
    EXPECT_EQ(refused("007"), "accepted:7");
    EXPECT_EQ(refused("-1"), "此项数据只能是0-255之间的数");

    CurTable = "CityHead";
    edit(5, 2);
    EXPECT_EQ(refused("300"), "accepted:300");

    CurTable = "PabxFeeRate";
    grid("费率字头|费率类型|费率等级|首次时间|首次价格", {"86\t本地1\t市话\t180\t0.20", "5\t本地1\t市话\t180\t0.20"});
    edit(0, 2);
    EXPECT_EQ(refused("8"), "accepted:8");
    EXPECT_EQ(refused("86"), "费率字头有重复：86=86");
    edit(4, 2);
    EXPECT_EQ(refused("650"), "accepted:650");
    for (const char* bad : {"650.01", "-5", "1e3", "0x1A", "12,5", " 12", "12."})
        EXPECT_EQ(refused(bad), "请输入0-650之间的数值") << bad;

    // Accounts, flexible numbers and times.
    CurTable = "Account";
    grid("物理地址|帐号|等级一|等级二|押金等级|闭锁|清密码|所属用户", {"2048\t0012\t\t\t\tOFF\tOFF\t默认用户", "2049\tFFFF\t\t\t\tOFF\tOFF\t默认用户"});
    edit(1, 2);
    EXPECT_EQ(refused("FFFF"), "accepted:FFFF");
    EXPECT_EQ(refused("12345"), "请输入0-9999之间的数值");
    EXPECT_EQ(refused("12a"), "请输入0000-9999之间的数值");
    EXPECT_EQ(refused("12"), "帐号已存在，请重新输入");

    dbSwitch.execute("insert into LanHead values('8',20,3,0,0,0,0)");
    CurTable = "Extension";
    grid("物理地址|字头|弹性号码|叫醒时间", {"0\t8\t8000\t", "1\t8\t8013\t", "2\tE\tE0002\t"});
    edit(2, 1);
    EXPECT_EQ(refused("8012"), "accepted:012");
    EXPECT_EQ(refused("12"), "accepted:012");
    EXPECT_EQ(refused("12345"), "accepted:345");
    EXPECT_EQ(refused("13"), "8013已经存在,请重新输入弹性号码");
    EXPECT_EQ(refused("1A"), "请输入数字");
    edit(2, 3);
    EXPECT_EQ(refused("E12"), "accepted:0012");   // flexible numbers: no uniqueness test

    edit(3, 1);
    for (const char* bad : {"24:00", "8:60", "830", "8:3"}) EXPECT_EQ(refused(bad), "请输入正确的时间,如23:59") << bad;
    ASSERT_EQ(refused("8:30"), "accepted:8:30");
    ModSwitch::SaveCellEdit(g, "8:30");
    EXPECT_EQ(g.TextMatrix(1, 3), "08:30");
}

TEST_F(EditRules, GradesKeepTheirOrderLocalClassesAreUniqueAndTheFlexibleRowStaysLocked) {
    CurTable = "Extension";
    // Grade positions: 国际长途 2, 市话 8, 本局 10.
    grid("物理地址|等级一|密码等级", {"0\t市话\t市话"});
    edit(1, 1);
    EXPECT_EQ(CheckOptionEntry(g, "本局", 16).message, "<等级一>级别不能小于<密码等级>");
    EXPECT_TRUE(CheckOptionEntry(g, "国际长途", 16).ok);
    edit(2, 1);
    EXPECT_EQ(CheckOptionEntry(g, "国际长途", 16).message, "<密码等级>级别不能大于<等级一>");
    // Hidden by the column choice: the stored grade decides.
    dbSwitch.execute("update Extension set pwdgrade=2, firstgrade=2 where Address=0");
    grid("物理地址|等级一", {"0\t国际长途"});
    edit(1, 1);
    EXPECT_FALSE(CheckOptionEntry(g, "市话", 16).ok);
    CurTable = "Account";   // only extensions keep this order
    EXPECT_TRUE(CheckOptionEntry(g, "市话", 16).ok);
    // An empty choice is refused silently, but empties a 等级二.
    EXPECT_EQ(CheckOptionEntry(g, "", 16).message, "");
    EXPECT_FALSE(CheckOptionEntry(g, "", 16).ok);
    grid("物理地址|等级二", {"0\t市话"});
    edit(1, 1);
    EXPECT_TRUE(CheckOptionEntry(g, "", 16).ok);

    // Local classes are unique, and the flexible head's row stays locked.
    CurTable = "LanHead";
    grid("本机字头|本机类别", {"8\t本局1", "6\t本局2", "9\t本地出局", "E\t本局闭锁"});
    edit(1, 2);
    EXPECT_EQ(CheckOptionEntry(g, "本局1", 22).message, "本机类别<本局1>已存在");
    EXPECT_TRUE(CheckOptionEntry(g, "本地出局", 22).ok);   // other classes repeat
    edit(1, 4);
    const auto r = CheckOptionEntry(g, "本地出局", 22);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "本局闭锁");

    CurTable = "CityHead";
    grid("市话字头|市话类别", {"62\t本地局号", "621\t本地局号", "7\t本局3"});
    edit(1, 1);
    EXPECT_EQ(CheckOptionEntry(g, "本局2", 20).message, "如果市话类别改为<本局2>时字头有重复:621=62");
    grid("市话字头|市话类别", {"62\t本地局号", "7\t本局3"});
    EXPECT_EQ(CheckOptionEntry(g, "本局3", 20).message, "市话类别<本局3>已存在");
    EXPECT_TRUE(CheckOptionEntry(g, "国内长途", 20).ok);
}

TEST_F(EditRules, AHeadChangeRenumbersTheSelectedRowsAndStopsWhereNumbersRunOut) {
    dbSwitch.execute("insert into LanHead values('8',20,3,0,0,0,0)");
    dbSwitch.execute("insert into LanHead values('6',21,3,0,0,0,0)");
    dbSwitch.execute("insert into LanHead values('5',22,1,0,0,0,0)");
    CurTable = "Extension";
    grid("物理地址|字头|弹性号码", {"0\t8\t8012", "1\t8\t8012", "2\t6\t6013"});
    edit(1, 1, 2);
    ASSERT_TRUE(CheckOptionEntry(g, "6", 3).ok);
    // The first row clashes with the second and takes the lowest free number
    // from its own; the second keeps its digits.
    EXPECT_EQ(g.TextMatrix(1, 2), "6014");
    EXPECT_EQ(g.TextMatrix(2, 2), "6012");

    // Head 5 has ten one-digit numbers, all taken outside the selection.
    QStringList rows;
    for (int i = 0; i < 10; ++i) rows << QStringLiteral("%1\t5\t5%2").arg(i).arg(i);
    rows << "10\t8\t8003";
    grid("物理地址|字头|弹性号码", rows);
    edit(1, 11);
    const auto r = CheckOptionEntry(g, "5", 3);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.message, "字头 5 的弹性号码最大个数为10个");
    EXPECT_EQ(GridSelLast, 10);   // no row takes the head
    ModSwitch::SaveCellEdit(g, r.text);
    EXPECT_EQ(g.TextMatrix(11, 1), "8");
}

TEST_F(EditRules, ACommitReachesEverySelectedRowPaintsWhatChangedAndWritesAnOwnerAtOnce) {
    CurTable = "Account";
    QStringList rows;
    for (int i = 0; i < 8; ++i) rows << QStringLiteral("%1\tFFFF\t\t\t\t%2\tOFF\t默认用户").arg(2048 + i).arg(i == 4 ? "ON" : "OFF");
    grid("物理地址|帐号|等级一|等级二|押金等级|闭锁|清密码|所属用户", rows);
    edit(5, 3, 7);
    ModSwitch::SaveCellEdit(g, "ON");
    for (int r = 3; r <= 7; ++r) EXPECT_EQ(g.TextMatrix(r, 5), "ON");
    EXPECT_TRUE(edited(3, 1));
    EXPECT_FALSE(edited(5, 1));   // it was ON already
    EXPECT_FALSE(edited(8, 1));
    EXPECT_TRUE(g_Modified);

    CurTable = "User";
    g_Modified = false;
    grid("用户编号|用户名称|上次结算日期|结算方式|预付押金|押金余额|透支额", {"1\t甲\t\t押金用户\t50.00\t20.00\t12.50"});
    edit(4, 1);
    ModSwitch::SaveCellEdit(g, "100");
    ModSwitch::SaveCellEdit(g, "100");
    EXPECT_EQ(g.TextMatrix(1, 4), "250.00");
    EXPECT_EQ(g.TextMatrix(1, 5), "220.00");
    EXPECT_EQ(ModSwitch::TypedDeposits().value(1), platform::Currency::fromYuan(200));
    edit(6, 1);
    g.setRowBackColor(1, g.BackColor());
    ModSwitch::SaveCellEdit(g, "12.5");
    EXPECT_FALSE(edited(1, 1));

    CurTable = "Extension";
    grid("物理地址|字头|弹性号码|来电显示|闭锁", {"0\tE\tE0000\tOFF\tOFF"});
    edit(4, 1);
    ModSwitch::SaveCellEdit(g, "ON");
    EXPECT_TRUE(edited(1, 3));
    EXPECT_FALSE(edited(1, 2));
    edit(2, 1);
    ModSwitch::SaveCellEdit(g, "0007");
    EXPECT_EQ(g.TextMatrix(1, 2), "E0007");
    EXPECT_TRUE(edited(1, 1) && edited(1, 2));

    // An owner is written at once; a user gone meanwhile changes nothing.
    dbSwitch.execute("insert into user (userid, username, balancemode) values(7, 'a-b', 1)");
    CurTable = "Extension";
    grid("物理地址|字头|弹性号码|押金等级|所属用户", {"3\tE\tE0003\t\t默认用户"});
    edit(4, 1);
    ModSwitch::SaveCellEdit(g, "a-b-7");
    EXPECT_EQ(g.TextMatrix(1, 4), "a-b");
    EXPECT_EQ(dbSwitch.scalar("select userid from Extension where Address=3").toInt(), 7);
    EXPECT_FALSE(edited(1, 1));
    ModSwitch::SaveCellEdit(g, "gone-9");
    EXPECT_EQ(g.TextMatrix(1, 4), "a-b");
    EXPECT_EQ(dbSwitch.scalar("select userid from Extension where Address=3").toInt(), 7);
    EXPECT_EQ(frmPABX::instance().sbrInfo->panelText(2), "用户不存在");
}

TEST_F(EditRules, ADepositIsTypedToTheFenAndKeepsWithinTheRangeOfMoney) {
    CurTable = "User";
    grid("用户编号|用户名称|上次结算日期|结算方式|预付押金|押金余额", {"1\t甲\t\t押金用户\t50.00\t20.00",
                                                             "2\t乙\t\t押金用户\t99999990.00\t0.00"});
    edit(4, 1);
    EXPECT_EQ(refused("-99999999999999"), "请输入-1亿至1亿之间的数值");
    EXPECT_EQ(refused("100000000.01"), "请输入最大为1亿的数值");
    EXPECT_EQ(refused("-100000000"), "accepted:-100000000");
    // What the cells would hold is bounded as well: entries never add up beyond it.
    edit(4, 1, 2);
    EXPECT_EQ(refused("10.01"), "金额超出范围，预付押金和押金余额须在-1亿至1亿之间");
    EXPECT_EQ(refused("10"), "accepted:10");
    // Less than a fen is rounded to the fen, as the cell shows it.
    edit(4, 1);
    EXPECT_EQ(refused("12.345"), "accepted:12.35");
    EXPECT_EQ(refused("0.004"), "accepted:0");
    ModSwitch::DropTypedDeposits();
    ModSwitch::SaveCellEdit(g, "12.345");
    ModSwitch::SaveCellEdit(g, "0.004");
    EXPECT_EQ(g.TextMatrix(1, 4), "62.35");
    EXPECT_EQ(g.TextMatrix(1, 5), "32.35");
    EXPECT_EQ(ModSwitch::TypedDeposits().value(1), platform::Currency::parse("12.35").value());
}

}  // namespace
