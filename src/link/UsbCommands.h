#pragma once
// The USB call-record collector's own commands, offered by the console's
// "USB设置" menu: its number, the erase of its store, and the read of its
// stored call records into "Bill.dat", which are priced afterwards.
#include <QByteArray>
#include <QString>

namespace UsbCommands {

// "查看USB编号": asks the collector for its number and shows it.
void GetUsbId();
// "设置USB编号": erases the collector and gives it the number typed.
void SetUsbId(const QString& caption);
// "清除USB话单": asks, then erases the collector's store.
void ClearCommand();
// "重读USB话单" (1: every stored record) and "读取USB话单" (2: the new ones).
void ReadUsb(int mode);

// Erases the store and waits until the collector reports it empty.
bool ClearUSB();
// The check made before a read: every collector is accepted.
bool CheckUSBID();

// Record pointers of a "7F0C" answer: (block hi, block lo, index) -> address.
int DecodePointer(const QByteArray& answer, int first);

// The file of the last read, in the program directory.
QString BillFilePath();

}  // namespace UsbCommands
