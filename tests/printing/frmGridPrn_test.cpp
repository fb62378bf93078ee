// The fixed-layout print form on the recording printer. Recorder metrics:
// a line is size x 25 twips high, so 12 pt 300, 9 pt 225, 7 pt 175.
#include "printing/PrintFixture.h"

using namespace printtest;
using platform::Printer;

namespace {

class GridPrnTest : public PrintTest {
protected:
    frmGridPrn& f() { return frmGridPrn::instance(); }
    static void font(QWidget* w, double points) {
        QFont ft = w->font();
        ft.setPointSizeF(points);
        w->setFont(ft);
    }
    // A receipt: bold title, a user line and a footer over a 3-column table.
    void receipt(int rows) {
        f().ClearFrm();
        f().Label1->setText(QStringLiteral("结算单（付讫）"));
        font(f().Label1, 12);
        f().Label2->setText(QStringLiteral("用户:张三"));
        font(f().Label2, 9);
        f().Label4->setText(QStringLiteral("总计费用:80.00元"));
        font(f().Label4, 9);
        f().TitleLine1 = f().Label1;
        f().TitleLine2 = f().Label2;
        f().FootLine = f().Label4;
        fill(g, QStringLiteral("起始时间|终止时间|金额"), rows, 7);
        for (int c = 0; c < 3; ++c) g.setColWidth(c, 1500);
    }
    PrintRecord text(const QString& t) const { return texts(t).value(0); }
    platform::FlexGrid g;
};

TEST_F(GridPrnTest, OnePageReceiptOnUserPaperIsCutToItsContent) {
    EXPECT_EQ(f().MSFlexGrid1->Cols(), 14);
    EXPECT_EQ(f().MSFlexGrid1->TextMatrix(0, 13), QStringLiteral("IP接入费"));
    receipt(2);
    ASSERT_TRUE(f().SetPaperUserDef(true));
    ASSERT_TRUE(f().Init(&g, 0, 2, 1, 2, true, true));
    // top 200 + rows (175 + 2 x 275) + bottom 200 + titles (500 + 425) + footer 2 x 425 + 200.
    EXPECT_EQ(Printer::instance().Height(), 200 + 725 + 200 + 925 + 850 + 200);
    EXPECT_EQ(Printer::instance().Width(), 11900);
    f().PrnGrid();
    EXPECT_EQ(f().PrnError(), QString());
    const PrintRecord t1 = text(QStringLiteral("结算单（付讫）"));
    EXPECT_EQ(t1.pageHeight, 3100);
    EXPECT_TRUE(t1.bold);
    EXPECT_EQ(t1.y, 200);
    EXPECT_FALSE(text(QStringLiteral("用户:张三")).bold);
    EXPECT_EQ(text(QStringLiteral("用户:张三")).y, 700);
    // Table rule 1125, header 1175, rows to the last rule 1950; the footer 200 under it.
    EXPECT_EQ(text(QStringLiteral("r2c0")).y, 1725);
    EXPECT_EQ(text(QStringLiteral("总计费用:80.00元")).y, 1950 + 200);
    for (const PrintRecord& r : rec->records) EXPECT_FALSE(r.text.startsWith(QStringLiteral("第")));
    int verticals = 0;
    for (const PrintRecord& r : rec->records)
        if (r.kind == PrintRecord::Line && r.x == r.x2) {
            ++verticals;
            EXPECT_EQ(r.y, 1125);
            EXPECT_EQ(r.y2, 1950);
        }
    EXPECT_EQ(verticals, 4);

    // A cell wider than its column starts at the column's left edge.
    g.setTextMatrix(1, 1, QString(60, QLatin1Char('x')));
    rec->records.clear();
    ASSERT_TRUE(f().SetPaperUserDef(true));
    ASSERT_TRUE(f().Init(&g, 0, 2, 1, 2, true, true));
    f().PrnGrid();
    EXPECT_DOUBLE_EQ(text(QString(60, QLatin1Char('x'))).x, 200 + 11300.0 / 3);

    // Back to A4 only from user-defined paper.
    ASSERT_TRUE(f().SetPaperUserDef(false));
    EXPECT_EQ(Printer::instance().PaperSize(), platform::PaperA4);
    EXPECT_EQ(Printer::instance().Height(), platform::kA4HeightTwips);
    EXPECT_EQ(Printer::instance().Width(), platform::kA4WidthTwips);
}

TEST_F(GridPrnTest, LongJobNumbersItsPages) {
    f().ClearFrm();
    fill(g, QStringLiteral("a|b"), 60, 7);
    g.setColWidth(0, 1500);
    g.setColWidth(1, 1500);
    ASSERT_TRUE(f().Init(&g, 0, 1, 1, 60, true, true));
    EXPECT_EQ(f().PageCount(), 2);   // 175 + 60 x 275 over a body of 16038
    f().PrnGrid();
    EXPECT_EQ(count(PrintRecord::NewPage), 1);
    EXPECT_EQ(text(QStringLiteral("第1/2页")).page, 1);
    EXPECT_EQ(text(QStringLiteral("第2/2页")).page, 2);
    EXPECT_EQ(text(QStringLiteral("r58c0")).page, 1);
    EXPECT_EQ(text(QStringLiteral("r59c0")).page, 2);
    EXPECT_EQ(texts(QStringLiteral("a")).size(), 2);   // header repeated
}

TEST_F(GridPrnTest, ContinuousFormTakesTheStoredPositionOnce) {
    PrnType = true;
    ModSwitch::SetVariant(printing::kLocateKey, QStringLiteral("5000"));
    receipt(2);
    ASSERT_TRUE(f().SetPaperUserDef(false));
    ASSERT_TRUE(f().Init(&g, 0, 2, 1, 2, true, true));
    f().PrnGrid();
    EXPECT_EQ(text(QStringLiteral("结算单（付讫）")).y, 5200);
    // Last rule 6950, footer line at 7150: the next job goes on under it.
    EXPECT_EQ(locate(), QStringLiteral("7375"));
    EXPECT_EQ(ModSwitch::GetVariant(QStringLiteral("LocateY")), QStringLiteral("7375"));
    EXPECT_EQ(rec->ended, 0);
    rec->records.clear();
    ASSERT_TRUE(f().Init(&g, 0, 2, 1, 2, true, true));
    f().PrnGrid();
    EXPECT_EQ(text(QStringLiteral("结算单（付讫）")).y, 7575);
    EXPECT_EQ(text(QStringLiteral("结算单（付讫）")).doc, 1);

    // Another program's name has no key of its own: only "LocateY" moves.
    printing::testing::setExecutableName(QStringLiteral("test_printing"));
    ASSERT_TRUE(f().Init(&g, 0, 2, 1, 2, true, true));
    f().PrnGrid();
    EXPECT_EQ(locate(), QStringLiteral("9750"));
    EXPECT_EQ(ModSwitch::GetVariant(QStringLiteral("LocateY")), QStringLiteral("12125"));
    printing::testing::setExecutableName(QStringLiteral("tarvo"));

    // Near the form's end (16838 - 600 - 1200): the form goes out after row 1
    // and row 2 goes on at the top of the next one, under the titles again.
    rec->records.clear();
    ModSwitch::SetVariant(printing::kLocateKey, QStringLiteral("13400"));
    ASSERT_TRUE(f().Init(&g, 0, 2, 1, 2, true, true));
    f().PrnGrid();
    EXPECT_EQ(rec->ended, 1);
    EXPECT_EQ(text(QStringLiteral("r1c0")).doc, 1);
    EXPECT_EQ(text(QStringLiteral("r2c0")).doc, 2);
    EXPECT_EQ(texts(QStringLiteral("结算单（付讫）")).last().y, 200);
    EXPECT_EQ(locate(), QStringLiteral("2100"));
    EXPECT_EQ(frmGridPrn::OwnPositionKey(QStringLiteral("TARVO.EXE")), QStringLiteral("TarvoLocateY"));
    EXPECT_EQ(frmGridPrn::OwnPositionKey(QStringLiteral("nubixpro")), QStringLiteral("NubixLocateY"));
    EXPECT_EQ(frmGridPrn::OwnPositionKey(QStringLiteral("Pelda")), QStringLiteral("PeldaLocateY"));
    EXPECT_EQ(frmGridPrn::OwnPositionKey(QStringLiteral("tarv")), QString());
}

TEST_F(GridPrnTest, BillSummaryLayoutAndInsertSpace) {
    f().ClearFrm();
    f().Label1->setText(QStringLiteral("话费汇总"));
    f().Label2->setText(QStringLiteral("用户:张三"));
    f().Label3->setText(QStringLiteral("结算时间"));
    f().TitleLine1 = f().Label1;
    f().TitleLine2 = f().Label2;
    f().TitleLine3 = f().Label3;
    ASSERT_TRUE(f().SetGridBill());
    platform::FlexGrid& b = *f().MSFlexGrid1;
    EXPECT_EQ(b.Cols(), 4);
    EXPECT_EQ(b.Rows(), 6);
    EXPECT_EQ(b.FixedRows(), 0);
    EXPECT_EQ(b.TextMatrix(2, 0), QStringLiteral("信 息 台"));
    EXPECT_EQ(b.TextMatrix(4, 2), QStringLiteral("本     机"));
    EXPECT_EQ(b.TextMatrix(5, 2), QStringLiteral("总话费"));
    EXPECT_EQ(b.TextMatrix(0, 1), QString());
    b.setTextMatrix(5, 3, QStringLiteral("12.50"));
    f().PrnGrid();
    // Titles at 200 (12 pt), 700 (9 pt), 1125 (12 pt); the table rises 200 to 1425.
    EXPECT_EQ(text(QStringLiteral("结算时间")).y, 1125);
    EXPECT_TRUE(text(QStringLiteral("话费汇总")).bold);
    EXPECT_EQ(text(QStringLiteral("国际长途")).y, 1475);
    EXPECT_EQ(text(QStringLiteral("12.50")).y, 1475 + 5 * 275);

    // 9 pt: a blank is 90 twips; (7400 - 900 - 720) / 90 = 64.2.
    font(f().Label2, 9);
    EXPECT_EQ(f().GetInsertSpace(f().Label2, QStringLiteral("用户: 张三"), QStringLiteral("单位: 元")), 64);
    EXPECT_EQ(f().GetInsertSpace(f().Label2, QString(50, QChar(0x5F20)), QString()), 0);
}

}  // namespace
