// The one way the host services write a text value into SQL: N'…' with single quotes doubled,
// so a value can never end its literal early.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::host {

inline std::string SqlQuote(std::string_view text) {
  std::string out = "N'";
  out.reserve(text.size() + 3);
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// True for a plain SQL name ([A-Za-z_][A-Za-z0-9_.]*), the only names the services paste.
inline bool IsPlainSqlName(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  auto head = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!head(name[0])) return false;
  for (char c : name) {
    if (!(head(c) || (c >= '0' && c <= '9') || c == '.')) return false;
  }
  return true;
}

}  // namespace rembiz::host
