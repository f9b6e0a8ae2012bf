// The embedded backend: a database is a SQLite file.
#pragma once

#include "db/backend.h"

namespace rembiz::db::sqlite {

const Backend& SqliteBackendInstance();

}  // namespace rembiz::db::sqlite
