// The journal read for a restore (the call file's log, the entries moved to
// the journal file, as far as a damaged file gives them) and the one
// recovery of a station file put back.
#include "core/books/CopyRecovery.h"
#include "core/books/CopyRecoveryInternal.h"

#include "core/books/ChargeLog.h"
#include "core/books/JournalFile.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/MsgCodes.h"

#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <optional>

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::quoteIdent;
using namespace copyrecovery;

namespace {

// The index of `table` on its key field alone, "" when it has none.
QString KeyIndex(const Database& db, const QString& table, const QString& key) {
    try {
        QStringList names;
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type='index' AND "
                                                            "lower(tbl_name)=lower(?)"),
                                             {table});
             r.next();)
            names << r.text(0);
        for (const QString& n : names) {
            QStringList cols;
            for (platform::RowReader r = db.rows(QStringLiteral("PRAGMA index_info(%1)").arg(quoteIdent(n))); r.next();)
                cols << r.text(2);
            if (cols.size() == 1 && cols[0].compare(key, Qt::CaseInsensitive) == 0) return n;
        }
    } catch (const DbError&) {
    }
    return {};
}

// Whether the key index, where it can be read, places `keyValue` at `rowid`:
// a table page read in place of another holds rows the index does not know.
bool IndexAgrees(const Database& db, const QString& index, const QString& table, const QString& key,
                 const QVariant& keyValue, qint64 rowid) {
    if (index.isEmpty()) return true;
    try {
        const QVariant at = db.scalar(QStringLiteral("SELECT rowid FROM %1 INDEXED BY %2 WHERE %3=?")
                                          .arg(quoteIdent(table), quoteIdent(index), quoteIdent(key)),
                                      {keyValue});
        return !at.isNull() && at.toLongLong() == rowid;
    } catch (const DbError&) {
        return true;   // an index that does not read says nothing against the row
    }
}

}  // namespace

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

QList<LogEntry> MovedEntries(const QString& callFile, qint64 after, bool* complete) {
    return JournalEntriesAt(platform::resolveCI(QFileInfo(callFile).absolutePath(), kJournalFile), after, complete);
}

QList<LogEntry> JournalEntriesAt(const QString& path, qint64 after, bool* complete) {
    if (complete) *complete = true;
    QList<LogEntry> out;
    if (!QFileInfo(path).isFile()) return out;
    after = qMax<qint64>(after, 0);
    try {
        bool sound = true;
        out = EntriesOf(Database::openReadOnly(path), kChargeLog, after, &sound);
        if (complete) *complete = sound;
        return out;
    } catch (const DbError&) {
        out.clear();
        if (QFileInfo(path).fileName().compare(kJournalFile, Qt::CaseInsensitive) == 0) DoubtJournalFile(path);
    }
    // A file that does not open or read through: what its pages still give,
    // every column of each entry (an owner's place, a call's extension and
    // start). One whose place or date does not read is refused and named,
    // never taken with a default.
    const DamagedImage j(path);
    if (complete) *complete = false;
    if (!j) return out;
    const QStringList all{QStringLiteral("f_seq"),    QStringLiteral("f_gen"),     QStringLiteral("f_kind"),
                          QStringLiteral("f_userid"), QStringLiteral("f_amount"),  QStringLiteral("f_balance"),
                          QStringLiteral("f_calladdr"), QStringLiteral("f_date")};
    const QStringList have = j.columns(kChargeLog);
    QStringList want;
    for (const QString& c : all)
        if (have.contains(c)) want << c;
    for (QVariantList row : ReadableRows(j.db, kChargeLog, want)) {
        QVariantList values;
        for (const QString& c : all) values << (want.contains(c) ? row.takeFirst() : QVariant());
        if (const std::optional<LogEntry> e = EntryOf(values, true); e && e->seq > after) out << *e;
    }
    std::sort(out.begin(), out.end(), [](const LogEntry& a, const LogEntry& b) { return a.seq < b.seq; });
    return out;
}

