#include "billing/ArchiveBills.h"
#include "billing/Settlement.h"
#include "core/ModDefine.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"
#include "support/RefusalWalk.h"

#include <QFile>
#include <QMap>
#include <gtest/gtest.h>
#include <random>

using billing::MonthlyPeriods;
using billing::RunSettlement;
using billing::SettleOptions;
using platform::Currency;
using platform::Database;

namespace {

QDateTime T(const char* s) { return platform::parseDate(QString::fromLatin1(s)); }

struct Call {
    qint64 user;
    int addr;
    QString zh;   // "    " without an account
    QDateTime date;
    int secs;
    int mode;
    qint64 fee[5];   // ten-thousandths
};

// Expected sums of one row of tab_balance, computed from the calls alone.
struct Expect {
    qint64 fee[5] = {};
    qint64 type[10] = {};
};

class SettlementTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        platform::testing::setNow([] { return T("2004-12-06 10:00:00"); });
    }
    void addUser(qint64 id, const QString& name, int mode, const QVariant& last, qint64 rentFen = 0) {
        dbSwitch.execute("INSERT INTO user (userid, username, balancemode, lastdate, rent) VALUES (?,?,?,?,?)",
                         {id, name, mode, last, Currency::fromFen(rentFen)});
    }
    void store(const Call& c) {
        testsupport::storeCall(dbPhoneCur, {.calladdr = c.addr, .date = c.date, .secs = c.secs,
                                            .fee = Currency::fromRaw(c.fee[0]), .zh = c.zh, .phmode = c.mode,
                                            .addfee1 = Currency::fromRaw(c.fee[1]), .addfee2 = Currency::fromRaw(c.fee[2]),
                                            .gatefee = Currency::fromRaw(c.fee[3]), .linkfee = Currency::fromRaw(c.fee[4]),
                                            .userid = c.user});
        calls << c;
    }
    // Random calls of `users` over [from, to), with accounts, every category and short calls.
    void generate(const QList<qint64>& users, const QDateTime& from, const QDateTime& to, int n, unsigned seed) {
        std::mt19937 rng(seed);
        const qint64 span = from.secsTo(to);
        platform::Transaction tx(dbPhoneCur);
        for (int i = 0; i < n; ++i) {
            Call c;
            c.user = users[rng() % users.size()];
            c.addr = static_cast<int>(c.user % 7 + rng() % 3);
            c.zh = rng() % 4 == 0 ? QStringLiteral("%1").arg(rng() % 3 + 1000) : QStringLiteral("    ");
            c.date = from.addSecs(static_cast<qint64>(rng() % span));
            c.secs = static_cast<int>(rng() % 400);
            c.mode = static_cast<int>(rng() % 11);
            for (auto& f : c.fee) f = static_cast<qint64>(rng() % 50000);
            store(c);
        }
        tx.commit();
    }
    static SettleOptions options(int index = 0) {
        SettleOptions o;
        o.index = index;
        for (int k = 0; k < 10; ++k) o.categories << k;
        o.payDay = 20;
        return o;
    }
    Expect expect(qint64 user, const QDateTime& s, const QDateTime& e, const SettleOptions& o, int kind = 0,
                  const QString& name = {}) const {
        Expect x;
        for (const Call& c : calls) {
            if (c.user != user || c.date < s || !(c.date < e) || !o.categories.contains(c.mode)) continue;
            if (o.minSeconds > 0 && c.secs < o.minSeconds) continue;
            const bool acc = c.zh.trimmed().size() > 0;
            if (kind == billing::kKindExtension && (acc || QString::number(c.addr) != name)) continue;
            if (kind == billing::kKindAccount && (!acc || c.zh != name)) continue;
            qint64 all = 0;
            for (int k = 0; k < 5; ++k) {
                x.fee[k] += c.fee[k];
                all += c.fee[k];
            }
            x.type[c.mode] += all;
        }
        return x;
    }
    // Every row of tab_balance against the computation from the calls.
    void checkTable(const SettleOptions& o) {
        platform::Recordset rs = dbSwitch.query("SELECT * FROM tab_balance");
        ASSERT_GT(rs.recordCount(), 0);
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const bool user = rs.boolean("f_isuser");
            const int kind = user ? 0 : static_cast<int>(rs.lng("f_kind"));
            const Expect x = expect(rs.lng("f_userid"), rs.date("f_starttime"), rs.date("f_endtime"), o, kind,
                                    rs.str("f_name"));
            SCOPED_TRACE(QString("%1 %2 %3").arg(rs.str("f_name"), rs.str("f_starttime"), rs.str("f_endtime")).toStdString());
            for (int k = 0; k < 5; ++k) EXPECT_EQ(rs.value(5 + k).toLongLong(), x.fee[k]) << k;
            for (int k = 0; k < 10; ++k) EXPECT_EQ(rs.value(10 + k).toLongLong(), x.type[k]) << k;
        }
        // Every counted call is in exactly one detail row of its user's period.
        qint64 details = 0, users = 0;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            (rs.boolean("f_isuser") ? users : details) += rs.value(5).toLongLong();
        EXPECT_EQ(details, users);
    }
    QList<QStringList> userRows() {
        QList<QStringList> out;
        platform::Recordset rs = dbSwitch.query(
            "SELECT f_userid, f_starttime, f_endtime, f_rent FROM tab_balance WHERE f_isuser<>0 ORDER BY f_userid, f_starttime");
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            out << QStringList{rs.str("f_userid"), rs.str("f_starttime"), rs.str("f_endtime"), rs.cur("f_rent").toString2()};
        return out;
    }
    // The names of a user's detail rows, in the order written.
    static QStringList detailNames(qint64 user) {
        QStringList got;
        platform::Recordset rs = dbSwitch.query("SELECT f_name FROM tab_balance WHERE f_isuser=0 AND f_userid=? ORDER BY rowid", {user});
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) got << rs.str("f_name");
        return got;
    }
    QList<Call> calls;
};

