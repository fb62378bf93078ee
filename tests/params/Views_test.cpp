// The table views of the console grid on a fresh station: what they select,
// how they decode stored codes, which rows they colour, and their limits.
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/ModUpgrade.h"
#include "core/frmPicClip.h"
#include "core/frmProgress.h"
#include "link/ModComm.h"
#include "link/Monitor.h"
#include "link/MonitorSink.h"
#include "link/frmSRV.h"
#include "params/BoardPanel.h"
#include "params/ColumnChooser.h"
#include "params/NavTree.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "support/Fixtures.h"

#include <QAction>
#include <QApplication>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using platform::vbColor;

class Views : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        openDatabases();
        ModSwitch::LoadSysPara();
        grid = frmPABX::instance().fgDisp;
    }
    QString status() const { return frmPABX::instance().sbrInfo->panelText(2); }
    bool pending(int r, int c) const { return grid->CellBackColorAt(r, c) == vbColor(ModGeneral::kPendingRowColor); }
    struct Cell {
        int row, col;
        QString text;
    };
    // Each cell as the grid shows it.
    void cells(std::initializer_list<Cell> want) const {
        for (const Cell& c : want) EXPECT_EQ(grid->TextMatrix(c.row, c.col), c.text) << c.row << ',' << c.col;
    }
    struct Mark {
        int row, col;
        bool waits;
    };
    // Whether each cell is coloured as waiting for download.
    void marks(std::initializer_list<Mark> want) const {
        for (const Mark& m : want) EXPECT_EQ(pending(m.row, m.col), m.waits) << m.row << ',' << m.col;
    }
    int col(const QString& title) const {
        for (int c = 0; c < grid->Cols(); ++c)
            if (grid->TextMatrix(0, c) == title) return c;
        return -1;
    }
    platform::FlexGrid* grid = nullptr;
};

TEST_F(Views, HeadViewDecodesAndColoursTheFlaggedRowWhateverTheTableOrder) {
    // Stored in an order that differs from the view's.
    dbSwitch.execute("insert into LanHead values('9',21,3,0,0,0,0)");
    dbSwitch.execute("insert into LanHead values('B12C',2,4,0,1,2,-1)");
    dbSwitch.execute("insert into LanHead values('8',20,3,0,0,0,0)");
    CurTable = "LanHead";
    ModGeneral::ShowTable(*grid, "Select * From LanHead order by headtype,headid,length(headid)",
                          ">本机字头     |<本机类别       |>号长             |>延时              |>路由1                |>路由2                     ",
                          0, 1, true);
    ASSERT_EQ(grid->Rows(), 5);
    ASSERT_EQ(grid->Cols(), 6);
    cells({{0, 1, "本机类别"}, {1, 0, "*12#"}, {1, 1, LanHeadTypeList.value(2)}, {2, 0, "8"}, {2, 1, "本局1"}, {3, 1, "本局2"},
           {4, 0, "E"}});
    // Only the flagged head, at the top of the view, waits for download.
    marks({{1, 0, true}, {1, 5, true}});
    for (int r = 2; r <= 4; ++r) EXPECT_FALSE(pending(r, 0)) << r;
    // Header alignment: HeadType left, the others right.
    EXPECT_EQ(grid->CellAlignmentAt(0, 1), 1);
    EXPECT_EQ(grid->CellAlignmentAt(0, 2), 7);
}

// The chosen columns decoded, unknown codes as their number, and the pending
// parts of a row coloured separately; then bad SQL over the view.
TEST_F(Views, ExtensionViewShowsTheChosenColumnsDecoded) {
    dbSwitch.execute("update Extension set \"Limit\"=5, HotJump=119, busyjump=125, leavejump=126, VNum='8B1', userid=3 where Address=2");
    dbSwitch.execute("insert into user (userid, username) values(3, '张三')");
    dbSwitch.execute("update Extension set exttype=9, phonetype=200, firstgrade=99 where Address=0");
    dbSwitch.execute("update Extension set bSetSpringNum=1 where Address=3");
    dbSwitch.execute("update Extension set bset=1 where Address=4");
    CurTable = "Extension";
    EXPECT_EQ(ModSwitch::ShowExtGrid(*grid, "Extension", true), 120);
    ASSERT_EQ(grid->Rows(), 121);
    cells({{0, 0, "物理地址"}, {3, 0, "2"}, {3, 1, "E"}, {3, 2, "E0002"}, {3, col("通话限时"), "内线,市话"},
           {3, col("内部热线"), "E0119"}, {3, col("遇忙转移"), "转虚拟网"}, {3, col("离位转移"), "禁止设置"}, {3, col("久叫转移"), "没有设置"},
           {3, col("虚拟号码"), "8*1"}, {3, col("所属用户"), "张三"}, {4, col("所属用户"), "默认用户"}, {3, col("等级一"), "市话"},
           {3, col("分机类型"), "普通分机"}, {3, col("来电显示"), "OFF"}});
    cells({{1, col("分机类型"), "9"}, {1, col("话机类型"), "200"}, {1, col("等级一"), "99"}});
    EXPECT_EQ(CurSQL.left(40), "Select Address,Head,SpringNum,firstgrade");
    EXPECT_TRUE(CurSQL.endsWith(" From Extension where address<? order by address")) << CurSQL.toStdString();
    ASSERT_EQ(CurSQLParams.size(), 1);
    EXPECT_EQ(CurSQLParams[0].v.toInt(), 120);
    // Address 3: number part only.
    marks({{4, 1, true}, {4, 2, true}, {4, 3, false}});
    // Address 4: the parameters only.
    marks({{5, 2, false}, {5, 3, true}, {5, grid->Cols() - 1, true}, {6, 3, false}});

    // Bad SQL is reported.
    CurTable = "LanHead";
    ModGeneral::ShowTable(*grid, "select * from NoSuchTable", ">a|>b", 0, 0);
    EXPECT_EQ(grid->Rows(), 1);
    EXPECT_TRUE(status().startsWith("载入出错:")) << status().toStdString();
    // A table name that is not a plain name never reaches a statement.
    EXPECT_THROW(ModSwitch::ShowPabxTimes(*grid, "PabxTimes; drop table user", true), platform::DbError);
    EXPECT_TRUE(dbSwitch.hasTable("user"));
}