namespace copyrecovery {

// The charge log of the call file `callFile`, as far as it can be read.
// `complete` false when part of it could not be read (a damaged page, or
// entries whose values are no amounts: those are left out and counted).
QList<LogEntry> ReadLog(const QString& callFile, bool* read, bool* complete, int* rejected,
                        QMap<qint64, QString>* userRows) {
    QList<LogEntry> out;
    *read = false;
    if (complete) *complete = false;
    if (rejected) *rejected = 0;
    if (!QFileInfo(callFile).isFile()) return out;
    const DamagedImage calls(callFile, platform::resolveCI(QFileInfo(callFile).absolutePath(),
                                                           QFileInfo(callFile).fileName() + QStringLiteral(".bak")));
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
    // The extension a charge's call came from tells whom it belonged to.
    const int addr = cols.contains(QStringLiteral("f_calladdr")) ? int(wanted.size()) : -1;
    if (addr >= 0) wanted << QStringLiteral("f_calladdr");
    const int date = addr >= 0 && cols.contains(QStringLiteral("f_date")) ? int(wanted.size()) : -1;
    if (date >= 0) wanted << QStringLiteral("f_date");
    bool whole = false;
    const QMap<qint64, QVariantList> rows = ReadableRows(calls.db, kChargeLog, wanted, &whole);
    int bad = 0;
    for (auto it = rows.constBegin(); it != rows.constEnd(); ++it) {
        // In the log's order of columns; a log of the previous version is
        // numbered by its rows and holds charges only.
        const QVariantList row{numbered ? it->value(4) : QVariant::fromValue<qlonglong>(it.key()), it->value(0),
                               kinds ? it->value(numbered ? 5 : 4) : QVariant::fromValue<qlonglong>(0), it->value(1),
                               it->value(2), it->value(3), addr >= 0 ? it->value(addr) : QVariant(),
                               date >= 0 ? it->value(date) : QVariant()};
        if (const std::optional<LogEntry> e = EntryOf(row)) out << *e;
        else ++bad;
    }
    std::sort(out.begin(), out.end(), [](const LogEntry& a, const LogEntry& b) { return a.seq < b.seq; });
    const QMap<qint64, QString> added = UserRowsOf(calls.db);
    WithUserRows(out, added);
    if (userRows) *userRows = added;
    if (complete) *complete = whole && bad == 0;
    if (rejected) *rejected = bad;
    return out;
}

// Every entry a restore reads: the call file's log (as far as it reads) and
// the entries moved from it to the journal file numbered past `after`.
// `movedComplete` false when the journal file could not be read whole.
QList<LogEntry> ReadJournal(const QString& callFile, qint64 after, bool* read, bool* complete, bool* movedComplete) {
    QMap<qint64, QString> rows;
    const QList<LogEntry> log = ReadLog(callFile, read, complete, nullptr, &rows);
    // The call file keeps the row of a user added after the entry moved to
    // the journal file: the entry read there gets it too.
    QList<LogEntry> all = MergedLog(log, MovedEntries(callFile, after, movedComplete));
    WithUserRows(all, rows);
    return all;
}

QString callKey(const QVariant& addr, const QVariant& date) {
    return addr.toString() + QLatin1Char(' ') + platform::dateText(platform::parseDate(date));
}

// Calls by user (how many, what they cost), one line each with the user's
// name as the station file `sw` holds it.
QStringList CallLines(const Database& sw, const QMap<qint64, QPair<int, platform::Currency>>& byUser) {
    const QString users = sw.isOpen() ? sw.actualTableName(QStringLiteral("user")) : QString();
    QStringList lines;
    for (auto it = byUser.constBegin(); it != byUser.constEnd(); ++it) {
        const QVariant name =
            users.isEmpty() ? QVariant()
                            : sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(sw.qualified(users)), {it.key()});
        lines << QStringLiteral("用户%1%2：%3张，共%4元")
                     .arg(it.key())
                     .arg(name.isNull() ? QString() : QLatin1Char(' ') + name.toString())
                     .arg(it->first)
                     .arg(it->second.toString2());
    }
    return lines;
}

// The fee of a call row (its five fees from `from` on); false when one is no amount.
bool FeeOf(const QVariantList& row, int from, qint64* fee) {
    *fee = 0;
    for (int i = from; i < from + 5; ++i) {
        if (!IsInteger(row.value(i)) || qAbs(row.value(i).toLongLong()) > kMoneyReach) return false;
        *fee += row.value(i).toLongLong();
    }
    return true;
}

}  // namespace copyrecovery

