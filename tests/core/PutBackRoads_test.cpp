// A station file put back on the roads an operator takes (the start that
// finds it damaged and puts back its safety copy, 数据库管理's restore): each
// case is one small difference between what the files hold and what the
// journal says, and checks that the balances, the users and the box come out
// as the journal gives them, no more and no less.
#include "support/Holds.h"
#include "support/Fixtures.h"
#include "support/PricingFixture.h"

#include "admin/Restore.h"
#include "core/books/ChargeLog.h"
#include "core/books/SafetyCopies.h"
#include "core/StationFiles.h"
#include "params/TableViews.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

using namespace pricingtest;
using testsupport::holds, testsupport::lacks;
using platform::Database;
namespace script = platform::script;

namespace {

class PutBackRoads : public BooksTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        localCaller("100.00", 1);
        addUser(8, "30.00", 1);
        setExtensionUser(6, 8);
        restart();   // the safety copy holds users 7 and 8
    }
    Currency call(int ext, int minute) {
        const Currency before = ModSwitch::BalanceOf(ext == 5 ? 7 : 8);
        EXPECT_TRUE(callAt(minute, ext));
        return before - ModSwitch::BalanceOf(ext == 5 ? 7 : 8);
    }
    bool hasUser(qint32 userid) { return !dbSwitch.scalar("SELECT 1 FROM user WHERE userid=?", {userid}).isNull(); }
    void deleteUserNow(qint32 userid) {
        ModSwitch::MoveBalances([userid] { ModSwitch::DeleteUserRows(dbSwitch, userid); }, userid);
    }
    // A payment into the balance, as an entry of the journal.
    void payNow(qint32 userid, const char* amount) {
        ModSwitch::MoveBalances([&] { dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=?", {yuan(amount), userid}); },
                                userid);
    }
    void moveDepositNow(qint32 userid, const char* by) {
        ModSwitch::MoveBalances([&] { dbSwitch.execute("UPDATE user SET deposit=deposit+? WHERE userid=?", {yuan(by), userid}); },
                                userid);
    }
    // The root page of `table` in the closed station file overwritten.
    void overwritePageOf(const char* table) {
        Database db = Database::open(dir->file("switch.mdb"));
        const int pageSize = db.scalar("PRAGMA page_size").toInt();
        const int page = db.scalar("SELECT rootpage FROM sqlite_master WHERE name=?", {QString::fromLatin1(table)}).toInt();
        db.close();
        writeClosed("switch.mdb", qint64(page - 1) * pageSize, QByteArray(pageSize, '\x5a'));
    }
    // The next start finds the station file damaged and puts back its
    // safety copy; the box it shows.
    QString startAfterDamage() {
        const qsizetype shown = script::shown().size();
        script::answer("已用备份switch.mdb.bak恢复", platform::rOK);
        restart();
        EXPECT_EQ(script::shown().size(), shown + 1);
        return script::shown().size() > shown ? script::shown()[shown].text : QString();
    }
    // A backup of the station file in its folder, then a payment (52.05)
    // whose entry the log loses; returns the backup's folder.
    QString backupThenAPaymentWithItsEntryLost() {
        call(5, 1);
        const QString backup = keepStationFile("backup.mdb");
        const qint64 mark = ModSwitch::AppliedMark(dbSwitch);
        payNow(7, "52.05");
        loseEntries(mark + 1, mark + 1);
        return backupFolder(backup);
    }
    // 数据库管理 puts the backup of `folder` back; the lines of its box after "数据恢复成功".
    QString restoreByManager(const QString& folder) {
        ModSwitch::OpenAllDB(false);
        QString failed;
        EXPECT_TRUE(admin::ReplaceFiles(admin::RestorePairs(folder, dir->dataPath(), true, false), &failed))
            << failed.toStdString();
        QStringList lines;
        admin::RestoreNotice(dir->dataPath(), &lines);
        admin::ForgetRestoreNotice(dir->dataPath());
        reopen();
        return lines.join('\n');
    }
    // A call of user 7 whose entry is then lost with the log's pages.
    Currency callWithItsEntryLost(int minute) {
        const Currency fee = call(5, minute);
        const qint64 seq =
            dbPhoneCur.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(dbPhoneCur.qualified("tab_chargelog"))).toLongLong();
        loseEntries(seq, seq);
        return fee;
    }
    // The station file overwritten whole (no page of it reads), the station closed.
    void stationFileUnreadable() {
        writeClosed("switch.mdb");
        for (const char* side : {"-wal", "-shm"}) QFile::remove(dir->file("switch.mdb") + side);
    }
    // A start that cannot renew the safety copy `copy` (a full disk).
    void restartKeepingTheOlder(const char* copy) {
        const QString name = QString::fromLatin1(copy);
        platform::testing::setFaultHook([name](const QString& op, const QString& path) {
            return op == "rename" && path.endsWith(name) ? ENOSPC : 0;
        });
        script::answer("的安全备份未能更新", platform::rOK);
        restart();
        platform::testing::setFaultHook(nullptr);
        ASSERT_EQ(script::pendingAnswers(), 0);
    }
};

