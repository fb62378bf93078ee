// Boxes shown for real (not scripted): their standard buttons speak Chinese.
#include "platform/Prompts.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Shows a real box, reads its buttons' texts (mnemonics taken out) and closes
// it with the last button.
QStringList buttonTexts(int buttons) {
    QStringList texts;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll.stop();
        const QList<QAbstractButton*> list = box->buttons();
        for (QAbstractButton* b : list) texts << b->text().remove(QLatin1Char('&'));
        if (!list.isEmpty()) list.last()->click();
    });
    poll.start();
    // A box whose buttons were never read must not hold the test forever.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    guard.start(5000);
    platform::MsgBox(QStringLiteral("要退出系统吗?"), buttons, QStringLiteral("DE Duzariv"));
    texts.sort();
    return texts;
}

TEST(ChineseButtons, QuestionBoxesReadAsAChineseDesktopShowsThem) {
    const bool scripted = platform::script::enabled();
    platform::script::disable();
    ASSERT_TRUE(platform::InstallChineseQtTexts()) << "Qt's Chinese translation is not installed";
    EXPECT_EQ(buttonTexts(platform::mbYesNo | platform::mbQuestion), (QStringList{"否(N)", "是(Y)"}));
    EXPECT_EQ(buttonTexts(platform::mbOKCancel), (QStringList{"取消", "确定"}));
    if (scripted) platform::script::enable();
}

}  // namespace
