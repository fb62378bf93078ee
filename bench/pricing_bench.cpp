// Call-record pricing: through the engine's own reads without the durable
// commit, the full road with one durable commit per record, and a bulk read of
// 2,049 records committed in batches.
#include "BenchStation.h"
#include "link/ModComm.h"
#include "pricing/ClsMonitor.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <vector>

using platform::Currency;

namespace {

using namespace benchstation;

void drainLink() { ModComm::TxRead = ModComm::TxWrite; }

// Decode, route, classify, look up among 20,000 zone codes, read the discount
// scheme from SQLite and price: each record stored inside one outer transaction
// that is never made durable.
void BM_PricingInMemory(benchmark::State& state) {
    Station st;
    int n = 0;
    platform::Transaction outer(dbSwitch);
    for (auto _ : state) {
        if (!ClsMonitor().Record(st.next(n++), false)) state.SkipWithError("record not stored");
    }
    state.SetItemsProcessed(n);
    state.counters["records/s"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PricingInMemory)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// The whole road of a live record: priced, stored and charged in one durable
// commit, fee frame and answer queued for the switch. Reports median and 99th
// percentile latency.
void BM_RecordDurable(benchmark::State& state) {
    Station st;
    int n = 0;
    std::vector<double> us;
    for (auto _ : state) {
        const QByteArray f = st.next(n++);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = ClsMonitor().Record(f, true);
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
        if (!ok) state.SkipWithError("record not stored");
        drainLink();
    }
    std::sort(us.begin(), us.end());
    if (!us.empty()) {
        state.counters["median_us"] = us[us.size() / 2];
        state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    }
    state.counters["records/s"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordDurable)->Unit(benchmark::kMicrosecond)->Iterations(300);

// A bulk read: 2,049 records already safe in "Bill.dat", priced and stored
// without answers, committed 256 at a time.
void BM_BulkRead2049(benchmark::State& state) {
    Station st;
    int base = 0;
    for (auto _ : state) {
        for (int i = 0; i < 2049;) {
            platform::Transaction batch(dbSwitch);
            for (int k = 0; k < 256 && i < 2049; ++k, ++i)
                if (!ClsMonitor().Record(st.next(base + i), false)) state.SkipWithError("record not stored");
            batch.commit();
        }
        base += 2049;
    }
    state.SetItemsProcessed(state.iterations() * 2049);
}
BENCHMARK(BM_BulkRead2049)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
