#include "core/books/SafetyCopies.h"
#include "core/StationFiles.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "support/Holds.h"
#include "support/Fixtures.h"
#include "support/Refusals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <functional>

using namespace ModSwitch;
using testsupport::holds, testsupport::lacks, testsupport::holdsAll, testsupport::lacksAll;
using platform::Database;

namespace {
using testsupport::bytesOf;
using testsupport::writeBytes;
// Calls of extension 5 at 8:`from` to 8:`to` (not included), 30.00 each, stored in the file at `path`.
void storeCallsFrom(const QString& path, int from, int to) {
    Database db = Database::open(path);
    for (int i = from; i < to; ++i)
        testsupport::storeCall(db, {.calladdr = 5, .date = QStringLiteral("2026-06-15 08:%1:00").arg(i, 2, 10, QLatin1Char('0')),
                                    .secs = 60, .fee = platform::Currency::fromRaw(3000)});
}
// A page of the index written where it does not belong: the index no
// longer matches its table, which only the full check reads.
void breakAnIndex(const QString& path, const QString& on = "Variant(value)", const QString& claimed = "Variant(varname)") {
    Database f = Database::open(path);
    f.execute(QStringLiteral("create index ix_probe on %1").arg(on));
    f.execute("PRAGMA writable_schema=ON");
    f.execute("update sqlite_master set sql=? where name='ix_probe'", {QStringLiteral("CREATE INDEX ix_probe on %1").arg(claimed)});
}
// A header field written over with `bytes`.
void setHeaderBytes(const QString& path, int offset, const QByteArray& bytes) {
    QByteArray b = bytesOf(path);
    b.replace(offset, bytes.size(), bytes);
    writeBytes(path, b);
}
}  // namespace

// The start-up check and compaction of a data file against its ".bak" copy.
class CompactDBTest : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        // A damaged file restored from its copy is reported.
        for (int i = 0; i < 6; ++i) platform::script::answer("已损坏", platform::rOK);
    }
    QString sw() const { return dir->file("switch.mdb"); }
    QString cur() const { return dir->file("PhoneCur.mdb"); }
    // The text of the `i`-th box shown ("" when there is none).
    static QString box(int i) { return platform::script::shown().value(i).text; }
    QString bak() const { return dir->file("switch.mdb.bak"); }
    // Writes the ".bak" as a copy of the current file, changed by `sql`.
    void makeBak(const QStringList& sql = {}) {
        QFile::remove(bak());
        ASSERT_TRUE(QFile::copy(sw(), bak()));
        Database b = Database::open(bak());
        for (const QString& s : sql) b.execute(s);
    }
    // A row only the current file has: gone after a restore from the copy.
    void markCurrent() {
        Database f = Database::open(sw());
        f.execute("insert into Variant(varname,value) values('Marker',?)", {++marks});
    }
    // Space to give back: the file is compacted.
    void addSpaceToGiveBack() {
        Database f = Database::open(sw());
        f.execute("create table junk (x TEXT)");
        for (int i = 0; i < 300; ++i) f.execute("insert into junk values(?)", {QString(200, 'x')});
        f.execute("drop table junk");
    }
    // The files whose pages are checked in full, from now on.
    QStringList checks;
    void watchChecks() {
        platform::testing::setIntegrityCheckHook([this](const QString& path) { checks << QFileInfo(path).fileName(); });
    }
    // `before` calls in the call file when a start takes its copy, `since` stored after.
    void callsAroundACopy(int before, int since) {
        storeCallsFrom(cur(), 0, before);
        CompactDB("PhoneCur.mdb");
        storeCallsFrom(cur(), before, before + since);
    }
    void TearDown() override {
        platform::testing::setIntegrityCheckHook(nullptr);
        StationTest::TearDown();
    }
    bool currentKept() {
        Database f = Database::open(platform::resolvePathCI(sw()));
        return f.scalar("select count(*) from Variant where varname='Marker' and value=?", {QString::number(marks)}).toInt() == 1;
    }
    int marks = 0;
};

