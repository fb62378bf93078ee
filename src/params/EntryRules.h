#pragma once
// The checks a value must pass before an in-place edit of the console grid
// may reach the grid: typed values by the title of their column, chosen
// options by theirs, and the conflict searches the prefix columns share.
// They judge the grid as it stands: the edited column GridMouseCol, the
// selected rows GridSelFirst..GridSelLast, the view CurTable.
#include "platform/Currency.h"
#include "platform/FlexGrid.h"

#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>

namespace ModSwitch {

struct EntryResult {
    bool ok = false;
    QString text;      // the value to commit, normalised
    QString message;   // why it was refused ("" for a silent refusal)
};

// Recognisers: a plain number (optional sign, digits, optionally a point and
// digits), a local head ("*", "E" or 1 to 8 digits), and a time H:mm[:ss].
bool IsPlainNumber(const QString& s);
bool IsLocalHead(const QString& s);
std::optional<QTime> ParseEntryTime(const QString& s);
// The leading number of a text ("12abc" -> "12", "007" -> "7", "" -> "0"),
// written back as plain decimal text; `value` gets it as money.
QString ValText(const QString& s, platform::Currency* value = nullptr);

// Rule A: the first row of column `col` whose cell equals `value` (exact) or
// is a prefix of it or has it as a prefix; cells "FFFF", empty cells and the
// row `skipRow` are passed over. -1 when none.
int FindPrefixConflict(const platform::FlexGrid& grid, const QString& value, bool bExact, int col, int skipRow);
// Rule B, heads of the city-head grid (column 0 head, column 1 class) judged
// against row `row`'s class. -1 when none.
int CheckLocalClass(const platform::FlexGrid& grid, const QString& value, int row);

// The typed value of column GridMouseCol: upper-cased, checked, normalised.
// The protected head row "E" answers with a message box and keeps its value.
EntryResult CheckTextEntry(const platform::FlexGrid& grid, const QString& typed);
// The chosen option of column GridMouseCol; `listCount` is the number of
// options the editor offered. The 字头 rule rewrites column 2 of the selected
// rows and may cut GridSelLast back; the 本机类别 rule may change the text.
EntryResult CheckOptionEntry(platform::FlexGrid& grid, const QString& chosen, int listCount);

}  // namespace ModSwitch
