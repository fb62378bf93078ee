#include "transfer/DepositChange.h"

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

#include <algorithm>

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

QString bodyOf(const Intent& i) {
    return QStringLiteral("before=%1;change=%2;value=%3;frame=%4")
        .arg(i.before)
        .arg(i.fen)
        .arg(i.value.raw())
        .arg(i.frame);
}

std::optional<Intent> intentOf(const QString& body) {
    Intent i;
    int found = 0;
    for (const QString& part : body.split(QLatin1Char(';'))) {
        const int eq = part.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        const QString name = part.left(eq), v = part.mid(eq + 1);
        bool ok = true;
        if (name == QLatin1String("before")) i.before = v.toLongLong(&ok);
        else if (name == QLatin1String("change")) i.fen = v.toLongLong(&ok);
        else if (name == QLatin1String("value")) i.value = Currency::fromRaw(v.toLongLong(&ok));
        else if (name == QLatin1String("frame")) i.frame = v;
        else continue;
        if (!ok) return std::nullopt;
        ++found;
    }
    if (found != 4) return std::nullopt;
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

// A deposit change the switch took whose history row could not be written.
void historyRefused(int address, const Currency& change, const QDateTime& when, const QString& why) {
    tell(QStringLiteral("分机%1的押金改变%2已下载到交换机，但押金历史记录(%3)未能写入：%4")
             .arg(numberOf(address), change.toString2(), when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), why));
}

// The change left of the row once `taken` is used up: what the operator typed
// meanwhile stays pending.
void useUp(int address, const Currency& taken) {
    platform::Recordset rs =
        dbSwitch.query(QStringLiteral("select ChangeValue from extdeposit where address=?"), {address});
    if (rs.eof()) return;
    const Currency now = rs.cur(QStringLiteral("ChangeValue"));
    Currency left = now - taken;
    // A change withdrawn meanwhile (set to nothing, or turned the other way)
    // is not made good by a change the other way.
    if (now == Currency() || (now < Currency()) != (left < Currency())) left = Currency();
    dbSwitch.execute(QStringLiteral("update extdeposit set changevalue=?,bSet=? where address=?"),
                     {left.toVariant(), left != Currency() ? 1 : 0, address});
}

// The switch took the change: its history row, the change used up and the
// intent settled, in the caller's transaction.
void bookRows(int address, const Intent& i, const QDateTime& when, bool history) {
    if (history && i.value != Currency())
        dbSwitch.execute(QStringLiteral("insert into extdeposithistory(ChangeDate,ExtAddr,ChangeValue,WorkerID,"
                                        "ChangeType) values(?,?,?,?,2)"),
                         {when, address, i.value.toVariant(), WorkerID});
    useUp(address, i.value);
    ModSwitch::SettleWriteAhead(dbSwitch, kDepositIntent, keyOf(address));
}

// The same in one commit of its own. A refused history row (the history
// keeps one row per extension and second) does not keep the change pending,
// or every later download would add it again; a station file that takes
// nothing keeps the intent, and the change is settled by the switch's
// deposit next time.
void bookTaken(int address, const Intent& i) {
    const QDateTime when = platform::Now();
    try {
        platform::Transaction tx(dbSwitch);
        bookRows(address, i, when, true);
        tx.commit();
        return;
    } catch (const platform::DbError& e) {
        if (i.value == Currency()) throw;
        const QString why = platform::OperatorText(e);
        {
            platform::Transaction tx(dbSwitch);
            bookRows(address, i, when, false);
            tx.commit();
        }
        historyRefused(address, i.value, when, why);
    }
}

// Lets the line be quiet: no acknowledgement heard for `quietMs` (bounded).
void letAcksSettle(qint64 quietMs) {
    const qint64 start = platform::TickMs();
    for (;;) {
        ModComm::ProcessComm();
        const qint64 now = platform::TickMs();
        if (ModComm::CommState.LastAckTick < 0 || now - ModComm::CommState.LastAckTick >= quietMs) return;
        if (now - start >= 4 * ModComm::kRepeatBoundMs + quietMs) return;
        const qint64 t = platform::TickMs();
        while (platform::TickMs() - t < 2) platform::YieldEvents();
    }
}

