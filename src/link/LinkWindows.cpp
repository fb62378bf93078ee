#include "link/LinkWindows.h"

namespace LinkWindows {

namespace {
Windows* g_windows = nullptr;
}  // namespace

void SetWindows(Windows* w) { g_windows = w; }

bool ProgressShown() { return g_windows && g_windows->ProgressShown(); }

void AddDepositLine(const QString& line) {
    if (g_windows) g_windows->AddDepositLine(line);
}

void ClockDialog() {
    if (g_windows) g_windows->ClockDialog();
}

}  // namespace LinkWindows
