#pragma once
// The console loaded in the test's process against the switch simulator on a
// pseudo-terminal, with scripted prompts and a clock that tests may set.
#include "console/frmPABX.h"
#include "core/books/ChargeLog.h"
#include "core/MDIMain.h"
#include "core/ModDefine.h"
#include "core/frmPicClip.h"
#include "core/frmProgress.h"
#include "core/frmWelcome.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "link/frmSRV.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/FlexGrid.h"
#include "platform/Prompts.h"
#include "platform/UsbCollector.h"
#include "sim/Switch.h"
#include "sim/UsbCollectorSim.h"
#include "support/Fixtures.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <functional>

namespace consoletest {

// A call-record engine that only remembers what it was given.
class RecordingSink : public MonitorSink {
public:
    bool Record(const QByteArray& frame, bool bLive) override {
        records << frame;
        live << bLive;
        return true;
    }
    void Monitor(const QByteArray&) override {}
    void UpdateMonitor(int, platform::Currency) override {}
    QList<QByteArray> records;
    QList<bool> live;
};

// Runs window events for `ms` milliseconds, or until `done` holds.
inline bool spin(int ms, const std::function<bool()>& done = {}) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (done && done()) return true;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return done ? done() : true;
}

// Runs what the events sent so far have queued behind them (the grid answers
// a double click from a zero-time timer): a zero-time timer queued now fires
// after theirs.
inline void drain() {
    QObject marker;
    bool fired = false;
    QTimer::singleShot(0, &marker, [&] { fired = true; });
    spin(30000, [&] { return fired; });
}

