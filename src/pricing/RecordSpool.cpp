#include "pricing/RecordSpool.h"

#include "core/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "pricing/ClsMonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pricing::spool {

namespace {

// Layout: an 8-byte magic and an 8-byte identity, then records of 30 bytes:
// the 29 bytes of the call record and their sum, as "Bill.dat" holds them.
const QByteArray kMagic("TARVOSPL");
constexpr int kHeader = 16;
constexpr int kFrame = 29;
constexpr int kEntry = 30;
// How often a spool that could not be stored is tried again.
constexpr int kRetryMs = 5000;
// The settings row that names the spool and how many of its records are
// stored; written in the transaction that stores each record.
const QString kProgressKey = QStringLiteral("TarvoSpoolDone");

quint8 sumOf(const QByteArray& frame) {
    quint32 s = 0;
    for (char c : frame) s += quint8(c);
    return quint8(s & 0xFF);
}

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

bool writeAll(int fd, const QByteArray& b, off_t at) {
    qint64 done = 0;
    while (done < b.size()) {
        const ssize_t n = ::pwrite(fd, b.constData() + done, size_t(b.size() - done), at + done);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// How many records of the spool `id` the databases already hold.
int storedOf(const QByteArray& id) {
    const QString v = ModSwitch::CallFileNote(kProgressKey);
    if (v.section(QLatin1Char(':'), 0, 0).toLatin1() != id.toHex()) return 0;
    return v.section(QLatin1Char(':'), 1, 1).toInt();
}

void noteStored(const QByteArray& id, int n) {
    ModSwitch::SetCallFileNote(kProgressKey, QString::fromLatin1(id.toHex()) + QLatin1Char(':') + QString::number(n));
}

}  // namespace

QString Path() { return platform::resolveCI(DataPath, QStringLiteral("CallSpool.dat")); }

bool Waiting() { return !DataPath.isEmpty() && QFileInfo(Path()).isFile(); }

Contents Read(const QString& path) {
    Contents c;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return c;
    const QByteArray all = f.readAll();
    if (all.size() < kHeader || !all.startsWith(kMagic)) return c;
    c.valid = true;
    c.id = all.mid(kMagic.size(), kHeader - kMagic.size());
    for (qsizetype at = kHeader; at + kEntry <= all.size(); at += kEntry) {
        const QByteArray frame = all.mid(at, kFrame);
        // A record whose sum does not hold was never synced whole; it was not answered either.
        if (sumOf(frame) != quint8(all[at + kFrame])) continue;
        c.frames << frame;
    }
    return c;
}

bool Append(const QByteArray& frameIn) {
    QByteArray frame = frameIn.left(kFrame);
    if (frame.size() < kFrame) frame.append(QByteArray(kFrame - frame.size(), char(0xFF)));
    const QString path = Path();
    if (DataPath.isEmpty()) return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    bool ok = false;
    bool created = false;
    int waiting = 0;
    do {
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) break;
        off_t size = st.st_size;
        QByteArray head(kHeader, '\0');
        if (size >= kHeader && ::pread(fd, head.data(), kHeader, 0) != kHeader) break;
        if (size < kHeader || !head.startsWith(kMagic)) {
            // A file cut short before its first record was answered: begin it anew.
            if (size >= kHeader) break;   // not a spool of ours: leave it alone
            head = kMagic;
            const quint64 id = QRandomGenerator::system()->generate64();
            head.append(reinterpret_cast<const char*>(&id), sizeof id);
            if (::ftruncate(fd, 0) != 0 || !writeAll(fd, head, 0)) break;
            size = kHeader;
            created = true;
        }
        // Whatever follows the last whole record is a torn append, never answered.
        const off_t end = kHeader + ((size - kHeader) / kEntry) * kEntry;
        if (end != size && ::ftruncate(fd, end) != 0) break;
        QByteArray entry = frame;
        entry.append(char(sumOf(frame)));
        if (!writeAll(fd, entry, end)) break;
        if (::fsync(fd) != 0) break;
        waiting = int((end - kHeader) / kEntry) + 1;
        ok = true;
    } while (false);
    if (fd >= 0) ::close(fd);
    if (ok && created) ok = platform::syncDir(QFileInfo(path).absolutePath());
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
    const QString path = Path();
    Contents c;
    for (;;) {
        c = Read(path);
        if (!c.valid) break;
        const auto stillWaiting = [&](int n) {
            showState(failingText(n));
            keepRetrying(true);
            return n;
        };
        if (!dbSwitch.isOpen() || !dbPhoneCur.isOpen()) return stillWaiting(c.frames.size());
        int stored = 0;
        try {
            stored = storedOf(c.id);
        } catch (const platform::DbError& e) {
            LogRecordError(e.text());
            return stillWaiting(c.frames.size());
        }
        for (int i = stored; i < c.frames.size(); ++i) {
            const int n = i + 1;
            if (!ClsMonitor().StoreSpooled(c.frames[i], [&] { noteStored(c.id, n); }))
                return stillWaiting(c.frames.size() - i);
        }
        // A charge may wait for the switch, and records that arrive meanwhile
        // join the spool: they are taken before it goes.
        if (Read(path).frames.size() == c.frames.size()) break;
    }
    // Every record is stored: the spool goes, then its note.
    if (!QFile::remove(path)) return c.frames.size();
    platform::syncDir(QFileInfo(path).absolutePath());
    keepRetrying(false);
    ModSwitch::RemoveCallFileNote(kProgressKey);
    if (c.valid && !c.frames.isEmpty())
        showState(QStringLiteral("暂存的%1张话单已存入数据库").arg(c.frames.size()));
    return 0;
}

}  // namespace pricing::spool
