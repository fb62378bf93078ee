#include "billing/ArchiveBills.h"

#include "core/ModDefine.h"
#include "core/ModSwitch.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <sqlite3.h>

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
std::function<void(testing::ArchiveStage)> g_hook;

void stage(testing::ArchiveStage s) {
    if (g_hook) g_hook(s);
}

QString quoteIdent(const QString& s) {
    QString q = s;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

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

// One month in one transaction: the rows listed for it when the run began are
// copied and exactly those rows deleted. Nothing yields in between, so no
// record stored by an event can slip into the delete.
qint64 moveMonth(const Database& cur, const QString& curTable, const QList<platform::ColumnInfo>& curCols,
                 const Database& arch, int month, const QString& ym) {
    QStringList names;
    for (const auto& c : curCols) names << quoteIdent(c.name);
    const QString colList = names.join(',');
    const QString chosen = QStringLiteral("rowid IN (SELECT rid FROM temp.archive_keys WHERE ym=?)");

    Transaction tx(cur);
    QString table = arch.actualTableName(MonthTableName(month));
    if (table.isEmpty()) {
        table = MonthTableName(month);
        createMonthTable(cur, curTable, arch, table);
    } else {
        addMissingColumns(curCols, arch, table);
    }
    const int copied = cur.execute(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 WHERE %4")
                                       .arg(arch.qualified(table), colList, cur.qualified(curTable), chosen),
                                   {ym});
    stage(testing::ArchiveStage::MonthCopied);
    const int deleted = cur.execute(QStringLiteral("DELETE FROM %1 WHERE %2").arg(cur.qualified(curTable), chosen), {ym});
    if (copied != deleted)
        throw DbError(platform::kErrGeneric, QStringLiteral("归档 %1: 复制 %2 条, 删除 %3 条").arg(ym).arg(copied).arg(deleted));
    ensureIndex(arch, table);
    tx.commit();
    return copied;
}

bool isDamage(const DbError& e) { return e.number() == platform::kErrNotADatabase; }

// Moves the current records year by year. A year whose file cannot be used
// keeps its records current; the other years go on.
void moveRecords(const Database& cur, ArchiveRun& run) {
    const QString curTable = cur.actualTableName(kCurrentTable);
    if (curTable.isEmpty()) return;
    const auto curCols = cur.columns(curTable);

    // The rows to move, listed once: a record stored after this point stays
    // current even when its month is moved later in the run.
    cur.execute(QStringLiteral("DROP TABLE IF EXISTS temp.archive_keys"));
    cur.execute(QStringLiteral("CREATE TEMP TABLE archive_keys (ym TEXT NOT NULL, rid INTEGER NOT NULL, "
                               "PRIMARY KEY (ym, rid)) WITHOUT ROWID"));
    struct DropKeys {
        const Database& db;
        ~DropKeys() { db.tryExecute(QStringLiteral("DROP TABLE IF EXISTS temp.archive_keys")); }
    } dropKeys{cur};
    // Dates are stored "yyyy-MM-dd HH:mm:ss"; a record without a readable
    // date has no month to go to and stays current.
    cur.execute(QStringLiteral("INSERT INTO temp.archive_keys SELECT substr(f_date,1,7), rowid FROM %1 "
                               "WHERE f_date GLOB '[0-9][0-9][0-9][0-9]-[0-1][0-9]*'")
                    .arg(cur.qualified(curTable)));

    QMap<int, QList<QPair<int, QString>>> years;  // year -> (month, "yyyy-MM")
    platform::Recordset rs = cur.query(QStringLiteral("SELECT DISTINCT ym FROM temp.archive_keys ORDER BY ym"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString ym = rs.value(0).toString();
        const int year = ym.left(4).toInt();
        const int month = ym.mid(5, 2).toInt();
        if (year < 1 || month < 1 || month > 12) continue;
        years[year] << qMakePair(month, ym);
    }

    for (auto it = years.cbegin(); it != years.cend(); ++it) {
        const QString path = ArchivePath(it.key());
        Database arch;
        try {
            if (!QFileInfo::exists(path)) Database::create(path).close();
            arch = cur.attach(path, kArchiveSchema);
            arch.execute(QStringLiteral("PRAGMA %1.journal_mode=DELETE").arg(quoteIdent(kArchiveSchema)));
            arch.execute(QStringLiteral("PRAGMA %1.synchronous=FULL").arg(quoteIdent(kArchiveSchema)));
        } catch (const DbError& e) {
            if (arch.isOpen()) arch.close();
            run.monthsFailed += it.value().size();
            if (isDamage(e)) run.damaged << QFileInfo(path).fileName();
            continue;
        }
        for (const auto& [month, ym] : it.value()) {
            try {
                run.moved += moveMonth(cur, curTable, curCols, arch, month, ym);
                ++run.monthsMoved;
            } catch (const DbError& e) {
                ++run.monthsFailed;
                if (isDamage(e) && !run.damaged.contains(QFileInfo(path).fileName()))
                    run.damaged << QFileInfo(path).fileName();
            }
            stage(testing::ArchiveStage::MonthDone);
        }
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

void reopenCurrent(const QString& curPath) {
    if (dbPhoneCur.isOpen()) dbPhoneCur.close();
    try {
        dbPhoneCur = dbSwitch.isOpen() ? dbSwitch.attach(curPath, QStringLiteral("phonecur")) : Database::open(curPath);
    } catch (const DbError&) {
    }
}

}  // namespace

QString ArchiveFileName(int year) { return QStringLiteral("PhBill_%1.mdb").arg(year, 4, 10, QChar('0')); }

QString ArchivePath(int year) { return platform::resolveCI(ModDefine::DataPath, ArchiveFileName(year)); }

QString MonthTableName(int month) { return QStringLiteral("Tab_Ph%1").arg(month); }

const ArchiveRun& LastArchiveRun() { return g_last; }

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
    const QString curPath = platform::resolveCI(ModDefine::DataPath, QStringLiteral("PhoneCur.mdb"));
    if (dbPhoneCur.isOpen() && (dbPhoneCur.inTransaction() || !sqlite3_get_autocommit(dbPhoneCur.raw())))
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
        compactCurrent(dbPhoneCur, curPath, g_last);
    }
    reopenCurrent(curPath);
    try {
        const QString t = dbPhoneCur.actualTableName(kCurrentTable);
        if (!t.isEmpty()) g_last.left = dbPhoneCur.rowCount(t);
    } catch (const DbError&) {
    }
    if (!g_last.damaged.isEmpty())
        platform::MsgBox(QStringLiteral("话单归档文件已损坏: %1\n这些年份的话单仍保留在当前话单库中.")
                             .arg(g_last.damaged.join(", ")),
                         platform::mbExclamation, ModDefine::AppName);
}

namespace testing {
void setHook(std::function<void(ArchiveStage)> hook) { g_hook = std::move(hook); }
}  // namespace testing

}  // namespace billing
