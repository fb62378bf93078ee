#include "core/ModDefine.h"
#include "core/WriteAhead.h"
#include "platform/Prompts.h"
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

// The opening's one place: a report either file keeps (a box a kill kept
// from the operator) is shown there and settled, so it is shown once; the
// restore's lines wait for their own box, and other kinds for their own road.
TEST_F(WriteAheadTest, TheOpeningShowsEveryReportKeptOnceAndLeavesTheRest) {
    platform::script::reset();
    platform::script::enable();
    KeepReport(dbSwitch, "catch-up:1-2", {"数据库文件switch.mdb落后", "警告", platform::mbOKOnly});
    KeepReport(dbPhoneCur, "journal:x", {"计费记录归档文件", "警告", platform::mbOKOnly});
    WriteAhead(dbPhoneCur, kReportKind, kRestoreReportKey, "line");
    WriteAhead(dbSwitch, "deposit", "7", "intent");
    platform::script::answer("落后", platform::rOK);
    platform::script::answer("归档文件", platform::rOK);
    const QList<WriteAheadRecord> left = SettleAtOpening();
    ASSERT_EQ(platform::script::shown().size(), 2);
    EXPECT_EQ(platform::script::shown()[0].text, "数据库文件switch.mdb落后");
    EXPECT_EQ(platform::script::shown()[0].title, "警告");
    ASSERT_EQ(left.size(), 2);
    SettleAtOpening();
    EXPECT_EQ(platform::script::shown().size(), 2);
    EXPECT_EQ(PendingWriteAhead(dbPhoneCur, kReportKind).size(), 1);
}
