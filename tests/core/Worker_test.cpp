#include "console/frmPABX.h"
#include "core/OpLog.h"
#include "core/Password.h"
#include "core/frmChange.h"
#include "core/frmWorker.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QTest>

using namespace platform;
using ModGeneral::ScramblePassword;
using ModGeneral::UnscramblePassword;

namespace {

class WorkerWindow : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        frmPABX::instance();   // a login writes the worker into the console's status bar
    }
    void TearDown() override {
        frmWorker::unload();
        frmChange::unload();
        frmPABX::unload();
        StationTest::TearDown();
    }
    // `steps` drive the next window; the test then leaves it by `exit` unless they closed it.
    void drive(const std::function<void(frmWorker*)>& steps, QPushButton* frmWorker::*exit = &frmWorker::cmdExit) {
        script::onModal(QStringLiteral("frmWorker"), [steps, exit](QDialog* d) {
            auto* w = static_cast<frmWorker*>(d);
            steps(w);
            if (w->isVisible()) (w->*exit)->click();
        });
    }
    // Runs a login, ended through "退 出" unless the steps logged in.
    bool login(const std::function<void(frmWorker*)>& steps) {
        drive(steps, &frmWorker::cmdExitProgram);
        return frmWorker::instance().GetLogin();
    }
    bool loginAs(const QString& id, const QString& pwd) {
        return login([id, pwd](frmWorker* w) {
            w->txtUser->setText(id);
            w->txtPWD->setText(pwd);
            w->cmdLogin->click();
        });
    }
    void addWorker(const QString& id, const QString& name, int grade, const QString& rights = {}) {
        dbSwitch.execute(QStringLiteral("insert into Worker values(?,?,?,?,?,0)"),
                         {id, name, grade, ScramblePassword(id), rights});
    }
    // Drives the management panel in `mode`.
    void manage(const QString& mode, const std::function<void(frmWorker*)>& steps) {
        drive(steps);
        frmWorker::instance().ShowWorkerManage(mode);
    }
    void fill(frmWorker* w, const QString& id, const QString& grade, const QString& name) {
        w->cboWorkerID->setEditText(id);
        w->cboWorkGrade->setEditText(grade);
        w->txtWorkerName->setText(name);
    }
    void submit(frmWorker* w, const QString& id, const QString& grade, const QString& name) {
        fill(w, id, grade, name);
        w->cmdOK->click();
    }
    QVariant workerField(const QString& id, const QString& col) {
        return dbSwitch.scalar(QStringLiteral("select %1 from Worker where WorkerID=?").arg(col), {id});
    }
    QStringList shownTexts() {
        QStringList r;
        for (const auto& s : script::shown()) r << s.text;
        return r;
    }
};

TEST(PasswordScrambling, RoundTripsEveryPrintableCharacter) {
    QString all;
    for (char16_t c = 32; c < 127; ++c) all += QChar(c);
    const QString s = ScramblePassword(all);
    EXPECT_EQ(s.size(), all.size());
    EXPECT_NE(s, all);
    EXPECT_EQ(UnscramblePassword(s), all);
    EXPECT_EQ(ScramblePassword(s), all);
    EXPECT_EQ(ScramblePassword(QString()), QString());
    EXPECT_EQ(ScramblePassword(QStringLiteral("a")).size(), 1);
    // Reversed: the last character comes first.
    EXPECT_EQ(ScramblePassword(QStringLiteral("ab"))[1], ScramblePassword(QStringLiteral("a"))[0]);
    const QString chinese = QStringLiteral("密码𠀀x");
    EXPECT_EQ(UnscramblePassword(ScramblePassword(chinese)), chinese);
}

