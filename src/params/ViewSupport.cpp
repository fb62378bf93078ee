#include "params/ViewSupport.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "platform/Db.h"
#include "platform/FlexGrid.h"

#include <QRegularExpression>
#include <QWidget>
#include <stdexcept>

namespace params::views {

namespace {
// The console the editing works on; editing without one is a fault of the caller.
core::Console& console() {
    core::Console* c = core::MakeConsole();
    if (!c) throw std::logic_error("the grid is edited with no console to show it");
    return *c;
}
}  // namespace

void StatusText(const QString& text) { core::StatusText(2, text); }

platform::FlexGrid& ConsoleGrid() {
    core::Console* c = core::MakeConsole();
    if (!c || !c->fgDisp) throw std::logic_error("a view was built with no console to show it");
    return *c->fgDisp;
}

platform::FlexGrid& PortGrid() {
    core::Console& c = console();
    if (c.fgMon.size() < 2 || !c.fgMon[1]) throw std::logic_error("the console has no port grid");
    return *c.fgMon[1];
}

QLineEdit* TextEditor() { return console().txtModify; }
QComboBox* OptionEditor() { return console().cboModify; }
bool& EditDone() { return console().EditDone; }
int TableRight() { return console().TableRight(); }
QString Caption() { return console().ConsoleWidget()->windowTitle(); }
void RefreshView() { console().tvSwitch_Click(); }
void HideMonitorGrids() {
    for (platform::FlexGrid* g : console().fgMon)
        if (g) g->hide();
}

namespace {
const QRegularExpression& plainName() {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return plain;
}
}  // namespace

QString CheckedTable(const QString& name) {
    if (!plainName().match(name).hasMatch())
        throw platform::DbError(platform::kErrNoSuchTable, QStringLiteral("表名无效: %1").arg(name));
    return name;
}

QString CheckedColumn(const QString& name) {
    QString n = name.trimmed();
    if (n.startsWith(QLatin1Char('[')) && n.endsWith(QLatin1Char(']'))) n = n.mid(1, n.size() - 2);
    if (!plainName().match(n).hasMatch())
        throw platform::DbError(platform::kErrGeneric, QStringLiteral("列名无效: %1").arg(name));
    return platform::quoteIdent(n);
}

}  // namespace params::views
