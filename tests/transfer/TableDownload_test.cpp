// Table views downloaded to the simulated switch, read back from the rows the
// switch kept; failures, refusals and the popup's selected rows.
#include "transfer/TransferFixture.h"

#include "core/ModUpgrade.h"
#include "core/books/WriteAhead.h"
#include "link/CommState.h"
#include "link/TraceList.h"
#include "link/frmSRV.h"
#include "params/TableViews.h"
#include "platform/Clock.h"
#include "transfer/Upload.h"

#include <QRegularExpression>

using namespace transfertest;

namespace {

class TableDownload : public TransferTest {
protected:
    void down(const QString& table, int right = 1) {
        sent();   // what the download before sent last (a read-back's answers) has arrived
        TransferTest::down(table, right);
    }
    // The first and last of run(), "810309..810300".
    QString ends() {
        const QStringList r = run();
        return r.value(0) + ".." + r.value(r.size() - 1);
    }
    QByteArray kept(const QString& table, int key) { return sw.row(table, key).value_or(QByteArray()); }
    size_t held(const QString& table) { return sw.table(table).size(); }
    // The download's own frames, up to the table's closing "810300": a late
    // answer on a busy machine has the rows read back after it.
    QStringList run() {
        const QStringList c = codes();
        return c.mid(0, c.indexOf("810300") + 1);
    }
};

}  // namespace

TEST_F(TableDownload, HeadsOpenAndCloseTheirTableInTheViewsOrder) {
    dbSwitch.execute("insert into LanHead values('123', 20, 4, 0, 1, 2, 1)");
    dbSwitch.execute("update LanHead set bSet=1");
    console->fgDisp->setRows(3);
    console->fgDisp->setCols(6);
    console->fgDisp->setRowBackColor(2, platform::vbColor(0xFFFF00));
    down("LanHead");
    EXPECT_EQ(ends(), "810309..810300");
    EXPECT_EQ(held(sim::tables::LanHead), 2u);
    EXPECT_EQ(sim::decodeHeadRow(kept(sim::tables::LanHead, 0), false)->head, "123");   // head type 20 before 29
    EXPECT_EQ(sim::decodeHeadRow(kept(sim::tables::LanHead, 1), false)->head, "E");
    EXPECT_EQ(count("select count(*) from LanHead where bSet<>0"), 0);
    EXPECT_EQ(console->fgDisp->CellBackColorAt(2, 1), console->fgDisp->BackColor());
    EXPECT_EQ(status(), "下载成功");
    EXPECT_EQ(opLog().last(), "下载本机字头");

    dbSwitch.execute("insert into CityHead values('88', 1, 4, 0, 1, 261, 1)");
    down("CityHead");
    EXPECT_EQ(ends(), "810301..810300");
    EXPECT_EQ(held(sim::tables::CityHead), 1u);
    EXPECT_EQ(sim::decodeHeadRow(kept(sim::tables::CityHead, 0), true)->route2, 261);

    // An empty table is opened and closed all the same.
    dbSwitch.execute("delete from LanHead");
    down("LanHead");
    EXPECT_EQ(ends(), "810309..810300");
    EXPECT_EQ(held(sim::tables::LanHead), 0u);
    EXPECT_EQ(status(), "下载成功");
}

TEST_F(TableDownload, ARefusedRowStopsTheTableAndLeavesTheRestPending) {
    extraHeads(5);
    sw.addRule("940A", sim::Reply::Status03, 2, 2);
    down("ExtraHead");
    EXPECT_EQ(codes(), (QStringList{"940A", "940A", "940A", "940A"}));
    EXPECT_EQ(count("select count(*) from ExtraHead where bSet=0"), 2);
    EXPECT_EQ(count("select count(*) from ExtraHead where bSet<>0 and Address>=2"), 3);
    EXPECT_EQ(status(), "下载失败");
    EXPECT_TRUE(opLog().isEmpty());
    EXPECT_FALSE(frmProgress::exists());
    EXPECT_TRUE(console->fgDisp->Redraw());

    // An answer with a bad checksum is no acknowledgement.
    sw.addRule("940A", sim::Reply::BadSum, 2);
    down("ExtraHead");
    EXPECT_EQ(status(), "下载失败");
    EXPECT_EQ(count("select count(*) from ExtraHead where bSet=0"), 2);

    // A row that cannot be encoded stops the same way, with the reason.
    dbSwitch.execute("insert into LanHead values('9', 30, 4, 0, 1, 261, 1)");
    dbSwitch.execute("insert into LanHead values('8', 31, 4, 0, 1, 2, 1)");
    dbSwitch.execute("update LanHead set bSet=1");
    down("LanHead");
    EXPECT_EQ(codes(), (QStringList{"810309", "860B"}));   // head 'E' went, '9' cannot
    EXPECT_TRUE(status().startsWith("下载错误:"));
    EXPECT_TRUE(status().contains("Router2"));
    EXPECT_EQ(count("select count(*) from LanHead where bSet<>0"), 2);
    EXPECT_EQ(count("select bSet from LanHead where HeadID='E'"), 0);
}

