// The settings window's commands against the switch simulator on a
// pseudo-terminal: port detection, reading the switch's system parameters, the
// download buttons and the monitor orders.
#include "link/Transport.h"
#include "admin/frmSysSet.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "platform/Comm.h"
#include "platform/Prompts.h"
#include "sim/Switch.h"
#include "support/Fixtures.h"
#include "support/Holds.h"
#include "support/StationLink.h"

#include <QElapsedTimer>
#include <QTest>

using namespace ModDefine;
namespace script = platform::script;
using testsupport::lastBox;

namespace {

class SysSetOnSwitch : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerRights = QStringList{QStringLiteral("0")};
        ModSwitch::SetVariant("CHKUSEUSB", "0");
        ModSwitch::LoadSysPara();
        ASSERT_TRUE(link.open(sw));
        // A line nobody answers: it takes what the station writes and says nothing.
        silent.setAnswerProbe(false);
        silent.setDefaultReply(sim::Reply::Silent);
        ASSERT_TRUE(silent.openPty());
        silent.start();
        // The link's time-outs pass ten times faster; the simulator answers in real time.
        auto t = std::make_shared<QElapsedTimer>();
        t->start();
        platform::testing::setTick([t] { return t->elapsed() * 10; });
    }
    void TearDown() override {
        frmSysSet::unload();
        link.close();
        silent.stop();
        platform::testing::clearPortMap();
        StationDbTest::TearDown();
    }
    frmSysSet& win() { return frmSysSet::instance(); }
    QString key(const char* k) { return ModSwitch::GetVariant(QString::fromLatin1(k)); }
    // The station's link without a device of its own: its ports are those of the map.
    void portsOnly() {
        ModSwitch::SetVariant("CommDevice", "");
        ModComm::ComA().setPortOpen(false);
        ModComm::ComA().setDevice(QString());
    }

    // The switch on Com2, stored as the port in use and open.
    void onCom2() {
        portsOnly();
        platform::testing::mapPort(2, sw.slavePath());
        ModSwitch::SetVariant("CommPort", "2");
        ModComm::ComA().setCommPort(2);
        ASSERT_TRUE(ModComm::ComA().setPortOpen(true));
    }
    // The port the switch is on is open again and answers; the window is the operator's.
    void backOnTheSwitch() {
        ASSERT_TRUE(ModComm::ComA().PortOpen());
        EXPECT_EQ(ModComm::ComA().devicePath(), sw.slavePath());
        QByteArray answer;
        EXPECT_EQ(ModComm::GetOrder(answer, "950B", false, "830300", 5), 2) << "the line the switch is on is not back";
        EXPECT_TRUE(win().isEnabled());
    }

    sim::Switch sw, silent;
    testsupport::StationLink link;
};

TEST_F(SysSetOnSwitch, DetectionFindsTheSwitchBehindASilentPortAndKeepsTheStoredPortWhenNoneAnswers) {
    portsOnly();
    platform::testing::mapPort(1, silent.slavePath());
    platform::testing::mapPort(2, sw.slavePath());
    ModSwitch::SetVariant("CommSet", "4800,E,7,1");
    win().cmdTestPort_Click();
    EXPECT_EQ(key("CommPort"), "2");
    EXPECT_EQ(key("CommSet"), "9600,N,8,1");
    EXPECT_EQ(win().cboComset[0]->currentText(), "Com2");
    EXPECT_EQ(win().cboComset[2]->currentText(), "N -无");
    EXPECT_TRUE(ModComm::ComA().PortOpen());
    EXPECT_FALSE(silent.receivedWith("830300").empty()) << "Com1 was never probed";
    EXPECT_TRUE(win().isEnabled());
    EXPECT_TRUE(script::shown().isEmpty());

    // The switch gone quiet: every port is tried, the stored port comes back
    // open, so that its records still arrive, and the message says so.
    ModSwitch::SetVariant("CommSet", "19200,E,7,2");
    sw.setAnswerProbe(false);
    script::answer("检测失败，请确认集团电话是否已开机!", platform::rOK);
    win().cmdTestPort_Click();
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_TRUE(lastBox().endsWith("\n已重新打开端口Com2")) << lastBox().toStdString();
    EXPECT_EQ(key("CommPort"), "2");
    EXPECT_EQ(key("CommSet"), "19200,E,7,2");
    EXPECT_EQ(ModComm::ComA().Settings(), "19200,E,7,2");
    ASSERT_TRUE(ModComm::ComA().PortOpen());
    EXPECT_EQ(ModComm::ComA().devicePath(), sw.slavePath());
    EXPECT_EQ(win().cboComset[0]->currentText(), "Com2");
    EXPECT_EQ(win().cboComset[1]->currentText(), "19200");
    EXPECT_EQ(win().cboComset[4]->currentText(), "2");
    EXPECT_TRUE(win().isEnabled());

    // A stored port that will not open stays closed, and that is said too.
    ModSwitch::SetVariant("CommPort", "3");
    script::answer("检测失败，请确认集团电话是否已开机!", platform::rOK);
    win().cmdTestPort_Click();
    EXPECT_TRUE(lastBox().endsWith("\n端口Com3无法打开")) << lastBox().toStdString();
    EXPECT_EQ(ModComm::ComA().CommPort(), 3);
    EXPECT_FALSE(ModComm::ComA().PortOpen());
    EXPECT_EQ(win().cboComset[0]->currentText(), "Com3");
}

