#pragma once
// The settlement window "用户结算": what to settle (users, departments or the
// groups by settlement kind), the call categories, the shortest call counted,
// the period, the monthly users' pay day, the action after payment and the
// statement's columns. Its four buttons run the settlement engine.
#include "billing/ObjectPicker.h"
#include "billing/Settlement.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

class frmBalanceBill : public billing::ObjectPickerWindow {
    Q_OBJECT
public:
    static frmBalanceBill& instance();
    static bool exists();
    // Writes the remembered settings, gives the console back and closes the window.
    static void unload();

    // The tree node: the console is disabled until the window unloads.
    static void ShowFromConsole();
    // The user popup's "结算": settles and pays one user with the window's
    // remembered settings, the window loaded only meanwhile.
    static void SettleUser(qint64 userId);

    void optOBJ_Click(int index);
    // The checked objects as user numbers; `all` when every user is meant.
    // False when nothing is checked.
    bool GetSelectObject(QList<qint64>& users, bool& all);
    QList<int> GetBillType() const;
    void txtPayDay_LostFocus();
    void cmdBalance_Click(int index);
    // Settles one user silently; true when every statement row totals zero.
    bool CheckZHClear(qint64 userId);

    void removeItem(const QString& key);
    int PayDay() const;
    int AfterAction() const;   // the checked optCL
    bool RentShown() const { return chkRent->isChecked(); }
    bool DetailShown() const { return chkDetailFee->isChecked(); }
    bool TypesShown() const { return chkBillTypeFee->isChecked(); }
    qint64 SelectedUser() const { return m_SelUser; }
    // The last run's result (its lines and error).
    const billing::SettleResult& LastRun() const { return m_Last; }

    QVector<QCheckBox*> chkType;
    QTimeEdit* DTPMin = nullptr;
    QLineEdit* txtPayDay = nullptr;
    QCheckBox* chkForce = nullptr;
    QVector<QRadioButton*> optCL;
    QCheckBox* chkBillTypeFee = nullptr;
    QCheckBox* chkDetailFee = nullptr;
    QCheckBox* chkRent = nullptr;
    QVector<QPushButton*> cmdBalance;
    QPushButton* cmdClose = nullptr;

    ~frmBalanceBill() override;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    explicit frmBalanceBill(QWidget* parent = nullptr);
    void Form_Unload();

    bool m_Silent = false;
    bool m_Unloaded = false;
    billing::SettleResult m_Last;
};
