#include "core/Schema.h"

namespace core::schema {

void AddCoreSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)cur;
    sw.execute("CREATE TABLE Variant (varname TEXT(50) NOT NULL COLLATE NOCASE, value TEXT(255))");
    sw.execute("CREATE TABLE tab_oplog (f_date DATETIME, f_workerid TEXT(4), f_workername TEXT(20), f_memo TEXT(255))");
    sw.execute("INSERT INTO Variant VALUES('SWITCHMODEL', ?)", {QString::number(model)});
}

}  // namespace core::schema
