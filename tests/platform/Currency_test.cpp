#include "platform/Currency.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <string>
#include <vector>

using namespace platform;

TEST(Currency, ParsesAndRoundsWithoutDoubleAndTakesAtMostFourteenWholeDigits) {
    EXPECT_EQ(Currency::parse("12.345").value().raw(), 123450);
    EXPECT_EQ(Currency::parse("-0.00005").value().raw(), -1);  // half away from zero
    EXPECT_EQ(Currency::parse("0.12344").value().raw(), 1234);
    // Not amounts: more than fourteen whole digits (the limit counts the digits
    // written, leading zeros too), and anything but plain digits (full-width ones too).
    for (const char* bad : {"1.2.3", "abc", "", "100000000000000", "-100000000000000", "000000000000001", ".", "1e3", "１２"})
        EXPECT_FALSE(Currency::parse(QString::fromUtf8(bad))) << bad;
    // Rounding to places out of range: more keep the value, fewer than none are whole yuan.
    EXPECT_EQ(Currency::fromRaw(12345).round(6).raw(), 12345);
    EXPECT_EQ(Currency::fromRaw(12345).round(-2).raw(), 10000);
    // At most fourteen whole digits.
    EXPECT_EQ(Currency::parse("99999999999999").value(), Currency::fromYuan(99999999999999));
    EXPECT_EQ(Currency::parse("-99999999999999.9999").value().raw(), -999999999999999999);
    EXPECT_EQ(Currency::parse("99999999999999.99995").value().raw(), 1000000000000000000);
    EXPECT_EQ(Currency::parse("00000000000001").value(), Currency::fromYuan(1));
    // Decimals are not counted: the fifth rounds, the rest are dropped.
    EXPECT_EQ(Currency::parse("1.000049999999999999").value().raw(), 10000);
    EXPECT_EQ(Currency::parse(" +.5 ").value().raw(), 5000);
    EXPECT_EQ(Currency::parse("7.").value(), Currency::fromYuan(7));
}

// Each operation at both ends of the range is the fuzz test's below; a sum
// kept by += stops at the error and keeps what it held.
TEST(Currency, ArithmeticOutOfRangeIsAnErrorNeverAWrap) {
    const Currency big = Currency::parse("-99999999999999").value();
    Currency sum;
    EXPECT_THROW(for (int i = 0; i < 10; ++i) sum += big, MoneyOverflow);
    EXPECT_LT(sum, Currency());   // the sums made before stay as they were
    EXPECT_EQ(QString::fromUtf8(MoneyOverflow().what()), "金额超出范围");
}

