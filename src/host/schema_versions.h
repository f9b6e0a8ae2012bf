// Schema versions: the schema of each kind of database (the system database, an account year's
// database) is a numbered list of versions, each a folder of scripts ("schema/account/002/…"),
// applied in order and recorded in the database they changed. A new database takes every
// version; `rembiz upgrade` takes an existing one through the versions it lacks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "host/database_setup.h"

namespace rembiz::host {

enum class SchemaKind { kSystem, kAccount };

// The latest version the program knows of a kind of database.
int LatestSchemaVersion(SchemaKind kind);

// The version a database records. A database of the release before versions were recorded
// holds the first version's tables without a record: it is version 1; an empty database is 0.
int DatabaseSchemaVersion(db::Connection& cn, SchemaKind kind);

// Applies the versions after `from` up to the latest and records each, on the caller's
// connection and inside its transaction.
void ApplySchemaVersions(db::Connection& cn, SchemaKind kind, int from, std::string_view year);

// One database of a location with the version it records.
struct DatabaseVersion {
  std::string database;  // the store's name ("qdsystem", "account_001_2026")
  SchemaKind kind = SchemaKind::kSystem;
  int version = 0;
  int latest = 0;
};

// The system database and every account year it lists whose database exists, with their
// versions.
std::vector<DatabaseVersion> SchemaVersions(const DataDir& dir);

// Refuses (ComError) a location with a database older or newer than the program, naming the
// database and what to do about it.
void RequireCurrentSchema(const DataDir& dir);

// Upgrades every database older than the program, each in one transaction (system first), and
// answers what changed. Refuses before changing anything when a database is newer than the
// program. Backing up first is the caller's business.
std::vector<DatabaseVersion> UpgradeDatabases(const DataDir& dir);

}  // namespace rembiz::host