TEST(SettlementPeriods, MonthlyPayPeriods) {
    using P = QList<QPair<QDateTime, QDateTime>>;
    // Pay day 20, settled up to 2004-10-20, run on 2004-12-06.
    EXPECT_EQ(MonthlyPeriods(T("2004-10-20 00:00:00"), T("2004-12-06 10:00:00"), 20, false),
              (P{{T("2004-10-20 00:00:00"), T("2004-11-20 00:00:00")}}));
    EXPECT_EQ(MonthlyPeriods(T("2004-10-20 00:00:00"), T("2004-12-06 10:00:00"), 20, true),
              (P{{T("2004-10-20 00:00:00"), T("2004-11-20 00:00:00")},
                 {T("2004-11-20 00:00:00"), T("2004-12-20 00:00:00")}}));
    // Settled up to the 25th: the first period ends on the 20th of the month after.
    EXPECT_EQ(MonthlyPeriods(T("2004-09-25 08:00:00"), T("2004-12-06 10:00:00"), 20, false),
              (P{{T("2004-09-25 08:00:00"), T("2004-10-20 00:00:00")},
                 {T("2004-10-20 00:00:00"), T("2004-11-20 00:00:00")}}));
    // No pay period has ended: nothing, unless forced; a year's turn.
    EXPECT_TRUE(MonthlyPeriods(T("2004-11-20 00:00:00"), T("2004-12-06 10:00:00"), 20, false).isEmpty());
    EXPECT_EQ(MonthlyPeriods(T("2004-12-22 00:00:00"), T("2004-12-30 00:00:00"), 20, true),
              (P{{T("2004-12-22 00:00:00"), T("2005-01-20 00:00:00")}}));
    // An end exactly on a pay date closes the period ending there.
    EXPECT_EQ(MonthlyPeriods(T("2004-10-20 00:00:00"), T("2004-11-20 00:00:00"), 20, false).size(), 1);
    EXPECT_EQ(billing::BalanceModeName(5), QStringLiteral("不结算用户"));
}

