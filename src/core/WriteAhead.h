#pragma once
// One form for every act that changes two places (a file and another file,
// the station's database and the switch, a recovery and the box that tells
// it): the intent is written, durably, before either place changes, and
// settled after; an intent found unsettled at an opening is finished, undone
// or told before anything else of its kind runs.
//
// A record lives in "tab_writeahead" of the file whose state it belongs to,
// so that it commits with that state: a report of a recovery in the commit
// of the file recovered, an intent for the switch in the station file before
// the frame goes. (kind, key) names the act: writing the same act again (a
// road redone after a kill) replaces its record, so it is told once.
#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <utility>

#include "platform/Db.h"

class QJsonObject;

namespace ModSwitch {

// What an act was about to do, or the lines to tell: named fields, each a
// text or a list of such bodies (a number is its decimal text, so no amount
// passes through a floating point). Every kind writes and reads its record
// through this one form; the file holds it as a JSON object of texts and
// lists, read by one parser (a record an older release left in its own form
// is read once, through that parser's one decoder of the old forms).
class WriteAheadBody {
public:
    WriteAheadBody& set(const QString& name, const QString& text);
    WriteAheadBody& set(const QString& name, qint64 number);
    // Appends `item` to the list `name`.
    WriteAheadBody& add(const QString& name, const WriteAheadBody& item);
    bool has(const QString& name) const;
    QString text(const QString& name) const;
    // The field as a whole number; `ok` false when it is missing or is none.
    qint64 integer(const QString& name, bool* ok = nullptr) const;
    QList<WriteAheadBody> list(const QString& name) const;
    bool operator==(const WriteAheadBody& other) const { return fields_ == other.fields_ && lists_ == other.lists_; }

    QString encoded() const;
    // The body a record of `kind` holds; an empty one when it reads as
    // neither the form nor the form an older release wrote for that kind.
    static WriteAheadBody parse(const QString& kind, const QString& stored);

private:
    QJsonObject json() const;
    bool read(const QJsonObject& o);
    QMap<QString, QString> fields_;
    QMap<QString, QList<WriteAheadBody>> lists_;
};

struct WriteAheadRecord {
    qint64 id = 0;
    QString kind;         // what act: "report", "deposit", "release", ...
    QString key;          // which one: an extension, an account, a file's name
    WriteAheadBody body;  // what it was about to do, or the lines to tell
    QString made;         // when it was written, "yyyy-MM-dd HH:mm:ss"
};

// Makes the table in `db`'s file when it lacks it.
void EnsureWriteAhead(const platform::Database& db);

// Writes (or replaces) the record of act (kind, key). Inside a transaction it
// commits with it; outside one it is committed and synced before it returns.
// Throws platform::DbError when it cannot be written: the act must then not
// be done.
qint64 WriteAhead(const platform::Database& db, const QString& kind, const QString& key, const WriteAheadBody& body);

// The act is settled (done, undone, or its report read): its record goes,
// with the same durability rule as WriteAhead.
void SettleWriteAhead(const platform::Database& db, const QString& kind, const QString& key);

// The records of `kind` (all kinds when empty) in `db`'s file, oldest first;
// none when the file has no table.
QList<WriteAheadRecord> PendingWriteAhead(const platform::Database& db, const QString& kind = {});

}  // namespace ModSwitch

