#pragma once
// What the link writes to the protocol trace window. The link itself holds no
// window; these calls reach the trace window the windows register
// (LinkTrace::UseTraceWindow in link/frmSRV.h, which creates the window hidden
// on first use). Without one nothing is traced.
#include <QString>

namespace LinkTrace {

// The trace window as the link sees it.
class Window {
public:
    virtual ~Window() = default;
    // Whether the window can be shown at all (it needs the widget application).
    virtual bool Ready() = 0;
    virtual void ShowRecord(const QString& text, int dir) = 0;
    virtual void Note(const QString& line) = 0;
    // Whether "显示缓冲" is checked.
    virtual bool ShowBuf() = 0;
    virtual void AddBufLine(const QString& line) = 0;
};
// Makes `w` the trace window (null: none).
void SetWindow(Window* w);

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
