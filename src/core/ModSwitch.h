#pragma once
// The station databases: opening, the start-up check and compaction, the
// shared recordsets, table copies, shadow tables and list helpers; and the
// settings store.
#include "platform/Db.h"

#include <QString>
#include <QPair>
#include <QStringList>
#include <functional>

namespace ModSwitch {

// Opens `path` into `db`; on failure asks (engine text + ",要终止程序吗") and
// keeps asking while it fails; Yes ends the program. The call-record handle
// `dbPhoneCur` is attached to `dbSwitch`'s connection as "phonecur", so that a
// record and its charge commit together. The name is matched without regard to case.
bool OpenDB(const QString& path, platform::Database& db);
// Opens (true) or closes (false) both databases and the shared recordsets.
void OpenAllDB(bool bOpen);
// Opens both databases of DataPath and the shared recordsets without asking:
// false with the engine's text, everything closed again.
bool TryOpenAllDB(QString* failure);
// Opens rsUser, rsFeeRate and rsIPHead on dbSwitch and makes sure the default
// user 0 exists.
void OpenSharedRecordsets();
// Turns a default user 0 left as a deposit user with no money at all (as
// older station databases hold it) into a user who is not settled; runs once
// per station database, marked in the settings.
void SettleDefaultUserOnce();
// The journal of money (core/ChargeLog.h): the charge log made or brought
// to its numbered form when missing, the open station file brought up to it,
// and entries the safety copy and every backup of the last year hold let go.
void PrepareChargeLog();
// Gives the open station file the next safety copy number before its safety
// copy is taken anew while the station runs (after a restore from a backup).
void NumberSafetyCopy();
// Creates that log in the call-record database `cur` when it has none.
void CreateChargeLog(const platform::Database& cur);
// Logs a charge of `amount` to `userid` (balance `balance` after it) for the
// call of extension `ext` started `date`, in the caller's transaction on the
// call file; the balance follows once it commits. Returns the entry's number.
qint64 LogCharge(qint64 userid, platform::Currency amount, platform::Currency balance, int ext, const QString& date);
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
// Deletes the super-journals ("switch.mdb-mj...") in `dir` that no journal
// there names any more (left by a kill); returns how many went.
int RemoveStaleSuperJournals(const QString& dir);
// Copies the rows of srcTable (or of the query sSelect) into dstTable, creating
// it like srcTable when missing; one transaction: false leaves dbDst as it was.
bool CopyTable(const platform::Database& dbSrc, const QString& srcTable, const platform::Database& dbDst,
               const QString& dstTable, bool bAppend, const QString& sSelect);
// The SQL literal of `value` for a column of `fieldType`: dates and texts
// quoted (a quote inside doubled), money in its stored form, numbers as they
// stand; anything else quoted, so a value never leaves its literal.
QString SqlValue(const QString& value, int fieldType);
// The column definitions of `table` (names, declared types, required flags,
// defaults), as they stand in CREATE TABLE; for rebuilding a table.
QString ColumnDefinitions(const platform::Database& db, const QString& table);
// Copies the column definitions of srcTable (in dbSrc) into a new table
// dstTable of dbDst, with srcTable's key (or, without one, its first index) as
// the primary key "PrimaryKey". Any error stops the copy silently.
void CopyTableDef(const platform::Database& dbSrc, const QString& srcTable, const platform::Database& dbDst,
                  const QString& dstTable);
// (Re)creates the empty shadow table "p" + name in dbSwitch; false when it could not.
bool CreatePTable(const QString& name);
int GetRecordCount(platform::Recordset& rs);
void GetRsArray(const QString& sql, QStringList& arr, const platform::Database& db, bool bPair);
// The first column of every row, joined by ",", for an SQL IN list: plain
// (kind 0), as quoted texts (1) or as quoted date texts (2); "" without rows.
QString RsValuesList(platform::Recordset& rs, int kind);

// Settings store (table Variant).
QString GetVariant(const QString& key, const QString& defaultValue = QString());
void SetVariant(const QString& key, const QString& value);
// Several keys in one transaction: all of them are stored, or none (it throws).
void SetVariants(const QList<QPair<QString, QString>>& values);
// System parameters into globals; resets link and supervision state; purges old log rows.
void LoadSysPara();
void LoadMonRes();

namespace testing {
// Called at the steps of a restore from a safety copy ("marked", "moved",
// "copied", "recovered", "renamed"); a crash test ends the process there.
void setRestoreStepHook(std::function<void(const QString& step)> hook);
}  // namespace testing

}  // namespace ModSwitch
