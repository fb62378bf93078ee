#pragma once
// The numbers given to users. A number once given is never given again: not
// after its user is deleted and the entry of that deletion has left the
// journal, nor after a station file is put back from a copy whose counter is
// older. Each of the three files of the journal (the station file, the call
// file and the journal file beside it) keeps the first number never given, so
// that a file put back from a copy learns it again from the others.
#include "core/books/ChargeLog.h"
#include "platform/Db.h"

#include <QList>
#include <QSet>

namespace ModSwitch {

// The note of the first number never given, in each file's settings or notes.
extern const QString kUserNumbersNote;

// The lowest number a new user may be given: past the station's record
// (StationRecord.h, one read of the call file), past every user the open
// station file holds, its note and every user whose row it keeps beside the
// entry that added them (kept after the entry is let go).
qint64 FirstFreeUserNumber();
// Notes that `userid` is given: in the station file, in the caller's
// transaction (the act's commit); the record takes it with the entry that
// added the user; the journal file once that transaction is kept (each one
// that can be written now; the others learn it at the next opening).
void NoteUserNumberGiven(qint64 userid);
// For the check at an opening (AgreeWithStationRecord): the highest first
// free number anything shows, given the record's `recorded` and the journal
// file's `journalNoted` (`journal` its path, "" when there is none); where
// one of them lacks the note, learnt again from the users the journal still names.
qint64 UserNumbersKnown(qint64 recorded, qint64 journalNoted, const QString& journal);
// The station file's and the journal file's copies raised to `next`, each
// in a commit of its own, after the record.
void UserNumberCopiesFollow(qint64 next);

// The numbers under which the journal `log` adds a user past `fileMark`
// while the station file `sw`, standing at that mark, holds a user of its own
// under the same number that no entry between deleted: a number given twice
// (by a station that did not keep its numbers yet). The user added is another
// person than the one the file holds: its entries are not to be applied to
// that row, and it is named.
QSet<qint64> NumbersGivenTwice(const platform::Database& sw, const QList<LogEntry>& log, qint64 fileMark);

}  // namespace ModSwitch
