#include "support/StationProcess.h"

#include "core/books/ChargeLog.h"
#include "platform/Files.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/types.h>

namespace testsupport {

unsigned durabilitySeed() {
    unsigned seed = 0;
    const QByteArray env = qgetenv("TARVO_DURABILITY_SEED");
    if (!env.isEmpty()) seed = env.toUInt();
    else seed = std::random_device{}();
    std::printf("durability seed %u (replay: TARVO_DURABILITY_SEED=%u)\n", seed, seed);
    std::fflush(stdout);
    ::testing::Test::RecordProperty("durability_seed", std::to_string(seed));
    return seed;
}

int durabilityKills(int dflt) {
    const QByteArray env = qgetenv("TARVO_DURABILITY_KILLS");
    return env.isEmpty() ? dflt : qMax(1, env.toInt());
}

StationProcess::StationProcess(QString appPath, QStringList extraArgs)
    : appPath_(std::move(appPath)), logPath_(appPath_ + QStringLiteral("run.log")), args_(std::move(extraArgs)) {
    proc_.setProcessChannelMode(QProcess::ForwardedChannels);
}

StationProcess::~StationProcess() {
    if (running()) kill();
}

void StationProcess::start() {
    QFile::remove(logPath_);
    yieldsChecked_ = false;
    proc_.start(QStringLiteral(TARVO_BINARY_DIR "/tarvo-testrunner"),
                QStringList{appPath_, QStringLiteral("--log"), logPath_} + args_);
    if (proc_.waitForStarted(10000)) pid_ = proc_.processId();
}

void StationProcess::killNow() const {
    const qint64 p = pid_.load();
    if (p > 0) ::kill(pid_t(p), SIGKILL);
}

void KillTarget::fire() const {
    std::lock_guard<std::mutex> l(m_);
    if (pid_ > 0) ::kill(pid_t(pid_), SIGKILL);
}

void StationProcess::kill() {
    killNow();
    proc_.waitForFinished(10000);
    pid_ = 0;
}

bool StationProcess::waitEnded(int timeoutMs) {
    const bool ended = !running() || proc_.waitForFinished(timeoutMs);
    if (ended) {
        pid_ = 0;
        checkYields();
    }
    return ended;
}

void StationProcess::checkYields() {
    if (yieldsChecked_) return;
    yieldsChecked_ = true;
    expectNoYieldInTransaction(log());
}

bool StationProcess::killed() const { return proc_.exitStatus() == QProcess::CrashExit; }

QStringList StationProcess::log() const {
    QFile f(logPath_);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool StationProcess::waitLoaded(int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        const QStringList l = log();
        for (const QString& line : l)
            if (line.startsWith(QLatin1String("LOADED"))) return true;
        if (!running()) return false;
        QThread::msleep(5);
    }
    return false;
}

namespace {

const QString kCallColumns =
    QStringLiteral("f_calladdr, f_date, f_userid, f_moneny, f_addfee1, f_addfee2, f_gatefee, f_linkfee");

void readRows(platform::Recordset& rs, StoredCalls& out, bool current) {
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString key = QStringLiteral("%1 %2").arg(rs.lng("f_calladdr")).arg(rs.str("f_date"));
        ++out.count[key];
        ++out.rows;
        if (current) ++out.currentRows;
        if (rs.lng("f_userid") == 7)
            out.feesOf7 += rs.cur("f_moneny") + rs.cur("f_addfee1") + rs.cur("f_addfee2") + rs.cur("f_gatefee") +
                           rs.cur("f_linkfee");
    }
}

void readTable(const platform::Database& db, const QString& table, StoredCalls& out, bool current) {
    platform::Recordset rs = db.query(QStringLiteral("SELECT %1 FROM %2").arg(kCallColumns, db.qualified(table)));
    readRows(rs, out, current);
}

// The calls the station file's copy holds whose entries the call file's log
// lacks (past what it moved to the journal file) and that the call file does
// not hold: those the next opening gives back to the call file, as it does.
void readCallsOnlyInStationFile(const QDir& dir, StoredCalls& out) {
    const QString sw = platform::resolveCI(dir.path(), QStringLiteral("switch.mdb"));
    const QString cur = platform::resolveCI(dir.path(), QStringLiteral("PhoneCur.mdb"));
    if (!QFileInfo(sw).isFile() || !QFileInfo(cur).isFile()) return;
    platform::Database db = platform::Database::open(sw);
    const QString calls = db.actualTableName(ModSwitch::kCallMirror);
    if (calls.isEmpty()) return;
    const platform::Database c = db.attach(cur, QStringLiteral("cur"));
    const QString phone = c.actualTableName(QStringLiteral("Tab_Phone"));
    if (phone.isEmpty()) return;
    QString lacking = QStringLiteral("1");
    if (!c.actualTableName(ModSwitch::kChargeLog).isEmpty())
        lacking = QStringLiteral("NOT EXISTS (SELECT 1 FROM %1 l WHERE l.f_seq=m.f_seq)")
                      .arg(c.qualified(c.actualTableName(ModSwitch::kChargeLog)));
    qint64 moved = 0;
    if (!c.actualTableName(QStringLiteral("tab_notes")).isEmpty())
        moved = c.scalar(QStringLiteral("SELECT value FROM %1 WHERE varname=?").arg(c.qualified(QStringLiteral("tab_notes"))),
                         {ModSwitch::kMovedNote})
                    .toLongLong();
    const QMap<QString, int> before = out.count;
    {
        platform::Recordset rs = db.query(
            QStringLiteral("SELECT %1 FROM %2 m WHERE m.f_seq>? AND %3 AND NOT EXISTS "
                           "(SELECT 1 FROM %4 p WHERE p.f_calladdr=m.f_calladdr AND p.f_date=m.f_date)")
                .arg(kCallColumns, db.qualified(calls), lacking, c.qualified(phone)),
            {moved});
        readRows(rs, out, true);
    }
    for (auto it = out.count.constBegin(); it != out.count.constEnd(); ++it)
        if (it.value() != before.value(it.key())) out.onlyInStationFile << it.key();
    db.close();
}

}  // namespace

