#pragma once
// Our layer in place of the Jet engine: SQLite files under the station's file
// names, one connection for the data directory (other files attached to it),
// bound statements, DAO-like recordsets, transactions and introspection.
#include "platform/Currency.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform {

// Error numbers the station's procedures tell apart.
enum DbErrorCode {
    kErrGeneric = 3000,
    kErrFileNotFound = 3024,      // the file does not exist
    kErrNotADatabase = 3343,      // unrecognised or damaged file
    kErrExclusive = 3356,         // the file is locked by another user of it
    kErrNoSuchTable = 3078,
    kErrDuplicateKey = 3022,
    kErrRequired = 3314,
    kErrClosed = 3420,            // handle not open
    kErrDiskFull = 3026,          // no space left on the disk
    kErrReadOnly = 3051,          // the file or its folder cannot be written
    kErrDiskIO = 3043,            // the disk failed to read or write
};

// How long a statement waits for a file another connection holds locked.
constexpr int kBusyTimeoutMs = 3000;

class DbError : public std::runtime_error {
public:
    DbError(int number, const QString& text) : std::runtime_error(text.toStdString()), number_(number), text_(text) {}
    int number() const { return number_; }
    QString text() const { return text_; }
private:
    int number_;
    QString text_;
};

// True when the error means the file itself is damaged, not that it could
// not be reached (a lock, a full disk, a read-only folder, an I/O error).
inline bool meansDamage(const DbError& e) { return e.number() == kErrNotADatabase; }
// What the operator is told of an error that is not damage ("磁盘已满").
QString troubleCause(const DbError& e);
// What an operator is shown of a failure: a Chinese sentence that names the
// cause (a database locked by another program, a key that exists, a full
// disk...) and never the engine's own text or the SQL it ran. The full text
// goes to the error tracer (the protocol trace window) when one is set.
// Failures of other kinds give their own text when it is Chinese, else a
// plain sentence.
QString OperatorText(const std::exception& e);
void SetErrorTracer(std::function<void(const QString&)> tracer);

// Field types numbered as the station's code expects them.
enum FieldType { ftBoolean = 1, ftByte = 2, ftInteger = 3, ftLong = 4, ftCurrency = 5, ftSingle = 6,
                 ftDouble = 7, ftDate = 8, ftText = 10, ftMemo = 12 };
FieldType fieldTypeOf(const QString& declaredType);

// An SQL identifier in double quotes, for names that are not values (tables, columns, schemas).
QString quoteIdent(const QString& name);

// Date text as stored: "yyyy-MM-dd HH:mm:ss", local time.
QString dateText(const QDateTime& t);
QDateTime parseDate(const QVariant& v);

struct ColumnInfo {
    QString name;
    QString declType;      // e.g. "TEXT(16)", "CURRENCY", "LONG"
    FieldType type = ftText;
    int size = 0;          // text size, 0 when unsized
    bool notNull = false;
    QVariant defaultValue; // as written in the schema (SQL literal text), null when none
    bool primaryKey = false;
};

struct IndexInfo {
    QString name;
    QStringList columns;
    bool unique = false;
    bool primary = false;
};

class Connection;
class Recordset;
class RawRecords;
class RowReader;

// A value bound into a statement: anything QVariant holds, plus Currency.
struct Param {
    QVariant v;
    Param(const QVariant& x) : v(x) {}
    Param(const QString& x) : v(x) {}
    Param(const char* x) : v(QString::fromUtf8(x)) {}
    Param(int x) : v(x) {}
    Param(long x) : v(static_cast<qlonglong>(x)) {}
    Param(long long x) : v(static_cast<qlonglong>(x)) {}
    Param(unsigned x) : v(static_cast<qlonglong>(x)) {}
    Param(double x) : v(x) {}
    Param(bool x) : v(x ? 1 : 0) {}
    Param(Currency c) : v(c.toVariant()) {}
    Param(const QDateTime& t) : v(dateText(t)) {}
    Param(std::nullptr_t) : v() {}
};
using Params = QList<Param>;

