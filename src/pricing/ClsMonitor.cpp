#include "pricing/ClsMonitor.h"

#include "billing/ArchiveBills.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "core/RecordDisplay.h"
#include "link/DepositEvents.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "core/books/ChargeLog.h"
#include "platform/AppExit.h"
#include "params/DialDigits.h"
#include "platform/Files.h"
#include "pricing/RateCache.h"
#include "pricing/RecordSpool.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTime>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

using platform::Currency;

namespace pricing {

namespace {
QStringList g_errorLog;
}

void LogRecordError(const QString& description) {
    const QString line = QStringLiteral("Record Error:") + description;
    LinkTrace::Note(line);
    if (g_errorLog.size() >= 200) g_errorLog.removeFirst();
    g_errorLog << line;
}

QStringList RecordErrorLog() { return g_errorLog; }
void ClearRecordErrorLog() { g_errorLog.clear(); }

namespace {
std::function<void()> g_storedHook;
QString g_yearFault;
}
QString YearFileFault() { return g_yearFault; }
namespace testing {
void setStoredHook(std::function<void()> hook) { g_storedHook = std::move(hook); }
}  // namespace testing

}  // namespace pricing

namespace {

constexpr int kSecsPerDay = 86400;

// Rate-table or discount-scheme data the engine cannot price with (an empty
// rate column, a segment time that is not a time); not a fault of the frame.
class TariffDataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Account digits in their four-character field: "0012" for "12", four blanks for none.
QString accountText(const QString& digits) {
    if (digits.isEmpty()) return QStringLiteral("    ");
    bool allDigits = true;
    for (QChar c : digits) allDigits = allDigits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (allDigits) return digits.rightJustified(4, QLatin1Char('0')).left(4);
    return digits.leftJustified(4, QLatin1Char(' '), true);
}

// The start of a call or event (bytes 17 to 21).
QDateTime frameDate(const ModComm::FrameReader& f) { return f.dateTime(17, platform::Now().date()); }

// "yyyy-MM-dd HH:mm:ss", as dates are stored.
QString storedDate(const QDateTime& t) {
    const QDate d = t.date();
    const QTime h = t.time();
    if (!d.isValid() || !h.isValid() || d.year() < 0 || d.year() > 9999) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(), h.hour(), h.minute(),
                      h.second());
        return QString::fromLatin1(buf);
    }
    // Written out by hand: a record asks three times.
    QString text(19, QLatin1Char(' '));
    const auto put = [&text](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) text[at + i] = QLatin1Char(char('0' + value % 10));
    };
    put(0, d.year(), 4);
    text[4] = text[7] = QLatin1Char('-');
    put(5, d.month(), 2);
    put(8, d.day(), 2);
    put(11, h.hour(), 2);
    text[13] = text[16] = QLatin1Char(':');
    put(14, h.minute(), 2);
    put(17, h.second(), 2);
    return text;
}

// The text of a statement every record runs on a table of the call file,
// made again only when the call file is attached under another schema.
class CallFileSql {
public:
    CallFileSql(const char* pattern, const char* table)
        : pattern_(QString::fromLatin1(pattern)), table_(QString::fromLatin1(table)) {}
    const QString& text() {
        if (sql_.isEmpty() || schema_ != dbPhoneCur.schema()) {
            schema_ = dbPhoneCur.schema();
            sql_ = pattern_.arg(dbPhoneCur.qualified(table_));
        }
        return sql_;
    }
private:
    QString pattern_, table_, schema_, sql_;
};

QString hex2(int v) { return ModComm::ByteToHex(quint8(v & 0xFF)); }

int sendOrder(const QString& order, bool wait) { return ModComm::SendOrder(order, wait, 4, true); }

QString extNumberOf(int address) { return ModSwitch::ExtNumberOf(address); }

// When the data directory last changed (a file added, removed or renamed), -1 when unknown.
qint64 dataDirStamp() {
    struct stat st {};
    return ::stat(QFile::encodeName(DataPath).constData(), &st) == 0
               ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec
               : -1;
}

// The yearly archive of `year` in the data directory, "" when there is none. The
// directory is searched again only when it changed (a file added, removed or renamed).
QString archiveFile(int year, qint64 stamp) {
    static QString dir;
    static qint64 seen = -1;
    static QHash<int, QString> found;
    if (dir != DataPath || seen != stamp) {
        dir = DataPath;
        seen = stamp;
        found.clear();
    }
    auto it = found.constFind(year);
    if (it != found.constEnd()) return *it;
    QString file = billing::ArchivePath(year);
    if (!platform::existsCI(file)) file.clear();
    found.insert(year, file);
    return file;
}

// A year file the duplicate check reads, kept open from one record to the
// next: opening it parses the schema of twelve month tables and their
// indexes, several times what the look-up itself costs. It holds no lock
// between look-ups, so the nightly archive writes to the file as before, and
// what it writes is read at the next look-up. Opened again when the data
// directory changed, the file is another one (put back, removed) or the
// station's files were opened anew; a month without its table asks the
// file whether its tables changed, as an archive run may have made it.
struct YearReader {
    QString dir;
    qint64 stamp = -1;
    quint64 conn = 0;
    QString file;
    dev_t dev = 0;
    ino_t ino = 0;
    platform::Database db;
    qint64 schemaVersion = -1;
    QString lookup[13];   // per month; empty when the file has no such table
    QString sameCall[13];  // per month, also by length and number; empty when the table lacks them

    void readTables() {
        schemaVersion = db.scalar(QStringLiteral("PRAGMA schema_version")).toLongLong();
        for (int m = 1; m <= 12; ++m) {
            const QString table = db.actualTableName(billing::MonthTableName(m));
            lookup[m] = table.isEmpty() ? QString()
                                        : QStringLiteral("SELECT 1 FROM %1 WHERE f_calladdr=? AND f_date=? LIMIT 1")
                                              .arg(db.qualified(table));
            sameCall[m].clear();
            if (table.isEmpty()) continue;
            const qint64 columns =
                db.scalar(QStringLiteral("SELECT count(*) FROM pragma_table_info(?) WHERE lower(name) IN ('f_long', 'f_resp')"),
                          {table})
                    .toLongLong();
            if (columns == 2)
                sameCall[m] =
                    QStringLiteral("SELECT 1 FROM %1 WHERE f_calladdr=? AND f_date=? AND f_long=? AND f_resp=? LIMIT 1")
                        .arg(db.qualified(table));
        }
    }
};

