#include "params/BoardPanel.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/frmPicClip.h"
#include "link/Monitor.h"
#include "platform/FlexGrid.h"
#include "platform/Twips.h"

#include <QPainter>

namespace ModSwitch {

namespace {

constexpr quint32 kSpareColor = 0x808080;
constexpr quint32 kFreeLamp = 0x00FF00;
constexpr quint32 kBusyLamp = 0x0000FF;
constexpr quint32 kSpecPhoneColor = 0x00FFFF;

using platform::px;

// The slot picture as designed: 300 x 1785 twips.
constexpr int kSlotWidth = px(300);
constexpr int kSlotHeight = px(1785);

}  // namespace

bool CardKind(int code, quint32* color, QString* name) {
    quint32 c = 0;
    QString n;
    switch (code) {
    case 0: c = 0x800000; n = QStringLiteral("用户板"); break;
    case 1: c = 0x008000; n = QStringLiteral("中继板"); break;
    case 8: c = 0xFFFFFF; n = QStringLiteral("音令板"); break;
    case 10: c = 0x800080; n = QStringLiteral("来显板"); break;
    case 11: c = kSpecPhoneColor; n = QStringLiteral("专用电话"); break;
    case 15: c = kSpareColor; n = QStringLiteral("空余板"); break;
    default: return false;
    }
    if (color) *color = c;
    if (name) *name = n;
    return true;
}

void LoadCards() {
    using ModComm::CardList;
    if (CardList.size() < 22) CardList.resize(22);
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select * from moncard order by cardlayer,cardorder"));
    ModComm::SpecPhoneCount = 0;
    int i = 0;
    // A 23rd row has no slot in the rack.
    for (rs.moveFirst(); !rs.eof() && i < 22; rs.moveNext(), ++i) {
        CardRec& slot = CardList[i];
        slot.Reserved = 0;
        slot.Fitted = -1;
        const int disp = static_cast<int>(rs.lng(QStringLiteral("dispcard")));
        CardKind(disp, &slot.Color, &slot.KindName);   // an unknown kind keeps the slot's colour and text
        if (disp == 11) ++ModComm::SpecPhoneCount;
        if (disp == 15) slot.Fitted = 0;
        CardKind(static_cast<int>(rs.lng(QStringLiteral("defaultcard"))), &slot.DefColor, nullptr);
    }
    core::RefreshBoard();
    for (int s = 0; s < 22; ++s) SetCardColor(s, CardList[s].Color, 0);
}

// Lamp i sits (2i - 1) x 100 twips down the slot, 72 twips in radius, in the
// middle of the slot's width.
QPoint LampCentre(int lamp) { return {px(2 * 72), px((2 * lamp - 1) * 100)}; }

void SetCardColor(int card, quint32 color, quint8 portMask) {
    core::Console* c = core::TheConsole();
    if (!c || card < 0 || card >= c->picCard.size()) return;
    QLabel* pic = c->picCard[card];
    QPixmap pm(qMax(pic->width(), kSlotWidth), qMax(pic->height(), kSlotHeight));
    pm.fill(platform::vbColor(color));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Slots 0, 1, 3 and 4 carry four-port trunk boards: odd lamps only.
    const bool fourPorts = card < 5 && card != 2;
    const int radius = px(72);
    for (int i = 1; i <= 8; ++i) {
        if (fourPorts && i % 2 == 0) continue;
        quint32 lamp = color == kSpareColor ? kSpareColor : kFreeLamp;
        if (portMask & (1u << (i - 1))) lamp = kBusyLamp;
        const QPoint c = LampCentre(i);
        p.setPen(Qt::black);
        p.setBrush(platform::vbColor(lamp));
        p.drawEllipse(c, radius, radius);
        if (color == kSpecPhoneColor && i == 4) break;
    }
    p.end();
    QPalette pal = pic->palette();
    pal.setColor(QPalette::Window, platform::vbColor(color));
    pic->setPalette(pal);
    pic->setPixmap(pm);
}

QPixmap MonitorIcon(int cell) { return frmPicClip::instance().Pc.GraphicCell(cell); }

}  // namespace ModSwitch