TEST_F(Views, TrunkViewDecodesNumbersAndGroupListsAndTheBoundsFollowTheRack) {
    dbSwitch.execute("update Relay set Relayno='B5C', groupphone='3,5', daystart=7, dialmodeday=2, bSet=1 where Address=2");
    CurTable = "Relay";
    EXPECT_EQ(ModSwitch::ShowRelayGrid(*grid, "Relay", true), 16);
    EXPECT_EQ(grid->Rows(), 17);
    EXPECT_TRUE(CurSQL.endsWith(" From Relay where address<=? order by address")) << CurSQL.toStdString();
    cells({{2, col("中继号码"), "*5#"}, {2, col("群呼分机"), "E0003,E0005"}, {2, col("始呼分机1"), "E0007"}, {2, col("转接1"), "群呼"},
           {1, col("群呼分机"), ""}});
    marks({{2, 1, true}, {1, 1, false}});
    // Every header cell of the chooser views is left-aligned.
    EXPECT_EQ(grid->CellAlignmentAt(0, 0), 1);
    // Two trunk boards: trunks 1 to 8.
    dbSwitch.execute("update MonCard set dispcard=15 where cardorder in (3,4)");
    EXPECT_EQ(ModSwitch::ShowRelayGrid(*grid, "Relay", true), 8);
    EXPECT_EQ(grid->Rows(), 9);
    EXPECT_EQ(grid->TextMatrix(8, 0), "8");
    // No subscriber board: no extension row.
    dbSwitch.execute("update MonCard set dispcard=15 where dispcard=0");
    CurTable = "Extension";
    EXPECT_EQ(ModSwitch::ShowExtGrid(*grid, "Extension", true), 0);
    EXPECT_EQ(grid->Rows(), 2);
    EXPECT_EQ(grid->TextMatrix(1, 0), "");
    // A special-telephone board in the last slot keeps the full bound.
    dbSwitch.execute("update MonCard set dispcard=11 where cardorder=21");
    EXPECT_EQ(ModSwitch::ShowExtGrid(*grid, "Extension", false), 120);
}

// An empty result shows one empty row; an empty header takes the titles
// from the list. Twenty thousand records are shown, one more are not: the
// view shows its own titles over no rows.
TEST_F(Views, EmptyResultEmptyHeaderAndAViewOverTheLimit) {
    CurTable = "Shrink";
    ModGeneral::ShowTable(*grid, "select * from Shrink", ">物理地址|>缩位字头", 0, 1);
    EXPECT_EQ(grid->Rows(), 2);
    EXPECT_EQ(grid->Cols(), 2);
    EXPECT_FALSE(pending(1, 1));
    dbSwitch.execute("insert into Shrink values(4, '12B', 1)");
    ModGeneral::ShowTable(*grid, "select * from Shrink", "", 0, 1);
    cells({{0, 1, "缩位字头"}, {1, 1, "12*"}});
    EXPECT_TRUE(pending(1, 1));
    EXPECT_FALSE(pending(1, 0));   // the key column is fixed
    dbSwitch.execute("create table big (n INTEGER, t TEXT, u TEXT)");
    dbSwitch.execute("with recursive c(x) as (select 1 union all select x+1 from c where x<19999) "
                     "insert into big select x, 'a', 'b' from c");
    CurTable = "History";
    ModGeneral::ShowTable(*grid, "select n from big", ">n", 0, 0);
    EXPECT_EQ(grid->Rows(), 20000);
    EXPECT_EQ(grid->TextMatrix(19999, 0), "19999");
    EXPECT_NE(status(), "记录数过多");
    dbSwitch.execute("insert into big values(20000, 'a', 'b')");
    ModGeneral::ShowTable(*grid, "select * from big", ">编号|<名称|<备注", 0, 0);
    EXPECT_EQ(status(), "记录数过多");
    EXPECT_EQ(grid->Rows(), 1);
    ASSERT_EQ(grid->Cols(), 3);
    cells({{0, 0, "编号"}, {0, 1, "名称"}, {0, 2, "备注"}});
}

