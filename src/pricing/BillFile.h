#pragma once
// "Bill.dat": the call records an IP payphone record upload or a USB collector
// read takes, kept in the program directory one whole "961D" frame of 30
// bytes after another. Each record is on the disk before the switch hears
// "820302"; the records are then priced into the site they were read for,
// each stored once (the note of how many are stored commits with each one).
// A file whose records are not all stored waits beside a mark "BillWait.dat":
// it is priced again at start-up, after a change of site and before the next
// read, which replaces it only when nothing in it waits any more.
#include <QByteArray>
#include <QString>
#include <functional>

namespace pricing::billfile {

// "Bill.dat" in the program directory, whatever the case of its name.
QString Path();
// How many records of "Bill.dat" wait to be stored (0 when none).
int Waiting();
// Prices what waits, from the first record not yet stored, when the site the
// records were read for is the one open; `advance` runs once per record.
// Returns how many still wait; 0 takes the mark away.
int Price(const std::function<void()>& advance = {});
// What the operator is told while `n` records wait.
QString WaitingText(int n);

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
    int count() const { return count_; }
    void close();
private:
    int fd_ = -1;
    int count_ = 0;
};

}  // namespace pricing::billfile
