// The fee report of a site: its order and sums from the site's own year
// files, what it refuses to read, and the export of chosen months.
#include "billing/frmFeeDetail.h"
#include "core/ModDefine.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace script = platform::script;
using billing::frmFeeDetail;
using platform::Currency;
using platform::Database;

namespace {

class FeeDetailTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        model = 2;
        StationDbTest::SetUp();
        billing::testing::setPopupRunner([this](QMenu*) {
            ++popups;
            return chosen;
        });
    }
    void TearDown() override {
        frmFeeDetail::unload();
        billing::testing::setPopupRunner(nullptr);
        StationTest::TearDown();
    }
    QString site(const QString& name) {
        QDir().mkpath(dir->dataPath() + name);
        return dir->dataPath() + name + '/';
    }
    // A month table with Tab_Phone's definition; each call's five fees in ten-thousandths.
    static void month(const QString& file, int m, const QList<QList<int>>& calls) {
        Database db = Database::create(file);
        const QString def = dbPhoneCur.scalar("SELECT sql FROM phonecur.sqlite_master WHERE name='Tab_Phone'").toString();
        db.execute(QString("CREATE TABLE Tab_Ph%1 %2").arg(m).arg(def.mid(def.indexOf('('))));
        const QString date = QFileInfo(file).fileName().mid(7, 4) + QString("-%1-03 08:00:00").arg(m, 2, 10, QChar('0'));
        for (const auto& f : calls)
            db.execute(QString("INSERT INTO Tab_Ph%1 (f_date, f_moneny, f_addfee1, f_addfee2, f_gatefee, f_linkfee, "
                               "f_userid, f_zh, f_resp, f_memo) VALUES (?,?,?,?,?,?,0,'    ','010','北京')").arg(m),
                       {date, Currency::fromRaw(f[0]), Currency::fromRaw(f[1]), Currency::fromRaw(f[2]),
                        Currency::fromRaw(f[3]), Currency::fromRaw(f[4])});
        db.close();
    }
    QStringList rows() {
        QStringList out;
        auto* g = frmFeeDetail::instance().fgDetail;
        for (int r = 1; r < g->Rows(); ++r) out << g->TextMatrix(r, 0) + '|' + g->TextMatrix(r, 1);
        return out;
    }
    int attached() { return dbSwitch.query("PRAGMA database_list").recordCount(); }
    int popups = 0;
    QAction* chosen = nullptr;
};

TEST_F(FeeDetailTest, MonthsNewestFirstWithSubtotalsAndTotalInCurrencyADamagedYearLeftOut) {
    const QString s = site("东区");
    // 0.0050 + ... : the sum is exact, shown rounded half away from zero.
    month(s + "PhBill_2005.mdb", 3, {{10000, 1000, 2000, 3000, 4000}, {50, 0, 0, 0, 0}});
    month(s + "PhBill_2005.mdb", 11, {});
    month(s + "phbill_2003.mdb", 12, {{1, 2, 3, 4, 5}});
    Database::create(s + "PhBill_2004.mdb").close();   // a year without months
    testsupport::writeBytes(s + "PhBill_2002.mdb", QByteArray(4096, 'x'));   // damaged: said, and left out of the total
    month(dir->file("PhBill_2005.mdb"), 1, {{990000, 0, 0, 0, 0}});   // the root's own calls are not this site's
    QWidget terminal;
    terminal.setObjectName("frmTerminal");

    script::answer("PhBill_2002.mdb", platform::rOK);
    frmFeeDetail::ShowDetail("东区");
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(script::shown().last().title, AppName);
    auto& w = frmFeeDetail::instance();
    EXPECT_EQ(w.windowTitle(), "查看东区年月话费信息");
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(terminal.isEnabled());
    EXPECT_EQ(rows(), QStringList({"2005-11|", "2005-03|2.01", "2005年小计:|2.01", "2004年小计:|0.00", "2003-12|0.00",
                                   "2003年小计:|0.00", "东区总计:|2.01"}));
    EXPECT_EQ(attached(), 2);   // every year file released once read

    // Shown again for another site: the report is rebuilt, not appended to; a
    // tab in the site's name stays in its cell.
    month(site("西\t区") + "PhBill_2006.mdb", 1, {{25000, 0, 0, 0, 0}});
    frmFeeDetail::ShowDetail("西\t区");
    EXPECT_EQ(rows(), QStringList({"2006-01|2.50", "2006年小计:|2.50", "西 区总计:|2.50"}));
    w.close();
    EXPECT_TRUE(terminal.isEnabled());
}

