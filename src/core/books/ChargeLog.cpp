#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"

#include "billing/ArchiveBills.h"
#include "core/books/CopyRecovery.h"
#include "core/books/DbHeader.h"
#include "core/books/JournalFile.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/books/StationRecord.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include "core/Notices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <atomic>
#include <limits>

namespace ModSwitch {

using platform::Currency;
using platform::Database;
using platform::DbError;
using platform::Params;
using namespace chargelog;

const QString kChargeLog = QStringLiteral("tab_chargelog");
const QString kChargeMark = QStringLiteral("TarvoChargeApplied");
const QString kCopyGeneration = QStringLiteral("TarvoCopyGeneration");
const QString kLedgerMirror = QStringLiteral("tab_chargemirror");
const QString kCallMirror = QStringLiteral("tab_callmirror");
const QString kStationId = QStringLiteral("TarvoStationId");
const QString kJournalFile = QStringLiteral("ChargeLog.mdb");
const QString kMovedNote = QStringLiteral("TarvoChargeMoved");
const QString kUserRows = QStringLiteral("tab_userrows");

namespace {

// The station file that does not belong with the open call file, by its
// connection: nothing of the log is applied to it nor given to it.
std::atomic<quint64> g_foreign{0};
}  // namespace

bool foreignStationFile() { return g_foreign != 0 && g_foreign == dbSwitch.connectionSerial(); }

namespace chargelog {

// SQL finds a table whatever the case of its name.
QString variantOf(const Database& db) { return db.qualified(QStringLiteral("Variant")); }

void setMark(const Database& sw, qint64 mark) {
    thread_local SchemaSql update("UPDATE %1 SET value=? WHERE varname=?");
    if (sw.execute(update.text(sw, QStringLiteral("Variant")), {QString::number(mark), kChargeMark}) == 1) return;
    const QString t = variantOf(sw);
    sw.execute(QStringLiteral("DELETE FROM %1 WHERE varname=?").arg(t), {kChargeMark});
    sw.execute(QStringLiteral("INSERT INTO %1 (varname, value) VALUES (?, ?)").arg(t), {kChargeMark, QString::number(mark)});
}

}  // namespace chargelog

QString logTable() { return dbPhoneCur.qualified(kChargeLog); }

// The last entry logged in the open call file (0 when none).
qint64 lastLogged() {
    thread_local SchemaSql last("SELECT max(f_seq) FROM %1");
    return dbPhoneCur.scalar(last.text(dbPhoneCur, kChargeLog)).toLongLong();
}

// A call file open with its log: the entries go to it.
bool logOpen() {
    thread_local TableKnown log(kChargeLog);
    return dbPhoneCur.isOpen() && log.in(dbPhoneCur);
}

const QString kEntryColumns =
    QStringLiteral("f_seq, f_gen, f_kind, f_userid, f_amount, f_balance, f_calladdr, f_date");

// A row's values as stored: a whole number stays one, a real a real, a text a text.
QVariantList valuesOf(const platform::RowReader& r) {
    QVariantList row;
    for (int i = 0; i < r.fieldCount(); ++i) {
        switch (r.kind(i)) {
        case platform::RawRecords::Integer: row << QVariant::fromValue<qlonglong>(r.integer(i)); break;
        case platform::RawRecords::Float: row << r.real(i); break;
        case platform::RawRecords::Null: row << QVariant(); break;
        default: row << r.text(i);
        }
    }
    return row;
}

namespace chargelog {

// The station file's copy of the entries it applied, and of their calls,
// made when missing; the columns of the calls both files have.
struct MirrorState {
    quint64 serial = 0;
    bool callsTried = false;
    QString callColumns;   // quoted, comma separated; empty: calls are not kept
};

QString ensureMirror(const Database& sw, bool withCalls) {
    thread_local MirrorState state;
    if (state.serial == sw.connectionSerial() && (!withCalls || state.callsTried)) return state.callColumns;
    if (sw.actualTableName(kLedgerMirror).isEmpty())
        sw.execute(QStringLiteral(
                       "CREATE TABLE %1 (f_seq INTEGER PRIMARY KEY, f_gen INTEGER NOT NULL DEFAULT 0, "
                       "f_kind INTEGER NOT NULL DEFAULT 0, f_userid LONG NOT NULL DEFAULT 0, "
                       "f_amount CURRENCY NOT NULL DEFAULT 0, f_balance CURRENCY NOT NULL DEFAULT 0, "
                       "f_calladdr INTEGER NOT NULL DEFAULT 0, f_date DATETIME)")
                       .arg(sw.qualified(kLedgerMirror)));
    state = MirrorState{sw.connectionSerial(), withCalls, QString()};
    if (!withCalls || !dbPhoneCur.isOpen()) return QString();
    const QString phone = dbPhoneCur.actualTableName(QStringLiteral("Tab_Phone"));
    if (phone.isEmpty()) return QString();
    const QList<platform::ColumnInfo> theirs = dbPhoneCur.columns(phone);
    if (sw.actualTableName(kCallMirror).isEmpty()) {
        QStringList defs{QStringLiteral("f_seq INTEGER PRIMARY KEY")};
        for (const platform::ColumnInfo& c : theirs)
            if (c.name.compare(QStringLiteral("f_seq"), Qt::CaseInsensitive) != 0)
                defs << platform::quoteIdent(c.name) + QLatin1Char(' ') + c.declType;
        sw.execute(QStringLiteral("CREATE TABLE %1 (%2)").arg(sw.qualified(kCallMirror), defs.join(QStringLiteral(", "))));
    }
    QStringList mine, common;
    for (const platform::ColumnInfo& c : sw.columns(sw.actualTableName(kCallMirror))) mine << c.name.toLower();
    for (const platform::ColumnInfo& c : theirs)
        if (mine.contains(c.name.toLower()) && c.name.compare(QStringLiteral("f_seq"), Qt::CaseInsensitive) != 0)
            common << platform::quoteIdent(c.name);
    state.callColumns = common.join(QLatin1Char(','));
    return state.callColumns;
}

// The table of the rows of users added, made when missing.
void ensureUserRows(const Database& db) {
    if (db.actualTableName(kUserRows).isEmpty())
        db.execute(QStringLiteral("CREATE TABLE %1 (f_seq INTEGER PRIMARY KEY, f_userid LONG NOT NULL DEFAULT 0, f_row TEXT)")
                       .arg(db.qualified(kUserRows)));
}

// The row of `userid` in the station file `sw`, every field by its name; "" when there is none.
QString userRowText(const Database& sw, qint64 userid) {
    const QString table = sw.actualTableName(QStringLiteral("user"));
    if (table.isEmpty()) return {};
    platform::RowReader r = sw.rows(QStringLiteral("SELECT * FROM %1 WHERE userid=?").arg(sw.qualified(table)), {userid});
    if (!r.next()) return {};
    QJsonObject o;
    for (int i = 0; i < r.fieldCount(); ++i) {
        switch (r.kind(i)) {
        case platform::RawRecords::Integer: o.insert(r.fieldName(i).toLower(), QJsonValue(r.integer(i))); break;
        case platform::RawRecords::Float: o.insert(r.fieldName(i).toLower(), r.real(i)); break;
        case platform::RawRecords::Null: o.insert(r.fieldName(i).toLower(), QJsonValue::Null); break;
        default: o.insert(r.fieldName(i).toLower(), r.text(i));
        }
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// Puts the row of a user added back into station file `sw`, which lacks them:
// the fields the file has, with the balance the entry started them with and
// no deposit (the deposit's own entry follows). False when the row does not read.
bool putUserRow(const Database& sw, const QString& text, qint64 userid, Currency remain) {
    const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString table = sw.actualTableName(QStringLiteral("user"));
    if (o.isEmpty() || table.isEmpty()) return false;
    QStringList cols, marks;
    Params values;
    for (const platform::ColumnInfo& c : sw.columns(table)) {
        const QString name = c.name.toLower();
        QVariant v;
        if (name == QLatin1String("userid")) v = QVariant::fromValue<qlonglong>(userid);
        else if (name == QLatin1String("remain")) v = remain.toVariant();
        else if (name == QLatin1String("deposit")) v = QVariant::fromValue<qlonglong>(0);
        else if (o.contains(name)) v = o.value(name).toVariant();
        else continue;
        if (v.isNull() && c.notNull) continue;
        cols << platform::quoteIdent(c.name);
        marks << QStringLiteral("?");
        values << platform::Param(v);
    }
    sw.execute(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                   .arg(sw.qualified(table), cols.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
               values);
    return true;
}

// Copies into the station file the entries (first, last] of the call file's
// log it applies, and the calls they charged, in the caller's transaction.
void mirrorApplied(qint64 first, qint64 last) {
    const QString calls = ensureMirror(dbSwitch, true);
    // The texts of both copies, made again only for other schemas or columns.
    thread_local QString mine, theirs, columns, entriesSql, callsSql;
    if (entriesSql.isEmpty() || mine != dbSwitch.schema() || theirs != dbPhoneCur.schema() || columns != calls) {
        mine = dbSwitch.schema();
        theirs = dbPhoneCur.schema();
        columns = calls;
        entriesSql = QStringLiteral("INSERT OR REPLACE INTO %1 (%3) SELECT %3 FROM %2 WHERE f_seq>? AND f_seq<=?")
                         .arg(dbSwitch.qualified(kLedgerMirror), logTable(), kEntryColumns);
        callsSql.clear();
        if (!calls.isEmpty()) {
            QStringList picked;
            for (const QString& c : calls.split(QLatin1Char(','))) picked << QStringLiteral("p.") + c;
            callsSql = QStringLiteral("INSERT OR REPLACE INTO %1 (f_seq, %2) SELECT l.f_seq, %3 FROM %4 l JOIN %5 p "
                                      "ON p.f_calladdr=l.f_calladdr AND p.f_date=l.f_date "
                                      "WHERE l.f_seq>? AND l.f_seq<=? AND l.f_kind IN (0, 5)")
                           .arg(dbSwitch.qualified(kCallMirror), calls, picked.join(QLatin1Char(',')), logTable(),
                                dbPhoneCur.qualified(QStringLiteral("Tab_Phone")));
        }
    }
    dbSwitch.execute(entriesSql, {first, last});
    if (!callsSql.isEmpty()) dbSwitch.execute(callsSql, {first, last});
}

// The highest number any of the two files gave an entry.
qint64 lastNumbered() {
    qint64 n = qMax<qint64>(AppliedMark(dbSwitch), 0);
    if (logOpen()) n = qMax(n, lastLogged());
    if (!dbSwitch.actualTableName(kLedgerMirror).isEmpty())
        n = qMax(n, dbSwitch.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(dbSwitch.qualified(kLedgerMirror)))
                        .toLongLong());
    // Nor below what the station's record knows was given (a number the
    // journal file holds that the log lost with its file).
    if (dbPhoneCur.isOpen()) n = qMax(n, ReadStationRecord().lastEntry());
    return n;
}

}  // namespace chargelog

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

const QString kLogDefinition = QStringLiteral(
    "(f_seq INTEGER PRIMARY KEY, f_gen INTEGER NOT NULL DEFAULT 0, f_kind INTEGER NOT NULL DEFAULT 0, "
    "f_userid LONG NOT NULL DEFAULT 0, f_amount CURRENCY NOT NULL DEFAULT 0, "
    "f_balance CURRENCY NOT NULL DEFAULT 0, f_calladdr INTEGER NOT NULL DEFAULT 0, f_date DATETIME)");

// The call file's note of the last entry numbered when a log written before
// its entries were numbered got its numbers: the entries that version wrote.
const QString kNumberedNote = QStringLiteral("TarvoChargeNumbered");

void CreateChargeLog(const Database& cur) {
    const QString actual = cur.actualTableName(kChargeLog);
    const QString& columns = kLogDefinition;
    // Notes on how far a file of records is stored commit with the records.
    if (cur.actualTableName(QStringLiteral("tab_notes")).isEmpty())
        cur.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)")
                        .arg(cur.qualified(QStringLiteral("tab_notes"))));
    ensureUserRows(cur);
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
    SetVariant(cur, kNumberedNote,
               QString::number(cur.scalar(QStringLiteral("SELECT coalesce(max(f_seq), 0) FROM %1").arg(cur.qualified(kChargeLog)))
                                   .toLongLong()),
               QStringLiteral("tab_notes"));
    tx.commit();
}

const QString kNotes = QStringLiteral("tab_notes");

// The highest number the open call file moved to the journal file (0: none).
qint64 movedThrough() {
    if (dbPhoneCur.actualTableName(kNotes).isEmpty()) return 0;
    return GetVariant(dbPhoneCur, kMovedNote, QString(), kNotes).toLongLong();
}

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

namespace {
// Gives the call file back the entries the station file applied that its log
// lacks (a call file put back from its copy), with the calls they charged
// when it lacks them: a record the switch sends again is then known and
// charged once, and a restore finds every entry.
void mergeMirror() {
    if (dbSwitch.actualTableName(kLedgerMirror).isEmpty()) return;
    const QString calls = ensureMirror(dbSwitch, true);
    // An entry moved to the journal file is not lacking (a station file put
    // back from a backup may still keep it).
    const qint64 moved = movedThrough();
    platform::Transaction tx(dbSwitch);
    const QString lacking =
        QStringLiteral("m.f_seq>? AND NOT EXISTS (SELECT 1 FROM %1 l WHERE l.f_seq=m.f_seq)").arg(logTable());
    int callsBack = 0;
    if (!calls.isEmpty()) {
        const QString phone = dbPhoneCur.qualified(QStringLiteral("Tab_Phone"));
        callsBack = dbPhoneCur.execute(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 m WHERE %4 AND NOT EXISTS "
                                          "(SELECT 1 FROM %1 p WHERE p.f_calladdr=m.f_calladdr AND p.f_date=m.f_date)")
                               .arg(phone, calls, dbSwitch.qualified(kCallMirror), lacking), {moved});
    }
    dbPhoneCur.execute(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 m WHERE %4")
                           .arg(logTable(), kEntryColumns, dbSwitch.qualified(kLedgerMirror), lacking), {moved});
    if (!dbSwitch.actualTableName(kUserRows).isEmpty()) {
        ensureUserRows(dbPhoneCur);
        dbPhoneCur.execute(QStringLiteral("INSERT OR IGNORE INTO %1 (f_seq, f_userid, f_row) SELECT f_seq, f_userid, f_row FROM %2")
                               .arg(dbPhoneCur.qualified(kUserRows), dbSwitch.qualified(kUserRows)));
    }
    // The users the entries given back added: their numbers in the record, in this commit.
    const QVariant added = dbSwitch.scalar(
        QStringLiteral("SELECT max(f_userid) FROM %1 WHERE f_kind=? AND typeof(f_userid)='integer'").arg(dbSwitch.qualified(kLedgerMirror)),
        {int(LogKind::UserAdded)});
    if (!added.isNull()) RaiseRecordUsers(added.toLongLong() + 1);
    tx.commit();
    // A call given back that the yearly archive holds already is not billed twice.
    if (callsBack > 0) billing::DropArchivedRows(dbPhoneCur);
}
}  // namespace

