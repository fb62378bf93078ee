// The serial port as the link's line: orders wait on the transmit ring until
// the port has sent what it had; what the port received goes to the receive ring.
#include "core/Settings.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/Transport.h"
#include "platform/Clock.h"
#include "platform/Comm.h"

#include <QPointer>
#include <memory>
#include <stdexcept>

namespace ModComm {

namespace {
QPointer<platform::Comm> g_port;
std::unique_ptr<platform::Comm> g_ownPort;

QString setting(const QString& key) { return ModSwitch::GetVariant(key, QString()); }

void note(const QString& text) {
    LinkTrace::Note(platform::Now().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + text);
}

class SerialTransport final : public Transport {
public:
    void open() override {
        gone_ = false;
        platform::Comm& port = ComA();
        if (port.PortOpen()) port.setPortOpen(false);
        const QString device = setting(QStringLiteral("CommDevice")).trimmed();
        bool ok = false;
        const int number = setting(QStringLiteral("CommPort")).trimmed().toInt(&ok);
        if (device.isEmpty() && (!ok || number < 1)) throw std::runtime_error("CommPort");
        const QString settings = setting(QStringLiteral("CommSet")).trimmed();
        bool speedOk = false;
        settings.section(QLatin1Char(','), 0, 0).trimmed().toInt(&speedOk);
        if (!speedOk || settings.count(QLatin1Char(',')) != 3) throw std::runtime_error("CommSet");
        port.setCommPort(ok ? number : 1);
        port.setSettings(settings);
        port.setDevice(device);
        if (!port.setPortOpen(true)) throw std::runtime_error(port.lastError().toStdString());
    }

    void close() override {
        gone_ = false;
        ComA().setPortOpen(false);
    }

    bool isOpen() const override { return ComA().PortOpen(); }

    bool send(const QString& order) override {
        // A line whose other end went is tried again with each order the link
        // hands it (the minute's probe while the switch is silent), never
        // between: nothing goes until it opens.
        if (gone_) {
            if (!ComA().setPortOpen(true)) {
                note(name() + QStringLiteral("不通, 命令未发送: ") + SpaceHex(order));
                return false;
            }
            gone_ = false;
        }
        return PutTxBuf(order);
    }

    void poll() override {
        platform::Comm& port = ComA();
        if (!port.PortOpen()) return;
        if (port.Lost()) {
            // Every write now fails at once, and the serial layer would retry
            // it as fast as the events turn: the port is closed until tried again.
            port.setPortOpen(false);
            gone_ = true;
            note(name() + QStringLiteral("的对端已断开, 端口已关闭"));
            return;
        }
        if (port.OutBufferCount() == 0 && TxCount() > 0) {
            QByteArray out;
            out.reserve(TxCount());
            while (TxRead != TxWrite) {
                out.append(static_cast<char>(TxBuf[TxRead]));
                TxRead = (TxRead + 1) & kRingMask;
            }
            port.Output(out);
        }
        if (port.InBufferCount() >= 1) {
            const QByteArray in = port.Input();
            if (in.isEmpty()) return;
            PutRxBuf(in);
            if (LinkTrace::ShowBuf())
                LinkTrace::AddBufLine(platform::Now().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("<--") +
                                      SpaceHex(BytesToHex(in)));
        }
    }

    bool drained() const override {
        return TxCount() == 0 && (!ComA().PortOpen() || ComA().OutBufferCount() == 0);
    }

    QString name() const override {
        const platform::Comm& port = ComA();
        const QString device = port.Device().trimmed();
        return device.isEmpty() ? QStringLiteral("Com%1").arg(port.CommPort()) : device;
    }

private:
    bool gone_ = false;   // closed because its other end went
};
}  // namespace

void AttachPort(platform::Comm* port) { g_port = port; }

platform::Comm& ComA() {
    if (g_port) return *g_port;
    if (!g_ownPort) g_ownPort = std::make_unique<platform::Comm>();
    return *g_ownPort;
}

Transport& SerialLine() {
    static SerialTransport line;
    return line;
}

}  // namespace ModComm
