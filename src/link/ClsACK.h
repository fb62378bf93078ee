#pragma once
// One send of an order frame, waiting for the switch's acknowledgement when asked.
#include <QString>

#include "link/LinkResults.h"

class ClsACK {
public:
    ModComm::SendResult SendOrder(const QString& order, bool waitAck, int timeoutSec, bool addSum);
    // Sends made when no acknowledgement comes: an order the switch may have
    // taken although its acknowledgement was lost is sent once only.
    int attempts = 2;
    // Where on the line the acknowledgement that ended the send lay, -1 unknown.
    qint64 heardAt = -1;
};
