// "Bill.dat" and the spool read by the same rules: a record whose bytes changed
// on the disk is kept as a reject row, an append torn by a crash is no record,
// every other record is stored and charged once.
#include "support/PricingFixture.h"

#include "console/frmPABX.h"
#include "core/books/ChargeLog.h"
#include "platform/Prompts.h"
#include "pricing/BillFile.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RecordSpool.h"

#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <functional>

#include <cerrno>
#include <utility>

using namespace pricingtest;
namespace billfile = pricing::billfile;
namespace spool = pricing::spool;

namespace {

using testsupport::bytesOf;
using testsupport::writeBytes;

class RecordQueueTest : public QueueTest {
protected:
    QByteArray call(int minute) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, minute, 0));
        r.seconds = 250;   // 0.40 yuan
        return r.frame();
    }
    // The calls of minutes `from`.. `from + n - 1` with their checksums.
    QList<QByteArray> entries(int from, int n) {
        QList<QByteArray> out;
        for (int k = from; k < from + n; ++k) out << pricing::RecordQueue::Entry(call(k), 0);
        return out;
    }
    // Storing fails from the call of minute `minute` on, till `allow`.
    void refuseFrom(int minute) {
        failWhen("refuse", "phonecur.Tab_Phone",
                 QStringLiteral("NEW.f_date LIKE '%'||'10:%1:00%'").arg(minute, 2, 10, QLatin1Char('0')));
    }
    void allow() { dropTrigger("refuse"); }
    // The calls of minutes `from`.. `from + n - 1` spooled, the first `stored`
    // of them stored by the spool's own storing (the note counts them, with
    // their fold), storing the rest failed.
    void spoolSomeStored(int n, int stored, int from = 0) {
        const qint64 calls = count("Tab_Phone");
        for (int k = from; k < from + n; ++k) ASSERT_TRUE(spool::Append(call(k)));
        refuseFrom(from + stored);
        EXPECT_EQ(spool::Replay(), n - stored);
        allow();
        ASSERT_EQ(count("Tab_Phone"), calls + stored);
    }
    // The same for "Bill.dat", read for the open site.
    void billSomeStored(int n, int stored, int from) {
        const qint64 calls = count("Tab_Phone");
        ASSERT_TRUE(writeBillFile(entries(from, n)));
        refuseFrom(from + stored);
        EXPECT_EQ(billfile::Price(), n - stored);
        allow();
        ASSERT_EQ(count("Tab_Phone"), calls + stored);
    }
    // Byte `at` of record `k` (after `header` bytes) changed on the disk: `by` added to it.
    void flip(const QString& path, int header, int k, int at, quint8 by = 1) {
        QByteArray all = bytesOf(path);
        ASSERT_GE(all.size(), header + 30 * (k + 1));
        all[header + 30 * k + at] = char(quint8(all[header + 30 * k + at]) + by);
        writeBytes(path, all);
    }
    // The box's text holds each of `has` and none of `hasNot`.
    static void expectTold(const QString& told, const QStringList& has, const QStringList& hasNot = {}) {
        for (const QString& h : has) EXPECT_TRUE(told.contains(h)) << told.toStdString() << " lacks " << h.toStdString();
        for (const QString& h : hasNot) EXPECT_FALSE(told.contains(h)) << told.toStdString();
    }
    QStringList asideSpools() {
        return QDir(DataPath).entryList({QStringLiteral("CallSpool-*.dat")}, QDir::Files, QDir::Name);
    }
    // The second record after `header` bytes changed on the disk, and an append torn after the last.
    void damage(const QString& path, int header) {
        QByteArray all = bytesOf(path);
        ASSERT_EQ(all.size(), header + 90);
        all[header + 30 + 3] = char(all[header + 30 + 3] ^ 1);   // extension 5 reads as 4
        writeBytes(path, all + "torn");
    }
};

