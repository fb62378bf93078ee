// The fee-rate and IP tariff windows over a tab of 20,000 zone codes: loading
// the tab into the grid, and a find over every rate of the window (target:
// 0.5 s and 50 ms).
#include "BenchStation.h"

#include "core/frmFeeFind.h"
#include "platform/Prompts.h"
#include "pricing/frmFeeRate.h"
#include "pricing/frmIP.h"

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

// An IP rate type with 20,000 zone codes in its 网间 tab.
void AddIPZones() {
    platform::Transaction tx(dbSwitch);
    dbSwitch.execute(QStringLiteral("insert into ipfeerate values(1,'IP一','')"));
    for (int i = 0; i < 20000; ++i)
        dbSwitch.execute(QStringLiteral("insert into feerate(zonecode,summary,feeratetype,feerateid) values(?,?,5,1)"),
                         {QStringLiteral("9%1").arg(i, 6, 10, QLatin1Char('0')), QStringLiteral("网间%1").arg(i)});
    tx.commit();
}

void IPTabLoad(benchmark::State& state) {
    benchstation::Station station;
    WorkerRights = QStringList{"0"};
    AddIPZones();
    pricing::frmIP& w = pricing::frmIP::instance();
    w.SSTab1->setCurrentIndex(5);
    for (auto _ : state) w.SSTab1_Click();
    state.counters["rows"] = w.fgFeerate->Rows() - 1;
    pricing::frmIP::unload();
}
BENCHMARK(IPTabLoad)->Unit(benchmark::kMillisecond);

void IPFind(benchmark::State& state) {
    benchstation::Station station;
    WorkerRights = QStringList{"0"};
    AddIPZones();
    platform::script::enable();
    platform::script::onModal(QStringLiteral("frmFeeFind"), [](QDialog* d) {
        auto* f = static_cast<frmFeeFind*>(d);
        f->txtFind->setText(QStringLiteral("no such place*"));
        f->cmdFind_Click();
    });
    pricing::frmIP& w = pricing::frmIP::instance();
    // A text that matches nothing walks every rate of the type.
    for (auto _ : state) w.cmdFeerate_Click(2);
    pricing::frmIP::unload();
    frmFeeFind::unload();
}
BENCHMARK(IPFind)->Unit(benchmark::kMillisecond);

}  // namespace
