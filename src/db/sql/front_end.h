// The translator's front end, shared by its parts and by the emitters: token helpers, the model
// of a batch's statements, and the Emitter interface, which is everything that differs between
// the engines the translator writes for. Only the data layer includes this header.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "db/sql/tokenizer.h"
#include "db/sql/translate.h"

namespace rembiz::db::sql {

constexpr size_t kNone = static_cast<size_t>(-1);

[[noreturn]] void Fail(const std::string& what);

// ---------------------------------------------------------------------------------------------
// Token helpers

Token Word(std::string text);
Token Op(std::string text);
Token LParen();
Token RParen();
Token Comma();
Token Dot();
Token Number(std::string text);
// A string literal of `raw` (quotes doubled).
Token Str(std::string_view raw);
// A quoted name of `name` ("name", quotes doubled).
Token QuotedName(std::string_view name);

bool IsOp(const Token& t, std::string_view op);
void Append(Tokens& out, const Tokens& more);
void AppendWords(Tokens& out, std::initializer_list<const char*> words);
Tokens Parenthesized(Tokens inner);
// "(a) AND (b)"; either side may be empty.
Tokens AndTokens(const Tokens& a, const Tokens& b);
bool IsComparison(const Token& t);
// Words that end or separate expressions; everything else made of letters is a name.
bool IsKeyword(const Token& t);
// Keywords that are also function names when a parenthesis follows.
bool IsFunctionKeyword(const Token& t);
// For every "(" the index of its ")", for every CASE the index of its END; kNone elsewhere.
std::vector<size_t> MatchPairs(const Tokens& t);
// Index of the first `word` at nesting depth 0 within [b, e), or kNone.
size_t FindTop(const Tokens& t, const std::vector<size_t>& match, size_t b, size_t e,
               std::string_view word);
// The comma-separated parts of [b, e) at depth 0.
std::vector<std::pair<size_t, size_t>> SplitTop(const Tokens& t, const std::vector<size_t>& match,
                                                size_t b, size_t e);
// Index just past a dotted name chain starting at `i` (i itself when there is no name).
size_t NameChainEnd(const Tokens& t, size_t i, size_t e);
// The text of a string literal token ('it''s' is it's).
std::string StringValue(std::string_view literal);

// What a SQL Server type is, for conversions and "+".
enum class Type { kUnknown, kText, kNumber, kDate };
Type TypeOfSqlType(const Token& t);

// A type as a conversion or a column definition names it: "varchar" with {"20"}, "decimal"
// with {"18", "2"}, "nvarchar" with {"max"}.
struct SqlType {
  std::string base;  // lower case
  std::vector<std::string> params;

  // "decimal(18,2)", "varchar(20)", "int": the type as the server writes it.
  std::string Text() const;
};

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
  // A batch's foreign keys (CREATE TABLE's and ALTER TABLE ADD CONSTRAINT's), in the order the
  // batch declares them, written at its end when every table exists. Where several keys refer to
  // one table, deleting a row that more than one of them still needs names the first declared.
  virtual std::vector<Tokens> ForeignKeys(const std::vector<ForeignKeyUse>& keys) const = 0;
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

// ---------------------------------------------------------------------------------------------
// The front end's steps.

// "dbo.T" is T; "<db>.dbo.T" and "<db>..T" are T in the schema of that database (qdsystem,
// tempdb), or in the account's for any other database.
Tokens StripNamePrefixes(const Tokens& in);

// The batch's steps for `tokens` (prefixes stripped). `value_dependent` is set when a literal
// that stands for a bound value had to be written into a statement's text.
StatementList TranslateBatch(const Tokens& tokens, const Emitter& emitter, bool* value_dependent);

// Nested joins get the parentheses their ON clauses imply.
Tokens ParenthesizeNestedJoins(const Tokens& t);

// "+" as text concatenation, addition or date arithmetic, and text/number comparisons as the
// server converts them; LIKE's left side marked as such (like_operand).
Tokens RewritePlus(const Tokens& in);

// Expressions, queries and definitions of one statement's tokens.
class Translator {
 public:
  Translator(const Tokens& t, const Emitter& emitter);

  const Tokens& tokens() const { return t_; }
  const std::vector<size_t>& match() const { return match_; }
  size_t size() const { return t_.size(); }
  const Emitter& emitter() const { return emitter_; }

  // A table hint list such as "(nolock)" or "(nolock, readpast)" at `open`.
  bool IsHintGroup(size_t open) const;
  bool StartsQuery(size_t b, size_t e) const;

  // Expressions, clauses, anything outside the statement-level shapes.
  Tokens Expr(size_t b, size_t e);

  // A query expression: SELECT cores joined by UNION/EXCEPT/INTERSECT, an optional ORDER BY.
  // TOP n becomes LIMIT n at the end of its own SELECT. INTO (only allowed where `into` is given)
  // is handed back. With `name_columns`, the result's columns are named as the server names
  // them.
  Tokens Query(size_t b, size_t e, Tokens* into = nullptr, bool name_columns = false);
  // How the server names the columns of the query at [b, e) (its first SELECT's list).
  ResultShape ShapeOf(size_t b, size_t e) const;

  // Table and its FROM-clause neighbours, for UPDATE and DELETE with a FROM clause.
  struct Ref {
    size_t b = 0, e = 0;            // the whole reference (source, alias, hints)
    size_t name_b = 0, name_e = 0;  // the table name or derived table
    std::string join;               // "" first, "," or the join kind ("inner", "left", ...)
    size_t on_b = kNone, on_e = kNone;
    std::string alias;  // lower-case
    bool derived = false;
  };
  std::vector<Ref> ParseFrom(size_t b, size_t e) const;

  Tokens Slice(size_t b, size_t e) const;

  // CREATE TABLE's definition; `if_not_exists` from a guarding IF.
  TableDefinition ParseTable(bool if_not_exists);
  // The type at [b, e): a name and an optional parameter list.
  SqlType ParseType(size_t b, size_t e) const;

 private:
  struct Core {
    Tokens body;
    Tokens limit;
  };
  enum class Naming { kNone, kResult, kTable };

  Core SelectCore(size_t b, size_t e, Tokens* into, bool name_columns);
  size_t SelectListEnd(size_t b, size_t e) const;
  Tokens SelectList(size_t b, size_t e, Naming naming);
  bool IsNamedItem(size_t b, size_t e) const;
  size_t CatalogEnd(size_t i, size_t e) const;
  Tokens CatalogTable(size_t b, size_t end, size_t e, const Tokens& before) const;
  Tokens Call(size_t name_index, size_t open, size_t close);
  std::optional<int> DecimalScale(size_t b, size_t e) const;
  Tokens Conversion(size_t type_b, size_t type_e, size_t expr_b, size_t expr_e,
                    const Tokens* style);
  // The sources of the FROM clause at [b, e) that a star spans (all, or the one named
  // `qualifier`), in order; false when the clause is not understood.
  bool StarSources(size_t b, size_t e, const std::string& qualifier,
                   std::vector<ResultShape::Source>* out) const;

  const Tokens& t_;
  std::vector<size_t> match_;
  const Emitter& emitter_;
};

}  // namespace rembiz::db::sql
