#include "core/CopyRecovery.h"

#include "billing/ArchiveBills.h"
#include "core/ChargeLog.h"
#include "core/JournalFile.h"
#include "core/DbHeader.h"
#include "core/Notices.h"
#include "core/WriteAhead.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/DbPages.h"
#include "platform/MsgCodes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::quoteIdent;

namespace {

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

// Money a row of this station can hold: a balance or an amount past a hundred
// million yuan is no value the station wrote, but bytes of another page.
constexpr qint64 kMoneyReach = 100000000LL * 10000;

bool IsInteger(const QVariant& v) { return v.typeId() == QMetaType::LongLong; }

// A row read from a damaged image is taken only when it has the shape of a
// row of its table: an integer key, each value of the kind its field holds,
// no empty required field, money within reach. Rows of another table read
// through a damaged page fail it.
bool HasShape(const QVariantList& row, const QList<platform::ColumnInfo>& fields, int keyCol) {
    if (row.size() != fields.size()) return false;
    if (keyCol >= 0 && (!IsInteger(row.value(keyCol)) || row.value(keyCol).toLongLong() < 0)) return false;
    for (int i = 0; i < row.size(); ++i) {
        const QVariant& v = row[i];
        const platform::ColumnInfo& f = fields[i];
        if (v.isNull()) {
            if (f.notNull) return false;
            continue;
        }
        switch (f.type) {
        case platform::ftCurrency:
            if (!IsInteger(v) || qAbs(v.toLongLong()) > kMoneyReach) return false;
            break;
        case platform::ftBoolean:
        case platform::ftByte:
        case platform::ftInteger:
        case platform::ftLong:
            if (!IsInteger(v)) return false;
            break;
        case platform::ftSingle:
        case platform::ftDouble:
            if (v.typeId() == QMetaType::QString) return false;
            break;
        case platform::ftText:
        case platform::ftMemo:
            if (v.typeId() != QMetaType::QString) return false;
            break;
        default: break;
        }
    }
    return true;
}

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

// The header of the image of a damaged file put right for the page size
// judged: only that size where every other field stands, else written anew
// from the copy's header `refHead` (or a plain file's, without a copy).
void PutHeaderRight(QByteArray& image, const QByteArray& refHead, int pageSize) {
    if (HeaderFault(image).isEmpty()) {
        if (PageSizeOf(image) != pageSize) {
            // Every other field stands: only the size is put right, the
            // page count left to the file's size.
            image[16] = char((pageSize >> 8) & 0xff);
            image[17] = char(pageSize == 65536 ? 1 : pageSize & 0xff);
            for (int i = 0; i < 4; ++i) image[92 + i] = char(~image[24 + i]);
        }
    } else {
        // A field the engine refuses: the header is written anew.
        QByteArray head = PageSizeOf(refHead) ? refHead.left(100) : QByteArray();
        if (head.isEmpty()) {
            // No copy to take it from: the header of a plain file of this page size.
            head = QByteArray(100, '\0');
            head.replace(0, 16, QByteArray("SQLite format 3\0", 16));
            head[18] = 1;
            head[19] = 1;
            head[21] = 64;
            head[22] = 32;
            head[23] = 32;
            head[27] = 1;
            head[43] = 1;   // schema cookie
            head[47] = 4;   // schema format
            head[59] = 1;   // UTF-8
        }
        head[16] = char((pageSize >> 8) & 0xff);
        head[17] = char(pageSize == 65536 ? 1 : pageSize & 0xff);
        // The page count is taken from the image's size, not from the header.
        for (int i = 0; i < 4; ++i) head[92 + i] = char(~head[24 + i]);
        image.replace(0, 100, head);
    }
}

// A damaged database file read in memory, on a connection of its own, for
// what can still be read from it; the file itself is never written. Its page
// size is judged against its log, its size and the sound copy `reference` of
// the same file (JudgedPageSize); a header with a field the engine refuses is
// written anew in the image from that copy; a first page whose table list
// cannot be read is taken from the copy too (the tables keep the pages they
// were made on).
struct DamagedImage {
    Database db;
    explicit operator bool() const { return db.isOpen(); }

