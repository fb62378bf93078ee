// Operation commands and the system parameters against the simulated switch,
// the operator's answers given by script.
#include "transfer/TransferFixture.h"

#include "platform/Clock.h"
#include "transfer/OperationCommands.h"

using namespace transfertest;
using platform::script::answer;

namespace {

class Operations : public TransferTest {
protected:
    void TearDown() override {
        platform::testing::setNow(nullptr);
        TransferTest::TearDown();
    }
    void reply(const char* text) { answer(QString::fromUtf8(text), platform::rOK); }
    // 下载系统时间 agreed to, its box answered.
    void downClock(const char* told) {
        answer("下载系统时间有可能产生异常话单", platform::rYes);
        reply(told);
        OperationCommands::mnuDownSysTime_Click();
    }
};

}  // namespace

TEST_F(Operations, InitialiseAndResetTakeTheOperatorsWordAndTheSwitchsAnswer) {
    answer("真的要复位系统吗?", platform::rNo);
    OperationCommands::mnuReset_Click();
    EXPECT_TRUE(sent().isEmpty());

    answer("要初始化系统吗", platform::rYes);
    reply("初始化成功");
    OperationCommands::mnuInit_Click();
    const QStringList out = sent();
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0], "800300");
    EXPECT_TRUE(out[1].startsWith("8404"));   // the monitor order of the view shown
    EXPECT_EQ(opLog(), QStringList{"初始化成功"});

    // Refused with 03 or with 01: the command failed, nothing is logged.
    for (sim::Reply refusal : {sim::Reply::Status03, sim::Reply::Status01}) {
        sw.addRule("800300", refusal, 2);
        answer("要初始化系统吗", platform::rYes);
        reply("初始化失败");
        OperationCommands::mnuInit_Click();
    }
    EXPECT_EQ(opLog().size(), 1);

    // A switch never heard since start: nothing is awaited, and that is no answer.
    g_NoAnswerCount = 10;
    answer("真的要复位系统吗?", platform::rYes);
    reply("集团电话没有应答");
    OperationCommands::mnuReset_Click();
    EXPECT_EQ(opLog().size(), 1);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
}

TEST_F(Operations, HandshakeAndTheSwitchClock) {
    reply("通信握手成功");
    OperationCommands::mnuConnect_Click();
    EXPECT_EQ(opLog(), QStringList{"通信握手"});
    const QStringList handshake = sentThrough("960301");
    ASSERT_FALSE(handshake.isEmpty());
    EXPECT_EQ(handshake.last(), "960301");

    platform::testing::setNow([] { return QDateTime(QDate(2026, 3, 8), QTime(14, 5, 7)); });   // a Sunday
    sw.clearReceived();
    downClock("下载系统时间成功");
    EXPECT_EQ(sentThrough("8509"), (QStringList{"84040000", "850946030814050707"}));

    platform::testing::setNow([] { return QDateTime(QDate(2080, 1, 2), QTime(9, 0, 0)); });
    sw.clearReceived();
    downClock("日期错误,请输入年份在1980-2079");
    EXPECT_EQ(sentThrough("84040000"), QStringList{"84040000"});

    platform::testing::setNow(nullptr);
    sw.addRule("8509", sim::Reply::Status03, 2);
    downClock("下载系统时间失败");
    EXPECT_EQ(opLog().size(), 2);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
}

TEST_F(Operations, CancelMonitoringLiftsTheLimitsOfOneUsersCalls) {
    for (int s : {0, 5}) {
        MonSlots[s].UserID = 7;
        MonSlots[s].ExtAddr = 20 + s;
        MonSlots[s].LimitSet = 1;
    }
    MonSlots[9].UserID = 8;
    console->fgDisp->setCols(2);
    console->fgDisp->setRows(3);
    console->fgDisp->setTextMatrix(2, 0, "7");
    GridSelFirst = 2;
    OperationCommands::mnuCancelMonitor_Click();
    EXPECT_EQ(sent(), (QStringList{"92070014FFFF00", "92070019FFFF05"}));
    EXPECT_EQ(MonSlots[0].UserID, -1);
    EXPECT_EQ(MonSlots[5].LimitSet, 0);
    EXPECT_EQ(MonSlots[9].UserID, 8);

    // A row without a user number selects no call, not the free slots.
    sw.clearReceived();
    console->fgDisp->setTextMatrix(2, 0, "");
    OperationCommands::mnuCancelMonitor_Click();
    EXPECT_TRUE(sent().isEmpty());
}

TEST_F(Operations, SystemParametersDownAndBack) {
    ModSwitch::SetVariant("Limit", "1,2,3,4,5,6,7,8");
    ModSwitch::SetVariant("SelCmd", "1,2,3,0,0");
    // A switch without either setting answers filler.
    reply("集团电话没有设置系统参数");
    OperationCommands::mnuUPSendPara_Click();
    EXPECT_EQ(ModSwitch::GetVariant("Limit"), "1,2,3,4,5,6,7,8");
    EXPECT_EQ(ModSwitch::GetVariant("SelCmd"), "1,2,3,0,0");
    sw.setRow(sim::tables::Limits, 0, sim::fromHex("8D12000A000B000C000D000E000F00100011"));
    reply("集团电话没有设置连选命令");
    OperationCommands::mnuUPSendPara_Click();
    EXPECT_EQ(ModSwitch::GetVariant("Limit"), "10,11,12,13,14,15,16,17");

    ModSwitch::SetVariant("Limit", "60,0,0,0,0,0,0,300");
    ModSwitch::SetVariant("SelCmd", "*9,,#1,1,0");
    reply("下载系统参数成功");
    OperationCommands::mnuDownPara_Click();
    EXPECT_EQ(sim::decodeLimits(*sw.row(sim::tables::Limits, 0))->limits, (std::vector<int>{60, 0, 0, 0, 0, 0, 0, 300}));
    EXPECT_EQ(sw.row(sim::tables::SelCmd, 0)->toHex().toUpper(), "A80EB9FFFFFFFFC1FFFFFFFFFF80");
    EXPECT_EQ(opLog(), QStringList{"下载系统参数"});

    sw.addRule("A80E", sim::Reply::Status03, 2);
    reply("下载连选命令失败");
    OperationCommands::mnuDownPara_Click();

    // Settings the frames cannot carry: nothing goes.
    for (const char* bad : {"60,0,0", "0,0,0,0,0,0,0,70000"}) {
        ModSwitch::SetVariant("Limit", QString::fromLatin1(bad));
        sw.clearReceived();
        reply("下载系统参数失败");
        OperationCommands::mnuDownPara_Click();
        EXPECT_TRUE(sent().isEmpty()) << bad;
    }

    // Read back what the switch holds.
    ModSwitch::SetVariant("Limit", "");
    ModSwitch::SetVariant("SelCmd", "");
    reply("上传系统参数成功");
    OperationCommands::mnuUPSendPara_Click();
    EXPECT_EQ(ModSwitch::GetVariant("Limit"), "60,0,0,0,0,0,0,300");
    EXPECT_EQ(ModSwitch::GetVariant("SelCmd"), "*9,,#1,1,0");
    EXPECT_TRUE(core::ConsoleEnabled());

    sw.addRule("A803", sim::Reply::Silent);
    reply("上传连选命令数失败");
    OperationCommands::mnuUPSendPara_Click();
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
}
