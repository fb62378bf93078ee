#include "pricing/BillFile.h"

#include "core/books/ChargeLog.h"
#include "link/DepositEvents.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/MsgCodes.h"
#include "link/FrameReader.h"
#include "pricing/ClsMonitor.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

namespace pricing::billfile {

namespace {

// Records priced in one transaction before pending events may run.
constexpr int kBatch = 256;
const QByteArray kMagic("TARVOBILL");
const QString kMarkName = QStringLiteral("BillWait.dat");
// The mark once every record of the file is stored.
const QString kDoneName = QStringLiteral("BillDone.dat");
// The note in the open site's call file naming the file and how many of its
// records are stored; written in the transaction that stores each record.
const QString kProgressKey = QStringLiteral("TarvoBillDone");

// Lines: magic, file id, charge flag, the site's directory, the site's name.
struct Mark {
    bool present = false;
    bool valid = false;
    QByteArray id;
    bool charge = false;
    QString site;
    QString siteName;
};

QString markPath() { return platform::resolveCI(AppPath, kMarkName); }
QString donePath() { return platform::resolveCI(AppPath, kDoneName); }

Mark readMark() {
    Mark m;
    QFile f(markPath());
    if (!f.exists()) return m;
    m.present = true;
    if (!f.open(QIODevice::ReadOnly)) return m;
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.size() < 4 || lines[0] != kMagic || lines[1].isEmpty() || lines[3].isEmpty()) return m;
    m.id = lines[1];
    m.charge = lines[2] == "1";
    m.site = QString::fromUtf8(lines[3]);
    m.siteName = QString::fromUtf8(lines.value(4));
    m.valid = true;
    return m;
}

bool writeMark(const Mark& m) {
    const QByteArray text = kMagic + '\n' + m.id + '\n' + (m.charge ? "1" : "0") + '\n' + m.site.toUtf8() + '\n' +
                            m.siteName.toUtf8() + '\n';
    // Every write and its sync checked: a full disk leaves the former mark, never an empty one.
    return platform::writeFileDurably(platform::resolveCI(AppPath, kMarkName), text);
}

QString siteOf(const QString& dir) {
    const QString c = QFileInfo(dir).canonicalFilePath();
    return c.isEmpty() ? QFileInfo(dir).absoluteFilePath() : c;
}

// The open site as a mark names it.
Mark openSiteMark(bool charge) {
    Mark m;
    m.present = m.valid = true;
    m.id = QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    m.charge = charge;
    m.site = siteOf(DataPath);
    m.siteName = TerminalName;
    return m;
}

bool openSiteIs(const Mark& m) {
    return !DataPath.isEmpty() && dbSwitch.isOpen() && dbPhoneCur.isOpen() && siteOf(DataPath) == m.site;
}

// The name the operator knows a site by: the one it had when the records were
// read, else its directory's ("默认" for the root data directory).
QString siteNameOf(const Mark& m) {
    if (!m.siteName.isEmpty()) return m.siteName;
    if (siteOf(platform::resolveCI(AppPath, QStringLiteral("data"))) == m.site) return QStringLiteral("默认");
    return QFileInfo(m.site).fileName();
}

QString openSiteName() { return TerminalName.isEmpty() ? QStringLiteral("默认") : TerminalName; }

// The records, with no header: the mark names the file. Only a file holds
// records: a directory or a device under the name holds none.
RecordQueue queueAt(const QString& path) { return RecordQueue(path, 0, QByteArray(), kProgressKey); }
RecordQueue queue() { return queueAt(Path()); }

// The note of the site of `m` (not open now) on how many records of the file
// it has stored, when its files can still be read: beside its calls, or where
// a station of before kept it, in its station file. "" when it has none.
QString noteInSite(const Mark& m) {
    const std::pair<const char*, const char*> places[] = {{"PhoneCur.mdb", "tab_notes"}, {"Switch.mdb", "variant"}};
    for (const auto& [name, table] : places) {
        const QString file = platform::resolveCI(m.site, QString::fromLatin1(name));
        if (!QFileInfo::exists(file)) continue;
        try {
            platform::Database db = platform::Database::openReadOnly(file);
            const QString actual = db.actualTableName(QString::fromLatin1(table));
            const QString v = actual.isEmpty() ? QString()
                                               : db.scalar(QStringLiteral("select value from %1 where varname=?")
                                                               .arg(platform::quoteIdent(actual)),
                                                           {kProgressKey})
                                                     .toString();
            db.close();
            if (v.section(QLatin1Char(':'), 0, 0).toLatin1() == m.id) return v;
        } catch (const std::exception&) {
        }
    }
    return QString();
}

int storedInSite(const Mark& m) { return noteInSite(m).section(QLatin1Char(':'), 1, 1).toInt(); }

// What waits of `total` records for the site of `m`, open or not.
int waitingOf(const Mark& m, const RecordQueue& file, int total) {
    int stored = 0;
    try {
        stored = openSiteIs(m) ? file.stored(m.id) : storedInSite(m);
    } catch (const platform::DbError&) {
    }
    return qMax(0, total - stored);
}

// The end of free names beside the file for the file and its mark set aside
// together: "-20260620-120000.dat" (and "-2", "-3"...) after "Bill" and "BillWait".
QString asideEnd() {
    const QString stamp = platform::Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int k = 1;; ++k) {
        const QString end = QLatin1Char('-') + stamp + (k > 1 ? QStringLiteral("-%1").arg(k) : QString()) +
                            QStringLiteral(".dat");
        if (!QFileInfo::exists(platform::resolveCI(AppPath, QStringLiteral("Bill") + end)) &&
            !QFileInfo::exists(platform::resolveCI(AppPath, QStringLiteral("BillWait") + end)))
            return end;
    }
}

