// A box that tells a loss or a recovery, killed while it stands: the next
// start shows it again, its lines once, and once read it is not shown again.
// One row a box (what makes it, what shows it, what it says); a box whose
// road has a kill test of its own has none here.
#include "support/Holds.h"
#include "support/Fixtures.h"
#include "support/PricingFixture.h"

#include "console/TableBackup.h"
#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/StationFiles.h"
#include "core/books/WriteAhead.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

#include <type_traits>

using namespace pricingtest;
using testsupport::holds;

namespace {

// The text of a loss reaches the operator only through the kept report: no
// plain box takes it.
static_assert(!std::is_convertible_v<ModSwitch::LossReport, QString>);
static_assert(!std::is_invocable_v<decltype(&core::Notify), ModSwitch::LossReport, int, QString>);
static_assert(!std::is_invocable_v<decltype(&platform::MsgBox), ModSwitch::LossReport, int, QString>);

class LossBoxKill;
struct LossBox {
    const char* name;
    const char* text;                 // a part of the box's text
    void (*make)(LossBoxKill& t);     // the state the act finds
    void (*act)(LossBoxKill& t);      // what shows the box (a start when null)
};

class LossBoxKill : public BooksTest, public ::testing::WithParamInterface<LossBox> {
protected:
    void SetUp() override {
        BooksTest::SetUp();   // the safety copies taken
        ASSERT_TRUE(callAt(0));
    }

public:
    using BooksTest::writeClosed;
    // A users' copy that does not say how far the journal went, nor matches
    // it anywhere, and a user deleted since: its 恢复 names the user it brings back.
    void unmarkedUsersCopy() {
        WorkerRights = QStringList{QStringLiteral("0")};
        ModSwitch::MoveBalances([this] { addUser(4, "39.40"); });
        platform::script::answer("要备份数据库吗?", platform::rYes);
        console::TableBackup(QStringLiteral("User"), 7, QStringLiteral("用户管理"));
        const platform::Database backup = platform::Database::open(console::BackupFilePath());
        backup.execute("DROP TABLE TarvoBackupMarks");
        backup.execute("UPDATE User SET remain=? WHERE userid=7", {yuan("31.00")});
        ModSwitch::MoveBalances([] { ModSwitch::DeleteUserRows(dbSwitch, 4); }, 4);
    }
    void restoreUsers() {
        platform::script::answer("要从备份库恢复数据吗?", platform::rYes);
        console::TableRestore(QStringLiteral("User"), 7, QStringLiteral("用户管理"));
    }
};

const LossBox kBoxes[] = {
    // The station down, the file's first page overwritten: the start puts its copy back.
    {"StationFilePutBack", "switch.mdb已损坏，已用备份", [](LossBoxKill& t) { t.writeClosed("switch.mdb", 0, QByteArray(4096, '\x55')); },
     nullptr},
    {"UsersTableRestored", "用户4 用户4：余额39.40（恢复前已没有此用户）", [](LossBoxKill& t) { t.unmarkedUsersCopy(); },
     [](LossBoxKill& t) { t.restoreUsers(); }},
};

TEST_P(LossBoxKill, TheBoxOutlivesAKillWhileItStandsAndIsToldOnce) {
    const QString text = QString::fromUtf8(GetParam().text);
    GetParam().make(*this);
    if (HasFatalFailure()) return;
    testsupport::freshPrompts();
    ASSERT_TRUE(testsupport::killedAtBox(text, [&] { GetParam().act ? GetParam().act(*this) : restart(); }));
    restart();
    const QList<platform::script::Shown> shown = platform::script::shown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(holds(shown[0].text, text));
    testsupport::freshPrompts();
    restart();
    EXPECT_TRUE(platform::script::shown().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Boxes, LossBoxKill, ::testing::ValuesIn(kBoxes),
                         [](const ::testing::TestParamInfo<LossBox>& i) { return std::string(i.param.name); });

}  // namespace
