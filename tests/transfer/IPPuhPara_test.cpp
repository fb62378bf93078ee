// The IP payphone parameters of the second switch model: the frames, and the
// window reached from the console's menu against the simulator on a pseudo-terminal.
#include "console/ConsoleFixture.h"

#include "core/Settings.h"
#include "link/ModComm.h"
#include "platform/Files.h"
#include "transfer/IPPuhPara.h"
#include "transfer/frmIPPuhPara.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

using namespace consoletest;
using platform::Currency;
namespace script = platform::script;

namespace {

QByteArray bytes(const char* hex) { return QByteArray::fromHex(hex); }

TEST(IPPuhFrames, ParameterFrameBothWaysAndTheUploadRequest) {
    IPPuhPara::Params p;
    p.deposit[0] = Currency::fromYuan(100);
    p.grade[0] = 2;
    p.deposit[1] = Currency::fromYuan(50);
    p.grade[1] = 8;
    p.day = 1;
    p.hour = 0;
    p.rent = Currency::fromYuan(5);
    p.autoDeduct = true;
    p.shortSecs = 3;
    const QString order = IPPuhPara::ParaOrder(p);
    EXPECT_EQ(order, "A60E271002138808010001F48003");
    EXPECT_EQ(ModComm::CheckSum(order), "09");

    QByteArray answer = bytes("A60E2710101388080123" "01F4E0FF09");
    auto back = IPPuhPara::DecodeAnswer(answer);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->deposit[0], Currency::fromYuan(100));
    EXPECT_EQ(back->grade[0], -1);   // 16 names no grade
    EXPECT_EQ(back->grade[1], 8);
    EXPECT_EQ(back->deposit[1], Currency::fromYuan(50));
    EXPECT_EQ(back->day, 1);
    EXPECT_EQ(back->hour, 23);
    EXPECT_TRUE(back->autoDeduct && back->noDeductOverdrawn && back->mayOverdraw);
    EXPECT_EQ(back->shortSecs, 255);
    answer[8] = char(0x31);
    EXPECT_EQ(IPPuhPara::DecodeAnswer(answer)->day, 31);
    // No date: day 00, hour 24, unset digits; and a frame cut short.
    for (const char* bad : {"A60E27100213880800000001F48003", "A60E27100213880801240001F48003",
                            "A60E271002138808FF000001F48003", "A60E2710021388080100"})
        EXPECT_FALSE(IPPuhPara::DecodeAnswer(bytes(bad))) << bad;

    EXPECT_EQ(IPPuhPara::RecordUploadOrder(QDate(2025, 12, 15), QDate(2026, 1, 14)), "96071215011400");

    const std::pair<const char*, const char*> numbers[] = {
        {"abc", "0"}, {" 12.50秒", "12.5"}, {"1e2", "100"}, {"-1.5e-1", "-0.15"}, {".5e1x", "5"}, {"007.0", "7"}, {"3e", "3"}};
    for (const auto& [text, value] : numbers) EXPECT_EQ(IPPuhPara::LeadingNumber(text).value_or("none"), value) << text;
    EXPECT_FALSE(IPPuhPara::LeadingNumber("1e99"));
}

