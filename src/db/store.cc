#include "db/store.h"

#include <filesystem>
#include <system_error>

#include "db/backend.h"
#include "db/error.h"
#include "db/text.h"

namespace rembiz::db {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void BadUrl(std::string_view url, const std::string& why) {
  throw DbError(kErrConnection, "Invalid database URL '" + std::string(url) + "': " + why);
}

std::string PercentDecoded(std::string_view text, std::string_view url) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    if (i + 2 >= text.size() || hex(text[i + 1]) < 0 || hex(text[i + 2]) < 0) {
      BadUrl(url, "a '%' without two hex digits");
    }
    out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
    i += 2;
  }
  return out;
}

bool IsServerUrl(std::string_view location) {
  return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

}  // namespace

Store::Store(std::string_view location) : location_(location), server_(IsServerUrl(location)) {
  if (!server_) {
    location_ = fs::absolute(fs::path(location)).lexically_normal().string();
    return;
  }
  std::string_view rest = location.substr(location.find("://") + 3);
  std::string_view query;
  if (size_t q = rest.find('?'); q != std::string_view::npos) {
    query = rest.substr(q + 1);
    rest = rest.substr(0, q);
  }
  std::string_view path;
  if (size_t slash = rest.find('/'); slash != std::string_view::npos) {
    path = rest.substr(slash + 1);
    rest = rest.substr(0, slash);
  }
  if (size_t at = rest.rfind('@'); at != std::string_view::npos) {
    std::string_view credentials = rest.substr(0, at);
    rest = rest.substr(at + 1);
    size_t colon = credentials.find(':');
    base_.user = PercentDecoded(credentials.substr(0, colon), location);
    if (colon != std::string_view::npos) {
      base_.password = PercentDecoded(credentials.substr(colon + 1), location);
    }
  }
  if (!rest.empty() && rest.front() == '[') {  // [v6 address]:port
    size_t close = rest.find(']');
    if (close == std::string_view::npos) BadUrl(location, "an unclosed '['");
    base_.server = std::string(rest.substr(1, close - 1));
    rest = rest.substr(close + 1);
    if (!rest.empty() && rest.front() == ':') base_.port = std::string(rest.substr(1));
  } else {
    size_t colon = rest.find(':');
    base_.server = PercentDecoded(rest.substr(0, colon), location);
    if (colon != std::string_view::npos) base_.port = std::string(rest.substr(colon + 1));
  }
  base_.database = PercentDecoded(path, location);
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    size_t eq = pair.find('=');
    std::string key(pair.substr(0, eq));
    std::string value =
        eq == std::string_view::npos ? "" : PercentDecoded(pair.substr(eq + 1), location);
    if (key == "host") {
      base_.server = value;
    } else if (key == "port") {
      base_.port = value;
    } else if (key == "user") {
      base_.user = value;
    } else if (key == "password") {
      base_.password = value;
    } else if (key == "dbname") {
      base_.database = value;
    } else {
      BadUrl(location, "the parameter '" + key + "' is not known");
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  if (base_.database.empty()) BadUrl(location, "no database name");
  if (!base_.port.empty() && base_.port.find_first_not_of("0123456789") != std::string::npos) {
    BadUrl(location, "the port is not a number");
  }
  base_.provider = "PostgreSQL";
}

std::string Store::Describe() const {
  if (!server_) return location_;
  std::string out = "postgresql://";
  if (!base_.user.empty()) out += base_.user + "@";
  out += base_.server.find(':') != std::string::npos ? "[" + base_.server + "]" : base_.server;
  if (!base_.port.empty()) out += ":" + base_.port;
  return out + "/" + base_.database;
}

std::string Store::Describe(std::string_view database) const {
  if (!server_) return (fs::path(location_) / (std::string(database) + ".db")).string();
  return "schema " + std::string(database) + " of " + Describe();
}

ConnectionOptions Store::Options(std::string_view database) const {
  ConnectionOptions options;
  const bool system = database == kSystemDatabase;
  if (server_) {
    options = base_;
    if (!system) options.schema = std::string(database);
    return options;
  }
  options.provider = "SQLite";
  options.data_source = (fs::path(location_) / (std::string(database) + ".db")).string();
  if (!system) {
    options.system_database =
        (fs::path(location_) / (std::string(kSystemDatabase) + ".db")).string();
    options.temp_database = ":memory:";
  }
  return options;
}

std::string Store::ConnectionString(std::string_view database) const {
  return FormatConnectionString(Options(database));
}

bool Store::Exists(std::string_view database) const {
  ConnectionOptions options = Options(database);
  return BackendFor(options).DatabaseExists(options);
}

bool Store::IsEmpty() const {
  if (server_) return true;
  std::error_code ec;
  return !fs::exists(location_, ec) || fs::is_empty(location_, ec);
}

void Store::Drop(std::string_view database) const {
  ConnectionOptions options = Options(database);
  BackendFor(options).DropDatabase(options);
}

void Store::Prepare() const {
  ConnectionOptions options = Options(kSystemDatabase);
  BackendFor(options).CreateStore(options);
}

}  // namespace rembiz::db
