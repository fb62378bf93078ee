#include "core/books/SafetyCopies.h"

#include "core/books/ChangedPages.h"
#include "core/books/ChargeLog.h"
#include "core/books/CopyRecovery.h"
#include "core/books/DbHeader.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/Settings.h"
#include "core/StationFiles.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/MsgCodes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

namespace ModSwitch {

using platform::Database;
using platform::DbError;

namespace {
constexpr qint64 kStationPageSize = 4096;


using platform::quoteIdent;
using platform::sameFile;

// True when the station itself has `path` open: it must not be replaced under it.
bool openByStation(const QString& path) {
    return (dbSwitch.isOpen() && sameFile(dbSwitch.path(), path)) ||
           (dbPhoneCur.isOpen() && sameFile(dbPhoneCur.path(), path));
}

QString MissingTable(const Database& db, const QString& file) {
    for (const QString& t : StationTables(file))
        if (!db.hasTable(t)) return t;
    return {};
}

// The note beside a safety copy ("<copy>.checked") that it passed the full
// check as it stands: the copy's identity (size, time of last write, a
// checksum of its header: platform::fileIdentity) when it was checked. A copy
// written or replaced since has another and is checked again; a data
// directory copied whole with its times is not.
QString checkedNote(const QString& bak) { return bak + QStringLiteral(".checked"); }

void RememberChecked(const QString& bak) {
    const QByteArray id = platform::fileIdentity(bak);
    // Without the note the next start checks the copy again: nothing is lost.
    if (!id.isEmpty()) platform::writeFileDurably(checkedNote(bak), "TARVOCHECKED\n" + id + "\n");
}

bool KnownChecked(const QString& bak) {
    QByteArray text;
    const QByteArray id = platform::fileIdentity(bak);
    return !id.isEmpty() && platform::readFileStrictly(checkedNote(bak), &text) == platform::ReadState::Read &&
           text == "TARVOCHECKED\n" + id + "\n";
}

// What a file's start-up check may take from its copy. A copy that passed
// the full check as it stands (its note) vouches for a file that holds the
// same bytes: every page alike, the header alike but for what the engine
// moves at a commit or an online copy without touching a page's content
// (the write and read versions of the log, the change counter, the schema's
// cookie, the version that last wrote it). Such a file needs only the quick
// check (every page read, the trees' structure); a file with anything in a
// log beside it, or one byte of another page, gets the full check.
bool HasLog(const QString& f) {
    for (const char* side : {"-wal", "-journal"})
        if (QFileInfo(f + QLatin1String(side)).size() > 0) return true;
    return false;
}

bool CopyVouchesFor(const QString& f, const QString& bak) {
    if (HasLog(f)) return false;
    QFile a(f), b(bak);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly)) return false;
    const qint64 size = a.size();
    if (size < 100 || size != b.size() || size % 512 != 0 || !KnownChecked(bak)) return false;
    constexpr qint64 kChunk = 64 << 10;
    QByteArray x(kChunk, Qt::Uninitialized), y(kChunk, Qt::Uninitialized);
    for (qint64 at = 0; at < size;) {
        const qint64 n = qMin(kChunk, size - at);
        if (a.read(x.data(), n) != n || b.read(y.data(), n) != n) return false;
        if (at == 0) {
            for (int i : {18, 19, 24, 25, 26, 27, 40, 41, 42, 43, 92, 93, 94, 95, 96, 97, 98, 99}) x[i] = y[i];
        }
        if (memcmp(x.constData(), y.constData(), size_t(n)) != 0) return false;
        at += n;
    }
    // The copy's note is read again: a copy replaced while it was compared vouches for nothing.
    return KnownChecked(bak);
}

