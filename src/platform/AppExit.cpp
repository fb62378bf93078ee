#include "platform/AppExit.h"

#include <cstdio>
#include <unistd.h>

namespace platform {

namespace {
bool g_throw = false;
std::function<void(int)> g_handler;
}  // namespace

void EndProgram(int code) {
    if (g_throw) {
        if (g_handler) g_handler(code);
        throw ProgramEnded(code);
    }
    std::fflush(nullptr);
    // The databases are closed (or committed) by the time the station ends;
    // nothing else needs tearing down, so no destructors run.
    ::_exit(code);
}

namespace testing {
void setEndHandler(std::function<void(int)> handler) {
    g_throw = true;
    g_handler = std::move(handler);
}
void throwOnEnd() {
    g_throw = true;
    g_handler = nullptr;
}
void clearEndHandler() {
    g_throw = false;
    g_handler = nullptr;
}
}  // namespace testing

}  // namespace platform