TEST_F(Views, PendingColoursFollowEachRowsKeyWhateverFlagTheViewReads) {
    for (int u = 1; u <= 3; ++u)
        dbSwitch.execute("insert into user (userid, username, bset) values(?, ?, ?)", {u, QString("用户%1").arg(u), u == 2});
    CurTable = "User";
    // The flag beside each user is the next user's: the colour is still the row's own.
    ModGeneral::ShowTable(*grid, "select u.userid, u.username, v.bset from User u, User v where v.userid = u.userid + 1 "
                          "order by u.userid", ">编号|>名称", 0, 1);
    ASSERT_EQ(grid->Rows(), 3);
    marks({{1, 1, false}, {2, 1, true}});
    // The view's own flags, in an order of its own.
    ModGeneral::ShowTable(*grid, "select userid, username, bset from User order by username desc", ">编号|>名称", 0, 1);
    ASSERT_EQ(grid->Rows(), 4);
    EXPECT_EQ(grid->TextMatrix(2, 0), "2");
    marks({{2, 1, true}, {1, 1, false}, {3, 1, false}});
}

TEST_F(Views, RouteViewsColourTheirOwnRouteAndAppendKeepsTheHeader) {
    dbSwitch.execute("insert into AddHead values(1, 5, '9B', 1)");
    dbSwitch.execute("insert into AddHead values(2, 5, '8', 0)");
    dbSwitch.execute("insert into AddHead values(2, 300, '7C', 1)");
    CurTable = "Router2";
    const QString header = ">物理地址|>加发字头" + QString(98, ' ');
    ModGeneral::ShowTable(*grid, "Select PortAddr,AddHead,bSet From AddHead where Router=? order by PortAddr", header, 0,
                          1, true, {2});
    ASSERT_EQ(grid->Rows(), 3);
    EXPECT_EQ(grid->TextMatrix(1, 1), "8");
    EXPECT_FALSE(pending(1, 1));   // route 1's port 5 waits, not route 2's
    EXPECT_EQ(grid->TextMatrix(2, 1), "7#");
    EXPECT_TRUE(pending(2, 1));
    EXPECT_GT(grid->ColWidth(1), grid->ColWidth(0));

    ModGeneral::ShowTable(*grid, "Select PortAddr,AddHead,bSet From AddHead where Router=1", "", 1, 1);
    ASSERT_EQ(grid->Rows(), 4);
    cells({{0, 1, "加发字头"}, {3, 1, "9*"}});
}

TEST_F(Views, DepositViewsDecodeTheExtensionNumberByAddress) {
    dbSwitch.execute("create table extdeposithistory (changedate DATETIME, extaddr INTEGER, changevalue CURRENCY NOT NULL DEFAULT 0)");
    dbSwitch.execute("insert into extdeposithistory values('2026-03-04 05:06:07', 7, ?)", {platform::Currency::parse("-12.5").value()});
    dbSwitch.execute("insert into extdeposithistory values('2026-03-04 05:06:08', 200, 0)");
    CurTable = "ExtDepositHistory";
    // The column before it has an option list of its own.
    ModGeneral::ShowTable(*grid, "select changedate, extaddr, changevalue from extdeposithistory order by changedate",
                          "修改日期                |分机号码|修改金额   ", 0, 0);
    cells({{1, 0, "2026-03-04 05:06:07"}, {1, 1, "E0007"}, {2, 1, "****"}, {1, 2, "-12.50"}});

    // The deposits of the other model join their extensions' numbers.
    SwitchModel = 2;
    ASSERT_EQ(ModUpgrade::CreateTable(dbSwitch, "ExtDeposit", false), 2);
    dbSwitch.execute("insert into ExtDeposit values(3, '', ?, ?, 1, 0, 1)",
                     {platform::Currency::parse("-12.34").value(), platform::Currency::fromYuan(50)});
    dbSwitch.execute("insert into ExtDeposit values(1, '', 0, 0, 0, 1, 0)");
    CurTable = "ExtDeposit";
    EXPECT_EQ(ModSwitch::ShowExtDeposit(*grid, "ExtDeposit", true), 0);
    ASSERT_EQ(grid->Rows(), 3);
    ASSERT_EQ(grid->Cols(), 6);
    cells({{1, 1, "E0001"}, {1, 5, "ON"}, {2, 0, "3"}, {2, 2, "-12.34"}, {2, 3, "50.00"}, {2, 4, "ON"}});
    marks({{2, 1, true}, {1, 1, false}});
}