TEST_F(CompactDBTest, CompactsAndLeavesAByteIdenticalCopy) {
    addSpaceToGiveBack();
    const qint64 before = QFileInfo(sw()).size();
    markCurrent();
    CompactDB("Switch.mdb");
    EXPECT_TRUE(currentKept());
    EXPECT_LT(QFileInfo(sw()).size(), before);
    ASSERT_TRUE(QFileInfo::exists(bak()));
    EXPECT_EQ(bytesOf(bak()), bytesOf(sw()));
    EXPECT_FALSE(platform::existsCI(dir->file("Tmp.mdb")));
    EXPECT_TRUE(platform::script::shown().isEmpty());
    // The second start, the file in write-ahead mode with nothing to give
    // back, compares against that copy and finds nothing wrong: the file is
    // not rewritten, and its copy still stands alone, out of that mode.
    {
        Database f = Database::open(sw());
        f.execute("PRAGMA journal_mode=WAL");
        ASSERT_EQ(f.scalar("PRAGMA freelist_count").toLongLong(), 0);
    }
    markCurrent();
    CompactDB("switch.mdb");
    EXPECT_TRUE(currentKept());
    EXPECT_EQ(bytesOf(bak()), bytesOf(sw()));
    EXPECT_EQ(bytesOf(bak()).mid(18, 2), QByteArray("\x01\x01", 2));
    EXPECT_FALSE(QFileInfo::exists(sw() + "-wal"));
    // A copy garbled since: the sound file starts without a question and is copied again.
    writeBytes(bak(), QByteArray("this is no database at all").repeated(200));
    markCurrent();
    CompactDB("Switch.mdb");
    EXPECT_TRUE(currentKept());
    EXPECT_TRUE(platform::script::shown().isEmpty());
    EXPECT_EQ(bytesOf(bak()), bytesOf(sw()));
    // A call file an earlier version compacted with the archive's large pages
    // comes back with small ones: every record wrote several times the bytes.
    {
        Database f = Database::open(cur());
        f.execute("PRAGMA journal_mode=DELETE");
        f.execute("PRAGMA page_size=16384");
        f.execute("VACUUM");
        ASSERT_EQ(f.scalar("PRAGMA page_size").toLongLong(), 16384);
    }
    CompactDB("PhoneCur.mdb");
    EXPECT_EQ(bytesOf(cur() + ".bak"), bytesOf(cur()));
    EXPECT_TRUE(Database::open(cur()).hasTable("Tab_Phone"));
    EXPECT_EQ(Database::open(cur()).scalar("PRAGMA page_size").toLongLong(), 4096);
}

// Only the full check calls a file damaged: another structure than the
// copy's (a table, a field, an index more or less) gets that check, and the
// rows of a table keyed by address or route are the session's to change (an
// upload replaces them whole).
TEST_F(CompactDBTest, AnotherStructureOrOtherRowsThanTheCopysAreNoDamage) {
    // The copy with a table, a system table, a field, an index more; then
    // the file with a field and a table more (an upgrade since the copy).
    const QList<std::pair<QStringList, QStringList>> structures{
        {{"create table Extra (a INTEGER)"}, {}},
        {{"create table MSysACEs (a INTEGER)", "create table pExtension (a INTEGER)"}, {}},
        {{"alter table Worker add column z TEXT"}, {}},
        {{"create index ix_probe on Variant(value)"}, {}},
        {{}, {"alter table Worker add column spare INTEGER NOT NULL DEFAULT 0", "create table Later (a INTEGER)"}}};
    for (const auto& [copy, file] : structures) {
        makeBak(copy);
        for (const QString& sql : file) Database::open(sw()).execute(sql);
        markCurrent();
        CompactDB("Switch.mdb");
        EXPECT_TRUE(currentKept()) << (copy + file).join(' ').toStdString();
        EXPECT_EQ(bytesOf(bak()), bytesOf(sw()));
    }
    // Uploads of the tables whose rows an upload replaces: 0 rows, then 128 and 256.
    for (int rows : {0, 128, 256}) {
        {
            Database f = Database::open(sw());
            for (const char* t : {"ExtraHead", "Shrink"}) {
                f.execute(QStringLiteral("delete from %1").arg(t));
                for (int i = 0; i < rows; ++i) f.execute(QStringLiteral("insert into %1 (Address) values (?)").arg(t), {i});
            }
            f.execute("delete from AddHead");
            for (int i = 0; i < rows; ++i) f.execute("insert into AddHead (Router, PortAddr) values (?, ?)", {1 + i % 2, i});
        }
        markCurrent();
        CompactDB("Switch.mdb");
        EXPECT_TRUE(currentKept()) << rows;
        EXPECT_EQ(Database::open(sw()).rowCount("Shrink"), rows);
    }
    // The deposits' table short of rows at a start, filled after its copy
    // (as the upgrade step does): no later start puts back a copy.
    Database::open(sw()).execute("create table ExtDeposit (Address INTEGER NOT NULL PRIMARY KEY, RealValue CURRENCY DEFAULT 0)");
    Database::open(sw()).execute("insert into ExtDeposit (Address) select Address from Shrink where Address < 60");
    CompactDB("Switch.mdb");
    Database::open(sw()).execute("insert into ExtDeposit (Address) select Address + 60 from ExtDeposit");
    for (int start = 0; start < 2; ++start) {
        markCurrent();
        CompactDB("Switch.mdb");
        EXPECT_TRUE(currentKept()) << start;
        EXPECT_EQ(Database::open(sw()).rowCount("ExtDeposit"), 120);
    }
    EXPECT_TRUE(platform::script::shown().isEmpty());
    EXPECT_TRUE(QDir(dir->dataPath()).entryList({"switch.mdb.damaged-*"}).isEmpty());
}

