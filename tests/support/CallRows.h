#pragma once
// Priced calls written straight into a call file's Tab_Phone, as the engine
// would have stored them: for the tests and the benchmarks that need calls in
// place without pricing them. Header-only, on the database layer alone, so
// that the benchmarks include it without linking the tests' support.
#include "platform/Currency.h"
#include "platform/Db.h"

#include <QDateTime>
#include <functional>

namespace testsupport {

// One row of Tab_Phone. What a caller leaves out is what the table gives a
// row that does not name the column: 0 for the numbers and amounts, NULL for
// the date and the texts. Fields in the table's column order, so that
// designated initialisers name them in turn:
//   storeCall(dbPhoneCur, {.calladdr = 5, .date = "2026-06-01 10:00:00", .secs = 60});
struct CallRow {
    int calladdr = 0;                 // f_calladdr, the extension
    int zjaddr = 0;                   // f_zjaddr, the trunk
    platform::Param date = nullptr;   // f_date, a text or a QDateTime
    qint64 secs = 0;                  // f_long
    int rectype = 0;                  // f_rectype
    platform::Currency fee{};         // f_moneny
    int flag = 0;                     // f_flag
    platform::Param resp = nullptr;   // f_resp, the number called
    platform::Param zh = nullptr;     // f_zh, the account ("    " for none)
    platform::Param indjh = nullptr;  // f_indjh
    int phmode = 0;                   // f_phmode, the category
    platform::Currency addfee1{}, addfee2{}, gatefee{}, linkfee{};
    platform::Param memo = nullptr;   // f_memo
    qint64 userid = 0;                // f_userid
    platform::Currency yj{};          // f_yj
};

// Inserts `c` into the Tab_Phone of `db` (a call file opened alone, or the
// call file attached to the station file's connection).
inline void storeCall(const platform::Database& db, const CallRow& c) {
    db.execute(QStringLiteral("INSERT INTO %1 (f_calladdr, f_zjaddr, f_date, f_long, f_rectype, f_moneny, f_flag, "
                              "f_resp, f_zh, f_indjh, f_phmode, f_addfee1, f_addfee2, f_gatefee, f_linkfee, f_memo, "
                              "f_userid, f_yj) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")
                   .arg(db.qualified(QStringLiteral("Tab_Phone"))),
               {c.calladdr, c.zjaddr, c.date, c.secs, c.rectype, c.fee, c.flag, c.resp, c.zh, c.indjh, c.phmode,
                c.addfee1, c.addfee2, c.gatefee, c.linkfee, c.memo, c.userid, c.yj});
}

// Inserts the calls `row(0)` to `row(n - 1)` in one transaction.
inline void storeCalls(const platform::Database& db, qint64 n, const std::function<CallRow(qint64 i)>& row) {
    platform::Transaction tx(db);
    for (qint64 i = 0; i < n; ++i) storeCall(db, row(i));
    tx.commit();
}

// `n` calls `step` seconds apart from `first` (a wall-clock time), round 120
// extensions and 16 trunks, of 30 s to 10 min, charged to no one: a call
// file with history, for a start-up or a restore to work through.
inline void storeSpreadCalls(const platform::Database& db, qint64 n, const QDateTime& first, qint64 step) {
    storeCalls(db, n, [&](qint64 i) {
        return CallRow{.calladdr = int(i % 120), .zjaddr = int(1 + i % 16), .date = first.addSecs(i * step),
                       .secs = 30 + i % 600, .rectype = 1, .fee = platform::Currency::fromRaw(1000 + i % 5000),
                       .flag = 1, .resp = QStringLiteral("8800%1").arg(1000 + i % 9000), .zh = "    "};
    });
}

}  // namespace testsupport
