#include "params/CellEdit.h"

#include "core/books/ChargeLog.h"

#include "core/Console.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "params/EntryRules.h"
#include "params/GridEditors.h"
#include "params/OptionLists.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "params/TransferHooks.h"
#include "params/ViewSupport.h"
#include "platform/Prompts.h"

#include <QComboBox>
#include <QLineEdit>

namespace ModSwitch {

namespace {

quint32 bgr(const QColor& c) { return quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16; }

platform::Currency money(const QString& text) {
    platform::Currency c;
    ValText(text, &c);
    return c;
}

QString timeText(const QString& text, const QString& format) {
    const auto t = ParseEntryTime(text);
    return t ? t->toString(format) : text;
}

// "name-id": the id behind the last "-" (a name may hold "-" itself).
bool splitUserItem(const QString& item, QString* name, qint64* id) {
    const int dash = item.lastIndexOf(QLatin1Char('-'));
    if (dash < 0) return false;
    bool ok = false;
    *id = item.mid(dash + 1).toLongLong(&ok);
    *name = item.left(dash);
    return ok;
}

// The database refused to store the edit of a cell (another program holds
// the file, a full disk): the operator hears which and why.
void tellRefused(const QString& title, const std::exception& e) {
    const QString text = title + QStringLiteral("未能保存：") + platform::OperatorText(e);
    params::views::StatusText(text);
    platform::MsgBox(text, platform::mbOKOnly | platform::mbExclamation, AppName);
}

}  // namespace

namespace {
QHash<qint64, platform::Currency>& typedDeposits() {
    static QHash<qint64, platform::Currency> typed;
    return typed;
}
}  // namespace

const QHash<qint64, platform::Currency>& TypedDeposits() { return typedDeposits(); }

void DropGridEdits() {
    g_Modified = false;
    typedDeposits().clear();
}

void DropTypedDeposits() { typedDeposits().clear(); }

void DropTypedDeposit(qint64 userId) { typedDeposits().remove(userId); }

bool GridHoldsEdits(const platform::FlexGrid& g) {
    for (int r = 1; r < g.Rows(); ++r)
        if (g.CellBackColorAt(r, qMin(1, g.Cols() - 1)) == platform::vbColor(ModGeneral::kEditedRowColor)) return true;
    return false;
}

void DropUserRow(platform::FlexGrid& g, qint64 userId) {
    DropTypedDeposit(userId);
    if (CurTable != QLatin1String("User")) return;
    const int r = g.FindRow(0, QString::number(userId), 1);
    if (r < 1) return;
    // The operator's chosen rows, and the rows an open editor or a command
    // waits on: a user above them moves them up with their users; the user
    // among them leaves no other user chosen in its place.
    const bool chosen = r >= qMin(g.Row(), g.RowSel()) && r <= qMax(g.Row(), g.RowSel());
    const bool pending = r >= GridSelFirst && r <= GridSelLast;
    const bool removed = g.Rows() >= 3;
    if (removed) {
        g.RemoveItem(r);
    } else {
        for (int c = 0; c < g.Cols(); ++c) g.setTextMatrix(r, c, QString());
        SetRowColor(g, r, bgr(g.BackColor()));
    }
    if (chosen) {
        g.setRow(0);
        g.clearSelection();
    }
    // The console's editors, when this grid is the console's.
    core::Console* c = core::TheConsole();
    const bool console = c && c->fgDisp == &g && c->txtModify && c->cboModify;
    if (pending) {
        GridSelFirst = GridSelLast = 0;
        if (console && (c->txtModify->isVisible() || c->cboModify->isVisible())) {
            // What was being typed belonged to the deleted user.
            c->EditDone = true;
            g_Editing = false;
            c->txtModify->hide();
            c->cboModify->hide();
        }
    } else if (removed && r < GridSelFirst) {
        --GridSelFirst;
        --GridSelLast;
        if (console) fgDisp_Scroll();   // an open editor stays over its cell
    }
    // Panel 2 tells the cursor where it is now, never the row it was on.
    if (console && (removed || chosen) && PanelTellsCursor()) {
        if (chosen) params::views::StatusText(QString());
        else TellCursor();
    }
    g_Modified = GridHoldsEdits(g);
}

void SaveCellEdit(platform::FlexGrid& grid, const QString& T) {
    g_Editing = false;
    const int c = GridMouseCol;
    const QString title = grid.TextMatrix(0, c).trimmed();
    QStringList grades;
    QString userName;
    qint64 userId = 0;
    if (title == QStringLiteral("所属用户")) {
        // Confirmed without a choice, the editor still holds the owner's name
        // (which may itself look like "name-id"): nothing changes.
        if (T == grid.TextMatrix(GridSelFirst, c)) return;
        GetOptionList(QStringLiteral("押金等级"), grades);
        if (!splitUserItem(T, &userName, &userId) ||
            dbSwitch.scalar(QStringLiteral("select userid from user where userid=?"), {userId}).isNull()) {
            params::views::StatusText(QStringLiteral("用户不存在"));
            return;
        }
    }
    // Whichever way this ends, the grid paints again.
    struct RedrawBack {
        platform::FlexGrid& g;
        bool on;
        ~RedrawBack() { g.setRedraw(on); }
    } redrawBack{grid, grid.Redraw()};
    grid.setRedraw(false);
    for (int r = GridSelFirst; r <= GridSelLast; ++r) {
        if (r < grid.FixedRows() || r >= grid.Rows()) continue;
        const QString cell = grid.TextMatrix(r, c);
        bool changed = false;
        const auto set = [&](const QString& v) {
            if (cell != v) {
                grid.setTextMatrix(r, c, v);
                changed = true;
            }
        };
        if (title == QStringLiteral("弹性号码")) {
            set(grid.TextMatrix(r, 1) + T);
        } else if (title == QStringLiteral("叫醒时间")) {
            set(timeText(T, QStringLiteral("HH:mm")));
        } else if (title == QStringLiteral("开始时间") || title == QStringLiteral("结束时间")) {
            const bool seconds = CurTable == QLatin1String("Times") || CurTable == QLatin1String("FeeRate");
            set(timeText(T, seconds ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm")));
        } else if (title == QStringLiteral("首次价格") || title == QStringLiteral("单次价格") ||
                   title == QStringLiteral("手续费") || title == QStringLiteral("附加费") || title == QStringLiteral("月租费")) {
            set(money(T).toString2());
        } else if (title == QStringLiteral("所属用户")) {
            // Two users may share a name: the owner is told by its id.
            const qint64 address = grid.TextMatrix(r, 0).toLongLong();
            const QVariant owner = dbSwitch.scalar(
                QStringLiteral("select userid from %1 where address=?").arg(params::views::CheckedTable(CurTable)), {address});
            if (cell != userName || owner.isNull() || owner.toLongLong() != userId) {
                const quint8 grade = ModGeneral::GetDepositGrade(userId);
                const int gc = GetColIndex(QStringLiteral("押金等级"), grid);
                const QString table = params::views::CheckedTable(CurTable);
                // The owner's grade, lock and way of paying reach the switch in
                // the row's frame: a row that changes waits for its download.
                bool pending = false;
                try {
                    platform::Transaction tx(dbSwitch);
                    const QString before = SwitchRowState(table, address);
                    // The owner is an entry of the journal: a copy put back gives it back.
                    ModSwitch::MoveOwners([&] {
                        dbSwitch.execute(QStringLiteral("update %1 set depositgrade=?,userid=? where address=?").arg(table),
                                         {grade, userId, address});
                    });
                    pending = SwitchRowState(table, address) != before;
                    if (pending) dbSwitch.execute(QStringLiteral("update %1 set bset=1 where address=?").arg(table), {address});
                    tx.commit();
                } catch (const platform::DbError& e) {
                    // The row keeps showing its stored owner; the rows after it are left.
                    grid.setRedraw(redrawBack.on);
                    tellRefused(title, e);
                    break;
                }
                grid.setTextMatrix(r, c, userName);
                if (gc >= 0) grid.setTextMatrix(r, gc, grades.value(grade));
                // Edits of the row not saved yet keep their colour: the save writes them.
                const bool ext = CurTable == QLatin1String("Extension");
                const int part = ext ? qMin(3, grid.Cols() - 1) : qMin(1, grid.Cols() - 1);
                if (pending && grid.CellBackColorAt(r, part) != platform::vbColor(ModGeneral::kEditedRowColor)) {
                    if (ext) SetRowColor3(grid, r, ModGeneral::kPendingRowColor, false);
                    else SetRowColor(grid, r, ModGeneral::kPendingRowColor);
                }
            }
        } else if (title == QStringLiteral("帐号")) {
            const QString shown = T == QLatin1String("FFFF") ? T : QStringLiteral("%1").arg(T.toLongLong(), 4, 10, QLatin1Char('0'));
            if (cell != shown) {
                const qint64 address = grid.TextMatrix(r, 0).toLongLong();
                // Pending until the switch acknowledges it: a send that fails
                // leaves the account for the next download.
                try {
                    dbSwitch.execute(QStringLiteral("update account set account=?,clearpassword=1,bset=1 where address=?"),
                                     {shown, address});
                } catch (const platform::DbError& e) {
                    grid.setRedraw(redrawBack.on);
                    tellRefused(title, e);
                    break;
                }
                grid.setTextMatrix(r, 6, QStringLiteral("ON"));
                grid.setTextMatrix(r, c, shown);
                SendAccountNow(address);
            }
        } else if (title == QStringLiteral("预付押金")) {
            // To the fen: what is stored is what the cell shows.
            const platform::Currency add = money(T).roundToFen();
            if (add != platform::Currency()) {
                const platform::Currency deposit = money(cell) + add;
                const platform::Currency balance = money(grid.TextMatrix(r, 5)) + add;
                platform::Currency& typed = typedDeposits()[grid.TextMatrix(r, 0).toLongLong()];
                typed = typed + add;
                grid.setTextMatrix(r, c, deposit.toString2());
                grid.setTextMatrix(r, 5, balance.toString2());
                changed = true;
            }
        } else if (title == QStringLiteral("透支额") || title == QStringLiteral("修改金额")) {
            if (money(T) != money(cell)) {
                grid.setTextMatrix(r, c, money(T).toString2());
                changed = true;
            }
        } else {
            set(T);
        }
        if (changed) {
            if (CurTable == QLatin1String("Extension")) SetRowColor3(grid, r, ModGeneral::kEditedRowColor, c < 3);
            else SetRowColor(grid, r, ModGeneral::kEditedRowColor);
            g_Modified = true;
        }
    }
}

}  // namespace ModSwitch
