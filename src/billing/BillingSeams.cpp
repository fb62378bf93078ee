#include "billing/BillingSeams.h"

#include "core/Console.h"
#include "core/ModDefine.h"

namespace billing {

namespace {
testing::Seams g_seams;
}  // namespace

void SetConsoleEnabled(bool enabled) {
    if (g_seams.setConsoleEnabled) g_seams.setConsoleEnabled(enabled);
    else core::SetConsoleEnabled(enabled);
}
platform::FlexGrid* ConsoleGrid() {
    if (g_seams.consoleGrid) return g_seams.consoleGrid();
    core::Console* c = core::TheConsole();
    return c ? c->fgDisp : nullptr;
}
void RedrawConsoleView() {
    if (g_seams.redrawConsoleView) g_seams.redrawConsoleView();
    else if (core::Console* c = core::TheConsole()) c->ShowView(CurTable);
}

bool PrinterPresent() { return g_seams.printerPresent ? g_seams.printerPresent() : false; }
void PrintGridSelection(platform::FlexGrid& grid, const QString& title) {
    if (g_seams.printGrid) g_seams.printGrid(grid, title);
}
void PrintReceipt(const ReceiptJob& job) {
    if (g_seams.printReceipt) g_seams.printReceipt(job);
}
void EndPrinterDocument() {
    if (g_seams.endDocument) g_seams.endDocument();
}

namespace testing {
void setSeams(const Seams& s) { g_seams = s; }
}  // namespace testing

}  // namespace billing
