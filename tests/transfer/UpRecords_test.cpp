// Answer frames of the switch turned into shadow rows, checked on the values.
#include "core/ModDefine.h"
#include "core/ModUpgrade.h"
#include "platform/Currency.h"
#include "support/Fixtures.h"
#include "transfer/UpRecords.h"

#include <gtest/gtest.h>

using transfer::MakeUpRecordSQL;

namespace {

QByteArray bytes(const char* hex) { return QByteArray::fromHex(QByteArray(hex).replace(' ', "")); }

// The values of a decoded row as text, money as "0.00".
QStringList values(const QByteArray& frame, const QString& table) {
    std::optional<transfer::UpRecord> r = MakeUpRecordSQL(frame, table);
    if (!r) return {QStringLiteral("<none>")};
    QStringList out;
    for (const platform::Param& p : r->values) out << p.v.toString();
    return out;
}

// The values at `at`, joined by '|'.
QString pick(const QStringList& values, std::initializer_list<int> at) {
    QStringList out;
    for (int i : at) out << values.value(i);
    return out.join('|');
}

class UpRecords : public testsupport::StationDbTest {};

}  // namespace

TEST_F(UpRecords, HeadsAndDigitTables) {
    const QByteArray lan = bytes("86 0B 14 12 3F FF FF 04 00 01 02");
    EXPECT_EQ(values(lan, "LanHead"), (QStringList{"123", "20", "4", "0", "1", "2", "0"}));
    EXPECT_EQ(MakeUpRecordSQL(lan, "LanHead")->sql(), "insert into pLanHead values(?,?,?,?,?,?,?)");
    // The top bit of the length byte is the ninth bit of a city head's second route.
    const QByteArray city = bytes("86 0B 01 88 FF FF FF 84 00 01 05");
    EXPECT_EQ(values(city, "CityHead").mid(2, 4), (QStringList{"4", "0", "1", "261"}));
    EXPECT_EQ(values(city, "LanHead").mid(2, 4), (QStringList{"4", "0", "1", "5"}));
    // Letters of the nibble coding are kept.
    EXPECT_EQ(values(bytes("94 0A 00 05 1B FF FF FF FF FF"), "ExtraHead"), (QStringList{"5", "1B", "0"}));
    EXPECT_EQ(values(bytes("A7 0A 07 12 34 5F FF FF FF FF"), "Shrink"), (QStringList{"7", "12345", "0"}));
    EXPECT_EQ(values(bytes("90 08 01 07 12 FF FF FF"), "Router2"), (QStringList{"2", "7", "12", "0"}));
    EXPECT_EQ(values(bytes("90 08 02 2C 12 FF FF FF"), "Router2")[1], "300");
    EXPECT_EQ(values(bytes("90 08 00 05 9F FF FF FF"), "Router1"), (QStringList{"1", "5", "9", "0"}));
    // Frames shorter than their layout, and keys without rows, make nothing.
    EXPECT_FALSE(MakeUpRecordSQL(lan.left(10), "LanHead"));
    EXPECT_FALSE(MakeUpRecordSQL(bytes("94 0A 00 05 1B FF FF FF FF"), "ExtraHead"));
    EXPECT_FALSE(MakeUpRecordSQL(lan, "MonCard"));
}

TEST_F(UpRecords, TrunksAndExtensions) {
    QByteArray relay = bytes("89 16 E0 C0 00 00 03 12 00 01 02 03 FF 05 FF FF 88 12 FF FF FF FF");
    QStringList r = values(relay, "Relay");
    ASSERT_EQ(r.size(), 19);
    // Switch (the top bit of byte 3), the number, the group, callingSwitch.
    EXPECT_EQ(pick(r, {0, 1, 2, 5, 7, 15}), "1|1|8812|3,5|12|1");
    relay[11] = char(0xFF);
    relay[13] = char(0xFF);
    EXPECT_EQ(values(relay, "Relay")[5], "");

    dbSwitch.execute("update Extension set Head=29, SpringNum='0042', userid=3, monitored=1 where Address=5");
    QByteArray ext = bytes("8B 16 05 00 88 0F 00 FF FF FF 00 85 7F 7F 7F FF FF FF FF FF FF FF");
    QStringList e = values(ext, "Extension");
    ASSERT_EQ(e.size(), 31);
    // secgrade 15 is read as 14; nodisturb, leavejump, no wake-up time.
    EXPECT_EQ(pick(e, {1, 2, 12, 13, 19, 23, 26, 27}), "29|0042|14|1|5||1|3");
    ext[20] = char(0x06);
    ext[21] = char(0x30);
    EXPECT_EQ(values(ext, "Extension")[23], "06:30");
    ext[2] = char(200);   // no station extension at 200
    EXPECT_EQ(values(ext, "Extension"), QStringList{"<none>"});
}

