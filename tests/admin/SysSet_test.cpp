#include "admin/frmSysSet.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "platform/Comm.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QInputMethodEvent>
#include <QTimer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QFocusEvent>
#include <QTest>

using namespace ModDefine;
namespace script = platform::script;

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

}  // namespace
