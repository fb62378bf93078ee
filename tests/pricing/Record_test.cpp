// Call records from frame to stored, charged and answered row.
#include "core/books/ChargeLog.h"
#include "support/PricingFixture.h"

#include "billing/ArchiveBills.h"
#include "pricing/RateCache.h"
#include "pricing/ClsMonitor.h"
#include "platform/Clock.h"

using namespace pricingtest;

namespace {

struct StoredCall {
    QString date, resp;
    Currency fee, link, yj;
    QString whole;   // extension|trunk|date|seconds|category|number|account|memo|fee|user|balance after
};

StoredCall lastCall() {
    const platform::Recordset rs = dbPhoneCur.query(
        QStringLiteral("SELECT * FROM Tab_Phone ORDER BY rowid DESC LIMIT 1"));
    if (rs.empty()) return {};
    StoredCall c{rs.str("f_date"), rs.str("f_resp"), rs.cur("f_moneny"), rs.cur("f_linkfee"), rs.cur("f_yj"), {}};
    c.whole = QStringList{QString::number(rs.lng("f_calladdr")), rs.str("f_zjaddr"), c.date, rs.str("f_long"),
                          QString::number(rs.lng("f_phmode")), c.resp, rs.str("f_zh"), rs.str("f_memo"),
                          c.fee.toPlainString(), QString::number(rs.lng("f_userid")), c.yj.toPlainString()}.join('|');
    return c;
}

class RecordTest : public PricingTest {
protected:
    CallRecord call() {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 30, 0));
        return r;
    }
    bool record(const CallRecord& r, bool bSendFee = true) { return ClsMonitor().Record(r.frame(), bSendFee); }
    // Zone 8 at 1.00 a minute under scheme 2, half price from 8:00 to 21:59:59.
    void halfPriceScheme() {
        addRate(QStringLiteral("8"), 7, "1.00", "0", 60, 60, 0, {}, 2);
        dbSwitch.execute(QStringLiteral("INSERT INTO discount VALUES (2, '夜间', 0, 0, '')"));
        dbSwitch.execute(QStringLiteral("INSERT INTO discounttimes VALUES (2, 1, '08:00:00', '21:59:59', 50, 50)"));
    }
    // The fee stored for `r` sent again a minute later.
    Currency feeAMinuteLater(CallRecord& r) {
        r.start = r.start.addSecs(60);
        EXPECT_TRUE(record(r));
        return lastCall().fee;
    }
    // User 7 of `mode` (monthly by default), 10.00 left, on extension 5;
    // calls to 8… at 1.00 the first minute and `per` each after.
    void monthlyCaller(int mode = 1, const char* per = "1.00") {
        addUser(7, "10", mode);
        setExtensionUser(5, 7);
        addRate(QStringLiteral("8"), 7, "1.00", per);
    }
};

}  // namespace

TEST_F(RecordTest, LocalCallIsPricedStoredChargedAndAnswered) {
    localCaller("10", 0);
    CallRecord r = call();
    r.seconds = 250;   // first unit 180 s, then 70 s = 2 units
    ASSERT_TRUE(record(r));
    EXPECT_EQ(lastCall().whole, QStringLiteral("5|4|2026-06-15 10:30:00|250|7|88001234|    |本地|0.4|7|9.6"));
    EXPECT_EQ(remainOf(7), yuan("9.60"));
    // The user's deposit grade was set for the first time: the user's rows go
    // to the switch between the fee and the answer.
    const QStringList out = sent();
    ASSERT_GE(out.size(), 3);
    EXPECT_EQ(out.first(), QStringLiteral("9508200500002803"));
    EXPECT_TRUE(out[out.size() - 2].startsWith(QStringLiteral("8B1605")));
    EXPECT_EQ(out.last(), QStringLiteral("820302"));
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_EQ(MonSlots[3].UserID, -1);
}

