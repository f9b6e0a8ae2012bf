// The server backend: the system database, tempdb and the account-year databases are schemas of
// one PostgreSQL database.
#pragma once

#include "db/backend.h"

namespace rembiz::db::postgres {

const Backend& PostgresBackendInstance();

}  // namespace rembiz::db::postgres
