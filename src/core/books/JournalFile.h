#pragma once
// The journal file beside the call file ("ChargeLog.mdb", see kJournalFile):
// the settled entries moved into it, its notes, and the writes other files
// make to it.
#include <QString>

#include <functional>

namespace ModSwitch {

// Moves the settled entries of the open call file's log to the journal file
// (see kJournalFile): written there and synced first, then deleted from the
// log with the note of how far they went. Entries over 400 days old leave the
// journal file. Outside a transaction; a failure leaves the entries where
// they are, for the next opening or night.
void MoveSettledEntries();
// A backup was taken whose balances hold the journal up to entry `mark` (its
// station file's mark; the users' copy's): a restore of it needs every entry
// past that, so none is let go however old, until a newer backup of the same
// file `what` ("Switch.mdb", "Backup.mdb") is noted. Kept in the call file's
// notes and carried into the journal file, so that it outlives a restart and
// a call file put back from its copy.
void NoteBackupMark(const QString& what, qint64 mark);

// Runs `write`, which changes the journal file `path` on a connection of its
// own (a note): a file whose pages were known sound stays known, and the next
// start does not check them again for it.
void WriteJournalFile(const QString& path, const std::function<void()>& write);

// A reader found the journal file `path` damaged: the next opening checks its
// pages whatever state it was last found sound in.
void DoubtJournalFile(const QString& path);

}  // namespace ModSwitch