TEST_F(SettlementTest, SumsEqualTheCallsAcrossArchivesAndYearTurn) {
    addUser(1, "甲", 0, T("2004-10-20 00:00:00"), 1500);
    addUser(2, "乙", 1, T("2004-10-20 00:00:00"), 2000);
    addUser(3, "丙", 2, QVariant(), 0);
    generate({1, 2, 3}, T("2003-11-01 00:00:00"), T("2005-01-10 00:00:00"), 3000, 7);
    // Calls exactly at a period's start (counted) and end (not counted).
    store({1, 3, "    ", T("2004-10-20 00:00:00"), 60, 7, {10000, 0, 0, 0, 0}});
    store({1, 3, "    ", T("2004-12-06 10:00:00"), 60, 7, {20000, 0, 0, 0, 0}});

    SettleOptions o = options(0);
    o.manualStart = T("2003-12-15 00:00:00");
    o.manualEnd = T("2005-01-05 00:00:00");
    o.minSeconds = 30;
    o.categories = {0, 2, 4, 7, 8, 9};
    o.force = true;
    auto r = RunSettlement(o);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(dbPhoneCur.rowCount("Tab_Phone"), 0);   // archived first
    checkTable(o);
    EXPECT_EQ(userRows(), (QList<QStringList>{
                              {"1", "2004-10-20 00:00:00", "2004-12-06 10:00:00", "15.00"},
                              {"2", "2004-10-20 00:00:00", "2004-11-20 00:00:00", "20.00"},
                              {"2", "2004-11-20 00:00:00", "2004-12-20 00:00:00", "20.00"},
                              {"3", "2003-12-15 00:00:00", "2005-01-05 00:00:00", "0.00"}}));
    ASSERT_EQ(r.lines.size(), 4);
    EXPECT_EQ(billing::StatementLineText(r.lines[1], true).split('\t').mid(0, 4),
              (QStringList{"乙", "2004-10-20 00:00:00", "2004-11-20 00:00:00", "按月用户"}));

    // Index 3: the dialog's period for every user, cut at pay days for the monthly one.
    o.index = 3;
    o.force = false;
    o.minSeconds = 0;
    r = RunSettlement(o);
    ASSERT_TRUE(r.ok);
    checkTable(o);
    EXPECT_EQ(userRows().first(), (QStringList{"1", "2003-12-15 00:00:00", "2005-01-05 00:00:00", "15.00"}));
    EXPECT_EQ(userRows().size(), 1 + 13 + 1);
}

