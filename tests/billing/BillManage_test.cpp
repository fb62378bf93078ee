// The archive window: what it lists, backs up, deletes and prunes; and the
// export of a month into JianKong.
#include "billing/ArchiveBills.h"
#include "billing/ConvertToJianKong.h"
#include "billing/frmBillManage.h"
#include "core/ModDefine.h"
#include "core/frmProgress.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <gtest/gtest.h>

namespace script = platform::script;
using platform::Currency;
using platform::Database;

namespace {

class BillManageTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerRights = QStringList{"0"};
        platform::testing::setNow([] { return QDateTime(QDate(2005, 3, 15), QTime(10, 0)); });
        for (const char* d : {"2003-05-02 08:00:00", "2004-02-03 08:00:00", "2004-07-04 08:00:00",
                              "2004-07-05 08:00:00", "2005-01-06 08:00:00", "2005-03-07 08:00:00"})
            testsupport::storeCall(dbPhoneCur, {.date = d, .zh = "    ", .userid = 1});
        billing::ArchiveBills();
        Database::create(DataPath + "PhBill_2002.mdb").close();   // a past year without months
    }
    void TearDown() override {
        frmBillManage::unload();
        StationTest::TearDown();
    }
    frmBillManage& win() { return frmBillManage::instance(); }
    QStringList keys() {
        QStringList out;
        for (int i = 0; i < win().tvwBill->topLevelItemCount(); ++i) {
            QTreeWidgetItem* y = win().tvwBill->topLevelItem(i);
            QStringList months;
            for (int j = 0; j < y->childCount(); ++j) months << y->child(j)->text(0);
            out << y->text(0) + ':' + months.join(',');
        }
        return out;
    }
    void tick(const QString& key) { win().node(key)->setCheckState(0, Qt::Checked); }
    // 删除 of the ticked months, the question answered yes (or no).
    void deleteTicked(bool yes = true) {
        script::answer("您确信要删除选定的话单?", yes ? platform::rYes : platform::rNo);
        win().cmdOK_Click(0);
    }
    QStringList log() {
        QStringList out;
        platform::Recordset rs = dbSwitch.query("SELECT f_memo FROM tab_oplog ORDER BY rowid");
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) out << rs.str("f_memo");
        return out;
    }
    bool exists(int year) { return platform::existsCI(DataPath + billing::ArchiveFileName(year)); }
};

TEST_F(BillManageTest, ListsPastMonthsPrunesEmptyPastYearsAndDeletes) {
    EXPECT_EQ(win().windowTitle(), "话单库管理");
    EXPECT_EQ(keys(), QStringList({"2003:05", "2004:02,07", "2005:01"}));
    EXPECT_FALSE(exists(2002));
    EXPECT_TRUE(win().node("K2004-07"));

    // A year ticks its months; No deletes nothing.
    tick("K2004");
    EXPECT_EQ(win().node("K2004-02")->checkState(0), Qt::Checked);
    deleteTicked(false);
    EXPECT_EQ(keys().size(), 3);
    // Every month of a past year: the tables, then the file.
    deleteTicked();
    EXPECT_EQ(keys(), QStringList({"2003:05", "2005:01"}));
    EXPECT_FALSE(exists(2004));
    EXPECT_EQ(log(), QStringList({"删话单:2004-02", "删话单:2004-07"}));
    // This year's last past month: the year leaves the list, the file stays with the month running now.
    tick("K2005-01");
    deleteTicked();
    EXPECT_EQ(keys(), QStringList({"2003:05"}));
    EXPECT_TRUE(exists(2005));
    EXPECT_EQ(Database::open(billing::ArchivePath(2005)).tableNames().filter("Tab_Ph"), QStringList({"Tab_Ph3"}));
}

