// Backups the station cannot find: one in a folder an operator typed once and
// then changed (in no setting, its note replaced by a newer backup's), and a
// users' copy without a mark. The journal lets go of the entries they need
// once the keeping time is past; putting one back then is never silently
// wrong: every whole money row it changes (balance, deposit, a user present or
// absent) is named with its amount, and the box says the entries are gone.
#include "admin/BackupRoadsFixture.h"
#include "core/Settings.h"
#include "core/StationFiles.h"

#include <QFileInfo>

using namespace admintest;
using platform::Database;

namespace {

struct Money {
    bool present = false;
    Currency remain, deposit;
};

class UnplacedBackupTest : public BackupRoadsTest {
protected:
    void seed() override {
        addUserNow(9, "丙", "50.00", "10.00");
        addUserNow(11, "丁", "70.00", "0.00");
    }
    // A call of extension 5 at 9:`minute` of the day.
    void call(int minute) { BackupRoadsTest::call(5, minute, now.date()); }
    // Users' rows changed as the users' grid and the settlement change them: entries.
    void pay(qint32 id, const char* amount, const char* deposit) {
        ModSwitch::MoveBalances(
            [&] {
                dbSwitch.execute("UPDATE user SET remain=remain+?, deposit=deposit+? WHERE userid=?",
                                 {yuan(amount), yuan(deposit), id});
            },
            id);
    }
    // The journal's last entry lost with the log's pages and the station file's copy of it.
    void loseLastEntry() {
        const qint64 seq = dbPhoneCur.scalar("SELECT max(f_seq) FROM tab_chargelog").toLongLong();
        dbPhoneCur.execute("DELETE FROM tab_chargelog WHERE f_seq=?", {seq});
        dbSwitch.execute("DELETE FROM tab_chargemirror WHERE f_seq=?", {seq});
    }
    void deleteUser(qint32 id) {
        ModSwitch::MoveBalances([&] { ModSwitch::DeleteUserRows(dbSwitch, id); }, id);
    }
    QMap<qint64, Money> money() {
        QMap<qint64, Money> out;
        for (platform::RowReader r = dbSwitch.rows("SELECT userid, remain, deposit FROM user WHERE userid<>0"); r.next();)
            out.insert(r.integer(0), Money{true, Currency::fromRaw(r.integer(1)), Currency::fromRaw(r.integer(2))});
        return out;
    }
    // 用户管理's 备份, its mark then lost from the copy and from the station's
    // notes, as a release that marked none left it.
    void unmarkedUsersCopy() {
        ASSERT_NO_FATAL_FAILURE(backUpTable());
        Database backup = Database::open(console::BackupFilePath());
        backup.execute("DROP TABLE TarvoBackupMarks");
        dbPhoneCur.execute("DELETE FROM tab_notes WHERE varname LIKE 'TarvoBackupMark:%'");
    }
    // The changes of the calls, payments and users since the backup, and the
    // starts that let them go: 10 days on they are settled and moved to the
    // journal file, 500 days on (a call on the new day) they are past the
    // keeping time. `newerBackup` runs after the changes.
    void changesThenLetGo(const std::function<void()>& newerBackup) {
        for (int m = 1; m <= 3; ++m) call(m);
        pay(9, "30.00", "20.00");
        addUserNow(8, "乙", "40.00", "5.00");
        deleteUser(11);
        restart();
        newerBackup();
        letGo(4);
    }
    // Every user as they were before the restore: held now, or named in `told`
    // with what they lack (a user absent on one side with their whole row), or
    // with `entered` what the restore entered.
    void everyDifferenceNamed(const QMap<qint64, Money>& before, const QString& told, bool entered = false) {
        const QMap<qint64, Money> after = money();
        QList<qint64> users = before.keys();
        for (qint64 u : after.keys())
            if (!before.contains(u)) users << u;
        int named = 0;
        for (qint64 u : std::as_const(users)) {
            const Money b = before.value(u), a = after.value(u);
            if (b.present && a.present) {
                if (b.remain == a.remain && b.deposit == a.deposit) continue;
                QStringList parts;
                const auto amount = [entered](Currency was, Currency is) { return (entered ? is - was : was - is).toString2(); };
                if (b.remain != a.remain) parts << amount(b.remain, a.remain);
                if (b.deposit != a.deposit) parts << QStringLiteral("押金") + amount(b.deposit, a.deposit);
                EXPECT_TRUE(told.contains(QStringLiteral("用户%1 ").arg(u)) &&
                            told.contains(QStringLiteral("：") + parts.join(QStringLiteral("，"))))
                    << "user " << u << " differs by " << parts.join(' ').toStdString() << ", not named:\n"
                    << told.toStdString();
            } else {
                const Money& m = b.present ? b : a;
                const QString whole = QStringLiteral("余额%1").arg(m.remain.toString2()) +
                                      (m.deposit == Currency() ? QString() : QStringLiteral("，押金%1").arg(m.deposit.toString2()));
                EXPECT_TRUE(told.contains(QStringLiteral("用户%1 ").arg(u)) && told.contains(whole))
                    << "user " << u << (b.present ? " gone" : " back") << " with " << whole.toStdString() << ", not named:\n"
                    << told.toStdString();
            }
            ++named;
        }
        EXPECT_GT(named, 0);
        // The operator is told why: the entries since the backup are gone.
        EXPECT_TRUE(told.contains(QStringLiteral("已不存在"))) << told.toStdString();
        // And no other cause: every file reads whole.
        EXPECT_TRUE(lacks(told, QStringLiteral("只能部分读取")));
    }
    QString restoreUsersCopy() { return restoreTable().join('\n'); }
};

// A backup into a folder typed once; then the operator backs up into another
// folder, which the window keeps in its settings. 500 days on the entries
// since the first are let go; putting it back names every user it changes.
TEST_F(UnplacedBackupTest, ABackupInAFolderNoLongerInTheSettingsNamesEveryDifferenceOnceItsEntriesAreLetGo) {
    const QString typed = folder("typed-once"), kept = folder("kept");
    click(0, typed, "备份完成");
    changesThenLetGo([&] {
        click(0, kept, "备份完成");
        frmDBManager::instance().cmdExit_Click();
    });
    ASSERT_EQ(script::pendingAnswers(), 0);
    const QString setting = ModSwitch::GetVariant(QStringLiteral("BackupPath"), QString());
    ASSERT_EQ(QDir(setting).absolutePath(), QDir(kept).absolutePath());

    const QMap<qint64, Money> before = money();
    const qsizetype from = script::shown().size();
    click(2, typed, "数据恢复成功");
    everyDifferenceNamed(before, shownSince(from).join('\n'));
}

// A users' copy without a mark (made by a release that marked none): 500 days
// on its entries are let go; 恢复 of 用户管理 names every user it changes.
TEST_F(UnplacedBackupTest, AnUnmarkedUsersCopyNamesEveryDifferenceOnceItsEntriesAreLetGo) {
    ASSERT_NO_FATAL_FAILURE(unmarkedUsersCopy());
    changesThenLetGo([] {});

    const QMap<qint64, Money> before = money();
    everyDifferenceNamed(before, restoreUsersCopy(), true);
}

// The same copy where the users the journal still speaks of hold what the
// copy holds at its oldest entry (user 7 called only after the keeping time):
// it is no place for the copy, whose other users' changes were let go.
TEST_F(UnplacedBackupTest, AnUnmarkedUsersCopyIsNotPlacedAtTheOldestEntryStillHeld) {
    ASSERT_NO_FATAL_FAILURE(unmarkedUsersCopy());
    pay(9, "30.00", "20.00");
    deleteUser(11);
    restart();
    letGo(4);

    const QMap<qint64, Money> before = money();
    everyDifferenceNamed(before, restoreUsersCopy(), true);
}

// An unmarked users' copy, a deposit settled since (the balance untouched),
// the entries moved to the journal file and that file lost, a call since:
// the rows after the gap agree with the copy's balances by chance, which
// proves no place; the deposit the copy sets back is named with its amount.
TEST_F(UnplacedBackupTest, AnUnmarkedUsersCopyIsNotPlacedByRowsThatAgreeAfterALostJournalFile) {
    ASSERT_NO_FATAL_FAILURE(unmarkedUsersCopy());
    pay(9, "0.00", "-2.25");
    call(1);   // the log keeps its last entry: the settlement's moves
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(true));
    call(2);

