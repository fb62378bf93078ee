#include "core/ChargeLog.h"

#include "core/ModDefine.h"
#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <QFileInfo>

namespace ModSwitch {

using platform::Currency;
using platform::Database;
using platform::DbError;

const QString kChargeLog = QStringLiteral("tab_chargelog");
const QString kChargeMark = QStringLiteral("TarvoChargeApplied");
const QString kCopyGeneration = QStringLiteral("TarvoCopyGeneration");

namespace {

// Entries older than the safety copy's mark and older than this are let go:
// a backup older than that is put back without them, and its box says so.
constexpr int kKeepDays = 400;

// SQL finds a table whatever the case of its name.
QString variantOf(const Database& db) { return db.qualified(QStringLiteral("Variant")); }

// The text of a statement every record runs, for the schema it names: made
// again only when that schema is another one (each thread keeps its own).
class SchemaSql {
public:
    explicit SchemaSql(const char* pattern) : pattern_(QString::fromLatin1(pattern)) {}
    const QString& text(const Database& db, const QString& table) {
        if (schema_ != db.schema() || sql_.isEmpty()) {
            schema_ = db.schema();
            sql_ = pattern_.arg(db.qualified(table));
        }
        return sql_;
    }
private:
    QString pattern_, schema_, sql_;
};

void setMark(const Database& sw, qint64 mark) {
    thread_local SchemaSql update("UPDATE %1 SET value=? WHERE varname=?");
    if (sw.execute(update.text(sw, QStringLiteral("Variant")), {QString::number(mark), kChargeMark}) == 1) return;
    const QString t = variantOf(sw);
    sw.execute(QStringLiteral("DELETE FROM %1 WHERE varname=?").arg(t), {kChargeMark});
    sw.execute(QStringLiteral("INSERT INTO %1 (varname, value) VALUES (?, ?)").arg(t), {kChargeMark, QString::number(mark)});
}

QString logTable() { return dbPhoneCur.qualified(kChargeLog); }

// The last entry logged in the open call file (0 when none).
qint64 lastLogged() {
    thread_local SchemaSql last("SELECT max(f_seq) FROM %1");
    return dbPhoneCur.scalar(last.text(dbPhoneCur, kChargeLog)).toLongLong();
}

}  // namespace

qint64 AppliedMark(const Database& sw) {
    thread_local SchemaSql mark("SELECT value FROM %1 WHERE varname=?");
    const QVariant v = sw.scalar(mark.text(sw, QStringLiteral("Variant")), {kChargeMark});
    if (v.isNull()) return -1;
    bool ok = false;
    const qint64 n = v.toString().trimmed().toLongLong(&ok);
    return ok && n >= 0 ? n : -1;
}

qint64 CopyGenerationOf(const Database& db) {
    return db.scalar(QStringLiteral("SELECT value FROM %1 WHERE varname=?").arg(variantOf(db)), {kCopyGeneration})
        .toLongLong();
}

void CreateChargeLog(const Database& cur) {
    const QString actual = cur.actualTableName(kChargeLog);
    const QString columns = QStringLiteral(
        "(f_seq INTEGER PRIMARY KEY, f_gen INTEGER NOT NULL DEFAULT 0, f_kind INTEGER NOT NULL DEFAULT 0, "
        "f_userid LONG NOT NULL DEFAULT 0, f_amount CURRENCY NOT NULL DEFAULT 0, "
        "f_balance CURRENCY NOT NULL DEFAULT 0, f_calladdr INTEGER NOT NULL DEFAULT 0, f_date DATETIME)");
    // Notes on how far a file of records is stored commit with the records.
    if (cur.actualTableName(QStringLiteral("tab_notes")).isEmpty())
        cur.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)")
                        .arg(cur.qualified(QStringLiteral("tab_notes"))));
    if (actual.isEmpty()) {
        cur.execute(QStringLiteral("CREATE TABLE %1 %2").arg(cur.qualified(kChargeLog), columns));
        return;
    }
    bool numbered = false;
    for (const platform::ColumnInfo& c : cur.columns(actual))
        numbered = numbered || c.name.compare(QStringLiteral("f_seq"), Qt::CaseInsensitive) == 0;
    if (numbered) return;
    // A log written before its entries were numbered: numbered in the order
    // they were made (the row numbers a compaction may change are fixed now).
    const QString old = QStringLiteral("tab_chargelog_unnumbered");
    platform::Transaction tx(cur);
    cur.execute(QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(cur.qualified(actual), platform::quoteIdent(old)));
    cur.execute(QStringLiteral("CREATE TABLE %1 %2").arg(cur.qualified(kChargeLog), columns));
    cur.execute(QStringLiteral("INSERT INTO %1 (f_seq, f_gen, f_userid, f_amount, f_balance, f_calladdr, f_date) "
                               "SELECT rowid, f_gen, f_userid, f_amount, f_balance, f_calladdr, f_date FROM %2 ORDER BY rowid")
                    .arg(cur.qualified(kChargeLog), cur.qualified(old)));
    cur.execute(QStringLiteral("DROP TABLE %1").arg(cur.qualified(old)));
    tx.commit();
}