// The mark goes to its done name: nothing waits, and the file beside it is
// known to be stored.
void markAllStored() {
    const QString from = markPath();
    QFile::remove(donePath());
    if (!QFile::rename(from, AppPath + kDoneName)) QFile::remove(from);
    platform::syncDir(AppPath);
}

// What the storing of "Bill.dat" found that leaves money or records out is
// kept in the open site's call file before the files change, and told once
// the pricing is over: a kill while the box stands leaves it for the next
// opening. An act redone after a kill replaces its report.
const QString kUnmarkedReport = QStringLiteral("bill-unmarked");
const QString kChangedReport = QStringLiteral("bill-changed");
const QString kAgainReport = QStringLiteral("bill-again");

bool keep(const QString& key, const QString& text) {
    try {
        ModSwitch::KeepReport(dbPhoneCur, key, {text, AppName, platform::mbOKOnly | platform::mbExclamation});
        return true;
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        return false;
    }
}

void forget(const QString& key) {
    try {
        ModSwitch::SettleWriteAhead(dbPhoneCur, ModSwitch::kReportKind, key);
    } catch (const platform::DbError&) {
        // Told at the next opening: more than happened, never less.
    }
}

void tellKept() {
    if (!dbPhoneCur.isOpen()) return;
    for (const QString& key : {kUnmarkedReport, kAgainReport, kChangedReport}) ModSwitch::TellReport(dbPhoneCur, key);
}

QString unmarkedText(int records, const QString& copy) {
    return QStringLiteral("Bill.dat的标记文件BillWait.dat丢失或损坏，无法确定其中%1张话单是否已存入数据库。"
                          "Bill.dat已另存为%2，其中的话单存入当前站点“%3”，不扣费，已存过的记为错误话单。")
        .arg(records)
        .arg(copy, openSiteName());
}

// The kept box of the file taken beside a lost mark in this pricing: what the
// storing finds damaged joins it, one box.
QString g_unmarkedKept;

