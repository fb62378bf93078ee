#pragma once
// Deposit events: a payphone's deposit changed, reported by the switch among
// its call records. They are kept in the deposit history, never priced.
#include "platform/Currency.h"

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

namespace ModGeneral {

// A deposit event: what the switch reports among its call records (type byte
// 28 of a "961D" record 0x0A, deposit accumulated, or 0x1A, deducted) when a
// payphone's deposit changed. It is never a call: it is kept in the deposit
// history, whether it came live or among the records of an upload or a read.
struct DepositEvent {
    QDateTime when;               // month to second from the record, the year as for a call
    int address = 0;              // the extension (byte 3)
    platform::Currency amount;    // bytes 22-24, in fen
    quint8 kind = 0;              // 0 accumulated, 1 deducted
};
// Whether `frame` (a "961D" record, code byte first) is a deposit event.
bool IsDepositEvent(const QByteArray& frame);
// Reads the event; a record too short or holding no time throws.
DepositEvent ReadDepositEvent(const QByteArray& frame);
// Writes the event's history row. True when a row was added, false when the
// same event is there already (the switch sent it again, or it came live and
// again in an upload); throws when it cannot be kept (another event under
// the same time and extension, or a database that refuses).
bool StoreDepositEvent(const DepositEvent& e);
// Adds the event's line to the deposit history when the console shows it.
void ShowDepositEvent(const DepositEvent& e);

}  // namespace ModGeneral
