#include "sim/Frames.h"

#include <QDate>
#include <QTime>
#include <cctype>

namespace sim {

// ---- hex text and checksum ---------------------------------------------

QByteArray fromHex(const QString& text) {
    // Blanks apart, nothing but pairs of hex digits makes a byte string.
    const QByteArray digits = text.toLatin1().simplified().replace(' ', QByteArray());
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    return digits.size() % 2 ? QByteArray() : QByteArray::fromHex(digits);
}

QString toHex(const QByteArray& bytes, bool spaced) {
    return QString::fromLatin1(bytes.toHex(spaced ? ' ' : '\0').toUpper());
}

quint8 checksum(const QByteArray& bytes) {
    unsigned sum = 0;
    for (char c : bytes) sum += quint8(c);
    return quint8(sum & 0xFF);
}

QByteArray withSum(const QByteArray& body) {
    QByteArray out = body;
    out.append(char(checksum(body)));
    return out;
}

// ---- the codes the switch knows ------------------------------------------

namespace {

struct Known {
    quint8 code;
    quint8 len;
    const char* thirds;   // allowed third bytes as hex text, nullptr = any
};

// Every frame either side may send: code byte, length byte and, for the
// three-byte orders named by their third byte, the values that exist.
const Known kKnown[] = {
    {0x7F, 0x06, nullptr}, {0x7F, 0x0C, nullptr},
    {0x80, 0x03, "0001"},
    {0x81, 0x03, "000103090A1081828389"},
    {0x82, 0x03, "00010203"},
    {0x83, 0x03, "00"},
    {0x84, 0x04, nullptr}, {0x85, 0x09, nullptr}, {0x86, 0x0B, nullptr},
    {0x87, 0x05, nullptr}, {0x88, 0x04, nullptr}, {0x89, 0x16, nullptr},
    {0x8B, 0x16, nullptr}, {0x8C, 0x08, nullptr},
    {0x8D, 0x03, "00"}, {0x8D, 0x12, nullptr},
    {0x8E, 0x04, nullptr}, {0x8F, 0x17, nullptr}, {0x8F, 0x12, nullptr},
    {0x90, 0x08, nullptr}, {0x91, 0x04, nullptr}, {0x92, 0x07, nullptr},
    {0x93, 0x04, nullptr}, {0x94, 0x0A, nullptr},
    {0x95, 0x08, nullptr}, {0x95, 0x0B, nullptr},
    {0x96, 0x03, nullptr}, {0x96, 0x07, nullptr}, {0x96, 0x1D, nullptr},
    {0x97, 0x0A, nullptr}, {0x98, 0x13, nullptr}, {0x99, 0x0B, nullptr},
    {0x9A, 0x03, nullptr}, {0x9B, 0x03, nullptr}, {0x9C, 0x05, nullptr},
    {0x9D, 0x05, nullptr}, {0x9E, 0x13, nullptr},
    {0xA0, 0x11, nullptr}, {0xA1, 0x07, nullptr},
    {0xA5, 0x03, nullptr}, {0xA5, 0x07, nullptr},
    {0xA6, 0x03, nullptr}, {0xA6, 0x0E, nullptr},
    {0xA7, 0x03, nullptr}, {0xA7, 0x0A, nullptr},
    {0xA8, 0x03, nullptr}, {0xA8, 0x0E, nullptr},
    {0xA9, 0x03, nullptr}, {0xA9, 0x10, nullptr}, {0xA9, 0x0C, nullptr},
};

const Known* findKnown(quint8 code, quint8 len) {
    if (code == 0x9F && len >= 0x03 && len <= 0x27) {
        static const Known k9F{0x9F, 0, nullptr};
        return &k9F;
    }
    for (const Known& k : kKnown)
        if (k.code == code && k.len == len) return &k;
    return nullptr;
}

bool thirdAllowed(const Known& k, quint8 third) {
    const QByteArray allowed = fromHex(QString::fromLatin1(k.thirds));
    return allowed.contains(char(third));
}

}  // namespace

int frameStart(quint8 code, quint8 len, bool haveThird, quint8 third) {
    const Known* k = findKnown(code, len);
    if (!k) return 0;
    if (!k->thirds) return 1;
    if (!haveThird) return -1;
    return thirdAllowed(*k, third) ? 1 : 0;
}

std::optional<Frame> FrameParser::next() {
    while (buf_.size() >= 2) {
        const quint8 code = quint8(buf_[0]);
        const quint8 len = quint8(buf_[1]);
        const int start = frameStart(code, len, buf_.size() >= 3, buf_.size() >= 3 ? quint8(buf_[2]) : 0);
        if (start < 0) return std::nullopt;           // need the third byte
        if (start == 0) {                             // not a frame: slide by one
            buf_.remove(0, 1);
            ++noise_;
            continue;
        }
        if (buf_.size() < len + 1) return std::nullopt;  // wait for the rest
        Frame f;
        f.body = buf_.left(len);
        f.sum = quint8(buf_[len]);
        f.sumOk = checksum(f.body) == f.sum;
        buf_.remove(0, len + 1);
        return f;
    }
    return std::nullopt;
}

// ---- Frame ------------------------------------------------------------------

QString Frame::code() const {
    if (body.size() < 2) return toHex(body);
    const quint8 c = at(0), l = at(1);
    const bool six = l == 0x03 && ((c >= 0x80 && c <= 0x83) || c == 0x8D);
    return toHex(body.left(six ? 3 : 2));
}

bool Frame::startsWith(const QString& hexPrefix) const {
    return hex().startsWith(hexPrefix.toUpper().remove(QLatin1Char(' ')));
}

QString Frame::describe() const {
    QString what;
    const QString c = code();
    static const std::pair<const char*, const char*> named[] = {
        {"820300", "ack"}, {"820301", "bad sum"}, {"820302", "record taken"}, {"820303", "record not stored"},
        {"830300", "probe"}, {"800300", "initialise"}, {"800301", "reset"}, {"810300", "table end"},
        {"8404", "monitor mode"}, {"950B", "probe answer"}, {"A011", "live call"}, {"A107", "balance query"},
        {"990B", "card state"}, {"970A", "port state"}, {"9607", "record upload"}, {"7F06", "collector order"},
        {"7F0C", "collector pointers"}};
    for (const auto& [code, name] : named)
        if (c == QLatin1String(code)) what = QString::fromLatin1(name);
    if (c.startsWith("8103") && c != "810300") what = (at(2) & 0x80) ? "table read" : "table begin";
    else if (c == "9603") what = at(2) ? "resume reports" : "pause reports";
    else if (c == "961D") what = (at(28) == 0x0A || at(28) == 0x1A) ? "deposit event" : "call record";
    if (auto fee = decodeFee(*this))
        what = QStringLiteral("fee ext %1 %2 fen ch %3").arg(fee->extLow).arg(fee->fen).arg(fee->channelByte, 2, 16, QLatin1Char('0'));
    else if (auto bal = decodeBalance(*this))
        what = QStringLiteral("balance %1 fen").arg(bal->signedFen());
    else if (auto lim = decodeTalkLimit(*this))
        what = QStringLiteral("talk limit ext %1 %2 s slot %3").arg(lim->extAddr).arg(lim->seconds).arg(lim->slot);
    else if (auto clk = decodeClock(*this))
        what = QStringLiteral("clock %1 weekday %2").arg(clk->when.toString("yyyy-MM-dd HH:mm:ss")).arg(clk->weekday);
    QString line = toHex(wire(), true);
    if (!sumOk) line += QStringLiteral(" (bad sum)");
    if (!what.isEmpty()) line += QStringLiteral("  ") + what;
    return line;
}

// ---- builders ---------------------------------------------------------------

quint8 bcd(int value) {
    value = qBound(0, value, 99);
    return quint8((value / 10) * 16 + value % 10);
}

static int nibbleOf(QChar c) {
    if (c == u'*') return 0xB;
    if (c == u'#') return 0xC;
    bool hex = false;
    const int v = QString(c).toInt(&hex, 16);
    return hex ? v : 0xF;
}

QByteArray packDigits(const QString& digits, int bytes) {
    QByteArray out(bytes, char(0xFF));
    const int n = qMin(int(digits.size()), bytes * 2);
    for (int i = 0; i < n; ++i) {
        const int v = nibbleOf(digits[i]);
        quint8 b = quint8(out[i / 2]);
        b = (i % 2 == 0) ? quint8((b & 0x0F) | (v << 4)) : quint8((b & 0xF0) | v);
        out[i / 2] = char(b);
    }
    return out;
}

QString unpackDigits(const QByteArray& bytes) { return toHex(bytes).remove(QLatin1Char('F')); }

static void putDateTime(QByteArray& b, int at, const QDateTime& t) {
    const QDate d = t.date();
    const QTime tm = t.time();
    b[at] = char(bcd(d.month()));
    b[at + 1] = char(bcd(d.day()));
    b[at + 2] = char(bcd(tm.hour()));
    b[at + 3] = char(bcd(tm.minute()));
    b[at + 4] = char(bcd(tm.second()));
}

// A frame of `len` bytes of `fill`, its code and length bytes set.
static QByteArray frameOf(quint8 code, int len, char fill = 0) {
    QByteArray b(len, fill);
    b[0] = char(code);
    b[1] = char(len);
    return b;
}

static QByteArray accountBytes(const QString& account) {
    return account.isEmpty() ? QByteArray(2, char(0xFF)) : packDigits(account, 2);
}

QByteArray CallRecord::body() const {
    QByteArray b = frameOf(0x96, 29);
    b[2] = char((extAddr >> 8) & 0xFF);
    b[3] = char(extAddr & 0xFF);
    b.replace(4, 1, indirect.isEmpty() ? QByteArray(1, char(0xFF)) : packDigits(indirect, 1));
    b.replace(5, 10, packDigits(called, 10));
    b[15] = char(byte15);
    b[16] = char(((channelHigh & 15) << 4) | (channel & 15));
    putDateTime(b, 17, start);
    b[22] = char(bcd(durationSec / 3600));
    b[23] = char(bcd(durationSec / 60 % 60));
    b[24] = char(bcd(durationSec % 60));
    b.replace(25, 2, accountBytes(account));
    b[27] = char(byte27);
    b[28] = char(type);
    return b;
}

QByteArray DepositEvent::body() const {
    QByteArray b = frameOf(0x96, 29, char(0xFF));
    b[2] = char(0);
    b[3] = char(extAddr & 0xFF);
    b[16] = char(channel & 15);
    putDateTime(b, 17, when);
    b[22] = char((fen >> 16) & 0xFF);
    b[23] = char((fen >> 8) & 0xFF);
    b[24] = char(fen & 0xFF);
    b[28] = char(deducted ? 0x1A : 0x0A);
    return b;
}

QByteArray LiveCall::body() const {
    QByteArray b = frameOf(0xA0, 17);
    b[2] = char((kind & 3) << 6);
    b[3] = char(extAddr & 0xFF);
    b.replace(4, 10, packDigits(dialled, 10));
    if (calledExtAddr >= 0) b[5] = char(calledExtAddr & 0xFF);
    b.replace(14, 2, accountBytes(account));
    b[16] = char((forwarded ? 0x80 : 0) | (channel & 15));
    return b;
}

QByteArray cardStateBody(int card, const std::vector<quint8>& ports) {
    QByteArray b = frameOf(0x99, 11);
    b[2] = char(card);
    for (int i = 0; i < 8 && i < int(ports.size()); ++i) b[3 + i] = char(ports[i]);
    return b;
}

QByteArray portStateBody(int channel, quint8 state, quint8 calling, quint8 called, quint8 third) {
    QByteArray b = frameOf(0x97, 10);
    b[2] = char(channel);
    b[3] = char(state);
    b[5] = char(calling);
    b[7] = char(called);
    b[9] = char(third);
    return b;
}

QByteArray balanceQueryBody(int extAddr, const QString& account, quint8 tag6) {
    QByteArray b = frameOf(0xA1, 7);
    b[2] = char((extAddr >> 8) & 0xFF);
    b[3] = char(extAddr & 0xFF);
    b.replace(4, 2, accountBytes(account));
    b[6] = char(tag6);
    return b;
}

QByteArray probeAnswerBody() { return frameOf(0x95, 11); }

// ---- decoders ---------------------------------------------------------------

std::optional<FeeOrder> decodeFee(const Frame& f) {
    if (f.size() != 8 || f.at(0) != 0x95 || f.at(1) != 0x08 || f.at(2) != 0x20) return std::nullopt;
    FeeOrder o;
    o.extLow = f.at(3);
    o.fen = (qint64(f.at(4)) << 16) | (f.at(5) << 8) | f.at(6);
    o.channelByte = f.at(7);
    return o;
}

std::optional<BalanceAnswer> decodeBalance(const Frame& f) {
    if (f.size() != 8 || f.at(0) != 0x95 || f.at(1) != 0x08 || f.at(2) != 0x10) return std::nullopt;
    BalanceAnswer a;
    a.negative = (f.at(4) & 0x80) != 0;
    a.fen = (qint64(f.at(4) & 0x7F) << 16) | (f.at(5) << 8) | f.at(6);
    return a;
}

std::optional<TalkLimit> decodeTalkLimit(const Frame& f) {
    if (f.size() != 7 || f.at(0) != 0x92 || f.at(1) != 0x07) return std::nullopt;
    TalkLimit t;
    t.extAddr = f.at(3);
    t.seconds = (f.at(4) << 8) | f.at(5);
    t.slot = f.at(6);
    return t;
}

static int fromBcd(quint8 b) {
    if ((b >> 4) > 9 || (b & 15) > 9) return -1;
    return (b >> 4) * 10 + (b & 15);
}

std::optional<ClockOrder> decodeClock(const Frame& f) {
    if (f.size() != 9 || f.at(0) != 0x85 || f.at(1) != 0x09) return std::nullopt;
    ClockOrder c;
    int v[7];
    for (int i = 0; i < 7; ++i) v[i] = fromBcd(f.at(2 + i));
    c.weekday = v[6];
    bool ok = true;
    for (int x : v) ok = ok && x >= 0;
    if (ok) c.when = QDateTime(QDate(1980 + v[0], v[1], v[2]), QTime(v[3], v[4], v[5]));
    return c;
}

}  // namespace sim
