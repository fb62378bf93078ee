#pragma once
// Our serial-port control in place of MSComm: polled, binary, with the
// properties the link drives. Port 1..8 names /dev/ttyS0../dev/ttyS7 unless a
// device path is given (USB serial adapters, the simulator's pseudo-terminal).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class QSerialPort;

namespace platform {

class Comm : public QObject {
    Q_OBJECT
public:
    explicit Comm(QObject* parent = nullptr);
    ~Comm() override;

    int CommPort() const { return port_; }
    void setCommPort(int n) { port_ = n; }
    // "9600,N,8,1": speed, parity, data bits, stop bits.
    QString Settings() const { return settings_; }
    void setSettings(const QString& s) { settings_ = s; }
    // When not empty, used instead of the port number.
    QString Device() const { return device_; }
    void setDevice(const QString& d) { device_ = d; }
    QString devicePath() const;

    bool PortOpen() const;
    // Opening may fail; the error text is kept in lastError(). Throws nothing.
    bool setPortOpen(bool open);
    QString lastError() const { return error_; }

    int InBufferCount();
    int OutBufferCount() const;
    QByteArray Input();                 // every byte waiting
    bool Output(const QByteArray& data);
    // The device went from under the open port (a USB adapter pulled, the far
    // end of a pseudo-terminal closed): every write fails from now on. False
    // again once the port is opened anew.
    bool Lost() const { return lost_; }

private:
    std::unique_ptr<QSerialPort> port;
    int port_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    QString device_;
    QString error_;
    bool lost_ = false;
};

namespace testing {
// Puts `device` where port `n` would be (an empty device forgets it). While any
// port is mapped, a port number the map does not name has no device at all, so
// a test never reaches a real serial line.
void mapPort(int n, const QString& device);
void clearPortMap();
// How many failures the serial layer has reported on any port (each failed
// read or write of the device), for a test that counts the tries on a line.
int portFailures();
}  // namespace testing

}  // namespace platform
