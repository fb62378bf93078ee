#include "core/Schema.h"

namespace admin {

// Tables of this subsystem in a fresh station.
void AddSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)sw;
    (void)cur;
    (void)model;
}

}  // namespace admin
