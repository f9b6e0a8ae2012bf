// Connection strings. Keys are case-insensitive and ';'-separated; values may be quoted ('…',
// N'…' or "…").
//   Provider=SQLite;Data Source=<account db file>;System Database=<system db file>;
//     Temp Database=<file or :memory:>
//   Provider=PostgreSQL;Server=<host>[:<port>];Port=<port>;Database=<database>;
//     User ID=<user>;Password=<password>;Schema=<account schema>
// On PostgreSQL the system database, tempdb and every account-year database are schemas of one
// database: `Schema` names the account's (absent: the system database itself).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rembiz::db {

struct ConnectionOptions {
  std::string provider;  // "SQLite" or "PostgreSQL"
  // SQLite
  std::string data_source;      // the account database file
  std::string system_database;  // attached as qdsystem; may be empty
  std::string temp_database;    // attached as tempdb; ":memory:" = one shared in-process database
  // PostgreSQL
  std::string server;  // host name, address or socket directory
  std::string port;
  std::string database;
  std::string user;
  std::string password;
  std::string schema;  // the account-year database; empty for the system database

  bool operator==(const ConnectionOptions&) const = default;
  bool IsPostgres() const;
};

// Parses a connection string; throws DbError(kErrConnection) for an unknown key, a missing or
// unknown provider, a missing data source or database, or an unterminated quote.
ConnectionOptions ParseConnectionString(std::string_view text);

// Writes options back as a connection string (values quoted when needed).
std::string FormatConnectionString(const ConnectionOptions& options);

// The options of the system database that the database of `options` reaches; nullopt when it
// reaches none (a lone SQLite file).
std::optional<ConnectionOptions> SystemDatabaseOf(const ConnectionOptions& options);

}  // namespace rembiz::db
