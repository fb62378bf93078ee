#pragma once
// The rows of a query as lists: counts, and texts for choice lists.
#include "platform/Db.h"

#include <QString>
#include <QStringList>

namespace ModSwitch {

int GetRecordCount(platform::Recordset& rs);
void GetRsArray(const QString& sql, QStringList& arr, const platform::Database& db, bool bPair);
// The first column of every row, joined by ",", for an SQL IN list: plain
// (kind 0), as quoted texts (1) or as quoted date texts (2); "" without rows.
QString RsValuesList(platform::Recordset& rs, int kind);

}  // namespace ModSwitch
