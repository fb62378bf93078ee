#include "transfer/DepositChange.h"

#include "core/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/WriteAhead.h"
#include "link/CommState.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/MsgCodes.h"
#include "transfer/RowFrames.h"
#include "transfer/UpRecords.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace transfer {

namespace {

using platform::Currency;

// What was about to go, as the intent keeps it.
struct Intent {
    qint64 before = 0;   // the switch's deposit before, in fen
    qint64 fen = 0;      // the change as the frame carries it
    Currency value;      // the change as the station books it
    QString frame;
};

ModSwitch::WriteAheadBody bodyOf(const Intent& i) {
    return ModSwitch::WriteAheadBody()
        .set(QStringLiteral("before"), i.before)
        .set(QStringLiteral("change"), i.fen)
        .set(QStringLiteral("value"), i.value.raw())
        .set(QStringLiteral("frame"), i.frame);
}

std::optional<Intent> intentOf(const ModSwitch::WriteAheadBody& body) {
    bool ok[3] = {};
    Intent i{body.integer(QStringLiteral("before"), &ok[0]), body.integer(QStringLiteral("change"), &ok[1]),
             Currency::fromRaw(body.integer(QStringLiteral("value"), &ok[2])), body.text(QStringLiteral("frame"))};
    if (!ok[0] || !ok[1] || !ok[2] || !body.has(QStringLiteral("frame"))) return std::nullopt;
    return i;
}

// The deposit the switch holds once it took the change: it keeps a deposit
// within what its field carries (a decrease below nothing leaves nothing).
// A change that cannot move it is as good as taken.
qint64 expectedOf(const Intent& i) { return std::clamp<qint64>(i.before + i.fen, 0, 0xFFFFF); }

QString keyOf(int address) { return QString::number(address); }

QString numberOf(int address) {
    QString number = QString::number(address);
    try {
        const QVariant txhm = dbSwitch.scalar(QStringLiteral("select txhm from que_txhm where address=?"), {address});
        if (!txhm.isNull() && !txhm.toString().trimmed().isEmpty()) number = txhm.toString().trimmed();
    } catch (const platform::DbError&) {
    }
    return number;
}

QString yuan(qint64 fen) { return Currency::fromFen(fen).toString2(); }

void tell(const QString& text) {
    LinkTrace::Note(text);
    core::Notify(text, platform::mbOKOnly | platform::mbExclamation, AppName);
}

// The switch's deposit and the change disagree in a way that says neither
// "taken" nor "not taken": named with both values, never sent again blind.
void tellInDoubt(int address, const Intent& i, std::optional<qint64> now) {
    if (now)
        tell(QStringLiteral("分机%1的押金改变%2无法查明是否已生效：改变前交换机上的押金为%3，现在为%4。"
                            "该改变未再发送，仍待下载；请先上传分机押金核实交换机上的押金。")
                 .arg(numberOf(address), yuan(i.fen), yuan(i.before), yuan(*now)));
    else
        tell(QStringLiteral("交换机没有确认分机%1的押金改变%2，也无法查明是否已生效(改变前交换机上的押金为%3，之后交换机没有回答押金查询)。"
                            "该改变未再发送，仍待下载；请先上传分机押金核实交换机上的押金。")
                 .arg(numberOf(address), yuan(i.fen), yuan(i.before)));
}

// The answers to the deposit question disagree among themselves.
void tellDisagreeing(int address, const Intent& i, const QList<qint64>& seen) {
    QStringList values;
    for (qint64 v : seen) values << yuan(v);
    tell(QStringLiteral("分机%1的押金改变%2无法查明是否已生效：改变前交换机上的押金为%3，之后交换机对押金查询的%4次回答互不一致(%5)。"
                        "该改变未再发送，仍待下载；请先上传分机押金核实交换机上的押金。")
             .arg(numberOf(address), yuan(i.fen), yuan(i.before))
             .arg(seen.size())
             .arg(values.join(QStringLiteral("、"))));
}

// A deposit change the switch took whose history row could not be written:
// the history lacks it for good, so the box is kept in the booking's commit
// (a kill while it stands leaves it for the next opening).
QString historyReportKey(int address, const QString& when) {
    return QStringLiteral("deposit-history:%1:%2").arg(address).arg(when);
}
void keepHistoryRefused(int address, const Currency& change, const QString& when, const QString& why) {
    ModSwitch::KeepReport(dbSwitch, historyReportKey(address, when),
                          {QStringLiteral("分机%1的押金改变%2已下载到交换机，但押金历史记录(%3)未能写入：%4")
                               .arg(numberOf(address), change.toString2(), when, why),
                           AppName, platform::mbOKOnly | platform::mbExclamation});
}

// The run's extensions whose change is booked, shown once it is over.
QList<int> g_booked;

// A change the switch took, to be booked.
struct Booking {
    int address = 0;
    Intent intent;
};

// The switch took them: each one's history row, the change used up, the
// intent settled and the journal's entry, in one commit. A history row
// another holds the second of (the history keeps one row per extension and
// second) does not keep the change pending, or every later download would
// add it again; a station file that takes nothing keeps the intents, and the
// changes are settled by the switch's deposit next time.
void bookTaken(const QList<Booking>& taken) {
    if (taken.isEmpty()) return;
    const QString when = platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QList<Booking> refused;
    {
        platform::Transaction tx(dbSwitch);
        for (const Booking& b : taken) {
            if (!ModGeneral::BookDepositTaken(dbSwitch, b.address, b.intent.value, when, WorkerID, true)) {
                refused << b;
                keepHistoryRefused(b.address, b.intent.value, when, QStringLiteral("该分机在同一秒已有一条押金历史记录"));
            }
            if (b.intent.value != Currency()) ModSwitch::EnterDepositTaken(b.address, b.intent.value, when);
        }
        tx.commit();
    }
    for (const Booking& b : taken) g_booked << b.address;
    for (const Booking& b : refused) {
        LinkTrace::Note(QStringLiteral("分机%1的押金历史记录(%2)未能写入").arg(b.address).arg(when));
        ModSwitch::TellReport(dbSwitch, historyReportKey(b.address, when));
    }
}

// The quiet a change's deposit is read after, from its frame: the longest
// lag the line has shown (twice the slowest answer, twice a copy's gap),
// never below a floor that covers a switch whose deposit answer shows a
// change up to a second after it took it. A lag learned from the deposit
// answers themselves is not kept: one that lags by questions would look
// longer each time it is waited for.
constexpr qint64 kQuietFloorMs = 1200;
// How many answers a change not shown taken is read for before it is left as
// its intent: a switch whose answer lags a few questions shows it by then.
constexpr int kReads = 8;
QHash<int, qint64> g_sentTick;      // when each extension's last change went
// The changes of the run, each sent once, settled after its last frame.
struct Sent {
    int address = 0;
    Intent intent;
    qint64 at = 0;
    bool refused = false;   // its answer was a refusal
};
QList<Sent> g_sent;

qint64 quietMs() {
    const ModComm::CommStateRec& c = ModComm::CommState;
    return std::max({kQuietFloorMs, 2 * qint64(c.LatencyMs) + 2, qint64(c.RepeatGapMs) * 2});
}

// The switch's answers to the deposit question, read until one shows the
// change taken (at most kReads; a third value twice, or no answer, ends it).
struct Reading {
    bool taken = false;
    QList<qint64> seen;
};
Reading readDeposit(ModComm::TurnRun& run, int address, const Intent& i) {
    Reading r;
    const qint64 want = expectedOf(i);
    for (int k = 0; k < kReads; ++k) {
        run.quietForAsk();
        const std::optional<qint64> now = AskDeposit(address);
        if (!now) break;
        r.seen << *now;
        if (*now == want) {
            r.taken = true;
            break;
        }
        if (*now != i.before && r.seen.size() > 1 && r.seen[r.seen.size() - 2] == *now) break;
    }
    return r;
}

// Taken, not taken (every answer the value before), or in doubt (told).
enum class Outcome { Taken, NotTaken, InDoubt };
Outcome outcomeOf(int address, const Intent& i, const Reading& r, bool refused = false) {
    if (r.taken) return Outcome::Taken;
    if (r.seen.isEmpty()) {
        // A switch that refused the change did answer it: not told as silent.
        if (refused)
            LinkTrace::Note(QStringLiteral("交换机拒绝了分机%1的押金改变, 之后没有回答押金查询").arg(address));
        else
            tellInDoubt(address, i, std::nullopt);
        return Outcome::InDoubt;
    }
    if (r.seen.count(i.before) == r.seen.size()) return Outcome::NotTaken;
    // A value that held to the end is the switch's; answers that never held one are told as such.
    if (r.seen.size() > 1 && r.seen[r.seen.size() - 2] != r.seen.last())
        tellDisagreeing(address, i, r.seen);
    else
        tellInDoubt(address, i, r.seen.last());
    return Outcome::InDoubt;
}

}  // namespace

