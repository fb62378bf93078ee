#include "platform/Db.h"

#include <QFileInfo>
#include <QUrl>
#include <QHash>
#include <QRegularExpression>
#include <atomic>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <malloc.h>

namespace platform {

QString quoteIdent(const QString& s) {
    // Names are quoted for every statement the record road runs: the plain
    // case is built in one allocation.
    QString q;
    q.reserve(s.size() + 2);
    q += QLatin1Char('"');
    if (s.contains(QLatin1Char('"'))) {
        QString doubled = s;
        doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
        q += doubled;
    } else {
        q += s;
    }
    q += QLatin1Char('"');
    return q;
}

namespace {
int g_openTransactions = 0;

QString sqliteText(const unsigned char* p) { return p ? QString::fromUtf8(reinterpret_cast<const char*>(p)) : QString(); }

int mapError(int rc) {
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return kErrNotADatabase;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return kErrExclusive;
    case SQLITE_CANTOPEN: return kErrFileNotFound;
    case SQLITE_FULL: return kErrDiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return kErrReadOnly;
    case SQLITE_IOERR: return kErrDiskIO;
    case SQLITE_CONSTRAINT:
        if (rc == SQLITE_CONSTRAINT_NOTNULL) return kErrRequired;
        return kErrDuplicateKey;
    default: return kErrGeneric;
    }
}

// Jet functions used in the station's SQL, registered once per connection.
QVariant argValue(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return QVariant::fromValue<qlonglong>(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    case SQLITE_NULL: return {};
    default: return sqliteText(sqlite3_value_text(v));
    }
}
void resultText(sqlite3_context* ctx, const QString& s) {
    QByteArray b = s.toUtf8();
    sqlite3_result_text(ctx, b.constData(), b.size(), SQLITE_TRANSIENT);
}
void fnIsNumeric(sqlite3_context* ctx, int, sqlite3_value** a) {
    QVariant v = argValue(a[0]);
    if (v.isNull()) { sqlite3_result_int(ctx, 0); return; }
    if (v.typeId() != QMetaType::QString) { sqlite3_result_int(ctx, 1); return; }
    bool ok = false;
    v.toString().trimmed().toDouble(&ok);
    sqlite3_result_int(ctx, ok ? 1 : 0);
}
void fnLen(sqlite3_context* ctx, int, sqlite3_value** a) {
    QVariant v = argValue(a[0]);
    if (v.isNull()) { sqlite3_result_null(ctx); return; }
    sqlite3_result_int(ctx, v.toString().size());
}
void fnLeft(sqlite3_context* ctx, int, sqlite3_value** a) {
    QVariant v = argValue(a[0]);
    if (v.isNull()) { sqlite3_result_null(ctx); return; }
    resultText(ctx, v.toString().left(sqlite3_value_int(a[1])));
}
void fnRight(sqlite3_context* ctx, int, sqlite3_value** a) {
    QVariant v = argValue(a[0]);
    if (v.isNull()) { sqlite3_result_null(ctx); return; }
    resultText(ctx, v.toString().right(sqlite3_value_int(a[1])));
}
void fnMid(sqlite3_context* ctx, int n, sqlite3_value** a) {
    QVariant v = argValue(a[0]);
    if (v.isNull()) { sqlite3_result_null(ctx); return; }
    int start = sqlite3_value_int(a[1]);
    int len = n > 2 ? sqlite3_value_int(a[2]) : -1;
    resultText(ctx, v.toString().mid(start - 1, len));
}
void fnDatePart(sqlite3_context* ctx, sqlite3_value* v, int part) {
    QDateTime t = parseDate(argValue(v));
    if (!t.isValid()) { sqlite3_result_null(ctx); return; }
    int r = part == 0 ? t.date().year() : part == 1 ? t.date().month() : t.date().day();
    sqlite3_result_int(ctx, r);
}
void fnYear(sqlite3_context* ctx, int, sqlite3_value** a) { fnDatePart(ctx, a[0], 0); }
void fnMonth(sqlite3_context* ctx, int, sqlite3_value** a) { fnDatePart(ctx, a[0], 1); }
void fnDay(sqlite3_context* ctx, int, sqlite3_value** a) { fnDatePart(ctx, a[0], 2); }
// format(value, pattern): the date patterns and "0.00"-like number patterns the station uses.
void fnFormat(sqlite3_context* ctx, int, sqlite3_value** a) {
    QVariant v = argValue(a[0]);
    if (v.isNull()) { sqlite3_result_null(ctx); return; }
    QString pat = argValue(a[1]).toString();
    QString lp = pat.toLower();
    if (lp.contains('y') || lp.contains('d') || lp.contains('h') || lp.contains('n') || lp.contains('m')) {
        QDateTime t = parseDate(v);
        if (!t.isValid()) { resultText(ctx, v.toString()); return; }
        QString q = lp;
        q.replace("nn", "mm");
        // "mm" after hours means minutes in the Jet pattern; months otherwise.
        QString out;
        bool afterHour = false;
        for (int i = 0; i < q.size();) {
            auto take = [&](const QString& tok) { return q.mid(i, tok.size()) == tok; };
            if (take("yyyy")) { out += QString::number(t.date().year()); i += 4; }
            else if (take("yy")) { out += QStringLiteral("%1").arg(t.date().year() % 100, 2, 10, QChar('0')); i += 2; }
            else if (take("hh")) { out += QStringLiteral("%1").arg(t.time().hour(), 2, 10, QChar('0')); i += 2; afterHour = true; }
            else if (take("mm")) {
                int val = afterHour || lp.mid(i, 2) == "nn" ? t.time().minute() : t.date().month();
                if (pat.mid(i, 2) == "nn" || afterHour) val = t.time().minute();
                out += QStringLiteral("%1").arg(val, 2, 10, QChar('0')); i += 2;
            }
            else if (take("dd")) { out += QStringLiteral("%1").arg(t.date().day(), 2, 10, QChar('0')); i += 2; }
            else if (take("ss")) { out += QStringLiteral("%1").arg(t.time().second(), 2, 10, QChar('0')); i += 2; }
            else { out += q[i]; ++i; }
        }
        resultText(ctx, out);
        return;
    }
    int dot = pat.indexOf('.');
    int decimals = dot < 0 ? 0 : pat.size() - dot - 1;
    resultText(ctx, QString::number(v.toDouble(), 'f', decimals));
}
void fnNow(sqlite3_context* ctx, int, sqlite3_value**) {
    resultText(ctx, dateText(QDateTime::currentDateTime()));
}

// entries_digest(...): the rows it is given, in any order, as their count
// and two sums of a strong mix of each row's values (type and bytes). Two
// scans of the same rows agree whatever their order; a row lost, added or
// changed shows. The start's check compares a table's rows with an index's
// entries by it, reading each page once, instead of looking every row up.
struct EntriesDigest {
    sqlite3_int64 rows;
    quint64 a, b;
};
quint64 mix64(quint64 x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}
void fnDigestStep(sqlite3_context* ctx, int n, sqlite3_value** a) {
    auto* d = static_cast<EntriesDigest*>(sqlite3_aggregate_context(ctx, sizeof(EntriesDigest)));
    if (!d) return;
    quint64 h1 = 0x9e3779b97f4a7c15ULL, h2 = 0xc2b2ae3d27d4eb4fULL;
    auto feed = [&](quint64 v) {
        h1 = mix64(h1 ^ v);
        h2 = mix64(h2 + v * 0xff51afd7ed558ccdULL + 1);
    };
    for (int i = 0; i < n; ++i) {
        const int type = sqlite3_value_type(a[i]);
        feed(quint64(type) << 32 | quint64(i));
        if (type == SQLITE_INTEGER) feed(quint64(sqlite3_value_int64(a[i])));
        if (type == SQLITE_FLOAT) {
            const double v = sqlite3_value_double(a[i]);
            quint64 bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            feed(bits);
        }
        if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
            const void* p = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_value_text(a[i])) : sqlite3_value_blob(a[i]);
            const int bytes = sqlite3_value_bytes(a[i]);
            feed(quint64(bytes));
            for (int k = 0; k < bytes; k += 8) {
                quint64 w = 0;
                std::memcpy(&w, static_cast<const char*>(p) + k, size_t(std::min(8, bytes - k)));
                feed(w);
            }
        }
    }
    ++d->rows;
    d->a += h1;
    d->b += h2;
}
void fnDigestFinal(sqlite3_context* ctx) {
    const auto* d = static_cast<EntriesDigest*>(sqlite3_aggregate_context(ctx, 0));
    const EntriesDigest none{0, 0, 0};
    if (!d) d = &none;
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%016llx:%016llx", static_cast<long long>(d->rows), static_cast<unsigned long long>(d->a),
                  static_cast<unsigned long long>(d->b));
    sqlite3_result_text(ctx, text, -1, SQLITE_TRANSIENT);
}

