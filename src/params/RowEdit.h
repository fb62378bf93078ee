#pragma once
// Adding rows to and deleting rows from the table shown in the console grid:
// the head, switch fee-rate and user tables gain rows in the grid (stored at
// the next save); deleted rows leave the database at once.
namespace ModSwitch {

// A new row at the bottom of the grid, proposed from the last one, with the
// text editor open on its key (on the name for a user).
void AddParaRecord(int rightNo);
// Deletes the selected rows, after asking, bottom up.
void DelParaRecord(int rightNo);

}  // namespace ModSwitch