// The switch's deposit once the line is quiet, read until two answers in a
// row agree (an answer may lag a change just taken); none when it does not
// answer or its answers keep moving.
std::optional<qint64> steadyDeposit(ModComm::TurnRun& run, int address) {
    letAcksSettle(ModComm::kRepeatBoundMs);
    std::optional<qint64> last;
    for (int k = 0; k < 5; ++k) {
        run.quietForAsk();
        const std::optional<qint64> now = AskDeposit(address);
        if (!now) return std::nullopt;
        if (last && *last == *now) return now;
        last = now;
    }
    return std::nullopt;
}

// Whether the link has shown anything its answers do not explain lately (a
// copy, an answer nobody waited for, a refusal): then no acknowledgement of a
// change stands alone.
bool lineShowedOdd() {
    for (const ModComm::AckEvent& e : ModComm::AckEventsSince(0))
        if (!e.claimed || e.status != 0) return true;
    return false;
}

enum class Sent { Clean, Refused, Unsure };

// The change frame, once. Clean: its own acknowledgement, heard within the
// line's time on a line that has shown nothing odd, none other after it.
Sent sendOnce(ModComm::TurnRun& run, const QString& frame, qint64& sentAt) {
    const bool odd = lineShowedOdd() || ModComm::RowWaitMs() > 0;
    const double latency = ModComm::CommState.LatencyMs;
    bool certain = false;
    ModComm::SendResult r;
    qint64 sent = 0;
    if (odd) {
        r = run.sendAlone(frame, certain);
    } else {
        run.quietForAsk();
        sent = platform::TickMs();
        sentAt = sent;
        r = ModComm::SendOrderOnce(frame, 4, true);
        certain = r == ModComm::Acknowledged || r == ModComm::SwitchRefused;
    }
    if (r == ModComm::SwitchRefused && certain) return Sent::Refused;
    if (r != ModComm::Acknowledged || !certain || odd) return Sent::Unsure;
    // Later than the line has answered so far: perhaps another order's answer.
    const qint64 took = ModComm::CommState.ClaimedAckTick - sent;
    if (latency > 0 && took > qint64(2 * latency) + 30) return Sent::Unsure;
    for (const ModComm::AckEvent& e : ModComm::AckEventsSince(sent))
        if (!e.claimed || e.status != 0) return Sent::Unsure;
    return Sent::Clean;
}

// What the switch's deposit says of a change whose answer was not a clean
// acknowledgement; the station's side done (booked, settled or told).
enum class Outcome { Taken, NotTaken, Refused, InDoubt };

Outcome byDeposit(ModComm::TurnRun& run, int address, const Intent& intent, Sent sent) {
    const std::optional<qint64> after = steadyDeposit(run, address);
    if (after && *after == expectedOf(intent)) {
        LinkTrace::Note(QStringLiteral("分机%1的押金改变已被交换机接受, 其确认未能确定").arg(address));
        bookTaken(address, intent);
        return Outcome::Taken;
    }
    if (after && *after == intent.before) {
        ModSwitch::SettleWriteAhead(dbSwitch, kDepositIntent, keyOf(address));
        // Not taken. A refusal heard for certain is the switch's word.
        if (sent == Sent::Refused) {
            LinkTrace::Note(QStringLiteral("交换机拒绝了分机%1的押金改变").arg(address));
            return Outcome::Refused;
        }
        return Outcome::NotTaken;
    }
    if (sent == Sent::Refused && !after) {
        // The switch refused it for certain and then did not answer the
        // question: the refusal is its word, and the intent stays, so the
        // deposit is compared again before the change goes next time.
        LinkTrace::Note(QStringLiteral("交换机拒绝了分机%1的押金改变, 之后没有回答押金查询").arg(address));
        return Outcome::Refused;
    }
    tellInDoubt(address, intent, after);
    return Outcome::InDoubt;
}

// The change acknowledged cleanly last is booked with the next change's
// intent, in one commit: its own intent, durable since before its frame went,
// stands for it meanwhile (a kill in between is settled by the switch's
// deposit). Anything heard after its acknowledgement that the answer does not
// explain sends it to the switch's deposit first.
struct Deferred {
    bool set = false;
    int address = 0;
    Intent intent;
    qint64 sentAt = 0;
};
Deferred g_deferred;
bool g_deferredFailed = false;

