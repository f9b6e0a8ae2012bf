// "+" typed. SQL Server decides by the operands' types, pairwise from the left: two texts
// concatenate, a number on either side adds numerically, a date plus a number adds days. Here
// the types are read off the tokens: literals, CAST/CONVERT targets, functions with a known
// result type, CASE branches, subqueries' first columns. Text "+" becomes "||"; numeric "+"
// stays; date arithmetic becomes DATEADD(day, ...); when neither side's type can be known (two
// column references), rembiz_plus() decides at run time exactly as SQL Server does by type.
// The same typing repairs comparisons of a text expression with a number (SQL Server converts
// the text; SQLite would compare them as unequal types), also in simple CASE.
#include <unordered_set>
#include <utility>

#include "db/sql/front_end.h"

namespace rembiz::db::sql {

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
      case TokenKind::kOperator:
      case TokenKind::kRParen:
      case TokenKind::kComma:
      case TokenKind::kDot:
      case TokenKind::kSemicolon:
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
      case TokenKind::kWord:
      case TokenKind::kQuotedName:
      case TokenKind::kBlob:
      case TokenKind::kOperator:
      case TokenKind::kRParen:
      case TokenKind::kComma:
      case TokenKind::kDot:
      case TokenKind::kSemicolon:
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

}  // namespace rembiz::db::sql