// A read the disk refuses while a file is checked (bounded by its copy or
// whole), or a write-ahead log that cannot be opened, is the disk's trouble,
// named; the file is never moved nor put back for it.
TEST_F(CompactDBTest, AFileTheDiskCannotReadOrReachIsTroubleNeverDamage) {
    namespace refusal = testsupport::refusal;
    for (bool copyKnown : {true, false}) {
        for (int n = 1;; ++n) {
            markCurrent();
            if (!copyKnown) QFile::remove(bak() + ".checked");
            QString failure, notice;
            bool ok = false, fired = false;
            {
                const refusal::Armed armed(refusal::Op::Read, QStringLiteral("switch.mdb"), n);
                ok = TryCompactDB("Switch.mdb", &failure, &notice);
                fired = refusal::fired();
            }
            EXPECT_TRUE(currentKept()) << n;
            EXPECT_TRUE(ok || failure.startsWith("数据库文件switch.mdb无法检查（磁盘读写错误）")) << n << failure.toStdString();
            // A refused read while the copy is taken leaves the old copy, said so.
            EXPECT_TRUE(notice.isEmpty() || notice.contains("安全备份未能更新（磁盘读写错误）")) << n << notice.toStdString();
            if (!fired) break;
        }
    }
    EXPECT_TRUE(platform::script::shown().isEmpty());
    makeBak({"create table Extra (a INTEGER)"});   // would be restored if taken for damaged
    Database::open(sw()).execute("PRAGMA journal_mode=WAL");
    markCurrent();
    const QByteArray file = bytesOf(sw()), copy = bytesOf(bak());
    ASSERT_TRUE(QDir().mkpath(sw() + "-wal"));
    platform::script::answer("无法检查", platform::rOK);
    EXPECT_THROW(CompactDB("Switch.mdb"), platform::ProgramEnded);
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(box(0).startsWith("数据库文件switch.mdb无法检查（")) << box(0).toStdString();
    EXPECT_EQ(bytesOf(sw()), file);
    EXPECT_EQ(bytesOf(bak()), copy);
    EXPECT_TRUE(QDir(dir->dataPath()).entryList({"switch.mdb.damaged-*"}).isEmpty());
}

// A damaged file (garbage, no byte, a table gone, an index that no longer
// matches its table while every page reads, a page orphaned) is put back from
// its sound copy and never copied over it. It is kept aside, named for what
// it is and when; the tables the session wrote since the copy, which the
// journal does not bring back, are named.
TEST_F(CompactDBTest, ADamagedFileIsPutBackFromItsCopyAndKeptAside) {
    platform::testing::setNow([] { return QDateTime(QDate(2026, 6, 15), QTime(8, 30, 5)); });
    const QString aside = dir->file("switch.mdb.damaged-20260615-083005");
    const std::pair<const char*, std::function<void()>> damages[] = {
        {"garbage", [&] { writeBytes(sw(), QByteArray("garbage").repeated(1000)); }},
        {"zero-byte", [&] { writeBytes(sw(), {}); }},
        {"no Worker", [&] { Database::open(sw()).execute("drop table Worker"); }},
        // A write version the engine cannot write with: damage, not a read-only file.
        {"write version 3", [&] { setHeaderBytes(sw(), 18, QByteArray(1, '\x03')); }},
        {"an index against its table", [&] {
             breakAnIndex(sw());
             ASSERT_TRUE(Database::open(sw()).quickCheck());
         }},
        {"an orphan page", [&] {
             Database::open(sw()).execute("insert into Shrink (Address) values (7)");
             testsupport::addOrphanPage(sw());
         }}};
    qsizetype boxes = 0;
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        makeBak();
        const QByteArray copy = bytesOf(bak());
        damage();
        const QByteArray broken = bytesOf(sw());
        CompactDB("Switch.mdb");
        EXPECT_EQ(bytesOf(sw()), copy);
        EXPECT_EQ(bytesOf(bak()), copy);
        EXPECT_EQ(QDir(dir->dataPath()).entryList({"switch.mdb.damaged-*"}), QStringList{QFileInfo(aside).fileName()});
        EXPECT_EQ(bytesOf(aside), broken);
        ASSERT_EQ(platform::script::shown().size(), ++boxes);
        EXPECT_EQ(platform::script::shown().last().title, "警告");
        EXPECT_TRUE(holdsAll(box(boxes - 1), {"数据库文件switch.mdb已损坏", QDir::toNativeSeparators(aside)}));
        EXPECT_TRUE(lacks(box(boxes - 1), "话单"));
        QFile::remove(aside);
    }
    EXPECT_TRUE(holds(box(boxes - 1), "备份之后改动过的以下各表已恢复为备份时的内容，请核对：Shrink"));
    EXPECT_EQ(Database::open(sw()).rowCount("Shrink"), 0);
}

