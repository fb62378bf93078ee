#include "platform/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QLockFile>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace platform {

namespace {
std::unique_ptr<QLockFile> g_lock;

// True when the lock is held by a process that is still running on this machine.
bool heldByLiveProcess(const QLockFile& lock) {
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app) || pid <= 0) return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName()) return true;   // another machine's: not ours to judge
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString causeText(int error) {
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

// Why a file of `dir` cannot be written, found by writing one and syncing it;
// "" when that works.
QString writeFailure(const QString& dir) {
    const QByteArray probe = QFile::encodeName(QDir(dir).filePath(QStringLiteral(".tarvo-write-%1").arg(::getpid())));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return causeText(errno);
    const QByteArray block(4096, '\0');
    int error = 0;
    if (::write(fd, block.constData(), size_t(block.size())) != block.size()) error = errno ? errno : ENOSPC;
    else if (::fsync(fd) != 0) error = errno;
    ::close(fd);
    ::unlink(probe.constData());
    return error ? causeText(error) : QString();
}
}  // namespace

bool AcquireInstanceLock(const QString& dir, QString* cannotWrite) {
    if (cannotWrite) cannotWrite->clear();
    if (!QDir(dir).exists()) return true;
    auto lock = std::make_unique<QLockFile>(QDir(dir).filePath(QStringLiteral("tarvo.lock")));
    lock->setStaleLockTime(0);  // a lock of a dead process is taken over, a live one never
    if (lock->tryLock(0)) {
        g_lock = std::move(lock);
        return true;
    }
    // Another station holding the lock ends this one silently; a lock that
    // could not be written (or a dead station's that could not be taken
    // over) is a disk the station cannot work on, and says so.
    if (lock->error() == QLockFile::LockFailedError && heldByLiveProcess(*lock)) return false;
    QString why = writeFailure(dir);
    if (why.isEmpty()) {
        if (lock->error() == QLockFile::LockFailedError) return false;
        why = QStringLiteral("无法建立锁文件");
    }
    if (cannotWrite) *cannotWrite = why;
    return false;
}

void ReleaseInstanceLock() { g_lock.reset(); }

}  // namespace platform
