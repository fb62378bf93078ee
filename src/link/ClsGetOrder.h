#pragma once
// One ask: optionally sends an order, then waits for a frame of the expected code.
#include <QByteArray>
#include <QString>

#include "link/LinkResults.h"

class ClsGetOrder {
public:
    ModComm::AskResult GetOrder(QByteArray& answer, const QString& expectCode, bool flag, const QString& order,
                                int timeoutSec);
};