// The full check of a file its copy does not vouch for as a whole. A file
// that stood alone before it was opened (no log played into it), beside a
// copy checked in full as it stands, is checked as the full check would find
// it, where it differs from that copy: every page read and every tree's
// structure by the quick check, then what only the full check looks at (each
// row in each index of its table, unique keys, an index's entries against its
// rows) for the rows and entries on the pages that differ; the copy's own
// check stands for the pages it shares with it. Anything that cannot be
// bounded so gets the whole file checked: for a file that stood alone, its
// indexes read in key order against its tables (`IndexesMatchTheirTables`),
// and the full check where that doubts; else the full check.
bool FullCheck(const Database& cur, const QString& f, const QString& bak, bool stoodAlone) {
    const bool alone = stoodAlone && !HasLog(f);
    if (alone && KnownChecked(bak) && ChangesMayBeBounded(cur, f, bak)) {
        if (!cur.structureCheck()) return false;
        // The copy's note is read again: a copy replaced while it was compared vouches for nothing.
        if (ChangesHoldAgainstCopy(cur, f, bak) && KnownChecked(bak)) return true;
    } else if (!alone || !cur.structureCheck()) {
        return cur.integrityCheck();
    }
    // What the full check looks up row by row, read in key order: the
    // engine's own cache does, where the look-ups would need megabytes more.
    // What that doubts, the full check judges.
    return IndexesMatchTheirTables(cur, f) || cur.integrityCheck();
}

// The station opens the call file attached to the station file, and the
// engine attaches only a file of the main one's text encoding: a file that
// reads alone but cannot be attached is damaged. Trouble (a lock, the disk)
// keeps its own error.
void OpensAttached(const QString& path) {
    Database probe = Database::create(QStringLiteral(":memory:"));
    try {
        probe.attach(path, QStringLiteral("probe"));
    } catch (const DbError& e) {
        if (e.number() == platform::kErrGeneric || e.number() == platform::kErrNoSuchTable)
            throw DbError(platform::kErrNotADatabase, e.text());
        throw;
    }
}

// A copy that passes the full check and holds the station's tables. A copy that
// cannot be read for another reason than damage (a full disk, a lock, no
// permission) is not known to be bad: its cause goes to `trouble`.
bool SoundCopy(const QString& bak, QString* trouble = nullptr) {
    if (!QFileInfo(bak).isFile()) return false;
    if (!HeaderFault(HeadOf(bak)).isEmpty()) return false;
    try {
        // The full check: a copy put back must not carry damage the quick one misses.
        Database b = Database::openSnapshot(bak);
        const bool ok = b.integrityCheck() && MissingTable(b, bak.chopped(4)).isEmpty();
        b.close();
        if (ok) RememberChecked(bak);
        return ok;
    } catch (const DbError& e) {
        if (trouble && !platform::meansDamage(e)) *trouble = platform::troubleCause(e);
        return false;
    }
}

// What the start-up found a file to be.
enum class Found { Sound, Damaged, Trouble, Locked };

QString troubleText(const QString& name, const QString& cause) {
    return QStringLiteral("数据库文件%1无法检查（%2），文件未作任何改动，请排除故障后重新启动。").arg(name, cause);
}

// What to look at follows the cause: the space of the disk, the rights on the
// data directory and its files, the program that holds the file, the disk itself.
QString AdviceFor(const QString& cause) {
    if (cause.contains(QStringLiteral("只读")) || cause.contains(QStringLiteral("权限")))
        return QStringLiteral("请尽快检查数据目录及其文件的写入权限");
    if (cause.contains(QStringLiteral("占用")) || cause.contains(QStringLiteral("其他程序")))
        return QStringLiteral("请关闭正在使用该文件的其他程序");
    if (cause.contains(QStringLiteral("读写错误"))) return QStringLiteral("请尽快检查磁盘");
    if (cause.contains(QStringLiteral("已满")) || cause.contains(QStringLiteral("大小超出"))) return QStringLiteral("请尽快检查磁盘空间");
    return QStringLiteral("请尽快检查磁盘空间和数据目录的写入权限");
}

bool g_trouble = false;   // the last failure of TryCompactDB was trouble, not damage

// One file's start-up check: its paths and where its outcome goes.
struct StartCheck {
    QString f, b, tmp, name;
    bool vouched = false;   // its copy vouches for the file (CopyVouchesFor)
    QString* failure = nullptr;
    QString* notice = nullptr;