StoredCalls readStoredCalls(const QString& dataPath) {
    StoredCalls out;
    const QDir dir(dataPath);
    for (const QString& name : dir.entryList(QDir::Files)) {
        const QString lower = name.toLower();
        const bool current = lower == QLatin1String("phonecur.mdb");
        const bool archive = lower.startsWith(QLatin1String("phbill_")) && lower.endsWith(QLatin1String(".mdb"));
        if (!current && !archive && lower != QLatin1String("switch.mdb")) continue;
        try {
            // Opening a file after a crash rolls its journal back, as the station's own open does.
            platform::Database db = platform::Database::open(dir.filePath(name));
            if (!db.quickCheck()) out.filesNotSound << name;
            if (current && db.hasTable(QStringLiteral("Tab_Phone")))
                readTable(db, db.actualTableName(QStringLiteral("Tab_Phone")), out, true);
            if (archive)
                for (int m = 1; m <= 12; ++m) {
                    const QString t = db.actualTableName(QStringLiteral("Tab_Ph%1").arg(m));
                    if (!t.isEmpty()) readTable(db, t, out, false);
                }
            db.close();
        } catch (const platform::DbError& e) {
            // A year file created empty by a run that died before writing to it is no database yet.
            if (archive && QFileInfo(dir.filePath(name)).size() == 0) continue;
            out.filesNotSound << name + QStringLiteral(": ") + e.what();
        }
    }
    try {
        readCallsOnlyInStationFile(dir, out);
    } catch (const platform::DbError& e) {
        out.filesNotSound << QStringLiteral("switch.mdb: ") + e.what();
    }
    return out;
}

platform::Currency remainOf(const QString& dataPath, qint32 userid) {
    platform::Database db = platform::Database::open(platform::resolveCI(dataPath, QStringLiteral("switch.mdb")));
    const auto v = db.scalar(QStringLiteral("SELECT remain FROM user WHERE userid=?"), {userid});
    const qint64 mark = db.scalar(QStringLiteral("SELECT value FROM Variant WHERE varname='TarvoChargeApplied'")).toLongLong();
    db.close();
    // A kill between a call's commit and its balance's leaves the charge in
    // the log only: the next start applies it, so it counts already.
    qint64 pending = 0;
    const QString cur = platform::resolveCI(dataPath, QStringLiteral("PhoneCur.mdb"));
    if (QFileInfo(cur).isFile()) {
        platform::Database calls = platform::Database::open(cur);
        if (calls.hasTable(QStringLiteral("tab_chargelog")))
            pending = calls.scalar(QStringLiteral("SELECT coalesce(sum(f_amount), 0) FROM tab_chargelog "
                                                  "WHERE f_seq>? AND f_userid=? AND f_kind=0"),
                                   {mark, userid})
                          .toLongLong();
        calls.close();
    }
    return platform::Currency::fromRaw(v.toLongLong() - pending);
}

bool copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    const QDir src(from);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = QDir(to).filePath(src.relativeFilePath(path));
        if (QFileInfo(path).isDir()) {
            QDir().mkpath(target);
        } else {
            QFile::remove(target);
            if (!QFile::copy(path, target)) return false;
        }
    }
    return true;
}

}  // namespace testsupport
