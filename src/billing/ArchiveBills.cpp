#include "billing/ArchiveBills.h"

#include "core/ChargeLog.h"
#include "core/JournalFile.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"
#include "platform/DbPages.h"
#include "platform/Files.h"
#include "core/Notices.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <algorithm>
#include <limits>
#include <optional>

using platform::Database;
using platform::DbError;
using platform::Transaction;

namespace billing {

namespace {

const QString kCurrentTable = QStringLiteral("Tab_Phone");
// The archive being filled is attached under a name of its own, so that a
// reader's attachment of the same year is left alone.
const QString kArchiveSchema = QStringLiteral("archive_move");
const QString kWorkFile = QStringLiteral("tmp.mdb");

ArchiveRun g_last;
bool g_running = false;
int g_holds = 0;
std::function<void(testing::ArchiveStage)> g_hook;

void stage(testing::ArchiveStage s) {
    if (g_hook) g_hook(s);
}

using platform::quoteIdent;

QString indexName(const QString& table) { return QStringLiteral("ix_%1_user_date").arg(table); }

bool hasColumn(const QList<platform::ColumnInfo>& cols, const QString& name) {
    for (const auto& c : cols)
        if (c.name.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

void ensureIndex(const Database& arch, const QString& table) {
    const auto cols = arch.columns(table);
    if (!hasColumn(cols, "f_userid") || !hasColumn(cols, "f_date")) return;
    arch.execute(QStringLiteral("CREATE INDEX IF NOT EXISTS %1.%2 ON %3 (f_userid, f_date)")
                     .arg(quoteIdent(arch.schema()), quoteIdent(indexName(table)), quoteIdent(table)));
}

// A call is the call stored already when its extension and start are equal,
// as the duplicate check of the call-record engine has it.
bool hasCallKey(const Database& db, const QString& table) {
    const auto cols = db.columns(table);
    return hasColumn(cols, "f_calladdr") && hasColumn(cols, "f_date");
}

// The index that finds a call of a month table by that key: the call-record
// engine's duplicate check asks the month table of every record, so a table
// gets it when the run creates it, and an older one when a move or a
// clean-up first asks it for calls it may hold already.
void ensureKeyIndex(const Database& arch, const QString& table) {
    arch.execute(QStringLiteral("CREATE INDEX IF NOT EXISTS %1.%2 ON %3 (f_calladdr, f_date)")
                     .arg(quoteIdent(arch.schema()), quoteIdent(QStringLiteral("ix_%1_calladdr_date").arg(table)),
                          quoteIdent(table)));
}

// Whether a table of `db` has an index whose first columns are the call's
// key (extension and start), in either order.
bool hasKeyIndex(const Database& db, const QString& table) {
    const QString schema = quoteIdent(db.schema());
    QStringList indexes;
    for (platform::RowReader r = db.rows(QStringLiteral("PRAGMA %1.index_list(%2)").arg(schema, quoteIdent(table))); r.next();)
        indexes << r.text(1);
    for (const QString& ix : indexes) {
        QStringList first;
        for (platform::RowReader r = db.rows(QStringLiteral("PRAGMA %1.index_info(%2)").arg(schema, quoteIdent(ix)));
             r.next() && first.size() < 2;)
            first << r.text(2).toLower();
        if (first.size() == 2 && first.contains(QStringLiteral("f_calladdr")) && first.contains(QStringLiteral("f_date")))
            return true;
    }
    return false;
}

// The month tables of a year file, in the order they were made.
QStringList callTables(const Database& db) {
    QStringList names;
    for (platform::RowReader r = db.rows(QStringLiteral("SELECT name FROM %1.sqlite_master WHERE type='table' AND "
                                                        "name NOT LIKE 'sqlite_%' ORDER BY rowid")
                                             .arg(quoteIdent(db.schema())));
         r.next();)
        names << r.text(0);
    return names;
}

qint64 rootPage(const Database& db, const QString& table) {
    return db.scalar(QStringLiteral("SELECT rootpage FROM %1.sqlite_master WHERE type='table' AND name=?").arg(quoteIdent(db.schema())),
                     {table})
        .toLongLong();
}

// A month table held in two year files, narrowed by their pages to the rows
// that may differ: "side" 0 the rows of `a` not on a leaf page both hold
// alike, 1 those of `b`, as row-number spans in the temporary table
// temp.merge_spans under the number `tab`. False (nothing noted) when the
// pages tell too little: then every row is compared. Before either file is
// written in the connection's transaction.
bool noteSpans(const platform::LeafComparer& pages, const Database& conn, int tab, const Database& a, const QString& ta,
               const Database& b, const QString& tb) {
    const platform::LeavesCompared c = pages.compare(rootPage(a, ta), rootPage(b, tb));
    // Files whose pages mostly differ (a file compacted since its copy) are
    // compared row by row at once, not twice.
    if (!c.compared || c.onlyA.size() > 8 + c.leavesA / 8 || c.onlyB.size() > 8 + c.leavesB / 8) return false;
    conn.execute(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS merge_spans (tab INTEGER, side INTEGER, lo INTEGER, hi INTEGER)"));
    for (int side = 0; side < 2; ++side)
        for (const platform::RowSpan& r : side == 0 ? c.onlyA : c.onlyB)
            conn.execute(QStringLiteral("INSERT INTO temp.merge_spans VALUES (?, ?, ?, ?)"), {tab, side, r.first, r.last});
    return true;
}

// The rows of `table` on side `side` of the spans `tab`, as "<alias>".
QString spanRows(const Database& db, const QString& table, int tab, int side, const QString& alias) {
    return QStringLiteral("temp.merge_spans AS s%4 CROSS JOIN %1 AS %2 ON %2.rowid BETWEEN s%4.lo AND s%4.hi AND s%4.tab=%3 AND s%4.side=%5")
        .arg(db.qualified(table), alias)
        .arg(tab)
        .arg(alias)
        .arg(side);
}

// A temporary copy, indexed by the call's key, of the rows of `table` on side
// `side` of the spans `tab`: the few rows a comparison reads again and again.
QString restTable(const Database& db, const QString& table, const QStringList& columns, int tab, int side) {
    const QString name = QStringLiteral("merge_rest_%1_%2").arg(tab).arg(side);
    QStringList cols;
    for (const QString& c : columns) cols << QStringLiteral("r.%1").arg(quoteIdent(c));
    db.execute(QStringLiteral("CREATE TEMP TABLE %1 AS SELECT %2 FROM %3")
                   .arg(quoteIdent(name), cols.join(QLatin1Char(',')), spanRows(db, table, tab, side, QStringLiteral("r"))));
    db.execute(QStringLiteral("CREATE INDEX temp.%1 ON %2 (f_calladdr, f_date)").arg(quoteIdent(name + QStringLiteral("_ix")), quoteIdent(name)));
    return QStringLiteral("temp.") + quoteIdent(name);
}

void dropTemporaries(const Database& db) {
    QStringList names;
    for (platform::RowReader r = db.rows(QStringLiteral("SELECT name FROM temp.sqlite_master WHERE type='table'")); r.next();)
        names << r.text(0);
    for (const QString& n : names) db.execute(QStringLiteral("DROP TABLE temp.%1").arg(quoteIdent(n)));
}

QStringList columnNames(const Database& db, const QString& table) {
    QStringList names;
    for (const auto& c : db.columns(table)) names << c.name.toLower();
    return names;
}

// True for a row of the current table `curTable` whose call the month table holds.
QString inMonthTable(const Database& arch, const QString& table, const QString& curTable) {
    return QStringLiteral("EXISTS (SELECT 1 FROM %1 AS a WHERE a.f_calladdr=%2.f_calladdr AND a.f_date=%2.f_date)")
        .arg(arch.qualified(table), quoteIdent(curTable));
}

// False when no row of the current table `curTable` in one month's span can
// be a call the month table holds: for every extension among those rows, its
// earliest start there is later than the latest start the month table holds
// for it. That is the usual night, the day's calls coming after the month's,
// and it costs one look-up in the key index per extension instead of one per
// call. Equal values are ordered alike by min, max and <=, so a call under an
// archived key is never passed over.
bool mayHoldAlready(const Database& cur, const QString& curTable, const Database& arch, const QString& table,
                    const platform::Params& span, const QString& spanCondition) {
    return cur.scalar(QStringLiteral("SELECT EXISTS (SELECT 1 FROM (SELECT f_calladdr AS k, min(f_date) AS lo FROM %1 "
                                     "WHERE %2 GROUP BY +f_calladdr) "
                                     "WHERE lo <= (SELECT max(a.f_date) FROM %3 AS a WHERE a.f_calladdr=k))")
                          .arg(cur.qualified(curTable), spanCondition, arch.qualified(table)),
                      span).toBool();
}

// Rows of the current table `curTable`, in one month's span, whose call the
// month table holds under the same key but with other content (another
// length, fee or number): a call the switch sent twice with different
// contents, or a file put back that differs. The current one is not the
// archived call and is not dropped unseen: it goes to the reject rows, as
// the engine keeps a duplicate it refuses. Returns how many.
qint64 rejectDiffering(const Database& cur, const QString& curTable, const QList<platform::ColumnInfo>& curCols,
                       const Database& arch, const QString& table, const platform::Params& span,
                       const QString& spanCondition) {
    const auto archCols = arch.columns(table);
    QStringList same;
    for (const auto& c : curCols)
        if (hasColumn(archCols, c.name))
            same << QStringLiteral("a.%1 IS %2.%1").arg(quoteIdent(c.name), quoteIdent(curTable));
    const QString differing =
        QStringLiteral("%1 AND %2 AND NOT EXISTS (SELECT 1 FROM %3 AS a WHERE %4)")
            .arg(spanCondition, inMonthTable(arch, table, curTable), arch.qualified(table), same.join(QStringLiteral(" AND ")));
    const qint64 n =
        cur.scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(cur.qualified(curTable), differing), span).toLongLong();
    if (n == 0) return 0;
    const QString rejects = cur.actualTableName(QStringLiteral("tab_errPh"));
    if (rejects.isEmpty()) throw DbError(platform::kErrNoSuchTable, QStringLiteral("找不到表 tab_errPh"));
    // The reject row's length is the frame's "hh:mm:ss".
    const QString length = QStringLiteral("printf('%02d:%02d:%02d', f_long / 3600, f_long % 3600 / 60, f_long % 60)");
    cur.execute(QStringLiteral("INSERT INTO ") + cur.qualified(rejects) +
                    QStringLiteral(" (f_calladdr, f_zjaddr, f_date, f_long, f_resp, f_zh) SELECT f_calladdr, f_zjaddr, "
                                   "f_date, ") +
                    length + QStringLiteral(", f_resp, f_zh FROM ") + cur.qualified(curTable) + QStringLiteral(" WHERE ") +
                    differing + QStringLiteral(" ORDER BY rowid"),
                span);
    return n;
}

// A month table takes the current table's own definition (columns, types,
// defaults, NOT NULL and key), whatever columns the pricing gives it.
void createMonthTable(const Database& cur, const QString& curTable, const Database& arch, const QString& table) {
    const QString sql = cur.scalar(QStringLiteral("SELECT sql FROM %1.sqlite_master WHERE type='table' AND name=?")
                                       .arg(quoteIdent(cur.schema())),
                                   {curTable}).toString();
    const int paren = sql.indexOf('(');
    if (paren < 0) throw DbError(platform::kErrGeneric, QStringLiteral("无法读取表 %1 的定义").arg(curTable));
    arch.execute(QStringLiteral("CREATE TABLE %1 %2").arg(arch.qualified(table), sql.mid(paren)));
}

// A month table written before the current table gained a column gets it, so
// the copy stays column for column.
void addMissingColumns(const QList<platform::ColumnInfo>& curCols, const Database& arch, const QString& table) {
    const auto have = arch.columns(table);
    for (const auto& c : curCols) {
        if (hasColumn(have, c.name)) continue;
        QString def = quoteIdent(c.name) + ' ' + c.declType;
        if (!c.defaultValue.isNull()) {
            def += " DEFAULT " + c.defaultValue.toString();
            if (c.notNull) def += " NOT NULL";
        }
        arch.execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(arch.qualified(table), def));
    }
}

// Where the rows of one month lay when the run began: the rowids run in the
// order the calls were stored, so a month is usually one narrow rowid range.
struct MonthSpan {
    qint64 first = 0;
    qint64 last = 0;
    qint64 rows = 0;
    bool pure = false;   // no row of another month, nor one without a month, lies within
};

// "yyyy-MM-dd..." with a month 1 to 12: the stored date form. A call without
// such a date has no month to go to and stays current.
bool monthKeyOf(QByteArrayView text, int* year, int* month) {
    const auto* d = reinterpret_cast<const unsigned char*>(text.data());
    if (!d || text.size() < 10) return false;
    auto digit = [&](int i) { return d[i] >= '0' && d[i] <= '9'; };
    if (!digit(0) || !digit(1) || !digit(2) || !digit(3) || d[4] != '-' || !digit(5) || !digit(6) || d[7] != '-' ||
        d[8] < '0' || d[8] > '3' || !digit(9))
        return false;
    *year = (d[0] - '0') * 1000 + (d[1] - '0') * 100 + (d[2] - '0') * 10 + (d[3] - '0');
    *month = (d[5] - '0') * 10 + (d[6] - '0');
    return *year >= 1 && *month >= 1 && *month <= 12;
}
// The same test in SQL, for one month: "2026-03-[0-3][0-9]*".
QString monthPattern(int year, int month) {
    return QStringLiteral("%1-%2-[0-3][0-9]*").arg(year, 4, 10, QChar('0')).arg(month, 2, 10, QChar('0'));
}

// One pass over the current table: the months present and their rowid spans.
// A span no row of another month or without a month lies in is marked pure:
// its rows are taken by their rowids alone, without the date test for each.
QMap<int, QMap<int, MonthSpan>> listMonths(const Database& cur, const QString& curTable) {
    QMap<int, QMap<int, MonthSpan>> years;
    int year = 0, month = 0, lastYear = 0, lastMonth = 0;
    MonthSpan* span = nullptr;  // the previous row's month: neighbours mostly share it
    // The rows without a month, as long as they are few; past that no span is taken as pure.
    constexpr int kStrayLimit = 4096;
    QVector<qint64> strays;
    bool manyStrays = false;
    for (platform::RowReader r = cur.rows(QStringLiteral("SELECT rowid, f_date FROM %1").arg(cur.qualified(curTable)));
         r.next();) {
        if (!monthKeyOf(r.bytes(1), &year, &month)) {
            if (strays.size() < kStrayLimit) strays << r.integer(0);
            else manyStrays = true;
            continue;
        }
        const qint64 id = r.integer(0);
        if (!span || year != lastYear || month != lastMonth) {
            auto& months = years[year];
            auto it = months.find(month);
            if (it == months.end()) it = months.insert(month, MonthSpan{id, id, 0});
            span = &it.value();
            lastYear = year;
            lastMonth = month;
        }
        ++span->rows;
        span->first = std::min(span->first, id);
        span->last = std::max(span->last, id);
    }
    if (manyStrays) return years;
    // A span that overlaps no other and holds no row without a month holds
    // only its month's rows: every row inside it lies in some month's span.
    QVector<MonthSpan*> spans;
    for (auto& months : years)
        for (MonthSpan& m : months) spans << &m;
    std::sort(spans.begin(), spans.end(), [](const MonthSpan* a, const MonthSpan* b) { return a->first < b->first; });
    std::sort(strays.begin(), strays.end());
    for (int i = 0; i < spans.size(); ++i) {
        MonthSpan& m = *spans[i];
        const bool apart = (i == 0 || spans[i - 1]->last < m.first) && (i + 1 == spans.size() || m.last < spans[i + 1]->first);
        const auto stray = std::lower_bound(strays.cbegin(), strays.cend(), m.first);
        m.pure = apart && (stray == strays.cend() || *stray > m.last);
    }
    return years;
}

// The rows of one month that lay in its span when the run began.
QString monthCondition(const MonthSpan& span) {
    return span.pure ? QStringLiteral("rowid BETWEEN ? AND ?") : QStringLiteral("rowid BETWEEN ? AND ? AND f_date GLOB ?");
}
platform::Params monthParams(int year, int month, const MonthSpan& span) {
    if (span.pure) return {span.first, span.last};
    return {span.first, span.last, monthPattern(year, month)};
}

// What the copy of one month did: the calls copied, and those of the span the
// month table held already (a call file put back from a copy made before an
// earlier run holds calls that run moved).
struct MonthCopy {
    qint64 copied = 0;
    qint64 archived = 0;    // leaving without a copy, the rejected among them
    qint64 rejected = 0;    // held under the same key with other content: kept as reject rows
};

// Copies one month: the month's rows that lay in its span when the run began,
// but for those whose call the month table holds already. A call stored after
// the run began has a higher rowid and stays current.
MonthCopy copyMonth(const Database& cur, const QString& curTable, const QList<platform::ColumnInfo>& curCols,
                    const Database& arch, int year, int month, const MonthSpan& span) {
    QStringList names;
    for (const auto& c : curCols) names << quoteIdent(c.name);
    const QString colList = names.join(',');
    QString table = arch.actualTableName(MonthTableName(month));
    const bool fresh = table.isEmpty();
    if (fresh) {
        table = MonthTableName(month);
        createMonthTable(cur, curTable, arch, table);
    } else {
        addMissingColumns(curCols, arch, table);
        ensureIndex(arch, table);
    }
    bool check = !fresh && hasCallKey(arch, table) && hasCallKey(cur, curTable);
    if (check) {
        ensureKeyIndex(arch, table);
        check = mayHoldAlready(cur, curTable, arch, table, monthParams(year, month, span), monthCondition(span));
    }
    MonthCopy done;
    done.copied = cur.execute(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 WHERE %4%5 ORDER BY rowid")
                                  .arg(arch.qualified(table), colList, cur.qualified(curTable), monthCondition(span),
                                       check ? " AND NOT " + inMonthTable(arch, table, curTable) : QString()),
                              monthParams(year, month, span));
    if (check)
        done.archived = cur.scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(cur.qualified(curTable), monthCondition(span)),
                                   monthParams(year, month, span)).toLongLong() - done.copied;
    if (done.archived > 0)
        done.rejected = rejectDiffering(cur, curTable, curCols, arch, table, monthParams(year, month, span), monthCondition(span));
    // A new table gets its indexes once filled: one sort instead of a tree insert per row.
    if (fresh) {
        ensureIndex(arch, table);
        if (hasCallKey(arch, table)) ensureKeyIndex(arch, table);
    }
    return done;
}

bool isDamage(const DbError& e) { return e.number() == platform::kErrNotADatabase; }

// True when a reader holds the file attached on the connection: the year's
// transaction would then need the file's write lock twice and could only fail
// after the busy wait, so the year waits for the next run at once.
bool attachedElsewhere(const Database& cur, const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) return false;
    platform::Recordset rs = cur.query(QStringLiteral("PRAGMA database_list"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString file = rs.str("file");
        if (!file.isEmpty() && QFileInfo(file).canonicalFilePath() == target) return true;
    }
    return false;
}

// Sets a page cache size for the run and puts the old one back: large moves
// would otherwise spill pages (and sync the journal) half way through a month,
// and the index sort works in the main file's cache.
class CacheSize {
public:
    CacheSize(const Database& db, const QString& schema, int kib) : db_(db), schema_(quoteIdent(schema)) {
        old_ = db_.scalar(QStringLiteral("PRAGMA %1.cache_size").arg(schema_));
        db_.tryExecute(QStringLiteral("PRAGMA %1.cache_size=%2").arg(schema_).arg(-kib));
    }
    ~CacheSize() {
        if (old_.isValid() && db_.isOpen()) db_.tryExecute(QStringLiteral("PRAGMA %1.cache_size=%2").arg(schema_).arg(old_.toLongLong()));
    }
private:
    Database db_;
    QString schema_;
    QVariant old_;
};

// Moves the current records year by year, one transaction per year file:
// each month is copied under a savepoint of its own (a month that fails is
// undone alone and stays current), then exactly the rows copied, and those
// whose call the month table held already, are deleted before the year
// commits, so copy and delete commit together. Nothing yields inside, so no
// record stored by an event can slip into the delete. A year whose file
// cannot be used keeps its records current; the other years go on.
void moveRecords(const Database& cur, ArchiveRun& run) {
    const QString curTable = cur.actualTableName(kCurrentTable);
    if (curTable.isEmpty()) return;
    const auto curCols = cur.columns(curTable);
    const auto years = listMonths(cur, curTable);
    if (years.isEmpty()) return;
    CacheSize mainCache(cur, QStringLiteral("main"), 32768);
    CacheSize curCache(cur, cur.schema(), 32768);
    // The rows freed go with the compaction that follows; overwriting them
    // first would only write (and journal) the whole table twice.
    cur.tryExecute(QStringLiteral("PRAGMA %1.secure_delete=OFF").arg(quoteIdent(cur.schema())));
    // A copy and its delete commit together only while both files keep a
    // rollback journal: a call file that keeps a write-ahead log commits on
    // its own. It is switched for the move and back after it; where another
    // connection keeps it from switching, the copy commits before the delete,
    // and a call a kill leaves in both is not copied again.
    const QString curSchema = quoteIdent(cur.schema());
    const QString modeBefore = cur.scalar(QStringLiteral("PRAGMA %1.journal_mode").arg(curSchema)).toString().toLower();
    bool atomic = modeBefore != QLatin1String("wal");
    if (!atomic) {
        try {
            atomic = cur.scalar(QStringLiteral("PRAGMA %1.journal_mode=DELETE").arg(curSchema)).toString().toLower() ==
                     QLatin1String("delete");
        } catch (const DbError&) {
        }
    }
    struct ModeBack {
        const Database& cur;
        QString schema, mode;
        ~ModeBack() {
            if (mode == QLatin1String("wal")) cur.tryExecute(QStringLiteral("PRAGMA %1.journal_mode=WAL").arg(schema));
        }
    } modeBack{cur, curSchema, modeBefore};

    // The biggest year last: by then it is usually all that is left, and the
    // table is emptied at once instead of row by row through its indexes.
    QMap<int, qint64> yearRows;
    for (auto y = years.cbegin(); y != years.cend(); ++y)
        for (const MonthSpan& m : y.value()) yearRows[y.key()] += m.rows;
    QList<int> order = years.keys();
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return yearRows[a] < yearRows[b]; });
    for (const int year : order) {
        const auto& months = years[year];
        const QString path = ArchivePath(year);
        const QString fileName = QFileInfo(path).fileName();
        Database arch;
        try {
            if (attachedElsewhere(cur, path)) {
                run.monthsFailed += months.size();
                continue;
            }
            if (!QFileInfo::exists(path)) Database::create(path).close();
            const bool empty = QFileInfo(path).size() == 0;
            arch = cur.attach(path, kArchiveSchema);
            // Archives are written in large appends and read in long scans.
            if (empty) arch.execute(QStringLiteral("PRAGMA %1.page_size=16384").arg(quoteIdent(kArchiveSchema)));
            arch.execute(QStringLiteral("PRAGMA %1.journal_mode=DELETE").arg(quoteIdent(kArchiveSchema)));
            arch.execute(QStringLiteral("PRAGMA %1.synchronous=FULL").arg(quoteIdent(kArchiveSchema)));
            arch.execute(QStringLiteral("PRAGMA %1.cache_size=-32768").arg(quoteIdent(kArchiveSchema)));
        } catch (const DbError& e) {
            if (arch.isOpen()) arch.close();
            run.monthsFailed += months.size();
            if (isDamage(e)) run.damaged << fileName;
            continue;
        }
        QList<QPair<int, qint64>> copiedMonths;  // month, rows leaving the current table
        qint64 copiedRows = 0, archivedRows = 0, rejectedRows = 0;
        bool damaged = false;
        try {
            std::optional<Transaction> yearTx(std::in_place, cur);
            for (auto m = months.cbegin(); m != months.cend(); ++m) {
                try {
                    Transaction monthTx(cur);
                    const MonthCopy n = copyMonth(cur, curTable, curCols, arch, year, m.key(), m.value());
                    stage(testing::ArchiveStage::MonthCopied);
                    monthTx.commit();
                    copiedMonths << qMakePair(m.key(), n.copied + n.archived);
                    copiedRows += n.copied;
                    archivedRows += n.archived;
                    rejectedRows += n.rejected;
                } catch (const DbError& e) {
                    damaged = damaged || isDamage(e);
                }
                stage(testing::ArchiveStage::MonthDone);
            }
            if (!atomic) {
                // The year file first: a kill now leaves the calls in both files.
                yearTx->commit();
                yearTx.reset();
                yearTx.emplace(cur);
            }
            // The rows leaving lie in the table untouched since; when they are
            // as many as the table holds they are all it holds.
            const qint64 leaving = copiedRows + archivedRows;
            if (leaving > 0 && cur.rowCount(curTable) == leaving) {
                cur.execute(QStringLiteral("DELETE FROM %1").arg(cur.qualified(curTable)));
            } else {
                for (const auto& [month, n] : copiedMonths) {
                    const int deleted = cur.execute(
                        QStringLiteral("DELETE FROM %1 WHERE %2").arg(cur.qualified(curTable), monthCondition(months[month])),
                        monthParams(year, month, months[month]));
                    if (deleted != n)
                        throw DbError(platform::kErrGeneric, QStringLiteral("归档 %1-%2: 移出 %3 条, 删除 %4 条")
                                                                 .arg(year).arg(month).arg(n).arg(deleted));
                }
            }
            yearTx->commit();
            run.moved += copiedRows;
            run.alreadyArchived += archivedRows;
            run.rejected += rejectedRows;
            run.monthsMoved += copiedMonths.size();
            run.monthsFailed += months.size() - copiedMonths.size();
        } catch (const DbError& e) {
            damaged = damaged || isDamage(e);
            run.monthsFailed += months.size();
        }
        if (damaged) run.damaged << fileName;
        arch.close();
    }
}

