// The pricing step of the IP payphones' record upload: 2,049 records, the
// most one upload takes, read back from "Bill.dat" and priced in batches,
// each with the note that it is stored.
#include "BenchStation.h"
#include "pricing/BillFile.h"
#include "transfer/IPPuhPara.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

using namespace benchstation;

QByteArray withSum(const QByteArray& f) {
    quint32 s = 0;
    for (char c : f) s += quint8(c);
    QByteArray out = f;
    out.append(char(s & 0xFF));
    return out;
}

// Arg 0: a station that has never archived; 1: this year's archive present,
// the month archived on two nights; 2: the first day after the month's first
// archive. x_sync: a record's share of the upload's time as a ratio to one fdatasync.
void BM_IPPuhUploadPricing2049(benchmark::State& state) {
    Station st;
    if (!st.archive(int(state.range(0)))) return state.SkipWithError("the month was not archived");
    const double syncUs = medianSyncUs(ModDefine::DataPath, 300);
    ModDefine::AppPath = st.dir.path() + QStringLiteral("/");
    int base = 0;
    double pricedUs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Fresh records each round: a record priced before is only a duplicate.
        pricing::billfile::Writer file;
        int waiting = 0;
        if (!file.start(false, &waiting)) state.SkipWithError("Bill.dat");
        for (int i = 0; i < IPPuhPara::kMaxRecords; ++i) file.append(withSum(st.next(base + i)));
        file.close();
        base += IPPuhPara::kMaxRecords;
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        if (pricing::billfile::Price() != 0) state.SkipWithError("records wait");
        pricedUs += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    }
    state.SetItemsProcessed(state.iterations() * IPPuhPara::kMaxRecords);
    state.counters["sync_us"] = syncUs;
    const double perRecordUs = pricedUs / double(state.iterations() * IPPuhPara::kMaxRecords);
    state.counters["record_us"] = perRecordUs;
    if (syncUs > 0) state.counters["x_sync"] = perRecordUs / syncUs;
    state.counters["stored"] =
        double(dbPhoneCur.scalar(QStringLiteral("select count(*) from %1").arg(dbPhoneCur.qualified("Tab_Phone"))).toLongLong());
}
BENCHMARK(BM_IPPuhUploadPricing2049)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
