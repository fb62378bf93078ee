// The booking of the journal's entries: a record's charge and call, the
// station file's own entries (balances, deposits, owners), their apply to the
// station file and the balances that count the entries not applied yet.
#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"

#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/books/StationRecord.h"
#include "core/books/UserNumbers.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"

#include "core/Notices.h"

#include <utility>

namespace ModSwitch {

using platform::DbError;
using platform::Params;
using namespace chargelog;   // and with it platform's Currency and Database

namespace {
// The balance follows at once, once the entry is kept. A station file that
// cannot take it now (locked, full) takes it at the next entry or opening:
// the entry is kept, and the balances read meanwhile count it.
int applyPending(bool known);

// An apply was asked for since the last one ran: the first to run after a
// commit knows an entry waits (the one it follows), and leaves out the check
// before its transaction; the others of the same commit (a batch of records)
// check, and find the entries taken.
thread_local bool g_applyAsked = false;

void applyAfterCommit() {
    g_applyAsked = true;
    dbSwitch.afterCommit([] {
        try {
            applyPending(std::exchange(g_applyAsked, false));
        } catch (const DbError&) {
        }
    });
}

}  // namespace

QString nowText() { return platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

namespace {

qint64 logEntry(LogKind kind, qint64 userid, Currency amount, Currency balance, int ext, const QString& date) {
    // Numbers never go back, not even below a mark a station file reached
    // with entries a call file put back from its copy no longer holds, nor
    // below the number the station's record knows given (StationRecord.h).
    thread_local QString mine, theirs, sql;
    thread_local bool withNotes = false;
    thread_local TableKnown notes(kNotes);
    const bool noted = notes.in(dbPhoneCur);
    if (sql.isEmpty() || mine != dbSwitch.schema() || theirs != dbPhoneCur.schema() || withNotes != noted) {
        mine = dbSwitch.schema();
        theirs = dbPhoneCur.schema();
        withNotes = noted;
        const QString given = noted ? QStringLiteral("coalesce((SELECT CAST(value AS INTEGER) FROM %1 WHERE varname=?), 0)")
                                          .arg(dbPhoneCur.qualified(kNotes))
                                    : QStringLiteral("coalesce(?, 0)");
        sql = QStringLiteral(
                  "INSERT INTO %1 (f_seq, f_gen, f_kind, f_userid, f_amount, f_balance, f_calladdr, f_date) VALUES ("
                  "max(coalesce((SELECT max(f_seq) FROM %1), 0), "
                  "coalesce((SELECT CAST(value AS INTEGER) FROM %2 WHERE varname=?), 0), %3) + 1, "
                  "coalesce((SELECT CAST(value AS INTEGER) FROM %2 WHERE varname=?), 0), ?, ?, ?, ?, ?, ?)")
                  .arg(logTable(), variantOf(dbSwitch), given);
    }
    dbPhoneCur.execute(sql, {kChargeMark, noted ? QVariant(kEntriesGivenNote) : QVariant(qint64(0)), kCopyGeneration, int(kind), userid,
                             amount, balance, ext, date});
    return dbPhoneCur.lastInsertRowId();
}

}  // namespace

// The line naming a damaged entry: its number, its user (by name when the
// station file knows them) and the amount as it reads.
QString garbledLine(const QVariantList& values) {
    const QVariant user = values.value(3);
    QString who = QStringLiteral("用户%1").arg(user.toString());
    if (user.typeId() == QMetaType::LongLong) {
        const QVariant name = dbSwitch.scalar(QStringLiteral("SELECT username FROM user WHERE userid=?"), {user});
        if (!name.isNull()) who += QLatin1Char(' ') + name.toString();
    }
    const QVariant amount = values.value(4);
    const qint64 raw = amount.toLongLong();
    // An amount out of reach is shown as it is stored: no yuan it could be.
    const QString shown = amount.typeId() == QMetaType::LongLong && raw >= -kEntryReach && raw <= kEntryReach
                              ? Currency::fromRaw(raw).toString2()
                              : amount.toString();
    return QStringLiteral("第%1笔：%2，金额%3").arg(values.value(0).toString(), who, shown);
}

namespace {

// Applies to the station file, in the caller's transaction, every entry
// logged past its mark, keeps a copy of each (and of the calls they charged)
// and moves the mark. Returns how many it applied.
// `known`: the mark and the last entry as the caller has just read and
// written them in this transaction (a record's entry), else read here.
struct KnownEnds {
    qint64 mark = -1, last = 0;
};
int applyHere(std::optional<KnownEnds> known = std::nullopt) {
    if (foreignStationFile()) return 0;
    const qint64 mark = known ? known->mark : AppliedMark(dbSwitch);
    const qint64 last = known ? known->last : lastLogged();
    if (mark < 0 || last <= mark) return 0;
    // Each user's movements past the mark, summed: one update per user (a
    // record's apply has one entry).
    QMap<qint64, Currency> remain, deposit;
    QStringList garbled;
    int n = 0;
    // Read in pieces of a bounded size, each by a statement prepared once:
    // a record's apply reads one entry, an opening after a long stop many.
    constexpr int kPiece = 256;   // the LIMIT below
    thread_local SchemaSql pendingEntries("SELECT f_seq, f_gen, f_kind, f_userid, f_amount, f_balance, f_calladdr, f_date "
                                          "FROM %1 WHERE f_seq>? AND f_seq<=? ORDER BY f_seq LIMIT 256");
    QList<LogEntry> taken;   // deposit changes the switch took, booked in order
    const auto take = [&](const QVariantList& values) {
        ++n;
        const std::optional<LogEntry> e = EntryOf(values);
        if (!e) {
            // Bytes of a damaged page: applied to no one, and named.
            garbled << garbledLine(values);
            return;
        }
        try {
            if (e->kind == int(LogKind::Charge)) remain[e->userid] -= e->amount;
            else if (e->kind == int(LogKind::Balance)) remain[e->userid] += e->amount;
            else if (e->kind == int(LogKind::Deposit)) deposit[e->userid] += e->amount;
            else if (e->kind == int(LogKind::DepositTaken)) taken << *e;
        } catch (const platform::MoneyOverflow&) {
            // A sum no balance can hold: the entry is as absurd as a garbled one.
            garbled << garbledLine(values);
        }
    };
    for (qint64 from = mark;;) {
        int read = 0;
        for (platform::RowReader r = dbPhoneCur.rows(pendingEntries.text(dbPhoneCur, kChargeLog), {from, last}); r.next();) {
            ++read;
            // f_seq is the row's number (INTEGER PRIMARY KEY): always a whole number.
            from = r.integer(0);
            take(valuesOf(r));
        }
        if (read < kPiece) break;
    }
    if (!garbled.isEmpty()) {
        const QString text = QStringLiteral("话单文件中以下计费记录已损坏，金额不可信，未计入用户余额，请核对这些用户的余额：\n") +
                             garbled.join(QLatin1Char('\n'));
        // Kept with the mark moved past them, told once the apply has
        // committed: no box waits inside a transaction, and a kill before it
        // is closed leaves it for the next opening.
        const QString key = QStringLiteral("garbled:%1-%2").arg(mark).arg(last);
        KeepReport(dbSwitch, key, {text, QStringLiteral("警告"), platform::mbOKOnly});
        dbSwitch.afterCommit([key] { TellReport(dbSwitch, key); });
    }
    for (auto it = remain.constBegin(); it != remain.constEnd(); ++it)
        dbSwitch.execute(QStringLiteral("UPDATE user SET remain=remain+? WHERE userid=?"), {it.value(), it.key()});
    for (auto it = deposit.constBegin(); it != deposit.constEnd(); ++it)
        dbSwitch.execute(QStringLiteral("UPDATE user SET deposit=deposit+? WHERE userid=?"), {it.value(), it.key()});
    for (const LogEntry& e : std::as_const(taken))
        ModGeneral::BookDepositTaken(dbSwitch, int(e.calladdr), e.amount, e.date, QString(), true);
    mirrorApplied(mark, last);
    setMark(dbSwitch, last);
    return n;
}

// An entry the station file makes itself, in the caller's transaction once
// the entries waiting are applied: kept in the station file's copy of the
// log, the mark moved over it. That commit is the act's: the call file's log
// takes the entry after it (giveLogStationEntries), or at the next opening.
// `place`: an owner entry's place (see OwnerPlace).
void stationEntry(LogKind kind, qint64 userid, Currency amount, Currency balance, qint64 place = 0,
                  const QString& when = QString()) {
    ensureMirror(dbSwitch, false);
    const qint64 seq = lastNumbered() + 1;
    const qint64 gen = CopyGenerationOf(dbSwitch);
    const QString date = when.isEmpty() ? nowText() : when;
    const Params values{seq, gen, int(kind), userid, amount, balance, place, date};
    const QString insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    dbSwitch.execute(insert.arg(dbSwitch.qualified(kLedgerMirror), kEntryColumns), values);
    if (kind == LogKind::UserAdded) {
        // The user's row goes with the entry: a station file behind the journal gets them back whole.
        const QString row = userRowText(dbSwitch, userid);
        if (!row.isEmpty()) {
            ensureUserRows(dbSwitch);
            dbSwitch.execute(QStringLiteral("INSERT OR REPLACE INTO %1 (f_seq, f_userid, f_row) VALUES (?, ?, ?)")
                                 .arg(dbSwitch.qualified(kUserRows)),
                             {seq, userid, row});
        }
    }
    setMark(dbSwitch, seq);
    // The number stays given in every file, whatever copy is put back later.
    if (kind == LogKind::UserAdded) NoteUserNumberGiven(userid);
}

// The call file's log takes the entries (first, last] the station file made
// and committed, with the rows of users added, in a commit of its own. One
// that cannot take them now gets them at the next opening (mergeMirror): the
// station file's copy holds them, and numbers are taken past its mark.
void giveLogStationEntries(qint64 first, qint64 last) {
    if (foreignStationFile() || !logOpen()) return;
    try {
        platform::Transaction tx(dbSwitch);
        dbPhoneCur.execute(QStringLiteral("INSERT OR IGNORE INTO %1 (%2) SELECT %2 FROM %3 WHERE f_seq>? AND f_seq<=?")
                               .arg(logTable(), kEntryColumns, dbSwitch.qualified(kLedgerMirror)),
                           {first, last});
        if (!dbSwitch.actualTableName(kUserRows).isEmpty()) {
            ensureUserRows(dbPhoneCur);
            dbPhoneCur.execute(QStringLiteral("INSERT OR IGNORE INTO %1 (f_seq, f_userid, f_row) SELECT f_seq, f_userid, f_row "
                                              "FROM %2 WHERE f_seq>? AND f_seq<=?")
                                   .arg(dbPhoneCur.qualified(kUserRows), dbSwitch.qualified(kUserRows)),
                               {first, last});
        }
        // A user added: the record's first free number rises in this commit,
        // with the entry that gives the number (StationRecord.h).
        const QVariant added = dbSwitch.scalar(QStringLiteral("SELECT max(f_userid) FROM %1 WHERE f_seq>? AND f_seq<=? AND f_kind=? "
                                                              "AND typeof(f_userid)='integer'")
                                                   .arg(dbSwitch.qualified(kLedgerMirror)),
                                               {first, last, int(LogKind::UserAdded)});
        if (!added.isNull()) RaiseRecordUsers(added.toLongLong() + 1);
        tx.commit();
    } catch (const DbError&) {
    }
}

struct Held {
    Currency remain, deposit;
};

QMap<qint64, Held> balancesNow(qint64 userid) {
    QMap<qint64, Held> out;
    const QString sql = userid >= 0 ? QStringLiteral("SELECT userid, remain, deposit FROM user WHERE userid=?")
                                    : QStringLiteral("SELECT userid, remain, deposit FROM user");
    for (platform::RowReader r = userid >= 0 ? dbSwitch.rows(sql, {userid}) : dbSwitch.rows(sql); r.next();)
        out.insert(r.integer(0), Held{Currency::fromRaw(r.integer(1)), Currency::fromRaw(r.integer(2))});
    return out;
}
}  // namespace

namespace {
// The call file's commit is the record's point of no return: it holds the
// call and its entry and nothing of the station file, which takes the entry
// (balance, copy, mark) in a commit of its own right after, or later (see
// applyPending). Until then BalanceOf counts the entry.
void followInStationFile() { applyAfterCommit(); }
}  // namespace

qint64 LogCharge(qint64 userid, Currency amount, Currency balance, int ext, const QString& date) {
    const qint64 seq = logEntry(LogKind::Charge, userid, amount, balance, ext, date);
    followInStationFile();
    return seq;
}

void LogCall(qint64 userid, int ext, const QString& date) {
    if (!logOpen()) return;
    logEntry(LogKind::Call, userid, Currency(), Currency(), ext, date);
    followInStationFile();
}

RecordCommit::RecordCommit() : outermost_(dbSwitch.isOpen() && dbSwitch.autocommit()) {
    if (outermost_) dbSwitch.setDurableCommits(false);
}

RecordCommit::~RecordCommit() {
    try {
        if (outermost_ && dbSwitch.isOpen()) dbSwitch.setDurableCommits(true);
    } catch (const DbError&) {
    }
}

void MoveBalances(const std::function<void()>& write, qint64 userid, bool outright) {
    // The station file's commit is the act's point of no return: the write,
    // its entries in the station file's copy of the log and the mark commit
    // together, and only then does the call file's log take the entries.
    platform::Transaction tx(dbSwitch);
    if (logOpen() && AppliedMark(dbSwitch) >= 0) applyHere();
    const qint64 first = lastNumbered();
    const QMap<qint64, Held> before = balancesNow(userid);
    write();
    const QMap<qint64, Held> after = balancesNow(userid);
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        if (!after.contains(it.key())) {
            stationEntry(LogKind::UserDeleted, it.key(), Currency(), it->remain);
            continue;
        }
        const Held& now = after[it.key()];
        if (now.remain != it->remain)
            stationEntry(outright ? LogKind::BalanceSet : LogKind::Balance, it.key(), now.remain - it->remain, now.remain);
        if (now.deposit != it->deposit)
            stationEntry(outright ? LogKind::DepositSet : LogKind::Deposit, it.key(), now.deposit - it->deposit, now.deposit);
    }
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.contains(it.key())) continue;
        stationEntry(LogKind::UserAdded, it.key(), Currency(), it->remain);
        if (it->deposit != Currency()) stationEntry(LogKind::Deposit, it.key(), it->deposit, it->deposit);
    }
    const qint64 last = lastNumbered();
    if (last > first) dbSwitch.afterCommit([first, last] { giveLogStationEntries(first, last); });
    tx.commit();
}

