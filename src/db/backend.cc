#include "db/backend.h"

#include "db/error.h"
#include "db/postgres/pg_backend.h"
#include "db/sqlite/sqlite_backend.h"
#include "db/text.h"

namespace rembiz::db {

const Backend& BackendFor(const ConnectionOptions& options) {
  const std::string provider = Lower(options.provider);
  if (provider == "sqlite") return sqlite::SqliteBackendInstance();
  if (provider == "postgresql") return postgres::PostgresBackendInstance();
  throw DbError(kErrConnection,
                "The provider '" + options.provider + "' is not available in this build.");
}

}  // namespace rembiz::db
