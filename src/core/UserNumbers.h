#pragma once
// The numbers given to users. A number once given is never given again: not
// after its user is deleted and the entry of that deletion has left the
// journal, nor after a station file is put back from a copy whose counter is
// older. Each of the three files of the journal (the station file, the call
// file and the journal file beside it) keeps the first number never given, so
// that a file put back from a copy learns it again from the others.
#include "core/ChargeLog.h"
#include "platform/Db.h"

#include <QList>
#include <QSet>

namespace ModSwitch {

// The note of the first number never given, in each file's settings or notes.
extern const QString kUserNumbersNote;

// The lowest number a new user may be given: past every user the open station
// file holds, past every user whose row a file keeps beside the entry that
// added them (kept after the entry is let go), and past what any of the three
// files notes as given.
qint64 FirstFreeUserNumber();
// Notes that `userid` is given, in the station file, the call file and the
// journal file (each one that can be written now; the others learn it at the
// next opening). In the caller's transaction on the station file and the call file.
void NoteUserNumberGiven(qint64 userid);
// At an opening: every file notes the highest number any of them knows was
// given (where one of them lacks the note, learnt again from the users the
// journal still names).
void KeepUserNumbers();

// The numbers under which the journal `log` adds a user past `fileMark`
// while the station file `sw`, standing at that mark, holds a user of its own
// under the same number that no entry between deleted: a number given twice
// (by a station that did not keep its numbers yet). The user added is another
// person than the one the file holds: its entries are not to be applied to
// that row, and it is named.
QSet<qint64> NumbersGivenTwice(const platform::Database& sw, const QList<LogEntry>& log, qint64 fileMark);

}  // namespace ModSwitch
