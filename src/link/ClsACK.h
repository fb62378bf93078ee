#pragma once
// One send of an order frame, waiting for the switch's acknowledgement when asked.
#include <QString>

class ClsACK {
public:
    int SendOrder(const QString& order, bool waitAck, int timeoutSec, bool addSum);
};
