// The fee of a call under one rate: units, discount segments, day types and rounding.
#include "pricing/ClsMonitor.h"

#include <gtest/gtest.h>

using platform::Currency;

namespace {

Currency yuan(const char* text) { return *Currency::parse(QString::fromLatin1(text)); }

DiscountSeg seg(const char* from, const char* to, int normal, int holiday) {
    return DiscountSeg{QTime::fromString(QLatin1String(from), QStringLiteral("HH:mm:ss")),
                       QTime::fromString(QLatin1String(to), QStringLiteral("HH:mm:ss")), normal, holiday};
}

// The worked scheme: night and late evening at half price, daytime full (80 on holidays).
QVector<DiscountSeg> dayNightScheme() {
    return {seg("00:00:00", "07:59:59", 50, 50), seg("08:00:00", "21:59:59", 100, 80),
            seg("22:00:00", "23:59:59", 50, 50), seg("00:00:00", "00:00:00", 100, 100)};
}

QVector<DiscountSeg> fullPrice() { return {seg("00:00:00", "00:00:00", 100, 100)}; }

RateRec minuteRate(const char* first, const char* per, int firsttime = 60, int pertime = 60) {
    RateRec r;
    r.firsttime = firsttime;
    r.firstprice = yuan(first);
    r.pertime = pertime;
    r.perprice = yuan(per);
    return r;
}

const QDate kMonday(2026, 6, 15);

QDateTime at(const char* hms, QDate d = kMonday) {
    return QDateTime(d, QTime::fromString(QLatin1String(hms), QStringLiteral("HH:mm:ss")));
}

}  // namespace

TEST(FeeCalc, WorkedExampleAcrossASegmentEnd) {
    RateRec r = minuteRate("0.20", "0.10", 180, 60);
    r.extrafee = yuan("0.05");
    r.extrarate = 10;
    r.poundage = yuan("0.50");
    r.poundagerate = 5;
    r.poundagediscount = true;
    ClsMonitor::Fees f;
    const Currency total = ClsMonitor::CalcFee(r, dayNightScheme(), DayRule{}, at("21:58:30"), 300, f);
    EXPECT_EQ(f.fee, yuan("0.30"));
    EXPECT_EQ(f.addFee1, yuan("0.15"));
    EXPECT_EQ(f.addFee2, yuan("0.04"));
    EXPECT_EQ(f.gateFee, yuan("0.5245"));
    EXPECT_EQ(total, yuan("1.0145"));
}

