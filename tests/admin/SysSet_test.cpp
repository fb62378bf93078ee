// The settings window: its fields, their checks and the save; its commands
// against the switch simulator on a pseudo-terminal: port detection, reading
// the switch's system parameters, the download buttons and the monitor orders.
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

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QMenu>
#include <QInputMethodEvent>
#include <QTimer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QFocusEvent>
#include <QTest>

using namespace ModDefine;
namespace script = platform::script;
using testsupport::lastBox;

namespace {

class SysSetTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerRights = QStringList{QStringLiteral("0")};
        ModSwitch::LoadSysPara();
        ModSwitch::SetVariant("CHKUSEUSB", "1");   // no serial device on a test machine
    }
    void TearDown() override {
        frmSysSet::unload();
        StationDbTest::TearDown();
    }
    frmSysSet& win() { return frmSysSet::instance(); }
    // The window shown and active, as the operator's keys find it.
    frmSysSet& activeWindow() {
        frmSysSet& w = win();
        w.show();
        w.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
        return w;
    }
    QString key(const char* k) { return ModSwitch::GetVariant(QString::fromLatin1(k)); }
};

TEST_F(SysSetTest, SaveStoresEveryFieldInItsForm) {
    win().cboComset[0]->setCurrentIndex(2);
    win().cboComset[2]->setCurrentIndex(2);   // "N -无"
    win().chkCity->setChecked(true);
    win().chkPage->setChecked(true);
    win().optFee[1]->setChecked(true);
    win().txtTime[0]->setText("300");
    win().txtSelect[0]->setText("*12#");
    win().cboSel[0]->setCurrentIndex(1);
    win().cmdSave_Click();
    EXPECT_EQ((QStringList{key("CommPort"), key("CommSet"), key("SHPrnHD"), key("PrnType"), key("FeeType"), key("CHKUSEUSB")}),
              (QStringList{"3", "9600,N,8,1", "False", "True", "1", "1"}));
    EXPECT_TRUE(key("Limit").startsWith("300,"));
    EXPECT_TRUE(key("SelCmd").startsWith("*12#,"));
    EXPECT_TRUE(key("SelCmd").endsWith(",1,0"));
    EXPECT_FALSE(ModComm::ComA().PortOpen());
    EXPECT_EQ(FeeType, 1);
    EXPECT_TRUE(win().isEnabled());
}

TEST_F(SysSetTest, AnyBadFieldIsRefusedBeforeAnythingChanges) {
    const QString limit = key("Limit");
    win().cboComset[0]->setCurrentIndex(4);
    win().txtTime[0]->setText("1");
    win().txtMinHoldonTime->setText("9e99");
    script::answer("溢出", platform::rOK);
    win().cmdSave_Click();
    EXPECT_EQ(key("Limit"), limit);
    EXPECT_EQ(key("CommPort"), "1");
    EXPECT_EQ(ModComm::ComA().CommPort(), 1);

    // Four data bits: the port cannot take them.
    win().txtMinHoldonTime->setText("0");
    win().cboComset[3]->setCurrentIndex(0);
    script::answer("无效的端口设置", platform::rOK);
    win().cmdSave_Click();
    EXPECT_EQ(key("CommPort"), "1");
    EXPECT_EQ(script::pendingAnswers(), 0);
}

TEST_F(SysSetTest, FieldChecks) {
    win().txtTime[1]->setText("12abc");
    EXPECT_TRUE(win().txtTime_LostFocus(1));
    EXPECT_EQ(win().txtTime[1]->text(), "12");
    win().txtTime[1]->setText("70000");
    script::answer("请输入0-65535之间的数值", platform::rOK);
    EXPECT_FALSE(win().txtTime_LostFocus(1));

    // The same amount typed again is no change; another amount is.
    QLineEdit* d = win().txtDeposit[0];
    d->setText("100.00");
    auto retype = [d](const char* text) {
        QFocusEvent in(QEvent::FocusIn), out(QEvent::FocusOut);
        QCoreApplication::sendEvent(d, &in);
        d->setText(text);
        QCoreApplication::sendEvent(d, &out);
    };
    retype("100");
    EXPECT_FALSE(win().depositChanged());
    EXPECT_EQ(d->text(), "100.00");
    retype("abc");
    EXPECT_TRUE(win().depositChanged());
    EXPECT_EQ(d->text(), "0.00");
    EXPECT_EQ(script::pendingAnswers(), 0);
}

