#include "core/books/JournalFile.h"

#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"
#include "core/books/CopyRecovery.h"
#include "core/books/DbHeader.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/books/StationRecord.h"
#include "core/books/UserNumbers.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace ModSwitch {

using platform::Database;
using platform::DbError;

namespace {

// Entries older than the safety copy's mark and older than this are let go:
// a backup older than that is put back without them, and its box says so.
constexpr int kKeepDays = 400;
// Entries applied and held by every safety copy stay in the call file this
// long, then move to the journal file: what a start compacts and copies is
// the journal of a few days, however old the journal is.
constexpr int kLiveDays = 7;

// The mark both the station file and its safety copy reached: a copy put back
// at a start needs nothing at or below it. -1 without a copy that reads.
qint64 markOfStationCopy() {
    const QString bak = platform::resolvePathCI(dbSwitch.path() + QStringLiteral(".bak"));
    if (!QFileInfo(bak).isFile()) return -1;
    try {
        qint64 copyMark = -1;
        {
            const Database copy = Database::openReadOnly(bak);
            copyMark = AppliedMark(copy);
        }
        return qMin(copyMark, AppliedMark(dbSwitch));
    } catch (const DbError&) {
        return -1;
    }
}

QString daysAgo(int days) { return platform::Now().addDays(-days).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

// A start that finds the clock this far past the newest entry doubts it
// (a quiet weekend, a holiday are no such clock).
constexpr int kDoubtDays = 31;
}  // namespace

// The call file's note of the entries after which a start found the clock
// far past the newest entry: the numbers, comma-separated.
const QString kClockDoubted = QStringLiteral("TarvoClockDoubted");

namespace {

QSet<qint64> clockDoubts() {
    QSet<qint64> out;
    if (!logOpen() || dbPhoneCur.actualTableName(kNotes).isEmpty()) return out;
    for (const QString& n : GetVariant(dbPhoneCur, kClockDoubted, QString(), kNotes).split(QLatin1Char(','), Qt::SkipEmptyParts))
        out.insert(n.toLongLong());
    return out;
}

// The newest entry's date, of those not dated in the future (a clock set
// back since): "" when none.
QString newestEntryDate() {
    return dbPhoneCur.scalar(QStringLiteral("SELECT max(f_date) FROM %1 WHERE f_date<?").arg(logTable()), {daysAgo(-1)}).toString();
}

}  // namespace

// At an opening: a clock far past the newest entry may be set ahead. The
// entries written on it are then no clock for the entries before: the days
// between the last entry before it and the first after it are not counted
// towards their age (see agedThrough) until the entries since show the time.
// True when noted now.
bool noteClockDoubt() {
    noteClockPutBack();   // the other way: the clock behind its entries
    const QString newest = newestEntryDate();
    if (newest.isEmpty() || newest >= daysAgo(kDoubtDays)) return false;
    const qint64 last = lastLogged();
    QSet<qint64> doubts = clockDoubts();
    if (last <= 0 || doubts.contains(last)) return false;
    QList<qint64> numbers(doubts.begin(), doubts.end());
    numbers << last;
    std::sort(numbers.begin(), numbers.end());
    QStringList text;
    for (qint64 n : numbers) text << QString::number(n);
    SetVariant(dbPhoneCur, kClockDoubted, text.join(QLatin1Char(',')), kNotes);
    // At least this far ahead since the newest entry: a call made before and
    // sent again now is read in the year the clock gives now.
    const QDateTime now = platform::Now();
    notePutRight({now, platform::parseDate(newest).secsTo(now)});
    return true;
}

namespace {
// Each a note "when|by"; the newest few are enough to place a call sent again.
constexpr int kPutRightKept = 16;
// A step of the clock smaller than this moves no call into another year but
// in the minutes around the new year; the tick and the clock drift apart by
// less between two records.
constexpr qint64 kClockStepMs = 10 * 60 * 1000;
// The moves seen on the call file open now, whether or not their note was
// written (a write refused, a batch rolled back).
QStringList& sessionMoves() {
    static QStringList moves;
    static quint64 on = 0;
    if (std::exchange(on, dbPhoneCur.connectionSerial()) != dbPhoneCur.connectionSerial()) moves.clear();
    return moves;
}
// The call file's notes with this session's moves after them, the newest last.
QStringList putRightNotes() {
    QStringList notes;
    if (logOpen() && !dbPhoneCur.actualTableName(kNotes).isEmpty())
        notes = GetVariant(dbPhoneCur, kClockPutRight, QString(), kNotes).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& m : sessionMoves())
        if (!notes.contains(m)) notes << m;
    while (notes.size() > kPutRightKept) notes.removeFirst();
    return notes;
}
}  // namespace

