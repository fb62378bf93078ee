#include "support/PricingFixture.h"

#include "admin/Restore.h"

#include "core/books/ChargeLog.h"
#include "core/books/SafetyCopies.h"
#include "core/StationFiles.h"
#include "link/ModComm.h"
#include "link/frmSRV.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "pricing/BillFile.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RateCache.h"
#include "sim/Frames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace pricingtest {

// The frames come from the simulator's builders, written from the wire
// format alone; only the bytes the switch leaves 00 here differ from theirs.
QByteArray CallRecord::frame() const {
    sim::CallRecord r;
    r.extAddr = ext;
    r.indirect = inDigits;
    r.called = called;
    r.byte15 = 0;
    r.channel = channel & 0x0F;
    r.channelHigh = channel >> 4;
    r.start = start;
    r.durationSec = seconds;
    r.account = account;
    r.byte27 = 0;
    r.type = quint8(type);
    return r.body();
}

QByteArray CallRecord::withSum() const { return sim::withSum(frame()); }

QByteArray liveFrame(int ext, const QString& dialled, int slot, int kind, const QString& account, bool forwarded) {
    sim::LiveCall c;
    c.kind = kind;
    c.extAddr = ext;
    c.dialled = dialled;
    c.account = account;
    c.forwarded = forwarded;
    c.channel = slot;
    return c.body();
}

void PricingTest::SetUp() {
    StationTest::SetUp();
    openDatabases();
    now = QDateTime(QDate(2026, 6, 15), QTime(12, 0, 0));   // a Monday
    platform::testing::setNow([this] { return now; });
    rsUser = dbSwitch.openTable(QStringLiteral("user"));
    reopenRates();
    ModComm::ResetLink();
    ModDefine::FreeAllSlots();
    pricing::ClearRecordErrorLog();
    // The default user as the start-up makes it.
    ModSwitch::OpenSharedRecordsets();
    reopenRates();
}

void PricingTest::TearDown() {
    platform::testing::setNow(nullptr);
    platform::testing::setTick(nullptr);
    frmSRV::unload();
    StationTest::TearDown();
}

void PricingTest::localCaller(const char* remain, int balancemode) {
    addUser(7, remain, balancemode);
    setExtensionUser(5, 7);
    addRate(QStringLiteral("8"), 7, "0.20", "0.10", 180, 60, 0, QStringLiteral("本地"));
}

void PricingTest::reopenRates() {
    rsFeeRate = dbSwitch.query(QStringLiteral("select * from feerate order by zonecode desc"));
    rsIPHead = dbSwitch.openTable(QStringLiteral("iphead"));
}

void PricingTest::restart() {
    ModSwitch::OpenAllDB(false);
    ModSwitch::CompactDB(QStringLiteral("Switch.mdb"));
    ModSwitch::CompactDB(QStringLiteral("PhoneCur.mdb"));
    reopen();
}

void PricingTest::reopen() {
    openDatabases();
    ModSwitch::OpenSharedRecordsets();
    reopenRates();
}

void PricingTest::settleIntoJournalFile(bool lost) {
    restart();
    now = now.addDays(10);
    restart();
    restart();
    ASSERT_GT(ModSwitch::CallFileNote(QStringLiteral("TarvoChargeMoved")).toLongLong(), 0);
    if (!lost) return;
    ModSwitch::OpenAllDB(false);
    ASSERT_TRUE(QFile::remove(dir->file(ModSwitch::kJournalFile)));
    platform::script::answer("ChargeLog.mdb", platform::rOK);
    restart();
}

QStringList PricingTest::sent() {
    QByteArray bytes;
    while (ModComm::TxRead != ModComm::TxWrite) {
        bytes.append(char(ModComm::TxBuf[ModComm::TxRead]));
        ModComm::TxRead = (ModComm::TxRead + 1) & ModComm::kRingMask;
    }
    QStringList orders;
    int i = 0;
    while (i + 1 < bytes.size()) {
        const int len = quint8(bytes[i + 1]);
        if (len < 2 || i + len + 1 > bytes.size()) break;
        orders << QString::fromLatin1(bytes.mid(i, len).toHex().toUpper());
        i += len + 1;
    }
    return orders;
}

void PricingTest::addUser(qint32 id, const char* remain, int balancemode, const char* overdraft) {
    dbSwitch.execute(QStringLiteral("INSERT OR REPLACE INTO user (userid, username, balancemode, remain, overdraft) "
                                    "VALUES (?, ?, ?, ?, ?)"),
                     {id, id == 0 ? QStringLiteral("默认用户") : QStringLiteral("用户%1").arg(id), balancemode,
                      yuan(remain), yuan(overdraft)});
}

void PricingTest::setExtensionUser(int address, qint32 userid) {
    dbSwitch.execute(QStringLiteral("UPDATE extension SET userid=? WHERE address=?"), {userid, address});
}

void PricingTest::addRate(const QString& zone, int type, const char* first, const char* per, int firsttime,
                          int pertime, int feerateid, const QString& summary, int discountid) {
    dbSwitch.execute(QStringLiteral("INSERT INTO feerate (zonecode, summary, firsttime, firstprice, pertime, perprice, "
                                    "discountid, feeratetype, feerateid) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                     {zone, summary.isEmpty() ? zone : summary, firsttime, yuan(first), pertime, yuan(per), discountid,
                      type, feerateid});
    reopenRates();
}

Currency PricingTest::remainOf(qint32 userid) {
    return Currency::fromRaw(
        dbSwitch.scalar(QStringLiteral("SELECT remain FROM user WHERE userid=?"), {userid}).toLongLong());
}

