#include "platform/DbCopy.h"

#include "platform/Clock.h"
#include "platform/Files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>
#include <atomic>
#include <cerrno>
#include <thread>

namespace platform {

namespace {

std::function<void(int)> g_stepHook;

// How long one step of the copy may hold the window's events, in milliseconds.
constexpr qint64 kStepTargetMs = 20;

// A step of the copy's own connection waits little for a lock: the copy
// tries again after the window's events have been handled.
constexpr int kOwnBusyWaitMs = 250;

// How long the source may stay locked before the copy gives up. The
// station's own writes end long before (each of them gives up after
// kBusyTimeoutMs); a lock held longer is another program's.
constexpr qint64 kLockPatienceMs = 20000;

const QString kLockedCause = QStringLiteral("文件被其他程序占用");

// The schema of `conn` that has `path` open, "" when none.
QString schemaHolding(sqlite3* conn, const QString& path) {
    const QString want = QFileInfo(path).canonicalFilePath();
    if (!conn || want.isEmpty()) return {};
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(conn, "PRAGMA database_list", -1, &st, nullptr) != SQLITE_OK) return {};
    QString found;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        const auto* file = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
        if (!name || !file || !*file) continue;
        if (QFileInfo(QString::fromUtf8(file)).canonicalFilePath() == want) {
            found = QString::fromUtf8(name);
            break;
        }
    }
    sqlite3_finalize(st);
    return found;
}

bool quickCheckOk(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &st, nullptr) != SQLITE_OK) return false;
    bool ok = sqlite3_step(st) == SQLITE_ROW &&
              QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) == QLatin1String("ok");
    sqlite3_finalize(st);
    return ok;
}

// Why a step of the copy failed, as the operator reads it: the system's own
// cause when the copy's writes were refused (a full disk above all), else
// what went wrong with the file being copied.
QString copyFailureCause(int rc, sqlite3* dst) {
    if ((rc & 0xff) == SQLITE_FULL) return describeErrno(ENOSPC);
    const int e = dst ? sqlite3_system_errno(dst) : 0;
    if (e) return describeErrno(e);
    switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN: return describeErrno(EACCES);
    case SQLITE_IOERR: return describeErrno(EIO);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return QStringLiteral("数据库文件已损坏");
    default: return QString::fromUtf8(sqlite3_errstr(rc));
    }
}

struct Handle {
    sqlite3* db = nullptr;
    ~Handle() {
        if (db) sqlite3_close_v2(db);
    }
};

}  // namespace

bool CopyDatabaseStepwise(const QString& sourceIn, const QString& target, const Database& station, QString* error,
                          StepCopyStats* stats, int pagesPerStep) {
    QString err;
    StepCopyStats st;
    const QString source = resolvePathCI(sourceIn);
    auto fail = [&](const QString& text) {
        if (err.isEmpty()) err = text;
        return false;
    };
    if (!QFileInfo(source).isFile()) {
        if (error) *error = QStringLiteral("找不到文件 %1").arg(source);
        return false;
    }
    // A copy of the handle keeps the station's connection alive until the copy ends.
    const Database held = station;
    Handle own;
    sqlite3* src = nullptr;
    QString schema = held.isOpen() ? schemaHolding(held.raw(), source) : QString();
    if (!schema.isEmpty()) {
        src = held.raw();
    } else {
        if (sqlite3_open_v2(QFile::encodeName(source).constData(), &own.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            const QString msg = own.db ? QString::fromUtf8(sqlite3_errmsg(own.db)) : QString();
            if (error) *error = QStringLiteral("无法打开 %1 %2").arg(source, msg);
            return false;
        }
        sqlite3_busy_timeout(own.db, kOwnBusyWaitMs);
        src = own.db;
        schema = QStringLiteral("main");
    }
    const int step = qMax(1, pagesPerStep);
    const bool ok = safeReplaceWith(target, [&](const QString& tmp) {
        QFile::remove(tmp + "-journal");
        Handle dst;
        if (sqlite3_open_v2(QFile::encodeName(tmp).constData(), &dst.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            return fail(QStringLiteral("无法写入 %1（%2）").arg(target, copyFailureCause(SQLITE_CANTOPEN, dst.db)));
        // The copy is a new file that is thrown away on any failure and synced
        // whole before it replaces the target: it needs no journal of its own,
        // and its sync is left to the end, off the window's thread.
        sqlite3_exec(dst.db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
        sqlite3_backup* b = sqlite3_backup_init(dst.db, "main", src, schema.toUtf8().constData());
        if (!b) return fail(QString::fromUtf8(sqlite3_errmsg(dst.db)));
        int rc = SQLITE_OK;
        // Steps are kept short whatever the disk does: a slow step halves the
        // pages of the next, a quick one doubles them again up to `step`.
        int pages = step;
        // Since when (TickMs) the source has refused every step, -1 while it does not.
        qint64 lockedSince = -1;
        for (;;) {
            QElapsedTimer t;
            t.start();
            rc = sqlite3_backup_step(b, pages);
            const qint64 ms = t.elapsed();
            st.longestStepMs = qMax(st.longestStepMs, ms);
            ++st.steps;
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_OK && rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
            if (rc == SQLITE_OK) {
                lockedSince = -1;
            } else {
                ++st.busySteps;
                if (lockedSince < 0) lockedSince = TickMs();
                else if (TickMs() - lockedSince >= kLockPatienceMs) break;
            }
            if (ms > kStepTargetMs) pages = qMax(8, pages / 2);
            else if (ms < kStepTargetMs / 4) pages = qMin(step, pages * 2);
            if (g_stepHook) g_stepHook(st.steps);
            YieldEvents();
        }
        st.pages = sqlite3_backup_pagecount(b);
        sqlite3_backup_finish(b);
        // The copy stands alone in rollback-journal mode: it needs nothing
        // beside it, restores from read-only media, and its check writes no log.
        if (rc == SQLITE_DONE) sqlite3_exec(dst.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_DONE) {
            const bool held = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
            const QString msg = held ? kLockedCause : copyFailureCause(rc, dst.db);
            sqlite3_close_v2(dst.db);
            dst.db = nullptr;
            QFile::remove(tmp + "-journal");
            // A held file is let go by its holder: the operator is told whom to ask.
            if (held) return fail(QStringLiteral("复制数据库失败（%1），请关闭正在使用该文件的其他程序").arg(msg));
            return fail(QStringLiteral("复制数据库失败（%1）").arg(msg));
        }
        // The check reads the whole copy: it runs beside the window's events, not in their way.
        std::atomic<bool> done{false};
        bool checked = false, written = false;
        QString syncFailure;
        std::thread check([&] {
            checked = quickCheckOk(dst.db);
            written = checked && syncFile(tmp);
            // The file layer's error is the thread's own.
            if (checked && !written) syncFailure = lastFileError();
            done = true;
        });
        while (!done) YieldEvents();
        check.join();
        sqlite3_close_v2(dst.db);
        dst.db = nullptr;
        QFile::remove(tmp + "-journal");
        if (!checked) return fail(QStringLiteral("复制的数据库未通过检查 %1").arg(target));
        if (!written)
            return fail(QStringLiteral("无法写入 %1（%2）").arg(target, syncFailure.isEmpty() ? describeErrno(EIO) : syncFailure));
        QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        return true;
    }, &err);
    if (stats) *stats = st;
    if (!ok && error) *error = err.isEmpty() ? QStringLiteral("无法写入 %1").arg(target) : err;
    return ok;
}

namespace testing {
void setStepCopyHook(std::function<void(int)> hook) { g_stepHook = std::move(hook); }
}  // namespace testing

}  // namespace platform
