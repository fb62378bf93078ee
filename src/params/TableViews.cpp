#include "params/TableViews.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "core/books/UserNumbers.h"
#include "link/MonitorSink.h"
#include "params/BoardPanel.h"
#include "params/ColumnChooser.h"
#include "params/DialDigits.h"
#include "params/OptionLists.h"
#include "params/ShowTable.h"
#include "params/ViewSupport.h"
#include "platform/GridText.h"

namespace ModSwitch {

using params::views::CheckedTable;

int ShowRelayGrid(platform::FlexGrid& grid, const QString& table, bool fill) {
    const int n = 4 * dbSwitch.scalar(QStringLiteral("select count(cardtype) as RelayCount from moncard where dispcard=1")).toInt();
    if (fill) {
        QStringList list;
        const QString header = BuildColumnList(list, false, false);
        const QString fields = BuildColumnList(list, true, false);
        CurSQL = QStringLiteral("Select %1 From %2 where address<=? order by address").arg(fields, CheckedTable(table));
        CurSQLParams = {n};
        ModGeneral::ShowTable(grid, CurSQL, header, 0, 0, true, CurSQLParams);
    }
    return n;
}

int ShowExtGrid(platform::FlexGrid& grid, const QString& table, bool fill) {
    const QVariant m =
        dbSwitch.scalar(QStringLiteral("select max(cardorder) as MaxOrder from MonCard where dispcard=0 or dispcard=11"));
    const int n = m.isNull() ? 0 : (m.toInt() - 6) * 8;
    if (fill) {
        QStringList list;
        const QString header = BuildColumnList(list, false, true);
        const QString fields = BuildColumnList(list, true, true);
        CurSQL = QStringLiteral("Select %1 From %2 where address<? order by address").arg(fields, CheckedTable(table));
        CurSQLParams = {n};
        ModGeneral::ShowTable(grid, CurSQL, header, 0, 0, true, CurSQLParams);
    }
    return n;
}

int ShowExtDeposit(platform::FlexGrid& grid, const QString& table, bool) {
    const QString t = CheckedTable(table);
    // One row per extension that has a dialable number. An extension under two
    // heads of its class has two numbers: the lowest is shown, so that no
    // extension is listed twice and every row after it stays in its place.
    CurSQL = QStringLiteral("select %1.address as Address,(select min(txhm) from que_txhm where que_txhm.address=%1.address) "
                            "as ExtNum,ChangeValue,RealValue,bOverDraft,bMonitor,bSet from %1 "
                            "where %1.address in (select address from que_txhm) order by %1.address")
                 .arg(t);
    CurSQLParams.clear();
    ModGeneral::ShowTable(grid, CurSQL,
                          QStringLiteral(">物理地址|>分机号码          |修改金额          |>分机余额          |"
                                         "^分机超支          |^押金监控          "),
                          0, 1, true);
    return 0;
}

int ShowPabxFeeRate(platform::FlexGrid& grid, const QString& table, bool) {
    const QString t = CheckedTable(table);
    QString header;
    if (SwitchModel == 2) {
        CurSQL = QStringLiteral("Select FeeRateHead,FeeRateType,FirstTime,FirstPrice,PerTime,PerPrice,Poundage,ExtraFee,"
                                "DiscountPercent,bSet From %1")
                     .arg(t);
        header = QStringLiteral(">费率字头        |<费率类型 |>首次时间|>首次价格  |>单次时间  |>   单次价格   |"
                                ">    手续费    |>附加费   |>百分比附加费(%)");
    } else {
        CurSQL = QStringLiteral("select * from %1").arg(t);
        header = QStringLiteral(">费率字头        |<费率类型 |<费率等级|>首次时间|>首次价格  |>单次时间  |"
                                ">   单次价格   |>    手续费    |>附加费   |>百分比附加费(%)");
    }
    CurSQLParams.clear();
    ModGeneral::ShowTable(grid, CurSQL, header, 0, 1, true);
    return 0;
}

int ShowPabxTimes(platform::FlexGrid& grid, const QString& table, bool) {
    const QString t = CheckedTable(table);
    QString header;
    // In segment order, so that rows 7 and 8 are the weekend segments they are labelled as.
    if (SwitchModel == 2) {
        CurSQL = QStringLiteral("select SegNo,DayTimes,TimeBegin,TimeEnd,InnerPercent1,NationPercent1,MobilPercent1,"
                                "LanPercent1,bSet from %1 order by SegNo")
                     .arg(t);
        header = QStringLiteral(">时间段|<时段类型|>开始时间|>结束时间|>国际(%)           |>国内(%)           |"
                                ">移动(%)           |>本地(%)           ");
    } else {
        CurSQL = QStringLiteral("Select * From %1 order by SegNo").arg(t);
        header = QStringLiteral(">时间段|<时段类型|>开始时间|>结束时间|>国际1(%)|>国内1(%)|>移动1(%)|>本地1(%)|"
                                ">国际2(%)|>国内2(%)|>移动2(%)|>本地2(%)");
    }
    CurSQLParams.clear();
    ModGeneral::ShowTable(grid, CurSQL, header, 0, 1, true);
    return 0;
}

QString UserNameById(qint64 userId) {
    const QVariant v = dbSwitch.scalar(QStringLiteral("Select username From user where userid=?"), {userId});
    return v.isNull() ? QStringLiteral("默认用户") : v.toString();
}

QString BillAccountText(const QString& stored) {
    const QString t = stored.trimmed();
    if (t.isEmpty()) return QString();
    bool number = true;
    for (QChar c : t) number = number && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    return number ? t.rightJustified(4, QLatin1Char('0')) : stored;
}

QString BillRowText(const BillLine& l, const QStringList& kinds) {
    const QStringList cells = {
        UserNameById(l.userId),
        ExtNumberOf(l.extAddr),
        BillAccountText(l.account),
        l.called,
        l.place,
        l.start,
        ModGeneral::SecToHMS(l.seconds),
        l.balance.toString2(),
        l.kind >= 0 && l.kind < kinds.size() ? kinds[l.kind] : QString::number(l.kind),
        l.total.toString2(),
        l.fee.toString2(),
        l.addFee1.toString2(),
        l.addFee2.toString2(),
        l.gateFee.toString2(),
        l.linkFee.toString2(),
        l.trunk,
        l.inDigits,
    };
    return platform::GridLine(cells);
}

void ShowBillGrid(platform::Recordset& rs) {
    platform::FlexGrid& grid = params::views::ConsoleGrid();
    QStringList kinds;
    GetOptionList(QStringLiteral("话单类型"), kinds);
    const auto text = [&](const char* name) {
        const int i = rs.fieldIndex(QLatin1String(name));
        return i < 0 || rs.value(i).isNull() ? QString() : rs.value(i).toString();
    };
    const auto money = [&](const char* name) {
        return rs.fieldIndex(QLatin1String(name)) < 0 ? platform::Currency() : rs.cur(QLatin1String(name));
    };
    const auto number = [&](const char* name) {
        const int i = rs.fieldIndex(QLatin1String(name));
        return i < 0 ? 0 : rs.value(i).toLongLong();
    };
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QDateTime when = rs.fieldIndex(QStringLiteral("f_date")) < 0 ? QDateTime() : rs.date(QStringLiteral("f_date"));
        BillLine l;
        l.userId = number("f_userid");
        l.extAddr = static_cast<int>(number("f_calladdr"));
        l.account = text("f_zh");
        l.called = text("f_resp");
        l.place = text("F_Memo");
        l.start = when.isValid() ? when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : text("f_date");
        l.seconds = number("f_long");
        l.balance = money("f_yj");
        l.kind = number("f_phmode");
        l.total = money("sumfee");
        l.fee = money("f_moneny");
        l.addFee1 = money("f_addfee1");
        l.addFee2 = money("f_addfee2");
        l.gateFee = money("f_gatefee");
        l.linkFee = money("f_linkfee");
        l.trunk = text("f_zjaddr");
        l.inDigits = text("f_indjh");
        grid.AddItem(BillRowText(l, kinds), 1);
    }
}

