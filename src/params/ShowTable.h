#pragma once
// The one loader that turns a query on the station database into the
// contents of a table grid, decoding every stored code into its text.
#include "platform/Db.h"
#include "platform/FlexGrid.h"

#include <QString>

namespace ModGeneral {

// Grid colours (&HBBGGRR): a row edited and not saved, a row waiting for download.
inline constexpr quint32 kEditedRowColor = 0xFFFFC0;
inline constexpr quint32 kPendingRowColor = 0xFFFF00;
// A view of this many records or more is not shown.
inline constexpr int kMaxGridRecords = 20000;

// Fills `grid` from `sql` (run on dbSwitch with `params` bound). `header` is a
// "|"-separated format string ("" keeps the grid's); bAppend 0 rebuilds the
// grid, otherwise adds the records below its last row; the last nHidden
// fields are not shown. Failures and oversized views are reported in the
// console's status bar, never to the caller.
void ShowTable(platform::FlexGrid& grid, const QString& sql, const QString& header, int bAppend, int nHidden,
               bool bProgress = false, const platform::Params& params = {});

namespace testing {
// How long a fill runs before its progress window comes up (ms); returns the
// previous setting.
qint64 setLoadProgressAfter(qint64 ms);
}  // namespace testing

}  // namespace ModGeneral
