#pragma once
// Small things the grid views share: what they use of the console (its grid,
// status bar, in-place editors, caption and view refresh), and a checked
// table name. The views that only show a table reach the main window through
// here; the tree, the board panel and the editors use the console's own
// interface (core/Console.h).
#include "platform/FlexGrid.h"

#include <QString>
#include <QStringList>

class QLineEdit;
class QComboBox;

namespace params::views {

// Text into panel 2 of the console's status bar.
void StatusText(const QString& text);
// The console grid.
platform::FlexGrid& ConsoleGrid();
// The port-monitor grid fgMon(1).
platform::FlexGrid& PortGrid();
// The console's in-place editors txtModify and cboModify.
QLineEdit* TextEditor();
QComboBox* OptionEditor();
// The console's EditDone: the open option editor's value was committed.
bool& EditDone();
// The right number guarding the table shown.
int TableRight();
// The console's caption (the text of the view's node).
QString Caption();
// Redraws the view of the selected node (the tree's click).
void RefreshView();
// Hides both monitor grids (the channel list and the port grid).
void HideMonitorGrids();

// `name` when it is a plain table name; otherwise throws DbError, so that no
// text from elsewhere ever reaches a statement as SQL.
QString CheckedTable(const QString& name);
// The same for a column name; a name in brackets ("[Limit]") loses them.
// The result is quoted for use in a statement.
QString CheckedColumn(const QString& name);

}  // namespace params::views