    StartCheck(const QString& fileName, QString* failureOut, QString* noticeOut) : failure(failureOut), notice(noticeOut) {
        f = platform::resolveCI(DataPath, fileName);
        b = platform::resolveCI(DataPath, QFileInfo(f).fileName() + QStringLiteral(".bak"));
        tmp = platform::resolveCI(DataPath, QStringLiteral("Tmp.mdb"));
        name = QFileInfo(f).fileName();
    }
    // Trouble: the cause named, nothing moved.
    bool troubled(const QString& cause) const {
        g_trouble = true;
        if (failure) *failure = troubleText(name, cause);
        return false;
    }
    bool failed(const QString& why = QString()) const {
        if (failure) *failure = why.isEmpty() ? QStringLiteral("恢复数据库失败!") : why;
        return false;
    }
    void tell(const QString& text) const {
        if (notice) *notice += (notice->isEmpty() ? QString() : QStringLiteral("\n")) + text;
        else core::Notify(text, platform::mbOKOnly, QStringLiteral("警告"));
    }
    QString copyTime() const { return QFileInfo(b).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }
};

// Step 1: a restore a power cut interrupted is completed, from the copy it
// began with. None when there was none to complete.
std::optional<bool> CompleteInterruptedRestore(const StartCheck& s) {
    const QString markFile = platform::resolveCI(DataPath, s.name + QStringLiteral(".pending-restore"));
    const QString target = markFile.chopped(QStringLiteral(".pending-restore").size());
    PendingRestore p;
    switch (ReadPending(target, &p)) {
    case platform::ReadState::Missing: return std::nullopt;
    case platform::ReadState::Read: {
        QString why;
        if (SoundCopy(s.b, &why)) return FinishRestore(s.b, target, p, s.failure, s.notice);
        // The mark stays for a start that can read the copy.
        return why.isEmpty() ? s.failed() : s.troubled(why);
    }
    case platform::ReadState::Unreadable:
        if (!QFileInfo(target).isFile()) {
            // A mark that cannot be read beside a file that is gone: it was
            // moved; the newest file set aside is the one it names.
            QString why;
            if (!SoundCopy(s.b, &why)) return why.isEmpty() ? s.failed() : s.troubled(why);
            p = PendingRestore{};
            p.copyTime = s.copyTime();
            const QDir d(DataPath);
            QStringList aside = d.entryList({s.name + QStringLiteral(".damaged-*")}, QDir::Files);
            aside.removeIf([](const QString& n) { return n.endsWith(QStringLiteral("-wal")) || n.endsWith(QStringLiteral("-shm")) ||
                                                         n.endsWith(QStringLiteral("-journal")); });
            std::sort(aside.begin(), aside.end());
            if (!aside.isEmpty()) {
                p.aside = d.filePath(aside.last());
                p.existed = true;
            }
            return FinishRestore(s.b, target, p, s.failure, s.notice);
        }
        // Cut short while it was written: nothing was moved yet.
        QFile::remove(markFile);
        return std::nullopt;
    }
    return std::nullopt;
}

// A file whose copy is its bytes as they stand (nothing written to it
// between its check and its copy, no compaction) has its copy taken on a
// thread of its own while it is checked: a start then costs its check, not
// its check and its copy. The copy waits beside the old one ("<file>.bak.taking")
// and goes in, by the one writer, only once the file passed its check; a file
// found damaged leaves no trace of it.
class CopyAlongside {
public:
    explicit CopyAlongside(const StartCheck& s) : f_(s.f), staged_(s.b + QStringLiteral(".taking")) {}
    ~CopyAlongside() { discard(); }
    CopyAlongside(const CopyAlongside&) = delete;
    CopyAlongside& operator=(const CopyAlongside&) = delete;

    // Starts the copy of `f`, open in `cur` and read once (a hot journal rolled
    // back), when it is to be copied as it stands.
    void start(const Database& cur);
    // Waits for the copy: its path when it stands whole, else empty (what was
    // written of it gone: the copy taken after the check needs the room).
    QString taken() {
        join();
        if (!ok_) RemoveWorkFile(staged_);
        return ok_ ? staged_ : QString();
    }
    // Waits for the copy and throws it away.
    void discard() {
        join();
        ok_ = false;
        RemoveWorkFile(staged_);
    }

private:
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    QString f_, staged_;
    std::thread thread_;
    bool ok_ = false;
};

