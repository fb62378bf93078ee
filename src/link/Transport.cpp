// The choice of the line the link talks over.
#include "link/Transport.h"

#include "core/Settings.h"

namespace ModComm {

namespace {
Transport* g_line = nullptr;
}

Transport& Link() { return g_line ? *g_line : SerialLine(); }

void ChooseTransport(bool usbCollector) { g_line = usbCollector ? &UsbCollectorLine() : &SerialLine(); }

void ChooseTransportBySettings() {
    ChooseTransport(ModSwitch::GetVariant(QStringLiteral("CHKUSEUSB"), QStringLiteral("0")).trimmed().toInt() != 0);
}

bool UsbCollectorChosen() { return &Link() == &UsbCollectorLine(); }

}  // namespace ModComm
