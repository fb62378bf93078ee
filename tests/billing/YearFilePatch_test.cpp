// The restore of a big year file that keeps the station's file and gives it
// what the backup's differs in (billing::PrepareYearFilePatch and
// ApplyYearFilePatch): whatever changed in the station's file since the
// backup, the file it leaves holds the calls the merge of the backup's copy
// with it holds (the other road, taken as the measure), once each; a kill
// anywhere in it, in process or of the station itself, leaves the station's
// file as it was or patched, never half.
#include "admin/Restore.h"
#include "billing/ArchiveBills.h"
#include "platform/Db.h"
#include "support/Fixtures.h"
#include "support/StationRuns.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <stdexcept>

using platform::Database;

namespace {

constexpr int kCallsPerMonth = 12000;

// Three month tables of 12,000 calls (about 1.5 MB) with the indexes the
// archive gives them, and a small fourth one. Two calls of March share a key
// with other contents, as a file an older release filled may.
void makeYearFile(const QString& path) {
    Database y = Database::create(path);
    platform::Transaction tx(y);
    for (int m = 1; m <= 4; ++m) {
        y.execute(QString("CREATE TABLE Tab_Ph%1 (f_calladdr integer, f_zjaddr integer, f_date text, f_long integer, "
                          "f_moneny integer, f_resp text, f_userid integer)")
                      .arg(m));
        // Every call its own start: a second apart from the month's first.
        y.execute(QString("WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i<?2-1) "
                          "INSERT INTO Tab_Ph%1 SELECT i % 90, i % 16, "
                          "strftime('%Y-%m-%d %H:%M:%S', printf('2026-%02d-01', ?1), '+' || i || ' seconds'), i % 900, "
                          "(i*37) % 20000, printf('0%d', 10000000 + i), 1 + i % 500 FROM s")
                      .arg(m),
                  {m, m == 4 ? 40 : kCallsPerMonth});
        y.execute(QString("CREATE INDEX ix_Tab_Ph%1_user_date ON Tab_Ph%1 (f_userid, f_date)").arg(m));
        y.execute(QString("CREATE INDEX ix_Tab_Ph%1_calladdr_date ON Tab_Ph%1 (f_calladdr, f_date)").arg(m));
    }
    y.execute("UPDATE Tab_Ph3 SET f_calladdr=(SELECT f_calladdr FROM Tab_Ph3 WHERE rowid=6000), "
              "f_date=(SELECT f_date FROM Tab_Ph3 WHERE rowid=6000) WHERE rowid IN (6001, 6002)");
    tx.commit();
}

// Every row of every month table, as text, sorted: the calls a file holds, as many times as it holds them.
QStringList callsOf(const QString& path) {
    QStringList out;
    Database y = Database::openReadOnly(path);
    for (const QString& t : y.tableNames()) {
        for (platform::RowReader r = y.rows(QString("SELECT f_calladdr, f_zjaddr, quote(f_date), f_long, f_moneny, "
                                                    "quote(f_resp), f_userid FROM %1")
                                                .arg(y.qualified(t)));
             r.next();) {
            QStringList cells{t.toLower()};
            for (int c = 0; c < 7; ++c) cells << (r.isNull(c) ? QStringLiteral("NULL") : r.text(c));
            out << cells.join('|');
        }
    }
    out.sort();
    return out;
}

// "" when `got` holds the calls of `want` as many times each, else how they differ.
// Both sorted, as callsOf gives them.
std::string difference(const QStringList& got, const QStringList& want) {
    QStringList missing, extra;
    qsizetype i = 0, j = 0;
    while (i < got.size() || j < want.size()) {
        if (j == want.size() || (i < got.size() && got[i] < want[j])) extra << got[i++];
        else if (i == got.size() || want[j] < got[i]) missing << want[j++];
        else ++i, ++j;
    }
    if (missing.isEmpty() && extra.isEmpty()) return "";
    return QString("%1 missing (first: %2), %3 extra (first: %4)")
        .arg(missing.size())
        .arg(missing.value(0))
        .arg(extra.size())
        .arg(extra.value(0))
        .toStdString();
}

const QString kNewCall = "INSERT INTO Tab_Ph%1 (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_userid) "
                         "VALUES (?, 3, ?, 61, 150, '88001234', 7)";

// Makes the changes named (of kSince, below) in the year file `y`.
void changeBy(const Database& y, const QStringList& names);

// What may have happened to the station's year file since the backup.
struct Since {
    const char* name;
    std::function<void(const Database&)> change;
};
const Since kSince[] = {
    {"calls deleted", [](const Database& y) {
         for (int m = 1; m <= 3; ++m) y.execute(QString("DELETE FROM Tab_Ph%1 WHERE rowid<=10 OR rowid BETWEEN 5000 AND 5005").arg(m));
     }},
    {"a fee changed", [](const Database& y) { y.execute("UPDATE Tab_Ph2 SET f_moneny=999 WHERE rowid=7000"); }},
    {"calls archived", [](const Database& y) {
         for (int i = 0; i < 300; ++i) y.execute(kNewCall.arg(3), {i % 40, QString("2026-03-28 20:%1:%2").arg(i / 60, 2, 10, QChar('0')).arg(i % 60, 2, 10, QChar('0'))});
     }},
    // The backup's last call of January deleted, and its row number given to
    // a call archived since: the backup's comes back under a number of its own.
    {"a row number given again", [](const Database& y) {
         y.execute(QString("DELETE FROM Tab_Ph1 WHERE rowid=%1").arg(kCallsPerMonth));
         y.execute(kNewCall.arg(1), {77, "2026-01-30 23:00:00"});
     }},
    // A call archived under a key the backup holds, with other content: the backup's stays alone.
    {"a key archived again", [](const Database& y) {
         y.execute(kNewCall.arg(2), {y.scalar("SELECT f_calladdr FROM Tab_Ph2 WHERE rowid=100"), y.scalar("SELECT f_date FROM Tab_Ph2 WHERE rowid=100")});
     }},
    // Calls of a month held twice under one key: one of them deleted.
    {"one of a key's calls deleted", [](const Database& y) { y.execute("DELETE FROM Tab_Ph3 WHERE rowid=6001"); }},
    {"a month deleted", [](const Database& y) { y.execute("DROP TABLE Tab_Ph4"); }},
    {"a month archived", [](const Database& y) {
         y.execute("CREATE TABLE Tab_Ph5 AS SELECT * FROM Tab_Ph4");
         y.execute("UPDATE Tab_Ph5 SET f_date=replace(f_date, '2026-04', '2026-05')");
     }},
    {"all of it", [](const Database& y) {
         changeBy(y, {"calls deleted", "a fee changed", "calls archived", "a row number given again", "a key archived again",
                      "one of a key's calls deleted", "a month deleted"});
     }},
};

void changeBy(const Database& y, const QStringList& names) {
    for (const QString& n : names)
        for (const Since& s : kSince)
            if (n == s.name) s.change(y);
}

// The change of `since` made in the file at `path`, in one commit.
void change(const QString& path, const std::function<void(const Database&)>& since) {
    Database y = Database::open(path);
    platform::Transaction tx(y);
    since(y);
    tx.commit();
}

bool copyFresh(const QString& from, const QString& to) {
    QFile::remove(to);
    QFile::remove(to + "-journal");
    return QFile::copy(from, to);
}

class YearFilePatchTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.path() + '/' + name; }
    // The merge road on copies: the backup's file with the station's calls merged in.
    QStringList merged(const QString& station, const QString& backup, billing::ArchiveMerge* counts) {
        EXPECT_TRUE(copyFresh(backup, path("merged.mdb")));
        *counts = billing::MergeArchive(path("merged.mdb"), station, true);
        return callsOf(path("merged.mdb"));
    }
};

