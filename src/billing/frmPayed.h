#pragma once
// The paid statement "结算单（付讫）": one row per user to pay, the chosen
// user's settlement rows below; each payment is written, the receipts printed
// and the after-settlement action carried out.
#include "platform/Currency.h"
#include "platform/FlexGrid.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVector>

class frmPayed : public QDialog {
    Q_OBJECT
public:
    static frmPayed& instance();
    static bool exists();
    // Remembers the copies count and closes the window.
    static void unload();

    void cmdPay_Click();
    // Pays one row of fgUser: the user row written first (a failure shows
    // "付款失败:" and keeps the row), then the receipts, the rows leave both
    // grids and the after-settlement action runs. True when the row was paid.
    bool PayMoneny(int row, platform::Currency pay, platform::Currency due, const QDateTime& end);
    // Whether paying `pay` against `due` keeps the user's deposit and the
    // amount itself within the range the station keeps money in.
    static bool PaymentWithinRange(qint64 uid, platform::Currency pay, platform::Currency due);
    void fgUser_SelChange();
    // Appends the user's statement rows within [start, end] to fgDetial.
    void AddDetial(qint64 userId, const QDateTime& start, const QDateTime& end);
    void txtnRep_LostFocus();

    // The payment rows: one per user, the user's number kept beside the grid.
    void AddUserRow(qint64 userId, const QString& line);
    void RemoveUserRow(int row);
    qint64 RowUser(int row) const;

    platform::FlexGrid* fgUser = nullptr;
    platform::FlexGrid* fgDetial = nullptr;
    QGroupBox* FraCmd = nullptr;
    QGroupBox* Frame1 = nullptr;
    QVector<QRadioButton*> Option1;   // 0 票据, 1 凭条
    QCheckBox* chkPayPrn = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtnRep = nullptr;
    QPushButton* cmdPay = nullptr;
    QPushButton* cmdClose = nullptr;

protected:
    void done(int r) override;

private:
    explicit frmPayed(QWidget* parent = nullptr);
    void PrintPayBill(int row, platform::Currency pay);
    void resetDetail();
    bool m_Rent = true, m_Detail = true, m_Types = true;
    bool m_Printer = false;
    // Users a payment left in place though 删除用户 was chosen: their paid period ends before today.
    QStringList m_NotDeleted;
    QList<qint64> m_RowUser;   // the user of fgUser row r at r - 1
};
