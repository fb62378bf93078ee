// Call tickets: records from the switch simulator over a pseudo-terminal are
// priced, stored, answered, and printed as the print settings say.
#include "support/PricingFixture.h"

#include "core/Console.h"
#include "platform/AppExit.h"
#include "core/Settings.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/Comm.h"
#include "platform/FlexGrid.h"
#include "platform/Printer.h"
#include "platform/StatusBar.h"
#include "platform/Prompts.h"
#include "printing/PrintGrid.h"
#include "printing/frmGridPrn.h"
#include "sim/Switch.h"
#include "support/StationLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

using namespace pricingtest;

namespace {

class StatusConsole : public core::Console {
public:
    StatusConsole() {
        sbrInfo = new platform::StatusBar(6, &window);
        core::RegisterConsole(this);
    }
    ~StatusConsole() override { core::UnregisterConsole(this); }
    QWidget* ConsoleWidget() override { return &window; }
    void Form_Load() override {}
    bool NotExit(int) override { return true; }
    [[noreturn]] void CloseApp() override { platform::EndProgram(0); }
    void picRun_DblClick() override {}
    bool ShowView(const QString&) override { return false; }
    QWidget window;
};

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class TicketTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        ASSERT_TRUE(link.open(sw));
        addUser(7, "10.00", 0);   // a deposit user
        setExtensionUser(5, 7);
        addUser(8, "10.00", 1);
        setExtensionUser(6, 8);
        addRate(QStringLiteral("8"), 7, "0.20", "0.10", 180, 60, 0, QStringLiteral("本地"));
        addRate(QStringLiteral("010"), 2, "0.30", "0.30", 60, 60, 0, QStringLiteral("北京"));
        printing::testing::setHasPrinter(true);
        printing::testing::setExecutableName(QStringLiteral("tarvo"));
        PrnHD = 0;
        SHPrnHD = true;
        PrnType = false;
    }
    void TearDown() override {
        link.close();
        platform::testing::resetPrinter();
        printing::testing::setHasPrinter(std::nullopt);
        printing::testing::setExecutableName(QString());
        PricingTest::TearDown();
    }
    // Sends a call and runs the station until the switch has its answer.
    QString call(int ext, const QString& called, int second) {
        sim::CallRecord r;
        r.extAddr = ext;
        r.called = called;
        r.channel = 3;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)).addSecs(second);
        r.durationSec = 250;
        r.type = 1;
        const size_t before = sw.recordAnswers().size();
        sw.sendCallRecord(r);
        QElapsedTimer t;
        t.start();
        while (sw.recordAnswers().size() <= before && t.elapsed() < 10000) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        return sw.recordAnswers().size() > before ? sw.recordAnswers().back() : QString();
    }
    sim::Switch sw;
    testsupport::StationLink link;
};

