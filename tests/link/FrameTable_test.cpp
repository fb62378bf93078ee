#include "link/ModComm.h"

#include <gtest/gtest.h>

using namespace ModComm;

namespace {

class FrameTableTest : public ::testing::Test {
protected:
    void SetUp() override { InitFrameTable(); }
    static int rowOf(std::initializer_list<int> bytes) {
        QByteArray b;
        for (int v : bytes) b.append(static_cast<char>(v));
        return FindFrame(b);
    }
};

TEST_F(FrameTableTest, TableHasItsRowsInOrder) {
    ASSERT_EQ(FrameTable.size(), 101);
    // Row: code and length.
    QStringList rows;
    for (int r : {0, 16, 17, 18, 28, 44, 62, 63, 64, 100})
        rows << QStringLiteral("%1: %2 %3").arg(r).arg(FrameTable[r].Code).arg(FrameTable[r].Len);
    EXPECT_EQ(rows, QStringList({"0: 800300 3", "16: 830300 3", "17: 8D0300 3", "18: A703 3", "28: 961D 29", "44: A011 17",
                                 "62: 7F0C 12", "63: A90C 12", "64: 9F03 3", "100: 9F27 39"}));
    EXPECT_EQ(FrameTable[0].SubFlag, -1);
    EXPECT_EQ(FrameTable[18].SubFlag, 0);
    for (int r = 0; r < 18; ++r) EXPECT_EQ(FrameTable[r].Len, 3) << r;
}

TEST_F(FrameTableTest, FrameStartsFollowTheSubCodeRule) {
    EXPECT_EQ(rowOf({0x82, 0x03, 0x04}), -1);
    EXPECT_EQ(rowOf({0x82, 0x03, 0x03}), 15);
    EXPECT_EQ(rowOf({0x82, 0x03, 0x00}), 12);
    EXPECT_EQ(rowOf({0x81, 0x03, 0x89}), 11);
    EXPECT_EQ(rowOf({0x81, 0x03, 0x02}), -1);
    EXPECT_EQ(rowOf({0xA9, 0x0C, 0x00}), 59);
    EXPECT_EQ(rowOf({0xA9, 0x0C, 0xFF}), 59);
    EXPECT_EQ(rowOf({0x9F, 0x27, 0x00}), 100);
    EXPECT_EQ(rowOf({0x9F, 0x28, 0x00}), -1);
    EXPECT_EQ(rowOf({0x9F, 0x02, 0x00}), -1);
    EXPECT_EQ(rowOf({0x96, 0x1D, 0x12}), 28);
    // A six-digit code needs its third byte before it can be recognised.
    EXPECT_EQ(rowOf({0x83, 0x03}), -1);
    EXPECT_EQ(rowOf({0x96, 0x1D}), 28);
}

TEST_F(FrameTableTest, TextLookupAgreesWithByteLookup) {
    for (int b0 = 0; b0 < 256; b0 += 1) {
        for (int b1 : {0x03, 0x04, 0x0A, 0x0C, 0x1D, 0x27, 0x28}) {
            for (int b2 : {0x00, 0x01, 0x03, 0x04, 0x0A, 0x81, 0xFF}) {
                int row = -7;
                const bool found = FindFrame(ByteToHex(b0) + ByteToHex(b1), ByteToHex(b2), row);
                const int byteRow = rowOf({b0, b1, b2});
                EXPECT_EQ(found ? row : -1, byteRow) << b0 << " " << b1 << " " << b2;
            }
        }
    }
}

TEST_F(FrameTableTest, CheckHexNormalisesOrCuts) {
    for (const auto& [typed, hex, kept] :
         {std::tuple{"  83 03 00 ", true, "830300"}, {"8303G0", false, "8303"}, {"a80300", true, "A80300"}, {"", true, ""}}) {
        QString s = QString::fromLatin1(typed);
        EXPECT_EQ(CheckHex(s), hex) << typed;
        EXPECT_EQ(s, kept) << typed;
    }
}

TEST_F(FrameTableTest, ChecksumAndHexTextsBothWays) {
    EXPECT_EQ(CheckSum(""), "00");
    EXPECT_EQ(CheckSum("FFFF"), "FE");
    EXPECT_EQ(CheckSum("0102F"), "12");   // the odd last digit counts by its own value
    EXPECT_EQ(LongToHex(255, 4), "00FF");
    EXPECT_EQ(LongToHex(4660, 2), "34");
    EXPECT_EQ(LongToHex(-1, 4), "FFFF");
    EXPECT_EQ(LongToHex(-1, 8), "FFFFFFFF");
    EXPECT_EQ(ByteToHex(10), "0A");
    EXPECT_EQ(ByteToHex(255), "FF");
    EXPECT_EQ(SpaceHex("830300"), "83 03 00 ");
    EXPECT_EQ(SpaceHex(""), "");
    // Hex texts to bytes keep whole pairs.
    EXPECT_EQ(HexToBytes("83030086"), QByteArray::fromHex("83030086"));
    EXPECT_EQ(HexToBytes("830"), QByteArray::fromHex("83"));
    EXPECT_EQ(HexToBytes("A"), QByteArray(1, '\x0A'));
    EXPECT_EQ(HexToBytes(""), QByteArray(1, '\0'));
}

}  // namespace