const QString kClockPutRight = QStringLiteral("TarvoClockPutRight");

QList<ClockPutRight> ClocksPutRight() {
    QList<ClockPutRight> out;
    for (const QString& n : putRightNotes()) {
        const qsizetype bar = n.indexOf(QLatin1Char('|'));
        bool ok = false;
        const ClockPutRight move{platform::parseDate(n.left(bar)), n.mid(bar + 1).toLongLong(&ok)};
        if (bar > 0 && ok && move.when.isValid()) out << move;
    }
    return out;
}

void notePutRight(const ClockPutRight& move) {
    QStringList& moves = sessionMoves();
    moves << move.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char('|') + QString::number(move.by);
    while (moves.size() > kPutRightKept) moves.removeFirst();
    if (logOpen() && !dbPhoneCur.actualTableName(kNotes).isEmpty())
        SetVariant(dbPhoneCur, kClockPutRight, putRightNotes().join(QLatin1Char(',')), kNotes);
}

// At an opening: entries dated more than a day past the clock were written
// under a clock since put back (in a session this start did not see): the
// move is noted once, from the newest of them.
void noteClockPutBack() {
    if (!logOpen()) return;
    const QDateTime newest = platform::parseDate(dbPhoneCur.scalar(QStringLiteral("SELECT max(f_date) FROM %1").arg(logTable())));
    const QDateTime now = platform::Now();
    if (!newest.isValid() || newest <= now.addDays(1)) return;
    for (const ClockPutRight& move : ClocksPutRight())
        if (move.when.addSecs(-move.by) >= newest) return;   // noted already
    notePutRight({now, newest.secsTo(now)});
}

void WatchClock() {
    // The clock less the tick at the last look, on the call file then open
    // (files opened anew are a new start: its check speaks for the clock).
    static std::optional<qint64> seen;
    static quint64 seenOn = 0;
    const QDateTime now = platform::Now();
    const qint64 offset = now.toMSecsSinceEpoch() - platform::TickMs();
    std::optional<qint64> before = std::exchange(seen, offset);
    const quint64 on = dbPhoneCur.connectionSerial();
    if (std::exchange(seenOn, on) != on) before.reset();
    if (!before || qAbs(offset - *before) < kClockStepMs) return;
    try {
        notePutRight({now, (offset - *before) / 1000});
    } catch (const DbError&) {
        // Kept in memory and written with the next move: the records of this
        // session see it either way.
    }
}

