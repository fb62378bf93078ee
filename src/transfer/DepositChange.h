#pragma once
// A relative change of an extension's deposit ("A507" of kind 01 or 02) sent
// so that the switch never takes it twice and the station never books one the
// switch did not take.
//
// The switch is asked for the deposit it holds ("A503" + address, answered
// "A507" of kind 0 with the real value) before the change goes, and what is
// about to go (the deposit before, the change, the frame) is written ahead in
// the station file (`ModSwitch::WriteAhead`, kind "deposit", key the address):
// a station that cannot write it sends nothing. A certain acknowledgement
// heard on a line that has shown nothing odd stands; any other outcome is
// settled by the switch's own deposit, read until two answers agree after the
// line is quiet, against the value before plus the change: equal, taken (the
// history row, the change used up and the intent settled in one commit);
// equal to the value before, not taken (sent once more, never after a certain
// refusal); anything else, in doubt: the intent stays, the change stays
// pending and is not sent again, and the operator is told both values.
//
// An intent found unsettled (a lock kept the outcome from being written, the
// station was killed, the switch went silent) is settled the same way before
// anything of that extension is sent again: at the next download and at the
// opening of a site while the line is up (`SettleSwitchIntents`).
#include "platform/Currency.h"

#include <QString>
#include <optional>

namespace ModComm {
class TurnRun;
}

namespace transfer {

inline const QString kDepositIntent = QStringLiteral("deposit");

// The deposit the switch holds for the extension at `address`, in fen; none
// when it gives no answer of kind 0.
std::optional<qint64> AskDeposit(int address);

// Sends the change frame (without checksum) of the extension at `address`,
// which carries `change` (sent in whole fen, rounded half to even): true once
// the switch has it and the station has booked it (history row, change used
// up); false when it has not or cannot say (then the row stays pending, and
// the operator was told when it is in doubt). Rows of no change go as any row
// of `run`. Throws platform::DbError when the intent cannot be written (then
// nothing was sent) or the outcome cannot be (then the intent stays).
bool SendDepositChange(ModComm::TurnRun& run, int address, const QString& frame, const platform::Currency& change);

// After the last change of a run (also one stopped by an error): the change
// acknowledged last is booked (see SendDepositChange: a clean
// acknowledgement's booking goes with the next change's intent). False when
// a change this run counted as taken turned out not taken or in doubt.
bool FlushDepositChanges(ModComm::TurnRun& run);

// What became of the change whose intent is unsettled for `address`.
enum class Settled { None, Taken, NotTaken, InDoubt };
// Settles it by the switch's deposit (see above); None when there is no intent.
Settled SettleDepositIntent(ModComm::TurnRun& run, int address);

}  // namespace transfer
