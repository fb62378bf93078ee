#pragma once
// Texts put into a grid row as one tab-separated line (the grid's AddItem).
#include <QString>
#include <QStringList>

namespace platform {

// A text as one cell of such a line: a tab inside it would start the next
// cell and shift the rest of the row, so it shows as a blank.
inline QString GridCell(const QString& text) {
    if (!text.contains(QLatin1Char('\t'))) return text;
    QString t = text;
    return t.replace(QLatin1Char('\t'), QLatin1Char(' '));
}

// The line of these cells, each taken by GridCell.
inline QString GridLine(const QStringList& cells) {
    QString line;
    for (int i = 0; i < cells.size(); ++i) {
        if (i) line += QLatin1Char('\t');
        line += GridCell(cells[i]);
    }
    return line;
}

}  // namespace platform
