// Literals the host services (budget, bank link, cheque book) write into their SQL. Every text
// value goes through SqlText, which doubles single quotes, so a value can never end its literal.
#pragma once

#include <cmath>
#include <string>
#include <string_view>

#include "db/variant.h"

namespace rembiz::host {

inline std::string SqlText(std::string_view text) {
  std::string out = "N'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// A text literal, or null for an empty text.
inline std::string SqlTextOrNull(std::string_view text) {
  return text.empty() ? std::string("null") : SqlText(text);
}

// A number literal; anything that is not a finite number becomes null.
inline std::string SqlMoney(double value) {
  return std::isfinite(value) ? db::DoubleText(value) : std::string("null");
}

}  // namespace rembiz::host