TEST_F(RecordTest, RecordSentAgainAfterTheClockWasPutRightIsChargedOnce) {
    monthlyCaller();
    // Stored and charged under a PC clock two years ahead; the answer never
    // reached the switch.
    now = QDateTime(QDate(2028, 6, 15), QTime(12, 0, 0));
    ASSERT_TRUE(record(call()));
    EXPECT_EQ(lastCall().date, QStringLiteral("2028-06-15 10:30:00"));
    sent();
    // The clock is put right and the switch sends the same record again.
    now = QDateTime(QDate(2026, 6, 15), QTime(12, 0, 0));
    ASSERT_TRUE(record(call()));
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(remainOf(7), yuan("7.00"));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});

    // Another call of the extension at the same month, day and time a year
    // later, of another length, is a call of its own.
    now = QDateTime(QDate(2027, 6, 15), QTime(12, 0, 0));
    CallRecord later = call();
    later.seconds = 65;   // 1.00 + 1 unit
    ASSERT_TRUE(record(later));
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(lastCall().date, QStringLiteral("2027-06-15 10:30:00"));
    EXPECT_EQ(remainOf(7), yuan("5.00"));
}

// Stored under a PC clock a year behind and archived; sent again after a
// start that found the clock put right: the start's note places it.
TEST_F(RecordTest, RecordSentAgainAfterAStartFoundTheClockPutRightIsFoundInTheArchive) {
    monthlyCaller();
    now = QDateTime(QDate(2025, 6, 15), QTime(12, 0, 0));
    ASSERT_TRUE(record(call()));
    billing::ArchiveBills();
    ASSERT_EQ(billing::LastArchiveRun().moved, 1);
    now = QDateTime(QDate(2026, 6, 15), QTime(12, 0, 0));
    restart();
    sent();
    ASSERT_TRUE(record(call()));
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(remainOf(7), yuan("7.00"));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
}

// A machine that calls the same number daily at the same second for the
// same length: its call of the same date a year later is a call of its own,
// whether the earlier one stands in the year file or in the current table.
TEST_F(RecordTest, ADailyCallAYearApartIsStoredAndCharged) {
    monthlyCaller();
    platform::testing::setTick([this] { return now.toMSecsSinceEpoch(); });   // the clock keeps time
    now = QDateTime(QDate(2025, 6, 15), QTime(12, 0, 0));
    ASSERT_TRUE(record(call()));
    billing::ArchiveBills();
    ASSERT_EQ(billing::LastArchiveRun().moved, 1);
    for (int year : {2026, 2027}) {
        now = QDateTime(QDate(year, 6, 15), QTime(12, 0, 0));
        ASSERT_TRUE(record(call()));
    }
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_EQ(remainOf(7), yuan("1.00"));
}

TEST_F(RecordTest, TooShortCallsAreRejected) {
    FeeHDTime = 10;
    CallRecord r = call();
    r.seconds = 9;
    EXPECT_TRUE(record(r));
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
    r.seconds = 10;
    EXPECT_TRUE(record(r));
    EXPECT_EQ(count("Tab_Phone"), 1);
}

// The account's owner pays instead of the extension's; nobody pays for the
// default user (who still gets the fee frame) nor for a user id without a
// user row.
TEST_F(RecordTest, TheAccountOwnerPaysAndNobodyForTheDefaultUserOrAUserWithoutARow) {
    monthlyCaller(1, "0");
    addUser(8, "20", 1);
    setExtensionUser(6, 99);   // no user 99; extension 9 belongs to nobody
    dbSwitch.execute(QStringLiteral("UPDATE account SET account='0012', userid=8 WHERE address=2048"));
    CallRecord r = call();
    r.account = QStringLiteral("12");
    ASSERT_TRUE(record(r));
    EXPECT_EQ(lastCall().whole, QStringLiteral("5|4|2026-06-15 10:30:00|125|7|88001234|0012|8|1|8|19"));
    EXPECT_EQ(remainOf(8), yuan("19"));
    EXPECT_EQ(remainOf(7), yuan("10"));
    r.account.clear();
    r.ext = 6;
    ASSERT_TRUE(record(r));
    EXPECT_EQ(lastCall().whole, QStringLiteral("6|4|2026-06-15 10:30:00|125|7|88001234|    |8|1|99|0"));
    EXPECT_EQ(count("user", QStringLiteral("userid=99")), 0);
    sent();
    r.ext = 9;
    ASSERT_TRUE(record(r));
    EXPECT_EQ(lastCall().whole, QStringLiteral("9|4|2026-06-15 10:30:00|125|7|88001234|    |8|1|0|0"));
    EXPECT_EQ(sent(), (QStringList{QStringLiteral("9508200900006403"), QStringLiteral("820302")}));
    EXPECT_EQ(remainOf(0), Currency());
    EXPECT_EQ(remainOf(7), yuan("10"));
    EXPECT_EQ(remainOf(8), yuan("19"));
}

