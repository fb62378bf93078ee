// Opening a site as the start-up does (both files checked, compacted and
// their safety copies taken, then opened) with 300,000 and 1,000,000 calls
// not yet archived: what the start's checks cost on a busy site, in time and
// in the memory the process holds at its peak while it opens.
#include "BenchSite.h"
#include "core/ModDefine.h"
#include "core/books/SafetyCopies.h"
#include "core/Schema.h"
#include "core/StationFiles.h"
#include "platform/Db.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

struct Site {
    QTemporaryDir root;
};

using benchsite::openSite;

// The kernel's peak of the process's resident memory ("VmHWM"), set back to
// what it holds now by `resetPeak`: the peak of what comes between.
void resetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}
double statusMB(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}
double peakMB() { return statusMB("VmHWM"); }
double residentMB() { return statusMB("VmRSS"); }

// `calls` calls of this month, from the `from`th on, stored in `cur`'s calls table.
void storeCalls(const platform::Database& cur, qint64 calls, qint64 from = 0) {
    platform::Transaction tx(cur);
    cur.execute(QStringLiteral("WITH RECURSIVE s(i) AS (SELECT ?2 UNION ALL SELECT i+1 FROM s WHERE i < ?2 + ?1 - 1) "
                               "INSERT INTO %1 (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, "
                               "f_indjh, f_phmode, f_memo, f_userid) SELECT 100 + i % 500, 1 + i % 16, "
                               "datetime('2026-12-01 00:00:00', '+' || (i * 7) || ' seconds'), 60 + i % 900, "
                               "(i * 37) % 20000, printf('0%d', 10000000 + i % 9000000), '    ', '', 7, '市话', "
                               "1 + i % 500 FROM s")
                    .arg(cur.qualified(QStringLiteral("Tab_Phone"))),
                {calls, from});
    tx.commit();
}

// A site whose call file holds `calls` calls of this month, 500 users; its
// files closed as a stopped station leaves them, started (its safety copies
// taken).
std::unique_ptr<Site> makeSite(qint64 calls, std::string* error) {
    auto site = std::make_unique<Site>();
    if (!benchsite::freshSite(site->root, 500, error)) return nullptr;
    QString e;
    storeCalls(dbPhoneCur, calls);
    // Opened twice: what a first opening after the calls writes is written,
    // and the site stands as a stopped station leaves it from one start to the next.
    for (int i = 0; i < 2; ++i) {
        ModSwitch::OpenAllDB(false);
        if (!openSite(&e)) {
            *error = e.toStdString();
            return nullptr;
        }
    }
    ModSwitch::OpenAllDB(false);
    return site;
}

Site* siteFor(qint64 calls, benchmark::State& state) {
    static std::map<qint64, std::unique_ptr<Site>> sites;
    // One site at a time on the disk: a million calls take some room.
    std::erase_if(sites, [calls](const auto& kv) { return kv.first != calls; });
    auto& s = sites[calls];
    if (!s) {
        std::string error;
        s = makeSite(calls, &error);
        if (!s) state.SkipWithError(error.c_str());
    }
    if (s) benchsite::useSite(s->root);
    return s.get();
}

// Each opening timed; before it (not timed) `callsBetween` calls are stored
// as a session would store them.
void openSiteTimed(benchmark::State& state, qint64 callsBetween) {
    Site* site = siteFor(state.range(0), state);
    if (!site) return;
    double peak = 0, rise = 0;
    qint64 stored = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        if (callsBetween > 0) {
            storeCalls(platform::Database::open(platform::resolveCI(ModDefine::DataPath, QStringLiteral("PhoneCur.mdb"))),
                       callsBetween, stored);
            stored += callsBetween;
        }
        resetPeak();
        const double before = residentMB();
        state.ResumeTiming();
        QString failure;
        if (!openSite(&failure)) {
            state.SkipWithError(failure.toStdString().c_str());
            break;
        }
        state.PauseTiming();
        peak = std::max(peak, peakMB());
        rise = std::max(rise, peakMB() - before);
        ModSwitch::OpenAllDB(false);
        state.ResumeTiming();
    }
    state.counters["phonecur_MB"] =
        double(QFileInfo(platform::resolveCI(ModDefine::DataPath, QStringLiteral("PhoneCur.mdb"))).size()) / 1e6;
    // The process's resident peak while the site opened, and how far above
    // what it held just before the opening took it.
    state.counters["peak_MB"] = peak;
    state.counters["rise_MB"] = rise;
}

// A station stopped and started again, nothing stored in between.
void BM_OpenSiteWithCalls(benchmark::State& state) { openSiteTimed(state, 0); }
// A session's work in between: 100 calls stored since the last start.
void BM_OpenSiteAfterCalls(benchmark::State& state) { openSiteTimed(state, 100); }
// A busy session in between: 10,000 or 30,000 calls stored since the last
// start, most pages of the call file's indexes rewritten.
void BM_OpenSiteAfterBusySession(benchmark::State& state) { openSiteTimed(state, state.range(1)); }

}  // namespace

BENCHMARK(BM_OpenSiteWithCalls)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenSiteAfterCalls)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenSiteAfterBusySession)->Args({300000, 10000})->Args({300000, 30000})->Unit(benchmark::kMillisecond)->Iterations(3);
