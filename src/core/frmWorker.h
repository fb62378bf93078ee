#pragma once
// The worker window: login, worker management and the password change, one
// panel shown per use.
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

// A combo box whose drop-down runs a handler instead of showing a list.
class DropDownCombo : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> onDropDown;
    void showPopup() override {
        if (onDropDown) onDropDown();
    }
};

class frmWorker : public QDialog {
    Q_OBJECT
public:
    static frmWorker& instance();
    static bool exists();
    static void unload();

    // Shows the login panel modally; true when a worker logged in.
    bool GetLogin();
    // The management panel in mode "增加", "删除" or "修改".
    void ShowWorkerManage(const QString& mode);
    // The password panel for the logged-in worker.
    void ShowChangePassword();
    // The right list of a grade (4, custom: the text of cboRight).
    QString GetFixGrade(int grade) const;

    void cmdLogin_Click();
    void cmdExitProgram_Click();
    void cboWorkerID_Click();
    void cboRight_DropDown();
    void cmdOK_Click();
    void cmdModify_Click();
    void cmdExit_Click();

    QFrame* fraLogin = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPWD = nullptr;
    QPushButton* cmdLogin = nullptr;
    QPushButton* cmdExitProgram = nullptr;

    QFrame* fraWorkerAddDelete = nullptr;
    QComboBox* cboWorkerID = nullptr;
    QComboBox* cboWorkGrade = nullptr;
    QLineEdit* txtWorkerName = nullptr;
    DropDownCombo* cboRight = nullptr;
    QPushButton* cmdOK = nullptr;

    QFrame* fraChangePassword = nullptr;
    QLineEdit* txtOld = nullptr;
    QLineEdit* txtNew = nullptr;
    QLineEdit* txtConfirm = nullptr;
    QPushButton* cmdModify = nullptr;

    QPushButton* cmdExit = nullptr;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* e) override;

private:
    explicit frmWorker(QWidget* parent = nullptr);
    void showPanel(QFrame* panel);
    void finish();
    int gradeIndex() const;
    // The login flag belongs to the window, not to one load of it.
    static bool s_LoginFlag;
};
