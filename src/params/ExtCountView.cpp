#include "params/ExtCountView.h"

namespace params {

void EnsureExtCountView(const platform::Database& db) {
    // Eight extensions a subscriber slot, counted from slot 7 up to the
    // highest slot holding a subscriber or special-telephone board.
    db.execute(QStringLiteral(
        "CREATE VIEW IF NOT EXISTS que_extcount AS SELECT COALESCE((MAX(cardorder)-6)*8,0) AS ExtCount "
        "FROM MonCard WHERE dispcard=0 OR dispcard=11"));
}

}  // namespace params
