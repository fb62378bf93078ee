// A call made with an account code is charged to the account's owner, not
// the extension's: a station file put back whose owners differ from the
// charges since names the account the charge went through, never the
// extension that made the call.
#include "admin/BackupRoadsFixture.h"
#include "billing/ArchiveBills.h"
#include "console/frmPABX.h"
#include "core/books/TableCopy.h"
#include "params/NavTree.h"
#include "params/SavePara.h"

#include <ostream>
#include <string>

using namespace admintest;

namespace {

// User 7 owns extension 5, user 8 (30.00) account 0012.
class AccountChargeLineTest : public BackupRoadsTest {
protected:
    void seed() override {
        addUser(8, "30.00", 1);
        dbSwitch.execute("UPDATE account SET account='0012', userid=8 WHERE address=2048");
    }
    // A call of extension 5 dialling account 12 at 9:01: 0.20 to the account's owner.
    Currency accountCall() {
        call(5, 1, QDate(2026, 6, 15), "12");
        return yuan("0.20");
    }
    // The account's owner changed as a release before owner entries did: no entry.
    static void giveAccountUnloggedTo(qint32 userid) {
        dbSwitch.execute("UPDATE account SET userid=? WHERE address=2048", {userid});
    }
    // Backed up, `sinceBackup` done, one account call charged to 8 (checked),
    // `afterCall` done, put back: the box.
    QString putBackAfterAccountCall(const std::function<void()>& sinceBackup = {},
                                    const std::function<void()>& afterCall = {}) {
        click(0, folder("bk"), "备份完成");
        if (sinceBackup) sinceBackup();
        sevenAfter = remainOf(7);
        eightAfter = remainOf(8);
        eightAfter -= accountCall();
        EXPECT_EQ(remainOf(7), sevenAfter);
        EXPECT_EQ(remainOf(8), eightAfter);
        if (afterCall) afterCall();
        click(2, folder("bk"), "数据恢复成功");
        return script::shown().last().text;
    }
    void expectLedger(const QString& told) {
        EXPECT_EQ(ModSwitch::BalanceOf(7), sevenAfter) << told.toStdString();
        EXPECT_EQ(ModSwitch::BalanceOf(8), eightAfter) << told.toStdString();
    }
    Currency sevenAfter, eightAfter;
};

class AccountChargeArchived : public AccountChargeLineTest, public ::testing::WithParamInterface<bool> {};

// The account's owner the same in the copy: the charge went where the file
// puts it, and extension 5 (user 7's) is no difference to name; also once
// the call is archived (the night after it) and the station file's copy of
// it let go: its year file tells the account.
TEST_P(AccountChargeArchived, AnAccountChargeNamesNoExtension) {
    const QString told = putBackAfterAccountCall({}, [&] {
        if (!GetParam()) return;
        billing::ArchiveBills();
        ASSERT_EQ(count("Tab_Phone"), 0);
        dbSwitch.execute(QStringLiteral("DELETE FROM %1").arg(ModSwitch::kCallMirror));
    });
    EXPECT_FALSE(told.contains("分机5")) << told.toStdString();
    EXPECT_FALSE(told.contains("帐号0012")) << told.toStdString();
    expectLedger(told);
}

INSTANTIATE_TEST_SUITE_P(AsCalledOrArchived, AccountChargeArchived, ::testing::Bool());

// The account given from 7 to 8 since the copy without an entry: the line
// names the account, once, with the user its charge went to.
TEST_F(AccountChargeLineTest, AnAccountGivenSinceTheCopyIsNamedByTheAccount) {
    giveAccountUnloggedTo(7);
    const QString told = putBackAfterAccountCall([&] { giveAccountUnloggedTo(8); });
    EXPECT_TRUE(told.contains("以下帐号的用户与备份之后的话费记录不同")) << told.toStdString();
    EXPECT_EQ(told.count("帐号0012：现属用户7，备份之后的话费记入用户8 用户8"), 1) << told.toStdString();
    EXPECT_FALSE(told.contains("分机5")) << told.toStdString();
    expectLedger(told);
}

// The call's row gone from every file (deleted by the operator): the entry
// cannot tell whether it went through the extension or an account, and the
// extension's line says so rather than give it as the extension's.
TEST_F(AccountChargeLineTest, AChargeWhoseCallIsGoneIsNamedWithTheDoubt) {
    const QString told = putBackAfterAccountCall({}, [&] {
        dbPhoneCur.execute("DELETE FROM Tab_Phone");
        dbSwitch.execute(QStringLiteral("DELETE FROM %1").arg(ModSwitch::kCallMirror));
    });
    EXPECT_EQ(told.count("分机5：现属用户7，备份之后的话费记入用户8 用户8（其话单已不在，无法确定这笔话费是否经帐号计入）"), 1)
        << told.toStdString();
    expectLedger(told);
}

// 帐号参数 read from the switch carries the owner the station held when it was
// read; taken over after the account was given since, it gives the account
// back to that owner. That is an owner entry too: a station file put back
// later leaves the account with the owner it has, who is charged for its calls.
TEST_F(AccountChargeLineTest, AnOwnerATableReadFromTheSwitchGivesIsAnEntry) {
    (void)frmPABX::instance();   // the tree is the console's
    ModSwitch::BuildNavTree();
    ASSERT_TRUE(frmPABX::instance().ShowView("Account"));
    ASSERT_TRUE(ModSwitch::CreatePTable("Account"));
    dbSwitch.execute("INSERT INTO pAccount SELECT * FROM account");   // read while user 8 owns it
    click(0, folder("bk"), "备份完成");
    ModSwitch::MoveOwners([] { giveAccountUnloggedTo(7); });
    ParaMode = "UpSend";
    script::answer("要保存上传的参数吗?", platform::rYes);
    EXPECT_TRUE(ModSwitch::SaveSwitchPara(3, true));
    ASSERT_EQ(dbSwitch.scalar("SELECT userid FROM account WHERE address=2048").toLongLong(), 8);

    click(2, folder("bk"), "数据恢复成功");
    const QString told = script::shown().last().text;
    EXPECT_EQ(dbSwitch.scalar("SELECT userid FROM account WHERE address=2048").toLongLong(), 8) << told.toStdString();
    sevenAfter = remainOf(7);
    eightAfter = remainOf(8);
    eightAfter -= accountCall();
    expectLedger(told);
}

// 表恢复 of the extensions' and the accounts' tables puts back the owners the
// copy holds: each one it changes is an entry of the journal, named in its
// box, so that a station file put back later gives the place to the owner
// the 表恢复 gave it, and its calls are charged to that user.
// What a parameter view's 表恢复 is run on: the view, its right and caption,
// the place whose owner changes and how its box names it.
struct Place {
    const char* view;
    int right;
    const char* caption;
    const char* table;
    int address;
    const char* named;
    const char* account;   // the account a call dials, "" for none
};

void PrintTo(const Place& p, std::ostream* os) { *os << p.view; }

const Place kExtension{"Extension", 6, "分机参数", "extension", 5, "分机5", ""};
const Place kAccount{"Account", 3, "帐号参数", "account", 2048, "帐号0012", "12"};

// User 7 owns extension 5 and account 0012; user 8 has 30.00.
class ExtensionTableRestoreTest : public BackupRoadsTest {
protected:
    void seed() override {
        addUser(8, "30.00", 1);
        dbSwitch.execute("UPDATE account SET account='0012', userid=7 WHERE address=2048");
    }
    qint64 ownerOf(const Place& p) {
        return dbSwitch.scalar(QStringLiteral("SELECT userid FROM %1 WHERE address=?").arg(p.table), {p.address}).toLongLong();
    }
    // The owner entries the call file's log holds, kind 6 by place.
    QList<QPair<qint64, qint64>> ownerEntries() {
        QList<QPair<qint64, qint64>> out;
        for (platform::RowReader r = dbPhoneCur.rows(QStringLiteral("SELECT f_calladdr, f_userid FROM %1 WHERE f_kind=? ORDER BY f_seq")
                                                          .arg(dbPhoneCur.qualified(ModSwitch::kChargeLog)),
                                                      {int(ModSwitch::LogKind::Owner)});
             r.next();)
            out.append({r.integer(0), r.integer(1)});
        return out;
    }
    // A call of extension 5 (dialling `p`'s account) at 9:`minute`: under
    // three minutes, 0.20 at the local rate.
    Currency callOn(const Place& p, int minute) {
        call(5, minute, QDate(2026, 6, 15), p.account);
        return yuan("0.20");
    }
    void expectBalances(Currency seven, Currency eight, const QString& told) {
        EXPECT_EQ(ModSwitch::BalanceOf(7), seven) << told.toStdString();
        EXPECT_EQ(ModSwitch::BalanceOf(8), eight) << told.toStdString();
    }
};

class OwnedTableRestore : public ExtensionTableRestoreTest, public ::testing::WithParamInterface<Place> {};

}  // namespace