// The last entry the call file's safety copy holds: the station file need
// not keep what it holds.
qint64 lastInCallCopy() {
    const QString bak = platform::resolvePathCI(dbPhoneCur.path() + QStringLiteral(".bak"));
    if (!QFileInfo(bak).isFile()) return 0;
    try {
        const Database copy = Database::openReadOnly(bak);
        if (copy.actualTableName(kChargeLog).isEmpty()) return 0;
        return copy.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(copy.qualified(kChargeLog))).toLongLong();
    } catch (const DbError&) {
        return 0;
    }
}

namespace {
// A station file behind the journal (put back by hand from a copy, its
// write-ahead log lost, or behind entries moved to the journal file): brought
// up to it by the one replay, every kind of entry in number order, users
// added back with their rows and users deleted deleted again. Charges and
// moves alone waiting past the mark (a kill between the two commits) are the
// apply's. What was brought back, and what could not be, is told.
void catchUpWithJournal() {
    const qint64 mark = AppliedMark(dbSwitch);
    if (mark < 0) return;
    const bool behindMoved = mark < movedThrough();
    const bool usersWait =
        !dbPhoneCur.scalar(QStringLiteral("SELECT 1 FROM %1 WHERE f_seq>? AND f_kind IN (1, 2, 6, 7, 8) LIMIT 1").arg(logTable()), {mark})
             .isNull();
    if (!behindMoved && !usersWait) return;
    bool sound = true, complete = true;
    const RefusedEntries refused;
    QList<LogEntry> log = EntriesOf(dbPhoneCur, kChargeLog, mark, &sound);
    if (behindMoved) log = MergedLog(log, MovedEntries(dbPhoneCur.path(), mark, &complete));
    WithUserRows(log, UserRowsOf(dbPhoneCur));
    WithUserRows(log, UserRowsOf(dbSwitch));
    const qint64 last = lastLogged();
    LogRecovery r;
    // The box is kept in the replay's own commit: a kill after it leaves the
    // report, and nothing to replay again.
    const QString key = QStringLiteral("catch-up:%1-%2").arg(mark).arg(last);
    bool told = false;
    try {
        platform::Transaction tx(dbSwitch);
        const QMap<qint64, QVariantList> unread = refused.lacking(log, mark);
        r = RecoverFromLog(dbSwitch, log, {}, mark, unread.isEmpty() ? -1 : unread.lastKey());
        if (last > mark) mirrorApplied(mark, last);
        r.logPartial = !sound;
        NameRefused(r, refused, log, mark, dbSwitch);
        r.movedPartial = !complete && r.gap;
        bool found = false;
        QMap<qint64, qint64> aheadOwners;
        if (r.gap) {
            // What the file replaced held, as far as its safety copy kept it
            // ahead, against what the replay gave: compared whole, as a restore does.
            const QMap<qint64, MoneyRow> ahead = CopyAheadRows(dbSwitch.path(), log, &found, &aheadOwners);
            if (found) NameDifferences(ahead, MoneyRowsOf(dbSwitch), r);
        }
        // The account each call since was dialled with: the call file's calls,
        // those the station file kept, and those archived.
        CallAccounts dialled;
        AddCallAccounts(dbSwitch, kCallMirror, dialled);
        AddCallAccounts(dbPhoneCur, QStringLiteral("Tab_Phone"), dialled);
        AddArchivedCallAccounts(QFileInfo(dbPhoneCur.path()).absolutePath(), log, mark, dialled);
        r.owners = OwnersAgainstLog(dbSwitch, log, mark, dialled);
        // And its owners: a place given since whose entry is lost.
        if (found) NameOwnerDifferences(aheadOwners, dbSwitch, r);
        // What the box asks for is asked once, in the commit that keeps the
        // box: a later restore or put-back that meets the same difference
        // finds it asked.
        EnterAsked(dbSwitch, r, qMax(last, ReadStationRecord().lastEntry()));
        told = !(r.added.isEmpty() && r.deleted.isEmpty() && r.lost.isEmpty() && r.apart.isEmpty() && r.owners.isEmpty() &&
                 r.ownersUnset.isEmpty() && !r.gap && !r.logPartial && !r.movedPartial && r.refused.isEmpty());
        if (told)
            KeepReport(dbSwitch, key,
                       {QStringLiteral("数据库文件%1落后于话单文件的记账记录，已按记账记录补上：\n").arg(QFileInfo(dbSwitch.path()).fileName()) +
                           RecoveryLines(r).join(QLatin1Char('\n')),
                       QStringLiteral("警告"), platform::mbOKOnly});
        tx.commit();
    } catch (const platform::MoneyOverflow& e) {
        // Sums no balance can hold (entries of a damaged page within reach):
        // the file stays as it was, and the opening goes on.
        r = LogRecovery();
        r.failed = platform::OperatorText(e);
        KeepAndTell(dbSwitch, key, {RecoveryLines(r).join(QLatin1Char('\n')), QStringLiteral("警告"), platform::mbOKOnly});
        return;
    }
    // The amounts asked go into the call file's log now, not at the next
    // opening: a station file put back before it would lose them.
    if (!r.asked.isEmpty()) mergeMirror();
    if (told) TellReport(dbSwitch, key);
}
}  // namespace

