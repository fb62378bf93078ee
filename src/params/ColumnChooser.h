#pragma once
// Which columns of the extension and trunk tables the grid shows: kept in the
// settings as positions in the field and title lists.
#include <QString>
#include <QStringList>

namespace ModSwitch {

// The shown columns as a select list (bField) or a grid header; `list` gets
// the shown field names or titles (titles unpadded).
QString BuildColumnList(QStringList& list, bool bField, bool bExt);
// Replaces `list` (the shown items) by the items not shown, in list order.
QString GetColumnChoice(QStringList& list, bool bField, bool bExt);
// Stores the items of `list`, in order, as the shown columns.
void SaveColumnChoice(const QStringList& list, bool bField, bool bExt);

}  // namespace ModSwitch
