#include "params/ColumnChooser.h"

#include "core/Settings.h"

namespace ModSwitch {

namespace {

QString showKey(bool bExt) { return bExt ? QStringLiteral("ExtShowlist") : QStringLiteral("RelayShowlist"); }

QStringList items(bool bField, bool bExt) {
    const QString key = bExt ? (bField ? QStringLiteral("ExtField") : QStringLiteral("ExtTitle"))
                             : (bField ? QStringLiteral("RelayField") : QStringLiteral("RelayTitle"));
    QStringList list = GetVariant(key).split(',');
    for (QString& s : list) s = s.trimmed();
    return list;
}

// Columns too narrow for their contents get a minimum header width.
int minWidth(const QString& title) {
    if (title == QStringLiteral("群呼分机")) return 20;
    for (const char* t : {"等级一", "等级二", "字头", "中继号码", "弹性号码"})
        if (title == QString::fromUtf8(t)) return 8;
    return 0;
}

}  // namespace

QString BuildColumnList(QStringList& list, bool bField, bool bExt) {
    const QString shown = GetVariant(showKey(bExt));
    const QStringList all = items(bField, bExt);
    const int entries = shown.size() / 3 + 1;
    list.clear();
    QString result;
    for (int i = 0; i < entries; ++i) {
        const int k = shown.mid(3 * i, 2).trimmed().toInt();
        if (k < 0 || k >= all.size()) continue;   // a position the lists do not hold is left out
        const QString item = all[k];
        list << item;
        if (bField) result += ',' + item;
        else result += '|' + item.leftJustified(minWidth(item), ' ');
    }
    return result.mid(1);
}

QString GetColumnChoice(QStringList& list, bool bField, bool bExt) {
    QStringList shown;
    for (const QString& s : list) shown << s.trimmed();
    QStringList rest;
    for (const QString& item : items(bField, bExt))
        if (!shown.contains(item)) rest << item;
    list = rest;
    return rest.join(',');
}

void SaveColumnChoice(const QStringList& list, bool bField, bool bExt) {
    const QStringList all = items(bField, bExt);
    QStringList positions;
    for (const QString& item : list) {
        const int j = all.indexOf(item);
        if (j >= 0) positions << QStringLiteral("%1").arg(j, 2, 10, QLatin1Char('0'));
    }
    SetVariant(showKey(bExt), positions.join(','));
}

}  // namespace ModSwitch
