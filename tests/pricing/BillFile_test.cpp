// "Bill.dat" and its mark: every record in it stored once, into the site it
// was read for, whatever fails between records, whatever happened to the mark.
// A record damaged on the disk is the queue's case (RecordQueue_test.cpp).
#include "support/PricingFixture.h"

#include "core/ModUpgrade.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "pricing/BillFile.h"
#include "pricing/ClsMonitor.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace pricingtest;
namespace billfile = pricing::billfile;

namespace {

class BillFileTest : public QueueTest {
protected:
    // Record k as the switch sends it: the 29 bytes and their checksum.
    QByteArray record(int k, int day = 15) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, day), QTime(10 + k / 60, k % 60, 0));
        r.seconds = 250;   // 0.40 yuan
        return r.withSum();
    }
    void writeBill(int from, int n, bool charge = false, int day = 15) {
        QList<QByteArray> records;
        for (int k = from; k < from + n; ++k) records << record(k, day);
        ASSERT_TRUE(writeBillFile(records, charge));
    }
    // "Bill.dat" replaced from outside by a file of `n` records of `day`, as a
    // copy is put in place: written beside it, then renamed over it.
    QByteArray replaceBill(int n, int day) {
        QByteArray bytes;
        for (int k = 0; k < n; ++k) bytes += record(k, day);
        writeFile("Bill.new", bytes);
        EXPECT_EQ(std::rename(QFile::encodeName(app("Bill.new")).constData(), QFile::encodeName(app("Bill.dat")).constData()),
                  0);
        return bytes;
    }
    QString app(const QString& name) { return AppPath + name; }
    QByteArray bytesOf(const QString& name) { return testsupport::bytesOf(app(name)); }
    void writeFile(const QString& name, const QByteArray& bytes) { testsupport::writeBytes(app(name), bytes); }
    QStringList asideFiles(const char* stem) {
        return QDir(AppPath).entryList({QString::fromLatin1(stem) + QStringLiteral("-*.dat")}, QDir::Files, QDir::Name);
    }
};

TEST_F(BillFileTest, EveryRecordIsStoredOnceWhateverFailsBetweenThemAndTheFileWaitsTillThen) {
    writeBill(0, 6);
    // The fourth record cannot be stored: three are, three wait.
    failWhen("no4", "phonecur.Tab_Phone", "NEW.f_date LIKE '%10:03:00%'");
    EXPECT_EQ(billfile::Price(), 3);
    EXPECT_EQ(count("Tab_Phone"), 3);
    EXPECT_EQ(billfile::Waiting(), 3);
    EXPECT_TRUE(QFile::exists(app("BillWait.dat")));
    // The next read may not replace what waits.
    {
        billfile::Writer w;
        int waiting = 0;
        EXPECT_FALSE(w.start(false, &waiting));
        EXPECT_EQ(waiting, 3);
    }
    EXPECT_EQ(bytesOf("Bill.dat").size(), 180);
    dropTrigger("no4");

    // The note that the fifth is stored cannot be written: the fifth is not stored either.
    failWhen("note5", "phonecur.tab_notes", "NEW.varname = 'TarvoBillDone' AND NEW.value LIKE '%:5:%'");
    EXPECT_EQ(billfile::Price(), 2);
    EXPECT_EQ(count("Tab_Phone"), 4);
    EXPECT_TRUE(QFile::exists(app("BillWait.dat")));
    dropTrigger("note5");

    EXPECT_EQ(billfile::Price(), 0);
    EXPECT_EQ(count("Tab_Phone"), 6);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_FALSE(QFile::exists(app("BillWait.dat")));
    EXPECT_EQ(billfile::Price(), 0);
    EXPECT_EQ(count("Tab_Phone") + count("tab_errPh"), 6);
}

TEST_F(BillFileTest, DepositEventsAmongTheRecordsGoToTheDepositHistoryAndAreNeverPriced) {
    // A deposit event of extension 5 at 10:01, its amount bytes 00 02 05: 5.17 yuan accumulated.
    const auto event = [this](int seconds) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 1, 0));
        r.seconds = seconds;
        r.type = 0x0A;
        return r.withSum();
    };
    ASSERT_EQ(ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDepositHistory"), false), 2);
    ASSERT_TRUE(writeBillFile({record(0), event(125), record(2)}));   // a read whose records are charged
    EXPECT_EQ(billfile::Price(), 0);
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_EQ(remainOf(7), yuan("9.20"));   // the two calls only
    platform::Recordset rs = dbSwitch.query("select * from ExtDepositHistory");
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.str("ChangeDate"), "2026-06-15 10:01:00");
    EXPECT_EQ(rs.lng("ExtAddr"), 5);
    EXPECT_EQ(rs.cur("ChangeValue"), yuan("5.17"));
    EXPECT_EQ(rs.lng("ChangeType"), 0);
    EXPECT_TRUE(sent().isEmpty());   // nothing is answered for a stored record

    // The same event read again adds nothing; another one under its time and
    // extension is kept as a reject row, its frame in the record error log.
    pricing::ClearRecordErrorLog();
    ASSERT_TRUE(writeBillFile({event(125), event(130)}));
    EXPECT_EQ(billfile::Price(), 0);
    EXPECT_EQ(count("ExtDepositHistory"), 1);
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(pricing::RecordErrorLog().filter("96 1D 00 05").size(), 1);
    // The reject row says it is a deposit event, its amount (00 02 10) as money, its frame whole.
    EXPECT_EQ(dbPhoneCur.scalar(QStringLiteral("select f_long from ") + dbPhoneCur.qualified("tab_errPh")).toString(),
              QStringLiteral("5.28"));
    EXPECT_EQ(dbPhoneCur.scalar(QStringLiteral("select f_resp from ") + dbPhoneCur.qualified("tab_errPh")).toString(),
              QStringLiteral("押金事件累计:") + QString::fromLatin1(event(130).left(29).toHex().toUpper()));
    EXPECT_EQ(remainOf(7), yuan("9.20"));
}

