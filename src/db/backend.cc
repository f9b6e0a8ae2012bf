#include "db/backend.h"

#include "db/error.h"
#include "db/postgres/pg_backend.h"
#include "db/sqlite/sqlite_backend.h"
#include "db/text.h"

namespace rembiz::db {

void RefuseQuery(std::string_view why, std::string_view sql) {
  throw DbError(kErrStatement, "Only a single read-only query is allowed here (" +
                                   std::string(why) + ") [" + TruncatedSql(sql) + "]");
}

void AnswerTooLarge(size_t limit, std::string_view unit, std::string_view sql) {
  throw DbError(kErrStatement, "The query answers more than " + std::to_string(limit) + " " +
                                   std::string(unit) + "; narrow it down. [" + TruncatedSql(sql) +
                                   "]");
}

void ValueTooLong(int limit, std::string_view sql) {
  throw DbError(kErrStatement, "A value of the query is longer than " + std::to_string(limit) +
                                   " bytes. [" + TruncatedSql(sql) + "]");
}

void QueryTooLong(int seconds, std::string_view sql) {
  throw DbError(kErrTimeout, "The query ran longer than its " + std::to_string(seconds) +
                                 " seconds and was stopped; narrow it down. [" + TruncatedSql(sql) +
                                 "]");
}

const Backend& BackendFor(const ConnectionOptions& options) {
  const std::string provider = Lower(options.provider);
  if (provider == "sqlite") return sqlite::SqliteBackendInstance();
  if (provider == "postgresql") return postgres::PostgresBackendInstance();
  throw DbError(kErrConnection,
                "The provider '" + options.provider + "' is not available in this build.");
}

}  // namespace rembiz::db
