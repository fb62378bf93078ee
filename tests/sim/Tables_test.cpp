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

TEST(SwitchFrames, ChecksumsCodesAndUnsolicitedFrameLayouts) {
    EXPECT_EQ(sim::withSum(QStringLiteral("830300")), QByteArray::fromHex("83030086"));
    EXPECT_EQ(sim::withSum(QStringLiteral("96 03 01")), QByteArray::fromHex("9603019A"));
    EXPECT_EQ(sim::toHex(sim::withSum(QStringLiteral("860B14123FFFFF04000102"))), "860B14123FFFFF04000102FB");
    // 82 03 04 is no frame start; 82 03 03 is; 9F takes lengths 03..27 only.
    EXPECT_EQ(sim::frameStart(0x82, 0x03, true, 0x04), 0);
    EXPECT_EQ(sim::frameStart(0x82, 0x03, true, 0x03), 1);
    EXPECT_EQ(sim::frameStart(0x9F, 0x27, false, 0), 1);
    EXPECT_EQ(sim::frameStart(0x9F, 0x28, false, 0), 0);
    EXPECT_TRUE(sim::fromHex("8303G0").isEmpty());

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

TEST(SwitchTables, HeadsTimesAndFlexibleNumbersStreamInOrderAddressedRowsAndDepositsAsked) {
    sim::Switch sw;
    tell(sw, "810389");               // nothing stored yet: the table's end at once
    EXPECT_EQ(said(sw), QStringList{framed("810300")});
    const QStringList heads{"860B 14 123FFFFF 04 00 01 02", "860B 15 456FFFFF 04 00 01 02"};
    const QStringList times{"A910 01 0830 1745 40 6464646464646464", "A910 02 1745 0830 80 5050505050505050"};
    const QStringList flexible{"8705 14 123F", "8705 1D 7FFF"};
    for (const QString& f : QStringList{"810309"} + heads + QStringList{"810300"} + times +
                                QStringList{"810300", "810310"} + flexible + QStringList{"810300"})
        tell(sw, f);
    EXPECT_EQ(said(sw).size(), 11) << "every download frame acknowledged";
    EXPECT_EQ(sw.table(sim::tables::LanHead).size(), 2u);

    // Read back a row per "820300" of the station, then the table's end.
    for (const auto& [read, rows] : {std::pair{"810389", heads}, std::pair{"A90300", times}, std::pair{"810382", flexible}}) {
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
    said(sw);

    // Addressed rows, the third unanswered.
    sw.addRule("940A", sim::Reply::Silent, 1, 2);
    for (const char* row : {"940A 0000 123FFFFFFFFF", "940A 0001 123FFFFFFFFF", "940A 0002 123FFFFFFFFF"}) tell(sw, row);
    EXPECT_EQ(said(sw), (QStringList{framed("820300"), framed("820300")})) << "the third row unanswered";
    EXPECT_EQ(sw.table(sim::tables::ExtraHead).size(), 2u);
    // Deposit changes are applied and answered as a value: +12.34, -2.10.
    tell(sw, "A507 05 01 0004D2");
    tell(sw, "A507 05 02 0000D2");
    said(sw);
    // Row 1 comes back as stored; row 2 never arrived, so it is blank. 88 04 00 E0
    // asks trunk 1, 88 04 09 05 the account at 0x905; extension 5's deposit is 10.24.
    for (const auto& [ask, row] : {std::pair{"93040001", "940A 0001 123FFFFFFFFF"}, std::pair{"93040002", "940A 0002 FFFFFFFFFFFF"},
                                   std::pair{"880400E0", "8916 E0 00000000 FF 000000 FFFFFFFFFFFFFFFFFFFFFF"},
                                   std::pair{"88040905", "8C08 0905 FFFF 0000"}, std::pair{"A50305", "A507 05 00 000400"},
                                   std::pair{"A50306", "A507 06 00 000000"}}) {
        tell(sw, ask);
        EXPECT_EQ(said(sw), QStringList{framed(row)}) << ask;
    }
}

TEST(SwitchTables, OrdersRecordsDepositsFeesTheStationsAnswersAndTheRecordUpload) {
    sim::SwitchOptions opt;
    opt.uploadStartDelayMs = 0;
    sim::Switch sw(opt);
    const QString clock = QStringLiteral("8509440506140709 01");   // 2024-05-06 14:07:09, a Monday
    tell(sw, clock);
    EXPECT_EQ(said(sw), QStringList{framed("820300")});
    auto c = sim::decodeClock(sw.received().back());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->when, QDateTime(QDate(2024, 5, 6), QTime(14, 7, 9)));
    EXPECT_EQ(c->weekday, 1);

    for (sim::Reply r : {sim::Reply::Silent, sim::Reply::Status03, sim::Reply::Status01, sim::Reply::BadSum}) sw.addRule("8509", r);
    QStringList answers;
    for (int i = 0; i < 5; ++i) {
        tell(sw, clock);
        answers << said(sw).join(' ');
    }
    // The garbled acknowledgement's sum one too many; the rules used up, normal again.
    EXPECT_EQ(answers, (QStringList{"", framed("820303"), framed("820301"), "82030086", framed("820300")}));
    sw.feed(sim::fromHex("85094405061407090100"));   // a damaged order is reported
    EXPECT_EQ(said(sw), QStringList{framed("820301")});

    // Fire-and-forget orders are taken and get nothing; the cut order is waited for.
    for (const char* o : {"84040101", "960300", "950820050000 7B 03", "820300"}) tell(sw, o);
    EXPECT_TRUE(said(sw).isEmpty());
    EXPECT_EQ(sw.receivedWith("84040101").size(), 1u);
    tell(sw, "920700150000 03");
    EXPECT_EQ(said(sw), QStringList{framed("820300")});
    auto cut = sim::decodeTalkLimit(sw.received().back());
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->extAddr, 0x15);
    EXPECT_EQ(cut->seconds, 0);
    EXPECT_EQ(cut->slot, 3);

    // Records one at a time, as the station answers them.
    sim::CallRecord r;
    r.extAddr = 0x0105;
    r.called = "013812345678";
    r.channel = 3;
    r.start = QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58));
    r.durationSec = 3725;                               // 1 h 2 min 5 s
    r.account = "1234";
    r.type = 1;
    sw.sendCallRecord(r);
    sim::CallRecord second = r;
    second.extAddr = 7;
    sw.sendCallRecord(second);
    // Month to second, then the duration's hours, minutes and seconds.
    const QString record = framed("961D 0105 FF 013812345678FFFFFFFF FF 03 1231235958 010205 1234 FF 01");
    EXPECT_EQ(said(sw), QStringList{record}) << "one record at a time";

    tell(sw, "820303");                                 // not stored: the same again
    EXPECT_EQ(said(sw), QStringList{record});
    tell(sw, "820302");                                 // taken: the next one
    EXPECT_EQ(said(sw).value(0).mid(4, 4), "0007");
    tell(sw, "820302");
    EXPECT_TRUE(said(sw).isEmpty());
    EXPECT_EQ(sw.recordAnswers(), (std::vector<QString>{"820303", "820302", "820302"}));
    EXPECT_EQ(sw.recordsWaiting(), 0);

    sim::DepositEvent d;
    d.extAddr = 5;
    d.fen = 500;
    d.when = QDateTime(QDate(2024, 3, 1), QTime(8, 0, 0));
    sw.sendDeposit(d);
    const QString deposit = said(sw).value(0);
    EXPECT_EQ(deposit.mid(44, 6), "0001F4");
    EXPECT_EQ(deposit.mid(56, 2), "0A");
    // The station answers a stored deposit event "820302" and waits for our ack.
    tell(sw, "820302");
    EXPECT_EQ(said(sw), QStringList{framed("820300")});

    // Fee 1.23 yuan for extension 5 on channel byte 0x13.
    tell(sw, "950820050000 7B 13");
    auto o = sim::decodeFee(sw.received().back());
    ASSERT_TRUE(o);
    EXPECT_EQ(o->extLow, 5);
    EXPECT_EQ(o->fen, 123);
    EXPECT_EQ(o->channelByte, 0x13);
    // A balance answer of -1.50 (80 00 96) is acknowledged.
    tell(sw, "950810 05 800096 00");
    EXPECT_EQ(said(sw), QStringList{framed("820300")});
    auto bal = sim::decodeBalance(sw.received().back());
    ASSERT_TRUE(bal);
    EXPECT_EQ(bal->signedFen(), -150);

    // The record upload streams the stored records, one per "820302", then its end.
    sw.setUploadRecords({r.body(), second.body()});
    tell(sw, "9607 1215 0114 00");
    EXPECT_EQ(said(sw), (QStringList{framed("820300"), sim::toHex(sim::withSum(r.body()))}));
    tell(sw, "820302");
    EXPECT_EQ(said(sw), QStringList{sim::toHex(sim::withSum(second.body()))});
    tell(sw, "820302");
    EXPECT_EQ(said(sw), QStringList{framed("96070000000000")});
    EXPECT_EQ(sw.recordAnswers().size(), 4u) << "uploaded records are not live records";
    tell(sw, "96070001010101");       // the closing order
    EXPECT_TRUE(said(sw).isEmpty());
}

}  // namespace
