// The statement model of a batch: where its statements begin and end, IF/ELSE and BEGIN/END
// blocks, variables, and what each statement becomes (SELECT, INSERT, UPDATE ... FROM, DELETE,
// SELECT ... INTO, definitions). The emitter writes each resulting statement.
#include <array>
#include <unordered_map>
#include <utility>

#include "db/error.h"
#include "db/sql/front_end.h"

namespace rembiz::db::sql {
namespace {

// ---------------------------------------------------------------------------------------------
// Statements. A batch holds statements separated by ";" or by line breaks; a line
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

// Builds the steps of a batch from its statements: each one rewritten (StatementRewriter) and
// written by the emitter.
class StepBuilder {
 public:
  explicit StepBuilder(const Emitter& emitter) : emitter_(emitter) {}

  bool value_dependent() const { return value_dependent_; }

  StatementList Run(const std::vector<Statement>& statements) {
    for (const Statement& s : statements) Build(s, {});
    if (!foreign_keys_.empty()) {
      for (const Tokens& statement : emitter_.ForeignKeys(foreign_keys_)) Add(statement);
    }
    for (BatchStep& step : out_) {
      if (step.kind == BatchStep::Kind::kJump && step.next == kNone) step.next = out_.size();
    }
    return std::move(out_);
  }

 private:
  // A step of `tokens`; its literals become placeholders where the engine lets the statement
  // bind values.
  BatchStep& Add(const Tokens& tokens, BatchStep::Kind kind = BatchStep::Kind::kStatement) {
    BatchStep step;
    step.kind = kind;
    const bool bind = emitter_.TakesParameters(tokens);
    step.sql = emitter_.Render(tokens, &step.params, !bind);
    if (!bind) value_dependent_ = value_dependent_ || HasParams(tokens);
    out_.push_back(std::move(step));
    return out_.back();
  }

  static bool HasParams(const Tokens& tokens) {
    for (const Token& t : tokens) {
      if (t.param >= 0) return true;
    }
    return false;
  }

  // `guard` is the condition under which the statement runs (the IFs around it), for the
  // variables it sets.
  void Build(const Statement& s, const Tokens& guard) {
    switch (s.kind) {
      case Statement::Kind::kBlock:
        for (const Statement& child : s.children) Build(child, guard);
        return;
      case Statement::Kind::kSimple:
        BuildSimple(s.tokens, guard);
        return;
      case Statement::Kind::kIf:
        break;
    }
    Tokens condition = Substitute(s.tokens);
    if (BuildCatalogIf(s, condition)) return;
    const size_t test = out_.size();
    Tokens query{Word("SELECT"), Number("1"), Word("WHERE")};
    Append(query, RewriteCondition(condition));
    Add(query, BatchStep::Kind::kCondition);
    Build(s.children[0], AndTokens(guard, Parenthesized(condition)));
    if (s.children.size() > 1) {
      const size_t jump = out_.size();
      out_.push_back(BatchStep{});
      out_.back().kind = BatchStep::Kind::kJump;
      out_[test].next = out_.size();
      Tokens negated{Word("NOT"), Word("coalesce"), LParen()};
      Append(negated, Parenthesized(condition));
      negated.push_back(Comma());
      negated.push_back(emitter_.FalseValue());
      negated.push_back(RParen());
      Build(s.children[1], AndTokens(guard, negated));
      out_[jump].next = out_.size();
    } else {
      out_[test].next = out_.size();
    }
  }

  bool BuildCatalogIf(const Statement& s, const Tokens& condition) {
    if (s.children.size() != 1 || !MentionsCatalog(condition)) return false;
    const Statement& body = s.children[0];
    if (body.kind != Statement::Kind::kSimple || body.tokens.size() < 3) return false;
    const Tokens& b = body.tokens;
    if (IsWord(b[0], "drop") && (IsWord(b[1], "table") || IsWord(b[1], "view"))) {
      for (const Tokens& name : SplitNames(b, 2)) {
        Tokens out{Word("DROP"), Word(IsWord(b[1], "view") ? "VIEW" : "TABLE"), Word("IF"),
                   Word("EXISTS")};
        Append(out, name);
        Add(out);
      }
      return true;
    }
    if (IsWord(b[0], "create") && IsWord(b[1], "table") && !condition.empty() &&
        IsWord(condition[0], "not")) {
      const Tokens rewritten = RewritePlus(b);  // the rewriter keeps a reference
      StatementRewriter sr(rewritten, emitter_);
      for (const Tokens& statement : emitter_.CreateTable(sr.ParseTable(true))) Add(statement);
      return true;
    }
    return false;
  }

