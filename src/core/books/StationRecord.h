#pragma once
// The station's identity and its counters, where one read gives them: the
// call file's notes ("tab_notes" of "PhoneCur.mdb"), which no restore
// replaces. Each counter there is written in the commit of the act that
// raises it (the log's last entry is the entry itself; the first user number
// never given commits with the call file's log taking the entry that added
// the user; a backup's mark is noted as the backup is made). The station
// file and the journal file keep copies, the evidence when the call file is
// lost or put back from its copy: at each opening they are checked against
// the record in one place (AgreeWithStationRecord), and a counter a copy
// holds ahead of it raises the record once; the copies then follow it.
#include "platform/Db.h"

#include <QMap>
#include <QString>

namespace ModSwitch {

// The note of the highest entry number known given beyond what the call
// file's log and its moves show: raised only from a copy's evidence (a call
// file lost or put back beside a journal file that holds later entries), so
// that no number is given twice.
extern const QString kEntriesGivenNote;

struct StationRecord {
    QString id;                 // "TarvoStationId": whose files these are
    QString formerId;           // "TarvoStationIdFormer": a site's root, before the site was told apart
    qint64 usersFrom = 0;       // "TarvoUserNumbers": the first user number never given (0: not noted)
    qint64 lastLogged = 0;      // the highest entry the log holds
    qint64 movedThrough = 0;    // "TarvoChargeMoved": the highest entry moved to the journal file
    qint64 entriesGiven = 0;    // kEntriesGivenNote (0: not noted)
    qint64 numberedFrom = -1;   // "TarvoChargeNumbered" (-1: not noted)
    qint64 journalFrom = -1;    // "TarvoJournalFrom" (-1: not noted)
    qint64 journalLast = -1;    // "TarvoJournalLast" (-1: not noted)
    QMap<QString, qint64> backupMarks;   // "TarvoBackupMark:<file>", by file (a value no number reads 0)
    bool notes = false;         // the call file has its notes at all

    // The highest entry number ever given: no entry is numbered at or below it again.
    qint64 lastEntry() const { return qMax(qMax(lastLogged, movedThrough), entriesGiven); }
    // The lowest mark of the newest backups (-1: none noted): entries past it stay.
    qint64 lowestBackupMark() const;
};

// The record of call file `cur`, in one statement (one read of the file:
// every field as of the same commit). Empty when it has none; throws
// DbError when it does not read.
StationRecord ReadStationRecord(const platform::Database& cur);
// The open call file's.
StationRecord ReadStationRecord();

// The station file and the call file open now belong to one station: the
// station file's name against the record's. The first opening gives both
// the same name (the one either holds, or a new one).
bool StationFileAgrees();

// At each opening, once the journal file was judged (another station's is
// set aside there): the copies of the counters the station file and the
// journal file hold against the record. A copy ahead (the call file lost or
// put back from its copy) raises the record, in one commit of the call file
// alone; then each copy behind it follows, each in a commit of its own.
// Where a file lacks the note of user numbers, the users the journal still
// names count as given.
void AgreeWithStationRecord();

// Raises the record's first user number never given to `next` in the
// caller's transaction on the call file (a note never goes down).
void RaiseRecordUsers(qint64 next);

}  // namespace ModSwitch
