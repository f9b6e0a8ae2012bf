// SQL Server's scalar functions and text comparisons (collations), registered on every SQLite
// handle with the server's semantics.
#pragma once

struct sqlite3;

namespace rembiz::db::sqlite {

void RegisterSqlServerFunctions(sqlite3* db);
void RegisterSqlServerCollations(sqlite3* db);  // part of RegisterSqlServerFunctions

}  // namespace rembiz::db::sqlite