namespace {

// Whether user rows read from a damaged file whose mark cannot be read hold
// what the journal past the copy's mark `copyMark` ends with: each user's
// balance and deposit after their last entry, no row of a user deleted since,
// a row for each user added since and not deleted. Only then are they current.
bool RowsEndWithTheLog(const QMap<qint64, QVariantList>& users, const QStringList& cols, const QList<LogEntry>& log,
                       qint64 copyMark) {
    const auto column = [&](const char* name) {
        return cols.indexOf(QRegularExpression(QStringLiteral("^%1$").arg(QLatin1String(name)),
                                               QRegularExpression::CaseInsensitiveOption));
    };
    const int id = column("userid"), remain = column("remain"), deposit = column("deposit");
    if (id < 0 || remain < 0 || deposit < 0) return false;
    QMap<qint64, const QVariantList*> byUser;
    for (const QVariantList& row : users) byUser.insert(row.value(id).toLongLong(), &row);
    struct End {
        std::optional<qint64> remain, deposit;
        bool gone = false, added = false;
    };
    QMap<qint64, End> ends;
    for (const LogEntry& e : log) {
        if (e.seq <= copyMark) continue;
        End& end = ends[e.userid];
        switch (LogKind(e.kind)) {
        case LogKind::Charge:
        case LogKind::Balance:
        case LogKind::BalanceSet: end.remain = e.balance.raw(); break;
        case LogKind::Deposit:
        case LogKind::DepositSet: end.deposit = e.balance.raw(); break;
        case LogKind::UserDeleted: end = End{{}, {}, true, false}; break;
        case LogKind::UserAdded: end = End{e.balance.raw(), {}, false, true}; break;
        default: break;
        }
    }
    for (auto it = ends.constBegin(); it != ends.constEnd(); ++it) {
        if (it.key() == 0) continue;
        const QVariantList* row = byUser.value(it.key());
        if (it->gone) {
            if (row) return false;
            continue;
        }
        if (!row) {
            if (it->added) return false;
            continue;
        }
        if (it->remain && row->value(remain).toLongLong() != *it->remain) return false;
        if (it->deposit && row->value(deposit).toLongLong() != *it->deposit) return false;
    }
    return true;
}

// The calls of the call file `callFile` (as far as its pages read) that
// charged a user but whose entries no file gave, one line per user: how many,
// and what they cost. A call's place against a copy (mark `copyMark`) is told
// by numbers, never by its date: a call is held against the call file's own
// safety copy, whose log ends at a known entry (a call it holds was charged
// at or before that entry, one it lacks after it); else, where every number up
// to the copy's mark read (`log`, and `anchors`: entries at or below the mark
// that only tell the copy's place) and none was this call's, it is since the
// copy. A user whose row came from the file replaced (`rowsTaken`, its mark
// `takenMark`) is judged the same way against that file's mark. Calls of a
// known place since the mark are in `sure`: their charge is not in the
// balance. Those whose place cannot be known are in `unsure`: charged or not,
// unknown, each user's named with the amount.
struct Unlogged {
    QStringList sure, unsure;
};
// The calls the call file's safety copy holds (extension and start) and the
// last entry of its log; `known` false when either did not read whole.
struct CallCopy {
    QSet<QString> calls;
    qint64 last = 0;
    bool known = false;
};
CallCopy CallCopyOf(const QString& callFile) {
    CallCopy out;
    const QString bak = platform::resolvePathCI(callFile + QStringLiteral(".bak"));
    if (!QFileInfo(bak).isFile()) return out;
    bool read = false, complete = false;
    const QList<LogEntry> log = ReadLog(bak, &read, &complete);
    if (!read || !complete) return out;
    for (const LogEntry& e : log) out.last = qMax(out.last, e.seq);
    const DamagedImage copy(bak, callFile);
    if (!copy) return out;
    const QStringList want{QStringLiteral("f_calladdr"), QStringLiteral("f_date")};
    const QStringList have = copy.columns(QStringLiteral("Tab_Phone"));
    for (const QString& c : want)
        if (!have.contains(c)) return out;
    bool whole = false;
    for (const QVariantList& row : ReadableRows(copy.db, QStringLiteral("Tab_Phone"), want, &whole))
        out.calls.insert(callKey(row.value(0), row.value(1)));
    out.known = whole;
    return out;
}


Unlogged UnloggedCalls(const QString& callFile, const QList<LogEntry>& log, const QList<LogEntry>& anchors,
                       qint64 copyMark, const Database& sw, const QSet<qint64>& rowsTaken, qint64 takenMark) {
    QSet<QString> logged;
    QSet<qint64> read;
    for (const QList<LogEntry>* from : {&log, &anchors}) {
        for (const LogEntry& e : *from) {
            if (e.seq >= 1) read.insert(e.seq);
            if (e.kind != int(LogKind::Charge) && e.kind != int(LogKind::Call)) continue;
            if (!platform::parseDate(e.date).isValid()) continue;
            logged.insert(callKey(e.calladdr, e.date));
        }
    }
    // Every number up to `mark` read: a call none of them charged came after it.
    const auto allReadTo = [&](qint64 mark) {
        for (qint64 n = 1; n <= mark; ++n)
            if (!read.contains(n)) return false;
        return true;
    };
    const bool allToCopy = allReadTo(copyMark), allToTaken = takenMark > 0 && allReadTo(takenMark);
    const CallCopy callCopy = CallCopyOf(callFile);
    enum Place { InBalance, Since, Unknown };
    const auto placeOf = [&](const QString& key, qint64 mark, bool allRead) {
        if (callCopy.known) {
            const bool held = callCopy.calls.contains(key);
            if (held && callCopy.last <= mark) return InBalance;
            if (!held && callCopy.last >= mark) return Since;
        }
        return allRead ? Since : Unknown;
    };
    Unlogged out;
    if (!QFileInfo(callFile).isFile()) return out;
    const DamagedImage calls(callFile, callFile + QStringLiteral(".bak"));
    if (!calls) return out;
    const QStringList want{QStringLiteral("f_calladdr"), QStringLiteral("f_date"), QStringLiteral("f_userid"),
                           QStringLiteral("f_moneny"),   QStringLiteral("f_addfee1"), QStringLiteral("f_addfee2"),
                           QStringLiteral("f_gatefee"),  QStringLiteral("f_linkfee")};
    const QStringList have = calls.columns(QStringLiteral("Tab_Phone"));
    for (const QString& c : want)
        if (!have.contains(c)) return out;
    QMap<qint64, QPair<int, platform::Currency>> sure, unsure;
    for (const QVariantList& row : ReadableRows(calls.db, QStringLiteral("Tab_Phone"), want)) {
        const QString key = callKey(row.value(0), row.value(1));
        if (logged.contains(key)) continue;
        qint64 fee = 0;
        const bool money = FeeOf(row, 3, &fee);
        const qint64 user = row.value(2).toLongLong();
        if (!money || fee == 0 || user == 0) continue;
        const bool taken = rowsTaken.contains(user);
        const Place place = taken ? placeOf(key, takenMark, allToTaken) : placeOf(key, copyMark, allToCopy);
        if (place == InBalance) continue;   // in the balance the row holds
        auto& n = (place == Since ? sure : unsure)[user];
        ++n.first;
        n.second += platform::Currency::fromRaw(fee);
    }
    out.sure = CallLines(sw, sure);
    out.unsure = CallLines(sw, unsure);
    return out;
}

// The entries at or below `mark` that tell where a copy stands among the
// calls, from files that are not the call file's log: the copy's own record
// of what it applied, and the last entries up to the mark moved to the
// journal file (all of them when those hold no call's).
QList<LogEntry> CopyAnchors(const Database& copy, const QString& callFile, qint64 mark) {
    QList<LogEntry> out;
    try {
        for (const LogEntry& e : MirrorOf(copy))
            if (e.seq <= mark) out << e;
    } catch (const DbError&) {
        // What it holds of them did not read: the other files tell.
    }
    const auto movedUpTo = [&](qint64 after) {
        QList<LogEntry> upTo;
        for (const LogEntry& e : MovedEntries(callFile, after))
            if (e.seq <= mark) upTo << e;
        return upTo;
    };
    QList<LogEntry> moved = movedUpTo(qMax<qint64>(0, mark - 2000));
    const bool call = std::any_of(moved.cbegin(), moved.cend(), [](const LogEntry& e) {
        return e.kind == int(LogKind::Charge) || e.kind == int(LogKind::Call);
    });
    if (!call && mark > 2000) moved = movedUpTo(0);
    return MergedLog(out, moved);
}


// The value of note `key` in the station file or call file at `path`, read
// past its index (a damaged file may give another note's value for the name:
// the name is read back with it); empty when the file tells nothing.
QString NoteOfFile(const QString& path, const QString& key = kStationId) {
    try {
        if (!QFileInfo(path).isFile()) return QString();
        const Database cur = Database::openReadOnly(path);
        const QString notes = cur.actualTableName(QStringLiteral("tab_notes"));
        if (notes.isEmpty()) return QString();
        platform::RowReader r = cur.rows(QStringLiteral("SELECT varname, value FROM %1 NOT INDEXED WHERE varname=?")
                                             .arg(cur.qualified(notes)),
                                         {key});
        return r.next() && r.text(0) == key ? r.text(1) : QString();
    } catch (const DbError&) {
        return QString();   // unread: it tells nothing
    }
}

// A station file of another station is not brought up to this call file's
// log; the call file's safety copy has the last word on the name. A site's
// file from before the site was told apart from its root carries the root's
// name: put back into the site (its restore placed it there), it takes the site's.
bool OfAnotherStation(Database& db, const QString& callFile) {
    try {
        QString mine = GetVariant(db, kStationId);
        const QString callFiles = NoteOfFile(callFile);
        if (!mine.isEmpty() && !callFiles.isEmpty() && mine != callFiles &&
            mine == NoteOfFile(callFile, kFormerStationId)) {
            SetVariant(db, kStationId, callFiles);
            mine = callFiles;
        }
        return !mine.isEmpty() && !callFiles.isEmpty() && mine != callFiles &&
               NoteOfFile(platform::resolvePathCI(callFile + QStringLiteral(".bak"))) != mine;
    } catch (const DbError&) {
        return false;
    }
}

// What the file a put-back replaces still gives: its user rows (in the
// columns the copy shares with it), its mark, what it applied, its money rows.
struct ReplacedFile {
    QMap<qint64, QVariantList> users;
    QStringList cols;
    qint64 mark = -1;
    bool markRead = false, allUsersRead = false;
    QMap<qint64, MoneyRow> held;
    bool heldWhole = false;
    QMap<qint64, qint64> owners;
    bool ownersWhole = false;
    QList<LogEntry> mirror;
    // The calls of those entries (tab_callmirror): the table's definition and
    // its rows, by the entry's number, in the columns `callCols`.
    QString callTable;
    QStringList callCols;
    QMap<qint64, QVariantList> calls;
};

// What the file replaced applied that the call file may lack, with the rows
// of the users it added.
QList<LogEntry> AppliedByReplaced(const DamagedImage& old) {
    QList<LogEntry> mirror;
    const QStringList kept = old.columns(kLedgerMirror);
    if (kept.isEmpty()) return mirror;
    QStringList want{QStringLiteral("f_seq"), QStringLiteral("f_gen"), QStringLiteral("f_kind"),
                     QStringLiteral("f_userid"), QStringLiteral("f_amount"), QStringLiteral("f_balance")};
    if (kept.contains(QStringLiteral("f_calladdr"))) {
        want << QStringLiteral("f_calladdr");
        // The call's start: its call is then known as one whose charge a file gave.
        if (kept.contains(QStringLiteral("f_date"))) want << QStringLiteral("f_date");
    }
    for (const QVariantList& row : ReadableRows(old.db, kLedgerMirror, want))
        if (const std::optional<LogEntry> e = EntryOf(row)) mirror << *e;
    WithUserRows(mirror, UserRowsOf(old.db));
    return mirror;
}

// The user rows of the file replaced, in the columns the copy shares with it
// (`f.cols`, emptied when the rows are not to be taken).
void ReadReplacedUsers(const DamagedImage& old, const Database& db, bool takeRows, ReplacedFile& f, LogRecovery& out) {
    const QStringList theirs = old.columns(QStringLiteral("user"));
    QList<platform::ColumnInfo> fields;
    for (const platform::ColumnInfo& c : db.columns(db.actualTableName(QStringLiteral("user"))))
        if (theirs.contains(c.name.toLower())) {
            f.cols << c.name;
            fields << c;
        }
    if (!takeRows || !f.cols.contains(QStringLiteral("userid"), Qt::CaseInsensitive)) {
        f.cols.clear();
        return;
    }
    f.users = ReadableRows(old.db, QStringLiteral("user"), f.cols, &f.allUsersRead);
    // Rows that are no user's (another table read through a
    // damaged page) replace nothing, and leave the set incomplete.
    const int key = f.cols.indexOf(QRegularExpression(QStringLiteral("^userid$"), QRegularExpression::CaseInsensitiveOption));
    const QString keyIndex = KeyIndex(old.db, QStringLiteral("user"), QStringLiteral("userid"));
    for (auto it = f.users.begin(); it != f.users.end();) {
        if (HasShape(*it, fields, key) &&
            IndexAgrees(old.db, keyIndex, QStringLiteral("user"), QStringLiteral("userid"), it->value(key), it.key())) {
            ++it;
        } else {
            ++out.rowsRefused;
            it = f.users.erase(it);
        }
    }
    if (out.rowsRefused > 0) f.allUsersRead = false;
    // Mostly rows of another kind: the table's pages are not
    // its own, and the few that pass are chance.
    if (out.rowsRefused > f.users.size()) {
        out.rowsRefused += int(f.users.size());
        f.users.clear();
    }
}

ReplacedFile ReadReplacedFile(const QString& replaced, const QString& restored, const Database& db, bool takeRows,
                              LogRecovery& out) {
    ReplacedFile f;
    if (replaced.isEmpty() || !QFileInfo(replaced).isFile()) return f;
    const DamagedImage old(replaced, restored);
    if (!old) return f;
    try {
        f.mark = AppliedMark(old.db);
        f.markRead = true;
    } catch (const DbError&) {
        f.mark = -1;
    }
    f.held = MoneyRowsOf(old.db, QString(), &f.heldWhole);
    f.owners = OwnersOf(old.db, &f.ownersWhole);
    f.mirror = AppliedByReplaced(old);
    f.callCols = old.columns(kCallMirror);
    if (f.callCols.contains(QStringLiteral("f_seq"))) {
        try {
            f.callTable = old.db.scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND lower(name)=lower(?)"),
                                        {kCallMirror})
                              .toString();
        } catch (const DbError&) {
        }
        for (const QVariantList& row : ReadableRows(old.db, kCallMirror, f.callCols))
            f.calls.insert(row.value(f.callCols.indexOf(QStringLiteral("f_seq"))).toLongLong(), row);
    }
    ReadReplacedUsers(old, db, takeRows, f, out);
    out.replacedRead = takeRows ? f.allUsersRead : f.heldWhole;
    return f;
}

