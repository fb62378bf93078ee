// Every fact that decides who pays or what a user holds is an entry of the
// journal: an extension's owner given since a copy, and a restore's own
// changes, come back on every road an operator takes to put a file back.
#include "admin/BackupRoadsFixture.h"
#include "core/books/SafetyCopies.h"
#include "core/StationFiles.h"
#include "core/books/TableCopy.h"
#include "core/books/UserNumbers.h"
#include "params/TableViews.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

using namespace admintest;
using platform::Database;

namespace {

// The roads a station file goes back by.
enum class Road { Manager, SafetyCopy, ByHand };

const char* nameOf(Road r) {
    switch (r) {
    case Road::Manager: return "数据库管理";
    case Road::SafetyCopy: return "safety copy after damage";
    case Road::ByHand: return "put back by hand";
    }
    return "";
}

class LineageTest : public BackupRoadsTest {
protected:
    // A call of extension `ext` at 9:`minute`.
    void call(int ext, int minute) { BackupRoadsTest::call(ext, minute, QDate(2026, 6, 15)); }
    Currency depositOf(qint32 userid) {
        return Currency::fromRaw(dbSwitch.scalar("SELECT deposit FROM user WHERE userid=?", {userid}).toLongLong());
    }
    bool hasUser(qint32 userid) { return !dbSwitch.scalar("SELECT 1 FROM user WHERE userid=?", {userid}).isNull(); }
    qint64 ownerOf(int address) {
        return dbSwitch.scalar("SELECT userid FROM extension WHERE address=?", {address}).toLongLong();
    }
    // The station file as a backup holds it now.
    QString backupNow() {
        ModSwitch::OpenAllDB(false);
        const QString backup = dir->file("backup-switch.mdb");
        QFile::remove(backup);
        EXPECT_TRUE(QFile::copy(dir->file("switch.mdb"), backup));
        reopen();
        return backup;
    }
    // The users' copy as an older release made it: the users alone, no mark.
    void unmarkedUsersCopy() {
        QFile::remove(console::BackupFilePath());
        Database backup = Database::create(console::BackupFilePath());
        ASSERT_TRUE(ModSwitch::CopyTable(dbSwitch, QStringLiteral("User"), backup, QStringLiteral("User"), false, QString()));
    }
    // The station file goes back by `road`; the boxes shown on the way.
    QString putBack(Road road) {
        const qsizetype shown = script::shown().size();
        switch (road) {
        case Road::Manager: click(2, folder("bk"), "数据恢复成功"); break;
        case Road::SafetyCopy: {
            ModSwitch::OpenAllDB(false);
            QFile f(dir->file("switch.mdb"));
            EXPECT_TRUE(f.open(QIODevice::ReadWrite));
            f.write(QByteArray(int(f.size()), '\x5a'));
            f.close();
            script::answer("已用备份switch.mdb.bak恢复", platform::rOK);
            restart();
            break;
        }
        case Road::ByHand: putBackByHand(dir->file("switch.mdb.bak")); break;
        }
        return shownSince(shown).join("\n----\n");
    }
    // The station file copied back by hand from `from` (the journal file
    // lost with it when `journalLost`), and the station started.
    void putBackByHand(const QString& from, bool journalLost = false) {
        ModSwitch::OpenAllDB(false);
        const QString sw = dir->file("switch.mdb");
        for (const char* side : {"", "-wal", "-shm"}) QFile::remove(sw + side);
        ASSERT_TRUE(QFile::copy(from, sw));
        if (journalLost) QFile::remove(dir->file(ModSwitch::kJournalFile));
        script::answer("落后于话单文件", platform::rOK);
        restart();
    }
};

class OwnerRoadTest : public LineageTest, public ::testing::WithParamInterface<Road> {};

}  // namespace

