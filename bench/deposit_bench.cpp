// 104 deposit changes of +1.00 downloaded to the switch simulator on a
// pseudo-terminal whose switch acknowledges each change 20 ms after it came and
// never twice: what a change of money costs on a clean line; and the same
// line repeating every acknowledgement 20 ms after it.
#include "core/ModDefine.h"
#include "core/ModUpgrade.h"
#include "core/Schema.h"
#include "core/Settings.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/Comm.h"
#include "sim/RowFrames.h"
#include "sim/Switch.h"
#include "transfer/ModToolbar.h"

#include "BenchSimLink.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

void DepositChanges(benchmark::State& state) {
    const int changes = int(state.range(0));
    QTemporaryDir dir;
    core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
    dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
    WorkerID = QStringLiteral("0000");
    WorkerRights = QStringList{QStringLiteral("0")};
    ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDeposit"), false);
    ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDepositHistory"), false);
    const auto pend = [changes] {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute("delete from ExtDeposit");
        dbSwitch.execute("delete from ExtDepositHistory");
        for (int a = 0; a < changes; ++a)
            dbSwitch.execute("insert into ExtDeposit(Address,ChangeValue,bSet) values(?,?,1)",
                             {a, platform::Currency::parse(QStringLiteral("1.00"))->toVariant()});
        tx.commit();
    };
    pend();

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
    // Each change acknowledged 20 ms after it came, never twice (or each
    // acknowledgement once more 20 ms after); the deposit question answered at once.
    if (state.range(1) == 0) {
        sw.setLateReplyMs(20);
        sw.addRule(QStringLiteral("A507"), sim::Reply::Late, -1);
    } else {
        sw.setAckTiming(20, 20, 1.0, 20, 20);
    }
    g_NoAnswerCount = 0;
    CurTable = QStringLiteral("ExtDeposit");
    for (auto _ : state) {
        ModToolbar::DownTable(31);
        state.PauseTiming();
        if (dbSwitch.scalar("select count(*) from ExtDeposit where bSet<>0 or ChangeValue<>0").toInt() != 0)
            state.SkipWithError("changes left pending");
        if (dbSwitch.scalar("select count(*) from ExtDepositHistory").toInt() != changes)
            state.SkipWithError("a change missing in the history");
        pend();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * changes);
    // Every change went once an iteration: the switch holds the sum.
    const auto held = sim::decodeExtDeposit(sw.row(sim::tables::ExtDeposit, 0).value_or(QByteArray()));
    state.counters["fen_at_switch_ext0"] = held ? double(held->fen) : -1.0;
    link.disconnect();
    dbSwitch.close();
}
BENCHMARK(DepositChanges)->Args({104, 0})->Args({104, 1})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