qint64 PricingTest::count(const char* table, const QString& where, const platform::Params& params) {
    return dbSwitch
        .scalar(QStringLiteral("SELECT count(*) FROM %1%2")
                    .arg(QLatin1String(table), where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where),
                params)
        .toLongLong();
}

void QueueTest::SetUp() {
    PricingTest::SetUp();
    TerminalName = QStringLiteral("默认");
    localCaller("10", 1);
}

bool QueueTest::writeBillFile(const QList<QByteArray>& records, bool charge) {
    pricing::billfile::Writer w;
    int waiting = -1;
    bool written = w.start(charge, &waiting);
    for (const QByteArray& r : records) written = written && w.append(r);
    return written;
}

void QueueTest::failWhen(const char* name, const char* table, const QString& when) {
    dbSwitch.execute(QStringLiteral("CREATE TEMP TRIGGER %1 BEFORE INSERT ON %2 WHEN %3 BEGIN "
                                    "SELECT abs(-9223372036854775807 - 1 + (random() & 0)); END")
                         .arg(QLatin1String(name), QLatin1String(table), when));
}

void QueueTest::dropTrigger(const char* name) {
    dbSwitch.execute(QStringLiteral("DROP TRIGGER temp.%1").arg(QLatin1String(name)));
}

void BooksTest::SetUp() {
    PricingTest::SetUp();
    localCaller("100.00", 1);
    restart();
}

bool BooksTest::callAt(int minute, int ext, QDate day) {
    CallRecord r;
    r.ext = ext;
    r.start = QDateTime(day, QTime(9, minute, 0));
    r.seconds = 100 + 37 * minute;
    return ClsMonitor().Record(r.frame(), true);
}

QString BooksTest::keepStationFile(const char* name) {
    ModSwitch::OpenAllDB(false);
    const QString kept = dir->file(name);
    QFile::remove(kept);
    EXPECT_TRUE(QFile::copy(dir->file("switch.mdb"), kept));
    reopen();
    return kept;
}

void BooksTest::replaceClosed(const char* name, const QString& from) {
    ModSwitch::OpenAllDB(false);
    for (const char* side : {"", "-wal", "-shm"}) QFile::remove(dir->file(name) + side);
    ASSERT_TRUE(QFile::copy(from, dir->file(name)));
}

void BooksTest::writeClosed(const QString& name, qint64 at, const QByteArray& bytes) {
    ModSwitch::OpenAllDB(false);
    QFile f(dir->file(name));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.seek(at));
    f.write(bytes.isEmpty() ? QByteArray(int(f.size() - at), '\x5a') : bytes);
}

void BooksTest::loseEntries(qint64 from, qint64 to, bool wholeCopy) {
    ModSwitch::OpenAllDB(false);
    platform::Database sw = platform::Database::open(dir->file("switch.mdb"));
    if (wholeCopy) sw.execute("DELETE FROM tab_chargemirror");
    else sw.execute("DELETE FROM tab_chargemirror WHERE f_seq BETWEEN ? AND ?", {from, to});
    platform::Database::open(dir->file("PhoneCur.mdb")).execute("DELETE FROM tab_chargelog WHERE f_seq BETWEEN ? AND ?", {from, to});
    sw.close();
    reopen();
}

qint64 BooksTest::logged(const QString& name) {
    if (!QFileInfo::exists(dir->file(name))) return 0;
    return platform::Database::openReadOnly(dir->file(name)).scalar("SELECT count(*) FROM tab_chargelog").toLongLong();
}

QString BooksTest::backupFolder(const QString& stationFile) {
    const QString folder = dir->appPath() + "bk/";
    QDir().mkpath(folder);
    QFile::remove(folder + "Switch.mdb");
    EXPECT_TRUE(QFile::copy(stationFile, folder + "Switch.mdb"));
    return folder;
}

void BooksTest::restoreKilledAt(const QString& folder, const char* step) {
    ModSwitch::OpenAllDB(false);
    admin::testing::setRestoreHook([step](const QString& at) {
        if (at == QLatin1String(step)) throw std::runtime_error("killed");
    });
    EXPECT_THROW(admin::ReplaceFiles(admin::RestorePairs(folder, dir->dataPath(), true, false)), std::runtime_error);
    admin::testing::setRestoreHook(nullptr);
}

Currency BooksTest::storedFees(qint32 userid) {
    return Currency::fromRaw(
        dbPhoneCur
            .scalar(QStringLiteral("SELECT coalesce(sum(f_moneny+f_addfee1+f_addfee2+f_gatefee+f_linkfee), 0) FROM %1 "
                                   "WHERE f_userid=?")
                        .arg(dbPhoneCur.qualified("Tab_Phone")),
                    {userid})
            .toLongLong());
}

Currency BooksTest::depositOf(qint32 userid) {
    return Currency::fromRaw(dbSwitch.scalar("SELECT deposit FROM user WHERE userid=?", {userid}).toLongLong());
}

void overwriteLogPages(const QString& callFile) {
    platform::Database cur = platform::Database::open(callFile);
    const qint64 page = cur.scalar("PRAGMA page_size").toLongLong();
    QList<qint64> roots;
    for (platform::RowReader r = cur.rows("SELECT rootpage FROM sqlite_master WHERE tbl_name='tab_chargelog'"); r.next();)
        roots << r.integer(0);
    cur.close();
    QFile f(callFile);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    for (qint64 root : roots) {
        ASSERT_TRUE(f.seek((root - 1) * page));
        f.write(QByteArray(int(page), '\x5a'));
    }
}

}  // namespace pricingtest