const char* const kNotCharged = "以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n用户7 用户7：1张，共%1元";
const char* const kMaybeCharged = "以下话单的计费记录无法读取，无法确定其话费是否已计入用户余额，请核对：\n用户7 用户7：1张，共%1元";

}  // namespace

// A damaged station file whose mark cannot be read, behind the journal by
// one act only, every balance as the journal ends: it is no current file,
// and the act is not lost with it. A user added since comes back from their
// entry (the file lacks a row the journal gives).
enum class OneAct { UserDeleted, DepositMoved, UserAdded };
class BehindByOneAct : public PutBackRoads, public ::testing::WithParamInterface<OneAct> {};

TEST_P(BehindByOneAct, ADamagedFileBehindTheJournalOnlyByItIsNotTakenForCurrent) {
    const Currency fee = call(5, 1);
    const QString older = keepStationFile("older.mdb");
    if (GetParam() == OneAct::UserDeleted) deleteUserNow(8);
    if (GetParam() == OneAct::DepositMoved) moveDepositNow(7, "43.00");
    if (GetParam() == OneAct::UserAdded)
        ModSwitch::MoveBalances([] {
            dbSwitch.execute("INSERT INTO user (userid, username, balancemode, remain) VALUES (9, '丙', 1, 200000)");
        });
    // The station file replaced by the older one with its mark's page (its
    // Variant table's) overwritten, its write-ahead log lost.
    replaceClosed("switch.mdb", older);
    ASSERT_NO_FATAL_FAILURE(overwritePageOf("Variant"));
    const QString text = startAfterDamage();
    EXPECT_EQ(remainOf(7), yuan("100.00") - fee) << text.toStdString();
    EXPECT_EQ(hasUser(8), GetParam() != OneAct::UserDeleted) << text.toStdString();
    EXPECT_EQ(text.contains("已再次删除：\n用户8 用户8"), GetParam() == OneAct::UserDeleted) << text.toStdString();
    EXPECT_EQ(depositOf(7), GetParam() == OneAct::DepositMoved ? yuan("43.00") : Currency()) << text.toStdString();
    EXPECT_EQ(hasUser(9) ? remainOf(9) : Currency(), GetParam() == OneAct::UserAdded ? yuan("20.00") : Currency())
        << text.toStdString();
    EXPECT_TRUE(lacks(text, "从损坏的文件中找回"));
}
INSTANTIATE_TEST_SUITE_P(Acts, BehindByOneAct, ::testing::Values(OneAct::UserDeleted, OneAct::DepositMoved, OneAct::UserAdded));

