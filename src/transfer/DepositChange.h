#pragma once
// A relative change of an extension's deposit ("A507" of kind 01 or 02) sent
// so that the switch never takes it twice and the station never books one the
// switch did not take.
//
// The switch is asked for the deposit it holds ("A503" + address, answered
// "A507" of kind 0 with the real value) before the change goes, and what is
// about to go (the deposit before, the change, the frame) is written ahead in
// the station file (`ModSwitch::WriteAhead`, kind "deposit", key the address):
// a station that cannot write it sends nothing. The frame goes once a run;
// its acknowledgement is a hint (whether the run goes on), never a booking:
// the answers carry no row, and a copy of another's can stand for one lost.
// Once the run has sent its last frame and the line has been quiet for the
// longest lag it has shown (and at least a floor), the switch's deposit of
// each extension is read, against the value before plus the change (within
// the switch's bounds): equal, taken (the history row, the change used up,
// the intent settled and the journal's entry, one commit for the run); every
// answer the value before, left as its intent; anything else, in doubt: the
// intent stays, the change stays pending, and the operator is told the values.
//
// An intent found unsettled (left by a run, a lock kept the outcome from
// being written, the station was killed, the switch went silent) is settled
// the same way, reading again, before anything of that extension is sent
// again: at the next download and at the opening of a site while the line
// is up (`SettleSwitchIntents`). Only a deposit that still shows the value
// before then lets the change go again. A switch whose deposit answer never
// shows a change it took cannot be told from one that did not take it.
#include "core/Deposit.h"
#include "platform/Currency.h"

#include <QString>
#include <functional>
#include <optional>

namespace ModComm {
class TurnRun;
}

namespace transfer {

using ModGeneral::kDepositIntent;

// The deposit the switch holds for the extension at `address`, in fen; none
// when it gives no answer of kind 0.
std::optional<qint64> AskDeposit(int address);

// Sends the change frame (without checksum) of the extension at `address`,
// which carries `change` (sent in whole fen, rounded half to even), once in
// the run: true when it went, whatever its answer (its outcome is settled by
// FlushDepositChanges), or when an earlier change of it was found taken;
// false when nothing went. Rows of no change go as any row of `run`. Throws
// platform::DbError when the intent cannot be written (then nothing was sent).
bool SendDepositChange(ModComm::TurnRun& run, int address, const QString& frame, const platform::Currency& change);

// After the last frame of a run (also one stopped by an error): each change
// it sent is settled by the switch's deposit, read once the line is quiet;
// `booked` is called for each extension of the run whose change is booked.
// False when one was not shown taken (it stays pending, as its intent).
bool FlushDepositChanges(ModComm::TurnRun& run, const std::function<void(int)>& booked = {});

// What became of the change whose intent is unsettled for `address`.
enum class Settled { None, Taken, NotTaken, InDoubt };
// Settles it by the switch's deposit (see above); None when there is no intent.
Settled SettleDepositIntent(ModComm::TurnRun& run, int address);

}  // namespace transfer
