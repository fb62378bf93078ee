#include "platform/InstanceLock.h"

#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QLockFile>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <memory>
#include <unistd.h>

namespace platform {

namespace {
std::unique_ptr<QLockFile> g_lock;

// The computer this station runs on, as lock files name it.
bool thisComputer(const QString& host) { return host.isEmpty() || host == QSysInfo::machineHostName(); }

bool processAlive(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

// Why a file of `dir` cannot be written, found by writing one and syncing it;
// "" when that works.
QString writeFailure(const QString& dir) {
    const QByteArray probe = QFile::encodeName(QDir(dir).filePath(QStringLiteral(".tarvo-write-%1").arg(::getpid())));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return describeErrno(errno);
    const QByteArray block(4096, '\0');
    int error = 0;
    if (::write(fd, block.constData(), size_t(block.size())) != block.size()) error = errno ? errno : ENOSPC;
    else if (::fsync(fd) != 0) error = errno;
    ::close(fd);
    ::unlink(probe.constData());
    return error ? describeErrno(error) : QString();
}
}  // namespace

// Whether a process holds the lock file at `path`: a running station keeps a
// lock on it for as long as it runs.
bool heldByAProcess(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;   // cannot be judged: taken as held
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (free) ::flock(fd, LOCK_UN);
    ::close(fd);
    return !free;
}

bool AcquireInstanceLock(const QString& dir, QString* cannotWrite, QString* holder, bool* unheld) {
    if (cannotWrite) cannotWrite->clear();
    if (holder) holder->clear();
    if (unheld) *unheld = false;
    if (!QDir(dir).exists()) return true;
    const QString path = QDir(dir).filePath(QStringLiteral("tarvo.lock"));
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);  // a lock of a dead process is taken over, a live one never
    if (lock->tryLock(0)) {
        g_lock = std::move(lock);
        return true;
    }
    // Only a station running on this computer ends this one silently. A lock
    // written on another computer (a data folder copied from a station that
    // was running) cannot be judged from here: its holder and file are named.
    // A lock that could not be written is a disk the station cannot work on.
    qint64 pid = 0;
    QString host, app;
    const bool known = lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&pid, &host, &app) && pid > 0;
    if (known && thisComputer(host) && processAlive(pid)) return false;
    const QString why = writeFailure(dir);
    if (!why.isEmpty() || lock->error() != QLockFile::LockFailedError) {
        if (cannotWrite) *cannotWrite = why.isEmpty() ? QStringLiteral("无法建立锁文件") : why;
        return false;
    }
    if (holder) {
        const QString file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
        *holder = known ? QStringLiteral("数据目录已被计算机%1上的程序%2(进程%3)锁定，锁文件：%4")
                              .arg(host.isEmpty() ? QSysInfo::machineHostName() : host,
                                   app.isEmpty() ? QStringLiteral("?") : app)
                              .arg(pid)
                              .arg(file)
                        : QStringLiteral("数据目录的锁文件内容无法识别（空的或已损坏）：%1").arg(file);
    }
    // A lock whose content says nothing, which no process holds, is left by
    // a station that ended without removing it: it may be taken over.
    if (!known && unheld) *unheld = !heldByAProcess(path);
    return false;
}

bool TakeOverInstanceLock(const QString& dir) {
    const QString path = QDir(dir).filePath(QStringLiteral("tarvo.lock"));
    if (heldByAProcess(path) || !QFile::remove(path)) return false;
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) return false;
    g_lock = std::move(lock);
    return true;
}

void ReleaseInstanceLock() { g_lock.reset(); }

}  // namespace platform