TEST_F(Views, SwitchRatesAndSegmentsByModel) {
    dbSwitch.execute("insert into PabxFeeRate values('0B1', 6, 13, 60, ?, 60, ?, 0, 0, 10, 1)",
                     {platform::Currency::parse("0.3").value(), platform::Currency::parse("1.255").value()});
    CurTable = "PabxFeeRate";
    EXPECT_EQ(ModSwitch::ShowPabxFeeRate(*grid, "PabxFeeRate", true), 0);
    EXPECT_EQ(CurSQL, "select * from PabxFeeRate");
    ASSERT_EQ(grid->Cols(), 10);
    cells({{1, 0, "0*1"}, {1, 1, "移动2"}, {1, 2, "禁止使用"}, {1, 4, "0.30"}, {1, 6, "1.26"}});
    EXPECT_TRUE(pending(1, 0));
    SwitchModel = 2;
    ModSwitch::ShowPabxFeeRate(*grid, "PabxFeeRate", true);
    EXPECT_EQ(grid->Cols(), 9);
    EXPECT_EQ(grid->TextMatrix(1, 1), "移动");   // 6 AND 3

    SwitchModel = 0;
    dbSwitch.execute("update PabxTimes set DayTimes=1, bSet=1 where SegNo=8");
    CurTable = "PabxTimes";
    ModSwitch::ShowPabxTimes(*grid, "PabxTimes", true);
    ASSERT_EQ(grid->Rows(), 9);
    EXPECT_EQ(grid->Cols(), 12);
    cells({{6, 0, "6"}, {7, 0, "周六"}, {8, 0, "周日"}, {8, 1, "时段2"}, {1, 1, "空"}});
    marks({{8, 1, true}, {7, 1, false}});
    SwitchModel = 2;
    ModSwitch::ShowPabxTimes(*grid, "PabxTimes", true);
    EXPECT_EQ(grid->Cols(), 8);
}

// The user view's columns as the console lays them out.
const char* const kUserColumns =
    ">用户编号|>用户名称    |>上次结算日期        |>结算方式   |预付押金  |押金余额  |>透支额    |>月租费    |>所属部门   |>打印即时话单|>闭锁";

TEST_F(Views, UserViewShowsMoneyAndSettlementTexts) {
    dbSwitch.execute("insert into user (userid, username, lastdate, balancemode, deposit, remain, locked, bset) "
                     "values(4, '乙', '2026-01-31 23:59:59', 1, ?, ?, 1, 1)",
                     {platform::Currency::fromYuan(100), platform::Currency::parse("-3.456").value()});
    CurTable = "User";
    ModGeneral::ShowTable(*grid, "select * from User",
                          kUserColumns,
                          0, 2, true);
    ASSERT_EQ(grid->Cols(), 11);
    cells({{1, 2, "2026-01-31 23:59:59"}, {1, 3, "按月用户"}, {1, 4, "100.00"}, {1, 5, "-3.46"}, {1, 10, "ON"}});
    EXPECT_TRUE(pending(1, 1));
    EXPECT_FALSE(grid->CellBackColorAt(1, 0) == vbColor(ModGeneral::kPendingRowColor));   // the fixed column
    EXPECT_EQ(grid->Col(), 1);   // a coloured row puts the current column back to the first non-fixed one

    // Row after row the cells are written anew: a shorter text after a longer
    // one, sums that round to a fen either way, a department as stored.
    dbSwitch.execute("insert into user (userid, username, lastdate, remain, overdraft, deptname) "
                     "values(5, 'Alexander', '2026-02-03 04:05:06', ?, ?, '销售部')",
                     {platform::Currency::fromRaw(-50), platform::Currency::fromRaw(1234567895)});
    dbSwitch.execute("insert into user (userid, username, lastdate, remain) values(1234567, 'Bo', '2026-03-04', ?)",
                     {platform::Currency::fromRaw(49)});
    ModGeneral::ShowTable(*grid, "select * from User",
                          kUserColumns,
                          0, 2, true);
    ASSERT_EQ(grid->Rows(), 4);
    cells({{2, 1, "Alexander"}, {2, 5, "-0.01"}, {2, 6, "123456.79"}, {2, 8, "销售部"}, {3, 0, "1234567"}, {3, 1, "Bo"},
           {3, 2, "2026-03-04 00:00:00"}, {3, 5, "0.00"}});
}

// Counts the progress windows shown.
struct ProgressWatch : QObject {
    ProgressWatch() { qApp->installEventFilter(this); }
    ~ProgressWatch() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->objectName() == QLatin1String("frmProgress")) ++shown;
        return false;
    }
    int shown = 0;
};

