// The journal of money: every movement of a balance is an entry, and the
// balance is what the entries give, whichever file was lost, damaged or put
// back. Each case plays the whole sequence and checks the balance against the
// movements it made.
#include "LedgerFixture.h"

#include "admin/Restore.h"
#include "billing/ArchiveBills.h"
#include "billing/Payments.h"
#include "core/books/ChargeLog.h"
#include "core/books/CopyRecovery.h"
#include "core/books/SafetyCopies.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/books/UserNumbers.h"
#include "params/TableViews.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"
#include "support/Holds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace pricingtest;
using testsupport::holds, testsupport::lacks, testsupport::holdsAll, testsupport::lacksAll;
using platform::Database;

namespace {

// In one transaction around a batch of records the mark stands: each
// balance read counts the log as it is, not as an earlier read found it (a
// record rolled back with its savepoint, its number taken again).
TEST_F(LedgerTest, ABatchsBalanceForgetsARecordRolledBackUnderIt) {
    const Currency opening = remainOf(7);
    platform::Transaction batch(dbSwitch);
    const Currency first = call(1);
    {
        platform::Transaction undone(dbSwitch);
        const Currency second = call(2);
        EXPECT_EQ(ModSwitch::BalanceOf(7), opening - first - second);
    }
    // A call that charges no one takes the number the second one had.
    ModSwitch::LogCall(0, 5, "2026-06-15 09:03:00");
    EXPECT_EQ(ModSwitch::BalanceOf(7), opening - first);
    const Currency third = call(4);
    batch.commit();
    EXPECT_EQ(remainOf(7), opening - first - third);
}

// A settlement or a payment while a charge waits (the station file refused
// it): the waiting charge is in the due, and is paid once.
TEST_F(LedgerTest, ASettlementWhileAChargeWaitsPaysItOnce) {
    const Currency opening = remainOf(7);
    refuseApply();
    const Currency fee = call(1);
    EXPECT_EQ(remainOf(7), opening);   // waiting
    dbSwitch.execute("DROP TRIGGER refuse");
    // Settled: the due is the fee, paid in full; the balance ends equal to the deposit.
    const Currency deposit = depositOf(7);
    ASSERT_TRUE(billing::PayUser(7, fee, fee, QDateTime(QDate(2026, 6, 15), QTime(10, 0)), nullptr));
    ModSwitch::ApplyLoggedCharges();
    EXPECT_EQ(remainOf(7), deposit);
    restart();
    EXPECT_EQ(remainOf(7), deposit);
    EXPECT_EQ(depositOf(7), deposit);
}

// A balance read while entries wait counts only those past the mark, never
// the last one applied (the mark is not at 0 here). An owner given while they
// wait moves the mark over the owner's entry only once they are applied.
TEST_F(LedgerTest, ABalanceReadWhileEntriesWaitCountsEachEntryOnce) {
    const Currency opening = remainOf(7);
    const Currency first = call(1);
    ASSERT_GT(ModSwitch::AppliedMark(dbSwitch), 0);
    refuseApply();
    const Currency second = call(2);
    EXPECT_EQ(ModSwitch::UnappliedCharges(7), second);
    const Currency third = call(3);
    EXPECT_EQ(Currency::fromRaw(dbPhoneCur.scalar("SELECT f_yj FROM Tab_Phone ORDER BY rowid DESC LIMIT 1").toLongLong()),
              opening - first - second - third);
    dbSwitch.execute("DROP TRIGGER refuse");
    ModSwitch::MoveOwners([] { ASSERT_EQ(dbSwitch.execute("UPDATE extension SET userid=0 WHERE address=5"), 1); });
    EXPECT_EQ(remainOf(7), opening - first - second - third);
    restart();
    EXPECT_EQ(remainOf(7), opening - first - second - third);
}

// No answered record is lost with the call file: the calls that charge no
// one (the default user's, records uploaded from a payphone, stored in a
// batch) are kept by the station file as the charged ones are, and come back
// once each when the call file is put back from its copy or is gone.
TEST_F(LedgerTest, CallsThatChargeNoOneComeBackWhenTheCallFileIsPutBackOrLost) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "call file lost" : "call file put back from its copy");
        const int day = lost ? 16 : 15;
        const Currency opening = remainOf(7);
        auto record = [&](int ext, int minute) {
            CallRecord r;
            r.ext = ext;
            r.start = QDateTime(QDate(2026, 6, day), QTime(11, minute, 0));
            r.seconds = 90 + minute;
            return r.frame();
        };
        EXPECT_TRUE(ClsMonitor().Record(record(6, 1), true));   // the default user
        const Currency fee = call(day == 15 ? 20 : 21);   // on the 15th
        {
            platform::Transaction batch(dbSwitch);   // a payphone's upload
            for (int m = 2; m < 5; ++m) EXPECT_TRUE(ClsMonitor().StoreSpooled(record(5, m), [] {}, false));
            batch.commit();
        }
        const qint64 calls = count("Tab_Phone");
        if (lost) {
            ModSwitch::OpenAllDB(false);
            for (const char* side : {"", "-wal", "-shm"}) QFile::remove(dir->file("PhoneCur.mdb") + side);
        } else {
            callFileFromItsCopy();
        }
        restartAnswering("PhoneCur.mdb");
        EXPECT_EQ(count("Tab_Phone"), calls);
        EXPECT_EQ(count("Tab_Phone", "f_date LIKE ?", {QStringLiteral("2026-06-%1%").arg(day)}), day == 15 ? 5 : 4);
        EXPECT_EQ(remainOf(7), opening - fee);
        restart();   // given back once
        EXPECT_EQ(count("Tab_Phone"), calls);
        EXPECT_EQ(remainOf(7), opening - fee);
    }
}

// A payment since a backup comes back with it, and so do the charges; the box
// has nothing to ask the operator to enter again. Its entry lost by the call
// file (killed between the two files' commits), the station file's copy gives
// it back at the opening, before the backup is put back.
TEST_F(LedgerTest, APaymentSinceABackupIsBroughtBackWhenTheBackupIsPutBack) {
    const QString backup = backupNow();
    const Currency a = call(1);
    const Currency deposit = depositOf(7);
    ASSERT_TRUE(billing::PayUser(7, yuan("30.00"), Currency(), QDateTime(QDate(2026, 6, 15), QTime(10, 0)), nullptr));
    const Currency b = call(2);
    const Currency now = remainOf(7);
    ASSERT_EQ(now, deposit + yuan("30.00") - b);
    ModSwitch::OpenAllDB(false);
    ASSERT_GT(Database::open(dir->file("PhoneCur.mdb")).execute("DELETE FROM tab_chargelog WHERE f_kind IN (3, 4)"), 0);
    restart();
    EXPECT_EQ(remainOf(7), now);
    EXPECT_GT(count("tab_chargelog", "f_kind IN (3, 4)"), 0);
    const QStringList lines = putBack(backup);
    EXPECT_EQ(remainOf(7), now) << lines.join('\n').toStdString();
    EXPECT_EQ(depositOf(7), deposit + yuan("30.00"));
    EXPECT_FALSE(lines.join('\n').contains("无法找回")) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.join('\n').contains(QStringLiteral("重新计入备份之后的2笔话费，共%1元。").arg((a + b).toString2())))
        << lines.join('\n').toStdString();
}

// The log's pages damaged in the call file, then a backup put back before the
// next call: the entries those pages held are read from the call file's safety
// copy, which the station file no longer doubles.
TEST_F(LedgerTest, ABackupPutBackAfterTheLogsPagesWereDamagedGetsTheirEntriesFromTheCallFilesCopy) {
    const QString backup = backupNow();
    const Currency a = call(1);
    const Currency b = call(2);
    restart();   // the copies taken: the call file's copy holds both entries
    const Currency now = remainOf(7);
    ASSERT_NO_FATAL_FAILURE(overwriteLogPages());
    const QString text = recoverOnACopy(backup, dir->file("switch.mdb"));
    Database restored = Database::open(dir->file("switch.mdb.recovering"));
    const Currency remain = Currency::fromRaw(restored.scalar("SELECT remain FROM user WHERE userid=7").toLongLong());
    // The call file's copy holds both entries: nothing is left to name.
    EXPECT_EQ(remain, now) << text.toStdString();
    EXPECT_TRUE(lacks(text, QStringLiteral("用户7")));
    EXPECT_GT(a + b, Currency());
}