// A file with records beside a missing or damaged mark: nobody can say which
// of them are stored, so a copy is kept aside for the operator and what can
// be read is priced into the open site (uncharged; a record stored before
// becomes a duplicate's reject row). The box is kept before the new mark
// takes them uncharged: nothing else would tell it.
bool takeDamaged(const QString& path, Report* report) {
    const QString end = asideEnd();
    const QString copy = QStringLiteral("Bill") + end;
    if (!QFile::copy(path, AppPath + copy) || !platform::syncFile(AppPath + copy)) return false;
    const int records = queueAt(path).count();
    g_unmarkedKept = unmarkedText(records, copy);
    if (!keep(kUnmarkedReport, g_unmarkedKept)) {
        g_unmarkedKept.clear();
        QFile::remove(AppPath + copy);
        return false;
    }
    if (QFileInfo::exists(markPath())) QFile::rename(markPath(), AppPath + QStringLiteral("BillWait") + end);
    if (!writeMark(openSiteMark(false))) {
        forget(kUnmarkedReport);
        return false;
    }
    QFile::remove(donePath());
    platform::syncDir(AppPath);
    if (report) {
        report->damagedCopy = copy;
        report->damagedRecords = records;
    }
    return true;
}

// A file whose records were being stored changed meanwhile, or is not the
// one whose records the note counts (put in its place from outside): storing
// stops, what was being stored and what is there now are kept aside, each
// under a name the operator is told, and nothing of them is stored further.
// The mark goes with the file it describes.
void keepChanged(const RecordQueue& file, const RecordQueue::Result& r, Report* report) {
    const int stored = r.counted;
    const bool withHeld = !r.held.records.isEmpty();
    const bool withNow = QFileInfo(file.path()).isFile();
    const int nowRecords = withNow ? file.count() : 0;
    const QString stop = !withHeld ? QStringLiteral("Bill.dat与已存入数据库的话单不符(已被替换或改动)，已停止存入")
                                   : QStringLiteral("Bill.dat在存入数据库时被替换或改动，已停止存入");
    if (report) report->stopped = stop;
    const auto textOf = [&](const QString& held, const QString& now) {
        QString text = stop + (held.isEmpty() ? QStringLiteral("。原来的Bill.dat已存入%1张话单。").arg(stored)
                                              : QStringLiteral("。原来的Bill.dat已存入%1张话单，其余%2张没有存入，原文件已另存为%3。")
                                                    .arg(stored)
                                                    .arg(r.held.records.size() - stored)
                                                    .arg(held));
        // What is there now was not stored from it; some of it may be what was.
        if (!now.isEmpty())
            text += nowRecords < stored
                        ? QStringLiteral("现在的Bill.dat已另存为%1，其中%2张话单(少于已存入的%3张)没有再存入数据库。")
                              .arg(now)
                              .arg(nowRecords)
                              .arg(stored)
                        : QStringLiteral("现在的Bill.dat已另存为%1，其中%2张话单没有再存入数据库。").arg(now).arg(nowRecords);
        return text;
    };
    // The names are chosen and the box kept before anything moves: once the
    // files are aside, nothing waits that would tell them.
    const QString heldEnd = withHeld ? asideEnd() : QString();
    QString held = withHeld ? QStringLiteral("Bill") + heldEnd : QString();
    if (withHeld && !platform::writeFileDurably(AppPath + held, r.held.bytes())) held.clear();
    const QString nowEnd = withNow ? asideEnd() : QString();
    QString now = withNow ? QStringLiteral("Bill") + nowEnd : QString();
    keep(kChangedReport, textOf(held, now));
    if (!held.isEmpty()) QFile::rename(markPath(), AppPath + QStringLiteral("BillWait") + heldEnd);
    if (withNow) {
        if (QFile::rename(file.path(), AppPath + now)) {
            if (held.isEmpty()) QFile::rename(markPath(), AppPath + QStringLiteral("BillWait") + nowEnd);
        } else {
            now.clear();
            keep(kChangedReport, textOf(held, now));
        }
    }
    platform::syncDir(AppPath);
}

