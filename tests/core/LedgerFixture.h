// The journal's fixture: calls of extension 5 charged to user 7, the station
// file backed up, put back and recovered, the call file's log pages lost.
#pragma once
#include "support/Holds.h"
#include "support/PricingFixture.h"

#include "core/books/ChargeLog.h"
#include "core/books/CopyRecovery.h"
#include "core/StationFiles.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFile>

#include <functional>

namespace pricingtest {
using platform::Database;
using testsupport::freshPrompts;

class LedgerTest : public BooksTest {
protected:
    // A call of extension 5 at 9:`minute` of `day`; its fee.
    Currency call(int minute, QDate day = QDate(2026, 6, 15)) {
        const Currency before = storedFees();
        EXPECT_TRUE(callAt(minute, 5, day));
        return storedFees() - before;
    }
    // The station file as the operator's backup holds it now.
    QString backupNow() { return keepStationFile("backup-switch.mdb"); }
    // 数据库管理 puts `backup` back: recovered on a copy, then renamed over the station file.
    QStringList putBack(const QString& backup) {
        ModSwitch::OpenAllDB(false);
        const QString work = dir->file("switch.mdb.recovering");
        QFile::remove(work);
        EXPECT_TRUE(QFile::copy(backup, work));
        const QStringList lines =
            ModSwitch::RecoverRestoredStationFile(work, dir->file("PhoneCur.mdb"), dir->file("switch.mdb"));
        for (const char* side : {"-wal", "-shm"}) QFile::remove(dir->file("switch.mdb") + side);
        QFile::remove(dir->file("switch.mdb"));
        EXPECT_TRUE(QFile::rename(work, dir->file("switch.mdb")));
        restart();
        return lines;
    }
    // The next start, its box holding `text` answered.
    void restartAnswering(const char* text) {
        platform::script::answer(QString::fromUtf8(text), platform::rOK);
        restart();
    }
    static qsizetype shownCount() { return platform::script::shown().size(); }
    static QString lastShown() { return platform::script::shown().isEmpty() ? QString() : platform::script::shown().last().text; }
    // User `id` added as the user view adds them: an entry of the journal.
    static void addUserNow(qint64 id, const QString& name, Currency remain, Currency deposit = {}) {
        ModSwitch::MoveBalances([&] {
            dbSwitch.execute("INSERT INTO user (userid, username, remain, deposit) VALUES (?, ?, ?, ?)", {id, name, remain, deposit});
        });
    }
    // The entries of the journal file that `where` holds for.
    qint64 inJournalFile(const QString& where, const platform::Params& params = {}) {
        return Database::openReadOnly(dir->file(ModSwitch::kJournalFile))
            .scalar(QStringLiteral("SELECT count(*) FROM tab_chargelog WHERE ") + where, params)
            .toLongLong();
    }
    // `n` starts, one after another.
    void restarts(int n) {
        for (int k = 0; k < n; ++k) restart();
    }
    void refuseApply() {
        dbSwitch.execute("CREATE TRIGGER refuse BEFORE UPDATE ON user BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    }
    // `calls` calls whose charges wait in the log (the station file refused
    // them), then the station closed: the first one's fee; `last` is the
    // number of the last one's entry.
    Currency waitingCharges(int calls, qint64* last) {
        refuseApply();
        const Currency first = call(1);
        for (int m = 2; m <= calls; ++m) call(m);
        dbSwitch.execute("DROP TRIGGER refuse");
        ModSwitch::OpenAllDB(false);
        *last = Database::openReadOnly(dir->file("PhoneCur.mdb")).scalar("SELECT max(f_seq) FROM tab_chargelog").toLongLong();
        return first;
    }
    // The pages the call file's log starts from (its table's and its indexes')
    // overwritten, the station's files closed; the calls still read.
    void overwriteLogPages() {
        ModSwitch::OpenAllDB(false);
        pricingtest::overwriteLogPages(dir->file("PhoneCur.mdb"));
    }
    // The boxes `act` showed, joined.
    static QString boxesOf(const std::function<void()>& act) {
        const qsizetype from = platform::script::shown().size();
        act();
        QStringList boxes;
        for (qsizetype i = from; i < platform::script::shown().size(); ++i) boxes << platform::script::shown()[i].text;
        return boxes.join("\n----\n");
    }
    // The log's pages lost, `stationFile` copied by hand over the station
    // file, then the start that puts the call file back; its boxes.
    QString startBesideLostLogPages(const QString& stationFile) {
        overwriteLogPages();
        replaceClosed("switch.mdb", stationFile);
        platform::script::answer("已用备份", platform::rOK);
        return boxesOf([this] { restart(); });
    }
    // `file` copied by hand over the station file, then the start that
    // catches it up; its boxes.
    QString startWithStationFile(const QString& file) {
        replaceClosed("switch.mdb", file);
        platform::script::answer("落后于话单文件", platform::rOK);
        return boxesOf([this] { restart(); });
    }
    // The journal's entries of amounts asked for (LogKind::Asked) of `user`: how many, and their sum.
    QPair<qint64, Currency> asked(qint64 user) {
        platform::RowReader r = dbPhoneCur.rows("SELECT count(*), coalesce(sum(f_amount), 0) FROM tab_chargelog WHERE f_kind=? AND f_userid=?",
                                                {int(ModSwitch::LogKind::Asked), user});
        EXPECT_TRUE(r.next());
        return {r.integer(0), Currency::fromRaw(r.integer(1))};
    }
    // The station file and the call file as they stand now, kept aside as
    // the older release left them; the station file's path.
    QString olderStationFile() {
        ModSwitch::OpenAllDB(false);
        const QString older = dir->dataPath() + "older/";
        EXPECT_TRUE(QDir().mkpath(older));
        for (const char* f : {"switch.mdb", "PhoneCur.mdb"}) EXPECT_TRUE(QFile::copy(dir->file(f), older + f));
        EXPECT_TRUE(testsupport::makePreviousVersion(older));
        reopen();
        return older + "switch.mdb";
    }
    static QString notCharged(Currency fees) {
        return QStringLiteral("以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n用户7 用户7：2张，共%1元").arg(fees.toString2());
    }
    // 数据库管理's recovery of `backup` on a copy ("switch.mdb.recovering"),
    // replacing `replaced` (none: no station file to replace); its box.
    QString recoverOnACopy(const QString& backup, const QString& replaced = QString()) {
        const QString work = dir->file("switch.mdb.recovering");
        EXPECT_TRUE(QFile::copy(backup, work));
        return ModSwitch::RecoverRestoredStationFile(work, dir->file("PhoneCur.mdb"), replaced).join('\n');
    }
};

}  // namespace pricingtest
