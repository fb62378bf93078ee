#include "core/books/ChangedPages.h"
#include "core/books/SafetyCopies.h"
#include "platform/Db.h"
#include "platform/Prompts.h"
#include "support/CallRows.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    void damagedAndCaught(quint8 kind, const char* day, bool differs) {
        damageDate(kind, day, differs);
        if (HasFatalFailure()) return;
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

TEST_F(ChangedPagesTest, AStoredCallWhoseRowNoLongerMatchesItsIndexIsFound) {
    damagedAndCaught(0x0d, "2026-06-16", true);
}

TEST_F(ChangedPagesTest, AnIndexEntryOfAStoredCallThatNoLongerMatchesItsRowIsFound) {
    damagedAndCaught(0x0a, "2026-06-16", true);
}

// A page the session never wrote, damaged since the copy: it differs from
// the copy, so it is checked with the rest of what changed.
TEST_F(ChangedPagesTest, AnOlderRowDamagedSinceTheCopyIsFound) {
    damagedAndCaught(0x0d, "2026-06-15", false);
}

TEST_F(ChangedPagesTest, AnOlderIndexEntryDamagedSinceTheCopyIsFound) {
    damagedAndCaught(0x0a, "2026-06-15", false);
}

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
