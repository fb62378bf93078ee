#include "billing/BillingSeams.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "platform/Printer.h"
#include "printing/PrintGrid.h"

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

bool PrinterPresent() { return g_seams.printerPresent ? g_seams.printerPresent() : printing::HasPrinter(); }
void PrintGridSelection(platform::FlexGrid& grid, const QString& title) {
    if (g_seams.printGrid) g_seams.printGrid(grid, title);
    else printing::PrintGrid(grid, title, true);
}
void PrintReceipt(const ReceiptJob& job) {
    if (g_seams.printReceipt) g_seams.printReceipt(job);
    else PrintReceiptOnForm(job);
}
void EndPrinterDocument() {
    if (g_seams.endDocument) {
        g_seams.endDocument();
        return;
    }
    try {
        platform::Printer::instance().EndDoc();
    } catch (const std::exception&) {
        // A document that failed on the way is not printed; the payments stand.
    }
}

namespace testing {
void setSeams(const Seams& s) { g_seams = s; }
}  // namespace testing

}  // namespace billing
