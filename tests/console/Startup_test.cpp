// The console's start-up and stop against the switch simulator, in process.
#include "link/Transport.h"
#include "ConsoleFixture.h"

#include "core/Settings.h"
#include "params/NavTree.h"

#include <QRegularExpression>

using namespace consoletest;

namespace {

QStringList withoutAcks(const QStringList& frames) {
    QStringList out;
    for (const QString& f : frames)
        if (f != "820300") out << f;
    return out;
}

TEST_F(ConsoleTest, StartUpSendsItsFramesInOrderAndEndsWithTheClockAndMonitorOrders) {
    connectSwitch();
    {
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        db.execute("delete from user where userid=0");
        db.execute("update Variant set value='12' where varname='TarvoLocateY'");
    }
    platform::testing::setNow([] { return QDateTime(QDate(2026, 6, 15), QTime(9, 30, 0)); });
    load();
    ASSERT_TRUE(spin(2000, [&] { return received().contains("960301"); }));
    ASSERT_TRUE(allArrived());

    const QStringList frames = withoutAcks(received());
    ASSERT_EQ(frames.size(), 6) << frames.join(' ').toStdString();
    EXPECT_EQ(frames[0], "84040000");
    EXPECT_EQ(frames[1], "960300");
    EXPECT_EQ(frames[2], "830300");
    // The PC time as the switch clock: year - 1980, month, day, time, weekday.
    EXPECT_EQ(frames[3], "8509" "46" "06" "15" "09" "30" "00" "01");
    EXPECT_EQ(frames[4], "84040101");
    EXPECT_EQ(frames[5], "960301");

    frmPABX& f = console();
    EXPECT_TRUE(f.tmrCom->isActive());
    EXPECT_TRUE(f.tmrSys->isActive());
    EXPECT_FALSE(frmWelcome::exists());
    EXPECT_EQ(CurTable, "MonCard");
    EXPECT_EQ(f.windowTitle(), "板卡通道状态");
    EXPECT_FALSE(f.mnuUsb->menuAction()->isVisible());
    EXPECT_FALSE(f.mnuExtOption->isEnabled());
    EXPECT_FALSE(f.picRun->pixmap().isNull());
    EXPECT_TRUE(platform::script::shown().isEmpty());

    // The default user came back with the start time as its last settlement.
    platform::Recordset u = dbSwitch.query("select username,lastdate from user where userid=0");
    ASSERT_FALSE(u.eof());
    EXPECT_EQ(u.str("username"), "默认用户");
    EXPECT_EQ(u.date("lastdate"), QDateTime(QDate(2026, 6, 15), QTime(9, 30, 0)));
    EXPECT_TRUE(rsUser.findFirst("userid", 0));
    EXPECT_EQ(ModSwitch::GetVariant("TarvoLocateY", "x"), "x");   // cleared to ""
    EXPECT_TRUE(dbPhoneCur.isOpen());
    EXPECT_TRUE(dbPhoneCur.sameConnection(dbSwitch));
}

TEST_F(ConsoleTest, UnopenablePortAsksAndNoEndsTheStation) {
    setting("CommDevice", dir->appPath() + "no-such-line");
    platform::script::answer("与集团电话通讯失败，是否继续?", platform::rNo);
    EXPECT_THROW(load(), platform::ProgramEnded);
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_EQ(platform::script::shown()[0].title, "DE Duzariv");
    EXPECT_FALSE(console().tmrSys->isActive());
    EXPECT_FALSE(frmWelcome::exists());
    platform::Database db = platform::Database::open(dir->file("switch.mdb"));
    EXPECT_EQ(db.scalar("select f_memo from tab_oplog order by rowid desc limit 1").toString(), "退出系统");
}

TEST_F(ConsoleTest, SilentSwitchAsksAndYesStartsWithoutIt) {
    sim::SwitchOptions opt;
    opt.answerProbe = false;
    sim::Switch silent(opt);
    ASSERT_TRUE(silent.openPty());
    setting("CommDevice", silent.slavePath());
    silent.start();
    platform::script::answer("与集团电话通讯失败，是否继续?", platform::rYes);
    load();
    EXPECT_TRUE(console().tmrSys->isActive());
    EXPECT_EQ(CurTable, "MonCard");
    spin(2000, [&] {
        QStringList f;
        for (const auto& x : silent.received()) f << x.hex();
        return f.contains("960301");
    });
    QStringList frames;
    for (const auto& x : silent.received()) frames << x.hex();
    EXPECT_EQ(frames.mid(frames.size() - 2), QStringList({"84040101", "960301"}));
    EXPECT_TRUE(frames.filter(QRegularExpression("^8509")).isEmpty());
    silent.stop();
}

TEST_F(ConsoleTest, UsbSettingShowsTheUsbMenuWhateverTheModel) {
    setting("CHKUSEUSB", "1");
    auto usb = std::make_shared<sim::UsbCollectorSim>();
    platform::SetUsbCollector(usb);
    load();
    EXPECT_TRUE(ModComm::UsbCollectorChosen());
    EXPECT_TRUE(console().mnuUsb->menuAction()->isVisible());
    EXPECT_TRUE(console().mnuReadUSB[1]->isVisible());
    EXPECT_FALSE(console().mnuReadUSB[2]->isVisible());
}

// The monitor grids idle after the start-up. 退出 answered No keeps
// everything; answered Yes ends the station, asking nothing more: logged, the
// workers reset, and nothing sent to the switch.
TEST_F(ConsoleTest, IdleMonitorGridsAfterStartUpThenClosingAsksNoKeepsEverythingAndYesSendsNothing) {
    connectSwitch();
    load();
    // The station's data has its default user: the start makes no second one.
    EXPECT_EQ(dbSwitch.scalar("select count(*) from user where userid=0").toInt(), 1);
    frmPABX& f = console();
    platform::FlexGrid* ch = f.fgMon[0];
    ASSERT_EQ(ch->Rows(), 9);
    ASSERT_EQ(ch->Cols(), 10);
    const QImage idle = frmPicClip::instance().Pc.GraphicCell(24).toImage();
    for (int r = 1; r <= 8; ++r) {
        EXPECT_EQ(ch->TextMatrix(r, 0), QString::number(2 * r - 1));
        EXPECT_EQ(ch->TextMatrix(r, 5), QString::number(2 * r));
        for (int c : {1, 6}) {
            EXPECT_EQ(ch->TextMatrix(r, c), "空闲");
            EXPECT_EQ(ch->CellPictureAt(r, c).toImage(), idle);
        }
        for (int c : {2, 3, 4, 7, 8, 9}) EXPECT_EQ(ch->TextMatrix(r, c), "");
    }
    platform::FlexGrid* ports = f.fgMon[1];
    const auto cell = [](int n) { return frmPicClip::instance().Pc.GraphicCell(n).toImage(); };
    for (int board = 1; board <= 18; ++board) {
        const int r = 2 * board - 1;
        EXPECT_EQ(ports->TextMatrix(r, 0), QString::number(board));
        const int want = board <= 15 ? 0 : board <= 17 ? 48 : 21;
        for (int c = 1; c <= 8; ++c) EXPECT_EQ(ports->CellPictureAt(r, c).toImage(), cell(want)) << board;
    }
    EXPECT_EQ(ModComm::PortLamps.size(), 169);
    EXPECT_EQ(quint8(ModComm::PortLamps[119]), 0);
    EXPECT_EQ(quint8(ModComm::PortLamps[120]), 48);
    EXPECT_EQ(quint8(ModComm::PortLamps[143]), 21);

    // The legend explains the rack.
    QStringList tips;
    for (QAction* a : f.tbrLegend->actions()) tips << a->toolTip();
    EXPECT_TRUE(tips.contains("7号为音令板"));
    EXPECT_EQ(tips.size(), 6);

    dbSwitch.execute("update worker set b_active=1");
    platform::script::answer("要退出系统吗?", platform::rNo);
    EXPECT_TRUE(console().NotExit(0));
    EXPECT_TRUE(dbSwitch.isOpen());
    clearLine();
    platform::script::answer("要退出系统吗?", platform::rYes);
    EXPECT_THROW(console().NotExit(1), platform::ProgramEnded);
    EXPECT_EQ(platform::script::shown().size(), 2);
    EXPECT_EQ(tracedOrders(), 0);   // the trace lists each order the moment it goes
    EXPECT_TRUE(received().isEmpty()) << received().join(' ').toStdString();
    EXPECT_FALSE(dbSwitch.isOpen());
    EXPECT_FALSE(dbPhoneCur.isOpen());
    platform::Database db = platform::Database::open(dir->file("switch.mdb"));
    EXPECT_EQ(db.scalar("select count(*) from worker where b_active<>0").toInt(), 0);
    EXPECT_EQ(db.scalar("select f_memo from tab_oplog order by rowid desc limit 1").toString(), "退出系统");
}

TEST_F(ConsoleTest, SlotNumbersStandUnderTheirBoardsWhateverTheFont) {
    frmPABX& f = console();
    for (int pointSize : {9, 22}) {
        QFont font = f.PicMain->font();
        font.setPointSize(pointSize);
        f.PicMain->setFont(font);
        f.InitCard();
        ASSERT_EQ(f.lblCardNo.size(), 22);
        for (int i = 0; i < 22; ++i) {
            const QLabel* n = f.lblCardNo[i];
            const QRect card = f.picCard[i]->geometry();
            const QRect number(n->mapTo(f.PicMain, QPoint(0, 0)), n->size());
            EXPECT_EQ(n->text(), QString::number(i + 1));
            EXPECT_LE(std::abs(number.center().x() - card.center().x()), 1) << "slot " << i + 1;
            EXPECT_GE(number.top(), card.bottom()) << "slot " << i + 1;
            EXPECT_GE(number.width(), n->sizeHint().width()) << "slot " << i + 1;
        }
    }
}

TEST_F(ConsoleTest, SplittersStopAtTheirLimits) {
    frmPABX& f = console();
    f.show();
    f.resize(900, 700);
    QCoreApplication::processEvents();
    // Resizing the console minimises the trace window without showing it.
    ASSERT_TRUE(frmSRV::exists());
    EXPECT_FALSE(frmSRV::instance().isVisible());
    EXPECT_TRUE(frmSRV::instance().windowState() & Qt::WindowMinimized);
    f.fraDiv_MouseDown(Qt::LeftButton);
    f.fraDiv_MouseUp(Qt::LeftButton, -100000);
    EXPECT_EQ(frmPABX::Left(f.fraDiv), 100 / 15 * 15);
    EXPECT_EQ(frmPABX::Width(f.tvSwitch), frmPABX::Left(f.fraDiv));
    f.fraDiv_MouseDown(Qt::LeftButton);
    f.fraDiv_MouseUp(Qt::LeftButton, 100000);
    EXPECT_EQ(frmPABX::Left(f.fraDiv), 900 * 15 - 300);
    // Without a press nothing moves.
    f.fraDiv_MouseUp(Qt::LeftButton, -5000);
    EXPECT_EQ(frmPABX::Left(f.fraDiv), 900 * 15 - 300);

    f.fraMon_MouseDown(1, Qt::LeftButton);
    f.fraMon_MouseUp(1, Qt::LeftButton, -100000);
    EXPECT_EQ(frmPABX::Top(f.fraMon[1]), frmPABX::Top(f.fgMon[0]) + 990);
    // The console does not shrink below 8000 x 6000 twips.
    f.resize(10, 10);
    EXPECT_GE(frmPABX::Width(&f), 8000 - 15);
    EXPECT_GE(frmPABX::Height(&f), 6000 - 15);
}

}  // namespace
