#pragma once
// What the pricing engine shows of its work in the station's windows, in one
// place: the console through its interface in src/core, the ticket through the
// printing subsystem. The engine itself holds pricing and storage only; it
// calls these after a record committed, and a failure here undoes nothing.
#include "params/BillLine.h"
#include "platform/Currency.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace pricing {

// A call charged the user: the user view, when shown, gets the user's new balance.
void ShowUserBalance(qint64 userId, platform::Currency balance);
// A call stored: the bill view, when shown, appends it and keeps its last 200
// calls; `overdrawn` (beyond the allowed overdraft) turns the balance cell red.
void ShowStoredCall(const ModSwitch::BillLine& call, bool overdrawn);
// The call's ticket, due by the settings. `userName` is the user's name, or
// nothing when the call's user has no user row (the name is looked up then).
// No printer: no ticket, no message. A failure goes to the status bar; false then.
bool PrintCallTicket(const ModSwitch::BillLine& call, const std::optional<QString>& userName);
// A wake-up event of `type` stored for the extension at `address`: the
// extension view shows its wake-up time `wake`, the wake-up view the event.
void ShowWakeUpEvent(int address, int type, const QDateTime& at, const QString& wake);

}  // namespace pricing
