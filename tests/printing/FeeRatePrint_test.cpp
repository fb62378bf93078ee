// The fee-rate window's 打印 read back from the PDF it writes.
#include "PrintFixture.h"

#include "core/frmFeeFind.h"
#include "pricing/frmFeeRate.h"

#include <QTemporaryDir>

using namespace printtest;

namespace {

class FeeRatePrint : public PrintTest {
protected:
    void TearDown() override {
        pricing::frmFeeRate::unload();
        frmFeeFind::unload();
        PrintTest::TearDown();
    }
};

TEST_F(FeeRatePrint, TitleNamesTheTabAndTheNextFindStartsEmpty) {
    WorkerRights = QStringList{"0"};
    dbSwitch.execute("insert into feerate(zonecode,summary,feeratetype,feerateid) values('168',?,6,0)",
                     {QStringLiteral("声讯台")});
    QTemporaryDir out;
    platform::testing::printToPdfDir(out.path());
    pricing::frmFeeRate& w = pricing::frmFeeRate::instance();
    QStringList defaults;
    platform::script::onModal("frmFeeFind", [&](QDialog* d) {
        auto* f = static_cast<frmFeeFind*>(d);
        defaults << f->txtFind->text();
        f->txtFind->setText("168");
        f->cmdFind_Click();
    });
    w.cmdFeerate_Click(2);
    ASSERT_EQ(w.SSTab1->currentIndex(), 6);
    platform::script::answer(QStringLiteral("真的要打印"), platform::rYes);
    platform::script::answer(QStringLiteral("列宽太大"), platform::rYes);
    w.cmdFeerate_Click(3);
    const QStringList files = platform::testing::printedPdfFiles();
    ASSERT_EQ(files.size(), 1);
    const QString text = pdfText(files[0]);
    EXPECT_TRUE(text.contains(QStringLiteral("普通费率/信息台参数"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("声讯台")));
    w.cmdFeerate_Click(2);
    EXPECT_EQ(defaults, (QStringList{"", ""}));
}

}  // namespace
