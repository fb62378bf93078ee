#pragma once
// The bill query dialog "话单查询": which users, departments, accounts or
// extensions, which call categories, period, durations and called-number
// prefix, whether account calls count and how the result is sorted. It hands
// the condition to the result window frmRecord.
#include "billing/BillQuery.h"
#include "billing/ObjectPicker.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

class frmQueryBill : public billing::ObjectPickerWindow {
    Q_OBJECT
public:
    static frmQueryBill& instance();
    static bool exists();
    // Remembers the manual period, shows the console again and closes the dialog.
    static void unload();
    // The tree node "Query": the console stays hidden until the dialog unloads.
    static void ShowFromConsole();

    void optOBJ_Click(int k);
    void optCall_Click(int k);
    void optSort_Click(int k) { m_Sort = k; }
    void txtCalled_KeyUp();
    // The object part of the condition from the ticked items; false when nothing usable is ticked.
    bool GetSelectObject(billing::BillCondition& cond);
    QList<int> GetBillType() const;
    void cmdQuery_Click();

    QTreeWidgetItem* itemByText(const QString& text) const;
    int ObjectKind() const { return m_Obj; }
    int SortKey() const { return m_Sort; }

    QCheckBox* chkAccount = nullptr;
    QVector<QRadioButton*> optCall;
    QVector<QCheckBox*> chkType;
    QTimeEdit* DTPMin = nullptr;
    QTimeEdit* DTPMax = nullptr;
    QLineEdit* txtCalled = nullptr;
    QVector<QRadioButton*> optSort;
    QPushButton* cmdQuery = nullptr;
    QPushButton* cmdClose = nullptr;

    ~frmQueryBill() override;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    explicit frmQueryBill(QWidget* parent = nullptr);
    void Form_Unload();

    int m_Sort = 1;
    bool m_Unloaded = false;
};
