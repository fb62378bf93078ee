#include "core/Schema.h"
#include "core/Settings.h"
#include "params/ExtCountView.h"

#include <QStringList>

namespace params {

namespace {

// Columns the operator may show in the extension and trunk grids, with their
// grid titles in the same positions. The titles select the option lists.
// "Limit" is a keyword of the engine, so the select list names it quoted.
const char* const kExtFields =
    "Address,Head,SpringNum,firstgrade,secgrade,pwdgrade,depositgrade,DispCall,raisemode,ClsPWD,NoCall,"
    "exttype,queueSwitch,queueflag,nodisturb,CallWait,turnreturn,phonetype,groupno,[Limit],leavejump,busyjump,"
    "HotJump,CallJump,awaketime,vRouter,VNum,monitored,userid";
const char* const kExtTitles =
    "物理地址,字头,弹性号码,等级一,等级二,密码等级,押金等级,来电显示,提机方式,清密码,外入禁止,"
    "分机类型,排队开关,排队标志,免打扰,呼入提示,转接返回,话机类型,组号,通话限时,离位转移,遇忙转移,"
    "内部热线,久叫转移,叫醒时间,虚拟路由,虚拟号码,押金监控,所属用户";
const char* const kRelayFields =
    "Address,Switch,Relayno,daystart,nightstart,groupphone,Routerno,indirectno,groupno,dialmodeday,"
    "dialmodenight,directproc,turnproc,sendcode,countmode,callingSwitch,Relaytype,continueSelect";
const char* const kRelayTitles =
    "中继编号,开关,中继号码,始呼分机1,始呼分机2,群呼分机,路由,间接局,组号,转接1,"
    "转接2,直拨遇忙,转接遇忙,发码方式,计费方式,转移开关,中继类型,连选方式";

// "00,01,...": every column of a chooser list shown.
QString allShown(const char* fields) {
    const int n = QString::fromUtf8(fields).split(',').size();
    QStringList items;
    for (int i = 0; i < n; ++i) items << QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
    return items.join(',');
}

// Board kinds of the 22 slots of a fresh rack: trunk boards in slots 0, 1, 3
// and 4 (four trunks each, 1-16), caller-display boards in 2 and 5, the tone
// board in 6 and subscriber boards in 7-21 (eight extensions each, 0-119).
const int kSlotKinds[22] = {1, 1, 10, 1, 1, 10, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Monitor states: icon cell of a channel and of a port in that state, and texts.
struct MonState { int channelPicture; const char* channelText; int userPicture; const char* userText; };
const MonState kMonStates[] = {
    {0, "空闲", 12, "空闲"},     {1, "摘机", 13, "摘机"},     {2, "拨号", 14, "拨号"},
    {3, "振铃", 15, "振铃"},     {4, "回铃", 16, "回铃"},     {5, "通话", 17, "通话"},
    {6, "忙音", 18, "忙音"},     {7, "挂机", 19, "挂机"},     {8, "中继占用", 20, "占用"},
    {9, "呼入", 21, "呼入"},     {10, "呼出", 22, "呼出"},    {11, "保持", 23, "保持"},
    {24, "转接", 25, "转接"},    {26, "会议", 27, "会议"},    {28, "代接", 29, "代接"},
    {30, "排队", 31, "排队"},    {32, "闭锁", 33, "闭锁"},    {34, "故障", 35, "故障"},
    {36, "叫醒", 37, "叫醒"},    {38, "密码", 39, "密码"},    {40, "测试", 41, "测试"},
    {42, "话务台", 43, "话务台"}, {47, "未知", 48, "未知"},   {49, "未知", 50, "未知"},
};

}  // namespace

// Tables of the switch configuration in a fresh station, with the rows a new
// rack starts with.
void AddSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)cur;
    (void)model;

