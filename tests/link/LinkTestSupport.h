#pragma once
// Helpers of the link's tests: a station with a fresh link state, a tick that
// runs fast, the orders the station queued, a scripted switch that answers
// them inside the station's waits, a collector whose reports the test
// queues, and a recording call-record engine.
#include "link/Transport.h"
#include "core/ModDefine.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "link/frmSRV.h"
#include "platform/Clock.h"
#include "platform/UsbCollector.h"
#include "support/Fixtures.h"

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

namespace linktest {

inline QString withSum(const QString& hex) { return hex + ModComm::CheckSum(hex); }

inline QByteArray bytes(const QString& hex) { return QByteArray::fromHex(hex.toLatin1()); }

// Every byte waiting on a ring; the ring is emptied.
inline QByteArray drain(const std::array<quint8, ModComm::kRingSize>& ring, int& read, int write) {
    QByteArray raw;
    for (; read != write; read = (read + 1) & ModComm::kRingMask) raw.append(static_cast<char>(ring[read]));
    return raw;
}

// Every byte queued on the transmit ring, as hex; the ring is emptied.
inline QString takeSentRaw() {
    return QString::fromLatin1(drain(ModComm::TxBuf, ModComm::TxRead, ModComm::TxWrite).toHex().toUpper());
}

// Every whole frame queued on the transmit ring, as hex with its checksum; the ring is emptied.
inline QStringList takeSent() {
    const QByteArray raw = bytes(takeSentRaw());
    QStringList frames;
    int i = 0;
    while (i + 1 < raw.size()) {
        const int len = static_cast<quint8>(raw[i + 1]);
        frames << QString::fromLatin1(raw.mid(i, len + 1).toHex().toUpper());
        i += len + 1;
    }
    return frames;
}

// Feeds bytes as if the switch had sent them.
inline void receive(const QString& hex) { ModComm::PutRxBuf(bytes(hex)); }

// A collector whose reports the test queues; a read with nothing queued repeats the last one.
class QueuedCollector : public platform::UsbCollector {
public:
    bool WritePort2(const QByteArray& r) override {
        writes << r;
        return !failWrites;
    }
    bool ReadPort2(QByteArray& r) override {
        ++reads;
        if (failReads) return false;
        if (!queue.empty()) {
            last = queue.front();
            queue.pop_front();
        }
        r = last;
        return true;
    }
    void push(int seq, const QString& frameHex) {
        QByteArray rep(64, '\0');
        rep[0] = static_cast<char>(seq);
        const QByteArray f = bytes(frameHex);
        std::copy(f.begin(), f.end(), rep.begin() + 1);
        queue.push_back(rep);
    }
    std::deque<QByteArray> queue;
    QByteArray last = QByteArray(64, '\0');
    QList<QByteArray> writes;
    int reads = 0;
    bool failReads = false;
    bool failWrites = false;
};

class RecordingSink : public MonitorSink {
public:
    bool Record(const QByteArray& frame, bool bLive) override {
        records << frame;
        live << bLive;
        if (onRecord) onRecord();
        if (bLive) ModComm::SendOrder(store ? QStringLiteral("820302") : QStringLiteral("820303"), false, 4, true);
        return store;
    }
    void Monitor(const QByteArray& frame) override { monitors << frame; }
    void UpdateMonitor(int, platform::Currency) override {}
    QList<QByteArray> records;
    QList<bool> live;
    QList<QByteArray> monitors;
    bool store = true;
    std::function<void()> onRecord;
};

// A switch played inside the station's event loop: each pass takes the orders
// the station queued and answers them with `reply` (frames without checksum).
class ScriptedSwitch : public QObject {
public:
    explicit ScriptedSwitch(std::function<QStringList(const QString& frame)> reply) : reply_(std::move(reply)) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { pass(); });
        timer_.start();
    }
    void pass() {
        for (const QString& f : takeSent()) {
            seen << f;
            for (const QString& r : reply_(f)) receive(withSum(r));
        }
    }
    QStringList seen;

private:
    std::function<QStringList(const QString&)> reply_;
    QTimer timer_;
};

class LinkTest : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        ModComm::InitFrameTable();
        ModComm::ResetLink();
        ModComm::AckRing = {};
        ModComm::AnswerRing = {};
        ModComm::AckIndex = ModComm::AnswerIndex = 0;
        ModComm::ResetMonitorState();
        g_NoAnswerCount = 0;
        ModComm::ChooseTransport(false);
        frmSRV::instance().cmdClear_Click();
        frmSRV::rightCheck() = [](int, int) { return false; };   // the worker holds every right
        tick = 1000000;
        platform::testing::setTick([this] { return tick += 5; });
        sink = std::make_shared<RecordingSink>();
        SetMonitorSink(sink);
    }
    void TearDown() override {
        SetMonitorSink(nullptr);
        frmSRV::unload();
        StationTest::TearDown();
    }
    // Lines of the trace list.
    static QStringList traceLines() {
        return frmSRV::instance().lstRec->lines();
    }
    qint64 tick = 0;
    std::shared_ptr<RecordingSink> sink;
};

}  // namespace linktest
