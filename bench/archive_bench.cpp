// Archiving the current call records: a day of 50,000 calls (the nightly run),
// a year's worth, 1,000,000 calls (a start-up after a long pause), and a day
// joining a month already archived; the time includes the compaction of
// "PhoneCur.mdb".
#include "billing/ArchiveBills.h"
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "platform/Db.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

// Fills Tab_Phone with `n` calls spread evenly over `spanSecs` from `start`,
// a value for every column whatever columns the table has.
void fill(const platform::Database& cur, qint64 n, const QString& start, qint64 spanSecs) {
    const QString table = cur.actualTableName("Tab_Phone");
    QStringList names, exprs;
    for (const auto& c : cur.columns(table)) {
        const QString lc = c.name.toLower();
        QString e;
        if (lc == "f_date" || c.type == platform::ftDate) e = QStringLiteral("datetime(?1, '+' || (i*?2/?3) || ' seconds')");
        else if (lc == "f_userid") e = QStringLiteral("i % 300");
        else if (c.primaryKey && c.type != platform::ftText) continue;  // numbered by the engine
        else if (c.type == platform::ftText || c.type == platform::ftMemo)
            e = QStringLiteral("substr(printf('%d', 13800000000 + i), 1, %1)").arg(c.size > 0 ? c.size : 20);
        else if (c.type == platform::ftCurrency) e = QStringLiteral("(i * 37) % 200000");
        else if (c.type == platform::ftSingle || c.type == platform::ftDouble) e = QStringLiteral("(i % 100) * 0.5");
        else if (c.type == platform::ftBoolean) e = QStringLiteral("i % 2");
        else e = QStringLiteral("i % 16");
        names << '"' + c.name + '"';
        exprs << e;
    }
    cur.execute(QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i < ?3-1) "
                               "INSERT INTO %1 (%2) SELECT %3 FROM s")
                    .arg(cur.qualified(table), names.join(','), exprs.join(',')),
                {start, spanSecs, n});
}

// A fresh station in `root` with the databases open as the station has them.
bool openStation(const QTemporaryDir& root, std::string* error) {
    ModDefine::AppPath = root.path() + "/";
    ModDefine::DataPath = ModDefine::AppPath + "data/";
    QString e;
    if (!core::schema::WriteFreshDataDir(ModDefine::DataPath, 0, &e)) {
        *error = e.toStdString();
        return false;
    }
    dbSwitch = platform::Database::open(ModDefine::DataPath + "switch.mdb");
    dbPhoneCur = dbSwitch.attach(ModDefine::DataPath + "PhoneCur.mdb", "phonecur");
    return true;
}

void closeStation() {
    dbPhoneCur.close();
    dbSwitch.close();
    dbSwitch = {};
    dbPhoneCur = {};
}

// `yearFile`, when given, is copied in first as the year's archive.
void archive(benchmark::State& state, qint64 n, const QString& start, qint64 spanSecs, const QString& yearFile = {}) {
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir root;
        std::string error;
        if (!openStation(root, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        if (!yearFile.isEmpty()) QFile::copy(yearFile, ModDefine::DataPath + "PhBill_2026.mdb");
        fill(dbPhoneCur, n, start, spanSecs);
        state.ResumeTiming();

        billing::ArchiveBills();

        state.PauseTiming();
        if (billing::LastArchiveRun().moved != n) state.SkipWithError("not every call was archived");
        closeStation();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_ArchiveDay(benchmark::State& state) { archive(state, 50000, "2026-03-05 00:00:00", 86400); }
void BM_ArchiveYear(benchmark::State& state) { archive(state, 1000000, "2026-01-01 00:00:00", 365LL * 86400); }

// The usual night: the 30th of March joins 29 days of March already archived,
// so the month table and its indexes are large already (the 29th joined the
// first 28 days as the nights do, which gives the table every index a night finds).
void BM_ArchiveDayIntoFullMonth(benchmark::State& state) {
    QTemporaryDir templ;
    std::string error;
    if (!openStation(templ, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    fill(dbPhoneCur, 28 * 50000, "2026-03-01 00:00:00", 28 * 86400);
    billing::ArchiveBills();
    fill(dbPhoneCur, 50000, "2026-03-29 00:00:00", 86400);
    billing::ArchiveBills();
    closeStation();
    const QString yearFile = templ.path() + "/PhBill_2026.mdb";
    QFile::copy(ModDefine::DataPath + "PhBill_2026.mdb", yearFile);
    archive(state, 50000, "2026-03-30 00:00:00", 86400, yearFile);
}

}  // namespace

BENCHMARK(BM_ArchiveDay)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArchiveYear)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ArchiveDayIntoFullMonth)->Unit(benchmark::kMillisecond)->Iterations(3);