std::optional<qint64> AskDeposit(int address) {
    QByteArray answer;
    if (ModComm::GetOrder(answer, FrameCode::kExtDepositRow, false, FrameCode::kReadDeposit + ModComm::ByteToHex(quint8(address)),
                          5) != ModComm::GotAnswer)
        return std::nullopt;
    // Kind 0 (bits 1-2 of byte 3) is the deposit itself, not a change. A
    // shorter answer says nothing.
    if (answer.size() < 7) return std::nullopt;
    const ModComm::FrameReader f(answer);
    if (f.byte(2) != quint8(address) || (f.byte(3) & 0x03) != 0) return std::nullopt;
    return DepositFen(answer);
}

Settled SettleDepositIntent(ModComm::TurnRun& run, int address) {
    std::optional<Intent> intent;
    bool found = false;
    for (const ModSwitch::WriteAheadRecord& r : ModSwitch::PendingWriteAhead(dbSwitch, kDepositIntent))
        if (r.key == keyOf(address)) {
            found = true;
            intent = intentOf(r.body);
        }
    if (!found) return Settled::None;
    if (!intent) {
        // Unreadable: nothing to compare with, so nothing of it is taken as done.
        LinkTrace::Note(QStringLiteral("分机%1的押金改变记录无法读取, 已丢弃").arg(address));
        ModSwitch::SettleWriteAhead(dbSwitch, kDepositIntent, keyOf(address));
        return Settled::NotTaken;
    }
    // Read long after any lag the line has shown since its frame went.
    const qint64 sentAt = g_sentTick.value(address, 0);
    if (sentAt > 0) ModComm::ListenUntil(sentAt + quietMs());
    const Reading reading = readDeposit(run, address, *intent);
    if (reading.taken) {
        LinkTrace::Note(QStringLiteral("分机%1的押金改变%2此前已被交换机接受").arg(address).arg(yuan(intent->fen)));
        bookTaken({Booking{address, *intent}});
        return Settled::Taken;
    }
    if (!reading.seen.isEmpty() && reading.seen.count(intent->before) == reading.seen.size()) {
        ModSwitch::SettleWriteAhead(dbSwitch, kDepositIntent, keyOf(address));
        return Settled::NotTaken;
    }
    // The operator, told of the doubt, has withdrawn the change (after
    // reading the switch's deposits): the station no longer asks.
    const QVariant pending =
        dbSwitch.scalar(QStringLiteral("select ChangeValue from extdeposit where address=? and bSet<>0"), {address});
    if (pending.isNull() || pending.toLongLong() == 0) {
        LinkTrace::Note(QStringLiteral("分机%1的押金改变%2已撤销, 不再核对").arg(address).arg(yuan(intent->fen)));
        ModSwitch::SettleWriteAhead(dbSwitch, kDepositIntent, keyOf(address));
        return Settled::NotTaken;
    }
    outcomeOf(address, *intent, reading);
    return Settled::InDoubt;
}

