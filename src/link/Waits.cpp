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

#include <exception>

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

namespace {

constexpr int kMostRepeats = 2;
std::array<AckEvent, kAckEventCount> g_events{};
int g_eventNext = 0;

// Handles what arrived, as a wait between rows may: rows sent while a frame is
// handled leave what came behind it to the parser's turn.
void handleBetweenRows() {
    if (CommState.Dispatching == 0) HandleArrived();
    else ProcessComm();
}

// How long after the acknowledgement claimed last the next row waits.
qint64 repeatWaitMs() {
    const int gap = CommState.RepeatGapMs;
    if (gap <= 0) return 0;
    return qMin<qint64>(kRepeatBoundMs, gap + gap / 4 + 2);
}

// What the row just answered taught, remembered over the last rows: the
// learned while is the longest gap among them, the copies the most of the
// last sixteen (a switch that stopped repeating is forgotten row by row).
void rememberRow() {
    CommStateRec& c = CommState;
    if (c.RememberedClaim == c.ClaimedAckTick) return;
    c.RememberedClaim = c.ClaimedAckTick;
    const int k = c.RowNext;
    c.RowGapMs[k] = qint16(c.FirstStrayGap);
    c.RowCopies[k] = qint8(qMin(c.StraysSinceClaim, kMostRepeats));
    c.RowNext = (k + 1) % CommStateRec::kRowsRemembered;
    int gap = 0, copies = 0;
    for (int i = 0; i < CommStateRec::kRowsRemembered; ++i) {
        gap = qMax(gap, int(c.RowGapMs[i]));
        const int age = (k - i + CommStateRec::kRowsRemembered) % CommStateRec::kRowsRemembered;
        if (age < 16) copies = qMax(copies, int(c.RowCopies[i]));
    }
    c.RepeatGapMs = gap;
    c.RepeatsPerAck = copies;
}

// Lets the repeats of the acknowledgement claimed last pass before a row:
// the learned while after it, or until as many copies as the switch makes came.
void letRepeatsPass() {
    const qint64 start = platform::TickMs();
    const bool claimed = CommState.ClaimedAckTick >= 0;
    // Nothing to wait for: the send handles what came before it.
    if (repeatWaitMs() > 0 && claimed) {
        for (;;) {
            handleBetweenRows();
            const qint64 now = platform::TickMs();
            if (now - CommState.ClaimedAckTick >= repeatWaitMs()) break;
            if (CommState.RepeatsPerAck > 0 && CommState.StraysSinceClaim >= CommState.RepeatsPerAck) break;
            // Bounded, so that a line that keeps acknowledging cannot hold the rows forever.
            if (now - start >= 3 * kRepeatBoundMs) break;
            pause2ms();
        }
    }
    if (claimed) rememberRow();
}

// Lets the line be quiet for `quietMs` after the last acknowledgement heard,
// claimed or not; false when it kept talking for a long while.
bool letLineBeQuiet(qint64 quietMs) {
    const qint64 start = platform::TickMs();
    for (;;) {
        handleBetweenRows();
        const qint64 now = platform::TickMs();
        if (CommState.LastAckTick < 0 || now - CommState.LastAckTick >= quietMs) return true;
        if (now - start >= 4 * kRepeatBoundMs + quietMs) return false;
        pause2ms();
    }
}

}  // namespace

void HeardAck(int status, bool claimed, qint64 sentTick) {
    const qint64 now = platform::TickMs();
    CommStateRec& c = CommState;
    AckEvent e{now, status, claimed, true};
    if (claimed) {
        if (sentTick >= 0) c.LatencyMs = qMax(c.LatencyMs * 63.0 / 64.0, double(qMin<qint64>(now - sentTick, 4000)));
        c.ClaimedAckTick = now;
        c.ClaimedStatus = status;
        c.StraysSinceClaim = 0;
        c.FirstStrayGap = -1;
    } else {
        ++c.StraysSinceClaim;
        ++c.Strays;
        c.RepeatsSeen = true;
        if (c.ClaimedAckTick < 0 || status != c.ClaimedStatus) ++c.StraysOtherStatus;
        const qint64 gap = c.ClaimedAckTick >= 0 ? now - c.ClaimedAckTick : -1;
        // A copy of the answer claimed last, no more copies than the switch is
        // known to make: a repeat. Anything else may be an answer that went to
        // the wrong row, or the missing answer of the row that took it.
        e.explained = c.ClaimedAckTick >= 0 && status == c.ClaimedStatus &&
                      c.StraysSinceClaim <= qMax(1, c.RepeatsPerAck);
        if (c.StraysSinceClaim == 1 && gap >= 0 && gap <= kRepeatBoundMs) c.FirstStrayGap = gap;
    }
    c.LastAckTick = now;
    if (status != 0 && claimed) ++c.OddClaimed;
    if (status != 0 && !claimed && !e.explained) ++c.OddUnexplained;
    if (!claimed || status != 0) {
        g_events[g_eventNext] = e;
        g_eventNext = (g_eventNext + 1) % kAckEventCount;
    }
}

