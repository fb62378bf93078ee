// The station's link against the switch simulator over a pseudo-terminal:
// records priced, stored, charged once and answered.
#include "support/PricingFixture.h"

#include "console/frmPABX.h"
#include "core/books/ChargeLog.h"
#include "core/Settings.h"
#include "params/CellEdit.h"
#include "params/SavePara.h"
#include "params/ShowTable.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/Clock.h"
#include "platform/Comm.h"
#include "platform/Prompts.h"
#include "pricing/frmFeeRate.h"
#include "pricing/frmIP.h"
#include "sim/Switch.h"
#include "support/StationLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace pricingtest;

namespace {

class EndToEndTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        beforeLine();
        ASSERT_TRUE(link.open(sw));
        sw.clearReceived();
        localCaller("10.00", 0);
    }
    void TearDown() override {
        link.close();
        PricingTest::TearDown();
    }
    // What is made before the line is opened.
    virtual void beforeLine() {}
    // Runs the station until the switch has `n` answers to its records.
    bool runUntilAnswers(size_t n, int timeoutMs = 10000) {
        QElapsedTimer t;
        t.start();
        while (sw.recordAnswers().size() < n && t.elapsed() < timeoutMs) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        // The fee frame and the user's rows go before the answer: they are
        // in by the time it is counted.
        return sw.recordAnswers().size() >= n;
    }
    // The fee in fen charged for `r`, sent now: -1 when it is not answered or
    // not charged exactly once.
    long long feeOf(const sim::CallRecord& r) {
        const size_t answers = sw.recordAnswers().size(), before = sw.receivedWith(QStringLiteral("950820")).size();
        sw.sendCallRecord(r);
        if (!runUntilAnswers(answers + 1)) return -1;
        const auto fees = sw.receivedWith(QStringLiteral("950820"));
        return fees.size() == before + 1 ? sim::decodeFee(fees.back())->fen : -1;
    }
    // A live call of extension 5 on `channel` to 88001234, sent.
    void liveCall(int channel) {
        sim::LiveCall c;
        c.extAddr = 5;
        c.dialled = QStringLiteral("88001234");
        c.channel = channel;
        sw.sendLiveCall(c);
    }
    // Text typed in a cell editor and entered.
    static void enter(QWidget* editor, const QString& text) {
        static_cast<QLineEdit*>(editor)->setText(text);
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(editor, &e);
    }
    // 首次价格 of the local zone "8", typed and entered in the fee-rate window.
    static void editFirstPrice(pricing::frmFeeRate& w, const QString& text) {
        w.SSTab1->setCurrentIndex(7);
        ASSERT_EQ(w.fgFeerate->TextMatrix(1, 0), "8");
        w.fgFeerate->setRow(1);
        w.fgFeerate->setCol(3);
        w.fgFeerate_DblClick();
        enter(w.txtModify, text);
    }
    sim::CallRecord rec(int second, int seconds = 250) {
        sim::CallRecord r;
        r.extAddr = 5;
        r.called = QStringLiteral("88001234");
        r.channel = 3;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)).addSecs(second);
        r.durationSec = seconds;
        r.type = 1;
        return r;
    }
    sim::Switch sw;
    testsupport::StationLink link;
};

}  // namespace

