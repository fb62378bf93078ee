#pragma once
// Downloads of the station's parameter tables to the switch from the
// console: whole table views and selected rows, with the progress window and
// the grid's colours. Rows go as UserDownload.h says: one acknowledged frame a
// row, the pending flag cleared once acknowledged, the first row not
// acknowledged ending the download; the waits yield to window events, so
// none of these may be called inside an open transaction.
#include "platform/Db.h"
#include "transfer/UserDownload.h"

#include <QString>

namespace ModToolbar {

// The downloads of one user, of accounts and of extensions (DownUserPara,
// DownAccount, DownExtPara) are the engine's, in UserDownload.h.

// Puts the windows behind the downloads' view: the progress window steps, the
// console grid's rows sent get their normal colour (console::UseStationWindows).
void UseDownloadWindows();

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
