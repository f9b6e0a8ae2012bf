// Values checked against the column they are written to, as a SQL Server refuses them: text
// longer than its (n)varchar(n), a number outside its money, int or decimal range, a text that
// is no number in a numeric column, bytes that are not UTF-8 text. Every backend refuses them
// with a DbError(kErrDataValue) whose text names table and column in the words below, so that
// every writer is held to the same rules and a refused statement writes nothing.
#pragma once

#include <optional>
#include <string>

#include "db/error.h"

namespace rembiz::db {

// A refusal of a guard, read back from its error (number kErrDataValue).
struct ValueRefusal {
  enum class Kind { kTooLong, kOutOfRange, kNotText, kNotNumber };
  Kind kind;
  std::string table;
  std::string column;
  int64_t limit = 0;  // kTooLong: the characters the column holds
};
std::optional<ValueRefusal> ReadValueRefusal(const ComError& error);

}  // namespace rembiz::db
