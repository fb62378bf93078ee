#include "billing/BillingSeams.h"
#include "billing/Payments.h"
#include "billing/Settlement.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmDetial.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "core/books/ChargeLog.h"
#include "support/Fixtures.h"
#include "support/RefusalWalk.h"

#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>

using platform::Currency;
namespace script = platform::script;

namespace {

QDateTime T(const char* s) { return platform::parseDate(QString::fromLatin1(s)); }

// One answer of the amount dialog: the text typed (null keeps the offer) and the button.
struct Answer {
    QString text;
    int button;   // 0 确定, 1 取消, 2 全部付清, -1 the close box
};

class PaymentTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        platform::testing::setNow([] { return T("2004-12-06 10:00:00"); });
        WorkerRights = QStringList{"0"};
        CurTable = "User";
        billing::testing::Seams s;
        s.printerPresent = [] { return true; };
        s.printReceipt = [this](const billing::ReceiptJob& j) { receipts << j; };
        s.consoleGrid = [this] { return &console; };
        billing::testing::setSeams(s);
        billing::setUserDownload([this](qint64 uid, int mode) {
            downloads << QStringLiteral("%1:%2").arg(uid).arg(mode);
            return switchAccepts;
        });
        console.setFormatString("用户编号|用户名称|上次结算日期|结算方式|预付押金|押金余额");
        console.setRows(1);
        // The amount dialog answers from the queue; every prompt is recorded.
        script::onModal("frmPayMoneny", [this](QDialog* d) {
            auto* f = static_cast<frmPayMoneny*>(d);
            prompts << f->Label1->text() + '|' + f->Text1->text();
            if (answers.isEmpty()) {
                d->reject();
                return;
            }
            const Answer a = answers.takeFirst();
            if (!a.text.isNull()) f->Text1->setText(a.text);
            if (a.button < 0) d->reject();
            else f->Command1_Click(a.button);
            // A refused amount leaves the dialog open: the next answer follows.
            if (f->isVisible()) f->Command1_Click(1);
        });
        // The paid statement pays at once (its rows as they come) and closes.
        script::onModal("frmPayed", [this](QDialog* d) {
            auto* f = static_cast<frmPayed*>(d);
            payRows.clear();
            for (int r = 1; r < f->fgUser->Rows(); ++r) {
                QStringList cells;
                for (int c = 0; c < 7; ++c) cells << f->fgUser->TextMatrix(r, c);
                payRows << cells;
            }
            if (f->fgUser->Rows() > 1) {
                f->fgUser->setRow(1);
                f->fgUser->setRowSel(f->fgUser->Rows() - 1);
            }
            if (pay) f->cmdPay_Click();
            f->accept();
        });
    }
    void addUser(qint64 id, const QString& name, int mode, const QVariant& last, qint64 depositFen, qint64 rentFen = 0) {
        dbSwitch.execute("INSERT OR REPLACE INTO user (userid, username, balancemode, lastdate, deposit, remain, rent) "
                         "VALUES (?,?,?,?,?,?,?)",
                         {id, name, mode, last, Currency::fromFen(depositFen), Currency::fromFen(depositFen),
                          Currency::fromFen(rentFen)});
        console.AddItem(QStringLiteral("%1\t%2\t\t\t%3\t%3").arg(id).arg(name, Currency::fromFen(depositFen).toString2()));
    }
    void call(qint64 user, int addr, const QString& zh, const char* date, qint64 fen, int mode = 7) {
        testsupport::storeCall(dbPhoneCur, {.calladdr = addr, .date = T(date), .secs = 60, .fee = Currency::fromFen(fen),
                                            .zh = zh, .phmode = mode, .userid = user});
    }
    QVariantList userRow(qint64 id) {
        platform::Recordset rs =
            dbSwitch.query("SELECT deposit, remain, lastdate, payed FROM user WHERE userid=?", {id});
        if (rs.empty()) return {};
        return {rs.cur("deposit").toString2(), rs.cur("remain").toString2(), rs.str("lastdate"), rs.lng("payed")};
    }
    // Settles the users checked in the window with `index`, as the operator does.
    void settle(QList<qint64> users, int index) {
        frmBalanceBill& b = frmBalanceBill::instance();
        for (qint64 u : users) b.itemByKey(QStringLiteral("K%1").arg(u))->setCheckState(0, Qt::Checked);
        b.cmdBalance_Click(index);
    }

    platform::FlexGrid console;
    QList<billing::ReceiptJob> receipts;
    QStringList downloads;
    bool switchAccepts = true;
    QList<Answer> answers;
    QStringList prompts;
    QList<QStringList> payRows;
    bool pay = true;
};

