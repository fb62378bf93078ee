#include "console/frmPABX.h"
#include "core/ModUpgrade.h"
#include "platform/AppExit.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>

using namespace ModUpgrade;
using platform::Database;

class UpgradeTest : public testsupport::StationDbTest {};

TEST_F(UpgradeTest, CreateTableDefinesTheFourTablesExactlyKeepsReplacesAndRefuses) {
    ASSERT_EQ(CreateTable(dbSwitch, "ExtDeposit", false), 2);
    const auto cols = dbSwitch.columns("ExtDeposit");
    QStringList names;
    for (const auto& c : cols) names << c.name;
    EXPECT_EQ(names, QStringList({"Address", "ExtNum", "ChangeValue", "RealValue", "bOverDraft", "bMonitor", "bSet"}));
    EXPECT_TRUE(cols[0].notNull);
    EXPECT_EQ(cols[1].size, 16);
    EXPECT_EQ(cols[2].type, platform::ftCurrency);
    EXPECT_EQ(cols[4].type, platform::ftByte);
    dbSwitch.execute("insert into extdeposit(address) values(7)");
    platform::Recordset rs = dbSwitch.query("select * from ExtDeposit");
    EXPECT_EQ(rs.cur("ChangeValue"), platform::Currency());
    EXPECT_FALSE(rs.isNull("RealValue"));
    EXPECT_EQ(rs.lng("bOverDraft") + rs.lng("bMonitor") + rs.lng("bSet"), 0);
    EXPECT_TRUE(rs.isNull("ExtNum"));
    EXPECT_FALSE(dbSwitch.tryExecute("insert into extdeposit(address) values(7)"));
    // Made again it is kept with its rows, or replaced empty.
    dbSwitch.execute("alter table extdeposit add column extra TEXT");
    EXPECT_EQ(CreateTable(dbSwitch, "ExtDeposit", false), 1);
    EXPECT_EQ(dbSwitch.rowCount("ExtDeposit"), 1);
    EXPECT_EQ(dbSwitch.columns("ExtDeposit").size(), 8);
    EXPECT_EQ(CreateTable(dbSwitch, "ExtDeposit", true), 2);
    EXPECT_EQ(dbSwitch.rowCount("ExtDeposit"), 0);
    EXPECT_EQ(dbSwitch.columns("ExtDeposit").size(), 7);

    ASSERT_EQ(CreateTable(dbSwitch, "ExtDepositHistory", false), 2);
    dbSwitch.execute("insert into ExtDepositHistory values('2026-01-01 10:00:00', 3, 10000, '0000', 1)");
    EXPECT_FALSE(dbSwitch.tryExecute("insert into ExtDepositHistory values('2026-01-01 10:00:00', 3, 0, '0000', 2)"));
    EXPECT_TRUE(dbSwitch.tryExecute("insert into ExtDepositHistory values('2026-01-01 10:00:00', 4, 0, '0000', 2)"));

    ASSERT_EQ(CreateTable(dbSwitch, "Terminal", false), 2);
    EXPECT_EQ(dbSwitch.columns("Terminal").size(), 9);
    dbSwitch.execute("insert into terminal(pointid, pointname) values(1, '')");   // empty text allowed
    EXPECT_EQ(dbSwitch.scalar("select FeeDetail from terminal").toString(), "话费信息");
    EXPECT_FALSE(dbSwitch.tryExecute("insert into terminal(pointid, FeeDetail) values(2, '')"));

    ASSERT_EQ(CreateTable(dbSwitch, "JianKong", false), 2);
    const auto jk = dbSwitch.columns("JianKong");
    ASSERT_EQ(jk.size(), 15);
    EXPECT_EQ(jk[12].name, "AddtionFee");
    EXPECT_EQ(jk[9].type, platform::ftBoolean);
    EXPECT_EQ(dbSwitch.indexes("JianKong").first().columns, QStringList({"Number"}));

    dbSwitch.execute("drop table JianKong");
    dbSwitch.execute("create table jiankong (x INTEGER)");
    EXPECT_EQ(CreateTable(dbSwitch, "JianKong", false), 0);   // other letter case
    EXPECT_EQ(CreateTable(dbSwitch, "JianKong", true), 0);
    EXPECT_TRUE(dbSwitch.hasTable("jiankong", true));          // kept as it was
    EXPECT_EQ(CreateTable(dbSwitch, "Worker", true), 0);        // not one of the four
    EXPECT_TRUE(dbSwitch.hasTable("Worker"));
    EXPECT_EQ(CreateTable(Database(), "Terminal", false), 0);
}

