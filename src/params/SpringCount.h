#pragma once
// The flexible numbers an extension grid leaves free under a head.
#include <QString>

namespace platform {
class FlexGrid;
}

namespace ModSwitch {

// A free flexible number of num's length under `head`, judged on the extension
// grid (column 1 head, column 2 number; selected rows GridSelFirst..GridSelLast);
// "E" with the count message in `message` when every number is taken.
QString CheckSpringCount(const platform::FlexGrid& grid, const QString& head, const QString& num, QString* message);
// The same on the console grid, the message going to its status bar.
QString CheckSpringCount(const QString& head, const QString& num);

}  // namespace ModSwitch
