// The send-and-acknowledge and ask-and-answer primitives. Their waits poll the
// link and yield to window events, so timers, clicks and frame dispatch run
// (and may nest further waits) while one waits.
#include "core/ModDefine.h"
#include "link/ClsACK.h"
#include "link/ClsGetOrder.h"
#include "link/CommState.h"
#include "link/FrameCodes.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/Transport.h"
#include "platform/Clock.h"

namespace ModComm {

std::array<AckSlot, kSlotCount> AckRing{};
int AckIndex = 0;
std::array<AnswerSlot, kSlotCount> AnswerRing{};
int AnswerIndex = 0;

namespace {

// A short pause of the wait loops: about 2 ms of the tick, yielding meanwhile.
void pause2ms() {
    const qint64 start = platform::TickMs();
    do {
        platform::YieldEvents();
    } while (platform::TickMs() - start < 2);
}

bool ackInUse(const AckSlot& s) { return s.Busy; }
bool answerInUse(const AnswerSlot& s) { return s.Busy; }

// Takes a free slot, starting at the ring's next index; -1 when the ring is full.
// The slots keep their age, so the dispatcher serves the oldest wait first.
template <typename Ring, typename InUse>
int takeSlot(Ring& ring, int& index, InUse inUse) {
    int busy = 0;
    for (const auto& s : ring) busy += inUse(s) ? 1 : 0;
    if (busy >= kMaxWaits) return -1;
    for (int k = 0; k < kSlotCount; ++k) {
        const int i = (index + k) % kSlotCount;
        if (!inUse(ring[i])) {
            index = (i + 1) % kSlotCount;
            ring[i].Seq = ++CommState.SlotSeq;
            ring[i].Busy = true;
            return i;
        }
    }
    return -1;
}

// After a time-out, before the order goes again: the line is let go quiet
// (nothing received for a moment), what comes meanwhile is handled, so that
// a late acknowledgement of the attempt that timed out finds no wait and
// cannot complete the next one. Returns the milliseconds it took.
qint64 letLineGoQuiet(qint64 limitMs) {
    constexpr qint64 kQuietMs = 500;
    const qint64 start = platform::TickMs();
    qint64 lastHeard = start;
    int written = RxWrite;
    for (;;) {
        HandleArrived();
        const qint64 now = platform::TickMs();
        if (RxWrite != written) {
            written = RxWrite;
            lastHeard = now;
        }
        if (now - lastHeard >= qMin(kQuietMs, limitMs) || now - start >= limitMs) return now - start;
        pause2ms();
    }
}

void noteRefused(const QString& what, const QString& order) {
    LinkTrace::Note(platform::Now().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + what +
                    QStringLiteral(": ") + SpaceHex(order));
}

}  // namespace

SendResult SendOrder(const QString& order, bool waitAck, int timeoutSec, bool addSum) {
    ClsACK ack;
    return ack.SendOrder(order, waitAck, timeoutSec, addSum);
}

SendResult SendOrderOnce(const QString& order, int timeoutSec, bool addSum) {
    ClsACK ack;
    ack.attempts = 1;
    return ack.SendOrder(order, true, timeoutSec, addSum);
}

SendResult SendInTurn(const QString& order) {
    constexpr qint64 kIdleMs = 1000;   // a pause this long ends a run of rows
    const qint64 start = platform::TickMs();
    if (CommState.InTurnDone < 0 || start - CommState.InTurnDone >= kIdleMs) CommState.InTurnRows = 0;
    if (CommState.InTurnRows > 0 && CommState.LastAckTick >= 0) {
        const qint64 quiet = CommState.DoubledAcks || CommState.InTurnRows == 1 ? kEchoWindowMs : kInTurnQuietMs;
        // Bounded, so that a line that keeps acknowledging cannot hold the rows forever.
        for (;;) {
            // Rows sent while a frame is handled leave what came behind it to the parser's turn.
            if (CommState.Dispatching == 0) HandleArrived();
            else ProcessComm();
            const qint64 now = platform::TickMs();
            if (now - CommState.LastAckTick >= quiet || now - start >= 3 * kEchoWindowMs) break;
            pause2ms();
        }
    }
    const SendResult r = SendOrder(order, true, 4, true);
    CommState.InTurnDone = platform::TickMs();
    ++CommState.InTurnRows;
    return r;
}

bool DrainLink(int limitMs) {
    const qint64 deadline = platform::TickMs() + limitMs;
    for (;;) {
        ProcessComm();
        if (RxRead == RxWrite && !CommState.Matched && Link().drained()) return true;
        if (platform::TickMs() >= deadline) {
            LinkTrace::Note(QStringLiteral("线路未能在关闭数据库前处理完, 余下的数据由交换机重发"));
            return false;
        }
        pause2ms();
    }
}

AskResult GetOrder(QByteArray& answer, const QString& expectCode, bool flag, const QString& order, int timeoutSec) {
    ClsGetOrder ask;
    return ask.GetOrder(answer, expectCode, flag, order, timeoutSec);
}

int takeAckSlot() { return takeSlot(AckRing, AckIndex, ackInUse); }
int takeAnswerSlot() { return takeSlot(AnswerRing, AnswerIndex, answerInUse); }

}  // namespace ModComm

