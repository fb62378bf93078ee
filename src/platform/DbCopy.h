#pragma once
// A copy of a database file made while the station keeps working: SQLite's
// online backup a few hundred pages at a time, window events handled between
// the steps, so that a large archive is copied without freezing the station.
// The backups of the archive window and of the database window use it.
#include "platform/Db.h"

#include <QString>
#include <functional>

namespace platform {

struct StepCopyStats {
    int steps = 0;
    qint64 pages = 0;
    qint64 longestStepMs = 0;   // the longest single step, yields excluded
    int busySteps = 0;          // steps that found the source locked
};

// Copies the database file `source` to `target`. When `station` (the station's
// connection) has the file open, main or attached, the copy reads through that
// connection, so rows the station writes between steps are in the copy;
// otherwise it reads through a read-only connection of its own. The copy is
// written under a temporary name in the target's folder, checked with
// quick_check and then renamed over the target. False with a description in
// `error` on failure; no temporary file is left and the target is untouched.
// A source locked by another program is waited for, window events handled
// meanwhile; once it has stayed locked for twenty seconds (TickMs) the copy
// fails and `error` says the file is held by another program.
bool CopyDatabaseStepwise(const QString& source, const QString& target, const Database& station,
                          QString* error = nullptr, StepCopyStats* stats = nullptr, int pagesPerStep = 256);

namespace testing {
// Called after every step but the last, before the yield (a test stores rows there).
void setStepCopyHook(std::function<void(int step)> hook);
}  // namespace testing

}  // namespace platform
