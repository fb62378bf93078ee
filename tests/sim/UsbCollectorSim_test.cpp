// The collector's 64-byte reports, checked byte by byte.
#include "sim/UsbCollectorSim.h"

#include <gtest/gtest.h>

namespace {

QByteArray report(const QString& hexWithSum) {
    QByteArray r = sim::fromHex(hexWithSum);
    r.append(QByteArray(64 - r.size(), char(0)));
    return r;
}

QByteArray order(const QString& hexBody) { return report(sim::toHex(sim::withSum(hexBody))); }

// One poll step as the station makes it: the poll report, then a read.
QByteArray poll(sim::UsbCollectorSim& usb) {
    EXPECT_TRUE(usb.WritePort2(report("FFFFFFFF")));
    QByteArray r;
    EXPECT_TRUE(usb.ReadPort2(r));
    EXPECT_EQ(r.size(), 64);
    return r;
}

TEST(UsbCollector, ReportsCarryASequenceByteAndOneFrameTheNumberAndPointers) {
    sim::UsbCollectorSim usb;
    EXPECT_EQ(poll(usb), QByteArray(64, char(0))) << "nothing yet: sequence 0, no frame";

    ASSERT_TRUE(usb.WritePort2(order("830300")));
    const QByteArray r = poll(usb);
    EXPECT_EQ(r, report("01 950B 000000000000000000 A0")) << "sequence 1, the probe answer, zeros after";
    EXPECT_EQ(poll(usb), r) << "nothing new: the same report, the same sequence byte";
    ASSERT_TRUE(usb.WritePort2(order("830300")));
    EXPECT_EQ(quint8(poll(usb)[0]), 2) << "a new frame, a new sequence byte";
    EXPECT_EQ(usb.switchSim().receivedWith("830300").size(), 2u);

    QByteArray failed;
    usb.failReads(1);
    EXPECT_TRUE(usb.WritePort2(report("FFFFFFFF")));
    EXPECT_FALSE(usb.ReadPort2(failed));
    usb.failWrites(1);
    EXPECT_FALSE(usb.WritePort2(order("830300")));

    // The collector's number and its pointers.
    ASSERT_TRUE(usb.WritePort2(order("7F0610123400")));
    EXPECT_EQ(poll(usb).mid(1, 7), sim::withSum(QStringLiteral("7F0610123400")));
    ASSERT_TRUE(usb.WritePort2(order("7F0620000000")));
    EXPECT_EQ(poll(usb).mid(1, 7), sim::withSum(QStringLiteral("7F0620123400")));
    EXPECT_EQ(usb.number(), 0x1234);

    usb.ignoreOrders(1);
    ASSERT_TRUE(usb.WritePort2(order("7F0620000000")));
    EXPECT_EQ(quint8(poll(usb)[0]), 4) << "an ignored order leaves nothing new";

    usb.setPointers(512, 530, 0x1234 * 16 + 5);
    ASSERT_TRUE(usb.WritePort2(order("7F0604000000")));
    // 512 = block 0x0020 index 0; 530 = block 0x0021 index 2.
    EXPECT_EQ(poll(usb).mid(1, 13), sim::withSum(QStringLiteral("7F0C04 002000 002102 123405")));

    // A length byte that no report can hold is kept as seen and not answered.
    const QByteArray before = poll(usb);
    ASSERT_TRUE(usb.WritePort2(report("7FFF04")));
    EXPECT_EQ(poll(usb), before);
    EXPECT_FALSE(usb.collectorOrders().back().sumOk);
}

TEST(UsbCollector, StoreIsReadOneRecordPerAnswerThenEndedAndErased) {
    sim::UsbCollectorSim usb;
    sim::CallRecord a;
    a.extAddr = 1;
    a.start = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5));
    sim::CallRecord b = a;
    b.extAddr = 2;
    usb.storeRecord(a.body());
    usb.storeRecord(b.body());
    EXPECT_EQ(usb.nextFree(), 514);

    ASSERT_TRUE(usb.WritePort2(order("7F0602000000")));       // the new records
    EXPECT_EQ(poll(usb).mid(1, 30), sim::withSum(a.body()));
    ASSERT_TRUE(usb.WritePort2(order("820302")));
    EXPECT_EQ(poll(usb).mid(1, 30), sim::withSum(b.body()));
    ASSERT_TRUE(usb.WritePort2(order("820303")));             // not stored: again
    EXPECT_EQ(poll(usb).mid(1, 30), sim::withSum(b.body()));
    ASSERT_TRUE(usb.WritePort2(order("820302")));
    EXPECT_EQ(poll(usb).mid(1, 8), sim::withSum(QStringLiteral("96070000000000")));
    EXPECT_EQ(usb.firstUnread(), 514);
    EXPECT_TRUE(usb.switchSim().recordAnswers().empty()) << "the collector's records are its own";

    // Reading everything again from the oldest record (mode 1).
    ASSERT_TRUE(usb.WritePort2(order("7F0601000000")));
    EXPECT_EQ(poll(usb).mid(1, 30), sim::withSum(a.body()));
    ASSERT_TRUE(usb.WritePort2(order("7F0608000000")));       // end of reading
    ASSERT_TRUE(usb.WritePort2(order("820302")));
    EXPECT_TRUE(usb.switchSim().receivedWith("820302").size() == 1u) << "passed on to the switch";

    // A short erase empties the store once its delay has passed: 512..513 read, 514 unread, 515 free.
    usb.storeRecord(a.body());
    usb.setEraseDelay(2);
    ASSERT_TRUE(usb.WritePort2(report("7F0600000085")));      // five bytes and their sum
    EXPECT_TRUE(usb.shortEraseSeen());
    const QString full = sim::toHex(sim::withSum(QStringLiteral("7F0C04 002000 002002 002003")));
    const QString empty = sim::toHex(sim::withSum(QStringLiteral("7F0C04 002003 002003 002003")));
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(usb.WritePort2(order("7F0604000000")));
        EXPECT_EQ(sim::toHex(poll(usb).mid(1, 13)), round < 3 ? full : empty) << round;
    }
}

}  // namespace
