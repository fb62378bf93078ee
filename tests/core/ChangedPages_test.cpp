#include "core/books/ChangedPages.h"
#include "core/books/SafetyCopies.h"
#include "platform/Db.h"
#include "platform/Prompts.h"
#include "support/CallRows.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <random>

using namespace ModSwitch;
using platform::Database;

namespace {
using testsupport::bytesOf;
using testsupport::writeBytes;
testsupport::CallRow callOn(const char* day, qint64 i) {
    return testsupport::CallRow{.calladdr = int(100 + i % 50),
                                .date = QStringLiteral("%1 %2:%3:%4").arg(day).arg(8 + i / 3600 % 12, 2, 10, QChar('0'))
                                            .arg(i / 60 % 60, 2, 10, QChar('0')).arg(i % 60, 2, 10, QChar('0')),
                                .userid = 1 + i % 7};
}
// The files the full check reads while it lives, by name.
struct ChecksSeen {
    ChecksSeen() {
        platform::testing::setIntegrityCheckHook([this](const QString& path) { files << QFileInfo(path).fileName(); });
    }
    ~ChecksSeen() { platform::testing::setIntegrityCheckHook(nullptr); }
    ChecksSeen(const ChecksSeen&) = delete;
    ChecksSeen& operator=(const ChecksSeen&) = delete;
    QStringList files;
};
}  // namespace

// A call file after a session: its copy taken and checked in full at the
// last start, some calls stored since. The start checks the file in full
// where it differs from that copy, and nowhere else needs to.
class ChangedPagesTest : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        for (int i = 0; i < 6; ++i) platform::script::answer("已损坏", platform::rOK);
        testsupport::storeCalls(Database::open(cur()), 20000, [](qint64 i) { return callOn("2026-06-15", i); });
        CompactDB("PhoneCur.mdb");
        ASSERT_TRUE(QFileInfo::exists(curBak() + ".checked"));
        ASSERT_TRUE(platform::script::shown().isEmpty());
        testsupport::storeCalls(Database::open(cur()), 100, [](qint64 i) { return callOn("2026-06-16", i); });
        ASSERT_FALSE(QFileInfo::exists(cur() + "-wal") && QFileInfo(cur() + "-wal").size() > 0);
    }
    QString cur() const { return dir->file("PhoneCur.mdb"); }
    QString curBak() const { return dir->file("PhoneCur.mdb.bak"); }
    bool holds() {
        Database db = Database::open(cur());
        return ChangesHoldAgainstCopy(db, cur(), curBak());
    }
    // The offset of `text` on a page of kind `kind` that differs from the
    // copy's (`differs`) or stands as in the copy; -1 when there is none.
    qint64 findOnPage(quint8 kind, const QByteArray& text, bool differs) {
        const QByteArray f = bytesOf(cur()), c = bytesOf(curBak());
        const qint64 page = Database::openReadOnly(cur()).scalar("PRAGMA page_size").toLongLong();
        for (qint64 at = page; at + page <= f.size(); at += page) {
            const bool same = at + page <= c.size() && f.mid(at, page) == c.mid(at, page);
            if (quint8(f[at]) != kind || same == differs) continue;
            const qint64 hit = f.indexOf(text, at);
            if (hit > 0 && hit + text.size() <= at + page) return hit;
        }
        return -1;
    }
    // One character of a date on such a page changed: the row and its index
    // entries no longer agree, which only the full check reads.
    void damageDate(quint8 kind, const char* day, bool differs, const char* time = " 08:00:1") {
        const qint64 at = findOnPage(kind, QByteArray(day) + time, differs);
        ASSERT_GT(at, 0);
        QByteArray f = bytesOf(cur());
        f[at + 18] = f[at + 18] == '7' ? '8' : '7';
        writeBytes(cur(), f);
        ASSERT_TRUE(Database::open(cur()).quickCheck());
        ASSERT_FALSE(Database::open(cur()).integrityCheck());
    }
    // Found by the check of what changed, and put back from the copy at the start.
    void expectCaught() {
        EXPECT_FALSE(holds());
        CompactDB("PhoneCur.mdb");
        EXPECT_EQ(QDir(dir->dataPath()).entryList({"PhoneCur.mdb.damaged-*"}).size(), 1);
        EXPECT_TRUE(Database::open(cur()).integrityCheck());
        EXPECT_GE(Database::openReadOnly(cur()).rowCount("Tab_Phone"), 20000);
    }
    // The file not compacted since its copy, one call stored since: few
    // pages differ, none of the first calls' of the day before.
    void oneCallSinceAnUncompactedCopy() {
        CompactDB("PhoneCur.mdb");
        testsupport::storeCalls(Database::open(cur()), 1, [](qint64 i) { return callOn("2026-06-17", i + 25); });
    }
    qint64 pageSize() { return Database::openReadOnly(cur()).scalar("PRAGMA page_size").toLongLong(); }
    qint64 rootOf(const char* tree) {
        return Database::openReadOnly(cur()).scalar("SELECT rootpage FROM sqlite_master WHERE name=?", {tree}).toLongLong();
    }
    // The file passes the quick check, not the full one, and is caught.
    void expectOnlyTheFullCheckFinds() {
        ASSERT_TRUE(Database::open(cur()).quickCheck());
        ASSERT_FALSE(Database::open(cur()).integrityCheck());
        expectCaught();
    }
};