  std::vector<Tokens> SplitNames(const Tokens& t, size_t from) {
    std::vector<Tokens> names;
    StatementRewriter sr(t, emitter_);
    for (auto [b, e] : SplitTop(t, sr.match(), from, t.size())) names.push_back(sr.Expr(b, e));
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

  // An IF's condition in the engine's dialect.
  Tokens RewriteCondition(const Tokens& condition) const {
    Tokens rewritten = RewritePlus(ParenthesizeNestedJoins(condition));
    StatementRewriter sr(rewritten, emitter_);
    return sr.Expr(0, sr.size());
  }

  void Bind(const std::string& name, const Tokens& value, const Tokens& guard) {
    std::string key = Lower(name);
    Tokens bound = Parenthesized(value);
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
      bound = Parenthesized(c);
    }
    vars_[key] = std::move(bound);
  }

  Tokens Compound(const std::string& name, const std::string& op, Tokens value) const {
    if (op == "=") return value;
    auto it = vars_.find(Lower(name));
    Tokens out = it != vars_.end() ? it->second : Tokens{Word("NULL")};
    out.push_back(Op(op.substr(0, 1)));
    Append(out, Parenthesized(value));
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
      Bind(t[b].text, value, guard);
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
        value = Parenthesized(q);
      }
      values.emplace_back(t[b].text, Compound(t[b].text, t[b + 1].text, std::move(value)));
    }
    for (auto& [name, value] : values) Bind(name, value, guard);
    return true;
  }