void EnterDepositTaken(int address, Currency change, const QString& when) {
    if (foreignStationFile()) return;
    platform::Transaction tx(dbSwitch);
    if (logOpen() && AppliedMark(dbSwitch) >= 0) applyHere();
    const qint64 first = lastNumbered();
    stationEntry(LogKind::DepositTaken, 0, change, Currency(), address, when);
    const qint64 last = lastNumbered();
    dbSwitch.afterCommit([first, last] { giveLogStationEntries(first, last); });
    tx.commit();
}

namespace {
// Who owns each extension and account of the open station file, by place.
QMap<qint64, qint64> ownersNow() { return OwnersOf(dbSwitch); }
}  // namespace

QMap<qint64, qint64> OwnersOf(const Database& db, bool* whole) {
    QMap<qint64, qint64> out;
    if (whole) *whole = true;
    try {
        for (const bool account : {false, true}) {
            const QString t = db.actualTableName(account ? QStringLiteral("Account") : QStringLiteral("Extension"));
            if (t.isEmpty()) continue;
            for (platform::RowReader r = db.rows(QStringLiteral("SELECT address, userid FROM %1").arg(db.qualified(t))); r.next();)
                out.insert(OwnerPlace(account, r.integer(0)), r.integer(1));
        }
    } catch (const DbError&) {
        // What a damaged file read; the open file's own fault is its caller's.
        if (!whole) throw;
        *whole = false;
    }
    return out;
}

