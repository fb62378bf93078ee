#include "pricing/RecordQueue.h"

#include "core/ChargeLog.h"
#include "core/ModDefine.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "platform/AppExit.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "pricing/ClsMonitor.h"

#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pricing {

namespace {

bool writeAll(int fd, const QByteArray& b, off_t at) {
    qint64 done = 0;
    while (done < b.size()) {
        const ssize_t n = ::pwrite(fd, b.constData() + done, size_t(b.size() - done), at + done);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// What tells a file on the disk from the one read before: a file put in its
// place, or one written to, shows another inode, size or time of change.
struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    qint64 changed = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp stampOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// The note: "<identity>:<n>" and, since the records' bytes are folded into
// it, ":<fold>" in hex. A note without its fold is trusted by its count.
struct Note {
    int n = 0;
    bool printed = false;
    quint64 print = 0;
};

Note parseNote(const QString& v, const QByteArray& id) {
    Note note;
    if (v.section(QLatin1Char(':'), 0, 0).toLatin1() != id) return note;
    note.n = qMax(0, v.section(QLatin1Char(':'), 1, 1).toInt());
    const QString print = v.section(QLatin1Char(':'), 2, 2);
    note.print = print.toULongLong(&note.printed, 16);
    return note;
}

// The fold's step, (print ^ byte) * prime, undone: the prime is odd, so it
// has an inverse modulo 2^64.
constexpr quint64 kPrime = 1099511628211ULL;
constexpr quint64 inverseOf(quint64 a) {
    quint64 x = a;   // right in its lowest 3 bits; each step doubles them
    for (int i = 0; i < 6; ++i) x *= 2 - a * x;
    return x;
}
constexpr quint64 kUnprime = inverseOf(kPrime);
static_assert(kPrime * kUnprime == 1);

quint64 unfold(quint64 print, const QByteArray& bytes) {
    for (qsizetype i = bytes.size() - 1; i >= 0; --i) print = (print * kUnprime) ^ quint8(bytes[i]);
    return print;
}

// What a record whose checksum fails may have been before one of its bytes
// changed on the disk: as it is (it may have been kept so, as a reject row),
// or with one byte told back by the checksum (the byte that changed added to
// the sum what it now misses; or the checksum itself changed).
QList<QByteArray> toldBack(const QByteArray& record) {
    QList<QByteArray> may{record};
    if (record.size() != RecordQueue::kRecord) return may;
    const quint8 sum = ModComm::FrameReader::Sum(QByteArrayView(record).first(RecordQueue::kRecord - 1));
    const quint8 added = quint8(sum - quint8(record.back()));
    if (added == 0) return may;
    for (int at = 0; at < RecordQueue::kRecord - 1; ++at) {
        QByteArray before = record;
        before[at] = char(quint8(record[at]) - added);
        may << before;
    }
    QByteArray before = record;
    before[RecordQueue::kRecord - 1] = char(sum);
    may << before;
    return may;
}

}  // namespace

std::optional<QList<int>> RecordQueue::DamagedSinceStored(const QList<QByteArray>& records, int n, quint64 print) {
    if (n > records.size()) return std::nullopt;
    quint64 all = kNoPrint;
    for (int i = 0; i < n; ++i) all = Fold(all, records[i]);
    if (all == print) return QList<int>();
    // A record stored and then changed on the disk no longer reads whole: the
    // fold must come out once such records are told back, and no record that
    // reads whole may differ. One that does means another file.
    QList<int> bad;
    for (int i = 0; i < n && bad.size() <= kMaxDamaged; ++i)
        if (!Sound(records[i])) bad << i;
    if (bad.isEmpty() || bad.size() > kMaxDamaged) return std::nullopt;
    // The fold up to the first of them from the front, and after the last of
    // them from the note's end: what lies between must join the two.
    quint64 front = kNoPrint;
    for (int i = 0; i < bad.first(); ++i) front = Fold(front, records[i]);
    quint64 back = print;
    for (int i = n - 1; i > bad.last(); --i) back = unfold(back, records[i]);
    const QList<QByteArray> first = toldBack(records[bad.first()]);
    const QList<QByteArray> last = bad.size() > 1 ? toldBack(records[bad.last()]) : QList<QByteArray>{QByteArray()};
    QList<int> changed;
    for (const QByteArray& a : first) {
        quint64 at = Fold(front, a);
        if (bad.size() > 1)
            for (int i = bad.first() + 1; i < bad.last(); ++i) at = Fold(at, records[i]);
        for (const QByteArray& b : last) {
            if (Fold(at, b) != back) continue;
            if (a != records[bad.first()]) changed << bad.first();
            if (bad.size() > 1 && b != records[bad.last()]) changed << bad.last();
            return changed;
        }
    }
    return std::nullopt;
}

QByteArray RecordQueue::Contents::bytes() const {
    QByteArray all = header;
    for (const QByteArray& record : records) all += record;
    return all;
}

quint64 RecordQueue::Fold(quint64 print, const QByteArray& bytes) {
    for (const char b : bytes) {
        print ^= quint8(b);
        print *= 1099511628211ULL;
    }
    return print;
}

RecordQueue::RecordQueue(const QString& path, int header, const QByteArray& magic, const QString& noteKey)
    : path_(path), header_(header), magic_(magic), noteKey_(noteKey) {}

QByteArray RecordQueue::Entry(const QByteArray& frame, quint8 filler) {
    QByteArray entry = ModComm::FrameReader::Padded(frame, kRecord - 1, filler);
    entry.append(char(ModComm::FrameReader::Sum(entry)));
    return entry;
}

bool RecordQueue::Sound(const QByteArray& record) {
    const ModComm::FrameReader f(record);
    return f.size() == kRecord && f.is(FrameCode::kCallRecord) && f.sumHolds();
}

int RecordQueue::count() const {
    const QFileInfo info(path_);
    if (!info.isFile() || info.size() < header_) return 0;
    return int((info.size() - header_) / kRecord);
}

RecordQueue::Contents RecordQueue::read() const {
    Contents c;
    if (!QFileInfo(path_).isFile()) return c;
    QByteArray all;
    if (platform::readFileStrictly(path_, &all) != platform::ReadState::Read) {
        c.state = State::Unreadable;
        return c;
    }
    // Too short for a header: no record was ever answered in it.
    c.state = all.size() >= header_ && !all.startsWith(magic_) ? State::Damaged : State::Read;
    c.header = all.left(header_);
    for (qsizetype at = header_; at + kRecord <= all.size(); at += kRecord) c.records << all.mid(at, kRecord);
    return c;
}

int RecordQueue::stored(const QByteArray& id) const { return parseNote(ModSwitch::CallFileNote(noteKey_), id).n; }

void RecordQueue::noteStored(const QByteArray& id, int n, quint64 print) const {
    ModSwitch::SetCallFileNote(noteKey_, QString::fromLatin1(id) + QLatin1Char(':') + QString::number(n) +
                                             QLatin1Char(':') + QString::number(print, 16));
}

bool RecordQueue::mendHeader(const QByteArray& head) const {
    const QByteArray over = head.isEmpty() ? magic_ : head;
    QByteArray all;
    if (platform::readFileStrictly(path_, &all) != platform::ReadState::Read || all.size() < header_ ||
        over.size() > header_)
        return false;
    all.replace(0, over.size(), over);
    return platform::writeFileDurably(path_, all);
}

void RecordQueue::countNone(const QByteArray& id) const {
    platform::Transaction tx(dbSwitch);
    noteStored(id, 0, kNoPrint);
    tx.commit();
}

void RecordQueue::forgetNote() const { ModSwitch::RemoveCallFileNote(noteKey_); }

// One storing (see store), step by step over what it has read of the file.
class RecordQueue::Run {
public:
    Run(const RecordQueue& queue, const Storing& how) : q_(queue), how_(how) {}
    Result go();

private:
    enum class Follow { Same, Changed, Unreadable };
    bool readFile();
    bool placeByNote();
    bool identityChanged(const QString& value);
    bool storeBatch();
    Follow follow();
    Result stopped(Follow f);

    const RecordQueue& q_;
    const Storing& how_;
    Result r_;
    Stamp seen_;
    Contents c_;
    QByteArray id_;
    quint64 print_ = kNoPrint;
};

RecordQueue::Result RecordQueue::store(const Storing& how) const { return Run(*this, how).go(); }

RecordQueue::Result RecordQueue::Run::go() {
    if (!readFile() || !placeByNote()) return r_;
    for (;;) {
        while (r_.stored < r_.total) {
            if (!storeBatch()) {
                r_.failed = true;
                return r_;
            }
            if (stampOf(q_.path_) != seen_) {
                const Follow f = follow();
                if (f != Follow::Same) return stopped(f);
            }
        }
        // Read once more whatever the stamp says: a file written over within
        // the clock's tick shows the same time.
        const int before = r_.total;
        const Follow f = follow();
        if (f != Follow::Same) return stopped(f);
        if (r_.total == before) return r_;
    }
}

// The file as it is now; false when nothing can be stored from it (`r_` says why).
bool RecordQueue::Run::readFile() {
    seen_ = stampOf(q_.path_);
    c_ = q_.read();
    if (c_.state == State::Read) {
        r_.total = int(c_.records.size());
        return true;
    }
    if (c_.state != State::Missing) {
        r_.total = c_.state == State::Damaged ? int(c_.records.size()) : q_.count();
        r_.failed = true;
        r_.unreadable = c_.state == State::Unreadable;
    }
    return false;
}

// Where the storing begins, by the note; false when it cannot begin (`r_` says why).
bool RecordQueue::Run::placeByNote() {
    id_ = how_.identity(c_.header);
    QString value;
    try {
        value = ModSwitch::CallFileNote(q_.noteKey_);
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        r_.failed = true;
        return false;
    }
    const Note note = parseNote(value, id_);
    if (how_.identityFromNote && note.n == 0 && identityChanged(value)) return false;
    // The records the note counts must be those of this file: one put in its
    // place (a copy of another, an older one) would be stored from the middle.
    // Records of its own that changed on the disk since they were stored are
    // told apart by their checksum (`DamagedSinceStored`): the file is the one counted.
    r_.counted = note.n;
    r_.stored = qMin(note.n, r_.total);
    if (!note.printed) {
        for (int i = 0; i < r_.stored; ++i) print_ = Fold(print_, c_.records[i]);
        return true;
    }
    if (note.n > r_.total) {
        r_.changed = r_.failed = true;
        return false;
    }
    if (const std::optional<QList<int>> damaged = DamagedSinceStored(c_.records, note.n, note.print)) {
        r_.mended = int(damaged->size());
        for (const int i : *damaged)
            LogRecordError(QStringLiteral("%1: 第%2张话单已存入数据库后在磁盘上损坏，不再存入").arg(q_.path_).arg(i + 1));
        print_ = note.print;
        return true;
    }
    // Records that no longer read whole and cannot be told back: which of
    // the file's records are stored cannot be said. One that reads whole
    // where the fold says another was: not this file.
    bool whole = true;
    for (int i = 0; i < note.n && whole; ++i) whole = Sound(c_.records[i]);
    (whole ? r_.changed : r_.damaged) = true;
    r_.failed = true;
    return false;
}

// A note of another identity whose records are this file's first ones, by
// their fold: the file's identity bytes changed on the disk.
bool RecordQueue::Run::identityChanged(const QString& value) {
    const QByteArray other = value.section(QLatin1Char(':'), 0, 0).toLatin1();
    const Note theirs = other.isEmpty() ? Note() : parseNote(value, other);
    if (!theirs.printed || theirs.n == 0 || !DamagedSinceStored(c_.records, theirs.n, theirs.print)) return false;
    r_.otherId = other;
    r_.counted = theirs.n;
    r_.failed = true;
    return true;
}

// Stores the next batch (or record); what was stored before a failing record
// stays stored. False when the storing stops there.
bool RecordQueue::Run::storeBatch() {
    int i = r_.stored;
    quint64 folded = print_;
    int rejected = 0;
    bool stop = false;
    try {
        std::optional<platform::Transaction> batch;
        if (how_.batch > 0) batch.emplace(dbSwitch);
        for (int k = 0; k < qMax(1, how_.batch) && i < r_.total; ++k) {
            if (how_.advance) how_.advance();
            const QByteArray& record = c_.records[i];
            const int n = i + 1;
            const quint64 next = Fold(folded, record);
            const auto note = [this, n, next] { q_.noteStored(id_, n, next); };
            // Bytes changed on the disk would price the call for somebody else.
            const bool sound = Sound(record);
            if (!(sound ? how_.store(record, note) : ClsMonitor().StoreReject(record, note))) {
                stop = true;
                break;
            }
            if (!sound) ++rejected;
            folded = next;
            ++i;
        }
        if (batch) batch->commit();
        r_.stored = r_.counted = i;
        print_ = folded;
        r_.rejected += rejected;
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        LogRecordError(QString::fromUtf8(e.what()));
        stop = true;
    }
    if (how_.between) how_.between();
    return !stop;
}

// Storing may wait for the switch, and records that arrive meanwhile join
// the file: they are taken before it goes. Anything else that happened to
// the file meanwhile stops the storing.
RecordQueue::Run::Follow RecordQueue::Run::follow() {
    const Stamp now = stampOf(q_.path_);
    Contents again = q_.read();
    if (again.state == State::Unreadable) return Follow::Unreadable;
    bool same = again.state == State::Read && again.header == c_.header && again.records.size() >= c_.records.size();
    // A record read whole before that changed on the disk since, one byte
    // away by its checksum, is the same record: its bytes as read before stay.
    for (qsizetype k = 0; same && k < c_.records.size(); ++k) {
        same = again.records[k] == c_.records[k] ||
               (!Sound(again.records[k]) && Sound(c_.records[k]) && toldBack(again.records[k]).contains(c_.records[k]));
        if (same) again.records[k] = c_.records[k];
    }
    if (!same) return Follow::Changed;
    seen_ = now;
    c_ = std::move(again);
    r_.total = int(c_.records.size());
    return Follow::Same;
}

RecordQueue::Result RecordQueue::Run::stopped(Follow f) {
    r_.failed = true;
    if (f == Follow::Changed) {
        r_.changed = true;
        r_.held = c_;
    }
    return r_;
}

RecordQueue::Appender::~Appender() { close(); }

bool RecordQueue::Appender::open(const RecordQueue& queue, const QByteArray& header, bool fresh) {
    close();
    path_ = queue.path_;
    header_ = queue.header_;
    count_ = 0;
    const QByteArray name = QFile::encodeName(path_);
    const bool existed = QFileInfo::exists(path_);
    fd_ = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : 0), 0644);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        close();
        return false;
    }
    off_t size = st.st_size;
    if (fresh || !existed || size < header_) {
        // A file cut short before its first record was answered begins anew.
        if (::ftruncate(fd_, 0) != 0 || !writeAll(fd_, header.left(header_), 0) ||
            !platform::syncData(fd_, path_) || !platform::syncDir(QFileInfo(path_).absolutePath())) {
            close();
            return false;
        }
        size = header_;
    } else if (header_ > 0) {
        QByteArray head(header_, '\0');
        if (::pread(fd_, head.data(), size_t(header_), 0) != header_ || !head.startsWith(queue.magic_)) {
            close();   // not a file of ours: left alone
            return false;
        }
    }
    // Whatever follows the last whole record is a torn append, never answered.
    const off_t end = header_ + ((size - header_) / kRecord) * kRecord;
    if (end != size && ::ftruncate(fd_, end) != 0) {
        close();
        return false;
    }
    count_ = int((end - header_) / kRecord);
    return true;
}

bool RecordQueue::Appender::append(const QByteArray& record) {
    if (fd_ < 0 || record.size() != kRecord) return false;
    if (!writeAll(fd_, record, off_t(header_) + off_t(count_) * kRecord)) {
        // Nothing half written stays behind for the next append to follow.
        if (::ftruncate(fd_, off_t(header_) + off_t(count_) * kRecord) != 0) close();
        return false;
    }
    if (!platform::syncData(fd_, path_)) return false;
    ++count_;
    return true;
}

void RecordQueue::Appender::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace pricing
