#include "core/books/JournalFileInternal.h"

#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"
#include "core/books/CopyRecovery.h"
#include "core/books/DbHeader.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/Settings.h"
#include "core/books/StationRecord.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using namespace journalfile;

// "<prefix><name>": the set-aside journal file <name> was read back in whole.
const QString kAsideRead = QStringLiteral("TarvoJournalAsideRead:");
// The work file of a rebuild the call file took for made: put in place at once, or at the next opening.
const QString kJournalRebuilt = QStringLiteral("TarvoJournalRebuilt");

namespace {

// Runs `write`, the call file's part of the journal file's check: a refusal
// in it is the call file's.
template <class Write>
void inCallFile(Write&& write) {
    try {
        write();
    } catch (const RefusedBy&) {
        throw;
    } catch (const DbError& e) {
        throw RefusedBy(e, QFileInfo(dbPhoneCur.path()).fileName());
    }
}

// Names once the entries of the journal file `path` the entry check refuses
// (a text or an amount out of reach where an amount belongs): they are applied
// nowhere. The file notes how far it was checked, so each entry is read once.
void tellRefusedInJournal(const QString& path) {
    const QString checkedKey = QStringLiteral("TarvoEntriesChecked");
    QStringList refused;
    qint64 last = 0, checked = 0;
    {
        const Database j = Database::openReadOnly(path);
        if (j.actualTableName(kChargeLog).isEmpty()) return;
        // How far it was checked: the call file notes it with the report, the
        // journal file (as a station before that note did) after.
        checked = qMax(j.actualTableName(kNotes).isEmpty() ? 0 : GetVariant(j, checkedKey, QString(), kNotes).toLongLong(),
                       GetVariant(dbPhoneCur, checkedKey, QString(), kNotes).toLongLong());
        for (platform::RowReader r = j.rows(QStringLiteral("SELECT %2 FROM %1 WHERE f_seq>? ORDER BY f_seq")
                                                .arg(j.qualified(kChargeLog), kEntryColumns),
                                            {checked});
             r.next();) {
            const QVariantList values = valuesOf(r);
            last = values.value(0).toLongLong();
            if (!EntryOf(values)) refused << garbledLine(values);
        }
    }
    if (last == 0) return;
    // The box is kept in the call file with the note of how far the entries
    // were read: a kill after it tells it at the next opening, never twice.
    const QString key = QStringLiteral("journal-refused:%1-%2").arg(checked + 1).arg(last);
    inCallFile([&] {
        platform::Transaction tx(dbPhoneCur);
        SetVariant(dbPhoneCur, checkedKey, QString::number(last), kNotes);
        if (!refused.isEmpty())
            KeepReport(dbPhoneCur, key,
                       {QStringLiteral("计费记录归档文件%1中以下记账记录已损坏，金额不可信，恢复备份时不会采用，请核对这些用户的余额：\n")
                               .arg(kJournalFile) +
                           refused.join(QLatin1Char('\n')),
                       QStringLiteral("警告"), platform::mbOKOnly});
        tx.commit();
    });
    try {
        Database j = Database::open(path);
        if (j.actualTableName(kNotes).isEmpty())
            j.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)").arg(j.qualified(kNotes)));
        SetVariant(j, checkedKey, QString::number(last), kNotes);
        j.close();
    } catch (const DbError&) {
        // Read again next time: told again rather than never.
    }
    if (!refused.isEmpty()) TellReport(dbPhoneCur, key);
}

// What the journal file `path` is found to be: damaged (`why`: its header
// holds a field the engine refuses, or disagrees with its size; its pages fail
// the check; another station's name), or in trouble (the cause returned: it
// cannot be written, read-only or held by another program), or sound (both
// empty). Its pages are checked only when it changed since they last passed.
const QString kEmptyJournal = QStringLiteral("是空的");