// Step 2: the file checked in full, its header judged, opened as the
// station opens it, compared with its copy. Sound: `cur` stays open on it.
Found CheckFile(StartCheck& s, Database& cur, QString* why, CopyAlongside& alongside) {
    const QString& f = s.f;
    try {
        if (!QFileInfo(f).isFile()) {
            *why = QStringLiteral("找不到文件 '%1'").arg(f);
            return Found::Damaged;
        }
        // Compared before the opening can roll a log into the file. A file
        // its copy vouches for is its copy's pages: none is taken again.
        s.vouched = CopyVouchesFor(f, s.b);
        const bool noLog = !HasLog(f);
        cur = Database::open(f);
        if (!s.vouched) alongside.start(cur);
        if (!(s.vouched ? cur.structureCheck() : FullCheck(cur, f, s.b, noLog))) {
            *why = QStringLiteral("数据库已损坏 '%1'").arg(f);
            return Found::Damaged;
        }
        // Read after the opening has rolled back a hot journal: what stands is the file's.
        if (const QString field = HeaderFault(HeadOf(f)); !field.isEmpty()) {
            *why = QStringLiteral("数据库文件头已损坏（%1）'%2'").arg(field, f);
            return Found::Damaged;
        }
        if (const QString missing = MissingTable(cur, f); !missing.isEmpty()) {
            *why = QStringLiteral("数据库缺少表 %1 '%2'").arg(missing, f);
            return Found::Damaged;
        }
        OpensAttached(f);
        return Found::Sound;
    } catch (const DbError& e) {
        // A header field the engine refuses to open with (a schema format of
        // none of its versions) is damage, however the engine words it.
        const bool refused = e.number() == platform::kErrGeneric && !HeaderFault(HeadOf(f)).isEmpty();
        const Found found = e.number() == platform::kErrExclusive     ? Found::Locked
                            : platform::meansDamage(e) || refused ? Found::Damaged
                                                                  : Found::Trouble;
        *why = found == Found::Damaged ? platform::OperatorText(e) : platform::troubleCause(e);
        return found;
    }
}

// The copy about to be taken gets the next number: the charges logged from
// now on come after it. A file put back from a backup may carry a lower
// number than charges logged before it: the next number passes theirs, so
// they are never taken for charges made since this copy.
//
// A station file without a mark keeps its number until it is placed: an
// older release's file put back holds the entries logged under its number
// before it was taken, not those logged after, and a number raised past them
// would take them all for held.
void NumberTheCopy(const Database& cur, const QString& f) {
    if (!StationTables(f).contains(QStringLiteral("Variant"))) return;
    if (AppliedMark(cur) < 0) return;
    const qint64 logged = LoggedGeneration(platform::resolveCI(DataPath, QStringLiteral("PhoneCur.mdb")));
    platform::Transaction tx(cur);
    const qint64 next = qMax(CopyGenerationOf(cur), logged) + 1;
    SetVariant(cur, kCopyGeneration, QString::number(next));
    tx.commit();
}

// A file is rewritten when it gives back space (an eighth of its pages or
// more free) or holds pages of another size than the station's. A busy call
// file gains nothing from being rewritten at every start (the nightly archive
// compacts it after the calls it moves out), and the rewrite would cost as
// much as its check.
bool WorthCompacting(const Database& cur) {
    const qint64 pages = cur.scalar(QStringLiteral("PRAGMA page_count")).toLongLong();
    const qint64 free = cur.scalar(QStringLiteral("PRAGMA freelist_count")).toLongLong();
    return cur.scalar(QStringLiteral("PRAGMA page_size")).toLongLong() != kStationPageSize || free * 8 >= pages;
}

void CopyAlongside::start(const Database& cur) {
    // The station file is numbered before its copy is taken (NumberTheCopy).
    if (StationTables(f_).contains(QStringLiteral("Variant"))) return;
    try {
        if (WorthCompacting(cur)) return;
    } catch (const DbError&) {
        return;   // the check says what is wrong
    }
    RemoveWorkFile(staged_);
    // The thread reads the file through a connection of its own, beside the
    // check's: the engine's online copy takes what is committed, its log
    // included, and writes it out of write-ahead mode. It calls nothing a
    // test watches; a failure only leaves the copy to be taken after the check.
    thread_ = std::thread([this] {
        try {
            Database from = Database::openReadOnly(f_);
            // Each page is read once: a cache would only add to the start's memory.
            from.execute(QStringLiteral("PRAGMA cache_size=-256"));
            from.backupTo(staged_);
            ok_ = true;
        } catch (...) {
            ok_ = false;
        }
    });
}

