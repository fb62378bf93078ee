// The database window's copies: backing up a year archive of 1,000,000 calls
// while the station keeps storing call records (throughput, and the longest
// time the window's events wait), and restoring "Switch.mdb" with five year
// archives of that size through the window's restore.
#include "admin/Restore.h"
#include "admin/frmDBManager.h"
#include "BenchStation.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"
#include "core/Schema.h"
#include "platform/DbCopy.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int kYears = 5;
constexpr qint64 kCallsPerYear = 1000000;

// A station with one year archive of 1,000,000 calls (twelve month tables) and
// a backup folder holding its "Switch.mdb" and five such archives.
struct Station {
    QTemporaryDir root;
    QString year, backup;
    bool ok = false;
    std::string error;
    Station() {
        ModDefine::AppPath = root.path() + "/";
        ModDefine::DataPath = ModDefine::AppPath + "data/";
        QString e;
        if (!core::schema::WriteFreshDataDir(ModDefine::DataPath, 0, &e)) {
            error = e.toStdString();
            return;
        }
        ModSwitch::OpenAllDB(true);
        const QString def = platform::Database::open(ModDefine::DataPath + "PhoneCur.mdb")
                                .scalar("SELECT sql FROM sqlite_master WHERE name='Tab_Phone'")
                                .toString();
        if (def.isEmpty()) {
            error = "no Tab_Phone";
            return;
        }
        year = ModDefine::DataPath + "PhBill_2025.mdb";
        {
            platform::Database y = platform::Database::create(year);
            platform::Transaction tx(y);
            for (int m = 1; m <= 12; ++m) {
                const qint64 n = kCallsPerYear / 12 + (m <= kCallsPerYear % 12 ? 1 : 0);
                y.execute(QString("CREATE TABLE Tab_Ph%1 %2").arg(m).arg(def.mid(def.indexOf('('))));
                y.execute(QString("WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i<?2-1) "
                                  "INSERT INTO Tab_Ph%1 (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, "
                                  "f_userid) SELECT i % 120, i % 16, printf('2025-%02d-%02d 08:00:00', ?1, 1 + i % 28), "
                                  "i % 900, (i*37) % 20000, printf('0%d', 10000000 + i % 9000000), '    ', 1 + i % 500 "
                                  "FROM s")
                              .arg(m),
                          {m, n});
                y.execute(QString("CREATE INDEX ix_Tab_Ph%1 ON Tab_Ph%1 (f_userid, f_date)").arg(m));
            }
            tx.commit();
        }
        backup = ModDefine::AppPath + "backup/";
        QDir().mkpath(backup);
        bool copied = QFile::copy(ModDefine::DataPath + "switch.mdb", backup + "Switch.mdb");
        for (int k = 0; k < kYears; ++k) copied = copied && QFile::copy(year, backup + QString("PhBill_%1.mdb").arg(2021 + k));
        if (!copied) {
            error = "copy failed";
            return;
        }
        platform::script::enable();
        ModDefine::WorkerRights = QStringList{"0"};
        ok = true;
    }
};

Station& station() {
    static std::unique_ptr<Station> s(new Station);
    return *s;
}

// The longest wait of window events: the gaps between the firings of a timer
// that fires whenever events are handled; and the same less the time the
// station's own work took inside the gap (storing a record waits for the disk,
// copy or not), which is what the copy itself holds the events.
class BlockedMeter {
public:
    BlockedMeter() {
        probe_.setInterval(0);
        QObject::connect(&probe_, &QTimer::timeout, [this] { lap(); });
    }
    void start() {
        longest_ = longestHeld_ = excluded_ = 0;
        clock_.start();
        probe_.start();
    }
    qint64 stop() {
        lap();
        probe_.stop();
        return longest_;
    }
    qint64 longestHeld() const { return longestHeld_; }
    void exclude(qint64 ms) { excluded_ += ms; }

private:
    void lap() {
        const qint64 gap = clock_.restart();
        longest_ = qMax(longest_, gap);
        longestHeld_ = qMax(longestHeld_, gap - excluded_);
        excluded_ = 0;
    }
    QTimer probe_;
    QElapsedTimer clock_;
    qint64 longest_ = 0, longestHeld_ = 0, excluded_ = 0;
};

