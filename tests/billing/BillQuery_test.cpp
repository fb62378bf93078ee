// The bill query: the dialog's choices, the walk over the current file and the
// yearly archives, the sums, the sorts and the ways to stop.
#include "billing/ArchiveBills.h"
#include "billing/frmQueryBill.h"
#include "billing/frmRecord.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/Printer.h"
#include "platform/Prompts.h"
#include "printing/PrintGrid.h"
#include "support/Fixtures.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QMap>
#include <gtest/gtest.h>

namespace script = platform::script;
using platform::Currency;

namespace {

QDateTime T(const QString& s) { return platform::parseDate(s); }

struct Call {
    qint64 user = 1;
    int addr = 1;
    QString date;
    int secs = 60;
    int mode = 7;
    QString resp = QStringLiteral("88001234");
    QString zh = QStringLiteral("    ");
    qint64 fee[5] = {1000, 0, 0, 0, 0};   // ten-thousandths: base, add1, add2, gate, link
};

class BillQueryTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerRights = QStringList{"0"};
        now = T("2005-02-01 10:00:00");
        platform::testing::setNow([this] { return now; });
        dbSwitch.execute("INSERT OR REPLACE INTO user (userid, username, balancemode, lastdate, deptname) VALUES "
                         "(0, '默认用户', 2, NULL, ''), (1, '甲', 0, '2004-11-01 00:00:00', '销售'), "
                         "(2, 'O''Neil', 1, NULL, '销售'), (3, '丙', 2, '2004-06-01 00:00:00', '财务'), "
                         "(4, '丁', 0, NULL, '空部门')");
        dbSwitch.execute("UPDATE account SET account='1234', userid=1 WHERE address=2048");
        dbSwitch.execute("UPDATE account SET account='5678', userid=3 WHERE address=2049");
    }
    void TearDown() override {
        billing::testing::setQueryYieldHook(nullptr);
        StationTest::TearDown();
    }
    void add(const Call& c) {
        testsupport::storeCall(dbPhoneCur, {.calladdr = c.addr, .zjaddr = 1, .date = c.date, .secs = c.secs,
                                            .fee = Currency::fromRaw(c.fee[0]), .resp = c.resp, .zh = c.zh, .indjh = "",
                                            .phmode = c.mode, .addfee1 = Currency::fromRaw(c.fee[1]),
                                            .addfee2 = Currency::fromRaw(c.fee[2]), .gatefee = Currency::fromRaw(c.fee[3]),
                                            .linkfee = Currency::fromRaw(c.fee[4]), .memo = "", .userid = c.user});
    }
    Call call(qint64 user, const QString& date, int mode = 7) {
        Call c;
        c.user = user;
        c.addr = static_cast<int>(user);
        c.date = date;
        c.mode = mode;
        return c;
    }
    frmQueryBill& dlg() { return frmQueryBill::instance(); }
    frmRecord& rec() { return frmRecord::instance(); }
    void tick(const QString& text, bool on = true) {
        QTreeWidgetItem* it = dlg().itemByText(text);
        ASSERT_NE(it, nullptr) << text.toStdString();
        it->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    }
    void period(const QString& from, const QString& to) {
        dlg().chkNow->setChecked(false);
        dlg().chkNow_Click();
        dlg().DTPStart->setDateTime(T(from));
        dlg().DTPEnd->setDateTime(T(to));
    }
    // Runs the query; the record rows' column `col`, sorted.
    QStringList query(int col = 4) {
        dlg().cmdQuery_Click();
        return column(col);
    }
    QStringList column(int col) {
        QStringList out;
        if (!frmRecord::exists()) return out;
        for (int r = 1; r < rec().fgRecord->Rows(); ++r)
            if (!rec().fgRecord->TextMatrix(r, 4).isEmpty()) out << rec().fgRecord->TextMatrix(r, col);
        std::sort(out.begin(), out.end());
        return out;
    }
    QString sum(int row, int col) { return rec().fgCollect->TextMatrix(row, col); }
    // The texts of `cols` of a grid's row.
    static QStringList cells(const platform::FlexGrid* g, int row, std::initializer_list<int> cols) {
        QStringList out;
        for (int c : cols) out << g->TextMatrix(row, c);
        return out;
    }
    // January: a call of users 1, 2, 3 and 9 each, one of account 1234 (user 1)
    // and one of 5678 (user 3); the period is the month.
    void januaryOfUsersAndAccounts() {
        for (qint64 u : {1, 2, 3, 9}) add(call(u, QStringLiteral("2005-01-1%1 08:00:00").arg(u)));
        for (auto [u, zh, date] : {std::tuple{1, "1234", "2005-01-20 08:00:00"}, std::tuple{3, "5678", "2005-01-21 08:00:00"}}) {
            Call c = call(u, date);
            c.zh = zh;
            add(c);
        }
        period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    }
    QDateTime now;
};