namespace {
// A user of a station file without a mark whose balance no entry gives: a
// payment of the release that logged none moved it after their last call.
struct Unplaced {
    qint64 userid = 0;
    QString name;
    Currency remain, logged;   // the file's balance; the journal's after the last entry held
    qint64 at = 0;             // that entry
    int calls = 0;             // the calls that may or may not be in the balance
    Currency fees;
};

// The file was written at one moment for every user: the users its rows
// place bound it (past the last entry one of them holds, before the first
// one one of them lacks; never past `bound`). An unplaced user's entries
// before that moment are held, those after it are not (added to `held`).
// One of theirs within the bounds may be in the balance or not: it is not
// charged again (it is held), and the user is given with what the balance
// and the journal hold. A user held through every entry reaches no line.
QList<Unplaced> placeByOthers(const QList<LogEntry>& log, qint64 fileMark, qint64 bound, QMap<qint64, qint64>& held) {
    QMap<qint64, Currency> remain;
    QHash<qint64, QString> names;
    const QString users = dbSwitch.qualified(dbSwitch.actualTableName(QStringLiteral("user")));
    for (platform::RowReader r = dbSwitch.rows(QStringLiteral("SELECT userid, remain, username FROM %1").arg(users)); r.next();) {
        remain.insert(r.integer(0), Currency::fromRaw(r.integer(1)));
        names.insert(r.integer(0), r.text(2));
    }
    QMap<qint64, QList<LogEntry>> byUser;
    for (const LogEntry& e : log)
        if (e.seq > fileMark && remain.contains(e.userid) && (e.kind == int(LogKind::Charge) || e.kind == int(LogKind::Balance)))
            byUser[e.userid] << e;
    qint64 from = fileMark, to = bound + 1;
    QList<qint64> unplaced;
    for (auto it = byUser.constBegin(); it != byUser.constEnd(); ++it) {
        const LogEntry& first = it->first();
        const bool charge = first.kind == int(LogKind::Charge);
        if (held.contains(it.key())) {
            from = qMax(from, held[it.key()]);
            for (const LogEntry& e : *it)
                if (e.seq > held[it.key()]) {
                    to = qMin(to, e.seq);
                    break;
                }
        } else if (remain[it.key()] == (charge ? first.balance + first.amount : first.balance - first.amount)) {
            to = qMin(to, first.seq);
        } else {
            unplaced << it.key();
        }
    }
    // Rows that place the file at two moments prove neither.
    if (from >= to) from = fileMark, to = bound + 1;
    QList<Unplaced> out;
    for (qint64 user : std::as_const(unplaced)) {
        Unplaced u;
        u.userid = user;
        u.name = names.value(user);
        u.remain = remain[user];
        u.at = fileMark;
        for (const LogEntry& e : std::as_const(byUser[user])) {
            if (e.seq >= to) break;
            u.at = e.seq;
            u.logged = e.balance;
            if (e.seq > from && e.kind == int(LogKind::Charge)) {
                ++u.calls;
                u.fees += e.amount;
            }
        }
        if (u.at > fileMark) held.insert(user, u.at);
        if (u.calls == 0) continue;
        // Asked once: a placing of the same file again finds it asked.
        bool asked = false;
        for (const LogEntry& e : log)
            asked = asked || (e.kind == int(LogKind::Asked) && e.userid == user && e.calladdr == u.at &&
                              e.amount == u.remain - u.logged);
        if (!asked) out << u;
    }
    return out;
}

// A station file without a mark: placed by its own rows, as a restore places
// a backup without a mark (the entries older than its copy number, never past
// `bound`, the note of where the numbering began; then for each user the
// entry after which the journal gives the balance it holds), and brought up
// to the journal from there by the one replay; what could not be is told.
void placeUnmarkedStationFile(qint64 bound) {
    bool sound = true, complete = true;
    QList<LogEntry> log = EntriesOf(dbPhoneCur, kChargeLog, 0, &sound);
    if (movedThrough() > 0) log = MergedLog(log, MovedEntries(dbPhoneCur.path(), 0, &complete));
    WithUserRows(log, UserRowsOf(dbPhoneCur));
    WithUserRows(log, UserRowsOf(dbSwitch));
    QList<LogEntry> within;
    for (const LogEntry& e : log)
        if (e.seq <= bound) within << e;
    const qint64 fileMark = qMin(MarkOfCopy(dbSwitch, within), bound);
    QMap<qint64, qint64> held = HeldByUnmarkedCopy(dbSwitch, log, fileMark);
    const qint64 last = lastLogged();
    LogRecovery r;
    // Each unplaced user once, with the difference as an amount asked (LogKind::Asked).
    LogRecovery unsure;
    // Called inside the placing's try: a balance no sum can hold (a damaged
    // file) is told as the replay's own are, never thrown out of the opening.
    const auto nameUnplaced = [&] {
        for (const Unplaced& u : placeByOthers(log, fileMark, bound, held)) {
            const Currency difference = u.remain - u.logged;
            unsure.missing << QStringLiteral("用户%1 %2：余额%3元，记账记录为%4元，相差%5%6元；其间%7笔话费共%8元")
                                  .arg(u.userid)
                                  .arg(u.name, u.remain.toString2(), u.logged.toString2(),
                                       difference > Currency() ? QStringLiteral("+") : QString(), difference.toString2())
                                  .arg(u.calls)
                                  .arg(u.fees.toString2());
            LogEntry e;
            e.kind = int(LogKind::Asked);
            e.userid = u.userid;
            e.amount = difference;
            e.calladdr = u.at;
            unsure.asked << e;
        }
    };
    const auto toTell = [&] {
        return !(r.added.isEmpty() && r.deleted.isEmpty() && r.lost.isEmpty() && r.apart.isEmpty() && r.ownersUnset.isEmpty() &&
                 !r.gap && !r.logPartial && !r.movedPartial && r.failed.isEmpty() && unsure.missing.isEmpty());
    };
    const auto report = [&] {
        QStringList lines = RecoveryLines(r);
        if (!unsure.missing.isEmpty())
            lines << QStringLiteral("以下用户的余额与记账记录不符（旧版本的缴费没有记账记录），无法确定其间的话费是否已计入，"
                                    "未重新计入，请核对：\n") +
                         unsure.missing.join(QLatin1Char('\n'));
        return LossReport(QStringLiteral("数据库文件%1落后于话单文件的记账记录，已按记账记录补上：\n").arg(QFileInfo(dbSwitch.path()).fileName()) +
                              lines.join(QLatin1Char('\n')),
                          QStringLiteral("警告"), platform::mbOKOnly);
    };
    // The box is kept in the placing's own commit: once the file has its
    // mark, nothing would tell it again.
    const QString key = QStringLiteral("placed:%1-%2").arg(fileMark).arg(last);
    try {
        nameUnplaced();
        platform::Transaction tx(dbSwitch);
        r = RecoverFromLog(dbSwitch, log, {}, fileMark, -1, held);
        if (last > fileMark) mirrorApplied(fileMark, last);
        r.logPartial = !sound;
        r.movedPartial = !complete;
        // Asked once, as the catch-up asks.
        EnterAsked(dbSwitch, r, qMax(last, ReadStationRecord().lastEntry()));
        EnterAsked(dbSwitch, unsure, qMax(last, ReadStationRecord().lastEntry()));
        if (toTell()) KeepReport(dbSwitch, key, report());
        tx.commit();
    } catch (const platform::MoneyOverflow& e) {
        // Nothing placed: the file stays without its mark, and is placed again at the next opening.
        r = LogRecovery();
        unsure = LogRecovery();
        r.failed = platform::OperatorText(e);
        r.logPartial = !sound;
        r.movedPartial = !complete;
        KeepAndTell(dbSwitch, key, report());
        return;
    }
    if (!r.asked.isEmpty() || !unsure.asked.isEmpty()) mergeMirror();
    if (toTell()) TellReport(dbSwitch, key);
}
}  // namespace

