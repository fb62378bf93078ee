#pragma once
// The rack of 22 board slots on the console's board panel: the slot list read
// from MonCard, the colours of the board kinds and the port lamps.
#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QString>

namespace ModSwitch {

// Colour (&HBBGGRR) and text of a board kind; false for a code that is no kind.
bool CardKind(int code, quint32* color, QString* name);

// Rebuilds CardList and SpecPhoneCount from MonCard and paints every slot.
void LoadCards();
// Paints slot `card` in `color` with its port lamps; a set bit of portMask
// shows that port in use.
void SetCardColor(int card, quint32 color, quint8 portMask);
// Centre of lamp i (1..8) on a slot picture, in pixels.
QPoint LampCentre(int lamp);

// Cell `cell` (0..71) of the monitor icon strip.
QPixmap MonitorIcon(int cell);

}  // namespace ModSwitch
