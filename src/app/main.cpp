#include "admin/frmSelTerminal.h"
#include "console/StationWindows.h"
#include "console/frmPABX.h"
#include "core/Main.h"

int main(int argc, char** argv) {
    // The frame holds the console window; the core knows it only through its interface.
    core::SetConsoleMaker([]() -> core::Console* { return &frmPABX::instance(); });
    // The engine reaches the operator through the windows.
    console::UseStationWindows();
    // The second switch model asks for the site before the data directory is used.
    admin::RegisterSiteChooser();
    return core::Main(argc, argv);
}