// One call each: the rate, the scheme, the day rule, the start, the length, and the fee.
TEST(FeeCalc, UnitsSegmentsAndDays) {
    DayRule sundays;
    sundays.sundaydiscount = true;
    const QVector<DiscountSeg> holidayHalf = {seg("00:00:00", "00:00:00", 100, 50)};
    RateRec extraTwo = minuteRate("1.00", "1.00");
    extraTwo.extrarate = 10;
    RateRec extraTwoDiscounted = extraTwo;
    extraTwoDiscounted.extradiscount = true;
    const QVector<DiscountSeg> half = {seg("00:00:00", "00:00:00", 50, 50)};
    const RateRec perMinute = minuteRate("0", "1.00", 0, 60);
    using F = ClsMonitor::Fees;
    const struct {
        const char* name;
        RateRec rate;
        QVector<DiscountSeg> segs;
        DayRule rule;
        QDateTime start;
        int secs;
        Currency F::*part;
        const char* fee;
    } cases[] = {
        {"further units round up: 61 s", minuteRate("0.10", "0.10"), fullPrice(), {}, at("10:00:00"), 61, &F::fee, "0.20"},
        {"further units round up: 120 s", minuteRate("0.10", "0.10"), fullPrice(), {}, at("10:00:00"), 120, &F::fee, "0.20"},
        {"further units round up: 121 s", minuteRate("0.10", "0.10"), fullPrice(), {}, at("10:00:00"), 121, &F::fee, "0.30"},
        // 30 s to the segment's end at 21:59:59 make one 60 s unit at 100 %,
        // then the clock stands at 22:00:30: one more unit at 50 %.
        {"the unit starting before a segment end keeps its percent", perMinute, dayNightScheme(), {}, at("21:59:30"), 120,
         &F::fee, "1.50"},
        // Sunday is a discounted day: Saturday 23:59 at the normal percent into Sunday, and back.
        {"Saturday into Sunday", perMinute, holidayHalf, sundays, at("23:59:00", QDate(2026, 6, 20)), 180, &F::fee, "2.00"},
        {"Sunday into Monday", perMinute, holidayHalf, sundays, at("23:59:00", QDate(2026, 6, 21)), 180, &F::fee, "2.50"},
        // 30 s to midnight make one unit, the clock moves to 00:00:30.
        {"a stretch cut at midnight is rounded on its own", perMinute, fullPrice(), {}, at("23:59:30"), 90, &F::fee, "2.00"},
        {"extra fee two, not discounted", extraTwo, half, {}, at("10:00:00"), 60, &F::addFee2, "0.10"},
        {"extra fee two, discounted", extraTwoDiscounted, half, {}, at("10:00:00"), 60, &F::addFee2, "0.05"},
        {"zero unit length counts as one second", minuteRate("0", "0.01", 0, 0), fullPrice(), {}, at("10:00:00"), 30,
         &F::fee, "0.30"},
    };
    for (const auto& c : cases) {
        ClsMonitor::Fees f;
        const Currency total = ClsMonitor::CalcFee(c.rate, c.segs, c.rule, c.start, c.secs, f);
        EXPECT_EQ(f.*c.part, yuan(c.fee)) << c.name;
        EXPECT_EQ(total, f.total()) << c.name;
    }
    // The built-in default rate prices ten-minute units.
    ClsMonitor::Fees f;
    EXPECT_EQ(ClsMonitor::CalcFee(RateRec{}, fullPrice(), DayRule{}, at("10:00:00"), 601, f), yuan("1.00"));
    EXPECT_EQ(ClsMonitor::CalcFee(RateRec{}, fullPrice(), DayRule{}, at("10:00:00"), 600, f), yuan("0.50"));
}

TEST(FeeCalc, FractionsRoundToTenThousandthsHalfToEvenAndAFeeOutOfRangeIsAnError) {
    // 0.0001 yuan at 50 %: 0.00005 rounds to 0.0000; 0.0003 at 50 %: 0.00015 rounds to 0.0002.
    const QVector<DiscountSeg> half = {seg("00:00:00", "00:00:00", 50, 50)};
    ClsMonitor::Fees f;
    ClsMonitor::CalcFee(minuteRate("0.0001", "0"), half, DayRule{}, at("10:00:00"), 10, f);
    EXPECT_EQ(f.fee, Currency());
    ClsMonitor::CalcFee(minuteRate("0.0003", "0"), half, DayRule{}, at("10:00:00"), 10, f);
    EXPECT_EQ(f.fee, yuan("0.0002"));
    EXPECT_EQ(platform::divRoundHalfEven(25, 10), 2);
    EXPECT_EQ(platform::divRoundHalfEven(35, 10), 4);
    EXPECT_EQ(platform::divRoundHalfEven(-25, 10), -2);
    EXPECT_EQ(platform::divRoundHalfEven(-26, 10), -3);

    // Extra and poundage rates at 50 % of 0.0001 and 0.0003: halves to the even ten-thousandth.
    RateRec r = minuteRate("0.0001", "0");
    r.extrarate = 50;
    r.poundagerate = 50;
    ClsMonitor::CalcFee(r, fullPrice(), DayRule{}, at("10:00:00"), 10, f);
    EXPECT_EQ(f.addFee2, Currency());
    EXPECT_EQ(f.gateFee, Currency());   // 50 % of 0.0001 + 0
    r.firstprice = yuan("0.0003");
    ClsMonitor::CalcFee(r, fullPrice(), DayRule{}, at("10:00:00"), 10, f);
    EXPECT_EQ(f.addFee2, yuan("0.0002"));
    EXPECT_EQ(f.gateFee, yuan("0.0002"));   // 50 % of 0.0005

    // Two units of a price near the top of the range: the list price still
    // fits, the price at its percentage does not. An error, not a wrapped fee.
    RateRec top = minuteRate("0", "0", 0, 60);
    top.perprice = Currency::fromRaw(INT64_MAX / 150);
    EXPECT_THROW(ClsMonitor::CalcFee(top, fullPrice(), DayRule{}, at("10:00:00"), 120, f), platform::MoneyOverflow);
    EXPECT_EQ(ClsMonitor::CalcFee(top, fullPrice(), DayRule{}, at("10:00:00"), 60, f), top.perprice);
}

