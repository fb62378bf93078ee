#pragma once
// Small shared procedures every subsystem uses: waits that keep the window
// alive, bit fields, delimited texts, switch digit texts, time conversions and
// helpers for text boxes, combo boxes and the grid.
#include "platform/Db.h"
#include "platform/FlexGrid.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QString>
#include <QStringList>

namespace ModGeneral {

// Waits more than `ms` milliseconds of the tick, yielding to pending events.
void Delay(int ms);

quint8 GetBits(quint8 b, quint8 startBit, quint8 count);
quint8 SetBits(quint8 b, quint8 startBit, quint8 count, quint8 bitValue);

// Splits at every delim, items trimmed, empty items kept; one empty item for "".
void SplitStr(const QString& text, QStringList& arr, const QString& delim);
QStringList SplitStr(const QString& text, const QString& delim);
QString JoinStr(const QStringList& arr, const QString& delim);
QString CutToken(const QString& text, bool bRest, const QString& delim);
int FindNthDelim(const QString& text, int n, const QString& delim);

// True (after "此项数据不能为空" and focus) when the box is empty.
bool CheckEmpty(QWidget* ctl);
void FillComboFromSql(QComboBox* cbo, const QString& sql, const platform::Database& db, bool bPair);
void FillComboFromArray(QComboBox* cbo, const QStringList& arr);
void AddArrayToList(const QStringList& arr, QComboBox* cbo);
void ComboAutoComplete(QComboBox* cbo, bool bAllowFree, bool bSetIndex);
void SelectAllText(QLineEdit* ctl);
void ClearControls(QWidget* frm);

qint32 CellIndex(qint32 row, int col, int cols);
bool GetGridSel(platform::FlexGrid& grid, bool bWholeIfSingle, int& colFirst, int& colLast);
qint32 FindGridRow(platform::FlexGrid& grid, int col, const QString& text, qint32 startRow);
void ClearGridRow(platform::FlexGrid& grid);

QString PadF(const QString& s, int width);
QString ByteToDigits(quint8 b);
QString NextNumStr(const QString& s);
QString SecToHMS(qint64 seconds);
qint32 TimeToSec(const QDateTime& t);
qint32 TimeToSec(const QTime& t);
QTime StrToTime(qint32 seconds);

}  // namespace ModGeneral
