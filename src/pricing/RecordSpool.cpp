#include "pricing/RecordSpool.h"

#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/MsgCodes.h"
#include "platform/Files.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RecordQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <cerrno>
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

// A free name beside the spool for a copy kept for the operator:
// "CallSpool-20260620-120000.dat" (then "-2", "-3"...).
QString asideName() {
    const QString stamp = platform::Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int k = 1;; ++k) {
        const QString name = QStringLiteral("CallSpool-") + stamp + (k > 1 ? QStringLiteral("-%1").arg(k) : QString()) +
                             QStringLiteral(".dat");
        if (!QFileInfo::exists(platform::resolveCI(DataPath, name))) return name;
    }
}

// A copy of the spool as it is now, kept beside it for the operator: its name.
QString keepCopy(const RecordQueue& spool) {
    const QString aside = asideName();
    const QString copy = DataPath + aside;
    if (!QFile::copy(spool.path(), copy) || !platform::syncFile(copy) || !platform::syncDir(DataPath)) {
        QFile::remove(copy);
        return QString();
    }
    return aside;
}

// What a replay finds that sets records aside or stores them again is one
// box, kept in the call file before each act it tells of (a kill after the
// act leaves it for the next opening; an act redone replaces it), and told
// once the replay is over.
const QString kMendReport = QStringLiteral("spool-mend");
// The box's text kept so far in this replay.
QString g_kept;

// Keeps the box with `more` added; false when it cannot be kept: the act it
// tells of is then not done.
bool keepTold(const QString& more) {
    if (!dbPhoneCur.isOpen() || !dbPhoneCur.autocommit()) return false;
    try {
        ModSwitch::KeepReport(dbPhoneCur, kMendReport, {g_kept + more, AppName, platform::mbOKOnly | platform::mbExclamation});
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        return false;
    }
    g_kept += more;
    return true;
}

// The box goes back to what it said before an act that was not done.
void unkeepTold(const QString& before) {
    try {
        if (before.isEmpty()) ModSwitch::SettleWriteAhead(dbPhoneCur, ModSwitch::kReportKind, kMendReport);
        else ModSwitch::KeepReport(dbPhoneCur, kMendReport, {before, AppName, platform::mbOKOnly | platform::mbExclamation});
        g_kept = before;
    } catch (const platform::DbError&) {
        // Told as kept: more than happened, never less.
    }
}

// A spool whose own header is damaged (a changed byte of its name) still
// holds answered records: a copy is kept for the operator, the header is
// mended, and each record is stored by its own code and checksum.
bool mendDamaged(const RecordQueue& spool, int records, QString* copied) {
    const QString aside = keepCopy(spool);
    if (aside.isEmpty()) return false;
    const QString before = g_kept;
    if (!keepTold(QStringLiteral("暂存话单文件CallSpool.dat的文件头已损坏，其中可能有%1张话单。原文件已另存为%2，"
                                 "其中的话单按各自的校验存入数据库，校验错误或已存过的记为错误话单。")
                      .arg(records)
                      .arg(aside))) {
        QFile::remove(DataPath + aside);
        return false;
    }
    if (!spool.mendHeader()) {
        unkeepTold(before);
        return false;
    }
    *copied = aside;
    return true;
}

// A spool whose identity bytes changed on the disk: the note counts its
// first records under the identity it had. A copy is kept (unless the header
// was just copied for its name), the identity written back, and the records
// the note counts are not stored again.
bool mendIdentity(const RecordQueue& spool, const RecordQueue::Result& r, const QString& copied) {
    const QString aside = copied.isEmpty() ? keepCopy(spool) : copied;
    if (aside.isEmpty()) return false;
    const QString before = g_kept;
    if (!keepTold((copied.isEmpty() ? QStringLiteral("暂存话单文件CallSpool.dat的文件头已损坏，原文件已另存为%1，文件头已修复。").arg(aside)
                                    : QString()) +
                  QStringLiteral("按已存入数据库的记录核对，其中%1张话单中的前%2张已存入数据库，不再存入，其余的继续存入。")
                      .arg(r.total)
                      .arg(r.counted)))
        return false;
    if (!spool.mendHeader(kMagic + QByteArray::fromHex(r.otherId))) {
        unkeepTold(before);
        return false;
    }
    return true;
}

// A spool whose stored records changed on the disk past telling which they
// were: a copy is kept, and every record is stored again from the first by
// its own checksum, one stored before kept apart as a duplicate.
bool storeAgain(const RecordQueue& spool, const RecordQueue::Result& r) {
    const QString aside = keepCopy(spool);
    if (aside.isEmpty()) return false;
    const QString before = g_kept;
    if (!keepTold(QStringLiteral("暂存话单文件CallSpool.dat中已存入数据库的话单在磁盘上被损坏，无法核对哪些已存入"
                                 "(已存入%1张)。原文件已另存为%2，其中%3张话单按各自的校验重新存入数据库，"
                                 "校验错误或已存过的记为错误话单。")
                      .arg(r.counted)
                      .arg(aside)
                      .arg(r.total))) {
        QFile::remove(DataPath + aside);
        return false;
    }
    try {
        spool.countNone(identityOf(spool.read().header));
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        unkeepTold(before);
        QFile::remove(DataPath + aside);
        return false;
    }
    return true;
}

