#include "platform/Files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>
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

QByteArray fileIdentity(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    char head[100];
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        do {
            got = ::pread(fd, head, sizeof head, 0);
        } while (got < 0 && errno == EINTR);
    }
    ::close(fd);
    if (got < 0) return {};
    return QByteArray::number(qlonglong(st.st_size)) + ' ' + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ' ' +
           QCryptographicHash::hash(QByteArrayView(head, got), QCryptographicHash::Sha1).toHex();
}

namespace {
std::function<void(const QString&)> g_syncHook;
std::function<int(const QString&, const QString&)> g_faultHook;
thread_local int g_lastErrno = 0;

bool synced(const QString& path) {
    if (g_syncHook) g_syncHook(path);
    return true;
}

// The error a test makes the step `op` of `path` fail with, else 0.
int fault(const char* op, const QString& path) {
    const int e = g_faultHook ? g_faultHook(QString::fromLatin1(op), path) : 0;
    if (e) g_lastErrno = e;
    return e;
}

bool failed(int error) {
    g_lastErrno = error ? error : EIO;
    return false;
}
}  // namespace

namespace testing {
void setSyncHook(std::function<void(const QString&)> hook) { g_syncHook = std::move(hook); }
void setFaultHook(std::function<int(const QString&, const QString&)> hook) { g_faultHook = std::move(hook); }
}  // namespace testing

QString describeErrno(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT: return QStringLiteral("磁盘已满");
    case EROFS: return QStringLiteral("磁盘为只读");
    case EACCES:
    case EPERM: return QStringLiteral("没有写入权限");
    case EFBIG: return QStringLiteral("文件大小超出限制");
    case EIO: return QStringLiteral("磁盘读写错误");
    default: return QStringLiteral("系统错误%1").arg(error);
    }
}

void clearFileError() { g_lastErrno = 0; }

QString lastFileError() { return g_lastErrno ? describeErrno(g_lastErrno) : QString(); }

bool syncFile(const QString& path) {
    if (fault("sync", path)) return false;
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) return failed(errno);
    const bool ok = ::fsync(fd) == 0;
    const int e = errno;
    ::close(fd);
    if (!ok) return failed(e);
    return synced(path);
}

bool syncData(int fd, const QString& path) {
    if (fault("sync", path)) return false;
    if (::fdatasync(fd) != 0) return failed(errno);
    return synced(path);
}

bool syncDir(const QString& dir) {
    if (fault("sync", dir)) return false;
    int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return failed(errno);
    ::fsync(fd);
    ::close(fd);
    return synced(dir);
}

bool renameFile(const QString& from, const QString& to, QString* error) {
    int e = fault("rename", to);
    if (!e && ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) e = errno ? errno : EIO;
    if (!e) return true;
    failed(e);
    if (error) *error = QStringLiteral("无法替换%1（%2）").arg(QDir::toNativeSeparators(to), describeErrno(e));
    return false;
}

bool writeFileDurably(const QString& path, const QByteArray& bytes, QString* error) {
    const QFileInfo fi(path);
    const QString tmp = fi.absolutePath() + "/." + fi.fileName() + ".new";
    const QByteArray name = QFile::encodeName(tmp);
    auto give = [&](int e) {
        ::unlink(name.constData());
        failed(e);
        if (error) *error = QStringLiteral("无法写入%1（%2）").arg(QDir::toNativeSeparators(path), describeErrno(e));
        return false;
    };
    int e = fault("write", path);
    if (e) return give(e);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return give(errno);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0) {
            e = n < 0 ? errno : ENOSPC;
            ::close(fd);
            return give(e);
        }
        done += n;
    }
    e = fault("sync", path);
    if (!e && ::fsync(fd) != 0) e = errno ? errno : EIO;
    if (::close(fd) != 0 && !e) e = errno ? errno : EIO;
    if (e) return give(e);
    synced(tmp);
    QString why;
    if (!renameFile(tmp, path, &why)) {
        ::unlink(name.constData());
        if (error) *error = why;
        return false;
    }
    syncDir(fi.absolutePath());
    return true;
}

