// One user's download and the account and extension downloads under it,
// against the simulated switch.
#include "transfer/TransferFixture.h"

#include "core/Deposit.h"
#include "transfer/ModToolbar.h"

#include <QScopeGuard>

using namespace transfertest;

namespace {

class UserDownload : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        dbSwitch.execute("insert into user(userid,username,balancemode,locked) values(7,'用户7',1,0)");
        account(2050, "0123", 7, 2, 5);
        account(2051, "0456", 7, 3, 14);
        dbSwitch.execute("update extension set userid=7,monitored=1,firstgrade=3,pwdgrade=5,secgrade=4,bset=1 where address=5");
    }
    void account(int address, const char* code, qint64 uid, int g1, int g2) {
        dbSwitch.execute("update account set account=?,userid=?,firstgrade=?,secgrade=?,bset=1,clearpassword=1 where address=?",
                         {code, uid, g1, g2, address});
    }
    std::optional<sim::AccountF> switchAccount(int address) {
        const auto r = sw.row(sim::tables::Account, address);
        return r ? sim::decodeAccount(*r) : std::nullopt;
    }
    std::optional<sim::ExtParaF> switchExtension(int address) {
        const auto r = sw.row(sim::tables::Extension, address);
        return r ? sim::decodeExtPara(*r) : std::nullopt;
    }
};

// What the engine tells the windows of a download, in order.
class RecordingView : public ModToolbar::DownloadView {
public:
    void Step(const QString& text) override { told << "step " + text; }
    void AccountSent(qint64 address) override { told << QStringLiteral("account %1").arg(address); }
    void ExtensionSent(qint64 address) override { told << QStringLiteral("extension %1").arg(address); }
    void HoldDrawing(bool hold) override { told << (hold ? "hold" : "draw"); }
    QStringList told;
};

}  // namespace

TEST_F(UserDownload, AccountsThenTheirEndThenExtensions) {
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    // Then every row is read back, each answer acknowledged.
    EXPECT_EQ(codes(), (QStringList{"8C08", "8C08", "810300", "8B16", "8804", "8203", "8804", "8203", "8804", "8203"}));
    auto a = switchAccount(2050);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->code, "0123");
    EXPECT_EQ(a->grade1, 2);
    EXPECT_FALSE(a->keepPassword);   // the stored clear request goes once ...
    EXPECT_EQ(switchAccount(2051)->grade2, 15);
    auto e = switchExtension(5);
    ASSERT_TRUE(e);
    EXPECT_EQ((std::vector<int>{e->grade1, e->pwdGrade, e->grade2}), (std::vector<int>{3, 5, 4}));
    EXPECT_EQ(count("select count(*) from account where bset<>0 or clearpassword<>0"), 0);   // ... and is used up
    EXPECT_EQ(count("select count(*) from extension where bset<>0"), 0);

    // Given back: every account free, restricted grades.
    sw.clearReceived();
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 2, 0, 0, 0));
    EXPECT_EQ(sent().first(), "8C080802FFFF8A0A");
    EXPECT_EQ(switchExtension(5)->grade1, 10);

    // The default user only when forced.
    sw.clearReceived();
    EXPECT_TRUE(ModToolbar::DownUserPara(0, 0, 0, 0, 0));
    EXPECT_TRUE(sent().isEmpty());
    dbSwitch.execute("update extension set userid=8 where address<>5");   // user 0 keeps one account only
    dbSwitch.execute("update account set userid=8 where userid=0 and address<>2052");
    EXPECT_TRUE(ModToolbar::DownUserPara(0, 0, 0, -1, 0));
    EXPECT_EQ(codes(), (QStringList{"8C08", "810300", "8804", "8203"}));
}

TEST_F(UserDownload, ARefusedAccountStopsTheUser) {
    sw.addRule("8C08", sim::Reply::Status03, 2, 1);   // both attempts of the second account
    EXPECT_FALSE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_EQ(codes(), (QStringList{"8C08", "8C08", "8C08", "8804", "8203"}));   // the refused one is not read
    EXPECT_EQ(count("select bset from account where address=2050"), 0);
    EXPECT_NE(count("select bset from account where address=2051"), 0);
    EXPECT_NE(count("select bset from extension where address=5"), 0);
}

