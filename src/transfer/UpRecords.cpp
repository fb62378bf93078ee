#include "transfer/UpRecords.h"

#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "link/FrameReader.h"
#include "platform/Currency.h"

#include <QStringList>

namespace transfer {

using platform::Currency;
using platform::Params;

namespace {

using ModComm::FrameReader;

Currency money(const FrameReader& f, int i) { return Currency::fromFen(f.word(i)); }
int bits(quint8 v, int start, int count) { return ModGeneral::GetBits(v, quint8(start), quint8(count)); }

// The group list of a trunk frame (bytes 11..15 below 255), without quotes.
QString groups(const FrameReader& f) {
    QStringList items;
    for (int i = 11; i <= 15; ++i)
        if (f.byte(i) < 255) items << QString::number(f.byte(i));
    return items.join(QLatin1Char(','));
}

// One station row's columns, or none.
std::optional<platform::Recordset> stationRow(const QString& sql, const Params& p) {
    platform::Recordset rs = dbSwitch.query(sql, p);
    if (rs.eof()) return std::nullopt;
    return rs;
}

}  // namespace

QString UpRecord::sql() const {
    QStringList marks;
    for (int i = 0; i < values.size(); ++i) marks << QStringLiteral("?");
    return QStringLiteral("insert into %1 values(%2)").arg(table, marks.join(QLatin1Char(',')));
}

void UpRecord::insert() const { dbSwitch.execute(sql(), values); }

qint64 DepositFen(const QByteArray& frame) {
    // The bytes a short answer lacks count as 0.
    const FrameReader f(FrameReader::Padded(frame, 7, 0));
    return f.amount(4) & 0xFFFFF;
}

QString ShadowBase(const QString& table) {
    return table.startsWith(QLatin1String("Router")) ? QStringLiteral("AddHead") : table;
}

std::optional<UpRecord> MakeUpRecordSQL(const QByteArray& frame, const QString& T) {
    const FrameReader f(frame);
    // A frame shorter than its layout gives no row.
    auto need = [&](int lastIndex) { return f.size() > lastIndex; };
    UpRecord r;
    Params& v = r.values;
    if (T == QLatin1String("Account")) {
        if (!need(7)) return std::nullopt;
        const int address = f.word(2);
        auto st = stationRow(QStringLiteral("select userid,depositgrade,clearpassword,locked from account where address=?"),
                             {address});
        if (!st) return std::nullopt;
        QString code = f.digits(4, 5);
        if (code.isEmpty()) code = QStringLiteral("FFFF");
        const int sec = f.byte(7) == 15 ? 14 : f.byte(7);
        r.table = QStringLiteral("pAccount");
        v << address << code << (f.byte(6) % 128) % 15 << sec % 15 << st->value(QStringLiteral("depositgrade"))
          << st->value(QStringLiteral("locked")) << st->value(QStringLiteral("clearpassword"))
          << st->value(QStringLiteral("userid")) << 0;
        return r;
    }
    if (T == QLatin1String("LanHead") || T == QLatin1String("CityHead")) {
        if (!need(10)) return std::nullopt;
        const bool city = T == QLatin1String("CityHead");
        r.table = QStringLiteral("p") + T;
        v << f.digits(3, 6) << f.byte(2) << f.byte(7) % 128 << f.byte(8) << f.byte(9)
          << (city ? (f.byte(7) / 128) * 256 + f.byte(10) : int(f.byte(10))) << 0;
        return r;
    }
    if (T == QLatin1String("ExtraHead")) {
        if (!need(9)) return std::nullopt;
        r.table = QStringLiteral("pExtraHead");
        v << f.word(2) << f.digits(4, 9) << 0;
        return r;
    }
    if (T == QLatin1String("Shrink")) {
        if (!need(9)) return std::nullopt;
        r.table = QStringLiteral("pShrink");
        v << f.byte(2) << f.digits(3, 9) << 0;
        return r;
    }
    if (T == QLatin1String("Router1") || T == QLatin1String("Router2")) {
        if (!need(7)) return std::nullopt;
        const bool one = T == QLatin1String("Router1");
        r.table = QStringLiteral("pAddHead");
        v << (one ? 1 : 2) << (one ? int(f.byte(3)) : (f.byte(2) - 1) * 256 + f.byte(3)) << f.digits(4, 7) << 0;
        return r;
    }
    if (T == QLatin1String("Relay")) {
        if (!need(21)) return std::nullopt;
        const quint8 b3 = f.byte(3), b4 = f.byte(4), b5 = f.byte(5);
        r.table = QStringLiteral("pRelay");
        v << f.byte(2) - 223 << bits(b3, 8, 1) << f.digits(16, 21) << f.byte(9) << f.byte(10) << groups(f) << f.byte(6)
          << f.digits(7) << f.byte(8) << bits(b4, 3, 2) << bits(b5, 3, 2) << bits(b5, 1, 2) << bits(b5, 7, 2)
          << bits(b4, 5, 2) << bits(b4, 1, 2) << bits(b3, 7, 1) << bits(b4, 7, 2) << bits(b5, 5, 2) << 0;
        return r;
    }
    if (T == QLatin1String("Extension")) {
        if (!need(21)) return std::nullopt;
        auto st = stationRow(QStringLiteral("Select Head,SpringNum,bSetSpringNum,userid,depositgrade,monitored,bset "
                                            "From Extension where Address=?"),
                             {f.byte(2)});
        if (!st) return std::nullopt;
        const quint8 b3 = f.byte(3), b4 = f.byte(4), b5 = f.byte(5), b11 = f.byte(11);
        const int sec = (b5 & 15) == 15 ? 14 : (b5 & 15);
        const QString awake = f.byte(20) == 255 ? QString() : f.digits(20) + QLatin1Char(':') + f.digits(21);
        r.table = QStringLiteral("pExtension");
        v << f.byte(2) << st->value(QStringLiteral("Head")) << st->value(QStringLiteral("SpringNum")) << bits(b3, 2, 1)
          << bits(b3, 1, 1) << bits(b3, 3, 1) << bits(b3, 4, 1) << bits(b3, 5, 2) << bits(b3, 7, 1) << bits(b3, 8, 1)
          << b4 % 16 << bits(b4, 5, 4) << sec << bits(b11, 8, 1) << bits(b5, 6, 1) << bits(b5, 5, 1)
          << bits(b5, 7, 2) << f.byte(6) << f.byte(10) << (b11 & 127) << (f.byte(12) & 127) << (f.byte(13) & 127)
          << (f.byte(14) & 127) << awake << f.digits(15) << f.digits(16, 19)
          << st->value(QStringLiteral("monitored")) << st->value(QStringLiteral("userid"))
          << st->value(QStringLiteral("depositgrade")) << 0 << st->value(QStringLiteral("bSetSpringNum"));
        return r;
    }
    if (T == QLatin1String("PabxFeeRate")) {
        r.table = QStringLiteral("pPabxFeeRate");
        if (SwitchModel == 2) {
            if (!need(17)) return std::nullopt;
            v << f.digits(2, 5) << f.byte(6) << 8 << f.byte(7) << money(f, 8) << f.byte(10) << money(f, 11)
              << money(f, 14) << money(f, 16) << f.byte(13) << 0;
        } else {
            if (!need(22)) return std::nullopt;
            v << f.digits(2, 9) << f.byte(10) << (f.byte(11) == 15 ? 14 : int(f.byte(11))) << f.byte(12) << money(f, 13)
              << f.byte(15) << money(f, 16) << money(f, 19) << money(f, 21) << f.byte(18) << 0;
        }
        return r;
    }
    if (T == QLatin1String("PabxTimes")) {
        const bool second = SwitchModel == 2;
        if (!need(second ? 11 : 15)) return std::nullopt;
        r.table = QStringLiteral("pPabxTimes");
        v << f.byte(2) << (f.byte(7) == 255 ? 2 : f.byte(7) / 64) << f.digits(3) + QLatin1Char(':') + f.digits(4)
          << f.digits(5) + QLatin1Char(':') + f.digits(6) << f.byte(8) << f.byte(9) << f.byte(10) << f.byte(11);
        if (second) v << 100 << 100 << 100 << 100;
        else v << f.byte(12) << f.byte(13) << f.byte(14) << f.byte(15);
        v << 0;
        return r;
    }
    if (T == QLatin1String("ExtDeposit")) {
        if (!need(6)) return std::nullopt;
        const int address = f.byte(2);
        auto number = stationRow(QStringLiteral("select txhm from que_txhm where address=?"), {address});
        if (!number) return std::nullopt;
        const Currency amount = Currency::fromFen(DepositFen(frame));
        const int kind = bits(f.byte(3), 1, 2);
        Currency change, real = amount;
        if (kind != 0) {
            // A change still pending on the switch: the balance it leads to,
            // from the station's own deposit row.
            auto st = stationRow(QStringLiteral("select RealValue from ExtDeposit where address=?"), {address});
            if (!st) return std::nullopt;
            const Currency station = st->cur(QStringLiteral("RealValue"));
            if (kind == 1) {
                change = amount;
                real = station + amount;
            } else if (kind == 2) {
                change = Currency() - amount;
                real = station - amount;
            } else {
                change = Currency();
                real = station;
            }
        }
        r.table = QStringLiteral("pExtDeposit");
        v << address << number->str(QStringLiteral("txhm")) << change << real << bits(f.byte(4), 7, 1)
          << bits(f.byte(4), 8, 1) << 0;
        return r;
    }
    return std::nullopt;
}

}  // namespace transfer
