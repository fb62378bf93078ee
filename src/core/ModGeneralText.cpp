#include "core/ModGeneralText.h"

#include "platform/Clock.h"

namespace ModGeneral {

namespace {
// Blanks only, as the station's own trimming: tabs and other white space stay.
QString trimBlanks(const QString& s) {
    int a = 0, b = s.size();
    while (a < b && s[a] == QLatin1Char(' ')) ++a;
    while (b > a && s[b - 1] == QLatin1Char(' ')) --b;
    return s.mid(a, b - a);
}

bool bitRangeValid(quint8 startBit, quint8 count) {
    return startBit >= 1 && startBit <= 8 && count >= 1 && startBit + count <= 9;
}
}  // namespace

void Delay(int ms) {
    const qint64 t0 = platform::TickMs();
    platform::YieldEvents();
    auto elapsed = [t0] { return static_cast<qint32>(platform::TickMs() - t0); };
    if (elapsed() < 0) return;
    for (;;) {
        if (elapsed() > ms) return;
        platform::YieldEvents();
        if (elapsed() < 0) return;
    }
}

quint8 GetBits(quint8 b, quint8 startBit, quint8 count) {
    if (!bitRangeValid(startBit, count)) return 0;
    const unsigned top = 1u << (startBit + count - 1);
    return static_cast<quint8>((b % top) / (1u << (startBit - 1)));
}

quint8 SetBits(quint8 b, quint8 startBit, quint8 count, quint8 bitValue) {
    if (!bitRangeValid(startBit, count)) return b;
    const unsigned mask = ((1u << count) - 1u) << (startBit - 1);
    return static_cast<quint8>(bitValue == 1 ? (b | mask) : (b & ~mask));
}

void SplitStr(const QString& text, QStringList& arr, const QString& delim) {
    arr.clear();
    if (text.isEmpty()) {
        arr << QString();
        return;
    }
    if (delim.isEmpty()) {
        arr << trimBlanks(text);
        return;
    }
    const QStringList parts = text.split(delim, Qt::KeepEmptyParts);
    arr.reserve(parts.size());
    for (const QString& p : parts) arr << trimBlanks(p);
}

QStringList SplitStr(const QString& text, const QString& delim) {
    QStringList arr;
    SplitStr(text, arr, delim);
    return arr;
}

QString JoinStr(const QStringList& arr, const QString& delim) { return arr.join(delim); }

QString CutToken(const QString& text, bool bRest, const QString& delim) {
    const int p = delim.isEmpty() ? -1 : text.indexOf(delim);
    if (p < 0) return bRest ? QString() : text;
    return bRest ? text.mid(p + delim.size()) : text.left(p);
}

int FindNthDelim(const QString& text, int n, const QString& delim) {
    if (n == 0) return 1;
    if (n < 0 || delim.isEmpty()) return -1;
    int found = 0;
    int from = 0;
    for (;;) {
        const int p = text.indexOf(delim, from);
        if (p < 0) break;
        ++found;
        if (found == n) return p + delim.size() + 1;  // positions count from 1
        from = p + delim.size();
    }
    if (found == n - 1) return text.size() + 2;
    return -1;
}

qint32 CellIndex(qint32 row, int col, int cols) { return row * cols + col; }

QString PadF(const QString& s, int width) {
    const QString t = trimBlanks(s);
    if (width <= 0) return QString();
    if (t.size() >= width) return t.left(width);
    return t + QString(width - t.size(), QLatin1Char('F'));
}

QString ByteToDigits(quint8 b) {
    static const char* digits = "0123456789ABCDEF";
    QString out;
    const int hi = b >> 4, lo = b & 0x0F;
    if (hi != 15) out += QLatin1Char(digits[hi]);
    if (lo != 15) out += QLatin1Char(digits[lo]);
    return out;
}

QString NextNumStr(const QString& s) {
    // The numeric value of the text's leading digits, as the station reads numbers.
    const QString t = s.trimmed();
    int i = 0;
    while (i < t.size() && t[i].isDigit()) ++i;
    const qint64 value = t.left(i).toLongLong() + 1;
    return QStringLiteral("%1").arg(value, s.size(), 10, QLatin1Char('0'));
}

QString SecToHMS(qint64 seconds) {
    const qint64 h = seconds / 3600;
    const qint64 m = (seconds % 3600) / 60;
    const qint64 sec = seconds % 60;
    return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'));
}

qint32 TimeToSec(const QDateTime& t) { return TimeToSec(t.time()); }

qint32 TimeToSec(const QTime& t) { return t.hour() * 3600 + t.minute() * 60 + t.second(); }

QTime StrToTime(qint32 seconds) {
    qint32 r = seconds % 86400;
    if (r < 0) r += 86400;
    return QTime(r / 3600, (r % 3600) / 60, r % 60);
}

QString MoneyRangeText() { return QStringLiteral("请输入-1亿至1亿之间的数值"); }
QString MoneyResultRangeText() { return QStringLiteral("金额超出范围，预付押金和押金余额须在-1亿至1亿之间"); }

}  // namespace ModGeneral
