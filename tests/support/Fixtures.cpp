#include "support/Fixtures.h"
#include "support/Holds.h"
#include "admin/frmDBManager.h"
#include "admin/frmFindDir.h"

#include "billing/BillingSeams.h"
#include "billing/Payments.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmDetial.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"
#include "billing/frmQueryBill.h"
#include "billing/frmRecord.h"
#include "console/frmPABX.h"
#include "core/books/ChargeLog.h"
#include "core/Schema.h"
#include "core/frmChange.h"
#include "core/frmWorker.h"
#include "link/Transport.h"
#include "printing/frmGridPrn.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace testsupport {

StationDir::StationDir(int model, bool withData) {
    if (withData) {
        QString error;
        if (!core::schema::WriteFreshDataDir(dataPath(), model, &error))
            ADD_FAILURE() << "fresh data directory: " << error.toStdString();
    }
}

QString StationDir::appPath() const { return root_.path() + "/"; }
QString StationDir::dataPath() const { return appPath() + "data/"; }

void StationTest::SetUp() {
    ModDefine::ResetGlobals();
    ModComm::ChooseTransport(false);
    platform::testing::resetClock();
    platform::testing::recordPcClock();
    platform::testing::throwOnEnd();
    platform::script::reset();
    platform::script::enable();
    dir = std::make_unique<StationDir>(model);
    ModDefine::AppPath = dir->appPath();
    ModDefine::DataPath = dir->dataPath();
    ModDefine::MonSlots.resize(16);
}

void fastTimeouts() {
    const qint64 from = platform::TickMs();
    auto t = std::make_shared<QElapsedTimer>();
    t->start();
    platform::testing::setTick([from, t] { return from + t->elapsed() * 10; });
}

void StationTest::TearDown() {
    // Windows a test brought up are closed before the globals they show go.
    frmChange::unload();
    frmPayMoneny::unload();
    frmPayed::unload();
    frmDetial::unload();
    frmPayfor::unload();
    frmRecord::unload();
    frmQueryBill::unload();
    frmBalanceBill::unload();
    billing::testing::setSeams({});
    billing::setUserDownload(nullptr);
    frmGridPrn::unload();
    frmPABX::unload();
    frmDBManager::unload();
    frmFindDir::unload();
    for (const auto& s : platform::script::unexpected())
        ADD_FAILURE() << "unexpected prompt: " << s.text.toStdString() << " (" << s.title.toStdString() << ")";
    ModDefine::ResetGlobals();
    ModComm::ChooseTransport(false);
    platform::script::reset();
    platform::testing::resetClock();
    platform::testing::clearEndHandler();
    dir.reset();
}

void StationTest::openDatabases() {
    ModDefine::dbSwitch = platform::Database::open(dir->file("switch.mdb"));
    ModDefine::dbPhoneCur = ModDefine::dbSwitch.attach(dir->file("PhoneCur.mdb"), QStringLiteral("phonecur"));
    // In the journal mode the station runs (OpenDB): each file keeps a write-ahead log.
    ModDefine::dbSwitch.useWriteAheadLog();
    ModDefine::dbPhoneCur.useWriteAheadLog();
}

void copyDataDirKeepingTimes(const QString& dataPath) {
    const QDir d(dataPath);
    for (const QString& name : d.entryList(QDir::Files | QDir::Hidden)) {
        const QString path = d.filePath(name);
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        ASSERT_EQ(::stat(native.constData(), &st), 0) << name.toStdString();
        const QString copy = path + QStringLiteral(".copying");
        QFile::remove(copy);
        ASSERT_TRUE(QFile::copy(path, copy)) << name.toStdString();
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(QFile::rename(copy, path));
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, native.constData(), times, 0), 0) << name.toStdString();
        struct stat now {};
        ASSERT_EQ(::stat(native.constData(), &now), 0);
        ASSERT_NE(now.st_ino, st.st_ino) << name.toStdString();
    }
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

void addOrphanPage(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray head = f.read(100);
    ASSERT_EQ(head.size(), 100);
    int pageSize = (quint8(head[16]) << 8) | quint8(head[17]);
    if (pageSize == 1) pageSize = 65536;
    const quint32 pages = quint32(f.size() / pageSize) + 1;
    ASSERT_TRUE(f.resize(qint64(pages) * pageSize));
    // The page count in the header, trusted while its change counter agrees.
    const char count[4] = {char(pages >> 24), char(pages >> 16), char(pages >> 8), char(pages)};
    ASSERT_TRUE(f.seek(28));
    ASSERT_EQ(f.write(count, 4), 4);
    ASSERT_TRUE(f.seek(92));
    ASSERT_EQ(f.write(head.mid(24, 4)), 4);
}

