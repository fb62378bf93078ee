#pragma once
// What the call-record engine and the deposit grading show of their work. They
// hold pricing and storage only and call these after their rows committed; a
// failure here undoes nothing. The windows' implementation (the console's views
// and the call ticket) is made by the pricing subsystem, registered by the
// windows (console/StationWindows), and is the one used unless another was
// set; tests may put a recording double in its place. With none registered
// nothing is shown.
#include "core/BillLine.h"
#include "platform/Currency.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace core {

class RecordDisplay {
public:
    virtual ~RecordDisplay() = default;
    // A call charged the user: the user view, when shown, gets the user's new balance.
    virtual void ShowUserBalance(qint64 userId, platform::Currency balance) = 0;
    // A call stored: the bill view, when shown, appends it and keeps its last 200
    // calls; `overdrawn` (beyond the allowed overdraft) turns the balance cell red.
    virtual void ShowStoredCall(const ModSwitch::BillLine& call, bool overdrawn) = 0;
    // The call's ticket, due by the settings. `userName` is the user's name, or
    // nothing when the call's user has no user row (the name is looked up then).
    // No printer: no ticket, no message. A failure goes to the status bar; false then.
    virtual bool PrintCallTicket(const ModSwitch::BillLine& call, const std::optional<QString>& userName) = 0;
    // A wake-up event of `type` stored for the extension at `address`: the
    // extension view shows its wake-up time `wake`, the wake-up view the event.
    virtual void ShowWakeUpEvent(int address, int type, const QDateTime& at, const QString& wake) = 0;
    // The user's deposit grade written to the user's rows: the extension or the
    // account view, when shown, shows it on those rows.
    virtual void ShowDepositGrade(qint64 userId, quint8 grade) = 0;
};

// The display in use now: the one set, else the windows' one.
RecordDisplay& CurrentRecordDisplay();
// Replaces the display (tests); null puts the windows' one back.
void SetRecordDisplay(std::shared_ptr<RecordDisplay> display);
// How the windows make theirs, made at first use.
void SetWindowRecordDisplayMaker(std::function<std::shared_ptr<RecordDisplay>()> maker);
// The windows' one (the console's views and the call ticket), in the pricing
// subsystem's windows (pricing/RecordViews.cpp).
std::shared_ptr<RecordDisplay> MakeWindowRecordDisplay();

}  // namespace core
