#include <cerrno>
#include <cstring>
#include "platform/Clock.h"

#include "platform/Db.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QThread>
#include <ctime>

namespace platform {

namespace {
std::function<QDateTime()> g_now;
std::function<qint64()> g_tick;
bool g_recordClock = false;
bool g_refuseClock = false;
QList<QDateTime> g_clockRequests;
int g_yieldInTx = 0;
int g_yieldDepth = 0;
}  // namespace

QDateTime Now() {
    if (g_now) return g_now();
    // Whole seconds, with one conversion to local time (each one consults the
    // zone files), made once a second: a record asks several times.
    thread_local qint64 second = -1;
    thread_local QDateTime local;
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (now != second) {
        local = QDateTime::fromMSecsSinceEpoch(now * 1000);
        second = now;
    }
    return local;
}

qint64 TickMs() {
    if (g_tick) return g_tick();
    static QElapsedTimer timer = [] { QElapsedTimer t; t.start(); return t; }();
    return timer.elapsed();
}

bool SetPcClock(const QDateTime& t, QString* error) {
    if (g_recordClock) {
        g_clockRequests << t;
        if (g_refuseClock && error) *error = QString::fromLocal8Bit(::strerror(EPERM));
        return !g_refuseClock;
    }
    struct timespec ts;
    ts.tv_sec = t.toSecsSinceEpoch();
    ts.tv_nsec = 0;
    if (::clock_settime(CLOCK_REALTIME, &ts) == 0) return true;
    if (error) *error = QString::fromLocal8Bit(::strerror(errno));
    return false;
}

void YieldEvents() {
    if (openTransactionCount() > 0) ++g_yieldInTx;
    ++g_yieldDepth;
    struct Leave {
        ~Leave() { --g_yieldDepth; }
    } leave;
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(500);
}

int YieldDepth() { return g_yieldDepth; }

int yieldsInTransaction() { return g_yieldInTx; }

namespace testing {
void setNow(std::function<QDateTime()> f) { g_now = std::move(f); }
void setTick(std::function<qint64()> f) { g_tick = std::move(f); }
void recordPcClock(bool refuse) {
    g_recordClock = true;
    g_refuseClock = refuse;
}
QList<QDateTime> pcClockRequests() { return g_clockRequests; }
void resetClock() {
    g_now = nullptr;
    g_tick = nullptr;
    g_recordClock = false;
    g_refuseClock = false;
    g_clockRequests.clear();
}
void resetYieldsInTransaction() { g_yieldInTx = 0; }
}  // namespace testing

}  // namespace platform