// The percent of a moment of a normal (0) or discounted (-1) day and the
// seconds left in its segment; a trailing whole-day segment covers the times
// the others leave, and with none they are at full price.
TEST(Discounts, SegmentsAndSecondsLeft) {
    const QVector<DiscountSeg> segs = {seg("08:00:00", "21:59:59", 100, 80), seg("22:00:00", "07:59:59", 50, 40)};
    const QVector<DiscountSeg> trailing = {seg("08:00:00", "09:00:00", 70, 70), seg("00:00:00", "00:00:00", 90, 90)};
    const QVector<DiscountSeg> partial = {seg("08:00:00", "09:00:00", 70, 70)};
    const struct {
        const QVector<DiscountSeg>& segs;
        QTime at;
        int dayType, percent;
        qint32 left;
    } cases[] = {{segs, QTime(21, 59, 30), 0, 100, 30},      {segs, QTime(23, 0, 0), 0, 50, 32400},
                 {segs, QTime(3, 0, 0), -1, 40, 18000},      {segs, QTime(8, 0, 0), 0, 100, 50400},
                 {segs, QTime(21, 59, 59), -1, 80, 1},       {trailing, QTime(12, 0, 0), 0, 90, 43201},
                 {partial, QTime(12, 0, 0), 0, 100, 60}};
    for (const auto& c : cases) {
        qint32 left = 0;
        EXPECT_EQ(ClsMonitor::GetTimeDiscount(c.at, c.dayType, left, c.segs), c.percent) << c.at.toString().toStdString();
        EXPECT_EQ(left, c.left) << c.at.toString().toStdString();
    }
}

TEST(Discounts, DayTypes) {
    DayRule rule;
    rule.dates << QStringLiteral("05-01");
    EXPECT_EQ(ClsMonitor::GetDayType(QDate(2026, 5, 1), rule), -1);
    EXPECT_EQ(ClsMonitor::GetDayType(QDate(2031, 5, 1), rule), -1);
    EXPECT_EQ(ClsMonitor::GetDayType(QDate(2026, 5, 2), rule), 0);   // a Saturday, not flagged
    rule.saturdaydiscount = true;
    EXPECT_EQ(ClsMonitor::GetDayType(QDate(2026, 5, 2), rule), -1);
    EXPECT_EQ(ClsMonitor::GetDayType(QDate(2026, 5, 3), rule), 0);   // Sunday, not flagged
}

TEST(FeeFrame, HundredthsInThreeBytes) {
    EXPECT_EQ(ClsMonitor::FeeOrder(0x05, yuan("1.2345"), 0x23), QStringLiteral("9508200500007B23"));
    EXPECT_EQ(ClsMonitor::FeeOrder(0x05, Currency(), 0x03), QStringLiteral("9508200500000003"));
    EXPECT_EQ(ClsMonitor::FeeOrder(0xFF, yuan("0.125"), 0x00), QStringLiteral("950820FF00000C00"));   // 12.5 -> 12
    EXPECT_EQ(ClsMonitor::FeeOrder(0xFF, yuan("0.135"), 0x00), QStringLiteral("950820FF00000E00"));   // 13.5 -> 14
    EXPECT_EQ(ClsMonitor::FeeOrder(0x01, yuan("-3"), 0x00), QStringLiteral("9508200100000000"));
    EXPECT_EQ(ClsMonitor::FeeOrder(0x01, yuan("999999"), 0x00), QStringLiteral("95082001FFFFFF00"));
    EXPECT_EQ(ClsMonitor::FeeOrder(0x01, yuan("167772.15"), 0x00), QStringLiteral("95082001FFFFFF00"));
    EXPECT_EQ(ClsMonitor::FeeOrder(0x01, yuan("655.36"), 0x00), QStringLiteral("9508200101000000"));
}
