#include "db/postgres/pg_errors.h"

#include <cstdlib>
#include <string>

#include "db/error.h"
#include "db/text.h"

namespace rembiz::db::postgres {
namespace {

std::string ErrorField(const PGresult* res, int field) {
  const char* value = res ? PQresultErrorField(res, field) : nullptr;
  return value ? value : "";
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The kind of statement the server names in a constraint message ("INSERT", "UPDATE", "DELETE").
std::string StatementKind(std::string_view sql) {
  size_t i = sql.find_first_not_of(" \t\r\n(");
  std::string word;
  while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i]))) {
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
  }
  return word == "UPDATE" || word == "DELETE" ? word : "INSERT";
}

// The bound value the engine refused while binding ("unnamed portal parameter $3 = '…'"), as
// the batch's value index.
std::optional<uint32_t> RefusedParameter(const std::string& context, const BatchStep* step) {
  size_t at = context.find("parameter $");
  if (at == std::string::npos || !step) return std::nullopt;
  size_t k = std::strtoul(context.c_str() + at + 11, nullptr, 10);
  if (k == 0 || k > step->params.size()) return std::nullopt;
  return step->params[k - 1];
}

}  // namespace

void ThrowError(const ErrorSite& site, const PGresult* res) {
  std::string state = ErrorField(res, PG_DIAG_SQLSTATE);
  std::string message = ErrorField(res, PG_DIAG_MESSAGE_PRIMARY);
  if (message.empty()) {
    message = site.conn ? PQerrorMessage(site.conn) : "the connection failed";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
      message.pop_back();
    }
  }
  const std::string sql = site.step ? site.step->sql : std::string();
  const std::string constraint = ErrorField(res, PG_DIAG_CONSTRAINT_NAME);
  const bool can_ask = site.conn && PQtransactionStatus(site.conn) == PQTRANS_IDLE;
  auto table_of = [&](const std::string& schema, const std::string& name) {
    auto meta = site.catalog->BySchemaName(site.conn, schema, name, can_ask);
    return meta ? meta->TableName() : name;
  };
  const std::string schema = ErrorField(res, PG_DIAG_SCHEMA_NAME);
  const std::string table = ErrorField(res, PG_DIAG_TABLE_NAME);

  if (state == "23505") {
    std::string owner = table_of(schema, table);
    if (StartsWith(constraint, "PK_")) {
      throw DbError(kErrConstraint,
                    "Violation of PRIMARY KEY constraint '" + constraint +
                        "'. Cannot insert duplicate key in object 'dbo." + owner + "'.",
                    state);
    }
    throw DbError(kErrConstraint,
                  "Cannot insert duplicate key row in object 'dbo." + owner +
                      "' with unique index '" + constraint + "'.",
                  state);
  }
  if (state == "23503") {
    std::optional<ForeignKeyMeta> fk = site.catalog->ForeignKey(site.conn, constraint, can_ask);
    std::string kind = StatementKind(sql);
    if (fk) {
      auto child = site.catalog->ByOid(site.conn, fk->child, can_ask);
      auto parent = site.catalog->ByOid(site.conn, fk->parent, can_ask);
      if (kind == "DELETE" && child) {
        throw DbError(kErrConstraint,
                      "The DELETE statement conflicted with the REFERENCE constraint \"" +
                          constraint + "\". The conflict occurred in table \"dbo." +
                          child->TableName() + "\", column '" +
                          child->ColumnName(fk->child_column) + "'.",
                      state);
      }
      if (parent) {
        throw DbError(kErrConstraint,
                      "The " + kind + " statement conflicted with the FOREIGN KEY constraint \"" +
                          constraint + "\". The conflict occurred in table \"dbo." +
                          parent->TableName() + "\", column '" +
                          parent->ColumnName(fk->parent_column) + "'.",
                      state);
      }
    }
    throw DbError(kErrConstraint,
                  "The " + kind + " statement conflicted with the constraint \"" + constraint +
                      "\". " + message,
                  state);
  }
  if (state == "23502") {
    auto meta = site.catalog->BySchemaName(site.conn, schema, table, can_ask);
    std::string column = ErrorField(res, PG_DIAG_COLUMN_NAME);
    if (meta) {
      for (const ColumnMeta& c : meta->columns) {
        if (c.name == column && !c.declared.empty()) column = c.declared;
      }
    }
    throw DbError(kErrConstraint,
                  "Cannot insert the value NULL into column '" + column + "', table 'dbo." +
                      table_of(schema, table) + "'; column does not allow nulls. " +
                      StatementKind(sql) + " fails.",
                  state);
  }
  if (StartsWith(state, "23")) {
    throw DbError(kErrConstraint, message + " (" + constraint + ")", state);
  }
  if (state == "RZ001") throw DbError(kErrDataValue, message, state);
  if (state == "22P02" || state == "22003" || state == "22021" || state == "22001") {
    // A value its column cannot hold, refused while it was bound: named as the server would.
    std::optional<uint32_t> value = RefusedParameter(ErrorField(res, PG_DIAG_CONTEXT), site.step);
    const ValueTarget* target = nullptr;
    if (value && site.step) {
      for (const ValueTarget& t : site.step->targets) {
        if (t.value == *value) target = &t;
      }
    }
    if (target) {
      std::string place = " in table 'dbo." + target->table + "', column '" + target->column + "'";
      if (state == "22021") {
        throw DbError(kErrDataValue, "Invalid text (not UTF-8)" + place + ".", state);
      }
      std::string type = message.find("integer") != std::string::npos ? "int" : "numeric";
      if (state == "22P02") {
        throw DbError(kErrDataValue, "Error converting a value to data type " + type + place + ".",
                      state);
      }
      throw DbError(
          kErrDataValue,
          "Arithmetic overflow error converting a value to data type " + type + place + ".", state);
    }
  }
  if (state == "57014" || state == "55P03" || state == "40P01" || state == "40001") {
    throw DbError(kErrTimeout, "Timeout expired (" + message + ")", state);
  }
  if (StartsWith(state, "08") || state.empty()) {
    throw DbError(kErrConnection, message, state);
  }
  throw DbError(kErrStatement, message + " [" + TruncatedSql(sql) + "]", state);
}

}  // namespace rembiz::db::postgres
