#pragma once
// In-place editing of the console grid: which editor a cell gets, where it
// sits, the grid's events that open it and the editors' events that check
// and commit their value.
class QWidget;

namespace ModSwitch {

// Opens the editor the current cell's column asks for (column GridMouseCol,
// row GridSelFirst): the option list, the text box, or a chooser committed at once.
void ShowModifyCtrl(int flag);
// Lays `editor` over its cell, fills it with the cell's text and focuses it.
void ShowEditor(QWidget* editor);
// The grid popup's 修改.
void mnuModifyTable_Click();

// The grid's events.
void fgDisp_DblClick();
void fgDisp_KeyDown(int keyCode);
void fgDisp_MouseUp();
void fgDisp_Scroll();
// Panel 2 tells where the operator's cursor is in the console grid (a click
// on the grid writes it): true while it does. TellCursor writes it for the
// cursor as it stands now; a row that moves (users above it deleted, the view
// drawn again) has the panel follow it, never keep the row it was on.
bool PanelTellsCursor();
void TellCursor();

// The editors' events; the LostFocus handlers are the commit frame.
void txtModify_GotFocus();
void txtModify_KeyDown(int keyCode);
void txtModify_LostFocus();
void cboModify_Change();
void cboModify_Click();
void cboModify_KeyDown(int keyCode);
void cboModify_LostFocus();

// What the console's InputVisible does for the editors: with an editor open,
// runs its check (commit or refusal) and answers true.
bool EditorInputVisible();

// Connects the console's grid and editors to the handlers above.
void AttachGridEditors(QWidget* grid, QWidget* textEditor, QWidget* optionEditor);

}  // namespace ModSwitch