// This station's own backup, while the call file's note of the station's
// name reads another value (a damaged page of its notes): its safety copy
// names this station, so the backup goes in and is brought up to the log.
TEST_F(PutBackRoads, ThisStationsBackupGoesInWhenOnlyTheCallFilesNameReadsAnother) {
    const QString backup = keepStationFile("backup.mdb");
    const Currency fee = call(5, 1);
    ModSwitch::OpenAllDB(false);
    const QString cur = dir->file("PhoneCur.mdb");
    const QString id = ModSwitch::StationIdOf(cur);
    ASSERT_FALSE(id.isEmpty());
    ASSERT_EQ(ModSwitch::StationIdOf(cur + ".bak"), id);
    Database::open(cur).execute("UPDATE tab_notes SET value='4f0d-another-value' WHERE varname=?", {ModSwitch::kStationId});
    QString failed;
    EXPECT_TRUE(admin::ReplaceFiles(admin::RestorePairs(backupFolder(backup), dir->dataPath(), true, false), &failed))
        << failed.toStdString();
    QStringList lines;
    admin::RestoreNotice(dir->dataPath(), &lines);
    const QString text = lines.join('\n');
    // The next start puts the call file's name right from its copy; here by hand.
    Database::open(cur).execute("UPDATE tab_notes SET value=? WHERE varname=?", {id, ModSwitch::kStationId});
    openDatabases();
    ModSwitch::OpenSharedRecordsets();
    EXPECT_TRUE(lacks(text, "另一个"));
    EXPECT_EQ(remainOf(7), yuan("100.00") - fee) << text.toStdString();
}

// Another station's backup while the call file and its safety copy carry no
// name of the station (their notes lost): the station file's name tells, and
// nothing is put in.
TEST_F(PutBackRoads, AnotherStationsBackupIsRefusedWhenTheCallFileCarriesNoName) {
    const QString backup = keepStationFile("backup.mdb");
    Database::open(backup).execute("UPDATE Variant SET value='4f0d-another-station' WHERE varname=?", {ModSwitch::kStationId});
    call(5, 1);
    const Currency now = remainOf(7);
    ModSwitch::OpenAllDB(false);
    for (const char* f : {"PhoneCur.mdb", "PhoneCur.mdb.bak"})
        Database::open(dir->file(f)).execute("DELETE FROM tab_notes WHERE varname=?", {ModSwitch::kStationId});
    QString failed;
    EXPECT_FALSE(admin::ReplaceFiles(admin::RestorePairs(backupFolder(backup), dir->dataPath(), true, false), &failed));
    EXPECT_TRUE(holds(failed, "属于另一个话务台或站点"));
    reopen();
    EXPECT_EQ(remainOf(7), now);
}

// 数据库管理's restore whose station file cannot be renamed into place (a
// read-only disk) is given up whole: what its recovery found is not told
// later for a file that never went in. Then the same restore stopped once its
// recovery's lines are kept (a kill), and "ChargeLog.mdb" lost before the
// completion with the entry of a call since the backup: the completion's
// recovery differs, and the box holds its list alone, the one the balances
// went in with.
TEST_F(PutBackRoads, ARestoreGivenUpTellsNothingOfTheFileNotPutIn) {
    const QString folder = backupThenAPaymentWithItsEntryLost();
    const Currency now = remainOf(7);
    ModSwitch::OpenAllDB(false);
    platform::testing::setFaultHook([](const QString& op, const QString& path) {
        return op == "rename" && QFileInfo(path).fileName().compare("switch.mdb", Qt::CaseInsensitive) == 0 ? EROFS : 0;
    });
    QString failed;
    EXPECT_FALSE(admin::ReplaceFiles(admin::RestorePairs(folder, dir->dataPath(), true, false), &failed));
    platform::testing::setFaultHook(nullptr);
    QStringList lines;
    EXPECT_FALSE(admin::RestoreNotice(dir->dataPath(), &lines)) << lines.join('\n').toStdString();
    reopen();
    EXPECT_EQ(remainOf(7), now);

    const Currency fee = call(5, 2);
    call(5, 3);   // the log keeps its last entry: the call before it moves
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));
    restoreKilledAt(folder, "recovered");
    ASSERT_TRUE(QFile::remove(dir->file(ModSwitch::kJournalFile)));
    admin::CompleteRestore(dir->dataPath());
    EXPECT_TRUE(admin::RestoreNotice(dir->dataPath(), &lines));
    admin::ForgetRestoreNotice(dir->dataPath());
    script::answer("ChargeLog.mdb", platform::rOK);
    restart();
    const QString told = lines.join('\n');
    EXPECT_EQ(lines.filter("用户7 用户7：").size(), 1) << told.toStdString();
    EXPECT_TRUE(holds(told, QStringLiteral("用户7 用户7：%1").arg((yuan("52.05") - fee).toString2())));
}

