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

// Copies `source` to a new file `target`; false, with the cause the system
// gave ("无法复制 <source>（磁盘已满）"), when it could not.
bool copyFile(const QString& source, const QString& target, QString* error = nullptr);
// True when both paths name one existing file.
bool sameFile(const QString& a, const QString& b);
// What tells one state of a file from another without reading it all: its
// size, its time of last write (to the nanosecond) and a checksum of its
// first 100 bytes (a database's header, whose change counter every commit
// of a rollback journal moves); empty when it cannot be read. A file written
// since has another; a copy that keeps the times of its file (cp -a, a
// backup tool) has the same, wherever it stands: a data directory copied
// whole is not taken for changed by where its files now lie.
QByteArray fileIdentity(const QString& path);

bool syncFile(const QString& path);
bool syncDir(const QString& dir);
// Renames `from` over `to`; false, with the cause in `error`, when the system refuses.
bool renameFile(const QString& from, const QString& to, QString* error = nullptr);

// A small file that records what the station is doing ("what I was doing"
// marks, notices): written under a temporary name, every write and its sync
// checked, renamed over `path`, the folder synced. False, with the cause, and
// `path` as it was, when any step fails (a full disk leaves no empty mark).
bool writeFileDurably(const QString& path, const QByteArray& bytes, QString* error = nullptr);
enum class ReadState { Missing, Unreadable, Read };
// Reads such a file whole, to its end. Unreadable when it exists but cannot
// be read, or a read fails part of the way (never the bytes before the
// failure as the whole file), which its reader then takes as the worst case
// it may stand for; the cause in lastFileError().
ReadState readFileStrictly(const QString& path, QByteArray* bytes);
// Why files cannot be written in the folder `dir`, found by writing, syncing
// and renaming a small one there (then removed): the cause as describeErrno
// says it, "" when that works.
QString DirectoryWriteFailure(const QString& dir);
// A cause for a system error number, as the operator reads it ("磁盘已满").
QString describeErrno(int error);
// The same for the last failure of the file layer, "" when none is known.
QString lastFileError();
void clearFileError();
// Syncs the data of a file the caller holds open as `fd` (its name `path`):
// true once what was written to it is on the disk.
bool syncData(int fd, const QString& path);

namespace testing {
// Called after every sync of the file layer that succeeded, with the path
// synced: a test sees what was on the disk before whatever it records next.
// Null removes it.
void setSyncHook(std::function<void(const QString& path)> hook);
// Called before the file layer writes, syncs or renames (`op` "write", "sync",
// "rename") `path`, and before each read of readFileStrictly ("read", the first
// of a file of up to 64 KiB giving all of it, the next its end): a non-zero
// system error number makes that step fail with it, as a full disk, a
// read-only folder or a bad sector would. Null removes it.
void setFaultHook(std::function<int(const QString& op, const QString& path)> hook);
}  // namespace testing

}  // namespace platform