namespace {

// The highest number, up to `through`, of the entries of `db`'s log table
// `table` that are older than the keeping time both by the clock and by the
// entries numbered after them (the open call file's log included): the days
// from one entry to the next count, never backwards (an entry dated in the
// future is no clock), and not across a clock a start doubted. 0 when none
// is. `heldBack`: entries old by the clock alone are kept.
qint64 agedThrough(const Database& db, const QString& table, qint64 through, bool* heldBack = nullptr) {
    if (heldBack) *heldBack = false;
    // By the clock: the oldest entries, in number order, up to the first
    // younger one (an entry without a date goes with its older neighbours).
    const QString cutoff = daysAgo(kKeepDays);
    qint64 byClock = 0;
    for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_seq, f_date FROM %1 WHERE f_seq<=? ORDER BY f_seq")
                                             .arg(db.qualified(table)),
                                         {through});
         r.next();) {
        if (r.isNull(1)) continue;
        if (r.text(1) >= cutoff) break;
        byClock = r.integer(0);
    }
    if (byClock <= 0) return 0;
    // By the entries: walking back from the newest, the days they span.
    const QSet<qint64> doubts = clockDoubts();
    double span = 0, later = 0;
    qint64 laterSeq = 0, byEntries = 0, lowest = std::numeric_limits<qint64>::max();
    const auto walk = [&](const Database& from, const QString& log) {
        for (platform::RowReader r = from.rows(QStringLiteral("SELECT f_seq, julianday(f_date) FROM %1 WHERE f_seq<? "
                                                              "ORDER BY f_seq DESC")
                                                   .arg(log),
                                               {lowest});
             r.next();) {
            lowest = r.integer(0);
            if (r.isNull(1)) continue;
            const double day = r.real(1);
            bool doubted = false;
            for (qint64 d : doubts) doubted = doubted || (d >= lowest && d < laterSeq);
            if (laterSeq > 0 && !doubted) span += qMax(0.0, later - day);
            later = day;
            laterSeq = lowest;
            if (span >= kKeepDays) {
                byEntries = lowest;
                return;
            }
        }
    };
    if (logOpen() && !(db.path() == dbPhoneCur.path() && table == kChargeLog)) walk(dbPhoneCur, logTable());
    if (byEntries == 0) walk(db, db.qualified(table));
    if (heldBack) *heldBack = byEntries < byClock;
    return qMin(byClock, byEntries);
}

// Told once for each newest entry: the clock is far past it (a start
// doubts it), and entries over the keeping time by that clock stayed.
void tellClockAhead() {
    thread_local QString told;
    const QString newest = newestEntryDate();
    if (newest.isEmpty() || newest >= daysAgo(kDoubtDays)) return;
    const QString key = dbPhoneCur.path() + QLatin1Char('\n') + newest;
    if (told == key) return;
    told = key;
    core::Notify(QStringLiteral("电脑的时钟（%1）比最近一笔记账记录（%2）晚一天以上，可能设置有误：超过%3天的记账记录这次没有清除。"
                                "请核对电脑的日期和时间。")
                     .arg(nowText(), newest.left(19))
                     .arg(kKeepDays),
                 platform::mbOKOnly, QStringLiteral("提示"));
}

}  // namespace

// The notes of the newest backups' marks ("<prefix><file>"): see NoteBackupMark.
const QString kBackupMarkPrefix = QStringLiteral("TarvoBackupMark:");

