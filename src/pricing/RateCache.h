#pragma once
// The pricing's copy of the shared fee-rate and IP-head recordsets and of the
// discount schemes. Every call record searches them by prefix, many times
// over; the rows are read once into memory and read again whenever rsFeeRate
// or rsIPHead is opened anew (the start, and the tariff windows when they
// close) or the station database is; the schemes also once a row of theirs
// has been written (the discount window saves a scheme in one transaction).
// While a tariff window is open the copy stays as the tariffs stood when it
// opened: its edits are written at once, row by row, and a call priced in the
// middle of them would be charged from a half-edited tariff.
#include "pricing/PricingRecords.h"

#include <QHash>
#include <QString>
#include <QVector>

namespace pricing {

struct FeeRateRow {
    QString zonecode;
    bool numeric = false;     // a zone code that is not a number marks its category's default row
    int feerateid = 0;
    int feeratetype = 0;
    RateRec rate;
    QString badColumn;        // a numeric rate column held Null: the row cannot price
};

// A discount scheme as the pricing reads it: its day rule and its segments,
// or why it cannot price (a segment time that is no time).
struct DiscountScheme {
    DayRule days;
    QVector<DiscountSeg> segs;
    QString error;
};

struct IpHeadRow {
    QString iphead;
    int ipfeerate = 0;
    RateRec rate;
    QString badColumn;
};

class RateCache {
public:
    // The copy for the current recordsets, read again when they were reopened.
    static RateCache& current();
    // Forgets the copy; the next use reads the tables again.
    static void invalidate();
    // A tariff window opens: the copy is made current now and kept until the
    // last such window has closed (and reopened the recordsets).
    static void holdWhileEditing();
    static void releaseAfterEditing();
    // A discount scheme was deleted and its rates moved to scheme 1: a copy
    // kept for an open window follows, it would otherwise name no scheme.
    static void schemeDeleted(int discountid);

    // The row of the longest prefix of `number` that is a zone code: record types 3 and 2
    // search the ordinary rates of category 10 and 9, any other categories 0 to 8 of `rateType`.
    const FeeRateRow* findLongestZone(int recType, int rateType, const QString& number) const;
    // The first row, in recordset order, with this zone code whatever its category and rate type.
    const FeeRateRow* findFirstZone(const QString& zone) const;
    // The default row (zone code not a number) of a category and rate type.
    const FeeRateRow* findDefault(int rateType, int callType) const;
    // The first IP access prefix, in table order, that begins `number`.
    const IpHeadRow* findIpHead(const QString& number) const;

    // The discount scheme `discountid`; one that does not exist prices at full price all day.
    const DiscountScheme& discount(int discountid) const;

    int feeRateCount() const { return rates_.size(); }

private:
    void load();
    void loadDiscounts();
    QHash<int, DiscountScheme> discounts_;
    DiscountScheme fullPrice_;
    quint64 discountWrites_ = 0;
    QVector<FeeRateRow> rates_;
    QVector<IpHeadRow> heads_;
    // Zone codes (upper case) per search bucket ("o|rate type", "9|rate type", "10|rate type").
    QHash<QString, QHash<QString, int>> zonesByBucket_;
    QHash<QString, int> byDefault_;
    quint64 feeSerial_ = 0, headSerial_ = 0, connSerial_ = 0;
};

}  // namespace pricing
