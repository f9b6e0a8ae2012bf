#include "db/sql/tokenizer.h"

#include <array>

#include "db/error.h"

namespace rembiz::db::sql {
namespace {

// Character classes by table: the scanner never asks the locale.
enum CharClass : uint8_t {
  kWordStart = 1,  // letters, '_', '#', every byte of a multi-byte character
  kWordPart = 2,   // word characters after the first: also digits, '$', '@'
  kDigit = 4,
  kHexDigit = 8,
};

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    uint8_t k = 0;
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    bool digit = c >= '0' && c <= '9';
    if (letter || c == '_' || c == '#' || c >= 0x80) k |= kWordStart | kWordPart;
    if (digit || c == '$' || c == '@') k |= kWordPart;
    if (digit) k |= kDigit;
    if (digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) k |= kHexDigit;
    classes[static_cast<size_t>(c)] = k;
  }
  return classes;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

inline bool Is(char c, CharClass k) { return kClasses[static_cast<unsigned char>(c)] & k; }

[[noreturn]] void Unterminated(std::string_view what) {
  throw DbError(kErrStatement, "Unterminated " + std::string(what) + " in SQL text");
}

// Index just past a literal or delimited name that starts at `i` with `open`; the closing
// character doubled stands for itself.
size_t DelimitedEnd(std::string_view sql, size_t i, char close, std::string_view what) {
  size_t j = i + 1;
  while (true) {
    j = sql.find(close, j);
    if (j == std::string_view::npos) Unterminated(what);
    if (j + 1 < sql.size() && sql[j + 1] == close) {
      j += 2;
      continue;
    }
    return j + 1;
  }
}

size_t OperatorLength(std::string_view sql, size_t i) {
  static constexpr std::string_view kTwoCharOps[] = {"<>", "!=", "<=", ">=", "!<",
                                                     "!>", "||", "+=", "-=", "=="};
  if (i + 1 < sql.size()) {
    std::string_view two = sql.substr(i, 2);
    for (std::string_view candidate : kTwoCharOps) {
      if (two == candidate) return 2;
    }
  }
  return 1;
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

void Scan(std::string_view sql, std::vector<Lexeme>& out) {
  out.clear();
  bool line_start = true;
  auto push = [&](TokenKind kind, size_t begin, size_t end) {
    out.push_back(
        Lexeme{kind, static_cast<uint32_t>(begin), static_cast<uint32_t>(end), line_start});
    line_start = false;
  };
  size_t i = 0;
  const size_t n = sql.size();
  while (i < n) {
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
      push(TokenKind::kString, i, end);
      i = end;
    } else if ((c == 'X' || c == 'x') && i + 1 < n && sql[i + 1] == '\'') {
      size_t end = DelimitedEnd(sql, i + 1, '\'', "blob literal");
      push(TokenKind::kBlob, i, end);
      i = end;
    } else if (c == '\'') {
      size_t end = DelimitedEnd(sql, i, '\'', "string literal");
      push(TokenKind::kString, i, end);
      i = end;
    } else if (c == '[') {
      size_t end = DelimitedEnd(sql, i, ']', "bracketed name");
      push(TokenKind::kQuotedName, i, end);
      i = end;
    } else if (c == '"') {
      size_t end = DelimitedEnd(sql, i, '"', "quoted name");
      push(TokenKind::kQuotedName, i, end);
      i = end;
    } else if (Is(c, kDigit) || (c == '.' && i + 1 < n && Is(sql[i + 1], kDigit))) {
      size_t j = i;
      if (c == '0' && j + 1 < n && (sql[j + 1] == 'x' || sql[j + 1] == 'X')) {
        j += 2;
        while (j < n && Is(sql[j], kHexDigit)) ++j;
      } else {
        while (j < n && Is(sql[j], kDigit)) ++j;
        if (j < n && sql[j] == '.') {
          ++j;
          while (j < n && Is(sql[j], kDigit)) ++j;
        }
        if (j < n && (sql[j] == 'e' || sql[j] == 'E')) {
          size_t k = j + 1;
          if (k < n && (sql[k] == '+' || sql[k] == '-')) ++k;
          if (k < n && Is(sql[k], kDigit)) {
            j = k;
            while (j < n && Is(sql[j], kDigit)) ++j;
          }
        }
      }
      push(TokenKind::kNumber, i, j);
      i = j;
    } else if (Is(c, kWordStart)) {
      size_t j = i + 1;
      while (j < n && Is(sql[j], kWordPart)) ++j;
      push(TokenKind::kWord, i, j);
      i = j;
    } else if (c == '@' && i + 1 < n && (Is(sql[i + 1], kWordPart) || sql[i + 1] == '@')) {
      size_t j = i + 1;
      if (sql[j] == '@') ++j;
      while (j < n && Is(sql[j], kWordPart)) ++j;
      push(TokenKind::kVariable, i, j);
      i = j;
    } else if (c == '(') {
      push(TokenKind::kLParen, i, i + 1);
      ++i;
    } else if (c == ')') {
      push(TokenKind::kRParen, i, i + 1);
      ++i;
    } else if (c == ',') {
      push(TokenKind::kComma, i, i + 1);
      ++i;
    } else if (c == '.') {
      push(TokenKind::kDot, i, i + 1);
      ++i;
    } else if (c == ';') {
      push(TokenKind::kSemicolon, i, i + 1);
      ++i;
    } else {
      size_t length = OperatorLength(sql, i);
      push(TokenKind::kOperator, i, i + length);
      i += length;
    }
  }
}

Token MakeToken(std::string_view sql, const Lexeme& lexeme) {
  Token token;
  token.kind = lexeme.kind;
  token.line_start = lexeme.line_start;
  token.begin = lexeme.begin;
  token.end = lexeme.end;
  size_t begin = lexeme.begin;
  if (lexeme.kind == TokenKind::kString && (sql[begin] == 'N' || sql[begin] == 'n')) ++begin;
  token.text = std::string(sql.substr(begin, lexeme.end - begin));
  return token;
}

Tokens Tokenize(std::string_view sql) {
  std::vector<Lexeme> lexemes;
  Scan(sql, lexemes);
  Tokens tokens;
  tokens.reserve(lexemes.size());
  for (const Lexeme& lexeme : lexemes) tokens.push_back(MakeToken(sql, lexeme));
  return tokens;
}

}  // namespace rembiz::db::sql
