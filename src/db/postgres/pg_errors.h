// PostgreSQL's errors as the server reports them: the number the classes expect, constraint
// messages in the server's words with the declared names of tables and columns, values refused
// while they were bound named by the column they were meant for; the SQLSTATE stays in DbError.
#pragma once

#include <libpq-fe.h>

#include "db/postgres/pg_catalog.h"
#include "db/sql/translate.h"

namespace rembiz::db::postgres {

struct ErrorSite {
  PGconn* conn = nullptr;
  Catalog* catalog = nullptr;
  const BatchStep* step = nullptr;  // the statement that failed, if any
};

// Throws the DbError of a failed result (or of the connection, when `res` is null).
[[noreturn]] void ThrowError(const ErrorSite& site, const PGresult* res);

}  // namespace rembiz::db::postgres
