// The link: frame parsing throughput, and the answer latency over a pseudo-terminal.
#include "core/ModDefine.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/Comm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray withSum(const QByteArray& body) {
    quint8 s = 0;
    for (char c : body) s = static_cast<quint8>(s + static_cast<quint8>(c));
    return body + QByteArray(1, static_cast<char>(s));
}

// Stores nothing and answers a record as the engine would.
class AnsweringSink : public MonitorSink {
public:
    bool answer = false;
    bool Record(const QByteArray&, bool) override {
        if (answer) ModComm::SendOrder(QStringLiteral("820302"), false, 4, true);
        return true;
    }
    void Monitor(const QByteArray&) override {}
    void UpdateMonitor(int, platform::Currency) override {}
};

std::shared_ptr<AnsweringSink> g_sink = std::make_shared<AnsweringSink>();

// A stream of call records and status frames with about 10 % noise bytes.
QByteArray stream(int bytes) {
    QRandomGenerator rng(7);
    QByteArray out;
    const QByteArray rec = withSum(QByteArray::fromHex("961D0005") + QByteArray(24, '\x11') + QByteArray(1, '\x01'));
    const QByteArray card = withSum(QByteArray::fromHex("990B03") + QByteArray(8, '\x01'));
    const QByteArray port = withSum(QByteArray::fromHex("970A05") + QByteArray(7, '\x02'));
    while (out.size() < bytes) {
        const int k = rng.bounded(3);
        const QByteArray& f = k == 0 ? rec : k == 1 ? card : port;
        out += f;
        const int noise = rng.bounded(100) < 10 ? static_cast<int>(f.size() / 10 + 1) : 0;
        out += QByteArray(noise, '\0');   // 00 never starts a frame
    }
    return out;
}

void BM_ParseFrames(benchmark::State& state) {
    LinkTrace::SetEnabled(false);
    ModComm::InitFrameTable();
    SetMonitorSink(g_sink);
    g_sink->answer = false;
    const QByteArray data = stream(1 << 20);
    qint64 bytes = 0;
    for (auto _ : state) {
        ModComm::ResetLink();
        for (int pos = 0; pos < data.size();) {
            const int n = std::min<int>(1024, static_cast<int>(data.size()) - pos);
            pos += ModComm::PutRxBuf(data.mid(pos, n));
            while (ModComm::RxCount() > 0) {
                const int before = ModComm::RxCount();
                ModComm::ParseFrame();
                if (ModComm::RxCount() == before) ModComm::ParseFrame();
                if (ModComm::RxCount() == before) break;   // a frame waits for more bytes
            }
        }
        bytes += data.size();
    }
    state.SetBytesProcessed(bytes);
    SetMonitorSink(nullptr);
}
BENCHMARK(BM_ParseFrames)->Unit(benchmark::kMillisecond);

// From the last byte of a frame written on the terminal to the station's
// answer read back from it; the station polls as its link timer does.
void answerLatency(benchmark::State& state, const QByteArray& frame, int answerLen) {
    LinkTrace::SetEnabled(false);
    ModComm::InitFrameTable();
    ModComm::ResetLink();
    SetMonitorSink(g_sink);
    g_sink->answer = true;
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFL, O_NONBLOCK);
    platform::Comm& port = ModComm::ComA();
    port.setDevice(QString::fromLocal8Bit(name));
    port.setSettings(QStringLiteral("9600,N,8,1"));
    if (!port.setPortOpen(true)) {
        state.SkipWithError("port");
        return;
    }
    std::vector<double> micros;
    char buf[64];
    for (auto _ : state) {
        while (::read(master, buf, sizeof buf) > 0) {
        }
        QElapsedTimer clock;
        if (::write(master, frame.constData(), frame.size()) != frame.size()) break;
        clock.start();
        int got = 0;
        while (got < answerLen && clock.elapsed() < 1000) {
            ModComm::ProcessComm();
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) got += static_cast<int>(n);
        }
        const double us = clock.nsecsElapsed() / 1000.0;
        state.SetIterationTime(us / 1e6);
        micros.push_back(us);
    }
    port.setPortOpen(false);
    ::close(slave);
    ::close(master);
    SetMonitorSink(nullptr);
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    }
}

void BM_AnswerProbeAnswer(benchmark::State& state) {
    answerLatency(state, withSum(QByteArray::fromHex("950B") + QByteArray(9, '\0')), 4);
}
BENCHMARK(BM_AnswerProbeAnswer)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

void BM_AnswerCallRecord(benchmark::State& state) {
    answerLatency(state, withSum(QByteArray::fromHex("961D0005") + QByteArray(24, '\x11') + QByteArray(1, '\x01')), 4);
}
BENCHMARK(BM_AnswerCallRecord)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

}  // namespace
