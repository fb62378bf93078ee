#pragma once
// One station per data directory: a lock file held for the whole run.
#include <QString>

namespace platform {
// True when this process now holds the lock of `dir` (or `dir` does not exist,
// so there is nothing to guard). False when it does not: both texts stay
// empty when a station running on this computer holds the lock;
// `cannotWrite` says why the lock file could not be written (a full or
// read-only disk, no right to write); `holder` names the holder of a lock
// this computer cannot judge (written on another computer, or unreadable)
// and the lock file; `unheld` is set when that lock's content cannot be read
// and no process holds it, so that it may be taken over.
bool AcquireInstanceLock(const QString& dir, QString* cannotWrite = nullptr, QString* holder = nullptr,
                         bool* unheld = nullptr);
// Replaces a lock file no process holds by this process's own; false when
// a process holds it meanwhile or it cannot be replaced.
bool TakeOverInstanceLock(const QString& dir);
void ReleaseInstanceLock();
}  // namespace platform
