#pragma once
// One station per data directory: a lock file held for the whole run.
#include <QString>

namespace platform {
// True when this process now holds the lock of `dir` (or `dir` does not exist,
// so there is nothing to guard). False when it does not: `cannotWrite` stays
// empty when another running station holds the lock, and otherwise says why
// the lock file could not be written (a full or read-only disk, no right to write).
bool AcquireInstanceLock(const QString& dir, QString* cannotWrite = nullptr);
void ReleaseInstanceLock();
}  // namespace platform
