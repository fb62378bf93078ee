#pragma once
// Money: a fixed-point amount in yuan with four decimals, held as an integer
// count of ten-thousandths. Never converted through double.
#include <QString>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <stdexcept>

namespace platform {

// An amount the arithmetic cannot hold: a sum, difference or product out of
// range is this error, never a wrapped amount. what() is the operator's text
// (UTF-8, "金额超出范围").
class MoneyOverflow : public std::overflow_error {
public:
    MoneyOverflow();
};

class Currency {
public:
    static constexpr int64_t kScale = 10000;
    constexpr Currency() = default;
    static constexpr Currency fromRaw(int64_t raw) { Currency c; c.v_ = raw; return c; }
    static constexpr Currency fromYuan(int64_t yuan) { return fromRaw(mul(yuan, kScale)); }
    static constexpr Currency fromFen(int64_t fen) { return fromRaw(mul(fen, 100)); }
    // Parses "12", "-3.5", "0.0125" exactly; more than four decimals round half away from zero.
    static std::optional<Currency> parse(const QString& text);

    constexpr int64_t raw() const { return v_; }
    // Rounded to whole fen (hundredths), half away from zero.
    int64_t toFen() const;
    Currency roundToFen() const { return fromFen(toFen()); }
    // Rounded to whole fen with halves to the even neighbour (0.005 -> 0,
    // 0.015 -> 2), as the switch's money fields take them.
    int64_t toFenHalfEven() const;
    // Rounded to `decimals` places (0..4), half away from zero; MoneyOverflow
    // when the rounded amount is out of range (amounts within a unit of the ends).
    Currency round(int decimals) const;
    // Text with two decimals, "0.00" form, rounded half away from zero.
    QString toString2() const;
    // Text with as many decimals as needed (up to four), as typed back into a field.
    QString toPlainString() const;

    // Multiply by a ratio num/den, rounding the result to ten-thousandths half
    // away from zero; MoneyOverflow when the result is out of range or `den` is 0.
    Currency mulDiv(int64_t num, int64_t den) const;
    // This amount times `pct` percent, rounded to ten-thousandths with halves
    // to the even neighbour, as the tariff takes its percentages (discounts,
    // extra and poundage rates); MoneyOverflow when the result is out of range.
    Currency percent(int64_t pct) const;

    // Checked: a result out of range throws MoneyOverflow.
    constexpr Currency operator+(Currency o) const { return fromRaw(add(v_, o.v_)); }
    constexpr Currency operator-(Currency o) const { return fromRaw(sub(v_, o.v_)); }
    constexpr Currency operator-() const { return fromRaw(sub(0, v_)); }
    constexpr Currency operator*(int64_t k) const { return fromRaw(mul(v_, k)); }
    constexpr Currency& operator+=(Currency o) { v_ = add(v_, o.v_); return *this; }
    constexpr Currency& operator-=(Currency o) { v_ = sub(v_, o.v_); return *this; }
    constexpr auto operator<=>(const Currency&) const = default;

    // For binding into SQL: the stored INTEGER form.
    QVariant toVariant() const { return QVariant::fromValue<qlonglong>(v_); }

private:
    [[noreturn]] static void overflow();
    static constexpr int64_t add(int64_t a, int64_t b) {
        int64_t r = 0;
        if (__builtin_add_overflow(a, b, &r)) overflow();
        return r;
    }
    static constexpr int64_t sub(int64_t a, int64_t b) {
        int64_t r = 0;
        if (__builtin_sub_overflow(a, b, &r)) overflow();
        return r;
    }
    static constexpr int64_t mul(int64_t a, int64_t b) {
        int64_t r = 0;
        if (__builtin_mul_overflow(a, b, &r)) overflow();
        return r;
    }

    int64_t v_ = 0;
};

// Integer division rounding half away from zero; over every 64-bit pair,
// MoneyOverflow for a quotient out of range or a `den` of 0.
int64_t divRound(int64_t num, int64_t den);
// Integer division rounding halves to the even quotient; the same range.
int64_t divRoundHalfEven(int64_t num, int64_t den);

}  // namespace platform
