// Every road that moves money, run again and again while the disk refuses
// once: the n-th write, then the n-th sync, of the call file and then of the
// station file, n = 1, 2, ... until the act passes with nothing refused. After
// each run: the balances equal the test's own ledger, the journal's entries
// (the call file's log and the station file's copy together) sum to it, each
// call is kept once (stored or in the spool), and the act said it failed
// exactly when it did not happen.
#include "support/PricingFixture.h"
#include "support/RefusalWalk.h"

#include "billing/Payments.h"
#include "core/books/ChargeLog.h"
#include "core/books/JournalFile.h"
#include "core/ModUpgrade.h"
#include "core/StationFiles.h"
#include "link/ModComm.h"
#include "pricing/BillFile.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RecordSpool.h"
#include "platform/Prompts.h"

#include <QFile>
#include <cstdio>
#include <functional>

using namespace pricingtest;
namespace refusal = testsupport::refusal;
using refusal::walk, refusal::journalSum;
namespace spool = pricing::spool;
namespace billfile = pricing::billfile;

namespace {

class RefusalTest : public QueueTest {
protected:
    void TearDown() override {
        refusal::disarm();
        QueueTest::TearDown();
    }

    // The money of user 7.
    void checkMoney(Currency remain, Currency deposit, Currency charged) { refusal::checkMoney(7, remain, deposit, charged); }

    // The i-th call of a walk: 0.40 yuan, a minute apart.
    CallRecord call(int i) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(8, 0, 0)).addSecs(60 * i);
        r.seconds = 250;
        return r;
    }
    QString stored(int i) { return call(i).start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }
    qint64 timesStored(int i) { return count("phonecur.Tab_Phone", QStringLiteral("f_date=?"), {stored(i)}); }
    qint64 timesLogged(int i) { return count("phonecur.tab_chargelog", QStringLiteral("f_date=? AND f_kind=0"), {stored(i)}); }
    int spooled() { return spool::Read(spool::Path()).frames.size(); }
    // The 29 bytes and their checksum, as "Bill.dat" keeps them.
    QByteArray billRecord(int i) { return call(i).withSum(); }
};

// A live record: taken ("820302") exactly when it is stored or spooled, and
// charged once, when it is stored or when the spool is.
TEST_F(RefusalTest, LiveRecordIsKeptAndChargedOnceWhateverIsRefused) {
    Currency charged;
    const int runs = walk(
        [&](int i) {
            sent();
            ClsMonitor().Record(call(i).frame(), true);
            return sent().contains(QStringLiteral("820302"));
        },
        [&](int i, bool taken) {
            EXPECT_EQ(timesStored(i) + spooled(), taken ? 1 : 0);
            EXPECT_EQ(spool::Replay(), 0);
            EXPECT_EQ(timesStored(i), taken ? 1 : 0);
            EXPECT_EQ(timesLogged(i), taken ? 1 : 0);
            if (taken) charged += yuan("0.40");
            checkMoney(yuan("10") - charged, Currency(), charged);
        });
    EXPECT_GT(runs, 4);
}

// The spool's records stored at its replay: each once, charged once, the
// replay saying it is done exactly when nothing waits.
TEST_F(RefusalTest, SpoolReplayStoresAndChargesEachRecordOnceWhateverIsRefused) {
    Currency charged;
    walk(
        [&](int i) {
            EXPECT_TRUE(spool::Append(call(i).frame()));
            return spool::Replay() == 0;
        },
        [&](int i, bool done) {
            EXPECT_EQ(timesStored(i), done ? 1 : 0);
            EXPECT_EQ(spooled(), done ? 0 : 1);
            if (done) charged += yuan("0.40");
            checkMoney(yuan("10") - charged, Currency(), charged);
            if (done) return;
            EXPECT_EQ(spool::Replay(), 0);
            EXPECT_EQ(timesStored(i), 1);
            EXPECT_EQ(timesLogged(i), 1);
            charged += yuan("0.40");
            checkMoney(yuan("10") - charged, Currency(), charged);
        });
}

