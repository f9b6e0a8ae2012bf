// Translation of the SQL Server dialect the business classes write into SQLite's dialect.
// A tokenizer plus rewrites: string literals, bracketed names and comments are never touched.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace rembiz::db {

// The statements of one batch, in order, each ready for sqlite3_prepare.
using StatementList = std::vector<std::string>;

// Translates one batch. Identical texts are translated once per process (thread-safe cache).
// Throws DbError(kErrStatement) for text that cannot be tokenized (an unterminated literal).
std::shared_ptr<const StatementList> TranslateSql(std::string_view sql);

// Translation without the cache, for tests and tools.
StatementList TranslateSqlUncached(std::string_view sql);

// Registers SQL Server's scalar functions with their semantics on a SQLite handle.
void RegisterSqlServerFunctions(sqlite3* db);
// Whether `name` (any case) is one of the functions RegisterSqlServerFunctions adds.
bool IsSqlServerFunction(std::string_view name);

}  // namespace rembiz::db
