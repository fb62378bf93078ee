#pragma once
// The switch's side of the frame protocol, written from the wire format alone
// (code byte, length byte, data, 8-bit sum) and not from the station's own
// encoder, so that the two can disagree and a test can tell.
//
// Everything here is plain data: byte arrays in, byte arrays out. Money travels
// as whole fen (hundredths of a yuan), never as floating point.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// ---- hex text and checksum ---------------------------------------------

// "83 03 00" or "830300" -> bytes. Blanks are ignored; anything that is not a
// hex digit makes the result empty.
QByteArray fromHex(const QString& text);
// Bytes -> "830300" (upper case, no blanks), or "83 03 00" with spaced = true.
QString toHex(const QByteArray& bytes, bool spaced = false);
// Sum of all bytes, modulo 256.
quint8 checksum(const QByteArray& bytes);
// body + its checksum byte.
QByteArray withSum(const QByteArray& body);
inline QByteArray withSum(const QString& hexBody) { return withSum(fromHex(hexBody)); }

// ---- frames ----------------------------------------------------------------

// One frame as it travelled: `body` is the code byte up to the last data byte
// (body.size() equals the length byte), `sum` the checksum byte as received.
struct Frame {
    QByteArray body;
    quint8 sum = 0;
    bool sumOk = true;

    quint8 at(int i) const { return i >= 0 && i < body.size() ? quint8(body[i]) : 0; }
    int size() const { return int(body.size()); }
    // "830300" style code: four digits (code and length), six for the frames
    // whose third byte names them (80..83 03 xx, 8D 03 00).
    QString code() const;
    QString hex() const { return toHex(body); }          // without the sum
    QByteArray wire() const { QByteArray w = body; w.append(char(sum)); return w; }
    bool startsWith(const QString& hexPrefix) const;      // on hex(), e.g. "950820"
    // One readable line: the spaced hex and what the frame means.
    QString describe() const;
};

// Is (code byte, length byte[, third byte]) the start of a frame we know?
// Returns 0 when not a frame start, 1 when it is, -1 when a third byte is
// needed to tell and `haveThird` is false.
int frameStart(quint8 code, quint8 len, bool haveThird, quint8 third);

// Cuts a byte stream into frames. Bytes that do not begin a known frame are
// skipped one at a time and counted as noise; a frame with a wrong sum is
// still returned (sumOk = false) and its bytes are consumed.
class FrameParser {
public:
    void feed(const QByteArray& bytes) { buf_.append(bytes); }
    std::optional<Frame> next();
    qint64 noiseBytes() const { return noise_; }
private:
    QByteArray buf_;
    qint64 noise_ = 0;
};

// ---- builders of the frames the switch sends -----------------------------

// Two decimal digits in one byte, as the switch writes dates and times: 23 -> 0x23.
quint8 bcd(int value);
// Digits (0-9, '*', '#', 'B', 'C', 'E') packed a nibble each, F-filled to
// `bytes` bytes; longer texts are cut.
QByteArray packDigits(const QString& digits, int bytes);
// The reverse: nibbles as characters, F dropped (B and C stay letters).
QString unpackDigits(const QByteArray& bytes);

// "961D" call record (29 bytes before the sum).
struct CallRecord {
    int extAddr = 0;            // bytes 2-3, big-endian
    QString indirect;           // byte 4, two digits ("" = FF)
    QString called;             // bytes 5-14, up to 20 digits, F-filled
    quint8 byte15 = 0xFF;       // unused by the station
    int channel = 0;            // byte 16 low nibble: the trunk / supervision slot
    int channelHigh = 0;        // byte 16 high nibble (echoed in the fee frame)
    QDateTime start;            // bytes 17-21: month, day, hour, minute, second
    int durationSec = 0;        // bytes 22-24: hours, minutes, seconds (two digits each)
    QString account;            // bytes 25-26, four digits ("" = FF FF)
    quint8 byte27 = 0xFF;
    quint8 type = 1;            // byte 28: 2 internal, 3 incoming, 6-9 wake-up, 16 forwarded, else outgoing
    QByteArray body() const;
};

// Deposit event: the same "961D" frame with type 0x0A (added) or 0x1A
// (deducted); bytes 22-24 carry the amount in fen as a 24-bit number.
struct DepositEvent {
    int extAddr = 0;            // byte 3 (byte 2 is 0)
    bool deducted = false;      // type 0x1A, else 0x0A
    QDateTime when;             // bytes 17-21
    qint64 fen = 0;             // 0 .. 0xFFFFFF
    int channel = 0;
    QByteArray body() const;
};

// "A011" live call (17 bytes).
struct LiveCall {
    int kind = 0;               // byte 2 bits 7-6: 1 incoming, 2 internal, 0/3 outgoing
    int extAddr = 0;            // byte 3
    QString dialled;            // bytes 4-13, F-filled
    int calledExtAddr = -1;     // internal calls: byte 5 holds the called extension's address
    QString account;            // bytes 14-15 ("" = FF FF)
    bool forwarded = false;     // byte 16 bit 7
    int channel = 0;            // byte 16 bits 3-0
    QByteArray body() const;
};

QByteArray cardStateBody(int card, const std::vector<quint8>& ports);      // "990B"
QByteArray portStateBody(int channel, quint8 state, quint8 calling,
                         quint8 called, quint8 third);                      // "970A"
// "A107": extension address, account digits ("" = FF FF), and the two bytes
// that the answer echoes (byte 3 is also the address's low byte).
QByteArray balanceQueryBody(int extAddr, const QString& account, quint8 tag6 = 0);
// "950B", the answer to the probe: the station reads only its code, so the
// eight data bytes are left zero.
QByteArray probeAnswerBody();

// ---- decoders of the frames the station sends ---------------------------

struct FeeOrder {             // "950820"
    int extLow = 0;           // byte 3
    qint64 fen = 0;           // bytes 4-6
    quint8 channelByte = 0;   // byte 7
};
std::optional<FeeOrder> decodeFee(const Frame& f);

struct BalanceAnswer {        // "950810"
    bool negative = false;
    qint64 fen = 0;           // magnitude, 23 bits
    qint64 signedFen() const { return negative ? -fen : fen; }
};
std::optional<BalanceAnswer> decodeBalance(const Frame& f);

struct TalkLimit {            // "9207"
    int extAddr = 0;
    int seconds = 0;          // 0 cut now, 0xFFFF no limit
    int slot = 0;
};
std::optional<TalkLimit> decodeTalkLimit(const Frame& f);

struct ClockOrder {           // "8509"
    QDateTime when;           // invalid when a field is not two decimal digits
    int weekday = 0;          // 1 Monday .. 7 Sunday
};
std::optional<ClockOrder> decodeClock(const Frame& f);

}  // namespace sim
