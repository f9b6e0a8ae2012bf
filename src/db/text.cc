#include "db/text.h"

namespace rembiz::db {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return "";
  size_t e = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(b, e - b + 1));
}

std::string SqlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out;
}

std::string SqlText(std::string_view text) { return "N'" + SqlEscape(text) + "'"; }

std::string TruncatedSql(std::string_view sql) {
  constexpr size_t kMax = 300;
  return sql.size() <= kMax ? std::string(sql) : std::string(sql.substr(0, kMax)) + "…";
}

bool IsSqlName(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  auto head = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!head(name[0])) return false;
  for (char c : name) {
    if (!(head(c) || (c >= '0' && c <= '9') || c == '.')) return false;
  }
  return true;
}

}  // namespace rembiz::db