TEST_F(Views, ALargeUserViewShowsTheUsersAsReadAtItsLoadWithoutAProgressWindow) {
    {
        platform::Transaction tx(dbSwitch);
        for (int i = 1; i <= 3000; ++i)
            dbSwitch.execute("insert into user (userid, username, lastdate, remain) values(?, ?, '2026-01-01 00:00:00', ?)",
                             {i, QStringLiteral("用户%1").arg(i), platform::Currency::fromRaw(i * 100)});
        tx.commit();
    }
    const qint64 was = ModGeneral::testing::setLoadProgressAfter(0);
    ProgressWatch watch;
    CurTable = "User";
    ModGeneral::ShowTable(*grid, "select * from User", kUserColumns, 0, 2, true);
    EXPECT_EQ(watch.shown, 0);
    ASSERT_EQ(grid->Rows(), 3001);
    // Users changed or deleted after the load: the rows show them as read.
    dbSwitch.execute("update user set username='改名', remain=0 where userid=2999");
    dbSwitch.execute("delete from user where userid=1500");
    cells({{2999, 1, "用户2999"}, {2999, 5, "29.99"}, {1500, 0, "1500"}, {1500, 2, "2026-01-01 00:00:00"}});
    ModGeneral::ShowTable(*grid, "select * from User", kUserColumns, 0, 2, true);
    ASSERT_EQ(grid->Rows(), 3000);
    cells({{2998, 1, "改名"}, {2998, 5, "0.00"}});

    // A view whose cells are looked up in the station while it fills still
    // shows its progress once the fill runs long, and gives the console back.
    CurTable = "Extension";
    ModSwitch::ShowExtGrid(*grid, "Extension", true);
    EXPECT_EQ(watch.shown, 1);
    EXPECT_FALSE(frmProgress::exists());
    EXPECT_TRUE(frmPABX::instance().isEnabled());
    ModGeneral::testing::setLoadProgressAfter(was);
}

TEST_F(Views, NextUserNumberNeverReusesAUser) {
    // No counter and no user: the first number is 0.
    EXPECT_EQ(ModSwitch::NextUserCount(), 0);
    EXPECT_EQ(ModSwitch::GetVariant("UserCount"), "1");
    // The default user exists and the counter is gone: one above the largest.
    dbSwitch.execute("insert into user (userid, username) values(0, '默认用户')");
    dbSwitch.execute("insert into user (userid, username) values(5, '丙')");
    dbSwitch.execute("delete from Variant where varname='UserCount'");
    EXPECT_EQ(ModSwitch::NextUserCount(), 6);
    EXPECT_EQ(ModSwitch::GetVariant("UserCount"), "7");
    // A counter pointing at an existing user is not taken.
    ModSwitch::SetVariant("UserCount", "0");
    EXPECT_EQ(ModSwitch::NextUserCount(), 6);
    // A free counter is used as it is.
    ModSwitch::SetVariant("UserCount", "9");
    EXPECT_EQ(ModSwitch::NextUserCount(), 9);
    EXPECT_EQ(ModSwitch::GetVariant("UserCount"), "10");
}

TEST_F(Views, CallRecordsGoInNewestLast) {
    dbSwitch.execute("insert into user (userid, username) values(2, '丁')");
    dbSwitch.execute("create table calls (f_userid LONG, f_calladdr INTEGER, f_zh TEXT(4), f_resp TEXT(20), F_Memo TEXT(20), "
                     "f_date DATETIME, f_long LONG, f_yj CURRENCY, f_phmode BYTE, f_moneny CURRENCY, f_addfee1 CURRENCY, "
                     "f_addfee2 CURRENCY, f_gatefee CURRENCY, f_linkfee CURRENCY, f_zjaddr INTEGER, f_indjh TEXT(4))");
    dbSwitch.execute("insert into calls values(2, 5, '12', '01012345678', '北京', '2026-05-01 10:00:00', 3725, 50000, 2, 12000, 0, 0, 0, 0, 1, '')");
    dbSwitch.execute("insert into calls values(9, 300, '0', '114', '', '2026-05-01 09:00:00', 5, 0, 6, 0, 0, 0, 0, 0, 2, '')");
    platform::Recordset rs = dbSwitch.query(
        "select f_userid,f_calladdr,f_zh,f_resp,F_Memo,f_date,f_long,f_yj,f_phmode,"
        "f_moneny+f_addfee1+f_addfee2+f_gatefee+f_linkfee as SumFee,f_moneny,f_addfee1,f_addfee2,f_gatefee,f_linkfee,"
        "f_zjaddr,f_indjh from calls order by f_date desc");
    grid->setRows(0);
    grid->setFormatString("<主叫名称|>主叫分机|^帐号|对方号码         |<地名    |>通话日期            |>通话时长 |>帐户余额|<话单类型|>总话费  |>基本费  |>附加费1|>附加费2|>手续费|>IP接入费|>中继号|>间接局");
    grid->setRows(2);
    ModSwitch::ShowBillGrid(rs);
    ASSERT_EQ(grid->Rows(), 4);
    // The newest record was read first and pushed down by the older one.
    cells({{2, 0, "丁"}, {2, 1, "E0005"}, {2, 2, "0012"}, {2, 6, "1:02:05"}, {2, 7, "5.00"}, {2, 8, "国内长途"},
           {2, 9, "1.20"}, {1, 0, "默认用户"}, {1, 1, "****"}});
}