void registerJetFunctions(sqlite3* db) {
    const int f = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "isnumeric", 1, f, nullptr, fnIsNumeric, nullptr, nullptr);
    sqlite3_create_function(db, "len", 1, f, nullptr, fnLen, nullptr, nullptr);
    sqlite3_create_function(db, "left", 2, f, nullptr, fnLeft, nullptr, nullptr);
    sqlite3_create_function(db, "right", 2, f, nullptr, fnRight, nullptr, nullptr);
    sqlite3_create_function(db, "mid", 2, f, nullptr, fnMid, nullptr, nullptr);
    sqlite3_create_function(db, "mid", 3, f, nullptr, fnMid, nullptr, nullptr);
    sqlite3_create_function(db, "year", 1, f, nullptr, fnYear, nullptr, nullptr);
    sqlite3_create_function(db, "month", 1, f, nullptr, fnMonth, nullptr, nullptr);
    sqlite3_create_function(db, "day", 1, f, nullptr, fnDay, nullptr, nullptr);
    sqlite3_create_function(db, "format", 2, f, nullptr, fnFormat, nullptr, nullptr);
    sqlite3_create_function(db, "now", 0, SQLITE_UTF8, nullptr, fnNow, nullptr, nullptr);
    sqlite3_create_function(db, "entries_digest", -1, f, nullptr, nullptr, fnDigestStep, fnDigestFinal);
}
}  // namespace

int openTransactionCount() { return g_openTransactions; }

namespace {
std::function<void(const QString&)> g_errorTracer;

bool holdsChinese(const QString& t) {
    for (const QChar c : t)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
    return false;
}

QString dbSentence(const DbError& e) {
    // The station's own texts are sentences already, some followed by the
    // statement they stopped (" [...]"); the engine's are English.
    const QString t = e.text();
    const qsizetype sql = t.indexOf(QStringLiteral(" ["));
    const QString head = sql >= 0 ? t.left(sql) : t;
    if (holdsChinese(head)) return head;
    const QString low = head.toLower();
    if (low.contains(QLatin1String("full"))) return QStringLiteral("磁盘已满，无法写入数据库");
    if (low.contains(QLatin1String("readonly")) || low.contains(QLatin1String("read-only")))
        return QStringLiteral("数据库文件只读，无法写入");
    if (low.contains(QLatin1String("i/o"))) return QStringLiteral("读写数据库文件时出错");
    if (low.contains(QLatin1String("unique")) || low.contains(QLatin1String("primary key")))
        return QStringLiteral("要写入的记录已经存在");
    if (low.contains(QLatin1String("not null"))) return QStringLiteral("记录缺少必须填写的内容");
    switch (e.number()) {
    case kErrExclusive: return QStringLiteral("数据库正被其他程序使用，请稍后再试");
    case kErrNotADatabase: return QStringLiteral("数据库文件已损坏或不是数据库文件");
    case kErrFileNotFound: return QStringLiteral("无法打开数据库文件");
    case kErrNoSuchTable: return QStringLiteral("数据库中缺少所需的表");
    case kErrClosed: return QStringLiteral("数据库未打开");
    default: return QStringLiteral("数据库操作失败");
    }
}
}  // namespace

void SetErrorTracer(std::function<void(const QString&)> tracer) { g_errorTracer = std::move(tracer); }

QString OperatorText(const std::exception& e) {
    QString sentence;
    QString detail = QString::fromUtf8(e.what());
    if (const auto* db = dynamic_cast<const DbError*>(&e)) {
        detail = db->text();
        sentence = dbSentence(*db);
    } else if (dynamic_cast<const MoneyOverflow*>(&e)) {
        sentence = QStringLiteral("金额超出范围");
    } else {
        sentence = holdsChinese(detail) ? detail : QStringLiteral("操作失败");
    }
    if (g_errorTracer && detail != sentence) g_errorTracer(detail);
    return sentence;
}

namespace {
quint64 g_recordsetSerial = 0;
}

QString dateText(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QDateTime parseDate(const QVariant& v) {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::QDateTime) return v.toDateTime();
    const QString s = v.toString().trimmed();
    QDateTime t = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (t.isValid()) return t;
    QDate d = QDate::fromString(s, QStringLiteral("yyyy-MM-dd"));
    if (d.isValid()) return QDateTime(d, QTime(0, 0));
    t = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm"));
    if (t.isValid()) return t;
    return QDateTime::fromString(s, Qt::ISODate);
}

FieldType fieldTypeOf(const QString& declaredType) {
    const QString t = declaredType.trimmed().toUpper();
    if (t.startsWith("BOOL") || t == "BIT" || t == "YESNO") return ftBoolean;
    if (t == "BYTE" || t == "TINYINT") return ftByte;
    if (t == "INTEGER" || t == "SMALLINT" || t == "SHORT") return ftInteger;
    if (t == "LONG" || t == "INT" || t == "BIGINT" || t == "COUNTER" || t == "AUTOINCREMENT") return ftLong;
    if (t == "CURRENCY" || t == "MONEY") return ftCurrency;
    if (t == "SINGLE" || t == "FLOAT") return ftSingle;
    if (t == "DOUBLE" || t == "REAL" || t == "NUMERIC") return ftDouble;
    if (t.startsWith("DATE") || t == "TIME") return ftDate;
    if (t == "MEMO" || t == "LONGTEXT") return ftMemo;
    return ftText;
}

// ---------------------------------------------------------------- Connection