// A monthly user's three periods paid as one, with the rent each time; its
// period runs on, so 删除用户 keeps it and tells the operator, while the
// other user is deleted.
TEST_F(PaymentTest, ThreePeriodsPaidAsOneWithTheRentEachTime) {
    addUser(1, "甲", 0, T("2004-11-01 00:00:00"), 0);
    addUser(2, "乙", 1, T("2004-08-20 00:00:00"), 10000, 1000);
    call(1, 1, "    ", "2004-11-02 10:00:00", 2000);
    call(2, 5, "    ", "2004-08-21 10:00:00", 1234);
    call(2, 5, "    ", "2004-09-30 10:00:00", 500);
    call(2, 5, "    ", "2004-11-19 23:59:59", 66);
    frmBalanceBill::instance().txtPayDay->setText("20");
    frmBalanceBill::instance().chkRent->setChecked(false);
    frmBalanceBill::instance().optCL[2]->setChecked(true);
    answers = {{QString(), 2}};
    script::answer("下列用户的结算期未到今天,付款后未删除:乙", platform::rOK);
    settle({1, 2}, 1);
    EXPECT_EQ(script::pendingAnswers(), 0);
    // Due: 12.34 + 5.00 + 0.66 and three times the rent 10.00.
    ASSERT_EQ(payRows.size(), 2);
    EXPECT_EQ(payRows[1], (QStringList{"乙", "2004-08-20 00:00:00", "2004-11-20 00:00:00", "100.00", "48.00", "52.00",
                                       "按月用户"}));
    EXPECT_EQ(prompts, QStringList{"用户乙的应付款:48.00|-52.00"});
    // Paid with the offer: the deposit covers the due and is used up; the period's end settled
    // (甲's row gone from the console).
    EXPECT_EQ(userRow(2), (QVariantList{"0.00", "0.00", "2004-11-20 00:00:00", 1}));
    EXPECT_EQ((QStringList{console.TextMatrix(1, 4), console.TextMatrix(1, 5), console.TextMatrix(1, 2)}),
              (QStringList{"0.00", "0.00", "2004-11-20 00:00:00"}));
    EXPECT_EQ(downloads, QStringList{"1:2"});
    EXPECT_TRUE(userRow(1).isEmpty());
    EXPECT_NE(frmBalanceBill::instance().itemByKey("K2"), nullptr);
}

// Amounts over and under the due, asked bottom up; one typed with fractions
// of a fen pays it rounded to the fen, as every amount typed into a cell is.
TEST_F(PaymentTest, AmountsOverAndUnderTheDueAndPromptsBottomUp) {
    addUser(1, "甲", 0, T("2004-11-01 00:00:00"), 0);
    addUser(2, "乙", 0, T("2004-11-01 00:00:00"), 0);
    addUser(3, "丙", 0, T("2004-11-01 00:00:00"), 5000);
    call(1, 1, "    ", "2004-11-02 10:00:00", 8000);
    call(2, 2, "    ", "2004-11-02 10:00:00", 8000);
    call(3, 3, "    ", "2004-11-02 10:00:00", 8000);
    // Bottom row first: 100.00 against 80.00; then 50.005 against 80.00; then cancel.
    answers = {{"100", 0}, {"50.005", 0}, {QString(), 1}};
    settle({1, 2, 3}, 1);
    ASSERT_EQ(prompts.size(), 3);
    EXPECT_TRUE(prompts[0].startsWith("用户丙的应付款:80.00|30.00"));
    EXPECT_TRUE(prompts[1].startsWith("用户乙的应付款:80.00|80.00"));
    EXPECT_EQ(userRow(3).mid(0, 2), (QVariantList{"70.00", "70.00"}));
    EXPECT_EQ(dbSwitch.scalar("SELECT deposit||'/'||remain FROM user WHERE userid=2").toString(), "-299900/-299900");
    EXPECT_EQ(userRow(1), (QVariantList{"0.00", "0.00", "2004-11-01 00:00:00", 0}));

    // Cancel on the second prompt: only the bottom row is paid. The close box cancels too.
    for (qint64 u : {1, 2, 3}) dbSwitch.execute("UPDATE user SET lastdate='2004-11-01 00:00:00' WHERE userid=?", {u});
    call(1, 1, "    ", "2004-11-03 10:00:00", 100);
    answers = {{QString(), 0}, {QString(), -1}};
    prompts.clear();
    frmBalanceBill::unload();
    settle({1, 2, 3}, 1);
    EXPECT_EQ(prompts.size(), 2);
    EXPECT_EQ(userRow(3), (QVariantList{"0.00", "0.00", "2004-12-06 10:00:00", 1}));
    EXPECT_EQ(userRow(2), (QVariantList{"-29.99", "-29.99", "2004-11-01 00:00:00", 1}));
}

