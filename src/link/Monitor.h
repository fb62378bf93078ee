#pragma once
// The drawing of the board panel, the channel list and the port grid from the
// board and channel state the link keeps (MonitorState.h).
#include "link/MonitorState.h"

namespace ModComm {

// Draws the monitor view of CurTable from the stored frames, once a second;
// nothing while the link is silent.
void RefreshMonitor();
// Bit k set when port byte 3 + k of a card frame is not 0.
quint8 PortBusyMask(const QByteArray& frame);
void ShowCardPorts(int card);
void ShowPortList();
void ShowCard(const QByteArray& frame, int card);
void DrawPortCell(int row, int col, int state);

}  // namespace ModComm
