#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <fcntl.h>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
// The names in a folder, listed again only when the folder has changed since:
// a file looked for on every call record (the spool, most of the time absent)
// would otherwise list the data directory each time.
QStringList entriesOf(const QDir& d) {
    struct Listing {
        qint64 changedNs = 0;
        QStringList entries;
    };
    static std::mutex lock;
    static QHash<QString, Listing> cache;
    // A folder's time of change is taken from the kernel's coarse clock and may
    // lag the real time by a tick: a listing is kept only when the folder had
    // not changed for some ticks before it was looked at, so that any later
    // change shows as a later time. Ten milliseconds at least.
    static const qint64 settleNs = [] {
        timespec res {};
        ::clock_getres(CLOCK_REALTIME_COARSE, &res);
        return std::max<qint64>(10000000, 3 * (qint64(res.tv_sec) * 1000000000LL + res.tv_nsec));
    }();
    timespec before {};
    ::clock_gettime(CLOCK_REALTIME, &before);
    const QString key = d.absolutePath();
    struct stat st {};
    const bool known = ::stat(QFile::encodeName(key).constData(), &st) == 0;
    const qint64 changedNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    if (known) {
        std::lock_guard<std::mutex> g(lock);
        const auto it = cache.constFind(key);
        if (it != cache.constEnd() && it->changedNs == changedNs) return it->entries;
    }
    const QStringList entries = d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const qint64 lookedNs = qint64(before.tv_sec) * 1000000000LL + before.tv_nsec;
    if (known && lookedNs - changedNs > settleNs) {
        std::lock_guard<std::mutex> g(lock);
        if (cache.size() > 64) cache.clear();
        cache.insert(key, Listing{changedNs, entries});
    }
    return entries;
}
}  // namespace

QString resolveCI(const QString& dir, const QString& name) {
    QDir d(dir);
    const QString direct = d.filePath(name);
    if (QFileInfo::exists(direct)) return direct;
    for (const QString& e : entriesOf(d))
        if (e.compare(name, Qt::CaseInsensitive) == 0) {
            const QString found = d.filePath(e);
            if (QFileInfo::exists(found)) return found;
        }
    return direct;
}

QString resolvePathCI(const QString& path) {
    QString p = QDir::fromNativeSeparators(path);
    if (QFileInfo::exists(p)) return p;
    const bool abs = p.startsWith('/');
    const QStringList parts = p.split('/', Qt::SkipEmptyParts);
    QString cur = abs ? QStringLiteral("/") : QStringLiteral(".");
    for (int i = 0; i < parts.size(); ++i) {
        cur = resolveCI(cur, parts[i]);
    }
    if (!abs && cur.startsWith("./")) cur = cur.mid(2);
    return cur;
}

bool existsCI(const QString& path) { return QFileInfo::exists(resolvePathCI(path)); }

bool removeCI(const QString& path) {
    const QString p = resolvePathCI(path);
    return !QFileInfo::exists(p) || QFile::remove(p);
}

bool sameFile(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

namespace {
std::function<void(const QString&)> g_syncHook;

bool synced(const QString& path) {
    if (g_syncHook) g_syncHook(path);
    return true;
}
}  // namespace

namespace testing {
void setSyncHook(std::function<void(const QString&)> hook) { g_syncHook = std::move(hook); }
}  // namespace testing

bool syncFile(const QString& path) {
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok && synced(path);
}

bool syncData(int fd, const QString& path) { return ::fdatasync(fd) == 0 && synced(path); }

bool syncDir(const QString& dir) {
    int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    ::fsync(fd);
    ::close(fd);
    return synced(dir);
}

bool safeReplaceWith(const QString& targetIn, const std::function<bool(const QString&)>& writer, QString* error) {
    const QString target = resolvePathCI(targetIn);
    const QFileInfo ti(target);
    const QString tmp = ti.absolutePath() + "/." + ti.fileName() + ".new";
    QFile::remove(tmp);
    if (!writer(tmp) || !QFileInfo::exists(tmp)) {
        QFile::remove(tmp);
        if (error && error->isEmpty()) *error = QStringLiteral("无法写入 %1").arg(tmp);
        return false;
    }
    if (!syncFile(tmp)) {
        QFile::remove(tmp);
        if (error) *error = QStringLiteral("无法写入 %1").arg(tmp);
        return false;
    }
    // A journal left by the old file would be played back into the new one.
    QFile::remove(target + "-journal");
    QFile::remove(target + "-wal");
    QFile::remove(target + "-shm");
    if (::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(tmp);
        if (error) *error = QStringLiteral("无法替换 %1").arg(target);
        return false;
    }
    syncDir(ti.absolutePath());
    return true;
}

bool safeReplace(const QString& source, const QString& target, QString* error) {
    const QString src = resolvePathCI(source);
    return safeReplaceWith(target, [&](const QString& tmp) {
        if (!QFile::copy(src, tmp)) {
            if (error) *error = QStringLiteral("无法复制 %1").arg(src);
            return false;
        }
        QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        return true;
    }, error);
}

}  // namespace platform
