#include "console/StationWindows.h"

#include "core/Console.h"
#include "core/RecordDisplay.h"
#include "core/WindowNotices.h"
#include "core/frmPicClip.h"
#include "core/frmWelcome.h"
#include "link/LinkWindows.h"
#include "link/frmSRV.h"
#include "platform/FlexGrid.h"
#include "platform/Prompts.h"
#include "transfer/ModToolbar.h"

#include <QApplication>
#include <QWidget>

namespace console {

namespace {

class LinkDoors final : public LinkWindows::Windows {
public:
    bool ProgressShown() override {
        for (QWidget* w : QApplication::allWidgets()) {
            if ((w->objectName() == QLatin1String("frmProgress") ||
                 QLatin1String(w->metaObject()->className()) == QLatin1String("frmProgress")) &&
                w->isVisible())
                return true;
        }
        return false;
    }

    void AddDepositLine(const QString& line) override {
        core::Console* c = core::TheConsole();
        platform::FlexGrid* g = c ? c->fgDisp : nullptr;
        if (!g) return;
        g->AddItem(line);
        if (g->Rows() > 2 && g->TextMatrix(1, 0).isEmpty()) g->RemoveItem(1);
    }

    void ClockDialog() override {
        const bool splash = frmWelcome::exists();
        if (splash) frmWelcome::instance().Timer1->stop();
        frmPicClip& clip = frmPicClip::instance();
        platform::RunModal(&clip);
        if (splash && frmWelcome::exists()) frmWelcome::instance().Timer1->start();
    }
};

}  // namespace

void UseStationWindows() {
    core::UseWindowNotices();
    LinkTrace::UseTraceWindow();
    static LinkDoors doors;
    LinkWindows::SetWindows(&doors);
    core::SetWindowRecordDisplayMaker(&core::MakeWindowRecordDisplay);
    ModToolbar::UseDownloadWindows();
}

}  // namespace console
