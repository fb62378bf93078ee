#pragma once
// The walk every refusal test shares: an act run again and again while the
// disk refuses once (the n-th write, then the n-th sync, of each file in turn,
// n = 1, 2, ... until the act passes with nothing refused), checked after each
// run with nothing armed; and the journal's sums a check compares with the
// test's own ledger.
#include "platform/Currency.h"
#include "support/Refusals.h"

#include <QStringList>
#include <functional>
#include <ostream>

namespace platform {
// Amounts in a failure as the operator reads them.
void PrintTo(const Currency& c, std::ostream* os);
}  // namespace platform

namespace testsupport::refusal {

// The files a walk refuses by default: the call file, then the station file.
QStringList stationFiles();

// Runs `act(i)` (its i-th run; true when it says it was done) under every
// refusal of the walk over `files`, then `check(i, said)` with nothing armed;
// `prepare(i)`, when given, runs before each act with nothing armed.
// Prints and records, per file and operation, the last n tried. Returns how
// many runs the walk took.
int walk(const std::function<bool(int)>& act, const std::function<void(int, bool)>& check,
         const QStringList& files = stationFiles(), const std::function<void(int)>& prepare = {});

// The sum of the journal's entries of `kind` for `user`, each number once
// whichever file holds it (the call file's log, the station file's copy, the
// journal file "ChargeLog.mdb" beside the call file);
// fails the test when two files give one number two different entries.
platform::Currency journalSum(qint64 user, int kind);

// How many entries of `kind` for `user` the journal holds, each number once.
int journalCount(qint64 user, int kind);

// The texts of the boxes shown since the `from`-th (platform::script::shown()).
QStringList boxesSince(int from);
// Whether one of `boxes` contains `part`.
bool anyContains(const QStringList& boxes, const QString& part);

// Answers for boxes an act may or may not show (a failure said): queued for
// its run, the ones not taken forgotten when it goes, so that none stays for a
// later box. An empty part answers any box; give it last.
class MaybeBoxes {
public:
    explicit MaybeBoxes(QList<QPair<QString, int>> answers);
    ~MaybeBoxes();
    MaybeBoxes(const MaybeBoxes&) = delete;
    MaybeBoxes& operator=(const MaybeBoxes&) = delete;
    // The texts of the boxes shown since it was made.
    QStringList shown() const;

private:
    QList<QPair<QString, int>> answers_;
    int from_;
};

// The money of `user`: what the journal gives, what the station file holds
// once it is brought up to it, its deposit and the charges in the journal.
void checkMoney(qint64 user, platform::Currency remain, platform::Currency deposit, platform::Currency charged);

}  // namespace testsupport::refusal