TEST_F(Views, PortNamesAndSupervisionRefresh) {
    EXPECT_EQ(ModSwitch::PortName(239), "中继16");
    EXPECT_EQ(ModSwitch::PortName(130), "130");

    struct Recorder : MonitorSink {
        bool Record(const QByteArray&, bool) override { return false; }
        void Monitor(const QByteArray&) override {}
        void UpdateMonitor(int nSlot, platform::Currency c) override { calls << qMakePair(nSlot, c.raw()); }
        QList<QPair<int, qint64>> calls;
    };
    auto rec = std::make_shared<Recorder>();
    SetMonitorSink(rec);
    ModSwitch::NewMonitor(3, platform::Currency::parse("7.5").value());
    SetMonitorSink(nullptr);
    ASSERT_EQ(rec->calls.size(), 1);
    EXPECT_EQ(rec->calls[0].first, 3);
    EXPECT_EQ(rec->calls[0].second, 75000);
}

TEST_F(Views, ColumnChoiceDrivesHeaderAndSelectList) {
    QStringList list;
    ModSwitch::SetVariant("ExtShowlist", "03,00");
    EXPECT_EQ(ModSwitch::BuildColumnList(list, true, true), "firstgrade,Address");
    // Padded to its minimum width of eight characters.
    EXPECT_EQ(ModSwitch::BuildColumnList(list, false, true), QStringLiteral("等级一") + QString(5, ' ') + "|物理地址");
    EXPECT_EQ(list, QStringList({"等级一", "物理地址"}));
    ModSwitch::SetVariant("ExtShowlist", "");
    EXPECT_EQ(ModSwitch::BuildColumnList(list, true, true), "Address");

    // The chooser's choice is kept; a title no list holds is dropped.
    ModSwitch::SaveColumnChoice({"中继编号", "开关", "群呼分机", "没有这列"}, false, false);
    EXPECT_EQ(ModSwitch::GetVariant("RelayShowlist"), "00,01,05");
    EXPECT_EQ(ModSwitch::BuildColumnList(list, false, false), QStringLiteral("中继编号|开关|群呼分机") + QString(16, ' '));
    QStringList rest = list;
    ModSwitch::GetColumnChoice(rest, false, false);
    EXPECT_EQ(rest.size(), 15);
    EXPECT_FALSE(rest.contains("开关"));
    EXPECT_EQ(rest.first(), "中继号码");

    // The trunk view follows the stored choice.
    CurTable = "Relay";
    ModSwitch::ShowRelayGrid(*grid, "Relay", true);
    EXPECT_EQ(grid->Cols(), 3);
    cells({{0, 2, "群呼分机"}, {1, 1, "ON"}});
}

constexpr quint32 kGreen = 0x00FF00, kRed = 0x0000FF, kGrey = 0x808080;

// The rack on the board panel, the port monitor drawn from stored status
// frames, the extension numbers of the port grid, and the tree and toolbar.
class Board : public Views {
protected:
    void SetUp() override {
        Views::SetUp();
        ModSwitch::LoadMonRes();
        ModComm::ResetMonitorState();
        frmPABX::instance();   // the rack, the tree and the toolbar are the console's
    }
    void TearDown() override {
        // Windows the link and the icons opened go before the application does.
        frmSRV::unload();
        frmPicClip::unload();
        frmPABX::unload();
        StationTest::TearDown();
    }
    // Colour shown by lamp i of a slot, or of the board body beside the lamps.
    static QColor lamp(int slot, int i) {
        const QPixmap pm = frmPABX::instance().picCard[slot]->pixmap();
        return pm.toImage().pixelColor(ModSwitch::LampCentre(i));
    }
    static QColor body(int slot) { return frmPABX::instance().picCard[slot]->pixmap().toImage().pixelColor(1, 1); }
    static QByteArray frame(std::initializer_list<int> bytes) {
        QByteArray f;
        for (int b : bytes) f.append(char(b));
        return f;
    }
    static QStringList toolKeys() {
        QStringList keys;
        for (QAction* a : frmPABX::instance().tbrSwitch->actions())
            if (!a->isSeparator()) keys << a->objectName();
        return keys;
    }
};

