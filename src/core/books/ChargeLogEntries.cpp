// The reading of the journal's entries, from the charge log, the station
// file's mirror and the rows kept beside them, and of those a check refused:
// an entry whose money or place does not read is named, never taken as read.
#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"

#include "core/books/CopyRecovery.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"

namespace ModSwitch {

using platform::DbError;
using namespace chargelog;   // and with it platform's Currency and Database

namespace {
thread_local RefusedEntries* g_refused = nullptr;

// Compared as they are, never through their magnitude: the smallest whole
// number has none a 64-bit number can hold.
bool inReach(const QVariant& v) {
    return v.typeId() == QMetaType::LongLong && v.toLongLong() >= -kEntryReach && v.toLongLong() <= kEntryReach;
}

// A value as it was read, short enough for a line of a box.
QString shownAsRead(const QVariant& v) {
    if (v.isNull()) return QStringLiteral("空");
    QString t = v.toString().simplified();
    if (t.size() > 24) t = t.left(24) + QStringLiteral("…");
    return t;
}

// The line naming an entry the check refused (number, kind and user whole,
// see RefusedEntries::note): its number, its user (by name when `sw` knows
// them), its kind, its call when it reads, and what is wrong.
QString refusedLine(qint64 seq, const QVariantList& v, const Database& sw) {
    QString who = QStringLiteral("用户%1").arg(v.value(3).toLongLong());
    try {
        const QString users = sw.actualTableName(QStringLiteral("user"));
        const QVariant name =
            users.isEmpty() ? QVariant()
                            : sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(sw.qualified(users)), {v.value(3)});
        if (!name.isNull()) who += QLatin1Char(' ') + name.toString();
    } catch (const DbError&) {
    }
    static const char* const kKinds[] = {"话费", "删除用户", "新增用户", "余额变动", "押金变动", "话单",
                                         "所属用户变更", "余额设定", "押金设定"};
    const qint64 kind = v.value(2).toLongLong();
    QStringList known{who, QString::fromUtf8(kKinds[kind])};
    const QDateTime start = platform::parseDate(v.value(7));
    const bool placeRead = v.value(6).typeId() == QMetaType::LongLong;
    const bool dateRead = v.value(7).typeId() == QMetaType::QString && start.isValid();
    if ((kind == int(LogKind::Charge) || kind == int(LogKind::Call)) && placeRead && dateRead)
        known << QStringLiteral("分机%1 %2的话单").arg(v.value(6).toLongLong()).arg(platform::dateText(start));
    const bool amount = !inReach(v.value(4)), balance = !inReach(v.value(5));
    known << (amount || !balance ? QStringLiteral("金额为%1").arg(shownAsRead(v.value(4)))
                                 : QStringLiteral("余额为%1").arg(shownAsRead(v.value(5))));
    // Money within reach: what did not read is the entry's place or date.
    const QString what = amount    ? QStringLiteral("金额无效")
                         : balance ? QStringLiteral("余额无效")
                         : !placeRead ? (kind == int(LogKind::Owner) ? QStringLiteral("的分机或帐号无法读取") : QStringLiteral("的分机无法读取"))
                                      : QStringLiteral("的日期无法读取");
    return QStringLiteral("第%1笔记账记录%2（%3）").arg(seq).arg(what, known.join(QStringLiteral("，")));
}
}  // namespace

// One line for each of `rows` (the first hundred: a box of thousands of lines
// is read by no one), ending with `tail`; then how many more.
QStringList refusedLines(const QMap<qint64, QVariantList>& rows, const Database& sw, const QString& tail) {
    constexpr int kNamed = 100;
    QStringList lines;
    for (auto it = rows.constBegin(); it != rows.constEnd() && lines.size() < kNamed; ++it)
        lines << refusedLine(it.key(), it.value(), sw) + tail;
    if (rows.size() > kNamed) lines << QStringLiteral("另有%1笔记账记录已损坏").arg(rows.size() - kNamed) + tail;
    return lines;
}

RefusedEntries::RefusedEntries() : outer_(g_refused) { g_refused = this; }

RefusedEntries::~RefusedEntries() { g_refused = outer_; }

void RefusedEntries::note(const QVariantList& row) {
    // Only what reads as an entry with its money garbled is one: a row whose
    // number, kind or user is no whole number may be a row of another table
    // read through a damaged page, and names no entry (a log read in part says so).
    for (int i = 0; i < 4; ++i)
        if (row.value(i).typeId() != QMetaType::LongLong) return;
    if (row.size() < 6 || row[2].toLongLong() < 0 || row[2].toLongLong() > int(LogKind::DepositSet)) return;
    rows_.insert(row.value(0).toLongLong(), row);
    if (outer_) outer_->note(row);
}

QMap<qint64, QVariantList> RefusedEntries::lacking(const QList<LogEntry>& log, qint64 after) const {
    QSet<qint64> sound;
    for (const LogEntry& e : log) sound.insert(e.seq);
    QMap<qint64, QVariantList> out;
    for (auto it = rows_.constBegin(); it != rows_.constEnd(); ++it)
        if (it.key() > after && !sound.contains(it.key())) out.insert(it.key(), it.value());
    return out;
}

