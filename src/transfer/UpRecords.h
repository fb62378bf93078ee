#pragma once
// Rows read back from the switch: one answer frame of a parameter table
// becomes one row of the table's shadow table ("p" + table), its values in
// the table's own column order, ready to be inserted with bound values.
#include "platform/Db.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace transfer {

struct UpRecord {
    QString table;              // the shadow table, e.g. "pLanHead"
    platform::Params values;    // every column, in the table's order; bSet last, 0
    // "insert into <table> values(?,...)" for the values.
    QString sql() const;
    // Runs the insert on dbSwitch (throws platform::DbError).
    void insert() const;
};

// The shadow row of answer `frame` (code byte first, checksum not read) of
// the table shown as `table` (a navigation key: "LanHead", "Router2", ...).
// None when the key has no rows on the switch, the frame is shorter than its
// layout, or the station lacks the row whose columns the switch does not hold
// (the extension, the account, the deposit's extension number; for a pending
// deposit change, the station's deposit row).
std::optional<UpRecord> MakeUpRecordSQL(const QByteArray& frame, const QString& table);

// The amount of an extension deposit row ("A507" answer, code byte first), in
// fen: twenty bits, the low four of byte 4 first, then bytes 5 and 6.
qint64 DepositFen(const QByteArray& frame);

// The shadow table a view's rows go to: "AddHead" for both route views.
QString ShadowBase(const QString& table);

}  // namespace transfer
