#include "LinkTestSupport.h"

using namespace linktest;
using namespace ModComm;

namespace {

class ParserTest : public LinkTest {};

TEST_F(ParserTest, NoiseIsSkippedAndTheAnnouncementDoesNotEndSilence) {
    g_NoAnswerCount = 10;
    // Fewer than three bytes never search: the noise waits with them.
    receive("0083");
    ParseFrame();
    ParseFrame();
    EXPECT_EQ(RxCount(), 2);
    receive("030086");
    ParseFrame();
    EXPECT_EQ(RxCount(), 4);   // 00 skipped, matched at 83
    ParseFrame();
    EXPECT_EQ(RxCount(), 0);
    EXPECT_EQ(g_NoAnswerCount, 10);
    // The switch's announcement is answered and followed by clock, monitor mode and resume.
    const QStringList sent = takeSent();
    ASSERT_GE(sent.size(), 4);
    EXPECT_EQ(sent[0], "82030085");
    EXPECT_TRUE(sent[1].startsWith("8509"));
    EXPECT_EQ(sent[2], withSum("84040101"));   // the console starts on the board view
    EXPECT_EQ(sent[3], withSum("960301"));
    EXPECT_TRUE(traceLines().first().endsWith("<-83 03 00 86 "));
}

TEST_F(ParserTest, SplitFrameWaitsMatchedForItsLastByte) {
    const QString frame = withSum("950B" + QString("00").repeated(9));
    g_NoAnswerCount = 10;
    receive(frame.left(6));
    ProcessComm();
    EXPECT_EQ(g_NoAnswerCount, 10);
    receive(frame.mid(6, 14));
    ProcessComm();
    EXPECT_EQ(g_NoAnswerCount, 10);
    receive(frame.mid(20));
    ProcessComm();
    EXPECT_EQ(g_NoAnswerCount, 0);
    EXPECT_EQ(takeSent(), QStringList{"82030085"});   // nobody waited for it
}

TEST_F(ParserTest, UnknownStatusAndNoiseSlideByteByByteAndLoseNoFrame) {
    receive("8203058A" + withSum("820300"));
    for (int i = 0; i < 8; ++i) ParseFrame();
    EXPECT_EQ(RxCount(), 0);
    EXPECT_TRUE(takeSent().isEmpty());          // an acknowledgement with nobody pending is dropped ...
    ASSERT_EQ(traceLines().size(), 2);
    EXPECT_TRUE(traceLines()[1].contains("无人等待的确认: 82 03 00 85"));   // ... and noted
    // Noise mixed between frames loses no frame.
    const QString rec = withSum("961D" + QString("33").repeated(26) + "03");
    const QString port = withSum("970A05" + QString("01").repeated(7));
    receive("FF00" + rec + "1234" + port + "82");
    for (int i = 0; i < 20; ++i) ParseFrame();
    EXPECT_EQ(sink->records.size(), 1);
    EXPECT_EQ(PortStates[5].Data, bytes(port));
}

TEST_F(ParserTest, BadChecksumsAreAnsweredByFamilyAndFrameLengthsOfTheOtherModelRefused) {
    const QString rec = "961D" + QString("00").repeated(27);
    receive(rec + "00");   // wrong sum
    ProcessComm();
    EXPECT_EQ(takeSent(), QStringList{withSum("820303")});
    EXPECT_TRUE(sink->records.isEmpty());

    receive("990B" + QString("01").repeated(9) + "00");
    ProcessComm();
    EXPECT_TRUE(takeSent().isEmpty());

    receive("A107" + QString("00").repeated(5) + "00");
    ProcessComm();
    EXPECT_EQ(takeSent(), QStringList{withSum("820301")});

    QStringList lines = traceLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0].mid(8, 2), "--");
    EXPECT_EQ(lines[1].mid(8, 2), "->");

    // Frame lengths of the other model are refused.
    SwitchModel = 0;
    receive(withSum("A90C" + QString("00").repeated(10)));
    ProcessComm();
    EXPECT_EQ(takeSent(), QStringList{withSum("820301")});
    receive(withSum("A910" + QString("00").repeated(14)));
    ProcessComm();
    EXPECT_TRUE(takeSent().isEmpty());
    EXPECT_EQ(traceLines().last().mid(8, 2), "<-");
    SwitchModel = 2;
    receive(withSum("8F17" + QString("00").repeated(21)));
    ProcessComm();
    EXPECT_EQ(takeSent(), QStringList{withSum("820301")});
}

// Written across the end of the receive ring, the record still arrives whole.
TEST_F(ParserTest, GoodCallRecordGoesToTheEngine) {
    RxRead = RxWrite = kRingSize - 3;
    const QString rec = withSum("961D" + QString("11").repeated(26) + "01");
    receive(rec);
    ProcessComm();
    ASSERT_EQ(sink->records.size(), 1);
    EXPECT_EQ(sink->records[0], bytes(rec));
    EXPECT_TRUE(sink->live[0]);
    EXPECT_EQ(takeSent(), QStringList{withSum("820302")});
}

TEST_F(ParserTest, ReceiveRingNeverOverwritesUnreadBytes) {
    const QByteArray fill(3000, '\x11');
    EXPECT_EQ(PutRxBuf(fill), kRingSize - 1);
    EXPECT_EQ(RxCount(), kRingSize - 1);
    EXPECT_EQ(PutRxBuf(QByteArray(5, '\x22')), 0);
    EXPECT_EQ(RxCount(), kRingSize - 1);
    EXPECT_EQ(RxBuf[0], 0x11);
    EXPECT_TRUE(traceLines().first().contains("丢弃 953"));
    EXPECT_TRUE(traceLines().last().contains("丢弃 5"));
    // Once the parser has consumed bytes, room comes back.
    for (int i = 0; i < 10; ++i) ParseFrame();
    EXPECT_GT(PutRxBuf(bytes(withSum("830300"))), 0);
}

TEST_F(ParserTest, TransmitRingRefusesAnOrderThatDoesNotFitWhole) {
    const QString big = "9F27" + QString("AA").repeated(37) + "00";   // 40 bytes
    int queued = 0;
    while (PutTxBuf(big)) ++queued;
    EXPECT_EQ(queued, (kRingSize - 1) / 40);
    const int before = TxCount();
    EXPECT_FALSE(PutTxBuf(big));
    EXPECT_EQ(TxCount(), before);
    EXPECT_TRUE(traceLines().last().contains("命令未发送"));
    // Every queued order is still intact.
    const QStringList sent = takeSent();
    ASSERT_EQ(sent.size(), queued);
    for (const QString& s : sent) EXPECT_EQ(s, big);
    EXPECT_FALSE(PutTxBuf("83G3"));
}

}  // namespace
