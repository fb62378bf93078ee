#include "link/Monitor.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "link/FrameReader.h"
#include "params/BoardPanel.h"
#include "params/TableViews.h"

namespace ModComm {

namespace {

// A kept state report ("970A", "990B") as far as it came: the bytes it lacks read as 0, idle.
FrameReader stateReport(const QByteArray& frame) { return FrameReader(FrameReader::Padded(frame, 12, 0)); }

// Ports of a half board (four lamps): four bytes light lamps 1, 3, 5 and 7.
quint8 halfMask(const QByteArray& frame, int first) {
    const FrameReader f = stateReport(frame);
    quint8 m = 0;
    for (int k = 0; k < 4; ++k)
        if (f.byte(first + k) != 0) m |= static_cast<quint8>(1u << (2 * k));
    return m;
}

void paintIfFitted(int slot, quint32 color, quint8 mask) {
    if (slot < CardList.size() && CardList[slot].Fitted != 0) ModSwitch::SetCardColor(slot, color, mask);
}

platform::FlexGrid* monGrid(int index) {
    core::Console* c = core::TheConsole();
    return c && index < c->fgMon.size() ? c->fgMon[index] : nullptr;
}

}  // namespace

quint8 PortBusyMask(const QByteArray& frame) {
    const FrameReader f = stateReport(frame);
    quint8 m = 0;
    for (int k = 0; k < 8; ++k)
        if (f.byte(3 + k) != 0) m |= static_cast<quint8>(1u << k);
    return m;
}

void ShowCardPorts(int card) {
    if (card < 0 || card >= CardStates.size() || CardList.size() < 22) return;
    const QByteArray& f = CardStates[card].Data;
    const quint8 mask = PortBusyMask(f);
    if (card <= 14) {
        paintIfFitted(card + 7, CardList[card + 7].Color, mask);
    } else if (card == 15 || card == 16) {
        const int whole = card == 15 ? 2 : 5;
        const int firstHalf = card == 15 ? 0 : 3;
        paintIfFitted(whole, CardList[whole].DefColor, mask);
        paintIfFitted(firstHalf, CardList[firstHalf].DefColor, halfMask(f, 3));
        paintIfFitted(firstHalf + 1, CardList[firstHalf + 1].DefColor, halfMask(f, 7));
    } else if (card == 17) {
        ModSwitch::SetCardColor(6, CardList[6].DefColor, mask);
    }
}

void ShowPortList() {
    platform::FlexGrid* grid = monGrid(0);
    if (!grid) return;
    grid->setRedraw(false);
    for (int ch = 0; ch < PortStates.size() && ch < 16; ++ch) {
        StatusFrame& s = PortStates[ch];
        const FrameReader f = stateReport(s.Data);
        const int state = f.byte(3);
        if (state == s.ShownState) continue;
        s.ShownState = state;
        // The channel's own slot in the list, which is the frame's channel byte.
        ModSwitch::ShowPortState(ch, state, f.byte(5), f.byte(7), f.byte(9));
    }
    grid->setRedraw(true);
}

void DrawPortCell(int row, int col, int state) {
    platform::FlexGrid* grid = monGrid(1);
    if (!grid || state < 0 || state >= MonRes.size()) return;
    grid->setCellPictureAt(row, col, ModSwitch::MonitorIcon(MonRes[state].userpicture));
    grid->setTextMatrix(row, col, MonRes[state].Usertext);
}

void ShowCard(const QByteArray& frame, int card) {
    if (card < 0 || PortLamps.size() < (card + 1) * 8) return;
    const FrameReader f = stateReport(frame);
    for (int j = 0; j < 8; ++j) {
        const char b = static_cast<char>(f.byte(3 + j));
        if (b == PortLamps[card * 8 + j]) continue;
        PortLamps[card * 8 + j] = b;
        // Column 0 names the board; port j + 1 is in column j + 1.
        DrawPortCell(card * 2 + 1, j + 1, static_cast<quint8>(b));
    }
}

void RefreshMonitor() {
    if (g_NoAnswerCount > 5) return;   // the switch is silent: keep what is shown
    if (CurTable == QLatin1String("MonCard")) {
        for (int card = 0; card < 18; ++card) ShowCardPorts(card);
        ShowPortList();
    } else if (CurTable == QLatin1String("PortMonitor")) {
        platform::FlexGrid* grid = monGrid(1);
        if (!grid) return;
        grid->setRedraw(false);
        for (int card = 0; card < 18 && card < CardStates.size(); ++card) ShowCard(CardStates[card].Data, card);
        grid->setRedraw(true);
    }
}

}  // namespace ModComm
