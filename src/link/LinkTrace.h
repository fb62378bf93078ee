#pragma once
// What the link writes to the protocol trace window. The link itself holds no
// window; these calls reach the trace window, which is created hidden on first use.
#include <QString>

namespace LinkTrace {

// Tracing is on unless switched off (benchmarks of the parser).
void SetEnabled(bool on);
// Whether trace lines are kept at all (so callers can skip building their text).
bool Enabled();

// One trace line: dir 0 received, 1 sent, 2 received with a wrong checksum.
void ShowRecord(const QString& text, int dir);
// A line written as it is (handling errors, refused orders, overruns).
void Note(const QString& line);
// The raw buffer list: whether "显示缓冲" is checked, and a line for it.
bool ShowBuf();
void AddBufLine(const QString& line);

}  // namespace LinkTrace
