#include "billing/Settlement.h"

#include "billing/ArchiveBills.h"
#include "core/ModDefine.h"
#include "platform/GridText.h"
#include "platform/Clock.h"

#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>
#include <cstring>
#include <sched.h>

using platform::Currency;
using platform::Database;
using platform::DbError;
using platform::Params;

namespace billing {

namespace {

const QString kReadSchema = QStringLiteral("settle_year");

const char* const kFeeColumns[5] = {"f_basefee", "f_addfee1", "f_addfee2", "f_poundage", "f_iplinkfee"};
const char* const kTypeColumns[10] = {"f_international", "f_worldarea", "f_internal", "f_province", "f_mobile",
                                      "f_suburb", "f_information", "f_city", "f_ipphone", "f_local"};

// A settlement error that names no database fault: the description is ours.
struct UserError {
    QString text;
};

QString inList(int n) {
    QStringList marks;
    for (int i = 0; i < n; ++i) marks << QStringLiteral("?");
    return marks.join(',');
}

// "yyyy-MM-dd HH:mm:ss", the text platform::dateText writes, made without
// the locale's formatter: a run writes a few for every line and row.
QString stampText(const QDateTime& t) {
    if (!t.isValid()) return platform::dateText(t);
    const QDate d = t.date();
    const QTime tm = t.time();
    if (d.year() < 1000 || d.year() > 9999) return platform::dateText(t);
    char b[19];
    auto two = [&](int at, int v) {
        b[at] = char('0' + v / 10);
        b[at + 1] = char('0' + v % 10);
    };
    two(0, d.year() / 100);
    two(2, d.year() % 100);
    b[4] = '-';
    two(5, d.month());
    b[7] = '-';
    two(8, d.day());
    b[10] = ' ';
    two(11, tm.hour());
    b[13] = ':';
    two(14, tm.minute());
    b[16] = ':';
    two(17, tm.second());
    return QString::fromLatin1(b, 19);
}

// A stored date read as platform::parseDate reads it; the usual text
// "yyyy-MM-dd HH:mm:ss" without the locale's parser.
QDateTime storedDate(const QVariant& v) {
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        int n[6] = {};
        static const int at[6] = {0, 5, 8, 11, 14, 17}, len[6] = {4, 2, 2, 2, 2, 2};
        bool plain = s.size() == 19 && s[4] == u'-' && s[7] == u'-' && s[10] == u' ' && s[13] == u':' && s[16] == u':';
        for (int k = 0; plain && k < 6; ++k)
            for (int i = at[k]; i < at[k] + len[k]; ++i) {
                const char16_t c = s[i].unicode();
                if (c < u'0' || c > u'9') plain = false;
                n[k] = n[k] * 10 + (c - u'0');
            }
        if (plain) {
            const QDate d(n[0], n[1], n[2]);
            const QTime tm(n[3], n[4], n[5]);
            if (d.isValid() && tm.isValid() && n[0] >= 1000) {
                const QDateTime t(d, tm);
                if (t.isValid() && t.date() == d && t.time() == tm) return t;
            }
        }
    }
    return platform::parseDate(v);
}

// Texts compared as SQLite compares them: bytes, then the shorter first.
int compareText(QByteArrayView a, QByteArrayView b) {
    const int c = std::memcmp(a.data(), b.data(), size_t(std::min(a.size(), b.size())));
    if (c != 0) return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The lines of each user, by start: `order` holds the line numbers of every
// user side by side, each user's span in order of start.
struct LineIndex {
    struct Span {
        int first = 0, count = 0;
    };
    QHash<qint64, Span> byUser;
    std::vector<Span> direct;            // the same by user number, for the numbers up to a few thousand
    std::vector<int> order;
    std::vector<QByteArray> start, end;  // stored date texts of each line

    const Span* find(qint64 userId) const {
        if (userId >= 0 && userId < qint64(direct.size())) {
            const Span& s = direct[size_t(userId)];
            return s.count ? &s : nullptr;
        }
        const auto u = byUser.constFind(userId);
        return u == byUser.constEnd() ? nullptr : &u.value();
    }
    // The user's line whose period holds `date`, -1 for none.
    int lineOf(const Span& s, QByteArrayView date) const {
        // The last period starting at or before the call.
        int line = -1;
        for (int lo = s.first, hi = s.first + s.count - 1; lo <= hi;) {
            const int mid = (lo + hi) / 2;
            if (compareText(start[size_t(order[size_t(mid)])], date) <= 0) {
                line = order[size_t(mid)];
                lo = mid + 1;
            } else {
                hi = mid - 1;
            }
        }
        if (line < 0 || compareText(date, end[size_t(line)]) >= 0) return -1;
        return line;
    }
};

// What one part of a table adds to the lines: per line its sums and its
// detail rows in the order their first call was read. A detail is found
// again by its line and extension address or account code in a table of
// its own, which does not grow per line.
class PartSums {
public:
    struct Detail {
        int line;
        int next = -1;          // the line's next detail, in order of first call
        bool account;
        qint64 addr;            // extension address
        QByteArray code;        // account code
        PeriodSums sums;
    };

    explicit PartSums(int lines = 0) : sums_(size_t(lines)), head_(size_t(lines), -1), tail_(size_t(lines), -1) {}

    PeriodSums& line(int i) { return sums_[size_t(i)]; }
    const PeriodSums& line(int i) const { return sums_[size_t(i)]; }
    int lineCount() const { return int(sums_.size()); }
    bool touched(int i) const { return head_[size_t(i)] >= 0; }
    int first(int i) const { return head_[size_t(i)]; }
    const Detail& detail(int d) const { return details_[size_t(d)]; }

    // The detail row of a call of `line`, added on its first call.
    PeriodSums& detailOf(int line, bool account, QByteArrayView code, qint64 addr) {
        if (2 * (details_.size() + 1) > slots_.size()) grow();
        const size_t mask = slots_.size() - 1;
        for (size_t at = hashOf(line, account, code, addr) & mask;; at = (at + 1) & mask) {
            const int d = slots_[at];
            if (d < 0) {
                slots_[at] = add(line, account, code, addr);
                return details_.back().sums;
            }
            Detail& x = details_[size_t(d)];
            if (x.line == line && x.account == account &&
                (account ? QByteArrayView(x.code) == code : x.addr == addr))
                return x.sums;
        }
    }

    // Adds `part`, read after what this holds: detail rows new to a line
    // follow the line's others.
    void merge(const PartSums& part) {
        for (int i = 0; i < part.lineCount(); ++i) {
            if (!part.touched(i)) continue;
            addSums(line(i), part.line(i));
            for (int d = part.first(i); d >= 0; d = part.detail(d).next) {
                const Detail& x = part.detail(d);
                addSums(detailOf(i, x.account, x.code, x.addr), x.sums);
            }
        }
    }

    // The detail rows of `line` as the statement keeps them.
    QList<DetailRow> rows(int line) const {
        QList<DetailRow> out;
        for (int d = head_[size_t(line)]; d >= 0; d = details_[size_t(d)].next) {
            const Detail& x = details_[size_t(d)];
            DetailRow r;
            r.kind = x.account ? kKindAccount : kKindExtension;
            r.name = x.account ? QString::fromUtf8(x.code) : QString::number(x.addr);
            r.sums = x.sums;
            out << r;
        }
        return out;
    }

    static void addSums(PeriodSums& into, const PeriodSums& s) {
        for (int k = 0; k < 11; ++k) into.types[k] += s.types[k];
        for (int k = 0; k < 5; ++k) into.fees[k] += s.fees[k];
    }

private:
    static size_t hashOf(int line, bool account, QByteArrayView code, qint64 addr) {
        quint64 h = quint64(line) * 0x9E3779B97F4A7C15ull;
        if (account) {
            quint64 f = 0xcbf29ce484222325ull;
            for (const char c : code) f = (f ^ quint8(c)) * 0x100000001b3ull;
            h ^= f + 0x632BE59BD9B4E019ull;
        } else {
            h ^= quint64(addr) * 0xC2B2AE3D27D4EB4Full;
        }
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        return size_t(h ^ (h >> 32));
    }
    int add(int line, bool account, QByteArrayView code, qint64 addr) {
        const int d = int(details_.size());
        details_.push_back(Detail{line, -1, account, account ? 0 : addr, account ? code.toByteArray() : QByteArray(), {}});
        if (tail_[size_t(line)] >= 0) details_[size_t(tail_[size_t(line)])].next = d;
        else head_[size_t(line)] = d;
        tail_[size_t(line)] = d;
        return d;
    }
    void grow() {
        const size_t size = std::max<size_t>(64, slots_.size() * 2);
        slots_.assign(size, -1);
        for (int d = 0; d < int(details_.size()); ++d) {
            const Detail& x = details_[size_t(d)];
            size_t at = hashOf(x.line, x.account, x.code, x.addr) & (size - 1);
            while (slots_[at] >= 0) at = (at + 1) & (size - 1);
            slots_[at] = d;
        }
    }

    std::vector<PeriodSums> sums_;
    std::vector<int> head_, tail_;
    std::vector<Detail> details_;
    std::vector<int> slots_;
};

// What a call's row is read for: the calls of the chosen categories and
// length within the run's span.
struct ReadFilter {
    bool chosen[10] = {};
    int minSeconds = 0;
    QString from, to;    // the run's span as stored texts

    ReadFilter(const QList<int>& categories, int seconds, const QDateTime& f, const QDateTime& t)
        : minSeconds(seconds), from(stampText(f)), to(stampText(t)) {
        for (const int c : categories)
            if (c >= 0 && c <= 9) chosen[c] = true;
    }
};

// Adds the calls of one table (those of the rowid span [`lo`, `hi`] when
// `lo` <= `hi`) into the lines whose user and period each call falls in: one
// pass in stored order. `whole` says that every call of the table lies in
// the run's span when it is a call of its month at all: the dates are then
// told by the lines alone.
void sumTable(const Database& db, const QString& table, bool whole, qint64 lo, qint64 hi, const ReadFilter& f,
              const LineIndex& ix, PartSums& out) {
    QString sql = QStringLiteral("SELECT f_userid, f_date, f_calladdr, f_zh, f_phmode, f_moneny, f_addfee1, f_addfee2, "
                                 "f_gatefee, f_linkfee FROM ") +
                  db.qualified(table) + QStringLiteral(" WHERE 1");
    Params params;
    if (!whole) {
        // The dates compare as the texts they are stored as: without the
        // column's affinity, the bound bounds are not tried as numbers again
        // for every call read (the whole table is read anyway).
        sql += QStringLiteral(" AND +f_date>=? AND +f_date<?");
        params << f.from << f.to;
    }
    if (f.minSeconds > 0) {
        sql += QStringLiteral(" AND f_long>=?");
        params << f.minSeconds;
    }
    if (lo <= hi) {
        sql += QStringLiteral(" AND rowid BETWEEN ? AND ?");
        params << lo << hi;
    }
    for (platform::RowReader r = db.rows(sql, params); r.next();) {
        // The categories chosen are told here, not by the query: a list of
        // them in the query is searched for every call. A category matches a
        // stored number equal to it, as the list would.
        int category;
        switch (r.kind(4)) {
        case platform::RawRecords::Integer: {
            const qint64 v = r.integer(4);
            if (v < 0 || v > 9) continue;  // incoming calls are never settled
            category = int(v);
            break;
        }
        case platform::RawRecords::Float: {
            const double v = r.real(4);
            if (!(v >= 0 && v <= 9) || v != double(int(v))) continue;
            category = int(v);
            break;
        }
        default: continue;
        }
        if (!f.chosen[category]) continue;
        const LineIndex::Span* mine = ix.find(r.integer(0));
        if (!mine) continue;
        // Only a text compares within the bounds: a number sorts before any
        // text and a blob after it.
        if (r.kind(1) != platform::RawRecords::Text) continue;
        const int line = ix.lineOf(*mine, r.bytes(1));
        if (line < 0) continue;
        Currency part[5];
        Currency all;
        for (int k = 0; k < 5; ++k) {
            part[k] = r.cur(5 + k);
            all += part[k];
        }
        // Calls without an account carry blanks in f_zh, or nothing at all.
        const QByteArrayView zh = r.bytes(3);
        bool account = false;
        for (const char ch : zh)
            if (ch != ' ') {
                account = true;
                break;
            }
        PeriodSums& l = out.line(line);
        PeriodSums& d = out.detailOf(line, account, zh, account ? 0 : r.integer(2));
        l.types[category] += all;
        d.types[category] += all;
        for (int k = 0; k < 5; ++k) {
            l.fees[k] += part[k];
            d.fees[k] += part[k];
        }
    }
}

// The month tables of the year files are read side by side, each on a
// connection of its own that only reads, and their sums merged in the
// order of the months: the same sums and detail rows as one pass after the
// other. The files are attached on the station's connection meanwhile (the
// archive holds off), so none is moved or replaced under the readers.
struct MonthRead {
    QString path, table;
    bool whole = false;
    qint64 lo = 1, hi = 0;   // the rowids read, when lo <= hi; else the whole table
    PartSums sums;
    std::exception_ptr failure;
};

// The readers a run may keep busy: the processors this program may run on.
int readerCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1, int(std::thread::hardware_concurrency()));
}

