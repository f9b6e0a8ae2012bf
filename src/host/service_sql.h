// Literals the host services write into their SQL, all built on db::SqlText so that every text
// value has its single quotes doubled.
#pragma once

#include <cmath>
#include <string>
#include <string_view>

#include "db/text.h"
#include "db/variant.h"

namespace rembiz::host {

using db::SqlText;

// A text literal, or null for an empty text.
inline std::string SqlTextOrNull(std::string_view text) {
  return text.empty() ? std::string("null") : SqlText(text);
}

// A number literal; anything that is not a finite number becomes null.
inline std::string SqlMoney(double value) {
  return std::isfinite(value) ? db::DoubleText(value) : std::string("null");
}

}  // namespace rembiz::host
