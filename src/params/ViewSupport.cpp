#include "params/ViewSupport.h"

#include "console/frmPABX.h"
#include "core/ModDefine.h"

#include <QRegularExpression>

namespace params::views {

void StatusText(const QString& text) { frmPABX::instance().sbrInfo->setPanelText(2, text); }

platform::FlexGrid& ConsoleGrid() { return *frmPABX::instance().fgDisp; }

QString DialText(const QString& hex) {
    QString out;
    for (const QChar ch : hex) {
        if (ch == 'B') out += '*';
        else if (ch == 'C') out += '#';
        else if (ch == 'E' || (ch >= '0' && ch <= '9')) out += ch;
    }
    return out;
}

QString ExtNumberAt(qint64 address) {
    const QVariant v = dbSwitch.scalar(QStringLiteral("Select txhm From que_txhm where address=?"), {address});
    return v.isNull() ? QStringLiteral("****") : v.toString();
}

int FlexibleHeadLen() {
    const QVariant v = dbSwitch.scalar(QStringLiteral("select headlen from lanhead where headtype=29"));
    const int len = v.isNull() ? 0 : v.toInt();
    return len < 1 || len > 4 ? 4 : len;
}

QString CheckedTable(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!plain.match(name).hasMatch())
        throw platform::DbError(platform::kErrNoSuchTable, QStringLiteral("表名无效: %1").arg(name));
    return name;
}

}  // namespace params::views
