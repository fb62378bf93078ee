#include "transfer/UpRecords.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/Currency.h"

#include <QStringList>

namespace transfer {

using platform::Currency;
using platform::Params;

namespace {

quint8 b(const QByteArray& f, int i) { return static_cast<quint8>(f.at(i)); }

QString digits(const QByteArray& f, int from, int to) {
    QString out;
    for (int i = from; i <= to; ++i) out += ModGeneral::ByteToDigits(b(f, i));
    return out;
}

int word(const QByteArray& f, int i) { return b(f, i) * 256 + b(f, i + 1); }
Currency money(const QByteArray& f, int i) { return Currency::fromFen(word(f, i)); }
int bits(quint8 v, int start, int count) { return ModGeneral::GetBits(v, quint8(start), quint8(count)); }

// The group list of a trunk frame (bytes 11..15 below 255), without quotes.
QString groups(const QByteArray& f) {
    QStringList items;
    for (int i = 11; i <= 15; ++i)
        if (b(f, i) < 255) items << QString::number(b(f, i));
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

qint64 DepositFen(const QByteArray& f) {
    const auto byte = [&](int i) { return i < f.size() ? qint64(quint8(f[i])) : 0; };
    return (byte(4) & 15) * 65536 + byte(5) * 256 + byte(6);
}

QString ShadowBase(const QString& table) {
    return table.startsWith(QLatin1String("Router")) ? QStringLiteral("AddHead") : table;
}

std::optional<UpRecord> MakeUpRecordSQL(const QByteArray& f, const QString& T) {
    auto need = [&](int lastIndex) { return f.size() > lastIndex; };
    UpRecord r;
    Params& v = r.values;
    if (T == QLatin1String("Account")) {
        if (!need(7)) return std::nullopt;
        const int address = word(f, 2);
        auto st = stationRow(QStringLiteral("select userid,depositgrade,clearpassword,locked from account where address=?"),
                             {address});
        if (!st) return std::nullopt;
        QString code = digits(f, 4, 5);
        if (code.isEmpty()) code = QStringLiteral("FFFF");
        const int sec = b(f, 7) == 15 ? 14 : b(f, 7);
        r.table = QStringLiteral("pAccount");
        v << address << code << (b(f, 6) % 128) % 15 << sec % 15 << st->value(QStringLiteral("depositgrade"))
          << st->value(QStringLiteral("locked")) << st->value(QStringLiteral("clearpassword"))
          << st->value(QStringLiteral("userid")) << 0;
        return r;
    }
    if (T == QLatin1String("LanHead") || T == QLatin1String("CityHead")) {
        if (!need(10)) return std::nullopt;
        const bool city = T == QLatin1String("CityHead");
        r.table = QStringLiteral("p") + T;
        v << digits(f, 3, 6) << b(f, 2) << b(f, 7) % 128 << b(f, 8) << b(f, 9)
          << (city ? (b(f, 7) / 128) * 256 + b(f, 10) : int(b(f, 10))) << 0;
        return r;
    }
    if (T == QLatin1String("ExtraHead")) {
        if (!need(9)) return std::nullopt;
        r.table = QStringLiteral("pExtraHead");
        v << word(f, 2) << digits(f, 4, 9) << 0;
        return r;
    }
    if (T == QLatin1String("Shrink")) {
        if (!need(9)) return std::nullopt;
        r.table = QStringLiteral("pShrink");
        v << b(f, 2) << digits(f, 3, 9) << 0;
        return r;
    }
    if (T == QLatin1String("Router1") || T == QLatin1String("Router2")) {
        if (!need(7)) return std::nullopt;
        const bool one = T == QLatin1String("Router1");
        r.table = QStringLiteral("pAddHead");
        v << (one ? 1 : 2) << (one ? int(b(f, 3)) : (b(f, 2) - 1) * 256 + b(f, 3)) << digits(f, 4, 7) << 0;
        return r;
    }
    if (T == QLatin1String("Relay")) {
        if (!need(21)) return std::nullopt;
        const quint8 b3 = b(f, 3), b4 = b(f, 4), b5 = b(f, 5);
        r.table = QStringLiteral("pRelay");
        v << b(f, 2) - 223 << bits(b3, 8, 1) << digits(f, 16, 21) << b(f, 9) << b(f, 10) << groups(f) << b(f, 6)
          << digits(f, 7, 7) << b(f, 8) << bits(b4, 3, 2) << bits(b5, 3, 2) << bits(b5, 1, 2) << bits(b5, 7, 2)
          << bits(b4, 5, 2) << bits(b4, 1, 2) << bits(b3, 7, 1) << bits(b4, 7, 2) << bits(b5, 5, 2) << 0;
        return r;
    }
    if (T == QLatin1String("Extension")) {
        if (!need(21)) return std::nullopt;
        auto st = stationRow(QStringLiteral("Select Head,SpringNum,bSetSpringNum,userid,depositgrade,monitored,bset "
                                            "From Extension where Address=?"),
                             {b(f, 2)});
        if (!st) return std::nullopt;
        const quint8 b3 = b(f, 3), b4 = b(f, 4), b5 = b(f, 5), b11 = b(f, 11);
        const int sec = (b5 & 15) == 15 ? 14 : (b5 & 15);
        const QString awake = b(f, 20) == 255 ? QString() : digits(f, 20, 20) + QLatin1Char(':') + digits(f, 21, 21);
        r.table = QStringLiteral("pExtension");
        v << b(f, 2) << st->value(QStringLiteral("Head")) << st->value(QStringLiteral("SpringNum")) << bits(b3, 2, 1)
          << bits(b3, 1, 1) << bits(b3, 3, 1) << bits(b3, 4, 1) << bits(b3, 5, 2) << bits(b3, 7, 1) << bits(b3, 8, 1)
          << b4 % 16 << bits(b4, 5, 4) << sec << bits(b11, 8, 1) << bits(b5, 6, 1) << bits(b5, 5, 1)
          << bits(b5, 7, 2) << b(f, 6) << b(f, 10) << (b11 & 127) << (b(f, 12) & 127) << (b(f, 13) & 127)
          << (b(f, 14) & 127) << awake << digits(f, 15, 15) << digits(f, 16, 19)
          << st->value(QStringLiteral("monitored")) << st->value(QStringLiteral("userid"))
          << st->value(QStringLiteral("depositgrade")) << 0 << st->value(QStringLiteral("bSetSpringNum"));
        return r;
    }
    if (T == QLatin1String("PabxFeeRate")) {
        r.table = QStringLiteral("pPabxFeeRate");
        if (SwitchModel == 2) {
            if (!need(17)) return std::nullopt;
            v << digits(f, 2, 5) << b(f, 6) << 8 << b(f, 7) << money(f, 8) << b(f, 10) << money(f, 11)
              << money(f, 14) << money(f, 16) << b(f, 13) << 0;
        } else {
            if (!need(22)) return std::nullopt;
            v << digits(f, 2, 9) << b(f, 10) << (b(f, 11) == 15 ? 14 : int(b(f, 11))) << b(f, 12) << money(f, 13)
              << b(f, 15) << money(f, 16) << money(f, 19) << money(f, 21) << b(f, 18) << 0;
        }
        return r;
    }
    if (T == QLatin1String("PabxTimes")) {
        const bool second = SwitchModel == 2;
        if (!need(second ? 11 : 15)) return std::nullopt;
        r.table = QStringLiteral("pPabxTimes");
        v << b(f, 2) << (b(f, 7) == 255 ? 2 : b(f, 7) / 64) << digits(f, 3, 3) + QLatin1Char(':') + digits(f, 4, 4)
          << digits(f, 5, 5) + QLatin1Char(':') + digits(f, 6, 6) << b(f, 8) << b(f, 9) << b(f, 10) << b(f, 11);
        if (second) v << 100 << 100 << 100 << 100;
        else v << b(f, 12) << b(f, 13) << b(f, 14) << b(f, 15);
        v << 0;
        return r;
    }
    if (T == QLatin1String("ExtDeposit")) {
        if (!need(6)) return std::nullopt;
        const int address = b(f, 2);
        auto number = stationRow(QStringLiteral("select txhm from que_txhm where address=?"), {address});
        if (!number) return std::nullopt;
        const Currency amount = Currency::fromFen(DepositFen(f));
        const int kind = bits(b(f, 3), 1, 2);
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
        v << address << number->str(QStringLiteral("txhm")) << change << real << bits(b(f, 4), 7, 1)
          << bits(b(f, 4), 8, 1) << 0;
        return r;
    }
    return std::nullopt;
}

}  // namespace transfer
