#include "params/RowEdit.h"

#include "core/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "core/StationFiles.h"
#include "params/CellEdit.h"
#include "params/DialDigits.h"
#include "params/GridEditors.h"
#include "params/OptionLists.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "params/TransferHooks.h"
#include "params/ViewSupport.h"
#include "platform/Clock.h"
#include "platform/GridText.h"
#include "platform/Prompts.h"

namespace ModSwitch {

namespace {

using platform::FlexGrid;
namespace views = params::views;

quint32 bgr(const QColor& c) { return quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16; }

bool extensionClass(const QString& text) {
    const int i = LanHeadTypeList.indexOf(text);
    return i >= 20 && i <= 29;
}

struct AddRule {
    const char* view;
    int keyCol;
    const char* emptyKey;
};
const AddRule kAddRules[] = {
    {"LanHead", 0, "请输入本机字头"},
    {"CityHead", 0, "请输入市话字头"},
    {"PabxFeeRate", 0, "请输入费率字头"},
    {"User", 1, "请输入用户名"},
};

// The limit of data rows, and its message; 0 for none.
int rowLimit(const QString& view, QString* message) {
    if (view == QLatin1String("LanHead")) {
        *message = QStringLiteral("本机字头不能超过256个");
        return 256;
    }
    if (view == QLatin1String("CityHead")) {
        const int n = SwitchModel == 1 ? 1024 : SwitchModel == 2 ? 256 : 512;
        *message = QStringLiteral("市话字头不能超过%1个").arg(n);
        return n;
    }
    if (view == QLatin1String("PabxFeeRate")) {
        *message = QStringLiteral("费率字头不能超过256个");
        return 256;
    }
    return 0;
}

QStringList newRow(const FlexGrid& g, const QString& view) {
    const int last = g.Rows() - 1;
    const auto tm = [&](int c) { return g.TextMatrix(last, c); };
    if (view == QLatin1String("LanHead"))
        return {ModGeneral::NextNumStr(tm(0)), extensionClass(tm(1)) ? QStringLiteral("本地出局") : tm(1),
                QStringLiteral("4"), QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("0")};
    if (view == QLatin1String("CityHead")) {
        QString cls = tm(1);
        if (cls.isEmpty()) cls = QStringLiteral("本局1");
        else if (g.Rows() < 2 || extensionClass(cls)) cls = QStringLiteral("本地局号");
        return {ModGeneral::NextNumStr(tm(0)), cls, QStringLiteral("8"), QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("0")};
    }
    if (view == QLatin1String("PabxFeeRate")) {
        QStringList cells = {ModGeneral::NextNumStr(tm(0)), g.Rows() >= 3 ? tm(1) : QStringLiteral("本地1")};
        if (SwitchModel != 2) cells << QStringLiteral("市话");
        cells << QStringLiteral("180") << QStringLiteral("0.20") << QStringLiteral("60") << QStringLiteral("0.10")
              << QStringLiteral("0.00") << QStringLiteral("0.00") << QStringLiteral("0");
        return cells;
    }
    return {QString::number(NextUserID()), QString(), platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            QStringLiteral("押金用户"), QStringLiteral("0.00"), QStringLiteral("0.00"), QStringLiteral("0.00"),
            QStringLiteral("0.00"), QStringLiteral("默认部门"), QStringLiteral("OFF"), QStringLiteral("OFF")};
}

}  // namespace

void AddParaRecord(int rightNo) {
    if (ModGeneral::CheckRight(rightNo, ModGeneral::kRightStatusBar)) return;
    const AddRule* rule = nullptr;
    for (const AddRule& r : kAddRules)
        if (CurTable == QLatin1String(r.view)) rule = &r;
    if (!rule) return;
    FlexGrid& g = views::ConsoleGrid();
    const bool user = CurTable == QLatin1String("User");

    // A row added and left without its key is offered again.
    if (!user && g.Rows() != 2 && g.TextMatrix(g.Rows() - 1, 0).isEmpty()) {
        const int last = g.Rows() - 1;
        g.setRow(last);
        GridSelFirst = GridSelLast = last;
        g.setTopRow(last);
        g.setCol(0);
        GridMouseCol = 0;
        g.setTextMatrix(last, 0, ModGeneral::NextNumStr(g.TextMatrix(last - 1, 0)));
        ShowEditor(views::TextEditor());
        g.setTextMatrix(last, 0, QString());
        return;
    }

    g.setRedraw(false);
    try {
        QString message;
        const int limit = rowLimit(CurTable, &message);
        if (limit > 0 && g.Rows() > limit) {
            views::StatusText(message);
            g.setRedraw(true);
            return;
        }
        if (g.Rows() > 2) {
            for (int r = 1; r < g.Rows(); ++r) {
                if (g.TextMatrix(r, rule->keyCol).isEmpty()) {
                    views::StatusText(QString::fromUtf8(rule->emptyKey));
                    g.setRedraw(true);
                    return;
                }
            }
        }
        g.AddItem(platform::GridLine(newRow(g, CurTable)));
        const int e = user ? 1 : 0;
        const int last = g.Rows() - 1;
        static const QStringList leftTitles = {"本机类别", "市话类别", "费率类型", "费率等级"};
        for (int c = 0; c < g.Cols(); ++c)
            g.setCellAlignmentAt(last, c, leftTitles.contains(g.TextMatrix(0, c).trimmed()) ? 1 : 7);
        int added = last;
        if (g.TextMatrix(1, 0).isEmpty() && g.Rows() > 2) {
            g.RemoveItem(1);
            --added;
        }
        g.setRedraw(true);
        GridSelFirst = GridSelLast = added;
        g.setRow(added);
        g.setTopRow(added);
        g.setCol(e);
        GridMouseCol = e;
        ShowEditor(views::TextEditor());
        // The proposed key stands in the editor only: committing it makes the row an edit.
        if (!user) g.setTextMatrix(added, 0, QString());
    } catch (const std::exception& ex) {
        g.setRedraw(true);
        views::StatusText(QStringLiteral("添加错误:") + platform::OperatorText(ex));
    }
}

namespace {

// The flexible head holds every extension no other head takes. A selection
// of nothing else is refused before the question, so no answer seems to
// delete it; among other heads it stays while they go.
bool flexibleHeadAlone(const FlexGrid& g) {
    bool flexible = false, other = false;
    for (int i = GridSelFirst; i <= GridSelLast && i < g.Rows(); ++i) {
        if (g.TextMatrix(i, 0).isEmpty()) continue;
        (LanHeadTypeList.indexOf(g.TextMatrix(i, 1)) == 29 ? flexible : other) = true;
    }
    return flexible && !other;
}

enum class RowOutcome { Deleted, Kept, SwitchSilent };

// One user: released on the switch first; the station's rows then change
// together.
RowOutcome deleteUser(const FlexGrid& g, int i, const QString& key) {
    bool ok = false;
    const qint64 number = key.toLongLong(&ok);
    if (!ok) throw platform::DbError(platform::kErrGeneric, QStringLiteral("类型不匹配: '%1'").arg(key));
    if (number == 0) {
        views::StatusText(QStringLiteral("不能删除默认用户"));
        return RowOutcome::Kept;
    }
    const auto balance = platform::Currency::parse(g.TextMatrix(i, 5).trimmed());
    if (balance && *balance != platform::Currency() &&
        platform::MsgBox(g.TextMatrix(i, 1) + QStringLiteral("用户还有押金余额,确认要删除此用户吗?"), platform::mbYesNo,
                         AppName) == platform::rNo)
        return RowOutcome::Kept;
    // What is about to be released is written ahead: a station file that
    // cannot take it (another program's lock) stops the deletion before
    // anything is sent.
    WriteUserRelease(number);
    try {
        if (!SendUserPara(number, 2, true)) {
            // Some rows may have gone: read back, kept or named. A switch
            // that gives no answer is sent no further release: each would
            // end the same, later.
            return SettleUserRelease(number) ? RowOutcome::Kept : RowOutcome::SwitchSilent;
        }
        // An entry of the journal, kept in both files with the deletion: a
        // station file put back from an older copy loses the user again. The
        // intent goes in the same commit.
        ModSwitch::MoveBalances(
            [&] {
                ModSwitch::DeleteUserRows(dbSwitch, number);
                ReleaseDone(number);
            },
            number);
    } catch (const platform::DbError& e) {
        // The release may have reached the switch: the intent stays, and the
        // switch is asked before anything of the user goes again.
        platform::MsgBox(QStringLiteral("用户%1的删除未能完成：%2。其帐号和分机可能已在交换机上释放；"
                                        "下次下载或打开站点时将核对交换机，完成删除或保留该用户。")
                             .arg(g.TextMatrix(i, 1).trimmed(), platform::OperatorText(e)),
                         platform::mbOKOnly | platform::mbExclamation, AppName);
        throw;
    }
    DropTypedDeposit(number);   // goes with its row
    return RowOutcome::Deleted;
}

// A local head of an extension class gives its extensions to the flexible
// head, each keeping its number's last digits as its own.
void giveExtensionsToFlexibleHead(int head, int n) {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select Address,SpringNum from Extension where Head=?"), {head});
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString last = rs.str(QStringLiteral("SpringNum")).right(n);
        bool ok = false;
        const qint64 v = last.toLongLong(&ok);
        dbSwitch.execute(QStringLiteral("update Extension set Head=29,bSetSpringNum=1,SpringNum=? where Address=?"),
                         {ok && v >= 0 ? QString::number(v).rightJustified(n, QLatin1Char('0')) : last,
                          rs.lng(QStringLiteral("Address"))});
    }
}

// One row of a view the station alone keeps; false when the row stays.
bool deleteStationRow(const FlexGrid& g, int i, const QString& table, const QString& key, int n) {
    platform::Transaction tx(dbSwitch);
    if (table == QLatin1String("LanHead")) {
        const int c = LanHeadTypeList.indexOf(g.TextMatrix(i, 1));
        if (c == 29) {
            views::StatusText(QStringLiteral("不能删除字头<E>"));
            return false;
        }
        if (c >= 20 && c <= 28) giveExtensionsToFlexibleHead(c, n);
        dbSwitch.execute(QStringLiteral("delete From LanHead where HeadID=?"), {DialToHex(key)});
    } else if (table == QLatin1String("CityHead")) {
        dbSwitch.execute(QStringLiteral("delete From CityHead where HeadID=?"), {DialToHex(key)});
    } else if (table == QLatin1String("PabxFeeRate")) {
        dbSwitch.execute(QStringLiteral("delete From PabxFeeRate where FeeRateHead=?"), {DialToHex(key)});
    } else if (table == QLatin1String("Awake")) {
        dbSwitch.execute(QStringLiteral("delete From awake where flewno=?"), {key.toLongLong()});
    } else if (table == QLatin1String("History")) {
        // The log has no key: exactly one row of what the grid shows goes.
        dbSwitch.execute(QStringLiteral("delete from tab_oplog where rowid=(select rowid from tab_oplog where "
                                        "f_date=? and ifnull(f_workerid,'')=? and ifnull(f_workername,'')=? and "
                                        "ifnull(f_memo,'')=? limit 1)"),
                         {key, g.TextMatrix(i, 1), g.TextMatrix(i, 2), g.TextMatrix(i, 3)});
    } else if (table == QLatin1String("ExtDepositHistory")) {
        const QVariant address =
            dbSwitch.scalar(QStringLiteral("select address from que_txhm where txhm=?"), {g.TextMatrix(i, 1)});
        if (address.isNull()) return false;
        dbSwitch.execute(QStringLiteral("delete from extdeposithistory where changedate=? and extaddr=?"),
                         {key, address.toLongLong()});
    }
    tx.commit();
    return true;
}

void dropGridRow(FlexGrid& g, int i) {
    if (g.Rows() >= 3) {
        g.RemoveItem(i);
        return;
    }
    for (int c = 0; c < g.Cols(); ++c) g.setTextMatrix(i, c, QString());
    SetRowColor(g, i, bgr(g.BackColor()));
}

}  // namespace

