#include "params/ViewSupport.h"

#include "core/Console.h"
#include "core/ModDefine.h"

#include <QRegularExpression>
#include <stdexcept>

namespace params::views {

void StatusText(const QString& text) { core::StatusText(2, text); }

platform::FlexGrid& ConsoleGrid() {
    core::Console* c = core::MakeConsole();
    if (!c || !c->fgDisp) throw std::logic_error("a view was built with no console to show it");
    return *c->fgDisp;
}

QString CheckedTable(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!plain.match(name).hasMatch())
        throw platform::DbError(platform::kErrNoSuchTable, QStringLiteral("表名无效: %1").arg(name));
    return name;
}

}  // namespace params::views