namespace {
const QString kNotes = QStringLiteral("tab_notes");
}  // namespace

QString CallFileNote(const QString& key) {
    if (!dbPhoneCur.actualTableName(kNotes).isEmpty()) {
        const QString v = GetVariant(dbPhoneCur, key, QString(), kNotes);
        if (!v.isEmpty()) return v;
    }
    // Kept in the station file before it moved beside the calls.
    return GetVariant(dbSwitch, key);
}

void SetCallFileNote(const QString& key, const QString& value) { SetVariant(dbPhoneCur, key, value, kNotes); }

void RemoveCallFileNote(const QString& key) {
    // A note left behind names a file that is gone: no other file is read by it.
    if (!dbPhoneCur.actualTableName(kNotes).isEmpty()) {
        try {
            RemoveVariant(dbPhoneCur, key, kNotes);
        } catch (const DbError&) {
        }
    }
    try {
        RemoveVariant(dbSwitch, key);
    } catch (const DbError&) {
    }
}

void PrepareChargeLog() {
    CreateChargeLog(dbPhoneCur);
    // A station file that has no mark yet kept every logged charge in the
    // same commit as the call: all of them are applied.
    if (AppliedMark(dbSwitch) < 0) {
        platform::Transaction tx(dbSwitch);
        setMark(dbSwitch, lastLogged());
        tx.commit();
    }
    ApplyLoggedCharges();
    // What the safety copy holds already is let go once it is old; the rest
    // stays for the copy and for backups to be brought up to date.
    const QString bak = platform::resolvePathCI(dbSwitch.path() + QStringLiteral(".bak"));
    if (!QFileInfo(bak).isFile()) return;
    try {
        qint64 copyMark = -1;
        {
            const Database copy = Database::openReadOnly(bak);
            copyMark = AppliedMark(copy);
        }
        copyMark = qMin(copyMark, AppliedMark(dbSwitch));
        if (copyMark > 0) {
            const QString before =
                platform::Now().addDays(-kKeepDays).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            dbPhoneCur.execute(QStringLiteral("DELETE FROM %1 WHERE f_seq<=? AND f_date<?").arg(logTable()),
                               {copyMark, before});
        }
    } catch (const DbError&) {
        // A copy that cannot be read keeps every entry.
    }
}

void NumberSafetyCopy() {
    const QVariant logged = dbPhoneCur.scalar(QStringLiteral("SELECT max(f_gen) FROM %1").arg(logTable()));
    SetVariant(kCopyGeneration, QString::number(qMax(CopyGenerationOf(dbSwitch), logged.toLongLong()) + 1));
}

namespace {
// The balance follows at once, once the entry is kept. A station file that
// cannot take it now (locked, full) takes it at the next entry or opening:
// the entry is kept, and the balances read meanwhile count it.
int applyPending(bool known);

void applyAfterCommit() {
    dbSwitch.afterCommit([] {
        try {
            applyPending(true);
        } catch (const DbError&) {
        }
    });
}

qint64 logEntry(LogKind kind, qint64 userid, Currency amount, Currency balance, int ext, const QString& date) {
    // Numbers never go back, not even below a mark a station file reached
    // with entries a call file put back from its copy no longer holds.
    const QString sql = QStringLiteral(
        "INSERT INTO %1 (f_seq, f_gen, f_kind, f_userid, f_amount, f_balance, f_calladdr, f_date) VALUES ("
        "max(coalesce((SELECT max(f_seq) FROM %1), 0), "
        "coalesce((SELECT CAST(value AS INTEGER) FROM %2 WHERE varname=?), 0)) + 1, "
        "coalesce((SELECT CAST(value AS INTEGER) FROM %2 WHERE varname=?), 0), ?, ?, ?, ?, ?, ?)")
                            .arg(logTable(), variantOf(dbSwitch));
    dbPhoneCur.execute(sql, {kChargeMark, kCopyGeneration, int(kind), userid, amount, balance, ext, date});
    return dbPhoneCur.lastInsertRowId();
}
}  // namespace

