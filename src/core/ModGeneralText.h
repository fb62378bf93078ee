#pragma once
// The plain shared procedures, with no widget: waits that keep the window
// alive, bit fields, delimited texts, switch digit texts and time conversions.
// Code below the windows (the engine, the link) includes this header only;
// the helpers for text boxes, combo boxes and the grid are in ModGeneral.h.
#include "platform/Currency.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

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

qint32 CellIndex(qint32 row, int col, int cols);

QString PadF(const QString& s, int width);
QString ByteToDigits(quint8 b);
QString NextNumStr(const QString& s);
QString SecToHMS(qint64 seconds);
qint32 TimeToSec(const QDateTime& t);
qint32 TimeToSec(const QTime& t);
QTime StrToTime(qint32 seconds);

// The range an amount the operator types, and what it makes of a deposit or a
// balance, must lie in: -1亿 to 1亿 yuan.
inline constexpr platform::Currency kMoneyLimit = platform::Currency::fromYuan(100000000);
inline bool WithinMoneyLimit(platform::Currency c) { return c <= kMoneyLimit && c >= -kMoneyLimit; }
// The refusals of an amount typed outside it, and of one that would take a
// deposit or a balance outside it.
QString MoneyRangeText();
QString MoneyResultRangeText();

}  // namespace ModGeneral
