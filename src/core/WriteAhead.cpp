#include "core/WriteAhead.h"

#include "core/ModDefine.h"
#include "core/Notices.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <utility>

namespace ModSwitch {
namespace {
const QString kTable = QStringLiteral("tab_writeahead");
std::function<void(const QString&, const QString&, const QString&)> g_stepHook;

void step(const QString& kind, const QString& key, const QString& at) {
    if (g_stepHook) g_stepHook(kind, key, at);
}

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
    step(kind, key, QStringLiteral("written"));
    return id;
}

void SettleWriteAhead(const platform::Database& db, const QString& kind, const QString& key) {
    if (db.actualTableName(kTable).isEmpty()) return;
    durably(db, [&] {
        db.execute(QStringLiteral("DELETE FROM %1 WHERE f_kind = ? AND f_key = ?").arg(db.qualified(kTable)), {kind, key});
    });
    step(kind, key, QStringLiteral("settled"));
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

namespace {
struct ReportBody {
    QString text, title;
    int buttons = platform::mbOKOnly;
};

QString bodyOf(const QString& text, const QString& title, int buttons) {
    QJsonObject o;
    o.insert(QStringLiteral("text"), text);
    o.insert(QStringLiteral("title"), title);
    o.insert(QStringLiteral("buttons"), buttons);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// A body that does not read as one is told as it stands: never lost for its form.
ReportBody reportOf(const QString& body) {
    ReportBody r;
    const QJsonDocument d = QJsonDocument::fromJson(body.toUtf8());
    if (!d.isObject()) {
        r.text = body;
        r.title = QStringLiteral("警告");
        return r;
    }
    const QJsonObject o = d.object();
    r.text = o.value(QStringLiteral("text")).toString();
    r.title = o.value(QStringLiteral("title")).toString();
    r.buttons = o.value(QStringLiteral("buttons")).toInt(platform::mbOKOnly);
    return r;
}

void show(const ReportBody& r) { core::Notify(r.text, r.buttons, r.title); }
}  // namespace

void KeepReport(const platform::Database& db, const QString& key, const LossReport& report) {
    WriteAhead(db, kReportKind, key, bodyOf(report.text_, report.title_, report.buttons_));
}

bool TellReport(const platform::Database& db, const QString& key) {
    QList<WriteAheadRecord> kept;
    try {
        for (const WriteAheadRecord& w : PendingWriteAhead(db, kReportKind))
            if (w.key == key) kept << w;
    } catch (const platform::DbError&) {
        return false;
    }
    if (kept.isEmpty()) return false;
    show(reportOf(kept.first().body));
    try {
        SettleWriteAhead(db, kReportKind, key);
    } catch (const platform::DbError&) {
        // Shown again at the next opening rather than never.
    }
    return true;
}

bool TellReportIn(const QString& file, const QString& key) {
    try {
        const platform::Database db = platform::Database::open(file);
        return TellReport(db, key);
    } catch (const platform::DbError&) {
        return false;
    }
}

void KeepAndTell(const platform::Database& db, const QString& key, const LossReport& report) {
    try {
        KeepReport(db, key, report);
    } catch (const platform::DbError&) {
        // Not kept: told now all the same.
        core::Notify(report.text_, report.buttons_, report.title_);
        return;
    }
    TellReport(db, key);
}

void TellAndUnmark(const QString& mark, const LossReport& report) {
    core::Notify(report.text_, report.buttons_, report.title_);
    if (QFile::remove(mark)) platform::syncDir(QFileInfo(mark).absolutePath());
}

void DropReports(const platform::Database& db) {
    if (db.actualTableName(kTable).isEmpty()) return;
    db.execute(QStringLiteral("DELETE FROM %1 WHERE f_kind = ?").arg(db.qualified(kTable)), {kReportKind});
}

void CarryReports(const platform::Database& into, const QString& replaced) {
    QList<WriteAheadRecord> kept;
    try {
        if (replaced.isEmpty() || !QFileInfo::exists(replaced)) return;
        const platform::Database from = platform::Database::openReadOnly(replaced);
        // A file whose table cannot be found tells nothing of its reports.
        if (from.actualTableName(kTable).isEmpty()) return;
        kept = PendingWriteAhead(from, kReportKind);
    } catch (const platform::DbError&) {
        return;
    }
    DropReports(into);
    for (const WriteAheadRecord& w : std::as_const(kept)) {
        EnsureWriteAhead(into);
        into.execute(QStringLiteral("INSERT INTO %1 (f_kind, f_key, f_body, f_made) VALUES (?, ?, ?, ?) "
                                    "ON CONFLICT (f_kind, f_key) DO NOTHING")
                         .arg(into.qualified(kTable)),
                     {w.kind, w.key, w.body, w.made});
    }
}

namespace {
// (file, key) of the reports held for a box after the opening.
QList<QPair<QString, QString>> g_held;
bool held(const platform::Database& db, const QString& key) {
    for (const auto& [file, k] : std::as_const(g_held))
        if (k == key && QFileInfo(file).absoluteFilePath() == QFileInfo(db.path()).absoluteFilePath()) return true;
    return false;
}
}  // namespace

void HoldReport(const QString& file, const QString& key) { g_held.append({file, key}); }

void ReportsHeldTold() {
    const QList<QPair<QString, QString>> told = std::exchange(g_held, {});
    for (const auto& [file, key] : told) {
        try {
            SettleWriteAhead(platform::Database::open(file), kReportKind, key);
        } catch (const platform::DbError&) {
            // Shown again at the next opening rather than never.
        }
    }
}

void TellHeldReports(const LossReport& box) {
    if (!box.empty()) core::Notify(box.text_, box.buttons_, box.title_);
    ReportsHeldTold();
}

namespace testing {
void forgetHeldReports() { g_held.clear(); }
void setWriteAheadHook(std::function<void(const QString&, const QString&, const QString&)> hook) {
    g_stepHook = std::move(hook);
}
}  // namespace testing

// The kinds an opening settles, and how. A kind acting on the switch adds its
// branch here; a kind without one waits, untouched, for its own road.
QList<WriteAheadRecord> SettleAtOpening() {
    QList<WriteAheadRecord> left;
    for (const platform::Database* db : {&dbSwitch, &dbPhoneCur}) {
        if (!db->isOpen()) continue;
        QList<WriteAheadRecord> found;
        try {
            found = PendingWriteAhead(*db);
        } catch (const platform::DbError&) {
            continue;
        }
        for (const WriteAheadRecord& w : std::as_const(found)) {
            if (w.kind == kReportKind && w.key != kRestoreReportKey && !w.key.startsWith(kRestoreReportKey + QLatin1Char(':')) &&
                !held(*db, w.key)) {
                TellReport(*db, w.key);
                continue;
            }
            left << w;
        }
    }
    return left;
}

}  // namespace ModSwitch