  void BuildSimple(const Tokens& raw, const Tokens& guard) {
    if (raw.empty()) return;
    const Token& first = raw[0];
    if (IsWord(first, "use") || IsWord(first, "print") || IsWord(first, "go")) return;
    if (IsWord(first, "return")) {  // leaves the batch
      out_.push_back(BatchStep{});
      out_.back().kind = BatchStep::Kind::kJump;
      out_.back().next = kNone;
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
      // Every row goes and an IDENTITY column starts over.
      size_t end = NameChainEnd(tokens, 2, tokens.size());
      if (end != tokens.size()) Fail("TRUNCATE TABLE of an unexpected name");
      StatementRewriter sr(tokens, emitter_);
      std::string schema = end - 2 == 3 ? Lower(NameOf(tokens[2])) : "";
      for (const Tokens& statement :
           emitter_.Truncate(sr.Expr(2, end), schema, NameOf(tokens[end - 1]))) {
        Add(statement);
      }
      return;
    }
    if (IsWord(first, "update") && tokens.size() >= 3 && IsWord(tokens[1], "statistics")) {
      StatementRewriter sr(tokens, emitter_);
      Add(emitter_.Analyze(sr.Expr(2, tokens.size())));
      return;
    }
    if (IsWord(first, "update")) tokens = ExpandCompoundAssignments(tokens);
    tokens = RewritePlus(ParenthesizeNestedJoins(tokens));
    StatementRewriter sr(tokens, emitter_);
    const Token& head = tokens[0];
    if (IsWord(head, "select") || head.kind == TokenKind::kLParen) {
      SelectStatement(sr);
    } else if (IsWord(head, "insert")) {
      Insert(sr);
    } else if (IsWord(head, "update")) {
      Update(sr);
    } else if (IsWord(head, "delete")) {
      Delete(sr);
    } else if (IsWord(head, "create")) {
      Create(sr);
    } else if (IsWord(head, "drop")) {
      Drop(sr);
    } else if (IsWord(head, "alter")) {
      Alter(sr);
    } else {
      Add(sr.Expr(0, sr.size()));
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
  void SelectStatement(StatementRewriter& sr) {
    Tokens into;
    Tokens query = sr.Query(0, sr.size(), &into, /*name_columns=*/true);
    auto shape = std::make_shared<const ResultShape>(sr.ShapeOf(0, sr.size()));
    if (into.empty()) {
      Add(query).shape = std::move(shape);
      return;
    }
    Tokens out{Word("CREATE"), Word("TABLE")};
    Append(out, into);
    out.push_back(Word("AS"));
    Append(out, query);
    BatchStep& step = Add(out);
    step.effect = BatchStep::Effect::kCreateFromQuery;
    step.relation = RelationName(into);
    step.shape = std::move(shape);
  }

  // The relation a translated name chain stands for ("tempdb.x").
  static std::string RelationName(const Tokens& name) {
    std::string out;
    for (const Token& t : name) out += t.kind == TokenKind::kDot ? "." : NameOf(t);
    return out;
  }

  void Insert(StatementRewriter& sr) {
    const Tokens& t = sr.tokens();
    const size_t n = t.size();
    size_t i = 1;
    if (i < n && IsWord(t[i], "into")) ++i;
    size_t name_end = NameChainEnd(t, i, n);
    if (name_end == i) Fail("INSERT without a table");
    Tokens target = sr.Expr(i, name_end);
    i = name_end;
    if (i + 1 < n && IsWord(t[i], "with") && t[i + 1].kind == TokenKind::kLParen) {
      i = sr.match()[i + 1] + 1;
    }
    Tokens columns;
    if (i < n && t[i].kind == TokenKind::kLParen && !sr.StartsQuery(i + 1, sr.match()[i])) {
      columns = Parenthesized(sr.Expr(i + 1, sr.match()[i]));
      i = sr.match()[i] + 1;
    }
    Tokens head{Word("INSERT"), Word("INTO")};
    Append(head, target);
    if (!(i < n && sr.StartsQuery(i, n))) {
      Tokens out = std::move(head);
      Append(out, columns);
      if (i < n && IsWord(t[i], "values")) {
        out.push_back(Word("VALUES"));
        Append(out, sr.Expr(i + 1, n));
      } else if (i + 1 < n && IsWord(t[i], "default") && IsWord(t[i + 1], "values")) {
        AppendWords(out, {"DEFAULT", "VALUES"});
      } else {
        Fail("unsupported INSERT form");
      }
      BatchStep& step = Add(out);
      step.targets = InsertTargets(sr, name_end);
      return;
    }
    // From a query: without a column list the server leaves out an IDENTITY column of the
    // target, and it converts what the query gives to the columns' types; which columns and
    // types those are, the engine knows when the statement runs.
    BatchStep step;
    std::vector<uint32_t> none;
    step.insert_at = emitter_.Render(head, &none, false).size();
    Append(head, columns);
    step.sql = emitter_.Render(head, &step.params, false);
    if (!columns.empty()) {
      for (size_t k = name_end; k < i; ++k) {
        if (t[k].kind == TokenKind::kLParen && sr.match()[k] != kNone) {
          for (auto [b, e] : SplitTop(t, sr.match(), k + 1, sr.match()[k])) {
            step.insert_columns.push_back(e == b + 1 ? NameOf(t[b]) : std::string());
          }
          break;
        }
      }
    }
    step.query_at = step.sql.size() + 1;
    step.sql += " " + emitter_.Render(sr.Query(i, n), &step.params, false);
    step.effect = BatchStep::Effect::kInsertSelect;
    step.relation = RelationName(target);
    out_.push_back(std::move(step));
  }

  // The columns the values of INSERT INTO t (columns) VALUES (…), (…) are written to.
  static std::vector<ValueTarget> InsertTargets(StatementRewriter& sr, size_t name_end) {
    const Tokens& t = sr.tokens();
    const auto& match = sr.match();
    std::vector<ValueTarget> targets;
    size_t open = name_end;
    if (open >= t.size() || t[open].kind != TokenKind::kLParen || match[open] == kNone) {
      return targets;
    }
    std::vector<std::string> columns;
    for (auto [b, e] : SplitTop(t, match, open + 1, match[open])) {
      columns.push_back(e == b + 1 ? NameOf(t[b]) : std::string());
    }
    size_t i = match[open] + 1;
    if (i >= t.size() || !IsWord(t[i], "values")) return targets;
    const std::string table = NameOf(t[name_end - 1]);
    for (++i; i < t.size() && t[i].kind == TokenKind::kLParen && match[i] != kNone;) {
      auto items = SplitTop(t, match, i + 1, match[i]);
      for (size_t k = 0; k < items.size() && k < columns.size(); ++k) {
        auto [b, e] = items[k];
        if (e == b + 1 && t[b].param >= 0 && !columns[k].empty()) {
          targets.push_back({static_cast<uint32_t>(t[b].param), table, columns[k]});
        }
      }
      i = match[i] + 1;
      if (i < t.size() && t[i].kind == TokenKind::kComma) ++i;
    }
    return targets;
  }

  // Assignments of an UPDATE's SET clause; qualified columns lose their qualifier.
  std::vector<std::pair<Tokens, Tokens>> Assignments(StatementRewriter& sr, size_t b, size_t e) {
    const Tokens& t = sr.tokens();
    std::vector<std::pair<Tokens, Tokens>> out;
    for (auto [ab, ae] : SplitTop(t, sr.match(), b, e)) {
      size_t op = ab;
      while (op < ae && !(IsOp(t[op], "=") || IsOp(t[op], "+=") || IsOp(t[op], "-="))) ++op;
      if (op == ab || op >= ae) Fail("malformed SET clause");
      if (!IsName(t[op - 1])) Fail("only columns can be assigned in an UPDATE");
      Tokens column{t[op - 1]};
      Tokens value = sr.Expr(op + 1, ae);
      if (!IsOp(t[op], "=")) {
        Tokens v = column;
        v.push_back(Op(t[op].text.substr(0, 1)));
        Append(v, Parenthesized(value));
        value = std::move(v);
      }
      out.emplace_back(std::move(column), std::move(value));
    }
    return out;
  }

  // The reference of an UPDATE/DELETE target among the FROM clause's references (by alias,
  // else by table name), or kNone.
  static size_t FindTarget(const StatementRewriter& sr,
                           const std::vector<StatementRewriter::Ref>& refs,
                           const std::string& target) {
    for (size_t k = 0; k < refs.size(); ++k) {
      if (refs[k].alias == target) return k;
    }
    for (size_t k = 0; k < refs.size(); ++k) {
      const auto& r = refs[k];
      if (!r.derived && r.alias.empty() && Lower(NameOf(sr.tokens()[r.name_e - 1])) == target) {
        return k;
      }
    }
    return kNone;
  }

  // UPDATE ... FROM. With inner joins only, SQLite's UPDATE ... FROM takes it directly once the
  // target leaves the FROM list and all join conditions move into WHERE. With outer joins the
  // rows and new values are computed by the original FROM clause in a subquery and matched to
  // the target by rowid.
  void Update(StatementRewriter& sr) {
    const Tokens& t = sr.tokens();
    const auto& match = sr.match();
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
    auto assignments = Assignments(sr, set + 1, set_end);
    Tokens where_tokens;
    if (where != kNone) where_tokens = sr.Expr(where + 1, end);
    Tokens target = sr.Expr(1, target_end);

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
      BatchStep& step = Add(out);
      // The columns SET writes bound values to.
      for (const auto& [column, value] : assignments) {
        if (value.size() == 1 && value[0].param >= 0 && column.size() == 1) {
          step.targets.push_back({static_cast<uint32_t>(value[0].param), NameOf(t[target_end - 1]),
                                  NameOf(column[0])});
        }
      }
      return;
    }

    const size_t from_end = where != kNone ? where : end;
    auto refs = sr.ParseFrom(from + 1, from_end);
    const std::string target_name = Lower(NameOf(t[target_end - 1]));
    const size_t k = FindTarget(sr, refs, target_name);
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
        Append(out, sr.Expr(refs[k].name_b, refs[k].name_e));
        if (!refs[k].alias.empty()) {
          out.push_back(Word("AS"));
          out.push_back(Word(refs[k].alias));
        }
      }
      emit_set(out);
      Tokens sources, cond;
      for (size_t r = 0; r < refs.size(); ++r) {
        if (refs[r].on_b != kNone) cond = AndTokens(cond, sr.Expr(refs[r].on_b, refs[r].on_e));
        if (r == k) continue;
        if (!sources.empty()) sources.push_back(Comma());
        Append(sources, sr.Expr(refs[r].b, refs[r].e));
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
      Add(out);
      return;
    }

    if (k != kNone && refs[k].derived) Fail("cannot update a derived table");
    Tokens key = k == kNone              ? target
                 : refs[k].alias.empty() ? sr.Expr(refs[k].name_b, refs[k].name_e)
                                         : Tokens{Word(refs[k].alias)};
    Tokens table = k == kNone ? target : sr.Expr(refs[k].name_b, refs[k].name_e);
    Tokens sub{Word("SELECT")};
    Append(sub, key);
    sub.push_back(Dot());
    sub.push_back(Word(emitter_.RowId()));
    AppendWords(sub, {"AS", "rembiz_rowid"});
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
    Append(sub, sr.Expr(from + 1, from_end));
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
    Append(out, Parenthesized(sub));
    AppendWords(out, {"AS", "rembiz_source", "WHERE"});
    out.push_back(Word("rembiz_target"));
    out.push_back(Dot());
    out.push_back(Word(emitter_.RowId()));
    out.push_back(Op("="));
    out.push_back(Word("rembiz_source"));
    out.push_back(Dot());
    out.push_back(Word("rembiz_rowid"));
    Add(out);
  }

