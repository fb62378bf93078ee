// Row frames against the byte vectors the switch expects, and rows that
// cannot be encoded.
#include "transfer/RowFrames.h"

#include "link/ModComm.h"
#include "platform/Currency.h"
#include "sim/RowFrames.h"
#include "sim/Frames.h"

#include <gtest/gtest.h>

using namespace transfer;
using platform::Currency;

namespace {

QVariant money(const char* yuan) { return Currency::parse(QString::fromLatin1(yuan))->toVariant(); }

RowValues head(const QString& id, int type, int len, int delay, int r1, int r2) {
    return {{"HeadID", id}, {"HeadType", type}, {"HeadLen", len}, {"Headdelay", delay}, {"Router1", r1}, {"Router2", r2}};
}

RowValues extension() {
    return {{"Address", 5},     {"raisemode", 1},  {"DispCall", 1},   {"ClsPWD", 0},     {"NoCall", 0},
            {"exttype", 2},     {"queueSwitch", 0}, {"queueflag", 1}, {"firstgrade", 3}, {"pwdgrade", 5},
            {"secgrade", 4},    {"depositgrade", 0}, {"monitored", 1}, {"turnreturn", 0}, {"CallWait", 0},
            {"phonetype", 0},   {"groupno", 0},    {"Limit", 0},      {"leavejump", 0},  {"nodisturb", 0},
            {"busyjump", 0},    {"HotJump", 0},    {"CallJump", 0},   {"vRouter", "1"},  {"VNum", "8001"},
            {"awaketime", "07:30"}, {"userid", 7}};
}

RowValues account(int first, int sec) {
    return {{"address", 2050},      {"account", "0123"}, {"firstgrade", first}, {"secgrade", sec},
            {"depositgrade", 0},    {"locked", 0},       {"clearpassword", 0},  {"userid", 7}};
}

const Owner monthly{true, false, 1};
const Owner prepaid{true, false, 0};
const Owner lockedOwner{true, true, 1};

QString bytes(const QString& frame, int from, int n) { return frame.mid(2 * from, 2 * n); }

}  // namespace

TEST(RowFrames, HeadsAndRoutes) {
    const QString lan = HeadRow(head("123", 20, 4, 0, 1, 2), false);
    EXPECT_EQ(lan, "860B14123FFFFF04000102");
    EXPECT_EQ(ModComm::CheckSum(lan), "FB");
    // A city head carries the ninth bit of its second route; a local head cannot.
    const QString city = HeadRow(head("88", 1, 4, 0, 1, 261), true);
    EXPECT_EQ(bytes(city, 7, 1), "84");
    EXPECT_EQ(bytes(city, 10, 1), "05");
    EXPECT_EQ(sim::decodeHeadRow(sim::fromHex(city), true)->route2, 261);
    EXPECT_THROW(HeadRow(head("88", 1, 4, 0, 1, 261), false), EncodeError);
    // A head longer than its field is cut to eight digits.
    EXPECT_EQ(bytes(HeadRow(head("123456789", 1, 9, 0, 0, 0), false), 3, 4), "12345678");
    EXPECT_EQ(AddHeadRow({{"Router", 2}, {"PortAddr", 300}, {"AddHead", "17909"}}), "9008022C17909FFF");
    EXPECT_EQ(bytes(AddHeadRow({{"Router", 1}, {"PortAddr", 7}, {"AddHead", ""}}), 2, 2), "0007");
    EXPECT_EQ(ExtraHeadRow({{"Address", 3}, {"ExtraHead", "0086"}}), "940A00030086FFFFFFFF");
    EXPECT_EQ(ShrinkRow({{"Address", 9}, {"ShrinkHead", "1234B"}}), "A70A091234BFFFFFFFFF");
}