void DelParaRecord(int rightNo) {
    static const QStringList views_ = {"LanHead", "CityHead", "PabxFeeRate", "User", "Awake", "History", "ExtDepositHistory"};
    if (!views_.contains(CurTable)) return;
    if (ModGeneral::CheckRight(rightNo, ModGeneral::kRightStatusBar)) return;
    FlexGrid& g = views::ConsoleGrid();
    // A deletion the switch finished since the view was shown is finished
    // first: its row leaves the grid before the question counts the rows.
    if (CurTable == QLatin1String("User")) SettleUserReleases();
    ModGeneral::GetGridSel(g, false, GridSelColFirst, GridSelColLast);
    if (GridSelFirst < 1) return;
    if (CurTable == QLatin1String("LanHead") && flexibleHeadAlone(g)) {
        views::StatusText(QStringLiteral("不能删除字头<E>"));
        platform::MsgBox(QStringLiteral("不能删除字头<E>"), platform::mbOKOnly | platform::mbExclamation, AppName);
        return;
    }
    if (platform::MsgBox(QStringLiteral("要删除第%1条至第%2条记录吗?").arg(GridSelFirst).arg(GridSelLast),
                         platform::mbYesNo | platform::mbExclamation, AppName) == platform::rNo)
        return;
    g.setRedraw(false);
    int deleted = 0;
    int untried = 0;   // users not released: the switch had stopped answering
    try {
        const int n = GetExtHeadLen();
        const QString table = CurTable;
        // The rows chosen: a user whose deletion the switch's answers finish
        // leaves the grid (and the selection) as it goes.
        const int first = GridSelFirst, last = GridSelLast;
        for (int i = last; i >= first; --i) {
            const QString key = g.TextMatrix(i, 0);
            if (key.isEmpty()) continue;
            if (table == QLatin1String("User")) {
                const RowOutcome outcome = deleteUser(g, i, key);
                if (outcome == RowOutcome::SwitchSilent) {
                    for (int k = i - 1; k >= first; --k) untried += g.TextMatrix(k, 0).isEmpty() ? 0 : 1;
                    break;
                }
                if (outcome == RowOutcome::Kept) continue;
            } else if (!deleteStationRow(g, i, table, key, n)) {
                continue;
            }
            ++deleted;
            dropGridRow(g, i);
        }
    } catch (const std::exception& ex) {
        g.setRedraw(true);
        views::StatusText(QStringLiteral("删除错误:") + platform::OperatorText(ex));
        return;
    }
    g_Modified = GridHoldsEdits(g);
    g.setRedraw(true);
    ModGeneral::AddOpLog(views::Caption().chopped(qMin(2, views::Caption().size())) + QStringLiteral("删除%1条记录").arg(deleted));
    if (untried > 0) views::StatusText(QStringLiteral("交换机没有回答，其余%1个用户没有删除").arg(untried));
    if (g.MouseRow() >= 0 && g.MouseRow() < g.Rows()) g.setRow(g.MouseRow());
}

}  // namespace ModSwitch