class IPPuh : public ConsoleTest {
protected:
    void SetUp() override {
        model = 2;
        ConsoleTest::SetUp();
        SwitchModel = 2;
        platform::testing::setNow([] { return QDateTime(QDate(2026, 6, 20), QTime(12, 0, 0)); });
        connectSwitch();
        load();
        console().show();
        WorkerRights = QStringList{"0"};
        clearLine();
        console().findChild<QAction*>("mnuIPPUHPARA")->trigger();
        ASSERT_TRUE(frmIPPuhPara::exists());
    }
    void TearDown() override {
        frmIPPuhPara::unload();
        ConsoleTest::TearDown();
    }
    frmIPPuhPara& w() { return frmIPPuhPara::instance(); }
    QString lastMessage() {
        const auto& s = platform::script::shown();
        return s.isEmpty() ? QString() : s.last().text;
    }
    void ok(const char* text) { platform::script::answer(QString::fromUtf8(text), platform::rOK); }
    // The example's values typed into the window.
    void typeExample() {
        w().txtDeposit[0]->setText("100");
        w().cboGrade[0]->setCurrentIndex(2);
        w().txtDeposit[1]->setText("50");
        w().cboGrade[1]->setCurrentIndex(8);
        w().dtDeduct->setDateTime(QDateTime(QDate(2004, 2, 1), QTime(0, 0)));
        w().txtRent->setText("5");
        w().chkMode->setChecked(true);
        w().chkDeposit->setChecked(false);
        w().chkOverdraft->setChecked(false);
        w().txtShort->setText("3");
    }
    QString variant(const char* key) { return ModSwitch::GetVariant(QString::fromLatin1(key), "<none>"); }
    qint64 rows(const char* table) {
        return dbPhoneCur.scalar(QStringLiteral("select count(*) from %1").arg(dbPhoneCur.qualified(table))).toLongLong();
    }
    QByteArray billDat() { return testsupport::bytesOf(AppPath + "Bill.dat"); }
    // A 65-second call of extension 5.
    static sim::CallRecord call(const char* called, int channel, const QDateTime& start) {
        sim::CallRecord r;
        r.extAddr = 5;
        r.called = called;
        r.channel = channel;
        r.start = start;
        r.durationSec = 65;
        return r;
    }
    std::vector<QByteArray> records(int n) {
        std::vector<QByteArray> out;
        for (int i = 0; i < n; ++i) out.push_back(call("88001234", 3, QDateTime(QDate(2026, 6, 10), QTime(9, i, 0))).body());
        return out;
    }
    // 上传话单 clicked, and the box that ends it says `told`.
    void upBill(const char* told = "读取话单成功") {
        ok(told);
        w().cmdUpBill->click();
        EXPECT_EQ(lastMessage(), QString::fromUtf8(told));
    }
    size_t countOf(const char* hexPrefix) { return sw.receivedWith(hexPrefix).size(); }
};

TEST_F(IPPuh, MenuHidesTheConsoleAndClosingShowsItAgain) {
    EXPECT_TRUE(w().isVisible());
    EXPECT_FALSE(w().isModal());
    EXPECT_FALSE(console().isVisible());
    ASSERT_TRUE(spin(2000, [&] { return !received().isEmpty(); }));
    EXPECT_EQ(received().value(0), "84040000");
    // Nothing was stored yet: the defaults, and no unsaved edits.
    EXPECT_EQ(w().txtDeposit[0]->text(), "0.00");
    EXPECT_EQ(w().cboGrade[1]->currentText(), "禁止使用");
    EXPECT_EQ(w().txtShort->text(), "3");
    EXPECT_EQ(w().dtDeduct->date(), QDate(2004, 2, 1));
    EXPECT_EQ(w().DTPEnd->date(), QDate(2026, 6, 19));
    EXPECT_EQ(w().DTPStart->date(), QDate(2026, 5, 19));
    EXPECT_FALSE(w().cmdSave->isEnabled());

    w().cmdCancel->click();
    EXPECT_FALSE(frmIPPuhPara::exists());
    EXPECT_TRUE(console().isVisible());
}

TEST_F(IPPuh, ExampleIsSavedAndDownloadedAsItsFrame) {
    typeExample();
    EXPECT_TRUE(w().cmdSave->isEnabled());
    w().cmdSave->click();
    EXPECT_FALSE(w().cmdSave->isEnabled());
    EXPECT_EQ(variant("IPPUHDEPOSIT0"), "100");
    EXPECT_EQ(variant("IPPUHGRADE1"), "8");
    EXPECT_EQ(variant("IPPUHMODE"), "1");
    EXPECT_EQ(variant("IPPUHOVERDRAFT"), "0");
    EXPECT_EQ(variant("IPPUHDEDUCT"), "2004-02-01 00:00:00");

    ok("下载IP公话参数成功");
    w().cmdDown->click();
    EXPECT_EQ(lastMessage(), "下载IP公话参数成功");
    const auto sent = sw.receivedWith("A60E");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].wire(), bytes("A60E271002138808010001F4800309"));
    EXPECT_TRUE(w().isEnabled());

    // An edit not saved, and No to the question: the stored values go.
    w().txtDeposit[0]->setText("200.00");
    const qsizetype before = platform::script::shown().size();
    platform::script::answer("参数已改变", platform::rNo);
    ok("下载IP公话参数成功");
    w().cmdDown->click();
    // The question alone carries the program's own title (the box's default), not AppName.
    EXPECT_TRUE(platform::script::shown().value(before).title.isEmpty());
    EXPECT_EQ(w().txtDeposit[0]->text(), "100");
    EXPECT_EQ(sw.receivedWith("A60E").back().hex(), "A60E271002138808010001F48003");
}

