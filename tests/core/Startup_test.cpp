// The station started as a process of its own on a program directory.
#include "platform/Db.h"
#include "support/Fixtures.h"
#include "support/StationProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <sys/resource.h>

namespace {

struct StationRun {
    int exitCode = -1;
    QStringList log;
    bool loaded() const { return !log.filter(QRegularExpression("^LOADED\t")).isEmpty(); }
    QStringList prompts() const { return log.filter(QRegularExpression("^(PROMPT|UNEXPECTED)\t")); }
};

QString runner() { return QStringLiteral(TARVO_BINARY_DIR "/tarvo-testrunner"); }

QStringList readLog(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

StationRun runStation(const testsupport::StationDir& dir, const QStringList& extra = {}, const QString& logName = "run.log") {
    StationRun r;
    const QString log = dir.appPath() + logName;
    QFile::remove(log);
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(runner(), QStringList{dir.appPath(), "--log", log} + extra);
    EXPECT_TRUE(p.waitForFinished(60000));
    r.exitCode = p.exitCode();
    r.log = readLog(log);
    testsupport::expectNoYieldInTransaction(r.log);
    return r;
}

}  // namespace

TEST(Startup, FreshStationLoadsAndClosesThroughItsStopRoadAndACancelledLoginEndsSilently) {
    testsupport::StationDir dir;
    {
        platform::Database sw = platform::Database::open(dir.file("switch.mdb"));
        sw.execute("update worker set b_active=1");
    }
    // A cancelled login ends it silently.
    StationRun r = runStation(dir, {"--login-cancel"}, "cancelled.log");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.loaded());
    EXPECT_TRUE(r.prompts().isEmpty());
    EXPECT_TRUE(r.log.contains("END\t0"));

    r = runStation(dir);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.loaded()) << r.log.join('\n').toStdString();
    EXPECT_TRUE(r.log.contains("LOADED\tDE Duzariv - [板卡通道状态]"));
    EXPECT_TRUE(r.prompts().isEmpty()) << r.prompts().join('\n').toStdString();
    EXPECT_TRUE(r.log.contains("END\t0"));
    EXPECT_TRUE(QFile::exists(dir.file("switch.mdb.bak")));
    EXPECT_TRUE(QFile::exists(dir.file("PhoneCur.mdb.bak")));
    platform::Database sw = platform::Database::open(dir.file("switch.mdb"));
    EXPECT_EQ(sw.scalar("select count(*) from worker where b_active<>0").toInt(), 0);
    EXPECT_EQ(sw.scalar("select count(*) from user where userid=0").toInt(), 1);
}

TEST(Startup, NoDataDirectoryOrAMissingFileWithoutCopySaysSoAndEnds) {
    testsupport::StationDir noData(0, false);
    StationRun r = runStation(noData, {"--answer", "找不到数据库目录=ok"});
    EXPECT_FALSE(r.loaded());
    EXPECT_EQ(r.prompts(), QStringList({"PROMPT\t0\t错误提示\t找不到数据库目录"}));
    EXPECT_TRUE(r.log.contains("END\t0"));

    testsupport::StationDir dir;
    QFile::remove(dir.file("switch.mdb"));
    r = runStation(dir, {"--answer", "恢复数据库失败!=ok"});
    EXPECT_FALSE(r.loaded());
    EXPECT_EQ(r.prompts(), QStringList({"PROMPT\t0\t警告\t恢复数据库失败!"}));
}

TEST(Startup, DamagedFileIsRestoredFromItsCopyAtStart) {
    testsupport::StationDir dir;
    ASSERT_TRUE(QFile::copy(dir.file("PhoneCur.mdb"), dir.file("PhoneCur.mdb.bak")));
    testsupport::writeBytes(dir.file("PhoneCur.mdb"), QByteArray(4096, '\x55'));
    // Killed while the box stands: the next start tells it, once; the one after, nothing.
    EXPECT_FALSE(runStation(dir, {"--kill-at-prompt", "已损坏"}, "killed.log").loaded());
    EXPECT_TRUE(QFile::exists(dir.file("PhoneCur.mdb.pending-restore")));
    StationRun r = runStation(dir, {"--answer", "已损坏=ok"});
    EXPECT_TRUE(r.loaded());
    // The operator is told; the damaged file stays beside it.
    ASSERT_EQ(r.prompts().size(), 1) << r.prompts().join('\n').toStdString();
    EXPECT_TRUE(r.prompts()[0].startsWith("PROMPT\t0\t警告\t数据库文件PhoneCur.mdb已损坏"));
    EXPECT_EQ(QDir(dir.dataPath()).entryList({"PhoneCur.mdb.damaged-*"}).size(), 1);
    EXPECT_TRUE(platform::Database::open(dir.file("PhoneCur.mdb")).hasTable("Tab_Phone"));
    EXPECT_TRUE(runStation(dir, {}, "third.log").prompts().isEmpty());
}

