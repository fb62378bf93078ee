// 表恢复 of the extensions' and the accounts' tables puts back the owners the
// copy holds: each one it changes is an entry of the journal, named in its
// box, so that a station file put back later gives the place to the owner
// the 表恢复 gave it, and its calls are charged to that user.
#include "admin/BackupRoadsFixture.h"

#include <ostream>
#include <string>

using namespace admintest;

namespace {

// What a parameter view's 表恢复 is run on: the view, its right and caption,
// the place whose owner changes and how its box names it.
struct Place {
    const char* view;
    int right;
    const char* caption;
    const char* table;
    int address;
    const char* named;
    const char* account;   // the account a call dials, "" for none
};

void PrintTo(const Place& p, std::ostream* os) { *os << p.view; }

const Place kExtension{"Extension", 6, "分机参数", "extension", 5, "分机5", ""};
const Place kAccount{"Account", 3, "帐号参数", "account", 2048, "帐号0012", "12"};

// User 7 owns extension 5 and account 0012; user 8 has 30.00.
class ExtensionTableRestoreTest : public BackupRoadsTest {
protected:
    void seed() override {
        addUser(8, "30.00", 1);
        dbSwitch.execute("UPDATE account SET account='0012', userid=7 WHERE address=2048");
    }
    qint64 ownerOf(const Place& p) {
        return dbSwitch.scalar(QStringLiteral("SELECT userid FROM %1 WHERE address=?").arg(p.table), {p.address}).toLongLong();
    }
    // The owner entries the call file's log holds, kind 6 by place.
    QList<QPair<qint64, qint64>> ownerEntries() {
        QList<QPair<qint64, qint64>> out;
        for (platform::RowReader r = dbPhoneCur.rows(QStringLiteral("SELECT f_calladdr, f_userid FROM %1 WHERE f_kind=? ORDER BY f_seq")
                                                          .arg(dbPhoneCur.qualified(ModSwitch::kChargeLog)),
                                                      {int(ModSwitch::LogKind::Owner)});
             r.next();)
            out.append({r.integer(0), r.integer(1)});
        return out;
    }
    // A call of extension 5 (dialling `p`'s account) at 9:`minute`: under
    // three minutes, 0.20 at the local rate.
    Currency callOn(const Place& p, int minute) {
        call(5, minute, QDate(2026, 6, 15), p.account);
        return yuan("0.20");
    }
    void expectBalances(Currency seven, Currency eight, const QString& told) {
        EXPECT_EQ(ModSwitch::BalanceOf(7), seven) << told.toStdString();
        EXPECT_EQ(ModSwitch::BalanceOf(8), eight) << told.toStdString();
    }
};

class OwnedTableRestore : public ExtensionTableRestoreTest, public ::testing::WithParamInterface<Place> {};

}  // namespace

// The place given from user 7 to user 8 since the table's copy, a call of
// it waiting charged to 8: 表恢复 gives it back to 7, names it once with both
// owners (at the next start when killed while its box stands), enters that as
// one owner entry, and the charge stays with 8. The station file put back
// from a backup taken before the 表恢复 then keeps the place with 7, whose
// next call it charges.
TEST_P(OwnedTableRestore, AnOwnerItPutsBackIsNamedAndOutlivesAnOlderStationFilePutBack) {
    const Place& p = GetParam();
    Currency seven = remainOf(7), eight = remainOf(8);
    ASSERT_NO_FATAL_FAILURE(backUpTable(p.view, p.right, p.caption));
    giveOwner(p.table, p.address, 8);
    const qsizetype given = ownerEntries().size();
    click(0, folder("bk"), "备份完成");
    // Its charge waits in the log: the station file refuses it.
    dbSwitch.execute("CREATE TRIGGER refuse BEFORE UPDATE ON user BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    eight -= callOn(p, 1);
    dbSwitch.execute("DROP TRIGGER refuse");
    ASSERT_EQ(ModSwitch::UnappliedCharges(8), yuan("0.20"));

    // 表恢复 of `p`'s view killed while its box stands: the next start shows
    // its boxes, the one after none.
    script::answer("要从备份库恢复数据吗?", platform::rYes);
    EXPECT_TRUE(testsupport::killedAtBox(QStringLiteral("随恢复改为备份中的用户"),
                                         [&] { console::TableRestore(p.view, p.right, p.caption); }));
    restart();
    const QString told = shownSince(0).join("\n----\n");
    script::reset();
    script::enable();
    restart();
    EXPECT_TRUE(script::shown().isEmpty());
    EXPECT_EQ(ownerOf(p), 7) << told.toStdString();
    const QString line = QStringLiteral("%1：恢复前属用户8 用户8，恢复后属用户7 用户7").arg(p.named);
    EXPECT_TRUE(told.contains("随恢复改为备份中的用户：\n" + line)) << told.toStdString();
    EXPECT_EQ(told.count(p.named), 1) << told.toStdString();
    const QList<QPair<qint64, qint64>> entries = ownerEntries().mid(given);
    EXPECT_EQ(entries, (QList<QPair<qint64, qint64>>{{ModSwitch::OwnerPlace(p.table == std::string("account"), p.address), 7}}));
    expectBalances(seven, eight, told);

    click(2, folder("bk"), "数据恢复成功");
    const QString putBack = script::shown().last().text;
    EXPECT_EQ(ownerOf(p), 7) << putBack.toStdString();
    EXPECT_FALSE(putBack.contains(p.named)) << putBack.toStdString();
    expectBalances(seven, eight, putBack);
    seven -= callOn(p, 2);
    expectBalances(seven, eight, putBack);
}

INSTANTIATE_TEST_SUITE_P(Tables, OwnedTableRestore, ::testing::Values(kExtension, kAccount),
                         [](const ::testing::TestParamInfo<Place>& i) { return std::string(i.param.view); });

// A 表恢复 that changes no owner (extension 5 given away and back since the
// copy) says nothing of owners and enters nothing.
TEST_F(ExtensionTableRestoreTest, ARestoreThatChangesNoOwnerSaysNothingAndEntersNothing) {
    ASSERT_NO_FATAL_FAILURE(backUpTable(kExtension.view, kExtension.right, kExtension.caption));
    giveExtension(kExtension.address, 8);
    giveExtension(kExtension.address, 7);
    const qsizetype entries = ownerEntries().size();
    EXPECT_EQ(restoreTable(kExtension.view, kExtension.right, kExtension.caption), QStringList());
    EXPECT_EQ(ownerEntries().size(), entries);
    EXPECT_EQ(ownerOf(kExtension), 7);
}
