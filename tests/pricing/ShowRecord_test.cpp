// The immediate-bill view and the other console views a call or wake-up event updates.
#include "support/PricingFixture.h"

#include "console/frmPABX.h"
#include "core/RecordDisplay.h"
#include "params/TableViews.h"
#include "pricing/ClsMonitor.h"
#include "printing/PrintGrid.h"
#include "platform/Printer.h"
#include "link/FrameCodes.h"

#include <QRegularExpression>

using namespace pricingtest;

namespace {

const char* const kBillHeader =
    "<主叫名称|>主叫分机|^帐号|对方号码         |<地名    |>通话日期            |>通话时长 |>帐户余额|<话单类型|>总话费  "
    "|>基本费  |>附加费1|>附加费2|>手续费|>IP接入费|>中继号|>间接局";

class ShowRecordTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        grid = frmPABX::instance().fgDisp;
        grid->setFormatString(QString::fromUtf8(kBillHeader));
        grid->setRows(2);   // the header and the empty placeholder row
        CurTable = QStringLiteral("Bill");
    }
    bool record(int second, int ext = 5, int seconds = CallRecord().seconds) {
        CallRecord r;
        r.ext = ext;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)).addSecs(second);
        r.seconds = seconds;
        r.inDigits = QStringLiteral("7");
        return ClsMonitor().Record(r.frame(), true);
    }
    platform::FlexGrid* grid = nullptr;
};

}  // namespace

// A stored call is appended and the placeholder goes; it reads the same live
// and loaded with the view: an hour's length, no account left blank, a tab in
// a stored text kept in its cell, on the view and on the call's ticket.
TEST_F(ShowRecordTest, ACallReadsTheSameLiveAndLoadedWithTheView) {
    printing::testing::setHasPrinter(true);
    platform::PrintRecorder& paper = platform::testing::usePrintRecorder();
    SHPrnHD = true;   // city calls get a ticket too
    addUser(7, "50.00", 1);
    dbSwitch.execute(QStringLiteral("UPDATE user SET username=? WHERE userid=7"), {QStringLiteral("用\t户")});
    setExtensionUser(5, 7);
    addRate(QStringLiteral("8"), 7, "1.00", "0.50", 60, 60, 0, QStringLiteral("本\t地"));
    ASSERT_TRUE(record(0, 5, 3725));
    ASSERT_EQ(grid->Rows(), 2);
    QStringList texts;
    for (const platform::PrintRecord& r : paper.records)
        if (r.kind == platform::PrintRecord::Text) texts << r.text;
    printing::testing::setHasPrinter(std::nullopt);
    platform::testing::resetPrinter();
    EXPECT_TRUE(texts.contains(QStringLiteral("用 户"))) << texts.join('|').toStdString();
    for (const QString& t : texts) EXPECT_FALSE(t.contains(QLatin1Char('\t'))) << t.toStdString();
    auto row = [&] {
        QStringList cells;
        for (int c = 0; c < grid->Cols(); ++c) cells << grid->TextMatrix(1, c);
        return cells;
    };
    const QStringList live = row();
    // No account: blank.
    EXPECT_EQ(live, QStringLiteral("用 户|E0005||88001234|本 地|2026-06-15 10:00:00|1:02:05|18.00|市话|32.00|32.00|0.00|0.00|"
                                   "0.00|0.00|4|7")
                        .split('|'));

    grid->setRows(1);
    platform::Recordset rs = dbPhoneCur.query(QStringLiteral(
        "Select f_userid,f_calladdr,f_zh,f_resp,F_Memo,f_date,f_long,f_yj,f_phmode,"
        "f_moneny+f_addfee1+f_addfee2+f_gatefee+f_linkfee as SumFee,f_moneny,f_addfee1,f_addfee2,f_gatefee,"
        "f_linkfee,f_zjaddr,f_indjh From Tab_phone"));
    ModSwitch::ShowBillGrid(rs);
    ASSERT_EQ(grid->Rows(), 2);
    EXPECT_EQ(row(), live);
}

