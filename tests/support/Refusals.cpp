#include "support/Refusals.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace testsupport::refusal {

namespace {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;

// What is armed; read by every thread that opens files (the copy taken
// beside a check runs on its own).
std::mutex g_lock;
struct Plan {
    bool armed = false;
    Op op = Op::Write;
    std::string file;
    int left = 0;
    bool fired = false;
} g_plan;

struct File {
    sqlite3_file base;
    sqlite3_file* real;
    char name[256];
};

bool named(const char* name, const std::string& wanted) {
    // Compared without case: the station names its files as the old program did.
    const size_t n = wanted.size();
    if (strncasecmp(name, wanted.c_str(), n) != 0) return false;
    return name[n] == 0 || name[n] == '-';
}

// True when this operation is the one to fail.
bool refuse(File* f, Op op) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_plan.armed || g_plan.fired || g_plan.op != op || !named(f->name, g_plan.file)) return false;
    if (--g_plan.left > 0) return false;
    g_plan.fired = true;
    return true;
}

sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

int xClose(sqlite3_file* f) {
    sqlite3_file* r = real(f);
    const int rc = r->pMethods ? r->pMethods->xClose(r) : SQLITE_OK;
    sqlite3_free(r);
    return rc;
}
int xRead(sqlite3_file* f, void* buf, int n, sqlite3_int64 at) {
    if (refuse(reinterpret_cast<File*>(f), Op::Read)) return SQLITE_IOERR_READ;
    return real(f)->pMethods->xRead(real(f), buf, n, at);
}
int xWrite(sqlite3_file* f, const void* buf, int n, sqlite3_int64 at) {
    if (refuse(reinterpret_cast<File*>(f), Op::Write)) return SQLITE_FULL;
    return real(f)->pMethods->xWrite(real(f), buf, n, at);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); }
int xSync(sqlite3_file* f, int flags) {
    if (refuse(reinterpret_cast<File*>(f), Op::Sync)) return SQLITE_IOERR_FSYNC;
    return real(f)->pMethods->xSync(real(f), flags);
}
int xFileSize(sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); }
int xLock(sqlite3_file* f, int l) { return real(f)->pMethods->xLock(real(f), l); }
int xUnlock(sqlite3_file* f, int l) { return real(f)->pMethods->xUnlock(real(f), l); }
int xCheckReservedLock(sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
int xFileControl(sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); }
int xSectorSize(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int xDeviceCharacteristics(sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
int xShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    return real(f)->pMethods->xShmMap(real(f), region, size, extend, out);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags) { return real(f)->pMethods->xShmLock(real(f), offset, n, flags); }
void xShmBarrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
int xShmUnmap(sqlite3_file* f, int del) { return real(f)->pMethods->xShmUnmap(real(f), del); }
// No memory-mapped pages: every read goes through xRead, where it can fail.
int xFetch(sqlite3_file*, sqlite3_int64, int, void** out) {
    *out = nullptr;
    return SQLITE_OK;
}
int xUnfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {3,       xClose,       xRead,       xWrite,     xTruncate,   xSync,
                                     xFileSize, xLock,      xUnlock,     xCheckReservedLock,       xFileControl,
                                     xSectorSize, xDeviceCharacteristics, xShmMap, xShmLock, xShmBarrier,
                                     xShmUnmap, xFetch,     xUnfetch};

int xOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* out, int flags, int* outFlags) {
    File* f = reinterpret_cast<File*>(out);
    f->base.pMethods = nullptr;
    f->real = static_cast<sqlite3_file*>(sqlite3_malloc(g_real->szOsFile));
    if (!f->real) return SQLITE_NOMEM;
    std::memset(f->real, 0, size_t(g_real->szOsFile));
    const int rc = g_real->xOpen(g_real, name, f->real, flags, outFlags);
    if (rc != SQLITE_OK || !f->real->pMethods) {
        if (f->real->pMethods) f->real->pMethods->xClose(f->real);
        sqlite3_free(f->real);
        f->real = nullptr;
        return rc == SQLITE_OK ? SQLITE_CANTOPEN : rc;
    }
    const char* base = name ? std::strrchr(name, '/') : nullptr;
    base = base ? base + 1 : (name ? name : "");
    std::strncpy(f->name, base, sizeof f->name - 1);
    f->name[sizeof f->name - 1] = 0;
    f->base.pMethods = &kMethods;
    return SQLITE_OK;
}

}  // namespace

void install() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_real = sqlite3_vfs_find(nullptr);
        // A copy of the real file system, its own data too, so that its calls
        // (delete, access, time, ...) work on ours as on it: only the opening
        // of a file is ours, and with it the file's methods.
        g_vfs = *g_real;
        g_vfs.pNext = nullptr;
        g_vfs.szOsFile = int(sizeof(File));
        g_vfs.zName = "tarvo-refusals";
        g_vfs.xOpen = xOpen;
        sqlite3_vfs_register(&g_vfs, 1);
    });
}

void arm(Op op, const QString& file, int n) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_plan = Plan{true, op, file.toStdString(), n, false};
}

void disarm() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_plan.armed = false;
}

bool fired() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_plan.fired;
}

const char* nameOf(Op op) {
    switch (op) {
    case Op::Write: return "write";
    case Op::Sync: return "sync";
    case Op::Read: return "read";
    }
    return "?";
}

}  // namespace testsupport::refusal