qint64 LogCharge(qint64 userid, Currency amount, Currency balance, int ext, const QString& date) {
    const qint64 seq = logEntry(LogKind::Charge, userid, amount, balance, ext, date);
    applyAfterCommit();
    return seq;
}

void LogUserDeleted(qint64 userid, Currency balance) {
    logEntry(LogKind::UserDeleted, userid, Currency(), balance, 0, platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    applyAfterCommit();
}

void LogUserAdded(qint64 userid, Currency balance) {
    logEntry(LogKind::UserAdded, userid, Currency(), balance, 0, platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    applyAfterCommit();
}

Currency UnappliedCharges(qint64 userid) {
    const qint64 mark = AppliedMark(dbSwitch);
    if (lastLogged() <= mark) return Currency();
    return Currency::fromRaw(
        dbPhoneCur
            .scalar(QStringLiteral("SELECT coalesce(sum(f_amount), 0) FROM %1 WHERE f_seq>? AND f_userid=? AND f_kind=0")
                        .arg(logTable()),
                    {mark, userid})
            .toLongLong());
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
    if (!known && !pending()) return 0;
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
    const qint64 mark = AppliedMark(dbSwitch);
    const qint64 last = lastLogged();
    if (mark < 0 || last <= mark) return 0;
    // Each user's charges past the mark, summed: one update per user (a
    // record's apply has one entry).
    QMap<qint64, Currency> charged;
    int n = 0;
    thread_local SchemaSql pendingEntries("SELECT f_kind, f_userid, f_amount FROM %1 WHERE f_seq>? AND f_seq<=?");
    platform::Recordset e = dbPhoneCur.query(pendingEntries.text(dbPhoneCur, kChargeLog), {mark, last});
    for (e.moveFirst(); !e.eof(); e.moveNext(), ++n) {
        if (e.lng(QStringLiteral("f_kind")) == int(LogKind::Charge))
            charged[e.lng(QStringLiteral("f_userid"))] += e.cur(QStringLiteral("f_amount"));
    }
    for (auto it = charged.constBegin(); it != charged.constEnd(); ++it)
        dbSwitch.execute(QStringLiteral("UPDATE user SET remain=remain-? WHERE userid=?"), {it.value(), it.key()});
    setMark(dbSwitch, last);
    tx.commit();
    return n;
}
}  // namespace

int ApplyLoggedCharges() { return applyPending(false); }

qint64 MarkOfCopy(const Database& sw, const QList<LogEntry>& log) {
    const qint64 own = AppliedMark(sw);
    if (own >= 0) return own;
    const qint64 generation = CopyGenerationOf(sw);
    qint64 mark = 0;
    for (const LogEntry& e : log)
        if (e.gen < generation) mark = qMax(mark, e.seq);
    return mark;
}

LogRecovery RecoverFromLog(const Database& sw, const QList<LogEntry>& log, const QMap<qint64, qint64>& baseFor,
                           qint64 fileMark) {
    LogRecovery out;
    const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
    auto nameOf = [&](qint64 user) {
        return sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(users), {user});
    };
    struct Trail {
        Currency applied, expected, unexplained, last;
        int count = 0;
        bool started = false;
        bool gone = false;
        bool added = false;   // added since the copy, with the balance it started with in `last`
    };
    QMap<qint64, Trail> trails;
    qint64 last = fileMark, first = -1;
    platform::Transaction tx(sw);
    for (const LogEntry& e : log) {
        last = qMax(last, e.seq);
        if (e.seq <= fileMark) continue;
        if (first < 0 || e.seq < first) first = e.seq;
        if (e.seq <= baseFor.value(e.userid, fileMark)) continue;
        Trail& t = trails[e.userid];
        if (e.kind == int(LogKind::UserDeleted)) {
            const QVariant name = nameOf(e.userid);
            if (!name.isNull() && e.userid != 0) {
                // Deleted since the copy: deleted again, as the operator did.
                const QString ext = sw.qualified(sw.actualTableName(QStringLiteral("extension")));
                const QString acc = sw.qualified(sw.actualTableName(QStringLiteral("account")));
                sw.execute(QStringLiteral("UPDATE %1 SET userid=0 WHERE userid=?").arg(ext), {e.userid});
                sw.execute(QStringLiteral("UPDATE %1 SET account='FFFF', userid=0 WHERE userid=?").arg(acc), {e.userid});
                sw.execute(QStringLiteral("DELETE FROM %1 WHERE userid=?").arg(users), {e.userid});
                out.deleted << QStringLiteral("用户%1 %2").arg(e.userid).arg(name.toString());
            }
            t = Trail();
            t.gone = true;
            continue;
        }
        if (e.kind == int(LogKind::UserAdded)) {
            t = Trail();
            t.added = true;
            t.last = e.balance;
            continue;
        }
        if (e.kind != int(LogKind::Charge)) continue;
        if (!t.started) {
            t.started = true;
            t.expected = Currency::fromRaw(
                sw.scalar(QStringLiteral("SELECT remain FROM %1 WHERE userid=?").arg(users), {e.userid}).toLongLong());
        }
        t.unexplained += e.balance + e.amount - t.expected;
        t.expected = e.balance;
        t.last = e.balance;
        t.applied += e.amount;
        ++t.count;
    }
    // Entries past the file's mark that are no longer logged cannot be applied.
    out.gap = first > fileMark + 1 || (first < 0 && !log.isEmpty() && last > fileMark && false);
    for (auto it = trails.constBegin(); it != trails.constEnd(); ++it) {
        if (it->count == 0 && !it->added) continue;
        const QVariant name = nameOf(it.key());
        if (name.isNull()) {
            // Added since the copy and never charged: only its addition tells of it.
            if (it->count == 0)
                out.lost << QStringLiteral("用户%1：余额%2（备份之后新增，备份中没有此用户）").arg(it.key()).arg(it->last.toString2());
            else if (!it->gone)
                out.lost << QStringLiteral("用户%1：余额%2（备份中没有此用户）").arg(it.key()).arg(it->last.toString2());
            continue;
        }
        if (it->count == 0) continue;
        sw.execute(QStringLiteral("UPDATE %1 SET remain=remain-? WHERE userid=?").arg(users), {it->applied, it.key()});
        out.charges += it->count;
        out.charged += it->applied;
        // A user whose row came from the newer file holds what was paid there.
        if (it->unexplained != Currency() && !baseFor.contains(it.key()))
            out.lost << QStringLiteral("用户%1 %2：%3").arg(it.key()).arg(name.toString(), it->unexplained.toString2());
    }
    if (last != AppliedMark(sw)) setMark(sw, last);
    tx.commit();
    return out;
}

