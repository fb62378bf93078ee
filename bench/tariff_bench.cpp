// The fee-rate window over a tab of 20,000 zone codes: loading the tab into
// the grid, and a find over every ordinary rate (target: 0.5 s and 50 ms).
#include "BenchStation.h"

#include "core/frmFeeFind.h"
#include "platform/Prompts.h"
#include "pricing/frmFeeRate.h"

#include <QDialog>
#include <benchmark/benchmark.h>

namespace {

void FeeRateTabLoad(benchmark::State& state) {
    benchstation::Station station;
    WorkerRights = QStringList{"0"};
    {
        // One tab of 20,000 zone codes.
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < 20000; ++i)
            dbSwitch.execute(QStringLiteral("insert into feerate(zonecode,summary,feeratetype,feerateid) values(?,?,5,0)"),
                             {QStringLiteral("9%1").arg(i, 6, 10, QLatin1Char('0')), QStringLiteral("网间%1").arg(i)});
        tx.commit();
    }
    pricing::frmFeeRate& w = pricing::frmFeeRate::instance();
    for (auto _ : state) w.SSTab1_Click(5);
    state.counters["rows"] = w.fgFeerate->Rows() - 1;
    pricing::frmFeeRate::unload();
}
BENCHMARK(FeeRateTabLoad)->Unit(benchmark::kMillisecond);

void FeeRateFind(benchmark::State& state) {
    benchstation::Station station;
    WorkerRights = QStringList{"0"};
    platform::script::enable();
    platform::script::onModal(QStringLiteral("frmFeeFind"), [](QDialog* d) {
        auto* f = static_cast<frmFeeFind*>(d);
        f->txtFind->setText(QStringLiteral("no such place*"));
        f->cmdFind_Click();
    });
    pricing::frmFeeRate& w = pricing::frmFeeRate::instance();
    w.SSTab1->setCurrentIndex(2);
    // A text that matches nothing walks every rate.
    for (auto _ : state) w.cmdFeerate_Click(2);
    pricing::frmFeeRate::unload();
    frmFeeFind::unload();
}
BENCHMARK(FeeRateFind)->Unit(benchmark::kMillisecond);

}  // namespace
