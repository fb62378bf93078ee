// The payment receipts on the print form: the bill ("票据"), one sheet with
// the user's settlement rows, or the vouchers ("凭条"), one per settlement row
// with the sums by call type on cut sheets.
#include "billing/BillingSeams.h"

#include "core/ModDefine.h"
#include "platform/GridText.h"
#include "platform/Printer.h"
#include "printing/frmGridPrn.h"

#include <memory>

using platform::Currency;

namespace billing {

namespace {

void setFontSize(QWidget* w, double size) {
    QFont f = w->font();
    f.setPointSizeF(size);
    w->setFont(f);
}

// The rows the receipt lists, in a grid of their own.
std::unique_ptr<platform::FlexGrid> detailGrid(const ReceiptJob& job) {
    auto g = std::make_unique<platform::FlexGrid>();
    g->setRows(1);
    g->setFixedRows(1);
    QString format;
    for (int c = 0; c < job.detailHeader.size(); ++c) format += (c ? "|" : "") + job.detailHeader[c];
    g->setFormatString(format);
    for (const QStringList& row : job.detailRows) g->AddItem(platform::GridLine(row));
    if (g->Rows() == 1) g->AddItem(QString());
    setFontSize(g.get(), 7);
    return g;
}

void printBill(const ReceiptJob& job) {
    frmGridPrn& f = frmGridPrn::instance();
    f.ClearFrm();
    f.Label1->setText(job.caption);
    f.Label2->setText(QStringLiteral("用户:") + job.name + QStringLiteral("  截止日期:") + job.end + QStringLiteral("  单位:(元)"));
    f.Label4->setText(QStringLiteral("总计费用:") + job.total.toString2() + QStringLiteral("元  预付款:") +
                      job.prepaid.toString2() + QStringLiteral("元  付款:") + job.pay.toString2() +
                      QStringLiteral("元  帐户余额:") + job.balance.toString2() + QStringLiteral("元"));
    f.TitleLine1 = f.Label1;
    f.TitleLine2 = f.Label2;
    f.FootLine = f.Label4;
    f.SetPaperUserDef(!PrnType);
    auto grid = detailGrid(job);
    if (f.Init(grid.get(), 0, grid->Cols() - 1, 1, grid->Rows() - 1, true, true)) f.PrnGrid();
    frmGridPrn::unload();
}

void printVouchers(const ReceiptJob& job) {
    const QString worker = QStringLiteral("工号:") + WorkerID + QStringLiteral("  姓名:") + WorkerName;
    const int n = job.detailRows.size();
    for (int i = 0; i < n; ++i) {
        const QStringList& row = job.detailRows[i];
        const bool last = i == n - 1;
        frmGridPrn& f = frmGridPrn::instance();
        f.ClearFrm();
        f.Label1->setText(QString(22, ' ') + job.caption);
        f.TitleLine1 = f.Label1;
        const QString left = QStringLiteral("用户: ") + job.name, right = QStringLiteral("单位: 元");
        f.Label2->setText(left + QString(f.GetInsertSpace(f.Label2, left, right), ' ') + right);
        f.TitleLine2 = f.Label2;
        f.Label3->setText(QStringLiteral("  结算时间:") + row.value(1) + QStringLiteral("——") + row.value(2));
        f.TitleLine3 = f.Label3;
        if (last)
            f.Label4->setText(QStringLiteral("预付款:") + job.prepaid.toString2() + QStringLiteral("元 付款:") +
                              job.pay.toString2() + QStringLiteral("元 帐户余额:") + job.balance.toString2() +
                              QStringLiteral("元 ") + worker);
        else
            f.Label4->setText(QString(f.GetInsertSpace(f.Label4, QString(), worker), ' ') + worker);
        f.FootLine = f.Label4;
        const bool cut = !PrnType;
        if (cut) {
            if (f.SetPaperUserDef(true)) platform::Printer::instance().setWidth(8000);
        } else {
            f.SetPaperUserDef(false);
        }
        const bool ready = f.SetGridBill();
        if (cut && ready) {
            // The sums of the user's whole statement period, by call type.
            platform::Recordset rs = dbSwitch.query(
                QStringLiteral("SELECT SUM(f_international), SUM(f_worldarea), SUM(f_internal), SUM(f_province), "
                               "SUM(f_mobile), SUM(f_suburb), SUM(f_information), SUM(f_city), SUM(f_ipphone), "
                               "SUM(f_local), SUM(f_rent), SUM(f_basefee+f_addfee1+f_addfee2+f_poundage+f_iplinkfee) "
                               "FROM tab_balance WHERE f_isuser<>0 AND f_userid=? AND f_starttime>=? AND f_endtime<=?"),
                {job.userId, job.start, job.end});
            auto sum = [&](int i) { return Currency::fromRaw(rs.value(i).toLongLong()).toString2(); };
            // Beside each label the print form lays out: row, value column, sum.
            static const int kCells[12][3] = {{0, 1, 0}, {0, 3, 1}, {1, 1, 2}, {1, 3, 3}, {3, 3, 4}, {2, 3, 5},
                                              {2, 1, 6}, {3, 1, 7}, {4, 1, 8}, {4, 3, 9}, {5, 1, 10}, {5, 3, 11}};
            platform::FlexGrid* g = f.PrintGridObj;
            for (const auto& c : kCells) g->setTextMatrix(c[0], c[1], sum(c[2]));
            f.PrnGrid();
        }
        frmGridPrn::unload();
        if (cut && !last) platform::Printer::instance().NewPage();
    }
}

}  // namespace

void PrintReceiptOnForm(const ReceiptJob& job) {
    try {
        // On cut sheets a receipt begins a sheet of its own: copies of one
        // payment go into one document and would otherwise print over each other.
        platform::Printer& p = platform::Printer::instance();
        if (!PrnType && p.documentOpen()) p.NewPage();
        // The receipt's paper is the receipt's own: the next job finds the printer as it was.
        const platform::KeepPaper keep;
        if (job.voucher) printVouchers(job);
        else printBill(job);
    } catch (const std::exception&) {
        // A receipt that fails is not printed; the payment stands.
        frmGridPrn::unload();
    }
}

}  // namespace billing