namespace chargelog {
thread_local Waiting g_waiting;
}  // namespace chargelog

void PrepareChargeLog() {
    // The recoveries below may put entries past the mark in place.
    g_waiting = {};
    CreateChargeLog(dbPhoneCur);
    g_foreign = 0;
    // The two files of one station know each other: the station file's name
    // against the record's (the first opening gives both the same name).
    if (!StationFileAgrees()) {
        g_foreign = dbSwitch.connectionSerial();
        core::Notify(QStringLiteral("数据库文件%1和话单文件%2不属于同一个话务台，话费未计入%1中的用户余额。")
                             .arg(QFileInfo(dbSwitch.path()).fileName(), QFileInfo(dbPhoneCur.path()).fileName()),
                         platform::mbOKOnly, QStringLiteral("警告"));
        return;
    }
    mergeMirror();
    bool journalWritable = true;
    try {
        journalWritable = checkJournalFile();
    } catch (const DbError& e) {
        // One that could not be made again (or its copy written): checked
        // again at the next opening, and the cause told.
        journalWritable = false;
        tellJournalCheckStopped(e);
    }
    // The station file's and the journal file's copies of the counters
    // against the record: one ahead raises it, and the copies follow.
    AgreeWithStationRecord();
    // A log an older release numbered without noting where: noted once, from
    // what the files hold now. This version marks every station file it
    // writes, so a file without a mark holds no entry numbered past it.
    if (GetVariant(dbPhoneCur, kNumberedNote, QString(), kNotes).isEmpty())
        SetVariant(dbPhoneCur, kNumberedNote, QString::number(qMax(lastLogged(), movedThrough())), kNotes);
    // A station file that has no mark yet was written by a release before
    // the log was numbered, or is the copy the first start took: it holds no
    // entry past the note, and within it is placed by its own rows.
    if (AppliedMark(dbSwitch) < 0) placeUnmarkedStationFile(GetVariant(dbPhoneCur, kNumberedNote, QString(), kNotes).toLongLong());
    catchUpWithJournal();
    ForgetCopyAhead(dbSwitch.path());
    ApplyLoggedCharges();
    // The station file's copy of the log keeps what the call file's safety
    // copy lacks, however old: a call file put back from that copy gets it
    // from there. It is pruned by this rule alone.
    const qint64 inCallCopy = qMin(lastInCallCopy(), lastLogged());
    if (inCallCopy > 0 && !dbSwitch.actualTableName(kLedgerMirror).isEmpty()) {
        for (const QString& t : {kLedgerMirror, kCallMirror})
            if (!dbSwitch.actualTableName(t).isEmpty())
                dbSwitch.execute(QStringLiteral("DELETE FROM %1 WHERE f_seq<=?").arg(dbSwitch.qualified(t)), {inCallCopy});
    }
    // A clock far past the newest entry is doubted before anything is let go on its word.
    try {
        noteClockDoubt();
    } catch (const DbError&) {
        // Doubted at the next opening.
    }
    // What every copy holds and is a few days old moves to the journal file
    // (not into one just found unwritable: its cause is told already).
    if (journalWritable) MoveSettledEntries();
}