class Connection {
public:
    sqlite3* db = nullptr;
    QString mainPath;
    QHash<QString, sqlite3_stmt*> cache;
    QHash<QString, QString> attached;  // schema -> path
    int txDepth = 0;
    // What watchWrites counts: the tables (as UTF-8, compared without case) and the count.
    std::vector<QByteArray> watched;
    quint64 watchedWrites = 0;
    bool watchedUndone = false;   // a watched table was written in the open transaction
    // What watchRewrites counts: the tables, the rows changed or deleted in
    // them and every rollback.
    std::vector<QByteArray> rewatched;
    quint64 rewrites = 0;
    // A rollback counts only when it may undo a watched write.
    void noteRollback() {
        ++rewrites;
        if (watchedUndone) ++watchedWrites;
    }
    static bool named(const std::vector<QByteArray>& tables, const char* table) {
        for (const QByteArray& w : tables)
            if (sqlite3_stricmp(w.constData(), table) == 0) return true;
        return false;
    }
    void noteWrite(int op, const char* table) {
        if (named(watched, table)) {
            ++watchedWrites;
            watchedUndone = true;
        }
        if (op != SQLITE_INSERT && named(rewatched, table)) ++rewrites;
    }
    // Work that must wait until the outermost transaction has committed (it
    // may yield, or read what the commit made durable); dropped on rollback.
    std::vector<std::function<void()>> afterCommit;
    const quint64 serial = nextSerial();
    // Moves at every attach, detach and schema change made through execute().
    quint64 schemaGeneration = 0;
    // How each schema set through setDurableCommits commits: `held` is what
    // the file does now, `wanted` what it was last asked for. The setting is
    // changed only when a statement may commit with it (a write or a
    // transaction begun outside one): a run of records, each asking for
    // unsynced commits of the station file and then for synced ones again,
    // changes nothing between them.
    struct Durability {
        bool held = true;
        bool wanted = true;
    };
    QHash<QString, Durability> durability;
    bool durabilityPending = false;
    void noteDurabilityPending() {
        durabilityPending = false;
        for (const Durability& d : std::as_const(durability)) durabilityPending = durabilityPending || d.held != d.wanted;
    }
    void setSynchronous(const QString& schema, bool durable) {
        const QByteArray sql = QStringLiteral("PRAGMA %1.synchronous=%2")
                                   .arg(quoteIdent(schema), durable ? QStringLiteral("FULL") : QStringLiteral("NORMAL"))
                                   .toUtf8();
        char* err = nullptr;
        const int rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &err);
        const QString msg = err ? QString::fromUtf8(err) : QString();
        sqlite3_free(err);
        if (rc != SQLITE_OK) throw DbError(mapError(rc), msg + QStringLiteral(" [%1]").arg(QString::fromUtf8(sql)));
    }
    // Brings every schema to the commits it was last asked for; outside a
    // transaction only (SQLite takes the setting nowhere else).
    void settleDurability() {
        if (!durabilityPending || !db || !sqlite3_get_autocommit(db)) return;
        for (auto it = durability.begin(); it != durability.end(); ++it) {
            if (it->held == it->wanted) continue;
            setSynchronous(it.key(), it->wanted);
            it->held = it->wanted;
        }
        durabilityPending = false;
    }
    // Before a statement runs outside a transaction: one that may write or
    // begin a transaction commits as its files were last asked to, and a
    // pragma that reads the setting reads it as asked for. A pragma that only
    // reads something else (a schema's version, asked before every record)
    // changes nothing: a run of records would set the file back and forth.
    void beforeRun(sqlite3_stmt* st) {
        if (!durabilityPending || !sqlite3_get_autocommit(db)) return;
        bool settle = !sqlite3_stmt_readonly(st);
        if (!settle) {
            // Read in place: every read outside a transaction passes here.
            const char* sql = sqlite3_sql(st);
            while (*sql == ' ' || *sql == '\t' || *sql == '\n' || *sql == '\r') ++sql;
            const auto startsWith = [sql](const char* word) { return sqlite3_strnicmp(sql, word, int(strlen(word))) == 0; };
            settle = startsWith("BEGIN") || startsWith("SAVEPOINT") ||
                     (startsWith("PRAGMA") && sqlite3_strlike("%synchronous%", sql, 0) == 0);
        }
        if (settle) settleDurability();
    }

    // Read-only connections may open on other threads.
    static quint64 nextSerial() { static std::atomic<quint64> n{0}; return ++n; }
    ~Connection() { closeAll(); }
    void closeAll() {
        for (auto* s : std::as_const(cache)) sqlite3_finalize(s);
        cache.clear();
        durability.clear();
        durabilityPending = false;
        if (db) {
            if (txDepth > 0) { g_openTransactions -= txDepth; txDepth = 0; }
            afterCommit.clear();
            sqlite3_close_v2(db);
            db = nullptr;
        }
    }
    [[noreturn]] void fail(int rc, const QString& what) const {
        QString msg = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        throw DbError(mapError(sqlite3_extended_errcode(db) ? sqlite3_extended_errcode(db) : rc),
                      msg + (what.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(what)));
    }
    sqlite3_stmt* prepare(const QString& sql) {
        if (!db) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
        auto it = cache.find(sql);
        if (it != cache.end()) {
            sqlite3_reset(*it);
            sqlite3_clear_bindings(*it);
            beforeRun(*it);
            return *it;
        }
        sqlite3_stmt* st = prepareOwn(sql);
        if (cache.size() > 200) {
            for (auto* s : std::as_const(cache)) sqlite3_finalize(s);
            cache.clear();
        }
        cache.insert(sql, st);
        beforeRun(st);
        return st;
    }
    // A statement taken out of the cache (or made) for a reader that walks it
    // at its own pace: nobody else gets it until it is given back.
    sqlite3_stmt* checkOut(const QString& sql) {
        if (!db) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
        sqlite3_stmt* st = nullptr;
        auto it = cache.find(sql);
        if (it != cache.end()) {
            st = *it;
            cache.erase(it);
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        } else {
            st = prepareOwn(sql);
        }
        beforeRun(st);
        return st;
    }
    // Back into the cache, unless the schema changed meanwhile, the same text
    // was prepared again or the connection is closed: then it is finished.
    void checkIn(const QString& sql, sqlite3_stmt* st, quint64 generation) {
        if (!st) return;
        if (!db || generation != schemaGeneration || cache.contains(sql) || cache.size() > 200) {
            sqlite3_finalize(st);
            return;
        }
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        cache.insert(sql, st);
    }
    // A statement of the caller's own, not kept in the cache.
    sqlite3_stmt* prepareOwn(const QString& sql) const {
        if (!db) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
        sqlite3_stmt* st = nullptr;
        QByteArray b = sql.toUtf8();
        int rc = sqlite3_prepare_v2(db, b.constData(), b.size(), &st, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(st);
            int ext = sqlite3_extended_errcode(db);
            QString msg = QString::fromUtf8(sqlite3_errmsg(db));
            int num = mapError(ext);
            if (msg.startsWith("no such table")) num = kErrNoSuchTable;
            throw DbError(num, msg + QStringLiteral(" [%1]").arg(sql));
        }
        return st;
    }
    void dropCache() {
        for (auto* s : std::as_const(cache)) sqlite3_finalize(s);
        cache.clear();
        ++schemaGeneration;
    }
    void bind(sqlite3_stmt* st, const Params& params) {
        const int n = sqlite3_bind_parameter_count(st);
        if (n != params.size())
            throw DbError(kErrGeneric, QStringLiteral("参数个数不符: %1/%2 [%3]").arg(params.size()).arg(n)
                                           .arg(QString::fromUtf8(sqlite3_sql(st))));
        for (int i = 0; i < n; ++i) {
            const QVariant& v = params[i].v;
            int rc;
            if (v.isNull() || !v.isValid()) rc = sqlite3_bind_null(st, i + 1);
            else switch (v.typeId()) {
                case QMetaType::Bool: rc = sqlite3_bind_int(st, i + 1, v.toBool() ? 1 : 0); break;
                case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
                case QMetaType::Short: case QMetaType::UShort: case QMetaType::UChar: case QMetaType::Char:
                case QMetaType::Long: case QMetaType::ULong:
                    rc = sqlite3_bind_int64(st, i + 1, v.toLongLong()); break;
                case QMetaType::Double: case QMetaType::Float:
                    rc = sqlite3_bind_double(st, i + 1, v.toDouble()); break;
                case QMetaType::QDateTime:
                    { QByteArray b = dateText(v.toDateTime()).toUtf8();
                      rc = sqlite3_bind_text(st, i + 1, b.constData(), b.size(), SQLITE_TRANSIENT); } break;
                case QMetaType::QByteArray:
                    { QByteArray b = v.toByteArray();
                      rc = sqlite3_bind_blob(st, i + 1, b.constData(), b.size(), SQLITE_TRANSIENT); } break;
                default:
                    { QByteArray b = v.toString().toUtf8();
                      rc = sqlite3_bind_text(st, i + 1, b.constData(), b.size(), SQLITE_TRANSIENT); } break;
            }
            if (rc != SQLITE_OK) fail(rc, QStringLiteral("bind"));
        }
    }
    static QVariant column(sqlite3_stmt* st, int i) {
        switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER: return QVariant::fromValue<qlonglong>(sqlite3_column_int64(st, i));
        case SQLITE_FLOAT: return sqlite3_column_double(st, i);
        case SQLITE_NULL: return {};
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char*>(sqlite3_column_blob(st, i)), sqlite3_column_bytes(st, i));
        default: return sqliteText(sqlite3_column_text(st, i));
        }
    }
    static int step(sqlite3_stmt* st) {
        int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            sqlite3* db = sqlite3_db_handle(st);
            int ext = sqlite3_extended_errcode(db);
            QString msg = QString::fromUtf8(sqlite3_errmsg(db));
            QString sql = QString::fromUtf8(sqlite3_sql(st));
            sqlite3_reset(st);
            throw DbError(mapError(ext), msg + QStringLiteral(" [%1]").arg(sql));
        }
        return rc;
    }
};

