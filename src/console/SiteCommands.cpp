// The sites of the second switch model as the console reaches them: the site
// window (F4) and the change of site (F5).
#include "admin/frmTerminal.h"
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/OpLog.h"
#include "link/ModComm.h"

void frmPABX::mnuTerminal_Click() {
    if (SwitchModel != 2 || ModGeneral::CheckRight(32, ModGeneral::kRightStatusBar)) return;
    ModComm::SendOrder(QStringLiteral("84040000"), false, 4, true);
    // Made before the console goes: a site list that cannot be read leaves it where it is.
    frmTerminal& w = frmTerminal::instance();
    window()->hide();
    w.show();
    w.raise();
    w.activateWindow();
}
