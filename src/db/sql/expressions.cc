// The rewrites of one statement every engine needs: its expressions, function calls and
// conversions, queries (TOP, SELECT ... INTO, the names of result columns) and FROM clauses.
// What an engine spells its own way is asked of the Emitter (emitter.h).
#include <array>
#include <optional>
#include <unordered_set>
#include <utility>

#include "db/error.h"
#include "db/sql/front_end.h"

namespace rembiz::db::sql {

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

StatementRewriter::StatementRewriter(const Tokens& t, const Emitter& emitter)
    : t_(t), match_(MatchPairs(t)), emitter_(emitter) {}

bool StatementRewriter::IsHintGroup(size_t open) const {
  size_t close = match_[open];
  if (close == kNone || close == open + 1) return false;
  for (size_t i = open + 1; i < close; ++i) {
    if (!IsHintWord(t_[i]) && t_[i].kind != TokenKind::kComma) return false;
  }
  return true;
}

bool StatementRewriter::StartsQuery(size_t b, size_t e) const {
  while (b < e && t_[b].kind == TokenKind::kLParen) ++b;
  return b < e && IsWord(t_[b], "select");
}

Tokens StatementRewriter::Expr(size_t b, size_t e) {
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

Tokens StatementRewriter::Query(size_t b, size_t e, Tokens* into, bool name_columns) {
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

std::vector<StatementRewriter::Ref> StatementRewriter::ParseFrom(size_t b, size_t e) const {
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

Tokens StatementRewriter::Slice(size_t b, size_t e) const {
  return Tokens(t_.begin() + static_cast<ptrdiff_t>(b), t_.begin() + static_cast<ptrdiff_t>(e));
}

StatementRewriter::Core StatementRewriter::SelectCore(size_t b, size_t e, Tokens* into,
                                                      bool name_columns) {
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
    Append(core.body, SelectList(i, list_end, name_columns ? Naming::kResult : Naming::kAsWritten));
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

size_t StatementRewriter::SelectListEnd(size_t b, size_t e) const {
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

// How the columns of a select list are named: kAsWritten as written (a subquery, an INSERT's
// source); kResult as the server names the columns it returns, where a column that is neither
// a column reference nor aliased has no name ("" here, as ADO shows it), never the text of its
// translation; kTable as the columns of a table made by SELECT INTO, which all need a name.
// The server's own alias forms become the standard one: "name = expr" and "expr [AS] 'name'" are
// "expr AS [name]".
Tokens StatementRewriter::SelectList(size_t b, size_t e, Naming naming) {
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
    if (naming == Naming::kAsWritten || IsNamedItem(ib, ie)) continue;
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
bool StatementRewriter::IsNamedItem(size_t b, size_t e) const {
  if (b >= e) return true;  // an empty item ("select ,"): nothing to name, the engine refuses it
  if (IsOp(t_[e - 1], "*")) return true;
  if (NameChainEnd(t_, b, e) == e) return !IsWord(t_[b], "current_timestamp");
  return e - b >= 2 && IsName(t_[e - 1]) && !IsKeyword(t_[e - 1]) &&
         (IsWord(t_[e - 2], "as") || EndsOperand(t_[e - 2]));
}

ResultShape StatementRewriter::ShapeOf(size_t b, size_t e) const {
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

bool StatementRewriter::StarSources(size_t b, size_t e, const std::string& qualifier,
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
size_t StatementRewriter::CatalogEnd(size_t i, size_t e) const {
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
Tokens StatementRewriter::CatalogTable(size_t b, size_t end, size_t e, const Tokens& before) const {
  const bool in_from =
      !before.empty() && (IsWord(before.back(), "from") || IsWord(before.back(), "join") ||
                          before.back().kind == TokenKind::kComma);
  if (!in_from) return Slice(b, end);
  std::string schema = end - b == 3 ? Lower(t_[b].text) : "main";
  const bool has_alias =
      end < e && (IsWord(t_[end], "as") || (IsName(t_[end]) && !IsKeyword(t_[end])));
  return emitter_.Catalog(schema, has_alias ? "" : "sysobjects");
}

Tokens StatementRewriter::Call(size_t name_index, size_t open, size_t close) {
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
std::optional<int> StatementRewriter::DecimalScale(size_t b, size_t e) const {
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

SqlType StatementRewriter::ParseType(size_t b, size_t e) const {
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
Tokens StatementRewriter::Conversion(size_t type_b, size_t type_e, size_t expr_b, size_t expr_e,
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

}  // namespace rembiz::db::sql