void BM_BackupYearArchiveWhileStoring(benchmark::State& state) {
    Station& s = station();
    if (!s.ok) return state.SkipWithError(s.error.c_str());
    const QString target = s.root.path() + "/copy/PhBill_2025.mdb";
    QDir().mkpath(QFileInfo(target).path());
    // Call records stored as the switch sends them, one every 10 ms.
    BlockedMeter meter;
    QTimer storing;
    storing.setInterval(10);
    qint64 stored = 0, longestStore = 0;
    QObject::connect(&storing, &QTimer::timeout, [&] {
        QElapsedTimer st;
        st.start();
        testsupport::storeCall(dbPhoneCur, {.calladdr = 5, .zjaddr = 3, .date = "2026-06-15 10:00:00", .secs = 65,
                                            .fee = platform::Currency::fromRaw(120), .resp = "88001234", .zh = "    ",
                                            .userid = 7});
        ++stored;
        longestStore = qMax(longestStore, st.elapsed());
        meter.exclude(st.elapsed());
    });
    qint64 blocked = 0, held = 0, bytes = 0, ms = 0, longestStep = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(target);
        state.ResumeTiming();
        QElapsedTimer t;
        t.start();
        storing.start();
        meter.start();
        QString error;
        platform::StepCopyStats stats;
        const bool ok = platform::CopyDatabaseStepwise(s.year, target, dbSwitch, &error, &stats);
        blocked = qMax(blocked, meter.stop());
        held = qMax(held, meter.longestHeld());
        storing.stop();
        ms += t.elapsed();
        if (!ok) return state.SkipWithError(error.toUtf8().constData());
        bytes += QFileInfo(target).size();
        longestStep = qMax(longestStep, stats.longestStepMs);
    }
    state.counters["MB_per_s"] = ms > 0 ? double(bytes) / (1024.0 * 1024.0) / (double(ms) / 1000.0) : 0;
    state.counters["file_MB"] = double(QFileInfo(s.year).size()) / (1024.0 * 1024.0);
    state.counters["longest_blocked_ms"] = double(blocked);
    state.counters["longest_held_by_copy_ms"] = double(held);
    state.counters["longest_step_ms"] = double(longestStep);
    state.counters["records_stored"] = double(stored);
    state.counters["longest_store_ms"] = double(longestStore);
}

void BM_RestoreStationAndFiveYears(benchmark::State& state) {
    Station& s = station();
    if (!s.ok) return state.SkipWithError(s.error.c_str());
    frmDBManager& w = frmDBManager::instance();
    for (auto _ : state) {
        w.opt_Click(2);
        w.txtPath->setText(s.backup);
        w.tvwDB->topLevelItem(0)->setCheckState(0, Qt::Checked);
        platform::script::answer("数据恢复成功", platform::rOK);
        w.cmd_Click(1);
        if (platform::script::pendingAnswers() != 0) return state.SkipWithError("the restore did not succeed");
    }
    // Of which the examination of the six sources, side by side before anything is closed
    // (the window's events go on meanwhile).
    QElapsedTimer t;
    t.start();
    admin::CheckRestoreSources(admin::RestorePairs(s.backup, ModDefine::DataPath, true, true));
    state.counters["checks_ms"] = double(t.elapsed());
    state.counters["files"] = 1 + kYears;
    state.counters["total_MB"] =
        double(QFileInfo(s.backup + "Switch.mdb").size() + kYears * QFileInfo(s.year).size()) / (1024.0 * 1024.0);
    frmDBManager::unload();
}