void ForgetAckEvents() {
    g_events.fill(AckEvent{});
    g_eventNext = 0;
}

QVector<AckEvent> AckEventsSince(qint64 fromTick) {
    QVector<AckEvent> out;
    for (int k = 0; k < kAckEventCount; ++k) {
        const AckEvent& e = g_events[(g_eventNext + k) % kAckEventCount];
        if (e.tick >= 0 && e.tick >= fromTick) out.append(e);
    }
    return out;
}

int RowWaitMs() { return int(repeatWaitMs()); }

SendResult SendInTurn(const QString& order) {
    letRepeatsPass();
    return SendOrder(order, true, 4, true);
}

TurnRun::TurnRun() : start_(platform::TickMs()), oddUnexplained_(CommState.OddUnexplained) {}

bool TurnRun::refusedUnclaimed() const { return CommState.OddUnexplained != oddUnexplained_; }

void TurnRun::doubt(const QString& why) {
    if (!regular_) return;
    regular_ = false;
    LinkTrace::Note(QStringLiteral("应答与所发的行未能一一对应(%1), 自第1行起由交换机所存的内容确定").arg(why));
}

void TurnRun::rebase() {
    straysBase_ = CommState.Strays;
    otherBase_ = CommState.StraysOtherStatus;
    expected_ = 0;
}

// The copies heard since the run's rows began are exactly those the learned
// pattern foretold for the answers claimed, each of the status it copies:
// otherwise an answer may have gone to another row than its own.
void TurnRun::checkCopies() {
    if (CommState.StraysOtherStatus != otherBase_) doubt(QStringLiteral("另一状态的确认"));
    const quint64 heard = CommState.Strays - straysBase_;
    if (heard > expected_) doubt(QStringLiteral("多余的确认"));
    else if (heard < expected_) doubt(QStringLiteral("缺少重发的确认"));
}

SendResult TurnRun::send(const QString& order) {
    letRepeatsPass();
    if (refusedUnclaimed()) {
        doubt(QStringLiteral("无人等待的拒绝"));
        return AnswerInDoubt;
    }
    if (!begun_) {
        // What came before the first row was the line's before the run.
        begun_ = true;
        rebase();
    } else {
        checkCopies();
    }
    const int copies = CommState.RepeatsPerAck;
    const bool repeating = CommState.RepeatsSeen;
    const quint64 odd = CommState.OddClaimed;
    const quint64 timeouts = CommState.AckTimeouts;
    const qint64 claimed = CommState.ClaimedAckTick;
    const double pace = CommState.LatencyMs;
    const qint64 sent = platform::TickMs();
    sentAt_.append(sent);
    orders_.append(order);
    const SendResult r = SendOrder(order, true, 4, true);
    // An answer much later than the line's answers come may be a copy of
    // another row's, come late, while this row's own was lost.
    if (CommState.ClaimedAckTick != claimed && pace > 0 && CommState.ClaimedAckTick - sent > qint64(3 * pace) + 100)
        doubt(QStringLiteral("应答晚于线路常有的时间"));
    // An attempt that heard nothing: its answer may still come, to another row.
    if (CommState.AckTimeouts != timeouts) doubt(QStringLiteral("某行没有应答"));
    // A refusal or a bad sum, then another answer: on a line that never
    // repeated both are the row's own, as the two attempts of the frame rule
    // say; on one that repeats, either may be another row's.
    if (CommState.OddClaimed != odd && (repeating || CommState.RepeatsSeen)) doubt(QStringLiteral("拒绝或校验错"));
    if (CommState.ClaimedAckTick != claimed) {
        expected_ += quint64(qMax(0, copies));
        slowest_ = qMax(slowest_, CommState.ClaimedAckTick - sent);
    }
    return r;
}

void TurnRun::quietForAsk() { letRepeatsPass(); }