TEST_F(BillQueryTest, ObjectChoicesSelectTheirRecords) {
    januaryOfUsersAndAccounts();

    // Nothing ticked: the kind's caption in the message; the dialog stays as it was.
    script::answer("请选择要查询的用户", platform::rOK);
    EXPECT_TRUE(query().isEmpty());
    EXPECT_TRUE(dlg().isEnabled());

    // One user, then one more: only account-less calls (包括帐号 is ticked and hidden for users).
    tick("甲");
    EXPECT_EQ(query(0), QStringList({"甲", "甲"}));
    frmRecord::instance().cmdClose_Click();
    EXPECT_TRUE(dlg().isEnabled());
    tick("O'Neil");
    EXPECT_EQ(query(0), QStringList({"O'Neil", "甲", "甲"}));
    // 已删除用户 alone with an empty user table selects every record.
    tick("甲", false);
    tick("O'Neil", false);
    dbSwitch.execute("DELETE FROM user");
    tick("已删除用户");
    EXPECT_EQ(query(0).size(), 6);
    EXPECT_EQ(sum(1, 1), "0.60");
}

TEST_F(BillQueryTest, DepartmentsAccountsAndExtensions) {
    januaryOfUsersAndAccounts();
    dlg().optOBJ[1]->setChecked(true);
    dlg().optOBJ_Click(1);
    tick("空部门");
    dbSwitch.execute("DELETE FROM user WHERE userid=4");   // its only user gone since the list was made
    script::answer("请选择要查询的部门", platform::rOK);
    EXPECT_TRUE(query().isEmpty());
    tick("销售");
    EXPECT_EQ(query(0), QStringList({"O'Neil", "甲", "甲"}));
    EXPECT_EQ(cells(rec().fgCollect, 1, {0, 1}), (QStringList{"空部门", "0.00"}));
    EXPECT_EQ(sum(2, 1), "0.30");
    rec().cmdClose_Click();

    // Accounts: 全部帐号 first ends the walk; every account call counts.
    dlg().optOBJ[2]->setChecked(true);
    dlg().optOBJ_Click(2);
    EXPECT_FALSE(dlg().chkAccount->isVisibleTo(&dlg()));
    tick("5678");
    EXPECT_EQ(query(2), QStringList({"5678"}));
    rec().cmdClose_Click();
    tick("全部帐号");
    EXPECT_EQ(query(2), QStringList({"1234", "5678"}));
    rec().cmdClose_Click();

    // Extensions: account calls only with 包括帐号.
    dlg().optOBJ[3]->setChecked(true);
    dlg().optOBJ_Click(3);
    EXPECT_TRUE(dlg().chkAccount->isVisibleTo(&dlg()));
    EXPECT_FALSE(dlg().chkAccount->isChecked());
    tick("E0001");
    EXPECT_EQ(query(2), QStringList({"    "}));
    rec().cmdClose_Click();
    dlg().chkAccount->setChecked(true);
    EXPECT_EQ(query(2), QStringList({"    ", "1234"}));
    EXPECT_EQ(column(1), QStringList({"E0001", "E0001"}));
}