TEST_F(UpgradeTest, FeeRateDefaultZoneRenamedAndKeyKeptOrRebuiltWithIt) {
    dbSwitch.execute("insert into feerate(zonecode,feerateid,feeratetype,summary) values('本机',1,7,'x')");
    dbSwitch.execute("insert into feerate(zonecode,feerateid,feeratetype,summary) values('010',1,2,'北京')");
    UpgradeFeeRateKey();
    EXPECT_EQ(dbSwitch.scalar("select summary from feerate where zonecode='本局'").toString(), "本局默认");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from feerate where zonecode='本机'").toInt(), 0);
    UpgradeFeeRateKey();
    EXPECT_EQ(dbSwitch.rowCount("feerate"), 2);

    // A renaming that would double a key changes nothing.
    dbSwitch.execute("insert into feerate(zonecode,feerateid,feeratetype,summary) values('本机',1,7,'y')");
    UpgradeFeeRateKey();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from feerate where zonecode='本机'").toInt(), 1);
    EXPECT_EQ(dbSwitch.rowCount("feerate"), 3);

    // A table without its key is rebuilt with it.
    dbSwitch.execute("drop table feerate");
    dbSwitch.execute("create table feerate (zonecode TEXT(16) NOT NULL, feerateid LONG NOT NULL DEFAULT 0, "
                     "feeratetype BYTE NOT NULL DEFAULT 0, summary TEXT(50))");
    dbSwitch.execute("create index i_summary on feerate (summary)");
    dbSwitch.execute("insert into feerate values('本机',1,7,'old')");
    dbSwitch.execute("insert into feerate values('020',2,2,'广州')");
    UpgradeFeeRateKey();
    const auto ix = dbSwitch.indexes("feerate");
    bool keyed = false, summary = false;
    for (const auto& i : ix) {
        if (i.primary) keyed = i.columns == QStringList({"zonecode", "feerateid", "feeratetype"});
        if (i.name == "i_summary") summary = true;
    }
    EXPECT_TRUE(keyed);
    EXPECT_TRUE(summary);
    EXPECT_EQ(dbSwitch.rowCount("feerate"), 2);
    EXPECT_EQ(dbSwitch.scalar("select summary from feerate where zonecode='本局'").toString(), "本局默认");
    EXPECT_FALSE(dbSwitch.tryExecute("insert into feerate values('020',2,2,'again')"));

    // Duplicate keys in an unkeyed table: the rebuild is refused whole.
    dbSwitch.execute("drop table feerate");
    dbSwitch.execute("create table feerate (zonecode TEXT(16), feerateid LONG, feeratetype BYTE, summary TEXT(50))");
    dbSwitch.execute("insert into feerate values('1',1,1,'a')");
    dbSwitch.execute("insert into feerate values('1',1,1,'b')");
    UpgradeFeeRateKey();
    EXPECT_EQ(dbSwitch.rowCount("feerate"), 2);
    EXPECT_EQ(platform::openTransactionCount(), 0);
}

TEST_F(UpgradeTest, SecondModelTablesAndRightsOnceOnlyAndAnInterruptedSeedingCompleted) {
    // An older start left the deposit table seeded in part.
    ASSERT_EQ(CreateTable(dbSwitch, "ExtDeposit", false), 2);
    for (int a = 0; a < 40; ++a) dbSwitch.execute("insert into extdeposit(address,RealValue) values(?,?)", {a, platform::Currency::fromYuan(a)});
    const QString bak = dir->file("switch.mdb.bak");
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), bak));
    dbSwitch.execute("insert or replace into rightlist values(29,'旧名')");
    UpgradeV154();
    EXPECT_EQ(dbSwitch.rowCount("ExtDeposit"), 120);
    EXPECT_EQ(dbSwitch.scalar("select min(address)||'-'||max(address)||'-'||sum(ChangeValue)||'-'||sum(bSet) from extdeposit").toString(),
              "0-119-0-0");
    EXPECT_EQ(dbSwitch.scalar("select RealValue from extdeposit where address=39").toLongLong(),
              platform::Currency::fromYuan(39).raw());
    EXPECT_EQ(dbSwitch.rowCount("ExtDepositHistory"), 0);
    EXPECT_TRUE(dbSwitch.hasTable("Terminal", true));   // the root database is this one
    EXPECT_FALSE(QFile::exists(bak));
    EXPECT_EQ(dbSwitch.scalar("select rightname from rightlist where rightid=29").toString(), "IP公话参数");
    EXPECT_EQ(dbSwitch.scalar("select rightname from rightlist where rightid=32").toString(), "站点管理");

    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), bak));
    UpgradeV154();
    EXPECT_TRUE(QFile::exists(bak));
    EXPECT_EQ(dbSwitch.rowCount("ExtDeposit"), 120);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from rightlist where rightid in (30,31,32)").toInt(), 3);
    EXPECT_TRUE(platform::script::shown().isEmpty());
}

TEST_F(UpgradeTest, SiteDirectoryUsesTheRootDatabaseFile) {
    // The current site lives in a directory of its own under the root data directory.
    const QString site = dir->dataPath() + "Site1/";
    ASSERT_TRUE(QDir().mkpath(site));
    dbSwitch.close();
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), site + "switch.mdb"));
    ASSERT_TRUE(QFile::copy(dir->file("PhoneCur.mdb"), site + "PhoneCur.mdb"));
    DataPath = site;
    dbSwitch = Database::open(site + "switch.mdb");
    {
        Database root = Database::open(dir->file("switch.mdb"));
        ASSERT_EQ(CreateTable(root, "Terminal", false), 2);
    }
    ASSERT_TRUE(QFile::copy(dir->file("switch.mdb"), dir->file("switch.mdb.bak")));
    UpgradeV154();
    EXPECT_TRUE(QFile::exists(dir->file("switch.mdb.bak")));   // Terminal existed: root copy kept
    EXPECT_FALSE(dbSwitch.hasTable("Terminal"));

    QFile::remove(dir->file("switch.mdb"));
    platform::script::answer("升级V1.5.4失败!", platform::rOK);
    EXPECT_THROW(UpgradeV154(), platform::ProgramEnded);
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(platform::script::shown()[0].text.endsWith("升级V1.5.4失败!"));
    EXPECT_EQ(platform::script::shown()[0].title, "警告");
}
