// The station's identity and counters, where one read of the call file gives
// them: what the acts did is in the record, in the commit of the act (the
// disk refusing any write or sync between cannot leave them apart), and a
// file lost or put back from an older copy never sets a counter back: no
// user number given twice, no entry number given twice, another station's
// file refused.
#include "support/PricingFixture.h"
#include "support/RefusalWalk.h"

#include "core/books/ChargeLog.h"
#include "core/books/JournalFile.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/books/StationRecord.h"
#include "core/books/UserNumbers.h"
#include "params/TableViews.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

#include <QFile>
#include <QFileInfo>
#include <tuple>

using namespace pricingtest;
using platform::Database;
namespace refusal = testsupport::refusal;

namespace {

class StationRecordTest : public BooksTest {
protected:
    void TearDown() override {
        refusal::disarm();
        BooksTest::TearDown();
    }
    bool addUserNow(qint64 id) {
        try {
            ModSwitch::MoveBalances([&] {
                dbSwitch.execute("INSERT INTO user (userid, username, balancemode, remain) VALUES (?, ?, 1, 0)",
                                 {id, QStringLiteral("用户%1").arg(id)});
            });
            return true;
        } catch (const platform::DbError&) {
            return false;
        }
    }
    qint64 lastInLog() { return dbPhoneCur.scalar("SELECT coalesce(max(f_seq), 0) FROM tab_chargelog").toLongLong(); }
    qint64 journalFileLast() {
        const QString path = dir->file(ModSwitch::kJournalFile);
        if (!QFileInfo::exists(path)) return 0;
        return Database::openReadOnly(path).scalar("SELECT coalesce(max(f_seq), 0) FROM tab_chargelog").toLongLong();
    }
    QString noteOf(const char* file, const char* table, const QString& key) {
        const QString path = dir->file(file);
        if (!QFileInfo::exists(path)) return QString();
        return ModSwitch::GetVariant(Database::openReadOnly(path), key, QString(), QString::fromLatin1(table));
    }
};

// The record, read in one statement, is what the acts made: the station's
// name both files carry, the first number never given (a user added and
// deleted keeps theirs given), the last entry (the station file's mark
// after the apply) and a backup's mark.
// Fails when the call file's log takes a user's entry without the record
// (the number noted in a commit apart, or not at all).
TEST_F(StationRecordTest, TheRecordReadInOneReadIsWhatTheActsDid) {
    ASSERT_TRUE(callAt(1));
    ASSERT_TRUE(addUserNow(30));
    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 30); }, 30);
    ASSERT_TRUE(callAt(2));
    ModSwitch::NoteBackupMark(QStringLiteral("switch"), 2);
    const ModSwitch::StationRecord r = ModSwitch::ReadStationRecord();
    EXPECT_FALSE(r.id.isEmpty());
    EXPECT_EQ(r.id, ModSwitch::GetVariant(dbSwitch, ModSwitch::kStationId));
    EXPECT_EQ(r.usersFrom, 31);
    EXPECT_EQ(ModSwitch::FirstFreeUserNumber(), 31);
    EXPECT_EQ(r.lastEntry(), lastInLog());
    EXPECT_EQ(r.lastEntry(), ModSwitch::AppliedMark(dbSwitch));
    EXPECT_EQ(r.backupMarks.value(QStringLiteral("switch"), -1), 2);
    EXPECT_EQ(r.lowestBackupMark(), 2);
    restart();
    const ModSwitch::StationRecord again = ModSwitch::ReadStationRecord();
    EXPECT_EQ(std::tuple(again.id, again.usersFrom, again.lastEntry()), std::tuple(r.id, 31, r.lastEntry()));
    // The copies agree with it.
    EXPECT_EQ(noteOf("switch.mdb", "Variant", ModSwitch::kUserNumbersNote), QStringLiteral("31"));
    EXPECT_EQ(noteOf("switch.mdb", "Variant", ModSwitch::kStationId), r.id);
}

// A user added while the disk refuses once, each write and each sync of the
// call file and the station file in turn: the record holds the number given
// exactly when the call file's log holds the entry that added the user, and
// the number is never given again.
// Fails when the record is raised in a commit of its own beside the log's
// (a refusal of the log's commit leaves the record ahead of it).
TEST_F(StationRecordTest, AUserNumberIsInTheRecordWithTheEntryThatGaveItWhateverIsRefused) {
    qint64 highest = 0;
    refusal::walk([&](int i) { return addUserNow(100 + i); },
                  [&](int i, bool done) {
                      const qint64 u = 100 + i;
                      const bool logged =
                          dbPhoneCur.scalar("SELECT count(*) FROM tab_chargelog WHERE f_kind=2 AND f_userid=?", {u}).toLongLong() > 0;
                      // Together or not at all: neither ahead of the other.
                      EXPECT_EQ(ModSwitch::ReadStationRecord().usersFrom > u, logged) << "run " << i;
                      if (done) {
                          highest = u;
                          EXPECT_GT(ModSwitch::FirstFreeUserNumber(), u) << "run " << i;
                          EXPECT_GT(ModSwitch::NextUserCount(), u) << "run " << i;
                      }
                  });
    ASSERT_GT(highest, 0);
    restart();   // what a refusal left behind, the opening raises
    EXPECT_GT(ModSwitch::ReadStationRecord().usersFrom, highest);
}