// A "Bill.dat" of three records, charged (the USB collector's read) or not
// (a payphone's upload): each stored once, the file done exactly when all are.
class BillRefusalTest : public RefusalTest, public ::testing::WithParamInterface<bool> {};

TEST_P(BillRefusalTest, BillFileRecordsAreStoredAndChargedOnceWhateverIsRefused) {
    const bool charge = GetParam();
    constexpr int kRecords = 3;
    Currency charged;
    const auto storedOnce = [&](int i) {
        for (int k = i * kRecords; k < (i + 1) * kRecords; ++k) {
            EXPECT_EQ(timesStored(k), 1) << "record " << k;
            EXPECT_EQ(timesLogged(k), charge ? 1 : 0) << "record " << k;
        }
    };
    walk(
        [&](int i) {
            QList<QByteArray> records;
            for (int k = i * kRecords; k < (i + 1) * kRecords; ++k) records << billRecord(k);
            EXPECT_TRUE(writeBillFile(records, charge));
            return billfile::Price() == 0;
        },
        [&](int i, bool done) {
            qint64 held = 0;
            for (int k = i * kRecords; k < (i + 1) * kRecords; ++k) {
                EXPECT_LE(timesStored(k), 1);
                held += timesStored(k);
            }
            EXPECT_EQ(held + billfile::Waiting(), kRecords);
            EXPECT_EQ(done, billfile::Waiting() == 0);
            if (charge) charged += Currency::fromRaw(yuan("0.40").raw() * held);
            checkMoney(yuan("10") - charged, Currency(), charged);
            EXPECT_EQ(billfile::Price(), 0);
            storedOnce(i);
            if (charge) charged += Currency::fromRaw(yuan("0.40").raw() * (kRecords - held));
            checkMoney(yuan("10") - charged, Currency(), charged);
        });
}
INSTANTIATE_TEST_SUITE_P(ChargedOrNot, BillRefusalTest, ::testing::Bool());

// A deposit event among the records of a "Bill.dat": stored, as every record,
// by the call file's commit that notes it (the event held there beside the
// note, until the deposit history in the station file takes it), and in the
// history once; never in the history while the file counts it waiting.
TEST_F(RefusalTest, BillFileDepositEventIsInTheHistoryExactlyWhenItCountsStored) {
    ASSERT_EQ(ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDepositHistory"), false), 2);
    const auto event = [&](int i) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)).addSecs(60 * i);
        r.seconds = 125;   // amount bytes 00 02 05
        r.type = 0x0A;
        return r.withSum();
    };
    const auto rows = [&](int i) {
        return count("ExtDepositHistory", QStringLiteral("ChangeDate=?"),
                     {QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0)).addSecs(60 * i).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
    };
    Currency charged;
    walk(
        [&](int i) {
            EXPECT_TRUE(writeBillFile({event(i), billRecord(i)}));
            return billfile::Price() == 0;
        },
        [&](int i, bool done) {
            const int waiting = billfile::Waiting();
            EXPECT_EQ(done, waiting == 0);
            // The event comes first: stored as soon as anything is.
            const bool held = ModSwitch::CallFileNote(QStringLiteral("TarvoDepositEventsWaiting"))
                                  .contains(QString::fromLatin1(event(i).toHex()));
            EXPECT_LE(rows(i), 1);
            EXPECT_EQ(rows(i) == 1 || held, waiting < 2);
            EXPECT_EQ(timesStored(i), waiting == 0 ? 1 : 0);
            if (waiting == 0) charged += yuan("0.40");
            checkMoney(yuan("10") - charged, Currency(), charged);
            EXPECT_EQ(billfile::Price(), 0);
            EXPECT_EQ(rows(i), 1);
            EXPECT_TRUE(ModSwitch::CallFileNote(QStringLiteral("TarvoDepositEventsWaiting")).isEmpty());
            EXPECT_EQ(timesStored(i), 1);
            EXPECT_EQ(count("tab_errPh"), 0);
            if (waiting > 0) charged += yuan("0.40");
            checkMoney(yuan("10") - charged, Currency(), charged);
        });
}

