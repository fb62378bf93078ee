#pragma once
// Board and channel state of the switch as the station last heard it: the
// dispatcher keeps the status frames, the board panel and the monitor views
// (Monitor.h, with the windows) draw from them.
#include <QByteArray>
#include <QString>
#include <QVector>

// One board slot of the rack (slot order = MonCard by cardlayer, cardorder).
struct CardRec {
    quint32 DefColor = 0;   // colour of the slot's factory kind (defaultcard)
    quint32 Color = 0;      // colour of the configured kind (dispcard)
    QString KindName;       // text of the configured kind
    int Reserved = 0;       // set to 0 on loading, read by nothing
    int Fitted = 0;         // -1 a board is fitted, 0 spare slot
};

// The last status frame of a card or channel, and what was drawn of it.
struct StatusFrame {
    QByteArray Data;
    int ShownState = 0;
};

namespace ModComm {

extern QVector<CardRec> CardList;        // 22 slots
extern int SpecPhoneCount;               // slots holding special-telephone boards
extern QVector<StatusFrame> CardStates;  // 18 cards, last "990B" of each
extern QVector<StatusFrame> PortStates;  // 16 channels, last "970A" of each
extern QByteArray PortLamps;             // 169 entries: state drawn per card x 8 + port

// Puts the arrays in their idle shapes (as the console does when it sets up
// its views): channel frames 0..10 with bytes 3..10 at 255 and ShownState 24,
// card frames 0..11, lamps 0; CardList all zero.
void ResetMonitorState();

}  // namespace ModComm
