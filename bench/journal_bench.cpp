// Opening a site as start-up does (both files checked, compacted and copied,
// opened, the journal prepared) and the nightly archive of a day's calls, on a
// site whose journal of money holds a year of entries beside one whose journal
// is young: what a start and a night cost must not grow with the journal's age.
#include "billing/ArchiveBills.h"
#include "core/books/ChargeLog.h"
#include "BenchSite.h"
#include "core/ModDefine.h"
#include "core/books/SafetyCopies.h"
#include "core/Schema.h"
#include "core/StationFiles.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>

namespace {

// A site whose journal holds `entries` applied entries, one every `spacingSecs`
// up to now, 300 users; its files closed as a stopped station leaves them.
struct Site {
    QTemporaryDir root;
    double firstOpenSecs = 0;   // the first start after the journal was written
};

using benchsite::openSite;

std::unique_ptr<Site> makeSite(qint64 entries, qint64 spacingSecs, std::string* error) {
    auto site = std::make_unique<Site>();
    if (!benchsite::freshSite(site->root, 300, error)) return nullptr;
    QString e;
    {
        platform::Transaction tx(dbSwitch);
        // Entries ending now, oldest first, every one applied.
        const QString now = platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        dbPhoneCur.execute(QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM s WHERE i < ?1) "
                                          "INSERT INTO %1 (f_seq, f_gen, f_kind, f_userid, f_amount, f_balance, f_calladdr, f_date) "
                                          "SELECT i, 1, 0, 1 + i % 300, 1000, 10000000 - i, i % 500, "
                                          "datetime(?2, '-' || ((?1 - i) * ?3) || ' seconds') FROM s")
                               .arg(dbPhoneCur.qualified(ModSwitch::kChargeLog)),
                           {entries, now, spacingSecs});
        dbSwitch.execute(QStringLiteral("UPDATE Variant SET value=? WHERE varname=?"),
                         {QString::number(entries), ModSwitch::kChargeMark});
        tx.commit();
    }
    ModSwitch::OpenAllDB(false);
    // The first start takes its safety copies (and does what a version does once).
    const auto t0 = std::chrono::steady_clock::now();
    if (!openSite(&e)) {
        *error = e.toStdString();
        return nullptr;
    }
    ModSwitch::OpenAllDB(false);
    site->firstOpenSecs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // The second start finds the safety copies of the first.
    if (!openSite(&e)) {
        *error = e.toStdString();
        return nullptr;
    }
    ModSwitch::OpenAllDB(false);
    return site;
}

// One site per journal size, made once for the run.
Site* siteFor(qint64 entries, benchmark::State& state) {
    static std::map<qint64, std::unique_ptr<Site>> sites;
    auto& s = sites[entries];
    if (!s) {
        std::string error;
        // A year of entries (a busy site: ~2,700 a day), or a young journal of three days.
        const qint64 spacing = entries >= 100000 ? 365LL * 86400 / entries : 3LL * 86400 / entries;
        s = makeSite(entries, qMax<qint64>(1, spacing), &error);
        if (!s) state.SkipWithError(error.c_str());
    }
    if (s) benchsite::useSite(s->root);
    return s.get();
}

qint64 sizeOf(const QString& name) {
    return QFileInfo(platform::resolveCI(ModDefine::DataPath, name)).size();
}

void BM_OpenSite(benchmark::State& state) {
    Site* site = siteFor(state.range(0), state);
    if (!site) return;
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
    state.counters["first_open_s"] = site->firstOpenSecs;
    state.counters["phonecur_MB"] = double(sizeOf(QStringLiteral("PhoneCur.mdb"))) / 1e6;
}

// A day of 50,000 calls archived at night on the open site.
void BM_NightlyArchive(benchmark::State& state) {
    Site* site = siteFor(state.range(0), state);
    if (!site) return;
    QString failure;
    if (!openSite(&failure)) {
        state.SkipWithError(failure.toStdString().c_str());
        return;
    }
    const QString table = dbPhoneCur.qualified(QStringLiteral("Tab_Phone"));
    for (auto _ : state) {
        state.PauseTiming();
        for (const QString& f : QDir(ModDefine::DataPath).entryList({QStringLiteral("PhBill_*.mdb")}, QDir::Files))
            QFile::remove(ModDefine::DataPath + f);
        dbPhoneCur.execute(QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i < 49999) "
                                          "INSERT INTO %1 (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, "
                                          "f_indjh, f_phmode, f_memo, f_userid) SELECT i % 500, 1, "
                                          "datetime('2026-03-05 00:00:00', '+' || (i * 86399 / 50000) || ' seconds'), 60, "
                                          "1000, '88000001', '    ', '', 7, '市话', 1 + i % 300 FROM s")
                               .arg(table));
        state.ResumeTiming();
        billing::ArchiveBills();
        state.PauseTiming();
        if (billing::LastArchiveRun().moved != 50000) state.SkipWithError("not every call was archived");
        state.ResumeTiming();
    }
    ModSwitch::OpenAllDB(false);
}

}  // namespace

// A year of entries (1,000,000) beside a young journal (10,000 of three days).
BENCHMARK(BM_OpenSite)->Arg(1000000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_NightlyArchive)->Arg(1000000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