// Records stored from the file changed on the disk past telling which they
// were: a copy is kept aside, and every record is stored again from the
// first by its own checksum, one stored before kept apart as a duplicate.
bool storeAgain(const RecordQueue& file, const QByteArray& id, const RecordQueue::Result& r) {
    const QString copy = QStringLiteral("Bill") + asideEnd();
    if (!QFile::copy(file.path(), AppPath + copy) || !platform::syncFile(AppPath + copy) || !platform::syncDir(AppPath)) {
        QFile::remove(AppPath + copy);
        return false;
    }
    // Kept before the note forgets the count: after it, nothing tells it.
    if (!keep(kAgainReport, QStringLiteral("Bill.dat中已存入数据库的话单在磁盘上被损坏，无法核对哪些已存入(已存入%1张)。"
                                           "Bill.dat已另存为%2，其中%3张话单按各自的校验重新存入数据库，校验错误或已存过的记为错误话单。")
                                .arg(r.counted)
                                .arg(copy)
                                .arg(r.total))) {
        QFile::remove(AppPath + copy);
        return false;
    }
    try {
        file.countNone(id);
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        forget(kAgainReport);
        QFile::remove(AppPath + copy);
        return false;
    }
    return true;
}

// A deposit event among the records is no call: it goes to the deposit
// history, as it does when the switch sends it live, with no answer. Its
// record is stored, as every record is, by the commit of the call file that
// notes it: the event waits there beside the note, and the history (in the
// station file) takes it in a commit of its own right after, or at the next
// storing or opening; an event the history holds already counts as taken.
// One the history cannot take by its own content (no valid time, another
// event under its time and extension) is kept as a reject row, its frame in
// the record error log. False when the database cannot store now.
const QString kEventsWaiting = QStringLiteral("TarvoDepositEventsWaiting");

void keepAside(const QByteArray& record) {
    LogRecordError(QStringLiteral("押金事件未能写入押金历史: ") + QString::fromLatin1(record.toHex(' ').toUpper()));
}

bool keepDeposit(const QByteArray& record, const std::function<void()>& note) {
    bool readable = false;
    try {
        ModGeneral::ReadDepositEvent(record);
        readable = true;
    } catch (const std::exception&) {
    }
    // A station without the history (another switch model) keeps the event aside too.
    if (readable && !dbSwitch.actualTableName(QStringLiteral("ExtDepositHistory")).isEmpty()) {
        try {
            const QString held = ModSwitch::CallFileNote(kEventsWaiting);
            ModSwitch::SetCallFileNote(kEventsWaiting, held + (held.isEmpty() ? QString() : QStringLiteral(",")) +
                                                           QString::fromLatin1(record.toHex()));
            note();
            dbSwitch.afterCommit([] { HistoryTakesWaitingEvents(); });
            return true;
        } catch (const platform::DbError& e) {
            LogRecordError(e.text());
            return false;
        }
    }
    keepAside(record);
    return ClsMonitor().StoreReject(record, note);
}

}  // namespace

bool HistoryTakesWaitingEvents() {
    // Once at a time: the commits below run what waited for a commit, and
    // that may be this again.
    static bool running = false;
    if (running) return false;
    running = true;
    struct Done {
        ~Done() { running = false; }
    } done;
    QList<QByteArray> events;
    try {
        for (const QString& hex : ModSwitch::CallFileNote(kEventsWaiting).split(QLatin1Char(','), Qt::SkipEmptyParts))
            events << QByteArray::fromHex(hex.toLatin1());
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        return false;
    }
    if (events.isEmpty()) return true;
    QList<ModGeneral::DepositEvent> added;
    QList<QByteArray> refused;
    try {
        {
            // The station file's commit, alone.
            platform::Transaction tx(dbSwitch);
            for (const QByteArray& record : events) {
                try {
                    const ModGeneral::DepositEvent e = ModGeneral::ReadDepositEvent(record);
                    if (ModGeneral::StoreDepositEvent(e)) added << e;
                } catch (const platform::DbError& e) {
                    if (e.number() != platform::kErrDuplicateKey) throw;
                    refused << record;
                }
            }
            tx.commit();
        }
        // Then the call file's: the events leave it, those refused as reject rows.
        platform::Transaction tx(dbSwitch);
        for (const QByteArray& record : refused) {
            keepAside(record);
            if (!ClsMonitor().StoreReject(record, [] {}))
                throw platform::DbError(platform::kErrGeneric, QStringLiteral("押金事件未能存为错误话单"));
        }
        ModSwitch::SetCallFileNote(kEventsWaiting, QString());
        tx.commit();
    } catch (const platform::DbError& e) {
        LogRecordError(e.text());
        return false;
    }
    for (const ModGeneral::DepositEvent& e : added) ModGeneral::ShowDepositEvent(e);
    return true;
}