TEST_F(UserDownload, DepositOwnersLockedOwnersAndOwnersWithoutARow) {
    dbSwitch.execute("update extension set depositgrade=8 where address=5");
    dbSwitch.execute("update account set depositgrade=6 where address=2050");
    dbSwitch.execute("update user set balancemode=0 where userid=7");
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_EQ(switchAccount(2050)->grade1, 6);
    EXPECT_EQ(switchExtension(5)->grade1, 8);
    EXPECT_EQ(switchExtension(5)->grade2, 8);

    dbSwitch.execute("update user set locked=1 where userid=7");
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_EQ(switchAccount(2050)->grade1, 10);
    EXPECT_EQ(switchExtension(5)->grade1, 10);

    // Nobody owns the rows any more: as an unlocked owner who pays monthly.
    dbSwitch.execute("delete from user where userid=7");
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_EQ(switchAccount(2050)->grade1, 2);
    EXPECT_EQ(switchExtension(5)->grade1, 3);
}

TEST_F(UserDownload, TheDepositCheckSendsAChangedGrade) {
    dbSwitch.execute("update user set balancemode=0, remain=? where userid=7", {platform::Currency::fromYuan(5)});
    ModSwitch::SetVariant("Deposit0", "10");
    ModSwitch::SetVariant("Deposit1", "20");
    EXPECT_TRUE(ModGeneral::CheckDeposit(7, true, false));
    EXPECT_EQ(switchExtension(5)->grade1, 3);   // grade 2 lies below the extension's own grade
    EXPECT_EQ(switchAccount(2050)->grade1, 2);
    EXPECT_EQ(count("select count(*) from extension where bset<>0 or depositgrade<>2 and address=5"), 0);

    // The switch refuses the extension: the row stays pending for the next download.
    sw.clearReceived();
    sw.addRule("8B16", sim::Reply::Status03, 2);
    dbSwitch.execute("update user set remain=? where userid=7", {platform::Currency::fromYuan(15)});
    EXPECT_FALSE(ModGeneral::CheckDeposit(7, true, false));
    EXPECT_EQ(count("select depositgrade from extension where address=5"), 3);
    EXPECT_NE(count("select bset from extension where address=5"), 0);
}

TEST_F(UserDownload, TheViewHearsOfEveryAcknowledgedRowAndDrawsAgainAtEveryExit) {
    RecordingView view;
    ModToolbar::SetDownloadView(&view);
    const auto windowsAgain = qScopeGuard([] { ModToolbar::UseDownloadWindows(); });
    sw.addRule("8B16", sim::Reply::Status03, 2);   // the extension refused
    EXPECT_FALSE(ModToolbar::DownUserPara(7, 0, 0, 0, 1));
    // Rows are told sent once the run's answers are judged: a user's accounts
    // and extensions are one run, judged after its last row.
    EXPECT_EQ(view.told, (QStringList{"step 下载第1个帐号 0123", "step 下载第2个帐号 0456", "hold", "step 下载分机参数5",
                                      "account 2050", "account 2051", "draw"}));

    // A row that cannot be encoded throws; the drawing comes back all the same.
    view.told.clear();
    dbSwitch.execute("update extension set firstgrade='x' where address=5");
    EXPECT_ANY_THROW(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_EQ(view.told, (QStringList{"hold", "account 2050", "account 2051", "draw"}));

    // Without windows the rows go and their flags clear as with them.
    ModToolbar::SetDownloadView(nullptr);
    dbSwitch.execute("update extension set firstgrade=3, bset=1 where address=5");
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 0, 0, 0, 1));
    EXPECT_EQ(count("select count(*) from extension where bset<>0 and address=5"), 0);
    EXPECT_EQ(view.told.size(), 4);
}

// A lock whose extension row the switch refuses, while the answer before it
// comes again 10 ms later: the user is not taken as locked on the switch.
TEST_F(UserDownload, ALockIsNeverDoneOnAnotherRowsAnswer) {
    freshLink();
    sw.setAckTiming(10, 10, 1.0, 10, 10, 1);   // from the second answer on
    sw.addRule("8B1605", sim::Reply::Status03, -1);
    EXPECT_FALSE(ModToolbar::DownUserPara(7, 1, 0, 0, 0));
    EXPECT_NE(count("select bset from extension where address=5"), 0);
    sw.setAckTiming(-1, -1, 0, 0, 0);
    drain();
}