// A handle on one database file. Handles are values: copies share the open
// connection. A handle made by attach() names a schema on its parent's
// connection; unqualified table names in SQL resolve across all attached files.
class Database {
public:
    Database() = default;
    // Opens an existing file read-write (never creates it). Throws DbError.
    static Database open(const QString& path);
    // Creates a new empty file (or opens it when it exists).
    static Database create(const QString& path);
    // Opens an existing file that is never written, not even its journal
    // settings: a connection of its own, which may serve another thread.
    static Database openReadOnly(const QString& path);
    // Read-only, and writing nothing beside the file (no "-wal" or "-shm"),
    // so a copy on write-protected media can be checked: the file is read as
    // it stands unless a log or journal beside it must be played.
    static Database openSnapshot(const QString& path);
    // A file's bytes as a read-only database in memory, its schema read
    // leniently: for reading what a damaged file still holds.
    static Database openImage(const QByteArray& image);

    bool isOpen() const;
    explicit operator bool() const { return isOpen(); }
    // Closing the main handle closes the connection; closing an attached one detaches it.
    void close();
    QString path() const;
    QString schema() const { return schema_; }
    bool sameConnection(const Database& o) const { return conn_ == o.conn_; }

    Database attach(const QString& path, const QString& schemaName) const;

    // Runs a statement with bound values; returns the number of rows changed.
    int execute(const QString& sql, const Params& params = {}) const;
    // Runs a statement and ignores a failure (the engine's "no fail on error" writes).
    bool tryExecute(const QString& sql, const Params& params = {}) const;
    // First column of the first row, null when there is none.
    QVariant scalar(const QString& sql, const Params& params = {}) const;
    // A read-only snapshot of a query's rows.
    Recordset query(const QString& sql, const Params& params = {}) const;
    // The same rows kept as SQLite returns them, for readers of every cell.
    RawRecords queryRaw(const QString& sql, const Params& params = {}) const;
    // The rows one at a time, for readers that walk many and keep few.
    RowReader rows(const QString& sql, const Params& params = {}) const;
    // An updatable dynaset over one table: keys fixed now, rows read when visited.
    Recordset openTable(const QString& table, const QString& where = {}, const Params& params = {},
                        const QString& orderBy = {}) const;
    qint64 lastInsertRowId() const;
    // Tells connections apart over time (a reopened file gets a new number); 0 when closed.
    quint64 connectionSerial() const;
    // Moves whenever a file is attached to or detached from the connection,
    // or a statement run through execute() changes a schema. With the
    // connection's serial and the file's own "PRAGMA schema_version" (which
    // also moves for changes made by another connection), it tells a reader
    // that keeps what it learnt of a schema when to look again.
    quint64 schemaGeneration() const;
    // Counts, on this connection, the rows written to the tables named (any
    // schema) and every rollback, so that a copy of them held in memory
    // knows when to read them again. A table emptied by a DELETE without a
    // WHERE is not counted (SQLite drops its rows without telling).
    void watchWrites(const QStringList& tables) const;
    quint64 watchedWrites() const;
    // Counts, on this connection, the rows of the tables named that were
    // changed or deleted (not those added) and every rollback (a savepoint's
    // too): a copy in memory of rows only ever added to reads the new ones
    // alone while this count stands. Counted from the first call on.
    void watchRewrites(const QStringList& tables) const;
    quint64 rewrites() const;

    // Introspection, for this handle's schema.
    QStringList tableNames() const;                       // in creation order
    bool hasTable(const QString& name, bool caseSensitive = false) const;
    QString actualTableName(const QString& name) const;   // stored spelling, "" when absent
    QList<ColumnInfo> columns(const QString& table) const;
    QList<IndexInfo> indexes(const QString& table) const;
    qint64 rowCount(const QString& table) const;
    // "schema.table" for this handle (quoted), for DDL and cross-file SQL.
    QString qualified(const QString& table) const;

    // Transactions on the connection. Files in rollback-journal mode commit
    // together; a file that keeps a write-ahead log commits on its own.
    void begin() const;
    void commit() const;
    void rollback() const;
    bool inTransaction() const;
    // Runs `fn` once the connection's outermost transaction has committed (at
    // once when none is open); a rollback of that transaction drops it. For
    // work that may yield or that must only follow what is durably kept.
    void afterCommit(std::function<void()> fn) const;
    // True when no transaction at all is open on the connection: neither one
    // of ours nor one an SQL text began.
    bool autocommit() const;

    // This schema's file keeps a write-ahead log: a commit that touches one
    // file syncs once. `durableCommits` false lets a commit reach the disk
    // with the next synced one instead (a power cut may undo it, never tear it).
    void useWriteAheadLog(bool durableCommits = true) const;
    // Takes effect at the next statement that may commit (a write, a
    // transaction begun) outside a transaction: asking for the setting the
    // file has already costs nothing.
    void setDurableCommits(bool durable) const;

