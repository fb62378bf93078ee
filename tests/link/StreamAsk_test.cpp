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

class StreamAskTest : public LinkTest {
protected:
    // The upload's request sent and acknowledged with the switch's `reply`
    // (frames in one write), then everything that arrived parsed, as the
    // console's poll would before the upload looks: the record the stream
    // holds and whether it counts as one sent before the acknowledgement.
    bool takenAsEarly(const QStringList& reply, QByteArray* early) {
        StreamAsk records(QString(FrameCode::kCallRecord));
        ScriptedSwitch sw([&](const QString& f) { return f.startsWith("9607") ? reply : QStringList{}; });
        ClsACK ack;
        EXPECT_EQ(ack.SendOrder("96071215011400", true, 2, true), Acknowledged);
        HandleArrived();
        return records.takeArrivedBefore(*early, ack.heardAt);
    }
};

TEST_F(StreamAskTest, ARecordInTheWriteOfTheAcknowledgementIsTheStreamsWhereverTheParserStood) {
    // Behind the acknowledgement: the upload's first record.
    QByteArray early;
    EXPECT_FALSE(takenAsEarly({"820300", recordHex(1)}, &early));
    EXPECT_TRUE(early.isEmpty());
    // Before it: a record the switch sent live.
    EXPECT_TRUE(takenAsEarly({recordHex(2), "820300"}, &early));
    EXPECT_EQ(early, bytes(withSum(recordHex(2))));
}

}  // namespace