bool SendDepositChange(ModComm::TurnRun& run, int address, const QString& sentFrame, const Currency& sentChange) {
    // Sent in this run already (the view lists it twice): settled with the run.
    for (const Sent& s : std::as_const(g_sent))
        if (s.address == address) return true;
    // A change whose outcome was never written is settled before anything of
    // this extension goes: taken, it is not sent again.
    switch (SettleDepositIntent(run, address)) {
    case Settled::Taken: return true;
    case Settled::InDoubt: return false;
    default: break;
    }
    // What is pending now, not what the download read before it began: a
    // change settled meanwhile is used up, one typed meanwhile goes as typed.
    QString frame = sentFrame;
    Currency change = sentChange;
    {
        platform::Recordset rs = dbSwitch.query(
            QStringLiteral("select address as Address,ChangeValue from extdeposit where address=?"), {address});
        if (!rs.eof()) {
            change = rs.cur(QStringLiteral("ChangeValue"));
            frame = ExtDepositRow(RowValues::of(rs));
        }
    }
    const qint64 fen = change.toFenHalfEven();
    // Nothing to take twice: sent as any row.
    if (fen == 0) {
        if (run.send(frame) != ModComm::Acknowledged) return false;
        platform::Transaction tx(dbSwitch);
        ModGeneral::BookDepositTaken(dbSwitch, address, change, QString(), WorkerID, false);
        tx.commit();
        g_booked << address;
        return true;
    }
    // The question goes in its turn, so that no answer of the rows before is
    // still on its way when the change goes.
    run.quietForAsk();
    const std::optional<qint64> before = AskDeposit(address);
    if (!before) {
        // Without the deposit before, no outcome could be settled: not sent.
        tell(QStringLiteral("交换机没有回答分机%1的押金查询，押金改变%2未发送，仍待下载。").arg(numberOf(address), yuan(fen)));
        return false;
    }
    const Intent intent{*before, fen, change, frame};
    // Durable before the frame goes; a station file that cannot take it
    // (another program's lock) throws, and nothing is sent.
    ModSwitch::WriteAhead(dbSwitch, kDepositIntent, keyOf(address), bodyOf(intent));
    run.quietForAsk();
    const qint64 at = platform::TickMs();
    const ModComm::SendResult r = ModComm::SendOrderOnce(frame, 4, true);
    g_sent << Sent{address, intent, at, r == ModComm::SwitchRefused};
    g_sentTick.insert(address, at);
    // Whatever its answer: the answers carry no row, and what the switch did
    // is read from its deposit once the run is over.
    return true;
}

