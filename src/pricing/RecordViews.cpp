// What the pricing engine and the deposit grading show of their work in the
// station's windows, in one place: the console through its interface in
// src/core, the ticket through the printing subsystem.
#include "core/RecordDisplay.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "params/OptionLists.h"
#include "params/TableViews.h"
#include "platform/FlexGrid.h"
#include "platform/GridText.h"
#include "platform/Printer.h"
#include "printing/PrintGrid.h"
#include "printing/frmGridPrn.h"

#include <QColor>

namespace pricing {

namespace {

platform::FlexGrid* consoleGrid() {
    core::Console* c = core::TheConsole();
    return c ? c->fgDisp : nullptr;
}

// The call as a row of the immediate-bill view: one formatting for this row
// and the rows loaded with the view.
QStringList billCells(const ModSwitch::BillLine& call) {
    ModSwitch::GetOptionList(QStringLiteral("话单类型"), g_ModifyList);
    return ModSwitch::BillRowText(call, g_ModifyList).split(QLatin1Char('\t'));
}

class WindowDisplay : public core::RecordDisplay {
public:
    void ShowUserBalance(qint64 userId, platform::Currency balance) override;
    void ShowStoredCall(const ModSwitch::BillLine& call, bool overdrawn) override;
    bool PrintCallTicket(const ModSwitch::BillLine& call, const std::optional<QString>& userName) override;
    void ShowWakeUpEvent(int address, int type, const QDateTime& at, const QString& wake) override;
    void ShowDepositGrade(qint64 userId, quint8 grade) override;
};

}  // namespace

void WindowDisplay::ShowUserBalance(qint64 userId, platform::Currency balance) {
    if (CurTable != QStringLiteral("User")) return;
    platform::FlexGrid* g = consoleGrid();
    if (!g) return;
    // The operator's current row and scrolled position stay where they were.
    const qint32 row = g->FindRow(0, QString::number(userId), 1);
    if (row > 0 && g->Cols() > 5) g->setTextMatrix(row, 5, balance.toString2());
}

void WindowDisplay::ShowStoredCall(const ModSwitch::BillLine& call, bool overdrawn) {
    if (CurTable != QStringLiteral("Bill")) return;
    platform::FlexGrid* g = consoleGrid();
    if (!g) return;
    g->AddItem(platform::GridLine(billCells(call)));
    if (overdrawn) {
        g->setRow(g->Rows() - 1);
        g->setCol(7);
        g->setCellBackColorAt(g->Rows() - 1, 7, QColor(255, 0, 0));
    }
    if ((g->Rows() >= 3 && g->TextMatrix(1, 0).isEmpty()) || g->Rows() >= 201) g->RemoveItem(1);
    g->setTopRow(g->Rows() - 1);
}

// Whatever the printer does, the record stays taken and answered.
bool WindowDisplay::PrintCallTicket(const ModSwitch::BillLine& call, const std::optional<QString>& userName) {
    try {
        // Asking the system for its printers is a call to the print service:
        // made only for a ticket that is due. No printer: no ticket, no message.
        if (!printing::HasPrinter()) return true;
        // The ticket's paper is the ticket's own: the next job finds the printer as it was.
        const platform::KeepPaper keep;
        frmGridPrn& form = frmGridPrn::instance();
        if (!form.SetPaperUserDef(!PrnType)) return true;
        QStringList cells = billCells(call);
        cells.removeAt(8);   // the ticket has no call-type column
        cells = cells.mid(0, 14);
        // A tab in a stored name shows as a blank, as in every other cell.
        cells[0] = platform::GridCell(userName ? *userName : ModSwitch::UserNameById(call.userId));
        platform::FlexGrid* g = form.MSFlexGrid1;
        const int n = g->Cols();
        for (int i = 0; i < cells.size(); ++i) g->setTextArray(n + i, cells[i]);
        if (!form.Init(g, 0, 13, 1, 1, true, true)) return false;
        form.PrnGrid();
        if (!form.PrnError().isEmpty()) throw platform::PrintError(form.PrnError());
        if (!PrnType) {
            // A cut sheet goes out now; the next ticket starts a fresh one.
            platform::Printer::instance().EndDoc();
            ModSwitch::SetVariant(printing::kLocateKey, QString());
        }
        return true;
    } catch (const std::exception& e) {
        // A failed document is dropped; a sound continuous form keeps its tickets.
        if (platform::Printer::instance().failed()) platform::Printer::instance().KillDoc();
        core::StatusText(2, platform::OperatorText(e));
        return false;
    }
}

void WindowDisplay::ShowWakeUpEvent(int address, int type, const QDateTime& at, const QString& wake) {
    static const char* const kAwakeNames[] = {"设置叫醒", "振铃已接", "振铃未接", "取消叫醒"};
    platform::FlexGrid* g = consoleGrid();
    if (!g) return;
    if (CurTable == QStringLiteral("Extension")) {
        const int col = ModSwitch::GetColIndex(QStringLiteral("叫醒时间"), *g);
        if (col >= 0 && g->Rows() > address + 1) g->setTextMatrix(address + 1, col, wake);
    } else if (CurTable == QStringLiteral("Awake")) {
        const platform::Recordset rs = dbSwitch.query(
            QStringLiteral("SELECT flewno, txhm, servetime, servetype FROM awake, que_txhm WHERE "
                           "que_txhm.address=? AND awake.Address=que_txhm.address AND servetype=? AND servetime=?"),
            {address, type, at});
        if (rs.empty()) return;
        const int shown = int(rs.lng("servetype"));
        if (shown < 6 || shown > 9) return;
        g->AddItem(platform::GridLine({rs.str("flewno"), rs.str("txhm"), platform::dateText(rs.date("servetime")),
                                       QString::fromUtf8(kAwakeNames[shown - 6])}),
                   1);
        g->setTopRow(g->Rows() - 1);
    }
}

// The grade's rows are the extensions (row address + 1) or the accounts (row
// address - 2047) of the user, on the view that lists them.
void WindowDisplay::ShowDepositGrade(qint64 userId, quint8 grade) {
    const bool ext = CurTable == QLatin1String("Extension");
    if (!ext && CurTable != QLatin1String("Account")) return;
    platform::FlexGrid* g = consoleGrid();
    if (!g) return;
    const int col = ModSwitch::GetColIndex(QStringLiteral("押金等级"), *g);
    if (col < 0) return;
    ModSwitch::GetOptionList(QStringLiteral("押金等级"), g_ModifyList);
    if (grade >= g_ModifyList.size()) return;
    platform::Recordset rows = dbSwitch.query(
        ext ? QStringLiteral("select address from extension where userid=?")
            : QStringLiteral("select address from account where userid=?"),
        {userId});
    for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
        const qint64 a = rows.lng(QStringLiteral("address"));
        const qint64 r = ext ? a + 1 : a - 2047;
        if (r >= g->FixedRows() && r < g->Rows()) g->setTextMatrix(int(r), col, g_ModifyList[grade]);
    }
}

}  // namespace pricing

std::shared_ptr<core::RecordDisplay> core::MakeWindowRecordDisplay() {
    return std::make_shared<pricing::WindowDisplay>();
}
