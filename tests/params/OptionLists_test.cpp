// Option lists, the dial-digit coding, the extension numbers and the fresh
// station's parameter tables.
#include "core/frmChange.h"
#include "params/DialDigits.h"
#include "params/OptionLists.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

using namespace ModSwitch;
using namespace platform;

namespace {

class OptionListsTest : public testsupport::StationDbTest {
protected:
    QStringList options(const QString& title) {
        QStringList l{QStringLiteral("stale"), QStringLiteral("stale")};
        GetOptionList(title, l);
        return l;
    }
};

TEST_F(OptionListsTest, CodesAndTextsBothWays) {
    const QStringList onOff = options(QStringLiteral("闭锁"));
    EXPECT_EQ(onOff, (QStringList{"OFF", "ON"}));
    EXPECT_EQ(FindInArray(onOff, QStringLiteral("OFF")), 0);
    EXPECT_EQ(FindInArray(onOff, QStringLiteral("ON")), 1);
    EXPECT_EQ(FindInArray(onOff, QStringLiteral("on")), 0);   // not in the list: stored as 0
    EXPECT_EQ(options(QStringLiteral("分机超支")), onOff);

    const QStringList grades = options(QStringLiteral("押金等级"));
    ASSERT_EQ(grades.size(), 16);
    EXPECT_EQ(grades[10], QStringLiteral("本局"));
    EXPECT_EQ(grades[13], QStringLiteral("禁止使用"));
    EXPECT_TRUE(grades[14].isEmpty() && grades[15].isEmpty());
    EXPECT_EQ(options(QStringLiteral("等级一")), grades);

    const QStringList records = options(QStringLiteral("服务类型"));
    ASSERT_EQ(records.size(), 11);
    EXPECT_TRUE(records[4].isEmpty() && records[5].isEmpty());
    EXPECT_EQ(FindInArray(records, QStringLiteral("设置叫醒")), 6);   // empty options keep later codes in place

    EXPECT_EQ(options(QStringLiteral("本机类别")).size(), 22);
    EXPECT_EQ(options(QStringLiteral("市话类别")).size(), 20);
    EXPECT_EQ(options(QStringLiteral("本机类别"))[9], QStringLiteral("本局1"));
    EXPECT_EQ(options(QStringLiteral("操作等级")), (QStringList{"普通级", "操作级", "管理级", "维护级", "自定义"}));
    EXPECT_EQ(options(QStringLiteral("话单类型")).size(), 11);
    EXPECT_EQ(options(QStringLiteral("结算方式"))[2], QStringLiteral("不结算用户"));
    // An unknown title gives one empty option; titles compare exactly.
    EXPECT_EQ(options(QStringLiteral("备注")), QStringList{QString()});
    EXPECT_EQ(options(QStringLiteral("开关 ")), QStringList{QString()});
    EXPECT_EQ(options(QStringLiteral("IP费率类型")), QStringList{QString()});
}

TEST_F(OptionListsTest, ListsReadFromTheDatabaseUsersAndDepartmentsIncluded) {
    const QStringList targets = options(QStringLiteral("遇忙转移"));
    ASSERT_EQ(targets.size(), 123);
    EXPECT_EQ(targets[0], QStringLiteral("E0000"));
    EXPECT_EQ(targets[119], QStringLiteral("E0119"));
    EXPECT_EQ(targets[122], QStringLiteral("没有设置"));
    EXPECT_EQ(options(QStringLiteral("分机号码")).size(), 120);
    EXPECT_EQ(options(QStringLiteral("字头")), QStringList{QStringLiteral("E-29")});

    // No extension at all: the special options only, nothing left of the previous list.
    dbSwitch.execute(QStringLiteral("delete from Extension"));
    EXPECT_EQ(options(QStringLiteral("久叫转移")), (QStringList{"转虚拟网", "禁止设置", "没有设置"}));
    EXPECT_EQ(options(QStringLiteral("群呼分机")), QStringList{QString()});

    // Users and departments.
    QStringList l{QStringLiteral("a"), QStringLiteral("b")};
    dbSwitch.execute(QStringLiteral("delete from user"));
    GetUserList(l);
    EXPECT_EQ(l, (QStringList{"默认用户", "b"}));
    GetDeptList(l);
    EXPECT_EQ(l, (QStringList{"默认部门", "b"}));

    dbSwitch.execute(QStringLiteral("insert into user(userid,username,deptname) values(0,'默认用户',''),(12,'李-四','财务'),(3,'王五','财务')"));
    GetUserList(l);
    EXPECT_EQ(l, (QStringList{"默认用户-0", "王五-3", "李-四-12"}));
    EXPECT_EQ(UserNameOf(l, 3), QStringLiteral("王五"));
    EXPECT_EQ(UserNameOf(l, 0), QStringLiteral("默认用户"));
    EXPECT_EQ(UserNameOf(l, 99), QStringLiteral("默认用户"));
    EXPECT_EQ(options(QStringLiteral("所属用户")), l);
    GetDeptList(l);
    EXPECT_EQ(l, (QStringList{"", "财务"}));
}

TEST_F(OptionListsTest, ChoicesKeepListOrderGroupCallsFiveAtMostAndWeekdaysBothWays) {
    script::onModal(QStringLiteral("frmChange"), [](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        EXPECT_EQ(c->lstHave->count(), 2);
        c->cmdHave[0]->click();   // all: the limit keeps five
        EXPECT_EQ(c->lstHave->count(), 5);
        c->cmdHide[1]->click();
    });
    const QString r = ChooseListItems(QStringLiteral("E0005,E0001"), QStringLiteral("群呼分机"));
    const QStringList items = r.split(',');
    ASSERT_EQ(items.size(), 5);
    EXPECT_TRUE(items.contains("E0001") && items.contains("E0005"));
    QStringList sorted = items;
    sorted.sort();
    EXPECT_EQ(items, sorted);   // in the order of the option list

    script::onModal(QStringLiteral("frmChange"), [](QDialog* d) { static_cast<frmChange*>(d)->cmdHide[0]->click(); });
    EXPECT_EQ(ChooseListItems(QStringLiteral("E0005,E0001"), QStringLiteral("群呼分机")), QStringLiteral("E0005,E0001"));

    script::onModal(QStringLiteral("frmChange"), [](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        c->cmdShare[0]->click();
        c->cmdHide[1]->click();
    });
    EXPECT_EQ(ChooseListItems(QStringLiteral("市话,内线"), QStringLiteral("通话限时")), QString());

    // Talk limits keep the list's order; weekdays go both ways.
    script::onModal(QStringLiteral("frmChange"), [](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        c->lstShare->findItems(QStringLiteral("内线"), Qt::MatchExactly)[0]->setSelected(true);
        c->cmdHave[1]->click();
        c->cmdHide[1]->click();
    });
    EXPECT_EQ(ChooseListItems(QStringLiteral("国际长途,市话"), QStringLiteral("通话限时")), QStringLiteral("内线,市话,国际长途"));

    script::onModal(QStringLiteral("frmChange"), [](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        EXPECT_EQ(c->windowTitle(), QStringLiteral("折价选项选择窗口"));
        c->lstShare->findItems(QStringLiteral("星期日"), Qt::MatchExactly)[0]->setSelected(true);
        c->cmdHave[1]->click();
        c->lstHave->findItems(QStringLiteral("星期一"), Qt::MatchExactly)[0]->setSelected(true);
        c->cmdShare[1]->click();
        c->cmdHide[1]->click();
    });
    EXPECT_EQ(ChooseWeekdays(0x05), 0x44);   // Monday and Wednesday -> Wednesday and Sunday
    script::onModal(QStringLiteral("frmChange"), [](QDialog* d) { d->close(); });
    EXPECT_EQ(ChooseWeekdays(0x05), 0x05);   // closed: unchanged
}

TEST(GridColumns, GetColIndexFindsTheFirstExactTitle) {
    platform::FlexGrid g;
    g.setFormatString(QStringLiteral("<分机|押金等级|押金等级"));
    EXPECT_EQ(GetColIndex(QStringLiteral("押金等级"), g), 1);
    EXPECT_EQ(GetColIndex(QStringLiteral("分机"), g), 0);
    EXPECT_EQ(GetColIndex(QStringLiteral("押金"), g), -1);
}

TEST(DialDigits, CodingBothWaysAndGroupListsPackAndQuote) {
    EXPECT_EQ(DialToHex("*12#"), "B12C");
    EXPECT_EQ(DialToHex("12-3"), "123");
    EXPECT_EQ(DialToHex("E05"), "E05");
    // A stored text is already coded: coding it again keeps "*" and "#", and
    // other letters are still dropped.
    EXPECT_EQ(DialToHex(DialToHex("*12#")), "B12C");
    EXPECT_EQ(DialToHex("9ABCDF"), "9BC");
    EXPECT_EQ(HexToDial("B12CFF"), "*12#");
    EXPECT_EQ(HexToDial("E0A5"), "E05");
    EXPECT_TRUE(IsDialStr(""));
    EXPECT_TRUE(IsDialStr("*9#E"));
    EXPECT_FALSE(IsDialStr("9a"));
    EXPECT_FALSE(IsDigitsStar("", false));
    EXPECT_FALSE(IsDigitsStar("*9", true));
    EXPECT_TRUE(IsDigitsStar("*9", false));
    EXPECT_TRUE(IsDigitsStar("09", true));
    EXPECT_FALSE(IsDigitsStar("E9", false));
    // Group lists packed for the switch, and quoted as the frame holds them.
    EXPECT_EQ(PackGroupList("3,17,25"), "031119FFFF");
    EXPECT_EQ(PackGroupList(""), "FFFFFFFFFF");
    EXPECT_EQ(PackGroupList("1,,2"), "0102FFFFFF");
    EXPECT_EQ(PackGroupList("1,2,3,4,5,6"), "0102030405");
    QByteArray f(17, '\0');
    f[11] = 3;
    f[12] = 17;
    f[13] = 25;
    f[14] = static_cast<char>(255);
    f[15] = static_cast<char>(255);
    EXPECT_EQ(QuoteList(f), "'3,17,25'");
    for (int i = 11; i <= 15; ++i) f[i] = static_cast<char>(255);
    EXPECT_EQ(QuoteList(f), "''");
}

class ExtNumbersTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        dbSwitch.execute("insert into LanHead (HeadID, HeadType, HeadLen) values('8', 20, 2)");
    }
    void ext(int address, int head, const QString& num) {
        dbSwitch.execute("update Extension set Head=?, SpringNum=? where Address=?", {head, num, address});
    }
    QString numberOf(int address) {
        return dbSwitch.scalar("select SpringNum from Extension where Address=?", {address}).toString();
    }
    int headOf(int address) { return dbSwitch.scalar("select Head from Extension where Address=?", {address}).toInt(); }
};

