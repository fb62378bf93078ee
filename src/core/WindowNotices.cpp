#include "core/WindowNotices.h"

#include "core/Console.h"
#include "core/MDIMain.h"
#include "core/Notices.h"
#include "platform/Prompts.h"

namespace core {

namespace {

class WindowNotices final : public Notices {
public:
    int Message(const QString& text, int buttons, const QString& title) override {
        return platform::MsgBox(text, buttons, title);
    }
    void Status(int panel, const QString& text) override { StatusText(panel, text); }
    void EnableStation(bool on) override {
        if (MDIMain::exists()) MDIMain::instance().setEnabled(on);
        else SetConsoleEnabled(on);
    }
    [[noreturn]] void EndStation() override { CloseApp(); }
};

}  // namespace

void UseWindowNotices() {
    static WindowNotices notices;
    SetNotices(&notices);
}

}  // namespace core
