// The board and port state the link keeps as the switch reports it; the
// board panel and the monitor views (Monitor.cpp) show it.
#include "link/MonitorState.h"

namespace ModComm {

QVector<CardRec> CardList(22);
int SpecPhoneCount = 0;
QVector<StatusFrame> CardStates(18);
QVector<StatusFrame> PortStates(16);
QByteArray PortLamps(169, '\0');

void ResetMonitorState() {
    CardList = QVector<CardRec>(22);
    SpecPhoneCount = 0;
    CardStates = QVector<StatusFrame>(18);
    for (StatusFrame& c : CardStates) c.Data = QByteArray(12, '\0');
    PortStates = QVector<StatusFrame>(16);
    for (StatusFrame& p : PortStates) {
        p.Data = QByteArray(11, '\0');
        for (int i = 3; i <= 10; ++i) p.Data[i] = char(0xFF);
        p.ShownState = 24;
    }
    PortLamps = QByteArray(169, '\0');
}

}  // namespace ModComm