// The balance beyond the overdraft turns red in the bill view; another view
// is left alone but for the user view, which shows the charge.
TEST_F(ShowRecordTest, BalanceBeyondTheOverdraftTurnsRedAndOtherViewsAreLeftAloneButTheUsers) {
    addUser(7, "5.00", 0, "10.00");
    setExtensionUser(5, 7);
    addRate(QStringLiteral("8"), 7, "20.00", "0");
    ASSERT_TRUE(record(0));
    EXPECT_EQ(grid->TextMatrix(grid->Rows() - 1, 7), QStringLiteral("-15.00"));
    EXPECT_EQ(grid->CellBackColorAt(grid->Rows() - 1, 7), QColor(255, 0, 0));
    addUser(7, "5.00", 0, "20.00");
    ASSERT_TRUE(record(60));
    EXPECT_NE(grid->CellBackColorAt(grid->Rows() - 1, 7), QColor(255, 0, 0));
    CurTable = QStringLiteral("User");
    grid->setRows(3);
    grid->setCols(6);
    grid->setTextMatrix(2, 0, QStringLiteral("7"));
    ASSERT_TRUE(record(120));
    EXPECT_EQ(grid->TextMatrix(2, 5), QStringLiteral("-35.00"));
    EXPECT_EQ(grid->Rows(), 3);
}

TEST_F(ShowRecordTest, TheViewKeepsTwoHundredCalls) {
    grid->setRows(201);
    for (int r = 1; r < 201; ++r) grid->setTextMatrix(r, 0, QStringLiteral("old%1").arg(r));
    ASSERT_TRUE(record(0));
    EXPECT_EQ(grid->Rows(), 201);
    EXPECT_EQ(grid->TextMatrix(1, 0), QStringLiteral("old2"));
    EXPECT_EQ(grid->TextMatrix(200, 0), QStringLiteral("默认用户"));
}

TEST_F(ShowRecordTest, WakeUpEventsAreLoggedAndReachTheExtensionAndWakeUpViews) {
    CurTable = QStringLiteral("Extension");
    grid->setRows(121);
    grid->setCols(3);
    grid->setTextMatrix(0, 2, QStringLiteral("叫醒时间"));
    CallRecord r;
    r.ext = 12;
    r.type = 6;
    r.start = QDateTime(QDate(2026, 6, 15), QTime(7, 30, 0));
    ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
    EXPECT_EQ(grid->TextMatrix(13, 2), QStringLiteral("07:30"));
    const auto awakeTime = [] { return dbSwitch.scalar(QStringLiteral("SELECT awaketime FROM extension WHERE address=12")).toString(); };
    EXPECT_EQ(count("awake", QStringLiteral("Address=12 AND servetype=6 AND servetime='2026-06-15 07:30:00'")), 1);
    EXPECT_EQ(awakeTime(), QStringLiteral("07:30"));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
    // An address beyond the grid's rows changes only the database.
    r.ext = 300;
    r.start = r.start.addSecs(60);
    EXPECT_TRUE(ClsMonitor().Record(r.frame(), true));
    // The wake-up cancelled: the extension's time is cleared.
    r.ext = 12;
    r.type = 9;
    r.start = r.start.addSecs(60);
    sent();
    EXPECT_TRUE(ClsMonitor().Record(r.frame(), true));
    EXPECT_EQ(awakeTime(), QString());
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});

    // The wake-up view shows the stored number, a tab in it kept in its cell.
    dbSwitch.execute(QStringLiteral("UPDATE Extension SET SpringNum=? WHERE Address=12"), {QStringLiteral("00\t12")});
    CurTable = QStringLiteral("Awake");
    grid->setRows(2);
    grid->setCols(4);
    r.ext = 12;
    r.type = 7;
    r.start = r.start.addSecs(60);
    ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
    ASSERT_EQ(grid->Rows(), 3);
    EXPECT_EQ(grid->TextMatrix(1, 1), QStringLiteral("E00 12"));
    EXPECT_EQ(grid->TextMatrix(1, 2), QStringLiteral("2026-06-15 07:33:00"));
    EXPECT_EQ(grid->TextMatrix(1, 3), QStringLiteral("振铃已接"));
    EXPECT_EQ(count("awake", QStringLiteral("Address=12")), 3);
    EXPECT_EQ(count("Tab_Phone"), 0);

    // A wake-up event with a damaged time is answered like any failed record.
    sent();
    QByteArray f = r.frame();
    f[19] = char(0x25);
    EXPECT_FALSE(ClsMonitor().Record(f, true));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820303")});
    EXPECT_EQ(count("awake", QStringLiteral("Address=12")), 3);
}

