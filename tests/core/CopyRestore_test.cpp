// The station file restored from its safety copy after calls were charged:
// whatever the damage, every user's balance ends as it stood before it, or,
// where the damaged file no longer gives it, as the copy less the fees stored
// since; what cannot be recovered is listed by user and amount.
#include "support/Holds.h"
#include "support/Fixtures.h"
#include "support/PricingFixture.h"

#include "billing/Payments.h"
#include "platform/Files.h"
#include "core/books/ChargeLog.h"
#include "core/Deposit.h"
#include "core/StationFiles.h"
#include "core/books/SafetyCopies.h"
#include "core/books/CopyRecovery.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

using namespace pricingtest;
using testsupport::holds, testsupport::lacks, testsupport::holdsAll, testsupport::lacksAll;
using platform::Database;

namespace {

enum class Damage { Missing, ZeroBytes, Garbage, FirstPageLost, CutBeforeUsers, UserPageLost, VariantDropped, OrphanPage };

const char* nameOf(Damage d) {
    switch (d) {
    case Damage::Missing: return "missing";
    case Damage::ZeroBytes: return "zero bytes";
    case Damage::Garbage: return "garbage";
    case Damage::FirstPageLost: return "first page lost";
    case Damage::CutBeforeUsers: return "cut short before the users";
    case Damage::UserPageLost: return "user page lost";
    case Damage::VariantDropped: return "Variant dropped";
    case Damage::OrphanPage: return "a page never used";
    }
    return "";
}

// Whether the damaged file still gives its user rows: a lost first page is
// read with the copy's, the tables keeping the pages they were made on.
bool usersReadable(Damage d) {
    return d == Damage::VariantDropped || d == Damage::OrphanPage || d == Damage::FirstPageLost;
}

class CopyRestoreBase : public BooksTest {
protected:
    void call(int ext, int minute) { ASSERT_TRUE(callAt(minute, ext)); }
    // User `id` deleted after settling, as the settlement window does (the switch told).
    static bool deleteUserAfterSettling(qint64 id) {
        billing::setUserDownload([](qint64, int) { return true; });
        const bool done = billing::AfterPayment(id, QStringLiteral("用户%1").arg(id), billing::kDeleteUser, platform::Now());
        billing::setUserDownload(nullptr);
        return done;
    }
    // The station file's check finds it damaged and puts back its safety
    // copy: the one box it shows.
    QString restoreFromCopy() {
        platform::script::answer("已用备份switch.mdb.bak恢复", platform::rOK);
        ModSwitch::CompactDB(QStringLiteral("Switch.mdb"));
        EXPECT_EQ(platform::script::shown().size(), 1);
        return platform::script::shown().isEmpty() ? QString() : platform::script::shown()[0].text;
    }
    // The station closed, its station file damaged as `d` says.
    void damage(Damage d) {
        ModSwitch::OpenAllDB(false);
        const QString sw = dir->file("switch.mdb");
        Database db = Database::open(sw);
        const int pageSize = db.scalar("PRAGMA page_size").toInt();
        const int userPage = db.scalar("SELECT rootpage FROM sqlite_master WHERE name='user'").toInt();
        QFile f(sw);
        switch (d) {
        case Damage::Missing: db.close(); ASSERT_TRUE(QFile::remove(sw)); break;
        case Damage::ZeroBytes: db.close(); ASSERT_TRUE(f.resize(0)); break;
        case Damage::Garbage: db.close(); writeClosed("switch.mdb"); break;
        case Damage::FirstPageLost:
        case Damage::UserPageLost:
            db.close();
            writeClosed("switch.mdb", d == Damage::FirstPageLost ? 0 : qint64(userPage - 1) * pageSize, QByteArray(pageSize, '\x5a'));
            break;
        case Damage::CutBeforeUsers: db.close(); ASSERT_TRUE(f.resize(qint64(userPage - 1) * pageSize)); break;
        case Damage::VariantDropped: db.execute("DROP TABLE Variant"); break;
        // Pages that read whole, one never used: found by the check alone.
        case Damage::OrphanPage: db.close(); testsupport::addOrphanPage(sw); break;
        }
    }
    Currency balanceAfterRestore(qint32 userid) {
        Database db = Database::open(dir->file("switch.mdb"));
        return Currency::fromRaw(db.scalar("SELECT remain FROM user WHERE userid=?", {userid}).toLongLong());
    }
};

class CopyRestoreTest : public CopyRestoreBase, public ::testing::WithParamInterface<Damage> {};

TEST_P(CopyRestoreTest, BalancesStayRightAndWhatIsLostIsListed) {
    const Damage kind = GetParam();
    const Currency opening = remainOf(7);
    call(5, 1);
    call(5, 2);
    call(5, 3);
    // A payment between two calls, and a user made since the copy who calls too.
    dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=7", {yuan("50.00")});
    call(5, 4);
    addUser(9, "20.00", 1);
    setExtensionUser(6, 9);
    call(6, 5);
    call(5, 6);
    const Currency fees7 = storedFees(7), fees9 = storedFees(9);
    ASSERT_GT(fees7, Currency());
    ASSERT_GT(fees9, Currency());
    ASSERT_EQ(remainOf(7), opening - fees7 + yuan("50.00"));

    damage(kind);
    const QString text = restoreFromCopy();
    EXPECT_EQ(platform::script::shown().value(0).title, "警告");
    const QString copyTime = QFileInfo(dir->file("switch.mdb.bak")).lastModified().toString("yyyy-MM-dd HH:mm:ss");
    EXPECT_TRUE(text.startsWith(QStringLiteral("数据库文件switch.mdb%1，已用备份switch.mdb.bak恢复（备份时间%2）。")
                                    .arg(kind == Damage::Missing ? "不存在" : "已损坏", copyTime)))
        << text.toStdString();
    // Extension 6, given to user 9 since the copy, is back with its former owner; named with whom its calls charged.
    EXPECT_TRUE(holdsAll(text, {"以下分机的用户与备份之后的话费记录不同",
                                QStringLiteral("分机6：现属用户0，备份之后的话费记入用户9%1").arg(usersReadable(kind) ? " 用户9" : "")}));

    if (usersReadable(kind)) {
        EXPECT_EQ(balanceAfterRestore(7), opening - fees7 + yuan("50.00"));
        EXPECT_EQ(balanceAfterRestore(9), yuan("20.00") - fees9);
        // Users 7 and 9: the default user holds no balance to find.
        EXPECT_TRUE(holds(text, "从损坏的文件中找回2个用户的余额。"));
        EXPECT_TRUE(lacksAll(text, {"重新计入", "无法找回"}));
    } else {
        // The copy less the fees stored since it, each once; the payment and
        // the new user are for the operator to enter again.
        EXPECT_EQ(balanceAfterRestore(7), opening - fees7);
        EXPECT_TRUE(holds(text, QStringLiteral("重新计入备份之后的5笔话费，共%1元。").arg(fees7.toString2())));
        EXPECT_TRUE(holds(text, QStringLiteral("以下金额无法找回，请重新录入：\n用户7 用户7：50.00\n用户9：余额%1（备份中没有此用户）")
                                    .arg((yuan("20.00") - fees9).toString2())));
    }

    // Started again on the restored file, the charges are not applied a second time.
    testsupport::freshPrompts();
    const Currency restored = balanceAfterRestore(7);
    restart();
    EXPECT_EQ(remainOf(7), restored);
    EXPECT_TRUE(platform::script::shown().isEmpty());
}

TEST_F(CopyRestoreBase, CallsLoggedSinceABackupArePutBackAreChargedToItOnce) {
    // The station file as a backup made now holds it, put back later by the operator.
    const QString backup = keepStationFile("backup.mdb");
    restart();
    const Currency atBackup = remainOf(7), beforeAll = storedFees(7);
    call(5, 1);
    restart();
    call(5, 2);
    replaceClosed("switch.mdb", backup);
    restart();
    // The two calls stored since the backup are charged to it at the start, once.
    const Currency opening = remainOf(7), before = storedFees(7);
    EXPECT_EQ(opening, atBackup - (before - beforeAll));
    restart();
    EXPECT_EQ(remainOf(7), opening);
    call(5, 3);
    call(5, 4);
    const Currency since = storedFees(7) - before;
    ASSERT_GT(since, Currency());

    damage(Damage::Garbage);
    const QString text = restoreFromCopy();
    EXPECT_EQ(balanceAfterRestore(7), opening - since);
    EXPECT_TRUE(holds(text, QStringLiteral("重新计入备份之后的2笔话费，共%1元。").arg(since.toString2())));
}

// A power cut at any step of a restore from the safety copy: the next start
// completes it from the copy it began with, says so, and charges the calls
// logged since the copy once; the log that needs them stays.
TEST_F(CopyRestoreBase, APowerCutAtAnyStepOfARestoreIsCompletedAtTheNextStart) {
    int minute = 0;
    for (const char* step : {"marked", "moved", "copied", "recovered", "renamed"}) {
        SCOPED_TRACE(step);
        restart();
        const Currency opening = remainOf(7), before = storedFees(7);
        call(5, ++minute);
        call(5, ++minute);
        const Currency since = storedFees(7) - before;
        damage(Damage::Garbage);
        ModSwitch::testing::setRestoreStepHook([step](const QString& at) {
            if (at == QLatin1String(step)) throw std::runtime_error("power cut");
        });
        EXPECT_THROW(ModSwitch::CompactDB(QStringLiteral("Switch.mdb")), std::runtime_error);
        ModSwitch::testing::setRestoreStepHook(nullptr);
        testsupport::freshPrompts();
        const QString text = restoreFromCopy();
        EXPECT_TRUE(holds(text, QStringLiteral("重新计入备份之后的2笔话费，共%1元。").arg(since.toString2())));
        EXPECT_EQ(balanceAfterRestore(7), opening - since);
        EXPECT_TRUE(QDir(dir->dataPath()).entryList({"*.pending-restore", "*.recovered"}).isEmpty());
        // Opened, the restored file is not charged a second time.
        reopen();
        EXPECT_EQ(remainOf(7), opening - since);
        EXPECT_GE(dbPhoneCur.scalar("SELECT count(*) FROM tab_chargelog").toInt(), 2);
    }
}

// Rows read through a damaged page are taken only when they are users': the
// rows of another table replace no balance.
TEST_F(CopyRestoreBase, RowsOfAnotherTableAreNeverTakenForUsers) {
    const Currency opening = remainOf(7);
    call(5, 1);
    call(5, 2);
    const Currency fees = storedFees(7);
    ModSwitch::OpenAllDB(false);
    {
        // The user table's root now points at the rights table's pages.
        Database db = Database::open(dir->file("switch.mdb"));
        const int rights = db.scalar("SELECT rootpage FROM sqlite_master WHERE name='rightlist'").toInt();
        db.execute("PRAGMA writable_schema=ON");
        db.execute("UPDATE sqlite_master SET rootpage=? WHERE name='user'", {rights});
    }
    const QString text = restoreFromCopy();
    EXPECT_TRUE(lacks(text, "从损坏的文件中找回"));
    EXPECT_TRUE(holds(text, "不是完整的用户记录，未采用"));
    EXPECT_EQ(balanceAfterRestore(7), opening - fees);
    Database db = Database::open(dir->file("switch.mdb"));
    EXPECT_EQ(db.scalar("SELECT count(*) FROM user WHERE userid NOT IN (0, 7)").toInt(), 0);
}

// The whole road of a restore from the safety copy, as the suite did not yet
// hold it: the recovered file is on the disk before it is renamed in; a user
// the fully read damaged file lacks is deleted again, and named, though the
// log no longer says so; the damaged call file's log entries come into the
// restored one; a log read only in part is named.
TEST_F(CopyRestoreBase, TheRestoredFilesAreSyncedWholeAndKeepWhatTheDamagedOnesHeld) {
    addUser(8, "30.00", 1);
    setExtensionUser(6, 8);
    dbSwitch.execute("UPDATE extension SET depositgrade=9 WHERE address=6");   // user 8's grade
    restart();   // both copies know user 8
    call(5, 1);
    call(5, 2);
    ASSERT_TRUE(deleteUserAfterSettling(8));
    const qint64 entries = dbPhoneCur.scalar("SELECT count(*) FROM tab_chargelog").toLongLong();
    ModSwitch::OpenAllDB(false);
    // Only the fully read station file can tell that user 8 went.
    Database::open(dir->file("PhoneCur.mdb")).execute("DELETE FROM tab_chargelog WHERE f_kind=1");
    const qint64 logged = entries - 1;
    damage(Damage::VariantDropped);

    QStringList synced;
    platform::testing::setSyncHook([&](const QString& p) { synced << QFileInfo(p).fileName(); });
    // `file` found damaged and put back from its copy: whether its recovered file was synced before the rename.
    const auto putBackSynced = [&](const QString& file) {
        bool first = false;
        ModSwitch::testing::setRestoreStepHook([&](const QString& step) {
            if (step == "recovered") first = synced.contains(file + ".recovered");
        });
        platform::script::answer(QStringLiteral("已用备份%1.bak恢复").arg(file), platform::rOK);
        ModSwitch::CompactDB(file);
        ModSwitch::testing::setRestoreStepHook(nullptr);
        return first;
    };
    EXPECT_TRUE(putBackSynced("switch.mdb"));
    EXPECT_TRUE(holds(platform::script::shown().last().text, "以下用户在备份之后已删除，已再次删除：\n用户8 用户8"));
    {
        // Deleted as the user view deletes: the extension back with the default user's grade.
        Database db = Database::open(dir->file("switch.mdb"));
        EXPECT_TRUE(db.scalar("SELECT username FROM user WHERE userid=8").isNull());
        EXPECT_EQ(db.scalar("SELECT userid FROM extension WHERE address=6").toInt(), 0);
        EXPECT_EQ(db.scalar("SELECT depositgrade FROM extension WHERE address=6").toInt(), ModGeneral::GetDepositGrade(db, 0));
        EXPECT_NE(db.scalar("SELECT depositgrade FROM extension WHERE address=6").toInt(), 9);
    }

    // The call file now: a table gone, its log entries to be carried over.
    Database::open(dir->file("PhoneCur.mdb")).execute("DROP TABLE tab_errPh");
    EXPECT_TRUE(putBackSynced("PhoneCur.mdb"));
    {
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        EXPECT_EQ(cur.scalar("SELECT count(*) FROM tab_chargelog").toLongLong(), logged);
        EXPECT_EQ(cur.scalar("SELECT count(DISTINCT f_seq) FROM tab_chargelog").toLongLong(), logged);
    }

    // A log with a page no longer readable: the station file's restore says so.
    {
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        platform::Transaction tx(cur);
        for (int i = 0; i < 400; ++i)
            cur.execute("INSERT INTO tab_chargelog (f_seq, f_userid, f_amount, f_balance) VALUES (?, 7, 0, 0)",
                        {1000 + i});
        tx.commit();
        const int pageSize = cur.scalar("PRAGMA page_size").toInt();
        // A leaf in the middle of the log: its parent lists it, its bytes are gone.
        const int leaf = cur.scalar("SELECT pageno FROM dbstat WHERE name='tab_chargelog' AND pagetype='leaf' "
                                    "ORDER BY path LIMIT 1 OFFSET 1")
                             .toInt();
        cur.close();
        ASSERT_GT(leaf, 1);
        writeClosed("PhoneCur.mdb", qint64(leaf - 1) * pageSize, QByteArray(pageSize, '\x5a'));
    }
    QFile::remove(dir->file("switch.mdb"));
    putBackSynced("switch.mdb");
    platform::testing::setSyncHook(nullptr);
    const QString text = platform::script::shown().last().text;
    EXPECT_TRUE(holds(text, "话单文件的计费记录只能部分读取"));
}

// A recovery of the balances that fails inside the restore is said, with its
// cause, not passed over as a clean restore.
TEST_F(CopyRestoreBase, ABalanceRecoveryThatFailsIsSaid) {
    call(5, 1);
    ModSwitch::OpenAllDB(false);
    Database::open(dir->file("switch.mdb.bak"))
        .execute("CREATE TRIGGER refuse BEFORE INSERT ON user BEGIN SELECT RAISE(ABORT, 'refused'); END");
    damage(Damage::VariantDropped);
    const QString text = restoreFromCopy();
    EXPECT_TRUE(holdsAll(text, {"用户余额未能按备份之后的话费更新（", "请核对用户余额"}));
}

INSTANTIATE_TEST_SUITE_P(EveryDamage, CopyRestoreTest,
                         ::testing::Values(Damage::Missing, Damage::ZeroBytes, Damage::Garbage, Damage::FirstPageLost,
                                           Damage::CutBeforeUsers, Damage::UserPageLost, Damage::VariantDropped,
                                           Damage::OrphanPage),
                         [](const ::testing::TestParamInfo<Damage>& i) {
                             QString n = QString::fromLatin1(nameOf(i.param));
                             n.remove(' ');
                             return n.toStdString();
                         });

}  // namespace

