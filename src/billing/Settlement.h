#pragma once
// The settlement engine: every chosen user's charges per period, summed from
// the current call records and the yearly archives into tab_balance. No widget
// here; the settlement window hands over its choices and shows the result.
#include "platform/Currency.h"
#include "platform/Db.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>

namespace billing {

// Kinds of tab_balance rows (column f_kind).
enum BalanceKind { kKindUser = 0, kKindExtension = 1, kKindAccount = 2 };

// Creates tab_balance in `sw` when it is missing (a fresh station, or a data
// directory from before the table existed). True when it was created.
bool EnsureBalanceTable(const platform::Database& sw);

// "押金用户", "按月用户", "不结算用户" (also for any other value).
QString BalanceModeName(int mode);

// Day d at 00:00 of the month `monthsAhead` after the month of `t`.
QDateTime PayDate(const QDateTime& t, int monthsAhead, int day);

// The pay periods of a monthly user between `start` and `end` with pay day `day`.
// The end is taken back to the latest pay date not after it; without `force`
// only the periods that have ended by then, with it also the one running then.
QList<QPair<QDateTime, QDateTime>> MonthlyPeriods(const QDateTime& start, const QDateTime& end, int day, bool force);

// What the settlement window hands over.
struct SettleOptions {
    int index = 0;                 // the button: 0 settle, 1 and pay, 2 and print, 3 view statement
    bool allUsers = true;
    QList<qint64> users;           // when not allUsers (may repeat a user)
    QList<int> categories;         // call categories 0..9
    int minSeconds = 0;            // shortest call counted, 0 counts all
    QDateTime manualStart, manualEnd;   // the dialog's period
    bool useLast = false;          // "使用上次结算时间": start at the user's last settlement
    int payDay = 1;
    bool force = false;            // "强制结算"
};

// Sums of one period: per call category (0..10) and the five fee parts.
struct PeriodSums {
    platform::Currency types[11];
    platform::Currency fees[5];    // f_moneny, f_addfee1, f_addfee2, f_gatefee, f_linkfee
    platform::Currency total() const { return fees[0] + fees[1] + fees[2] + fees[3] + fees[4]; }
};

// One detail row: an extension (calls without an account) or an account code.
struct DetailRow {
    int kind = kKindExtension;
    QString name;                  // extension address as a number, or the account code
    PeriodSums sums;
};

// One user row of the statement.
struct StatementLine {
    qint64 userId = 0;
    QString name;
    int mode = 0;
    QDateTime start, end;
    PeriodSums sums;
    platform::Currency rent;
    QList<DetailRow> details;
};

struct SettleResult {
    bool ok = false;
    QString error;                 // "结算错误:" + user name + " " + description
    QList<StatementLine> lines;
};

// Sums every line's calls of its own [start, end): one pass over each month
// table the lines touch and over Tab_Phone (read last), each call added to
// the line of its user and period; each year attached only while it is read.
// Fills each line's sums and detail rows. Throws DbError when a year cannot
// be read. Does not yield.
void SumPeriods(QList<StatementLine>& lines, const QList<int>& categories, int minSeconds);

// One user's calls of [start, end) (the same sums for a single period).
void TotalBill(qint64 userId, const QDateTime& start, const QDateTime& end, const QList<int>& categories,
               int minSeconds, PeriodSums& sums, QList<DetailRow>& details);

// Runs a settlement: archives the current records first, then takes every
// chosen user's periods, sums them all and writes tab_balance in one
// transaction (on an error nothing is written). `progress` is told each user
// (1-based) as its periods are taken; the run yields there, never later.
SettleResult RunSettlement(const SettleOptions& opt, const std::function<void(int, int, const QString&)>& progress = {});

// The statement line text: name, start, end, mode name, total, and the rent when shown.
QString StatementLineText(const StatementLine& line, bool rentShown);

}  // namespace billing
