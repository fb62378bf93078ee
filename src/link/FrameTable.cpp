// The frame table and the hex-text helpers every order is built with.
#include "link/FrameReader.h"
#include "link/ModComm.h"

#include <vector>

namespace ModComm {

QVector<FrameDef> FrameTable;

namespace {

// Six-digit codes: the third byte belongs to the code.
const char* const kSubCodes[] = {
    "800300", "800301", "810300", "810301", "810303", "810309", "81030A", "810310", "810381",
    "810382", "810383", "810389", "820300", "820301", "820302", "820303", "830300", "8D0300",
};

// Four-digit codes: code byte and length byte.
const char* const kCodes[] = {
    "A703", "860B", "8705", "8F17", "8916", "8B16", "8C08", "8D12", "950B", "940A", "961D", "9104",
    "9207", "9304", "9008", "9508", "8804", "8E04", "970A", "9813", "990B", "9A03", "9B03", "9C05",
    "9D05", "9E13", "A011", "A107", "A803", "A80E", "A903", "A910", "8404", "8509", "A70A", "9603",
    "A503", "A603", "A60E", "A507", "8F12", "A90C", "9607", "7F06", "7F0C", "A90C",
};

int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    return -1;
}

int pairValue(const QString& s, int i) {
    const int hi = hexDigit(s[i]);
    const int lo = i + 1 < s.size() ? hexDigit(s[i + 1]) : -1;
    if (lo < 0) return hi < 0 ? 0 : hi;   // a lone final digit counts by its own value
    return (hi < 0 ? 0 : hi) * 16 + lo;
}

// Index of the first row for each code byte pair, built with the table.
struct Lookup {
    std::array<std::array<qint8, 256>, 256> first{};
    std::vector<std::array<int, 3>> bytes;   // code bytes of each row (third -1 when none)
    bool built = false;
};
Lookup g_lookup;

void buildLookup() {
    for (auto& r : g_lookup.first) r.fill(-1);
    g_lookup.bytes.clear();
    for (int row = 0; row < FrameTable.size(); ++row) {
        const QString& c = FrameTable[row].Code;
        const int b0 = pairValue(c, 0), b1 = pairValue(c, 2);
        g_lookup.bytes.push_back({b0, b1, c.size() >= 6 ? pairValue(c, 4) : -1});
        if (g_lookup.first[b0][b1] < 0) g_lookup.first[b0][b1] = static_cast<qint8>(row);
    }
    g_lookup.built = true;
}

}  // namespace

void InitFrameTable() {
    FrameTable.clear();
    FrameTable.reserve(101);
    for (const char* c : kSubCodes) FrameTable.push_back({QString::fromLatin1(c), 3, -1});
    for (const char* c : kCodes) {
        const QString code = QString::fromLatin1(c);
        FrameTable.push_back({code, static_cast<quint8>(code.mid(2, 2).toInt(nullptr, 16)), 0});
    }
    for (int r = 64; r <= 100; ++r)
        FrameTable.push_back({QStringLiteral("9F") + ByteToHex(static_cast<quint8>(r - 61)),
                              static_cast<quint8>(r - 61), 0});
    buildLookup();
}

bool FindFrame(const QString& twoBytes, const QString& thirdByte, int& row) {
    if (FrameTable.isEmpty()) InitFrameTable();
    const QString two = twoBytes.toUpper();
    const QString full = two + thirdByte.toUpper();
    for (int r = 0; r < FrameTable.size(); ++r) {
        if (!FrameTable[r].Code.startsWith(two)) continue;
        if (FrameTable[r].SubFlag == 0) {
            row = r;
            return true;
        }
        for (int k = r; k < FrameTable.size() && k <= 99; ++k) {
            if (FrameTable[k].Code == full) {
                row = k;
                return true;
            }
        }
    }
    return false;
}

// The parser's lookup: the same rules as the text form, without building text.
int FindFrameStart(quint8 b0, quint8 b1, int b2) {
    if (!g_lookup.built) InitFrameTable();   // the start-up builds it; a bare test may not have
    const int row = g_lookup.first[b0][b1];
    if (row < 0) return -1;
    if (FrameTable[row].SubFlag == 0) return row;
    if (b2 < 0) return -1;
    const int last = std::min<int>(static_cast<int>(g_lookup.bytes.size()) - 1, 99);
    for (int k = row; k <= last; ++k) {
        const auto& c = g_lookup.bytes[k];
        if (c[2] == b2 && c[0] == b0 && c[1] == b1) return k;
    }
    return -1;
}

int FindFrame(const QByteArray& data, int offset) {
    if (offset < 0 || offset + 1 >= data.size()) return -1;
    return FindFrameStart(static_cast<quint8>(data[offset]), static_cast<quint8>(data[offset + 1]),
                          offset + 2 < data.size() ? static_cast<quint8>(data[offset + 2]) : -1);
}

bool CheckHex(QString& text) {
    const QString src = text.trimmed().toUpper();
    QString out;
    out.reserve(src.size());
    for (QChar c : src) {
        if (c == QLatin1Char(' ')) continue;
        if (hexDigit(c) < 0) {
            text = out;
            return false;
        }
        out.append(c);
    }
    text = out;
    return true;
}

QString CheckSum(const QString& hex) {
    QByteArray bytes;
    bytes.reserve(hex.size() / 2 + 1);
    for (int i = 0; i < hex.size(); i += 2) bytes.append(static_cast<char>(pairValue(hex, i)));
    return ByteToHex(FrameReader::Sum(bytes));
}

QString ByteToHex(quint8 b) {
    static const char digits[] = "0123456789ABCDEF";
    QString s(2, QLatin1Char('0'));
    s[0] = QLatin1Char(digits[b >> 4]);
    s[1] = QLatin1Char(digits[b & 0x0F]);
    return s;
}

QString LongToHex(qint64 value, int width) {
    QString s = QString::number(static_cast<quint32>(static_cast<qint32>(value)), 16).toUpper();
    if (width <= 0) return QString();
    if (s.size() > width) return s.right(width);
    return s.rightJustified(width, QLatin1Char('0'));
}

QString SpaceHex(const QString& hex) {
    QString out;
    out.reserve(hex.size() + hex.size() / 2 + 1);
    for (int i = 0; i < hex.size(); i += 2) {
        out += hex.mid(i, 2);
        out += QLatin1Char(' ');
    }
    return out;
}

QByteArray HexToBytes(const QString& hex) {
    if (hex.size() < 2) return QByteArray(1, static_cast<char>(hex.isEmpty() ? 0 : std::max(0, hexDigit(hex[0]))));
    QByteArray out(hex.size() / 2, '\0');
    for (int i = 0; i < out.size(); ++i) out[i] = static_cast<char>(pairValue(hex, 2 * i));
    return out;
}

QString BytesToHex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex().toUpper()); }

}  // namespace ModComm
