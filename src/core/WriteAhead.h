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
#include <QString>

#include "platform/Db.h"

namespace ModSwitch {

struct WriteAheadRecord {
    qint64 id = 0;
    QString kind;    // what act: "report", "deposit", "release", ...
    QString key;     // which one: an extension, an account, a file's name
    QString body;    // what it was about to do, or the lines to tell
    QString made;    // when it was written, "yyyy-MM-dd HH:mm:ss"
};

// Makes the table in `db`'s file when it lacks it.
void EnsureWriteAhead(const platform::Database& db);

// Writes (or replaces) the record of act (kind, key). Inside a transaction it
// commits with it; outside one it is committed and synced before it returns.
// Throws platform::DbError when it cannot be written: the act must then not
// be done.
qint64 WriteAhead(const platform::Database& db, const QString& kind, const QString& key, const QString& body);

// The act is settled (done, undone, or its report read): its record goes,
// with the same durability rule as WriteAhead.
void SettleWriteAhead(const platform::Database& db, const QString& kind, const QString& key);

// The records of `kind` (all kinds when empty) in `db`'s file, oldest first;
// none when the file has no table.
QList<WriteAheadRecord> PendingWriteAhead(const platform::Database& db, const QString& kind = {});

}  // namespace ModSwitch