// A damaged file without a sound copy (a garbled copy, one that reads well
// but fails its check, none): the station closes, nothing moved or made.
TEST_F(CompactDBTest, ADamagedFileWithoutASoundCopyClosesTheStationLeavingBoth) {
    makeBak();
    testsupport::addOrphanPage(bak());
    EXPECT_EQ(Database::open(bak()).rowCount("Worker"), 1);
    Database::open(sw()).execute("drop table Worker");
    const std::pair<const char*, std::function<void()>> damages[] = {
        {"copy failing its check", [] {}},
        {"both garbled", [&] {
             writeBytes(sw(), QByteArray("broken file").repeated(500));
             writeBytes(bak(), QByteArray("broken copy").repeated(500));
         }},
        {"no copy", [&] {
             QFile::remove(bak());
             writeBytes(sw(), {});
         }}};
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        damage();
        const QByteArray file = bytesOf(sw()), copy = bytesOf(bak());
        const bool copied = QFileInfo::exists(bak());
        platform::script::answer("恢复数据库失败!", platform::rOK);
        EXPECT_THROW(CompactDB("Switch.mdb"), platform::ProgramEnded);
        EXPECT_EQ(bytesOf(sw()), file);
        EXPECT_EQ(bytesOf(bak()), copy);
        EXPECT_EQ(QFileInfo::exists(bak()), copied);
    }
}

// A file the station has open, or another program holds locked, is left
// alone, silently: neither checked nor copied.
TEST_F(CompactDBTest, FileLockedElsewhereOrOpenInTheStationIsSkippedSilently) {
    makeBak({"create table Extra (a INTEGER)"});   // would be restored if checked
    const QByteArray copy = bytesOf(bak());
    {
        Database other = Database::open(sw());
        other.execute("BEGIN EXCLUSIVE");
        other.execute("insert into Variant(varname,value) values('Locked','1')");
        CompactDB("Switch.mdb");
        other.execute("COMMIT");
        EXPECT_EQ(other.scalar("select count(*) from Variant where varname='Locked'").toInt(), 1);
        EXPECT_FALSE(other.hasTable("Extra"));
    }
    EXPECT_EQ(bytesOf(bak()), copy);
    openDatabases();
    const QByteArray before = bytesOf(sw());
    CompactDB("Switch.mdb");
    EXPECT_EQ(bytesOf(bak()), copy);
    EXPECT_EQ(bytesOf(sw()), before);
    EXPECT_TRUE(dbSwitch.hasTable("Variant"));
    EXPECT_TRUE(platform::script::shown().isEmpty());
}

TEST_F(CompactDBTest, SuperJournalsNoJournalNamesAreRemoved) {
    const QString stale = dir->file("switch.mdb-mj1A2B3C4D");
    const QString named = dir->file("Switch.mdb-mj00C0FFEE");
    writeBytes(stale, "old");
    writeBytes(named, "live");
    writeBytes(dir->file("switch.mdb-mjnotes"), "not a super-journal");
    // A hot journal of the call file still names the second one, by its full path.
    writeBytes(dir->file("PhoneCur.mdb-journal"),
               QByteArray(600, '\0') + QFile::encodeName(named) + QByteArray("\0\0\0\x20", 4) + QByteArray(12, '\x7f'));
    EXPECT_EQ(RemoveStaleSuperJournals(dir->dataPath()), 1);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(named));
    EXPECT_TRUE(QFileInfo::exists(dir->file("switch.mdb-mjnotes")));
    // Once the journal is gone, nothing holds the other one.
    QFile::remove(dir->file("PhoneCur.mdb-journal"));
    EXPECT_EQ(RemoveStaleSuperJournals(dir->dataPath()), 1);
    EXPECT_FALSE(QFileInfo::exists(named));
}

