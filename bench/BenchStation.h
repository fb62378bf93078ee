#pragma once
// A station for the benchmarks of the record road: 20,000 zone codes, a
// discount scheme with segments and holidays, an IP head, and users on every
// extension; and distinct call-record frames over them.
#include "billing/ArchiveBills.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"
#include "core/Schema.h"
#include "platform/Db.h"
#include "pricing/RateCache.h"
// The tests' writer of Tab_Phone rows: header-only, so no test library is linked.
#include "../tests/support/CallRows.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace benchstation {

using platform::Currency;

// The median of `n` fdatasync calls of a small file rewritten in `dir`: what
// one sync costs on the disk the station's files are on.
inline double medianSyncUs(const QString& dir, int n) {
    const QByteArray path = QFile::encodeName(dir + QStringLiteral("/sync-probe.dat"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    std::vector<double> us;
    char block[512] = {};
    for (int i = 0; i < n; ++i) {
        block[0] = char(i);
        if (::pwrite(fd, block, sizeof block, 0) != ssize_t(sizeof block)) break;
        const auto t0 = std::chrono::steady_clock::now();
        ::fdatasync(fd);
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    ::close(fd);
    ::unlink(path.constData());
    std::sort(us.begin(), us.end());
    return us.empty() ? 0 : us[us.size() / 2];
}

inline quint8 bcd(int v) { return quint8(((v / 10) << 4) | (v % 10)); }

// One call record: extension, called number, channel, start and length.
inline QByteArray frame(int ext, const QString& called, int channel, const QDateTime& start, int secs) {
    QByteArray f(29, char(0));
    f[0] = char(0x96);
    f[1] = char(0x1D);
    f[2] = char(ext >> 8);
    f[3] = char(ext & 0xFF);
    f[4] = char(0xFF);
    for (int i = 0; i < 10; ++i) {
        const int hi = 2 * i < called.size() ? called[2 * i].digitValue() : 0xF;
        const int lo = 2 * i + 1 < called.size() ? called[2 * i + 1].digitValue() : 0xF;
        f[5 + i] = char((hi << 4) | lo);
    }
    f[16] = char(channel & 0x0F);
    f[17] = char(bcd(start.date().month()));
    f[18] = char(bcd(start.date().day()));
    f[19] = char(bcd(start.time().hour()));
    f[20] = char(bcd(start.time().minute()));
    f[21] = char(bcd(start.time().second()));
    f[22] = char(bcd(secs / 3600));
    f[23] = char(bcd((secs % 3600) / 60));
    f[24] = char(bcd(secs % 60));
    f[25] = char(0xFF);
    f[26] = char(0xFF);
    f[28] = char(0);
    return f;
}

// A station with 20,000 zone codes, a discount scheme with segments and
// holidays, an IP head, and users on every extension.
class Station {
public:
    Station() {
        const QString data = dir.path() + QStringLiteral("/data/");
        QString error;
        if (!core::schema::WriteFreshDataDir(data, 0, &error)) qFatal("%s", qPrintable(error));
        ModDefine::DataPath = data;
        dbSwitch = platform::Database::open(data + QStringLiteral("switch.mdb"));
        dbPhoneCur = dbSwitch.attach(data + QStringLiteral("PhoneCur.mdb"), QStringLiteral("phonecur"));
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("INSERT INTO discount VALUES (2, 'night', 1, 1, '')"));
        const char* const segs[][2] = {{"00:00:00", "07:59:59"}, {"08:00:00", "21:59:59"}, {"22:00:00", "23:59:59"},
                                       {"00:00:00", "00:00:00"}};
        for (int i = 0; i < 4; ++i)
            dbSwitch.execute(QStringLiteral("INSERT INTO discounttimes VALUES (2, ?, ?, ?, ?, ?)"),
                             {i + 1, QString::fromLatin1(segs[i][0]), QString::fromLatin1(segs[i][1]),
                              i == 1 ? 100 : 50, 80});
        for (const char* d : {"01-01", "05-01", "10-01"})
            dbSwitch.execute(QStringLiteral("INSERT INTO discountdate VALUES (2, ?, '')"), {QString::fromLatin1(d)});
        for (int i = 0; i < 20000; ++i) {
            const QString zone = QStringLiteral("0%1").arg(100 + i * 37 % 8900, 3, 10, QLatin1Char('0')) +
                                 QString::number(i % 10);
            dbSwitch.tryExecute(QStringLiteral("INSERT INTO feerate (zonecode, summary, firsttime, firstprice, pertime, "
                                               "perprice, extrafee, extrarate, poundage, poundagerate, discountid, "
                                               "feeratetype, feerateid) VALUES (?, ?, 180, ?, 60, ?, ?, 10, ?, 5, 2, 2, 0)"),
                                {zone, QStringLiteral("地区%1").arg(i), Currency::fromRaw(2000), Currency::fromRaw(1000),
                                 Currency::fromRaw(500), Currency::fromRaw(5000)});
        }
        dbSwitch.execute(QStringLiteral("INSERT INTO feerate (zonecode, summary, pertime, perprice, discountid, "
                                        "feeratetype) VALUES ('市话', '市话', 60, ?, 2, 7)"),
                         {Currency::fromRaw(1000)});
        dbSwitch.execute(QStringLiteral("INSERT INTO iphead (iphead, summary, ipfeerate, firstprice, perprice) "
                                        "VALUES ('17909', 'IP', 0, ?, ?)"),
                         {Currency::fromRaw(1000), Currency::fromRaw(1000)});
        for (int u = 1; u <= 120; ++u) {
            dbSwitch.execute(QStringLiteral("INSERT INTO user (userid, username, balancemode, remain) VALUES (?, ?, 1, ?)"),
                             {u, QStringLiteral("u%1").arg(u), Currency::fromYuan(1000000)});
            dbSwitch.execute(QStringLiteral("UPDATE extension SET userid=? WHERE address=?"), {u, u - 1});
        }
        tx.commit();
        // Opened again as the station opens its files: write-ahead logs, the charge log ready.
        QString failure;
        if (!ModSwitch::TryOpenAllDB(&failure)) qFatal("%s", qPrintable(failure));
        MonSlots.resize(16);
        ModDefine::FreeAllSlots();
        // The ticket settings a fresh station loads ("不打印"): what is measured is
        // the pricing, not the print service.
        PrnHD = dbSwitch.scalar(QStringLiteral("select value from Variant where varname='PrnHD'")).toInt();
        start = QDateTime(QDate::currentDate(), QTime(0, 0, 0)).addDays(-1);
        // The copy of the rates is read once, as at the station's start.
        pricing::RateCache::current();
    }
    ~Station() { ModDefine::ResetGlobals(); }

    // The n-th distinct record: destinations over the zone codes, local and IP calls.
    QByteArray next(int n) {
        QString called;
        switch (n % 4) {
        case 0: called = QStringLiteral("88%1").arg(n % 100000, 6, 10, QLatin1Char('0')); break;
        case 1: called = QStringLiteral("17909010%1").arg(n % 10000, 5, 10, QLatin1Char('0')); break;
        default: called = QStringLiteral("0%1").arg(100 + n * 37 % 8900, 3, 10, QLatin1Char('0')) + QStringLiteral("1234567"); break;
        }
        // Wall-clock fields from plain arithmetic: the record's own decoding is what is measured.
        const int day = n / 86400;
        const int sod = n % 86400;
        const QDateTime when(start.date().addDays(day), QTime(sod / 3600, (sod % 3600) / 60, sod % 60), Qt::UTC);
        return frame(n % 120, called, n % 16, when, 30 + n % 900);
    }

    // This year's archive as the station has it once its nightly run went:
    // `calls` calls of the month the records fall in, on other extensions,
    // moved by the archive itself. Kind 1: the month archived on two nights
    // (the second run gives an older month table its key index); kind 2: the
    // first day after the month's first archive. Kind 0 leaves the station
    // without an archive. False when the run did not move them.
    bool archive(int kind, int calls = 50000) {
        if (kind == 0) return true;
        auto fill = [&](int first, int n) {
            testsupport::storeCalls(dbPhoneCur, n, [&](qint64 k) {
                const qint64 i = first + k;
                return testsupport::CallRow{.calladdr = int(200 + i % 300), .zjaddr = 1,
                                            .date = start.addSecs(i * 86399 / calls), .secs = 60,
                                            .fee = Currency::fromRaw(1000), .resp = "88000001", .zh = "    ",
                                            .indjh = "", .phmode = 7, .memo = QStringLiteral("市话")};
            });
        };
        const int first = kind == 1 ? calls / 2 : calls;
        fill(0, first);
        billing::ArchiveBills();
        qint64 moved = billing::LastArchiveRun().moved;
        if (kind == 1) {
            fill(first, calls - first);
            billing::ArchiveBills();
            moved += billing::LastArchiveRun().moved;
        }
        return moved == calls;
    }

    QTemporaryDir dir;
    QDateTime start;
};

}  // namespace benchstation