TEST_F(WorkerWindow, FreshStationLogsInTheFirstWorkerAndLogsIt) {
    platform::testing::setNow([] { return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)); });
    EXPECT_TRUE(loginAs(QStringLiteral("0000"), QStringLiteral("0000")));
    EXPECT_EQ(WorkerID, QStringLiteral("0000"));
    EXPECT_EQ(WorkerName, QStringLiteral("管理员"));
    EXPECT_EQ(WorkerRights, QStringList{QStringLiteral("0")});
    EXPECT_EQ(WorkerRightNames, QStringList{QStringLiteral("全部权限")});
    EXPECT_EQ(frmPABX::instance().sbrInfo->panelText(4), QStringLiteral("0000"));
    EXPECT_EQ(frmPABX::instance().sbrInfo->panelText(5), QStringLiteral("管理员"));
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Worker where b_active<>0").toInt(), 1);
    Recordset log = dbSwitch.query(QStringLiteral("select * from tab_oplog"));
    ASSERT_EQ(log.recordCount(), 1);
    EXPECT_EQ((QStringList{log.value(0).toString(), log.value(1).toString(), log.value(2).toString(), log.value(3).toString()}),
              (QStringList{"2026-03-04 05:06:07", "0000", "管理员", "登录系统"}));
    EXPECT_FALSE(frmWorker::exists());

    // Esc leaves a new login, the close box does nothing, and the worker stays.
    script::onModal(QStringLiteral("frmWorker"), [](QDialog* d) {
        d->close();
        EXPECT_TRUE(d->isVisible());
        QTest::keyClick(d, Qt::Key_Escape);
    });
    EXPECT_FALSE(frmWorker::instance().GetLogin());
    EXPECT_EQ(WorkerID, QStringLiteral("0000"));
}

// Each refusal has its message and changes nothing; blanks around the
// password are ignored and none of its own characters is lost.
TEST_F(WorkerWindow, EachRefusalHasItsMessageAndChangesNothingAndBlanksAroundThePasswordAreIgnored) {
    const QStringList refusals{"请输入用户名", "请输入密码", "用户不存在", "密码不正确,请注意区分大小写!", "用户不存在",
                               "密码不正确,请注意区分大小写!"};
    for (const QString& m : refusals) script::answer(m, rOK);
    addWorker(QStringLiteral("0042"), QStringLiteral("张三"), 0);
    dbSwitch.execute(QStringLiteral("update Worker set passcode=? where WorkerID='0042'"), {ScramblePassword("Secret")});
    // The character that scrambles to a blank, at both ends of the password.
    const QChar blankMaker(QChar(u' ').unicode() ^ (ModGeneral::kPasswordKey1 ^ ModGeneral::kPasswordKey2));
    ASSERT_EQ(ScramblePassword(QString(blankMaker)), QStringLiteral(" "));
    const QString pwd = QString(blankMaker) + QStringLiteral("ab") + blankMaker;
    addWorker(QStringLiteral("0007"), QStringLiteral("李四"), 1, QStringLiteral("18,17"));
    dbSwitch.execute(QStringLiteral("update Worker set passcode=? where WorkerID='0007'"), {ScramblePassword(pwd)});
    const bool ok = login([this, pwd, refusals](frmWorker* w) {
        w->cmdLogin->click();
        w->txtUser->setText(QStringLiteral("0042"));
        w->cmdLogin->click();
        w->txtUser->setText(QStringLiteral("9999"));
        w->txtPWD->setText(QStringLiteral("x"));
        w->cmdLogin->click();
        w->txtUser->setText(QStringLiteral("0042"));
        w->txtPWD->setText(QStringLiteral("secret"));   // letter case counts
        w->cmdLogin->click();
        w->txtUser->setText(QStringLiteral("0'--"));
        w->cmdLogin->click();
        w->txtUser->setText(QStringLiteral("0007"));
        w->txtPWD->setText(QStringLiteral("ab"));   // the end characters are part of it
        w->cmdLogin->click();
        EXPECT_EQ(shownTexts(), refusals);
        EXPECT_TRUE(WorkerID.isEmpty());
        EXPECT_EQ(dbSwitch.scalar("select count(*) from tab_oplog").toInt(), 0);
        EXPECT_EQ(dbSwitch.scalar("select count(*) from Worker where b_active<>0").toInt(), 0);
        w->txtPWD->setText(QStringLiteral("  ") + pwd + QStringLiteral(" "));
        w->cmdLogin->click();
    });
    EXPECT_TRUE(ok);
    for (const auto& s : script::shown()) EXPECT_EQ(s.title, AppName);
    EXPECT_EQ(WorkerRights, (QStringList{"18", "17"}));
    EXPECT_EQ(WorkerRightNames, (QStringList{"IP费率及字头", "普通费率"}));
}

