#pragma once
// Payments of settled charges: the user row written, then the action chosen
// for after the settlement (lock the user at the switch, or delete it and free
// its extensions and accounts). No widget here.
#include "platform/Currency.h"

#include <QDateTime>
#include <QString>
#include <functional>

namespace billing {

// After-settlement actions (the settlement window's optCL).
enum AfterPay { kNoAction = 0, kLockUser = 1, kDeleteUser = 2 };

// Writes one payment: deposit and balance become the old deposit + pay - due,
// the last settled date the period's end, the paid mark set; one transaction.
// False with `error` set (the row left as it was) when it could not be written
// or the user no longer exists.
bool PayUser(qint64 userId, platform::Currency pay, platform::Currency due, const QDateTime& end, QString* error);

// Sends the user's accounts and extensions to the switch: mode 1 locks the
// user, mode 2 sends its accounts as free. The download of the transfer
// subsystem; tests may put a stand-in here.
using UserDownload = std::function<bool(qint64 userId, int mode)>;
void setUserDownload(UserDownload f);   // null: the station's own download
bool DownloadUser(qint64 userId, int mode);

// Whether a paid period ending at `end` reaches today, the condition for
// deleting its user after the payment.
bool PaidPeriodReachesToday(const QDateTime& end);

// The action after a payment of `userId` whose paid period ends at `end`.
// Lock: the switch is told; its refusal shows "闭锁用户" + name + "失败".
// Delete (only when the period paid reaches today): the switch frees the user
// first; its refusal shows "删除用户" + name + "失败！" and nothing is deleted;
// then extensions go to user 0, accounts become free and the user row goes, in
// one transaction. The default user 0 is never sent, locked or deleted.
// True when the user was deleted.
bool AfterPayment(qint64 userId, const QString& name, int action, const QDateTime& end);

}  // namespace billing
