// The front end: the stages that read a batch into steps, whatever engine they are written for.
// Before them the tokenizer (tokenizer.h) splits the text; after them the dialect's emitter
// (emitter.h) writes each statement; translate.h is the one entry (TranslateSql, with the cache).
//   prefixes.cc     database and owner prefixes off names (StripNamePrefixes)
//   batches.cc      statements, IF/ELSE, blocks and variables, each made steps (ReadBatch)
//   joins.cc        nested joins parenthesized (ParenthesizeNestedJoins)
//   plus.cc         "+" and comparisons typed by their operands (RewritePlus)
//   expressions.cc  one statement's expressions, calls, conversions and queries
//                   (StatementRewriter)
//   definitions.cc  CREATE TABLE read into a TableDefinition (StatementRewriter::ParseTable)
// The emitters include emitter.h only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/sql/emitter.h"

namespace rembiz::db::sql {

// "dbo.T" is T; "<db>.dbo.T" and "<db>..T" are T in the schema of that database (qdsystem,
// tempdb), or in the account's for any other database.
Tokens StripNamePrefixes(const Tokens& in);

// Reads a batch into its steps: its statements found, each rewritten and written by `emitter`.
// `tokens` have their prefixes stripped. `value_dependent` is set when a literal that stands for
// a bound value had to be written into a statement's text.
StatementList ReadBatch(const Tokens& tokens, const Emitter& emitter, bool* value_dependent);

// Nested joins get the parentheses their ON clauses imply.
Tokens ParenthesizeNestedJoins(const Tokens& t);
// Number of tokens of a join operator at i ("LEFT OUTER JOIN" is 3), 0 when there is none.
size_t JoinLength(const Tokens& t, size_t i);
// Whether a word ends a FROM clause (WHERE, GROUP, ORDER, UNION, SET, ...).
bool EndsFromClause(const Token& t);

// "+" as text concatenation, addition or date arithmetic, and text/number comparisons as the
// server converts them; LIKE's left side marked as such (like_operand).
Tokens RewritePlus(const Tokens& in);

// Rewrites one statement's tokens: its expressions, queries and definitions.
class StatementRewriter {
 public:
  StatementRewriter(const Tokens& t, const Emitter& emitter);

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
  enum class Naming { kAsWritten, kResult, kTable };

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
