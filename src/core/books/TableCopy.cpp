#include "core/books/TableCopy.h"

#include "core/ModDefine.h"

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::quoteIdent;
using platform::Recordset;

namespace {

QString ColumnDefinition(const platform::ColumnInfo& c) {
    QString d = quoteIdent(c.name);
    if (!c.declType.isEmpty()) d += QLatin1Char(' ') + c.declType;
    if (c.notNull) d += QStringLiteral(" NOT NULL");
    if (!c.defaultValue.isNull()) d += QStringLiteral(" DEFAULT (") + c.defaultValue.toString() + QLatin1Char(')');
    return d;
}

}  // namespace

QString ColumnDefinitions(const platform::Database& db, const QString& table) {
    QStringList defs;
    for (const platform::ColumnInfo& c : db.columns(table)) defs << ColumnDefinition(c);
    return defs.join(QStringLiteral(", "));
}

void CopyTableDef(const Database& dbSrc, const QString& srcTable, const Database& dbDst, const QString& dstTable) {
    try {
        const QString src = dbSrc.actualTableName(srcTable);
        if (src.isEmpty()) return;
        QString defs = ColumnDefinitions(dbSrc, src);
        if (defs.isEmpty()) return;
        const QList<platform::IndexInfo> indexes = dbSrc.indexes(src);
        // The table's key when it has one, else its first index, becomes the key of the copy.
        const platform::IndexInfo* key = nullptr;
        for (const platform::IndexInfo& ix : indexes)
            if (ix.primary) key = &ix;
        if (!key && !indexes.isEmpty()) key = &indexes.first();
        if (key && !key->columns.isEmpty()) {
            g_ModifyList.clear();
            QStringList cols;
            for (const QString& c : key->columns) {
                g_ModifyList << QStringLiteral("+") + c;
                cols << quoteIdent(c);
            }
            defs += QStringLiteral(", CONSTRAINT PrimaryKey PRIMARY KEY (%1)").arg(cols.join(QStringLiteral(", ")));
        }
        dbDst.execute(QStringLiteral("CREATE TABLE %1 (%2)").arg(dbDst.qualified(dstTable), defs));
    } catch (const DbError&) {
        // A structure copy stops silently.
    }
}

bool CreatePTable(const QString& name) {
    const QString shadow = QStringLiteral("p") + name;
    try {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("DROP TABLE IF EXISTS %1").arg(dbSwitch.qualified(shadow)));
        CopyTableDef(dbSwitch, name, dbSwitch, shadow);
        tx.commit();
        return dbSwitch.hasTable(shadow);
    } catch (const DbError&) {
        return false;
    }
}

bool CopyTable(const Database& dbSrc, const QString& srcTable, const Database& dbDst, const QString& dstTable,
               bool bAppend, const QString& sSelect) {
    try {
        QString select = sSelect;
        if (select.isEmpty()) {
            const QString src = dbSrc.actualTableName(srcTable);
            select = QStringLiteral("select * from ") + (src.isEmpty() ? quoteIdent(srcTable) : dbSrc.qualified(src));
        }
        const bool oneConnection = dbSrc.sameConnection(dbDst);
        // From another file the rows are read first; nothing is written until they are.
        Recordset rows;
        if (!oneConnection) rows = dbSrc.query(select);

        platform::Transaction tx(dbDst);
        if (!dbDst.hasTable(dstTable)) {
            CopyTableDef(dbSrc, srcTable, dbDst, dstTable);
            if (!dbDst.hasTable(dstTable))
                throw DbError(platform::kErrNoSuchTable, QStringLiteral("找不到表 '%1'").arg(dstTable));
        }
        const QString dst = dbDst.qualified(dbDst.actualTableName(dstTable));
        if (!bAppend) dbDst.execute(QStringLiteral("delete from ") + dst);
        if (oneConnection) {
            dbDst.execute(QStringLiteral("insert into %1 %2").arg(dst, select));
        } else if (!rows.empty()) {
            QStringList marks;
            for (int i = 0; i < rows.fieldCount(); ++i) marks << QStringLiteral("?");
            const QString insert = QStringLiteral("insert into %1 values(%2)").arg(dst, marks.join(QLatin1Char(',')));
            for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
                platform::Params values;
                for (int i = 0; i < rows.fieldCount(); ++i) values << platform::Param(rows.value(i));
                dbDst.execute(insert, values);
            }
        }
        tx.commit();
        return true;
    } catch (const DbError&) {
        return false;
    }
}

}  // namespace ModSwitch