TEST_F(PaymentTest, PayAllLockDeleteAndTheDefaultUser) {
    addUser(0, "默认用户", 0, T("2004-11-01 00:00:00"), 0);
    addUser(1, "甲", 0, T("2004-11-01 00:00:00"), 0);
    addUser(2, "乙", 0, T("2004-11-01 00:00:00"), 0);
    dbSwitch.execute("UPDATE extension SET userid=2, depositgrade=5 WHERE address IN (7, 8)");
    dbSwitch.execute("UPDATE account SET userid=2, account='1234' WHERE address=2050");
    call(1, 1, "    ", "2004-11-02 10:00:00", 2000);
    call(2, 7, "    ", "2004-11-02 10:00:00", 3000);
    frmBalanceBill::instance().optCL[2]->setChecked(true);
    // Pay all on the first prompt: every row paid with its offer, no further prompt.
    answers = {{QString(), 2}};
    settle({0, 1, 2}, 1);
    EXPECT_EQ(prompts.size(), 1);
    // User 0 is neither sent nor deleted; the others are freed at the switch, then deleted.
    EXPECT_EQ(downloads, (QStringList{"2:2", "1:2"}));
    EXPECT_EQ(userRow(0), (QVariantList{"0.00", "0.00", "2004-12-06 10:00:00", 1}));
    EXPECT_TRUE(userRow(1).isEmpty());
    EXPECT_TRUE(userRow(2).isEmpty());
    EXPECT_EQ(dbSwitch.scalar("SELECT COUNT(*) FROM extension WHERE userid=2").toInt(), 0);
    EXPECT_EQ(dbSwitch.scalar("SELECT account||'/'||userid FROM account WHERE address=2050").toString(), "FFFF/0");
    EXPECT_EQ(frmBalanceBill::instance().itemByKey("K1"), nullptr);

    // Refused by the switch: the message, and nothing deleted; lock refused likewise.
    addUser(3, "丙", 0, T("2004-11-01 00:00:00"), 0);
    dbSwitch.execute("UPDATE extension SET userid=3 WHERE address=9");
    switchAccepts = false;
    downloads.clear();
    script::answer("删除用户丙失败！", platform::rOK);
    answers = {{QString(), 0}};
    frmBalanceBill::unload();
    frmBalanceBill::instance().optCL[2]->setChecked(true);
    settle({3}, 1);
    EXPECT_EQ(downloads, QStringList{"3:2"});
    EXPECT_EQ(userRow(3)[3], 1);
    EXPECT_EQ(dbSwitch.scalar("SELECT userid FROM extension WHERE address=9").toInt(), 3);
    script::answer("闭锁用户丙失败", platform::rOK);
    answers = {{QString(), 0}};
    dbSwitch.execute("UPDATE user SET lastdate='2004-11-01 00:00:00' WHERE userid=3");
    frmBalanceBill::instance().optCL[1]->setChecked(true);
    settle({}, 1);
    EXPECT_EQ(downloads, (QStringList{"3:2", "3:1"}));
    EXPECT_EQ(script::pendingAnswers(), 0);
}