bool sameFile(const YearReader& r) {
    struct stat st {};
    return ::stat(QFile::encodeName(r.file).constData(), &st) == 0 && st.st_dev == r.dev && st.st_ino == r.ino;
}

// Whether the month table of `year` holds the call. With `same` it holds a row at
// `when` of the same length and number (a call dated in another year); without,
// any row of the extension at `when`.
struct SameCall {
    qint64 seconds = 0;
    QString called;
};

// The record cannot be stored while the year file cannot be read: named for the spool.
void noteYearFault(const QString& file, const platform::DbError& e) {
    pricing::g_yearFault =
        QStringLiteral("话单归档文件%1无法读取（%2）").arg(QFileInfo(file).fileName(), platform::troubleCause(e));
}

bool archivedAlready(int year, int month, int extAddr, const QString& when, const SameCall* same = nullptr) {
    static QHash<int, std::shared_ptr<YearReader>> readers;
    const qint64 stamp = dataDirStamp();
    const quint64 conn = dbSwitch.connectionSerial();
    std::shared_ptr<YearReader>& r = readers[year];
    if (!r || r->dir != DataPath || r->stamp != stamp || r->conn != conn || stamp == -1 ||
        (!r->file.isEmpty() && !sameFile(*r))) {
        r.reset();
        // Calls of another year come seldom (the night of the new year): one reader each.
        // A record looks in the years around its own too (a clock that was wrong).
        if (readers.size() > 8) {
            readers.clear();
            return archivedAlready(year, month, extAddr, when, same);
        }
        auto fresh = std::make_shared<YearReader>();
        fresh->dir = DataPath;
        fresh->stamp = stamp;
        fresh->conn = conn;
        fresh->file = archiveFile(year, stamp);
        if (!fresh->file.isEmpty()) {
            struct stat st {};
            if (::stat(QFile::encodeName(fresh->file).constData(), &st) == 0) {
                fresh->dev = st.st_dev;
                fresh->ino = st.st_ino;
            }
            try {
                fresh->db = platform::Database::open(fresh->file);
                fresh->readTables();
            } catch (const platform::DbError& e) {
                noteYearFault(fresh->file, e);
                throw;
            }
        }
        r = std::move(fresh);
    }
    if (r->file.isEmpty()) return false;
    try {
        if (r->lookup[month].isEmpty()) {
            if (r->db.scalar(QStringLiteral("PRAGMA schema_version")).toLongLong() == r->schemaVersion) return false;
            r->readTables();
            if (r->lookup[month].isEmpty()) return false;
        }
        if (!same) return !r->db.scalar(r->lookup[month], {extAddr, when}).isNull();
        if (r->sameCall[month].isEmpty()) return false;
        return !r->db.scalar(r->sameCall[month], {extAddr, when, same->seconds, same->called}).isNull();
    } catch (const platform::DbError& e) {
        // Opened afresh at the next record.
        noteYearFault(r->file, e);
        readers.remove(year);
        throw;
    }
}

}  // namespace

// ---------------------------------------------------------------- money and time

int ClsMonitor::GetDayType(const QDate& d, const DayRule& days) {
    if (d.dayOfWeek() == 6 && days.saturdaydiscount) return -1;
    if (d.dayOfWeek() == 7 && days.sundaydiscount) return -1;
    if (days.dates.isEmpty()) return 0;
    char key[8];
    std::snprintf(key, sizeof key, "%02d-%02d", d.month(), d.day());
    return days.dates.contains(QLatin1String(key)) ? -1 : 0;
}

int ClsMonitor::GetTimeDiscount(const QTime& t, int dayType, qint32& secsLeft, const QVector<DiscountSeg>& segs) {
    const qint32 ts = t.msecsSinceStartOfDay() / 1000;
    for (const DiscountSeg& seg : segs) {
        const qint32 s = seg.starttime.msecsSinceStartOfDay() / 1000;
        const qint32 e = seg.endtime.msecsSinceStartOfDay() / 1000;
        bool holds = false;
        if (s < e) {
            if (s <= ts && ts <= e) { holds = true; secsLeft = e - ts + 1; }
        } else if (ts >= s) {
            // Runs past midnight to its end on the next day (start = end: the whole day).
            holds = true;
            secsLeft = e + kSecsPerDay - ts + 1;
        } else if (ts <= e) {
            holds = true;
            secsLeft = e - ts + 1;
        }
        if (holds) return dayType == 0 ? seg.normaldiscount : seg.holidaydiscount;
    }
    // A time no segment holds: a full-price minute, then ask again.
    secsLeft = 60;
    return 100;
}

