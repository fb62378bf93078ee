// The money played at length: the station process against the switch
// simulator with a seeded mix of call records, payments and deposit changes,
// users added and deleted, archives, backups and restores, kills at seeded
// points (inside the restores and the recoveries too), damaged station
// files and damaged call files, 初始化, the users' table backed up and put
// back in the user view, users deleted just before and just after a copy
// that is then put back, a clock far past the newest entry (nothing let go)
// and a clock moved on past the time the log keeps entries (the start that
// finds it far past the newest entry doubts it: old entries stay until the
// entries since show the time; then an older backup put back);
// one run in three starts from a data directory the previous version left
// (a log without numbers, a station file without mark, copies or station
// name). A ledger the test keeps itself prices every record the switch sent
// (a flat rate per started minute) and follows every payment; after every
// restart no answered record is lost or stored twice (the call file and the
// year files together), every balance and deposit equals the ledger, and every
// difference the station could not recover is named, user by user, in its box.
// The seed is logged (TARVO_DURABILITY_SEED replays it); TARVO_SOAK_ROUNDS
// makes a longer run than the suite's.
#include "admin/Sites.h"
#include "core/ModDefine.h"
#include "platform/Currency.h"
#include "platform/Db.h"
#include "sim/Switch.h"
#include "support/Holds.h"
#include "support/Fixtures.h"
#include "support/StationProcess.h"
#include "support/SwitchOnPty.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>

using platform::Currency;
using testsupport::lacks, testsupport::lacksAll;
using testsupport::StationProcess;

namespace {

// The tariff: a local call (dialled 8...) costs 0.10 a started minute.
Currency priceOf(int seconds) { return Currency::fromFen(10) * ((seconds + 59) / 60); }

const QString kClock = QStringLiteral("2026-06-15 10:00:00");
const QString kFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

struct Account {
    QString name;
    int ext = 0;
    bool live = true;       // the station holds the user
    bool callable = true;   // the test sends records of its extension
    Currency base, deposit; // the balance after the last payment (or the start)
    int from = 0;           // the records charged against `base` start here
};

struct Sent {
    QString key;   // "ext start", as the census keys it
    // The key of a record sent in a run with the clock ahead, dated by the
    // clock put right: the run may die before it is answered, and the next
    // run stores it with its own year.
    QString resentKey;
    qint64 user = 0;
    Currency price;
    QByteArray upload;   // the record's frame when it comes by the record upload
};

struct StationUser {
    Currency remain, deposit;
    QString name;
};

class MoneySoakTest : public ::testing::Test {
protected:
    void SetUp() override {
        seed = testsupport::durabilitySeed();
        rng.seed(seed);
        // The model with the IP payphone record upload beside the live records.
        dir = std::make_unique<testsupport::StationDir>(2);
        backupDir = dir->appPath() + QStringLiteral("soak-backup/");
        QDir().mkpath(backupDir);
        {
            platform::Database db = platform::Database::open(dir->file("switch.mdb"));
            db.execute(QStringLiteral("INSERT INTO feerate (zonecode, summary, firsttime, firstprice, pertime, perprice, "
                                      "discountid, feeratetype, feerateid) VALUES (?, ?, 60, ?, 60, ?, 1, 7, 0)"),
                       {QStringLiteral("8"), QStringLiteral("本地"), Currency::fromFen(10), Currency::fromFen(10)});
            for (platform::RowReader r = db.rows(QStringLiteral("SELECT address FROM extension WHERE userid=0 AND address>0 "
                                                                "ORDER BY address"));
                 r.next();)
                freeExts << int(r.integer(0));
            db.close();
        }
        for (int i = 0; i < 3; ++i) addFirstUser();

        sim::SwitchOptions opt;
        opt.seed = seed;
        opt.dropWhileClosed = true;
        sw = std::make_unique<sim::Switch>(opt);
        sw->setUploadForgetsAnswered(true);
        ASSERT_TRUE(sw->openPty());
        sw->start();
        sw->setObserver([this](const sim::Frame& f) {
            if (f.startsWith(QStringLiteral("820302")) && ++answers == killOnAnswer) target.fire();
        });
    }
    void TearDown() override {
        target.clear();
        if (station) station->kill();
        sw->setObserver({});
        sw->stop();
    }

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    qint64 anyOf(const QList<qint64>& users) { return users[pick(0, int(users.size()) - 1)]; }

    // The file's sides (its write-ahead log, its journal) gone, and the file
    // itself when `whole`, the station down.
    static void removeSides(const QString& file, bool whole = false) {
        for (const char* side : {"-wal", "-shm", "-journal"}) QFile::remove(file + QLatin1String(side));
        if (whole) QFile::remove(file);
    }
    // The file overwritten whole, its sides gone.
    static void garble(const QString& file) {
        removeSides(file);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(int(f.size()), '\x5a'));
    }
    // A run started with `args` that logs a line beginning `prefix`; a failure named `what` if not.
    bool runLogging(const QStringList& args, const QString& prefix, const char* what, int timeoutMs = 30000) {
        if (startStation(args) && waitLogged(prefix, timeoutMs)) return true;
        ADD_FAILURE() << what;
        endRun();
        return false;
    }
    // The PC's clock and the calls the switch reports `days` on.
    void moveOn(int days) {
        clock = clock.addDays(days);
        recordsFrom = recordsFrom.addDays(days);
    }
    // The first start, `n` calls and the runs that answer them.
    void firstCalls(int n, const char* what = "calls") {
        settle("first start");
        callsRound({}, n);
        settle(what);
    }

    // One of the first users, put in before the station ever starts: a
    // postpaid user owning a free extension, its deposit its balance.
    void addFirstUser() {
        const qint64 id = nextUser++;
        Account a;
        a.name = QStringLiteral("用户%1").arg(id);
        a.ext = freeExts.takeFirst();
        a.base = a.deposit = Currency::fromYuan(pick(50, 300));
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        platform::Transaction tx(db);
        db.execute(QStringLiteral("INSERT INTO user (userid, username, balancemode, remain, deposit, overdraft) "
                                  "VALUES (?, ?, 1, ?, ?, 0)"),
                   {id, a.name, a.base, a.deposit});
        db.execute(QStringLiteral("UPDATE extension SET userid=? WHERE address=?"), {id, a.ext});
        tx.commit();
        db.close();
        accounts.insert(id, a);
    }

    // A user added in the user view of a run of the station (the number is
    // the station's), making `calls` calls at once (seeded when negative).
    // Their number, or -1.
    qint64 addUser(int calls = -1) {
        if (freeExts.isEmpty()) return -1;
        Account a;
        a.name = QStringLiteral("新户%1").arg(freeExts.first());
        a.ext = freeExts.takeFirst();
        a.base = a.deposit = Currency::fromYuan(pick(50, 300));
        if (!runLogging({QStringLiteral("--add-user"), QStringLiteral("%1:%2:%3").arg(a.name, a.base.toString2()).arg(a.ext)},
                        QStringLiteral("ADDED\t"), "the user was not added"))
            return -1;
        qint64 id = -1;
        for (const QString& l : station->log())
            if (l.startsWith(QStringLiteral("ADDED\t")) && l.endsWith(QStringLiteral("\t1"))) id = l.section('\t', 1, 1).toLongLong();
        if (id < 0) {
            ADD_FAILURE() << "the user was not added";
            endRun();
            return -1;
        }
        // A number once given is never given again, whatever copy came back since.
        EXPECT_FALSE(accounts.contains(id)) << "user number " << id << " given twice";
        a.from = int(sent.size());
        accounts.insert(id, a);
        std::printf("  user %lld added on extension %d with %s\n", qlonglong(id), a.ext, qPrintable(a.base.toString2()));
        if (calls < 0) calls = pick(0, 1) == 0 ? pick(1, 3) : 0;
        queueRecords(calls, id);
        finishRun("after an addition");
        return id;
    }