TEST_F(BillFileTest, SomethingUnderTheNameThatIsNoFileHoldsNoRecordsAndTakesNoRead) {
    ASSERT_TRUE(QDir(AppPath).mkdir("Bill.dat"));
    EXPECT_EQ(billfile::Waiting(), 0);
    EXPECT_EQ(billfile::Price(), 0);
    EXPECT_EQ(billfile::BeforeRead(), 0);
    billfile::Writer w;
    int waiting = -1;
    EXPECT_FALSE(w.start(false, &waiting, QStringLiteral("bill.dat")));
    EXPECT_EQ(waiting, 0);
    EXPECT_FALSE(QFile::exists(app("bill.dat")));
}

TEST_F(BillFileTest, FileBesideADamagedEmptyOrMissingMarkIsCopiedAsideAndPriced) {
    const std::pair<const char*, QByteArray> marks[] = {
        {"damaged", QByteArray("TARVO\x01\x02")}, {"empty", QByteArray()}, {"missing", QByteArray("-")}};
    int from = 0;
    for (const auto& [what, mark] : marks) {
        SCOPED_TRACE(what);
        const QStringList before = asideFiles("Bill");
        writeBill(from, 2, true);
        if (mark == "-") QFile::remove(app("BillWait.dat"));
        else writeFile("BillWait.dat", mark);
        platform::script::answer(QStringLiteral("BillWait.dat丢失或损坏"), platform::rOK);
        EXPECT_EQ(billfile::BeforeRead(), 0);
        const QString told = platform::script::shown().value(platform::script::shown().size() - 1).text;
        QStringList aside = asideFiles("Bill");
        for (const QString& old : before) aside.removeOne(old);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(told.contains(QStringLiteral("2张"))) << told.toStdString();
        EXPECT_TRUE(told.contains(aside[0])) << told.toStdString();
        EXPECT_EQ(bytesOf(aside[0]), bytesOf("Bill.dat"));
        EXPECT_EQ(count("Tab_Phone"), from + 2);
        from += 2;
    }
    // Nobody knows whether they were charged: they are not charged again.
    EXPECT_EQ(remainOf(7), yuan("10"));
    // A file whose records are all stored is no damage: replaced without a word.
    EXPECT_EQ(billfile::BeforeRead(), 0);
    writeBill(from, 1);
    EXPECT_EQ(asideFiles("Bill").size(), 3u);
}

