#include "link/MonitorSink.h"
#include "pricing/ClsMonitor.h"

// The link's way into the pricing: every frame gets an engine of its own.
namespace {
class PricingSink : public MonitorSink {
public:
    bool Record(const QByteArray& frame, bool bSendFee) override { return ClsMonitor().Record(frame, bSendFee); }
    void Monitor(const QByteArray& frame) override { ClsMonitor().Monitor(frame); }
    void UpdateMonitor(int nSlot, platform::Currency cyBalance) override { ClsMonitor().UpdateMonitor(nSlot, cyBalance); }
    void GiveUp(const QByteArray& frame, const QString& why) override {
        pricing::LogRecordError(why);
        ClsMonitor().StoreReject(frame, [] {});
    }
};
}  // namespace

std::shared_ptr<MonitorSink> MakeRealMonitorSink() { return std::make_shared<PricingSink>(); }