    QList<qint64> callers() const {
        QList<qint64> out;
        for (auto it = accounts.constBegin(); it != accounts.constEnd(); ++it)
            if (it->live && it->callable) out << it.key();
        return out;
    }

    // An extension whose owner a put-back could not bring back is named in
    // its box ("分机5：现属用户0，…"): from then on its calls charge the owner
    // named, as the operator was told, until the operator gives it again.
    // An owner given since that a put-back could not give back is named with
    // the owner the file kept ("分机5：备份中属用户3…", "分机5：恢复前属用户3，恢复后属用户8"): the same.
    // Read in the log's order with the owners given in the run (a later give
    // overrides a box's line), after every run: a box of a start that only
    // completes a restore names owners as truly as the restore's own.
    void noteOwnersNamed(const QString& text) {
        static const QRegularExpression line(
            QStringLiteral("^(?:分机(\\d+)：(?:现属|备份中属|恢复前属用户\\d+[^，\\n]*，恢复后属)用户|GIVEN\t(\\d+)\t)(\\d+)(?!\\d|\t0)"),
            QRegularExpression::MultilineOption);
        for (auto m = line.globalMatch(text); m.hasNext();) {
            const QRegularExpressionMatch one = m.next();
            ownerNamed.insert((one.captured(1) + one.captured(2)).toInt(), one.captured(3).toLongLong());
        }
    }

    // Records of the users' extensions (of `only` when given), a minute apart,
    // seeded lengths; sent live, or kept for the next record upload. Each is
    // the ledger's charge to its extension's owner as the station was last
    // heard to hold it.
    // A record given `at` starts then and lasts up to an hour (a long call).
    void queueRecords(int n, qint64 only = -1, bool upload = false, const QDateTime& at = {}) {
        const QList<qint64> users = callers();
        if (users.isEmpty() && only < 0) return;
        if (station) noteOwnersNamed(station->log().join(QLatin1Char('\n')));
        for (int k = 0; k < n; ++k) {
            const qint64 caller = only >= 0 ? only : anyOf(users);
            const qint64 user = ownerNamed.value(accounts[caller].ext, caller);
            sim::CallRecord r;
            r.extAddr = accounts[caller].ext;
            r.called = QStringLiteral("880%1").arg(10000 + sent.size());
            r.channel = int(sent.size() % 8);
            r.start = at.isValid() ? at : recordsFrom.addSecs(60 * sent.size());
            r.durationSec = at.isValid() ? pick(600, 3600) : pick(1, 600);
            r.type = 1;
            // A record carries no year: the station takes its clock's (last
            // year's for a month still to come).
            const QDate today = runClock.date(), d = r.start.date();
            const QDateTime dated(QDate(d.month() > today.month() ? today.year() - 1 : today.year(), d.month(), d.day()),
                                  r.start.time());
            const QString key = QStringLiteral("%1 %2").arg(r.extAddr).arg(dated.toString(kFormat));
            const QDate right = clock.date();
            const QString resent = QStringLiteral("%1 %2").arg(r.extAddr).arg(
                QDateTime(QDate(d.month() > right.month() ? right.year() - 1 : right.year(), d.month(), d.day()), r.start.time())
                    .toString(kFormat));
            sent.append({key, resent == key ? QString() : resent, user, priceOf(r.durationSec), upload ? r.body() : QByteArray()});
            if (upload) {
                std::vector<QByteArray> held = sw->uploadRecords();
                held.push_back(r.body());
                sw->setUploadRecords(held);
            } else {
                sw->sendCallRecord(r);
            }
        }
    }

    // How often the record is stored, under either of its dates.
    int storedTimes(const Sent& x) const {
        return stored.count.value(x.key) + (x.resentKey.isEmpty() ? 0 : stored.count.value(x.resentKey));
    }

    int liveSent() const {
        int n = 0;
        for (const Sent& x : sent) n += x.upload.isEmpty();
        return n;
    }
    // An uploaded record the station answered is gone from the switch.
    bool uploadTaken(const Sent& x) const {
        const std::vector<QByteArray> held = sw->uploadRecords();
        return std::find(held.begin(), held.end(), x.upload) == held.end();
    }

    size_t acknowledged() const {
        size_t n = 0;
        for (const QString& a : sw->recordAnswers()) n += a == QLatin1String("820302");
        return n;
    }

    static QStringList uploadArgs() {
        return {QStringLiteral("--record-upload"), QStringLiteral("--answer"), QStringLiteral("读取话单=ok")};
    }

