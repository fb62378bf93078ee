#include "core/Schema.h"

namespace core::schema {

void AddCoreSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)cur;
    sw.execute("CREATE TABLE Variant (varname TEXT(50) NOT NULL COLLATE NOCASE, value TEXT(255))");
    sw.execute("CREATE TABLE tab_oplog (f_date DATETIME, f_workerid TEXT(4), f_workername TEXT(20), f_memo TEXT(255))");
    sw.execute("CREATE TABLE Worker (WorkerID TEXT(4) NOT NULL PRIMARY KEY, WorkerName TEXT(20), "
               "workgrade INTEGER NOT NULL DEFAULT 0, passcode TEXT(40), rightlist TEXT(255), "
               "b_active BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE rightlist (rightid LONG NOT NULL PRIMARY KEY, rightname TEXT(50))");
    sw.execute("INSERT INTO Variant VALUES('SWITCHMODEL', ?)", {QString::number(model)});
}

}  // namespace core::schema