TEST_F(WorkerWindow, EmptyRightListHoldsNoRightAndManagesNobody) {
    addWorker(QStringLiteral("0001"), QStringLiteral("王五"), 0, QString());
    dbSwitch.execute(QStringLiteral("insert into Worker values('0002','赵六',0,?,NULL,0)"), {ScramblePassword("0002")});
    for (const char* id : {"0001", "0002"}) {
        ASSERT_TRUE(loginAs(QString::fromUtf8(id), QString::fromUtf8(id)));
        EXPECT_EQ(WorkerRights, QStringList{QStringLiteral("-1")});
        EXPECT_TRUE(WorkerRightNames.isEmpty());
        EXPECT_TRUE(ModGeneral::CheckRight(0, ModGeneral::kRightSilent));
        EXPECT_TRUE(ModGeneral::CheckRight(5, ModGeneral::kRightSilent));
    }
    EXPECT_EQ(dbSwitch.scalar("select WorkerID from Worker where b_active<>0").toString(), QStringLiteral("0002"));
    script::answer(QStringLiteral("你没有此操作权限"), rOK);
    manage(QStringLiteral("增加"), [this](frmWorker* w) { submit(w, QStringLiteral("0600"), QStringLiteral("普通级"), QStringLiteral("n")); });
    EXPECT_TRUE(workerField("0600", "WorkerID").isNull());
}

