// The action after a payment, against the simulated switch on a pseudo-terminal.
#include "transfer/TransferFixture.h"

#include "billing/BillingSeams.h"
#include "billing/Payments.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "core/books/ChargeLog.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "support/RefusalWalk.h"
#include "transfer/ModToolbar.h"
#include "transfer/UserDownload.h"

#include <QDialog>
#include <atomic>

using namespace transfertest;

namespace {

class AfterPaymentAtTheSwitch : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        platform::testing::setNow([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); });
        dbSwitch.execute("insert into user(userid,username,balancemode) values(7,'庚',0), (0,'默认用户',2)");
        dbSwitch.execute("update account set account='0123',userid=7,firstgrade=2,secgrade=5 where address=2050");
        dbSwitch.execute("update extension set userid=7,firstgrade=3,secgrade=4 where address=5");
    }
    QDateTime today() const { return QDateTime(QDate(2026, 12, 7), QTime(0, 0)); }
    qint64 count(const char* sql) { return dbSwitch.scalar(sql).toLongLong(); }
};

TEST_F(AfterPaymentAtTheSwitch, LockThenDeleteFreesEverythingTheUserHeld) {
    EXPECT_FALSE(billing::AfterPayment(7, "庚", billing::kLockUser, today()));
    auto acc = sw.row(sim::tables::Account, 2050);
    ASSERT_TRUE(acc);
    EXPECT_EQ(sim::decodeAccount(*acc)->grade1, 10);   // locked
    EXPECT_EQ(sim::decodeExtPara(*sw.row(sim::tables::Extension, 5))->grade1, 10);
    EXPECT_EQ(count("select count(*) from user where userid=7"), 1);

    // Delete: a period ending before today deletes nothing and sends nothing.
    sent();   // the lock's read-back heard out, its last acknowledgement too
    sw.clearReceived();
    EXPECT_FALSE(billing::AfterPayment(7, "庚", billing::kDeleteUser, today().addDays(-1)));
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_TRUE(billing::AfterPayment(7, "庚", billing::kDeleteUser, today()));
    EXPECT_EQ(sent().first().left(12), "8C080802FFFF");   // the account given back first
    EXPECT_EQ(count("select count(*) from user where userid=7"), 0);
    EXPECT_EQ(count("select count(*) from account where userid=7 or account='0123'"), 0);
    EXPECT_EQ(count("select userid from extension where address=5"), 0);

    // The default user: nothing sent, nothing deleted.
    sent();
    sw.clearReceived();
    EXPECT_FALSE(billing::AfterPayment(0, "默认用户", billing::kDeleteUser, today()));
    EXPECT_FALSE(billing::AfterPayment(0, "默认用户", billing::kLockUser, today()));
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(count("select count(*) from user where userid=0"), 1);
}

// The settlement's own deletion (用户结算, 全部付清, 删除用户) against the
// switch: the release of the user's account and extension is written ahead,
// so a lock or a refused write between the switch and the station never
// leaves the switch holding them free while the station keeps the user as
// their owner with nothing pending; nothing is released or deleted twice.
class SettlementRelease : public AfterPaymentAtTheSwitch {
protected:
    void SetUp() override {
        AfterPaymentAtTheSwitch::SetUp();
        other = platform::Database::open(dbSwitch.path());
        billing::testing::Seams s;
        s.printerPresent = [] { return false; };
        billing::testing::setSeams(s);
        platform::script::onModal("frmPayMoneny", [](QDialog* d) { static_cast<frmPayMoneny*>(d)->Command1_Click(2); });
        platform::script::onModal("frmPayed", [](QDialog* d) {
            auto* f = static_cast<frmPayed*>(d);
            f->fgUser->setRow(1);
            f->fgUser->setRowSel(f->fgUser->Rows() - 1);
            f->cmdPay_Click();
            d->accept();
        });
    }
    void TearDown() override {
        sw.setObserver({});
        if (locked) other.execute("ROLLBACK");
        other.close();
        AfterPaymentAtTheSwitch::TearDown();
    }
    // User `u`, 50.00 paid in and a call of 20.00 due, owns account 2050 and
    // extension 5, which the switch holds as the station does.
    void owner(qint64 u) {
        ModSwitch::MoveBalances([&] {
            dbSwitch.execute("INSERT INTO user (userid, username, balancemode, lastdate, deposit, remain) VALUES (?,?,0,?,?,?)",
                             {u, QStringLiteral("用户%1").arg(u), QDateTime(QDate(2026, 11, 1), QTime(0, 0)),
                              platform::Currency::fromFen(5000), platform::Currency::fromFen(3000)});
        }, u);
        dbSwitch.execute("update account set account='0123', userid=?, bSet=0 where address=2050", {u});
        dbSwitch.execute("update extension set userid=?, bSet=0 where address=5", {u});
        testsupport::storeCall(dbPhoneCur, {.calladdr = 5, .date = QDateTime(QDate(2026, 11, 2), QTime(10, 0)).addSecs(60 * u),
                                            .secs = 60, .fee = platform::Currency::fromFen(2000), .zh = "    ", .phmode = 7,
                                            .userid = u});
        ASSERT_TRUE(ModToolbar::DownUserPara(u, 0, 0, 0, 0));
        sent();
        sw.clearReceived();
    }
    // 用户结算 of `u` with 删除用户 after the payment, paid in full.
    void settle(qint64 u) {
        frmBalanceBill::unload();
        frmBalanceBill& b = frmBalanceBill::instance();
        b.optCL[2]->setChecked(true);
        b.itemByKey(QStringLiteral("K%1").arg(u))->setCheckState(0, Qt::Checked);
        b.cmdBalance_Click(1);
    }
    void lockOn(const QString& prefix) {
        sw.setObserver([this, prefix](const sim::Frame& f) {
            if (f.startsWith(prefix) && !locked) {
                other.execute("BEGIN IMMEDIATE");
                locked = true;
            }
        });
    }
    void unlock() {
        sw.setObserver({});
        other.execute("ROLLBACK");
        locked = false;
    }
    bool kept(qint64 u) { return !dbSwitch.scalar("select 1 from user where userid=?", {u}).isNull(); }
    bool releasedAtSwitch() {
        const auto a = sim::decodeAccount(sw.row(sim::tables::Account, 2050).value_or(QByteArray()));
        return a && a->code == "FFFF";
    }
    int releases(const QStringList& frames) {
        return int(frames.filter(QRegularExpression("^8C080802FFFF")).size());
    }
    int intents(qint64 u) {
        int n = 0;
        for (const auto& w : ModSwitch::PendingWriteAhead(dbSwitch, transfer::kReleaseIntent)) n += w.key == QString::number(u);
        return n;
    }
    // The station keeps `u` as the owner with nothing pending while the
    // switch holds the account free: the books and the switch disagree unseen.
    bool silentlyApart(qint64 u) { return kept(u) && releasedAtSwitch() && intents(u) == 0 && !marked(); }
    // The account waits for its download.
    bool marked() { return dbSwitch.scalar("select count(*) from account where address=2050 and bSet<>0").toInt() > 0; }