    const QMap<qint64, Money> before = money();
    const QString told = restoreUsersCopy();
    EXPECT_TRUE(holds(told, "用户9 丙：押金2.25"));
    everyDifferenceNamed(before, told, true);
}

// An unmarked users' copy whose place the entries held prove, the rows
// agreeing again further back by chance (user 7's fee paid back): it is
// placed there and brought up exactly, the rows never taken back past a
// number the journal lacks (user 9's deposit settled, its entry lost) nor
// past an entry whose balance they do not give (a fee paid back by a
// release that wrote no entry), where they would agree by chance again; the
// same where the first entry after the number lacking is no user's (an
// extension taken from its user and given back).
class UnplacedCopyStops : public UnplacedBackupTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnplacedCopyStops, AnUnmarkedUsersCopyIsPlacedWhereTheHeldEntriesProveIt) {
    const auto feeOf = [this](int minute) {
        const Currency before = remainOf(7);
        call(minute);
        return before - remainOf(7);
    };
    const Currency first = feeOf(1);
    ModSwitch::MoveBalances([&] { dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=7", {first}); }, 7);
    if (GetParam() > 0) {
        pay(9, "0.00", "-2.25");
        loseLastEntry();
    } else {
        dbSwitch.execute("UPDATE user SET remain=remain+? WHERE userid=7", {feeOf(2)});
    }
    ASSERT_NO_FATAL_FAILURE(unmarkedUsersCopy());
    if (GetParam() == 2)
        for (const qint32 owner : {0, 7}) giveExtension(5, owner);
    call(3);

    const QMap<qint64, Money> before = money();
    const QString told = restoreUsersCopy();
    const QMap<qint64, Money> after = money();
    EXPECT_EQ(after.keys(), before.keys()) << told.toStdString();
    for (qint64 u : before.keys())
        EXPECT_TRUE(after[u].remain == before[u].remain && after[u].deposit == before[u].deposit) << u << told.toStdString();
    EXPECT_TRUE(lacks(told, "差额"));
}

INSTANTIATE_TEST_SUITE_P(UnloggedChangeLostEntryNoUsersEntry, UnplacedCopyStops, ::testing::Values(0, 1, 2));

// A users' copy put back twice, a payment's entry lost since (with the log's
// pages): the payment cannot be replayed, so the first 恢复 names the user
// whose row it moved with the difference, and that is an entry; the second
// finds it asked for.
TEST_F(UnplacedBackupTest, AUsersCopyPutBackTwiceAsksForAnAmountOnce) {
    ASSERT_NO_FATAL_FAILURE(backUpTable());
    pay(7, "43.00", "0.00");
    loseLastEntry();
    call(1);
    const QString first = restoreUsersCopy();
    EXPECT_TRUE(holds(first, "以下用户的余额或押金与恢复前不同，差额无法找回：\n用户7 用户7：43.00"));
    const QString second = restoreUsersCopy();
    EXPECT_TRUE(lacks(second, "43.00"));
}

// An extension given since the users' copy and given back, that entry lost:
// the 恢复's replay gives it to the user of the entry still held, and the
// box names the owner it changed.
TEST_F(UnplacedBackupTest, AUsersCopyPutBackAcrossALostOwnerEntryNamesTheOwnerItChanged) {
    ASSERT_NO_FATAL_FAILURE(backUpTable());
    for (const qint32 owner : {9, 7}) giveExtension(5, owner);
    loseLastEntry();
    call(1);
    const QString told = restoreUsersCopy();
    EXPECT_TRUE(holds(told, "分机5：恢复前属用户7 用户7，恢复后属用户9 丙"));
}

// The journal keeps what the newest backup needs: a backup taken by 数据库管理
// and put back after the keeping time still gets every entry since it.
class BackupHorizonTest : public BackupRoadsTest {
protected:
    // A call of extension 5 at 9:`minute` of `day`; its fee.
    Currency call(int minute, QDate day) {
        const Currency before = remainOf(7);
        BackupRoadsTest::call(5, minute, day);
        return before - remainOf(7);
    }
    qint64 inJournalFile() {
        const QString path = dir->file(ModSwitch::kJournalFile);
        if (!QFileInfo::exists(path)) return 0;
        return Database::openReadOnly(path).scalar("SELECT count(*) FROM tab_chargelog").toLongLong();
    }
};

}  // namespace

// Taken, then calls, the clock past the keeping time with a call on the new
// day and starts that let aged entries go: the entries since the backup stay,
// and putting it back replays every one (no gap named); a newer backup lets
// the entries before it go.
TEST_F(BackupHorizonTest, ABackupPutBackAfterTheKeepingTimeStillGetsEveryEntrySinceIt) {
    const QString f = folder("bk");
    click(0, f, "备份完成");
    Currency ledger = remainOf(7);
    for (int m = 1; m <= 3; ++m) ledger -= call(m, now.date());
    ASSERT_NO_FATAL_FAILURE(settleIntoJournalFile(false));   // settled, held by both copies: moved to the journal file
    ASSERT_EQ(inJournalFile(), 2);
    now = now.addDays(500);
    ledger -= call(4, now.date());
    restart();
    restart();
    EXPECT_EQ(inJournalFile(), 3);

    click(2, f, "数据恢复成功");
    const QString told = lastBox();
    EXPECT_EQ(remainOf(7), ledger) << told.toStdString();
    EXPECT_TRUE(lacks(told, "不存在"));

    // A newer backup: the entries it holds are over the keeping time and go.
    const QString g = folder("bk2");
    click(0, g, "备份完成");
    now = now.addDays(10);
    ledger -= call(5, now.date());
    restart();
    restart();
    EXPECT_EQ(inJournalFile(), 1);
    EXPECT_EQ(remainOf(7), ledger);
}

// A backup the journal was never told of: its note lost, or a station file
// without a mark (a backup set made before the marks, a file copied into the
// backup folder by hand). Found in 数据库管理's folder, it is placed by its
// own mark or by its rows: 500 days on, with calls and starts since, putting
// it back gives every balance exactly.
class UnnotedBackupTest : public BackupHorizonTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnnotedBackupTest, ABackupNeverNotedStillGetsEveryEntrySinceIt) {
    const bool unmarked = GetParam();
    for (int m = 1; m <= 2; ++m) call(m, now.date());
    restart();
    // Into the folder the window proposes.
    frmDBManager& w = frmDBManager::instance();
    w.show();
    w.opt_Click(0);
    const QString f = w.txtPath->text();
    click(0, f, "备份完成");
    dbPhoneCur.execute("DELETE FROM tab_notes WHERE varname LIKE 'TarvoBackupMark:%'");
    if (unmarked) Database::open(f + "Switch.mdb").execute("DELETE FROM Variant WHERE varname=?", {ModSwitch::kChargeMark});
    Currency ledger = remainOf(7);
    for (int m = 3; m <= 5; ++m) ledger -= call(m, now.date());
    restart();
    ledger -= letGo(6);
    EXPECT_GE(inJournalFile(), 3);