// The settlement charges a call whose account field is blank, empty or NULL
// to its extension: the query counts it the same way.
TEST_F(BillQueryTest, CallsWithAnEmptyOrMissingAccountAreExtensionCalls) {
    for (auto [date, zh] : {std::pair{"2005-01-11 08:00:00", "    "}, {"2005-01-12 08:00:00", ""},
                            {"2005-01-13 08:00:00", "    "}, {"2005-01-14 08:00:00", "1234"}}) {
        Call c = call(1, date);
        c.zh = zh;
        add(c);
    }
    dbPhoneCur.execute("UPDATE Tab_Phone SET f_zh=NULL WHERE f_date='2005-01-13 08:00:00'");
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    dlg().optOBJ[3]->setChecked(true);
    dlg().optOBJ_Click(3);
    tick("E0001");
    EXPECT_EQ(query(4), QStringList({"2005-01-11 08:00:00", "2005-01-12 08:00:00", "2005-01-13 08:00:00"}));
    EXPECT_EQ(sum(1, 1), "0.30");
    rec().cmdClose_Click();
    dlg().optOBJ[2]->setChecked(true);
    dlg().optOBJ_Click(2);
    tick("全部帐号");
    EXPECT_EQ(query(4), QStringList({"2005-01-14 08:00:00"}));
    EXPECT_EQ(script::pendingAnswers(), 0);
}

// A summary row sums the object its item stands for, not whatever else bears its text.
TEST_F(BillQueryTest, EachSummaryRowSumsTheObjectItsItemStandsFor) {
    dbSwitch.execute("INSERT INTO user (userid, username, balancemode, deptname) VALUES "
                     "(5, 'A', 2, ''), (6, 'A', 2, ''), (7, '已删除用户', 2, ''), (8, '押金用户', 2, '')");
    const qint64 fees[] = {123800, 50000, 3000, 7000};
    for (int u = 5; u <= 8; ++u) {
        Call c = call(u, QStringLiteral("2005-01-1%1 08:00:00").arg(u));
        c.fee[0] = fees[u - 5];
        add(c);
    }
    add(call(1, "2005-01-20 08:00:00"));
    add(call(9, "2005-01-21 08:00:00"));   // a user no longer in the table
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    for (const char* key : {"K5", "K6", "K7", "K8", "K1"}) {
        QTreeWidgetItem* it = dlg().itemByKey(QString::fromLatin1(key));
        ASSERT_NE(it, nullptr) << key;
        it->setCheckState(0, Qt::Checked);
    }
    dlg().cmdQuery->click();
    ASSERT_TRUE(frmRecord::exists());
    EXPECT_EQ(column(0), QStringList({"A", "A", "已删除用户", "押金用户", "甲"}));
    QMap<QString, QStringList> sums;
    for (int r = 1; r < rec().fgCollect->Rows(); ++r) sums[sum(r, 0)] << sum(r, 1);
    sums["A"].sort();
    EXPECT_EQ(sums["A"], QStringList({"12.38", "5.00"}));
    EXPECT_EQ(sums["已删除用户"], QStringList({"0.30"}));
    EXPECT_EQ(sums["押金用户"], QStringList({"0.70"}));
    EXPECT_EQ(sums["甲"], QStringList({"0.10"}));
}

