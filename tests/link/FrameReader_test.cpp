#include "LinkTestSupport.h"

#include "link/FrameCodes.h"
#include "link/FrameReader.h"

#include <gtest/gtest.h>

using namespace linktest;
using ModComm::FrameError;
using ModComm::FrameReader;

namespace {

TEST(FrameReader, AmountsDigitsAndCodesAndAReadPastTheEndThrowsTheOneFrameError) {
    const FrameReader f(bytes("A1070005FF"));
    EXPECT_EQ(f.byte(4), 0xFF);
    EXPECT_EQ(f.word(2), 5);
    EXPECT_THROW(f.byte(5), FrameError);
    EXPECT_THROW(f.byte(-1), FrameError);
    EXPECT_THROW(f.word(4), FrameError);
    try {
        f.amount(3);
        FAIL();
    } catch (const FrameError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("应答帧太短"));
    }
    // Filled up first, a short frame reads as its filler.
    const FrameReader padded(FrameReader::Padded(bytes("A107"), 6, 0xFF));
    EXPECT_EQ(padded.size(), 6);
    EXPECT_EQ(padded.digits(2, 5), QString());
    EXPECT_EQ(FrameReader::Padded(bytes("A1070005FF"), 3, 0), bytes("A10700"));

    // Amounts, digits, dialled numbers and codes.
    const FrameReader record(bytes("961D01F4123FB1C0FF"));
    EXPECT_EQ(record.amount(2), 0x01F412);
    EXPECT_EQ(record.digits(5), "3");
    EXPECT_EQ(record.digits(2, 4), "01412");   // the filler F left out
    EXPECT_EQ(record.dial(5, 8), "3*1#0");
    EXPECT_TRUE(record.is(FrameCode::kCallRecord));
    EXPECT_FALSE(record.is(FrameCode::kRecordEnd));
    EXPECT_TRUE(record.sameKind(FrameCode::kRecordEnd));
    EXPECT_FALSE(record.is(FrameCode::kAnyCode));
    EXPECT_TRUE(FrameReader(bytes("830300")).is(FrameCode::kLinkProbe));
    EXPECT_FALSE(FrameReader(bytes("8303")).is(FrameCode::kLinkProbe));
    EXPECT_FALSE(FrameReader(QByteArray()).sumHolds());
}

TEST(FrameReader, TheDateOfAnEventIsFiveDecimalBytes) {
    const QDate today(2026, 6, 15);
    EXPECT_EQ(FrameReader(bytes("0614093015")).dateTime(0, today), QDateTime(QDate(2026, 6, 14), QTime(9, 30, 15)));
    // A month later than this one was last year.
    EXPECT_EQ(FrameReader(bytes("1231235959")).dateTime(0, today), QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59)));
    EXPECT_EQ(FrameReader(bytes("0F")).decimal(0, "day"), 0);
    EXPECT_THROW(FrameReader(bytes("0614FF3015")).dateTime(0, today), FrameError);   // no hour
    EXPECT_THROW(FrameReader(bytes("06141A3015")).dateTime(0, today), FrameError);   // no decimal hour
    EXPECT_THROW(FrameReader(bytes("0631093015")).dateTime(0, today), FrameError);   // no 31 June
    EXPECT_THROW(FrameReader(bytes("06140930")).dateTime(0, today), FrameError);     // too short
}

}  // namespace
