#include "link/FrameReader.h"

#include "core/ModGeneralText.h"
#include "params/DialDigits.h"

namespace ModComm {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Byte k of a code's hex text, -1 past its end or where it is no hex (an ask for any frame).
int codeByte(QLatin1StringView code, int k) {
    if (2 * k + 1 >= code.size()) return -1;
    const int hi = hexDigit(code[2 * k].toLatin1()), lo = hexDigit(code[2 * k + 1].toLatin1());
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

}  // namespace

QByteArray FrameReader::Padded(const QByteArray& frame, int size, quint8 filler) {
    QByteArray f = frame.left(size);
    if (f.size() < size) f.append(QByteArray(size - f.size(), char(filler)));
    return f;
}

quint8 FrameReader::byte(int i) const {
    if (i < 0 || i >= f_.size()) throw FrameError(QStringLiteral("应答帧太短"));
    return quint8(f_[i]);
}

int FrameReader::word(int i) const { return byte(i) * 256 + byte(i + 1); }

qint64 FrameReader::amount(int i) const { return qint64(byte(i)) * 65536 + byte(i + 1) * 256 + byte(i + 2); }

QString FrameReader::digits(int i) const { return ModGeneral::ByteToDigits(byte(i)); }

QString FrameReader::digits(int first, int last) const {
    QString s;
    for (int i = first; i <= last; ++i) s += digits(i);
    return s;
}

QString FrameReader::dial(int first, int last) const { return ModSwitch::HexToDial(digits(first, last)); }

int FrameReader::decimal(int i, const char* what) const {
    const QString d = digits(i);
    bool ok = false;
    const int v = d.toInt(&ok, 10);
    if (!ok || v < 0) throw FrameError(QStringLiteral("%1 \"%2\" is not a number").arg(QLatin1String(what), d));
    return v;
}

QDateTime FrameReader::dateTime(int first, const QDate& today) const {
    const int month = decimal(first, "month");
    const int day = decimal(first + 1, "day");
    const int hour = decimal(first + 2, "hour");
    const int minute = decimal(first + 3, "minute");
    const int second = decimal(first + 4, "second");
    const int year = month > today.month() ? today.year() - 1 : today.year();
    const QDate d(year, month, day);
    const QTime t(hour, minute, second);
    if (!d.isValid() || !t.isValid())
        throw FrameError(QStringLiteral("no such date %1-%2-%3 %4:%5:%6")
                             .arg(year).arg(month).arg(day).arg(hour).arg(minute).arg(second));
    return QDateTime(d, t);
}

bool FrameReader::is(QLatin1StringView code) const {
    const int n = int(code.size()) / 2;
    if (n == 0 || code.size() % 2 != 0 || f_.size() < n) return false;
    for (int k = 0; k < n; ++k)
        if (codeByte(code, k) != quint8(f_[k])) return false;
    return true;
}

bool FrameReader::sameKind(QLatin1StringView code) const {
    return !f_.isEmpty() && codeByte(code, 0) == quint8(f_[0]);
}

}  // namespace ModComm
