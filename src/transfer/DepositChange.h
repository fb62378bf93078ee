#pragma once
// A relative change of an extension's deposit ("A507" of kind 01 or 02) sent
// so that the switch never takes it twice. The switch is asked for the deposit
// it holds ("A503" + address, answered "A507" of kind 0 with the real value)
// before the change goes; the change goes alone on a quiet line (see
// ModComm::TurnRun::sendAlone). When its answer is not a certain
// acknowledgement (a refusal, none, or one another answer contradicts), the
// switch is asked again and the deposits compared: taken, it is done; not
// taken, it goes once more (never after a certain refusal); when the switch
// cannot say, or its deposit moved otherwise, the change is not sent again,
// stays pending and the operator is told which extension to verify.
#include <QString>
#include <optional>

namespace ModComm {
class TurnRun;
}

namespace transfer {

// The deposit the switch holds for the extension at `address`, in fen; none
// when it gives no answer of kind 0.
std::optional<qint64> AskDeposit(int address);

// Sends the change frame (without checksum) of the extension at `address`,
// which carries `change` fen: true once the switch has it, false when it has
// not or cannot say (then the operator was told, and the row stays pending).
// Rows of no change go as any row of `run`.
bool SendDepositChange(ModComm::TurnRun& run, int address, const QString& frame, qint64 change);

}  // namespace transfer
