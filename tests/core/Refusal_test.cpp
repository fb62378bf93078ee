// Every road that moves money, run again and again while the disk refuses
// once: the n-th write, then the n-th sync, of the call file and then of the
// station file, n = 1, 2, ... until the act passes with nothing refused. After
// each run: the balances equal the test's own ledger, the journal's entries
// (the call file's log and the station file's copy together) sum to it, each
// call is kept once (stored or in the spool), and the act said it failed
// exactly when it did not happen.
#include "support/PricingFixture.h"
#include "support/Refusals.h"

#include "billing/Payments.h"
#include "core/ChargeLog.h"
#include "core/StationFiles.h"
#include "link/ModComm.h"
#include "pricing/BillFile.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RecordSpool.h"

#include <QFile>
#include <cstdio>
#include <functional>

namespace platform {
// Amounts in a failure as the operator reads them.
inline void PrintTo(const Currency& c, std::ostream* os) { *os << c.toString2().toStdString(); }
}  // namespace platform

using namespace pricingtest;
namespace refusal = testsupport::refusal;
namespace spool = pricing::spool;
namespace billfile = pricing::billfile;

namespace {

struct Refused {
    refusal::Op op;
    QString file;
    int n;
    std::string text() const {
        return QStringLiteral("the %1. %2 of %3 refused").arg(n).arg(QLatin1String(refusal::nameOf(op)), file).toStdString();
    }
};

class RefusalTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        TerminalName = QStringLiteral("默认");
        localCaller("10", 1);
    }
    void TearDown() override {
        refusal::disarm();
        PricingTest::TearDown();
    }

    // Runs `act(i)` (its i-th run; true when it says it was done) under every
    // refusal of the walk, then `check(i, said)` with nothing armed.
    // Returns how many runs the walk took.
    int walk(const std::function<bool(int)>& act, const std::function<void(int, bool)>& check) {
        int runs = 0;
        for (const QString file : {QStringLiteral("PhoneCur.mdb"), QStringLiteral("switch.mdb")}) {
            for (const refusal::Op op : {refusal::Op::Write, refusal::Op::Sync}) {
                for (int n = 1;; ++n) {
                    const Refused what{op, file, n};
                    const int i = runs++;
                    bool said = false, fired = false;
                    {
                        const refusal::Armed armed(op, file, n);
                        said = act(i);
                        fired = refusal::fired();
                    }
                    SCOPED_TRACE(what.text());
                    check(i, said);
                    if (HasFailure() || !fired) {
                        RecordProperty(QStringLiteral("%1_%2").arg(file, QLatin1String(refusal::nameOf(op))).toStdString(), n);
                        std::printf("%s %s: n = 1..%d\n", qPrintable(file), refusal::nameOf(op), n);
                        break;
                    }
                    if (n == 200) {
                        ADD_FAILURE() << "the act never passes untouched";
                        break;
                    }
                }
            }
        }
        return runs;
    }

    // The sum of the journal's entries for `user` (balance moved, charges
    // taken), each number once whichever file holds it.
    Currency journalSum(qint64 user, int kind) {
        QString entries = QStringLiteral("SELECT f_seq, f_kind, f_userid, f_amount FROM phonecur.tab_chargelog");
        if (!dbSwitch.actualTableName(ModSwitch::kLedgerMirror).isEmpty())
            entries += QStringLiteral(" UNION SELECT f_seq, f_kind, f_userid, f_amount FROM main.tab_chargemirror");
        // Two files giving one number two different entries would count twice.
        EXPECT_EQ(dbSwitch.scalar(QStringLiteral("SELECT count(DISTINCT f_seq) FROM (%1)").arg(entries)).toLongLong(),
                  dbSwitch.scalar(QStringLiteral("SELECT count(*) FROM (%1)").arg(entries)).toLongLong());
        return Currency::fromRaw(
            dbSwitch.scalar(QStringLiteral("SELECT coalesce(sum(f_amount), 0) FROM (%1) WHERE f_userid=? AND f_kind=?").arg(entries),
                            {user, kind})
                .toLongLong());
    }
    // Checks the money of user 7: what the journal gives, what the station
    // file holds once it is brought up to it, and the entries.
    void checkMoney(Currency remain, Currency deposit, Currency charged) {
        EXPECT_EQ(ModSwitch::BalanceOf(7), remain);
        ModSwitch::ApplyLoggedCharges();
        EXPECT_EQ(remainOf(7), remain);
        EXPECT_EQ(Currency::fromRaw(dbSwitch.scalar(QStringLiteral("SELECT deposit FROM user WHERE userid=7")).toLongLong()),
                  deposit);
        EXPECT_EQ(journalSum(7, int(ModSwitch::LogKind::Charge)), charged);
    }

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
    QByteArray billRecord(int i) {
        QByteArray f = call(i).frame();
        quint8 sum = 0;
        for (char c : f) sum = quint8(sum + quint8(c));
        return f.append(char(sum));
    }
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
            {
                billfile::Writer w;
                int waiting = -1;
                EXPECT_TRUE(w.start(charge, &waiting));
                for (int k = i * kRecords; k < (i + 1) * kRecords; ++k) EXPECT_TRUE(w.append(billRecord(k)));
            }
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

}  // namespace

namespace {

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

}  // namespace

namespace {

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

}  // namespace
