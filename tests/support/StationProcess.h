#pragma once
// The station as a process that a test may kill at any moment (SIGKILL, as a
// power cut), and what the test then reads back from its data directory.
#include "platform/Currency.h"
#include "platform/Db.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <random>

namespace testsupport {

// The seed of a test's random kill points: TARVO_DURABILITY_SEED when set (to
// replay a failure), else a fresh one. It is printed and kept with the test's
// result, so a failing run names the seed that replays it.
unsigned durabilitySeed();
// How many kills a test makes: TARVO_DURABILITY_KILLS when set, else `dflt`.
int durabilityKills(int dflt);

// One run of tarvo-testrunner on a program directory, its log in the directory.
class StationProcess {
public:
    StationProcess(QString appPath, QStringList extraArgs);
    ~StationProcess();
    void start();
    qint64 pid() const { return pid_.load(); }
    // SIGKILL now, callable from any thread; the process ends where it stands.
    void killNow() const;
    // SIGKILL and wait until it is gone.
    void kill();
    // Waits for the process to end by itself; false when it is still running.
    // A station that yielded inside a transaction fails the test here.
    bool waitEnded(int timeoutMs);
    bool running() const { return proc_.state() != QProcess::NotRunning; }
    // True when the process died by a signal (not through the station's end).
    bool killed() const;
    QStringList log() const;
    bool logHas(const QString& line) const { return log().contains(line); }
    // Waits for "LOADED" in the log (or for the process to end).
    bool waitLoaded(int timeoutMs);
private:
    void checkYields();
    QString appPath_, logPath_;
    bool yieldsChecked_ = false;
    QStringList args_;
    QProcess proc_;
    std::atomic<qint64> pid_{0};
};

// The station a thread of its own (the switch simulator's observer) may kill:
// its pid, aimed and cleared by the test's thread, never a pointer to a
// StationProcess that thread replaces or frees. Clearing waits for a kill
// under way, so that none reaches a process started after it.
class KillTarget {
public:
    void aim(const StationProcess& p) {
        std::lock_guard<std::mutex> l(m_);
        pid_ = p.pid();
    }
    void clear() {
        std::lock_guard<std::mutex> l(m_);
        pid_ = 0;
    }
    // SIGKILL to the station aimed at, if any.
    void fire() const;
private:
    mutable std::mutex m_;
    qint64 pid_ = 0;
};

// Every stored call record of a data directory, in "PhoneCur.mdb" and in the
// yearly archives, and those the station's next opening puts back there from
// the station file (see onlyInStationFile), keyed by extension address and start ("5 2026-06-15 10:00:00").
struct StoredCalls {
    QMap<QString, int> count;        // key -> how many rows hold it
    qint64 rows = 0;
    qint64 currentRows = 0;          // of which still in Tab_Phone
    platform::Currency feesOf7;      // fees charged to user 7 (all five fee columns)
    QStringList filesNotSound;       // databases that fail quick_check or do not open
    // Keys of calls held only by the station file's copy of the calls it
    // charged: a kill between the two files' commits leaves the station
    // file's part committed alone, and the next opening gives the call back
    // to the call file. Counted above as stored.
    QStringList onlyInStationFile;
};
StoredCalls readStoredCalls(const QString& dataPath);
// A user's balance as the station holds it once it starts on `dataPath`: the
// station file's, less the charges logged past its mark.
platform::Currency remainOf(const QString& dataPath, qint32 userid);

// Copies a directory tree (a prepared data directory into a fresh one).
bool copyTree(const QString& from, const QString& to);

}  // namespace testsupport
