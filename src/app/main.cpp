#include "admin/frmSelTerminal.h"
#include "console/frmPABX.h"
#include "core/Main.h"
#include "core/WindowNotices.h"

int main(int argc, char** argv) {
    // The frame holds the console window; the core knows it only through its interface.
    core::SetConsoleMaker([]() -> core::Console* { return &frmPABX::instance(); });
    // The engine tells the operator through the windows.
    core::UseWindowNotices();
    // The second switch model asks for the site before the data directory is used.
    admin::RegisterSiteChooser();
    return core::Main(argc, argv);
}
