#pragma once
// Our layer in place of the USB call-record collector's driver library: the
// two calls the station uses, each moving one 64-byte report.
#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

class UsbCollector {
public:
    virtual ~UsbCollector() = default;
    // Writes one report (padded or cut to 64 bytes); false when the write failed.
    virtual bool WritePort2(const QByteArray& report) = 0;
    // Reads one 64-byte report into `report`; false when nothing could be read.
    virtual bool ReadPort2(QByteArray& report) = 0;
};

// The collector in use: the device-node backend unless a test installed another.
UsbCollector& CurrentUsbCollector();
void SetUsbCollector(std::shared_ptr<UsbCollector> c);   // null restores the device backend
// Device node of the real collector (default "/dev/usb/hiddev0"; settable).
void SetUsbDevicePath(const QString& path);
QString UsbDevicePath();

}  // namespace platform