TEST_F(Board, EveryKindIsPaintedAndAnUnknownOneKeepsTheSlotsLook) {
    ModSwitch::LoadCards();
    EXPECT_EQ(ModComm::CardList[0].KindName, "中继板");
    EXPECT_EQ(ModComm::CardList[2].KindName, "来显板");
    EXPECT_EQ(ModComm::CardList[6].KindName, "音令板");
    EXPECT_EQ(ModComm::CardList[21].KindName, "用户板");
    EXPECT_EQ(ModComm::SpecPhoneCount, 0);
    EXPECT_EQ(body(0), vbColor(0x8000));
    EXPECT_EQ(body(21), vbColor(0x800000));
    EXPECT_EQ(lamp(21, 8), vbColor(kGreen));
    // Trunk slots show the odd lamps only.
    EXPECT_EQ(lamp(0, 1), vbColor(kGreen));
    EXPECT_EQ(lamp(0, 2), vbColor(0x8000));

    dbSwitch.execute("update MonCard set dispcard=11 where cardorder in (8,9,10,11)");
    dbSwitch.execute("update MonCard set dispcard=15 where cardorder=12");
    dbSwitch.execute("update MonCard set dispcard=3 where cardorder=13");
    ModSwitch::LoadCards();
    EXPECT_EQ(ModComm::SpecPhoneCount, 4);
    EXPECT_EQ(ModComm::CardList[8].KindName, "专用电话");
    EXPECT_EQ(body(8), vbColor(0xFFFF));
    // A special-telephone board has four lamps.
    EXPECT_EQ(lamp(8, 4), vbColor(kGreen));
    EXPECT_EQ(lamp(8, 5), vbColor(0xFFFF));
    EXPECT_EQ(ModComm::CardList[12].Fitted, 0);
    EXPECT_EQ(ModComm::CardList[12].KindName, "空余板");
    EXPECT_EQ(lamp(12, 1), vbColor(kGrey));
    // An unknown kind keeps the slot's previous look.
    EXPECT_EQ(ModComm::CardList[13].KindName, "用户板");
    EXPECT_EQ(ModComm::CardList[13].Fitted, -1);
    // Fewer rows leave the other slots as they were.
    dbSwitch.execute("delete from MonCard where cardorder>=20");
    dbSwitch.execute("update MonCard set dispcard=1 where cardorder=19");
    ModSwitch::LoadCards();
    EXPECT_EQ(ModComm::CardList[19].KindName, "中继板");
    EXPECT_EQ(ModComm::CardList[20].KindName, "用户板");
}

// The lamps and the channel list follow the frames only while the switch
// answers; a channel is redrawn when its state changes only.
TEST_F(Board, LampsAndChannelsFollowTheFramesWhileTheSwitchAnswers) {
    ModSwitch::LoadCards();
    frmPABX& f = frmPABX::instance();
    f.fgMon[0]->setRows(9);
    f.fgMon[0]->setCols(10);
    CurTable = "MonCard";
    ModComm::PortStates[5].Data = frame({0x97, 0x0A, 5, 5, 0, 3, 0, 224, 0, 255, 0});
    ModComm::CardStates[3].Data = frame({0x99, 0x0B, 3, 0, 1, 0, 0, 0, 0, 0, 5});
    ModComm::CardStates[15].Data = frame({0x99, 0x0B, 15, 1, 0, 0, 0, 0, 0, 0, 1});
    g_NoAnswerCount = 6;
    ModComm::RefreshMonitor();
    EXPECT_EQ(lamp(10, 2), vbColor(kGreen));

    g_NoAnswerCount = 0;
    ModComm::RefreshMonitor();
    for (const auto& [slot, port, colour] : {std::tuple{10, 1, kGreen}, {10, 2, kRed}, {10, 8, kRed}, {2, 1, kRed}, {2, 8, kRed},
                                             {2, 2, kGreen}, {0, 1, kRed}, {0, 3, kGreen}, {1, 7, kRed}})
        EXPECT_EQ(lamp(slot, port), vbColor(colour)) << slot << ',' << port;
    EXPECT_EQ(ModComm::PortBusyMask(ModComm::CardStates[3].Data), 0x82);
    // Channel 5: row 3, columns 6 to 9.
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 6), MonRes[5].channeltext);
    EXPECT_FALSE(f.fgMon[0]->CellPictureAt(3, 6).isNull());
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 7), "E0003");
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 8), "中继1");
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 9), "");
    // Same state, other ports: not redrawn.
    ModComm::PortStates[5].Data[5] = char(9);
    ModComm::RefreshMonitor();
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 7), "E0003");
}

