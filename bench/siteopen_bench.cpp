// Opening a site as the start-up does (both files checked, compacted and
// their safety copies taken, then opened) with 300,000 calls not yet
// archived: what the start's checks cost on a busy site.
#include "BenchSite.h"
#include "core/ModDefine.h"
#include "core/SafetyCopies.h"
#include "core/Schema.h"
#include "core/StationFiles.h"
#include "platform/Db.h"
#include "platform/Files.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace {

struct Site {
    QTemporaryDir root;
};

using benchsite::openSite;

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
    for (auto _ : state) {
        QString failure;
        if (!openSite(&failure)) {
            state.SkipWithError(failure.toStdString().c_str());
            break;
        }
        state.PauseTiming();
        ModSwitch::OpenAllDB(false);
        state.ResumeTiming();
    }
    state.counters["phonecur_MB"] =
        double(QFileInfo(platform::resolveCI(ModDefine::DataPath, QStringLiteral("PhoneCur.mdb"))).size()) / 1e6;
}

}  // namespace

BENCHMARK(BM_OpenSiteWithCalls)->Arg(300000)->Unit(benchmark::kMillisecond)->Iterations(5);
