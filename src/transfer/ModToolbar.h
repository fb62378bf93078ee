#pragma once
// Downloads of the station's parameter tables to the switch: whole table
// views, selected rows, a set of accounts or extensions, and everything one
// billing user holds in the switch.
//
// Every row is one order frame sent with the acknowledgement wait (4 seconds,
// two attempts); a row's pending flag is cleared only once the switch has
// acknowledged it, and the first row not acknowledged ends the download with
// the remaining rows still pending. The waits yield to window events, so
// none of these may be called inside an open transaction.
#include "platform/Db.h"

#include <QString>

namespace ModToolbar {

// Sends the account rows of `rs` (all columns of Account), then "810300".
// mode: 0 as stored (limited by lock and deposit grade), 1 the owner is
// locked, 2 the accounts are given back (code FFFF). clearPassword clears the
// password of every account sent; showProgress steps the loaded progress
// window once a row. False when a row was not acknowledged or could not be
// encoded (no "810300" then); never throws.
bool DownAccount(platform::Recordset& rs, int mode, bool clearPassword, bool showProgress);

// Sends the extension rows of `rs` (all columns of Extension); the same modes.
// No table frames. False when a row was not acknowledged; a row that cannot
// be encoded, or a database error, throws (transfer::EncodeError, platform::DbError).
bool DownExtPara(platform::Recordset& rs, int mode, bool clearPassword, bool showProgress);

// Sends one user's accounts, "810300", then the user's extensions; the
// extensions only when the accounts all went. User 0 (the default user) is
// sent only when `force` is non-zero; otherwise the result is true at once.
// True when everything was acknowledged. Errors of the extension half (a row
// that cannot be encoded, a database error) throw as DownExtPara's do.
// Callers: the deposit check (uid, 0, 0, 0, 0), the user save (uid, 0, 0, 0, 0),
// the user delete (uid, 2, 1, 0, 0), settlement's lock and delete (uid, 1 or 2, 0, 0, 0),
// the user table download (uid, locked ? 1 : 0, 0, 1, 1).
bool DownUserPara(qint64 userId, int mode, int clearPassword, int force, int showProgress);

// The toolbar's download of the table shown (CurTable), with the view's right
// number; for extensions the operator chooses parameters or flexible numbers.
// The caller sends "960300" before and "960301" after.
void DownTable(int rightNo);

// Sends the rows of `rs` as rows of CurTable, after the rights check of
// `rightNo` (5 for extensions: the flexible numbers), and reports the outcome
// in the status bar ("下载成功", "下载失败", "下载错误:" and the error).
void DownLoadPara(platform::Recordset& rs, int rightNo);

// The grid popup's download of the selected rows (GridSelFirst..GridSelLast)
// of the view shown, whose right number is `tableRight`.
void mnuDownload_Click(int tableRight);

// The operation name of a table download ("下载本机字头" ...); "" for a view without one.
QString OperationName(const QString& table, int rightNo);

}  // namespace ModToolbar