TEST_F(RecordQueueTest, EitherFileKeepsADamagedRecordAsARejectRowAndATornAppendIsNoRecord) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
    damage(spool::Path(), 16);
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(remainOf(7), yuan("9.20"));

    ASSERT_TRUE(writeBillFile(entries(3, 3)));
    damage(billfile::Path(), 0);
    billfile::Report report;
    EXPECT_EQ(billfile::Price({}, &report), 0);
    EXPECT_EQ(report.rejected, 1);
    EXPECT_EQ(billfile::RejectText(report), QStringLiteral("1张话单数据校验错误，已存为错误话单"));
    EXPECT_EQ(count("Tab_Phone"), 4);
    EXPECT_EQ(count("Tab_Phone", QStringLiteral("f_calladdr=4")), 0);   // never priced for the extension it reads as
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
        writeBytes(spool::Path(), file);
        // Meanwhile a record from the switch: not taken into a file that is not
        // understood, so asked for again.
        ClsMonitor().Record(call(from + 5), true);
        EXPECT_EQ(sent(), QStringList{QStringLiteral("820303")});

        platform::script::reset();
        platform::script::answer(QStringLiteral("文件头已损坏"), platform::rOK);
        EXPECT_EQ(spool::Replay(), 0);
        const QString told = platform::script::shown().value(0).text;
        const QStringList aside = asideSpools();
        ASSERT_EQ(aside.size(), round);
        QString copy;
        for (const QString& name : aside)
            if (bytesOf(DataPath + name) == file) copy = name;
        EXPECT_FALSE(copy.isEmpty());
        expectTold(told, {QStringLiteral("可能有3张话单"), copy});
        EXPECT_FALSE(QFile::exists(spool::Path()));
        // A record stored before the header's name was lost is a duplicate's reject row.
        EXPECT_EQ(count("Tab_Phone"), calls + 3);
        EXPECT_EQ(count("tab_errPh"), rejects + (zeroed == 16 ? 1 : 0));
        EXPECT_TRUE(ClsMonitor().Record(call(from + 5), true));
        sent();
    }
    EXPECT_EQ(remainOf(7), yuan("6.80"));
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

    ASSERT_TRUE(writeBillFile(entries(10, 3)));
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

// A record already stored whose bytes then changed on the disk (one byte,
// or one byte in each of two records, the checksum byte among them): the
// records no longer fold to the note, yet each told back by its checksum they
// do, so the file is the one counted. The records never stored are stored,
// each once, nothing is set aside, nothing stored again, and no box (nothing
// was lost). The same for "Bill.dat", and for a stored record changed while
// the storing runs.
TEST_F(RecordQueueTest, AStoredRecordDamagedOnTheDiskStopsNothingAndNoRecordIsStoredTwice) {
    struct Damage {
        const char* what;
        QList<std::pair<int, int>> bytes;   // record, byte
    };
    const Damage damages[] = {{"a byte of the extension", {{1, 3}}},
                              {"the checksum byte", {{0, 29}}},
                              {"a byte in each of two records", {{0, 20}, {1, 16}}}};
    Currency remain = yuan("10");
    int from = 0;
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        const qint64 calls = count("Tab_Phone");
        spoolSomeStored(5, 2, from);
        from += 10;
        for (const auto& [k, at] : d.bytes) flip(spool::Path(), 16, k, at);
        EXPECT_EQ(spool::Replay(), 0);
        EXPECT_EQ(count("Tab_Phone"), calls + 5);
        EXPECT_EQ(count("tab_errPh"), 0);
        EXPECT_TRUE(asideSpools().isEmpty());
        EXPECT_FALSE(QFile::exists(spool::Path()));
        remain = remain - yuan("2");
        EXPECT_EQ(remainOf(7), remain);
        EXPECT_TRUE(platform::script::shown().isEmpty());
    }
    // One changed before the storing, one while it runs.
    billSomeStored(5, 2, 30);
    flip(billfile::Path(), 0, 1, 3);
    bool once = false;
    EXPECT_EQ(billfile::Price([&] {
        if (!std::exchange(once, true)) flip(billfile::Path(), 0, 0, 7);
    }), 0);
    EXPECT_TRUE(once);
    EXPECT_EQ(count("Tab_Phone"), 20);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_EQ(remainOf(7), remain - yuan("2"));
    EXPECT_TRUE(platform::script::shown().isEmpty());
}

// The spool's identity bytes changed on the disk after two of its three
// records were stored: the note counts them under the identity it had and
// they fold to it, so the identity is written back, a copy kept and named,
// and the two are not stored again (no duplicate rows), as the box says.
TEST_F(RecordQueueTest, ASpoolWhoseIdentityIsDamagedGoesOnFromTheNoteAndSaysSo) {
    spoolSomeStored(3, 2);
    flip(spool::Path(), 0, 0, 11, 0x40);   // a byte of the identity, in the header
    const QByteArray damaged = bytesOf(spool::Path());
    platform::script::answer(QStringLiteral("文件头已损坏"), platform::rOK);
    EXPECT_EQ(spool::Replay(), 0);
    ASSERT_EQ(asideSpools().size(), 1);
    EXPECT_EQ(bytesOf(DataPath + asideSpools()[0]), damaged);
    expectTold(platform::script::shown().value(0).text, {asideSpools()[0], QStringLiteral("3张话单中的前2张已存入数据库")});
    EXPECT_EQ(count("Tab_Phone"), 3);
    EXPECT_EQ(count("tab_errPh"), 0);
    EXPECT_EQ(remainOf(7), yuan("8.80"));
    EXPECT_FALSE(QFile::exists(spool::Path()));
}

