#include "core/books/StationRecord.h"

#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"
#include "core/books/JournalFile.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/books/UserNumbers.h"
#include "platform/Files.h"

#include <QFileInfo>
#include <QUuid>

namespace ModSwitch {

using platform::Database;
using platform::DbError;

const QString kEntriesGivenNote = QStringLiteral("TarvoEntriesGiven");

namespace {

// A note's number: -1 when it is not there (or empty), 0 when it is no number.
qint64 numberOf(const QString& text) {
    if (text.isEmpty()) return -1;
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    return ok ? n : 0;
}
}  // namespace

qint64 StationRecord::lowestBackupMark() const {
    qint64 lowest = -1;
    for (const qint64 m : backupMarks)
        if (lowest < 0 || m < lowest) lowest = m;
    return lowest;
}

StationRecord ReadStationRecord(const Database& cur) {
    StationRecord r;
    if (!cur.isOpen()) return r;
    const QString notes = cur.actualTableName(kNotes);
    if (notes.isEmpty()) return r;
    r.notes = true;
    const QString log = cur.actualTableName(kChargeLog);
    // One statement: every note and the log's last entry as of one commit.
    QString sql = QStringLiteral("SELECT varname, value, CAST(value AS INTEGER) FROM %1 WHERE varname IN (?, ?, ?, ?, ?, ?, ?, ?) "
                                 "OR substr(varname, 1, ?)=?")
                      .arg(cur.qualified(notes));
    if (!log.isEmpty()) sql += QStringLiteral(" UNION ALL SELECT NULL, NULL, max(f_seq) FROM %1").arg(cur.qualified(log));
    const platform::Params params{kStationId,   kFormerStationId, kUserNumbersNote,           kMovedNote,
                                  kEntriesGivenNote, kNumberedNote,   kJournalFrom,               kJournalLast,
                                  int(kBackupMarkPrefix.size()), kBackupMarkPrefix};
    for (platform::RowReader row = cur.rows(sql, params); row.next();) {
        if (row.kind(0) == platform::RawRecords::Null) {
            if (row.kind(2) == platform::RawRecords::Integer) r.lastLogged = qMax<qint64>(0, row.integer(2));
            continue;
        }
        const QString key = row.text(0);
        const QString value = row.kind(1) == platform::RawRecords::Null ? QString() : row.text(1);
        if (key == kStationId) r.id = value;
        else if (key == kFormerStationId) r.formerId = value;
        else if (key == kUserNumbersNote) r.usersFrom = qMax<qint64>(0, numberOf(value));
        else if (key == kMovedNote) r.movedThrough = qMax<qint64>(0, numberOf(value));
        else if (key == kEntriesGivenNote) r.entriesGiven = qMax<qint64>(0, numberOf(value));
        else if (key == kNumberedNote) r.numberedFrom = value.isEmpty() ? -1 : qMax<qint64>(0, numberOf(value));
        else if (key == kJournalFrom) r.journalFrom = numberOf(value);
        else if (key == kJournalLast) r.journalLast = numberOf(value);
        // A value that is no number reads 0, as SQL reads it: everything is kept.
        else if (key.startsWith(kBackupMarkPrefix)) r.backupMarks.insert(key.mid(kBackupMarkPrefix.size()), row.integer(2));
    }
    return r;
}

StationRecord ReadStationRecord() { return ReadStationRecord(dbPhoneCur); }

bool StationFileAgrees() {
    const QString mine = GetVariant(dbSwitch, kStationId);
    const QString theirs = ReadStationRecord().id;
    if (!mine.isEmpty() && !theirs.isEmpty()) return mine == theirs;
    const QString id = !mine.isEmpty() ? mine : !theirs.isEmpty() ? theirs : QUuid::createUuid().toString(QUuid::WithoutBraces);
    // The record first, alone (a kill before the station file's copy leaves
    // the copy empty, which takes the record's at the next opening).
    if (theirs.isEmpty()) {
        platform::Transaction tx(dbPhoneCur);
        SetVariant(dbPhoneCur, kStationId, id, kNotes);
        tx.commit();
    }
    if (mine.isEmpty()) {
        platform::Transaction tx(dbSwitch);
        SetVariant(dbSwitch, kStationId, id);
        tx.commit();
    }
    return true;
}

void RaiseRecordUsers(qint64 next) {
    if (next <= 0 || !dbPhoneCur.isOpen() || dbPhoneCur.actualTableName(kNotes).isEmpty()) return;
    if (numberOf(GetVariant(dbPhoneCur, kUserNumbersNote, QString(), kNotes)) >= next) return;
    SetVariant(dbPhoneCur, kUserNumbersNote, QString::number(next), kNotes);
}

namespace {
// What the journal file beside the call file holds of the record: its
// station, its note of user numbers, its highest entry. Nothing when it is
// missing, does not read, or is another station's.
struct JournalCopy {
    QString path;
    qint64 usersFrom = 0, lastEntry = 0;
    bool there = false;
};

JournalCopy journalCopy(const StationRecord& rec) {
    JournalCopy c;
    const QString path = platform::resolveCI(QFileInfo(dbPhoneCur.path()).absolutePath(), kJournalFile);
    if (!QFileInfo(path).isFile()) return c;
    c.path = path;
    c.there = true;
    try {
        const Database j = Database::openReadOnly(path);
        if (!j.actualTableName(kNotes).isEmpty()) {
            const QString theirs = GetVariant(j, kStationId, QString(), kNotes);
            // Another station's (the journal file's check set it aside, or
            // could not): no evidence of this one's.
            if (!theirs.isEmpty() && !rec.id.isEmpty() && theirs != rec.id) return JournalCopy{path, 0, 0, true};
            c.usersFrom = qMax<qint64>(0, numberOf(GetVariant(j, kUserNumbersNote, QString(), kNotes)));
        }
        if (!j.actualTableName(kChargeLog).isEmpty())
            c.lastEntry = j.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(j.qualified(kChargeLog))).toLongLong();
    } catch (const DbError&) {
        // Unread: it tells nothing.
    }
    return c;
}

// The highest entry number the open station file shows given: its mark and its copy of the log.
qint64 stationFileEntries() {
    qint64 n = qMax<qint64>(AppliedMark(dbSwitch), 0);
    if (!dbSwitch.actualTableName(kLedgerMirror).isEmpty())
        n = qMax(n, dbSwitch.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(dbSwitch.qualified(kLedgerMirror))).toLongLong());
    return n;
}
}  // namespace

void AgreeWithStationRecord() {
    if (!dbPhoneCur.isOpen() || !dbSwitch.isOpen()) return;
    try {
        const StationRecord rec = ReadStationRecord();
        if (!rec.notes) return;
        const JournalCopy j = journalCopy(rec);
        // The users: the record, the copies and what the files' rows show.
        const qint64 users = UserNumbersKnown(rec.usersFrom, j.usersFrom, j.there ? j.path : QString());
        // The entries: the record, the station file's mark and copy, the journal file.
        const qint64 entries = qMax(qMax(rec.lastEntry(), stationFileEntries()), j.lastEntry);
        // The record is raised first, in a commit of the call file alone.
        if (users > rec.usersFrom || entries > rec.lastEntry()) {
            platform::Transaction tx(dbPhoneCur);
            RaiseRecordUsers(users);
            if (entries > rec.lastEntry()) SetVariant(dbPhoneCur, kEntriesGivenNote, QString::number(entries), kNotes);
            tx.commit();
        }
        // Then the copies follow it, each in a commit of its own.
        UserNumberCopiesFollow(users);
    } catch (const DbError&) {
        // Checked again at the next opening; the copies still bound the numbers.
    }
}

}  // namespace ModSwitch
