#pragma once
// One ask: optionally sends an order, then waits for a frame of the expected code.
#include <QByteArray>
#include <QString>

class ClsGetOrder {
public:
    int GetOrder(QByteArray& answer, const QString& expectCode, bool flag, const QString& order, int timeoutSec);
};
