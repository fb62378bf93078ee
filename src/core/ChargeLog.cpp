#include "core/ChargeLog.h"
#include "core/ChargeLogInternal.h"

#include "billing/ArchiveBills.h"
#include "core/CopyRecovery.h"
#include "core/DbHeader.h"
#include "core/Deposit.h"
#include "core/JournalFile.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/StationRecord.h"
#include "core/UserNumbers.h"
#include "core/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include "core/Notices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <limits>
#include <utility>

namespace ModSwitch {

using platform::Currency;
using platform::Database;
using platform::DbError;
using platform::Params;

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

namespace {

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

}  // namespace

QString logTable() { return dbPhoneCur.qualified(kChargeLog); }

// The last entry logged in the open call file (0 when none).
qint64 lastLogged() {
    thread_local SchemaSql last("SELECT max(f_seq) FROM %1");
    return dbPhoneCur.scalar(last.text(dbPhoneCur, kChargeLog)).toLongLong();
}

namespace {

// Whether a file has a table, asked again only when the answer may have
// changed: another connection or file (a reopen, an attach), a table made,
// dropped or renamed on this connection, or by another one (the file's
// schema version). Each thread keeps its own.
class TableKnown {
public:
    explicit TableKnown(const QString& table) : table_(table) {}
    bool in(const Database& db) {
        if (schema_ != db.schema() || versionSql_.isEmpty()) {
            schema_ = db.schema();
            versionSql_ = QStringLiteral("PRAGMA %1.schema_version").arg(platform::quoteIdent(schema_));
            serial_ = 0;
        }
        const quint64 serial = db.connectionSerial(), generation = db.schemaGeneration();
        const qint64 version = db.scalar(versionSql_).toLongLong();
        if (serial != serial_ || generation != generation_ || version != version_ || path_ != db.path()) {
            present_ = !db.actualTableName(table_).isEmpty();
            // The keys were read before the listing: a change made in between is seen next time.
            serial_ = serial;
            generation_ = generation;
            version_ = version;
            path_ = db.path();
        }
        return present_;
    }
private:
    QString table_, schema_, versionSql_, path_;
    quint64 serial_ = 0, generation_ = 0;
    qint64 version_ = -1;
    bool present_ = false;
};

}  // namespace

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

namespace {

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
        r.owners = OwnersAgainstLog(dbSwitch, log, mark);
        // And its owners: a place given since whose entry is lost.
        if (found) NameOwnerDifferences(aheadOwners, dbSwitch, r);
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
    if (told) TellReport(dbSwitch, key);
}
}  // namespace

namespace {
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
    const QMap<qint64, qint64> held = HeldByUnmarkedCopy(dbSwitch, log, fileMark);
    const qint64 last = lastLogged();
    LogRecovery r;
    const auto toTell = [&] {
        return !(r.added.isEmpty() && r.deleted.isEmpty() && r.lost.isEmpty() && r.apart.isEmpty() && r.ownersUnset.isEmpty() &&
                 !r.gap && !r.logPartial && !r.movedPartial && r.failed.isEmpty());
    };
    const auto report = [&] {
        return LossReport(QStringLiteral("数据库文件%1落后于话单文件的记账记录，已按记账记录补上：\n").arg(QFileInfo(dbSwitch.path()).fileName()) +
                              RecoveryLines(r).join(QLatin1Char('\n')),
                          QStringLiteral("警告"), platform::mbOKOnly);
    };
    // The box is kept in the placing's own commit: once the file has its
    // mark, nothing would tell it again.
    const QString key = QStringLiteral("placed:%1-%2").arg(fileMark).arg(last);
    try {
        platform::Transaction tx(dbSwitch);
        r = RecoverFromLog(dbSwitch, log, {}, fileMark, -1, held);
        if (last > fileMark) mirrorApplied(fileMark, last);
        r.logPartial = !sound;
        r.movedPartial = !complete;
        if (toTell()) KeepReport(dbSwitch, key, report());
        tx.commit();
    } catch (const platform::MoneyOverflow& e) {
        // Nothing placed: the file stays without its mark, and is placed again at the next opening.
        r = LogRecovery();
        r.failed = platform::OperatorText(e);
        r.logPartial = !sound;
        r.movedPartial = !complete;
        KeepAndTell(dbSwitch, key, report());
        return;
    }
    if (toTell()) TellReport(dbSwitch, key);
}
}  // namespace

namespace {
// What the entries past the mark take from each balance, kept between reads.
// Inside one transaction of the station file the mark stands while a batch
// of records logs entries past it: summing them all again for each record's
// balance would make every record slower than the one before. Entries are
// only ever logged past the last one, so only those logged since the last
// read are read; whatever else may change the entries past the mark (another
// mark, file or connection, an attach, an entry changed or deleted, a
// rollback, a commit of another connection, an opening) has them all read
// again. A user whose sum no balance can hold takes nothing (see BalanceOf).
struct Waiting {
    quint64 serial = 0, generation = 0, rewrites = 0;
    qint64 version = -1, mark = -1, read = 0;
    QString path;
    QHash<qint64, Currency> by;
    QSet<qint64> outOfReach;
};
thread_local Waiting g_waiting;

}  // namespace

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