    // The three head tables share their layout.
    for (const char* t : {"LanHead", "CityHead", "SpecialHead"}) {
        sw.execute(QStringLiteral("CREATE TABLE %1 (HeadID TEXT(16) NOT NULL PRIMARY KEY, "
                                  "HeadType INTEGER NOT NULL DEFAULT 0, HeadLen INTEGER NOT NULL DEFAULT 0, "
                                  "Headdelay INTEGER NOT NULL DEFAULT 0, Router1 INTEGER NOT NULL DEFAULT 0, "
                                  "Router2 INTEGER NOT NULL DEFAULT 0, bSet BOOLEAN NOT NULL DEFAULT 0)")
                       .arg(QLatin1String(t)));
    }
    sw.execute("CREATE TABLE AddHead (Router INTEGER NOT NULL DEFAULT 1, PortAddr INTEGER NOT NULL DEFAULT 0, "
               "AddHead TEXT(8), bSet BOOLEAN NOT NULL DEFAULT 0, PRIMARY KEY (Router, PortAddr))");
    sw.execute("CREATE TABLE ExtraHead (Address INTEGER NOT NULL PRIMARY KEY, ExtraHead TEXT(12), "
               "bSet BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE Shrink (Address INTEGER NOT NULL PRIMARY KEY, ShrinkHead TEXT(14), "
               "bSet BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE Relay (Address INTEGER NOT NULL PRIMARY KEY, Switch BYTE NOT NULL DEFAULT 0, "
               "Relayno TEXT(12) NOT NULL DEFAULT '', daystart INTEGER NOT NULL DEFAULT 0, "
               "nightstart INTEGER NOT NULL DEFAULT 0, groupphone TEXT(30) NOT NULL DEFAULT '', "
               "Routerno INTEGER NOT NULL DEFAULT 0, indirectno TEXT(2) NOT NULL DEFAULT '', "
               "groupno INTEGER NOT NULL DEFAULT 0, dialmodeday BYTE NOT NULL DEFAULT 0, "
               "dialmodenight BYTE NOT NULL DEFAULT 0, directproc BYTE NOT NULL DEFAULT 0, "
               "turnproc BYTE NOT NULL DEFAULT 0, sendcode BYTE NOT NULL DEFAULT 0, countmode BYTE NOT NULL DEFAULT 0, "
               "callingSwitch BYTE NOT NULL DEFAULT 0, Relaytype BYTE NOT NULL DEFAULT 0, "
               "continueSelect BYTE NOT NULL DEFAULT 0, bSet BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE Extension (Address INTEGER NOT NULL PRIMARY KEY, Head INTEGER, SpringNum TEXT(8), "
               "DispCall BYTE NOT NULL DEFAULT 0, raisemode BYTE NOT NULL DEFAULT 0, ClsPWD BYTE NOT NULL DEFAULT 0, "
               "NoCall BYTE NOT NULL DEFAULT 0, exttype BYTE NOT NULL DEFAULT 0, queueSwitch BYTE NOT NULL DEFAULT 0, "
               "queueflag BYTE NOT NULL DEFAULT 0, firstgrade BYTE NOT NULL DEFAULT 0, pwdgrade BYTE NOT NULL DEFAULT 0, "
               "secgrade BYTE NOT NULL DEFAULT 0, nodisturb BYTE NOT NULL DEFAULT 0, CallWait BYTE NOT NULL DEFAULT 0, "
               "turnreturn BYTE NOT NULL DEFAULT 0, phonetype BYTE NOT NULL DEFAULT 0, groupno INTEGER NOT NULL DEFAULT 0, "
               "\"Limit\" BYTE NOT NULL DEFAULT 0, leavejump BYTE NOT NULL DEFAULT 0, busyjump BYTE NOT NULL DEFAULT 0, "
               "HotJump BYTE NOT NULL DEFAULT 0, CallJump BYTE NOT NULL DEFAULT 0, awaketime TEXT(5) NOT NULL DEFAULT '', "
               "vRouter TEXT(2) NOT NULL DEFAULT '', VNum TEXT(8) NOT NULL DEFAULT '', "
               "monitored BOOLEAN NOT NULL DEFAULT 0, userid LONG NOT NULL DEFAULT 0, "
               "depositgrade BYTE NOT NULL DEFAULT 0, bset BOOLEAN NOT NULL DEFAULT 0, "
               "bSetSpringNum BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE Account (address INTEGER NOT NULL PRIMARY KEY, account TEXT(4) NOT NULL DEFAULT 'FFFF', "
               "firstgrade BYTE NOT NULL DEFAULT 0, secgrade BYTE NOT NULL DEFAULT 0, depositgrade BYTE NOT NULL DEFAULT 0, "
               "locked BOOLEAN NOT NULL DEFAULT 0, clearpassword BOOLEAN NOT NULL DEFAULT 0, "
               "userid LONG NOT NULL DEFAULT 0, bset BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE MonCard (cardlayer INTEGER NOT NULL DEFAULT 0, cardorder INTEGER NOT NULL DEFAULT 0, "
               "cardtype BYTE NOT NULL DEFAULT 0, dispcard BYTE NOT NULL DEFAULT 0, defaultcard BYTE NOT NULL DEFAULT 0, "
               "portstatus INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (cardlayer, cardorder))");
    sw.execute("CREATE TABLE PabxFeeRate (FeeRateHead TEXT(16) NOT NULL PRIMARY KEY, "
               "FeeRateType BYTE NOT NULL DEFAULT 0, feerategrade BYTE NOT NULL DEFAULT 0, "
               "FirstTime INTEGER NOT NULL DEFAULT 0, FirstPrice CURRENCY NOT NULL DEFAULT 0, "
               "PerTime INTEGER NOT NULL DEFAULT 0, PerPrice CURRENCY NOT NULL DEFAULT 0, "
               "Poundage CURRENCY NOT NULL DEFAULT 0, ExtraFee CURRENCY NOT NULL DEFAULT 0, "
               "DiscountPercent INTEGER NOT NULL DEFAULT 0, bSet BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE PabxTimes (SegNo INTEGER NOT NULL PRIMARY KEY, DayTimes BYTE NOT NULL DEFAULT 0, "
               "TimeBegin TEXT(5) NOT NULL DEFAULT '00:00', TimeEnd TEXT(5) NOT NULL DEFAULT '00:00', "
               "InnerPercent1 INTEGER NOT NULL DEFAULT 0, NationPercent1 INTEGER NOT NULL DEFAULT 0, "
               "MobilPercent1 INTEGER NOT NULL DEFAULT 0, LanPercent1 INTEGER NOT NULL DEFAULT 0, "
               "InnerPercent2 INTEGER NOT NULL DEFAULT 0, NationPercent2 INTEGER NOT NULL DEFAULT 0, "
               "MobilPercent2 INTEGER NOT NULL DEFAULT 0, LanPercent2 INTEGER NOT NULL DEFAULT 0, "
               "bSet BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE user (userid LONG NOT NULL PRIMARY KEY, username TEXT(20), lastdate DATETIME, "
               "balancemode BYTE NOT NULL DEFAULT 0, deposit CURRENCY NOT NULL DEFAULT 0, "
               "remain CURRENCY NOT NULL DEFAULT 0, overdraft CURRENCY NOT NULL DEFAULT 0, "
               "rent CURRENCY NOT NULL DEFAULT 0, deptname TEXT(20) NOT NULL DEFAULT '', "
               "printonce BOOLEAN NOT NULL DEFAULT 0, locked BOOLEAN NOT NULL DEFAULT 0, "
               "payed BOOLEAN NOT NULL DEFAULT 0, bset BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE monres (state INTEGER, channelpicture INTEGER NOT NULL DEFAULT 0, "
               "channeltext TEXT(20) NOT NULL DEFAULT '', userpicture INTEGER NOT NULL DEFAULT 0, "
               "Usertext TEXT(20) NOT NULL DEFAULT '')");
    // The dialable number of every extension: its head's digits and its own.
    sw.execute("CREATE VIEW que_txhm AS SELECT Extension.Address AS address, "
               "LanHead.HeadID || Extension.SpringNum AS txhm FROM Extension, LanHead "
               "WHERE Extension.Head = LanHead.HeadType");
    EnsureExtCountView(sw);