// A station of the second model: its site is in the caption, and its tables are brought up.
TEST(Startup, SecondModelShowsTheSiteAndUpgradesAndASecondInstanceEndsSilently) {
    testsupport::StationDir dir(2);
    // The first stays until it is killed, however long the second takes.
    testsupport::StationProcess first(dir.appPath(), {"--stay-ms", "2000000000"});
    first.start();
    ASSERT_TRUE(first.waitLoaded(120000));
    EXPECT_TRUE(first.logHas(QStringLiteral("LOADED\tDE Duzariv<默认> - [板卡通道状态]")));

    StationRun second = runStation(dir, {}, "second.log");
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_FALSE(second.loaded());
    EXPECT_TRUE(second.prompts().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.file("Tmp.mdb")));

    first.kill();
    // The lock of a station that died is taken over by the next one.
    StationRun third = runStation(dir, {}, "third.log");
    EXPECT_TRUE(third.loaded());
    platform::Database sw = platform::Database::open(dir.file("switch.mdb"));
    EXPECT_EQ(sw.rowCount("ExtDeposit"), 120);
    EXPECT_TRUE(sw.hasTable("Terminal"));
}

TEST(Startup, DataDirectoryThatCannotBeWrittenIsNamedWithItsCause) {
    // The disk takes no more bytes from this process (as a full one takes none):
    // the lock file cannot be written, and that is no other station running.
    testsupport::StationDir dir;
    QProcess p;
    p.setChildProcessModifier([] {
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &none);
        ::signal(SIGXFSZ, SIG_IGN);
    });
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(runner(), {dir.appPath(), "--no-switch", "--answer", "无法在数据目录=ok"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QStringList log = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(log.filter(QRegularExpression("^LOADED\t")).isEmpty());
    const QStringList prompts = log.filter(QRegularExpression("^(PROMPT|UNEXPECTED)\t"));
    ASSERT_EQ(prompts.size(), 1) << log.join('\n').toStdString();
    EXPECT_TRUE(prompts[0].startsWith("PROMPT\t0\t错误提示\t无法在数据目录")) << prompts[0].toStdString();
    EXPECT_TRUE(prompts[0].contains(QDir::toNativeSeparators(QDir(dir.dataPath()).absolutePath()))) << prompts[0].toStdString();
    EXPECT_TRUE(prompts[0].endsWith("文件大小超出限制")) << prompts[0].toStdString();
    EXPECT_FALSE(QFile::exists(dir.file("tarvo.lock")));
}

TEST(Startup, ALockFromAnotherComputerIsNamedWithItsHolderAndFileAndOneLeftEmptyIsTakenOver) {
    // A data folder copied from a station that was running on another PC.
    testsupport::StationDir dir;
    testsupport::writeBytes(dir.file("tarvo.lock"), "4242\nDE Duzariv\nfront-desk-pc\n");
    StationRun r = runStation(dir, {"--answer", "锁文件=ok"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.loaded());
    ASSERT_EQ(r.prompts().size(), 1) << r.log.join('\n').toStdString();
    EXPECT_TRUE(r.prompts()[0].startsWith("PROMPT\t0\t错误提示\t")) << r.prompts()[0].toStdString();
    EXPECT_TRUE(r.prompts()[0].contains("front-desk-pc")) << r.prompts()[0].toStdString();
    EXPECT_TRUE(r.prompts()[0].contains("4242"));
    EXPECT_TRUE(r.prompts()[0].contains(QDir::toNativeSeparators(QFileInfo(dir.file("tarvo.lock")).absoluteFilePath())));
    // The lock is left as it was for the operator to judge.
    EXPECT_TRUE(testsupport::bytesOf(dir.file("tarvo.lock")).startsWith("4242\n"));

    // A lock file left empty or unreadable is named, and taken over when no process holds it.
    for (const QByteArray& content : {QByteArray(), QByteArray("\x01\x02garbage")}) {
        testsupport::writeBytes(dir.file("tarvo.lock"), content);
        StationRun r = runStation(dir, {"--answer", "是否接管=yes"});
        EXPECT_TRUE(r.loaded()) << r.log.join('\n').toStdString();
        ASSERT_FALSE(r.prompts().isEmpty()) << r.log.join('\n').toStdString();
        EXPECT_TRUE(r.prompts()[0].contains("锁文件内容无法识别")) << r.prompts()[0].toStdString();
    }
}