Currency ClsMonitor::CalcFee(const RateRec& rate, const QVector<DiscountSeg>& segs, const DayRule& days,
                             const QDateTime& start, qint64 duration, Fees& out) {
    out = Fees{};
    // A unit of no seconds would never end the call; it counts as one second.
    const qint64 pertime = qMax(1, rate.pertime);
    const qint64 firsttime = qMax(0, rate.firsttime);

    // Wall-clock arithmetic: a day and the seconds into it.
    QDate day = start.date();
    const qint64 startSod = start.time().msecsSinceStartOfDay() / 1000;
    qint64 toMidnight = kSecsPerDay - startSod;
    int dayType = GetDayType(day, days);
    qint32 secsLeft = 0;
    int pct = GetTimeDiscount(start.time(), dayType, secsLeft, segs);

    qint64 remaining = duration - firsttime;
    QDate tDay = day;
    qint64 tSod = startSod + firsttime;
    while (tSod >= kSecsPerDay) { tSod -= kSecsPerDay; tDay = tDay.addDays(1); }

    // The talk time at each stretch's percentage, summed as amounts times
    // percent and taken as a percentage once at the end: no stretch is
    // rounded on its own.
    Currency feeTimesPct = rate.firstprice * pct;
    Currency listFee = rate.firstprice;
    Currency addFee1 = rate.extrafee;
    toMidnight -= firsttime;

    while (remaining > 0) {
        if (tDay != day) {
            dayType = GetDayType(tDay, days);
            day = tDay;
            toMidnight = kSecsPerDay - tSod;
        }
        pct = GetTimeDiscount(QTime::fromMSecsSinceStartOfDay(int(tSod * 1000)), dayType, secsLeft, segs);
        qint64 secs = secsLeft;
        if (secs > toMidnight) secs = toMidnight;
        if (secs > remaining) secs = remaining;
        if (secs < 1) secs = 1;
        const qint64 units = secs / pertime + (secs % pertime != 0 ? 1 : 0);
        secs = units * pertime;
        toMidnight -= secs;
        feeTimesPct += rate.perprice * units * pct;
        listFee += rate.perprice * units;
        addFee1 += rate.extrafee * units;
        remaining -= secs;
        tSod += secs;
        while (tSod >= kSecsPerDay) { tSod -= kSecsPerDay; tDay = tDay.addDays(1); }
    }

    out.fee = feeTimesPct.percent(1);
    out.addFee1 = addFee1;
    const Currency b = rate.extradiscount ? out.fee : listFee;
    out.addFee2 = b.percent(rate.extrarate);
    const Currency b2 = rate.poundagediscount ? out.fee : listFee;
    out.gateFee = rate.poundage + (b2 + out.addFee1 + out.addFee2).percent(rate.poundagerate);
    return out.total();
}

QString ClsMonitor::FeeOrder(quint8 extLow, Currency total, quint8 channelByte) {
    // Hundredths of a yuan, halves to even; three bytes carry 0 to 16777215.
    qint64 n = total.toFenHalfEven();
    n = std::clamp<qint64>(n, 0, 0xFFFFFF);
    return FrameCode::kCallFee + hex2(extLow) + hex2(int(n >> 16)) + hex2(int(n >> 8)) + hex2(int(n)) +
           hex2(channelByte);
}

// ---------------------------------------------------------------- discount schemes

namespace {

// A time of day stored as "HH:mm:ss" (or "H:mm", or after a date and a blank).
QTime schemeTime(const QVariant& v) {
    QString text = v.toString().trimmed();
    const int sp = text.lastIndexOf(QLatin1Char(' '));
    if (sp >= 0) text = text.mid(sp + 1);
    const QStringList parts = text.split(QLatin1Char(':'));
    int hms[3] = {0, 0, 0};
    bool ok = parts.size() == 2 || parts.size() == 3;
    for (int i = 0; ok && i < parts.size(); ++i) hms[i] = parts[i].toInt(&ok);
    const QTime t(hms[0], hms[1], hms[2]);
    if (!ok || !t.isValid())
        throw TariffDataError(QStringLiteral("discount time \"%1\" is not a time").arg(v.toString()).toStdString());
    return t;
}

// A holiday as "MM-dd", from "MM-dd" or a full date.
QString holidayKey(const QString& stored) {
    const QString d = stored.trimmed().section(QLatin1Char(' '), 0, 0);
    const QStringList parts = d.split(QLatin1Char('-'));
    if (parts.size() < 2) return {};
    bool okM = false, okD = false;
    const int m = parts[parts.size() - 2].toInt(&okM);
    const int dd = parts.last().toInt(&okD);
    if (!okM || !okD) return {};
    return QStringLiteral("%1-%2").arg(m, 2, 10, QLatin1Char('0')).arg(dd, 2, 10, QLatin1Char('0'));
}

}  // namespace

DayRule ClsMonitor::LoadDiscount(int discountid, QVector<DiscountSeg>& segs) {
    DayRule rule;
    rule.discountid = discountid;
    segs.clear();
    platform::Recordset scheme = dbSwitch.query(
        QStringLiteral("SELECT saturdaydiscount, sundaydiscount FROM discount WHERE discountid=?"), {discountid});
    if (!scheme.empty()) {
        rule.saturdaydiscount = scheme.value(0).toLongLong() != 0;
        rule.sundaydiscount = scheme.value(1).toLongLong() != 0;
        platform::Recordset times = dbSwitch.query(
            QStringLiteral("SELECT starttime, endtime, normaldiscount, holidaydiscount FROM discounttimes "
                           "WHERE discountid=? ORDER BY position"),
            {discountid});
        for (times.moveFirst(); !times.eof(); times.moveNext())
            segs << DiscountSeg{schemeTime(times.value(0)), schemeTime(times.value(1)), times.value(2).toInt(),
                                times.value(3).toInt()};
        platform::Recordset dates =
            dbSwitch.query(QStringLiteral("SELECT discountdate FROM discountdate WHERE discountid=?"), {discountid});
        for (dates.moveFirst(); !dates.eof(); dates.moveNext()) {
            const QString key = holidayKey(dates.value(0).toString());
            if (!key.isEmpty()) rule.dates << key;
        }
    }
    // No segments, or no such scheme at all: full price all day, every day.
    if (segs.isEmpty()) segs << DiscountSeg{QTime(0, 0, 0), QTime(23, 59, 59), 100, 100};
    return rule;
}

DayRule ClsMonitor::HeldDiscount(int discountid, QVector<DiscountSeg>& segs) {
    const pricing::DiscountScheme& d = pricing::RateCache::current().discount(discountid);
    if (!d.error.isEmpty()) throw TariffDataError(d.error.toStdString());
    segs = d.segs;
    DayRule rule = d.days;
    rule.discountid = discountid;
    return rule;
}

// ---------------------------------------------------------------- decoding and routing

MonSlot& ClsMonitor::slot() const {
    if (m_SlotCopy) return *m_SlotCopy;
    if (MonSlots.size() < 16) MonSlots.resize(16);
    return MonSlots[m_Slot];
}

