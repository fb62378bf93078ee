#include "link/FrameReader.h"

#include "core/ModGeneralText.h"
#include "params/DialDigits.h"

namespace ModComm {

QByteArray FrameReader::Padded(const QByteArray& frame, int size, quint8 filler) {
    QByteArray f = frame.left(size);
    if (f.size() < size) f.append(QByteArray(size - f.size(), char(filler)));
    return f;
}

void FrameReader::tooShort() { throw FrameError(QStringLiteral("应答帧太短")); }

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

}  // namespace ModComm
