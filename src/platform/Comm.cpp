#include "platform/Comm.h"

#include <QMap>
#include <QSerialPort>
#include <QStringList>

namespace platform {

namespace {
QMap<int, QString> g_portMap;
int g_failures = 0;
}  // namespace

Comm::Comm(QObject* parent) : QObject(parent), port(std::make_unique<QSerialPort>()) {
    connect(port.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError) return;
        ++g_failures;
        // The serial layer keeps trying a write the device refuses, as fast as
        // the event loop turns: the line's owner closes it (SerialLine).
        if (e == QSerialPort::ResourceError) lost_ = true;
    });
}
Comm::~Comm() = default;

QString Comm::devicePath() const {
    if (!device_.trimmed().isEmpty()) return device_.trimmed();
    if (!g_portMap.isEmpty()) return g_portMap.value(port_, QStringLiteral("/nonexistent/com%1").arg(port_));
    return QStringLiteral("/dev/ttyS%1").arg(port_ - 1);
}

bool Comm::PortOpen() const { return port->isOpen(); }

bool Comm::setPortOpen(bool open) {
    error_.clear();
    lost_ = false;
    if (!open) {
        if (port->isOpen()) port->close();
        return true;
    }
    if (port->isOpen()) port->close();
    port->setPortName(devicePath());
    if (!port->open(QIODevice::ReadWrite)) {
        // The operator reads why in Chinese; the serial layer's own words are English.
        switch (port->error()) {
        case QSerialPort::DeviceNotFoundError: error_ = QStringLiteral("找不到端口%1").arg(devicePath()); break;
        case QSerialPort::PermissionError: error_ = QStringLiteral("端口%1已被其他程序占用或无权使用").arg(devicePath()); break;
        case QSerialPort::OpenError: error_ = QStringLiteral("端口%1已经打开").arg(devicePath()); break;
        default: error_ = QStringLiteral("无法打开端口%1").arg(devicePath()); break;
        }
        return false;
    }
    const QStringList p = settings_.split(',');
    bool ok = false;
    const int baud = p.value(0).trimmed().toInt(&ok);
    port->setBaudRate(ok && baud > 0 ? baud : 9600);
    const QString parity = p.value(1).trimmed().toUpper();
    port->setParity(parity == "E" ? QSerialPort::EvenParity : parity == "O" ? QSerialPort::OddParity
                    : parity == "M" ? QSerialPort::MarkParity : parity == "S" ? QSerialPort::SpaceParity
                    : QSerialPort::NoParity);
    const int bits = p.value(2).trimmed().toInt();
    port->setDataBits(bits == 7 ? QSerialPort::Data7 : bits == 6 ? QSerialPort::Data6 : bits == 5 ? QSerialPort::Data5
                      : QSerialPort::Data8);
    port->setStopBits(p.value(3).trimmed() == "2" ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // What the line holds from before this open was sent to a run that is
    // gone (a kill, a restart): nobody answered it, so the switch still has
    // whatever of it counts. Read now, a record of an upload that run left
    // open would be taken for a live call and charged.
    port->clear(QSerialPort::Input);
    return true;
}

int Comm::InBufferCount() {
    if (!port->isOpen()) return 0;
    port->waitForReadyRead(0);
    return static_cast<int>(port->bytesAvailable());
}

int Comm::OutBufferCount() const { return port->isOpen() ? static_cast<int>(port->bytesToWrite()) : 0; }

QByteArray Comm::Input() {
    if (!port->isOpen()) return {};
    return port->readAll();
}

bool Comm::Output(const QByteArray& data) {
    if (!port->isOpen()) return false;
    const bool ok = port->write(data) == data.size();
    port->waitForBytesWritten(50);
    return ok;
}

namespace testing {
void mapPort(int n, const QString& device) {
    if (device.isEmpty()) g_portMap.remove(n);
    else g_portMap.insert(n, device);
}
void clearPortMap() { g_portMap.clear(); }
int portFailures() { return g_failures; }
}  // namespace testing

}  // namespace platform
