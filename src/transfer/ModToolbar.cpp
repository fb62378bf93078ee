#include "transfer/ModToolbar.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "core/RowLists.h"
#include "core/OpLog.h"
#include "core/frmDialog.h"
#include "core/frmProgress.h"
#include "link/FrameCodes.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "params/CellEdit.h"
#include "params/DialDigits.h"
#include "params/SavePara.h"
#include "params/TableViews.h"
#include "platform/Clock.h"
#include "platform/FlexGrid.h"
#include "platform/Prompts.h"
#include "transfer/DepositChange.h"
#include "transfer/SwitchIntents.h"
#include "transfer/RowFrames.h"

#include <functional>
#include <memory>

namespace ModToolbar {

using platform::Recordset;
using transfer::RowValues;

namespace {

const QString kLanHead = QStringLiteral("LanHead");
const QString kCityHead = QStringLiteral("CityHead");
const QString kExtraHead = QStringLiteral("ExtraHead");
const QString kShrink = QStringLiteral("Shrink");
const QString kRouter1 = QStringLiteral("Router1");
const QString kRouter2 = QStringLiteral("Router2");
const QString kMonCard = QStringLiteral("MonCard");
const QString kRelay = QStringLiteral("Relay");
const QString kExtension = QStringLiteral("Extension");
const QString kAccount = QStringLiteral("Account");
const QString kPabxFeeRate = QStringLiteral("PabxFeeRate");
const QString kPabxTimes = QStringLiteral("PabxTimes");
const QString kUser = QStringLiteral("User");
const QString kExtDeposit = QStringLiteral("ExtDeposit");

// The right number that selects the flexible numbers of the extension table.
constexpr int kSpringNumRight = 5;

platform::FlexGrid* consoleGrid() {
    core::Console* c = core::TheConsole();
    return c ? c->fgDisp : nullptr;
}

quint32 bgrOf(const QColor& c) { return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16); }

// Gives a grid row of the console its normal colour again: the whole row, or
// for the extension view its parameter cells (numberPart false) or its number cells.
void clearRow(int row) {
    if (platform::FlexGrid* g = consoleGrid()) ModSwitch::SetRowColor(*g, row, bgrOf(g->BackColor()));
}
void clearRow3(int row, bool numberPart) {
    if (platform::FlexGrid* g = consoleGrid()) ModSwitch::SetRowColor3(*g, row, bgrOf(g->BackColor()), numberPart);
}

// The data row of the console grid whose first column holds `key`, 0 when none does.
int rowOfKey(const platform::FlexGrid& g, qint64 key) {
    const QString text = QString::number(key);
    for (int r = 1; r < g.Rows(); ++r)
        if (g.TextMatrix(r, 0).trimmed() == text) return r;
    return 0;
}

// The console grid does not draw while rows are sent; it draws again at every exit.
class RedrawOff {
public:
    RedrawOff() {
        if (platform::FlexGrid* g = consoleGrid()) {
            grid_ = g;
            g->setRedraw(false);
        }
    }
    ~RedrawOff() {
        if (grid_ && consoleGrid() == grid_) grid_->setRedraw(true);
    }
private:
    platform::FlexGrid* grid_ = nullptr;
};

void progressStep(qint32 value, const QString& text) {
    if (frmProgress::exists()) frmProgress::instance().setpValue(value, text);
}

}  // namespace

QString OperationName(const QString& table, int rightNo) {
    if (table == kLanHead) return QStringLiteral("下载本机字头");
    if (table == kCityHead) return QStringLiteral("下载市话字头");
    if (table == kExtraHead) return QStringLiteral("下载附加字头");
    if (table == kShrink) return QStringLiteral("下载缩位字头");
    if (table == kRouter1 || table == kRouter2) return QStringLiteral("下载加发字头");
    if (table == kMonCard) return QStringLiteral("下载板极参数");
    if (table == kRelay) return QStringLiteral("下载中继参数");
    if (table == kExtension) return rightNo == kSpringNumRight ? QStringLiteral("下载弹性号码") : QStringLiteral("下载分机参数");
    if (table == kAccount) return QStringLiteral("下载帐号");
    if (table == kPabxFeeRate) return QStringLiteral("下载费率参数");
    if (table == kPabxTimes) return QStringLiteral("下载时间段参数");
    if (table == kUser) return QStringLiteral("下载用户信息");
    if (table == kExtDeposit) return QStringLiteral("下载分机押金参数");
    return {};
}

