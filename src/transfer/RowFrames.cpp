#include "transfer/RowFrames.h"

#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/ModComm.h"
#include "params/DialDigits.h"

#include <QStringList>
#include <cmath>

namespace transfer {

using platform::Currency;

RowValues::RowValues(std::initializer_list<std::pair<QString, QVariant>> values) {
    for (const auto& kv : values) set(kv.first, kv.second);
}

RowValues RowValues::of(const platform::Recordset& rs) {
    RowValues r;
    for (int i = 0; i < rs.fieldCount(); ++i) r.set(rs.fieldName(i), rs.value(i));
    return r;
}

QVariant RowValues::value(const QString& column) const { return v_.value(column.toLower()); }

Owner LookupOwner(qint64 userId) {
    Owner o;
    platform::Recordset rs =
        dbSwitch.query(QStringLiteral("select locked,balancemode from user where userid=?"), {userId});
    if (rs.empty()) return o;
    o.found = true;
    o.locked = rs.boolean(QStringLiteral("locked"));
    o.balanceMode = int(rs.lng(QStringLiteral("balancemode")));
    return o;
}

namespace {

[[noreturn]] void fail(const QString& column, const QString& why) {
    throw EncodeError(QStringLiteral("字段 %1 %2").arg(column, why));
}

QVariant required(const RowValues& r, const QString& col) {
    const QVariant v = r.value(col);
    if (v.isNull()) fail(col, QStringLiteral("无值"));
    return v;
}

// A whole number from a column; fractions round halves to the even neighbour.
qint64 number(const RowValues& r, const QString& col) {
    const QVariant v = required(r, col);
    switch (v.typeId()) {
    case QMetaType::LongLong: case QMetaType::Int: case QMetaType::UInt: case QMetaType::ULongLong:
        return v.toLongLong();
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Double: {
        const double d = v.toDouble();
        if (!std::isfinite(d) || std::fabs(d) > 1e15) fail(col, QStringLiteral("数值超出范围"));
        return qint64(std::nearbyint(d));   // the default rounding mode ties to even
    }
    default: {
        bool ok = false;
        const QString t = v.toString().trimmed();
        const qint64 n = t.toLongLong(&ok);
        if (ok) return n;
        const double d = t.toDouble(&ok);
        if (!ok || !std::isfinite(d) || std::fabs(d) > 1e15) fail(col, QStringLiteral("不是数值"));
        return qint64(std::nearbyint(d));
    }
    }
}

qint64 inRange(qint64 v, qint64 lo, qint64 hi, const QString& col) {
    if (v < lo || v > hi) fail(col, QStringLiteral("数值 %1 超出范围").arg(v));
    return v;
}

quint8 byteOf(const RowValues& r, const QString& col) { return quint8(inRange(number(r, col), 0, 255, col)); }

QString hexByte(qint64 v, const QString& col) { return ModComm::ByteToHex(quint8(inRange(v, 0, 255, col))); }
QString hexByte(const RowValues& r, const QString& col) { return ModComm::ByteToHex(byteOf(r, col)); }

// A small option column that occupies `bits` bits of a packed byte.
int field(const RowValues& r, const QString& col, int bits) {
    return int(inRange(number(r, col), 0, (1 << bits) - 1, col));
}

Currency moneyOf(const RowValues& r, const QString& col) {
    const QVariant v = required(r, col);
    if (v.typeId() == QMetaType::QString) {
        const auto p = Currency::parse(v.toString());
        if (!p) fail(col, QStringLiteral("不是金额"));
        return *p;
    }
    if (v.typeId() == QMetaType::Double) fail(col, QStringLiteral("不是金额"));
    return Currency::fromRaw(v.toLongLong());
}

// Money in fen, halves to the even fen.
qint64 fenOf(const RowValues& r, const QString& col) { return moneyOf(r, col).toFenHalfEven(); }

QString money16(const RowValues& r, const QString& col) {
    const qint64 fen = inRange(fenOf(r, col), 0, 0xFFFF, col);
    return ModComm::LongToHex(fen, 4);
}

bool isHexText(const QString& t) {
    for (QChar c : t)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    return true;
}

// The column's text as nibbles, F-filled or cut to n characters.
QString digits(const RowValues& r, const QString& col, int n, bool dial = false) {
    const QVariant v = required(r, col);
    QString t = v.toString();
    if (dial) t = ModSwitch::DialToHex(t);
    t = ModGeneral::PadF(t, n).toUpper();
    if (!isHexText(t)) fail(col, QStringLiteral("含有不能下载的字符"));
    return t;
}

// "HH:mm" as two bytes of two decimal digits each.
QString bcdTime(const QString& text, const QString& col) {
    const QString t = text.trimmed();
    const int colon = t.indexOf(QLatin1Char(':'));
    bool okH = false, okM = false;
    const int h = colon > 0 ? t.left(colon).toInt(&okH) : 0;
    const int m = colon > 0 ? t.mid(colon + 1).toInt(&okM) : 0;
    if (!okH || !okM || h < 0 || h > 99 || m < 0 || m > 99) fail(col, QStringLiteral("不是时间"));
    return QStringLiteral("%1%2").arg(h, 2, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0'));
}

int sendGrade(int g) { return g == 14 ? 15 : g; }

}  // namespace

QString HeadRow(const RowValues& r, bool cityHead) {
    QString f = FrameCode::kHeadRow + hexByte(r, QStringLiteral("HeadType")) + digits(r, QStringLiteral("HeadID"), 8);
    const qint64 len = number(r, QStringLiteral("HeadLen"));
    const qint64 route2 = number(r, QStringLiteral("Router2"));
    if (cityHead) {
        inRange(route2, 0, 511, QStringLiteral("Router2"));
        f += hexByte(len + 128 * (route2 / 256), QStringLiteral("HeadLen"));
    } else {
        f += hexByte(len, QStringLiteral("HeadLen"));
    }
    f += hexByte(r, QStringLiteral("Headdelay")) + hexByte(r, QStringLiteral("Router1"));
    f += cityHead ? ModComm::ByteToHex(quint8(route2 % 256)) : hexByte(route2, QStringLiteral("Router2"));
    return f;
}

QString ExtraHeadRow(const RowValues& r) {
    return FrameCode::kExtraHeadRowOrder + hexByte(r, QStringLiteral("Address")) +
           digits(r, QStringLiteral("ExtraHead"), 12);
}

QString ShrinkRow(const RowValues& r) {
    return FrameCode::kShrinkRow + hexByte(r, QStringLiteral("Address")) + digits(r, QStringLiteral("ShrinkHead"), 14);
}

QString AddHeadRow(const RowValues& r) {
    const qint64 router = inRange(number(r, QStringLiteral("Router")), 1, 2, QStringLiteral("Router"));
    const qint64 port = inRange(number(r, QStringLiteral("PortAddr")), 0, 511, QStringLiteral("PortAddr"));
    return FrameCode::kAddHeadRow + hexByte(router - 1 + port / 256, QStringLiteral("PortAddr")) +
           ModComm::ByteToHex(quint8(port % 256)) + digits(r, QStringLiteral("AddHead"), 8);
}

QString BoardLayout(const QVector<int>& kinds) {
    QString f = FrameCode::kBoardLayoutRow;
    for (int slot = 0; slot < 22; slot += 2) {
        auto kind = [&](int s) {
            const int k = s < kinds.size() ? kinds[s] : 15;
            if (k < 0 || k > 15) fail(QStringLiteral("dispcard"), QStringLiteral("数值 %1 超出范围").arg(k));
            return s == 6 ? 8 : k;   // the tone board's slot
        };
        f += ModComm::ByteToHex(quint8(kind(slot) + 16 * kind(slot + 1)));
    }
    return f + QStringLiteral("0000000000");
}

QString RelayRow(const RowValues& r) {
    const qint64 addr = number(r, QStringLiteral("Address"));
    QString f = FrameCode::kRelayRow + hexByte(addr + 223, QStringLiteral("Address"));
    f += ModComm::ByteToHex(quint8(field(r, QStringLiteral("callingSwitch"), 1) * 64 + field(r, QStringLiteral("Switch"), 1) * 128));
    f += ModComm::ByteToHex(quint8(field(r, QStringLiteral("countmode"), 2) + field(r, QStringLiteral("dialmodeday"), 2) * 4 +
                                   field(r, QStringLiteral("sendcode"), 2) * 16 + field(r, QStringLiteral("Relaytype"), 2) * 64));
    f += ModComm::ByteToHex(quint8(field(r, QStringLiteral("directproc"), 2) + field(r, QStringLiteral("dialmodenight"), 2) * 4 +
                                   field(r, QStringLiteral("continueSelect"), 2) * 16 + field(r, QStringLiteral("turnproc"), 2) * 64));
    f += hexByte(r, QStringLiteral("Routerno")) + digits(r, QStringLiteral("indirectno"), 2);
    f += hexByte(r, QStringLiteral("groupno")) + hexByte(r, QStringLiteral("daystart")) + hexByte(r, QStringLiteral("nightstart"));
    const QString group = required(r, QStringLiteral("groupphone")).toString();
    for (const QString& item : group.split(QLatin1Char(','))) {
        const QString t = item.trimmed();
        if (t.isEmpty()) continue;
        bool ok = false;
        const int v = t.toInt(&ok);
        if (!ok || v < 0 || v > 255) fail(QStringLiteral("groupphone"), QStringLiteral("含有无效的号码 %1").arg(t));
    }
    f += ModSwitch::PackGroupList(group);
    return f + digits(r, QStringLiteral("Relayno"), 12);
}

QString SpringNumRow(const RowValues& r) {
    return FrameCode::kSpringNumRow + hexByte(r, QStringLiteral("Head")) + digits(r, QStringLiteral("SpringNum"), 4);
}

QString PabxFeeRateRow(const RowValues& r, int switchModel) {
    const bool second = switchModel == 2;
    QString f = second ? FrameCode::kPabxFeeRateRow2 : FrameCode::kPabxFeeRateRow;
    f += digits(r, QStringLiteral("FeeRateHead"), second ? 8 : 16, true);
    f += hexByte(r, QStringLiteral("FeeRateType"));
    if (!second) f += hexByte(sendGrade(byteOf(r, QStringLiteral("feerategrade"))), QStringLiteral("feerategrade"));
    f += hexByte(r, QStringLiteral("FirstTime")) + money16(r, QStringLiteral("FirstPrice"));
    f += hexByte(r, QStringLiteral("PerTime")) + money16(r, QStringLiteral("PerPrice"));
    f += hexByte(r, QStringLiteral("DiscountPercent"));
    return f + money16(r, QStringLiteral("Poundage")) + money16(r, QStringLiteral("ExtraFee"));
}

QString PabxTimesRow(const RowValues& r, int ordinal, int switchModel) {
    const bool second = switchModel == 2;
    QString f = second ? FrameCode::kPabxTimesRow2 : FrameCode::kPabxTimesRow;
    f += hexByte(ordinal, QStringLiteral("SegNo"));
    f += bcdTime(required(r, QStringLiteral("TimeBegin")).toString(), QStringLiteral("TimeBegin"));
    f += bcdTime(required(r, QStringLiteral("TimeEnd")).toString(), QStringLiteral("TimeEnd"));
    f += hexByte(number(r, QStringLiteral("DayTimes")) * 64, QStringLiteral("DayTimes"));
    QStringList cols = {QStringLiteral("InnerPercent1"), QStringLiteral("NationPercent1"), QStringLiteral("MobilPercent1"),
                        QStringLiteral("LanPercent1")};
    if (!second)
        cols << QStringLiteral("InnerPercent2") << QStringLiteral("NationPercent2") << QStringLiteral("MobilPercent2")
             << QStringLiteral("LanPercent2");
    for (const QString& c : cols) f += hexByte(r, c);
    return f;
}

QString ExtDepositRow(const RowValues& r) {
    // The kind follows the stored change, not its rounding: a decrease of less
    // than half a fen is still a decrease.
    const Currency change = moneyOf(r, QStringLiteral("ChangeValue"));
    const bool decrease = change < Currency();
    const qint64 fen = change.toFenHalfEven();
    const qint64 magnitude = inRange(fen < 0 ? -fen : fen, 0, 0xFFFFFF, QStringLiteral("ChangeValue"));
    return FrameCode::kExtDepositRow + hexByte(r, QStringLiteral("Address")) + (decrease ? QStringLiteral("02") : QStringLiteral("01")) +
           ModComm::LongToHex(magnitude, 6);
}

QString AccountRow(const RowValues& r, int mode, bool clearPassword, const Owner& owner) {
    const qint64 address = inRange(number(r, QStringLiteral("address")), 0, 2559, QStringLiteral("address"));
    QString f = FrameCode::kAccountRow + ModComm::LongToHex(address, 4);
    if (mode == kModeRelease) {
        f += QStringLiteral("FFFF");
    } else {
        const QString code = required(r, QStringLiteral("account")).toString().trimmed();
        bool digitsOnly = !code.isEmpty() && code.size() <= 4;
        for (QChar c : code) digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (digitsOnly) f += code.rightJustified(4, QLatin1Char('0'));
        else if (code.compare(QLatin1String("FFFF"), Qt::CaseInsensitive) == 0) f += QStringLiteral("FFFF");
        else fail(QStringLiteral("account"), QStringLiteral("不是四位帐号"));
    }
    const int first = int(inRange(number(r, QStringLiteral("firstgrade")), 0, 15, QStringLiteral("firstgrade")));
    const int sec = int(inRange(number(r, QStringLiteral("secgrade")), 0, 15, QStringLiteral("secgrade")));
    const int deposit = int(inRange(number(r, QStringLiteral("depositgrade")), 0, 15, QStringLiteral("depositgrade")));
    const bool locked = number(r, QStringLiteral("locked")) != 0;
    int g1 = 10, g2 = sec == 14 ? 15 : 10;
    if (mode == kModeNormal && !locked && !owner.locked) {
        g1 = first;
        g2 = sec;
        if (owner.balanceMode == 0) {
            if (g1 < deposit) g1 = deposit;
            if (g2 < deposit) g2 = deposit;
        }
        g2 = sendGrade(g2);
    }
    const bool clear = clearPassword || number(r, QStringLiteral("clearpassword")) != 0;
    return f + ModComm::ByteToHex(quint8(g1 + (clear ? 0 : 0x80))) + ModComm::ByteToHex(quint8(g2));
}

QString ExtParaRow(const RowValues& r, int mode, bool clearPassword, const Owner& owner) {
    QString f = FrameCode::kExtParaRow + hexByte(r, QStringLiteral("Address"));
    const int pwd = clearPassword ? 1 : field(r, QStringLiteral("ClsPWD"), 1);
    f += ModComm::ByteToHex(quint8(field(r, QStringLiteral("raisemode"), 1) + field(r, QStringLiteral("DispCall"), 1) * 2 +
                                   pwd * 4 + field(r, QStringLiteral("NoCall"), 1) * 8 + field(r, QStringLiteral("exttype"), 2) * 16 +
                                   field(r, QStringLiteral("queueSwitch"), 1) * 64 + field(r, QStringLiteral("queueflag"), 1) * 128));
    const int first = field(r, QStringLiteral("firstgrade"), 4);
    const int pwdGrade = field(r, QStringLiteral("pwdgrade"), 4);
    const int sec = field(r, QStringLiteral("secgrade"), 4);
    const int deposit = field(r, QStringLiteral("depositgrade"), 4);
    const bool monitored = number(r, QStringLiteral("monitored")) != 0;
    int g1 = 10, gp = 10, g2 = 10;
    const bool asStored = mode == kModeNormal && !owner.locked;
    if (asStored) {
        g1 = monitored || first > 10 ? first : 10;
        gp = monitored || pwdGrade > 10 ? pwdGrade : 10;
        g2 = sec;
        if (owner.balanceMode == 0) {
            if (g1 < deposit) g1 = deposit;
            if (gp < deposit) gp = deposit;
            if (g2 < deposit) g2 = deposit;
        }
    }
    if (sec == 14) g2 = 15;
    f += ModComm::ByteToHex(quint8(g1 + 16 * gp));
    f += ModComm::ByteToHex(quint8(g2 + field(r, QStringLiteral("turnreturn"), 1) * 16 + field(r, QStringLiteral("CallWait"), 1) * 32 +
                                   field(r, QStringLiteral("phonetype"), 2) * 64));
    f += hexByte(r, QStringLiteral("groupno")) + QStringLiteral("FFFFFF") + hexByte(r, QStringLiteral("Limit"));
    f += hexByte(field(r, QStringLiteral("leavejump"), 7) + 128 * field(r, QStringLiteral("nodisturb"), 1), QStringLiteral("leavejump"));
    f += hexByte(r, QStringLiteral("busyjump")) + hexByte(r, QStringLiteral("HotJump")) + hexByte(r, QStringLiteral("CallJump"));
    f += digits(r, QStringLiteral("vRouter"), 2);
    // An empty or missing virtual number is sent as filler.
    RowValues vnum;
    vnum.set(QStringLiteral("VNum"), r.value(QStringLiteral("VNum")).isNull() ? QString() : r.value(QStringLiteral("VNum")).toString());
    f += digits(vnum, QStringLiteral("VNum"), 8);
    const QString awake = required(r, QStringLiteral("awaketime")).toString().trimmed();
    f += awake.isEmpty() ? QStringLiteral("FFFF") : bcdTime(awake, QStringLiteral("awaketime"));
    return f;
}

namespace {
[[noreturn]] void failSetting(const QString& key) { throw EncodeError(QStringLiteral("设置 %1 无效").arg(key)); }
}  // namespace

QString LimitsFrame(const QString& setting) {
    const QStringList items = setting.split(QLatin1Char(','));
    if (items.size() < 8) failSetting(QStringLiteral("Limit"));
    QString f = FrameCode::kLimitPara;
    for (int k = 0; k < 8; ++k) {
        bool ok = false;
        const qint64 v = items[k].trimmed().toLongLong(&ok);
        if (!ok || v < 0 || v > 65535) failSetting(QStringLiteral("Limit"));
        f += ModComm::ByteToHex(quint8(v / 256)) + ModComm::ByteToHex(quint8(v % 256));
    }
    return f;
}

QString SelCmdFrame(const QString& setting) {
    const QStringList items = setting.split(QLatin1Char(','));
    if (items.size() < 5) failSetting(QStringLiteral("SelCmd"));
    int flags = 0;
    for (int k = 3; k <= 4; ++k) {
        const QString t = items[k].trimmed();
        if (t != QLatin1String("0") && t != QLatin1String("1")) failSetting(QStringLiteral("SelCmd"));
        if (t == QLatin1String("1")) flags += k == 3 ? 128 : 32;
    }
    return FrameCode::kSelCmdPara + ModGeneral::PadF(ModSwitch::DialToHex(items[0]), 8) +
           ModGeneral::PadF(ModSwitch::DialToHex(items[1]), 2) + ModGeneral::PadF(ModSwitch::DialToHex(items[2]), 12) +
           ModComm::ByteToHex(quint8(flags));
}

QString SystemParams::limitSetting() const {
    QStringList words;
    for (int v : limit) words << QString::number(v);
    return words.join(QLatin1Char(','));
}

QString SystemParams::selCmdSetting() const {
    return QStringList{selDial[0], selDial[1], selDial[2], QString::number(selSwitch[0]), QString::number(selSwitch[1])}
        .join(QLatin1Char(','));
}

QString SystemParams::message() const {
    QString m;
    if (limits == NotSet) m = QStringLiteral("集团电话没有设置限时参数");
    if (selCmd != NoAnswer) {
        if (selCmd == NotSet) m = m.isEmpty() ? QStringLiteral("集团电话没有设置连选命令") : QStringLiteral("集团电话没有设置系统参数");
        if (m.isEmpty()) m = limits == Read ? QStringLiteral("上传系统参数成功") : QStringLiteral("上传限时参数失败");
    } else if (m.isEmpty()) {
        m = limits == Read ? QStringLiteral("上传连选命令数失败") : QStringLiteral("上传系统参数失败");
    }
    return m;
}

SystemParams ReadSystemParams() {
    SystemParams p;
    QByteArray answer;
    if (ModComm::GetOrder(answer, FrameCode::kLimitPara, false, FrameCode::kReadLimit, 5) == ModComm::GotAnswer) {
        try {
            const ModComm::FrameReader f(answer);
            f.byte(17);   // the whole frame is there before anything is taken from it
            // The first limit unset (FFFF): the switch has none.
            if (f.byte(2) == 0xFF && f.byte(3) == 0xFF) {
                p.limits = SystemParams::NotSet;
            } else {
                for (int k = 0; k < 8; ++k) p.limit[k] = f.word(2 + 2 * k);
                p.limits = SystemParams::Read;
            }
        } catch (const ModComm::FrameError&) {
            p.limits = SystemParams::NoAnswer;
        }
    }
    answer.clear();
    if (ModComm::GetOrder(answer, FrameCode::kSelCmdPara, false, FrameCode::kReadSelCmd, 5) == ModComm::GotAnswer) {
        try {
            const ModComm::FrameReader f(answer);
            f.byte(13);   // the whole frame is there before anything is taken from it
            if (f.byte(2) == 0xFF) {
                p.selCmd = SystemParams::NotSet;
            } else {
                p.selDial[0] = f.dial(2, 5);
                p.selDial[1] = f.dial(6, 6);
                p.selDial[2] = f.dial(7, 12);
                p.selSwitch[0] = (f.byte(13) >> 7) & 1;
                p.selSwitch[1] = (f.byte(13) >> 5) & 1;
                p.selCmd = SystemParams::Read;
            }
        } catch (const ModComm::FrameError&) {
            p.selCmd = SystemParams::NoAnswer;
        }
    }
    return p;
}

namespace {

// The switch's answer (code first, sum last) holds the row sent (without
// sum), every bit of it: the decoding 上传 does drops bits the frame carries
// (an account's password-kept bit, an extension's jump bits, a head's length
// bit), and a row that differs in one of them is not the row sent.
bool sameRow(const QByteArray& answer, const QByteArray& sent) {
    return answer.size() == sent.size() + 1 && answer.startsWith(sent);
}

// How an addressed row is asked for, from the address its frame carries.
QString askOf(const QString& code, const QString& order) {
    if (code == QLatin1String("940A")) return QStringLiteral("9304") + order.mid(4, 4);
    if (code == QLatin1String("A70A")) return QStringLiteral("A703") + order.mid(4, 2);
    if (code == QLatin1String("9008")) return QStringLiteral("9104") + order.mid(4, 4);
    if (code == QLatin1String("8916") || code == QLatin1String("8B16")) return QStringLiteral("880400") + order.mid(4, 2);
    if (code == QLatin1String("8C08")) return QStringLiteral("8804") + order.mid(4, 4);
    return {};
}

// How many bytes from byte 2 on name an addressed row.
int addressBytes(const QString& code) {
    return code == QLatin1String("940A") || code == QLatin1String("9008") || code == QLatin1String("8C08") ? 2 : 1;
}

// A streamed table's rows as the switch gives them; none when it stops answering.
std::optional<QVector<QByteArray>> readStream(const QString& open, const QString& code) {
    ModComm::SendOrder(open, false, 4, true);
    QVector<QByteArray> rows;
    for (int i = 0; i < 1100; ++i) {
        QByteArray answer;
        const ModComm::AskResult r = ModComm::GetOrder(answer, code, true, QString(), 5);
        if (r == ModComm::NothingMore) return rows;
        if (r != ModComm::GotAnswer) return std::nullopt;
        rows.append(answer);
    }
    return rows;
}

}  // namespace

bool AnswersAsk(const QByteArray& answer, const QString& ask) {
    if (answer.size() < 2) return false;
    const int n = addressBytes(ModComm::ByteToHex(quint8(answer[0])) + ModComm::ByteToHex(quint8(answer[1])));
    const QByteArray asked = ModComm::HexToBytes(ask);
    return answer.size() >= 2 + n && asked.size() >= 2 + n && answer.mid(2, n) == asked.right(n);
}

QVector<bool> HeldAsSent(const QStringList& orders) {
    QVector<bool> held(orders.size(), false);
    QString open;   // the read of the streamed table of the 860B rows
    // The rows of each streamed kind, as their places among the orders.
    QHash<QString, QVector<int>> streamed;
    int unanswered = 0;
    for (int i = 0; i < orders.size(); ++i) {
        const QString& order = orders[i];
        const QString code = order.left(4).toUpper();
        if (code == QLatin1String("8103")) {
            held[i] = true;
            const QString kind = order.mid(4, 2).toUpper();
            if (kind == QLatin1String("09")) open = FrameCode::kReadLanHead;
            else if (kind == QLatin1String("01")) open = FrameCode::kReadCityHead;
            continue;
        }
        if (code == QLatin1String("860B") || code.startsWith(QLatin1String("8F")) || code.startsWith(QLatin1String("A9")) ||
            code == QLatin1String("8705")) {
            streamed[code].append(i);
            continue;
        }
        const QString ask = askOf(code, order);
        // Two rows in turn whose asks heard nothing: the switch is not answering now.
        if (ask.isEmpty() || unanswered >= 2) continue;
        const QByteArray sent = ModComm::HexToBytes(order);
        // An answer for another address (one of an ask before, late, or a
        // copy) is no answer to this one, but the switch is answering: this
        // row's answer is listened for behind it without asking again (an ask
        // more would keep the answers as far behind), asked again only when
        // nothing more comes, and the rows after it are read all the same.
        bool answered = false, heard = false;
        QString asking = ask;
        for (int asks = 0, others = 0; !answered && others < 8;) {
            if (!asking.isEmpty() && ++asks > 2) break;
            QByteArray answer;
            if (ModComm::GetOrder(answer, code, false, asking, 5) != ModComm::GotAnswer) {
                if (asking.isEmpty()) {
                    asking = ask;
                    continue;
                }
                break;
            }
            heard = true;
            if (AnswersAsk(answer, ask)) {
                answered = true;
                held[i] = sameRow(answer, sent);
            } else {
                ++others;
                asking.clear();
            }
        }
        unanswered = heard ? 0 : unanswered + 1;
    }
    for (auto it = streamed.cbegin(); it != streamed.cend(); ++it) {
        const QString& code = it.key();
        QString read;
        if (code == QLatin1String("860B")) read = open;
        else if (code.startsWith(QLatin1String("8F"))) read = FrameCode::kReadPabxFeeRate;
        else if (code.startsWith(QLatin1String("A9"))) read = FrameCode::kReadPabxTimes;
        else read = FrameCode::kReadSpringNum;
        if (read.isEmpty()) continue;
        const std::optional<QVector<QByteArray>> rows = readStream(read, code);
        if (!rows) continue;
        // Flexible numbers and fee rates are the switch's by their place.
        const bool byPlace = code == QLatin1String("8705") || code.startsWith(QLatin1String("8F"));
        QVector<bool> used(rows->size(), false);
        for (int k = 0; k < it->size(); ++k) {
            const int i = (*it)[k];
            const QByteArray sent = ModComm::HexToBytes(orders[i]);
            if (byPlace) {
                held[i] = k < rows->size() && sameRow((*rows)[k], sent);
                continue;
            }
            for (int j = 0; j < rows->size() && !held[i]; ++j) {
                if (used[j] || !sameRow((*rows)[j], sent)) continue;
                used[j] = true;
                held[i] = true;
            }
        }
    }
    // The acknowledgement of the last answer read goes before anything else is said.
    ModComm::DrainLink(1000);
    return held;
}

}  // namespace transfer
