#pragma once
// The rows of a query as lists: counts, and texts for choice lists.
#include "platform/Db.h"

#include <QString>
#include <QStringList>

namespace ModSwitch {

int GetRecordCount(platform::Recordset& rs);
void GetRsArray(const QString& sql, QStringList& arr, const platform::Database& db, bool bPair);

}  // namespace ModSwitch
