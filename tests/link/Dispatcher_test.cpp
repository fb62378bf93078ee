#include "LinkTestSupport.h"

#include "console/frmPABX.h"
#include "core/Deposit.h"
#include "core/Settings.h"
#include "core/books/ChargeLog.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

#include <QDialog>

using namespace linktest;
using namespace ModComm;

namespace {

class DispatcherTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        openDatabases();
        dbSwitch.execute("create table if not exists user (userid LONG NOT NULL DEFAULT 0, remain CURRENCY NOT NULL "
                         "DEFAULT 0, overdraft CURRENCY NOT NULL DEFAULT 0)");
        dbSwitch.execute("create table if not exists ExtDepositHistory (ChangeDate DATETIME, ExtAddr INTEGER, "
                         "ChangeValue CURRENCY, WorkerID TEXT(4), ChangeType BYTE, PRIMARY KEY (ChangeDate, ExtAddr))");
        g_NoAnswerCount = 10;   // answers are sent without waiting
        platform::testing::setNow([] { return QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)); });
    }
    static void deal(const QString& hexWithoutSum) {
        const QByteArray f = bytes(withSum(hexWithoutSum));
        DealFrame(f, FindFrame(f));
    }
    void setUser(int userid, const char* remain) {
        dbSwitch.execute("delete from user where userid=?", {userid});
        dbSwitch.execute("insert into user (userid, remain) values(?, ?)",
                         {userid, *platform::Currency::parse(QString::fromLatin1(remain))});
    }
    // A deposit event of extension `addr`, 06-14 09:30:15, amount in fen, type byte.
    static QString deposit(int addr, int fen, int type) {
        return "961D00" + ByteToHex(addr) + QString("00").repeated(13) + "0614093015" + LongToHex(fen, 6) + "000000" +
               ByteToHex(type);
    }
};


TEST_F(DispatcherTest, UnansweredEndFrameProbeAnswerAndAShortFrameAreAcknowledged) {
    deal("9607" + QString("00").repeated(5));
    deal("950B" + QString("00").repeated(9));
    EXPECT_EQ(takeSent(), (QStringList{withSum("820300"), withSum("820300")}));
    // A balance query that stops after its extension: acknowledged, then dropped.
    deal("A1070005");
    EXPECT_EQ(traceLines().last(), QStringLiteral("Handle Error :应答帧太短"));
    EXPECT_EQ(takeSent(), QStringList{withSum("820300")});
}

TEST_F(DispatcherTest, BalanceQueriesByAccountOrExtensionAreAnsweredWithTheSignBitAndClamped) {
    dbSwitch.execute("update Account set account='1234', userid=7 where address=2048");
    setUser(7, "-1.5");
    deal("A1070000123499");
    const QStringList sent = takeSent();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0], withSum("820300"));
    EXPECT_EQ(sent[1], withSum("950810" "00" "80" "00" "96" "99"));
    dbSwitch.execute("update Extension set userid=9 where Address=5");
    setUser(9, "1234.56");
    deal("A1070005FFFF01");
    EXPECT_EQ(takeSent().value(1), withSum("950810" "05" "01" "E2" "40" "01"));   // 123456 fen
    deal("A1070077FFFF02");   // extension 119 has no paying user
    EXPECT_EQ(takeSent().value(1), withSum("950810" "77" "00" "00" "00" "02"));
    // A balance beyond the frame is clamped, not wrapped.
    EXPECT_EQ(BalanceAnswer(0x800000, 1, 2), "950810" "01" "7F" "FF" "FF" "02");
    EXPECT_EQ(BalanceAnswer(-0x1000000, 1, 2), "950810" "01" "FF" "FF" "FF" "02");
}

