#include "db/sqlite/sqlite_type_guards.h"

#include <sqlite3.h>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "db/text.h"
#include "db/variant.h"

namespace rembiz::db::sqlite {
namespace {

constexpr const char* kCheckFunction = "rembiz_check_values";
// Columns per call of the check function (SQLite allows up to 127 arguments).
constexpr size_t kColumnsPerCall = 100;

// What a declared type allows.
enum class Rule : char {
  kChars = 'c',  // (n)(var)char(n): UTF-8 text of at most n characters
  kText = 't',   // text without a length: UTF-8 text
  kMoney = 'm',
  kSmallMoney = 's',
  kInt = 'i',
  kSmallInt = 'h',
  kTinyInt = 'y',
  kDecimal = 'd',  // decimal(p,s): below 10^(p-s)
  kFloat = 'f',
};

struct ColumnRule {
  std::string name;
  Rule rule;
  int64_t limit = 0;  // kChars: characters; kDecimal: digits before the point
};

struct GuardColumns {
  std::string table;
  std::vector<ColumnRule> columns;
};

// The rule of a declared type; nullopt for types that take any value here (dates, bits, GUIDs,
// bigint, types SQLite made up).
std::optional<ColumnRule> RuleOf(const std::string& name, std::string declared) {
  declared = Lower(Trim(declared));
  size_t open = declared.find('(');
  std::string base = Trim(declared.substr(0, open));
  std::vector<int64_t> sizes;
  if (open != std::string::npos) {
    std::string inside = declared.substr(open + 1, declared.find(')', open) - open - 1);
    for (size_t pos = 0; pos <= inside.size();) {
      size_t comma = inside.find(',', pos);
      if (comma == std::string::npos) comma = inside.size();
      std::optional<double> size = ParseNumber(Trim(inside.substr(pos, comma - pos)));
      sizes.push_back(size ? static_cast<int64_t>(*size) : -1);
      pos = comma + 1;
    }
  }
  if (base == "varchar" || base == "nvarchar" || base == "char" || base == "nchar") {
    if (!sizes.empty() && sizes[0] > 0) return ColumnRule{name, Rule::kChars, sizes[0]};
    return ColumnRule{name, Rule::kText, 0};
  }
  if (base == "text" || base == "ntext") return ColumnRule{name, Rule::kText, 0};
  if (base == "money") return ColumnRule{name, Rule::kMoney, 0};
  if (base == "smallmoney") return ColumnRule{name, Rule::kSmallMoney, 0};
  if (base == "int") return ColumnRule{name, Rule::kInt, 0};
  if (base == "smallint") return ColumnRule{name, Rule::kSmallInt, 0};
  if (base == "tinyint") return ColumnRule{name, Rule::kTinyInt, 0};
  if ((base == "decimal" || base == "numeric") && !sizes.empty() && sizes[0] > 0) {
    int64_t scale = sizes.size() > 1 && sizes[1] > 0 ? sizes[1] : 0;
    return ColumnRule{name, Rule::kDecimal, sizes[0] - scale};
  }
  if (base == "float" || base == "real") return ColumnRule{name, Rule::kFloat, 0};
  return std::nullopt;
}

std::string SpecText(const std::string& table, const std::vector<ColumnRule>& columns) {
  std::string out = table;
  for (const ColumnRule& column : columns) {
    out += "|" + column.name + ":" + static_cast<char>(column.rule) + ":" +
           std::to_string(column.limit);
  }
  return out;
}

GuardColumns ParseGuardColumns(std::string_view text) {
  GuardColumns guard;
  size_t bar = text.find('|');
  guard.table = std::string(text.substr(0, bar));
  while (bar != std::string_view::npos) {
    size_t next = text.find('|', bar + 1);
    std::string_view item = text.substr(bar + 1, next - bar - 1);
    size_t colon = item.find(':');
    ColumnRule column{std::string(item.substr(0, colon)), static_cast<Rule>(item[colon + 1]),
                      std::stoll(std::string(item.substr(colon + 3)))};
    guard.columns.push_back(std::move(column));
    bar = next;
  }
  return guard;
}

// Characters of a UTF-8 text as UTF-16 counts them (what nvarchar(n) limits); -1 when the
// bytes are not UTF-8.
int64_t Utf16Length(const unsigned char* text, int bytes) {
  int64_t units = 0;
  for (int i = 0; i < bytes;) {
    unsigned char c = text[i];
    int length = c < 0x80           ? 1
                 : (c >> 5) == 0x6  ? 2
                 : (c >> 4) == 0xE  ? 3
                 : (c >> 3) == 0x1E ? 4
                                    : 0;
    if (length == 0 || i + length > bytes) return -1;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return -1;
      code = (code << 6) | (text[i + k] & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return -1;
    }
    units += code > 0xFFFF ? 2 : 1;
    i += length;
  }
  return units;
}

const char* TypeName(Rule rule) {
  switch (rule) {
    case Rule::kMoney:
      return "money";
    case Rule::kSmallMoney:
      return "smallmoney";
    case Rule::kInt:
      return "int";
    case Rule::kSmallInt:
      return "smallint";
    case Rule::kTinyInt:
      return "tinyint";
    case Rule::kDecimal:
      return "decimal";
    case Rule::kChars:
    case Rule::kText:
    case Rule::kFloat:
    default:
      return "float";
  }
}

bool InRange(Rule rule, int64_t limit, double value) {
  switch (rule) {
    case Rule::kMoney:
      return std::fabs(value) <= 922337203685477.5807;
    case Rule::kSmallMoney:
      return std::fabs(value) <= 214748.3648;
    case Rule::kInt:
      return value >= -2147483648.0 && value <= 2147483647.0;
    case Rule::kSmallInt:
      return value >= -32768 && value <= 32767;
    case Rule::kTinyInt:
      return value >= 0 && value <= 255;
    case Rule::kDecimal:
      return std::fabs(value) < std::pow(10.0, static_cast<double>(limit));
    case Rule::kChars:
    case Rule::kText:
    case Rule::kFloat:
    default:
      return std::isfinite(value);
  }
}

// The refusal of one value, or "" when the column holds it.
std::string Refusal(const std::string& table, const ColumnRule& column, sqlite3_value* value) {
  // Written only for a refusal: the check runs for every value written.
  auto where = [&] { return " in table 'dbo." + table + "', column '" + column.name + "'"; };
  int type = sqlite3_value_type(value);
  if (type == SQLITE_NULL) return {};
  if (column.rule == Rule::kChars || column.rule == Rule::kText) {
    int64_t length = 0;
    if (type == SQLITE_BLOB) {
      length = sqlite3_value_bytes(value);
    } else {
      const unsigned char* text = sqlite3_value_text(value);
      length = Utf16Length(text, sqlite3_value_bytes(value));
      if (length < 0) return "Invalid text (not UTF-8)" + where() + ".";
    }
    if (column.rule == Rule::kChars && length > column.limit) {
      return "String or binary data would be truncated" + where() + ": it holds at most " +
             std::to_string(column.limit) + " characters.";
    }
    return {};
  }
  double number = 0;
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    number = sqlite3_value_double(value);
  } else {
    std::optional<double> parsed;
    if (type == SQLITE_TEXT) {
      parsed =
          ParseNumber(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                       static_cast<size_t>(sqlite3_value_bytes(value))));
    }
    if (!parsed) {
      return "Error converting a value to data type " + std::string(TypeName(column.rule)) +
             where() + ".";
    }
    number = *parsed;
  }
  if (!InRange(column.rule, column.limit, number)) {
    return "Arithmetic overflow error converting a value to data type " +
           std::string(TypeName(column.rule)) + where() + ".";
  }
  return {};
}

