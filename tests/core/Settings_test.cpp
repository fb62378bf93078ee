#include "core/Settings.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "platform/Comm.h"
#include "support/Fixtures.h"

#include <tuple>

using namespace ModSwitch;

class Settings : public testsupport::StationDbTest {
protected:
    // The printer's, the fees' and the monitor's settings as loaded.
    static std::tuple<bool, int, bool, int, bool> printing() { return {PrnType, PrnHD, SHPrnHD, FeeType, g_MonitorOn}; }
};

TEST_F(Settings, TheStoreKeepsOneRowTheTextAsTypedAndSeveralKeysWholeOrNotAtAllOnAnyConnection) {
    EXPECT_EQ(GetVariant("NoSuchKey", "dflt"), "dflt");
    SetVariant("Key1", "a");
    SetVariant("Key1", "O'Neil; drop table Variant --");
    EXPECT_EQ(GetVariant("Key1", "x"), "O'Neil; drop table Variant --");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from variant where varname='Key1'").toInt(), 1);
    EXPECT_EQ(GetVariant("KEY1"), "O'Neil; drop table Variant --");   // keys compare without case
    SetVariant("Key1", "");
    EXPECT_EQ(GetVariant("Key1", "back"), "back");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from variant where varname='Key1'").toInt(), 1);
    dbSwitch.execute("insert into variant(varname,value) values('NullKey',NULL)");
    EXPECT_EQ(GetVariant("NullKey", "d"), "d");

    // The call file's notes have the settings' shape and live apart from them.
    const QString notes = "tab_notes";
    SetVariants(dbPhoneCur, {{"a", "1"}, {"b", "2"}}, notes);
    EXPECT_EQ(GetVariant(dbPhoneCur, "a", "", notes), "1");
    EXPECT_EQ(GetVariant(dbPhoneCur, "c", "none", notes), "none");
    EXPECT_EQ(GetVariant("a", "not here"), "not here");

    dbPhoneCur.execute("CREATE TRIGGER phonecur.refuse BEFORE INSERT ON tab_notes WHEN new.varname='bad' "
                       "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_THROW(SetVariants(dbPhoneCur, {{"a", "9"}, {"bad", "x"}}, notes), platform::DbError);
    EXPECT_EQ(GetVariant(dbPhoneCur, "a", "", notes), "1");
    EXPECT_EQ(dbPhoneCur.scalar("select count(*) from phonecur.tab_notes").toInt(), 2);

    RemoveVariant(dbPhoneCur, "a", notes);
    EXPECT_EQ(GetVariant(dbPhoneCur, "a", "gone", notes), "gone");
    EXPECT_EQ(GetVariant(dbPhoneCur, "b", "", notes), "2");
}

TEST_F(Settings, FreshStationLoadsItsDefaultsValuesOfTheWrongFormReadAsFalseOrZeroAndThePurgeKeepsTheNinetiethDay) {
    g_NoAnswerCount = 0;
    ModComm::PutRxBuf(QByteArray::fromHex("820300"));
    ModComm::TxWrite = 7;
    for (MonSlot& s : MonSlots) {
        s.UserID = 7;
        s.LimitSet = 1;
        s.ExtAddr = 33;
        s.Balance = platform::Currency::fromYuan(5);
    }
    LoadSysPara();
    EXPECT_EQ(g_NoAnswerCount, 10);
    EXPECT_EQ(ModComm::RxCount(), 0);
    EXPECT_EQ(ModComm::TxCount(), 0);
    for (const MonSlot& s : MonSlots) {
        EXPECT_EQ(s.UserID, -1);
        EXPECT_EQ(s.LimitSet, 0);
        EXPECT_EQ(s.ExtAddr, 33);   // freeing keeps the rest of the slot
        EXPECT_EQ(s.Balance, platform::Currency::fromYuan(5));
    }
    EXPECT_EQ(printing(), std::tuple(false, 2, false, 0, false));
    EXPECT_EQ(QStringList({AppName, AppCompany}), QStringList({"DE Duzariv", "本公司"}));
    EXPECT_EQ(ModComm::ComA().CommPort(), 1);
    EXPECT_FALSE(GetVariant("APPTITLE").isEmpty());
    EXPECT_EQ(GetVariant("CommSet"), "9600,N,8,1");
    EXPECT_EQ(GetVariant("Limit").split(',').size(), 8);
    EXPECT_EQ(GetVariant("SelCmd").split(',').size(), 5);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(GetVariant(QStringLiteral("Deposit%1").arg(i)), "0");
    EXPECT_EQ(GetVariant("SWITCHMODEL"), "0");

    ASSERT_EQ(LanHeadTypeList.size(), 33);
    EXPECT_EQ(QStringList({LanHeadTypeList[0], LanHeadTypeList[8], LanHeadTypeList[14], LanHeadTypeList[20], LanHeadTypeList[28],
                           LanHeadTypeList[32]}),
              QStringList({"话务台参数", "", "", "本局1", "本局9", "缩位码"}));

    // Values of the wrong form read as false or zero.
    SetVariant("PrnType", "");
    SetVariant("PrnHD", "abc");
    SetVariant("SHPrnHD", "maybe");
    SetVariant("FeeType", "99999");
    SetVariant("CommPort", "3");
    SetVariant("BILLMONITORED", "1");
    SetVariant("AppName", "交换机");
    PrnType = true;
    PrnHD = 5;
    SHPrnHD = true;
    LoadSysPara();
    EXPECT_EQ(printing(), std::tuple(false, 0, false, 0, true));
    EXPECT_EQ(AppName, "交换机");
    EXPECT_EQ(ModComm::ComA().CommPort(), 3);

    SetVariant("PrnType", "True");
    SetVariant("PrnHD", "1");
    SetVariant("SHPrnHD", "-1");
    dbSwitch.execute("delete from variant where varname in ('AppName','CommPort')");
    LoadSysPara();
    EXPECT_EQ(printing(), std::tuple(true, 1, true, 0, true));
    EXPECT_EQ(AppName, "DE Duzariv");
    EXPECT_EQ(ModComm::ComA().CommPort(), 1);

    // The purge of the loading keeps the ninetieth day.
    platform::testing::setNow([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)); });
    // 2026-12-07 minus 90 days is 2026-09-08.
    for (const char* d : {"2026-09-07 23:59:59", "2026-09-08 00:00:00", "2026-09-08 18:00:00", "2026-12-01 08:00:00"}) {
        dbSwitch.execute("insert into tab_oplog values(?,?,?,?)", {d, "0000", "管理员", "x"});
        dbSwitch.execute("insert into awake(Address,servetime) values(1,?)", {d});
    }
    dbSwitch.execute("insert into tab_oplog values(?,?,?,?)", {"2025-01-01 00:00:00", "0000", "管理员", "old"});
    LoadSysPara();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from tab_oplog").toInt(), 3);
    EXPECT_EQ(dbSwitch.scalar("select min(f_date) from tab_oplog").toString(), "2026-09-08 00:00:00");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from awake").toInt(), 3);
    EXPECT_EQ(dbSwitch.scalar("select min(servetime) from awake").toString(), "2026-09-08 00:00:00");
}

TEST_F(Settings, MonitorResourcesHaveOneSpareEntry) {
    const int rows = dbSwitch.scalar("select count(*) from monres").toInt();
    ASSERT_GT(rows, 0);
    LoadMonRes();
    ASSERT_EQ(MonRes.size(), rows + 1);
    platform::Recordset rs = dbSwitch.query("select * from monres");
    EXPECT_EQ(MonRes[0].channeltext, rs.str("channeltext"));
    EXPECT_EQ(MonRes[0].userpicture, rs.lng("userpicture"));
    EXPECT_EQ(MonRes[rows].channeltext, "");
    EXPECT_EQ(MonRes[rows].channelpicture, 0);

    dbSwitch.execute("delete from monres");
    LoadMonRes();
    ASSERT_EQ(MonRes.size(), 1);
    EXPECT_EQ(MonRes[0].Usertext, "");
}
