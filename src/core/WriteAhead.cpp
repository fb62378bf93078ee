#include "core/WriteAhead.h"

#include "platform/Clock.h"

namespace ModSwitch {
namespace {
const QString kTable = QStringLiteral("tab_writeahead");

// A write outside a transaction is the act's own commit: synced, whatever the
// file's commits are otherwise, since the act follows it at once.
template <typename Fn>
void durably(const platform::Database& db, Fn&& fn) {
    if (db.inTransaction() || !db.autocommit()) {
        fn();
        return;
    }
    db.setDurableCommits(true);
    platform::Transaction tx(db);
    fn();
    tx.commit();
}
}  // namespace

void EnsureWriteAhead(const platform::Database& db) {
    if (!db.actualTableName(kTable).isEmpty()) return;
    db.execute(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (f_id INTEGER PRIMARY KEY AUTOINCREMENT, "
                              "f_kind TEXT NOT NULL, f_key TEXT NOT NULL, f_body TEXT, f_made TEXT, "
                              "UNIQUE (f_kind, f_key))")
                   .arg(db.qualified(kTable)));
}

qint64 WriteAhead(const platform::Database& db, const QString& kind, const QString& key, const QString& body) {
    qint64 id = 0;
    durably(db, [&] {
        EnsureWriteAhead(db);
        db.execute(QStringLiteral("INSERT INTO %1 (f_kind, f_key, f_body, f_made) VALUES (?, ?, ?, ?) "
                                  "ON CONFLICT (f_kind, f_key) DO UPDATE SET f_body = excluded.f_body, "
                                  "f_made = excluded.f_made")
                       .arg(db.qualified(kTable)),
                   {kind, key, body, platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
        id = db.scalar(QStringLiteral("SELECT f_id FROM %1 WHERE f_kind = ? AND f_key = ?").arg(db.qualified(kTable)),
                       {kind, key})
                 .toLongLong();
    });
    return id;
}

void SettleWriteAhead(const platform::Database& db, const QString& kind, const QString& key) {
    if (db.actualTableName(kTable).isEmpty()) return;
    durably(db, [&] {
        db.execute(QStringLiteral("DELETE FROM %1 WHERE f_kind = ? AND f_key = ?").arg(db.qualified(kTable)), {kind, key});
    });
}

QList<WriteAheadRecord> PendingWriteAhead(const platform::Database& db, const QString& kind) {
    QList<WriteAheadRecord> out;
    const QString table = db.actualTableName(kTable);
    if (table.isEmpty()) return out;
    const QString sql = QStringLiteral("SELECT f_id, f_kind, f_key, f_body, f_made FROM %1 %2 ORDER BY f_id")
                            .arg(db.qualified(table), kind.isEmpty() ? QString() : QStringLiteral("WHERE f_kind = ?"));
    platform::RowReader r = db.rows(sql, kind.isEmpty() ? platform::Params{} : platform::Params{kind});
    while (r.next())
        out.append({r.integer(0), r.text(1), r.text(2), r.text(3), r.text(4)});
    return out;
}

}  // namespace ModSwitch
