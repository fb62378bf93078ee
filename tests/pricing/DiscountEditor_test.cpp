// The discount scheme window driven through its controls on a fresh station.
#include "core/ModDefine.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"
#include "pricing/TariffWindowFixture.h"
#include "pricing/frmDiscount.h"

using pricing::frmDiscount;
using platform::script::answer;

namespace {

TEST(DiscountInput, DatesTimesAndPercentages) {
    EXPECT_EQ(pricing::HolidayDate("5-1"), "05-01");
    EXPECT_EQ(pricing::HolidayDate("10-01"), "10-01");
    EXPECT_EQ(pricing::HolidayDate("2-29"), "02-29");
    for (const char* bad : {"2-30", "13-1", "0-1", "5/1", "2026-5-1", "5-1-", "五一", ""})
        EXPECT_EQ(pricing::HolidayDate(bad), "") << bad;
    EXPECT_EQ(pricing::SegmentTime("7:00"), QTime(7, 0, 0));
    EXPECT_EQ(pricing::SegmentTime("23:59:59"), QTime(23, 59, 59));
    for (const char* bad : {"24:00", "7:60", "7:00:60", "7:5", "7", "-1:00", "7:00:00:00", "7.00"})
        EXPECT_FALSE(pricing::SegmentTime(bad).isValid()) << bad;
    EXPECT_EQ(pricing::DiscountPercent("50%"), 50);
    EXPECT_EQ(pricing::DiscountPercent("100.0"), 100);
    EXPECT_EQ(pricing::DiscountPercent("打折"), 0);
    for (const char* bad : {"100.5", "101", "-5", "0.5", "1000"}) EXPECT_EQ(pricing::DiscountPercent(bad), -1) << bad;
}

// The discount window on the tariff windows' station and worker; its grids
// have no fee-rate grid, but the same cell editor.
class DiscountWindow : public pricingtest::TariffWindowTest<frmDiscount> {
protected:
    void scheme(int id, const QString& name) {
        dbSwitch.execute("insert into discount values(?,?,0,0,'')", {id, name});
    }
    void click(const QString& key) { win().tvwDiscount->setCurrentItem(win().node(key)); }
    // Double-clicks a cell and types into the editor, Enter to commit.
    void edit(platform::FlexGrid* g, int r, int c, const QString& text) {
        g->setRow(r);
        g->setCol(c);
        g == win().fgDate ? win().fgDate_DblClick() : win().fgTimes_DblClick();
        ASSERT_FALSE(win().txtModify->isHidden());
        enter(text);
    }
    QStringList stored(const char* sql, int id) {
        QStringList out;
        platform::Recordset rs = dbSwitch.query(sql, {id});
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            QStringList row;
            for (const QVariant& v : rs.row()) row << v.toString();
            out << row.join(' ');
        }
        return out;
    }
    QStringList times(int id) {
        return stored("select starttime,endtime,normaldiscount,holidaydiscount from discounttimes where discountid=? "
                      "order by position",
                      id);
    }
};

TEST_F(DiscountWindow, AddTakesTheFirstFreeNumberAndNamesNeverClash) {
    scheme(2, "周末");
    scheme(4, "夜间");
    ASSERT_EQ(win().windowTitle(), "折价设置窗口");
    ASSERT_EQ(win().DiscountID(), 1);
    win().txtDiscount->setText("节日");
    win().cmdSave[0]->click();
    EXPECT_EQ(dbSwitch.scalar("select discountname from discount where discountid=3").toString(), "节日");
    ASSERT_NE(win().node("K3"), nullptr);
    // Added while the default scheme is shown: it stays shown.
    EXPECT_EQ(win().DiscountID(), 1);
    EXPECT_EQ(win().txtDiscount->text(), "默认方案");
    // The default scheme's name is never written, so another scheme's name in its box is no clash.
    win().txtDiscount->setText("周末");
    edit(win().fgTimes, 1, 4, "80");
    win().cmdSave[1]->click();
    EXPECT_EQ(times(1), QStringList({"00:00:00 00:00:00 100 80"}));
    EXPECT_EQ(dbSwitch.scalar("select discountname from discount where discountid=1").toString(), "默认方案");
    EXPECT_TRUE(platform::script::shown().isEmpty());

    click("K2");
    win().txtDiscount->setText("节日");
    answer("节日 折价名称已存在", platform::rOK);
    win().cmdSave[1]->click();
    answer("周末 折价名称已存在", platform::rOK);
    win().txtDiscount->setText("周末");
    win().cmdSave[0]->click();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from discount").toInt(), 4);
    win().txtDiscount->setText("周末二");
    win().cmdSave[0]->click();
    EXPECT_EQ(win().DiscountID(), 5);
    EXPECT_EQ(win().tvwDiscount->currentItem()->text(0), "周末二");
    EXPECT_EQ(win().fraSet->title(), "周末二 折价设置");
}