namespace {

// The downloads' view in the windows: the progress window, when loaded, steps;
// the console grid, while it shows the table sent, gives each row sent its
// normal colour (an account's row also reads "OFF" in its pending column).
class DownloadWindows final : public DownloadView {
public:
    void Step(const QString& text) override { progressStep(-1, text); }

    void AccountSent(qint64 address) override {
        if (CurTable != kAccount) return;
        clearRow(int(address - 2047));
        if (platform::FlexGrid* g = consoleGrid()) {
            // Found without moving the grid's current row: the operator's place stays.
            const QString key = QString::number(address);
            qint32 row = qint32(qMax<qint64>(1, address - 2048));
            while (row < g->Rows() && g->TextMatrix(row, 0) != key) ++row;
            if (row < g->Rows() && g->Cols() > 6) g->setTextMatrix(row, 6, QStringLiteral("OFF"));
        }
    }

    void ExtensionSent(qint64 address) override {
        if (CurTable == kExtension) clearRow3(int(address + 1), false);
    }

    void UserDeleted(qint64 userId) override {
        if (platform::FlexGrid* g = consoleGrid()) ModSwitch::DropUserRow(*g, userId);
        else ModSwitch::DropTypedDeposit(userId);
    }

    void HoldDrawing(bool hold) override {
        if (hold) {
            held_ = std::make_unique<RedrawOff>();
        } else {
            held_.reset();
        }
    }

private:
    std::unique_ptr<RedrawOff> held_;
};

}  // namespace

void UseDownloadWindows() {
    static DownloadWindows windows;
    SetDownloadView(&windows);
}

