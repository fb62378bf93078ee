#include "LinkTestSupport.h"

using namespace linktest;
using namespace ModComm;

namespace {

class WaitsTest : public LinkTest {};

TEST_F(WaitsTest, NotHexSendsNothingAndASilentLinkSendsOnceWithoutWaiting) {
    EXPECT_EQ(SendOrder("80G300", true, 4, true), 0);
    EXPECT_TRUE(takeSent().isEmpty());
    EXPECT_TRUE(traceLines().isEmpty());
    g_NoAnswerCount = 10;
    const qint64 before = tick;
    EXPECT_EQ(SendOrder("800300", true, 4, true), 0);
    EXPECT_LT(tick - before, 100);
    EXPECT_EQ(takeSent(), QStringList{withSum("800300")});
}

TEST_F(WaitsTest, ClockOrderLayoutAndAYearItCannotCarryIsRefused) {
    EXPECT_EQ(ClockOrder(QDateTime(QDate(2024, 5, 6), QTime(14, 7, 9))), "85094405061407" "09" "01");
    EXPECT_EQ(ClockOrder(QDateTime(QDate(2024, 5, 12), QTime(0, 0, 0))), "85094405120000" "00" "07");
    EXPECT_EQ(ClockOrder(QDateTime(QDate(1980, 1, 1), QTime(0, 0, 0))).mid(4, 2), "00");
    EXPECT_EQ(ClockOrder(QDateTime(QDate(2079, 12, 31), QTime(23, 59, 59))).mid(4, 2), "99");
    EXPECT_EQ(ClockOrder(QDateTime(QDate(1979, 12, 31), QTime(23, 59, 59))), "");
    EXPECT_EQ(ClockOrder(QDateTime(QDate(2080, 1, 1), QTime(0, 0, 0))), "");
    g_NoAnswerCount = 10;
    EXPECT_EQ(SendOrder("8509" "100101000000" "0103", false, 4, true), 0);   // year 2080 written "100"
    EXPECT_EQ(SendOrder("8509" "F10101000000" "01", false, 4, true), 0);
    EXPECT_TRUE(takeSent().isEmpty());
    EXPECT_TRUE(traceLines().last().contains("时钟命令无效"));
    EXPECT_EQ(SendOrder("8509" "990101000000" "01", false, 4, true), 0);
    EXPECT_EQ(takeSent(), QStringList{withSum("8509" "990101000000" "01")});
}




TEST_F(WaitsTest, NoAnswerGivesTwoAfterTwoTimeOutsAcrossMidnight) {
    platform::testing::setNow([] { return QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58)); });
    ScriptedSwitch sw([&](const QString&) { return QStringList{}; });
    const qint64 before = tick;
    EXPECT_EQ(SendOrder("800300", true, 4, true), 2);
    EXPECT_GE(tick - before, 8000);
    EXPECT_LT(tick - before, 8200);
    EXPECT_EQ(sw.seen.size(), 2);
    // A late acknowledgement completes nothing.
    receive(withSum("820300"));
    ProcessComm();
    for (const AckSlot& s : AckRing) EXPECT_EQ(s.Pending, 0);
}

TEST_F(WaitsTest, AcknowledgementCompletesTheOlderOfTwoNestedSends) {
    int inner = -1;
    bool started = false;
    int acks = 0;
    ScriptedSwitch sw([&](const QString& f) {
        QStringList out;
        if (f == withSum("800300") && !started) {
            started = true;
            // The operator's click runs inside the first wait and sends again.
            QTimer::singleShot(0, [&] { inner = SendOrder("800301", true, 4, true); });
        }
        if (f == withSum("800301") && acks++ < 2) out << "820300";
        return out;
    });
    EXPECT_EQ(SendOrder("800300", true, 4, true), 1);
    EXPECT_EQ(inner, 1);
    // The first acknowledgement went to the older send, so the inner one was sent twice.
    EXPECT_EQ(sw.seen, (QStringList{withSum("800300"), withSum("800301"), withSum("800301")}));
}

TEST_F(WaitsTest, AnAcknowledgementSentTwiceOrLateCompletesNoLaterSend) {
    const auto spares = [] { return frmSRV::instance().lstRec->lines().filter("无人等待的确认: 82 03 00 85").size(); };
    {
        // Both copies come in one read; the next order is never acknowledged.
        ScriptedSwitch sw([&](const QString& f) {
            if (f == withSum("800300")) return QStringList{"820300", "820300"};
            return QStringList{};
        });
        EXPECT_EQ(SendOrder("800300", true, 4, true), 1);
        EXPECT_EQ(SendOrder("800301", true, 4, true), 2);
        EXPECT_EQ(spares(), 1);
    }
    {
        // The first attempt's acknowledgement comes 200 ms after its wait; the resend's at once.
        const qint64 start = tick;
        bool lateSent = false;
        QTimer late;
        late.setInterval(0);
        QObject::connect(&late, &QTimer::timeout, [&] {
            if (!lateSent && tick - start >= 4200) {
                lateSent = true;
                receive(withSum("820300"));
            }
        });
        late.start();
        int sends = 0;
        ScriptedSwitch sw([&](const QString& f) {
            if (f == withSum("800300") && ++sends == 2) return QStringList{"820300"};
            return QStringList{};
        });
        EXPECT_EQ(SendOrder("800300", true, 4, true), 1);
        EXPECT_TRUE(lateSent);
        EXPECT_EQ(SendOrder("800301", true, 4, true), 2);
        EXPECT_EQ(spares(), 2);
        EXPECT_EQ(sw.seen, (QStringList{withSum("800300"), withSum("800300"), withSum("800301"), withSum("800301")}));
    }
}