// The gap rule at its edges: the first and the last number known.
TEST_F(LedgerTest, TheGapIsEveryNumberPastTheMarkUpToTheLastKnownThatTheLogLacks) {
    ModSwitch::OpenAllDB(false);
    const QString copy = dir->file("gap.mdb");
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), copy));
    Database sw = Database::open(copy);
    // The replay of entries numbered `seqs` over the copy, rolled back.
    const auto recover = [&](const QList<qint64>& seqs, qint64 mark, qint64 known) {
        platform::Transaction tx(sw);
        QList<ModSwitch::LogEntry> log(seqs.size());
        for (qsizetype i = 0; i < seqs.size(); ++i) {
            log[i].seq = seqs[i];
            log[i].userid = 7;
            log[i].amount = yuan("1.00");
            log[i].balance = yuan("99.00");
        }
        return ModSwitch::RecoverFromLog(sw, log, {}, mark, known);
    };
    const auto gapOf = [&](const QList<qint64>& seqs, qint64 mark, qint64 known) {
        const ModSwitch::LogRecovery r = recover(seqs, mark, known);
        return r.gap ? QStringLiteral("%1-%2").arg(r.gapFrom).arg(r.gapTo) : QString();
    };
    EXPECT_EQ(gapOf({3, 4, 5}, 2, 5), "");
    EXPECT_EQ(gapOf({3, 4, 5}, 2, 6), "6-6");
    EXPECT_EQ(gapOf({4, 5}, 2, -1), "3-3");
    EXPECT_EQ(gapOf({3, 5}, 2, -1), "4-4");
    EXPECT_EQ(gapOf({19, 20, 21, 22, 23, 24}, 6, 24), "7-18");
    EXPECT_EQ(gapOf({}, 2, 3), "3-3");
    EXPECT_EQ(gapOf({}, 2, 2), "");
    EXPECT_EQ(gapOf({1, 2}, 2, 2), "");
    ModSwitch::LogRecovery gap;
    gap.gap = true;
    gap.gapFrom = 3;
    gap.gapTo = 5;
    EXPECT_EQ(ModSwitch::RecoveryLines(gap), QStringList{"备份之后的第3至5笔记账记录已不存在，其中的话费和缴费未能重新计入。"});
    // Only the numbers missing are named, run by run.
    EXPECT_EQ(ModSwitch::RecoveryLines(recover({19, 20, 21, 22, 23, 24, 27}, 6, 30)).filter("记账记录已不存在"),
              QStringList{"备份之后的第7至18、25至26、28至30笔记账记录已不存在，其中的话费和缴费未能重新计入。"});
}

// A user's deletion is kept in the station file with its entry: a call file
// that lost the entry (a kill between the two commits) gets it back, and an
// older backup put back deletes the user again.
TEST_F(LedgerTest, AUserDeletedWhoseEntryTheCallFileLostIsDeletedAgainWhenABackupIsPutBack) {
    const QString backup = backupNow();
    billing::setUserDownload([](qint64, int) { return true; });
    dbSwitch.execute("UPDATE user SET lastdate='2026-07-01 00:00:00' WHERE userid=7");
    ASSERT_TRUE(billing::AfterPayment(7, "用户7", billing::kDeleteUser, QDateTime(QDate(2026, 7, 1), QTime(0, 0))));
    billing::setUserDownload(nullptr);
    ModSwitch::OpenAllDB(false);
    ASSERT_EQ(Database::open(dir->file("PhoneCur.mdb")).execute("DELETE FROM tab_chargelog WHERE f_kind=1"), 1);
    openDatabases();
    const QStringList lines = putBack(backup);
    EXPECT_TRUE(dbSwitch.scalar("SELECT 1 FROM user WHERE userid=7").isNull()) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.join('\n').contains("以下用户在备份之后已删除，已再次删除：\n用户7")) << lines.join('\n').toStdString();
}

// A data directory the previous version left: the start that upgrades the
// log took its copies before; the next starts take the upgraded call file for
// sound, and every call is charged once.
TEST_F(LedgerTest, AnUpgradedCallFileIsNotTakenForDamagedByTheStartsAfterTheUpgrade) {
    const Currency opening = remainOf(7);
    const Currency a = call(1);
    ModSwitch::OpenAllDB(false);
    ASSERT_TRUE(testsupport::makePreviousVersion(dir->dataPath()));
    restart();   // the upgrade
    const Currency b = call(2);
    restarts(2);
    EXPECT_TRUE(platform::script::shown().isEmpty()) << lastShown().toStdString();
    EXPECT_TRUE(QDir(dir->dataPath()).entryList({"*.damaged-*"}).isEmpty());
    EXPECT_EQ(remainOf(7), opening - a - b);
    EXPECT_EQ(count("Tab_Phone"), 2);
}

// A station file of another station copied in is told as such, and this call
// file's charges are not applied to its users. Put back by 数据库管理, it is
// still known as such beside a sound call file (a damaged call file's notes
// are not taken at their word alone).
TEST_F(LedgerTest, AStationFileOfAnotherStationIsToldAndNotCharged) {
    const QString other = backupNow();
    const Currency theirs = remainOf(7);
    call(1);
    call(2);
    Database::open(other).execute("UPDATE Variant SET value='another-station' WHERE varname=?", {ModSwitch::kStationId});
    ModSwitch::OpenAllDB(false);
    EXPECT_TRUE(holds(recoverOnACopy(other), "备份的数据库文件属于另一个话务台"));
    replaceClosed("switch.mdb", other);
    restartAnswering("不属于同一个话务台");
    EXPECT_EQ(remainOf(7), theirs);
    ASSERT_EQ(shownCount(), 1);
    call(3);
    EXPECT_EQ(remainOf(7), theirs);
}

// The journal as it ages: settled entries leave the call file (at the night's
// archive, or at an opening) for the journal file; a backup older than them
// is still brought up to the journal, each entry once, also when a kill left
// them in both files; past the keeping time they go, and the backup names
// what it lacks.
TEST_F(LedgerTest, AnAgingJournalLeavesTheCallFileAndOldBackupsStillFollowTheLedger) {
    const Currency opening = remainOf(7);
    const QString backup = backupNow();
    Currency ledger = opening - call(1) - call(2) - call(3);
    restart();   // the copies hold the entries; young, they stay
    EXPECT_EQ(logged("PhoneCur.mdb"), 3);
    now = now.addDays(10);
    billing::ArchiveBills();
    EXPECT_EQ(logged("PhoneCur.mdb"), 1);   // the last one stays
    EXPECT_EQ(logged(ModSwitch::kJournalFile), 2);
    ledger -= call(4);
    restart();
    EXPECT_EQ(logged("PhoneCur.mdb"), 1);
    EXPECT_EQ(logged(ModSwitch::kJournalFile), 3);
    QStringList lines = putBack(backup);
    EXPECT_EQ(remainOf(7), ledger) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.join('\n').contains("不存在")) << lines.join('\n').toStdString();

    // Killed between the two commits of a move: the entries are in both files.
    ModSwitch::OpenAllDB(false);
    {
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        cur.execute("ATTACH ? AS j", {dir->file(ModSwitch::kJournalFile)});
        cur.execute("INSERT INTO tab_chargelog SELECT * FROM j.tab_chargelog");
    }
    openDatabases();
    lines = putBack(backup);
    EXPECT_EQ(remainOf(7), ledger) << lines.join('\n').toStdString();
    restart();
    EXPECT_EQ(logged("PhoneCur.mdb"), 1);

    // The backup put in as it was (its recovery failed): the opening brings it up from both files.
    replaceClosed("switch.mdb", backup);
    restart();
    EXPECT_EQ(remainOf(7), ledger);

    // Past the keeping time the journal file lets them go: the backup names what it lacks.
    now = now.addDays(500);
    ledger -= call(5, now.date());
    restarts(2);
    EXPECT_EQ(logged(ModSwitch::kJournalFile), 0);
    lines = putBack(backup);
    const QString told = lines.join('\n');
    EXPECT_TRUE(holds(told, QStringLiteral("用户7 用户7：") + (ledger - remainOf(7)).toString2()));
    EXPECT_NE(remainOf(7), ledger);
}