// The same backup put back twice, a payment's entry lost (the number right
// after the backup's mark, whose own entry the log holds): the first restore
// misses it and names the balance it moved; the second finds every row as it was and asks for
// no amount. A third, over a file whose users do not read: nothing is
// compared with rows that were not read, so no user is said to be new, and
// the missing number is named; the amount the first named is an entry of the
// journal, the box's line read against it, and it is asked for no more.
TEST_F(PutBackRoads, ASecondRestoreOfTheSameBackupAsksForNoAmount) {
    const QString folder = backupThenAPaymentWithItsEntryLost();
    call(5, 2);
    const Currency before = remainOf(7);
    const qint64 mark = ModSwitch::AppliedMark(Database::openReadOnly(folder + "Switch.mdb"));
    const QString first = restoreByManager(folder);
    ASSERT_TRUE(holds(first, "差额无法找回：\n用户7 用户7：52.05"));
    EXPECT_EQ(remainOf(7), before - yuan("52.05")) << first.toStdString();
    const Currency seven = ModSwitch::BalanceOf(7);
    restart();
    const QString second = restoreByManager(folder);
    EXPECT_EQ(ModSwitch::BalanceOf(7), seven) << second.toStdString();
    EXPECT_TRUE(lacks(second, "用户7 用户7："));
    // The journal's entries of amounts asked for (LogKind::Asked), after an opening gave them to the log.
    const auto asked = [this] {
        restart();
        return Currency::fromRaw(
            dbPhoneCur.scalar("SELECT coalesce(sum(f_amount), 0) FROM tab_chargelog WHERE f_kind=10 AND f_userid=7").toLongLong());
    };
    EXPECT_EQ(asked(), yuan("52.05"));
    ModSwitch::OpenAllDB(false);
    ASSERT_NO_FATAL_FAILURE(overwritePageOf("user"));
    const QString third = restoreByManager(folder);
    EXPECT_TRUE(lacks(third, "用户7 用户7："));
    EXPECT_EQ(remainOf(7), before - yuan("52.05")) << third.toStdString();
    EXPECT_TRUE(lacks(third, "恢复前已没有此用户"));
    EXPECT_TRUE(holds(third, QStringLiteral("备份之后的第%1笔记账记录已不存在").arg(mark + 1)));
    // Nothing of the comparison became an entry: the next start adds no user.
    const qint64 users = count("user");
    EXPECT_EQ(asked(), yuan("52.05"));
    EXPECT_EQ(count("user"), users);
}

// A backup whose users' table reads in part (a leaf of it lost) is damaged:
// the users it does not give are not entered as deleted by its put-back
// (which a later restore of an older copy would replay).
TEST_F(PutBackRoads, UsersABackupDoesNotGiveAreNotEnteredAsDeleted) {
    call(5, 1);
    {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute("CREATE TEMP TABLE more AS SELECT * FROM user WHERE userid=8");
        for (int u = 100; u < 400; ++u) {
            dbSwitch.execute("UPDATE temp.more SET userid=?, username=?", {u, QString(40, QChar(0x7528)) + QString::number(u)});
            dbSwitch.execute("INSERT INTO user SELECT * FROM temp.more");
        }
        tx.commit();
    }
    const QString backup = keepStationFile("backup.mdb");
    {
        Database db = Database::open(backup);
        const int pageSize = db.scalar("PRAGMA page_size").toInt();
        ASSERT_GE(db.scalar("SELECT count(*) FROM dbstat WHERE name='user' AND pagetype='leaf'").toLongLong(), 3);
        const qint64 leaf =
            db.scalar("SELECT pageno FROM dbstat WHERE name='user' AND pagetype='leaf' ORDER BY path DESC LIMIT 1").toLongLong();
        db.close();
        writeClosed("backup.mdb", (leaf - 1) * pageSize, QByteArray(pageSize, '\x5a'));
    }
    ModSwitch::OpenAllDB(false);
    ASSERT_TRUE(admin::ReplaceFiles(admin::RestorePairs(backupFolder(backup), dir->dataPath(), true, false)));
    QStringList lines;
    admin::RestoreNotice(dir->dataPath(), &lines);
    admin::ForgetRestoreNotice(dir->dataPath());
    EXPECT_TRUE(holds(lines.join('\n'), "用户表已损坏"));
    const Database sw = Database::openReadOnly(dir->file("switch.mdb"));
    if (!sw.actualTableName("tab_chargemirror").isEmpty()) {
        EXPECT_EQ(sw.scalar("SELECT count(*) FROM tab_chargemirror WHERE f_kind=1").toLongLong(), 0);
    }
}

