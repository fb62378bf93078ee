#include "platform/AppExit.h"

// Placeholder end road until the console's stop sequence is built.
[[noreturn]] void EndStation() { platform::EndProgram(0); }
