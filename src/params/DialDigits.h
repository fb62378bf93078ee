#pragma once
// Extension numbers and the switch's nibble coding of dial digits: "B" for
// "*", "C" for "#", "E" the flexible-head mark, "F" the filler.
#include <QByteArray>
#include <QString>

namespace ModSwitch {

// Digit count of the flexible head's numbers (1 to 4; 4 when out of range or missing).
int GetExtHeadLen();
// Dialable number of the extension at `address`, "****" when it has none.
QString ExtNumberOf(int address);
QString DialToHex(const QString& s);
QString HexToDial(const QString& s);
bool IsDialStr(const QString& s);
bool IsDigitsStar(const QString& s, bool bDigitsOnly);
// "3,17,25" -> "031119FFFF".
QString PackGroupList(const QString& list);
// Bytes 11..15 of a received frame -> "'3,17,25'".
QString QuoteList(const QByteArray& frame);
// Gives every extension of `head` that shares a flexible number with another a
// free one, or moves it to the flexible head when its head has none left.
void RenumberExt(int head);
// How many flexible numbers of `len` digits there are (10 to the `len`), and
// `value` written as one of them, zeros in front.
qint64 FlexNumberCount(int len);
QString FlexNumberText(qint64 value, int len);
}  // namespace ModSwitch
