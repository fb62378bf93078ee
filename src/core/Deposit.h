#pragma once
#include "platform/Db.h"
// Deposit grades: the dialling grade the switch enforces on a deposit
// user's extensions and accounts, from the balance and four thresholds.
#include "platform/Currency.h"

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

namespace ModGeneral {

// 2, 3, 6, 8 or 10 for a deposit user (balance mode 0); 0 otherwise.
quint8 GetDepositGrade(qint64 userId);
// The same, read from the station file `db` (a file being recovered).
quint8 GetDepositGrade(const platform::Database& db, qint64 userId);

// Writes the grade into the user's (0: every user's) extensions and accounts,
// marks the changed rows pending for download and shows the changed users'
// grades through the record display (the view listing the rows, when shown).
// Returns the push result, or bPush when nothing was pushed.
bool CheckDeposit(qint64 userId, bool bPush, bool bForce);

}  // namespace ModGeneral
