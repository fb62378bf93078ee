#pragma once
// What the journal's entries and replay (ChargeLog.cpp, ChargeLogBooking.cpp,
// ChargeLogReplay.cpp) and the journal file's moves, checks and rebuild
// (JournalFile.cpp, JournalFileCheck.cpp) share. Included by those files and
// the station's record (StationRecord.cpp) only: nothing outside them calls
// these.
#include "core/books/ChargeLog.h"
#include "platform/Db.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace ModSwitch {

// ChargeLog.cpp.

// The station file open beside another station's call file: nothing of the
// log is applied to it nor given to it.
bool foreignStationFile();
// The open call file's log table, qualified.
QString logTable();
// The last entry logged in the open call file (0 when none).
qint64 lastLogged();
// A call file open with its log: the entries go to it.
bool logOpen();
// The columns of an entry, in the order valuesOf gives them.
extern const QString kEntryColumns;
// A row's values as stored: a whole number stays one, a real a real, a text a text.
QVariantList valuesOf(const platform::RowReader& r);
// The columns of a log table, for CREATE TABLE.
extern const QString kLogDefinition;
// The call file's table of notes.
extern const QString kNotes;
// The call file's note of the last entry a log of an older release held when
// its entries got their numbers.
extern const QString kNumberedNote;
// The highest number the open call file moved to the journal file (0: none).
qint64 movedThrough();
// The last entry the call file's safety copy holds.
qint64 lastInCallCopy();
// Now, as an entry's date is written.
QString nowText();
// The line naming a damaged entry.
QString garbledLine(const QVariantList& values);
// One line for each refused entry of `rows` (the first hundred), ending with `tail`.
QStringList refusedLines(const QMap<qint64, QVariantList>& rows, const platform::Database& sw, const QString& tail = QString());

// JournalFile.cpp.

// The call file's note of the entries after which a start found the clock
// far past the newest entry.
extern const QString kClockDoubted;
// At an opening: notes a clock far past the newest entry. True when noted now.
bool noteClockDoubt();
// The call file's note of the PC clock's moves (see ClocksPutRight), and
// the note of one more (kept in memory for the session as well).
extern const QString kClockPutRight;
void notePutRight(const ClockPutRight& move);
// At an opening: entries dated past the clock tell of a clock put back.
void noteClockPutBack();
// The prefix of the notes of the newest backups' marks: see NoteBackupMark.
extern const QString kBackupMarkPrefix;
// The call file's notes on the journal file: its state when it last passed
// its check, and the first number it keeps.
extern const QString kJournalChecked;
extern const QString kJournalFrom;
// The highest number the journal file held after the last move or rebuild.
extern const QString kJournalLast;
// The journal file `path` cannot be written now (`cause`): told once.
void tellJournalTrouble(const QString& path, const QString& cause);
// A refusal met by the journal file's check in another file than the
// journal file (the call file, whose notes and reports go with the check):
// the file that refused is named, not the journal file.
class RefusedBy : public platform::DbError {
public:
    RefusedBy(const platform::DbError& e, const QString& file) : DbError(e), file_(file) {}
    const QString& file() const { return file_; }

private:
    QString file_;
};
// The journal file's check stopped by `e`: the file that refused and the
// cause told once; the check is made again at the next opening.
void tellJournalCheckStopped(const platform::DbError& e);
// The journal file, checked at an opening, set aside and made again when it
// must be. False when it cannot be written.
bool checkJournalFile();

// The journal's entries are kept in three files: ChargeLog.cpp (the log's
// schema, the station file's copy of it, its notes and the opening),
// ChargeLogBooking.cpp (the booking of entries, their apply and the balances
// they leave; nowText and garbledLine above are its) and ChargeLogReplay.cpp
// (the replay of the entries into a file put back, the reading of entries and
// the lines that tell a recovery; refusedLines above is its). What the three
// share of ChargeLog.cpp's own helpers: used by them only.
namespace chargelog {

using platform::Currency;
using platform::Database;

// The text of a statement every record runs, for the schema it names: made
// again only when that schema is another one (each thread keeps its own).
class SchemaSql {
public:
    explicit SchemaSql(const char* pattern) : pattern_(QString::fromLatin1(pattern)) {}
    const QString& text(const Database& db, const QString& table) {
        if (schema_ != db.schema() || sql_.isEmpty()) {
            schema_ = db.schema();
            sql_ = pattern_.arg(db.qualified(table));
        }
        return sql_;
    }
private:
    QString pattern_, schema_, sql_;
};

// The station file's mark moved to `mark`.
void setMark(const Database& sw, qint64 mark);

// A file's table of settings, qualified.
QString variantOf(const Database& db);

// Whether a file has a table, asked again only when the answer may have
// changed: another connection or file (a reopen, an attach), a table made,
// dropped or renamed on this connection, or by another one (the file's
// schema version). Each thread keeps its own.
class TableKnown {
public:
    explicit TableKnown(const QString& table) : table_(table) {}
    bool in(const Database& db) {
        if (schema_ != db.schema() || versionSql_.isEmpty()) {
            schema_ = db.schema();
            versionSql_ = QStringLiteral("PRAGMA %1.schema_version").arg(platform::quoteIdent(schema_));
            serial_ = 0;
        }
        const quint64 serial = db.connectionSerial(), generation = db.schemaGeneration();
        const qint64 version = db.scalar(versionSql_).toLongLong();
        if (serial != serial_ || generation != generation_ || version != version_ || path_ != db.path()) {
            present_ = !db.actualTableName(table_).isEmpty();
            // The keys were read before the listing: a change made in between is seen next time.
            serial_ = serial;
            generation_ = generation;
            version_ = version;
            path_ = db.path();
        }
        return present_;
    }
private:
    QString table_, schema_, versionSql_, path_;
    quint64 serial_ = 0, generation_ = 0;
    qint64 version_ = -1;
    bool present_ = false;
};

// The station file's copy of the entries it applied (and of their calls when
// `withCalls`), made when missing; the columns of the calls both files have.
QString ensureMirror(const Database& sw, bool withCalls);
// The table of the rows of users added, made when missing.
void ensureUserRows(const Database& db);
// The row of `userid` in the station file `sw`, every field by its name; "" when there is none.
QString userRowText(const Database& sw, qint64 userid);
// Puts the row of a user added back into station file `sw`. False when the row does not read.
bool putUserRow(const Database& sw, const QString& text, qint64 userid, Currency remain);
// Copies into the station file the entries (first, last] of the call file's
// log it applies, and the calls they charged, in the caller's transaction.
void mirrorApplied(qint64 first, qint64 last);
// The highest number any of the two files gave an entry.
qint64 lastNumbered();

// What the entries past the mark take from each balance, kept between reads.
// Inside one transaction of the station file the mark stands while a batch
// of records logs entries past it: summing them all again for each record's
// balance would make every record slower than the one before. Entries are
// only ever logged past the last one, so only those logged since the last
// read are read; whatever else may change the entries past the mark (another
// mark, file or connection, an attach, an entry changed or deleted, a
// rollback, a commit of another connection, an opening) has them all read
// again. A user whose sum no balance can hold takes nothing (see BalanceOf).
struct Waiting {
    quint64 serial = 0, generation = 0, rewrites = 0;
    qint64 version = -1, mark = -1, read = 0;
    QString path;
    QHash<qint64, Currency> by;
    QSet<qint64> outOfReach;
};
extern thread_local Waiting g_waiting;

}  // namespace chargelog

}  // namespace ModSwitch