TEST_F(FeeDetailTest, NoDirectoryOrNoPlainNameGivesAnEmptyReportWithoutMenu) {
    month(dir->file("PhBill_2005.mdb"), 1, {{10000, 0, 0, 0, 0}});
    site("空站");
    for (const QString& name : {QString("无此站"), QString("."), QString(""), QString("空站")}) {
        frmFeeDetail::ShowDetail(name);
        EXPECT_EQ(rows(), QStringList({"|"})) << name.toStdString();
        EXPECT_EQ(frmFeeDetail::instance().windowTitle(), "查看" + name + "年月话费信息");
        frmFeeDetail::instance().fgDetail_MouseDown(Qt::RightButton);
    }
    EXPECT_EQ(popups, 0);
}

TEST_F(FeeDetailTest, ExportsSelectedMonthsOnlyAndReportsTargetsItCannotUse) {
    const QString s = site("北区");
    month(s + "PhBill_2005.mdb", 3, {{10000, 0, 0, 0, 0}, {20000, 0, 0, 0, 0}});
    month(s + "PhBill_2005.mdb", 1, {{10000, 0, 0, 0, 0}});
    month(s + "PhBill_2004.mdb", 12, {{10000, 1000, 0, 0, 0}});
    frmFeeDetail::ShowDetail("北区");
    auto& w = frmFeeDetail::instance();
    ASSERT_EQ(rows().size(), 6);   // 2005-03, 2005-01, subtotal, 2004-12, subtotal, total
    chosen = w.mnuImport;
    const QString target = dir->appPath() + "export";
    auto exportRows = [&](int first, int last, const QString& file) {
        w.fgDetail->setRow(first);
        w.fgDetail->setRowSel(last);
        script::answer("导出话单", platform::rOK, file);
        w.fgDetail_MouseDown(Qt::RightButton);
    };
    // 2005-01 (row 2), its subtotal and 2004-12: two months; the name gets ".mdb".
    exportRows(2, 4, target);
    Database out = Database::open(target + ".mdb");
    EXPECT_EQ(out.rowCount("JianKong"), 2);
    EXPECT_EQ(out.scalar("SELECT group_concat(PhoneDate || '=' || JinE, ',') FROM JianKong").toString(),
              "2005-01-03=0,2004-12-03=0.1");
    out.close();
    // An existing file is opened and added to, not replaced.
    exportRows(1, 1, target + ".mdb");
    EXPECT_EQ(Database::open(target + ".mdb").rowCount("JianKong"), 4);

    // A folder that does not exist, and a file that is no database: reported, nothing written.
    script::answer("无法打开导出文件", platform::rOK);
    exportRows(1, 1, dir->appPath() + "nowhere/x.mdb");
    testsupport::writeBytes(dir->appPath() + "junk.mdb", QByteArray(2048, 'x'));
    script::answer("无法打开导出文件", platform::rOK);
    exportRows(1, 1, dir->appPath() + "junk.mdb");
    // A month gone since the report was read: the export fails and says so.
    Database::open(s + "PhBill_2005.mdb").execute("DROP TABLE Tab_Ph3");
    script::answer("导出2005-03话单失败", platform::rOK);
    exportRows(1, 1, target + ".mdb");
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_FALSE(QFile::exists(dir->appPath() + "nowhere/x.mdb"));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(attached(), 2);
    // Cancelling the chooser does nothing.
    script::answer("导出话单", platform::rCancel);
    w.fgDetail_MouseDown(Qt::RightButton);
    EXPECT_EQ(Database::open(target + ".mdb").rowCount("JianKong"), 4);
}

}  // namespace
