#include "core/RecordDisplay.h"

namespace core {

namespace {

// No windows: nothing is shown, no ticket is due.
class NoDisplay final : public RecordDisplay {
public:
    void ShowUserBalance(qint64, platform::Currency) override {}
    void ShowStoredCall(const ModSwitch::BillLine&, bool) override {}
    bool PrintCallTicket(const ModSwitch::BillLine&, const std::optional<QString>&) override { return true; }
    void ShowWakeUpEvent(int, int, const QDateTime&, const QString&) override {}
    void ShowDepositGrade(qint64, quint8) override {}
};

std::shared_ptr<RecordDisplay> g_set;
std::shared_ptr<RecordDisplay> g_windows;
std::function<std::shared_ptr<RecordDisplay>()> g_maker;

}  // namespace

RecordDisplay& CurrentRecordDisplay() {
    if (g_set) return *g_set;
    if (!g_windows) g_windows = g_maker ? g_maker() : std::make_shared<NoDisplay>();
    return *g_windows;
}

void SetRecordDisplay(std::shared_ptr<RecordDisplay> display) { g_set = std::move(display); }

void SetWindowRecordDisplayMaker(std::function<std::shared_ptr<RecordDisplay>()> maker) {
    g_maker = std::move(maker);
    g_windows.reset();
}

}  // namespace core