TEST_F(YearFilePatchTest, LeavesTheCallsTheMergeLeavesOnceEachWhateverChangedSinceTheBackup) {
    const QString backup = path("backup.mdb");
    makeYearFile(backup);
    for (const Since& since : kSince) {
        SCOPED_TRACE(since.name);
        const QString station = path("station.mdb"), patch = path("station.mdb.patch");
        ASSERT_TRUE(copyFresh(backup, station));
        change(station, since.change);
        billing::ArchiveMerge expectedCounts;
        const QStringList expected = merged(station, backup, &expectedCounts);
        const QStringList before = callsOf(station);

        billing::ArchiveMerge found;
        ASSERT_TRUE(billing::PrepareYearFilePatch(station, backup, patch, &found));
        // Killed inside its one transaction (here: a failure with everything
        // written), the station's file is as it was; given again, it goes in.
        EXPECT_THROW(billing::ApplyYearFilePatch(station, patch, [] { throw std::runtime_error("killed"); }), std::runtime_error);
        EXPECT_EQ(difference(callsOf(station), before), "") << "the patch is made reading the station's file only, and a stopped one leaves it";
        billing::ApplyYearFilePatch(station, patch);
        EXPECT_EQ(difference(callsOf(station), expected), "");
        EXPECT_EQ(found.brought, expectedCounts.brought);
        EXPECT_EQ(found.kept, expectedCounts.kept);
        EXPECT_TRUE(Database::open(station).quickCheck());
        // Done again (a completion killed after its commit): nothing changes.
        billing::ApplyYearFilePatch(station, patch);
        EXPECT_EQ(difference(callsOf(station), expected), "");
        EXPECT_FALSE(QFile::exists(station + "-journal"));
    }
}

