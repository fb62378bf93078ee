#include "core/UserNumbers.h"

#include "core/JournalFile.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
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

// The journal file's note; 0 when it has none, is missing or cannot be read.
qint64 journalNote() {
    const QString path = journalPath();
    if (path.isEmpty()) return 0;
    try {
        const Database j = Database::openReadOnly(path);
        return noteIn(j, kNotes);
    } catch (const DbError&) {
        return 0;
    }
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
    qint64 n = pastUsersHeld();
    n = qMax(n, noteIn(dbSwitch, kSettingsTable));
    n = qMax(n, noteIn(dbPhoneCur, kNotes));
    // Every user added left their row beside their entry, in both files.
    n = qMax(n, pastRowsKept(dbSwitch));
    n = qMax(n, pastRowsKept(dbPhoneCur));
    return qMax(n, journalNote());
}

void NoteUserNumberGiven(qint64 userid) {
    if (userid < 0) return;
    const qint64 next = userid + 1;
    raiseNote(dbSwitch, kSettingsTable, next);
    // The call file and the journal file once the users' transaction is kept,
    // each in a commit of its own: the station file's commit is the act's (a
    // rollback drops these; the next opening notes them).
    dbSwitch.afterCommit([next] {
        try {
            platform::Transaction tx(dbSwitch);
            raiseNote(dbPhoneCur, kNotes, next);
            tx.commit();
        } catch (const DbError&) {
        }
        raiseJournalNote(next);
    });
}

void KeepUserNumbers() {
    try {
        qint64 next = FirstFreeUserNumber();
        // A file without the note (made before numbers were kept, or lost):
        // the users the journal still names were given their numbers.
        if (noteIn(dbPhoneCur, kNotes) == 0 || noteIn(dbSwitch, kSettingsTable) == 0 ||
            (!journalPath().isEmpty() && journalNote() == 0)) {
            next = qMax(next, pastNamedUsers(dbPhoneCur, kChargeLog));
            next = qMax(next, pastNamedUsers(dbSwitch, kLedgerMirror));
            if (const QString path = journalPath(); !path.isEmpty()) {
                try {
                    next = qMax(next, pastNamedUsers(Database::openReadOnly(path), kChargeLog));
                } catch (const DbError&) {
                }
            }
        }
        if (next <= 0) return;
        {
            platform::Transaction tx(dbSwitch);
            raiseNote(dbSwitch, kSettingsTable, next);
            raiseNote(dbPhoneCur, kNotes, next);
            tx.commit();
        }
        raiseJournalNote(next);
    } catch (const DbError&) {
        // Learnt again at the next opening; the user table still bounds the numbers.
    }
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
