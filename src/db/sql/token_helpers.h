// The words every stage of the front end and every emitter share: tokens made and compared,
// parentheses and CASE matched, the types the server names.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/sql/tokenizer.h"

namespace rembiz::db::sql {

constexpr size_t kNone = static_cast<size_t>(-1);

[[noreturn]] void Fail(const std::string& what);

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
Tokens Parenthesized(const Tokens& inner);
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

}  // namespace rembiz::db::sql
