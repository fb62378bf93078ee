#include "core/Schema.h"

namespace pricing {

// Tables of this subsystem in a fresh station.
void AddSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    // Placeholders until the tariff tables are built: what the start-up opens.
    sw.execute("CREATE TABLE feerate (zonecode TEXT(16) NOT NULL, feerateid LONG NOT NULL DEFAULT 0, "
               "feeratetype BYTE NOT NULL DEFAULT 0, summary TEXT(50), PRIMARY KEY (zonecode, feerateid, feeratetype))");
    sw.execute("CREATE TABLE iphead (iphead TEXT(16) NOT NULL PRIMARY KEY)");
    sw.execute("CREATE TABLE awake (flewno INTEGER PRIMARY KEY, Address INTEGER NOT NULL DEFAULT 0, servetime DATETIME, "
               "servetype BYTE NOT NULL DEFAULT 0)");
    cur.execute(QStringLiteral("CREATE TABLE %1 (f_userid LONG NOT NULL DEFAULT 0, f_date DATETIME)").arg(cur.qualified("Tab_Phone")));
    cur.execute(QStringLiteral("CREATE TABLE %1 (f_FlewNO INTEGER PRIMARY KEY, f_date DATETIME)").arg(cur.qualified("tab_errPh")));
    (void)model;
}

}  // namespace pricing
