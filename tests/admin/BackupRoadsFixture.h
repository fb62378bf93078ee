#pragma once
// A station with one caller (extension 5 of user 7, 100.00) whose files go
// back by 数据库管理 and 用户管理: the calls, the users' rows and the operator's
// gestures the tests of those roads share.
#include "support/PricingFixture.h"

#include "admin/frmDBManager.h"
#include "console/TableBackup.h"
#include "core/books/ChargeLog.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"
#include "support/Holds.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

namespace admintest {

using namespace pricingtest;
namespace script = platform::script;
using testsupport::holds;
using testsupport::lacks;
using testsupport::lastBox;

class BackupRoadsTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        WorkerRights = QStringList{QStringLiteral("0")};
        localCaller("100.00", 1);
        seed();
        restart();
    }
    // Rows the station holds before its first start.
    virtual void seed() {}
    // A call of extension `ext` at 9:`minute` of `day`, dialling `account` ("" for none).
    void call(int ext, int minute, QDate day, const char* account = "") {
        CallRecord r;
        r.ext = ext;
        r.start = QDateTime(day, QTime(9, minute, 0));
        r.seconds = 100 + 37 * minute;
        r.account = QString::fromLatin1(account);
        ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
    }
    // A user added as the users' grid adds one: an entry with their row.
    void addUserNow(qint32 id, const char* name, const char* remain, const char* deposit = "0.00") {
        ModSwitch::MoveBalances([&] {
            dbSwitch.execute("INSERT INTO user (userid, username, balancemode, remain, deposit) VALUES (?, ?, 1, ?, ?)",
                             {id, QString::fromUtf8(name), yuan(remain), yuan(deposit)});
        });
    }
    // The owner of place `address` of `table` ("extension", "account") given
    // as the grid's 所属用户 gives it: an entry of the journal.
    void giveOwner(const char* table, int address, qint32 userid) {
        ModSwitch::MoveOwners([&] {
            dbSwitch.execute(QStringLiteral("UPDATE %1 SET userid=? WHERE address=?").arg(QLatin1String(table)), {userid, address});
        });
    }
    void giveExtension(int address, qint32 userid) { giveOwner("extension", address, userid); }
    // The operator types `folder` in 数据库管理 and clicks 备份 or 恢复; `told` the box answered.
    void click(int mode, const QString& folder, const char* told) {
        frmDBManager& w = frmDBManager::instance();
        w.show();
        w.opt_Click(mode);
        w.txtPath->setText(folder);
        w.txtPath_LostFocus();
        script::answer(told, platform::rOK);
        QTest::mouseClick(w.cmd[mode == 0 ? 0 : 1], Qt::LeftButton);
        ASSERT_EQ(script::pendingAnswers(), 0);
        w.hide();
    }
    QString folder(const char* name) {
        const QString f = dir->appPath() + name + '/';
        QDir().mkpath(f);
        return f;
    }
    // 备份 of a parameter view's table, its right and caption (用户管理's:
    // the users' copy), marked.
    void backUpTable(const char* view = "User", int right = 7, const char* caption = "用户管理") {
        script::answer("要备份数据库吗?", platform::rYes);
        console::TableBackup(QString::fromUtf8(view), right, QString::fromUtf8(caption));
        ASSERT_EQ(script::pendingAnswers(), 0);
    }
    // 恢复 of that table, every box answered; the boxes after the question.
    QStringList restoreTable(const char* view = "User", int right = 7, const char* caption = "用户管理") {
        const qsizetype from = script::shown().size();
        script::answer("要从备份库恢复数据吗?", platform::rYes);
        script::answer("", platform::rOK);
        console::TableRestore(QString::fromUtf8(view), right, QString::fromUtf8(caption));
        EXPECT_GT(script::shown().size(), from);   // the question was asked
        EXPECT_TRUE(script::unexpected().isEmpty());
        const QStringList boxes = shownSince(from + 1);
        script::reset();   // the answer no box took
        return boxes;
    }
    static QStringList shownSince(qsizetype from) {
        QStringList texts;
        for (qsizetype i = from; i < script::shown().size(); ++i) texts << script::shown()[i].text;
        return texts;
    }
    // 10 days on the entries are settled and moved to the journal file, 500
    // days on (a call of extension 5 at 9:`minute` of the new day) they are
    // past the keeping time. The call's fee.
    Currency letGo(int minute) {
        now = now.addDays(10);
        restart();
        restart();
        now = now.addDays(500);
        const Currency before = remainOf(7);
        call(5, minute, now.date());
        const Currency fee = before - remainOf(7);
        restart();
        restart();
        return fee;
    }
};

}  // namespace admintest