void MoveBalances(const std::function<void()>& write, qint64 userid) {
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
        if (now.remain != it->remain) stationEntry(LogKind::Balance, it.key(), now.remain - it->remain, now.remain);
        if (now.deposit != it->deposit) stationEntry(LogKind::Deposit, it.key(), now.deposit - it->deposit, now.deposit);
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

qint64 MarkOfCopy(const Database& sw, const QList<LogEntry>& log) {
    const qint64 own = AppliedMark(sw);
    if (own >= 0) return own;
    const qint64 generation = CopyGenerationOf(sw);
    qint64 mark = 0;
    for (const LogEntry& e : log)
        if (e.gen < generation) mark = qMax(mark, e.seq);
    return mark;
}

QMap<qint64, qint64> HeldByUnmarkedCopy(const Database& sw, const QList<LogEntry>& log, qint64 fileMark) {
    QMap<qint64, qint64> held;
    if (AppliedMark(sw) >= 0) return held;
    QMap<qint64, Currency> remain;
    const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
    for (platform::RowReader r = sw.rows(QStringLiteral("SELECT userid, remain FROM %1").arg(users)); r.next();)
        remain.insert(r.integer(0), Currency::fromRaw(r.integer(1)));
    QSet<qint64> decided;
    for (const LogEntry& e : log) {
        if (e.seq <= fileMark || decided.contains(e.userid) || !remain.contains(e.userid)) continue;
        const bool charge = e.kind == int(LogKind::Charge);
        if (!charge && e.kind != int(LogKind::Balance)) continue;
        const Currency before = charge ? e.balance + e.amount : e.balance - e.amount;
        // The copy stands where its balance equals the one the entries give.
        if (remain[e.userid] == before) {
            decided.insert(e.userid);
        } else if (remain[e.userid] == e.balance) {
            held.insert(e.userid, e.seq);
            decided.insert(e.userid);
        }
    }
    return held;
}

namespace {
// The owners the entries past a file's mark gave, in the order the replay
// reads them: each place's last owner is given back once the users are (a
// user added since is back by then, one deleted since has given their places
// back to the default user). A place whose owner the file lacks (a user not
// put back, or another person under that number) is named with its owners
// before and after.
class OwnerTrail {
public:
    // True when `e` is about owners: kept for the replay. `apart`: its user's
    // number belongs, in the file, to another person.
    bool take(const LogEntry& e, bool apart) {
        if (e.kind == int(LogKind::UserAdded))
            added_.insert(e.userid, QJsonDocument::fromJson(e.row.toUtf8()).object().value(QStringLiteral("username")).toString());
        if (e.kind == int(LogKind::UserDeleted)) {
            // Their places went back to the default user with them.
            for (auto it = last_.begin(); it != last_.end(); ++it)
                if (it->userid == e.userid) *it = Given{0, false};
            return false;
        }
        if (e.kind != int(LogKind::Owner)) return false;
        last_.insert(e.calladdr, Given{e.userid, apart});
        return true;
    }
    void replay(const Database& sw, LogRecovery& out) const {
        if (last_.isEmpty()) return;
        out.ownersLogged = true;
        const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
        const auto nameOf = [&](qint64 user) {
            return sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(users), {user});
        };
        for (auto it = last_.constBegin(); it != last_.constEnd(); ++it) {
            const bool account = it.key() < 0;
            const qint64 address = account ? -1 - it.key() : it.key();
            const QString t = sw.actualTableName(account ? QStringLiteral("Account") : QStringLiteral("Extension"));
            if (t.isEmpty()) continue;
            const QString table = sw.qualified(t);
            bool present = false;
            qint64 before = -1;
            QString place = account ? QStringLiteral("帐号（位置%1）").arg(address) : QStringLiteral("分机%1").arg(address);
            {
                platform::RowReader r = sw.rows(QStringLiteral("SELECT %2 FROM %1 WHERE address=?")
                                                    .arg(table, account ? QStringLiteral("userid, account") : QStringLiteral("userid")),
                                                {address});
                present = r.next();
                if (present) before = r.integer(0);
                if (present && account) place = QStringLiteral("帐号%1").arg(r.text(1));
            }
            const qint64 owner = it->userid;
            const bool known = owner == 0 || (!it->apart && !nameOf(owner).isNull());
            if (present && known) {
                if (before == owner) continue;
                sw.execute(QStringLiteral("UPDATE %1 SET userid=?, depositgrade=?, bSet=1 WHERE address=?").arg(table),
                           {owner, ModGeneral::GetDepositGrade(sw, owner), address});
                continue;
            }
            const auto who = [&](qint64 user) {
                const QVariant name = nameOf(user);
                QString w = QStringLiteral("用户%1").arg(user);
                if (!name.isNull()) w += QLatin1Char(' ') + name.toString();
                return w;
            };
            QString after = QStringLiteral("用户%1").arg(owner);
            if (!added_.value(owner).isEmpty()) after += QLatin1Char(' ') + added_.value(owner);
            out.ownersUnset << (present ? QStringLiteral("%1：备份中属%2，备份之后改属%3（%4）")
                                              .arg(place, who(before), after,
                                                   it->apart ? QStringLiteral("其编号在备份中属于另一用户")
                                                             : QStringLiteral("恢复后没有此用户"))
                                        : QStringLiteral("%1：备份中没有，备份之后属%2").arg(place, after));
        }
    }

private:
    struct Given {
        qint64 userid = 0;
        bool apart = false;
    };
    QMap<qint64, Given> last_;
    QHash<qint64, QString> added_;
};

// What the replay gathers for one user: the balance and deposit movements to
// add to their row, and what the entries say it held between them.
struct Trail {
    Currency charged, remain, deposit, expected, unexplained, last;
    int charges = 0, moves = 0;
    bool started = false;
    bool gone = false;
    bool added = false;   // added since the copy, with the balance it started with in `last`
    bool putBack = false; // added with their row by this recovery
};

// A user added past the mark under a number the file gives to another user,
// kept apart from that user's row with what the journal says they hold.
struct Apart {
    qint64 userid = 0;
    QString name;
    Currency last, deposit, charged;
    int charges = 0;
    bool gone = false;
};

QVariant nameIn(const Database& sw, const QString& users, qint64 user) {
    return sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(users), {user});
}

