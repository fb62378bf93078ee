#include "link/MonitorSink.h"

namespace {
std::shared_ptr<MonitorSink> g_override;
std::shared_ptr<MonitorSink> g_real;
}

MonitorSink& CurrentMonitorSink() {
    if (g_override) return *g_override;
    if (!g_real) g_real = MakeRealMonitorSink();
    return *g_real;
}

void SetMonitorSink(std::shared_ptr<MonitorSink> sink) { g_override = std::move(sink); }

void MonitorSink::GiveUp(const QByteArray& frame, const QString& why) {
    if (!g_real) g_real = MakeRealMonitorSink();
    if (g_real.get() != this) g_real->GiveUp(frame, why);
}
