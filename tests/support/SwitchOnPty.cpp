#include "support/SwitchOnPty.h"

#include "core/frmPicClip.h"
#include "platform/Db.h"
#include "platform/Prompts.h"

#include <QDialog>
#include <QThread>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

SwitchOnPty::SwitchOnPty(sim::SwitchOptions opt) : sw_(std::make_unique<sim::Switch>(opt)) {}

SwitchOnPty::~SwitchOnPty() { sw_->stop(); }

bool SwitchOnPty::attach(const QString& switchMdbPath) {
    if (!sw_->openPty()) return false;
    try {
        platform::Database db = platform::Database::open(switchMdbPath);
        db.execute(QStringLiteral("delete from Variant where varname='CommDevice'"));
        db.execute(QStringLiteral("insert into Variant(varname,value) values('CommDevice',?)"), {sw_->slavePath()});
    } catch (const platform::DbError&) {
        return false;
    }
    sw_->start();
    return true;
}

void scriptClockDialog() {
    platform::script::onModal(QStringLiteral("frmPicClip"),
                              [](QDialog* d) { static_cast<frmPicClip*>(d)->Command1_Click(); });
}

bool drainLine(const QString& slavePath) {
    QThread::msleep(30);   // the switch sees the line closed
    const int fd = ::open(slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    ::tcflush(fd, TCIOFLUSH);
    char buf[512];
    for (int quiet = 0; quiet < 10;) {
        if (::read(fd, buf, sizeof buf) > 0) quiet = 0;
        else {
            ++quiet;
            QThread::msleep(2);
        }
    }
    ::close(fd);
    QThread::msleep(30);
    return true;
}

bool drainLine(sim::Switch& sw) {
    // A closed line ends the switch's wait at once.
    if (!sw.waitDisconnected(10000)) return false;
    const int fd = ::open(sw.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    ::tcflush(fd, TCIOFLUSH);
    // Whatever the switch still owes is written, then read and dropped.
    const bool written = sw.waitWritten(10000);
    char buf[512];
    while (::read(fd, buf, sizeof buf) > 0) {}
    ::close(fd);
    return written && sw.waitDisconnected(10000);
}

}  // namespace testsupport