// An entry of a number given twice: one adding the user now under it starts
// one kept apart (`apart`, by the entry), and the entries that follow are
// theirs until they are deleted. False when the entry is the file's user's.
bool keptApart(const LogEntry& e, QMap<qint64, Apart>& apart, QMap<qint64, qint64>& newcomer) {
    if (e.kind == int(LogKind::UserAdded)) {
        Apart a;
        a.userid = e.userid;
        a.name = QJsonDocument::fromJson(e.row.toUtf8()).object().value(QStringLiteral("username")).toString();
        a.last = e.balance;
        apart.insert(e.seq, a);
        newcomer.insert(e.userid, e.seq);
        return true;
    }
    if (!newcomer.contains(e.userid)) return false;
    Apart& a = apart[newcomer.value(e.userid)];
    if (e.kind == int(LogKind::UserDeleted)) {
        a.gone = true;
        newcomer.remove(e.userid);
    } else if (e.kind == int(LogKind::Deposit)) {
        a.deposit += e.amount;
    } else if (e.kind == int(LogKind::Charge)) {
        a.charged += e.amount;
        ++a.charges;
        a.last = e.balance;
    } else if (e.kind == int(LogKind::Balance)) {
        a.last = e.balance;
    }
    return true;
}

// A user deleted since the copy is deleted again, as the operator did.
void deleteAgain(const Database& sw, const QString& users, const LogEntry& e, Trail& t, LogRecovery& out) {
    const QVariant name = nameIn(sw, users, e.userid);
    if (!name.isNull() && e.userid != 0) {
        DeleteUserRows(sw, e.userid);
        const QString who = QStringLiteral("用户%1 %2").arg(e.userid).arg(name.toString());
        // One added and deleted since the copy is as the copy had it: nothing to tell.
        if (t.putBack) out.added.removeAll(who);
        else out.deleted << who;
    }
    t = Trail();
    t.gone = true;
}

// A user added since the copy, which lacks them, is put back with their row as it was added.
void addAgain(const Database& sw, const QString& users, const LogEntry& e, Trail& t, LogRecovery& out) {
    t = Trail();
    t.added = true;
    t.last = e.balance;
    t.started = true;
    t.expected = e.balance;
    if (!e.row.isEmpty() && nameIn(sw, users, e.userid).isNull() && putUserRow(sw, e.row, e.userid, e.balance)) {
        t.putBack = true;
        out.added << QStringLiteral("用户%1 %2").arg(e.userid).arg(nameIn(sw, users, e.userid).toString());
    }
}

// A balance or deposit set outright by a put-back: the row ends at the value
// set, from what it holds with the entries before applied.
void followSetOutright(const Database& sw, const QString& users, const LogEntry& e, Trail& t) {
    const bool balance = e.kind == int(LogKind::BalanceSet);
    const Currency held = Currency::fromRaw(
        sw.scalar(QStringLiteral("SELECT %2 FROM %1 WHERE userid=?")
                      .arg(users, balance ? QStringLiteral("remain") : QStringLiteral("deposit")),
                  {e.userid})
            .toLongLong());
    if (balance) {
        t.remain += e.balance - (held + t.remain);
        t.started = true;
        t.expected = e.balance;
        t.last = e.balance;
    } else {
        t.deposit += e.balance - (held + t.deposit);
    }
    ++t.moves;
}

// A charge or a balance movement: added to the trail, with what lies between
// the balance the entry tells before it and the one the entries before give.
void followBalance(const Database& sw, const QString& users, const LogEntry& e, Trail& t) {
    const bool charge = e.kind == int(LogKind::Charge);
    if (!t.started) {
        t.started = true;
        t.expected = Currency::fromRaw(
            sw.scalar(QStringLiteral("SELECT remain FROM %1 WHERE userid=?").arg(users), {e.userid}).toLongLong());
    }
    const Currency delta = charge ? Currency() - e.amount : e.amount;
    // The balance before this entry, as the entry tells it, against the
    // balance the entries before it give: what lies between, no entry explains.
    t.unexplained += e.balance - delta - t.expected;
    t.expected = e.balance;
    t.last = e.balance;
    t.remain += delta;
    if (charge) {
        t.charged += e.amount;
        ++t.charges;
    } else {
        ++t.moves;
    }
}

// One entry of the file's user replayed into their trail (and their row, for
// a user deleted or added since).
void replayEntry(const Database& sw, const QString& users, const LogEntry& e, Trail& t, LogRecovery& out) {
    const int kind = e.kind;
    if (kind == int(LogKind::UserDeleted)) {
        deleteAgain(sw, users, e, t, out);
    } else if (kind == int(LogKind::UserAdded)) {
        addAgain(sw, users, e, t, out);
    } else if (kind == int(LogKind::Deposit)) {
        t.deposit += e.amount;
        ++t.moves;
    } else if (kind == int(LogKind::BalanceSet) || kind == int(LogKind::DepositSet)) {
        followSetOutright(sw, users, e, t);
    } else if (kind == int(LogKind::Charge) || kind == int(LogKind::Balance)) {
        followBalance(sw, users, e, t);
    }
}

// Entries past the file's mark that are no longer logged cannot be applied:
// every number up to the last one known (`top`) was given to an entry. The
// numbers missing are named run by run.
void nameGaps(LogRecovery& out, const QSet<qint64>& numbers, qint64 fileMark, qint64 top) {
    if (top <= fileMark || qint64(numbers.size()) >= top - fileMark) return;
    out.gap = true;
    QList<qint64> present = numbers.values();
    std::sort(present.begin(), present.end());
    qint64 next = fileMark + 1;
    for (qint64 n : std::as_const(present)) {
        if (n > top) break;
        if (n > next) out.gaps << qMakePair(next, n - 1);
        next = n + 1;
    }
    if (next <= top) out.gaps << qMakePair(next, top);
    out.gapFrom = out.gaps.first().first;
    out.gapTo = out.gaps.last().second;
}

