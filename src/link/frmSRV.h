#pragma once
// The protocol trace and test window "调试窗口": every order sent and every
// frame recognised is listed, whether the window is shown or not.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "link/TraceList.h"

class frmSRV : public QWidget {
    Q_OBJECT
public:
    static frmSRV& instance();
    static bool exists();
    static void unload();

    // Adds one trace line; dir 0 received, 1 sent, 2 received with a wrong checksum.
    QString ShowRecord(const QString& text, int dir);
    // Injects the order box's text into the receive ring, as if the switch sent it.
    void cmdReceive_Click();
    void cmdSend_Click();
    void cmdCopy_Click();
    void cmdClear_Click();
    void cmdClose_Click();
    void cmdSearch_Click();
    void cmdMon_Click();
    void cmdTest_Click();
    void txtFilter_Change();
    void Check1_Click();
    void Check2_Click();
    void lstRec_DblClick();
    // Enter in the order box: "CLEAR" empties the history, anything else is sent.
    void cboLst_Enter();
    // A press on the label: with Ctrl and Shift it reveals or hides the hidden controls.
    void Label1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers mods);
    // One tick of the console's demo timer: one to three board status frames
    // and one to three channel status frames, injected through the receive command.
    void DemoTick();

    // The rights check of the send and receive commands: the station's
    // CheckRight (true refuses); tests put their own in.
    static std::function<bool(int, int)>& rightCheck();

    TraceList* lstRec = nullptr;
    TraceList* lstBuf = nullptr;
    QFrame* fraV = nullptr;
    QFrame* Frame1 = nullptr;
    QComboBox* cboLst = nullptr;
    QPushButton* cmdSend = nullptr;
    QPushButton* cmdReceive = nullptr;
    QPushButton* cmdCopy = nullptr;
    QPushButton* cmdClear = nullptr;
    QPushButton* cmdClose = nullptr;
    QPushButton* cmdSearch = nullptr;
    QPushButton* cmdMon = nullptr;
    QPushButton* cmdTest = nullptr;
    QLineEdit* txtSearch = nullptr;
    QLineEdit* txtFilter = nullptr;
    QCheckBox* chkVerify = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QCheckBox* chkShowBuf = nullptr;
    QLabel* Label1 = nullptr;

    bool locked() const { return locked_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    explicit frmSRV(QWidget* parent = nullptr);
    void layoutLists();
    void splitterReleased(int leftTwips);

    QString marks_[3];
    bool locked_ = false;
    int filterLen_ = 0;
    bool dragging_ = false;
    int dragStartX_ = 0;
    bool demoConnected_ = false;
};

namespace LinkTrace {
// Makes this window the link's trace (link/LinkTrace.h) and the trace of the
// databases' failures; the program and the test mains call it once.
void UseTraceWindow();
}  // namespace LinkTrace
