#include "sim/RowFrames.h"

#include "sim/Frames.h"

namespace sim {

namespace {

int u8(const QByteArray& b, int i) { return quint8(b[i]); }
bool is(const QByteArray& b, int code, int len) { return b.size() == len && u8(b, 0) == code && u8(b, 1) == len; }
QString nibbles(const QByteArray& b, int from, int count) { return unpackDigits(b.mid(from, count)); }
// A byte holding two decimal digits, read back as its number (0x45 -> 45).
QString twoDigits(int v) { return QStringLiteral("%1%2").arg(v >> 4).arg(v & 15); }
QString dial(QString s) { return s.replace(QLatin1Char('B'), QLatin1Char('*')).replace(QLatin1Char('C'), QLatin1Char('#')); }
qint64 word(const QByteArray& b, int i) { return u8(b, i) * 256 + u8(b, i + 1); }

}  // namespace

std::optional<HeadRowF> decodeHeadRow(const QByteArray& b, bool cityHead) {
    if (!is(b, 0x86, 0x0B)) return std::nullopt;
    HeadRowF r;
    r.headType = u8(b, 2);
    r.head = nibbles(b, 3, 4);
    r.headLen = cityHead ? (u8(b, 7) & 0x7F) : u8(b, 7);
    r.delay = u8(b, 8);
    r.route1 = u8(b, 9);
    r.route2 = u8(b, 10) + (cityHead ? (u8(b, 7) >> 7) * 256 : 0);
    return r;
}

std::optional<ExtraHeadF> decodeExtraHead(const QByteArray& b) {
    if (!is(b, 0x94, 0x0A)) return std::nullopt;
    return ExtraHeadF{int(word(b, 2)), nibbles(b, 4, 6)};
}

std::optional<ShrinkF> decodeShrink(const QByteArray& b) {
    if (!is(b, 0xA7, 0x0A)) return std::nullopt;
    return ShrinkF{u8(b, 2), nibbles(b, 3, 7)};
}

std::optional<AddHeadF> decodeAddHead(const QByteArray& b) {
    if (!is(b, 0x90, 0x08)) return std::nullopt;
    AddHeadF r;
    r.router = u8(b, 2) == 0 ? 1 : 2;
    r.portAddr = (u8(b, 2) == 2 ? 256 : 0) + u8(b, 3);
    r.head = nibbles(b, 4, 4);
    return r;
}

std::optional<BoardLayoutF> decodeBoardLayout(const QByteArray& b) {
    if (!is(b, 0x9E, 0x13) || u8(b, 2) != 0) return std::nullopt;
    BoardLayoutF r;
    for (int i = 3; i <= 13; ++i) {
        r.kinds.push_back(u8(b, i) & 15);
        r.kinds.push_back(u8(b, i) >> 4);
    }
    for (int i = 14; i <= 18; ++i)
        if (u8(b, i) != 0) return std::nullopt;
    return r;
}

std::optional<RelayF> decodeRelay(const QByteArray& b) {
    if (!is(b, 0x89, 0x16)) return std::nullopt;
    RelayF r;
    r.trunk = u8(b, 2) - 223;
    if (u8(b, 3) & 0x3F) return std::nullopt;
    r.callingSwitch = (u8(b, 3) >> 6) & 1;
    r.sw = u8(b, 3) >> 7;
    r.countmode = u8(b, 4) & 3; r.dialmodeday = (u8(b, 4) >> 2) & 3; r.sendcode = (u8(b, 4) >> 4) & 3; r.relaytype = u8(b, 4) >> 6;
    r.directproc = u8(b, 5) & 3; r.dialmodenight = (u8(b, 5) >> 2) & 3; r.continueSelect = (u8(b, 5) >> 4) & 3;
    r.turnproc = u8(b, 5) >> 6;
    r.routerNo = u8(b, 6);
    r.indirect = nibbles(b, 7, 1);
    r.groupNo = u8(b, 8);
    r.dayStart = u8(b, 9);
    r.nightStart = u8(b, 10);
    for (int i = 11; i <= 15; ++i)
        if (u8(b, i) != 0xFF) r.group.push_back(u8(b, i));
    r.relayNo = nibbles(b, 16, 6);
    return r;
}

std::optional<SpringNumF> decodeSpringNum(const QByteArray& b) {
    if (!is(b, 0x87, 0x05)) return std::nullopt;
    return SpringNumF{u8(b, 2), nibbles(b, 3, 2)};
}

std::optional<FeeRateF> decodeFeeRate(const QByteArray& b) {
    FeeRateF r;
    int at = 0;
    if (is(b, 0x8F, 0x17)) {
        r.head = nibbles(b, 2, 8);
        r.type = u8(b, 10);
        r.grade = u8(b, 11);
        at = 12;
    } else if (is(b, 0x8F, 0x12)) {
        r.shortForm = true;
        r.head = nibbles(b, 2, 4);
        r.type = u8(b, 6);
        at = 7;
    } else {
        return std::nullopt;
    }
    r.head = dial(r.head);
    r.firstTime = u8(b, at);
    r.firstFen = word(b, at + 1);
    r.perTime = u8(b, at + 3);
    r.perFen = word(b, at + 4);
    r.discount = u8(b, at + 6);
    r.poundageFen = word(b, at + 7);
    r.extraFen = word(b, at + 9);
    return r;
}

std::optional<TimesF> decodeTimes(const QByteArray& b) {
    const bool full = is(b, 0xA9, 0x10);
    if (!full && !is(b, 0xA9, 0x0C)) return std::nullopt;
    TimesF r;
    r.ordinal = u8(b, 2);
    r.begin = twoDigits(u8(b, 3)) + ':' + twoDigits(u8(b, 4));
    r.end = twoDigits(u8(b, 5)) + ':' + twoDigits(u8(b, 6));
    r.dayTimes = u8(b, 7) >> 6;
    r.lowBits = u8(b, 7) & 0x3F;
    for (int i = 8; i < b.size(); ++i) r.percents.push_back(u8(b, i));
    return r;
}

QByteArray extDepositRow(int address, qint64 fen) {
    QByteArray row = QByteArray::fromHex("A5070000000000");
    row[2] = char(address);
    row[4] = char((fen >> 16) & 0x0F);
    row[5] = char((fen >> 8) & 0xFF);
    row[6] = char(fen & 0xFF);
    return row;
}

std::optional<ExtDepositF> decodeExtDeposit(const QByteArray& b) {
    if (!is(b, 0xA5, 0x07)) return std::nullopt;
    return ExtDepositF{u8(b, 2), u8(b, 3), (qint64(u8(b, 4)) << 16) | (u8(b, 5) << 8) | u8(b, 6)};
}

std::optional<AccountF> decodeAccount(const QByteArray& b) {
    if (!is(b, 0x8C, 0x08)) return std::nullopt;
    AccountF r;
    r.address = int(word(b, 2));
    r.code = toHex(b.mid(4, 2));
    r.grade1 = u8(b, 6) & 0x7F;
    r.keepPassword = (u8(b, 6) & 0x80) != 0;
    r.grade2 = u8(b, 7);
    return r;
}

std::optional<ExtParaF> decodeExtPara(const QByteArray& b) {
    if (!is(b, 0x8B, 0x16)) return std::nullopt;
    ExtParaF r;
    r.address = u8(b, 2);
    const int o = u8(b, 3);
    r.raisemode = o & 1; r.dispCall = (o >> 1) & 1; r.clsPwd = (o >> 2) & 1; r.noCall = (o >> 3) & 1;
    r.exttype = (o >> 4) & 3; r.queueSwitch = (o >> 6) & 1; r.queueflag = o >> 7;
    r.grade1 = u8(b, 4) & 15;
    r.pwdGrade = u8(b, 4) >> 4;
    r.grade2 = u8(b, 5) & 15;
    r.turnreturn = (u8(b, 5) >> 4) & 1; r.callWait = (u8(b, 5) >> 5) & 1; r.phonetype = u8(b, 5) >> 6;
    r.groupNo = u8(b, 6);
    r.filler = b.mid(7, 3);
    r.limit = u8(b, 10);
    r.leavejump = u8(b, 11) & 0x7F;
    r.nodisturb = u8(b, 11) >> 7;
    r.busyjump = u8(b, 12); r.hotjump = u8(b, 13); r.calljump = u8(b, 14);
    r.vRouter = nibbles(b, 15, 1);
    r.vNum = nibbles(b, 16, 4);
    if (u8(b, 20) != 0xFF || u8(b, 21) != 0xFF) r.awake = twoDigits(u8(b, 20)) + ':' + twoDigits(u8(b, 21));
    return r;
}

std::optional<LimitsF> decodeLimits(const QByteArray& b) {
    if (!is(b, 0x8D, 0x12)) return std::nullopt;
    LimitsF r;
    for (int k = 0; k < 8; ++k) r.limits.push_back(int(word(b, 2 + 2 * k)));
    return r;
}

std::optional<SelCmdF> decodeSelCmd(const QByteArray& b) {
    if (!is(b, 0xA8, 0x0E)) return std::nullopt;
    SelCmdF r;
    r.item0 = dial(nibbles(b, 2, 4));
    r.item1 = dial(nibbles(b, 6, 1));
    r.item2 = dial(nibbles(b, 7, 6));
    r.switch3 = u8(b, 13) >> 7;
    r.switch4 = (u8(b, 13) >> 5) & 1;
    r.otherBits = u8(b, 13) & 0x5F;
    return r;
}

}  // namespace sim
