// Opening a site as the start-up does (both files checked, compacted and
// their safety copies taken, then opened) with 300,000 and 1,000,000 calls
// not yet archived: what the start's checks cost on a busy site, in time and
// in the memory the process holds at its peak while it opens.
#include "BenchSite.h"
#include "core/ModDefine.h"
#include "core/SafetyCopies.h"
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
double peakMB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

// A site whose call file holds `calls` calls of this month, 500 users; its
// files closed as a stopped station leaves them, started once (its safety
// copies taken).
std::unique_ptr<Site> makeSite(qint64 calls, std::string* error) {
    auto site = std::make_unique<Site>();
    if (!benchsite::freshSite(site->root, 500, error)) return nullptr;
    QString e;
    {
        platform::Transaction tx(dbSwitch);
        dbPhoneCur.execute(QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i < ?1 - 1) "
                                          "INSERT INTO %1 (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, "
                                          "f_indjh, f_phmode, f_memo, f_userid) SELECT 100 + i % 500, 1 + i % 16, "
                                          "datetime('2026-12-01 00:00:00', '+' || (i * 7) || ' seconds'), 60 + i % 900, "
                                          "(i * 37) % 20000, printf('0%d', 10000000 + i % 9000000), '    ', '', 7, '市话', "
                                          "1 + i % 500 FROM s")
                               .arg(dbPhoneCur.qualified(QStringLiteral("Tab_Phone"))),
                           {calls});
        tx.commit();
    }
    ModSwitch::OpenAllDB(false);
    if (!openSite(&e)) {
        *error = e.toStdString();
        return nullptr;
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

void BM_OpenSiteWithCalls(benchmark::State& state) {
    if (!siteFor(state.range(0), state)) return;
    double peak = 0, base = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetPeak();
        base = std::max(base, peakMB());
        state.ResumeTiming();
        QString failure;
        if (!openSite(&failure)) {
            state.SkipWithError(failure.toStdString().c_str());
            break;
        }
        state.PauseTiming();
        peak = std::max(peak, peakMB());
        ModSwitch::OpenAllDB(false);
        state.ResumeTiming();
    }
    state.counters["phonecur_MB"] =
        double(QFileInfo(platform::resolveCI(ModDefine::DataPath, QStringLiteral("PhoneCur.mdb"))).size()) / 1e6;
    // The process's resident peak while the site opened, and what it held
    // just before: their difference is what the opening itself needed.
    state.counters["peak_MB"] = peak;
    state.counters["before_MB"] = base;
}

}  // namespace

BENCHMARK(BM_OpenSiteWithCalls)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);
