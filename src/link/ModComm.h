#pragma once
// The link with the switch: frame table and codec, rings, parser, the send and
// ask primitives, the dispatcher and the link's supervision.
//
// Orders travel through the station as upper-case hex text, two digits a byte;
// they become bytes only when they reach the transmit ring or a USB report.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

#include "link/LinkResults.h"
#include "link/MonitorState.h"   // StatusFrame, CardStates, PortStates

namespace platform {
class Comm;
}

struct FrameDef {
    QString Code;
    quint8 Len = 0;
    int SubFlag = 0;   // -1 when the third byte belongs to the code
};

// A send waiting for the switch's acknowledgement 82 03 ss.
struct AckSlot {
    int Pending = 0;    // -1 while a send waits
    int Status = 2;     // 2 until an acknowledgement came, then its status byte
    quint64 Seq = 0;    // order of taking: the dispatcher serves the oldest first
    bool Busy = false;  // owned by a send until it has read the status
    qint64 SentAt = -1; // bytes received when the order went: an acknowledgement
                        // heard by then is not this order's
    qint64 HeardAt = -1;// where on the line its acknowledgement ended, -1 unknown
    qint64 SentTick = -1;// tick the order went
};

// A frame a stream's wait took, kept until the stream hands it on.
struct HeldFrame {
    QByteArray Data;
    qint64 HeardAt = -1;// where on the line it ended, -1 unknown
    bool End = false;   // the stream's end frame
};

// An ask waiting for a frame of a given code.
struct AnswerSlot {
    QString Code;       // awaited table code or "ANY"; "" when free or served
    int Flag = 0;
    QByteArray Data;    // one byte while nothing has arrived
    qint64 HeardAt = -1;// where on the line the answer ended, -1 unknown
    quint64 Seq = 0;
    bool Busy = false;  // owned by an ask until it has taken the answer
    // A stream's wait stays open: every frame it takes joins `Held`, in the
    // order heard, and none is served into `Data`.
    bool Stream = false;
    QList<HeldFrame> Held;
};