// While the station file refuses the apply, a record's balance counts the
// charges waiting in the log; a garbled one among them (which the apply will
// refuse) is not counted either.
TEST_F(LedgerTest, AGarbledAmountWaitingInTheLogTakesNothingFromTheBalanceShown) {
    refuseApply();
    const Currency kept = call(1);
    call(2);
    call(3);
    const qint64 last = dbPhoneCur.scalar("SELECT max(f_seq) FROM tab_chargelog").toLongLong();
    dbPhoneCur.execute("UPDATE tab_chargelog SET f_amount=4000000000000000000 WHERE f_seq=?", {last - 1});
    dbPhoneCur.execute("UPDATE tab_chargelog SET f_amount=1234.5 WHERE f_seq=?", {last});
    EXPECT_EQ(ModSwitch::UnappliedCharges(7), kept);
    dbSwitch.execute("DROP TRIGGER refuse");
}

// A journal file that cannot be read: the backup put back names each user's
// difference, and that the journal file read in part.
TEST_F(LedgerTest, ADamagedJournalFileLeavesEachUsersDifferenceNamed) {
    const QString backup = backupNow();
    for (int m = 1; m <= 3; ++m) call(m);
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));   // the call file's copy no longer holds them either
    ASSERT_EQ(logged(ModSwitch::kJournalFile), 2);
    const Currency ledger = remainOf(7);
    writeClosed(ModSwitch::kJournalFile, 100);
    openDatabases();
    platform::script::answer("ChargeLog.mdb已损坏", platform::rOK);
    const QString told = putBack(backup).join('\n');
    EXPECT_TRUE(holdsAll(told, {QStringLiteral("用户7 用户7：") + (ledger - remainOf(7)).toString2(), QStringLiteral("ChargeLog.mdb只能部分读取")}));
    // The next opening sets the damaged file aside, names it and makes a new one.
    ASSERT_EQ(shownCount(), 1);
    EXPECT_TRUE(lastShown().contains("已另存为ChargeLog.mdb.damaged-"));
    EXPECT_EQ(QDir(dir->dataPath()).entryList({"ChargeLog.mdb.damaged-*"}).size(), 1);
    // None of what the damaged file held and no file gave back (the restore's
    // own entry, past the calls', lets the last call's settle there).
    EXPECT_EQ(inJournalFile("f_seq<=2"), 0);
}

// The station file's copy of the log keeps what the call file's safety copy
// lacks however old it is: a start whose copy of the call file failed (a full
// disk) leaves an older copy, and a call file put back from it later still
// gets every call and entry back.
TEST_F(LedgerTest, WhatTheCallFilesCopyLacksStaysInTheStationFileHoweverOld) {
    Currency spent = call(1) + call(2) + call(3);
    now = now.addDays(500);
    spent += call(4, now.date());
    platform::testing::setFaultHook([](const QString& op, const QString& path) {
        return op == "rename" && path.endsWith("PhoneCur.mdb.bak") ? ENOSPC : 0;
    });
    restartAnswering("PhoneCur.mdb的安全备份未能更新");
    platform::testing::setFaultHook(nullptr);
    EXPECT_EQ(logged("PhoneCur.mdb.bak"), 0);
    // The call file damaged: the start puts its older copy back.
    callFileFromItsCopy();
    restart();
    EXPECT_EQ(count("Tab_Phone"), 4);
    EXPECT_EQ(storedFees(), spent);
    EXPECT_EQ(logged("PhoneCur.mdb"), 4);
}

// The station file's safety copy older than the entries (it could not be
// renewed since): the settled entries it lacks stay in the call file, where a
// start that puts that copy back finds them, however old they grow.
TEST_F(LedgerTest, EntriesTheStationFilesCopyLacksStayInTheCallFile) {
    const Currency opening = remainOf(7);
    const QString oldCopy = dir->file("older-switch.mdb.bak");
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb.bak"), oldCopy));
    const Currency spent = call(1) + call(2) + call(3);
    restart();   // both copies take the entries
    replaceClosed("switch.mdb.bak", oldCopy);
    reopen();
    now = now.addDays(500);
    billing::ArchiveBills();
    EXPECT_EQ(logged("PhoneCur.mdb"), 3);
    // The station file damaged: the start puts the older copy back and brings it up to the log.
    writeClosed("switch.mdb");
    restartAnswering("已用备份switch.mdb.bak恢复");
    EXPECT_EQ(remainOf(7), opening - spent);
}

}  // namespace

// Entries waiting in numbers far apart and more than one read takes are
// applied each once, and the mark ends on the last.
TEST_F(LedgerTest, ManyEntriesWaitingFarApartAreEachAppliedOnce) {
    const Currency opening = remainOf(7);
    const qint64 first = ModSwitch::AppliedMark(dbSwitch) + 1;
    {
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < 600; ++i)
            dbPhoneCur.execute(QStringLiteral("INSERT INTO %1 (f_seq, f_kind, f_userid, f_amount, f_balance) VALUES (?, 0, 7, ?, 0)")
                                   .arg(dbPhoneCur.qualified("tab_chargelog")),
                               {first + qint64(i) * 1000, Currency::fromRaw(100)});
        tx.commit();
    }
    EXPECT_EQ(ModSwitch::ApplyLoggedCharges(), 600);
    EXPECT_EQ(remainOf(7), opening - Currency::fromRaw(600 * 100));
    EXPECT_EQ(ModSwitch::AppliedMark(dbSwitch), first + 599 * 1000);
    EXPECT_EQ(ModSwitch::ApplyLoggedCharges(), 0);
}

// The call file's log taken away and put back by another program between two
// calls: each call is stored, and logged whenever the log is there.
TEST_F(LedgerTest, ALogTakenAwayAndPutBackByAnotherProgramIsSeenAtTheNextCall) {
    const auto logged = [] {
        return dbPhoneCur.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(dbPhoneCur.qualified("tab_chargelog"))).toInt();
    };
    const auto record = [](int minute) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(11, minute, 0));
        r.seconds = 100;
        return ClsMonitor().Record(r.frame(), false);
    };
    ASSERT_TRUE(record(1));
    const int before = logged();
    Database other = Database::open(dbPhoneCur.path());
    other.execute("ALTER TABLE tab_chargelog RENAME TO tab_chargelog_away");
    EXPECT_TRUE(record(2));
    other.execute("ALTER TABLE tab_chargelog_away RENAME TO tab_chargelog");
    other.close();
    EXPECT_TRUE(record(3));
    EXPECT_EQ(logged(), before + 1);
}

// A user's number is never given twice: a user added and deleted, its entries
// let go by the keeping time, then the station file put back from a backup
// taken before that user (its counter older), and the call file from a copy as
// old: the next user gets a number of its own, and a backup holding the first user
// finds the second one apart from it.
TEST_F(LedgerTest, AUsersNumberIsNeverGivenAgainAfterItsEntriesAreGoneAndAnOlderCopyIsPutBack) {
    const QString before = dir->file("switch-before.mdb");
    ASSERT_TRUE(QFile::copy(backupNow(), before));
    const QString callsBefore = dir->file("calls-before.mdb");
    ASSERT_TRUE(QFile::copy(dir->file("PhoneCur.mdb"), callsBefore));
    auto addUser = [](const QString& name, int deposit) {
        const qint64 id = ModSwitch::NextUserCount();
        addUserNow(id, name, Currency::fromYuan(deposit), Currency::fromYuan(deposit));
        return id;
    };
    const qint64 first = addUser("甲", 60);
    const QString holdingFirst = backupNow();
    ModSwitch::MoveBalances([&] { ModSwitch::DeleteUserRows(dbSwitch, first); }, first);
    call(1);
    now = now.addDays(500);
    call(2, now.date());
    restart();
    restart();   // the entries of the user are gone from every file
    ASSERT_EQ(inJournalFile("f_userid=?", {first}), 0);
    for (const bool callFileLost : {false, true}) {
        SCOPED_TRACE(callFileLost ? "the call file put back from a copy as old" : "the station file put back");
        putBack(before);
        if (callFileLost) {
            replaceClosed("PhoneCur.mdb", callsBefore);
            restart();
        }
        EXPECT_GT(ModSwitch::NextUserCount(), first);
    }
    const qint64 second = addUser("乙", 51);
    EXPECT_GT(second, first);
    // The backup that holds the first user: the second one is no part of that row.
    putBack(holdingFirst);
    EXPECT_EQ(dbSwitch.scalar("SELECT username FROM user WHERE userid=?", {first}).toString(), "甲");
    EXPECT_EQ(depositOf(qint32(first)), Currency::fromYuan(60));
}