qint32 ClsMonitor::FindUserId(const QString& account, int extAddr) {
    QVariant v;
    if (account == QStringLiteral("    "))
        v = dbSwitch.scalar(QStringLiteral("SELECT userid FROM extension WHERE address=?"), {extAddr});
    else
        v = dbSwitch.scalar(QStringLiteral("SELECT userid FROM account WHERE account=?"), {account});
    return v.isNull() ? 0 : qint32(v.toLongLong());
}

ClsMonitor::UserRow ClsMonitor::FindUser(const QString& account, int extAddr) {
    // The owner of the account, or of the extension when there is no account, with
    // the owner's user row when there is one; user 0 when nobody owns them.
    // Read in place, by a statement prepared once: every record asks.
    platform::RowReader r =
        account == QStringLiteral("    ")
            ? dbSwitch.rows(QStringLiteral("SELECT o.userid, u.userid, u.username, u.remain, u.overdraft, u.balancemode, "
                                           "u.printonce FROM extension o LEFT JOIN user u ON u.userid = o.userid "
                                           "WHERE o.address=? LIMIT 1"),
                            {extAddr})
            : dbSwitch.rows(QStringLiteral("SELECT o.userid, u.userid, u.username, u.remain, u.overdraft, u.balancemode, "
                                           "u.printonce FROM account o LEFT JOIN user u ON u.userid = o.userid "
                                           "WHERE o.account=? LIMIT 1"),
                            {account});
    if (!r.next()) return ReadUser(0);
    UserRow u;
    u.userid = qint32(r.integer(0));
    if (r.isNull(1)) return u;
    u.found = true;
    u.username = r.text(2);
    u.held = Currency::fromRaw(r.integer(3));
    u.overdraft = Currency::fromRaw(r.integer(4));
    u.balancemode = int(r.integer(5));
    u.printonce = r.integer(6) != 0;
    return u;
}

ClsMonitor::UserRow ClsMonitor::ReadUser(qint32 userid) {
    UserRow u;
    u.userid = userid;
    platform::Recordset rs = dbSwitch.query(
        QStringLiteral("SELECT username, remain, overdraft, balancemode, printonce FROM user WHERE userid=?"), {userid});
    if (rs.empty()) return u;
    const QVariantList row = rs.row();
    u.found = true;
    u.username = row.value(0).toString();
    u.remain = ModSwitch::BalanceOf(userid, Currency::fromRaw(row.value(1).toLongLong()));
    u.overdraft = Currency::fromRaw(row.value(2).toLongLong());
    u.balancemode = row.value(3).toInt();
    u.printonce = row.value(4).toLongLong() != 0;
    return u;
}

bool ClsMonitor::ParseRecord(const QByteArray& frame) {
    MonSlot& s = slot();
    try {
        const ModComm::FrameReader f(frame);
        m_Called = f.dial(5, 14);
        m_InDigits = f.digits(4);
        m_RecType = f.byte(28);
        m_Account = accountText(f.digits(25, 26));
        s.ExtAddr = f.word(2);
        m_Duration = qint64(f.decimal(22, "hours")) * 3600 + f.decimal(23, "minutes") * 60 + f.decimal(24, "seconds");
        s.StartTime = frameDate(f);
        m_User = FindUser(m_Account, s.ExtAddr);
        s.UserID = m_User.userid;
        m_UserID = s.UserID;
        // Read where the record is stored (SaveRecord): a charged record
        // reads it inside its own transaction.
        s.Balance = Currency();
        return true;
    } catch (const std::exception& e) {
        m_Error = QString::fromUtf8(e.what());
        NoteStoreFailure(e);
        return false;
    }
}

void ClsMonitor::GetRoute(bool bForwarded) {
    m_DispNumber = m_Called;
    if (!bForwarded) return;
    const platform::Recordset head = dbSwitch.query(
        QStringLiteral("SELECT headid, router1, router2 FROM cityhead WHERE length(headid) > 0 AND "
                       "headid = substr(?, 1, length(headid)) ORDER BY length(headid) DESC"),
        {m_Called});
    if (head.empty()) return;
    const bool keepPrefix = head.lng("router1") < 100;
    const qint64 port = head.lng("router2");
    const QString prefix = head.str("headid");
    const QVariant added =
        dbSwitch.scalar(QStringLiteral("SELECT addhead FROM addhead WHERE router=2 AND portaddr=?"), {port});
    // No prefix known for that route: the call stays priced and shown as dialled.
    if (added.isNull()) return;
    const QString forwarded = added.toString() + (keepPrefix ? m_Called : m_Called.mid(prefix.size()));
    if (TransferDisplay == 1) m_DispNumber = forwarded;
    if (TransferCharge == 1) m_Called = forwarded;
}

bool ClsMonitor::GetFeeRate(RateRec& rate, int rateType, const pricing::IpHeadRow* currentHead) {
    const pricing::RateCache& cache = pricing::RateCache::current();
    const RateRec* found = nullptr;
    QString bad;
    if (currentHead && m_RecType != 2 && m_RecType != 3) {
        found = &currentHead->rate;
        bad = currentHead->badColumn;
    } else {
        const pricing::FeeRateRow* row = nullptr;
        if (m_Called.isEmpty()) {
            row = cache.findFirstZone(QString());
        } else {
            row = cache.findLongestZone(m_RecType, rateType, m_Called);
        }
        if (row) m_CallType = row->feeratetype;
        else row = cache.findDefault(rateType, m_CallType);
        if (!row) {
            rate = RateRec{};
            return false;
        }
        found = &row->rate;
        bad = row->badColumn;
    }
    if (!bad.isEmpty()) throw TariffDataError(QStringLiteral("rate column %1 is empty").arg(bad).toStdString());
    rate = *found;
    return rate.perprice == Currency() && rate.firstprice == Currency();
}

