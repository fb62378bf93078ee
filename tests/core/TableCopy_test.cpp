#include "core/books/TableCopy.h"
#include "support/Fixtures.h"

#include <QTemporaryDir>

using namespace ModSwitch;
using platform::Database;

class TableCopy : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        dbSwitch.execute("create table src (id LONG NOT NULL, name TEXT(20) DEFAULT 'n', amount CURRENCY NOT NULL DEFAULT 0, "
                         "t DATETIME, PRIMARY KEY (id))");
        dbSwitch.execute("insert into src values(1, ?, ?, ?)", {"O'Brien", platform::Currency::fromRaw(12345), "2026-01-02 03:04:05"});
        dbSwitch.execute("insert into src values(2, NULL, 0, NULL)");
        dbSwitch.execute("insert into src values(3, 'c', 7, '2026-05-06 00:00:00')");
    }
    int count(const Database& db, const QString& table) { return static_cast<int>(db.rowCount(table)); }
};

TEST_F(TableCopy, CopiesEveryRowWithNullsAndQuotesIntoANewTableThenReplacesOrAppendsASelectionOrLeavesItAsItWasInAFileOrBetweenFiles) {
    ASSERT_TRUE(CopyTable(dbSwitch, "src", dbSwitch, "dst", false, ""));
    ASSERT_EQ(count(dbSwitch, "dst"), 3);
    EXPECT_EQ(dbSwitch.scalar("select name from dst where id=1").toString(), "O'Brien");
    EXPECT_TRUE(dbSwitch.scalar("select name from dst where id=2").isNull());
    EXPECT_TRUE(dbSwitch.scalar("select t from dst where id=2").isNull());
    EXPECT_EQ(dbSwitch.scalar("select amount from dst where id=1").toLongLong(), 12345);
    // The new table has the source's key.
    EXPECT_FALSE(dbSwitch.tryExecute("insert into dst(id) values(1)"));
    // Copied again it replaces the rows, or appends a selection.
    dbSwitch.execute("delete from src where id=3");
    ASSERT_TRUE(CopyTable(dbSwitch, "src", dbSwitch, "dst", false, ""));
    EXPECT_EQ(count(dbSwitch, "dst"), 2);   // emptied first
    dbSwitch.execute("insert into src values(9,'z',0,NULL)");
    ASSERT_TRUE(CopyTable(dbSwitch, "src", dbSwitch, "dst", true, "select * from src where id=9"));
    EXPECT_EQ(count(dbSwitch, "dst"), 3);

    // A failure half way leaves the target as it was.
    dbSwitch.execute("insert into dst values(50,'kept',0,NULL)");
    // The second source row breaks the target's required field.
    dbSwitch.execute("create table bad (id LONG, name TEXT(20), amount CURRENCY, t DATETIME)");
    dbSwitch.execute("insert into bad values(60,'a',1,NULL)");
    dbSwitch.execute("insert into bad values(61,'b',NULL,NULL)");
    dbSwitch.execute("insert into bad values(62,'c',1,NULL)");
    EXPECT_FALSE(CopyTable(dbSwitch, "bad", dbSwitch, "dst", false, ""));
    EXPECT_EQ(count(dbSwitch, "dst"), 4);
    EXPECT_EQ(dbSwitch.scalar("select name from dst where id=50").toString(), "kept");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from dst where id>=60").toInt(), 0);
    EXPECT_EQ(platform::openTransactionCount(), 0);

    // Between files, the values bound.
    QTemporaryDir other;
    Database ext = Database::create(other.filePath("Backup.mdb"));
    ASSERT_TRUE(CopyTable(dbSwitch, "src", ext, "src", false, ""));
    EXPECT_EQ(ext.scalar("select name from src where id=1").toString(), "O'Brien");
    EXPECT_TRUE(ext.scalar("select name from src where id=2").isNull());
    EXPECT_EQ(ext.scalar("select t from src where id=1").toString(), "2026-01-02 03:04:05");
    // Back again over rows that clash: nothing changes in the target.
    dbSwitch.execute("create table back (id LONG NOT NULL PRIMARY KEY, name TEXT(20), amount CURRENCY, t DATETIME)");
    dbSwitch.execute("insert into back values(1,'x',0,NULL)");
    ext.execute("insert into src values(4,'d',0,NULL)");
    EXPECT_FALSE(CopyTable(ext, "src", dbSwitch, "back", true, ""));
    EXPECT_EQ(count(dbSwitch, "back"), 1);
    EXPECT_TRUE(CopyTable(ext, "src", dbSwitch, "back", false, ""));
    EXPECT_EQ(count(dbSwitch, "back"), 4);
}

TEST_F(TableCopy, CopyTableDefTakesFieldsAndKeyAndTheShadowTableIsMadeEmptyAgain) {
    CopyTableDef(dbSwitch, "src", dbSwitch, "copy1");
    ASSERT_TRUE(dbSwitch.hasTable("copy1"));
    const auto cols = dbSwitch.columns("copy1");
    ASSERT_EQ(cols.size(), 4);
    EXPECT_EQ(cols[1].declType, "TEXT(20)");
    EXPECT_TRUE(cols[2].notNull);
    EXPECT_EQ(cols[2].type, platform::ftCurrency);
    dbSwitch.execute("insert into copy1(id) values(5)");
    EXPECT_EQ(dbSwitch.scalar("select name from copy1").toString(), "n");
    EXPECT_EQ(dbSwitch.scalar("select amount from copy1").toInt(), 0);
    EXPECT_FALSE(dbSwitch.tryExecute("insert into copy1(id) values(5)"));
    EXPECT_EQ(g_ModifyList, QStringList({"+id"}));

    dbSwitch.execute("create table nokey (a INTEGER, b TEXT(5))");
    CopyTableDef(dbSwitch, "nokey", dbSwitch, "copy2");
    ASSERT_TRUE(dbSwitch.hasTable("copy2"));
    EXPECT_TRUE(dbSwitch.indexes("copy2").isEmpty());
    dbSwitch.execute("insert into copy2 values(1,'x')");
    dbSwitch.execute("insert into copy2 values(1,'x')");

    CopyTableDef(dbSwitch, "nosuch", dbSwitch, "copy3");   // silently nothing
    EXPECT_FALSE(dbSwitch.hasTable("copy3"));

    // The shadow table is made after the table, empty again each time.
    ASSERT_TRUE(CreatePTable("src"));
    EXPECT_EQ(dbSwitch.columns("psrc").size(), 4);
    dbSwitch.execute("insert into psrc(id) values(1)");
    ASSERT_TRUE(CreatePTable("src"));
    EXPECT_EQ(count(dbSwitch, "psrc"), 0);
    EXPECT_FALSE(CreatePTable("nosuch"));
}
