// The IP tariff window driven through its controls on a fresh station: rate
// types, their fee-rate grid and the IP heads.
#include "core/ModDefine.h"
#include "core/frmFeeFind.h"
#include "platform/Prompts.h"
#include "pricing/TariffEdit.h"
#include "pricing/frmIP.h"
#include "pricing/TariffWindowFixture.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QGuiApplication>
#include <QClipboard>
#include <QInputMethodEvent>

using pricing::frmIP;
using platform::script::answer;
using pricingtest::rate;

namespace {

TEST(TariffInput, IPHeadFieldsWhenLeft) {
    using pricing::IPLinkText;
    const std::tuple<int, const char*, const char*> cases[] = {{0, "0", "0s"},   {0, "180s", "180s"}, {2, "0", "1s"},
                                                               {2, "0.5", "1s"}, {5, "150", "0%"},    {7, "-5", "0%"},
                                                               {5, "100", "100%"}, {1, "0.555", "0.56"}};
    for (const auto& [field, typed, shown] : cases) EXPECT_EQ(IPLinkText(field, typed), shown) << field << " " << typed;
    for (const char* bad : {"abc", "1e3", "0x1f", "1,5", ""}) EXPECT_EQ(IPLinkText(3, bad), "0.00") << bad;
    // Stored as shown.
    EXPECT_EQ(pricing::IPLinkValue(1, "0.555").v.toLongLong(), 5600);
    EXPECT_EQ(pricing::IPLinkValue(5, "150").v.toLongLong(), 0);
}

class IPWindow : public pricingtest::TariffWindowTest<frmIP> {
protected:
    void type(qint32 id, const QString& name) {
        dbSwitch.execute("insert into ipfeerate values(?,?,'')", {id, name});
    }
    void head(const QString& h, qint32 id, const QString& summary = QString()) {
        dbSwitch.execute("insert into iphead(iphead,summary,ipfeerate,perprice) values(?,?,?,2000)", {h, summary, id});
    }
    void clickHead(const QString& h) {
        ASSERT_TRUE(frmIP::SelectNode(win().tvwIPHead, h.isEmpty() ? QStringLiteral("KHead") : "K" + h));
        win().tvwIPHead_Click();
    }
    int count(const char* table, const QString& where = "1=1") {
        return dbSwitch.scalar(QStringLiteral("select count(*) from %1 where %2").arg(table, where)).toInt();
    }
};

TEST_F(IPWindow, NewTypesTakeTheFirstFreeIdAndAreShownWithTheirEightDefaultRows) {
    EXPECT_EQ(frmIP::GetIPID(), 1);
    type(2, "乙");
    type(3, "丙");
    EXPECT_EQ(frmIP::GetIPID(), 1);
    type(1, "甲");
    type(4, "丁");
    EXPECT_EQ(frmIP::GetIPID(), 5);
    dbSwitch.execute("delete from ipfeerate where ipfeerateid=3");
    EXPECT_EQ(frmIP::GetIPID(), 3);

    ASSERT_EQ(win().CurrentTypeID(), 1);   // the first type is shown at load
    win().txtIPFeerate[0]->setText("O'Neil");
    win().txtIPFeerate[1]->setText("说明");
    win().cmdIPType[0]->click();
    const QStringList zones{"IP国际", "IP特区", "IP国内", "IP省内", "IP移动", "IP网间", "IP信息台", "IP市话"};
    platform::Recordset rs =
        dbSwitch.query("select zonecode,summary,feeratetype from feerate where feerateid=3 order by feeratetype");
    ASSERT_EQ(rs.recordCount(), 8);
    for (int i = 0; i < 8; ++i, rs.moveNext()) {
        EXPECT_EQ(rs.str("zonecode"), zones[i]);
        EXPECT_EQ(rs.str("summary"), "默认" + zones[i]);
        EXPECT_EQ(rs.lng("feeratetype"), i);
    }
    // The new type is current at once, so the grid commands act on what is shown.
    EXPECT_EQ(win().CurrentTypeID(), 3);
    EXPECT_EQ(win().fraFeerate->title(), "O'Neil IP费率设置");
    EXPECT_EQ(grid().TextMatrix(1, 0), "IP国际");
    EXPECT_EQ(win().cboIPType->count(), 4);

    // Names never clash, on add nor on save.
    answer("O'Neil已经存在", platform::rOK);
    win().cmdIPType[0]->click();
    win().txtIPFeerate[0]->setText("甲");
    answer("甲已经存在", platform::rOK);
    win().cmdIPType[2]->click();
    EXPECT_EQ(count("ipfeerate", "ipfeeratename='甲'"), 1);
    EXPECT_EQ(count("ipfeerate"), 4);
}

TEST_F(IPWindow, DeletingATypeUsedByHeadsAsksAndTheRootDisablesTheGrid) {
    type(1, "甲");
    type(2, "乙");
    rate("IP国际", 0, 2);
    head("17909", 2);
    head("17951", 1);
    win().txtIPFeerate[0]->setText("乙");
    answer("乙 IP费率已经被使用,要删除此费率及相关IP字头吗?", platform::rNo);
    win().cmdIPType[1]->click();
    EXPECT_EQ(count("ipfeerate"), 2);
    answer("乙 IP费率已经被使用,要删除此费率及相关IP字头吗?", platform::rYes);
    win().cmdIPType[1]->click();
    EXPECT_EQ(count("ipfeerate"), 1);
    EXPECT_EQ(count("feerate"), 0);
    EXPECT_EQ(count("iphead"), 1);
    EXPECT_EQ(win().tvwIPHead->topLevelItem(0)->childCount(), 1);
    EXPECT_EQ(win().CurrentTypeID(), 1);
    EXPECT_TRUE(win().txtIPFeerate[0]->text().isEmpty());

    answer("丙 不存在", platform::rOK);
    win().txtIPFeerate[0]->setText("丙");
    win().cmdIPType[1]->click();

    ASSERT_TRUE(frmIP::SelectNode(win().tvwIP, "K-1"));
    win().tvwIP_Click();
    EXPECT_FALSE(win().fraFeerate->isEnabled());
    EXPECT_FALSE(win().cmdFeerate[0]->isEnabled());
    EXPECT_TRUE(win().cmdFeerate[4]->isEnabled());
    EXPECT_EQ(win().Frame1->title(), "请选择IP费率类型");
}

TEST_F(IPWindow, GridEditsStayWithinTheShownTypeAndStorePricesAsShown) {
    type(1, "甲");
    rate("IP国内", 2, 1);
    rate("0755", 2, 1);
    rate("0756", 2, 1);
    rate("020", 3, 1);
    rate("0757", 2, 0, "深圳");   // an ordinary rate, not this type's
    win().SSTab1->setCurrentIndex(2);
    ASSERT_EQ(grid().Rows(), 4);
    select(2, 3, 5);
    win().fgFeerate_MouseDown(2);
    enter("0.555");
    for (int r = 2; r <= 3; ++r) EXPECT_EQ(grid().TextMatrix(r, 5), "0.56");
    EXPECT_EQ(count("feerate", "feerateid=1 and perprice=5600"), 2);
    EXPECT_EQ(count("feerate", "feerateid=0 and perprice=1000"), 1);

    // The default row keeps its zone; a zone code stands once in the type.
    select(1, 1, 0);
    win().fgFeerate_DblClick();
    EXPECT_TRUE(win().txtModify->isHidden());
    select(3, 3, 0);
    win().fgFeerate_DblClick();
    answer("地区代号<020>已经存在于省内", platform::rOK);
    enter("020");
    EXPECT_FALSE(win().txtModify->isHidden());
    // A rename takes the ordinary rates' place name.
    enter("0757");
    EXPECT_EQ(dbSwitch.scalar("select summary from feerate where feerateid=1 and zonecode='0757'").toString(), "深圳");

    // 增加 after the rows proposes the next code; a new row is inserted under this type.
    win().cmdFeerate_Click(0);
    EXPECT_EQ(win().txtModify->text(), "0758");
    enter("0760");
    EXPECT_EQ(dbSwitch.scalar("select feeratetype from feerate where feerateid=1 and zonecode='0760'").toInt(), 2);

    // Rows 1 to 3 delete 2 and 3: the default row stays.
    select(1, 3, 4);
    win().cmdFeerate_Click(1);
    EXPECT_EQ(count("feerate", "feerateid=1 and feeratetype=2"), 2);
    EXPECT_EQ(grid().TextMatrix(1, 0), "IP国内");
    EXPECT_EQ(count("feerate", "feerateid=0"), 1);
}

TEST_F(IPWindow, LeavingAHeadSavesEveryEditAndRenamesInPlace) {
    type(1, "甲");
    type(2, "乙");
    head("17909", 1, "一");
    head("17951", 2, "二");
    ASSERT_EQ(win().ShownHead(), "17909");
    EXPECT_EQ(win().txtLink[3]->text(), "0.20");
    EXPECT_EQ(win().cboIPType->currentText(), "甲");
    EXPECT_FALSE(win().HeadModified());

    win().txtSummary->setText("It's new");
    win().txtLink[1]->setText("abc");
    win().txtLink_LostFocus(1);
    EXPECT_EQ(win().txtLink[1]->text(), "0.00");
    win().txtLink[7]->setText("150");
    win().txtLink_LostFocus(7);
    EXPECT_EQ(win().txtLink[7]->text(), "0%");
    win().txtLink[2]->setText("0");   // not left before the click: saved by its rule all the same
    win().chkExtra->setChecked(true);
    clickHead("17951");
    EXPECT_EQ(win().ShownHead(), "17951");
    platform::Recordset rs = dbSwitch.query("select * from iphead where iphead='17909'");
    EXPECT_EQ(rs.str("summary"), "It's new");
    EXPECT_EQ(rs.lng("pertime"), 1);
    EXPECT_EQ(rs.lng("poundagerate"), 0);
    EXPECT_TRUE(rs.boolean("extradiscount"));
    EXPECT_EQ(win().txtSummary->text(), "二");

    // Renamed in place: the node follows and no second row appears.
    win().txtIPHead->setText("17911");
    win().cmdIPHead[1]->click();
    EXPECT_EQ(count("iphead"), 2);
    EXPECT_EQ(count("iphead", "iphead='17911' and ipfeerate=2"), 1);
    EXPECT_EQ(win().tvwIPHead->currentItem()->text(0), "17911");
    // Another head's text is refused; the edit stays for the operator to mend.
    win().txtIPHead->setText("17909");
    answer("17909 IP字头已存在", platform::rOK);
    clickHead("17909");
    EXPECT_EQ(win().ShownHead(), "17911");
    EXPECT_TRUE(win().HeadModified());
    win().txtIPHead->setText("17911");
    answer("17911 IP字头已存在", platform::rOK);
    win().cmdIPHead[0]->click();
    EXPECT_EQ(count("iphead"), 2);
    // Closing with an edit that cannot be saved keeps the window and the edit.
    win().txtIPHead->clear();
    answer("请输入IP字头", platform::rOK);
    frmIP::unload();
    ASSERT_TRUE(frmIP::exists());
    EXPECT_TRUE(win().HeadModified());
    win().txtIPHead->setText("17911");
}

TEST_F(IPWindow, AccessPricesStayWithinTheRatesBoundHoweverTheyComeIn) {
    type(1, "甲");
    head("17909", 1);
    win().show();
    ASSERT_EQ(win().ShownHead(), "17909");
    // Typed: a sign makes no credit.
    QLineEdit* first = win().txtLink[1];
    first->setFocus();
    first->selectAll();
    QTest::keyClicks(first, "-5");
    win().txtLink_LostFocus(1);
    EXPECT_EQ(first->text(), "0.00");
    // Pasted: no more than the field's four characters, and no more than a rate's price.
    QLineEdit* per = win().txtLink[3];
    per->setFocus();
    per->selectAll();
    QGuiApplication::clipboard()->setText("999999999999");
    QTest::keyClick(per, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(per->text(), "9999");
    win().txtLink_LostFocus(3);
    EXPECT_EQ(per->text(), "999.00");
    // Committed by an input method: held to the same four characters.
    QLineEdit* extra = win().txtLink[4];
    extra->setFocus();
    extra->selectAll();
    QInputMethodEvent commit;
    commit.setCommitString("12345678");
    QApplication::sendEvent(extra, &commit);
    EXPECT_EQ(extra->text(), "1234");
    win().cmdIPHead[1]->click();
    platform::Recordset rs = dbSwitch.query("select * from iphead where iphead='17909'");
    EXPECT_EQ(rs.cur("firstprice"), platform::Currency());
    EXPECT_EQ(rs.cur("perprice"), pricing::kTariffPriceLimit);
    EXPECT_EQ(rs.cur("extrafee"), pricing::kTariffPriceLimit);
}

TEST_F(IPWindow, RefusedRightKeepsTheEditAndDeletingTheLastHeadShowsTheRoot) {
    type(1, "甲");
    head("17909", 1);
    win().txtLink[1]->setText("1.5");
    WorkerRights = QStringList{"17"};
    answer("你没有此操作权限", platform::rOK);
    win().cmdIPHead[1]->click();
    EXPECT_TRUE(win().HeadModified());
    WorkerRights = QStringList{"18"};
    answer("真的要删除IP字头 17909", platform::rYes);
    win().cmdIPHead[2]->click();
    EXPECT_EQ(count("iphead"), 0);
    EXPECT_EQ(win().ShownHead(), "");
    EXPECT_EQ(win().txtIPHead->text(), "");
    EXPECT_EQ(win().fraIPHeadSet->title(), "请选择IP字头");

    // 增加 from the root, then a pending edit saved by the close.
    win().txtIPHead->setText("12593");
    win().cmdIPHead[0]->click();
    EXPECT_EQ(win().ShownHead(), "12593");
    win().txtLink[3]->setText("0.3");
    const quint64 before = rsIPHead.openSerial();
    frmIP::unload();
    EXPECT_FALSE(frmIP::exists());
    EXPECT_EQ(dbSwitch.scalar("select perprice from iphead where iphead='12593'").toLongLong(), 3000);
    EXPECT_NE(rsIPHead.openSerial(), before);
}

}  // namespace