QString judgeJournalFile(const QString& path, QString* why) {
    if (QFileInfo(path + QStringLiteral("-journal")).size() > 0) {
        // A move a kill cut short is rolled back before the file is judged:
        // until then it may hold pages its header does not count.
        try {
            Database::open(path).close();
        } catch (const DbError& e) {
            if (!platform::meansDamage(e)) return platform::troubleCause(e);
        }
    }
    const qint64 size = QFileInfo(path).size();
    if (size > 0) {
        // A file made and killed before its first write is empty, not damaged.
        const QByteArray head = HeadOf(path);
        const QString field = HeaderFault(head);
        if (!field.isEmpty()) {
            *why = QStringLiteral("已损坏（文件头的%1无效）").arg(field);
            return {};
        }
        const qint64 page = PageSizeOf(head);
        // The page count is kept in the header whenever its "valid for" number matches the change counter.
        const bool countKept = head.mid(92, 4) == head.mid(24, 4);
        const qint64 count = qint64(quint8(head[28])) << 24 | quint8(head[29]) << 16 | quint8(head[30]) << 8 | quint8(head[31]);
        if (size % page != 0 || (countKept && count > 0 && count * page != size)) {
            *why = QStringLiteral("已损坏（文件大小与文件头不符）");
            return {};
        }
    }
    try {
        // Opened for writing: a move a kill cut short is rolled back first.
        Database j = Database::open(path);
        if (!journalKnownSound(path) && !j.integrityCheck()) {
            *why = QStringLiteral("已损坏");
            return {};
        }
        const QString theirs = j.actualTableName(kNotes).isEmpty() ? QString() : GetVariant(j, kStationId, QString(), kNotes);
        const QString mine = ReadStationRecord().id;
        if (!theirs.isEmpty() && !mine.isEmpty() && theirs != mine) {
            *why = QStringLiteral("属于另一个话务台");
            return {};
        }
        // Judged by what it must hold, not only by its pages: a file a kill
        // or the file system left empty, or an older copy of it, lost entries.
        if (!JournalFileHoldsWhatWasMoved(j)) {
            const bool empty = j.actualTableName(kChargeLog).isEmpty() ||
                               j.scalar(QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(j.qualified(kChargeLog))).isNull();
            *why = empty ? QString(kEmptyJournal) : QStringLiteral("缺少已移入的记账记录");
            return {};
        }
        // Whether a move could write it: a write made and rolled back (a
        // file the engine opened read-only takes the write lock all the same).
        j.execute(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            j.execute(QStringLiteral("CREATE TABLE tarvo_write_probe (a)"));
        } catch (const DbError&) {
            j.execute(QStringLiteral("ROLLBACK"));
            throw;
        }
        j.execute(QStringLiteral("ROLLBACK"));
    } catch (const DbError& e) {
        if (platform::meansDamage(e)) *why = QStringLiteral("已损坏");
        else return platform::troubleCause(e);
    }
    return {};
}

// The set-aside journal files of this data directory whose entries were not
// yet read back in (each is read at every opening until they are, then
// noted in the call file), oldest first. Another station's are noted and
// never read as this one's.
QStringList asideToRead(const QString& dir) {
    QStringList out;
    const QString mine = ReadStationRecord().id;
    for (const QString& name : QDir(dir).entryList({kJournalFile + QStringLiteral(".damaged-*")}, QDir::Files, QDir::Name)) {
        if (name.endsWith(QStringLiteral("-journal"))) continue;
        if (!GetVariant(dbPhoneCur, kAsideRead + name, QString(), kNotes).isEmpty()) continue;
        const QString file = QDir(dir).filePath(name);
        bool another = false;
        try {
            const Database a = Database::openReadOnly(file);
            const QString theirs = a.actualTableName(kNotes).isEmpty() ? QString() : GetVariant(a, kStationId, QString(), kNotes);
            another = !theirs.isEmpty() && !mine.isEmpty() && theirs != mine;
        } catch (const DbError&) {
            // Damaged: what its pages still give is read below.
        }
        if (another) {
            // Another station's file is never read as this one's, even when
            // the call file refuses the note: it is judged again next time.
            inCallFile([&] { SetVariant(dbPhoneCur, kAsideRead + name, QStringLiteral("另一个话务台"), kNotes); });
            continue;
        }
        out << file;
    }
    return out;
}

QString namesOf(const QStringList& files) {
    QStringList names;
    for (const QString& f : files) names << QFileInfo(f).fileName();
    return names.join(QStringLiteral("、"));
}

