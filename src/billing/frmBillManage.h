#pragma once
// The archive window "话单库管理": the yearly call-record archives and their
// months (never the month running now), the backup of whole year files into
// "Backup" with a time stamp, and the deletion of month tables.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVector>

class frmBillManage : public QDialog {
    Q_OBJECT
public:
    static frmBillManage& instance();
    static bool exists();
    static void unload();
    // The console's menu item: the window, modal.
    static void ShowModal();

    void RefreshList();
    // Gives every direct child of `node` the node's tick.
    void SetCheck(QTreeWidgetItem* node, bool);
    void cmdOK_Click(int index);

    QTreeWidgetItem* node(const QString& key) const;

    QLabel* Label1 = nullptr;
    QTreeWidget* tvwBill = nullptr;
    QVector<QPushButton*> cmdOK;

    ~frmBillManage() override;

private:
    explicit frmBillManage(QWidget* parent = nullptr);
    void backup();
    void remove();
    bool m_Busy = false;
    bool m_Filling = false;
};
