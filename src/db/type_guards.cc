#include "db/type_guards.h"

#include <cstdlib>

namespace rembiz::db {

std::optional<ValueRefusal> ReadValueRefusal(const ComError& error) {
  if (error.Number() != kErrDataValue) return std::nullopt;
  const std::string& text = error.Description();
  ValueRefusal refusal{ValueRefusal::Kind::kNotText, "", "", 0};
  if (text.starts_with("String or binary data")) {
    refusal.kind = ValueRefusal::Kind::kTooLong;
  } else if (text.starts_with("Arithmetic overflow")) {
    refusal.kind = ValueRefusal::Kind::kOutOfRange;
  } else if (text.starts_with("Error converting")) {
    refusal.kind = ValueRefusal::Kind::kNotNumber;
  } else if (!text.starts_with("Invalid text")) {
    return std::nullopt;
  }
  auto quoted_after = [&](std::string_view marker) -> std::string {
    size_t at = text.find(marker);
    if (at == std::string::npos) return "";
    at += marker.size();
    return text.substr(at, text.find('\'', at) - at);
  };
  refusal.table = quoted_after("table 'dbo.");
  refusal.column = quoted_after("column '");
  size_t most = text.find("at most ");
  if (most != std::string::npos) refusal.limit = std::atoll(text.c_str() + most + 8);
  if (refusal.column.empty()) return std::nullopt;
  return refusal;
}

}  // namespace rembiz::db
