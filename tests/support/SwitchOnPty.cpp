#include "support/SwitchOnPty.h"

#include "core/frmPicClip.h"
#include "platform/Db.h"
#include "platform/Prompts.h"

#include <QDialog>

namespace testsupport {

SwitchOnPty::SwitchOnPty(sim::SwitchOptions opt) : sw_(std::make_unique<sim::Switch>(opt)) {}

SwitchOnPty::~SwitchOnPty() { sw_->stop(); }

bool SwitchOnPty::attach(const QString& switchMdbPath) {
    if (!sw_->openPty()) return false;
    try {
        platform::Database db = platform::Database::open(switchMdbPath);
        db.execute(QStringLiteral("delete from Variant where varname='CommDevice'"));
        db.execute(QStringLiteral("insert into Variant(varname,value) values('CommDevice',?)"), {sw_->slavePath()});
    } catch (const platform::DbError&) {
        return false;
    }
    sw_->start();
    return true;
}

void scriptClockDialog() {
    platform::script::onModal(QStringLiteral("frmPicClip"),
                              [](QDialog* d) { static_cast<frmPicClip*>(d)->Command1_Click(); });
}

}  // namespace testsupport
