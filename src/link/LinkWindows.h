#pragma once
// The few windows the link reaches: the progress window's visibility, the
// console's deposit-history grid, and the clock dialog shown at start-up. The
// link calls the free functions; the windows register what stands behind them
// (console/StationWindows). Without it: no progress shown, nothing added, no
// dialog.
#include <QString>

namespace LinkWindows {

class Windows {
public:
    virtual ~Windows() = default;
    virtual bool ProgressShown() = 0;
    virtual void AddDepositLine(const QString& line) = 0;
    virtual void ClockDialog() = 0;
};
// Makes `w` the windows the link reaches (null: none).
void SetWindows(Windows* w);

// True while the progress window is shown (a transfer or another long job runs).
bool ProgressShown();
// Adds a line to the console grid while it shows the deposit history; drops an
// empty first data row.
void AddDepositLine(const QString& line);
// Stops the splash timer, shows the clock dialog modally, starts the timer again.
void ClockDialog();

}  // namespace LinkWindows