// Into how many parts each of `tables` tables is cut, so that `readers`
// readers finish together: a run of one month is read by all of them, a
// year of twelve months by eight readers in halves. A part costs one more
// merge of its sums on this thread: no reader takes more than three.
int partsPerTable(int tables, int readers) {
    int best = 1;
    for (int k = 2; k <= readers && k * tables <= 3 * readers; ++k) {
        // Rounds of parts each reader takes, in tables' worth: k parts a table.
        const auto span = [&](int parts) { return double((tables * parts + readers - 1) / readers) / parts; };
        if (span(k) < span(best)) best = k;
    }
    return best;
}

// Cuts each month table into `parts` spans of rowids of about the same
// length, in stored order.
QList<MonthRead> cutMonths(const Database& year, const QList<MonthRead>& months, int parts) {
    if (parts <= 1) return months;
    QList<MonthRead> out;
    for (const MonthRead& m : months) {
        qint64 lo = 0, hi = -1, width = -1;
        try {
            // Each end found by the table's key alone, not by reading it.
            platform::RowReader r = year.rows(QStringLiteral("SELECT (SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)")
                                                  .arg(year.qualified(m.table)));
            if (r.next() && !r.isNull(0)) {
                lo = r.integer(0);
                hi = r.integer(1);
                if (__builtin_sub_overflow(hi, lo, &width)) width = -1;
            }
        } catch (const DbError&) {
            // A table without rowids is read whole.
        }
        if (width < parts) {
            out << m;
            continue;
        }
        for (int j = 0; j < parts; ++j) {
            MonthRead p = m;
            p.lo = lo + qint64((__int128(width) + 1) * j / parts);
            p.hi = j + 1 == parts ? hi : lo + qint64((__int128(width) + 1) * (j + 1) / parts) - 1;
            out << p;
        }
    }
    return out;
}