  // DELETE [FROM] T [WHERE ...]; DELETE [FROM] x FROM <sources> [WHERE ...] deletes the rows of
  // x's table that the sources select, matched by rowid.
  void Delete(StatementRewriter& sr) {
    const Tokens& t = sr.tokens();
    const auto& match = sr.match();
    const size_t n = t.size();
    size_t i = 1;
    if (i < n && IsWord(t[i], "top")) Fail("DELETE TOP is not supported");
    if (i < n && IsWord(t[i], "from")) ++i;
    size_t target_end = NameChainEnd(t, i, n);
    if (target_end == i) Fail("DELETE without a table");
    Tokens target = sr.Expr(i, target_end);
    size_t j = target_end;
    if (j + 1 < n && IsWord(t[j], "with") && t[j + 1].kind == TokenKind::kLParen) {
      j = match[j + 1] + 1;
    } else if (j < n && t[j].kind == TokenKind::kLParen && sr.IsHintGroup(j)) {
      j = match[j] + 1;
    }
    size_t from = j < n && IsWord(t[j], "from") ? j : kNone;
    size_t where = FindTop(t, match, from == kNone ? j : from + 1, n, "where");
    size_t option = FindTop(t, match, j, n, "option");
    size_t end = option == kNone ? n : option;
    Tokens cond = where != kNone ? sr.Expr(where + 1, end) : Tokens{};
    Tokens out{Word("DELETE"), Word("FROM")};
    if (from == kNone) {
      if (j != (where != kNone ? where : end)) Fail("unexpected '" + t[j].text + "' in DELETE");
      Append(out, target);
      if (!cond.empty()) {
        out.push_back(Word("WHERE"));
        Append(out, cond);
      }
      Add(out);
      return;
    }
    const size_t from_end = where != kNone ? where : end;
    auto refs = sr.ParseFrom(from + 1, from_end);
    size_t k = FindTarget(sr, refs, Lower(NameOf(t[target_end - 1])));
    if (k != kNone && refs[k].derived) Fail("cannot delete from a derived table");
    Tokens table = k == kNone ? target : sr.Expr(refs[k].name_b, refs[k].name_e);
    Tokens key = k == kNone || refs[k].alias.empty() ? table : Tokens{Word(refs[k].alias)};
    Append(out, table);
    out.push_back(Word("WHERE"));
    out.push_back(Word(emitter_.RowId()));
    out.push_back(Word("IN"));
    out.push_back(LParen());
    out.push_back(Word("SELECT"));
    Append(out, key);
    out.push_back(Dot());
    out.push_back(Word(emitter_.RowId()));
    out.push_back(Word("FROM"));
    if (k == kNone) {
      Append(out, table);
      out.push_back(Comma());
    }
    Append(out, sr.Expr(from + 1, from_end));
    if (!cond.empty()) {
      out.push_back(Word("WHERE"));
      Append(out, cond);
    }
    out.push_back(RParen());
    Add(out);
  }

