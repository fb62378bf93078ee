#include "core/books/UserNumbers.h"

#include "core/books/JournalFile.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/books/StationRecord.h"
#include "platform/Files.h"

#include <QFileInfo>

namespace ModSwitch {

using platform::Database;
using platform::DbError;

const QString kUserNumbersNote = QStringLiteral("TarvoUserNumbers");

namespace {
const QString kNotes = QStringLiteral("tab_notes");

// The note in `table` of `db` (0 when it has none or cannot be read).
qint64 noteIn(const Database& db, const QString& table) {
    try {
        if (!db.isOpen() || db.actualTableName(table).isEmpty()) return 0;
        bool ok = false;
        const qint64 n = GetVariant(db, kUserNumbersNote, QString(), table).trimmed().toLongLong(&ok);
        return ok && n > 0 ? n : 0;
    } catch (const DbError&) {
        return 0;
    }
}

// Raises the note in `table` of `db` to `next` (a note never goes down).
void raiseNote(const Database& db, const QString& table, qint64 next) {
    if (!db.isOpen() || db.actualTableName(table).isEmpty() || noteIn(db, table) >= next) return;
    SetVariant(db, kUserNumbersNote, QString::number(next), table);
}

QString journalPath() {
    const QString of = dbPhoneCur.isOpen() ? dbPhoneCur.path() : dbSwitch.isOpen() ? dbSwitch.path() : QString();
    if (of.isEmpty()) return QString();
    const QString path = platform::resolveCI(QFileInfo(of).absolutePath(), kJournalFile);
    return QFileInfo(path).isFile() ? path : QString();
}

// Raised in the journal file when it is there and can be written; a journal
// file that refuses learns it at the next opening or move.
void raiseJournalNote(qint64 next) {
    const QString path = journalPath();
    if (path.isEmpty()) return;
    try {
        WriteJournalFile(path, [&] {
            Database j = Database::open(path);
            if (j.actualTableName(kNotes).isEmpty())
                j.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)").arg(j.qualified(kNotes)));
            raiseNote(j, kNotes, next);
            j.close();
        });
    } catch (const DbError&) {
    }
}

// One past the highest user the entries of `table` in `db` add or delete.
qint64 pastNamedUsers(const Database& db, const QString& table) {
    try {
        const QString t = db.actualTableName(table);
        if (!db.isOpen() || t.isEmpty()) return 0;
        const QVariant top = db.scalar(
            QStringLiteral("SELECT max(f_userid) FROM %1 WHERE f_kind IN (1, 2) AND typeof(f_userid)='integer'").arg(db.qualified(t)));
        return top.isNull() ? 0 : top.toLongLong() + 1;
    } catch (const DbError&) {
        return 0;
    }
}

qint64 pastUsersHeld() {
    const QVariant top = dbSwitch.scalar(QStringLiteral("SELECT max(userid) FROM user"));
    return top.isNull() ? 0 : top.toLongLong() + 1;
}

// One past the highest user whose row `db` keeps beside the entry that added
// them: kept for good, after the entries themselves are let go.
qint64 pastRowsKept(const Database& db) {
    try {
        if (!db.isOpen()) return 0;
        const QString t = db.actualTableName(kUserRows);
        if (t.isEmpty()) return 0;
        const QVariant top =
            db.scalar(QStringLiteral("SELECT max(f_userid) FROM %1 WHERE typeof(f_userid)='integer'").arg(db.qualified(t)));
        return top.isNull() ? 0 : top.toLongLong() + 1;
    } catch (const DbError&) {
        return 0;
    }
}
}  // namespace

qint64 FirstFreeUserNumber() {
    // The record (one read of the call file) and the station file: a user
    // added commits there first, its copy of the note with it, and the
    // record follows in the call file's next commit (or the next opening).
    qint64 n = 0;
    try {
        n = ReadStationRecord().usersFrom;
    } catch (const DbError&) {
        // Unread: the station file still bounds the numbers.
    }
    n = qMax(n, pastUsersHeld());
    n = qMax(n, noteIn(dbSwitch, kSettingsTable));
    // Every user added left their row beside their entry.
    return qMax(n, pastRowsKept(dbSwitch));
}

void NoteUserNumberGiven(qint64 userid) {
    if (userid < 0) return;
    const qint64 next = userid + 1;
    raiseNote(dbSwitch, kSettingsTable, next);
    // The record takes it in the commit where the call file's log takes the
    // entry that added the user (giveLogStationEntries); the journal file
    // once the users' transaction is kept, in a commit of its own (a
    // rollback drops it; the next opening notes it).
    dbSwitch.afterCommit([next] { raiseJournalNote(next); });
}

qint64 UserNumbersKnown(qint64 recorded, qint64 journalNoted, const QString& journal) {
    qint64 next = qMax(recorded, journalNoted);
    next = qMax(next, pastUsersHeld());
    next = qMax(next, noteIn(dbSwitch, kSettingsTable));
    next = qMax(next, pastRowsKept(dbSwitch));
    next = qMax(next, pastRowsKept(dbPhoneCur));
    // A file without the note (made before numbers were kept, or lost):
    // the users the journal still names were given their numbers.
    if (recorded == 0 || noteIn(dbSwitch, kSettingsTable) == 0 || (!journal.isEmpty() && journalNoted == 0)) {
        next = qMax(next, pastNamedUsers(dbPhoneCur, kChargeLog));
        next = qMax(next, pastNamedUsers(dbSwitch, kLedgerMirror));
        if (!journal.isEmpty()) {
            try {
                next = qMax(next, pastNamedUsers(Database::openReadOnly(journal), kChargeLog));
            } catch (const DbError&) {
            }
        }
    }
    return next;
}

void UserNumberCopiesFollow(qint64 next) {
    if (next <= 0) return;
    try {
        platform::Transaction tx(dbSwitch);
        raiseNote(dbSwitch, kSettingsTable, next);
        tx.commit();
    } catch (const DbError&) {
        // Followed at the next opening; the record bounds the numbers.
    }
    raiseJournalNote(next);
}

QSet<qint64> NumbersGivenTwice(const Database& sw, const QList<LogEntry>& log, qint64 fileMark) {
    QSet<qint64> held, twice;
    const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
    for (platform::RowReader r = sw.rows(QStringLiteral("SELECT userid FROM %1").arg(users)); r.next();) held.insert(r.integer(0));
    for (const LogEntry& e : log) {
        if (e.seq <= fileMark || !held.contains(e.userid)) continue;
        if (e.kind == int(LogKind::UserDeleted)) held.remove(e.userid);
        else if (e.kind == int(LogKind::UserAdded)) twice.insert(e.userid);
    }
    return twice;
}

}  // namespace ModSwitch
