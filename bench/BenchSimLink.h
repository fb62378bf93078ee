#pragma once
// The station's link to the switch simulator, for the benchmarks that play
// against it.
#include "core/Settings.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/Comm.h"
#include "sim/Switch.h"

#include <QObject>
#include <QTimer>

// The station's link to the simulator on a pseudo-terminal, polled as the
// console's timer would; rows are put into the simulator before connect().
struct SimLink {
    sim::Switch sw;
    platform::Comm port;
    QTimer poll;
    bool connect() {
        ModSwitch::SetVariant(QStringLiteral("CommDevice"), sw.slavePath());
        sw.start();
        LinkTrace::SetEnabled(false);
        ModComm::InitFrameTable();
        ModComm::AttachPort(&port);
        ModComm::ResetLink();
        SetMonitorSink(nullptr);
        poll.setInterval(3);
        QObject::connect(&poll, &QTimer::timeout, [] { ModComm::ProcessComm(); });
        poll.start();
        return ModComm::OpenComm(false) == ModComm::LinkOpened;
    }
    void disconnect() {
        poll.stop();
        sw.stop();
        port.setPortOpen(false);
        ModComm::AttachPort(nullptr);
        LinkTrace::SetEnabled(true);
    }
};
