#include "link/LinkTrace.h"

namespace LinkTrace {

namespace {
bool g_enabled = true;
Window* g_window = nullptr;
bool tracing() { return g_enabled && g_window && g_window->Ready(); }
}  // namespace

void SetWindow(Window* w) { g_window = w; }
void SetEnabled(bool on) { g_enabled = on; }
bool Enabled() { return tracing(); }

void ShowRecord(const QString& text, int dir) {
    if (tracing()) g_window->ShowRecord(text, dir);
}

void Note(const QString& line) {
    if (tracing()) g_window->Note(line);
}

bool ShowBuf() { return tracing() && g_window->ShowBuf(); }

void AddBufLine(const QString& line) {
    if (g_window) g_window->AddBufLine(line);
}

}  // namespace LinkTrace
