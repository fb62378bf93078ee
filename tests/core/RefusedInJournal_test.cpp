// The journal file's entries the entry check refuses, told once as they
// arrive: the box is kept with the note of how far the file was read.
#include "support/Fixtures.h"
#include "support/Holds.h"
#include "support/PricingFixture.h"

#include "core/books/ChargeLog.h"
#include "platform/Prompts.h"

using namespace pricingtest;
using testsupport::holds;

namespace {

// An entry the check refuses (bytes where an amount belongs) that reaches the
// journal file is named once, by a box kept with the note of how far the file
// was read: a kill while it is up leaves it for the next opening, which shows
// it; closed, it is not shown again.
class RefusedInJournal : public BooksTest {};

TEST_F(RefusedInJournal, AnEntryTheCheckRefusesIsToldOnceAndAKillWhileItsBoxIsUpLosesItNot) {
    const QString told = QStringLiteral("计费记录归档文件%1中以下记账记录已损坏").arg(ModSwitch::kJournalFile);
    for (int m = 1; m <= 3; ++m) ASSERT_TRUE(callAt(m));
    restart();
    // Applied already: its bytes go wrong in the call file's log, and move with it.
    const qint64 seq = dbSwitch.scalar("SELECT min(f_seq) FROM phonecur.tab_chargelog WHERE f_kind=0").toLongLong();
    dbSwitch.execute("UPDATE phonecur.tab_chargelog SET f_amount=X'00FF' WHERE f_seq=?", {seq});
    now = now.addDays(10);
    ASSERT_TRUE(testsupport::killedAtBox(told, [&] {
        for (int k = 0; k < 4; ++k) restart();
    })) << "never told";
    restart();
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_TRUE(holds(platform::script::shown().first().text, QStringLiteral("第%1笔").arg(seq)));
    restart();
    restart();
    EXPECT_EQ(platform::script::shown().size(), 1);
}

}  // namespace