TEST_F(SettlementTest, RowsOfUsersAndDetails) {
    addUser(1, "甲", 0, T("2004-11-01 00:00:00"), 1000);
    addUser(2, "乙", 0, T("2004-11-01 00:00:00"));
    addUser(4, "丁", 1, T("2004-11-25 00:00:00"));
    // Two categories of one extension; an account; user 2 on the same extension.
    store({1, 5, "    ", T("2004-11-02 09:00:00"), 60, 2, {10000, 100, 0, 0, 0}});
    store({1, 5, "    ", T("2004-11-03 09:00:00"), 60, 7, {2000, 0, 0, 0, 0}});
    store({1, 5, "0099", T("2004-11-03 10:00:00"), 60, 7, {3000, 0, 0, 0, 0}});
    store({2, 5, "    ", T("2004-11-04 09:00:00"), 60, 4, {4000, 0, 0, 0, 0}});
    // A user numbered far beyond the others, and an incoming call, never settled.
    addUser(700000, "戊", 0, T("2004-11-01 00:00:00"));
    store({700000, 6, "    ", T("2004-11-05 09:00:00"), 60, 7, {5000, 0, 0, 0, 0}});
    store({700000, 6, "    ", T("2004-11-05 10:00:00"), 60, 10, {6000, 0, 0, 0, 0}});
    SettleOptions o = options(0);
    auto r = RunSettlement(o);
    ASSERT_TRUE(r.ok);
    checkTable(o);
    // The monthly user has no ended pay period: no row at all.
    EXPECT_EQ(userRows().size(), 3);
    EXPECT_EQ(dbSwitch.scalar("SELECT f_basefee FROM tab_balance WHERE f_isuser=1 AND f_userid=700000"), 5000);
    // Each detail row of a user and kind: its name, internal, city and mobile sums.
    const auto detail = [](qint64 uid, int kind) {
        QStringList out;
        platform::Recordset rs = dbSwitch.query("SELECT f_name, f_internal, f_city, f_mobile FROM tab_balance WHERE "
                                                "f_isuser=0 AND f_userid=? AND f_kind=?", {uid, kind});
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            out << QStringList{rs.str("f_name"), rs.cur("f_internal").toString2(), rs.cur("f_city").toString2(),
                               rs.cur("f_mobile").toString2()}.join(' ');
        return out;
    };
    EXPECT_EQ(detail(1, billing::kKindExtension), QStringList{"5 1.01 0.20 0.00"});
    EXPECT_EQ(detail(1, billing::kKindAccount), QStringList{"0099 0.00 0.30 0.00"});
    EXPECT_EQ(detail(2, billing::kKindExtension), QStringList{"5 0.00 0.00 0.40"});

    // A user without calls still gets a row with its rent; the selection is honoured.
    o.allUsers = false;
    o.users = {2, 2, 3};
    addUser(3, "丙\"\\\t'", 0, T("2004-12-01 00:00:00"), 800);
    r = RunSettlement(o);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(userRows(), (QList<QStringList>{{"2", "2004-11-01 00:00:00", "2004-12-06 10:00:00", "0.00"},
                                              {"3", "2004-12-01 00:00:00", "2004-12-06 10:00:00", "8.00"}}));
    // The name as stored, quotes, backslash and tab included.
    EXPECT_EQ(dbSwitch.scalar("SELECT f_name FROM tab_balance WHERE f_isuser=1 AND f_userid=3").toString(), "丙\"\\\t'");
}

// A month is read in parts side by side: each line's detail rows still come
// in the order of their first calls as stored, and a call whose stored date
// is not a text falls in no period, whether the month lies wholly in the
// run or not. A call not archived yet follows the archived ones, which are
// the older.
TEST_F(SettlementTest, DetailRowsInOrderOfFirstCallAndDatesThatAreNoText) {
    QList<qint64> users;
    {
        platform::Transaction tx(dbSwitch);
        for (int u = 1; u <= 40; ++u) {
            addUser(u, QStringLiteral("用户%1").arg(u), 0, T("2004-11-01 00:00:00"));
            users << u;
        }
        tx.commit();
    }
    generate(users, T("2004-11-01 00:00:00"), T("2004-12-01 00:00:00"), 3000, 5);
    store({3, 4, "    ", T("2004-11-15 00:00:00"), 60, 7, {70000, 0, 0, 0, 0}});
    store({3, 4, "    ", T("2004-11-16 00:00:00"), 60, 7, {80000, 0, 0, 0, 0}});
    calls.removeLast();
    calls.removeLast();
    SettleOptions o = options(3);
    o.manualStart = T("2004-11-01 00:00:00");
    o.manualEnd = T("2004-12-01 00:00:00");
    ASSERT_TRUE(RunSettlement(o).ok);   // archives November first
    {
        Database year = billing::AttachArchive(2004, "year");
        ASSERT_TRUE(year.isOpen());
        const QString t = year.qualified(billing::MonthTableName(11));
        EXPECT_EQ(year.execute("UPDATE " + t + " SET f_date=20041115.5 WHERE f_moneny=70000"), 1);
        EXPECT_EQ(year.execute("UPDATE " + t + " SET f_date=CAST('2004-11-16 00:00:00' AS BLOB) WHERE f_moneny=80000"), 1);
        year.close();
    }
    store({3, 11, "    ", T("2004-11-20 10:00:00"), 60, 7, {30000, 0, 0, 0, 0}});
    const billing::ArchiveHold hold;   // it stays current
    for (const auto& [from, to] : {qMakePair(T("2004-11-01 00:00:00"), T("2004-12-01 00:00:00")),
                                   qMakePair(T("2004-11-03 10:00:00"), T("2004-11-28 00:00:00"))}) {
        o.manualStart = from;
        o.manualEnd = to;
        ASSERT_TRUE(RunSettlement(o).ok);
        checkTable(o);
        for (const qint64 u : users) {
            QStringList expected;
            for (const Call& c : calls) {
                if (c.user != u || c.date < from || !(c.date < to) || c.mode > 9) continue;
                const QString name = c.zh.trimmed().isEmpty() ? QString::number(c.addr) : c.zh;
                if (!expected.contains(name)) expected << name;
            }
            EXPECT_EQ(detailNames(u), expected) << u;
        }
    }
}