TEST_F(CompactDBTest, DamagedCallFileIsKeptAsideAndTheCallsTheCopyLacksAreRecovered) {
    auto addCall = [&](const Database& db, int i) {
        testsupport::storeCall(db, {.calladdr = 5, .date = QStringLiteral("2026-06-15 08:%1:00").arg(i, 2, 10, QLatin1Char('0')),
                                    .secs = 60, .fee = platform::Currency::fromRaw(2000 + i)});
    };
    {
        Database db = Database::open(cur());
        for (int i = 0; i < 2; ++i) addCall(db, i);
        db.execute("insert into tab_errPh (f_calladdr, f_date) values (5, 'x')");
    }
    ASSERT_TRUE(QFile::copy(cur(), dir->file("PhoneCur.mdb.bak")));
    {
        // Stored since the copy was made, then the copy gets a table the file lacks.
        Database db = Database::open(cur());
        for (int i = 2; i < 5; ++i) addCall(db, i);
        db.execute("insert into tab_errPh (f_calladdr, f_date) values (6, 'y')");
        Database::open(dir->file("PhoneCur.mdb.bak")).execute("create table Extra (a INTEGER)");
    }
    testsupport::addOrphanPage(cur());   // damage only the check finds
    CompactDB("PhoneCur.mdb");
    Database db = Database::open(cur());
    EXPECT_TRUE(db.hasTable("Extra"));
    EXPECT_EQ(db.rowCount("Tab_Phone"), 5);
    EXPECT_EQ(db.scalar("select count(distinct f_date) from Tab_Phone").toInt(), 5);
    EXPECT_EQ(db.scalar("select f_moneny from Tab_Phone where f_date='2026-06-15 08:04:00'").toInt(), 2004);
    EXPECT_EQ(db.rowCount("tab_errPh"), 2);
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(platform::script::shown()[0].text.contains("从损坏的文件中找回3张话单。"));
    EXPECT_EQ(QDir(dir->dataPath()).entryList({"PhoneCur.mdb.damaged-*"}).size(), 1);
}

TEST_F(CompactDBTest, TruncatedCallFileGivesBackWhatCanStillBeRead) {
    ASSERT_TRUE(QFile::copy(cur(), dir->file("PhoneCur.mdb.bak")));
    {
        Database db = Database::open(cur());
        testsupport::storeCalls(db, 2000, [](qint64 i) {
            return testsupport::CallRow{.calladdr = int(i), .date = "2026-06-15 09:00:00", .resp = QString(60, 'x')};
        });
    }
    QFile f(cur());
    ASSERT_TRUE(f.resize(f.size() * 2 / 3));
    CompactDB("PhoneCur.mdb");
    Database db = Database::open(cur());
    EXPECT_TRUE(db.quickCheck());
    const qint64 n = db.rowCount("Tab_Phone");
    EXPECT_GT(n, 0);
    EXPECT_LT(n, 2000);
    EXPECT_EQ(db.scalar("select count(distinct f_calladdr) from Tab_Phone").toLongLong(), n);
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(platform::script::shown()[0].text.contains(QStringLiteral("找回%1张话单").arg(n)));
}

TEST_F(CompactDBTest, AMarkThatCannotBeWrittenMovesNothingAndOneLeftEmptyMeansMoved) {
    ASSERT_TRUE(QFile::copy(cur(), cur() + ".bak"));
    storeCallsFrom(cur(), 0, 7);
    Database::open(cur()).execute("drop table tab_errPh");   // damaged: a table of the call file is gone
    const QByteArray damaged = bytesOf(cur());
    // The disk is full: the mark cannot be written, so nothing is moved.
    platform::testing::setFaultHook([](const QString& op, const QString& path) {
        return op == "write" && path.endsWith(".pending-restore") ? ENOSPC : 0;
    });
    platform::script::answer("磁盘已满", platform::rOK);
    EXPECT_THROW(CompactDB("PhoneCur.mdb"), platform::ProgramEnded);
    platform::testing::setFaultHook(nullptr);
    EXPECT_EQ(bytesOf(cur()), damaged);
    EXPECT_FALSE(QFileInfo::exists(cur() + ".pending-restore"));
    EXPECT_TRUE(QDir(dir->dataPath()).entryList({"PhoneCur.mdb.damaged-*"}).isEmpty());

    // A mark left empty beside a file already moved aside stands for "moved":
    // the restore is completed and the calls come back from the aside file.
    const QString aside = cur() + ".damaged-20260615-090000";
    ASSERT_TRUE(QFile::rename(cur(), aside));
    writeBytes(cur() + ".pending-restore", QByteArray());
    platform::script::answer("已损坏", platform::rOK);
    CompactDB("PhoneCur.mdb");
    EXPECT_EQ(Database::open(cur()).rowCount("Tab_Phone"), 7);
    EXPECT_FALSE(QFileInfo::exists(cur() + ".pending-restore"));
    ASSERT_EQ(platform::script::shown().size(), 2);
    EXPECT_TRUE(holds(box(1), "从损坏的文件中找回7张话单。"));
}

TEST_F(CompactDBTest, ACallFileWithAZeroedHeaderGivesBackItsCallsAndItsLog) {
    ASSERT_TRUE(QFile::copy(cur(), cur() + ".bak"));
    QByteArray image, wal;
    {
        Database db = Database::open(cur());
        db.execute("PRAGMA journal_mode=WAL");
        storeCallsFrom(cur(), 0, 6);
        // Half of them still in the write-ahead log when the power went.
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)");
        db.execute("PRAGMA wal_autocheckpoint=0");
        image = bytesOf(cur());
        storeCallsFrom(cur(), 6, 12);
        wal = bytesOf(cur() + "-wal");
    }
    // The file as the cut left it, its header zeroed, and its log.
    image.replace(0, 100, QByteArray(100, '\0'));
    writeBytes(cur(), image);
    writeBytes(cur() + "-wal", wal);
    QFile::remove(cur() + "-shm");
    CompactDB("PhoneCur.mdb");
    EXPECT_EQ(Database::open(cur()).rowCount("Tab_Phone"), 12);
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(holds(box(0), "从损坏的文件中找回12张话单。"));
}

