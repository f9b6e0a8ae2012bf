#include "db/sqlite/sqlite_errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/text.h"

namespace rembiz::db::sqlite {
namespace {

// A literal in SQLite's own dialect, for the statements written here.
std::string Literal(std::string_view text) { return "'" + SqlEscape(text) + "'"; }

// Finds the unique index of `table` over exactly `columns` and writes SQL Server's text.
std::string DuplicateKeyMessage(sqlite3* db, const std::string& message) {
  // "UNIQUE constraint failed: T.a, T.b"
  size_t colon = message.find(": ");
  if (colon == std::string::npos) return message;
  // An index over expressions is reported by name: "UNIQUE constraint failed: index 'IX_…'".
  if (message.compare(colon + 2, 7, "index '") == 0) {
    std::string name = message.substr(colon + 9, message.find('\'', colon + 9) - colon - 9);
    std::string owner;
    sqlite3_stmt* stmt = nullptr;
    std::string sql =
        "SELECT tbl_name FROM sqlite_schema WHERE type = 'index' AND name = " + Literal(name) +
        " UNION ALL SELECT tbl_name FROM qdsystem.sqlite_schema "
        "WHERE type = 'index' AND name = " +
        Literal(name);
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      owner = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    return "Cannot insert duplicate key row in object 'dbo." + owner + "' with unique index '" +
           name + "'.";
  }
  std::string table;
  std::vector<std::string> columns;
  std::string_view rest(message);
  rest.remove_prefix(colon + 2);
  while (!rest.empty()) {
    size_t comma = rest.find(", ");
    std::string_view item = rest.substr(0, comma);
    size_t dot = item.find('.');
    if (dot != std::string_view::npos) {
      table = std::string(item.substr(0, dot));
      columns.push_back(Lower(item.substr(dot + 1)));
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 2);
  }
  if (table.empty()) return message;
  std::sort(columns.begin(), columns.end());
  std::string index_name;
  bool primary = false;
  for (const char* schema : {"main", "qdsystem", "tempdb"}) {
    std::string sql = std::string("SELECT il.name, il.origin, group_concat(lower(ii.name), ',') ") +
                      "FROM pragma_index_list(" + Literal(table) + ", " + Literal(schema) +
                      ") il, pragma_index_info(il.name, " + Literal(schema) +
                      ") ii WHERE il.[unique] = 1 GROUP BY il.name, il.origin";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      continue;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string cols = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
      std::vector<std::string> parts;
      for (size_t b = 0; b <= cols.size();) {
        size_t e = cols.find(',', b);
        if (e == std::string::npos) e = cols.size();
        parts.push_back(cols.substr(b, e - b));
        b = e + 1;
      }
      std::sort(parts.begin(), parts.end());
      if (parts == columns) {
        index_name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        primary = std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1))) == "pk";
      }
    }
    sqlite3_finalize(stmt);
    if (!index_name.empty()) break;
  }
  if (index_name.empty() || index_name.rfind("sqlite_autoindex", 0) == 0) {
    index_name = "PK_" + table;
    primary = true;
  }
  if (primary || index_name.rfind("PK_", 0) == 0) {
    return "Violation of PRIMARY KEY constraint '" + index_name +
           "'. Cannot insert duplicate key in object 'dbo." + table + "'.";
  }
  return "Cannot insert duplicate key row in object 'dbo." + table + "' with unique index '" +
         index_name + "'.";
}

}  // namespace

void ThrowError(sqlite3* db, int rc, std::string_view sql) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int extended = db ? sqlite3_extended_errcode(db) : rc;
  std::string native = std::to_string(extended);
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_INTERRUPT:
      throw DbError(kErrTimeout, "Timeout expired (" + message + ")", native);
    case SQLITE_CONSTRAINT:
      if (extended == SQLITE_CONSTRAINT_UNIQUE || extended == SQLITE_CONSTRAINT_PRIMARYKEY) {
        throw DbError(kErrConstraint, DuplicateKeyMessage(db, message), native);
      }
      if (extended == SQLITE_CONSTRAINT_NOTNULL) {
        // "NOT NULL constraint failed: T.c"
        std::string item = message.substr(message.find(": ") + 2);
        size_t dot = item.find('.');
        throw DbError(kErrConstraint,
                      "Cannot insert the value NULL into column '" + item.substr(dot + 1) +
                          "', table 'dbo." + item.substr(0, dot) +
                          "'; column does not allow nulls. INSERT fails.",
                      native);
      }
      throw DbError(kErrConstraint, message, native);
    case SQLITE_MISMATCH:
      // A value its column cannot hold (sqlite_type_guards.h); the text names table and column.
      throw DbError(kErrDataValue, message, native);
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_PERM:
    case SQLITE_READONLY:
      throw DbError(kErrConnection, message, native);
    default:
      throw DbError(kErrStatement, message + " [" + TruncatedSql(sql) + "]", native);
  }
}

}  // namespace rembiz::db::sqlite
