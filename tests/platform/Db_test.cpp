#include "platform/Clock.h"
#include "platform/Currency.h"
#include "platform/Db.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <chrono>
#include <thread>

using namespace platform;

class DbTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = Database::create(dir.filePath("a.mdb"));
        db.execute("CREATE TABLE user (userid LONG PRIMARY KEY, username TEXT(20), remain CURRENCY NOT NULL DEFAULT 0)");
        db.execute("INSERT INTO user VALUES(?,?,?)", {1, "张三", Currency::fromYuan(5)});
        db.execute("INSERT INTO user VALUES(?,?,?)", {2, "O'Brien", Currency::fromYuan(7)});
    }
    QTemporaryDir dir;
    Database db;
};

TEST_F(DbTest, SnapshotIntrospectionAndADynasetThatReadsTheRowAsItIsNow) {
    Recordset snap = db.query("SELECT * FROM user WHERE userid > ? ORDER BY userid", {0});
    EXPECT_EQ(snap.recordCount(), 2);
    EXPECT_EQ(snap.fieldType(snap.fieldIndex("remain")), ftCurrency);
    EXPECT_TRUE(db.hasTable("User"));
    EXPECT_FALSE(db.hasTable("User", true));
    auto cols = db.columns("user");
    ASSERT_EQ(cols.size(), 3);
    EXPECT_EQ(cols[1].size, 20);
    EXPECT_EQ(cols[1].type, ftText);
    auto ix = db.indexes("user");
    ASSERT_FALSE(ix.isEmpty());
    EXPECT_TRUE(ix[0].primary);
    EXPECT_EQ(ix[0].columns, QStringList{"userid"});

    // A dynaset reads the row as it is now.
    Recordset rs = db.openTable("USER");
    ASSERT_TRUE(rs.findFirst("userid", 2));
    EXPECT_EQ(rs.str("username"), "O'Brien");
    db.execute("UPDATE user SET remain=? WHERE userid=2", {Currency::fromYuan(1)});
    ASSERT_TRUE(rs.findFirst("userid", 2));
    EXPECT_EQ(rs.cur("remain"), Currency::fromYuan(1));
    rs.edit();
    rs.set("remain", Currency::fromRaw(123));
    rs.update();
    EXPECT_EQ(db.scalar("SELECT remain FROM user WHERE userid=2").toLongLong(), 123);
    rs.addNew();
    rs.set("userid", 3);
    rs.update();
    EXPECT_EQ(rs.recordCount(), 3);
    EXPECT_EQ(db.scalar("SELECT remain FROM user WHERE userid=3").toLongLong(), 0);
}

