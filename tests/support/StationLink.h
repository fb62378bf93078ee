#pragma once
// The station's own serial link, in process, opened on the switch simulator
// over a pseudo-terminal: "CommDevice" names the terminal in the open station
// database, the frame table is loaded and a 3 ms timer polls the port as the
// console's link timer does.
#include "platform/Comm.h"
#include "sim/Switch.h"

#include <QTimer>
#include <memory>

namespace testsupport {

class StationLink {
public:
    ~StationLink() { close(); }
    // False when no terminal could be opened or the station's port would not open.
    bool open(sim::Switch& sw);
    // Stops polling and the simulator, closes and detaches the port.
    void close();

private:
    sim::Switch* sw_ = nullptr;
    std::unique_ptr<platform::Comm> port_;
    QTimer poll_;
};

}  // namespace testsupport
