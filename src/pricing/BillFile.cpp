#include "pricing/BillFile.h"

#include "core/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/ModSwitch.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "pricing/ClsMonitor.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <fcntl.h>
#include <unistd.h>

namespace pricing::billfile {

namespace {

constexpr int kRecord = 30;
// Records priced in one transaction before pending events may run.
constexpr int kBatch = 256;
const QByteArray kMagic("TARVOBILL");
const QString kMarkName = QStringLiteral("BillWait.dat");
// The settings row of the open site naming the file and how many of its
// records are stored; written in the transaction that stores each record.
const QString kProgressKey = QStringLiteral("TarvoBillDone");

struct Mark {
    bool present = false;
    bool valid = false;
    QByteArray id;
    bool charge = false;
    QString site;
};

QString markPath() { return platform::resolveCI(AppPath, kMarkName); }

Mark readMark() {
    Mark m;
    QFile f(markPath());
    if (!f.exists()) return m;
    m.present = true;
    if (!f.open(QIODevice::ReadOnly)) return m;
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.size() < 4 || lines[0] != kMagic || lines[1].isEmpty()) return m;
    m.id = lines[1];
    m.charge = lines[2] == "1";
    m.site = QString::fromUtf8(lines[3]);
    m.valid = true;
    return m;
}

void removeMark() {
    QFile::remove(markPath());
    platform::syncDir(AppPath);
}

QString siteOf(const QString& dir) {
    const QString c = QFileInfo(dir).canonicalFilePath();
    return c.isEmpty() ? QFileInfo(dir).absoluteFilePath() : c;
}

bool openSiteIs(const Mark& m) {
    return !DataPath.isEmpty() && dbSwitch.isOpen() && dbPhoneCur.isOpen() && siteOf(DataPath) == m.site;
}

int recordsIn(const QString& path) { return int(QFileInfo(path).size() / kRecord); }

int storedOf(const QByteArray& id) {
    const QString v = ModSwitch::CallFileNote(kProgressKey);
    if (v.section(QLatin1Char(':'), 0, 0).toLatin1() != id) return 0;
    return v.section(QLatin1Char(':'), 1, 1).toInt();
}

void noteStored(const QByteArray& id, int n) {
    ModSwitch::SetCallFileNote(kProgressKey, QString::fromLatin1(id) + QLatin1Char(':') + QString::number(n));
}

}  // namespace

QString Path() {
    const QString found = platform::resolveCI(AppPath, QStringLiteral("Bill.dat"));
    return found.isEmpty() ? AppPath + QStringLiteral("Bill.dat") : found;
}

QString WaitingText(int n) {
    return QStringLiteral("%1张话单尚未存入数据库，保留在Bill.dat中，可存储时再存入").arg(n);
}

int Waiting() {
    const Mark m = readMark();
    if (!m.valid) return 0;
    const int total = recordsIn(Path());
    int stored = 0;
    if (openSiteIs(m)) {
        try {
            stored = storedOf(m.id);
        } catch (const platform::DbError&) {
        }
    }
    return qMax(0, total - stored);
}

int Price(const std::function<void()>& advance) {
    static bool running = false;
    if (running) return Waiting();
    const Mark m = readMark();
    if (!m.present) return 0;
    if (!m.valid) {
        // Cut short while it was written, before any record was answered.
        removeMark();
        return 0;
    }
    const QString path = Path();
    const int total = recordsIn(path);
    if (total == 0) {
        removeMark();
        return 0;
    }
    if (!openSiteIs(m)) return total;
    running = true;
    struct Done {
        ~Done() { running = false; }
    } done;
    QFile file(path);
    int committed = 0;
    try {
        committed = storedOf(m.id);
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        return total;
    }
    if (committed < total && !file.open(QIODevice::ReadOnly)) return total - committed;
    bool failed = false;
    while (committed < total && !failed) {
        int i = committed;
        try {
            platform::Transaction batch(dbSwitch);
            for (int k = 0; k < kBatch && i < total; ++k) {
                if (advance) advance();
                QByteArray record;
                if (file.seek(qint64(i) * kRecord)) record = file.read(kRecord);
                const int n = i + 1;
                if (record.size() != kRecord ||
                    !ClsMonitor().StoreSpooled(record, [&] { noteStored(m.id, n); }, m.charge)) {
                    failed = true;
                    break;
                }
                ++i;
            }
            // What was stored before a failing record stays stored.
            batch.commit();
            committed = i;
        } catch (const std::exception& e) {
            LogRecordError(QString::fromUtf8(e.what()));
            failed = true;
        }
        platform::YieldEvents();
    }
    if (committed < total) return total - committed;
    // Every record is stored: the mark goes, then the note.
    removeMark();
    ModSwitch::RemoveCallFileNote(kProgressKey);
    return 0;
}

Writer::~Writer() { close(); }

bool Writer::start(bool charge, int* waiting, const QString& name) {
    close();
    count_ = 0;
    *waiting = Price();
    if (*waiting > 0) return false;
    // A mark that is left names a site not open now: its records wait.
    if (readMark().present) {
        *waiting = Waiting();
        return false;
    }
    platform::removeCI(AppPath + QStringLiteral("Bill.dat"));
    const QString path = AppPath + name;
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    const quint64 id = QRandomGenerator::system()->generate64();
    const QByteArray mark = kMagic + '\n' + QByteArray::number(id, 16) + '\n' + (charge ? "1" : "0") + '\n' +
                            siteOf(DataPath).toUtf8() + '\n';
    // The mark is on the disk before the first record is answered.
    if (::fsync(fd_) != 0 || !platform::safeReplaceWith(AppPath + kMarkName,
                                   [&](const QString& tmp) {
                                       QFile f(tmp);
                                       return f.open(QIODevice::WriteOnly) && f.write(mark) == mark.size();
                                   }) || !platform::syncDir(AppPath)) {
        close();
        return false;
    }
    return true;
}

bool Writer::append(const QByteArray& frameIn) {
    if (fd_ < 0) return false;
    QByteArray frame = frameIn.left(kRecord);
    if (frame.size() < kRecord) frame.append(QByteArray(kRecord - frame.size(), '\0'));
    const off_t at = off_t(count_) * kRecord;
    qint64 done = 0;
    while (done < kRecord) {
        const ssize_t n = ::pwrite(fd_, frame.constData() + done, size_t(kRecord - done), at + done);
        if (n <= 0) return false;
        done += n;
    }
    if (::fdatasync(fd_) != 0) return false;
    ++count_;
    return true;
}

void Writer::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace pricing::billfile