namespace ModComm {

// ---- Frame table and hex helpers ----
extern QVector<FrameDef> FrameTable;
void InitFrameTable();
// True and the row when the two-byte text and the third-byte text start a known frame.
bool FindFrame(const QString& twoBytes, const QString& thirdByte, int& row);
// Row of the frame table whose code starts `data` at `offset`, -1 when none.
int FindFrame(const QByteArray& data, int offset = 0);
// The same for three bytes (b2 -1 when the third byte has not arrived).
int FindFrameStart(quint8 b0, quint8 b1, int b2);
// Trims, upper-cases and drops blanks in place; false (text cut before the
// first bad character) when the text is not hexadecimal.
bool CheckHex(QString& text);
// The checksum of an order written as hex text (`FrameReader::Sum` of its bytes), as two hex digits.
QString CheckSum(const QString& hex);
QString ByteToHex(quint8 b);
// Hex of `value` (32-bit two's complement when negative), padded or cut to `width` digits.
QString LongToHex(qint64 value, int width);
QString SpaceHex(const QString& hex);
QByteArray HexToBytes(const QString& hex);
QString BytesToHex(const QByteArray& bytes);

// ---- Rings and parser (the line that fills and empties them: Transport.h) ----
inline constexpr int kRingSize = 2048;
inline constexpr int kRingMask = kRingSize - 1;
extern std::array<quint8, kRingSize> RxBuf;
extern int RxRead, RxWrite;
extern std::array<quint8, kRingSize> TxBuf;
extern int TxRead, TxWrite;

// Unread bytes of the receive ring, unsent bytes of the transmit ring.
int RxCount();
int TxCount();
// Appends to the receive ring; bytes that do not fit are dropped (never written
// over unread ones) and traced. Returns the number stored.
int PutRxBuf(const QByteArray& bytes);
// Queues an order whole on the transmit ring and traces it; false (nothing
// queued, traced) when the text is not hex or does not fit whole.
bool PutTxBuf(const QString& order);
// One poll of the line in use: what waits goes, what arrived joins the receive ring.
void ReadComm();
void ParseFrame();
void ProcessComm();
// Reads what the line has brought by now and handles every whole frame of it
// (ProcessComm handles at most one a call). Run before a wait takes its slot,
// so that a frame that came for no wait, such as an acknowledgement sent
// twice, is not taken for the new one.
void HandleArrived();
// Empties both rings, forgets a half-matched frame and the USB sequence, and
// marks the link as not yet heard (g_NoAnswerCount 10). Run by the settings load.
void ResetLink();

// The serial control behind the serial line: the console's ComA once it exists.
void AttachPort(platform::Comm* port);
platform::Comm& ComA();

// ---- The USB collector's reports, under its line ----
// True when the write failed. An empty text writes nothing and counts as written.
bool WriteUSB(const QString& order, bool addSum = false);
// 0 when a report was read into `report` (64 bytes), else non-zero.
int ReadUSBPort(QByteArray& report);
void ReadUSB();

// ---- Send and ask primitives ----
inline constexpr int kSlotCount = 31;
inline constexpr int kMaxWaits = 30;
extern std::array<AckSlot, kSlotCount> AckRing;
extern int AckIndex;
extern std::array<AnswerSlot, kSlotCount> AnswerRing;
extern int AnswerIndex;

// Sends one order, waiting for the acknowledgement when asked (two attempts).
SendResult SendOrder(const QString& order, bool waitAck = false, int timeoutSec = 4, bool addSum = true);
// The same, waiting for the acknowledgement, but never sent a second time:
// for an order that must not be taken twice (a relative change).
SendResult SendOrderOnce(const QString& order, int timeoutSec = 4, bool addSum = true);
// Handles every frame the line has brought and sends every order waiting to
// go, yielding meanwhile, until nothing received waits to be handled and
// nothing waits to be sent (false when that takes longer than `limitMs`).
// Made before the databases close while the link stays open, since the reload
// after them empties the rings.
bool DrainLink(int limitMs = 3000);
// Handles what the line brings until the tick reaches `tick`, yielding meanwhile.
void ListenUntil(qint64 tick);
// Asks: sends `order` when not empty, then waits for a frame of `expectCode`.
AskResult GetOrder(QByteArray& answer, const QString& expectCode, bool flag, const QString& order, int timeoutSec = 5);

// A wait for the frames of one code over a whole stream (the records of an
// upload), set before the order that starts the stream and kept between two
// asks: a frame that comes right after the order's acknowledgement, or while
// the one before is being kept, is the stream's and never goes the
// dispatcher's own road. Every frame of the code (and the stream's end) heard
// while it is open is kept, in the order heard, however many come before the
// caller looks: none is handed to the dispatcher's road behind an earlier one.
class StreamAsk {
public:
    explicit StreamAsk(const QString& expectCode);
    ~StreamAsk();
    StreamAsk(const StreamAsk&) = delete;
    StreamAsk& operator=(const StreamAsk&) = delete;
    // The stream's next frame, as GetOrder with flag False and no order.
    AskResult next(QByteArray& answer, int timeoutSec = 5);
    // The first frame kept, when it ended on the line before `heardAt` (where
    // another frame ended), without waiting: false when the first did not.
    // Called until false, it takes every such frame in the order heard. An end
    // frame before `heardAt` ends nothing of this stream: it is answered as
    // when nobody waits for it, and skipped.
    bool takeArrivedBefore(QByteArray& answer, qint64 heardAt);
    // The stream is over: the frames kept and not taken go the dispatcher's
    // road, in their order, and so do frames of the code from now on.
    void close();
private:
    void arm();
    QString code_;
    int slot_ = -1;
};

// Rows of a download, one after another, each waiting for its acknowledgement
// (4 s an attempt, checksum appended). The frames carry no sequence number, and
// a switch may send an acknowledgement late and again a while after it; such a
// repeat that comes after the next row went would be taken for that row's. So
// before each row the line is let be quiet after the last answer as long as
// the link has heard a copy of an answer come after it (`CommStateRec::
// RepeatGapMs`: the longest over the last 64 rows, a quarter and 2 ms added,
// never more than kRepeatBoundMs), or until as many copies as it made of the
// last 16 answers came: a switch that never repeats costs no wait, one that
// stopped repeating is forgotten row by row. A copy later than anything heard
// before can still complete a row, so a run of rows (TurnRun) judges its
// answers afterwards.
SendResult SendInTurn(const QString& order);
inline constexpr int kRepeatBoundMs = 250;
// The while the next row would wait after the acknowledgement claimed last.
int RowWaitMs();

// One run of rows sent in turn, and what their answers are worth. The
// answers carry no row, so they stand only where they pair one to one with
// the rows: each row one answer within its wait, and nothing else heard but
// the copies the learned pattern foretells (none on a line that never
// repeated), each of the status it copies. A copy more or one missing, an
// answer of another status no row waited for, an attempt that heard nothing,
// or a refusal or bad sum on a line that repeats makes the run irregular:
// none of its answers stands, and what its rows did is read from the switch
// (transfer::HeldAsSent). On a line that never repeated a refusal or bad sum
// and the answer to the frame's second attempt are the row's own.
class TurnRun {
public:
    TurnRun();
    // A row in turn. A refusal heard that no row took stops the run: the row
    // is not sent and AnswerInDoubt comes back.
    SendResult send(const QString& order);
    // A row that must never be taken twice (a change of money), sent once.
    // On a line that has repeated, it goes once the line has been quiet for
    // kRepeatBoundMs, its answer is the first after it, and it is listened
    // after as long again: `certain` is false when no answer came or another
    // of a different status followed. On a line that never repeated it costs
    // no quiet: the answer is its own. What the line says around it is judged
    // here, not with the run's rows.
    SendResult sendAlone(const QString& order, bool& certain);
    // Waits as a row would before an ask that belongs to the run (an ask's
    // answer is no acknowledgement, but the ask comes in its turn).
    void quietForAsk();
    // After the last row sent (or the first that failed): listens as long as an
    // answer of the run may still come by the line's pace, then judges. True
    // when the answers pair one to one with the rows (sureRows() is rows());
    // false when they do not: no row's answer stands (sureRows() is 0).
    bool settle();
    int sureRows() const { return sure_; }
    int rows() const { return int(sentAt_.size()); }
    // The orders sent, in order, as given (hex without the sum).
    const QStringList& orders() const { return orders_; }
private:
    bool refusedUnclaimed() const;
    void doubt(const QString& why);
    void rebase();
    void checkCopies();
    qint64 start_;
    quint64 oddUnexplained_;
    QVector<qint64> sentAt_;
    QStringList orders_;
    bool begun_ = false;
    bool regular_ = true;
    quint64 straysBase_ = 0, otherBase_ = 0, expected_ = 0;
    qint64 slowest_ = 0;   // the longest a row of the run waited for its answer
    int sure_ = 0;
};

// ---- Dispatcher ----
void DealFrame(const QByteArray& frame, int row);
void DealRecord(const QByteArray& frame, bool bMonitor);
void DealDeposit(const QByteArray& frame, quint8 kind);
// The balance answer "950810..." for a balance in yuan (money in hundredths,
// sign bit, clamped to the largest magnitude the frame carries).
QString BalanceAnswer(qint64 cents, quint8 byte3, quint8 byte6);

// ---- Opening and supervising the link ----
// With the clock asked, the result is the clock order's SendResult taken as an
// OpenResult (Acknowledged is LinkOpened, NoAcknowledgement SwitchSilent).
OpenResult OpenComm(bool syncTime);
// The clock order "8509..." for `t`, or "" for years outside 1980..2079.
QString ClockOrder(const QDateTime& t);
void SetMonitor(bool bOn);
// True when the last monitor-mode order sent is the one SetMonitor(true)
// would send for the current view (also before any was sent).
bool MonitorModeOfView();
void CheckTimeLimit(const QDateTime& now);

}  // namespace ModComm
