#pragma once
// What the windows put behind the engine's interfaces: the notices (boxes,
// status bar, the station held, its end), the link's trace window and the
// windows it reaches, and the display of stored records. The program and the
// test mains call UseStationWindows once, after the application object.
namespace console {

void UseStationWindows();

}  // namespace console