TEST_F(SysSetOnSwitch, ANamedDeviceIsTheOnlyOneProbed) {
    ModSwitch::SetVariant("CommPort", "5");
    ModSwitch::SetVariant("CommSet", "2400,N,8,1");
    platform::testing::mapPort(1, silent.slavePath());
    win().cmdTestPort_Click();
    EXPECT_EQ(key("CommPort"), "5");
    EXPECT_EQ(key("CommSet"), "9600,N,8,1");
    EXPECT_TRUE(ModComm::ComA().PortOpen());
    EXPECT_EQ(ModComm::ComA().devicePath(), sw.slavePath());
    EXPECT_TRUE(silent.received().empty());

    sw.setAnswerProbe(false);
    script::answer("检测失败，请确认集团电话是否已开机!", platform::rOK);
    win().cmdTestPort_Click();
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(key("CommPort"), "5");
    EXPECT_TRUE(lastBox().endsWith("\n已重新打开端口" + sw.slavePath()));
    EXPECT_TRUE(ModComm::ComA().PortOpen());
    EXPECT_TRUE(silent.received().empty());
}

TEST_F(SysSetOnSwitch, ASaveRefusedByALockGivesBackThePortInUseAndSaysWhyInChinese) {
    ASSERT_NO_FATAL_FAILURE(onCom2());
    win().cboComset[0]->setCurrentIndex(1);
    // Another program holds the station file in a write transaction: no write
    // gets through (in write-ahead mode reads still do).
    platform::Database other = platform::Database::open(dir->file("switch.mdb"));
    other.execute("BEGIN IMMEDIATE");
    other.execute("update Variant set value=value where varname='CommPort'");
    QStringList traced;
    platform::SetErrorTracer([&](const QString& t) { traced << t; });
    script::answer("保存系统参数失败:数据库正被其他程序使用，请稍后再试", platform::rOK);
    win().cmdSave_Click();
    platform::SetErrorTracer(nullptr);
    other.execute("COMMIT");
    EXPECT_EQ(script::pendingAnswers(), 0);
    const QString shown = lastBox();
    EXPECT_TRUE(shown.endsWith("\n已重新打开端口Com2")) << shown.toStdString();
    EXPECT_FALSE(shown.contains("locked") || shown.contains("Variant")) << shown.toStdString();
    ASSERT_FALSE(traced.isEmpty());
    EXPECT_TRUE(traced.join(QLatin1Char('\n')).contains("locked"));   // the engine's own text, for the trace only
    backOnTheSwitch();

    // A save that cannot write its settings (a full disk) reopens the stored port too.
    dbSwitch.execute("CREATE TRIGGER no_limit BEFORE INSERT ON Variant WHEN new.varname='Limit' "
                     "BEGIN SELECT RAISE(ABORT, '磁盘已满'); END");
    script::answer("磁盘已满", platform::rOK);
    win().cmdSave_Click();
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_TRUE(lastBox().endsWith("\n已重新打开端口Com2")) << lastBox().toStdString();
    backOnTheSwitch();
}

TEST_F(SysSetOnSwitch, ADetectionThatCannotStoreThePortSaysSoAndGivesTheWindowBack) {
    portsOnly();
    platform::testing::mapPort(2, sw.slavePath());
    ModSwitch::SetVariant("CommPort", "2");
    ModSwitch::SetVariant("CommSet", "2400,N,8,1");
    frmSysSet& w = win();
    w.show();
    // Another program holds the station file for its own writing.
    platform::Database other = platform::Database::open(dbSwitch.path());
    other.execute("BEGIN IMMEDIATE");
    script::answer("自动检测失败:", platform::rOK);
    QTest::mouseClick(w.cmdTestPort, Qt::LeftButton);
    other.execute("ROLLBACK");
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_TRUE(lastBox().endsWith("\n已重新打开端口Com2")) << lastBox().toStdString();
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(key("CommSet"), "2400,N,8,1");
    ASSERT_TRUE(ModComm::ComA().PortOpen());
    EXPECT_EQ(ModComm::ComA().Settings(), "2400,N,8,1");
    EXPECT_EQ(w.cboComset[1]->currentText(), "2400");
    // The box that writes at once fails the same way, and the choice in force stays.
    other.execute("BEGIN IMMEDIATE");
    script::answer("保存端口选择失败:", platform::rOK);
    QTest::mouseClick(w.chkUsb, Qt::LeftButton);
    other.execute("ROLLBACK");
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_FALSE(w.chkUsb->isChecked());
    EXPECT_FALSE(ModComm::UsbCollectorChosen());
    EXPECT_EQ(key("CHKUSEUSB"), "0");
}