  void Create(StatementRewriter& sr) {
    const Tokens& t = sr.tokens();
    const size_t n = t.size();
    size_t i = 1;
    if (i < n && IsWord(t[i], "table")) {
      TableDefinition table = sr.ParseTable(false);
      for (const Tokens& statement : emitter_.CreateTable(table)) Add(statement);
      for (const ForeignKeyDefinition& key : table.foreign_keys) {
        foreign_keys_.push_back(ForeignKeyUse{table.schema, table.name, key});
      }
      return;
    }
    if (i < n && IsWord(t[i], "view")) {
      size_t as = FindTop(t, sr.match(), 2, n, "as");
      if (as == kNone) Fail("CREATE VIEW without AS");
      Tokens name = sr.Expr(2, as);
      BatchStep& step = Add(emitter_.CreateView(name, sr.Query(as + 1, n)));
      step.effect = BatchStep::Effect::kCreateFromQuery;
      step.relation = RelationName(name);
      step.shape = std::make_shared<const ResultShape>(sr.ShapeOf(as + 1, n));
      return;
    }
    if (i < n && IsWord(t[i], "trigger")) {
      for (const Tokens& statement : emitter_.RefusingTrigger(ParseRefusal(sr))) Add(statement);
      return;
    }
    IndexDefinition index;
    if (i < n && IsWord(t[i], "unique")) {
      index.unique = true;
      ++i;
    }
    if (i < n && (IsWord(t[i], "clustered") || IsWord(t[i], "nonclustered"))) ++i;
    if (i < n && IsWord(t[i], "index")) {
      size_t on = FindTop(t, sr.match(), i + 1, n, "on");
      if (on == kNone || on != i + 2) Fail("CREATE INDEX without ON");
      index.name = NameOf(t[i + 1]);
      size_t table_end = NameChainEnd(t, on + 1, n);
      if (table_end >= n || t[table_end].kind != TokenKind::kLParen) {
        Fail("CREATE INDEX without columns");
      }
      if (table_end - on - 1 == 3) index.schema = Lower(NameOf(t[on + 1]));
      index.table = NameOf(t[table_end - 1]);
      size_t close = sr.match()[table_end];
      for (auto [kb, ke] : SplitTop(t, sr.match(), table_end + 1, close)) {
        // ASC / DESC mean nothing to a unique key and little elsewhere.
        if (ke > kb + 1 && (IsWord(t[ke - 1], "asc") || IsWord(t[ke - 1], "desc"))) --ke;
        index.keys.push_back(sr.Expr(kb, ke));
      }
      size_t where = FindTop(t, sr.match(), close + 1, n, "where");
      if (where != kNone) {
        size_t with = FindTop(t, sr.match(), where + 1, n, "with");
        index.where = sr.Expr(where + 1, with == kNone ? n : with);
      }
      for (const Tokens& statement : emitter_.CreateIndex(index)) Add(statement);
      return;
    }
    Fail("unsupported CREATE statement");
  }