// The station file and the call file both put back by hand from copies
// older than the entries the journal file holds (their safety copies gone
// too): the journal file is the last evidence. The record is raised from it,
// so the next entry is numbered past every entry it holds and the user added
// since the copies keeps their number.
// Fails when the opening leaves the journal file's highest entry and its
// note of user numbers out of the record (an entry number given twice).
TEST_F(StationRecordTest, TheJournalFileKeepsTheCountersWhenTheOtherTwoGoBack) {
    ModSwitch::OpenAllDB(false);
    for (const char* name : {"switch.mdb", "PhoneCur.mdb"}) {
        QFile::remove(dir->file(QStringLiteral("old-") + name));
        ASSERT_TRUE(QFile::copy(dir->file(name), dir->file(QStringLiteral("old-") + name)));
    }
    restart();
    ASSERT_TRUE(addUserNow(60));
    for (int m = 1; m <= 4; ++m) ASSERT_TRUE(callAt(m));
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));   // held by both safety copies, then moved
    const qint64 inJournal = journalFileLast();
    ASSERT_GT(inJournal, 0);
    ASSERT_LT(ModSwitch::AppliedMark(Database::openReadOnly(dir->file("old-switch.mdb"))), inJournal);
    ASSERT_EQ(noteOf(ModSwitch::kJournalFile.toUtf8().constData(), "tab_notes", ModSwitch::kUserNumbersNote), QStringLiteral("61"));
    for (const char* name : {"switch.mdb", "PhoneCur.mdb"}) {
        replaceClosed(name, dir->file(QStringLiteral("old-") + name));
        QFile::remove(dir->file(name) + ".bak");   // their safety copies gone too
    }
    const refusal::MaybeBoxes boxes({{QString(), platform::rOK}});
    restart();
    const ModSwitch::StationRecord r = ModSwitch::ReadStationRecord();
    EXPECT_GE(r.lastEntry(), inJournal);
    EXPECT_GT(r.usersFrom, 60);
    EXPECT_GT(ModSwitch::NextUserCount(), 60);
    ASSERT_TRUE(callAt(40));
    EXPECT_GT(lastInLog(), inJournal);
    // The copies followed the record.
    EXPECT_EQ(noteOf("switch.mdb", "Variant", ModSwitch::kUserNumbersNote), QString::number(r.usersFrom));
}

// A station file of another station beside the call file: told, nothing of
// it taken into the record (its name, its counters), and the record is the
// same once the station's own file is back.
// Fails when the check takes the foreign file's counters into the record.
TEST_F(StationRecordTest, AnotherStationsFileIsRefusedAndRaisesNothing) {
    ASSERT_TRUE(callAt(1));
    const ModSwitch::StationRecord before = ModSwitch::ReadStationRecord();
    ModSwitch::OpenAllDB(false);
    const QString own = dir->file("own-switch.mdb");
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), own));
    {
        Database sw = Database::open(dir->file("switch.mdb"));
        ModSwitch::SetVariant(sw, ModSwitch::kStationId, QStringLiteral("another-station"));
        ModSwitch::SetVariant(sw, ModSwitch::kUserNumbersNote, QStringLiteral("900"));
        ModSwitch::SetVariant(sw, ModSwitch::kChargeMark, QStringLiteral("700"));
    }
    QFile::remove(dir->file("switch.mdb.bak"));
    const qsizetype shown = platform::script::shown().size();
    const refusal::MaybeBoxes boxes({{QString(), platform::rOK}});
    restart();
    EXPECT_TRUE(refusal::anyContains(refusal::boxesSince(int(shown)), QStringLiteral("不属于同一个话务台")));
    const ModSwitch::StationRecord during = ModSwitch::ReadStationRecord();
    EXPECT_EQ(during.id, before.id);
    EXPECT_LT(during.usersFrom, 900);
    EXPECT_LT(during.lastEntry(), 700);
    QFile::remove(dir->file("switch.mdb.bak"));
    ASSERT_NO_FATAL_FAILURE(replaceClosed("switch.mdb", own));
    restart();
    const ModSwitch::StationRecord after = ModSwitch::ReadStationRecord();
    EXPECT_EQ(std::tuple(after.id, after.usersFrom), std::tuple(before.id, before.usersFrom));
    ASSERT_TRUE(callAt(2));
    EXPECT_EQ(lastInLog(), before.lastEntry() + 1);
}

}  // namespace