TEST_F(ExtNumbersTest, NumbersAndTheFlexibleLength) {
    ext(5, 20, "05");
    EXPECT_EQ(ExtNumberOf(5), "805");
    EXPECT_EQ(ExtNumberOf(6), "E0006");
    EXPECT_EQ(ExtNumberOf(200), "****");
    EXPECT_EQ(GetExtHeadLen(), 4);
    for (int len : {0, 7}) {
        dbSwitch.execute("update LanHead set HeadLen=? where HeadType=29", {len});
        EXPECT_EQ(GetExtHeadLen(), 4);
    }
    dbSwitch.execute("update LanHead set HeadLen=3 where HeadType=29");
    EXPECT_EQ(GetExtHeadLen(), 3);
}

TEST_F(ExtNumbersTest, FullHeadSendsDuplicatesToTheFlexibleHead) {
    ext(0, 20, "1");
    for (int a = 1; a < 10; ++a) ext(a, 20, QString::number(a));
    ext(10, 20, "7");
    ext(11, 20, "7");
    dbSwitch.execute("update LanHead set HeadLen=2 where HeadType=29");
    RenumberExt(20);
    EXPECT_EQ(numberOf(0), "0");   // 0 was still free
    EXPECT_EQ(headOf(1), 20);
    EXPECT_EQ(numberOf(1), "1");
    EXPECT_EQ(headOf(11), 20);
    EXPECT_EQ(numberOf(11), "7");
    // Addresses 10 and 7 found no free one-digit number: they keep their digits under E, padded.
    for (int a : {10, 7}) {
        EXPECT_EQ(headOf(a), 29) << a;
        EXPECT_EQ(numberOf(a), "07") << a;
    }
    // The flexible head itself is left alone.
    ext(50, 29, "0001");
    ext(51, 29, "0001");
    RenumberExt(29);
    EXPECT_EQ(numberOf(50), "0001");
    EXPECT_EQ(numberOf(51), "0001");
}

// The fresh station's rack and port looks, which no view reads: its rows,
// its bounds and what waits for download are the views' and the transfer's.
TEST_F(OptionListsTest, AFreshRackKeepsEachSlotsKindAsItsDefaultAndEveryPortStateHasItsLook) {
    EXPECT_EQ(dbSwitch.scalar("select count(*) from MonCard where dispcard<>cardtype or dispcard<>defaultcard").toInt(), 0);
    EXPECT_GE(dbSwitch.scalar("select count(*) from monres").toInt(), 24);
}

}  // namespace
