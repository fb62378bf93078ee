#pragma once
// A disk that refuses once, where a test chooses: the process's default
// SQLite file system is a thin layer over the real one that fails the n-th
// write (SQLITE_FULL, a full disk), the n-th sync (SQLITE_IOERR_FSYNC) or the
// n-th read (SQLITE_IOERR_READ) of a chosen file, counted from when it is
// armed. Everything else passes through untouched.
#include <QString>

namespace testsupport::refusal {

enum class Op { Write, Sync, Read };

// Makes the shim the default file system of the process (once; the test
// executables' main does it before any file is opened).
void install();

// Fails the `n`-th `op` (1 = the next one) on a file named `file`: its base
// name, and the sidecars SQLite keeps beside it ("PhoneCur.mdb" is the file,
// its "-wal", "-journal" and "-shm"; "PhoneCur.mdb-wal" the log alone).
// Once: the operations after it succeed.
void arm(Op op, const QString& file, int n);
// Nothing fails any more.
void disarm();
// Whether the armed failure has happened since arm().
bool fired();

// Arms for the lifetime of a scope.
class Armed {
public:
    Armed(Op op, const QString& file, int n) { arm(op, file, n); }
    ~Armed() { disarm(); }
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

const char* nameOf(Op op);

}  // namespace testsupport::refusal
