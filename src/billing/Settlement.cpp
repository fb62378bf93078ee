#include "billing/Settlement.h"

#include "billing/ArchiveBills.h"
#include "core/ModDefine.h"
#include "platform/GridText.h"
#include "platform/Clock.h"

#include <QFileInfo>
#include <QHash>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>
#include <cstring>

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

// The lines of each user, by start.
struct LineIndex {
    QHash<qint64, QVector<int>> byUser;        // line numbers in order of start
    QVector<QVector<int>> direct;              // the same by user number, for the numbers up to a few thousand
    QVector<QByteArray> start, end;            // stored date texts of each line
};

// What one table's calls add to the lines: per line its sums and its detail
// rows in the order their first call was read, found again by extension
// address or account code.
struct LineSums {
    PeriodSums sums;
    QList<DetailRow> details;
    QHash<qint64, int> extensions;      // address -> detail row
    QHash<QByteArray, int> accounts;    // account code -> detail row
};
using TableSums = QVector<LineSums>;   // by line number

// The row of `key` among the details of `l`, added on its first call.
// The name is made only for a new row: most calls find theirs.
template <class Key, class Name>
int rowOf(LineSums& l, QHash<Key, int>& index, const Key& key, int kind, const Name& name) {
    auto it = index.find(key);
    if (it == index.end()) {
        DetailRow d;
        d.kind = kind;
        d.name = name();
        l.details << d;
        it = index.insert(key, l.details.size() - 1);
    }
    return it.value();
}

// The detail row of a call in `l`, added on its first call.
DetailRow& detailOf(LineSums& l, bool account, const QByteArray& code, qint64 addr) {
    const int row = account ? rowOf(l, l.accounts, code, kKindAccount, [&] { return QString::fromUtf8(code); })
                            : rowOf(l, l.extensions, addr, kKindExtension, [&] { return QString::number(addr); });
    return l.details[row];
}

void addSums(PeriodSums& into, const PeriodSums& s) {
    for (int k = 0; k < 11; ++k) into.types[k] += s.types[k];
    for (int k = 0; k < 5; ++k) into.fees[k] += s.fees[k];
}

// Adds what one table added to the totals, as if its calls had been read
// after those of the tables merged before: detail rows new to a line
// follow the line's others.
void mergeSums(TableSums& into, const TableSums& part) {
    for (int i = 0; i < part.size(); ++i) {
        const LineSums& p = part[i];
        if (p.details.isEmpty()) continue;
        LineSums& l = into[i];
        addSums(l.sums, p.sums);
        for (const DetailRow& d : p.details) {
            const bool account = d.kind == kKindAccount;
            DetailRow& mine = detailOf(l, account, account ? d.name.toUtf8() : QByteArray(), account ? 0 : d.name.toLongLong());
            addSums(mine.sums, d.sums);
        }
    }
}