// The statement table is written some hundreds of rows at a time: every row
// of a run larger than that is there, each with its own values.
TEST_F(SettlementTest, ALargeStatementKeepsEveryRow) {
    {
        platform::Transaction tx(dbSwitch);
        for (int u = 1; u <= 450; ++u) addUser(u, QStringLiteral("用户%1").arg(u), 0, T("2004-11-01 00:00:00"), u);
        tx.commit();
    }
    store({7, 5, "    ", T("2004-11-02 09:00:00"), 60, 2, {10000, 0, 0, 0, 0}});
    store({7, 5, "0099", T("2004-11-02 10:00:00"), 60, 2, {20000, 0, 0, 0, 0}});
    ASSERT_TRUE(RunSettlement(options(0)).ok);
    EXPECT_EQ(dbSwitch.scalar("SELECT count(*) FROM tab_balance WHERE f_isuser=1").toInt(), 450);
    EXPECT_EQ(dbSwitch.scalar("SELECT count(*) FROM tab_balance").toInt(), 452);
    EXPECT_EQ(dbSwitch.scalar("SELECT count(*) FROM tab_balance WHERE f_isuser=1 AND f_rent=f_userid * 100 AND "
                              "f_name='用户' || f_userid").toInt(), 450);
    EXPECT_EQ(dbSwitch.scalar("SELECT f_internal FROM tab_balance WHERE f_isuser=0 AND f_name='0099'").toLongLong(), 20000);
}

TEST_F(SettlementTest, RecordsLeftCurrentAreCountedOnce) {
    addUser(1, "甲", 0, T("2004-01-01 00:00:00"));
    addUser(2, "乙", 0, T("2004-01-01 00:00:00"));
    generate({1, 2}, T("2004-01-01 00:00:00"), T("2004-12-01 00:00:00"), 600, 11);
    SettleOptions o = options(0);
    {
        // The run is refused: everything stays current and is still summed.
        billing::ArchiveHold hold;
        ASSERT_TRUE(RunSettlement(o).ok);
        EXPECT_FALSE(billing::LastArchiveRun().ran);
        EXPECT_EQ(dbPhoneCur.rowCount("Tab_Phone"), 600);
    }
    checkTable(o);
    // Half archived, then the year held attached by a reader: the rest stays current.
    ASSERT_TRUE(RunSettlement(o).ok);
    generate({1, 2}, T("2004-01-01 00:00:00"), T("2004-12-01 00:00:00"), 300, 12);
    {
        Database held = billing::AttachArchive(2004, "reader");
        ASSERT_TRUE(held.isOpen());
        // A call stored while the run yields before the second user.
        const auto r = RunSettlement(o, [&](int i, int, const QString&) {
            if (i == 2) store({2, 9, "    ", T("2004-06-01 00:00:00"), 10, 3, {7, 0, 0, 0, 0}});
        });
        ASSERT_TRUE(r.ok);
        EXPECT_GT(billing::LastArchiveRun().monthsFailed, 0);
        held.close();
    }
    EXPECT_GT(dbPhoneCur.rowCount("Tab_Phone"), 0);
    checkTable(o);
    // Everything archived now: still the same sums.
    ASSERT_TRUE(RunSettlement(o).ok);
    EXPECT_EQ(dbPhoneCur.rowCount("Tab_Phone"), 0);
    checkTable(o);
}