// Each user's trail added to their row; a user the file lacks, and a change
// between two entries no entry explains (a payment since the copy), named as lost.
void applyTrails(const Database& sw, const QString& users, const QMap<qint64, Trail>& trails,
                 const QMap<qint64, qint64>& baseFor, LogRecovery& out) {
    for (auto it = trails.constBegin(); it != trails.constEnd(); ++it) {
        if (it->charges == 0 && it->moves == 0 && !it->added) continue;
        const QVariant name = nameIn(sw, users, it.key());
        if (name.isNull()) {
            // Added since the copy: only its entries tell of it.
            if (it->added)
                out.lost << QStringLiteral("用户%1：余额%2（备份之后新增，备份中没有此用户）").arg(it.key()).arg(it->last.toString2());
            else if (!it->gone)
                out.lost << QStringLiteral("用户%1：余额%2（备份中没有此用户）").arg(it.key()).arg(it->last.toString2());
            continue;
        }
        if (it->charges == 0 && it->moves == 0) continue;
        sw.execute(QStringLiteral("UPDATE %1 SET remain=remain+?, deposit=deposit+? WHERE userid=?").arg(users),
                   {it->remain, it->deposit, it.key()});
        out.charges += it->charges;
        out.charged += it->charged;
        out.moves += it->moves;
        // A user whose row came from the newer file holds what was paid there.
        if (it->unexplained != Currency() && !baseFor.contains(it.key()))
            out.lost << QStringLiteral("用户%1 %2：%3").arg(it.key()).arg(name.toString(), it->unexplained.toString2());
    }
}
}  // namespace

LogRecovery RecoverFromLog(const Database& sw, const QList<LogEntry>& log, const QMap<qint64, qint64>& baseFor,
                           qint64 fileMark, qint64 knownLast, const QMap<qint64, qint64>& heldFor) {
    LogRecovery out;
    const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
    QMap<qint64, Trail> trails;
    QSet<qint64> numbers;
    qint64 last = fileMark;
    // A user added past the mark under a number the file gives to a user of
    // its own that no entry deleted is another person (a number given twice):
    // from that entry on, the number's entries are theirs, never that row's.
    // A file without a mark of its own only guesses where it stands, and a row
    // taken from a newer file is the user added: neither is such a case.
    QSet<qint64> twice;
    if (AppliedMark(sw) >= 0) twice = NumbersGivenTwice(sw, log, fileMark);
    for (auto it = baseFor.constBegin(); it != baseFor.constEnd(); ++it) twice.remove(it.key());
    QMap<qint64, Apart> apart;      // by the entry that added them
    QMap<qint64, qint64> newcomer;  // number -> the entry that added the user now under it
    OwnerTrail owned;
    platform::Transaction tx(sw);
    for (const LogEntry& e : log) {
        last = qMax(last, e.seq);
        if (e.seq <= fileMark) continue;
        numbers.insert(e.seq);
        // A change the switch took is booked again, never left to be sent again.
        if (e.kind == int(LogKind::DepositTaken)) {
            ModGeneral::BookDepositTaken(sw, int(e.calladdr), e.amount, e.date, QString(), true);
            continue;
        }
        // Who owns a place is the file's own, whoever's row came from a newer file.
        if (owned.take(e, newcomer.contains(e.userid))) continue;
        if (e.seq <= qMax(baseFor.value(e.userid, fileMark), heldFor.value(e.userid, fileMark))) continue;
        if (twice.contains(e.userid) && keptApart(e, apart, newcomer)) continue;
        replayEntry(sw, users, e, trails[e.userid], out);
    }
    const qint64 top = qMax(last, knownLast);
    nameGaps(out, numbers, fileMark, top);
    last = top;
    applyTrails(sw, users, trails, baseFor, out);
    // Those kept apart, each with what the journal says they hold; one added
    // and deleted since is as the file had it.
    for (const Apart& a : std::as_const(apart)) {
        if (a.gone) continue;
        QString line = QStringLiteral("用户%1 %2：余额%3").arg(a.userid).arg(a.name, a.last.toString2());
        if (a.deposit != Currency()) line += QStringLiteral("，押金%1").arg(a.deposit.toString2());
        if (a.charges > 0) line += QStringLiteral("，备份之后%1笔话费共%2元").arg(a.charges).arg(a.charged.toString2());
        const QVariant held = nameIn(sw, users, a.userid);
        line += QStringLiteral("（备份中此编号为用户%1）").arg(held.toString());
        out.apart << line;
        // The number was given again, so the user the file holds under it had
        // been deleted by then: they are back only with the copy.
        const QString back = QStringLiteral("用户%1 %2").arg(a.userid).arg(held.toString());
        if (!held.isNull() && !out.returned.contains(back)) out.returned << back;
    }
    owned.replay(sw, out);
    if (last != AppliedMark(sw)) setMark(sw, last);
    tx.commit();
    return out;
}

QList<LogEntry> MergedLog(const QList<LogEntry>& log, const QList<LogEntry>& more) {
    QMap<qint64, LogEntry> bySeq;
    for (const LogEntry& e : more) bySeq.insert(e.seq, e);
    for (const LogEntry& e : log) {
        // A user's row one of them holds stays with the entry.
        const QString row = e.row.isEmpty() ? bySeq.value(e.seq).row : e.row;
        bySeq.insert(e.seq, e);
        bySeq[e.seq].row = row;
    }
    return bySeq.values();
}

