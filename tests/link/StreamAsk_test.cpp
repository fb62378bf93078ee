// A stream of records waited for from before the order that starts it (the
// payphone's record upload): which of them came before the order's
// acknowledgement is told by where they lie on the line, not by when the
// parser reached them.
#include "LinkTestSupport.h"

#include "link/ClsACK.h"
#include "link/FrameCodes.h"
#include "sim/Frames.h"

using namespace linktest;
using namespace ModComm;

namespace {

QString recordHex(int minute) {
    sim::CallRecord r;
    r.extAddr = 5;
    r.called = "88001234";
    r.start = QDateTime(QDate(2026, 6, 10), QTime(9, minute, 0));
    r.durationSec = 65;
    return QString::fromLatin1(r.body().toHex().toUpper());
}

class StreamAskTest : public LinkTest {};

// Records sent live before the acknowledgement, and the upload's after it,
// all in one write: while the stream waits none goes the live road behind the
// caller's back; the early ones come out first, in their order, then the
// stream's, and what the stream never took goes the live road when it closes.
TEST_F(StreamAskTest, EveryFrameHeardDuringTheWaitIsKeptInItsOrderAndGoesItsOwnRoad) {
    StreamAsk records(QString(FrameCode::kCallRecord));
    ScriptedSwitch sw([](const QString& f) {
        return f.startsWith("9607") ? QStringList{recordHex(1), recordHex(2), "820300", recordHex(3), recordHex(4)}
                                    : QStringList{};
    });
    ClsACK ack;
    ASSERT_EQ(ack.SendOrder("96071215011400", true, 2, true), Acknowledged);
    HandleArrived();
    EXPECT_TRUE(sink->records.isEmpty());
    QByteArray early;
    ASSERT_TRUE(records.takeArrivedBefore(early, ack.heardAt));
    EXPECT_EQ(early, bytes(withSum(recordHex(1))));
    ASSERT_TRUE(records.takeArrivedBefore(early, ack.heardAt));
    EXPECT_EQ(early, bytes(withSum(recordHex(2))));
    EXPECT_FALSE(records.takeArrivedBefore(early, ack.heardAt));
    QByteArray first;
    ASSERT_EQ(records.next(first, 1), GotAnswer);
    EXPECT_EQ(first, bytes(withSum(recordHex(3))));
    EXPECT_TRUE(sink->records.isEmpty());
    records.close();
    ASSERT_EQ(sink->records.size(), 1);
    EXPECT_EQ(sink->records[0], bytes(withSum(recordHex(4))));
    EXPECT_TRUE(sink->live[0]);
}

}  // namespace