// A header is judged by what its file holds: the call file garbled where
// all but its header still reads (a page size of another kind, a text
// encoding the station cannot attach it with, a schema format), or where
// nothing of it reads, is put back from its copy with the calls since that
// it still holds, or the operator told that they could not be read.
TEST_F(CompactDBTest, AGarbledCallFileIsPutBackWithTheCallsItStillHolds) {
    const struct {
        const char* what;
        std::function<void()> garble;
        qint64 calls;
        const char* said;
    } garbles[] = {
        {"1 KB pages", [&] { setHeaderBytes(cur(), 16, QByteArray("\x04\x00", 2)); }, 18, "从损坏的文件中找回15张话单。"},
        {"8 KB pages", [&] { setHeaderBytes(cur(), 16, QByteArray("\x20\x00", 2)); }, 18, "从损坏的文件中找回15张话单。"},
        // Read alone the file opens and passes every check; attached to the
        // station file it cannot be opened.
        {"UTF-16be", [&] { setHeaderBytes(cur(), 56, QByteArray("\x00\x00\x00\x04", 4)); }, 18, "从损坏的文件中找回15张话单。"},
        // A schema format of no version the engine knows.
        {"schema format 7", [&] { setHeaderBytes(cur(), 47, QByteArray(1, '\x07')); }, 18, "从损坏的文件中找回15张话单。"},
        // No page of it is a page of the copy's size.
        {"nothing reads", [&] { writeBytes(cur(), bytesOf(cur()).left(100) + QByteArray(1000, 'x')); }, 3,
         "备份之后存储的话单可能未能全部找回"}};
    for (const auto& [what, garble, calls, said] : garbles) {
        SCOPED_TRACE(what);
        callsAroundACopy(3, 15);
        ASSERT_EQ(bytesOf(cur()).mid(16, 2), QByteArray("\x10\x00", 2));   // compacted to 4 KB pages
        garble();
        const qsizetype before = platform::script::shown().size();
        CompactDB("PhoneCur.mdb");
        ASSERT_EQ(platform::script::shown().size(), before + 1);
        EXPECT_TRUE(holds(box(int(before)), said));
        for (const QString& f : {cur(), cur() + ".bak"}) EXPECT_EQ(bytesOf(f).mid(56, 4), QByteArray("\x00\x00\x00\x01", 4));
        QString failure;
        ASSERT_TRUE(OpenStationFiles(&failure)) << failure.toStdString();
        EXPECT_EQ(dbPhoneCur.rowCount("Tab_Phone"), calls);
        OpenAllDB(false);
        Database::open(cur()).execute("delete from Tab_Phone");
    }
}

// A sound file whose compaction or copy failed is kept; the box says how
// old its copy is, and names the trouble by its cause (a lock held by
// another program, not a full disk), the advice following the cause.
TEST_F(CompactDBTest, ACopyNotRenewedKeepsTheSoundFileAndSaysHowOldAndWhy) {
    makeBak();   // an older copy
    const QDateTime copied = QFileInfo(bak()).lastModified();
    addSpaceToGiveBack();
    markCurrent();
    ASSERT_TRUE(QDir().mkpath(dir->file("Tmp.mdb")));   // the work file cannot be written
    platform::script::answer("安全备份未能更新", platform::rOK);
    CompactDB("Switch.mdb");
    EXPECT_TRUE(currentKept());
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(holds(box(0), copied.toString("yyyy-MM-dd HH:mm:ss")));
    ASSERT_TRUE(QDir().rmdir(dir->file("Tmp.mdb")));
    Database other = Database::open(sw());
    other.execute("BEGIN IMMEDIATE");   // another program in the middle of a write
    platform::script::answer("安全备份未能更新", platform::rOK);
    CompactDB("Switch.mdb");
    other.execute("ROLLBACK");
    EXPECT_TRUE(currentKept());
    ASSERT_EQ(platform::script::shown().size(), 2);
    EXPECT_TRUE(holdsAll(box(1), {"文件被其他程序占用", "请关闭正在使用该文件的其他程序", copied.toString("yyyy-MM-dd HH:mm:ss")}));
    EXPECT_TRUE(lacks(box(1), "磁盘空间"));
}