void takeBackAside(const QString& path, const QStringList& asides);

// The journal file at `path` judged sound: its trouble forgotten, the
// entries in it no station wrote named, and the set-aside files it lacks
// entries of read back.
void keepSoundJournal(const QString& path, const QString& dir) {
    g_journalTrouble.clear();
    g_doubted.remove(QFileInfo(path).absoluteFilePath());
    tellRefusedInJournal(path);
    // A file set aside before, whose entries a kill or a failed
    // rebuild kept out of this one: read again until they are in.
    if (const QStringList asides = asideToRead(dir); !asides.isEmpty()) takeBackAside(path, asides);
    inCallFile([&] { noteJournalSound(path); });
}

// The journal file at `path`, judged unsound for `why`, set aside under a
// free name (`aside`; a set-aside file is never written over), or removed
// when it is empty. False, told, when it could not be.
bool setJournalAside(const QString& path, const QString& dir, const QString& why, QString* aside) {
    if (why == kEmptyJournal) {
        // Nothing in it to keep: it goes.
        QFile::remove(path + QStringLiteral("-journal"));
        if (!QFile::remove(path)) {
            tellJournalTrouble(path, platform::lastFileError());
            return false;
        }
        platform::syncDir(dir);
    } else {
        const QString stamp = path + QStringLiteral(".damaged-") + platform::Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        *aside = stamp;
        for (int k = 2; QFileInfo::exists(*aside); ++k) *aside = stamp + QStringLiteral("-%1").arg(k);
        QString error;
        if (!platform::renameFile(path, *aside, &error)) {
            core::Notify(QStringLiteral("计费记录归档文件%1%2，且无法另存（%3）。已结清的记账记录暂时保留在话单文件中，请检查该文件。")
                             .arg(kJournalFile, why, error),
                         platform::mbOKOnly, QStringLiteral("警告"));
            return false;
        }
        QFile::rename(path + QStringLiteral("-journal"), *aside + QStringLiteral("-journal"));
        platform::syncDir(dir);
        // Another station's entries are no part of this journal.
        if (why == QStringLiteral("属于另一个话务台"))
            inCallFile([&] {
                SetVariant(dbPhoneCur, kAsideRead + QFileInfo(*aside).fileName(), QStringLiteral("另一个话务台"), kNotes);
            });
    }
    RestoreStep(QStringLiteral("journal-aside"));
    return true;
}

// The settled entries a new journal file is made with: those of every
// set-aside file not read back yet (`asides`: a kill or a failed rebuild
// before may have left entries only there), and those up to the last moved
// that the call file's safety copy and the station file's copy of what it
// applied still hold. `complete`: the file just set aside (`aside`) read whole.
QList<LogEntry> entriesForNewJournal(const QStringList& asides, const QString& aside, qint64 moved, bool* complete) {
    QList<LogEntry> found;
    for (const QString& a : asides) {
        bool whole = true;
        found = MergedLog(found, JournalEntriesAt(a, 0, &whole));
        // Only the file just set aside says the new one reads in part.
        if (a == aside) *complete = whole;
    }
    const auto olderThanMoved = [moved](const QList<LogEntry>& in) {
        QList<LogEntry> out;
        for (const LogEntry& e : in)
            if (e.seq <= moved) out << e;
        return out;
    };
    try {
        const QString bak = platform::resolvePathCI(dbPhoneCur.path() + QStringLiteral(".bak"));
        if (QFileInfo(bak).isFile()) {
            const Database copy = Database::openReadOnly(bak);
            if (!copy.actualTableName(kChargeLog).isEmpty()) found = MergedLog(found, olderThanMoved(EntriesOf(copy, kChargeLog)));
        }
    } catch (const DbError&) {
    }
    return MergedLog(found, olderThanMoved(MirrorOf(dbSwitch)));
}

