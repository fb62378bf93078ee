// The journal keeps what the newest backup needs: a backup taken by 数据库管理
// and put back after the keeping time still gets every entry since it.
#include "admin/BackupRoadsFixture.h"

#include <QFileInfo>

using namespace admintest;
using platform::Database;

namespace {

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