TEST_F(RecordTest, WithoutFeeSendingNothingIsChargedOrAnswered) {
    monthlyCaller(0, "0");
    ASSERT_TRUE(record(call(), false));
    EXPECT_EQ(lastCall().yj, yuan("10"));
    EXPECT_EQ(remainOf(7), yuan("10"));
    EXPECT_TRUE(sent().isEmpty());
    // A record that fails still leaves its reject row, and still no answer.
    CallRecord bad = call();
    bad.start = QDateTime(QDate(2026, 6, 15), QTime(10, 31, 0));
    QByteArray f = bad.frame();
    f[18] = char(0x32);   // day 32
    EXPECT_FALSE(ClsMonitor().Record(f, false));
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(RecordErrCount, 0);
}

TEST_F(RecordTest, StoreFailureRollsBackAndAStoredRecordGetsNoRejectRow) {
    monthlyCaller(1, "0");
    // The call table refuses rows: nothing is stored, nothing charged.
    dbSwitch.execute(QStringLiteral("CREATE TRIGGER phonecur.refuse BEFORE INSERT ON Tab_Phone "
                                    "BEGIN SELECT RAISE(ABORT, 'disk full'); END"));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(record(call()));
    EXPECT_EQ(remainOf(7), yuan("10"));
    EXPECT_EQ(RecordErrCount, 3);
    dbSwitch.execute(QStringLiteral("DROP TRIGGER phonecur.refuse"));
    sent();
    // Stored after three failures: taken, no reject row for it, the count starts again.
    EXPECT_TRUE(record(call()));
    EXPECT_EQ(count("tab_errPh"), 3);
    EXPECT_EQ(RecordErrCount, 0);
    EXPECT_EQ(remainOf(7), yuan("9"));
    EXPECT_EQ(sent().last(), QStringLiteral("820302"));
}

// The call and its logged charge are what keeps a record: a station file that
// cannot take the charge now takes it later, and the calls priced meanwhile
// count it. Entries of several users waiting together each reach their own
// user's balance, once.
TEST_F(RecordTest, AChargeTheStationFileRefusesIsKeptInTheLogAndFollowsLater) {
    monthlyCaller(1, "0");
    addUser(8, "10", 1);
    setExtensionUser(6, 8);
    dbSwitch.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON user "
                                    "BEGIN SELECT RAISE(ABORT, 'locked'); END"));
    CallRecord r = call();
    EXPECT_TRUE(record(r));
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(remainOf(7), yuan("10"));
    EXPECT_EQ(sent().last(), QStringLiteral("820302"));
    r.ext = 6;
    r.start = r.start.addSecs(600);
    EXPECT_TRUE(record(r));
    r.ext = 5;
    r.start = r.start.addSecs(600);
    EXPECT_TRUE(record(r));
    EXPECT_EQ(lastCall().yj, yuan("8"));   // both charges of user 7 counted
    dbSwitch.execute(QStringLiteral("DROP TRIGGER refuse"));
    EXPECT_EQ(ModSwitch::ApplyLoggedCharges(), 3);
    EXPECT_EQ(remainOf(7), yuan("8"));
    EXPECT_EQ(remainOf(8), yuan("9"));
    EXPECT_EQ(ModSwitch::ApplyLoggedCharges(), 0);
    EXPECT_EQ(remainOf(7), yuan("8"));
}