TEST_F(DbTest, RawRowsAndARowReaderGiveTheSnapshotsValuesAndWhereEachFieldComesFrom) {
    db.execute("INSERT INTO user VALUES(3, NULL, 2.5)");
    db.execute("INSERT INTO user VALUES(4, CAST(X'61006263' AS TEXT), X'0102')");
    const QString sql = "SELECT userid, username, remain, userid * 2 AS twice, u.username AS alias "
                        "FROM user u WHERE userid >= ? ORDER BY userid";
    const RawRecords raw = db.queryRaw(sql, {1});
    Recordset rs = db.query(sql, {1});
    ASSERT_EQ(raw.recordCount(), 4);
    ASSERT_EQ(raw.fieldCount(), 5);
    for (int r = 0; r < 4; ++r, rs.moveNext())
        for (int c = 0; c < 5; ++c) {
            EXPECT_EQ(raw.value(r, c), rs.value(c)) << r << "," << c;
            EXPECT_EQ(raw.value(r, c).typeId(), rs.value(c).typeId()) << r << "," << c;
        }
    EXPECT_EQ(raw.kind(2, 1), RawRecords::Null);
    EXPECT_EQ(raw.kind(2, 2), RawRecords::Float);
    EXPECT_EQ(raw.text(3, 1), "a");   // a text ends at its first NUL
    EXPECT_EQ(raw.kind(3, 2), RawRecords::Blob);
    EXPECT_EQ(raw.bytes(3, 2).size(), 2);
    EXPECT_EQ(raw.text(0, 1), "张三");
    EXPECT_EQ(raw.fieldType(2), ftCurrency);
    EXPECT_EQ(raw.fieldIndex("TWICE"), 3);
    // Table columns name their file, table and column, under an alias too; expressions name none.
    EXPECT_EQ(raw.originSchema(0), "main");
    EXPECT_EQ(raw.originTable(0), "user");
    EXPECT_EQ(raw.originField(4), "username");
    EXPECT_EQ(raw.fieldName(4), "alias");
    EXPECT_EQ(raw.originTable(3), QString());
    EXPECT_EQ(db.queryRaw("SELECT * FROM user WHERE userid < 0").recordCount(), 0);

    // A row reader walks the same typed cells in place.
    RowReader r = db.rows("SELECT userid, username, remain FROM user WHERE userid >= ?1 AND userid <> ?2 ORDER BY userid",
                          {1, 2});
    ASSERT_EQ(r.fieldCount(), 3);
    EXPECT_EQ(r.fieldName(1), "username");
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.integer(0), 1);
    EXPECT_EQ(r.text(1), "张三");
    EXPECT_STREQ(r.cstr(1), "张三");
    EXPECT_EQ(r.cur(2), Currency::fromYuan(5));
    EXPECT_EQ(r.kind(2), RawRecords::Integer);
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.integer(0), 3);
    EXPECT_TRUE(r.isNull(1));
    EXPECT_EQ(r.cstr(1), nullptr);
    EXPECT_TRUE(r.bytes(1).isEmpty());
    EXPECT_EQ(r.kind(2), RawRecords::Float);
    EXPECT_EQ(r.real(2), 2.5);
    ASSERT_TRUE(r.next());
    EXPECT_EQ(r.bytes(1), QByteArrayView("a\0bc", 4));   // all of a text, past a NUL
    EXPECT_EQ(r.kind(2), RawRecords::Blob);
    EXPECT_EQ(r.bytes(2), QByteArrayView("\x01\x02", 2));
    EXPECT_FALSE(r.next());
    EXPECT_FALSE(r.next());
}

TEST_F(DbTest, AnOperatorIsToldAFailureInChineseAndTheTraceGetsTheStatement) {
    QStringList traced;
    platform::SetErrorTracer([&](const QString& t) { traced << t; });
    db.execute("CREATE TABLE once (k INTEGER PRIMARY KEY, v TEXT NOT NULL)");
    db.execute("INSERT INTO once VALUES (1, 'a')");
    const auto told = [&](const char* sql) {
        try {
            db.execute(QString::fromLatin1(sql));
        } catch (const std::exception& e) {
            return platform::OperatorText(e);
        }
        return QString();
    };
    EXPECT_EQ(told("INSERT INTO once VALUES (1, 'b')"), "要写入的记录已经存在");
    EXPECT_EQ(told("INSERT INTO once VALUES (2, NULL)"), "记录缺少必须填写的内容");
    EXPECT_EQ(told("SELECT * FROM nowhere"), "数据库中缺少所需的表");
    platform::SetErrorTracer(nullptr);
    ASSERT_EQ(traced.size(), 3);
    EXPECT_TRUE(traced[0].contains("UNIQUE") && traced[0].contains("INSERT INTO once")) << traced[0].toStdString();
    // The station's own sentences stand, less any statement after them; anything else is said plainly.
    EXPECT_EQ(platform::OperatorText(DbError(kErrGeneric, "磁盘已满 [insert into Variant]")), "磁盘已满");
    EXPECT_EQ(platform::OperatorText(std::runtime_error("bad_alloc")), "操作失败");
}

