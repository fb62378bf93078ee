#pragma once
// Writing a committed in-place edit into the console grid: the value goes
// into column GridMouseCol of every selected row, formatted by the column's
// title; rows that changed are painted as edited and the grid is marked as
// holding unsaved work. The owner of an extension or account row and an
// account number are written to the database at once instead; a row whose
// frame for the switch changes with its owner waits for its download. One the
// database refuses is not shown: the cell keeps what is stored, and the
// operator is told why.
#include "platform/Currency.h"
#include "platform/FlexGrid.h"

#include <QHash>
#include <QString>

namespace ModSwitch {

// Writes `text` into the console grid (see above). g_Editing is cleared.
void SaveCellEdit(platform::FlexGrid& grid, const QString& text);

// Amounts typed under 预付押金 since the user view was loaded, by user id:
// the save adds them to the stored deposit and balance, so that charges
// booked meanwhile are kept. They are part of the grid's unsaved work and
// end with it: saved, or dropped where the grid's edits are dropped.
const QHash<qint64, platform::Currency>& TypedDeposits();
// The grid's unsaved work is given up (a discard, a restore): g_Modified is
// cleared and the typed amounts are forgotten.
void DropGridEdits();
// The typed amounts alone, when the grid that shows them is loaded anew.
void DropTypedDeposits();
// One user's typed amount, when that user's deposit starts again (initialised).
void DropTypedDeposit(qint64 userId);
// A user deleted outside the grid (a settlement's after-payment choice): when
// the user view shows it, its row leaves the grid with its unsaved edits and
// typed amount, so that no later save stores the user again.
void DropUserRow(platform::FlexGrid& grid, qint64 userId);
// Whether a row of the grid still holds an unsaved edit.
bool GridHoldsEdits(const platform::FlexGrid& grid);

}  // namespace ModSwitch
