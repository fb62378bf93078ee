#pragma once
// The station's clock, its monotonic tick, the seam through which it sets the
// PC clock, and the yield that every wait runs while it waits.
#include <QDateTime>
#include <functional>

namespace platform {

QDateTime Now();
// Milliseconds from an arbitrary start; keeps counting across midnight.
qint64 TickMs();

// Sets the PC's date and time. False when refused (no privilege), with why in `error`.
bool SetPcClock(const QDateTime& t, QString* error = nullptr);

// Lets pending window events, timers and frame handling run once, with a short sleep.
void YieldEvents();
// How many YieldEvents are running now: above 0 in code that a wait's yield
// reached (a timer tick inside a wait for the switch, a Delay or a long job).
int YieldDepth();
// Number of yields that happened while a database transaction was open (a fault).
int yieldsInTransaction();

namespace testing {
void setNow(std::function<QDateTime()> f);          // null restores the real clock
void setTick(std::function<qint64()> f);            // null restores the real tick
// Records clock requests instead of setting the machine's clock.
void recordPcClock(bool refuse = false);
QList<QDateTime> pcClockRequests();
void resetClock();
// Starts the count of yields inside a transaction again from 0 (each test's start).
void resetYieldsInTransaction();
}  // namespace testing

}  // namespace platform