using namespace ModComm;

SendResult ClsACK::SendOrder(const QString& orderIn, bool waitAck, int timeoutSec, bool addSum) {
    QString order = orderIn;
    if (!CheckHex(order) || order.isEmpty()) return NotWaited;
    // The clock order carries the year as two decimal digits from 1980: a year
    // it cannot carry is refused, whoever built the order.
    if (order.startsWith(FrameCode::kSetClock)) {
        const QString yy = order.mid(4, 2);
        if (order.size() != (addSum ? 18 : 20) || yy.size() != 2 || !yy[0].isDigit() || !yy[1].isDigit()) {
            noteRefused(QStringLiteral("时钟命令无效"), order);
            return NotWaited;
        }
    }
    if (order.startsWith(FrameCode::kMonitorMode) && order.size() >= 8)
        qstrncpy(CommState.MonitorOrder, order.left(8).toLatin1().constData(), sizeof CommState.MonitorOrder);
    if (addSum) order += CheckSum(order);
    SendResult result = NotWaited;
    // The time the quiet line took after a time-out is taken from the next
    // attempt's wait: a send that is never acknowledged still ends after
    // its attempts' time-outs.
    qint64 quietMs = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const bool wait = waitAck && g_NoAnswerCount <= 6;
        int slot = -1;
        if (wait) {
            // What came before this send answers none of it: a wait the
            // station starts handles it first. A wait started while a frame
            // is handled does not, so that frame's answer goes before the
            // answers of the frames queued behind it; an acknowledgement
            // among those is known by where it lies on the line.
            if (CommState.Dispatching == 0) HandleArrived();
            // Take the slot before sending, so a full ring refuses the order
            // instead of sending it with nobody to receive its acknowledgement.
            slot = takeAckSlot();
            if (slot < 0) {
                noteRefused(QStringLiteral("等待已满, 命令未发送"), order);
                return result;
            }
            AckRing[slot].Pending = -1;
            AckRing[slot].Status = 2;
            AckRing[slot].SentAt = CommState.RxHeard;
        }
        if (!Link().send(order)) {
            if (slot >= 0) AckRing[slot] = AckSlot{};
            break;
        }
        if (!wait) break;
        const qint64 deadline = platform::TickMs() + qint64(timeoutSec) * 1000 - quietMs;
        while (platform::TickMs() < deadline) {
            ProcessComm();
            if (AckRing[slot].Pending == 0) break;
            pause2ms();
        }
        const int status = AckRing[slot].Status;
        const bool heard = AckRing[slot].Pending == 0;
        heardAt = heard ? AckRing[slot].HeardAt : -1;
        AckRing[slot] = AckSlot{};   // a late acknowledgement cannot complete this slot
        if (status == 0) {
            result = Acknowledged;
            break;
        }
        // 01 is the switch's report of a bad checksum: a failure, never success.
        result = status == 3 ? SwitchRefused : status == 1 ? SwitchBadSum : NoAcknowledgement;
        quietMs = 0;
        if (!heard && attempt + 1 < attempts) quietMs = letLineGoQuiet(qint64(timeoutSec) * 1000 / 2);
    }
    return result;
}

