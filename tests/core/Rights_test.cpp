#include "console/frmPABX.h"
#include "core/OpLog.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

using namespace platform;
using ModGeneral::AddOpLog;
using ModGeneral::CheckRight;

namespace {

class RightsCheck : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerID = QStringLiteral("0042");
        WorkerName = QStringLiteral("张三");
    }
    QString statusText() { return frmPABX::instance().sbrInfo->panelText(2); }
};

TEST_F(RightsCheck, RightZeroAllowsEverythingAHeldRightIsAllowedARefusalIsReportedAsChosenAndMalformedListsGrantNothing) {
    WorkerRights = {QStringLiteral("0")};
    for (int r : {0, 1, 2, 21, 32}) EXPECT_FALSE(CheckRight(r, 2));
    WorkerRights = {QStringLiteral("18"), QStringLiteral("17"), QStringLiteral("3")};
    EXPECT_FALSE(CheckRight(17, 0));
    EXPECT_FALSE(CheckRight(3, 2));
    EXPECT_TRUE(statusText().isEmpty());
    EXPECT_TRUE(script::shown().isEmpty());

    // A refusal is reported the way the caller chose.
    EXPECT_TRUE(CheckRight(21, 1));
    EXPECT_TRUE(statusText().isEmpty());
    EXPECT_TRUE(script::shown().isEmpty());

    EXPECT_TRUE(CheckRight(21, 0));
    EXPECT_EQ(statusText(), QStringLiteral("你没有此操作权限"));
    EXPECT_TRUE(script::shown().isEmpty());

    script::answer(QStringLiteral("你没有此操作权限"), rOK);
    EXPECT_TRUE(CheckRight(0, 2));
    ASSERT_EQ(script::shown().size(), 1);
    EXPECT_EQ(script::shown()[0].title, AppName);
    EXPECT_EQ(script::shown()[0].buttons, int(mbOKOnly));
    EXPECT_TRUE(CheckRight(5, 7));   // an unknown mode reports nothing
    EXPECT_EQ(script::shown().size(), 1);

    // Malformed right lists grant nothing.
    const QList<QStringList> lists = {
        {QStringLiteral("-1")},
        {QString()},
        {QStringLiteral("18"), QString(), QStringLiteral("17")},   // "18,,17"
        {QStringLiteral("5"), QString()},                          // "5,"
        {QString(), QStringLiteral("21"), QStringLiteral("0")},    // ",21,0": an empty first entry
        {QStringLiteral("abc"), QStringLiteral("x0")},
        {QStringLiteral("0x"), QStringLiteral("-0")},
        {},
    };
    for (const QStringList& l : lists) {
        WorkerRights = l;
        EXPECT_TRUE(CheckRight(21, 1)) << l.join(',').toStdString();
        EXPECT_TRUE(CheckRight(0, 1)) << l.join(',').toStdString();
    }
    WorkerRights = {QStringLiteral("18"), QString(), QStringLiteral("17")};
    EXPECT_FALSE(CheckRight(17, 1));
    WorkerRights = {QStringLiteral("5"), QString()};
    EXPECT_FALSE(CheckRight(5, 1));
}

// The time, the worker and the text of a log line are checked with the login
// that writes one; here the text that would break a pasted statement.
TEST_F(RightsCheck, LogLineCarriesAnyTextAndNeverFailsTowardsItsCaller) {
    AddOpLog(QStringLiteral("下载'系统'参数"));
    EXPECT_EQ(dbSwitch.scalar(QStringLiteral("select f_memo from tab_oplog")).toString(), QStringLiteral("下载'系统'参数"));
    dbSwitch.execute(QStringLiteral("drop table tab_oplog"));
    EXPECT_NO_THROW(AddOpLog(QStringLiteral("x")));
    dbSwitch.close();
    EXPECT_NO_THROW(AddOpLog(QStringLiteral("x")));
}

}  // namespace
