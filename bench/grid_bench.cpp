// Loading a large table view into the console grid.
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "params/ShowTable.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

// A station whose user table holds `rows` users.
struct Station {
    explicit Station(int rows) {
        core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
        dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < rows; ++i)
            dbSwitch.execute("insert into user (userid, username, lastdate, balancemode, deposit, remain, bset) "
                             "values(?, ?, '2026-01-01 00:00:00', ?, ?, ?, ?)",
                             {i, QStringLiteral("用户%1").arg(i), i % 3, platform::Currency::fromYuan(i),
                              platform::Currency::fromRaw(i * 37), i % 50 == 0});
        tx.commit();
    }
    ~Station() { dbSwitch.close(); }
    QTemporaryDir dir;
};

const char* const kUserHeader =
    ">用户编号|>用户名称    |>上次结算日期        |>结算方式   |预付押金  |押金余额  |>透支额    |"
    ">月租费    |>所属部门   |>打印即时话单|>闭锁";

// The view replaces the same view shown before (its cells are dropped first).
void LoadUsers(benchmark::State& state) {
    Station station(static_cast<int>(state.range(0)));
    CurTable = "User";
    platform::FlexGrid& grid = *frmPABX::instance().fgDisp;
    for (auto _ : state) {
        ModGeneral::ShowTable(grid, "select * from User", kUserHeader, 0, 2, true);
        benchmark::DoNotOptimize(grid.Rows());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    frmPABX::unload();
}
BENCHMARK(LoadUsers)->Arg(10000)->Arg(19999)->Unit(benchmark::kMillisecond);

// The view shown in a grid that held a small view before.
void LoadUsersAfterSmallView(benchmark::State& state) {
    Station station(static_cast<int>(state.range(0)));
    CurTable = "User";
    platform::FlexGrid& grid = *frmPABX::instance().fgDisp;
    for (auto _ : state) {
        state.PauseTiming();
        grid.setRows(2);
        state.ResumeTiming();
        ModGeneral::ShowTable(grid, "select * from User", kUserHeader, 0, 2, true);
        benchmark::DoNotOptimize(grid.Rows());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    frmPABX::unload();
}
BENCHMARK(LoadUsersAfterSmallView)->Arg(10000)->Arg(19999)->Unit(benchmark::kMillisecond);

}  // namespace