void NameOwnerDifferences(const QMap<qint64, qint64>& before, const Database& after, LogRecovery& r) {
    const QMap<qint64, qint64> now = OwnersOf(after);
    const QString users = after.actualTableName(QStringLiteral("user"));
    const QString accounts = after.actualTableName(QStringLiteral("Account"));
    const auto who = [&](qint64 user) {
        QString w = QStringLiteral("用户%1").arg(user);
        const QVariant name = users.isEmpty() ? QVariant()
                                              : after.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?")
                                                                 .arg(after.qualified(users)),
                                                             {user});
        if (!name.isNull()) w += QLatin1Char(' ') + name.toString();
        return w;
    };
    QStringList named;
    for (const QStringList* l : {&r.owners, &r.ownersUnset})
        for (const QString& line : *l) named << line.section(QStringLiteral("："), 0, 0);
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        const auto is = now.constFind(it.key());
        if (is == now.constEnd() || *is == *it) continue;
        const bool account = it.key() < 0;
        const qint64 address = account ? -1 - it.key() : it.key();
        QString place = account ? QStringLiteral("帐号（位置%1）").arg(address) : QStringLiteral("分机%1").arg(address);
        if (account && !accounts.isEmpty()) {
            const QVariant text = after.scalar(
                QStringLiteral("SELECT account FROM %1 WHERE address=?").arg(after.qualified(accounts)), {address});
            if (!text.isNull()) place = QStringLiteral("帐号%1").arg(text.toString());
        }
        if (named.contains(place)) continue;
        r.ownersDiffer << QStringLiteral("%1：恢复前属%2，恢复后属%3").arg(place, who(*it), who(*is));
    }
}

