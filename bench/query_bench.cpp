// The bill query over a year of 1,000,000 archived calls of 500 users plus
// 5,000 current ones: one user's year, all users capped at the grid's limit
// with 500 summary rows, the sorts of the full grid, and the step-wise copy
// of the year file (MB/s and the longest step).
#include "BenchCleanup.h"
#include "billing/ArchiveBills.h"
#include "billing/frmRecord.h"
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "platform/DbCopy.h"
#include "platform/Prompts.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

struct Station {
    QTemporaryDir root;
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
        dbSwitch = platform::Database::open(ModDefine::DataPath + "switch.mdb");
        dbPhoneCur = dbSwitch.attach(ModDefine::DataPath + "PhoneCur.mdb", "phonecur");
        dbSwitch.execute("WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM s WHERE i<500) "
                         "INSERT OR REPLACE INTO user (userid, username, balancemode) SELECT i, '用户' || i, i % 3 FROM s");
        fill(1000000, "2025-01-01 00:00:00", 365LL * 86400);
        billing::ArchiveBills();
        fill(5000, "2025-12-31 00:00:00", 80000);
        ok = billing::LastArchiveRun().moved == 1000000;
        if (!ok) error = "the year was not archived";
        platform::script::enable();
    }
    static void fill(qint64 n, const QString& start, qint64 span) {
        dbPhoneCur.execute(
            "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i<?3-1) "
            "INSERT INTO Tab_Phone (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, f_indjh, f_phmode, "
            "f_addfee1, f_addfee2, f_gatefee, f_linkfee, f_memo, f_userid, f_yj) "
            "SELECT i % 120, i % 16, datetime(?1, '+' || (i*?2/?3) || ' seconds'), i % 900, (i*37) % 20000, "
            "printf('0%d', 10000000 + i % 9000000), '    ', '', i % 11, 0, 0, (i*7) % 300, 0, '本地', 1 + i % 500, 0 FROM s",
            {start, span, n});
    }
};

// Made at first use; the window and the station go while the application
// still lives (a window deleted after it crashes the program at exit).
Station& station() {
    static std::unique_ptr<Station> s;
    if (!s) {
        s = std::make_unique<Station>();
        benchcleanup::atEnd([] {
            frmRecord::unload();
            s.reset();
        });
    }
    return *s;
}

billing::BillCondition year() {
    billing::BillCondition c;
    c.start = QDateTime(QDate(2025, 1, 1), QTime(0, 0));
    c.end = QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59));
    return c;
}

void BM_OneUsersYear(benchmark::State& state) {
    if (!station().ok) return state.SkipWithError(station().error.c_str());
    billing::BillCondition c = year();
    c.ids << 42;
    for (auto _ : state) {
        frmRecord::instance().ShowBill(c, 1, QStringLiteral("用户"), {{QStringLiteral("用户42"), QStringLiteral("K42")}});
        state.counters["rows"] = frmRecord::instance().RecordRows();
    }
}
BENCHMARK(BM_OneUsersYear)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_AllUsersCapped(benchmark::State& state) {
    if (!station().ok) return state.SkipWithError(station().error.c_str());
    billing::BillCondition c = year();
    c.everyObject = true;
    QList<billing::QueryObject> names;
    for (int u = 1; u <= 500; ++u) names << billing::QueryObject{QStringLiteral("用户%1").arg(u), QStringLiteral("K%1").arg(u)};
    for (auto _ : state) {
        platform::script::answer(QStringLiteral("查询记录已到最大值"), platform::rOK);
        frmRecord::instance().ShowBill(c, 4, QStringLiteral("用户"), names);
        state.counters["rows"] = frmRecord::instance().RecordRows();
    }
}
BENCHMARK(BM_AllUsersCapped)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SortFullGrid(benchmark::State& state) {
    if (!station().ok) return state.SkipWithError(station().error.c_str());
    frmRecord& r = frmRecord::instance();
    if (r.RecordRows() < frmRecord::kMaxRows) {
        billing::BillCondition c = year();
        c.everyObject = true;
        platform::script::answer(QStringLiteral("查询记录已到最大值"), platform::rOK);
        r.ShowBill(c, 4, QStringLiteral("用户"), {{QStringLiteral("全部用户"), QStringLiteral("ALL")}});
    }
    const int col = static_cast<int>(state.range(0));
    for (auto _ : state) r.fgRecord_Click(col);
}
BENCHMARK(BM_SortFullGrid)->Arg(6)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StepwiseCopyOfTheYear(benchmark::State& state) {
    if (!station().ok) return state.SkipWithError(station().error.c_str());
    const QString source = billing::ArchivePath(2025);
    const double mb = QFileInfo(source).size() / 1e6;
    platform::StepCopyStats st;
    for (auto _ : state) {
        QString err;
        if (!platform::CopyDatabaseStepwise(source, ModDefine::DataPath + "copy.mdb", dbSwitch, &err, &st))
            return state.SkipWithError(err.toStdString().c_str());
    }
    state.counters["MB"] = mb;
    state.counters["MB/s"] = benchmark::Counter(mb * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["longest_step_ms"] = static_cast<double>(st.longestStepMs);
}
BENCHMARK(BM_StepwiseCopyOfTheYear)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
