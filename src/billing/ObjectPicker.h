#pragma once
// What the bill query and the settlement windows share: the list of objects
// to tick (users, departments, ...) with its "全部…" and user-group rows, and
// the period whose start can follow the one ticked user's last settlement.
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QList>
#include <QRadioButton>
#include <QStringList>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

#include <functional>

namespace billing {

// The saved period's text form, and reading it back (older free forms too).
extern const QString kPeriodStoredFormat;
QDateTime StoredPeriodDate(const QString& text);

class ObjectPickerWindow : public QWidget {
public:
    void SetUncheckLast();
    void chkLast_Click();
    void chkNow_Click();
    void lvObj_ItemCheck();
    void lvObj_ColumnClick();

    QTreeWidgetItem* itemByKey(const QString& key) const;
    QDateTime ManualStart() const { return m_Start; }
    QDateTime ManualEnd() const { return m_End; }

    QVector<QRadioButton*> optOBJ;
    QTreeWidget* lvObj = nullptr;
    QCheckBox* chkLast = nullptr;
    QCheckBox* chkNow = nullptr;
    QDateTimeEdit* DTPStart = nullptr;
    QDateTimeEdit* DTPEnd = nullptr;

protected:
    // `keepShown`: locking the start or the end first remembers what it showed.
    ObjectPickerWindow(QWidget* parent, bool keepShown);

    // The group box with a radio button per kind of object over the list.
    QGroupBox* makeObjectBox(const QString& title, const QStringList& kinds);
    // The period's check boxes and editors, laid out by the window.
    void makePeriod(QWidget* box);
    // Wires the list and the period; the radio buttons stay the window's.
    void connectPicker();
    // Lists kind `k`: `load` adds the rows read from the database, sorted
    // here behind "全部…" (and the user groups), "已删除…" last when asked.
    void listObjects(int k, const std::function<void(QList<QTreeWidgetItem*>&)>& load, bool withDeleted);
    void showStart(const QDateTime& t);
    void showEnd(const QDateTime& t);

    int m_Obj = 0;
    qint64 m_SelUser = -1;
    QDateTime m_Start, m_End;
    bool m_Filling = false;
    bool m_CheckAll = true;   // the list's tag: the next header click checks all

private:
    bool m_KeepShown;
};

// The row's key: "ALL", "Deposit", "Monthly", "Free", "Delete" or "K" and the object.
QString PickerKey(const QTreeWidgetItem* it);

}  // namespace billing
