// Grid printing on the recording printer (exact twips) and to PDF files.
#include "printing/PrintFixture.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace printtest;
using platform::Printer;
namespace script = platform::script;

namespace {

class PrintGridTest : public PrintTest {
protected:
    // Three left-aligned columns of 1500 twips: T = 4525, M = 3690 on A4.
    void grid3(int rows) {
        fill(g, QStringLiteral("<名称|<金额|<备注"), rows);
        for (int c = 0; c < 3; ++c) g.setColWidth(c, 1500);
    }
    void print(const QString& title = QStringLiteral("话单")) {
        script::answer(QStringLiteral("真的要打印"), platform::rYes);
        printing::PrintGrid(g, title, true);
    }
    // Heights of the horizontal rules on `page` of document `doc`.
    QList<double> rules(int doc, int page) const {
        QList<double> ys;
        for (const PrintRecord& r : rec->records)
            if (r.kind == PrintRecord::Line && r.y == r.y2 && r.doc == doc && r.page == page) ys << r.y;
        return ys;
    }
    platform::FlexGrid g;
};

TEST_F(PrintGridTest, CutSheetsOfSeventyRowsOnA4AtNinePoints) {
    grid3(70);
    print();
    // H = 9 x 22 = 198: the title's top; the header rule at 3H; a row every P = 203.
    EXPECT_EQ(texts(QStringLiteral("话单")).value(0).y, 198);
    const QList<double> ys = rules(1, 1);
    ASSERT_EQ(ys.size(), 72);   // header, 70 rows, footer
    for (int k = 0; k < ys.size(); ++k) EXPECT_EQ(ys[k], 594 + 203 * k) << k;
    EXPECT_EQ(count(PrintRecord::NewPage), 0);
    EXPECT_EQ(rec->ended, 1);
    EXPECT_EQ(lastTextStartingWith(QStringLiteral("打印时间")),
              QStringLiteral("打印时间:2026-12-07 09:30:05   1/1页   操作员: 0000"));
    // Left column text at M - 25 + the offset; the table's rule from M - 25.
    EXPECT_EQ(texts(QStringLiteral("r1c1")).value(0).x, 3690 + 1525 - 25);
    EXPECT_EQ(locate(), QString());

    // R = 70: one more row is a second sheet that repeats the header 2H from the top.
    grid3(71);
    rec->records.clear();
    print();
    EXPECT_EQ(count(PrintRecord::NewPage), 1);
    EXPECT_EQ(rules(2, 2), (QList<double>{396, 599, 802}));
    EXPECT_EQ(texts(QStringLiteral("名称")).size(), 2);
    EXPECT_EQ(texts(QStringLiteral("r71c0")).value(0).page, 2);
    EXPECT_TRUE(lastTextStartingWith(QStringLiteral("打印时间")).contains(QStringLiteral("2/2页")));
}

TEST_F(PrintGridTest, WideSelectionShrinksTheFontAndTheColumns) {
    fill(g, QStringLiteral("<名称|<金额|<备注"), 3);
    for (int c = 0; c < 3; ++c) g.setColWidth(c, 4995);   // T = 15010 > 11906
    script::answer(QStringLiteral("列宽太大"), platform::rYes);
    printing::PrintGrid(g, QStringLiteral("宽表"), true);
    EXPECT_EQ(script::shown().value(0).text, QStringLiteral("列宽太大,要缩小字体打印第1行至第3行,第0列至第2列的记录吗"));
    // (11806 x 9) \ 15010 = 7 points; offsets and widths x 7/9, halves to even.
    const PrintRecord c2 = texts(QStringLiteral("r2c2")).value(0);
    EXPECT_EQ(c2.fontSize, 7);
    const int M = (11906 - 11674) / 2;
    EXPECT_EQ(texts(QStringLiteral("r2c0")).value(0).x, M - 25);
    EXPECT_EQ(texts(QStringLiteral("r2c1")).value(0).x, M + 3904 - 25);
    EXPECT_EQ(c2.x, M + 7789 - 25);
    bool ruleSeen = false;
    for (const PrintRecord& r : rec->records)
        if (r.kind == PrintRecord::Line && !ruleSeen) {
            ruleSeen = true;
            EXPECT_EQ(r.x2 - r.x, 11674);
        }
    EXPECT_TRUE(ruleSeen);
}

TEST_F(PrintGridTest, QuestionsNameTheGridsOwnIndicesAndNoPrintsNothing) {
    fill(g, QStringLiteral("<a|<b|<c|<d|<e|<f|<g"), 30);
    g.setRow(1);
    g.setCol(0);
    g.setRowSel(20);
    g.setColSel(5);
    script::answer(QString(), platform::rNo);
    printing::PrintGrid(g, QStringLiteral("t"), false);
    // One cell with "whole if single": every data row and column.
    g.setRow(4);
    g.setCol(2);
    script::answer(QString(), platform::rNo);
    printing::PrintGrid(g, QStringLiteral("t"), true);
    ASSERT_EQ(script::shown().size(), 2);
    EXPECT_EQ(script::shown()[0].text, QStringLiteral("真的要打印第1行至第20行,第0列至第5列的记录吗"));
    EXPECT_EQ(script::shown()[0].buttons, platform::mbYesNo);
    EXPECT_EQ(script::shown()[1].text, QStringLiteral("真的要打印第1行至第30行,第0列至第6列的记录吗"));
    EXPECT_TRUE(rec->records.isEmpty());
}

TEST_F(PrintGridTest, CellCodesPlaceTheText) {
    // "ab" at 9 pt is 180 x 225 twips; the box is (1000, 2000) 900 x 600.
    struct Case {
        int code;
        QString text;
        double x, y;
    } cases[] = {
        {0, "ab", 1000, 2000},   {1, "ab", 1000, 2187.5}, {2, "ab", 1000, 2375},   {3, "ab", 1360, 2000},
        {4, "ab", 1360, 2187.5}, {5, "ab", 1360, 2375},   {6, "ab", 1670, 2000},   {7, "ab", 1670, 2187.5},
        {8, "ab", 1670, 2375},   {9, "ab", 1000, 2187.5}, {9, "12", 1670, 2187.5}, {9, " -3.5 ", 1310, 2187.5},
    };
    for (const Case& c : cases) {
        rec->records.clear();
        printing::PrintCell(1000, 2000, c.text, c.code, 900, 600);
        ASSERT_EQ(rec->records.size(), 1) << c.code;
        EXPECT_EQ(rec->records[0].x, c.x) << c.code << " " << c.text.toStdString();
        EXPECT_EQ(rec->records[0].y, c.y) << c.code << " " << c.text.toStdString();
    }
    rec->records.clear();
    Printer::instance().setCurrentX(77);
    printing::PrintCell(1000, 2000, QStringLiteral("ab"), 10, 900, 600);
    EXPECT_EQ(Printer::instance().CurrentX(), 77);
    printing::PrintCell(1000, 2000, QStringLiteral("ab"), 4, 0, 600);
    EXPECT_TRUE(rec->records.isEmpty());
}

TEST_F(PrintGridTest, ContinuousJobsFollowEachOtherUntilACutSheetJob) {
    PrnType = true;
    grid3(3);
    print(QStringLiteral("第一份"));
    // Header rule 594, rows to 1203, footer rule 1406: where the form stopped.
    EXPECT_EQ(locate(), QStringLiteral("1406"));
    EXPECT_EQ(rec->ended, 0);
    print(QStringLiteral("第二份"));
    EXPECT_EQ(texts(QStringLiteral("第二份")).value(0).y, 1406 + 200 + 198);
    EXPECT_EQ(texts(QStringLiteral("第二份")).value(0).doc, 1);
    EXPECT_EQ(texts(QStringLiteral("名称")).size(), 2);

    PrnType = false;
    print(QStringLiteral("单页"));
    EXPECT_EQ(rec->ended, 2);   // the open form first, then this job
    EXPECT_EQ(texts(QStringLiteral("单页")).value(0).doc, 2);
    EXPECT_EQ(locate(), QString());
    PrnType = true;
    print(QStringLiteral("新纸"));
    EXPECT_EQ(texts(QStringLiteral("新纸")).value(0).y, 198);
}

TEST_F(PrintGridTest, ContinuousJobBreaksAtTheBottomAndRepeatsTheHeader) {
    PrnType = true;
    grid3(80);
    print();
    // Bottom 16838 - 12 x 203 = 14402: 68 rows on the first form, 12 on the next.
    EXPECT_EQ(count(PrintRecord::NewPage), 1);
    EXPECT_EQ(texts(QStringLiteral("r68c0")).value(0).page, 1);
    EXPECT_EQ(texts(QStringLiteral("r69c0")).value(0).page, 2);
    const QList<PrintRecord> heads = texts(QStringLiteral("名称"));
    ASSERT_EQ(heads.size(), 2);
    EXPECT_EQ(heads[1].page, 2);
    for (int r = 1; r <= 80; ++r) EXPECT_EQ(texts(QStringLiteral("r%1c2").arg(r)).size(), 1) << r;
    EXPECT_TRUE(lastTextStartingWith(QStringLiteral("打印时间")).contains(QStringLiteral("2/2页")));
    EXPECT_EQ(locate(), QString::number(396 + 13 * 203));
    EXPECT_EQ(rec->ended, 0);

    // A stored position of R rows or more: the job starts on a fresh form, header and all.
    ModSwitch::SetVariant(printing::kLocateKey, QString::number(70 * 203));
    grid3(2);
    print(QStringLiteral("低位"));
    EXPECT_EQ(count(PrintRecord::NewPage), 2);
    EXPECT_EQ(texts(QStringLiteral("低位")).value(0).y, 198);
    EXPECT_EQ(texts(QStringLiteral("名称")).size(), 3);
}

TEST_F(PrintGridTest, FailuresCancelTheDocumentAndKeepThePosition) {
    ModSwitch::SetVariant(printing::kLocateKey, QStringLiteral("777"));
    grid3(5);
    Printer::instance().failAfter(10, QStringLiteral("打印机缺纸"));
    script::answer(QStringLiteral("打印出错:打印机缺纸"), platform::rOK);
    print();
    EXPECT_EQ(count(PrintRecord::KillDoc), 1);
    EXPECT_EQ(rec->ended, 0);
    EXPECT_EQ(locate(), QStringLiteral("777"));

    // A page too small for one row (R <= 0) never divides by zero.
    Printer::instance().setHeight(2000);
    script::answer(QStringLiteral("打印出错:纸张太小"), platform::rOK);
    print();
    EXPECT_EQ(count(PrintRecord::Text), 8);   // the title and the header before the failure

    printing::testing::setHasPrinter(false);
    script::answer(QStringLiteral("打不到打印机"), platform::rOK);
    printing::PrintGrid(g, QStringLiteral("x"), true);
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(script::shown().last().text, QStringLiteral("打不到打印机"));
}

TEST_F(PrintGridTest, PdfReadsBackWithTitleHeaderRowsFooterAndPages) {
    QTemporaryDir out;
    platform::testing::printToPdfDir(out.path());
    fill(g, QStringLiteral("<主叫名称|>通话时长|<地名"), 75);
    for (int r = 1; r <= 75; ++r) g.setTextMatrix(r, 0, QStringLiteral("张三%1").arg(r));
    for (int c = 0; c < 3; ++c) g.setColWidth(c, 2400);
    print(QStringLiteral("话单明细表"));
    const QStringList files = platform::testing::printedPdfFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(pdfPages(files[0]), 2);
    const QString text = pdfText(files[0]);
    EXPECT_TRUE(text.contains(QStringLiteral("话单明细表")));
    EXPECT_EQ(text.count(QStringLiteral("主叫名称")), 2);
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("张三1\\s"))));
    EXPECT_TRUE(text.contains(QStringLiteral("张三75")));
    EXPECT_TRUE(text.contains(QStringLiteral("r40c2")));
    EXPECT_TRUE(text.contains(
        QRegularExpression(QStringLiteral("打印时间:2026-12-07 09:30:05\\s+1/2页\\s+操作员: 0000"))))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("2/2页")));
}

}  // namespace