namespace {
thread_local RefusedEntries* g_refused = nullptr;

// Compared as they are, never through their magnitude: the smallest whole
// number has none a 64-bit number can hold.
bool inReach(const QVariant& v) {
    return v.typeId() == QMetaType::LongLong && v.toLongLong() >= -kEntryReach && v.toLongLong() <= kEntryReach;
}

// A value as it was read, short enough for a line of a box.
QString shownAsRead(const QVariant& v) {
    if (v.isNull()) return QStringLiteral("空");
    QString t = v.toString().simplified();
    if (t.size() > 24) t = t.left(24) + QStringLiteral("…");
    return t;
}

// The line naming an entry the check refused (number, kind and user whole,
// see RefusedEntries::note): its number, its user (by name when `sw` knows
// them), its kind, its call when it reads, and what is wrong.
QString refusedLine(qint64 seq, const QVariantList& v, const Database& sw) {
    QString who = QStringLiteral("用户%1").arg(v.value(3).toLongLong());
    try {
        const QString users = sw.actualTableName(QStringLiteral("user"));
        const QVariant name =
            users.isEmpty() ? QVariant()
                            : sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(sw.qualified(users)), {v.value(3)});
        if (!name.isNull()) who += QLatin1Char(' ') + name.toString();
    } catch (const DbError&) {
    }
    static const char* const kKinds[] = {"话费", "删除用户", "新增用户", "余额变动", "押金变动", "话单",
                                         "所属用户变更", "余额设定", "押金设定"};
    const qint64 kind = v.value(2).toLongLong();
    QStringList known{who, QString::fromUtf8(kKinds[kind])};
    const QDateTime start = platform::parseDate(v.value(7));
    const bool placeRead = v.value(6).typeId() == QMetaType::LongLong;
    const bool dateRead = v.value(7).typeId() == QMetaType::QString && start.isValid();
    if ((kind == int(LogKind::Charge) || kind == int(LogKind::Call)) && placeRead && dateRead)
        known << QStringLiteral("分机%1 %2的话单").arg(v.value(6).toLongLong()).arg(platform::dateText(start));
    const bool amount = !inReach(v.value(4)), balance = !inReach(v.value(5));
    known << (amount || !balance ? QStringLiteral("金额为%1").arg(shownAsRead(v.value(4)))
                                 : QStringLiteral("余额为%1").arg(shownAsRead(v.value(5))));
    // Money within reach: what did not read is the entry's place or date.
    const QString what = amount    ? QStringLiteral("金额无效")
                         : balance ? QStringLiteral("余额无效")
                         : !placeRead ? (kind == int(LogKind::Owner) ? QStringLiteral("的分机或帐号无法读取") : QStringLiteral("的分机无法读取"))
                                      : QStringLiteral("的日期无法读取");
    return QStringLiteral("第%1笔记账记录%2（%3）").arg(seq).arg(what, known.join(QStringLiteral("，")));
}
}  // namespace

// One line for each of `rows` (the first hundred: a box of thousands of lines
// is read by no one), ending with `tail`; then how many more.
QStringList refusedLines(const QMap<qint64, QVariantList>& rows, const Database& sw, const QString& tail) {
    constexpr int kNamed = 100;
    QStringList lines;
    for (auto it = rows.constBegin(); it != rows.constEnd() && lines.size() < kNamed; ++it)
        lines << refusedLine(it.key(), it.value(), sw) + tail;
    if (rows.size() > kNamed) lines << QStringLiteral("另有%1笔记账记录已损坏").arg(rows.size() - kNamed) + tail;
    return lines;
}

RefusedEntries::RefusedEntries() : outer_(g_refused) { g_refused = this; }

RefusedEntries::~RefusedEntries() { g_refused = outer_; }

void RefusedEntries::note(const QVariantList& row) {
    // Only what reads as an entry with its money garbled is one: a row whose
    // number, kind or user is no whole number may be a row of another table
    // read through a damaged page, and names no entry (a log read in part says so).
    for (int i = 0; i < 4; ++i)
        if (row.value(i).typeId() != QMetaType::LongLong) return;
    if (row.size() < 6 || row[2].toLongLong() < 0 || row[2].toLongLong() > int(LogKind::DepositSet)) return;
    rows_.insert(row.value(0).toLongLong(), row);
    if (outer_) outer_->note(row);
}

QMap<qint64, QVariantList> RefusedEntries::lacking(const QList<LogEntry>& log, qint64 after) const {
    QSet<qint64> sound;
    for (const LogEntry& e : log) sound.insert(e.seq);
    QMap<qint64, QVariantList> out;
    for (auto it = rows_.constBegin(); it != rows_.constEnd(); ++it)
        if (it.key() > after && !sound.contains(it.key())) out.insert(it.key(), it.value());
    return out;
}

void NameRefused(LogRecovery& r, const RefusedEntries& refused, const QList<LogEntry>& log, qint64 after, const Database& sw,
                 QList<LogEntry>* calls) {
    const QMap<qint64, QVariantList> lacking = refused.lacking(log, after);
    if (lacking.isEmpty()) return;
    r.refused << refusedLines(lacking, sw, QStringLiteral("，未计入用户余额"));
    for (auto it = lacking.constBegin(); it != lacking.constEnd(); ++it) {
        const QVariantList& v = it.value();
        if (calls && v.value(6).typeId() == QMetaType::LongLong && platform::parseDate(v.value(7)).isValid()) {
            LogEntry e;
            e.seq = it.key();
            e.kind = int(LogKind::Charge);
            e.calladdr = v.value(6).toLongLong();
            e.date = v.value(7).toString();
            *calls << e;
        }
    }
    // Those numbers are no gap: their entries are there, and named as they read.
    QList<QPair<qint64, qint64>> runs;
    for (const auto& run : std::as_const(r.gaps)) {
        qint64 from = run.first;
        for (auto it = lacking.lowerBound(run.first); it != lacking.constEnd() && it.key() <= run.second; ++it) {
            if (it.key() > from) runs << qMakePair(from, it.key() - 1);
            from = it.key() + 1;
        }
        if (from <= run.second) runs << qMakePair(from, run.second);
    }
    r.gaps = runs;
    r.gap = !runs.isEmpty();
    r.gapFrom = r.gap ? runs.first().first : 0;
    r.gapTo = r.gap ? runs.last().second : 0;
}

