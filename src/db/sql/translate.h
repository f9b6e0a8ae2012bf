// Translation of the SQL Server dialect the business classes write into the dialect of the engine
// underneath (SQLite, PostgreSQL). One front end reads the batch (tokens, statements, the
// rewrites every engine needs) and one emitter per engine writes it; string literals, bracketed
// names and comments are never touched. The values of a batch come out as bound values beside
// statements with placeholders, in the same pass, so that batches differing only in their values
// share one translation.
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

// A parameter of a statement that binds the row count of the batch's last data statement
// (@@ROWCOUNT) rather than one of the batch's values.
inline constexpr uint32_t kRowCountValue = 0xFFFFFFFEu;

// How the columns of a query's result are named, for engines that cannot report a column's name
// as the query writes it: each item of the select list is one named column, or the columns of a
// star, which come from its sources in order.
struct ResultShape {
  struct Item;
  struct Source {
    std::string relation;  // a table or view, as the translated statement names it
    std::shared_ptr<const ResultShape> derived;  // or a derived table's own shape
  };
  struct Item {
    bool star = false;
    std::string name;             // a named column: its name ("" for an unnamed one)
    std::vector<Source> sources;  // a star: what it spans
  };
  std::vector<Item> items;
};

// The column a bound value is written to (INSERT ... VALUES, UPDATE ... SET column = value), so
// that a value the engine refuses while binding it is named by its column.
struct ValueTarget {
  uint32_t value = 0;  // index in the batch's values
  std::string table;   // as the statement writes them
  std::string column;
};

// One step of a translated batch. A batch runs its steps in order, except where an IF or a RETURN
// decides otherwise: the server evaluates an IF's condition once, before either branch, and runs
// only the branch it chose.
struct BatchStep {
  enum class Kind {
    kStatement,  // a statement
    kCondition,  // an IF's condition: a query that returns a row when it holds; when it returns
                 // none, the batch continues at `next`
    kJump,       // the end of a THEN branch that has an ELSE, or RETURN: continue at `next`
  };
  // What else an engine may need to know of a statement.
  enum class Effect {
    kNone,
    kInsertSelect,     // INSERT INTO `relation` [(`insert_columns`)] <query>: without a column
                       // list the columns go at `insert_at` of `sql` (the server leaves an
                       // IDENTITY column out); the query starts at `query_at`. The server
                       // converts the query's values to the columns' types as it writes them.
    kCreateFromQuery,  // SELECT ... INTO or CREATE VIEW made `relation` with the columns `shape`
  };
  Kind kind = Kind::kStatement;
  std::string sql;
  size_t next = 0;
  // The batch's value for each placeholder of `sql`, in placeholder order (kRowCountValue for
  // @@ROWCOUNT).
  std::vector<uint32_t> params;
  Effect effect = Effect::kNone;
  std::string relation;
  size_t insert_at = 0;
  size_t query_at = 0;
  std::vector<std::string> insert_columns;  // as the statement names them
  // The names of a query's columns (queries that answer the batch, and kCreateFromQuery).
  std::shared_ptr<const ResultShape> shape;
  std::vector<ValueTarget> targets;

  bool operator==(const BatchStep& other) const {
    return kind == other.kind && sql == other.sql && next == other.next && params == other.params &&
           effect == other.effect && relation == other.relation &&
           insert_columns == other.insert_columns;
  }
};

// The steps of one batch, in order.
using StatementList = std::vector<BatchStep>;

// A translated batch: its steps (shared by every batch of the same shape) and its own values.
struct TranslatedBatch {
  std::shared_ptr<const StatementList> steps;
  std::vector<BoundValue> values;
};

// Translates one batch for `dialect`. Batches of the same shape (the same text but for their
// values) are translated once per process (thread-safe cache). Throws DbError(kErrStatement) for
// text that cannot be tokenized or translated.
TranslatedBatch TranslateSql(std::string_view sql, Dialect dialect = Dialect::kSqlite);

// Translation without the cache, for tests and tools.
TranslatedBatch TranslateSqlUncached(std::string_view sql, Dialect dialect = Dialect::kSqlite);

// A translated statement as text, with each placeholder replaced by its value written as a
// literal: what a person reading a translation wants to see.
std::string ReadableStatement(const BatchStep& step, const std::vector<BoundValue>& values);
// The same for every step of a batch.
std::vector<std::string> ReadableSteps(const TranslatedBatch& batch);

// Edits that the layers above make to SQL text before it runs, at offsets the tokenizer finds so
// that nothing inside a literal, a quoted name or a comment is touched:
// - mark_literals: every literal 'x' becomes N'x' (one already marked, a blob x'..' and a literal
//   that opens the text stay as written);
// - bracket_aliases: the plain name after AS is bracketed ("as code" becomes "as [code]"); a name
//   followed by a parenthesis or a dot is a type or a table, not an alias.
// Text that does not split into tokens (an unterminated literal) comes back as it is, for the
// engine to report.
struct SqlTextEdits {
  bool mark_literals = false;
  bool bracket_aliases = false;
};
std::string EditSqlText(std::string_view sql, SqlTextEdits edits);

}  // namespace rembiz::db
