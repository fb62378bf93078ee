// The parameter tables of a fresh station: the rack, the ports and the rows
// every view and the transfer expect to find.
#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace {

class FreshParams : public testsupport::StationDbTest {
protected:
    qint64 count(const QString& sql) { return dbSwitch.scalar(sql).toLongLong(); }
};

// The rows of the fresh tables, and what of them waits for download, are
// read through their views (tests/params/Views_test.cpp, the tree's views in
// tests/console); an account waiting shows in no view of a fresh station.
TEST_F(FreshParams, NoAccountWaitsForDownload) {
    EXPECT_EQ(count("select count(*) from Account where bset<>0"), 0);
}

TEST_F(FreshParams, RackYieldsSixteenTrunksAndHundredTwentyExtensions) {
    // The trunk bound is four trunks a trunk board; the extension bound is
    // eight ports a subscriber slot above slot 6.
    EXPECT_EQ(4 * count("select count(cardtype) from moncard where dispcard=1"), 16);
    EXPECT_EQ((count("select max(cardorder) from MonCard where dispcard=0 or dispcard=11") - 6) * 8, 120);
    EXPECT_EQ(count("select dispcard from MonCard where cardorder=6"), 8);
    EXPECT_EQ(count("select count(*) from MonCard where dispcard<>cardtype or dispcard<>defaultcard"), 0);
}

TEST_F(FreshParams, UserTableCarriesMoneyAsCurrency) {
    dbSwitch.execute("insert into user (userid, username, remain, deposit) values(5, '甲', ?, ?)",
                     {platform::Currency::parse("12.34").value(), platform::Currency::fromYuan(100)});
    auto rs = dbSwitch.query("select * from user where userid=5");
    EXPECT_EQ(rs.cur("remain").toString2(), "12.34");
    EXPECT_EQ(rs.fieldType(rs.fieldIndex("deposit")), platform::ftCurrency);
    EXPECT_EQ(rs.fieldCount(), 13);
    EXPECT_GE(count("select count(*) from monres"), 24);
}

}  // namespace
