#pragma once
// The sends to the switch that editing and saving make at once, in the
// parameter transfer's terms.
#include <QtGlobal>

namespace ModSwitch {

// The account at `address` sent as one row (the single-row account download);
// true when the switch acknowledged it.
bool SendAccountNow(qint64 address);
// One user's accounts and extensions sent to the switch (mode 0 as they
// stand, 2 released); true when the switch took them.
bool SendUserPara(qint64 userId, int mode, bool clearPasswords);

}  // namespace ModSwitch
