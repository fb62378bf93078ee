#pragma once
// Printing a grid's selection as a ruled table, page by page on cut sheets or
// as one block on a continuous form, and the small cell printer under it.
#include <QString>
#include <optional>

namespace platform { class FlexGrid; }

namespace printing {

// Settings key: where the last job on the continuous form that is still open
// stopped, in twips from the top; empty for a fresh page.
inline const QString kLocateKey = QStringLiteral("TarvoLocateY");

// True when the system has a printer.
bool HasPrinter();

// Prints one text in the box (x, y, width, height), twips, aligned by a grid
// alignment code: 0-2 left, 3-5 centre, 6-8 right (top, middle, bottom), 9
// general (right for numeric text, else left; middle). Codes outside 0-9 do
// nothing; a width of 0 or less prints nothing. The text is not clipped.
void PrintCell(int x, int y, const QString& text, int align, int width, int height);

// Prints the grid's selected block under `title` (whole grid for a single
// cell when `wholeIfSingle`), with the grid's font, after asking the operator.
void PrintGrid(platform::FlexGrid& grid, const QString& title, bool wholeIfSingle);

// VB's numeric test of a cell text.
bool IsNumericText(const QString& text);

namespace testing {
// Overrides the printer check (nullopt: ask the system).
void setHasPrinter(std::optional<bool> has);
// How many times the printer check was made since the last override.
int printerChecks();
}  // namespace testing

}  // namespace printing
