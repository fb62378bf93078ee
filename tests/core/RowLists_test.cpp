#include "core/RowLists.h"
#include "support/Fixtures.h"

using namespace ModSwitch;

class RowLists : public testsupport::StationDbTest {};

TEST_F(RowLists, ListHelpers) {
    dbSwitch.execute("create table h (HeadID TEXT(8), SpringNum TEXT(8), kind INTEGER)");
    dbSwitch.execute("insert into h values('8',?,1)", {"001"});
    dbSwitch.execute("insert into h values('9',NULL,2)");

    QStringList arr{"keep"};
    GetRsArray("select HeadID from h where 1=0", arr, dbSwitch, false);
    EXPECT_EQ(arr, QStringList({"keep"}));
    GetRsArray("select HeadID from h order by HeadID", arr, dbSwitch, false);
    EXPECT_EQ(arr, QStringList({"8", "9"}));
    GetRsArray("select HeadID,SpringNum from h order by HeadID", arr, dbSwitch, true);
    EXPECT_EQ(arr, QStringList({"8001", "9"}));
    GetRsArray("select HeadID,kind from h order by HeadID", arr, dbSwitch, true);
    EXPECT_EQ(arr, QStringList({"8-1", "9-2"}));

    platform::Recordset none = dbSwitch.query("select HeadID from h where 1=0");
    EXPECT_EQ(GetRecordCount(none), 0);
    dbSwitch.execute("insert into h values(?,NULL,3)", {"it's"});
    platform::Recordset q = dbSwitch.query("select HeadID from h order by kind");
    EXPECT_EQ(GetRecordCount(q), 3);
    EXPECT_EQ(q.absolutePosition(), 0);
}
