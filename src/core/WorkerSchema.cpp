#include "core/Schema.h"

namespace core::schema {

void AddWorkerSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)cur;
    (void)model;
    sw.execute("CREATE TABLE Worker (WorkerID TEXT(4) NOT NULL PRIMARY KEY, WorkerName TEXT(20), "
               "workgrade INTEGER NOT NULL DEFAULT 0, passcode TEXT(40), rightlist TEXT(255), "
               "b_active BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE rightlist (rightid LONG NOT NULL PRIMARY KEY, rightname TEXT(50))");
}

}  // namespace core::schema
