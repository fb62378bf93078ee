#include "core/StationFiles.h"
#include "core/books/WriteAhead.h"

#include "core/Deposit.h"

#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "core/Notices.h"
#include "core/Settings.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/MsgCodes.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace ModSwitch {

using platform::Database;
using platform::DbError;

namespace {
const QString kPhoneCurSchema = QStringLiteral("phonecur");

// The station's two files keep write-ahead logs: a call and its charge
// entry commit with one sync of the call file. A file another program holds
// stays as it is; it only commits more slowly.
void useLogOn(const Database& db) {
    try {
        db.useWriteAheadLog();
    } catch (const DbError&) {
    }
}
}  // namespace

bool OpenDB(const QString& path, Database& db) {
    const bool attachToSwitch = &db == &dbPhoneCur;
    bool result = true;
    for (;;) {
        try {
            const QString file = platform::resolvePathCI(path);
            if (db.isOpen()) db.close();
            if (attachToSwitch) {
                if (!dbSwitch.isOpen()) throw DbError(platform::kErrClosed, QStringLiteral("数据库未打开"));
                db = dbSwitch.attach(file, kPhoneCurSchema);
            } else {
                db = Database::open(file);
            }
            useLogOn(db);
            return result;
        } catch (const DbError& e) {
            result = false;
            db = Database();
            const int answer = core::Notify(platform::OperatorText(e) + QStringLiteral(",要终止程序吗"), platform::mbYesNo,
                                                QStringLiteral("警告"));
            if (answer == platform::rYes) platform::EndProgram(0);
            // Nothing may go on without its database: wait and try again.
            ModGeneral::Delay(1000);
        }
    }
}

void OpenRecordsets() {
    rsUser = dbSwitch.openTable(QStringLiteral("user"));
    rsFeeRate = dbSwitch.query(QStringLiteral("select * from feerate order by zonecode desc"));
    rsIPHead = dbSwitch.openTable(QStringLiteral("iphead"));
    // The default user stands for extensions and accounts nobody owns: it is
    // never charged, so it is created as a user who is not settled (mode 2);
    // as a deposit user with nothing to spend, every call of theirs would be cut.
    if (!rsUser.findFirst(QStringLiteral("userid"), 0)) {
        dbSwitch.execute(QStringLiteral("insert into user(userid,username,lastdate,balancemode) values(0,?,?,2)"),
                         {QStringLiteral("默认用户"), platform::Now()});
        rsUser.requery();
    }
    SettleDefaultUserOnce();
}

void OpenSharedRecordsets() {
    OpenRecordsets();
    if (dbPhoneCur.isOpen()) {
        // As an opening does (admin::OpenSite), for tools and tests that open the files by hand.
        SettleAtOpening();
        PrepareChargeLog();
    }
}

void SettleDefaultUserOnce() {
    // A station database made before the default user was created unsettled
    // holds it as a deposit user with no money at all. That is corrected
    // once; what an operator sets afterwards stays.
    const QString marker = QStringLiteral("TarvoDefaultUserSettled");
    if (!GetVariant(marker, QString()).isEmpty()) return;
    platform::Transaction tx(dbSwitch);
    dbSwitch.execute(QStringLiteral("update user set balancemode=2 where userid=0 and balancemode=0 and "
                                    "deposit=0 and remain=0 and overdraft=0"));
    SetVariant(marker, QStringLiteral("1"));
    tx.commit();
    if (rsUser.isOpen()) rsUser.requery();
}

bool OpenStationFiles(QString* failure) {
    if (!failure) {
        OpenDB(DataPath + QStringLiteral("switch.mdb"), dbSwitch);
        OpenDB(DataPath + QStringLiteral("PhoneCur.mdb"), dbPhoneCur);
        return true;
    }
    try {
        const QString sw = platform::resolvePathCI(DataPath + QStringLiteral("switch.mdb"));
        const QString cur = platform::resolvePathCI(DataPath + QStringLiteral("PhoneCur.mdb"));
        if (dbSwitch.isOpen()) dbSwitch.close();
        dbSwitch = Database::open(sw);
        useLogOn(dbSwitch);
        dbPhoneCur = dbSwitch.attach(cur, kPhoneCurSchema);
        useLogOn(dbPhoneCur);
        return true;
    } catch (const DbError& e) {
        *failure = platform::OperatorText(e);
        OpenAllDB(false);
        return false;
    }
}

bool TryOpenAllDB(QString* failure) {
    QString why;
    if (!OpenStationFiles(&why)) {
        if (failure) *failure = why;
        return false;
    }
    try {
        OpenSharedRecordsets();
        return true;
    } catch (const DbError& e) {
        if (failure) *failure = platform::OperatorText(e);
        OpenAllDB(false);
        return false;
    }
}

