#include "printing/frmPrint.h"

#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "printing/PrintGrid.h"

namespace {
frmPrint* g_instance = nullptr;
}

frmPrint& frmPrint::instance() {
    if (!g_instance) g_instance = new frmPrint;
    return *g_instance;
}

bool frmPrint::exists() { return g_instance != nullptr; }

void frmPrint::unload() {
    delete g_instance;
    g_instance = nullptr;
}

frmPrint::~frmPrint() {
    if (g_instance == this) g_instance = nullptr;
}

frmPrint::frmPrint(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmPrint"));
    setFont(QFont(QStringLiteral("宋体")));
    lblHead1 = new QLabel(this);
    lblHead2 = new QLabel(this);
    lblTitle = new QLabel(this);
    lblFootNote = new QLabel(this);
    grdPrint = new platform::FlexGrid(this);
}

bool frmPrint::PrintGrid(platform::FlexGrid& grid, const QString&, const QVariant&, const QVariant&) {
    int colFirst = 0, colLast = 0;
    ModGeneral::GetGridSel(grid, false, colFirst, colLast);
    return false;
}

bool frmPrint::PrintTicket(const QVariant&, const QVariant&) { return false; }
bool frmPrint::PrintScrip(const QVariant&, const QVariant&) { return false; }

void frmPrint::PrintLine(int x, int y, const QString& text, int align, int width, int height) {
    printing::PrintCell(x, y, text, align, width, height);
}

void frmPrint::Init() {
    ModSwitch::GetVariant(printing::kLocateKey, QStringLiteral("0")).trimmed().toDouble();
}
