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

}  // namespace

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