enum class OpenMode { Existing, Create, ReadOnly, Snapshot };

static std::shared_ptr<Connection> openConnection(const QString& path, OpenMode mode) {
    if (mode != OpenMode::Create && !QFileInfo(path).isFile())
        throw DbError(kErrFileNotFound, QStringLiteral("找不到文件 '%1'").arg(path));
    auto c = std::make_shared<Connection>();
    // A connection serves one thread at a time (the station's main thread), so
    // it goes without SQLite's lock around every call: a view of 20,000 rows
    // reads a quarter of a million cells, each with a lock and an unlock.
    const bool readOnly = mode == OpenMode::ReadOnly || mode == OpenMode::Snapshot;
    int flags = SQLITE_OPEN_NOMUTEX | (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                (mode == OpenMode::Create ? SQLITE_OPEN_CREATE : 0);
    QByteArray name = path.toUtf8();
    if (mode == OpenMode::Snapshot) {
        flags |= SQLITE_OPEN_URI;
        name = "file:" + QUrl::toPercentEncoding(QFileInfo(path).absoluteFilePath(), "/") + "?immutable=1";
    }
    int rc = sqlite3_open_v2(name.constData(), &c->db, flags, nullptr);
    if (rc != SQLITE_OK) {
        QString msg = c->db ? QString::fromUtf8(sqlite3_errmsg(c->db)) : QStringLiteral("open failed");
        c->closeAll();
        throw DbError(mapError(rc), msg + QStringLiteral(" '%1'").arg(path));
    }
    c->mainPath = QFileInfo(path).absoluteFilePath();
    // A file another program holds is waited for a few seconds before a
    // statement gives up; the call records have their spool beyond that.
    sqlite3_busy_timeout(c->db, kBusyTimeoutMs);
    registerJetFunctions(c->db);
    // Read the header now so a damaged file fails here, not at first use.
    char* err = nullptr;
    rc = sqlite3_exec(c->db,
                      readOnly
                          ? "SELECT count(*) FROM sqlite_master;"
                          : "PRAGMA synchronous=FULL; SELECT count(*) FROM sqlite_master;",
                      nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        QString msg = err ? QString::fromUtf8(err) : QString();
        sqlite3_free(err);
        int code = mapError(sqlite3_extended_errcode(c->db));
        c->closeAll();
        throw DbError(code, msg + QStringLiteral(" '%1'").arg(path));
    }
    return c;
}

Database Database::open(const QString& path) {
    Database d;
    d.conn_ = openConnection(path, OpenMode::Existing);
    return d;
}

Database Database::create(const QString& path) {
    Database d;
    d.conn_ = openConnection(path, OpenMode::Create);
    return d;
}

Database Database::openReadOnly(const QString& path) {
    Database d;
    d.conn_ = openConnection(path, OpenMode::ReadOnly);
    return d;
}

Database Database::openSnapshot(const QString& path) {
    const bool pending = QFileInfo(path + QStringLiteral("-wal")).size() > 0 ||
                         QFileInfo(path + QStringLiteral("-journal")).size() > 0;
    Database d;
    d.conn_ = openConnection(path, pending ? OpenMode::ReadOnly : OpenMode::Snapshot);
    return d;
}

Database Database::openImage(const QByteArray& image) {
    auto c = std::make_shared<Connection>();
    int rc = sqlite3_open_v2(":memory:", &c->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        c->closeAll();
        throw DbError(mapError(rc), QString::fromUtf8(sqlite3_errstr(rc)));
    }
    // SQLite owns the copy from here, and frees it with the connection.
    auto* buf = static_cast<unsigned char*>(sqlite3_malloc64(sqlite3_uint64(image.size())));
    if (!buf && !image.isEmpty()) throw DbError(kErrGeneric, QString::fromUtf8(sqlite3_errstr(SQLITE_NOMEM)));
    if (buf) std::memcpy(buf, image.constData(), size_t(image.size()));
    rc = sqlite3_deserialize(c->db, "main", buf, image.size(), image.size(),
                             SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY);
    if (rc != SQLITE_OK) throw DbError(mapError(rc), QString::fromUtf8(sqlite3_errmsg(c->db)));
    registerJetFunctions(c->db);
    // A file cut short counts fewer pages than its header says: read what is there.
    sqlite3_exec(c->db, "PRAGMA writable_schema=1", nullptr, nullptr, nullptr);
    Database d;
    d.conn_ = std::move(c);
    return d;
}

bool Database::isOpen() const {
    if (!conn_ || !conn_->db) return false;
    return schema_ == QLatin1StringView("main") || conn_->attached.contains(schema_);
}

void Database::close() {
    if (!conn_) return;
    if (schema_ == "main") {
        conn_->closeAll();
    } else if (conn_->db && conn_->attached.contains(schema_)) {
        conn_->dropCache();
        execute(QStringLiteral("DETACH DATABASE %1").arg(quoteIdent(schema_)));
        conn_->attached.remove(schema_);
        conn_->durability.remove(schema_);
        conn_->noteDurabilityPending();
    }
    conn_.reset();
}

QString Database::path() const {
    if (!conn_) return {};
    return schema_ == "main" ? conn_->mainPath : conn_->attached.value(schema_);
}

Database Database::attach(const QString& path, const QString& schemaName) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    if (!QFileInfo(path).isFile()) throw DbError(kErrFileNotFound, QStringLiteral("找不到文件 '%1'").arg(path));
    if (conn_->attached.contains(schemaName)) {
        Database again = *this;
        again.schema_ = schemaName;
        again.close();
    }
    execute(QStringLiteral("ATTACH DATABASE ? AS %1").arg(quoteIdent(schemaName)), {path});
    Database d;
    d.conn_ = conn_;
    d.schema_ = schemaName;
    conn_->attached.insert(schemaName, QFileInfo(path).absoluteFilePath());
    try {
        d.scalar(QStringLiteral("SELECT count(*) FROM %1.sqlite_master").arg(quoteIdent(schemaName)));
    } catch (...) {
        d.close();
        throw;
    }
    return d;
}

int Database::execute(const QString& sql, const Params& params) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    sqlite3_stmt* st = conn_->prepare(sql);
    conn_->bind(st, params);
    while (conn_->step(st) == SQLITE_ROW) {}
    int n = sqlite3_changes(conn_->db);
    sqlite3_reset(st);
    // Schema changes invalidate cached statements on other tables' shapes.
    const QStringView head = QStringView(sql).trimmed();
    const auto starts = [head](QLatin1StringView word) { return head.startsWith(word, Qt::CaseInsensitive); };
    if (starts(QLatin1StringView("CREATE")) || starts(QLatin1StringView("DROP")) || starts(QLatin1StringView("ALTER ")) ||
        starts(QLatin1StringView("ATTACH")) || starts(QLatin1StringView("DETACH")))
        conn_->dropCache();
    return n;
}

bool Database::tryExecute(const QString& sql, const Params& params) const {
    try { execute(sql, params); return true; } catch (const DbError&) { return false; }
}