TEST_F(IPPuh, SaveRulesAndTheEmptyGradeEntry) {
    typeExample();
    // Equal deposits and grades are accepted.
    w().txtDeposit[0]->setText("10.00");
    w().txtDeposit[1]->setText("10.00");
    w().cboGrade[0]->setCurrentIndex(8);
    w().cboGrade[1]->setCurrentIndex(8);
    EXPECT_TRUE(w().SavePara());
    EXPECT_EQ(variant("IPPUHGRADE1"), "8");

    // The two empty entries after "禁止使用" name no grade: neither is stored,
    // and one stored by an earlier save shows as unset, not as the top grades.
    for (int empty : {14, 15}) {
        w().cboGrade[1]->setCurrentIndex(empty);
        ok("请选择可拨打等级");
        EXPECT_FALSE(w().SavePara()) << empty;
    }
    EXPECT_EQ(variant("IPPUHGRADE1"), "8");
    ModSwitch::SetVariant("IPPUHGRADE1", "14");
    ModSwitch::SetVariant("IPPUHGRADE0", "15");
    w().LoadPara();
    EXPECT_EQ(w().cboGrade[1]->currentText(), "");
    EXPECT_EQ(w().cboGrade[0]->currentText(), "");
    EXPECT_EQ(script::pendingAnswers(), 0);
}

TEST_F(IPPuh, ExponentsReadOneWayInTheFieldTheSaveAndTheFrame) {
    typeExample();
    w().txtDeposit[0]->setText("1e2");
    EXPECT_TRUE(w().txtDeposit_LostFocus(0));
    EXPECT_EQ(w().txtDeposit[0]->text(), "100.00");
    w().txtShort->setText("0.3e1秒");
    w().txtShort_LostFocus();
    EXPECT_EQ(w().txtShort->text(), "3");
    w().txtRent->setText("7e3");
    ok("请输入0-655.35之间的数值");
    EXPECT_FALSE(w().txtRent_LostFocus());
    EXPECT_EQ(w().txtRent->text(), "7000.00");

    // Fields never left: the save stores them as typed, the frame carries their values.
    w().txtDeposit[1]->setText("5E+1");
    w().txtRent->setText("500e-2");
    w().txtShort->setText("3e0");
    ASSERT_TRUE(w().SavePara());
    EXPECT_EQ(variant("IPPUHDEPOSIT1"), "5E+1");
    ok("下载IP公话参数成功");
    w().cmdDown->click();
    ASSERT_EQ(countOf("A60E"), 1u);
    EXPECT_EQ(sw.receivedWith("A60E")[0].hex(), "A60E271002138808010001F48003");
    for (const char* big : {"1e400", "9e99"}) {
        w().txtShort->setText(big);
        ok("此项数据只能是0-255之间的数");
        EXPECT_FALSE(w().SavePara()) << big;
    }
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
}

// Each fault alone (a field, or the rules between the two grades' deposits
// and grades), each with its message and nothing sent.
TEST_F(IPPuh, BadFieldsAreRefusedBeforeAnyFrame) {
    const struct {
        std::function<void()> spoil;
        const char* message;
    } faults[] = {
        {[&] { w().txtRent->setText("655.36"); }, "请输入0-655.35之间的数值"},
        {[&] { w().cboGrade[0]->setEditText(""); }, "请选择可拨打等级"},
        {[&] { w().txtShort->setText("256"); }, "此项数据只能是0-255之间的数"},
        {[&] { w().txtShort->setText("-1"); }, "此项数据只能是0-255之间的数"},
        {[&] { w().txtDeposit[1]->setText("150.00"); }, "等级一押金不能小于等级二押金"},
        {[&] { w().cboGrade[1]->setCurrentIndex(0); }, "等级一不能小于等级二"},   // 话务台, above 国际长途
    };
    for (const auto& f : faults) {
        typeExample();
        ASSERT_TRUE(w().SavePara());
        f.spoil();
        platform::script::answer("参数已改变", platform::rYes);
        ok(f.message);
        w().cmdDown->click();
        EXPECT_EQ(lastMessage(), QString::fromUtf8(f.message));
        EXPECT_TRUE(w().cmdSave->isEnabled());
        EXPECT_TRUE(w().isEnabled());
        // Nothing of the refused save is stored.
        EXPECT_EQ(variant("IPPUHDEPOSIT1") + "/" + variant("IPPUHGRADE1"), "50/8");
    }
    EXPECT_EQ(tracedSends("A60E"), 0);
    EXPECT_EQ(variant("IPPUHRENT"), "5");
}