// Where copying costs no more, or the pages tell too little, the patch is not
// made and the merge road decides.
TEST_F(YearFilePatchTest, IsNotMadeWhereTheFileIsSmallMostlyDifferentOrNotComparable) {
    const QString backup = path("backup.mdb"), station = path("station.mdb"), patch = path("patch.mdb");
    makeYearFile(backup);
    billing::ArchiveMerge found;
    {
        SCOPED_TRACE("a small file");
        const QString small = path("small.mdb"), smallStation = path("small-station.mdb");
        {
            Database y = Database::create(small);
            y.execute("CREATE TABLE Tab_Ph1 (f_calladdr integer, f_date text, f_moneny integer)");
            y.execute("CREATE INDEX ix ON Tab_Ph1 (f_calladdr, f_date)");
            for (int i = 0; i < 50; ++i) y.execute("INSERT INTO Tab_Ph1 VALUES (?, ?, 1)", {i, QString("2026-01-01 00:00:%1").arg(i)});
        }
        ASSERT_TRUE(copyFresh(small, smallStation));
        Database(Database::open(smallStation)).execute("DELETE FROM Tab_Ph1 WHERE rowid=3");
        EXPECT_FALSE(billing::PrepareYearFilePatch(smallStation, small, patch, &found));
    }
    {
        SCOPED_TRACE("every page written again");
        ASSERT_TRUE(copyFresh(backup, station));
        Database y = Database::open(station);
        y.execute("DELETE FROM Tab_Ph2 WHERE rowid % 2 = 0");
        y.execute("VACUUM");
        EXPECT_FALSE(billing::PrepareYearFilePatch(station, backup, patch, &found));
    }
    {
        SCOPED_TRACE("the backup without the key index");
        const QString unkeyed = path("unkeyed.mdb");
        ASSERT_TRUE(copyFresh(backup, unkeyed));
        Database(Database::open(unkeyed)).execute("DROP INDEX ix_Tab_Ph2_calladdr_date");
        ASSERT_TRUE(copyFresh(unkeyed, station));
        Database(Database::open(station)).execute("DELETE FROM Tab_Ph2 WHERE rowid=4");
        EXPECT_FALSE(billing::PrepareYearFilePatch(station, unkeyed, patch, &found));
    }
    {
        SCOPED_TRACE("a column more");
        ASSERT_TRUE(copyFresh(backup, station));
        Database(Database::open(station)).execute("ALTER TABLE Tab_Ph1 ADD COLUMN f_extra integer");
        EXPECT_FALSE(billing::PrepareYearFilePatch(station, backup, patch, &found));
    }
    {
        SCOPED_TRACE("a station's file that does not read: false, the merge decides");
        ASSERT_TRUE(copyFresh(backup, station));
        testsupport::writeBytes(station, QByteArray(8192, 'x'));
        EXPECT_FALSE(billing::PrepareYearFilePatch(station, backup, patch, &found));
        EXPECT_FALSE(billing::YearFileHolds(station, backup, &found));
    }
}