TEST_F(DbTest, RowReaderFailsAsEveryStatementAndLetsGoOfItsStatement) {
    try {
        db.rows("SELECT * FROM missing");
        FAIL() << "prepared a read of a missing table";
    } catch (const DbError& e) {
        EXPECT_EQ(e.number(), kErrNoSuchTable);
    }
    // A step that failed ends the walk: stepped again, the reader neither
    // starts the query over nor steps on past the failure.
    RowReader failed = db.rows("SELECT userid, abs(-9223372036854775806 - userid) FROM user ORDER BY userid");
    ASSERT_TRUE(failed.next());
    EXPECT_EQ(failed.integer(0), 1);
    try {
        failed.next();   // userid 2 overflows
        FAIL() << "stepped past an overflow";
    } catch (const DbError& e) {
        EXPECT_EQ(e.number(), kErrGeneric);
        EXPECT_TRUE(e.text().contains("[SELECT userid, abs(")) << e.text().toStdString();   // the SQL it ran
    }
    EXPECT_FALSE(failed.next());
    EXPECT_FALSE(failed.next());
    EXPECT_THROW(db.rows("SELECT * FROM user WHERE userid=?", {}), DbError);
    // A walk left by an exception half way holds no statement: the table can go at once.
    try {
        for (RowReader r = db.rows("SELECT userid FROM user"); r.next();) throw 1;
    } catch (int) {
    }
    // The same text read inside a walk is a statement of its own.
    int pairs = 0;
    for (RowReader a = db.rows("SELECT userid FROM user"); a.next();)
        for (RowReader b = db.rows("SELECT userid FROM user"); b.next();) ++pairs;
    EXPECT_EQ(pairs, 4);
    // Nor does the failed one, which still lives.
    EXPECT_NO_THROW(db.execute("DROP TABLE user"));
}

TEST_F(DbTest, AutocommitSeesATransactionBegunInSqlTextAndAttachedFilesCommitTogether) {
    EXPECT_TRUE(db.autocommit());
    db.execute("BEGIN");
    EXPECT_FALSE(db.inTransaction());
    EXPECT_FALSE(db.autocommit());
    db.execute("COMMIT");
    EXPECT_TRUE(db.autocommit());
    {
        Transaction tx(db);
        EXPECT_FALSE(db.autocommit());
    }
    EXPECT_TRUE(Database().autocommit());

    // Attached files commit and roll back together.
    Database::create(dir.filePath("b.mdb")).close();
    Database cur = db.attach(dir.filePath("b.mdb"), "phonecur");
    cur.execute(QString("CREATE TABLE %1 (f_userid LONG)").arg(cur.qualified("Tab_Phone")));
    {
        Transaction tx(db);
        db.execute("INSERT INTO Tab_Phone VALUES(1)");
        db.execute("UPDATE user SET remain=0");
        EXPECT_EQ(openTransactionCount(), 1);
    }
    EXPECT_EQ(openTransactionCount(), 0);
    EXPECT_EQ(db.rowCount("Tab_Phone"), 0);
    EXPECT_EQ(db.scalar("SELECT sum(remain) FROM user").toLongLong(), 120000);
    EXPECT_TRUE(cur.hasTable("tab_phone"));
    EXPECT_FALSE(db.hasTable("tab_phone"));
}

