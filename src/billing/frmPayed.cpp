#include "billing/frmPayed.h"

#include "billing/BillingSeams.h"
#include "billing/Payments.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmDetial.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayfor.h"
#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/ModGeneralText.h"
#include "core/Settings.h"
#include "params/CellEdit.h"
#include "platform/GridText.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

using platform::Currency;
using platform::Recordset;

namespace {
std::unique_ptr<frmPayed> g_instance;

Currency cellMoney(platform::FlexGrid& g, int r, int c) {
    return platform::Currency::parse(g.TextMatrix(r, c).trimmed()).value_or(Currency());
}
}  // namespace

frmPayed& frmPayed::instance() {
    if (!g_instance) g_instance.reset(new frmPayed);
    return *g_instance;
}
bool frmPayed::exists() { return static_cast<bool>(g_instance); }
void frmPayed::unload() {
    if (!g_instance) return;
    try {
        ModSwitch::SetVariant(QStringLiteral("PayPrintCount"), g_instance->txtnRep->text());
    } catch (const platform::DbError&) {
    }
    g_instance.reset();
}

frmPayed::frmPayed(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPayed"));
    setWindowTitle(QStringLiteral("结算单（付讫）"));
    if (frmBalanceBill::exists()) {
        m_Rent = frmBalanceBill::instance().RentShown();
        m_Detail = frmBalanceBill::instance().DetailShown();
        m_Types = frmBalanceBill::instance().TypesShown();
    }
    fgUser = new platform::FlexGrid(this);
    fgUser->setRows(2);
    fgUser->setFixedRows(1);
    fgUser->setFormatString(QStringLiteral(
        "<用户名称  |开始日期              |结束日期              |>预付款     |>总费用     |>结算后余额|>结算方式     "));
    m_RowUser = {-1};
    fgDetial = new platform::FlexGrid(this);
    resetDetail();

    FraCmd = new QGroupBox(this);
    Frame1 = new QGroupBox(FraCmd);
    auto* f1 = new QHBoxLayout(Frame1);
    for (const QString& c : {QStringLiteral("票据"), QStringLiteral("凭条")}) {
        auto* o = new QRadioButton(c, Frame1);
        f1->addWidget(o);
        Option1 << o;
    }
    Option1[0]->setChecked(true);
    chkPayPrn = new QCheckBox(QStringLiteral("付讫后打印"), FraCmd);
    chkPayPrn->setChecked(true);
    Label1 = new QLabel(QStringLiteral("打印   份"), FraCmd);
    txtnRep = new QLineEdit(FraCmd);
    txtnRep->setMaximumWidth(48);
    cmdPay = new QPushButton(QStringLiteral("付款"), FraCmd);
    cmdClose = new QPushButton(QStringLiteral("关闭"), FraCmd);
    auto* row = new QHBoxLayout(FraCmd);
    row->addWidget(Frame1);
    row->addWidget(chkPayPrn);
    row->addWidget(Label1);
    row->addWidget(txtnRep);
    row->addStretch();
    row->addWidget(cmdPay);
    row->addWidget(cmdClose);
    auto* v = new QVBoxLayout(this);
    v->addWidget(fgUser, 1);
    v->addWidget(fgDetial, 1);
    v->addWidget(FraCmd);
    setMinimumSize(platform::px(9500), platform::px(6500));

    txtnRep->setText(ModSwitch::GetVariant(QStringLiteral("PayPrintCount"), QStringLiteral("0")));
    m_Printer = billing::PrinterPresent();

    connect(cmdPay, &QPushButton::clicked, this, [this] { cmdPay_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { accept(); });
    connect(txtnRep, &QLineEdit::editingFinished, this, [this] { txtnRep_LostFocus(); });
    connect(fgUser, &platform::FlexGrid::cellClickedVb, this, [this] { fgUser_SelChange(); });
}

void frmPayed::done(int r) {
    try {
        ModSwitch::SetVariant(QStringLiteral("PayPrintCount"), txtnRep->text());
    } catch (const platform::DbError&) {
    }
    QDialog::done(r);
}

void frmPayed::resetDetail() {
    QString header = QStringLiteral("<用户名称     |开始时间                   |结束时间                  |总费用    ");
    if (m_Rent) header += billing::RentHeader();
    if (m_Detail) header += billing::DetailHeader();
    if (m_Types) header += billing::TypeHeader(true);
    fgDetial->setRows(2);
    fgDetial->setFixedRows(1);
    fgDetial->setFormatString(header);
    ModGeneral::ClearGridRow(*fgDetial);
}

void frmPayed::AddUserRow(qint64 userId, const QString& line) {
    fgUser->AddItem(line);
    m_RowUser << userId;
}

void frmPayed::RemoveUserRow(int row) {
    if (row < 1 || row >= fgUser->Rows()) return;
    if (fgUser->Rows() == 2) {
        ModGeneral::ClearGridRow(*fgUser);
        m_RowUser[0] = -1;
    } else {
        fgUser->RemoveItem(row);
        m_RowUser.removeAt(row - 1);
    }
}

qint64 frmPayed::RowUser(int row) const { return row >= 1 && row <= m_RowUser.size() ? m_RowUser[row - 1] : -1; }

void frmPayed::txtnRep_LostFocus() {
    bool ok = false;
    const double n = txtnRep->text().trimmed().toDouble(&ok);
    txtnRep->setText(ok ? QString::number(n) : QStringLiteral("0"));
}

void frmPayed::cmdPay_Click() {
    int c1 = 0, c2 = 0;
    ModGeneral::GetGridSel(*fgUser, !isVisible(), c1, c2);
    m_NotDeleted.clear();
    bool ask = true;
    for (int row = GridSelLast; row >= GridSelFirst; --row) {
        if (row < 1 || row >= fgUser->Rows()) continue;
        const QString name = fgUser->TextMatrix(row, 0);
        if (name.isEmpty()) continue;
        const Currency due = cellMoney(*fgUser, row, 4);
        const Currency offered = -cellMoney(*fgUser, row, 5);
        const QDateTime end = platform::parseDate(fgUser->TextMatrix(row, 2));
        bool handled = false;
        if (ask) {
            frmPayMoneny& d = frmPayMoneny::instance();
            d.Label1->setText(QStringLiteral("用户") + name + QStringLiteral("的应付款:") + due.toString2());
            d.Label2->setText(QStringLiteral("请输入付款金额:"));
            Currency amount = offered;
            const int code = d.GetRetCode(amount);
            if (code == 2) break;
            if (code == 1 || code == 3) {
                PayMoneny(row, amount, due, end);
                handled = true;
                if (code == 3) ask = false;
            }
        } else {
            PayMoneny(row, offered, due, end);
            handled = true;
        }
        if (handled && chkPayPrn->isChecked() && m_Printer && !PrnType) {
            billing::EndPrinterDocument();
            // The payment stands: a refused reset of the print position is
            // only said, and the next cut sheet starts fresh all the same.
            try {
                ModSwitch::SetVariant(QStringLiteral("TarvoLocateY"), QString());
            } catch (const platform::DbError& e) {
                core::StatusText(2, platform::OperatorText(e));
            }
        }
    }
    if (CurTable == QLatin1String("User") || CurTable == QLatin1String("Account") || CurTable == QLatin1String("Extension"))
        billing::RedrawConsoleView();
    if (!m_NotDeleted.isEmpty())
        platform::MsgBox(QStringLiteral("下列用户的结算期未到今天,付款后未删除:") + m_NotDeleted.join(QLatin1Char(',')),
                         platform::mbOKOnly, AppName);
    fgUser->setRow(1);
    fgUser_SelChange();
}

bool frmPayed::PaymentWithinRange(qint64 uid, Currency pay, Currency due) {
    // The deposit the payment makes (the balance takes the same amount) stays
    // in the range the station keeps money in.
    try {
        const Currency deposit =
            Currency::fromRaw(dbSwitch.scalar(QStringLiteral("SELECT deposit FROM user WHERE userid=?"), {uid}).toLongLong());
        return ModGeneral::WithinMoneyLimit(pay) && ModGeneral::WithinMoneyLimit(deposit + pay - due);
    } catch (const platform::MoneyOverflow&) {
        return false;
    } catch (const platform::DbError&) {
        return true;   // the payment's own write tells what the database refuses
    }
}

bool frmPayed::PayMoneny(int row, Currency pay, Currency due, const QDateTime& end) {
    const qint64 uid = RowUser(row);
    const QString name = fgUser->TextMatrix(row, 0);
    if (uid < 0 || name.isEmpty()) return false;
    // The money first: nothing leaves the grids, and nothing prints, unless it is written.
    QString error;
    if (!PaymentWithinRange(uid, pay, due)) {
        platform::MsgBox(ModGeneral::MoneyResultRangeText(), platform::mbOKOnly, AppName);
        return false;
    }
    if (!billing::PayUser(uid, pay, due, end, &error)) {
        platform::MsgBox(QStringLiteral("付款失败:") + error, platform::mbOKOnly, AppName);
        return false;
    }
    if (chkPayPrn->isChecked() && m_Printer) {
        const int copies = static_cast<int>(std::nearbyint(txtnRep->text().trimmed().toDouble()));
        if (copies > 0) {
            // The receipt lists this user's rows, whichever row was shown.
            fgUser->setRow(row);
            fgUser_SelChange();
            for (int i = 0; i < copies; ++i) PrintPayBill(row, pay);
        }
    }
    RemoveUserRow(row);
    if (CurTable == QLatin1String("User")) {
        if (platform::FlexGrid* g = billing::ConsoleGrid()) {
            const int r = g->FindRow(0, QString::number(uid), 1);
            if (r >= 1) {
                const Currency deposit = cellMoney(*g, r, 4) + pay - due;
                g->setTextMatrix(r, 4, deposit.toString2());
                g->setTextMatrix(r, 5, deposit.toString2());
                g->setTextMatrix(r, 2, platform::dateText(end));
            }
        }
    }
    if (frmPayfor::exists()) frmPayfor::instance().RemoveUserRows(uid);
    setEnabled(false);
    const int action = frmBalanceBill::exists() ? frmBalanceBill::instance().AfterAction() : billing::kNoAction;
    // A user still in a period not yet paid for stays; the operator is told once the payments end.
    if (action == billing::kDeleteUser && uid != 0 && !billing::PaidPeriodReachesToday(end)) m_NotDeleted << name;
    if (billing::AfterPayment(uid, name, action, end)) {
        if (frmBalanceBill::exists()) frmBalanceBill::instance().removeItem(QStringLiteral("K%1").arg(uid));
        // The deleted user's unsaved edits go with it: the save the redraw asks for stores it no more.
        if (platform::FlexGrid* g = billing::ConsoleGrid()) ModSwitch::DropUserRow(*g, uid);
        else ModSwitch::DropTypedDeposit(uid);
    }
    setEnabled(true);
    return true;
}

void frmPayed::fgUser_SelChange() {
    const int r = fgUser->Row();
    resetDetail();
    if (r < 1 || r >= fgUser->Rows() || fgUser->TextMatrix(r, 0).isEmpty()) return;
    AddDetial(RowUser(r), platform::parseDate(fgUser->TextMatrix(r, 1)), platform::parseDate(fgUser->TextMatrix(r, 2)));
}

void frmPayed::AddDetial(qint64 userId, const QDateTime& start, const QDateTime& end) {
    Recordset rs = dbSwitch.query(QStringLiteral("SELECT * FROM tab_balance WHERE f_isuser<>0 AND f_userid=? AND "
                                                 "f_starttime>=? AND f_endtime<=? ORDER BY f_starttime"),
                                  {userId, start, end});
    const int feeCol = m_Rent ? 5 : 4;
    const int typeCol = m_Detail ? feeCol + 5 : feeCol;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        Currency parts[5];
        Currency total = rs.cur(QStringLiteral("f_rent"));
        for (int k = 0; k < 5; ++k) {
            parts[k] = Currency::fromRaw(rs.value(5 + k).toLongLong());
            total += parts[k];
        }
        fgDetial->AddItem(platform::GridLine({rs.str(QStringLiteral("f_name")), platform::dateText(rs.date(QStringLiteral("f_starttime"))),
                                      platform::dateText(rs.date(QStringLiteral("f_endtime"))), total.toString2()}));
        const int r = fgDetial->Rows() - 1;
        if (m_Rent) fgDetial->setTextMatrix(r, 4, rs.cur(QStringLiteral("f_rent")).toString2());
        if (m_Detail)
            for (int k = 0; k < 5; ++k) fgDetial->setTextMatrix(r, feeCol + k, parts[k].toString2());
        if (m_Types)
            for (int k = 0; k < 10; ++k)
                fgDetial->setTextMatrix(r, typeCol + k, Currency::fromRaw(rs.value(10 + k).toLongLong()).toString2());
    }
    if (fgDetial->Rows() >= 3) fgDetial->RemoveItem(1);
}

void frmPayed::PrintPayBill(int row, Currency pay) {
    billing::ReceiptJob job;
    job.voucher = Option1[1]->isChecked();
    job.caption = windowTitle();
    job.userId = RowUser(row);
    job.name = fgUser->TextMatrix(row, 0);
    job.start = fgUser->TextMatrix(row, 1);
    job.end = fgUser->TextMatrix(row, 2);
    job.prepaid = cellMoney(*fgUser, row, 3);
    job.total = cellMoney(*fgUser, row, 4);
    job.pay = pay;
    job.balance = job.prepaid + pay - job.total;
    for (int c = 0; c < fgDetial->Cols(); ++c) job.detailHeader << fgDetial->TextMatrix(0, c);
    for (int r = 1; r < fgDetial->Rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < fgDetial->Cols(); ++c) cells << fgDetial->TextMatrix(r, c);
        job.detailRows << cells;
    }
    billing::PrintReceipt(job);
}