// A user added under a number the copy put back gives to someone else (the
// number given twice by a station that did not keep its numbers, the first
// user's deletion logged nowhere) is another person: nothing of theirs goes
// into that row, and the box names them with their money.
TEST_F(LedgerTest, AUserAddedUnderANumberTheCopyGivesToAnotherIsKeptApartAndNamed) {
    const qint64 n = ModSwitch::NextUserCount();
    auto add = [&](const char* name, int yuan) { addUserNow(n, name, Currency::fromYuan(yuan), Currency::fromYuan(yuan)); };
    add("甲", 60);
    const QString holding = dir->file("holding-first.mdb");
    ASSERT_TRUE(QFile::copy(backupNow(), holding));
    dbSwitch.execute("DELETE FROM user WHERE userid=?", {n});
    add("乙", 51);
    ModSwitch::MoveBalances([&] { dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=?", {Currency::fromYuan(20), n}); });
    const QString lines = putBack(holding).join('\n');
    EXPECT_EQ(dbSwitch.scalar("SELECT username FROM user WHERE userid=?", {n}).toString(), "甲");
    EXPECT_EQ(remainOf(qint32(n)), Currency::fromYuan(60)) << lines.toStdString();
    EXPECT_EQ(depositOf(qint32(n)), Currency::fromYuan(60)) << lines.toStdString();
    EXPECT_TRUE(holds(lines, QStringLiteral("用户%1 乙：余额71.00").arg(n)));
}

// The clock two years ahead of the newest entry for a session, then put
// right: the entry that session writes is dated by it and is no clock, so
// neither the starts while the clock stays ahead nor those after it is put
// right let go an entry a backup needs; the clock is named once, however many
// starts doubt it.
TEST_F(LedgerTest, AClockAheadForASessionThenPutRightLetsNoEntryGo) {
    const QString backup = backupNow();
    Currency ledger = remainOf(7);
    for (int m = 1; m <= 3; ++m) ledger -= call(m);
    restart();
    const QDateTime right = now;
    now = now.addDays(730);
    restartAnswering("晚一天以上");
    restart();
    ledger -= call(4, now.date());   // charged on the clock ahead
    restarts(2);
    now = right.addDays(1);
    restarts(2);
    EXPECT_EQ(logged("PhoneCur.mdb") + logged(ModSwitch::kJournalFile), 4);
    int told = 0;
    for (const auto& box : platform::script::shown()) told += box.text.contains("晚一天以上");
    EXPECT_EQ(told, 1);
    const QString lines = putBack(backup).join('\n');
    EXPECT_EQ(remainOf(7), ledger) << lines.toStdString();
    EXPECT_TRUE(lacks(lines, "不存在"));
}

// A station whose journal reaches back past the keeping time, a call every
// few weeks, quiet over a weekend: the Monday's start says nothing of the
// clock, and the journal keeps what the entries say is within the keeping
// time and nothing older.
TEST_F(LedgerTest, AQuietWeekendIsNoWrongClock) {
    const QDateTime monday = now;
    const QDate friday = monday.date().addDays(-3);
    QList<QDate> days;
    for (QDate d = monday.date().addDays(-440); d < monday.date().addDays(-10); d = d.addDays(20)) days << d;
    days << monday.date().addDays(-8) << friday;
    for (const QDate& d : days) {
        now = QDateTime(d, QTime(18, 0));
        call(1, d);
        restart();
    }
    now = monday;
    restarts(2);
    for (const auto& box : platform::script::shown()) EXPECT_TRUE(lacks(box.text, "晚一天以上"));
    const Database j = Database::openReadOnly(dir->file(ModSwitch::kJournalFile));
    ASSERT_GT(j.scalar("SELECT count(*) FROM tab_chargelog").toLongLong(), 0);
    EXPECT_GE(j.scalar("SELECT min(f_date) FROM tab_chargelog").toString(),
              QDateTime(friday.addDays(-400), QTime(0, 0)).toString("yyyy-MM-dd HH:mm:ss"));
}

// A station whose log an older release numbered without noting where (the
// release between), its station file of the release before that put back by
// hand with the station closed: placed by its own rows, it is brought up by
// every entry it lacks, the payment, the calls and a user added since
// included; its box outlives a kill while it stands.
TEST_F(LedgerTest, AnOldReleasesUnmarkedStationFilePutBackByHandIsPlacedByItsRows) {
    const Currency opening = remainOf(7);
    const Currency a = call(1);
    ModSwitch::OpenAllDB(false);
    ASSERT_TRUE(testsupport::makePreviousVersion(dir->dataPath()));
    const QString old = dir->file("old-switch.mdb");
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), old));
    openDatabases();
    ModSwitch::OpenSharedRecordsets();
    reopenRates();
    // Numbered by the release between, which wrote no note of it.
    dbPhoneCur.execute("DELETE FROM tab_notes WHERE varname='TarvoChargeNumbered'");
    restart();
    const Currency b = call(2);
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=7", {Currency::fromYuan(50)}); });
    const Currency c = call(3);
    addUserNow(9, "丙", Currency());
    restart();
    replaceClosed("switch.mdb", old);
    EXPECT_TRUE(testsupport::killedAtBox("落后于话单文件", [&] { restart(); }));
    restart();
    EXPECT_EQ(remainOf(7), opening - a - b + Currency::fromYuan(50) - c);
    ASSERT_EQ(shownCount(), 1);
    EXPECT_TRUE(holds(lastShown(), "用户9 丙"));
    restart();
    EXPECT_EQ(shownCount(), 1);
}

// A garbled amount in the log (a damaged page: out of reach, a real, a text)
// is applied to no one: the opening names each such entry with its user and
// goes on, the other entries applied; a kill while its box stands (the mark
// past them committed) leaves it for the next start. The smallest 64-bit
// whole number, as amount or as balance, is no amount the station wrote
// either: the balance stays a whole number; in the journal file it stops no
// start.
TEST_F(LedgerTest, TheSmallestWholeNumberInAnEntryIsRefusedEverywhere) {
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    const QString backup = dir->file("before-calls.mdb");
    ASSERT_TRUE(QFile::copy(backupNow(), backup));
    const Currency opening = remainOf(7);
    qint64 last = 0;
    const Currency kept = waitingCharges(7, &last);
    {
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        cur.execute("UPDATE tab_chargelog SET f_amount=4000000000000000000 WHERE f_seq=?", {last - 5});
        cur.execute("UPDATE tab_chargelog SET f_amount=1234.5 WHERE f_seq=?", {last - 4});
        cur.execute("UPDATE tab_chargelog SET f_amount='abc' WHERE f_seq=?", {last - 3});
        cur.execute("UPDATE tab_chargelog SET f_kind=3, f_amount=? WHERE f_seq=?", {kMin, last - 2});
        cur.execute("UPDATE tab_chargelog SET f_amount=? WHERE f_seq=?", {kMin, last - 1});
        cur.execute("UPDATE tab_chargelog SET f_balance=? WHERE f_seq=?", {kMin, last});
    }
    EXPECT_TRUE(testsupport::killedAtBox("计费记录已损坏", [&] { restart(); }));
    restart();
    EXPECT_EQ(remainOf(7), opening - kept);
    EXPECT_EQ(dbSwitch.scalar("SELECT typeof(remain) FROM user WHERE userid=7").toString(), "integer");
    ASSERT_EQ(shownCount(), 1);
    const QString text = lastShown();
    for (qint64 seq = last - 5; seq <= last; ++seq)
        EXPECT_TRUE(holds(text, QStringLiteral("第%1笔：用户7").arg(seq)));
    // Told once: the mark went past them.
    restart();
    EXPECT_EQ(shownCount(), 1);
    EXPECT_EQ(remainOf(7), opening - kept);

    // Moved to the journal file: named there once, as they arrive.
    now = now.addDays(10);
    restartAnswering("ChargeLog.mdb中以下记账记录已损坏");
    restart();
    ASSERT_GT(logged(ModSwitch::kJournalFile), 0);
    ASSERT_EQ(shownCount(), 2);
    EXPECT_TRUE(holds(lastShown(), QStringLiteral("第%1笔：用户7").arg(last - 2)));
    // The station file put in behind the journal file as it was: no start ends on it.
    ModSwitch::OpenAllDB(false);
    Database::open(dir->file(ModSwitch::kJournalFile))
        .execute("UPDATE tab_chargelog SET f_kind=3, f_amount=? WHERE f_seq=(SELECT min(f_seq) FROM tab_chargelog)", {kMin});
    replaceClosed("switch.mdb", backup);
    platform::script::answer("计费记录", platform::rOK);
    platform::script::answer("计费记录", platform::rOK);
    EXPECT_NO_THROW(restart());
    EXPECT_EQ(dbSwitch.scalar("SELECT typeof(remain) FROM user WHERE userid=7").toString(), "integer");
    EXPECT_EQ(platform::Currency::fromRaw(kMin).toString2(), "-922337203685477.58");
}

