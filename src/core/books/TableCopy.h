#pragma once
// Copies of tables: their definitions, their rows, and the shadow tables
// ("p" + name) a download compares against.
#include "platform/Db.h"

#include <QString>

namespace ModSwitch {

// Copies the rows of srcTable (or of the query sSelect) into dstTable, creating
// it like srcTable when missing; one transaction: false leaves dbDst as it was.
bool CopyTable(const platform::Database& dbSrc, const QString& srcTable, const platform::Database& dbDst,
               const QString& dstTable, bool bAppend, const QString& sSelect);
// The column definitions of `table` (names, declared types, required flags,
// defaults), as they stand in CREATE TABLE; for rebuilding a table.
QString ColumnDefinitions(const platform::Database& db, const QString& table);
// Copies the column definitions of srcTable (in dbSrc) into a new table
// dstTable of dbDst, with srcTable's key (or, without one, its first index) as
// the primary key "PrimaryKey". Any error stops the copy silently.
void CopyTableDef(const platform::Database& dbSrc, const QString& srcTable, const platform::Database& dbDst,
                  const QString& dstTable);
// (Re)creates the empty shadow table "p" + name in dbSwitch; false when it could not.
bool CreatePTable(const QString& name);

}  // namespace ModSwitch