std::optional<LogEntry> EntryOf(const QVariantList& row, bool whole) {
    if (row.size() < 6) return std::nullopt;
    const auto refuse = [&row]() -> std::optional<LogEntry> {
        if (g_refused) g_refused->note(row);
        return std::nullopt;
    };
    for (int i = 0; i < 6; ++i)
        if (row[i].typeId() != QMetaType::LongLong) return refuse();
    if (!inReach(row[4]) || !inReach(row[5])) return refuse();
    if (whole && (row.value(6).typeId() != QMetaType::LongLong || row.value(7).typeId() != QMetaType::QString ||
                  !platform::parseDate(row.value(7)).isValid()))
        return refuse();
    LogEntry e;
    e.seq = row[0].toLongLong();
    e.gen = row[1].toLongLong();
    e.kind = int(row[2].toLongLong());
    e.userid = row[3].toLongLong();
    e.amount = Currency::fromRaw(row[4].toLongLong());
    e.balance = Currency::fromRaw(row[5].toLongLong());
    e.calladdr = row.value(6).toLongLong();
    e.date = row.value(7).toString();
    return e;
}

QList<LogEntry> EntriesOf(const Database& db, const QString& table, qint64 after, bool* allSound) {
    QList<LogEntry> out;
    if (allSound) *allSound = true;
    for (platform::RowReader r = db.rows(QStringLiteral("SELECT %2 FROM %1 WHERE f_seq>? ORDER BY f_seq")
                                             .arg(db.qualified(table), kEntryColumns),
                                         {after});
         r.next();) {
        if (const std::optional<LogEntry> e = EntryOf(valuesOf(r))) out << *e;
        else if (allSound) *allSound = false;
    }
    return out;
}

QList<LogEntry> MirrorOf(const Database& sw) {
    const QString t = sw.actualTableName(kLedgerMirror);
    return t.isEmpty() ? QList<LogEntry>() : EntriesOf(sw, t);
}

QList<LogEntry> OpenLog(qint64 after, bool* complete) {
    bool sound = true, moved = true;
    QList<LogEntry> log = MergedLog(EntriesOf(dbPhoneCur, kChargeLog, 0, &sound), MovedEntries(dbPhoneCur.path(), after, &moved));
    if (complete) *complete = sound && moved;
    WithUserRows(log, UserRowsOf(dbPhoneCur));
    return log;
}

QMap<qint64, QString> UserRowsOf(const Database& db) {
    QMap<qint64, QString> rows;
    try {
        const QString t = db.actualTableName(kUserRows);
        if (t.isEmpty()) return rows;
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_seq, f_row FROM %1").arg(db.qualified(t))); r.next();)
            if (r.kind(0) == platform::RawRecords::Integer && r.kind(1) == platform::RawRecords::Text)
                rows.insert(r.integer(0), r.text(1));
    } catch (const DbError&) {
        // A damaged file gives what it read.
    }
    return rows;
}

void WithUserRows(QList<LogEntry>& log, const QMap<qint64, QString>& rows) {
    if (rows.isEmpty()) return;
    for (LogEntry& e : log)
        if (e.kind == int(LogKind::UserAdded) && e.row.isEmpty()) e.row = rows.value(e.seq);
}

void KeepInMirror(const Database& sw, const QList<LogEntry>& entries) {
    if (entries.isEmpty()) return;
    ensureMirror(sw, false);
    const QString insert = QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                               .arg(sw.qualified(kLedgerMirror), kEntryColumns);
    for (const LogEntry& e : entries)
        sw.execute(insert, {e.seq, e.gen, e.kind, e.userid, e.amount, e.balance, e.calladdr,
                            e.date.isEmpty() ? QVariant() : QVariant(e.date)});
}

void DropLostNamedAsMissing(LogRecovery& r) {
    static const QRegularExpression userPart(QStringLiteral("[ ：]"));
    QSet<QString> named;
    for (const QString& m : std::as_const(r.missing)) named.insert(m.section(userPart, 0, 0));
    QStringList lost;
    for (const QString& l : std::as_const(r.lost))
        if (!named.contains(l.section(userPart, 0, 0))) lost << l;
    r.lost = lost;
}

QMap<qint64, MoneyRow> MoneyRowsOf(const Database& db, const QString& table, bool* whole) {
    QMap<qint64, MoneyRow> rows;
    if (whole) *whole = true;
    try {
        const QString t = table.isEmpty() ? db.qualified(db.actualTableName(QStringLiteral("user"))) : table;
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT userid, username, remain, deposit FROM %1 WHERE userid<>0").arg(t));
             r.next();)
            rows.insert(r.integer(0), MoneyRow{r.text(1), Currency::fromRaw(r.integer(2)), Currency::fromRaw(r.integer(3))});
    } catch (const DbError&) {
        // What a damaged file read.
        if (whole) *whole = false;
    }
    return rows;
}

