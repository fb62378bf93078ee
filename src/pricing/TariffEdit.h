#pragma once
// What the tariff editors accept from the operator and how they show it: the
// recognisers of zone codes and numbers, the leading number of a typed text,
// the find's pattern and the text of one fee-rate grid row.
#include "platform/Currency.h"
#include "platform/Db.h"

#include <QRegularExpression>
#include <QString>

namespace pricing {

// 1 to 16 decimal digits, nothing else.
bool IsZoneCode(const QString& t);
// An optional sign, digits and an optional decimal point followed by digits;
// no blanks, exponents, hexadecimal or separators.
bool IsNumber(const QString& t);
// The number a text begins with, as the editors read "60s" or "0.5元":
// blanks skipped, sign, digits, one decimal point; no number reads 0.
platform::Currency LeadingNumber(const QString& t);
// The leading number rounded to a whole number (halves away from zero).
qint64 LeadingWhole(const QString& t);

// A find text as the operator means it: every character literal except "*"
// (any text) and "?" (one character); letters compare without regard to case.
bool WildcardMatch(const QString& pattern, const QString& text);
// The same pattern compiled once, for a search over many rows.
QRegularExpression WildcardPattern(const QString& pattern);

// The 13 cells of a fee-rate grid row, Tab-separated, from a row of
// "feerate.*, discountname".
QString FeeRateRowText(const platform::Recordset& rs);

// How a value typed into a fee-rate grid column is kept: the display text
// and the value bound into the statement. `title` is the column's header.
struct GridValue {
    QString display;
    platform::Param value{QVariant()};
};
// Clamps and formats a typed text for the value columns (seconds, money,
// percents); any other title keeps the text as typed.
GridValue FeeGridValue(const QString& title, const QString& typed);

// The table column under each of the 13 grid columns.
QString FeeRateColumn(int gridCol);

// The eight access-fee fields of an IP head (first time, first price, time and
// price of each further unit, extra fee 1 and 2, service fee 1 and 2): the
// text a field shows once it is left, and the value stored from it. Times are
// whole seconds followed by "s" (a further unit at least 1), percents whole
// numbers followed by "%" (outside 0 to 100 they become 0), money "0.00" (a
// text that is not a number becomes "0.00"): the price charged is the price shown.
QString IPLinkText(int index, const QString& typed);
platform::Param IPLinkValue(int index, const QString& text);

}  // namespace pricing
