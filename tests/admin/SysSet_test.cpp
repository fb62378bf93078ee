#include "admin/frmSysSet.h"
#include "core/ModDefine.h"
#include "core/ModSwitch.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "platform/Comm.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QCoreApplication>
#include <QFocusEvent>

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
    EXPECT_EQ(key("CommPort"), "3");
    EXPECT_EQ(key("CommSet"), "9600,N,8,1");
    EXPECT_EQ(key("SHPrnHD"), "False");
    EXPECT_EQ(key("PrnType"), "True");
    EXPECT_EQ(key("FeeType"), "1");
    EXPECT_EQ(key("CHKUSEUSB"), "1");
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

    const QString before = win().txtSelect[2]->text();
    win().txtSelect[2]->setText("");
    script::answer("请输入0-9,*,#之中组合的数据", platform::rOK);
    EXPECT_FALSE(win().txtSelect_LostFocus(2));
    EXPECT_EQ(win().txtSelect[2]->text(), before);

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
