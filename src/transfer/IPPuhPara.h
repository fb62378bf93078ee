#pragma once
// The IP payphone parameters of the second switch model as they travel: the
// parameter frame "A60E" (the switch's answer and the station's order share
// one layout) and the record upload request "9607".
#include "platform/Currency.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>

namespace IPPuhPara {

struct Params {
    platform::Currency deposit[2];   // 0.00 .. 655.35
    int grade[2] = {13, 13};         // dialling grade index 0 .. 13, -1 unset
    int day = 1;                     // deduction day of month
    int hour = 0;                    // deduction hour
    platform::Currency rent;         // 0.00 .. 655.35
    bool autoDeduct = false;         // flag 0x80
    bool noDeductOverdrawn = false;  // flag 0x40
    bool mayOverdraw = false;        // flag 0x20
    int shortSecs = 3;               // 0 .. 255
};

// Records a switch uploads at most: passes 0 to 2048.
inline constexpr int kMaxRecords = 2049;
// A record of "Bill.dat": one whole "961D" frame with its checksum.
inline constexpr int kRecordSize = 30;

// The grades a payphone can be given: "话务台" (0) to "禁止使用" (13).
inline constexpr int kGrades = 14;

// The leading number of a typed text in plain decimal form: an optional
// sign, digits, a point and an exponent, as far as the text goes on as one
// ("12.5元" gives "12.5", "1e2" gives "100"); "0" when the text does not
// begin with a number, none when it is too large to write out.
std::optional<QString> LeadingNumber(const QString& text);
// An amount field's value: its leading number; none when it cannot be held.
std::optional<platform::Currency> AmountOf(const QString& text);

// The order "A60E..." without its checksum. The values must lie in their ranges.
QString ParaOrder(const Params& p);

// The switch's "A60E" answer (code byte first), decoded whole: none when the
// frame is too short, is no "A60E", or its day and hour make no date in
// January 2004 (day 00, an hour above 23, unset digits). A grade byte that
// names no grade (14 or more) gives the grade -1, unset.
std::optional<Params> DecodeAnswer(const QByteArray& frame);

// "9607" + start "MMdd" + end "MMdd" + "00": the years do not travel.
QString RecordUploadOrder(const QDate& start, const QDate& end);

}  // namespace IPPuhPara
