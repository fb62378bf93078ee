// The USB collector commands of the console against the simulated collector.
#include "link/Transport.h"
#include "ConsoleFixture.h"

#include "core/StationFiles.h"
#include "core/ModUpgrade.h"
#include "core/Settings.h"
#include "link/UsbCommands.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "pricing/RateCache.h"
#include "sim/UsbCollectorSim.h"
#include "support/RefusalWalk.h"
#include "pricing/BillFile.h"

#include <QMenuBar>

#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTimer>
#include <atomic>
#include <cstdio>

using namespace consoletest;

namespace {

class UsbMenu : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        openDatabases();
        // User 7, who pays after, owns extension 5; a call starting with 8 costs 0.20.
        dbSwitch.execute("insert or replace into user (userid, username, balancemode, remain, overdraft) "
                         "values (7, '用户7', 1, ?, 0)",
                         {platform::Currency::fromYuan(100)});
        dbSwitch.execute("update extension set userid=7 where address=5");
        dbSwitch.execute("insert into feerate (zonecode, summary, firsttime, firstprice, pertime, perprice, discountid, "
                         "feeratetype, feerateid) values ('8', '本地', 180, ?, 60, ?, 1, 7, 0)",
                         {platform::Currency::fromFen(20), platform::Currency::fromFen(10)});
        ModSwitch::LoadSysPara();
        ModSwitch::OpenSharedRecordsets();
        pricing::RateCache::invalidate();
        ModComm::ChooseTransport(true);
        g_NoAnswerCount = 0;
        usb = std::make_shared<sim::UsbCollectorSim>();
        platform::SetUsbCollector(usb);
        // Waits run on a tick that moves 5 ms a look.
        platform::testing::setTick([this] { return tick += 5; });
    }
    QByteArray record(int n) {
        sim::CallRecord r;
        r.extAddr = 5;
        r.called = QStringLiteral("8800%1").arg(n, 4, 10, QLatin1Char('0'));
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, n));
        r.durationSec = 60 + n;
        return r.body();
    }
    QByteArray billDat() {
        QFile f(UsbCommands::BillFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    }
    qint64 stored() { return dbPhoneCur.scalar("select count(*) from " + dbPhoneCur.qualified("Tab_Phone")).toLongLong(); }
    platform::Currency remain() {
        return platform::Currency::fromRaw(dbSwitch.scalar("select remain from user where userid=7").toLongLong());
    }
    // 读取USB话单 (1 the re-read, 2 the charged read) from its menu item, and
    // what its box said.
    QString readUsb(int which) {
        platform::script::answer("读取USB话单", platform::rOK);
        console().mnuReadUSB[which]->trigger();
        return lastShown();
    }
    std::shared_ptr<sim::UsbCollectorSim> usb;
    qint64 tick = 1000000;
};

TEST_F(UsbMenu, ReadStoresEveryRecordInBillDatOnTheDiskBeforeItsAnswerAndPricesThem) {
    for (int i = 0; i < 3; ++i) usb->storeRecord(record(i));
    // bill.dat's size at each of its syncs, and the answers sent before it.
    std::vector<std::pair<qint64, int>> syncs;
    platform::testing::setSyncHook([&](const QString& path) {
        if (QFileInfo(path).fileName().compare("bill.dat", Qt::CaseInsensitive) == 0)
            syncs.push_back({QFileInfo(path).size(), tracedSends("820302")});
    });
    EXPECT_EQ(readUsb(1), "读取USB话单成功");
    platform::testing::setSyncHook(nullptr);
    ASSERT_EQ(syncs.size(), 4u);
    for (int k = 0; k <= 3; ++k) {
        EXPECT_EQ(syncs[k].first, 30 * k) << k;
        EXPECT_EQ(syncs[k].second, std::max(0, k - 1)) << k;
    }
    EXPECT_EQ(tracedSends("820302"), 3);
    const QByteArray file = billDat();
    ASSERT_EQ(file.size(), 90);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(file.mid(30 * k, 29), record(k)) << k;
    EXPECT_EQ(stored(), 3);
    EXPECT_EQ(remain(), platform::Currency::fromYuan(100));   // a re-read charges nobody
    EXPECT_TRUE(console().isEnabled());
    EXPECT_FALSE(frmProgress::exists());
}