class ConsoleTest : public testsupport::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        // The trace is counted from the start of the test: a trace an earlier
        // fixture in this process left standing would count its orders too.
        frmSRV::unload();
        ModComm::InitFrameTable();
        ModComm::ResetLink();
        // The clock dialog of the start-up is confirmed as it comes.
        platform::script::onModal(QStringLiteral("frmPicClip"), [](QDialog* d) { d->accept(); });
    }
    void TearDown() override {
        if (frmPABX::exists()) {
            frmPABX::instance().tmrSys->stop();
            frmPABX::instance().tmrCom->stop();
        }
        MDIMain::unload();
        frmPABX::unload();
        frmWelcome::unload();
        frmProgress::unload();
        frmSRV::unload();
        frmPicClip::unload();
        sw.stop();
        platform::SetUsbCollector(nullptr);
        SetMonitorSink(nullptr);
        StationTest::TearDown();
    }
    // A setting written before the station opens its database.
    void setting(const QString& key, const QString& value) {
        platform::Database db = platform::Database::open(dir->file("switch.mdb"));
        db.execute("delete from Variant where varname=?", {key});
        db.execute("insert into Variant(varname,value) values(?,?)", {key, value});
    }
    // The simulated switch on the line the station opens.
    void connectSwitch() {
        ASSERT_TRUE(sw.openPty());
        setting("CommDevice", sw.slavePath());
        sw.start();
    }
    // How many orders beginning with `hex` the station has sent so far, as its
    // trace lists each the moment it goes (the switch hears them later).
    int tracedSends(const QString& hex) {
        const QString spaced = QStringLiteral("->") + ModComm::SpaceHex(hex);
        int n = 0;
        for (const QString& line : frmSRV::instance().lstRec->lines()) n += line.contains(spaced) ? 1 : 0;
        return n;
    }
    void load() { frmPABX::instance().Form_Load(); }
    frmPABX& console() { return frmPABX::instance(); }
    platform::FlexGrid& grid() { return *console().fgDisp; }
    QString status() { return console().sbrInfo->panelText(2); }
    // The toolbar's command for `key` (退出 is "Exit"), and its button as the operator clicks it.
    QAction* toolAction(const QString& key) {
        for (QAction* a : console().tbrSwitch->actions())
            if (a->data().toString() == key) return a;
        return nullptr;
    }
    QWidget* toolButton(const QString& key) { return console().tbrSwitch->widgetForAction(toolAction(key)); }
    // The operator's mouse on the grid (a move drags with `b` held), and a double click on cell (r, c).
    void mouse(QEvent::Type type, const QPoint& p, Qt::MouseButton b = Qt::LeftButton,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, p, grid().viewport()->mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : b,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(b), mods);
        QApplication::sendEvent(grid().viewport(), &e);
    }
    QPoint at(int r, int c) { return grid().visualRect(grid().model()->index(r, c)).center(); }
    void doubleClickCell(int r, int c) {
        const QModelIndex ix = grid().model()->index(r, c);
        grid().scrollTo(ix);
        const QPoint p = grid().visualRect(ix).center();
        mouse(QEvent::MouseButtonPress, p);
        mouse(QEvent::MouseButtonRelease, p);
        mouse(QEvent::MouseButtonDblClick, p);
        mouse(QEvent::MouseButtonRelease, p);
    }
    // The frames the switch received, as hex without their checksum.
    QStringList received() {
        QStringList out;
        for (const sim::Frame& f : sw.received()) out << f.hex();
        return out;
    }
    static platform::Currency money(const char* t) { return *platform::Currency::parse(QString::fromLatin1(t)); }
    // A call's charge of `fee` to `user`, leaving `remain`, entered in the journal; its number there.
    static qint64 logCharge(int user, const char* fee, const char* remain) {
        platform::Transaction tx(dbSwitch);
        const qint64 seq = ModSwitch::LogCharge(user, money(fee), money(remain), 5, "2026-06-15 09:00:00");
        tx.commit();
        return seq;
    }
    // The text of the last box shown.
    static QString lastShown() {
        const auto& s = platform::script::shown();
        return s.isEmpty() ? QString() : s.last().text;
    }
    // Runs what is queued, then waits until the line has carried every order the station wrote.
    void settled() {
        drain();
        ASSERT_TRUE(allArrived()) << "the line did not carry the station's orders";
    }
    // Waits until `n` frames starting with `hex` have reached the switch since
    // the last clearReceived(): an order sent without a wait may still be on
    // its way when the command that sent it returns, and the command's last
    // order arriving means every order before it has. The bound only keeps a
    // failing test from hanging.
    bool arrived(const QString& hex, size_t n = 1) {
        return spin(30000, [&] { return sw.receivedWith(hex).size() >= n; });
    }
    // `frames` less the link probe the console's clock timer sends by itself
    // while the switch has been silent (tmrSys_Timer, on the minute): it may
    // come between any other orders.
    static QStringList besidesProbes(QStringList frames) {
        frames.removeAll(QStringLiteral("830300"));
        return frames;
    }
    // Waits until every order the station's trace lists has reached the
    // switch: both count from the start of the test, or from clearLine().
    bool allArrived() {
        return spin(30000, [&] { return besidesProbes(received()).size() >= tracedOrders(); });
    }
    // Forgets, once it has all arrived, what the switch received and what the
    // trace lists, so that what comes next is counted alike on both sides.
    void clearLine() {
        ASSERT_TRUE(allArrived()) << "the line did not carry the station's orders";
        sw.clearReceived();
        frmSRV::instance().lstRec->clear();
    }
    // The orders the station has put on the line so far, as its trace lists
    // them the moment they go, less the clock timer's probe.
    int tracedOrders() {
        const QString probe = QStringLiteral("->") + ModComm::SpaceHex(QStringLiteral("830300"));
        int n = 0;
        for (const QString& line : frmSRV::instance().lstRec->lines())
            n += line.contains(QStringLiteral("->")) && !line.contains(probe) ? 1 : 0;
        return n;
    }

    sim::Switch sw;
};

// The console loaded on the simulator and shown, the start-up's orders
// carried, for a worker holding every right.
class LoadedConsole : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        connectSwitch();
        load();
        WorkerRights = {QStringLiteral("0")};
        console().resize(1000, 700);
        console().show();
        ASSERT_TRUE(allArrived());
    }
};

}  // namespace consoletest
