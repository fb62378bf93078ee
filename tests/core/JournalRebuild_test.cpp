// The journal file "ChargeLog.mdb" made again at an opening (one damaged set
// aside, or one gone), while the disk refuses once: the n-th write, then the
// n-th sync, of the new journal file and of the call file; and killed at
// each of the rebuild's own steps and while its box is up. After each run and
// the opening after it: every settled entry is in a file the station reads
// (or, for a file gone, named lost), none twice, the balance as the calls
// made it, failure said exactly when the file was not made again, and the
// rebuild's box shown once; a box that says a file cannot be written names
// the one that refused.
#include "support/Fixtures.h"
#include "support/Holds.h"
#include "support/PricingFixture.h"
#include "support/RefusalWalk.h"

#include "core/books/ChargeLog.h"
#include "core/books/CopyRecovery.h"
#include "core/StationFiles.h"
#include "core/books/WriteAhead.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace pricingtest;
using platform::Database;
namespace refusal = testsupport::refusal;

namespace {

enum class Loss { Damaged, Gone };

class JournalRebuild : public BooksTest, public ::testing::WithParamInterface<Loss> {
protected:
    void SetUp() override {
        BooksTest::SetUp();
        // Settled entries in the journal file alone: three calls, moved
        // after ten days, and a start more (the copies no longer hold them).
        for (int m = 1; m <= 3; ++m) ASSERT_TRUE(callAt(m));
        ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));
        settled = inFile(journalPath());
        ASSERT_GE(settled.size(), 2);   // the log keeps its last entry
        everything = read(false);
        balance = remainOf(7);
        ASSERT_LT(balance, yuan("100"));
    }
    void TearDown() override {
        refusal::disarm();
        ModSwitch::testing::setRestoreStepHook(nullptr);
        platform::script::whileShown(nullptr);
        BooksTest::TearDown();
    }

    QString journalPath() { return dir->file(ModSwitch::kJournalFile); }
    // The files open again as an opening has them before the journal's check.
    void openBeforeTheCheck() {
        openDatabases();
        ModSwitch::OpenRecordsets();
        ModSwitch::SettleAtOpening();
    }
    // The entries a file holds, by number: "kind user amount balance".
    QMap<qint64, QString> inFile(const QString& path, const QString& table = QStringLiteral("tab_chargelog")) {
        QMap<qint64, QString> out;
        if (!QFileInfo::exists(path)) return out;
        try {
            const Database db = Database::openReadOnly(path);
            if (db.actualTableName(table).isEmpty()) return out;
            for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_seq, f_kind, f_userid, f_amount, f_balance FROM %1").arg(table));
                 r.next();)
                out.insert(r.integer(0),
                           QStringLiteral("%1 %2 %3 %4").arg(r.integer(1)).arg(r.integer(2)).arg(r.integer(3)).arg(r.integer(4)));
        } catch (const platform::DbError&) {
        }
        return out;
    }
    static QStringList shown(const QMap<qint64, QString>& entries) {
        QStringList out;
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) out << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
        return out;
    }
    // The set-aside journal files the next opening still reads back.
    QStringList asidesUnread() {
        QStringList out;
        const Database cur = Database::openReadOnly(dir->file("PhoneCur.mdb"));
        for (const QString& name : QDir(dir->dataPath()).entryList({"ChargeLog.mdb.damaged-*"}, QDir::Files)) {
            if (name.endsWith("-journal")) continue;
            if (cur.scalar("SELECT value FROM tab_notes WHERE varname=?", {"TarvoJournalAsideRead:" + name}).isNull())
                out << dir->file(name);
        }
        return out;
    }
    // Every settled entry the station reads, whichever of its files holds it;
    // each number must read the same wherever it is.
    QMap<qint64, QString> read(bool withAsides) {
        QList<QMap<qint64, QString>> parts{inFile(journalPath()), inFile(dir->file("PhoneCur.mdb")),
                                           inFile(dir->file("switch.mdb"), "tab_chargemirror")};
        if (withAsides)
            for (const QString& a : asidesUnread()) parts << inFile(a);
        QMap<qint64, QString> all;
        for (const auto& part : parts)
            for (auto it = part.constBegin(); it != part.constEnd(); ++it) {
                if (all.contains(it.key())) {
                    EXPECT_EQ(all.value(it.key()), it.value()) << "entry " << it.key() << " read two ways";
                }
                all.insert(it.key(), it.value());
            }
        return all;
    }
    // The journal file made unusable for the next opening, the files open
    // again as an opening has them before the journal's check.
    void lose() {
        ModSwitch::OpenAllDB(false);
        if (GetParam() == Loss::Gone) { ASSERT_TRUE(QFile::remove(journalPath())); }
        else writeClosed(ModSwitch::kJournalFile, 18, QByteArray(1, '\x03'));   // a write version the engine only reads with
        openBeforeTheCheck();
    }
    // The journal's part of an opening; true when it went through without an error.
    bool prepare() {
        try {
            ModSwitch::PrepareChargeLog();
            return true;
        } catch (const platform::DbError&) {
            return false;
        }
    }
    // The boxes a run may show, all answered.
    static QList<QPair<QString, int>> anyBoxes() { return {{"", platform::rOK}, {"", platform::rOK}, {"", platform::rOK}}; }
    // `boxes` and those of the two openings after them, every box answered.
    QStringList andTwoOpenings(QStringList boxes) {
        for (int k = 0; k < 2; ++k) {
            const refusal::MaybeBoxes next(anyBoxes());
            restart();
            boxes << next.shown();
        }
        boxes.removeAll("(未用的回答)");
        return boxes;
    }
    static int told(const QStringList& boxes, const QString& part) {
        int n = 0;
        for (const QString& b : boxes) n += b.contains(part) ? 1 : 0;
        return n;
    }

    // The journal file's reports the call file keeps unread.
    int reportsKept() {
        int n = 0;
        for (const auto& r : ModSwitch::PendingWriteAhead(Database::openReadOnly(dir->file("PhoneCur.mdb")), ModSwitch::kReportKind))
            n += r.key.startsWith("journal:") ? 1 : 0;
        return n;
    }
    // Whether the journal file stands made again: there, holding what the
    // call file's notes say it holds (a set-aside file not yet noted read is
    // read again by the next opening, which finds nothing it lacks).
    bool madeAgain() {
        if (!QFileInfo::exists(journalPath())) return false;
        const QMap<qint64, QString> held = inFile(journalPath());
        if (GetParam() == Loss::Damaged && held != settled) return false;
        const QVariant last = Database::openReadOnly(dir->file("PhoneCur.mdb"))
                                  .scalar("SELECT value FROM tab_notes WHERE varname='TarvoJournalLast'");
        if (last.isNull() || last.toString().isEmpty()) return held.isEmpty();
        return !held.isEmpty() && held.lastKey() >= last.toLongLong();
    }

    // After a run whose boxes were `boxes` (`through` false when the opening
    // broke off, `killed` when a kill ended it): checked as it stands, then
    // over the next two openings.
    void check(const QStringList& boxes, bool through, bool killed = false) {
        const QString made = QStringLiteral("已重新建立该文件，");
        const QString lost = QStringLiteral("无法找回");
        // Nothing settled is out of the station's reach, even before the next opening.
        if (GetParam() == Loss::Damaged) {
            const QMap<qint64, QString> now = read(true);
            for (auto it = settled.constBegin(); it != settled.constEnd(); ++it)
                EXPECT_EQ(now.value(it.key()), it.value()) << "entry " << it.key() << " out of reach\n"
                                                           << boxes.join('\n').toStdString();
        }
        if (!killed) {
            // Said done exactly when it was; said failed otherwise (by a box, or by the opening broken off).
            const bool done = madeAgain();
            EXPECT_EQ(told(boxes, made) > 0, done) << boxes.join('\n').toStdString();
            if (!done) {
                EXPECT_TRUE(!through || refusal::anyContains(boxes, "失败") || refusal::anyContains(boxes, "无法"))
                    << boxes.join('\n').toStdString();
            }
        }
        // A box whose report could not be settled after it was shown is shown
        // again rather than never.
        const bool keptAfterShown = told(boxes, made) > 0 && reportsKept() > 0;
        const QStringList all = andTwoOpenings(boxes);
        // Once, whenever it was made: at the run or at the opening after it.
        EXPECT_EQ(told(all, made), keptAfterShown ? 2 : 1) << all.join("\n----\n").toStdString();
        if (GetParam() == Loss::Damaged) {
            EXPECT_EQ(shown(read(false)), shown(everything)) << all.join('\n').toStdString();
            EXPECT_EQ(shown(inFile(journalPath())), shown(settled));
            EXPECT_EQ(told(all, lost), 0) << all.join('\n').toStdString();
        } else {
            // Nothing gives them back: each is named lost, once over the walk.
            namedLost += told(all, lost);
            EXPECT_LE(namedLost, 1) << all.join('\n').toStdString();
        }
        EXPECT_EQ(remainOf(7), balance);
        EXPECT_EQ(ModSwitch::BalanceOf(7), balance);
    }

    // The journal's part of an opening with every box answered, those it
    // showed in `boxes`; true when it went through without an error.
    bool prepareTold(QStringList& boxes) {
        const refusal::MaybeBoxes told(anyBoxes());
        const bool through = prepare();
        boxes = told.shown();
        boxes.removeAll("(未用的回答)");
        return through;
    }
    // That part of an opening after `setUp`, walked under every refusal of
    // each of `files` in turn; after each run, the boxes checked to name the
    // file refused, then `check(boxes, through)`. Returns the runs.
    int walkRefusals(const QStringList& files, const std::function<void()>& setUp,
                     const std::function<void(const QStringList&, bool)>& check) {
        QStringList boxes;
        bool through = false;
        int runs = 0;
        for (const QString& file : files)
            runs += refusal::walk([&](int) { return through = prepareTold(boxes); },
                                  [&](int, bool) {
                                      checkNamed(boxes, file);
                                      check(boxes, through);
                                  },
                                  {file}, [&](int) { setUp(); });
        return runs;
    }
    struct Killed {};
    // That part of an opening after `setUp`, killed at each step it reports
    // (found by a run that goes through, whose boxes `first` is given), then
    // while its box is up; after each, `check` with the boxes the operator read.
    void killAtEachStep(const std::function<void()>& setUp, const std::function<void(const QStringList&)>& check,
                        const std::function<void(const QStringList&)>& first = {}) {
        QStringList steps;
        ModSwitch::testing::setRestoreStepHook([&](const QString& step) { steps << step; });
        setUp();
        QStringList boxes;
        ASSERT_TRUE(prepareTold(boxes));
        ModSwitch::testing::setRestoreStepHook(nullptr);
        if (first) first(boxes);
        ASSERT_FALSE(steps.isEmpty());
        restart();
        for (int k = 0; k <= steps.size(); ++k) {
            SCOPED_TRACE(k < steps.size() ? "killed at " + steps[k].toStdString() : std::string("killed while the box is up"));
            setUp();
            int reached = 0;
            if (k < steps.size())
                ModSwitch::testing::setRestoreStepHook([&](const QString&) {
                    if (reached++ == k) throw Killed{};
                });
            else
                platform::script::whileShown([](const QString& text) {
                    if (text.contains(ModSwitch::kJournalFile)) throw Killed{};
                });
            {
                const refusal::MaybeBoxes told(anyBoxes());
                EXPECT_THROW(prepare(), Killed);
                boxes = told.shown();
            }
            ModSwitch::testing::setRestoreStepHook(nullptr);
            platform::script::whileShown(nullptr);
            // What the operator saw of a box the kill took down does not count as read.
            if (k == steps.size()) boxes.clear();
            boxes.removeAll("(未用的回答)");
            check(boxes);
        }
    }
    // A box that says a file cannot be written names the one that refused
    // (`refused`; the journal file for its work file beside it), never the other.
    void checkNamed(const QStringList& boxes, const QString& refused) {
        const QString callFile = QStringLiteral("PhoneCur.mdb");
        const bool byCallFile = refused == callFile;
        const QString other = byCallFile ? ModSwitch::kJournalFile : callFile;
        EXPECT_FALSE(refusal::anyContains(boxes, other + QStringLiteral("无法写入"))) << boxes.join('\n').toStdString();
        if (byCallFile && refusal::anyContains(boxes, callFile + QStringLiteral("无法写入"))) ++callFileNamed;
    }

    QMap<qint64, QString> settled, everything;
    Currency balance;
    int namedLost = 0;
    int callFileNamed = 0;   // runs whose box named the call file refusing
};

