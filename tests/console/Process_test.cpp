// The station as a process of its own, started by the test runner against the
// switch simulator, logged in and closed through its stop road.
#include "platform/Db.h"
#include "support/Fixtures.h"
#include "support/StationProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace {

QStringList runStation(const testsupport::StationDir& dir, const QStringList& extra) {
    const QString log = dir.appPath() + "run.log";
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(TARVO_BINARY_DIR "/tarvo-testrunner"), QStringList{dir.appPath(), "--log", log} + extra);
    EXPECT_TRUE(p.waitForFinished(60000));
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    testsupport::expectNoYieldInTransaction(lines);
    return lines;
}

QStringList promptsOf(const QStringList& log) { return log.filter(QRegularExpression("^(PROMPT|UNEXPECTED)\t")); }

TEST(StationProcess, StartsAgainstTheSwitchLogsInAndStopsInOrder) {
    testsupport::StationDir dir;
    const QStringList log = runStation(dir, {"--stay-ms", "500"});
    ASSERT_TRUE(log.contains("LOADED\tDE Duzariv - [板卡通道状态]")) << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains("END\t0"));
    EXPECT_TRUE(promptsOf(log).isEmpty()) << log.join('\n').toStdString();

    QStringList frames;
    for (const QString& l : log)
        if (l.startsWith("SWITCH\t") && l != "SWITCH\t820300") frames << l.mid(7);
    // The link is opened, the clock set, then monitoring and reports resume.
    ASSERT_GE(frames.size(), 6) << frames.join(' ').toStdString();
    EXPECT_EQ(frames.mid(0, 3), QStringList({"84040000", "960300", "830300"}));
    EXPECT_TRUE(frames[3].startsWith("8509")) << frames[3].toStdString();
    EXPECT_EQ(frames.mid(4, 2), QStringList({"84040101", "960301"}));
    // Whatever follows only restores the board view's monitor mode; no order to the switch on exit.
    for (const QString& f : frames.mid(6)) EXPECT_EQ(f, "84040101");

    platform::Database sw = platform::Database::open(dir.file("switch.mdb"));
    EXPECT_EQ(sw.scalar("select f_memo from tab_oplog order by rowid desc limit 1").toString(), "退出系统");
    EXPECT_EQ(sw.scalar("select count(*) from worker where b_active<>0").toInt(), 0);
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A copy of the station database beside it, its line a device that does not exist.
void makeSwitchCopy(const testsupport::StationDir& dir) {
    ASSERT_TRUE(QFile::copy(dir.file("switch.mdb"), dir.file("switch.mdb.bak")));
    platform::Database b = platform::Database::open(dir.file("switch.mdb.bak"));
    b.execute("delete from Variant where varname='CommDevice'");
    b.execute("insert into Variant(varname,value) values('CommDevice',?)", {dir.appPath() + "no-switch"});
}

TEST(StationProcess, ZeroByteStationDatabaseWithoutACopyEndsWithAMessageAndTouchesNothing) {
    testsupport::StationDir dir;
    QFile::resize(dir.file("switch.mdb"), 0);
    const QStringList log = runStation(dir, {"--no-switch", "--answer", "恢复数据库失败!=ok"});
    EXPECT_EQ(promptsOf(log), QStringList({"PROMPT\t0\t警告\t恢复数据库失败!"})) << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains("END\t0"));
    EXPECT_EQ(QFileInfo(dir.file("switch.mdb")).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(dir.file("switch.mdb.bak")));
    EXPECT_FALSE(QFileInfo::exists(dir.file("PhoneCur.mdb.bak")));
}

TEST(StationProcess, StationDatabaseWithoutItsTablesIsRestoredFromItsCopyAndKeptAside) {
    testsupport::StationDir dir;
    makeSwitchCopy(dir);
    const QByteArray copy = bytesOf(dir.file("switch.mdb.bak"));
    {
        platform::Database sw = platform::Database::open(dir.file("switch.mdb"));
        sw.execute("drop table Worker");
        sw.execute("drop table user");
    }
    const QStringList log = runStation(dir, {"--no-switch", "--answer", "已损坏=ok", "--answer",
                                             "与集团电话通讯失败，是否继续?=no"});
    const QStringList prompts = promptsOf(log);
    ASSERT_EQ(prompts.size(), 2) << log.join('\n').toStdString();
    EXPECT_TRUE(prompts[0].startsWith("PROMPT\t0\t警告\t数据库文件switch.mdb已损坏，已用备份switch.mdb.bak恢复（备份时间"));
    // Without the switch, No ends the station before the login.
    EXPECT_EQ(prompts[1], "PROMPT\t0\tDE Duzariv\t与集团电话通讯失败，是否继续?");
    EXPECT_FALSE(log.contains("LOADED\tDE Duzariv - [板卡通道状态]"));
    EXPECT_TRUE(log.contains("END\t0"));
    EXPECT_EQ(bytesOf(dir.file("switch.mdb.bak")), copy);
    const QStringList aside = QDir(dir.dataPath()).entryList({"switch.mdb.damaged-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(prompts[0].contains(aside[0]));
    EXPECT_FALSE(platform::Database::open(dir.file(aside[0])).hasTable("Worker"));
    EXPECT_TRUE(platform::Database::open(dir.file("switch.mdb")).hasTable("Worker"));
}

TEST(StationProcess, TruncatedCallFileIsRestoredWithTheCallsItStillHoldsOrLeftAsItWas) {
    for (const bool withCopy : {false, true}) {
        SCOPED_TRACE(withCopy ? "with a copy" : "without a copy");
        testsupport::StationDir dir;
        makeSwitchCopy(dir);
        const QString cur = dir.file("PhoneCur.mdb");
        if (withCopy) { ASSERT_TRUE(QFile::copy(cur, cur + ".bak")); }
        {
            platform::Database db = platform::Database::open(cur);
            testsupport::storeCalls(db, 600, [](qint64 i) {
                return testsupport::CallRow{.calladdr = int(i), .date = "2026-06-15 09:00:00", .resp = QString(60, 'x')};
            });
        }
        QFile::resize(cur, QFileInfo(cur).size() / 2 + 100);
        const QByteArray truncated = bytesOf(cur);
        const QStringList log = runStation(dir, {"--no-switch", "--answer", "已损坏=ok", "--answer",
                                                 "恢复数据库失败!=ok", "--answer", "与集团电话通讯失败，是否继续?=no"});
        const QStringList prompts = promptsOf(log);
        ASSERT_FALSE(prompts.isEmpty()) << log.join('\n').toStdString();
        EXPECT_TRUE(log.contains("END\t0"));
        if (!withCopy) {
            EXPECT_EQ(prompts, QStringList({"PROMPT\t0\t警告\t恢复数据库失败!"}));
            EXPECT_EQ(bytesOf(cur), truncated);
            EXPECT_FALSE(QFileInfo::exists(cur + ".bak"));
            continue;
        }
        const QRegularExpressionMatch m = QRegularExpression("找回(\\d+)张话单").match(prompts[0]);
        ASSERT_TRUE(m.hasMatch()) << prompts[0].toStdString();
        const int recovered = m.captured(1).toInt();
        EXPECT_GT(recovered, 0);
        EXPECT_LT(recovered, 600);
        const QStringList aside = QDir(dir.dataPath()).entryList({"PhoneCur.mdb.damaged-*"});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(bytesOf(dir.file(aside[0])), truncated);
        EXPECT_EQ(testsupport::readStoredCalls(dir.dataPath()).rows, recovered);
    }
}

}  // namespace
