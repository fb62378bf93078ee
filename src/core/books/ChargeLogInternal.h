#pragma once
// What the journal's entries and replay (ChargeLog.cpp) and the journal
// file's moves, checks and rebuild (JournalFile.cpp) share. Included by those
// two files and the station's record (StationRecord.cpp) only: nothing
// outside them calls these.
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

}  // namespace ModSwitch
