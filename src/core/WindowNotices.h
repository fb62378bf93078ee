#pragma once
// The windows' notices for the engine (core/Notices.h): boxes through
// platform::MsgBox, the status bar and the end of the program through the
// console interface, the station held through the main frame.
namespace core {

// Registers the windows' notices (console::UseStationWindows calls it).
void UseWindowNotices();

}  // namespace core