// A queue file that cannot be read (a read failing after its first bytes, as
// a bad sector does) is never taken as stored: nothing is stored or removed,
// the operator is told it cannot be read, and once it reads again every record
// is stored once. The spool and "Bill.dat" alike.
TEST_F(RecordQueueTest, AQueueThatCannotBeReadIsKeptAndTriedAgainNeverTakenAsStored) {
    struct Unreadable {
        QString path;
        int reads = 0;
        ~Unreadable() { platform::testing::setFaultHook(nullptr); }
        void fail(const QString& file) {
            path = file;
            platform::testing::setFaultHook([this](const QString& op, const QString& p) {
                // The first read gives the bytes, the next one fails.
                return op == QLatin1String("read") && p == path && ++reads % 2 == 0 ? EIO : 0;
            });
        }
    } disk;
    frmPABX::instance();
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
    disk.fail(spool::Path());
    EXPECT_EQ(spool::Replay(), 3);
    EXPECT_GT(disk.reads, 1);
    EXPECT_TRUE(QFile::exists(spool::Path()));
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_EQ(count("tab_errPh"), 0);
    const QString status = frmPABX::instance().sbrInfo->panelText(2);
    expectTold(status, {QStringLiteral("无法读取(磁盘读写错误)"), QStringLiteral("3张话单")});
    platform::testing::setFaultHook(nullptr);
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 3);
    EXPECT_EQ(remainOf(7), yuan("8.80"));

    ASSERT_TRUE(writeBillFile(entries(3, 3)));
    disk.reads = 0;
    disk.fail(billfile::Path());
    EXPECT_EQ(billfile::Price(), 3);
    EXPECT_EQ(billfile::Waiting(), 3);
    EXPECT_TRUE(billfile::WaitingText(3).contains(QStringLiteral("Bill.dat无法读取(磁盘读写错误)")));
    EXPECT_TRUE(QFile::exists(billfile::Path()));
    EXPECT_EQ(count("Tab_Phone"), 3);
    platform::testing::setFaultHook(nullptr);
    EXPECT_EQ(billfile::Price(), 0);
    EXPECT_EQ(count("Tab_Phone"), 6);
    EXPECT_EQ(remainOf(7), yuan("7.60"));
}

}  // namespace

