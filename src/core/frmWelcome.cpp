#include "core/frmWelcome.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/Clock.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <memory>

namespace {
// Not destroyed at exit: a window must not outlive the application object.
frmWelcome* g_instance = nullptr;
}

using platform::px;

frmWelcome& frmWelcome::instance() {
    if (!g_instance) g_instance = new frmWelcome;
    return *g_instance;
}
bool frmWelcome::exists() { return g_instance != nullptr; }
void frmWelcome::unload() {
    delete g_instance;
    g_instance = nullptr;
}

QPixmap frmWelcome::BuiltInPicture() {
    QPixmap pm(480, 300);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 300);
    g.setColorAt(0, QColor(20, 60, 120));
    g.setColorAt(1, QColor(120, 180, 230));
    p.fillRect(pm.rect(), g);
    // A few exchange lines fanning out from a switch box.
    p.setPen(QPen(QColor(255, 255, 255, 140), 2));
    for (int i = 0; i < 7; ++i) p.drawLine(90, 150, 400, 40 + i * 35);
    p.setBrush(QColor(240, 240, 240));
    p.setPen(QPen(QColor(30, 30, 30), 2));
    p.drawRoundedRect(40, 110, 100, 80, 8, 8);
    for (int i = 0; i < 4; ++i) p.fillRect(52 + i * 22, 125, 14, 50, QColor(40, 120, 60));
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPointSize(26);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(160, 200, 300, 50), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Tarvo"));
    return pm;
}

frmWelcome::frmWelcome(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmWelcome"));
    pic = new QLabel(this);
    pic->setPixmap(BuiltInPicture());
    fra = new QFrame(this);
    fra->setFrameShape(QFrame::Panel);
    fra->setAutoFillBackground(true);
    lblPrompt = new QLabel(fra);
    pbr = new QProgressBar(fra);
    pbr->setMinimum(1);
    pbr->setMaximum(100);
    pbr->setTextVisible(false);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &frmWelcome::Timer1_Timer);

    // Load: our picture beside the program replaces the built-in one.
    const QString file = AppPath + QStringLiteral("welcome.jpg");
    if (!AppPath.isEmpty() && QFile::exists(file)) {
        QPixmap pm;
        if (pm.load(file) && !pm.isNull()) pic->setPixmap(pm);
    }
    layoutWindow();
    QCoreApplication::processEvents();
}

void frmWelcome::SetValue(qint32 nValue, const QString& prompt) {
    if (!prompt.isEmpty()) lblPrompt->setText(prompt);
    pbr->setValue(nValue % (pbr->maximum() + 1));
    ModGeneral::Delay(100);
}

void frmWelcome::setToMax(qint32 nFrom) {
    if (nFrom < pbr->minimum() || nFrom > pbr->maximum()) return;
    for (qint32 v = nFrom; v <= pbr->maximum(); ++v) {
        pbr->setValue(v);
        ModGeneral::Delay(10);
    }
}

// A value past the maximum is refused by the bar, so it stops at or below 100.
void frmWelcome::Timer1_Timer() { pbr->setValue(pbr->value() + 2); }

void frmWelcome::layoutWindow() {
    const QSize picSize = pic->pixmap().size();
    pic->setGeometry(0, 0, picSize.width(), picSize.height());
    const int fraH = px(600);
    const int w = picSize.width();
    const int frameW = w - px(50);
    fra->setGeometry(0, picSize.height() - px(50), frameW, fraH);
    lblPrompt->setGeometry(4, 2, frameW, fraH / 2 - 2);
    pbr->setGeometry(4, fraH / 2, frameW - px(90), fraH / 2 - 4);
    pic->raise();
    setFixedSize(w, fraH + picSize.height());
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect r = s->availableGeometry();
        move(r.x() + (r.width() - width()) / 2, r.y() + (r.height() - height()) / 2);
    }
}
