#include "core/WriteAhead.h"

#include "core/ModDefine.h"
#include "core/Notices.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <utility>

namespace ModSwitch {

WriteAheadBody& WriteAheadBody::set(const QString& name, const QString& text) {
    fields_.insert(name, text);
    return *this;
}

WriteAheadBody& WriteAheadBody::set(const QString& name, qint64 number) { return set(name, QString::number(number)); }

WriteAheadBody& WriteAheadBody::add(const QString& name, const WriteAheadBody& item) {
    lists_[name].append(item);
    return *this;
}

bool WriteAheadBody::has(const QString& name) const { return fields_.contains(name) || lists_.contains(name); }

QString WriteAheadBody::text(const QString& name) const { return fields_.value(name); }

qint64 WriteAheadBody::integer(const QString& name, bool* ok) const {
    bool read = false;
    const qint64 n = fields_.contains(name) ? fields_.value(name).toLongLong(&read) : 0;
    if (ok) *ok = read;
    return n;
}

QList<WriteAheadBody> WriteAheadBody::list(const QString& name) const { return lists_.value(name); }

namespace {
// The forms an older release wrote, one per kind, read so that a station
// upgraded with an act unfinished finishes it; never written again (a
// record read so is written back, if at all, in the one form).
//   "report"   a JSON object with "buttons" a number, or plain text (the
//              restore's lines, told as "警告");
//   "deposit"  "before=…;change=…;value=…;frame=…";
//   "release"  the user's name, then a line "A|E <address> <frame>" a row.
// A record that reads as none of them gives an empty body.
WriteAheadBody olderForm(const QString& kind, const QString& stored) {
    WriteAheadBody b;
    if (kind == kReportKind) {
        const QJsonDocument d = QJsonDocument::fromJson(stored.toUtf8());
        if (!d.isObject()) return b.set(kReportText, stored).set(QStringLiteral("title"), QStringLiteral("警告"));
        const QJsonObject o = d.object();
        return b.set(kReportText, o.value(kReportText).toString())
            .set(QStringLiteral("title"), o.value(QStringLiteral("title")).toString())
            .set(QStringLiteral("buttons"), qint64(o.value(QStringLiteral("buttons")).toInt(platform::mbOKOnly)));
    }
    if (kind == QLatin1String("deposit")) {
        for (const QString& part : stored.split(QLatin1Char(';'))) {
            const int eq = part.indexOf(QLatin1Char('='));
            if (eq > 0) b.set(part.left(eq), part.mid(eq + 1));
        }
        return b;
    }
    if (kind == QLatin1String("release")) {
        QStringList lines = stored.split(QLatin1Char('\n'));
        b.set(QStringLiteral("name"), lines.takeFirst());
        for (const QString& line : std::as_const(lines)) {
            const QStringList p = line.split(QLatin1Char(' '));
            if (p.size() != 3 || (p[0] != QLatin1String("A") && p[0] != QLatin1String("E"))) return {};
            b.add(QStringLiteral("rows"), WriteAheadBody()
                                              .set(QStringLiteral("account"), QString(p[0] == QLatin1String("A") ? '1' : '0'))
                                              .set(QStringLiteral("address"), p[1])
                                              .set(QStringLiteral("frame"), p[2]));
        }
        return b;
    }
    return b;
}
}  // namespace

QJsonObject WriteAheadBody::json() const {
    QJsonObject o;
    for (auto it = fields_.begin(); it != fields_.end(); ++it) o.insert(it.key(), it.value());
    for (auto it = lists_.begin(); it != lists_.end(); ++it) {
        QJsonArray items;
        for (const WriteAheadBody& item : it.value()) items.append(item.json());
        o.insert(it.key(), items);
    }
    return o;
}

// The one form: an object whose every value is a text or a list of such
// objects. Anything else is not it (an older release's record, or damage).
bool WriteAheadBody::read(const QJsonObject& o) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it->isString()) {
            fields_.insert(it.key(), it->toString());
            continue;
        }
        if (!it->isArray()) return false;
        QList<WriteAheadBody>& items = lists_[it.key()];
        for (const QJsonValue& v : it->toArray()) {
            items.append(WriteAheadBody());
            if (!v.isObject() || !items.last().read(v.toObject())) return false;
        }
    }
    return true;
}

QString WriteAheadBody::encoded() const { return QString::fromUtf8(QJsonDocument(json()).toJson(QJsonDocument::Compact)); }

WriteAheadBody WriteAheadBody::parse(const QString& kind, const QString& stored) {
    const QJsonDocument d = QJsonDocument::fromJson(stored.toUtf8());
    WriteAheadBody b;
    if (d.isObject() && b.read(d.object())) return b;
    return olderForm(kind, stored);
}

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

qint64 WriteAhead(const platform::Database& db, const QString& kind, const QString& key, const WriteAheadBody& body) {
    qint64 id = 0;
    durably(db, [&] {
        EnsureWriteAhead(db);
        db.execute(QStringLiteral("INSERT INTO %1 (f_kind, f_key, f_body, f_made) VALUES (?, ?, ?, ?) "
                                  "ON CONFLICT (f_kind, f_key) DO UPDATE SET f_body = excluded.f_body, "
                                  "f_made = excluded.f_made")
                       .arg(db.qualified(kTable)),
                   {kind, key, body.encoded(), platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
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
        out.append({r.integer(0), r.text(1), r.text(2), WriteAheadBody::parse(r.text(1), r.text(3)), r.text(4)});
    return out;
}

namespace {
struct ReportBody {
    QString text, title;
    int buttons = platform::mbOKOnly;
};

WriteAheadBody bodyOf(const QString& text, const QString& title, int buttons) {
    return WriteAheadBody().set(kReportText, text).set(QStringLiteral("title"), title).set(QStringLiteral("buttons"), buttons);
}

ReportBody reportOf(const WriteAheadBody& body) {
    ReportBody r;
    r.text = body.text(kReportText);
    r.title = body.has(QStringLiteral("title")) ? body.text(QStringLiteral("title")) : QStringLiteral("警告");
    bool ok = false;
    const qint64 buttons = body.integer(QStringLiteral("buttons"), &ok);
    if (ok) r.buttons = int(buttons);
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
                     {w.kind, w.key, w.body.encoded(), w.made});
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

QList<Unfinished> UnfinishedActs() {
    QList<Unfinished> found;
    for (const platform::Database* db : {&dbSwitch, &dbPhoneCur}) {
        if (!db->isOpen()) continue;
        try {
            for (WriteAheadRecord& w : PendingWriteAhead(*db)) found.append({db, std::move(w)});
        } catch (const platform::DbError&) {
        }
    }
    return found;
}

ReportBox BoxOf(const platform::Database& db, const QString& key) {
    if (key == kRestoreReportKey || key.startsWith(kRestoreReportKey + QLatin1Char(':'))) return ReportBox::Restore;
    return held(db, key) ? ReportBox::Held : ReportBox::AtOnce;
}

QList<WriteAheadRecord> SettleAtOpening() {
    QList<WriteAheadRecord> left;
    for (const Unfinished& u : UnfinishedActs()) {
        if (u.record.kind == kReportKind && BoxOf(*u.file, u.record.key) == ReportBox::AtOnce)
            TellReport(*u.file, u.record.key);
        else
            left << u.record;
    }
    return left;
}

}  // namespace ModSwitch