void sumMonths(QList<MonthRead>& months, const ReadFilter& f, const LineIndex& ix, int lineCount) {
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i; (i = next.fetch_add(1)) < months.size();) {
            MonthRead& m = months[i];
            try {
                m.sums = PartSums(lineCount);
                Database db = Database::openReadOnly(m.path);
                sumTable(db, m.table, m.whole, m.lo, m.hi, f, ix, m.sums);
            } catch (...) {
                m.failure = std::current_exception();
            }
        }
    };
    // The months are shared among as many readers as the machine gives this
    // program processors, this thread one of them.
    const int helpers = std::min<int>(int(months.size()) - 1, readerCount() - 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < helpers; ++t) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
}

// Detaches the year read, whatever happens while it is read.
struct YearGuard {
    Database db;
    ~YearGuard() {
        if (db.isOpen()) db.close();
    }
};

QDateTime toSecond(const QDateTime& t) {
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute(), t.time().second()));
}

void writeSums(Params& p, const PeriodSums& s) {
    for (int k = 0; k < 5; ++k) p << s.fees[k];
    for (int k = 0; k < 10; ++k) p << s.types[k];
}

QString columnList() {
    QStringList cols{"f_userid", "f_name", "f_isuser", "f_starttime", "f_endtime"};
    for (auto c : kFeeColumns) cols << c;
    for (auto c : kTypeColumns) cols << c;
    cols << "f_rent" << "f_kind";
    return cols.join(',');
}

