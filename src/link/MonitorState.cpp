// The board and port state the link keeps as the switch reports it; the
// board panel and the monitor views (Monitor.cpp) show it.
#include "link/Monitor.h"

namespace ModComm {

QVector<CardRec> CardList(22);
int SpecPhoneCount = 0;
QVector<StatusFrame> CardStates(18);
QVector<StatusFrame> PortStates(16);
QByteArray PortLamps(169, '\0');

}  // namespace ModComm