TEST_F(PaymentTest, StatementRowsDetailsAndReceipts) {
    addUser(4, "丁", 1, T("2004-09-25 00:00:00"), 5000, 200);
    addUser(5, "戊", 2, QVariant(), 0);
    call(4, 5, "    ", "2004-09-26 10:00:00", 700, 2);
    call(4, 5, "    ", "2004-10-21 10:00:00", 300, 7);
    call(4, 12, "0099", "2004-10-22 10:00:00", 100, 7);
    call(5, 3, "    ", "2004-10-22 10:00:00", 100, 7);
    frmBalanceBill& b = frmBalanceBill::instance();
    b.txtPayDay->setText("20");
    ModSwitch::SetVariant("PayPrintCount", "3");

    // The statement shown: one row per period, each with its own total; paying
    // from the user's second row is refused.
    QStringList totals;
    script::onModal("frmPayfor", [&](QDialog* d) {
        auto* f = static_cast<frmPayfor*>(d);
        for (int r = 1; r < f->fgUser->Rows(); ++r)
            totals << f->fgUser->TextMatrix(r, 0) + ' ' + f->fgUser->TextMatrix(r, 3) + ' ' + f->fgUser->TextMatrix(r, 4);
        f->fgUser->setRow(2);
        f->fgUser->setRowSel(2);
        f->cmdPay_Click();
        // The details of the first row: bounded by its own period.
        f->fgUser->setRow(1);
        f->fgUser->setRowSel(1);
        f->fgUser->setCol(0);
        f->fgUser->setColSel(3);
        script::onModal("frmDetial", [&](QDialog* dd) {
            auto* det = static_cast<frmDetial*>(dd);
            for (int r = 1; r < det->fgDetial->Rows(); ++r)
                totals << det->fgDetial->TextMatrix(r, 0) + ' ' + det->fgDetial->TextMatrix(r, 3);
            dd->accept();
        });
        f->cmdView_Click();
        d->accept();
    });
    script::answer("结算必须从上次结算日期开始", platform::rOK);
    b.DTPStart->setDateTime(T("2004-10-01 00:00:00"));
    b.itemByKey("ALL")->setCheckState(0, Qt::Checked);
    b.cmdBalance_Click(0);
    const QString ext5 = "分机:" + dbSwitch.scalar("SELECT txhm FROM que_txhm WHERE address=5").toString();
    const QString ext3 = "分机:" + dbSwitch.scalar("SELECT txhm FROM que_txhm WHERE address=3").toString();
    EXPECT_EQ(totals, (QStringList{"丁 7.00 2.00", "丁 4.00 2.00", "戊 1.00 0.00", "用户:丁 7.00", ext5 + " 7.00"}));
    EXPECT_EQ(script::pendingAnswers(), 0);

    // Details of every row (index 3): accounts as "帐号:".
    totals.clear();
    b.cmdBalance_Click(3);
    EXPECT_EQ(totals, (QStringList{"用户:丁 0.00", "用户:丁 4.00", "帐号:0099 1.00", ext5 + " 3.00", "用户:戊 1.00",
                                   ext3 + " 1.00"}));

    // Paid: three receipts of the bill, listing the user's two periods.
    answers = {{"10", 0}, {QString(), 1}};
    b.txtPayDay_LostFocus();
    frmBalanceBill::unload();
    frmBalanceBill::instance().chkType[7]->setChecked(false);
    settle({4}, 1);
    ASSERT_EQ(receipts.size(), 3);
    const billing::ReceiptJob& j = receipts[0];
    EXPECT_FALSE(j.voucher);
    // The total: 7.00 of category 2, local calls left out, twice the rent 2.00.
    EXPECT_EQ((QStringList{j.caption, j.name, j.end, j.prepaid.toString2(), j.total.toString2(), j.pay.toString2(),
                           j.balance.toString2()}),
              (QStringList{"结算单（付讫）", "丁", "2004-11-20 00:00:00", "50.00", "11.00", "10.00", "49.00"}));
    ASSERT_EQ(j.detailRows.size(), 2);
    EXPECT_EQ(j.detailRows[1].mid(0, 4), (QStringList{"丁", "2004-10-20 00:00:00", "2004-11-20 00:00:00", "2.00"}));
}

TEST_F(PaymentTest, AFailedPaymentKeepsTheRowAndAUserGoneIsLeftOut) {
    addUser(1, "甲", 0, T("2004-11-01 00:00:00"), 0);
    addUser(2, "乙", 0, T("2004-11-01 00:00:00"), 0);
    addUser(3, "丙", 0, T("2004-11-01 00:00:00"), 0);
    billing::SettleOptions o;
    o.categories = {7};
    ASSERT_TRUE(billing::RunSettlement(o).ok);
    // User 1 deleted since the run: left out of the payment window. User 2
    // goes while the window is open: its payment cannot be written.
    dbSwitch.execute("DELETE FROM user WHERE userid=1");
    QStringList left;
    script::onModal("frmPayed", [&](QDialog* d) {
        auto* f = static_cast<frmPayed*>(d);
        dbSwitch.execute("DELETE FROM user WHERE userid=2");
        f->fgUser->setRow(1);
        f->fgUser->setRowSel(f->fgUser->Rows() - 1);
        f->cmdPay_Click();
        for (int r = 1; r < f->fgUser->Rows(); ++r) left << f->fgUser->TextMatrix(r, 0);
        d->accept();
    });
    answers = {{QString(), 0}, {QString(), 0}};
    script::answer("付款失败:", platform::rOK);
    frmPayfor::instance().ShowMode(1);
    EXPECT_EQ(left, QStringList{"乙"});
    EXPECT_EQ(prompts.size(), 2);
    EXPECT_EQ(userRow(3)[3], 1);
    EXPECT_EQ(script::pendingAnswers(), 0);
}