namespace {

// Takes what the engine shows instead of the windows.
class RecordingDisplay : public core::RecordDisplay {
public:
    QStringList calls;
    void ShowUserBalance(qint64 userId, platform::Currency balance) override {
        calls << QStringLiteral("balance %1 %2").arg(userId).arg(balance.toString2());
    }
    void ShowStoredCall(const ModSwitch::BillLine& call, bool overdrawn) override {
        calls << QStringLiteral("call %1 %2").arg(call.userId).arg(overdrawn);
    }
    bool PrintCallTicket(const ModSwitch::BillLine& call, const std::optional<QString>& userName) override {
        calls << QStringLiteral("ticket %1 %2").arg(call.userId).arg(userName.value_or(QStringLiteral("?")));
        return true;
    }
    void ShowWakeUpEvent(int address, int type, const QDateTime&, const QString& wake) override {
        calls << QStringLiteral("wake %1 %2 %3").arg(address).arg(type).arg(wake);
    }
    void ShowDepositGrade(qint64 userId, quint8 grade) override {
        calls << QStringLiteral("grade %1 %2").arg(userId).arg(grade);
    }
};

// A recording display set in the windows' place, a ticket printed for every
// call (local ones too), user 7 calling on extension 5; all put back at the end.
class DisplaySetTest : public ShowRecordTest {
protected:
    void SetUp() override {
        ShowRecordTest::SetUp();
        core::SetRecordDisplay(shown);
        PrnHD = 0;
        SHPrnHD = true;
        addUser(7, "5.00", 0, "10.00");
        setExtensionUser(5, 7);
        addRate(QStringLiteral("8"), 7, "1.00", "0.50", 60, 60, 0, QStringLiteral("本地"));
    }
    void TearDown() override {
        core::SetRecordDisplay(nullptr);
        ShowRecordTest::TearDown();
    }
    std::shared_ptr<RecordingDisplay> shown = std::make_shared<RecordingDisplay>();
};

}  // namespace

// The engine reaches the windows only through the display set: with another
// one in place, the console's grid is left alone and the display gets every step.
TEST_F(DisplaySetTest, TheEngineShowsItsWorkThroughTheDisplaySet) {
    const bool stored = record(0);
    CallRecord r;
    r.ext = 12;
    r.type = 6;
    r.start = QDateTime(QDate(2026, 6, 15), QTime(7, 30, 0));
    const bool wake = ClsMonitor().Record(r.frame(), true);
    ASSERT_TRUE(stored);
    ASSERT_TRUE(wake);
    EXPECT_EQ(shown->calls, (QStringList{QStringLiteral("balance 7 3.00"), QStringLiteral("grade 7 10"),
                                         QStringLiteral("call 7 0"), QStringLiteral("ticket 7 用户7"),
                                         QStringLiteral("wake 12 6 07:30")}));
    EXPECT_EQ(grid->Rows(), 2);
    EXPECT_TRUE(grid->TextMatrix(1, 0).isEmpty());
}

// The work after a record is stored follows its commit, never a rollback: a
// batch of records whose commit fails (its transaction rolled back) prints no
// ticket, shows no bill row, sends no fee frame, now or at the next commit.
TEST_F(DisplaySetTest, ABatchWhoseCommitFailsShowsPrintsAndSendsNothing) {
    sent();
    try {
        platform::Transaction batch(dbSwitch);
        ASSERT_TRUE(record(0));
        ASSERT_TRUE(record(1));
        // The commit fails (the disk refuses it): the batch is rolled back.
        throw platform::DbError(platform::kErrDiskIO, QStringLiteral("disk I/O error"));
    } catch (const platform::DbError&) {
    }
    EXPECT_TRUE(shown->calls.isEmpty()) << shown->calls.join(", ").toStdString();
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(count("Tab_Phone"), 0);
    // The next record commits its own work only.
    ASSERT_TRUE(record(2));
    EXPECT_EQ(shown->calls.filter(QRegularExpression("^call ")).size(), 1) << shown->calls.join(", ").toStdString();
    EXPECT_EQ(shown->calls.filter(QRegularExpression("^ticket ")).size(), 1);
    EXPECT_EQ(sent().filter(QRegularExpression("^" + QString(FrameCode::kCallFee))).size(), 1);
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(grid->Rows(), 2);   // the placeholder row only: the display took the call
}
