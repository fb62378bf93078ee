#pragma once
// A file of call records the switch was told are taken, kept on the disk until
// the databases hold them: behind "Bill.dat" and the spool "CallSpool.dat".
// After a header of the file's own (none in "Bill.dat"), records of 30 bytes:
// the 29 bytes of a "961D" frame and their checksum. Each record is appended
// and synced before it is answered; bytes after the last whole record are an
// append torn by a crash, never answered, and are cut off. The records are
// stored in order from the first one not stored, each exactly once: the call
// file's note "<identity>:<n>:<fold>" (n records of the file with that
// identity are stored, and their bytes fold to that number) commits in the
// transaction that stores each one. The file is removed or retired by its
// owner only once all are stored; a file that is not the one the note counts,
// or changes while it is stored other than by appends, stops the storing.
// Records the note counts that changed on the disk since they were stored no
// longer read whole; told back by their checksum they fold to the note again,
// and the file is the one counted: they are not stored again.
// A record that is no sound call record (code, length or checksum wrong: bytes
// changed on the disk, or an append a crash tore in the middle) is kept as a
// reject row.
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace pricing {

class RecordQueue {
public:
    static constexpr int kRecord = 30;

    // `path` the file; `header` bytes before the first record, beginning with
    // `magic`; `noteKey` the call file's note counting what is stored.
    RecordQueue(const QString& path, int header, const QByteArray& magic, const QString& noteKey);

    // `frame` as a record: its first 29 bytes (filled up with `filler`) and their checksum.
    static QByteArray Entry(const QByteArray& frame, quint8 filler);
    // A call record as the switch sent it: its code, length and checksum hold.
    static bool Sound(const QByteArray& record);

    const QString& path() const { return path_; }
    // Whole records in the file, by its size; none when no file is under the name.
    int count() const;

    // Damaged: the header does not begin with the queue's magic. Its records
    // are read all the same: each is judged by its own code and checksum.
    enum class State { Missing, Unreadable, Damaged, Read };
    struct Contents {
        State state = State::Missing;
        QByteArray header;
        QList<QByteArray> records;   // whole records, 30 bytes each
        // The file as read, a torn last record left out.
        QByteArray bytes() const;
    };
    Contents read() const;

    // The records the call file's note counts as stored for the file `id` (0
    // for another file). A database error is thrown.
    int stored(const QByteArray& id) const;
    // Writes the note, in the caller's transaction: `n` records stored, whose
    // bytes fold to `print` (`Fold`), so that a file replaced since is known.
    void noteStored(const QByteArray& id, int n, quint64 print) const;
    // The fold of the records' bytes the note keeps, from `print` on (the fold of none: `kNoPrint`).
    static constexpr quint64 kNoPrint = 14695981039346656037ULL;
    static quint64 Fold(quint64 print, const QByteArray& bytes);
    // Whether the first `n` of `records` are those whose fold is `print`, once
    // records that no longer read whole (`Sound`) are told back: each was one
    // byte away by its checksum, at most `kMaxDamaged` of them. The ones that
    // differ from what was stored, by index (empty: all as stored); none when
    // they are not those records (another file, or damage past telling).
    static constexpr int kMaxDamaged = 2;
    static std::optional<QList<int>> DamagedSinceStored(const QList<QByteArray>& records, int n, quint64 print);
    // Once the file is retired, its note goes (in the call file and where a
    // station of before kept it, the station file).
    void forgetNote() const;
    // The note counts none of the file `id` stored, committed at once (a
    // file whose stored records cannot be told is stored again from its
    // first, a record stored before kept apart as a duplicate). A database
    // error is thrown.
    void countNone(const QByteArray& id) const;

    // How far a storing came.
    struct Result {
        int total = 0;      // whole records in the file
        int stored = 0;     // of them, stored (the note's count)
        int counted = 0;    // the note's count, more than `total` for a file put back shorter
        int rejected = 0;   // kept as reject rows by this storing, not sound
        int mended = 0;     // counted ones changed on the disk since they were stored: not stored again
        bool failed = false;
        // The file exists and cannot be read now (a disk error): nothing
        // stored, nothing taken as stored; it stays for the next try.
        bool unreadable = false;
        // Records the note counts no longer read whole and cannot be told
        // back, so which are stored cannot be said: nothing stored. The
        // caller keeps a copy and stores the file from its first record
        // (`countNone`), a record stored before kept apart as a duplicate.
        bool damaged = false;
        // With `Storing::identityFromNote`: the note counts this file's first
        // `counted` records under this other identity, so the file's own
        // identity changed on the disk; nothing stored.
        QByteArray otherId;
        // The file is not the one the note counts for, or it changed while
        // it was stored (replaced, or records it held changed): storing
        // stopped. `held` is what was being stored when that was seen (empty
        // when the note's count is all that was known of it).
        bool changed = false;
        Contents held;
        int waiting() const { return total - stored; }
    };
    struct Storing {
        // The file's identity in the note, from its header.
        std::function<QByteArray(const QByteArray& header)> identity;
        // Stores one sound record with `note` in its transaction; false when
        // the databases cannot store now.
        std::function<bool(const QByteArray& record, const std::function<void()>& note)> store;
        // Records stored in one transaction; 0: each in the store's own.
        int batch = 0;
        // Runs before each record, and after each batch committed.
        std::function<void()> advance, between;
        // The identity is the file's own (in its header): a note of another
        // one whose records are this file's is looked for (`Result::otherId`).
        bool identityFromNote = false;
    };
    // Stores the records not stored yet, in order; records appended meanwhile
    // are taken too. A file that cannot be read now is failed, as is a
    // damaged one (nothing stored: the caller keeps a copy and mends it
    // first); one too short for its header holds nothing. A file found
    // changed (`Result::changed`) is failed and left as it is.
    Result store(const Storing& how) const;
    // Writes `head` (the magic when empty) over the start of a damaged
    // header, the rest of the file as it is, durably.
    bool mendHeader(const QByteArray& head = QByteArray()) const;

    // Appends records to the file, each synced to the disk before `append` is true.
    class Appender {
    public:
        Appender() = default;
        ~Appender();
        Appender(const Appender&) = delete;
        Appender& operator=(const Appender&) = delete;
        // Opens the file of `queue` to append. A new file, one shorter than
        // its header, or any (`fresh`), begins anew with `header`, synced with
        // its directory; a file whose header is not the queue's is left alone
        // (false). A torn last record is cut off.
        bool open(const RecordQueue& queue, const QByteArray& header, bool fresh);
        bool append(const QByteArray& record);
        // Whole records in the file.
        int count() const { return count_; }
        void close();
    private:
        int fd_ = -1;
        int count_ = 0;
        int header_ = 0;
        QString path_;
    };

private:
    class Run;
    QString path_;
    int header_;
    QByteArray magic_;
    QString noteKey_;
};

}  // namespace pricing
