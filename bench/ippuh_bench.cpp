// The pricing step of the IP payphones' record upload: 2,049 records, the
// most one upload takes, read back from "Bill.dat" and priced in batches.
#include "BenchStation.h"
#include "transfer/IPPuhPara.h"

#include <QFile>
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
    QFile file(st.dir.path() + QStringLiteral("/Bill.dat"));
    int base = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Fresh records each round: a record priced before is only a duplicate.
        if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) state.SkipWithError("Bill.dat");
        for (int i = 0; i < IPPuhPara::kMaxRecords; ++i) file.write(withSum(st.next(base + i)));
        file.flush();
        base += IPPuhPara::kMaxRecords;
        state.ResumeTiming();
        IPPuhPara::PriceRecords(file, IPPuhPara::kMaxRecords);
        state.PauseTiming();
        file.close();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * IPPuhPara::kMaxRecords);
    state.counters["stored"] =
        double(dbPhoneCur.scalar(QStringLiteral("select count(*) from %1").arg(dbPhoneCur.qualified("Tab_Phone"))).toLongLong());
}
BENCHMARK(BM_IPPuhUploadPricing2049)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
