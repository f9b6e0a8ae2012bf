#include "host/database_setup.h"

#include <ctime>
#include <system_error>

#include "db/connection.h"
#include "db/error.h"
#include "db/text.h"
#include "host/embedded_files.h"
#include "host/passwords.h"

namespace rembiz::host {
namespace fs = std::filesystem;

namespace {

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm;
}

void RunScripts(db::Connection& cn, std::string_view prefix, std::string_view year) {
  for (const EmbeddedFile& file : EmbeddedFilesUnder(prefix)) {
    if (!file.path.ends_with(".sql")) continue;
    std::string script = ExpandPlaceholders(file.content, year);
    try {
      cn.ExecuteNative(script);
    } catch (const ComError& e) {
      throw ComError(e.Number(), std::string(file.path) + ": " + e.Description(), e.Source());
    }
  }
}

[[noreturn]] void RefuseSetup(const std::string& text) {
  throw ComError(static_cast<int32_t>(0x80004005), text, "Rembiz.Setup");
}

std::string Quoted(std::string_view text) { return "'" + db::SqlEscape(text) + "'"; }

// The system rows of an empty company: the account and its year with twelve calendar-month
// periods, the write lock (off), and the one administrator of the account.
void CreateCompany(db::Connection& cn, const InitOptions& options, const std::string& year) {
  std::string account = Quoted(options.account);
  std::string admin = Quoted(options.admin_user);
  std::string name =
      Quoted(options.account_name.empty() ? "Account " + options.account : options.account_name);
  cn.ExecuteNative(
      "INSERT INTO UA_Account (cAcc_Id, cAcc_Name, iYear, iMonth, cAcc_Master, bGroup, ccurcode, "
      "ccurname) VALUES (" +
      account + ", " + name + ", " + year + ", 1, " + admin + ", 0, 'RMB', '人民币');" +
      "INSERT INTO UA_AccountYear (cAcc_Id, iYear, bClosed) VALUES (" + account + ", " + year +
      ", 0);" +
      "INSERT INTO UA_Period (cAcc_Id, iYear, iId, dBegin, dEnd, bIsDelete) "
      "WITH RECURSIVE m(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM m WHERE i < 12) SELECT " +
      account + ", " + year + ", i, date('" + year + "-01-01', '+' || (i - 1) || ' months'), " +
      "date('" + year + "-01-01', '+' || i || ' months', '-1 day'), 0 FROM m;" +
      "INSERT INTO UA_LockState (cAcc_Id, iYear, cSub_Id, iCode, bFlag) VALUES (" + account + ", " +
      year + ", 'EC', 204, 0);" +
      "INSERT INTO UA_User (cUser_Id, cUser_Name, cPassword, bAdmin, cLocaleId) VALUES (" + admin +
      ", " + Quoted(options.admin_name) + ", " + Quoted(HashPassword(options.admin_password)) +
      ", 1, 'zh-CN');" +
      "INSERT INTO UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) VALUES (" + account +
      ", " + year + ", " + admin + ", 1, 'ADMIN');");
}

void RemoveDatabase(const fs::path& file) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    fs::remove(file.string() + suffix, ignored);
  }
}

}  // namespace

DataDir::DataDir(fs::path dir) : dir_(fs::absolute(std::move(dir))) {}

fs::path DataDir::SystemDatabase() const { return dir_ / "qdsystem.db"; }

fs::path DataDir::AccountDatabase(std::string_view account, std::string_view year) const {
  return dir_ / ("account_" + std::string(account) + "_" + std::string(year) + ".db");
}

std::string DataDir::ConnectionString(std::string_view account, std::string_view year) const {
  db::ConnectionOptions options;
  options.provider = "SQLite";
  options.data_source = AccountDatabase(account, year).string();
  options.system_database = SystemDatabase().string();
  options.temp_database = ":memory:";
  return db::FormatConnectionString(options);
}

std::string TodayText() {
  std::tm tm = LocalNow();
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

std::string CurrentYearText() { return std::to_string(LocalNow().tm_year + 1900); }

std::string ExpandPlaceholders(std::string_view script, std::string_view year) {
  std::string out;
  out.reserve(script.size());
  size_t pos = 0;
  while (pos < script.size()) {
    size_t open = script.find("{{", pos);
    if (open == std::string_view::npos) break;
    size_t close = script.find("}}", open);
    if (close == std::string_view::npos) break;
    out.append(script.substr(pos, open - pos));
    std::string_view name = script.substr(open + 2, close - open - 2);
    if (name == "YEAR") {
      out.append(year);
    } else if (name == "TODAY") {
      out.append(TodayText());
    } else if (name.rfind("PWHASH:", 0) == 0) {
      out.append(HashPassword(name.substr(7)));
    } else {
      out.append(script.substr(open, close + 2 - open));
    }
    pos = close + 2;
  }
  out.append(script.substr(pos));
  return out;
}

void InitDataDirectory(const DataDir& dir, const InitOptions& options) {
  std::string year = options.year.empty() ? CurrentYearText() : options.year;
  if (year.size() != 4 || year.find_first_not_of("0123456789") != std::string::npos) {
    RefuseSetup("The fiscal year '" + year + "' is not a year.");
  }
  if (!options.demo) {
    if (options.admin_password.empty()) {
      RefuseSetup("A company without the demo data needs a password for its administrator.");
    }
    if (options.admin_user.empty() || options.admin_user.size() > 20 ||
        options.admin_name.empty() || options.account.empty() || options.account.size() > 3) {
      RefuseSetup(
          "The account code (up to 3 characters) and the administrator's id (up to 20) "
          "and name are required.");
    }
  }
  fs::path system = dir.SystemDatabase();
  fs::path account = dir.AccountDatabase(options.account, year);
  if (!options.force && (fs::exists(system) || fs::exists(account))) {
    RefuseSetup("The data directory " + dir.Path().string() +
                " already holds databases; use --force to replace them.");
  }
  std::error_code ec;
  fs::create_directories(dir.Path(), ec);
  if (ec) RefuseSetup("Cannot create " + dir.Path().string() + ": " + ec.message());
  db::ClearConnectionPool();
  RemoveDatabase(system);
  RemoveDatabase(account);

  {
    db::ConnectionOptions sys;
    sys.provider = "SQLite";
    sys.data_source = system.string();
    db::Connection cn;
    cn.Open(db::FormatConnectionString(sys), db::Connection::OpenMode::kCreate);
    cn.ExecuteNative("BEGIN");
    RunScripts(cn, "schema/system/", year);
    if (options.demo) {
      RunScripts(cn, "schema/demo/system/", year);
    } else {
      CreateCompany(cn, options, year);
    }
    cn.ExecuteNative("COMMIT");
  }
  {
    db::Connection cn;
    cn.Open(dir.ConnectionString(options.account, year), db::Connection::OpenMode::kCreate);
    cn.ExecuteNative("BEGIN");
    RunScripts(cn, "schema/account/", year);
    RunScripts(cn, options.demo ? "schema/demo/account/" : "schema/company/account/", year);
    cn.ExecuteNative("COMMIT");
  }
  db::ClearConnectionPool();
}

}  // namespace rembiz::host