TEST_F(RecordTest, HugeTotalIsStoredAndClampedInTheFeeFrame) {
    addUser(7, "10", 1);
    setExtensionUser(5, 7);
    addRate(QStringLiteral("8"), 7, "999", "999", 1, 1);
    CallRecord r = call();
    r.seconds = 99 * 3600;
    ASSERT_TRUE(record(r));
    EXPECT_GT(lastCall().fee, yuan("100000000"));
    EXPECT_EQ(sent(), (QStringList{QStringLiteral("95082005FFFFFF03"), QStringLiteral("820302")}));
}

// Each call priced by the row of its category: the longest zone code wins and
// sets it; a category without a zone row of the number falls to its default
// row, or, with none, to the built-in rate (125 s in one 600 s unit at 0.50);
// inside and incoming calls take categories of their own.
TEST_F(RecordTest, EachCallIsPricedByTheRowOfItsCategory) {
    addRate(QStringLiteral("0755"), 2, "1.00", "0");
    addRate(QStringLiteral("075"), 3, "2.00", "0");
    addRate(QStringLiteral("移动"), 4, "0.30", "0.30", 60, 60, 0, QStringLiteral("默认移动"));
    addRate(QStringLiteral("本局"), 9, "0", "0");   // the free default row of category 9
    addRate(QStringLiteral("8"), 10, "0.10", "0.10");
    const struct {
        int type;
        const char* called;
        const char* stored;   // category|number|account|place|fee
    } calls[] = {{0, "075512345678", "2|075512345678|    |0755|1"},
                 {0, "07612345678", "2|07612345678|    ||0.5"},   // category 2 from the leading 0
                 {0, "013912345678", "4|013912345678|    |默认移动|0.9"},
                 {0, "0044123", "0|0044123|    ||0.5"},   // international: no row at all
                 {2, "8001", "9|8001|    |本局|0"},
                 {3, "88001234", "10|88001234|    |8|0.3"}};
    CallRecord r = call();
    for (const auto& c : calls) {
        r.type = c.type;
        r.called = QString::fromLatin1(c.called);
        r.start = r.start.addSecs(60);
        ASSERT_TRUE(record(r));
        EXPECT_EQ(lastCall().whole.section('|', 4, 8), QString::fromUtf8(c.stored)) << c.called;
    }
}

TEST_F(RecordTest, IpCallPaysTheAccessRateAndItsTypesRates) {
    dbSwitch.execute(QStringLiteral("INSERT INTO ipfeerate VALUES (1, 'IP一', '')"));
    dbSwitch.execute(QStringLiteral("INSERT INTO iphead (iphead, summary, ipfeerate, firsttime, firstprice, pertime, "
                                    "perprice) VALUES ('17909', 'IP', 1, 60, 0.1, 60, 0.1)"));
    dbSwitch.execute(QStringLiteral("UPDATE iphead SET firstprice=1000, perprice=1000"));   // 0.10 yuan
    addRate(QStringLiteral("IP国内"), 2, "0.30", "0.30", 60, 60, 1);
    addRate(QStringLiteral("010"), 2, "0.60", "0.60", 60, 60, 0);   // ordinary rate, not used
    CallRecord r = call();
    r.called = QStringLiteral("17909010123456");
    ASSERT_TRUE(record(r));
    const StoredCall c = lastCall();
    EXPECT_EQ(c.whole, QStringLiteral("5|4|2026-06-15 10:30:00|125|8|17909010123456|    |IP国内|0.9|0|0"));
    EXPECT_EQ(c.link, yuan("0.30"));
    EXPECT_EQ(sent().first(), QStringLiteral("9508200500007803"));   // 1.20 yuan
}