TEST_F(UpRecords, AccountsFeesAndTimes) {
    dbSwitch.execute("update Account set userid=7, locked=1, depositgrade=2 where address=2048");
    QStringList a = values(bytes("8C 08 08 00 FF FF 85 0F"), "Account");
    EXPECT_EQ(a, (QStringList{"2048", "FFFF", "5", "14", "2", "1", "0", "7", "0"}));
    EXPECT_EQ(values(bytes("8C 08 08 00 12 34 05 10"), "Account")[3], "1");
    EXPECT_EQ(values(bytes("8C 08 0A 00 12 34 05 10"), "Account"), QStringList{"<none>"});

    QStringList fee = values(bytes("8F 17 12 FF FF FF FF FF FF FF 01 0F 3C 01 2C 06 00 32 00 00 64 00 0A"), "PabxFeeRate");
    ASSERT_EQ(fee.size(), 11);
    EXPECT_EQ(fee[2], "14");
    EXPECT_EQ(platform::Currency::fromRaw(fee[4].toLongLong()).toString2(), "3.00");
    EXPECT_EQ(platform::Currency::fromRaw(fee[7].toLongLong()).toString2(), "1.00");
    EXPECT_EQ(fee[9], "0");

    EXPECT_EQ(values(bytes("A9 10 01 08 00 12 00 FF 64 64 64 64 50 50 50 50"), "PabxTimes"),
              (QStringList{"1", "2", "08:00", "12:00", "100", "100", "100", "100", "80", "80", "80", "80", "0"}));
    EXPECT_EQ(values(bytes("A9 10 01 08 00 12 00 40 64 64 64 64 50 50 50 50"), "PabxTimes")[1], "1");
    SwitchModel = 2;
    EXPECT_EQ(values(bytes("A9 0C 03 08 00 12 00 80 64 64 64 64"), "PabxTimes").mid(8),
              (QStringList{"100", "100", "100", "100", "0"}));
    EXPECT_EQ(values(bytes("8F 12 12 FF FF FF 01 3C 01 2C 06 00 32 00 00 64 00 0A"), "PabxFeeRate")[2], "8");
    SwitchModel = 0;
}

TEST_F(UpRecords, DepositsAgainstTheStationsRow) {
    ASSERT_NE(ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDeposit"), false), 0);
    auto money = [](const QString& raw) { return platform::Currency::fromRaw(raw.toLongLong()).toString2(); };
    // Kind 0: the real value as the switch holds it, with both flags.
    QStringList d = values(bytes("A5 07 03 00 C0 04 D2"), "ExtDeposit");
    ASSERT_EQ(d.size(), 7);
    EXPECT_EQ(QStringList({d[1], money(d[2]), money(d[3]), d[4], d[5]}).join('|'), "E0003|0.00|12.34|1|1");
    // A pending change needs the station's deposit row.
    EXPECT_EQ(values(bytes("A5 07 03 01 00 04 D2"), "ExtDeposit"), QStringList{"<none>"});
    dbSwitch.execute("insert into ExtDeposit(Address,ChangeValue,RealValue,bSet) values(3,0,?,0)",
                     {platform::Currency::fromYuan(50)});
    d = values(bytes("A5 07 03 01 00 04 D2"), "ExtDeposit");
    EXPECT_EQ(money(d[2]) + " " + money(d[3]), "12.34 62.34");
    d = values(bytes("A5 07 03 02 00 04 D2"), "ExtDeposit");
    EXPECT_EQ(money(d[2]) + " " + money(d[3]), "-12.34 37.66");
    d = values(bytes("A5 07 03 03 00 04 D2"), "ExtDeposit");
    EXPECT_EQ(money(d[2]) + " " + money(d[3]), "0.00 50.00");
    // Every value is bound: the row goes in as decoded.
    dbSwitch.execute("create table pExtDeposit as select * from ExtDeposit where 0");
    MakeUpRecordSQL(bytes("A5 07 03 02 00 04 D2"), "ExtDeposit")->insert();
    EXPECT_EQ(money(dbSwitch.scalar("select RealValue from pExtDeposit").toString()), "37.66");
}