AskResult ClsGetOrder::GetOrder(QByteArray& answer, const QString& expectCode, bool flag, const QString& order,
                          int timeoutSec) {
    const int slot = takeAnswerSlot();
    if (slot < 0) {
        noteRefused(QStringLiteral("等待已满, 未等待 ") + expectCode, order);
        return AskTimedOut;
    }
    AnswerSlot& s = AnswerRing[slot];
    s.Code = expectCode;
    s.Flag = flag ? -1 : 0;
    s.Data = QByteArray(1, '\0');
    if (!order.isEmpty()) ModComm::SendOrder(order, false, 4, true);
    AskResult result = AskTimedOut;
    const qint64 start = platform::TickMs();
    for (;;) {
        if (platform::TickMs() - start >= qint64(timeoutSec) * 1000) break;
        ProcessComm();
        if (AnswerRing[slot].Data.size() > 1) {
            result = AnswerRing[slot].Flag != (flag ? -1 : 0) ? NothingMore : GotAnswer;
            answer = AnswerRing[slot].Data;
            if (expectCode != FrameCode::kCallRecord) ModComm::SendOrder(FrameCode::kAck, false, 4, true);
            break;
        }
        pause2ms();
    }
    AnswerRing[slot] = AnswerSlot{};
    return result;
}

namespace ModComm {

StreamAsk::StreamAsk(const QString& expectCode) : code_(expectCode) {
    slot_ = takeAnswerSlot();
    if (slot_ < 0) noteRefused(QStringLiteral("等待已满, 未等待 ") + expectCode, QString());
    else arm();
}

StreamAsk::~StreamAsk() { close(); }

void StreamAsk::close() {
    if (slot_ >= 0) AnswerRing[slot_] = AnswerSlot{};
    slot_ = -1;
}

void StreamAsk::arm() {
    AnswerSlot& s = AnswerRing[slot_];
    s.Code = code_;
    s.Flag = 0;
    s.Data = QByteArray(1, '\0');
    s.HeardAt = -1;
}

bool StreamAsk::takeArrivedBefore(QByteArray& answer, qint64 heardAt) {
    if (slot_ < 0 || AnswerRing[slot_].Data.size() <= 1) return false;
    const qint64 at = AnswerRing[slot_].HeardAt;
    if (heardAt < 0 || at < 0 || at >= heardAt) return false;
    answer = AnswerRing[slot_].Data;
    arm();
    return true;
}

AskResult StreamAsk::next(QByteArray& answer, int timeoutSec) {
    if (slot_ < 0) return GetOrder(answer, code_, false, QString(), timeoutSec);   // no slot was free
    const qint64 start = platform::TickMs();
    for (;;) {
        if (AnswerRing[slot_].Data.size() > 1) {
            const AskResult result = AnswerRing[slot_].Flag != 0 ? NothingMore : GotAnswer;
            answer = AnswerRing[slot_].Data;
            // Waiting again at once, before anything can yield.
            arm();
            if (code_ != FrameCode::kCallRecord) SendOrder(FrameCode::kAck, false, 4, true);
            return result;
        }
        if (platform::TickMs() - start >= qint64(timeoutSec) * 1000) return AskTimedOut;
        ProcessComm();
        if (AnswerRing[slot_].Data.size() <= 1) pause2ms();
    }
}

}  // namespace ModComm