// An extension given to another user since the copy, with no call on it
// before the put-back, and one given to a user added since: on every road
// each goes back to the owner it was given to, and its next call charges them.
TEST_P(OwnerRoadTest, AnExtensionsOwnerGivenSinceTheCopyComesBackOnEveryRoad) {
    const Road road = GetParam();
    addUserNow(8, "乙", "30.00");
    setExtensionUser(6, 8);
    // Where the road starts: the backup, or the start-up's safety copy.
    if (road == Road::Manager) click(0, folder("bk"), "备份完成");
    else restart();
    addUserNow(9, "丙", "20.00");
    giveExtension(6, 9);   // from a user of the copy to one added since
    giveExtension(5, 8);   // from one user of the copy to another, no call since
    const QString text = putBack(road);
    EXPECT_EQ(ownerOf(6), 9) << nameOf(road) << "\n" << text.toStdString();
    EXPECT_EQ(ownerOf(5), 8) << nameOf(road) << "\n" << text.toStdString();
    EXPECT_TRUE(lacks(text, {"请重新核对", "未能恢复"}));
    const Currency eight = remainOf(8), nine = remainOf(9), seven = remainOf(7);
    call(6, 1);
    call(5, 2);
    EXPECT_LT(remainOf(9), nine);
    EXPECT_LT(remainOf(8), eight);
    EXPECT_EQ(remainOf(7), seven);
    // Once: the next start gives nothing back again.
    const qsizetype shown = script::shown().size();
    restart();
    EXPECT_EQ(script::shown().size(), shown);
    EXPECT_EQ(ownerOf(6), 9);
}

// An extension given since the copy to a user the put-back cannot give back
// (their row is lost with the journal's copy of it): the extension keeps the
// copy's owner and is named with its owners before and after.
TEST_F(LineageTest, AnOwnerThatCannotBeGivenBackIsNamedWithItsOwnersBeforeAndAfter) {
    restart();
    addUserNow(9, "丙", "20.00");
    giveExtension(6, 9);
    ModSwitch::OpenAllDB(false);
    {
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        cur.execute("DELETE FROM tab_userrows");
    }
    openDatabases();
    const QString text = putBack(Road::ByHand);
    EXPECT_FALSE(hasUser(9)) << text.toStdString();
    EXPECT_EQ(ownerOf(6), 0) << text.toStdString();
    EXPECT_TRUE(holds(text, {"以下分机和帐号在备份之后更改的用户未能恢复，请重新指定：\n分机6：备份中属用户0", "备份之后改属用户9（恢复后没有此用户）"}));
}

INSTANTIATE_TEST_SUITE_P(Roads, OwnerRoadTest, ::testing::Values(Road::Manager, Road::SafetyCopy, Road::ByHand),
                         [](const ::testing::TestParamInfo<Road>& i) {
                             return std::string(i.param == Road::Manager ? "Manager"
                                                : i.param == Road::SafetyCopy ? "SafetyCopy"
                                                                              : "ByHand");
                         });

// "ChargeLog.mdb" with its header damaged is made again from its pages:
// every entry keeps its place and date (an owner given since a backup names
// its extension), and 数据库管理's restore of that backup gives the
// extension back to the owner it was given to, whose next call it charges,
// and puts back a user added since with their row, balance and deposit.
TEST_F(LineageTest, AJournalFileRebuiltFromItsPagesKeepsEveryEntrysPlaceAndDate) {
    addUserNow(8, "乙", "30.00");
    const QString f = folder("bk");
    click(0, f, "备份完成");
    giveExtension(5, 8);
    call(5, 1);
    addUserNow(9, "丙", "20.00");
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET deposit=400000 WHERE userid=9"); }, 9);
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));   // settled, held by both copies: moved to the journal file
    ASSERT_TRUE(dbPhoneCur.scalar(QStringLiteral("SELECT 1 FROM %1 WHERE f_kind=2 AND f_userid=9")
                                      .arg(dbPhoneCur.qualified(ModSwitch::kChargeLog)))
                    .isNull());
    const QString journal = dir->file(ModSwitch::kJournalFile);
    const auto placesAndDates = [&] {
        std::string out;
        for (platform::RowReader r = Database::openReadOnly(journal).rows("SELECT f_seq, f_kind, f_calladdr, f_date FROM tab_chargelog");
             r.next();)
            out += QStringLiteral("%1 %2 %3 %4\n").arg(r.integer(0)).arg(r.integer(1)).arg(r.integer(2)).arg(r.text(3)).toStdString();
        return out;
    };
    const std::string before = placesAndDates();
    ASSERT_NE(before.find(" 6 5 "), std::string::npos) << before;   // the owner's entry moved
    ModSwitch::OpenAllDB(false);
    {
        QFile j(journal);
        ASSERT_TRUE(j.open(QIODevice::ReadWrite));
        j.write(QByteArray(100, '\x5a'));
    }
    script::answer("已重新建立该文件", platform::rOK);
    restart();
    ASSERT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(placesAndDates(), before);
    click(2, f, "数据恢复成功");
    const QString told = lastBox();
    EXPECT_EQ(ownerOf(5), 8) << told.toStdString();
    ASSERT_TRUE(hasUser(9)) << told.toStdString();
    EXPECT_EQ(dbSwitch.scalar("SELECT username FROM user WHERE userid=9").toString(), "丙");
    EXPECT_EQ(remainOf(9), yuan("20.00"));
    EXPECT_EQ(depositOf(9), yuan("40.00"));
    EXPECT_TRUE(lacks(told, "无法找回"));
    const Currency eight = remainOf(8), seven = remainOf(7);
    call(5, 2);
    EXPECT_LT(remainOf(8), eight);
    EXPECT_EQ(remainOf(7), seven);
}

