#pragma once
// The few windows the link reaches: the progress window's visibility, the
// console's deposit-history grid, and the clock dialog shown at start-up.
#include <QString>

namespace LinkWindows {

// True while the progress window is shown (a transfer or another long job runs).
bool ProgressShown();
// Adds a line to the console grid while it shows the deposit history; drops an
// empty first data row.
void AddDepositLine(const QString& line);
// Stops the splash timer, shows the clock dialog modally, starts the timer again.
void ClockDialog();

}  // namespace LinkWindows
