#include "core/ModGeneral.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QComboBox>
#include <QLineEdit>

using namespace ModGeneral;

TEST(ModGeneral, BitFieldsStayInsideTheByte) {
    EXPECT_EQ(GetBits(0xB6, 3, 2), 1);
    EXPECT_EQ(GetBits(0xB6, 2, 3), 3);
    EXPECT_EQ(GetBits(0xB6, 1, 8), 0xB6);
    for (int b : {0x00, 0x5A, 0xFF}) EXPECT_EQ(GetBits(b, 8, 2), 0) << b;
    EXPECT_EQ(GetBits(0xFF, 0, 1), 0);
    EXPECT_EQ(GetBits(0xFF, 3, 0), 0);
    EXPECT_EQ(SetBits(0, 1, 8, 1), 255);
    EXPECT_EQ(SetBits(255, 2, 3, 0), 241);
    EXPECT_EQ(SetBits(0x10, 8, 1, 1), 0x90);
    EXPECT_EQ(SetBits(0xFF, 4, 1, 7), 0xF7);   // any value but 1 clears
    EXPECT_EQ(SetBits(0x5A, 7, 3, 1), 0x5A);   // out of range: unchanged
    EXPECT_EQ(SetBits(0x5A, 0, 2, 1), 0x5A);
}

TEST(ModGeneral, SplitKeepsEmptyItemsAndTrimsBlanksAndTokensAndDelimitersAreFound) {
    EXPECT_EQ(SplitStr("a, b,,c", ","), QStringList({"a", "b", "", "c"}));
    EXPECT_EQ(SplitStr("", ","), QStringList({""}));
    EXPECT_EQ(SplitStr(",", ","), QStringList({"", ""}));
    EXPECT_EQ(SplitStr("  x  ;y", ";"), QStringList({"x", "y"}));
    QStringList arr{"old", "items", "here"};
    SplitStr("one", arr, ",");
    EXPECT_EQ(arr, QStringList({"one"}));
    EXPECT_EQ(JoinStr({"a", "", "c"}, ","), "a,,c");
    EXPECT_EQ(JoinStr(SplitStr("1,2,3", ","), ","), "1,2,3");

    EXPECT_EQ(CutToken("abc", true, ","), "");
    EXPECT_EQ(CutToken("abc", false, ","), "abc");
    EXPECT_EQ(CutToken("ab,cd,e", true, ","), "cd,e");
    EXPECT_EQ(CutToken("ab,cd,e", false, ","), "ab");
    EXPECT_EQ(CutToken(",x", false, ","), "");

    EXPECT_EQ(FindNthDelim("a,b,c", 0, ","), 1);
    EXPECT_EQ(FindNthDelim("a,b,c", 1, ","), 3);
    EXPECT_EQ(FindNthDelim("a,b,c", 2, ","), 5);
    EXPECT_EQ(FindNthDelim("a,b", 2, ","), 5);
    EXPECT_EQ(FindNthDelim("a", 3, ","), -1);
    EXPECT_EQ(FindNthDelim("a,b,c", 4, ","), -1);
    EXPECT_EQ(FindNthDelim("", 1, ","), 2);
}

// The filler F, the digits of a byte and the leading zeros of a next number
// are read back by the frames' and the grids' own cases; here what they leave.
TEST(ModGeneral, SwitchDigitTexts) {
    EXPECT_EQ(PadF(" 789 ", 2), "78");
    EXPECT_EQ(ByteToDigits(0xFF), "");
    EXPECT_EQ(ByteToDigits(0xBC), "BC");
    EXPECT_EQ(NextNumStr("99"), "100");
    EXPECT_EQ(NextNumStr(""), "1");
}

