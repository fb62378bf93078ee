// Opening the link, the monitor mode of the view shown, and the talk-time cut-off.
#include "core/ModDefine.h"
#include "link/CommState.h"
#include "link/FrameCodes.h"
#include "link/LinkWindows.h"
#include "link/ModComm.h"
#include "link/Transport.h"
#include "platform/Clock.h"

#include <exception>

namespace ModComm {

namespace {

// Two decimal digits sent as the two hex digits of one byte (23 travels as 0x23).
QString dec2(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

}  // namespace

QString ClockOrder(const QDateTime& t) {
    const int yy = t.date().year() - 1980;
    if (yy < 0 || yy > 99) return QString();
    return FrameCode::kSetClock + dec2(yy) + dec2(t.date().month()) + dec2(t.date().day()) + dec2(t.time().hour()) +
           dec2(t.time().minute()) + dec2(t.time().second()) + dec2(t.date().dayOfWeek());
}

OpenResult OpenComm(bool syncTime) {
    try {
        platform::YieldEvents();
        Link().open();
        SendOrder(FrameCode::kMonitorOff, false, 4, true);
        SendOrder(FrameCode::kPauseReports, false, 4, true);
        SendOrder(FrameCode::kLinkProbe, false, 4, true);
        QByteArray answer;
        if (GetOrder(answer, FrameCode::kProbeAnswer, false, QString(), 5) != GotAnswer) return SwitchSilent;
        if (!syncTime) return LinkOpened;
        LinkWindows::ClockDialog();
        const QString clock = ClockOrder(platform::Now());
        if (clock.isEmpty()) return YearUnsendable;
        return static_cast<OpenResult>(SendOrder(clock, true, 4, true));
    } catch (const std::exception&) {
        return OpenFailed;
    }
}

namespace {
QString monitorOrder(bool bOn) {
    if (bOn && CurTable == QLatin1String("MonCard")) return FrameCode::kMonitorCards;
    if (bOn && CurTable == QLatin1String("PortMonitor")) return FrameCode::kMonitorPorts;
    return FrameCode::kMonitorOff;
}
}  // namespace

void SetMonitor(bool bOn) { SendOrder(monitorOrder(bOn), false, 4, true); }

bool MonitorModeOfView() {
    const QLatin1String last(CommState.MonitorOrder);
    return last.isEmpty() || last == monitorOrder(true);
}

void CheckTimeLimit(const QDateTime& now) {
    for (int i = 0; i < MonSlots.size(); ++i) {
        MonSlot& s = MonSlots[i];
        if (s.LimitSet == 0 || (s.EndTime.isValid() && s.EndTime > now)) continue;
        const bool defaultUser = s.UserID == 0;
        s.UserID = -1;
        s.LimitSet = 0;
        // A call of the default user is never cut: it pays for nothing.
        if (defaultUser) continue;
        SendOrder(FrameCode::kTalkLimit + ByteToHex(static_cast<quint8>(s.ExtAddr)) + QStringLiteral("0000") +
                      ByteToHex(static_cast<quint8>(i)),
                  false, 4, true);
    }
}

}  // namespace ModComm