void SetRowColor(platform::FlexGrid& grid, int row, quint32 color) {
    if (row < 0 || row >= grid.Rows()) return;
    const QColor c = platform::vbColor(color);
    for (int col = grid.FixedCols(); col < grid.Cols(); ++col) grid.setCellBackColorAt(row, col, c);
    grid.setCol(grid.FixedCols());
}
void SetRowColor(int row, quint32 color) { SetRowColor(params::views::ConsoleGrid(), row, color); }

void SetRowColor3(platform::FlexGrid& grid, int row, quint32 color, bool bNumberPart) {
    if (row < 0 || row >= grid.Rows()) return;
    const QColor c = platform::vbColor(color);
    if (bNumberPart) {
        for (int col = 1; col <= 2 && col < grid.Cols(); ++col) grid.setCellBackColorAt(row, col, c);
    } else if (grid.Cols() >= 4) {
        for (int col = 3; col < grid.Cols(); ++col) grid.setCellBackColorAt(row, col, c);
    }
    grid.setCol(grid.FixedCols());
}
void SetRowColor3(int row, quint32 color, bool bNumberPart) {
    SetRowColor3(params::views::ConsoleGrid(), row, color, bNumberPart);
}

QString PortName(int address) {
    if (address == 255) return {};
    if (address >= 0 && address < 120) return ExtNumberOf(address);
    if (address >= 224 && address <= 239) return QStringLiteral("中继%1").arg(address - 223);
    return QString::number(address);
}

