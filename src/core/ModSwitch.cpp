#include "core/ModSwitch.h"

#include "billing/ArchiveBills.h"
#include "core/ChargeLog.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "link/ModComm.h"
#include "platform/AppExit.h"
#include "platform/Comm.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::Recordset;

namespace {
const QString kPhoneCurSchema = QStringLiteral("phonecur");

// Names of the local prefix kinds, by kind number.
const char* const kLanHeadTypes =
    "话务台参数,话务台功能,话务台语音,限拨号,国际长途,国内长途,长途出局,BP机,,特服号,网间,信息台,本地局号,本地出局,,"
    "转移局向,间接出局,指定出局,用户功能码,用户语音码,本局1,本局2,本局3,本局4,本局5,本局6,本局7,本局8,本局9,"
    "本局闭锁,呼叫话务台,分机代接码,缩位码";

// A settings text as a Boolean: "True"/"False" in any case, or a number
// (non-zero is True). Anything else, empty included, reads as False.
bool settingBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
    if (t.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    const double d = t.toDouble(&ok);
    return ok && d != 0.0;
}

// A settings text as a 16-bit Integer, rounded to even as the station converts;
// empty, unconvertible or out-of-range text reads as 0.
int settingInt(const QString& text) {
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) return 0;
    const double r = std::nearbyint(d);
    if (r < -32768 || r > 32767) return 0;
    return static_cast<int>(r);
}
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

// ------------------------------------------------------------------ opening

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
            const int answer = platform::MsgBox(e.text() + QStringLiteral(",要终止程序吗"), platform::mbYesNo,
                                                QStringLiteral("警告"));
            if (answer == platform::rYes) platform::EndProgram(0);
            // Nothing may go on without its database: wait and try again.
            ModGeneral::Delay(1000);
        }
    }
}

void OpenSharedRecordsets() {
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
    if (dbPhoneCur.isOpen()) PrepareChargeLog();
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
    dbSwitch.execute(QStringLiteral("delete from variant where varname=?"), {marker});
    dbSwitch.execute(QStringLiteral("insert into Variant(varname,value) values(?,?)"), {marker, QStringLiteral("1")});
    tx.commit();
    if (rsUser.isOpen()) rsUser.requery();
}

bool TryOpenAllDB(QString* failure) {
    try {
        const QString sw = platform::resolvePathCI(DataPath + QStringLiteral("switch.mdb"));
        const QString cur = platform::resolvePathCI(DataPath + QStringLiteral("PhoneCur.mdb"));
        if (dbSwitch.isOpen()) dbSwitch.close();
        dbSwitch = Database::open(sw);
        useLogOn(dbSwitch);
        dbPhoneCur = dbSwitch.attach(cur, kPhoneCurSchema);
        useLogOn(dbPhoneCur);
        OpenSharedRecordsets();
        return true;
    } catch (const DbError& e) {
        if (failure) *failure = e.text();
        OpenAllDB(false);
        return false;
    }
}

void OpenAllDB(bool bOpen) {
    if (bOpen) {
        OpenDB(DataPath + QStringLiteral("switch.mdb"), dbSwitch);
        OpenDB(DataPath + QStringLiteral("PhoneCur.mdb"), dbPhoneCur);
        OpenSharedRecordsets();
    } else {
        rsUser.close();
        rsFeeRate.close();
        rsIPHead.close();
        dbSwitch.close();
        dbPhoneCur.close();
    }
}

// ------------------------------------------------------------------ check and compaction