// The settled entries no file gave back, in runs ("12", "15至20"): those
// numbered `from` to `moved`, less those `found` or `unreadable` hold and
// those the call file's log still holds. `count`: how many numbers the runs name.
QStringList lostEntryRuns(const QList<LogEntry>& found, const QMap<qint64, QVariantList>& unreadable, qint64 from,
                          qint64 moved, qint64* count) {
    QSet<qint64> held;
    for (const LogEntry& e : found) held.insert(e.seq);
    for (auto it = unreadable.constBegin(); it != unreadable.constEnd(); ++it) held.insert(it.key());
    for (platform::RowReader r = dbPhoneCur.rows(QStringLiteral("SELECT f_seq FROM %1 WHERE f_seq<=?").arg(logTable()), {moved});
         r.next();)
        held.insert(r.integer(0));
    QStringList lost;
    *count = 0;
    for (qint64 n = from; n <= moved;) {
        if (held.contains(n)) {
            ++n;
            continue;
        }
        qint64 end = n;
        while (end + 1 <= moved && !held.contains(end + 1)) ++end;
        lost << (n == end ? QString::number(n) : QStringLiteral("%1至%2").arg(n).arg(end));
        *count += end - n + 1;
        n = end + 1;
    }
    return lost;
}

// Runs of entry numbers as a box names them: the first twenty, then "……".
QString runsText(QStringList runs) {
    constexpr int kRuns = 20;
    if (runs.size() > kRuns) runs = runs.mid(0, kRuns) << QStringLiteral("……");
    return runs.join(QStringLiteral("、"));
}

// The box of a journal file made again: why, where the old one went, how
// many entries came back and from where, and those that did not. Of those,
// only the ones the station file applied (up to its mark) are in the
// balances; those past it (a station file put back older) are not, and the
// catch-up that follows names the users they leave short.
QString rebuiltJournalReport(const QString& why, const QString& aside, const QStringList& asides, const QList<LogEntry>& found,
                             bool complete, qint64 moved, const QMap<qint64, QVariantList>& unreadable) {
    const QString fromNote = GetVariant(dbPhoneCur, kJournalFrom, QString(), kNotes);
    const qint64 from = fromNote.isEmpty() ? 1 : qMax<qint64>(fromNote.toLongLong(), 1);
    // A station file without a mark (an older release's) does not say which
    // it applied: its entries are spoken of as before.
    const qint64 mark = AppliedMark(dbSwitch);
    const qint64 applied = mark < 0 ? moved : qMin(moved, mark);
    qint64 lostCount = 0, pastCount = 0;
    const QStringList lost = lostEntryRuns(found, unreadable, from, applied, &lostCount);
    const QStringList past = lostEntryRuns(found, unreadable, qMax(from, applied + 1), moved, &pastCount);
    QString text = QStringLiteral("计费记录归档文件%1%2").arg(kJournalFile, why);
    if (!aside.isEmpty()) text += QStringLiteral("，已另存为%1").arg(QFileInfo(aside).fileName());
    text += QStringLiteral("。已重新建立该文件，从现有文件中找回%1笔已结清的记账记录").arg(found.size());
    QStringList before = asides;
    before.removeAll(aside);
    if (!before.isEmpty()) text += QStringLiteral("（含先前另存的文件%1中的记账记录）").arg(namesOf(before));
    if (!complete) text += QStringLiteral("（原文件只能部分读取）");
    if (lost.isEmpty() && past.isEmpty()) {
        text += QStringLiteral("，没有缺少的记账记录。");
    } else {
        text += QStringLiteral("。");
    }
    if (!lost.isEmpty())
        text += QStringLiteral("第%1笔已结清的记账记录（共%2笔）无法找回：它们早已计入用户余额，现有余额不受影响；"
                               "恢复比它们更早的备份时，缺少的记账记录会逐个用户列出差额。")
                    .arg(runsText(lost))
                    .arg(lostCount);
    if (!past.isEmpty())
        text += QStringLiteral("第%1笔已结清的记账记录（共%2笔）无法找回：数据库文件%3早于它们，它们的金额未计入用户余额；"
                               "请按随后补上%3时列出的用户核对余额。")
                    .arg(runsText(past))
                    .arg(pastCount)
                    .arg(QFileInfo(dbSwitch.path()).fileName());
    if (!unreadable.isEmpty())
        text += QStringLiteral("\n以下已结清的记账记录已损坏，未能找回：\n") + refusedLines(unreadable, dbSwitch).join(QLatin1Char('\n'));
    return text;
}

