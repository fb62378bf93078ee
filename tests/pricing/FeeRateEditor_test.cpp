// The ordinary fee-rate window driven through its controls on a fresh station.
#include "core/ModDefine.h"
#include "core/frmFeeFind.h"
#include "platform/Prompts.h"
#include "pricing/TariffEdit.h"
#include "pricing/frmFeeRate.h"
#include "pricing/TariffWindowFixture.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

using pricing::frmFeeRate;
using platform::script::answer;
using pricingtest::rate;

namespace {

TEST(TariffInput, RecognisersAndGridValues) {
    EXPECT_TRUE(pricing::IsZoneCode("0755"));
    EXPECT_TRUE(pricing::IsZoneCode(QString(16, '9')));
    EXPECT_FALSE(pricing::IsZoneCode(QString(17, '9')));
    for (const char* bad : {"", "07a5", "1e3", "+1", " 1", "0x1f", "1,000"}) EXPECT_FALSE(pricing::IsZoneCode(bad)) << bad;
    EXPECT_TRUE(pricing::IsNumber("-1.5"));
    EXPECT_FALSE(pricing::IsNumber("国际"));
    EXPECT_FALSE(pricing::IsNumber("1e3"));

    // Column, typed, shown.
    const char* const cases[][3] = {{"首次时长", "60s", "60s"},   {"首次时长", "300", "255s"}, {"首次时长", "-1", "0s"},
                                    {"首次时长", "秒", "0s"},     {"每次时长", "0", "1s"},     {"附加费2", "-5", "100%"},
                                    {"附加费2", "150", "100%"},   {"手续费2", "100", "100%"},  {"首次价格", "2000", "999.00"},
                                    {"每次价格", "0.555", "0.56"}, {"地名", "O'Brien", "O'Brien"}};
    for (const auto& [title, typed, display] : cases)
        EXPECT_EQ(pricing::FeeGridValue(title, typed).display, QString::fromUtf8(display)) << title << " " << typed;
    // The value stored is the value shown, in ten-thousandths.
    EXPECT_EQ(pricing::FeeGridValue("每次价格", "0.555").value.v.toLongLong(), 5600);
}

TEST(TariffInput, FindIsLiteralButForStarAndQuestionMark) {
    const auto WildcardMatch = [](const QString& pattern, const QString& text) {
        return pricing::WildcardPattern(pattern).match(text).hasMatch();
    };
    EXPECT_TRUE(WildcardMatch("07*", "0755"));
    EXPECT_TRUE(WildcardMatch("07?5", "0755"));
    EXPECT_FALSE(WildcardMatch("07?", "0755"));
    EXPECT_TRUE(WildcardMatch("shen*", "ShenZhen"));
    EXPECT_FALSE(WildcardMatch("07%", "0755"));
    EXPECT_FALSE(WildcardMatch("0_55", "0755"));
    EXPECT_TRUE(WildcardMatch("[a]'", "[A]'"));
    EXPECT_FALSE(WildcardMatch("07.5", "0755"));
}

class FeeRateWindow : public pricingtest::TariffWindowTest<frmFeeRate> {
protected:
    QString find;   // what the find prompt is answered with
    void rightClick() {
        const QRect cell = grid().visualRect(grid().model()->index(grid().Row(), grid().Col()));
        QMouseEvent e(QEvent::MouseButtonPress, cell.center(), grid().viewport()->mapToGlobal(cell.center()),
                      Qt::RightButton, Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(grid().viewport(), &e);
    }
    QVariant stored(const char* col, const QString& zone, int type) {
        return dbSwitch.scalar(QStringLiteral("select %1 from feerate where feerateid=0 and zonecode=? and feeratetype=?")
                                   .arg(col),
                               {zone, type});
    }
};

TEST_F(FeeRateWindow, RightClickOnABlockWritesEveryRowAndZoneColumnsOneAtATime) {
    for (int i = 1; i <= 8; ++i) rate(QStringLiteral("02%1").arg(i), 2, 0);
    ASSERT_EQ(win().windowTitle(), "普通费率设置");
    win().SSTab1->setCurrentIndex(2);
    ASSERT_EQ(grid().Rows(), 9);
    select(3, 7, 5);
    rightClick();
    ASSERT_TRUE(win().txtModify->isVisible() || !win().txtModify->isHidden());
    enter("0.5");
    EXPECT_TRUE(win().txtModify->isHidden());
    for (int r = 1; r <= 8; ++r) {
        const QString zone = grid().TextMatrix(r, 0);
        const bool target = r >= 3 && r <= 7;
        EXPECT_EQ(grid().TextMatrix(r, 5), target ? "0.50" : "0.10") << r;
        EXPECT_EQ(stored("perprice", zone, 2).toLongLong(), target ? 5000 : 1000) << r;
    }
    // A block in the zone column opens no editor.
    select(3, 7, 0);
    rightClick();
    EXPECT_TRUE(win().txtModify->isHidden());
    // 是 in 附加费折价 for rows 2-4.
    select(2, 4, 11);
    rightClick();
    ASSERT_FALSE(win().cboModify->isHidden());
    win().cboModify->setEditText("是");
    win().cboModify_Commit();
    for (int r = 2; r <= 4; ++r) {
        EXPECT_EQ(grid().TextMatrix(r, 11), "是");
        EXPECT_EQ(stored("extradiscount", grid().TextMatrix(r, 0), 2).toInt(), 1);
    }
    EXPECT_EQ(stored("extradiscount", grid().TextMatrix(5, 0), 2).toInt(), 0);
}

TEST_F(FeeRateWindow, ZoneCodesAreCheckedBeforeAnythingIsWritten) {
    rate("0755", 3, 0, "深圳");
    rate("010", 2, 0, "北京");
    win().SSTab1->setCurrentIndex(2);
    select(1, 1, 0);
    auto edit = [&](const QString& t) {
        win().fgFeerate_DblClick();
        EXPECT_FALSE(win().txtModify->isHidden());
        enter(t);
    };
    answer("请输入1-16位地区代号", platform::rOK);
    edit(QString(17, '1'));
    EXPECT_FALSE(win().txtModify->isHidden());
    EXPECT_EQ(win().txtModify->text(), "010");
    answer("请输入数字", platform::rOK);
    enter("01a");
    answer("地区代号<0755>已经存在于省内", platform::rOK);
    enter("0755");
    EXPECT_EQ(stored("summary", "010", 2).toString(), "北京");
    // Unchanged: no message, no statement.
    enter("010");
    EXPECT_TRUE(win().txtModify->isHidden());
    edit(QString(16, '1'));
    EXPECT_TRUE(win().txtModify->isHidden());
    EXPECT_EQ(stored("summary", QString(16, '1'), 2).toString(), "北京");
    EXPECT_TRUE(stored("summary", "010", 2).isNull());
    // 本局 keeps its own zone codes.
    win().SSTab1->setCurrentIndex(9);
    win().cmdFeerate_Click(0);
    EXPECT_EQ(win().txtModify->text(), "1");
    enter("0755");
    EXPECT_EQ(stored("feeratetype", "0755", 9).toInt(), 9);
}

TEST_F(FeeRateWindow, RowOneIsKeptOnlyWhenItIsTheDefaultRow) {
    rate("市话", 7, 0, "默认");
    rate("88", 7, 0);
    rate("77", 7, 0);
    rate("66", 7, 0);
    win().SSTab1->setCurrentIndex(7);
    ASSERT_EQ(grid().TextMatrix(1, 0), "市话");
    select(1, 1, 0);
    win().fgFeerate_DblClick();
    EXPECT_TRUE(win().txtModify->isHidden());
    select(1, 3, 4);
    win().cmdFeerate_Click(1);
    EXPECT_EQ(grid().Rows(), 3);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from feerate where feeratetype=7").toInt(), 2);

    // A fresh station's tab of numeric zones: row 1 is an ordinary rate.
    rate("0755", 4, 0);
    rate("0756", 4, 0);
    rate("0757", 4, 0);
    win().SSTab1->setCurrentIndex(4);
    select(1, 1, 0);
    win().fgFeerate_DblClick();
    EXPECT_FALSE(win().txtModify->isHidden());
    enter("0758");
    EXPECT_EQ(stored("feeratetype", "0758", 4).toInt(), 4);
    select(1, 3, 0);
    win().cmdFeerate_Click(1);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from feerate where feeratetype=4").toInt(), 0);
    EXPECT_EQ(grid().Rows(), 2);
    EXPECT_EQ(grid().TextMatrix(1, 0), "");
}

TEST_F(FeeRateWindow, AddedRowIsStoredWhenItsZoneCodeIsCommitted) {
    rate("0755", 2, 0, "深圳", 6000);
    win().SSTab1->setCurrentIndex(2);
    win().cmdFeerate_Click(0);
    ASSERT_EQ(grid().Rows(), 3);
    EXPECT_EQ(win().txtModify->text(), "0756");
    EXPECT_EQ(grid().TextMatrix(2, 1), "深圳");
    enter("");
    EXPECT_TRUE(win().txtModify->isHidden());
    EXPECT_EQ(dbSwitch.scalar("select count(*) from feerate").toInt(), 1);
    select(2, 2, 0);
    win().fgFeerate_DblClick();
    enter("0757");
    EXPECT_EQ(stored("perprice", "0757", 2).toLongLong(), 6000);
    EXPECT_EQ(stored("summary", "0757", 2).toString(), "深圳");
    // An empty tab proposes 1; the copied empty cells read as empty numbers do.
    win().SSTab1->setCurrentIndex(6);
    win().cmdFeerate_Click(0);
    EXPECT_EQ(win().txtModify->text(), "1");
    enter("168");
    EXPECT_EQ(stored("pertime", "168", 6).toInt(), 1);
    EXPECT_EQ(grid().TextMatrix(2, 4), "1s");
    EXPECT_EQ(grid().TextMatrix(2, 10), "默认方案");
}

TEST_F(FeeRateWindow, NothingIsEditedWithoutTheRight) {
    rate("020", 2, 0);
    WorkerRights = QStringList{"16"};
    win().SSTab1->setCurrentIndex(2);
    answer("你没有此操作权限", platform::rOK);
    select(1, 1, 5);
    win().fgFeerate_DblClick();
    EXPECT_TRUE(win().txtModify->isHidden());
    answer("你没有此操作权限", platform::rOK);
    win().cmdFeerate_Click(1);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from feerate").toInt(), 1);
}

// The operator's own gestures with an editor open: a click on another tab, the
// window resized, 查找; every one settles the edit before it moves anything.
TEST_F(FeeRateWindow, AnOpenEditIsSettledBeforeTheTabTheSizeOrTheFindMoveOn) {
    rate("020", 2, 0, "广州");
    rate("0755", 3, 0);
    rate("0769", 3, 0);
    win().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win()));
    auto clickTab = [&](int t) { QTest::mouseClick(win().SSTab1, Qt::LeftButton, {}, win().SSTab1->tabRect(t).center()); };
    auto openEditor = [&](int r, int c) {
        const QRect cell = grid().visualRect(grid().model()->index(r, c));
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid().viewport(), Qt::LeftButton, {}, cell.center());
        ASSERT_FALSE(win().txtModify->isHidden());
    };
    clickTab(3);
    ASSERT_EQ(grid().TextMatrix(1, 0), "0769");
    openEditor(2, 1);
    win().txtModify->setText("深圳");
    clickTab(2);
    EXPECT_EQ(stored("summary", "0755", 3).toString(), "深圳");
    EXPECT_EQ(win().SSTab1->currentIndex(), 2);
    EXPECT_EQ(grid().TextMatrix(1, 1), "广州");

    // A value the rule refuses keeps its editor and the tab.
    openEditor(1, 0);
    QTest::keyClicks(win().txtModify, "0755");
    answer("地区代号<0755>已经存在于省内", platform::rOK);
    clickTab(7);
    EXPECT_EQ(win().SSTab1->currentIndex(), 2);
    EXPECT_FALSE(win().txtModify->isHidden());
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    QTest::keyClick(win().txtModify, Qt::Key_Return);
    EXPECT_TRUE(win().txtModify->isHidden());

    openEditor(1, 5);
    QTest::keyClicks(win().txtModify, "0.7");
    win().resize(win().width() + 120, win().height() + 60);
    EXPECT_TRUE(win().txtModify->isHidden());
    EXPECT_EQ(stored("perprice", "020", 2).toLongLong(), 7000);
    EXPECT_EQ(grid().TextMatrix(1, 5), "0.70");

    // The place name typed a moment ago is found, and so is one still in its editor.
    platform::script::onModal("frmFeeFind", [this](QDialog* d) {
        auto* f = static_cast<frmFeeFind*>(d);
        f->txtFind->setText(find);
        f->cmdFind_Click();
    });
    find = "深圳";
    QTest::mouseClick(win().cmdFeerate[2], Qt::LeftButton);
    EXPECT_EQ(win().SSTab1->currentIndex(), 3);
    EXPECT_EQ(grid().TextMatrix(grid().Row(), 0), "0755");
    openEditor(1, 1);
    win().txtModify->setText("东莞");
    find = "东莞";
    QTest::mouseClick(win().cmdFeerate[2], Qt::LeftButton);
    EXPECT_EQ(stored("summary", "0769", 3).toString(), "东莞");
    EXPECT_EQ(grid().TextMatrix(grid().Row(), 0), "0769");
    EXPECT_EQ(grid().ColSel(), 12);
}