// An account whose clear-password row goes unanswered twice, the switch
// keeping its password: the read-back sees the password-kept bit the switch
// holds, so the clear stays pending and goes again.
TEST_F(UserDownload, AClearPasswordTheSwitchDidNotTakeStaysPending) {
    sw.setRow(sim::tables::Account, 2050, QByteArray::fromHex("8C0808020123" "8205"));
    sw.addRule("8C080802", sim::Reply::Silent, 2);
    EXPECT_FALSE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_TRUE(switchAccount(2050)->keepPassword);
    EXPECT_EQ(count("select clearpassword from account where address=2050"), 1);
    EXPECT_NE(count("select bset from account where address=2050"), 0);

    // Sent again on a line that answers: the switch clears it, and so does the station.
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_FALSE(switchAccount(2050)->keepPassword);
    EXPECT_EQ(count("select clearpassword+bset from account where address=2050"), 0);
}

// On a line that has never repeated, the switch sends one answer twice, the
// copy coming while the next row waits, and that row's frame is lost: the
// copy looks like its acknowledgement on a clean line, yet the row decides
// access (an account, an extension's restrictions, a deposit user's grade),
// so the switch is read: the lost row stays pending and nothing says done.
TEST_F(UserDownload, ACopyTakenForALostRowsAnswerLeavesThatRowPending) {
    auto copyThenLost = [&](const char* copied, const char* lost) {
        freshLink();
        sw.clearRules();
        sw.setLateReplyMs(30);
        sw.addRule(copied, sim::Reply::Echoed);
        sw.addRule(lost, sim::Reply::Silent);
    };
    copyThenLost("8C080802", "8C080803");
    EXPECT_FALSE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_FALSE(switchAccount(2051));
    EXPECT_NE(count("select bset from account where address=2051"), 0);
    EXPECT_EQ(count("select bset from account where address=2050"), 0);
    drain();

    // An extension table download.
    dbSwitch.execute("update extension set bset=1 where address<6");
    copyThenLost("8B1602", "8B1603");
    CurTable = "Extension";
    choose(1);
    ModToolbar::DownTable(6);
    EXPECT_EQ(status(), "下载失败");
    EXPECT_FALSE(switchExtension(3));
    EXPECT_NE(count("select bset from extension where address=3"), 0);
    drain();

    // A deposit user's grade, sent as the deposit check finds it changed.
    dbSwitch.execute("update user set balancemode=0, remain=? where userid=7", {platform::Currency::fromYuan(5)});
    ModSwitch::SetVariant("Deposit0", "10");
    ModSwitch::SetVariant("Deposit1", "20");
    sw.clearTables();
    copyThenLost("810300", "8B1605");
    EXPECT_FALSE(ModGeneral::CheckDeposit(7, true, false));
    EXPECT_FALSE(switchExtension(5));
    EXPECT_NE(count("select bset from extension where address=5"), 0);
    drain();
}

// A run in doubt (the extension's first attempt unheard) whose read-back's
// first asks the switch answers twice, so the answers after them come behind
// their asks: every row is still read, and the rows the switch holds are done.
TEST_F(UserDownload, AReadBackMeetingAnswersBehindItsAsksReadsEveryRow) {
    account(2052, "0789", 7, 2, 5);
    account(2053, "0790", 7, 2, 5);
    sw.addRule("8B1605", sim::Reply::Silent);
    // The first two asks answered at once and again 100 ms after, the others
    // 100 ms late: the third hears both copies before its own answer.
    sw.setLateReplyMs(100);
    sw.addRule("8804", sim::Reply::Echoed, 2);
    sw.addRule("8804", sim::Reply::Late, -1);
    EXPECT_TRUE(ModToolbar::DownUserPara(7, 0, 0, 0, 0));
    EXPECT_EQ(count("select count(*) from account where bset<>0"), 0);
    EXPECT_EQ(count("select count(*) from extension where bset<>0"), 0);
}
