// A station file put back from a copy beside a call file whose log does not
// read whole: every call the call file still holds whose charge no entry gives
// is named for its user, with how many and what they cost; calls whose place
// against the copy cannot be told are named as such; a log that reads
// without a fault but lacks entries is named as read in part.
#include "support/PricingFixture.h"

#include "core/ChargeLog.h"
#include "core/CopyRecovery.h"
#include "core/StationFiles.h"
#include "pricing/ClsMonitor.h"

#include <QFile>

using namespace pricingtest;
using platform::Database;

namespace {

class LogReadInPart : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        localCaller("100.00", 1);
        restart();
    }
    // A call of extension 5 at 9:`minute`; its fee.
    Currency call(int minute) {
        const auto fees = [] {
            return Currency::fromRaw(dbPhoneCur
                                         .scalar(QStringLiteral("SELECT coalesce(sum(f_moneny+f_addfee1+f_addfee2+f_gatefee+"
                                                                "f_linkfee), 0) FROM %1")
                                                     .arg(dbPhoneCur.qualified("Tab_Phone")))
                                         .toLongLong());
        };
        const Currency before = fees();
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(9, minute, 0));
        r.seconds = 100 + 37 * minute;
        EXPECT_TRUE(ClsMonitor().Record(r.frame(), true));
        return fees() - before;
    }
    // The station file as the operator's backup holds it now.
    QString backupNow() {
        ModSwitch::OpenAllDB(false);
        const QString backup = dir->file("backup-switch.mdb");
        EXPECT_TRUE(QFile::copy(dir->file("switch.mdb"), backup));
        openDatabases();
        ModSwitch::OpenSharedRecordsets();
        reopenRates();
        return backup;
    }
    // The pages of the call file `name`'s log overwritten: its calls still read.
    void loseLogPages(const char* name) {
        ModSwitch::OpenAllDB(false);
        Database cur = Database::open(dir->file(name));
        const qint64 page = cur.scalar("PRAGMA page_size").toLongLong();
        QList<qint64> roots;
        for (platform::RowReader r = cur.rows("SELECT rootpage FROM sqlite_master WHERE tbl_name='tab_chargelog'"); r.next();)
            roots << r.integer(0);
        cur.close();
        QFile f(dir->file(name));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        for (qint64 root : roots) {
            ASSERT_TRUE(f.seek((root - 1) * page));
            f.write(QByteArray(int(page), '\x5a'));
        }
    }
    // 数据库管理's recovery of `backup` on a copy, with no station file to replace.
    QString recover(const QString& backup) {
        ModSwitch::OpenAllDB(false);
        const QString work = dir->file("switch.mdb.recovering");
        EXPECT_TRUE(QFile::copy(backup, work));
        return ModSwitch::RecoverRestoredStationFile(work, dir->file("PhoneCur.mdb")).join('\n');
    }
};

// The backup's last call is in no file's log but in the backup's own record
// of what it applied: that tells which calls came since, and only those are named.
TEST_F(LogReadInPart, CallsSinceTheCopyAreNamedWhenOnlyTheCopyKnowsItsLastCall) {
    call(1);   // in the backup's balance; the call file's safety copy lacks it
    const QString backup = backupNow();
    const Currency since = call(2) + call(3);
    loseLogPages("PhoneCur.mdb");
    const QString text = recover(backup);
    EXPECT_TRUE(text.contains(QStringLiteral("以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n用户7 用户7：2张，共%1元")
                                  .arg(since.toString2())))
        << text.toStdString();
    EXPECT_TRUE(text.contains("话单文件的计费记录只能部分读取")) << text.toStdString();
}

// No entry up to the backup's mark reads anywhere: which calls came since
// cannot be told, and every call no entry charged is named as such.
TEST_F(LogReadInPart, CallsWhosePlaceAgainstTheCopyIsUnknownAreNamedAsSuch) {
    const Currency before = call(1);
    restart();   // the call file's copy holds the first call's entry; the station file lets go of it
    const QString backup = backupNow();
    const Currency since = call(2);
    loseLogPages("PhoneCur.mdb");
    ASSERT_TRUE(QFile::remove(dir->file("PhoneCur.mdb.bak")));
    const QString text = recover(backup);
    EXPECT_TRUE(text.contains(QStringLiteral("以下话单的计费记录无法读取，无法确定其话费是否已计入用户余额，请核对：\n"
                                             "用户7 用户7：2张，共%1元")
                                  .arg((before + since).toString2())))
        << text.toStdString();
}

// The log reads without a fault but its last entry is gone: the call it
// charged is named, and the log as read in part.
TEST_F(LogReadInPart, ALogThatReadsWholeButLacksACallsEntryIsNamedAsReadInPart) {
    call(1);
    restart();
    const QString backup = backupNow();
    call(2);
    const Currency lost = call(3);
    ModSwitch::OpenAllDB(false);
    {
        Database cur = Database::open(dir->file("PhoneCur.mdb"));
        const qint64 last = cur.scalar("SELECT max(f_seq) FROM tab_chargelog").toLongLong();
        cur.execute("DELETE FROM tab_chargelog WHERE f_seq=?", {last});
    }
    const QString text = recover(backup);
    EXPECT_TRUE(text.contains("话单文件的计费记录只能部分读取")) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("用户7 用户7：1张，共%1元").arg(lost.toString2()))) << text.toStdString();
}

}  // namespace
