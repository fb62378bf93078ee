#pragma once
// Small shared procedures every subsystem uses. The plain ones (waits, bit
// fields, delimited texts, switch digit texts, time conversions) are in
// ModGeneralText.h, included here; this header adds the helpers for text
// boxes, combo boxes and the grid.
#include "core/ModGeneralText.h"
#include "platform/Db.h"
#include "platform/FlexGrid.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QString>
#include <QStringList>

namespace ModGeneral {

// True (after "此项数据不能为空" and focus) when the box is empty.
bool CheckEmpty(QWidget* ctl);
void FillComboFromSql(QComboBox* cbo, const QString& sql, const platform::Database& db, bool bPair);
void FillComboFromArray(QComboBox* cbo, const QStringList& arr);
void AddArrayToList(const QStringList& arr, QComboBox* cbo);
void ComboAutoComplete(QComboBox* cbo, bool bAllowFree, bool bSetIndex);
void SelectAllText(QLineEdit* ctl);
void ClearControls(QWidget* frm);

bool GetGridSel(platform::FlexGrid& grid, bool bWholeIfSingle, int& colFirst, int& colLast);
// The row found becomes the grid's current row: what only writes into a row
// (a balance, a payment) finds it with FlexGrid::FindRow, which moves nothing.
qint32 FindGridRow(platform::FlexGrid& grid, int col, const QString& text, qint32 startRow);
void ClearGridRow(platform::FlexGrid& grid);

}  // namespace ModGeneral