const QString kFormerStationId = QStringLiteral("TarvoStationIdFormer");

QString StationIdOf(const QString& path) {
    try {
        if (!QFileInfo(path).isFile()) return QString();
        const Database db = Database::openReadOnly(path);
        for (const QString& table : {QStringLiteral("Variant"), kNotes}) {
            const QString actual = db.actualTableName(table);
            if (actual.isEmpty()) continue;
            const QString id = GetVariant(db, kStationId, QString(), actual);
            if (!id.isEmpty()) return id;
        }
    } catch (const DbError&) {
        // Unread: it tells nothing.
    }
    return QString();
}

void GiveOwnJournal(const Database& sw, const Database& cur) {
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // The notes of the root's journal: where its numbering began, where its
    // journal file begins and was last found sound, what it moved, the marks
    // of its backups. Older versions kept some of them in the station file.
    const QStringList journalNotes{kStationId,      kFormerStationId, kNumberedNote, kJournalFrom,
                                   kJournalChecked, kMovedNote,       kClockDoubted, kEntriesGivenNote};
    const auto forget = [&](const Database& db, const QString& table) {
        for (const QString& key : journalNotes) RemoveVariant(db, key, table);
        db.execute(QStringLiteral("DELETE FROM %1 WHERE varname LIKE ?").arg(db.qualified(table)), {kBackupMarkPrefix + QLatin1Char('%')});
    };
    if (cur.actualTableName(kNotes).isEmpty())
        cur.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)").arg(cur.qualified(kNotes)));
    forget(cur, cur.actualTableName(kNotes));
    SetVariant(cur, kStationId, id, kNotes);
    // Numbered by this version from its first entry: no entry of an older one.
    SetVariant(cur, kNumberedNote, QStringLiteral("0"), kNotes);
    for (const QString& t : {kChargeLog, kUserRows})
        if (!cur.actualTableName(t).isEmpty()) cur.execute(QStringLiteral("DELETE FROM %1").arg(cur.qualified(t)));
    forget(sw, sw.actualTableName(QStringLiteral("Variant")));
    SetVariant(sw, kStationId, id);
    setMark(sw, 0);
    for (const QString& t : {kLedgerMirror, kCallMirror, kUserRows})
        if (!sw.actualTableName(t).isEmpty()) sw.execute(QStringLiteral("DELETE FROM %1").arg(sw.qualified(t)));
}