// A charge logged that the station file has not taken yet (it refused its
// part) is in the balance the switch is told and in the deposit grade.
TEST_F(DispatcherTest, BalanceQueryAndDepositGradeCountAChargeWaitingInTheLog) {
    setUser(3, "5");
    dbSwitch.execute("update Extension set userid=3 where Address=5");
    ModSwitch::SetVariant("Deposit0", "4.50");
    ModSwitch::CreateChargeLog(dbPhoneCur);
    ModSwitch::SetVariant(ModSwitch::kChargeMark, "0");
    dbPhoneCur.execute(QStringLiteral("INSERT INTO %1 (f_seq, f_kind, f_userid, f_amount, f_balance) VALUES (1, 0, 3, ?, ?)")
                           .arg(dbPhoneCur.qualified(ModSwitch::kChargeLog)),
                       {platform::Currency::fromYuan(1), platform::Currency::fromYuan(4)});
    deal("A1070005FFFF42");
    EXPECT_EQ(takeSent().value(1), withSum("950810" "05" "00" "01" "90" "42"));   // 400 fen
    EXPECT_EQ(ModGeneral::GetDepositGrade(3), 2);
}

TEST_F(DispatcherTest, StatusFramesAreKeptBadIndexesTracedAndLiveCallsReachTheEngineOnlyWhenMonitored) {
    const QString card = "990B03" + QString("01").repeated(8);
    deal(card);
    EXPECT_EQ(CardStates[3].Data, bytes(withSum(card)));
    const QVector<StatusFrame> before = CardStates;
    deal("990B12" + QString("01").repeated(8));
    ASSERT_EQ(CardStates.size(), 18);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(CardStates[i].Data, before[i].Data);
    EXPECT_TRUE(traceLines().last().startsWith("Handle Error :"));
    deal("970A10" + QString("01").repeated(7));
    EXPECT_TRUE(traceLines().last().startsWith("Handle Error :"));
    // Live calls reach the engine only when monitored.
    const QString live = "A011" + QString("01").repeated(15);
    deal(live);
    EXPECT_TRUE(sink->monitors.isEmpty());
    g_MonitorOn = true;
    deal(live);
    ASSERT_EQ(sink->monitors.size(), 1);
    EXPECT_EQ(sink->monitors[0], bytes(withSum(live)));
    EXPECT_TRUE(takeSent().isEmpty());
}

TEST_F(DispatcherTest, AnnouncementDuringATransferIsOnlyAcknowledged) {
    QDialog progress;
    progress.setObjectName("frmProgress");
    progress.show();
    deal("830300");
    EXPECT_EQ(takeSent(), QStringList{withSum("820300")});
    progress.hide();
    CurTable = "PortMonitor";
    deal("830300");
    const QStringList sent = takeSent();
    ASSERT_EQ(sent.size(), 4);
    EXPECT_EQ(sent[1], withSum("8509" "46" "06" "15" "10" "00" "00" "01"));
    EXPECT_EQ(sent[2], withSum("84040100"));
}

TEST_F(DispatcherTest, DepositEventIsStoredAndShown) {
    CurTable = "ExtDepositHistory";
    frmPABX::instance().fgDisp->setFormatString("时间|分机|金额|员工|类型");
    frmPABX::instance().fgDisp->setRows(2);
    deal(deposit(5, 500, 0x0A));
    EXPECT_EQ(takeSent(), QStringList{withSum("820302")});
    platform::Recordset rs = dbSwitch.query("select * from ExtDepositHistory");
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.str("ChangeDate"), "2026-06-14 09:30:15");
    EXPECT_EQ(rs.lng("ExtAddr"), 5);
    EXPECT_EQ(rs.cur("ChangeValue"), platform::Currency::fromYuan(5));
    EXPECT_EQ(rs.lng("ChangeType"), 0);
    platform::FlexGrid& g = *frmPABX::instance().fgDisp;
    ASSERT_EQ(g.Rows(), 2);   // the empty first row made way
    EXPECT_EQ(g.TextMatrix(1, 0), "2026-06-14 09:30:15");
    EXPECT_EQ(g.TextMatrix(1, 1), "E0005");
    EXPECT_EQ(g.TextMatrix(1, 2), "5.00");
    EXPECT_EQ(g.TextMatrix(1, 4), "累计");
    EXPECT_TRUE(sink->records.isEmpty());
    frmPABX::unload();
}

