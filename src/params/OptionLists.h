#pragma once
// The option texts of every enumerated column, keyed by the column's grid
// title: the grid shows the texts, the tables store their positions.
#include "platform/FlexGrid.h"

#include <QString>
#include <QStringList>

namespace ModSwitch {

// Fills `list` with the options of the column titled `title`; one empty
// option for a title that is not enumerated.
void GetOptionList(const QString& title, QStringList& list);
// Department names of the users; element 0 "默认部门" when there are none.
void GetDeptList(QStringList& list);
// "name-id" per user in id order; element 0 "默认用户" when there are none.
void GetUserList(QStringList& list);
// The name of userId in a list built by GetUserList; "默认用户" when absent.
QString UserNameOf(const QStringList& list, qint64 userId);
// Position of the first element equal to `text`; 0 when there is none.
int FindInArray(const QStringList& list, const QString& text);

// Multi-valued cells, chosen in the dual-list chooser. `current` is a list
// of options joined by ","; the result keeps the option list's order.
QString ChooseListItems(const QString& current, const QString& title);
// Weekday set as a bit mask, bit 0 Monday to bit 6 Sunday.
quint8 ChooseWeekdays(quint8 mask);

// First column whose row-0 text equals `title`; -1 when none.
int GetColIndex(const QString& title, const platform::FlexGrid& grid);

}  // namespace ModSwitch