void NameDifferences(const QMap<qint64, MoneyRow>& before, const QMap<qint64, MoneyRow>& after, LogRecovery& r,
                     bool entered) {
    QList<qint64> users = before.keys();
    for (auto it = after.constBegin(); it != after.constEnd(); ++it)
        if (!before.contains(it.key())) users << it.key();
    std::sort(users.begin(), users.end());
    const auto whole = [](const MoneyRow& m) {
        return QStringLiteral("余额%1").arg(m.remain.toString2()) +
               (m.deposit == Currency() ? QString() : QStringLiteral("，押金%1").arg(m.deposit.toString2()));
    };
    for (qint64 user : std::as_const(users)) {
        const bool was = before.contains(user), is = after.contains(user);
        const MoneyRow& m = was ? before[user] : after[user];
        const QString who = QStringLiteral("用户%1 %2：").arg(user).arg(m.name);
        if (!is) {
            r.missing << who + whole(m) + QStringLiteral("（恢复后没有此用户）");
        } else if (!was) {
            r.missing << who + whole(m) + QStringLiteral("（恢复前已没有此用户）");
        } else {
            QStringList parts;
            const auto amount = [entered](Currency was, Currency is) { return (entered ? is - was : was - is).toString2(); };
            if (m.remain != after[user].remain) parts << amount(m.remain, after[user].remain);
            if (m.deposit != after[user].deposit) parts << QStringLiteral("押金") + amount(m.deposit, after[user].deposit);
            if (!parts.isEmpty()) r.missing << who + parts.join(QStringLiteral("，"));
        }
    }
    DropLostNamedAsMissing(r);
}

QStringList OwnersAgainstLog(const Database& sw, const QList<LogEntry>& log, qint64 fileMark) {
    // The latest charge of each extension's calls past the mark, and the users deleted after it.
    QMap<qint64, const LogEntry*> latest;
    QMap<qint64, qint64> deletedAt;
    // A user added since is named as added: the file may hold another person
    // under that number (one an older station gave twice).
    QHash<qint64, QString> addedAs;
    for (const LogEntry& e : log) {
        if (e.seq <= fileMark) continue;
        if (e.kind == int(LogKind::UserAdded))
            addedAs.insert(e.userid, QJsonDocument::fromJson(e.row.toUtf8()).object().value(QStringLiteral("username")).toString());
        if (e.kind == int(LogKind::Charge) && e.calladdr > 0) latest.insert(e.calladdr, &e);
        else if (e.kind == int(LogKind::UserDeleted)) deletedAt.insert(e.userid, e.seq);
        // An owner given after the charge: the replay gave it back (or named it).
        else if (e.kind == int(LogKind::Owner) && e.calladdr >= 0) latest.remove(e.calladdr);
    }
    QStringList lines;
    const QString ext = sw.actualTableName(QStringLiteral("Extension"));
    const QString users = sw.actualTableName(QStringLiteral("user"));
    if (latest.isEmpty() || ext.isEmpty() || users.isEmpty()) return lines;
    for (auto it = latest.constBegin(); it != latest.constEnd(); ++it) {
        const LogEntry& e = **it;
        if (deletedAt.value(e.userid, -1) > e.seq) continue;   // their extensions went back to the default user
        const QVariant owner =
            sw.scalar(QStringLiteral("SELECT userid FROM %1 WHERE Address=?").arg(sw.qualified(ext)), {it.key()});
        if (owner.isNull() || owner.toLongLong() == e.userid) continue;
        const QVariant name =
            addedAs.contains(e.userid)
                ? (addedAs.value(e.userid).isEmpty() ? QVariant() : QVariant(addedAs.value(e.userid)))
                : sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(sw.qualified(users)), {e.userid});
        lines << QStringLiteral("分机%1：现属用户%2，备份之后的话费记入用户%3%4")
                     .arg(it.key())
                     .arg(owner.toLongLong())
                     .arg(e.userid)
                     .arg(name.isNull() ? QString() : QLatin1Char(' ') + name.toString());
    }
    return lines;
}