    DamagedImage(const QString& damaged, const QString& reference = QString()) {
        QByteArray image;
        {
            QFile f(damaged);
            if (!f.open(QIODevice::ReadOnly)) return;
            image = f.readAll();
        }
        const bool log = QFileInfo(damaged + QStringLiteral("-wal")).size() > 0;
        const bool hotJournal = QFileInfo(damaged + QStringLiteral("-journal")).size() > 0;
        const QByteArray refHead = reference.isEmpty() ? QByteArray() : HeadOf(reference, 65536);
        // The header is judged by what the file holds: a page size the log,
        // the file's size or the copy belies is not taken at its word.
        const int pageSize = JudgedPageSize(image, log ? PageSizeOfLog(damaged + QStringLiteral("-wal")) : 0, PageSizeOf(refHead));
        if (!pageSize || image.size() < pageSize) return;
        QByteArray firstPage;   // the copy's first page, should the image's not read
        PutHeaderRight(image, refHead, pageSize);
        if (PageSizeOf(refHead) == pageSize && refHead.size() >= pageSize) {
            firstPage = refHead.left(pageSize);
            firstPage.replace(0, 100, image.left(100));
        }
        // Cut to whole pages: a page the file holds only in part would give
        // rows of zeros and garbage.
        image.truncate(image.size() - image.size() % pageSize);
        if ((hotJournal || log) && !image.isEmpty()) {
            // Its hot journal is rolled back first, or its write-ahead log
            // brought into it, on copies: the file itself is never written.
            QTemporaryDir work;
            const QString source = work.filePath(QStringLiteral("r.mdb"));
            const QString side = hotJournal ? QStringLiteral("-journal") : QStringLiteral("-wal");
            QByteArray mode = image;
            if (!hotJournal) mode[18] = mode[19] = 2;
            QFile out(source);
            if (work.isValid() && out.open(QIODevice::WriteOnly) && out.write(mode) == mode.size() && (out.close(), true) &&
                QFile::copy(damaged + side, source + side)) {
                try {
                    Database r = Database::open(source);
                    if (log) r.tryExecute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
                    r.close();
                    QFile in(source);
                    if (in.open(QIODevice::ReadOnly)) {
                        const QByteArray played = in.readAll();
                        if (PageSizeOf(played) == pageSize) image = played;
                    }
                } catch (const DbError&) {
                    // What could not be brought back, the pages read below still hold.
                }
            }
            image.truncate(image.size() - image.size() % pageSize);
        }
        if (image.isEmpty()) return;
        // Read in memory, a file that kept a write-ahead log reads as one that never did.
        if (quint8(image[18]) == 2) image[18] = 1;
        if (quint8(image[19]) == 2) image[19] = 1;
        try {
            db = Database::openImage(image);
            db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        } catch (const DbError&) {
            db = Database();
            if (firstPage.isEmpty()) return;
            image.replace(0, pageSize, firstPage);
            try {
                db = Database::openImage(image);
            } catch (const DbError&) {
                db = Database();
            }
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

// What the damaged call file gave back.
struct RowsRecovered {
    int calls = 0;        // calls the copy lacked, copied into it
    bool whole = false;   // every call of the damaged file could be read
};

// Copies into the restored call file the calls and rejects the damaged one
// still holds that the copy lacks, in one transaction.
RowsRecovered RecoverRows(const QString& restored, const QString& damaged) {
    RowsRecovered out;
    const DamagedImage old(damaged, restored);
    if (!old) return out;
    int calls = 0;
    bool whole = false;
    try {
        Database db = Database::open(restored);
        platform::Transaction tx(db);
        for (const QString& t : {QStringLiteral("Tab_Phone"), QStringLiteral("tab_errPh"), kChargeLog}) {
            const QString mine = db.actualTableName(t);
            const QStringList theirs = old.columns(t);
            if (mine.isEmpty() || theirs.isEmpty()) continue;
            QStringList cols;
            QList<platform::ColumnInfo> fields;
            for (const platform::ColumnInfo& c : db.columns(mine))
                if (theirs.contains(c.name.toLower())) {
                    cols << c.name;
                    fields << c;
                }
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
            bool complete = false;
            const QMap<qint64, QVariantList> rows = ReadableRows(old.db, t, cols, &complete);
            if (isCalls) whole = complete;
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
                // A row that is no row of this table (a damaged page) is not taken.
                const int key = isCalls ? addrCol : isLog ? seqCol : -1;
                if (!HasShape(*it, fields, key) ||
                    (isCalls && !platform::parseDate(it->value(dateCol)).isValid()))
                    continue;
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
        out.calls = calls;
        out.whole = whole;
        return out;
    } catch (const DbError&) {
        return out;
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

namespace {

// The charge log of the call file `callFile`, as far as it can be read.
// `complete` false when part of it could not be read (a damaged page, or
// entries whose values are no amounts: those are left out and counted).
QList<LogEntry> ReadLog(const QString& callFile, bool* read, bool* complete = nullptr, int* rejected = nullptr,
                        QMap<qint64, QString>* userRows = nullptr) {
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
namespace {
// The calls the call file's safety copy holds (extension and start) and the
// last entry of its log; `known` false when either did not read whole.
struct CallCopy {
    QSet<QString> calls;
    qint64 last = 0;
    bool known = false;
};
QString callKey(const QVariant& addr, const QVariant& date) {
    return addr.toString() + QLatin1Char(' ') + platform::dateText(platform::parseDate(date));
}
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
}  // namespace

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
    out.deleted += r.deleted;
    out.added = r.added;
    out.lost = r.lost;
    out.apart = r.apart;
    out.returned = r.returned;
    out.ownersUnset = r.ownersUnset;
    out.ownersLogged = r.ownersLogged;
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
    if (heldWhole && lacking && (out.replacedUntrusted || replacedMark >= lastKnown)) NameDifferences(held, MoneyRowsOf(db), out);
    // A user the put-back leaves as the file replaced held them at the
    // journal's end lacks nothing: no amount is asked for again (a restore of
    // the same copy done twice finds the first one's difference once more).
    if (heldWhole && old.markRead && replacedMark >= lastKnown) DropLostHeldAlike(out, held, MoneyRowsOf(db));
    DropCallsOfNamedUsers(out);
    // Calls whose entries are gone with the gap, of users named with their
    // differences, are no log read in part.
    if (out.gap && !readInPart && out.unlogged.isEmpty() && out.unloggedUnsure.isEmpty()) out.logPartial = false;
    out.owners = OwnersAgainstLog(db, log, copyMark);
    // And whose extensions and accounts: an owner given since whose entry is lost.
    if (old.ownersWhole && lacking && (out.replacedUntrusted || replacedMark >= lastKnown)) NameOwnerDifferences(old.owners, db, out);
    // What the put-back changed against a file that held the whole journal is
    // an entry: a later restore of an older copy replays it.
    if (heldWhole && old.markRead && replacedMark >= lastKnown && replacedMark >= 0)
        EnterPutBackChanges(db, held, lastKnown);
    tx.commit();
    return out;
}

namespace {

const QStringList kSideFiles{QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")};

bool moveWithSides(const QString& from, const QString& to) {
    if (!platform::renameFile(from, to)) return false;
    for (const QString& side : kSideFiles)
        if (QFileInfo::exists(from + side)) QFile::rename(from + side, to + side);
    return true;
}

std::function<void(const QString&)> g_restoreStep;

}  // namespace

bool PutBack(const QString& source, const QString& target, const QString& work,
             const std::function<bool(const QString& work)>& recover, QString* error) {
    const QString dir = QFileInfo(target).absolutePath();
    auto fail = [&] {
        if (error) *error = platform::lastFileError();
        RemoveWorkFile(work);
        return false;
    };
    RemoveWorkFile(work);
    if (!platform::safeReplace(source, work)) return fail();
    RestoreStep(QStringLiteral("copied"));
    bool recovered = false;
    try {
        recovered = !recover || recover(work);
    } catch (const DbError&) {
        recovered = false;
    }
    if (!recovered) {
        // What the recovery left half done is not put in: the source goes in as it is.
        RemoveWorkFile(work);
        if (!platform::safeReplace(source, work)) return fail();
    } else if (!platform::syncFile(work)) {
        return fail();
    }
    RestoreStep(QStringLiteral("recovered"));
    // A journal or log the replaced file left would be played into the new one.
    for (const QString& side : kSideFiles) QFile::remove(target + side);
    if (!moveWithSides(work, target)) return fail();
    platform::syncDir(dir);
    return true;
}

void RemoveWorkFile(const QString& path) {
    QFile::remove(path);
    for (const QString& side : kSideFiles) QFile::remove(path + side);
}

namespace {
QString pendingPath(const QString& target) { return target + QStringLiteral(".pending-restore"); }
}  // namespace

void RestoreStep(const QString& step) {
    if (g_restoreStep) g_restoreStep(step);
}

bool WritePending(const QString& target, const PendingRestore& p, QString* error) {
    const QByteArray text = "TARVORESTORE\n" + QFileInfo(p.aside).fileName().toUtf8() + '\n' + p.copyTime.toUtf8() + '\n' +
                            (p.existed ? "1" : "0") + "\nEND\n";
    return platform::writeFileDurably(pendingPath(target), text, error);
}

platform::ReadState ReadPending(const QString& target, PendingRestore* p) {
    QByteArray text;
    const platform::ReadState state = platform::readFileStrictly(pendingPath(target), &text);
    if (state != platform::ReadState::Read) return state;
    const QList<QByteArray> lines = text.split('\n');
    // Whole, or not read at all: the last line closes it (a mark of the
    // former form ends after its fourth line).
    const bool whole = (lines.size() >= 6 && lines[4] == "END") || (lines.size() == 5 && lines[4].isEmpty());
    if (!whole || lines[0] != "TARVORESTORE" || (lines[3] != "1" && lines[3] != "0") || lines[1].contains('/'))
        return platform::ReadState::Unreadable;
    const QString dir = QFileInfo(target).absolutePath() + QLatin1Char('/');
    p->aside = lines[1].isEmpty() ? QString() : dir + QString::fromUtf8(lines[1]);
    p->copyTime = QString::fromUtf8(lines[2]);
    p->existed = lines[3] == "1";
    return platform::ReadState::Read;
}

namespace {

// Whether the station file of `dir` keeps every entry the call file's copy
// `callCopy` lacks, with the calls they stored: a call file lost and put back
// from its copy then gets every call since back at the opening.
bool StationFileKeepsWhatTheCopyLacks(const QString& callCopy, const QString& dir) {
    try {
        const Database copy = Database::openReadOnly(callCopy);
        // A copy taken before the log was made lacks every entry.
        const qint64 last = copy.actualTableName(kChargeLog).isEmpty()
                                ? 0
                                : copy.scalar(QStringLiteral("SELECT coalesce(max(f_seq), 0) FROM %1").arg(copy.qualified(kChargeLog)))
                                      .toLongLong();
        const QString file = platform::resolveCI(dir, QStringLiteral("switch.mdb"));
        if (!QFileInfo(file).isFile()) return false;
        const Database sw = Database::openReadOnly(file);
        const qint64 mark = AppliedMark(sw);
        if (mark < 0) return false;
        if (mark <= last) return true;
        if (sw.actualTableName(kLedgerMirror).isEmpty()) return false;
        const qint64 kept = sw.scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE f_seq>? AND f_seq<=?").arg(sw.qualified(kLedgerMirror)),
                                      {last, mark})
                                .toLongLong();
        return kept == mark - last;
    } catch (const DbError&) {
        return false;
    }
}

// The calls the damaged call file `aside` gave back to the copy `work` of
// `bak` (those the copy lacked) whose charge no entry still read gives (the
// damaged log's own, the copy's, the journal file's, the station file's in
// `dir`: its pages lost, the station file put back without them): their
// charge is in no balance. Named by user, with how many and what they cost.
QStringList UnchargedCallsBack(const QString& work, const QString& bak, const QString& aside, const QString& dir) {
    QList<LogEntry> entries;
    bool read = false;
    entries << ReadLog(work, &read) << ReadLog(aside, &read)
            << MovedEntries(platform::resolveCI(dir, QStringLiteral("PhoneCur.mdb")), 0);
    Database sw;
    try {
        sw = Database::openReadOnly(platform::resolveCI(dir, QStringLiteral("switch.mdb")));
        entries << MirrorOf(sw);
    } catch (const DbError&) {
        sw = Database();
    }
    QSet<QString> logged;
    for (const LogEntry& e : std::as_const(entries))
        if ((e.kind == int(LogKind::Charge) || e.kind == int(LogKind::Call)) && platform::parseDate(e.date).isValid())
            logged.insert(callKey(e.calladdr, e.date));
    const QStringList want{QStringLiteral("f_calladdr"), QStringLiteral("f_date"), QStringLiteral("f_userid"),
                           QStringLiteral("f_moneny"),   QStringLiteral("f_addfee1"), QStringLiteral("f_addfee2"),
                           QStringLiteral("f_gatefee"),  QStringLiteral("f_linkfee")};
    QSet<QString> copied;
    const DamagedImage copy(bak);
    if (!copy || !copy.columns(QStringLiteral("Tab_Phone")).contains(QStringLiteral("f_date"))) return {};
    for (const QVariantList& row : ReadableRows(copy.db, QStringLiteral("Tab_Phone"), want.mid(0, 2)))
        copied.insert(callKey(row.value(0), row.value(1)));
    QMap<qint64, QPair<int, platform::Currency>> byUser;
    try {
        const Database calls = Database::openReadOnly(work);
        for (const QVariantList& row : ReadableRows(calls, QStringLiteral("Tab_Phone"), want)) {
            const QString key = callKey(row.value(0), row.value(1));
            qint64 fee = 0;
            if (copied.contains(key) || logged.contains(key) || !FeeOf(row, 3, &fee) || fee == 0 || row.value(2).toLongLong() == 0)
                continue;
            auto& n = byUser[row.value(2).toLongLong()];
            ++n.first;
            n.second += platform::Currency::fromRaw(fee);
        }
    } catch (const DbError&) {
        return {};
    }
    return CallLines(sw, byUser);
}

// The restore of `target` from `bak` that `p` describes, from wherever a
// power cut left it: the damaged file aside, the copy brought up to date
// beside the target and renamed over it once its recovery has committed, the
// box's text in `text`. Run again, it does the same again.
// The tables of the station file set aside (`aside`) whose rows differ from
// its copy's, but those the journal brings back (the users' balances and
// deposits, the journal's own copies, the station's notes): what the session
// wrote since the copy (a table uploaded, rows edited) that the put-back
// undoes. Told from their leaf pages; nothing when the file's tables cannot
// be listed.
QStringList TablesWrittenSinceCopy(const QString& aside, const QString& bak) {
    const QStringList replayed{QStringLiteral("user"), kLedgerMirror, kCallMirror, kUserRows, QStringLiteral("tab_writeahead"),
                               QStringLiteral("Variant")};
    QMap<QString, QPair<qint64, qint64>> roots;   // by name: the root in the copy, and in the file set aside
    try {
        const QString list = QStringLiteral("SELECT name, rootpage FROM sqlite_master WHERE type='table' AND rootpage > 0 "
                                            "AND name NOT LIKE 'sqlite%'");
        for (platform::RowReader r = Database::openSnapshot(bak).rows(list); r.next();) roots[r.text(0)].first = r.integer(1);
        for (platform::RowReader r = Database::openSnapshot(aside).rows(list); r.next();)
            if (roots.contains(r.text(0))) roots[r.text(0)].second = r.integer(1);
    } catch (const DbError&) {
        return {};
    }
    QStringList out;
    const platform::LeafComparer pages(aside, bak);
    for (auto it = roots.cbegin(); it != roots.cend(); ++it) {
        bool skip = false;
        for (const QString& t : replayed) skip = skip || it.key().compare(t, Qt::CaseInsensitive) == 0;
        if (skip) continue;
        const platform::LeavesCompared c = it->second > 0 ? pages.compare(it->second, it->first) : platform::LeavesCompared{};
        if (!c.compared || !c.onlyA.isEmpty() || !c.onlyB.isEmpty()) out << it.key();
    }
    return out;
}

bool CompleteRestoreFromBak(const QString& bak, const QString& target, const PendingRestore& p, QString* text, bool keep,
                            bool& kept) {
    const QString dir = QFileInfo(target).absolutePath();
    if (!p.aside.isEmpty() && !QFileInfo::exists(p.aside) && QFileInfo::exists(target)) {
        if (!moveWithSides(target, p.aside)) return false;
    } else {
        // A copy a former attempt put in place is made anew.
        RemoveWorkFile(target);
    }
    platform::syncDir(dir);
    RestoreStep(QStringLiteral("moved"));
    const QString name = QFileInfo(target).fileName();
    // The copy is brought up to date beside the target and goes in whole: a
    // power cut before its rename leaves the mark, and the next start does it all again.
    QString t;
    const bool put = PutBack(bak, target, target + QStringLiteral(".recovered"), [&](const QString& work) {
        t = p.existed ? QStringLiteral("数据库文件%1已损坏，") : QStringLiteral("数据库文件%1不存在，");
        t = t.arg(name) + QStringLiteral("已用备份%1恢复（备份时间%2）。").arg(QFileInfo(bak).fileName(), p.copyTime);
        const QString aside = QFileInfo::exists(p.aside) ? p.aside : QString();
        if (!aside.isEmpty()) t += QStringLiteral("损坏的文件保存为%1。").arg(QDir::toNativeSeparators(aside));
        if (StationTables(target).contains(QStringLiteral("Variant"))) {
            LogRecovery r;
            r.putBack = true;
            try {
                r = RecoverStationFile(work, platform::resolveCI(dir, QStringLiteral("PhoneCur.mdb")), aside, true);
            } catch (const DbError& e) {
                // What could not be written stays as the copy has it; the box says so.
                r.failed = e.text();
            }
            for (const QString& l : RecoveryLines(r)) t += QLatin1Char('\n') + l;
            if (const QStringList written = aside.isEmpty() ? QStringList() : TablesWrittenSinceCopy(aside, bak); !written.isEmpty())
                t += QStringLiteral("\n备份之后改动过的以下各表已恢复为备份时的内容，请核对：%1").arg(written.join(QStringLiteral("、")));
        } else {
            if (!aside.isEmpty()) {
                const RowsRecovered rows = RecoverRows(work, aside);
                t += QStringLiteral("从损坏的文件中找回%1张话单。").arg(rows.calls);
                const QStringList uncharged = rows.calls > 0 ? UnchargedCallsBack(work, bak, aside, dir) : QStringList();
                if (!uncharged.isEmpty())
                    t += QStringLiteral("\n以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n") + uncharged.join(QLatin1Char('\n'));
                // Calls the damaged file held in pages that no longer read are not in the copy either.
                if (!rows.whole) t += QStringLiteral("\n损坏的文件无法完整读取，备份之后存储的话单可能未能全部找回。");
            } else if (StationFileKeepsWhatTheCopyLacks(work, dir)) {
                t += QStringLiteral("备份之后存储的话单由数据库文件switch.mdb保存，打开时找回。");
            } else {
                t += QStringLiteral("备份之后存储的话单无法找回。");
            }
            // The copy may predate an archive run: its calls already in the year files are not billed twice.
            int archived = 0;
            try {
                archived = billing::DropArchivedRows(Database::open(work));
            } catch (const DbError&) {
            }
            if (archived > 0) t += QStringLiteral("\n备份中有%1张话单早已转存到年度归档文件，已从话单库删除。").arg(archived);
        }
        // Told after the opening (the change of site), the box's text goes
        // in with the file it tells of: a kill from here on leaves it for
        // the next opening (the copy's own reports belong to the copy's
        // time and go). Told at once, the mark stays until it was shown.
        // The reports the damaged file still gives, which its copy may never
        // have held, come with the file put back in place of the copy's own.
        if (!keep) {
            try {
                const Database w = Database::open(work);
                platform::Transaction tx(w);
                CarryReports(w, aside);
                tx.commit();
            } catch (const DbError&) {
                // The copy's stay: told again rather than never.
            }
            return true;
        }
        try {
            const Database w = Database::open(work);
            platform::Transaction tx(w);
            CarryReports(w, aside);
            KeepReport(w, PutBackReportKey(target), {t, QStringLiteral("警告"), platform::mbOKOnly});
            tx.commit();
            kept = true;
        } catch (const DbError&) {
            kept = false;
        }
        return true;
    });
    if (!put) return false;
    RestoreStep(QStringLiteral("renamed"));
    *text = t;
    return true;
}

}  // namespace

// The restore of `f` from `b` that a mark describes; the operator is told, and the mark goes.
bool FinishRestore(const QString& b, const QString& f, const PendingRestore& p, QString* failure, QString* notice) {
    QString text;
    bool kept = false;
    platform::clearFileError();
    if (!CompleteRestoreFromBak(b, f, p, &text, notice != nullptr, kept)) {
        // The mark stays: the next start takes the restore up where it stopped.
        const QString cause = platform::lastFileError();
        if (failure)
            *failure = QStringLiteral("恢复数据库失败!") + (cause.isEmpty() ? QString() : QStringLiteral("（%1）").arg(cause));
        return false;
    }
    if (notice) {
        // Shown after the opening by the road: the report in the file put
        // back outlives the mark, and a kill before that box leaves it for
        // the next opening (SettleAtOpening).
        *notice += (notice->isEmpty() ? QString() : QStringLiteral("\n")) + text;
        if (kept) HoldReport(f, PutBackReportKey(f));
    } else {
        TellAndUnmark(pendingPath(f), {text, QStringLiteral("警告"), platform::mbOKOnly});
        return true;
    }
    if (QFile::remove(pendingPath(f))) platform::syncDir(QFileInfo(f).absolutePath());
    return true;
}

QString PutBackReportKey(const QString& file) { return QStringLiteral("putback:") + QFileInfo(file).fileName().toLower(); }

QStringList RecoverRestoredStationFile(const QString& stationFile, const QString& callFile, const QString& replaced) {
    return RecoveryLines(RecoverStationFile(stationFile, callFile, replaced, false));
}

bool PlacedInJournal(const QString& copyPath, const QString& callFile) {
    try {
        const Database copy = Database::openReadOnly(copyPath);
        const qint64 mark = AppliedMark(copy);
        if (mark <= 0) return false;
        bool read = false, complete = false, moved = true;
        const QList<LogEntry> log = ReadJournal(callFile, qMax<qint64>(0, mark - 2000), &read, &complete, &moved);
        const QString users = copy.actualTableName(QStringLiteral("user"));
        if (users.isEmpty()) return false;
        // The last entry up to the mark that set a balance: the balance it
        // gives is the copy's for that user, if the copy is of this journal.
        for (auto e = log.crbegin(); e != log.crend(); ++e) {
            if (e->seq > mark || (e->kind != int(LogKind::Charge) && e->kind != int(LogKind::Balance))) continue;
            const QVariant remain =
                copy.scalar(QStringLiteral("SELECT remain FROM %1 WHERE userid=?").arg(copy.qualified(users)), {e->userid});
            return !remain.isNull() && platform::Currency::fromRaw(remain.toLongLong()) == e->balance;
        }
    } catch (const DbError&) {
    }
    return false;
}

namespace testing {
void setRestoreStepHook(std::function<void(const QString&)> hook) { g_restoreStep = std::move(hook); }
}  // namespace testing

}  // namespace ModSwitch
