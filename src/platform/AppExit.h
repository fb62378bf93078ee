#pragma once
// The one way the station's process ends. In-process tests install a handler
// that observes the end instead of dying (it throws ProgramEnded).
#include <functional>
#include <stdexcept>

namespace platform {

struct ProgramEnded : std::runtime_error {
    int code;
    explicit ProgramEnded(int c) : std::runtime_error("program ended"), code(c) {}
};

[[noreturn]] void EndProgram(int code = 0);

namespace testing {
// While set, EndProgram calls the handler and then throws ProgramEnded.
void setEndHandler(std::function<void(int)> handler);
void throwOnEnd();          // EndProgram throws ProgramEnded, nothing else
void clearEndHandler();
}  // namespace testing

}  // namespace platform