void OpenAllDB(bool bOpen) {
    if (bOpen) {
        OpenStationFiles();
        OpenSharedRecordsets();
    } else {
        rsUser.close();
        rsFeeRate.close();
        rsIPHead.close();
        dbSwitch.close();
        dbPhoneCur.close();
    }
}

// The tables without which the station cannot run on a file: a file that
// lacks one counts as damaged (an empty or zero-byte file among them).
QStringList StationTables(const QString& file) {
    const QString name = QFileInfo(file).fileName();
    if (name.compare(QStringLiteral("switch.mdb"), Qt::CaseInsensitive) == 0)
        return {QStringLiteral("Variant"), QStringLiteral("user"), QStringLiteral("Worker")};
    if (name.compare(QStringLiteral("PhoneCur.mdb"), Qt::CaseInsensitive) == 0)
        return {QStringLiteral("Tab_Phone"), QStringLiteral("tab_errPh")};
    return {};
}

void DeleteUserRows(const platform::Database& db, qint64 userid) {
    const quint8 grade = ModGeneral::GetDepositGrade(db, 0);
    auto table = [&db](const char* name) { return db.qualified(db.actualTableName(QString::fromLatin1(name))); };
    db.execute(QStringLiteral("UPDATE %1 SET userid=0, depositgrade=? WHERE userid=?").arg(table("extension")), {grade, userid});
    db.execute(QStringLiteral("UPDATE %1 SET account='FFFF', userid=0, depositgrade=? WHERE userid=?").arg(table("account")),
               {grade, userid});
    db.execute(QStringLiteral("DELETE FROM %1 WHERE userid=?").arg(table("user")), {userid});
}

QString CopyAheadPath(const QString& stationFile) {
    return platform::resolveCI(QFileInfo(stationFile).absolutePath(), QFileInfo(stationFile).fileName() + QStringLiteral(".bak.ahead"));
}

namespace {
// The mark of the station file `path` and its station's name; a mark of -1 when it does not read.
QPair<qint64, QString> markAndStationOf(const QString& path) {
    try {
        const Database db = Database::openReadOnly(path);
        return {AppliedMark(db), GetVariant(db, kStationId)};
    } catch (const DbError&) {
        return {-1, QString()};
    }
}
}  // namespace

void KeepCopyAhead(const QString& file, const QString& bak, const Database& cur) {
    try {
        if (!QFileInfo(bak).isFile()) return;
        const qint64 mark = AppliedMark(cur);
        const auto [copyMark, copyStation] = markAndStationOf(bak);
        if (copyMark <= qMax<qint64>(mark, 0) || copyStation != GetVariant(cur, kStationId)) return;
        const QString ahead = CopyAheadPath(file);
        // One kept by a start before, still further ahead, stays.
        if (QFileInfo(ahead).isFile() && markAndStationOf(ahead).first >= copyMark) return;
        platform::safeReplace(bak, ahead);
    } catch (const DbError&) {
        // Nothing kept: the catch-up names what the journal alone tells.
    }
}

QMap<qint64, MoneyRow> CopyAheadRows(const QString& stationFile, const QList<LogEntry>& log, bool* found,
                                     QMap<qint64, qint64>* owners) {
    *found = false;
    const QString ahead = CopyAheadPath(stationFile);
    if (!QFileInfo(ahead).isFile()) return {};
    QTemporaryDir work;
    const QString copy = work.filePath(QStringLiteral("ahead.mdb"));
    if (!work.isValid() || !QFile::copy(ahead, copy)) return {};
    try {
        const Database db = Database::open(copy);
        const qint64 mark = AppliedMark(db);
        if (mark < 0) return {};
        RecoverFromLog(db, log, {}, mark, -1);
        bool whole = true;
        QMap<qint64, MoneyRow> rows = MoneyRowsOf(db, QString(), &whole);
        *found = whole;
        bool ownersWhole = true;
        if (owners) *owners = OwnersOf(db, &ownersWhole);
        if (owners && !ownersWhole) owners->clear();
        return whole ? rows : QMap<qint64, MoneyRow>();
    } catch (const std::exception&) {
        return {};
    }
}

void ForgetCopyAhead(const QString& stationFile) {
    const QString ahead = CopyAheadPath(stationFile);
    if (QFileInfo(ahead).isFile() && QFile::remove(ahead)) platform::syncDir(QFileInfo(ahead).absolutePath());
}

}  // namespace ModSwitch