// A spool that is not the one counted (put back from a copy, written by
// something else), or that changed while it was stored, is not stored
// further: what was being stored and what is there now are both kept
// aside, named for the operator.
void keepChanged(const RecordQueue& spool, const RecordQueue::Result& r) {
    const auto textOf = [&](const QString& held, const QString& now, int records) {
        QString told =
            r.held.records.isEmpty()
                ? QStringLiteral("暂存话单文件CallSpool.dat在存入数据库时被改动(与已存入的话单记录不符)，已停止存入。"
                                 "原来的文件已存入%1张话单。")
                      .arg(r.counted)
                : QStringLiteral("暂存话单文件CallSpool.dat在存入数据库时被改动，已停止存入，已存入%1张话单。").arg(r.counted);
        if (!held.isEmpty())
            told += QStringLiteral("改动前的文件另存为%1，其中从第%2张起的%3张话单没有存入数据库。")
                        .arg(held)
                        .arg(r.stored + 1)
                        .arg(r.held.records.size() - r.stored);
        if (!now.isEmpty())
            told += records < r.counted
                        ? QStringLiteral("现在的文件只有%1张话单，少于已存入的%2张，另存为%3，没有再存入数据库。")
                              .arg(records)
                              .arg(r.counted)
                              .arg(now)
                        : QStringLiteral("现在的文件有%1张话单，另存为%2，没有再存入数据库。").arg(records).arg(now);
        return told;
    };
    QString held;
    if (!r.held.records.isEmpty()) {
        held = asideName();
        if (!platform::writeFileDurably(DataPath + held, r.held.bytes())) held.clear();
    }
    // The box is kept before the spool is moved aside: once it is, nothing
    // waits that would tell it.
    const bool there = QFileInfo::exists(spool.path());
    const int records = there ? spool.count() : 0;
    QString now = there ? asideName() : QString();
    const QString before = g_kept;
    keepTold(textOf(held, now, records));
    if (there) {
        if (!QFile::rename(spool.path(), DataPath + now)) {
            now.clear();
            unkeepTold(before);
            keepTold(textOf(held, now, records));
        }
        platform::syncDir(DataPath);
    }
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
        // A spool there that cannot take it (its header damaged) is mended by the retry.
        if (QFileInfo(path).isFile()) keepRetrying(true);
        // The switch sends it again; until something can keep it, the operator knows.
        showState(QStringLiteral("话单存储失败，暂存文件%1也无法写入").arg(QDir::toNativeSeparators(path)));
    }
    return ok;
}

namespace {

// The year file's fault last told in a box, and a box to tell after the replay.
QString g_faultTold, g_faultBox;

int replaySpool() {
    const RecordQueue spool = queue();
    RecordQueue::Result r;
    QString copied;
    if (const RecordQueue::Contents c = spool.read(); c.state == RecordQueue::State::Damaged) {
        if (!mendDamaged(spool, int(c.records.size()), &copied)) {
            // Nothing is stored from it, nor removed, till a copy is kept.
            showState(QStringLiteral("话单存储失败，暂存文件%1已损坏，无法另存").arg(QDir::toNativeSeparators(spool.path())));
            keepRetrying(true);
            return int(c.records.size());
        }
    }
    if (dbSwitch.isOpen() && dbPhoneCur.isOpen()) {
        RecordQueue::Storing how;
        how.identity = identityOf;
        how.identityFromNote = true;
        how.store = [](const QByteArray& record, const std::function<void()>& note) {
            return ClsMonitor().StoreSpooled(record, note);
        };
        r = spool.store(how);
        // Told apart, each once; a copy that cannot be kept stores nothing.
        if (!r.otherId.isEmpty()) {
            if (mendIdentity(spool, r, copied)) r = spool.store(how);
        } else if (r.damaged && storeAgain(spool, r)) {
            r = spool.store(how);
        }
    } else {
        r.total = spool.count();
        r.failed = true;
    }
    if (r.changed) {
        keepChanged(spool, r);
        keepRetrying(false);
        return 0;
    }
    if (r.failed) {
        // A spool that cannot be read is no stored one: it stays, and is tried again.
        if (r.unreadable)
            showState(QStringLiteral("话单存储失败，暂存文件%1无法读取(%2)，其中%3张话单保留在该文件中，稍后自动重试")
                          .arg(QDir::toNativeSeparators(spool.path()),
                               platform::lastFileError().isEmpty() ? platform::describeErrno(EIO) : platform::lastFileError())
                          .arg(r.total));
        else if (const QString fault = YearFileFault(); !fault.isEmpty()) {
            // A year file the duplicate check cannot read stops every record
            // till someone acts: said with the count, in a box once a fault.
            const QString text = QStringLiteral("话单存储失败：%1，%2张话单已暂存在CallSpool.dat中，可存储时自动补存")
                                     .arg(fault)
                                     .arg(r.waiting());
            showState(text);
            if (fault != g_faultTold) g_faultBox = text;
            g_faultTold = fault;
        } else {
            showState(failingText(r.waiting()));
        }
        keepRetrying(true);
        return r.waiting();
    }
    // Every record is stored: the spool goes, then its note.
    g_faultTold.clear();
    if (!QFile::remove(spool.path())) return r.total;
    platform::syncDir(QFileInfo(spool.path()).absolutePath());
    keepRetrying(false);
    spool.forgetNote();
    if (r.total > 0) showState(QStringLiteral("暂存的%1张话单已存入数据库").arg(r.total));
    return 0;
}

}  // namespace

int Replay() {
    static bool running = false;
    if (running) return 0;
    if (!Waiting()) {
        keepRetrying(false);
        return 0;
    }
    int left = 0;
    {
        running = true;
        struct Done {
            ~Done() { running = false; }
        } done;
        g_kept.clear();
        left = replaySpool();
    }
    // One box for all the replay found, its text whole.
    if (!std::exchange(g_kept, QString()).isEmpty()) ModSwitch::TellReport(dbPhoneCur, kMendReport);
    if (const QString box = std::exchange(g_faultBox, QString()); !box.isEmpty())
        core::Notify(box + QStringLiteral("。"), platform::mbOKOnly | platform::mbExclamation, AppName);
    return left;
}

}  // namespace pricing::spool
