#pragma once
// Backup and restore of the table behind the console's current view, one
// copy per table in "Backup.mdb" of the data directory.
#include "platform/Db.h"

#include <QString>

namespace console {

// The table copied for a view: both route views share AddHead.
QString BackupTableName(const QString& view);
// The backup file of the data directory (its existing spelling, if any).
QString BackupFilePath();

// The toolbar's 备份 of `view`: saves pending edits, asks, copies, reports.
void TableBackup(const QString& view, int tableRight, const QString& caption);
// The toolbar's 恢复 of `view`: asks, replaces the table by its backed-up
// copy in one transaction (extension suffixes refitted; the balances or the
// owners it changes entered in the journal and named), shows it, reports.
void TableRestore(const QString& view, int tableRight, const QString& caption);

// Fits the dialable-number suffixes of the extensions to the current prefix
// table: a prefix category that is gone moves to the flexible one. Runs
// inside the caller's transaction; throws DbError.
void FitExtensionSuffixes(const platform::Database& db);

}  // namespace console
