#include "core/RowLists.h"

namespace ModSwitch {

using platform::Database;
using platform::Recordset;

int GetRecordCount(Recordset& rs) {
    if (!rs.isOpen() || rs.recordCount() < 1) return 0;
    rs.moveLast();
    rs.moveFirst();
    return rs.recordCount();
}

void GetRsArray(const QString& sql, QStringList& arr, const Database& db, bool bPair) {
    Recordset rs = db.query(sql);
    if (rs.empty()) return;
    QStringList out;
    out.reserve(rs.recordCount());
    const bool spring = bPair && rs.fieldCount() > 1 &&
                        rs.fieldName(1).compare(QStringLiteral("SpringNum"), Qt::CaseInsensitive) == 0;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString first = rs.value(0).toString();
        if (!bPair) out << first;
        else if (spring) out << first + rs.value(1).toString();
        else out << first + QStringLiteral("-") + (rs.fieldCount() > 1 ? rs.value(1).toString() : QString());
    }
    arr = out;
}

}  // namespace ModSwitch
