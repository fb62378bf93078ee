#pragma once
// What the settlement windows need of the main window and of the printer,
// in one place: the console through its interface in src/core, the printer
// through the printing subsystem.
#include "platform/Currency.h"
#include "platform/FlexGrid.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace billing {

// The console.
void SetConsoleEnabled(bool enabled);
// The console grid, or null when there is no console.
platform::FlexGrid* ConsoleGrid();
// Redraws the view the console shows.
void RedrawConsoleView();

// One receipt's texts and detail rows, as the paying window hands them over.
struct ReceiptJob {
    bool voucher = false;          // 凭条; else 票据
    QString caption;               // the window caption, the receipt's title
    QString name, start, end;      // user and statement period, as shown
    platform::Currency prepaid, total, pay, balance;
    QList<QStringList> detailRows; // the detail grid's data rows
    QStringList detailHeader;
    qint64 userId = 0;
};

// The printer.
bool PrinterPresent();
// Prints a grid selection with a title (a selection within one row: all rows).
void PrintGridSelection(platform::FlexGrid& grid, const QString& title);
// Prints one receipt (bill or vouchers).
void PrintReceipt(const ReceiptJob& job);
// The receipt on the print form (what PrintReceipt does in the station).
void PrintReceiptOnForm(const ReceiptJob& job);
// Ends the printer's open document (cut sheets, after a payment's receipts).
void EndPrinterDocument();

namespace testing {
// Stand-ins for tests; null keeps the station's own.
struct Seams {
    std::function<void(bool)> setConsoleEnabled;
    std::function<platform::FlexGrid*()> consoleGrid;
    std::function<void()> redrawConsoleView;
    std::function<bool()> printerPresent;
    std::function<void(platform::FlexGrid&, const QString&)> printGrid;
    std::function<void(const ReceiptJob&)> printReceipt;
    std::function<void()> endDocument;
};
void setSeams(const Seams& s);
}  // namespace testing

}  // namespace billing