TEST_F(DbTest, ReadOnlyAndInMemoryCopiesAreNeverWritten) {
    db.close();
    const QString path = dir.filePath("a.mdb");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    for (Database copy : {Database::openReadOnly(path), Database::openImage(before)}) {
        EXPECT_EQ(copy.scalar("SELECT username FROM user WHERE userid=2").toString(), "O'Brien");
        EXPECT_THROW(copy.execute("DELETE FROM user"), DbError);
        EXPECT_EQ(copy.rowCount("user"), 2);
        copy.close();
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    EXPECT_FALSE(QFile::exists(path + "-journal"));
    EXPECT_THROW(Database::openReadOnly(dir.filePath("missing.mdb")), DbError);
    EXPECT_THROW(Database::openImage(QByteArray(4096, 'x')).rows("SELECT * FROM user"), DbError);
}

TEST_F(DbTest, JetFunctions) {
    EXPECT_EQ(db.scalar("SELECT isnumeric('12.5')").toInt(), 1);
    EXPECT_EQ(db.scalar("SELECT isnumeric('12a')").toInt(), 0);
    EXPECT_EQ(db.scalar("SELECT format('2026-03-04 05:06:07','yyyy-mm-dd hh:nn:ss')").toString(), "2026-03-04 05:06:07");
    EXPECT_EQ(db.scalar("SELECT format('2026-03-04 05:06:07','yyyy-mm')").toString(), "2026-03");
    EXPECT_EQ(db.scalar("SELECT mid('abcdef',2,3)").toString(), "bcd");
    EXPECT_EQ(db.scalar("SELECT month('2026-03-04 05:06:07')").toInt(), 3);
}

TEST(DbFiles, DamagedFileIsNotADatabase) {
    QTemporaryDir dir;
    QFile f(dir.filePath("x.mdb"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    try {
        Database::open(dir.filePath("x.mdb"));
        FAIL() << "opened a damaged file";
    } catch (const DbError& e) {
        EXPECT_EQ(e.number(), kErrNotADatabase);
    }
    EXPECT_THROW(Database::open(dir.filePath("missing.mdb")), DbError);
}

TEST(DbFiles, CaseInsensitiveNamesAndSafeReplace) {
    QTemporaryDir dir;
    Database db = Database::create(dir.filePath("Switch.mdb"));
    db.execute("CREATE TABLE t (a LONG)");
    db.close();
    EXPECT_EQ(resolveCI(dir.path(), "switch.MDB"), dir.filePath("Switch.mdb"));
    EXPECT_TRUE(existsCI(dir.path() + "/SWITCH.mdb"));
    QFile j(dir.filePath("copy.mdb-journal"));
    ASSERT_TRUE(j.open(QIODevice::WriteOnly));
    j.write("stale");
    j.close();
    ASSERT_TRUE(safeReplace(dir.filePath("switch.mdb"), dir.filePath("copy.mdb")));
    EXPECT_FALSE(QFile::exists(dir.filePath("copy.mdb-journal")));
    EXPECT_TRUE(Database::open(dir.filePath("copy.mdb")).hasTable("t"));
    EXPECT_FALSE(safeReplace(dir.filePath("none.mdb"), dir.filePath("copy.mdb")));
    EXPECT_TRUE(Database::open(dir.filePath("copy.mdb")).hasTable("t"));
}

TEST(DbBusy, AWriteWaitsAFewSecondsForAFileAnotherConnectionHolds) {
    QTemporaryDir d;
    const QString path = d.filePath("x.mdb");
    platform::Database db = platform::Database::create(path);
    db.execute("create table t (a INTEGER)");
    platform::Database other = platform::Database::open(path);
    other.execute("BEGIN");
    other.scalar("select count(*) from t");   // a read transaction, held
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        other.execute("COMMIT");
    });
    EXPECT_NO_THROW(db.execute("insert into t values(1)"));
    release.join();
    EXPECT_EQ(db.scalar("select count(*) from t").toInt(), 1);
}

// A yield while a transaction is open is counted, and the test during which
// it happened fails, whatever its fixture: the child run below leaves its
// yield counted and must fail naming the count.
TEST_F(DbTest, AYieldInsideATransactionFailsTheTest) {
    const bool child = qEnvironmentVariableIsSet("TARVO_YIELD_CHILD");
    {
        Transaction tx(db);
        YieldEvents();
        tx.commit();
    }
    YieldEvents();
    EXPECT_EQ(yieldsInTransaction(), 1);
    if (child) return;   // left counted
    platform::testing::resetYieldsInTransaction();

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TARVO_YIELD_CHILD", "1");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=DbTest.AYieldInsideATransactionFailsTheTest"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAll());
    EXPECT_NE(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("yieldsInTransaction() = 1")) << out.toStdString();
    EXPECT_TRUE(out.contains("[  FAILED  ] DbTest.AYieldInsideATransactionFailsTheTest")) << out.toStdString();
}

// A file that keeps a write-ahead log holds its latest commits beside it until
// a checkpoint: its online copy and its compaction still hold them, stand
// alone (rollback-journal mode, no log beside them), and a file replaced the
// safe way never has a stale log of the old one played into it.
TEST_F(DbTest, CopiesOfAFileWithAWriteAheadLogHoldItsLatestCommitsAndStandAlone) {
    db.useWriteAheadLog();
    db.execute("UPDATE user SET remain=? WHERE userid=1", {Currency::fromYuan(3)});
    ASSERT_GT(QFileInfo(dir.filePath("a.mdb-wal")).size(), 0);   // not checkpointed yet
    db.backupTo(dir.filePath("copy.mdb"));
    db.vacuumInto(dir.filePath("compact.mdb"));
    for (const char* name : {"copy.mdb", "compact.mdb"}) {
        SCOPED_TRACE(name);
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray head = f.read(20);
        EXPECT_EQ(int(head[18]), 1);   // rollback journal
        EXPECT_EQ(int(head[19]), 1);
        f.close();
        EXPECT_FALSE(QFile::exists(dir.filePath(name) + "-wal"));
        const Database c = Database::openReadOnly(dir.filePath(name));
        EXPECT_EQ(c.scalar("SELECT remain FROM user WHERE userid=1").toLongLong(), Currency::fromYuan(3).raw());
    }
    // A log left beside a target is not played into the file put in its place.
    ASSERT_TRUE(QFile::copy(dir.filePath("a.mdb-wal"), dir.filePath("copy.mdb-wal")));
    ASSERT_TRUE(safeReplace(dir.filePath("compact.mdb"), dir.filePath("copy.mdb")));
    EXPECT_FALSE(QFile::exists(dir.filePath("copy.mdb-wal")));
    const Database c = Database::open(dir.filePath("copy.mdb"));
    EXPECT_TRUE(c.quickCheck());
    EXPECT_EQ(c.scalar("SELECT remain FROM user WHERE userid=1").toLongLong(), Currency::fromYuan(3).raw());
}