QVariant Database::scalar(const QString& sql, const Params& params) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    sqlite3_stmt* st = conn_->prepare(sql);
    conn_->bind(st, params);
    QVariant r;
    if (conn_->step(st) == SQLITE_ROW && sqlite3_column_count(st) > 0) r = Connection::column(st, 0);
    sqlite3_reset(st);
    return r;
}

Recordset Database::query(const QString& sql, const Params& params) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    sqlite3_stmt* st = conn_->prepare(sql);
    conn_->bind(st, params);
    Recordset rs;
    rs.db_ = *this;
    rs.open_ = true;
    rs.serial_ = ++g_recordsetSerial;
    const int n = sqlite3_column_count(st);
    for (int i = 0; i < n; ++i) {
        rs.cols_ << QString::fromUtf8(sqlite3_column_name(st, i));
        const char* dt = sqlite3_column_decltype(st, i);
        rs.declTypes_ << (dt ? QString::fromUtf8(dt) : QString());
    }
    while (conn_->step(st) == SQLITE_ROW) {
        QVariantList row;
        row.reserve(n);
        for (int i = 0; i < n; ++i) row << Connection::column(st, i);
        rs.rows_ << row;
    }
    sqlite3_reset(st);
    rs.pos_ = 0;
    return rs;
}

RawRecords Database::queryRaw(const QString& sql, const Params& params) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    sqlite3_stmt* st = conn_->prepare(sql);
    conn_->bind(st, params);
    RawRecords rs;
    const int n = sqlite3_column_count(st);
    rs.fields_ = n;
    const auto text = [](const char* p) { return p ? QString::fromUtf8(p) : QString(); };
    for (int i = 0; i < n; ++i) {
        rs.names_ << text(sqlite3_column_name(st, i));
        rs.declTypes_ << text(sqlite3_column_decltype(st, i));
        rs.origins_ << RawRecords::Origin{text(sqlite3_column_database_name(st, i)),
                                          text(sqlite3_column_table_name(st, i)),
                                          text(sqlite3_column_origin_name(st, i))};
    }
    while (conn_->step(st) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i) {
            RawRecords::Cell& c = rs.cells_.emplace_back();
            // Each cell is taken once as a value and read from it: the
            // statement's column getters would each enter the connection
            // again. The connection is opened without a mutex, so reading the
            // value is what the getters do, minus the entries.
            sqlite3_value* v = sqlite3_column_value(st, i);
            switch (sqlite3_value_type(v)) {
            case SQLITE_INTEGER:
                c.kind = RawRecords::Integer;
                c.i = sqlite3_value_int64(v);
                break;
            case SQLITE_FLOAT:
                c.kind = RawRecords::Float;
                c.d = sqlite3_value_double(v);
                break;
            case SQLITE_NULL:
                c.kind = RawRecords::Null;
                c.i = 0;
                break;
            case SQLITE_BLOB: {
                c.kind = RawRecords::Blob;
                const char* p = static_cast<const char*>(sqlite3_value_blob(v));
                c.s.size = quint32(p ? sqlite3_value_bytes(v) : 0);
                c.s.at = rs.keep(p, c.s.size);
                break;
            }
            default: {
                // A text ends at its first NUL, as a Recordset reads it.
                c.kind = RawRecords::Text;
                const char* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
                c.s.size = quint32(p ? qstrnlen(p, size_t(sqlite3_value_bytes(v))) : 0);
                c.s.at = rs.keep(p, c.s.size);
                break;
            }
            }
        }
    }
    sqlite3_reset(st);
    return rs;
}

RowReader Database::rows(const QString& sql, const Params& params) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    // The statement is prepared once per text: the reader borrows it from
    // the connection's cache and gives it back when it goes.
    RowReader r(conn_, conn_->checkOut(sql));
    r.sql_ = sql;
    r.generation_ = conn_->schemaGeneration;
    conn_->bind(r.st_, params);
    return r;
}

RowReader::RowReader(RowReader&& o) noexcept
    : conn_(std::move(o.conn_)), st_(std::exchange(o.st_, nullptr)), done_(o.done_), sql_(std::move(o.sql_)),
      generation_(o.generation_) {}

RowReader& RowReader::operator=(RowReader&& o) noexcept {
    if (this != &o) {
        release();
        conn_ = std::move(o.conn_);
        st_ = std::exchange(o.st_, nullptr);
        done_ = o.done_;
        sql_ = std::move(o.sql_);
        generation_ = o.generation_;
    }
    return *this;
}

RowReader::~RowReader() { release(); }

void RowReader::release() {
    sqlite3_stmt* st = std::exchange(st_, nullptr);
    if (!st) return;
    if (conn_ && !sql_.isEmpty()) conn_->checkIn(sql_, st, generation_);
    else sqlite3_finalize(st);
}

bool RowReader::next() {
    if (!st_ || done_) return false;
    done_ = true;   // also when the step throws
    done_ = Connection::step(st_) != SQLITE_ROW;
    return !done_;
}

int RowReader::fieldCount() const { return st_ ? sqlite3_column_count(st_) : 0; }

QString RowReader::fieldName(int c) const {
    const char* p = st_ ? sqlite3_column_name(st_, c) : nullptr;
    return p ? QString::fromUtf8(p) : QString();
}

RawRecords::Kind RowReader::kind(int c) const {
    switch (sqlite3_column_type(st_, c)) {
    case SQLITE_INTEGER: return RawRecords::Integer;
    case SQLITE_FLOAT: return RawRecords::Float;
    case SQLITE_NULL: return RawRecords::Null;
    case SQLITE_BLOB: return RawRecords::Blob;
    default: return RawRecords::Text;
    }
}

qint64 RowReader::integer(int c) const { return sqlite3_column_int64(st_, c); }

double RowReader::real(int c) const { return sqlite3_column_double(st_, c); }

QByteArrayView RowReader::bytes(int c) const {
    // The pointer first, then its length: asking for text may convert the cell.
    // A blob's text is its bytes as they are.
    const char* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, c));
    return p ? QByteArrayView(p, sqlite3_column_bytes(st_, c)) : QByteArrayView();
}

const char* RowReader::cstr(int c) const { return reinterpret_cast<const char*>(sqlite3_column_text(st_, c)); }

