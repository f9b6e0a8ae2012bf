// Translation of the SQL Server dialect the business classes write into SQLite's dialect.
// A tokenizer plus rewrites: string literals, bracketed names and comments are never touched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rembiz::db {

// The engines the translator writes for.
enum class Dialect { kSqlite, kPostgres };

// A value of a batch that a translated statement binds to a placeholder instead of carrying it
// in its text.
struct BoundValue {
  enum class Kind { kText, kInteger, kReal };
  Kind kind = Kind::kText;
  std::string text;  // text values unquoted (doubled quotes undone), numbers as written

  bool operator==(const BoundValue&) const = default;
};

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
  // The batch's value for each placeholder of `sql`, in placeholder order.
  std::vector<uint32_t> params;

  bool operator==(const BatchStep&) const = default;
};

// The steps of one batch, in order.
using StatementList = std::vector<BatchStep>;

// Translates one batch. Identical texts are translated once per process (thread-safe cache).
// Throws DbError(kErrStatement) for text that cannot be tokenized (an unterminated literal).
std::shared_ptr<const StatementList> TranslateSql(std::string_view sql);

// Translation without the cache, for tests and tools.
StatementList TranslateSqlUncached(std::string_view sql);

}  // namespace rembiz::db
