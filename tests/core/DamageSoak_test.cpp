// A station with calls, users added and deleted, then its files or their
// copies (one, several or all at once) damaged the way disks damage them
// (bytes, zeroed or swapped pages, a cut, a lost header, a header field
// garbled into another value, a missing file) or its disk full or read-only at some
// step of the start, and started again. After every start: no call stored
// twice, every answered call kept or the box speaks of calls, every balance as
// the test's own ledger has it or its user named, no sound file moved aside,
// no safety copy worse than the file, and the box gives the true cause. A
// station file put back from its copy beside a call file whose entries since
// that copy do not all read: every call it still holds whose entry no file
// gives, its user named with how many and what they cost.
//
// The seed is printed; TARVO_DAMAGE_SEED replays one, TARVO_DAMAGE_ROUNDS runs more.
#include "support/PricingFixture.h"

#include "admin/Restore.h"
#include "billing/Payments.h"
#include "platform/DbCopy.h"
#include "core/books/ChargeLog.h"
#include "core/books/SafetyCopies.h"
#include "core/StationFiles.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <random>

using namespace pricingtest;
using platform::Database;

namespace {

int rounds() {
    const int n = qEnvironmentVariableIntValue("TARVO_DAMAGE_ROUNDS");
    return n > 0 ? n : 4;
}

quint32 seedOf(int round) {
    bool given = false;
    const quint32 base = quint32(qEnvironmentVariableIntValue("TARVO_DAMAGE_SEED", &given));
    static const quint32 start = given ? base : quint32(std::random_device{}());
    return start + quint32(round);
}

// The box names a user's difference, or says plainly that both files are lost.
bool named(const QString& box, qint64 user) {
    return box.contains(QStringLiteral("用户%1").arg(user)) || box.contains(QStringLiteral("请核对用户余额")) ||
           box.contains(QStringLiteral("无法全部找回")) || box.contains(QStringLiteral("都无法找回"));
}

enum class Harm { Bytes, ZeroPage, SwapPages, Cut, Missing, ZeroHeader, HeaderField, FullDisk, ReadOnlyDisk, LogPages };
const char* const kHarm[] = {"bytes", "zeroed page", "swapped pages", "cut", "missing", "zeroed header", "header field",
                             "full disk", "read-only disk", "log's pages"};
enum Target { kStation = 1, kCalls = 2, kStationCopy = 4, kCallsCopy = 8 };

class DamageSoak : public PricingTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        addRate(QStringLiteral("8"), 7, "0.20", "0.10", 180, 60, 0, QStringLiteral("本地"));
        for (int u = 1; u <= 4; ++u) {
            addUser(u, "100.00", 1);
            setExtensionUser(10 + u, u);
        }
        start();
    }
    void TearDown() override {
        platform::testing::setFaultHook(nullptr);
        billing::setUserDownload(nullptr);
        PricingTest::TearDown();
    }
    QString file(const char* name) { return platform::resolveCI(dir->dataPath(), QString::fromLatin1(name)); }

    // The start-up's check of both files; the boxes' texts gathered.
    bool start(QString* said = nullptr) {
        ModSwitch::OpenAllDB(false);
        QString notice, failure;
        bool ok = ModSwitch::TryCompactDB(QStringLiteral("Switch.mdb"), &failure, &notice) &&
                  ModSwitch::TryCompactDB(QStringLiteral("PhoneCur.mdb"), &failure, &notice);
        if (said) *said = notice + (failure.isEmpty() ? QString() : QStringLiteral("\n") + failure);
        if (!ok) return false;
        openDatabases();
        ModSwitch::OpenSharedRecordsets();
        reopenRates();
        return true;
    }
    void call(int user, int minute) {
        CallRecord r;
        r.ext = 10 + user;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(9, 0, 0)).addSecs(61 * minute);
        r.seconds = 60 + 23 * (minute % 17);
        ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
        calls << QStringLiteral("%1 %2").arg(r.ext).arg(r.start.toString(QStringLiteral("MM-dd HH:mm:ss")));
        sinceCopy << calls.last();
    }
    // The users of calls since the safety copies whose entry neither the call
    // file's log nor the journal file gives.
    QSet<qint64> unloggedSinceCopy() {
        QSet<QString> logged;
        for (const QString& f : {dbPhoneCur.path(), file("ChargeLog.mdb")})
            if (QFileInfo::exists(f))
                for (platform::RowReader r = Database::openReadOnly(f).rows("SELECT f_calladdr, f_date FROM tab_chargelog"); r.next();)
                    logged << QStringLiteral("%1 %2").arg(r.integer(0)).arg(platform::parseDate(r.text(1)).toString("MM-dd HH:mm:ss"));
        QSet<qint64> users;
        for (platform::RowReader r = dbPhoneCur.rows("SELECT f_calladdr, f_date, f_userid FROM Tab_Phone"); r.next();) {
            const QString key = QStringLiteral("%1 %2").arg(r.integer(0)).arg(platform::parseDate(r.text(1)).toString("MM-dd HH:mm:ss"));
            if (sinceCopy.contains(key) && !logged.contains(key) && r.integer(2) != 0) users << r.integer(2);
        }
        return users;
    }
    QMap<qint64, Currency> balances() {
        QMap<qint64, Currency> out;
        for (platform::RowReader r = dbSwitch.rows("SELECT userid, remain FROM user WHERE userid<>0"); r.next();)
            out.insert(r.integer(0), Currency::fromRaw(r.integer(1)));
        return out;
    }
    QSet<QString> storedCalls(int* rows) {
        QSet<QString> out;
        *rows = 0;
        for (platform::RowReader r = dbPhoneCur.rows(QStringLiteral("SELECT f_calladdr, f_date FROM %1")
                                                         .arg(dbPhoneCur.qualified("Tab_Phone")));
             r.next(); ++*rows)
            out << QStringLiteral("%1 %2").arg(r.integer(0)).arg(platform::parseDate(r.text(1)).toString("MM-dd HH:mm:ss"));
        return out;
    }
    int asideCount(const char* name) {
        return int(QDir(dir->dataPath()).entryList({QString::fromLatin1(name) + ".damaged-*"}, QDir::Files).size());
    }
    void harmFile(std::mt19937& rng, const QString& path, Harm h) {
        QFile f(path);
        if (h == Harm::Missing) {
            QFile::remove(path);
            return;
        }
        // The pages the money starts from (the call file's log; the station
        // file's users and its copy of the log): every other table still reads.
        QList<qint64> roots;
        if (h == Harm::LogPages) {
            Database db = Database::openReadOnly(path);
            for (platform::RowReader r = db.rows("SELECT rootpage FROM sqlite_master WHERE lower(tbl_name) IN "
                                                 "('tab_chargelog', 'tab_chargemirror', 'user')");
                 r.next();)
                roots << r.integer(0);
        }
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QByteArray head = f.read(18);
        ASSERT_EQ(head.size(), 18);
        const qint64 page = (quint8(head[16]) << 8) | quint8(head[17]), pages = f.size() / page;
        ASSERT_GT(pages, 1);
        auto pick = [&] { return qint64(std::uniform_int_distribution<qint64>(1, pages - 1)(rng)); };
        switch (h) {
        case Harm::Bytes: {
            QByteArray junk(int(std::uniform_int_distribution<int>(8, 600)(rng)), '\0');
            for (char& c : junk) c = char(rng());
            f.seek(pick() * page + std::uniform_int_distribution<int>(0, int(page) - junk.size())(rng));
            f.write(junk);
            break;
        }
        case Harm::ZeroPage: f.seek(pick() * page); f.write(QByteArray(int(page), '\0')); break;
        case Harm::SwapPages: {
            const qint64 a = pick(), b = pick();
            f.seek(a * page);
            const QByteArray pa = f.read(page);
            f.seek(b * page);
            const QByteArray pb = f.read(page);
            f.seek(a * page);
            f.write(pb);
            f.seek(b * page);
            f.write(pa);
            break;
        }
        case Harm::Cut: f.resize(pick() * page); break;
        case Harm::LogPages:
            for (qint64 root : roots) {
                f.seek((root - 1) * page);
                f.write(QByteArray(int(page), '\0'));
            }
            break;
        case Harm::ZeroHeader:
            f.seek(std::uniform_int_distribution<int>(0, 1)(rng) * 16);   // the whole header, or its fields
            f.write(QByteArray(100, '\0'));
            break;
        case Harm::HeaderField: {
            // One field garbled into a value the engine may well accept: another
            // page size, the versions, the reserved bytes, the text encoding,
            // the schema format.
            static const struct { int at, lo, hi; } kFields[] = {{18, 3, 255}, {19, 3, 255}, {20, 1, 64}, {59, 0, 255}, {47, 5, 255}};
            const int field = std::uniform_int_distribution<int>(0, 5)(rng);
            if (field > 0) {
                const auto [at, lo, hi] = kFields[field - 1];
                f.seek(at);
                f.write(QByteArray(1, char(std::uniform_int_distribution<int>(lo, hi)(rng))));
                break;
            }
            qint64 size = page;
            while (size == page) size = qint64(512) << std::uniform_int_distribution<int>(1, 5)(rng);
            f.seek(16);
            f.write(QByteArray(1, char(size >> 8)) + char(size & 0xff));
            break;
        }
        default: break;
        }
    }
    QStringList calls;
    QSet<QString> sinceCopy;   // calls since the last start took the safety copies
};

