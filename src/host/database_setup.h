// The databases of an installation: one system database and one account database per account
// and year, created from the embedded schema scripts (and, for the demo, demo data). Where they
// live (a folder, a database server) is the data layer's business (db/store.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/store.h"

namespace rembiz::host {

class DataDir {
 public:
  // A data folder or a database URL ("postgresql://…").
  explicit DataDir(std::string_view location);

  const db::Store& Store() const { return store_; }
  // The location for messages (never with a password).
  std::string Describe() const { return store_.Describe(); }
  // The name of the database of an account year: "account_<account>_<year>".
  static std::string AccountDatabase(std::string_view account, std::string_view year);
  // The connection string a session of that account and year connects with.
  std::string ConnectionString(std::string_view account, std::string_view year) const;
  // A read replica of a database server: a standby that streams the primary's changes, reached
  // by its own URL (the same database). Refused (ComError) unless both are servers.
  void SetReadReplica(std::string_view url);
  bool HasReadReplica() const { return read_store_.has_value(); }
  const db::Store& ReadReplica() const { return *read_store_; }
  // The same database on the replica; empty without one.
  std::string ReadConnectionString(std::string_view account, std::string_view year) const;
  std::string SystemConnectionString() const { return store_.SystemConnectionString(); }
  bool HasSystemDatabase() const { return store_.Exists(db::kSystemDatabase); }

 private:
  db::Store store_;
  std::optional<db::Store> read_store_;
};

struct InitOptions {
  bool demo = false;
  bool force = false;  // replace existing databases
  std::string account = "001";
  std::string year;  // empty: the current year
  // Without the demo: an empty company with the module's options and voucher cards, and one
  // administrator, whose password must be given (there is no default password).
  std::string account_name;  // empty: "Account " + account
  std::string admin_user = "admin";
  std::string admin_name = "Administrator";  // recorded on the vouchers the administrator enters
  std::string admin_password;
};

// Creates the databases of an account year at the location (a folder is made if missing). With
// a system database there already, the account joins it and the other accounts stay as they
// are; `force` replaces the system database and the account instead. Refuses, with ComError, an
// account year that exists (without `force`), a folder of other files, and a new administrator
// without a password.
void InitDataDirectory(const DataDir& dir, const InitOptions& options);
// Sets up what free queries on the database of `connection_string` need (on a server: the
// reader role and its grants), as the first free query would; a refusal is left for that query
// to report.
void PrepareFreeQueries(const DataDir& dir, const std::string& connection_string);
// Whether InitDataDirectory will make the administrator, so that it needs a password.
bool NeedsAdministratorPassword(const DataDir& dir, const InitOptions& options);

// A schema script with the placeholders replaced: {{YEAR}}, {{TODAY}}, {{PWHASH:<password>}}
// and {{PERIODS:<account>}} (the statement that makes an account's twelve periods).
std::string ExpandPlaceholders(std::string_view script, std::string_view year);

// Today's date "YYYY-MM-DD" and the current year, local time.
std::string TodayText();
std::string CurrentYearText();

}  // namespace rembiz::host