namespace {

using platform::quoteIdent;
using platform::sameFile;

// True when the station itself has `path` open: it must not be replaced under it.
bool openByStation(const QString& path) {
    return (dbSwitch.isOpen() && sameFile(dbSwitch.path(), path)) ||
           (dbPhoneCur.isOpen() && sameFile(dbPhoneCur.path(), path));
}

// The copy `bak` against the file `cur`: every table of the copy (but the
// shadow tables) must be in the file with as many fields; the tables keyed by
// port or route address must also hold as many rows.
bool SameStructure(const Database& bak, const Database& cur) {
    for (const QString& t : bak.tableNames()) {
        if (t.startsWith(QLatin1Char('p'))) continue;
        const QString actual = cur.actualTableName(t);
        if (actual.isEmpty()) return false;
        if (t.startsWith(QStringLiteral("MSy"))) continue;
        const QList<platform::ColumnInfo> bc = bak.columns(t);
        const QList<platform::ColumnInfo> cc = cur.columns(actual);
        if (bc.size() != cc.size()) return false;
        if (!cc.isEmpty() && (cc[0].name.compare(QStringLiteral("Router"), Qt::CaseInsensitive) == 0 ||
                              cc[0].name.compare(QStringLiteral("Address"), Qt::CaseInsensitive) == 0)) {
            if (bak.rowCount(t) != cur.rowCount(actual)) return false;
        }
    }
    return true;
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

QString MissingTable(const Database& db, const QString& file) {
    for (const QString& t : StationTables(file))
        if (!db.hasTable(t)) return t;
    return {};
}

// A copy that passes the check and holds the station's tables.
bool SoundCopy(const QString& bak) {
    if (!QFileInfo(bak).isFile()) return false;
    try {
        Database b = Database::open(bak);
        const bool ok = b.quickCheck() && MissingTable(b, bak.chopped(4)).isEmpty();
        b.close();
        return ok;
    } catch (const DbError&) {
        return false;
    }
}

// Reads the rows of `table` that the engine can still read, by rowid:
// forwards until the first damaged page, then backwards from the end.
QMap<qint64, QVariantList> ReadableRows(const Database& db, const QString& table, const QStringList& cols,
                                        bool* complete = nullptr) {
    QMap<qint64, QVariantList> rows;
    if (complete) *complete = false;
    QStringList quoted;
    for (const QString& c : cols) quoted << quoteIdent(c);
    for (const char* order : {"ASC", "DESC"}) {
        try {
            for (platform::RowReader st = db.rows(QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid %3")
                                                      .arg(quoted.join(QLatin1Char(',')), db.qualified(table),
                                                           QLatin1String(order)));
                 st.next();) {
                const qint64 id = st.integer(0);
                if (rows.contains(id)) break;   // met the rows read from the other end
                QVariantList r;
                for (int i = 1; i <= cols.size(); ++i) {
                    switch (st.kind(i)) {
                    case platform::RawRecords::Integer: r << QVariant::fromValue<qlonglong>(st.integer(i)); break;
                    case platform::RawRecords::Float: r << st.real(i); break;
                    case platform::RawRecords::Null: r << QVariant(); break;
                    default: r << st.text(i);
                    }
                }
                rows.insert(id, r);
            }
            if (*order == 'A') {
                // Read to the end without a fault: every row.
                if (complete) *complete = true;
                break;
            }
        } catch (const DbError&) {
            // A damaged page ends this direction; the other may still read past it.
        }
    }
    return rows;
}

// A damaged database file read in memory, on a connection of its own, for
// what can still be read from it; the file itself is never written.
struct DamagedImage {
    Database db;
    explicit operator bool() const { return db.isOpen(); }

    explicit DamagedImage(const QString& damaged) {
        // Cut to whole pages: a page the file holds only in part would give
        // rows of zeros and garbage.
        QString source = damaged;
        QTemporaryDir work;
        const bool hotJournal = QFileInfo(damaged + QStringLiteral("-journal")).size() > 0;
        const bool log = QFileInfo(damaged + QStringLiteral("-wal")).size() > 0;
        if ((hotJournal || log) && work.isValid()) {
            // Its hot journal is rolled back first, or its write-ahead log
            // brought into it, on copies: the file itself is never written.
            source = work.filePath(QStringLiteral("r.mdb"));
            const QString side = hotJournal ? QStringLiteral("-journal") : QStringLiteral("-wal");
            if (QFile::copy(damaged, source) && QFile::copy(damaged + side, source + side)) {
                try {
                    Database r = Database::open(source);
                    if (log) r.tryExecute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
                    r.close();
                } catch (const DbError&) {
                    // What could not be brought back, the pages read below still hold.
                }
            }
        }
        QByteArray image;
        {
            QFile f(source);
            if (!f.open(QIODevice::ReadOnly)) return;
            image = f.readAll();
        }
        if (image.size() < 100 || !image.startsWith("SQLite format 3")) return;
        int pageSize = (quint8(image[16]) << 8) | quint8(image[17]);
        if (pageSize == 1) pageSize = 65536;
        if (pageSize < 512) return;
        image.truncate(image.size() - image.size() % pageSize);
        // Read in memory, a file that kept a write-ahead log reads as one that never did.
        if (quint8(image[18]) == 2) image[18] = 1;
        if (quint8(image[19]) == 2) image[19] = 1;
        try {
            db = Database::openImage(image);
        } catch (const DbError&) {
        }
    }

    // The columns of `table`, lower case; none when it cannot be read.
    QStringList columns(const QString& table) const {
        QStringList cols;
        try {
            for (platform::RowReader r = db.rows(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdent(table))); r.next();)
                cols << r.text(1).toLower();
        } catch (const DbError&) {
        }
        return cols;
    }
};

// Copies into the restored call file the calls and rejects the damaged one
// still holds that the copy lacks, in one transaction. Returns the calls copied.
int RecoverRows(const QString& restored, const QString& damaged) {
    const DamagedImage old(damaged);
    if (!old) return 0;
    int calls = 0;
    try {
        Database db = Database::open(restored);
        platform::Transaction tx(db);
        for (const QString& t : {QStringLiteral("Tab_Phone"), QStringLiteral("tab_errPh"), kChargeLog}) {
            const QString mine = db.actualTableName(t);
            const QStringList theirs = old.columns(t);
            if (mine.isEmpty() || theirs.isEmpty()) continue;
            QStringList cols;
            for (const platform::ColumnInfo& c : db.columns(mine))
                if (theirs.contains(c.name.toLower())) cols << c.name;
            const bool isCalls = t == QStringLiteral("Tab_Phone");
            // A logged charge is the same entry when its number is.
            const bool isLog = t == kChargeLog;
            const int seqCol =
                cols.indexOf(QRegularExpression(QStringLiteral("^f_seq$"), QRegularExpression::CaseInsensitiveOption));
            if (isLog && seqCol < 0) continue;
            const int addrCol = cols.indexOf(QRegularExpression(QStringLiteral("^f_calladdr$"),
                                                                QRegularExpression::CaseInsensitiveOption));
            const int dateCol =
                cols.indexOf(QRegularExpression(QStringLiteral("^f_date$"), QRegularExpression::CaseInsensitiveOption));
            // A call is the call stored already when extension and start are equal;
            // a reject row is the same row when its number is.
            if (isCalls && (addrCol < 0 || dateCol < 0)) continue;
            const QMap<qint64, QVariantList> rows = ReadableRows(old.db, t, cols);
            QStringList quoted, marks;
            for (const QString& c : cols) {
                quoted << quoteIdent(c);
                marks << QStringLiteral("?");
            }
            const QString table = db.qualified(mine);
            for (auto it = rows.constBegin(); it != rows.constEnd(); ++it) {
                const QVariant present =
                    isCalls ? db.scalar(QStringLiteral("SELECT 1 FROM %1 WHERE f_calladdr=? AND f_date=? LIMIT 1").arg(table),
                                        {it->value(addrCol), it->value(dateCol)})
                    : isLog ? db.scalar(QStringLiteral("SELECT 1 FROM %1 WHERE f_seq=?").arg(table), {it->value(seqCol)})
                            : db.scalar(QStringLiteral("SELECT 1 FROM %1 WHERE rowid=?").arg(table), {it.key()});
                if (!present.isNull()) continue;
                platform::Params values;
                for (const QVariant& v : *it) values << platform::Param(v);
                if (isCalls || isLog) {
                    db.execute(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                   .arg(table, quoted.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                               values);
                    if (isCalls) ++calls;
                } else {
                    // The reject keeps its number.
                    db.execute(QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (?, %3)")
                                   .arg(table, quoted.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                               platform::Params{platform::Param(it.key())} + values);
                }
            }
        }
        tx.commit();
        db.close();
        return calls;
    } catch (const DbError&) {
        return 0;
    }
}

// What became of the balances when the station file was restored from its copy.
struct BalanceRecovery {
    int usersKept = 0;                 // user rows taken over from the damaged file
    int charges = 0;                   // charges logged since the copy, applied again
    platform::Currency charged;
    bool callFileRead = false;         // the charge log could be read
    bool allUsersRead = false;         // every user row of the damaged file was read
    QStringList lost;                  // "用户7 张三：50.00", what the operator enters again
    QStringList deleted;               // "用户7 张三": deleted since the copy, deleted again
    bool gap = false;                  // charges since the copy are no longer all logged
};

// The highest copy number in the charge log of the call file `callFile`; 0
// when it has none or cannot be read.
qint64 LoggedGeneration(const QString& callFile) {
    if (!QFileInfo(callFile).isFile()) return 0;
    try {
        const Database db = Database::openReadOnly(callFile);
        return db.scalar(QStringLiteral("SELECT max(f_gen) FROM %1").arg(quoteIdent(kChargeLog))).toLongLong();
    } catch (const DbError&) {
        return 0;
    }
}

// The charge log of the call file `callFile`, as far as it can be read.
QList<LogEntry> ReadLog(const QString& callFile, bool* read) {
    QList<LogEntry> out;
    *read = false;
    if (!QFileInfo(callFile).isFile()) return out;
    const DamagedImage calls(callFile);
    if (!calls) return out;
    const QStringList cols = calls.columns(kChargeLog);
    if (cols.isEmpty()) return out;
    *read = true;
    const bool numbered = cols.contains(QStringLiteral("f_seq"));
    const bool kinds = cols.contains(QStringLiteral("f_kind"));
    QStringList wanted{QStringLiteral("f_gen"), QStringLiteral("f_userid"), QStringLiteral("f_amount"),
                       QStringLiteral("f_balance")};
    if (numbered) wanted << QStringLiteral("f_seq");
    if (kinds) wanted << QStringLiteral("f_kind");
    const QMap<qint64, QVariantList> rows = ReadableRows(calls.db, kChargeLog, wanted);
    for (auto it = rows.constBegin(); it != rows.constEnd(); ++it) {
        LogEntry e;
        e.gen = it->value(0).toLongLong();
        e.userid = it->value(1).toLongLong();
        e.amount = platform::Currency::fromRaw(it->value(2).toLongLong());
        e.balance = platform::Currency::fromRaw(it->value(3).toLongLong());
        e.seq = numbered ? it->value(4).toLongLong() : it.key();
        e.kind = kinds ? it->value(numbered ? 5 : 4).toInt() : 0;
        out << e;
    }
    std::sort(out.begin(), out.end(), [](const LogEntry& a, const LogEntry& b) { return a.seq < b.seq; });
    return out;
}

// Keeps the money right in the station file `restored`, just put back from
// its copy: the user rows the damaged file still gives are taken over, with
// the charges logged past the mark that file had reached; every other user is
// brought from the copy up to the log. Users the damaged file no longer holds,
// when all of its users could be read, were deleted since the copy: deleted
// again. What no log explains (a payment) is listed.
BalanceRecovery RecoverBalances(const QString& restored, const QString& damaged, const QString& callFile) {
    BalanceRecovery out;
    try {
        Database db = Database::open(restored);
        const QString userTable = db.qualified(db.actualTableName(QStringLiteral("user")));
        QStringList mine;
        for (const platform::ColumnInfo& c : db.columns(db.actualTableName(QStringLiteral("user")))) mine << c.name;

        const QList<LogEntry> log = ReadLog(callFile, &out.callFileRead);
        qint64 lastLogged = 0;
        for (const LogEntry& e : log) lastLogged = qMax(lastLogged, e.seq);

        QMap<qint64, QVariantList> users;
        QStringList cols;
        qint64 damagedMark = -1;
        if (!damaged.isEmpty()) {
            const DamagedImage old(damaged);
            if (old) {
                const QStringList theirs = old.columns(QStringLiteral("user"));
                for (const QString& c : mine)
                    if (theirs.contains(c.toLower())) cols << c;
                if (cols.contains(QStringLiteral("userid"), Qt::CaseInsensitive))
                    users = ReadableRows(old.db, QStringLiteral("user"), cols, &out.allUsersRead);
                else
                    cols.clear();
                try {
                    damagedMark = AppliedMark(old.db);
                } catch (const DbError&) {
                    damagedMark = -1;
                }
            }
        }
        const int idCol = cols.indexOf(QRegularExpression(QStringLiteral("^userid$"), QRegularExpression::CaseInsensitiveOption));
        const qint64 copyMark = MarkOfCopy(db, log);

        QMap<qint64, qint64> baseFor;
        {
            platform::Transaction tx(db);
            if (idCol >= 0) {
                QStringList quoted, marks;
                for (const QString& c : cols) {
                    quoted << quoteIdent(c);
                    marks << QStringLiteral("?");
                }
                const QString upsert = QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                                           .arg(userTable, quoted.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
                // A damaged file whose mark cannot be read is taken to hold every logged charge.
                const qint64 base = damagedMark >= 0 ? damagedMark : qMax(lastLogged, copyMark);
                for (const QVariantList& row : std::as_const(users)) {
                    platform::Params values;
                    for (const QVariant& v : row) values << platform::Param(v);
                    db.execute(upsert, values);
                    baseFor.insert(row.value(idCol).toLongLong(), base);
                }
                if (out.allUsersRead) {
                    // Every user the damaged file held is known: one the copy
                    // has beside them was deleted since.
                    QList<QPair<qint64, QString>> gone;
                    for (platform::RowReader r = db.rows(QStringLiteral("SELECT userid, username FROM %1 WHERE userid<>0")
                                                             .arg(userTable));
                         r.next();)
                        if (!baseFor.contains(r.integer(0))) gone << qMakePair(r.integer(0), r.text(1));
                    for (const auto& g : gone) {
                        db.execute(QStringLiteral("UPDATE %1 SET userid=0 WHERE userid=?")
                                       .arg(db.qualified(db.actualTableName(QStringLiteral("extension")))),
                                   {g.first});
                        db.execute(QStringLiteral("UPDATE %1 SET account='FFFF', userid=0 WHERE userid=?")
                                       .arg(db.qualified(db.actualTableName(QStringLiteral("account")))),
                                   {g.first});
                        db.execute(QStringLiteral("DELETE FROM %1 WHERE userid=?").arg(userTable), {g.first});
                        out.deleted << QStringLiteral("用户%1 %2").arg(g.first).arg(g.second);
                    }
                }
            }
            tx.commit();
        }
        out.usersKept = int(users.size());
        const LogRecovery r = RecoverFromLog(db, log, baseFor, copyMark);
        out.charges = r.charges;
        out.charged = r.charged;
        out.deleted += r.deleted;
        out.lost = r.lost;
        out.gap = r.gap;
        db.close();
    } catch (const DbError&) {
        // What could not be written stays as the copy has it; the box says what the copy is.
    }
    return out;
}

const QStringList kSideFiles{QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")};

void removeWorkFile(const QString& path) {
    QFile::remove(path);
    for (const QString& side : kSideFiles) QFile::remove(path + side);
}

// A restore from a safety copy under way: written, synced, before the damaged
// file is moved aside, and taken away only once the recovered file is in
// place and the operator has been told. A start that finds it completes the
// restore before it checks the file or takes a new safety copy.
struct PendingRestore {
    QString aside;       // where the damaged file was put ("" when there was none)
    QString copyTime;    // when the copy was taken
    bool existed = false;
};

QString pendingPath(const QString& target) { return target + QStringLiteral(".pending-restore"); }

std::function<void(const QString&)> g_restoreStep;
void restoreStep(const QString& step) {
    if (g_restoreStep) g_restoreStep(step);
}

bool writePending(const QString& target, const PendingRestore& p) {
    const QByteArray text = "TARVORESTORE\n" + QFileInfo(p.aside).fileName().toUtf8() + '\n' + p.copyTime.toUtf8() + '\n' +
                            (p.existed ? "1" : "0") + '\n';
    return platform::safeReplaceWith(pendingPath(target), [&](const QString& tmp) {
        QFile f(tmp);
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    });
}

bool readPending(const QString& target, PendingRestore* p) {
    QFile f(pendingPath(target));
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.size() < 4 || lines[0] != "TARVORESTORE") return false;
    const QString dir = QFileInfo(target).absolutePath() + QLatin1Char('/');
    p->aside = lines[1].isEmpty() ? QString() : dir + QString::fromUtf8(lines[1]);
    p->copyTime = QString::fromUtf8(lines[2]);
    p->existed = lines[3] == "1";
    return true;
}

bool moveWithSides(const QString& from, const QString& to) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) return false;
    for (const QString& side : kSideFiles)
        if (QFileInfo::exists(from + side)) QFile::rename(from + side, to + side);
    return true;
}

// The restore of `target` from `bak` that `p` describes, from wherever a
// power cut left it: the damaged file aside, the copy brought up to date
// beside the target and renamed over it once its recovery has committed, the
// box's text in `text`. Run again, it does the same again.
bool CompleteRestoreFromBak(const QString& bak, const QString& target, const PendingRestore& p, QString* text) {
    const QString dir = QFileInfo(target).absolutePath();
    if (!p.aside.isEmpty() && !QFileInfo::exists(p.aside) && QFileInfo::exists(target)) {
        if (!moveWithSides(target, p.aside)) return false;
    } else {
        // A copy a former attempt put in place is made anew.
        removeWorkFile(target);
    }
    platform::syncDir(dir);
    restoreStep(QStringLiteral("moved"));
    const QString work = target + QStringLiteral(".recovered");
    removeWorkFile(work);
    if (!platform::safeReplace(bak, work)) {
        removeWorkFile(work);
        return false;
    }
    restoreStep(QStringLiteral("copied"));
    const QString name = QFileInfo(target).fileName();
    QString t = p.existed ? QStringLiteral("数据库文件%1已损坏，") : QStringLiteral("数据库文件%1不存在，");
    t = t.arg(name) + QStringLiteral("已用备份%1恢复（备份时间%2）。").arg(QFileInfo(bak).fileName(), p.copyTime);
    const QString aside = QFileInfo::exists(p.aside) ? p.aside : QString();
    if (!aside.isEmpty()) t += QStringLiteral("损坏的文件保存为%1。").arg(QDir::toNativeSeparators(aside));
    if (StationTables(target).contains(QStringLiteral("Variant"))) {
        const BalanceRecovery r = RecoverBalances(work, aside, platform::resolveCI(dir, QStringLiteral("PhoneCur.mdb")));
        if (r.usersKept > 0) t += QStringLiteral("\n从损坏的文件中找回%1个用户的余额。").arg(r.usersKept);
        if (r.charges > 0)
            t += QStringLiteral("\n重新计入备份之后的%1笔话费，共%2元。").arg(r.charges).arg(r.charged.toString2());
        if (!r.callFileRead && !r.allUsersRead)
            t += QStringLiteral("\n话单文件无法读取，备份之后的话费未能重新计入。");
        if (r.gap) t += QStringLiteral("\n备份之后的部分话费记录已不存在，未能全部重新计入。");
        if (!r.deleted.isEmpty())
            t += QStringLiteral("\n以下用户在备份之后已删除，已再次删除：\n") + r.deleted.join(QLatin1Char('\n'));
        if (!r.lost.isEmpty())
            t += QStringLiteral("\n以下金额无法找回，请重新录入：\n") + r.lost.join(QLatin1Char('\n'));
        if (!r.allUsersRead || r.gap || !r.callFileRead)
            t += QStringLiteral("\n备份之后的其他缴费和押金变动无法得知，请核对用户余额。");
    } else {
        if (!aside.isEmpty()) t += QStringLiteral("从损坏的文件中找回%1张话单。").arg(RecoverRows(work, aside));
        else t += QStringLiteral("备份之后存储的话单无法找回。");
        // The copy may predate an archive run: its calls already in the year files are not billed twice.
        int archived = 0;
        try {
            archived = billing::DropArchivedRows(Database::open(work));
        } catch (const DbError&) {
        }
        if (archived > 0) t += QStringLiteral("\n备份中有%1张话单早已转存到年度归档文件，已从话单库删除。").arg(archived);
    }
    // The recovered file goes in whole: a power cut before this line leaves
    // the mark, and the next start does it all again.
    if (!platform::syncFile(work)) return false;
    restoreStep(QStringLiteral("recovered"));
    for (const QString& side : kSideFiles) QFile::remove(target + side);
    if (!moveWithSides(work, target)) return false;
    platform::syncDir(dir);
    restoreStep(QStringLiteral("renamed"));
    *text = t;
    return true;
}

}  // namespace

void CompactDB(const QString& fileName) {
    QString failure;
    if (TryCompactDB(fileName, &failure, nullptr)) return;
    platform::MsgBox(QStringLiteral("恢复数据库失败!"), platform::mbOKOnly, QStringLiteral("警告"));
    core::CloseApp();
}

namespace {

// The restore of `f` from `b` that a mark describes; the operator is told, and the mark goes.
bool FinishRestore(const QString& b, const QString& f, const PendingRestore& p, QString* failure, QString* notice) {
    QString text;
    if (!CompleteRestoreFromBak(b, f, p, &text)) {
        if (failure) *failure = QStringLiteral("恢复数据库失败!");
        return false;
    }
    if (notice) *notice += (notice->isEmpty() ? QString() : QStringLiteral("\n")) + text;
    else platform::MsgBox(text, platform::mbOKOnly, QStringLiteral("警告"));
    QFile::remove(pendingPath(f));
    platform::syncDir(QFileInfo(f).absolutePath());
    return true;
}

}  // namespace

bool TryCompactDB(const QString& fileName, QString* failure, QString* notice) {
    QString f = platform::resolveCI(DataPath, fileName);
    const QString b = platform::resolveCI(DataPath, QFileInfo(f).fileName() + QStringLiteral(".bak"));
    const QString tmp = platform::resolveCI(DataPath, QStringLiteral("Tmp.mdb"));
    if (openByStation(f)) return true;

    {
        // A restore a power cut interrupted is completed first, from the copy it began with.
        const QString pendingFor = platform::resolveCI(DataPath, QFileInfo(f).fileName() + QStringLiteral(".pending-restore"));
        PendingRestore p;
        if (QFileInfo(pendingFor).isFile()) {
            const QString target = pendingFor.chopped(QStringLiteral(".pending-restore").size());
            if (readPending(target, &p) && SoundCopy(b)) return FinishRestore(b, target, p, failure, notice);
            QFile::remove(pendingFor);   // cut short while it was written: nothing was moved yet
        }
    }

    bool checked = false;   // the file passed its check; only the compaction failed
    int err = 0;
    QString why;
    {
        Database cur, bak;
        try {
            if (!QFileInfo(f).isFile())
                throw DbError(platform::kErrFileNotFound, QStringLiteral("找不到文件 '%1'").arg(f));
            cur = Database::open(f);
            if (!cur.quickCheck()) throw DbError(platform::kErrNotADatabase, QStringLiteral("数据库已损坏 '%1'").arg(f));
            const QString missing = MissingTable(cur, f);
            if (!missing.isEmpty())
                throw DbError(platform::kErrNotADatabase, QStringLiteral("数据库缺少表 %1 '%2'").arg(missing, f));
            if (QFileInfo(b).isFile()) {
                // A copy that does not open is simply not compared.
                try {
                    bak = Database::open(b);
                } catch (const DbError&) {
                    bak = Database();
                }
                if (bak.isOpen()) {
                    const bool same = SameStructure(bak, cur);
                    bak.close();
                    if (!same) throw DbError(platform::kErrGeneric, QStringLiteral("数据库结构不符 '%1'").arg(f));
                }
            }
            checked = true;
            if (StationTables(f).contains(QStringLiteral("Variant"))) {
                // The copy about to be taken gets the next number: the charges
                // logged from now on come after it. A file put back from a
                // backup may carry a lower number than charges logged before
                // it: the next number passes theirs, so they are never taken
                // for charges made since this copy.
                const qint64 logged = LoggedGeneration(platform::resolveCI(DataPath, QStringLiteral("PhoneCur.mdb")));
                platform::Transaction tx(cur);
                const qint64 next = qMax(CopyGenerationOf(cur), logged) + 1;
                cur.execute(QStringLiteral("DELETE FROM Variant WHERE varname=?"), {kCopyGeneration});
                cur.execute(QStringLiteral("INSERT INTO Variant(varname,value) VALUES(?,?)"),
                            {kCopyGeneration, QString::number(next)});
                tx.commit();
            }
            removeWorkFile(tmp);
            cur.vacuumInto(tmp);
            cur.close();
            QString error;
            if (!platform::safeReplace(tmp, f, &error)) throw DbError(platform::kErrGeneric, error);
            removeWorkFile(tmp);
            if (!platform::safeReplace(f, b, &error)) throw DbError(platform::kErrGeneric, error);
            return true;
        } catch (const DbError& e) {
            err = e.number();
            why = e.text();
        }
        bak.close();
        cur.close();
    }
    removeWorkFile(tmp);
    // Another program holds the file: leave it for the next start.
    if (err == platform::kErrExclusive) return true;
    if (checked) {
        // A sound file stays as it is when only its compaction or its copy
        // failed (a full disk); the copy is older than the file and would lose
        // what was stored since: the operator hears how old it is.
        const QString name = QFileInfo(f).fileName();
        const QString text =
            QFileInfo(b).isFile()
                ? QStringLiteral("数据库文件%1的安全备份未能更新（%2），现有备份是%3的，请尽快检查磁盘空间。")
                      .arg(name, why, QFileInfo(b).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                : QStringLiteral("数据库文件%1的安全备份未能建立（%2），请尽快检查磁盘空间。").arg(name, why);
        if (notice) *notice += (notice->isEmpty() ? QString() : QStringLiteral("\n")) + text;
        else platform::MsgBox(text, platform::mbOKOnly, QStringLiteral("警告"));
        return true;
    }
    const bool existed = QFileInfo(f).isFile();
    // A missing file comes back under the name its copy spells it with.
    if (!existed && QFileInfo(b).isFile()) f = b.chopped(4);
    if (SoundCopy(b)) {
        PendingRestore p;
        p.existed = existed;
        p.copyTime = QFileInfo(b).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (existed) {
            const QString stem = f + QStringLiteral(".damaged-") + platform::Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            p.aside = stem;
            for (int n = 2; QFileInfo::exists(p.aside); ++n) p.aside = stem + QStringLiteral("-%1").arg(n);
        }
        if (writePending(f, p) && platform::syncDir(QFileInfo(f).absolutePath())) {
            restoreStep(QStringLiteral("marked"));
            return FinishRestore(b, f, p, failure, notice);
        }
        QFile::remove(pendingPath(f));
    }
    if (failure) *failure = why.isEmpty() ? QStringLiteral("恢复数据库失败!") : why;
    return false;
}

QStringList RecoverRestoredStationFile(const QString& stationFile, const QString& callFile) {
    bool read = false;
    const QList<LogEntry> log = ReadLog(callFile, &read);
    const Database db = Database::open(stationFile);
    QStringList lines = RecoveryLines(RecoverFromLog(db, log, {}, MarkOfCopy(db, log)));
    if (!read && QFileInfo(callFile).isFile())
        lines << QStringLiteral("话单文件无法读取，备份之后的话费未能重新计入，请核对用户余额。");
    return lines;
}

// ------------------------------------------------------------------ stale journals

int RemoveStaleSuperJournals(const QString& dir) {
    // A commit across the attached files writes a super-journal
    // ("switch.mdb-mj" and hex digits) that the engine deletes when the commit
    // ends. A kill leaves it behind; while a hot journal still names it, it
    // decides how that journal is rolled back and must stay.
    const QDir d(dir);
    const QStringList names = d.entryList(QDir::Files | QDir::Hidden | QDir::System);
    static const QRegularExpression superJournal(QStringLiteral("^.+\\.mdb-mj[0-9a-f]+$"),
                                                 QRegularExpression::CaseInsensitiveOption);
    QStringList candidates;
    QList<QByteArray> journals;
    for (const QString& n : names) {
        if (superJournal.match(n).hasMatch()) {
            candidates << n;
        } else if (n.endsWith(QStringLiteral("-journal"), Qt::CaseInsensitive)) {
            QFile j(d.filePath(n));
            if (!j.open(QIODevice::ReadOnly)) return 0;   // a journal we cannot read may name any of them
            // The name of the super-journal stands at the end of a journal.
            const qint64 tail = 1 << 20;
            if (j.size() > tail) j.seek(j.size() - tail);
            journals << j.readAll();
        }
    }
    int removed = 0;
    for (const QString& n : candidates) {
        const QByteArray name = QFile::encodeName(n);
        bool named = false;
        for (const QByteArray& j : journals) named = named || j.contains(name);
        if (!named && QFile::remove(d.filePath(n))) ++removed;
    }
    return removed;
}

// ------------------------------------------------------------------ table copies

namespace {

QString ColumnDefinition(const platform::ColumnInfo& c) {
    QString d = quoteIdent(c.name);
    if (!c.declType.isEmpty()) d += QLatin1Char(' ') + c.declType;
    if (c.notNull) d += QStringLiteral(" NOT NULL");
    if (!c.defaultValue.isNull()) d += QStringLiteral(" DEFAULT (") + c.defaultValue.toString() + QLatin1Char(')');
    return d;
}

}  // namespace

QString ColumnDefinitions(const platform::Database& db, const QString& table) {
    QStringList defs;
    for (const platform::ColumnInfo& c : db.columns(table)) defs << ColumnDefinition(c);
    return defs.join(QStringLiteral(", "));
}

void CopyTableDef(const Database& dbSrc, const QString& srcTable, const Database& dbDst, const QString& dstTable) {
    try {
        const QString src = dbSrc.actualTableName(srcTable);
        if (src.isEmpty()) return;
        QString defs = ColumnDefinitions(dbSrc, src);
        if (defs.isEmpty()) return;
        const QList<platform::IndexInfo> indexes = dbSrc.indexes(src);
        // The table's key when it has one, else its first index, becomes the key of the copy.
        const platform::IndexInfo* key = nullptr;
        for (const platform::IndexInfo& ix : indexes)
            if (ix.primary) key = &ix;
        if (!key && !indexes.isEmpty()) key = &indexes.first();
        if (key && !key->columns.isEmpty()) {
            g_ModifyList.clear();
            QStringList cols;
            for (const QString& c : key->columns) {
                g_ModifyList << QStringLiteral("+") + c;
                cols << quoteIdent(c);
            }
            defs += QStringLiteral(", CONSTRAINT PrimaryKey PRIMARY KEY (%1)").arg(cols.join(QStringLiteral(", ")));
        }
        dbDst.execute(QStringLiteral("CREATE TABLE %1 (%2)").arg(dbDst.qualified(dstTable), defs));
    } catch (const DbError&) {
        // A structure copy stops silently.
    }
}

bool CreatePTable(const QString& name) {
    const QString shadow = QStringLiteral("p") + name;
    try {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("DROP TABLE IF EXISTS %1").arg(dbSwitch.qualified(shadow)));
        CopyTableDef(dbSwitch, name, dbSwitch, shadow);
        tx.commit();
        return dbSwitch.hasTable(shadow);
    } catch (const DbError&) {
        return false;
    }
}

bool CopyTable(const Database& dbSrc, const QString& srcTable, const Database& dbDst, const QString& dstTable,
               bool bAppend, const QString& sSelect) {
    try {
        QString select = sSelect;
        if (select.isEmpty()) {
            const QString src = dbSrc.actualTableName(srcTable);
            select = QStringLiteral("select * from ") + (src.isEmpty() ? quoteIdent(srcTable) : dbSrc.qualified(src));
        }
        const bool oneConnection = dbSrc.sameConnection(dbDst);
        // From another file the rows are read first; nothing is written until they are.
        Recordset rows;
        if (!oneConnection) rows = dbSrc.query(select);

        platform::Transaction tx(dbDst);
        if (!dbDst.hasTable(dstTable)) {
            CopyTableDef(dbSrc, srcTable, dbDst, dstTable);
            if (!dbDst.hasTable(dstTable))
                throw DbError(platform::kErrNoSuchTable, QStringLiteral("找不到表 '%1'").arg(dstTable));
        }
        const QString dst = dbDst.qualified(dbDst.actualTableName(dstTable));
        if (!bAppend) dbDst.execute(QStringLiteral("delete from ") + dst);
        if (oneConnection) {
            dbDst.execute(QStringLiteral("insert into %1 %2").arg(dst, select));
        } else if (!rows.empty()) {
            QStringList marks;
            for (int i = 0; i < rows.fieldCount(); ++i) marks << QStringLiteral("?");
            const QString insert = QStringLiteral("insert into %1 values(%2)").arg(dst, marks.join(QLatin1Char(',')));
            for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
                platform::Params values;
                for (int i = 0; i < rows.fieldCount(); ++i) values << platform::Param(rows.value(i));
                dbDst.execute(insert, values);
            }
        }
        tx.commit();
        return true;
    } catch (const DbError&) {
        return false;
    }
}