TEST_F(TableDownload, ALateAcknowledgementAcknowledgesNoOtherRow) {
    extraHeads(4);
    frmSRV::instance().lstRec->clear();
    // Row 1's acknowledgement comes just after the wait; the switch does not take row 2.
    sw.addRule("940A0001", sim::Reply::Late, 1);
    sw.addRule("940A0002", sim::Reply::Silent, 1);
    sw.addRule("940A0002", sim::Reply::Status03, 1);
    down("ExtraHead");
    EXPECT_EQ(status(), "下载失败");
    EXPECT_EQ(pendingOf("ExtraHead"), "2,3");
    EXPECT_EQ(frmSRV::instance().lstRec->lines().filter("无人等待的确认: 82 03 00").size(), 1);
    // Rows 0, 1 twice, 2 twice; an attempt that heard nothing puts the run's
    // answers in doubt, so each row sent is then read back.
    const QStringList c = codes();
    EXPECT_EQ(c.mid(0, 5), QStringList(5, "940A"));
    EXPECT_EQ(c.filter(QRegularExpression("^9304")).size(), 3);
}

TEST_F(TableDownload, EveryOtherTableAsTheSwitchKeepsIt) {
    dbSwitch.execute("insert into Shrink values(9, '1234', 1)");
    down("Shrink");
    EXPECT_EQ(sim::decodeShrink(kept(sim::tables::Shrink, 9))->head, "1234");
    EXPECT_EQ(run().last(), "810300");

    dbSwitch.execute("insert into AddHead values(2, 300, '17909', 1)");
    down("Router2");
    const auto add = sim::decodeAddHead(kept(sim::tables::AddHead, 0x022C));
    ASSERT_TRUE(add);
    EXPECT_EQ(add->portAddr, 300);
    EXPECT_EQ(count("select bSet from AddHead where PortAddr=300"), 0);

    dbSwitch.execute("update Relay set groupphone='3,5', Relayno='6601', bSet=1 where Address=1");
    down("Relay", 8);
    EXPECT_TRUE(codes().filter(QRegularExpression("^81")).isEmpty());   // no table frames
    const auto trunk = sim::decodeRelay(kept(sim::tables::Relay, 224));
    ASSERT_TRUE(trunk);
    EXPECT_EQ(trunk->group, (std::vector<int>{3, 5}));
    EXPECT_EQ(trunk->relayNo, "6601");

    down("MonCard", 4);
    EXPECT_EQ(sim::decodeBoardLayout(kept(sim::tables::BoardLayout, 0))->kinds[6], 8);

    dbSwitch.execute("insert into PabxFeeRate(FeeRateHead,FeeRateType,feerategrade,FirstPrice,bSet) values('0*1',1,14,?,1)",
                     {platform::Currency::parse("0.015")->toVariant()});
    down("PabxFeeRate", 14);
    EXPECT_EQ(ends(), "810303..810300");
    EXPECT_EQ(held(sim::tables::PabxFeeRate), 1u);
    const auto rate = sim::decodeFeeRate(kept(sim::tables::PabxFeeRate, 0));
    EXPECT_EQ(rate->head, "0*1");
    EXPECT_EQ((std::vector<qint64>{rate->grade, rate->firstFen}), (std::vector<qint64>{15, 2}));

    // Segments go with their place in the download, not their number.
    dbSwitch.execute("delete from PabxTimes where SegNo=1");
    dbSwitch.execute("update PabxTimes set DayTimes=1, TimeBegin='08:30', TimeEnd='17:45' where SegNo=3");
    down("PabxTimes", 15);
    const auto seg = sim::decodeTimes(kept(sim::tables::PabxTimes, 2));
    ASSERT_TRUE(seg);
    EXPECT_EQ(seg->begin + "-" + seg->end + "/" + QString::number(seg->dayTimes), "08:30-17:45/1");
    EXPECT_EQ(held(sim::tables::PabxTimes), 7u);

    dbSwitch.execute("delete from account where address>2049");
    dbSwitch.execute("update account set account='0123', firstgrade=2, secgrade=5, clearpassword=1 where address=2049");
    platform::FlexGrid* g = console->fgDisp;
    g->setCols(8);
    g->setRows(3);
    g->setTextMatrix(2, 0, "2049");
    g->setTextMatrix(2, 6, "ON");
    g->setRowBackColor(2, platform::vbColor(0xFFFF00));
    g->setRow(1);
    down("Account", 3);
    EXPECT_EQ(g->Row(), 1);   // the operator's place in the grid stays
    // Each account read back after the run, each answer acknowledged.
    const QStringList accounts = codes();
    EXPECT_EQ(accounts.mid(0, 3), (QStringList{"8C08", "8C08", "810300"}));
    EXPECT_GE(accounts.count("8804"), 2);
    EXPECT_EQ(accounts.count("8203"), accounts.count("8804"));
    EXPECT_EQ(held(sim::tables::Account), 2u);
    EXPECT_EQ(sim::decodeAccount(kept(sim::tables::Account, 2049))->code, "0123");
    EXPECT_EQ(opLog().last(), "下载帐号");
    EXPECT_EQ(g->TextMatrix(2, 6), "OFF");   // the password clear is used up
    EXPECT_EQ(g->CellBackColorAt(2, 3), g->BackColor());
}

