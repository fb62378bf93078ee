// Settlement over a year of archived calls: 500 users (300 deposit users, 150
// monthly users over twelve pay periods, 50 not settled) and 1,000,000 calls
// in the year's archive; the whole run with its statement table (index 3),
// then the statement filled from it. The statements run per settlement are
// counted and reported ("queries").
#include "billing/ArchiveBills.h"
#include "billing/BillingSeams.h"
#include "billing/Settlement.h"
#include "billing/frmPayfor.h"
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "platform/Db.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <sqlite3.h>

namespace {

std::unique_ptr<QTemporaryDir> g_root;
qint64 g_statements = 0;

int countStatement(unsigned, void*, void*, void*) {
    ++g_statements;
    return 0;
}

// The station once: users, a year of calls archived.
bool station(std::string* error) {
    if (g_root) return true;
    g_root = std::make_unique<QTemporaryDir>();
    ModDefine::AppPath = g_root->path() + "/";
    ModDefine::DataPath = ModDefine::AppPath + "data/";
    QString e;
    if (!core::schema::WriteFreshDataDir(ModDefine::DataPath, 0, &e)) {
        *error = e.toStdString();
        return false;
    }
    dbSwitch = platform::Database::open(ModDefine::DataPath + "switch.mdb");
    dbPhoneCur = dbSwitch.attach(ModDefine::DataPath + "PhoneCur.mdb", "phonecur");
    dbSwitch.execute(
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM s WHERE i < 500) "
        "INSERT OR REPLACE INTO user (userid, username, balancemode, lastdate, rent) "
        "SELECT i, 'user' || i, CASE WHEN i <= 300 THEN 0 WHEN i <= 450 THEN 1 ELSE 2 END, '2025-01-01 00:00:00', 150000 FROM s");
    // Calls spread over 2025: every user, extensions and accounts, every category.
    dbPhoneCur.execute(
        "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i < 999999) "
        "INSERT INTO Tab_Phone (f_calladdr, f_date, f_long, f_moneny, f_zh, f_phmode, f_addfee1, f_addfee2, f_gatefee, "
        "f_linkfee, f_userid) SELECT i % 120, datetime('2025-01-01 00:00:00', '+' || (i * 31) || ' seconds'), i % 600, "
        "(i * 37) % 20000, CASE WHEN i % 5 = 0 THEN printf('%04d', 1000 + i % 500) ELSE '    ' END, i % 11, i % 100, 0, "
        "i % 7, 0, i % 500 + 1 FROM s");
    billing::ArchiveBills();
    if (billing::LastArchiveRun().moved != 1000000) {
        *error = "the year was not archived";
        return false;
    }
    return true;
}

billing::SettleOptions options() {
    billing::SettleOptions o;
    o.index = 3;
    o.categories = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    o.manualStart = QDateTime(QDate(2025, 1, 1), QTime(0, 0));
    o.manualEnd = QDateTime(QDate(2026, 1, 1), QTime(0, 0));
    o.payDay = 1;
    return o;
}

void BM_SettleYear(benchmark::State& state) {
    std::string error;
    if (!station(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    qint64 rows = 0;
    for (auto _ : state) {
        g_statements = 0;
        sqlite3_trace_v2(dbSwitch.raw(), SQLITE_TRACE_STMT, countStatement, nullptr);
        const billing::SettleResult r = billing::RunSettlement(options());
        sqlite3_trace_v2(dbSwitch.raw(), 0, nullptr, nullptr);
        if (!r.ok) {
            state.SkipWithError(r.error.toStdString().c_str());
            return;
        }
        rows = r.lines.size();
    }
    state.counters["user_rows"] = static_cast<double>(rows);
    state.counters["queries"] = static_cast<double>(g_statements);
}

void BM_Statement(benchmark::State& state) {
    std::string error;
    if (!station(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    if (!billing::RunSettlement(options()).ok) {
        state.SkipWithError("settlement failed");
        return;
    }
    billing::testing::Seams s;
    s.printGrid = [](platform::FlexGrid&, const QString&) {};
    billing::testing::setSeams(s);
    for (auto _ : state) frmPayfor::instance().ShowMode(2);
    state.counters["rows"] = frmPayfor::instance().fgUser->Rows() - 1;
    frmPayfor::unload();
    billing::testing::setSeams({});
}

}  // namespace

BENCHMARK(BM_SettleYear)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Statement)->Unit(benchmark::kMillisecond)->Iterations(5);