// A payment: the window is told it failed exactly when nothing moved; what it
// moved is in the journal once, and in the call file's log after the opening.
TEST_F(RefusalTest, PaymentMovesMoneyExactlyWhenItSaysSoWhateverIsRefused) {
    Currency remain = yuan("10"), deposit;
    walk(
        [&](int) {
            QString error;
            const bool paid = billing::PayUser(7, yuan("50"), Currency(), now.addDays(30), &error);
            EXPECT_EQ(paid, error.isEmpty());
            return paid;
        },
        [&](int, bool paid) {
            if (paid) {
                deposit += yuan("50");
                remain = deposit;
            }
            checkMoney(remain, deposit, Currency());
            EXPECT_EQ(journalSum(7, int(ModSwitch::LogKind::Balance)), remain - yuan("10"));
            EXPECT_EQ(journalSum(7, int(ModSwitch::LogKind::Deposit)), deposit);
        });
    EXPECT_GT(deposit, Currency());
    // The opening gives the call file's log every entry the station file made.
    restart();
    const auto logged = [&](int kind) {
        return Currency::fromRaw(dbSwitch.scalar(QStringLiteral("SELECT coalesce(sum(f_amount), 0) FROM phonecur.tab_chargelog "
                                                                "WHERE f_userid=7 AND f_kind=?"),
                                                 {kind})
                                     .toLongLong());
    };
    EXPECT_EQ(logged(int(ModSwitch::LogKind::Balance)), remain - yuan("10"));
    EXPECT_EQ(logged(int(ModSwitch::LogKind::Deposit)), deposit);
    checkMoney(remain, deposit, Currency());
}

// The commit every other writer of balances and users shares (a deposit
// saved, 初始化, the users' table put back, a user added or deleted in the
// user view or after a settlement): a user added with a balance and a
// deposit, then users deleted, each there exactly when the act said so, each
// an entry once, and in the call file's log after the opening.
TEST_F(RefusalTest, UsersAddedAndDeletedAreEntriesExactlyWhenTheActSaysSoWhateverIsRefused) {
    const auto entries = [&](qint64 user, ModSwitch::LogKind kind) {
        qint64 n = count("phonecur.tab_chargelog", QStringLiteral("f_userid=? AND f_kind=?"), {user, int(kind)});
        if (n == 0 && !dbSwitch.actualTableName(ModSwitch::kLedgerMirror).isEmpty())
            n = count("main.tab_chargemirror", QStringLiteral("f_userid=? AND f_kind=?"), {user, int(kind)});
        return n;
    };
    const auto present = [&](qint64 user) { return count("user", QStringLiteral("userid=?"), {user}) == 1; };
    const auto moved = [&](const std::function<void()>& write, qint64 user) {
        try {
            ModSwitch::MoveBalances(write, user);
            return true;
        } catch (const platform::DbError&) {
            return false;
        }
    };
    QList<qint64> added;
    walk(
        [&](int i) {
            return moved([&] {
                dbSwitch.execute(QStringLiteral("INSERT INTO user (userid, username, remain, deposit) VALUES (?, ?, ?, ?)"),
                                 {100 + i, QStringLiteral("新%1").arg(i), yuan("5"), yuan("2")});
            }, 100 + i);
        },
        [&](int i, bool done) {
            EXPECT_EQ(present(100 + i), done);
            EXPECT_EQ(entries(100 + i, ModSwitch::LogKind::UserAdded), done ? 1 : 0);
            EXPECT_EQ(journalSum(100 + i, int(ModSwitch::LogKind::Deposit)), done ? yuan("2") : Currency());
            if (done) added << 100 + i;
        });
    ASSERT_FALSE(added.isEmpty());
    // As many users as the deletions' walk may take, added with nothing refused.
    for (qint64 u = 1000; u < 1100; ++u)
        ASSERT_TRUE(moved([&] { dbSwitch.execute(QStringLiteral("INSERT INTO user (userid, username) VALUES (?, 'x')"), {u}); }, u));
    walk([&](int i) { return moved([&] { ModSwitch::DeleteUserRows(dbSwitch, 1000 + i); }, 1000 + i); },
         [&](int i, bool done) {
             EXPECT_EQ(present(1000 + i), !done);
             EXPECT_EQ(entries(1000 + i, ModSwitch::LogKind::UserDeleted), done ? 1 : 0);
         });
    restart();
    for (qint64 u : added) EXPECT_EQ(count("phonecur.tab_chargelog", QStringLiteral("f_userid=? AND f_kind=2"), {u}), 1) << u;
}

