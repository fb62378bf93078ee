#pragma once
// "Bill.dat": the call records an IP payphone record upload or a USB collector
// read takes, kept in the program directory one whole "961D" frame of 30
// bytes (its checksum last, as the switch sent it) after another: a
// `RecordQueue` (RecordQueue.h) without a header. Each record is on the disk before
// the switch hears "820302"; the records are then priced into the site they
// were read for, each stored once (the note of how many are stored commits
// with each one). A file whose records are not all stored waits beside a mark
// "BillWait.dat": it is priced again at start-up, after a change of site and
// before the next read, which replaces it only when nothing in it waits any
// more. Once every record is stored the mark becomes "BillDone.dat", so a
// file with records beside neither mark is known to be damaged from outside.
#include "pricing/RecordQueue.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace pricing::billfile {

// What a pricing found that the operator is to be told.
struct Report {
    // Records kept as reject rows since their bytes are damaged (checksum).
    int rejected = 0;
    // A file whose mark was missing or damaged: the name of the copy kept
    // aside, and how many records it holds (priced into the open site).
    QString damagedCopy;
    int damagedRecords = 0;
    // Records read for another site, set aside by the operator: the file's new name.
    QString setAside;
    // The file changed while its records were stored, so the storing stopped
    // (both files kept aside, the box said which): how the box names the stop,
    // "" when nothing stopped. A read whose records stopped so is no success.
    QString stopped;
};

// "Bill.dat" in the program directory, whatever the case of its name.
QString Path();
// How many records of "Bill.dat" wait to be stored (0 when none).
int Waiting();
// Gives the deposit history the deposit events whose records are stored and
// that the call file still holds for it (see Price); false when the databases
// cannot take them now.
bool HistoryTakesWaitingEvents();
// Prices what waits, from the first record not yet stored, when the site the
// records were read for is the one open; `advance` runs once per record. A
// file beside a missing or damaged mark is copied aside first and priced into
// the open site. Returns how many still wait; 0 turns the mark to "done".
int Price(const std::function<void()>& advance = {}, Report* report = nullptr);
// Before a read replaces "Bill.dat": prices what waits; when its records were
// read for a site that is not open, asks the operator whether to price them
// into the open site or to set the file aside (or leave them waiting). The
// operator is told what was kept aside and what was damaged. Returns how many
// still wait.
int BeforeRead();
// What the operator is told while `n` records wait.
QString WaitingText(int n);
// What the operator is told of a file set aside by their choice ("" when
// none). What leaves records or money out (a lost mark, a file changed on the
// disk) is no text of a report: it is kept in the call file before the files
// change, and Price tells it once its storing is over.
QString DamageText(const Report& r);
QString RejectText(const Report& r);

// One read into a new "Bill.dat".
class Writer {
public:
    Writer() = default;
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    // Prices what still waits in the old file, then replaces it with an empty
    // one marked as waiting for the open site; `charge` says whether its
    // records are charged to their users; `name` is the case the new file is
    // created in. False when records of the old file still wait (`waiting`
    // says how many) or the new one cannot be written.
    bool start(bool charge, int* waiting, const QString& name = QStringLiteral("Bill.dat"));
    // Appends one record (30 bytes: a shorter one is filled up) and syncs it:
    // true once it is on the disk and may be answered.
    bool append(const QByteArray& frame);
    int count() const { return file_.count(); }
    void close();
private:
    RecordQueue::Appender file_;
};

}  // namespace pricing::billfile