bool FlushDepositChanges(ModComm::TurnRun& run, const std::function<void(int)>& booked) {
    const QList<Sent> sent = std::exchange(g_sent, {});
    struct Shown {
        const std::function<void(int)>& booked;
        ~Shown() {
            const QList<int> done = std::exchange(g_booked, {});
            if (booked)
                for (int address : done) booked(address);
        }
    } shown{booked};
    if (sent.isEmpty()) return true;
    qint64 last = 0;
    for (const Sent& s : sent) last = std::max(last, s.at);
    ModComm::ListenUntil(last + quietMs());
    // Every deposit read first, then the changes taken booked in one commit:
    // no transaction waits for the switch.
    QList<Booking> taken;
    bool all = true;
    for (const Sent& s : sent) {
        switch (outcomeOf(s.address, s.intent, readDeposit(run, s.address, s.intent), s.refused)) {
        case Outcome::Taken: taken << Booking{s.address, s.intent}; break;
        case Outcome::NotTaken:
            // Left as its intent: read again, and only then sent again, at
            // the next download or opening.
            LinkTrace::Note(QStringLiteral("分机%1的押金改变%2在交换机上未见生效, 仍待下载").arg(s.address).arg(yuan(s.intent.fen)));
            all = false;
            break;
        case Outcome::InDoubt: all = false; break;
        }
    }
    bookTaken(taken);
    return all;
}

}  // namespace transfer
