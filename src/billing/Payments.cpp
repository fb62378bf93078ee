#include "billing/Payments.h"

#include "core/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/StationFiles.h"
#include "platform/Clock.h"
#include "platform/MsgCodes.h"
#include "transfer/UserDownload.h"

using platform::Currency;

namespace billing {

namespace {
UserDownload g_download;
}  // namespace

bool PayUser(qint64 userId, Currency pay, Currency due, const QDateTime& end, QString* error) {
    const Currency d = pay - due;
    try {
        // Both assignments read the deposit before the payment: the balance
        // ends equal to the new deposit. The charges still waiting are
        // applied first (they are in the due), and the payment is an entry of
        // the journal.
        int n = 0;
        ModSwitch::MoveBalances(
            [&] {
                n = dbSwitch.execute(
                    QStringLiteral("UPDATE user SET deposit=deposit+?, remain=deposit+?, lastdate=?, payed=1 WHERE userid=?"),
                    {d, d, end, userId});
            },
            userId);
        if (n != 1) {
            if (error) *error = QStringLiteral("用户%1不存在").arg(userId);
            return false;
        }
        return true;
    } catch (const platform::DbError& e) {
        if (error) *error = platform::OperatorText(e);
        return false;
    }
}

void setUserDownload(UserDownload f) { g_download = std::move(f); }

bool DownloadUser(qint64 userId, int mode) {
    if (g_download) return g_download(userId, mode);
    try {
        return ModToolbar::DownUserPara(userId, mode, 0, 0, 0);
    } catch (const std::exception&) {
        return false;   // a row that cannot be sent: the switch did not take the user
    }
}

bool PaidPeriodReachesToday(const QDateTime& end) { return end.isValid() && end.date() >= platform::Now().date(); }

bool AfterPayment(qint64 userId, const QString& name, int action, const QDateTime& end) {
    if (userId == 0) return false;  // the default user stays, at the switch as in the station
    if (action == kDeleteUser) {
        // Only a user whose paid period reaches today is deleted.
        if (!PaidPeriodReachesToday(end)) return false;
        if (!DownloadUser(userId, 2)) {
            core::Notify(QStringLiteral("删除用户") + name + QStringLiteral("失败！"), platform::mbOKOnly, AppName);
            return false;
        }
        try {
            // An entry of the journal, kept in both files with the deletion: a
            // station file put back from an older copy loses the user again.
            ModSwitch::MoveBalances([&] { ModSwitch::DeleteUserRows(dbSwitch, userId); }, userId);
            return true;
        } catch (const platform::DbError& e) {
            core::Notify(QStringLiteral("删除用户") + name + QStringLiteral("失败！") + platform::OperatorText(e), platform::mbOKOnly,
                             AppName);
            return false;
        }
    }
    if (action == kLockUser && !DownloadUser(userId, 1))
        core::Notify(QStringLiteral("闭锁用户") + name + QStringLiteral("失败"), platform::mbOKOnly, AppName);
    return false;
}

}  // namespace billing