// The copy of the safety copy beside the damaged file refused: for want of
// space the full disk is named; for another reason (no right to write it, a
// read-only disk) that cause, with the advice it needs, never the disk's
// space. The next start that can write completes the restore.
TEST_F(CompactDBTest, AWorkFileCopyRefusedIsNamedByItsCause) {
    makeBak();
    Database::open(sw()).execute("drop table Worker");   // damaged: a table is gone
    const struct {
        int error;
        QStringList said, unsaid;
    } refusals[] = {{ENOSPC, {"磁盘已满", "请尽快检查磁盘空间"}, {}},
                    {EACCES, {"没有写入权限", "写入权限"}, {"磁盘空间", "磁盘已满"}},
                    {EROFS, {"磁盘为只读", "写入权限"}, {"磁盘空间", "磁盘已满"}}};
    qsizetype boxes = 0;
    for (const auto& [error, said, unsaid] : refusals) {
        SCOPED_TRACE(said.first().toStdString());
        platform::testing::setFaultHook([error](const QString& op, const QString& path) {
            return op == "write" && path.endsWith(".recovered") ? error : 0;
        });
        platform::script::answer("恢复数据库失败!", platform::rOK);
        EXPECT_THROW(CompactDB("Switch.mdb"), platform::ProgramEnded);
        platform::testing::setFaultHook(nullptr);
        ASSERT_EQ(platform::script::shown().size(), ++boxes);
        EXPECT_TRUE(holdsAll(box(boxes - 1), said));
        EXPECT_TRUE(lacksAll(box(boxes - 1), unsaid));
        EXPECT_TRUE(QFileInfo::exists(sw() + ".pending-restore"));
    }
    CompactDB("Switch.mdb");
    EXPECT_FALSE(QFileInfo::exists(sw() + ".pending-restore"));
    EXPECT_EQ(Database::open(sw()).scalar("select count(*) from sqlite_master where lower(name)='worker'").toInt(), 1);
}

// The copy is checked when it is taken, and its check remembered: a start
// does not check it again while it stays as it was, and checks it once it changed.
TEST_F(CompactDBTest, TheCopysCheckIsRememberedUntilTheCopyChanges) {
    CompactDB("Switch.mdb");
    ASSERT_TRUE(QFileInfo::exists(bak() + ".checked"));
    watchChecks();
    markCurrent();   // the file changed since its copy: checked in full
    CompactDB("Switch.mdb");
    EXPECT_EQ(checks, QStringList{"switch.mdb"});
    // The copy changed behind the note (damaged where only the full check
    // looks): no measure of the file, which is checked whole, and replaced.
    checks.clear();
    breakAnIndex(bak());
    CompactDB("Switch.mdb");
    EXPECT_EQ(checks, QStringList{"switch.mdb"});
    EXPECT_EQ(bytesOf(bak()), bytesOf(sw()));
}

// The call file's copy is taken while the file is checked. It holds what
// the file holds, its log too (a station killed with calls only there), and
// goes in only once the file passed its check.
class CallFileCopyTest : public CompactDBTest {
protected:
    QString curBak() const { return dir->file("PhoneCur.mdb.bak"); }
    void SetUp() override {
        CompactDBTest::SetUp();
        Database db = Database::open(cur());
        testsupport::storeCalls(db, 500, [](qint64 i) {
            return testsupport::CallRow{.calladdr = int(100 + i % 50), .date = QStringLiteral("2026-06-15 09:00:00")};
        });
    }
    // A file with nothing to give back is copied as it stands.
    void expectNothingToGiveBack() {
        Database db = Database::open(cur());
        ASSERT_LT(db.scalar("PRAGMA freelist_count").toLongLong() * 8, db.scalar("PRAGMA page_count").toLongLong());
    }
    qint64 callsIn(const QString& file) { return Database::openReadOnly(file).rowCount("Tab_Phone"); }
};