// The place given from user 7 to user 8 since the table's copy, a call of
// it waiting charged to 8: 表恢复 gives it back to 7, names it once with both
// owners (at the next start when killed while its box stands), enters that as
// one owner entry, and the charge stays with 8. The station file put back
// from a backup taken before the 表恢复 then keeps the place with 7, whose
// next call it charges.
TEST_P(OwnedTableRestore, AnOwnerItPutsBackIsNamedAndOutlivesAnOlderStationFilePutBack) {
    const Place& p = GetParam();
    Currency seven = remainOf(7), eight = remainOf(8);
    ASSERT_NO_FATAL_FAILURE(backUpTable(p.view, p.right, p.caption));
    giveOwner(p.table, p.address, 8);
    const qsizetype given = ownerEntries().size();
    click(0, folder("bk"), "备份完成");
    // Its charge waits in the log: the station file refuses it.
    dbSwitch.execute("CREATE TRIGGER refuse BEFORE UPDATE ON user BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    eight -= callOn(p, 1);
    dbSwitch.execute("DROP TRIGGER refuse");
    ASSERT_EQ(ModSwitch::UnappliedCharges(8), yuan("0.20"));

    // 表恢复 of `p`'s view killed while its box stands: the next start shows
    // its boxes, the one after none.
    script::answer("要从备份库恢复数据吗?", platform::rYes);
    EXPECT_TRUE(testsupport::killedAtBox(QStringLiteral("随恢复改为备份中的用户"),
                                         [&] { console::TableRestore(p.view, p.right, p.caption); }));
    restart();
    const QString told = shownSince(0).join("\n----\n");
    script::reset();
    script::enable();
    restart();
    EXPECT_TRUE(script::shown().isEmpty());
    EXPECT_EQ(ownerOf(p), 7) << told.toStdString();
    const QString line = QStringLiteral("%1：恢复前属用户8 用户8，恢复后属用户7 用户7").arg(p.named);
    EXPECT_TRUE(told.contains("随恢复改为备份中的用户：\n" + line)) << told.toStdString();
    EXPECT_EQ(told.count(p.named), 1) << told.toStdString();
    const QList<QPair<qint64, qint64>> entries = ownerEntries().mid(given);
    EXPECT_EQ(entries, (QList<QPair<qint64, qint64>>{{ModSwitch::OwnerPlace(p.table == std::string("account"), p.address), 7}}));
    expectBalances(seven, eight, told);

    click(2, folder("bk"), "数据恢复成功");
    const QString putBack = script::shown().last().text;
    EXPECT_EQ(ownerOf(p), 7) << putBack.toStdString();
    EXPECT_FALSE(putBack.contains(p.named)) << putBack.toStdString();
    expectBalances(seven, eight, putBack);
    seven -= callOn(p, 2);
    expectBalances(seven, eight, putBack);
}

INSTANTIATE_TEST_SUITE_P(Tables, OwnedTableRestore, ::testing::Values(kExtension, kAccount),
                         [](const ::testing::TestParamInfo<Place>& i) { return std::string(i.param.view); });

// A 表恢复 that changes no owner (extension 5 given away and back since the
// copy) says nothing of owners and enters nothing.
TEST_F(ExtensionTableRestoreTest, ARestoreThatChangesNoOwnerSaysNothingAndEntersNothing) {
    ASSERT_NO_FATAL_FAILURE(backUpTable(kExtension.view, kExtension.right, kExtension.caption));
    giveExtension(kExtension.address, 8);
    giveExtension(kExtension.address, 7);
    const qsizetype entries = ownerEntries().size();
    EXPECT_EQ(restoreTable(kExtension.view, kExtension.right, kExtension.caption), QStringList());
    EXPECT_EQ(ownerEntries().size(), entries);
    EXPECT_EQ(ownerOf(kExtension), 7);
}
