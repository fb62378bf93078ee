#pragma once
// The IP payphone parameters of the second switch model: two deposit levels
// with the grade each allows, the monthly rent and its deduction, and the
// shortest kept talk time. Kept in the settings, read from and written to the
// switch as one "A60E" frame; and the upload of the call records the switch
// holds for a range of dates, priced like the switch's own records.
//
// Opened modeless from the console's "IP公话参数", which hides the console;
// closing the window shows the console again. An enabled 保存 stands for
// unsaved edits.
#include <QVector>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QGroupBox;
class QLineEdit;
class QPushButton;

class frmIPPuhPara : public QWidget {
    Q_OBJECT
public:
    static frmIPPuhPara& instance();
    static bool exists();
    static void unload();
    // Shows the window (loading it first), as the console's menu does.
    static void ShowFromConsole();

    // Every field from the settings (defaults where none is stored); no unsaved edits.
    void LoadPara();
    // Checks the fields and stores all ten settings at once; false (nothing
    // stored, the message shown, focus on the field) when a check refuses.
    bool SavePara();

    void cmdSave_Click();
    void cmdDown_Click();     // 下载: the fields to the switch, right 29
    void cmdUpsend_Click();   // 上传: the switch's parameters into the fields, right 29
    void cmdUpBill_Click();   // 上传话单: the records of DTPStart..DTPEnd, right 30
    void cmdCancel_Click();
    // Leaving a field: the text becomes its value; false when out of range.
    bool txtDeposit_LostFocus(int index);
    bool txtRent_LostFocus();
    void txtShort_LostFocus();
    void dtDeduct_Change();

    // The grade chosen in a list, -1 when its text names none.
    int GradeIndex(int index) const;
    // True while a transfer of this window runs.
    bool Busy() const { return m_Busy; }

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QVector<QLineEdit*> txtDeposit;
    QVector<QComboBox*> cboGrade;
    QLineEdit* txtRent = nullptr;
    QDateTimeEdit* dtDeduct = nullptr;
    QCheckBox* chkMode = nullptr;
    QCheckBox* chkDeposit = nullptr;
    QCheckBox* chkOverdraft = nullptr;
    QLineEdit* txtShort = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdDown = nullptr;
    QPushButton* cmdUpsend = nullptr;
    QPushButton* cmdCancel = nullptr;
    QDateEdit* DTPStart = nullptr;
    QDateEdit* DTPEnd = nullptr;
    QPushButton* cmdUpBill = nullptr;

    ~frmIPPuhPara() override;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    frmIPPuhPara();
    void Form_Load();
    void markEdited();
    void setUnsaved(bool on);
    void setBusy(bool on);
    // The first field that cannot be sent, with its message; null when all can.
    QWidget* fieldFault(QString* message) const;
    void refuse(QWidget* field, const QString& message);
    void recordUpload();

    bool m_Unsaved = false;   // what an enabled cmdSave shows
    bool m_Busy = false;
    bool m_Loading = false;
    bool m_Closing = false;
};