    // File-level operations.
    // Compaction into a new file, with `pageSize` bytes a page (0: the source's).
    void vacuumInto(const QString& target, qint64 pageSize = 0) const;
    bool quickCheck() const;
    // The full check: true when sound, false when the file is damaged (it
    // fails the check or the engine reports it corrupt). Any other failure
    // (a lock, a full disk, an I/O error) is thrown: it says nothing of damage.
    bool integrityCheck() const;
    // The quick check (every page read, the trees' structure, the free list,
    // the constraints of each row; not that each index matches its table),
    // answered as integrityCheck answers.
    bool structureCheck() const;
    void backupTo(const QString& target) const;     // online copy of this schema

    sqlite3* raw() const;

private:
    static void runAfterCommit(const std::shared_ptr<Connection>& conn);
    bool runCheck(bool full) const;
    std::shared_ptr<Connection> conn_;
    QString schema_ = QStringLiteral("main");
    friend class Recordset;
};

// RAII transaction: rolls back unless committed.
class Transaction {
public:
    explicit Transaction(const Database& db);
    ~Transaction();
    void commit();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
private:
    Database db_;
    bool done_ = false;
};

// Number of transactions open right now on any connection. A wait that yields
// while it is not zero is counted (platform::yieldsInTransaction), and the
// tests fail the test that caused it; the work that may wait is queued with
// Database::afterCommit instead.
int openTransactionCount();

// The recordset the station's procedures walk: a snapshot of a query, or a
// dynaset over a table whose current row is read from the file at each move.
class Recordset {
public:
    Recordset() = default;
    bool isOpen() const { return open_; }
    void close();

    bool eof() const { return pos_ >= count(); }
    bool bof() const { return pos_ < 0; }
    bool empty() const { return count() == 0; }
    int recordCount() const { return count(); }
    int absolutePosition() const { return pos_; }
    void moveFirst();
    void moveLast();
    void moveNext();
    void move(int absolute);
    // Finds the first row (from the top) for which pred is true; leaves the
    // cursor there and returns true, or leaves it where it was and returns false.
    bool findFirst(const std::function<bool(const Recordset&)>& pred);
    bool findNext(const std::function<bool(const Recordset&)>& pred);
    bool findFirst(const QString& column, const QVariant& value);

    int fieldCount() const { return cols_.size(); }
    QString fieldName(int i) const { return cols_.value(i); }
    int fieldIndex(const QString& name) const;   // case-insensitive, -1 when absent
    FieldType fieldType(int i) const;
    QVariant value(int i) const;
    QVariant value(const QString& name) const;
    bool isNull(const QString& name) const { return value(name).isNull(); }
    QString str(const QString& name) const;            // "" for Null
    qint64 lng(const QString& name) const;             // 0 for Null
    double dbl(const QString& name) const;
    bool boolean(const QString& name) const;           // non-zero
    Currency cur(const QString& name) const;           // stored ten-thousandths
    QDateTime date(const QString& name) const;
    QVariantList row() const;

    // Editing (dynasets only): addNew/edit, set, update; remove deletes the current row.
    void addNew();
    void edit();
    void set(const QString& name, const Param& value);
    void update();
    void remove();
    // Re-reads the keys (DAO's Requery).
    void requery();
    // Changes whenever the recordset is opened anew or requeried (copies share it):
    // lets a reader that keeps its own copy of the rows notice a reopen. 0 when never opened.
    quint64 openSerial() const { return open_ ? serial_ : 0; }

private:
    friend class Database;
    int count() const { return dynaset_ ? keys_.size() : rows_.size(); }
    void load() const;
    Database db_;
    bool open_ = false;
    bool dynaset_ = false;
    QString table_;
    QString keySql_;
    Params keyParams_;
    QStringList cols_;
    QStringList declTypes_;
    QList<QVariantList> rows_;   // snapshot rows
    QList<qint64> keys_;         // dynaset rowids
    int pos_ = 0;
    quint64 serial_ = 0;
    mutable int loadedPos_ = -2;
    mutable QVariantList current_;
    enum class EditMode { None, Add, Edit } mode_ = EditMode::None;
    QList<QPair<QString, QVariant>> pending_;
};

// A query's rows as SQLite returns them: numbers kept as numbers and texts as
// UTF-8 in one buffer, without an object per cell. For loaders that turn
// thousands of cells into text once; value() gives what a Recordset would.
class RawRecords {
public:
    enum Kind : quint8 { Null, Integer, Float, Text, Blob };

