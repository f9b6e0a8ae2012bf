// Tokens of the SQL Server dialect as the translator sees them. String literals, bracketed names
// and comments are recognised here once, so that no later rewrite can touch their insides.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/text.h"

namespace rembiz::db::sql {

enum class TokenKind {
  kWord,        // identifier or keyword
  kQuotedName,  // [name] or "name", kept with its delimiters
  kString,      // '...' with doubled quotes; an N prefix is dropped
  kNumber,
  kBlob,      // x'0A': a binary literal, kept as written
  kVariable,  // @name or @@name
  kOperator,  // + - * / % = <> != < > <= >= !< !> || += -= & | ^ ~ and any other sign
  kLParen,
  kRParen,
  kComma,
  kDot,
  kSemicolon,
};

// A token where it stands in the text: [begin, end), N prefix and delimiters included. The
// scanner makes these without copying the text; Tokenize makes Tokens from them.
struct Lexeme {
  TokenKind kind;
  uint32_t begin;
  uint32_t end;
  bool line_start;  // the first token after a line break
};

// Value `param` of a token that stands for @@ROWCOUNT: the row count of the batch's last data
// statement, bound when the statement runs.
inline constexpr int32_t kRowCountParam = -2;

struct Token {
  TokenKind kind = TokenKind::kWord;
  std::string text;
  bool line_start = false;  // the first token after a line break
  // Where the token stands in the text it came from: [begin, end), N prefix and delimiters
  // included. Rewrites that must keep the rest of the text as written edit at these offsets.
  size_t begin = 0;
  size_t end = 0;
  // A literal whose value the statement binds instead of carrying it: the index of the value
  // in the batch's values (or kRowCountParam); -1 for every other token.
  int32_t param = -1;
  // A name an emitter made that keeps its case (a constraint's, a collation's).
  bool keep_case = false;
};

using Tokens = std::vector<Token>;

// Scans a batch into `out` (cleared first); comments are dropped. Throws DbError(kErrStatement)
// for an unterminated literal, bracketed name or comment.
void Scan(std::string_view sql, std::vector<Lexeme>& out);

// The token of a lexeme of `sql`.
Token MakeToken(std::string_view sql, const Lexeme& lexeme);

// Splits a batch into tokens; comments are dropped. Throws like Scan.
Tokens Tokenize(std::string_view sql);

using ::rembiz::db::Lower;
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Whether `token` is the word `lower_keyword` (compared case-insensitively).
bool IsWord(const Token& token, std::string_view lower_keyword);
bool IsName(const Token& token);  // a word or a quoted name
// The name a word or quoted name stands for, without its delimiters.
std::string NameOf(const Token& token);

inline Token MakeToken(TokenKind kind, std::string text) {
  Token token;
  token.kind = kind;
  token.text = std::move(text);
  return token;
}

}  // namespace rembiz::db::sql
