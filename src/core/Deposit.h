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

// The write-ahead kind of a change of an extension's deposit on its way to
// the switch (key: the address).
inline const QString kDepositIntent = QStringLiteral("deposit");

// A change of the extension at `address`'s deposit the switch took, booked in
// the station file `db` (in the caller's transaction): its history row at
// `when` (when `history` and it has none there), the change used up (what
// the operator typed meanwhile stays pending, a change withdrawn or turned
// meanwhile is not made good by one the other way) and its intent settled.
// The download books it so, and so does the journal's replay of its entry.
// False when a history row was wanted and another holds its second.
bool BookDepositTaken(const platform::Database& db, int address, const platform::Currency& change,
                      const QString& when, const QString& worker, bool history);

}  // namespace ModGeneral
