#include "admin/Restore.h"

#include "admin/Sites.h"
#include "billing/ArchiveBills.h"
#include "core/ChargeLog.h"
#include "core/CopyRecovery.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/SafetyCopies.h"
#include "core/Settings.h"
#include "core/WriteAhead.h"
#include "platform/Db.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTextStream>
#include <atomic>
#include <optional>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace admin {

namespace {

// The steps go to the one hook of the restore roads.
void hook(const QString& point) { ModSwitch::RestoreStep(point); }

QString withSlash(const QString& dir) { return dir.endsWith('/') ? dir : dir + '/'; }

// A stale rollback journal beside a file would be played back into the new
// file when it is next opened: it goes before the file is replaced.
void removeJournalOf(const QString& target) {
    QFile::remove(target + QStringLiteral("-journal"));
    QFile::remove(target + QStringLiteral("-wal"));
    QFile::remove(target + QStringLiteral("-shm"));
}

// `synced`: false for a copy synced later (a year file's, once merged).
bool copySynced(const QString& source, const QString& tmp, bool synced = true) {
    removeJournalOf(tmp);
    QFile::remove(tmp);
    // A copy the disk refuses (full, read-only) is told by its cause.
    if (!platform::copyFile(source, tmp)) return false;
    QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return !synced || platform::syncFile(tmp);
}

// The temporaries of a restore: the copies, and a journal not yet in place.
QStringList temporariesIn(const QDir& d) {
    // A year file's copy killed inside its merge leaves its rollback journal.
    return d.entryList({QStringLiteral("*") + RestoreTempSuffix(), QStringLiteral("*") + RestoreTempSuffix() + QStringLiteral("-journal"),
                        RestoreJournalName() + QStringLiteral(".new"),
                        QLatin1Char('.') + RestoreJournalName() + QStringLiteral(".new")},
                       QDir::Files | QDir::Hidden);
}

void removeTemporaries(const QString& dataDir) {
    QDir d(dataDir);
    for (const QString& f : temporariesIn(d)) QFile::remove(d.filePath(f));
}

QString noticePath(const QString& dataDir) { return QDir(dataDir).filePath(QStringLiteral("restore.notice")); }

bool isStationFile(const QString& name) { return name.compare(QStringLiteral("Switch.mdb"), Qt::CaseInsensitive) == 0; }
bool isYearFile(const QString& name) {
    return name.startsWith(QStringLiteral("phbill_"), Qt::CaseInsensitive) && name.endsWith(QStringLiteral(".mdb"), Qt::CaseInsensitive);
}

// The line of the box for a year file put back: what the backup gave and
// what the station had archived since, both in the file now.
QString yearFileLine(const QString& name, qint64 brought, qint64 kept) {
    return QStringLiteral("%1：从备份找回%2张现有文件中没有的话单，保留备份之后归档的%3张话单。").arg(name).arg(brought).arg(kept);
}

// Puts the station file restored in `tmp` in place of `target`, brought up to
// the charge log of the call file beside it first. The recovery works on a
// copy and `tmp` stays as the backup had it until the journal goes: a kill
// anywhere in here redoes it from the same file and the same log, and finds
// the same lines for the box. False, with the cause, when the file could not
// be renamed into place: the target is then as it was.
// What a recovery found, added to the notice the operator is told at the
// next opening. Written before the recovered file replaces the station file:
// once it has, the balances it is compared with are gone, and a kill would
// lose the lines with them. A line already kept (a completion done again) is
// kept once.
// The lines live in the call file, which no restore replaces, as the
// restore's report (core/WriteAhead.h, key kRestoreReportKey): one store for
// every recovery's box. A data directory without a call file keeps them in
// "restore.notice" beside it, as stations before did.
struct NoticeUnwritten {
    QString why;   // the file and the cause, for the restore's failure
};
QString callFileOf(const QString& dataDir) { return platform::resolveCI(dataDir, QStringLiteral("PhoneCur.mdb")); }

// The station file's recovery is told by a record of its own, keyed by the
// file it replaced: a completion that recovers the file again against the
// same file replaces the list whole (one restore is one list, the one its
// balances went in with); one that finds the file already put in keeps the
// list that compared it with the file replaced, adding only what is new.
const QString kRecoveryKey = ModSwitch::kRestoreReportKey + QStringLiteral(":station:");

bool isRecoveryKey(const QString& key) { return key.startsWith(kRecoveryKey); }

QStringList keptLines(const platform::Database& db, const std::function<bool(const QString&)>& key, QString* found = nullptr) {
    for (const ModSwitch::WriteAheadRecord& w : ModSwitch::PendingWriteAhead(db, ModSwitch::kReportKind)) {
        if (!key(w.key)) continue;
        if (found) *found = w.key;
        return w.body.text(ModSwitch::kReportText).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return {};
}

// `replaced`: the identity of the station file a recovery compared with, for
// its lines; empty for the restore's other lines.
void keepNotice(const QString& dataDir, const QStringList& lines, const QByteArray& replaced = QByteArray()) {
    QByteArray text;
    QStringList all;
    QString key = ModSwitch::kRestoreReportKey;
    const QString callFile = callFileOf(dataDir);
    std::optional<platform::Database> db;
    if (QFileInfo(callFile).isFile()) {
        try {
            db = platform::Database::open(callFile);
            if (replaced.isEmpty()) {
                all = keptLines(*db, [](const QString& k) { return k == ModSwitch::kRestoreReportKey; });
            } else {
                key = kRecoveryKey + QString::fromLatin1(replaced.toHex());
                QString former;
                const QStringList kept = keptLines(*db, isRecoveryKey, &former);
                if (!former.isEmpty() && former != key) {
                    all = kept;
                    key = former;
                }
            }
        } catch (const platform::DbError& e) {
            throw NoticeUnwritten{QFileInfo(callFile).fileName() + QStringLiteral("（") + platform::troubleCause(e) + QStringLiteral("）")};
        }
    } else if (platform::readFileStrictly(noticePath(dataDir), &text) == platform::ReadState::Read) {
        all = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // A line may hold a group of lines (a heading and its users): what is
    // compared is the lines as the notice reads them back, the whole group at once.
    for (const QString& group : lines) {
        const QStringList parts = group.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        bool kept = false;
        for (qsizetype i = 0; !kept && !parts.isEmpty() && i + parts.size() <= all.size(); ++i)
            kept = all.mid(i, parts.size()) == parts;
        if (!kept) all += parts;
    }
    if (db) {
        try {
            ModSwitch::WriteAhead(*db, ModSwitch::kReportKind, key,
                                 ModSwitch::WriteAheadBody().set(ModSwitch::kReportText, all.join(QLatin1Char('\n'))));
        } catch (const platform::DbError& e) {
            throw NoticeUnwritten{QFileInfo(callFile).fileName() + QStringLiteral("（") + platform::troubleCause(e) + QStringLiteral("）")};
        }
        return;
    }
    if (!platform::writeFileDurably(noticePath(dataDir), all.join(QLatin1Char('\n')).toUtf8()))
        throw NoticeUnwritten{QStringLiteral("restore.notice（") + platform::lastFileError() + QStringLiteral("）")};
}

// The sites are facts of the root's books: a site the root's station file
// `target` lists whose directory is there (made since the backup, or listed
// under another number there) keeps its row in the file put back (`work`),
// under its number, or the next one free where the backup gives that number
// to another site. Every field the two tables share comes with it.
void keepSites(const QString& work, const QString& target) {
    if (!platform::sameFile(target, RootStationFile())) return;
    try {
        const platform::Database now = platform::Database::openReadOnly(target);
        const QString theirs = now.actualTableName(QStringLiteral("Terminal"));
        platform::Database db = platform::Database::open(work);
        const QString mine = db.actualTableName(QStringLiteral("Terminal"));
        if (theirs.isEmpty() || mine.isEmpty()) return;
        QStringList have;
        for (const platform::ColumnInfo& c : now.columns(theirs)) have << c.name.toLower();
        QStringList cols;
        int id = -1;
        for (const platform::ColumnInfo& c : db.columns(mine)) {
            if (!have.contains(c.name.toLower())) continue;
            if (c.name.compare(QStringLiteral("pointid"), Qt::CaseInsensitive) == 0) id = int(cols.size());
            cols << platform::quoteIdent(c.name);
        }
        if (id < 0 || !have.contains(QStringLiteral("pointname"))) return;
        platform::Transaction tx(db);
        const QString table = db.qualified(mine);
        for (platform::RowReader r = now.rows(QStringLiteral("SELECT %1 FROM %2").arg(cols.join(QLatin1Char(',')), now.qualified(theirs)));
             r.next();) {
            platform::Params values;
            QString name;
            for (int i = 0; i < r.fieldCount(); ++i) {
                if (r.fieldName(i).compare(QStringLiteral("pointname"), Qt::CaseInsensitive) == 0) name = r.text(i);
                switch (r.kind(i)) {
                case platform::RawRecords::Integer: values << platform::Param(QVariant::fromValue<qlonglong>(r.integer(i))); break;
                case platform::RawRecords::Float: values << platform::Param(r.real(i)); break;
                case platform::RawRecords::Null: values << platform::Param(QVariant()); break;
                default: values << platform::Param(r.text(i));
                }
            }
            if (!IsSiteRow(name) ||
                !db.scalar(QStringLiteral("SELECT 1 FROM %1 WHERE lower(pointname)=lower(?)").arg(table), {name}).isNull())
                continue;
            if (!db.scalar(QStringLiteral("SELECT 1 FROM %1 WHERE pointid=?").arg(table), {values[id].v}).isNull())
                values[id] = platform::Param(db.scalar(QStringLiteral("SELECT coalesce(max(pointid), 0) + 1 FROM %1").arg(table)));
            QStringList marks;
            for (qsizetype i = 0; i < cols.size(); ++i) marks << QStringLiteral("?");
            db.execute(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                       values);
        }
        tx.commit();
    } catch (const platform::DbError&) {
        // The file replaced does not read: its sites stay listed where the backup lists them.
    }
}

bool putBackStationFile(const QString& tmp, const QString& target, const QString& dataDir, QString* why) {
    // An empty write-ahead log (made by any opening) holds nothing of the
    // file: it is the same file as with none.
    const QString wal = target + QStringLiteral("-wal");
    const QByteArray replacedIdentity =
        platform::fileIdentity(target) + '/' + (QFileInfo(wal).size() > 0 ? platform::fileIdentity(wal) : QByteArray());
    try {
        return ModSwitch::PutBack(tmp, target, target + QStringLiteral(".recovering"), [&](const QString& work) {
            keepSites(work, target);
            try {
                keepNotice(dataDir,
                           ModSwitch::RecoverRestoredStationFile(
                               work, platform::resolveCI(dataDir, QStringLiteral("PhoneCur.mdb")), target),
                           replacedIdentity);
                // Boxes the backup kept unread belong to its time, not to this station now.
                try {
                    ModSwitch::DropReports(platform::Database::open(work));
                } catch (const platform::DbError&) {
                }
                return true;
            } catch (const platform::DbError& e) {
                // The backup goes in as it is; the opening applies the calls logged past its mark.
                keepNotice(dataDir, {QStringLiteral("备份之后的话费未能重新计入（%1），请核对用户余额。").arg(platform::OperatorText(e))},
                           replacedIdentity);
                return false;
            }
        }, why);
    } catch (const NoticeUnwritten& n) {
        // Nothing is replaced: the journal stays and the next opening tries again.
        ModSwitch::RemoveWorkFile(target + QStringLiteral(".recovering"));
        if (why) *why = n.why;
        return false;
    }
}

// The state of the station's year file `path` (and of its write-ahead log)
// when the backup's copy was merged with it: a file in the same state holds
// no call the copy lacks.
QString yearFileState(const QString& path) {
    return QString::fromLatin1((platform::fileIdentity(path) + '/' + platform::fileIdentity(path + QStringLiteral("-wal"))).toHex());
}

// A year file that held every call of the backup when the restore was
// decided stays as it is (calls archived into it since only add to them):
// only its line is told (one that gave and kept nothing has none). False,
// with the cause, when the line cannot be kept.
bool keepYearFile(const QString& dataDir, const QStringList& journalLine, QString* why) {
    if (journalLine.size() >= 4 && (journalLine[2].toLongLong() != 0 || journalLine[3].toLongLong() != 0)) {
        try {
            keepNotice(dataDir, {yearFileLine(journalLine[1], journalLine[2].toLongLong(), journalLine[3].toLongLong())});
        } catch (const NoticeUnwritten& n) {
            if (why) *why = n.why;
            return false;
        }
    }
    hook(QStringLiteral("recovered"));
    return true;
}

// Puts the year file restored in `tmp` in place of `target`. The backup's
// copy was merged with the station's file before the restore was decided; it
// is merged again here only when the station's file changed since (calls
// archived into it while the journal waited), so no call archived since the
// backup is lost with the file it replaces. The box's line, counted when the
// restore was decided and kept in the journal, is the same however often a
// kill makes this run again. False, with the cause, when the file could not
// be put in: the target is then as it was.
bool putBackYearFile(const QString& tmp, const QString& target, const QString& dataDir, const QStringList& journalLine,
                     QString* why) {
    // Merged once: again only when the station's file changed since.
    if (journalLine.size() < 5 || journalLine[4] != yearFileState(target)) {
        try {
            billing::MergeArchive(tmp, target);
        } catch (const platform::DbError& e) {
            if (why) *why = QStringLiteral("现有话单未能并入备份：") + platform::troubleCause(e);
            return false;
        }
    }
    if (!keepYearFile(dataDir, journalLine, why)) return false;
    removeJournalOf(target);
    // A refused rename is told by its cause, as for any other file.
    return platform::renameFile(tmp, target);
}

// Gives the station's year file `target` what the backup's differs in, from
// the patch `tmp` made when the restore was decided (billing::
// PrepareYearFilePatch): the file stays, and the patch goes with the journal.
// The patch notes in the same commit that it is done, so a kill anywhere
// here redoes it once or not at all, and the box's line is the one counted
// when the restore was decided. False, with the cause, when the station's
// file could not take it: it is then as it was.
bool patchYearFile(const QString& tmp, const QString& target, const QString& dataDir, const QStringList& journalLine,
                   QString* why) {
    try {
        billing::ApplyYearFilePatch(target, tmp, [] { hook(QStringLiteral("patched")); });
    } catch (const platform::DbError& e) {
        if (why) *why = QStringLiteral("现有话单未能并入备份：") + platform::troubleCause(e);
        return false;
    }
    return keepYearFile(dataDir, journalLine, why);
}

QString refusal(const QString& folder) {
    return QStringLiteral("%1中的备份属于另一个话务台或站点，未恢复任何文件").arg(QDir::toNativeSeparators(withSlash(folder)));
}

// The name a site's call file kept when the site was told apart from the
// root it was copied from; "" for the root, a site made with its own, or a
// file that does not read.
QString formerNameOf(const QString& calls) {
    try {
        const platform::Database cur = platform::Database::openReadOnly(calls);
        if (!cur.actualTableName(QStringLiteral("tab_notes")).isEmpty())
            return ModSwitch::GetVariant(cur, ModSwitch::kFormerStationId, QString(), QStringLiteral("tab_notes"));
    } catch (const platform::DbError&) {
    }
    return QString();
}

bool within(const QString& path, const QString& dir) {
    const QString p = QFileInfo(path).canonicalFilePath(), d = QFileInfo(dir).canonicalFilePath();
    return !p.isEmpty() && !d.isEmpty() && (p == d || p.startsWith(d + QLatin1Char('/')));
}

// A backup carrying the root's name `name`, restored into the root while a
// site shares that name (an older release copied the root's files, name and
// all, into every site it made; told apart since, the site keeps it as its
// former name): it may be that site's. It is placed by the site it came
// from: by its contents where one journal alone places it (the root's or
// such a site's), else by its folder (within a site's directory, or the
// root's own); where neither tells, it is refused. "" when it is the root's.
QString sharedNameBackup(const QString& folder, const QString& backup, const QString& calls, const QString& name) {
    QStringList sharing;
    const QDir root(RootDataDir());
    for (const QString& site : SiteDirectoriesFound()) {
        const QString siteCalls = platform::resolveCI(root.filePath(site), QStringLiteral("PhoneCur.mdb"));
        if (ModSwitch::StationIdOf(siteCalls) == name || formerNameOf(siteCalls) == name) sharing << site;
    }
    if (sharing.isEmpty()) return QString();
    QStringList placed;
    for (const QString& site : std::as_const(sharing))
        if (ModSwitch::PlacedInJournal(backup, platform::resolveCI(root.filePath(site), QStringLiteral("PhoneCur.mdb"))))
            placed << site;
    const bool ours = ModSwitch::PlacedInJournal(backup, calls);
    const auto siteOf = [&](const QString& site) {
        return QStringLiteral("%1中的备份是站点%2的备份（由旧版本建立），未恢复任何文件").arg(QDir::toNativeSeparators(withSlash(folder)), site);
    };
    if (ours && placed.isEmpty()) return QString();
    if (!ours && placed.size() == 1) return siteOf(placed.first());
    for (const QString& site : std::as_const(sharing))
        if (within(folder, root.filePath(site))) return siteOf(site);
    if (within(folder, RootDataDir())) return QString();
    return QStringLiteral("%1中的备份由旧版本建立，无法确定属于本站点还是站点%2，未恢复任何文件")
        .arg(QDir::toNativeSeparators(withSlash(folder)), sharing.join(QStringLiteral("、")));
}

// Why the backup in `folder` is not this station's (or site's), "" when it
// is or cannot be told: its station file carries another name than the files
// of `dataDir`. A damaged call file may read another note's value for it:
// its safety copy has the last word. A site told apart from the root keeps
// the root's name as its former one: a backup with that name is the site's
// only where the site's journal places it, and the root's only where it is
// not a site's (sharedNameBackup).
QString otherStationsBackup(const QString& folder, const QString& dataDir) {
    const QString backup = platform::resolveCI(withSlash(folder), QStringLiteral("Switch.mdb"));
    const QString theirs = ModSwitch::StationIdOf(backup);
    if (theirs.isEmpty()) return QString();
    const QString calls = platform::resolveCI(withSlash(dataDir), QStringLiteral("PhoneCur.mdb"));
    QString mine = ModSwitch::StationIdOf(calls);
    if (mine.isEmpty()) mine = ModSwitch::StationIdOf(platform::resolveCI(withSlash(dataDir), QStringLiteral("switch.mdb")));
    if (mine == theirs && platform::sameFile(withSlash(dataDir), RootDataDir()))
        return sharedNameBackup(folder, backup, calls, mine);
    if (mine.isEmpty() || mine == theirs) return QString();
    const QString former = formerNameOf(calls);
    if (former == theirs) return ModSwitch::PlacedInJournal(backup, calls) ? QString() : refusal(folder);
    if (ModSwitch::StationIdOf(platform::resolvePathCI(calls + QStringLiteral(".bak"))) == theirs) return QString();
    return refusal(folder);
}

}  // namespace

QString RestoreJournalName() { return QStringLiteral("restore.journal"); }
QString RestoreTempSuffix() { return QStringLiteral(".restoring"); }

QList<RestorePair> RestorePairs(const QString& folder, const QString& dataDir, bool withSwitch, bool withArchives) {
    QList<RestorePair> pairs;
    const QString from = withSlash(folder), to = withSlash(dataDir);
    if (withSwitch) {
        const QString src = platform::resolveCI(from, QStringLiteral("Switch.mdb"));
        if (QFileInfo(src).isFile()) pairs.append({src, platform::resolveCI(to, QStringLiteral("Switch.mdb"))});
    }
    if (withArchives) {
        // QDir's name filters ignore letter case unless told otherwise.
        const QStringList names = QDir(from).entryList({QStringLiteral("phbill_*.mdb")}, QDir::Files, QDir::Name);
        for (const QString& f : names) pairs.append({from + f, platform::resolveCI(to, f)});
    }
    return pairs;
}

QString CheckRestoreSource(const QString& path, bool stationDb) {
    // A connection of its own, read-only: the backup folder is never written,
    // and the check may run on any thread.
    try {
        const platform::Database db = platform::Database::openSnapshot(path);
        QStringList rows;
        auto each = [&](const QString& sql) {
            rows.clear();
            for (platform::RowReader r = db.rows(sql); r.next();) rows << r.text(0);
        };
        try {
            each(QStringLiteral("PRAGMA quick_check"));
        } catch (const platform::DbError&) {
            return QStringLiteral("quick_check");
        }
        if (rows != QStringList{QStringLiteral("ok")}) return QStringLiteral("quick_check");
        if (stationDb) {
            each(QStringLiteral("SELECT lower(name) FROM sqlite_master WHERE type='table'"));
            for (const char* t : {"variant", "moncard", "user", "worker"})
                if (!rows.contains(QString::fromLatin1(t))) return QString::fromLatin1(t);
        }
        return QString();
    } catch (const platform::DbError& e) {
        return platform::OperatorText(e);
    }
}

QStringList CheckRestoreSources(const QList<RestorePair>& pairs, const std::function<void()>& idle) {
    QStringList why;
    for (int i = 0; i < pairs.size(); ++i) why << QString();
    std::atomic<int> left{int(pairs.size())};
    std::vector<std::thread> checks;
    // Every check ends before this returns, even when the idle work throws.
    struct Join {
        std::vector<std::thread>& t;
        ~Join() {
            for (auto& x : t) x.join();
        }
    } join{checks};
    for (int i = 0; i < pairs.size(); ++i) {
        const bool station =
            QFileInfo(pairs[i].target).fileName().compare(QStringLiteral("Switch.mdb"), Qt::CaseInsensitive) == 0;
        const QString source = pairs[i].source;
        checks.emplace_back([&why, &left, i, source, station] {
            why[i] = CheckRestoreSource(source, station);
            --left;
        });
    }
    while (left > 0) {
        if (idle) idle();
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return why;
}

namespace {

// One restore up to its journal: the temporaries it made, and what it decided
// for each year file.
struct Replacing {
    const QList<RestorePair>& pairs;
    QString dataDir;
    QString* failed;
    QStringList temps;
    QHash<QString, billing::ArchiveMerge> merged;
    QHash<QString, QString> mergedWith;
    QSet<QString> stays, patched;

    // Nothing of the restore stays: the temporaries go, the file is named.
    bool giveUp(const QString& file, QString cause = QString()) {
        if (cause.isEmpty()) cause = platform::lastFileError();
        for (const QString& t : std::as_const(temps)) {
            QFile::remove(t);
            QFile::remove(t + QStringLiteral("-journal"));
        }
        QFile::remove(QDir(dataDir).filePath(RestoreJournalName() + QStringLiteral(".new")));
        platform::syncDir(dataDir);
        if (failed) *failed = QFileInfo(file).fileName() + (cause.isEmpty() ? QString() : QStringLiteral("（%1）").arg(cause));
        return false;
    }

    // A year file of the station that holds every call of the backup's as
    // the backup has it is what the merge would give: it stays, and the
    // backup's is not copied (the usual backup, older than the station's
    // file, which the archive has only appended to since). A big one that
    // differs from the backup's in a few pages (calls deleted or changed
    // since the backup) stays too, and is given what the backup's differs in
    // at the completion: a patch that costs as much as the difference, where
    // copying the backup's file costs the whole file. Both are told from one
    // comparison of the two files' pages where the patch can be made.
    bool decideYearFiles() {
        for (const RestorePair& p : pairs) {
            if (!isYearFile(QFileInfo(p.target).fileName())) continue;
            const QString tmp = p.target + RestoreTempSuffix();
            billing::ArchiveMerge found;
            bool holds = false;
            // Neither made nor held: the merge decides, and says why it cannot.
            const bool made = billing::PrepareYearFilePatch(p.target, p.source, tmp, &found, &holds);
            if (made && !holds) {
                temps << tmp;
                if (!platform::syncFile(tmp)) return giveUp(p.source);
                patched.insert(p.target);
            } else {
                QFile::remove(tmp);
                if (!made && !billing::YearFileHolds(p.target, p.source, &found)) continue;
                stays.insert(p.target);
            }
            merged.insert(p.target, found);
            mergedWith.insert(p.target, yearFileState(p.target));
        }
        return true;
    }

    bool copyAndMerge() {
        for (const RestorePair& p : pairs) {
            if (stays.contains(p.target) || patched.contains(p.target)) continue;
            const QString tmp = p.target + RestoreTempSuffix();
            temps << tmp;
            if (!copySynced(p.source, tmp, !isYearFile(QFileInfo(p.target).fileName()))) return giveUp(p.source);
        }
        // A year file of the backup goes in holding the calls the station
        // archived since, as well as its own; one that cannot be merged is not
        // restored at all: putting it in would remove answered calls.
        for (const RestorePair& p : pairs) {
            if (!isYearFile(QFileInfo(p.target).fileName()) || stays.contains(p.target) || patched.contains(p.target)) continue;
            try {
                merged.insert(p.target, billing::MergeArchive(p.target + RestoreTempSuffix(), p.target, true));
                mergedWith.insert(p.target, yearFileState(p.target));
                if (!platform::syncFile(p.target + RestoreTempSuffix())) return giveUp(p.source);
            } catch (const platform::DbError& e) {
                return giveUp(p.source, QStringLiteral("现有话单未能并入备份：%1；恢复它会丢失备份之后归档的话单，未恢复任何文件")
                                            .arg(platform::troubleCause(e)));
            }
        }
        return true;
    }

    // The journal becomes visible whole or not at all: written beside, synced, renamed.
    bool writeJournal() {
        const QString journal = QDir(dataDir).filePath(RestoreJournalName());
        QByteArray text;
        for (const RestorePair& p : pairs) {
            // A year file that stays is named twice: nothing is put in its place.
            QString line = QFileInfo(p.target).fileName() + (stays.contains(p.target) ? QString() : RestoreTempSuffix()) +
                           QLatin1Char('\t') + QFileInfo(p.target).fileName();
            // A year file's counts for the box, fixed once the restore is decided.
            if (merged.contains(p.target))
                line += QStringLiteral("\t%1\t%2\t%3").arg(merged[p.target].brought).arg(merged[p.target].kept).arg(mergedWith[p.target]);
            // A year file given the backup's differences in place: the file
            // named first is its patch, applied by the completion, not renamed.
            if (patched.contains(p.target)) line += QStringLiteral("\tpatch");
            text += (line + QLatin1Char('\n')).toUtf8();
        }
        return platform::writeFileDurably(journal, text) || giveUp(journal);
    }
};

}  // namespace

bool ReplaceFiles(const QList<RestorePair>& pairs, QString* failed, QStringList* putIn) {
    if (pairs.isEmpty()) return true;
    platform::clearFileError();
    Replacing r{pairs, QFileInfo(pairs.first().target).absolutePath(), failed, {}, {}, {}, {}, {}};
    // A backup of another station or site puts nothing in, its year files
    // neither: their calls would be billed to this station's users.
    const QString folder = QFileInfo(pairs.first().source).absolutePath();
    const QString foreign = otherStationsBackup(folder, r.dataDir);
    if (!foreign.isEmpty()) return r.giveUp(platform::resolveCI(withSlash(folder), QStringLiteral("Switch.mdb")), foreign);
    if (!r.decideYearFiles() || !r.copyAndMerge()) return false;
    if (!platform::syncDir(r.dataDir)) return r.giveUp(pairs.first().source);
    hook(QStringLiteral("copied"));
    if (!r.writeJournal()) return false;
    hook(QStringLiteral("marked"));
    // From here on the restore is decided: what follows is redone at the next opening if it stops.
    QString notPut;
    CompleteRestore(r.dataDir, &notPut, putIn);
    if (!notPut.isEmpty()) {
        if (failed) *failed = notPut;
        return false;
    }
    return true;
}

bool CompleteRestore(const QString& dataDir, QString* failed, QStringList* putIn) {
    QDir d(dataDir);
    const QString journal = d.filePath(RestoreJournalName());
    bool found = false;
    QByteArray text;
    const platform::ReadState state = platform::readFileStrictly(journal, &text);
    if (state == platform::ReadState::Unreadable) {
        // A journal that cannot be read may name files already renamed: the
        // restore's temporaries stay with it until it can be.
        if (failed) *failed = RestoreJournalName() + QStringLiteral("（无法读取）");
        return true;
    }
    if (state == platform::ReadState::Read) {
        found = true;
        const QStringList lines = QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
        int n = 0;
        for (const QString& line : lines) {
            const QStringList parts = line.split('\t');
            if (parts.size() < 2) continue;
            const QString tmp = d.filePath(parts[0]), target = d.filePath(parts[1]);
            // The safety copy the start-up keeps of a file describes the file
            // replaced: compared with the restored one it would take that for
            // damaged and put the replaced file back. It goes once the
            // restored file is in place, and before the journal: a kill
            // between leaves the journal, whose completion removes it then.
            // Until then it is the file's copy, and stays if the file does.
            const QString bak = platform::resolveCI(dataDir, parts[1] + QStringLiteral(".bak"));
            auto forgetCopy = [&] {
                bool gone = QFile::remove(bak);
                QFile::remove(bak + QStringLiteral("-journal"));
                gone = QFile::remove(bak + QStringLiteral(".checked")) || gone;
                if (gone) platform::syncDir(dataDir);
            };
            // A year file that holds every call of the backup stays as it is
            // (calls archived into it since only add to them): only its line is told.
            const bool stays = parts[0] == parts[1] && isYearFile(parts[1]);
            const bool patch = !stays && parts.size() >= 6 && parts[5] == QStringLiteral("patch") && isYearFile(parts[1]);
            // A temporary already renamed by an earlier, interrupted completion is simply gone.
            if (!stays && !QFileInfo::exists(tmp)) {
                forgetCopy();
                continue;
            }
            QString why, yearWhy;
            bool renamed = false;
            if (stays) {
                renamed = keepYearFile(dataDir, parts, &yearWhy);
            } else if (patch) {
                renamed = patchYearFile(tmp, target, dataDir, parts, &yearWhy);
            } else if (isStationFile(parts[1])) {
                renamed = putBackStationFile(tmp, target, dataDir, &why);
            } else if (isYearFile(parts[1])) {
                renamed = putBackYearFile(tmp, target, dataDir, parts, &yearWhy);
            } else {
                removeJournalOf(target);
                renamed = platform::renameFile(tmp, target, &why);
            }
            if (!renamed) {
                if (failed) {
                    // The cause the put-back found, else the file layer's.
                    const QString cause = !yearWhy.isEmpty() ? yearWhy : !why.isEmpty() ? why : platform::lastFileError();
                    *failed = parts[1] + (cause.isEmpty() ? QString() : QStringLiteral("（") + cause + QStringLiteral("）"));
                    // Asked from the window with nothing replaced yet: the
                    // restore is given up whole, every file as it was.
                    if (n == 0) {
                        // What the notice was told for files now not put in goes with them.
                        ForgetRestoreNotice(dataDir);
                        QFile::remove(journal);
                        QFile::remove(target + QStringLiteral(".recovering"));
                        removeTemporaries(dataDir);
                        platform::syncDir(dataDir);
                    }
                }
                // Otherwise the journal stays: the files it names are put in
                // place at the next opening, and nothing is told as restored now.
                return true;
            }
            if (stays) {
                // Its steps are told as any year file's: a kill after them finds the line kept once.
                hook(QStringLiteral("renamed"));
                continue;
            }
            platform::syncDir(dataDir);
            forgetCopy();
            ++n;
            if (putIn) *putIn << parts[1];
            hook(QStringLiteral("renamed"));
        }
        QFile::remove(journal);
        platform::syncDir(dataDir);
    }
    const QStringList left = temporariesIn(d);
    if (!left.isEmpty()) {
        found = true;
        removeTemporaries(dataDir);
        platform::syncDir(dataDir);
    }
    return found;
}

bool RestoreNotice(const QString& dataDir, QStringList* lines) {
    QByteArray text;
    bool found = false;
    QStringList all;
    // A notice an older station left beside the files, then the call file's.
    switch (platform::readFileStrictly(noticePath(dataDir), &text)) {
    case platform::ReadState::Missing: break;
    case platform::ReadState::Unreadable:
        // Kept but unreadable: the operator hears that there was something to tell.
        all << QStringLiteral("恢复时记下的说明文件restore.notice无法读取，请核对用户余额。");
        found = true;
        break;
    case platform::ReadState::Read:
        all << QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        found = true;
        break;
    }
    const QString callFile = callFileOf(dataDir);
    if (QFileInfo(callFile).isFile()) {
        try {
            const platform::Database db = platform::Database::openReadOnly(callFile);
            for (const ModSwitch::WriteAheadRecord& w : ModSwitch::PendingWriteAhead(db, ModSwitch::kReportKind)) {
                if (w.key != ModSwitch::kRestoreReportKey && !isRecoveryKey(w.key)) continue;
                found = true;
                all << w.body.text(ModSwitch::kReportText).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            }
        } catch (const platform::DbError&) {
            // Read again at the next opening.
        }
    }
    if (lines) *lines = all;
    return found;
}

void ForgetRestoreNotice(const QString& dataDir) {
    if (QFile::remove(noticePath(dataDir))) platform::syncDir(dataDir);
    const QString callFile = callFileOf(dataDir);
    if (!QFileInfo(callFile).isFile()) return;
    try {
        const platform::Database db = platform::Database::open(callFile);
        ModSwitch::SettleWriteAhead(db, ModSwitch::kReportKind, ModSwitch::kRestoreReportKey);
        for (const ModSwitch::WriteAheadRecord& w : ModSwitch::PendingWriteAhead(db, ModSwitch::kReportKind))
            if (isRecoveryKey(w.key)) ModSwitch::SettleWriteAhead(db, ModSwitch::kReportKind, w.key);
    } catch (const platform::DbError&) {
        // Told again at the next opening rather than never.
    }
}

bool TellRestore(const QString& dataDir, bool always) {
    QStringList lines;
    if (!RestoreNotice(dataDir, &lines) && !always) return false;
    core::Notify(QStringLiteral("数据恢复成功") + (lines.isEmpty() ? QString() : QLatin1Char('\n') + lines.join(QLatin1Char('\n'))),
                 platform::mbOKOnly, AppName);
    ForgetRestoreNotice(dataDir);
    return true;
}

bool RenewSafetyCopy(const platform::Database& db) {
    // The start-up's one writer of safety copies: the copy of the open file is checked in full.
    return ModSwitch::WriteSafetyCopy(db.path(), false, nullptr, &db);
}

namespace testing {
void setRestoreHook(std::function<void(const QString&)> h) { ModSwitch::testing::setRestoreStepHook(std::move(h)); }
}  // namespace testing

}  // namespace admin
