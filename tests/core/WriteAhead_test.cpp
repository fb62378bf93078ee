#include "core/ModDefine.h"
#include "core/WriteAhead.h"
#include "support/Fixtures.h"

using namespace ModSwitch;

class WriteAheadTest : public testsupport::StationDbTest {};

// An act written again (a road redone after a kill) is one record, told once;
// a record commits with the transaction it is written in, and goes with its
// rollback, so a report never outlives the state it describes.
TEST_F(WriteAheadTest, AnActWrittenAgainIsOneRecordAndCommitsWithItsState) {
    WriteAhead(dbSwitch, "deposit", "7", "before=100.00;change=10.00");
    WriteAhead(dbSwitch, "deposit", "7", "before=100.00;change=20.00");
    WriteAhead(dbSwitch, "deposit", "8", "before=0.00;change=1.00");
    QList<WriteAheadRecord> open = PendingWriteAhead(dbSwitch, "deposit");
    ASSERT_EQ(open.size(), 2);
    EXPECT_EQ(open[0].key, "7");
    EXPECT_EQ(open[0].body, "before=100.00;change=20.00");
    EXPECT_TRUE(PendingWriteAhead(dbSwitch, "report").isEmpty());

    {
        platform::Transaction tx(dbPhoneCur);
        WriteAhead(dbPhoneCur, "report", "restore", "line");
    }   // rolled back
    EXPECT_TRUE(PendingWriteAhead(dbPhoneCur).isEmpty());

    SettleWriteAhead(dbSwitch, "deposit", "7");
    open = PendingWriteAhead(dbSwitch);
    ASSERT_EQ(open.size(), 1);
    EXPECT_EQ(open[0].key, "8");
}
