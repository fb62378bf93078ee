#include "params/SpringCount.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "params/DialDigits.h"
#include "platform/FlexGrid.h"

namespace ModSwitch {

QString CheckSpringCount(const platform::FlexGrid& grid, const QString& head, const QString& num, QString* message) {
    const int len = num.size();
    const auto inUse = [&](const QString& cand) {
        for (int r = 1; r < grid.Rows(); ++r) {
            const bool selected = r >= GridSelFirst && r <= GridSelLast;
            const QString number = grid.TextMatrix(r, 2);
            if (number.right(len) != cand) continue;
            if (selected || grid.TextMatrix(r, 1) == head) return true;
        }
        return false;
    };
    for (qint64 c = num.toLongLong(); c < FlexNumberCount(len); ++c) {
        const QString cand = FlexNumberText(c, len);
        if (!inUse(cand)) return cand;
    }
    if (message)
        *message = QStringLiteral("字头 ") + head + QStringLiteral(" 的弹性号码最大个数为") + QString::number(FlexNumberCount(len)) +
                   QStringLiteral("个");
    return QStringLiteral("E");
}

QString CheckSpringCount(const QString& head, const QString& num) {
    core::Console* c = core::TheConsole();
    QString message;
    QString r;
    if (c && c->fgDisp) {
        r = CheckSpringCount(*c->fgDisp, head, num, &message);
    } else {
        const platform::FlexGrid none;   // no view shown: no number on screen is taken
        r = CheckSpringCount(none, head, num, &message);
    }
    if (!message.isEmpty()) core::StatusText(2, message);
    return r;
}

}  // namespace ModSwitch