TEST_F(CallFileCopyTest, TheCopyHoldsTheCallsOnlyInTheFilesLogStandsAloneAndIsRememberedChecked) {
    expectNothingToGiveBack();
    {
        // Killed with its last calls in the log: the file and its log as the kill left them.
        Database db = Database::open(cur());
        db.execute("PRAGMA journal_mode=WAL");
        db.execute("PRAGMA wal_autocheckpoint=0");
        testsupport::storeCalls(db, 20, [](qint64 i) {
            return testsupport::CallRow{.calladdr = int(7 + i), .date = QStringLiteral("2026-06-15 10:00:00")};
        });
        for (const char* side : {"", "-wal"}) ASSERT_TRUE(QFile::copy(cur() + side, dir->file("killed") + side));
    }
    for (const char* side : {"", "-wal"}) {
        QFile::remove(cur() + side);
        ASSERT_TRUE(QFile::rename(dir->file("killed") + side, cur() + side));
    }
    ASSERT_GT(QFileInfo(cur() + "-wal").size(), 0);
    CompactDB("PhoneCur.mdb");
    EXPECT_TRUE(platform::script::shown().isEmpty());
    EXPECT_EQ(callsIn(cur()), 520);
    EXPECT_EQ(callsIn(curBak()), 520);
    EXPECT_EQ(bytesOf(curBak()).mid(18, 2), QByteArray("\x01\x01", 2));
    EXPECT_FALSE(QFileInfo::exists(curBak() + ".taking"));
    // The next start checks neither in full: the copy, checked as it
    // stands, holds the file's pages (its log included) and vouches for them.
    watchChecks();
    CompactDB("PhoneCur.mdb");
    EXPECT_TRUE(checks.isEmpty()) << checks.join(' ').toStdString();
    // Once a call was stored since, the file is checked in full where it
    // differs from the copy (ChangedPages_test): the whole file's check
    // is not run again.
    testsupport::storeCalls(Database::open(cur()), 1, [](qint64) {
        return testsupport::CallRow{.calladdr = 7, .date = QStringLiteral("2026-06-15 11:00:00")};
    });
    CompactDB("PhoneCur.mdb");
    EXPECT_TRUE(checks.isEmpty()) << checks.join(' ').toStdString();
    EXPECT_EQ(callsIn(curBak()), 521);
}

// A data directory copied whole with its times (the files under other
// inodes): the copy still vouches for the file's pages, and neither is
// checked in full again for where it now lies. One byte of a row changed
// where only the full check looks (a date its index no longer matches) is
// no longer the copy's pages: the file is checked in full, found damaged
// and put back from the copy, the copy taken beside the check thrown away.
TEST_F(CallFileCopyTest, ACopiedDirectoryIsNotCheckedAgainForItsInodesAndAChangedRowIsStillFound) {
    expectNothingToGiveBack();
    CompactDB("PhoneCur.mdb");
    ASSERT_TRUE(QFileInfo::exists(curBak() + ".checked"));
    const QByteArray copy = bytesOf(curBak());
    testsupport::copyDataDirKeepingTimes(dir->dataPath());
    if (HasFatalFailure()) return;
    watchChecks();
    CompactDB("PhoneCur.mdb");
    EXPECT_TRUE(checks.isEmpty()) << checks.join(' ').toStdString();
    EXPECT_TRUE(platform::script::shown().isEmpty());
    EXPECT_EQ(bytesOf(curBak()), copy);

    // The right-most leaf of the calls' table: one call's date changed in it.
    qint64 page = 0, leaf = 0;
    {
        Database f = Database::openReadOnly(cur());
        page = f.scalar("PRAGMA page_size").toLongLong();
        leaf = f.scalar("SELECT rootpage FROM sqlite_master WHERE name='Tab_Phone'").toLongLong();
    }
    QByteArray bytes = bytesOf(cur());
    while (quint8(bytes[(leaf - 1) * page]) == 0x05) {
        const qint64 at = (leaf - 1) * page + 8;
        leaf = qint64(quint8(bytes[at])) << 24 | quint8(bytes[at + 1]) << 16 | quint8(bytes[at + 2]) << 8 | quint8(bytes[at + 3]);
    }
    ASSERT_EQ(quint8(bytes[(leaf - 1) * page]), 0x0d);
    const qint64 date = bytes.indexOf("2026-06-15 09:00:00", (leaf - 1) * page);
    ASSERT_GT(date, 0);
    ASSERT_LT(date, leaf * page);
    bytes[date + 18] = '1';
    writeBytes(cur(), bytes);
    ASSERT_TRUE(Database::open(cur()).quickCheck());
    ASSERT_FALSE(Database::open(cur()).integrityCheck());
    expectNothingToGiveBack();   // its copy is taken beside the check, and never goes in
    checks.clear();
    CompactDB("PhoneCur.mdb");
    ASSERT_FALSE(checks.isEmpty());
    EXPECT_EQ(checks.first(), "PhoneCur.mdb");
    EXPECT_EQ(QDir(dir->dataPath()).entryList({"PhoneCur.mdb.damaged-*"}).size(), 1);
    EXPECT_TRUE(Database::open(cur()).integrityCheck());
    EXPECT_GE(callsIn(cur()), 500);
    EXPECT_EQ(bytesOf(curBak()), copy);
    EXPECT_FALSE(QFileInfo::exists(curBak() + ".taking"));
}

TEST_F(CallFileCopyTest, ACopyThatCannotBeTakenBesideTheCheckIsTakenAfterIt) {
    expectNothingToGiveBack();
    ASSERT_TRUE(QDir().mkpath(curBak() + ".taking"));
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), curBak() + ".taking/x"));
    CompactDB("PhoneCur.mdb");
    EXPECT_TRUE(platform::script::shown().isEmpty());
    EXPECT_EQ(callsIn(curBak()), 500);
    EXPECT_TRUE(QFileInfo::exists(curBak() + ".checked"));
}