TEST_F(ChangedPagesTest, CallsStoredSinceTheCopyAreCheckedWhereTheyChangedNotInTheWholeFile) {
    EXPECT_TRUE(holds());
    EXPECT_TRUE(IndexesMatchTheirTables(Database::open(cur()), cur()));
    const ChecksSeen checks;
    CompactDB("PhoneCur.mdb");
    EXPECT_TRUE(checks.files.isEmpty()) << checks.files.join(' ').toStdString();
    EXPECT_TRUE(platform::script::shown().isEmpty());
    // The copy taken of it now stands for it, checked.
    EXPECT_EQ(Database::openReadOnly(curBak()).rowCount("Tab_Phone"), 20100);
    EXPECT_TRUE(Database::openReadOnly(curBak()).integrityCheck());
    EXPECT_TRUE(holds());
}

// A row (0x0d) or an index entry (0x0a) of a call stored since the copy, or
// of an older one on a page the session never wrote, damaged since the copy:
// that page differs from the copy, so it is checked with the rest of what changed.
struct DamagedDate {
    quint8 kind;
    const char* day;
    bool stored;   // a call stored since the copy, on a page that differs
};
class ChangedPageFound : public ChangedPagesTest, public ::testing::WithParamInterface<DamagedDate> {};

TEST_P(ChangedPageFound, WhereTheRowAndItsIndexNoLongerMatch) {
    ASSERT_NO_FATAL_FAILURE(damageDate(GetParam().kind, GetParam().day, GetParam().stored));
    expectCaught();
}

INSTANTIATE_TEST_SUITE_P(StoredOrOlder, ChangedPageFound,
                         ::testing::Values(DamagedDate{0x0d, "2026-06-16", true}, DamagedDate{0x0a, "2026-06-16", true},
                                           DamagedDate{0x0d, "2026-06-15", false}, DamagedDate{0x0a, "2026-06-15", false}));

// Where the question cannot be bounded to the pages that differ, the whole
// file is checked: another schema, a copy whose check is not known.
TEST_F(ChangedPagesTest, AnotherSchemaOrAnUncheckedCopyLeavesTheWholeCheck) {
    Database::open(cur()).execute("create index ix_probe on Tab_Phone(f_memo)");
    EXPECT_FALSE(holds());
    ChecksSeen checks;
    CompactDB("PhoneCur.mdb");
    EXPECT_EQ(checks.files, QStringList{"PhoneCur.mdb"});
    // One call more, the copy's note gone: the whole file again.
    testsupport::storeCalls(Database::open(cur()), 1, [](qint64 i) { return callOn("2026-06-17", i); });
    ASSERT_TRUE(QFile::remove(curBak() + ".checked"));
    checks.files.clear();
    CompactDB("PhoneCur.mdb");
    EXPECT_EQ(checks.files.value(0), "PhoneCur.mdb");
    EXPECT_TRUE(platform::script::shown().isEmpty());
}

// The first page above the leaves of the calls' index with its first two
// leaves changed places (the dividers stay): both leaves are the copy's and
// hold no call stored since, yet a search for a call on either goes the wrong way.
TEST_F(ChangedPagesTest, AnIndexPageWhoseSubtreesChangedPlacesIsFound) {
    oneCallSinceAnUncompactedCopy();
    const qint64 ps = pageSize();
    QByteArray f = bytesOf(cur());
    qint64 at = (rootOf("Tab_Phone_call") - 1) * ps;
    auto cell = [&](int i) { return at + (quint8(f[at + 12 + 2 * i]) << 8 | quint8(f[at + 13 + 2 * i])); };
    auto child = [&](qint64 c) { return qint64(quint8(f[c]) << 24 | quint8(f[c + 1]) << 16 | quint8(f[c + 2]) << 8 | quint8(f[c + 3])); };
    ASSERT_EQ(quint8(f[at]), 0x02);
    while (quint8(f[(child(cell(0)) - 1) * ps]) == 0x02) at = (child(cell(0)) - 1) * ps;
    // The first child and the next: the second cell's, or the page's rightmost.
    const qint64 a = cell(0), b = (quint8(f[at + 3]) << 8 | quint8(f[at + 4])) > 1 ? cell(1) : at + 8;
    const QByteArray first = f.mid(a, 4);
    f.replace(a, 4, f.mid(b, 4));
    f.replace(b, 4, first);
    writeBytes(cur(), f);
    expectOnlyTheFullCheckFinds();
}

