// Saving edits of the console grid: one value committed over all 512
// accounts and saved, and a head given new digits renumbering 120 extensions.
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/Schema.h"
#include "params/CellEdit.h"
#include "params/SavePara.h"
#include "params/ShowTable.h"
#include "platform/Prompts.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

struct Station {
    Station() {
        core::schema::WriteFreshDataDir(dir.path() + "/data", 0);
        dbSwitch = platform::Database::open(dir.path() + "/data/switch.mdb");
        WorkerRights = {QStringLiteral("0")};
        LanHeadTypeList.clear();
        for (int i = 0; i < 33; ++i) LanHeadTypeList << QString();
        for (int i = 20; i <= 28; ++i) LanHeadTypeList[i] = QStringLiteral("本局%1").arg(i - 19);
        LanHeadTypeList[29] = QStringLiteral("本局闭锁");
        platform::script::enable();
    }
    ~Station() {
        frmPABX::unload();
        dbSwitch.close();
        platform::script::reset();
    }
    QTemporaryDir dir;
};

void SaveOneValueOverAllAccounts(benchmark::State& state) {
    Station station;
    CurTable = "Account";
    platform::FlexGrid& grid = *frmPABX::instance().fgDisp;
    for (auto _ : state) {
        state.PauseTiming();
        ModGeneral::ShowTable(grid, "select * from Account",
                              ">物理地址|>帐号|等级一|等级二|押金等级|闭锁|清密码|所属用户", 0, 1, false);
        platform::script::answer("参数已经改变", platform::rYes);
        state.ResumeTiming();
        GridMouseCol = 5;
        GridSelFirst = 1;
        GridSelLast = grid.Rows() - 1;
        ModSwitch::SaveCellEdit(grid, state.iterations() % 2 ? "ON" : "OFF");
        g_Modified = true;
        ModSwitch::SaveSwitchPara(3, false);
    }
}
BENCHMARK(SaveOneValueOverAllAccounts)->Unit(benchmark::kMillisecond);

void RenumberAHeadOf120Extensions(benchmark::State& state) {
    Station station;
    CurTable = "LanHead";
    platform::FlexGrid& grid = *frmPABX::instance().fgDisp;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dbSwitch.execute("delete from LanHead where HeadType=20");
        dbSwitch.execute("insert into LanHead values('8',20,3,0,0,0,0)");
        dbSwitch.execute("update Extension set Head=20, SpringNum=printf('%03d', Address)");
        ModGeneral::ShowTable(grid, "select * from LanHead order by headtype", ">本机字头|<本机类别|>号长|>延时|>路由1|>路由2", 0,
                              1, false);
        platform::script::answer("参数已经改变", platform::rYes);
        state.ResumeTiming();
        GridMouseCol = 0;
        GridSelFirst = GridSelLast = 1;
        ModSwitch::SaveCellEdit(grid, QString::number(6 + (++round % 2)));
        ModSwitch::SaveSwitchPara(10, false);
    }
}
BENCHMARK(RenumberAHeadOf120Extensions)->Unit(benchmark::kMillisecond);

}  // namespace
