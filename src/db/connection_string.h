// Connection strings: "Provider=SQLite;Data Source=<account db>;System Database=<system db>;
// Temp Database=<file or :memory:>". Keys are case-insensitive and ';'-separated; values may be
// quoted ('…', N'…' or "…").
#pragma once

#include <string>
#include <string_view>

namespace rembiz::db {

struct ConnectionOptions {
  std::string provider;         // "SQLite" (or "ODBC", not built yet)
  std::string data_source;      // the account database file
  std::string system_database;  // attached as qdsystem; may be empty
  std::string temp_database;    // attached as tempdb; ":memory:" = one shared in-process database

  bool operator==(const ConnectionOptions&) const = default;
};

// Parses a connection string; throws DbError(kErrConnection) for an unknown key, a missing
// provider or data source, or an unterminated quote.
ConnectionOptions ParseConnectionString(std::string_view text);

// Writes options back as a connection string (values quoted when needed).
std::string FormatConnectionString(const ConnectionOptions& options);

}  // namespace rembiz::db
