#pragma once
// Reading the switch's parameter tables back: whole tables into their shadow
// tables (shown in the upload view or compared in the difference dialog),
// the board layout, the extensions' flexible numbers, and selected grid rows.
//
// Every read waits for the switch and yields to window events, so none of
// these may be called inside an open transaction; each writes its rows in one
// transaction once everything has been read.
#include "platform/Db.h"
#include "transfer/UpRecords.h"

#include <QString>
#include <QVector>

namespace ModToolbar {

// "本机字头", "帐号", ... for the views that can be read back; "" otherwise.
QString UpDisplayName(const QString& table);

// Reads the table of CurTable from the switch into its shadow table. `list`
// receives the decoded rows (index = row read). True when every row came (or
// the switch ended its stream early); false after a missing answer or a row
// that cannot be decoded, with the shadow table as it was; also after an
// answer that names another row than the one asked (answers repeated or one
// behind), `why` then saying so. A database error while the shadow table is
// made or filled throws platform::DbError, the shadow table again as it was
// and the progress window closed.
bool UpLoadTable(QVector<transfer::UpRecord>& list, const QString& prompt, QString* why = nullptr);

// The toolbar's upload (verify false) or verify (true) of the view shown,
// between "960300" and "960301"; for verify the whole grid is compared.
// This is the entry of the toolbar keys 上传 and 校验.
void ToolbarUpLoadOrVerify(bool verify);
// The same without the bracket and the selection bounds.
void UpLoadOrVerifyTable(bool verify);

// Reads every extension's head and flexible number straight into Extension,
// replacing LanHead by the switch's heads; nothing is changed unless all of
// it could be read. True when written.
bool UpSpringNum();

// The grid popup's 校验 of the selected rows (GridSelFirst..GridSelLast),
// `tableRight` the right number of the view shown.
void mnuVerify_Click(int tableRight);
void VerifySelected(platform::Recordset& rs, qint32 selFirst, qint32 selLast);

// The grid popup's 上传 of the selected rows into the grid's cells.
void mnuUpSend_Click(int tableRight);
void UpSendSelected(platform::Recordset& rs, int tableRight, qint32 selFirst, qint32 selLast);

}  // namespace ModToolbar