TEST_F(FeeRateWindow, ABlockOfRowsIsWrittenWholeOrNotAtAll) {
    for (const char* zone : {"021", "022", "023"}) rate(zone, 2, 0);
    dbSwitch.execute("create trigger refuse before update on feerate when new.zonecode='023' "
                     "begin select raise(abort,'refused'); end");
    win().SSTab1->setCurrentIndex(2);
    ASSERT_EQ(grid().TextMatrix(1, 0), "023");
    select(1, 3, 5);
    rightClick();
    answer("保存失败", platform::rOK);
    enter("0.9");
    for (const char* zone : {"021", "022", "023"}) EXPECT_EQ(stored("perprice", zone, 2).toLongLong(), 1000) << zone;
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(grid().TextMatrix(r, 5), "0.10") << r;

    // Deleting them goes the same way.
    dbSwitch.execute("drop trigger refuse");
    dbSwitch.execute("create trigger refuse before delete on feerate when old.zonecode='021' "
                     "begin select raise(abort,'refused'); end");
    select(1, 3, 0);
    answer("删除失败", platform::rOK);
    win().cmdFeerate_Click(1);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from feerate").toInt(), 3);
    EXPECT_EQ(grid().Rows(), 4);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
}

TEST_F(FeeRateWindow, ATabInAStoredPlaceNameStaysInItsCell) {
    rate("0755", 2, 0, "深\t圳", 6000);
    win().SSTab1->setCurrentIndex(2);
    ASSERT_EQ(grid().Rows(), 2);
    EXPECT_EQ(grid().TextMatrix(1, 0), "0755");
    EXPECT_EQ(grid().TextMatrix(1, 1), "深 圳");
    EXPECT_EQ(grid().TextMatrix(1, 5), "0.60");
    EXPECT_EQ(grid().TextMatrix(1, 12), "否");
}

}  // namespace
