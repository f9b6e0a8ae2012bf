// The words every stage of the front end shares: tokens made and compared, parentheses and CASE
// matched, the types the server names.
#include "db/sql/token_helpers.h"

#include <algorithm>
#include <array>
#include <unordered_set>
#include <utility>

#include "db/error.h"

namespace rembiz::db::sql {

void Fail(const std::string& what) {
  throw DbError(kErrStatement, "Cannot translate SQL: " + what);
}

// ---------------------------------------------------------------------------------------------
// Tokens

Token Word(std::string text) { return MakeToken(TokenKind::kWord, std::move(text)); }
Token Op(std::string text) { return MakeToken(TokenKind::kOperator, std::move(text)); }
Token LParen() { return MakeToken(TokenKind::kLParen, "("); }
Token RParen() { return MakeToken(TokenKind::kRParen, ")"); }
Token Comma() { return MakeToken(TokenKind::kComma, ","); }
Token Dot() { return MakeToken(TokenKind::kDot, "."); }
Token Number(std::string text) { return MakeToken(TokenKind::kNumber, std::move(text)); }

namespace {
// Text between two `quote`s, a quote inside doubled: literals and quoted names alike.
std::string Quoted(std::string_view raw, char quote) {
  std::string text(1, quote);
  for (char c : raw) {
    text += c;
    if (c == quote) text += quote;
  }
  text += quote;
  return text;
}
}  // namespace

Token Str(std::string_view raw) { return MakeToken(TokenKind::kString, Quoted(raw, '\'')); }

Token QuotedName(std::string_view name) {
  return MakeToken(TokenKind::kQuotedName, Quoted(name, '"'));
}

std::string StringValue(std::string_view literal) {
  std::string out;
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    out += literal[i];
    if (literal[i] == '\'') ++i;
  }
  return out;
}

bool IsOp(const Token& t, std::string_view op) {
  return t.kind == TokenKind::kOperator && t.text == op;
}

void Append(Tokens& out, const Tokens& more) { out.insert(out.end(), more.begin(), more.end()); }

void AppendWords(Tokens& out, std::initializer_list<const char*> words) {
  for (const char* w : words) out.push_back(Word(w));
}

Tokens Parenthesized(const Tokens& inner) {
  Tokens out{LParen()};
  Append(out, inner);
  out.push_back(RParen());
  return out;
}

// "(a) AND (b)"; either side may be empty.
Tokens AndTokens(const Tokens& a, const Tokens& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  Tokens out = Parenthesized(a);
  out.push_back(Word("AND"));
  Append(out, Parenthesized(b));
  return out;
}

bool IsComparison(const Token& t) {
  if (t.kind != TokenKind::kOperator) return false;
  static const std::array<std::string_view, 10> kOps = {"=", "==", "<>", "!=", "<",
                                                        ">", "<=", ">=", "!<", "!>"};
  return std::find(kOps.begin(), kOps.end(), t.text) != kOps.end();
}