TEST_P(JournalRebuild, EveryEntryIsKeptAndTheRebuildToldOnceWhateverIsRefused) {
    const int runs = walkRefusals(
        // The new file is filled beside its place, then put in.
        {ModSwitch::kJournalFile + QStringLiteral(".rebuilding"), QStringLiteral("PhoneCur.mdb")}, [&] { lose(); },
        [&](const QStringList& boxes, bool through) { check(boxes, through); });
    EXPECT_GT(runs, 6);
    EXPECT_GT(callFileNamed, 0);
    if (GetParam() == Loss::Gone) {
        EXPECT_EQ(namedLost, 1);
    }
}

// Killed at each step the rebuild reports, and while its box is up.
TEST_P(JournalRebuild, EveryEntryIsKeptAndTheRebuildToldOnceWhereverItIsKilled) {
    killAtEachStep([&] { lose(); }, [&](const QStringList& boxes) { check(boxes, false, true); });
}

// Entries a set-aside journal file still holds and the sound journal file
// lacks, put back in at an opening, while the disk refuses once (each write
// and each sync of the journal file and of the call file) and killed at each
// step of the put-back and while its box is up. After each run and the two
// openings after it: every settled entry is in the journal file once, the
// set-aside file no longer read, and the put-back told once, and only once
// the entries are in; a box that says a file cannot be written names the one
// that refused.
class JournalTakeBack : public JournalRebuild {
protected:
    // A set-aside file (a name not used before) holding the whole journal,
    // and the journal file without its first entry: the files open again as
    // an opening has them before the journal's check.
    void setAside() {
        ModSwitch::OpenAllDB(false);
        const QString aside = dir->file(QStringLiteral("ChargeLog.mdb.damaged-20260701-0000%1").arg(++asides, 2, 10, QChar('0')));
        ASSERT_TRUE(QFile::copy(journalPath(), aside));
        Database::open(journalPath()).execute("DELETE FROM tab_chargelog WHERE f_seq=?", {settled.firstKey()});
        openBeforeTheCheck();
    }
    // Done: the entries in, and the set-aside file noted read (a put-back
    // not noted is done again by the next opening, and told then).
    bool putBack() { return inFile(journalPath()) == settled && asidesUnread().isEmpty(); }
    // After a run whose boxes were `boxes` (`killed` when a kill ended it).
    void checkTakeBack(QStringList boxes, bool killed) {
        const QString told = QStringLiteral("已重新存入");
        // Said exactly when the entry is in; said where it is, not elsewhere.
        if (!killed) {
            EXPECT_EQ(JournalRebuild::told(boxes, told), putBack() ? 1 : 0) << boxes.join('\n').toStdString();
        }
        // A box whose report could not be settled after it was shown is shown again rather than never.
        const bool keptAfterShown = JournalRebuild::told(boxes, told) > 0 && reportsKept() > 0;
        boxes = andTwoOpenings(boxes);
        EXPECT_EQ(JournalRebuild::told(boxes, told), keptAfterShown ? 2 : 1) << boxes.join("\n----\n").toStdString();
        EXPECT_EQ(shown(inFile(journalPath())), shown(settled));
        EXPECT_TRUE(asidesUnread().isEmpty());
        EXPECT_EQ(shown(read(false)), shown(everything));
        EXPECT_EQ(remainOf(7), balance);
    }
    int asides = 0;
};

