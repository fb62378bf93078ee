#pragma once
// The line the link talks to the switch over: the serial port or the USB
// call-record collector, behind one interface. The rings, the parser, the
// waits and the opening of the link call only this; which line is in use is
// chosen in one place, `ChooseTransport`, from the setting "CHKUSEUSB".
//
// Tests reach the lines below it: a pseudo-terminal behind the serial port
// (tests/support) and a collector of their own behind `platform::UsbCollector`
// (tests/sim).
#include <QString>

namespace ModComm {

class Transport {
public:
    virtual ~Transport() = default;
    // Takes the line's own settings from the station's and opens it (closing
    // it first when open); throws std::runtime_error when the settings name
    // no line or it will not open. The collector needs no opening.
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Hands one order (hex text, checksum included) to the line and traces it
    // as sent; false, nothing sent and the refusal traced, when it cannot go.
    virtual bool send(const QString& order) = 0;
    // Sends what waits to go and appends what has arrived to the receive ring.
    // Called every few milliseconds: it does only what the line needs.
    virtual void poll() = 0;
    // True when nothing handed to the line still waits to leave.
    virtual bool drained() const = 0;
    // The line as messages name it ("Com1", a device path, "USB采集器").
    virtual QString name() const = 0;
};

// The line in use: the serial port until the collector is chosen.
Transport& Link();
// The one choice of the line. The serial port is neither opened nor closed by
// it: `OpenComm` opens the line chosen.
void ChooseTransport(bool usbCollector);
// Chooses by the stored setting "CHKUSEUSB" ("1" the collector).
void ChooseTransportBySettings();
bool UsbCollectorChosen();

// Each line by itself, for what concerns only it (the settings window edits
// the serial port's own settings whichever line is in use).
Transport& SerialLine();
Transport& UsbCollectorLine();

}  // namespace ModComm
