// Frames through the USB call-record collector, one 64-byte report at a time.
#include "core/ModDefine.h"
#include "link/CommState.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/Transport.h"
#include "platform/Clock.h"
#include "platform/UsbCollector.h"

#include <QThread>

namespace ModComm {

namespace {
constexpr int kReport = 64;
}

bool WriteUSB(const QString& order, bool) {
    QString text = order;
    if (!CheckHex(text)) return true;
    if (text.isEmpty()) return false;
    const QByteArray bytes = HexToBytes(text);
    if (bytes.size() > kReport) {
        LinkTrace::Note(platform::Now().toString(QStringLiteral("HH:mm:ss")) +
                        QStringLiteral(" 命令超过64字节, 未发送: ") + SpaceHex(text));
        return true;
    }
    QByteArray report(kReport, '\0');
    std::copy(bytes.begin(), bytes.end(), report.begin());
    // The collector wants its reports spaced; a bounded sleep, never a yield.
    for (int i = 0; i < 5 && platform::TickMs() - CommState.LastUsbWrite < 2; ++i) QThread::usleep(1000);
    const bool ok = platform::CurrentUsbCollector().WritePort2(report);
    CommState.LastUsbWrite = platform::TickMs();
    return !ok;
}

int ReadUSBPort(QByteArray& report) {
    if (g_UsbError) return -1;
    report = QByteArray(kReport, '\0');
    if (!platform::CurrentUsbCollector().ReadPort2(report) || report.size() < kReport) {
        LinkTrace::ShowRecord(QStringLiteral("NA"), 0);
        g_UsbError = true;
        report = QByteArray(kReport, '\0');
        return 1;
    }
    return 0;
}

void ReadUSB() {
    if (WriteUSB(QStringLiteral("FFFFFFFF"), false)) return;
    QByteArray report;
    if (ReadUSBPort(report) != 0) return;
    const quint8 seq = static_cast<quint8>(report[0]);
    if (seq == CommState.LastUsbSeq) return;
    CommState.LastUsbSeq = seq;
    const int len = static_cast<quint8>(report[2]);
    if (len + 1 > kReport - 1) {
        LinkTrace::Note(platform::Now().toString(QStringLiteral("HH:mm:ss")) +
                        QStringLiteral(" USB报文长度错误: ") + SpaceHex(BytesToHex(report)));
        return;
    }
    const QByteArray frame = report.mid(1, len + 1);
    if (LinkTrace::ShowBuf())
        LinkTrace::AddBufLine(platform::Now().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("<<") +
                              ByteToHex(seq) + QLatin1Char(' ') + SpaceHex(BytesToHex(frame)));
    PutRxBuf(frame);
}

namespace {
// The collector as the link's line. Orders go out at once, one report each,
// and every poll asks for one report; nothing waits to leave.
class UsbTransport final : public Transport {
public:
    void open() override {}
    void close() override {}
    bool isOpen() const override { return true; }
    bool send(const QString& order) override {
        if (WriteUSB(order, false)) return false;
        LinkTrace::ShowRecord(order, 1);
        return true;
    }
    void poll() override { ReadUSB(); }
    bool drained() const override { return true; }
    QString name() const override { return QStringLiteral("USB采集器"); }
};
}  // namespace

Transport& UsbCollectorLine() {
    static UsbTransport line;
    return line;
}

}  // namespace ModComm
