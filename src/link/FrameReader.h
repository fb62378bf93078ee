#pragma once
// The one way a frame from the switch is read (code byte first): its checksum,
// bytes, big-endian numbers, nibble digits, dial digits, the BCD date
// and time of an event, and the frame's code. A read past the frame's end, or
// a date or number field that holds none, throws FrameError; the dispatcher
// traces such a frame and drops it. A caller that means to take a short frame
// all the same fills it to its length first (`Padded`) and reads that.
#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QLatin1StringView>
#include <QString>
#include <stdexcept>

namespace ModComm {

class FrameError : public std::runtime_error {
public:
    explicit FrameError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
    QString text() const { return text_; }
private:
    QString text_;
};

class FrameReader {
public:
    // Reads `frame` where it is: the frame outlives the reader.
    explicit FrameReader(const QByteArray& frame) : f_(frame) {}
    // Keeps a frame made for the reading (a padded one).
    explicit FrameReader(QByteArray&& frame) : own_(std::move(frame)), f_(own_) {}

    // `frame` cut to `size` bytes, or filled up to it with `filler`.
    static QByteArray Padded(const QByteArray& frame, int size, quint8 filler);

    int size() const { return int(f_.size()); }

    // The checksum of `bytes`: their sum, modulo 256. The one routine for
    // every frame, received, sent or kept on the disk.
    static quint8 Sum(QByteArrayView bytes) {
        quint8 s = 0;
        for (char c : bytes) s = quint8(s + quint8(c));
        return s;
    }
    // The frame ends with the checksum of the bytes before it.
    bool sumHolds() const { return !f_.isEmpty() && Sum(f_.first(f_.size() - 1)) == quint8(f_.back()); }

    quint8 byte(int i) const {
        if (i < 0 || i >= f_.size()) tooShort();
        return quint8(f_.constData()[i]);
    }
    // Two bytes from `i`, high first.
    int word(int i) const;
    // Three bytes from `i`, high first: an amount in fen.
    qint64 amount(int i) const;
    // The nibble digits of a byte, high first, the filler F left out ("3F" gives "3").
    QString digits(int i) const;
    QString digits(int first, int last) const;
    // The digits of bytes first..last as dialled: "B" is "*", "C" is "#".
    QString dial(int first, int last) const;
    // A byte holding a decimal number of one or two digits; a byte that holds
    // none (a digit A to E, nothing but F) throws FrameError naming `what`.
    int decimal(int i, const char* what) const;
    // The month, day, hour, minute and second at bytes first..first+4; a
    // month later than today's belongs to last year. No such time throws FrameError.
    QDateTime dateTime(int first, const QDate& today) const;

    // The frame carries `code` (its hex text: code byte, length byte, and a
    // third byte for a six-digit code).
    bool is(QLatin1StringView code) const {
        const int n = int(code.size()) / 2;
        if (n == 0 || code.size() % 2 != 0 || f_.size() < n) return false;
        for (int k = 0; k < n; ++k)
            if (codeByte(code, k) != quint8(f_.constData()[k])) return false;
        return true;
    }
    // The frame's code byte is that of `code`, whatever its length byte.
    bool sameKind(QLatin1StringView code) const { return !f_.isEmpty() && codeByte(code, 0) == quint8(f_.constData()[0]); }

private:
    // Every frame the line takes is compared with codes: kept inline and
    // without conversions, so that the parser keeps its pace.
    static constexpr int nibble(char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    }
    // Byte k of a code's hex text, -1 past its end or where it is no hex (an ask for any frame).
    static int codeByte(QLatin1StringView code, int k) {
        if (2 * k + 1 >= code.size()) return -1;
        const int hi = nibble(code.data()[2 * k]), lo = nibble(code.data()[2 * k + 1]);
        return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
    }
    [[noreturn]] static void tooShort();

    // Copies of a reader share `own_`'s bytes, so the view stays good in each.
    QByteArray own_;
    QByteArrayView f_;
};

}  // namespace ModComm