TEST_F(JournalTakeBack, EveryEntryIsPutBackOnceAndToldOnceWhateverIsRefusedAndWhereverItIsKilled) {
    const int runs = walkRefusals({ModSwitch::kJournalFile, QStringLiteral("PhoneCur.mdb")}, [&] { setAside(); },
                                  [&](const QStringList& boxes, bool) { checkTakeBack(boxes, false); });
    EXPECT_GT(runs, 4);
    EXPECT_GT(callFileNamed, 0);
    killAtEachStep([&] { setAside(); }, [&](const QStringList& boxes) { checkTakeBack(boxes, true); },
                   [&](const QStringList& boxes) { EXPECT_EQ(JournalRebuild::told(boxes, "已重新存入"), 1); });
}

// Another station's set-aside journal file beside this one's is never read
// as this station's, even when the call file refuses the note that says so:
// its entries never reach this journal, and it is judged again next time.
TEST_F(JournalTakeBack, AnotherStationsSetAsideFileIsNeverReadAsThisOnesWhateverIsRefused) {
    const QString name = QStringLiteral("ChargeLog.mdb.damaged-20260701-000099");
    const qint64 first = settled.firstKey();
    const auto setUp = [&] {
        ModSwitch::OpenAllDB(false);
        const QString aside = dir->file(name);
        QFile::remove(aside);
        ASSERT_TRUE(QFile::copy(journalPath(), aside));
        {
            Database a = Database::open(aside);
            a.execute("UPDATE tab_notes SET value='another' WHERE varname=?", {ModSwitch::kStationId});
            a.execute("UPDATE tab_chargelog SET f_amount=f_amount+4321 WHERE f_seq=?", {first});
            Database j = Database::open(journalPath());
            j.execute("DELETE FROM tab_chargelog WHERE f_seq=?", {first});
            Database cur = Database::open(dir->file("PhoneCur.mdb"));
            cur.execute("DELETE FROM tab_notes WHERE varname=?", {QStringLiteral("TarvoJournalAsideRead:") + name});
        }
        openBeforeTheCheck();
    };
    QString theirs;   // the other station's entry under a number this journal lacks
    const auto notReadAsOurs = [&](const QStringList& boxes) {
        const Database cur = Database::openReadOnly(dir->file("PhoneCur.mdb"));
        const QString note = cur.scalar("SELECT value FROM tab_notes WHERE varname=?", {QStringLiteral("TarvoJournalAsideRead:") + name}).toString();
        EXPECT_TRUE(note.isEmpty() || note == QStringLiteral("另一个话务台")) << note.toStdString() << "\n" << boxes.join('\n').toStdString();
        EXPECT_NE(inFile(journalPath()).value(first), theirs) << boxes.join('\n').toStdString();
        EXPECT_EQ(remainOf(7), balance);
    };
    setUp();
    theirs = inFile(dir->file(name)).value(first);
    ASSERT_FALSE(theirs.isEmpty());
    const int runs = walkRefusals({QStringLiteral("PhoneCur.mdb")}, setUp, [&](const QStringList& boxes, bool) {
        notReadAsOurs(boxes);
        notReadAsOurs(andTwoOpenings(boxes));
    });
    EXPECT_GT(runs, 1);
}