TEST_F(SettlementTest, ErrorsStopTheRunAndKeepTheTable) {
    addUser(1, "甲", 0, T("2003-06-01 00:00:00"));
    store({1, 1, "    ", T("2004-03-01 00:00:00"), 10, 7, {100, 0, 0, 0, 0}});
    SettleOptions o = options(0);
    ASSERT_TRUE(RunSettlement(o).ok);
    const auto before = userRows();
    ASSERT_EQ(before.size(), 1);

    // A damaged year in the period.
    testsupport::writeBytes(DataPath + "PhBill_2003.mdb", QByteArray(4096, 'x'));
    auto r = RunSettlement(o);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.startsWith(QStringLiteral("结算错误:")) && r.error.contains("PhBill_2003.mdb")) << r.error.toStdString();
    EXPECT_EQ(userRows(), before);
    QFile::remove(DataPath + "PhBill_2003.mdb");

    // A deposit user without a last settlement date; a mode outside 0-2.
    addUser(2, "乙", 1, QVariant());
    r = RunSettlement(o);
    EXPECT_EQ(r.error, QStringLiteral("结算错误:乙 没有上次结算日期"));
    dbSwitch.execute("UPDATE user SET balancemode=4, lastdate='2004-01-01 00:00:00' WHERE userid=2");
    r = RunSettlement(o);
    EXPECT_EQ(r.error, QStringLiteral("结算错误:乙 结算方式错误"));
    EXPECT_EQ(userRows(), before);
}

// A read the disk refuses anywhere in a run (the archive that starts it, the
// year file, the current calls, the users) ends it as "结算错误:" with its
// cause; before, one in the archive left the run as an error of its own,
// which the window showed as a bare error box.
TEST_F(SettlementTest, ARefusedReadEndsTheRunAsASettlementErrorWithItsCause) {
    namespace refusal = testsupport::refusal;
    addUser(1, "甲", 0, T("2003-06-01 00:00:00"));
    const SettleOptions o = options(0);
    int failed = 0, calls = 0;
    for (const char* file : {"PhoneCur.mdb", "PhBill_2004.mdb"}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(file) + " read " + std::to_string(n));
            store({1, 1, "    ", T("2004-03-01 00:00:00").addSecs(++calls * 60), 10, 7, {100, 0, 0, 0, 0}});
            billing::SettleResult r;
            {
                // The archive's own words for a file it cannot write or open again.
                const refusal::MaybeBoxes boxes({{QStringLiteral("要终止程序吗"), platform::rNo}, {QString(), platform::rOK}});
                const refusal::Armed armed(refusal::Op::Read, QString::fromLatin1(file), n);
                EXPECT_NO_THROW(r = RunSettlement(o));
                if (!refusal::fired()) break;
            }
            if (!r.ok) {
                ++failed;
                EXPECT_TRUE(r.error.startsWith(QStringLiteral("结算错误:"))) << r.error.toStdString();
                EXPECT_GT(r.error.trimmed().size(), QStringLiteral("结算错误:").size()) << r.error.toStdString();
            }
            if (!dbSwitch.isOpen() || !dbPhoneCur.isOpen()) openDatabases();
        }
    }
    EXPECT_GT(failed, 0);
}

}  // namespace