QString SqlValue(const QString& value, int fieldType) {
    auto quoted = [](QString t) {
        t.replace(QLatin1Char('\''), QStringLiteral("''"));
        return QLatin1Char('\'') + t + QLatin1Char('\'');
    };
    switch (fieldType) {
    case platform::ftDate: {
        if (value.isEmpty()) return QStringLiteral("NULL");
        const QDateTime t = platform::parseDate(value);
        return quoted(t.isValid() ? platform::dateText(t) : value);
    }
    case platform::ftText:
    case platform::ftMemo:
    case platform::ftDouble:
        return quoted(value);
    case platform::ftCurrency: {
        // Money is stored in ten-thousandths of a yuan.
        if (value.trimmed().isEmpty()) return QStringLiteral("NULL");
        const auto c = platform::Currency::parse(value.trimmed());
        return c ? QString::number(c->raw()) : quoted(value);
    }
    default: {
        const QString t = value.trimmed();
        if (t.isEmpty()) return QStringLiteral("NULL");
        if (t.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return QStringLiteral("1");
        if (t.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) return QStringLiteral("0");
        bool ok = false;
        t.toDouble(&ok);
        // A number stands as it is; anything else cannot leave its literal.
        return ok ? t : quoted(value);
    }
    }
}

// ------------------------------------------------------------------ lists

int GetRecordCount(Recordset& rs) {
    if (!rs.isOpen() || rs.recordCount() < 1) return 0;
    rs.moveLast();
    rs.moveFirst();
    return rs.recordCount();
}

void GetRsArray(const QString& sql, QStringList& arr, const Database& db, bool bPair) {
    Recordset rs = db.query(sql);
    if (rs.empty()) return;
    QStringList out;
    out.reserve(rs.recordCount());
    const bool spring = bPair && rs.fieldCount() > 1 &&
                        rs.fieldName(1).compare(QStringLiteral("SpringNum"), Qt::CaseInsensitive) == 0;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString first = rs.value(0).toString();
        if (!bPair) out << first;
        else if (spring) out << first + rs.value(1).toString();
        else out << first + QStringLiteral("-") + (rs.fieldCount() > 1 ? rs.value(1).toString() : QString());
    }
    arr = out;
}