TEST(RowFrames, TrunkAndBoard) {
    RowValues t = {{"Address", 1},     {"Switch", 1},        {"Relayno", "6601"}, {"daystart", 2},   {"nightstart", 3},
                   {"groupphone", "3,5"}, {"Routerno", 4},   {"indirectno", "9"}, {"groupno", 1},    {"dialmodeday", 1},
                   {"dialmodenight", 2}, {"directproc", 1},  {"turnproc", 3},     {"sendcode", 2},   {"countmode", 3},
                   {"callingSwitch", 1}, {"Relaytype", 1},   {"continueSelect", 2}};
    const QString f = RelayRow(t);
    EXPECT_EQ(bytes(f, 2, 1), "E0");
    EXPECT_EQ(bytes(f, 11, 5), "0305FFFFFF");
    const auto d = sim::decodeRelay(sim::fromHex(f));
    ASSERT_TRUE(d);
    EXPECT_EQ((std::vector<int>{d->sw, d->callingSwitch, d->countmode, d->sendcode, d->turnproc, d->continueSelect}),
              (std::vector<int>{1, 1, 3, 2, 3, 2}));
    EXPECT_EQ(d->indirect + "/" + d->relayNo, "9/6601");
    t.set("groupphone", "");
    EXPECT_EQ(bytes(RelayRow(t), 11, 5), "FFFFFFFFFF");
    t.set("groupphone", "3,300");
    EXPECT_THROW(RelayRow(t), EncodeError);
    t.set("groupphone", "");
    t.set("sendcode", 4);   // two bits only: never spills into the next field
    EXPECT_THROW(RelayRow(t), EncodeError);

    QVector<int> kinds(22, 0);
    kinds[6] = 1;
    kinds[21] = 15;
    const auto b = sim::decodeBoardLayout(sim::fromHex(BoardLayout(kinds)));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->kinds[6], 8);   // the tone board, whatever the table says
    EXPECT_EQ(b->kinds[21], 15);
    EXPECT_EQ(sim::decodeBoardLayout(sim::fromHex(BoardLayout(QVector<int>(20, 0))))->kinds[20], 15);
}

TEST(RowFrames, MoneyRoundsHalvesToEven) {
    RowValues r = {{"FeeRateHead", "0*1"}, {"FeeRateType", 2},    {"feerategrade", 14}, {"FirstTime", 180},
                   {"FirstPrice", money("3.00")}, {"PerTime", 60}, {"PerPrice", money("0.005")},
                   {"Poundage", money("0.015")}, {"ExtraFee", money("655.35")}, {"DiscountPercent", 50}};
    const QString f = PabxFeeRateRow(r, 0);
    EXPECT_EQ(bytes(f, 0, 2), "8F17");
    EXPECT_EQ(bytes(f, 2, 8), "0B1FFFFFFFFFFFFF");
    EXPECT_EQ(bytes(f, 11, 1), "0F");   // grade 14 goes as 15
    EXPECT_EQ(bytes(f, 13, 2), "012C");
    EXPECT_EQ(bytes(f, 16, 2), "0000");
    EXPECT_EQ(bytes(f, 19, 2), "0002");
    EXPECT_EQ(bytes(f, 21, 2), "FFFF");
    const QString s = PabxFeeRateRow(r, 2);
    const auto d = sim::decodeFeeRate(sim::fromHex(s));
    ASSERT_TRUE(d && d->shortForm);
    EXPECT_EQ(d->head, "0*1");
    EXPECT_EQ((std::vector<qint64>{d->type, d->firstFen, d->poundageFen}), (std::vector<qint64>{2, 300, 2}));
    r.set("FeeRateHead", "");
    EXPECT_EQ(bytes(PabxFeeRateRow(r, 0), 2, 8), "FFFFFFFFFFFFFFFF");
    r.set("ExtraFee", money("655.36"));
    EXPECT_THROW(PabxFeeRateRow(r, 0), EncodeError);
    r.set("ExtraFee", QVariant());
    EXPECT_THROW(PabxFeeRateRow(r, 0), EncodeError);

    // Whole-number columns round halves to even too, given as a number or as text.
    r.set("ExtraFee", money("655.35"));
    for (const auto& [given, byte] : {std::pair{"50.5", "32"}, {"51.5", "34"}, {"50.6", "33"}, {"49.4", "31"}}) {
        SCOPED_TRACE(given);
        r.set("DiscountPercent", QString::fromLatin1(given).toDouble());
        EXPECT_EQ(bytes(PabxFeeRateRow(r, 0), 18, 1), byte);
        r.set("DiscountPercent", QString::fromLatin1(given));
        EXPECT_EQ(bytes(PabxFeeRateRow(r, 0), 18, 1), byte);
    }

    EXPECT_EQ(ExtDepositRow({{"Address", 9}, {"ChangeValue", money("-12.34")}}), "A5070902" "0004D2");
    EXPECT_EQ(ExtDepositRow({{"Address", 9}, {"ChangeValue", money("0")}}), "A5070901000000");
    EXPECT_EQ(ExtDepositRow({{"Address", 9}, {"ChangeValue", money("-0.004")}}), "A5070902000000");
}

TEST(RowFrames, TimeSegments) {
    RowValues r = {{"SegNo", 5},          {"DayTimes", 1},      {"TimeBegin", "08:30"}, {"TimeEnd", "17:45"},
                   {"InnerPercent1", 100}, {"NationPercent1", 90}, {"MobilPercent1", 80}, {"LanPercent1", 70},
                   {"InnerPercent2", 60}, {"NationPercent2", 50}, {"MobilPercent2", 40}, {"LanPercent2", 30}};
    const QString f = PabxTimesRow(r, 2, 0);
    EXPECT_EQ(bytes(f, 2, 6), "020830174540");
    EXPECT_EQ(f.size(), 2 * 0x10);
    EXPECT_EQ(PabxTimesRow(r, 1, 2).size(), 2 * 0x0C);
    r.set("DayTimes", 4);
    EXPECT_THROW(PabxTimesRow(r, 1, 0), EncodeError);
}

