#pragma once
#include <QString>
#include <functional>

namespace core {
// The station's entry: checks the single instance, builds the frame table,
// finds the data directory and shows the main frame; then runs the event loop.
int Main(int argc, char** argv);

// Sets SwitchModel, AppPath and DataPath; false when the program directory has
// no "data" directory (DataPath is then left as it was). With the second switch
// model the site chooser gives DataPath (the root data directory when none is
// registered); `cancelled` tells that the operator cancelled it at run time,
// DataPath then being the current one.
bool GetDataPath(bool bStartup, bool* cancelled = nullptr);

// The site chooser of the second switch model, which the administration
// registers at start: it shows the chooser and returns the chosen data
// directory (ending in "/"), setting TerminalName and TerminalID on a
// confirmed choice; at run time the operator may cancel it (`cancelled`).
using SiteChooser = std::function<QString(bool bStartup, bool* cancelled)>;
void SetSiteChooser(SiteChooser chooser);

// The program directory is the executable's. A process that runs the station
// from another executable (the test runner) names it here before Main.
void SetProgramDir(const QString& dir);
}  // namespace core