TEST_F(PaymentTest, NoPaymentTakesAnAmountOrADepositOutOfTheRangeOfMoney) {
    addUser(1, "甲", 0, T("2004-11-01 00:00:00"), 0);
    addUser(2, "乙", 0, T("2004-11-01 00:00:00"), 9999999000LL);   // 99,999,990.00
    call(1, 1, "    ", "2004-11-02 10:00:00", 8000);
    call(2, 2, "    ", "2004-11-02 10:00:00", 8000);
    // 乙 first (bottom up): 100.00 against 80.00 would take the deposit past 1亿.
    // 甲: an amount past 1亿 is refused in the dialog, then one within it is paid.
    script::answer("金额超出范围，预付押金和押金余额须在-1亿至1亿之间", platform::rOK);
    script::answer("请输入-1亿至1亿之间的数值", platform::rOK);
    answers = {{"100", 0}, {"99999999999999", 0}};
    settle({1, 2}, 1);
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(userRow(2), (QVariantList{"99999990.00", "99999990.00", "2004-11-01 00:00:00", 0}));
    EXPECT_EQ(userRow(1), (QVariantList{"0.00", "0.00", "2004-11-01 00:00:00", 0}));
    // The rule holds for every user: no stored deposit or balance lies outside the range.
    EXPECT_EQ(dbSwitch.scalar("SELECT count(*) FROM user WHERE abs(deposit)>? OR abs(remain)>?",
                              {Currency::fromYuan(100000000), Currency::fromYuan(100000000)})
                  .toInt(),
              0);
}

TEST_F(PaymentTest, AmountDialogButtons) {
    frmPayMoneny* seen = nullptr;
    QString shown;
    auto run = [&](Currency offer, std::function<void(frmPayMoneny*)> act, Currency* out) {
        script::onModal("frmPayMoneny", [&, act](QDialog* d) {
            seen = static_cast<frmPayMoneny*>(d);
            shown = seen->Text1->text() + (seen->Text1->selectedText() == seen->Text1->text() ? "*" : "");
            act(seen);
        });
        *out = offer;
        return frmPayMoneny::instance().GetRetCode(*out);
    };
    Currency a;
    EXPECT_EQ(run(Currency::fromFen(1250), [](frmPayMoneny* f) { f->Command1_Click(0); }, &a), 1);
    EXPECT_EQ(shown, "12.50*");
    EXPECT_EQ(a.toString2(), "12.50");
    EXPECT_EQ(run(Currency::fromFen(1250), [](frmPayMoneny* f) { f->Text1->setText("3"); f->Command1_Click(1); }, &a), 2);
    EXPECT_EQ(run(Currency(), [](frmPayMoneny* f) { f->Text1->setText("7.5"); f->Command1_Click(2); }, &a), 3);
    EXPECT_EQ(a.toString2(), "7.50");
    // Letters: neither 确定 nor 全部付清 closes the dialog; the close box cancels.
    EXPECT_EQ(run(Currency(), [](frmPayMoneny* f) {
                  f->Text1->setText("abc");
                  f->Command1_Click(0);
                  f->Command1_Click(2);
                  EXPECT_TRUE(f->isVisible());
                  static_cast<QDialog*>(f)->reject();
              }, &a), 2);
}