void checkDeferred(ModComm::TurnRun& run) {
    if (!g_deferred.set || ModComm::AckEventsSince(g_deferred.sentAt).isEmpty()) return;
    const Deferred d = g_deferred;
    g_deferred = {};
    if (byDeposit(run, d.address, d.intent, Sent::Unsure) != Outcome::Taken) g_deferredFailed = true;
}

void flushDeferred(ModComm::TurnRun& run) {
    checkDeferred(run);
    if (!g_deferred.set) return;
    const Deferred d = g_deferred;
    g_deferred = {};
    bookTaken(d.address, d.intent);
}

// The intent of the change about to go, durable, with the booking of the one before.
void writeIntent(int address, const Intent& intent) {
    if (!g_deferred.set) {
        ModSwitch::WriteAhead(dbSwitch, kDepositIntent, keyOf(address), bodyOf(intent));
        return;
    }
    const Deferred d = g_deferred;
    g_deferred = {};
    try {
        dbSwitch.setDurableCommits(true);
        platform::Transaction tx(dbSwitch);
        bookRows(d.address, d.intent, platform::Now(), true);
        ModSwitch::WriteAhead(dbSwitch, kDepositIntent, keyOf(address), bodyOf(intent));
        tx.commit();
    } catch (const platform::DbError&) {
        // Each alone, with its own rule (a refused history row, a lock).
        bookTaken(d.address, d.intent);
        ModSwitch::WriteAhead(dbSwitch, kDepositIntent, keyOf(address), bodyOf(intent));
    }
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
    // Asked for, a change whose booking waits is settled by the switch.
    if (g_deferred.set && g_deferred.address == address) g_deferred = {};
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
    const std::optional<qint64> now = steadyDeposit(run, address);
    if (now && *now == expectedOf(*intent)) {
        LinkTrace::Note(QStringLiteral("分机%1的押金改变%2此前已被交换机接受").arg(address).arg(yuan(intent->fen)));
        bookTaken(address, *intent);
        return Settled::Taken;
    }
    if (now && *now == intent->before) {
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
    tellInDoubt(address, *intent, now);
    return Settled::InDoubt;
}

bool SendDepositChange(ModComm::TurnRun& run, int address, const QString& sentFrame, const Currency& sentChange) {
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
        flushDeferred(run);
        if (run.send(frame) != ModComm::Acknowledged) return false;
        bookTaken(address, Intent{0, 0, change, frame});
        return true;
    }
    // The question goes in its turn, so that no answer of the rows before is
    // still on its way when the change goes.
    run.quietForAsk();
    const std::optional<qint64> before = AskDeposit(address);
    checkDeferred(run);
    if (!before) {
        // Without the deposit before, no outcome could be settled: not sent.
        flushDeferred(run);
        tell(QStringLiteral("交换机没有回答分机%1的押金查询，押金改变%2未发送，仍待下载。").arg(numberOf(address), yuan(fen)));
        return false;
    }
    const Intent intent{*before, fen, change, frame};
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Durable before the frame goes; a station file that cannot take it
        // (another program's lock) throws, and nothing is sent.
        writeIntent(address, intent);
        qint64 sentAt = 0;
        const Sent sent = sendOnce(run, frame, sentAt);
        if (sent == Sent::Clean) {
            g_deferred = {true, address, intent, sentAt};
            return true;
        }
        // Any other answer, or none: the switch's deposit, read until it is
        // steady, says whether it took the change. It is never sent again
        // before that is known.
        switch (byDeposit(run, address, intent, sent)) {
        case Outcome::Taken: return true;
        case Outcome::NotTaken: continue;   // a damaged frame, or no answer: once more
        default: return false;
        }
    }
    return false;
}

bool FlushDepositChanges(ModComm::TurnRun& run) {
    flushDeferred(run);
    const bool failed = g_deferredFailed;
    g_deferredFailed = false;
    return !failed;
}

}  // namespace transfer