  // CREATE TRIGGER name ON table {FOR | AFTER | INSTEAD OF} UPDATE, DELETE AS
  // RAISERROR('text', severity, state): the only trigger the translator knows, one that refuses.
  static RefusalTrigger ParseRefusal(StatementRewriter& sr) {
    const Tokens& t = sr.tokens();
    const size_t n = t.size();
    RefusalTrigger trigger;
    size_t on = FindTop(t, sr.match(), 2, n, "on");
    if (on != 3 || !IsName(t[2])) Fail("CREATE TRIGGER without ON");
    trigger.name = NameOf(t[2]);
    size_t table_end = NameChainEnd(t, on + 1, n);
    if (table_end == on + 1) Fail("CREATE TRIGGER without a table");
    if (table_end - on - 1 == 3) trigger.schema = Lower(NameOf(t[on + 1]));
    trigger.table = NameOf(t[table_end - 1]);
    size_t i = table_end;
    if (i < n && (IsWord(t[i], "for") || IsWord(t[i], "after"))) {
      ++i;
    } else if (i + 1 < n && IsWord(t[i], "instead") && IsWord(t[i + 1], "of")) {
      i += 2;
    } else {
      Fail("CREATE TRIGGER without FOR, AFTER or INSTEAD OF");
    }
    size_t as = FindTop(t, sr.match(), i, n, "as");
    if (as == kNone) Fail("CREATE TRIGGER without AS");
    for (auto [b, e] : SplitTop(t, sr.match(), i, as)) {
      if (e == b + 1 && IsWord(t[b], "update")) {
        trigger.update = true;
      } else if (e == b + 1 && IsWord(t[b], "delete")) {
        trigger.del = true;
      } else {
        Fail("CREATE TRIGGER for other statements than UPDATE and DELETE");
      }
    }
    // The body: RAISERROR('text', …) and nothing else.
    if (as + 3 >= n || !IsWord(t[as + 1], "raiserror") || t[as + 2].kind != TokenKind::kLParen ||
        t[as + 3].kind != TokenKind::kString || sr.match()[as + 2] + 1 != n) {
      Fail("CREATE TRIGGER whose body is not one RAISERROR");
    }
    trigger.message = StringValue(t[as + 3].text);
    return trigger;
  }

