#pragma once
// The switch's reading of the parameter rows the station downloads: each row
// frame's fields as values, decoded from the frames' byte layouts alone (not
// from the station's builders), so a test compares what the switch would
// store with what the station meant to send.
//
// Every decoder takes the frame body (code byte to last data byte, no sum,
// as Switch::table() keeps rows) and returns nothing when the code or the
// length is not that frame's.
#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace sim {

// "860B": a local head, or a city head whose length byte carries the ninth
// bit of the second route in its top bit.
struct HeadRowF {
    int headType = 0;
    QString head;            // nibbles, filler dropped
    int headLen = 0;
    int delay = 0;
    int route1 = 0;
    int route2 = 0;
};
std::optional<HeadRowF> decodeHeadRow(const QByteArray& body, bool cityHead);

struct ExtraHeadF { int address = 0; QString head; };                 // "940A"
std::optional<ExtraHeadF> decodeExtraHead(const QByteArray& body);
struct ShrinkF { int address = 0; QString head; };                    // "A70A"
std::optional<ShrinkF> decodeShrink(const QByteArray& body);
struct AddHeadF { int router = 0; int portAddr = 0; QString head; };  // "9008"
std::optional<AddHeadF> decodeAddHead(const QByteArray& body);

struct BoardLayoutF { std::vector<int> kinds; };                      // "9E13": 22 slots
std::optional<BoardLayoutF> decodeBoardLayout(const QByteArray& body);

struct RelayF {                                                       // "8916"
    int trunk = 0;           // port address - 223
    int callingSwitch = 0, sw = 0;
    int countmode = 0, dialmodeday = 0, sendcode = 0, relaytype = 0;
    int directproc = 0, dialmodenight = 0, continueSelect = 0, turnproc = 0;
    int routerNo = 0;
    QString indirect;
    int groupNo = 0, dayStart = 0, nightStart = 0;
    std::vector<int> group;  // FF bytes dropped
    QString relayNo;
};
std::optional<RelayF> decodeRelay(const QByteArray& body);

struct SpringNumF { int head = 0; QString number; };                  // "8705"
std::optional<SpringNumF> decodeSpringNum(const QByteArray& body);

struct FeeRateF {                                                     // "8F17" / "8F12"
    bool shortForm = false;  // "8F12": shorter head, no grade
    QString head;
    int type = 0;
    int grade = -1;          // -1 in the short form
    int firstTime = 0;
    qint64 firstFen = 0;
    int perTime = 0;
    qint64 perFen = 0;
    int discount = 0;
    qint64 poundageFen = 0;
    qint64 extraFen = 0;
};
std::optional<FeeRateF> decodeFeeRate(const QByteArray& body);

struct TimesF {                                                       // "A910" / "A90C"
    int ordinal = 0;
    QString begin, end;      // "HH:mm"
    int dayTimes = 0;        // top two bits of byte 7
    int lowBits = 0;         // the other six bits (0 from the station)
    std::vector<int> percents;   // 8, or 4 in the short form
};
std::optional<TimesF> decodeTimes(const QByteArray& body);

struct ExtDepositF { int address = 0; int kind = 0; qint64 fen = 0; };  // "A507" as sent
std::optional<ExtDepositF> decodeExtDeposit(const QByteArray& body);
// The row the switch holds for an extension whose deposit is `fen`.
QByteArray extDepositRow(int address, qint64 fen);

struct AccountF {                                                     // "8C08"
    int address = 0;
    QString code;            // "0123", or "FFFF" for a free account
    int grade1 = 0, grade2 = 0;
    bool keepPassword = true;   // bit 7 of byte 6 set: the password is not cleared
};
std::optional<AccountF> decodeAccount(const QByteArray& body);

struct ExtParaF {                                                     // "8B16"
    int address = 0;
    int raisemode = 0, dispCall = 0, clsPwd = 0, noCall = 0, exttype = 0, queueSwitch = 0, queueflag = 0;
    int grade1 = 0, pwdGrade = 0, grade2 = 0;
    int turnreturn = 0, callWait = 0, phonetype = 0;
    int groupNo = 0;
    QByteArray filler;       // bytes 7-9
    int limit = 0, leavejump = 0, nodisturb = 0, busyjump = 0, hotjump = 0, calljump = 0;
    QString vRouter, vNum;
    QString awake;           // "HH:mm", "" for FF FF
};
std::optional<ExtParaF> decodeExtPara(const QByteArray& body);

struct LimitsF { std::vector<int> limits; };                          // "8D12"
std::optional<LimitsF> decodeLimits(const QByteArray& body);

struct SelCmdF {                                                      // "A80E"
    QString item0, item1, item2;   // dial strings, "*" and "#" for B and C
    int switch3 = 0, switch4 = 0;
    int otherBits = 0;
};
std::optional<SelCmdF> decodeSelCmd(const QByteArray& body);

}  // namespace sim