// 数据库管理's restore of a year file of 1,000,000 calls (a backup taken by
// this version, its month tables with the key index) over the station's own
// year file holding the same calls and 1,000 archived since: the station's
// file with (1) or without (0: as an older release made its month tables)
// the key index; and (2) without it and (3) with it, with the first 10 calls
// of every month deleted by the operator since the backup (the backup's
// pages holding them differ from the station's: those rows are put back in
// the station's file). Against copying the
// backup's file and syncing it, the restore's first step alone. "ratio": the
// restore's time over the copy's.
void BM_RestoreYearFile(benchmark::State& state) {
    Station& s = station();
    if (!s.ok) return state.SkipWithError(s.error.c_str());
    const int mode = int(state.range(0));
    const QString folder = s.root.path() + "/yearbackup/";
    const QString keyed = folder + "PhBill_2025.mdb";
    const QString stationYear = s.root.path() + QString("/station-%1.mdb").arg(mode);
    // The station's year file as it was made (the restores of the benchmarks
    // before replace it): the backup folder's first year is a copy.
    const QString made = s.backup + "PhBill_2021.mdb";
    if (!QFile::exists(keyed)) {
        QDir().mkpath(folder);
        if (!QFile::copy(s.backup + "Switch.mdb", folder + "Switch.mdb") || !QFile::copy(made, keyed))
            return state.SkipWithError("copy failed");
        // The indexes this version gives a month table, under their names.
        platform::Database y = platform::Database::open(keyed);
        for (int m = 1; m <= 12; ++m) {
            y.execute(QString("DROP INDEX ix_Tab_Ph%1").arg(m));
            y.execute(QString("CREATE INDEX ix_Tab_Ph%1_user_date ON Tab_Ph%1 (f_userid, f_date)").arg(m));
            y.execute(QString("CREATE INDEX ix_Tab_Ph%1_calladdr_date ON Tab_Ph%1 (f_calladdr, f_date)").arg(m));
        }
    }
    if (!QFile::exists(stationYear)) {
        if (!QFile::copy(keyed, stationYear)) return state.SkipWithError("copy failed");
        platform::Database y = platform::Database::open(stationYear);
        for (int m = 1; m <= 12; ++m) {
            if (mode == 0 || mode == 2) y.execute(QString("DROP INDEX ix_Tab_Ph%1_calladdr_date").arg(m));
            if (mode >= 2) y.execute(QString("DELETE FROM Tab_Ph%1 WHERE rowid<=10").arg(m));
        }
        y.execute("INSERT INTO Tab_Ph12 (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, f_userid) "
                  "SELECT f_calladdr, f_zjaddr, replace(f_date, '08:00:00', '20:00:00'), f_long, f_moneny, f_resp, f_zh, "
                  "f_userid FROM Tab_Ph12 LIMIT 1000");
    }
    const QString target = ModDefine::DataPath + "PhBill_2025.mdb";
    const QString copyTarget = s.root.path() + "/copied.mdb";
    qint64 restoreMs = 0, copyMs = 0, kept = -1, held = -1;
    for (auto _ : state) {
        state.PauseTiming();
        ModSwitch::OpenAllDB(false);
        QFile::remove(target);
        QFile::remove(copyTarget);
        if (!QFile::copy(stationYear, target)) return state.SkipWithError("copy failed");
        // The baseline: the backup's file copied beside and synced.
        QElapsedTimer c;
        c.start();
        const bool copied = QFile::copy(keyed, copyTarget) && platform::syncFile(copyTarget);
        copyMs += c.elapsed();
        if (!copied) return state.SkipWithError("copy failed");
        state.ResumeTiming();
        QElapsedTimer r;
        r.start();
        QString failed;
        const bool ok = admin::ReplaceFiles({{keyed, target}}, &failed);
        restoreMs += r.elapsed();
        state.PauseTiming();
        if (!ok) return state.SkipWithError(failed.toUtf8().constData());
        kept = platform::Database::openReadOnly(target).rowCount("Tab_Ph12") - platform::Database::openReadOnly(keyed).rowCount("Tab_Ph12");
        // Every call of the backup and every one archived since: 1,001,000.
        held = 0;
        for (int m = 1; m <= 12; ++m) held += platform::Database::openReadOnly(target).rowCount(QString("Tab_Ph%1").arg(m));
        admin::ForgetRestoreNotice(ModDefine::DataPath);
        ModSwitch::OpenAllDB(true);
        state.ResumeTiming();
    }
    const double n = double(state.iterations());
    state.counters["restore_ms"] = double(restoreMs) / n;
    state.counters["copy_ms"] = double(copyMs) / n;
    state.counters["ratio"] = copyMs > 0 ? double(restoreMs) / double(copyMs) : 0;
    state.counters["calls_kept"] = double(kept);
    state.counters["calls_held"] = double(held);
    state.counters["file_MB"] = double(QFileInfo(keyed).size()) / (1024.0 * 1024.0);
}

}  // namespace

BENCHMARK(BM_BackupYearArchiveWhileStoring)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RestoreStationAndFiveYears)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RestoreYearFile)->Arg(1)->Arg(0)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(3);
