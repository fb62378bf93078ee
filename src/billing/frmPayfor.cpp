#include "billing/frmPayfor.h"

#include "billing/BillingSeams.h"
#include "billing/Settlement.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmDetial.h"
#include "billing/frmPayed.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/GridText.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

using platform::Currency;
using platform::Recordset;

namespace {
std::unique_ptr<frmPayfor> g_instance;

Currency cellMoney(platform::FlexGrid& g, int r, int c) {
    // The amounts shown are the amounts charged.
    return platform::Currency::parse(g.TextMatrix(r, c).trimmed()).value_or(Currency());
}
}  // namespace

frmPayfor& frmPayfor::instance() {
    if (!g_instance) g_instance.reset(new frmPayfor);
    return *g_instance;
}
bool frmPayfor::exists() { return static_cast<bool>(g_instance); }
void frmPayfor::unload() { g_instance.reset(); }

frmPayfor::frmPayfor(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPayfor"));
    setWindowTitle(QStringLiteral("结算单"));
    fgUser = new platform::FlexGrid(this);
    fgUser->setFont(QFont(QStringLiteral("宋体")));
    FraCmd = new QGroupBox(this);
    cmdPay = new QPushButton(QStringLiteral("付讫"), FraCmd);
    cmdView = new QPushButton(QStringLiteral("明细"), FraCmd);
    cmdPrint = new QPushButton(QStringLiteral("打印"), FraCmd);
    cmdExit = new QPushButton(QStringLiteral("关闭"), FraCmd);
    auto* row = new QHBoxLayout(FraCmd);
    row->addStretch();
    for (QPushButton* b : {cmdPay, cmdView, cmdPrint, cmdExit}) row->addWidget(b);
    auto* v = new QVBoxLayout(this);
    v->addWidget(fgUser, 1);
    v->addWidget(FraCmd);
    setMinimumSize(platform::px(9500), platform::px(6500));
    connect(cmdPay, &QPushButton::clicked, this, [this] { cmdPay_Click(); });
    connect(cmdView, &QPushButton::clicked, this, [this] { cmdView_Click(); });
    connect(cmdPrint, &QPushButton::clicked, this, [this] { cmdPrint_Click(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { accept(); });
    Form_Load();
}

void frmPayfor::Form_Load() {
    bool rent = true, detail = true, types = true;
    if (frmBalanceBill::exists()) {
        rent = frmBalanceBill::instance().RentShown();
        detail = frmBalanceBill::instance().DetailShown();
        types = frmBalanceBill::instance().TypesShown();
    }
    QString header = QStringLiteral("<用户名称   |开始时间              |结束时间              |总话费   ");
    if (rent) header += billing::RentHeader();
    if (detail) header += billing::DetailHeader();
    if (types) header += billing::TypeHeader(false);
    fgUser->setRows(2);
    fgUser->setFixedRows(1);
    fgUser->setFormatString(header);
    ModGeneral::ClearGridRow(*fgUser);
    m_RowUser = {-1};
}

qint64 frmPayfor::RowUser(int row) const { return row >= 1 && row <= m_RowUser.size() ? m_RowUser[row - 1] : -1; }

void frmPayfor::ShowMode(int mode) {
    setCursor(Qt::WaitCursor);
    Form_Load();
    const bool rent = frmBalanceBill::exists() ? frmBalanceBill::instance().RentShown() : true;
    const bool detail = frmBalanceBill::exists() ? frmBalanceBill::instance().DetailShown() : true;
    const bool types = frmBalanceBill::exists() ? frmBalanceBill::instance().TypesShown() : true;
    Recordset rs = dbSwitch.query(
        QStringLiteral("SELECT * FROM tab_balance WHERE f_isuser<>0 ORDER BY f_userid, f_starttime"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        Currency parts[5];
        Currency total;
        for (int k = 0; k < 5; ++k) {
            parts[k] = Currency::fromRaw(rs.value(5 + k).toLongLong());
            total += parts[k];
        }
        // The row's own five fee parts: each period is a row of its own.
        QStringList cells{rs.str(QStringLiteral("f_name")), platform::dateText(rs.date(QStringLiteral("f_starttime"))),
                          platform::dateText(rs.date(QStringLiteral("f_endtime"))), total.toString2()};
        if (rent) cells << rs.cur(QStringLiteral("f_rent")).toString2();
        if (detail)
            for (const Currency& c : parts) cells << c.toString2();
        if (types)
            for (int k = 0; k < 10; ++k) cells << Currency::fromRaw(rs.value(10 + k).toLongLong()).toString2();
        fgUser->AddItem(platform::GridLine(cells));
        m_RowUser << rs.lng(QStringLiteral("f_userid"));
    }
    if (fgUser->Rows() > 2) {
        fgUser->RemoveItem(1);
        m_RowUser.removeFirst();
    }
    fgUser->setRow(1);
    fgUser->setCol(0);
    fgUser->setRowSel(1);
    fgUser->setColSel(0);
    unsetCursor();
    switch (mode) {
    case 1:
        GridSelFirst = 1;
        GridSelLast = fgUser->Rows() - 1;
        cmdPay_Click();
        break;
    case 2:
        cmdPrint_Click();
        break;
    case 3:
        GridSelFirst = 1;
        GridSelLast = fgUser->Rows() - 1;
        cmdView_Click();
        break;
    default:
        platform::RunModal(this);
        break;
    }
}

void frmPayfor::cmdPay_Click() {
    int c1 = 0, c2 = 0;
    if (isVisible()) ModGeneral::GetGridSel(*fgUser, false, c1, c2);
    else if (GridSelFirst == GridSelLast) {
        GridSelFirst = 1;
        GridSelLast = fgUser->Rows() - 1;
    }
    // The selection's first row, whichever way it was made: a user is paid
    // from the earliest period of the statement on.
    const int cur = GridSelFirst;
    if (cur >= 2 && RowUser(cur) >= 0 && RowUser(cur) == RowUser(cur - 1)) {
        platform::MsgBox(QStringLiteral("结算必须从上次结算日期开始"), platform::mbOKOnly, AppName);
        return;
    }
    frmPayed& pay = frmPayed::instance();
    qint64 last = -1;
    bool found = false;
    Currency rent;
    for (int r = qMax(1, GridSelFirst); r <= GridSelLast && r < fgUser->Rows(); ++r) {
        const qint64 uid = RowUser(r);
        if (uid < 0 || fgUser->TextMatrix(r, 0).isEmpty()) continue;
        const Currency fee = cellMoney(*fgUser, r, 3);
        if (uid != last) {
            last = uid;
            Recordset u = dbSwitch.query(
                QStringLiteral("SELECT deposit, rent, balancemode FROM user WHERE userid=?"), {uid});
            found = !u.empty();
            if (!found) continue;   // a user deleted since the run is left out
            rent = u.cur(QStringLiteral("rent"));
            const Currency deposit = u.cur(QStringLiteral("deposit"));
            pay.AddUserRow(uid, platform::GridLine(
                                    {fgUser->TextMatrix(r, 0), fgUser->TextMatrix(r, 1), fgUser->TextMatrix(r, 2),
                                     deposit.toString2(), (rent + fee).toString2(), (deposit - fee - rent).toString2(),
                                     billing::BalanceModeName(static_cast<int>(u.lng(QStringLiteral("balancemode"))))}));
        } else if (found) {
            // A further period of the same user.
            const int p = pay.fgUser->Rows() - 1;
            pay.fgUser->setTextMatrix(p, 2, fgUser->TextMatrix(r, 2));
            pay.fgUser->setTextMatrix(p, 4, (cellMoney(*pay.fgUser, p, 4) + fee + rent).toString2());
            pay.fgUser->setTextMatrix(p, 5, (cellMoney(*pay.fgUser, p, 5) - fee - rent).toString2());
        }
    }
    if (pay.fgUser->Rows() > 2) {
        pay.RemoveUserRow(1);
        pay.fgUser->setRow(1);
        pay.fgUser_SelChange();
    } else if (pay.fgUser->Rows() == 2 && !pay.fgUser->TextMatrix(1, 0).isEmpty()) {
        pay.fgUser->setRow(1);
        pay.fgUser_SelChange();
    } else {
        frmPayed::unload();
        platform::MsgBox(QStringLiteral("没有可付讫的结算单"), platform::mbOKOnly, AppName);
        return;
    }
    platform::RunModal(&pay);
    frmPayed::unload();
}

void frmPayfor::cmdView_Click() {
    setCursor(Qt::WaitCursor);
    int c1 = 0, c2 = 0;
    if (isVisible()) ModGeneral::GetGridSel(*fgUser, false, c1, c2);
    if (GridSelFirst < 1) GridSelFirst = 1;
    frmDetial& d = frmDetial::instance();
    for (int r = GridSelFirst; r <= GridSelLast && r < fgUser->Rows(); ++r) {
        if (fgUser->TextMatrix(r, 0).isEmpty()) continue;
        QStringList cells;
        for (int c = 0; c < fgUser->Cols(); ++c) cells << fgUser->TextMatrix(r, c);
        d.fgDetial->AddItem(QStringLiteral("用户:") + platform::GridLine(cells));
        d.AddDetial(RowUser(r), platform::parseDate(fgUser->TextMatrix(r, 1)), platform::parseDate(fgUser->TextMatrix(r, 2)));
    }
    if (d.fgDetial->Rows() > 2) d.fgDetial->RemoveItem(1);
    unsetCursor();
    platform::RunModal(&d);
    frmDetial::unload();
}

void frmPayfor::cmdPrint_Click() { billing::PrintGridSelection(*fgUser, QStringLiteral("结算单")); }

void frmPayfor::RemoveUserRows(qint64 userId) {
    for (int r = fgUser->Rows() - 1; r >= 1; --r) {
        if (RowUser(r) != userId) continue;
        if (fgUser->Rows() == 2) {
            ModGeneral::ClearGridRow(*fgUser);
            m_RowUser[0] = -1;
        } else {
            fgUser->RemoveItem(r);
            m_RowUser.removeAt(r - 1);
        }
    }
}