namespace {

// The backups a road may put back, found where they are kept: "Switch.mdb"
// in 数据库管理's folders of the settings (and the default one), each and in
// the dated folders under it, and the users' copy "Backup.mdb" beside the
// station's files (the safety copies hold the entries they need already).
// The lowest entry after which one of them needs every entry to be put back:
// its own mark, or for a station file without one, where the restore places
// it by its rows (the last entry older than its copy, kept itself so that it
// places it the same; a file older than the copies keeps every entry). A
// file of another station is no backup of this one. -1 when none is found.
qint64 lowestBackupFound(const Database& j) {
    QStringList folders{QDir(DataPath).filePath(QStringLiteral("Backup"))};
    for (const char* key : {"BackupPath", "RestorePath", "AutoPath"}) {
        QString f;
        try {
            f = GetVariant(QString::fromLatin1(key), QString()).trimmed();
        } catch (const DbError&) {
        }
        if (!f.isEmpty() && QFileInfo(f).isDir()) folders << f;
    }
    QStringList copies;
    for (const QString& f : std::as_const(folders)) {
        QDir d(f);
        QStringList places{d.absolutePath()};
        for (const QString& sub : d.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) places << d.absoluteFilePath(sub);
        for (const QString& p : std::as_const(places)) {
            const QString copy = platform::resolveCI(p + QLatin1Char('/'), QStringLiteral("Switch.mdb"));
            if (QFileInfo(copy).isFile() && !copies.contains(QFileInfo(copy).absoluteFilePath()))
                copies << QFileInfo(copy).absoluteFilePath();
        }
    }
    const StationRecord record = ReadStationRecord();
    const QString& mine = record.id;
    const QString& former = record.formerId;
    qint64 lowest = -1;
    const auto keep = [&](qint64 mark) { lowest = lowest < 0 ? mark : qMin(lowest, mark); };
    for (const QString& copy : std::as_const(copies)) {
        try {
            const QString theirs = StationIdOf(copy);
            if (!theirs.isEmpty() && !mine.isEmpty() && theirs != mine && theirs != former) continue;
            const Database sw = Database::openReadOnly(copy);
            const qint64 mark = AppliedMark(sw);
            if (mark >= 0) {
                keep(mark);
                continue;
            }
            const qint64 generation = CopyGenerationOf(sw);
            qint64 placed = 0;
            for (const auto& [db, table] : {std::pair{j, j.qualified(kChargeLog)}, std::pair{dbPhoneCur, logTable()}}) {
                if (db.actualTableName(kChargeLog).isEmpty() && db.path() == j.path()) continue;
                placed = qMax(placed, db.scalar(QStringLiteral("SELECT max(f_seq) FROM %1 WHERE f_gen<?").arg(table), {generation})
                                          .toLongLong());
            }
            keep(qMax<qint64>(0, placed - 1));
        } catch (const DbError&) {
            // A copy that cannot be read is no backup a restore takes.
        }
    }
    // The users' copy of 用户管理, by the mark it carries.
    const QString users = platform::resolveCI(DataPath, QStringLiteral("Backup.mdb"));
    if (QFileInfo(users).isFile()) {
        try {
            const Database b = Database::openReadOnly(users);
            const QString marks = b.actualTableName(QStringLiteral("TarvoBackupMarks"));
            if (!marks.isEmpty()) {
                bool ok = false;
                const qint64 mark =
                    b.scalar(QStringLiteral("SELECT value FROM %1 WHERE varname=?").arg(b.qualified(marks)), {kChargeMark})
                        .toString()
                        .toLongLong(&ok);
                if (ok && mark >= 0) keep(mark);
            }
        } catch (const DbError&) {
        }
    }
    return lowest;
}

// Lets go in the journal file `j` the entries older than the keeping time
// (agedThrough), oldest first, never past `through`, what both safety copies
// and the newest backups hold, in the caller's transaction. True when
// entries old by the clock alone were kept.
bool dropAged(const Database& j, qint64 through) {
    bool heldBack = false;
    const qint64 lastAged = agedThrough(j, kChargeLog, through, &heldBack);
    if (lastAged > 0) j.execute(QStringLiteral("DELETE FROM %1 WHERE f_seq<=?").arg(j.qualified(kChargeLog)), {lastAged});
    return heldBack;
}

// The journal file carries the name of its station, as the two other files
// do (and the first number never given to a user): another station's file is
// not read as this one's. In the caller's transaction.
void nameJournalFile(const Database& j) {
    if (j.actualTableName(kNotes).isEmpty())
        j.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)").arg(j.qualified(kNotes)));
    // The copies follow the station's record.
    const StationRecord record = ReadStationRecord();
    if (!record.id.isEmpty() && GetVariant(j, kStationId, QString(), kNotes).isEmpty()) SetVariant(j, kStationId, record.id, kNotes);
    if (record.usersFrom > GetVariant(j, kUserNumbersNote, QString(), kNotes).toLongLong())
        SetVariant(j, kUserNumbersNote, QString::number(record.usersFrom), kNotes);
    // The newest backups' marks, as the call file notes them.
    if (!dbPhoneCur.actualTableName(kNotes).isEmpty())
        j.execute(QStringLiteral("INSERT OR REPLACE INTO %1 (varname, value) SELECT varname, value FROM %2 WHERE varname LIKE ?")
                      .arg(j.qualified(kNotes), dbPhoneCur.qualified(kNotes)),
                  {kBackupMarkPrefix + QLatin1Char('%')});
}

}  // namespace

