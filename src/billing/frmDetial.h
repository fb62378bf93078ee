#pragma once
// The statement's details "结算单明细(未付讫)": under a heading row per
// statement row, one row per extension and per account of that user and period.
#include "platform/FlexGrid.h"

#include <QDateTime>
#include <QDialog>
#include <QGroupBox>
#include <QPushButton>

class frmDetial : public QDialog {
    Q_OBJECT
public:
    static frmDetial& instance();
    static bool exists();
    static void unload();

    // Appends the detail rows of the user's period [start, end).
    void AddDetial(qint64 userId, const QDateTime& start, const QDateTime& end);
    void cmdPrint_Click();

    platform::FlexGrid* fgDetial = nullptr;
    QGroupBox* FraCmd = nullptr;
    QPushButton* cmdPrint = nullptr;
    QPushButton* cmdExit = nullptr;

private:
    explicit frmDetial(QWidget* parent = nullptr);
    bool m_Rent = true, m_Detail = true, m_Types = true;
};

namespace billing {
// The name cell of a detail row: "分机:" + the extension's dialable number (its
// address when it has none), or "帐号:" + the account code.
QString DetailName(int kind, const QString& name);
// Header pieces shared by the statement, the details and the paid statement.
QString RentHeader();
QString DetailHeader();
QString TypeHeader(bool blankAfterIp);
}  // namespace billing