    // Starts a run of the station; its boxes are answered, its log kept for the ledger.
    bool startStation(const QStringList& extra, bool waitReports = true) {
        uploading = extra.contains(QStringLiteral("--record-upload"));
        const qsizetype at = extra.lastIndexOf(QStringLiteral("--clock"));
        runClock = at >= 0 && at + 1 < extra.size() ? QDateTime::fromString(extra[at + 1], kFormat) : clock;
        target.clear();
        QStringList args{QStringLiteral("--comm-device"), sw->slavePath(), QStringLiteral("--stay-ms"), QStringLiteral("600000"),
                         QStringLiteral("--clock"), clock.toString(kFormat)};
        // The journal file lost: told, rebuilt from what still gives its
        // entries. A clock moved on past the newest entry: told, nothing let
        // go. A handshake a loaded machine made too slow: the operator goes
        // on, and the station resumes the switch's reports as after any start.
        for (const char* answer : {"已用备份=ok", "已用备份=ok", "数据恢复成功=ok", "备份完成=ok", "落后于话单文件=ok", "ChargeLog.mdb=ok",
                                   "晚一天以上=ok", "与集团电话通讯失败=yes"})
            args << QStringLiteral("--answer") << QString::fromUtf8(answer);
        station = std::make_unique<StationProcess>(dir->appPath(), args + extra);
        const size_t from = sw->receivedCount();
        station->start();
        target.aim(*station);
        if (!waitReports) return true;
        // Up once it resumes the reports; then the switch sends again the record it had in flight.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 60000 && !station->waitEnded(1)) {
            if (sw->waitFor(QStringLiteral("960301"), 50, {}, from)) {
                sw->resendRecordInFlight();
                return true;
            }
        }
        return false;
    }

    // The run is over (killed, or ended): its boxes join those not yet checked.
    void endRun() {
        station->kill();
        boxes += station->log().join(QLatin1Char('\n')) + QLatin1Char('\n');
        noteOwnersNamed(station->log().join(QLatin1Char('\n')));
        drainLine();
    }

    // After the station died: what it had not read from the line is gone.
    void drainLine() { ASSERT_TRUE(testsupport::drainLine(sw->slavePath())); }

    bool waitLogged(const QString& prefix, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            const bool ended = station->waitEnded(10);
            for (const QString& l : station->log())
                if (l.startsWith(prefix)) return true;
            if (ended) return false;
        }
        return false;
    }

    // The run ends once every record is answered (the ledger then compared
    // as the station left it), or when it died. True in the first case.
    bool finishRun(const char* when) {
        const bool done = waitAllAnsweredOrDead(60000);
        // The boxes of the start are logged once it is loaded: not killed before.
        if (done) station->waitLoaded(30000);
        killOnAnswer = -1;
        endRun();
        if (done) checkLedger(when);
        return done;
    }

    bool waitAllAnsweredOrDead(int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (acknowledged() >= size_t(liveSent()) && sw->recordsWaiting() == 0 && sw->uploadRecords().empty() &&
                !QFile::exists(dir->appPath() + QStringLiteral("BillWait.dat")) &&
                (!uploading || station->logHas(QStringLiteral("UPLOADED"))))
                return true;
            if (station->waitEnded(5)) return false;
        }
        return false;
    }

    // Runs of the station until every record sent is answered; then, the
    // station up and idle, the ledger is compared.
    void settle(const char* when) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            if (!station || station->waitEnded(0)) {
                if (!startStation(sw->uploadRecords().empty() ? QStringList() : uploadArgs())) {
                    endRun();
                    ADD_FAILURE() << "the station did not come up: " << boxes.toStdString();
                    return;
                }
            }
            if (finishRun(when)) return;
        }
        ADD_FAILURE() << acknowledged() << " of " << sent.size() << " records answered";
    }

    // The records: each one answered stored exactly once (an uploaded one
    // once it is priced: `settled`), any other at most once, nothing else,
    // every file sound.
    void checkRecords(const char* when, bool settled = false) {
        SCOPED_TRACE(when);
        stored = testsupport::readStoredCalls(dir->dataPath());
        EXPECT_TRUE(stored.filesNotSound.isEmpty()) << stored.filesNotSound.join(", ").toStdString();
        const size_t acked = acknowledged();
        size_t live = 0;
        for (int i = 0; i < sent.size(); ++i) {
            const int n = storedTimes(sent[i]);
            const bool answered = sent[i].upload.isEmpty() ? live++ < acked : settled && uploadTaken(sent[i]);
            if (answered) { EXPECT_EQ(n, 1) << "answered record " << i << " " << sent[i].key.toStdString(); }
            else EXPECT_LE(n, 1) << "record " << i << " " << sent[i].key.toStdString();
        }
        EXPECT_EQ(stored.count.size(), int(stored.rows)) << "a record stored twice";
        EXPECT_LE(stored.rows, qint64(sent.size())) << "a record the switch never sent";
    }

    QMap<qint64, StationUser> stationUsers() {
        QMap<qint64, StationUser> out;
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT userid, remain, deposit, username FROM user WHERE userid<>0"));
             r.next();)
            out.insert(r.integer(0), {Currency::fromRaw(r.integer(1)), Currency::fromRaw(r.integer(2)), r.text(3)});
        db.close();
        return out;
    }

    Currency expected(qint64 id) const {
        const Account& a = accounts[id];
        Currency c = a.base;
        // What the record upload takes was paid at the payphone: stored, not charged.
        for (int i = a.from; i < sent.size(); ++i)
            if (sent[i].user == id && sent[i].upload.isEmpty() && storedTimes(sent[i]) == 1) c -= sent[i].price;
        return c;
    }

    // Every user as the ledger has them, or named in a box since the last
    // check; a named one is taken as the station now holds it (the operator
    // enters it again).
    void checkLedger(const char* when) {
        SCOPED_TRACE(when);
        checkRecords(when, true);
        EXPECT_TRUE(lacksAll(boxes, {QStringLiteral("UNEXPECTED"), QStringLiteral("YIELDS_IN_TRANSACTION")}));
        eachAmountOnceInARestoresBox();
        const QMap<qint64, StationUser> users = stationUsers();
        for (auto it = accounts.begin(); it != accounts.end(); ++it) {
            const qint64 id = it.key();
            const bool named = boxes.contains(QStringLiteral("用户%1 ").arg(id)) ||
                               boxes.contains(QStringLiteral("用户%1：").arg(id));
            if (!users.contains(id)) {
                if (it->live) {
                    EXPECT_TRUE(named) << "user " << id << " is gone\n" << boxes.toStdString();
                    it->live = it->callable = false;
                }
                continue;
            }
            const StationUser& s = users[id];
            if (!it->live) {
                EXPECT_TRUE(named) << "deleted user " << id << " is back\n" << boxes.toStdString();
                it->live = true;
                it->callable = false;
                it->base = s.remain;
                it->deposit = s.deposit;
                it->from = int(sent.size());
                continue;
            }
            // A user added since a copy put back comes back with the extension
            // given them since (an entry); only a journal of an older release,
            // which did not log owners, leaves it for the operator to give again.
            if (named && boxes.contains(QStringLiteral("备份之后为其指定的分机请重新核对"))) it->callable = false;
            const Currency want = expected(id);
            if (s.remain == want && s.deposit == it->deposit) continue;
            // A payment or a deposit moved since the copy put back: named with what it changed.
            QStringList parts;
            if (s.remain != want) parts << (want - s.remain).toString2();
            if (s.deposit != it->deposit) parts << QStringLiteral("押金") + (it->deposit - s.deposit).toString2();
            const QString line = QStringLiteral("用户%1 %2：").arg(id).arg(it->name) + parts.join(QStringLiteral("，"));
            // A users' copy that could not be placed says what it entered: the other sign.
            QStringList entered;
            if (s.remain != want) entered << (s.remain - want).toString2();
            if (s.deposit != it->deposit) entered << QStringLiteral("押金") + (s.deposit - it->deposit).toString2();
            const QString enteredLine = QStringLiteral("用户%1 %2：").arg(id).arg(it->name) + entered.join(QStringLiteral("，"));
            EXPECT_TRUE(boxes.contains(line) || (boxes.contains(QStringLiteral("已随恢复计入")) && boxes.contains(enteredLine)))
                << "user " << id << ": balance " << s.remain.toString2().toStdString() << ", ledger "
                << want.toString2().toStdString() << ", deposit " << s.deposit.toString2().toStdString() << ", ledger "
                << it->deposit.toString2().toStdString() << "; no box names \"" << line.toStdString() << "\"\n"
                << boxes.toStdString();
            it->base = s.remain;
            it->deposit = s.deposit;
            it->from = int(sent.size());
        }
        for (auto it = users.constBegin(); it != users.constEnd(); ++it)
            EXPECT_TRUE(accounts.contains(it.key())) << "user " << it.key() << " the test never added";
        // The station priced each record as the ledger does.
        Currency fees;
        for (const Sent& s : sent)
            if (storedTimes(s) == 1) fees += s.price;
        EXPECT_EQ(storedFees(), fees) << "the fees stored differ from the tariff";
        boxes.clear();
    }

    // One restore is one list: in a box of a restore, each user's amount once.
    void eachAmountOnceInARestoresBox() {
        static const QRegularExpression amountLine(
            QStringLiteral("^(用户\\d+ [^：\\n]*)：(?:押金)?-?\\d+\\.\\d\\d(?:，押金-?\\d+\\.\\d\\d)?$"),
            QRegularExpression::MultilineOption);
        for (const QString& box : boxes.split(QStringLiteral("PROMPT\t"))) {
            if (!box.contains(QStringLiteral("数据恢复成功"))) continue;
            QMap<QString, int> seen;
            for (auto m = amountLine.globalMatch(box); m.hasNext();) ++seen[m.next().captured(1)];
            for (auto it = seen.constBegin(); it != seen.constEnd(); ++it)
                EXPECT_EQ(it.value(), 1) << it.key().toStdString() << " named " << it.value() << " times in one box\n"
                                         << box.toStdString();
        }
    }

    Currency storedFees() {
        Currency sum;
        const QDir d(dir->dataPath());
        for (const QString& name : d.entryList(QDir::Files)) {
            const QString lower = name.toLower();
            const bool current = lower == QLatin1String("phonecur.mdb");
            if (!current && !(lower.startsWith(QLatin1String("phbill_")) && lower.endsWith(QLatin1String(".mdb")))) continue;
            platform::Database db = platform::Database::open(d.filePath(name));
            QStringList tables;
            if (current) tables << QStringLiteral("Tab_Phone");
            else
                for (int m = 1; m <= 12; ++m) tables << QStringLiteral("Tab_Ph%1").arg(m);
            for (const QString& t : tables) {
                const QString actual = db.actualTableName(t);
                if (actual.isEmpty()) continue;
                sum += Currency::fromRaw(
                    db.scalar(QStringLiteral("SELECT coalesce(sum(f_moneny + f_addfee1 + f_addfee2 + f_gatefee + f_linkfee), 0) "
                                             "FROM %1")
                                  .arg(db.qualified(actual)))
                        .toLongLong());
            }
            db.close();
        }
        return sum;
    }

    // A backup of the station file through the database window, with the
    // year files, as a backup of every listed file makes it; `deleting` users
    // deleted in the same run just before it.
    void backup(const QList<qint64>& deleting = {}) {
        std::printf("  backup\n");
        for (const QString& f : QDir(backupDir).entryList({QStringLiteral("*.mdb")}, QDir::Files)) QFile::remove(backupDir + f);
        QStringList args{QStringLiteral("--backup-to"), backupDir, QStringLiteral("--backup-archives")};
        for (qint64 id : deleting) args << QStringLiteral("--delete-user") << QString::number(id);
        if (!runLogging(args, QStringLiteral("BACKEDUP"), "no backup")) return;
        for (qint64 id : deleting) {
            EXPECT_TRUE(station->logHas(QStringLiteral("DELETED\t%1\t1").arg(id)));
            accounts[id].live = accounts[id].callable = false;
        }
        haveBackup = QFile::exists(backupDir + QStringLiteral("Switch.mdb"));
        EXPECT_TRUE(haveBackup);
        queueRecords(pick(0, 4));
        finishRun("after a backup");
    }

    // The station file put back from the backup, killed on the way or not
    // (at `at` when given); then calls (of `calling` when given).
    void restoreBackup(const char* at = nullptr, qint64 calling = -1) {
        if (!haveBackup) {
            callsRound({}, pick(2, 6));
            return;
        }
        static const char* const kPoints[] = {"", "copied", "marked", "renamed"};
        const QString point = QString::fromLatin1(at ? at : kPoints[pick(0, 3)]);
        std::printf("  restore from the backup, killed at \"%s\"\n", qPrintable(point));
        QStringList extra{QStringLiteral("--restore-from"), backupDir};
        if (!point.isEmpty()) extra << QStringLiteral("--kill-in-restore") << point;
        if (!startStation(extra)) {
            endRun();
            return;
        }
        if (point.isEmpty()) {
            EXPECT_TRUE(waitLogged(QStringLiteral("RESTORED"), 60000)) << station->log().join('\n').toStdString();
            if (calling >= 0) queueRecords(2, calling);
            else queueRecords(pick(0, 4));
            finishRun("after a restore");
        } else {
            EXPECT_TRUE(station->waitEnded(60000));
            endRun();
            checkRecords("killed in a restore");
            // The next start completes it, and may die inside that too.
            if (point != QLatin1String("copied") && pick(0, 1) == 0) {
                std::printf("  killed again while the start completes it\n");
                startStation({QStringLiteral("--kill-in-restore"), QStringLiteral("recovered")}, false);
                EXPECT_TRUE(station->waitEnded(60000));
                endRun();
            }
        }
    }

    // A user deleted after settling, as the settlement window does.
    void deleteUser(qint64 id) {
        std::printf("  user %lld deleted\n", qlonglong(id));
        if (!runLogging({QStringLiteral("--delete-user"), QString::number(id)}, QStringLiteral("DELETED\t"), "the user was not deleted"))
            return;
        EXPECT_TRUE(station->logHas(QStringLiteral("DELETED\t%1\t1").arg(id)));
        accounts[id].live = accounts[id].callable = false;
        queueRecords(pick(0, 4));
        finishRun("after a delete");
    }

    // A payment of user `id` (or a change of deposit: paid against a sum
    // due), then calls of that user, perhaps killed meanwhile.
    void pay(qint64 id) {
        const Currency pay = Currency::fromYuan(pick(0, 200)), due = Currency::fromYuan(pick(0, 3) == 0 ? pick(1, 50) : 0);
        std::printf("  user %lld pays %s against %s\n", qlonglong(id), qPrintable(pay.toString2()), qPrintable(due.toString2()));
        if (!startStation({QStringLiteral("--pay"), QStringLiteral("%1:%2:%3").arg(id).arg(pay.toString2(), due.toString2())})) {
            endRun();
            return;
        }
        if (!waitLogged(QStringLiteral("PAID\t"), 30000)) {
            ADD_FAILURE() << "the payment was not made";
            endRun();
            return;
        }
        EXPECT_TRUE(station->logHas(QStringLiteral("PAID\t%1\t1").arg(id)));
        Account& a = accounts[id];
        a.deposit = a.deposit + pay - due;
        a.base = a.deposit;
        a.from = int(sent.size());
        const qsizetype before = sent.size();
        queueRecords(pick(1, 3), id);
        queueRecords(pick(0, 4));
        // Half the time the station is killed at once or as the n-th of these records is answered.
        if (pick(0, 1) == 0) {
            const int nth = pick(0, int(sent.size() - before));
            if (nth == 0) station->killNow();
            else killOnAnswer = answers + nth;
        }
        finishRun("after a payment");
    }

    // The numbers of the entries the journal holds (the call file's log and
    // the journal's file together), the station down; none in a log the
    // previous version left, which the next start numbers.
    QSet<qint64> entriesHeld() {
        QSet<qint64> out;
        for (const QString& name : {QStringLiteral("PhoneCur.mdb"), QStringLiteral("ChargeLog.mdb")}) {
            if (!QFile::exists(dir->file(name))) continue;
            platform::Database db = platform::Database::open(dir->file(name));
            if (db.scalar(QStringLiteral("SELECT count(*) FROM pragma_table_info('tab_chargelog') WHERE name='f_seq'")).toInt() > 0)
                for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_seq FROM tab_chargelog")); r.next();)
                    out.insert(r.integer(0));
            db.close();
        }
        return out;
    }

    // Users deleted just before and just after a copy (a backup, or the safety
    // copy a start takes), then that copy put back: the one deleted before
    // stays gone, the one deleted after is deleted again, or named.
    void deletedAroundACopy() {
        QList<qint64> users = callers();
        if (users.size() < 3) {
            addUser();
            return;
        }
        const qint64 before = users.takeAt(pick(0, int(users.size()) - 1));
        const qint64 after = users.takeAt(pick(0, int(users.size()) - 1));
        const int road = pick(0, 2);
        static const char* const kRoads[] = {"a backup, put back by the database window", "the safety copy, the station file damaged",
                                             "the safety copy, put back by hand"};
        std::printf("  users %lld and %lld deleted around %s\n", qlonglong(before), qlonglong(after), kRoads[road]);
        if (road == 0) {
            backup({before});
            if (HasFailure()) return;
            deleteUser(after);
            restoreBackup("");
            return;
        }
        // The start of the second deletion's run takes the safety copy.
        deleteUser(before);
        deleteUser(after);
        const QString file = dir->file("switch.mdb");
        if (HasFailure() || !QFile::exists(file + QStringLiteral(".bak"))) return;
        if (road == 1) {
            garble(file);
        } else {
            removeSides(file, true);
            EXPECT_TRUE(QFile::copy(file + QStringLiteral(".bak"), file));
        }
        settle("after the copy was put back");
    }

    // The clock moved on past the time the log keeps its entries, the calls
    // with it: a payment on that clock, starts that doubt it and keep the old
    // entries, then an older backup put back. What the journal let go is named.
    void pastTheHorizon() {
        if (!haveBackup) backup();
        if (HasFailure()) return;
        moveOn(401);
        horizonPassed = true;
        std::printf("  the clock moved on to %s\n", qPrintable(clock.toString(kFormat)));
        const QList<qint64> users = callers();
        if (!users.isEmpty()) pay(anyOf(users));
        const QSet<qint64> held = entriesHeld();
        settle("a year and more later");
        callsRound({}, pick(1, 4));
        settle("a year and more later");
        const QSet<qint64> kept = entriesHeld();
        int gone = 0;
        for (qint64 n : held) gone += !kept.contains(n);
        std::printf("  %d of %lld entries let go\n", gone, qlonglong(held.size()));
        restoreBackup("");
    }

    // The station file put back by hand from its start-up copy with the
    // station closed (or its write-ahead log lost); the start that catches up
    // is checked before any call comes.
    // An extension given to another user, and no call on it before the
    // station file goes back (a backup, or its start-up copy by hand): the
    // owner is an entry and comes back; its calls after it charge the user it
    // was given to.
    void givenThenPutBack() {
        const QList<qint64> users = callers();
        if (users.size() < 2) {
            callsRound({}, pick(2, 6));
            return;
        }
        const qint64 from = anyOf(users);
        qint64 to = from;
        while (to == from) to = anyOf(users);
        const int ext = accounts[from].ext;
        if (!giveExtension(ext, to)) return;
        endRun();   // no call before the put-back
        if (haveBackup && pick(0, 1) == 0) restoreBackup("");
        else if (QFile::exists(dir->file("switch.mdb") + QStringLiteral(".bak"))) putBackByHand();
        callsRound({}, pick(1, 4));
    }

    // Extension `ext` given to user `to` in a run of the station, left running.
    bool giveExtension(int ext, qint64 to) {
        std::printf("  extension %d given to user %lld\n", ext, qlonglong(to));
        if (!runLogging({QStringLiteral("--give-ext"), QStringLiteral("%1:%2").arg(ext).arg(to)}, QStringLiteral("GIVEN\t"),
                        "the extension was not given"))
            return false;
        if (station->logHas(QStringLiteral("GIVEN\t%1\t%2\t1").arg(ext).arg(to))) ownerNamed.insert(ext, to);
        return true;
    }

    // The users' table backed up, or put back, in the user view.
    void usersTable(bool restore) {
        std::printf("  users' table %s\n", restore ? "put back" : "backed up");
        // A copy older than the entries the log still keeps names what it
        // cannot bring up; one that cannot be placed, what it entered.
        const QStringList args = restore ? QStringList{QStringLiteral("--users-restore"), QStringLiteral("--answer"),
                                                       QStringLiteral("无法找回=ok"), QStringLiteral("--answer"),
                                                       QStringLiteral("未能重新计入=ok"), QStringLiteral("--answer"),
                                                       QStringLiteral("已随恢复计入=ok")}
                                         : QStringList{QStringLiteral("--users-backup")};
        if (!runLogging(args, restore ? QStringLiteral("USERSRESTORED") : QStringLiteral("USERSBACKEDUP"),
                        "the users' table was not backed up or put back"))
            return;
        haveUsersBackup = true;
        queueRecords(pick(0, 4));
        finishRun(restore ? "after the users' table was put back" : "after the users' backup");
    }

    // The notes `like` names gone from the call file and the journal file,
    // the station down, as a release that wrote none left them.
    void dropNotes(const QString& like) {
        for (const QString& name : {QStringLiteral("PhoneCur.mdb"), QStringLiteral("ChargeLog.mdb")}) {
            if (!QFile::exists(dir->file(name))) continue;
            platform::Database db = platform::Database::open(dir->file(name));
            if (db.hasTable(QStringLiteral("tab_notes"), false))
                db.execute(QStringLiteral("DELETE FROM tab_notes WHERE varname LIKE ?"), {like});
            db.close();
        }
    }

    // The journal's gap: an extension given to another user before a backup
    // and given back after it, or a users' copy made as an older release made
    // it (no mark), payments and calls; ten days on the entries settle into
    // the journal file, which is lost with the station closed; then a copy
    // put back across the gap (the backup, the users' copy, or the safety
    // copy by hand). Every balance is the ledger's or named with its amount,
    // every extension's calls charge the owner the station holds or named.
    // `usersCopy`: the users' copy unmarked, a payment since, and that copy
    // put back (else seeded).
    void journalGap(bool usersCopy = false) {
        const QList<qint64> users = callers();
        int ext = -1;
        qint64 from = -1;
        if (users.size() >= 2 && pick(0, 1) == 0) {
            from = anyOf(users);
            qint64 to = from;
            while (to == from) to = anyOf(users);
            ext = accounts[from].ext;
            if (!giveExtension(ext, to)) return;
            endRun();
        }
        backup();
        if (HasFailure()) return;
        if (ext >= 0 && giveExtension(ext, from)) endRun();
        if (usersCopy || pick(0, 1) == 0) {
            usersTable(false);
            if (usersCopy || pick(0, 1) == 0) {
                std::printf("  the users' copy without its mark\n");
                platform::Database copy = platform::Database::open(dir->file("Backup.mdb"));
                copy.execute(QStringLiteral("DROP TABLE IF EXISTS TarvoBackupMarks"));
                copy.close();
                dropNotes(QStringLiteral("TarvoBackupMark:Backup%"));
            }
        }
        const QList<qint64> now = callers();
        if (!now.isEmpty() && (usersCopy || pick(0, 1) == 0)) pay(anyOf(now));
        callsRound({}, pick(1, 4));
        moveOn(10);
        std::printf("  ten days on: %s\n", qPrintable(clock.toString(kFormat)));
        settle("ten days on");
        settle("ten days on, the entries settled");
        std::printf("  the journal file lost\n");
        removeSides(dir->file(QStringLiteral("ChargeLog.mdb")), true);
        callsRound({}, pick(1, 4));
        switch (usersCopy ? 1 : pick(0, 2)) {
        case 0: restoreBackup(""); break;
        case 1:
            if (haveUsersBackup) {
                usersTable(true);
                break;
            }
            [[fallthrough]];
        default:
            if (QFile::exists(dir->file("switch.mdb") + QStringLiteral(".bak"))) putBackByHand();
            break;
        }
        callsRound({}, pick(1, 4));
    }

    // A call that started before the last call a copy holds and is recorded
    // after it (a long call in progress as the copy was made), then that copy
    // put back: a backup by the database window, or the safety copy a start
    // took, the station file damaged (road 0 or 1; seeded when negative).
    // Charged once, or named with its amount.
    void longerThanTheCopysLast(int road = -1) {
        const QList<qint64> users = callers();
        const bool restore = (road < 0 ? pick(0, 1) : road) == 0;
        if (users.isEmpty() || sent.isEmpty() || (!restore && !QFile::exists(dir->file("switch.mdb.bak")))) {
            callsRound({}, pick(2, 6));
            return;
        }
        // The copy's last call: the last one sent before it.
        const QDateTime last = recordsFrom.addSecs(60 * (sent.size() - 1));
        if (restore) {
            backup();
            if (HasFailure()) return;
        }
        const qint64 caller = anyOf(users);
        QDateTime at = last.addSecs(-pick(1, 59));
        const auto taken = [&] {
            const QString key = QStringLiteral("%1 %2").arg(accounts[caller].ext).arg(at.toString(kFormat));
            return std::any_of(sent.begin(), sent.end(), [&](const Sent& x) { return x.key == key; });
        };
        while (taken()) at = at.addSecs(-1);
        std::printf("  a call of user %lld from %s, longer than the copy's last, then %s\n", qlonglong(caller),
                    qPrintable(at.toString(kFormat)), restore ? "the backup put back" : "the station file damaged");
        // This start takes the safety copy, before the long call is recorded.
        if (!startStation({})) {
            endRun();
            return;
        }
        queueRecords(1, caller, false, at);
        queueRecords(pick(0, 3));
        if (!finishRun("after a long call")) return;
        if (restore) {
            restoreBackup("");
            return;
        }
        const QString file = dir->file("switch.mdb");
        if (!QFile::exists(file + QStringLiteral(".bak"))) return;
        garble(file);
        callsRound({}, pick(1, 4));
    }

    // A session with the PC's clock ahead (its calls charged with entries
    // dated ahead), then the clock put right: the starts after it let go of
    // no entry the window still keeps, and an older backup put back is exact
    // or named. `days` ahead and the kill of its run (as callsRound's `mode`)
    // seeded when negative.
    void clockAheadForASession(int days = -1, int killMode = -1) {
        if (!haveBackup) backup();
        if (HasFailure()) return;
        if (days < 0) days = pick(0, 1) == 0 ? pick(2, 30) : pick(380, 800);
        const QDateTime ahead = clock.addDays(days);
        std::printf("  a session with the clock at %s, then put right\n", qPrintable(ahead.toString(kFormat)));
        const QSet<qint64> held = entriesHeld();
        // Killed inside as any run of calls: a record sent again once the
        // clock is right is dated by it, and one stored before the kill is
        // not stored again.
        callsRound({QStringLiteral("--clock"), ahead.toString(kFormat)}, pick(2, 6), killMode);
        settle("the clock put right");
        settle("the clock put right, a second start");
        const QSet<qint64> kept = entriesHeld();
        // After the clock moved on for good, the old entries go as the window says.
        if (!horizonPassed) {
            for (qint64 n : held) EXPECT_TRUE(kept.contains(n)) << "entry " << n << " let go after a clock ahead";
        }
        restoreBackup("");
    }

    // A second site made once in the run, as the site window makes it; its
    // folder.
    QString site() {
        const QString name = QStringLiteral("东区");
        if (!QDir(dir->file(name)).exists()) {
            const QString app = AppPath;
            AppPath = dir->appPath();
            platform::Database root = platform::Database::open(dir->file("switch.mdb"));
            QString error;
            EXPECT_TRUE(admin::AddSiteDirectory(name, root, &error)) << error.toStdString();
            root.execute(QStringLiteral("INSERT INTO terminal (pointid, pointname) VALUES (?, ?)"), {4, name});
            root.close();
            AppPath = app;
            std::printf("  site %s made\n", qPrintable(name));
        }
        return dir->file(name + QStringLiteral("/"));
    }

    // What a site's files hold that a restore must leave alone: its users'
    // money and its year files.
    QStringList siteState(const QString& folder) {
        QStringList out;
        platform::Database db = platform::Database::open(folder + QStringLiteral("Switch.mdb"));
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT userid, remain, deposit FROM user ORDER BY userid")); r.next();)
            out << QStringLiteral("%1 %2 %3").arg(r.integer(0)).arg(r.integer(1)).arg(r.integer(2));
        db.close();
        out << QDir(folder).entryList({QStringLiteral("phbill_*.mdb")}, QDir::Files);
        return out;
    }

    // A backup of the root chosen for a restore in the second site, and a
    // backup of that site chosen at the root: refused whole, nothing of it
    // taken on either side.
    void anotherSitesBackup() {
        if (!haveBackup) backup();
        if (HasFailure()) return;
        const QString east = site();
        if (HasFailure()) return;
        const QString eastBackup = dir->appPath() + QStringLiteral("soak-site-backup/");
        QDir().mkpath(eastBackup);
        const QStringList refused{QStringLiteral("--answer"), QStringLiteral("恢复失败=ok")};
        const QString refusal = QStringLiteral("属于另一个话务台或站点，未恢复任何文件");
        std::printf("  the root's backup chosen in the site\n");
        const QStringList before = siteState(east);
        if (!runLogging(QStringList{QStringLiteral("--site"), QStringLiteral("东区"), QStringLiteral("--restore-from"), backupDir} + refused,
                        QStringLiteral("RESTORED"), "the site's restore did not run", 60000))
            return;
        station->waitLoaded(30000);
        EXPECT_TRUE(station->log().join('\n').contains(refusal)) << station->log().join('\n').toStdString();
        // The site's own: backed up in the same run.
        endRun();
        EXPECT_TRUE(lacks(boxes, QStringLiteral("UNEXPECTED")));
        boxes.clear();
        EXPECT_EQ(siteState(east), before);
        if (!runLogging({QStringLiteral("--site"), QStringLiteral("东区"), QStringLiteral("--backup-to"), eastBackup,
                         QStringLiteral("--backup-archives")},
                        QStringLiteral("BACKEDUP"), "no backup of the site"))
            return;
        endRun();
        EXPECT_TRUE(lacks(boxes, QStringLiteral("UNEXPECTED")));
        boxes.clear();
        EXPECT_TRUE(QFile::exists(eastBackup + QStringLiteral("Switch.mdb")));
        std::printf("  the site's backup chosen at the root\n");
        if (!runLogging(QStringList{QStringLiteral("--restore-from"), eastBackup} + refused, QStringLiteral("RESTORED"),
                        "the root's restore did not run", 60000))
            return;
        EXPECT_TRUE(station->log().join('\n').contains(refusal)) << station->log().join('\n').toStdString();
        queueRecords(pick(0, 4));
        finishRun("the site's backup refused at the root");
    }

    // The release between numbered the log without noting where its numbers
    // began: a start of it over what the previous version left, its calls,
    // then (or not) a payment or a user added and the station file the
    // previous version left, unmarked, put back by hand with the station
    // closed: placed by its own rows, it is brought up by every entry it lacks.
    void throughTheReleaseBetween(int putBack = -1) {
        const QString file = dir->file("switch.mdb");
        const QString old = dir->appPath() + QStringLiteral("soak-unmarked-switch.mdb");
        QFile::remove(old);
        ASSERT_TRUE(QFile::copy(file, old));
        settle("the release between's first start");
        dropNotes(QStringLiteral("TarvoChargeNumbered"));
        std::printf("the data directory of the release between\n");
        callsRound({}, pick(2, 6));
        settle("calls of the release between");
        if ((putBack < 0 ? pick(0, 1) : putBack) == 0) return;
        const QList<qint64> users = callers();
        if (pick(0, 1) == 0 && !users.isEmpty()) pay(anyOf(users));
        else addUser();
        settle("before the previous version's station file is put back");
        std::printf("  the previous version's station file put back by hand\n");
        removeSides(file, true);
        ASSERT_TRUE(QFile::copy(old, file));
        settle("after the previous version's station file was put back by hand");
    }

    void putBackByHand() {
        std::printf("  station file put back by hand from its copy\n");
        const QString file = dir->file("switch.mdb");
        removeSides(file, true);
        EXPECT_TRUE(QFile::copy(file + QStringLiteral(".bak"), file));
        settle("after the station file was put back by hand");
    }

    // A run that streams records and may die at a seeded point: right after
    // a record and its charge committed, when an answer reaches the switch,
    // after a while, inside the start-up's archive, or not at all.
    // `mode` is seeded when negative.
    void callsRound(QStringList extra, int records, int mode = -1) {
        if (mode < 0) mode = pick(0, 4);
        const int nth = pick(1, qMax(1, records + int(sw->uploadRecords().size())));
        static const char* const kStages[] = {"copied", "month", "compacted", "detached", "replaced"};
        std::printf("  calls: %d records, kill mode %d at %d\n", records, mode, nth);
        if (mode == 0) extra << QStringLiteral("--kill-after-store") << QString::number(nth);
        if (mode == 3) extra << QStringLiteral("--kill-in-archive") << QString::fromLatin1(kStages[pick(0, 4)]) + ":1";
        if (!startStation(extra)) {
            endRun();
            return;
        }
        queueRecords(records);
        if (mode == 1) killOnAnswer = answers + nth;
        if (mode == 2) {
            QThread::msleep(pick(0, 400));
            station->killNow();
        }
        if (!finishRun("calls answered")) checkRecords("after the calls' run");
    }

    unsigned seed = 0;
    std::mt19937 rng;
    std::unique_ptr<testsupport::StationDir> dir;
    std::unique_ptr<sim::Switch> sw;
    std::unique_ptr<StationProcess> station;
    // What the switch's observer kills, from the simulator's thread.
    testsupport::KillTarget target;
    QString backupDir;
    // The PC's clock in every run, and the start of the calls the switch
    // reports: moved on together past the time the log keeps its entries.
    QDateTime clock = QDateTime::fromString(kClock, kFormat);
    QDateTime recordsFrom = QDateTime(QDate(2026, 6, 1), QTime(0, 0, 0));
    QDateTime runClock = clock;   // the clock of the run the records go to
    bool horizonPassed = false;
    bool haveBackup = false;
    bool haveUsersBackup = false;
    QList<int> freeExts;
    qint64 nextUser = 7;
    QMap<qint64, Account> accounts;
    QMap<int, qint64> ownerNamed;   // extension -> the owner a box named for it
    QList<Sent> sent;
    testsupport::StoredCalls stored;
    QString boxes;   // the logs of the runs since the last comparison
    bool uploading = false;
    std::atomic<int> answers{0};
    std::atomic<int> killOnAnswer{-1};
};

