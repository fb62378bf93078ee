#include "core/StationFiles.h"
#include "billing/ArchiveBills.h"
#include "core/RowLists.h"
#include "core/Settings.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QFile>
#include <QTimer>

using namespace ModSwitch;
using platform::Database;

class StationFiles : public testsupport::StationTest {};

TEST_F(StationFiles, OpenAllOpensBothOnOneConnectionWithTheDefaultUserNotSettledAndAnOldDepositDefaultUserIsCorrectedOnce) {
    dbSwitch.close();
    {
        Database sw = Database::open(dir->file("switch.mdb"));
        sw.execute("delete from user");
        sw.execute("insert into feerate(zonecode,feerateid,feeratetype) values('010',1,2)");
        sw.execute("insert into feerate(zonecode,feerateid,feeratetype) values('0755',1,2)");
    }
    OpenAllDB(true);
    ASSERT_TRUE(dbSwitch.isOpen());
    ASSERT_TRUE(dbPhoneCur.isOpen());
    EXPECT_TRUE(dbSwitch.sameConnection(dbPhoneCur));
    EXPECT_EQ(dbPhoneCur.schema(), "phonecur");
    EXPECT_TRUE(dbPhoneCur.hasTable("Tab_Phone"));
    ASSERT_TRUE(rsUser.findFirst("userid", 0));
    EXPECT_EQ(rsUser.str("username"), "默认用户");
    EXPECT_FALSE(rsUser.str("lastdate").isEmpty());
    EXPECT_EQ(rsUser.lng("balancemode"), 2);
    rsFeeRate.moveFirst();
    EXPECT_EQ(rsFeeRate.str("zonecode"), "0755");
    EXPECT_TRUE(rsIPHead.isOpen());

    // A second opening finds the user and adds none.
    OpenAllDB(false);
    EXPECT_FALSE(dbSwitch.isOpen());
    EXPECT_FALSE(dbPhoneCur.isOpen());
    EXPECT_FALSE(rsUser.isOpen());
    OpenAllDB(true);
    EXPECT_EQ(dbSwitch.scalar("select count(*) from user where userid=0").toInt(), 1);
    EXPECT_EQ(GetRecordCount(rsUser), 1);
    OpenAllDB(false);

    // A station database of an older station: user 0 a deposit user with nothing.
    auto oldDefaultUser = [this](const char* remain) {
        Database sw = Database::open(dir->file("switch.mdb"));
        sw.execute("delete from variant where varname like 'Tarvo%'");
        sw.execute("update user set balancemode=0, deposit=0, remain=?, overdraft=0 where userid=0",
                   {*platform::Currency::parse(QString::fromLatin1(remain))});
    };
    oldDefaultUser("0");
    OpenAllDB(true);
    EXPECT_EQ(dbSwitch.scalar("select balancemode from user where userid=0").toInt(), 2);
    // The operator makes it a deposit user again: that choice stays.
    dbSwitch.execute("update user set balancemode=0 where userid=0");
    OpenAllDB(false);
    OpenAllDB(true);
    EXPECT_EQ(dbSwitch.scalar("select balancemode from user where userid=0").toInt(), 0);
    OpenAllDB(false);

    // Money on it: not the row a new station made, left alone.
    oldDefaultUser("5");
    OpenAllDB(true);
    EXPECT_EQ(dbSwitch.scalar("select balancemode from user where userid=0").toInt(), 0);
}

TEST_F(StationFiles, OpenFailureAsksUntilTheFileOpensAndYesOrNoAnswerEndsTheProgramAndOpenMatchesNamesWithoutCase) {
    const QString path = dir->file("Late.mdb");
    platform::script::answer(",要终止程序吗", platform::rNo);
    // The file appears while the station waits after "No".
    QTimer::singleShot(0, [&] { Database::create(path).close(); });
    Database db;
    EXPECT_FALSE(OpenDB(path, db));
    EXPECT_TRUE(db.isOpen());
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_EQ(platform::script::shown()[0].title, "警告");
    EXPECT_EQ(platform::script::shown()[0].buttons & 7, platform::mbYesNo);
    platform::script::answer(",要终止程序吗", platform::rYes);
    EXPECT_THROW(OpenDB(dir->file("missing.mdb"), db), platform::ProgramEnded);
    // Unanswered in a scripted run, it ends too.
    platform::testing::setTick([] {
        static qint64 t = 0;
        return t += 600;   // every wait is over at once
    });
    EXPECT_THROW(OpenDB(dir->file("never.mdb"), db), platform::ProgramEnded);
    EXPECT_GE(platform::script::unexpected().size(), 2);
    platform::script::reset();   // the boxes were the point of this test

    // A file is opened whatever the letter case of its name.
    EXPECT_TRUE(OpenDB(dir->file("SWITCH.MDB"), db));
    EXPECT_TRUE(db.hasTable("Variant"));
}

// A call and its charge entry commit with one sync only while the call file
// keeps its write-ahead log: every road that opens it (the start, an opening
// after a failure, the archive's reopening after its compaction) leaves it so.
TEST_F(StationFiles, TheStationFilesAreOpenedWithTheirWriteAheadLogs) {
    auto modes = [] {
        return QStringList{dbSwitch.scalar("PRAGMA main.journal_mode").toString().toLower(),
                           dbPhoneCur.scalar("PRAGMA phonecur.journal_mode").toString().toLower()};
    };
    const QStringList wal{"wal", "wal"};
    dbSwitch.close();
    QString failure;
    ASSERT_TRUE(TryOpenAllDB(&failure)) << failure.toStdString();
    EXPECT_EQ(modes(), wal);
    OpenAllDB(false);
    OpenAllDB(true);
    EXPECT_EQ(modes(), wal);
    testsupport::storeCall(dbPhoneCur, {.calladdr = 1, .date = "2026-03-01 10:00:00"});
    billing::ArchiveBills();
    ASSERT_TRUE(billing::LastArchiveRun().compacted);
    EXPECT_EQ(modes(), wal);
    EXPECT_TRUE(QFile::exists(dir->file("PhoneCur.mdb-wal")));
}
