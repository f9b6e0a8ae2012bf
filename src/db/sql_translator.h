// Translation of the SQL Server dialect the business classes write into SQLite's dialect.
// A tokenizer plus rewrites: string literals, bracketed names and comments are never touched.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace rembiz::db {

// One step of a translated batch. A batch runs its steps in order, except where an IF or a RETURN
// decides otherwise: the server evaluates an IF's condition once, before either branch, and runs
// only the branch it chose.
struct BatchStep {
  enum class Kind {
    kStatement,  // a statement, ready for sqlite3_prepare
    kCondition,  // an IF's condition: a query that returns a row when it holds; when it returns
                 // none, the batch continues at `next`
    kJump,       // the end of a THEN branch that has an ELSE, or RETURN: continue at `next`
  };
  Kind kind = Kind::kStatement;
  std::string sql;
  size_t next = 0;

  bool operator==(const BatchStep&) const = default;
};

// The steps of one batch, in order.
using StatementList = std::vector<BatchStep>;

// Translates one batch. Identical texts are translated once per process (thread-safe cache).
// Throws DbError(kErrStatement) for text that cannot be tokenized (an unterminated literal).
std::shared_ptr<const StatementList> TranslateSql(std::string_view sql);

// Translation without the cache, for tests and tools.
StatementList TranslateSqlUncached(std::string_view sql);

// Registers SQL Server's scalar functions and text comparisons (collations) with their semantics
// on a SQLite handle.
void RegisterSqlServerFunctions(sqlite3* db);
void RegisterSqlServerCollations(sqlite3* db);  // part of RegisterSqlServerFunctions
// Whether `name` (any case) is one of the functions RegisterSqlServerFunctions adds.
bool IsSqlServerFunction(std::string_view name);

}  // namespace rembiz::db