// Numbers as runs ("3-7,9"), and back.
QString runsText(const QList<qint64>& sorted) {
    QStringList runs;
    for (qsizetype i = 0; i < sorted.size();) {
        qsizetype k = i;
        while (k + 1 < sorted.size() && sorted[k + 1] == sorted[k] + 1) ++k;
        runs << (k == i ? QString::number(sorted[i]) : QStringLiteral("%1-%2").arg(sorted[i]).arg(sorted[k]));
        i = k + 1;
    }
    return runs.join(QLatin1Char(','));
}
QSet<qint64> runsOf(const QString& text) {
    QSet<qint64> out;
    for (const QString& run : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = run.split(QLatin1Char('-'));
        for (qint64 n = ends.first().toLongLong(); n <= ends.last().toLongLong(); ++n) out.insert(n);
    }
    return out;
}

// The numbers a put-back of set-aside entries found missing from the journal
// file, noted in the call file before it writes them in: a put-back whose
// last commit was refused or killed is told by them when it is done again.
const QString kTakingBack = QStringLiteral("TarvoJournalTakingBack");

// The entries of the set-aside files `asides` that the sound journal file
// `path` lacks, between the first one it keeps and the last moved, written
// back into it; each set-aside file is then noted read, and what came back
// is told (kept as a report in the same commit as those notes, after the
// entries are in: a refusal or a kill before it leaves the files unread, and
// the next opening does it again and tells what the first try found missing).
void takeBackAside(const QString& path, const QStringList& asides) {
    const qint64 moved = movedThrough();
    const QString fromNote = GetVariant(dbPhoneCur, kJournalFrom, QString(), kNotes);
    const qint64 from = fromNote.isEmpty() ? 1 : fromNote.toLongLong();
    QList<LogEntry> found;
    for (const QString& a : asides)
        for (const LogEntry& e : JournalEntriesAt(a, 0))
            if (e.seq >= from && e.seq <= moved) found = MergedLog(found, {e});
    QSet<qint64> missing = runsOf(GetVariant(dbPhoneCur, kTakingBack, QString(), kNotes));
    if (!found.isEmpty()) {
        AttachedJournal attached(path);
        Database& j = attached.j;
        QSet<qint64> held;
        for (platform::RowReader r = j.rows(QStringLiteral("SELECT f_seq FROM %1 WHERE f_seq BETWEEN ? AND ?").arg(j.qualified(kChargeLog)),
                                            {from, moved});
             r.next();)
            held.insert(r.integer(0));
        const qsizetype before = missing.size();
        for (const LogEntry& e : std::as_const(found))
            if (!held.contains(e.seq)) missing.insert(e.seq);
        if (missing.size() > before) {
            QList<qint64> sorted(missing.cbegin(), missing.cend());
            std::sort(sorted.begin(), sorted.end());
            inCallFile([&] { SetVariant(dbPhoneCur, kTakingBack, runsText(sorted), kNotes); });
            RestoreStep(QStringLiteral("journal-takeback-noted"));
        }
        platform::Transaction tx(j);
        const QString insert = QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                                   .arg(j.qualified(kChargeLog), kEntryColumns);
        for (const LogEntry& e : std::as_const(found))
            if (!held.contains(e.seq))
                j.execute(insert, {e.seq, e.gen, e.kind, e.userid, e.amount, e.balance, e.calladdr,
                                   e.date.isEmpty() ? QVariant() : QVariant(e.date)});
        tx.commit();
        RestoreStep(QStringLiteral("journal-takeback-in"));
    }
    const qsizetype added = missing.size();
    const QString key = QStringLiteral("journal:") + namesOf(asides);
    inCallFile([&] {
        platform::Transaction tx(dbPhoneCur);
        for (const QString& a : asides) SetVariant(dbPhoneCur, kAsideRead + QFileInfo(a).fileName(), QStringLiteral("1"), kNotes);
        noteJournalSound(path);
        if (added > 0) {
            KeepReport(dbPhoneCur, key,
                       {QStringLiteral("另存的计费记录归档文件%1中有%2笔已结清的记账记录不在%3中，已重新存入%3。")
                           .arg(namesOf(asides))
                           .arg(added)
                           .arg(kJournalFile),
                       QStringLiteral("警告"), platform::mbOKOnly});
            SetVariant(dbPhoneCur, kTakingBack, QString(), kNotes);
        }
        tx.commit();
    });
    if (added > 0) TellReport(dbPhoneCur, key);
}