QString RsValuesList(Recordset& rs, int kind) {
    QString list;
    if (!rs.isOpen()) return list;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QVariant v = rs.value(0);
        switch (kind) {
        case 0: list += QStringLiteral(",") + v.toString(); break;
        case 1: {
            // Quoted as an SQL text literal; a quote inside is doubled, so the
            // list can never end the literal early.
            QString t = v.toString();
            t.replace(QLatin1Char('\''), QStringLiteral("''"));
            list += QStringLiteral(",'") + t + QStringLiteral("'");
            break;
        }
        case 2: {
            // Dates are stored as text: a date list is a list of date texts.
            const QDateTime t = platform::parseDate(v);
            QString s = t.isValid() ? platform::dateText(t) : v.toString();
            s.replace(QLatin1Char('\''), QStringLiteral("''"));
            list += QStringLiteral(",'") + s + QStringLiteral("'");
            break;
        }
        default: break;
        }
    }
    return list.mid(1);
}

// ------------------------------------------------------------------ settings

QString GetVariant(const QString& key, const QString& defaultValue) {
    const QVariant v = dbSwitch.scalar(QStringLiteral("select value from variant where varname=?"), {key});
    if (v.isNull() || v.toString().isEmpty()) return defaultValue;
    return v.toString();
}

void SetVariant(const QString& key, const QString& value) {
    platform::Transaction tx(dbSwitch);
    dbSwitch.execute(QStringLiteral("delete from variant where varname=?"), {key});
    dbSwitch.execute(QStringLiteral("insert into Variant(varname,value) values(?,?)"), {key, value});
    tx.commit();
}