// The call file's notes on the journal file: its state when it last passed
// its check (a start checks its pages again only when it changed since: a
// move into a file known sound notes the state it leaves), and the first
// number it keeps (what a file lost took with it is named by number).
const QString kJournalChecked = QStringLiteral("TarvoJournalChecked");
const QString kJournalFrom = QStringLiteral("TarvoJournalFrom");
// The highest number the journal file held after the last move or rebuild
// (written in the same commit as "TarvoChargeMoved"): a file that holds less
// (emptied, an older copy of it) has lost entries, whatever its pages say.
const QString kJournalLast = QStringLiteral("TarvoJournalLast");
// "<prefix><name>": the set-aside journal file <name> was read back in whole.
const QString kAsideRead = QStringLiteral("TarvoJournalAsideRead:");
// The work file of a rebuild the call file took for made: put in place at once, or at the next opening.
const QString kJournalRebuilt = QStringLiteral("TarvoJournalRebuilt");

namespace {

QString identityText(const QString& path) { return QString::fromLatin1(platform::fileIdentity(path).toHex()); }

// Journal files a reader found damaged since they were last checked.
QSet<QString> g_doubted;

bool journalKnownSound(const QString& path) {
    const QString id = identityText(path);
    return !id.isEmpty() && !g_doubted.contains(QFileInfo(path).absoluteFilePath()) &&
           GetVariant(dbPhoneCur, kJournalChecked, QString(), kNotes) == id;
}

// In the caller's transaction on the call file, or alone.
void noteJournalSound(const QString& path) {
    const QString id = identityText(path);
    if (!id.isEmpty() && GetVariant(dbPhoneCur, kJournalChecked, QString(), kNotes) != id)
        SetVariant(dbPhoneCur, kJournalChecked, id, kNotes);
}

// The trouble last told of the journal file (its path and cause): told once,
// and again only once the file was found writable in between.
QString g_journalTrouble;

// What to look at follows the cause (`journal`: the journal file's, which a
// damaged one has set aside at the next opening).
QString adviceFor(const QString& cause, bool journal = true) {
    if (cause.contains(QStringLiteral("只读")) || cause.contains(QStringLiteral("权限")))
        return QStringLiteral("请检查该文件的只读属性和数据目录的写入权限");
    if (cause.contains(QStringLiteral("占用"))) return QStringLiteral("请关闭正在使用该文件的其他程序");
    if (cause.contains(QStringLiteral("已满")) || cause.contains(QStringLiteral("大小超出")))
        return QStringLiteral("请尽快检查磁盘空间");
    if (cause.contains(QStringLiteral("读写错误"))) return QStringLiteral("请尽快检查磁盘");
    if (journal && cause.contains(QStringLiteral("损坏"))) return QStringLiteral("下次启动时将另存该文件并重新建立");
    return QStringLiteral("请排除故障后重新启动");
}

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

QString causeOf(const DbError& e) { return platform::meansDamage(e) ? QStringLiteral("文件已损坏") : platform::troubleCause(e); }

}  // namespace

// The journal file cannot be written now (`cause`, as troubleCause says it):
// the settled entries stay in the call file, which loses nothing by it. Told once.
void tellJournalTrouble(const QString& path, const QString& cause) {
    const QString key = path + QLatin1Char('\n') + cause;
    if (g_journalTrouble == key) return;
    g_journalTrouble = key;
    core::Notify(QStringLiteral("计费记录归档文件%1无法写入（%2），已结清的记账记录暂时保留在话单文件中，%3。")
                     .arg(kJournalFile, cause, adviceFor(cause)),
                 platform::mbOKOnly, QStringLiteral("警告"));
}

void tellJournalCheckStopped(const DbError& e) {
    const QString dir = QFileInfo(dbPhoneCur.path()).absolutePath();
    const auto* by = dynamic_cast<const RefusedBy*>(&e);
    if (!by) {
        tellJournalTrouble(platform::resolveCI(dir, kJournalFile), causeOf(e));
        return;
    }
    const QString cause = causeOf(e);
    const QString key = QDir(dir).filePath(by->file()) + QLatin1Char('\n') + cause;
    if (g_journalTrouble == key) return;
    g_journalTrouble = key;
    // Nothing moves to the journal file until its check goes through.
    core::Notify(QStringLiteral("话单文件%1无法写入（%2），计费记录归档文件%3的检查未完成，下次启动时再次检查；"
                                "已结清的记账记录暂时保留在话单文件中，%4。")
                     .arg(by->file(), cause, kJournalFile, adviceFor(cause, false)),
                 platform::mbOKOnly, QStringLiteral("警告"));
}

