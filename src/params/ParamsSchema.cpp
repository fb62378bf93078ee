#include "core/Schema.h"

namespace params {

// Tables of this subsystem in a fresh station.
void AddSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    // Placeholder until the parameter tables are built: the users the start-up needs.
    sw.execute("CREATE TABLE user (userid LONG NOT NULL PRIMARY KEY, username TEXT(20), lastdate DATETIME, "
               "remain CURRENCY NOT NULL DEFAULT 0, overdraft CURRENCY NOT NULL DEFAULT 0, "
               "balancemode BYTE NOT NULL DEFAULT 0, locked BOOLEAN NOT NULL DEFAULT 0, printonce BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE monres (state INTEGER, channelpicture INTEGER NOT NULL DEFAULT 0, channeltext TEXT(20) NOT NULL DEFAULT '', "
               "userpicture INTEGER NOT NULL DEFAULT 0, Usertext TEXT(20) NOT NULL DEFAULT '')");
    (void)cur;
    (void)model;
}

}  // namespace params
