#pragma once
// What a benchmark program must undo while the application still lives (its
// windows, its station): run by bench_main before the application goes.
#include <functional>
#include <vector>

namespace benchcleanup {
inline std::vector<std::function<void()>>& steps() {
    static std::vector<std::function<void()>> s;
    return s;
}
inline void atEnd(std::function<void()> step) { steps().push_back(std::move(step)); }
inline void run() {
    for (auto it = steps().rbegin(); it != steps().rend(); ++it) (*it)();
    steps().clear();
}
}  // namespace benchcleanup
