#pragma once
// The operation log and the rights check that nearly every command uses.
#include <QString>

namespace ModGeneral {

// Writes one line of the operation history for the logged-in worker;
// never fails towards the caller.
void AddOpLog(const QString& text);

// How a refusal is reported.
enum RightMode { kRightStatusBar = 0, kRightSilent = 1, kRightMessage = 2 };

// False when the logged-in worker holds right `rightNo` (or right 0, all
// rights); true when refused, after reporting it by `mode`.
bool CheckRight(int rightNo, int mode);

// True when a right list entry is a plain decimal number equal to rightNo
// or to 0. Empty and non-numeric entries grant nothing.
bool RightEntryGrants(const QString& entry, int rightNo);

}  // namespace ModGeneral