// Entries the check refuses (an amount stored as text, one past reach) are
// named one by one, with their user, kind and call, by both put-back roads:
// the station file put back from its safety copy at a start, and a backup put
// back. Each once, and none of them called a number that no longer exists.
TEST_F(LedgerTest, EntriesTheCheckRefusesAreNamedOneByOneWhenTheStationFileIsPutBack) {
    const QString backup = dir->file("before-calls.mdb");
    ASSERT_TRUE(QFile::copy(backupNow(), backup));
    for (int m = 1; m <= 4; ++m) call(m);
    ModSwitch::OpenAllDB(false);
    qint64 last = 0;
    {
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        last = cur.scalar("SELECT max(f_seq) FROM tab_chargelog").toLongLong();
        cur.execute("UPDATE tab_chargelog SET f_amount='abc' WHERE f_seq=?", {last - 1});
        cur.execute("UPDATE tab_chargelog SET f_amount=4611686018427387904 WHERE f_seq=?", {last});
        QFile f(dir->file("switch.mdb"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(int(f.size()), '\x5a'));
    }
    const QString line = QStringLiteral("第%1笔记账记录金额无效（用户7 用户7，话费，分机5 2026-06-15 09:0%2:00的话单，金额为%3）");
    const auto namesEach = [&](const QString& text) {
        EXPECT_EQ(text.count(line.arg(last - 1).arg(3).arg("abc")), 1) << text.toStdString();
        EXPECT_EQ(text.count(line.arg(last).arg(4).arg("4611686018427387904")), 1) << text.toStdString();
        EXPECT_TRUE(lacks(text, "已不存在"));
    };
    restartAnswering("已用备份switch.mdb.bak恢复");
    ASSERT_EQ(shownCount(), 1);
    namesEach(lastShown());
    namesEach(putBack(backup).join('\n'));
}

class JournalFileTest : public LedgerTest {
protected:
    void TearDown() override {
        platform::testing::setIntegrityCheckHook(nullptr);
        ModSwitch::testing::setRestoreStepHook(nullptr);
        LedgerTest::TearDown();
    }
    // The journal file, its entries by number and value, as they read.
    QStringList entries() {
        QStringList out;
        Database j = Database::openReadOnly(dir->file(ModSwitch::kJournalFile));
        for (platform::RowReader r = j.rows("SELECT f_seq, f_kind, f_userid, f_amount, f_balance FROM tab_chargelog ORDER BY f_seq");
             r.next();)
            out << QStringLiteral("%1 %2 %3 %4 %5").arg(r.integer(0)).arg(r.integer(1)).arg(r.integer(2)).arg(r.integer(3)).arg(r.integer(4));
        return out;
    }
    // Entries settled in the journal file alone: `calls` calls, moved after ten days, and a start more.
    QPair<qint64, qint64> settle(int calls = 3) {
        for (int m = 1; m <= calls; ++m) call(m % 60, QDate(2026, 6, 15).addDays(-(m / 60)));
        settleIntoJournalFile(false);   // the copies no longer hold them
        Database j = Database::openReadOnly(dir->file(ModSwitch::kJournalFile));
        return {j.scalar("SELECT min(f_seq) FROM tab_chargelog").toLongLong(), j.scalar("SELECT max(f_seq) FROM tab_chargelog").toLongLong()};
    }
    // The next start, its box holding `text` answered: the boxes shown by then.
    int startAnswering(const char* text) {
        restartAnswering(text);
        return int(shownCount());
    }
    int asideFiles() { return int(QDir(dir->dataPath()).entryList({"ChargeLog.mdb.damaged-*"}).size()); }
    // The first leaf of the journal file's log garbled: a start that reads only
    // the path to the last entry never meets it.
    void garbleFirstLeaf() {
        ModSwitch::OpenAllDB(false);
        Database j = Database::openReadOnly(dir->file(ModSwitch::kJournalFile));
        const qint64 size = j.scalar("PRAGMA page_size").toLongLong();
        ASSERT_GE(j.scalar("SELECT count(*) FROM dbstat WHERE name='tab_chargelog' AND pagetype='leaf'").toLongLong(), 3);
        const qint64 page =
            j.scalar("SELECT pageno FROM dbstat WHERE name='tab_chargelog' AND pagetype='leaf' ORDER BY path LIMIT 1").toLongLong();
        j.close();
        writeClosed(ModSwitch::kJournalFile, (page - 1) * size, QByteArray(int(size), '\x5a'));
    }
};

// A header lost whole (its first 100 bytes overwritten), every page after it
// intact: the entries are read from the pages, whose size they tell
// themselves, and nothing is named as lost. Garbled pages then: the file is
// set aside, and the entries they held are named; the rest read, and are kept.
TEST_F(JournalFileTest, AJournalFileWhoseHeaderIsLostWholeGivesBackEveryEntryFromItsPages) {
    const auto [first, last] = settle(400);
    const QStringList before = entries();
    ASSERT_GT(before.size(), 100);
    writeClosed(ModSwitch::kJournalFile, 0, QByteArray(100, '\0'));
    ASSERT_EQ(startAnswering("ChargeLog.mdb已损坏"), 1);
    EXPECT_TRUE(holdsAll(lastShown(), {QStringLiteral("从现有文件中找回%1笔").arg(before.size()), "没有缺少的记账记录"}));
    EXPECT_EQ(entries(), before);

    garbleFirstLeaf();
    ASSERT_EQ(startAnswering("ChargeLog.mdb已损坏"), 2);
    EXPECT_TRUE(holdsAll(lastShown(), {"已另存为ChargeLog.mdb.damaged-", QStringLiteral("第%1至").arg(first), "已结清的记账记录（共"}));
    EXPECT_EQ(asideFiles(), 2);
    const QStringList after = entries();
    EXPECT_FALSE(after.isEmpty());
    EXPECT_TRUE(after.last().startsWith(QString::number(last) + ' '));
    restart();
    EXPECT_EQ(shownCount(), 2);
}

// Pages gone bad since the journal file last passed its check, its state
// unchanged (the disk's doing): the move that meets them says so, and the
// next start checks the file whatever its state and sets it aside, as it said.
TEST_F(JournalFileTest, DamageAMoveMeetsInAFileKnownSoundIsCheckedAtTheNextStart) {
    settle(400);
    for (int m = 30; m <= 32; ++m) call(m, now.date());
    now = now.addDays(10);
    call(40, now.date());   // a young entry: the move lets old ones go, reading the file from its start
    const QString path = dir->file(ModSwitch::kJournalFile);
    garbleFirstLeaf();
    // As if the station had checked it in this state.
    Database::open(dir->file("PhoneCur.mdb"))
        .execute("UPDATE tab_notes SET value=? WHERE varname='TarvoJournalChecked'",
                 {QString::fromLatin1(platform::fileIdentity(path).toHex())});
    ASSERT_EQ(startAnswering("ChargeLog.mdb无法写入（文件已损坏）"), 1);
    EXPECT_TRUE(holds(lastShown(), "下次启动时将另存该文件并重新建立"));
    ASSERT_EQ(startAnswering("ChargeLog.mdb已损坏"), 2);
    EXPECT_EQ(asideFiles(), 1);
}

// The journal file is a station file like the two others: it carries the
// station's name; deleted, or another station's, it is named at the next
// opening and made again (another station's set aside, never read as ours).
// Deleted, the loss of its history is named by number, not only that the
// file was missing.
TEST_F(JournalFileTest, AJournalFileDeletedOrOfAnotherStationIsNamedAndMadeAgain) {
    const auto [first, last] = settle();
    const auto nameOf = [&](const QString& file) {
        return Database::openReadOnly(dir->file(file))
            .scalar("SELECT value FROM tab_notes WHERE varname=?", {ModSwitch::kStationId})
            .toString();
    };
    const QString station = nameOf("PhoneCur.mdb");
    EXPECT_EQ(nameOf(ModSwitch::kJournalFile), station);

    ModSwitch::OpenAllDB(false);
    QFile::remove(dir->file(ModSwitch::kJournalFile));
    ASSERT_EQ(startAnswering("ChargeLog.mdb不见了"), 1);
    EXPECT_TRUE(holds(lastShown(), QStringLiteral("已重新建立该文件，从现有文件中找回0笔已结清的记账记录。"
                                                  "第%1至%2笔已结清的记账记录（共%3笔）无法找回：它们早已计入用户余额")
                                     .arg(first).arg(last).arg(last - first + 1)));
    EXPECT_TRUE(lacks(lastShown(), "未计入用户余额"));
    EXPECT_EQ(nameOf(ModSwitch::kJournalFile), station);

    ModSwitch::OpenAllDB(false);
    Database::open(dir->file(ModSwitch::kJournalFile))
        .execute("UPDATE tab_notes SET value='another' WHERE varname=?", {ModSwitch::kStationId});
    ASSERT_EQ(startAnswering("ChargeLog.mdb属于另一个话务台"), 2);
    EXPECT_EQ(asideFiles(), 1);
    EXPECT_EQ(nameOf(ModSwitch::kJournalFile), station);
    restart();   // said once
    EXPECT_EQ(shownCount(), 2);
}

// The start pays for the journal file's check only when the file changed
// since its pages last passed: not after the station's own moves and notes
// into it, nor for a copy of the data directory, but after another program
// wrote it.
TEST_F(JournalFileTest, TheJournalFilesPagesAreCheckedOnlyWhenItChangedSinceTheyLastPassed) {
    settle();
    QStringList checked;   // the files whose pages a start checks, from now on
    platform::testing::setIntegrityCheckHook([&checked](const QString& path) { checked << QFileInfo(path).fileName(); });
    for (int m = 20; m <= 22; ++m) call(m, now.date());
    now = now.addDays(10);
    restart();
    restart();   // entries moved in at both
    const qint64 n = ModSwitch::NextUserCount();
    ModSwitch::MoveBalances([&] { dbSwitch.execute("INSERT INTO user (userid, username) VALUES (?, '新')", {n}); });
    restart();
    EXPECT_FALSE(checked.contains(ModSwitch::kJournalFile)) << checked.join(' ').toStdString();
    ModSwitch::OpenAllDB(false);
    Database::open(dir->file(ModSwitch::kJournalFile)).execute("INSERT INTO tab_notes (varname, value) VALUES ('x', 'y')");
    restart();
    EXPECT_EQ(checked.count(ModSwitch::kJournalFile), 1) << checked.join(' ').toStdString();
    // The data directory copied whole with its times (every file under another
    // inode): the journal file, its state noted when it last passed, and the
    // safety copies, checked as they stand, are not checked again for where
    // they now lie.
    checked.clear();
    const qsizetype shown = shownCount();
    ModSwitch::OpenAllDB(false);
    testsupport::copyDataDirKeepingTimes(dir->dataPath());
    if (HasFatalFailure()) return;
    restart();
    for (const QString& name : {ModSwitch::kJournalFile, QStringLiteral("switch.mdb.bak"), QStringLiteral("PhoneCur.mdb.bak")})
        EXPECT_FALSE(checked.contains(name, Qt::CaseInsensitive)) << checked.join(' ').toStdString();
    EXPECT_EQ(shownCount(), shown);
}

// A move a kill cut short leaves the journal file with a hot journal beside
// it (pages written past what its header counts): the opening rolls it back
// and finds the file sound, not damaged.
TEST_F(JournalFileTest, AJournalFileAKillLeftInTheMiddleOfAMoveIsRolledBackNotSetAside) {
    settle();
    const QStringList before = entries();
    const QString path = dir->file(ModSwitch::kJournalFile);
    ModSwitch::OpenAllDB(false);
    {
        Database j = Database::open(path);
        j.execute("PRAGMA cache_size=1");   // the pages spill to the file before the commit
        platform::Transaction tx(j);
        for (int i = 0; i < 2000; ++i)
            j.execute("INSERT INTO tab_chargelog (f_seq, f_kind, f_userid, f_amount, f_balance) VALUES (?, 5, 0, 0, 0)",
                      {1000000 + i});
        ASSERT_GT(QFileInfo(path + "-journal").size(), 0);
        // The state a kill leaves: the file and its journal as they stand now.
        ASSERT_TRUE(QFile::copy(path, path + ".killed"));
        ASSERT_TRUE(QFile::copy(path + "-journal", path + ".killed-journal"));
    }
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(path + ".killed", path));
    ASSERT_TRUE(QFile::rename(path + ".killed-journal", path + "-journal"));
    restart();
    EXPECT_EQ(shownCount(), 0) << lastShown().toStdString();
    EXPECT_EQ(asideFiles(), 0);
    EXPECT_EQ(entries(), before);
}