// Adds one table's calls into the lines whose user and period each call falls
// in: one pass over the table in stored order, the calls of the chosen
// categories and length within the run's span.
void sumTable(const Database& db, const QString& table, const QDateTime& from, const QDateTime& to,
              const QList<int>& categories, int minSeconds, const LineIndex& ix, TableSums& out) {
    QString sql = QStringLiteral("SELECT f_userid, f_date, f_calladdr, f_zh, f_phmode, f_moneny, f_addfee1, f_addfee2, "
                                 "f_gatefee, f_linkfee FROM ") +
                  db.qualified(table) + QStringLiteral(" WHERE +f_date>=?1 AND +f_date<?2");
    if (minSeconds > 0) sql += QStringLiteral(" AND f_long>=?3");
    // The dates compare as the texts they are stored as: without the
    // column's affinity, the bound bounds are not tried as numbers again for
    // every call read (the whole table is read anyway).
    Params params{from, to};
    if (minSeconds > 0) params << minSeconds;
    // The categories chosen are told here, not by the query: a list of them
    // in the query is searched for every call, this table read directly. A
    // category matches a stored number equal to it, as the list would.
    bool chosen[10] = {};
    for (const int c : categories)
        if (c >= 0 && c <= 9) chosen[c] = true;
    for (platform::RowReader r = db.rows(sql, params); r.next();) {
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
        if (!chosen[category]) continue;
        const qint64 userId = r.integer(0);
        const QVector<int>* lineList;
        if (userId >= 0 && userId < ix.direct.size()) {
            lineList = &ix.direct[userId];
            if (lineList->isEmpty()) continue;
        } else {
            const auto u = ix.byUser.constFind(userId);
            if (u == ix.byUser.constEnd()) continue;
            lineList = &u.value();
        }
        const char* date = r.cstr(1);
        if (!date) continue;
        // The user's last period starting at or before the call.
        const QVector<int>& mine = *lineList;
        int line = -1;
        for (int lo = 0, hi = mine.size() - 1; lo <= hi;) {
            const int mid = (lo + hi) / 2;
            if (std::strcmp(ix.start[mine[mid]].constData(), date) <= 0) {
                line = mine[mid];
                lo = mid + 1;
            } else {
                hi = mid - 1;
            }
        }
        if (line < 0 || std::strcmp(date, ix.end[line].constData()) >= 0) continue;
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
            if (ch != ' ') account = true;
        LineSums& l = out[line];
        DetailRow& d = detailOf(l, account, account ? zh.toByteArray() : QByteArray(), account ? 0 : r.integer(2));
        l.sums.types[category] += all;
        d.sums.types[category] += all;
        for (int k = 0; k < 5; ++k) {
            l.sums.fees[k] += part[k];
            d.sums.fees[k] += part[k];
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
    TableSums sums;
    std::exception_ptr failure;
};

void sumMonths(QList<MonthRead>& months, const QDateTime& from, const QDateTime& to, const QList<int>& categories,
               int minSeconds, const LineIndex& ix, int lineCount) {
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i; (i = next.fetch_add(1)) < months.size();) {
            MonthRead& m = months[i];
            try {
                m.sums.resize(lineCount);
                Database db = Database::openReadOnly(m.path);
                sumTable(db, m.table, from, to, categories, minSeconds, ix, m.sums);
            } catch (...) {
                m.failure = std::current_exception();
            }
        }
    };
    // The months are shared among as many readers as the machine has cores,
    // this thread one of them.
    const int helpers = std::min<int>(int(months.size()) - 1, std::max(1, int(std::thread::hardware_concurrency())) - 1);
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
        const QString from = platform::dateText(l.start), to = platform::dateText(l.end);
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
    index.start.resize(lines.size());
    index.end.resize(lines.size());
    QDateTime from, to;
    for (int i = 0; i < lines.size(); ++i) {
        StatementLine& l = lines[i];
        l.sums = PeriodSums();
        l.details.clear();
        if (!(l.start < l.end)) continue;
        index.start[i] = platform::dateText(l.start).toUtf8();
        index.end[i] = platform::dateText(l.end).toUtf8();
        index.byUser[l.userId] << i;
        if (!from.isValid() || l.start < from) from = l.start;
        if (!to.isValid() || l.end > to) to = l.end;
    }
    if (categories.isEmpty() || !from.isValid()) return;
    for (QVector<int>& mine : index.byUser)
        std::sort(mine.begin(), mine.end(), [&](int a, int b) { return index.start[a] < index.start[b]; });
    constexpr qint64 kDirectUsers = 65536;
    for (auto u = index.byUser.cbegin(); u != index.byUser.cend(); ++u) {
        if (u.key() < 0 || u.key() >= kDirectUsers) continue;
        if (u.key() >= index.direct.size()) index.direct.resize(u.key() + 1);
        index.direct[u.key()] = u.value();
    }
    TableSums total(lines.size());
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
            if (monthStart >= to || monthStart.addMonths(1) <= from) continue;
            const QString table = year.db.actualTableName(MonthTableName(m));
            if (!table.isEmpty()) months << MonthRead{year.db.path(), table, {}, {}};
        }
        if (dbSwitch.autocommit()) {
            sumMonths(months, from, to, categories, minSeconds, index, lines.size());
        } else {
            // Inside a transaction the year's new indexes are not committed yet:
            // another connection would wait for them, so the station's reads them.
            for (MonthRead& m : months) {
                m.sums.resize(lines.size());
                sumTable(year.db, m.table, from, to, categories, minSeconds, index, m.sums);
            }
        }
        for (const MonthRead& m : months) {
            if (m.failure) std::rethrow_exception(m.failure);
            mergeSums(total, m.sums);
        }
    }
    // Records not yet archived (a run refused or failed, calls stored since), last.
    if (dbPhoneCur.isOpen()) {
        const QString cur = dbPhoneCur.actualTableName(QStringLiteral("Tab_Phone"));
        if (!cur.isEmpty()) {
            TableSums current(lines.size());
            sumTable(dbPhoneCur, cur, from, to, categories, minSeconds, index, current);
            mergeSums(total, current);
        }
    }
    for (int i = 0; i < lines.size(); ++i) {
        lines[i].sums = total[i].sums;
        lines[i].details = total[i].details;
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
    ArchiveBills();
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
            const QDateTime last = users.date(QStringLiteral("lastdate"));
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
    QStringList cells{line.name, platform::dateText(line.start), platform::dateText(line.end), BalanceModeName(line.mode),
                      line.sums.total().toString2()};
    if (rentShown) cells << line.rent.toString2();
    return platform::GridLine(cells);
}

}  // namespace billing