void MoveOwners(const std::function<void()>& write) {
    // As MoveBalances: the station file's commit is the act's, the call
    // file's log takes the entries after it.
    platform::Transaction tx(dbSwitch);
    // The mark moves over the entries made here: those waiting go first.
    if (logOpen() && AppliedMark(dbSwitch) >= 0) applyHere();
    const qint64 first = lastNumbered();
    const QMap<qint64, qint64> before = ownersNow();
    write();
    const QMap<qint64, qint64> after = ownersNow();
    for (auto it = after.constBegin(); it != after.constEnd(); ++it)
        if (before.value(it.key(), -1) != it.value()) stationEntry(LogKind::Owner, it.value(), Currency(), Currency(), it.key());
    const qint64 last = lastNumbered();
    if (last > first) dbSwitch.afterCommit([first, last] { giveLogStationEntries(first, last); });
    tx.commit();
}

namespace {
// The commits other connections made to the call file, as SQLite counts them.
qint64 callFileVersion() {
    thread_local QString schema, sql;
    if (sql.isEmpty() || schema != dbPhoneCur.schema()) {
        schema = dbPhoneCur.schema();
        sql = QStringLiteral("PRAGMA %1.data_version").arg(platform::quoteIdent(schema));
    }
    return dbPhoneCur.scalar(sql).toLongLong();
}

// The sums of the entries numbered past `mark` up to `last`, the last logged.
const Waiting& waitingPast(qint64 mark, qint64 last) {
    Waiting& w = g_waiting;
    dbPhoneCur.watchRewrites({kChargeLog});
    const Waiting now{dbPhoneCur.connectionSerial(), dbPhoneCur.schemaGeneration(), dbPhoneCur.rewrites(),
                      callFileVersion(), mark, mark, dbPhoneCur.path(), {}, {}};
    if (now.serial != w.serial || now.generation != w.generation || now.rewrites != w.rewrites ||
        now.version != w.version || now.mark != w.mark || now.path != w.path || last < w.read)
        w = now;
    if (last == w.read) return w;
    // An entry the apply would refuse as garbled (see EntryOf) takes nothing here either.
    thread_local SchemaSql since(
        "SELECT f_userid, CASE f_kind WHEN 0 THEN f_amount WHEN 3 THEN -f_amount ELSE 0 END "
        "FROM %1 WHERE f_seq>? AND f_seq<=? AND f_kind IN (0, 3) AND typeof(f_userid)='integer' "
        "AND typeof(f_amount)='integer' AND typeof(f_balance)='integer' "
        "AND f_amount BETWEEN ? AND ? AND f_balance BETWEEN ? AND ?");
    // Read whole before any is kept: a read that fails leaves none of it.
    QList<QPair<qint64, Currency>> logged;
    for (platform::RowReader r = dbPhoneCur.rows(since.text(dbPhoneCur, kChargeLog),
                                                 {w.read, last, -kEntryReach, kEntryReach, -kEntryReach, kEntryReach});
         r.next();)
        logged.append({r.integer(0), r.cur(1)});
    for (const auto& [user, amount] : std::as_const(logged)) {
        if (w.outOfReach.contains(user)) continue;
        try {
            w.by[user] += amount;
        } catch (const platform::MoneyOverflow&) {
            w.outOfReach.insert(user);
            w.by.remove(user);
        }
    }
    w.read = last;
    return w;
}
}  // namespace

