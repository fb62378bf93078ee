// The fee report of a site with five yearly archives of 1,000,000 calls each
// (12 month tables a year): the whole report, every month summed.
#include "billing/frmFeeDetail.h"
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int kYears = 5;
constexpr qint64 kCallsPerYear = 1000000;

struct Site {
    QTemporaryDir root;
    bool ok = false;
    std::string error;
    Site() {
        ModDefine::AppPath = root.path() + "/";
        ModDefine::DataPath = ModDefine::AppPath + "data/";
        QString e;
        if (!core::schema::WriteFreshDataDir(ModDefine::DataPath, 2, &e)) {
            error = e.toStdString();
            return;
        }
        dbSwitch = platform::Database::open(ModDefine::DataPath + "switch.mdb");
        dbPhoneCur = dbSwitch.attach(ModDefine::DataPath + "PhoneCur.mdb", "phonecur");
        const QString site = ModDefine::DataPath + "一号站/";
        if (!QDir().mkpath(site)) {
            error = "no site directory";
            return;
        }
        // One year written, the others copies of it under their own years.
        const QString def = dbPhoneCur.scalar("SELECT sql FROM phonecur.sqlite_master WHERE name='Tab_Phone'").toString();
        const QString first = site + "PhBill_2020.mdb";
        platform::Database y = platform::Database::create(first);
        platform::Transaction tx(y);
        for (int m = 1; m <= 12; ++m) {
            const qint64 n = kCallsPerYear / 12 + (m <= kCallsPerYear % 12 ? 1 : 0);
            y.execute(QString("CREATE TABLE Tab_Ph%1 %2").arg(m).arg(def.mid(def.indexOf('('))));
            y.execute(QString("WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i<?2-1) "
                              "INSERT INTO Tab_Ph%1 (f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, "
                              "f_indjh, f_phmode, f_addfee1, f_addfee2, f_gatefee, f_linkfee, f_memo, f_userid, f_yj) "
                              "SELECT i % 120, i % 16, printf('2020-%02d-%02d 08:00:00', ?1, 1 + i % 28), i % 900, "
                              "(i*37) % 20000, printf('0%d', 10000000 + i % 9000000), '    ', '', i % 11, i % 100, "
                              "0, (i*7) % 300, 0, '本地', 1 + i % 500, 0 FROM s")
                          .arg(m),
                      {m, n});
        }
        tx.commit();
        y.close();
        for (int k = 1; k < kYears; ++k)
            if (!QFile::copy(first, site + QString("PhBill_%1.mdb").arg(2020 + k))) {
                error = "copy failed";
                return;
            }
        platform::script::enable();
        ok = true;
    }
};

Site& site() {
    static std::unique_ptr<Site> s(new Site);
    return *s;
}

void BM_SiteFeeReport(benchmark::State& state) {
    if (!site().ok) return state.SkipWithError(site().error.c_str());
    for (auto _ : state) {
        billing::frmFeeDetail::ShowDetail(QStringLiteral("一号站"));
        state.counters["rows"] = billing::frmFeeDetail::instance().fgDetail->Rows() - 1;
    }
    state.counters["calls"] = double(kYears * kCallsPerYear);
    billing::frmFeeDetail::unload();
}
BENCHMARK(BM_SiteFeeReport)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