// 数据库管理 puts back an older backup whose entries since are gone: what it
// changed is named, and is an entry. A 表恢复 of a users' copy taken before
// that restore then replays those changes: the user it removed stays
// removed, the balance it set stays, and nothing moves unnamed.
TEST_F(LineageTest, ARestoresOwnChangesAreEntriesThatALaterTableRestoreReplays) {
    const QString f = folder("bk");
    click(0, f, "备份完成");
    const qint64 copied = ModSwitch::AppliedMark(dbSwitch);
    const Currency seven = remainOf(7);
    addUserNow(4, "丁", "37.70");
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET deposit=400000 WHERE userid=4"); }, 4);
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET remain=remain+440900 WHERE userid=7"); }, 7);
    // The users' copy (备份 of 用户管理) holds all of it.
    ASSERT_NO_FATAL_FAILURE(backUpTable());
    // The entries since the backup are lost with the log and the station
    // file's copy of them, the files closed meanwhile.
    ModSwitch::OpenAllDB(false);
    Database::open(dir->file("switch.mdb")).execute("DELETE FROM tab_chargemirror WHERE f_seq>?", {copied});
    Database::open(dir->file("PhoneCur.mdb")).execute("DELETE FROM tab_chargelog WHERE f_seq>?", {copied});
    reopen();
    click(2, f, "数据恢复成功");
    const QString told = lastBox();
    EXPECT_TRUE(holds(told, {"用户4 丁：余额37.70，押金40.00（恢复后没有此用户）", "用户7 用户7：44.09"}));
    ASSERT_FALSE(hasUser(4));
    ASSERT_EQ(remainOf(7), seven);

    const QStringList boxes = restoreTable();
    EXPECT_FALSE(hasUser(4)) << boxes.join('\n').toStdString();
    EXPECT_EQ(remainOf(7), seven) << boxes.join('\n').toStdString();
}

// A users' copy without the journal's mark (made before it, or its mark
// lost) that the journal cannot place (a balance in it no entry ever gave):
// 表恢复 names every whole money row it changes, a user deleted since that
// comes back and a deposit set back included.
TEST_F(LineageTest, ATableRestoreWithoutAMarkNamesWholeMoneyRows) {
    addUserNow(4, "丁", "39.40");
    addUserNow(8, "乙", "30.00");
    ASSERT_NO_FATAL_FAILURE(backUpTable());
    {
        Database backup = Database::open(console::BackupFilePath());
        backup.execute("DROP TABLE TarvoBackupMarks");
        backup.execute("UPDATE User SET remain=? WHERE userid=8", {yuan("31.00")});
    }
    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 4); }, 4);
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET deposit=deposit+430000 WHERE userid=7"); }, 7);
    const qint64 mark = ModSwitch::AppliedMark(dbSwitch);
    const QString text = restoreTable().join('\n');
    EXPECT_TRUE(holds(text, {"备份中的用户余额与现在不同", "用户4 丁：余额39.40（恢复前已没有此用户）"}));
    // Each line says what the restore entered, with the sign of its entry.
    int moved = 0;
    for (const ModSwitch::LogEntry& e : ModSwitch::MirrorOf(dbSwitch)) {
        if (e.seq <= mark || (e.kind != int(ModSwitch::LogKind::BalanceSet) && e.kind != int(ModSwitch::LogKind::DepositSet))) continue;
        const QStringList line = text.split('\n').filter(QRegularExpression(QStringLiteral("^用户%1 ").arg(e.userid)));
        const QString amount = (e.kind == int(ModSwitch::LogKind::DepositSet) ? QStringLiteral("押金") : QStringLiteral("：")) +
                               e.amount.toString2();
        EXPECT_TRUE(line.size() == 1 && line.first().contains(amount)) << amount.toStdString() << "\n" << text.toStdString();
        ++moved;
    }
    EXPECT_EQ(moved, 2) << text.toStdString();   // user 8's balance, user 7's deposit
}