// As many of the damaged file's user rows refused (a balance that is no
// amount) as read whole: its users' pages are its own, and the rows that read
// whole are taken (its mark read), a balance they hold beyond the entries (a
// payment an older release wrote without one) with them, the charge that
// waited applied, and nothing named as lost; only the rows refused are
// counted, and their users are the copy's, not taken for users deleted since.
TEST_F(PutBackRoads, UserRowsThatReadWholeAreTakenWhenAsManyAreRefused) {
    addUser(9, "20.00", 1);
    restart();   // the safety copy holds users 7, 8 and 9 (and the default user)
    ASSERT_EQ(count("user"), 4);
    dbSwitch.execute("CREATE TRIGGER refuse BEFORE UPDATE ON user BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    const Currency fee = call(5, 1);   // logged, waiting for the station file
    ASSERT_GT(fee, Currency());
    dbSwitch.execute("DROP TRIGGER refuse");
    dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=7", {yuan("50.00")});   // as an older release paid
    ModSwitch::OpenAllDB(false);
    Database::open(dir->file("switch.mdb")).execute("UPDATE user SET remain='5a5a' WHERE userid IN (8, 9)");
    testsupport::addOrphanPage(dir->file("switch.mdb"));
    const QString text = startAfterDamage();
    EXPECT_EQ(remainOf(7), yuan("150.00") - fee) << text.toStdString();
    EXPECT_TRUE(holds(text, "从损坏的文件中找回1个用户的余额"));
    EXPECT_TRUE(lacks(text, "无法找回"));
    EXPECT_TRUE(hasUser(8) && hasUser(9)) << text.toStdString();
    EXPECT_EQ(remainOf(8), yuan("30.00")) << text.toStdString();
    EXPECT_TRUE(lacks(text, "已删除"));
    EXPECT_TRUE(holds(text, "损坏的文件中有2行不是完整的用户记录，未采用。"));
}

// A user added and deleted since the backup: the backup put back is as the
// operator left it, without them, and the box does not tell of them as
// added, nor as deleted. A user of the backup deleted since who had called on
// their extension: the extension went back to the default user with them, as
// the replay gives it; no line asks the operator to check it. A user added
// under a number the backup gives to someone else (a number an older station
// gave twice), then deleted since: kept apart from that row, and, gone again,
// as the backup had it: no line names them.
TEST_F(PutBackRoads, AUserAddedAndDeletedSinceTheBackupIsNotNamedEitherWay) {
    const qint64 n = ModSwitch::NextUserCount();
    const auto add = [&](const char* name, const char* amount) {
        ModSwitch::MoveBalances([&] { dbSwitch.execute("INSERT INTO user (userid, username, remain, deposit) VALUES (?, ?, ?, ?)",
                                                       {n, QString::fromUtf8(name), yuan(amount), yuan(amount)}); });
    };
    add("甲", "60.00");
    const QString backup = keepStationFile("backup.mdb");
    dbSwitch.execute("DELETE FROM user WHERE userid=?", {n});   // logged nowhere, as an older station did
    add("乙", "51.00");
    deleteUserNow(qint32(n));
    ModSwitch::MoveBalances([] {
        dbSwitch.execute("INSERT INTO user (userid, username, balancemode, remain) VALUES (99, '丙', 1, 200000)");
    });
    const Currency fee = call(5, 1);
    deleteUserNow(99);
    call(6, 2);
    deleteUserNow(8);
    const QString text = restoreByManager(backupFolder(backup));
    EXPECT_FALSE(hasUser(99)) << text.toStdString();
    EXPECT_EQ(remainOf(7), yuan("100.00") - fee) << text.toStdString();
    EXPECT_TRUE(lacks(text, "用户99"));
    EXPECT_FALSE(hasUser(8)) << text.toStdString();
    EXPECT_EQ(dbSwitch.scalar("SELECT userid FROM extension WHERE address=6").toLongLong(), 0) << text.toStdString();
    EXPECT_TRUE(holds(text, "已再次删除：\n用户8 用户8"));
    EXPECT_TRUE(lacks(text, "分机6"));
    EXPECT_EQ(dbSwitch.scalar("SELECT username FROM user WHERE userid=?", {n}).toString(), "甲") << text.toStdString();
    EXPECT_EQ(remainOf(qint32(n)), yuan("60.00")) << text.toStdString();
    EXPECT_TRUE(lacks(text, "乙"));
}

// A user deleted since a backup whose deletion is lost with the journal comes
// back with that backup, deposit and all, and the put-back is an entry: a
// later restore of a backup taken after the deletion gives them back as the
// first restore left them, their deposit included.
TEST_F(PutBackRoads, AUserARestoreBroughtBackComesBackWithTheirDepositAtALaterRestore) {
    moveDepositNow(8, "40.00");
    const QString first = keepStationFile("first.mdb");
    const qint64 mark = ModSwitch::AppliedMark(dbSwitch);
    deleteUserNow(8);
    const qint64 gone = ModSwitch::AppliedMark(dbSwitch);
    const QString second = keepStationFile("second.mdb");
    loseEntries(mark + 1, gone);
    const QString told = restoreByManager(backupFolder(first));
    ASSERT_TRUE(holds(told, "用户8 用户8：余额30.00，押金40.00（恢复前已没有此用户）"));
    const QString text = restoreByManager(backupFolder(second));
    EXPECT_TRUE(hasUser(8)) << text.toStdString();
    EXPECT_EQ(remainOf(8), yuan("30.00")) << text.toStdString();
    EXPECT_EQ(depositOf(8), yuan("40.00")) << text.toStdString();
}

// A station file put back by hand from an older copy is brought up to the
// journal at the next start. When that start could not renew the call file's
// safety copy (a full disk), the calls and entries the replay gave the station
// file are kept in its copy of the log: a call file put back later from its
// older copy gets them back, and nothing is charged twice or lost.
TEST_F(PutBackRoads, WhatACatchUpReplayedIsThereForACallFilePutBackFromItsOlderCopy) {
    const QString older = keepStationFile("older.mdb");
    const Currency fee = call(5, 1);
    ASSERT_GT(fee, Currency());
    deleteUserNow(8);
    replaceClosed("switch.mdb", older);
    script::answer("已按记账记录补上", platform::rOK);
    ASSERT_NO_FATAL_FAILURE(restartKeepingTheOlder("PhoneCur.mdb.bak"));
    ASSERT_FALSE(hasUser(8));
    ASSERT_EQ(remainOf(7), yuan("100.00") - fee);
    const qint64 calls = dbPhoneCur.scalar("SELECT count(*) FROM Tab_Phone").toLongLong();
    const qint64 entries = dbPhoneCur.scalar("SELECT count(*) FROM tab_chargelog").toLongLong();

    // The call file put back by hand from its safety copy, older than the call.
    callFileFromItsCopy();
    ASSERT_LT(Database::openReadOnly(dir->file("PhoneCur.mdb")).scalar("SELECT count(*) FROM tab_chargelog").toLongLong(), entries);
    restart();
    EXPECT_EQ(dbPhoneCur.scalar("SELECT count(*) FROM Tab_Phone").toLongLong(), calls);
    EXPECT_EQ(dbPhoneCur.scalar("SELECT count(*) FROM tab_chargelog").toLongLong(), entries);
    EXPECT_EQ(remainOf(7), yuan("100.00") - fee);
    EXPECT_FALSE(hasUser(8));
}

// 数据库管理 puts back a backup whose payment and deposit moved since are lost
// with the journal: the balance and the deposit it sets are named, and are
// entries. A copy taken before that restore (the payment and the deposit in
// it), put back by a later restore or by hand (brought up at the next start),
// is brought to them: neither moves back unnamed.
class RestoreSetThenPutBack : public PutBackRoads, public ::testing::WithParamInterface<bool> {};

TEST_P(RestoreSetThenPutBack, ABalanceAndADepositARestoreSetReachTheCopyPutBackAfter) {
    const QString first = keepStationFile("first.mdb");
    const qint64 mark = ModSwitch::AppliedMark(dbSwitch);
    payNow(7, "52.05");
    moveDepositNow(7, "43.00");
    const qint64 paid = ModSwitch::AppliedMark(dbSwitch);
    const QString second = keepStationFile("second.mdb");
    call(5, 1);
    loseEntries(mark + 1, paid);
    const QString told = restoreByManager(backupFolder(first));
    ASSERT_TRUE(holds(told, "用户7 用户7：52.05，押金43.00"));
    const Currency set = remainOf(7), deposit = depositOf(7);
    QString text;
    if (GetParam()) {
        replaceClosed("switch.mdb", second);
        restart();
    } else {
        text = restoreByManager(backupFolder(second));
    }
    EXPECT_EQ(remainOf(7), set) << text.toStdString();
    EXPECT_EQ(depositOf(7), deposit) << text.toStdString();
}
INSTANTIATE_TEST_SUITE_P(ByManagerOrByHand, RestoreSetThenPutBack, ::testing::Bool());

// A call whose entry is lost, placed against the station file's safety copy
// put back by the call file's. Copies of one start (the call file's log
// ending at the copy's mark), even where a number at or below the mark is
// lost: the call it holds is in the balance and is not named; the call it
// lacks came since and is named as not charged. The call file's copy newer
// than the station file's, holding the call: every number up to the copy's
// mark reads, so the call came after it, is not in the balance, and is
// named. The call file's copy older, lacking it, its entry at or below the
// station file's copy's mark: where it stands is unknown, and it is named as
// such, never as not charged.
struct LostCall {
    const char* name;
    const char* keptOlder;   // the safety copy a start could not renew (none: both renewed)
    const char* told;
    const char* notTold;
    bool inBalance;          // the first call's fee is in the balance put back
};
class LostCallEntry : public PutBackRoads, public ::testing::WithParamInterface<LostCall> {};

TEST_P(LostCallEntry, IsPlacedByTheCallFilesCopy) {
    const Currency fee = callWithItsEntryLost(1);
    payNow(7, "1.00");
    Currency named = fee;
    if (GetParam().keptOlder) {
        ASSERT_NO_FATAL_FAILURE(restartKeepingTheOlder(GetParam().keptOlder));
    } else {
        restart();   // both safety copies hold the call; their logs end at the payment
        named = callWithItsEntryLost(2);
    }
    ASSERT_NO_FATAL_FAILURE(stationFileUnreadable());
    const QString text = startAfterDamage();
    EXPECT_TRUE(holds(text, QString::fromUtf8(GetParam().told).arg(named.toString2()))) << text.toStdString();
    EXPECT_TRUE(lacks(text, GetParam().notTold));
    EXPECT_EQ(remainOf(7), yuan("101.00") - (GetParam().inBalance ? fee : Currency())) << text.toStdString();
}
INSTANTIATE_TEST_SUITE_P(Copies, LostCallEntry,
                         ::testing::Values(LostCall{"OfOneStart", nullptr, kNotCharged, "无法确定", true},
                                           LostCall{"CallFilesNewer", "switch.mdb.bak", kNotCharged, "无法确定", false},
                                           LostCall{"CallFilesOlder", "PhoneCur.mdb.bak", kMaybeCharged, "其话费未计入", true}),
                         [](const ::testing::TestParamInfo<LostCall>& i) { return std::string(i.param.name); });
