#pragma once
// The full check of a file where it differs from a copy that passed the full
// check: a session adds some hundred calls to a file of a million, and the
// rest of the file is the copy's pages, byte for byte.
#include <QString>

namespace platform {
class Database;
}

namespace ModSwitch {

// True when `file` (open in `cur`, no log beside it, already through the
// quick check) holds what the full check asks, judged from `copy`, which
// passed the full check as it stands and has the same tables and indexes:
// every page of the file alike with the copy's in the same tree stands as it
// stood there; for the tables whose pages differ, every row on a page that
// differs, and every row whose index entry stood on a page that differs, is
// looked up in each index of its table, a unique index holds its key once,
// each index gains as many entries as its table gains rows, and an index
// whose pages changed holds its entries in order there (a search routed
// through a changed page finds what it holds). False when
// the file does not hold it or the question cannot be bounded so (another
// schema, an overflowing key, a page of no tree that differs, most pages
// differing): the full check of the whole file then judges.
bool ChangesHoldAgainstCopy(const platform::Database& cur, const QString& file, const QString& copy);
// Whether the question may be bounded so, from what costs little: the same
// format and structure as the copy, and a sample of the pages finding no
// more than a quarter of them differing. False: the full check of the whole
// file judges, with no page comparison before it.
bool ChangesMayBeBounded(const platform::Database& cur, const QString& file, const QString& copy);

// The full check of `file` (open in `cur`, no log beside it, already through
// the quick check) where it looks rows up, done in order instead: every
// index read from its root in key order, each entry after the one before (a
// unique key once, so a search routed through it finds what it holds), and
// its entries the same as its table's rows give (their count and digest,
// each read once). Each page is read a few times in a row, not looked up at
// random: a busy session's file is checked with the engine's own cache.
// False when it does not hold or cannot be judged so (a collation, an
// expression or a partial index, a key too long for its page): the full
// check then judges.
bool IndexesMatchTheirTables(const platform::Database& cur, const QString& file);

}  // namespace ModSwitch
