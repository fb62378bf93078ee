#pragma once
#include <QString>

namespace core {
// The station's entry: checks the single instance, builds the frame table,
// finds the data directory and shows the main frame; then runs the event loop.
int Main(int argc, char** argv);

// Sets SwitchModel, AppPath and DataPath; false when the program directory has
// no "data" directory (DataPath is then left as it was).
bool GetDataPath(bool bStartup);

// The program directory is the executable's. A process that runs the station
// from another executable (the test runner) names it here before Main.
void SetProgramDir(const QString& dir);
}  // namespace core