// A journal file the station cannot write (read-only, even to root; held by
// another program) is named once by its cause, with the advice that cause
// needs: not damaged, not set aside; the entries stay in the call file and
// move once it can be written again.
TEST_F(JournalFileTest, AJournalFileThatCannotBeWrittenIsNamedByItsCauseOnce) {
    settle();
    const QString path = dir->file(ModSwitch::kJournalFile);
    const int moved = int(entries().size());
    for (int m = 10; m <= 12; ++m) call(m, now.date());
    ModSwitch::OpenAllDB(false);
    struct Immutable {
        int fd = -1, flags = 0;
        bool on = false;
        ~Immutable() {
            if (on) ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            if (fd >= 0) ::close(fd);
        }
    } guard;
    guard.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ASSERT_GE(guard.fd, 0);
    if (::ioctl(guard.fd, FS_IOC_GETFLAGS, &guard.flags) != 0) GTEST_SKIP() << "no file attributes here";
    const int immutable = guard.flags | FS_IMMUTABLE_FL;
    if (::ioctl(guard.fd, FS_IOC_SETFLAGS, &immutable) != 0) GTEST_SKIP() << "immutable files need a right this run lacks";
    guard.on = true;
    now = now.addDays(10);
    restartAnswering("ChargeLog.mdb无法写入");
    restart();
    ASSERT_EQ(shownCount(), 1);
    EXPECT_TRUE(holdsAll(lastShown(), {"（文件或文件夹为只读，没有写入权限）", "请检查该文件的只读属性"}));
    EXPECT_TRUE(lacksAll(lastShown(), {"损坏", "磁盘空间"}));
    EXPECT_EQ(asideFiles(), 0);
    EXPECT_EQ(int(entries().size()), moved);
    EXPECT_GE(logged("PhoneCur.mdb"), 3);
    ::ioctl(guard.fd, FS_IOC_SETFLAGS, &guard.flags);
    guard.on = false;

    // Held by another program: its cause, and the advice for it.
    Database other = Database::open(path);
    other.execute("BEGIN IMMEDIATE");
    ASSERT_EQ(startAnswering("ChargeLog.mdb无法写入"), 2);
    EXPECT_TRUE(holdsAll(lastShown(), {"（文件被其他程序占用）", "请关闭正在使用该文件的其他程序"}));
    EXPECT_TRUE(lacksAll(lastShown(), {"损坏", "磁盘空间"}));
    other.execute("ROLLBACK");
    other.close();
    restart();
    EXPECT_EQ(shownCount(), 2);
    EXPECT_GT(int(entries().size()), moved);
    EXPECT_EQ(asideFiles(), 0);
}

// The states a kill leaves in the journal file's rebuild, made by hand: just
// after the damaged file was set aside (no file), or at the new file's first
// sync (the fill rolled back: an empty file). Every entry is back from the
// set-aside file, and the box says so, naming it; nothing is said lost.
TEST_F(JournalFileTest, AJournalFileLeftEmptyOrGoneAfterItsSetAsideGetsEveryEntryBackFromTheSetAsideFile) {
    settle();
    const QStringList before = entries();
    ASSERT_FALSE(before.isEmpty());
    const QString path = dir->file(ModSwitch::kJournalFile);
    for (const bool empty : {true, false}) {
        SCOPED_TRACE(empty ? "an empty file" : "no file");
        ModSwitch::OpenAllDB(false);
        const QString aside = path + (empty ? ".damaged-20260101-000000" : ".damaged-20260101-000001");
        ASSERT_TRUE(QFile::rename(path, aside));
        if (empty) QFile(path).open(QIODevice::WriteOnly);
        freshPrompts("ChargeLog.mdb");
        restart();
        ASSERT_EQ(shownCount(), 1);
        EXPECT_TRUE(holdsAll(lastShown(), {QFileInfo(aside).fileName(), "没有缺少的记账记录"}));
        EXPECT_TRUE(lacks(lastShown(), "无法找回"));
        EXPECT_EQ(entries(), before);
        restart();   // read back once: nothing more to say
        EXPECT_EQ(shownCount(), 1);
    }
}