// A settlement paid and its user deleted (用户结算, 全部付清, then 删除用户),
// while the disk refuses once: the payment gives back the deposit less the
// due exactly when no "付款失败" is said, the user goes exactly when paid and
// no "删除用户…失败" is said, and each move is one entry of the journal.
TEST_F(PaymentTest, ASettlementPaysAndDeletesExactlyWhenItSaysSoWhateverIsRefused) {
    namespace refusal = testsupport::refusal;
    using Kind = ModSwitch::LogKind;
    QStringList boxes;
    refusal::walk(
        [&](int i) {
            frmBalanceBill::instance().optCL[2]->setChecked(true);
            answers = {{QString(), 2}};
            // The settlement's own failure answers to the last.
            const refusal::MaybeBoxes said({{"付款失败", platform::rOK}, {"删除用户", platform::rOK}, {"", platform::rOK}});
            settle({100 + i}, 1);
            boxes = said.shown();
            return boxes.isEmpty();
        },
        [&](int i, bool said) {
            const qint64 u = 100 + i;
            const bool present = !dbSwitch.scalar("SELECT 1 FROM user WHERE userid=?", {u}).isNull();
            ModSwitch::ApplyLoggedCharges();
            const bool paid = !present || dbSwitch.scalar("SELECT remain FROM user WHERE userid=?", {u}).toLongLong() == 0;
            EXPECT_EQ(said, !present) << boxes.join('\n').toStdString();
            EXPECT_EQ(paid, boxes.isEmpty() || (!refusal::anyContains(boxes, "付款失败") && refusal::anyContains(boxes, "删除用户")))
                << boxes.join('\n').toStdString();
            EXPECT_EQ(present, !paid || refusal::anyContains(boxes, "删除用户")) << boxes.join('\n').toStdString();
            // Paid and deleted, the deposit less the due (50.00 - 20.00) goes back.
            EXPECT_EQ(refusal::journalSum(u, int(Kind::Balance)), paid ? Currency::fromFen(-3000) : Currency());
            EXPECT_EQ(refusal::journalSum(u, int(Kind::Deposit)), paid ? Currency() : Currency::fromFen(5000));
            EXPECT_EQ(refusal::journalCount(u, int(Kind::UserDeleted)), present ? 0 : 1);
            if (present) refusal::checkMoney(u, paid ? Currency() : Currency::fromFen(3000), paid ? Currency() : Currency::fromFen(5000), Currency());
        },
        refusal::stationFiles(),
        [&](int i) {
            // User 100+i, 50.00 paid in, a call of 20.00 charged and due.
            const qint64 u = 100 + i;
            frmBalanceBill::unload();
            ModSwitch::MoveBalances([&] {
                dbSwitch.execute("INSERT INTO user (userid, username, balancemode, lastdate, deposit, remain) VALUES (?,?,0,?,?,?)",
                                 {u, QStringLiteral("用户%1").arg(i), T("2004-11-01 00:00:00"), Currency::fromFen(5000),
                                  Currency::fromFen(3000)});
            }, u);
            testsupport::storeCall(dbPhoneCur, {.calladdr = 1, .date = T("2004-11-02 10:00:00").addSecs(60 * i), .secs = 60,
                                                .fee = Currency::fromFen(2000), .zh = "    ", .phmode = 7, .userid = u});
        });
}

// The settlement window's choices.
class BalanceBillTest : public PaymentTest {
protected:
    void SetUp() override {
        PaymentTest::SetUp();
        dbSwitch.execute("INSERT OR REPLACE INTO user (userid, username, balancemode, lastdate, deptname) VALUES "
                         "(0, '默认用户', 2, NULL, ''), (1, '甲', 0, '2004-11-01 00:00:00', '销售'), "
                         "(2, '乙', 1, '2004-10-01 00:00:00', '销售'), (3, '丙', 2, '2004-09-09 09:09:09', '财务'), "
                         "(4, '丁', 0, '2004-11-02 00:00:00', '财务')");
    }
    frmBalanceBill& win() { return frmBalanceBill::instance(); }
    void check(const QString& key, bool on = true) {
        win().itemByKey(key)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    }
    // The users a settlement of the current choice covers (nothing: empty).
    QList<qint64> chosen() {
        QList<qint64> users;
        bool all = false;
        if (!win().GetSelectObject(users, all)) return {};
        if (all) return {-1};
        std::sort(users.begin(), users.end());
        users.erase(std::unique(users.begin(), users.end()), users.end());
        return users;
    }
};