// Compacts "PhoneCur.mdb" into the work file, checks it, and puts it in place
// the safe way: a crash at any moment leaves the old file or the checked new
// one, both holding exactly the records committed before the compaction.
void compactCurrent(Database& cur, const QString& curPath, ArchiveRun& run) {
    const QString work = ModDefine::DataPath + kWorkFile;
    if (!platform::removeCI(work)) return;
    try {
        cur.vacuumInto(work);
        Database check = Database::open(work);
        const QString curTable = cur.actualTableName(kCurrentTable);
        const bool same = check.quickCheck() &&
                          (curTable.isEmpty() || check.rowCount(curTable) == cur.rowCount(curTable));
        check.close();
        if (!same) {
            QFile::remove(work);
            return;
        }
    } catch (const DbError&) {
        QFile::remove(work);
        return;
    }
    stage(testing::ArchiveStage::Compacted);
    cur.close();
    stage(testing::ArchiveStage::Detached);
    run.compacted = platform::safeReplaceWith(curPath, [&](const QString& newPath) {
        return QFile::rename(work, newPath);
    });
    QFile::remove(work);
    if (run.compacted) stage(testing::ArchiveStage::Replaced);
}

// The journal's settled entries leave the call file before it is compacted,
// so that the night's compaction does not grow with the journal's age.
void moveSettledJournal() { ModSwitch::MoveSettledEntries(); }