// An older copy of the journal file put in its place (or one a file system
// gave back short) lacks what the call file says was moved into it: a loss,
// named at the next opening, not taken for the journal.
TEST_F(JournalFileTest, AnOlderCopyOfTheJournalFileIsNamedAsLackingTheEntriesMovedSince) {
    settle();
    const QString path = dir->file(ModSwitch::kJournalFile);
    ModSwitch::OpenAllDB(false);
    ASSERT_TRUE(QFile::copy(path, path + ".older"));
    openDatabases();
    ModSwitch::OpenSharedRecordsets();
    for (int m = 30; m <= 32; ++m) call(m, now.date());
    now = now.addDays(10);
    restarts(3);
    const QStringList all = entries();
    ModSwitch::OpenAllDB(false);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(path + ".older", path));
    ASSERT_LT(entries().size(), all.size());
    ASSERT_EQ(startAnswering("ChargeLog.mdb缺少已移入的记账记录"), 1);
    EXPECT_TRUE(holds(lastShown(), "已另存为ChargeLog.mdb.damaged-"));
    // The older file's entries are kept; what the last moves held is named.
    EXPECT_TRUE(holds(lastShown(), "无法找回"));
    EXPECT_TRUE(entries().first() == all.first()) << entries().first().toStdString();
    restart();
    EXPECT_EQ(shownCount(), 1);

    // One that lost only its newest entry (the disk gave back its last write short) lacks it too.
    const qint64 newest = Database::openReadOnly(path).scalar("SELECT max(f_seq) FROM tab_chargelog").toLongLong();
    ModSwitch::OpenAllDB(false);
    Database::open(path).execute("DELETE FROM tab_chargelog WHERE f_seq=?", {newest});
    ASSERT_EQ(startAnswering("ChargeLog.mdb缺少已移入的记账记录"), 2);
    EXPECT_TRUE(holds(lastShown(), "无法找回"));
}

// A disk error inside the rebuild (the new file's fill written but not
// committed) says the entries wait in the set-aside file (not in the call
// file), and the next start brings them back from it, naming it. A kill at
// the same point is one of the journal's rebuild's kill walk.
TEST_F(JournalFileTest, ADiskErrorInsideTheRebuildLosesNoEntryAndIsToldTruly) {
    settle();
    const QStringList before = entries();
    writeClosed(ModSwitch::kJournalFile, 18, QByteArray(1, '\x03'));
    ModSwitch::testing::setRestoreStepHook([](const QString& at) {
        if (at == QLatin1String("journal-filled")) throw platform::DbError(10, "disk I/O error");
    });
    freshPrompts("重新建立该文件失败");
    restart();
    ModSwitch::testing::setRestoreStepHook(nullptr);
    ASSERT_EQ(shownCount(), 1);
    EXPECT_TRUE(holds(lastShown(), "保存在另存的文件ChargeLog.mdb.damaged-"));
    EXPECT_TRUE(lacks(lastShown(), "保留在话单文件中"));
    ASSERT_EQ(startAnswering("ChargeLog.mdb"), 2);
    EXPECT_TRUE(holdsAll(lastShown(), {"ChargeLog.mdb.damaged-", "没有缺少的记账记录"}));
    EXPECT_EQ(entries(), before);
    restart();
    EXPECT_EQ(shownCount(), 2);
}

// A journal written before numbers were kept may add a user under a number a
// file put back holds for someone else: told apart from a user deleted and
// added again, and from a number the file does not hold.
TEST_F(LedgerTest, ANumberGivenTwiceIsToldFromAUserDeletedAndAddedAgain) {
    dbSwitch.execute("INSERT INTO user (userid, username) VALUES (8, '甲'), (9, '乙')");
    const auto entry = [](qint64 seq, ModSwitch::LogKind kind, qint64 user) {
        ModSwitch::LogEntry e;
        e.seq = seq;
        e.kind = int(kind);
        e.userid = user;
        return e;
    };
    using K = ModSwitch::LogKind;
    const QList<ModSwitch::LogEntry> log{entry(3, K::UserAdded, 7),   entry(11, K::UserAdded, 8),
                                         entry(12, K::UserDeleted, 9), entry(13, K::UserAdded, 9),
                                         entry(14, K::UserAdded, 10)};
    EXPECT_EQ(ModSwitch::NumbersGivenTwice(dbSwitch, log, 10), QSet<qint64>{8});
}

// A station file behind the journal gets back every kind of entry in number
// order at the opening: the user added since comes back with their row, the
// balance and the deposit their entries give, the user deleted since goes
// again, the charges are applied; the operator is told what was brought back.
// The box is kept in the replay's own commit: a kill while it is up leaves
// it for the next start, which has nothing left to replay and shows it once.
TEST_F(LedgerTest, AStationFileBehindTheJournalGetsBackUsersAddedAndDeletedAtTheOpening) {
    const Currency opening = remainOf(7);
    addUserNow(8, "乙", Currency::fromRaw(299701));
    restart();   // the safety copy holds users 7 and 8
    ModSwitch::MoveBalances([] {
        dbSwitch.execute("INSERT INTO user (userid, username, deptname, remain, deposit) VALUES (9, '丙', '前台', 100000, 289100)");
    });
    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 8); }, 8);
    const Currency fee = call(1);
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET remain=remain+5000 WHERE userid=9"); }, 9);
    replaceClosed("switch.mdb", dir->file("switch.mdb.bak"));   // by hand, the station closed
    EXPECT_TRUE(testsupport::killedAtBox("落后于话单文件", [&] { restart(); }));
    restart();
    EXPECT_EQ(remainOf(7), opening - fee);
    EXPECT_EQ(remainOf(9), yuan("10.50"));
    EXPECT_EQ(depositOf(9), yuan("28.91"));
    EXPECT_EQ(dbSwitch.scalar("SELECT username || deptname FROM user WHERE userid=9").toString(), "丙前台");
    EXPECT_TRUE(dbSwitch.scalar("SELECT 1 FROM user WHERE userid=8").isNull());
    ASSERT_EQ(shownCount(), 1);
    const QString text = lastShown();
    EXPECT_TRUE(holdsAll(text, {"已按记账记录重新加入（备份之后为其指定的分机请重新核对）：\n用户9 丙", "已再次删除：\n用户8 乙"}));
    // Once: the mark went past them, and nothing is applied twice.
    restart();
    EXPECT_EQ(shownCount(), 1);
    EXPECT_EQ(remainOf(9), yuan("10.50"));
    EXPECT_EQ(depositOf(9), yuan("28.91"));
    EXPECT_EQ(remainOf(7), opening - fee);
}

// 数据库管理's restore stopped right after the recovered file replaced the
// station file, or cut at the recovery and its completion cut there again,
// then completed, the entries since the backup lost with the log and the
// station file's copy of them: each user's difference (which only the file
// replaced could tell) is named with its amount, and the box's groups of
// lines are each kept once.
class RestoreStopTest : public LedgerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RestoreStopTest, WhatARestoreFoundIsToldOnceAfterItStopped) {
    const QString step = GetParam();
    addUserNow(8, "乙", yuan("25.00"));
    const QString backup = backupNow();
    const Currency c = call(1);
    const qint64 lost = ModSwitch::AppliedMark(dbSwitch);
    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 8); }, 8);
    loseEntries(lost, std::numeric_limits<qint64>::max(), true);
    restoreKilledAt(backupFolder(backup), GetParam());
    if (step == "recovered") {
        admin::testing::setRestoreHook([](const QString& p) {
            if (p == "recovered") throw std::runtime_error("killed");
        });
        EXPECT_THROW(admin::CompleteRestore(dir->file("")), std::runtime_error);
        admin::testing::setRestoreHook(nullptr);
    }
    admin::CompleteRestore(dir->file(""));   // the next opening
    QStringList lines;
    ASSERT_TRUE(admin::RestoreNotice(dir->file(""), &lines));
    const QString text = lines.join('\n');
    EXPECT_EQ(text.count(QStringLiteral("用户7 用户7：-%1").arg(c.toString2())), 1) << text.toStdString();
    EXPECT_EQ(text.count("差额无法找回"), 1) << text.toStdString();
    EXPECT_TRUE(holds(text, QStringLiteral("以下用户的余额或押金与恢复前不同，差额无法找回：\n用户7 用户7：-%1\n"
                                           "用户8 乙：余额25.00（恢复前已没有此用户）")
                                .arg(c.toString2())));
    if (step == "recovered") {
        EXPECT_EQ(text.count("用户8 乙"), 1) << text.toStdString();
        EXPECT_TRUE(lacks(text, "请核对"));
    }
    openDatabases();
}