// A damaged station file whose mark cannot be read and whose rows are older
// than the journal (its write-ahead log lost): its rows are not taken for
// current. The copy is brought up by every entry since it (a payment, calls,
// a user's deletion), exactly: the journal read whole, the damaged file's
// older rows are no difference the operator is asked to check.
TEST_F(CopyRestoreBase, ADamagedFileWhoseMarkCannotBeReadIsNotTakenForCurrent) {
    addUser(8, "30.00", 1);
    restart();   // the copy
    call(5, 1);
    const QString older = keepStationFile("older.mdb");
    ASSERT_TRUE(billing::PayUser(7, yuan("52.05"), Currency(), platform::Now(), nullptr));
    call(5, 2);
    ASSERT_TRUE(deleteUserAfterSettling(8));
    const Currency now = remainOf(7);
    // The file as it stood before the payment, its Variant page unreadable.
    replaceClosed("switch.mdb", older);
    const qint64 pageSize = Database::openReadOnly(older).scalar("PRAGMA page_size").toLongLong();
    const qint64 variant = Database::openReadOnly(older).scalar("SELECT rootpage FROM sqlite_master WHERE name='Variant'").toLongLong();
    writeClosed("switch.mdb", (variant - 1) * pageSize, QByteArray(int(pageSize), '\x5a'));
    const QString text = restoreFromCopy();
    EXPECT_EQ(balanceAfterRestore(7), now) << text.toStdString();
    Database db = Database::open(dir->file("switch.mdb"));
    EXPECT_TRUE(db.scalar("SELECT 1 FROM user WHERE userid=8").isNull()) << text.toStdString();
    EXPECT_TRUE(lacksAll(text, {"从损坏的文件中找回", "请核对"}));
}