void SetVariants(const QList<QPair<QString, QString>>& values) {
    platform::Transaction tx(dbSwitch);
    for (const auto& [key, value] : values) SetVariant(key, value);
    tx.commit();
}

void LoadSysPara() {
    // Empty rings; the station waits for the switch's first frame before it
    // waits for acknowledgements (g_NoAnswerCount 10).
    ModComm::ResetLink();
    FreeAllSlots();

    PrnType = settingBool(GetVariant(QStringLiteral("PrnType"), QString()));
    PrnHD = settingInt(GetVariant(QStringLiteral("PrnHD"), QString()));
    SHPrnHD = settingBool(GetVariant(QStringLiteral("SHPrnHD"), QString()));
    TransferDisplay = settingInt(GetVariant(QStringLiteral("TransferDisplay"), QStringLiteral("0")));
    TransferCharge = settingInt(GetVariant(QStringLiteral("TransferCharge"), QStringLiteral("0")));
    FeeHDTime = settingInt(GetVariant(QStringLiteral("FeeHDTime"), QStringLiteral("0")));
    FeeType = settingInt(GetVariant(QStringLiteral("FeeType"), QStringLiteral("0")));
    ModComm::ComA().setCommPort(settingInt(GetVariant(QStringLiteral("CommPort"), QStringLiteral("1"))));
    g_MonitorOn = settingBool(GetVariant(QStringLiteral("BILLMONITORED"), QStringLiteral("0")));
    AppName = GetVariant(QStringLiteral("AppName"), QStringLiteral("DE Duzariv"));
    AppCompany = GetVariant(QStringLiteral("APPCOMPANY"), QStringLiteral("本公司"));

    QString title = QCoreApplication::applicationName();
    if (title.isEmpty()) title = QStringLiteral("DE Duzariv");
    SetVariant(QStringLiteral("APPTITLE"), title);

    // Wake-up and log rows older than 90 days go; those of the 90th day stay.
    const QString limit = platform::Now().date().addDays(-90).toString(QStringLiteral("yyyy-MM-dd"));
    {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("delete from awake where servetime<?"), {limit});
        dbSwitch.execute(QStringLiteral("delete from tab_oplog where f_date<?"), {limit});
        tx.commit();
    }

    ModGeneral::SplitStr(QString::fromUtf8(kLanHeadTypes), LanHeadTypeList, QStringLiteral(","));
}

void LoadMonRes() {
    Recordset rs = dbSwitch.query(QStringLiteral("select * from monres"));
    MonRes.clear();
    MonRes.resize(rs.recordCount() + 1);
    int i = 0;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext(), ++i) {
        MonRes[i].channelpicture = static_cast<int>(rs.lng(QStringLiteral("channelpicture")));
        MonRes[i].channeltext = rs.str(QStringLiteral("channeltext"));
        MonRes[i].userpicture = static_cast<int>(rs.lng(QStringLiteral("userpicture")));
        MonRes[i].Usertext = rs.str(QStringLiteral("Usertext"));
    }
}

namespace testing {
void setRestoreStepHook(std::function<void(const QString&)> hook) { g_restoreStep = std::move(hook); }
}  // namespace testing

}  // namespace ModSwitch
