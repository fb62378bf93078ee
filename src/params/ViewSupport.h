#pragma once
// Small things the grid views share: the console's status bar and grid, and
// a checked table name.
#include "platform/FlexGrid.h"

#include <QString>
#include <QStringList>

namespace params::views {

// Text into panel 2 of the console's status bar.
void StatusText(const QString& text);
// The console grid.
platform::FlexGrid& ConsoleGrid();

// `name` when it is a plain table name; otherwise throws DbError, so that no
// text from elsewhere ever reaches a statement as SQL.
QString CheckedTable(const QString& name);

}  // namespace params::views