TEST_F(TableDownload, UsersGoOneByOneWithoutAClosingFrame) {
    dbSwitch.execute("insert into user(userid,username,balancemode,locked) values(7,'甲',1,1)");
    dbSwitch.execute("delete from account where address>2048");
    dbSwitch.execute("update account set userid=7, firstgrade=2 where address=2048");
    dbSwitch.execute("update extension set userid=7 where address=4");
    down("User", 7);
    EXPECT_EQ(codes(), (QStringList{"8C08", "810300", "8B16", "8804", "8203", "8804", "8203"}));
    EXPECT_EQ(sim::decodeAccount(kept(sim::tables::Account, 2048))->grade1, 10);   // locked
    EXPECT_EQ(status(), "下载成功");
}

TEST_F(TableDownload, TheExtensionChoice) {
    choose(0);
    down("Extension", 6);
    EXPECT_TRUE(codes().isEmpty());
    EXPECT_TRUE(status().isEmpty());

    // Flexible numbers are positional: a head without a head row still goes in its place.
    dbSwitch.execute("update Extension set Head=7, SpringNum='77' where Address=3");
    dbSwitch.execute("update Extension set bSetSpringNum=1");
    WorkerRights = QStringList{QStringLiteral("5")};
    choose(2);
    down("Extension", 6);
    EXPECT_EQ(ends(), "810310..810300");
    EXPECT_EQ(status(), "下载成功");
    EXPECT_EQ(held(sim::tables::SpringNum), 120u);
    EXPECT_EQ(count("select count(*) from Extension where bSetSpringNum<>0"), 0);
    const auto third = sim::decodeSpringNum(kept(sim::tables::SpringNum, 3));
    EXPECT_EQ(third->head, 7);
    EXPECT_EQ(third->number, "77");
    EXPECT_EQ(opLog().last(), "下载弹性号码");

    // The parameters need the extension view's own right.
    choose(1);
    down("Extension", 6);
    EXPECT_TRUE(codes().isEmpty());
    EXPECT_EQ(status(), "你没有此操作权限");
    WorkerRights = QStringList{QStringLiteral("6")};
    choose(1);
    down("Extension", 6);
    EXPECT_EQ(held(sim::tables::Extension), 120u);
    EXPECT_EQ(count("select count(*) from Extension where bSet<>0"), 0);
    EXPECT_EQ(opLog().last(), "下载分机参数");
}

TEST_F(TableDownload, ExtensionDepositsAreUsedUpOnce) {
    depositTables();
    dbSwitch.execute("insert into ExtDeposit(Address,ChangeValue,bSet) values(1,?,1)", {platform::Currency::parse("-12.34")->toVariant()});
    dbSwitch.execute("insert into ExtDeposit(Address,ChangeValue,bSet) values(2,0,1)");
    down("ExtDeposit", 31);
    EXPECT_EQ(sent().filter(QRegularExpression("^A507")), (QStringList{"A5070102" "0004D2", "A5070201000000"}));
    EXPECT_EQ(count("select count(*) from extdeposithistory where ExtAddr=1 and ChangeType=2"), 1);
    EXPECT_EQ(count("select count(*) from extdeposithistory"), 1);   // no change, no history
    EXPECT_EQ(count("select count(*) from ExtDeposit where bSet<>0 or ChangeValue<>0"), 0);
    down("ExtDeposit", 31);
    EXPECT_EQ(sent().first(), "A5070101000000");   // the change went once
}