// The calls the file replaced kept with the entries it applied, for those
// entries of `f.mirror`, kept in the copy's own copy of them: a call file
// lost with it (put back from its older copy) gets them back at the opening
// with their entries, each once (mergeMirror), as it gets the balances.
void KeepCallsOfReplaced(const Database& db, const ReplacedFile& f) {
    if (f.calls.isEmpty()) return;
    QString table = db.actualTableName(kCallMirror);
    if (table.isEmpty()) {
        if (!f.callTable.startsWith(QStringLiteral("CREATE TABLE"), Qt::CaseInsensitive)) return;
        db.execute(f.callTable);
        table = db.actualTableName(kCallMirror);
    }
    QSet<qint64> applied;
    for (const LogEntry& e : f.mirror)
        if (e.kind == int(LogKind::Charge) || e.kind == int(LogKind::Call)) applied.insert(e.seq);
    QList<platform::ColumnInfo> fields;
    QList<int> at;
    QStringList quoted, marks;
    for (const platform::ColumnInfo& c : db.columns(table)) {
        const int i = int(f.callCols.indexOf(c.name.toLower()));
        if (i < 0) continue;
        fields << c;
        at << i;
        quoted << quoteIdent(c.name);
        marks << QStringLiteral("?");
    }
    const int key = int(quoted.indexOf(quoteIdent(QStringLiteral("f_seq"))));
    if (key < 0) return;
    const QString insert = QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (%3)")
                               .arg(db.qualified(table), quoted.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    for (auto it = f.calls.constBegin(); it != f.calls.constEnd(); ++it) {
        if (!applied.contains(it.key())) continue;
        QVariantList row;
        for (int i : at) row << it->value(i);
        // A row of another table read through a damaged page is no call.
        if (!HasShape(row, fields, key)) continue;
        platform::Params values;
        for (const QVariant& v : row) values << platform::Param(v);
        db.execute(insert, values);
    }
}

// The user rows of the file replaced written over the copy's; when every one
// was read, a user the copy has beside them was deleted since and is deleted
// again. Gives, for each user taken, the mark their row stands at.
QMap<qint64, qint64> TakeReplacedUsers(Database& db, const ReplacedFile& f, LogRecovery& out) {
    QMap<qint64, qint64> baseFor;
    const int idCol = f.cols.indexOf(QRegularExpression(QStringLiteral("^userid$"), QRegularExpression::CaseInsensitiveOption));
    if (idCol < 0 || f.users.isEmpty()) return baseFor;
    const QString userTable = db.qualified(db.actualTableName(QStringLiteral("user")));
    QStringList quoted, marks;
    for (const QString& c : f.cols) {
        quoted << quoteIdent(c);
        marks << QStringLiteral("?");
    }
    const QString upsert = QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                               .arg(userTable, quoted.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    for (const QVariantList& row : std::as_const(f.users)) {
        platform::Params values;
        for (const QVariant& v : row) values << platform::Param(v);
        db.execute(upsert, values);
        baseFor.insert(row.value(idCol).toLongLong(), f.mark);
    }
    if (f.allUsersRead) {
        QList<QPair<qint64, QString>> gone;
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT userid, username FROM %1 WHERE userid<>0").arg(userTable));
             r.next();)
            if (!baseFor.contains(r.integer(0))) gone << qMakePair(r.integer(0), r.text(1));
        for (const auto& g : gone) {
            DeleteUserRows(db, g.first);
            out.deleted << QStringLiteral("用户%1 %2").arg(g.first).arg(g.second);
        }
    }
    // The users whose balances came back: the default user holds none.
    out.usersKept = int(std::count_if(f.users.cbegin(), f.users.cend(),
                                      [&](const QVariantList& row) { return row.value(idCol).toLongLong() != 0; }));
    return baseFor;
}

// The entries the copy needs: those past its mark (all of them when it has
// none); entries a damaged page of the log lost that the call file's safety
// copy still holds are read there. How much of the journal read goes to `out`.
QList<LogEntry> EntriesPastCopy(const QString& callFile, const Database& db, LogRecovery& out) {
    bool callFileRead = false, logComplete = false, movedComplete = true, copyRead = false;
    QList<LogEntry> log = ReadJournal(callFile, AppliedMark(db), &callFileRead, &logComplete, &movedComplete);
    log = MergedLog(log, ReadLog(platform::resolvePathCI(callFile + QStringLiteral(".bak")), &copyRead));
    out.callFileUnread = !callFileRead;
    out.logPartial = callFileRead && !logComplete;
    out.movedPartial = !movedComplete;
    return log;
}

// A damaged file whose mark cannot be read says not how far its rows
// went: they are taken only where they hold what the journal ends with,
// else compared, never taken for current.
void TrustReplacedRows(ReplacedFile& old, const QList<LogEntry>& log, qint64 copyMark, qint64 lastKnown, LogRecovery& out) {
    if (old.users.isEmpty() || (old.markRead && old.mark >= 0)) return;
    if (RowsEndWithTheLog(old.users, old.cols, log, copyMark)) {
        old.mark = lastKnown;
    } else {
        out.replacedUntrusted = true;
        old.users.clear();
    }
}

// Every call the call file holds whose charge no entry of `log` gave is
// named, user by user: a log that reads without a fault may still have lost
// entries, and is then a log read in part.
void NameUnloggedCalls(LogRecovery& out, const QString& callFile, const QList<LogEntry>& log, const Database& db,
                       const QMap<qint64, qint64>& baseFor, qint64 copyMark, qint64 replacedMark) {
    QSet<qint64> rowsTaken;
    for (auto it = baseFor.constBegin(); it != baseFor.constEnd(); ++it) rowsTaken.insert(it.key());
    const Unlogged unlogged =
        UnloggedCalls(callFile, log, CopyAnchors(db, callFile, copyMark), copyMark, db, rowsTaken, replacedMark);
    out.unlogged = unlogged.sure;
    out.unloggedUnsure = unlogged.unsure;
    if (!out.callFileUnread && (!out.unlogged.isEmpty() || !out.unloggedUnsure.isEmpty())) out.logPartial = true;
}

// The users `r.lost` names whose money rows `after` holds as `before` does.
void DropLostHeldAlike(LogRecovery& r, const QMap<qint64, MoneyRow>& before, const QMap<qint64, MoneyRow>& after) {
    static const QRegularExpression userOf(QStringLiteral("^用户(\\d+)[ ：]"));
    r.lost.erase(std::remove_if(r.lost.begin(), r.lost.end(),
                                [&](const QString& l) {
                                    const QRegularExpressionMatch m = userOf.match(l);
                                    if (!m.hasMatch()) return false;
                                    const qint64 user = m.captured(1).toLongLong();
                                    if (!before.contains(user) || !after.contains(user)) return false;
                                    const MoneyRow &b = before[user], &a = after[user];
                                    return b.remain == a.remain && b.deposit == a.deposit;
                                }),
                 r.lost.end());
}

// A user whose difference the comparison named is not named again for calls.
void DropCallsOfNamedUsers(LogRecovery& out) {
    if (out.missing.isEmpty()) return;
    static const QRegularExpression userPart(QStringLiteral("[ ：]"));
    QSet<QString> named;
    for (const QString& m : std::as_const(out.missing)) named.insert(m.section(userPart, 0, 0));
    for (QStringList* calls : {&out.unlogged, &out.unloggedUnsure})
        calls->erase(std::remove_if(calls->begin(), calls->end(),
                                    [&](const QString& l) { return named.contains(l.section(userPart, 0, 0)); }),
                     calls->end());
}
}  // namespace

