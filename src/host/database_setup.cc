#include "host/database_setup.h"

#include <ctime>

#include "db/connection.h"
#include "db/error.h"
#include "host/embedded_files.h"
#include "host/passwords.h"

namespace rembiz::host {
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

}  // namespace

DataDir::DataDir(std::string_view location) : store_(location) {}

std::string DataDir::AccountDatabase(std::string_view account, std::string_view year) {
  return "account_" + std::string(account) + "_" + std::string(year);
}

std::string DataDir::ConnectionString(std::string_view account, std::string_view year) const {
  return store_.ConnectionString(AccountDatabase(account, year));
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
  const db::Store& store = dir.Store();
  std::string account = DataDir::AccountDatabase(options.account, year);
  if (!options.force && (store.Exists(db::kSystemDatabase) || store.Exists(account))) {
    throw ComError(static_cast<int32_t>(0x80004005),
                   "The data location " + dir.Describe() +
                       " already holds databases; use --force to replace them.",
                   "Rembiz.Setup");
  }
  store.Prepare();
  db::ClearConnectionPool();
  store.Drop(account);
  store.Drop(db::kSystemDatabase);

  {
    db::Connection cn;
    cn.Open(store.SystemConnectionString(), db::Connection::OpenMode::kCreate);
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