// The change of site gathers what its checks put back for a box after the
// opening; the mark was gone by then, so a kill before that box lost the
// report for good. The report goes into the file put back, in its recovery:
// the next opening shows it, once, however often it is killed around it.
TEST_F(CopyRestoreBase, APutBackWhoseBoxAKillKeptFromTheOperatorIsToldAtTheNextOpeningOnce) {
    call(5, 1);
    call(5, 2);
    damage(Damage::Garbage);
    QString failure, notice;
    ASSERT_TRUE(ModSwitch::TryCompactDB(QStringLiteral("Switch.mdb"), &failure, &notice)) << failure.toStdString();
    EXPECT_TRUE(holds(notice, "已用备份switch.mdb.bak恢复"));
    // Killed here, before the box: nothing was shown, and nothing the process held is left.
    ModSwitch::testing::forgetHeldReports();
    EXPECT_TRUE(platform::script::shown().isEmpty());
    EXPECT_TRUE(QDir(dir->dataPath()).entryList({"*.pending-restore"}).isEmpty());
    // And killed again while the box is up at the next opening.
    platform::script::whileShown([](const QString& text) {
        if (text.contains("已用备份switch.mdb.bak恢复")) throw std::runtime_error("killed while the box is up");
    });
    EXPECT_THROW(restart(), std::runtime_error);
    platform::script::whileShown(nullptr);
    testsupport::freshPrompts("已用备份switch.mdb.bak恢复");
    restart();
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(holds(platform::script::shown()[0].text, "重新计入备份之后的2笔话费"));
    restart();
    EXPECT_EQ(platform::script::shown().size(), 1);
}