bool ClsMonitor::Classify(MonSlot& s) {
    if (m_RecType == 2 || m_RecType == 3) {
        m_CallType = m_RecType == 2 ? 9 : 10;
        // An inside or incoming call has no IP access fee, whatever the slot held before.
        s.IsIPCall = 0;
        const bool free = GetFeeRate(s.Rate, 0, nullptr);
        s.Days = HeldDiscount(s.Rate.discountid, s.Segs);
        return free;
    }
    const pricing::IpHeadRow* found = pricing::RateCache::current().findIpHead(m_Called);
    std::optional<pricing::IpHeadRow> head;
    if (found) {
        head = *found;
        m_Called = m_Called.mid(head->iphead.size());
    }
    if (m_Called.startsWith(QStringLiteral("00"))) m_CallType = 0;
    else if (m_Called.startsWith(QStringLiteral("013"))) m_CallType = 4;
    else if (m_Called.startsWith(QStringLiteral("0"))) m_CallType = 2;
    else m_CallType = 7;
    if (!head) {
        s.IsIPCall = 0;
        const bool free = GetFeeRate(s.Rate, 0, nullptr);
        s.Days = HeldDiscount(s.Rate.discountid, s.Segs);
        return free;
    }
    s.IsIPCall = -1;
    const int t = head->ipfeerate;
    bool free = GetFeeRate(s.Rate, t, nullptr);
    s.Days = HeldDiscount(s.Rate.discountid, s.Segs);
    if (m_CallType != 10) m_CallType = 8;
    free = GetFeeRate(s.IPRate, t, &*head) && free;
    if (s.IPRate.discountid == s.Rate.discountid) {
        s.IPDays = s.Days;
        s.IPSegs = s.Segs;
    } else {
        s.IPDays = HeldDiscount(s.IPRate.discountid, s.IPSegs);
    }
    return free;
}

// ---------------------------------------------------------------- call records

void ClsMonitor::TraceError(const QString& description) {
    if (m_ErrorTraced) return;
    m_ErrorTraced = true;
    pricing::LogRecordError(description);
}

void ClsMonitor::afterCommit(const char* what, std::function<void(ClsMonitor&)> fn) {
    auto run = [what](ClsMonitor& m, const std::function<void(ClsMonitor&)>& step) {
        try {
            step(m);
        } catch (const platform::ProgramEnded&) {
            throw;
        } catch (const std::exception& e) {
            m.TraceError(QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(e.what())));
        }
    };
    if (!dbSwitch.isOpen() || !dbSwitch.inTransaction()) {
        run(*this, fn);
        return;
    }
    // Inside a caller's transaction (a batch of records) nothing is kept
    // yet, and the step may wait for the switch: it runs once the outermost
    // transaction commits, on a copy of this record's state and its channel's
    // as they are now (the next record of the batch may use the same channel).
    auto self = std::make_shared<ClsMonitor>(*this);
    if (!self->m_SlotCopy) self->m_SlotCopy = std::make_shared<MonSlot>(slot());
    dbSwitch.afterCommit([self, run, fn] { run(*self, fn); });
}

QByteArray ClsMonitor::RecordFrame(const QByteArray& frameIn) {
    // A short record is priced as far as it goes: the bytes it lacks read as
    // the filler F, so that it ends as a reject row rather than nowhere.
    if (frameIn.size() < 29) TraceError(QStringLiteral("short call record (%1 bytes)").arg(frameIn.size()));
    return ModComm::FrameReader::Padded(frameIn, 29, 0xFF);
}

bool ClsMonitor::Record(const QByteArray& frameIn, bool bSendFee) {
    m_ErrorTraced = false;
    const QByteArray f = RecordFrame(frameIn);
    if (bSendFee && pricing::spool::Waiting()) {
        // Records wait in the spool: this one joins them, so they are priced in
        // the order the switch sent them, once storing works again.
        const bool kept = pricing::spool::Append(f);
        if (kept && pricing::g_storedHook) pricing::g_storedHook();
        afterCommit("answer", [kept](ClsMonitor&) { sendOrder(kept ? FrameCode::kAckStored : FrameCode::kAckResend, false); });
        return kept;
    }
    const bool result = Handle(f, bSendFee);
    Answer(result, bSendFee, f);
    return result;
}

bool ClsMonitor::StoreSpooled(const QByteArray& frameIn, const std::function<void()>& markDone, bool charge) {
    m_ErrorTraced = false;
    const QByteArray f = RecordFrame(frameIn);
    m_Replay = true;
    m_InStore = markDone;
    if (Handle(f, charge)) return true;
    if (m_StoreFailed) return false;
    // It fails by its own content, as it would have on the line: a reject row.
    return StoreReject(f, markDone);
}

bool ClsMonitor::StoreReject(const QByteArray& frameIn, const std::function<void()>& markDone) {
    const QByteArray f = RecordFrame(frameIn);
    try {
        platform::Transaction tx(dbSwitch);
        InsertReject(f);
        markDone();
        tx.commit();
        return true;
    } catch (const std::exception& e) {
        TraceError(QStringLiteral("reject row: %1").arg(QString::fromUtf8(e.what())));
        NoteStoreFailure(e);
        return false;
    }
}

void ClsMonitor::NoteStoreFailure(const std::exception& e) {
    // A row a table refuses is the record's own fault; anything else the
    // database says means it cannot store now (locked, missing, full, damaged).
    if (const auto* db = dynamic_cast<const platform::DbError*>(&e))
        if (db->number() != platform::kErrDuplicateKey && db->number() != platform::kErrRequired) m_StoreFailed = true;
}