void reopenCurrent(const QString& curPath) {
    if (dbPhoneCur.isOpen()) dbPhoneCur.close();
    ModSwitch::OpenDB(curPath, dbPhoneCur);
}

}  // namespace

QString ArchiveFileName(int year) { return QStringLiteral("PhBill_%1.mdb").arg(year, 4, 10, QChar('0')); }

QString ArchivePath(int year) { return platform::resolveCI(ModDefine::DataPath, ArchiveFileName(year)); }

QString MonthTableName(int month) { return QStringLiteral("Tab_Ph%1").arg(month); }

const ArchiveRun& LastArchiveRun() { return g_last; }

ArchiveHold::ArchiveHold() { ++g_holds; }
ArchiveHold::~ArchiveHold() { --g_holds; }

void EnsureArchiveIndexes(const Database& archive) {
    for (int m = 1; m <= 12; ++m) {
        const QString table = archive.actualTableName(MonthTableName(m));
        if (!table.isEmpty()) ensureIndex(archive, table);
    }
}

Database AttachArchive(int year, const QString& schema) {
    const QString path = ArchivePath(year);
    if (!QFileInfo::exists(path)) return {};
    Database arch = dbSwitch.attach(path, schema);
    try {
        EnsureArchiveIndexes(arch);
    } catch (const DbError& e) {
        // An index is a help to the readers, not a condition for reading.
        if (isDamage(e)) {
            arch.close();
            throw;
        }
    }
    return arch;
}