namespace {

// Whether the journal file `j` holds what the call file says was moved into
// it: the highest number it held after the last move or rebuild
// ("TarvoJournalLast"), or, noted by a station before that note, any entry
// at all while a moved one should still be there.
bool JournalFileHoldsWhatWasMoved(const Database& j) {
    const StationRecord record = ReadStationRecord();
    const qint64 moved = record.movedThrough;
    if (moved <= 0) return true;
    const qint64 from = record.journalFrom < 0 ? 1 : record.journalFrom;
    const bool table = !j.actualTableName(kChargeLog).isEmpty();
    const QVariant last = table ? j.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(j.qualified(kChargeLog))) : QVariant();
    if (record.journalLast >= 0) return !last.isNull() && last.toLongLong() >= record.journalLast;
    return from > moved || !last.isNull();
}

// Moves the entries numbered up to `through` to the journal file: copied
// there (those it holds already stay as they are) and synced, then deleted
// from the log together with the note of how far the moves went. A kill in
// between leaves them in both files, which every reader takes once. True when
// entries old by the clock alone were kept.
// The journal file attached for the station's own writes: written by
// appends and read by restores only, so a rollback journal, every commit
// synced; detached however the work ends.
struct AttachedJournal {
    explicit AttachedJournal(const QString& path) : j(dbSwitch.attach(path, QStringLiteral("chargejournal"))) {
        try {
            j.scalar(QStringLiteral("PRAGMA %1.journal_mode=DELETE").arg(platform::quoteIdent(j.schema())));
            j.execute(QStringLiteral("PRAGMA %1.synchronous=FULL").arg(platform::quoteIdent(j.schema())));
        } catch (...) {
            detach();
            throw;
        }
    }
    ~AttachedJournal() { detach(); }
    AttachedJournal(const AttachedJournal&) = delete;
    AttachedJournal& operator=(const AttachedJournal&) = delete;
    void detach() {
        try {
            if (j.isOpen()) j.close();
        } catch (const DbError&) {
        }
    }
    Database j;
};

bool moveEntries(qint64 through) {
    const QString dir = QFileInfo(dbPhoneCur.path()).absolutePath();
    const QString path = platform::resolveCI(dir, kJournalFile);
    const bool fresh = !QFileInfo::exists(path);
    // A file known sound stays known sound through what this move writes.
    const bool sound = fresh || journalKnownSound(path);
    // Gone while entries were moved into it: made again, from what still
    // gives them, only by the opening's check, which names what is lost.
    if (fresh && movedThrough() > 0)
        throw DbError(platform::kErrNotADatabase, QStringLiteral("计费记录归档文件不见了"));
    if (fresh) Database::create(path).close();
    AttachedJournal attached(path);
    Database& j = attached.j;
    bool heldBack = false;
    // A file that lost what was moved into it (emptied, an older copy) is
    // not written: a move would take its lowest entry for the first one kept
    // and the loss would never be counted. The next opening rebuilds it.
    if (!fresh && !JournalFileHoldsWhatWasMoved(j))
        throw DbError(platform::kErrNotADatabase, QStringLiteral("计费记录归档文件缺少已移入的记账记录"));
    {
        platform::Transaction tx(j);
        if (j.actualTableName(kChargeLog).isEmpty())
            j.execute(QStringLiteral("CREATE TABLE %1 %2").arg(j.qualified(kChargeLog), kLogDefinition));
        nameJournalFile(j);
        j.execute(QStringLiteral("INSERT OR IGNORE INTO %1 (%3) SELECT %3 FROM %2 WHERE f_seq<=?")
                      .arg(j.qualified(kChargeLog), logTable(), kEntryColumns),
                  {through});
        // Nor past the newest backups' marks: putting one back needs every entry since.
        // The journal file holds the call file's marks now (nameJournalFile) and
        // keeps those a call file put back from its older copy lacks: its own
        // record's lowest is the lowest of both.
        qint64 horizon = ReadStationRecord(j).lowestBackupMark();
        const qint64 found = lowestBackupFound(j);
        if (found >= 0) horizon = horizon < 0 ? found : qMin(horizon, found);
        heldBack = dropAged(j, horizon >= 0 ? qMin(through, horizon) : through);
        tx.commit();
    }
    const QVariant from = j.scalar(QStringLiteral("SELECT min(f_seq) FROM %1").arg(j.qualified(kChargeLog)));
    const QVariant held = j.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(j.qualified(kChargeLog)));
    if (fresh) platform::syncDir(dir);
    platform::Transaction tx(dbPhoneCur);
    dbPhoneCur.execute(QStringLiteral("DELETE FROM %1 WHERE f_seq<=?").arg(logTable()), {through});
    if (through > movedThrough()) SetVariant(dbPhoneCur, kMovedNote, QString::number(through), kNotes);
    SetVariant(dbPhoneCur, kJournalFrom, QString::number(from.isNull() ? through + 1 : from.toLongLong()), kNotes);
    SetVariant(dbPhoneCur, kJournalLast, held.isNull() ? QString() : QString::number(held.toLongLong()), kNotes);
    if (sound) noteJournalSound(path);
    tx.commit();
    return heldBack;
}
}  // namespace