TEST_F(WorkerWindow, AddsModifiesAndDeletesWorkersAndEachRefusalChangesNothing) {
    ASSERT_TRUE(loginAs(QStringLiteral("0000"), QStringLiteral("0000")));
    manage(QStringLiteral("增加"), [this](frmWorker* w) {
        submit(w, QStringLiteral("0123"), QStringLiteral("操作级"), QStringLiteral("O'Brien"));
        EXPECT_EQ(w->cboWorkerID->itemText(0), QStringLiteral("0123"));
        EXPECT_TRUE(w->txtWorkerName->text().isEmpty());
        EXPECT_TRUE(w->cboWorkGrade->currentText().isEmpty());
    });
    EXPECT_EQ(workerField("0123", "workgrade").toInt(), 1);
    EXPECT_EQ(workerField("0123", "rightlist").toString(), QStringLiteral("18,17,16,8,7,6,3"));
    EXPECT_EQ(workerField("0123", "WorkerName").toString(), QStringLiteral("O'Brien"));
    EXPECT_EQ(workerField("0123", "b_active").toInt(), 0);

    manage(QStringLiteral("修改"), [this](frmWorker* w) {
        w->cboWorkerID->setCurrentIndex(w->cboWorkerID->findText("0123"));
        w->cboWorkerID_Click();
        EXPECT_EQ(w->cboWorkGrade->currentText(), QStringLiteral("操作级"));
        EXPECT_EQ(w->cboRight->currentText(), QStringLiteral("18,17,16,8,7,6,3"));
        submit(w, QStringLiteral("0123"), QStringLiteral("维护级"), QStringLiteral("新名"));
    });
    EXPECT_EQ(workerField("0123", "rightlist").toString(), QStringLiteral("0"));
    EXPECT_EQ(workerField("0123", "WorkerName").toString(), QStringLiteral("新名"));

    // The new worker logs in with his number.
    EXPECT_TRUE(loginAs(QStringLiteral("0123"), QStringLiteral("0123")));
    EXPECT_TRUE(loginAs(QStringLiteral("0000"), QStringLiteral("0000")));

    addWorker(QStringLiteral("0200"), QStringLiteral("留下"), 0);
    manage(QStringLiteral("删除"), [this](frmWorker* w) {
        w->cboWorkerID->setCurrentIndex(w->cboWorkerID->findText("0200"));
        w->cboWorkerID_Click();
        // The number typed decides, not the entry chosen before.
        submit(w, QStringLiteral("0123"), QStringLiteral("普通级"), QStringLiteral("x"));
        EXPECT_EQ(w->cboWorkerID->findText("0123"), -1);
        EXPECT_NE(w->cboWorkerID->findText("0200"), -1);
    });
    EXPECT_TRUE(workerField("0123", "WorkerID").isNull());
    EXPECT_FALSE(workerField("0200", "WorkerID").isNull());

    QStringList log;
    Recordset rs = dbSwitch.query(QStringLiteral("select * from tab_oplog order by rowid"));
    for (; !rs.eof(); rs.moveNext()) log << rs.value(3).toString();
    EXPECT_EQ(log, (QStringList{"登录系统", "增加员工 0123", "修改<0123>权限为0,名称为 新名", "登录系统", "登录系统",
                                "删除员工 0123"}));

    addWorker(QStringLiteral("0300"), QStringLiteral("已有"), 0);
    const int logRows = dbSwitch.scalar("select count(*) from tab_oplog").toInt();
    for (const char* m : {"此项数据不能为空", "此项数据不能为空", "请输入0000-9999之间的编号", "请输入0000-9999之间的编号",
                          "请输入0000-9999之间的编号", "员工编号必须为4位", "不能对当前用户进行操作", "请选择员工等级",
                          "此工号已存在"})
        script::answer(QString::fromUtf8(m), rOK);
    manage(QStringLiteral("增加"), [this](frmWorker* w) {
        submit(w, QStringLiteral("0400"), QString(), QStringLiteral("n"));
        submit(w, QStringLiteral("0400"), QStringLiteral("操作级"), QString());
        for (const char* bad : {"abcd", "10000", ""}) submit(w, QString::fromUtf8(bad), QStringLiteral("操作级"), QStringLiteral("n"));
        submit(w, QStringLiteral("123"), QStringLiteral("操作级"), QStringLiteral("n"));
        submit(w, QStringLiteral("0000"), QStringLiteral("操作级"), QStringLiteral("n"));
        submit(w, QStringLiteral("0400"), QStringLiteral("超级"), QStringLiteral("n"));
        submit(w, QStringLiteral("0300"), QStringLiteral("操作级"), QStringLiteral("n"));
    });
    script::answer(QStringLiteral("用户不存在"), rOK);
    manage(QStringLiteral("修改"), [this](frmWorker* w) { submit(w, QStringLiteral("0999"), QStringLiteral("操作级"), QStringLiteral("n")); });
    script::answer(QStringLiteral("用户不存在"), rOK);
    manage(QStringLiteral("删除"), [this](frmWorker* w) { submit(w, QStringLiteral("0999"), QStringLiteral("操作级"), QStringLiteral("n")); });
    EXPECT_EQ(script::pendingAnswers(), 0);
    const auto& shown = script::shown();
    ASSERT_GE(shown.size(), 3);
    for (const auto& box : shown) EXPECT_EQ(box.title, AppName) << box.text.toStdString();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Worker").toInt(), 3);
    EXPECT_EQ(workerField("0300", "WorkerName").toString(), QStringLiteral("已有"));
    EXPECT_EQ(dbSwitch.scalar("select count(*) from tab_oplog").toInt(), logRows);
}

