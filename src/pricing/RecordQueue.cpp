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

}  // namespace

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
    if (all.size() < header_ || !all.startsWith(magic_)) {
        c.state = State::NotOurs;
        return c;
    }
    c.state = State::Read;
    c.header = all.left(header_);
    for (qsizetype at = header_; at + kRecord <= all.size(); at += kRecord) c.records << all.mid(at, kRecord);
    return c;
}

int RecordQueue::stored(const QByteArray& id) const {
    const QString v = ModSwitch::CallFileNote(noteKey_);
    if (v.section(QLatin1Char(':'), 0, 0).toLatin1() != id) return 0;
    return v.section(QLatin1Char(':'), 1, 1).toInt();
}

void RecordQueue::noteStored(const QByteArray& id, int n) const {
    ModSwitch::SetCallFileNote(noteKey_, QString::fromLatin1(id) + QLatin1Char(':') + QString::number(n));
}

void RecordQueue::forgetNote() const { ModSwitch::RemoveCallFileNote(noteKey_); }

RecordQueue::Result RecordQueue::store(const Storing& how) const {
    Result r;
    for (;;) {
        const Contents c = read();
        if (c.state != State::Read) {
            r = Result{};
            if (c.state == State::Unreadable) {
                r.total = count();
                r.failed = true;
            }
            return r;
        }
        r.total = int(c.records.size());
        const QByteArray id = how.identity(c.header);
        try {
            r.stored = qMin(stored(id), r.total);
        } catch (const platform::DbError& e) {
            LogRecordError(e.text());
            r.stored = 0;
            r.failed = true;
            return r;
        }
        while (r.stored < r.total) {
            int i = r.stored;
            int rejected = 0;
            bool stop = false;
            try {
                std::optional<platform::Transaction> batch;
                if (how.batch > 0) batch.emplace(dbSwitch);
                for (int k = 0; k < qMax(1, how.batch) && i < r.total; ++k) {
                    if (how.advance) how.advance();
                    const QByteArray& record = c.records[i];
                    const int n = i + 1;
                    const auto note = [this, &id, n] { noteStored(id, n); };
                    // Bytes changed on the disk would price the call for somebody else.
                    const bool sound = Sound(record);
                    if (!(sound ? how.store(record, note) : ClsMonitor().StoreReject(record, note))) {
                        stop = true;
                        break;
                    }
                    if (!sound) ++rejected;
                    ++i;
                }
                // What was stored before a failing record stays stored.
                if (batch) batch->commit();
                r.stored = i;
                r.rejected += rejected;
            } catch (const platform::ProgramEnded&) {
                throw;
            } catch (const std::exception& e) {
                LogRecordError(QString::fromUtf8(e.what()));
                stop = true;
            }
            if (how.between) how.between();
            if (stop) {
                r.failed = true;
                return r;
            }
        }
        // Storing may wait for the switch, and records that arrive meanwhile
        // join the file: they are taken before it goes.
        if (count() == r.total) return r;
    }
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