// Asking a file for unsynced commits and back costs nothing until something
// may commit: then, a write outside a transaction or a transaction begun
// commits as the file was last asked to.
TEST_F(DbTest, CommitsSyncAsLastAskedFromTheNextWriteOrTransaction) {
    db.useWriteAheadLog();
    sqlite3* handle = db.raw();
    // What the file does, read beside this layer (1 unsynced, 2 synced).
    const auto level = [handle] {
        int n = -1;
        sqlite3_exec(handle, "PRAGMA main.synchronous",
                     [](void* out, int, char** v, char**) { *static_cast<int*>(out) = atoi(v[0]); return 0; }, &n, nullptr);
        return n;
    };
    ASSERT_EQ(level(), 2);
    db.setDurableCommits(false);
    db.scalar("SELECT count(*) FROM user");   // a read commits nothing
    db.scalar("PRAGMA main.schema_version");   // nor does a pragma reading something else
    EXPECT_EQ(level(), 2);
    db.scalar("PRAGMA main.synchronous");   // a pragma reading the setting is given it as asked
    EXPECT_EQ(level(), 1);
    db.setDurableCommits(true);
    db.scalar("PRAGMA main.schema_version");
    db.execute("PRAGMA main.user_version=7");   // a pragma that writes commits as asked
    EXPECT_EQ(level(), 2);
    db.setDurableCommits(false);
    db.execute("PRAGMA main.user_version=8");
    EXPECT_EQ(level(), 1);
    db.setDurableCommits(true);
    db.scalar("PRAGMA main.schema_version");
    EXPECT_EQ(level(), 1);
    db.setDurableCommits(false);
    {
        Transaction tx(db);
        EXPECT_EQ(level(), 1);
        db.execute("UPDATE user SET remain=1 WHERE userid=1");
        tx.commit();
    }
    db.setDurableCommits(true);
    db.execute("UPDATE user SET remain=2 WHERE userid=1");
    EXPECT_EQ(level(), 2);
    db.setDurableCommits(false);
    db.execute("UPDATE user SET remain=3 WHERE userid=1");
    EXPECT_EQ(level(), 1);
    db.setDurableCommits(true);
    {
        Transaction tx(db);
        EXPECT_EQ(level(), 2);
        tx.commit();
    }
    // A reader borrows its statement and gives it back for the next reader.
    int walked = 0;
    for (int i = 0; i < 3; ++i)
        for (RowReader r = db.rows("SELECT remain FROM user WHERE userid=?", {1}); r.next();) walked += int(r.integer(0));
    EXPECT_EQ(walked, 3 * 3);
}

// A compaction keeps the file's page size, whatever size another file
// attached to the connection was made with meanwhile.
TEST_F(DbTest, ACompactedCopyKeepsItsSourcesPageSize) {
    db.useWriteAheadLog();
    const qint64 own = db.scalar("PRAGMA main.page_size").toLongLong();
    Database::create(dir.filePath("big.mdb")).close();
    Database big = db.attach(dir.filePath("big.mdb"), "big");
    big.execute("PRAGMA big.page_size=16384");
    big.execute("CREATE TABLE t (k INTEGER)");
    ASSERT_EQ(big.scalar("PRAGMA big.page_size").toLongLong(), 16384);
    db.vacuumInto(dir.filePath("copy.mdb"));
    EXPECT_EQ(Database::open(dir.filePath("copy.mdb")).scalar("PRAGMA page_size").toLongLong(), own);
}
