#include "db/sql_tokenizer.h"

#include <cctype>

#include "db/error.h"

namespace rembiz::db::sql {
namespace {

bool IsWordStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '#' || c >= 0x80;
}

bool IsWordChar(unsigned char c) {
  return IsWordStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '@';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void Unterminated(std::string_view what) {
  throw DbError(kErrStatement, "Unterminated " + std::string(what) + " in SQL text");
}

// Index just past a literal or delimited name that starts at `i` with `open`; the closing
// character doubled stands for itself.
size_t DelimitedEnd(std::string_view sql, size_t i, char close, std::string_view what) {
  size_t j = i + 1;
  while (true) {
    if (j >= sql.size()) Unterminated(what);
    if (sql[j] == close) {
      if (j + 1 < sql.size() && sql[j + 1] == close) {
        j += 2;
        continue;
      }
      return j + 1;
    }
    ++j;
  }
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool IsWord(const Token& token, std::string_view lower_keyword) {
  return token.kind == TokenKind::kWord && EqualsIgnoreCase(token.text, lower_keyword);
}

bool IsName(const Token& token) {
  return token.kind == TokenKind::kWord || token.kind == TokenKind::kQuotedName;
}

std::string NameOf(const Token& token) {
  if (token.kind != TokenKind::kQuotedName || token.text.size() < 2) return token.text;
  char close = token.text.front() == '[' ? ']' : '"';
  std::string out;
  for (size_t i = 1; i + 1 < token.text.size(); ++i) {
    out += token.text[i];
    if (token.text[i] == close) ++i;  // a doubled delimiter
  }
  return out;
}

Tokens Tokenize(std::string_view sql) {
  Tokens tokens;
  bool line_start = true;
  auto push = [&](TokenKind kind, std::string text) {
    tokens.push_back(Token{kind, std::move(text), line_start});
    line_start = false;
  };
  size_t i = 0;
  const size_t n = sql.size();
  while (i < n) {
    const size_t start = i;
    const size_t count = tokens.size();
    const char c = sql[i];
    if (c == '\n') {
      line_start = true;
      ++i;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      // Block comments nest in this dialect.
      int depth = 0;
      do {
        if (i + 1 >= n) Unterminated("comment");
        if (sql[i] == '/' && sql[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (sql[i] == '*' && sql[i + 1] == '/') {
          --depth;
          i += 2;
        } else {
          if (sql[i] == '\n') line_start = true;
          ++i;
        }
      } while (depth > 0);
    } else if ((c == 'N' || c == 'n') && i + 1 < n && sql[i + 1] == '\'') {
      size_t end = DelimitedEnd(sql, i + 1, '\'', "string literal");
      push(TokenKind::kString, std::string(sql.substr(i + 1, end - i - 1)));
      i = end;
    } else if ((c == 'X' || c == 'x') && i + 1 < n && sql[i + 1] == '\'') {
      size_t end = DelimitedEnd(sql, i + 1, '\'', "blob literal");
      push(TokenKind::kBlob, std::string(sql.substr(i, end - i)));
      i = end;
    } else if (c == '\'') {
      size_t end = DelimitedEnd(sql, i, '\'', "string literal");
      push(TokenKind::kString, std::string(sql.substr(i, end - i)));
      i = end;
    } else if (c == '[') {
      size_t end = DelimitedEnd(sql, i, ']', "bracketed name");
      push(TokenKind::kQuotedName, std::string(sql.substr(i, end - i)));
      i = end;
    } else if (c == '"') {
      size_t end = DelimitedEnd(sql, i, '"', "quoted name");
      push(TokenKind::kQuotedName, std::string(sql.substr(i, end - i)));
      i = end;
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(sql[i + 1]))) {
      size_t j = i;
      if (c == '0' && j + 1 < n && (sql[j + 1] == 'x' || sql[j + 1] == 'X')) {
        j += 2;
        while (j < n && std::isxdigit(static_cast<unsigned char>(sql[j]))) ++j;
      } else {
        while (j < n && IsDigit(sql[j])) ++j;
        if (j < n && sql[j] == '.') {
          ++j;
          while (j < n && IsDigit(sql[j])) ++j;
        }
        if (j < n && (sql[j] == 'e' || sql[j] == 'E')) {
          size_t k = j + 1;
          if (k < n && (sql[k] == '+' || sql[k] == '-')) ++k;
          if (k < n && IsDigit(sql[k])) {
            j = k;
            while (j < n && IsDigit(sql[j])) ++j;
          }
        }
      }
      push(TokenKind::kNumber, std::string(sql.substr(i, j - i)));
      i = j;
    } else if (IsWordStart(static_cast<unsigned char>(c))) {
      size_t j = i + 1;
      while (j < n && IsWordChar(static_cast<unsigned char>(sql[j]))) ++j;
      push(TokenKind::kWord, std::string(sql.substr(i, j - i)));
      i = j;
    } else if (c == '@' && i + 1 < n &&
               (IsWordChar(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '@')) {
      size_t j = i + 1;
      if (sql[j] == '@') ++j;
      while (j < n && IsWordChar(static_cast<unsigned char>(sql[j]))) ++j;
      push(TokenKind::kVariable, std::string(sql.substr(i, j - i)));
      i = j;
    } else if (c == '(') {
      push(TokenKind::kLParen, "(");
      ++i;
    } else if (c == ')') {
      push(TokenKind::kRParen, ")");
      ++i;
    } else if (c == ',') {
      push(TokenKind::kComma, ",");
      ++i;
    } else if (c == '.') {
      push(TokenKind::kDot, ".");
      ++i;
    } else if (c == ';') {
      push(TokenKind::kSemicolon, ";");
      ++i;
    } else {
      static constexpr std::string_view kTwoCharOps[] = {"<>", "!=", "<=", ">=", "!<",
                                                         "!>", "||", "+=", "-=", "=="};
      std::string op(1, c);
      if (i + 1 < n) {
        std::string_view two = sql.substr(i, 2);
        for (std::string_view candidate : kTwoCharOps) {
          if (two == candidate) op = std::string(two);
        }
      }
      push(TokenKind::kOperator, op);
      i += op.size();
    }
    if (tokens.size() > count) {
      tokens.back().begin = start;
      tokens.back().end = i;
    }
  }
  return tokens;
}

}  // namespace rembiz::db::sql
