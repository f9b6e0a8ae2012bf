// PostgreSQL's spelling of the translated statements. Names are folded to lower case (tables are
// made with unquoted names, so every spelling of a name finds them); the names the server gives
// a result's columns travel beside the statement (BatchStep::shape) and in the catalog's
// comments. SQL Server's functions live in the schema `rembiz` (pg_support.cc); text columns
// are bpchar with the case-insensitive collation rembiz.ci, so that comparisons ignore case and
// trailing blanks; LIKE becomes ILIKE on the text with a deterministic collation. What the
// server checks when a value is written (lengths, ranges, money's four decimals, bits of 0/1)
// and row versions are one trigger function per table.
#include "db/postgres/pg_emitter.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "db/error.h"
#include "db/text.h"

namespace rembiz::db::postgres {
namespace {

using sql::Append;
using sql::AppendWords;
using sql::ColumnDefinition;
using sql::Comma;
using sql::Dot;
using sql::ForeignKeyDefinition;
using sql::IndexDefinition;
using sql::IsKeyword;
using sql::IsName;
using sql::KeyDefinition;
using sql::LParen;
using sql::NameOf;
using sql::Number;
using sql::Parenthesized;
using sql::QuotedName;
using sql::RParen;
using sql::SqlType;
using sql::Str;
using sql::TableDefinition;
using sql::Token;
using sql::TokenKind;
using sql::Tokens;
using sql::Word;

// Words PostgreSQL reserves: as a name (not a function) they need quotes. Those the translation
// itself writes as keywords (LIMIT, ANALYZE, ILIKE, true, false) are left out; no table of ours
// uses them as names.
bool IsReserved(std::string_view lower) {
  static const std::unordered_set<std::string_view> kReserved = {"all",
                                                                 "and",
                                                                 "any",
                                                                 "array",
                                                                 "as",
                                                                 "asc",
                                                                 "asymmetric",
                                                                 "both",
                                                                 "case",
                                                                 "cast",
                                                                 "check",
                                                                 "collate",
                                                                 "column",
                                                                 "constraint",
                                                                 "create",
                                                                 "current_date",
                                                                 "current_role",
                                                                 "current_time",
                                                                 "current_user",
                                                                 "default",
                                                                 "deferrable",
                                                                 "desc",
                                                                 "distinct",
                                                                 "do",
                                                                 "else",
                                                                 "end",
                                                                 "except",
                                                                 "fetch",
                                                                 "for",
                                                                 "foreign",
                                                                 "from",
                                                                 "grant",
                                                                 "group",
                                                                 "having",
                                                                 "in",
                                                                 "initially",
                                                                 "intersect",
                                                                 "into",
                                                                 "lateral",
                                                                 "leading",
                                                                 "localtime",
                                                                 "not",
                                                                 "null",
                                                                 "offset",
                                                                 "on",
                                                                 "only",
                                                                 "or",
                                                                 "order",
                                                                 "placing",
                                                                 "primary",
                                                                 "references",
                                                                 "returning",
                                                                 "select",
                                                                 "session_user",
                                                                 "some",
                                                                 "symmetric",
                                                                 "table",
                                                                 "then",
                                                                 "to",
                                                                 "trailing",
                                                                 "union",
                                                                 "unique",
                                                                 "user",
                                                                 "using",
                                                                 "variadic",
                                                                 "when",
                                                                 "where",
                                                                 "window",
                                                                 "with",
                                                                 "authorization",
                                                                 "binary",
                                                                 "collation",
                                                                 "concurrently",
                                                                 "cross",
                                                                 "freeze",
                                                                 "full",
                                                                 "inner",
                                                                 "is",
                                                                 "isnull",
                                                                 "join",
                                                                 "left",
                                                                 "like",
                                                                 "natural",
                                                                 "notnull",
                                                                 "outer",
                                                                 "overlaps",
                                                                 "right",
                                                                 "similar",
                                                                 "tablesample",
                                                                 "verbose",
                                                                 "current_schema",
                                                                 "localtimestamp"};
  return kReserved.count(lower) > 0;
}

// The engine's spelling of a name the server declared: folded to lower case, and quoted
// unless it is a plain word that is no keyword.
std::string Ident(std::string_view name) {
  std::string lower = Lower(name);
  bool plain = !lower.empty() && !std::isdigit(static_cast<unsigned char>(lower[0]));
  for (char c : lower) {
    plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  }
  if (plain && !IsReserved(lower) && !IsKeyword(Word(lower))) return lower;
  std::string quoted = "\"";
  for (char c : lower) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

Token IdentToken(std::string_view name) {
  std::string text = Ident(name);
  return text[0] == '"' ? MakeToken(TokenKind::kQuotedName, std::move(text)) : Word(text);
}

// A quoted name that keeps its case.
Token Name(const std::string& name) {
  Token t = MakeToken(TokenKind::kQuotedName, "\"" + name + "\"");
  t.keep_case = true;
  return t;
}

Tokens Call(std::vector<Token> name, std::vector<Tokens> args) {
  Tokens out;
  for (Token& t : name) out.push_back(std::move(t));
  out.push_back(LParen());
  for (size_t k = 0; k < args.size(); ++k) {
    if (k > 0) out.push_back(Comma());
    Append(out, args[k]);
  }
  out.push_back(RParen());
  return out;
}

// rembiz.<name>(args)
Tokens Support(const std::string& name, std::vector<Tokens> args) {
  return Call({Word("rembiz"), Dot(), Word(name)}, std::move(args));
}

// The text of a value as the server converts it for a text function.
Tokens Text(Tokens value) { return Support("txt", {std::move(value)}); }
Tokens Date(Tokens value) { return Support("dt", {std::move(value)}); }

Tokens Null() { return {Word("NULL")}; }

// A table of a schema: "t" or "tempdb.t".
Tokens Qualified(const std::string& schema, const std::string& name) {
  Tokens out;
  if (!schema.empty()) {
    out.push_back(Word(schema));
    out.push_back(Dot());
  }
  out.push_back(IdentToken(name));
  return out;
}

std::string QuotedLiteral(std::string_view text) { return "'" + SqlEscape(text) + "'"; }

bool IsTextType(const std::string& base) {
  return base == "varchar" || base == "nvarchar" || base == "char" || base == "nchar" ||
         base == "text" || base == "ntext" || base == "sysname";
}

// The engine's type of a declared column type.
std::string ColumnType(const ColumnDefinition& c) {
  const std::string& b = c.type.base;
  if (IsTextType(b)) return "bpchar";
  if (b == "int" || b == "integer") return "integer";
  if (b == "smallint" || b == "tinyint" || b == "bit") return "smallint";
  if (b == "bigint") return "bigint";
  if (b == "money" || b == "smallmoney" || b == "decimal" || b == "numeric") return "numeric";
  if (b == "float") return "double precision";
  if (b == "real") return "real";
  if (b == "datetime" || b == "smalldatetime" || b == "datetime2") return "timestamp(3)";
  if (b == "date") return "date";
  if (b == "time") return "time";
  if (b == "uniqueidentifier") return "uuid";
  if (b == "image" || b == "varbinary" || b == "binary") return "bytea";
  if (b == "xml" || b == "sql_variant") return "text";
  throw DbError(kErrStatement, "Cannot translate SQL: unknown column type '" + b + "'");
}

// The collation of a text column: the server's case-sensitive collations still ignore trailing
// blanks, which bpchar does under any collation.
Token CollationOf(const std::string& server_name) {
  std::string n = Lower(server_name);
  if (n.find("_cs") != std::string::npos || n == "binary") return Name("default");
  return Word("rembiz.ci");
}

// The server sorts NULL below every value; PostgreSQL above. Every item of an ORDER BY gets
// NULLS FIRST (ascending) or NULLS LAST (descending).
Tokens WithNullOrder(const Tokens& in) {
  bool any = false;
  for (size_t i = 0; i + 1 < in.size() && !any; ++i) {
    any = sql::IsWord(in[i], "order") && sql::IsWord(in[i + 1], "by");
  }
  if (!any) return in;
  Tokens out;
  out.reserve(in.size() + 8);
  std::vector<int> lists;  // the depths of the ORDER BY lists being read
  int depth = 0;
  auto close_item = [&] {
    bool desc = !out.empty() && sql::IsWord(out.back(), "desc");
    AppendWords(out, {"NULLS", desc ? "LAST" : "FIRST"});
  };
  static const std::unordered_set<std::string> kEnds = {
      "limit", "offset", "fetch", "for", "option", "union", "except", "intersect", "rows", "range"};
  for (size_t i = 0; i < in.size(); ++i) {
    const Token& t = in[i];
    const bool in_list = !lists.empty() && lists.back() == depth;
    if (in_list) {
      const bool ends = t.kind == TokenKind::kRParen || t.kind == TokenKind::kSemicolon ||
                        (t.kind == TokenKind::kWord && kEnds.count(Lower(t.text)) > 0);
      if (ends) {
        close_item();
        lists.pop_back();
      } else if (t.kind == TokenKind::kComma) {
        close_item();
      }
    }
    if (t.kind == TokenKind::kLParen) ++depth;
    if (t.kind == TokenKind::kRParen) --depth;
    out.push_back(t);
    if (sql::IsWord(t, "by") && i > 0 && sql::IsWord(in[i - 1], "order")) lists.push_back(depth);
  }
  if (!lists.empty()) close_item();
  return out;
}

// GROUP BY and ORDER BY items that repeat an item of the select list name it by its position.
// The server matches the two by their text; PostgreSQL by their form, where two literals
// written alike are two bound values, so that "SELECT DISTINCT isnull(a, '') ... ORDER BY
// isnull(a, '')" would no longer match.
class RepeatedItems {
 public:
  explicit RepeatedItems(const Tokens& t) : t_(t), match_(sql::MatchPairs(t)) {}

  Tokens Rewrite() {
    Level(0, t_.size());
    if (replaced_.empty()) return t_;
    std::sort(replaced_.begin(), replaced_.end(),
              [](const Replacement& a, const Replacement& b) { return a.b < b.b; });
    Tokens out;
    size_t at = 0;
    for (const Replacement& r : replaced_) {
      out.insert(out.end(), t_.begin() + static_cast<ptrdiff_t>(at),
                 t_.begin() + static_cast<ptrdiff_t>(r.b));
      out.push_back(Number(std::to_string(r.position)));
      at = r.e;
    }
    out.insert(out.end(), t_.begin() + static_cast<ptrdiff_t>(at), t_.end());
    return out;
  }

 private:
  struct Replacement {
    size_t b, e;
    size_t position;
  };
  using Span = std::pair<size_t, size_t>;

  bool Is(size_t i, std::string_view word) const {
    return i < t_.size() && sql::IsWord(t_[i], word);
  }

  // One nesting level [b, e): its parenthesized parts first, then its SELECTs.
  void Level(size_t b, size_t e) {
    std::vector<size_t> selects;
    bool compound = false;
    for (size_t i = b; i < e; ++i) {
      if (t_[i].kind == TokenKind::kLParen && match_[i] != sql::kNone) {
        Level(i + 1, match_[i]);
        i = match_[i];
      } else if (Is(i, "select")) {
        selects.push_back(i);
      } else if (Is(i, "union") || Is(i, "except") || Is(i, "intersect")) {
        compound = true;
      }
    }
    for (size_t k = 0; k < selects.size(); ++k) {
      Select(selects[k], k + 1 < selects.size() ? selects[k + 1] : e, !compound);
    }
  }

  // The top-level parts of [b, e) separated by commas.
  std::vector<Span> Items(size_t b, size_t e) const {
    std::vector<Span> out;
    size_t start = b;
    for (size_t i = b; i < e; ++i) {
      if (t_[i].kind == TokenKind::kLParen && match_[i] != sql::kNone) {
        i = match_[i];
      } else if (t_[i].kind == TokenKind::kComma) {
        out.emplace_back(start, i);
        start = i + 1;
      }
    }
    if (start < e) out.emplace_back(start, e);
    return out;
  }

  // Index of the first of `words` at the top level of [b, e), or e.
  size_t Find(size_t b, size_t e, std::initializer_list<std::string_view> words) const {
    for (size_t i = b; i < e; ++i) {
      if (t_[i].kind == TokenKind::kLParen && match_[i] != sql::kNone) {
        i = match_[i];
        continue;
      }
      if (t_[i].kind == TokenKind::kSemicolon) return i;
      for (std::string_view w : words) {
        if (Is(i, w)) return i;
      }
    }
    return e;
  }

  bool Same(Span a, Span b) const {
    if (a.second - a.first != b.second - b.first) return false;
    for (size_t k = 0; k < a.second - a.first; ++k) {
      const Token& x = t_[a.first + k];
      const Token& y = t_[b.first + k];
      if (x.kind != y.kind) return false;
      if (x.kind == TokenKind::kWord ? Lower(x.text) != Lower(y.text) : x.text != y.text) {
        return false;
      }
    }
    return true;
  }

  bool HasBound(Span s) const {
    for (size_t k = s.first; k < s.second; ++k) {
      if (sql::IsBound(t_[k])) return true;
    }
    return false;
  }

  void Select(size_t b, size_t e, bool own_order) {
    size_t list_b = b + 1;
    if (Is(list_b, "distinct") || Is(list_b, "all")) ++list_b;
    size_t from = Find(list_b, e, {"from", "where", "group", "having", "order", "limit", "into"});
    std::vector<Span> expressions;
    for (Span item : Items(list_b, from)) {
      if (item.second - item.first >= 2 && Is(item.second - 2, "as")) item.second -= 2;
      if (item.second > item.first && t_[item.second - 1].kind == TokenKind::kOperator &&
          t_[item.second - 1].text == "*") {
        break;  // a star: the positions after it are not known here
      }
      expressions.push_back(item);
    }
    auto rewrite = [&](size_t at, std::initializer_list<std::string_view> ends) {
      if (at == e || !Is(at + 1, "by")) return;
      size_t end = Find(at + 2, e, ends);
      for (Span item : Items(at + 2, end)) {
        Span expr = item;
        while (expr.second > expr.first &&
               (Is(expr.second - 1, "asc") || Is(expr.second - 1, "desc"))) {
          --expr.second;
        }
        if (!HasBound(expr)) continue;
        for (size_t k = 0; k < expressions.size(); ++k) {
          if (Same(expr, expressions[k])) {
            replaced_.push_back({expr.first, expr.second, k + 1});
            break;
          }
        }
      }
    };
    rewrite(Find(from, e, {"group"}), {"having", "order", "limit", "offset", "union", "except",
                                       "intersect", "for", "option"});
    if (own_order) {
      rewrite(Find(from, e, {"order"}), {"limit", "offset", "fetch", "for", "option"});
    }
  }

  const Tokens& t_;
  std::vector<size_t> match_;
  std::vector<Replacement> replaced_;
};

class PostgresEmitter : public sql::Emitter {
 public:
  Dialect Target() const override { return Dialect::kPostgres; }

  Tokens Function(const std::string& name, const Token& name_token,
                  std::vector<Tokens> args) const override {
    auto arg = [&](size_t k) { return k < args.size() ? args[k] : Null(); };
    const size_t n = args.size();
    if (name == "isnull") return Call({Word("coalesce")}, std::move(args));
    if (name == "len") return Support("len", {Text(arg(0))});
    if (name == "left" || name == "right" || name == "substring") {
      std::vector<Tokens> a{Text(arg(0)), arg(1)};
      if (name == "substring") a.push_back(arg(2));
      return Support(name, std::move(a));
    }
    if (name == "charindex") {
      std::vector<Tokens> a{Text(arg(0)), Text(arg(1))};
      if (n > 2) a.push_back(arg(2));
      return Support("charindex", std::move(a));
    }
    if (name == "replace") return Support("replace", {Text(arg(0)), Text(arg(1)), Text(arg(2))});
    if (name == "space") return Call({Word("repeat")}, {{Str(" ")}, arg(0)});
    if (name == "replicate") return Call({Word("repeat")}, {Text(arg(0)), arg(1)});
    if (name == "reverse" || name == "upper" || name == "lower" || name == "ltrim" ||
        name == "rtrim") {
      return Call({Word(name)}, {Text(arg(0))});
    }
    if (name == "ascii" || name == "unicode") return Call({Word("ascii")}, {Text(arg(0))});
    if (name == "char" || name == "nchar") return Call({Word("chr")}, {arg(0)});
    if (name == "datalength") return Call({Word("octet_length")}, {Text(arg(0))});
    if (name == "str") {
      std::vector<Tokens> a{Support("to_float", {arg(0)})};
      for (size_t k = 1; k < n; ++k) a.push_back(args[k]);
      return Support("str", std::move(a));
    }
    if (name == "isnumeric") return Support("isnumeric", {Text(arg(0))});
    if (name == "round") return Support("round", std::move(args));
    if (name == "datediff") return Support("datediff", {arg(0), Date(arg(1)), Date(arg(2))});
    if (name == "dateadd") return Support("dateadd", {arg(0), arg(1), Date(arg(2))});
    if (name == "datepart" || name == "datename") {
      return Support(name, {arg(0), Date(arg(1))});
    }
    if (name == "year" || name == "month" || name == "day") {
      return Support("datepart", {{Str(name)}, Date(arg(0))});
    }
    if (name == "getdate" || name == "sysdatetime" || name == "current_timestamp") {
      return Support("getdate", {});
    }
    if (name == "getutcdate") return Support("getutcdate", {});
    if (name == "newid") return Call({Word("gen_random_uuid")}, {});
    if (name == "object_id") return Support("object_id", {Text(arg(0))});
    if (name == "objectproperty") return Support("objectproperty", {Text(arg(0)), Text(arg(1))});
    if (name == "rembiz_plus") return Support("plus", std::move(args));
    if (name == "like_operand") {
      Tokens out = Text(arg(0));
      out.push_back(Word("COLLATE"));
      out.push_back(Name("default"));
      return out;
    }
    if (name == "count_big") return Call({Word("count")}, std::move(args));
    if (name == "rand") return Call({Word("random")}, {});
    if (name == "log") return Call({Word("ln")}, std::move(args));
    if (name == "log10") return Call({Word("log")}, std::move(args));
    if (name == "square") return Call({Word("power")}, {arg(0), {Number("2")}});
    return Call({name_token}, std::move(args));
  }

  Tokens Conversion(const SqlType& type, Tokens value, const Tokens* style,
                    std::optional<int> value_scale) const override {
    const std::string& base = type.base;
    if (IsTextType(base)) {
      return Support("to_text",
                     {std::move(value),
                      {Str(type.Text())},
                      style ? *style : Null(),
                      value_scale ? Tokens{Number(std::to_string(*value_scale))} : Null()});
    }
    if (base == "uniqueidentifier") {
      Tokens out{Word("CAST"), LParen()};
      Append(out, Text(std::move(value)));
      AppendWords(out, {"AS", "uuid"});
      out.push_back(RParen());
      return out;
    }
    if (base == "datetime" || base == "smalldatetime" || base == "date" || base == "datetime2" ||
        base == "datetimeoffset") {
      Tokens date = Support("dt", {std::move(value), style ? *style : Tokens{Number("0")}});
      return Support("to_datetime", {std::move(date), {Str(base)}});
    }
    if (base == "time") {
      return Call({Word("to_char")}, {Date(std::move(value)), {Str("HH24:MI:SS")}});
    }
    if (base == "bit") return Support("to_bit", {std::move(value)});
    if (base == "float" || base == "real") return Support("to_float", {std::move(value)});
    if (base == "bigint") return Support("to_bigint", {std::move(value)});
    if (base == "int" || base == "integer" || base == "smallint" || base == "tinyint") {
      return Support("to_int", {std::move(value)});
    }
    if (base == "decimal" || base == "numeric" || base == "money" || base == "smallmoney") {
      std::string precision = "18", scale = "0";
      if (base == "money") precision = "19", scale = "4";
      if (base == "smallmoney") precision = "10", scale = "4";
      if (!type.params.empty()) precision = type.params[0];
      if (type.params.size() > 1) scale = type.params[1];
      Tokens out{Word("CAST"), LParen()};
      Append(out, Support("num", {std::move(value)}));
      AppendWords(out, {"AS", "numeric"});
      Append(out, Parenthesized({Number(precision), Comma(), Number(scale)}));
      out.push_back(RParen());
      return out;
    }
    return Text(std::move(value));  // xml, sql_variant
  }

  // The catalog as the server shows it: tables 'U' and views 'V' of one schema, names compared
  // without regard to case.
  Tokens Catalog(const std::string& schema, const std::string& alias) const override {
    const std::string where = schema == "main" ? "current_schema()" : QuotedLiteral(schema);
    Tokens sub = sql::Tokenize(
        "(SELECT CAST(coalesce(pg_catalog.obj_description(c.oid, 'pg_class'), c.relname) AS "
        "bpchar) "
        "COLLATE rembiz.ci AS name, '" +
        schema +
        ".' || c.relname AS id, CASE c.relkind WHEN 'v' THEN 'V' ELSE 'U' END AS xtype, CASE "
        "c.relkind WHEN 'v' THEN 'V' ELSE 'U' END AS type FROM pg_catalog.pg_class c JOIN "
        "pg_catalog.pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = " +
        where + " AND c.relkind IN ('r', 'v', 'p'))");
    if (!alias.empty()) AppendWords(sub, {"AS", alias.c_str()});
    return sub;
  }

  Token Collation(const std::string& name) const override { return CollationOf(name); }
  std::string RowId() const override { return "ctid"; }
  Token FalseValue() const override { return Word("false"); }
  std::string LikeKeyword() const override { return "ILIKE"; }
  Tokens UnnamedColumnAlias() const override { return {}; }
  Tokens LastIdentity() const override { return Call({Word("lastval")}, {}); }

  // What follows a column's name where a table is made or a column added: its type, collation,
  // nullability and default; a row version takes the counter, an IDENTITY the engine's own.
  static void ColumnDeclaration(const ColumnDefinition& c, Tokens& out) {
    if (c.rowversion) {
      AppendWords(out, {"bigint", "NOT", "NULL", "DEFAULT"});
      Append(out, sql::Tokenize("nextval('rembiz.rowversion')"));
      return;
    }
    if (c.identity) {
      out.push_back(Word(c.type.base == "bigint" ? "bigint" : "integer"));
      AppendWords(out, {"GENERATED", "BY", "DEFAULT", "AS", "IDENTITY", "NOT", "NULL"});
      return;
    }
    out.push_back(Word(ColumnType(c)));
    if (IsTextType(c.type.base)) {
      out.push_back(Word("COLLATE"));
      out.push_back(c.collation.empty() ? Word("rembiz.ci") : CollationOf(c.collation));
    }
    if (!c.nullable) AppendWords(out, {"NOT", "NULL"});
    if (!c.default_value.empty()) {
      out.push_back(Word("DEFAULT"));
      Append(out, Parenthesized(c.default_value));
    }
  }

  std::vector<Tokens> CreateTable(const TableDefinition& table) const override {
    std::vector<Tokens> out;
    const std::string& schema = table.schema;
    Tokens create{Word("CREATE"), Word("TABLE")};
    if (table.if_not_exists) AppendWords(create, {"IF", "NOT", "EXISTS"});
    Append(create, Qualified(schema, table.name));
    create.push_back(LParen());
    bool first = true;
    for (const ColumnDefinition& c : table.columns) {
      if (!first) create.push_back(Comma());
      first = false;
      create.push_back(IdentToken(c.name));
      ColumnDeclaration(c, create);
    }
    for (const KeyDefinition& key : table.keys) {
      create.push_back(Comma());
      create.push_back(Word("CONSTRAINT"));
      create.push_back(Name(key.name));
      if (key.primary) {
        AppendWords(create, {"PRIMARY", "KEY"});
      } else {
        AppendWords(create, {"UNIQUE", "NULLS", "NOT", "DISTINCT"});
      }
      create.push_back(LParen());
      for (size_t k = 0; k < key.columns.size(); ++k) {
        if (k > 0) create.push_back(Comma());
        create.push_back(IdentToken(key.columns[k]));
      }
      create.push_back(RParen());
    }
    for (const Tokens& check : table.checks) {
      create.push_back(Comma());
      create.push_back(Word("CHECK"));
      Append(create, Parenthesized(check));
    }
    create.push_back(RParen());
    out.push_back(std::move(create));

    if (std::optional<Tokens> guard = Guard(table, "")) out.push_back(std::move(*guard));
    out.push_back(Comments(table));
    return out;
  }

  // ALTER TABLE ADD: the columns, declared as CreateTable declares them (a row version's default
  // gives each existing row its own value), then a guard of their own beside the table's and
  // their declared names and types.
  std::vector<Tokens> AddColumns(const TableDefinition& table) const override {
    std::vector<Tokens> out;
    Tokens add{Word("ALTER"), Word("TABLE")};
    Append(add, Qualified(table.schema, table.name));
    bool first = true;
    for (const ColumnDefinition& c : table.columns) {
      if (c.identity) sql::Fail("ALTER TABLE ADD of an IDENTITY column");
      if (!first) add.push_back(Comma());
      first = false;
      AppendWords(add, {"ADD", "COLUMN"});
      add.push_back(IdentToken(c.name));
      ColumnDeclaration(c, add);
    }
    for (const Tokens& check : table.checks) {
      add.push_back(Comma());
      AppendWords(add, {"ADD", "CHECK"});
      Append(add, Parenthesized(check));
    }
    out.push_back(std::move(add));
    if (std::optional<Tokens> guard = Guard(table, "_" + table.columns.front().name)) {
      out.push_back(std::move(*guard));
    }
    out.push_back(Comments(table));
    return out;
  }

  // What the server checks when a row is written, and the row version: a trigger function of
  // the table, written out column by column. Work tables get only their row version, as no
  // check of the server guards them on the other engine either.
  // `suffix` names the guard of columns added later, which runs beside the table's own.
  std::optional<Tokens> Guard(const TableDefinition& table, const std::string& suffix) const {
    const bool work = table.schema == "tempdb";
    std::string body;
    for (const ColumnDefinition& c : table.columns) {
      const std::string col = "NEW." + Ident(c.name);
      const std::string where = QuotedLiteral(table.name) + ", " + QuotedLiteral(c.name) + ", ";
      const std::string& b = c.type.base;
      if (c.rowversion) {
        body += "  " + col + " := nextval('rembiz.rowversion');\n";
        continue;
      }
      if (work) continue;
      if (IsTextType(b) && !c.type.params.empty() && c.type.params[0] != "max") {
        std::string limit = c.type.params[0];
        body += "  IF char_length(rembiz.txt(" + col + ")) > " + limit +
                " THEN PERFORM rembiz.refuse(1, " + where + limit + "); END IF;\n";
      } else if (b == "money" || b == "smallmoney" || b == "decimal" || b == "numeric") {
        std::string bound = "922337203685477.5807", scale = "4";
        if (b == "smallmoney") bound = "214748.3648";
        if (b == "decimal" || b == "numeric") {
          int p = c.type.params.empty() ? 18 : std::atoi(c.type.params[0].c_str());
          int s = c.type.params.size() > 1 ? std::atoi(c.type.params[1].c_str()) : 0;
          scale = std::to_string(s);
          bound = "1e" + std::to_string(p - s);
        }
        body += "  IF abs(" + col + ") > " + bound + " THEN PERFORM rembiz.refuse(2, " + where +
                "0, " + QuotedLiteral(b) + "); END IF;\n  " + col + " := round(" + col + ", " +
                scale + ");\n";
      } else if (b == "tinyint") {
        body += "  IF " + col + " NOT BETWEEN 0 AND 255 THEN PERFORM rembiz.refuse(2, " + where +
                "0, 'tinyint'); END IF;\n";
      } else if (b == "bit") {
        body += "  IF " + col + " NOT IN (0, 1) THEN " + col + " := 1; END IF;\n";
      }
    }
    if (body.empty()) return std::nullopt;
    const std::string function = (table.schema.empty() ? "" : table.schema + ".") +
                                 Ident("rembiz_guard_" + table.name + suffix);
    std::string text = "CREATE OR REPLACE FUNCTION " + function +
                       "() RETURNS trigger LANGUAGE plpgsql AS $f$\nBEGIN\n" + body +
                       "  RETURN NEW;\nEND $f$;\nCREATE TRIGGER " + Ident("rembiz_guard" + suffix) +
                       " BEFORE INSERT OR UPDATE ON " +
                       (table.schema.empty() ? "" : table.schema + ".") + Ident(table.name) +
                       " FOR EACH ROW EXECUTE FUNCTION " + function + "()";
    return Tokens{MakeToken(TokenKind::kString, std::move(text))};
  }

  // The names and types the server declared, where a result's columns find them again.
  Tokens Comments(const TableDefinition& table) const {
    const std::string relation =
        (table.schema.empty() ? "" : table.schema + ".") + Ident(table.name);
    std::string text = "COMMENT ON TABLE " + relation + " IS " + QuotedLiteral(table.name);
    for (const ColumnDefinition& c : table.columns) {
      std::string declared = c.rowversion ? "timestamp" : c.type.Text();
      text += ";\nCOMMENT ON COLUMN " + relation + "." + Ident(c.name) + " IS " +
              QuotedLiteral(c.name + "|" + declared);
    }
    return Tokens{MakeToken(TokenKind::kString, std::move(text))};
  }

  std::vector<Tokens> CreateIndex(const IndexDefinition& index) const override {
    Tokens out{Word("CREATE")};
    if (index.unique) out.push_back(Word("UNIQUE"));
    out.push_back(Word("INDEX"));
    out.push_back(Name(index.name));
    out.push_back(Word("ON"));
    Append(out, Qualified(index.schema, index.table));
    out.push_back(LParen());
    // Keys in the server's order, NULL below every value, as every translated ORDER BY asks
    // (WithNullOrder): an index in PostgreSQL's own order could not give an ordered read, such as
    // the first keys of a list page, its rows in order, and the read would sort the table.
    for (size_t k = 0; k < index.keys.size(); ++k) {
      if (k > 0) out.push_back(Comma());
      Append(out, index.keys[k]);
      AppendWords(out, {"NULLS", "FIRST"});
    }
    out.push_back(RParen());
    if (index.unique) AppendWords(out, {"NULLS", "NOT", "DISTINCT"});
    if (!index.where.empty()) {
      out.push_back(Word("WHERE"));
      Append(out, index.where);
    }
    return {out};
  }

  std::vector<Tokens> ForeignKeys(const std::vector<sql::ForeignKeyUse>& keys) const override {
    std::vector<Tokens> out;
    for (const sql::ForeignKeyUse& use : keys) {
      const ForeignKeyDefinition& fk = use.key;
      Tokens alter{Word("ALTER"), Word("TABLE")};
      Append(alter, Qualified(use.schema, use.child));
      AppendWords(alter, {"ADD", "CONSTRAINT"});
      alter.push_back(Name(fk.name));
      AppendWords(alter, {"FOREIGN", "KEY"});
      Tokens columns, parent_columns;
      for (size_t k = 0; k < fk.columns.size(); ++k) {
        if (k > 0) {
          columns.push_back(Comma());
          parent_columns.push_back(Comma());
        }
        columns.push_back(IdentToken(fk.columns[k]));
        parent_columns.push_back(IdentToken(fk.parent_columns.at(k)));
      }
      Append(alter, Parenthesized(columns));
      alter.push_back(Word("REFERENCES"));
      Append(alter, Qualified(use.schema, fk.parent));
      Append(alter, Parenthesized(parent_columns));
      if (fk.cascade_delete) AppendWords(alter, {"ON", "DELETE", "CASCADE"});
      out.push_back(std::move(alter));
    }
    return out;
  }

  // A trigger function that raises the text as a constraint violation, and the row trigger
  // that runs it before the statements refused.
  std::vector<Tokens> RefusingTrigger(const sql::RefusalTrigger& trigger) const override {
    const std::string prefix = trigger.schema.empty() ? "" : trigger.schema + ".";
    const std::string function = prefix + Ident("rembiz_refuse_" + trigger.name);
    std::string events = trigger.update ? "UPDATE" : "";
    if (trigger.del) events += events.empty() ? "DELETE" : " OR DELETE";
    std::string text =
        "CREATE OR REPLACE FUNCTION " + function +
        "() RETURNS trigger LANGUAGE plpgsql AS $f$\nBEGIN\n"
        "  RAISE EXCEPTION USING ERRCODE = '23000', MESSAGE = " +
        QuotedLiteral(trigger.message) + ", CONSTRAINT = " + QuotedLiteral(trigger.name) +
        ";\nEND $f$;\nCREATE TRIGGER " + Ident(trigger.name) + " BEFORE " + events + " ON " +
        prefix + Ident(trigger.table) + " FOR EACH ROW EXECUTE FUNCTION " + function + "()";
    return {Tokens{MakeToken(TokenKind::kString, std::move(text))}};
  }

  Tokens CreateView(const Tokens& name, const Tokens& query) const override {
    Tokens out{Word("CREATE"), Word("VIEW")};
    Append(out, name);
    out.push_back(Word("AS"));
    Append(out, query);
    return out;
  }

  Tokens DropIndex(const std::string& schema, const std::string&,
                   const std::string& index) const override {
    Tokens out{Word("DROP"), Word("INDEX")};
    if (!schema.empty()) {
      out.push_back(Word(schema));
      out.push_back(Dot());
    }
    out.push_back(Name(index));
    return out;
  }

  std::vector<Tokens> Truncate(const Tokens& table, const std::string& schema,
                               const std::string& name) const override {
    Tokens del{Word("DELETE"), Word("FROM")};
    Append(del, table);
    Tokens restart{Word("SELECT")};
    Append(restart, Support("restart_identity",
                            {{Str((schema.empty() ? "" : schema + ".") + Ident(name))}}));
    return {del, restart};
  }

  // Definitions and session commands take no parameters.
  bool TakesParameters(const Tokens& statement) const override {
    static const std::unordered_set<std::string> kNoParameters = {
        "create",  "drop",   "alter",  "comment", "analyze", "truncate", "do",
        "grant",   "set",    "reset",  "begin",   "commit",  "rollback", "savepoint",
        "release", "revoke", "vacuum", "cluster", "reindex"};
    return !sql::StartsWithWord(statement, kNoParameters);
  }

  std::string Render(const Tokens& source, std::vector<uint32_t>* params,
                     bool inline_values) const override {
    const Tokens tokens = WithNullOrder(RepeatedItems(source).Rewrite());
    return sql::JoinTokens(tokens, [&](const Token& t, std::string& out) {
      if (sql::IsBound(t) && !(inline_values && t.param >= 0)) {
        params->push_back(sql::ParamIndex(t));
        out += "$" + std::to_string(params->size());
        return;
      }
      const size_t i = static_cast<size_t>(&t - tokens.data());
      switch (t.kind) {
        case TokenKind::kWord: {
          if (IsKeyword(t)) {
            out += t.text;
            break;
          }
          std::string lower = Lower(t.text);
          const bool call = i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::kLParen;
          const bool qualified = i > 0 && tokens[i - 1].kind == TokenKind::kDot;
          if (IsReserved(lower) && !call && !qualified) {
            out += "\"" + lower + "\"";
          } else {
            out += lower;
          }
          break;
        }
        case TokenKind::kQuotedName: {
          // Names made here keep their case (constraints, collations); the statement's own
          // names fold like every other name.
          std::string name = t.keep_case ? NameOf(t) : Lower(NameOf(t));
          std::string quoted = "\"";
          for (char c : name) {
            quoted += c;
            if (c == '"') quoted += '"';
          }
          out += quoted + "\"";
          break;
        }
        case TokenKind::kNumber:
          if (t.text.size() > 2 && (t.text[1] == 'x' || t.text[1] == 'X')) {
            out += std::to_string(std::stoull(t.text.substr(2), nullptr, 16));
          } else if (t.text.find_first_of("eE") != std::string::npos) {
            out += t.text + "::float8";  // the server reads 1e3 as a float
          } else {
            out += t.text;
          }
          break;
        case TokenKind::kBlob:
          out += "'\\x" + t.text.substr(2, t.text.size() - 3) + "'::bytea";
          break;
        case TokenKind::kOperator:
          out += t.text == "==" ? "=" : (t.text == "^" ? "#" : t.text);
          break;
        case TokenKind::kString:
        case TokenKind::kVariable:
        case TokenKind::kLParen:
        case TokenKind::kRParen:
        case TokenKind::kComma:
        case TokenKind::kDot:
        case TokenKind::kSemicolon:
        default:
          out += t.text;
          break;
      }
    });
  }
};

}  // namespace

const sql::Emitter& TheEmitter() {
  static const PostgresEmitter emitter;
  return emitter;
}

}  // namespace rembiz::db::postgres
