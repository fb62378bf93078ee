#pragma once
// The settings store (table Variant of the station file) and the system
// parameters read from it at start.
#include <QList>
#include <QPair>
#include <QString>

namespace ModSwitch {

QString GetVariant(const QString& key, const QString& defaultValue = QString());
void SetVariant(const QString& key, const QString& value);
// Several keys in one transaction: all of them are stored, or none (it throws).
void SetVariants(const QList<QPair<QString, QString>>& values);
// System parameters into globals; resets link and supervision state; purges old log rows.
void LoadSysPara();
void LoadMonRes();

}  // namespace ModSwitch