// A call that started before the copy's last call but was recorded after the
// copy (a long call in progress), its entry lost with the log's pages: its
// place is told by the call file's safety copy, which lacks it, never by its
// start; it is named with what it cost.
TEST_F(LineageTest, ACallStartedBeforeTheCopysLastCallButRecordedAfterItIsNamed) {
    call(5, 5);
    restart();   // both safety copies hold the call of 9:05
    const QString backup = backupNow();
    const Currency before = remainOf(7);
    call(5, 1);   // started at 9:01, recorded now
    const Currency fee = before - remainOf(7);
    ASSERT_GT(fee, Currency());
    // The pages the call file's log starts from overwritten, the station's
    // files closed (the calls still read); 数据库管理's recovery of the backup
    // on a copy, with no station file to replace.
    ModSwitch::OpenAllDB(false);
    pricingtest::overwriteLogPages(dir->file("PhoneCur.mdb"));
    const QString work = dir->file("switch.mdb.recovering");
    ASSERT_TRUE(QFile::copy(backup, work));
    const QString text = ModSwitch::RecoverRestoredStationFile(work, dir->file("PhoneCur.mdb"), QString()).join('\n');
    EXPECT_TRUE(text.contains(QStringLiteral("以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n用户7 用户7：1张，共%1元")
                                  .arg(fee.toString2())))
        << text.toStdString();
}

// Guards of the journal's rules that no other test held.

// The view of many users and the one balance agree while a charge waits: the
// entry at the mark is applied, only those past it wait.
TEST_F(LineageTest, TheUsersViewsWaitingChargesAgreeWithTheBalance) {
    call(5, 1);   // applied: its entry is at the mark
    dbSwitch.execute("CREATE TRIGGER refuse BEFORE UPDATE ON user BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    call(5, 2);   // waits
    dbSwitch.execute("DROP TRIGGER refuse");
    const Currency stored = Currency::fromRaw(dbSwitch.scalar("SELECT remain FROM user WHERE userid=7").toLongLong());
    const Currency waiting = ModSwitch::UnappliedCharges(7);
    ASSERT_GT(waiting, Currency());
    EXPECT_EQ(ModSwitch::UnappliedChargesByUser().value(7), waiting);
    EXPECT_EQ(stored - ModSwitch::UnappliedChargesByUser().value(7), ModSwitch::BalanceOf(7));
}

// A station file put back by hand behind the journal by a deletion alone, or
// by an addition alone: the opening catches up and says so.
TEST_F(LineageTest, AStationFileBehindOnlyByADeletionOrAnAdditionIsCaughtUpAndTold) {
    addUserNow(8, "乙", "30.00");
    restart();
    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 8); }, 8);
    QString text = putBack(Road::ByHand);
    EXPECT_FALSE(hasUser(8));
    EXPECT_TRUE(holds(text, "已再次删除：\n用户8 乙"));
    restart();
    addUserNow(9, "丙", "20.00");
    text = putBack(Road::ByHand);
    EXPECT_TRUE(hasUser(9));
    EXPECT_EQ(remainOf(9), yuan("20.00"));
    EXPECT_TRUE(holds(text, "已按记账记录重新加入"));
}

