#pragma once
// The console's navigation tree (one node per view) and the toolbar that
// offers each view only the commands that apply to it.
#include <QIcon>
#include <QString>

class QTreeWidgetItem;
class QAction;

namespace ModSwitch {

// Fills the console's tree once; selects the MonCard node.
void BuildNavTree();
// Rebuilds the console's toolbar for the selected node.
void SetToolbar();
// One button (its key as object name and data, tip as its text) and a separator.
QAction* AddToolButton(const QString& key, const QString& tip, int image, int style = 0);

// The key of a tree node; the node of a key (null when there is none).
QString NodeKey(const QTreeWidgetItem* node);
QTreeWidgetItem* FindNode(const QString& key);

// Picture `index` of the console's image list: 1-12 the toolbar commands,
// 13-18 the board kinds of the legend. Drawn by code.
QIcon ToolImage(int index);

}  // namespace ModSwitch