TEST_F(IPPuh, ReadTakesTheWholeAnswerOrNothing) {
    sw.setRow(sim::tables::IPPuhPara, 0, bytes("A60E3A98021388083103" "0064402A"));
    ok("上传IP公话参数成功");
    w().cmdUpsend->click();
    EXPECT_EQ(countOf("A60300"), 1u);
    EXPECT_EQ(w().txtDeposit[0]->text(), "150.00");
    EXPECT_EQ(w().cboGrade[0]->currentText(), "国际长途");
    EXPECT_EQ(w().dtDeduct->time().hour(), 3);
    EXPECT_EQ(w().dtDeduct->date().day(), 28);   // day 31 shown as the last day every month has
    EXPECT_EQ(w().txtRent->text(), "1.00");
    EXPECT_TRUE(w().chkDeposit->isChecked());
    EXPECT_FALSE(w().chkMode->isChecked());
    EXPECT_EQ(w().txtShort->text(), "42");
    EXPECT_TRUE(w().cmdSave->isEnabled());
    EXPECT_EQ(variant("IPPUHDEPOSIT0"), "<none>");   // nothing stored until saved

    w().LoadPara();
    sw.setRow(sim::tables::IPPuhPara, 0, bytes("A60E3A98101388080003" "0064402A"));
    ok("上传IP公话参数失败");
    w().cmdUpsend->click();
    EXPECT_EQ(lastMessage(), "上传IP公话参数失败");
    EXPECT_EQ(w().txtDeposit[0]->text(), "0.00");
    EXPECT_EQ(w().cboGrade[0]->currentText(), "禁止使用");
    EXPECT_FALSE(w().cmdSave->isEnabled());
    EXPECT_TRUE(w().isEnabled());

    // A grade byte naming no grade reads as unset, not as the grade shown before.
    sw.setRow(sim::tables::IPPuhPara, 0, bytes("A60E27100E13880F0100" "01F48003"));
    ok("上传IP公话参数成功");
    w().cmdUpsend->click();
    EXPECT_EQ(w().cboGrade[0]->currentText(), "");
    EXPECT_EQ(w().cboGrade[1]->currentText(), "");
}

TEST_F(IPPuh, RecordUploadPricesEachRecordOnceAcrossUploads) {
    sw.setUploadRecords(records(5));
    w().DTPStart->setDate(QDate(2025, 12, 15));
    w().DTPEnd->setDate(QDate(2026, 1, 14));
    for (int round = 0; round < 3; ++round) {
        // The third time the first record comes in one write with the
        // request's acknowledgement: it is an uploaded one all the same.
        sw.setUploadWithAck(round == 2);
        upBill();
        // The reports resumed: the upload's orders have all reached the switch.
        ASSERT_TRUE(allArrived());
        EXPECT_EQ(billDat().size(), 150);
        EXPECT_EQ(rows("Tab_Phone"), 5);
        EXPECT_EQ(rows("tab_errPh"), 5 * round);
    }
    EXPECT_EQ(sw.receivedWith("96071215011400").size(), 3u);
    EXPECT_EQ(countOf("96070001010101"), 3u);
    EXPECT_EQ(countOf("820302"), 15u);
    EXPECT_EQ(countOf("950820"), 0u);   // uploaded records carry no fee order
    EXPECT_EQ(billDat().left(29), records(1)[0]);
    EXPECT_TRUE(console().window()->isEnabled());
    EXPECT_FALSE(frmProgress::exists());
    EXPECT_TRUE(w().cmdUpBill->isEnabled());
}