// The whole statement in one transaction: the table holds the last complete
// run. Rows go in a few hundred at a time, each of their values bound: a
// few statements for the run, not one for every user and detail row.
void writeBalance(const QList<StatementLine>& lines) {
    constexpr int kColumns = 22;
    constexpr int kRowsAtOnce = 400;
    const QString row = QLatin1Char('(') + inList(kColumns) + QLatin1Char(')');
    auto insert = [&](int rows) {
        QStringList all;
        all.reserve(rows);
        for (int i = 0; i < rows; ++i) all << row;
        return QStringLiteral("INSERT INTO tab_balance (%1) VALUES %2").arg(columnList(), all.join(','));
    };
    const QString full = insert(kRowsAtOnce);
    platform::Transaction tx(dbSwitch);
    dbSwitch.execute(QStringLiteral("DELETE FROM tab_balance"));
    Params p;
    int waiting = 0;
    auto flush = [&](bool last) {
        if (waiting == 0 || (!last && waiting < kRowsAtOnce)) return;
        dbSwitch.execute(waiting == kRowsAtOnce ? full : insert(waiting), p);
        p.clear();
        waiting = 0;
    };
    for (const StatementLine& l : lines) {
        // The period's texts are written once for the line and all its detail rows.
        const QString from = stampText(l.start), to = stampText(l.end);
        p << l.userId << l.name << true << from << to;
        writeSums(p, l.sums);
        p << l.rent << static_cast<int>(kKindUser);
        ++waiting;
        flush(false);
        for (const DetailRow& d : l.details) {
            p << l.userId << d.name << false << from << to;
            writeSums(p, d.sums);
            p << Currency() << d.kind;
            ++waiting;
            flush(false);
        }
    }
    flush(true);
    tx.commit();
}

}  // namespace

