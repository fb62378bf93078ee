// What an in-place edit of the console grid may put into a cell: the typed
// values checked by their column's title, the chosen options, and how a
// committed value is written into every selected row.
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "params/CellEdit.h"
#include "params/EntryRules.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using ModSwitch::CheckOptionEntry;
using ModSwitch::CheckTextEntry;
using platform::vbColor;

class EditRules : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        ModSwitch::LoadSysPara();
        WorkerRights = {QStringLiteral("0")};
        frmPABX::instance();   // the status bar is the console's
    }
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
    platform::FlexGrid g;
};

TEST_F(EditRules, HeadsClashByPrefixInTheLocalTableAndOnlyExactlyInTheFeeRates) {
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
}

TEST_F(EditRules, AccountsFlexibleNumbersAndTimes) {
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

TEST_F(EditRules, GradesKeepTheirOrderWhetherOrNotTheOtherGradeIsShown) {
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

TEST_F(EditRules, LocalClassesAreUniqueAndTheFlexibleRowStaysLocked) {
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

TEST_F(EditRules, ACommitReachesEverySelectedRowAndPaintsWhatChanged) {
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
}

TEST_F(EditRules, AnOwnerIsWrittenAtOnceAndAUserGoneMeanwhileChangesNothing) {
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

}  // namespace

namespace {

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