TEST_F(DiscountWindow, DatesAndSegmentsAreStoredInTheirForms) {
    scheme(2, "周末");
    click("K2");
    ASSERT_EQ(win().fgTimes->Rows(), 2);
    EXPECT_EQ(win().fgTimes->TextMatrix(1, 1), "0:00:00");
    edit(win().fgDate, 1, 0, "5-1");
    key(win().fgDate, Qt::Key_Return);
    key(win().fgDate, Qt::Key_Return);
    answer("请输入正确的日期,格式为月-日(如:5-1)", platform::rOK);
    edit(win().fgDate, 3, 0, "2-30");
    EXPECT_EQ(win().txtModify->text(), "");
    enter("10-01");
    EXPECT_EQ(win().fgDate->TextMatrix(3, 0), "10-1");

    edit(win().fgTimes, 1, 2, "7:00");
    answer("请输入0-100之间的数", platform::rOK);
    edit(win().fgTimes, 1, 3, "100.5");
    enter("50%");
    key(win().fgTimes, Qt::Key_Return);
    edit(win().fgTimes, 2, 1, "22:00:00");
    edit(win().fgTimes, 2, 2, "6:00");
    key(win().fgTimes, Qt::Key_Return);
    edit(win().fgTimes, 3, 1, "7:00");
    edit(win().fgTimes, 3, 2, "22:00");
    key(win().fgTimes, Qt::Key_Return);
    ASSERT_EQ(win().fgTimes->Rows(), 5);

    answer("第2行以后的时段将不被保存,要保存吗?", platform::rNo);
    win().cmdSave[1]->click();
    EXPECT_TRUE(times(2).isEmpty());
    EXPECT_TRUE(stored("select discountdate from discountdate where discountid=?", 2).isEmpty());
    EXPECT_TRUE(win().Modified());

    answer("第2行以后的时段将不被保存,要保存吗?", platform::rYes);
    win().cmdSave[1]->click();
    EXPECT_EQ(times(2), QStringList({"00:00:00 07:00:00 50 100", "22:00:00 06:00:00 100 100"}));
    EXPECT_EQ(stored("select discountdate from discountdate where discountid=? order by rowid", 2),
              QStringList({"05-01", "10-01"}));
    EXPECT_FALSE(win().Modified());
    // What the pricing reads of it.
    QVector<DiscountSeg> segs;
    const DayRule rule = ClsMonitor::LoadDiscount(2, segs);
    EXPECT_EQ(ClsMonitor::GetDayType(QDate(2026, 10, 1), rule), -1);
    qint32 left = 0;
    EXPECT_EQ(ClsMonitor::GetTimeDiscount(QTime(3, 0), 0, left, segs), 50);

    // Forward segments end with the default one; saving again adds nothing and asks nothing.
    key(win().fgTimes, Qt::Key_Delete);
    win().fgTimes->setRow(1);
    key(win().fgTimes, Qt::Key_Delete);
    ASSERT_EQ(win().fgTimes->Rows(), 2);
    edit(win().fgTimes, 1, 1, "8:00");
    edit(win().fgTimes, 1, 2, "21:59:59");
    win().cmdSave[1]->click();
    EXPECT_EQ(times(2), QStringList({"08:00:00 21:59:59 100 100"}));
    const QStringList both{"08:00:00 21:59:59 100 100", "00:00:00 00:00:00 100 100"};
    for (int i = 0; i < 2; ++i) {
        win().cmdSave[1]->click();
        EXPECT_EQ(times(2), both);
    }

    // A row that cannot be written leaves the scheme as it was and the change marked.
    dbSwitch.execute("create trigger refuse before insert on discounttimes when new.position=2 "
                     "begin select raise(abort,'refused'); end");
    edit(win().fgDate, 1, 0, "6-1");
    edit(win().fgTimes, 1, 4, "80");
    answer("保存失败", platform::rOK);
    win().cmdSave[1]->click();
    EXPECT_EQ(times(2), both);
    EXPECT_EQ(stored("select discountdate from discountdate where discountid=? order by rowid", 2).value(0), "05-01");
    EXPECT_TRUE(win().Modified());
}