TEST_F(BillQueryTest, CategoriesDurationsCalledNumberAndChecks) {
    for (auto [date, mode, secs, resp] : {std::tuple{"2005-01-10 08:00:00", 2, 299, "12345"},
                                          {"2005-01-11 08:00:00", 10, 300, "123"}, {"2005-01-12 08:00:00", 7, 4000, "99123"}}) {
        Call c = call(1, date, mode);
        c.secs = secs;
        c.resp = resp;
        add(c);
    }
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    tick("全部用户");
    dlg().optCall[2]->setChecked(true);
    dlg().optCall_Click(2);
    EXPECT_EQ(query(7), QStringList({"被叫电话"}));
    rec().cmdClose_Click();
    for (QCheckBox* k : dlg().chkType) k->setChecked(false);   // none ticked: every category
    EXPECT_EQ(query().size(), 3);
    rec().cmdClose_Click();
    // A 00:00:00 maximum with a 5-minute minimum: only the lower bound.
    dlg().DTPMin->setTime(QTime(0, 5, 0));
    EXPECT_EQ(query(5), QStringList({"00:05:00", "01:06:40"}));
    rec().cmdClose_Click();
    dlg().DTPMax->setTime(QTime(0, 4, 0));
    script::answer("通话时长最小值不能大于最大值", platform::rOK);
    EXPECT_EQ(query().size(), 2);   // the last result stays
    dlg().DTPMin->setTime(QTime(0, 0, 0));
    dlg().DTPMax->setTime(QTime(0, 0, 0));
    // Letters in the called number: the message and the last character gone; then a prefix.
    dlg().txtCalled->setText("12a");
    script::answer("只能输入数字", platform::rOK);
    dlg().txtCalled_KeyUp();
    EXPECT_EQ(dlg().txtCalled->text(), "12");
    EXPECT_EQ(query(3), QStringList({"123", "12345"}));
    rec().cmdClose_Click();
    // The period's checks, in order.
    dlg().DTPEnd->setDateTime(T("2005-02-02 00:00:00"));
    script::answer("结束时间不能大于当前时间", platform::rOK);
    dlg().cmdQuery_Click();
    dlg().DTPEnd->setDateTime(T("2004-01-01 00:00:00"));
    script::answer("开始时间不能大于结束时间", platform::rOK);
    dlg().cmdQuery_Click();
    EXPECT_TRUE(dlg().isEnabled());
}

TEST_F(BillQueryTest, TheLastSettlementStartsThePeriodOfOneUser) {
    dlg().DTPStart->setDateTime(T("2005-01-05 00:00:00"));
    tick("甲");
    EXPECT_TRUE(dlg().chkLast->isChecked());
    EXPECT_EQ(dlg().DTPStart->dateTime(), T("2004-11-01 00:00:00"));
    EXPECT_FALSE(dlg().DTPStart->isEnabled());
    tick("丙");
    EXPECT_FALSE(dlg().chkLast->isChecked());
    EXPECT_FALSE(dlg().chkLast->isEnabled());
    EXPECT_EQ(dlg().DTPStart->dateTime(), T("2005-01-05 00:00:00"));
    // A user never settled keeps the start.
    tick("丙", false);
    tick("甲", false);
    tick("O'Neil");
    EXPECT_EQ(dlg().DTPStart->dateTime(), T("2005-01-05 00:00:00"));
    // The manual period is remembered, the one from chkNow is not.
    frmQueryBill::unload();
    EXPECT_EQ(ModSwitch::GetVariant("QueryBT"), "2005/01/05 00:00:00");
    EXPECT_EQ(dlg().DTPStart->dateTime(), T("2005-01-05 00:00:00"));
    EXPECT_EQ(dlg().DTPEnd->dateTime(), now);
    // Unchecking "使用当前时间" gives the end chosen by hand back.
    dlg().chkNow->setChecked(false);
    dlg().chkNow_Click();
    EXPECT_TRUE(dlg().DTPEnd->isEnabled());
}

