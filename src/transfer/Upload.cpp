#include "transfer/Upload.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "core/books/TableCopy.h"
#include "core/RowLists.h"
#include "core/OpLog.h"
#include "core/frmDialog.h"
#include "core/frmProgress.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/ModComm.h"
#include "link/frmSRV.h"
#include "params/BoardPanel.h"
#include "params/DialDigits.h"
#include "params/OptionLists.h"
#include "params/SavePara.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "platform/FlexGrid.h"
#include "platform/Prompts.h"
#include "transfer/RowFrames.h"
#include "transfer/frmVerify.h"

#include <QSet>
#include <QTime>
#include <functional>
#include <memory>
#include <stdexcept>

namespace ModToolbar {

using platform::Recordset;
using transfer::UpRecord;

namespace {

platform::FlexGrid* consoleGrid() {
    core::Console* c = core::TheConsole();
    return c ? c->fgDisp : nullptr;
}

// The console grid, or a scratch grid for the views that only count rows.
struct AnyGrid {
    platform::FlexGrid* g = consoleGrid();
    std::unique_ptr<platform::FlexGrid> scratch;
    platform::FlexGrid& get() {
        if (!g) {
            scratch = std::make_unique<platform::FlexGrid>();
            g = scratch.get();
        }
        return *g;
    }
};

int extensionRows() {
    platform::FlexGrid scratch;
    return ModSwitch::ShowExtGrid(scratch, QStringLiteral("Extension"), false);
}
int trunkRows() {
    platform::FlexGrid scratch;
    return ModSwitch::ShowRelayGrid(scratch, QStringLiteral("Relay"), false);
}

void send(const QString& order) { ModComm::SendOrder(order, false, 4, true); }
QString hex(int b) { return ModComm::ByteToHex(quint8(b)); }

// What is asked of the switch for one table.
struct Plan {
    int rows = 0;
    QString open;                          // sent once before the rows, "" for none
    std::function<QString(int)> request;   // per row, null for a streamed table
    QString code;                          // the answer awaited
    bool flag = false;                     // the switch may end the stream with "810300"
    bool route = false;
};

Plan planOf(const QString& t) {
    Plan p;
    if (t == QLatin1String("LanHead")) {
        p = {256, FrameCode::kReadLanHead, nullptr, FrameCode::kHeadRow, true};
    } else if (t == QLatin1String("CityHead")) {
        p = {SwitchModel == 1 ? 1024 : SwitchModel == 2 ? 256 : 512, FrameCode::kReadCityHead, nullptr,
             FrameCode::kHeadRow, true};
    } else if (t == QLatin1String("PabxFeeRate")) {
        p = {256, FrameCode::kReadPabxFeeRate, nullptr,
             SwitchModel == 2 ? FrameCode::kPabxFeeRateRow2 : FrameCode::kPabxFeeRateRow, true};
    } else if (t == QLatin1String("PabxTimes")) {
        p = {8, FrameCode::kReadPabxTimes, nullptr,
             SwitchModel == 2 ? FrameCode::kPabxTimesRow2 : FrameCode::kPabxTimesRow, true};
    } else if (t == QLatin1String("ExtraHead")) {
        p = {256, {}, [](int i) { return FrameCode::kReadExtraHead + hex(i); }, FrameCode::kExtraHeadRow};
    } else if (t == QLatin1String("Shrink")) {
        p = {128, {}, [](int i) { return FrameCode::kReadShrink + hex(i % 256); }, FrameCode::kShrinkRow};
    } else if (t == QLatin1String("Account")) {
        p = {512, {},
             [](int i) { return FrameCode::kReadRow + QStringLiteral("0") + (i < 256 ? "8" : "9") + hex(i % 256); },
             FrameCode::kAccountRow};
    } else if (t == QLatin1String("Extension")) {
        p = {extensionRows(), {}, [](int i) { return FrameCode::kReadExtRow + hex(i); }, FrameCode::kExtParaRow};
    } else if (t == QLatin1String("ExtDeposit")) {
        p = {extensionRows(), {}, [](int i) { return FrameCode::kReadDeposit + hex(i); }, FrameCode::kExtDepositRow};
    } else if (t == QLatin1String("Relay")) {
        p = {trunkRows(), {}, [](int i) { return FrameCode::kReadExtRow + hex(i + 224); }, FrameCode::kRelayRow};
    } else if (t == QLatin1String("Router1")) {
        p = {256, {}, [](int i) { return FrameCode::kReadAddHead + QStringLiteral("00") + hex(i); },
             FrameCode::kAddHeadRow};
        p.route = true;
    } else if (t == QLatin1String("Router2")) {
        p = {SwitchModel == 2 ? 256 : 512, {},
             [](int i) {
                 return FrameCode::kReadAddHead + QStringLiteral("0") + QString::number(i / 256 + 1) + hex(i % 256);
             },
             FrameCode::kAddHeadRow};
        p.route = true;
    }
    return p;
}

// Makes the shadow table afresh and fills it, all or nothing. A head the
// switch holds twice (two of the station's heads the same in the digits the
// switch keeps) is kept once and its digits go to `twice`.
void writeShadow(const QString& base, const QVector<UpRecord>& list, int n, const std::function<void()>& more = {},
                 QStringList* twice = nullptr) {
    platform::Transaction tx(dbSwitch);
    if (!ModSwitch::CreatePTable(base))
        throw platform::DbError(0, QStringLiteral("不能建立表 p") + base);
    const bool heads = base == QLatin1String("LanHead") || base == QLatin1String("CityHead");
    QSet<QString> seen;
    for (int i = 0; i < n && i < list.size(); ++i) {
        if (list[i].table.isEmpty()) continue;
        if (heads && !list[i].values.isEmpty()) {
            const QString id = list[i].values.first().v.toString();
            if (seen.contains(id)) {
                if (twice && !twice->contains(id)) *twice << id;
                continue;
            }
            seen.insert(id);
        }
        list[i].insert();
    }
    if (more) more();
    tx.commit();
}

// Tells the operator which of the station's heads the switch holds as one:
// the heads whose first digits, as many as the switch keeps, are `id`.
void tellHeadsHeldOnce(const QString& t, const QStringList& twice) {
    if (twice.isEmpty()) return;
    QStringList lines;
    for (const QString& id : twice) {
        QStringList station;
        Recordset rs = dbSwitch.query(QStringLiteral("select HeadID from %1 where substr(HeadID,1,?)=? order by HeadID")
                                          .arg(dbSwitch.qualified(t)),
                                      {int(id.size()), id});
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) station << rs.str(QStringLiteral("HeadID"));
        lines << (station.size() > 1
                      ? QStringLiteral("话务台的%1 %2 在集团电话中都是 %3(集团电话只存字头的前%4位)")
                            .arg(UpDisplayName(t), station.join(QStringLiteral("、")), id)
                            .arg(id.size())
                      : QStringLiteral("集团电话中有两条%1 %2").arg(UpDisplayName(t), id));
    }
    platform::MsgBox(lines.join(QLatin1Char('\n')) + QStringLiteral("\n上传的%1中每个字头只保留第一条。").arg(UpDisplayName(t)),
                     platform::mbOKOnly | platform::mbExclamation, AppName);
}

void dropShadow(const QString& base) {
    dbSwitch.execute(QStringLiteral("DROP TABLE IF EXISTS %1").arg(dbSwitch.qualified(QStringLiteral("p") + base)));
}

// Fills the difference dialog's grid without changing the console's view query.
class KeepCurSql {
public:
    KeepCurSql() : sql_(CurSQL), params_(CurSQLParams) {}
    ~KeepCurSql() {
        CurSQL = sql_;
        CurSQLParams = params_;
    }
private:
    QString sql_;
    platform::Params params_;
};

QString errorText(const std::exception& e) { return platform::OperatorText(e); }

}  // namespace