// Step 3: the sound file compacted in place (when worth it) and its safety
// copy taken from it. An error of the engine or the disk is thrown; `cur` is closed.
void CompactAndCopy(const StartCheck& s, Database& cur, CopyAlongside& alongside) {
    // The copy taken beside the check is waited for before anything is
    // written to the file.
    const QString taken = alongside.taken();
    // A station file put back by hand behind its copy: the copy, the last
    // rows of what it replaced, is kept before it is taken anew.
    if (StationTables(s.f).contains(QStringLiteral("Variant"))) KeepCopyAhead(s.f, s.b, cur);
    NumberTheCopy(cur, s.f);
    RemoveWorkFile(s.tmp);
    QString error;
    if (!WorthCompacting(cur)) {
        // Nothing to give back: the file stays as it is. A copy that vouched
        // for it holds its pages already (a file numbered above has changed).
        if (s.vouched && !StationTables(s.f).contains(QStringLiteral("Variant"))) {
            cur.close();
            return;
        }
        // Else its copy is taken of it out of write-ahead mode (it stands
        // alone). A copy taken beside the check is already; else the file
        // leaves that mode first.
        if (taken.isEmpty()) cur.execute(QStringLiteral("PRAGMA journal_mode=DELETE"));
        cur.close();
        if (!WriteSafetyCopy(s.f, true, &error, nullptr, taken)) throw DbError(platform::kErrGeneric, error);
        return;
    }
    alongside.discard();
    // Small pages: a record writes the fewest bytes with them, and a file an
    // earlier version compacted with an archive's large pages gets them back
    // at this start.
    cur.vacuumInto(s.tmp, kStationPageSize);
    cur.close();
    // The compaction is written beside the file: synced whole, the file's
    // stale journal and logs removed, renamed over it, the folder synced.
    if (!platform::syncFile(s.tmp))
        throw DbError(platform::kErrGeneric, QStringLiteral("无法写入 %1（%2）").arg(s.tmp, platform::lastFileError()));
    for (const char* side : {"-journal", "-wal", "-shm"}) QFile::remove(s.f + QLatin1String(side));
    if (!platform::renameFile(s.tmp, s.f, &error)) throw DbError(platform::kErrGeneric, error);
    platform::syncDir(QFileInfo(s.f).absolutePath());
    RemoveWorkFile(s.tmp);
    // The file passed the full check above; the copy is its compaction.
    if (!WriteSafetyCopy(s.f, true, &error)) throw DbError(platform::kErrGeneric, error);
}

// A sound file stays as it is when only its compaction or its copy failed
// (a full disk); the copy is older than the file and would lose what was
// stored since: the operator hears how old it is, and what to look at.
void TellCopyNotRenewed(const StartCheck& s, const QString& why) {
    s.tell(QFileInfo(s.b).isFile()
               ? QStringLiteral("数据库文件%1的安全备份未能更新（%2），现有备份是%3的，%4。").arg(s.name, why, s.copyTime(), AdviceFor(why))
               : QStringLiteral("数据库文件%1的安全备份未能建立（%2），%3。").arg(s.name, why, AdviceFor(why)));
}

// Step 4: a damaged or missing file put back from its sound copy, the mark
// that records it on the disk before anything moves.
bool PutBackFromCopy(StartCheck& s, const QString& why) {
    const bool existed = QFileInfo(s.f).isFile();
    // A missing file comes back under the name its copy spells it with.
    if (!existed && QFileInfo(s.b).isFile()) s.f = s.b.chopped(4);
    QString copyTrouble;
    if (!SoundCopy(s.b, &copyTrouble)) return copyTrouble.isEmpty() ? s.failed(why) : s.troubled(copyTrouble);
    PendingRestore p;
    p.existed = existed;
    p.copyTime = s.copyTime();
    if (existed) {
        const QString stem = s.f + QStringLiteral(".damaged-") + platform::Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        p.aside = stem;
        for (int n = 2; QFileInfo::exists(p.aside); ++n) p.aside = stem + QStringLiteral("-%1").arg(n);
    }
    QString error;
    if (!WritePending(s.f, p, &error)) return s.troubled(error);
    RestoreStep(QStringLiteral("marked"));
    return FinishRestore(s.b, s.f, p, s.failure, s.notice);
}

}  // namespace