INSTANTIATE_TEST_SUITE_P(Steps, RestoreStopTest, ::testing::Values("renamed", "recovered"));

// The call file lost with the station closed: put back from its copy, its box
// says the calls since come back when the station file keeps them all (and
// they do), and says they are lost only when it does not.
TEST_F(LedgerTest, ALostCallFileIsToldLostCallsOnlyWhenTheStationFileLacksThem) {
    for (const bool mirrorLost : {false, true}) {
        SCOPED_TRACE(mirrorLost ? "the station file's copy of the log lost" : "the station file keeps it");
        restart();
        const qint64 before = count("Tab_Phone");
        call(mirrorLost ? 3 : 1);
        call(mirrorLost ? 4 : 2);
        ModSwitch::OpenAllDB(false);
        if (mirrorLost) Database::open(dir->file("switch.mdb")).execute("DELETE FROM tab_chargemirror");
        const QString cur = dir->file("PhoneCur.mdb");
        for (const char* side : {"-wal", "-shm"}) QFile::remove(cur + side);
        ASSERT_TRUE(QFile::remove(cur));
        freshPrompts("不存在");
        ModSwitch::CompactDB(QStringLiteral("PhoneCur.mdb"));
        ASSERT_EQ(shownCount(), 1);
        const QString text = lastShown();
        EXPECT_EQ(text.contains("备份之后存储的话单无法找回。"), mirrorLost) << text.toStdString();
        EXPECT_EQ(text.contains("备份之后存储的话单由数据库文件switch.mdb保存，打开时找回。"), !mirrorLost) << text.toStdString();
        freshPrompts("");
        reopen();
        if (!mirrorLost) {
            EXPECT_EQ(count("Tab_Phone"), before + 2);
        }
    }
}

// Both files lost before one start, the journal file's header damaged too:
// the station file's header zeroed, the call file deleted. Both are put back
// from their copies, the journal file made again from its pages; the calls
// answered since are in the call file afterwards, each once, their charges
// once, and stay there over the starts after it; no entry lost its date.
TEST_F(LedgerTest, CallsAnsweredSinceTheCopiesComeBackOnceWhenBothFilesAreLostBeforeOneStart) {
    call(1);
    call(2);
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));   // the log keeps its last
    const QString journal = dir->file(ModSwitch::kJournalFile);
    ASSERT_TRUE(QFileInfo::exists(journal));
    const qint64 before = count("Tab_Phone");
    for (int m = 1; m <= 5; ++m) call(m, now.date());
    const Currency balance = remainOf(7);
    ModSwitch::OpenAllDB(false);
    for (const QString& f : {dir->file("switch.mdb"), journal}) {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(100, '\0'));
    }
    const QString cur = dir->file("PhoneCur.mdb");
    for (const char* side : {"", "-wal", "-shm"}) QFile::remove(cur + side);
    platform::script::answer("已用备份switch.mdb.bak恢复", platform::rOK);
    platform::script::answer("不存在", platform::rOK);
    platform::script::answer("已重新建立该文件", platform::rOK);
    for (int k = 0; k < 3; ++k) {
        restart();
        ASSERT_EQ(platform::script::pendingAnswers(), 0);
        EXPECT_EQ(count("Tab_Phone"), before + 5) << "start " << k;
        EXPECT_EQ(dbPhoneCur.scalar(QStringLiteral("SELECT count(DISTINCT f_calladdr || f_date) FROM %1")
                                        .arg(dbPhoneCur.qualified("Tab_Phone")))
                      .toLongLong(),
                  before + 5);
        EXPECT_EQ(remainOf(7), balance);
        EXPECT_EQ(ModSwitch::BalanceOf(7), balance);
    }
    EXPECT_EQ(inJournalFile("f_date IS NULL"), 0);
}

// A backup the release before the numbered journal made while the station
// ran, a call made after it under the same copy number, the upgrade, then the
// call file's log pages lost and the backup put back by hand: its copy number
// is what it holds, not the number the start gives its next copy, so that call
// is charged from its entry; the calls whose entries went are named.
TEST_F(LedgerTest, AnOlderReleasesBackupPutBackByHandIsChargedWhatCameAfterItUnderItsNumber) {
    call(1);
    restart();
    const QString older = olderStationFile();
    call(4);   // as that release made it, under the backup's copy number
    ModSwitch::OpenAllDB(false);
    ASSERT_TRUE(testsupport::makePreviousVersion(dir->dataPath()));
    restart();
    const Currency fees = call(2) + call(3);
    const Currency ledger = remainOf(7);
    const QString text = startBesideLostLogPages(older);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(remainOf(7) - fees, ledger) << text.toStdString();
    EXPECT_TRUE(holds(text, notCharged(fees)));
}

// A backup recovered on a copy (数据库管理, no station file to replace)
// beside a call file whose log lost the entries since it: the calls whose
// entries are gone are named for their user, with how many and what they
// cost. Without a start between the first call and the backup, only the
// backup's own record of what it applied tells which calls came since; with
// the call file's copy lost too, nothing tells, and every call no entry
// charged is named as such; a log that reads whole but lacks the last entry
// is named as read in part.
namespace {
enum class LostFrom { LogPages, LogPagesAndCopy, LastEntry };
struct LostEntries {
    bool copiedFirst;   // a start between the first call and the backup
    LostFrom lost;
};
class LostLogTest : public LedgerTest, public ::testing::WithParamInterface<LostEntries> {};
}  // namespace

TEST_P(LostLogTest, CallsWhoseEntriesAreLostAreNamedWithWhatTheyCost) {
    const auto [copiedFirst, lost] = GetParam();
    const Currency first = call(1);
    if (copiedFirst) restart();   // the call file's copy holds its entry; the station file's record lets go of it
    const QString backup = backupNow();
    const Currency second = call(2);
    const Currency third = call(3);
    if (lost == LostFrom::LastEntry) {
        ModSwitch::OpenAllDB(false);
        Database::open(dir->file("PhoneCur.mdb")).execute("DELETE FROM tab_chargelog WHERE f_seq=(SELECT max(f_seq) FROM tab_chargelog)");
    } else {
        ASSERT_NO_FATAL_FAILURE(overwriteLogPages());
        if (lost == LostFrom::LogPagesAndCopy) QFile::remove(dir->file("PhoneCur.mdb.bak"));
    }
    const QString text = recoverOnACopy(backup);
    QStringList told;
    if (lost == LostFrom::LogPages) told << notCharged(second + third);
    if (lost == LostFrom::LogPagesAndCopy)
        told << QStringLiteral("以下话单的计费记录无法读取，无法确定其话费是否已计入用户余额，请核对：\n用户7 用户7：3张，共%1元")
                    .arg((first + second + third).toString2());
    if (lost == LostFrom::LastEntry) told << "话单文件的计费记录只能部分读取" << QStringLiteral("用户7 用户7：1张，共%1元").arg(third.toString2());
    if (!copiedFirst) told << "话单文件的计费记录只能部分读取" << "无法全部找回";
    EXPECT_TRUE(holdsAll(text, told));
}

INSTANTIATE_TEST_SUITE_P(Lost, LostLogTest,
                         ::testing::Values(LostEntries{true, LostFrom::LogPages}, LostEntries{false, LostFrom::LogPages},
                                           LostEntries{true, LostFrom::LogPagesAndCopy}, LostEntries{true, LostFrom::LastEntry}));
