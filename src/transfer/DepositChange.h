#pragma once
// A relative change of an extension's deposit ("A507" of kind 01 or 02) sent
// so that the switch never takes it twice. When its acknowledgement does not
// come, the switch may have taken it all the same: it is asked for the deposit
// it holds ("A503" + address, answered "A507" of kind 0 with the real value)
// and the change goes again only when it was not taken. When the switch cannot
// say, the change is not sent again and the operator is told to verify it.
#include <QString>
#include <optional>

namespace transfer {

// The deposit the switch holds for the extension at `address`, in fen; none
// when it gives no answer of kind 0.
std::optional<qint64> AskDeposit(int address);

// Sends the change frame (without checksum) of the extension at `address`,
// which carries `change` fen: true once the switch has it, false when it has
// not or cannot say (then the operator was told, and the row stays pending).
bool SendDepositChange(int address, const QString& frame, qint64 change);

}  // namespace transfer
