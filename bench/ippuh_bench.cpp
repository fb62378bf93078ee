// The pricing step of the IP payphones' record upload: 2,049 records, the
// most one upload takes, read back from "Bill.dat" and priced in batches,
// each with the note that it is stored.
#include "BenchStation.h"
#include "pricing/BillFile.h"
#include "transfer/IPPuhPara.h"

#include <benchmark/benchmark.h>

namespace {

using namespace benchstation;

QByteArray withSum(const QByteArray& f) {
    quint32 s = 0;
    for (char c : f) s += quint8(c);
    QByteArray out = f;
    out.append(char(s & 0xFF));
    return out;
}

void BM_IPPuhUploadPricing2049(benchmark::State& state) {
    Station st;
    ModDefine::AppPath = st.dir.path() + QStringLiteral("/");
    int base = 0;
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
        if (pricing::billfile::Price() != 0) state.SkipWithError("records wait");
    }
    state.SetItemsProcessed(state.iterations() * IPPuhPara::kMaxRecords);
    state.counters["stored"] =
        double(dbPhoneCur.scalar(QStringLiteral("select count(*) from %1").arg(dbPhoneCur.qualified("Tab_Phone"))).toLongLong());
}
BENCHMARK(BM_IPPuhUploadPricing2049)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
