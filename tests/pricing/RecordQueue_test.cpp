// "Bill.dat" and the spool read by the same rules: a record whose bytes changed
// on the disk is kept as a reject row, an append torn by a crash is no record,
// every other record is stored and charged once.
#include "support/PricingFixture.h"

#include "core/ChargeLog.h"
#include "platform/Prompts.h"
#include "pricing/BillFile.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RecordSpool.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

using namespace pricingtest;
namespace billfile = pricing::billfile;
namespace spool = pricing::spool;

namespace {

class RecordQueueTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        TerminalName = QStringLiteral("默认");
        localCaller("10", 1);
    }
    void TearDown() override {
        PricingTest::TearDown();
    }
    QByteArray bytesOf(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    }
    QByteArray call(int minute) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, minute, 0));
        r.seconds = 250;   // 0.40 yuan
        return r.frame();
    }
    // The second record after `header` bytes changed on the disk, and an append torn after the last.
    void damage(const QString& path, int header) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray all = f.readAll();
        ASSERT_EQ(all.size(), header + 90);
        all[header + 30 + 3] = char(all[header + 30 + 3] ^ 1);   // extension 5 reads as 4
        all.append("torn");
        ASSERT_TRUE(f.seek(0));
        ASSERT_EQ(f.write(all), all.size());
    }
};

TEST_F(RecordQueueTest, EitherFileKeepsADamagedRecordAsARejectRowAndATornAppendIsNoRecord) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
    damage(spool::Path(), 16);
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(remainOf(7), yuan("9.20"));

    {
        billfile::Writer w;
        int waiting = -1;
        ASSERT_TRUE(w.start(true, &waiting));
        for (int k = 3; k < 6; ++k) {
            QByteArray f = call(k);
            quint8 sum = 0;
            for (char c : f) sum = quint8(sum + quint8(c));
            ASSERT_TRUE(w.append(f.append(char(sum))));
        }
    }
    damage(billfile::Path(), 0);
    billfile::Report report;
    EXPECT_EQ(billfile::Price({}, &report), 0);
    EXPECT_EQ(report.rejected, 1);
    EXPECT_EQ(count("Tab_Phone"), 4);
    EXPECT_EQ(count("tab_errPh"), 2);
    EXPECT_EQ(remainOf(7), yuan("8.40"));
}

// The spool's own header damaged on the disk (a byte of its name changed, or
// the whole header zeroed): the file is kept aside for the operator, who is
// told how many records it may hold, and each record is stored once by its
// own code and checksum; none is lost, none charged twice.
TEST_F(RecordQueueTest, ASpoolWhoseHeaderIsDamagedIsKeptAsideAndEachRecordStoredOnce) {
    const std::pair<const char*, int> damages[] = {{"a byte of the name", 1}, {"the header zeroed", 16}};
    int round = 0;
    for (const auto& [what, zeroed] : damages) {
        SCOPED_TRACE(what);
        const int from = 20 * round++;
        const qint64 calls = count("Tab_Phone"), rejects = count("tab_errPh");
        for (int k = from; k < from + 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
        // The first was stored before a crash, its note with it.
        const spool::Contents c = spool::Read(spool::Path());
        ASSERT_EQ(c.frames.size(), 3);
        ASSERT_TRUE(ClsMonitor().StoreSpooled(c.frames[0], [&] {
            ModSwitch::SetCallFileNote(QStringLiteral("TarvoSpoolDone"), QString::fromLatin1(c.id.toHex()) + QStringLiteral(":1"));
        }));
        QByteArray file = bytesOf(spool::Path());
        for (int i = 0; i < zeroed; ++i) file[i] = zeroed == 1 ? 'X' : '\0';
        {
            QFile f(spool::Path());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_EQ(f.write(file), file.size());
        }
        // Meanwhile a record from the switch: not taken into a file that is not
        // understood, so asked for again.
        ClsMonitor().Record(call(from + 5), true);
        EXPECT_EQ(sent(), QStringList{QStringLiteral("820303")});

        platform::script::reset();
        platform::script::answer(QStringLiteral("文件头已损坏"), platform::rOK);
        EXPECT_EQ(spool::Replay(), 0);
        const QString told = platform::script::shown().value(0).text;
        const QStringList aside = QDir(DataPath).entryList({QStringLiteral("CallSpool-*.dat")}, QDir::Files, QDir::Name);
        ASSERT_EQ(aside.size(), round);
        QString copy;
        for (const QString& name : aside)
            if (bytesOf(DataPath + name) == file) copy = name;
        EXPECT_FALSE(copy.isEmpty());
        EXPECT_TRUE(told.contains(QStringLiteral("可能有3张话单"))) << told.toStdString();
        EXPECT_TRUE(told.contains(copy)) << told.toStdString();
        EXPECT_FALSE(QFile::exists(spool::Path()));
        // A record stored before the header's name was lost is a duplicate's reject row.
        EXPECT_EQ(count("Tab_Phone"), calls + 3);
        EXPECT_EQ(count("tab_errPh"), rejects + (zeroed == 16 ? 1 : 0));
        EXPECT_TRUE(ClsMonitor().Record(call(from + 5), true));
        sent();
    }
    EXPECT_EQ(remainOf(7), yuan("6.80"));
}

// A spool whose records are not those its note counts (written over since
// its first record was stored) is never stored from the middle: it is set
// aside for the operator, and nothing more of it is stored.
TEST_F(RecordQueueTest, ASpoolChangedSinceSomeOfItWasStoredIsSetAsideNotStoredFromTheMiddle) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
    dbSwitch.execute(QStringLiteral("CREATE TEMP TRIGGER no2 BEFORE INSERT ON phonecur.Tab_Phone WHEN NEW.f_date LIKE "
                                    "'%10:01:00%' BEGIN SELECT abs(-9223372036854775807 - 1 + (random() & 0)); END"));
    EXPECT_EQ(spool::Replay(), 2);
    dbSwitch.execute(QStringLiteral("DROP TRIGGER temp.no2"));
    ASSERT_EQ(count("Tab_Phone"), 1);
    // The same header, other records.
    QByteArray file = bytesOf(spool::Path());
    for (int k = 0; k < 3; ++k) file.replace(16 + 30 * k, 30, pricing::RecordQueue::Entry(call(30 + k), 0xFF));
    {
        QFile f(spool::Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(file), file.size());
    }
    platform::script::answer(QStringLiteral("CallSpool.dat在存入数据库时被改动"), platform::rOK);
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 1);
    const QStringList aside = QDir(DataPath).entryList({QStringLiteral("CallSpool-*.dat")}, QDir::Files, QDir::Name);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(bytesOf(DataPath + aside[0]), file);
    EXPECT_TRUE(platform::script::shown().value(0).text.contains(aside[0]));
    EXPECT_FALSE(QFile::exists(spool::Path()));
    EXPECT_EQ(remainOf(7), yuan("9.60"));
}