// A charged read of six announced where four came, a deposit event among
// them: what came is priced, the event going to the deposit history, neither
// billed nor charged.
TEST_F(UsbMenu, ReadThatEndsEarlySaysSoAndPricesWhatCameADepositEventApart) {
    ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDepositHistory"), false);
    sim::DepositEvent d;
    d.extAddr = 5;
    d.when = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 30));
    d.fen = 500;
    usb->storeRecord(record(0));
    usb->storeRecord(d.body());
    for (int i = 1; i < 3; ++i) usb->storeRecord(record(i));
    usb->setPointers(512, 512, 518);   // six announced, four there
    EXPECT_EQ(readUsb(2), "读取USB话单未完成:4/6");
    EXPECT_EQ(billDat().size(), 120);
    EXPECT_EQ(stored(), 3);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from ExtDepositHistory where ExtAddr=5 and ChangeType=0 and "
                              "ChangeDate='2026-06-15 10:00:30'")
                  .toInt(),
              1);
    // The new records are charged as live ones; answered to the collector as
    // they came, never again to the switch, whose record in flight it would take.
    EXPECT_EQ(remain(), platform::Currency::fromYuan(100) - platform::Currency::fromFen(60));
    EXPECT_EQ(usb->switchSim().receivedWith("820302").size(), 0u);
    EXPECT_TRUE(console().isEnabled());
}

TEST_F(UsbMenu, AFileReplacedWhileTheReadIsStoredIsToldAsTheStopNotAsSuccess) {
    for (int i = 0; i < 3; ++i) usb->storeRecord(record(i));
    // The file is put in place of the read's once its storing has begun.
    bool replaced = false;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (replaced || !frmProgress::exists()) return;
        const frmProgress& p = frmProgress::instance();
        if (p.lblPrompt->text() != "正在计算话费..." || p.pbrSwitch->value() <= p.pbrSwitch->minimum()) return;
        replaced = true;
        const QString path = UsbCommands::BillFilePath();
        QFile other(path + ".new");
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write(QByteArray(90, 'x'));
        other.close();
        ASSERT_EQ(std::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData()), 0);
    });
    watch.start();
    platform::script::answer("Bill.dat在存入数据库时被替换或改动，已停止存入", platform::rOK);
    platform::script::answer("读取USB话单失败", platform::rOK);
    console().mnuReadUSB_Click(1);
    watch.stop();
    ASSERT_TRUE(replaced);
    EXPECT_EQ(lastShown(), "读取USB话单失败:Bill.dat在存入数据库时被替换或改动，已停止存入");
    for (const auto& told : platform::script::shown()) EXPECT_FALSE(told.text.contains("成功")) << told.text.toStdString();
    EXPECT_TRUE(console().isEnabled());
}

// Records charged from the collector are priced in batches: the deposit
// grade a charge changes goes to the switch, and waits for its answer, only
// once the batch holding the charge has committed.
TEST_F(UsbMenu, ADepositGradeChangedByAChargedReadIsSentAfterItsBatchCommits) {
    dbSwitch.execute("update user set balancemode=0 where userid=7");
    for (int i = 0; i < 3; ++i) usb->storeRecord(record(i));
    usb->setPointers(512, 512, 515);
    std::atomic<int> openWhenSent{-1};
    usb->switchSim().setObserver([&](const sim::Frame& f) {
        if (f.at(0) == 0x8B && f.at(1) == 0x16) openWhenSent = platform::openTransactionCount();
    });
    platform::script::answer("读取USB话单成功", platform::rOK);
    console().mnuReadUSB_Click(2);
    usb->switchSim().setObserver(nullptr);
    EXPECT_EQ(openWhenSent, 0);
    EXPECT_EQ(lastShown(), "读取USB话单成功");
    EXPECT_EQ(stored(), 3);
    EXPECT_EQ(remain(), platform::Currency::fromYuan(100) - platform::Currency::fromFen(60));
    EXPECT_FALSE(usb->switchSim().receivedWith("8B16").empty());
    EXPECT_EQ(platform::yieldsInTransaction(), 0);
}

