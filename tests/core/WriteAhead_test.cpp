#include "admin/OpenSite.h"
#include "core/ModDefine.h"
#include "core/WriteAhead.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <array>

using namespace ModSwitch;

class WriteAheadTest : public testsupport::StationDbTest {};

// An act written again (a road redone after a kill) is one record, told once;
// a record commits with the transaction it is written in, and goes with its
// rollback, so a report never outlives the state it describes.
TEST_F(WriteAheadTest, AnActWrittenAgainIsOneRecordAndCommitsWithItsState) {
    WriteAhead(dbSwitch, "deposit", "7", WriteAheadBody().set("change", 10));
    WriteAhead(dbSwitch, "deposit", "7", WriteAheadBody().set("change", 20));
    WriteAhead(dbSwitch, "deposit", "8", WriteAheadBody().set("change", 1));
    QList<WriteAheadRecord> open = PendingWriteAhead(dbSwitch, "deposit");
    ASSERT_EQ(open.size(), 2);
    EXPECT_EQ(open[0].key, "7");
    EXPECT_EQ(open[0].body.integer("change"), 20);
    EXPECT_TRUE(PendingWriteAhead(dbSwitch, "report").isEmpty());

    {
        platform::Transaction tx(dbPhoneCur);
        WriteAhead(dbPhoneCur, "report", "restore", {});
    }   // rolled back
    EXPECT_TRUE(PendingWriteAhead(dbPhoneCur).isEmpty());

    SettleWriteAhead(dbSwitch, "deposit", "7");
    open = PendingWriteAhead(dbSwitch);
    ASSERT_EQ(open.size(), 1);
    EXPECT_EQ(open[0].key, "8");
}

// The opening's table: a report either file keeps (a box a kill kept from
// the operator) is shown as the files open and settled, so it is shown once;
// the restore's lines wait for their own box, the last; an intent for the
// switch waits for the line.
TEST_F(WriteAheadTest, TheOpeningShowsEveryReportKeptOnceAndTheRestoresLinesLast) {
    platform::script::reset();
    platform::script::enable();
    KeepReport(dbSwitch, "catch-up:1-2", {"数据库文件switch.mdb落后", "警告", platform::mbOKOnly});
    KeepReport(dbPhoneCur, "journal:x", {"计费记录归档文件", "警告", platform::mbOKOnly});
    WriteAhead(dbPhoneCur, kReportKind, kRestoreReportKey, WriteAheadBody().set(kReportText, "用户1余额已补记"));
    WriteAhead(dbSwitch, "deposit", "7", {});
    platform::script::answer("落后", platform::rOK);
    platform::script::answer("归档文件", platform::rOK);
    platform::script::answer("数据恢复成功", platform::rOK);
    ASSERT_TRUE(admin::OpenSite({}).opened);
    QStringList texts;
    for (const auto& s : platform::script::shown()) texts << s.text;
    EXPECT_EQ(texts, QStringList({"数据库文件switch.mdb落后", "计费记录归档文件", "数据恢复成功\n用户1余额已补记"}));
    EXPECT_EQ(platform::script::shown()[0].title, "警告");
    EXPECT_EQ(SettleAtOpening().size(), 1);
    ASSERT_TRUE(admin::OpenSite({}).opened);
    EXPECT_EQ(platform::script::shown().size(), 3);
    EXPECT_EQ(PendingWriteAhead(dbSwitch, "deposit").size(), 1);
}

// A station upgraded with acts unfinished holds them in the forms an older
// release wrote: each is read once through the one parser, and a record
// written again is in the one form.
TEST_F(WriteAheadTest, RecordsAnOlderReleaseLeftAreReadInTheirOwnForm) {
    EnsureWriteAhead(dbPhoneCur);
    const QList<std::array<const char*, 3>> older = {
        {"report", "journal:x", R"({"buttons":48,"text":"归档文件","title":"错误"})"},
        {"report", "restore", "用户1余额已补记\n用户2余额已补记"},
        {"deposit", "9", "before=5000;change=-200;value=-20000;frame=A50709020000C8"},
        {"release", "3", "张三\nA 260 8C0801040000\nE 12 8B1600"},
    };
    for (const auto& [kind, key, body] : older)
        dbPhoneCur.execute("insert into tab_writeahead (f_kind, f_key, f_body) values (?, ?, ?)", {kind, key, body});
    const QList<WriteAheadRecord> read = PendingWriteAhead(dbPhoneCur);
    ASSERT_EQ(read.size(), 4);
    EXPECT_EQ(read[0].body, WriteAheadBody().set(kReportText, "归档文件").set("title", "错误").set("buttons", 48));
    EXPECT_EQ(read[1].body.text(kReportText), "用户1余额已补记\n用户2余额已补记");
    EXPECT_EQ(read[2].body, WriteAheadBody()
                                .set("before", 5000)
                                .set("change", -200)
                                .set("value", -20000)
                                .set("frame", "A50709020000C8"));
    const WriteAheadBody row = WriteAheadBody().set("account", 1).set("address", 260).set("frame", "8C0801040000");
    EXPECT_EQ(read[3].body, WriteAheadBody()
                                .set("name", "张三")
                                .add("rows", row)
                                .add("rows", WriteAheadBody().set("account", 0).set("address", 12).set("frame", "8B1600")));

    WriteAhead(dbPhoneCur, read[3].kind, read[3].key, read[3].body);
    const QString stored = dbPhoneCur.scalar("select f_body from tab_writeahead where f_kind='release'").toString();
    EXPECT_TRUE(stored.startsWith('{')) << stored.toStdString();
    EXPECT_EQ(PendingWriteAhead(dbPhoneCur, "release")[0].body, read[3].body);
}