QString UpDisplayName(const QString& t) {
    if (t == QLatin1String("Account")) return QStringLiteral("帐号");
    if (t == QLatin1String("LanHead")) return QStringLiteral("本机字头");
    if (t == QLatin1String("CityHead")) return QStringLiteral("市话字头");
    if (t == QLatin1String("Router1") || t == QLatin1String("Router2")) return QStringLiteral("加发字头");
    if (t == QLatin1String("ExtraHead")) return QStringLiteral("附加字头");
    if (t == QLatin1String("Shrink")) return QStringLiteral("缩位码");
    if (t == QLatin1String("Relay")) return QStringLiteral("中继参数");
    if (t == QLatin1String("Extension")) return QStringLiteral("分机参数");
    if (t == QLatin1String("ExtDeposit")) return QStringLiteral("分机押金参数");
    return {};
}

namespace {

// What a read that met an answer naming another row than the one asked tells
// the operator: the switch answered twice, or its answers came one behind,
// and a row taken from them could be another row's.
QString otherRowAnswer(const QByteArray& answer, int row, const QSet<QByteArray>& before) {
    return before.contains(answer) ? QStringLiteral("集团电话的回答重复: 询问第%1行收到的是前面一行的回答").arg(row)
                                   : QStringLiteral("集团电话的回答错位: 询问第%1行收到的是另一行的回答").arg(row);
}

}  // namespace

bool UpLoadTable(QVector<UpRecord>& list, const QString& prompt, QString* why) {
    list = QVector<UpRecord>(1025);
    const QString t = CurTable;
    const Plan p = planOf(t);
    const bool heads = t == QLatin1String("LanHead") || t == QLatin1String("CityHead");
    frmProgress::instance().LoadProgress(prompt, false, p.rows, 0, false);
    if (!p.open.isEmpty()) send(p.open);
    int n = 0;
    QSet<QByteArray> answers;   // of the rows asked so far
    for (int i = 0; i < p.rows && i < list.size(); ++i) {
        frmProgress::instance().setpValue(i + 1, prompt + QString::number(i + 1));
        const QString ask = p.request ? p.request(i) : QString();
        if (p.request) send(ask);
        QByteArray answer;
        const ModComm::AskResult r = ModComm::GetOrder(answer, p.code, p.flag, QString(), 5);
        if (r == ModComm::NothingMore && p.flag) break;
        if (r != ModComm::GotAnswer) {
            frmProgress::unload();
            return false;
        }
        // A streamed row comes once (a head the switch holds twice is told below).
        if (p.request ? !transfer::AnswersAsk(answer, ask) : !heads && answers.contains(answer)) {
            if (why) *why = otherRowAnswer(answer, i + 1, answers);
            frmProgress::unload();
            return false;
        }
        answers.insert(answer);
        // An extension head whose length the switch does not hold takes the flexible head's.
        if (heads && answer.size() > 7) {
            const ModComm::FrameReader head(answer);
            const quint8 type = head.byte(2), len = head.byte(7);
            if (type >= 20 && type <= 28 && (len == 0 || len > 4)) answer[7] = char(ModSwitch::GetExtHeadLen());
        }
        std::optional<UpRecord> rec = transfer::MakeUpRecordSQL(answer, t);
        if (!rec && !p.route) {
            frmProgress::unload();
            return false;
        }
        if (rec) list[i] = *rec;
        n = i + 1;
    }
    QStringList twice;
    try {
        if (p.route) {
            const int other = t == QLatin1String("Router1") ? 2 : 1;
            writeShadow(QStringLiteral("AddHead"), list, n, [other] {
                dbSwitch.execute(QStringLiteral("insert into pAddHead select * from AddHead where Router=?"), {other});
            });
        } else if (!p.code.isEmpty()) {
            writeShadow(t, list, n, {}, heads ? &twice : nullptr);   // empty when the view has no rows to read
        }
    } catch (...) {
        frmProgress::unload();
        throw;
    }
    if (frmProgress::exists()) frmProgress::instance().setToMax(n);
    frmProgress::unload();
    tellHeadsHeldOnce(t, twice);
    return true;
}