TEST_F(DispatcherTest, ResentDepositCountsAsStoredAndEventsOfALaterMonthWereLastYears) {
    deal(deposit(6, 250, 0x1A));
    deal(deposit(6, 250, 0x1A));
    EXPECT_EQ(takeSent(), (QStringList{withSum("820302"), withSum("820302")}));
    EXPECT_EQ(dbSwitch.scalar("select count(*) from ExtDepositHistory").toInt(), 1);
    EXPECT_EQ(RecordErrCount, 0);
    // The same key with another amount is a real conflict.
    deal(deposit(6, 300, 0x1A));
    EXPECT_EQ(takeSent(), QStringList{withSum("820303")});

    // An event of a later month was last year's; a month 13 is refused.
    platform::testing::setNow([] { return QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0)); });
    deal(deposit(8, 100, 0x0A));
    EXPECT_EQ(dbSwitch.scalar("select ChangeDate from ExtDepositHistory where ExtAddr=8").toString(), "2025-06-14 09:30:15");
    QString bad = deposit(9, 100, 0x0A);
    bad.replace(34, 2, "13");   // month 13
    deal(bad);
    EXPECT_EQ(takeSent().last(), withSum("820303"));
}

TEST_F(DispatcherTest, FailingDepositsAreGivenUpOnTheThird) {
    dbSwitch.execute("drop table ExtDepositHistory");
    for (int i = 0; i < 3; ++i) deal(deposit(7, 321, 0x0A));
    EXPECT_EQ(takeSent(), (QStringList{withSum("820303"), withSum("820303"), withSum("820302")}));
    EXPECT_EQ(RecordErrCount, 0);
    EXPECT_EQ(traceLines().filter("押金事件未能写入押金历史, 已放弃: 96 1D").size(), 1);
    // What was given up stays: its frame in the record error log, the event as a reject row.
    EXPECT_EQ(pricing::RecordErrorLog().filter("押金事件未能写入押金历史, 已放弃: 96 1D 00 07").size(), 1);
    EXPECT_EQ(dbPhoneCur.scalar("select count(*) from " + dbPhoneCur.qualified("tab_errPh") + " where f_calladdr=7").toInt(),
              1);
    // The row says what it is, its amount as money, and keeps the whole frame.
    platform::Recordset rs = dbPhoneCur.query("select * from " + dbPhoneCur.qualified("tab_errPh"));
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.str("f_long"), "3.21");
    EXPECT_EQ(rs.str("f_resp"), "押金事件累计:" + deposit(7, 321, 0x0A));
}

TEST_F(DispatcherTest, TheFrameHandledIsAnsweredBeforeTheFramesQueuedBehindIt) {
    g_NoAnswerCount = 0;   // the deposit's answer waits for its acknowledgement
    {
        ScriptedSwitch sw([](const QString& f) { return f.startsWith("820302") ? QStringList{"820300"} : QStringList{}; });
        // A deposit event, then at once a call record with a wrong sum.
        QString bad = withSum(deposit(3, 100, 0x01));
        bad.replace(bad.size() - 2, 2, bad.endsWith("00") ? "01" : "00");
        receive(withSum(deposit(5, 500, 0x0A)) + bad);
        ProcessComm();
        ProcessComm();
        sw.pass();
        EXPECT_EQ(sw.seen, (QStringList{withSum("820302"), withSum("820303")}));
        EXPECT_EQ(dbSwitch.scalar("select count(*) from ExtDepositHistory").toInt(), 1);
    }

    // An acknowledgement that was on the line behind the event belongs to an
    // earlier order: the answer's wait does not take it for its own.
    ScriptedSwitch refusing([](const QString& f) { return f.startsWith("820302") ? QStringList{"820303"} : QStringList{}; });
    receive(withSum(deposit(6, 500, 0x0A)) + withSum("820300"));
    ProcessComm();
    refusing.pass();
    EXPECT_EQ(refusing.seen, (QStringList{withSum("820302"), withSum("820302")}));   // refused: sent again
    EXPECT_EQ(traceLines().filter("无人等待的确认: 82 03 00").size(), 1);
}

}  // namespace