bool TellSiteApart(const QString& rootId, const QString& site) {
    if (rootId.isEmpty() || site.isEmpty() || !dbSwitch.isOpen() || !dbPhoneCur.isOpen()) return false;
    const bool notes = !dbPhoneCur.actualTableName(kNotes).isEmpty();
    const QString calls = notes ? ReadStationRecord().id : QString();
    // Told apart already (or the call file is another station's: that is
    // the opening's to tell, not to rename).
    if (!calls.isEmpty() && calls != rootId) return false;
    const QString station = GetVariant(dbSwitch, kStationId);
    const QString journal = platform::resolveCI(QFileInfo(dbPhoneCur.path()).absolutePath(), kJournalFile);
    const QString journalId = StationIdOf(journal);
    if (calls != rootId && station != rootId && journalId != rootId) return false;
    // The same name for every file of the site, whichever of them a kill
    // left with the root's: derived from the root's and the site's.
    const QUuid space = QUuid::fromString(rootId).isNull() ? QUuid::createUuidV5(QUuid(), rootId) : QUuid::fromString(rootId);
    const QString own = QUuid::createUuidV5(space, QStringLiteral("site:") + site).toString(QUuid::WithoutBraces);
    if (station == rootId) SetVariant(dbSwitch, kStationId, own);
    if (journalId == rootId) {
        WriteJournalFile(journal, [&] {
            const Database j = Database::open(journal);
            SetVariant(j, kStationId, own, j.actualTableName(kNotes));
        });
    }
    if (!notes)
        dbPhoneCur.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)").arg(dbPhoneCur.qualified(kNotes)));
    platform::Transaction tx(dbPhoneCur);
    SetVariant(dbPhoneCur, kFormerStationId, rootId, kNotes);
    if (calls == rootId) SetVariant(dbPhoneCur, kStationId, own, kNotes);
    tx.commit();
    return true;
}

void NumberSafetyCopy() {
    const QVariant logged = dbPhoneCur.scalar(QStringLiteral("SELECT max(f_gen) FROM %1").arg(logTable()));
    SetVariant(kCopyGeneration, QString::number(qMax(CopyGenerationOf(dbSwitch), logged.toLongLong()) + 1));
}

}  // namespace ModSwitch
