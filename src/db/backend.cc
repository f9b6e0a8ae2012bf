#include "db/backend.h"

#include "db/error.h"
#include "db/sqlite/sqlite_backend.h"
#include "db/text.h"

namespace rembiz::db {

const Backend& BackendFor(const ConnectionOptions& options) {
  if (Lower(options.provider) == "sqlite") return sqlite::SqliteBackendInstance();
  throw DbError(kErrConnection,
                "The provider '" + options.provider + "' is not available in this build.");
}

}  // namespace rembiz::db
