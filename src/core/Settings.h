#pragma once
// The settings store (table Variant of the station file) and the system
// parameters read from it at start.
#include "platform/Db.h"

#include <QList>
#include <QPair>
#include <QString>

namespace ModSwitch {

// A settings table: one row (varname, value) per key. The station file keeps
// its settings in "Variant"; the call file keeps its notes in "tab_notes",
// which has the same shape.
extern const QString kSettingsTable;

// The value of `key` in `table` of `db`; `defaultValue` when it has none or it is empty.
QString GetVariant(const platform::Database& db, const QString& key, const QString& defaultValue = QString(),
                   const QString& table = kSettingsTable);
// Stores `value` under `key`, in a transaction (the caller's, when one is open).
void SetVariant(const platform::Database& db, const QString& key, const QString& value,
                const QString& table = kSettingsTable);
// Several keys in one transaction: all of them are stored, or none (it throws).
void SetVariants(const platform::Database& db, const QList<QPair<QString, QString>>& values,
                 const QString& table = kSettingsTable);
void RemoveVariant(const platform::Database& db, const QString& key, const QString& table = kSettingsTable);

// The same on the station file (dbSwitch).
QString GetVariant(const QString& key, const QString& defaultValue = QString());
void SetVariant(const QString& key, const QString& value);
void SetVariants(const QList<QPair<QString, QString>>& values);
// System parameters into globals; resets link and supervision state; purges old log rows.
void LoadSysPara();
void LoadMonRes();

}  // namespace ModSwitch