TEST_F(RecordTest, EditedRatesArePricedOnlyOnceTheRecordsetsAreReopened) {
    addRate(QStringLiteral("8"), 7, "1.00", "0");
    ASSERT_TRUE(record(call()));
    dbSwitch.execute(QStringLiteral("UPDATE feerate SET firstprice=20000 WHERE zonecode='8'"));
    CallRecord r = call();
    EXPECT_EQ(feeAMinuteLater(r), yuan("1.00"));
    reopenRates();
    EXPECT_EQ(feeAMinuteLater(r), yuan("2.00"));
}

// The schemes are read for every call, a missing one meaning full price; they
// are held in memory with the tariffs: while a tariff window holds them, a
// scheme saved meanwhile prices nothing until it lets go.
TEST_F(RecordTest, DiscountSchemesAreReadPerCallButATariffWindowHoldsThemAsTheyStood) {
    halfPriceScheme();
    CallRecord r = call();
    ASSERT_TRUE(record(r));
    EXPECT_EQ(lastCall().fee, yuan("0.50"));
    pricing::RateCache::holdWhileEditing();
    {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("UPDATE discounttimes SET normaldiscount=30 WHERE discountid=2"));
        tx.commit();
    }
    EXPECT_EQ(feeAMinuteLater(r), yuan("0.50"));
    pricing::RateCache::releaseAfterEditing();
    EXPECT_EQ(feeAMinuteLater(r), yuan("0.30"));
    // A save undone is not priced from.
    {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("UPDATE discounttimes SET normaldiscount=10 WHERE discountid=2"));
        r.start = r.start.addSecs(60);
        ASSERT_TRUE(record(r));
        EXPECT_EQ(lastCall().fee, yuan("0.10"));
    }
    EXPECT_EQ(feeAMinuteLater(r), yuan("0.30"));
    dbSwitch.execute(QStringLiteral("INSERT INTO discountdate VALUES (2, '06-15', '')"));
    dbSwitch.execute(QStringLiteral("UPDATE discounttimes SET holidaydiscount=20"));
    EXPECT_EQ(feeAMinuteLater(r), yuan("0.20"));
    dbSwitch.execute(QStringLiteral("DELETE FROM discount WHERE discountid=2"));
    EXPECT_EQ(feeAMinuteLater(r), yuan("1.00"));
}

TEST_F(RecordTest, ForwardedCallsUseTheRoutePrefix) {
    dbSwitch.execute(QStringLiteral("INSERT INTO CityHead (HeadID, Router1, Router2) VALUES ('02', 50, 3)"));
    dbSwitch.execute(QStringLiteral("INSERT INTO CityHead (HeadID, Router1, Router2) VALUES ('021', 150, 4)"));
    dbSwitch.execute(QStringLiteral("INSERT INTO AddHead (Router, PortAddr, AddHead) VALUES (2, 4, '9')"));
    addRate(QStringLiteral("9"), 7, "3.00", "0");
    TransferDisplay = 1;
    TransferCharge = 1;
    CallRecord r = call();
    r.type = 16;
    r.called = QStringLiteral("02155556666");
    ASSERT_TRUE(record(r));
    // The three-digit prefix dropped (router1 >= 100).
    EXPECT_EQ(lastCall().whole, QStringLiteral("5|4|2026-06-15 10:30:00|125|7|955556666|    |9|3|0|0"));
    // Display only: priced by the number as dialled.
    TransferCharge = 0;
    r.start = r.start.addSecs(60);
    ASSERT_TRUE(record(r));
    EXPECT_EQ(lastCall().whole, QStringLiteral("5|4|2026-06-15 10:31:00|125|2|955556666|    ||0.5|0|0"));
    // A route without an added prefix: priced and shown by the called number.
    r.called = QStringLiteral("0201234");
    r.start = r.start.addSecs(60);
    ASSERT_TRUE(record(r));
    EXPECT_EQ(lastCall().resp, QStringLiteral("0201234"));
}