TEST(ModGeneral, TimeConversions) {
    EXPECT_EQ(SecToHMS(3725), "1:02:05");
    EXPECT_EQ(SecToHMS(100000), "27:46:40");
    EXPECT_EQ(SecToHMS(0), "0:00:00");
    EXPECT_EQ(SecToHMS(59), "0:00:59");
    EXPECT_EQ(TimeToSec(QDateTime(QDate(2026, 1, 2), QTime(1, 2, 5))), 3725);
    EXPECT_EQ(TimeToSec(QTime(23, 59, 59)), 86399);
    EXPECT_EQ(StrToTime(3725), QTime(1, 2, 5));
    EXPECT_EQ(StrToTime(90000), QTime(1, 0, 0));
    EXPECT_EQ(StrToTime(86400), QTime(0, 0, 0));
    EXPECT_EQ(CellIndex(3, 2, 7), 23);
}

TEST(ModGeneral, DelayWaitsForMoreThanTheTicksAndStopsWhenTheTickGoesBackwards) {
    qint64 tick = 1000;
    int reads = 0;
    platform::testing::setTick([&] {
        ++reads;
        return tick++;   // every reading one millisecond later
    });
    Delay(0);
    EXPECT_LE(tick - 1000, 4);
    const qint64 start = tick;
    Delay(50);
    EXPECT_GT(tick - start, 50);
    EXPECT_LT(tick - start, 200);

    reads = 0;
    platform::testing::setTick([&] {
        ++reads;
        return reads == 1 ? tick : tick - 10;
    });
    Delay(100000);   // would never end if a negative difference were waited out
    EXPECT_LE(reads, 3);
    platform::testing::resetClock();
}

class ModGeneralWidgets : public testsupport::StationTest {};

TEST_F(ModGeneralWidgets, ComboAutoCompleteCompletesOrEmpties) {
    QComboBox c;
    c.setEditable(true);
    c.addItems({"Alpha", "Beta", "beTamax"});
    c.setEditText("be");
    ComboAutoComplete(&c, false, false);
    EXPECT_EQ(c.currentText(), "Beta");
    EXPECT_EQ(c.lineEdit()->selectedText(), "ta");
    c.setEditText("al");
    ComboAutoComplete(&c, false, true);
    EXPECT_EQ(c.currentIndex(), 0);
    c.setEditText("zz");
    ComboAutoComplete(&c, true, false);
    EXPECT_EQ(c.currentText(), "zz");
    ComboAutoComplete(&c, false, false);
    EXPECT_EQ(c.currentText(), "");
}

TEST_F(ModGeneralWidgets, GridSelectionFindAndClear) {
    platform::FlexGrid g;
    g.setCols(4);
    g.setRows(6);
    for (int r = 1; r < 6; ++r)
        for (int c = 0; c < 4; ++c) g.setTextMatrix(r, c, QStringLiteral("%1.%2").arg(r).arg(c));
    g.setRow(4);
    g.setCol(2);
    g.setRowSel(2);
    g.setColSel(2);
    int cf = -1, cl = -1;
    EXPECT_TRUE(GetGridSel(g, false, cf, cl));
    EXPECT_EQ(GridSelFirst, 2);
    EXPECT_EQ(GridSelLast, 4);
    EXPECT_EQ(cf, 2);
    EXPECT_EQ(cl, 2);
    EXPECT_TRUE(GetGridSel(g, true, cf, cl));
    EXPECT_EQ(cf, 0);
    EXPECT_EQ(cl, 3);
    EXPECT_EQ(GridSelFirst, 2);

    g.setRow(3);
    g.setRowSel(3);
    g.setCol(1);
    g.setColSel(1);
    EXPECT_FALSE(GetGridSel(g, false, cf, cl));
    EXPECT_TRUE(GetGridSel(g, true, cf, cl));
    EXPECT_EQ(GridSelFirst, 1);
    EXPECT_EQ(GridSelLast, 5);

    EXPECT_EQ(FindGridRow(g, 1, "4.1", 1), 4);
    EXPECT_EQ(g.Row(), 4);
    EXPECT_EQ(FindGridRow(g, 1, "2.1", 3), -1);
    EXPECT_EQ(g.Row(), 4);

    ClearGridRow(g);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(g.TextMatrix(1, c), "");
        EXPECT_EQ(g.TextMatrix(2, c), QStringLiteral("2.%1").arg(c));
    }
}
