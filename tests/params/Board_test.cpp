// The rack on the board panel, the port monitor drawn from stored status
// frames, the extension numbers of the port grid, and the tree and toolbar.
#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/frmPicClip.h"
#include "link/ModComm.h"
#include "link/frmSRV.h"
#include "link/Monitor.h"
#include "params/BoardPanel.h"
#include "params/NavTree.h"
#include "params/TableViews.h"
#include "sim/Switch.h"
#include "support/Fixtures.h"

#include <QAction>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

using platform::vbColor;

constexpr quint32 kGreen = 0x00FF00, kRed = 0x0000FF, kGrey = 0x808080;

class Board : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        openDatabases();
        ModSwitch::LoadSysPara();
        ModSwitch::LoadMonRes();
        ModComm::ResetMonitorState();
        frmPABX::instance();   // the rack, the tree and the toolbar are the console's
    }
    void TearDown() override {
        // Windows the link and the icons opened go before the application does.
        frmSRV::unload();
        frmPicClip::unload();
        frmPABX::unload();
        StationTest::TearDown();
    }
    // Colour shown by lamp i of a slot, or of the board body beside the lamps.
    static QColor lamp(int slot, int i) {
        const QPixmap pm = frmPABX::instance().picCard[slot]->pixmap();
        return pm.toImage().pixelColor(ModSwitch::LampCentre(i));
    }
    static QColor body(int slot) { return frmPABX::instance().picCard[slot]->pixmap().toImage().pixelColor(1, 1); }
    static QByteArray frame(std::initializer_list<int> bytes) {
        QByteArray f;
        for (int b : bytes) f.append(char(b));
        return f;
    }
    static QStringList toolKeys() {
        QStringList keys;
        for (QAction* a : frmPABX::instance().tbrSwitch->actions())
            if (!a->isSeparator()) keys << a->objectName();
        return keys;
    }
};

TEST_F(Board, FreshRackPaintsEveryKind) {
    ModSwitch::LoadCards();
    EXPECT_EQ(ModComm::CardList[0].KindName, "中继板");
    EXPECT_EQ(ModComm::CardList[2].KindName, "来显板");
    EXPECT_EQ(ModComm::CardList[6].KindName, "音令板");
    EXPECT_EQ(ModComm::CardList[21].KindName, "用户板");
    EXPECT_EQ(ModComm::SpecPhoneCount, 0);
    EXPECT_EQ(body(0), vbColor(0x8000));
    EXPECT_EQ(body(21), vbColor(0x800000));
    EXPECT_EQ(lamp(21, 8), vbColor(kGreen));
    // Trunk slots show the odd lamps only.
    EXPECT_EQ(lamp(0, 1), vbColor(kGreen));
    EXPECT_EQ(lamp(0, 2), vbColor(0x8000));
}

TEST_F(Board, SpecialSpareAndUnknownKinds) {
    ModSwitch::LoadCards();
    dbSwitch.execute("update MonCard set dispcard=11 where cardorder in (8,9,10,11)");
    dbSwitch.execute("update MonCard set dispcard=15 where cardorder=12");
    dbSwitch.execute("update MonCard set dispcard=3 where cardorder=13");
    ModSwitch::LoadCards();
    EXPECT_EQ(ModComm::SpecPhoneCount, 4);
    EXPECT_EQ(ModComm::CardList[8].KindName, "专用电话");
    EXPECT_EQ(body(8), vbColor(0xFFFF));
    // A special-telephone board has four lamps.
    EXPECT_EQ(lamp(8, 4), vbColor(kGreen));
    EXPECT_EQ(lamp(8, 5), vbColor(0xFFFF));
    EXPECT_EQ(ModComm::CardList[12].Fitted, 0);
    EXPECT_EQ(ModComm::CardList[12].KindName, "空余板");
    EXPECT_EQ(lamp(12, 1), vbColor(kGrey));
    // An unknown kind keeps the slot's previous look.
    EXPECT_EQ(ModComm::CardList[13].KindName, "用户板");
    EXPECT_EQ(ModComm::CardList[13].Fitted, -1);
    // Fewer rows leave the other slots as they were.
    dbSwitch.execute("delete from MonCard where cardorder>=20");
    dbSwitch.execute("update MonCard set dispcard=1 where cardorder=19");
    ModSwitch::LoadCards();
    EXPECT_EQ(ModComm::CardList[19].KindName, "中继板");
    EXPECT_EQ(ModComm::CardList[20].KindName, "用户板");
}

