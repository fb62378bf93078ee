#pragma once
// Asks how much one user pays: two prompt lines written by the caller, the
// amount, and "确定", "取消" or "全部付清".
#include "platform/Currency.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVector>

class frmPayMoneny : public QDialog {
    Q_OBJECT
public:
    static frmPayMoneny& instance();
    static bool exists();
    static void unload();

    // Offers `amount` ("0.00", all selected) and waits for a button. Returns 1
    // accept, 2 cancel (also the close box), 3 pay all; `amount` then holds the
    // amount entered, to the fen (unchanged on cancel). Unloads the dialog.
    int GetRetCode(platform::Currency& amount);
    void Command1_Click(int index);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QVector<QPushButton*> Command1;   // 0 确定, 1 取消, 2 全部付清

protected:
    void reject() override;

private:
    explicit frmPayMoneny(QWidget* parent = nullptr);
    int m_RetCode = 2;
    platform::Currency m_Amount;
};