// Month tables of any case are listed; a year file is pruned only when it
// holds no table at all (one it does not list keeps it); a month is one node
// whatever the zeros before its number, and months run from 1 to 12.
TEST_F(BillManageTest, OnlyAFileWithoutTablesIsPrunedAndEachMonthOfAnyCaseIsOneNode) {
    {
        Database e = Database::create(DataPath + "PhBill_1999.mdb");
        e.execute("CREATE TABLE TAB_PH3 (f_date TEXT, f_userid INTEGER)");
        e.execute("INSERT INTO TAB_PH3 VALUES ('1999-03-02 08:00:00', 1)");
        Database c = Database::create(DataPath + "PhBill_1998.mdb");
        c.execute("CREATE TABLE calls (f_date TEXT, f_userid INTEGER)");
        c.execute("INSERT INTO calls VALUES ('1998-05-02 08:00:00', 1)");
        Database f = Database::create(DataPath + "PhBill_2000.mdb");
        f.execute("CREATE TABLE tab_phX (f_date TEXT, f_userid INTEGER)");
        Database g = Database::create(DataPath + "PhBill_2001.mdb");
        for (const char* t : {"Tab_Ph3", "Tab_Ph03", "Tab_Ph13"}) {
            g.execute(QStringLiteral("CREATE TABLE %1 (f_date TEXT, f_userid INTEGER)").arg(t));
            g.execute(QStringLiteral("INSERT INTO %1 VALUES ('2001-03-02 08:00:00', 1)").arg(t));
        }
    }
    EXPECT_EQ(keys(), QStringList({"1999:03", "2001:03", "2003:05", "2004:02,07", "2005:01"}));
    EXPECT_TRUE(exists(1998) && exists(2000));

    // Month 03 of 2001 goes with both its tables; the file keeps the table it does not list.
    tick("K1999-03");
    tick("K2001-03");
    deleteTicked();
    EXPECT_EQ(keys(), QStringList({"2003:05", "2004:02,07", "2005:01"}));
    EXPECT_FALSE(exists(1999));
    ASSERT_TRUE(exists(2001));
    EXPECT_EQ(Database::open(billing::ArchivePath(2001)).tableNames(), QStringList({"Tab_Ph13"}));
    EXPECT_TRUE(exists(2000));
    EXPECT_EQ(Database::open(billing::ArchivePath(1998)).rowCount("calls"), 1);
    EXPECT_EQ(log(), QStringList({"删话单:1999-03", "删话单:2001-03"}));
    EXPECT_EQ(script::pendingAnswers(), 0);
}

// A damaged archive is reported and kept; rights guard the commands.
TEST_F(BillManageTest, BackupCopiesEachTickedYearOnce) {
    testsupport::writeBytes(DataPath + "PhBill_2001.mdb", QByteArray(4096, 'x'));
    script::answer("PhBill_2001.mdb无法打开", platform::rOK);
    EXPECT_EQ(keys().size(), 3);
    EXPECT_TRUE(exists(2001));
    tick("K2004-02");
    tick("K2004-07");
    tick("K2003-05");
    win().cmdOK_Click(2);
    const QStringList copies = QDir(DataPath + "Backup").entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(copies, QStringList({"20050315100000PhBill_2003.mdb", "20050315100000PhBill_2004.mdb"}));
    {
        Database c = Database::open(DataPath + "Backup/20050315100000PhBill_2004.mdb");
        EXPECT_TRUE(c.quickCheck());
        EXPECT_EQ(c.rowCount("Tab_Ph7"), 2);
    }
    EXPECT_EQ(log(), QStringList({"备份话单:2003-05", "备份话单:2004-02"}));
    EXPECT_EQ(win().node("K2004-07")->checkState(0), Qt::Unchecked);

    WorkerRights = QStringList{"5"};
    tick("K2003-05");
    script::answer("你没有此操作权限", platform::rOK);
    win().cmdOK_Click(0);
    EXPECT_TRUE(exists(2003));
    win().cmdOK_Click(1);   // 关闭 needs no right
    EXPECT_FALSE(win().isVisible());
}

