#pragma once
// The main console window. Its load runs the station's start-up sequence; its
// timers drive the link, the clock, the monitor and the nightly archive; its
// tree chooses what the grid or the monitor pane shows; and it owns the
// orderly stop of the station.
//
// Positions and sizes in the layout procedures are in twips (15 to a pixel),
// as the layout rules are written.
#include "core/Console.h"
#include "platform/Comm.h"
#include "platform/FlexGrid.h"
#include "platform/StatusBar.h"
#include "platform/Twips.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <functional>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

// The console registers itself as core::Console when it is created.
class frmPABX : public QWidget, public core::Console {
    Q_OBJECT
public:
    static frmPABX& instance();
    static bool exists();
    static void unload();
    ~frmPABX() override;

    // ---- start-up and stop ----
    // Runs the whole start-up sequence; returns when it is finished.
    void Form_Load() override;
    void Form_Activate();
    // The console's keys, seen before its controls: F12 and Delete.
    // True when the key was taken.
    bool Form_KeyDown(int keyCode, Qt::KeyboardModifiers shift);
    // Asks (for UnloadMode < 2) and closes the station; true keeps it running.
    bool NotExit(int UnloadMode) override;
    // Closes the station in order and ends the process; never returns.
    [[noreturn]] void CloseApp() override;
    // True when an open in-place editor took the command instead.
    bool InputVisible();
    void mnuExit_Click();
    void mnuDbManager_Click();   // "数据库管理" (F2)
    void mnuIPPUHPARA_Click();   // "IP公话参数" (F8, second switch model)
    void mnuTerminal_Click();    // "站点  管理" (F4), second switch model
    // "更换站点" (F5), second switch model: the site chosen first, then its
    // databases checked, opened and brought up to date in place of the
    // current ones; a site that cannot be opened gives the previous one back.
    void mnuChangeTerminal_Click();
    // Ends the printer's open document (the page of immediate bills) and
    // clears the continuous-form position.
    void mnuMomentBill_Click();
    void tbrSwitch_ButtonClick(const QString& key);
    // Opens the protocol trace window.
    void picRun_DblClick() override;

    // ---- timers ----
    void tmrCom_Timer();
    void tmrSys_Timer();
    // The nightly archive: due at the first tick at or after 02:00:00 of a day
    // whose archive has not run yet, and run only from a tick that is not
    // nested in a wait, a progress window or another window's event loop.
    bool ArchiveDue(const QDateTime& now) const;
    bool TickMayArchive() const;
    // Runs the archive of the current call records; true when it ran.
    bool RunArchive();
    QDateTime LastArchiveRun() const { return m_LastArchive; }

    // ---- navigation tree ----
    void tvSwitch_Click() override;
    // Selects the node of `key` and shows its view.
    bool ShowView(const QString& key) override;
    QWidget* ConsoleWidget() override { return this; }
    int TableRight() const override { return m_TableRight; }

    // ---- layout (twips) ----
    void SetInitFace();
    void SetInitMon();
    void SetInterFace();
    void SetMonWidth();
    void placeLegend();
    void Form_Resize();
    void fraDiv_MouseDown(Qt::MouseButton button);
    void fraDiv_MouseMove(Qt::MouseButtons buttons, int x);
    void fraDiv_MouseUp(Qt::MouseButton button, int x);
    void fraMon_MouseDown(int index, Qt::MouseButton button);
    void fraMon_MouseMove(int index, Qt::MouseButtons buttons, int y);
    void fraMon_MouseUp(int index, Qt::MouseButton button, int y);

    // ---- board legend and monitor grids ----
    void InitCard();
    void SetMonFace();
    void SetPortMonitor();

    // ---- commands: menu bar, toolbar, grid popups, help, user commands and
    // ---- board panel (ConsoleCommands.cpp, GridPopup.cpp, UserCommands.cpp)
    void mnuChangePassword_Click();
    void mnuWorker_Click(int Index);
    void mnuReLogin_Click();
    void mnuAbout_Click();
    void mnuContent_Click();
    void mnuExtOption_Click();
    void mnuRelayOption_Click();
    void picRun_MouseDown();
    void sbrInfo_MouseMove(int x);
    // Enables the toolbar buttons whose commands the station has; after SetToolbar.
    void UpdateCommandStates();
    // Right button on the grid at `x` twips from its left, over column `mouseCol`.
    void fgDisp_MouseDown(int Button, int x, int mouseCol);
    void mnuViewUser_Click();
    void mnuInitUser_Click();
    void mnuBalanceUser_Click();
    void tbrLegend_ButtonClick(int index);
    void picCard_MouseDown(int Index);
    void picCard_Click(int Index);
    QMenu* popModify = nullptr;
    QMenu* PopMenuTable = nullptr;

    // ---- USB collector menu ----
    void mnuGetUSBID_Click();
    void mnuSetUsbID_Click();
    void mnuClearUSB_Click();
    void mnuReadUSB_Click(int Index);
    bool ClearUSB();
    bool CheckUSBID();

    // Geometry of a control in twips, relative to its parent.
    static int Left(const QWidget* w) { return platform::twips(w->x()); }
    static int Top(const QWidget* w) { return platform::twips(w->y()); }
    static int Width(const QWidget* w) { return platform::twips(w->width()); }
    static int Height(const QWidget* w) { return platform::twips(w->height()); }
    static void Move(QWidget* w, int left, int top, int width, int height);

    platform::Comm* ComA = nullptr;
    QMenuBar* mnuBar = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuExtOption = nullptr;
    QAction* mnuRelayOption = nullptr;
    QAction* mnuIPPUHPARA = nullptr;
    QAction* mnuTerminal = nullptr;
    QAction* mnuChangeTerminal = nullptr;
    QMenu* mnuUsb = nullptr;
    QAction* mnuGetUSBID = nullptr;
    QAction* mnuSetUsbID = nullptr;
    QAction* mnuClearUSB = nullptr;
    QVector<QAction*> mnuReadUSB;          // index 1 re-read (shown), 2 read new (hidden); 0 unused
    QWidget* picMon = nullptr;             // the monitor pane
    QVector<QFrame*> fraMon;               // bars of the monitor pane; 1 drags
    QFrame* fraDiv = nullptr;              // the vertical splitter
    QWidget* lblCard = nullptr;            // the row of slot numbers under the boards
    QVector<QLabel*> lblCardNo;            // numbers 1..22, each centred under its slot
    QToolBar* tbrLegend = nullptr;         // board kinds; one pressed at a time
    QActionGroup* legendGroup = nullptr;
    QLabel* picRun = nullptr;              // link activity picture
    QTimer* tmrCom = nullptr;              // link timer, 3 ms
    QTimer* tmrSys = nullptr;              // clock timer, 1000 ms
    int ShowEditorFlag = 0;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    explicit frmPABX(QWidget* parent = nullptr);
    void buildMenus();
    void buildPopups();
    void connectCommands();
    void popupUserMenu(bool oneRow);
    int m_LegendButton = 0;
    // Builds the view of CurTable; false when the key names a window or a group.
    bool buildView();
    void showBillList();
    void showMonCard();
    void showPortMonitor();
    void openWindowNode(const QString& key);
    QPixmap icon(int cell) const;

    bool loaded_ = false;
    bool leftForWindow_ = false;   // another window of the station took the activation
    bool building_ = false;     // a view is being built (the hourglass)
    int m_TableRight = 0;
    QString m_LastTable;
    bool m_Dragging = false;
    QDateTime m_LastArchive;    // when the archive last ran
    int dragStart_ = 0;         // pixel position where a splitter drag began
};
