#pragma once
// The statement "结算单": one row per user and period of the last settlement,
// with its total and, as chosen, the rent, the fee parts and the sums per call
// category. From it users are paid, detailed or the statement printed.
#include "platform/FlexGrid.h"

#include <QDialog>
#include <QGroupBox>
#include <QPushButton>

class frmPayfor : public QDialog {
    Q_OBJECT
public:
    static frmPayfor& instance();
    static bool exists();
    static void unload();

    // Fills the statement from tab_balance, then by the settle button's index:
    // 1 pays all rows, 2 prints, 3 details all rows, else shows the window.
    void ShowMode(int mode);
    // Resets the grid (header by the settlement window's column choices).
    void Form_Load();
    void cmdPay_Click();
    void cmdView_Click();
    void cmdPrint_Click();

    // The user of a statement row (-1 for a blank row).
    qint64 RowUser(int row) const;
    // Removes every row of a paid user (the last row is blanked instead).
    void RemoveUserRows(qint64 userId);

    platform::FlexGrid* fgUser = nullptr;
    QGroupBox* FraCmd = nullptr;
    QPushButton* cmdPay = nullptr;
    QPushButton* cmdView = nullptr;
    QPushButton* cmdPrint = nullptr;
    QPushButton* cmdExit = nullptr;

private:
    explicit frmPayfor(QWidget* parent = nullptr);
    QList<qint64> m_RowUser;   // the user of grid row r at r - 1
};