namespace {
void callFileAsPreviousVersion(const QString& path, const QString& journal) {
    platform::Database db = platform::Database::open(path);
    // That version kept the whole log in the call file: what moved to the
    // journal file since comes back.
    const QString log = db.actualTableName(ModSwitch::kChargeLog);
    if (!log.isEmpty() && QFile::exists(journal)) {
        platform::Database j = db.attach(journal, QStringLiteral("journal"));
        if (!j.actualTableName(ModSwitch::kChargeLog).isEmpty())
            db.execute(QStringLiteral("INSERT OR IGNORE INTO %1 SELECT * FROM %2")
                           .arg(platform::quoteIdent(log), j.qualified(ModSwitch::kChargeLog)));
        j.close();
    }
    platform::Transaction tx(db);
    if (!log.isEmpty()) {
        db.execute(QStringLiteral("ALTER TABLE %1 RENAME TO numbered_log").arg(platform::quoteIdent(log)));
        db.execute(QStringLiteral("CREATE TABLE tab_chargelog (f_gen INTEGER NOT NULL DEFAULT 0, f_userid LONG NOT NULL "
                                  "DEFAULT 0, f_amount CURRENCY NOT NULL DEFAULT 0, f_balance CURRENCY NOT NULL DEFAULT 0, "
                                  "f_calladdr INTEGER NOT NULL DEFAULT 0, f_date DATETIME)"));
        db.execute(QStringLiteral("INSERT INTO tab_chargelog SELECT f_gen, f_userid, f_amount, f_balance, f_calladdr, f_date "
                                  "FROM numbered_log WHERE f_kind=0 ORDER BY f_seq"));
        db.execute(QStringLiteral("DROP TABLE numbered_log"));
    }
    if (db.hasTable(QStringLiteral("tab_notes"), false))
        db.execute(QStringLiteral("DELETE FROM tab_notes WHERE varname IN (?, ?)"),
                   {ModSwitch::kStationId, QStringLiteral("TarvoChargeMoved")});
    tx.commit();
    db.close();
}

void stationFileAsPreviousVersion(const QString& path) {
    platform::Database db = platform::Database::open(path);
    platform::Transaction tx(db);
    db.execute(QStringLiteral("DELETE FROM Variant WHERE varname IN (?, ?)"), {ModSwitch::kChargeMark, ModSwitch::kStationId});
    for (const QString& t : {ModSwitch::kLedgerMirror, ModSwitch::kCallMirror})
        db.execute(QStringLiteral("DROP TABLE IF EXISTS %1").arg(platform::quoteIdent(t)));
    tx.commit();
    db.close();
}
}  // namespace

bool makePreviousVersion(const QString& dataPath) {
    const QString sw = dataPath + QStringLiteral("switch.mdb"), cur = dataPath + QStringLiteral("PhoneCur.mdb");
    {
        platform::Database calls = platform::Database::open(cur);
        const qint64 logged = calls.hasTable(ModSwitch::kChargeLog, false)
                                  ? calls.scalar(QStringLiteral("SELECT coalesce(max(f_seq), 0) FROM tab_chargelog")).toLongLong()
                                  : 0;
        calls.close();
        platform::Database station = platform::Database::open(sw);
        const qint64 mark = ModSwitch::AppliedMark(station);
        station.close();
        if (mark < logged) return false;
    }
    const QString journal = dataPath + QStringLiteral("ChargeLog.mdb");
    for (const QString& f : {cur, cur + QStringLiteral(".bak")})
        if (QFile::exists(f)) callFileAsPreviousVersion(f, journal);
    for (const char* side : {"", "-journal", "-wal", "-shm"}) QFile::remove(journal + QLatin1String(side));
    for (const QString& f : {sw, sw + QStringLiteral(".bak")})
        if (QFile::exists(f)) stationFileAsPreviousVersion(f);
    return true;
}

void expectNoYieldInTransaction(const QStringList& runLog) {
    for (const QString& line : runLog)
        if (line.startsWith(QLatin1String("YIELDS_IN_TRANSACTION\t")))
            ADD_FAILURE() << "the station process: yieldsInTransaction() = " << line.section(QLatin1Char('\t'), 1).toStdString()
                          << ": a wait yielded while a database transaction was open";
}

void scriptLogin(const QString& id, const QString& pwd, bool cancel) {
    platform::script::onModal(QStringLiteral("frmWorker"), [id, pwd, cancel](QDialog* d) {
        auto* w = static_cast<frmWorker*>(d);
        if (!cancel) {
            w->txtUser->setText(id);
            w->txtPWD->setText(pwd);
            w->cmdLogin->click();
        }
        if (w->isVisible()) w->cmdExitProgram->click();
    });
}

bool killedAtBox(const QString& text, const std::function<void()>& act) {
    struct Killed {};
    platform::script::whileShown([text](const QString& shown) {
        if (shown.contains(text)) throw Killed{};
    });
    bool reached = false;
    try {
        act();
    } catch (const Killed&) {
        reached = true;
    }
    platform::script::whileShown(nullptr);
    freshPrompts(text.toUtf8().constData());
    return reached;
}

}  // namespace testsupport
