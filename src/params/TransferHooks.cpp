#include "params/TransferHooks.h"

#include "core/ModDefine.h"
#include "transfer/ModToolbar.h"

namespace ModSwitch {

bool SendAccountNow(qint64 address) {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select * from account where address=?"), {address});
    return ModToolbar::DownAccount(rs, 0, false, false);
}

bool SendUserPara(qint64 userId, int mode, bool clearPasswords) {
    return ModToolbar::DownUserPara(userId, mode, clearPasswords ? 1 : 0, 0, 0);
}

}  // namespace ModSwitch