void ArchiveBills() {
    if (g_running) return;  // a nested call finds the run already under way
    g_last = ArchiveRun();
    if (g_holds > 0) return;  // a reader spans the files; the next run takes the records
    const QString curPath = platform::resolveCI(ModDefine::DataPath, QStringLiteral("PhoneCur.mdb"));
    if (dbPhoneCur.isOpen() && (dbPhoneCur.inTransaction() || !dbPhoneCur.autocommit()))
        return;  // the moves cannot commit on their own now; the next run takes the records
    g_running = true;
    struct Done {
        ~Done() { g_running = false; }
    } done;
    g_last.ran = true;

    if (dbPhoneCur.isOpen()) {
        try {
            moveRecords(dbPhoneCur, g_last);
        } catch (const DbError&) {
            // The records not moved stay current for the next run.
        }
        moveSettledJournal();
        compactCurrent(dbPhoneCur, curPath, g_last);
    }
    reopenCurrent(curPath);
    try {
        const QString t = dbPhoneCur.actualTableName(kCurrentTable);
        if (!t.isEmpty()) g_last.left = dbPhoneCur.rowCount(t);
    } catch (const DbError&) {
    }
    if (g_last.alreadyArchived > 0)
        core::Notify(QStringLiteral("话单归档：%1张话单已转存到年度归档文件。\n"
                                        "另有%2张话单早已在年度归档文件中，这次没有再转存，只从当前话单库删除，不会重复计费。")
                             .arg(g_last.moved)
                             .arg(g_last.alreadyArchived) +
                             (g_last.rejected > 0
                                  ? QStringLiteral("\n其中%1张与归档文件中的同一话单内容不同，已转入错误话单。").arg(g_last.rejected)
                                  : QString()),
                         platform::mbInformation, ModDefine::AppName);
    if (!g_last.damaged.isEmpty())
        core::Notify(QStringLiteral("话单归档文件已损坏: %1\n这些年份的话单仍保留在当前话单库中.")
                             .arg(g_last.damaged.join(", ")),
                         platform::mbExclamation, ModDefine::AppName);
}

