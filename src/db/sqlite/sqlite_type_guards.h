// The value checks of db/type_guards.h on SQLite, which would store any value as it comes: one
// guard trigger per table and write (temporary, made from the declared column types when the
// handle opens).
#pragma once

struct sqlite3;

namespace rembiz::db::sqlite {

// Registers the check function and makes the guard triggers of the handle's tables in `main`
// and `qdsystem`.
void InstallTypeGuards(sqlite3* db);

}  // namespace rembiz::db::sqlite