    platform::Database other;
    std::atomic<bool> locked{false};
};

// The lock comes while the switch releases the extension: the account and
// extension are free on the switch, the station cannot delete; the release
// stays written, and the next download finishes the deletion as the switch
// shows it, sending nothing again.
TEST_F(SettlementRelease, ADeletionUnderALockIsFinishedAtTheNextDownloadNotReleasedTwice) {
    owner(9);
    lockOn("8B1605");
    platform::script::answer("可能已在交换机上释放", platform::rOK);
    settle(9);
    unlock();
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    QStringList frames = sent();
    EXPECT_EQ(releases(frames), 1);
    EXPECT_TRUE(releasedAtSwitch());
    EXPECT_TRUE(kept(9));
    EXPECT_FALSE(silentlyApart(9));
    EXPECT_EQ(intents(9), 1);

    sw.clearReceived();
    platform::script::answer("其删除现已完成", platform::rOK);
    CurTable = "ExtraHead";
    dbSwitch.execute("update ExtraHead set bSet=1 where Address=0");
    ModToolbar::DownTable(1);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    frames = sent();
    EXPECT_EQ(releases(frames), 0);
    EXPECT_FALSE(kept(9));
    EXPECT_EQ(intents(9), 0);
    EXPECT_EQ(dbSwitch.scalar("select account||'/'||userid from account where address=2050").toString(), "FFFF/0");
    EXPECT_EQ(testsupport::refusal::journalCount(9, int(ModSwitch::LogKind::UserDeleted)), 1);
}

// The same deletion while the disk refuses one write or one sync of either
// file: after each, the switch and the books never part unseen; once the
// next download has settled what was left, the user is gone exactly when the
// switch holds the account free, each release went once and each deletion
// is one entry of the journal.
TEST_F(SettlementRelease, ADeletionWhoseWriteIsRefusedNeverLeavesTheSwitchAndTheBooksApartUnseen) {
    namespace refusal = testsupport::refusal;
    QStringList frames;
    refusal::walk(
        [&](int i) {
            const refusal::MaybeBoxes said(
                {{"付款失败", platform::rOK}, {"删除用户", platform::rOK}, {"删除", platform::rOK}, {"", platform::rOK}});
            settle(100 + i);
            return !refusal::anyContains(said.shown(), "失败") && !refusal::anyContains(said.shown(), "错误");
        },
        [&](int i, bool said) {
            const qint64 u = 100 + i;
            frames = sent();
            EXPECT_EQ(said, !kept(u));
            EXPECT_LE(releases(frames), 1);
            EXPECT_FALSE(silentlyApart(u));
            if (!kept(u)) { EXPECT_TRUE(releasedAtSwitch()); }
            // The next download settles what was left, and releases nothing more.
            sw.clearReceived();
            {
                const refusal::MaybeBoxes told({{"", platform::rOK}});
                transfer::SettleSwitchIntents();
            }
            EXPECT_EQ(releases(sent()), 0);
            EXPECT_EQ(intents(u), 0);
            EXPECT_FALSE(silentlyApart(u));
            EXPECT_EQ(kept(u), !releasedAtSwitch() || marked());
            EXPECT_EQ(refusal::journalCount(u, int(ModSwitch::LogKind::UserDeleted)), kept(u) ? 0 : 1);
        },
        refusal::stationFiles(), [&](int i) { owner(100 + i); });
}

}  // namespace

