// Translation of the SQL Server dialect into SQLite's, in four steps over tokens:
//   1. tokenize (literals, bracketed names and comments become single tokens) and strip the
//      database/owner prefixes of names;
//   2. split the batch into statements and IF/ELSE/BEGIN...END blocks;
//   3. decide what every "+" means (text concatenation, number, date arithmetic);
//   4. rewrite each statement's constructs (TOP, CAST, CONVERT, UPDATE...FROM, SELECT INTO ...).
// Nothing here ever looks into a string literal, so values can never be changed by mistake.
#include "db/sql_translator.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "db/error.h"
#include "db/sql_tokenizer.h"
#include "db/value_lifting.h"

namespace rembiz::db {
namespace {

using sql::EqualsIgnoreCase;
using sql::IsName;
using sql::IsWord;
using sql::Lower;
using sql::MakeToken;
using sql::NameOf;
using sql::Token;
using sql::TokenKind;
using sql::Tokens;

constexpr size_t kNone = static_cast<size_t>(-1);

[[noreturn]] void Fail(const std::string& what) {
  throw DbError(kErrStatement, "Cannot translate SQL: " + what);
}

// ---------------------------------------------------------------------------------------------
// Small token helpers

Token Word(std::string text) { return MakeToken(TokenKind::kWord, std::move(text)); }
Token Op(std::string text) { return MakeToken(TokenKind::kOperator, std::move(text)); }
Token LParen() { return MakeToken(TokenKind::kLParen, "("); }
Token RParen() { return MakeToken(TokenKind::kRParen, ")"); }
Token Comma() { return MakeToken(TokenKind::kComma, ","); }
Token Dot() { return MakeToken(TokenKind::kDot, "."); }
Token Number(std::string text) { return MakeToken(TokenKind::kNumber, std::move(text)); }

Token Str(std::string_view raw) {
  std::string text = "'";
  for (char c : raw) {
    text += c;
    if (c == '\'') text += '\'';
  }
  text += '\'';
  return MakeToken(TokenKind::kString, std::move(text));
}

bool IsOp(const Token& t, std::string_view op) {
  return t.kind == TokenKind::kOperator && t.text == op;
}

void Append(Tokens& out, const Tokens& more) { out.insert(out.end(), more.begin(), more.end()); }

void AppendWords(Tokens& out, std::initializer_list<const char*> words) {
  for (const char* w : words) out.push_back(Word(w));
}

Tokens Parenthesized(Tokens inner) {
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
// Step 1: database and owner prefixes. "dbo.T" is T; "<db>.dbo.T" and "<db>..T" are T in the
// attached schema of that database (qdsystem, tempdb), or in main for any other database.

std::string SchemaOfDatabase(const Token& t) {
  std::string db = Lower(NameOf(t));
  if (db == "qdsystem" || db == "tempdb") return db;
  return {};
}

bool IsDbo(const Token& t) { return IsName(t) && EqualsIgnoreCase(NameOf(t), "dbo"); }

Tokens StripNamePrefixes(const Tokens& in) {
  Tokens out;
  out.reserve(in.size());
  const size_t n = in.size();
  auto dot = [&](size_t k) { return k < n && in[k].kind == TokenKind::kDot; };
  auto name = [&](size_t k) { return k < n && IsName(in[k]); };
  auto dbo = [&](size_t k) { return k < n && IsDbo(in[k]); };
  for (size_t i = 0; i < n;) {
    const bool after_dot = i > 0 && in[i - 1].kind == TokenKind::kDot;
    size_t skip = 0;  // tokens of the prefix, when there is one
    bool with_database = false;
    if (!after_dot && name(i) && dot(i + 1) && dot(i + 2) && name(i + 3)) {
      skip = 3;
      with_database = true;
    } else if (!after_dot && name(i) && dot(i + 1) && dbo(i + 2) && dot(i + 3) && name(i + 4)) {
      skip = 4;
      with_database = true;
    } else if (!after_dot && dbo(i) && dot(i + 1) && name(i + 2)) {
      skip = 2;
    }
    if (skip == 0) {
      out.push_back(in[i++]);
      continue;
    }
    size_t first = out.size();
    std::string schema = with_database ? SchemaOfDatabase(in[i]) : std::string();
    if (!schema.empty()) {
      out.push_back(Word(schema));
      out.push_back(Dot());
    }
    out.push_back(in[i + skip]);
    out[first].line_start = in[i].line_start;
    i += skip + 1;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Step 2: statements. A batch holds statements separated by ";" or by line breaks; a line
// starts a new statement only when its first word clearly begins one (INSERT, UPDATE, DELETE,
// DROP, CREATE, IF, DECLARE, ...; SELECT unless it is the source of an INSERT that has none yet,
// or continues a UNION or a view;
// SET unless it is an UPDATE's SET clause), and only at parenthesis depth 0.

struct Statement {
  enum class Kind { kSimple, kIf, kBlock };
  Kind kind = Kind::kSimple;
  Tokens tokens;                    // kSimple: the statement; kIf: the condition
  std::vector<Statement> children;  // kIf: then [, else]; kBlock: the statements
};

class BatchParser {
 public:
  explicit BatchParser(const Tokens& t) : t_(t), match_(MatchPairs(t)) {}

  std::vector<Statement> Parse() {
    std::vector<Statement> out;
    while (SkipSeparators()) {
      if (IsWord(t_[i_], "else") || IsWord(t_[i_], "end")) Fail(t_[i_].text + " without IF/BEGIN");
      out.push_back(ParseStatement());
    }
    return out;
  }

 private:
  bool SkipSeparators() {
    while (i_ < t_.size() && (t_[i_].kind == TokenKind::kSemicolon || IsWord(t_[i_], "go"))) ++i_;
    return i_ < t_.size();
  }

  Statement ParseStatement() {
    if (IsWord(t_[i_], "if")) return ParseIf();
    if (IsWord(t_[i_], "begin") &&
        !(i_ + 1 < t_.size() && (IsWord(t_[i_ + 1], "tran") || IsWord(t_[i_ + 1], "transaction") ||
                                 IsWord(t_[i_ + 1], "try") || IsWord(t_[i_ + 1], "catch")))) {
      Statement block;
      block.kind = Statement::Kind::kBlock;
      ++i_;
      while (true) {
        if (!SkipSeparators()) Fail("BEGIN without END");
        if (IsWord(t_[i_], "end")) {
          ++i_;
          break;
        }
        block.children.push_back(ParseStatement());
      }
      return block;
    }
    return ParseSimple();
  }

  Statement ParseIf() {
    Statement s;
    s.kind = Statement::Kind::kIf;
    size_t b = ++i_;
    size_t j = b;
    for (; j < t_.size(); ++j) {
      if (IsBodyStart(t_[j])) break;
      if (match_[j] != kNone) j = match_[j];
    }
    if (j == b || j >= t_.size()) Fail("IF without a condition or a statement");
    s.tokens.assign(t_.begin() + static_cast<ptrdiff_t>(b), t_.begin() + static_cast<ptrdiff_t>(j));
    i_ = j;
    s.children.push_back(ParseStatement());
    size_t save = i_;
    if (SkipSeparators() && IsWord(t_[i_], "else")) {
      ++i_;
      if (!SkipSeparators()) Fail("ELSE without a statement");
      s.children.push_back(ParseStatement());
    } else {
      i_ = save;
    }
    return s;
  }

  static bool IsBodyStart(const Token& t) {
    static const std::array<std::string_view, 19> kStarts = {
        "select",   "insert", "update",  "delete", "drop",    "create", "alter",
        "truncate", "set",    "declare", "exec",   "execute", "begin",  "if",
        "return",   "print",  "use",     "while",  "merge"};
    for (std::string_view w : kStarts) {
      if (IsWord(t, w)) return true;
    }
    return false;
  }

  Statement ParseSimple() {
    Statement s;
    const size_t b = i_;
    const std::string first = Lower(t_[b].text);
    // An INSERT has its source once a VALUES list or a SELECT has begun at its own level; a
    // later SELECT that starts a line is the next statement, as after any complete query.
    bool seen_source = false, seen_set = false;
    size_t j = b + 1;
    for (; j < t_.size(); ++j) {
      const Token& tk = t_[j];
      if (tk.kind == TokenKind::kSemicolon || IsWord(tk, "else") || IsWord(tk, "end")) break;
      if (tk.line_start && StartsStatement(first, seen_source, seen_set, j)) break;
      if (IsWord(tk, "values") || IsWord(tk, "select")) seen_source = true;
      if (IsWord(tk, "set")) seen_set = true;
      if (match_[j] != kNone) j = match_[j];
    }
    s.tokens.assign(t_.begin() + static_cast<ptrdiff_t>(b), t_.begin() + static_cast<ptrdiff_t>(j));
    i_ = j;
    return s;
  }

  bool StartsStatement(const std::string& first, bool seen_source, bool seen_set, size_t j) const {
    const Token& tk = t_[j];
    const Token& prev = t_[j - 1];
    if (tk.kind != TokenKind::kWord) return false;
    static const std::array<std::string_view, 19> kAlways = {
        "insert",  "drop", "create", "alter",    "truncate", "declare", "exec",
        "execute", "use",  "print",  "if",       "while",    "begin",   "return",
        "merge",   "go",   "commit", "rollback", "save"};
    for (std::string_view w : kAlways) {
      if (IsWord(tk, w)) return true;
    }
    if (IsWord(tk, "update") || IsWord(tk, "delete")) {
      return !IsWord(prev, "on") && !IsWord(prev, "for");
    }
    if (IsWord(tk, "set")) {
      if (first == "update") return seen_set;
      return !IsWord(prev, "update") && !IsWord(prev, "delete");
    }
    if (IsWord(tk, "select")) {
      if (first == "insert" && !seen_source) return false;
      if (prev.kind == TokenKind::kLParen || prev.kind == TokenKind::kComma ||
          prev.kind == TokenKind::kOperator || prev.kind == TokenKind::kDot) {
        return false;
      }
      static const std::array<std::string_view, 8> kContinue = {
          "union", "all", "except", "intersect", "as", "for", "distinct", "exists"};
      for (std::string_view w : kContinue) {
        if (IsWord(prev, w)) return false;
      }
      return true;
    }
    return false;
  }

  const Tokens& t_;
  std::vector<size_t> match_;
  size_t i_ = 0;
};

// Nested joins. The server lets the right side of a join be a joined table whose ON comes
// later: "a JOIN b JOIN c ON c.k = b.k ON b.k = a.k" is "a JOIN (b JOIN c ON c.k = b.k) ON
// b.k = a.k". SQLite reads ON clauses left to right only, so the nested form gets parentheses:
// an ON closes the latest join still waiting for one, and a join that meets another join (or a
// CROSS JOIN) before its own ON has a joined table on its right.

// Number of tokens of a join operator at i ("LEFT OUTER JOIN" is 3), 0 when there is none.
size_t JoinLength(const Tokens& t, size_t i) {
  const size_t n = t.size();
  auto is = [&](size_t k, std::string_view w) { return k < n && IsWord(t[k], w); };
  if (is(i, "join")) return 1;
  if (is(i, "inner") && is(i + 1, "join")) return 2;
  if (is(i, "cross") && (is(i + 1, "join") || is(i + 1, "apply"))) return 2;
  if (is(i, "outer") && is(i + 1, "apply")) return 2;
  if (is(i, "left") || is(i, "right") || is(i, "full")) {
    if (is(i + 1, "join")) return 2;
    if (is(i + 1, "outer") && is(i + 2, "join")) return 3;
  }
  return 0;
}

bool EndsFromClause(const Token& t) {
  static const std::array<std::string_view, 11> kWords = {"where",  "group",  "having",    "order",
                                                          "union",  "except", "intersect", "select",
                                                          "option", "set",    "for"};
  for (std::string_view w : kWords) {
    if (IsWord(t, w)) return true;
  }
  return false;
}

Tokens ParenthesizeNestedJoins(const Tokens& t) {
  if (std::none_of(t.begin(), t.end(), [](const Token& k) { return IsWord(k, "join"); })) {
    return t;
  }
  const std::vector<size_t> match = MatchPairs(t);
  std::vector<int> opens(t.size(), 0), closes(t.size(), 0);
  bool nested = false;
  struct Waiting {
    size_t right;  // first token of the join's right side
    bool joined;   // the right side is itself a joined table
  };
  auto scan = [&](auto& self, size_t b, size_t e) -> void {
    std::vector<Waiting> waiting;
    for (size_t i = b; i < e; ++i) {
      if (match[i] != kNone) {
        if (t[i].kind == TokenKind::kLParen) self(self, i + 1, match[i]);
        i = match[i];
      } else if (size_t len = JoinLength(t, i); len > 0) {
        if (!waiting.empty()) waiting.back().joined = true;
        if (!IsWord(t[i], "cross") && !IsWord(t[i], "outer")) waiting.push_back({i + len, false});
        i += len - 1;
      } else if (IsWord(t[i], "on") && !waiting.empty()) {
        Waiting w = waiting.back();
        waiting.pop_back();
        if (w.joined) {
          ++opens[w.right];
          ++closes[i];
          nested = true;
        }
      } else if (EndsFromClause(t[i])) {
        waiting.clear();
      }
    }
  };
  scan(scan, 0, t.size());
  if (!nested) return t;
  Tokens out;
  out.reserve(t.size() + 8);
  for (size_t i = 0; i < t.size(); ++i) {
    for (int k = 0; k < closes[i]; ++k) out.push_back(RParen());
    for (int k = 0; k < opens[i]; ++k) out.push_back(LParen());
    out.push_back(t[i]);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Step 3: "+". SQL Server decides by the operands' types, pairwise from the left: two texts
// concatenate, a number on either side adds numerically, a date plus a number adds days. Here
// the types are read off the tokens: literals, CAST/CONVERT targets, functions with a known
// result type, CASE branches, subqueries' first columns. Text "+" becomes "||"; numeric "+"
// stays; date arithmetic becomes DATEADD(day, ...); when neither side's type can be known (two
// column references), rembiz_plus() decides at run time exactly as SQL Server does by type.
// The same typing repairs comparisons of a text expression with a number (SQL Server converts
// the text; SQLite would compare them as unequal types), also in simple CASE.

enum class Type { kUnknown, kText, kNumber, kDate };

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

class PlusRewriter {
 public:
  explicit PlusRewriter(const Tokens& in) : in_(in), match_(MatchPairs(in)) {}

  Tokens Run() {
    Tokens out;
    Process(0, in_.size(), out);
    return out;
  }

 private:
  struct Chain {
    std::vector<std::pair<size_t, size_t>> operands;
    std::vector<std::string> ops;
    size_t end = 0;
  };
  struct Item {
    bool chain = false;
    Tokens out;
    Type type = Type::kUnknown;
  };

  static bool IsUnary(const Token& t) {
    return t.kind == TokenKind::kOperator && (t.text == "+" || t.text == "-" || t.text == "~");
  }

  size_t AtomEnd(size_t i, size_t e) const {
    if (i >= e) return i;
    const Token& t = in_[i];
    switch (t.kind) {
      case TokenKind::kString:
      case TokenKind::kNumber:
      case TokenKind::kBlob:
      case TokenKind::kVariable:
        return i + 1;
      case TokenKind::kLParen:
        return match_[i] + 1;
      case TokenKind::kWord:
        if (IsWord(t, "null") || IsWord(t, "current_timestamp")) return i + 1;
        if (IsWord(t, "case")) return match_[i] + 1;
        if (IsKeyword(t) &&
            !(IsFunctionKeyword(t) && i + 1 < e && in_[i + 1].kind == TokenKind::kLParen)) {
          return i;
        }
        [[fallthrough]];
      case TokenKind::kQuotedName: {
        size_t k = i + 1;
        while (k + 1 < e && in_[k].kind == TokenKind::kDot &&
               (IsName(in_[k + 1]) || IsOp(in_[k + 1], "*"))) {
          k += 2;
        }
        if (k < e && in_[k].kind == TokenKind::kLParen) return match_[k] + 1;
        return k;
      }
      default:
        return i;
    }
  }

  size_t OperandEnd(size_t i, size_t e) const {
    size_t k = i;
    while (k < e && IsUnary(in_[k])) ++k;
    size_t a = AtomEnd(k, e);
    if (a == k) return i;
    k = a;
    while (k < e) {
      if (k + 1 < e && IsWord(in_[k], "collate")) {
        k += 2;
        continue;
      }
      if (in_[k].kind == TokenKind::kOperator &&
          (in_[k].text == "*" || in_[k].text == "/" || in_[k].text == "%")) {
        size_t m = k + 1;
        while (m < e && IsUnary(in_[m])) ++m;
        size_t a2 = AtomEnd(m, e);
        if (a2 == m) break;
        k = a2;
        continue;
      }
      break;
    }
    return k;
  }

  Chain ParseChain(size_t i, size_t e) const {
    Chain c;
    c.end = i;
    size_t j = OperandEnd(i, e);
    if (j == i) return c;
    c.operands.emplace_back(i, j);
    size_t k = j;
    while (k < e && in_[k].kind == TokenKind::kOperator &&
           (in_[k].text == "+" || in_[k].text == "-")) {
      size_t m = OperandEnd(k + 1, e);
      if (m == k + 1) break;
      c.ops.push_back(in_[k].text);
      c.operands.emplace_back(k + 1, m);
      k = m;
    }
    c.end = k;
    return c;
  }

  static Type Combine(Type a, const std::string& op, Type b) {
    auto numberish = [](Type x) { return x == Type::kNumber || x == Type::kUnknown; };
    if (op == "-") return a == Type::kDate && numberish(b) ? Type::kDate : Type::kNumber;
    if ((a == Type::kDate && numberish(b)) || (b == Type::kDate && numberish(a))) {
      return Type::kDate;
    }
    if (a == Type::kNumber || b == Type::kNumber) return Type::kNumber;
    if (a == Type::kText || b == Type::kText) return Type::kText;
    return Type::kUnknown;
  }

  Type FoldType(const Chain& c) const {
    Type acc = OperandType(c.operands[0].first, c.operands[0].second);
    for (size_t k = 0; k < c.ops.size(); ++k) {
      acc = Combine(acc, c.ops[k], OperandType(c.operands[k + 1].first, c.operands[k + 1].second));
    }
    return acc;
  }

  Type ExprType(size_t b, size_t e) const {
    if (b >= e) return Type::kUnknown;
    if (IsWord(in_[b], "not") || IsWord(in_[b], "exists")) return Type::kNumber;
    Chain c = ParseChain(b, e);
    if (c.operands.empty()) return Type::kUnknown;
    if (c.end < e) {
      const Token& next = in_[c.end];
      if (IsComparison(next) || IsWord(next, "and") || IsWord(next, "or") || IsWord(next, "is") ||
          IsWord(next, "in") || IsWord(next, "like") || IsWord(next, "between") ||
          IsWord(next, "not")) {
        return Type::kNumber;
      }
    }
    return FoldType(c);
  }

  Type OperandType(size_t b, size_t e) const {
    size_t k = b;
    bool numeric_prefix = false;
    while (k < e && IsUnary(in_[k])) {
      if (in_[k].text != "+") numeric_prefix = true;
      ++k;
    }
    size_t a = AtomEnd(k, e);
    if (a < e) {
      for (size_t m = a; m < e; ++m) {
        if (in_[m].kind == TokenKind::kOperator) return Type::kNumber;
        if (match_[m] != kNone) m = match_[m];
      }
      return Type::kText;  // only a COLLATE clause follows
    }
    if (numeric_prefix) return Type::kNumber;
    return AtomType(k, a);
  }

  Type AtomType(size_t b, size_t e) const {
    const Token& t = in_[b];
    switch (t.kind) {
      case TokenKind::kString:
        return Type::kText;
      case TokenKind::kNumber:
        return Type::kNumber;
      case TokenKind::kVariable:
        return t.text.rfind("@@", 0) == 0 ? Type::kNumber : Type::kUnknown;
      case TokenKind::kLParen:
        if (b + 1 < e && IsWord(in_[b + 1], "select")) return SelectItemType(b + 1, match_[b]);
        return ExprType(b + 1, match_[b]);
      default:
        break;
    }
    if (IsWord(t, "current_timestamp")) return Type::kDate;
    if (IsWord(t, "case")) return CaseType(b, match_[b]);
    if (in_[e - 1].kind == TokenKind::kRParen && match_[e - 1] == kNone) {
      // find the "(" of the call: the token after the name chain
      size_t k = b + 1;
      while (k < e && in_[k].kind == TokenKind::kDot) k += 2;
      if (k < e && in_[k].kind == TokenKind::kLParen) return CallType(k - 1, k, match_[k]);
    }
    return Type::kUnknown;
  }

  Type SelectItemType(size_t b, size_t e) const {
    size_t k = b + 1;
    if (k < e && (IsWord(in_[k], "distinct") || IsWord(in_[k], "all"))) ++k;
    if (k < e && IsWord(in_[k], "top")) {
      ++k;
      if (k < e && match_[k] != kNone) k = match_[k];
      ++k;
      if (k < e && IsWord(in_[k], "percent")) ++k;
    }
    return ExprType(k, e);
  }

  // Segments of a CASE: pairs (keyword index, end of its expression).
  std::vector<std::pair<size_t, size_t>> CaseSegments(size_t c, size_t end) const {
    std::vector<std::pair<size_t, size_t>> segs;
    size_t start = c;
    for (size_t i = c + 1; i < end; ++i) {
      if (IsWord(in_[i], "when") || IsWord(in_[i], "then") || IsWord(in_[i], "else")) {
        segs.emplace_back(start, i);
        start = i;
      } else if (match_[i] != kNone) {
        i = match_[i];
      }
    }
    segs.emplace_back(start, end);
    return segs;
  }

  Type CaseType(size_t c, size_t end) const {
    for (auto [kw, seg_end] : CaseSegments(c, end)) {
      if (IsWord(in_[kw], "then") || IsWord(in_[kw], "else")) {
        Type t = ExprType(kw + 1, seg_end);
        if (t != Type::kUnknown) return t;
      }
    }
    return Type::kUnknown;
  }

  Type CallType(size_t name_index, size_t open, size_t close) const {
    static const std::unordered_set<std::string> kText = {
        "ltrim", "rtrim",   "trim",      "left",     "right",     "substring", "substr", "upper",
        "lower", "replace", "str",       "space",    "replicate", "char",      "nchar",  "newid",
        "stuff", "reverse", "quotename", "datename", "concat",    "format"};
    static const std::unordered_set<std::string> kNumber = {
        "len",    "datalength", "charindex", "patindex",   "datediff",  "datepart", "year",
        "month",  "day",        "abs",       "round",      "ceiling",   "floor",    "sign",
        "sum",    "count",      "count_big", "avg",        "power",     "sqrt",     "exp",
        "log",    "log10",      "ascii",     "unicode",    "isnumeric", "rand",     "pi",
        "square", "row_number", "rank",      "dense_rank", "ntile"};
    static const std::unordered_set<std::string> kDate = {"getdate", "getutcdate", "sysdatetime",
                                                          "dateadd"};
    std::string name = Lower(NameOf(in_[name_index]));
    if (kText.count(name)) return Type::kText;
    if (kNumber.count(name)) return Type::kNumber;
    if (kDate.count(name)) return Type::kDate;
    if (name == "cast" || name == "try_cast") {
      size_t as = kNone;
      for (size_t i = open + 1; i < close; ++i) {
        if (IsWord(in_[i], "as")) as = i;
        if (match_[i] != kNone) i = match_[i];
      }
      return as != kNone && as + 1 < close ? TypeOfSqlType(in_[as + 1]) : Type::kUnknown;
    }
    if (name == "convert" || name == "try_convert") {
      return open + 1 < close ? TypeOfSqlType(in_[open + 1]) : Type::kUnknown;
    }
    auto args = SplitTop(in_, match_, open + 1, close);
    if (name == "isnull" || name == "coalesce" || name == "ifnull") {
      for (auto [b, e] : args) {
        Type t = ExprType(b, e);
        if (t != Type::kUnknown) return t;
      }
      return Type::kUnknown;
    }
    if ((name == "nullif" || name == "max" || name == "min") && !args.empty()) {
      return ExprType(args[0].first, args[0].second);
    }
    return Type::kUnknown;
  }

  // SQL Server converts the text side of a text/number comparison to a number, and the text
  // side of a text/date comparison to a date.
  static void Convert(Tokens& operand, const char* type) {
    Tokens out{Word("CAST"), LParen()};
    Append(out, operand);
    out.push_back(Word("AS"));
    out.push_back(Word(type));
    out.push_back(RParen());
    operand = std::move(out);
  }

  static void Reconcile(Tokens& a, Type ta, Tokens& b, Type tb) {
    if (ta == Type::kText && tb == Type::kNumber) Convert(a, "float");
    if (ta == Type::kNumber && tb == Type::kText) Convert(b, "float");
    if (ta == Type::kText && tb == Type::kDate) Convert(a, "datetime");
    if (ta == Type::kDate && tb == Type::kText) Convert(b, "datetime");
  }

  void Process(size_t b, size_t e, Tokens& out) {
    std::vector<Item> items;
    for (size_t i = b; i < e;) {
      Chain c = ParseChain(i, e);
      if (c.operands.empty()) {
        items.push_back(Item{false, {in_[i]}, Type::kUnknown});
        ++i;
        continue;
      }
      Item item{true, {}, Type::kUnknown};
      item.type = EmitChain(c, item.out);
      items.push_back(std::move(item));
      i = c.end;
    }
    for (size_t k = 1; k + 1 < items.size(); ++k) {
      if (!items[k].chain && IsComparison(items[k].out[0]) && items[k - 1].chain &&
          items[k + 1].chain) {
        Reconcile(items[k - 1].out, items[k - 1].type, items[k + 1].out, items[k + 1].type);
      }
    }
    for (Item& item : items) Append(out, item.out);
  }

  Type EmitChain(const Chain& c, Tokens& acc) {
    EmitOperand(c.operands[0].first, c.operands[0].second, acc);
    Type at = OperandType(c.operands[0].first, c.operands[0].second);
    for (size_t k = 0; k < c.ops.size(); ++k) {
      auto [rb, re] = c.operands[k + 1];
      Tokens rhs;
      EmitOperand(rb, re, rhs);
      Type rt = OperandType(rb, re);
      Type result = Combine(at, c.ops[k], rt);
      const bool numberish_r = rt == Type::kNumber || rt == Type::kUnknown;
      const bool numberish_a = at == Type::kNumber || at == Type::kUnknown;
      if (result == Type::kDate && at == Type::kDate && numberish_r) {
        Tokens days = rhs;
        if (c.ops[k] == "-") {
          days = Parenthesized(rhs);
          days.insert(days.begin(), Op("-"));
        }
        acc = DateAddDays(days, acc);
      } else if (result == Type::kDate && rt == Type::kDate && numberish_a) {
        acc = DateAddDays(acc, rhs);
      } else if (c.ops[k] == "-" || result == Type::kNumber || result == Type::kDate) {
        acc.push_back(Op(c.ops[k]));
        Append(acc, rhs);
      } else if (result == Type::kText) {
        acc.push_back(Op("||"));
        Append(acc, rhs);
      } else {
        Tokens call{Word("rembiz_plus"), LParen()};
        Append(call, acc);
        call.push_back(Comma());
        Append(call, rhs);
        call.push_back(RParen());
        acc = std::move(call);
      }
      at = result;
    }
    return at;
  }

  static Tokens DateAddDays(const Tokens& days, const Tokens& date) {
    Tokens out{Word("dateadd"), LParen(), Word("day"), Comma()};
    Append(out, days);
    out.push_back(Comma());
    Append(out, date);
    out.push_back(RParen());
    return out;
  }

  void EmitOperand(size_t b, size_t e, Tokens& out) {
    for (size_t i = b; i < e;) {
      if (in_[i].kind == TokenKind::kLParen) {
        out.push_back(in_[i]);
        Process(i + 1, match_[i], out);
        out.push_back(in_[match_[i]]);
        i = match_[i] + 1;
      } else if (IsWord(in_[i], "case")) {
        EmitCase(i, match_[i], out);
        i = match_[i] + 1;
      } else {
        out.push_back(in_[i++]);
      }
    }
  }

  void EmitCase(size_t c, size_t end, Tokens& out) {
    auto segs = CaseSegments(c, end);
    std::vector<Tokens> parts(segs.size());
    for (size_t k = 0; k < segs.size(); ++k) Process(segs[k].first + 1, segs[k].second, parts[k]);
    if (segs[0].second > segs[0].first + 1) {  // simple CASE: compare the operand with each WHEN
      Type operand_type = ExprType(segs[0].first + 1, segs[0].second);
      bool operand_converted = false;
      for (size_t k = 1; k < segs.size(); ++k) {
        if (!IsWord(in_[segs[k].first], "when")) continue;
        Type when_type = ExprType(segs[k].first + 1, segs[k].second);
        if (operand_type == Type::kText && when_type == Type::kNumber && !operand_converted) {
          Convert(parts[0], "float");
          operand_converted = true;
        } else if (operand_type == Type::kNumber && when_type == Type::kText) {
          Convert(parts[k], "float");
        }
      }
    }
    for (size_t k = 0; k < segs.size(); ++k) {
      out.push_back(in_[segs[k].first]);
      Append(out, parts[k]);
    }
    out.push_back(in_[end]);
  }

  const Tokens& in_;
  std::vector<size_t> match_;
};

// ---------------------------------------------------------------------------------------------
// Tables created by CREATE TABLE with an IDENTITY column, so that "INSERT INTO t SELECT ..."
// without a column list can leave that column out as SQL Server does. Names of the work tables
// are unique, so a process-wide record keyed by the table name is enough.

class IdentityTables {
 public:
  static IdentityTables& Instance() {
    static IdentityTables instance;
    return instance;
  }
  void Add(const std::string& table, std::vector<std::string> insert_columns) {
    std::lock_guard lock(mutex_);
    if (tables_.size() >= 4096) tables_.clear();
    tables_[Lower(table)] = std::move(insert_columns);
  }
  std::optional<std::vector<std::string>> Find(const std::string& table) {
    std::lock_guard lock(mutex_);
    auto it = tables_.find(Lower(table));
    if (it == tables_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<std::string>> tables_;
};

// ---------------------------------------------------------------------------------------------
// Step 4: constructs.

bool IsHintWord(const Token& t) {
  static const std::unordered_set<std::string> kHints = {
      "nolock",   "readuncommitted", "readcommitted",  "rowlock", "updlock",
      "holdlock", "tablock",         "tablockx",       "paglock", "xlock",
      "readpast", "serializable",    "repeatableread", "nowait",  "noexpand"};
  return t.kind == TokenKind::kWord && kHints.count(Lower(t.text)) > 0;
}

class Translator {
 public:
  explicit Translator(const Tokens& t) : t_(t), match_(MatchPairs(t)) {}

  const Tokens& tokens() const { return t_; }
  const std::vector<size_t>& match() const { return match_; }
  size_t size() const { return t_.size(); }

  // A table hint list such as "(nolock)" or "(nolock, readpast)" at `open`.
  bool IsHintGroup(size_t open) const {
    size_t close = match_[open];
    if (close == kNone || close == open + 1) return false;
    for (size_t i = open + 1; i < close; ++i) {
      if (!IsHintWord(t_[i]) && t_[i].kind != TokenKind::kComma) return false;
    }
    return true;
  }

  bool StartsQuery(size_t b, size_t e) const {
    while (b < e && t_[b].kind == TokenKind::kLParen) ++b;
    return b < e && IsWord(t_[b], "select");
  }

  // Expressions, clauses, anything outside the statement-level shapes.
  Tokens Expr(size_t b, size_t e) {
    Tokens out;
    for (size_t i = b; i < e;) {
      const Token& tk = t_[i];
      if (tk.kind == TokenKind::kLParen) {
        size_t m = match_[i];
        if (IsHintGroup(i) && !out.empty() && (IsWord(out.back(), "with") || IsName(out.back()))) {
          if (IsWord(out.back(), "with")) out.pop_back();
          i = m + 1;
          continue;
        }
        out.push_back(LParen());
        Append(out, StartsQuery(i + 1, m) ? Query(i + 1, m) : Expr(i + 1, m));
        out.push_back(RParen());
        i = m + 1;
        continue;
      }
      if (IsName(tk)) {
        if (i + 1 < e && t_[i + 1].kind == TokenKind::kLParen) {
          if (IsHintGroup(i + 1)) {  // "table (nolock)", "table WITH (nolock)"
            if (!IsWord(tk, "with")) out.push_back(tk);
            i = match_[i + 1] + 1;
            continue;
          }
          if (!IsKeyword(tk) || IsFunctionKeyword(tk)) {
            size_t close = match_[i + 1];
            Append(out, Call(i, i + 1, close));
            i = close + 1;
            continue;
          }
        }
        if (size_t end = CatalogEnd(i, e); end != kNone) {
          Append(out, CatalogTable(i, end, e, out));
          i = end;
          continue;
        }
        if (IsWord(tk, "apply") && !out.empty() &&
            (IsWord(out.back(), "cross") || IsWord(out.back(), "outer"))) {
          Fail("APPLY is not supported");
        }
        if (IsWord(tk, "current_timestamp")) {
          Append(out, {Word("getdate"), LParen(), RParen()});
          ++i;
          continue;
        }
        if (IsWord(tk, "collate") && i + 1 < e) {
          out.push_back(Word("COLLATE"));
          out.push_back(Collation(t_[i + 1]));
          i += 2;
          continue;
        }
        out.push_back(tk);
        ++i;
        continue;
      }
      if (tk.kind == TokenKind::kVariable) {
        std::string name = Lower(tk.text);
        if (name == "@@rowcount") {
          Append(out, {Word("changes"), LParen(), RParen()});
        } else if (name == "@@identity") {
          Append(out, {Word("last_insert_rowid"), LParen(), RParen()});
        } else if (name == "@@error" || name == "@@trancount") {
          out.push_back(Number("0"));
        } else {
          out.push_back(tk);
        }
        ++i;
        continue;
      }
      if (IsOp(tk, "!<")) {
        out.push_back(Op(">="));
      } else if (IsOp(tk, "!>")) {
        out.push_back(Op("<="));
      } else {
        out.push_back(tk);
      }
      ++i;
    }
    return out;
  }

  // A query expression: SELECT cores joined by UNION/EXCEPT/INTERSECT, an optional ORDER BY.
  // TOP n becomes LIMIT n at the end of its own SELECT; a compound's member with TOP is wrapped
  // so that its LIMIT stays its own. INTO (only allowed where `into` is given) is handed back.
  // With `name_columns`, the result's columns are named as the server names them (see
  // SelectList).
  Tokens Query(size_t b, size_t e, Tokens* into = nullptr, bool name_columns = false) {
    if (b < e && t_[b].kind == TokenKind::kLParen && match_[b] == e - 1) {
      return Query(b + 1, e - 1, into, name_columns);
    }
    std::vector<std::pair<size_t, size_t>> members;
    std::vector<Tokens> ops;
    size_t start = b;
    for (size_t i = b; i < e; ++i) {
      if (IsWord(t_[i], "union") || IsWord(t_[i], "except") || IsWord(t_[i], "intersect")) {
        members.emplace_back(start, i);
        Tokens op{Word(Lower(t_[i].text) == "union"    ? "UNION"
                       : Lower(t_[i].text) == "except" ? "EXCEPT"
                                                       : "INTERSECT")};
        if (i + 1 < e && IsWord(t_[i + 1], "all")) {
          op.push_back(Word("ALL"));
          ++i;
        }
        ops.push_back(std::move(op));
        start = i + 1;
      } else if (match_[i] != kNone) {
        i = match_[i];
      }
    }
    members.emplace_back(start, e);
    if (members.size() == 1) {
      Core core = SelectCore(b, e, into, name_columns);
      Tokens out = std::move(core.body);
      if (!core.limit.empty()) {
        out.push_back(Word("LIMIT"));
        Append(out, core.limit);
      }
      return out;
    }
    // The final ORDER BY belongs to the whole compound.
    size_t order = kNone;
    {
      auto [lb, le] = members.back();
      for (size_t i = lb; i + 1 < le; ++i) {
        if (IsWord(t_[i], "order") && IsWord(t_[i + 1], "by")) order = i;
        if (match_[i] != kNone) i = match_[i];
      }
      if (order != kNone) members.back().second = order;
    }
    Tokens out;
    for (size_t k = 0; k < members.size(); ++k) {
      auto [mb, me] = members[k];
      if (k > 0) Append(out, ops[k - 1]);
      if (mb < me && t_[mb].kind == TokenKind::kLParen && match_[mb] == me - 1) {
        AppendWords(out, {"SELECT", "*", "FROM"});
        Append(out, Parenthesized(Query(mb + 1, me - 1, nullptr, name_columns && k == 0)));
        continue;
      }
      // The first member names the compound's columns.
      Core core = SelectCore(mb, me, k == 0 ? into : nullptr, name_columns && k == 0);
      if (core.limit.empty()) {
        Append(out, core.body);
      } else {
        AppendWords(out, {"SELECT", "*", "FROM"});
        out.push_back(LParen());
        Append(out, core.body);
        out.push_back(Word("LIMIT"));
        Append(out, core.limit);
        out.push_back(RParen());
      }
    }
    if (order != kNone) Append(out, Expr(order, e));
    return out;
  }

  // Table and its FROM-clause neighbours, for UPDATE and DELETE with a FROM clause.
  struct Ref {
    size_t b = 0, e = 0;            // the whole reference (source, alias, hints)
    size_t name_b = 0, name_e = 0;  // the table name or derived table
    std::string join;               // "" first, "," or the join kind ("inner", "left", ...)
    size_t on_b = kNone, on_e = kNone;
    std::string alias;  // lower-case
    bool derived = false;
  };

  std::vector<Ref> ParseFrom(size_t b, size_t e) const {
    std::vector<Ref> refs;
    std::string join;
    size_t i = b;
    while (i < e) {
      Ref r;
      r.join = join;
      r.b = i;
      r.name_b = i;
      if (t_[i].kind == TokenKind::kLParen) {
        r.derived = true;
        i = match_[i] + 1;
      } else {
        size_t end = NameChainEnd(t_, i, e);
        if (end == i) Fail("unexpected '" + t_[i].text + "' in FROM clause");
        i = end;
      }
      r.name_e = i;
      if (i < e && IsWord(t_[i], "as")) ++i;
      if (i < e && IsName(t_[i]) && !IsKeyword(t_[i])) r.alias = Lower(NameOf(t_[i++]));
      if (i + 1 < e && IsWord(t_[i], "with") && t_[i + 1].kind == TokenKind::kLParen) {
        i = match_[i + 1] + 1;
      } else if (i < e && t_[i].kind == TokenKind::kLParen && IsHintGroup(i)) {
        i = match_[i] + 1;
      }
      r.e = i;
      if (i < e && IsWord(t_[i], "on")) {
        r.on_b = ++i;
        while (i < e && JoinStart(i) == 0 && t_[i].kind != TokenKind::kComma) {
          if (match_[i] != kNone) i = match_[i];
          ++i;
        }
        r.on_e = i;
      }
      refs.push_back(r);
      if (i >= e) break;
      if (t_[i].kind == TokenKind::kComma) {
        join = ",";
        ++i;
        continue;
      }
      size_t len = JoinStart(i);
      if (len == 0) Fail("unexpected '" + t_[i].text + "' in FROM clause");
      join = IsWord(t_[i], "join") ? "inner" : Lower(t_[i].text);
      if (join == "outer" || IsWord(t_[i + len - 1], "apply")) Fail("APPLY is not supported");
      i += len;
    }
    return refs;
  }

  Tokens Slice(size_t b, size_t e) const {
    return Tokens(t_.begin() + static_cast<ptrdiff_t>(b), t_.begin() + static_cast<ptrdiff_t>(e));
  }

 private:
  struct Core {
    Tokens body;
    Tokens limit;
  };

  size_t JoinStart(size_t i) const { return JoinLength(t_, i); }

  Core SelectCore(size_t b, size_t e, Tokens* into, bool name_columns) {
    Core core;
    if (b >= e || !IsWord(t_[b], "select")) {
      core.body = Expr(b, e);
      return core;
    }
    core.body.push_back(Word("SELECT"));
    size_t i = b + 1;
    if (i < e && (IsWord(t_[i], "distinct") || IsWord(t_[i], "all"))) {
      core.body.push_back(Word(Lower(t_[i].text) == "all" ? "ALL" : "DISTINCT"));
      ++i;
    }
    if (i < e && IsWord(t_[i], "top")) {
      ++i;
      if (i >= e) Fail("TOP without a number");
      if (t_[i].kind == TokenKind::kLParen) {
        core.limit = Expr(i + 1, match_[i]);
        i = match_[i] + 1;
      } else {
        core.limit = Expr(i, i + 1);
        ++i;
      }
      if (i < e && IsWord(t_[i], "percent")) {
        ++i;
        if (core.limit.size() != 1 || core.limit[0].text != "100") {
          Fail("TOP ... PERCENT other than 100 is not supported");
        }
        core.limit.clear();
      }
      if (i + 1 < e && IsWord(t_[i], "with") && IsWord(t_[i + 1], "ties")) i += 2;
    }
    size_t into_pos = FindTop(t_, match_, i, e, "into");
    if (into_pos == kNone) {
      size_t list_end = SelectListEnd(i, e);
      Append(core.body, SelectList(i, list_end, name_columns ? Naming::kResult : Naming::kNone));
      Append(core.body, Expr(list_end, e));
      return core;
    }
    if (into == nullptr) Fail("SELECT ... INTO is only supported as a statement of its own");
    size_t into_end = NameChainEnd(t_, into_pos + 1, e);
    if (into_end == into_pos + 1) Fail("SELECT ... INTO without a table");
    *into = Expr(into_pos + 1, into_end);
    Append(core.body, SelectList(i, into_pos, Naming::kTable));
    Append(core.body, Expr(into_end, e));
    return core;
  }

  size_t SelectListEnd(size_t b, size_t e) const {
    static const std::array<std::string_view, 8> kClauses = {"from",  "where",  "group", "having",
                                                             "order", "option", "for",   "into"};
    for (size_t i = b; i < e; ++i) {
      for (std::string_view w : kClauses) {
        if (IsWord(t_[i], w)) return i;
      }
      if (match_[i] != kNone) i = match_[i];
    }
    return e;
  }

  // How the columns of a select list are named: kNone as written (a subquery, an INSERT's
  // source); kResult as the server names the columns it returns, where a column that is neither
  // a column reference nor aliased has no name ("" here, as ADO shows it), never the text of its
  // translation; kTable as the columns of a table made by SELECT INTO, which all need a name.
  enum class Naming { kNone, kResult, kTable };

  // The server's own alias forms become SQLite's: "name = expr" and "expr [AS] 'name'" are
  // "expr AS [name]".
  Tokens SelectList(size_t b, size_t e, Naming naming) {
    Tokens out;
    for (auto [ib, ie] : SplitTop(t_, match_, b, e)) {
      if (!out.empty()) out.push_back(Comma());
      if (ie - ib >= 3 && IsName(t_[ib]) && !IsKeyword(t_[ib]) && IsOp(t_[ib + 1], "=")) {
        Append(out, Expr(ib + 2, ie));
        out.push_back(Word("AS"));
        out.push_back(t_[ib]);
        continue;
      }
      if (ie - ib >= 2 && t_[ie - 1].kind == TokenKind::kString &&
          (IsWord(t_[ie - 2], "as") || EndsOperand(t_[ie - 2]))) {
        Append(out, Expr(ib, IsWord(t_[ie - 2], "as") ? ie - 2 : ie - 1));
        out.push_back(Word("AS"));
        out.push_back(QuotedName(StringValue(t_[ie - 1].text)));
        continue;
      }
      Append(out, Expr(ib, ie));
      if (naming == Naming::kNone || IsNamedItem(ib, ie)) continue;
      if (naming == Naming::kTable) {
        throw DbError(kErrStatement,
                      "An object or column name is missing or empty. For SELECT INTO statements, "
                      "verify each column has a name.");
      }
      out.push_back(Word("AS"));
      out.push_back(QuotedName(""));
    }
    return out;
  }

  static bool EndsOperand(const Token& t) {
    return (IsName(t) && !IsKeyword(t)) || IsWord(t, "end") || t.kind == TokenKind::kNumber ||
           t.kind == TokenKind::kString || t.kind == TokenKind::kBlob ||
           t.kind == TokenKind::kRParen;
  }

  // A column reference, a star, or an expression with an alias.
  bool IsNamedItem(size_t b, size_t e) const {
    if (b >= e) return true;  // an empty item ("select ,"): nothing to name, SQLite refuses it
    if (IsOp(t_[e - 1], "*")) return true;
    if (NameChainEnd(t_, b, e) == e) return !IsWord(t_[b], "current_timestamp");
    return e - b >= 2 && IsName(t_[e - 1]) && !IsKeyword(t_[e - 1]) &&
           (IsWord(t_[e - 2], "as") || EndsOperand(t_[e - 2]));
  }

  // The text of a string literal token ('it''s' is it's).
  static std::string StringValue(std::string_view literal) {
    std::string out;
    for (size_t i = 1; i + 1 < literal.size(); ++i) {
      out += literal[i];
      if (literal[i] == '\'') ++i;
    }
    return out;
  }

  static Token QuotedName(std::string_view name) {
    std::string text = "\"";
    for (char c : name) {
      text += c;
      if (c == '"') text += '"';
    }
    text += '"';
    return MakeToken(TokenKind::kQuotedName, std::move(text));
  }

  // [schema.]sysobjects in a FROM/JOIN position: the end of the reference, or kNone.
  size_t CatalogEnd(size_t i, size_t e) const {
    if (i > 0 && t_[i - 1].kind == TokenKind::kDot) return kNone;
    size_t k = i;
    if (k + 2 < e && (IsWord(t_[k], "tempdb") || IsWord(t_[k], "qdsystem")) &&
        t_[k + 1].kind == TokenKind::kDot) {
      k += 2;
    }
    if (k >= e || !IsName(t_[k]) || !EqualsIgnoreCase(NameOf(t_[k]), "sysobjects")) return kNone;
    if (k + 1 < e && t_[k + 1].kind == TokenKind::kDot) return kNone;
    return k + 1;
  }

  // The catalog as SQL Server shows it: name, id (matching OBJECT_ID), xtype and type 'U' for
  // tables and 'V' for views. Names compare without regard to case, as in the server.
  Tokens CatalogTable(size_t b, size_t end, size_t e, const Tokens& before) const {
    const bool in_from =
        !before.empty() && (IsWord(before.back(), "from") || IsWord(before.back(), "join") ||
                            before.back().kind == TokenKind::kComma);
    if (!in_from) return Slice(b, end);
    std::string schema = end - b == 3 ? Lower(t_[b].text) : "main";
    Tokens sub = sql::Tokenize(
        "(SELECT name COLLATE NOCASE AS name, '" + schema +
        ".' || lower(name) AS id, CASE type WHEN 'table' THEN 'U' ELSE 'V' END AS xtype, "
        "CASE type WHEN 'table' THEN 'U' ELSE 'V' END AS type FROM " +
        schema +
        ".sqlite_master WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite!_%' "
        "ESCAPE '!')");
    const bool has_alias =
        end < e && (IsWord(t_[end], "as") || (IsName(t_[end]) && !IsKeyword(t_[end])));
    if (!has_alias) AppendWords(sub, {"AS", "sysobjects"});
    return sub;
  }

  // The server's collations: case-insensitive ones are NOCASE; the others compare case and
  // accents but still ignore trailing blanks, as SQLite's RTRIM does.
  static Token Collation(const Token& name) {
    std::string n = Lower(NameOf(name));
    if (n == "nocase" || n == "binary" || n == "rtrim") return Word(Lower(n));
    return Word(n.find("_ci") != std::string::npos ? "NOCASE" : "RTRIM");
  }

  Tokens Call(size_t name_index, size_t open, size_t close) {
    const Token& name_token = t_[name_index];
    const std::string name = Lower(NameOf(name_token));
    auto args = SplitTop(t_, match_, open + 1, close);
    auto generic = [&](Token fn) {
      Tokens out{std::move(fn), LParen()};
      for (size_t k = 0; k < args.size(); ++k) {
        if (k > 0) out.push_back(Comma());
        Append(out, Expr(args[k].first, args[k].second));
      }
      out.push_back(RParen());
      return out;
    };
    if (name == "isnull") return generic(Word("ifnull"));
    if (name == "left" || name == "right") {
      return generic(MakeToken(TokenKind::kQuotedName, "\"" + name + "\""));
    }
    if (name == "cast" || name == "try_cast") {
      size_t as = kNone;
      for (size_t i = open + 1; i < close; ++i) {
        if (IsWord(t_[i], "as")) as = i;
        if (match_[i] != kNone) i = match_[i];
      }
      if (as == kNone) Fail("CAST without AS");
      return Conversion(as + 1, close, open + 1, as, nullptr);
    }
    if (name == "convert" || name == "try_convert") {
      if (args.size() < 2 || args.size() > 3) Fail("CONVERT needs a type and a value");
      Tokens style;
      if (args.size() == 3) style = Expr(args[2].first, args[2].second);
      return Conversion(args[0].first, args[0].second, args[1].first, args[1].second,
                        args.size() == 3 ? &style : nullptr);
    }
    if (name == "datediff" || name == "dateadd" || name == "datepart" || name == "datename" ||
        name == "datediff_big") {
      if (args.empty()) Fail(name + " without arguments");
      Tokens out{Word(name == "datediff_big" ? "datediff" : name), LParen()};
      auto [pb, pe] = args[0];
      if (pe == pb + 1 && IsName(t_[pb])) {
        out.push_back(Str(Lower(NameOf(t_[pb]))));
      } else {
        Append(out, Expr(pb, pe));
      }
      for (size_t k = 1; k < args.size(); ++k) {
        out.push_back(Comma());
        Append(out, Expr(args[k].first, args[k].second));
      }
      out.push_back(RParen());
      return out;
    }
    if (name == "identity") {  // SELECT ... INTO with a numbering column
      auto number = [&](size_t k) {
        return args.size() > k && args[k].second == args[k].first + 1 &&
                       t_[args[k].first].kind == TokenKind::kNumber
                   ? t_[args[k].first].text
                   : std::string("1");
      };
      return sql::Tokenize("((ROW_NUMBER() OVER () - 1) * (" + number(2) + ") + (" + number(1) +
                           "))");
    }
    return generic(name_token);
  }

  // Scale of an expression that is itself a conversion to decimal(p,s) or money, so that its
  // text keeps that many decimals ("12.50") as in SQL Server.
  std::optional<int> DecimalScale(size_t b, size_t e) const {
    if (e < b + 4 || t_[b + 1].kind != TokenKind::kLParen || match_[b + 1] != e - 1) {
      return std::nullopt;
    }
    size_t type_index = kNone;
    if (IsWord(t_[b], "cast")) {
      for (size_t i = b + 2; i < e - 1; ++i) {
        if (IsWord(t_[i], "as")) type_index = i + 1;
        if (match_[i] != kNone) i = match_[i];
      }
    } else if (IsWord(t_[b], "convert")) {
      type_index = b + 2;
    }
    if (type_index == kNone || type_index >= e - 1) return std::nullopt;
    std::string type = Lower(NameOf(t_[type_index]));
    if (type == "money" || type == "smallmoney") return 2;
    if (type != "decimal" && type != "numeric") return std::nullopt;
    if (type_index + 1 < e && t_[type_index + 1].kind == TokenKind::kLParen) {
      auto parts = SplitTop(t_, match_, type_index + 2, match_[type_index + 1]);
      if (parts.size() == 2 && parts[1].second == parts[1].first + 1 &&
          t_[parts[1].first].kind == TokenKind::kNumber && t_[parts[1].first].text.size() < 4) {
        return std::stoi(t_[parts[1].first].text);
      }
    }
    return 0;
  }

  // CAST/CONVERT. Numbers keep SQLite's CAST (and with it a numeric affinity); decimals and
  // money are rounded to their scale first; texts and dates go through rembiz_convert, which
  // knows SQL Server's lengths and date styles. Dates become text in their normal form.
  Tokens Conversion(size_t type_b, size_t type_e, size_t expr_b, size_t expr_e,
                    const Tokens* style) {
    if (type_b >= type_e || !IsName(t_[type_b])) Fail("conversion without a type");
    const std::string base = Lower(NameOf(t_[type_b]));
    std::vector<std::string> params;
    if (type_b + 1 < type_e && t_[type_b + 1].kind == TokenKind::kLParen) {
      for (auto [pb, pe] : SplitTop(t_, match_, type_b + 2, match_[type_b + 1])) {
        if (pe > pb) params.push_back(Lower(t_[pb].text));
      }
    }
    Tokens value = Expr(expr_b, expr_e);
    auto wrap_cast = [](Tokens inner, const char* type) {
      Tokens out{Word("CAST"), LParen()};
      Append(out, inner);
      AppendWords(out, {"AS", type});
      out.push_back(RParen());
      return out;
    };
    auto call = [&](const std::string& type_text, Tokens v, bool with_style) {
      Tokens out{Word("rembiz_convert"), LParen(), Str(type_text), Comma()};
      Append(out, v);
      if (with_style && style != nullptr) {
        out.push_back(Comma());
        Append(out, *style);
      }
      out.push_back(RParen());
      return out;
    };
    switch (TypeOfSqlType(t_[type_b])) {
      case Type::kText: {
        if (base == "uniqueidentifier") return wrap_cast(value, "TEXT");
        std::string type_text = base;
        if (!params.empty()) type_text += "(" + params[0] + ")";
        Tokens out = call(type_text, value, true);
        if (std::optional<int> scale = DecimalScale(expr_b, expr_e)) {
          out.pop_back();
          if (style == nullptr) {
            out.push_back(Comma());
            out.push_back(Word("NULL"));
          }
          out.push_back(Comma());
          out.push_back(Number(std::to_string(*scale)));
          out.push_back(RParen());
        }
        return out;
      }
      case Type::kDate:
        return call(base, value, true);
      case Type::kNumber: {
        if (base == "bit") return wrap_cast(call("bit", value, false), "INTEGER");
        if (base == "float" || base == "real") return wrap_cast(value, "REAL");
        if (base == "decimal" || base == "numeric" || base == "money" || base == "smallmoney") {
          std::string scale = "4";
          if (base == "decimal" || base == "numeric") scale = params.size() >= 2 ? params[1] : "0";
          Tokens rounded{Word("rembiz_decimal"), LParen()};
          Append(rounded, value);
          rounded.push_back(Comma());
          rounded.push_back(Number(scale));
          rounded.push_back(RParen());
          return wrap_cast(rounded, "REAL");
        }
        return wrap_cast(value, "INTEGER");
      }
      case Type::kUnknown:
        break;
    }
    if (base == "xml" || base == "sql_variant") return wrap_cast(value, "TEXT");
    Fail("unknown type '" + base + "' in a conversion");
  }

  const Tokens& t_;
  std::vector<size_t> match_;
};

// ---------------------------------------------------------------------------------------------
// Statements. Variables of a batch (DECLARE, SET @v = ..., SELECT @v = ... FROM ...) are kept
// as expressions and written into the statements that use them, so a batch such as
// "declare @a money select @a = sum(md) from t update t set mc = @a" needs no procedural
// support: the value is computed where it is used (a SELECT assignment reads its first row).
// IF/ELSE becomes a condition step and its branches (see BatchStep): the condition is evaluated
// once, before either branch, and only the chosen branch runs and counts. A variable set inside
// a branch takes the condition along ("CASE WHEN <condition> THEN ... ELSE <old value> END").
// "IF EXISTS (... sysobjects / OBJECT_ID ...) DROP TABLE x" is DROP TABLE IF EXISTS x.

bool MentionsCatalog(const Tokens& t) {
  for (const Token& tk : t) {
    if (IsName(tk)) {
      std::string n = Lower(NameOf(tk));
      if (n == "sysobjects" || n == "object_id" || n == "objects" || n == "tables") return true;
    }
  }
  return false;
}

std::string Emit(const Tokens& tokens) {
  std::string out;
  const Token* prev = nullptr;
  for (const Token& t : tokens) {
    if (prev != nullptr) {
      bool space = true;
      if (prev->kind == TokenKind::kLParen || prev->kind == TokenKind::kDot) space = false;
      if (t.kind == TokenKind::kRParen || t.kind == TokenKind::kComma ||
          t.kind == TokenKind::kDot) {
        space = false;
      }
      if (t.kind == TokenKind::kLParen && IsName(*prev) && !IsKeyword(*prev)) space = false;
      if (space) out += ' ';
    }
    out += t.text;
    prev = &t;
  }
  return out;
}

class BatchTranslator {
 public:
  StatementList Run(const std::vector<Statement>& statements) {
    for (const Statement& s : statements) Translate(s, {});
    for (BatchStep& step : out_) {
      if (step.kind == BatchStep::Kind::kJump && step.next == kNone) step.next = out_.size();
    }
    return std::move(out_);
  }

 private:
  void Add(std::string sql) {
    out_.push_back(BatchStep{BatchStep::Kind::kStatement, std::move(sql), 0});
  }

  // `guard` is the condition under which the statement runs (the IFs around it), for the
  // variables it sets.
  void Translate(const Statement& s, const Tokens& guard) {
    switch (s.kind) {
      case Statement::Kind::kBlock:
        for (const Statement& child : s.children) Translate(child, guard);
        return;
      case Statement::Kind::kSimple:
        TranslateSimple(s.tokens, guard);
        return;
      case Statement::Kind::kIf:
        break;
    }
    Tokens condition = Substitute(s.tokens);
    if (TranslateCatalogIf(s, condition)) return;
    const size_t test = out_.size();
    Tokens query{Word("SELECT"), Number("1"), Word("WHERE")};
    Append(query, TranslateCondition(condition));
    out_.push_back(BatchStep{BatchStep::Kind::kCondition, Emit(query), 0});
    Translate(s.children[0], AndTokens(guard, Parenthesized(condition)));
    if (s.children.size() > 1) {
      const size_t jump = out_.size();
      out_.push_back(BatchStep{BatchStep::Kind::kJump, "", 0});
      out_[test].next = out_.size();
      Tokens negated{Word("NOT"), Word("coalesce"), LParen()};
      Append(negated, Parenthesized(condition));
      negated.push_back(Comma());
      negated.push_back(Number("0"));
      negated.push_back(RParen());
      Translate(s.children[1], AndTokens(guard, negated));
      out_[jump].next = out_.size();
    } else {
      out_[test].next = out_.size();
    }
  }

  bool TranslateCatalogIf(const Statement& s, const Tokens& condition) {
    if (s.children.size() != 1 || !MentionsCatalog(condition)) return false;
    const Statement& body = s.children[0];
    if (body.kind != Statement::Kind::kSimple || body.tokens.size() < 3) return false;
    const Tokens& b = body.tokens;
    if (IsWord(b[0], "drop") && (IsWord(b[1], "table") || IsWord(b[1], "view"))) {
      for (const Tokens& name : SplitNames(b, 2)) {
        Tokens out{Word("DROP"), Word(IsWord(b[1], "view") ? "VIEW" : "TABLE"), Word("IF"),
                   Word("EXISTS")};
        Append(out, name);
        Add(Emit(out));
      }
      return true;
    }
    if (IsWord(b[0], "create") && IsWord(b[1], "table") && !condition.empty() &&
        IsWord(condition[0], "not")) {
      Translator tr(b);
      Add(Emit(CreateTable(tr, true)));
      return true;
    }
    return false;
  }

  std::vector<Tokens> SplitNames(const Tokens& t, size_t from) {
    std::vector<Tokens> names;
    Translator tr(t);
    for (auto [b, e] : SplitTop(t, tr.match(), from, t.size())) names.push_back(tr.Expr(b, e));
    return names;
  }

  Tokens Substitute(const Tokens& in) const {
    Tokens out;
    out.reserve(in.size());
    for (const Token& t : in) {
      if (t.kind == TokenKind::kVariable) {
        auto it = vars_.find(Lower(t.text));
        if (it != vars_.end()) {
          Append(out, it->second);
          continue;
        }
      }
      out.push_back(t);
    }
    if (!in.empty() && !out.empty()) out[0].line_start = in[0].line_start;
    return out;
  }

  // An IF's condition in SQLite's dialect.
  static Tokens TranslateCondition(const Tokens& condition) {
    Tokens rewritten = PlusRewriter(ParenthesizeNestedJoins(condition)).Run();
    Translator tr(rewritten);
    return tr.Expr(0, tr.size());
  }

  void Bind(const std::string& name, Tokens value, const Tokens& guard) {
    std::string key = Lower(name);
    Tokens bound = Parenthesized(std::move(value));
    if (!guard.empty()) {
      auto it = vars_.find(key);
      Tokens old = it != vars_.end() ? it->second : Tokens{Word("NULL")};
      Tokens c{Word("CASE"), Word("WHEN")};
      Append(c, guard);
      c.push_back(Word("THEN"));
      Append(c, bound);
      c.push_back(Word("ELSE"));
      Append(c, old);
      c.push_back(Word("END"));
      bound = Parenthesized(std::move(c));
    }
    vars_[key] = std::move(bound);
  }

  Tokens Compound(const std::string& name, const std::string& op, Tokens value) const {
    if (op == "=") return value;
    auto it = vars_.find(Lower(name));
    Tokens out = it != vars_.end() ? it->second : Tokens{Word("NULL")};
    out.push_back(Op(op.substr(0, 1)));
    Append(out, Parenthesized(std::move(value)));
    return out;
  }

  void Declare(const Tokens& t, const Tokens& guard) {
    auto match = MatchPairs(t);
    for (auto [b, e] : SplitTop(t, match, 1, t.size())) {
      if (b >= e || t[b].kind != TokenKind::kVariable) Fail("DECLARE without a variable");
      size_t k = b + 1;
      if (k < e && IsWord(t[k], "as")) ++k;
      if (k < e && (IsWord(t[k], "table") || IsWord(t[k], "cursor"))) {
        Fail("table variables and cursors are not supported");
      }
      size_t eq = kNone;
      for (size_t i = k; i < e; ++i) {
        if (IsOp(t[i], "=")) {
          eq = i;
          break;
        }
        if (match[i] != kNone) i = match[i];
      }
      Tokens value = eq == kNone ? Tokens{Word("NULL")}
                                 : Substitute(Tokens(t.begin() + static_cast<ptrdiff_t>(eq + 1),
                                                     t.begin() + static_cast<ptrdiff_t>(e)));
      Bind(t[b].text, std::move(value), guard);
    }
  }

  // SELECT @a = x, @b = y FROM ...: each variable becomes (SELECT x FROM ...).
  bool SelectAssignment(const Tokens& t, const Tokens& guard) {
    size_t i = 1;
    Tokens top;
    if (i < t.size() && IsWord(t[i], "top")) {
      size_t end = i + 2;
      if (i + 1 < t.size() && t[i + 1].kind == TokenKind::kLParen) end = MatchPairs(t)[i + 1] + 1;
      end = std::min(end, t.size());
      top.assign(t.begin() + static_cast<ptrdiff_t>(i), t.begin() + static_cast<ptrdiff_t>(end));
      i = end;
    }
    if (i + 1 >= t.size() || t[i].kind != TokenKind::kVariable ||
        !(IsOp(t[i + 1], "=") || IsOp(t[i + 1], "+=") || IsOp(t[i + 1], "-="))) {
      return false;
    }
    auto match = MatchPairs(t);
    size_t from = FindTop(t, match, i, t.size(), "from");
    Tokens rest;
    if (from != kNone) rest = Substitute(Tokens(t.begin() + static_cast<ptrdiff_t>(from), t.end()));
    std::vector<std::pair<std::string, Tokens>> values;
    for (auto [b, e] : SplitTop(t, match, i, from == kNone ? t.size() : from)) {
      if (e < b + 3 || t[b].kind != TokenKind::kVariable) {
        Fail("a SELECT that assigns variables cannot also return columns");
      }
      Tokens expr = Substitute(
          Tokens(t.begin() + static_cast<ptrdiff_t>(b + 2), t.begin() + static_cast<ptrdiff_t>(e)));
      Tokens value;
      if (rest.empty() && top.empty()) {
        value = std::move(expr);
      } else {
        Tokens q{Word("select")};
        Append(q, top);
        Append(q, expr);
        Append(q, rest);
        value = Parenthesized(std::move(q));
      }
      values.emplace_back(t[b].text, Compound(t[b].text, t[b + 1].text, std::move(value)));
    }
    for (auto& [name, value] : values) Bind(name, std::move(value), guard);
    return true;
  }

  void TranslateSimple(const Tokens& raw, const Tokens& guard) {
    if (raw.empty()) return;
    const Token& first = raw[0];
    if (IsWord(first, "use") || IsWord(first, "print") || IsWord(first, "go")) return;
    if (IsWord(first, "return")) {  // leaves the batch
      out_.push_back(BatchStep{BatchStep::Kind::kJump, "", kNone});
      return;
    }
    if (IsWord(first, "set")) {
      if (raw.size() >= 3 && raw[1].kind == TokenKind::kVariable &&
          (IsOp(raw[2], "=") || IsOp(raw[2], "+=") || IsOp(raw[2], "-="))) {
        Tokens value = Substitute(Tokens(raw.begin() + 3, raw.end()));
        Bind(raw[1].text, Compound(raw[1].text, raw[2].text, std::move(value)), guard);
      }
      return;  // SET NOCOUNT ON and other session options mean nothing here
    }
    if (IsWord(first, "declare")) {
      Declare(raw, guard);
      return;
    }
    if (IsWord(first, "select") && SelectAssignment(raw, guard)) return;

    Tokens tokens = Substitute(raw);
    if (IsWord(first, "truncate") && tokens.size() >= 3 && IsWord(tokens[1], "table")) {
      Tokens del{Word("delete"), Word("from")};
      del.insert(del.end(), tokens.begin() + 2, tokens.end());
      tokens = std::move(del);
    }
    if (IsWord(first, "update")) tokens = ExpandCompoundAssignments(tokens);
    tokens = PlusRewriter(ParenthesizeNestedJoins(tokens)).Run();
    Translator tr(tokens);
    const Token& head = tokens[0];
    if (IsWord(head, "select") || head.kind == TokenKind::kLParen) {
      SelectStatement(tr);
    } else if (IsWord(head, "insert")) {
      Insert(tr);
    } else if (IsWord(head, "update")) {
      Update(tr);
    } else if (IsWord(head, "delete")) {
      Delete(tr);
    } else if (IsWord(head, "create")) {
      Create(tr);
    } else if (IsWord(head, "drop")) {
      Drop(tr);
    } else {
      Add(Emit(tr.Expr(0, tr.size())));
    }
  }

  // "SET col += x" is "SET col = col + (x)", rewritten before "+" is typed so that text
  // columns concatenate.
  static Tokens ExpandCompoundAssignments(const Tokens& t) {
    auto match = MatchPairs(t);
    size_t set = FindTop(t, match, 1, t.size(), "set");
    if (set == kNone) return t;
    size_t end = FindTop(t, match, set + 1, t.size(), "from");
    if (end == kNone) end = FindTop(t, match, set + 1, t.size(), "where");
    if (end == kNone) end = t.size();
    Tokens out(t.begin(), t.begin() + static_cast<ptrdiff_t>(set + 1));
    bool first = true;
    for (auto [b, e] : SplitTop(t, match, set + 1, end)) {
      if (!first) out.push_back(Comma());
      first = false;
      size_t op = b;
      while (op < e && !IsOp(t[op], "+=") && !IsOp(t[op], "-=")) ++op;
      if (op == e || op == b) {
        out.insert(out.end(), t.begin() + static_cast<ptrdiff_t>(b),
                   t.begin() + static_cast<ptrdiff_t>(e));
        continue;
      }
      out.insert(out.end(), t.begin() + static_cast<ptrdiff_t>(b),
                 t.begin() + static_cast<ptrdiff_t>(op));
      out.push_back(Op("="));
      out.insert(out.end(), t.begin() + static_cast<ptrdiff_t>(b),
                 t.begin() + static_cast<ptrdiff_t>(op));
      out.push_back(Op(t[op].text.substr(0, 1)));
      out.push_back(LParen());
      out.insert(out.end(), t.begin() + static_cast<ptrdiff_t>(op + 1),
                 t.begin() + static_cast<ptrdiff_t>(e));
      out.push_back(RParen());
    }
    out.insert(out.end(), t.begin() + static_cast<ptrdiff_t>(end), t.end());
    return out;
  }

  // A query's rows are the batch's answer, so its columns are named as the server names them.
  void SelectStatement(Translator& tr) {
    Tokens into;
    Tokens query = tr.Query(0, tr.size(), &into, /*name_columns=*/true);
    if (into.empty()) {
      Add(Emit(query));
      return;
    }
    Tokens out{Word("CREATE"), Word("TABLE")};
    Append(out, into);
    out.push_back(Word("AS"));
    Append(out, query);
    Add(Emit(out));
  }

  void Insert(Translator& tr) {
    const Tokens& t = tr.tokens();
    const size_t n = t.size();
    size_t i = 1;
    if (i < n && IsWord(t[i], "into")) ++i;
    size_t name_end = NameChainEnd(t, i, n);
    if (name_end == i) Fail("INSERT without a table");
    Tokens target = tr.Expr(i, name_end);
    i = name_end;
    if (i + 1 < n && IsWord(t[i], "with") && t[i + 1].kind == TokenKind::kLParen) {
      i = tr.match()[i + 1] + 1;
    }
    Tokens columns;
    if (i < n && t[i].kind == TokenKind::kLParen && !tr.StartsQuery(i + 1, tr.match()[i])) {
      columns = Parenthesized(tr.Expr(i + 1, tr.match()[i]));
      i = tr.match()[i] + 1;
    } else if (auto identity = IdentityTables::Instance().Find(NameOf(t[name_end - 1]))) {
      Tokens list;
      for (const std::string& c : *identity) {
        if (!list.empty()) list.push_back(Comma());
        list.push_back(MakeToken(TokenKind::kQuotedName, "[" + c + "]"));
      }
      columns = Parenthesized(std::move(list));
    }
    Tokens out{Word("INSERT"), Word("INTO")};
    Append(out, target);
    Append(out, columns);
    if (i < n && IsWord(t[i], "values")) {
      out.push_back(Word("VALUES"));
      Append(out, tr.Expr(i + 1, n));
    } else if (i < n && tr.StartsQuery(i, n)) {
      Append(out, tr.Query(i, n));
    } else if (i + 1 < n && IsWord(t[i], "default") && IsWord(t[i + 1], "values")) {
      AppendWords(out, {"DEFAULT", "VALUES"});
    } else {
      Fail("unsupported INSERT form");
    }
    Add(Emit(out));
  }

  // Assignments of an UPDATE's SET clause; qualified columns lose their qualifier.
  std::vector<std::pair<Tokens, Tokens>> Assignments(Translator& tr, size_t b, size_t e) {
    const Tokens& t = tr.tokens();
    std::vector<std::pair<Tokens, Tokens>> out;
    for (auto [ab, ae] : SplitTop(t, tr.match(), b, e)) {
      size_t op = ab;
      while (op < ae && !(IsOp(t[op], "=") || IsOp(t[op], "+=") || IsOp(t[op], "-="))) ++op;
      if (op == ab || op >= ae) Fail("malformed SET clause");
      if (!IsName(t[op - 1])) Fail("only columns can be assigned in an UPDATE");
      Tokens column{t[op - 1]};
      Tokens value = tr.Expr(op + 1, ae);
      if (!IsOp(t[op], "=")) {
        Tokens v = column;
        v.push_back(Op(t[op].text.substr(0, 1)));
        Append(v, Parenthesized(std::move(value)));
        value = std::move(v);
      }
      out.emplace_back(std::move(column), std::move(value));
    }
    return out;
  }

  // The reference of an UPDATE/DELETE target among the FROM clause's references (by alias,
  // else by table name), or kNone.
  static size_t FindTarget(const Translator& tr, const std::vector<Translator::Ref>& refs,
                           const std::string& target) {
    for (size_t k = 0; k < refs.size(); ++k) {
      if (refs[k].alias == target) return k;
    }
    for (size_t k = 0; k < refs.size(); ++k) {
      const auto& r = refs[k];
      if (!r.derived && r.alias.empty() && Lower(NameOf(tr.tokens()[r.name_e - 1])) == target) {
        return k;
      }
    }
    return kNone;
  }

  // UPDATE ... FROM. With inner joins only, SQLite's UPDATE ... FROM takes it directly once the
  // target leaves the FROM list and all join conditions move into WHERE. With outer joins the
  // rows and new values are computed by the original FROM clause in a subquery and matched to
  // the target by rowid.
  void Update(Translator& tr) {
    const Tokens& t = tr.tokens();
    const auto& match = tr.match();
    const size_t n = t.size();
    if (n > 1 && IsWord(t[1], "top")) Fail("UPDATE TOP is not supported");
    size_t set = FindTop(t, match, 1, n, "set");
    if (set == kNone) Fail("UPDATE without SET");
    size_t target_end = NameChainEnd(t, 1, set);
    if (target_end == 1) Fail("UPDATE without a table");
    size_t from = FindTop(t, match, set + 1, n, "from");
    size_t where = FindTop(t, match, from == kNone ? set + 1 : from + 1, n, "where");
    size_t option = FindTop(t, match, set + 1, n, "option");
    size_t end = option == kNone ? n : option;
    size_t set_end = from != kNone ? from : (where != kNone ? where : end);
    auto assignments = Assignments(tr, set + 1, set_end);
    Tokens where_tokens;
    if (where != kNone) where_tokens = tr.Expr(where + 1, end);
    Tokens target = tr.Expr(1, target_end);

    auto emit_set = [&](Tokens& out) {
      out.push_back(Word("SET"));
      for (size_t k = 0; k < assignments.size(); ++k) {
        if (k > 0) out.push_back(Comma());
        Append(out, assignments[k].first);
        out.push_back(Op("="));
        Append(out, assignments[k].second);
      }
    };

    if (from == kNone) {
      Tokens out{Word("UPDATE")};
      Append(out, target);
      emit_set(out);
      if (!where_tokens.empty()) {
        out.push_back(Word("WHERE"));
        Append(out, where_tokens);
      }
      Add(Emit(out));
      return;
    }

    const size_t from_end = where != kNone ? where : end;
    auto refs = tr.ParseFrom(from + 1, from_end);
    const std::string target_name = Lower(NameOf(t[target_end - 1]));
    const size_t k = FindTarget(tr, refs, target_name);
    bool inner_only = true;
    for (const auto& r : refs) {
      if (!r.join.empty() && r.join != "," && r.join != "inner" && r.join != "cross") {
        inner_only = false;
      }
    }

    if (inner_only) {
      Tokens out{Word("UPDATE")};
      if (k == kNone) {
        Append(out, target);
      } else {
        Append(out, tr.Expr(refs[k].name_b, refs[k].name_e));
        if (!refs[k].alias.empty()) {
          out.push_back(Word("AS"));
          out.push_back(Word(refs[k].alias));
        }
      }
      emit_set(out);
      Tokens sources, cond;
      for (size_t r = 0; r < refs.size(); ++r) {
        if (refs[r].on_b != kNone) cond = AndTokens(cond, tr.Expr(refs[r].on_b, refs[r].on_e));
        if (r == k) continue;
        if (!sources.empty()) sources.push_back(Comma());
        Append(sources, tr.Expr(refs[r].b, refs[r].e));
      }
      if (!sources.empty()) {
        out.push_back(Word("FROM"));
        Append(out, sources);
      }
      cond = AndTokens(cond, where_tokens);
      if (!cond.empty()) {
        out.push_back(Word("WHERE"));
        Append(out, cond);
      }
      Add(Emit(out));
      return;
    }

    if (k != kNone && refs[k].derived) Fail("cannot update a derived table");
    Tokens key = k == kNone              ? target
                 : refs[k].alias.empty() ? tr.Expr(refs[k].name_b, refs[k].name_e)
                                         : Tokens{Word(refs[k].alias)};
    Tokens table = k == kNone ? target : tr.Expr(refs[k].name_b, refs[k].name_e);
    Tokens sub{Word("SELECT")};
    Append(sub, key);
    sub.push_back(Dot());
    AppendWords(sub, {"rowid", "AS", "rembiz_rowid"});
    for (size_t a = 0; a < assignments.size(); ++a) {
      sub.push_back(Comma());
      Append(sub, Parenthesized(assignments[a].second));
      AppendWords(sub, {"AS"});
      sub.push_back(Word("rembiz_v" + std::to_string(a)));
    }
    sub.push_back(Word("FROM"));
    if (k == kNone) {
      Append(sub, target);
      sub.push_back(Comma());
    }
    Append(sub, tr.Expr(from + 1, from_end));
    if (!where_tokens.empty()) {
      sub.push_back(Word("WHERE"));
      Append(sub, where_tokens);
    }
    Tokens out{Word("UPDATE")};
    Append(out, table);
    AppendWords(out, {"AS", "rembiz_target", "SET"});
    for (size_t a = 0; a < assignments.size(); ++a) {
      if (a > 0) out.push_back(Comma());
      Append(out, assignments[a].first);
      out.push_back(Op("="));
      out.push_back(Word("rembiz_source"));
      out.push_back(Dot());
      out.push_back(Word("rembiz_v" + std::to_string(a)));
    }
    out.push_back(Word("FROM"));
    Append(out, Parenthesized(std::move(sub)));
    AppendWords(out, {"AS", "rembiz_source", "WHERE"});
    out.push_back(Word("rembiz_target"));
    out.push_back(Dot());
    out.push_back(Word("rowid"));
    out.push_back(Op("="));
    out.push_back(Word("rembiz_source"));
    out.push_back(Dot());
    out.push_back(Word("rembiz_rowid"));
    Add(Emit(out));
  }

  // DELETE [FROM] T [WHERE ...]; DELETE [FROM] x FROM <sources> [WHERE ...] deletes the rows of
  // x's table that the sources select, matched by rowid.
  void Delete(Translator& tr) {
    const Tokens& t = tr.tokens();
    const auto& match = tr.match();
    const size_t n = t.size();
    size_t i = 1;
    if (i < n && IsWord(t[i], "top")) Fail("DELETE TOP is not supported");
    if (i < n && IsWord(t[i], "from")) ++i;
    size_t target_end = NameChainEnd(t, i, n);
    if (target_end == i) Fail("DELETE without a table");
    Tokens target = tr.Expr(i, target_end);
    size_t j = target_end;
    if (j + 1 < n && IsWord(t[j], "with") && t[j + 1].kind == TokenKind::kLParen) {
      j = match[j + 1] + 1;
    } else if (j < n && t[j].kind == TokenKind::kLParen && tr.IsHintGroup(j)) {
      j = match[j] + 1;
    }
    size_t from = j < n && IsWord(t[j], "from") ? j : kNone;
    size_t where = FindTop(t, match, from == kNone ? j : from + 1, n, "where");
    size_t option = FindTop(t, match, j, n, "option");
    size_t end = option == kNone ? n : option;
    Tokens cond = where != kNone ? tr.Expr(where + 1, end) : Tokens{};
    Tokens out{Word("DELETE"), Word("FROM")};
    if (from == kNone) {
      if (j != (where != kNone ? where : end)) Fail("unexpected '" + t[j].text + "' in DELETE");
      Append(out, target);
      if (!cond.empty()) {
        out.push_back(Word("WHERE"));
        Append(out, cond);
      }
      Add(Emit(out));
      return;
    }
    const size_t from_end = where != kNone ? where : end;
    auto refs = tr.ParseFrom(from + 1, from_end);
    size_t k = FindTarget(tr, refs, Lower(NameOf(t[target_end - 1])));
    if (k != kNone && refs[k].derived) Fail("cannot delete from a derived table");
    Tokens table = k == kNone ? target : tr.Expr(refs[k].name_b, refs[k].name_e);
    Tokens key = k == kNone || refs[k].alias.empty() ? table : Tokens{Word(refs[k].alias)};
    Append(out, table);
    AppendWords(out, {"WHERE", "rowid", "IN"});
    out.push_back(LParen());
    out.push_back(Word("SELECT"));
    Append(out, key);
    out.push_back(Dot());
    AppendWords(out, {"rowid", "FROM"});
    if (k == kNone) {
      Append(out, table);
      out.push_back(Comma());
    }
    Append(out, tr.Expr(from + 1, from_end));
    if (!cond.empty()) {
      out.push_back(Word("WHERE"));
      Append(out, cond);
    }
    out.push_back(RParen());
    Add(Emit(out));
  }

  // CREATE TABLE: SQL Server's column types stay (SQLite derives affinities from them);
  // IDENTITY becomes INTEGER PRIMARY KEY AUTOINCREMENT, collations NOCASE/RTRIM, function
  // defaults are parenthesized, and storage clauses (ON [PRIMARY], CLUSTERED) are dropped. Text
  // columns without a collation compare as the server's default collation does (NOCASE), GUIDs
  // as uniqueidentifier.
  Tokens CreateTable(Translator& tr, bool if_not_exists) {
    const Tokens& t = tr.tokens();
    const auto& match = tr.match();
    size_t open = 2;
    while (open < t.size() && t[open].kind != TokenKind::kLParen) ++open;
    if (open >= t.size()) Fail("CREATE TABLE without columns");
    size_t close = match[open];
    Tokens out{Word("CREATE"), Word("TABLE")};
    if (if_not_exists) AppendWords(out, {"IF", "NOT", "EXISTS"});
    Append(out, tr.Expr(2, open));
    out.push_back(LParen());
    std::vector<std::string> columns;
    std::string identity_column;
    bool first = true;
    for (auto [b, e] : SplitTop(t, match, open + 1, close)) {
      if (!first) out.push_back(Comma());
      first = false;
      const bool table_constraint = IsWord(t[b], "constraint") || IsWord(t[b], "primary") ||
                                    IsWord(t[b], "unique") || IsWord(t[b], "foreign") ||
                                    IsWord(t[b], "check") || IsWord(t[b], "index");
      bool identity = false;
      for (size_t i = b; i < e; ++i) {
        if (IsWord(t[i], "identity")) identity = true;
      }
      Tokens element;
      size_t i = b;
      const char* collation = nullptr;
      if (!table_constraint && b + 1 < e && IsName(t[b + 1])) {
        const std::string type = Lower(NameOf(t[b + 1]));
        if (type == "uniqueidentifier") {
          collation = "UNIQUEIDENTIFIER";
        } else if (TypeOfSqlType(t[b + 1]) == Type::kText) {
          collation = "NOCASE";
        }
        for (size_t k = b; k < e && collation != nullptr; ++k) {
          if (IsWord(t[k], "collate")) collation = nullptr;
        }
      }
      if (!table_constraint) {
        columns.push_back(NameOf(t[b]));
        element.push_back(t[b]);
        i = b + 1;
        if (identity) {
          identity_column = NameOf(t[b]);
          AppendWords(element, {"INTEGER", "PRIMARY", "KEY", "AUTOINCREMENT"});
          if (i < e && IsName(t[i]) && !IsKeyword(t[i])) ++i;  // the declared type
          if (i < e && t[i].kind == TokenKind::kLParen) i = match[i] + 1;
        }
      }
      for (; i < e; ++i) {
        const Token& tk = t[i];
        if (IsWord(tk, "identity")) {
          if (i + 1 < e && t[i + 1].kind == TokenKind::kLParen) i = match[i + 1];
        } else if (IsWord(tk, "clustered") || IsWord(tk, "nonclustered") ||
                   IsWord(tk, "rowguidcol")) {
        } else if (identity && (IsWord(tk, "primary") || IsWord(tk, "key"))) {
        } else if (IsWord(tk, "not") && i + 2 < e && IsWord(t[i + 1], "for") &&
                   IsWord(t[i + 2], "replication")) {
          i += 2;
        } else if (IsWord(tk, "collate") && i + 1 < e) {
          Append(element, tr.Expr(i, i + 2));
          ++i;
        } else if (IsWord(tk, "default") && i + 1 < e) {
          element.push_back(Word("DEFAULT"));
          size_t vb = i + 1;
          size_t ve = vb + 1;
          if (t[vb].kind == TokenKind::kLParen) {
            ve = match[vb] + 1;
            Append(element, tr.Expr(vb, ve));
          } else if (IsName(t[vb]) && vb + 1 < e && t[vb + 1].kind == TokenKind::kLParen) {
            ve = match[vb + 1] + 1;
            Append(element, Parenthesized(tr.Expr(vb, ve)));
          } else if (t[vb].kind == TokenKind::kOperator && vb + 1 < e) {
            ve = vb + 2;
            Append(element, tr.Slice(vb, ve));
          } else {
            Append(element, tr.Expr(vb, ve));
          }
          i = ve - 1;
        } else if (tk.kind == TokenKind::kLParen) {
          Append(element, tr.Expr(i, match[i] + 1));
          i = match[i];
        } else if (IsWord(tk, "on") && i + 1 < e && IsName(t[i + 1]) &&
                   EqualsIgnoreCase(NameOf(t[i + 1]), "primary")) {
          ++i;  // a constraint's filegroup
        } else {
          element.push_back(tk);
        }
      }
      if (collation != nullptr) AppendWords(element, {"COLLATE", collation});
      Append(out, element);
    }
    out.push_back(RParen());
    if (!identity_column.empty()) {
      std::vector<std::string> insert_columns;
      for (const std::string& c : columns) {
        if (!EqualsIgnoreCase(c, identity_column)) insert_columns.push_back(c);
      }
      IdentityTables::Instance().Add(NameOf(t[open - 1]), std::move(insert_columns));
    }
    return out;
  }

  void Create(Translator& tr) {
    const Tokens& t = tr.tokens();
    const size_t n = t.size();
    size_t i = 1;
    if (i < n && IsWord(t[i], "table")) {
      Add(Emit(CreateTable(tr, false)));
      return;
    }
    if (i < n && IsWord(t[i], "view")) {
      size_t as = FindTop(t, tr.match(), 2, n, "as");
      if (as == kNone) Fail("CREATE VIEW without AS");
      Tokens out{Word("CREATE"), Word("VIEW")};
      Append(out, tr.Expr(2, as));
      out.push_back(Word("AS"));
      Append(out, tr.Query(as + 1, n));
      Add(Emit(out));
      return;
    }
    Tokens out{Word("CREATE")};
    if (i < n && IsWord(t[i], "unique")) {
      out.push_back(Word("UNIQUE"));
      ++i;
    }
    if (i < n && (IsWord(t[i], "clustered") || IsWord(t[i], "nonclustered"))) ++i;
    if (i < n && IsWord(t[i], "index")) {
      // CREATE INDEX ix ON [schema.]t (cols): SQLite puts the schema on the index name.
      size_t on = FindTop(t, tr.match(), i + 1, n, "on");
      if (on == kNone || on + 1 >= n) Fail("CREATE INDEX without ON");
      size_t table_end = NameChainEnd(t, on + 1, n);
      if (table_end >= n || t[table_end].kind != TokenKind::kLParen) {
        Fail("CREATE INDEX without columns");
      }
      out.push_back(Word("INDEX"));
      if (table_end - on - 1 == 3) {
        out.push_back(t[on + 1]);
        out.push_back(Dot());
      }
      Append(out, tr.Expr(i + 1, on));
      out.push_back(Word("ON"));
      out.push_back(t[table_end - 1]);
      Append(out, tr.Expr(table_end, tr.match()[table_end] + 1));
      Add(Emit(out));
      return;
    }
    Add(Emit(tr.Expr(0, n)));
  }

  void Drop(Translator& tr) {
    const Tokens& t = tr.tokens();
    if (t.size() >= 3 && (IsWord(t[1], "table") || IsWord(t[1], "view"))) {
      size_t from = 2;
      bool if_exists = t.size() > 4 && IsWord(t[2], "if") && IsWord(t[3], "exists");
      if (if_exists) from = 4;
      for (auto [b, e] : SplitTop(t, tr.match(), from, t.size())) {
        Tokens out{Word("DROP"), Word(IsWord(t[1], "view") ? "VIEW" : "TABLE")};
        if (if_exists) AppendWords(out, {"IF", "EXISTS"});
        Append(out, tr.Expr(b, e));
        Add(Emit(out));
      }
      return;
    }
    if (t.size() >= 5 && IsWord(t[1], "index") && t[3].kind == TokenKind::kDot) {
      Add(Emit({Word("DROP"), Word("INDEX"), t[4]}));  // DROP INDEX table.index
      return;
    }
    Add(Emit(tr.Expr(0, t.size())));
  }

  std::unordered_map<std::string, Tokens> vars_;
  StatementList out_;
};

// ---------------------------------------------------------------------------------------------
// The cache: sharded so that concurrent requests rarely meet on one mutex; each shard is
// emptied when it grows past its bound (statement texts repeat, so it refills quickly).

class TranslationCache {
 public:
  std::shared_ptr<const StatementList> Get(std::string_view sql) {
    Shard& shard = shards_[std::hash<std::string_view>{}(sql) % kShards];
    {
      std::lock_guard lock(shard.mutex);
      auto it = shard.entries.find(std::string(sql));
      if (it != shard.entries.end()) return it->second;
    }
    auto translated = std::make_shared<const StatementList>(TranslateSqlUncached(sql));
    std::lock_guard lock(shard.mutex);
    if (shard.entries.size() >= kEntriesPerShard) shard.entries.clear();
    shard.entries.emplace(std::string(sql), translated);
    return translated;
  }

 private:
  static constexpr size_t kShards = 16;
  static constexpr size_t kEntriesPerShard = 1024;
  struct Shard {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const StatementList>> entries;
  };
  std::array<Shard, kShards> shards_;
};

}  // namespace

StatementList TranslateSqlUncached(std::string_view sql) {
  Tokens tokens = StripNamePrefixes(sql::Tokenize(sql));
  std::vector<Statement> statements = BatchParser(tokens).Parse();
  return BatchTranslator().Run(statements);
}

std::shared_ptr<const StatementList> TranslateSql(std::string_view sql) {
  static TranslationCache cache;
  // Batches that differ only in their values share one translation.
  std::optional<LiftedBatch> lifted = LiftValues(sql);
  if (!lifted) return cache.Get(sql);
  std::shared_ptr<const StatementList> shape = cache.Get(lifted->text);
  if (std::optional<StatementList> statements = PutValuesBack(*shape, lifted->values)) {
    return std::make_shared<const StatementList>(std::move(*statements));
  }
  return std::make_shared<const StatementList>(TranslateSqlUncached(sql));
}

}  // namespace rembiz::db