// A report the station file kept (a box a kill kept from the operator) and
// its copy never held: the file found damaged and put back from the copy, at
// the start or on the change of site, the report still comes, once, from
// what the damaged file still gives.
TEST_F(CopyRestoreBase, AReportTheDamagedStationFileKeptIsShownOnceAfterItsPutBack) {
    for (const bool atStart : {true, false})
        for (const Damage kind : {Damage::UserPageLost, Damage::VariantDropped}) {
            SCOPED_TRACE(std::string(atStart ? "at the start, " : "on the change of site, ") + nameOf(kind));
            restart();   // the copy as the start takes it
            ModSwitch::KeepReport(dbSwitch, "catch-up:9-12", {"数据库文件switch.mdb落后于话单库，已补记第9至12笔。", "警告",
                                  platform::mbOKOnly});
            damage(kind);
            testsupport::freshPrompts("已用备份switch.mdb.bak恢复");
            platform::script::answer("已补记第9至12笔", platform::rOK);
            if (!atStart) {
                QString failure, notice;
                ASSERT_TRUE(ModSwitch::TryCompactDB(QStringLiteral("Switch.mdb"), &failure, &notice)) << failure.toStdString();
                ASSERT_TRUE(holds(notice, "已用备份switch.mdb.bak恢复"));
                // Killed before the change of site's own box: the next start tells both.
                ModSwitch::testing::forgetHeldReports();
            }
            restart();
            QStringList texts;
            for (const auto& s : platform::script::shown()) texts << s.text;
            EXPECT_EQ(texts.filter("已补记第9至12笔").size(), 1) << texts.join('\n').toStdString();
            EXPECT_EQ(texts.filter("已用备份switch.mdb.bak恢复").size(), 1) << texts.join('\n').toStdString();
            EXPECT_EQ(platform::script::pendingAnswers(), 0);
            restart();
            EXPECT_EQ(platform::script::shown().size(), texts.size());
        }
}