// A number given once is never given again, though every note of the numbers
// is lost, the counter is older, and the entries of the user who had it are
// let go by the keeping time: the row kept with the entry that added them
// still holds it. The number noted as given is the next one free, not the one
// given: a user added and deleted leaves their number given.
TEST_F(LineageTest, ANumberIsNotGivenAgainWhenEveryNoteOfTheNumbersIsLost) {
    const qint64 n = ModSwitch::NextUserCount() + 20;
    addUserNow(qint32(n), "甲", "12.00");
    ModSwitch::MoveBalances([&] { ModSwitch::DeleteUserRows(dbSwitch, n); }, n);
    EXPECT_EQ(ModSwitch::FirstFreeUserNumber(), n + 1);
    now = now.addDays(500);
    CallRecord r;
    r.ext = 5;
    r.start = now.addSecs(-600);
    r.seconds = 100;
    ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
    restart();
    restart();   // the user's entries are let go from every file
    EXPECT_EQ(ModSwitch::FirstFreeUserNumber(), n + 1);
    ASSERT_EQ(dbPhoneCur.scalar("SELECT count(*) FROM tab_chargelog WHERE f_userid=?", {n}).toLongLong(), 0);
    ModSwitch::OpenAllDB(false);
    {
        Database sw = Database::open(dir->file("switch.mdb"));
        ASSERT_EQ(sw.scalar("SELECT count(*) FROM tab_chargemirror WHERE f_userid=?", {n}).toLongLong(), 0);
        sw.execute("DELETE FROM Variant WHERE varname=?", {ModSwitch::kUserNumbersNote});
        sw.execute("UPDATE Variant SET value=? WHERE varname='UserCount'", {QString::number(n)});
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        cur.execute("DELETE FROM tab_notes WHERE varname=?", {ModSwitch::kUserNumbersNote});
        if (QFileInfo::exists(dir->file(ModSwitch::kJournalFile))) {
            Database j = Database::open(dir->file(ModSwitch::kJournalFile));
            ASSERT_EQ(j.scalar("SELECT count(*) FROM tab_chargelog WHERE f_userid=?", {n}).toLongLong(), 0);
            j.execute("DELETE FROM tab_notes WHERE varname=?", {ModSwitch::kUserNumbersNote});
        }
    }
    restart();
    EXPECT_GT(ModSwitch::NextUserCount(), n);
}

// A users' copy as the release before the journal's marks made it (the table
// alone in "Backup.mdb"): 表恢复 places it in the journal by its own rows and
// brings it up from there, as a marked copy is: the charges, payments,
// deposits, users added and deleted since stay, and no line asks to correct them.
TEST_F(LineageTest, AnUnmarkedUsersCopyOfAnOlderReleaseIsBroughtUpToTheJournal) {
    addUserNow(4, "丁", "39.40");
    call(5, 1);
    ASSERT_NO_FATAL_FAILURE(unmarkedUsersCopy());
    call(5, 2);
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET remain=remain+200000 WHERE userid=7"); }, 7);
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET deposit=deposit+430000 WHERE userid=7"); }, 7);
    addUserNow(9, "丙", "50.00");
    ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 4); }, 4);
    const Currency seven = remainOf(7), sevenDeposit = depositOf(7);
    const QStringList boxes = restoreTable();
    const std::string told = boxes.join("\n----\n").toStdString();
    EXPECT_EQ(remainOf(7), seven) << told;
    EXPECT_EQ(depositOf(7), sevenDeposit) << told;
    EXPECT_TRUE(hasUser(9)) << told;
    EXPECT_EQ(remainOf(9), yuan("50.00")) << told;
    EXPECT_FALSE(hasUser(4)) << told;
    EXPECT_TRUE(boxes.isEmpty()) << told;   // the question alone
}