TEST_F(BalanceBillTest, RememberedChoicesAndTheirDefaults) {
    EXPECT_EQ(win().windowTitle(), "用户结算");
    // Nothing stored: yesterday at midnight to now; after-payment action 0; pay day 1.
    EXPECT_EQ(win().ManualStart(), T("2004-12-05 00:00:00"));
    EXPECT_EQ(win().DTPEnd->dateTime(), T("2004-12-06 10:00:00"));
    EXPECT_TRUE(win().optCL[0]->isChecked());
    EXPECT_EQ(win().txtPayDay->text(), "1");
    for (const char* day : {"31", "0", "x"}) {
        win().txtPayDay->setText(day);
        win().txtPayDay_LostFocus();
        EXPECT_EQ(win().txtPayDay->text(), "1");
        EXPECT_EQ(ModSwitch::GetVariant("txtPayDay"), "1");
    }
    // The integer value of the text counts.
    for (const auto& [typed, day] : {std::pair{"12.7", "12"}, {"20abc", "20"}, {" 7日", "7"}, {"28.9", "28"}, {"29", "1"},
                                     {"+5", "5"}, {"2.9e1", "1"}, {"0.5e1", "5"}, {"-3", "1"}}) {
        win().txtPayDay->setText(typed);
        win().txtPayDay_LostFocus();
        EXPECT_EQ(win().txtPayDay->text(), day) << typed;
        EXPECT_EQ(ModSwitch::GetVariant("txtPayDay"), day) << typed;
    }
    win().txtPayDay->setText("20");
    win().txtPayDay_LostFocus();
    win().optCL[1]->setChecked(true);
    frmBalanceBill::unload();
    EXPECT_EQ(ModSwitch::GetVariant("OptCL"), "1");
    EXPECT_EQ(ModSwitch::GetVariant("frmPayBT"), "2004/12/05 00:00:00");
    EXPECT_EQ(win().txtPayDay->text(), "20");
    EXPECT_TRUE(win().optCL[1]->isChecked());
    frmBalanceBill::unload();
    ModSwitch::SetVariant("OptCL", "5");
    EXPECT_TRUE(win().optCL[2]->isChecked());
    frmBalanceBill::unload();
    ModSwitch::SetVariant("OptCL", "-1");
    EXPECT_TRUE(win().optCL[0]->isChecked());
}

TEST_F(BalanceBillTest, ObjectsUsersGroupsAndDepartments) {
    // The list: all, the three groups, then the users by name.
    EXPECT_EQ(win().lvObj->topLevelItem(0)->text(0), "全部用户");
    EXPECT_EQ(win().lvObj->topLevelItem(2)->text(0), "按月用户");
    EXPECT_EQ(win().lvObj->topLevelItemCount(), 4 + 5);
    EXPECT_TRUE(chosen().isEmpty());
    check("Monthly");
    check("K3");
    EXPECT_EQ(chosen(), (QList<qint64>{2, 3}));
    check("ALL");
    EXPECT_EQ(chosen(), QList<qint64>{-1});
    check("ALL", false);
    // The header checks all, then unchecks all.
    win().lvObj_ColumnClick();
    EXPECT_EQ(chosen(), QList<qint64>{-1});
    win().lvObj_ColumnClick();
    EXPECT_TRUE(chosen().isEmpty());
    // Departments: every user of the department.
    win().optOBJ[1]->setChecked(true);
    win().optOBJ_Click(1);
    EXPECT_EQ(win().lvObj->topLevelItem(0)->text(0), "全部部门");
    check("K财务");
    EXPECT_EQ(chosen(), (QList<qint64>{3, 4}));
}

TEST_F(BalanceBillTest, RefusedRunsAndTheZeroCheck) {
    script::answer("请选择要结算的用户", platform::rOK);
    win().cmdBalance_Click(0);
    check("K1");
    for (int k = 0; k < 10; ++k) win().chkType[k]->setChecked(false);
    script::answer("请选择要结算的话单类型", platform::rOK);
    win().cmdBalance_Click(0);
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(dbSwitch.scalar("SELECT COUNT(*) FROM tab_balance").toInt(), 0);
    for (int k = 0; k < 10; ++k) win().chkType[k]->setChecked(true);

    // Without the right: nothing runs.
    WorkerRights = QStringList{"5"};
    script::answer("你没有此操作权限", platform::rOK);
    win().cmdBalance_Click(0);
    EXPECT_EQ(dbSwitch.scalar("SELECT COUNT(*) FROM tab_balance").toInt(), 0);
    WorkerRights = QStringList{"0"};

    // Nothing charged since the last settlement: clear; a call costing something: not.
    EXPECT_TRUE(win().CheckZHClear(1));
    testsupport::storeCall(dbPhoneCur, {.calladdr = 1, .date = "2004-11-03 10:00:00", .secs = 60,
                                        .fee = platform::Currency::fromRaw(100), .zh = "    ", .phmode = 7, .userid = 1});
    EXPECT_FALSE(win().CheckZHClear(1));
}

