#pragma once
// The switch simulator on a pseudo-terminal, wired to a station's data
// directory: its "CommDevice" names the terminal, so the station's link opens
// the simulator. The clock dialog of the start-up is confirmed as it is.
#include "sim/Switch.h"

#include <QString>
#include <memory>

namespace testsupport {

class SwitchOnPty {
public:
    explicit SwitchOnPty(sim::SwitchOptions opt = {});
    ~SwitchOnPty();
    // Opens the terminal, writes "CommDevice" into the database file and
    // starts the simulator's thread. False when no terminal could be opened.
    bool attach(const QString& switchMdbPath);
    sim::Switch& sw() { return *sw_; }
    QString device() const { return sw_->slavePath(); }

private:
    std::unique_ptr<sim::Switch> sw_;
};

// The start-up's clock dialog, answered with "确 定" and the picker untouched.
void scriptClockDialog();

// After the station died: what it had not read from the terminal `slavePath`
// is dropped, until the line has been quiet a while. False when it cannot be opened.
bool drainLine(const QString& slavePath);
// The same by the switch's own account: once it has seen the line closed,
// what it still owes is written and dropped, and it has seen the line closed
// again. False when the line cannot be opened or the switch does not settle.
bool drainLine(sim::Switch& sw);

}  // namespace testsupport
