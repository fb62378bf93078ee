#include "pricing/RecordSpool.h"

#include "core/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RecordQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <sys/stat.h>

namespace pricing::spool {

namespace {

// Layout: an 8-byte magic and an 8-byte identity, then the records of the
// queue, as "Bill.dat" holds them; the 29 bytes of a record are filled with F.
const QByteArray kMagic("TARVOSPL");
constexpr int kHeader = 16;
// How often a spool that could not be stored is tried again.
constexpr int kRetryMs = 5000;
// The call file's note that names the spool and how many of its records are
// stored; written in the transaction that stores each record.
const QString kProgressKey = QStringLiteral("TarvoSpoolDone");

RecordQueue queue() { return RecordQueue(Path(), kHeader, kMagic, kProgressKey); }

// The note names a spool by its identity's hex digits.
QByteArray identityOf(const QByteArray& header) { return header.mid(kMagic.size()).toHex(); }

void showState(const QString& text) { core::NotifyStatus(2, text); }

QString failingText(int waiting) {
    return QStringLiteral("话单存储失败，%1张话单已暂存，可存储时自动补存").arg(waiting);
}

QTimer* retryTimer() {
    static QTimer* t = nullptr;
    if (!t) {
        t = new QTimer();
        t->setInterval(kRetryMs);
        QObject::connect(t, &QTimer::timeout, [] {
            try {
                Replay();
            } catch (const std::exception& e) {
                LogRecordError(QString::fromUtf8(e.what()));
            }
        });
    }
    return t;
}

void keepRetrying(bool on) {
    QTimer* t = retryTimer();
    if (on && !t->isActive()) t->start();
    if (!on && t->isActive()) t->stop();
}

}  // namespace

QString Path() { return platform::resolveCI(DataPath, QStringLiteral("CallSpool.dat")); }

bool Waiting() {
    if (DataPath.isEmpty()) return false;
    // Asked before every record. Whether the spool is there changes only with
    // the data directory (a file made, removed or renamed), so the answer is
    // kept while the directory's time of change stays the same: one look at
    // the directory, not a search of its names. The time comes from the
    // kernel's coarse clock and may lag by a tick: an answer is kept only once
    // the directory had not changed for some ticks, so that any later change
    // shows as a later time.
    static QString dir;
    static QByteArray encoded;
    static qint64 stamp = -1;
    static bool answer = false;
    static const qint64 settleNs = [] {
        timespec res{};
        ::clock_getres(CLOCK_REALTIME_COARSE, &res);
        return std::max<qint64>(10000000, 3 * (qint64(res.tv_sec) * 1000000000LL + res.tv_nsec));
    }();
    if (dir != DataPath) {
        dir = DataPath;
        encoded = QFile::encodeName(DataPath);
        stamp = -1;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct stat st{};
    if (::stat(encoded.constData(), &st) != 0) {
        stamp = -1;
        return QFileInfo(Path()).isFile();
    }
    const qint64 changed = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    if (stamp == changed) return answer;
    const bool there = QFileInfo(Path()).isFile();
    const qint64 looked = qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
    stamp = looked - changed > settleNs ? changed : -1;
    answer = there;
    return there;
}

Contents Read(const QString& path) {
    Contents c;
    const RecordQueue::Contents q = RecordQueue(path, kHeader, kMagic, kProgressKey).read();
    if (q.state != RecordQueue::State::Read) return c;
    c.valid = true;
    c.id = q.header.mid(kMagic.size());
    for (const QByteArray& record : q.records) c.frames << record.left(RecordQueue::kRecord - 1);
    return c;
}

bool Append(const QByteArray& frame) {
    if (DataPath.isEmpty()) return false;
    const QString path = Path();
    QByteArray head = kMagic;
    const quint64 id = QRandomGenerator::system()->generate64();
    head.append(reinterpret_cast<const char*>(&id), sizeof id);
    RecordQueue::Appender file;
    const bool ok = file.open(queue(), head, false) && file.append(RecordQueue::Entry(frame, 0xFF));
    const int waiting = file.count();
    file.close();
    if (ok) {
        keepRetrying(true);
        showState(failingText(waiting));
    } else {
        // The switch sends it again; until something can keep it, the operator knows.
        showState(QStringLiteral("话单存储失败，暂存文件%1也无法写入").arg(QDir::toNativeSeparators(path)));
    }
    return ok;
}

int Replay() {
    static bool running = false;
    if (running) return 0;
    if (!Waiting()) {
        keepRetrying(false);
        return 0;
    }
    running = true;
    struct Done {
        ~Done() { running = false; }
    } done;
    const RecordQueue spool = queue();
    RecordQueue::Result r;
    if (dbSwitch.isOpen() && dbPhoneCur.isOpen()) {
        RecordQueue::Storing how;
        how.identity = identityOf;
        how.store = [](const QByteArray& record, const std::function<void()>& note) {
            return ClsMonitor().StoreSpooled(record, note);
        };
        r = spool.store(how);
    } else {
        r.total = spool.count();
        r.failed = true;
    }
    if (r.failed) {
        showState(failingText(r.waiting()));
        keepRetrying(true);
        return r.waiting();
    }
    // Every record is stored: the spool goes, then its note.
    if (!QFile::remove(spool.path())) return r.total;
    platform::syncDir(QFileInfo(spool.path()).absolutePath());
    keepRetrying(false);
    spool.forgetNote();
    if (r.total > 0) showState(QStringLiteral("暂存的%1张话单已存入数据库").arg(r.total));
    return 0;
}

}  // namespace pricing::spool