TEST_F(TableDownload, ADepositChangeWhoseAcknowledgementIsLostIsNeverTakenTwice) {
    depositTables();
    hold(1, 10000);
    const auto changesSent = [this] { return sent().filter(QRegularExpression("^A507")).size(); };
    // Each booking in a second of its own: the history keeps one row per extension and second.
    const QDateTime first(QDate(2026, 3, 4), QTime(10, 20, 30));
    platform::testing::setNow([first] { return first; });

    // Taken, its acknowledgement lost: the switch is asked, and it is not sent again.
    change(1, "1.00");
    sw.addRule("A507", sim::Reply::LostAck, 1);
    down("ExtDeposit", 31);
    EXPECT_EQ(atSwitch(1), 10100);
    EXPECT_EQ(changesSent(), 1);
    EXPECT_EQ(status(), "下载成功");
    EXPECT_EQ(count("select count(*) from ExtDeposit where bSet<>0 or ChangeValue<>0"), 0);
    EXPECT_EQ(count("select count(*) from extdeposithistory"), 1);

    // The switch stops answering after the change: it cannot say, so the
    // change is not sent again, stays pending, and the operator is told.
    change(1, "0.50");
    platform::testing::setNow([first] { return first.addSecs(10); });
    sw.addRule("A507", sim::Reply::LostAck, 1);
    sw.addRule("A503", sim::Reply::Silent, 1, 1);
    platform::script::answer("无法查明是否已生效", platform::rOK);
    down("ExtDeposit", 31);
    EXPECT_EQ(atSwitch(1), 10150);
    EXPECT_EQ(changesSent(), 1);
    EXPECT_EQ(status(), "下载失败");
    EXPECT_EQ(count("select count(*) from ExtDeposit where bSet<>0 and ChangeValue<>0"), 1);
    EXPECT_EQ(count("select count(*) from extdeposithistory"), 1);
    platform::testing::setNow(nullptr);
}

TEST_F(TableDownload, AChangeTheSwitchTookIsUsedUpWhenItsHistoryRowIsRefused) {
    depositTables();
    hold(1, 10000);
    const QDateTime second(QDate(2026, 3, 4), QTime(10, 20, 30));
    platform::testing::setNow([second] { return second; });
    const auto addOne = [this] {
        dbSwitch.execute("update ExtDeposit set ChangeValue=?, bSet=1 where Address=1",
                         {platform::Currency::parse("1.00")->toVariant()});
    };
    dbSwitch.execute("insert into ExtDeposit(Address) values(1)");

    // Two changes of one extension within one second: the second has no
    // history row of its own. Killed while that box stands, the next opening
    // tells it, once.
    addOne();
    down("ExtDeposit", 31);
    addOne();
    ASSERT_TRUE(testsupport::killedAtBox("押金历史记录(2026-03-04 10:20:30)未能写入", [&] { down("ExtDeposit", 31); }));
    const qsizetype before = platform::script::shown().size();
    ModSwitch::SettleAtOpening();
    ModSwitch::SettleAtOpening();
    EXPECT_EQ(platform::script::shown().size(), before + 1);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(atSwitch(1), 10200);
    EXPECT_EQ(count("select count(*) from ExtDeposit where bSet<>0 or ChangeValue<>0"), 0);
    EXPECT_EQ(count("select count(*) from extdeposithistory"), 1);

    // The next download sends no change: the switch keeps what it took.
    down("ExtDeposit", 31);
    EXPECT_EQ(sent().filter(QRegularExpression("^A507")), QStringList{"A5070101000000"});
    EXPECT_EQ(atSwitch(1), 10200);

    // The same when the switch's own deposit event of that second holds the key.
    platform::testing::setNow([second] { return second.addSecs(5); });
    dbSwitch.execute("insert into extdeposithistory values(?,1,5,'',0)", {second.addSecs(5)});
    addOne();
    platform::script::answer("未能写入", platform::rOK);
    down("ExtDeposit", 31);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(status(), "下载成功");
    EXPECT_EQ(atSwitch(1), 10300);
    EXPECT_EQ(count("select count(*) from ExtDeposit where bSet<>0 or ChangeValue<>0"), 0);
    platform::testing::setNow(nullptr);
}