namespace {

// Pending flags of acknowledged rows, cleared together when the table ends
// (acknowledged or not, or stopped by an error) and its answers are judged:
// one durable write for the table instead of one a row, and only for rows
// whose answers are their own (see ModComm::TurnRun). Should the station stop
// before, the rows are only sent again. A relative change (extension
// deposits) is written at once.
struct Cleared {
    QList<QPair<QString, platform::Params>> updates;
    void add(const QString& sql, const platform::Params& p) { updates.append({sql, p}); }
    void write() {
        if (updates.isEmpty()) return;
        platform::Transaction tx(dbSwitch);
        for (const auto& u : updates) dbSwitch.execute(u.first, u.second);
        tx.commit();
        updates.clear();
    }
};

// How one table view goes to the switch.
struct Branch {
    QString prompt;                 // of the progress window
    QString begin;                  // table-begin frame, "" for none
    bool end = false;               // "810300" after the last row
    // Builds the frame of the current row (`ordinal` from 1).
    std::function<QString(const Recordset&, int)> frame;
    // Sends it: true once the switch has it; its `done` runs at once. None:
    // sent as any row of the run, its `done` once the run's answers are judged.
    std::function<bool(ModComm::TurnRun&, const Recordset&, const QString&)> send;
    // After the row's acknowledgement: its database update (into `cleared`,
    // written when the table ends) and its grid colour.
    std::function<void(const Recordset&, int, Cleared&)> done;
    // After the last row sent, with `send`: what the rows left to book is
    // booked; false when a row counted as taken turned out not to be.
    std::function<bool(ModComm::TurnRun&)> flush;
};

QVariant col(const Recordset& rs, const char* name) { return rs.value(QString::fromLatin1(name)); }

std::unique_ptr<Branch> branchOf(const QString& table, int rightNo, const QString& name) {
    auto b = std::make_unique<Branch>();
    b->prompt = name + QStringLiteral("表...");
    b->end = true;
    const QString& t = table;
    if (t == kLanHead || t == kCityHead) {
        const bool city = t == kCityHead;
        b->begin = city ? FrameCode::kBeginCityHead : FrameCode::kBeginLanHead;
        b->frame = [city](const Recordset& rs, int) { return transfer::HeadRow(RowValues::of(rs), city); };
        b->done = [city](const Recordset& rs, int i, Cleared& cleared) {
            cleared.add(city ? QStringLiteral("update CityHead set bSet=0 where HeadID=?")
                                  : QStringLiteral("update LanHead set bSet=0 where HeadID=?"),
                             {col(rs, "HeadID")});
            clearRow(i);
        };
    } else if (t == kExtraHead) {
        b->frame = [](const Recordset& rs, int) { return transfer::ExtraHeadRow(RowValues::of(rs)); };
        b->done = [](const Recordset& rs, int, Cleared& cleared) {
            cleared.add(QStringLiteral("update ExtraHead set bSet=0 where Address=?"), {col(rs, "Address")});
            clearRow(int(rs.lng(QStringLiteral("Address")) + 1));
        };
    } else if (t == kShrink) {
        b->frame = [](const Recordset& rs, int) { return transfer::ShrinkRow(RowValues::of(rs)); };
        b->done = [](const Recordset& rs, int, Cleared& cleared) {
            cleared.add(QStringLiteral("update Shrink set bSet=0 where Address=?"), {col(rs, "Address")});
            clearRow(int(rs.lng(QStringLiteral("Address")) + 1));
        };
    } else if (t == kRouter1 || t == kRouter2) {
        const int router = t == kRouter1 ? 1 : 2;
        b->frame = [](const Recordset& rs, int) { return transfer::AddHeadRow(RowValues::of(rs)); };
        b->done = [router](const Recordset& rs, int, Cleared& cleared) {
            cleared.add(QStringLiteral("update AddHead set bSet=0 where Router=? and PortAddr=?"),
                             {router, col(rs, "PortAddr")});
            clearRow(int(rs.lng(QStringLiteral("PortAddr")) + 1));
        };
    } else if (t == kRelay) {
        b->prompt = name + QStringLiteral("...");
        b->end = false;
        b->frame = [](const Recordset& rs, int) { return transfer::RelayRow(RowValues::of(rs)); };
        b->done = [](const Recordset& rs, int, Cleared& cleared) {
            cleared.add(QStringLiteral("update Relay set bSet=0 where Address=?"), {col(rs, "Address")});
            clearRow(int(rs.lng(QStringLiteral("Address"))));
        };
    } else if (t == kExtension && rightNo == kSpringNumRight) {
        b->prompt = name;
        b->begin = FrameCode::kBeginSpringNum;
        b->frame = [](const Recordset& rs, int) {
            if (!rs.boolean(QStringLiteral("HasHead")))
                LinkTrace::Note(QStringLiteral("分机 %1 的字头类别 %2 没有本机字头, 弹性号码照样下载")
                                    .arg(rs.lng(QStringLiteral("Address")))
                                    .arg(rs.str(QStringLiteral("Head"))));
            return transfer::SpringNumRow(RowValues::of(rs));
        };
        b->done = [](const Recordset& rs, int i, Cleared& cleared) {
            cleared.add(QStringLiteral("update Extension set bSetSpringNum=0 where Address=?"), {col(rs, "Address")});
            clearRow3(i, true);
        };
    } else if (t == kPabxFeeRate) {
        b->prompt = name + QStringLiteral("...");
        b->begin = FrameCode::kBeginPabxFeeRate;
        b->frame = [](const Recordset& rs, int) { return transfer::PabxFeeRateRow(RowValues::of(rs), SwitchModel); };
        b->done = [](const Recordset& rs, int i, Cleared& cleared) {
            cleared.add(QStringLiteral("update pabxFeeRate set bSet=0 where FeeRateHead=?"), {col(rs, "FeeRateHead")});
            clearRow(i);
        };
    } else if (t == kPabxTimes) {
        b->prompt = name + QStringLiteral("...");
        b->frame = [](const Recordset& rs, int i) { return transfer::PabxTimesRow(RowValues::of(rs), i, SwitchModel); };
        b->done = [](const Recordset& rs, int i, Cleared& cleared) {
            cleared.add(QStringLiteral("update pabxtimes set bSet=0 where SegNo=?"), {col(rs, "SegNo")});
            clearRow(i);
        };
    } else if (t == kExtDeposit) {
        b->frame = [](const Recordset& rs, int) { return transfer::ExtDepositRow(RowValues::of(rs)); };
        // A change the switch took is never sent again, also when its
        // acknowledgement was lost; it is booked (history, used up) as it is
        // settled by the switch's deposit once the run is over, and shown then.
        b->send = [](ModComm::TurnRun& run, const Recordset& rs, const QString& frame) {
            return transfer::SendDepositChange(run, int(rs.lng(QStringLiteral("Address"))), frame,
                                               rs.cur(QStringLiteral("ChangeValue")));
        };
        b->flush = [](ModComm::TurnRun& run) {
            return transfer::FlushDepositChanges(run, [](int address) {
                // The view lists only extensions with a dialable number: its rows
                // are found by their address, not by their place.
                if (platform::FlexGrid* g = consoleGrid()) {
                    const int row = rowOfKey(*g, address);
                    if (row > 0 && g->Cols() > 2) g->setTextMatrix(row, 2, QStringLiteral("0.00"));
                    if (row > 0) clearRow(row);
                }
            });
        };
        b->done = [](const Recordset&, int, Cleared&) {};
    } else {
        return nullptr;
    }
    return b;
}

// Ends a download: the progress window goes, the grid draws, the outcome is shown.
void finish(const QString& status, const QString& logText = {}) {
    frmProgress::unload();
    if (!logText.isNull()) ModGeneral::AddOpLog(logText);
    core::StatusText(2, status);
}

// The rows of a table download whose outcome the run's answers leave in doubt
// are read back from the switch: a row it holds as sent is done, any other
// stays pending and is named in the trace. True when every row of the table
// is done.
bool sendRows(Recordset& rs, int n, const QString& name, const Branch& b) {
    ModComm::TurnRun run;
    const int first = b.begin.isEmpty() ? 0 : 1;   // the run's rows before the table's
    int acked = 0;                                  // table rows acknowledged, in order
    int sentRows = 0;                               // table rows that went (the last may have failed)
    bool ok = true;
    const auto judge = [&] {
        const bool sure = run.settle();
        // A change of money booked after its answer is written now.
        const bool flushed = !b.flush || b.flush(run);
        Cleared cleared;
        // Rows a branch sends itself were judged as they went (a change of
        // money by the switch's deposit); a row of no change moves nothing.
        if (b.send) {
            cleared.write();
            return flushed;
        }
        QVector<bool> held(sentRows, false);
        for (int i = 0; i < acked && i < sentRows; ++i) held[i] = sure;
        if (!sure && sentRows > 0) {
            const QVector<bool> back = transfer::HeldAsSent(run.orders());
            for (int i = 0; i < sentRows; ++i) held[i] = first + i < back.size() && back[first + i];
        }
        int done = 0;
        QStringList named;
        rs.moveFirst();
        for (int i = 1; i <= sentRows && !rs.eof(); ++i) {
            if (held[i - 1]) {
                b.done(rs, i, cleared);
                ++done;
            } else if (!sure) {
                named << QString::number(i);
            }
            rs.moveNext();
        }
        cleared.write();
        if (!named.isEmpty())
            LinkTrace::Note(QStringLiteral("%1: 交换机中没有所发的第%2行, 仍待下载").arg(name, named.join(QStringLiteral("、"))));
        return done == n;
    };
    try {
        if (!b.begin.isEmpty()) ok = run.send(b.begin) == ModComm::Acknowledged;
        for (int i = 1; ok && i <= n; ++i) {
            const QString frame = b.frame(rs, i);
            progressStep(i, name + QString::number(i));
            if (b.send) {
                ok = b.send(run, rs, frame);
                if (ok) {
                    Cleared cleared;
                    b.done(rs, i, cleared);
                    cleared.write();
                }
            } else {
                const int before = run.rows();
                ok = run.send(frame) == ModComm::Acknowledged;
                if (run.rows() > before) ++sentRows;
            }
            if (ok) ++acked;
            rs.moveNext();
        }
        // The end closes the table; what it gets is judged with the rows.
        if (ok && b.end) run.send(FrameCode::kTableEnd);
    } catch (...) {
        try {
            judge();   // the rows acknowledged before the one that failed
        } catch (...) {
        }
        throw;
    }
    return judge() && ok;
}

bool sendBoard() {
    QVector<int> kinds(22, 15);
    Recordset rs = dbSwitch.query(
        QStringLiteral("select cardorder,dispcard from MonCard where cardlayer=0 and cardorder>=0 and cardorder<22 order by cardorder"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        if (rs.isNull(QStringLiteral("dispcard"))) throw transfer::EncodeError(QStringLiteral("字段 dispcard 无值"));
        kinds[int(rs.lng(QStringLiteral("cardorder")))] = int(rs.lng(QStringLiteral("dispcard")));
    }
    ModComm::TurnRun run;
    const bool ok = run.send(transfer::BoardLayout(kinds)) == ModComm::Acknowledged;
    if (!run.settle() || !ok) return false;
    if (frmProgress::exists()) frmProgress::instance().setToMax(0);
    return true;
}

bool sendUsers(Recordset& rs, int n, const QString& name) {
    for (int i = 1; i <= n; ++i) {
        progressStep(-1, name + QStringLiteral(">>") + rs.str(QStringLiteral("username")));
        const int mode = rs.boolean(QStringLiteral("locked")) ? transfer::kModeLocked : transfer::kModeNormal;
        if (!DownUserPara(rs.lng(QStringLiteral("userid")), mode, 0, 1, 1)) return false;
        rs.moveNext();
    }
    return true;
}

}  // namespace

void DownLoadPara(Recordset& rs, int rightNo) {
    if (ModGeneral::CheckRight(rightNo, ModGeneral::kRightStatusBar)) return;
    RedrawOff redraw;
    const QString table = CurTable;
    const QString name = OperationName(table, rightNo);
    const bool whole = table == kMonCard || table == kUser || table == kAccount || (table == kExtension && rightNo != kSpringNumRight);
    std::unique_ptr<Branch> branch = whole ? nullptr : branchOf(table, rightNo, name);
    // A view that has nothing to send sends nothing and reports nothing.
    if (!whole && !branch) return;
    // What an earlier send to the switch left unsettled is settled first,
    // and told once however many users' downloads settle it again.
    const transfer::OneGesture gesture;
    transfer::SettleSwitchIntents(table != kExtDeposit);
    try {
        const int n = ModSwitch::GetRecordCount(rs);
        QString prompt = branch ? branch->prompt : name;
        if (table == kMonCard || table == kUser) prompt = name + QStringLiteral("...");
        frmProgress::instance().LoadProgress(prompt, false, table == kUser ? 700 : n, 0, false);
        bool ok = false;
        if (table == kMonCard) ok = sendBoard();
        else if (table == kUser) ok = sendUsers(rs, n, name);
        else if (table == kAccount) ok = DownAccount(rs, transfer::kModeNormal, false, true);
        else if (table == kExtension && rightNo != kSpringNumRight) ok = DownExtPara(rs, transfer::kModeNormal, false, true);
        else ok = sendRows(rs, n, name, *branch);
        if (ok) finish(QStringLiteral("下载成功"), name);
        else finish(QStringLiteral("下载失败"));
    } catch (const transfer::EncodeError& e) {
        finish(QStringLiteral("下载错误:") + platform::OperatorText(e));
    } catch (const platform::DbError& e) {
        finish(QStringLiteral("下载错误:") + platform::OperatorText(e));
    } catch (const std::exception& e) {
        finish(QStringLiteral("下载错误:") + platform::OperatorText(e));
    }
}

void DownTable(int rightNo) {
    Recordset rs;
    int right = rightNo;
    try {
        const QString t = CurTable;
        if (t == kRouter1) {
            rs = dbSwitch.query(QStringLiteral("select * from AddHead where Router=1 order by PortAddr"));
        } else if (t == kRouter2) {
            rs = dbSwitch.query(QStringLiteral("select * from AddHead where Router=2 order by PortAddr limit ?"),
                                {SwitchModel == 2 ? 256 : 512});
        } else if (t == kExtension) {
            QStringList captions = {QString(), QStringLiteral("下载分机参数"), QStringLiteral("下载弹性号码")};
            const int choice = frmDialog::instance().GetUDLSel(captions);
            if (choice != 1 && choice != 2) return;
            platform::FlexGrid* g = consoleGrid();
            std::unique_ptr<platform::FlexGrid> scratch;
            if (!g) {
                scratch = std::make_unique<platform::FlexGrid>();
                g = scratch.get();
            }
            const int bound = ModSwitch::ShowExtGrid(*g, kExtension, false);
            if (choice == 1) {
                rs = dbSwitch.query(QStringLiteral("select * from Extension where address<? order by Address"), {bound});
            } else {
                // Flexible numbers are positional: every extension row goes, in address order.
                right = kSpringNumRight;
                rs = dbSwitch.query(QStringLiteral("select Address,Head,SpringNum,exists(select 1 from LanHead where "
                                                   "HeadType=Extension.Head) as HasHead from Extension where address<? "
                                                   "order by Address"),
                                    {bound});
            }
        } else if (t == kExtDeposit) {
            // The extensions that have a dialable number, each once: an extension
            // under two heads of its class is two rows of que_txhm.
            rs = dbSwitch.query(QStringLiteral("select address as Address,ChangeValue from extdeposit "
                                               "where address in (select address from que_txhm) order by address"));
        } else if (t == kRelay) {
            platform::FlexGrid* g = consoleGrid();
            std::unique_ptr<platform::FlexGrid> scratch;
            if (!g) {
                scratch = std::make_unique<platform::FlexGrid>();
                g = scratch.get();
            }
            rs = dbSwitch.query(QStringLiteral("select * from Relay where address<=? order by Address"),
                                {ModSwitch::ShowRelayGrid(*g, QStringLiteral("relay"), false)});
        } else if (t == kLanHead || t == kCityHead) {
            // In the view's order, so the row whose colour is cleared is the row acknowledged.
            rs = dbSwitch.query(QStringLiteral("select * from %1 order by headtype,headid,length(headid)").arg(t));
        } else if (t == kPabxFeeRate) {
            rs = dbSwitch.query(QStringLiteral("select * from PabxFeeRate order by rowid"));
        } else if (t == kPabxTimes) {
            rs = dbSwitch.query(QStringLiteral("select * from PabxTimes order by SegNo"));
        } else if (t == kExtraHead || t == kShrink || t == kRelay || t == kAccount || t == kUser || t == kMonCard) {
            rs = dbSwitch.query(QStringLiteral("select * from %1").arg(t));
        } else {
            return;
        }
    } catch (const platform::DbError& e) {
        core::StatusText(2, QStringLiteral("下载错误:") + platform::OperatorText(e));   // a view that cannot be read sends nothing
        return;
    } catch (const std::exception& e) {
        core::StatusText(2, QStringLiteral("下载错误:") + platform::OperatorText(e));
        return;
    }
    ModGeneral::Delay(1);
    DownLoadPara(rs, right);
}

void mnuDownload_Click(int tableRight) {
    if (GridSelFirst == 0) {
        if (GridSelLast == 0) return;
        GridSelFirst = 1;
    }
    // The rows go as stored: pending edits are offered for saving first, or
    // the download would clear their colour and the save would lose them.
    ModSwitch::SaveSwitchPara(tableRight, true);
    platform::FlexGrid* g = consoleGrid();
    if (!g) return;
    // The keys of column 0, bound as numbers; a key that is not one is skipped.
    platform::Params keys;
    QStringList marks;
    for (qint32 r = GridSelFirst; r <= GridSelLast && r < g->Rows(); ++r) {
        bool ok = false;
        const qint64 k = g->TextMatrix(r, 0).trimmed().toLongLong(&ok);
        if (!ok) continue;
        keys << k;
        marks << QStringLiteral("?");
    }
    const QString t = CurTable;
    QString sql;
    platform::Params params;
    if (t == kRouter1 || t == kRouter2) {
        sql = QStringLiteral("select * from AddHead where Router=? and PortAddr in (%1) order by PortAddr");
        params << (t == kRouter1 ? 1 : 2);
    } else if (t == kExtension || t == kAccount || t == kRelay || t == kExtraHead || t == kShrink || t == kExtDeposit) {
        sql = QStringLiteral("select * from %1 where address in (%2) order by address").arg(t, QStringLiteral("%1"));
    } else if (t == kUser) {
        sql = QStringLiteral("select * from User where userid in (%1) order by userid");
    } else {
        return;
    }
    if (keys.isEmpty()) return;
    params << keys;
    Recordset rs;
    try {
        rs = dbSwitch.query(sql.arg(marks.join(',')), params);
    } catch (const std::exception& e) {
        core::StatusText(2, QStringLiteral("下载错误:") + platform::OperatorText(e));
        return;
    }
    ModComm::SendOrder(FrameCode::kPauseReports, false, 4, true);
    DownLoadPara(rs, tableRight);
    ModComm::SendOrder(FrameCode::kResumeReports, false, 4, true);
}

}  // namespace ModToolbar