TEST_F(TicketTest, CutSheetTicketIsAPdfPageCutToTheCallAndAGridAfterItPrintsOnA4) {
    QTemporaryDir out;
    platform::testing::printToPdfDir(out.path());
    EXPECT_EQ(call(5, QStringLiteral("01062345678"), 0), QStringLiteral("820302"));
    EXPECT_EQ(call(6, QStringLiteral("88001234"), 60), QStringLiteral("820302"));
    const QStringList files = platform::testing::printedPdfFiles();
    ASSERT_EQ(files.size(), 2);
    const QString info = run(QStringLiteral("pdfinfo"), {files[0]});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n")))) << info.toStdString();
    // 11,900 twips wide, only as high as the ticket.
    const QRegularExpressionMatch size = QRegularExpression(QStringLiteral("Page size:\\s+(\\d+) x (\\d+)")).match(info);
    EXPECT_EQ(size.captured(1), QStringLiteral("595"));
    EXPECT_LT(size.captured(2).toInt(), 120);
    const QString text = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), files[0], QStringLiteral("-")});
    for (const char* field : {"主叫名称", "IP接入费", "用户7", "01062345678", "2026-06-15 10:00:00", "0:04:10", "北京"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(field))) << field << "\n" << text.toStdString();
    EXPECT_TRUE(run(QStringLiteral("pdftotext"), {files[1], QStringLiteral("-")}).contains(QStringLiteral("用户8")));
    EXPECT_EQ(ModSwitch::GetVariant(printing::kLocateKey), QString());

    // A grid after the tickets prints on the paper they found: the ticket keeps its own.
    platform::FlexGrid g;
    g.setFormatString(QStringLiteral("<地区代号|<地名|>每次价格"));
    g.setRows(3);
    g.setTextMatrix(1, 0, QStringLiteral("010"));
    g.setTextMatrix(1, 1, QStringLiteral("北京"));
    g.setTextMatrix(2, 0, QStringLiteral("0755"));
    g.setTextMatrix(2, 1, QStringLiteral("深圳"));
    platform::script::answer(QStringLiteral("真的要打印"), platform::rYes);
    printing::PrintGrid(g, QStringLiteral("普通费率/国内参数"), true);
    const QStringList all = platform::testing::printedPdfFiles();
    ASSERT_EQ(all.size(), 3);
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {all[2]}).contains(QStringLiteral("(A4)")));
    const QString list = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), all[2], QStringLiteral("-")});
    for (const char* field : {"普通费率/国内参数", "地区代号", "0755", "深圳"})
        EXPECT_TRUE(list.contains(QString::fromUtf8(field))) << field << "\n" << list.toStdString();
}

TEST_F(TicketTest, SettingsDecideWhoseCallsGetATicket) {
    platform::PrintRecorder& rec = platform::testing::usePrintRecorder();
    SHPrnHD = false;   // "市话不打印"
    EXPECT_EQ(call(5, QStringLiteral("88001234"), 0), QStringLiteral("820302"));
    EXPECT_EQ(rec.documents, 0);
    EXPECT_EQ(call(5, QStringLiteral("01062345678"), 60), QStringLiteral("820302"));
    EXPECT_EQ(rec.documents, 1);

    // Only users marked to print: user 7 (a deposit user, its slot already
    // released by the charge) is; user 8 is not.
    PrnHD = 1;
    dbSwitch.execute(QStringLiteral("UPDATE user SET printonce=1 WHERE userid=7"));
    EXPECT_EQ(call(6, QStringLiteral("01062345678"), 120), QStringLiteral("820302"));
    EXPECT_EQ(rec.documents, 1);
    EXPECT_EQ(call(5, QStringLiteral("01062345678"), 180), QStringLiteral("820302"));
    EXPECT_EQ(rec.documents, 2);

    // No ticket due: the system is not asked for its printers.
    PrnHD = 2;
    printing::testing::setHasPrinter(true);
    EXPECT_EQ(call(5, QStringLiteral("01062345678"), 240), QStringLiteral("820302"));
    PrnHD = 0;
    SHPrnHD = false;
    EXPECT_EQ(call(5, QStringLiteral("88001234"), 270), QStringLiteral("820302"));
    EXPECT_EQ(printing::testing::printerChecks(), 0);
    SHPrnHD = true;
    printing::testing::setHasPrinter(false);
    PrnHD = 0;
    EXPECT_EQ(call(5, QStringLiteral("01062345678"), 300), QStringLiteral("820302"));
    EXPECT_EQ(rec.documents, 2);
    EXPECT_EQ(count("Tab_Phone"), 7);
}

TEST_F(TicketTest, FailingPrinterNeitherStopsTheAnswerNorTheNextTicket) {
    StatusConsole console;
    platform::PrintRecorder& rec = platform::testing::usePrintRecorder();
    platform::Printer::instance().failAfter(3, QStringLiteral("打印机卡纸"));
    EXPECT_EQ(call(5, QStringLiteral("01062345678"), 0), QStringLiteral("820302"));
    EXPECT_EQ(core::PanelText(2), QStringLiteral("打印机卡纸"));
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(rec.ended, 0);
    EXPECT_EQ(call(5, QStringLiteral("01062345678"), 60), QStringLiteral("820302"));
    EXPECT_EQ(rec.ended, 1);
}

}  // namespace
