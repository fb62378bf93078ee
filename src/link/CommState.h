#pragma once
// State the link keeps between poll steps; private to the link module.
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
    bool DoubledAcks = false;  // an acknowledgement came again soon after one that was claimed
    qint64 InTurnDone = -1;    // tick a send of rows in turn last ended
    int InTurnRows = 0;        // rows sent in turn since the line was last idle
};

extern CommStateRec CommState;

}  // namespace ModComm