TEST_P(DamageSoak, EveryStartKeepsEveryCallAndBalanceOrNamesThem) {
    const quint32 seed = seedOf(GetParam());
    std::cout << "damage soak seed " << seed << std::endl;
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 rng(seed);
    auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
    billing::setUserDownload([](qint64, int) { return true; });
    platform::script::enable();

    // The station's life: calls, users added and deleted, starts between them.
    int minute = 0;
    QSet<qint64> deleted;
    const int backupAt = std::uniform_int_distribution<int>(0, 11)(rng);
    const QString backupDir = dir->appPath() + "bk/";
    QDir().mkpath(backupDir);
    // At times no start between: every call is then since the safety copies.
    const bool starts = !chance(15);
    for (int step = 0; step < 12; ++step) {
        // A backup through the database window, taken while the station works.
        if (step == backupAt) {
            ASSERT_TRUE(platform::CopyDatabaseStepwise(file("switch.mdb"), backupDir + "Switch.mdb", dbSwitch));
        }
        const int user = std::uniform_int_distribution<int>(1, 5)(rng);
        if (user == 5 && !balances().contains(5)) {
            // Added as the user view adds one: the row and its entry in one commit.
            ModSwitch::MoveBalances([&] { addUser(5, "50.00", 1); });
            setExtensionUser(15, 5);
        } else if (!deleted.contains(user) && balances().contains(user)) {
            call(user, ++minute);
        }
        if (chance(10) && deleted.isEmpty()) {
            const qint64 gone = std::uniform_int_distribution<int>(1, 4)(rng);
            ASSERT_TRUE(billing::AfterPayment(gone, QStringLiteral("用户%1").arg(gone), billing::kDeleteUser, platform::Now()));
            deleted << gone;
        }
        if (starts && chance(25)) {
            ASSERT_TRUE(start());
            sinceCopy.clear();
        }
    }
    // Calls since the last start's copies, most times.
    for (int n = std::uniform_int_distribution<int>(0, 3)(rng); n > 0; --n) {
        const int user = std::uniform_int_distribution<int>(1, 5)(rng);
        if (!deleted.contains(user) && balances().contains(user)) call(user, ++minute);
    }
    const QMap<qint64, Currency> ledger = balances();
    const QSet<QString> answered(calls.begin(), calls.end());
    // Every balance `held` as the ledger has it, or its user named in `boxes`.
    const auto asLedgerOrNamed = [&](const QMap<qint64, Currency>& held, const QString& boxes) {
        for (auto it = ledger.constBegin(); it != ledger.constEnd(); ++it) {
            if (held.value(it.key(), Currency::fromRaw(-1)) == it.value()) continue;
            EXPECT_TRUE(named(boxes, it.key())) << "user " << it.key() << ": " << held.value(it.key()).toString2().toStdString()
                                                << " against " << it.value().toString2().toStdString() << "\n" << boxes.toStdString();
        }
    };

    // The harm.
    const Harm harm = Harm(std::uniform_int_distribution<int>(0, 9)(rng));
    int target = std::uniform_int_distribution<int>(1, 15)(rng);
    // Both station files at once, often: each then recovers without the other's help.
    if (chance(40)) target |= kStation | kCalls;
    const bool trouble = harm == Harm::FullDisk || harm == Harm::ReadOnlyDisk;
    SCOPED_TRACE(QStringLiteral("seed %1, %2, target %3").arg(seed).arg(kHarm[int(harm)]).arg(target).toStdString());
    ModSwitch::OpenAllDB(false);
    bool stationHarmed = false, callsHarmed = false;
    if (trouble) {
        // The disk refuses one of the start's writes, syncs or renames; the switch file damaged too, at times.
        if (chance(50)) {
            harmFile(rng, file("switch.mdb"), Harm::ZeroHeader);
            stationHarmed = true;
        }
        const int failAt = std::uniform_int_distribution<int>(1, 24)(rng);
        const int error = harm == Harm::FullDisk ? ENOSPC : EROFS;
        auto n = std::make_shared<int>(0);
        platform::testing::setFaultHook([n, failAt, error](const QString&, const QString&) { return ++*n == failAt ? error : 0; });
    } else {
        const char* names[] = {"switch.mdb", "PhoneCur.mdb", "switch.mdb.bak", "PhoneCur.mdb.bak"};
        for (int bit = 0; bit < 4; ++bit)
            if (target & (1 << bit)) harmFile(rng, file(names[bit]), harm);
        stationHarmed = target & kStation;
        callsHarmed = target & kCalls;
    }
    const int asideBefore = asideCount("switch.mdb") + asideCount("PhoneCur.mdb");

    QString said;
    bool started = start(&said);
    if (trouble) {
        platform::testing::setFaultHook(nullptr);
        // Trouble moves no sound file aside and names its cause when it stops the start.
        if (!stationHarmed) {
            EXPECT_EQ(asideCount("switch.mdb") + asideCount("PhoneCur.mdb"), asideBefore) << said.toStdString();
        }
        if (!started) {
            EXPECT_TRUE(said.contains(harm == Harm::FullDisk ? "磁盘已满" : "磁盘为只读") || said.contains("恢复数据库失败"))
                << said.toStdString();
        }
        if (!started || !said.isEmpty()) {
            QString again;
            started = start(&again);
            said += "\n" + again;
        }
    }
    const bool bothLost = (stationHarmed || callsHarmed) && (target & (kStationCopy | kCallsCopy)) && !trouble;
    if (!started) {
        // Only a damaged file whose copy is damaged as well may stop the start.
        EXPECT_TRUE(bothLost) << said.toStdString();
        EXPECT_FALSE(said.trimmed().isEmpty());
        return;
    }

    // No call twice; every answered call kept, or the box speaks of calls.
    int rows = 0;
    const QSet<QString> kept = storedCalls(&rows);
    EXPECT_EQ(rows, kept.size()) << "a call stored twice";
    EXPECT_TRUE(answered.contains(kept)) << "a call never answered";
    if (kept != answered) { EXPECT_TRUE(said.contains("话单")) << said.toStdString(); }
    // Every balance as the ledger has it, or its user named.
    const QMap<qint64, Currency> now = balances();
    asLedgerOrNamed(now, said);
    // The station file put back: a user whose calls since the copy are held
    // but charged by no entry is named with an amount (their count and cost,
    // or the difference from the file replaced).
    if (said.contains(QStringLiteral("数据库文件switch.mdb已损坏")) || said.contains(QStringLiteral("数据库文件switch.mdb不存在"))) {
        for (qint64 user : unloggedSinceCopy()) {
            if (!now.contains(user) || now.value(user) == ledger.value(user)) continue;
            EXPECT_TRUE(said.contains(QRegularExpression(QStringLiteral("用户%1[^\\n：]*：").arg(user))))
                << "user " << user << ": calls since the copy uncharged, not named\n" << said.toStdString();
        }
    }
    // A user deleted since the copies comes back only when no file tells the deletion any more, and the box says so.
    for (qint64 gone : deleted)
        EXPECT_TRUE(!now.contains(gone) || said.contains("删除的用户")) << "user " << gone << " came back\n" << said.toStdString();
    // No sound file moved aside; the box names a damaged file as damaged.
    if (!stationHarmed) { EXPECT_EQ(asideCount("switch.mdb"), 0) << said.toStdString(); }
    if (!callsHarmed && !trouble) { EXPECT_EQ(asideCount("PhoneCur.mdb"), 0) << said.toStdString(); }
    if (said.contains("数据库文件switch.mdb已损坏")) { EXPECT_TRUE(stationHarmed) << said.toStdString(); }
    if (said.contains("数据库文件PhoneCur.mdb已损坏")) { EXPECT_TRUE(callsHarmed || trouble) << said.toStdString(); }
    // The copies are sound and hold what the files hold.
    ModSwitch::OpenAllDB(false);
    for (const char* n : {"switch.mdb.bak", "PhoneCur.mdb.bak"}) {
        Database b = Database::open(file(n));
        EXPECT_TRUE(b.integrityCheck()) << n;
    }
    // Started once more: nothing charged again, nothing said.
    QString quiet;
    ASSERT_TRUE(start(&quiet));
    EXPECT_TRUE(quiet.isEmpty()) << quiet.toStdString();
    EXPECT_EQ(balances(), now);

    // The database window's road: the backup put back, brought up to the
    // journal: every balance as the ledger has it, or named by this box or
    // the start's; each call still stored once.
    const QString startSaid = said;
    ModSwitch::OpenAllDB(false);
    QString failed;
    ASSERT_TRUE(admin::ReplaceFiles(admin::RestorePairs(backupDir, dir->dataPath(), true, false), &failed))
        << failed.toStdString();
    QStringList lines;
    admin::RestoreNotice(dir->dataPath(), &lines);
    admin::ForgetRestoreNotice(dir->dataPath());
    const QString told = lines.join('\n');
    ASSERT_TRUE(start(&said));
    asLedgerOrNamed(balances(), told + QStringLiteral("\n") + startSaid);
    int again = 0;
    EXPECT_EQ(storedCalls(&again).size(), again) << "a call stored twice";
}

INSTANTIATE_TEST_SUITE_P(Seeded, DamageSoak, ::testing::Range(0, rounds()));

}  // namespace