TEST_F(BalanceBillTest, ModeNamesInThePaymentRows) {
    QStringList modes;
    script::onModal("frmPayed", [&](QDialog* d) {
        auto* f = static_cast<frmPayed*>(d);
        for (int r = 1; r < f->fgUser->Rows(); ++r) modes << f->fgUser->TextMatrix(r, 6);
        d->accept();
    });
    check("ALL");
    win().txtPayDay->setText("1");
    win().chkForce->setChecked(true);
    script::onModal("frmPayfor", [&](QDialog* d) {
        dbSwitch.execute("UPDATE user SET balancemode=5 WHERE userid=4");
        auto* f = static_cast<frmPayfor*>(d);
        f->fgUser->setRow(1);
        f->fgUser->setRowSel(f->fgUser->Rows() - 1);
        f->cmdPay_Click();
        d->accept();
    });
    win().cmdBalance_Click(0);
    EXPECT_EQ(modes, (QStringList{"不结算用户", "押金用户", "按月用户", "不结算用户", "不结算用户"}));

    // Settle and print: the whole statement printed, no window shown.
    QStringList printed;
    billing::testing::Seams s;
    s.printGrid = [&](platform::FlexGrid& g, const QString& title) { printed << title + QString::number(g.Rows() - 1); };
    billing::testing::setSeams(s);
    dbSwitch.execute("UPDATE user SET balancemode=0 WHERE userid=4");
    win().cmdBalance_Click(2);
    EXPECT_EQ(printed, QStringList{"结算单7"});
}

// 付讫 pays the periods the operator selected in the statement, however the
// selection ran; a selection starting past a user's earliest period is
// refused, one that leaves nothing to pay says so.
TEST_F(BalanceBillTest, PayTakesTheSelectedPeriodsWhicheverWayTheSelectionRan) {
    QStringList paid;
    script::onModal("frmPayed", [&](QDialog* d) {
        auto* f = static_cast<frmPayed*>(d);
        for (int r = 1; r < f->fgUser->Rows(); ++r)
            paid << QStringList{f->fgUser->TextMatrix(r, 0), f->fgUser->TextMatrix(r, 1), f->fgUser->TextMatrix(r, 2)}.join('|');
        d->accept();
    });
    check("ALL");
    win().txtPayDay->setText("1");
    win().chkForce->setChecked(true);
    bool ran = false;
    script::onModal("frmPayfor", [&](QDialog* d) {
        auto* f = static_cast<frmPayfor*>(d);
        platform::FlexGrid* g = f->fgUser;
        // The user with the most periods: rows first .. last.
        int first = 1, last = 1;
        for (int r = 1, start = 1; r < g->Rows(); ++r) {
            if (f->RowUser(r) != f->RowUser(start)) start = r;
            if (r - start > last - first) first = start, last = r;
        }
        ASSERT_GE(last - first, 2);
        const QString whole = QStringList{g->TextMatrix(first, 0), g->TextMatrix(first, 1), g->TextMatrix(last, 2)}.join('|');
        const auto at = [&](int r) { return g->visualRect(g->model()->index(r, 1)).center(); };
        const auto payAfter = [&](auto select) {
            paid.clear();
            select();
            QTest::mouseClick(f->cmdPay, Qt::LeftButton);
            return paid;
        };
        for (const auto& [from, to] : {std::pair{first, last}, std::pair{last, first}}) {
            EXPECT_EQ(payAfter([&] {
                          QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, at(from));
                          QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(to));
                      }),
                      QStringList{whole}) << from << ".." << to << " by shift+click";
            EXPECT_EQ(payAfter([&] {
                          QTest::mousePress(g->viewport(), Qt::LeftButton, {}, at(from));
                          for (int r = from; r != to; r += (to > from ? 1 : -1)) QTest::mouseMove(g->viewport(), at(r));
                          QTest::mouseMove(g->viewport(), at(to));
                          QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, at(to));
                      }),
                      QStringList{whole}) << from << ".." << to << " by a drag";
        }
        script::answer("结算必须从上次结算日期开始", platform::rOK);
        EXPECT_TRUE(payAfter([&] {
                        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, at(last));
                        QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(first + 1));
                    }).isEmpty());
        // Its user deleted since the run: nothing to pay, and said.
        dbSwitch.execute("DELETE FROM user WHERE userid=?", {f->RowUser(first)});
        script::answer("没有可付讫的结算单", platform::rOK);
        EXPECT_TRUE(payAfter([&] {
                        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, at(first));
                        QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(last));
                    }).isEmpty());
        EXPECT_EQ(script::pendingAnswers(), 0);
        ran = true;
        d->accept();
    });
    win().cmdBalance_Click(0);
    EXPECT_TRUE(ran);
}

}  // namespace
