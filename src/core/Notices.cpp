#include "core/Notices.h"

#include "platform/AppExit.h"

namespace core {

namespace {
Notices* g_notices = nullptr;
}  // namespace

Notices::~Notices() {
    if (g_notices == this) g_notices = nullptr;
}

void SetNotices(Notices* n) { g_notices = n; }
Notices* TheNotices() { return g_notices; }

int Notify(const QString& text, int buttons, const QString& title) {
    if (g_notices) return g_notices->Message(text, buttons, title);
    // Nobody to ask: the answer of a box that was closed.
    switch (buttons & 7) {
    case platform::mbOKCancel: case platform::mbRetryCancel: case platform::mbYesNoCancel: return platform::rCancel;
    case platform::mbYesNo: return platform::rNo;
    case platform::mbAbortRetryIgnore: return platform::rAbort;
    default: return platform::rOK;
    }
}

void NotifyStatus(int panel, const QString& text) {
    if (g_notices) g_notices->Status(panel, text);
}

void HoldStation(bool hold) {
    if (g_notices) g_notices->EnableStation(!hold);
}

void EndStation() {
    if (g_notices) g_notices->EndStation();
    platform::EndProgram(0);
}

}  // namespace core
