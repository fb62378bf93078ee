// The navigation tree's views on a station loaded against the simulator.
#include "ConsoleFixture.h"

#include "admin/frmSysSet.h"
#include "core/ModGeneral.h"
#include "params/NavTree.h"
#include "sim/Frames.h"

#include <QApplication>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QTreeWidgetItemIterator>

using namespace consoletest;

namespace {

class TreeViews : public LoadedConsole {
protected:
    QStringList keys() {
        QStringList out;
        for (QTreeWidgetItemIterator it(console().tvSwitch); *it; ++it) out << ModSwitch::NodeKey(*it);
        return out;
    }
};

TEST_F(TreeViews, EveryTableNodeShowsItsViewWithoutError) {
    struct Want {
        const char* key;
        const char* caption;
        int right;
        const char* firstTitle;
    };
    const Want views[] = {
        {"LanHead", "本机字头", 10, "本机字头"},   {"CityHead", "市话字头", 9, "市话字头"},
        {"Router1", "路由1", 13, "物理地址"},       {"Router2", "路由2", 13, "物理地址"},
        {"ExtraHead", "附加字头", 12, "物理地址"}, {"Shrink", "缩位字头", 11, "物理地址"},
        {"Extension", "分机参数", 6, nullptr},      {"Relay", "中继参数", 8, nullptr},
        {"PabxFeeRate", "集团电话费率", 14, nullptr}, {"PabxTimes", "集团电话时段", 15, nullptr},
        {"Account", "帐号参数", 3, "物理地址"},     {"User", "用户管理", 7, "用户编号"},
        {"Awake", "叫醒服务记录", 25, "记录号"},    {"History", "操作历史记录", 24, "记录日期"},
        {"Bill", "即时话单记录", 0, "主叫名称"},    {"PortMonitor", "分机端口状态", 0, nullptr},
        {"MonCard", "板卡通道状态", 4, nullptr},
    };
    const QStringList all = keys();
    for (const Want& w : views) {
        SCOPED_TRACE(w.key);
        ASSERT_TRUE(all.contains(w.key));
        ASSERT_TRUE(console().ShowView(w.key));
        EXPECT_EQ(CurTable, w.key);
        EXPECT_EQ(console().windowTitle(), QString::fromUtf8(w.caption));
        EXPECT_EQ(console().TableRight(), w.right);
        EXPECT_EQ(status(), "") << status().toStdString();
        if (w.firstTitle) {
            EXPECT_GE(console().fgDisp->Rows(), 1);
            EXPECT_EQ(console().fgDisp->TextMatrix(0, 0).trimmed(), QString::fromUtf8(w.firstTitle));
        }
        EXPECT_EQ(console().mnuExtOption->isEnabled(), CurTable == "Extension");
        EXPECT_EQ(console().mnuRelayOption->isEnabled(), CurTable == "Relay");
        EXPECT_EQ(console().cursor().shape(), Qt::ArrowCursor);
    }
    // The parameter views hold the fresh station's rows.
    ASSERT_TRUE(console().ShowView("Account"));
    EXPECT_EQ(console().fgDisp->Rows(), 1 + 512);
    ASSERT_TRUE(console().ShowView("History"));
    EXPECT_GE(console().fgDisp->Rows(), 2);
    // No call yet: the bill list is its header and one empty row.
    ASSERT_TRUE(console().ShowView("Bill"));
    EXPECT_EQ(console().fgDisp->Rows(), 2);
    EXPECT_EQ(console().fgDisp->Cols(), 17);
    EXPECT_EQ(console().fgDisp->TextMatrix(1, 0), "");
    EXPECT_EQ(console().tvSwitch->editTriggers(), QAbstractItemView::NoEditTriggers);   // node texts stay
}

TEST_F(TreeViews, MonitorViewsSendTheirMonitorOrders) {
    ASSERT_TRUE(console().ShowView("LanHead"));
    clearLine();
    ASSERT_TRUE(console().ShowView("PortMonitor"));
    ASSERT_TRUE(console().ShowView("MonCard"));
    ASSERT_TRUE(console().ShowView("Account"));
    ASSERT_TRUE(spin(2000, [&] { return received().size() >= 3; }));
    EXPECT_EQ(received(), QStringList({"84040100", "84040101", "84040000"}));
}

// The settings window left by Esc, then closed by its title bar after a read:
// the monitor mode of the view comes back each time, and only once.
TEST_F(TreeViews, TheMonitorComesBackWhenTheSettingsWindowIsLeft) {
    sw.setRow(sim::tables::Limits, 0, sim::fromHex("8D12012C000000000000000000000000FFFF"));
    sw.setRow(sim::tables::SelCmd, 0, sim::fromHex("A80E12345FFFBC1FFFFFFFFFFFA0"));
    ASSERT_TRUE(console().ShowView("MonCard"));
    console().activateWindow();
    ASSERT_TRUE(spin(2000, [&] { return console().isActiveWindow(); }));
    clearLine();
    const auto monitor = [&] { return received().filter(QRegularExpression("^8404")); };
    platform::script::onModal("frmSysSet", [](QDialog* d) {
        d->activateWindow();
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(d, &esc);
    });
    console().findChild<QAction*>("mnuSysPara")->trigger();
    EXPECT_FALSE(frmSysSet::exists());
    // Nobody clicks the console: the view's mode comes back all the same.
    ASSERT_TRUE(spin(3000, [&] { return monitor().size() >= 2; })) << monitor().join(' ').toStdString();
    EXPECT_EQ(monitor(), QStringList({"84040000", "84040101"}));

    // The switch's settings read in the settings window, which is then closed by its title bar.
    clearLine();
    platform::script::onModal("frmSysSet", [](QDialog* d) {
        platform::script::answer("上传系统参数成功", platform::rOK);
        static_cast<frmSysSet*>(d)->cmd[1]->click();
        d->close();
    });
    console().findChild<QAction*>("mnuSysPara")->trigger();
    console().activateWindow();   // as the window system gives the activation back
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    ASSERT_TRUE(spin(3000, [&] { return monitor().size() >= 2; })) << monitor().join(' ').toStdString();
    EXPECT_EQ(monitor(), QStringList({"84040000", "84040101"}));

    // Active again with the mode as its view wants it: nothing more is sent.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(spin(2000, [&] { return other.isActiveWindow(); }));
    console().activateWindow();
    ASSERT_TRUE(spin(2000, [&] { return console().isActiveWindow(); }));
    ASSERT_TRUE(allArrived());
    EXPECT_EQ(monitor().size(), 2);
}

TEST_F(TreeViews, WindowAndGroupNodesKeepThePreviousView) {
    ASSERT_TRUE(console().ShowView("CityHead"));
    // "Balance" and "Query" open the settlement and query windows, which hold the console until they close (tests/billing);
    // "FeeRate", "Discount" and "IP" take the screen from the console (tests/pricing).
    for (const char* key : {"Head", "Parameter", "Switch"}) {
        SCOPED_TRACE(key);
        sw.clearReceived();
        ASSERT_TRUE(console().ShowView(key));
        EXPECT_EQ(CurTable, "CityHead");
        EXPECT_EQ(ModSwitch::NodeKey(console().tvSwitch->currentItem()), "CityHead");
        EXPECT_EQ(console().windowTitle(), "市话字头");
        EXPECT_TRUE(console().isVisible());
        ASSERT_TRUE(spin(2000, [&] { return received().size() >= 2; }));
        // Monitoring off while the window has the screen, then the view's own mode.
        EXPECT_EQ(received().value(0), "84040000");
    }
}

TEST_F(TreeViews, BillListTopsUpFromTheNewestArchiveMonth) {
    const int year = platform::Now().date().year();
    const QDateTime base(QDate(year, 1, 1), QTime(0, 0, 0));
    {
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < 150; ++i)
            testsupport::storeCall(dbPhoneCur, {.date = base.addSecs(60 * i), .secs = 1000 + i});
        tx.commit();
    }
    {
        platform::Database arch = platform::Database::create(dir->file(QString("PhBill_%1.mdb").arg(year)));
        arch.close();
        platform::Database a = dbSwitch.attach(dir->file(QString("PhBill_%1.mdb").arg(year)), "arch");
        dbSwitch.execute("create table arch.Tab_Ph12 as select * from phonecur.Tab_Phone where 0");
        platform::Transaction tx(dbSwitch);
        for (int i = 0; i < 300; ++i)
            dbSwitch.execute("insert into arch.Tab_Ph12(f_userid,f_date,f_long) values(0,?,?)",
                             {QDateTime(QDate(year - 1, 12, 1), QTime(0, 0, 0)).addSecs(60 * i), 5000 + i});
        tx.commit();
        a.close();
    }
    ASSERT_TRUE(console().ShowView("Bill"));
    platform::FlexGrid* g = console().fgDisp;
    ASSERT_EQ(g->Rows(), 1 + 199);
    const int longCol = 6;
    // The 49 newest archived records above the 150 current ones, newest lowest.
    EXPECT_EQ(g->TextMatrix(1, longCol), ModGeneral::SecToHMS(5000 + 251));
    EXPECT_EQ(g->TextMatrix(49, longCol), ModGeneral::SecToHMS(5000 + 299));
    EXPECT_EQ(g->TextMatrix(50, longCol), ModGeneral::SecToHMS(1000));
    EXPECT_EQ(g->TextMatrix(199, longCol), ModGeneral::SecToHMS(1000 + 149));
    EXPECT_EQ(status(), "");
}

TEST_F(TreeViews, F12OpensTheTraceWindowFromAnyControlAndTheProgressWindow) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_F12, Qt::NoModifier);
    // Only a worker holding every right may see the trace.
    ModDefine::WorkerRights = QStringList{"5"};
    QApplication::sendEvent(console().tvSwitch, &key);
    EXPECT_FALSE(frmSRV::exists() && frmSRV::instance().isVisible());
    ModDefine::WorkerRights = QStringList{"0"};
    QApplication::sendEvent(console().tvSwitch, &key);
    ASSERT_TRUE(frmSRV::exists());
    EXPECT_TRUE(frmSRV::instance().isVisible());
    EXPECT_FALSE(frmSRV::instance().windowState() & Qt::WindowMinimized);

    frmSRV::instance().hide();
    frmProgress::instance().LoadProgress(QStringLiteral("正在读取..."), true, 10, 0, false);
    QApplication::sendEvent(&frmProgress::instance(), &key);
    frmProgress::unload();
    EXPECT_TRUE(frmSRV::instance().isVisible());
}

}  // namespace