TEST_F(TableDownload, TheDepositViewListsEachExtensionOnceAndTheDownloadFindsItsRows) {
    depositTables();
    dbSwitch.execute("insert into ExtDeposit(Address) select Address from Extension where Address<12");
    // Extension 7 under two heads of its class; extension 3's class has no head, so it is not listed.
    dbSwitch.execute("insert into LanHead values('7', 20, 4, 0, 0, 0, 0), ('6', 20, 4, 0, 0, 0, 0)");
    dbSwitch.execute("update Extension set Head=20 where Address=7");
    dbSwitch.execute("update Extension set Head=25 where Address=3");
    dbSwitch.execute("update ExtDeposit set ChangeValue=?, bSet=1 where Address in (4,7)",
                     {platform::Currency::parse("1.00")->toVariant()});
    platform::FlexGrid& g = *console->fgDisp;
    g.setObjectName("fgDisp");   // the console's grid: pending rows coloured
    CurTable = QStringLiteral("ExtDeposit");
    ModSwitch::ShowExtDeposit(g, CurTable, true);
    QStringList listed;
    for (int r = 1; r < g.Rows(); ++r) listed << g.TextMatrix(r, 0) + ":" + g.TextMatrix(r, 1);
    EXPECT_EQ(listed, (QStringList{"0:E0000", "1:E0001", "2:E0002", "4:E0004", "5:E0005", "6:E0006", "7:60007",
                                   "8:E0008", "9:E0009", "10:E0010", "11:E0011"}));
    const auto rowOf = [&](const QString& address) {
        for (int i = 0; i < listed.size(); ++i)
            if (listed[i].startsWith(address + ":")) return i + 1;
        return -1;
    };
    ASSERT_NE(g.CellBackColorAt(rowOf("4"), 2), g.BackColor());
    ASSERT_NE(g.CellBackColorAt(rowOf("7"), 2), g.BackColor());

    down("ExtDeposit", 31);
    EXPECT_EQ(status(), "下载成功");
    // Extension 7's change goes once, under either head, and is booked once.
    EXPECT_EQ(sent().filter("A50707"), QStringList{"A5070701000064"});
    EXPECT_EQ(count("select count(*) from extdeposithistory where ExtAddr=7"), 1);
    EXPECT_EQ(count("select count(*) from ExtDeposit where bSet<>0 or ChangeValue<>0"), 0);
    for (int r = 1; r < g.Rows(); ++r) {
        EXPECT_EQ(g.TextMatrix(r, 2), "0.00") << listed[r - 1].toStdString();
        EXPECT_EQ(g.CellBackColorAt(r, 2), g.BackColor()) << listed[r - 1].toStdString();
    }
    EXPECT_EQ(g.TextMatrix(rowOf("7"), 0), "7");

    // Reading one row back writes it into that extension's row.
    SwitchModel = 2;
    sw.setRow(sim::tables::ExtDeposit, 8, QByteArray::fromHex("A5070800C10203"));
    g.setTextMatrix(rowOf("9"), 3, "9.99");
    GridSelFirst = GridSelLast = rowOf("8");
    ModToolbar::mnuUpSend_Click(31);
    EXPECT_EQ(status(), "上传成功");
    EXPECT_EQ(g.TextMatrix(rowOf("8"), 2) + "|" + g.TextMatrix(rowOf("8"), 3), "0.00|660.51");
    EXPECT_EQ(g.TextMatrix(rowOf("8"), 4) + "|" + g.TextMatrix(rowOf("8"), 5), "ON|ON");
    EXPECT_EQ(g.TextMatrix(rowOf("9"), 3), "9.99");
    SwitchModel = 0;
}

TEST_F(TableDownload, SelectedRowsByTheirKeys) {
    dbSwitch.execute("insert into AddHead values(2, 300, '17909', 1)");
    dbSwitch.execute("insert into AddHead values(2, 301, '17951', 1)");
    platform::FlexGrid* g = console->fgDisp;
    g->setCols(2);
    g->setRows(4);
    g->setTextMatrix(1, 0, "300");
    g->setTextMatrix(2, 0, "300) or (1=1");
    g->setTextMatrix(3, 0, "");
    CurTable = QStringLiteral("Router2");
    GridSelFirst = 0;
    GridSelLast = 3;
    ModToolbar::mnuDownload_Click(13);
    EXPECT_EQ(GridSelFirst, 1);
    EXPECT_EQ(sent(), (QStringList{"960300", "9008022C17909FFF", "810300", "960301"}));
    EXPECT_EQ(count("select bSet from AddHead where PortAddr=301"), 1);

    // No key left: nothing at all.
    GridSelFirst = GridSelLast = 3;
    sw.clearReceived();
    ModToolbar::mnuDownload_Click(13);
    EXPECT_TRUE(sent().isEmpty());
}