TEST_F(UsbMenu, NoPointerAnswerFailsWithoutPricing) {
    usb->storeRecord(record(1));
    usb->ignoreOrders(1);
    EXPECT_EQ(readUsb(1), "读取USB话单失败");
    EXPECT_EQ(stored(), 0);
    EXPECT_TRUE(console().isEnabled());
    // The read was ended at the collector.
    bool ended = false;
    for (const auto& f : usb->collectorOrders()) ended |= f.hex() == "7F0608000000";
    EXPECT_TRUE(ended);
}

TEST_F(UsbMenu, EmptyStoreLeavesAnEmptyBillDatWithoutProgressWindow) {
    QFile old(AppPath + "Bill.dat");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(60, 'x'));
    old.close();
    // A file beside no mark is nobody's known to be stored: copied aside, said so.
    platform::script::answer("BillWait.dat丢失或损坏", platform::rOK);
    EXPECT_EQ(readUsb(1), "读取USB话单成功");
    EXPECT_EQ(billDat().size(), 0);
    EXPECT_FALSE(QFile::exists(AppPath + "Bill.dat"));
    EXPECT_TRUE(QFile::exists(AppPath + "bill.dat"));
    EXPECT_EQ(stored(), 0);
}

TEST_F(UsbMenu, RecordsReadWhileTheCallFileIsLockedWaitInBillDatAndAreStoredOnce) {
    for (int i = 0; i < 4; ++i) usb->storeRecord(record(i));
    {
        // Another program writes "PhoneCur.mdb" in a transaction it keeps open
        // (in write-ahead mode a reader would not keep the station from writing).
        platform::Database lock = platform::Database::open(dir->file("PhoneCur.mdb"));
        lock.execute("BEGIN IMMEDIATE");
        lock.scalar("select count(*) from Tab_Phone");
        EXPECT_EQ(readUsb(1), "读取USB话单失败:4张话单尚未存入数据库，保留在Bill.dat中，可存储时再存入");
        EXPECT_EQ(stored(), 0);
        // The operator erases the collector, asked first: the records live on in "Bill.dat" alone.
        platform::script::answer("要清除吗", platform::rNo);
        console().mnuClearUSB_Click();
        EXPECT_FALSE(usb->shortEraseSeen());
        usb->setEraseDelay(2);
        platform::script::answer("要清除吗", platform::rYes);
        platform::script::answer("USB清除", platform::rOK);
        console().mnuClearUSB_Click();
        EXPECT_EQ(lastShown(), "USB清除成功");
        ASSERT_EQ(usb->oldest(), usb->nextFree());
        // Still held: the next read is refused before it asks the collector anything.
        const size_t orders = usb->collectorOrders().size();
        platform::script::answer("读取USB话单失败:4张", platform::rOK);
        console().mnuReadUSB_Click(1);
        EXPECT_EQ(usb->collectorOrders().size(), orders);
        EXPECT_EQ(billDat().size(), 120);
        lock.execute("ROLLBACK");
    }
    // Free again: the waiting records are stored before the next read replaces their file.
    usb->storeRecord(record(7));
    EXPECT_EQ(readUsb(1), "读取USB话单成功");
    EXPECT_EQ(stored(), 5);
    EXPECT_EQ(billDat().size(), 30);
    EXPECT_EQ(dbPhoneCur.scalar("select count(*) from " + dbPhoneCur.qualified("tab_errPh")).toLongLong(), 0);
    EXPECT_FALSE(QFile::exists(AppPath + "BillWait.dat"));
}