// Words that end or separate expressions; everything else made of letters is a name.
bool IsKeyword(const Token& t) {
  if (t.kind != TokenKind::kWord || t.text.size() > 16) return false;
  static const std::unordered_set<std::string_view> kKeywords = {
      "select",      "from",         "where",    "and",       "or",       "not",     "in",
      "is",          "like",         "between",  "as",        "on",       "join",    "inner",
      "outer",       "left",         "right",    "full",      "cross",    "group",   "by",
      "order",       "having",       "union",    "all",       "distinct", "top",     "into",
      "values",      "set",          "update",   "delete",    "insert",   "exists",  "when",
      "then",        "else",         "end",      "asc",       "desc",     "with",    "percent",
      "ties",        "escape",       "collate",  "any",       "some",     "over",    "partition",
      "if",          "begin",        "declare",  "exec",      "execute",  "drop",    "create",
      "table",       "view",         "index",    "primary",   "key",      "foreign", "references",
      "default",     "constraint",   "unique",   "check",     "go",       "use",     "print",
      "return",      "while",        "except",   "intersect", "option",   "for",     "tran",
      "transaction", "commit",       "rollback", "truncate",  "alter",    "add",     "column",
      "clustered",   "nonclustered", "output",   "merge",     "using",    "apply",   "pivot",
      "unpivot",     "offset",       "fetch",    "case",      "null"};
  char lower[16];
  for (size_t i = 0; i < t.text.size(); ++i) {
    char c = t.text[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return kKeywords.count(std::string_view(lower, t.text.size())) > 0;
}

// Keywords that are also function names when a parenthesis follows.
bool IsFunctionKeyword(const Token& t) {
  return IsWord(t, "left") || IsWord(t, "right") || IsWord(t, "convert") || IsWord(t, "cast") ||
         IsWord(t, "coalesce") || IsWord(t, "nullif");
}

// For every "(" the index of its ")", for every CASE the index of its END; kNone elsewhere.
std::vector<size_t> MatchPairs(const Tokens& t) {
  std::vector<size_t> match(t.size(), kNone);
  std::vector<size_t> stack;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].kind == TokenKind::kLParen || IsWord(t[i], "case")) {
      stack.push_back(i);
    } else if (t[i].kind == TokenKind::kRParen) {
      if (stack.empty()) Fail("unbalanced parentheses");
      if (t[stack.back()].kind != TokenKind::kLParen) Fail("CASE without END");
      match[stack.back()] = i;
      stack.pop_back();
    } else if (IsWord(t[i], "end") && !stack.empty() && IsWord(t[stack.back()], "case")) {
      match[stack.back()] = i;
      stack.pop_back();
    }
  }
  for (size_t open : stack) {
    if (t[open].kind == TokenKind::kLParen) Fail("unbalanced parentheses");
    Fail("CASE without END");
  }
  return match;
}

// Index of the first `word` at nesting depth 0 within [b, e), or kNone.
size_t FindTop(const Tokens& t, const std::vector<size_t>& match, size_t b, size_t e,
               std::string_view word) {
  for (size_t i = b; i < e; ++i) {
    if (IsWord(t[i], word)) return i;
    if (match[i] != kNone) i = match[i];
  }
  return kNone;
}

// The comma-separated parts of [b, e) at depth 0.
std::vector<std::pair<size_t, size_t>> SplitTop(const Tokens& t, const std::vector<size_t>& match,
                                                size_t b, size_t e) {
  std::vector<std::pair<size_t, size_t>> parts;
  size_t start = b;
  for (size_t i = b; i < e; ++i) {
    if (t[i].kind == TokenKind::kComma) {
      parts.emplace_back(start, i);
      start = i + 1;
    } else if (match[i] != kNone) {
      i = match[i];
    }
  }
  if (start < e || !parts.empty()) parts.emplace_back(start, e);
  return parts;
}

// Index just past a dotted name chain starting at `i` (i itself when there is no name).
size_t NameChainEnd(const Tokens& t, size_t i, size_t e) {
  if (i >= e || !IsName(t[i]) || IsKeyword(t[i])) return i;
  size_t k = i + 1;
  while (k + 1 < e && t[k].kind == TokenKind::kDot && IsName(t[k + 1])) k += 2;
  return k;
}

// ---------------------------------------------------------------------------------------------
// Types

Type TypeOfSqlType(const Token& t) {
  static const std::unordered_set<std::string> kText = {
      "char", "varchar", "nchar", "nvarchar", "text", "ntext", "sysname", "uniqueidentifier"};
  static const std::unordered_set<std::string> kNumber = {
      "int",     "bigint", "smallint",   "tinyint", "bit", "decimal",
      "numeric", "money",  "smallmoney", "float",   "real"};
  static const std::unordered_set<std::string> kDate = {"datetime",  "smalldatetime",  "date",
                                                        "datetime2", "datetimeoffset", "time"};
  std::string name = Lower(NameOf(t));
  if (kText.count(name)) return Type::kText;
  if (kNumber.count(name)) return Type::kNumber;
  if (kDate.count(name)) return Type::kDate;
  return Type::kUnknown;
}

std::string SqlType::Text() const {
  std::string out = base;
  if (!params.empty()) {
    out += "(";
    for (size_t k = 0; k < params.size(); ++k) out += (k ? "," : "") + params[k];
    out += ")";
  }
  return out;
}

}  // namespace rembiz::db::sql