void NameRefused(LogRecovery& r, const RefusedEntries& refused, const QList<LogEntry>& log, qint64 after, const Database& sw,
                 QList<LogEntry>* calls) {
    const QMap<qint64, QVariantList> lacking = refused.lacking(log, after);
    if (lacking.isEmpty()) return;
    r.refused << refusedLines(lacking, sw, QStringLiteral("，未计入用户余额"));
    for (auto it = lacking.constBegin(); it != lacking.constEnd(); ++it) {
        const QVariantList& v = it.value();
        if (calls && v.value(6).typeId() == QMetaType::LongLong && platform::parseDate(v.value(7)).isValid()) {
            LogEntry e;
            e.seq = it.key();
            e.kind = int(LogKind::Charge);
            e.calladdr = v.value(6).toLongLong();
            e.date = v.value(7).toString();
            *calls << e;
        }
    }
    // Those numbers are no gap: their entries are there, and named as they read.
    QList<QPair<qint64, qint64>> runs;
    for (const auto& run : std::as_const(r.gaps)) {
        qint64 from = run.first;
        for (auto it = lacking.lowerBound(run.first); it != lacking.constEnd() && it.key() <= run.second; ++it) {
            if (it.key() > from) runs << qMakePair(from, it.key() - 1);
            from = it.key() + 1;
        }
        if (from <= run.second) runs << qMakePair(from, run.second);
    }
    r.gaps = runs;
    r.gap = !runs.isEmpty();
    r.gapFrom = r.gap ? runs.first().first : 0;
    r.gapTo = r.gap ? runs.last().second : 0;
}

std::optional<LogEntry> EntryOf(const QVariantList& row, bool whole) {
    if (row.size() < 6) return std::nullopt;
    const auto refuse = [&row]() -> std::optional<LogEntry> {
        if (g_refused) g_refused->note(row);
        return std::nullopt;
    };
    for (int i = 0; i < 6; ++i)
        if (row[i].typeId() != QMetaType::LongLong) return refuse();
    if (!inReach(row[4]) || !inReach(row[5])) return refuse();
    if (whole && (row.value(6).typeId() != QMetaType::LongLong || row.value(7).typeId() != QMetaType::QString ||
                  !platform::parseDate(row.value(7)).isValid()))
        return refuse();
    LogEntry e;
    e.seq = row[0].toLongLong();
    e.gen = row[1].toLongLong();
    e.kind = int(row[2].toLongLong());
    e.userid = row[3].toLongLong();
    e.amount = Currency::fromRaw(row[4].toLongLong());
    e.balance = Currency::fromRaw(row[5].toLongLong());
    e.calladdr = row.value(6).toLongLong();
    e.date = row.value(7).toString();
    return e;
}

QList<LogEntry> EntriesOf(const Database& db, const QString& table, qint64 after, bool* allSound) {
    QList<LogEntry> out;
    if (allSound) *allSound = true;
    for (platform::RowReader r = db.rows(QStringLiteral("SELECT %2 FROM %1 WHERE f_seq>? ORDER BY f_seq")
                                             .arg(db.qualified(table), kEntryColumns),
                                         {after});
         r.next();) {
        if (const std::optional<LogEntry> e = EntryOf(valuesOf(r))) out << *e;
        else if (allSound) *allSound = false;
    }
    return out;
}

QList<LogEntry> MirrorOf(const Database& sw) {
    const QString t = sw.actualTableName(kLedgerMirror);
    return t.isEmpty() ? QList<LogEntry>() : EntriesOf(sw, t);
}

QList<LogEntry> OpenLog(qint64 after, bool* complete) {
    bool sound = true, moved = true;
    QList<LogEntry> log = MergedLog(EntriesOf(dbPhoneCur, kChargeLog, 0, &sound), MovedEntries(dbPhoneCur.path(), after, &moved));
    if (complete) *complete = sound && moved;
    WithUserRows(log, UserRowsOf(dbPhoneCur));
    return log;
}

QMap<qint64, QString> UserRowsOf(const Database& db) {
    QMap<qint64, QString> rows;
    try {
        const QString t = db.actualTableName(kUserRows);
        if (t.isEmpty()) return rows;
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_seq, f_row FROM %1").arg(db.qualified(t))); r.next();)
            if (r.kind(0) == platform::RawRecords::Integer && r.kind(1) == platform::RawRecords::Text)
                rows.insert(r.integer(0), r.text(1));
    } catch (const DbError&) {
        // A damaged file gives what it read.
    }
    return rows;
}

void WithUserRows(QList<LogEntry>& log, const QMap<qint64, QString>& rows) {
    if (rows.isEmpty()) return;
    for (LogEntry& e : log)
        if (e.kind == int(LogKind::UserAdded) && e.row.isEmpty()) e.row = rows.value(e.seq);
}

void KeepInMirror(const Database& sw, const QList<LogEntry>& entries) {
    if (entries.isEmpty()) return;
    ensureMirror(sw, false);
    const QString insert = QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                               .arg(sw.qualified(kLedgerMirror), kEntryColumns);
    for (const LogEntry& e : entries)
        sw.execute(insert, {e.seq, e.gen, e.kind, e.userid, e.amount, e.balance, e.calladdr,
                            e.date.isEmpty() ? QVariant() : QVariant(e.date)});
}

}  // namespace ModSwitch