// A read refused where it is aimed, and only there: what a spool or a file
// that cannot be read is tested with.
TEST_F(RefusalTest, AReadIsRefusedOnlyInTheFileChosen) {
    const QString path = dir->file("PhoneCur.mdb");
    {
        const refusal::Armed armed(refusal::Op::Read, QStringLiteral("switch.mdb"), 1);
        platform::Database other = platform::Database::open(path);
        EXPECT_GT(other.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master")).toLongLong(), 0);
        EXPECT_FALSE(refusal::fired());
    }
    {
        const refusal::Armed armed(refusal::Op::Read, QStringLiteral("PhoneCur.mdb"), 1);
        EXPECT_THROW(platform::Database::open(path).scalar(QStringLiteral("SELECT count(*) FROM sqlite_master")),
                     platform::DbError);
        EXPECT_TRUE(refusal::fired());
    }
    EXPECT_GT(platform::Database::open(path).scalar(QStringLiteral("SELECT count(*) FROM sqlite_master")).toLongLong(), 0);
}

// The move of settled entries into "ChargeLog.mdb" at an opening: each entry
// in the journal once (in the call file, in the journal file, or in both
// under its one number), the balance as the calls made it, and the move's
// trouble told only when the entries stayed in the call file.
TEST_F(RefusalTest, SettledEntriesMoveIntoTheJournalFileOnceWhateverIsRefused) {
    Currency charged;
    QStringList boxes;
    qint64 first = 0;   // the entry of the run's first call
    int calls = 0;
    const auto inLog = [&](qint64 seq) { return count("phonecur.tab_chargelog", QStringLiteral("f_seq=?"), {seq}) == 1; };
    walk(
        [&](int) {
            const refusal::MaybeBoxes told({{ModSwitch::kJournalFile, platform::rOK}});
            ModSwitch::MoveSettledEntries();
            boxes = told.shown();
            return !inLog(first);
        },
        [&](int, bool moved) {
            if (refusal::anyContains(boxes, QStringLiteral("无法写入"))) { EXPECT_FALSE(moved) << boxes.join('\n').toStdString(); }
            EXPECT_EQ(refusal::journalCount(7, int(ModSwitch::LogKind::Charge)), calls);
            checkMoney(yuan("10") - charged, Currency(), charged);
        },
        {ModSwitch::kJournalFile, QStringLiteral("PhoneCur.mdb")},
        [&](int i) {
            // Two calls (the log keeps its last entry), copied by an opening,
            // and ten days later settled.
            for (int k = 0; k < 2; ++k) {
                CallRecord r;
                r.start = now.addSecs(-3600 + 600 * k);
                r.seconds = 250;
                ClsMonitor().Record(r.frame(), true);
                charged += yuan("0.40");
                ++calls;
            }
            first = dbSwitch.scalar(QStringLiteral("SELECT max(f_seq) - 1 FROM phonecur.tab_chargelog WHERE f_kind=0")).toLongLong();
            {
                const refusal::MaybeBoxes told({{ModSwitch::kJournalFile, platform::rOK}});
                restart();
            }
            now = now.addDays(10);
            ASSERT_TRUE(inLog(first)) << i;
        });
}

}  // namespace
