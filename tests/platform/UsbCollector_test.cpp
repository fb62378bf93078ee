#include "platform/UsbCollector.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The device-node backend moves whole 64-byte reports through its node.
TEST(UsbDeviceNode, WritesAndReadsWholeReports) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    platform::SetUsbCollector(nullptr);
    platform::SetUsbDevicePath(QString::fromLocal8Bit(name));
    platform::UsbCollector& usb = platform::CurrentUsbCollector();

    EXPECT_TRUE(usb.WritePort2(QByteArray::fromHex("83030086")));
    QByteArray got(64, '\0');
    int n = 0;
    while (n < 64) {
        const ssize_t r = ::read(master, got.data() + n, 64 - n);
        ASSERT_GT(r, 0);
        n += static_cast<int>(r);
    }
    EXPECT_EQ(got, QByteArray::fromHex("83030086") + QByteArray(60, '\0'));

    QByteArray report(64, '\x07');
    report[0] = 5;
    ASSERT_EQ(::write(master, report.constData(), 64), 64);
    QByteArray in;
    EXPECT_TRUE(usb.ReadPort2(in));
    EXPECT_EQ(in, report);
    // Nothing waiting: the read fails instead of blocking.
    EXPECT_FALSE(usb.ReadPort2(in));

    platform::SetUsbDevicePath("/nonexistent/usb-collector");
    EXPECT_FALSE(usb.WritePort2(report));
    EXPECT_FALSE(usb.ReadPort2(in));
    platform::SetUsbDevicePath("/dev/usb/hiddev0");
    ::close(slave);
    ::close(master);
}

}  // namespace