// The file a rebuild fills beside the journal file's place.
QString rebuildWorkFile(const QString& path) { return path + QStringLiteral(".rebuilding"); }

void removeWithSides(const QString& file) {
    QFile::remove(file + QStringLiteral("-journal"));
    QFile::remove(file);
}

// A rebuild the call file noted decided ("TarvoJournalRebuilt") puts its
// new file in place, at once or at the opening after a kill; one never
// decided leaves nothing behind (its set-aside files make it again).
void finishRebuild(const QString& path) {
    const QString work = rebuildWorkFile(path);
    const QString decided = GetVariant(dbPhoneCur, kJournalRebuilt, QString(), kNotes);
    if (decided.isEmpty()) {
        if (QFileInfo::exists(work)) removeWithSides(work);
        return;
    }
    if (QFileInfo::exists(work)) {
        // A file put in its place since is kept aside, read back like any set-aside file.
        QString error;
        if (QFileInfo::exists(path)) {
            const QString stamp = path + QStringLiteral(".damaged-") + platform::Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            QString aside = stamp;
            for (int k = 2; QFileInfo::exists(aside); ++k) aside = stamp + QStringLiteral("-%1").arg(k);
            if (!platform::renameFile(path, aside, &error))
                throw DbError(platform::kErrGeneric, QStringLiteral("计费记录归档文件无法放入（%1）").arg(error));
        }
        if (!platform::renameFile(work, path, &error))
            throw DbError(platform::kErrGeneric, QStringLiteral("计费记录归档文件无法放入（%1）").arg(error));
        platform::syncDir(QFileInfo(path).absolutePath());
    }
    try {
        SetVariant(dbPhoneCur, kJournalRebuilt, QString(), kNotes);
    } catch (const DbError&) {
        // Cleared at the next opening: with no work file it moves nothing.
    }
}

// The work file of a rebuild made anew and filled with `found` (the journal
// file's table and name, every entry), committed but not yet in place.
void fillRebuildWorkFile(const QString& work, const QList<LogEntry>& found) {
    removeWithSides(work);
    Database::create(work).close();
    AttachedJournal attached(work);
    Database& j = attached.j;
    platform::Transaction tx(j);
    j.execute(QStringLiteral("CREATE TABLE %1 %2").arg(j.qualified(kChargeLog), kLogDefinition));
    nameJournalFile(j);
    const QString insert = QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                               .arg(j.qualified(kChargeLog), kEntryColumns);
    for (const LogEntry& e : found)
        j.execute(insert, {e.seq, e.gen, e.kind, e.userid, e.amount, e.balance, e.calladdr,
                           e.date.isEmpty() ? QVariant() : QVariant(e.date)});
    RestoreStep(QStringLiteral("journal-filled"));
    tx.commit();
}

// The box of a rebuild that failed for `e`: nothing is lost by it, the
// set-aside files are read again at the next opening, which makes the file again.
QString rebuildFailedReport(const QString& why, const QString& aside, const QStringList& asides, const DbError& e) {
    QString failed = QStringLiteral("计费记录归档文件%1%2").arg(kJournalFile, why);
    if (!aside.isEmpty()) failed += QStringLiteral("，已另存为%1").arg(QFileInfo(aside).fileName());
    const auto* by = dynamic_cast<const RefusedBy*>(&e);
    failed += QStringLiteral("。重新建立该文件失败（%1），下次启动时再次建立")
                  .arg(by ? QStringLiteral("话单文件%1无法写入：%2").arg(by->file(), causeOf(e)) : causeOf(e));
    failed += asides.isEmpty() ? QStringLiteral("。")
                               : QStringLiteral("；已结清的记账记录保存在另存的文件%1中，届时重新取回。").arg(namesOf(asides));
    return failed;
}
}  // namespace