QStringList RecoveryLines(const LogRecovery& r) {
    QStringList lines;
    if (r.foreign) return {QStringLiteral("备份的数据库文件属于另一个话务台，话单文件中的话费未计入其中的用户余额。")};
    if (r.usersKept > 0) lines << QStringLiteral("从损坏的文件中找回%1个用户的余额。").arg(r.usersKept);
    if (r.charges > 0)
        lines << QStringLiteral("重新计入备份之后的%1笔话费，共%2元。").arg(r.charges).arg(r.charged.toString2());
    if (r.moves > 0) lines << QStringLiteral("重新计入备份之后的%1笔缴费、结算和押金变动。").arg(r.moves);
    // Said with the differences too: they are why the differences cannot be found.
    if (r.gap) {
        QList<QPair<qint64, qint64>> runs = r.gaps;
        if (runs.isEmpty()) runs << qMakePair(r.gapFrom, r.gapTo);
        QStringList numbers;
        for (const auto& run : std::as_const(runs))
            numbers << (run.first == run.second ? QString::number(run.first)
                                                 : QStringLiteral("%1至%2").arg(run.first).arg(run.second));
        lines << QStringLiteral("备份之后的第%1笔记账记录已不存在，其中的话费和缴费未能重新计入。").arg(numbers.join(QStringLiteral("、")));
    }
    // Owners given since are entries that were replayed: only a journal of an
    // older release leaves them to check.
    if (!r.added.isEmpty())
        lines << (r.ownersLogged ? QStringLiteral("以下用户在备份之后新增，已按记账记录重新加入：\n")
                                 : QStringLiteral("以下用户在备份之后新增，已按记账记录重新加入（备份之后为其指定的分机请重新核对）：\n")) +
                     r.added.join(QLatin1Char('\n'));
    if (!r.deleted.isEmpty())
        lines << QStringLiteral("以下用户在备份之后已删除，已再次删除：\n") + r.deleted.join(QLatin1Char('\n'));
    if (!r.lost.isEmpty())
        lines << QStringLiteral("以下金额无法找回，请重新录入：\n") + r.lost.join(QLatin1Char('\n'));
    if (!r.apart.isEmpty())
        lines << QStringLiteral("以下用户在备份之后新增，其编号在备份中属于另一用户，未并入该用户的账户，"
                                "请重新添加这些用户并录入其余额：\n") +
                     r.apart.join(QLatin1Char('\n'));
    if (!r.returned.isEmpty())
        lines << QStringLiteral("以下用户在备份之后已删除（其编号已给了上述用户），随备份恢复，请核对是否保留：\n") +
                     r.returned.join(QLatin1Char('\n'));
    if (!r.missing.isEmpty())
        lines << (r.replacedUntrusted
                      ? QStringLiteral("损坏的文件中记账的位置无法读取，其中的用户余额未采用；以下用户与损坏的文件中不同，请核对：\n")
                      : QStringLiteral("以下用户的余额或押金与恢复前不同，差额无法找回：\n")) +
                     r.missing.join(QLatin1Char('\n'));
    if (!r.owners.isEmpty())
        lines << QStringLiteral("以下分机的用户与备份之后的话费记录不同（备份之后更改的分机用户未能恢复），请核对：\n") +
                     r.owners.join(QLatin1Char('\n'));
    if (!r.ownersUnset.isEmpty())
        lines << QStringLiteral("以下分机和帐号在备份之后更改的用户未能恢复，请重新指定：\n") + r.ownersUnset.join(QLatin1Char('\n'));
    if (!r.ownersDiffer.isEmpty())
        lines << QStringLiteral("以下分机和帐号的用户与恢复前不同，备份之后的更改无法找回，请核对：\n") +
                     r.ownersDiffer.join(QLatin1Char('\n'));
    if (r.rowsRefused > 0) lines << QStringLiteral("损坏的文件中有%1行不是完整的用户记录，未采用。").arg(r.rowsRefused);
    if (!r.refused.isEmpty())
        lines << QStringLiteral("以下记账记录已损坏，请核对这些用户的余额：\n") + r.refused.join(QLatin1Char('\n'));
    if (r.logPartial) lines << QStringLiteral("话单文件的计费记录只能部分读取，备份之后的话费可能未全部重新计入。");
    if (!r.unlogged.isEmpty())
        lines << QStringLiteral("以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n") + r.unlogged.join(QLatin1Char('\n'));
    if (!r.unloggedUnsure.isEmpty())
        lines << QStringLiteral("以下话单的计费记录无法读取，无法确定其话费是否已计入用户余额，请核对：\n") +
                     r.unloggedUnsure.join(QLatin1Char('\n'));
    if (r.movedPartial)
        lines << QStringLiteral("计费记录归档文件%1只能部分读取，备份之后的话费可能未全部重新计入。").arg(kJournalFile);
    if (!r.failed.isEmpty()) lines << QStringLiteral("用户余额未能按备份之后的话费更新（%1），请核对用户余额。").arg(r.failed);
    // The last line: what neither the log nor the file replaced could give.
    if (!r.putBack) return lines;
    if (r.callFileUnread && r.replacedRead)
        lines << QStringLiteral("话单文件无法读取，备份之后的话费只能从被替换的数据库文件找回。");
    else if ((r.callFileUnread || r.logPartial) && !r.replacedRead && r.failed.isEmpty())
        lines << QStringLiteral("话单文件和被替换的数据库文件都无法完整读取，备份之后的话费、缴费、押金变动和删除的用户无法全部找回。");
    return lines;
}

int EnterPutBackChanges(const Database& sw, const QMap<qint64, MoneyRow>& before, qint64 lastKnown) {
    bool whole = true;
    const QMap<qint64, MoneyRow> after = MoneyRowsOf(sw, QString(), &whole);
    if (!whole) return 0;
    qint64 seq = qMax(lastKnown, AppliedMark(sw));
    const QString mirror = sw.actualTableName(kLedgerMirror);
    if (!mirror.isEmpty())
        seq = qMax(seq, sw.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(sw.qualified(mirror))).toLongLong());
    const qint64 gen = CopyGenerationOf(sw);
    const QString date = nowText();
    QList<LogEntry> entries;
    QMap<qint64, QString> rows;
    const auto enter = [&](LogKind kind, qint64 userid, Currency amount, Currency balance) {
        LogEntry e;
        e.seq = ++seq;
        e.gen = gen;
        e.kind = int(kind);
        e.userid = userid;
        e.amount = amount;
        e.balance = balance;
        e.date = date;
        entries << e;
        return e.seq;
    };
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        if (!after.contains(it.key())) {
            enter(LogKind::UserDeleted, it.key(), Currency(), it->remain);
            continue;
        }
        const MoneyRow& now = after[it.key()];
        if (now.remain != it->remain) enter(LogKind::BalanceSet, it.key(), now.remain - it->remain, now.remain);
        if (now.deposit != it->deposit) enter(LogKind::DepositSet, it.key(), now.deposit - it->deposit, now.deposit);
    }
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.contains(it.key())) continue;
        // Put back with the row the file gives, as a user added.
        const qint64 added = enter(LogKind::UserAdded, it.key(), Currency(), it->remain);
        const QString row = userRowText(sw, it.key());
        if (!row.isEmpty()) rows.insert(added, row);
        if (it->deposit != Currency()) enter(LogKind::DepositSet, it.key(), it->deposit, it->deposit);
    }
    if (entries.isEmpty()) return 0;
    KeepInMirror(sw, entries);
    if (!rows.isEmpty()) {
        ensureUserRows(sw);
        const QString keep = QStringLiteral("INSERT OR REPLACE INTO %1 (f_seq, f_userid, f_row) VALUES (?, ?, ?)")
                                 .arg(sw.qualified(kUserRows));
        for (const LogEntry& e : std::as_const(entries))
            if (rows.contains(e.seq)) sw.execute(keep, {e.seq, e.userid, rows.value(e.seq)});
    }
    setMark(sw, seq);
    return int(entries.size());
}

}  // namespace ModSwitch
