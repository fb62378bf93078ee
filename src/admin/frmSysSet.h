#pragma once
// The settings window: the link's port, the switch's talk-time limits and
// transfer command, minimum deposits, fee rounding, call-record handling and
// the PC clock; and the commands that detect the port and read or send the
// switch's system parameters.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVector>
#include <functional>

class frmSysSet : public QDialog {
    Q_OBJECT
public:
    static frmSysSet& instance();
    static bool exists();
    static void unload();
    // Opens the window modally (the console's "系统参数").
    static void ShowModal();

    void GetSysPara();
    void cmdSave_Click();
    void chkUsb_Click();
    void DTSysTime_Change();
    void cmdTestPort_Click();
    void cmd_Click(int index);   // 0 "下载参数", 1 " 上传参数", 2 "下载时间"
    void cmdExit_Click();
    // Field checks when a field is left; false keeps the focus there.
    bool txtTime_LostFocus(int i);
    bool txtSelect_LostFocus(int i);
    bool txtMinHoldonTime_LostFocus();
    void txtDeposit_LostFocus(int i);

    QCheckBox* chkUsb = nullptr;
    QGroupBox* FraCom = nullptr;
    QVector<QComboBox*> cboComset;    // 0 port, 1 speed, 2 parity, 3 data bits, 4 stop bits
    QPushButton* cmdTestPort = nullptr;
    QVector<QLineEdit*> txtTime;      // 8 talk-time limits
    QVector<QLineEdit*> txtSelect;    // 3 transfer command texts
    QVector<QComboBox*> cboSel;       // hunting switch, clear-transfer selection
    QVector<QLineEdit*> txtDeposit;   // 4 minimum deposits
    QVector<QRadioButton*> optFee, optPrint, optDisp, OptCharge;
    QCheckBox* chkMonitor = nullptr;
    QCheckBox* chkCity = nullptr;
    QCheckBox* chkPage = nullptr;
    QLineEdit* txtMinHoldonTime = nullptr;
    QDateTimeEdit* DTSysTime = nullptr;
    QPushButton* cmdSave = nullptr;
    QVector<QPushButton*> cmd;
    QPushButton* cmdExit = nullptr;

    bool depositChanged() const { return depositChanged_; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    explicit frmSysSet(QWidget* parent = nullptr);
    void Form_Load();
    void save();
    void detectPort();
    void switchCommand(int index);
    // Runs an event's handler; a failure it lets out ends it with the window
    // enabled, the port reopened as stored when `portAtStake`, and a message
    // beginning with `what`; false then.
    bool guarded(const QString& what, bool portAtStake, const std::function<void()>& handler);
    void showPort(int port, const QString& settings);
    QString checkFields() const;

    bool depositChanged_ = false;
    QString depositBefore_, selectBefore_;
    bool loading_ = false;
};