// The one recovery of a station file put back (from its safety copy or from
// a backup) on the copy `restored`, before it goes in: brought up to the
// journal by the one replay (the call file's log as far as it reads, the
// entries moved to the journal file, the call file's safety copy's, and
// those the file it replaces applied), every kind of entry past its mark in
// number order. `takeRows`: the safety copy's road, where the damaged file
// replaced is newer than the copy: the user rows it still gives are taken
// over with the charges past its mark, users it no longer holds (when every
// one of them was read) deleted again; rows whose place in the journal its
// mark cannot tell are not trusted. Where the journal lacks entries, or the
// rows were not trusted, the money rows of the file replaced and of the copy
// are compared user by user. Throws DbError when the copy cannot be written
// (nothing of the recovery is then in it).
LogRecovery RecoverStationFile(const QString& restored, const QString& callFile, const QString& replaced, bool takeRows) {
    LogRecovery out;
    out.putBack = true;
    Database db = Database::open(restored);
    if (OfAnotherStation(db, callFile)) {
        out.foreign = true;
        return out;
    }

    // Every entry any file refuses while the recovery reads is noted here.
    const RefusedEntries refused;
    QList<LogEntry> log = EntriesPastCopy(callFile, db, out);
    ReplacedFile old = ReadReplacedFile(replaced, restored, db, takeRows, out);
    log = MergedLog(log, old.mirror);
    const qint64 copyMark = MarkOfCopy(db, log);
    qint64 lastKnown = old.mark;
    for (const LogEntry& e : log) lastKnown = qMax(lastKnown, e.seq);
    if (takeRows) TrustReplacedRows(old, log, copyMark, lastKnown, out);
    const qint64 replacedMark = old.mark;
    const QMap<qint64, MoneyRow>& held = old.held;
    const bool heldWhole = old.heldWhole;

    platform::Transaction tx(db);
    const QMap<qint64, qint64> baseFor = TakeReplacedUsers(db, old, out);
    QMap<qint64, qint64> heldByCopy = HeldByUnmarkedCopy(db, log, copyMark);
    for (auto it = baseFor.constBegin(); it != baseFor.constEnd(); ++it) heldByCopy.remove(it.key());
    // An entry refused is no less given: the mark goes past it, and nothing applies it later.
    const QMap<qint64, QVariantList> unread = refused.lacking(log, copyMark);
    const qint64 knownLast = unread.isEmpty() ? replacedMark : qMax(replacedMark, unread.lastKey());
    const LogRecovery r = RecoverFromLog(db, log, baseFor, copyMark, knownLast, heldByCopy);
    out.charges = r.charges;
    out.charged = r.charged;
    out.moves = r.moves;
    out.moved = r.moved;
    out.gap = r.gap;
    out.gapFrom = r.gapFrom;
    out.gapTo = r.gapTo;
    out.gaps = r.gaps;
    out.depositsUnchecked = r.depositsUnchecked;
    out.deleted += r.deleted;
    out.added = r.added;
    out.lost = r.lost;
    out.apart = r.apart;
    out.returned = r.returned;
    out.ownersUnset = r.ownersUnset;
    out.ownersLogged = r.ownersLogged;
    out.asked = r.asked;
    // An entry no file gave sound is named with what it reads, not as a gap.
    QList<LogEntry> refusedCalls;
    NameRefused(out, refused, log, copyMark, db, &refusedCalls);
    // What only the replaced file kept goes to the call file at the next opening.
    KeepInMirror(db, old.mirror);
    KeepCallsOfReplaced(db, old);
    // (A call whose entry is named as refused is named there, not again here.)
    const bool readInPart = out.logPartial;
    NameUnloggedCalls(out, callFile, MergedLog(log, refusedCalls), db, baseFor, copyMark, replacedMark);
    // Where entries are lacking, or the replaced file's rows were not taken
    // for want of a mark, what the two files hold is compared, user by user.
    // A replaced file behind the journal holds older rows, not lost ones.
    const bool lacking = out.gap || out.logPartial || out.movedPartial || out.callFileUnread || !out.refused.isEmpty();
    // Rows not trusted for want of a mark are compared only where the journal
    // lacks entries: a journal read whole brought the copy up exactly, and the
    // damaged file's older rows are no difference to check.
    // The rows put back, read once for what follows: a copy whose users do not
    // all read is damaged, and its users not read are no users removed.
    bool afterWhole = true;
    const QMap<qint64, MoneyRow> after = heldWhole ? MoneyRowsOf(db, QString(), &afterWhole) : QMap<qint64, MoneyRow>();
    if (!afterWhole) throw DbError(platform::kErrNotADatabase, QStringLiteral("用户表已损坏，只能部分读取"));
    if (heldWhole && lacking && (out.replacedUntrusted || replacedMark >= lastKnown)) NameDifferences(held, after, out);
    // A user the put-back leaves as the file replaced held them at the
    // journal's end lacks nothing: no amount is asked for again (a restore of
    // the same copy done twice finds the first one's difference once more).
    if (heldWhole && old.markRead && replacedMark >= lastKnown) DropLostHeldAlike(out, held, after);
    DropCallsOfNamedUsers(out);
    // Calls whose entries are gone with the gap, of users named with their
    // differences, are no log read in part.
    if (out.gap && !readInPart && out.unlogged.isEmpty() && out.unloggedUnsure.isEmpty()) out.logPartial = false;
    // The account each call since was dialled with: the calls the files put
    // together kept, those of the call file, as far as its pages read, and
    // those archived.
    CallAccounts dialled;
    AddCallAccounts(db, kCallMirror, dialled);
    if (QFileInfo(callFile).isFile())
        if (const DamagedImage calls(callFile, callFile + QStringLiteral(".bak")); calls)
            AddCallAccounts(calls.db, QStringLiteral("Tab_Phone"), dialled);
    AddArchivedCallAccounts(QFileInfo(callFile).absolutePath(), log, copyMark, dialled);
    out.owners = OwnersAgainstLog(db, log, copyMark, dialled);
    // And whose extensions and accounts: an owner given since whose entry is lost.
    if (old.ownersWhole && lacking && (out.replacedUntrusted || replacedMark >= lastKnown)) NameOwnerDifferences(old.owners, db, out);
    // What the lines ask for is asked once: a later restore finds it asked.
    EnterAsked(db, out, lastKnown);
    // What the put-back changed against a file that held the whole journal is
    // an entry: a later restore of an older copy replays it.
    if (heldWhole && old.markRead && replacedMark >= lastKnown && replacedMark >= 0)
        EnterPutBackChanges(db, held, after, lastKnown);
    tx.commit();
    return out;
}

}  // namespace ModSwitch
