#include "console/frmPABX.h"
#include "core/Main.h"

int main(int argc, char** argv) {
    // The frame holds the console window; the core knows it only through its interface.
    core::SetConsoleMaker([]() -> core::Console* { return &frmPABX::instance(); });
    return core::Main(argc, argv);
}