// The journal file, checked at each opening like the two other files: one
// damaged (see judgeJournalFile), another station's, or one that lacks what
// the call file says was moved into it (emptied by a kill or the file
// system, an older copy) is set aside (an empty one removed) and named, and
// a new one is made with every settled entry still to be found (every
// set-aside file not yet read back, the call file's safety copy, the station
// file's copy of what it applied); one deleted is made again the same way;
// the entries none of them gives are named by number. The box is a report
// kept in the commit that notes the new file. One that cannot be written is
// named by its cause, once, and left as it is. Entries it holds that no
// station wrote are named once. False when it cannot be written.
bool checkJournalFile() {
    const QString dir = QFileInfo(dbPhoneCur.path()).absolutePath();
    const QString path = platform::resolveCI(dir, kJournalFile);
    // A rebuild a kill cut short is finished or dropped before the file is judged.
    finishRebuild(path);
    const qint64 moved = movedThrough();
    QString why;
    if (!QFileInfo::exists(path)) {
        if (moved <= 0) return true;
        why = QStringLiteral("不见了");
    } else {
        const QString trouble = judgeJournalFile(path, &why);
        if (!trouble.isEmpty()) {
            tellJournalTrouble(path, trouble);
            return false;
        }
        if (why.isEmpty()) {
            keepSoundJournal(path, dir);
            return true;
        }
    }
    QString aside;
    if (QFileInfo::exists(path) && !setJournalAside(path, dir, why, &aside)) return false;
    // Every set-aside file not read back yet (this one too): a kill or a
    // failed rebuild before may have left entries only there.
    const QStringList asides = asideToRead(dir);
    bool complete = true;
    const RefusedEntries refused;
    const QList<LogEntry> found = entriesForNewJournal(asides, aside, moved, &complete);
    const QString key = QStringLiteral("journal:") + (asides.isEmpty() ? QStringLiteral("made-again") : namesOf(asides));
    const qint64 keptFrom = found.isEmpty() ? moved + 1 : found.first().seq;
    const QMap<qint64, QVariantList> unreadable = refused.lacking(found, 0);
    const QString text = rebuiltJournalReport(why, aside, asides, found, complete, moved, unreadable);
    // The new file is made beside its place and goes in only once the call
    // file has noted it made (with its report): until then the set-aside
    // files are its entries, read again at the next opening.
    const QString work = rebuildWorkFile(path);
    try {
        fillRebuildWorkFile(work, found);
        platform::syncDir(dir);
        // Decided: told once, the next loss counted from what the new file
        // holds, the set-aside files read back; the box kept with it.
        inCallFile([&] {
            platform::Transaction tx(dbPhoneCur);
            SetVariant(dbPhoneCur, kJournalFrom, QString::number(keptFrom), kNotes);
            qint64 last = 0;
            for (const LogEntry& e : std::as_const(found)) last = qMax(last, e.seq);
            SetVariant(dbPhoneCur, kJournalLast, last > 0 ? QString::number(last) : QString(), kNotes);
            SetVariant(dbPhoneCur, kJournalRebuilt, QFileInfo(work).fileName(), kNotes);
            noteJournalSound(work);
            KeepReport(dbPhoneCur, key, {text, QStringLiteral("警告"), platform::mbOKOnly});
            tx.commit();
        });
    } catch (const DbError& e) {
        // Nothing is lost by it: the set-aside files stay and are read again
        // at the next opening, which makes the file again; said as it is.
        removeWithSides(work);
        platform::syncDir(dir);
        KeepAndTell(dbPhoneCur, key, {rebuildFailedReport(why, aside, asides, e), QStringLiteral("警告"), platform::mbOKOnly});
        return false;
    }
    RestoreStep(QStringLiteral("journal-decided"));
    finishRebuild(path);
    // The set-aside files are read back; until this is noted, the next
    // opening reads them again and finds nothing the new file lacks.
    try {
        platform::Transaction tx(dbPhoneCur);
        for (const QString& a : asides) SetVariant(dbPhoneCur, kAsideRead + QFileInfo(a).fileName(), QStringLiteral("1"), kNotes);
        noteJournalSound(path);
        tx.commit();
    } catch (const DbError&) {
    }
    TellReport(dbPhoneCur, key);
    return true;
}

}  // namespace ModSwitch
