#pragma once
// Tables the station defines itself, and the upgrades that bring an older
// station database up to what this station expects. Both upgrades may run
// again and again: on an up-to-date database they change nothing.
#include "platform/Db.h"

#include <QString>

namespace ModUpgrade {

// Defines "ExtDeposit", "ExtDepositHistory", "Terminal" or "JianKong" in `db`.
// 0 failure (nothing created, also for any other name), 1 the table existed
// (same letter case) and was kept, 2 created (after dropping the old one when
// bReplace; the old table stays until the new one is complete).
int CreateTable(const platform::Database& db, const QString& name, bool bReplace);

// Renames the default zone "本机" to "本局" and gives `feerate` its key
// (zonecode, feerateid, feeratetype). Stops silently at the first failure.
void UpgradeFeeRateKey();

// The second switch model's tables and rights. On failure: the engine's text
// and "升级V1.5.4失败!" (title "警告"), then the station closes.
void UpgradeV154();
// The same upgrade, which reports instead: false with the engine's text.
bool TryUpgradeV154(QString* failure);

// Everything the start-up does to the open station database dbSwitch before
// anything reads it: UpgradeFeeRateKey, the tables and views later versions
// added (created when missing), and UpgradeV154 for the second switch model.
// A site opened by a change of site and a restored file made by an older
// station go through it too. Without `failure` a failed upgrade of the second
// model ends the station, as at start-up; with it, false and why.
bool UpgradeStationDb(QString* failure = nullptr);

}  // namespace ModUpgrade
