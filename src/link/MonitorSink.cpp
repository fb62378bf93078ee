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
