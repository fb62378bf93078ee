// The station as a process of its own, started by the test runner against the
// switch simulator, logged in and closed through its stop road.
#include "platform/Db.h"
#include "support/Fixtures.h"

#include <QFile>
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
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

TEST(StationProcess, StartsAgainstTheSwitchLogsInAndStopsInOrder) {
    testsupport::StationDir dir;
    const QStringList log = runStation(dir, {"--stay-ms", "500"});
    ASSERT_TRUE(log.contains("LOADED\tDE Duzariv - [板卡通道状态]")) << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains("END\t0"));
    EXPECT_TRUE(log.filter(QRegularExpression("^(PROMPT|UNEXPECTED)\t")).isEmpty()) << log.join('\n').toStdString();

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

TEST(StationProcess, WithoutTheSwitchNoEndsBeforeTheLogin) {
    testsupport::StationDir dir;
    const QStringList log = runStation(dir, {"--no-switch", "--answer", "与集团电话通讯失败，是否继续?=no"});
    EXPECT_FALSE(log.contains("LOADED\tDE Duzariv - [板卡通道状态]"));
    EXPECT_EQ(log.filter(QRegularExpression("^(PROMPT|UNEXPECTED)\t")),
              QStringList({"PROMPT\t0\tDE Duzariv\t与集团电话通讯失败，是否继续?"}));
    EXPECT_TRUE(log.contains("END\t0"));
}

}  // namespace
