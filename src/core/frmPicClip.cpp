#include "core/frmPicClip.h"

#include "core/ModDefine.h"
#include "platform/Clock.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <QVBoxLayout>
#include <memory>

namespace {
// Not destroyed at exit: a window must not outlive the application object.
frmPicClip* g_instance = nullptr;
constexpr int kCell = 40;

// One icon: a telephone handset on a coloured tile; the colour and a small
// mark tell the states apart.
void drawPhone(QPainter& p, const QRect& r, const QColor& tile, int mark) {
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(r.adjusted(2, 2, -2, -2), 6, 6);
    p.setBrush(QColor(30, 30, 30));
    QPainterPath handset;
    const QPointF c = r.center();
    handset.addRoundedRect(QRectF(c.x() - 12, c.y() - 8, 24, 7), 3, 3);
    handset.addRect(QRectF(c.x() - 8, c.y() - 2, 16, 10));
    p.drawPath(handset);
    p.setBrush(Qt::white);
    for (int i = 0; i < mark % 4; ++i) p.drawEllipse(QPointF(r.left() + 8 + i * 7, r.bottom() - 7), 2.5, 2.5);
}

// The console's running animation: a dial turning through three steps.
void drawRun(QPainter& p, const QRect& r, int step) {
    p.setPen(QPen(QColor(0, 110, 0), 3));
    p.setBrush(QColor(220, 255, 220));
    p.drawEllipse(r.adjusted(6, 6, -6, -6));
    p.setPen(QPen(QColor(0, 70, 0), 4, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = r.center();
    const double a = step * 2.0944;   // 120 degrees a step
    p.drawLine(c, c + QPointF(12 * std::sin(a), -12 * std::cos(a)));
}
}  // namespace

QPixmap PictureClip::GraphicCell(int n) const {
    if (n < 0 || n >= kRows * kCols || strip_.isNull()) return QPixmap();
    const int w = strip_.width() / kCols, h = strip_.height() / kRows;
    return strip_.copy((n % kCols) * w, (n / kCols) * h, w, h);
}

QPixmap frmPicClip::BuiltInStrip() {
    QPixmap pm(PictureClip::kCols * kCell, PictureClip::kRows * kCell);
    pm.fill(QColor(192, 192, 192));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    static const QColor tiles[] = {QColor(120, 200, 120), QColor(240, 220, 90), QColor(230, 110, 100),
                                   QColor(110, 160, 230), QColor(200, 200, 200), QColor(190, 130, 220)};
    for (int n = 0; n < PictureClip::kRows * PictureClip::kCols; ++n) {
        const QRect r((n % PictureClip::kCols) * kCell, (n / PictureClip::kCols) * kCell, kCell, kCell);
        if (n >= 44 && n <= 46) drawRun(p, r, n - 44);
        else drawPhone(p, r, tiles[(n / PictureClip::kCols + n) % 6], n % 4);
    }
    return pm;
}

frmPicClip& frmPicClip::instance() {
    if (!g_instance) g_instance = new frmPicClip;
    return *g_instance;
}
bool frmPicClip::exists() { return g_instance != nullptr; }
void frmPicClip::unload() {
    delete g_instance;
    g_instance = nullptr;
}

frmPicClip::frmPicClip(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPicClip"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("设置系统与交换机时间"), this);
    layout->addWidget(Label1);
    dtp = new QDateTimeEdit(this);
    dtp->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    layout->addWidget(dtp);
    Command1 = new QPushButton(QStringLiteral("确 定"), this);
    Command1->setDefault(true);
    layout->addWidget(Command1);

    Pc.setPicture(BuiltInStrip());
    const QString file = AppPath + QStringLiteral("custpic.bmp");
    if (!AppPath.isEmpty() && QFile::exists(file)) {
        QPixmap pm;
        if (pm.load(file) && !pm.isNull()) Pc.setPicture(pm);
    }
    dtp->setDateTime(platform::Now());
    // Only the operator's changes set the clock, not the load above.
    connect(dtp, &QDateTimeEdit::dateTimeChanged, this, &frmPicClip::dtp_Change);
    connect(Command1, &QPushButton::clicked, this, &frmPicClip::Command1_Click);
}

void frmPicClip::dtp_Change() { platform::SetPcClock(dtp->dateTime()); }

void frmPicClip::Command1_Click() { accept(); }