TEST(RowFrames, AccountGrades) {
    EXPECT_EQ(AccountRow(account(2, 5), kModeNormal, false, monthly), "8C080802012382" "05");
    EXPECT_EQ(bytes(AccountRow(account(2, 5), kModeNormal, true, monthly), 6, 1), "02");
    RowValues clear = account(2, 5);
    clear.set("clearpassword", 1);
    EXPECT_EQ(bytes(AccountRow(clear, kModeNormal, false, monthly), 6, 1), "02");
    EXPECT_EQ(AccountRow(account(2, 5), kModeRelease, false, monthly), "8C080802FFFF8A0A");
    EXPECT_EQ(bytes(AccountRow(account(2, 14), kModeRelease, false, monthly), 7, 1), "0F");
    RowValues locked = account(2, 5);
    locked.set("locked", 1);
    EXPECT_EQ(bytes(AccountRow(locked, kModeNormal, false, monthly), 6, 2), "8A0A");
    EXPECT_EQ(bytes(AccountRow(account(2, 5), kModeNormal, false, lockedOwner), 6, 2), "8A0A");
    RowValues deposit = account(2, 5);
    deposit.set("depositgrade", 6);
    EXPECT_EQ(bytes(AccountRow(deposit, kModeNormal, false, prepaid), 6, 2), "8606");
    EXPECT_EQ(bytes(AccountRow(deposit, kModeNormal, false, Owner{}), 6, 2), "8205");   // no user row
    RowValues bad = account(2, 5);
    bad.set("account", "12A");
    EXPECT_THROW(AccountRow(bad, kModeNormal, false, monthly), EncodeError);
}

TEST(RowFrames, ExtensionOptionsAndGrades) {
    RowValues e = extension();
    QString f = ExtParaRow(e, kModeNormal, false, monthly);
    EXPECT_EQ(bytes(f, 3, 3), "A35304");
    EXPECT_EQ(bytes(f, 7, 3), "FFFFFF");
    EXPECT_EQ(bytes(f, 15, 7), "1F8001FFFF0730");
    EXPECT_EQ(bytes(ExtParaRow(e, kModeNormal, true, monthly), 3, 1), "A7");
    e.set("monitored", 0);
    EXPECT_EQ(bytes(ExtParaRow(e, kModeNormal, false, monthly), 4, 2), "AA04");   // the second grade is not raised
    e.set("monitored", 1);
    e.set("depositgrade", 8);
    EXPECT_EQ(bytes(ExtParaRow(e, kModeNormal, false, prepaid), 4, 2), "8808");
    e.set("depositgrade", 0);
    for (int mode : {kModeLocked, kModeRelease}) EXPECT_EQ(bytes(ExtParaRow(e, mode, false, monthly), 4, 2), "AA0A");
    EXPECT_EQ(bytes(ExtParaRow(e, kModeNormal, false, lockedOwner), 4, 2), "AA0A");
    e.set("secgrade", 14);
    EXPECT_EQ(bytes(ExtParaRow(e, kModeLocked, false, monthly), 5, 1), "0F");
    e.set("awaketime", "");
    e.set("VNum", QVariant());
    EXPECT_EQ(bytes(ExtParaRow(e, kModeNormal, false, monthly), 16, 6), "FFFFFFFFFFFF");
    e.set("Limit", 256);
    EXPECT_THROW(ExtParaRow(e, kModeNormal, false, monthly), EncodeError);
}

TEST(RowFrames, SystemParameters) {
    EXPECT_EQ(LimitsFrame("60,0,0,0,0,0,0,300"), "8D12003C" "000000000000000000000000" "012C");
    const QString sel = SelCmdFrame("*9,,#1,1,0");
    EXPECT_EQ(sel, "A80EB9FFFFFFFFC1FFFFFFFFFF80");
    const auto d = sim::decodeSelCmd(sim::fromHex(sel));
    EXPECT_EQ(d->item0, "*9");
    EXPECT_EQ(d->item2, "#1");
    for (const char* bad : {"1,2,3", "0,0,0,0,0,0,0,65536", "0,0,0,0,0,0,0,x"})
        EXPECT_THROW(LimitsFrame(QString::fromLatin1(bad)), EncodeError) << bad;
    for (const char* bad : {"1,2,3,1", "1,2,3,1,2"}) EXPECT_THROW(SelCmdFrame(QString::fromLatin1(bad)), EncodeError) << bad;
}
