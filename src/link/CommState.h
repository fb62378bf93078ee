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
};

extern CommStateRec CommState;

}  // namespace ModComm
