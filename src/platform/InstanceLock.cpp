#include "platform/InstanceLock.h"

#include <QDir>
#include <QLockFile>
#include <memory>

namespace platform {

namespace {
std::unique_ptr<QLockFile> g_lock;
}

bool AcquireInstanceLock(const QString& dir) {
    if (!QDir(dir).exists()) return true;
    auto lock = std::make_unique<QLockFile>(QDir(dir).filePath(QStringLiteral("tarvo.lock")));
    lock->setStaleLockTime(0);  // a lock of a dead process is taken over, a live one never
    if (!lock->tryLock(0)) {
        return false;
    }
    g_lock = std::move(lock);
    return true;
}

void ReleaseInstanceLock() { g_lock.reset(); }

}  // namespace platform
