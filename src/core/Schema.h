#pragma once
// The one place that knows the tables and first rows of a fresh station.
// Each subsystem contributes its own tables through its AddSchema function;
// CreateStation calls them in a fixed order.
#include "platform/Db.h"

#include <QString>

namespace core::schema {

// Creates every table of a new station in `sw` ("switch.mdb") and `cur`
// ("PhoneCur.mdb"), with the rows a new station starts with.
void CreateStation(const platform::Database& sw, const platform::Database& cur, int model);

// Writes a fresh data directory: "switch.mdb" and "PhoneCur.mdb". False with
// `error` set when the directory or a file cannot be written; an existing
// station database is never overwritten.
bool WriteFreshDataDir(const QString& dir, int model, QString* error = nullptr);

// Core's own tables (settings, log, workers, rights).
void AddCoreSchema(const platform::Database& sw, const platform::Database& cur, int model);

// Workers, rights and the first worker.
void AddWorkerSchema(const platform::Database& sw, const platform::Database& cur, int model);

}  // namespace core::schema

// Contributions of the other subsystems, each defined in its own folder.
namespace params { void AddSchema(const platform::Database& sw, const platform::Database& cur, int model); }
namespace pricing { void AddSchema(const platform::Database& sw, const platform::Database& cur, int model); }
namespace billing { void AddSchema(const platform::Database& sw, const platform::Database& cur, int model); }
namespace admin { void AddSchema(const platform::Database& sw, const platform::Database& cur, int model); }
