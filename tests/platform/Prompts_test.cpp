// Boxes shown for real (not scripted): their standard buttons speak Chinese.
#include "platform/Prompts.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <functional>

namespace {

// Shows `text` in a real box and hands the box, once it stands, to `onBox`;
// a box nobody answered is closed so that it cannot hold the test forever.
int showBox(const QString& text, int buttons, const std::function<void(QWidget*)>& onBox) {
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible()) return;
        poll.stop();
        onBox(w);
    });
    poll.start();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    guard.start(10000);
    return platform::MsgBox(text, buttons, QStringLiteral("DE Duzariv"));
}

// Shows a real box, reads its buttons' texts (mnemonics taken out) and closes
// it with the last button.
QStringList buttonTexts(int buttons) {
    QStringList texts;
    showBox(QStringLiteral("要退出系统吗?"), buttons, [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        const QList<QAbstractButton*> list = box ? box->buttons() : QList<QAbstractButton*>();
        for (QAbstractButton* b : list) texts << b->text().remove(QLatin1Char('&'));
        if (!list.isEmpty()) list.last()->click();
    });
    texts.sort();
    return texts;
}

// Real boxes, not scripted ones, with Qt's Chinese texts.
class ReportBox : public ::testing::Test {
protected:
    void SetUp() override {
        scripted_ = platform::script::enabled();
        platform::script::disable();
        platform::InstallChineseQtTexts();
    }
    void TearDown() override {
        if (scripted_) platform::script::enable();
    }
    bool scripted_ = false;
};
using ChineseButtons = ReportBox;

TEST_F(ChineseButtons, QuestionBoxesReadAsAChineseDesktopShowsThem) {
    ASSERT_TRUE(platform::InstallChineseQtTexts()) << "Qt's Chinese translation is not installed";
    EXPECT_EQ(buttonTexts(platform::mbYesNo | platform::mbQuestion), (QStringList{"否(N)", "是(Y)"}));
    EXPECT_EQ(buttonTexts(platform::mbOKCancel), (QStringList{"取消", "确定"}));
}

// A report naming 200 users, one a line, as a restore tells them.
QString report200() {
    QStringList lines{QStringLiteral("以下用户的余额与备份不同，已按记账记录改正：")};
    for (int i = 1; i <= 200; ++i) lines << QStringLiteral("用户%1 张%1：余额 %1.00").arg(i);
    lines << QStringLiteral("请核对。");
    return lines.join(QLatin1Char('\n'));
}

struct ReportSeen {
    bool found = false;
    QRect screen, box, button;
    QString text;
    bool readOnly = false;
    QString copied;
};

// Shows `text` for real and, once the box stands, measures it and presses
// its standard button `press` as the operator does, with the mouse.
int showAndPress(const QString& text, int buttons, QDialogButtonBox::StandardButton press, ReportSeen* seen) {
    return showBox(text, buttons, [&](QWidget* w) {
        // A plain message box has its buttons in a button box too: it is
        // measured alike, and found wanting.
        auto* area = w->findChild<QPlainTextEdit*>();
        auto* bar = w->findChild<QDialogButtonBox*>();
        QAbstractButton* b = bar ? bar->button(press) : nullptr;
        seen->found = area && platform::IsMessageBox(w);
        seen->screen = w->screen()->availableGeometry();
        seen->box = w->frameGeometry();
        if (b) seen->button = QRect(b->mapToGlobal(QPoint(0, 0)), b->size());
        if (area) {
            seen->text = area->toPlainText();
            seen->readOnly = area->isReadOnly();
            area->selectAll();
            area->copy();
            seen->copied = QApplication::clipboard()->text();
        }
        if (b) QTest::mouseClick(b, Qt::LeftButton);
        else w->close();
    });
}


// The station's screen is 1024x768 (the tests of this folder run on one):
// the box of a 200-line report stands on it whole, OK inside it, every line
// in a text area the operator can select and copy, and OK answers OK.
TEST_F(ReportBox, TwoHundredLinesStandOnTheScreenWithOKOnItAndOKAnswers) {
    const QString text = report200();
    ReportSeen seen;
    EXPECT_EQ(showAndPress(text, platform::mbOKOnly | platform::mbInformation, QDialogButtonBox::Ok, &seen), platform::rOK);
    if (QGuiApplication::primaryScreen()->geometry().size() != QSize(1024, 768))
        std::printf("note: screen %dx%d, not 1024x768\n", QGuiApplication::primaryScreen()->geometry().width(),
                    QGuiApplication::primaryScreen()->geometry().height());
    const auto rect = [](const QRect& r) {
        return QStringLiteral("%1x%2 at (%3,%4)").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y()).toStdString();
    };
    EXPECT_TRUE(seen.screen.contains(seen.box)) << "box " << rect(seen.box) << " on " << rect(seen.screen);
    EXPECT_TRUE(seen.screen.contains(seen.button)) << "OK " << rect(seen.button) << " on " << rect(seen.screen);
    ASSERT_TRUE(seen.found) << "a plain message box was shown";
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.text.count(QLatin1Char('\n')) + 1, 202);
    EXPECT_TRUE(seen.readOnly);
    EXPECT_EQ(seen.copied, text);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A question over a long list keeps its answers: 否 answers No, 是 Yes, and
// a short box is the plain one it always was.
TEST_F(ReportBox, ALongQuestionKeepsItsAnswersAndAShortBoxStaysPlain) {
    const QString text = report200() + QStringLiteral("\n要继续吗?");
    ReportSeen no, yes;
    EXPECT_EQ(showAndPress(text, platform::mbYesNo | platform::mbQuestion, QDialogButtonBox::No, &no), platform::rNo);
    EXPECT_TRUE(no.found);
    EXPECT_TRUE(no.screen.contains(no.button));
    EXPECT_EQ(showAndPress(text, platform::mbYesNo | platform::mbQuestion, QDialogButtonBox::Yes, &yes), platform::rYes);
    EXPECT_TRUE(yes.found);

    bool plain = false;
    QTimer::singleShot(0, [&] {
        QWidget* w = QApplication::activeModalWidget();
        plain = qobject_cast<QMessageBox*>(w) != nullptr;
        if (w) w->close();
    });
    EXPECT_EQ(platform::MsgBox(QStringLiteral("备份成功\n共3条"), platform::mbOKOnly), platform::rOK);
    EXPECT_TRUE(plain);
}

}  // namespace
