// Call-record pricing: through the engine's own reads without the durable
// commit, the full road with one durable commit per record, and a bulk read of
// 2,049 records committed in batches.
#include "BenchStation.h"
#include "core/Console.h"
#include "link/ModComm.h"
#include "platform/FlexGrid.h"
#include "pricing/ClsMonitor.h"

#include <QApplication>
#include <QFile>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <optional>
#include <sqlite3.h>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

using platform::Currency;

namespace {

using namespace benchstation;

void drainLink() { ModComm::TxRead = ModComm::TxWrite; }

// Decode, route, classify, look up among 20,000 zone codes and the discount
// schemes held with them, and price: each record stored inside an outer
// transaction that is never made durable, committed (untimed) every
// `range(1)` records, so that the figure is pricing's and not what a long
// transaction adds: a record's cost is flat in a transaction of 20,000 records
// as in one of the 256 a station's batch holds.
// Arg 0: 1 with this year's archive present (see BM_RecordDurable).
void BM_PricingInMemory(benchmark::State& state) {
    Station st;
    if (!st.archive(int(state.range(0)))) return state.SkipWithError("the month was not archived");
    const int perTransaction = int(state.range(1));
    int n = 0;
    std::optional<platform::Transaction> outer;
    outer.emplace(dbSwitch);
    for (auto _ : state) {
        if (!ClsMonitor().Record(st.next(n++), false)) state.SkipWithError("record not stored");
        if (n % perTransaction == 0) {
            state.PauseTiming();
            outer->commit();
            outer.emplace(dbSwitch);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(n);
    state.counters["records/s"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PricingInMemory)
    ->Args({0, 256})
    ->Args({1, 256})
    ->Args({0, 20000})
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20000);

// One fdatasync of a small file in the station's data directory: the
// baseline the durable record is measured against.
void BM_FdatasyncBaseline(benchmark::State& state) {
    Station st;
    double median = 0;
    for (auto _ : state) median = medianSyncUs(ModDefine::DataPath, 300);
    state.counters["median_us"] = median;
}
BENCHMARK(BM_FdatasyncBaseline)->Unit(benchmark::kMillisecond)->Iterations(1);

// One fdatasync of a small file rewritten beside the station's files, timed
// next to each record: what a sync costs at that moment on a shared disk.
class SyncProbe {
public:
    explicit SyncProbe(const QString& dir) : path_(QFile::encodeName(dir + QStringLiteral("/sync-probe.dat"))) {
        fd_ = ::open(path_.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    ~SyncProbe() {
        if (fd_ >= 0) ::close(fd_);
        ::unlink(path_.constData());
    }
    double us() {
        block_[0] = char(++n_);
        if (fd_ < 0 || ::pwrite(fd_, block_, sizeof block_, 0) != ssize_t(sizeof block_)) return 0;
        const auto t0 = std::chrono::steady_clock::now();
        ::fdatasync(fd_);
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    }
private:
    QByteArray path_;
    int fd_ = -1;
    char block_[512] = {};
    int n_ = 0;
};

// The floor of a record's commit: the pages a record writes, written by bare
// statements in one transaction over both files with the syncs a record's
// commit has (the call file's log synced, the station file's not): a call
// row, an entry of the log (of the kind that moves no money, so the station's
// books stay whole), the user's row, the station file's copies of the entry
// and of the call (the whole row, as the record copies it), and the mark.
class FloorCommit {
public:
    // After the first record: the station file's copy of the calls exists.
    FloorCommit() {
        QStringList columns;
        for (const platform::ColumnInfo& c : dbSwitch.columns(QStringLiteral("tab_callmirror")))
            if (c.name.compare(QStringLiteral("f_seq"), Qt::CaseInsensitive) != 0) columns << platform::quoteIdent(c.name);
        const QString list = columns.join(QLatin1Char(','));
        copyCall_ = QStringLiteral("INSERT INTO main.tab_callmirror (f_seq, %1) SELECT ?, %1 FROM phonecur.Tab_Phone "
                                   "WHERE f_calladdr=? AND f_date=?")
                        .arg(list);
    }
    double us(int n) {
        const qint64 seq = dbPhoneCur.scalar(QStringLiteral("SELECT coalesce(max(f_seq), 0) + 1 FROM tab_chargelog")).toLongLong();
        const QString date = QStringLiteral("2001-01-01 00:00:00");
        const QDateTime call = QDateTime(QDate(2001, 1, 1), QTime(0, 0)).addSecs(n);
        bool copied = true;
        const auto t0 = std::chrono::steady_clock::now();
        dbSwitch.setDurableCommits(false);
        {
            platform::Transaction tx(dbSwitch);
            testsupport::storeCall(dbPhoneCur, {.calladdr = 900 + n % 50, .zjaddr = 1, .date = call,
                                                .secs = 60, .fee = Currency::fromRaw(1000), .resp = "88000001", .zh = "    ",
                                                .indjh = "", .phmode = 7, .memo = QStringLiteral("市话"), .userid = 1});
            dbPhoneCur.execute(QStringLiteral("INSERT INTO tab_chargelog (f_seq, f_gen, f_kind, f_userid, f_amount, f_balance, "
                                              "f_calladdr, f_date) VALUES (?, 0, 5, 1, 0, 0, ?, ?)"),
                               {seq, 900 + n % 50, date});
            dbSwitch.execute(QStringLiteral("UPDATE user SET remain=remain+0 WHERE userid=1"));
            dbSwitch.execute(QStringLiteral("INSERT INTO main.tab_chargemirror (f_seq, f_gen, f_kind, f_userid, f_amount, f_balance, "
                                            "f_calladdr, f_date) VALUES (?, 0, 5, 1, 0, 0, ?, ?)"),
                             {seq, 900 + n % 50, date});
            if (dbSwitch.execute(copyCall_, {seq, 900 + n % 50, platform::dateText(call)}) != 1) copied = false;
            dbSwitch.execute(QStringLiteral("UPDATE main.Variant SET value=? WHERE varname='TarvoChargeApplied'"), {QString::number(seq)});
            tx.commit();
        }
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
        dbSwitch.setDurableCommits(true);
        return copied ? us : -1;
    }
private:
    QString copyCall_;
};

double percentileOf(std::vector<double> v, int p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * p / 100)];
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Where a record's storing begins (its first transaction begun) and ends (the
// record stored: the call file committed, the station file brought up to
// it), read from inside the record as it runs.
struct StoringClock {
    using Clock = std::chrono::steady_clock;
    Clock::time_point begun, stored;
    bool watching = false, taken = false;
    void watch() {
        watching = true;
        taken = false;
        stored = {};
    }
    double us() const {
        return taken && stored > begun ? std::chrono::duration<double, std::micro>(stored - begun).count() : -1;
    }
};

// The whole road of a live record: priced, its call row and charge entry kept
// in one durable commit of the call file, the balance brought up to it, fee
// frame and answer queued for the switch. Reports median and 99th percentile
// latency, the median of the thread's own CPU time (the kernel's share of the
// writes and the sync included), the median of its ratio to an fdatasync
// timed beside each record ("x_sync"), and the median of its ratio to the
// floor of its commit timed beside it ("x_floor", see FloorCommit). The three
// are timed in turn, in an order that rotates, so that a busy disk weighs on
// each alike.
// The floor leaves out what a record does whatever its commit: decoding,
// pricing, the duplicate check and the user's row read before its first
// transaction, the fee frame, the answer, the trace and the bill view after
// it. "x_floor_priced" adds that share of the same record to its floor: the
// record against the record as one atomic commit of its pages would make it
// ("storing_us": the record's own time from its first transaction begun to
// its being stored; "priced_us": the rest).
//
// Arg 0: a station that has never archived; 1: this year's archive present,
// 50,000 calls in the records' month table, archived on two nights; 2: the
// first day after that month's first archive. The duplicate check looks in
// the month table for every record.
void BM_RecordDurable(benchmark::State& state) {
    Station st;
    if (!st.archive(int(state.range(0)))) return state.SkipWithError("the month was not archived");
    // The station file's copies exist before the floor writes to them.
    if (!ClsMonitor().Record(st.next(0), true)) return state.SkipWithError("record not stored");
    drainLink();
    SyncProbe probe(ModDefine::DataPath);
    FloorCommit floor;
    StoringClock storing;
    sqlite3_trace_v2(dbSwitch.raw(), SQLITE_TRACE_STMT, [](unsigned, void* at, void* stmt, void*) -> int {
        auto* c = static_cast<StoringClock*>(at);
        if (c->watching && !c->taken && sqlite3_strnicmp(sqlite3_sql(static_cast<sqlite3_stmt*>(stmt)), "BEGIN", 5) == 0) {
            c->begun = StoringClock::Clock::now();
            c->taken = true;
        }
        return 0;
    }, &storing);
    pricing::testing::setStoredHook([&storing] {
        if (storing.watching) storing.stored = StoringClock::Clock::now();
    });
    int n = 1;
    std::vector<double> us, cpu, syncs, floors, toSync, toFloor, storingUs, pricedUs, toPriced;
    for (auto _ : state) {
        const QByteArray f = st.next(n);
        double record = 0, sync = 0, bare = 0;
        bool ok = true;
        for (int k = 0; k < 3; ++k) {
            switch ((n + k) % 3) {
            case 0: {
                timespec c0{}, c1{};
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
                storing.watch();
                const auto t0 = std::chrono::steady_clock::now();
                ok = ClsMonitor().Record(f, true);
                record = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
                storing.watching = false;
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
                cpu.push_back((c1.tv_sec - c0.tv_sec) * 1e6 + (c1.tv_nsec - c0.tv_nsec) / 1e3);
                break;
            }
            case 1: sync = probe.us(); break;
            default: bare = floor.us(n); break;
            }
        }
        ++n;
        if (!ok) state.SkipWithError("record not stored");
        if (bare < 0) state.SkipWithError("the floor did not copy its call");
        drainLink();
        us.push_back(record);
        syncs.push_back(sync);
        floors.push_back(bare);
        if (sync > 0) toSync.push_back(record / sync);
        if (bare > 0) toFloor.push_back(record / bare);
        const double stored = storing.us();
        if (stored < 0 || stored > record) {
            state.SkipWithError("the record's storing was not seen");
        } else {
            storingUs.push_back(stored);
            pricedUs.push_back(record - stored);
            if (bare > 0) toPriced.push_back(record / (bare + record - stored));
        }
    }
    pricing::testing::setStoredHook(nullptr);
    sqlite3_trace_v2(dbSwitch.raw(), 0, nullptr, nullptr);
    if (!us.empty()) {
        state.counters["median_us"] = median(us);
        state.counters["p99_us"] = percentileOf(us, 99);
        state.counters["cpu_us"] = median(cpu);
        state.counters["sync_us"] = median(syncs);
        state.counters["floor_us"] = median(floors);
        state.counters["x_sync"] = median(toSync);
        state.counters["x_floor"] = median(toFloor);
        state.counters["storing_us"] = median(storingUs);
        state.counters["priced_us"] = median(pricedUs);
        state.counters["x_floor_priced"] = median(toPriced);
    }
    state.counters["records/s"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordDurable)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->Iterations(1000);

// A console of the benchmark's own showing the live bill view: 200 rows of 17
// columns, on screen.
class BillConsole : public core::Console {
public:
    BillConsole() {
        window.resize(1000, 600);
        fgDisp = new platform::FlexGrid(&window);
        fgDisp->resize(1000, 600);
        fgDisp->setFormatString(QStringLiteral(
            "<主叫名称|>主叫分机|^帐号|对方号码         |<地名    |>通话日期            |>通话时长 |>帐户余额|<话单类型|>总话费  "
            "|>基本费  |>附加费1|>附加费2|>手续费|>IP接入费|>中继号|>间接局"));
        fgDisp->setRows(1);
        for (int i = 0; i < 200; ++i)
            fgDisp->AddItem(QStringLiteral("u1\t801\t\t88000001\t本地\t2026-12-07 10:11:12\t00:01:00\t10.00\t市话\t0.10"
                                           "\t0.10\t0.00\t0.00\t0.00\t0.00\t1\t"));
        window.show();
        core::RegisterConsole(this);
    }
    QWidget* ConsoleWidget() override { return &window; }
    void Form_Load() override {}
    bool NotExit(int) override { return true; }
    [[noreturn]] void CloseApp() override { std::abort(); }
    void picRun_DblClick() override {}
    bool ShowView(const QString&) override { return false; }
    QWidget window;
};

double percentile(std::vector<double> v, int p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * p / 100)];
}

// The record road of a live call with the bill view shown: how long the
// durable commit takes (from SQLite's commit to the record being safe), and
// how long everything after it takes (the bill view's row, the fee frame and
// the answer queued, each frame also written to the protocol trace's list),
// in wall time and in the thread's own CPU time. Arg 0 runs the same road
// with no console: the difference is the bill view's share.
void BM_RecordRoadShown(benchmark::State& state) {
    Station st;
    std::unique_ptr<BillConsole> console;
    if (state.range(0) == 1) console = std::make_unique<BillConsole>();
    CurTable = QStringLiteral("Bill");
    using Clock = std::chrono::steady_clock;
    // The durable commit is the record's first on the connection; a commit
    // that follows it (the balance brought up to the log) is not timed.
    struct CommitClock {
        Clock::time_point start;
        bool taken = false;
    } commit;
    Clock::time_point stored;
    sqlite3_commit_hook(dbSwitch.raw(), [](void* at) -> int {
        auto* c = static_cast<CommitClock*>(at);
        if (!c->taken) {
            c->start = Clock::now();
            c->taken = true;
        }
        return 0;
    }, &commit);
    std::vector<double> commitUs, afterUs, afterCpuUs;
    timespec storedCpu{};
    pricing::testing::setStoredHook([&stored, &storedCpu] {
        stored = Clock::now();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &storedCpu);
    });
    int n = 0;
    for (auto _ : state) {
        const QByteArray f = st.next(n++);
        commit.taken = false;
        const bool ok = ClsMonitor().Record(f, true);
        const Clock::time_point end = Clock::now();
        timespec endCpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &endCpu);
        afterCpuUs.push_back((endCpu.tv_sec - storedCpu.tv_sec) * 1e6 + (endCpu.tv_nsec - storedCpu.tv_nsec) / 1e3);
        if (!ok) state.SkipWithError("record not stored");
        commitUs.push_back(std::chrono::duration<double, std::micro>(stored - commit.start).count());
        afterUs.push_back(std::chrono::duration<double, std::micro>(end - stored).count());
        state.PauseTiming();
        drainLink();
        QApplication::processEvents();   // the paints the station's loop does between records
        state.ResumeTiming();
    }
    pricing::testing::setStoredHook(nullptr);
    sqlite3_commit_hook(dbSwitch.raw(), nullptr, nullptr);
    state.counters["commit_median_us"] = percentile(commitUs, 50);
    state.counters["commit_p99_us"] = percentile(commitUs, 99);
    state.counters["after_median_us"] = percentile(afterUs, 50);
    state.counters["after_p99_us"] = percentile(afterUs, 99);
    state.counters["after_cpu_median_us"] = percentile(afterCpuUs, 50);
}
BENCHMARK(BM_RecordRoadShown)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->Iterations(300);

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
