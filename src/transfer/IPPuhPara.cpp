#include "transfer/IPPuhPara.h"

#include "core/ModGeneralText.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/ModComm.h"

#include <QRegularExpression>

namespace IPPuhPara {

namespace {

platform::Currency amountAt(const ModComm::FrameReader& f, int i) { return platform::Currency::fromFen(f.word(i)); }

QString amountHex(platform::Currency c) { return ModComm::LongToHex(c.toFenHalfEven(), 4); }

int gradeOf(quint8 b) { return b < kGrades ? b : -1; }

}  // namespace

std::optional<QString> LeadingNumber(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)(\\d*)(?:\\.(\\d*))?(?:[eE]([+-]?\\d+))?"));
    const QRegularExpressionMatch m = re.match(text);
    QString digits = m.captured(2) + m.captured(3);
    long long point = m.captured(2).size();   // digits before the decimal point
    int zeros = 0;
    while (zeros < digits.size() && digits.at(zeros) == QLatin1Char('0')) ++zeros;
    if (zeros == digits.size()) return QStringLiteral("0");
    digits.remove(0, zeros);
    point -= zeros;
    if (!m.captured(4).isEmpty()) {
        bool ok = false;
        const long long e = m.captured(4).toLongLong(&ok);
        if (!ok) {
            if (m.captured(4).startsWith(QLatin1Char('-'))) return QStringLiteral("0");
            return std::nullopt;
        }
        point += e;
    }
    // Far beyond any field's range either way.
    if (point > 40) return std::nullopt;
    if (point < -40) return QStringLiteral("0");
    QString whole, fraction;
    if (point >= digits.size()) {
        whole = digits + QString(int(point) - digits.size(), QLatin1Char('0'));
    } else if (point <= 0) {
        whole = QStringLiteral("0");
        fraction = QString(int(-point), QLatin1Char('0')) + digits;
    } else {
        whole = digits.left(int(point));
        fraction = digits.mid(int(point));
    }
    while (fraction.endsWith(QLatin1Char('0'))) fraction.chop(1);
    QString out = m.captured(1) + whole;
    if (!fraction.isEmpty()) out += QLatin1Char('.') + fraction;
    return out;
}

std::optional<platform::Currency> AmountOf(const QString& text) {
    const std::optional<QString> n = LeadingNumber(text);
    return n ? platform::Currency::parse(*n) : std::nullopt;
}

QString ParaOrder(const Params& p) {
    quint8 flags = 0;
    if (p.autoDeduct) flags |= 0x80;
    if (p.noDeductOverdrawn) flags |= 0x40;
    if (p.mayOverdraw) flags |= 0x20;
    return FrameCode::kIPPuhPara + amountHex(p.deposit[0]) + ModComm::ByteToHex(quint8(p.grade[0])) +
           amountHex(p.deposit[1]) + ModComm::ByteToHex(quint8(p.grade[1])) +
           QStringLiteral("%1%2").arg(p.day, 2, 10, QLatin1Char('0')).arg(p.hour, 2, 10, QLatin1Char('0')) +
           amountHex(p.rent) + ModComm::ByteToHex(flags) + ModComm::ByteToHex(quint8(p.shortSecs));
}

std::optional<Params> DecodeAnswer(const QByteArray& frame) {
    const ModComm::FrameReader f(frame);
    Params p;
    try {
        if (!f.is(FrameCode::kIPPuhPara)) return std::nullopt;
        // The day and hour are two decimal digits each, as the switch writes them.
        p.day = f.decimal(8, "day");
        p.hour = f.decimal(9, "hour");
        if (!QDate::isValid(2004, 1, p.day) || p.hour > 23) return std::nullopt;
        p.deposit[0] = amountAt(f, 2);
        p.grade[0] = gradeOf(f.byte(4));
        p.deposit[1] = amountAt(f, 5);
        p.grade[1] = gradeOf(f.byte(7));
        p.rent = amountAt(f, 10);
        p.autoDeduct = ModGeneral::GetBits(f.byte(12), 8, 1) != 0;
        p.noDeductOverdrawn = ModGeneral::GetBits(f.byte(12), 7, 1) != 0;
        p.mayOverdraw = ModGeneral::GetBits(f.byte(12), 6, 1) != 0;
        p.shortSecs = f.byte(13);
    } catch (const ModComm::FrameError&) {
        // Too short, or a day or hour that is no number.
        return std::nullopt;
    }
    return p;
}

QString RecordUploadOrder(const QDate& start, const QDate& end) {
    return FrameCode::kRecordUpload + start.toString(QStringLiteral("MMdd")) + end.toString(QStringLiteral("MMdd")) +
           QStringLiteral("00");
}

}  // namespace IPPuhPara
