#pragma once
// Small lookups the grid views share: the console's status bar, dial-digit
// decoding, extension numbers by address and a checked table name.
#include "platform/FlexGrid.h"

#include <QString>
#include <QStringList>

namespace params::views {

// Text into panel 2 of the console's status bar.
void StatusText(const QString& text);
// The console grid.
platform::FlexGrid& ConsoleGrid();

// Switch nibbles to dial text ("B" "*", "C" "#", digits and "E" kept, the rest dropped).
QString DialText(const QString& hex);
// The dialable number of the extension at `address`, "****" when it has none.
QString ExtNumberAt(qint64 address);
// Number length of the flexible head (4 when out of 1..4 or missing).
int FlexibleHeadLen();

// `name` when it is a plain table name; otherwise throws DbError, so that no
// text from elsewhere ever reaches a statement as SQL.
QString CheckedTable(const QString& name);

}  // namespace params::views

