// The console grid: loading large table views (and reading one whole), a
// 100,000-row fill with Redraw off (time and heap), and one bill row appended
// to the live bill view.
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "params/ShowTable.h"
#include "platform/FlexGrid.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <memory>

namespace {

// A station whose user table holds `rows` users, every `pendingEvery`-th
// waiting for its download.
struct Station {
    explicit Station(int rows, int pendingEvery = 50) {
        core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
        dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < rows; ++i)
            dbSwitch.execute("insert into user (userid, username, lastdate, balancemode, deposit, remain, bset) "
                             "values(?, ?, '2026-01-01 00:00:00', ?, ?, ?, ?)",
                             {i, QStringLiteral("用户%1").arg(i), i % 3, platform::Currency::fromYuan(i),
                              platform::Currency::fromRaw(i * 37), i % pendingEvery == 0});
        tx.commit();
    }
    ~Station() { dbSwitch.close(); }
    QTemporaryDir dir;
};

const char* const kUserHeader =
    ">用户编号|>用户名称    |>上次结算日期        |>结算方式   |预付押金  |押金余额  |>透支额    |"
    ">月租费    |>所属部门   |>打印即时话单|>闭锁";

const char* const kBillHeader =
    "<主叫名称|>主叫分机|^帐号|对方号码         |<地名    |>通话日期            |>通话时长 |>帐户余额|<话单类型|>总话费  "
    "|>基本费  |>附加费1|>附加费2|>手续费|>IP接入费|>中继号|>间接局";

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