bool EnsureBalanceTable(const Database& sw) {
    if (sw.hasTable(QStringLiteral("tab_balance"))) return false;
    QStringList cols{"f_userid LONG NOT NULL DEFAULT 0", "f_name TEXT(50) NOT NULL DEFAULT ''",
                     "f_isuser BOOLEAN NOT NULL DEFAULT 0", "f_starttime DATETIME", "f_endtime DATETIME"};
    for (auto c : kFeeColumns) cols << QStringLiteral("%1 CURRENCY NOT NULL DEFAULT 0").arg(c);
    for (auto c : kTypeColumns) cols << QStringLiteral("%1 CURRENCY NOT NULL DEFAULT 0").arg(c);
    cols << "f_rent CURRENCY NOT NULL DEFAULT 0" << "f_kind BYTE NOT NULL DEFAULT 0";
    platform::Transaction tx(sw);
    sw.execute(QStringLiteral("CREATE TABLE %1 (%2, UNIQUE (f_isuser, f_userid, f_name, f_starttime))")
                   .arg(sw.qualified(QStringLiteral("tab_balance")), cols.join(", ")));
    sw.execute(QStringLiteral("CREATE INDEX %1 ON tab_balance (f_isuser, f_userid, f_starttime)")
                   .arg(sw.qualified(QStringLiteral("tab_balance_user"))));
    tx.commit();
    return true;
}

QString BalanceModeName(int mode) {
    switch (mode) {
    case 0: return QStringLiteral("押金用户");
    case 1: return QStringLiteral("按月用户");
    default: return QStringLiteral("不结算用户");
    }
}

QDateTime PayDate(const QDateTime& t, int monthsAhead, int day) {
    const QDate first = QDate(t.date().year(), t.date().month(), 1).addMonths(monthsAhead);
    return QDateTime(QDate(first.year(), first.month(), day), QTime(0, 0));
}

QList<QPair<QDateTime, QDateTime>> MonthlyPeriods(const QDateTime& start, const QDateTime& end, int day, bool force) {
    QList<QPair<QDateTime, QDateTime>> out;
    if (day < 1 || day > 28) day = 1;
    // No period runs into the future: the end goes back to the latest pay date
    // not after it, so the running period is never settled as if it had ended.
    QDateTime last = PayDate(end, 0, day);
    if (last > end) last = PayDate(end, -1, day);
    QDateTime from = start;
    QDateTime pay = PayDate(start, start.date().day() >= day ? 1 : 0, day);
    while (pay <= last || force) {
        out << qMakePair(from, pay);
        if (pay > last) break;
        from = pay;
        pay = PayDate(pay, 1, day);
    }
    return out;
}

