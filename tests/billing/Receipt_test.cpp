// Payment receipts as they come out of the printer.
#include "printing/PrintFixture.h"

#include "billing/Settlement.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"

#include <QTemporaryDir>

using platform::Currency;
using platform::PrintRecord;

namespace {

class ReceiptTest : public printtest::PrintTest {
protected:
    void SetUp() override {
        PrintTest::SetUp();
        WorkerName = QStringLiteral("管理员");
        platform::script::onModal("frmPayMoneny", [this](QDialog* d) {
            auto* f = static_cast<frmPayMoneny*>(d);
            f->Text1->setText(amount);
            f->Command1_Click(0);
        });
        platform::script::onModal("frmPayed", [this](QDialog* d) {
            auto* f = static_cast<frmPayed*>(d);
            f->Option1[voucher ? 1 : 0]->setChecked(true);
            f->txtnRep->setText(copies);
            f->cmdPay_Click();
            d->accept();
        });
    }
    // User 1: 50.00 prepaid, 80.00 of calls over two pay periods (pay day 1).
    void settle() {
        dbSwitch.execute("INSERT INTO user (userid, username, balancemode, lastdate, deposit, remain) "
                         "VALUES (1, '甲', 1, '2026-10-01 00:00:00', 500000, 500000)");
        testsupport::storeCall(dbPhoneCur, {.calladdr = 3, .date = "2026-10-05 10:00:00", .secs = 60,
                                            .fee = platform::Currency::fromYuan(60), .zh = "    ", .phmode = 2, .userid = 1});
        testsupport::storeCall(dbPhoneCur, {.calladdr = 3, .date = "2026-11-05 10:00:00", .secs = 60,
                                            .fee = platform::Currency::fromYuan(20), .zh = "    ", .phmode = 7, .userid = 1});
        run();
    }
    void run() {
        billing::SettleOptions o;
        o.categories = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        ASSERT_TRUE(billing::RunSettlement(o).ok);
        frmPayfor::instance().ShowMode(1);
    }
    QStringList footers(const QString& head) const {
        QStringList out;
        for (const PrintRecord& r : rec->records)
            if (r.kind == PrintRecord::Text && r.text.contains(head)) out << r.text;
        return out;
    }
    QString amount = "30";
    QString copies = "1";
    bool voucher = false;
};

TEST_F(ReceiptTest, BillCopiesEachOnASheetOfTheirOwn) {
    copies = "3";
    settle();
    const QString footer = "总计费用:80.00元  预付款:50.00元  付款:30.00元  帐户余额:0.00元";
    EXPECT_EQ(footers("总计费用:"), (QStringList{footer, footer, footer}));
    EXPECT_EQ(count(PrintRecord::NewPage), 2);
    EXPECT_EQ(rec->ended, 1);
    EXPECT_EQ(texts("用户:甲  截止日期:2026-12-01 00:00:00  单位:(元)").size(), 3);
    EXPECT_EQ(locate(), "");
}

TEST_F(ReceiptTest, VouchersOnePerPeriodWithTheTotalsOnTheLast) {
    voucher = true;
    settle();
    const QStringList feet = footers("工号:0000");
    ASSERT_EQ(feet.size(), 2);
    EXPECT_FALSE(feet[0].contains("预付款"));
    EXPECT_EQ(feet[1], "预付款:50.00元 付款:30.00元 帐户余额:0.00元 工号:0000  姓名:管理员");
    EXPECT_EQ(texts("  结算时间:2026-10-01 00:00:00——2026-11-01 00:00:00").size(), 1);
    EXPECT_EQ(count(PrintRecord::NewPage), 1);
    // Each voucher sums the user's whole statement period: 60.00 long distance, 20.00 local.
    EXPECT_EQ(texts("60.00").size(), 2);
    EXPECT_EQ(texts("80.00").size(), 2);
}

TEST_F(ReceiptTest, TheBillReadsBackFromPdfAndNoCopiesPrintNothing) {
    QTemporaryDir pdfs;
    platform::testing::printToPdfDir(pdfs.path());
    settle();
    const QStringList files = platform::testing::printedPdfFiles();
    ASSERT_EQ(files.size(), 1);
    const QString text = pdfText(files[0]).simplified();
    EXPECT_TRUE(text.contains("总计费用:80.00元 预付款:50.00元 付款:30.00元 帐户余额:0.00元")) << text.toStdString();
    EXPECT_TRUE(text.contains("结算单（付讫）"));

    copies = "0";
    dbSwitch.execute("UPDATE user SET lastdate='2026-10-01 00:00:00'");
    run();
    EXPECT_EQ(platform::testing::printedPdfFiles().size(), 1);
    EXPECT_EQ(ModSwitch::GetVariant("PayPrintCount"), "0");
}

TEST_F(ReceiptTest, AGridAfterVouchersPrintsOnThePaperItFoundUnshrunk) {
    QTemporaryDir pdfs;
    platform::testing::printToPdfDir(pdfs.path());
    voucher = true;
    settle();
    ASSERT_EQ(platform::testing::printedPdfFiles().size(), 1);
    // 9,025 twips of columns: wider than a voucher, narrower than the sheet.
    platform::FlexGrid g;
    fill(g, "<名称|<金额|<备注", 3);
    for (int c = 0; c < 3; ++c) g.setColWidth(c, 3000);
    platform::script::answer("真的要打印", platform::rYes);
    printing::PrintGrid(g, "结算明细", true);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    const QStringList files = platform::testing::printedPdfFiles();
    ASSERT_EQ(files.size(), 2);
    QProcess info;
    info.start("pdfinfo", {files[1]});
    info.waitForFinished(20000);
    EXPECT_TRUE(QString::fromUtf8(info.readAllStandardOutput()).contains("(A4)"));
    const QString text = pdfText(files[1]);
    EXPECT_TRUE(text.contains("结算明细")) << text.toStdString();
    EXPECT_TRUE(text.contains("r3c2"));
}

}  // namespace