TEST_F(SysSetOnSwitch, ASaveOnAPortThatWillNotOpenKeepsThePortThatWorked) {
    ASSERT_NO_FATAL_FAILURE(onCom2());
    const QString limit = key("Limit");
    win().cboComset[0]->setCurrentIndex(2);   // Com3: nothing there
    win().txtTime[0]->setText("5");
    script::answer("", platform::rOK);
    win().cmdSave_Click();
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_FALSE(lastBox().isEmpty());
    EXPECT_EQ(key("CommPort"), "2");
    EXPECT_EQ(key("Limit"), limit);
    backOnTheSwitch();
}

TEST_F(SysSetOnSwitch, ReadingTheSwitchGivesOneMessageForEachOutcome) {
    enum Got { Read, NotSet, NoAnswer };
    const QByteArray limits = sim::fromHex("8D12012C000000000000000000000000FFFF");
    const QByteArray selCmd = sim::fromHex("A80E12345FFFBC1FFFFFFFFFFFA0");
    struct Case {
        Got limits, sel;
        const char* message;
    } const cases[] = {
        {Read, Read, "上传系统参数成功"},       {Read, NotSet, "集团电话没有设置连选命令"},
        {Read, NoAnswer, "上传连选命令数失败"}, {NotSet, Read, "集团电话没有设置限时参数"},
        {NotSet, NotSet, "集团电话没有设置系统参数"}, {NotSet, NoAnswer, "集团电话没有设置限时参数"},
        {NoAnswer, Read, "上传限时参数失败"},   {NoAnswer, NotSet, "集团电话没有设置连选命令"},
        {NoAnswer, NoAnswer, "上传系统参数失败"},
    };
    const QString storedLimit = key("Limit"), storedSel = key("SelCmd");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        sw.clearRules();
        sw.clearTables();
        if (c.limits == Read) sw.setRow(sim::tables::Limits, 0, limits);
        if (c.sel == Read) sw.setRow(sim::tables::SelCmd, 0, selCmd);
        if (c.limits == NoAnswer) sw.addRule("8D0300", sim::Reply::Silent, -1);
        if (c.sel == NoAnswer) sw.addRule("A80300", sim::Reply::Silent, -1);
        frmSysSet::unload();
        for (QLineEdit* t : win().txtTime) t->setText("7");
        win().txtSelect[0]->setText("9");
        script::answer(QString::fromUtf8(c.message), platform::rOK);
        win().cmd_Click(1);
        EXPECT_EQ(lastBox(), QString::fromUtf8(c.message));
        EXPECT_EQ(win().txtTime[0]->text(), c.limits == Read ? "300" : "7");
        EXPECT_EQ(win().txtTime[7]->text(), c.limits == Read ? "65535" : "7");
        EXPECT_EQ(win().txtSelect[0]->text(), c.sel == Read ? "12345" : "9");
        if (c.sel == Read) {
            EXPECT_EQ(win().txtSelect[1]->text(), "*#");
            EXPECT_EQ(win().txtSelect[2]->text(), "1");
            EXPECT_EQ(win().cboSel[0]->currentIndex(), 1);
            EXPECT_EQ(win().cboSel[1]->currentIndex(), 1);
        }
        EXPECT_TRUE(win().isEnabled());
    }
    EXPECT_EQ(script::pendingAnswers(), 0);
    // Only the save stores what was read.
    EXPECT_EQ(key("Limit"), storedLimit);
    EXPECT_EQ(key("SelCmd"), storedSel);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from tab_oplog where f_memo=?", {QStringLiteral("上传系统参数")}).toInt(), 1);
}

TEST_F(SysSetOnSwitch, DownloadsSendTheStoredSettingsAndTheWindowSwitchesTheReportsOffAndOn) {
    ModSwitch::SetVariant("Limit", "300,1,2,3,4,5,6,7");
    ModSwitch::SetVariant("SelCmd", "*12#,9,5,1,0");
    const size_t before = sw.receivedCount();
    win();
    ASSERT_TRUE(sw.waitFor("84040000", 2000, [] { platform::YieldEvents(); }, before)) << "no report stop on opening";
    win().txtTime[0]->setText("999");
    win().txtSelect[0]->setText("77");
    script::answer("下载系统参数成功", platform::rOK);
    win().cmd_Click(0);
    EXPECT_EQ(sw.row(sim::tables::Limits, 0).value_or(QByteArray()).mid(2, 4).toHex(), "012c0001");
    EXPECT_EQ(sw.row(sim::tables::SelCmd, 0).value_or(QByteArray()).mid(2, 5).toHex(), "b12cffff9f");

    script::answer("下载系统时间有可能产生异常话单", platform::rYes);
    script::answer("下载系统时间成功", platform::rOK);
    win().cmd_Click(2);
    EXPECT_FALSE(sw.receivedWith("8509").empty());
    EXPECT_EQ(script::pendingAnswers(), 0);

    CurTable = "MonCard";
    const size_t closing = sw.receivedCount();
    win().cmdExit_Click();
    EXPECT_TRUE(sw.waitFor("84040101", 2000, [] { platform::YieldEvents(); }, closing));
}

}  // namespace
