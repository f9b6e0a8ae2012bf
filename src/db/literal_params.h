// Literals of a translated SQLite statement turned into bound parameters. Statements the classes
// build differ only in their values; with the values taken out, one prepared statement serves
// every request that writes the same shape.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rembiz::db {

struct LiteralValue {
  enum class Kind { kText, kInteger, kReal } kind;
  std::string text;  // text literals unquoted (doubled quotes undone), numbers as written
};

struct ParameterizedStatement {
  std::string text;                  // the statement with a "?" for each literal
  std::vector<LiteralValue> values;  // in the order of the "?"s
};

// The statement with its literals as parameters. Statements that cannot take parameters (DDL,
// transaction control, pragmas) and positional ORDER BY / GROUP BY numbers are left alone; a
// statement without literals comes back with no values.
ParameterizedStatement ParameterizeLiterals(std::string_view sql);

}  // namespace rembiz::db
