#pragma once
// The database window: manual backup and restore of the station database and
// the yearly archives, and the timed backup that its timer runs from start-up
// to exit while the window itself is mostly hidden.
#include <QDate>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVector>

class frmDBManager : public QDialog {
    Q_OBJECT
public:
    static frmDBManager& instance();
    static bool exists();
    // Removes the empty stamped folder and the window.
    static void unload();

    void SetMode(bool timed);
    void opt_Click(int index);
    void tvwDB_NodeCheck(QTreeWidgetItem* node);
    void cmdSel_Click();
    void txtPath_LostFocus();
    void cmd_Click(int index);   // 0 backup, 1 restore
    void cmdExit_Click();
    void cmdSet_Click();
    void txtDay_KeyUp();
    void Timer1_Timer();
    void Form_Activate();

    QVector<QRadioButton*> opt;   // 0 "手动备份", 1 "定时备份", 2 "恢复"
    QTreeWidget* tvwDB = nullptr;
    QLineEdit* txtPath = nullptr;
    QPushButton* cmdSel = nullptr;
    QVector<QPushButton*> cmd;    // 0 "备份", 1 "恢复"
    QPushButton* cmdExit = nullptr;
    QTimer* Timer1 = nullptr;
    QTimeEdit* DTAuto = nullptr;
    QLineEdit* txtDay = nullptr;
    QLabel* lblDay = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblLastBackupDay = nullptr;
    QPushButton* cmdSet = nullptr;

    QString backupPath() const { return backupPath_; }
    QString restorePath() const { return restorePath_; }
    QString autoPath() const { return autoPath_; }
    QString stampedFolder() const { return stamped_; }
    QDate lastBackupDay() const { return lastBackup_; }

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    explicit frmDBManager(QWidget* parent = nullptr);
    void Form_Load();
    void setModeFolder(const QString& folder);
    QString defaultFolder() const;
    QList<QTreeWidgetItem*> checkedFiles() const;
    bool backupInto(const QString& folder, bool ask, QString* failed);
    void restore();

    QString backupPath_, restorePath_, autoPath_, current_, remembered_, stamped_;
    QDate lastBackup_;
    QString madeInto_;   // the timed backup's folder last made: its minute's other ticks make none
    bool busy_ = false;
};
