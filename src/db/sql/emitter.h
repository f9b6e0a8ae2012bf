// What the front end hands to an emitter, and the Emitter interface: everything that differs
// between the engines the statements are written for. Only the data layer includes this header.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "db/sql/token_helpers.h"
#include "db/sql/translate.h"

namespace rembiz::db::sql {

// ---------------------------------------------------------------------------------------------
// Definitions, parsed by the front end and written by each emitter.

struct ColumnDefinition {
  std::string name;  // as written
  SqlType type;
  bool nullable = true;
  bool identity = false;
  bool rowversion = false;  // timestamp / rowversion: a new, larger value on every write
  Tokens default_value;     // translated, or empty
  std::string collation;    // as written, or empty
};

struct KeyDefinition {
  std::string name;
  bool primary = false;
  std::vector<std::string> columns;
};

struct ForeignKeyDefinition {
  std::string name;
  std::vector<std::string> columns;
  std::string parent;  // the referenced table, as written
  std::vector<std::string> parent_columns;
  bool cascade_delete = false;
};

struct TableDefinition {
  std::string schema;  // "" (the account database), "qdsystem" or "tempdb"
  std::string name;    // as written
  bool if_not_exists = false;
  std::vector<ColumnDefinition> columns;
  std::vector<KeyDefinition> keys;
  std::vector<ForeignKeyDefinition> foreign_keys;
  std::vector<Tokens> checks;  // translated conditions

  const ColumnDefinition* Column(std::string_view name) const;
};

// A foreign key of a batch: the child table (in its schema) and the key.
struct ForeignKeyUse {
  std::string schema;
  std::string child;
  ForeignKeyDefinition key;
};

// CREATE [UNIQUE] INDEX.
struct IndexDefinition {
  std::string schema;
  std::string table;
  std::string name;
  bool unique = false;
  std::vector<Tokens> keys;  // translated key expressions (usually one column each)
  Tokens where;              // translated filter, or empty
};

// CREATE TRIGGER name ON table FOR UPDATE, DELETE AS RAISERROR('text', 16, 1): the one trigger
// the schema writes, which refuses the statements it names with its text (a table that only
// ever grows, such as a history).
struct RefusalTrigger {
  std::string schema;  // "" (the account database), "qdsystem" or "tempdb"
  std::string table;   // as written
  std::string name;
  bool update = false;
  bool del = false;
  std::string message;
};

// ---------------------------------------------------------------------------------------------
// The emitter: what each engine writes differently. The front end decides what a statement
// means; the emitter spells it.

class Emitter {
 public:
  virtual ~Emitter() = default;
  virtual Dialect Target() const = 0;

  // A call of a function of the server (name lower-case) whose arguments are translated already.
  // The front end also calls "rembiz_plus" (a "+" whose meaning only the values' types decide),
  // "like_operand" (the left side of LIKE) and "getdate" (CURRENT_TIMESTAMP).
  virtual Tokens Function(const std::string& name, const Token& name_token,
                          std::vector<Tokens> args) const = 0;
  // CAST / CONVERT of `value` to `type`. `style` is CONVERT's third argument; `value_scale` is
  // set when the value is itself a conversion to a decimal type (its text keeps that scale).
  virtual Tokens Conversion(const SqlType& type, Tokens value, const Tokens* style,
                            std::optional<int> value_scale) const = 0;
  // The catalog sysobjects of a database ("main", "qdsystem", "tempdb") as a derived table with
  // the columns name, id, xtype and type, named `alias` when that is not empty.
  virtual Tokens Catalog(const std::string& schema, const std::string& alias) const = 0;
  // A collation clause's name for the server's collation `name`.
  virtual Token Collation(const std::string& name) const = 0;
  // The column that identifies a row in a table, for UPDATE and DELETE with joins.
  virtual std::string RowId() const = 0;
  // The value an absent condition takes in "NOT coalesce(condition, <false>)".
  virtual Token FalseValue() const = 0;
  // The keyword of LIKE (the engine's case-insensitive one).
  virtual std::string LikeKeyword() const = 0;
  // What follows an unnamed column of a result ("AS \"\"" where the engine would name it).
  virtual Tokens UnnamedColumnAlias() const = 0;
  // @@IDENTITY.
  virtual Tokens LastIdentity() const = 0;

  // The statements that make a table, an index, a foreign key or a view.
  virtual std::vector<Tokens> CreateTable(const TableDefinition& table) const = 0;
  virtual std::vector<Tokens> CreateIndex(const IndexDefinition& index) const = 0;
  // ALTER TABLE ADD of the columns of `table` (a definition holding only the new columns and
  // their CHECKs) to the existing table: existing rows take the columns' defaults, a row version
  // gives each existing row its own value, and the new columns are guarded as CreateTable's are.
  virtual std::vector<Tokens> AddColumns(const TableDefinition& table) const = 0;
  // A batch's foreign keys (CREATE TABLE's and ALTER TABLE ADD CONSTRAINT's), in the order the
  // batch declares them, written at its end when every table exists. Where several keys refer to
  // one table, deleting a row that more than one of them still needs names the first declared.
  virtual std::vector<Tokens> ForeignKeys(const std::vector<ForeignKeyUse>& keys) const = 0;
  // The statements that make a RefusalTrigger: the statements it names fail as a constraint
  // does, with its text.
  virtual std::vector<Tokens> RefusingTrigger(const RefusalTrigger& trigger) const = 0;
  // CREATE VIEW name AS query.
  virtual Tokens CreateView(const Tokens& name, const Tokens& query) const = 0;
  // DROP INDEX of `table` (schema may be empty).
  virtual Tokens DropIndex(const std::string& schema, const std::string& table,
                           const std::string& index) const = 0;
  // TRUNCATE TABLE: every row deleted and the IDENTITY column started over.
  virtual std::vector<Tokens> Truncate(const Tokens& table, const std::string& schema,
                                       const std::string& name) const = 0;
  // ANALYZE of a table (UPDATE STATISTICS).
  virtual Tokens Analyze(const Tokens& table) const;

  // Whether a statement may bind values; where it may not (most definitions), its literals are
  // written into its text.
  virtual bool TakesParameters(const Tokens& statement) const = 0;
  // The text of a statement; tokens that stand for bound values become placeholders, whose
  // values' indices are appended to `params`. With `inline_values` they are written as
  // literals instead.
  virtual std::string Render(const Tokens& tokens, std::vector<uint32_t>* params,
                             bool inline_values) const = 0;
};

// The emitter of a dialect (one instance each, for the life of the process).
const Emitter& EmitterFor(Dialect dialect);

// Whether a statement begins (after any parentheses) with one of `words` (lower case).
bool StartsWithWord(const Tokens& statement, const std::unordered_set<std::string>& words);

// Tokens as text with the spacing a person would write; `spell` appends one token's text.
std::string JoinTokens(const Tokens& tokens,
                       const std::function<void(const Token&, std::string&)>& spell);

// Whether a token stands for a bound value (a lifted literal or @@ROWCOUNT).
inline bool IsBound(const Token& t) { return t.param >= 0 || t.param == kRowCountParam; }
// The entry of BatchStep::params for a bound token.
inline uint32_t ParamIndex(const Token& t) {
  return t.param == kRowCountParam ? kRowCountValue : static_cast<uint32_t>(t.param);
}

}  // namespace rembiz::db::sql
