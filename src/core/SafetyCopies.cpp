#include "core/SafetyCopies.h"

#include "core/ChargeLog.h"
#include "core/CopyRecovery.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/MsgCodes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace ModSwitch {

using platform::Database;
using platform::DbError;

namespace {
constexpr qint64 kStationPageSize = 4096;


using platform::quoteIdent;
using platform::sameFile;

// True when the station itself has `path` open: it must not be replaced under it.
bool openByStation(const QString& path) {
    return (dbSwitch.isOpen() && sameFile(dbSwitch.path(), path)) ||
           (dbPhoneCur.isOpen() && sameFile(dbPhoneCur.path(), path));
}

// How a copy's structure stands to its file's.
enum class Shape { Same, CopyOlder, Differs };

// The copy `bak` against the file `cur`: every table of the copy (but the
// shadow tables) must be in the file with as many fields; the tables keyed by
// port or route address must also hold as many rows. A copy whose tables all
// stand in the file with some of its fields only was taken before an upgrade
// added the rest: older, not a sign that the file is damaged.
Shape CompareStructure(const Database& bak, const Database& cur) {
    bool older = false;
    for (const QString& t : bak.tableNames()) {
        if (t.startsWith(QLatin1Char('p'))) continue;
        // The journal's copy and the rows of users added are made when first
        // needed: a file without them (put back from before) is no other structure.
        if (t.compare(kLedgerMirror, Qt::CaseInsensitive) == 0 || t.compare(kCallMirror, Qt::CaseInsensitive) == 0 ||
            t.compare(kUserRows, Qt::CaseInsensitive) == 0)
            continue;
        const QString actual = cur.actualTableName(t);
        if (actual.isEmpty()) return Shape::Differs;
        if (t.startsWith(QStringLiteral("MSy"))) continue;
        const QList<platform::ColumnInfo> bc = bak.columns(t);
        const QList<platform::ColumnInfo> cc = cur.columns(actual);
        if (bc.size() != cc.size()) {
            if (bc.size() > cc.size()) return Shape::Differs;
            for (const platform::ColumnInfo& c : bc) {
                bool found = false;
                for (const platform::ColumnInfo& d : cc) found = found || d.name.compare(c.name, Qt::CaseInsensitive) == 0;
                if (!found) return Shape::Differs;
            }
            older = true;
        }
        if (!cc.isEmpty() && (cc[0].name.compare(QStringLiteral("Router"), Qt::CaseInsensitive) == 0 ||
                              cc[0].name.compare(QStringLiteral("Address"), Qt::CaseInsensitive) == 0)) {
            if (bak.rowCount(t) != cur.rowCount(actual)) return Shape::Differs;
        }
    }
    return older ? Shape::CopyOlder : Shape::Same;
}

QString MissingTable(const Database& db, const QString& file) {
    for (const QString& t : StationTables(file))
        if (!db.hasTable(t)) return t;
    return {};
}

// A copy that passes the full check and holds the station's tables. A copy that
// cannot be read for another reason than damage (a full disk, a lock, no
// permission) is not known to be bad: its cause goes to `trouble`.
bool SoundCopy(const QString& bak, QString* trouble = nullptr) {
    if (!QFileInfo(bak).isFile()) return false;
    try {
        // The full check: a copy put back must not carry damage the quick one misses.
        Database b = Database::openSnapshot(bak);
        const bool ok = b.integrityCheck() && MissingTable(b, bak.chopped(4)).isEmpty();
        b.close();
        return ok;
    } catch (const DbError& e) {
        if (trouble && !platform::meansDamage(e)) *trouble = platform::troubleCause(e);
        return false;
    }
}

// What the start-up found a file to be.
enum class Found { Sound, Damaged, Trouble, Locked };

QString troubleText(const QString& name, const QString& cause) {
    return QStringLiteral("数据库文件%1无法检查（%2），文件未作任何改动，请排除故障后重新启动。").arg(name, cause);
}

bool g_trouble = false;   // the last failure of TryCompactDB was trouble, not damage

}  // namespace

