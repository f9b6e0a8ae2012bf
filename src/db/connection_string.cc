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
    } else {
      Fail("unknown key '" + key + "'");
    }
  }
  if (options.provider.empty()) Fail("no Provider");
  if (Lower(options.provider) != "sqlite") {
    Fail("provider '" + options.provider + "' is not available in this build");
  }
  if (options.data_source.empty()) Fail("no Data Source");
  return options;
}

std::string FormatConnectionString(const ConnectionOptions& options) {
  auto quoted = [](const std::string& v) {
    return v.find_first_of(";'\" ") == std::string::npos ? v : "\"" + v + "\"";
  };
  std::string out = "Provider=" + options.provider + ";Data Source=" + quoted(options.data_source);
  if (!options.system_database.empty()) {
    out += ";System Database=" + quoted(options.system_database);
  }
  if (!options.temp_database.empty()) out += ";Temp Database=" + quoted(options.temp_database);
  return out;
}

}  // namespace rembiz::db