// A record sent live and a balance query come before the request's
// acknowledgement; the balance answer's own acknowledgement is slow, so the
// acknowledgement of the request and the first uploaded record arrive while
// the station still waits inside the query. Each record is stored once, on its
// own road: the live one charged live, every uploaded one in "Bill.dat"; the
// reports pause before the request and resume after the closing order.
TEST_F(IPPuh, RecordsHeardWhileTheRequestWaitsEachGoTheirOwnRoadInTheirOrder) {
    // Three records to upload, the request's acknowledgement 50 ms late.
    sw.setUploadRecords(records(3));
    sw.setLateReplyMs(50);
    sw.addRule("9607", sim::Reply::Late, 1);
    const sim::CallRecord live = call("88009999", 4, QDateTime(QDate(2026, 6, 20), QTime(11, 58, 0)));
    std::atomic<bool> sent{false}, answered{false};
    sw.setObserver([&](const sim::Frame& f) {
        if (f.startsWith("9607") && f.hex().endsWith("00") && !sent.exchange(true)) {
            sw.sendCallRecord(live);
            sw.sendBalanceQuery(5);
            sw.setAckTiming(600, 600, 0.0, 0, 0);
        }
        if (f.startsWith("950810") && !answered.exchange(true)) sw.setAckTiming(-1, 0, 0.0, 0, 0);
    });
    upBill();
    ASSERT_TRUE(allArrived());
    sw.setObserver(nullptr);
    ASSERT_TRUE(sent);
    EXPECT_TRUE(answered);
    EXPECT_EQ(billDat().size(), 90);
    EXPECT_EQ(billDat().left(29), records(1)[0]);
    EXPECT_EQ(rows("Tab_Phone"), 4);
    EXPECT_EQ(rows("tab_errPh"), 0);
    EXPECT_EQ(countOf("950820"), 1u);   // the fee order of the live record alone
    EXPECT_EQ(sw.recordAnswers(), std::vector<QString>{"820302"});
    QStringList order;
    for (const sim::Frame& f : sw.received())
        if (f.startsWith("9603") || f.startsWith("9607")) order << f.hex();
    ASSERT_GE(order.size(), 4);
    EXPECT_EQ(order.first(), "960300");
    EXPECT_TRUE(order[1].startsWith("9607") && order[1].endsWith("00")) << order[1].toStdString();
    EXPECT_EQ(order.last(), "960301");
    EXPECT_EQ(order[order.size() - 2], "96070001010101");
}

TEST_F(IPPuh, EachUploadedRecordIsOnTheDiskBeforeItIsAnsweredTheFirstToo) {
    sw.setUploadRecords(records(5));
    // Bill.dat's size at each of its syncs, and the answers sent before it.
    std::vector<std::pair<qint64, int>> syncs;
    platform::testing::setSyncHook([&](const QString& path) {
        if (QFileInfo(path).fileName() != "Bill.dat") return;
        syncs.push_back({QFileInfo(path).size(), tracedSends("820302")});
        // A slow disk: the switch's first record, sent right after it
        // acknowledged the request, comes while the new file is synced.
        if (syncs.size() == 1) spin(400);
    });
    upBill();
    platform::testing::setSyncHook(nullptr);
    ASSERT_TRUE(allArrived());
    // None was priced as a live call: no fee order, and all five are in the file.
    EXPECT_EQ(countOf("950820"), 0u);
    const QByteArray file = billDat();
    ASSERT_EQ(file.size(), 150);
    ASSERT_EQ(syncs.size(), 6u);
    for (int k = 0; k <= 5; ++k) {
        EXPECT_EQ(syncs[k].first, 30 * k) << k;
        EXPECT_EQ(syncs[k].second, std::max(0, k - 1)) << k;
    }
    EXPECT_EQ(tracedSends("820302"), 5);
    // Each record kept whole, its checksum last.
    for (int k = 0; k < 5; ++k) {
        quint8 sum = 0;
        for (int i = 0; i < 29; ++i) sum = quint8(sum + quint8(file[30 * k + i]));
        EXPECT_EQ(quint8(file[30 * k + 29]), sum) << k;
    }
    EXPECT_EQ(rows("Tab_Phone"), 5);
}

TEST_F(IPPuh, RecordsUploadedWhileTheCallFileIsLockedWaitInBillDatAndAreStoredOnce) {
    // The switch forgets each record it hears "820302" for.
    sw.setUploadRecords(records(5));
    sw.setUploadForgetsAnswered(true);
    {
        // Another program writes "PhoneCur.mdb" in a transaction it keeps open.
        platform::Database lock = platform::Database::open(dir->file("PhoneCur.mdb"));
        lock.execute("BEGIN IMMEDIATE");
        lock.scalar("select count(*) from Tab_Phone");
        ok("读取话单失败");
        w().cmdUpBill->click();
        EXPECT_EQ(lastMessage(), "读取话单失败:5张话单尚未存入数据库，保留在Bill.dat中，可存储时再存入");
        ASSERT_TRUE(allArrived());
        EXPECT_EQ(countOf("820302"), 5u);
        EXPECT_TRUE(sw.uploadRecords().empty());
        EXPECT_EQ(rows("Tab_Phone"), 0);
        // Still held: the next upload is refused before it asks the switch.
        ok("上传话单失败:5张");
        w().cmdUpBill->click();
        EXPECT_EQ(tracedSends("9607"), 2);   // the first request and its closing order only
        EXPECT_EQ(billDat().size(), 150);
        lock.execute("ROLLBACK");
    }
    // Free again: the waiting records are stored before the next upload replaces their file.
    upBill();
    EXPECT_EQ(rows("Tab_Phone"), 5);
    EXPECT_EQ(rows("tab_errPh"), 0);
    EXPECT_EQ(billDat().size(), 0);
    EXPECT_FALSE(QFile::exists(AppPath + "BillWait.dat"));
}