void CompactDB(const QString& fileName) {
    QString failure;
    if (TryCompactDB(fileName, &failure, nullptr)) return;
    // Trouble is told by its cause; only damage without a sound copy is the restore's failure.
    core::Notify(g_trouble ? failure : QStringLiteral("恢复数据库失败!"), platform::mbOKOnly, QStringLiteral("警告"));
    core::EndStation();
}

bool TryCompactDB(const QString& fileName, QString* failure, QString* notice) {
    g_trouble = false;
    QString f = platform::resolveCI(DataPath, fileName);
    const QString b = platform::resolveCI(DataPath, QFileInfo(f).fileName() + QStringLiteral(".bak"));
    const QString tmp = platform::resolveCI(DataPath, QStringLiteral("Tmp.mdb"));
    const QString name = QFileInfo(f).fileName();
    if (openByStation(f)) return true;
    auto troubled = [&](const QString& cause) {
        g_trouble = true;
        if (failure) *failure = troubleText(name, cause);
        return false;
    };

    {
        // A restore a power cut interrupted is completed first, from the copy it began with.
        const QString markFile = platform::resolveCI(DataPath, QFileInfo(f).fileName() + QStringLiteral(".pending-restore"));
        const QString target = markFile.chopped(QStringLiteral(".pending-restore").size());
        PendingRestore p;
        switch (ReadPending(target, &p)) {
        case platform::ReadState::Missing: break;
        case platform::ReadState::Read: {
            QString why;
            if (SoundCopy(b, &why)) return FinishRestore(b, target, p, failure, notice);
            // The mark stays for a start that can read the copy.
            if (!why.isEmpty()) return troubled(why);
            if (failure) *failure = QStringLiteral("恢复数据库失败!");
            return false;
        }
        case platform::ReadState::Unreadable:
            if (!QFileInfo(target).isFile()) {
                // A mark that cannot be read beside a file that is gone: it was
                // moved; the newest file set aside is the one it names.
                QString why;
                if (!SoundCopy(b, &why)) {
                    if (!why.isEmpty()) return troubled(why);
                    if (failure) *failure = QStringLiteral("恢复数据库失败!");
                    return false;
                }
                p = PendingRestore{};
                p.copyTime = QFileInfo(b).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                const QDir d(DataPath);
                QStringList aside = d.entryList({name + QStringLiteral(".damaged-*")}, QDir::Files);
                aside.removeIf([](const QString& n) { return n.endsWith(QStringLiteral("-wal")) || n.endsWith(QStringLiteral("-shm")) ||
                                                             n.endsWith(QStringLiteral("-journal")); });
                std::sort(aside.begin(), aside.end());
                if (!aside.isEmpty()) {
                    p.aside = d.filePath(aside.last());
                    p.existed = true;
                }
                return FinishRestore(b, target, p, failure, notice);
            }
            // Cut short while it was written: nothing was moved yet.
            QFile::remove(markFile);
            break;
        }
    }

    Found found = Found::Sound;
    QString why;
    {
        Database cur;
        try {
            if (!QFileInfo(f).isFile()) {
                found = Found::Damaged;
                why = QStringLiteral("找不到文件 '%1'").arg(f);
            } else {
                cur = Database::open(f);
                if (!cur.integrityCheck()) {
                    found = Found::Damaged;
                    why = QStringLiteral("数据库已损坏 '%1'").arg(f);
                } else if (const QString missing = MissingTable(cur, f); !missing.isEmpty()) {
                    found = Found::Damaged;
                    why = QStringLiteral("数据库缺少表 %1 '%2'").arg(missing, f);
                } else if (SoundCopy(b)) {
                    // A copy that is itself damaged is no measure of the file: it is not compared.
                    Database bak;
                    try {
                        bak = Database::openSnapshot(b);
                    } catch (const DbError&) {
                        bak = Database();
                    }
                    if (bak.isOpen()) {
                        const Shape shape = CompareStructure(bak, cur);
                        bak.close();
                        if (shape == Shape::Differs) {
                            found = Found::Damaged;
                            why = QStringLiteral("数据库结构不符 '%1'").arg(f);
                        }
                        // A copy older than the file's tables is simply taken again below.
                    }
                }
            }
        } catch (const DbError& e) {
            if (e.number() == platform::kErrExclusive) found = Found::Locked;
            else if (platform::meansDamage(e)) found = Found::Damaged;
            else found = Found::Trouble;
            why = found == Found::Damaged ? platform::OperatorText(e) : platform::troubleCause(e);
        }
        if (found != Found::Sound) cur.close();
        // Another program holds the file: leave it for the next start.
        if (found == Found::Locked) return true;
        if (found == Found::Trouble) return troubled(why);

        if (found == Found::Sound) {
            try {
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
                RemoveWorkFile(tmp);
                // Small pages: a record writes the fewest bytes with them, and a
                // file an earlier version compacted with an archive's large
                // pages gets them back at this start.
                cur.vacuumInto(tmp, kStationPageSize);
                cur.close();
                QString error;
                if (!platform::safeReplace(tmp, f, &error)) throw DbError(platform::kErrGeneric, error);
                RemoveWorkFile(tmp);
                // The copy is replaced only by a file that passed the full check above.
                if (!platform::safeReplace(f, b, &error)) throw DbError(platform::kErrGeneric, error);
                return true;
            } catch (const DbError& e) {
                cur.close();
                RemoveWorkFile(tmp);
                // The engine found damage the check did not: the file is damaged.
                if (platform::meansDamage(e)) {
                    found = Found::Damaged;
                    why = platform::OperatorText(e);
                } else {
                    why = platform::troubleCause(e);
                }
            }
        }
    }
    RemoveWorkFile(tmp);
    if (found == Found::Sound) {
        // What to look at follows the cause: the space of the disk, or the
        // rights on the data directory and its files.
        const QString what = why.contains(QStringLiteral("只读")) || why.contains(QStringLiteral("权限"))
                                 ? QStringLiteral("数据目录及其文件的写入权限")
                                 : QStringLiteral("磁盘空间");
        // A sound file stays as it is when only its compaction or its copy
        // failed (a full disk); the copy is older than the file and would lose
        // what was stored since: the operator hears how old it is.
        const QString text =
            QFileInfo(b).isFile()
                ? QStringLiteral("数据库文件%1的安全备份未能更新（%2），现有备份是%3的，请尽快检查%4。")
                      .arg(name, why, QFileInfo(b).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), what)
                : QStringLiteral("数据库文件%1的安全备份未能建立（%2），请尽快检查%3。").arg(name, why, what);
        if (notice) *notice += (notice->isEmpty() ? QString() : QStringLiteral("\n")) + text;
        else core::Notify(text, platform::mbOKOnly, QStringLiteral("警告"));
        return true;
    }
    const bool existed = QFileInfo(f).isFile();
    // A missing file comes back under the name its copy spells it with.
    if (!existed && QFileInfo(b).isFile()) f = b.chopped(4);
    QString copyTrouble;
    if (SoundCopy(b, &copyTrouble)) {
        PendingRestore p;
        p.existed = existed;
        p.copyTime = QFileInfo(b).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (existed) {
            const QString stem = f + QStringLiteral(".damaged-") + platform::Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            p.aside = stem;
            for (int n = 2; QFileInfo::exists(p.aside); ++n) p.aside = stem + QStringLiteral("-%1").arg(n);
        }
        // Nothing is moved before the mark that records it is on the disk.
        QString error;
        if (!WritePending(f, p, &error)) return troubled(error);
        RestoreStep(QStringLiteral("marked"));
        return FinishRestore(b, f, p, failure, notice);
    }
    if (!copyTrouble.isEmpty()) return troubled(copyTrouble);
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