// rembiz_check_values(guard, value, …): NULL when every value fits its column, else the error.
void CheckValues(sqlite3_context* context, int argc, sqlite3_value** argv) {
  // SQLite keeps auxiliary data only while one statement runs; the parsed columns, a few per
  // table, are kept for the thread by their text.
  thread_local std::map<std::string, GuardColumns, std::less<>> parsed;
  const char* raw = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  std::string_view text = raw ? raw : "";
  auto it = parsed.find(text);
  if (it == parsed.end()) {
    if (parsed.size() >= 4096) parsed.clear();
    it = parsed.emplace(std::string(text), ParseGuardColumns(text)).first;
  }
  const GuardColumns* guard = &it->second;
  size_t count = std::min(guard->columns.size(), static_cast<size_t>(argc - 1));
  for (size_t i = 0; i < count; ++i) {
    std::string refusal = Refusal(guard->table, guard->columns[i], argv[i + 1]);
    if (!refusal.empty()) {
      sqlite3_result_error(context, refusal.c_str(), -1);
      sqlite3_result_error_code(context, SQLITE_MISMATCH);
      return;
    }
  }
  sqlite3_result_null(context);
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The guard triggers of one schema's tables.
std::string GuardTriggers(sqlite3* db, const std::string& schema) {
  std::map<std::string, std::vector<ColumnRule>> tables;
  std::string sql = "SELECT m.name, p.name, p.type FROM " + schema +
                    ".sqlite_schema m JOIN pragma_table_info(m.name, '" + schema +
                    "') p WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite%' ORDER BY m.name, "
                    "p.cid";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return {};
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    auto text = [&](int i) {
      const unsigned char* t = sqlite3_column_text(stmt, i);
      return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    std::vector<ColumnRule>& columns = tables[text(0)];
    if (std::optional<ColumnRule> rule = RuleOf(text(1), text(2))) columns.push_back(*rule);
  }
  sqlite3_finalize(stmt);

  std::string out;
  for (const auto& [table, columns] : tables) {
    if (columns.empty()) continue;
    std::string body, names;
    for (size_t first = 0; first < columns.size(); first += kColumnsPerCall) {
      std::vector<ColumnRule> part(columns.begin() + static_cast<ptrdiff_t>(first),
                                   columns.begin() + static_cast<ptrdiff_t>(std::min(
                                                         columns.size(), first + kColumnsPerCall)));
      body += std::string("SELECT ") + kCheckFunction + "('" + SpecText(table, part) + "'";
      for (const ColumnRule& column : part) body += ", NEW." + Quoted(column.name);
      body += "); ";
    }
    for (const ColumnRule& column : columns)
      names += (names.empty() ? "" : ", ") + Quoted(column.name);
    const std::string target = Quoted(schema) + "." + Quoted(table);
    const std::string name = "rembiz_guard_" + schema + "_" + table;
    out += "CREATE TEMP TRIGGER IF NOT EXISTS " + Quoted(name + "_ins") + " BEFORE INSERT ON " +
           target + " BEGIN " + body + "END;\n";
    out += "CREATE TEMP TRIGGER IF NOT EXISTS " + Quoted(name + "_upd") + " BEFORE UPDATE OF " +
           names + " ON " + target + " BEGIN " + body + "END;\n";
  }
  return out;
}

}  // namespace

void InstallTypeGuards(sqlite3* db) {
  sqlite3_create_function_v2(db, kCheckFunction, -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                             CheckValues, nullptr, nullptr, nullptr);
  std::string triggers;
  for (const char* schema : {"main", "qdsystem"}) {
    if (sqlite3_db_filename(db, schema) == nullptr) continue;
    triggers += GuardTriggers(db, schema);
  }
  if (triggers.empty()) return;
  char* error = nullptr;
  sqlite3_exec(db, ("BEGIN; " + triggers + "COMMIT;").c_str(), nullptr, nullptr, &error);
  if (error) {
    sqlite3_free(error);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

}  // namespace rembiz::db::sqlite