    click(2, f, "数据恢复成功");
    const QString told = lastBox();
    EXPECT_EQ(remainOf(7), ledger) << told.toStdString();
}

INSTANTIATE_TEST_SUITE_P(NoteLostOrFileUnmarked, UnnotedBackupTest, ::testing::Bool());

// The same for the users' table copied by 备份 in 用户管理 ("Backup.mdb"):
// put back by 恢复 after the keeping time, every balance follows the journal.
TEST_F(BackupHorizonTest, AUsersTableBackupPutBackAfterTheKeepingTimeStillGetsEveryEntrySinceIt) {
    ASSERT_NO_FATAL_FAILURE(backUpTable());
    Currency ledger = remainOf(7);
    for (int m = 1; m <= 3; ++m) ledger -= call(m, now.date());
    restart();
    ledger -= letGo(4);
    EXPECT_EQ(inJournalFile(), 3);
    const QStringList boxes = restoreTable();
    EXPECT_EQ(remainOf(7), ledger);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

// The users' table put back with a box of what it changed: the box is kept in
// the restore's own commit, so a kill while it is up leaves it for the next
// start, which shows it once. Before, the next start said nothing.
TEST_F(BackupHorizonTest, TheUsersTableRestoresBoxOutlivesAKillWhileItIsUp) {
    ASSERT_NO_FATAL_FAILURE(backUpTable());
    // A copy that does not say how far the journal went, nor can be placed in
    // it (a balance no entry gave): each balance it changes is named.
    {
        Database backup = Database::open(console::BackupFilePath());
        backup.execute("DROP TABLE TarvoBackupMarks");
        backup.execute("UPDATE User SET remain=remain+10000 WHERE userid=7");
    }
    call(1, now.date());
    script::answer("要从备份库恢复数据吗?", platform::rYes);
    script::whileShown([](const QString& text) {
        if (text.contains("差额已随恢复计入")) throw std::runtime_error("killed while the box is up");
    });
    EXPECT_THROW(console::TableRestore(QStringLiteral("User"), 7, QStringLiteral("用户管理")), std::runtime_error);
    script::whileShown(nullptr);
    const qsizetype before = script::shown().size();
    script::answer("差额已随恢复计入", platform::rOK);
    restart();
    ASSERT_EQ(script::shown().size(), before + 1);
    EXPECT_TRUE(holds(lastBox(), "用户7"));
    restart();
    EXPECT_EQ(script::shown().size(), before + 1);
}

// Two backups whose marks differ: 数据库管理's onto a disk taken away since,
// then the users' table. Entries over the keeping time go only up to the
// older mark: the disk put back, its backup still gets every entry since it.
TEST_F(BackupHorizonTest, AgedEntriesGoOnlyUpToTheOlderOfTwoBackupsMarks) {
    const QString f = folder("stick");
    click(0, f, "备份完成");
    Currency ledger = remainOf(7);
    for (int m = 1; m <= 3; ++m) ledger -= call(m, now.date());
    ASSERT_NO_FATAL_FAILURE(backUpTable());
    ASSERT_TRUE(QDir().rename(f, dir->appPath() + "away"));
    restart();
    ledger -= letGo(4);
    ASSERT_TRUE(QDir().rename(dir->appPath() + "away", f));
    click(2, f, "数据恢复成功");
    const QString told = lastBox();
    EXPECT_EQ(remainOf(7), ledger) << told.toStdString();
    EXPECT_TRUE(lacks(told, "不存在"));
}