namespace ModSwitch {

// Reports: a box that tells a recovery or a loss is a record of kind
// "report", written in the commit of the state it describes (or before it,
// in the file that survives the act): a kill before the box, or while it is
// up, leaves the record, and the next opening shows it. The key names the
// act, so an act redone after a kill is one report. `title` and `buttons` as
// core::Notify takes them.
inline const QString kReportKind = QStringLiteral("report");
// Its body: kReportText the lines, "title" and "buttons" the box's (a report
// without them is a "警告" box with 确定 only).
inline const QString kReportText = QStringLiteral("text");

// The text of such a box. Only the kept report's functions below read it: it
// converts to no text, so handing it to core::Notify or platform::MsgBox (a
// box a power cut loses) does not compile.
class LossReport {
public:
    LossReport(QString text, QString title, int buttons)
        : text_(std::move(text)), title_(std::move(title)), buttons_(buttons) {}
    bool empty() const { return text_.isEmpty(); }
    // More lines for the same box, told with it.
    LossReport& operator+=(const QString& more) {
        text_ += more;
        return *this;
    }
private:
    QString text_, title_;
    int buttons_;
    friend void KeepReport(const platform::Database&, const QString&, const LossReport&);
    friend void KeepAndTell(const platform::Database&, const QString&, const LossReport&);
    friend void TellAndUnmark(const QString&, const LossReport&);
    friend void TellHeldReports(const LossReport&);
};

// Written, or replaced; with WriteAhead's rule of durability. Throws platform::DbError.
void KeepReport(const platform::Database& db, const QString& key, const LossReport& report);
// Shows the report (kind "report", `key`) `db` keeps, then settles it. False
// when it keeps none. A record that cannot be settled is shown again at the
// next opening rather than never.
bool TellReport(const platform::Database& db, const QString& key);
// The same for a file that is not open (a file put back before the opening
// opens it): opened by its path, the box shown, the record settled.
bool TellReportIn(const QString& file, const QString& key);
// Keeps the report in `db` and shows it at once (then settles it); a report
// that cannot be kept is still shown. For acts whose state `db` holds already.
void KeepAndTell(const platform::Database& db, const QString& key, const LossReport& report);
// Shows a report that the mark `mark` keeps instead of a file (the start's
// put-back from its copy, before any file can be opened: the mark redoes the
// act, box and all, after a kill), then removes the mark.
void TellAndUnmark(const QString& mark, const LossReport& report);
// The reports a file put back brought with it belong to the copy's time: they go.
void DropReports(const platform::Database& db);
// The reports of a file put back from its copy: those the file it replaces
// (`replaced`, set aside) still gives, which the copy may never have held,
// in place of the copy's own. When `replaced` gives none (missing, or its
// records cannot be read) the copy's stay: a report told twice rather than
// never. In `into`'s transaction when one is open. Throws platform::DbError
// when `into` cannot take them.
void CarryReports(const platform::Database& into, const QString& replaced);
// The key of a report whose act is 数据库管理's restore: its lines are told
// in the box "数据恢复成功" (admin::TellRestore), not on their own; so are
// those of the keys under it ("restore:…", a part of the restore told apart).
inline const QString kRestoreReportKey = QStringLiteral("restore");

// A report whose text a road hands on to a box of its own, shown after the
// opening (the change of site's "警告" box of what its checks put back): the
// opening leaves it, and ReportsHeldTold settles it once that box was shown.
// A kill before that box forgets the hold, and the next opening shows it.
void HoldReport(const QString& file, const QString& key);
void ReportsHeldTold();
// That box (none when empty), then ReportsHeldTold.
void TellHeldReports(const LossReport& box);

// A record an opening found, with the file that holds it.
struct Unfinished {
    const platform::Database* file = nullptr;
    WriteAheadRecord record;
};
// The one reader of an opening's unfinished acts: every record of every kind
// both station files hold, "switch.mdb" first, each oldest first. A file
// that cannot be read is skipped: its records wait for the next opening.
// Which step of the opening settles each kind is written in one table,
// admin/OpenSite.cpp's.
QList<Unfinished> UnfinishedActs();

// The box a report waits for: told at once at the opening; the restore's own
// (kRestoreReportKey and the keys under it, "数据恢复成功"); or held for a
// road's box after the opening (HoldReport).
enum class ReportBox { AtOnce, Restore, Held };
ReportBox BoxOf(const platform::Database& db, const QString& key);

// The opening's first step for tools and tests that open the files by hand
// (OpenSharedRecordsets): every report whose box is AtOnce shown and
// settled. Returns the records it left.
QList<WriteAheadRecord> SettleAtOpening();

namespace testing {
// What a kill does to the reports held for a box after the opening.
void forgetHeldReports();
// Called with (kind, key, "written") once WriteAhead has written a record,
// and (kind, key, "settled") once SettleWriteAhead has removed one: where a
// kill test stops the station. Null removes it.
void setWriteAheadHook(std::function<void(const QString& kind, const QString& key, const QString& step)> hook);
}  // namespace testing

}  // namespace ModSwitch