    int recordCount() const { return fields_ ? int(cells_.size() / size_t(fields_)) : 0; }
    int fieldCount() const { return fields_; }
    QString fieldName(int c) const { return names_.value(c); }
    int fieldIndex(const QString& name) const;   // case-insensitive, -1 when absent
    FieldType fieldType(int c) const;
    // Where a field is read from: the schema, table and column of the file;
    // "" for a field computed by the query.
    QString originSchema(int c) const { return origins_.value(c).schema; }
    QString originTable(int c) const { return origins_.value(c).table; }
    QString originField(int c) const { return origins_.value(c).column; }

    Kind kind(int r, int c) const { return cell(r, c).kind; }
    qint64 integer(int r, int c) const { return cell(r, c).i; }          // of an Integer cell
    double real(int r, int c) const { return cell(r, c).d; }             // of a Float cell
    QByteArrayView bytes(int r, int c) const {                           // of a Text or Blob cell
        const Cell& x = cell(r, c);
        return QByteArrayView(data_.constData() + x.s.at, x.s.size);
    }
    QString text(int r, int c) const { return QString::fromUtf8(bytes(r, c)); }   // of a Text cell
    QVariant value(int r, int c) const;

private:
    friend class Database;
    struct Cell {
        union {
            qint64 i;
            double d;
            struct {
                quint32 at, size;
            } s;
        };
        Kind kind;
    };
    struct Origin {
        QString schema, table, column;
    };
    const Cell& cell(int r, int c) const { return cells_[size_t(r) * size_t(fields_) + size_t(c)]; }
    // Copies `size` bytes to the end of the buffer; returns where they start.
    quint32 keep(const char* p, quint32 size) {
        const qsizetype at = data_.size();
        if (size > 0) {
            data_.resize(at + size);
            std::memcpy(data_.data() + at, p, size);
        }
        return quint32(at);
    }
    int fields_ = 0;
    QStringList names_;
    QStringList declTypes_;
    QList<Origin> origins_;
    std::vector<Cell> cells_;
    QByteArray data_;
};

// A query read one row at a time: the current row's cells are read in place
// through typed getters, without a value object per cell. The statement is the
// reader's own while it lives, never shared with another statement of the same
// text, and is reset (kept for the next reader of that text) when the reader
// goes, however the walk ends. A failing step throws
// DbError with this layer's error numbers and the statement's SQL.
//
//     for (RowReader r = db.rows(sql, {from, to}); r.next();) use(r.integer(0), r.text(1));
class RowReader {
public:
    RowReader(RowReader&& o) noexcept;
    RowReader& operator=(RowReader&& o) noexcept;
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;
    ~RowReader();

    // Steps to the next row; false once past the last one. A step that threw
    // ends the walk: every further step is false (the query is never started over).
    bool next();

    int fieldCount() const;
    QString fieldName(int c) const;
    RawRecords::Kind kind(int c) const;
    bool isNull(int c) const { return kind(c) == RawRecords::Null; }
    qint64 integer(int c) const;          // as SQLite converts the cell; 0 for Null
    double real(int c) const;
    Currency cur(int c) const { return Currency::fromRaw(integer(c)); }   // stored ten-thousandths
    // The bytes of a text (UTF-8) or blob cell, empty for Null; a number reads
    // as its text. Valid until the next step.
    QByteArrayView bytes(int c) const;
    // The text ending in NUL, nullptr for Null. Valid until the next step.
    const char* cstr(int c) const;
    QString text(int c) const { return QString::fromUtf8(bytes(c)); }   // "" for Null

private:
    friend class Database;
    RowReader(std::shared_ptr<Connection> conn, sqlite3_stmt* st) : conn_(std::move(conn)), st_(st) {}
    void release();
    std::shared_ptr<Connection> conn_;
    sqlite3_stmt* st_ = nullptr;
    bool done_ = false;   // past the last row: a further step would start the query again
    QString sql_;         // the text it was borrowed under from the connection's statements
    quint64 generation_ = 0;
};

namespace testing {
// Called with the file's path before each full check (integrityCheck) runs:
// a test sees which files a step checks. Null removes it.
void setIntegrityCheckHook(std::function<void(const QString& path)> hook);
// Called by a check of the whole file that read what the full check looks
// up in another order and found it sound: the hook sees the full check it
// stood for.
void fullCheckRuns(const QString& path);
}  // namespace testing

}  // namespace platform