TEST_F(UsbMenu, NumberIsShownAndSetToItsLowSixteenBits) {
    usb->setNumber(4660);
    platform::script::answer("USB编号是", platform::rOK);
    console().mnuGetUSBID_Click();
    EXPECT_EQ(lastShown(), "USB编号是 4660");

    platform::script::answer("请输入USB编号", platform::rOK, "70000");
    platform::script::answer("USB设置编号为", platform::rOK);
    console().mnuSetUsbID_Click();
    EXPECT_EQ(lastShown(), "USB设置编号为4464");
    EXPECT_EQ(usb->number(), 4464);
    EXPECT_TRUE(usb->shortEraseSeen());

    // A text that is no number sends nothing.
    const size_t before = usb->collectorOrders().size();
    platform::script::answer("请输入USB编号", platform::rOK, "abc");
    console().mnuSetUsbID_Click();
    EXPECT_EQ(usb->collectorOrders().size(), before);
}

// 读取USB话单 from its menu while the disk refuses once: the n-th write, then
// the n-th sync, of the call file and of the station file. Each record read is
// stored and charged once, or waits in "Bill.dat" and is stored and charged
// once later; the box says success exactly when every record is stored, and
// how many wait when some do.
TEST_F(UsbMenu, EachRecordReadFromTheMenuIsChargedOnceOrKeptWhateverIsRefused) {
    namespace refusal = testsupport::refusal;
    using platform::Currency;
    constexpr int kRecords = 3;
    // The menu's own command, as the operator's click on it runs it.
    QAction* read = nullptr;
    for (QAction* menu : console().mnuBar->actions())
        if (menu->text() == "USB设置" && menu->menu())
            for (QAction* a : menu->menu()->actions())
                if (a->text() == "读取USB话单") read = a;
    ASSERT_NE(read, nullptr);
    // A record of the i-th run: 0.20 each, a minute apart.
    const auto at = [](int n) { return QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)).addSecs(60 * n); };
    const auto times = [&](int n) {
        return dbPhoneCur
            .scalar("select count(*) from " + dbPhoneCur.qualified("Tab_Phone") + " where f_date=?",
                    {at(n).toString("yyyy-MM-dd HH:mm:ss")})
            .toLongLong();
    };
    Currency charged;
    QStringList boxes;
    const int runs = refusal::walk(
        [&](int) {
            const refusal::MaybeBoxes told({{"读取USB话单", platform::rOK}});
            read->trigger();
            boxes = told.shown();
            return boxes.size() == 1 && boxes.first() == "读取USB话单成功";
        },
        [&](int i, bool said) {
            qint64 stored = 0;
            for (int n = i * kRecords; n < (i + 1) * kRecords; ++n) {
                EXPECT_LE(times(n), 1) << n;
                stored += times(n);
            }
            const int waiting = pricing::billfile::Waiting();
            EXPECT_EQ(stored + waiting, kRecords) << boxes.join('\n').toStdString();
            EXPECT_EQ(said, waiting == 0) << boxes.join('\n').toStdString();
            if (waiting > 0) {
                EXPECT_TRUE(refusal::anyContains(boxes, QStringLiteral("读取USB话单失败:%1张话单尚未存入数据库").arg(waiting)))
                    << boxes.join('\n').toStdString();
            }
            EXPECT_EQ(usb->firstUnread(), usb->nextFree());
            charged += Currency::fromFen(20 * stored);
            refusal::checkMoney(7, Currency::fromYuan(100) - charged, Currency(), charged);
            // What waits is stored, and charged, once, before anything else is read.
            EXPECT_EQ(pricing::billfile::Price(), 0);
            for (int n = i * kRecords; n < (i + 1) * kRecords; ++n) EXPECT_EQ(times(n), 1) << n;
            charged += Currency::fromFen(20 * waiting);
            refusal::checkMoney(7, Currency::fromYuan(100) - charged, Currency(), charged);
        },
        refusal::stationFiles(),
        [&](int i) {
            for (int n = i * kRecords; n < (i + 1) * kRecords; ++n) {
                sim::CallRecord r;
                r.extAddr = 5;
                r.called = QStringLiteral("8800%1").arg(n % 10000, 4, 10, QLatin1Char('0'));
                r.start = at(n);
                r.durationSec = 60;
                usb->storeRecord(r.body());
            }
        });
    EXPECT_GT(runs, 4);
    EXPECT_TRUE(console().isEnabled());
}

}  // namespace
