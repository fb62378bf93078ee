#pragma once
// What the journal file's moves (JournalFile.cpp) and its check at each
// opening, with its set-aside files and rebuild (JournalFileCheck.cpp), share.
// Included by those two files only.
#include "core/ModDefine.h"
#include "platform/Db.h"

#include <QSet>
#include <QString>

namespace ModSwitch {
namespace journalfile {

// The journal file carries the name of its station and the marks the call
// file notes. In the caller's transaction.
void nameJournalFile(const platform::Database& j);
// Journal files a reader found damaged since they were last checked.
extern QSet<QString> g_doubted;
// The journal file `path` is in the state it last passed its check in.
bool journalKnownSound(const QString& path);
// Notes the state the journal file `path` passed its check in.
void noteJournalSound(const QString& path);
// The trouble last told of the journal file: told once.
extern QString g_journalTrouble;
// A refusal's cause as the journal file's boxes say it.
QString causeOf(const platform::DbError& e);
// Whether the journal file `j` holds what the call file says was moved into it.
bool JournalFileHoldsWhatWasMoved(const platform::Database& j);

// The journal file attached for the station's own writes: written by
// appends and read by restores only, so a rollback journal, every commit
// synced; detached however the work ends.
struct AttachedJournal {
    explicit AttachedJournal(const QString& path) : j(dbSwitch.attach(path, QStringLiteral("chargejournal"))) {
        try {
            j.scalar(QStringLiteral("PRAGMA %1.journal_mode=DELETE").arg(platform::quoteIdent(j.schema())));
            j.execute(QStringLiteral("PRAGMA %1.synchronous=FULL").arg(platform::quoteIdent(j.schema())));
        } catch (...) {
            detach();
            throw;
        }
    }
    ~AttachedJournal() { detach(); }
    AttachedJournal(const AttachedJournal&) = delete;
    AttachedJournal& operator=(const AttachedJournal&) = delete;
    void detach() {
        try {
            if (j.isOpen()) j.close();
        } catch (const platform::DbError&) {
        }
    }
    platform::Database j;
};

}  // namespace journalfile
}  // namespace ModSwitch
