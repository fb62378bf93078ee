#pragma once
// Writing a committed in-place edit into the console grid: the value goes
// into column GridMouseCol of every selected row, formatted by the column's
// title; rows that changed are painted as edited and the grid is marked as
// holding unsaved work. The owner of an extension or account row and an
// account number are written to the database at once instead.
#include "platform/Currency.h"
#include "platform/FlexGrid.h"

#include <QHash>
#include <QString>

namespace ModSwitch {

// Writes `text` into the console grid (see above). g_Editing is cleared.
void SaveCellEdit(platform::FlexGrid& grid, const QString& text);

// Amounts typed under 预付押金 since the user view was loaded, by user id:
// the save adds them to the stored deposit and balance, so that charges
// booked meanwhile and sub-fen parts are kept.
QHash<qint64, platform::Currency>& TypedDeposits();

}  // namespace ModSwitch