int soakRounds() {
    const QByteArray env = qgetenv("TARVO_SOAK_ROUNDS");
    return env.isEmpty() ? 16 : qMax(1, env.toInt());
}

TEST_F(MoneySoakTest, EveryAnsweredRecordIsChargedOnceAndEveryBalanceFollowsTheLedger) {
    const int rounds = soakRounds();
    settle("first start");
    if (seed % 3 == 0) {
        // A station the previous version ran: calls charged, then its files
        // as that version left them; the next start upgrades them.
        callsRound({}, 6);
        settle("calls of the previous version");
        ASSERT_TRUE(testsupport::makePreviousVersion(dir->dataPath()));
        std::printf("the data directory of the previous version\n");
        // One run in six upgrades through the release between.
        if (seed % 2 == 0) throughTheReleaseBetween();
    }
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        const int op = pick(0, 21);
        std::printf("round %d: op %d\n", round, op);
        std::fflush(stdout);
        switch (op) {
        case 0:
        case 1: callsRound({}, pick(3, 12)); break;
        case 2: {
            const QList<qint64> users = callers();
            if (!users.isEmpty()) pay(anyOf(users));
            break;
        }
        case 3: {
            // A user deleted after settling, as the settlement window does.
            const QList<qint64> users = callers();
            if (users.size() < 2) {
                addUser();
                break;
            }
            deleteUser(anyOf(users));
            break;
        }
        case 4: addUser(); break;
        case 5: backup(); break;
        case 6: restoreBackup(); break;
        case 7:
        case 8: {
            // The station file damaged while the station is down; the next
            // start puts its safety copy back, perhaps dying inside that
            // restore and again inside its completion.
            // (A start that adds tables drops the copy until the next start takes one.)
            if (!QFile::exists(dir->file("switch.mdb.bak"))) {
                callsRound({}, pick(2, 6));
                break;
            }
            static const char* const kDamage[] = {"garbage", "missing", "settings lost"};
            const int damage = pick(0, 2);
            const QString file = dir->file("switch.mdb");
            std::printf("  station file damaged: %s\n", kDamage[damage]);
            if (damage == 2) {
                platform::Database db = platform::Database::open(file);
                db.execute(QStringLiteral("DROP TABLE Variant"));
                db.close();
            } else {
                if (damage == 1) removeSides(file, true);
                else garble(file);
            }
            static const char* const kSteps[] = {"marked", "moved", "copied", "recovered", "renamed"};
            // The mark is set once: a start that completes the restore begins past it.
            for (int kill = pick(0, 2), first = 0; kill > 0; --kill, first = 1) {
                const QString step = QString::fromLatin1(kSteps[pick(first, 4)]);
                std::printf("  killed in the restore at \"%s\"\n", qPrintable(step));
                startStation({QStringLiteral("--kill-in-copy-restore"), step}, false);
                EXPECT_TRUE(station->waitEnded(60000));
                endRun();
            }
            callsRound({}, pick(1, 6));
            break;
        }
        case 10: {
            // Calls, then the call file damaged while the station is down: the
            // next start puts its safety copy back, and the station file gives
            // it the calls and entries since (a record sent again after a kill
            // is known by them). Every answered record stays stored once and
            // charged once.
            callsRound({}, pick(2, 8));
            const QString file = dir->file("PhoneCur.mdb");
            if (!QFile::exists(file + QStringLiteral(".bak"))) break;
            const bool missing = pick(0, 1) == 0;
            std::printf("  call file damaged: %s\n", missing ? "missing" : "garbage");
            if (missing) removeSides(file, true);
            else garble(file);
            callsRound({}, pick(1, 4));
            break;
        }
        case 11: {
            // 初始化 of a user: balance and deposit start again from nothing.
            const QList<qint64> users = callers();
            if (users.isEmpty()) break;
            const qint64 id = anyOf(users);
            std::printf("  user %lld initialised\n", qlonglong(id));
            if (!runLogging({QStringLiteral("--init-user"), QString::number(id)}, QStringLiteral("INITED\t"), "the user was not initialised"))
                break;
            Account& a = accounts[id];
            a.base = a.deposit = Currency();
            a.from = int(sent.size());
            queueRecords(pick(0, 3), id);
            finishRun("after 初始化");
            break;
        }
        case 12: usersTable(haveUsersBackup && pick(0, 1) == 0); break;
        case 13: {
            // A run with the clock past the time the log keeps its entries,
            // far past the newest entry: nothing is let go on that clock's
            // word, and the station says so.
            std::printf("  a run a year and more later\n");
            const QSet<qint64> held = entriesHeld();
            if (!startStation({QStringLiteral("--clock"), clock.addDays(412).toString(kFormat)})) {
                endRun();
                break;
            }
            finishRun("a year and more later");
            const QSet<qint64> after = entriesHeld();
            for (qint64 n : held) EXPECT_TRUE(after.contains(n)) << "entry " << n << " let go on a clock far ahead";
            break;
        }
        case 14: {
            // The station file put back by hand from its start-up copy with
            // the station closed (or its write-ahead log lost), perhaps with a
            // user added first: the next start brings it up to the journal,
            // users added and deleted since included.
            const QString file = dir->file("switch.mdb");
            if (pick(0, 1) == 0) addUser();
            if (!QFile::exists(file + QStringLiteral(".bak"))) {
                callsRound({}, pick(2, 6));
                break;
            }
            putBackByHand();
            callsRound({}, pick(1, 4));
            break;
        }
        case 15: deletedAroundACopy(); break;
        case 17: givenThenPutBack(); break;
        case 18: longerThanTheCopysLast(); break;
        case 19: clockAheadForASession(); break;
        case 21: journalGap(); break;
        case 20:
            // Once a run: the site is made once.
            if (QDir(dir->file(QStringLiteral("东区"))).exists()) callsRound({}, pick(2, 6));
            else anotherSitesBackup();
            break;
        case 16:
            // Once a run: the clock stays moved on.
            if (horizonPassed) callsRound({}, pick(2, 6));
            else pastTheHorizon();
            break;
        case 9:
            if (pick(0, 1) == 0) {
                callsRound({}, pick(8, 20));
                break;
            }
            // Records taken by the record upload. No live record comes
            // meanwhile: the upload takes whatever call record arrives.
            std::printf("  record upload\n");
            queueRecords(pick(2, 10), -1, true);
            callsRound(uploadArgs(), 0);
            break;
        }
        settle("after the round");
    }
    // A last start and a clean end.
    settle("at the end");
    StationProcess last(dir->appPath(), QStringList{QStringLiteral("--comm-device"), sw->slavePath(), QStringLiteral("--stay-ms"),
                                                    QStringLiteral("0"), QStringLiteral("--clock"), clock.toString(kFormat)});
    last.start();
    ASSERT_TRUE(last.waitEnded(60000));
    EXPECT_TRUE(last.logHas(QStringLiteral("END\t0"))) << last.log().join('\n').toStdString();
    drainLine();
    checkRecords("after a clean end", true);
    EXPECT_EQ(stored.rows, sent.size()) << "every record sent is stored";
    std::printf("%lld records, %lld users; seed %u\n", qlonglong(sent.size()), qlonglong(accounts.size()), seed);
}