void SumPeriods(QList<StatementLine>& lines, const QList<int>& categories, int minSeconds) {
    LineIndex index;
    index.start.resize(size_t(lines.size()));
    index.end.resize(size_t(lines.size()));
    QHash<qint64, QVector<int>> byUser;
    QDateTime from, to;
    for (int i = 0; i < lines.size(); ++i) {
        StatementLine& l = lines[i];
        l.sums = PeriodSums();
        l.details.clear();
        if (!(l.start < l.end)) continue;
        index.start[size_t(i)] = stampText(l.start).toUtf8();
        index.end[size_t(i)] = stampText(l.end).toUtf8();
        byUser[l.userId] << i;
        if (!from.isValid() || l.start < from) from = l.start;
        if (!to.isValid() || l.end > to) to = l.end;
    }
    if (categories.isEmpty() || !from.isValid()) return;
    constexpr qint64 kDirectUsers = 65536;
    for (auto u = byUser.begin(); u != byUser.end(); ++u) {
        QVector<int>& mine = u.value();
        std::sort(mine.begin(), mine.end(), [&](int a, int b) { return index.start[size_t(a)] < index.start[size_t(b)]; });
        const LineIndex::Span span{int(index.order.size()), int(mine.size())};
        index.order.insert(index.order.end(), mine.cbegin(), mine.cend());
        if (u.key() >= 0 && u.key() < kDirectUsers) {
            if (u.key() >= qint64(index.direct.size())) index.direct.resize(size_t(u.key() + 1));
            index.direct[size_t(u.key())] = span;
        } else {
            index.byUser.insert(u.key(), span);
        }
    }
    const ReadFilter filter(categories, minSeconds, from, to);
    PartSums total(int(lines.size()));
    const QDateTime lastMoment = to.addSecs(-1);
    for (int y = from.date().year(); y <= lastMoment.date().year(); ++y) {
        const QString path = ArchivePath(y);
        if (!QFileInfo::exists(path)) continue;
        if (LastArchiveRun().damaged.contains(QFileInfo(path).fileName(), Qt::CaseInsensitive))
            throw DbError(platform::kErrNotADatabase, QStringLiteral("话单归档文件已损坏: %1").arg(QFileInfo(path).fileName()));
        YearGuard year;
        try {
            year.db = AttachArchive(y, kReadSchema);
        } catch (const DbError& e) {
            throw DbError(e.number(), QStringLiteral("话单归档文件无法读取: %1 (%2)").arg(QFileInfo(path).fileName(), platform::OperatorText(e)));
        }
        if (!year.db.isOpen()) continue;
        QList<MonthRead> months;
        for (int m = 1; m <= 12; ++m) {
            const QDateTime monthStart(QDate(y, m, 1), QTime(0, 0));
            const QDateTime monthEnd = monthStart.addMonths(1);
            if (monthStart >= to || monthEnd <= from) continue;
            const QString table = year.db.actualTableName(MonthTableName(m));
            if (!table.isEmpty()) months << MonthRead{year.db.path(), table, from <= monthStart && monthEnd <= to, 1, 0, PartSums(), {}};
        }
        if (dbSwitch.autocommit()) {
            months = cutMonths(year.db, months, partsPerTable(int(months.size()), readerCount()));
            sumMonths(months, filter, index, int(lines.size()));
        } else {
            // Inside a transaction the year's new indexes are not committed yet:
            // another connection would wait for them, so the station's reads them.
            for (MonthRead& m : months) {
                m.sums = PartSums(int(lines.size()));
                sumTable(year.db, m.table, m.whole, 1, 0, filter, index, m.sums);
            }
        }
        for (const MonthRead& m : months) {
            if (m.failure) std::rethrow_exception(m.failure);
            total.merge(m.sums);
        }
    }
    // Records not yet archived (a run refused or failed, calls stored since), last.
    if (dbPhoneCur.isOpen()) {
        const QString cur = dbPhoneCur.actualTableName(QStringLiteral("Tab_Phone"));
        if (!cur.isEmpty()) {
            PartSums current(int(lines.size()));
            sumTable(dbPhoneCur, cur, false, 1, 0, filter, index, current);
            total.merge(current);
        }
    }
    for (int i = 0; i < lines.size(); ++i) {
        lines[i].sums = total.line(i);
        lines[i].details = total.rows(i);
    }
}