QList<LogEntry> OpenLog() {
    QList<LogEntry> out;
    for (platform::RowReader r = dbPhoneCur.rows(
             QStringLiteral("SELECT f_seq, f_gen, f_kind, f_userid, f_amount, f_balance FROM %1 ORDER BY f_seq").arg(logTable()));
         r.next();) {
        LogEntry e;
        e.seq = r.integer(0);
        e.gen = r.integer(1);
        e.kind = int(r.integer(2));
        e.userid = r.integer(3);
        e.amount = Currency::fromRaw(r.integer(4));
        e.balance = Currency::fromRaw(r.integer(5));
        out << e;
    }
    return out;
}

QStringList RecoveryLines(const LogRecovery& r) {
    QStringList lines;
    if (r.charges > 0)
        lines << QStringLiteral("重新计入备份之后的%1笔话费，共%2元。").arg(r.charges).arg(r.charged.toString2());
    if (r.gap) lines << QStringLiteral("备份之后的部分话费记录已不存在，未能全部重新计入，请核对用户余额。");
    if (!r.deleted.isEmpty())
        lines << QStringLiteral("以下用户在备份之后已删除，已再次删除：\n") + r.deleted.join(QLatin1Char('\n'));
    if (!r.lost.isEmpty())
        lines << QStringLiteral("以下金额无法找回，请重新录入：\n") + r.lost.join(QLatin1Char('\n'));
    return lines;
}

}  // namespace ModSwitch
