// The rewrites every engine needs: names without their owner and database prefixes, nested
// joins parenthesized, "+" typed, and the expressions, queries and definitions of a statement.
// What an engine spells its own way is asked of the Emitter (front_end.h).
#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "db/error.h"
#include "db/sql/front_end.h"

namespace rembiz::db::sql {

void Fail(const std::string& what) {
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

Token QuotedName(std::string_view name) {
  std::string text = "\"";
  for (char c : name) {
    text += c;
    if (c == '"') text += '"';
  }
  text += '"';
  return MakeToken(TokenKind::kQuotedName, std::move(text));
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

namespace {

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
    // LIKE compares text the engine's own way: its left side is marked for the emitter.
    for (size_t k = 1; k < items.size(); ++k) {
      if (items[k].chain || !IsWord(items[k].out[0], "like")) continue;
      size_t left = k - 1;
      if (!items[left].chain && IsWord(items[left].out[0], "not") && left > 0) --left;
      if (!items[left].chain) continue;
      Tokens marked{Word("like_operand"), LParen()};
      Append(marked, items[left].out);
      marked.push_back(RParen());
      items[left].out = std::move(marked);
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

}  // namespace

Tokens RewritePlus(const Tokens& in) { return PlusRewriter(in).Run(); }

// ---------------------------------------------------------------------------------------------
// Step 4: constructs.

namespace {

bool IsHintWord(const Token& t) {
  static const std::unordered_set<std::string> kHints = {
      "nolock",   "readuncommitted", "readcommitted",  "rowlock", "updlock",
      "holdlock", "tablock",         "tablockx",       "paglock", "xlock",
      "readpast", "serializable",    "repeatableread", "nowait",  "noexpand"};
  return t.kind == TokenKind::kWord && kHints.count(Lower(t.text)) > 0;
}

bool EndsOperand(const Token& t) {
  return (IsName(t) && !IsKeyword(t)) || IsWord(t, "end") || t.kind == TokenKind::kNumber ||
         t.kind == TokenKind::kString || t.kind == TokenKind::kBlob || t.kind == TokenKind::kRParen;
}

// The relation a name chain stands for, as the translated statement names it ("tempdb.x").
std::string RelationText(const Tokens& t, size_t b, size_t e) {
  std::string out;
  for (size_t i = b; i < e; ++i) out += t[i].kind == TokenKind::kDot ? "." : NameOf(t[i]);
  return out;
}

}  // namespace

Translator::Translator(const Tokens& t, const Emitter& emitter)
    : t_(t), match_(MatchPairs(t)), emitter_(emitter) {}

bool Translator::IsHintGroup(size_t open) const {
  size_t close = match_[open];
  if (close == kNone || close == open + 1) return false;
  for (size_t i = open + 1; i < close; ++i) {
    if (!IsHintWord(t_[i]) && t_[i].kind != TokenKind::kComma) return false;
  }
  return true;
}

bool Translator::StartsQuery(size_t b, size_t e) const {
  while (b < e && t_[b].kind == TokenKind::kLParen) ++b;
  return b < e && IsWord(t_[b], "select");
}

Tokens Translator::Expr(size_t b, size_t e) {
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
        Append(out, emitter_.Function("getdate", Word("getdate"), {}));
        ++i;
        continue;
      }
      if (IsWord(tk, "collate") && i + 1 < e) {
        out.push_back(Word("COLLATE"));
        out.push_back(emitter_.Collation(NameOf(t_[i + 1])));
        i += 2;
        continue;
      }
      if (IsWord(tk, "like")) {
        out.push_back(Word(emitter_.LikeKeyword()));
        ++i;
        continue;
      }
      out.push_back(tk);
      ++i;
      continue;
    }
    if (tk.kind == TokenKind::kVariable) {
      std::string name = Lower(tk.text);
      if (name == "@@rowcount") {
        Token count = Number("0");
        count.param = kRowCountParam;
        out.push_back(std::move(count));
      } else if (name == "@@identity") {
        Append(out, emitter_.LastIdentity());
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

Tokens Translator::Query(size_t b, size_t e, Tokens* into, bool name_columns) {
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
      out.push_back(Word("rembiz_member" + std::to_string(k)));
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
      out.push_back(Word("rembiz_member" + std::to_string(k)));
    }
  }
  if (order != kNone) Append(out, Expr(order, e));
  return out;
}

std::vector<Translator::Ref> Translator::ParseFrom(size_t b, size_t e) const {
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
      while (i < e && JoinLength(t_, i) == 0 && t_[i].kind != TokenKind::kComma) {
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
    size_t len = JoinLength(t_, i);
    if (len == 0) Fail("unexpected '" + t_[i].text + "' in FROM clause");
    join = IsWord(t_[i], "join") ? "inner" : Lower(t_[i].text);
    if (join == "outer" || IsWord(t_[i + len - 1], "apply")) Fail("APPLY is not supported");
    i += len;
  }
  return refs;
}

Tokens Translator::Slice(size_t b, size_t e) const {
  return Tokens(t_.begin() + static_cast<ptrdiff_t>(b), t_.begin() + static_cast<ptrdiff_t>(e));
}

Translator::Core Translator::SelectCore(size_t b, size_t e, Tokens* into, bool name_columns) {
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

size_t Translator::SelectListEnd(size_t b, size_t e) const {
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
// The server's own alias forms become the standard one: "name = expr" and "expr [AS] 'name'" are
// "expr AS [name]".
Tokens Translator::SelectList(size_t b, size_t e, Naming naming) {
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
    Append(out, emitter_.UnnamedColumnAlias());
  }
  return out;
}

// A column reference, a star, or an expression with an alias.
bool Translator::IsNamedItem(size_t b, size_t e) const {
  if (b >= e) return true;  // an empty item ("select ,"): nothing to name, the engine refuses it
  if (IsOp(t_[e - 1], "*")) return true;
  if (NameChainEnd(t_, b, e) == e) return !IsWord(t_[b], "current_timestamp");
  return e - b >= 2 && IsName(t_[e - 1]) && !IsKeyword(t_[e - 1]) &&
         (IsWord(t_[e - 2], "as") || EndsOperand(t_[e - 2]));
}

ResultShape Translator::ShapeOf(size_t b, size_t e) const {
  ResultShape shape;
  while (b < e && t_[b].kind == TokenKind::kLParen && match_[b] == e - 1) {
    ++b;
    --e;
  }
  // The first member of a compound names its columns.
  for (size_t i = b; i < e; ++i) {
    if (IsWord(t_[i], "union") || IsWord(t_[i], "except") || IsWord(t_[i], "intersect")) {
      e = i;
      break;
    }
    if (match_[i] != kNone) i = match_[i];
  }
  while (b < e && t_[b].kind == TokenKind::kLParen && match_[b] != kNone) {
    return ShapeOf(b + 1, match_[b]);
  }
  if (b >= e || !IsWord(t_[b], "select")) return shape;
  size_t i = b + 1;
  if (i < e && (IsWord(t_[i], "distinct") || IsWord(t_[i], "all"))) ++i;
  if (i < e && IsWord(t_[i], "top")) {
    ++i;
    if (i < e) i = t_[i].kind == TokenKind::kLParen ? match_[i] + 1 : i + 1;
    if (i < e && IsWord(t_[i], "percent")) ++i;
    if (i + 1 < e && IsWord(t_[i], "with") && IsWord(t_[i + 1], "ties")) i += 2;
  }
  size_t list_end = SelectListEnd(i, e);
  size_t from_b = kNone, from_e = e;
  for (size_t k = list_end; k < e; ++k) {
    if (from_b == kNone && IsWord(t_[k], "from")) {
      from_b = k + 1;
    } else if (from_b != kNone && EndsFromClause(t_[k]) && !IsWord(t_[k], "select")) {
      from_e = k;
      break;
    }
    if (match_[k] != kNone) k = match_[k];
  }
  for (auto [ib, ie] : SplitTop(t_, match_, i, list_end)) {
    ResultShape::Item item;
    if (ie > ib && IsOp(t_[ie - 1], "*")) {
      item.star = true;
      std::string qualifier = ie - ib >= 3 ? Lower(NameOf(t_[ie - 3])) : "";
      if (from_b == kNone || !StarSources(from_b, from_e, qualifier, &item.sources)) {
        return ResultShape{};  // not understood: the engine's own names stand
      }
    } else if (ie - ib >= 3 && IsName(t_[ib]) && !IsKeyword(t_[ib]) && IsOp(t_[ib + 1], "=")) {
      item.name = NameOf(t_[ib]);
    } else if (ie - ib >= 2 && t_[ie - 1].kind == TokenKind::kString &&
               (IsWord(t_[ie - 2], "as") || EndsOperand(t_[ie - 2]))) {
      item.name = StringValue(t_[ie - 1].text);
    } else if (ie > ib && IsNamedItem(ib, ie)) {
      item.name = NameOf(t_[ie - 1]);
    }
    shape.items.push_back(std::move(item));
  }
  return shape;
}

bool Translator::StarSources(size_t b, size_t e, const std::string& qualifier,
                             std::vector<ResultShape::Source>* out) const {
  size_t i = b;
  while (i < e) {
    ResultShape::Source source;
    size_t name_b = i, name_e;
    if (t_[i].kind == TokenKind::kLParen) {
      if (match_[i] == kNone || !StartsQuery(i + 1, match_[i])) return false;
      source.derived = std::make_shared<const ResultShape>(ShapeOf(i + 1, match_[i]));
      i = match_[i] + 1;
      name_e = i;
    } else {
      size_t end = NameChainEnd(t_, i, e);
      if (end == i) return false;
      source.relation = RelationText(t_, i, end);
      i = end;
      name_e = end;
    }
    std::string alias = source.relation.empty() ? "" : Lower(NameOf(t_[name_e - 1]));
    if (i < e && IsWord(t_[i], "as")) ++i;
    if (i < e && IsName(t_[i]) && !IsKeyword(t_[i])) alias = Lower(NameOf(t_[i++]));
    if (i + 1 < e && IsWord(t_[i], "with") && t_[i + 1].kind == TokenKind::kLParen) {
      i = match_[i + 1] + 1;
    } else if (i < e && t_[i].kind == TokenKind::kLParen && IsHintGroup(i)) {
      i = match_[i] + 1;
    }
    if (qualifier.empty() || qualifier == alias) out->push_back(std::move(source));
    (void)name_b;
    // Up to the next source: past an ON clause, a comma or a join.
    while (i < e && t_[i].kind != TokenKind::kComma && JoinLength(t_, i) == 0) {
      if (match_[i] != kNone) i = match_[i];
      ++i;
    }
    if (i >= e) break;
    i += t_[i].kind == TokenKind::kComma ? 1 : JoinLength(t_, i);
  }
  return !out->empty();
}

// [schema.]sysobjects in a FROM/JOIN position: the end of the reference, or kNone.
size_t Translator::CatalogEnd(size_t i, size_t e) const {
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
Tokens Translator::CatalogTable(size_t b, size_t end, size_t e, const Tokens& before) const {
  const bool in_from =
      !before.empty() && (IsWord(before.back(), "from") || IsWord(before.back(), "join") ||
                          before.back().kind == TokenKind::kComma);
  if (!in_from) return Slice(b, end);
  std::string schema = end - b == 3 ? Lower(t_[b].text) : "main";
  const bool has_alias =
      end < e && (IsWord(t_[end], "as") || (IsName(t_[end]) && !IsKeyword(t_[end])));
  return emitter_.Catalog(schema, has_alias ? "" : "sysobjects");
}

Tokens Translator::Call(size_t name_index, size_t open, size_t close) {
  const Token& name_token = t_[name_index];
  const std::string name = Lower(NameOf(name_token));
  auto ranges = SplitTop(t_, match_, open + 1, close);
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
    if (ranges.size() < 2 || ranges.size() > 3) Fail("CONVERT needs a type and a value");
    Tokens style;
    if (ranges.size() == 3) style = Expr(ranges[2].first, ranges[2].second);
    return Conversion(ranges[0].first, ranges[0].second, ranges[1].first, ranges[1].second,
                      ranges.size() == 3 ? &style : nullptr);
  }
  if (name == "identity") {  // SELECT ... INTO with a numbering column
    auto number = [&](size_t k) {
      return ranges.size() > k && ranges[k].second == ranges[k].first + 1 &&
                     t_[ranges[k].first].kind == TokenKind::kNumber
                 ? t_[ranges[k].first].text
                 : std::string("1");
    };
    return Tokenize("((ROW_NUMBER() OVER () - 1) * (" + number(2) + ") + (" + number(1) + "))");
  }
  std::vector<Tokens> args;
  const bool date_part = name == "datediff" || name == "dateadd" || name == "datepart" ||
                         name == "datename" || name == "datediff_big";
  for (size_t k = 0; k < ranges.size(); ++k) {
    auto [pb, pe] = ranges[k];
    if (k == 0 && date_part && pe == pb + 1 && IsName(t_[pb])) {
      args.push_back({Str(Lower(NameOf(t_[pb])))});  // the date part, as a text
    } else {
      args.push_back(Expr(pb, pe));
    }
  }
  if (date_part && args.empty()) Fail(name + " without arguments");
  return emitter_.Function(name == "datediff_big" ? "datediff" : name, name_token, std::move(args));
}

// Scale of an expression that is itself a conversion to decimal(p,s) or money, so that its
// text keeps that many decimals ("12.50") as in SQL Server.
std::optional<int> Translator::DecimalScale(size_t b, size_t e) const {
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

SqlType Translator::ParseType(size_t b, size_t e) const {
  if (b >= e || !IsName(t_[b])) Fail("a type is missing");
  SqlType type;
  type.base = Lower(NameOf(t_[b]));
  if (b + 1 < e && t_[b + 1].kind == TokenKind::kLParen && match_[b + 1] != kNone) {
    for (auto [pb, pe] : SplitTop(t_, match_, b + 2, match_[b + 1])) {
      if (pe > pb) type.params.push_back(Lower(t_[pb].text));
    }
  }
  return type;
}

// CAST/CONVERT: the emitter knows the engine's types; texts of decimal conversions keep their
// scale.
Tokens Translator::Conversion(size_t type_b, size_t type_e, size_t expr_b, size_t expr_e,
                              const Tokens* style) {
  SqlType type = ParseType(type_b, type_e);
  if (TypeOfSqlType(t_[type_b]) == Type::kUnknown && type.base != "xml" &&
      type.base != "sql_variant") {
    Fail("unknown type '" + type.base + "' in a conversion");
  }
  std::optional<int> scale;
  if (TypeOfSqlType(t_[type_b]) == Type::kText) scale = DecimalScale(expr_b, expr_e);
  return emitter_.Conversion(type, Expr(expr_b, expr_e), style, scale);
}

// CREATE TABLE name (columns and constraints): the definition the emitters write. Storage
// clauses (ON [PRIMARY], CLUSTERED, NOT FOR REPLICATION) mean nothing here.
TableDefinition Translator::ParseTable(bool if_not_exists) {
  TableDefinition table;
  table.if_not_exists = if_not_exists;
  size_t open = 2;
  while (open < t_.size() && t_[open].kind != TokenKind::kLParen) ++open;
  if (open >= t_.size() || open == 2) Fail("CREATE TABLE without columns");
  if (open - 2 == 3 && t_[3].kind == TokenKind::kDot) {
    table.schema = Lower(NameOf(t_[2]));
  } else if (open - 2 != 1) {
    Fail("CREATE TABLE of an unexpected name");
  }
  table.name = NameOf(t_[open - 1]);
  size_t close = match_[open];
  for (auto [b, e] : SplitTop(t_, match_, open + 1, close)) {
    if (b >= e) continue;
    // A table constraint: [CONSTRAINT name] PRIMARY KEY / UNIQUE / FOREIGN KEY / CHECK.
    size_t i = b;
    std::string constraint;
    if (IsWord(t_[i], "constraint") && i + 1 < e) {
      constraint = NameOf(t_[i + 1]);
      i += 2;
    }
    auto column_list = [&](size_t at) {
      std::vector<std::string> names;
      if (at >= e || t_[at].kind != TokenKind::kLParen) Fail("a key without columns");
      for (auto [cb, ce] : SplitTop(t_, match_, at + 1, match_[at])) {
        if (ce > cb) names.push_back(NameOf(t_[cb]));  // ASC/DESC ignored
      }
      return names;
    };
    auto skip_clustered = [&](size_t at) {
      while (at < e && (IsWord(t_[at], "clustered") || IsWord(t_[at], "nonclustered"))) ++at;
      return at;
    };
    if (i < e && (IsWord(t_[i], "primary") || IsWord(t_[i], "unique"))) {
      KeyDefinition key;
      key.name = constraint;
      key.primary = IsWord(t_[i], "primary");
      i = skip_clustered(key.primary ? i + 2 : i + 1);
      key.columns = column_list(i);
      if (key.name.empty()) key.name = (key.primary ? "PK_" : "IX_") + table.name;
      table.keys.push_back(std::move(key));
      continue;
    }
    if (i < e && IsWord(t_[i], "foreign")) {
      ForeignKeyDefinition fk;
      fk.name = constraint;
      fk.columns = column_list(i + 2);
      i = match_[i + 2] + 1;
      if (i >= e || !IsWord(t_[i], "references")) Fail("FOREIGN KEY without REFERENCES");
      size_t parent_end = NameChainEnd(t_, i + 1, e);
      fk.parent = NameOf(t_[parent_end - 1]);
      fk.parent_columns = column_list(parent_end);
      for (size_t k = match_[parent_end] + 1; k + 2 < e; ++k) {
        if (IsWord(t_[k], "on") && IsWord(t_[k + 1], "delete") && IsWord(t_[k + 2], "cascade")) {
          fk.cascade_delete = true;
        }
      }
      table.foreign_keys.push_back(std::move(fk));
      continue;
    }
    if (i < e && IsWord(t_[i], "check")) {
      if (i + 1 >= e || t_[i + 1].kind != TokenKind::kLParen) Fail("CHECK without a condition");
      table.checks.push_back(Expr(i + 2, match_[i + 1]));
      continue;
    }
    // A column: name type [IDENTITY(s, i)] [NULL | NOT NULL] [DEFAULT x] [COLLATE c]
    // [PRIMARY KEY | UNIQUE] [CONSTRAINT name DEFAULT x] ...
    ColumnDefinition column;
    column.name = NameOf(t_[b]);
    i = b + 1;
    if (i >= e || !IsName(t_[i])) Fail("column " + column.name + " without a type");
    size_t type_end = i + 1;
    if (type_end < e && t_[type_end].kind == TokenKind::kLParen) type_end = match_[type_end] + 1;
    column.type = ParseType(i, type_end);
    column.rowversion = column.type.base == "timestamp" || column.type.base == "rowversion";
    if (column.rowversion) column.nullable = false;
    for (i = type_end; i < e; ++i) {
      const Token& tk = t_[i];
      if (IsWord(tk, "identity")) {
        column.identity = true;
        column.nullable = false;
        if (i + 1 < e && t_[i + 1].kind == TokenKind::kLParen) i = match_[i + 1];
      } else if (IsWord(tk, "not") && i + 1 < e && IsWord(t_[i + 1], "null")) {
        column.nullable = false;
        ++i;
      } else if (IsWord(tk, "not") && i + 2 < e && IsWord(t_[i + 1], "for")) {
        i += 2;  // NOT FOR REPLICATION
      } else if (IsWord(tk, "null")) {
        column.nullable = true;
      } else if (IsWord(tk, "collate") && i + 1 < e) {
        column.collation = NameOf(t_[++i]);
      } else if (IsWord(tk, "constraint") && i + 1 < e) {
        ++i;  // a named column constraint (a default): the name is the server's own business
      } else if (IsWord(tk, "default") && i + 1 < e) {
        size_t vb = i + 1;
        size_t ve = vb + 1;
        if (t_[vb].kind == TokenKind::kLParen) {
          ve = match_[vb] + 1;
        } else if (IsName(t_[vb]) && vb + 1 < e && t_[vb + 1].kind == TokenKind::kLParen) {
          ve = match_[vb + 1] + 1;
        } else if (t_[vb].kind == TokenKind::kOperator && vb + 1 < e) {
          ve = vb + 2;
        }
        column.default_value = Expr(vb, ve);
        i = ve - 1;
      } else if (IsWord(tk, "primary") || IsWord(tk, "unique")) {
        KeyDefinition key;
        key.primary = IsWord(tk, "primary");
        key.name = (key.primary ? "PK_" : "IX_") + table.name;
        key.columns = {column.name};
        if (key.primary) {
          column.nullable = false;
          ++i;  // KEY
        }
        table.keys.push_back(std::move(key));
      } else if (IsWord(tk, "check") && i + 1 < e && t_[i + 1].kind == TokenKind::kLParen) {
        table.checks.push_back(Expr(i + 2, match_[i + 1]));
        i = match_[i + 1];
      } else if (IsWord(tk, "clustered") || IsWord(tk, "nonclustered") ||
                 IsWord(tk, "rowguidcol") || IsWord(tk, "key")) {
      } else if (IsWord(tk, "on") && i + 1 < e) {
        ++i;  // a filegroup
      } else {
        Fail("unexpected '" + tk.text + "' in the definition of column " + column.name);
      }
    }
    table.columns.push_back(std::move(column));
  }
  return table;
}

// ---------------------------------------------------------------------------------------------

std::string SqlType::Text() const {
  std::string out = base;
  if (!params.empty()) {
    out += "(";
    for (size_t k = 0; k < params.size(); ++k) out += (k ? "," : "") + params[k];
    out += ")";
  }
  return out;
}

const ColumnDefinition* TableDefinition::Column(std::string_view column) const {
  for (const ColumnDefinition& c : columns) {
    if (EqualsIgnoreCase(c.name, column)) return &c;
  }
  return nullptr;
}

}  // namespace rembiz::db::sql