int DropArchivedRows(const Database& cur) {
    int dropped = 0;
    try {
        const QString curTable = cur.actualTableName(kCurrentTable);
        if (curTable.isEmpty() || !hasCallKey(cur, curTable)) return 0;
        const auto curCols = cur.columns(curTable);
        const auto years = listMonths(cur, curTable);
        for (auto y = years.cbegin(); y != years.cend(); ++y) {
            const QString path = ArchivePath(y.key());
            if (!QFileInfo::exists(path) || attachedElsewhere(cur, path)) continue;
            Database arch;
            try {
                arch = cur.attach(path, kArchiveSchema);
                Transaction tx(cur);
                int n = 0;
                for (auto m = y.value().cbegin(); m != y.value().cend(); ++m) {
                    const QString table = arch.actualTableName(MonthTableName(m.key()));
                    if (table.isEmpty() || !hasCallKey(arch, table)) continue;
                    ensureKeyIndex(arch, table);
                    rejectDiffering(cur, curTable, curCols, arch, table, monthParams(y.key(), m.key(), m.value()),
                                    monthCondition(m.value()));
                    n += cur.execute(QStringLiteral("DELETE FROM %1 WHERE %2 AND %3")
                                         .arg(cur.qualified(curTable), monthCondition(m.value()), inMonthTable(arch, table, curTable)),
                                     monthParams(y.key(), m.key(), m.value()));
                }
                tx.commit();
                dropped += n;
            } catch (const DbError&) {
                // A year file that cannot be read keeps its calls current; the archive skips them later.
            }
            if (arch.isOpen()) arch.close();
        }
    } catch (const DbError&) {
    }
    return dropped;
}

// Calls are told apart by the duplicate check's key only: a table without
// it could not be merged without losing or doubling calls.
static void requireKey(const Database& db, const QString& table) {
    if (!hasCallKey(db, table))
        throw DbError(platform::kErrGeneric, QStringLiteral("表%1没有分机号和开始时间，无法逐张话单合并").arg(table));
}

static bool holdsEveryCall(const QString& stationPath, const QString& backupPath, ArchiveMerge* found) {
    ArchiveMerge done;
    if (!QFileInfo(stationPath).isFile() || !QFileInfo(backupPath).isFile()) return false;
    // Read only, both: the station's file through its own connection (a
    // journal left beside it makes that fail, and the merge decides), the
    // backup's attached to it.
    Database station = Database::openReadOnly(stationPath);
    Database backup = station.attach(backupPath, QStringLiteral("merge_backup"));
    const QStringList own = callTables(station);
    const QStringList theirs = callTables(backup);
    const platform::LeafComparer pages(backupPath, stationPath);
    for (const QString& t : own)
        if (backup.actualTableName(t).isEmpty()) done.kept += station.rowCount(t);
    int tab = 0;
    for (const QString& t : theirs) {
        const QString same = station.actualTableName(t);
        if (same.isEmpty()) {
            if (backup.rowCount(t) > 0) return false;
            continue;
        }
        QStringList cols = columnNames(backup, t), ownCols = columnNames(station, same);
        if (!hasCallKey(backup, t) || cols.size() != ownCols.size()) return false;
        std::sort(cols.begin(), cols.end());
        std::sort(ownCols.begin(), ownCols.end());
        if (cols != ownCols || !noteSpans(pages, station, ++tab, backup, t, station, same)) return false;
        // The rows on leaves held alike are in both, as they are. Of the
        // others, the station's under the backup's keys must be the backup's
        // rows, as many of each (the merge takes the backup's file whole):
        // else the station's file is not what the merge gives.
        const QString mine = restTable(station, same, cols, tab, 1);
        const QString given = restTable(backup, t, cols, tab, 0);
        QStringList equal, all;
        for (const QString& c : cols) {
            equal << QStringLiteral("y.%1 IS x.%1").arg(quoteIdent(c));
            all << QStringLiteral("x.%1").arg(quoteIdent(c));
        }
        const QString sameRow = equal.join(QStringLiteral(" AND "));
        const QString sameKey = QStringLiteral("x.f_calladdr IS y.f_calladdr AND x.f_date IS y.f_date");
        const qint64 unequal =
            station.scalar(QStringLiteral("SELECT count(*) FROM (SELECT %1, count(*) AS n FROM %2 AS x GROUP BY %1) AS x "
                                          "WHERE n <> (SELECT count(*) FROM %3 AS y WHERE %4)")
                               .arg(all.join(QLatin1Char(',')), given, mine, sameRow))
                .toLongLong() +
            station.scalar(QStringLiteral("SELECT count(*) FROM %1 AS y WHERE EXISTS (SELECT 1 FROM %2 AS x WHERE %3) AND "
                                          "NOT EXISTS (SELECT 1 FROM %2 AS x WHERE %4)")
                               .arg(mine, given, sameKey, sameRow))
                .toLongLong();
        if (unequal > 0) return false;
        done.kept += station.scalar(QStringLiteral("SELECT count(*) FROM %1 AS y WHERE NOT EXISTS (SELECT 1 FROM %2 AS x WHERE %3)")
                                        .arg(mine, given, sameKey))
                         .toLongLong();
    }
    dropTemporaries(station);
    if (found) *found = done;
    return true;
}

bool YearFileHolds(const QString& stationPath, const QString& backupPath, ArchiveMerge* found) {
    // A file that cannot be read proves nothing held: the merge decides, and says why it cannot.
    try {
        return holdsEveryCall(stationPath, backupPath, found);
    } catch (const DbError&) {
        return false;
    }
}