// A users' copy made before the journal's first entry (by the release before
// it) is placed there, and every entry since is applied to it.
TEST_F(LineageTest, AnUnmarkedUsersCopyOlderThanTheWholeJournalIsPlacedBeforeIt) {
    ASSERT_NO_FATAL_FAILURE(unmarkedUsersCopy());
    const Currency before = remainOf(7);
    call(5, 1);
    const Currency charged = remainOf(7);
    ASSERT_LT(charged, before);
    const QStringList boxes = restoreTable();
    EXPECT_EQ(remainOf(7), charged) << boxes.join('\n').toStdString();
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

// An unmarked copy whose rows fit two places of the journal (before a balance
// moved and after it was moved back) is not placed at a guess: while it holds
// what the users hold now no box says that a balance differs; once a call
// since changes a balance, what it changes is named.
TEST_F(LineageTest, AnUnmarkedUsersCopyThatFitsTwoPlacesIsNamedNotGuessed) {
    call(5, 1);
    ASSERT_NO_FATAL_FAILURE(unmarkedUsersCopy());
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET remain=remain+200000 WHERE userid=7"); }, 7);
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET remain=remain-200000 WHERE userid=7"); }, 7);
    const Currency seven = remainOf(7);
    const QStringList boxes = restoreTable();
    EXPECT_EQ(remainOf(7), seven) << boxes.join('\n').toStdString();
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    call(5, 2);
    EXPECT_TRUE(holds(restoreTable().join('\n'), {"备份中的用户余额与现在不同", "用户7 用户7："}));
}

// A station file copied back by hand from an older copy, the journal file
// lost with the entries since that copy: the start names, as the restores
// do, the users added since and the deposits moved since, with their amounts.
TEST_F(LineageTest, AStationFilePutBackByHandWithTheJournalFileLostNamesWholeMoneyRows) {
    const QString older = backupNow();
    addUserNow(9, "丙", "50.00");
    ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET deposit=deposit+430000 WHERE userid=7"); }, 7);
    call(5, 1);
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));   // the entries since the copy are in the journal file alone
    EXPECT_FALSE(QFileInfo::exists(ModSwitch::CopyAheadPath(dir->file("switch.mdb"))));   // no start kept one
    const qsizetype shown = script::shown().size();
    script::answer("ChargeLog.mdb", platform::rOK);
    ASSERT_NO_FATAL_FAILURE(putBackByHand(older, true));
    const QStringList boxes = shownSince(shown);
    const QString text = boxes.join("\n----\n");
    EXPECT_TRUE(holds(text, {"用户9 丙：余额50.00", "押金43.00"}));
    EXPECT_FALSE(QFileInfo::exists(ModSwitch::CopyAheadPath(dir->file("switch.mdb"))));
    // The journal file's box says the entries since the copy are not in the
    // balances, and points at the lines that name the users they leave short.
    const QStringList made = boxes.filter("ChargeLog.mdb不见了");
    ASSERT_EQ(made.size(), 1) << text.toStdString();
    const QString& journal = made.first();
    EXPECT_TRUE(lacks(journal, "早已计入用户余额"));
    EXPECT_TRUE(holds(journal, "它们的金额未计入用户余额；请按随后补上switch.mdb时列出的用户核对余额"));
}

// A number an older station gave twice (its first user's deletion logged
// nowhere): a copy holding the first user put back by hand. The second user
// is kept apart and named; the lines name the first as back with the copy
// though deleted since, and the calls of the second's extension as charged
// to the second, not to the user the file holds under that number.
TEST_F(LineageTest, ANumberGivenTwiceByAnOlderStationIsNamedForTheUsersItWasGivenTo) {
    addUserNow(8, "甲", "60.00");
    restart();   // the safety copy holds 甲
    dbSwitch.execute("DELETE FROM user WHERE userid=8");   // an older release's deletion, no entry
    addUserNow(8, "乙", "51.00");
    giveExtension(6, 8);
    call(6, 3);
    const QString text = putBack(Road::ByHand);
    EXPECT_EQ(dbSwitch.scalar("SELECT username FROM user WHERE userid=8").toString(), "甲") << text.toStdString();
    EXPECT_TRUE(holds(text, "用户8 乙：余额"));
    EXPECT_TRUE(lacks(text, "记入用户8 甲"));
    EXPECT_TRUE(holds(text, "随备份恢复"));
}

// An extension given to another user before a copy and given back since,
// the entry that gave it back lost with "ChargeLog.mdb": the put-back (by
// 数据库管理, or the copy put back by hand) cannot replay it, and names the
// extension with its owners before and after.
TEST_F(LineageTest, AnOwnerGivenBackSinceACopyWhoseEntryIsLostIsNamed) {
    for (const Road road : {Road::Manager, Road::ByHand}) {
        SCOPED_TRACE(nameOf(road));
        addUserNow(road == Road::Manager ? 8 : 9, "乙", "30.00");
        const qint32 given = road == Road::Manager ? 8 : 9;
        giveExtension(5, given);
        const QString older = road == Road::ByHand ? backupNow() : QString();
        if (road == Road::Manager) click(0, folder("bk"), "备份完成");
        giveExtension(5, 7);
        // The log keeps its last entry: the owner's moves.
        ModSwitch::MoveBalances([] { dbSwitch.execute("UPDATE user SET remain=remain+10000 WHERE userid=7"); }, 7);
        ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(true));
        const qsizetype shown = script::shown().size();
        if (road == Road::Manager) {
            click(2, folder("bk"), "数据恢复成功");
        } else {
            ASSERT_NO_FATAL_FAILURE(putBackByHand(older));
        }
        const QString text = shownSince(shown).join("\n----\n");
        EXPECT_TRUE(ownerOf(5) == 7 ||
                    text.contains(QStringLiteral("分机5：恢复前属用户7 用户7，恢复后属用户%1 乙").arg(given)))
            << text.toStdString();
        script::reset();
    }
}
