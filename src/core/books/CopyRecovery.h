#pragma once
// Putting a damaged or missing station file back from its safety copy ("*.bak"):
// what the damaged file can still give (calls, rejects, user rows) is taken
// over, the balances are brought up to the charge log, and a mark beside the
// file lets a restore a power cut interrupted be completed at the next start.
#include "core/books/ChargeLog.h"
#include "platform/Files.h"

#include <QString>
#include <functional>

namespace ModSwitch {

// A restore from a safety copy under way: written, synced, before the damaged
// file is moved aside, and taken away only once the recovered file is in
// place and the operator has been told. A start that finds it completes the
// restore before it checks the file or takes a new safety copy.
struct PendingRestore {
    QString aside;       // where the damaged file was put ("" when there was none)
    QString copyTime;    // when the copy was taken
    bool existed = false;
};

// The mark of a restore of `target` under way ("<target>.pending-restore"),
// written durably (false, with the cause, when it could not be) and read
// strictly: a mark that exists but does not read whole is Unreadable.
bool WritePending(const QString& target, const PendingRestore& p, QString* error = nullptr);
platform::ReadState ReadPending(const QString& target, PendingRestore* p);
// The restore of `f` from `b` that a mark describes; the operator is told, and the mark goes.
// Told at once, the mark goes once the box was shown; gathered in `notice`
// for a box after the opening, the text is also kept in the file put back
// (a report, key PutBackReportKey, held until ReportsHeldTold): a kill
// before that box leaves it for the next opening.
bool FinishRestore(const QString& b, const QString& f, const PendingRestore& p, QString* failure, QString* notice);
QString PutBackReportKey(const QString& file);
// The one road by which a file comes back, from a safety copy or a backup:
// `source` is copied beside `target` as `work` and synced ("copied"), brought
// up to the journal by `recover` on that copy (false, or an error of the
// database, and `source` goes in as it is), synced whole ("recovered"), the
// target's stale journal and logs removed, and renamed over it, the folder
// synced. False, with the cause, when a copy, sync or rename failed: the
// target is then as it was.
bool PutBack(const QString& source, const QString& target, const QString& work,
             const std::function<bool(const QString& work)>& recover, QString* error = nullptr);
// The one recovery of a station file put back, on its copy `restored` before
// it goes in, for both roads: from its safety copy (`takeRows`: the damaged
// file `replaced` is newer, the user rows it gives are taken over where its
// mark tells how far they went) and from a backup. Brought up to the journal
// of the call file `callFile` by the one replay; where entries lack, the
// money rows of `replaced` and of the copy compared user by user; extension
// owners the journal contradicts named. The box's lines: RecoveryLines.
// Throws DbError when the copy cannot be written (nothing is then applied).
LogRecovery RecoverStationFile(const QString& restored, const QString& callFile, const QString& replaced, bool takeRows);
// A step of a restore reached (for the crash tests; see testing::setRestoreStepHook).
void RestoreStep(const QString& step);
// Removes a work file with its journal and write-ahead log.
void RemoveWorkFile(const QString& path);
// The highest copy number in the charge log of the call file `callFile`; 0
// when it has none or cannot be read.
qint64 LoggedGeneration(const QString& callFile);
// The entries numbered past `after` that were moved from the call file
// `callFile` to the journal file beside it (kJournalFile), as far as that
// file can be read (through its pages when it is damaged); `complete` false
// when part of it could not be read. None when it does not exist.
QList<LogEntry> MovedEntries(const QString& callFile, qint64 after, bool* complete = nullptr);
// The same from the journal file `path` (one set aside, too).
QList<LogEntry> JournalEntriesAt(const QString& path, qint64 after, bool* complete = nullptr);

// Whether the station file `copy` (a backup) stands in the journal of the
// call file `callFile`: the last entry up to its mark that set a balance
// gives the balance the copy holds for that user. False when the journal no
// longer keeps such an entry, or the copy does not read.
bool PlacedInJournal(const QString& copy, const QString& callFile);

namespace testing {
// Called at the steps of a restore, by either road, with one set of names:
// "copied" (a copy of the source written beside its target), "marked" (the
// durable note of what the restore does written), "moved" (the damaged file
// set aside), "recovered" (the copy brought up to the journal and synced),
// "renamed" (a file renamed into place). From a safety copy: marked, moved,
// copied, recovered, renamed. From a backup folder: copied (every file),
// marked, then copied and recovered of the station file, and renamed for each
// file in turn. A crash test ends the process at the nth time a step is reached.
void setRestoreStepHook(std::function<void(const QString& step)> hook);
}  // namespace testing

}  // namespace ModSwitch