namespace {

// The pages of a year file below which its restore copies it: the copy costs
// next to nothing there, and the merge road is the one every small file takes.
constexpr qint64 kPatchMinPages = 256;

// "IS" for every column of `cols`, between the rows `a` and `b`.
QString sameColumns(const QStringList& cols, const QString& a, const QString& b) {
    QStringList equal;
    for (const QString& c : cols) equal << QStringLiteral("%1.%3 IS %2.%3").arg(a, b, quoteIdent(c));
    return equal.join(QStringLiteral(" AND "));
}

QString prefixed(const QStringList& cols, const QString& alias) {
    QStringList out;
    for (const QString& c : cols) out << (alias.isEmpty() ? quoteIdent(c) : QStringLiteral("%1.%2").arg(alias, quoteIdent(c)));
    return out.join(QLatin1Char(','));
}

QString patchRows(int tab) { return QStringLiteral("patch_rows_%1").arg(tab); }
QString patchGone(int tab) { return QStringLiteral("patch_gone_%1").arg(tab); }

struct PatchMonth {
    QString table, same;
    QStringList cols;
    platform::LeavesCompared c;
};

// The backup's month tables, compared leaf by leaf with the station's; false
// when a patch would not pay: the backup's leaves and the station's that are
// not held alike, and a month table the station lacks counted as a leaf for
// every 16 calls, past an eighth of the backup's pages.
bool patchMonths(const Database& station, const Database& backup, const platform::LeafComparer& leaves, qint64 pages,
                 QList<PatchMonth>* months) {
    qint64 differing = 0;
    for (const QString& t : callTables(backup)) {
        PatchMonth m{t, station.actualTableName(t), columnNames(backup, t), {}};
        if (!hasCallKey(backup, t) || !hasKeyIndex(backup, t)) return false;
        if (m.same.isEmpty()) {
            differing += (backup.rowCount(t) + 15) / 16;
        } else {
            QStringList a = m.cols, b = columnNames(station, m.same);
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            if (a != b) return false;
            m.c = leaves.compare(rootPage(backup, t), rootPage(station, m.same));
            if (!m.c.compared) return false;
            differing += (m.c.leavesA - m.c.alike) + (m.c.leavesB - m.c.alike);
        }
        if (differing * 8 > pages) return false;
        months->append(m);
    }
    return true;
}

// A month the station lacks, taken whole, with the indexes the backup gives
// it; the rows the patch puts in.
qint64 patchWholeMonth(Database& patch, const Database& backup, const PatchMonth& m, int tab, ArchiveMerge& done) {
    const QString rows = quoteIdent(patchRows(tab)), gone = quoteIdent(patchGone(tab));
    patch.execute(QStringLiteral("INSERT INTO patch_tables VALUES (?, ?, (SELECT sql FROM patch_backup.sqlite_master "
                                 "WHERE type='table' AND name=?), NULL)"),
                  {tab, m.table, m.table});
    patch.execute(QStringLiteral("INSERT INTO patch_indexes SELECT ?, sql FROM patch_backup.sqlite_master "
                                 "WHERE type='index' AND tbl_name=? AND sql IS NOT NULL"),
                  {tab, m.table});
    patch.execute(QStringLiteral("CREATE TABLE %1 AS SELECT rowid AS patch_rowid, %2 FROM %3")
                      .arg(rows, prefixed(m.cols, QString()), backup.qualified(m.table)));
    patch.execute(QStringLiteral("CREATE TABLE %1 AS SELECT * FROM %2 WHERE 0").arg(gone, rows));
    done.brought += patch.rowCount(patchRows(tab));
    return patch.rowCount(patchRows(tab));
}

// A month both files hold, where their leaves differ; the rows the patch puts
// in or takes out.
qint64 patchChangedMonth(Database& patch, const Database& station, const Database& backup, const PatchMonth& m, int tab,
                         ArchiveMerge& done) {
    const QString rows = quoteIdent(patchRows(tab)), gone = quoteIdent(patchGone(tab));
    for (int side = 0; side < 2; ++side)
        for (const platform::RowSpan& r : side == 0 ? m.c.onlyA : m.c.onlyB)
            patch.execute(QStringLiteral("INSERT INTO temp.merge_spans VALUES (?, ?, ?, ?)"), {tab, side, r.first, r.last});
    patch.execute(QStringLiteral("INSERT INTO patch_tables VALUES (?, ?, NULL, (SELECT max(rowid) FROM %1))")
                      .arg(station.qualified(m.same)),
                  {tab, m.table});
    // The backup's rows not on a leaf held alike that the station's file
    // lacks as they are, under their row numbers: a row on a leaf held alike
    // is in both files as it is.
    patch.execute(QStringLiteral("CREATE TABLE %1 AS SELECT b.rowid AS patch_rowid, %2 FROM %3 WHERE NOT EXISTS "
                                 "(SELECT 1 FROM %4 AS s WHERE s.rowid=b.rowid AND %5)")
                      .arg(rows, prefixed(m.cols, QStringLiteral("b")), spanRows(backup, m.table, tab, 0, QStringLiteral("b")),
                           station.qualified(m.same), sameColumns(m.cols, QStringLiteral("s"), QStringLiteral("b"))));
    // The station's rows there under a key the backup holds, but for the
    // backup's own row: the backup's calls take their place.
    patch.execute(QStringLiteral("CREATE TABLE %1 AS SELECT s.rowid AS patch_rowid, %2 FROM %3 WHERE EXISTS "
                                 "(SELECT 1 FROM %4 AS k WHERE k.f_calladdr IS s.f_calladdr AND k.f_date IS s.f_date) "
                                 "AND NOT EXISTS (SELECT 1 FROM %4 AS b WHERE b.rowid=s.rowid AND %5)")
                      .arg(gone, prefixed(m.cols, QStringLiteral("s")), spanRows(station, m.same, tab, 1, QStringLiteral("s")),
                           backup.qualified(m.table), sameColumns(m.cols, QStringLiteral("s"), QStringLiteral("b"))));
    // Counted as the merge counts: the backup's calls whose key the station's
    // rows not held alike lack, and the station's calls there whose key the
    // backup lacks.
    const QString keys = restTable(station, m.same, {QStringLiteral("f_calladdr"), QStringLiteral("f_date")}, tab, 1);
    done.brought += patch.scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE NOT EXISTS (SELECT 1 FROM %2 AS a "
                                                "WHERE a.f_calladdr IS b.f_calladdr AND a.f_date IS b.f_date)")
                                     .arg(spanRows(backup, m.table, tab, 0, QStringLiteral("b")), keys))
                        .toLongLong();
    done.kept += patch.scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE NOT EXISTS (SELECT 1 FROM %2 AS k "
                                             "WHERE k.f_calladdr IS s.f_calladdr AND k.f_date IS s.f_date)")
                                  .arg(spanRows(station, m.same, tab, 1, QStringLiteral("s")), backup.qualified(m.table)))
                     .toLongLong();
    return patch.rowCount(patchRows(tab)) + patch.rowCount(patchGone(tab));
}

bool preparePatch(const QString& stationPath, const QString& backupPath, const QString& patchPath, ArchiveMerge* found,
                  bool* holds) {
    if (!QFileInfo(stationPath).isFile() || !QFileInfo(backupPath).isFile()) return false;
    ArchiveMerge done;
    QFile::remove(patchPath);
    QFile::remove(patchPath + QStringLiteral("-journal"));
    // Nothing names the patch until the restore's journal does: written
    // without a journal, synced by the caller.
    Database patch = Database::create(patchPath);
    patch.scalar(QStringLiteral("PRAGMA journal_mode=OFF"));
    patch.execute(QStringLiteral("PRAGMA synchronous=OFF"));
    const Database station = patch.attach(stationPath, QStringLiteral("patch_station"));
    const Database backup = patch.attach(backupPath, QStringLiteral("patch_backup"));
    const qint64 pages = backup.scalar(QStringLiteral("PRAGMA patch_backup.page_count")).toLongLong();
    if (pages < kPatchMinPages) return false;
    const platform::LeafComparer leaves(backupPath, stationPath);
    const QStringList own = callTables(station);
    for (const QString& t : own)
        if (backup.actualTableName(t).isEmpty()) done.kept += station.rowCount(t);
    QList<PatchMonth> months;
    if (!patchMonths(station, backup, leaves, pages, &months)) return false;
    patch.execute(QStringLiteral("CREATE TABLE patch_tables (tab INTEGER PRIMARY KEY, name TEXT, createSql TEXT, maxrow INTEGER)"));
    patch.execute(QStringLiteral("CREATE TABLE patch_indexes (tab INTEGER, createSql TEXT)"));
    patch.execute(QStringLiteral("CREATE TABLE patch_done (done INTEGER)"));
    patch.execute(QStringLiteral("CREATE TEMP TABLE merge_spans (tab INTEGER, side INTEGER, lo INTEGER, hi INTEGER)"));
    int tab = 0;
    qint64 changes = 0;   // rows the patch puts in or takes out
    for (const PatchMonth& m : months) {
        ++tab;
        if (m.same.isEmpty()) {
            changes += patchWholeMonth(patch, backup, m, tab, done);
        } else {
            if (m.c.alike == m.c.leavesA && m.c.alike == m.c.leavesB) continue;   // every leaf held alike
            changes += patchChangedMonth(patch, station, backup, m, tab, done);
        }
        patch.execute(QStringLiteral("CREATE INDEX %1 ON %2 (f_calladdr, f_date)")
                          .arg(quoteIdent(patchRows(tab) + QStringLiteral("_key")), quoteIdent(patchRows(tab))));
    }
    dropTemporaries(patch);
    patch.close();
    if (found) *found = done;
    if (holds) *holds = changes == 0;
    return true;
}

}  // namespace