// The newest call gone from its table's last page (its space given back),
// its index entry still there: the index gained an entry its table did not.
TEST_F(ChangedPagesTest, AnIndexEntryWhoseRowIsGoneIsFound) {
    const qint64 ps = pageSize();
    QByteArray f = bytesOf(cur());
    qint64 page = rootOf("Tab_Phone");
    while (quint8(f[(page - 1) * ps]) == 0x05) {
        const qint64 at = (page - 1) * ps + 8;
        page = quint8(f[at]) << 24 | quint8(f[at + 1]) << 16 | quint8(f[at + 2]) << 8 | quint8(f[at + 3]);
    }
    const qint64 at = (page - 1) * ps;
    ASSERT_EQ(quint8(f[at]), 0x0d);
    auto be16 = [&](qint64 o) { return qint64(quint8(f[o]) << 8 | quint8(f[o + 1])); };
    const qint64 cells = be16(at + 3), last = at + be16(at + 8 + 2 * (cells - 1));
    ASSERT_EQ(last, at + be16(at + 5));   // the newest cell starts the page's content
    // Its size: the payload's length (one or two bytes), the rowid's varint, the payload.
    qint64 p = last, payload = 0, rowidBytes = 1;
    do payload = payload << 7 | (quint8(f[p]) & 0x7f); while (quint8(f[p++]) & 0x80);
    for (qint64 q = p; quint8(f[q]) & 0x80; ++q) ++rowidBytes;
    const qint64 end = p + rowidBytes + payload - at;
    f[at + 3] = char((cells - 1) >> 8);
    f[at + 4] = char(cells - 1);
    f[at + 5] = char(end >> 8);
    f[at + 6] = char(end);
    writeBytes(cur(), f);
    expectOnlyTheFullCheckFinds();
}

// A unique index whose key stands twice: one row's key changed to its
// neighbour's, in the row and in its entry alike.
TEST_F(ChangedPagesTest, AUniqueKeyHeldTwiceIsFound) {
    {
        Database db = Database::open(cur());
        db.execute("CREATE TABLE probe (k INTEGER, v TEXT)");
        db.execute("CREATE UNIQUE INDEX probe_k ON probe (k)");
        for (int i = 1; i < 100; ++i) db.execute("INSERT INTO probe VALUES (?, ?)", {i, QStringLiteral("probe-%1").arg(i, 6, 10, QChar('0'))});
    }
    CompactDB("PhoneCur.mdb");
    testsupport::storeCalls(Database::open(cur()), 10, [](qint64 i) { return callOn("2026-06-17", i); });
    QByteArray f = bytesOf(cur());
    const qint64 row = f.indexOf("probe-000006");
    ASSERT_EQ(f[row - 1], '\x06');
    f[row - 1] = '\x05';
    const qint64 entry = f.indexOf(QByteArray("\x03\x01\x01\x06\x06", 5));
    ASSERT_GT(entry, 0);
    f[entry + 3] = '\x05';
    writeBytes(cur(), f);
    expectOnlyTheFullCheckFinds();
}

// A copy whose check is not known vouches for nothing, even where it holds
// the file's pages: damage both share is found by the full check.
TEST_F(ChangedPagesTest, ACopyNeverCheckedWholeIsNoMeasure) {
    oneCallSinceAnUncompactedCopy();
    const qint64 ps = pageSize(), page = findOnPage(0x0d, "2026-06-15 13:20:1", false) / ps * ps;
    damageDate(0x0d, "2026-06-15", false, " 13:20:1");
    if (HasFatalFailure()) return;
    QByteArray c = bytesOf(curBak());
    c.replace(page, ps, bytesOf(cur()).mid(page, ps));
    writeBytes(curBak(), c);
    QString failure;
    EXPECT_FALSE(TryCompactDB("PhoneCur.mdb", &failure, nullptr));
    EXPECT_TRUE(QDir(dir->dataPath()).entryList({"PhoneCur.mdb.damaged-*"}).isEmpty());
}

