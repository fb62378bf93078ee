#include "core/RowLists.h"

#include "platform/Clock.h"

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

QString RsValuesList(Recordset& rs, int kind) {
    QString list;
    if (!rs.isOpen()) return list;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QVariant v = rs.value(0);
        switch (kind) {
        case 0: list += QStringLiteral(",") + v.toString(); break;
        case 1: {
            // Quoted as an SQL text literal; a quote inside is doubled, so the
            // list can never end the literal early.
            QString t = v.toString();
            t.replace(QLatin1Char('\''), QStringLiteral("''"));
            list += QStringLiteral(",'") + t + QStringLiteral("'");
            break;
        }
        case 2: {
            // Dates are stored as text: a date list is a list of date texts.
            const QDateTime t = platform::parseDate(v);
            QString s = t.isValid() ? platform::dateText(t) : v.toString();
            s.replace(QLatin1Char('\''), QStringLiteral("''"));
            list += QStringLiteral(",'") + s + QStringLiteral("'");
            break;
        }
        default: break;
        }
    }
    return list.mid(1);
}

}  // namespace ModSwitch
