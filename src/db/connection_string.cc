#include "db/connection_string.h"

#include <algorithm>
#include <cctype>

#include "db/error.h"
#include "db/text.h"

namespace rembiz::db {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw DbError(kErrConnection, "Invalid connection string: " + what);
}

}  // namespace

bool ConnectionOptions::IsPostgres() const {
  std::string p = Lower(provider);
  return p == "postgresql" || p == "postgres";
}

ConnectionOptions ParseConnectionString(std::string_view text) {
  ConnectionOptions options;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eq = text.find('=', pos);
    size_t semi = text.find(';', pos);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      std::string rest =
          Trim(text.substr(pos, semi == std::string_view::npos ? text.npos : semi - pos));
      if (!rest.empty()) Fail("'" + rest + "' has no value");
      if (semi == std::string_view::npos) break;
      pos = semi + 1;
      continue;
    }
    std::string key = Lower(Trim(text.substr(pos, eq - pos)));
    size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    std::string value;
    // NormalizeSql marks quoted values as N'…'; accept that form too.
    if (v + 1 < text.size() && (text[v] == 'N' || text[v] == 'n') && text[v + 1] == '\'') ++v;
    if (v < text.size() && (text[v] == '\'' || text[v] == '"')) {
      char quote = text[v];
      size_t end = text.find(quote, v + 1);
      if (end == std::string_view::npos) Fail("unterminated quote in the value of '" + key + "'");
      value = std::string(text.substr(v + 1, end - v - 1));
      pos = text.find(';', end + 1);
      pos = pos == std::string_view::npos ? text.size() : pos + 1;
    } else {
      size_t end = text.find(';', v);
      value = Trim(text.substr(v, end == std::string_view::npos ? text.npos : end - v));
      pos = end == std::string_view::npos ? text.size() : end + 1;
    }
    if (key == "provider") {
      options.provider = value;
    } else if (key == "data source") {
      options.data_source = value;
    } else if (key == "system database") {
      options.system_database = value;
    } else if (key == "temp database") {
      options.temp_database = value;
    } else if (key == "server" || key == "host") {
      options.server = value;
    } else if (key == "port") {
      options.port = value;
    } else if (key == "database" || key == "initial catalog") {
      options.database = value;
    } else if (key == "user id" || key == "uid" || key == "user") {
      options.user = value;
    } else if (key == "password" || key == "pwd") {
      options.password = value;
    } else if (key == "schema") {
      options.schema = value;
    } else {
      Fail("unknown key '" + key + "'");
    }
  }
  if (options.provider.empty()) Fail("no Provider");
  if (options.IsPostgres()) {
    // "host:port" is the usual way to give both.
    if (size_t colon = options.server.rfind(':'); colon != std::string::npos &&
                                                  options.server.find(']') == std::string::npos &&
                                                  options.server.find('/') == std::string::npos) {
      if (options.port.empty()) options.port = options.server.substr(colon + 1);
      options.server.resize(colon);
    }
    if (options.database.empty()) Fail("no Database");
    if (!options.port.empty() &&
        (options.port.size() > 5 || !std::all_of(options.port.begin(), options.port.end(),
                                                 [](char c) { return c >= '0' && c <= '9'; }))) {
      Fail("the port '" + options.port + "' is not a number");
    }
    return options;
  }
  if (Lower(options.provider) != "sqlite") {
    Fail("provider '" + options.provider + "' is not available in this build");
  }
  if (options.data_source.empty()) Fail("no Data Source");
  return options;
}

std::string FormatConnectionString(const ConnectionOptions& options) {
  auto quoted = [](const std::string& v) {
    if (v.find_first_of(";'\" ") == std::string::npos) return v;
    char quote = v.find('"') == std::string::npos ? '"' : '\'';
    return quote + v + quote;
  };
  std::string out = "Provider=" + options.provider;
  auto add = [&](const char* key, const std::string& value) {
    if (!value.empty()) out += std::string(";") + key + "=" + quoted(value);
  };
  if (options.IsPostgres()) {
    add("Server", options.server);
    add("Port", options.port);
    add("Database", options.database);
    add("User ID", options.user);
    add("Password", options.password);
    add("Schema", options.schema);
    return out;
  }
  out += ";Data Source=" + quoted(options.data_source);
  add("System Database", options.system_database);
  add("Temp Database", options.temp_database);
  return out;
}

std::optional<ConnectionOptions> SystemDatabaseOf(const ConnectionOptions& options) {
  ConnectionOptions system;
  system.provider = options.provider;
  if (options.IsPostgres()) {
    system = options;
    system.schema.clear();
    return system;
  }
  if (options.system_database.empty()) return std::nullopt;
  system.data_source = options.system_database;
  return system;
}

}  // namespace rembiz::db