// Storing may let the link run (the fee order, the progress of a read): a
// record the switch sends meanwhile joins the file, is answered, and is stored
// before the file goes.
TEST_F(RecordQueueTest, RecordsThatJoinAQueueWhileItStoresAreStoredBeforeItGoes) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
    bool arrived = false;
    pricing::testing::setStoredHook([&] {
        if (arrived) return;
        arrived = true;
        EXPECT_TRUE(ClsMonitor().Record(call(9), true));
    });
    EXPECT_EQ(spool::Replay(), 0);
    pricing::testing::setStoredHook(nullptr);
    EXPECT_EQ(sent(), QStringList{QStringLiteral("820302")});
    EXPECT_EQ(count("Tab_Phone"), 4);
    EXPECT_EQ(count("Tab_Phone", QStringLiteral("f_date LIKE '%10:09:00%'")), 1);
    EXPECT_FALSE(QFile::exists(spool::Path()));

    {
        billfile::Writer w;
        int waiting = -1;
        ASSERT_TRUE(w.start(true, &waiting));
        for (int k = 10; k < 13; ++k) ASSERT_TRUE(w.append(pricing::RecordQueue::Entry(call(k), 0)));
    }
    int priced = 0;
    EXPECT_EQ(billfile::Price([&] {
        // The read still writes while the first records are priced.
        if (++priced != 2) return;
        pricing::RecordQueue::Appender more;
        ASSERT_TRUE(more.open(pricing::RecordQueue(billfile::Path(), 0, {}, QStringLiteral("TarvoBillDone")), {}, false));
        ASSERT_TRUE(more.append(pricing::RecordQueue::Entry(call(13), 0)));
    }), 0);
    EXPECT_EQ(count("Tab_Phone"), 8);
    EXPECT_EQ(count("Tab_Phone", QStringLiteral("f_date LIKE '%10:13:00%'")), 1);
    EXPECT_EQ(billfile::Waiting(), 0);
    EXPECT_EQ(remainOf(7), yuan("6.80"));
}

}  // namespace

// The mended spool's box is kept in the call file before the mend: a kill
// after the mend (its records stored, the spool gone) while the box is up
// leaves it for the next start, which shows it once. Before, the operator
// never heard of the copy set aside.
TEST_F(RecordQueueTest, TheMendedSpoolsBoxOutlivesAKillWhileItIsUp) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
    QByteArray file = bytesOf(spool::Path());
    file[0] = 'X';
    {
        QFile f(spool::Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(file), file.size());
    }
    platform::script::reset();
    platform::script::enable();
    platform::script::whileShown([](const QString& text) {
        if (text.contains(QStringLiteral("文件头已损坏"))) throw std::runtime_error("killed while the box is up");
    });
    EXPECT_THROW(spool::Replay(), std::runtime_error);
    platform::script::whileShown(nullptr);
    EXPECT_FALSE(QFile::exists(spool::Path()));
    platform::script::reset();
    platform::script::enable();
    platform::script::answer(QStringLiteral("文件头已损坏"), platform::rOK);
    restart();
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(platform::script::shown()[0].text.contains(QStringLiteral("CallSpool-"))) << platform::script::shown()[0].text.toStdString();
    restart();
    EXPECT_EQ(platform::script::shown().size(), 1);
}