// Calls archived into the station's file while the restore waited (after
// the patch was made): into a month the file lacked then, one of them a call
// the backup holds, and a call the patch brings back archived again in a
// month it had. Each call stays once, the backup's where it holds the key,
// as the merge leaves them.
TEST_F(YearFilePatchTest, CallsArchivedWhileTheRestoreWaitedStayOnceEach) {
    const QString backup = path("backup.mdb"), station = path("station.mdb"), patch = path("patch.mdb");
    makeYearFile(backup);
    ASSERT_TRUE(copyFresh(backup, station));
    change(station, [](const Database& y) { changeBy(y, {"calls deleted", "a month deleted"}); });
    ASSERT_TRUE(billing::PrepareYearFilePatch(station, backup, patch, nullptr));
    platform::Params april, january;
    {
        const Database b = Database::openReadOnly(backup);
        april = {b.scalar("SELECT f_calladdr FROM Tab_Ph4 WHERE rowid=7"), b.scalar("SELECT f_date FROM Tab_Ph4 WHERE rowid=7")};
        january = {b.scalar("SELECT f_calladdr FROM Tab_Ph1 WHERE rowid=5"), b.scalar("SELECT f_date FROM Tab_Ph1 WHERE rowid=5")};
    }
    change(station, [&](const Database& y) {
        y.execute("CREATE TABLE Tab_Ph4 AS SELECT * FROM Tab_Ph1 WHERE 0");
        y.execute(kNewCall.arg(4), april);
        y.execute(kNewCall.arg(4), {77, "2026-04-30 23:00:00"});
        y.execute(kNewCall.arg(1), january);
    });
    billing::ArchiveMerge counts;
    const QStringList expected = merged(station, backup, &counts);
    billing::ApplyYearFilePatch(station, patch);
    EXPECT_EQ(difference(callsOf(station), expected), "");
}

// The station restoring its files (its station file and a year file whose
// calls of the first days of three months it deleted since the backup, and
// which it archived more calls into) killed at each step of the restore and
// again inside the patch's transaction at the next start: started again, the
// year file holds every call of the backup and every call archived since,
// once each, passes quick_check, and nothing of the restore is left beside it.
TEST(YearFilePatchKill, EveryCallStaysOnceWhereverTheRestoreIsKilled) {
    const auto run = testsupport::runStation;
    testsupport::StationDir history;
    const QString bk = history.appPath() + "bk/";
    QDir().mkpath(bk);
    const QString year = "phbill_2026.mdb";
    makeYearFile(bk + year);
    ASSERT_TRUE(QFile::copy(history.file("switch.mdb"), bk + "Switch.mdb"));
    ASSERT_TRUE(QFile::copy(bk + year, history.file(year)));
    change(history.file(year), [](const Database& y) { changeBy(y, {"calls deleted", "calls archived"}); });
    const QStringList old = callsOf(history.file(year));
    billing::ArchiveMerge counts;
    const QString merged = history.appPath() + "merged.mdb";
    ASSERT_TRUE(QFile::copy(bk + year, merged));
    counts = billing::MergeArchive(merged, history.file(year), true);
    const QStringList restored = callsOf(merged);
    ASSERT_EQ(counts.brought, 3 * 16);
    ASSERT_EQ(counts.kept, 300);
    {
        // The road taken is the patch's.
        const QString probe = history.appPath() + "probe.mdb";
        ASSERT_TRUE(billing::PrepareYearFilePatch(history.file(year), bk + year, probe, nullptr));
    }
    const struct {
        QString restoreKill, completionKill;
    } cases[] = {{"", ""}, {"copied", ""}, {"marked", ""}, {"patched", ""}, {"recovered:2", ""}, {"renamed:2", ""},
                 {"marked", "patched"}, {"patched", "patched"}};
    for (const auto& c : cases) {
        SCOPED_TRACE((c.restoreKill + " / " + c.completionKill).toStdString());
        testsupport::StationDir d(0, false);
        ASSERT_TRUE(testsupport::copyTree(history.dataPath(), d.dataPath()));
        QStringList extra{"--restore-from", bk};
        if (!c.restoreKill.isEmpty()) extra << "--kill-in-restore" << c.restoreKill;
        EXPECT_EQ(run(d, extra)->killed(), !c.restoreKill.isEmpty()) << "the restore never reached its kill";
        if (!c.completionKill.isEmpty()) {
            EXPECT_TRUE(run(d, {"--kill-in-restore", c.completionKill})->killed());
        }
        if (!c.restoreKill.isEmpty()) {
            const QString log = run(d, {})->log().join('\n');
            EXPECT_TRUE(log.contains("END\t0")) << log.toStdString();
        }
        EXPECT_EQ(difference(callsOf(d.file(year)), c.restoreKill == "copied" ? old : restored), "");
        EXPECT_TRUE(Database::open(d.file(year)).quickCheck());
        EXPECT_TRUE(QDir(d.dataPath())
                        .entryList({"*" + admin::RestoreTempSuffix() + "*", admin::RestoreJournalName() + "*", "*-journal"},
                                   QDir::Files | QDir::Hidden)
                        .isEmpty());
    }
}

}  // namespace
