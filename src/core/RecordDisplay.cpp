#include "core/RecordDisplay.h"

namespace core {

namespace {
std::shared_ptr<RecordDisplay> g_set;
std::shared_ptr<RecordDisplay> g_windows;
}  // namespace

RecordDisplay& CurrentRecordDisplay() {
    if (g_set) return *g_set;
    if (!g_windows) g_windows = MakeWindowRecordDisplay();
    return *g_windows;
}

void SetRecordDisplay(std::shared_ptr<RecordDisplay> display) { g_set = std::move(display); }

}  // namespace core
