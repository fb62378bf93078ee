#include "core/OpLog.h"

#include "core/ModDefine.h"
#include "core/Notices.h"
#include "platform/Clock.h"
#include "platform/MsgCodes.h"

namespace ModGeneral {

void AddOpLog(const QString& text) {
    try {
        dbSwitch.tryExecute(QStringLiteral("insert into tab_oplog values(?,?,?,?)"),
                            {platform::dateText(platform::Now()), WorkerID, WorkerName, text});
    } catch (...) {
        // The log never stops the command that writes it.
    }
}

bool RightEntryGrants(const QString& entry, int rightNo) {
    if (entry.isEmpty()) return false;
    for (const QChar c : entry)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    bool ok = false;
    const qlonglong n = entry.toLongLong(&ok);
    return ok && (n == 0 || n == rightNo);
}

bool CheckRight(int rightNo, int mode) {
    // A list that starts with an empty entry grants nothing, whatever follows.
    if (!WorkerRights.isEmpty() && !WorkerRights.first().trimmed().isEmpty()) {
        for (const QString& entry : WorkerRights)
            if (RightEntryGrants(entry.trimmed(), rightNo)) return false;
    }
    const QString text = QStringLiteral("你没有此操作权限");
    if (mode == kRightStatusBar) {
        core::NotifyStatus(2, text);
    } else if (mode == kRightMessage) {
        core::Notify(text, platform::mbOKOnly, AppName);
    }
    return true;
}

}  // namespace ModGeneral