QString Path() {
    const QString found = platform::resolveCI(AppPath, QStringLiteral("Bill.dat"));
    return found.isEmpty() ? AppPath + QStringLiteral("Bill.dat") : found;
}

QString WaitingText(int n) {
    // Records that cannot be read now are not stored, and not taken as stored either.
    QByteArray bytes;
    if (platform::readFileStrictly(Path(), &bytes) == platform::ReadState::Unreadable)
        return QStringLiteral("%1张话单尚未存入数据库：Bill.dat无法读取(%2)，话单保留在Bill.dat中，可读取时再存入")
            .arg(n)
            .arg(platform::lastFileError().isEmpty() ? platform::describeErrno(EIO) : platform::lastFileError());
    const Mark m = readMark();
    if (m.valid && !openSiteIs(m))
        return QStringLiteral("%1张站点“%2”的话单尚未存入数据库，保留在Bill.dat中，打开该站点后再存入")
            .arg(n)
            .arg(siteNameOf(m));
    return QStringLiteral("%1张话单尚未存入数据库，保留在Bill.dat中，可存储时再存入").arg(n);
}

QString DamageText(const Report& r) {
    if (!r.setAside.isEmpty())
        return QStringLiteral("Bill.dat已另存为%1，其中的话单没有存入数据库。").arg(r.setAside);
    return QString();
}

QString RejectText(const Report& r) {
    if (r.rejected == 0) return QString();
    return QStringLiteral("%1张话单数据校验错误，已存为错误话单").arg(r.rejected);
}

int Waiting() {
    const Mark m = readMark();
    if (!m.valid) return 0;
    const RecordQueue file = queue();
    return waitingOf(m, file, file.count());
}

namespace {
int priceHere(const std::function<void()>& advance, Report* report) {
    static bool running = false;
    if (running) return Waiting();
    g_unmarkedKept.clear();
    HistoryTakesWaitingEvents();
    const RecordQueue file = queue();
    const int total = file.count();
    Mark m = readMark();
    if (!m.valid) {
        // A mark cut short while it was written has no record answered beside it.
        if (total == 0) {
            if (m.present) QFile::remove(markPath());
            return 0;
        }
        if (!m.present && QFileInfo::exists(donePath())) return 0;
        if (!takeDamaged(file.path(), report)) return total;
        m = readMark();
    }
    if (total == 0) {
        markAllStored();
        return 0;
    }
    // What the site they were read for stored already does not wait.
    if (!openSiteIs(m)) return waitingOf(m, file, total);
    running = true;
    struct Done {
        ~Done() { running = false; }
    } done;
    RecordQueue::Storing how;
    how.identity = [&m](const QByteArray&) { return m.id; };
    how.store = [&m](const QByteArray& record, const std::function<void()>& note) {
        return ModGeneral::IsDepositEvent(record) ? keepDeposit(record, note)
                                                  : ClsMonitor().StoreSpooled(record, note, m.charge);
    };
    how.batch = kBatch;
    how.advance = advance;
    how.between = [] { platform::YieldEvents(); };
    RecordQueue::Result r = file.store(how);
    if (r.damaged && storeAgain(file, m.id, r)) r = file.store(how);
    if (report) report->rejected += r.rejected;
    if (!g_unmarkedKept.isEmpty() && r.rejected > 0) {
        Report rejects;
        rejects.rejected = r.rejected;
        keep(kUnmarkedReport, g_unmarkedKept + RejectText(rejects) + QStringLiteral("。"));
    }
    if (r.changed) {
        keepChanged(file, r, report);
        return 0;
    }
    if (r.failed) return r.waiting();
    // Every record is stored: the mark says so, then the note goes.
    markAllStored();
    file.forgetNote();
    return 0;
}
}  // namespace

