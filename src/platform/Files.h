#pragma once
// File names the station's procedures write in several letter cases resolve to
// one file; database files are replaced so that a crash leaves the old file or
// the new one, never a torn one.
#include <QString>
#include <functional>

namespace platform {

// The existing entry of `dir` whose name equals `name` without regard to case;
// `dir` + name when none exists (so new files keep the caller's spelling).
QString resolveCI(const QString& dir, const QString& name);
// A path whose last component (and each directory on the way) is matched without regard to case.
QString resolvePathCI(const QString& path);
bool existsCI(const QString& path);
bool removeCI(const QString& path);

// Copies `source` over `target` the safe way: written beside the target under a
// temporary name, synced, the target's stale journal removed, renamed over the
// target, the folder synced. Returns false (target untouched) on any failure.
bool safeReplace(const QString& source, const QString& target, QString* error = nullptr);
// Same, from bytes already prepared by the caller's own writer (e.g. an online backup).
// `writer` writes the complete file at the temporary path it is given.
bool safeReplaceWith(const QString& target, const std::function<bool(const QString& tmpPath)>& writer,
                     QString* error = nullptr);

// True when both paths name one existing file.
bool sameFile(const QString& a, const QString& b);

bool syncFile(const QString& path);
bool syncDir(const QString& dir);
// Syncs the data of a file the caller holds open as `fd` (its name `path`):
// true once what was written to it is on the disk.
bool syncData(int fd, const QString& path);

namespace testing {
// Called after every sync of the file layer that succeeded, with the path
// synced: a test sees what was on the disk before whatever it records next.
// Null removes it.
void setSyncHook(std::function<void(const QString& path)> hook);
}  // namespace testing

}  // namespace platform