void ShowPortState(int channel, int state, int port1, int port2, int port3) {
    core::Console* c = core::TheConsole();
    if (!c || c->fgMon.isEmpty() || channel < 0) return;
    platform::FlexGrid& grid = *c->fgMon[0];
    const int row = channel / 2 + 1;
    const int col = (channel % 2) * 5 + 1;
    if (state >= 0 && state < MonRes.size()) {
        grid.setCellPictureAt(row, col, MonitorIcon(MonRes[state].channelpicture));
        grid.setTextMatrix(row, col, MonRes[state].channeltext);
    }
    try {
        grid.setTextMatrix(row, col + 1, PortName(port1));
        grid.setTextMatrix(row, col + 2, PortName(port2));
        grid.setTextMatrix(row, col + 3, PortName(port3));
    } catch (const platform::DbError&) {
        // a number that cannot be read leaves the cell as it was
    }
}

qint64 NextUserCount() {
    bool ok = false;
    qint64 n = GetVariant(QStringLiteral("UserCount")).trimmed().toLongLong(&ok);
    const bool taken = ok && !dbSwitch.scalar(QStringLiteral("select userid from user where userid=?"), {n}).isNull();
    if (!ok || n < 0 || taken) {
        const QVariant top = dbSwitch.scalar(QStringLiteral("select max(userid) from user"));
        n = top.isNull() ? 0 : top.toLongLong() + 1;
    }
    // Never the number of a user added before: that user may be gone from
    // this file and from the journal, and come back with a copy put back.
    n = qMax(n, FirstFreeUserNumber());
    SetVariant(QStringLiteral("UserCount"), QString::number(n + 1));
    return n;
}

namespace {

// Jet's Format(text, "0000") on a stored number: digits are padded to four,
// anything else is kept as it is.
QString fourDigits(const QString& s) {
    bool ok = false;
    const qint64 v = s.trimmed().toLongLong(&ok);
    if (!ok || v < 0) return s;
    return QStringLiteral("%1").arg(v, 4, 10, QLatin1Char('0'));
}

}  // namespace

void InitExtNumber() {
    {
        platform::Transaction tx(dbSwitch);
        if (dbSwitch.scalar(QStringLiteral("select count(*) from lanhead")).toLongLong() == 0) {
            dbSwitch.execute(QStringLiteral("insert into lanhead values('E',29,4,0,0,0,0)"));
            platform::Recordset rs = dbSwitch.query(QStringLiteral("select Address, SpringNum from extension"));
            for (rs.moveFirst(); !rs.eof(); rs.moveNext())
                dbSwitch.execute(QStringLiteral("update extension set head=29, springnum=? where address=?"),
                                 {rs.isNull(QStringLiteral("SpringNum")) ? QVariant() : QVariant(fourDigits(rs.str(QStringLiteral("SpringNum")))),
                                  rs.lng(QStringLiteral("Address"))});
        }
        dbSwitch.execute(QStringLiteral(
            "update extension set head=29, springnum=printf('%03d', address) where head is null or "
            "head not in (select headtype from lanhead where headtype>19 and headtype<30)"));
        tx.commit();
    }
    core::Console* c = core::TheConsole();
    if (!c || c->fgMon.size() < 2) return;
    platform::FlexGrid& grid = *c->fgMon[1];
    platform::Recordset rs = dbSwitch.query(QStringLiteral(
        "SELECT headid || springnum AS TXHM, Address From lanhead, extension WHERE Head=headtype order by address"));
    // Each number goes to its own address's cell: rows 2, 4, ..., 30, columns 1 to 8.
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const qint64 a = rs.lng(QStringLiteral("Address"));
        if (a < 0 || a >= 120) continue;
        grid.setTextMatrix(2 + 2 * static_cast<int>(a / 8), 1 + static_cast<int>(a % 8), rs.str(QStringLiteral("TXHM")));
    }
}

void NewMonitor(int nSlot, platform::Currency cyBalance) { CurrentMonitorSink().UpdateMonitor(nSlot, cyBalance); }

}  // namespace ModSwitch