TEST_F(BillQueryTest, TheWalkReadsTheCurrentFileThenTheYearsDownAndSumsWhatItShows) {
    // 2003 and 2005 archived, 2004 missing; one more current.
    add(call(1, "2003-12-05 08:00:00", 0));
    add(call(2, "2005-01-05 08:00:00", 4));
    billing::ArchiveBills();
    ASSERT_EQ(dbPhoneCur.rowCount("Tab_Phone"), 0);
    {
        // A year file restored from elsewhere may spell its month tables in capitals.
        platform::Database y = platform::Database::open(billing::ArchivePath(2003));
        y.execute("ALTER TABLE Tab_Ph12 RENAME TO tmp12");
        y.execute("ALTER TABLE tmp12 RENAME TO TAB_PH12");
    }
    Call late = call(1, "2005-01-31 09:00:00", 8);
    late.fee[1] = 1;       // 0.0001 more: the sums are exact, the cells rounded
    late.fee[3] = 2500;
    add(late);
    period("2003-12-01 00:00:00", "2005-01-31 23:59:59");
    tick("全部用户");
    tick("已删除用户");
    dlg().optSort[6]->setChecked(true);
    dlg().optSort_Click(6);
    EXPECT_EQ(query().size(), 3);
    EXPECT_EQ(rec().FilesRead(), QStringList({"PhoneCur.mdb", billing::ArchiveFileName(2005), billing::ArchiveFileName(2003)}));
    EXPECT_EQ(rec().lblInfo->text(), "查询完毕,共查询到 3 条记录");
    // Sorted by the total fee, numeric.
    EXPECT_EQ(rec().fgRecord->TextMatrix(3, 6), "0.35");
    // In all 0.10 + 0.10 + 0.3501.
    EXPECT_EQ(cells(rec().fgCollect, 1, {0, 1, 2, 6, 10, 13, 14, 16}),
              (QStringList{"全部用户", "0.55", "0.10", "0.10", "0.35", "0.30", "0.00", "0.25"}));
    EXPECT_EQ(cells(rec().fgCollect, 2, {0, 1}), (QStringList{"已删除用户", "0.00"}));
    EXPECT_TRUE(rec().cmdPrint[0]->isEnabled());

    // The walk left no year attached: the nightly run archives into 2005 again.
    rec().cmdClose_Click();
    billing::ArchiveBills();
    EXPECT_TRUE(billing::LastArchiveRun().ran);
    EXPECT_EQ(billing::LastArchiveRun().moved, 1);

    // An unreadable year file: its name and 无法打开; the rest still read.
    testsupport::writeBytes(billing::ArchivePath(2003), QByteArray(4096, 'x'));
    script::answer(billing::ArchiveFileName(2003) + "无法打开", platform::rOK);
    EXPECT_EQ(query().size(), 2);
    EXPECT_EQ(rec().cmdClose->text(), "关闭");
}

TEST_F(BillQueryTest, StopDuringATableAndCloseFromTheTitleBar) {
    platform::Transaction t(dbPhoneCur);
    for (int i = 0; i < 450; ++i) add(call(1 + i % 3, QStringLiteral("2005-01-10 08:%1:%2").arg(i / 60, 2, 10, QChar('0')).arg(i % 60, 2, 10, QChar('0'))));
    t.commit();
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    tick("全部用户");
    int yields = 0;
    billing::testing::setQueryYieldHook([&](int rows) {
        if (++yields == 2) {
            EXPECT_EQ(rows, 200);
            rec().cmdClose_Click();   // 停止
            EXPECT_FALSE(rec().cmdClose->isEnabled());
        }
    });
    query();
    EXPECT_EQ(rec().RecordRows(), 200);
    EXPECT_EQ(rec().lblInfo->text(), "查询完毕,共查询到 200 条记录");
    EXPECT_EQ(sum(1, 1), "20.00");
    EXPECT_TRUE(rec().isVisible());
    rec().cmdClose_Click();

    // Closed from the title bar while reading: refused, then the window closes itself.
    yields = 0;
    billing::testing::setQueryYieldHook([&](int) {
        if (++yields == 1) {
            EXPECT_FALSE(rec().close());
            EXPECT_TRUE(rec().isVisible());
        }
    });
    dlg().cmdQuery_Click();
    EXPECT_FALSE(rec().isVisible());
    EXPECT_EQ(rec().RecordRows(), 100);
    EXPECT_TRUE(dlg().isEnabled());
}

