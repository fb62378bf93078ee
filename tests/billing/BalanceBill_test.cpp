// The settlement window's choices.
#include "billing/BillingSeams.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmPayfor.h"
#include "billing/frmPayed.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>

namespace script = platform::script;

namespace {

QDateTime T(const char* s) { return platform::parseDate(QString::fromLatin1(s)); }

class BalanceBillTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerRights = QStringList{"0"};
        platform::testing::setNow([] { return T("2004-12-06 10:00:00"); });
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
