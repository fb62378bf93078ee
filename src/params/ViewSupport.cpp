#include "params/ViewSupport.h"

#include "console/frmPABX.h"
#include "core/ModDefine.h"

#include <QRegularExpression>

namespace params::views {

void StatusText(const QString& text) { frmPABX::instance().sbrInfo->setPanelText(2, text); }

platform::FlexGrid& ConsoleGrid() { return *frmPABX::instance().fgDisp; }

QString CheckedTable(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!plain.match(name).hasMatch())
        throw platform::DbError(platform::kErrNoSuchTable, QStringLiteral("表名无效: %1").arg(name));
    return name;
}

}  // namespace params::views
