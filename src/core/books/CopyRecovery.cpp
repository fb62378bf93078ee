#include "core/books/CopyRecovery.h"
#include "core/books/CopyRecoveryInternal.h"

#include "billing/ArchiveBills.h"
#include "core/books/ChargeLog.h"
#include "core/books/DbHeader.h"
#include "core/Notices.h"
#include "core/books/WriteAhead.h"
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

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::quoteIdent;
using namespace copyrecovery;

namespace copyrecovery {

// Reads the rows of `table` that the engine can still read, by rowid:
// forwards until the first damaged page, then backwards from the end.
QMap<qint64, QVariantList> ReadableRows(const Database& db, const QString& table, const QStringList& cols,
                                        bool* complete) {
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

}  // namespace copyrecovery

namespace {

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

// Whether the station file of `dir` applied no entry past the last one the
// call file's copy `callCopy` holds (false when either does not read).
bool StationFileStopsAtTheCopy(const QString& callCopy, const QString& dir) {
    try {
        const Database copy = Database::openReadOnly(callCopy);
        if (copy.actualTableName(kChargeLog).isEmpty()) return false;
        const qint64 last =
            copy.scalar(QStringLiteral("SELECT coalesce(max(f_seq), 0) FROM %1").arg(copy.qualified(kChargeLog))).toLongLong();
        const QString file = platform::resolveCI(dir, QStringLiteral("switch.mdb"));
        if (!QFileInfo(file).isFile()) return false;
        const qint64 mark = AppliedMark(Database::openReadOnly(file));
        return mark >= 0 && mark <= last;
    } catch (const DbError&) {
        return false;
    }
}

// The calls the damaged call file `aside` gave back to the copy `work` of
// `bak` (those the copy lacked) whose charge no entry still read gives (the
// damaged log's own, the copy's, the journal file's, the station file's in
// `dir`: its pages lost, the station file put back without them): their
// charge is in no balance. Named by user, with how many and what they cost.
// `asideWhole`: whether the damaged file's log read whole.
QStringList UnchargedCallsBack(const QString& work, const QString& bak, const QString& aside, const QString& dir,
                               bool* asideWhole) {
    QList<LogEntry> entries;
    bool read = false;
    entries << ReadLog(work, &read) << ReadLog(aside, &read, asideWhole)
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
                bool logWhole = true;
                const QStringList uncharged = rows.calls > 0 ? UnchargedCallsBack(work, bak, aside, dir, &logWhole) : QStringList();
                if (!uncharged.isEmpty())
                    t += QStringLiteral("\n以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n") + uncharged.join(QLatin1Char('\n'));
                // The damaged log lost in part, and a station file that applied
                // nothing since the copy (put back by hand): a payment or a
                // deposit moved since is in no file either, and nothing tells
                // its amount or its user; with no call after it, nothing else
                // would show that anything went.
                if (rows.calls == 0) {
                    bool read = false;
                    ReadLog(aside, &read, &logWhole);
                }
                if (!logWhole && StationFileStopsAtTheCopy(bak, dir))
                    t += QStringLiteral("\n备份之后的缴费、结算和押金变动如有，其计费记录也已无法读取，未计入用户余额，"
                                        "请核对%1备份之后办理过这些业务的用户的余额。")
                             .arg(uncharged.isEmpty() ? QString() : QStringLiteral("以上用户及"));
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
            if (e->seq > mark ||
                (e->kind != int(LogKind::Charge) && e->kind != int(LogKind::Balance) && e->kind != int(LogKind::BalanceSet)))
                continue;
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