// A user added since a backup comes back with a restore of that backup from
// the journal, and with them the extension given them since (an entry): no
// box names it, and its calls after the restore charge that user.
TEST_F(MoneySoakTest, TheExtensionGivenToAUserAddedSinceABackupComesBackWithThem) {
    settle("first start");
    backup();
    settle("after the backup");
    const qint64 id = addUser(2);
    ASSERT_GE(id, 0);
    settle("after the addition");
    const int ext = accounts[id].ext;
    restoreBackup("", id);
    EXPECT_FALSE(ownerNamed.contains(ext)) << "extension " << ext << " named: " << boxes.toStdString();
    settle("after the restore");
    EXPECT_TRUE(accounts[id].live);
    EXPECT_TRUE(accounts[id].callable);
}

// An extension given to another user, and no call on it before the station
// file goes back by hand: its calls after charge the user it was given to.
// Then a copy put back across the journal's gap (the journal file lost after
// the entries since the copy settled into it): exact, or named with the
// amounts. Then a backup of the root chosen in the second site, and the
// site's chosen at the root: refused whole, nothing of either taken.
TEST_F(MoneySoakTest, ACopyAcrossALostJournalFileIsExactOrNamedAndAnotherSitesIsRefusedWhole) {
    firstCalls(3);
    givenThenPutBack();
    settle("after the put-back");
    journalGap(true);
    settle("after the put-back");
    anotherSitesBackup();
    settle("after the refusals");
}