TEST_F(WaitsTest, CallRecordDuringAWaitIsDispatchedInsideIt) {
    const QString rec = "961D" + QString("44").repeated(26) + "01";
    ScriptedSwitch sw([&](const QString& f) {
        if (f == withSum("800300")) return QStringList{rec, "820300"};
        return QStringList{};
    });
    bool waiting = false;
    sink->onRecord = [&] { waiting = AckRing[0].Busy; };
    EXPECT_EQ(SendOrder("800300", true, 4, true), 1);
    ASSERT_EQ(sink->records.size(), 1);
    EXPECT_TRUE(waiting);
    EXPECT_TRUE(sw.seen.contains(withSum("820302")));
}

TEST_F(WaitsTest, ThirtyFirstWaitIsRefusedNotOverwritten) {
    for (int i = 0; i < kMaxWaits; ++i) {
        AckRing[i].Busy = true;
        AckRing[i].Pending = -1;
        AckRing[i].Seq = 1 + i;
    }
    EXPECT_EQ(SendOrder("800300", true, 4, true), 0);
    EXPECT_TRUE(takeSent().isEmpty());
    EXPECT_TRUE(traceLines().last().contains("等待已满"));
    for (int i = 0; i < kMaxWaits; ++i) EXPECT_EQ(AckRing[i].Pending, -1);
    // An acknowledgement still finds the oldest of them.
    DealFrame(bytes(withSum("820300")), 12);
    EXPECT_EQ(AckRing[0].Pending, 0);
    EXPECT_EQ(AckRing[1].Pending, -1);

    for (int i = 0; i < kMaxWaits; ++i) {
        AnswerRing[i].Busy = true;
        AnswerRing[i].Code = "950B";
    }
    QByteArray answer;
    EXPECT_EQ(GetOrder(answer, "961D", false, "", 5), 0);
    EXPECT_EQ(AnswerRing[kMaxWaits].Code, "");
}

TEST_F(WaitsTest, AskWithoutOrderWaitsAndAcknowledges) {
    const QString answerFrame = "950B" + QString("05").repeated(9);
    bool asked = false;
    ScriptedSwitch sw([&](const QString&) { return QStringList{}; });
    QTimer::singleShot(0, [&] {
        asked = AnswerRing[0].Code == "950B";
        receive(withSum(answerFrame));
    });
    QByteArray answer;
    EXPECT_EQ(GetOrder(answer, "950B", false, "", 5), 2);
    EXPECT_TRUE(asked);
    EXPECT_EQ(answer, bytes(withSum(answerFrame)));
    sw.pass();
    EXPECT_EQ(sw.seen, QStringList{withSum("820300")});
    EXPECT_TRUE(AnswerRing[0].Code.isEmpty());
    EXPECT_FALSE(AnswerRing[0].Busy);
}

TEST_F(WaitsTest, RecordAskNeverAcknowledgesAndEndsOnTheEndFrame) {
    const QString rec = "961D" + QString("55").repeated(26) + "01";
    ScriptedSwitch sw([&](const QString&) { return QStringList{}; });
    QTimer::singleShot(0, [&] { receive(withSum(rec)); });
    QByteArray answer;
    EXPECT_EQ(GetOrder(answer, "961D", false, "", 5), 2);
    EXPECT_EQ(answer, bytes(withSum(rec)));
    EXPECT_TRUE(sink->records.isEmpty());   // the ask took it, not the engine
    QTimer::singleShot(0, [&] { receive(withSum("96070000000000")); });
    EXPECT_EQ(GetOrder(answer, "961D", false, "", 5), 1);
    EXPECT_EQ(answer, bytes(withSum("96070000000000")));
    sw.pass();
    EXPECT_TRUE(sw.seen.isEmpty());
}

TEST_F(WaitsTest, AskTimesOutAndReleasesItsSlotAndTheTableEndAnswersAFlaggedAsk) {
    QByteArray answer = "x";
    const qint64 before = tick;
    EXPECT_EQ(GetOrder(answer, "8E04", false, "8E0400", 5), 0);
    EXPECT_GE(tick - before, 5000);
    EXPECT_EQ(answer, "x");
    EXPECT_EQ(takeSent(), QStringList{withSum("8E0400")});
    for (const AnswerSlot& s : AnswerRing) EXPECT_FALSE(s.Busy);
    // The table's end answers a flagged ask.
    QTimer::singleShot(0, [&] { receive(withSum("810300")); });
    EXPECT_EQ(GetOrder(answer, "8B16", true, "", 5), 1);
    EXPECT_EQ(answer, bytes(withSum("810300")));
}

}  // namespace
