#pragma once
// Every message box, input box and file or folder chooser of the station goes
// through here. In tests a script answers them and records each one shown.
#include "platform/MsgCodes.h"

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class QDialog;

namespace platform {

// Shows a message box; returns the button pressed (closing the box counts as cancel/no/ok).
// A text of many lines, or taller or wider than the screen (a report naming
// users or calls one a line), is shown in a report box: the lines in a text
// area that scrolls and can be selected and copied, the box within the
// screen and its buttons on it.
int MsgBox(const QString& text, int buttons = mbOKOnly, const QString& title = QString());
// True for a box MsgBox shows, plain or a report box.
bool IsMessageBox(const QWidget* w);
// Asks for a line of text; `ok` false when cancelled (the result is then "").
QString InputBox(const QString& prompt, const QString& title, const QString& defaultText = QString(), bool* ok = nullptr);
// File and folder choosers; "" when cancelled.
QString OpenFileName(const QString& title, const QString& filter, const QString& dir = QString());
// A chooser that may name an existing file; with `confirmOverwrite` false it
// does not ask about replacing one (for targets that are appended to).
QString SaveFileName(const QString& title, const QString& filter, const QString& dir = QString(),
                     bool confirmOverwrite = true);
QString FolderName(const QString& title, const QString& dir = QString());

// Runs a modal window. Tests may drive it instead of the operator: a handler
// registered for the window's object name is called once the window is shown.
int RunModal(QDialog* dialog);

// Parent for boxes: the station's main window once it exists.
void setPromptParent(QWidget* w);

// Loads Qt's own Chinese translation of its standard buttons and dialogs, so
// that "Yes", "No", "OK", "Cancel" read as a Chinese desktop shows them.
// Needs the application object; once is enough. False when not found.
bool InstallChineseQtTexts();

namespace script {
enum class Kind { Message, Input, OpenFile, SaveFile, Folder };
struct Shown {
    Kind kind;
    QString text;
    QString title;
    int buttons = 0;
};
// Turns scripting on: from now on no real box is shown.
void enable();
void disable();
bool enabled();
// Queues an answer for the next prompt whose text contains `textPart` ("" matches any).
// For messages `result` is the button (rOK, rYes...); for inputs and choosers `text` is returned
// (an input answered with cancel when `result` is rCancel).
void answer(const QString& textPart, int result, const QString& text = QString());
// Handler for modal windows with this object name; called after the window is shown.
void onModal(const QString& objectName, std::function<void(QDialog*)> handler);
// Runs `hook` with the text of every scripted prompt while it stands, before
// it is answered: what a real box does to the windows behind it (taking the
// focus) can be played there.
void whileShown(std::function<void(const QString&)> hook);
const QList<Shown>& shown();
// Prompts shown that no queued answer matched; a test fails when this is not empty.
const QList<Shown>& unexpected();
int pendingAnswers();
void reset();
}  // namespace script

}  // namespace platform