TEST_F(Board, LampsFollowCardFramesOnlyWhileTheSwitchAnswers) {
    ModSwitch::LoadCards();
    CurTable = "MonCard";
    ModComm::CardStates[3].Data = frame({0x99, 0x0B, 3, 0, 1, 0, 0, 0, 0, 0, 5});
    ModComm::CardStates[15].Data = frame({0x99, 0x0B, 15, 1, 0, 0, 0, 0, 0, 0, 1});
    g_NoAnswerCount = 6;
    ModComm::RefreshMonitor();
    EXPECT_EQ(lamp(10, 2), vbColor(kGreen));

    g_NoAnswerCount = 0;
    ModComm::RefreshMonitor();
    for (const auto& [slot, port, colour] : {std::tuple{10, 1, kGreen}, {10, 2, kRed}, {10, 8, kRed}, {2, 1, kRed}, {2, 8, kRed},
                                             {2, 2, kGreen}, {0, 1, kRed}, {0, 3, kGreen}, {1, 7, kRed}})
        EXPECT_EQ(lamp(slot, port), vbColor(colour)) << slot << ',' << port;
    EXPECT_EQ(ModComm::PortBusyMask(ModComm::CardStates[3].Data), 0x82);
}

TEST_F(Board, ChannelListRedrawsOnStateChangeOnly) {
    frmPABX& f = frmPABX::instance();
    f.fgMon[0]->setRows(9);
    f.fgMon[0]->setCols(10);
    CurTable = "MonCard";
    g_NoAnswerCount = 0;
    ModComm::PortStates[5].Data = frame({0x97, 0x0A, 5, 5, 0, 3, 0, 224, 0, 255, 0});
    ModComm::RefreshMonitor();
    // Channel 5: row 3, columns 6 to 9.
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 6), MonRes[5].channeltext);
    EXPECT_FALSE(f.fgMon[0]->CellPictureAt(3, 6).isNull());
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 7), "E0003");
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 8), "中继1");
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 9), "");
    // Same state, other ports: not redrawn.
    ModComm::PortStates[5].Data[5] = char(9);
    ModComm::RefreshMonitor();
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 7), "E0003");
}

TEST_F(Board, PortGridDrawsEachChangedPortInItsColumn) {
    frmPABX& f = frmPABX::instance();
    platform::FlexGrid& ports = *f.fgMon[1];
    ports.setRows(37);
    ports.setCols(9);
    ports.setTextMatrix(1, 0, "1");
    CurTable = "PortMonitor";
    g_NoAnswerCount = 0;
    ModComm::CardStates[0].Data = frame({0x99, 0x0B, 0, 2, 0, 0, 0, 0, 0, 0, 6});
    ModComm::RefreshMonitor();
    EXPECT_EQ(ports.TextMatrix(1, 1), MonRes[2].Usertext);
    EXPECT_EQ(ports.TextMatrix(1, 8), MonRes[6].Usertext);
    EXPECT_EQ(ports.TextMatrix(1, 0), "1");   // the board's label stays
    EXPECT_EQ(ports.TextMatrix(1, 2), "");     // unchanged port, not drawn
    EXPECT_EQ(static_cast<quint8>(ModComm::PortLamps[7]), 6);
}

TEST_F(Board, MonitorDrawsTheFramesTheSwitchSends) {
    ModComm::InitFrameTable();
    ModComm::ResetLink();
    ModSwitch::LoadCards();
    frmPABX& f = frmPABX::instance();
    f.fgMon[0]->setRows(9);
    f.fgMon[0]->setCols(10);
    f.fgMon[1]->setRows(37);
    f.fgMon[1]->setCols(9);
    sim::Switch sw;
    sw.sendCardState(3, {0, 1, 0, 0, 0, 0, 0, 5});
    sw.sendPortState(5, 5, 3, 224, 255);
    // Through the station's own parser and dispatcher.
    while (auto frame = sw.takeOutgoingFrame()) ModComm::PutRxBuf(*frame);
    for (int i = 0; i < 20; ++i) ModComm::ParseFrame();
    ASSERT_EQ(g_NoAnswerCount, 0);

    CurTable = "MonCard";
    ModComm::RefreshMonitor();
    for (const auto& [port, colour] : {std::pair{2, kRed}, {8, kRed}, {3, kGreen}}) EXPECT_EQ(lamp(10, port), vbColor(colour)) << port;
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 6), MonRes[5].channeltext);
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 7), "E0003");
    EXPECT_EQ(f.fgMon[0]->TextMatrix(3, 8), "中继1");

    CurTable = "PortMonitor";
    ModComm::RefreshMonitor();
    EXPECT_EQ(f.fgMon[1]->TextMatrix(7, 2), MonRes[1].Usertext);
    EXPECT_EQ(f.fgMon[1]->TextMatrix(7, 8), MonRes[5].Usertext);
    EXPECT_FALSE(f.fgMon[1]->CellPictureAt(7, 8).isNull());
}

