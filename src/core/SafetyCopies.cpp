#include "core/SafetyCopies.h"

#include "core/ChargeLog.h"
#include "core/Console.h"
#include "core/CopyRecovery.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace ModSwitch {

using platform::Database;
using platform::DbError;

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
        // The journal's copy is made when first needed: a file without it is no other structure.
        if (t.compare(kLedgerMirror, Qt::CaseInsensitive) == 0 || t.compare(kCallMirror, Qt::CaseInsensitive) == 0) continue;
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

}  // namespace

void CompactDB(const QString& fileName) {
    QString failure;
    if (TryCompactDB(fileName, &failure, nullptr)) return;
    platform::MsgBox(QStringLiteral("恢复数据库失败!"), platform::mbOKOnly, QStringLiteral("警告"));
    core::CloseApp();
}

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
                SetVariant(cur, kCopyGeneration, QString::number(next));
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
            why = platform::OperatorText(e);
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

}  // namespace ModSwitch