// A fresh station has no transfer command: entering its field and leaving
// it, or closing the window from it, is no fault.
TEST_F(SysSetTest, EmptyTransferCommandsLetTheFocusGoAndTheWindowClose) {
    ModSwitch::SetVariant("SelCmd", ",,,0,0");
    frmSysSet& w = activeWindow();
    QTest::mouseClick(w.txtSelect[0], Qt::LeftButton);
    ASSERT_TRUE(w.txtSelect[0]->hasFocus());
    QTest::mouseClick(w.txtSelect[1], Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.txtSelect[1]->hasFocus());

    // A letter is refused and the text the field had when entered comes back, focus kept.
    QTest::keyClicks(w.txtSelect[1], "*#9");   // two characters at most
    QTest::mouseClick(w.txtSelect[2], Qt::LeftButton);
    QTest::keyClicks(w.txtSelect[2], "9x");
    script::answer("请输入0-9,*,#之中组合的数据", platform::rOK);
    QTest::mouseClick(w.txtSelect[0], Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.txtSelect[2]->text(), "");
    EXPECT_TRUE(w.txtSelect[2]->hasFocus());
    EXPECT_EQ(script::pendingAnswers(), 0);

    // The save takes the empty fields the field check lets go.
    w.cmdSave_Click();
    EXPECT_EQ(key("SelCmd"), ",*#,,0,0");
    QTest::mouseClick(w.cmdExit, Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(script::shown().size(), 1);
}

TEST_F(SysSetTest, TheShortestTalkTimeIsAFiniteWholeNumber) {
    const QString stored = key("FeeHDTime");
    for (const char* bad : {"nan", "inf", "-inf", "2.5", "abc"}) {
        win().txtMinHoldonTime->setText(bad);
        script::answer("请输入数值", platform::rOK);
        EXPECT_FALSE(win().txtMinHoldonTime_LostFocus()) << bad;
        script::answer("请输入数值", platform::rOK);
        win().cmdSave_Click();
        EXPECT_EQ(key("FeeHDTime"), stored) << bad;
    }
    win().txtMinHoldonTime->setText("1e1");
    EXPECT_TRUE(win().txtMinHoldonTime_LostFocus());
    win().cmdSave_Click();
    EXPECT_EQ(key("FeeHDTime"), "10");
    EXPECT_EQ(FeeHDTime, 10);
    EXPECT_EQ(script::pendingAnswers(), 0);
}

TEST_F(SysSetTest, ADepositFieldTakesFiveCharactersTypedPastedOrCommittedAndShowsLongerAmounts) {
    ModSwitch::SetVariant("Deposit0", "12345.5");
    EXPECT_EQ(win().txtDeposit[0]->text(), "12345.50");
    frmSysSet& w = activeWindow();
    QLineEdit* d = w.txtDeposit[1];
    QTest::mouseClick(d, Qt::LeftButton);
    d->selectAll();
    QTest::keyClicks(d, "1234567");
    EXPECT_EQ(d->text(), "12345");
    QTest::keyClick(d, Qt::Key_Backspace);
    QTest::keyClicks(d, ".5");
    EXPECT_EQ(d->text(), "1234.");
    QTest::mouseClick(w.txtDeposit[0], Qt::LeftButton);
    EXPECT_EQ(d->text(), "1234.00");
    // A longer amount shown is kept, and shortened by the keys that remove text.
    QTest::keyClick(w.txtDeposit[0], Qt::Key_End);
    QTest::keyClick(w.txtDeposit[0], Qt::Key_Backspace);
    EXPECT_EQ(w.txtDeposit[0]->text(), "12345.5");

    // A paste is held to the typed limit.
    d = w.txtDeposit[2];
    QTest::mouseClick(d, Qt::LeftButton);
    d->selectAll();
    QGuiApplication::clipboard()->setText("123456789012");
    QTest::keyClick(d, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(d->text(), "12345");
    // Into what is left of a field: only what fits.
    d->setSelection(1, 3);
    QTest::keyClick(d, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(d->text(), "11235");
    QTest::keyClick(d, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(d->text(), "11235");
    // The paste of the field's own menu too.
    d->setSelection(0, 4);
    // The menu is answered once it is up (it may be shown in a loop of its
    // own): looked for from the event loop until it is.
    bool pasted = false, answered = false;
    QTimer look;
    look.setInterval(10);
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || answered) return;
        answered = true;
        look.stop();
        for (QAction* a : menu->actions())
            if (a->text().endsWith(QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText))) {
                a->trigger();
                pasted = true;
            }
        menu->close();
    });
    look.start();
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(2, 2), d->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(d, &menuKey);
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, 30000));
    EXPECT_TRUE(pasted);
    EXPECT_EQ(d->text(), "12345");

    // So is an input method's commit.
    d = w.txtDeposit[3];
    QTest::mouseClick(d, Qt::LeftButton);
    d->selectAll();
    QInputMethodEvent commit;
    commit.setCommitString("99999999");
    QApplication::sendEvent(d, &commit);
    EXPECT_EQ(d->text(), "99999");
    QInputMethodEvent more;
    more.setCommitString("9");
    QApplication::sendEvent(d, &more);
    EXPECT_EQ(d->text(), "99999");
    QTest::mouseClick(w.txtDeposit[0], Qt::LeftButton);
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    EXPECT_EQ(key("Deposit3"), "99999.00");
}

