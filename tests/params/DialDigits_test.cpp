#include "core/ModDefine.h"
#include "params/DialDigits.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace ModSwitch;

namespace {

TEST(DialDigits, CodingBothWays) {
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
}

TEST(DialDigits, GroupListsPackAndQuote) {
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

class ExtNumbersTest : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        openDatabases();
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

}  // namespace
