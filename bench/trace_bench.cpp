// The protocol trace on the record road: a call record parsed, dispatched,
// priced, stored and charged with its durable commit, its fee frame and answer
// queued, with the trace off and with the trace on and 5,000 lines already in
// it (window hidden, and shown). Records with and without the trace alternate,
// so that both see the same disk; medians and 99th percentiles of the wall
// time are reported with the ratio of the medians, and the thread's own CPU
// time, which the waits of the durable commit do not blur.
#include "BenchStation.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "link/frmSRV.h"

#include <QApplication>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <vector>

namespace {

using namespace benchstation;

QByteArray withSum(const QByteArray& body) {
    quint8 s = 0;
    for (char c : body) s = static_cast<quint8>(s + static_cast<quint8>(c));
    return body + QByteArray(1, static_cast<char>(s));
}

double threadCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

struct RoadTime {
    double wall = 0;   // microseconds, the durable commit's waits included
    double cpu = 0;    // microseconds the thread computed
};

// One record from the receive ring to its answer on the transmit ring.
RoadTime road(const QByteArray& frame) {
    const double c0 = threadCpuUs();
    const auto t0 = std::chrono::steady_clock::now();
    ModComm::PutRxBuf(frame);
    while (ModComm::RxCount() > 0) {
        const int before = ModComm::RxCount();
        ModComm::ParseFrame();
        if (ModComm::RxCount() == before) break;
    }
    RoadTime r;
    r.wall = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    r.cpu = threadCpuUs() - c0;
    ModComm::TxRead = ModComm::TxWrite;   // the switch took the answer
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
double p99(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

// The trace holds `lines` lines before the next record (a record adds three:
// the frame received, the fee frame and the answer sent).
void fillTrace(int lines, bool always = false) {
    static const QString line = QStringLiteral("12:00:00<-96 1D 00 05 FF 88 00 12 34 FF FF FF FF FF FF 00 03 06 15 10 "
                                               "00 00 00 02 05 FF FF 00 00 ");
    TraceList* list = frmSRV::instance().lstRec;
    if (list->count() == lines && !always) return;
    list->clear();
    for (int i = 0; i < lines; ++i) list->addItem(line);
}

void recordRoad(benchmark::State& state, bool shown) {
    Station st;
    ModComm::InitFrameTable();
    ModComm::ResetLink();
    SetMonitorSink(nullptr);   // the real engine
    g_NoAnswerCount = 0;
    frmSRV& srv = frmSRV::instance();
    if (shown) srv.show();
    else srv.hide();
    std::vector<double> off, on, offCpu, onCpu;
    int n = 0;
    // Both records start alike: the trace filled anew (which also stirs the
    // caches alike) and, when shown, painted.
    const auto prepare = [&] {
        state.PauseTiming();
        fillTrace(4997, true);
        srv.lstRec->scrollToTop(4996);
        if (shown) QCoreApplication::processEvents();
        state.ResumeTiming();
    };
    for (auto _ : state) {
        prepare();
        LinkTrace::SetEnabled(false);
        const RoadTime a = road(withSum(st.next(n++)));
        LinkTrace::SetEnabled(true);
        prepare();
        const RoadTime b = road(withSum(st.next(n++)));
        if (srv.lstRec->count() != 5000) state.SkipWithError("the record did not reach the trace");
        off.push_back(a.wall);
        on.push_back(b.wall);
        offCpu.push_back(a.cpu);
        onCpu.push_back(b.cpu);
    }
    srv.hide();
    frmSRV::instance().cmdClear_Click();
    state.counters["off_median_us"] = median(off);
    state.counters["off_p99_us"] = p99(off);
    state.counters["on_median_us"] = median(on);
    state.counters["on_p99_us"] = p99(on);
    state.counters["on_over_off"] = median(off) > 0 ? median(on) / median(off) : 0;
    state.counters["off_cpu_median_us"] = median(offCpu);
    state.counters["on_cpu_median_us"] = median(onCpu);
    state.counters["on_over_off_cpu"] = median(offCpu) > 0 ? median(onCpu) / median(offCpu) : 0;
}

void BM_RecordRoadTraceHidden(benchmark::State& state) { recordRoad(state, false); }
BENCHMARK(BM_RecordRoadTraceHidden)->Unit(benchmark::kMicrosecond)->Iterations(600);

void BM_RecordRoadTraceShown(benchmark::State& state) { recordRoad(state, true); }
BENCHMARK(BM_RecordRoadTraceShown)->Unit(benchmark::kMicrosecond)->Iterations(600);

// A thousand trace lines added to a list that holds range(0) lines, the window
// hidden (range(1) 0) or shown (1): the time a line takes does not grow with
// the lines the list holds.
void BM_TraceLines(benchmark::State& state) {
    LinkTrace::SetEnabled(true);
    frmSRV& srv = frmSRV::instance();
    if (state.range(1)) srv.show();
    else srv.hide();
    const int lines = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        fillTrace(lines);
        srv.lstRec->scrollToTop(srv.lstRec->count() - 1);
        if (state.range(1)) QCoreApplication::processEvents();
        state.ResumeTiming();
        for (int i = 0; i < 1000; ++i)
            LinkTrace::ShowRecord(QStringLiteral("961D0005FF88001234FFFFFFFFFFFF00030615100000000205FFFF0000"), 0);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    srv.hide();
}
BENCHMARK(BM_TraceLines)->Args({0, 0})->Args({3999, 0})->Args({0, 1})->Args({3999, 1})->Unit(benchmark::kMicrosecond)->Iterations(30);

}  // namespace