  // ALTER TABLE t ADD CONSTRAINT name FOREIGN KEY (columns) REFERENCES parent (columns)
  // [ON DELETE CASCADE], and ALTER TABLE t ADD column definitions (a schema's later versions).
  void Alter(StatementRewriter& sr) {
    const Tokens& t = sr.tokens();
    const size_t n = t.size();
    if (n < 5 || !IsWord(t[1], "table")) Fail("unsupported ALTER statement");
    size_t name_end = NameChainEnd(t, 2, n);
    if (name_end == 2 || name_end + 1 >= n || !IsWord(t[name_end], "add")) {
      Fail("unsupported ALTER TABLE statement");
    }
    // What is added reads as a CREATE TABLE of those elements.
    Tokens create{Word("CREATE"), Word("TABLE")};
    create.insert(create.end(), t.begin() + 2, t.begin() + static_cast<ptrdiff_t>(name_end));
    create.push_back(LParen());
    create.insert(create.end(), t.begin() + static_cast<ptrdiff_t>(name_end + 1), t.end());
    create.push_back(RParen());
    StatementRewriter definition(create, emitter_);
    TableDefinition table = definition.ParseTable(false);
    if (!table.columns.empty()) {
      if (!table.keys.empty() || !table.foreign_keys.empty()) {
        Fail("ALTER TABLE ADD of columns with keys; add the key as a constraint of its own");
      }
      for (const Tokens& statement : emitter_.AddColumns(table)) Add(statement);
      return;
    }
    if (!table.keys.empty() || !table.checks.empty() || table.foreign_keys.size() != 1) {
      Fail("ALTER TABLE ADD supports columns or one FOREIGN KEY constraint");
    }
    foreign_keys_.push_back(ForeignKeyUse{table.schema, table.name, table.foreign_keys[0]});
  }

  void Drop(StatementRewriter& sr) {
    const Tokens& t = sr.tokens();
    if (t.size() >= 3 && (IsWord(t[1], "table") || IsWord(t[1], "view"))) {
      size_t from = 2;
      bool if_exists = t.size() > 4 && IsWord(t[2], "if") && IsWord(t[3], "exists");
      if (if_exists) from = 4;
      for (auto [b, e] : SplitTop(t, sr.match(), from, t.size())) {
        Tokens out{Word("DROP"), Word(IsWord(t[1], "view") ? "VIEW" : "TABLE")};
        if (if_exists) AppendWords(out, {"IF", "EXISTS"});
        Append(out, sr.Expr(b, e));
        Add(out);
      }
      return;
    }
    if (t.size() >= 5 && IsWord(t[1], "index") && t[3].kind == TokenKind::kDot) {
      Add(emitter_.DropIndex("", NameOf(t[2]), NameOf(t[4])));  // DROP INDEX table.index
      return;
    }
    Add(sr.Expr(0, t.size()));
  }

  const Emitter& emitter_;
  std::unordered_map<std::string, Tokens> vars_;
  StatementList out_;
  std::vector<ForeignKeyUse> foreign_keys_;
  bool value_dependent_ = false;
};

}  // namespace

StatementList ReadBatch(const Tokens& tokens, const Emitter& emitter, bool* value_dependent) {
  std::vector<Statement> statements = BatchParser(tokens).Parse();
  StepBuilder builder(emitter);
  StatementList out = builder.Run(statements);
  if (value_dependent) *value_dependent = builder.value_dependent();
  return out;
}

}  // namespace rembiz::db::sql