int Price(const std::function<void()>& advance, Report* report) {
    const int waiting = priceHere(advance, report);
    tellKept();
    return waiting;
}

int BeforeRead() {
    Report r;
    int waiting = Price({}, &r);
    const Mark m = readMark();
    if (waiting > 0 && m.valid && !openSiteIs(m) && !DataPath.isEmpty() && dbSwitch.isOpen()) {
        // The site they were read for is not open (perhaps deleted or moved
        // since): only the operator can say where they belong.
        const bool gone = !QFileInfo(m.site).isDir();
        const QString end = asideEnd();
        const QString aside = QStringLiteral("Bill") + end;
        const int answer = core::Notify(
            QStringLiteral("Bill.dat中有%1张话单是为站点“%2”读取的，尚未存入数据库，%3。\n\n"
                           "选“是”：把这些话单存入当前站点“%4”(不扣费)；\n"
                           "选“否”：把Bill.dat另存为%5，话单不存入数据库；\n"
                           "选“取消”：保留这些话单，暂不读取。")
                .arg(waiting)
                .arg(siteNameOf(m), gone ? QStringLiteral("该站点已不存在") : QStringLiteral("该站点现在没有打开"),
                     openSiteName(), aside),
            platform::mbYesNoCancel | platform::mbQuestion | platform::mbDefaultButton2, AppName);
        if (answer == platform::rYes) {
            Mark here = openSiteMark(false);
            here.id = m.id;
            // What the other site stored already is not stored here again.
            const QString done = noteInSite(m);
            try {
                if (done.isEmpty()) queue().noteStored(here.id, 0, RecordQueue::kNoPrint);
                else ModSwitch::SetCallFileNote(kProgressKey, done);
                if (writeMark(here)) waiting = Price({}, &r);
            } catch (const platform::DbError& e) {
                LogRecordError(e.text());
            }
        } else if (answer == platform::rNo) {
            const QString file = Path();
            if (QFile::rename(file, AppPath + aside)) {
                QFile::rename(markPath(), AppPath + QStringLiteral("BillWait") + end);
                platform::syncDir(AppPath);
                r.setAside = aside;
                waiting = 0;
            }
        }
    }
    // What the earlier file came to is told now, apart from the read's own.
    QString told = DamageText(r);
    // Those of a file beside a lost mark were told in its kept box.
    if (r.rejected > 0 && r.damagedCopy.isEmpty())
        told += (told.isEmpty() ? QStringLiteral("Bill.dat中") : QString()) + RejectText(r) + QStringLiteral("。");
    if (!told.isEmpty()) core::Notify(told, platform::mbOKOnly | platform::mbExclamation, AppName);
    return waiting;
}

Writer::~Writer() { close(); }

bool Writer::start(bool charge, int* waiting, const QString& name) {
    close();
    *waiting = Price();
    if (*waiting > 0) return false;
    // A mark that is left names a site not open now: its records wait.
    if (readMark().present) {
        *waiting = Waiting();
        return false;
    }
    // Something under the name that cannot be replaced (a directory) would
    // leave the records written beside it where no pricing looks.
    platform::removeCI(AppPath + QStringLiteral("Bill.dat"));
    if (QFileInfo::exists(platform::resolveCI(AppPath, QStringLiteral("Bill.dat")))) return false;
    // The mark is on the disk before the first record is answered.
    if (!file_.open(queueAt(AppPath + name), QByteArray(), true) || !writeMark(openSiteMark(charge))) {
        close();
        return false;
    }
    QFile::remove(donePath());
    platform::syncDir(AppPath);
    return true;
}

bool Writer::append(const QByteArray& frame) {
    // Kept as the switch sent it, checksum and all; a short one is filled up.
    return file_.append(ModComm::FrameReader::Padded(frame, RecordQueue::kRecord, 0));
}

void Writer::close() { file_.close(); }

}  // namespace pricing::billfile