int RawRecords::fieldIndex(const QString& name) const {
    for (int i = 0; i < names_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

FieldType RawRecords::fieldType(int c) const {
    QString d = declTypes_.value(c);
    const int p = d.indexOf('(');
    if (p >= 0) d = d.left(p);
    return fieldTypeOf(d);
}

QVariant RawRecords::value(int r, int c) const {
    switch (kind(r, c)) {
    case Integer: return QVariant::fromValue<qlonglong>(integer(r, c));
    case Float: return real(r, c);
    case Null: return {};
    case Blob: return bytes(r, c).toByteArray();
    case Text: break;
    }
    return text(r, c);
}

Recordset Database::openTable(const QString& table, const QString& where, const Params& params,
                              const QString& orderBy) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    const QString actual = actualTableName(table);
    if (actual.isEmpty()) throw DbError(kErrNoSuchTable, QStringLiteral("找不到表 '%1'").arg(table));
    Recordset rs;
    rs.db_ = *this;
    rs.open_ = true;
    rs.dynaset_ = true;
    rs.table_ = qualified(actual);
    rs.keySql_ = QStringLiteral("SELECT rowid FROM %1").arg(rs.table_);
    if (!where.isEmpty()) rs.keySql_ += " WHERE " + where;
    rs.keySql_ += " ORDER BY " + (orderBy.isEmpty() ? QStringLiteral("rowid") : orderBy);
    rs.keyParams_ = params;
    for (const ColumnInfo& c : columns(actual)) {
        rs.cols_ << c.name;
        rs.declTypes_ << c.declType;
    }
    rs.requery();
    return rs;
}

quint64 Database::connectionSerial() const { return conn_ && conn_->db ? conn_->serial : 0; }

quint64 Database::schemaGeneration() const { return conn_ && conn_->db ? conn_->schemaGeneration : 0; }

namespace {
// Adds to `into` the tables it lacks; true when it lacked one.
bool addTables(std::vector<QByteArray>& into, const QStringList& tables) {
    bool added = false;
    for (const QString& t : tables) {
        const QByteArray name = t.toUtf8();
        if (Connection::named(into, name.constData())) continue;
        into.push_back(name);
        added = true;
    }
    return added;
}

void hookWrites(Connection* c) {
    sqlite3_update_hook(
        c->db, [](void* at, int op, const char*, const char* table, sqlite3_int64) { static_cast<Connection*>(at)->noteWrite(op, table); },
        c);
    sqlite3_rollback_hook(c->db, [](void* at) { static_cast<Connection*>(at)->noteRollback(); }, c);
}
}  // namespace

void Database::watchWrites(const QStringList& tables) const {
    if (conn_ && conn_->db && addTables(conn_->watched, tables)) hookWrites(conn_.get());
}

void Database::watchRewrites(const QStringList& tables) const {
    if (conn_ && conn_->db && addTables(conn_->rewatched, tables)) hookWrites(conn_.get());
}

quint64 Database::rewrites() const { return conn_ && conn_->db ? conn_->rewrites : 0; }

quint64 Database::watchedWrites() const { return conn_ && conn_->db ? conn_->watchedWrites : 0; }

qint64 Database::lastInsertRowId() const { return conn_ && conn_->db ? sqlite3_last_insert_rowid(conn_->db) : 0; }

QString Database::qualified(const QString& table) const {
    QString q = quoteIdent(schema_);
    q += QLatin1Char('.');
    q += quoteIdent(table);
    return q;
}

QStringList Database::tableNames() const {
    QStringList names;
    Recordset rs = query(QStringLiteral("SELECT name FROM %1.sqlite_master WHERE type IN ('table','view') "
                                        "AND name NOT LIKE 'sqlite_%' ORDER BY rowid").arg(quoteIdent(schema_)));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) names << rs.value(0).toString();
    return names;
}

QString Database::actualTableName(const QString& name) const {
    for (const QString& n : tableNames())
        if (n.compare(name, Qt::CaseInsensitive) == 0) return n;
    return {};
}

bool Database::hasTable(const QString& name, bool caseSensitive) const {
    for (const QString& n : tableNames())
        if (n.compare(name, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0) return true;
    return false;
}

QList<ColumnInfo> Database::columns(const QString& table) const {
    QList<ColumnInfo> out;
    Recordset rs = query(QStringLiteral("PRAGMA %1.table_info(%2)").arg(quoteIdent(schema_), quoteIdent(table)));
    static const QRegularExpression sizeRe(QStringLiteral("\\((\\d+)\\)"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        ColumnInfo c;
        c.name = rs.str("name");
        c.declType = rs.str("type");
        QString base = c.declType;
        auto m = sizeRe.match(base);
        if (m.hasMatch()) {
            c.size = m.captured(1).toInt();
            base = base.left(m.capturedStart()).trimmed();
        }
        c.type = fieldTypeOf(base);
        c.notNull = rs.lng("notnull") != 0;
        c.defaultValue = rs.value("dflt_value");
        c.primaryKey = rs.lng("pk") != 0;
        out << c;
    }
    return out;
}

QList<IndexInfo> Database::indexes(const QString& table) const {
    QList<IndexInfo> out;
    Recordset rs = query(QStringLiteral("PRAGMA %1.index_list(%2)").arg(quoteIdent(schema_), quoteIdent(table)));
    QList<QPair<int, IndexInfo>> ordered;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        IndexInfo ix;
        ix.name = rs.str("name");
        ix.unique = rs.lng("unique") != 0;
        ix.primary = rs.str("origin") == "pk";
        Recordset cols = query(QStringLiteral("PRAGMA %1.index_info(%2)").arg(quoteIdent(schema_), quoteIdent(ix.name)));
        for (cols.moveFirst(); !cols.eof(); cols.moveNext()) ix.columns << cols.str("name");
        ordered << qMakePair(static_cast<int>(rs.lng("seq")), ix);
    }
    // index_list lists the newest first; give them in creation order.
    std::sort(ordered.begin(), ordered.end(), [](auto& a, auto& b) { return a.first > b.first; });
    for (auto& p : ordered) out << p.second;
    // A primary key named in CREATE TABLE without an index (INTEGER PRIMARY KEY) still counts.
    bool hasPk = false;
    for (auto& ix : out) hasPk = hasPk || ix.primary;
    if (!hasPk) {
        IndexInfo pk;
        for (const ColumnInfo& c : columns(table)) if (c.primaryKey) pk.columns << c.name;
        if (!pk.columns.isEmpty()) { pk.name = "PrimaryKey"; pk.primary = pk.unique = true; out.prepend(pk); }
    }
    return out;
}

qint64 Database::rowCount(const QString& table) const {
    // A table of another attached file is counted where SQL finds it.
    const QString actual = actualTableName(table);
    return scalar(QStringLiteral("SELECT count(*) FROM %1").arg(actual.isEmpty() ? quoteIdent(table) : qualified(actual))).toLongLong();
}

void Database::begin() const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    execute(conn_->txDepth == 0 ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("SAVEPOINT tx%1").arg(conn_->txDepth));
    ++conn_->txDepth;
    ++g_openTransactions;
}