// Every box of a queue file that leaves records out (a spool changed on the
// disk and set aside; "Bill.dat" beside a lost mark, its records stored
// uncharged; "Bill.dat" replaced while stored) is kept with what it tells of:
// a kill while it stands leaves it for the next opening, which shows it once.
// Before, each was a plain box, lost with the kill.
TEST_F(RecordQueueTest, EachBoxOfRecordsLeftOutOutlivesAKillWhileItStands) {
    QString told;   // the box the opening after the kill showed
    const auto copyOf = [&](const QByteArray& bytes) {   // the spool set aside holding `bytes`
        for (const QString& name : asideSpools())
            if (bytesOf(DataPath + name) == bytes) return name;
        return QString();
    };
    const auto outlives = [&](const QString& text, const std::function<void()>& act) {
        SCOPED_TRACE(text.toStdString());
        ASSERT_TRUE(testsupport::killedAtBox(text, act));
        restart();
        ASSERT_EQ(platform::script::shown().size(), 1);
        told = platform::script::shown()[0].text;
        EXPECT_TRUE(told.contains(text)) << told.toStdString();
        restart();
        EXPECT_EQ(platform::script::shown().size(), 1);
        platform::script::reset();
        platform::script::enable();
    };
    // A spool put back shorter than its note (an older copy with one record
    // where two are stored): set aside, not stored from the middle, and the
    // box says what is so.
    spoolSomeStored(3, 2);
    writeBytes(spool::Path(), bytesOf(spool::Path()).left(16 + 30));
    outlives(QStringLiteral("CallSpool.dat在存入数据库时被改动"), [] { spool::Replay(); });
    ASSERT_EQ(asideSpools().size(), 1);
    expectTold(told, {QStringLiteral("已存入2张话单"), QStringLiteral("只有1张话单，少于已存入的2张"), asideSpools()[0]},
               {QStringLiteral("其中的话单没有存入数据库")});
    EXPECT_FALSE(QFile::exists(spool::Path()));
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(remainOf(7), yuan("9.20"));

    billSomeStored(3, 0, 10);
    QFile::remove(AppPath + QStringLiteral("BillWait.dat"));
    outlives(QStringLiteral("BillWait.dat丢失或损坏"), [] { billfile::BeforeRead(); });
    EXPECT_EQ(count("Tab_Phone"), 5);

    billSomeStored(3, 1, 20);
    writeBytes(billfile::Path(), pricing::RecordQueue::Entry(call(40), 0) + pricing::RecordQueue::Entry(call(41), 0));
    outlives(QStringLiteral("Bill.dat与已存入数据库的话单不符"), [] { billfile::Price(); });
    EXPECT_FALSE(QFile::exists(billfile::Path()));
    EXPECT_EQ(count("Tab_Phone"), 6);

    // Stored records changed on the disk past telling (two bytes of one
    // record): which are stored cannot be said. A copy is kept, named with
    // the counts, and every record is stored again from the first by its own
    // checksum: the one stored that still reads whole is a duplicate's reject
    // row, the damaged one a reject row, the one never stored is stored; each
    // call charged once.
    spoolSomeStored(3, 2, 40);
    flip(spool::Path(), 16, 1, 3);
    flip(spool::Path(), 16, 1, 12);
    const QByteArray damaged = bytesOf(spool::Path());
    outlives(QStringLiteral("CallSpool.dat中已存入数据库的话单在磁盘上被损坏"), [] { spool::Replay(); });
    const QString copy = copyOf(damaged);
    EXPECT_FALSE(copy.isEmpty());
    expectTold(told, {copy, QStringLiteral("已存入2张"), QStringLiteral("其中3张话单")});
    EXPECT_EQ(count("Tab_Phone"), 9);
    EXPECT_EQ(count("tab_errPh"), 2);
    billSomeStored(3, 2, 50);
    flip(billfile::Path(), 0, 0, 3);
    flip(billfile::Path(), 0, 0, 12);
    outlives(QStringLiteral("Bill.dat中已存入数据库的话单在磁盘上被损坏"), [] { billfile::Price(); });
    expectTold(told, {QStringLiteral("Bill-"), QStringLiteral("已存入2张")});
    EXPECT_EQ(count("Tab_Phone"), 12);
    EXPECT_EQ(count("tab_errPh"), 4);
    EXPECT_EQ(remainOf(7), yuan("6.40"));   // the three of the file beside a lost mark uncharged

    // The mended spool's box is kept in the call file before the mend: a kill
    // after the mend (its records stored, the spool gone) while the box is up
    // leaves it for the next start. Before, the operator never heard of the
    // copy set aside.
    for (int k = 30; k < 33; ++k) ASSERT_TRUE(spool::Append(call(k)));
    QByteArray file = bytesOf(spool::Path());
    file[0] = 'X';
    writeBytes(spool::Path(), file);
    outlives(QStringLiteral("文件头已损坏"), [] { spool::Replay(); });
    EXPECT_TRUE(told.contains(QStringLiteral("CallSpool-"))) << told.toStdString();
    EXPECT_FALSE(QFile::exists(spool::Path()));

    // A spool whose records are not those its note counts (written over since
    // its first record was stored, the same header) is never stored from the
    // middle: set aside for the operator, and nothing more of it is stored.
    spoolSomeStored(3, 1, 5);
    const qint64 calls = count("Tab_Phone");
    file = bytesOf(spool::Path());
    for (int k = 0; k < 3; ++k) file.replace(16 + 30 * k, 30, pricing::RecordQueue::Entry(call(23 + k), 0xFF));
    writeBytes(spool::Path(), file);
    outlives(QStringLiteral("CallSpool.dat在存入数据库时被改动"), [] { spool::Replay(); });
    const QString kept = copyOf(file);
    EXPECT_FALSE(kept.isEmpty());
    EXPECT_TRUE(told.contains(kept)) << told.toStdString();
    EXPECT_FALSE(QFile::exists(spool::Path()));
    EXPECT_EQ(count("Tab_Phone"), calls);
}

// A year file the duplicate check cannot read stops every record: each is
// answered and kept in the spool, the operator is told why and how many
// wait, once, and they are stored once it reads again. Before, no word.
TEST_F(RecordQueueTest, RecordsWaitingOnAnUnreadableYearFileAreToldWithTheirCountAndStoredLater) {
    writeBytes(DataPath + QStringLiteral("PhBill_2026.mdb"), QByteArray(8192, 'x'));
    for (int k = 0; k < 3; ++k) ClsMonitor().Record(call(k), true);
    EXPECT_EQ(count("Tab_Phone"), 0);
    EXPECT_TRUE(spool::Waiting());
    platform::script::answer(QStringLiteral("话单归档文件PhBill_2026.mdb无法读取"), platform::rOK);
    EXPECT_EQ(spool::Replay(), 3);
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(platform::script::shown()[0].text.contains(QStringLiteral("3张话单已暂存在CallSpool.dat中")))
        << platform::script::shown()[0].text.toStdString();
    EXPECT_EQ(spool::Replay(), 3);
    EXPECT_EQ(platform::script::shown().size(), 1);
    QFile::remove(DataPath + QStringLiteral("PhBill_2026.mdb"));
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 3);
    EXPECT_EQ(remainOf(7), yuan("8.80"));
}
