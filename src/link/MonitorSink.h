#pragma once
// What the link hands to the call-record engine. The real engine is the
// pricing subsystem's ClsMonitor; tests may put a recording double in its place.
#include "platform/Currency.h"

#include <QByteArray>
#include <QString>
#include <memory>

class MonitorSink {
public:
    virtual ~MonitorSink() = default;
    // A call-record frame ("961D", 30 bytes with checksum); true when stored.
    virtual bool Record(const QByteArray& frame, bool bLive) = 0;
    // A live-call frame ("A011", 18 bytes with checksum).
    virtual void Monitor(const QByteArray& frame) = 0;
    virtual void UpdateMonitor(int nSlot, platform::Currency cyBalance) = 0;
    // A call-record frame the link gives up on (a deposit event the deposit
    // history never took): `why` goes to the record error log and the frame
    // is kept as a reject row. A sink that keeps none of its own hands it to
    // the real engine.
    virtual void GiveUp(const QByteArray& frame, const QString& why);
};

// The engine the link uses now (a fresh real engine per call unless a test replaced it).
MonitorSink& CurrentMonitorSink();
// Replaces the engine (tests); null puts the real one back.
void SetMonitorSink(std::shared_ptr<MonitorSink> sink);
// Made by the pricing subsystem.
std::shared_ptr<MonitorSink> MakeRealMonitorSink();
