#pragma once
// The yearly call-record archives: "PhBill_" + year + ".mdb" in the data
// directory, one table "Tab_Ph" + month (1..12) per calendar month, each with
// the columns of the current table Tab_Phone. ArchiveBills moves the current
// records there and compacts "PhoneCur.mdb".
#include "platform/Db.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace billing {

// Moves every current call record into the month table of its year file, one
// month per transaction (copy and delete commit together), then compacts
// "PhoneCur.mdb" and opens it again as dbPhoneCur. Records stored while the
// run goes on stay current; a month that fails stays current as a whole. A
// call its month table holds already (same f_calladdr and f_date) is not
// copied again, only deleted from the current table, and a box says how many;
// one held there with other content leaves as a reject row (tab_errPh).
void ArchiveBills();

// Deletes from the call file `cur` (Tab_Phone) the calls that the month
// tables of their year files hold already (same extension f_calladdr and
// start f_date), and returns how many. For a call file put back from a copy
// made before an archive run: the calls that run moved are not billed twice.
// A year file that cannot be read keeps its calls. Not inside a transaction.
int DropArchivedRows(const platform::Database& cur);

// What merging a year file of a backup with the station's own found.
struct ArchiveMerge {
    qint64 brought = 0;   // calls of the backup's file that the station's lacked
    qint64 kept = 0;      // calls of the station's file that the backup's lacked, added to it
};
// Makes the year file `into` (a backup's copy about to replace the station's
// year file `from`) hold every call of both: each call of `from` whose key
// (extension f_calladdr and start f_date, as the duplicate check has it) no
// row of its month table in `into` holds is added, a month table `into`
// lacks is taken whole. A call both hold stays as `into` has it (an archived
// call is never changed). Done again it adds nothing. One commit, `from` only
// read; `from` missing: nothing to add. Throws DbError when `from` cannot be
// read, a table lacks the key, or the write fails. `scratch`: `into` is a
// copy nothing names yet, thrown away whole should the merge fail or be
// killed: written without a rollback journal or a sync, which the caller
// does once the merge is done.
ArchiveMerge MergeArchive(const QString& into, const QString& from, bool scratch = false);
// Whether the station's year file `station` holds every call of the backup's
// `backup` as the backup has it (same key, same content), so that merging
// them would give the station's calls and nothing else: then `found` says
// what the merge would (nothing brought, the station's calls the backup lacks
// kept). Told from the two files' pages where they are alike and by the rows
// elsewhere; false too when that would mean reading every row (the merge
// decides), and when one cannot be read. Both files only read.
bool YearFileHolds(const QString& station, const QString& backup, ArchiveMerge* found);

// The restore of a big year file that differs from the station's in a few
// pages (calls deleted or changed there since the backup, calls archived
// since): rather than copying the backup's file and merging the station's
// calls into it, the station's file is kept and given what the merge would
// change, which costs as much as the difference and not the file.
// Writes `patch` (a new file, nothing synced: the caller syncs it) holding,
// for each month table, the backup's rows on leaves the station's file does
// not hold alike that the station's file lacks as they are (with their row
// numbers), the station's rows there whose call (key) the backup holds
// otherwise, and a month table the station lacks whole; `found` gets what
// MergeArchive would count. Both year files only read. False (`patch` may be
// left: the caller removes it) when the pages tell too little, the
// difference is more than an eighth of the backup's pages, the file is small
// (a copy costs nothing then), a month table's columns differ or the
// backup's lacks the key index, or a file cannot be read or `patch` written:
// the copy and the merge decide then. `holds` (when given) is set when the
// patch would change nothing: the station's file holds every call of the
// backup's as it has it (as YearFileHolds tells).
bool PrepareYearFilePatch(const QString& station, const QString& backup, const QString& patch, ArchiveMerge* found,
                          bool* holds = nullptr);
// Gives the station's year file `station` what `patch` holds, in one
// transaction that also notes in `patch` that it is done (the two files
// commit together, each with its rollback journal: a kill anywhere leaves
// both as they were or both changed). Done again it changes nothing. Calls
// archived into `station` after the patch was made are kept, but for those
// under a key the backup holds: the backup's call wins, as in the merge.
// `beforeCommit` runs with everything written and nothing committed.
// Throws DbError when a file cannot be read or written.
void ApplyYearFilePatch(const QString& station, const QString& patch, const std::function<void()>& beforeCommit = {});

// While a hold lives, ArchiveBills refuses to run (LastArchiveRun().ran is
// false): a reader that sums the current table and the archives in several
// steps, yielding between them, keeps every record in the file it found it in.
class ArchiveHold {
public:
    ArchiveHold();
    ~ArchiveHold();
    ArchiveHold(const ArchiveHold&) = delete;
    ArchiveHold& operator=(const ArchiveHold&) = delete;
};

// What the last run did (for the callers that need to know, and for tests).
struct ArchiveRun {
    bool ran = false;           // false: refused (a transaction was open, or a run was in progress)
    qint64 moved = 0;           // records moved into archives
    qint64 alreadyArchived = 0; // records their month table held already: deleted, not copied again
    qint64 rejected = 0;        // of those, held there with other content: kept as reject rows
    int monthsMoved = 0;
    int monthsFailed = 0;
    qint64 left = 0;            // records still current after the run
    bool compacted = false;     // "PhoneCur.mdb" was replaced by its compacted copy
    QStringList damaged;        // archive files that are not readable databases
};
const ArchiveRun& LastArchiveRun();

// "PhBill_2004.mdb".
QString ArchiveFileName(int year);
// The year file in DataPath, in the spelling it has on disk when it exists
// (readers write "Phbill_"/"phbill_"), else in ArchiveFileName's spelling.
QString ArchivePath(int year);
// "Tab_Ph3": the month number without a leading zero.
QString MonthTableName(int month);

// Attaches the existing year file to dbSwitch's connection under `schema`, so
// that readers can join it with the station's tables; the month tables get
// their (f_userid, f_date) index when it is missing. An unopened handle when
// the year has no file; DbError when the file is not a readable database.
// Close it when done: a year held attached is not archived into until then.
platform::Database AttachArchive(int year, const QString& schema);
// Creates the (f_userid, f_date) index of every month table of `archive` that lacks it.
void EnsureArchiveIndexes(const platform::Database& archive);

namespace testing {
// Points of a run at which a test may act: store a record, fail, or end the process.
enum class ArchiveStage {
    MonthCopied,   // inside a month's transaction: rows copied, not yet deleted
    MonthDone,     // a month committed (or rolled back); before the next one
    Compacted,     // the work file written and checked, "PhoneCur.mdb" still attached
    Detached,      // "PhoneCur.mdb" closed, not yet replaced
    Replaced,      // "PhoneCur.mdb" replaced, not yet opened again
};
void setHook(std::function<void(ArchiveStage)> hook);  // null removes it
}  // namespace testing

}  // namespace billing
