// The switch's memory and its unsolicited frames, driven without a terminal:
// frames in through feed(), frames out through takeOutgoingFrame().
#include "sim/Switch.h"

#include <gtest/gtest.h>

namespace {

// Everything the switch has to say right now, as hex with sums.
QStringList said(sim::Switch& sw) {
    QStringList out;
    while (auto f = sw.takeOutgoingFrame()) out << sim::toHex(*f);
    return out;
}

QString framed(const QString& hexBody) { return sim::toHex(sim::withSum(hexBody)); }

void tell(sim::Switch& sw, const QString& hexBody) { sw.feed(sim::withSum(hexBody)); }

TEST(SwitchFrames, UnsolicitedFrameLayouts) {
    sim::LiveCall c;
    c.kind = 1;                       // incoming
    c.extAddr = 0x15;
    c.dialled = "0101234*";
    c.account = "12";
    c.forwarded = true;
    c.channel = 10;
    EXPECT_EQ(sim::toHex(c.body()), "A01140150101234BFFFFFFFFFFFF12FF8A");
    sim::LiveCall internal;
    internal.kind = 2;
    internal.extAddr = 3;
    internal.calledExtAddr = 9;
    EXPECT_EQ(sim::toHex(internal.body()).mid(4, 8), "8003FF09");

    EXPECT_EQ(sim::toHex(sim::portStateBody(3, 5, 0x11, 0x12, 0x13)), "970A0305001100120013");
    EXPECT_EQ(sim::toHex(sim::cardStateBody(2, {1, 0, 0, 0, 0, 0, 0, 4})), "990B020100000000000004");
    EXPECT_EQ(sim::toHex(sim::balanceQueryBody(5, {}, 0x33)), "A1070005FFFF33");
    EXPECT_EQ(sim::toHex(sim::balanceQueryBody(0x105, "1234")), "A1070105123400");

    sim::DepositEvent d;
    d.extAddr = 7;
    d.deducted = true;
    d.fen = 0x0102F4;
    d.when = QDateTime(QDate(2024, 11, 30), QTime(9, 8, 7));
    const QByteArray b = d.body();
    EXPECT_EQ(sim::toHex(b.mid(17, 8)), "11300908070102F4");
    EXPECT_EQ(quint8(b[28]), 0x1A);
}

TEST(SwitchTables, TimesAndFlexibleNumbersStreamInOrder) {
    sim::Switch sw;
    const QStringList times{"A910 01 0830 1745 40 6464646464646464", "A910 02 1745 0830 80 5050505050505050"};
    const QStringList flexible{"8705 14 123F", "8705 1D 7FFF"};
    for (const QString& f : times + QStringList{"810300", "810310"} + flexible + QStringList{"810300"}) tell(sw, f);
    EXPECT_EQ(said(sw).size(), 7) << "every download frame acknowledged";

    // Read back a row per "820300" of the station, then the table's end.
    for (const auto& [read, rows] : {std::pair{"A90300", times}, std::pair{"810382", flexible}}) {
        tell(sw, read);
        for (const QString& row : rows + QStringList{"810300"}) {
            EXPECT_EQ(said(sw), QStringList{framed(row)}) << read;
            tell(sw, "820300");
        }
    }

    // A new download of the flexible numbers replaces the old ones.
    tell(sw, "810310");
    tell(sw, "8705 15 0001");
    EXPECT_EQ(sw.table(sim::tables::SpringNum).size(), 1u);
}

TEST(SwitchTables, DepositChangesAreAppliedAndReportedAsAValue) {
    sim::Switch sw;
    tell(sw, "A507 05 01 0004D2");    // +12.34
    tell(sw, "A507 05 02 0000D2");    // -2.10
    said(sw);
    tell(sw, "A50305");
    EXPECT_EQ(said(sw), QStringList{framed("A507 05 00 000400")});   // 10.24
    tell(sw, "A50306");
    EXPECT_EQ(said(sw), QStringList{framed("A507 06 00 000000")});
}

TEST(SwitchTables, FireAndForgetOrdersGetNothingTheCutOrderItsAcknowledgement) {
    sim::Switch sw;
    for (const char* o : {"84040101", "960300", "950820050000 7B 03", "820300"}) tell(sw, o);
    EXPECT_TRUE(said(sw).isEmpty());
    EXPECT_EQ(sw.received().size(), 4u);
    tell(sw, "920700150000 03");      // the cut order is waited for
    EXPECT_EQ(said(sw), QStringList{framed("820300")});
    auto cut = sim::decodeTalkLimit(sw.received().back());
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->extAddr, 0x15);
    EXPECT_EQ(cut->seconds, 0);
    EXPECT_EQ(cut->slot, 3);
}

TEST(SwitchTables, RecordUploadStreamsTheStoredRecords) {
    sim::SwitchOptions opt;
    opt.uploadStartDelayMs = 0;
    sim::Switch sw(opt);
    sim::CallRecord r;
    r.extAddr = 4;
    r.start = QDateTime(QDate(2024, 12, 20), QTime(10, 0, 0));
    sim::CallRecord r2 = r;
    r2.extAddr = 5;
    sw.setUploadRecords({r.body(), r2.body()});
    tell(sw, "9607 1215 0114 00");
    EXPECT_EQ(said(sw), (QStringList{framed("820300"), sim::toHex(sim::withSum(r.body()))}));
    tell(sw, "820302");
    EXPECT_EQ(said(sw), QStringList{sim::toHex(sim::withSum(r2.body()))});
    tell(sw, "820302");
    EXPECT_EQ(said(sw), QStringList{framed("96070000000000")});
    EXPECT_TRUE(sw.recordAnswers().empty()) << "uploaded records are not live records";
    tell(sw, "96070001010101");       // the closing order
    EXPECT_TRUE(said(sw).isEmpty());
}

}  // namespace
