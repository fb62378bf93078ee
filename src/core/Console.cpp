#include "core/Console.h"

#include "platform/AppExit.h"
#include "platform/StatusBar.h"

#include <QWidget>

namespace core {

namespace {
Console* g_console = nullptr;
std::function<Console*()> g_maker;
}  // namespace

Console::~Console() { UnregisterConsole(this); }

Console* TheConsole() { return g_console; }
bool ConsoleExists() { return g_console != nullptr; }
void RegisterConsole(Console* c) { g_console = c; }
void UnregisterConsole(Console* c) {
    if (g_console == c) g_console = nullptr;
}

void SetConsoleMaker(std::function<Console*()> maker) { g_maker = std::move(maker); }

Console* MakeConsole() {
    if (!g_console && g_maker) {
        Console* made = g_maker();
        // A maker that does not register what it made still hands it over.
        if (!g_console) g_console = made;
    }
    return g_console;
}

void StatusText(int panel, const QString& text) {
    if (g_console && g_console->sbrInfo) g_console->sbrInfo->setPanelText(panel, text);
}

QString PanelText(int panel) {
    return g_console && g_console->sbrInfo ? g_console->sbrInfo->panelText(panel) : QString();
}

void SetConsoleEnabled(bool on) {
    if (!g_console) return;
    if (QWidget* w = g_console->ConsoleWidget()) w->window()->setEnabled(on);
}

bool ConsoleEnabled() {
    QWidget* w = g_console ? g_console->ConsoleWidget() : nullptr;
    return w && w->window()->isEnabled();
}

void RefreshBoard() {
    if (g_console && g_console->PicMain) g_console->PicMain->update();
}

void CloseApp() {
    if (Console* c = MakeConsole()) c->CloseApp();
    platform::EndProgram(0);
}

}  // namespace core
