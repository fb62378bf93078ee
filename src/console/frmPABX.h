#pragma once
// The main console window. Its load runs the station's start-up sequence.
#include "platform/Comm.h"
#include "platform/FlexGrid.h"
#include "platform/StatusBar.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

class frmPABX : public QWidget {
    Q_OBJECT
public:
    static frmPABX& instance();
    static bool exists();
    static void unload();

    // Runs the whole start-up sequence; returns when it is finished.
    void Form_Load();
    // Opens the protocol trace window, for workers with right 0.
    void picRun_DblClick();
    // Asks (for UnloadMode < 2) and closes the station; true keeps it running.
    bool NotExit(int UnloadMode);
    // Closes the station in order and ends the process; never returns.
    [[noreturn]] void CloseApp();

    platform::Comm* ComA = nullptr;
    platform::StatusBar* sbrInfo = nullptr;
    platform::FlexGrid* fgDisp = nullptr;
    QVector<platform::FlexGrid*> fgMon;   // 0: channel list, 1: port grid
    QVector<QLabel*> picCard;              // board slots 0..21
    QWidget* PicMain = nullptr;            // the board panel
    QLabel* picRun = nullptr;              // link activity picture
    QTreeWidget* tvSwitch = nullptr;
    QToolBar* tbrSwitch = nullptr;
    QLineEdit* txtModify = nullptr;
    QComboBox* cboModify = nullptr;
    QTimer* tmrCom = nullptr;              // link timer, 3 ms
    QTimer* tmrSys = nullptr;              // clock timer, 1000 ms
    QTimer* Timer1 = nullptr;              // demo timer, 100 ms
    int ShowEditorFlag = 0;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    explicit frmPABX(QWidget* parent = nullptr);
    bool loaded_ = false;
};
