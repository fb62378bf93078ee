// The console's clock tick: the minute probe of a silent switch, the link
// indicator and the nightly archive of the call records.
#include "ConsoleFixture.h"

#include "billing/ArchiveBills.h"
#include "core/ModGeneral.h"

#include <QLabel>
#include <QTimer>

using namespace consoletest;

namespace {

class ClockTick : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        connectSwitch();
        now = QDateTime(QDate(2026, 6, 15), QTime(1, 0, 0));
        platform::testing::setNow([this] { return now; });
        load();
        // The tests give the ticks themselves.
        console().tmrSys->stop();
        console().show();
        clearLine();
    }
    void tickAt(const QTime& t, int dayOffset = 0) {
        now = QDateTime(QDate(2026, 6, 15).addDays(dayOffset), t);
        console().tmrSys_Timer();
    }
    // The probes on the line, once every probe the trace lists has reached the switch.
    int probes() {
        EXPECT_TRUE(spin(30000, [&] { return int(sw.receivedWith("830300").size()) >= tracedSends("830300"); }));
        return int(sw.receivedWith("830300").size());
    }
    qint64 current() { return dbPhoneCur.scalar("select count(*) from Tab_Phone").toLongLong(); }
    void addRecord(const QDateTime& when) {
        testsupport::storeCall(dbPhoneCur, {.date = when});
    }
    qint64 archived(int month) {
        platform::Database a = platform::Database::open(dir->file("PhBill_2026.mdb"));
        return a.scalar(QString("select count(*) from Tab_Ph%1").arg(month)).toLongLong();
    }
    QDateTime now;
};

TEST_F(ClockTick, ShowsTheTimeTurnsTheIndicatorAndProbesOnlyAfterSixSilentTicks) {
    g_NoAnswerCount = 0;
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(console().sbrInfo->panelText(3), "2026-06-15 10:00:00");
    EXPECT_EQ(probes(), 0);
    EXPECT_EQ(g_NoAnswerCount, 1);
    tickAt(QTime(10, 0, 1));
    const QImage a = console().picRun->pixmap().toImage();
    tickAt(QTime(10, 0, 2));
    const QImage b = console().picRun->pixmap().toImage();
    EXPECT_EQ(a, frmPicClip::instance().Pc.GraphicCell(45).toImage());
    EXPECT_EQ(b, frmPicClip::instance().Pc.GraphicCell(46).toImage());
    for (int s = 3; s <= 5; ++s) tickAt(QTime(10, 0, s));
    EXPECT_EQ(g_NoAnswerCount, 6);
    const QImage silent = console().picRun->pixmap().toImage();
    tickAt(QTime(10, 0, 6));
    EXPECT_EQ(g_NoAnswerCount, 6);   // stays until the next good frame
    EXPECT_EQ(console().picRun->pixmap().toImage(), silent);   // the indicator stands still
    EXPECT_EQ(probes(), 0);          // not at second 6
    tickAt(QTime(10, 1, 0));
    EXPECT_EQ(probes(), 1);
}

TEST_F(ClockTick, TheClockKeepsAllItsDigitsInASmallWindow) {
    console().resize(1024, 720);
    tickAt(QTime(20, 58, 48));
    QLabel* clock = nullptr;
    for (QLabel* l : console().sbrInfo->findChildren<QLabel*>())
        if (l->text() == "2026-06-15 20:58:48") clock = l;
    ASSERT_NE(clock, nullptr);
    // Laid out again once the events of the resize and the new text have run.
    spin(30000, [&] { return clock->contentsRect().width() >= clock->fontMetrics().horizontalAdvance(clock->text()); });
    EXPECT_GE(clock->contentsRect().width(), clock->fontMetrics().horizontalAdvance(clock->text()));
}

TEST_F(ClockTick, NoProbeWhileTheConsoleIsHiddenOrDisabled) {
    g_NoAnswerCount = 10;
    console().hide();
    tickAt(QTime(10, 2, 0));
    console().show();
    console().setEnabled(false);
    tickAt(QTime(10, 3, 0));
    console().setEnabled(true);
    EXPECT_EQ(probes(), 0);
    g_UsbError = true;
    tickAt(QTime(10, 4, 0));
    EXPECT_FALSE(g_UsbError);
    EXPECT_EQ(probes(), 1);
}

TEST_F(ClockTick, TalkTimeRunOutIsCutOnTheTick) {
    MonSlot& slot = MonSlots[3];
    slot.UserID = 7;
    slot.ExtAddr = 5;
    slot.LimitSet = 1;
    slot.EndTime = QDateTime(QDate(2026, 6, 15), QTime(10, 0, 0));
    tickAt(QTime(9, 59, 59));
    ASSERT_TRUE(allArrived());
    EXPECT_TRUE(sw.receivedWith("9207").empty());
    tickAt(QTime(10, 0, 1));
    tickAt(QTime(10, 0, 2));
    ASSERT_TRUE(allArrived());
    ASSERT_EQ(sw.receivedWith("9207").size(), 1u);
    EXPECT_EQ(sw.receivedWith("9207")[0].hex(), "92070005000003");
}

// The nightly archive runs once a day from the first tick at two that comes
// outside any wait and any progress window; a start-up's archive before two
// leaves it due.
TEST_F(ClockTick, NightlyArchiveRunsOnceADayFromTheFirstTickAtTwoOutsideAnyWait) {
    console().RunArchive();   // as a start-up at one would
    EXPECT_TRUE(console().ArchiveDue(QDateTime(QDate(2026, 6, 15), QTime(2, 0, 0))));
    addRecord(QDateTime(QDate(2026, 6, 10), QTime(8, 0, 0)));
    tickAt(QTime(1, 59, 59));
    EXPECT_EQ(current(), 1);
    // The tick of 02:00:00 itself was missed; the next one archives.
    tickAt(QTime(2, 0, 3));
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(archived(6), 1);
    addRecord(QDateTime(QDate(2026, 6, 15), QTime(2, 0, 3)));
    tickAt(QTime(2, 0, 4));
    tickAt(QTime(23, 59, 59));
    EXPECT_EQ(current(), 1);
    // The next night, a tick that runs inside a wait does not archive.
    bool ticked = false;
    QTimer::singleShot(0, [&] {
        tickAt(QTime(2, 0, 0), 1);
        ticked = true;
    });
    ModGeneral::Delay(50);
    ASSERT_TRUE(ticked);
    EXPECT_EQ(current(), 1);
    // Nor one while a progress window is up.
    frmProgress::instance().LoadProgress("x", false, 10, 0, false);
    tickAt(QTime(2, 0, 1), 1);
    EXPECT_EQ(current(), 1);
    frmProgress::unload();
    tickAt(QTime(2, 0, 2), 1);
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(archived(6), 2);
}

}  // namespace