class JournalFromPages : public JournalRebuild {};

// "ChargeLog.mdb" whose header does not open, one entry's date not there to
// read: the file is made again from its pages, every other entry whole, and
// that entry is named, never written without its date.
TEST_F(JournalFromPages, AnEntryWhoseDateDoesNotReadIsNamedNotWrittenWithout) {
    const qint64 first = settled.firstKey();
    ModSwitch::OpenAllDB(false);
    Database::open(journalPath()).execute("UPDATE tab_chargelog SET f_date=NULL WHERE f_seq=?", {first});
    writeClosed(ModSwitch::kJournalFile, 0, QByteArray(100, '\x5a'));
    openBeforeTheCheck();
    QStringList boxes;
    ASSERT_TRUE(prepareTold(boxes));
    EXPECT_TRUE(refusal::anyContains(boxes, QStringLiteral("第%1笔记账记录的日期无法读取").arg(first))) << boxes.join('\n').toStdString();
    QMap<qint64, QString> rest = settled;
    rest.remove(first);
    EXPECT_EQ(shown(inFile(journalPath())), shown(rest));
    EXPECT_EQ(remainOf(7), balance);
}

INSTANTIATE_TEST_SUITE_P(DamagedOrGone, JournalRebuild, ::testing::Values(Loss::Damaged, Loss::Gone),
                         [](const auto& info) { return info.param == Loss::Damaged ? "Damaged" : "Gone"; });