bool ClsMonitor::Handle(const QByteArray& f, bool bSendFee) {
    bool result = false;
    pricing::g_yearFault.clear();
    const ModComm::FrameReader record(f);
    m_RecType = record.byte(28);
    if (m_RecType >= 6 && m_RecType <= 9) {
        result = RecordAwake(f);
    } else {
        m_Channel = record.byte(16);
        m_Slot = m_Channel & 0x0F;
        MonSlot& s = slot();
        try {
            if (ParseRecord(f)) {
                s.LimitSet = 0;
                GetRoute(m_RecType == 16);
                ModSwitch::WatchClock();
                if (IsDuplicate(s.StartTime, s.ExtAddr) || m_Duration < FeeHDTime) {
                    platform::Transaction tx(dbSwitch);
                    InsertReject(f);
                    if (m_InStore) m_InStore();
                    tx.commit();
                    result = true;
                } else {
                    Classify(s);
                    m_LinkFee = Currency();
                    Fees ipFees;
                    if (m_RecType != 2 && m_RecType != 3 && s.IsIPCall)
                        m_LinkFee = CalcFee(s.IPRate, s.IPSegs, s.IPDays, s.StartTime, m_Duration, ipFees);
                    const Currency total = m_LinkFee + CalcFee(s.Rate, s.Segs, s.Days, s.StartTime, m_Duration, m_Fees);
                    if (SaveRecord(total, bSendFee)) {
                        result = true;
                        AfterStore(total, bSendFee);
                    } else {
                        TraceError(m_Error);
                    }
                }
            } else {
                TraceError(m_Error);
            }
        } catch (const std::exception& e) {
            TraceError(QString::fromUtf8(e.what()));
            NoteStoreFailure(e);
        }
        s.UserID = -1;
        s.LimitSet = 0;
    }
    return result;
}

bool ClsMonitor::IsDuplicate(const QDateTime& start, int extAddr) {
    const QString when = storedDate(start);
    static CallFileSql stored("SELECT 1 FROM %1 WHERE f_calladdr=? AND f_date=? LIMIT 1", "Tab_Phone");
    const QVariant hit = dbPhoneCur.scalar(stored.text(), {extAddr, when});
    if (!hit.isNull()) return true;
    // The nightly archive may have moved the call already: look in its month table too.
    const int year = start.date().year(), month = start.date().month();
    if (archivedAlready(year, month, extAddr, when)) return true;
    // The switch sends no year: a record stored under a PC clock that was
    // wrong then and sent again after it was put right carries another year.
    // It is the same call only where the station saw the clock move after the
    // call was made (the record's date, by the clock as it is now): then a
    // row of the same month, day, time, length and number in the year that
    // clock gave the frame is the one stored. Elsewhere such a row a year
    // apart is a call of its own (a machine that calls the same number daily
    // at the same second).
    QList<int> years;
    for (const ModSwitch::ClockPutRight& move : ModSwitch::ClocksPutRight()) {
        if (start > move.when.addDays(1)) continue;   // made after it: read by the clock as it is
        // The frame's date as read then: this month in the year the clock gave.
        const QDate then = move.when.addSecs(-move.by).date();
        const int y = month > then.month() ? then.year() - 1 : then.year();
        if (y != year && y >= 1 && y <= 9999 && !years.contains(y)) years << y;
    }
    static CallFileSql resent("SELECT 1 FROM %1 WHERE f_calladdr=? AND f_date=? AND f_long=? AND f_resp=? LIMIT 1",
                              "Tab_Phone");
    const SameCall same{qlonglong(m_Duration), m_DispNumber};
    for (int y : years) {
        const QString then = QString::number(y).rightJustified(4, QLatin1Char('0')) + when.mid(4);
        if (!dbPhoneCur.scalar(resent.text(), {extAddr, then, same.seconds, same.called}).isNull()) return true;
        if (archivedAlready(y, month, extAddr, then, &same)) return true;
    }
    return false;
}

