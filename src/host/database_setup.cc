#include "host/database_setup.h"

#include <ctime>
#include <system_error>

#include "db/connection.h"
#include "db/error.h"
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
  fs::path system = dir.SystemDatabase();
  fs::path account = dir.AccountDatabase(options.account, year);
  if (!options.force && (fs::exists(system) || fs::exists(account))) {
    throw ComError(static_cast<int32_t>(0x80004005),
                   "The data directory " + dir.Path().string() +
                       " already holds databases; use --force to replace them.",
                   "Rembiz.Setup");
  }
  std::error_code ec;
  fs::create_directories(dir.Path(), ec);
  if (ec) {
    throw ComError(static_cast<int32_t>(0x80004005),
                   "Cannot create " + dir.Path().string() + ": " + ec.message(), "Rembiz.Setup");
  }
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
    if (options.demo) RunScripts(cn, "schema/demo/system/", year);
    cn.ExecuteNative("COMMIT");
  }
  {
    db::Connection cn;
    cn.Open(dir.ConnectionString(options.account, year), db::Connection::OpenMode::kCreate);
    cn.ExecuteNative("BEGIN");
    RunScripts(cn, "schema/account/", year);
    if (options.demo) RunScripts(cn, "schema/demo/account/", year);
    cn.ExecuteNative("COMMIT");
  }
  db::ClearConnectionPool();
}

}  // namespace rembiz::host