// The operator clicks 备份 on a full disk or a folder that refuses the copy:
// the box names the file and the cause, as 数据库管理's backup does; no log
// line is written and no temporary copy is left.
TEST_F(BillManageTest, ABackupThatFailsNamesItsCause) {
    win().show();
    const struct {
        const char* step;
        int error;
        const char* cause;
    } cases[] = {{"write", ENOSPC, "磁盘已满"}, {"sync", ENOSPC, "磁盘已满"}, {"rename", EACCES, "没有写入权限"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        tick("K2004-02");
        platform::testing::setFaultHook([&c](const QString& op, const QString& path) {
            return op == QLatin1String(c.step) && path.contains("PhBill_2004") ? c.error : 0;
        });
        script::answer("备份" + billing::ArchiveFileName(2004) + "失败", platform::rOK);
        QTest::mouseClick(win().cmdOK[2], Qt::LeftButton);
        platform::testing::setFaultHook(nullptr);
        ASSERT_EQ(script::pendingAnswers(), 0);
        EXPECT_TRUE(script::shown().last().text.contains(QString::fromUtf8(c.cause))) << script::shown().last().text.toStdString();
        EXPECT_TRUE(log().isEmpty());
        EXPECT_TRUE(QDir(DataPath + "Backup").entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

TEST_F(BillManageTest, ExportNumbersNewestFirstWithoutTheBaseFee) {
    dbSwitch.execute("INSERT OR REPLACE INTO user (userid, username) VALUES (1, 'O''Neil')");
    Database src = Database::open(billing::ArchivePath(2004));
    src.execute("UPDATE Tab_Ph7 SET f_long=3725, f_calladdr=5, f_zjaddr=3, f_resp='0123', f_memo='北京', "
                "f_moneny=?, f_addfee1=?, f_addfee2=?, f_gatefee=?, f_linkfee=?",
                {Currency::fromYuan(1), Currency::fromRaw(1000), Currency::fromRaw(2000), Currency::fromRaw(3000),
                 Currency::fromRaw(4000)});
    Database dst = Database::create(dir->file("export.mdb"));
    billing::ConvertToJianKong(src, dst, "Tab_Ph7");
    platform::Recordset rs = dst.query("SELECT * FROM JianKong ORDER BY Number");
    ASSERT_EQ(rs.recordCount(), 2);
    rs.moveFirst();
    QStringList first;
    for (const char* c : {"Number", "PhoneDate", "BeginTime", "CostTime", "Calling", "Unit", "Called", "CalledArea", "JinE",
                          "Pay", "ServiceFee", "AddtionFee", "YaJin", "ZHMiMa", "ZhongJiNum"})
        first << rs.str(c);
    // The newest call first.
    EXPECT_EQ(first, (QStringList{"1", "2004-07-05", "08:00:00", "01:02:05", "E0005", "O'Neil", "0123", "北京", "1", "1",
                                  "0.3", "0.3", "0", "", "3"}));

    // After 250 the numbers go on at 251; Stop keeps what was written.
    dst.execute("UPDATE JianKong SET Number=Number+248");   // 249, 250
    src.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<300) "
                "INSERT INTO Tab_Ph7 (f_date, f_userid, f_zh) SELECT '2004-07-20 08:00:00', 1, '    ' FROM n");
    QTimer stop;   // Stop once the first hundred rows are in
    stop.setInterval(0);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (frmProgress::exists() && dst.rowCount("JianKong") > 2) {
            frmProgress::instance().cmdStop_Click();
            stop.stop();
        }
    });
    stop.start();
    billing::ConvertToJianKong(src, dst, "Tab_Ph7");
    EXPECT_EQ(dst.scalar("SELECT min(Number) FROM JianKong WHERE Number>250").toLongLong(), 251);
    const qint64 written = dst.rowCount("JianKong") - 2;
    EXPECT_EQ(written, 100);
    EXPECT_EQ(dst.scalar("SELECT max(Number) FROM JianKong").toLongLong(), 250 + written);
    EXPECT_FALSE(frmProgress::exists());
}

}  // namespace
