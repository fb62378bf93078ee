#pragma once
// Writing the console grid back into the station database: the rows edited
// in the grid are stored and marked as waiting for download, heads renumber
// their extensions, and a table read from the switch is taken over.
#include <QString>

namespace ModSwitch {

// Saves the pending edits of the current view after asking the operator.
// True when the worker lacks `rightNo`, when the answer was carried out
// (saved, or discarded on any view but the boards) and after taking over a
// table read from the switch; false when there was nothing to save, when
// board edits were discarded, and when an error stopped the save (the rows
// not written stay unsaved then). `bRefresh` redraws a head table sorted.
bool SaveSwitchPara(int rightNo, bool bRefresh);

}  // namespace ModSwitch
