// Values checked against the column they are written to, as a SQL Server refuses them: text
// longer than its (n)varchar(n), a number outside its money, int or decimal range, a text that
// is no number in a numeric column, bytes that are not UTF-8 text. SQLite would store all of
// them as they come. Every handle gets one guard trigger per table and write (temporary, made
// from the declared column types when the handle opens), so that every writer is held to the
// same rules and a refused statement writes nothing.
#pragma once

#include <optional>
#include <string>

#include "db/error.h"

struct sqlite3;

namespace rembiz::db {

// Registers the check function and makes the guard triggers of the handle's tables in `main`
// and `qdsystem`.
void InstallTypeGuards(sqlite3* db);

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
