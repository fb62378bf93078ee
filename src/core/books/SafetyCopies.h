#pragma once
// The check, compaction and safety copy ("*.bak") a station file gets before
// it is opened, and the restore from that copy when the file is damaged.
#include <QString>

namespace platform {
class Database;
}

namespace ModSwitch {

// Checks, compacts and backs up DataPath + fileName; restores a damaged or
// missing file from its ".bak" copy, or says "恢复数据库失败!" and closes the station.
// A restore is reported in a "警告" box: the file, the time of the copy and
// what was recovered; for the station file the balances are kept right (the
// damaged file's user rows where they can be read, else the copy less the
// charges logged since it), and what cannot be recovered is listed by user.
void CompactDB(const QString& fileName);
// The same check and compaction, which reports instead of closing the station:
// false with the reason when the file is damaged or missing and no sound copy
// restores it. A notice of a restore from the copy is added to `notice` when
// given, else shown in a message box.
bool TryCompactDB(const QString& fileName, QString* failure, QString* notice);
// The one writer of a station file's safety copy ("<file>.bak"): made from
// the closed file `file`, or from the open database `from` by the engine's
// online copy, under a temporary name, synced and renamed in. The copy is
// checked in full (integrity_check) before it goes in, unless
// `checkedSource`: `file` passed that check at this start and the copy is
// its compaction. Its check is remembered beside it ("<file>.bak.checked"),
// so that no start checks it again while it stays as it was. `taken`: a copy
// of `file` already made beside it (out of write-ahead mode), moved in
// instead of copying again. False, with the cause, and the copy as it was.
bool WriteSafetyCopy(const QString& file, bool checkedSource, QString* error = nullptr,
                     const platform::Database* from = nullptr, const QString& taken = QString());
// Deletes the super-journals ("switch.mdb-mj...") in `dir` that no journal
// there names any more (left by a kill); returns how many went.
int RemoveStaleSuperJournals(const QString& dir);

}  // namespace ModSwitch
