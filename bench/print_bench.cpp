// Printing a grid of 10,000 rows (about 143 A4 sheets) and of 100,000 rows to
// a PDF file on cut sheets, as the operator's print of a query result does.
// Counters: sheets printed, the resident memory once the grid is filled and
// the peak while printing: the printout adds little, because every sheet is
// written out as it ends.
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "platform/Db.h"
#include "platform/FlexGrid.h"
#include "platform/Printer.h"
#include "platform/Prompts.h"
#include "printing/PrintGrid.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

// Resident memory now, from /proc.
double rssMiB() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLongLong() * 4096 / 1048576.0 : 0;
}

double peakRssMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

void BM_PrintGridToPdf(benchmark::State& state) {
    const int rows = int(state.range(0));
    QTemporaryDir root;
    ModDefine::AppPath = root.path() + "/";
    ModDefine::DataPath = ModDefine::AppPath + "data/";
    QString e;
    if (!core::schema::WriteFreshDataDir(ModDefine::DataPath, 0, &e)) {
        state.SkipWithError(e.toStdString().c_str());
        return;
    }
    dbSwitch = platform::Database::open(ModDefine::DataPath + "switch.mdb");
    platform::script::reset();
    platform::script::enable();
    printing::testing::setHasPrinter(true);
    PrnType = false;
    WorkerID = QStringLiteral("0000");

    platform::FlexGrid grid;
    QFont f = grid.font();
    f.setPointSizeF(9);
    grid.setFont(f);
    grid.setFormatString(QStringLiteral("<主叫名称|>主叫分机|对方号码|>通话日期|>通话时长|>总话费"));
    grid.setRows(rows + 1);
    for (int c = 0; c < 6; ++c) grid.setColWidth(c, 1500);
    for (int r = 1; r <= rows; ++r) {
        grid.setTextMatrix(r, 0, QStringLiteral("用户%1").arg(r % 300));
        grid.setTextMatrix(r, 1, QString::number(8000 + r % 120));
        grid.setTextMatrix(r, 2, QStringLiteral("0106%1").arg(2000000 + r));
        grid.setTextMatrix(r, 3, QStringLiteral("2026-06-15 10:00:00"));
        grid.setTextMatrix(r, 4, QStringLiteral("00:04:10"));
        grid.setTextMatrix(r, 5, QStringLiteral("1.50"));
    }
    grid.setRow(1);
    grid.setCol(0);

    qint64 bytes = 0;
    const double filled = rssMiB();
    for (auto _ : state) {
        platform::testing::printToPdfDir(root.path() + "/out");
        platform::script::answer(QStringLiteral("真的要打印"), platform::rYes);
        printing::PrintGrid(grid, QStringLiteral("话单明细"), true);
        const QStringList files = platform::testing::printedPdfFiles();
        if (files.size() != 1 || platform::script::shown().size() != 1) {
            state.SkipWithError("the grid was not printed");
            break;
        }
        bytes = QFile(files[0]).size();
        QFile::remove(files[0]);
        platform::script::reset();
        platform::script::enable();
    }
    state.counters["sheets"] = double((rows + 69) / 70);
    state.counters["pdf_MiB"] = bytes / 1048576.0;
    state.counters["peak_rss_MiB"] = peakRssMiB();
    state.counters["grid_filled_rss_MiB"] = filled;   // before printing: the grid's own share
    platform::testing::resetPrinter();
    printing::testing::setHasPrinter(std::nullopt);
    platform::script::disable();
    dbSwitch.close();
    dbSwitch = {};
}
BENCHMARK(BM_PrintGridToPdf)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