// Damaged files, judged against the full check: none that it rejects is
// taken by the check of what changed since the copy (the copy itself sound).
class DamageCorpusTest : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        testsupport::storeCalls(Database::open(cur()), 3000, [](qint64 i) { return callOn("2026-06-15", i); });
        // Not compacted between the two last starts: the copy is the file's pages as they stood.
        CompactDB("PhoneCur.mdb");
        testsupport::storeCalls(Database::open(cur()), 60, [](qint64 i) { return callOn("2026-06-16", i * 37); });
        CompactDB("PhoneCur.mdb");
        testsupport::storeCalls(Database::open(cur()), 3, [](qint64 i) { return callOn("2026-06-17", i * 17); });
    }
    QString cur() const { return dir->file("PhoneCur.mdb"); }
};

TEST_F(DamageCorpusTest, NoFileTheFullCheckRejectsIsTaken) {
    const QByteArray file = bytesOf(cur()), copy = bytesOf(cur() + ".bak");
    const qint64 ps = Database::openReadOnly(cur()).scalar("PRAGMA page_size").toLongLong(), count = file.size() / ps;
    auto kindOf = [&](qint64 n) { return quint8(file[(n - 1) * ps + (n == 1 ? 100 : 0)]); };
    auto differs = [&](qint64 n) { return copy.mid((n - 1) * ps, ps) != file.mid((n - 1) * ps, ps); };
    auto be16 = [](const QByteArray& b, qint64 o) { return qint64(quint8(b[o]) << 8 | quint8(b[o + 1])); };
    std::mt19937 rng(62);
    auto pick = [&](qint64 n) { return qint64(rng() % quint32(n)); };
    QList<QPair<std::string, QByteArray>> corpus;
    auto add = [&](const std::string& what, qint64 page, const std::function<void(QByteArray&, qint64 at)>& change) {
        QByteArray b = file;
        change(b, (page - 1) * ps);
        corpus << qMakePair(what + " on page " + std::to_string(page), b);
    };
    for (qint64 n = 2; n <= count; ++n) {
        const quint8 kind = kindOf(n);
        // Bit flips in every kind of page, a few of each where the session wrote and where it did not.
        for (int k = 0; k < (differs(n) ? 3 : 1); ++k)
            add("bit flip", n, [&](QByteArray& b, qint64 at) { b[at + 8 + pick(ps - 8)] ^= char(1 << pick(8)); });
        // Two child pointers of an interior page swapped.
        if ((kind == 0x02 || kind == 0x05) && be16(file, (n - 1) * ps + 3) >= 1)
            add("children swapped", n, [&](QByteArray& b, qint64 at) {
                const qint64 cells = be16(b, at + 3), i = pick(cells);
                const qint64 x = at + be16(b, at + 12 + 2 * i), y = i + 1 < cells ? at + be16(b, at + 14 + 2 * i) : at + 8;
                const QByteArray t = b.mid(x, 4);
                b.replace(x, 4, b.mid(y, 4));
                b.replace(y, 4, t);
            });
        if (!differs(n)) continue;
        // A write torn halfway, and a write lost, on a page the session wrote.
        add("torn write", n, [&](QByteArray& b, qint64 at) {
            b.replace(at + ps / 2, ps / 2, at + ps <= copy.size() ? copy.mid(at + ps / 2, ps / 2) : QByteArray(ps / 2, '\0'));
        });
        add("lost write", n, [&](QByteArray& b, qint64 at) {
            b.replace(at, ps, at + ps <= copy.size() ? copy.mid(at, ps) : QByteArray(ps, '\0'));
        });
    }
    // Leaves moved between trees: two index leaves change places.
    std::vector<qint64> leaves;
    for (qint64 n = 2; n <= count; ++n)
        if (kindOf(n) == 0x0a) leaves.push_back(n);
    for (int k = 0; k < 20 && leaves.size() > 1; ++k) {
        const qint64 a = leaves[size_t(pick(qint64(leaves.size())))], c = leaves[size_t(pick(qint64(leaves.size())))];
        if (a == c) continue;
        add("leaf moved from page " + std::to_string(c), a, [&](QByteArray& b, qint64 at) {
            const QByteArray t = b.mid(at, ps);
            b.replace(at, ps, b.mid((c - 1) * ps, ps));
            b.replace((c - 1) * ps, ps, t);
        });
    }
    const QString work = dir->file("corpus.mdb");
    int rejected = 0;
    for (const auto& [what, bytes] : corpus) {
        for (const char* side : {"", "-wal", "-shm", "-journal"}) QFile::remove(work + side);
        writeBytes(work, bytes);
        Database db = Database::open(work);
        if (!db.quickCheck() || db.integrityCheck()) continue;   // the quick check rejects it, or it is sound
        ++rejected;
        EXPECT_FALSE(ChangesHoldAgainstCopy(db, work, cur() + ".bak")) << what;
        EXPECT_FALSE(IndexesMatchTheirTables(db, work)) << what;
    }
    EXPECT_GT(rejected, 20);
}
