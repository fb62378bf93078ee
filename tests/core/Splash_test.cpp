#include "core/ModDefine.h"
#include "core/frmPicClip.h"
#include "core/frmWelcome.h"
#include "platform/Clock.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace {

class SplashTest : public testsupport::StationTest {
protected:
    void TearDown() override {
        frmWelcome::unload();
        frmPicClip::unload();
        StationTest::TearDown();
    }
};

TEST_F(SplashTest, StagesAndTheTimerMoveTheBarAndKeepThePromptAndThePictureIsFromTheProgramDirectoryOrBuiltIn) {
    frmWelcome& w = frmWelcome::instance();
    w.SetValue(5, "正在检查系统文件...");
    EXPECT_EQ(w.pbr->value(), 5);
    w.SetValue(100, "");
    EXPECT_EQ(w.pbr->value(), 100);
    EXPECT_EQ(w.lblPrompt->text(), "正在检查系统文件...");
    w.SetValue(101, "x");   // 101 mod 101 is 0, below the bar's minimum: refused
    EXPECT_EQ(w.pbr->value(), 100);

    // The timer creeps, but stops at the top.
    EXPECT_FALSE(w.Timer1->isActive());
    w.SetValue(50, "");
    w.Timer1_Timer();
    EXPECT_EQ(w.pbr->value(), 52);
    w.SetValue(99, "");
    w.Timer1_Timer();
    EXPECT_EQ(w.pbr->value(), 99);
    w.SetValue(100, "");
    w.Timer1_Timer();
    EXPECT_EQ(w.pbr->value(), 100);
    w.setToMax(97);
    EXPECT_EQ(w.pbr->value(), 100);

    // The picture comes from the program directory, or is the built-in one.
    const QSize builtIn = frmWelcome::BuiltInPicture().size();
    EXPECT_EQ(frmWelcome::instance().pic->pixmap().size(), builtIn);
    EXPECT_EQ(frmWelcome::instance().height(), builtIn.height() + frmWelcome::instance().fra->height());
    frmWelcome::unload();
    QPixmap small(200, 100);
    small.fill(Qt::red);
    ASSERT_TRUE(small.save(AppPath + "welcome.jpg", "JPG"));
    EXPECT_EQ(frmWelcome::instance().pic->pixmap().size(), QSize(200, 100));
    EXPECT_EQ(frmWelcome::instance().width(), 200);
    frmWelcome::unload();
    testsupport::writeBytes(AppPath + "welcome.jpg", "not a picture");
    EXPECT_EQ(frmWelcome::instance().pic->pixmap().size(), builtIn);
}

TEST_F(SplashTest, IconStripCellsRowByRowFromTheProgramDirectoryOrBuiltInAndTheClockDialogSetsThePcClockOnlyOnChanges) {
    platform::testing::setNow([] { return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)); });
    PictureClip pc;
    QPixmap strip(12 * 3, 6 * 2);
    QImage img(strip.size(), QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) img.setPixel(x, y, qRgb(x / 3, y / 2, 0));
    pc.setPicture(QPixmap::fromImage(img));
    EXPECT_EQ(pc.GraphicCell(0).toImage().pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(pc.GraphicCell(13).toImage().pixel(0, 0), qRgb(1, 1, 0));
    EXPECT_EQ(pc.GraphicCell(71).toImage().pixel(2, 1), qRgb(11, 5, 0));
    EXPECT_EQ(pc.GraphicCell(71).size(), QSize(3, 2));
    EXPECT_TRUE(pc.GraphicCell(72).isNull());
    EXPECT_EQ(frmPicClip::BuiltInStrip().size(), QSize(480, 240));

    // A strip in the program directory replaces the built-in one.
    img = QImage(120, 60, QImage::Format_RGB32);
    img.fill(Qt::blue);
    ASSERT_TRUE(img.save(AppPath + "custpic.bmp", "BMP"));
    EXPECT_EQ(frmPicClip::instance().Pc.GraphicCell(44).size(), QSize(10, 10));

    // Its clock dialog sets the PC's clock only on changes.
    frmPicClip& c = frmPicClip::instance();
    EXPECT_EQ(c.dtp->dateTime(), QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)));
    EXPECT_EQ(c.Label1->text(), "设置系统与交换机时间");
    c.Command1_Click();
    EXPECT_TRUE(platform::testing::pcClockRequests().isEmpty());
    c.dtp->setDateTime(QDateTime(QDate(2026, 3, 4), QTime(6, 6, 7)));
    c.dtp->setDateTime(QDateTime(QDate(2026, 3, 5), QTime(6, 6, 7)));
    ASSERT_EQ(platform::testing::pcClockRequests().size(), 2);
    EXPECT_EQ(platform::testing::pcClockRequests()[1], QDateTime(QDate(2026, 3, 5), QTime(6, 6, 7)));
}

}  // namespace