TEST_F(Board, ExtensionNumbersAfterNormalisation) {
    frmPABX& f = frmPABX::instance();
    platform::FlexGrid& ports = *f.fgMon[1];
    ports.setRows(37);
    ports.setCols(9);
    dbSwitch.execute("insert into LanHead values('8',20,2,0,0,0,0)");
    dbSwitch.execute("update Extension set Head=20, SpringNum='09' where Address=9");
    dbSwitch.execute("update Extension set Head=17 where Address=5");
    dbSwitch.execute("update Extension set Head=null where Address=6");
    dbSwitch.execute("delete from Extension where Address>=100");
    ModSwitch::InitExtNumber();
    EXPECT_EQ(dbSwitch.scalar("select SpringNum from Extension where Address=5").toString(), "005");
    EXPECT_EQ(dbSwitch.scalar("select Head from Extension where Address=6").toInt(), 29);
    EXPECT_EQ(ports.TextMatrix(2, 1), "E0000");
    EXPECT_EQ(ports.TextMatrix(2, 6), "E005");
    EXPECT_EQ(ports.TextMatrix(4, 2), "809");
    EXPECT_EQ(ports.TextMatrix(26, 4), "E0099");
    // Addresses beyond the last extension row are left alone.
    EXPECT_EQ(ports.TextMatrix(26, 5), "");
}

TEST_F(Board, EmptyHeadTableGetsTheFlexibleHead) {
    frmPABX::instance().fgMon[1]->setRows(37);
    frmPABX::instance().fgMon[1]->setCols(9);
    dbSwitch.execute("update Extension set SpringNum='12' where Address=1");
    dbSwitch.execute("delete from LanHead");
    ModSwitch::InitExtNumber();
    EXPECT_EQ(dbSwitch.scalar("select count(*) from LanHead").toInt(), 1);
    EXPECT_EQ(dbSwitch.scalar("select HeadID||HeadType||HeadLen||Headdelay||Router1||Router2||bSet from LanHead").toString(),
              "E2940000");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from Extension where Head<>29").toInt(), 0);
    EXPECT_EQ(dbSwitch.scalar("select SpringNum from Extension where Address=1").toString(), "0012");
    EXPECT_EQ(frmPABX::instance().fgMon[1]->TextMatrix(2, 2), "E0012");
}

TEST_F(Board, TreeAndToolbarPerView) {
    ModSwitch::BuildNavTree();
    QTreeWidget* tv = frmPABX::instance().tvSwitch;
    EXPECT_EQ(ModSwitch::NodeKey(tv->currentItem()), "MonCard");
    EXPECT_EQ(ModSwitch::FindNode("ExtDeposit"), nullptr);
    EXPECT_EQ(ModSwitch::FindNode("ExtDepositHistory"), nullptr);
    ASSERT_NE(ModSwitch::FindNode("Router2"), nullptr);
    EXPECT_EQ(ModSwitch::NodeKey(ModSwitch::FindNode("Router2")->parent()), "AddHead");
    EXPECT_EQ(ModSwitch::FindNode("IP")->text(0), "IP费率及字头");

    ModSwitch::SetToolbar();
    EXPECT_EQ(toolKeys(), QStringList({"DownLoad", "UpLoad", "Verify", "Save", "Help", "Exit"}));
    for (const auto& [node, keys] : {std::pair{"User", "DownLoad,Backup,Restore,Save,Add,Delete,Find,Print,Help,Exit"},
                                     {"Head", "Save,Find,Print,Help,Exit"}, {"History", "Delete,Find,Print,Help,Exit"}}) {
        tv->setCurrentItem(ModSwitch::FindNode(node));
        ModSwitch::SetToolbar();
        EXPECT_EQ(toolKeys().join(','), keys) << node;
    }
    // Separator, button, separator, button...
    const auto actions = frmPABX::instance().tbrSwitch->actions();
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->toolTip(), "删除");
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_FALSE(actions[1]->icon().isNull());

    SwitchModel = 2;
    ModSwitch::BuildNavTree();
    EXPECT_EQ(ModSwitch::NodeKey(ModSwitch::FindNode("ExtDeposit")->parent()), "Parameter");
    EXPECT_NE(ModSwitch::FindNode("ExtDepositHistory"), nullptr);
}

}  // namespace
