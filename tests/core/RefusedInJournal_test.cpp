// The journal file's entries the entry check refuses, told once as they
// arrive: the box is kept with the note of how far the file was read.
#include "support/Holds.h"
#include "support/PricingFixture.h"

#include "core/books/ChargeLog.h"
#include "platform/Prompts.h"
#include "pricing/ClsMonitor.h"

using namespace pricingtest;
using testsupport::holds;

namespace {

// An entry the check refuses (bytes where an amount belongs) that reaches the
// journal file is named once, by a box kept with the note of how far the file
// was read: a kill while it is up leaves it for the next opening, which shows
// it; closed, it is not shown again.
class RefusedInJournal : public BooksTest {
protected:
    void TearDown() override {
        platform::script::whileShown(nullptr);
        BooksTest::TearDown();
    }
};

TEST_F(RefusedInJournal, AnEntryTheCheckRefusesIsToldOnceAndAKillWhileItsBoxIsUpLosesItNot) {
    const QString told = QStringLiteral("计费记录归档文件%1中以下记账记录已损坏").arg(ModSwitch::kJournalFile);
    for (int m = 1; m <= 3; ++m) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(9, m, 0));
        r.seconds = 100 + 37 * m;
        ASSERT_TRUE(ClsMonitor().Record(r.frame(), true));
    }
    restart();
    // Applied already: its bytes go wrong in the call file's log, and move with it.
    const qint64 seq = dbSwitch.scalar("SELECT min(f_seq) FROM phonecur.tab_chargelog WHERE f_kind=0").toLongLong();
    dbSwitch.execute("UPDATE phonecur.tab_chargelog SET f_amount=X'00FF' WHERE f_seq=?", {seq});
    now = now.addDays(10);
    struct Killed {};
    platform::script::whileShown([&](const QString& text) {
        if (text.contains(told)) throw Killed{};
    });
    bool killed = false;
    for (int k = 0; k < 4 && !killed; ++k) {
        try {
            restart();
        } catch (const Killed&) {
            killed = true;
        }
    }
    ASSERT_TRUE(killed) << "never told";
    platform::script::whileShown(nullptr);
    testsupport::freshPrompts();
    platform::script::answer(told, platform::rOK);
    restart();
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(holds(platform::script::shown().first().text, QStringLiteral("第%1笔").arg(seq)));
    restart();
    restart();
    EXPECT_EQ(platform::script::shown().size(), 1);
}

}  // namespace
