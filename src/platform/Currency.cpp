#include "platform/Currency.h"

#include <limits>

namespace platform {

MoneyOverflow::MoneyOverflow() : std::overflow_error("金额超出范围") {}

void Currency::overflow() { throw MoneyOverflow(); }

int64_t divRound(int64_t num, int64_t den) {
    // No amount is a ratio with nothing below it.
    if (den == 0) throw MoneyOverflow();
    if (den == -1) {
        if (num == std::numeric_limits<int64_t>::min()) throw MoneyOverflow();
        return -num;
    }
    // Truncated, then rounded by the remainder: no step negates or adds to an
    // amount, so every 64-bit value divides (the smallest one too).
    int64_t q = num / den;
    const int64_t r = num % den;
    const uint64_t ar = r < 0 ? 0 - uint64_t(r) : uint64_t(r);
    const uint64_t ad = den < 0 ? 0 - uint64_t(den) : uint64_t(den);
    if (ar != 0 && ar >= ad - ar) q += (num < 0) != (den < 0) ? -1 : 1;
    return q;
}

int64_t divRoundHalfEven(int64_t num, int64_t den) {
    if (den == 0) throw MoneyOverflow();
    if (den == -1) {
        if (num == std::numeric_limits<int64_t>::min()) throw MoneyOverflow();
        return -num;
    }
    // As divRound: truncated, then rounded by the remainder's magnitude, so
    // that no step negates an amount (the smallest one has no negative).
    int64_t q = num / den;          // truncated towards zero
    const int64_t r = num % den;    // same sign as num
    const uint64_t ar = r < 0 ? 0 - uint64_t(r) : uint64_t(r);
    const uint64_t ad = den < 0 ? 0 - uint64_t(den) : uint64_t(den);
    const uint64_t rest = ad - ar;  // the way to the next quotient away from zero
    if (ar != 0 && (ar > rest || (ar == rest && q % 2 != 0))) q += (num < 0) != (den < 0) ? -1 : 1;
    return q;
}

std::optional<Currency> Currency::parse(const QString& input) {
    QString t = input.trimmed();
    if (t.isEmpty()) return std::nullopt;
    bool neg = false;
    if (t.startsWith('-')) { neg = true; t = t.mid(1); }
    else if (t.startsWith('+')) t = t.mid(1);
    const int dot = t.indexOf('.');
    QString ip = dot < 0 ? t : t.left(dot);
    QString fp = dot < 0 ? QString() : t.mid(dot + 1);
    if (ip.isEmpty() && fp.isEmpty()) return std::nullopt;
    for (QChar c : ip) if (!c.isDigit() || c.unicode() > '9') return std::nullopt;
    for (QChar c : fp) if (!c.isDigit() || c.unicode() > '9') return std::nullopt;
    if (ip.size() > 14) return std::nullopt;
    int64_t whole = ip.isEmpty() ? 0 : ip.toLongLong();
    int64_t frac = 0;
    int digits = 0;
    bool roundUp = false;
    for (int i = 0; i < fp.size(); ++i) {
        int d = fp[i].unicode() - '0';
        if (digits < 4) { frac = frac * 10 + d; ++digits; }
        else if (digits == 4) { roundUp = d >= 5; ++digits; }
    }
    while (digits < 4) { frac *= 10; ++digits; }
    int64_t raw = whole * kScale + frac + (roundUp ? 1 : 0);
    return fromRaw(neg ? -raw : raw);
}

int64_t Currency::toFen() const { return divRound(v_, 100); }

int64_t Currency::toFenHalfEven() const { return divRoundHalfEven(v_, 100); }

Currency Currency::round(int decimals) const {
    if (decimals >= 4) return *this;
    if (decimals < 0) decimals = 0;
    int64_t unit = 1;
    for (int i = decimals; i < 4; ++i) unit *= 10;
    // Rounded away from zero, the smallest and largest amounts have no whole
    // unit beside them within range: that is the error of any other operation.
    return fromRaw(mul(divRound(v_, unit), unit));
}

QString Currency::toString2() const {
    int64_t fen = toFen();
    const bool neg = fen < 0;
    if (neg) fen = -fen;
    // Built by hand, backwards in one buffer: a view of many money columns
    // writes this for every cell.
    char buf[24];
    char* p = buf + sizeof buf;
    *--p = char('0' + fen % 10);
    *--p = char('0' + fen / 10 % 10);
    *--p = '.';
    int64_t yuan = fen / 100;
    do {
        *--p = char('0' + yuan % 10);
        yuan /= 10;
    } while (yuan > 0);
    if (neg) *--p = '-';
    return QString::fromLatin1(p, buf + sizeof buf - p);
}

QString Currency::toPlainString() const {
    // The magnitude unsigned: the smallest amount has no positive twin.
    const uint64_t a = v_ < 0 ? 0 - uint64_t(v_) : uint64_t(v_);
    QString s = QString::number(a / kScale);
    const uint64_t frac = a % kScale;
    if (frac) {
        QString f = QStringLiteral("%1").arg(frac, 4, 10, QChar('0'));
        while (f.endsWith('0')) f.chop(1);
        s += '.' + f;
    }
    return (v_ < 0 ? "-" : "") + s;
}

Currency Currency::mulDiv(int64_t num, int64_t den) const {
    if (den == 0) overflow();
    __int128 p = static_cast<__int128>(v_) * num;
    __int128 d = den;
    if (d < 0) { p = -p; d = -d; }
    __int128 r = p >= 0 ? (p + d / 2) / d : -((-p + d / 2) / d);
    if (r > INT64_MAX || r < INT64_MIN) overflow();
    return fromRaw(static_cast<int64_t>(r));
}

Currency Currency::percent(int64_t pct) const {
    // The product is exact in 128 bits: only a result out of range is an error.
    const __int128 p = static_cast<__int128>(v_) * pct;
    __int128 q = p / 100;   // truncated towards zero
    const __int128 r2 = 2 * (p < 0 ? -(p % 100) : p % 100);
    if (r2 > 100 || (r2 == 100 && q % 2 != 0)) q += p < 0 ? -1 : 1;
    if (q > INT64_MAX || q < INT64_MIN) overflow();
    return fromRaw(static_cast<int64_t>(q));
}

}  // namespace platform
