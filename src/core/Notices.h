#pragma once
// How the engine (the link, the pricing engine, the journal, the files and
// their recoveries) tells the operator something: a message box, a status
// line, the station's window held while a long exchange runs. The engine
// includes no window; the windows register the notices that show these
// (core::UseWindowNotices in core/WindowNotices.h, through
// console::UseStationWindows, done by src/app and by the test mains), so every box still goes through platform::MsgBox and the
// tests' scripted prompts see it.
//
//   core::Notify(text, platform::mbOKOnly, AppName);     // a box, its answer
//   core::NotifyStatus(2, text);                          // status bar panel
//   core::HoldStation(true); ... core::HoldStation(false);
//
// Without registered notices (a benchmark, a tool without windows) a box is
// answered as if it was closed and the rest does nothing.
#include "platform/MsgCodes.h"

#include <QString>

namespace core {

class Notices {
public:
    virtual ~Notices();
    // Shows a message box; returns the button pressed (platform::MsgResult).
    virtual int Message(const QString& text, int buttons, const QString& title) = 0;
    // Writes `text` into panel `panel` (1..n) of the console's status bar.
    virtual void Status(int panel, const QString& text) = 0;
    // Disables (false) or enables again the station's main window.
    virtual void EnableStation(bool on) = 0;
    // Ends the program in order; never returns.
    [[noreturn]] virtual void EndStation() = 0;
};

// Makes `n` the notices in use (null: none).
void SetNotices(Notices* n);
Notices* TheNotices();

int Notify(const QString& text, int buttons = platform::mbOKOnly, const QString& title = QString());
void NotifyStatus(int panel, const QString& text);
void HoldStation(bool hold);
// Ends the program through the notices in use, else directly.
[[noreturn]] void EndStation();

}  // namespace core
