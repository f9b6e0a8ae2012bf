// The embedded databases of a data directory: one system database and one account database per
// account and year, created from the embedded schema scripts (and, for the demo, demo data).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace rembiz::host {

class DataDir {
 public:
  explicit DataDir(std::filesystem::path dir);

  const std::filesystem::path& Path() const { return dir_; }
  std::filesystem::path SystemDatabase() const;
  std::filesystem::path AccountDatabase(std::string_view account, std::string_view year) const;
  // The connection string a session of that account and year connects with.
  std::string ConnectionString(std::string_view account, std::string_view year) const;

 private:
  std::filesystem::path dir_;
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

// Creates the databases in the directory (made if missing). Refuses, with ComError, to touch
// existing databases unless `force`, and an empty company without an administrator password.
void InitDataDirectory(const DataDir& dir, const InitOptions& options);

// Runs one schema script (SQLite text) after replacing the demo placeholders {{YEAR}},
// {{TODAY}} and {{PWHASH:<password>}}.
std::string ExpandPlaceholders(std::string_view script, std::string_view year);

// Today's date "YYYY-MM-DD" and the current year, local time.
std::string TodayText();
std::string CurrentYearText();

}  // namespace rembiz::host
