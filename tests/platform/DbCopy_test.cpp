// The step-wise copy of a database file.
#include "platform/DbCopy.h"
#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;

namespace {

class StepCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = tmp.path() + "/";
        src = dir + "PhBill_2004.mdb";
        Database db = Database::create(src);
        db.execute("CREATE TABLE Tab_Ph1 (id INTEGER PRIMARY KEY, pad TEXT)");
        Transaction t(db);
        for (int i = 1; i <= 4000; ++i) db.execute("INSERT INTO Tab_Ph1 (id, pad) VALUES (?, ?)", {i, QString(200, 'x')});
        t.commit();
        db.close();
    }
    void TearDown() override {
        platform::testing::setStepCopyHook(nullptr);
        platform::testing::setTick(nullptr);
    }
    static qint64 rows(const QString& path) {
        Database d = Database::open(path);
        return d.scalar("SELECT count(*) FROM Tab_Ph1").toLongLong();
    }
    QStringList leftovers() const {
        QStringList out;
        for (const QString& f : QDir(dir).entryList(QDir::Files | QDir::Hidden))
            if (f.contains(".new")) out << f;
        return out;
    }
    QTemporaryDir tmp;
    QString dir, src;
};

TEST_F(StepCopyTest, RowsStoredBetweenStepsThroughTheStationConnectionAreCopied) {
    Database station = Database::create(dir + "switch.mdb");
    Database year = station.attach(src, "yr");
    int steps = 0;
    platform::testing::setStepCopyHook([&](int) {
        ++steps;
        year.execute("INSERT INTO Tab_Ph1 (id, pad) VALUES (?, 'late')", {10000 + steps});
    });
    StepCopyStats st;
    QString err;
    ASSERT_TRUE(CopyDatabaseStepwise(dir + "phbill_2004.MDB", dir + "copy.mdb", station, &err, &st, 16)) << err.toStdString();
    EXPECT_GT(steps, 3);
    EXPECT_GT(st.steps, 3);
    year.close();
    EXPECT_EQ(rows(dir + "copy.mdb"), 4000 + steps);
    EXPECT_TRUE(Database::open(dir + "copy.mdb").quickCheck());
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(StepCopyTest, AStepThatFindsTheSourceLockedIsTriedAgain) {
    // Another program takes the file for itself between two steps and keeps
    // it for three more, ten seconds of the station's tick: inside the copy's
    // patience, which counts from the first step that met the lock. The file
    // is not the station's: read on its own, it replaces what the target held.
    QFile old(dir + "copy.mdb");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("not a database");
    old.close();
    Database other = Database::open(src);
    int heldFrom = 0;
    bool released = false;
    qint64 tick = 1000;
    platform::testing::setTick([&] { return tick; });
    platform::testing::setStepCopyHook([&](int step) {
        tick += 5000;
        if (step == 2) {
            other.execute("BEGIN EXCLUSIVE");
            other.execute("INSERT INTO Tab_Ph1 (id, pad) VALUES (9001, 'other')");
            heldFrom = step;
        } else if (heldFrom && !released && step >= heldFrom + 3) {
            other.execute("COMMIT");
            released = true;
        }
    });
    StepCopyStats st;
    QString err;
    ASSERT_TRUE(CopyDatabaseStepwise(src, dir + "copy.mdb", Database(), &err, &st, 16)) << err.toStdString();
    EXPECT_TRUE(released);
    EXPECT_GE(st.busySteps, 3) << "no step met the lock";
    EXPECT_EQ(rows(dir + "copy.mdb"), 4001);
    EXPECT_TRUE(Database::open(dir + "copy.mdb").quickCheck());
    EXPECT_TRUE(leftovers().isEmpty());
}

// Another program holds the file through the whole copy, read on the copy's
// own connection or through the station's: the copy ends, names the cause and
// its remedy, keeps the window's events going meanwhile and writes nothing.
// Each step that meets the lock moves the clock on by 15 s; the holder lets go
// only after the fifth, which a copy without patience would wait for.
TEST_F(StepCopyTest, AFileHeldByAnotherProgramEndsTheCopyAndSaysSo) {
    qint64 tick = 1000;
    platform::testing::setTick([&] { return tick; });
    Database station = Database::create(dir + "switch.mdb");
    for (const bool throughStation : {false, true}) {
        SCOPED_TRACE(throughStation ? "station's connection" : "own connection");
        Database year = throughStation ? station.attach(src, "yr") : Database();
        Database other = Database::open(src);
        other.execute("BEGIN EXCLUSIVE");
        other.execute("INSERT INTO Tab_Ph1 (id, pad) VALUES (9001, 'other')");
        int met = 0;
        platform::testing::setStepCopyHook([&](int) {
            tick += 15000;
            if (++met == 5) other.execute("COMMIT");
        });
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(0);
        StepCopyStats st;
        QString err;
        EXPECT_FALSE(CopyDatabaseStepwise(src, dir + "copy.mdb", station, &err, &st, 16));
        timer.stop();
        EXPECT_TRUE(err.contains("文件被其他程序占用")) << err.toStdString();
        EXPECT_TRUE(err.contains("请关闭正在使用该文件的其他程序")) << err.toStdString();
        EXPECT_EQ(st.busySteps, 3);
        EXPECT_GT(ticks, 0) << "the window's events waited for the lock";
        EXPECT_FALSE(QFile::exists(dir + "copy.mdb"));
        EXPECT_TRUE(leftovers().isEmpty());
        if (met < 5) other.execute("ROLLBACK");
        if (throughStation) year.close();
    }
    EXPECT_EQ(rows(src), 4000);
}

TEST_F(StepCopyTest, FailuresLeaveNothingBehind) {
    QString err;
    // A folder that cannot be written (as root, permissions do not hold: a file in place of the folder).
    const QString ro = dir + "ro/";
    QDir().mkpath(ro);
    QFile::setPermissions(ro, QFile::ReadOwner | QFile::ExeOwner);
    const QString blocked = ::geteuid() == 0 ? src + "/copy.mdb" : ro + "copy.mdb";
    EXPECT_FALSE(CopyDatabaseStepwise(src, blocked, Database(), &err));
    EXPECT_FALSE(err.isEmpty());
    QFile::setPermissions(ro, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(QDir(ro).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(rows(src), 4000);
    // A missing folder, a missing source, a source that is no database.
    err.clear();
    EXPECT_FALSE(CopyDatabaseStepwise(src, dir + "nowhere/copy.mdb", Database(), &err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_FALSE(CopyDatabaseStepwise(dir + "PhBill_1999.mdb", dir + "copy.mdb", Database(), &err));
    QFile bad(dir + "bad.mdb");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, 'z'));
    bad.close();
    EXPECT_FALSE(CopyDatabaseStepwise(dir + "bad.mdb", dir + "copy.mdb", Database(), &err));
    EXPECT_FALSE(QFile::exists(dir + "copy.mdb"));
    EXPECT_TRUE(leftovers().isEmpty());
}

}  // namespace
