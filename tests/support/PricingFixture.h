#pragma once
// A fresh station opened for the pricing, a fixed clock, and call-record and
// live-call frames built from their fields by the simulator's builders.
#include "core/ModDefine.h"
#include "support/Fixtures.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <functional>
#include <limits>

namespace pricingtest {

using platform::Currency;

inline Currency yuan(const char* text) { return *Currency::parse(QString::fromLatin1(text)); }

struct CallRecord {
    int ext = 5;
    QString called = QStringLiteral("88001234");
    quint8 channel = 0x03;       // byte 16 whole
    QDateTime start;             // only month, day and time travel
    int seconds = 125;
    QString account;             // "" = no account (FF FF)
    int type = 0;                // byte 28
    QString inDigits;            // byte 4
    QByteArray frame() const;    // the 29 bytes (no checksum)
    QByteArray withSum() const;  // and their checksum, as "Bill.dat" keeps them
};

// A live-call frame "A011": kind 0 outgoing, 1 incoming, 2 between extensions.
QByteArray liveFrame(int ext, const QString& dialled, int slot, int kind = 0, const QString& account = {},
                     bool forwarded = false);

class PricingTest : public testsupport::StationTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Orders the engine queued for the switch since the last call, as hex without checksum.
    QStringList sent();
    void addUser(qint32 id, const char* remain, int balancemode = 0, const char* overdraft = "0");
    void setExtensionUser(int address, qint32 userid);
    void addRate(const QString& zone, int type, const char* first, const char* per, int firsttime = 60,
                 int pertime = 60, int feerateid = 0, const QString& summary = {}, int discountid = 1);
    void reopenRates();   // what the tariff windows do when they close
    // User 7 on extension 5, local calls (8…) at 0.20 for the first three minutes, 0.10 a minute after.
    void localCaller(const char* remain, int balancemode);
    // Closed and started again: both files checked, compacted and copied.
    void restart();
    // The station's files open again, as a start leaves them.
    void reopen();
    // Ten days on, two starts: the entries settled move to the journal file
    // (the log keeps its last one); then, `lost`, that file lost with the
    // station closed and the start that finds it gone (its box answered).
    void settleIntoJournalFile(bool lost);
    Currency remainOf(qint32 userid);
    qint64 count(const char* table, const QString& where = {}, const platform::Params& params = {});
    QDateTime now;
};

// User 7 on extension 5 (localCaller, 10.00, postpaid), the terminal "默认":
// where the tests of the records' roads to the files ("Bill.dat", the spool,
// the queue) begin.
class QueueTest : public PricingTest {
protected:
    void SetUp() override;
    // "Bill.dat" written as a read of the switch writes it, holding `records`
    // (each with its checksum), to be charged when `charge`; whether it was.
    bool writeBillFile(const QList<QByteArray>& records, bool charge = true);
    // Storing into `table` fails while `when` holds (a run-time error of the
    // database, from the trigger `name`) until dropTrigger(`name`).
    void failWhen(const char* name, const char* table, const QString& when);
    void dropTrigger(const char* name);
};

// User 7 on extension 5 (localCaller, 100.00, postpaid) and a start since, so
// that the safety copies hold them: where the tests of the journal of money
// begin, with the station's files handled closed as a disk or an operator
// handles them.
class BooksTest : public PricingTest {
protected:
    void SetUp() override;
    // Extension `ext`'s call at 9:`minute` of `day`, 100 + 37 x `minute`
    // seconds long; whether it was kept.
    bool callAt(int minute, int ext = 5, QDate day = QDate(2026, 6, 15));
    // The station file as it stands kept aside as `name` (the station closed a moment).
    QString keepStationFile(const char* name);
    // The station closed; the data directory's `name` (its sides too) replaced by a copy of `from`.
    void replaceClosed(const char* name, const QString& from);
    // The call file put back from its safety copy, as a start does when it is damaged.
    void callFileFromItsCopy() { replaceClosed("PhoneCur.mdb", dir->file("PhoneCur.mdb.bak")); }
    // The station closed; `bytes` written over the data directory's `name` at
    // byte `at` (none: the file overwritten from there to its end).
    void writeClosed(const QString& name, qint64 at = 0, const QByteArray& bytes = {});
    // The entries numbered `from` to `to` gone from the call file's log and from
    // the station file's copy of it (the whole copy when `wholeCopy`), as when
    // their pages are lost with the station closed; then open again.
    void loseEntries(qint64 from, qint64 to = std::numeric_limits<qint64>::max(), bool wholeCopy = false);
    // The entries the file `name` of the data directory logs.
    qint64 logged(const QString& name);
    // A folder of 数据库管理's backups holding `stationFile` as its "Switch.mdb".
    QString backupFolder(const QString& stationFile);
    // 数据库管理 puts the backup of `folder` back and is killed at its step
    // `step`, the station closed.
    void restoreKilledAt(const QString& folder, const char* step);
    Currency depositOf(qint32 userid);
    // The fees of the calls the call file holds for `userid`.
    Currency storedFees(qint32 userid = 7);
};

// The pages the log of the closed call file `callFile` starts from (its
// table's and its indexes') overwritten; the calls still read.
void overwriteLogPages(const QString& callFile);

}  // namespace pricingtest