bool ClsMonitor::SaveRecord(Currency total, bool bSendFee) {
    MonSlot& s = slot();
    m_Place = s.Rate.summary;
    // Nobody is charged for the default user or for a user id without a user row.
    const bool charge = bSendFee && m_User.found && m_UserID != 0;
    try {
        // The call row and its charge entry commit together in the call file,
        // or not at all: that commit stores the record. The balance follows
        // from the entry in a commit of the station file right after.
        const ModSwitch::RecordCommit oneSync;
        platform::Transaction tx(dbSwitch);
        if (charge) {
            // The balance as it is now: what the station file holds, less the
            // charges logged that it has not applied yet.
            s.Balance = ModSwitch::BalanceOf(m_UserID) - total;
        } else if (bSendFee || !m_User.found) {
            // A user id without a user row has no balance and is charged nothing.
            s.Balance = Currency();
        } else {
            s.Balance = ModSwitch::BalanceOf(m_UserID, m_User.held);
        }
        const Currency yj = m_UserID == 0 ? Currency() : s.Balance;
        const QString when = storedDate(s.StartTime);
        static CallFileSql insert(
            "INSERT INTO %1 (f_calladdr, f_zjaddr, f_date, f_long, f_rectype, f_moneny, f_flag, f_resp, "
            "f_zh, f_indjh, f_phmode, f_addfee1, f_addfee2, f_gatefee, f_linkfee, f_memo, f_userid, f_yj) "
            "VALUES (?, ?, ?, ?, ?, ?, 1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            "Tab_Phone");
        dbPhoneCur.execute(
            insert.text(),
            {s.ExtAddr, m_Slot + 1, when, qlonglong(m_Duration), m_RecType, m_Fees.fee, m_DispNumber, m_Account,
             m_InDigits, m_CallType, m_Fees.addFee1, m_Fees.addFee2, m_Fees.gateFee, m_LinkFee, m_Place, m_UserID, yj});
        if (charge) ModSwitch::LogCharge(m_UserID, total, s.Balance, s.ExtAddr, when);
        else ModSwitch::LogCall(m_UserID, s.ExtAddr, when);
        if (m_InStore) m_InStore();
        tx.commit();
    } catch (const std::exception& e) {
        m_Error = QString::fromUtf8(e.what());
        NoteStoreFailure(e);
        return false;
    }
    if (pricing::g_storedHook) pricing::g_storedHook();
    return true;
}

void ClsMonitor::AfterStore(Currency total, bool bSendFee) {
    MonSlot& s = slot();
    const bool charged = bSendFee && m_User.found && m_UserID != 0;
    const bool depositUser = m_User.found && m_User.balancemode == 0 && m_UserID != 0;
    const quint8 extLow = quint8(s.ExtAddr & 0xFF);
    const quint8 channel = quint8(m_Channel);
    // The call is over: its channel no longer counts among the user's live calls.
    s.LimitSet = 0;
    s.UserID = -1;
    if (bSendFee) {
        // A spooled call's channel carries another call by now: its fee is not sent.
        if (!m_Replay)
            afterCommit("fee", [extLow, total, channel](ClsMonitor&) { sendOrder(FeeOrder(extLow, total, channel), false); });
        if (charged)
            afterCommit("user view", [](ClsMonitor& m) { core::CurrentRecordDisplay().ShowUserBalance(m.m_UserID, m.slot().Balance); });
        if (charged && depositUser)
            afterCommit("deposit grade", [](ClsMonitor& m) { ModGeneral::CheckDeposit(m.m_UserID, true, false); });
    }
    afterCommit("bill view", [](ClsMonitor& m) { m.ShowRecord(); });
    afterCommit("ticket", [](ClsMonitor& m) { m.PrintRecordTicket(); });
    if (bSendFee && depositUser) {
        afterCommit("talk limits", [](ClsMonitor& m) {
            const UserRow now = ReadUser(m.m_UserID);
            if (now.found) m.SendTimeLimit(now.remain + now.overdraft);
        });
    }
}

void ClsMonitor::InsertReject(const QByteArray& frame) {
    // A reject keeps the digits as the switch sent them, whatever they are.
    const ModComm::FrameReader f(frame);
    const QString year = QString::number(platform::Now().date().year());
    const QString when = QStringLiteral("%1-%2-%3 %4:%5:%6")
                             .arg(year, f.digits(17), f.digits(18), f.digits(19), f.digits(20), f.digits(21));
    QString length = QStringLiteral("%1:%2:%3").arg(f.digits(22), f.digits(23), f.digits(24));
    QString called = m_Called;
    QString account = m_Account;
    if (ModGeneral::IsDepositEvent(frame)) {
        // A deposit event the history could not take: its bytes 22-24 are an
        // amount, and the row itself keeps the frame, so that the event can
        // be entered by hand from it.
        length = platform::Currency::fromFen(f.amount(22)).toString2();
        called = (f.byte(28) == 0x0A ? QStringLiteral("押金事件累计:") : QStringLiteral("押金事件扣除:")) +
                 QString::fromLatin1(frame.left(29).toHex().toUpper());
        account.clear();
    }
    dbPhoneCur.execute(QStringLiteral("INSERT INTO %1 (f_calladdr, f_zjaddr, f_date, f_long, f_resp, f_zh) "
                                      "VALUES (?, ?, ?, ?, ?, ?)")
                           .arg(dbPhoneCur.qualified("tab_errPh")),
                       {int(f.byte(3)), m_Slot + 1, when, length, called, account});
}

bool ClsMonitor::KeepReject(const QByteArray& f) {
    try {
        InsertReject(f);
        return true;
    } catch (const std::exception& e) {
        TraceError(QStringLiteral("reject row: %1").arg(QString::fromUtf8(e.what())));
        return false;
    }
}

void ClsMonitor::Answer(bool result, bool bSendFee, const QByteArray& f) {
    // "820302" tells the switch to forget the record: it is sent only for a
    // record kept somewhere, stored, as a reject row or in the spool.
    const auto answer = [this](bool taken) {
        afterCommit("answer", [taken](ClsMonitor&) { sendOrder(taken ? FrameCode::kAckStored : FrameCode::kAckResend, false); });
    };
    if (result) {
        if (!bSendFee) return;
        RecordErrCount = 0;
        answer(true);
        return;
    }
    if (m_StoreFailed) {
        // The databases cannot store it now; the record itself is sound.
        if (!bSendFee) return;
        const bool kept = pricing::spool::Append(f);
        if (kept && pricing::g_storedHook) pricing::g_storedHook();
        answer(kept);
        return;
    }
    // The record fails by its own content: kept as a reject row, whoever asked,
    // and asked again three times in a row at most, then taken.
    const bool rejectKept = KeepReject(f);
    if (!bSendFee) return;
    if (RecordErrCount < 3) {
        ++RecordErrCount;
        answer(false);
        return;
    }
    const bool kept = rejectKept || pricing::spool::Append(f);
    if (kept) RecordErrCount = 0;
    answer(kept);
}

// ---------------------------------------------------------------- wake-up events

bool ClsMonitor::RecordAwake(const QByteArray& frame) {
    int addr = 0;
    QDateTime t;
    QString wake;
    try {
        const ModComm::FrameReader f(frame);
        addr = f.word(2);
        t = frameDate(f);
        m_RecType = f.byte(28);
        wake = m_RecType == 6 ? t.toString(QStringLiteral("HH:mm")) : QString();
        platform::Transaction tx(dbSwitch);
        const int n = dbSwitch.execute(QStringLiteral("INSERT INTO awake (Address, servetime, servetype) VALUES (?, ?, ?)"),
                                       {addr, t, m_RecType});
        if (n == 0) return false;
        dbSwitch.execute(QStringLiteral("UPDATE extension SET awaketime=? WHERE address=?"), {wake, addr});
        if (m_InStore) m_InStore();
        tx.commit();
    } catch (const std::exception& e) {
        TraceError(QString::fromUtf8(e.what()));
        NoteStoreFailure(e);
        return false;
    }
    const int type = m_RecType;
    afterCommit("wake-up view", [addr, type, t, wake](ClsMonitor&) { core::CurrentRecordDisplay().ShowWakeUpEvent(addr, type, t, wake); });
    return true;
}

// ---------------------------------------------------------------- bill view

ModSwitch::BillLine ClsMonitor::StoredLine() const {
    const MonSlot& s = slot();
    ModSwitch::BillLine l;
    l.userId = m_UserID;
    l.extAddr = s.ExtAddr;
    l.account = m_Account;
    l.called = m_DispNumber;
    l.place = m_Place;
    l.start = s.StartTime.isValid() ? storedDate(s.StartTime) : QString();
    l.seconds = m_Duration;
    l.balance = s.Balance;
    l.kind = m_CallType;
    l.total = m_Fees.total() + m_LinkFee;
    l.fee = m_Fees.fee;
    l.addFee1 = m_Fees.addFee1;
    l.addFee2 = m_Fees.addFee2;
    l.gateFee = m_Fees.gateFee;
    l.linkFee = m_LinkFee;
    l.trunk = QString::number(m_Slot + 1);
    l.inDigits = m_InDigits;
    return l;
}

void ClsMonitor::ShowRecord() {
    const MonSlot& s = slot();
    // Beyond the allowed overdraft: the balance cell turns red.
    const bool overdrawn = m_User.found && m_User.balancemode == 0 && s.Balance + m_User.overdraft < Currency();
    core::CurrentRecordDisplay().ShowStoredCall(StoredLine(), overdrawn);
}

// ---------------------------------------------------------------- call ticket

// Runs after the call is stored: whatever the printer does, the record stays
// taken and answered. The call's own user decides (the shared user cursor is
// not positioned by the pricing), so a supervised deposit user gets a ticket too.
bool ClsMonitor::PrintRecordTicket() {
    if (PrnHD == 2) return true;
    if (m_CallType == 7 && !SHPrnHD) return true;
    if (PrnHD == 1 && !(m_User.found && m_User.printonce)) return true;
    return core::CurrentRecordDisplay().PrintCallTicket(StoredLine(), m_User.found ? std::optional<QString>(m_User.username) : std::nullopt);
}

// ---------------------------------------------------------------- live calls

void ClsMonitor::Monitor(const QByteArray& frame) {
    if (frame.size() < 17) {
        pricing::LogRecordError(QStringLiteral("short live-call frame (%1 bytes)").arg(frame.size()));
        return;
    }
    const ModComm::FrameReader f(frame);
    m_Slot = f.byte(16) & 0x0F;
    MonSlot& s = slot();
    const int kind = f.byte(2) >> 6;
    m_RecType = kind == 1 ? 3 : kind == 2 ? 2 : 0;
    s.StartTime = platform::Now().addSecs(-1);
    s.ExtAddr = f.byte(3);
    // A new call in the slot: a limit sent for the call before it no longer holds.
    s.LimitSet = 0;
    m_Account = accountText(f.digits(14, 15));
    s.UserID = FindUserId(m_Account, s.ExtAddr);
    m_UserID = s.UserID;
    m_User = ReadUser(m_UserID);
    if (!m_User.found || m_UserID == 0) {
        // Nobody to supervise: no limit, and the call is not cut. The default
        // user pays for nothing, whatever its row says.
        s.TalkSecs = m_User.found ? 65000 : 0;
        s.UserID = -1;
        return;
    }
    if (m_User.balancemode == 0) s.Balance = m_User.remain + m_User.overdraft;
    else s.TalkSecs = 65000;
    m_Called = m_RecType == 2 ? ModSwitch::HexToDial(extNumberOf(f.byte(5))) : f.dial(4, 13);
    GetRoute((f.byte(16) & 0x80) != 0);
    if (m_User.balancemode != 0) return;
    m_FreeCall = Classify(s);
    if (m_FreeCall) return;
    if (s.Balance <= Currency()) {
        s.LimitSet = 0;
        s.UserID = -1;
        // The slot is free before the wait, which lets other frames run.
        sendOrder(FrameCode::kTalkLimit + hex2(s.ExtAddr) + QStringLiteral("0000") + hex2(m_Slot), true);
        return;
    }
    SendTimeLimit(s.Balance);
}

void ClsMonitor::UpdateMonitor(int nSlot, Currency balance) {
    if (nSlot < 0 || nSlot > 15) return;
    if (MonSlots.size() < 16) MonSlots.resize(16);
    m_UserID = MonSlots[nSlot].UserID;
    if (m_UserID <= 0) return;
    for (MonSlot& s : MonSlots)
        if (s.UserID == m_UserID) s.Balance = balance;
    m_Slot = nSlot;
    SendTimeLimit(balance);
}

void ClsMonitor::SendTimeLimit(Currency balance) {
    // The default user's calls are never limited.
    if (m_UserID == 0) return;
    if (MonSlots.size() < 16) MonSlots.resize(16);
    const QDateTime now = platform::Now();
    for (MonSlot& s : MonSlots) {
        if (s.UserID != m_UserID) continue;
        s.TalkSecs = qint32(s.StartTime.secsTo(now));
        // Every running call of the user is weighed against the one amount.
        s.Balance = balance;
    }
    // The longest extension, in seconds, that every running call together can pay for.
    int lo = 0, hi = 65535, x = 0;
    for (;;) {
        x = (lo + hi) / 2;
        Currency total;
        Fees scratch;
        for (const MonSlot& s : MonSlots) {
            if (s.UserID != m_UserID) continue;
            const qint64 duration = qint64(s.TalkSecs) + x;
            if (s.IsIPCall) total += CalcFee(s.IPRate, s.IPSegs, s.IPDays, s.StartTime, duration, scratch);
            total += CalcFee(s.Rate, s.Segs, s.Days, s.StartTime, duration, scratch);
            if (total > balance) break;
        }
        const bool affordable = total <= balance;
        if (hi - lo < 2) break;
        if (affordable) lo = x;
        else hi = x;
    }
    const int limit = qMax(0, x - 1);
    for (int k = 0; k < MonSlots.size() && k < 16; ++k) {
        MonSlot& s = MonSlots[k];
        if (s.UserID != m_UserID) continue;
        s.LimitSet = -1;
        s.EndTime = s.StartTime.addSecs(qint64(s.TalkSecs) + limit);
        if (s.ExtAddr < 0 || s.ExtAddr > 255) {
            pricing::LogRecordError(QStringLiteral("extension %1 cannot be given a talk limit").arg(s.ExtAddr));
            continue;
        }
        sendOrder(FrameCode::kTalkLimit + hex2(s.ExtAddr) + hex2(limit >> 8) + hex2(limit) + hex2(k), false);
    }
}
