// What happens to each good frame from the switch: waits are served first,
// then the frames nobody waits for are handled by their code.
#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "link/CommState.h"
#include "link/DepositEvents.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/LinkTrace.h"
#include "link/LinkWindows.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/Clock.h"
#include "platform/Db.h"

#include <stdexcept>

namespace ModComm {

namespace {

// The waiting slot taken longest ago that `pick` accepts, -1 when none.
template <typename Ring, typename Pick>
int oldest(const Ring& ring, Pick pick) {
    int best = -1;
    for (int i = 0; i < kSlotCount; ++i)
        if (pick(ring[i]) && (best < 0 || ring[i].Seq < ring[best].Seq)) best = i;
    return best;
}

bool waiting(const AnswerSlot& s) { return s.Busy && !s.Code.isEmpty(); }

void answerBalance(const QByteArray& frame) {
    SendOrder(FrameCode::kAck, false, 4, true);
    const FrameReader f(frame);
    platform::Recordset rs;
    if (f.byte(4) < 0xFF || f.byte(5) < 0xFF)
        rs = dbSwitch.query(QStringLiteral("Select * From account where account=?"), {f.digits(4, 5)});
    else
        rs = dbSwitch.query(QStringLiteral("Select * From extension where address=?"), {f.word(2)});
    const qint64 owner = rs.eof() ? 0 : rs.lng(QStringLiteral("userid"));
    platform::Currency remain;
    platform::Recordset u = dbSwitch.query(QStringLiteral("select remain from user where userid=?"), {owner});
    // The balance counts the charges logged that the station file has not taken yet.
    if (!u.eof()) remain = ModSwitch::BalanceOf(owner, u.cur(QStringLiteral("remain")));
    SendOrder(BalanceAnswer(remain.toFen(), f.byte(3), f.byte(6)), true, 4, true);
}

void linkProbe() {
    SendOrder(FrameCode::kAck, false, 4, true);
    if (LinkWindows::ProgressShown()) return;
    const QString clock = ClockOrder(platform::Now());
    if (!clock.isEmpty()) SendOrder(clock, false, 4, true);
    SetMonitor(true);
    SendOrder(FrameCode::kResumeReports, false, 4, true);
}

// "810300" nobody asked for by code: the rows of a flagged ask are over, so
// that ask ends; without one the frame is only acknowledged.
void tableEnd(const QByteArray& frame) {
    const int f = oldest(AnswerRing, [](const AnswerSlot& s) { return waiting(s) && s.Flag != 0; });
    if (f < 0) {
        SendOrder(FrameCode::kAck, false, 4, true);
        return;
    }
    AnswerRing[f].Flag = 0;
    AnswerRing[f].Code.clear();
    AnswerRing[f].Data = frame;
}

// "9607": the record stream is over, so the ask for its next record ends with
// its flag turned (a stream keeps it among its frames); without one the frame
// is only acknowledged.
void recordEnd(const QByteArray& frame, qint64 heardAt) {
    const int f =
        oldest(AnswerRing, [](const AnswerSlot& s) { return waiting(s) && s.Code == FrameCode::kCallRecord; });
    if (f < 0) {
        SendOrder(FrameCode::kAck, false, 4, true);
        return;
    }
    if (AnswerRing[f].Stream) {
        AnswerRing[f].Held.append(HeldFrame{frame, heardAt, true});
        return;
    }
    AnswerRing[f].Flag = AnswerRing[f].Flag != 0 ? 0 : -1;
    AnswerRing[f].Code.clear();
    AnswerRing[f].Data = frame;
}

// The last state report of a channel and of a card, kept for the monitor views.
void portState(const QByteArray& frame) {
    const int ch = FrameReader(frame).byte(2);
    if (ch >= 16 || ch >= PortStates.size()) throw std::out_of_range("channel index out of range");
    PortStates[ch].Data = frame;
}

void cardState(const QByteArray& frame) {
    const int card = FrameReader(frame).byte(2);
    if (card >= 18 || card >= CardStates.size()) throw std::out_of_range("card index out of range");
    CardStates[card].Data = frame;
}

}  // namespace

QString BalanceAnswer(qint64 cents, quint8 byte3, quint8 byte6) {
    constexpr qint64 kMax = 0x7FFFFF;   // 7 + 16 bits of magnitude
    const bool negative = cents < 0;
    qint64 mag = negative ? -cents : cents;
    if (mag > kMax) mag = kMax;
    return FrameCode::kBalanceAnswer + ByteToHex(byte3) +
           ByteToHex(static_cast<quint8>((negative ? 0x80 : 0) | ((mag >> 16) & 0x7F))) +
           ByteToHex(static_cast<quint8>((mag >> 8) & 0xFF)) + ByteToHex(static_cast<quint8>(mag & 0xFF)) +
           ByteToHex(byte6);
}

void DealFrame(const QByteArray& frame, int row) {
    // Where the frame ended on the line; a frame handed in from elsewhere has no place there.
    const qint64 heardAt = CommState.FrameHeardAt;
    CommState.FrameHeardAt = -1;
    // While a frame is handled, its own answers go first: the waits it starts
    // leave what arrived behind it to the parser, in its turn.
    struct Depth {
        Depth() { ++CommState.Dispatching; }
        ~Depth() { --CommState.Dispatching; }
    } depth;
    try {
        const FrameReader f(frame);
        if (f.sameKind(FrameCode::kAck)) {
            // An acknowledgement heard before an order went cannot be that order's.
            const int i = oldest(AckRing, [heardAt](const AckSlot& s) {
                return s.Pending != 0 && (heardAt < 0 || s.SentAt < 0 || heardAt > s.SentAt);
            });
            if (i >= 0) {
                AckRing[i].Pending = 0;
                AckRing[i].Status = f.byte(2);
                AckRing[i].HeardAt = heardAt;
                HeardAck(f.byte(2), true, AckRing[i].SentTick);
            } else {
                // Late, or sent twice: it belongs to no order now waiting.
                HeardAck(f.byte(2), false, -1);
                LinkTrace::Note(platform::Now().toString(QStringLiteral("HH:mm:ss")) +
                                QStringLiteral(" 无人等待的确认: ") + SpaceHex(BytesToHex(frame)));
            }
            return;
        }
        const QString& code = row >= 0 && row < FrameTable.size() ? FrameTable[row].Code : QString();
        const int w = oldest(AnswerRing, [&](const AnswerSlot& s) {
            return waiting(s) && (s.Code == code || s.Code == FrameCode::kAnyCode);
        });
        if (w >= 0 && AnswerRing[w].Stream) {
            AnswerRing[w].Held.append(HeldFrame{frame, heardAt, false});
            return;
        }
        if (w >= 0) {
            AnswerRing[w].Code.clear();
            AnswerRing[w].Data = frame;
            AnswerRing[w].HeardAt = heardAt;
            return;
        }
        if (code == FrameCode::kTableEnd) tableEnd(frame);
        else if (code == FrameCode::kLinkProbe) linkProbe();
        else if (code == FrameCode::kProbeAnswer) SendOrder(FrameCode::kAck, false, 4, true);
        else if (code == FrameCode::kCallRecord) DealRecord(frame, false);
        else if (code == FrameCode::kRecordEnd) recordEnd(frame, heardAt);
        else if (code == FrameCode::kPortState) portState(frame);
        else if (code == FrameCode::kCardState) cardState(frame);
        else if (code == FrameCode::kMonitorRecord) DealRecord(frame, true);
        else if (code == FrameCode::kBalanceQuery) answerBalance(frame);
    } catch (const std::exception& e) {
        LinkTrace::Note(QStringLiteral("Handle Error :") + QString::fromUtf8(e.what()));
    }
}

void DealRecord(const QByteArray& frame, bool bMonitor) {
    if (!bMonitor) {
        const quint8 type = FrameReader(frame).byte(28);
        if (type == 0x0A || type == 0x1A) {
            DealDeposit(frame, type == 0x0A ? 0 : 1);
            return;
        }
        CurrentMonitorSink().Record(frame, true);
        return;
    }
    if (g_MonitorOn) CurrentMonitorSink().Monitor(frame);
}

void DealDeposit(const QByteArray& frame, quint8 kind) {
    bool stored = false;
    bool added = false;
    ModGeneral::DepositEvent e;
    try {
        e = ModGeneral::ReadDepositEvent(frame);
        e.kind = kind;
        added = ModGeneral::StoreDepositEvent(e);
        stored = true;
    } catch (const std::exception&) {
        stored = false;
    }
    if (stored) {
        if (added) ModGeneral::ShowDepositEvent(e);
        RecordErrCount = 0;
        SendOrder(FrameCode::kAckStored, true, 4, true);
        return;
    }
    ++RecordErrCount;
    if (RecordErrCount > 2) {
        // Given up so that the switch stops sending it: the deposit it
        // changed stands, only its history row is missing. The frame stays
        // in the record error log, and the event as a reject row among the
        // records the station could not take.
        CurrentMonitorSink().GiveUp(frame, QStringLiteral("押金事件未能写入押金历史, 已放弃: ") + SpaceHex(BytesToHex(frame)));
        SendOrder(FrameCode::kAckStored, false, 4, true);
        RecordErrCount = 0;
    } else {
        SendOrder(FrameCode::kAckResend, false, 4, true);
    }
}

}  // namespace ModComm