// The view as the operator gets it: loaded into the console on screen and painted.
void showPainted(benchmark::State& state, const char* sql, int pendingEvery = 50) {
    Station station(static_cast<int>(state.range(0)), pendingEvery);
    CurTable = "User";
    frmPABX& console = frmPABX::instance();
    console.show();
    platform::FlexGrid& grid = *console.fgDisp;
    QApplication::processEvents();
    for (auto _ : state) {
        ModGeneral::ShowTable(grid, sql, kUserHeader, 0, 2, true);
        grid.repaint();
        QApplication::processEvents();
        benchmark::DoNotOptimize(grid.Rows());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    frmPABX::unload();
}
void ShowUsersPainted(benchmark::State& state) { showPainted(state, "select * from User"); }
BENCHMARK(ShowUsersPainted)->Arg(19999)->Unit(benchmark::kMillisecond);
// With the order the console's 用户管理 asks for (by the user's number, through its index).
void ShowUserViewPainted(benchmark::State& state) { showPainted(state, "select * from User order by userid"); }
BENCHMARK(ShowUserViewPainted)->Arg(19999)->Unit(benchmark::kMillisecond);
// Every user waiting for its download: every row coloured.
void ShowUsersAllPendingPainted(benchmark::State& state) { showPainted(state, "select * from User", 1); }
BENCHMARK(ShowUsersAllPendingPainted)->Arg(19999)->Unit(benchmark::kMillisecond);

// The view loaded, then every cell read once, as a find, a print or an
// export of the whole grid reads it.
void LoadUsersReadWhole(benchmark::State& state) {
    Station station(static_cast<int>(state.range(0)));
    CurTable = "User";
    platform::FlexGrid& grid = *frmPABX::instance().fgDisp;
    qint64 chars = 0;
    for (auto _ : state) {
        ModGeneral::ShowTable(grid, "select * from User", kUserHeader, 0, 2, true);
        for (int r = 1; r < grid.Rows(); ++r)
            for (int c = 0; c < grid.Cols(); ++c) chars += grid.TextMatrix(r, c).size();
    }
    benchmark::DoNotOptimize(chars);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    frmPABX::unload();
}
BENCHMARK(LoadUsersReadWhole)->Arg(19999)->Unit(benchmark::kMillisecond);

size_t heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// 100,000 rows of 17 columns written cell by cell, column after column as the
// view loader writes them, with Redraw off; the heap the filled grid holds.
void Fill100kRedrawOff(benchmark::State& state) {
    constexpr int kRows = 100000, kCols = 17;
    QStringList samples;
    for (int i = 0; i < 97; ++i) samples << QStringLiteral("%1.%2").arg(i * 7919 % 100000).arg(i % 100, 2, 10, QLatin1Char('0'));
    double heapMB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        const size_t before = heapInUse();
        auto grid = std::make_unique<platform::FlexGrid>();
        grid->setFormatString(QString::fromUtf8(kBillHeader));
        state.ResumeTiming();
        grid->setRedraw(false);
        grid->setRows(kRows + 1);
        if (state.range(0) == 0) {
            for (int c = 0; c < kCols; ++c)
                for (int r = 1; r <= kRows; ++r) grid->setTextMatrix(r, c, samples[(r + c) % samples.size()]);
        } else {
            for (int r = 1; r <= kRows; ++r)
                for (int c = 0; c < kCols; ++c) grid->setTextMatrix(r, c, samples[(r + c) % samples.size()]);
        }
        grid->setRedraw(true);
        state.PauseTiming();
        heapMB = double(heapInUse() - before) / (1024.0 * 1024.0);
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["heap_MB"] = heapMB;
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(Fill100kRedrawOff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same rows added as Tab-separated lines, as a bill query appends them.
void AddItem100kRedrawOff(benchmark::State& state) {
    constexpr int kRows = 100000;
    QStringList lines;
    for (int i = 0; i < 101; ++i) {
        QStringList cells;
        for (int c = 0; c < 17; ++c) cells << QStringLiteral("%1.%2").arg((i * 31 + c) * 7919 % 100000).arg(c, 2, 10, QLatin1Char('0'));
        lines << cells.join('\t');
    }
    double heapMB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        const size_t before = heapInUse();
        auto grid = std::make_unique<platform::FlexGrid>();
        grid->setFormatString(QString::fromUtf8(kBillHeader));
        grid->setRows(1);
        state.ResumeTiming();
        grid->setRedraw(false);
        for (int r = 0; r < kRows; ++r) grid->AddItem(lines[r % lines.size()]);
        grid->setRedraw(true);
        state.PauseTiming();
        heapMB = double(heapInUse() - before) / (1024.0 * 1024.0);
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["heap_MB"] = heapMB;
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(AddItem100kRedrawOff)->Unit(benchmark::kMillisecond)->Iterations(5);

// One stored call appended to the 200-row bill view on screen, and the oldest
// row removed, as the live bill view does for every call.
void BillRowAppend(benchmark::State& state) {
    QWidget window;
    auto* grid = new platform::FlexGrid(&window);
    window.resize(1000, 600);
    grid->resize(1000, 600);
    window.show();
    grid->setFormatString(QString::fromUtf8(kBillHeader));
    grid->setRows(1);
    QStringList cells = {"用户", "801", "0001", "01012345678", "北京", "2026-12-07 10:11:12", "00:03:05", "123.40",
                         "长途", "1.20", "1.00", "0.10", "0.05", "0.05", "0.00", "3", ""};
    for (int i = 0; i < 200; ++i) grid->AddItem(cells.join('\t'));
    QApplication::processEvents();
    int n = 0;
    for (auto _ : state) {
        cells[5] = QStringLiteral("2026-12-07 10:%1:%2").arg(n / 60 % 60, 2, 10, QLatin1Char('0')).arg(n % 60, 2, 10, QLatin1Char('0'));
        ++n;
        grid->AddItem(cells.join('\t'));
        if (grid->Rows() >= 201) grid->RemoveItem(1);
        grid->setTopRow(grid->Rows() - 1);
        if (n % 64 == 0) {
            state.PauseTiming();
            QApplication::processEvents();   // the paints the loop would have done meanwhile
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(n);
}
BENCHMARK(BillRowAppend)->Unit(benchmark::kMicrosecond);

}  // namespace
