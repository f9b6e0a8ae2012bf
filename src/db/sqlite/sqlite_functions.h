// SQL Server's scalar functions and text comparisons (collations), registered on every SQLite
// handle with the server's semantics.
#pragma once

#include <string_view>

struct sqlite3;

namespace rembiz::db::sqlite {

void RegisterSqlServerFunctions(sqlite3* db);
void RegisterSqlServerCollations(sqlite3* db);  // part of RegisterSqlServerFunctions
// Whether `name` (any case) is one of the functions RegisterSqlServerFunctions adds.
bool IsSqlServerFunction(std::string_view name);

}  // namespace rembiz::db::sqlite