TEST_F(BillFileTest, RecordsOfASiteThatIsNotOpenWaitForItOrGoWhereTheOperatorSays) {
    const auto foreign = [&] {
        writeBill(0, 3, true);
        QList<QByteArray> lines = bytesOf("BillWait.dat").split('\n');
        ASSERT_GE(lines.size(), 5);
        lines[3] = (AppPath + QStringLiteral("data/分部")).toUtf8();
        lines[4] = QStringLiteral("分部").toUtf8();
        writeFile("BillWait.dat", lines.join('\n'));
    };
    foreign();
    // Never priced into the open site unasked.
    EXPECT_EQ(billfile::Price(), 3);
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_TRUE(billfile::WaitingText(3).contains(QStringLiteral("分部")));

    // Cancel: they keep waiting, and the read does not start.
    platform::script::answer(QStringLiteral("站点“分部”"), platform::rCancel);
    EXPECT_EQ(billfile::BeforeRead(), 3);
    EXPECT_TRUE(platform::script::shown().last().text.contains(QStringLiteral("该站点已不存在")));
    EXPECT_EQ(bytesOf("Bill.dat").size(), 90);

    // No: the file and its mark are set aside under a name the operator is told.
    platform::script::answer(QStringLiteral("站点“分部”"), platform::rNo);
    platform::script::answer(QStringLiteral("没有存入数据库"), platform::rOK);
    EXPECT_EQ(billfile::BeforeRead(), 0);
    const QStringList aside = asideFiles("Bill");
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(platform::script::shown().last().text.contains(aside[0]));
    EXPECT_EQ(bytesOf(aside[0]).size(), 90);
    EXPECT_EQ(asideFiles("BillWait").size(), 1);
    EXPECT_FALSE(QFile::exists(app("Bill.dat")));
    EXPECT_EQ(count("Tab_Phone"), 0);

    // Yes: priced into the open site, charged to nobody there; what the other
    // site, still on the disk, stored already is not stored again.
    foreign();
    ASSERT_TRUE(QDir().mkpath(AppPath + QStringLiteral("data/分部")));
    {
        platform::Database other = platform::Database::create(AppPath + QStringLiteral("data/分部/PhoneCur.mdb"));
        other.execute(QStringLiteral("create table tab_notes (varname text primary key, value text)"));
        other.execute(QStringLiteral("insert into tab_notes values ('TarvoBillDone', ?)"),
                      {QString::fromLatin1(bytesOf("BillWait.dat").split('\n')[1]) + QStringLiteral(":2")});
        other.close();
    }
    // Only the one it did not store waits, and the operator is asked about that one.
    EXPECT_EQ(billfile::Waiting(), 1);
    EXPECT_EQ(billfile::Price(), 1);
    platform::script::answer(QStringLiteral("站点“分部”"), platform::rYes);
    EXPECT_EQ(billfile::BeforeRead(), 0);
    EXPECT_TRUE(platform::script::shown().last().text.contains(QStringLiteral("该站点现在没有打开")));
    EXPECT_TRUE(platform::script::shown().last().text.contains(QStringLiteral("Bill.dat中有1张话单")))
        << platform::script::shown().last().text.toStdString();
    EXPECT_EQ(count("Tab_Phone"), 1);
    EXPECT_EQ(remainOf(7), yuan("10"));
    EXPECT_FALSE(QFile::exists(app("BillWait.dat")));
}

// A "Bill.dat" put in place of the one whose records were being stored is
// never stored from the middle: storing stops, both files are kept aside
// under names the operator is told, nothing more is stored from either.
TEST_F(BillFileTest, AFileReplacedWhileItsRecordsAreStoredStopsTheStoringAndBothAreKept) {
    // Between two pricings: the first stored one batch, then failed.
    writeBill(0, 300, true);
    failWhen("no257", "phonecur.Tab_Phone", "NEW.f_date LIKE '%14:16:00%'");
    EXPECT_EQ(billfile::Price(), 44);
    dropTrigger("no257");
    EXPECT_EQ(count("Tab_Phone"), 256);
    const QByteArray other = replaceBill(300, 16);
    platform::script::answer(QStringLiteral("Bill.dat与已存入数据库的话单不符"), platform::rOK);
    EXPECT_EQ(billfile::Price(), 0);
    EXPECT_EQ(count("Tab_Phone"), 256);
    QStringList aside = asideFiles("Bill");
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(bytesOf(aside[0]), other);
    EXPECT_EQ(asideFiles("BillWait").size(), 1);
    QString told = platform::script::shown().value(0).text;
    EXPECT_TRUE(told.contains(QStringLiteral("已存入256张"))) << told.toStdString();
    EXPECT_TRUE(told.contains(aside[0] + QStringLiteral("，其中300张"))) << told.toStdString();
    EXPECT_FALSE(QFile::exists(app("Bill.dat")));
    EXPECT_FALSE(QFile::exists(app("BillWait.dat")));

    // While one pricing runs: the first batch was read before the file was replaced.
    platform::script::reset();
    writeBill(0, 300, true, 17);
    const QByteArray old = bytesOf("Bill.dat");
    QByteArray replaced;
    int priced = 0;
    platform::script::answer(QStringLiteral("Bill.dat在存入数据库时被替换"), platform::rOK);
    EXPECT_EQ(billfile::Price([&] {
        if (++priced == 100) replaced = replaceBill(300, 18);
    }), 0);
    EXPECT_EQ(count("Tab_Phone"), 512);
    EXPECT_EQ(count("Tab_Phone", QStringLiteral("f_date LIKE '2026-06-18%'")), 0);
    QStringList now = asideFiles("Bill");
    for (const QString& earlier : aside) now.removeOne(earlier);
    ASSERT_EQ(now.size(), 2);
    const QString held = bytesOf(now[0]) == old ? now[0] : now[1];
    const QString there = held == now[0] ? now[1] : now[0];
    EXPECT_EQ(bytesOf(held), old);
    EXPECT_EQ(bytesOf(there), replaced);
    told = platform::script::shown().value(0).text;
    EXPECT_TRUE(told.contains(QStringLiteral("其余44张没有存入，原文件已另存为") + held)) << told.toStdString();
    EXPECT_TRUE(told.contains(there + QStringLiteral("，其中300张"))) << told.toStdString();
    EXPECT_FALSE(QFile::exists(app("Bill.dat")));
    EXPECT_FALSE(QFile::exists(app("BillWait.dat")));
    // What was stored was charged once; nothing else was.
    EXPECT_EQ(remainOf(7), yuan("-194.80"));
}

}  // namespace
