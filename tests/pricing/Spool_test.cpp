// Call records the databases cannot store: kept in the spool, answered as
// taken only once kept, and stored and charged exactly once when storing works.
#include "support/PricingFixture.h"

#include "console/frmPABX.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RecordSpool.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <thread>

using namespace pricingtest;
namespace spool = pricing::spool;

namespace {

class SpoolTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        localCaller("10", 1);
    }
    CallRecord call(int minute) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, minute, 0));
        r.seconds = 250;   // 0.40 yuan
        return r;
    }
    bool record(const CallRecord& r) { return ClsMonitor().Record(r.frame(), true); }
    void moveTable(const char* from, const char* to) {
        dbSwitch.execute(QStringLiteral("ALTER TABLE phonecur.%1 RENAME TO %2").arg(QLatin1String(from), QLatin1String(to)));
    }
    int spooled() { return spool::Read(spool::Path()).frames.size(); }
};

}  // namespace

TEST_F(SpoolTest, UnstorableRecordIsSpooledThenStoredAndChargedOnceAndOneKeptNowhereIsAskedForAgain) {
    frmPABX::instance();
    moveTable("Tab_Phone", "Tab_Away");
    // While the spool cannot be written either, the record is kept nowhere: asked for again.
    ASSERT_TRUE(QDir().mkpath(spool::Path()));
    record(call(0));
    record(call(0));
    EXPECT_EQ(sent(), (QStringList{QStringLiteral("820303"), QStringLiteral("820303")}));
    EXPECT_EQ(remainOf(7), yuan("10"));
    EXPECT_TRUE(frmPABX::instance().sbrInfo->panelText(2).startsWith(QStringLiteral("话单存储失败")));
    ASSERT_TRUE(QDir(spool::Path()).removeRecursively());

    EXPECT_FALSE(record(call(0)));
    // Taken, not asked for again: it is kept in the spool, not as a reject row.
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
    EXPECT_EQ(spooled(), 1);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_EQ(RecordErrCount, 0);
    EXPECT_TRUE(frmPABX::instance().sbrInfo->panelText(2).startsWith(QStringLiteral("话单存储失败")));
    // The next one joins it without a try.
    record(call(1));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
    EXPECT_EQ(spooled(), 2);

    EXPECT_EQ(spool::Replay(), 2);   // still nowhere to store
    EXPECT_EQ(remainOf(7), yuan("10"));

    moveTable("Tab_Away", "Tab_Phone");
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(remainOf(7), yuan("9.20"));
    EXPECT_FALSE(QFile::exists(spool::Path()));
    // Nothing goes to the switch for them: it was answered long ago.
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_FALSE(frmPABX::instance().sbrInfo->panelText(2).startsWith(QStringLiteral("话单存储失败")));

    // Storing works: records are stored at once again.
    EXPECT_TRUE(record(call(2)));
    EXPECT_EQ(count("Tab_Phone"), 3);
    EXPECT_FALSE(QFile::exists(spool::Path()));
}

TEST_F(SpoolTest, RecordFailingByItsContentIsAskedAgainAndKeptAsRejectRowOrInTheSpool) {
    CallRecord bad = call(0);
    QByteArray f = bad.frame();
    f[17] = char(0x13);   // month 13
    moveTable("tab_errPh", "Err_Away");
    for (int i = 0; i < 4; ++i) ClsMonitor().Record(f, true);
    // Three times asked again; the fourth is taken only because the spool keeps it.
    EXPECT_EQ(sent(), (QStringList{QStringLiteral("820303"), QStringLiteral("820303"), QStringLiteral("820303"),
                                   QStringLiteral("820302")}));
    EXPECT_EQ(spooled(), 1);
    EXPECT_EQ(RecordErrCount, 0);
    moveTable("Err_Away", "tab_errPh");
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(count("Tab_Phone"), 0);
    // The reject row keeps the digits as the switch sent them.
    const platform::Recordset rej = dbPhoneCur.query(QStringLiteral("SELECT * FROM tab_errPh"));
    EXPECT_EQ(rej.str("f_date"), QStringLiteral("2026-13-15 10:00:00"));
    EXPECT_EQ(rej.str("f_long"), QStringLiteral("00:04:10"));
    EXPECT_EQ(rej.lng("f_zjaddr"), 4);
    EXPECT_EQ(rej.str("f_resp"), QStringLiteral("88001234"));
}

// Whether records wait in the spool is known without searching the data
// directory at every record, yet a spool that comes or goes is seen at the
// next record however long the directory stood still before.
TEST_F(SpoolTest, ASpoolThatComesOrGoesIsSeenAtTheNextRecord) {
    const auto standStill = [] { std::this_thread::sleep_for(std::chrono::milliseconds(40)); };
    standStill();
    EXPECT_TRUE(record(call(0)));
    EXPECT_TRUE(record(call(1)));
    standStill();
    // A spool a run left (the databases failed it): the next record joins it.
    ASSERT_TRUE(spool::Append(call(2).frame()));
    record(call(3));
    EXPECT_EQ(spooled(), 2);
    EXPECT_EQ(count("Tab_Phone"), 2);
    standStill();
    record(call(4));
    EXPECT_EQ(spooled(), 3);
    ASSERT_TRUE(QFile::remove(spool::Path()));
    EXPECT_TRUE(record(call(5)));
    EXPECT_EQ(count("Tab_Phone"), 3);
}