// "Bill.dat" put in place of the upload's file while its records are stored:
// the storing stops, and the window says so instead of success.
TEST_F(IPPuh, AFileReplacedWhileTheUploadIsStoredIsToldAsTheStopNotAsSuccess) {
    sw.setUploadRecords(records(3));
    bool replaced = false;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (replaced || !frmProgress::exists()) return;
        const frmProgress& p = frmProgress::instance();
        if (p.lblPrompt->text() != "正在计算话费..." || p.pbrSwitch->value() <= p.pbrSwitch->minimum()) return;
        replaced = true;
        testsupport::writeBytes(AppPath + "Bill.new", QByteArray(90, 'x'));
        ASSERT_EQ(std::rename(QFile::encodeName(AppPath + "Bill.new").constData(),
                              QFile::encodeName(AppPath + "Bill.dat").constData()),
                  0);
    });
    watch.start();
    ok("Bill.dat在存入数据库时被替换或改动，已停止存入");
    ok("读取话单失败");
    w().cmdUpBill->click();
    watch.stop();
    ASSERT_TRUE(replaced);
    EXPECT_EQ(lastMessage(), "读取话单失败:Bill.dat在存入数据库时被替换或改动，已停止存入");
    for (const auto& told : platform::script::shown()) EXPECT_FALSE(told.text.contains("成功")) << told.text.toStdString();
    ASSERT_TRUE(allArrived());
    EXPECT_EQ(countOf("96070001010101"), 1u);
}

TEST_F(IPPuh, StopAfterTwoRecordsPricesThoseAndEndsTheUpload) {
    sw.setUploadRecords(records(5));
    bool commandsWhileBusy = true;
    bool closedWhileBusy = true;
    frmProgress& progress = frmProgress::instance();
    QObject::connect(progress.pbrSwitch, &QProgressBar::valueChanged, [&](int v) {
        if (progress.lblPrompt->text() != "读取话单..." || v != progress.pbrSwitch->minimum() + 2) return;
        commandsWhileBusy = w().cmdUpBill->isEnabled() || w().cmdDown->isEnabled() || w().cmdUpsend->isEnabled();
        closedWhileBusy = w().close();
        progress.cmdStop->click();
    });
    ok("读取话单成功");
    w().cmdUpBill->click();
    EXPECT_FALSE(commandsWhileBusy);
    EXPECT_FALSE(closedWhileBusy);
    ASSERT_TRUE(allArrived());
    EXPECT_EQ(billDat().size(), 60);
    EXPECT_EQ(rows("Tab_Phone"), 2);
    EXPECT_EQ(countOf("96070001010101"), 1u);
    // The record that came with the stop is not answered: no third one arrives.
    EXPECT_EQ(countOf("820302"), 1u);
    EXPECT_EQ(rows("tab_errPh"), 0);
}

TEST_F(IPPuh, UnansweredRequestLeavesTheRecordFileAlone) {
    testsupport::writeBytes(AppPath + "Bill.dat", QByteArray(30, 'x'));
    clearLine();   // the menu's own order
    // Without right 30 (上传话单) nothing happens but the refusal.
    WorkerRights = QStringList{"29"};
    ok("你没有此操作权限");
    w().cmdUpBill->click();
    EXPECT_EQ(lastMessage(), "你没有此操作权限");
    EXPECT_EQ(tracedSends("9607"), 0);
    WorkerRights = QStringList{"30"};
    sw.addRule("9607", sim::Reply::Silent, -1);
    // A file beside no mark is nobody's known to be stored: copied aside, said so.
    ok("BillWait.dat丢失或损坏");
    upBill("上传话单失败");
    EXPECT_EQ(billDat(), QByteArray(30, 'x'));
    ASSERT_TRUE(allArrived());
    EXPECT_EQ(countOf("84040000"), 0u);
    EXPECT_EQ(countOf("96070001010101"), 0u);
    // The reports paused for the request go on again.
    EXPECT_EQ(countOf("960300"), 1u);
    EXPECT_EQ(countOf("960301"), 1u);
}

}  // namespace
