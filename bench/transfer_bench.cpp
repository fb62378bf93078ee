// A 512-row city-head download against the switch simulator on a pseudo-terminal.
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/Schema.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/Comm.h"
#include "sim/Switch.h"
#include "core/Console.h"
#include "core/Deposit.h"
#include "platform/FlexGrid.h"
#include "platform/StatusBar.h"
#include "transfer/ModToolbar.h"
#include "transfer/Upload.h"

#include "BenchSimLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <ctime>

namespace {

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// How the simulated switch answers the rows of a download.
enum AckMode {
    kAtOnce = 0,         // at once, never twice
    kLate30 = 1,         // every answer 30 ms late, never twice (a reply rule of the simulator)
    kLateRandom = 2,     // every acknowledgement 10-60 ms late, never twice
    kLateRepeated = 3,   // every acknowledgement 10-60 ms late and again 20 ms after
    kLostUnderRepeats = 4,// the same, and the answer of the 300th row lost each time (the row taken)
};

// Rows per second of the whole road (the station, the line and the switch's
// answer), and the station's own share: the CPU time of the station's thread
// per row, the waits for the acknowledgement left out. The second iteration
// runs on the link the first taught.
void CityHeadDownload(benchmark::State& state) {
    const int rows = int(state.range(0));
    const int mode = int(state.range(1));
    QTemporaryDir dir;
    core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
    dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
    WorkerRights = QStringList{QStringLiteral("0")};
    {
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < rows; ++i)
            dbSwitch.execute("insert into CityHead values(?, ?, 8, 0, 1, ?, 1)",
                             {QStringLiteral("%1").arg(10000 + i), i % 30, i % 512});
        tx.commit();
    }
    SimLink link;
    sim::Switch& sw = link.sw;
    if (!sw.openPty()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    if (!link.connect()) {
        state.SkipWithError("the simulator did not answer");
        return;
    }
    if (mode == kLate30) {
        sw.setDefaultReply(sim::Reply::Late);
        sw.setLateReplyMs(30);
    } else if (mode == kLateRandom) {
        sw.setAckTiming(10, 60, 0.0, 0, 0);
    } else if (mode == kLateRepeated || mode == kLostUnderRepeats) {
        sw.setAckTiming(10, 60, 1.0, 20, 20);
    }
    g_NoAnswerCount = 0;
    CurTable = QStringLiteral("CityHead");
    double cpu = 0;
    for (auto _ : state) {
        if (mode == kLostUnderRepeats) sw.addRule("860B", sim::Reply::LostAck, 1, 299);
        const double c0 = threadCpuMs();
        ModToolbar::DownTable(9);
        cpu += threadCpuMs() - c0;
        state.PauseTiming();
        if (dbSwitch.scalar("select count(*) from CityHead where bSet<>0").toInt() != 0)
            state.SkipWithError("rows left pending");
        dbSwitch.execute("update CityHead set bSet=1");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["station_cpu_ms_per_row"] = cpu / double(state.iterations() * rows);
    state.counters["repeats"] = sw.repeatsWritten();
    // Downloads whose answers did not pair one to one with the rows, read back.
    state.counters["read_backs"] = double(sw.receivedWith(QStringLiteral("810381")).size());
    link.disconnect();
    dbSwitch.close();
}
BENCHMARK(CityHeadDownload)
    ->Args({512, kAtOnce})
    ->Args({512, kLate30})
    ->Args({512, kLateRandom})
    ->Args({512, kLateRepeated})
    ->Args({512, kLostUnderRepeats})
    ->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

namespace {

// For comparison: the flags of 512 rows cleared one durable write a row, as
// a download that wrote each acknowledgement at once would.
void CityHeadFlagUpdates(benchmark::State& state) {
    QTemporaryDir dir;
    core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
    dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
    for (int i = 0; i < 512; ++i)
        dbSwitch.execute("insert into CityHead values(?, 1, 8, 0, 1, 2, 1)", {QStringLiteral("%1").arg(10000 + i)});
    for (auto _ : state)
        for (int i = 0; i < 512; ++i)
            dbSwitch.execute("update CityHead set bSet=0 where HeadID=?", {QStringLiteral("%1").arg(10000 + i)});
    state.SetItemsProcessed(state.iterations() * 512);
    dbSwitch.close();
}
BENCHMARK(CityHeadFlagUpdates)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

namespace {

// The console the upload view is shown in.
class BenchConsole : public core::Console {
public:
    BenchConsole() {
        fgDisp = new platform::FlexGrid(&window);
        sbrInfo = new platform::StatusBar(5, &window);
        core::RegisterConsole(this);
    }
    ~BenchConsole() override { core::UnregisterConsole(this); }
    QWidget* ConsoleWidget() override { return &window; }
    void Form_Load() override {}
    bool NotExit(int) override { return true; }
    [[noreturn]] void CloseApp() override { std::abort(); }
    void picRun_DblClick() override {}
    bool ShowView(const QString&) override { return false; }
    QWidget window;
};

// 512 city heads read back from the simulator into the shadow table and shown
// in the upload view: rows per second of the whole road, and the station's
// own CPU time per row (the waits for the switch left out).
void CityHeadUpload(benchmark::State& state) {
    const int rows = int(state.range(0));
    QTemporaryDir dir;
    core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
    dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
    WorkerRights = QStringList{QStringLiteral("0")};
    SimLink link;
    sim::Switch& sw = link.sw;
    if (!sw.openPty()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    for (int i = 0; i < rows; ++i) {
        QByteArray row = QByteArray::fromHex("860B01") + QByteArray::fromHex(QByteArray::number(10000 + i)) +
                         QByteArray::fromHex("FF0800010" + QByteArray::number(i % 10));
        sw.setRow(sim::tables::CityHead, i, row);
    }
    if (!link.connect()) {
        state.SkipWithError("the simulator did not answer");
        return;
    }
    g_NoAnswerCount = 0;
    BenchConsole console;
    CurTable = QStringLiteral("CityHead");
    double cpu = 0;
    for (auto _ : state) {
        const double c0 = threadCpuMs();
        ModToolbar::UpLoadOrVerifyTable(false);
        cpu += threadCpuMs() - c0;
        // The switch closes its stream with "810300" after the last counted
        // row. The console's idle loop takes that frame between two commands;
        // here the next upload would take it for its answer and read nothing.
        state.PauseTiming();
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < 200) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        state.ResumeTiming();
    }
    if (dbSwitch.rowCount(QStringLiteral("pCityHead")) != rows || console.fgDisp->Rows() != rows + 1)
        state.SkipWithError("not every row arrived");
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["station_cpu_ms_per_row"] = cpu / double(state.iterations() * rows);
    link.disconnect();
    dbSwitch.close();
}
BENCHMARK(CityHeadUpload)->Arg(512)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

namespace {

// What 保存 of the user view sends once its rows are written: the download of
// each user waiting for one (their deposit grade, accounts and extensions), as
// the save's last loop runs it, 399 users of 20,000, each owning one account
// or extension, against the simulator answering at once.
void UserSaveDownloads(benchmark::State& state) {
    constexpr int kUsers = 20000;
    constexpr int kPending = 399;
    QTemporaryDir dir;
    core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
    dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
    WorkerRights = QStringList{QStringLiteral("0")};
    {
        platform::Transaction tx(dbSwitch);
        for (int i = 1; i <= kUsers; ++i)
            dbSwitch.execute("insert into user (userid, username, lastdate, balancemode, deposit, remain, bset) "
                             "values(?, ?, '2026-01-01 00:00:00', 1, 0, 0, ?)",
                             {i, QStringLiteral("用户%1").arg(i), i % 50 == 0 && i / 50 <= kPending});
        for (int k = 1; k <= kPending; ++k) {
            if (k <= 120) dbSwitch.execute("update extension set userid=? where address=?", {50 * k, k - 1});
            else dbSwitch.execute("update account set userid=? where address=?", {50 * k, 2048 + k - 121});
        }
        tx.commit();
    }
    SimLink link;
    if (!link.sw.openPty()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    if (!link.connect()) {
        state.SkipWithError("the simulator did not answer");
        return;
    }
    g_NoAnswerCount = 0;
    bool all = true;
    for (auto _ : state) {
        platform::Recordset rs = dbSwitch.query("select userid from user where bset<>0");
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) all = ModGeneral::CheckDeposit(rs.lng("userid"), true, true) && all;
    }
    if (!all) state.SkipWithError("a user's download failed");
    state.SetItemsProcessed(state.iterations() * kPending);
    link.disconnect();
    dbSwitch.close();
}
BENCHMARK(UserSaveDownloads)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
