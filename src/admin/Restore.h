#pragma once
// Copying the station's files back from a backup folder so that the data
// directory ends with every file old or every file restored, whatever moment
// the power fails: the copies are made under temporary names first, then a
// journal naming them is written and synced, and only then are they renamed
// over the station's files. Opening a data directory finishes (or forgets)
// whatever a killed restore left there.
#include "platform/Db.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace admin {

struct RestorePair {
    QString source;   // the file in the backup folder
    QString target;   // the station's file it replaces
};

// The files a restore from `folder` into `dataDir` would copy: "Switch.mdb"
// when `withSwitch`, the "phbill_*.mdb" archives when `withArchives`; names
// matched without regard to case, "PhoneCur.mdb" never.
QList<RestorePair> RestorePairs(const QString& folder, const QString& dataDir, bool withSwitch, bool withArchives);

// Empty when `path` is a sound copy of its kind: it opens, passes quick_check
// and, for the station database, holds the station's tables. Else why not.
QString CheckRestoreSource(const QString& path, bool stationDb);
// CheckRestoreSource of every pair's source ("Switch.mdb" as the station
// database), side by side; `idle` runs meanwhile (the window's events). The
// answers in the pairs' order.
QStringList CheckRestoreSources(const QList<RestorePair>& pairs, const std::function<void()>& idle = {});

// Copies every pair the journalled way. The databases must be closed and
// nothing may yield meanwhile. A year file's copy is first merged with the
// station's year file (billing::MergeArchive), so that no call archived since
// the backup is lost; the box's line for it says what each side gave. False
// with the failing file (and why) in `failed`: a copy that failed, or a year
// file that could not be merged, leaves every station file as before; a file
// the system would not rename into place is put there at the next opening.
// `putIn`: the names of the station's files the backup's are in for now
// (some, when a later one stopped the restore).
bool ReplaceFiles(const QList<RestorePair>& pairs, QString* failed = nullptr, QStringList* putIn = nullptr);

// Finishes a restore that a kill interrupted after its journal was written, and
// removes the temporaries of one interrupted before it. Run before any
// database of `dataDir` is opened. True when anything was found. A file the
// system refuses to rename into place leaves the journal for the next
// opening; it is named, with the cause, in `failed`.
bool CompleteRestore(const QString& dataDir, QString* failed = nullptr, QStringList* putIn = nullptr);

// A restore that put the station file back brings it up to the charge log
// before it goes in, and keeps what its box says beyond "数据恢复成功" until
// the operator has seen it. True, with those lines, while it is kept.
bool RestoreNotice(const QString& dataDir, QStringList* lines);
// The box was shown: the notice goes.
void ForgetRestoreNotice(const QString& dataDir);
// The one box of a restore: "数据恢复成功" and the lines kept for the operator,
// then forgotten. Shown when lines are kept, or `always` (a restore just made
// that kept none). True when shown.
bool TellRestore(const QString& dataDir, bool always);

// Writes the safety copy ".bak" the start-up keeps beside the open database
// `db` afresh from it, after a restore replaced the file it described. False
// (the copy as it was) when the copy cannot be made.
bool RenewSafetyCopy(const platform::Database& db);

// The journal's and the temporaries' names, for tests.
QString RestoreJournalName();
QString RestoreTempSuffix();

namespace testing {
// The restore roads' one hook (see ModSwitch::testing::setRestoreStepHook):
// ReplaceFiles reports "copied", "marked", the station file's "copied" and
// "recovered", a year file's "recovered" (merged again, its line kept), and
// "renamed" for each file; a crash test ends the process there.
void setRestoreHook(std::function<void(const QString& point)> hook);
}  // namespace testing

}  // namespace admin
