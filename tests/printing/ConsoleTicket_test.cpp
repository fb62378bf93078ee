// The console and the printer: continuous tickets collect on one open form,
// which the station's exit sends out.
#include "PrintFixture.h"
#include "console/ConsoleFixture.h"

#include <QTemporaryDir>

namespace {

class ConsolePrintTest : public consoletest::ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        printing::testing::setHasPrinter(true);
        printing::testing::setExecutableName(QStringLiteral("tarvo"));
        platform::testing::printToPdfDir(out.path());
    }
    void TearDown() override {
        platform::testing::resetPrinter();
        printing::testing::setHasPrinter(std::nullopt);
        printing::testing::setExecutableName(QString());
        ConsoleTest::TearDown();
    }
    void call(int second) {
        sim::CallRecord r;
        r.extAddr = 5;
        r.called = QStringLiteral("88001234");
        r.channel = 2;
        r.start = QDateTime(QDate::currentDate(), QTime(8, 0, 0)).addSecs(second);
        r.durationSec = 95;
        r.type = 1;
        sw.sendCallRecord(r);
    }
    QTemporaryDir out;
};

TEST_F(ConsolePrintTest, ContinuousTicketsStayOnOneFormUntilExit) {
    setting("PrnHD", "0");
    setting("SHPrnHD", "True");
    setting("PrnType", "True");
    connectSwitch();
    load();
    EXPECT_TRUE(frmGridPrn::exists());
    EXPECT_FALSE(frmGridPrn::instance().isVisible());
    call(0);
    call(30);
    ASSERT_TRUE(consoletest::spin(10000, [this] { return sw.recordAnswers().size() >= 2; }));
    EXPECT_EQ(sw.recordAnswers(), (std::vector<QString>{QStringLiteral("820302"), QStringLiteral("820302")}));
    EXPECT_TRUE(platform::Printer::instance().documentOpen());
    EXPECT_TRUE(platform::testing::printedPdfFiles().size() == 1);
    EXPECT_FALSE(ModSwitch::GetVariant(printing::kLocateKey).isEmpty());

    EXPECT_THROW(console().CloseApp(), platform::ProgramEnded);
    EXPECT_FALSE(platform::Printer::instance().documentOpen());
    const QStringList files = platform::testing::printedPdfFiles();
    ASSERT_EQ(files.size(), 1);
    const QString text = printtest::pdfText(files[0]);
    EXPECT_EQ(text.count(QStringLiteral("88001234")), 2) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("主叫名称")), 2);
    platform::Database db = platform::Database::open(dir->file("switch.mdb"));
    EXPECT_EQ(db.scalar("select value from Variant where varname='TarvoLocateY'").toString(), QString());
}

}  // namespace