namespace {

// Board layer 0 from the switch's "9E13": two boards a byte from byte 3 on.
void boardPath(bool verify) {
    const QString word = verify ? QStringLiteral("校验") : QStringLiteral("上传");
    // The board view's reports are off while the layout is read, and on again
    // however the reading ends: they drive the monitor and the link picture.
    send(FrameCode::kMonitorOff);
    struct MonitorBack {
        ~MonitorBack() {
            try {
                ModComm::SetMonitor(true);
            } catch (const std::exception&) {
            }
        }
    } monitorBack;
    send(FrameCode::kReadBoardLayout);
    ParaMode = QStringLiteral("9E");
    QByteArray f;
    if (ModComm::GetOrder(f, FrameCode::kBoardLayout, false, QString(), 5) != ModComm::GotAnswer || f.size() < 19) {
        core::StatusText(2, word + QStringLiteral("失败!"));
        return;
    }
    if (!verify) {
        platform::Transaction tx(dbSwitch);
        for (int k = 3; k <= 18; ++k) {
            const int byte = ModComm::FrameReader(f).byte(k);
            dbSwitch.execute(QStringLiteral("update moncard set dispcard=?,portstatus=0 where cardlayer=0 and cardorder=?"),
                             {byte / 16, 2 * k - 5});
            dbSwitch.execute(QStringLiteral("update moncard set dispcard=?,portstatus=0 where cardlayer=0 and cardorder=?"),
                             {byte & 15, 2 * k - 6});
        }
        tx.commit();
        core::StatusText(2, QStringLiteral("上传成功"));
        g_Modified = true;
        ModSwitch::LoadCards();
        return;
    }
    core::StatusText(2, QStringLiteral("板块设置完全相同"));
    QVector<int> kinds;
    Recordset rs = dbSwitch.query(QStringLiteral("select dispcard from moncard where cardlayer=0 order by cardorder"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) kinds << int(rs.lng(QStringLiteral("dispcard")));
    for (int i = 0; i + 1 < kinds.size() && i / 2 + 3 < f.size(); i += 2) {
        const QString station = QString::number(kinds[i + 1], 16).toUpper() + QString::number(kinds[i], 16).toUpper();
        const quint8 byte = ModComm::FrameReader(f).byte(i / 2 + 3);
        if (station == ModComm::ByteToHex(byte)) continue;
        const bool firstAgrees = station.right(1) == QString::number(byte & 15, 16).toUpper();
        core::StatusText(2, QStringLiteral("第 %1 块板不相同").arg(firstAgrees ? i + 2 : i + 1));
        return;
    }
}

// The switch's rows of the view in `grid` (the console's or the dialog's).
void showShadow(platform::FlexGrid& grid, const QString& t, bool verify, const QString& header) {
    if (t.startsWith(QLatin1String("Router"))) {
        ModGeneral::ShowTable(grid, QStringLiteral("Select PortAddr,AddHead,bSet From pAddHead where Router=? order by PortAddr"),
                              header, 0, 1, verify, {t.right(1).toInt()});
    } else if (t == QLatin1String("Relay")) {
        ModSwitch::ShowRelayGrid(grid, QStringLiteral("pRelay"), true);
    } else if (t == QLatin1String("Extension")) {
        ModSwitch::ShowExtGrid(grid, QStringLiteral("pExtension"), true);
    } else if (t == QLatin1String("ExtDeposit")) {
        ModSwitch::ShowExtDeposit(grid, QStringLiteral("pExtDeposit"), true);
    } else if (t == QLatin1String("PabxFeeRate")) {
        ModSwitch::ShowPabxFeeRate(grid, QStringLiteral("pPabxFeeRate"), true);
    } else if (t == QLatin1String("PabxTimes")) {
        ModSwitch::ShowPabxTimes(grid, QStringLiteral("pPabxTimes"), true);
    } else if (t == QLatin1String("LanHead") || t == QLatin1String("CityHead")) {
        ModGeneral::ShowTable(grid, QStringLiteral("Select * From p%1 order by headtype ,headid,length(headid)").arg(t),
                              header, 0, 1);
    } else {
        ModGeneral::ShowTable(grid, QStringLiteral("Select * From p%1 order by 1").arg(t), header, 0, 1);
    }
}

bool sameRowCounts(const QString& t) {
    return dbSwitch.scalar(QStringLiteral("select count(*) from p%1").arg(t)).toLongLong() ==
           dbSwitch.scalar(QStringLiteral("select count(*) from %1").arg(t)).toLongLong();
}

}  // namespace

void UpLoadOrVerifyTable(bool verify) {
    if (g_TestMode && frmSRV::exists()) {
        frmSRV::instance().lstRec->clear();
        frmSRV::instance().lstBuf->clear();
    }
    const QString t = CurTable;
    const QString word = verify ? QStringLiteral("校验") : QStringLiteral("上传");
    QString title = word + UpDisplayName(t);
    if (t == QLatin1String("MonCard")) {
        boardPath(verify);
        return;
    }
    if (planOf(t).code.isEmpty()) return;   // a view the switch holds no table for
    if (t == QLatin1String("Extension") && !verify) {
        QStringList captions = {QString(), QStringLiteral("上传分机参数"), QStringLiteral("上传弹性号码")};
        const int choice = frmDialog::instance().GetUDLSel(captions);
        if (choice == 2) {
            UpSpringNum();
            return;
        }
        if (choice != 1) return;
        title = QStringLiteral("上传分机参数");
    }
    const bool heads = t == QLatin1String("LanHead") || t == QLatin1String("CityHead");
    try {
        for (;;) {
            QVector<UpRecord> list;
            QString why;
            if (!UpLoadTable(list, title, &why)) {
                core::StatusText(2, title + QStringLiteral("失败!") + why);
                return;
            }
            if (verify) {
                KeepCurSql keep;
                frmVerify& dlg = frmVerify::instance();
                const QString header = consoleGrid() ? consoleGrid()->FormatString() : QString();
                showShadow(*dlg.fgSys, t, true, header);
                if (t != QLatin1String("PabxFeeRate") && t != QLatin1String("PabxTimes")) dropShadow(transfer::ShadowBase(t));
                bool differs = false;
                dlg.GetDifferSet(differs);
                if (!differs) core::StatusText(2, QStringLiteral("话务台与集团电话参数设置完全一致"));
                return;
            }
            // Test mode reads the heads again and again while they agree in number with the station's.
            if (heads && g_TestMode && sameRowCounts(t)) {
                ModGeneral::Delay(1);
                // Test mode switched off meanwhile: these rows are shown and
                // the toolbar's "960301" ends the exchange, once.
                if (g_TestMode) {
                    send(FrameCode::kResumeReports);
                    send(FrameCode::kPauseReports);
                    continue;
                }
            } else if (heads && g_TestMode) {
                ModGeneral::Delay(1000);
            }
            break;
        }
        platform::FlexGrid* g = consoleGrid();
        if (t == QLatin1String("ExtDeposit")) {
            platform::Transaction tx(dbSwitch);
            for (int k = extensionRows(); k <= 119; ++k)
                dbSwitch.execute(QStringLiteral("insert or ignore into pExtDeposit values(?,'',0,0,0,0,0)"), {k});
            tx.commit();
        }
        ParaMode = QStringLiteral("UpSend");
        if (g) showShadow(*g, t, false, QString());
        core::StatusText(2, title + QStringLiteral("成功!"));
    } catch (const std::exception& e) {
        frmProgress::unload();
        // A dialog loaded for this table would greet the next verify with its columns.
        if (frmVerify::exists()) frmVerify::unload();
        core::StatusText(2, word + QStringLiteral("错误:") + errorText(e));
    }
}

void ToolbarUpLoadOrVerify(bool verify) {
    send(FrameCode::kPauseReports);
    if (verify) {
        SelRowFirst = 1;
        platform::FlexGrid* g = consoleGrid();
        SelRowLast = g ? g->Rows() - 1 : 0;
    }
    UpLoadOrVerifyTable(verify);
    send(FrameCode::kResumeReports);
}

// ---------------------------------------------------------------- flexible numbers

bool UpSpringNum() {
    auto fail = [](const QString& why) {
        frmProgress::unload();
        core::StatusText(2, QStringLiteral("上传失败") + why);
        if (platform::FlexGrid* g = consoleGrid()) g->setRedraw(true);
        return false;
    };
    try {
        CurTable = QStringLiteral("LanHead");
        QVector<UpRecord> heads;
        const bool read = UpLoadTable(heads, QStringLiteral("正在校验本机字头..."));
        CurTable = QStringLiteral("Extension");
        if (!read) return fail({});
        const int n = extensionRows();
        frmProgress::instance().LoadProgress(QStringLiteral("上传弹性号码..."), false, n - 1, 0, false);
        const qint64 stationHeads =
            dbSwitch.scalar(QStringLiteral("select count(*) from lanhead where headtype>19 and headtype<30")).toLongLong();
        const qint64 switchHeads =
            dbSwitch.scalar(QStringLiteral("select count(*) from planhead where headtype>19 and headtype<30")).toLongLong();
        if (stationHeads != switchHeads) {
            platform::MsgBox(QStringLiteral("本机字头校验不一致"), platform::mbOKOnly, AppName);
            return fail({});
        }
        // The station's extension heads as they are before anything is written.
        QHash<int, int> headLen;
        {
            Recordset rs = dbSwitch.query(QStringLiteral("select HeadType,HeadLen from LanHead where HeadType>19 and HeadType<30"));
            for (rs.moveFirst(); !rs.eof(); rs.moveNext())
                headLen.insert(int(rs.lng(QStringLiteral("HeadType"))), int(rs.lng(QStringLiteral("HeadLen"))));
        }
        struct Number { int head; QString digits; };
        QVector<std::optional<Number>> numbers(n);
        send(FrameCode::kReadSpringNum);
        for (int i = 0; i < n; ++i) {
            frmProgress::instance().setpValue(i, QStringLiteral("上传弹性号码 ") + QString::number(i + 1));
            QByteArray f;
            if (ModComm::GetOrder(f, FrameCode::kSpringNumRow, true, QString(), 5) != ModComm::GotAnswer ||
                f.size() < 5) {
                dropShadow(QStringLiteral("LanHead"));
                return fail({});
            }
            const ModComm::FrameReader row(f);
            int head = row.byte(2);
            if (!headLen.contains(head)) head = 29;
            if (!headLen.contains(head)) continue;
            QString digits = row.digits(3, 4);
            const int len = headLen.value(head);
            if (digits.size() < len) digits = digits.rightJustified(len, QLatin1Char('0'));
            numbers[i] = Number{head, digits};
        }
        // Everything is in: numbers, heads and the refit go together or not at all.
        {
            platform::Transaction tx(dbSwitch);
            for (int i = 0; i < n; ++i) {
                if (!numbers[i])
                    throw platform::DbError(0, QStringLiteral("分机 %1 的字头类别在本机字头中不存在").arg(i));
                dbSwitch.execute(QStringLiteral("update extension set head=?,springnum=?,bsetspringnum=0 where address=?"),
                                 {numbers[i]->head, numbers[i]->digits, i});
            }
            dbSwitch.execute(QStringLiteral("delete from LanHead"));
            dbSwitch.execute(QStringLiteral("insert into LanHead select * from pLanHead"));
            dropShadow(QStringLiteral("LanHead"));
            const int flexLen = ModSwitch::GetExtHeadLen();
            Recordset distinct =
                dbSwitch.query(QStringLiteral("Select distinct Head From Extension where head>19 and Head<29"));
            for (distinct.moveFirst(); !distinct.eof(); distinct.moveNext()) {
                const qint64 head = distinct.lng(QStringLiteral("Head"));
                const QVariant len = dbSwitch.scalar(QStringLiteral("select HeadLen from LanHead where HeadType=?"), {head});
                const bool kept = len.isValid() && !len.isNull();
                const int L = kept ? len.toInt() : flexLen;
                Recordset ext = dbSwitch.query(QStringLiteral("Select Address,SpringNum From Extension where Head=?"), {head});
                for (ext.moveFirst(); !ext.eof(); ext.moveNext()) {
                    QString num = ext.str(QStringLiteral("SpringNum"));
                    num = num.size() > L ? num.right(L) : num.rightJustified(L, QLatin1Char('0'));
                    dbSwitch.execute(QStringLiteral("Update Extension set %1bSetSpringNum=0,SpringNum=? where Address=?")
                                         .arg(kept ? QString() : QStringLiteral("Head=29,")),
                                     {num, ext.lng(QStringLiteral("Address"))});
                }
            }
            tx.commit();
        }
        if (platform::FlexGrid* g = consoleGrid()) {
            g->setRedraw(false);
            const quint32 bg = quint32(g->BackColor().red()) | (quint32(g->BackColor().green()) << 8) |
                               (quint32(g->BackColor().blue()) << 16);
            for (int j = 0; j < n && j + 1 < g->Rows(); ++j) ModSwitch::SetRowColor3(*g, j + 1, bg, true);
            Recordset rs = dbSwitch.query(QStringLiteral("select headid,headid||springnum as extnum from extension,lanhead "
                                                         "where head=headtype and address<? order by address"),
                                          {extensionRows()});
            int r = 1;
            for (rs.moveFirst(); !rs.eof() && r < g->Rows(); rs.moveNext(), ++r) {
                if (g->Cols() > 2) {
                    g->setTextMatrix(r, 1, rs.str(QStringLiteral("headid")));
                    g->setTextMatrix(r, 2, rs.str(QStringLiteral("extnum")));
                }
            }
            g->setRedraw(true);
        }
        frmProgress::unload();
        core::StatusText(2, QStringLiteral("上传成功"));
        ModGeneral::AddOpLog(QStringLiteral("上传弹性号码"));
        return true;
    } catch (const std::exception& e) {
        CurTable = QStringLiteral("Extension");
        return fail(errorText(e));
    }
}

// ---------------------------------------------------------------- selected rows

namespace {

// The request of one selected record and the answer it awaits.
struct RowAsk {
    QString request;
    QString code;
};

RowAsk rowAsk(const QString& t, const Recordset& rs) {
    auto byteOf = [](qint64 v) {
        if (v < 0 || v > 255) throw std::out_of_range("地址超出范围");
        return hex(int(v));
    };
    if (t == QLatin1String("Router1") || t == QLatin1String("Router2")) {
        const qint64 p = rs.lng(QStringLiteral("PortAddr"));
        const QString page = t == QLatin1String("Router1") ? QStringLiteral("00") : QStringLiteral("0") + QString::number(p / 256 + 1);
        return {FrameCode::kReadAddHead + page + hex(int(p % 256)), FrameCode::kAddHeadRow};
    }
    const qint64 a = rs.lng(QStringLiteral("address"));
    if (t == QLatin1String("Extension")) return {FrameCode::kReadExtRow + byteOf(a), FrameCode::kExtParaRow};
    if (t == QLatin1String("Relay")) return {FrameCode::kReadExtRow + byteOf(a + 223), FrameCode::kRelayRow};
    if (t == QLatin1String("Account")) return {FrameCode::kReadRow + byteOf(a / 256) + hex(int(a % 256)), FrameCode::kAccountRow};
    if (t == QLatin1String("ExtraHead")) return {FrameCode::kReadExtraHead + byteOf(a), FrameCode::kExtraHeadRow};
    if (t == QLatin1String("Shrink")) return {FrameCode::kReadShrink + byteOf(a), FrameCode::kShrinkRow};
    if (t == QLatin1String("ExtDeposit")) return {FrameCode::kReadDeposit + byteOf(a), FrameCode::kExtDepositRow};
    throw std::invalid_argument("没有此表");
}

// The selected rows of the view shown, by the keys in column 0 bound as
// numbers; false (nothing to ask) when no key is a number.
bool selectedRows(qint32 first, qint32 last, Recordset& rs) {
    platform::FlexGrid* g = consoleGrid();
    if (!g) return false;
    platform::Params params;
    QStringList marks;
    const QString t = CurTable;
    QString sql;
    if (t == QLatin1String("Router1") || t == QLatin1String("Router2")) {
        sql = QStringLiteral("Select * From AddHead where Router=? and portaddr in (%1) order by portaddr");
        params << t.right(1).toInt();
    } else if (t == QLatin1String("Extension") || t == QLatin1String("Account") || t == QLatin1String("Relay") ||
               t == QLatin1String("ExtraHead") || t == QLatin1String("Shrink") || t == QLatin1String("ExtDeposit")) {
        sql = QStringLiteral("Select * From %1 where address in (%2) order by address").arg(t, QStringLiteral("%1"));
    } else {
        return false;
    }
    for (qint32 r = first; r <= last && r < g->Rows(); ++r) {
        bool ok = false;
        const qint64 k = g->TextMatrix(r, 0).trimmed().toLongLong(&ok);
        if (!ok) continue;
        params << k;
        marks << QStringLiteral("?");
    }
    if (marks.isEmpty()) return false;
    rs = dbSwitch.query(sql.arg(marks.join(QLatin1Char(','))), params);
    return true;
}

// Asks the switch for each selected row in turn and hands every answer on.
// False when a row goes unanswered: the progress window is then gone and the
// status bar says so.
bool askSelectedRows(Recordset& rs, const QString& t, const QString& progress, const QString& failed,
                     const std::function<void(const QByteArray&)>& answered) {
    const int count = ModSwitch::GetRecordCount(rs);
    frmProgress::instance().LoadProgress(progress, false, count, 0, false);
    ModGeneral::Delay(200);
    rs.moveFirst();
    QSet<QByteArray> answers;
    for (int i = 0; i < count && !rs.eof(); ++i, rs.moveNext()) {
        frmProgress::instance().setpValue(-1, QString());
        const RowAsk ask = rowAsk(t, rs);
        send(ask.request);
        QByteArray answer;
        const ModComm::AskResult r = ModComm::GetOrder(answer, ask.code, false, QString(), 5);
        if (r == ModComm::AskTimedOut) {
            frmProgress::unload();
            core::StatusText(2, failed);
            return false;
        }
        if (r == ModComm::NothingMore) break;
        if (!transfer::AnswersAsk(answer, ask.request)) {
            frmProgress::unload();
            core::StatusText(2, failed + QStringLiteral(": ") + otherRowAnswer(answer, i + 1, answers));
            return false;
        }
        answers.insert(answer);
        answered(answer);
    }
    return true;
}

bool selection(qint32& first, qint32& last) {
    first = GridSelFirst;
    last = GridSelLast;
    if (first < 1) first = 1;
    if (last < first) return false;
    SelRowFirst = first;
    SelRowLast = last;
    return true;
}

}  // namespace

void mnuVerify_Click(int tableRight) {
    qint32 first = 0, last = 0;
    if (!selection(first, last)) return;
    ModSwitch::SaveSwitchPara(tableRight, true);   // pending edits are offered for saving first
    Recordset rs;
    try {
        if (!selectedRows(first, last, rs)) return;
    } catch (const std::exception& e) {
        core::StatusText(2, QStringLiteral("校验错误:") + errorText(e));
        return;
    }
    send(FrameCode::kPauseReports);
    VerifySelected(rs, first, last);
    send(FrameCode::kResumeReports);
}

void VerifySelected(Recordset& rs, qint32 selFirst, qint32 selLast) {
    const QString t = CurTable;
    core::StatusText(2, QStringLiteral("正在校验..."));
    try {
        QVector<UpRecord> list;
        const bool answered = askSelectedRows(rs, t, QStringLiteral("正在校验..."), QStringLiteral("校验失败"),
                                              [&](const QByteArray& answer) {
                                                  if (std::optional<UpRecord> rec = transfer::MakeUpRecordSQL(answer, t))
                                                      list << *rec;
                                              });
        if (!answered) return;
        const QString base = transfer::ShadowBase(t);
        QStringList twice;
        writeShadow(base, list, list.size(), {}, &twice);
        frmProgress::unload();
        tellHeadsHeldOnce(base, twice);
        KeepCurSql keep;
        frmVerify& dlg = frmVerify::instance();
        const QString header = consoleGrid() ? consoleGrid()->FormatString() : QString();
        showShadow(*dlg.fgSys, t, true, header);
        dropShadow(base);
        SelRowFirst = selFirst;
        SelRowLast = selLast;
        bool differs = false;
        dlg.GetDifferSet(differs);
        if (!differs) core::StatusText(2, QStringLiteral("话务台与集团电话参数设置完全一致"));
    } catch (const std::exception& e) {
        frmProgress::unload();
        if (frmVerify::exists()) frmVerify::unload();
        core::StatusText(2, QStringLiteral("校验错误:") + errorText(e));
    }
}

void mnuUpSend_Click(int tableRight) {
    qint32 first = 0, last = 0;
    if (!selection(first, last)) return;
    ModSwitch::SaveSwitchPara(tableRight, true);
    Recordset rs;
    try {
        if (!selectedRows(first, last, rs)) return;
    } catch (const std::exception& e) {
        core::StatusText(2, QStringLiteral("上传错误:") + errorText(e));
        return;
    }
    send(FrameCode::kPauseReports);
    UpSendSelected(rs, tableRight, first, last);
    send(FrameCode::kResumeReports);
}

namespace {

class Lists {
public:
    const QString& entry(const QString& title, int index) {
        auto it = lists_.find(title);
        if (it == lists_.end()) {
            QStringList l;
            ModSwitch::GetOptionList(title, l);
            it = lists_.insert(title, l);
        }
        if (index < 0 || index >= it->size())
            throw std::out_of_range(QStringLiteral("%1 的选项 %2 不存在").arg(title).arg(index).toStdString());
        return (*it)[index];
    }
    QString onOff(int bit) { return entry(QStringLiteral("开关"), bit); }
private:
    QHash<QString, QStringList> lists_;
};

QString jump(Lists& l, quint8 b) {
    int c = b & 127;
    if (c >= 120) c -= 5;
    return l.entry(QStringLiteral("内部热线"), c);
}

QString extText(Lists& l, const QString& h, const ModComm::FrameReader& f) {
    const quint8 b3 = f.byte(3), b4 = f.byte(4), b5 = f.byte(5);
    auto bit = [](quint8 v, int k) { return (v >> k) & 1; };
    if (h == QStringLiteral("提机方式")) return l.entry(h, bit(b3, 0));
    if (h == QStringLiteral("来电显示")) return l.onOff(bit(b3, 1));
    if (h == QStringLiteral("清密码")) return l.onOff(bit(b3, 2));
    if (h == QStringLiteral("外入禁止")) return l.onOff(bit(b3, 3));
    if (h == QStringLiteral("分机类型")) return l.entry(h, (b3 >> 4) & 3);
    if (h == QStringLiteral("排队开关")) return l.onOff(bit(b3, 6));
    if (h == QStringLiteral("排队标志")) return l.onOff(bit(b3, 7));
    if (h == QStringLiteral("等级一")) return l.entry(QStringLiteral("使用等级"), b4 & 15);
    if (h == QStringLiteral("密码等级")) return l.entry(QStringLiteral("使用等级"), b4 >> 4);
    if (h == QStringLiteral("等级二")) return l.entry(QStringLiteral("使用等级"), (b5 & 15) == 15 ? 14 : (b5 & 15));
    if (h == QStringLiteral("转接返回")) return l.onOff(bit(b5, 4));
    if (h == QStringLiteral("呼入提示")) return l.onOff(bit(b5, 5));
    if (h == QStringLiteral("话机类型")) return l.entry(h, b5 >> 6);
    if (h == QStringLiteral("组号")) return QString::number(f.byte(6));
    if (h == QStringLiteral("通话限时")) {
        QStringList names;
        for (int k = 0; k < 8; ++k)
            if (bit(f.byte(10), k)) names << l.entry(QStringLiteral("通话类型"), k);
        return names.join(QLatin1Char(','));
    }
    if (h == QStringLiteral("免打扰")) return l.onOff(bit(f.byte(11), 7));
    if (h == QStringLiteral("离位转移")) return jump(l, f.byte(11));
    if (h == QStringLiteral("遇忙转移")) return jump(l, f.byte(12));
    if (h == QStringLiteral("内部热线")) return jump(l, f.byte(13));
    if (h == QStringLiteral("久叫转移")) return jump(l, f.byte(14));
    if (h == QStringLiteral("虚拟路由")) return f.digits(15);
    if (h == QStringLiteral("虚拟号码")) return f.dial(16, 19);
    if (h == QStringLiteral("叫醒时间")) {
        if (f.byte(20) == 255) return QString();
        return QStringLiteral("%1:%2").arg(f.digits(20).toInt(), 2, 10, QLatin1Char('0')).arg(f.digits(21).toInt(), 2, 10, QLatin1Char('0'));
    }
    throw std::logic_error("");   // a column the frame does not carry keeps its text
}

QString relayText(Lists& l, const QString& h, const ModComm::FrameReader& f) {
    const quint8 b3 = f.byte(3), b4 = f.byte(4), b5 = f.byte(5);
    if (h == QStringLiteral("转移开关")) return l.onOff((b3 >> 6) & 1);
    if (h == QStringLiteral("开关")) return l.onOff((b3 >> 7) & 1);
    if (h == QStringLiteral("计费方式")) return l.entry(h, b4 & 3);
    if (h == QStringLiteral("转接1")) return l.entry(h, (b4 >> 2) & 3);
    if (h == QStringLiteral("发码方式")) return l.entry(h, (b4 >> 4) & 3);
    if (h == QStringLiteral("中继类型")) return l.entry(h, (b4 >> 6) & 3);
    if (h == QStringLiteral("直拨遇忙")) return l.entry(h, b5 & 3);
    if (h == QStringLiteral("转接2")) return l.entry(QStringLiteral("转接1"), (b5 >> 2) & 3);
    if (h == QStringLiteral("连选方式")) return l.entry(h, (b5 >> 4) & 3);
    if (h == QStringLiteral("转接遇忙")) return l.entry(h, (b5 >> 6) & 3);
    if (h == QStringLiteral("路由")) return QString::number(f.byte(6));
    if (h == QStringLiteral("间接局")) return f.digits(7);
    if (h == QStringLiteral("组号")) return QString::number(f.byte(8));
    if (h == QStringLiteral("始呼分机1")) return l.entry(h, f.byte(9));
    if (h == QStringLiteral("始呼分机2")) return l.entry(QStringLiteral("始呼分机1"), f.byte(10));
    if (h == QStringLiteral("群呼分机")) {
        QStringList names;
        for (int i = 11; i <= 15; ++i)
            if (f.byte(i) < 255) names << l.entry(QStringLiteral("始呼分机1"), f.byte(i));
        return names.join(QLatin1Char(','));
    }
    if (h == QStringLiteral("中继号码")) return f.dial(16, 21);
    throw std::logic_error("");
}

// Writes the decoded answer into the record's grid row; false when the row is not in the grid.
bool writeRow(platform::FlexGrid& g, Lists& l, const QString& t, const Recordset& rs, const QByteArray& frame) {
    const ModComm::FrameReader f(frame);
    int row = 0;
    if (t.startsWith(QLatin1String("Router"))) row = int(rs.lng(QStringLiteral("PortAddr"))) + 1;
    else {
        const int a = int(rs.lng(QStringLiteral("address")));
        row = t == QLatin1String("Relay") ? a : t == QLatin1String("Account") ? a - 2047 : a + 1;
        if (t == QLatin1String("ExtDeposit")) {
            // Only extensions with a dialable number are listed: found by address.
            row = 0;
            for (int r = 1; r < g.Rows() && row == 0; ++r)
                if (g.TextMatrix(r, 0).trimmed() == QString::number(a)) row = r;
        }
    }
    if (row < 1 || row >= g.Rows()) return false;
    auto set = [&](int c, const QString& text) {
        if (c < g.Cols()) g.setTextMatrix(row, c, text);
    };
    auto byHeader = [&](int from, const std::function<QString(const QString&)>& decode) {
        for (int c = from; c < g.Cols(); ++c) {
            try {
                g.setTextMatrix(row, c, decode(g.TextMatrix(0, c).trimmed()));
            } catch (const std::logic_error& e) {
                if (dynamic_cast<const std::out_of_range*>(&e)) throw;
            }
        }
    };
    if (t == QLatin1String("ExtDeposit")) {
        const qint64 fen = transfer::DepositFen(frame);
        set(2, QStringLiteral("0.00"));
        set(3, platform::Currency::fromFen(fen).toString2());
        set(4, l.onOff((f.byte(4) >> 6) & 1));
        set(5, l.onOff((f.byte(4) >> 7) & 1));
    } else if (t == QLatin1String("Extension")) {
        byHeader(3, [&](const QString& h) { return extText(l, h, f); });
    } else if (t == QLatin1String("Relay")) {
        byHeader(1, [&](const QString& h) { return relayText(l, h, f); });
    } else if (t.startsWith(QLatin1String("Router"))) {
        set(1, f.dial(4, 7));
    } else if (t == QLatin1String("ExtraHead")) {
        set(1, f.dial(4, 9));
    } else if (t == QLatin1String("Shrink")) {
        set(1, f.dial(3, 9));
    } else if (t == QLatin1String("Account")) {
        QString code = f.digits(4) + f.digits(5);
        if (code.isEmpty()) code = QStringLiteral("FFFF");
        set(1, code);
        set(2, l.entry(QStringLiteral("使用等级"), f.byte(6) & 15));
        const int sec = f.byte(7) == 15 ? 14 : f.byte(7);
        set(3, l.entry(QStringLiteral("使用等级"), sec % 15));
    }
    ModSwitch::SetRowColor(g, row, 0xFFFFC0);
    return true;
}

}  // namespace

void UpSendSelected(Recordset& rs, int tableRight, qint32 selFirst, qint32 selLast) {
    if (ModGeneral::CheckRight(tableRight, ModGeneral::kRightStatusBar)) return;
    const QString t = CurTable;
    platform::FlexGrid* g = consoleGrid();
    try {
        Lists lists;
        const bool answered = askSelectedRows(rs, t, QStringLiteral("正在上传..."), QStringLiteral("上传失败"),
                                              [&](const QByteArray& answer) {
                                                  g = consoleGrid();
                                                  if (g) writeRow(*g, lists, t, rs, answer);
                                              });
        if (!answered) return;
        g_Modified = true;
        frmProgress::unload();
        QString caption;
        if (core::Console* c = core::TheConsole()) caption = c->ConsoleWidget()->windowTitle();
        caption.chop(2);
        ModGeneral::AddOpLog(QStringLiteral("上传%1 %2 至 %3 条记录").arg(caption).arg(selLast).arg(selFirst));
        core::StatusText(2, QStringLiteral("上传成功"));
    } catch (const std::exception& e) {
        frmProgress::unload();
        core::StatusText(2, QStringLiteral("上传错误:") + errorText(e));
    }
}

}  // namespace ModToolbar
