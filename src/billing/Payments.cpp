#include "billing/Payments.h"

#include "core/books/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/StationFiles.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/MsgCodes.h"
#include "transfer/SwitchIntents.h"
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
        const QString failed = QStringLiteral("删除用户") + name + QStringLiteral("失败！");
        // Released on the switch first, the station's rows then; what is
        // about to be released is written ahead (earlier intents settled
        // first): a station file that cannot take it stops the deletion
        // before anything is sent.
        try {
            if (!g_download) transfer::SettleSwitchIntents();
            transfer::WriteReleaseIntent(userId, false);   // sent as DownloadUser sends it
        } catch (const platform::DbError& e) {
            core::Notify(failed + platform::OperatorText(e), platform::mbOKOnly, AppName);
            return false;
        }
        try {
            if (!DownloadUser(userId, 2)) {
                // Some rows may have gone: the switch is asked, and the user
                // kept or the deletion finished as it shows (a stand-in for
                // the switch that refuses took nothing).
                if (g_download)
                    ModSwitch::SettleWriteAhead(dbSwitch, transfer::kReleaseIntent, QString::number(userId));
                else
                    transfer::SettleReleaseIntent(userId);
                if (dbSwitch.scalar(QStringLiteral("SELECT 1 FROM user WHERE userid=?"), {userId}).isNull()) return true;
                core::Notify(failed, platform::mbOKOnly, AppName);
                return false;
            }
            // An entry of the journal, kept in both files with the deletion: a
            // station file put back from an older copy loses the user again.
            // The intent goes in the same commit.
            ModSwitch::MoveBalances(
                [&] {
                    ModSwitch::DeleteUserRows(dbSwitch, userId);
                    ModSwitch::SettleWriteAhead(dbSwitch, transfer::kReleaseIntent, QString::number(userId));
                },
                userId);
            return true;
        } catch (const platform::DbError& e) {
            // The release may have reached the switch: the intent stays, and
            // the switch is asked before anything of the user goes again.
            core::Notify(failed + platform::OperatorText(e) +
                             QStringLiteral("。其帐号和分机可能已在交换机上释放；下次下载或打开站点时将核对交换机，"
                                            "完成删除或保留该用户。"),
                         platform::mbOKOnly, AppName);
            return false;
        }
    }
    if (action == kLockUser && !DownloadUser(userId, 1))
        core::Notify(QStringLiteral("闭锁用户") + name + QStringLiteral("失败"), platform::mbOKOnly, AppName);
    return false;
}

}  // namespace billing
