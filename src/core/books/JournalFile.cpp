#include "core/books/JournalFile.h"

#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"
#include "core/books/JournalFileInternal.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "core/books/StationRecord.h"
#include "core/books/UserNumbers.h"
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
using namespace journalfile;

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
    // Noted already when a note's clock before the move was at least as late
    // and reads the newest entry's month in its year (as the duplicate check
    // reads it): an older move back from a later clock places these calls
    // in another year.
    for (const ClockPutRight& move : ClocksPutRight()) {
        const QDateTime then = move.when.addSecs(-move.by);
        const int year = newest.date().month() > then.date().month() ? then.date().year() - 1 : then.date().year();
        if (then >= newest && year == newest.date().year()) return;
    }
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

}  // namespace

namespace journalfile {

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

}  // namespace journalfile

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

namespace journalfile {

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

QString causeOf(const DbError& e) { return platform::meansDamage(e) ? QStringLiteral("文件已损坏") : platform::troubleCause(e); }

}  // namespace journalfile

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

namespace journalfile {

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

}  // namespace journalfile

namespace {

// Moves the entries numbered up to `through` to the journal file: copied
// there (those it holds already stay as they are) and synced, then deleted
// from the log together with the note of how far the moves went. A kill in
// between leaves them in both files, which every reader takes once. True when
// entries old by the clock alone were kept.
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
