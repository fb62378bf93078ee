#pragma once
// What the console's command files share: the guard every command runs
// under, and the way a popup menu is shown (a test may answer it instead).
#include <QString>
#include <functional>

class QAction;
class QMenu;
class frmPABX;

namespace console {

// Runs one command of the console. With `bracket`, "960300" goes to the
// switch before and "960301" after, whatever happens in between. An error
// gives back the pointer, the grid's drawing, the console's visibility and
// enabled state, closes the progress window and shows its text in panel 2.
void RunCommand(frmPABX& c, bool bracket, const std::function<void()>& body);

// Shows `menu` at the pointer and returns the item chosen (null: none).
QAction* PopupMenu(QMenu* menu);
// Tests answer popups here: the runner gets the menu and returns the item
// to choose, or null. An empty runner shows the menu.
void SetPopupRunner(std::function<QAction*(QMenu*)> runner);

}  // namespace console
