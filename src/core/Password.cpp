#include "core/Password.h"

#include <QList>

namespace ModGeneral {

namespace {
constexpr char32_t kKey = char32_t(kPasswordKey1 ^ kPasswordKey2);
static_assert(kPasswordKey1 != kPasswordKey2, "the two key letters must differ");

// Works on whole characters, so a character outside the basic plane stays one
// character (its two halves are never reversed apart). The key is below 32, so
// a code never leaves its block of 32 and never becomes a lone surrogate.
QString scramble(const QString& text) {
    const QList<uint> codes = text.toUcs4();
    QList<char32_t> out;
    out.reserve(codes.size());
    for (auto it = codes.crbegin(); it != codes.crend(); ++it) out << (char32_t(*it) ^ kKey);
    return QString::fromUcs4(out.constData(), out.size());
}
}  // namespace

QString ScramblePassword(const QString& text) { return scramble(text); }
QString UnscramblePassword(const QString& text) { return scramble(text); }

}  // namespace ModGeneral
