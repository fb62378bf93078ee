#include "pricing/RateCache.h"

#include "core/ModDefine.h"
#include "pricing/ClsMonitor.h"

namespace pricing {

namespace {

RateCache g_cache;
bool g_valid = false;
int g_holds = 0;   // tariff windows open

// Reads one rate from the current row by column name; a Null in a numeric
// column is remembered, so that a call priced by this row fails instead of
// being priced with a made-up value.
RateRec readRate(const platform::Recordset& rs, QString& bad) {
    static const char* const kNumeric[] = {"firsttime", "firstprice", "pertime", "perprice", "poundage",
                                           "poundagerate", "extrafee", "extrarate", "extradiscount",
                                           "poundagediscount"};
    for (const char* c : kNumeric)
        if (rs.isNull(QLatin1String(c))) { bad = QLatin1String(c); break; }
    RateRec r;
    r.firsttime = int(rs.lng("firsttime"));
    r.firstprice = rs.cur("firstprice");
    r.pertime = int(rs.lng("pertime"));
    r.perprice = rs.cur("perprice");
    r.poundage = rs.cur("poundage");
    r.poundagerate = int(rs.lng("poundagerate"));
    r.extrafee = rs.cur("extrafee");
    r.extrarate = int(rs.lng("extrarate"));
    r.discountid = rs.isNull("discountid") ? 1 : int(rs.lng("discountid"));
    r.extradiscount = rs.boolean("extradiscount");
    r.poundagediscount = rs.boolean("poundagediscount");
    r.summary = rs.str("summary");
    return r;
}

}  // namespace

RateCache& RateCache::current() {
    const quint64 fee = rsFeeRate.openSerial();
    const quint64 head = rsIPHead.openSerial();
    const quint64 conn = dbSwitch.connectionSerial();
    // Another database is another set of tariffs, held or not.
    const bool reopened = fee != g_cache.feeSerial_ || head != g_cache.headSerial_;
    if (!g_valid || conn != g_cache.connSerial_ || (reopened && g_holds == 0)) {
        g_cache.load();
        g_cache.feeSerial_ = fee;
        g_cache.headSerial_ = head;
        g_cache.connSerial_ = conn;
        g_valid = true;
    } else if (g_holds == 0 && dbSwitch.watchedWrites() != g_cache.discountWrites_) {
        g_valid = false;
        g_cache.loadDiscounts();
        g_valid = true;
    }
    return g_cache;
}

void RateCache::invalidate() { g_valid = false; }

void RateCache::holdWhileEditing() {
    // The first window brings the copy up to date before it holds it: a window
    // closed since the last call priced has reopened the recordsets with its edits.
    if (g_holds == 0) {
        try {
            current();
        } catch (const platform::DbError&) {
            // Not readable now: the first call priced reads it.
        }
    }
    ++g_holds;
}

void RateCache::releaseAfterEditing() {
    if (g_holds > 0) --g_holds;
}

void RateCache::schemeDeleted(int discountid) {
    if (!g_valid) return;
    for (FeeRateRow& r : g_cache.rates_)
        if (r.rate.discountid == discountid) r.rate.discountid = 1;
    for (IpHeadRow& h : g_cache.heads_)
        if (h.rate.discountid == discountid) h.rate.discountid = 1;
}

void RateCache::load() {
    rates_.clear();
    heads_.clear();
    zonesByBucket_.clear();
    byDefault_.clear();
    // Marked not valid until read completely: a failed read is tried again next time.
    g_valid = false;

    platform::Recordset rs = dbSwitch.query(QStringLiteral(
        "SELECT *, isnumeric(zonecode) AS zone_is_number FROM feerate ORDER BY zonecode DESC, rowid"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        FeeRateRow row;
        row.zonecode = rs.str("zonecode");
        row.numeric = rs.boolean("zone_is_number");
        row.feerateid = int(rs.lng("feerateid"));
        row.feeratetype = int(rs.lng("feeratetype"));
        row.rate = readRate(rs, row.badColumn);
        const int i = rates_.size();
        rates_ << row;
        const QString bucket = row.feeratetype < 9 ? QStringLiteral("o") : QString::number(row.feeratetype);
        QHash<QString, int>& zones = zonesByBucket_[bucket + QLatin1Char('|') + QString::number(row.feerateid)];
        const QString upper = row.zonecode.toUpper();
        if (!zones.contains(upper)) zones.insert(upper, i);
        if (!row.numeric) {
            const QString dkey = QString::number(row.feerateid) + QLatin1Char('|') + QString::number(row.feeratetype);
            if (!byDefault_.contains(dkey)) byDefault_.insert(dkey, i);
        }
    }

    loadDiscounts();

    platform::Recordset hs = dbSwitch.query(QStringLiteral("SELECT * FROM iphead ORDER BY rowid"));
    for (hs.moveFirst(); !hs.eof(); hs.moveNext()) {
        IpHeadRow h;
        h.iphead = hs.str("iphead");
        h.ipfeerate = int(hs.lng("ipfeerate"));
        h.rate = readRate(hs, h.badColumn);
        // An empty prefix would make every call an IP call.
        if (h.iphead.isEmpty()) continue;
        heads_ << h;
    }
}

void RateCache::loadDiscounts() {
    discounts_.clear();
    dbSwitch.watchWrites({QStringLiteral("discount"), QStringLiteral("discounttimes"), QStringLiteral("discountdate")});
    const quint64 writes = dbSwitch.watchedWrites();
    platform::Recordset ids = dbSwitch.query(QStringLiteral("SELECT DISTINCT discountid FROM discount"));
    for (ids.moveFirst(); !ids.eof(); ids.moveNext()) {
        const int id = int(ids.lng("discountid"));
        DiscountScheme d;
        try {
            d.days = ClsMonitor::LoadDiscount(id, d.segs);
        } catch (const platform::DbError&) {
            throw;
        } catch (const std::exception& e) {
            // Only a call priced by this scheme fails, as it would reading the scheme itself.
            d.error = QString::fromUtf8(e.what());
        }
        discounts_.insert(id, d);
    }
    fullPrice_ = DiscountScheme{};
    fullPrice_.segs << DiscountSeg{QTime(0, 0, 0), QTime(23, 59, 59), 100, 100};
    discountWrites_ = writes;
}

const DiscountScheme& RateCache::discount(int discountid) const {
    const auto it = discounts_.constFind(discountid);
    return it == discounts_.constEnd() ? fullPrice_ : *it;
}

const FeeRateRow* RateCache::findFirstZone(const QString& zone) const {
    for (const FeeRateRow& r : rates_)
        if (r.zonecode.compare(zone, Qt::CaseInsensitive) == 0) return &r;
    return nullptr;
}

const FeeRateRow* RateCache::findLongestZone(int recType, int rateType, const QString& number) const {
    QString bucket;
    if (recType == 3) bucket = QStringLiteral("10|0");
    else if (recType == 2) bucket = QStringLiteral("9|0");
    else bucket = QStringLiteral("o|") + QString::number(rateType);
    const auto b = zonesByBucket_.constFind(bucket);
    if (b == zonesByBucket_.constEnd()) return nullptr;
    const QString upper = number.toUpper();
    for (qsizetype n = upper.size(); n >= 1; --n) {
        const auto it = b->constFind(upper.left(n));
        if (it != b->constEnd()) return &rates_[*it];
    }
    return nullptr;
}

const FeeRateRow* RateCache::findDefault(int rateType, int callType) const {
    auto it = byDefault_.constFind(QString::number(rateType) + QLatin1Char('|') + QString::number(callType));
    return it == byDefault_.constEnd() ? nullptr : &rates_[*it];
}

const IpHeadRow* RateCache::findIpHead(const QString& number) const {
    for (const IpHeadRow& h : heads_)
        if (number.startsWith(h.iphead, Qt::CaseInsensitive)) return &h;
    return nullptr;
}

}  // namespace pricing
