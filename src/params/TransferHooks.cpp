#include "params/TransferHooks.h"

namespace ModSwitch {

bool SendAccountNow(qint64 address) {
    (void)address;
    return false;
}

bool SendUserPara(qint64 userId, int mode, bool clearPasswords) {
    (void)mode;
    (void)clearPasswords;
    return userId == 0;
}

}  // namespace ModSwitch
