// Tokens of the SQL Server dialect as the translator sees them. String literals, bracketed names
// and comments are recognised here once, so that no later rewrite can touch their insides.
#pragma once

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
  kBlob,      // x'0A': a binary literal in SQLite's spelling, kept as written
  kVariable,  // @name or @@name
  kOperator,  // + - * / % = <> != < > <= >= !< !> || += -= & | ^ ~ and any other sign
  kLParen,
  kRParen,
  kComma,
  kDot,
  kSemicolon,
};

struct Token {
  TokenKind kind = TokenKind::kWord;
  std::string text;
  bool line_start = false;  // the first token after a line break
  // Where the token stands in the text it came from: [begin, end), N prefix and delimiters
  // included. Rewrites that must keep the rest of the text as written edit at these offsets.
  size_t begin = 0;
  size_t end = 0;
};

using Tokens = std::vector<Token>;

// Splits a batch into tokens; comments are dropped. Throws DbError(kErrStatement) for an
// unterminated literal, bracketed name or comment.
Tokens Tokenize(std::string_view sql);

using ::rembiz::db::Lower;
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Whether `token` is the word `lower_keyword` (compared case-insensitively).
bool IsWord(const Token& token, std::string_view lower_keyword);
bool IsName(const Token& token);  // a word or a quoted name
// The name a word or quoted name stands for, without its delimiters.
std::string NameOf(const Token& token);

inline Token MakeToken(TokenKind kind, std::string text) {
  return Token{kind, std::move(text), false};
}

}  // namespace rembiz::db::sql