Currency UnappliedCharges(qint64 userid) {
    const qint64 mark = AppliedMark(dbSwitch);
    const qint64 last = lastLogged();
    if (last <= mark) return Currency();
    const Waiting& w = waitingPast(mark, last);
    if (w.outOfReach.contains(userid)) throw platform::MoneyOverflow();
    return w.by.value(userid);
}

Currency BalanceOf(qint64 userid, Currency remain) {
    if (!logOpen() || foreignStationFile()) return remain;
    try {
        return remain - UnappliedCharges(userid);
    } catch (const platform::MoneyOverflow&) {
        // Waiting entries no balance can hold: the apply names them and takes none.
        return remain;
    }
}

QHash<qint64, Currency> UnappliedChargesByUser() {
    if (!logOpen() || foreignStationFile()) return {};
    const qint64 mark = AppliedMark(dbSwitch);
    const qint64 last = lastLogged();
    if (last <= mark) return {};
    return waitingPast(mark, last).by;
}

Currency BalanceOf(qint64 userid) {
    return BalanceOf(userid, Currency::fromRaw(
                                 dbSwitch.scalar(QStringLiteral("SELECT remain FROM user WHERE userid=?"), {userid}).toLongLong()));
}

namespace {
// Applies the entries past the mark in one transaction of the station file
// that moves the mark. `known`: the caller has just kept an entry, so the
// check before the transaction is left out (it is made again inside it).
int applyPending(bool known) {
    if (!dbSwitch.isOpen() || !dbPhoneCur.isOpen()) return 0;
    const auto pending = [] {
        const qint64 mark = AppliedMark(dbSwitch);
        return mark >= 0 && lastLogged() > mark;
    };
    if (dbSwitch.inTransaction() || !dbSwitch.autocommit()) {
        // Inside a transaction the entries are not kept yet: after it.
        if (pending()) applyAfterCommit();
        return 0;
    }
    // Nothing to apply waits for no lock another program holds on the file.
    if (known ? foreignStationFile() : !pending()) return 0;
    // The mark moves with the balances, so this commit need not reach the
    // disk before the next one does: a power cut undoes both, and the next
    // opening applies the entries again. (SQLite takes that setting only
    // outside a transaction.)
    dbSwitch.setDurableCommits(false);
    struct Durable {
        ~Durable() {
            if (dbSwitch.isOpen()) dbSwitch.setDurableCommits(true);
        }
    } durable;
    platform::Transaction tx(dbSwitch);
    // Read inside the transaction: what it applies is what it saw.
    const int n = applyHere();
    if (n > 0) tx.commit();
    return n;
}
}  // namespace

int ApplyLoggedCharges() { return applyPending(false); }

}  // namespace ModSwitch