TEST_F(DiscountWindow, EveryChangeIsOfferedForSavingBeforeTheSchemeIsLeft) {
    scheme(2, "周末");
    click("K2");
    win().chkSaturday->click();
    answer("参数已经改变，要保存吗?", platform::rNo);
    click("K1");
    EXPECT_EQ(dbSwitch.scalar("select saturdaydiscount from discount where discountid=2").toInt(), 0);

    click("K2");
    key(win().fgDate, Qt::Key_Return);
    EXPECT_TRUE(win().Modified());
    win().chkSunday->click();
    answer("参数已经改变，要保存吗?", platform::rYes);
    click("K1");
    EXPECT_EQ(dbSwitch.scalar("select sundaydiscount from discount where discountid=2").toInt(), 1);

    // A save refused for lack of the right keeps the scheme and its change.
    click("K2");
    WorkerRights = QStringList{"17"};
    win().chkSaturday->click();
    answer("参数已经改变，要保存吗?", platform::rYes);
    answer("你没有此操作权限", platform::rOK);
    click("K1");
    EXPECT_EQ(win().DiscountID(), 2);
    EXPECT_EQ(win().tvwDiscount->currentItem(), win().node("K2"));
    EXPECT_TRUE(win().chkSaturday->isChecked());
    EXPECT_TRUE(win().Modified());
    answer("参数已经改变，要保存吗?", platform::rYes);
    answer("你没有此操作权限", platform::rOK);
    win().cmdExit->click();
    EXPECT_TRUE(frmDiscount::exists());
}

TEST_F(DiscountWindow, DeletingAUsedSchemeMovesItsRatesAndHeadsToSchemeOne) {
    scheme(2, "周末");
    scheme(3, "节日");
    scheme(5, "夜间");
    dbSwitch.execute("insert into feerate(zonecode,feeratetype,discountid) values('010',2,3)");
    dbSwitch.execute("insert into iphead(iphead,discountid) values('17909',3)");
    dbSwitch.execute("insert into discountdate values(3, '05-01', ?)", {QStringLiteral("劳\t动节")});
    dbSwitch.execute("insert into discounttimes values(3, 1, ?, '06:00:00', 50, 80)", {QStringLiteral("2\t2:00")});
    click("K3");
    // A tab in a stored text stays in its cell.
    EXPECT_EQ(win().fgDate->TextMatrix(1, 0), "5-1");
    EXPECT_EQ(win().fgDate->TextMatrix(1, 1), "劳 动节");
    EXPECT_EQ(win().fgTimes->TextMatrix(1, 1), "2 2:00");
    EXPECT_EQ(win().fgTimes->TextMatrix(1, 2), "6:00:00");
    EXPECT_EQ(win().fgTimes->TextMatrix(1, 4), "80");
    const quint64 rates = rsFeeRate.openSerial();
    answer("折价名称<节日>已经被使用,真的要删除此折价名称吗?", platform::rNo);
    win().cmdDelete->click();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from discount").toInt(), 4);
    answer("折价名称<节日>已经被使用,真的要删除此折价名称吗?", platform::rYes);
    win().cmdDelete->click();
    EXPECT_EQ(dbSwitch.scalar("select discountid from feerate").toInt(), 1);
    EXPECT_EQ(dbSwitch.scalar("select discountid from iphead").toInt(), 1);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from discountdate where discountid=3").toInt(), 0);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from discounttimes where discountid=3").toInt(), 0);
    EXPECT_EQ(win().node("K3"), nullptr);
    EXPECT_EQ(win().DiscountID(), 2);
    EXPECT_NE(rsFeeRate.openSerial(), rates);
    // Scheme 4 does not exist: the default scheme is shown; it cannot be deleted.
    click("K5");
    win().cmdDelete->click();
    EXPECT_EQ(win().DiscountID(), 1);
    EXPECT_EQ(win().tvwDiscount->currentItem(), win().node("K1"));
    EXPECT_FALSE(win().cmdDelete->isEnabled());
}

}  // namespace