// A record of impossible digits is rejected, not stored, and writes one error line.
TEST_F(RecordTest, ImpossibleDigitsAreRejectedNotStoredAndAFailedRecordWritesOneErrorLine) {
    pricing::ClearRecordErrorLog();
    QByteArray f = call().frame();
    f[23] = char(0x1A);   // minutes "1A"
    EXPECT_FALSE(ClsMonitor().Record(f, true));
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820303")});
    EXPECT_EQ(pricing::RecordErrorLog().size(), 1);
    // Neither the call nor its reject row can be written: still one line.
    dbPhoneCur.execute(QStringLiteral("DROP TABLE Tab_Phone"));
    dbPhoneCur.execute(QStringLiteral("DROP TABLE tab_errPh"));
    pricing::ClearRecordErrorLog();
    EXPECT_FALSE(record(call()));
    ASSERT_EQ(pricing::RecordErrorLog().size(), 1);
    EXPECT_TRUE(pricing::RecordErrorLog()[0].startsWith(QStringLiteral("Record Error:")));
    // The record itself is sound: the spool keeps it, so it is taken.
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
}

// The duplicate check keeps the year file open between records: what later
// archive runs add to it (a month table made after the file was opened, the
// calls of a month that had its table) is found all the same, and a file put
// back in its place is read instead.
TEST_F(RecordTest, TheDuplicateCheckSeesWhatLaterArchiveRunsWrote) {
    monthlyCaller(1, "0");
    CallRecord may = call();
    may.start = may.start.addMonths(-1);
    ASSERT_TRUE(record(may));
    billing::ArchiveBills();
    ASSERT_EQ(billing::LastArchiveRun().moved, 1);
    CallRecord june = call();
    ASSERT_TRUE(record(june));   // read with the year file open, its June table not made yet
    ASSERT_EQ(count("Tab_Phone"), 1);
    billing::ArchiveBills();
    ASSERT_EQ(billing::LastArchiveRun().moved, 1);
    CallRecord mayLater = may;
    mayLater.start = may.start.addSecs(60);
    ASSERT_TRUE(record(mayLater));
    billing::ArchiveBills();
    ASSERT_EQ(billing::LastArchiveRun().moved, 1);
    for (const CallRecord& again : {june, may, mayLater}) ASSERT_TRUE(record(again));
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_EQ(count("tab_errPh"), 3);
    EXPECT_EQ(remainOf(7), yuan("7"));

    // The year file put back from before the runs: the calls it lacks are calls again.
    const QString year = dir->file("PhBill_2026.mdb");
    ASSERT_TRUE(QFile::remove(year));
    {
        platform::Database empty = platform::Database::create(year + ".new");
        empty.execute(QStringLiteral("CREATE TABLE Tab_Ph6 (f_calladdr INTEGER, f_date DATETIME, f_userid LONG)"));
    }
    ASSERT_TRUE(QFile::rename(year + ".new", year));
    ASSERT_TRUE(record(june));
    EXPECT_EQ(count("Tab_Phone"), 1);
    // A row of a year file an older station wrote (no length or number kept)
    // is the call all the same.
    CallRecord older = june;
    older.start = june.start.addSecs(1);
    platform::Database::open(year).execute(QStringLiteral("INSERT INTO Tab_Ph6 VALUES (5, '2026-06-15 10:30:01', 7)"));
    ASSERT_TRUE(record(older));
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(count("tab_errPh"), 4);
    EXPECT_EQ(remainOf(7), yuan("6"));
}

TEST_F(RecordTest, FailureAfterTheCommitIsReportedAndTheRecordStaysTaken) {
    monthlyCaller(0, "0");
    // The deposit grades cannot be written: the call is stored and charged all the same.
    dbSwitch.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON extension "
                                    "BEGIN SELECT RAISE(ABORT, 'grade refused'); END"));
    EXPECT_TRUE(record(call()));
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_EQ(remainOf(7), yuan("9"));
    EXPECT_EQ(sent().last(), QStringLiteral("820302"));
    EXPECT_EQ(RecordErrCount, 0);
    EXPECT_TRUE(pricing::RecordErrorLog().join(' ').contains(QStringLiteral("grade refused")));
}
