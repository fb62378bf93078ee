#pragma once
// One station per data directory: a lock file held for the whole run.
#include <QString>

namespace platform {
// True when this process now holds the lock of `dir` (or `dir` does not exist,
// so there is nothing to guard); false when another running station holds it.
bool AcquireInstanceLock(const QString& dir);
void ReleaseInstanceLock();
}  // namespace platform