void DoubtJournalFile(const QString& path) {
    g_doubted.insert(QFileInfo(path).absoluteFilePath());
    // Kept on the disk too, for a start of the next run.
    try {
        if (dbPhoneCur.isOpen() && dbPhoneCur.autocommit() && !dbPhoneCur.actualTableName(kNotes).isEmpty())
            SetVariant(dbPhoneCur, kJournalChecked, QString(), kNotes);
    } catch (const DbError&) {
    }
}

void WriteJournalFile(const QString& path, const std::function<void()>& write) {
    const bool sound = dbPhoneCur.isOpen() && journalKnownSound(path);
    write();
    if (sound) noteJournalSound(path);
}

void MoveSettledEntries() {
    if (!logOpen() || !dbSwitch.isOpen() || foreignStationFile() || dbSwitch.inTransaction() || !dbSwitch.autocommit())
        return;
    try {
        // Applied, held by both safety copies (a file put back at a start then
        // finds them where it looks), and not the last: the log keeps the
        // highest number given.
        qint64 through = qMin(qMin(markOfStationCopy(), lastInCallCopy()), lastLogged() - 1);
        if (through <= 0) return;
        // The entries that move are all those up to a number: up to the first
        // one of the last days (a date past tomorrow is a clock set wrong, not a young entry).
        const QVariant young = dbPhoneCur.scalar(
            QStringLiteral("SELECT f_seq FROM %1 WHERE f_seq<=? AND f_date>=? AND f_date<? ORDER BY f_seq LIMIT 1")
                .arg(logTable()),
            {through, daysAgo(kLiveDays), daysAgo(-1)});
        if (!young.isNull()) through = young.toLongLong() - 1;
        const QVariant first = dbPhoneCur.scalar(QStringLiteral("SELECT min(f_seq) FROM %1").arg(logTable()));
        if (first.isNull() || first.toLongLong() > through) return;
        if (moveEntries(through)) tellClockAhead();
    } catch (const DbError& e) {
        // The entries stay in the call file; the next opening or night moves
        // them. The cause is told once: a file that keeps refusing is the operator's to see.
        const QString path = platform::resolveCI(QFileInfo(dbPhoneCur.path()).absolutePath(), kJournalFile);
        if (platform::meansDamage(e)) DoubtJournalFile(path);
        tellJournalTrouble(path, platform::meansDamage(e) ? QStringLiteral("文件已损坏")
                                                          : platform::troubleCause(e));
    }
}

namespace {

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

void NoteBackupMark(const QString& what, qint64 mark) {
    if (!dbPhoneCur.isOpen() || mark < 0) return;
    try {
        if (dbPhoneCur.actualTableName(kNotes).isEmpty())
            dbPhoneCur.execute(
                QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)").arg(dbPhoneCur.qualified(kNotes)));
        SetVariant(dbPhoneCur, kBackupMarkPrefix + what, QString::number(mark), kNotes);
    } catch (const DbError&) {
        // The backup is made all the same; the older note, lower, keeps more.
    }
}

}  // namespace ModSwitch