QString DirectoryWriteFailure(const QString& dir) {
    const QString probe = QDir(dir).filePath(QStringLiteral(".tarvo-write-%1").arg(::getpid()));
    const int before = g_lastErrno;
    g_lastErrno = 0;
    const bool ok = writeFileDurably(probe, QByteArray(4096, '\0'));
    const QString why = ok ? QString() : lastFileError().isEmpty() ? describeErrno(EIO) : lastFileError();
    ::unlink(QFile::encodeName(probe).constData());
    if (ok) g_lastErrno = before;
    return why;
}

ReadState readFileStrictly(const QString& path, QByteArray* bytes) {
    if (!QFileInfo::exists(path)) return ReadState::Missing;
    // Read to its end by hand: a read that fails after some bytes (a bad
    // sector) is a failure, where QFile::readAll gives the bytes before it as
    // the whole file, no error set, and a queue would take the records it lost
    // as never there.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failed(errno);
        return ReadState::Unreadable;
    }
    QByteArray all;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) all.reserve(qsizetype(st.st_size));
    constexpr qsizetype kChunk = 64 * 1024;
    for (;;) {
        if (const int e = fault("read", path)) {
            ::close(fd);
            failed(e);
            return ReadState::Unreadable;
        }
        const qsizetype at = all.size();
        all.resize(at + kChunk);
        const ssize_t n = ::read(fd, all.data() + at, size_t(kChunk));
        if (n < 0 && errno == EINTR) {
            all.resize(at);
            continue;
        }
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            failed(e);
            return ReadState::Unreadable;
        }
        all.resize(at + n);
        if (n == 0) break;
    }
    ::close(fd);
    *bytes = std::move(all);
    return ReadState::Read;
}

bool safeReplaceWith(const QString& targetIn, const std::function<bool(const QString&)>& writer, QString* error) {
    const QString target = resolvePathCI(targetIn);
    const QFileInfo ti(target);
    const QString tmp = ti.absolutePath() + "/." + ti.fileName() + ".new";
    // A temporary that failed goes with whatever an engine left beside it.
    auto removeTmp = [&tmp] {
        for (const char* side : {"", "-journal", "-wal", "-shm"}) QFile::remove(tmp + QLatin1String(side));
    };
    removeTmp();
    const int e = fault("write", target);
    if (e || !writer(tmp) || !QFileInfo::exists(tmp)) {
        removeTmp();
        if (error && (error->isEmpty() || e))
            *error = QStringLiteral("无法写入 %1%2").arg(tmp, e ? QStringLiteral("（%1）").arg(describeErrno(e)) : QString());
        return false;
    }
    if (!syncFile(tmp)) {
        removeTmp();
        if (error) *error = QStringLiteral("无法写入 %1（%2）").arg(tmp, lastFileError());
        return false;
    }
    // A journal left by the old file would be played back into the new one.
    QFile::remove(target + "-journal");
    QFile::remove(target + "-wal");
    QFile::remove(target + "-shm");
    if (!renameFile(tmp, target, error)) {
        removeTmp();
        return false;
    }
    syncDir(ti.absolutePath());
    return true;
}

bool copyFile(const QString& source, const QString& target, QString* error) {
    errno = 0;
    if (QFile::copy(source, target)) return true;
    // The engine of the copy leaves the system's cause in errno.
    const int e = errno;
    if (e) failed(e);
    if (error) *error = QStringLiteral("无法复制 %1").arg(source) + (e ? QStringLiteral("（%1）").arg(describeErrno(e)) : QString());
    return false;
}

bool safeReplace(const QString& source, const QString& target, QString* error) {
    const QString src = resolvePathCI(source);
    return safeReplaceWith(target, [&](const QString& tmp) {
        if (!copyFile(src, tmp, error)) return false;
        QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        return true;
    }, error);
}

}  // namespace platform