SendResult TurnRun::sendAlone(const QString& order, bool& certain) {
    certain = false;
    // A line that never repeated owes nothing: no quiet before, none after.
    const bool repeating = CommState.RepeatsSeen;
    if (repeating && !letLineBeQuiet(kRepeatBoundMs)) {
        LinkTrace::Note(QStringLiteral("线路不停地确认, 命令未发送: ") + SpaceHex(order));
        return NotWaited;
    }
    const qint64 sent = platform::TickMs();
    sentAt_.append(sent);
    orders_.append(order);
    ClsACK ack;
    ack.attempts = 1;
    const SendResult r = ack.SendOrder(order, true, 4, true);
    if (r == NoAcknowledgement || r == NotWaited) {
        rebase();
        return r;
    }
    if (!repeating && !CommState.RepeatsSeen) {
        certain = true;
        rebase();
        return r;
    }
    // Heard after a quiet line, the first answer is this row's. It stands
    // unless another of a different status follows while a repeat may come.
    const int status = CommState.ClaimedStatus;
    const qint64 claimed = CommState.ClaimedAckTick;
    letLineBeQuiet(kRepeatBoundMs);
    certain = true;
    for (const AckEvent& e : AckEventsSince(claimed))
        if (!e.claimed && e.status != status) certain = false;
    // What the line said around this row is judged here, not by the run.
    rebase();
    return r;
}

bool TurnRun::settle() {
    sure_ = rows();
    if (!begun_ && sentAt_.isEmpty()) return true;
    // The last row's copies, as a next row would wait for them.
    letRepeatsPass();
    // Then the line is heard out: as long as an answer of the run may still
    // come by the pace the line has shown (a copy, an answer late), bounded.
    // On a line that never repeated, a first copy or a late answer comes
    // within about the run's slowest answer after the last answer.
    const qint64 last = sentAt_.isEmpty() ? start_ : sentAt_.last();
    const qint64 latency = CommState.RepeatsSeen ? 2 * qint64(CommState.LatencyMs) + 2 : slowest_ + 8;
    const qint64 quietMs = CommState.RepeatsSeen ? qMax(latency + 18, qint64(repeatWaitMs())) : latency;
    const qint64 begun = platform::TickMs();
    for (;;) {
        handleBetweenRows();
        const qint64 now = platform::TickMs();
        const bool quiet = CommState.LastAckTick < 0 || now - CommState.LastAckTick >= quietMs;
        if ((now >= last + latency && quiet) || now - begun >= 4000) break;
        pause2ms();
    }
    if (begun_) checkCopies();
    if (regular_) return true;
    sure_ = 0;
    return false;
}

void ListenUntil(qint64 tick) {
    while (platform::TickMs() < tick) {
        ProcessComm();
        pause2ms();
    }
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
            AckRing[slot].SentTick = platform::TickMs();
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
        if (!heard) ++CommState.AckTimeouts;
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

StreamAsk::~StreamAsk() {
    // Left by an exception: what is kept was not answered, so the switch
    // sends it again; nothing more is done on the way out.
    if (std::uncaught_exceptions() > 0) {
        if (slot_ >= 0) AnswerRing[slot_] = AnswerSlot{};
        slot_ = -1;
        return;
    }
    try {
        close();
    } catch (...) {
    }
}

void StreamAsk::close() {
    if (slot_ < 0) return;
    const QList<HeldFrame> left = std::move(AnswerRing[slot_].Held);
    AnswerRing[slot_] = AnswerSlot{};
    slot_ = -1;
    // What the stream did not take goes the road it would have gone had
    // nobody waited, in the order it came.
    for (const HeldFrame& h : left) DealFrame(h.Data, FindFrame(h.Data));
}

void StreamAsk::arm() {
    AnswerSlot& s = AnswerRing[slot_];
    s.Code = code_;
    s.Flag = 0;
    s.Data = QByteArray(1, '\0');
    s.HeardAt = -1;
    s.Stream = true;
}

bool StreamAsk::takeArrivedBefore(QByteArray& answer, qint64 heardAt) {
    if (slot_ < 0 || heardAt < 0) return false;
    QList<HeldFrame>& held = AnswerRing[slot_].Held;
    while (!held.isEmpty()) {
        const qint64 at = held.first().HeardAt;
        if (at < 0 || at >= heardAt) return false;
        const HeldFrame h = held.takeFirst();
        if (h.End) {
            SendOrder(FrameCode::kAck, false, 4, true);
            continue;
        }
        answer = h.Data;
        return true;
    }
    return false;
}

AskResult StreamAsk::next(QByteArray& answer, int timeoutSec) {
    if (slot_ < 0) return GetOrder(answer, code_, false, QString(), timeoutSec);   // no slot was free
    const qint64 start = platform::TickMs();
    for (;;) {
        if (!AnswerRing[slot_].Held.isEmpty()) {
            const HeldFrame h = AnswerRing[slot_].Held.takeFirst();
            answer = h.Data;
            if (code_ != FrameCode::kCallRecord) SendOrder(FrameCode::kAck, false, 4, true);
            return h.End ? NothingMore : GotAnswer;
        }
        if (platform::TickMs() - start >= qint64(timeoutSec) * 1000) return AskTimedOut;
        ProcessComm();
        if (AnswerRing[slot_].Held.isEmpty()) pause2ms();
    }
}

}  // namespace ModComm
