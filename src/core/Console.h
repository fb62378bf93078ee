#pragma once
// The console interface: everything the rest of the station may use of the
// main console window, so that no subsystem needs the console's own headers.
//
// How to use it:
//   - core::TheConsole() is the console now loaded, or null when there is none
//     (a unit test without windows, or before start-up). Always check it:
//         if (core::Console* c = core::TheConsole()) c->fgDisp->AddItem(line);
//   - The public controls below are the console's own widgets; drive them as
//     the console's code does (fgDisp->setTextMatrix(r, c, t), fgMon[1], ...).
//     A console that lacks a control leaves its pointer null.
//   - For one-liners there are free functions that do nothing without a
//     console: core::StatusText(panel, text), core::PanelText(panel),
//     core::SetConsoleEnabled(on), core::RefreshBoard().
//   - core::CloseApp() ends the program in order, through the console's own
//     stop when there is one; it never returns.
//   - The console window registers itself when it is created and unregisters
//     when it goes. A test may register a console of its own: derive from
//     core::Console, create the controls its code touches, and call
//     core::RegisterConsole(&mine) / core::UnregisterConsole(&mine).
//   - The frame makes the console through the maker the program registers
//     before start-up (core::SetConsoleMaker, done by src/app and by the test
//     mains); core::MakeConsole() returns the loaded console or makes one.
#include <QString>
#include <QVector>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolBar;
class QTreeWidget;
class QWidget;

namespace platform {
class FlexGrid;
class StatusBar;
}  // namespace platform

namespace core {

class Console {
public:
    virtual ~Console();

    // ---- the controls other subsystems fill or read ----
    platform::FlexGrid* fgDisp = nullptr;      // the view grid
    QVector<platform::FlexGrid*> fgMon;        // monitor pane: 0 channel list, 1 port grid
    platform::StatusBar* sbrInfo = nullptr;    // panels 1..n
    QTreeWidget* tvSwitch = nullptr;           // the navigation tree
    QToolBar* tbrSwitch = nullptr;             // the buttons of the node shown
    QWidget* PicMain = nullptr;                // the board panel
    QVector<QLabel*> picCard;                  // board slots 0..21
    QTimer* Timer1 = nullptr;                  // the demo timer of the trace window
    QLineEdit* txtModify = nullptr;            // the in-place text editor of fgDisp
    QComboBox* cboModify = nullptr;            // the in-place option editor of fgDisp
    bool EditDone = false;                     // the open option editor's value was committed

    // ---- what the console does for others ----
    // The console's own widget; its window() is the frame it sits in.
    virtual QWidget* ConsoleWidget() = 0;
    // Runs the start-up sequence of the console.
    virtual void Form_Load() = 0;
    // Asks (for UnloadMode < 2) and closes the station; true keeps it running.
    virtual bool NotExit(int UnloadMode) = 0;
    // Closes the station in order and ends the process.
    [[noreturn]] virtual void CloseApp() = 0;
    // Opens the protocol trace window (the operator's F12).
    virtual void picRun_DblClick() = 0;
    // Selects the tree node of `key` and shows its view (CurTable becomes `key`).
    virtual bool ShowView(const QString& key) = 0;
    // Shows the view of the selected tree node again (after a save or a discard).
    virtual void tvSwitch_Click() {}
    // The right number that guards the table shown (0 when none).
    virtual int TableRight() const { return 0; }
};

// The console now loaded, or null.
Console* TheConsole();
bool ConsoleExists();
// Makes `c` the console; a later registration replaces an earlier one.
void RegisterConsole(Console* c);
// Forgets `c` if it is still the console.
void UnregisterConsole(Console* c);

// How the frame makes a console when none is loaded.
void SetConsoleMaker(std::function<Console*()> maker);
// The loaded console, else one made by the maker, else null.
Console* MakeConsole();

// ---- one-liners that do nothing without a console ----
void StatusText(int panel, const QString& text);
QString PanelText(int panel);
// Enables or disables the console's window (the frame, when it sits in one).
void SetConsoleEnabled(bool on);
bool ConsoleEnabled();
// Repaints the board panel.
void RefreshBoard();
// Ends the program through the console's stop (made if need be), or directly.
[[noreturn]] void CloseApp();

}  // namespace core
