#pragma once
// The station's two files, "switch.mdb" and "PhoneCur.mdb": opening them and
// the recordsets every window shares.
#include "core/books/ChargeLog.h"
#include "platform/Db.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace ModSwitch {

// Opens `path` into `db`; on failure asks (engine text + ",要终止程序吗") and
// keeps asking while it fails; Yes ends the program. The call-record handle
// `dbPhoneCur` is attached to `dbSwitch`'s connection as "phonecur", so that a
// record and its charge commit together. The name is matched without regard to case.
bool OpenDB(const QString& path, platform::Database& db);
// Opening a site moves money: the open station file's balances are brought
// up to the charge log (ModSwitch::PrepareChargeLog). The station's openings
// (start-up, change of site, restore: admin::OpenSite) open with the two
// below, which move none, and then move it once. OpenAllDB(true),
// TryOpenAllDB and OpenSharedRecordsets, for tools and tests that open the
// files by hand, move it themselves.
//
// Opens both databases of DataPath; opens no recordset. `failure` null: asks
// as OpenDB does while one fails; else false with the engine's text, both closed.
bool OpenStationFiles(QString* failure = nullptr);
// Opens rsUser, rsFeeRate and rsIPHead on dbSwitch and makes sure the default
// user 0 exists.
void OpenRecordsets();

// Opens (true) both databases and the shared recordsets, and moves the money
// (see above); closes (false) the recordsets and both databases.
void OpenAllDB(bool bOpen);
// OpenAllDB(true) without asking: false with the engine's text, everything
// closed again. Moves the money.
bool TryOpenAllDB(QString* failure);
// OpenRecordsets, then the money moved when the call file is open.
void OpenSharedRecordsets();
// Turns a default user 0 left as a deposit user with no money at all (as
// older station databases hold it) into a user who is not settled; runs once
// per station database, marked in the settings.
void SettleDefaultUserOnce();
// The tables without which the station cannot run on a file: a file that
// lacks one counts as damaged (an empty or zero-byte file among them).
QStringList StationTables(const QString& file);
// Deletes user `userid` from the station file `db`, in the caller's
// transaction: the user's extensions and accounts go back to the default user
// 0 with that user's deposit grade, and the user's row goes. The user view,
// the settlement and the recoveries delete a user this way.
void DeleteUserRows(const platform::Database& db, qint64 userid);

// A station file put back by hand from an older copy loses, with the start's
// new safety copy, the last rows anything held of what it replaced. The start
// keeps that safety copy first ("<file>.bak.ahead") when it stands past the
// file in the journal (its mark is further, the station the same), and the
// opening's catch-up compares its rows, brought up to the journal, with the
// file's where entries lack, as a restore compares the file it replaces.
QString CopyAheadPath(const QString& stationFile);
// At a start, before the station file `file` (open as `cur`) has its safety
// copy `bak` taken anew. Failures keep nothing and stop nothing.
void KeepCopyAhead(const QString& file, const QString& bak, const platform::Database& cur);
// The money rows of the copy kept ahead of `stationFile`, brought up to `log`
// (entries in number order) on a copy of it, and its owners of extensions and
// accounts in `owners` (none when they do not read whole); `found` false, and
// none, when there is none or it does not read.
QMap<qint64, MoneyRow> CopyAheadRows(const QString& stationFile, const QList<LogEntry>& log, bool* found,
                                     QMap<qint64, qint64>* owners = nullptr);
// The copy ahead is no longer needed: the opening brought the file up to the journal.
void ForgetCopyAhead(const QString& stationFile);

}  // namespace ModSwitch
