#pragma once
// A directory no file can be written in nor renamed out of, not even by
// root, for as long as the guard lives.
#include <QFile>
#include <QString>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

class ImmutableDir {
public:
    explicit ImmutableDir(const QString& path) : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY)) {
        if (fd_ < 0 || ::ioctl(fd_, FS_IOC_GETFLAGS, &flags_) != 0) return;
        const int on = flags_ | FS_IMMUTABLE_FL;
        made_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &on) == 0;
    }
    ~ImmutableDir() {
        if (made_) ::ioctl(fd_, FS_IOC_SETFLAGS, &flags_);
        if (fd_ >= 0) ::close(fd_);
    }
    ImmutableDir(const ImmutableDir&) = delete;
    ImmutableDir& operator=(const ImmutableDir&) = delete;
    // False when this run lacks the right to make one (or the file system the attribute).
    bool made() const { return made_; }

private:
    int fd_;
    int flags_ = 0;
    bool made_ = false;
};