TEST_F(Board, PortGridDrawsEachChangedPortInItsColumn) {
    frmPABX& f = frmPABX::instance();
    platform::FlexGrid& ports = *f.fgMon[1];
    ports.setRows(37);
    ports.setCols(9);
    ports.setTextMatrix(7, 0, "4");
    CurTable = "PortMonitor";
    g_NoAnswerCount = 0;
    // The fourth board's ports: its own row of the grid, its own lamps.
    ModComm::CardStates[3].Data = frame({0x99, 0x0B, 3, 2, 0, 0, 0, 0, 0, 0, 6});
    ModComm::RefreshMonitor();
    EXPECT_EQ(ports.TextMatrix(7, 1), MonRes[2].Usertext);
    EXPECT_EQ(ports.TextMatrix(7, 8), MonRes[6].Usertext);
    EXPECT_FALSE(ports.CellPictureAt(7, 8).isNull());
    EXPECT_EQ(ports.TextMatrix(7, 0), "4");   // the board's label stays
    EXPECT_EQ(ports.TextMatrix(7, 2), "");     // unchanged port, not drawn
    EXPECT_EQ(static_cast<quint8>(ModComm::PortLamps[31]), 6);
}

TEST_F(Board, ExtensionNumbersAfterNormalisationAndUnderTheFlexibleHeadAlone) {
    frmPABX& f = frmPABX::instance();
    platform::FlexGrid& ports = *f.fgMon[1];
    ports.setRows(37);
    ports.setCols(9);
    dbSwitch.execute("insert into LanHead values('8',20,2,0,0,0,0)");
    dbSwitch.execute("update Extension set Head=20, SpringNum='09' where Address=9");
    dbSwitch.execute("update Extension set Head=17 where Address=5");
    dbSwitch.execute("update Extension set Head=null where Address=6");
    dbSwitch.execute("delete from Extension where Address>=100");
    ModSwitch::InitExtNumber();
    EXPECT_EQ(dbSwitch.scalar("select SpringNum from Extension where Address=5").toString(), "005");
    EXPECT_EQ(dbSwitch.scalar("select Head from Extension where Address=6").toInt(), 29);
    EXPECT_EQ(ports.TextMatrix(2, 1), "E0000");
    EXPECT_EQ(ports.TextMatrix(2, 6), "E005");
    EXPECT_EQ(ports.TextMatrix(4, 2), "809");
    EXPECT_EQ(ports.TextMatrix(26, 4), "E0099");
    // Addresses beyond the last extension row are left alone.
    EXPECT_EQ(ports.TextMatrix(26, 5), "");

    // An empty head table gets the flexible head, and every extension goes under it.
    dbSwitch.execute("update Extension set SpringNum='12' where Address=1");
    dbSwitch.execute("delete from LanHead");
    ModSwitch::InitExtNumber();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from LanHead").toInt(), 1);
    EXPECT_EQ(dbSwitch.scalar("select HeadID||HeadType||HeadLen||Headdelay||Router1||Router2||bSet from LanHead").toString(),
              "E2940000");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where Head<>29").toInt(), 0);
    EXPECT_EQ(dbSwitch.scalar("select SpringNum from Extension where Address=1").toString(), "0012");
    EXPECT_EQ(ports.TextMatrix(2, 2), "E0012");
}

TEST_F(Board, TreeAndToolbarPerView) {
    ModSwitch::BuildNavTree();
    QTreeWidget* tv = frmPABX::instance().tvSwitch;
    EXPECT_EQ(ModSwitch::NodeKey(tv->currentItem()), "MonCard");
    EXPECT_EQ(ModSwitch::FindNode("ExtDeposit"), nullptr);
    EXPECT_EQ(ModSwitch::FindNode("ExtDepositHistory"), nullptr);
    ASSERT_NE(ModSwitch::FindNode("Router2"), nullptr);
    EXPECT_EQ(ModSwitch::NodeKey(ModSwitch::FindNode("Router2")->parent()), "AddHead");
    EXPECT_EQ(ModSwitch::FindNode("IP")->text(0), "IP费率及字头");

    ModSwitch::SetToolbar();
    EXPECT_EQ(toolKeys(), QStringList({"DownLoad", "UpLoad", "Verify", "Save", "Help", "Exit"}));
    for (const auto& [node, keys] : {std::pair{"User", "DownLoad,Backup,Restore,Save,Add,Delete,Find,Print,Help,Exit"},
                                     {"Head", "Save,Find,Print,Help,Exit"}, {"History", "Delete,Find,Print,Help,Exit"}}) {
        tv->setCurrentItem(ModSwitch::FindNode(node));
        ModSwitch::SetToolbar();
        EXPECT_EQ(toolKeys().join(','), keys) << node;
    }
    // Separator, button, separator, button...
    const auto actions = frmPABX::instance().tbrSwitch->actions();
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->toolTip(), "删除");
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_FALSE(actions[1]->icon().isNull());

    SwitchModel = 2;
    ModSwitch::BuildNavTree();
    EXPECT_EQ(ModSwitch::NodeKey(ModSwitch::FindNode("ExtDeposit")->parent()), "Parameter");
    EXPECT_NE(ModSwitch::FindNode("ExtDepositHistory"), nullptr);
}

}  // namespace
