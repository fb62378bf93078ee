#pragma once
// A call as the bill view lists it, without the view: the pricing engine
// fills one for each call it stores.
#include "platform/Currency.h"

#include <QString>

namespace ModSwitch {

// One call as the bill view lists it. The records loaded with the view and the
// calls added as they are priced are written through the same formatting.
struct BillLine {
    qint64 userId = 0;
    int extAddr = 0;
    QString account;            // as stored: four characters, blanks for none
    QString called;
    QString place;
    QString start;              // "yyyy-MM-dd HH:mm:ss"
    qint64 seconds = 0;
    platform::Currency balance;
    qint64 kind = 0;            // call category, an index into the 话单类型 options
    platform::Currency total, fee, addFee1, addFee2, gateFee, linkFee;
    QString trunk;
    QString inDigits;
};

}  // namespace ModSwitch