void Database::commit() const {
    if (!conn_ || conn_->txDepth == 0) return;
    --conn_->txDepth;
    --g_openTransactions;
    try {
        execute(conn_->txDepth == 0 ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE tx%1").arg(conn_->txDepth));
    } catch (...) {
        ++conn_->txDepth;
        ++g_openTransactions;
        throw;
    }
    if (conn_->txDepth == 0) {
        conn_->watchedUndone = false;
        runAfterCommit(conn_);
    }
}

void Database::runAfterCommit(const std::shared_ptr<Connection>& conn) {
    // Each piece may begin and commit transactions of its own, whose work
    // joins the queue behind it; one that throws leaves the rest queued for
    // the next commit instead of losing them.
    const std::shared_ptr<Connection> keep = conn;
    while (!keep->afterCommit.empty() && keep->txDepth == 0) {
        std::function<void()> fn = std::move(keep->afterCommit.front());
        keep->afterCommit.erase(keep->afterCommit.begin());
        fn();
    }
}

void Database::afterCommit(std::function<void()> fn) const {
    if (!conn_ || conn_->txDepth == 0) {
        fn();
        return;
    }
    conn_->afterCommit.push_back(std::move(fn));
}

void Database::rollback() const {
    if (!conn_ || conn_->txDepth == 0) return;
    --conn_->txDepth;
    --g_openTransactions;
    if (!conn_->db) return;
    // A savepoint undone tells no hook: what a copy read since may be gone.
    conn_->noteRollback();
    if (conn_->txDepth == 0) conn_->watchedUndone = false;
    if (conn_->txDepth == 0) {
        // What was to follow the commit follows nothing now.
        conn_->afterCommit.clear();
        tryExecute(QStringLiteral("ROLLBACK"));
    } else {
        tryExecute(QStringLiteral("ROLLBACK TO tx%1").arg(conn_->txDepth));
        tryExecute(QStringLiteral("RELEASE tx%1").arg(conn_->txDepth));
    }
}

bool Database::inTransaction() const { return conn_ && conn_->txDepth > 0; }

bool Database::autocommit() const { return !conn_ || !conn_->db || sqlite3_get_autocommit(conn_->db) != 0; }

void Database::useWriteAheadLog(bool durableCommits) const {
    const QString s = quoteIdent(schema_);
    const QVariant mode = scalar(QStringLiteral("PRAGMA %1.journal_mode=WAL").arg(s));
    if (mode.toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        throw DbError(kErrGeneric, QStringLiteral("无法设置日志模式 '%1'").arg(path()));
    execute(QStringLiteral("PRAGMA %1.synchronous=%2").arg(s, durableCommits ? QStringLiteral("FULL") : QStringLiteral("NORMAL")));
    conn_->durability.insert(schema_, Connection::Durability{durableCommits, durableCommits});
    conn_->noteDurabilityPending();
}

void Database::setDurableCommits(bool durable) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    auto it = conn_->durability.find(schema_);
    if (it == conn_->durability.end()) {
        // What the file does now is not known: set at once.
        conn_->setSynchronous(schema_, durable);
        conn_->durability.insert(schema_, Connection::Durability{durable, durable});
        return;
    }
    it->wanted = durable;
    conn_->noteDurabilityPending();
    // Outside a transaction with nothing else open, a file asked to sync
    // again does so at the next statement that may commit.
}

namespace {
// A copy stands alone: it is put back in rollback-journal mode, so that it
// needs no write-ahead log beside it and opens from read-only media.
void standAlone(const QString& target) {
    sqlite3* dst = nullptr;
    if (sqlite3_open_v2(target.toUtf8().constData(), &dst, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
        sqlite3_exec(dst, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_close_v2(dst);
}
}  // namespace

void Database::vacuumInto(const QString& target, qint64 pageSize) const {
    // SQLite makes the copy with the page size last named by a pragma on any
    // file of the connection (a yearly archive attached and made with large
    // pages), not with its source's: the call file would come back from the
    // night's compaction with pages four times as large, and every record
    // would write four times the bytes. The copy keeps its source's size.
    if (pageSize <= 0) pageSize = scalar(QStringLiteral("PRAGMA %1.page_size").arg(quoteIdent(schema_))).toLongLong();
    if (pageSize > 0)
        execute(QStringLiteral("PRAGMA %1.page_size=%2").arg(quoteIdent(schema_), QString::number(pageSize)));
    execute(QStringLiteral("VACUUM %1 INTO ?").arg(quoteIdent(schema_)), {target});
    standAlone(target);
}

bool Database::quickCheck() const {
    try {
        Recordset rs = query(QStringLiteral("PRAGMA %1.quick_check").arg(quoteIdent(schema_)));
        return !rs.empty() && rs.value(0).toString() == "ok";
    } catch (const DbError&) {
        return false;
    }
}

namespace {
std::function<void(const QString&)> g_integrityCheckHook;
}  // namespace

namespace testing {
void setIntegrityCheckHook(std::function<void(const QString&)> hook) { g_integrityCheckHook = std::move(hook); }
void fullCheckRuns(const QString& path) {
    if (g_integrityCheckHook) g_integrityCheckHook(path);
}
}  // namespace testing

bool Database::integrityCheck() const {
    testing::fullCheckRuns(path());
    return runCheck(true);
}

bool Database::structureCheck() const { return runCheck(false); }

namespace {
// The full check's cache, once freed, is handed back to the system: the
// process would otherwise keep it resident for the rest of the session.
void giveBackCheckCache(bool full) {
#ifdef __GLIBC__
    if (full) malloc_trim(0);
#else
    (void)full;
#endif
}
}  // namespace

bool Database::runCheck(bool full) const {
    const QString s = quoteIdent(schema_);
    // The full check looks every row up in each of its table's indexes: with
    // the engine's small default cache it reads the pages of a large file
    // again and again (from the system's cache, not the disk). A larger cache
    // reads fewer of them twice, but a station PC may have little memory: the
    // cache grows with the file up to a bound (past 8 MB a call file of a
    // million calls is checked no faster), and is given back when the check
    // is done. The quick check reads each page once: it keeps the cache it has.
    constexpr qint64 kMaxCheckCacheKiB = 8 * 1024;
    QVariant cache;
    if (full) try {
        cache = scalar(QStringLiteral("PRAGMA %1.cache_size").arg(s));
        const qint64 kib = scalar(QStringLiteral("PRAGMA %1.page_count").arg(s)).toLongLong() *
                           scalar(QStringLiteral("PRAGMA %1.page_size").arg(s)).toLongLong() / 1024;
        execute(QStringLiteral("PRAGMA %1.cache_size=%2").arg(s).arg(-qBound<qint64>(2048, kib + 1024, kMaxCheckCacheKiB)));
    } catch (const DbError&) {
        cache = QVariant();   // the check itself says what is wrong
    }
    auto restoreCache = [&] {
        if (cache.isValid()) tryExecute(QStringLiteral("PRAGMA %1.cache_size=%2").arg(s).arg(cache.toLongLong()));
    };
    try {
        QStringList out;
        for (RowReader r = rows(QStringLiteral("PRAGMA %1.%2").arg(s, full ? QStringLiteral("integrity_check") : QStringLiteral("quick_check")));
             r.next();)
            out << r.text(0);
        restoreCache();
        giveBackCheckCache(full);
        // A page the disk would not give is listed among what the check found
        // ("unable to get the page. error code=266", "failed to get page 12")
        // instead of failing it: the disk's fault, not the file's.
        static const QRegularExpression unread(QStringLiteral("unable to get the page\\. error code=(\\d+)|failed to get page"));
        for (const QString& line : out) {
            const QRegularExpressionMatch m = unread.match(line);
            const int code = m.captured(1).toInt() & 0xff;
            if (m.hasMatch() && code != SQLITE_CORRUPT && code != SQLITE_NOTADB) throw DbError(kErrDiskIO, line);
        }
        return out == QStringList{QStringLiteral("ok")};
    } catch (const DbError& e) {
        restoreCache();
        giveBackCheckCache(full);
        if (meansDamage(e)) return false;
        throw;
    }
}

QString troubleCause(const DbError& e) {
    switch (e.number()) {
    case kErrDiskFull: return QStringLiteral("磁盘已满");
    case kErrReadOnly: return QStringLiteral("文件或文件夹为只读，没有写入权限");
    case kErrDiskIO: return QStringLiteral("磁盘读写错误");
    case kErrExclusive: return QStringLiteral("文件被其他程序占用");
    case kErrFileNotFound: return QStringLiteral("文件无法打开");
    default: return OperatorText(e);
    }
}

void Database::backupTo(const QString& target) const {
    if (!isOpen()) throw DbError(kErrClosed, QStringLiteral("数据库未打开"));
    sqlite3* dst = nullptr;
    int rc = sqlite3_open_v2(target.toUtf8().constData(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(dst);
        throw DbError(mapError(rc), QStringLiteral("无法写入 '%1'").arg(target));
    }
    // The copy is written once, front to back: pages kept for it are memory
    // held for nothing (a call file is copied beside its check at the start).
    sqlite3_exec(dst, "PRAGMA cache_size=-256", nullptr, nullptr, nullptr);
    sqlite3_backup* b = sqlite3_backup_init(dst, "main", conn_->db, schema_.toUtf8().constData());
    if (!b) {
        QString msg = QString::fromUtf8(sqlite3_errmsg(dst));
        sqlite3_close_v2(dst);
        throw DbError(kErrGeneric, msg);
    }
    rc = sqlite3_backup_step(b, -1);
    sqlite3_backup_finish(b);
    if (rc == SQLITE_DONE) sqlite3_exec(dst, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_close_v2(dst);
    if (rc != SQLITE_DONE) throw DbError(mapError(rc), QStringLiteral("复制数据库失败 '%1'").arg(target));
}

sqlite3* Database::raw() const {
    // Whoever writes through the handle commits as the files were asked to.
    if (conn_ && conn_->db) {
        try {
            conn_->settleDurability();
        } catch (const DbError&) {
            // Left as it was: the next statement through this layer tries again.
        }
    }
    return conn_ ? conn_->db : nullptr;
}

// ---------------------------------------------------------------- Transaction

Transaction::Transaction(const Database& db) : db_(db) { db_.begin(); }
Transaction::~Transaction() {
    if (!done_) db_.rollback();
}
void Transaction::commit() {
    db_.commit();
    done_ = true;
}

// ---------------------------------------------------------------- Recordset

void Recordset::close() {
    open_ = false;
    rows_.clear();
    keys_.clear();
    current_.clear();
    loadedPos_ = -2;
}

// Every move forgets the row read, so a dynaset shows the row as it is now.
void Recordset::moveFirst() { pos_ = 0; loadedPos_ = -2; }
void Recordset::moveLast() { pos_ = count() - 1; loadedPos_ = -2; }
void Recordset::moveNext() { if (pos_ < count()) ++pos_; loadedPos_ = -2; }
void Recordset::move(int absolute) { pos_ = absolute; loadedPos_ = -2; }

bool Recordset::findFirst(const std::function<bool(const Recordset&)>& pred) {
    const int save = pos_;
    for (pos_ = 0; pos_ < count(); ++pos_) {
        loadedPos_ = -2;
        if (pred(*this)) return true;
    }
    pos_ = save;
    loadedPos_ = -2;
    return false;
}

bool Recordset::findNext(const std::function<bool(const Recordset&)>& pred) {
    const int save = pos_;
    for (++pos_; pos_ < count(); ++pos_) {
        loadedPos_ = -2;
        if (pred(*this)) return true;
    }
    pos_ = save;
    loadedPos_ = -2;
    return false;
}

bool Recordset::findFirst(const QString& column, const QVariant& value) {
    const int i = fieldIndex(column);
    if (i < 0) return false;
    return findFirst([&](const Recordset& r) {
        QVariant v = r.value(i);
        if (v.isNull() || value.isNull()) return v.isNull() && value.isNull();
        if (v.typeId() == QMetaType::QString || value.typeId() == QMetaType::QString)
            return v.toString().compare(value.toString(), Qt::CaseInsensitive) == 0;
        return v.toLongLong() == value.toLongLong() && v.toDouble() == value.toDouble();
    });
}

int Recordset::fieldIndex(const QString& name) const {
    for (int i = 0; i < cols_.size(); ++i)
        if (cols_[i].compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

FieldType Recordset::fieldType(int i) const {
    QString d = declTypes_.value(i);
    int p = d.indexOf('(');
    if (p >= 0) d = d.left(p);
    return fieldTypeOf(d);
}

void Recordset::load() const {
    if (loadedPos_ == pos_) return;
    current_.clear();
    loadedPos_ = pos_;
    if (pos_ < 0 || pos_ >= count()) return;
    if (!dynaset_) { current_ = rows_[pos_]; return; }
    Recordset one = db_.query(QStringLiteral("SELECT * FROM %1 WHERE rowid=?").arg(table_), {keys_[pos_]});
    if (!one.empty()) current_ = one.rows_[0];
    else for (int i = 0; i < cols_.size(); ++i) current_ << QVariant();  // deleted since: reads as Null
}

QVariant Recordset::value(int i) const {
    if (!open_) throw DbError(kErrClosed, QStringLiteral("记录集未打开"));
    if (pos_ < 0 || pos_ >= count()) throw DbError(kErrGeneric, QStringLiteral("无当前记录"));
    if (mode_ != EditMode::None) {
        for (const auto& p : pending_) if (p.first.compare(cols_.value(i), Qt::CaseInsensitive) == 0) return p.second;
        if (mode_ == EditMode::Add) return {};
    }
    load();
    return current_.value(i);
}

QVariant Recordset::value(const QString& name) const {
    const int i = fieldIndex(name);
    if (i < 0) throw DbError(kErrGeneric, QStringLiteral("找不到字段 '%1'").arg(name));
    return value(i);
}

QString Recordset::str(const QString& name) const {
    QVariant v = value(name);
    return v.isNull() ? QString() : v.toString();
}
qint64 Recordset::lng(const QString& name) const {
    QVariant v = value(name);
    if (v.isNull()) return 0;
    if (v.typeId() == QMetaType::QString) return v.toString().trimmed().toLongLong();
    return v.toLongLong();
}
double Recordset::dbl(const QString& name) const { return value(name).toDouble(); }
bool Recordset::boolean(const QString& name) const { return lng(name) != 0; }
Currency Recordset::cur(const QString& name) const {
    QVariant v = value(name);
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::QString) return Currency::parse(v.toString()).value_or(Currency());
    if (v.typeId() == QMetaType::Double) return Currency::fromRaw(static_cast<int64_t>(v.toDouble() >= 0 ? v.toDouble() + 0.5 : v.toDouble() - 0.5));
    return Currency::fromRaw(v.toLongLong());
}
QDateTime Recordset::date(const QString& name) const { return parseDate(value(name)); }

QVariantList Recordset::row() const {
    QVariantList r;
    for (int i = 0; i < cols_.size(); ++i) r << value(i);
    return r;
}

void Recordset::addNew() {
    if (!dynaset_) throw DbError(kErrGeneric, QStringLiteral("记录集不能更新"));
    mode_ = EditMode::Add;
    pending_.clear();
}
void Recordset::edit() {
    if (!dynaset_) throw DbError(kErrGeneric, QStringLiteral("记录集不能更新"));
    if (pos_ < 0 || pos_ >= count()) throw DbError(kErrGeneric, QStringLiteral("无当前记录"));
    mode_ = EditMode::Edit;
    pending_.clear();
}
void Recordset::set(const QString& name, const Param& value) {
    if (mode_ == EditMode::None) throw DbError(kErrGeneric, QStringLiteral("未调用 AddNew 或 Edit"));
    const int i = fieldIndex(name);
    if (i < 0) throw DbError(kErrGeneric, QStringLiteral("找不到字段 '%1'").arg(name));
    for (auto& p : pending_) if (p.first == cols_[i]) { p.second = value.v; return; }
    pending_ << qMakePair(cols_[i], value.v);
}
void Recordset::update() {
    if (mode_ == EditMode::None) throw DbError(kErrGeneric, QStringLiteral("未调用 AddNew 或 Edit"));
    Params params;
    QStringList names;
    for (const auto& p : pending_) { names << quoteIdent(p.first); params << Param(p.second); }
    if (mode_ == EditMode::Add) {
        QString sql = names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table_)
                                      : QStringLiteral("INSERT INTO %1(%2) VALUES(%3)").arg(table_, names.join(','),
                                            QStringList(QList<QString>(names.size(), "?")).join(','));
        db_.execute(sql, params);
        keys_ << db_.lastInsertRowId();
        // DAO leaves the cursor where it was after AddNew/Update.
    } else if (!names.isEmpty()) {
        QStringList sets;
        for (const QString& n : names) sets << n + "=?";
        params << Param(keys_[pos_]);
        db_.execute(QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?").arg(table_, sets.join(',')), params);
    }
    mode_ = EditMode::None;
    pending_.clear();
    loadedPos_ = -2;
}
void Recordset::remove() {
    if (!dynaset_) throw DbError(kErrGeneric, QStringLiteral("记录集不能更新"));
    if (pos_ < 0 || pos_ >= count()) throw DbError(kErrGeneric, QStringLiteral("无当前记录"));
    db_.execute(QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(table_), {keys_[pos_]});
    loadedPos_ = -2;  // the key stays; its row reads as Null, as a deleted DAO row
}
void Recordset::requery() {
    if (!dynaset_) return;
    serial_ = ++g_recordsetSerial;
    keys_.clear();
    Recordset k = db_.query(keySql_, keyParams_);
    for (const auto& r : k.rows_) keys_ << r.value(0).toLongLong();
    pos_ = 0;
    loadedPos_ = -2;
}

}  // namespace platform