TEST_F(SysSetTest, ASaveThatFailsPartwayStoresNothingAndPutsNothingInForce) {
    const QString limit = key("Limit");
    const QString hold = key("FeeHDTime");
    const int holdInForce = FeeHDTime;
    frmSysSet& w = win();
    w.show();
    w.txtTime[0]->setText("7");
    w.txtMinHoldonTime->setText("30");
    // The disk fills up after the first keys went.
    dbSwitch.execute("CREATE TRIGGER full_disk BEFORE INSERT ON Variant WHEN new.varname='PrnHD' "
                     "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    script::answer("保存系统参数失败:磁盘已满，无法写入数据库", platform::rOK);
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(key("FeeHDTime"), hold);
    EXPECT_EQ(key("Limit"), limit);
    EXPECT_EQ(FeeHDTime, holdInForce);
    EXPECT_TRUE(w.isEnabled());
    // Room again: all of it is stored and in force.
    dbSwitch.execute("DROP TRIGGER full_disk");
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    EXPECT_EQ(key("FeeHDTime"), "30");
    EXPECT_EQ(FeeHDTime, 30);
    EXPECT_TRUE(key("Limit").startsWith("7,"));
}

TEST_F(SysSetTest, PickerSetsTheClockAtOnceAndARefusalIsReportedOnce) {
    const QDateTime t(QDate(2026, 6, 1), QTime(9, 0, 0));
    win().DTSysTime->setDateTime(t);
    ASSERT_EQ(platform::testing::pcClockRequests().size(), 1);
    EXPECT_EQ(platform::testing::pcClockRequests().first(), t);

    platform::testing::recordPcClock(true);
    script::answer("设置系统时间失败:", platform::rOK);
    win().DTSysTime->setDateTime(t.addSecs(60));
    EXPECT_EQ(script::pendingAnswers(), 0);
    win().cmdSave_Click();   // succeeds, and never asks for the clock again
    EXPECT_EQ(script::shown().size(), 1);
}

class SysSetOnSwitch : public SysSetTest {
protected:
    void SetUp() override {
        SysSetTest::SetUp();
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
        SysSetTest::TearDown();
    }
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