// A run killed in the middle of a record upload leaves the switch's next
// uploaded record on the line. The next run opens the line: that record, paid
// at the payphone, is no live call of this run and charges no one; the live
// calls after it are charged as ever.
TEST_F(EndToEndTest, ARecordLeftOnTheLineByARunThatDiedIsNotChargedByTheNext) {
    platform::Comm& port = ModComm::ComA();
    port.setPortOpen(false);
    {
        // Nobody reads the line meanwhile: the record stays in it.
        const int held = ::open(sw.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(held, 0);
        sw.send(rec(0).body());
        pollfd p{held, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 2000), 1);
        ::close(held);
    }
    ASSERT_TRUE(port.setPortOpen(true));
    for (int i = 0; i < 300; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_EQ(remainOf(7), yuan("10.00"));
    EXPECT_TRUE(sw.receivedWith(QStringLiteral("820302")).empty());

    sw.sendCallRecord(rec(60));
    ASSERT_TRUE(runUntilAnswers(1));
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(remainOf(7), yuan("9.60"));
}

// The same line, the main window made before it is opened (the window
// attaches a port of its own when it is made).
class ConsoleOnLineTest : public EndToEndTest {
protected:
    void beforeLine() override { frmPABX::instance(); }
};

// A user saved in the user view while their call runs: the save sends the
// user's rows, and while it waits for the switch a call of theirs is charged
// that the station file refuses to take for now. The talk limit the save then
// weighs the balance with that charge counted, as the engine's own does.
TEST_F(ConsoleOnLineTest, AUserSavedWhileAChargeWaitsLimitsTheRunningCallByTheCountedBalance) {
    WorkerRights = QStringList{QStringLiteral("0")};
    g_MonitorOn = true;
    liveCall(6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sw.receivedWith(QStringLiteral("9207")).empty(); }, 5000));
    ASSERT_EQ(MonSlots[6].UserID, 7);
    // The station file takes no charge for now (a balance that goes down).
    dbSwitch.execute("CREATE TRIGGER refuse BEFORE UPDATE OF remain ON user WHEN new.remain<old.remain "
                     "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    // The user's extension row is acknowledged late; meanwhile a call of theirs comes.
    sw.setLateReplyMs(600);
    sw.addRule(QStringLiteral("8B16"), sim::Reply::Late);
    std::atomic<bool> sent{false};
    sw.setObserver([&](const sim::Frame& f) {
        if (f.startsWith(QStringLiteral("8B16")) && !sent.exchange(true)) sw.sendCallRecord(rec(0));
    });

    platform::FlexGrid& g = *frmPABX::instance().fgDisp;
    CurTable = QStringLiteral("User");
    ModGeneral::ShowTable(g, QStringLiteral("select * from User order by userid"),
                          QStringLiteral(">用户编号|>用户名称|>上次结算日期|>结算方式|预付押金|押金余额|>透支额|>月租费|>所属部门|"
                                         ">打印即时话单|>闭锁"),
                          0, 2, false);
    int r = 1;
    while (r < g.Rows() && g.TextMatrix(r, 0) != QLatin1String("7")) ++r;
    ASSERT_LT(r, g.Rows());
    GridMouseCol = 6;
    GridSelFirst = GridSelLast = r;
    ModSwitch::SaveCellEdit(g, QStringLiteral("5"));
    const size_t before = sw.receivedCount();
    platform::script::answer("参数已经改变，要保存参数设置吗?", platform::rYes);
    ASSERT_TRUE(ModSwitch::SaveSwitchPara(7, true));
    sw.setObserver(nullptr);
    ASSERT_TRUE(runUntilAnswers(1));
    dbSwitch.execute("DROP TRIGGER refuse");

    // The charge waits: the balance stored is the one before it.
    EXPECT_EQ(remainOf(7), yuan("10.00"));
    const Currency counted = ModSwitch::BalanceOf(7);
    EXPECT_EQ(counted, yuan("9.60"));
    EXPECT_EQ(MonSlots[6].UserID, 7);
    EXPECT_EQ(MonSlots[6].Balance, counted + yuan("5.00"));
    // The last limit the switch has is the one the charge's own update sent.
    std::vector<sim::TalkLimit> sinceSave;
    const auto all = sw.received();
    for (size_t i = before; i < all.size(); ++i)
        if (all[i].startsWith(QStringLiteral("9207"))) sinceSave.push_back(*sim::decodeTalkLimit(all[i]));
    ASSERT_FALSE(sinceSave.empty());
    EXPECT_EQ(sinceSave.back().seconds, sinceSave.front().seconds);
}

// A tariff window opened after another one closed with edits, before any call
// came: the calls are charged from the edited tariffs, round after round. And
// while a window is open its copy holds, also when the other tariff window
// closes in the meantime and reopens the shared rates.
TEST_F(EndToEndTest, ATariffWindowHoldsTheTariffsAsTheyStoodWhenItOpened) {
    WorkerRights = QStringList{"0"};
    // The fee charged for a call placed now, the n-th call of the test.
    auto charged = [&](int n) { return feeOf(rec(n * 300)); };
    EXPECT_EQ(charged(0), 40);

    // Edited and closed, then opened again before a call: the edit is charged.
    editFirstPrice(pricing::frmFeeRate::instance(), QStringLiteral("0.9"));
    pricing::frmFeeRate::instance().cmdFeerate[4]->click();
    pricing::frmFeeRate& again = pricing::frmFeeRate::instance();
    EXPECT_EQ(charged(1), 110);
    // Edited there too and closed; the IP window opened next.
    editFirstPrice(again, QStringLiteral("0.5"));
    again.cmdFeerate[4]->click();
    pricing::frmIP& ip = pricing::frmIP::instance();
    EXPECT_EQ(charged(2), 70);

    // With the IP window open, the fee-rate window edits and closes: the
    // shared rates are reopened, the IP window's copy stays.
    editFirstPrice(pricing::frmFeeRate::instance(), QStringLiteral("0.9"));
    pricing::frmFeeRate::instance().cmdFeerate[4]->click();
    EXPECT_EQ(charged(3), 70);
    ip.cmdFeerate[4]->click();
    EXPECT_EQ(charged(4), 110);
}
