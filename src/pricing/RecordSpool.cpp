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

bool Waiting() { return !DataPath.isEmpty() && QFileInfo(Path()).isFile(); }

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
