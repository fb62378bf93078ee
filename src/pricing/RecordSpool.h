#pragma once
// Call records the switch was told are taken while the databases could not
// store them: appended, synced, to a spool file in the data directory, and
// priced, stored and charged once storing works again (a retry every few
// seconds, and at the next start at the latest), each exactly once. The file
// is a `RecordQueue` (RecordQueue.h) after a header of its own.
#include <QByteArray>
#include <QList>
#include <QString>

namespace pricing::spool {

// "CallSpool.dat" in the current data directory.
QString Path();
// True while records wait in the spool.
bool Waiting();
// Appends one record (29 bytes) and syncs it to the disk; false when it could
// not be kept there. Starts the retry and tells the operator that storing fails.
bool Append(const QByteArray& frame);
// Prices and stores the waiting records in order; each one and the note that
// it is done commit together. Returns how many still wait (storing failed).
int Replay();

// What the file holds, for tests: the spool's identity and the first 29 bytes
// of each whole record in it (a torn last record is not one; a record whose
// checksum fails is one, and is stored as a reject row).
struct Contents {
    QByteArray id;
    QList<QByteArray> frames;
    bool valid = false;
};
Contents Read(const QString& path);

}  // namespace pricing::spool