// An extension given away before a backup and given back after it, the
// journal file lost, then that backup restored and completed by the next
// start: the owner that start's box names takes the calls of later runs.
TEST_F(MoneySoakTest, AnOwnerNamedWhenARestoreIsCompletedTakesTheCallsAfter) {
    settle("first start");
    const int ext = accounts[8].ext;
    ASSERT_TRUE(giveExtension(ext, 7));
    endRun();
    backup();
    ASSERT_TRUE(giveExtension(ext, 8));
    endRun();
    callsRound({}, 2, 4);
    moveOn(10);
    settle("ten days on");
    settle("ten days on, the entries settled");
    removeSides(dir->file(QStringLiteral("ChargeLog.mdb")), true);
    restoreBackup("renamed");
    settle("after the restore");
    ASSERT_TRUE(startStation({}));
    queueRecords(2, 8);
    finishRun("calls after the restore");
}

// A call longer than the last one a copy holds, then the copy put back on
// both roads; the clock ahead for a session, then put right, and an older
// backup put back. Then a session with the clock more than a year ahead,
// killed right after a record and its charge were stored, before its answer:
// sent again once the clock is right it is the same call (charged once), and
// the records after it are dated by the clock put right.
TEST_F(MoneySoakTest, ALongCallAroundACopyAndAClockAheadForASessionKeepTheMoney) {
    firstCalls(3);
    for (int road = 0; road < 2; ++road) {
        longerThanTheCopysLast(road);
        settle("after the long call's copy was put back");
    }
    clockAheadForASession();
    settle("after the clock was put right");
    clockAheadForASession(400, 0);
    settle("after the clock a year ahead was put right");
}

// A station the previous version ran, upgraded through the release between
// (which numbered the log without noting where), then the previous version's
// unmarked station file put back by hand: brought up by every entry it lacks.
TEST_F(MoneySoakTest, ThePreviousVersionsStationFilePutBackAfterTheReleaseBetweenIsBroughtUp) {
    firstCalls(4, "calls of the previous version");
    ASSERT_TRUE(testsupport::makePreviousVersion(dir->dataPath()));
    throughTheReleaseBetween(1);
    settle("at the end");
}

// A station the previous version ran, upgraded by its first start: a user
// added in a later run, then the station file put back by hand from its
// start-up copy. The next start brings the user back from the journal.
TEST_F(MoneySoakTest, AUserAddedOnAnUpgradedStationComesBackWhenItsFileIsPutBackByHand) {
    firstCalls(4, "calls of the previous version");
    ASSERT_TRUE(testsupport::makePreviousVersion(dir->dataPath()));
    const qint64 id = addUser(1);
    ASSERT_GE(id, 0);
    ASSERT_TRUE(QFile::exists(dir->file("switch.mdb.bak")));
    putBackByHand();
    EXPECT_TRUE(stationUsers().contains(id)) << "user " << id << " is gone";
}

}  // namespace