TEST_F(WorkerWindow, CustomRightsFromTheChooserAndPasswordChange) {
    addWorker(QStringLiteral("0700"), QStringLiteral("管理"), 2, QStringLiteral("2,5"));
    ASSERT_TRUE(loginAs(QStringLiteral("0700"), QStringLiteral("0700")));
    // The chooser: "全部权限" (0) and "分机号码" (5) chosen, in this order.
    auto chooseZeroAndFive = [](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        c->cmdShare[0]->click();   // all back
        for (const char* name : {"全部权限", "分机号码"}) {
            c->lstShare->clearSelection();
            c->lstShare->findItems(QString::fromUtf8(name), Qt::MatchExactly)[0]->setSelected(true);
            c->cmdHave[1]->click();
        }
        c->cmdHide[1]->click();
    };
    script::onModal(QStringLiteral("frmChange"), chooseZeroAndFive);
    manage(QStringLiteral("增加"), [](frmWorker* w) {
        w->cboWorkGrade->setCurrentIndex(4);
        w->cboRight->showPopup();
        EXPECT_EQ(w->cboRight->currentText(), QStringLiteral("5"));   // right 0 needs right 0
        w->cboWorkGrade->setCurrentIndex(1);
        w->cboRight->setEditText(QStringLiteral("7"));
        w->cboRight->showPopup();
        EXPECT_EQ(w->cboRight->currentText(), QStringLiteral("7"));   // not custom: text kept
    });
    ASSERT_TRUE(loginAs(QStringLiteral("0000"), QStringLiteral("0000")));
    manage(QStringLiteral("增加"), [](frmWorker* w) {
        w->cboWorkGrade->setCurrentIndex(4);
        w->cboRight->setEditText(QStringLiteral("3"));
        w->cboRight->showPopup();
        EXPECT_EQ(w->cboRight->currentText(), QStringLiteral("0,5"));
        script::onModal(QStringLiteral("frmChange"), [](QDialog* d) { static_cast<frmChange*>(d)->cmdHide[0]->click(); });
        w->cboRight->showPopup();
        EXPECT_EQ(w->cboRight->currentText(), QStringLiteral("0,5"));   // cancelled: unchanged
        script::onModal(QStringLiteral("frmChange"), [](QDialog* d) {
            auto* c = static_cast<frmChange*>(d);
            c->cmdShare[0]->click();
            c->cmdHide[1]->click();
        });
        w->cboRight->showPopup();
        EXPECT_EQ(w->cboRight->currentText(), QString());
        w->cboRight->setEditText(QStringLiteral("16,17"));
        w->cboWorkerID->setEditText(QStringLiteral("0800"));
        w->txtWorkerName->setText(QStringLiteral("自定"));
        w->cmdOK->click();
    });
    EXPECT_EQ(workerField("0800", "rightlist").toString(), QStringLiteral("16,17"));
    EXPECT_EQ(workerField("0800", "workgrade").toInt(), 4);

    // The logged-in worker's password panel refuses, then changes.
    for (const char* m : {"请输入旧密码", "请输入新密码", "旧密码不正确,请注意区分大小写,请重新输入",
                          "两次输入的密码不一样,请注意大小写", "密码修改成功"})
        script::answer(QString::fromUtf8(m), rOK);
    drive([](frmWorker* w) {
        EXPECT_TRUE(w->windowTitle().endsWith(QStringLiteral("修改员工<管理员>的密码")));
        w->cmdModify->click();
        w->txtOld->setText(QStringLiteral("0000"));
        w->cmdModify->click();
        w->txtOld->setText(QStringLiteral("1111"));
        w->txtNew->setText(QStringLiteral("Ab9"));
        w->cmdModify->click();
        EXPECT_TRUE(w->txtOld->text().isEmpty());
        w->txtOld->setText(QStringLiteral(" 0000 "));
        w->txtConfirm->setText(QStringLiteral("ab9"));
        w->cmdModify->click();
        EXPECT_TRUE(w->txtNew->text().isEmpty());
        w->txtNew->setText(QStringLiteral("  Ab9 "));
        w->txtConfirm->setText(QStringLiteral("Ab9"));
        w->cmdModify->click();
        EXPECT_FALSE(w->isVisible());
    });
    frmWorker::instance().ShowChangePassword();
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(UnscramblePassword(workerField("0000", "passcode").toString()), QStringLiteral("Ab9"));
    EXPECT_EQ(dbSwitch.scalar("select f_memo from tab_oplog order by rowid desc limit 1").toString(), QStringLiteral("修改密码"));
    EXPECT_TRUE(loginAs(QStringLiteral("0000"), QStringLiteral("Ab9")));

    // The worker deleted by another program meanwhile: his old password is refused.
    dbSwitch.execute(QStringLiteral("delete from Worker"));
    script::answer(QStringLiteral("旧密码不正确"), rOK);
    drive([](frmWorker* w) {
        w->txtOld->setText(QStringLiteral("Ab9"));
        w->txtNew->setText(QStringLiteral("1"));
        w->txtConfirm->setText(QStringLiteral("1"));
        w->cmdModify->click();
    });
    frmWorker::instance().ShowChangePassword();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Worker").toInt(), 0);
}

