#pragma once
// The export of one archived month into the table JianKong of a separate
// bill database, in the layout another call-accounting program reads.
#include "platform/Db.h"

#include <QString>

namespace billing {

// Appends one JianKong row per call of `tableName` (a month table of the
// archive `dbSrc`) to `dbDst`, newest call first, numbered after the largest
// Number already there, under a progress window with a Stop button. Rows
// written before Stop stay. The amounts leave out the base fee, as the
// reading program expects. Always 0; a database error reaches the caller.
int ConvertToJianKong(const platform::Database& dbSrc, const platform::Database& dbDst, const QString& tableName);

}  // namespace billing
