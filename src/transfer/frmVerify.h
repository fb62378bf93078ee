#pragma once
// The difference dialog of a verification: the switch's rows (fgSys) against
// the station's rows shown in the console grid, one differing row at a time,
// column by column. It only shows; it changes no data.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class FlexGrid;
}

class frmVerify : public QDialog {
    Q_OBJECT
public:
    // The default instance, loaded on first use: fgVerify then gets one row
    // per column of the console grid, so the console must show the table.
    static frmVerify& instance();
    static bool exists();
    static void unload();

    // Compares the console rows SelRowFirst..SelRowLast with fgSys by the
    // text of column 0. result false: nothing differs (the dialog unloads
    // without showing). True: the dialog was shown modally and closed, or a
    // station row has no switch row ("集团电话参数缺少..."). Unloads the dialog.
    void GetDifferSet(bool& result);
    // Fills fgVerify for the difference whose number the dialog holds.
    void SetToDisp();
    int DifferNo() const { return differNo_; }

    void cmdNext_Click();
    void cmdPriv_Click();
    void cmdClose_Click();
    // Takes the number typed into txtAddr (Enter or leaving the box).
    void txtAddr_Validate();

    platform::FlexGrid* fgSys = nullptr;
    platform::FlexGrid* fgVerify = nullptr;
    QLabel* lblPrompt = nullptr;
    QLineEdit* txtAddr = nullptr;
    QPushButton* cmdPriv = nullptr;
    QPushButton* cmdNext = nullptr;
    QPushButton* cmdClose = nullptr;

    ~frmVerify() override;

protected:
    void changeEvent(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override {}   // Esc does not close it either
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    explicit frmVerify(QWidget* parent = nullptr);
    void Form_Load();
    int differences() const;

    int differNo_ = 1;
    bool closing_ = false;
    bool validating_ = false;
};