TEST_F(BillQueryTest, StoredDatesAreShownAsReadInLocalTime) {
    // A zone that steps into summer time at 02:00 on 2004-03-28.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    for (const char* d : {"2004-03-28 02:30:00", "2004-03-28 12:00:00", "2004-03-05T08:00:00", "2004-03-06", "2004-02-30 08:00:00"}) {
        Call c = call(2, QString::fromLatin1(d));
        c.resp = QString::fromLatin1(d);
        add(c);
    }
    period("2004-01-01 00:00:00", "2004-12-31 23:59:59");
    tick("O'Neil");
    query();
    QMap<QString, QString> shown;   // stored date -> the date shown
    for (int r = 1; r < rec().fgRecord->Rows(); ++r) shown[rec().fgRecord->TextMatrix(r, 3)] = rec().fgRecord->TextMatrix(r, 4);
    if (zone.isNull()) qunsetenv("TZ");
    else qputenv("TZ", zone);
    tzset();
    EXPECT_EQ(shown.value("2004-03-28 12:00:00"), "2004-03-28 12:00:00");
    ASSERT_EQ(shown.size(), 5);
    EXPECT_NE(shown.value("2004-03-28 02:30:00"), "2004-03-28 02:30:00");   // no such local time
    EXPECT_EQ(shown.value("2004-03-05T08:00:00"), "2004-03-05 08:00:00");
    EXPECT_EQ(shown.value("2004-03-06"), "2004-03-06 00:00:00");
    EXPECT_EQ(shown.value("2004-02-30 08:00:00"), "");
}

// Each cell shows its stored value at the edges of its form; a tab inside a
// stored text stays in its cell.
TEST_F(BillQueryTest, EachCellShowsItsStoredValueAtTheEdgesOfItsForm) {
    Call c = call(1, "2005-01-12 08:00:00", 0);
    c.secs = 100 * 3600 + 61;          // past two digits of hours
    c.fee[0] = -12345;                 // a refund: below zero, rounded to the fen
    c.fee[1] = 1234567890123;
    c.resp = QStringLiteral("0123北京");
    add(c);
    dbPhoneCur.execute("UPDATE Tab_Phone SET f_memo=?, f_indjh=?, f_yj=?",
                       {QStringLiteral("北\t京"), QStringLiteral("9\t9"), Currency::fromYuan(2)});
    dbSwitch.execute("UPDATE user SET username=? WHERE userid=1", {QStringLiteral("甲\t乙")});
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    tick("甲\t乙");
    query();
    ASSERT_EQ(rec().RecordRows(), 1);
    const platform::FlexGrid* g = rec().fgRecord;
    const QString total = (Currency::fromRaw(-12345) + Currency::fromRaw(1234567890123)).toString2();
    EXPECT_EQ(cells(g, 1, {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, g->Cols() - 1}),
              (QStringList{"甲 乙", "0123北京", "2005-01-12 08:00:00", "100:01:01", total, "国际长途", "北 京", "2.00", "-1.23",
                           Currency::fromRaw(1234567890123).toString2(), "1", "9 9"}));
    EXPECT_EQ(cells(rec().fgCollect, 1, {0, 1}), (QStringList{"甲 乙", total}));
}