    // The flexible head: four-digit numbers behind "E".
    sw.execute("INSERT INTO LanHead VALUES('E', 29, 4, 0, 0, 0, 0)");
    for (int a = 0; a < 120; ++a) {
        // No jump target set (code 127), local grades, ordinary tone telephones.
        sw.execute("INSERT INTO Extension (Address, Head, SpringNum, exttype, phonetype, firstgrade, pwdgrade, "
                   "secgrade, leavejump, busyjump, HotJump, CallJump) VALUES(?, 29, ?, 1, 1, 8, 8, 8, 127, 127, 127, 127)",
                   {a, QStringLiteral("%1").arg(a, 4, 10, QLatin1Char('0'))});
    }
    for (int t = 1; t <= 16; ++t) sw.execute("INSERT INTO Relay (Address, Switch) VALUES(?, 1)", {t});
    for (int a = 2048; a <= 2559; ++a)
        sw.execute("INSERT INTO Account (address, account, firstgrade, secgrade) VALUES(?, 'FFFF', 8, 8)", {a});
    for (int s = 0; s < 22; ++s)
        sw.execute("INSERT INTO MonCard VALUES(0, ?, ?, ?, ?, 0)", {s, kSlotKinds[s], kSlotKinds[s], kSlotKinds[s]});
    for (int seg = 1; seg <= 8; ++seg)
        sw.execute("INSERT INTO PabxTimes (SegNo, DayTimes, TimeBegin, TimeEnd, InnerPercent1, NationPercent1, "
                   "MobilPercent1, LanPercent1, InnerPercent2, NationPercent2, MobilPercent2, LanPercent2) "
                   "VALUES(?, 2, '00:00', '00:00', 100, 100, 100, 100, 100, 100, 100, 100)",
                   {seg});
    int state = 0;
    for (const MonState& m : kMonStates)
        sw.execute("INSERT INTO monres VALUES(?, ?, ?, ?, ?)",
                   {state++, m.channelPicture, QString::fromUtf8(m.channelText), m.userPicture, QString::fromUtf8(m.userText)});

    const QList<QPair<QString, QString>> settings = {
        {QStringLiteral("ExtField"), QString::fromUtf8(kExtFields)},
        {QStringLiteral("ExtTitle"), QString::fromUtf8(kExtTitles)},
        {QStringLiteral("ExtShowlist"), allShown(kExtFields)},
        {QStringLiteral("RelayField"), QString::fromUtf8(kRelayFields)},
        {QStringLiteral("RelayTitle"), QString::fromUtf8(kRelayTitles)},
        {QStringLiteral("RelayShowlist"), allShown(kRelayFields)},
    };
    ModSwitch::SetVariants(sw, settings);
}

}  // namespace params