bool PrepareYearFilePatch(const QString& stationPath, const QString& backupPath, const QString& patchPath, ArchiveMerge* found,
                          bool* holds) {
    // A file that cannot be read or written makes no patch: the merge decides, and says why it cannot.
    try {
        return preparePatch(stationPath, backupPath, patchPath, found, holds);
    } catch (const DbError&) {
        return false;
    }
}

void ApplyYearFilePatch(const QString& stationPath, const QString& patchPath, const std::function<void()>& beforeCommit) {
    Database station = Database::open(stationPath);
    // Both files in rollback-journal mode, synced: their commit is one.
    if (station.scalar(QStringLiteral("PRAGMA journal_mode=DELETE")).toString().compare(QStringLiteral("delete"), Qt::CaseInsensitive) != 0)
        throw DbError(platform::kErrGeneric, QStringLiteral("无法设置日志模式 '%1'").arg(stationPath));
    const Database patch = station.attach(patchPath, QStringLiteral("year_patch"));
    if (patch.scalar(QStringLiteral("PRAGMA year_patch.journal_mode=DELETE")).toString().compare(QStringLiteral("delete"), Qt::CaseInsensitive) != 0)
        throw DbError(platform::kErrGeneric, QStringLiteral("无法设置日志模式 '%1'").arg(patchPath));
    station.execute(QStringLiteral("PRAGMA year_patch.synchronous=FULL"));
    if (patch.scalar(QStringLiteral("SELECT count(*) FROM year_patch.patch_done")).toLongLong() > 0) return;
    struct Month {
        int tab;
        QString name, createSql;
        QVariant maxrow;
    };
    QList<Month> months;
    for (platform::RowReader r = station.rows(QStringLiteral("SELECT tab, name, createSql, maxrow FROM year_patch.patch_tables ORDER BY tab"));
         r.next();)
        months.append({int(r.integer(0)), r.text(1), r.isNull(2) ? QString() : r.text(2), r.isNull(3) ? QVariant() : QVariant(r.integer(3))});
    Transaction tx(station);
    for (const Month& m : months) {
        QString table = station.actualTableName(m.name);
        if (table.isEmpty()) {
            if (m.createSql.isEmpty())
                throw DbError(platform::kErrNoSuchTable, QStringLiteral("找不到表 %1").arg(m.name));
            station.execute(m.createSql);
            QStringList indexes;
            for (platform::RowReader r = station.rows(QStringLiteral("SELECT createSql FROM year_patch.patch_indexes WHERE tab=?"), {m.tab});
                 r.next();)
                indexes << r.text(0);
            for (const QString& ix : indexes) station.execute(ix);
            table = station.actualTableName(m.name);
        }
        const QString rows = patch.qualified(patchRows(m.tab)), gone = patch.qualified(patchGone(m.tab));
        QStringList cols = columnNames(patch, patchRows(m.tab));
        cols.removeAll(QStringLiteral("patch_rowid"));
        const QString target = station.qualified(table), list = prefixed(cols, QString());
        // The station's rows the backup's replace, where they are still as they were.
        station.execute(QStringLiteral("DELETE FROM %1 WHERE rowid IN (SELECT g.patch_rowid FROM %2 AS g CROSS JOIN %1 AS s "
                                       "ON s.rowid=g.patch_rowid WHERE %3)")
                            .arg(target, gone, sameColumns(cols, QStringLiteral("s"), QStringLiteral("g"))));
        // A call archived after the patch was made under a key the backup
        // holds: every call of a month the station's file had none of then
        // (no table, or an empty one) was archived since.
        station.execute(QStringLiteral("DELETE FROM %1 WHERE rowid>? AND EXISTS (SELECT 1 FROM %2 AS r WHERE "
                                       "r.f_calladdr IS %1.f_calladdr AND r.f_date IS %1.f_date)")
                            .arg(target, rows),
                        {m.maxrow.isValid() ? m.maxrow.toLongLong() : std::numeric_limits<qint64>::min()});
        // The backup's rows under their own row numbers where those are free,
        // else under new ones; a row there as it is already stays once.
        station.execute(QStringLiteral("INSERT INTO %1 (rowid, %2) SELECT r.patch_rowid, %3 FROM %4 AS r WHERE NOT EXISTS "
                                       "(SELECT 1 FROM %1 AS s WHERE s.rowid=r.patch_rowid) ORDER BY r.patch_rowid")
                            .arg(target, list, prefixed(cols, QStringLiteral("r")), rows));
        station.execute(QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4 AS r WHERE NOT EXISTS "
                                       "(SELECT 1 FROM %1 AS s WHERE s.rowid=r.patch_rowid AND %5) ORDER BY r.patch_rowid")
                            .arg(target, list, prefixed(cols, QStringLiteral("r")), rows,
                                 sameColumns(cols, QStringLiteral("s"), QStringLiteral("r"))));
    }
    station.execute(QStringLiteral("INSERT INTO year_patch.patch_done VALUES (1)"));
    if (beforeCommit) beforeCommit();
    tx.commit();
}

