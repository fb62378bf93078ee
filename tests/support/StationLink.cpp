#include "support/StationLink.h"

#include "core/ModDefine.h"
#include "core/Settings.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"

namespace testsupport {

bool StationLink::open(sim::Switch& sw) {
    if (!sw.openPty()) return false;
    sw_ = &sw;
    ModSwitch::SetVariant(QStringLiteral("CommDevice"), sw.slavePath());
    sw.start();
    port_ = std::make_unique<platform::Comm>();
    ModComm::InitFrameTable();
    ModComm::AttachPort(port_.get());
    ModComm::ResetLink();
    SetMonitorSink(nullptr);
    poll_.setInterval(3);
    QObject::connect(&poll_, &QTimer::timeout, [] { ModComm::ProcessComm(); });
    poll_.start();
    if (ModComm::OpenComm(false) != ModComm::LinkOpened) return false;
    ModDefine::g_NoAnswerCount = 0;
    return true;
}

void StationLink::close() {
    poll_.stop();
    QObject::disconnect(&poll_, nullptr, nullptr, nullptr);
    if (sw_) sw_->stop();
    sw_ = nullptr;
    if (port_) {
        if (port_->PortOpen()) port_->setPortOpen(false);
        ModComm::AttachPort(nullptr);
        port_.reset();
    }
}

}  // namespace testsupport
