#include "platform/UsbCollector.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kReport = 64;

// The collector as a device node that moves whole 64-byte reports with
// read and write (a raw HID node). Opened on first use, reopened after a failure.
class DeviceCollector : public UsbCollector {
public:
    ~DeviceCollector() override { close(); }
    bool WritePort2(const QByteArray& report) override {
        if (!open()) return false;
        QByteArray r = report.left(kReport);
        r.append(QByteArray(kReport - r.size(), '\0'));   // padded with zeros
        if (::write(fd_, r.constData(), kReport) != kReport) {
            close();
            return false;
        }
        return true;
    }
    bool ReadPort2(QByteArray& report) override {
        if (!open()) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) != 1 || !(p.revents & POLLIN)) {
            close();
            return false;
        }
        report = QByteArray(kReport, '\0');
        if (::read(fd_, report.data(), kReport) != kReport) {
            close();
            return false;
        }
        return true;
    }
    void reset() { close(); }

private:
    bool open() {
        if (fd_ >= 0) return true;
        fd_ = ::open(UsbDevicePath().toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
        return fd_ >= 0;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
};

std::shared_ptr<UsbCollector> g_override;
std::shared_ptr<DeviceCollector> g_device;
QString g_path = QStringLiteral("/dev/usb/hiddev0");

}  // namespace

UsbCollector& CurrentUsbCollector() {
    if (g_override) return *g_override;
    if (!g_device) g_device = std::make_shared<DeviceCollector>();
    return *g_device;
}

void SetUsbCollector(std::shared_ptr<UsbCollector> c) { g_override = std::move(c); }

void SetUsbDevicePath(const QString& path) {
    g_path = path;
    if (g_device) g_device->reset();
}

QString UsbDevicePath() { return g_path; }

}  // namespace platform