TEST_F(BillQueryTest, HeaderClicksSortBothGridsAlternately) {
    for (int i = 0; i < 3; ++i) {
        Call c = call(1 + i, QStringLiteral("2005-01-1%1 08:00:00").arg(i));
        c.fee[0] = (i == 1 ? 100000 : 20000 + i);
        c.secs = (i == 2 ? 9 : 100 + i);
        add(c);
    }
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    tick("甲");
    tick("O'Neil");
    tick("丙");
    query();
    auto col = [&](platform::FlexGrid* g, int c) {
        QStringList out;
        for (int r = 1; r < g->Rows(); ++r) out << g->TextMatrix(r, c);
        return out;
    };
    // Sorted by extension at the end (numeric); header clicks: ascending, then descending.
    rec().fgRecord_Click(6);
    EXPECT_EQ(col(rec().fgRecord, 6), QStringList({"2.00", "2.00", "10.00"}));
    rec().fgRecord_Click(6);
    EXPECT_EQ(col(rec().fgRecord, 6), QStringList({"10.00", "2.00", "2.00"}));
    rec().fgRecord_Click(5);   // duration as text
    EXPECT_EQ(col(rec().fgRecord, 5), QStringList({"00:00:09", "00:01:40", "00:01:41"}));
    rec().fgCollect_Click(1);
    EXPECT_EQ(col(rec().fgCollect, 1), QStringList({"2.00", "2.00", "10.00"}));
    rec().fgCollect_Click(1);
    EXPECT_EQ(col(rec().fgCollect, 0), QStringList({"O'Neil", "丙", "甲"}));

    // The summary on paper: a PDF that reads back.
    QTemporaryDir out;
    printing::testing::setHasPrinter(true);
    platform::testing::printToPdfDir(out.path());
    script::answer("列宽太大", platform::rYes);   // 18 columns: smaller type
    rec().cmdPrint[1]->click();
    const QStringList files = platform::testing::printedPdfFiles();
    platform::testing::resetPrinter();
    printing::testing::setHasPrinter(std::nullopt);
    ASSERT_EQ(files.size(), 1);
    QProcess p;
    p.start("pdftotext", {"-layout", files[0], "-"});
    p.waitForFinished(20000);
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    for (const char* shown : {"打印查询话单汇总", "查询用户名称", "O'Neil", "10.00"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(shown))) << shown << '\n' << text.toStdString();
}

// 打印话单 prints the calls the operator selected, however the selection ran
// (the box before printing names the block); a click alone chooses none, and
// is told so.
TEST_F(BillQueryTest, PrintCallsTakesTheSelectedRowsWhicheverWayTheSelectionRan) {
    for (int i = 0; i < 4; ++i) add(call(1, QStringLiteral("2005-01-1%1 08:00:00").arg(i)));
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    tick("甲");
    ASSERT_EQ(query().size(), 4);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rec()));
    printing::testing::setHasPrinter(true);
    platform::FlexGrid* g = rec().fgRecord;
    const auto at = [&](int r, int c) { return g->visualRect(g->model()->index(r, c)).center(); };
    const auto print = [&](const char* box) {
        script::answer(QString::fromUtf8(box), platform::rNo);
        QTest::mouseClick(rec().cmdPrint[0], Qt::LeftButton);
        EXPECT_EQ(script::pendingAnswers(), 0) << box;
    };
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, at(3, 4));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(2, 1));
    print("第2行至第3行,第1列至第4列");
    QTest::mousePress(g->viewport(), Qt::LeftButton, {}, at(1, 2));
    for (int r = 2; r <= 4; ++r) QTest::mouseMove(g->viewport(), at(r, 2));
    QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, at(4, 2));
    print("第1行至第4行,第2列至第2列");
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, at(2, 2));
    print("请选择要打印的话单");
    printing::testing::setHasPrinter(std::nullopt);
}

TEST_F(BillQueryTest, TheGridHoldsAtMostItsLimit) {
    // 100,001 matches: 100,000 rows and the message.
    testsupport::storeCalls(dbPhoneCur, 100001, [](qint64) {
        return testsupport::CallRow{.calladdr = 1, .date = "2005-01-10 08:00:00", .secs = 1,
                                    .fee = Currency::fromRaw(100), .zh = "    ", .phmode = 7, .userid = 1};
    });
    period("2005-01-01 00:00:00", "2005-01-31 23:59:59");
    tick("甲");
    script::answer("查询记录已到最大值", platform::rOK);
    dlg().cmdQuery_Click();
    EXPECT_EQ(rec().RecordRows(), frmRecord::kMaxRows);
    EXPECT_EQ(sum(1, 1), "1000.00");
}

}  // namespace
