#include "transfer/UserDownload.h"

#include "core/ModDefine.h"
#include "core/RowLists.h"
#include "core/books/WriteAhead.h"
#include "link/FrameCodes.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "transfer/RowFrames.h"

namespace ModToolbar {

using platform::Recordset;
using transfer::RowValues;

namespace {

DownloadView* g_view = nullptr;

void step(const QString& text) {
    if (g_view) g_view->Step(text);
}

// The view holds its drawing while the rows go, and draws again at every exit.
class DrawingHeld {
public:
    DrawingHeld() : view_(g_view) {
        if (view_) view_->HoldDrawing(true);
    }
    ~DrawingHeld() {
        if (view_ && view_ == g_view) view_->HoldDrawing(false);
    }
    DrawingHeld(const DrawingHeld&) = delete;
    DrawingHeld& operator=(const DrawingHeld&) = delete;
private:
    DownloadView* view_;
};

// The owner of an account or extension; one without a user row is sent as an
// unlocked owner who does not pay in advance, and noted in the trace.
transfer::Owner ownerOf(const Recordset& rs, const QString& what, qint64 address) {
    const qint64 uid = rs.lng(QStringLiteral("userid"));
    const transfer::Owner o = transfer::LookupOwner(uid);
    if (!o.found)
        LinkTrace::Note(QStringLiteral("%1 %2 的所属用户 %3 不存在, 按未闭锁的非预付用户下载").arg(what).arg(address).arg(uid));
    return o;
}

QString accountText(const QString& code) {
    const QString t = code.trimmed();
    bool ok = false;
    t.toInt(&ok);
    return ok && t.size() <= 4 ? t.rightJustified(4, QLatin1Char('0')) : t;
}

// The rows of a run the switch is found to hold as sent get their pending
// mark cleared (unless their grade changed meanwhile: a call charged during
// the wait) and are shown sent; the others stay pending and are named in the
// trace. True when every row sent is done. These rows decide access (an
// account's password and grades, an extension's restrictions, a deposit
// user's grade), so they are read back after every run, its answers paired
// or not: an answer names no row, and a copy of one taken for the next row's
// on a line that had never repeated looks like a clean run. Where the
// answers pair, a row not acknowledged had its own answer (a refusal) and
// stays pending unread.
struct Taken {
    qint64 address;
    QVariant grade;
    bool account;
    int order;       // its place among the run's orders
    bool answered;   // acknowledged (the last row sent may not be)
};

bool judge(ModComm::TurnRun& run, const QVector<Taken>& taken) {
    const bool sure = run.settle();
    QStringList read = run.orders();
    bool claimed = false;
    for (const Taken& t : taken) {
        claimed = claimed || t.answered;
        if (sure && !t.answered && t.order < read.size()) read[t.order].clear();
    }
    QVector<bool> held(taken.size(), false);
    if (!taken.isEmpty() && (claimed || !sure)) {
        const QVector<bool> back = transfer::HeldAsSent(read);
        for (int k = 0; k < taken.size(); ++k) held[k] = taken[k].order < back.size() && back[taken[k].order];
    }
    bool all = true;
    QStringList named;
    for (int k = 0; k < taken.size(); ++k) {
        if (!held[k]) {
            all = false;
            named << (taken[k].account ? QStringLiteral("帐号") : QStringLiteral("分机")) + QString::number(taken[k].address);
            continue;
        }
        if (taken[k].account) {
            dbSwitch.execute(QStringLiteral("update account set clearpassword=0, bset=0 where address=? and depositgrade=?"),
                             {taken[k].address, taken[k].grade});
            if (g_view) g_view->AccountSent(taken[k].address);
        } else {
            dbSwitch.execute(QStringLiteral("update extension set bset=0 where address=? and depositgrade=?"),
                             {taken[k].address, taken[k].grade});
            if (g_view) g_view->ExtensionSent(taken[k].address);
        }
    }
    if (!named.isEmpty())
        LinkTrace::Note(QStringLiteral("交换机中没有所发的%1, 仍待下载").arg(named.join(QStringLiteral("、"))));
    return all;
}

// Sends the account rows of `rs` (`account`; with "810300" after them) or its
// extension rows (without table frames) as rows of `run`; false at the first
// row not acknowledged. Throws what the rows' reading throws.
bool sendRows(ModComm::TurnRun& run, QVector<Taken>& taken, Recordset& rs, bool account, int mode, bool clearPassword,
              bool showProgress) {
    const int n = ModSwitch::GetRecordCount(rs);
    for (int i = 1; i <= n; ++i) {
        const qint64 address = rs.lng(account ? QStringLiteral("address") : QStringLiteral("Address"));
        if (showProgress)
            step(account ? QStringLiteral("下载第%1个帐号 %2").arg(i).arg(accountText(rs.str(QStringLiteral("account"))))
                         : QStringLiteral("下载分机参数%1").arg(address));
        const transfer::Owner owner =
            mode == transfer::kModeNormal ? ownerOf(rs, account ? QStringLiteral("帐号") : QStringLiteral("分机"), address)
                                          : transfer::Owner{};
        const RowValues values = RowValues::of(rs);
        const QString frame = account ? transfer::AccountRow(values, mode, clearPassword, owner)
                                      : transfer::ExtParaRow(values, mode, clearPassword, owner);
        const int before = run.rows();
        const bool ok = run.send(frame) == ModComm::Acknowledged;
        // A row that went is judged, answered or not: the switch may hold it.
        if (run.rows() > before) taken.append({address, rs.value(QStringLiteral("depositgrade")), account, before, ok});
        if (!ok) return false;
        rs.moveNext();
    }
    // The end closes the table; what it gets is judged with the rows.
    if (account) run.send(FrameCode::kTableEnd);
    return true;
}

}  // namespace

void SetDownloadView(DownloadView* v) { g_view = v; }

void ShowUserDeleted(qint64 userId) {
    if (g_view) g_view->UserDeleted(userId);
}

bool DownAccount(Recordset& rs, int mode, bool clearPassword, bool showProgress) {
    ModComm::TurnRun run;
    QVector<Taken> taken;
    try {
        const bool ok = sendRows(run, taken, rs, true, mode, clearPassword, showProgress);
        return judge(run, taken) && ok;
    } catch (const std::exception& e) {
        LinkTrace::Note(QStringLiteral("下载帐号: %1").arg(QString::fromUtf8(e.what())));
        try {
            judge(run, taken);
        } catch (const std::exception&) {
        }
        return false;
    }
}

bool DownExtPara(Recordset& rs, int mode, bool clearPassword, bool showProgress) {
    DrawingHeld held;
    ModComm::TurnRun run;
    QVector<Taken> taken;
    bool ok = false;
    try {
        ok = sendRows(run, taken, rs, false, mode, clearPassword, showProgress);
    } catch (...) {
        judge(run, taken);   // the rows acknowledged before the one that failed
        throw;
    }
    return judge(run, taken) && ok;
}

// One run for both halves: the line is heard out once, after the extensions.
bool DownUserPara(qint64 userId, int mode, int clearPassword, int force, int showProgress) {
    if (userId == 0 && force == 0) return true;
    // A release whose outcome was never written is settled before any row
    // of a user goes again (not by a release itself, whose intent is new).
    if (mode != transfer::kModeRelease && !ModSwitch::PendingWriteAhead(dbSwitch, transfer::kReleaseIntent).isEmpty())
        transfer::SettleSwitchIntents();
    Recordset accounts =
        dbSwitch.query(QStringLiteral("select * from account where userid=? order by address"), {userId});
    ModComm::TurnRun run;
    QVector<Taken> taken;
    bool ok = false;
    try {
        ok = sendRows(run, taken, accounts, true, mode, clearPassword != 0, showProgress != 0);
    } catch (const std::exception& e) {
        // As DownAccount: an account that cannot be read or encoded is a failed download.
        LinkTrace::Note(QStringLiteral("下载帐号: %1").arg(QString::fromUtf8(e.what())));
        try {
            judge(run, taken);
        } catch (const std::exception&) {
        }
        return false;
    }
    if (!ok) {
        judge(run, taken);
        return false;
    }
    DrawingHeld held;
    Recordset extensions =
        dbSwitch.query(QStringLiteral("select * from extension where userid=? order by address"), {userId});
    try {
        ok = sendRows(run, taken, extensions, false, mode, clearPassword != 0, showProgress != 0);
    } catch (...) {
        judge(run, taken);
        throw;
    }
    return judge(run, taken) && ok;
}

}  // namespace ModToolbar
