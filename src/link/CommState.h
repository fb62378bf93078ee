#pragma once
// State the link keeps between poll steps; private to the link module.
#include <QVector>
#include <QtGlobal>

namespace ModComm {

struct CommStateRec {
    bool Matched = false;      // a frame start is recognised at RxRead
    int FrameIndex = 0;        // its frame-table row
    quint8 LastUsbSeq = 0;     // sequence byte of the last collector report taken
    qint64 LastUsbWrite = -1000;  // tick of the last report written
    quint64 SlotSeq = 0;       // age stamp of the wait slots
    char MonitorOrder[9] = {}; // the last monitor-mode order sent, "" before any
    qint64 RxHeard = 0;        // bytes put on the receive ring since the link was reset
    qint64 FrameHeardAt = -1;  // RxHeard at the last byte of the frame being dispatched,
                               // -1 when it came from elsewhere than the ring
    int Dispatching = 0;       // frames being dispatched (nested by their waits)
    qint64 LastAckTick = -1;   // tick of the last acknowledgement heard, claimed or not
    qint64 ClaimedAckTick = -1;// tick of the last one that completed a send
    int ClaimedStatus = 0;     // its status byte
    int StraysSinceClaim = 0;  // acknowledgements no send claimed, heard since then
    // What the link has learned of the switch's acknowledgements (see SendInTurn),
    // over the rows last sent in turn: for each, how long after its answer the
    // first copy of it came (-1 none) and how many copies came.
    static constexpr int kRowsRemembered = 64;
    qint16 RowGapMs[kRowsRemembered] = {};
    qint8 RowCopies[kRowsRemembered] = {};
    int RowNext = 0;
    qint64 RememberedClaim = -1;// the claimed acknowledgement last remembered
    CommStateRec() {
        for (qint16& g : RowGapMs) g = -1;
    }
    qint64 FirstStrayGap = -1; // the first copy after the claimed one, -1 none yet
    int RepeatGapMs = 0;       // the longest of RowGapMs: a copy may come this long after
    int RepeatsPerAck = 0;     // the most RowCopies of the last rows, at most 2
    double LatencyMs = 0;      // the longest from an order to its acknowledgement, decaying
    quint64 OddClaimed = 0;    // acknowledgements of a status other than 00 a send claimed
    quint64 OddUnexplained = 0;// and those no send claimed that are no copy of the one claimed
    // What a run of rows compares its rows with: every acknowledgement no send
    // claimed, those of another status than the one claimed before them, and
    // the waits of a send that ended with no answer; and whether the link has
    // ever heard an acknowledgement no send claimed (a switch that repeats, or
    // answers late).
    quint64 Strays = 0;
    quint64 StraysOtherStatus = 0;
    quint64 AckTimeouts = 0;
    bool RepeatsSeen = false;
};

// An acknowledgement no send claimed, or one of a status other than 00: the
// few the rows sent in turn look back on to judge their answers.
struct AckEvent {
    qint64 tick = -1;
    int status = 0;
    bool claimed = false;
    bool explained = true;     // a stray the learned repeats account for
};
inline constexpr int kAckEventCount = 64;
// Recorded by the dispatcher for every acknowledgement heard.
void HeardAck(int status, bool claimed, qint64 sentTick);
// The recorded events since `fromTick`, oldest first; forgotten with the link's state.
QVector<AckEvent> AckEventsSince(qint64 fromTick);
void ForgetAckEvents();

extern CommStateRec CommState;

}  // namespace ModComm
