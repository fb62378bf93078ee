#pragma once
// The one way a frame from the switch is read (code byte first, checksum not
// read): bytes, big-endian numbers, nibble digits, dial digits, the BCD date
// and time of an event, and the frame's code. A read past the frame's end, or
// a date or number field that holds none, throws FrameError; the dispatcher
// traces such a frame and drops it. A caller that means to take a short frame
// all the same fills it to its length first (`Padded`) and reads that.
#include <QByteArray>
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
    explicit FrameReader(const QByteArray& frame) : f_(frame) {}

    // `frame` cut to `size` bytes, or filled up to it with `filler`.
    static QByteArray Padded(const QByteArray& frame, int size, quint8 filler);

    const QByteArray& bytes() const { return f_; }
    int size() const { return int(f_.size()); }

    quint8 byte(int i) const;
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
    bool is(QLatin1StringView code) const;
    // The frame's code byte is that of `code`, whatever its length byte.
    bool sameKind(QLatin1StringView code) const;

private:
    QByteArray f_;
};

}  // namespace ModComm