void TotalBill(qint64 userId, const QDateTime& start, const QDateTime& end, const QList<int>& categories,
               int minSeconds, PeriodSums& sums, QList<DetailRow>& details) {
    QList<StatementLine> one(1);
    one[0].userId = userId;
    one[0].start = start;
    one[0].end = end;
    SumPeriods(one, categories, minSeconds);
    sums = one[0].sums;
    details = one[0].details;
}

SettleResult RunSettlement(const SettleOptions& opt, const std::function<void(int, int, const QString&)>& progress) {
    SettleResult res;
    // The archive that starts the run moves records between the files read:
    // one it could not end (a read refused) ends the run, said as its error.
    try {
        ArchiveBills();
    } catch (const DbError& e) {
        res.error = QStringLiteral("结算错误:") + platform::OperatorText(e);
        return res;
    }
    // From here to the end no archive run moves a record between the files read.
    ArchiveHold hold;

    QString sql = QStringLiteral("SELECT userid, username, balancemode, lastdate, rent FROM user");
    Params p;
    if (!opt.allUsers) {
        sql += QStringLiteral(" WHERE userid IN (%1)").arg(inList(opt.users.size()));
        for (qint64 u : opt.users) p << u;
    }
    sql += QStringLiteral(" ORDER BY userid, balancemode");
    QString who;
    try {
        if (!opt.allUsers && opt.users.isEmpty()) {
            writeBalance({});
            res.ok = true;
            return res;
        }
        platform::Recordset users = dbSwitch.query(sql, p);
        const int n = users.recordCount();
        int i = 0;
        for (users.moveFirst(); !users.eof(); users.moveNext()) {
            ++i;
            who = users.str(QStringLiteral("username"));
            if (progress) progress(i, n, who);
            const qint64 uid = users.lng(QStringLiteral("userid"));
            const int mode = static_cast<int>(users.lng(QStringLiteral("balancemode")));
            const QDateTime last = storedDate(users.value(QStringLiteral("lastdate")));
            if (mode < 0 || mode > 2) throw UserError{QStringLiteral("结算方式错误")};
            QDateTime start, end;
            if (opt.index == 3) {
                start = opt.manualStart;
                end = opt.manualEnd;
            } else if (mode == 2) {
                start = opt.useLast && last.isValid() ? last : opt.manualStart;
                end = opt.manualEnd;
            } else {
                if (!last.isValid()) throw UserError{QStringLiteral("没有上次结算日期")};
                start = last;
                end = toSecond(platform::Now());
            }
            QList<QPair<QDateTime, QDateTime>> periods;
            if (mode == 1) periods = MonthlyPeriods(start, end, opt.payDay, opt.force);
            else periods << qMakePair(start, end);
            for (const auto& [from, to] : periods) {
                StatementLine line;
                line.userId = uid;
                line.name = who;
                line.mode = mode;
                line.start = from;
                line.end = to;
                line.rent = users.cur(QStringLiteral("rent"));
                res.lines << line;
            }
        }
        who.clear();
        // Every period summed at once, without yielding: no record moves or
        // arrives between the files while they are read.
        SumPeriods(res.lines, opt.categories, opt.minSeconds);
        writeBalance(res.lines);
        res.ok = true;
    } catch (const UserError& e) {
        res.error = QStringLiteral("结算错误:") + who + ' ' + e.text;
    } catch (const DbError& e) {
        res.error = QStringLiteral("结算错误:") + who + ' ' + platform::OperatorText(e);
    } catch (const platform::MoneyOverflow& e) {
        // Sums of stored amounts beyond what money holds: told, never wrapped.
        res.error = QStringLiteral("结算错误:") + who + ' ' + platform::OperatorText(e);
    }
    if (!res.ok) res.lines.clear();
    return res;
}

QString StatementLineText(const StatementLine& line, bool rentShown) {
    QStringList cells{line.name, stampText(line.start), stampText(line.end), BalanceModeName(line.mode),
                      line.sums.total().toString2()};
    if (rentShown) cells << line.rent.toString2();
    return platform::GridLine(cells);
}

}  // namespace billing
