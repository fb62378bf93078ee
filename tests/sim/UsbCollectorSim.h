#pragma once
// The USB call-record collector, played in-process behind the station's
// collector interface, with a simulated switch behind it.
//
//     auto usb = std::make_shared<sim::UsbCollectorSim>();
//     platform::SetUsbCollector(usb);            // the station now talks to it
//     usb->storeRecord(rec.body());              // the collector's memory
//     usb->switchSim().sendCallRecord(rec);      // or the switch, live
//
// Reports are 64 bytes. From the station: a frame from byte 0, zero-padded, or
// the poll report FF FF FF FF that must precede every read. To the station:
// a sequence byte, then one frame; the same sequence byte again means nothing
// new. The collector answers its own "7F06" orders itself (number, erase,
// pointers "7F0C", reads of its record store ended by "9607") and passes every
// other frame to the switch.
#include "platform/UsbCollector.h"
#include "sim/Switch.h"

#include <deque>
#include <map>
#include <mutex>

namespace sim {

class UsbCollectorSim : public platform::UsbCollector {
public:
    explicit UsbCollectorSim(SwitchOptions opt = {});

    bool WritePort2(const QByteArray& report) override;
    bool ReadPort2(QByteArray& report) override;

    Switch& switchSim() { return sw_; }

    // ---- the collector's state ----
    void setNumber(quint16 n);
    quint16 number() const;
    // Appends one "961D" record (29-byte body) at the next free address.
    void storeRecord(const QByteArray& body);
    // Record addresses: oldest stored, first not yet read, next free. The
    // store starts empty at address 512.
    void setPointers(int oldest, int firstUnread, int nextFree);
    int oldest() const;
    int firstUnread() const;
    int nextFree() const;
    // After an erase, this many pointer requests still see the old store.
    void setEraseDelay(int pointerRequests);
    bool shortEraseSeen() const;         // "7F06000000": five bytes before its sum
    // Faults: the next n reads or writes fail; the next n collector orders
    // that expect an answer get none.
    void failReads(int n);
    void failWrites(int n);
    void ignoreOrders(int n);

    // ---- what the station did ----
    std::vector<Frame> collectorOrders() const;       // the "7F06" frames

private:
    void collectorOrderLocked(const QByteArray& report);
    void queueLocked(const QByteArray& body) { own_.push_back(withSum(body)); }
    void sendNextRecordLocked();
    static QByteArray pointer(int address);

    mutable std::mutex mu_;
    Switch sw_;
    quint16 number_ = 0;
    std::map<int, QByteArray> store_;     // address -> record body
    int p1_ = 512, p2_ = 512, p3_ = 512;
    int eraseDelay_ = 0, eraseLeft_ = -1;
    bool shortErase_ = false;
    int failReads_ = 0, failWrites_ = 0, ignore_ = 0;

    std::deque<QByteArray> own_;          // the collector's own frames, with sum
    QByteArray last_ = QByteArray(64, char(0));
    quint8 nextSeq_ = 1;

    bool reading_ = false;                // a read of the store is under way
    int readAt_ = 0, readEnd_ = 0;
    QByteArray inFlight_;
    int inFlightAddr_ = -1;

    std::vector<Frame> orders_;
};

}  // namespace sim