bool WriteSafetyCopy(const QString& file, bool checked, QString* error, const platform::Database* from, const QString& taken) {
    const QString bak = platform::resolveCI(QFileInfo(file).absolutePath(), QFileInfo(file).fileName() + QStringLiteral(".bak"));
    QString why;
    const bool written = platform::safeReplaceWith(bak, [&](const QString& tmp) {
        try {
            if (!taken.isEmpty()) {
                if (!platform::renameFile(taken, tmp, &why)) return false;
            } else if (from) {
                from->backupTo(tmp);
            } else if (!platform::copyFile(file, tmp, &why)) {
                return false;
            }
            QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            if (checked) return true;
            // A copy of an open file is checked in full before it stands for the file.
            Database c = Database::openSnapshot(tmp);
            if (c.integrityCheck()) return true;
            why = QStringLiteral("复制出的安全备份未通过检查");
            return false;
        } catch (const DbError& e) {
            why = platform::troubleCause(e);
            return false;
        }
    }, &why);
    if (!written) {
        if (error) *error = why;
        return false;
    }
    RememberChecked(bak);
    return true;
}

void CompactDB(const QString& fileName) {
    QString failure;
    if (TryCompactDB(fileName, &failure, nullptr)) return;
    // Trouble is told by its cause; damage without a sound copy is the
    // restore's failure, and a restore the disk stopped says what stopped it.
    QString text = QStringLiteral("恢复数据库失败!");
    if (g_trouble) text = failure;
    else if (failure.startsWith(text) && failure.size() > text.size()) text = failure + QStringLiteral("，") + AdviceFor(failure) + QStringLiteral("。");
    core::Notify(text, platform::mbOKOnly, QStringLiteral("警告"));
    core::EndStation();
}

bool TryCompactDB(const QString& fileName, QString* failure, QString* notice) {
    g_trouble = false;
    StartCheck s(fileName, failure, notice);
    if (openByStation(s.f)) return true;
    if (const std::optional<bool> done = CompleteInterruptedRestore(s)) return *done;

    QString why;
    Database cur;
    CopyAlongside alongside(s);
    Found found = CheckFile(s, cur, &why, alongside);
    if (found != Found::Sound) {
        alongside.discard();
        cur.close();
    }
    // Another program holds the file: leave it for the next start.
    if (found == Found::Locked) return true;
    if (found == Found::Trouble) return s.troubled(why);
    if (found == Found::Sound) {
        try {
            CompactAndCopy(s, cur, alongside);
            return true;
        } catch (const DbError& e) {
            alongside.discard();
            cur.close();
            RemoveWorkFile(s.tmp);
            // The engine found damage the check did not: the file is damaged.
            if (!platform::meansDamage(e)) {
                TellCopyNotRenewed(s, platform::troubleCause(e));
                return true;
            }
            why = platform::OperatorText(e);
        }
    }
    RemoveWorkFile(s.tmp);
    return PutBackFromCopy(s, why);
}

// ------------------------------------------------------------------ stale journals

int RemoveStaleSuperJournals(const QString& dir) {
    // A commit across the attached files writes a super-journal
    // ("switch.mdb-mj" and hex digits) that the engine deletes when the commit
    // ends. A kill leaves it behind; while a hot journal still names it, it
    // decides how that journal is rolled back and must stay.
    const QDir d(dir);
    const QStringList names = d.entryList(QDir::Files | QDir::Hidden | QDir::System);
    static const QRegularExpression superJournal(QStringLiteral("^.+\\.mdb-mj[0-9a-f]+$"),
                                                 QRegularExpression::CaseInsensitiveOption);
    QStringList candidates;
    QList<QByteArray> journals;
    for (const QString& n : names) {
        if (superJournal.match(n).hasMatch()) {
            candidates << n;
        } else if (n.endsWith(QStringLiteral("-journal"), Qt::CaseInsensitive)) {
            QFile j(d.filePath(n));
            if (!j.open(QIODevice::ReadOnly)) return 0;   // a journal we cannot read may name any of them
            // The name of the super-journal stands at the end of a journal.
            const qint64 tail = 1 << 20;
            if (j.size() > tail) j.seek(j.size() - tail);
            journals << j.readAll();
        }
    }
    int removed = 0;
    for (const QString& n : candidates) {
        const QByteArray name = QFile::encodeName(n);
        bool named = false;
        for (const QByteArray& j : journals) named = named || j.contains(name);
        if (!named && QFile::remove(d.filePath(n))) ++removed;
    }
    return removed;
}

}  // namespace ModSwitch
