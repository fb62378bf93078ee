#include "billing/Settlement.h"
#include "core/Schema.h"

namespace billing {

// Tables of this subsystem in a fresh station.
void AddSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)cur;
    (void)model;
    EnsureBalanceTable(sw);
}

}  // namespace billing
