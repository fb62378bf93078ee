#include "transfer/UserDownload.h"

#include "core/ModDefine.h"
#include "core/RowLists.h"
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

// The rows of one run whose answers stand, or which the switch is found to
// hold as sent when they do not (see ModComm::TurnRun), get their pending mark
// cleared (unless their grade changed meanwhile: a call charged during the
// wait) and are shown sent; the others stay pending and are named in the
// trace. Every row of the run goes in turn. `taken` are the rows answered, in
// the order sent, each the run's row of the same place. True when every row
// sent is done.
struct Taken {
    qint64 address;
    QVariant grade;
    bool answered;   // acknowledged (the last row sent may not be)
};

bool judge(ModComm::TurnRun& run, const QVector<Taken>& taken, bool accounts) {
    const bool sure = run.settle();
    QVector<bool> held(taken.size(), false);
    for (int k = 0; k < taken.size(); ++k) held[k] = sure && taken[k].answered;
    if (!sure && !taken.isEmpty()) {
        const QVector<bool> back = transfer::HeldAsSent(run.orders());
        for (int k = 0; k < taken.size(); ++k) held[k] = k < back.size() && back[k];
    }
    bool all = true;
    QStringList named;
    for (int k = 0; k < taken.size(); ++k) {
        if (!held[k]) {
            all = false;
            named << QString::number(taken[k].address);
            continue;
        }
        if (accounts) {
            dbSwitch.execute(QStringLiteral("update account set clearpassword=0, bset=0 where address=? and depositgrade=?"),
                             {taken[k].address, taken[k].grade});
            if (g_view) g_view->AccountSent(taken[k].address);
        } else {
            dbSwitch.execute(QStringLiteral("update extension set bset=0 where address=? and depositgrade=?"),
                             {taken[k].address, taken[k].grade});
            if (g_view) g_view->ExtensionSent(taken[k].address);
        }
    }
    if (!sure && !named.isEmpty())
        LinkTrace::Note(QStringLiteral("交换机中没有所发的%1 %2, 仍待下载")
                            .arg(accounts ? QStringLiteral("帐号") : QStringLiteral("分机"), named.join(QStringLiteral("、"))));
    return all;
}

}  // namespace

void SetDownloadView(DownloadView* v) { g_view = v; }

bool DownAccount(Recordset& rs, int mode, bool clearPassword, bool showProgress) {
    ModComm::TurnRun run;
    QVector<Taken> taken;
    bool ok = true;
    try {
        const int n = ModSwitch::GetRecordCount(rs);
        for (int i = 1; ok && i <= n; ++i) {
            const qint64 address = rs.lng(QStringLiteral("address"));
            if (showProgress)
                step(QStringLiteral("下载第%1个帐号 %2").arg(i).arg(accountText(rs.str(QStringLiteral("account")))));
            const transfer::Owner owner = mode == transfer::kModeNormal ? ownerOf(rs, QStringLiteral("帐号"), address) : transfer::Owner{};
            const QString frame = transfer::AccountRow(RowValues::of(rs), mode, clearPassword, owner);
            const int before = run.rows();
            ok = run.send(frame) == ModComm::Acknowledged;
            // A row that went is judged, answered or not: the switch may hold it.
            if (run.rows() > before) taken.append({address, rs.value(QStringLiteral("depositgrade")), ok});
            rs.moveNext();
        }
        // The end closes the table; what it gets is judged with the rows.
        if (ok) run.send(FrameCode::kTableEnd);
        return judge(run, taken, true) && ok;
    } catch (const std::exception& e) {
        LinkTrace::Note(QStringLiteral("下载帐号: %1").arg(QString::fromUtf8(e.what())));
        try {
            judge(run, taken, true);
        } catch (const std::exception&) {
        }
        return false;
    }
}

bool DownExtPara(Recordset& rs, int mode, bool clearPassword, bool showProgress) {
    DrawingHeld held;
    ModComm::TurnRun run;
    QVector<Taken> taken;
    bool ok = true;
    try {
        const int n = ModSwitch::GetRecordCount(rs);
        for (int i = 1; ok && i <= n; ++i) {
            const qint64 address = rs.lng(QStringLiteral("Address"));
            if (showProgress) step(QStringLiteral("下载分机参数%1").arg(address));
            const transfer::Owner owner = mode == transfer::kModeNormal ? ownerOf(rs, QStringLiteral("分机"), address) : transfer::Owner{};
            const QString frame = transfer::ExtParaRow(RowValues::of(rs), mode, clearPassword, owner);
            const int before = run.rows();
            ok = run.send(frame) == ModComm::Acknowledged;
            // A row that went is judged, answered or not: the switch may hold it.
            if (run.rows() > before) taken.append({address, rs.value(QStringLiteral("depositgrade")), ok});
            rs.moveNext();
        }
    } catch (...) {
        judge(run, taken, false);   // the rows acknowledged before the one that failed
        throw;
    }
    return judge(run, taken, false) && ok;
}

bool DownUserPara(qint64 userId, int mode, int clearPassword, int force, int showProgress) {
    if (userId == 0 && force == 0) return true;
    Recordset accounts =
        dbSwitch.query(QStringLiteral("select * from account where userid=? order by address"), {userId});
    if (!DownAccount(accounts, mode, clearPassword != 0, showProgress != 0)) return false;
    Recordset extensions =
        dbSwitch.query(QStringLiteral("select * from extension where userid=? order by address"), {userId});
    return DownExtPara(extensions, mode, clearPassword != 0, showProgress != 0);
}

}  // namespace ModToolbar
