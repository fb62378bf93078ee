#pragma once
// The windows' notices for the engine (core/Notices.h): boxes through
// platform::MsgBox, the status bar and the end of the program through the
// console interface, the station held through the main frame.
namespace core {

// Registers the windows' notices; the program and the test mains call it once.
void UseWindowNotices();

}  // namespace core