namespace {

// The year file a merge writes (see MergeArchive's `scratch`).
Database openMergeTarget(const QString& path, bool scratch) {
    Database into = Database::open(path);
    if (scratch) {
        // Nothing names the copy yet: a failure or a kill throws it away
        // whole, so it is written without a journal and synced by the caller.
        into.scalar(QStringLiteral("PRAGMA journal_mode=OFF"));
        into.execute(QStringLiteral("PRAGMA synchronous=OFF"));
    } else {
        // The copy stands alone in rollback-journal mode, and the end of its
        // commit (the journal's removal) is on the disk before anything names it.
        into.scalar(QStringLiteral("PRAGMA journal_mode=DELETE"));
        into.execute(QStringLiteral("PRAGMA synchronous=EXTRA"));
    }
    // The index pages the station's calls go to are many and scattered.
    into.execute(QStringLiteral("PRAGMA cache_size=-65536"));
    return into;
}

// The two year files of a merge: the copy written (`into`) and the station's
// (`old`, only read), on one connection.
struct MergeFiles {
    Database into, old;
    QStringList ownTables;
    // Month tables (by the copy's name, in lower case) whose rows that may
    // differ are known from the two files' pages, by their number in
    // temp.merge_spans: the copy's leaves the station's file holds alike,
    // and the station's it holds alike, are the same calls on both sides and
    // are not read.
    QHash<QString, int> narrowed;
    // Month tables (by the copy's name, in lower case) of which only the
    // station's rows past a row number can be calls the copy lacks.
    QHash<QString, qint64> tails;
    int temporaries = 0;
};

// Told before either file is written.
void narrowByPages(MergeFiles& m, const QString& intoPath, const QString& fromPath) {
    const platform::LeafComparer pages(intoPath, fromPath);
    for (const QString& t : std::as_const(m.ownTables)) {
        const QString same = m.old.actualTableName(t);
        if (same.isEmpty() || !hasCallKey(m.into, t)) continue;
        if (noteSpans(pages, m.into, m.narrowed.size() + 1, m.into, t, m.old, same))
            m.narrowed.insert(same.toLower(), m.narrowed.size() + 1);
    }
}

// The usual backup: the station's month table `same` holds the copy's rows
// of `t` under the same row numbers (the archive only appends), so the copy
// lacks nothing there and the station's rows past the copy's last are the
// calls archived since: one pass in row order, no key looked up. True (the
// last row noted in `m.tails`) when so.
bool appendedSince(MergeFiles& m, const QString& t, const QString& same) {
    try {
        const QVariant last = m.into.scalar(QStringLiteral("SELECT max(rowid) FROM %1").arg(m.into.qualified(t)));
        if (last.isNull()) return false;
        const qint64 own = m.into.rowCount(t);
        const qint64 alike =
            m.into.scalar(QStringLiteral("SELECT count(*) FROM %1 AS b NOT INDEXED CROSS JOIN %2 AS a NOT INDEXED "
                                         "ON a.rowid=b.rowid WHERE a.f_calladdr IS b.f_calladdr AND a.f_date IS b.f_date")
                              .arg(m.into.qualified(t), m.old.qualified(same)))
                .toLongLong();
        if (alike != own ||
            m.into.scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE rowid<=?").arg(m.old.qualified(same)), {last})
                    .toLongLong() != own)
            return false;
        m.tails.insert(same.toLower(), last.toLongLong());
        return true;
    } catch (const DbError&) {
        // A table without row numbers: compared by key.
        return false;
    }
}

// How many calls of the copy's month table `t` the station's file lacks.
qint64 broughtBy(MergeFiles& m, const QString& t) {
    const QString same = m.old.actualTableName(t);
    if (same.isEmpty()) return m.into.rowCount(t);
    const QString rowsLacking = QStringLiteral("SELECT count(*) FROM %1 WHERE NOT EXISTS (SELECT 1 FROM %2 AS a "
                                               "WHERE a.f_calladdr IS b.f_calladdr AND a.f_date IS b.f_date)");
    const auto spans = m.narrowed.constFind(same.toLower());
    if (spans != m.narrowed.constEnd()) {
        // Of the copy's calls not on a leaf held alike, those whose key the
        // station's rows not so held lack (a key on a leaf held alike is on
        // both sides).
        const QString keys = restTable(m.old, same, {QStringLiteral("f_calladdr"), QStringLiteral("f_date")}, *spans, 1);
        return m.into.scalar(rowsLacking.arg(spanRows(m.into, t, *spans, 0, QStringLiteral("b")), keys)).toLongLong();
    }
    if (appendedSince(m, t, same)) return 0;
    QString keys = m.old.qualified(same);
    if (!hasKeyIndex(m.old, same)) {
        const QString name = QStringLiteral("merge_keys_%1").arg(++m.temporaries);
        keys = QStringLiteral("temp.%1").arg(quoteIdent(name));
        m.into.execute(QStringLiteral("CREATE TEMP TABLE %1 AS SELECT f_calladdr, f_date FROM %2").arg(keys, m.old.qualified(same)));
        m.into.execute(QStringLiteral("CREATE INDEX temp.%1 ON %2 (f_calladdr, f_date)")
                           .arg(quoteIdent(name + QStringLiteral("_ix")), quoteIdent(name)));
    }
    return m.into.scalar(rowsLacking.arg(m.into.qualified(t) + QStringLiteral(" AS b"), keys)).toLongLong();
}

// Adds to the copy the calls of the station's month table `t` whose key it
// lacks; how many.
qint64 keepStationCalls(MergeFiles& m, const QString& t) {
    QString table = m.into.actualTableName(t);
    const auto cols = m.old.columns(t);
    if (table.isEmpty()) {
        table = t;
        createMonthTable(m.old, t, m.into, table);
    } else {
        addMissingColumns(cols, m.into, table);
    }
    ensureIndex(m.into, table);
    ensureKeyIndex(m.into, table);
    QStringList names, picked;
    for (const auto& c : cols) {
        names << quoteIdent(c.name);
        picked << QStringLiteral("f.%1").arg(quoteIdent(c.name));
    }
    const QString insert = QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4 WHERE %5NOT EXISTS "
                                          "(SELECT 1 FROM %1 AS a WHERE a.f_calladdr IS f.f_calladdr AND "
                                          "a.f_date IS f.f_date) ORDER BY f.rowid");
    const auto spans = m.narrowed.constFind(t.toLower());
    if (spans != m.narrowed.constEnd()) {
        // The station's calls not on a leaf held alike whose key the copy lacks.
        return m.into.execute(insert.arg(m.into.qualified(table), names.join(QLatin1Char(',')), picked.join(QLatin1Char(',')),
                                         spanRows(m.old, t, *spans, 1, QStringLiteral("f")), QString()));
    }
    const auto tail = m.tails.constFind(t.toLower());
    return m.into.execute(insert.arg(m.into.qualified(table), names.join(QLatin1Char(',')), names.join(QLatin1Char(',')),
                                     m.old.qualified(t) + QStringLiteral(" AS f"), QStringLiteral("f.rowid>? AND ")),
                          {tail == m.tails.constEnd() ? std::numeric_limits<qint64>::min() : *tail});
}

}  // namespace

ArchiveMerge MergeArchive(const QString& intoPath, const QString& fromPath, bool scratch) {
    ArchiveMerge done;
    MergeFiles m{openMergeTarget(intoPath, scratch), Database(), {}, {}, {}, 0};
    m.ownTables = callTables(m.into);
    if (!QFileInfo(fromPath).isFile()) {
        for (const QString& t : std::as_const(m.ownTables)) done.brought += m.into.rowCount(t);
        return done;
    }
    m.old = m.into.attach(fromPath, QStringLiteral("merge_from"));
    const QStringList oldTables = callTables(m.old);
    for (const QString& t : oldTables) requireKey(m.old, t);
    narrowByPages(m, intoPath, fromPath);
    Transaction tx(m.into);
    // Every comparison finds a call by its key through an index, made before
    // anything is counted: a month table without it (a release made them so)
    // would be read once for every call of the other side. The copy's own get
    // theirs in the file, where the duplicate check wants them; the station's
    // file is only read, and is compared through a temporary index of its keys.
    for (const QString& t : std::as_const(m.ownTables)) {
        if (m.old.actualTableName(t).isEmpty()) continue;
        requireKey(m.into, t);
        ensureKeyIndex(m.into, t);
    }
    for (const QString& t : std::as_const(m.ownTables)) done.brought += broughtBy(m, t);
    for (const QString& t : oldTables) done.kept += keepStationCalls(m, t);
    dropTemporaries(m.into);
    tx.commit();
    m.old.close();
    m.into.close();
    return done;
}

namespace testing {
void setHook(std::function<void(ArchiveStage)> hook) { g_hook = std::move(hook); }
}  // namespace testing

}  // namespace billing
