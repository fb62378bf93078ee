#pragma once
// The view que_extcount: ExtCount, how many extensions the board layout
// gives (the bound the extension grid shows), for queries that join it.
#include "platform/Db.h"

namespace params {

// Creates que_extcount in `db` when it is missing; an older data directory
// gets it at start-up.
void EnsureExtCountView(const platform::Database& db);

}  // namespace params