// Another program holding "switch.mdb" for its own writing (its
// BEGIN IMMEDIATE): every gesture of 员工管理 and of the password panel is
// told in the window's words, keeps what was typed and the window open for
// another try, and the same gesture works once the lock is gone. After the
// refusals the window opens again as before. A refused 重新登录 keeps the
// worker logged in with his rights and his name in the status bar, and the
// window in its modal loop with what was typed.
TEST_F(WorkerWindow, UnderAnotherProgramsLockEachGestureIsToldAndWorksAfter) {
    ASSERT_TRUE(loginAs(QStringLiteral("0000"), QStringLiteral("0000")));
    addWorker(QStringLiteral("0042"), QStringLiteral("张三"), 0);
    const int logRows = dbSwitch.scalar("select count(*) from tab_oplog").toInt();
    const QString locked = QStringLiteral("数据库正被其他程序使用");
    struct Case {
        QString mode, id, name;
        bool byEnter;   // Enter in the name box, else a click on the button
    };
    const Case cases[] = {{QStringLiteral("增加"), QStringLiteral("0043"), QStringLiteral("李四"), false},
                          {QStringLiteral("修改"), QStringLiteral("0042"), QStringLiteral("张三丰"), true},
                          {QStringLiteral("删除"), QStringLiteral("0042"), QStringLiteral("张三丰"), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode.toStdString());
        auto other = std::make_unique<Database>(Database::open(dbSwitch.path()));
        other->execute(QStringLiteral("BEGIN IMMEDIATE"));
        script::answer(c.mode + QStringLiteral("员工失败：") + locked, rOK);
        bool opened = false;
        manage(c.mode, [&](frmWorker* w) {
            opened = true;
            const int listed = w->cboWorkerID->count();
            fill(w, c.id, QStringLiteral("操作级"), c.name);
            const auto gesture = [&] {
                if (c.byEnter) QTest::keyClick(w->txtWorkerName, Qt::Key_Return);
                else QTest::mouseClick(w->cmdOK, Qt::LeftButton);
            };
            gesture();
            EXPECT_EQ(script::pendingAnswers(), 0);
            EXPECT_TRUE(w->isVisible());
            EXPECT_EQ(w->cboWorkerID->currentText(), c.id);
            EXPECT_EQ(w->txtWorkerName->text(), c.name);
            EXPECT_EQ(w->cboWorkGrade->currentText(), QStringLiteral("操作级"));
            EXPECT_EQ(w->cboWorkerID->count(), listed);

            other->execute(QStringLiteral("ROLLBACK"));
            gesture();
            EXPECT_TRUE(w->isVisible());
            EXPECT_TRUE(w->txtWorkerName->text().isEmpty());
            EXPECT_EQ(w->cboWorkerID->count(), listed + (c.mode == QStringLiteral("增加") ? 1 : c.mode == QStringLiteral("删除") ? -1 : 0));
            QTest::mouseClick(w->cmdExit, Qt::LeftButton);
        });
        EXPECT_TRUE(opened);
        EXPECT_FALSE(frmWorker::exists());
    }
    EXPECT_EQ(workerField("0043", "WorkerName").toString(), QStringLiteral("李四"));
    EXPECT_TRUE(workerField("0042", "WorkerID").isNull());
    EXPECT_EQ(dbSwitch.scalar("select count(*) from tab_oplog").toInt(), logRows + 3);

    // The password panel alike.
    {
        auto other = std::make_unique<Database>(Database::open(dbSwitch.path()));
        other->execute(QStringLiteral("BEGIN IMMEDIATE"));
        script::answer(QStringLiteral("修改密码失败：") + locked, rOK);
        script::answer(QStringLiteral("密码修改成功"), rOK);
        drive([&](frmWorker* w) {
            QTest::keyClicks(w->txtOld, QStringLiteral("0000"));
            QTest::keyClicks(w->txtNew, QStringLiteral("Neu1"));
            QTest::keyClicks(w->txtConfirm, QStringLiteral("Neu1"));
            QTest::keyClick(w->txtConfirm, Qt::Key_Return);
            EXPECT_TRUE(w->isVisible());
            EXPECT_EQ(w->txtNew->text(), QStringLiteral("Neu1"));
            other->execute(QStringLiteral("ROLLBACK"));
            QTest::mouseClick(w->cmdModify, Qt::LeftButton);
            EXPECT_FALSE(w->isVisible());
        });
        frmWorker::instance().ShowChangePassword();
    }
    EXPECT_EQ(script::pendingAnswers(), 0);
    EXPECT_EQ(UnscramblePassword(workerField("0000", "passcode").toString()), QStringLiteral("Neu1"));

    // The window opens again as it did, for 员工管理 and for 重新登录.
    bool again = false;
    manage(QStringLiteral("增加"), [&](frmWorker* w) { again = w->isVisible(); });
    EXPECT_TRUE(again);

    addWorker(QStringLiteral("0007"), QStringLiteral("李四"), 1, QStringLiteral("18,17"));
    auto other = std::make_unique<Database>(Database::open(dbSwitch.path()));
    other->execute(QStringLiteral("BEGIN IMMEDIATE"));
    script::answer(QStringLiteral("登录失败：数据库正被其他程序使用"), rOK);
    bool refusedKeptEverything = false;
    const bool ok = login([&](frmWorker* w) {
        QTest::keyClicks(w->txtUser, QStringLiteral("0007"));
        QTest::keyClick(w->txtUser, Qt::Key_Return);
        QTest::keyClicks(w->txtPWD, QStringLiteral("0007"));
        QTest::keyClick(w->txtPWD, Qt::Key_Return);
        EXPECT_EQ(script::pendingAnswers(), 0);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), w);
        EXPECT_EQ(WorkerID, QStringLiteral("0000"));
        EXPECT_EQ(WorkerName, QStringLiteral("管理员"));
        EXPECT_EQ(WorkerRights, QStringList{QStringLiteral("0")});
        EXPECT_EQ(WorkerRightNames, QStringList{QStringLiteral("全部权限")});
        EXPECT_EQ(frmPABX::instance().sbrInfo->panelText(4), QStringLiteral("0000"));
        refusedKeptEverything = w->txtUser->text() == QStringLiteral("0007") && w->txtPWD->text() == QStringLiteral("0007");
        other->execute(QStringLiteral("ROLLBACK"));
        QTest::mouseClick(w->cmdLogin, Qt::LeftButton);
    });
    EXPECT_TRUE(refusedKeptEverything);
    EXPECT_TRUE(ok);
    EXPECT_EQ(WorkerID, QStringLiteral("0007"));
    EXPECT_EQ(WorkerRights, (QStringList{"18", "17"}));
    EXPECT_EQ(frmPABX::instance().sbrInfo->panelText(5), QStringLiteral("李四"));
    EXPECT_EQ(dbSwitch.scalar("select WorkerID from Worker where b_active<>0").toString(), QStringLiteral("0007"));
    EXPECT_FALSE(frmWorker::exists());
    // A refused login leaves nothing for the next use of the window.
    EXPECT_TRUE(loginAs(QStringLiteral("0000"), QStringLiteral("Neu1")));
}

}  // namespace