// An entry the check refuses (bytes where an amount belongs) that reaches the
// journal file is named once, by a box kept with the note of how far the file
// was read: a kill while it is up leaves it for the next opening, which shows
// it; closed, it is not shown again.
class RefusedInJournal : public BooksTest {};

TEST_F(RefusedInJournal, AnEntryTheCheckRefusesIsToldOnceAndAKillWhileItsBoxIsUpLosesItNot) {
    const QString told = QStringLiteral("计费记录归档文件%1中以下记账记录已损坏").arg(ModSwitch::kJournalFile);
    for (int m = 1; m <= 3; ++m) ASSERT_TRUE(callAt(m));
    restart();
    // Applied already: its bytes go wrong in the call file's log, and move with it.
    const qint64 seq = dbSwitch.scalar("SELECT min(f_seq) FROM phonecur.tab_chargelog WHERE f_kind=0").toLongLong();
    dbSwitch.execute("UPDATE phonecur.tab_chargelog SET f_amount=X'00FF' WHERE f_seq=?", {seq});
    now = now.addDays(10);
    ASSERT_TRUE(testsupport::killedAtBox(told, [&] {
        for (int k = 0; k < 4; ++k) restart();
    })) << "never told";
    restart();
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(testsupport::holds(platform::script::shown().first().text, QStringLiteral("第%1笔").arg(seq)));
    restart();
    restart();
    EXPECT_EQ(platform::script::shown().size(), 1);
}

}  // namespace