// Every operation of the money type over every 64-bit value: the exact result
// (worked out in 128 bits; mulDiv, round, fen and the texts round halves away
// from zero, percent and the switch's fen to the even) or MoneyOverflow, never
// a wrapped amount, never undefined behaviour (this test is run under
// -fsanitize=undefined as well).
// Amounts at and near both ends, then seeded random ones of every magnitude;
// TARVO_MONEY_SEED replays a seed.
namespace {

using Wide = __int128;

bool fits(Wide w) { return w >= INT64_MIN && w <= INT64_MAX; }

// num / den rounded half away from zero (`even`: halves to the even quotient).
Wide divided(Wide num, Wide den, bool even) {
    Wide q = num / den;
    const Wide r = num % den;
    const Wide twice = 2 * (r < 0 ? -r : r), d = den < 0 ? -den : den;
    if (twice > d || (twice == d && (!even || q % 2 != 0))) q += (num < 0) != (den < 0) ? -1 : 1;
    return q;
}

std::string text(Wide w) {
    std::string s;
    const bool neg = w < 0;
    unsigned __int128 a = neg ? 0 - (unsigned __int128)w : (unsigned __int128)w;
    do {
        s.insert(s.begin(), char('0' + int(a % 10)));
        a /= 10;
    } while (a);
    return neg ? "-" + s : s;
}

// What the type must give for `exact`: the amount, or the error when it does not fit.
template <typename F>
void expectExact(F&& op, Wide exact, const char* what, int64_t a, int64_t b) {
    // The case is written out only when it fails: the run makes millions.
    const auto which = [&] { return std::string(what) + " " + text(a) + " " + text(b); };
    if (fits(exact)) {
        int64_t got = 0;
        ASSERT_NO_THROW(got = op()) << which();
        ASSERT_EQ(Wide(got), exact) << which() << ": " << text(got) << " for " << text(exact);
    } else {
        ASSERT_THROW(op(), MoneyOverflow) << which();
    }
}

void checkOne(int64_t v, int64_t k) {
    const Currency c = Currency::fromRaw(v), o = Currency::fromRaw(k);
    expectExact([&] { return (c + o).raw(); }, Wide(v) + k, "+", v, k);
    expectExact([&] { return (c - o).raw(); }, Wide(v) - k, "-", v, k);
    expectExact([&] { return (-c).raw(); }, -Wide(v), "neg", v, 0);
    expectExact([&] { return (c * k).raw(); }, Wide(v) * k, "*", v, k);
    expectExact([&] { return Currency::fromYuan(v).raw(); }, Wide(v) * Currency::kScale, "yuan", v, 0);
    expectExact([&] { return Currency::fromFen(v).raw(); }, Wide(v) * 100, "fen", v, 0);
    if (k == 0) {
        ASSERT_THROW(divRound(v, k), MoneyOverflow);
        ASSERT_THROW(divRoundHalfEven(v, k), MoneyOverflow);
        ASSERT_THROW(c.mulDiv(1, k), MoneyOverflow);
    } else {
        expectExact([&] { return divRound(v, k); }, divided(v, k, false), "divRound", v, k);
        expectExact([&] { return divRoundHalfEven(v, k); }, divided(v, k, true), "divRoundHalfEven", v, k);
        expectExact([&] { return c.mulDiv(3, k).raw(); }, divided(Wide(v) * 3, k, false), "mulDiv", v, k);
        expectExact([&] { return c.mulDiv(k, 7).raw(); }, divided(Wide(v) * k, 7, false), "mulDiv", v, k);
    }
    expectExact([&] { return c.percent(k % 1000).raw(); }, divided(Wide(v) * (k % 1000), 100, true), "percent", v, k);
    expectExact([&] { return c.toFen(); }, divided(v, 100, false), "toFen", v, 0);
    expectExact([&] { return c.toFenHalfEven(); }, divided(v, 100, true), "toFenHalfEven", v, 0);
    Wide unit = 1;
    for (int places = 4; places >= 0; --places, unit *= 10)
        expectExact([&] { return c.round(places).raw(); }, divided(v, unit, false) * unit, "round", v, places);
    // The texts: the amount's own digits, whatever its size.
    const Wide fen = divided(v, 100, false);
    const Wide afen = fen < 0 ? -fen : fen;
    std::string two = text(afen / 100) + "." + text(afen % 100 / 10) + text(afen % 10);
    ASSERT_EQ(c.toString2().toStdString(), (fen < 0 ? "-" : "") + two) << text(v);
    const Wide av = v < 0 ? -Wide(v) : Wide(v);
    std::string plain = text(av / Currency::kScale);
    if (const Wide frac = av % Currency::kScale) {
        std::string f = text(frac + Currency::kScale).substr(1);
        while (f.back() == '0') f.pop_back();
        plain += "." + f;
    }
    ASSERT_EQ(c.toPlainString().toStdString(), (v < 0 ? "-" : "") + plain) << text(v);
    if (av / Currency::kScale < Wide(100000000000000)) {
        const std::optional<Currency> back = Currency::parse(c.toPlainString());
        ASSERT_TRUE(back.has_value()) << text(v);
        ASSERT_EQ(back->raw(), v);
    }
}

}  // namespace

TEST(CurrencyFuzz, EveryOperationOverEvery64BitValueIsExactOrMoneyOverflow) {
    std::vector<int64_t> edges;
    for (const int64_t d : {0, 1, 2, 3, 5, 9, 49, 50, 51, 99, 100, 101, 4999, 5000, 5001, 9999, 10000, 10001}) {
        edges.insert(edges.end(), {INT64_MIN + d, INT64_MAX - d, int64_t(d), int64_t(-d)});
    }
    for (const int64_t v : edges)
        for (const int64_t k : {INT64_MIN, INT64_C(-1), INT64_C(0), INT64_C(1), INT64_C(2), INT64_C(100), INT64_MAX})
            checkOne(v, k);
    bool given = false;
    const quint32 seed = quint32(qEnvironmentVariableIntValue("TARVO_MONEY_SEED", &given));
    const quint32 used = given ? seed : quint32(std::random_device{}());
    std::cout << "money fuzz seed " << used << std::endl;
    SCOPED_TRACE("seed " + std::to_string(used));
    std::mt19937_64 rng(used);
    // A random value of a random width, so that small and large amounts both come.
    const auto any = [&rng] {
        const int bits = int(rng() % 64) + 1;
        const uint64_t raw = bits == 64 ? rng() : rng() & ((uint64_t(1) << bits) - 1);
        return (rng() & 1) ? int64_t(0 - raw) : int64_t(raw);
    };
    for (int i = 0; i < 60000; ++i) {
        checkOne(any(), any());
        if (HasFatalFailure()) return;
    }
}
