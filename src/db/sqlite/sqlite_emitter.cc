// SQLite's spelling of the translated statements. SQL Server's functions are registered on every
// handle (sqlite_functions.cc) under their own names; conversions go through rembiz_convert and
// rembiz_decimal; text compares with the NOCASE collation, which ignores case and trailing
// blanks (sqlite_collations.cc). What SQLite has no statement for, the server's definitions get
// as triggers: row versions from a counter table, foreign keys that raise the server's
// messages, bits kept to 0 and 1.
#include "db/sqlite/sqlite_emitter.h"

#include <unordered_set>

#include "db/error.h"

namespace rembiz::db::sqlite {
namespace {

using sql::Append;
using sql::AppendWords;
using sql::ColumnDefinition;
using sql::Comma;
using sql::Dot;
using sql::ForeignKeyDefinition;
using sql::IndexDefinition;
using sql::IsName;
using sql::IsWord;
using sql::KeyDefinition;
using sql::LParen;
using sql::Number;
using sql::Op;
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

Tokens Call(Token name, std::vector<Tokens> args) {
  Tokens out{std::move(name), LParen()};
  for (size_t k = 0; k < args.size(); ++k) {
    if (k > 0) out.push_back(Comma());
    Append(out, args[k]);
  }
  out.push_back(RParen());
  return out;
}

Tokens WrapCast(const Tokens& inner, const char* type) {
  Tokens out{Word("CAST"), LParen()};
  Append(out, inner);
  AppendWords(out, {"AS", type});
  out.push_back(RParen());
  return out;
}

// A table of a schema: "t" or "qdsystem.t".
Tokens Qualified(const std::string& schema, const std::string& name) {
  Tokens out;
  if (!schema.empty()) {
    out.push_back(Word(schema));
    out.push_back(Dot());
  }
  out.push_back(QuotedName(name));
  return out;
}

// "CREATE TRIGGER name <event> ON table": triggers live in their table's schema; the table
// they watch is named without it.
Tokens TriggerHead(const std::string& schema, const std::string& name, const std::string& event,
                   const std::string& table) {
  Tokens out{Word("CREATE"), Word("TRIGGER")};
  Append(out, Qualified(schema, name));
  Append(out, sql::Tokenize(event));
  out.push_back(Word("ON"));
  out.push_back(QuotedName(table));
  return out;
}

bool IsTextType(const SqlType& type) {
  return type.base == "varchar" || type.base == "nvarchar" || type.base == "char" ||
         type.base == "nchar" || type.base == "text" || type.base == "ntext" ||
         type.base == "sysname";
}

// The collation a column of `type` compares with, unless it names its own.
const char* DefaultCollation(const ColumnDefinition& column) {
  if (!column.collation.empty()) return nullptr;
  if (column.type.base == "uniqueidentifier") return "UNIQUEIDENTIFIER";
  if (IsTextType(column.type)) return "NOCASE";
  return nullptr;
}

std::string Quoted(std::string_view text) { return "'" + SqlEscape(text) + "'"; }

class SqliteEmitter : public sql::Emitter {
 public:
  Dialect Target() const override { return Dialect::kSqlite; }

  Tokens Function(const std::string& name, const Token& name_token,
                  std::vector<Tokens> args) const override {
    if (name == "isnull") return Call(Word("ifnull"), std::move(args));
    if (name == "left" || name == "right") {
      return Call(MakeToken(TokenKind::kQuotedName, "\"" + name + "\""), std::move(args));
    }
    if (name == "like_operand" && args.size() == 1) return Parenthesized(args[0]);
    if (name == "getdate" || name == "rembiz_plus" || name == "datediff" || name == "dateadd" ||
        name == "datepart" || name == "datename") {
      return Call(Word(name), std::move(args));
    }
    return Call(name_token, std::move(args));
  }

  // Numbers keep SQLite's CAST (and with it a numeric affinity); decimals and money are rounded
  // to their scale first; texts and dates go through rembiz_convert, which knows SQL Server's
  // lengths and date styles. Dates become text in their normal form.
  Tokens Conversion(const SqlType& type, Tokens value, const Tokens* style,
                    std::optional<int> value_scale) const override {
    const std::string& base = type.base;
    auto call = [&](const std::string& type_text, const Tokens& v, bool with_style) {
      Tokens out{Word("rembiz_convert"), LParen(), Str(type_text), Comma()};
      Append(out, v);
      if (with_style && style != nullptr) {
        out.push_back(Comma());
        Append(out, *style);
      }
      out.push_back(RParen());
      return out;
    };
    switch (sql::TypeOfSqlType(Word(base))) {
      case sql::Type::kText: {
        if (base == "uniqueidentifier") return WrapCast(value, "TEXT");
        std::string type_text = base;
        if (!type.params.empty()) type_text += "(" + type.params[0] + ")";
        Tokens out = call(type_text, value, true);
        if (value_scale) {
          out.pop_back();
          if (style == nullptr) {
            out.push_back(Comma());
            out.push_back(Word("NULL"));
          }
          out.push_back(Comma());
          out.push_back(Number(std::to_string(*value_scale)));
          out.push_back(RParen());
        }
        return out;
      }
      case sql::Type::kDate:
        return call(base, value, true);
      case sql::Type::kNumber: {
        if (base == "bit") return WrapCast(call("bit", value, false), "INTEGER");
        if (base == "float" || base == "real") return WrapCast(value, "REAL");
        if (base == "decimal" || base == "numeric" || base == "money" || base == "smallmoney") {
          std::string scale = "4";
          if (base == "decimal" || base == "numeric") {
            scale = type.params.size() >= 2 ? type.params[1] : "0";
          }
          Tokens rounded{Word("rembiz_decimal"), LParen()};
          Append(rounded, value);
          rounded.push_back(Comma());
          rounded.push_back(Number(scale));
          rounded.push_back(RParen());
          return WrapCast(rounded, "REAL");
        }
        return WrapCast(value, "INTEGER");
      }
      case sql::Type::kUnknown:
        break;
    }
    return WrapCast(value, "TEXT");  // xml, sql_variant
  }

  Tokens Catalog(const std::string& schema, const std::string& alias) const override {
    Tokens sub = sql::Tokenize(
        "(SELECT name COLLATE NOCASE AS name, '" + schema +
        ".' || lower(name) AS id, CASE type WHEN 'table' THEN 'U' ELSE 'V' END AS xtype, "
        "CASE type WHEN 'table' THEN 'U' ELSE 'V' END AS type FROM " +
        schema +
        ".sqlite_master WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite!_%' "
        "ESCAPE '!')");
    if (!alias.empty()) AppendWords(sub, {"AS", alias.c_str()});
    return sub;
  }

  // The server's collations: case-insensitive ones are NOCASE; the others compare case and
  // accents but still ignore trailing blanks, as SQLite's RTRIM does.
  Token Collation(const std::string& name) const override {
    std::string n = Lower(name);
    if (n == "nocase" || n == "binary" || n == "rtrim") return Word(n);
    return Word(n.find("_ci") != std::string::npos ? "NOCASE" : "RTRIM");
  }

  std::string RowId() const override { return "rowid"; }
  Token FalseValue() const override { return Number("0"); }
  std::string LikeKeyword() const override { return "LIKE"; }
  Tokens UnnamedColumnAlias() const override { return {Word("AS"), QuotedName("")}; }
  Tokens LastIdentity() const override { return Call(Word("last_insert_rowid"), {}); }

  // IDENTITY is INTEGER PRIMARY KEY AUTOINCREMENT; keys are unique indexes with the server's
  // names, whose nullable columns compare NULL as equal, as the server's keys do; row versions,
  // foreign keys and bits are triggers.
  std::vector<Tokens> CreateTable(const TableDefinition& table) const override {
    std::vector<Tokens> out;
    const std::string& schema = table.schema;
    bool has_rowversion = false;
    for (const ColumnDefinition& c : table.columns) has_rowversion |= c.rowversion;
    if (has_rowversion) RowVersionCounter(schema, &out);

    Tokens create{Word("CREATE"), Word("TABLE")};
    if (table.if_not_exists) AppendWords(create, {"IF", "NOT", "EXISTS"});
    Append(create, Qualified(schema, table.name));
    create.push_back(LParen());
    bool first = true;
    for (const ColumnDefinition& c : table.columns) {
      if (!first) create.push_back(Comma());
      first = false;
      create.push_back(QuotedName(c.name));
      if (c.identity) {
        AppendWords(create, {"INTEGER", "PRIMARY", "KEY", "AUTOINCREMENT"});
        continue;
      }
      if (c.rowversion) {
        AppendWords(create, {"bigint", "NOT", "NULL", "DEFAULT", "0"});
        continue;
      }
      create.push_back(Word(c.type.Text()));
      if (!c.nullable) AppendWords(create, {"NOT", "NULL"});
      if (!c.default_value.empty()) {
        create.push_back(Word("DEFAULT"));
        Append(create, Parenthesized(c.default_value));
      }
      if (!c.collation.empty()) {
        create.push_back(Word("COLLATE"));
        create.push_back(Collation(c.collation));
      } else if (const char* collation = DefaultCollation(c)) {
        AppendWords(create, {"COLLATE", collation});
      }
    }
    for (const Tokens& check : table.checks) {
      create.push_back(Comma());
      create.push_back(Word("CHECK"));
      Append(create, Parenthesized(check));
    }
    create.push_back(RParen());
    out.push_back(std::move(create));

    for (const KeyDefinition& key : table.keys) {
      const ColumnDefinition* only =
          key.columns.size() == 1 ? table.Column(key.columns[0]) : nullptr;
      if (only && only->identity) continue;  // the rowid itself
      IndexDefinition index;
      index.schema = schema;
      index.table = table.name;
      index.name = key.name;
      index.unique = true;
      for (const std::string& name : key.columns) {
        const ColumnDefinition* column = table.Column(name);
        Tokens expr{QuotedName(name)};
        if (column && column->nullable) {
          // NULL is one value of the key, never equal to any other value.
          expr = Call(Word("ifnull"), {expr, {MakeToken(TokenKind::kBlob, "X'00'")}});
          const char* collation = DefaultCollation(*column);
          if (!column->collation.empty()) {
            expr.push_back(Word("COLLATE"));
            expr.push_back(Collation(column->collation));
          } else if (collation) {
            AppendWords(expr, {"COLLATE", collation});
          }
        }
        index.keys.push_back(std::move(expr));
      }
      for (Tokens& statement : CreateIndex(index)) {
        // A table made only when missing keeps the keys it has.
        if (table.if_not_exists && statement.size() > 3) {
          statement.insert(statement.begin() + 3, {Word("IF"), Word("NOT"), Word("EXISTS")});
        }
        out.push_back(std::move(statement));
      }
    }

    if (has_rowversion) {
      for (const ColumnDefinition& c : table.columns) {
        if (c.rowversion) RowVersionTriggers(schema, table.name, c.name, &out);
      }
    }
    std::vector<std::string> bits;
    for (const ColumnDefinition& c : table.columns) {
      if (c.type.base == "bit") bits.push_back(c.name);
    }
    BitTriggers(schema, table.name, bits, "", &out);
    return out;
  }

  // ALTER TABLE ADD of columns: one ADD COLUMN each (SQLite takes only a constant default, so a
  // default is written bare), then what CreateTable would have made for them: a new row
  // version's counter and triggers, with every existing row given its own value, and the bit
  // triggers of new bit columns beside the table's own.
  std::vector<Tokens> AddColumns(const TableDefinition& table) const override {
    std::vector<Tokens> out;
    const std::string& schema = table.schema;
    std::vector<std::string> bits;
    for (const ColumnDefinition& c : table.columns) {
      if (c.identity) sql::Fail("ALTER TABLE ADD of an IDENTITY column");
      if (c.rowversion) RowVersionCounter(schema, &out);
      Tokens add{Word("ALTER"), Word("TABLE")};
      Append(add, Qualified(schema, table.name));
      AppendWords(add, {"ADD", "COLUMN"});
      add.push_back(QuotedName(c.name));
      if (c.rowversion) {
        AppendWords(add, {"bigint", "NOT", "NULL", "DEFAULT", "0"});
      } else {
        add.push_back(Word(c.type.Text()));
        if (!c.nullable) AppendWords(add, {"NOT", "NULL"});
        if (!c.default_value.empty()) {
          add.push_back(Word("DEFAULT"));
          Append(add,
                 c.default_value.size() == 1 ? c.default_value : Parenthesized(c.default_value));
        }
        if (!c.collation.empty()) {
          add.push_back(Word("COLLATE"));
          add.push_back(Collation(c.collation));
        } else if (const char* collation = DefaultCollation(c)) {
          AppendWords(add, {"COLLATE", collation});
        }
      }
      // A CHECK of the statement belongs to its one column.
      if (table.columns.size() == 1) {
        for (const Tokens& check : table.checks) {
          add.push_back(Word("CHECK"));
          Append(add, Parenthesized(check));
        }
      }
      out.push_back(std::move(add));
      if (c.rowversion) {
        RowVersionTriggers(schema, table.name, c.name, &out);
        // The update trigger gives each row that keeps its value a new one.
        Tokens renew{Word("UPDATE")};
        Append(renew, Qualified(schema, table.name));
        Append(renew, sql::Tokenize("SET \"" + c.name + "\" = \"" + c.name + "\""));
        out.push_back(std::move(renew));
      }
      if (c.type.base == "bit") bits.push_back(c.name);
    }
    if (!table.checks.empty() && table.columns.size() != 1) {
      sql::Fail("ALTER TABLE ADD of a CHECK with several columns");
    }
    BitTriggers(schema, table.name, bits, bits.empty() ? "" : "_" + bits.front(), &out);
    return out;
  }

  // The per-database counter row versions are taken from.
  static void RowVersionCounter(const std::string& schema, std::vector<Tokens>* out) {
    Tokens counter = sql::Tokenize("CREATE TABLE IF NOT EXISTS");
    Append(counter, Qualified(schema, "Host_RowVersion"));
    Append(counter,
           sql::Tokenize("(id INTEGER PRIMARY KEY CHECK (id = 1), value INTEGER NOT NULL)"));
    out->push_back(std::move(counter));
    Tokens first = sql::Tokenize("INSERT OR IGNORE INTO");
    Append(first, Qualified(schema, "Host_RowVersion"));
    Append(first, sql::Tokenize("VALUES (1, 0)"));
    out->push_back(std::move(first));
  }

  // A row version takes the counter's next value on every insert, and on every update that does
  // not set it itself.
  static void RowVersionTriggers(const std::string& schema, const std::string& table,
                                 const std::string& ts, std::vector<Tokens>* out) {
    std::string bump = "UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1; UPDATE \"" +
                       table + "\" SET \"" + ts +
                       "\" = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = "
                       "NEW.rowid; END";
    Tokens insert = TriggerHead(schema, "trg_" + table + "_ts_ins", "AFTER INSERT", table);
    Append(insert, sql::Tokenize("BEGIN " + bump));
    out->push_back(std::move(insert));
    // The insert trigger sets ts itself; only updates that leave it alone need a new one.
    Tokens update = TriggerHead(schema, "trg_" + table + "_ts_upd", "AFTER UPDATE", table);
    Append(update, sql::Tokenize("WHEN NEW.\"" + ts + "\" = OLD.\"" + ts + "\" BEGIN " + bump));
    out->push_back(std::move(update));
  }

  // A bit holds 0 or 1: any other number written to it is 1, as in the server. `suffix` tells
  // apart the triggers of bits added later from the table's own.
  static void BitTriggers(const std::string& schema, const std::string& table,
                          const std::vector<std::string>& bits, const std::string& suffix,
                          std::vector<Tokens>* out) {
    if (bits.empty()) return;
    std::string when, set, names;
    for (const std::string& b : bits) {
      std::string q = "\"" + b + "\"";
      when += (when.empty() ? "" : " OR ") + ("NEW." + q + " NOT IN (0, 1)");
      set += (set.empty() ? "" : ", ") + q + " = CASE WHEN " + q + " IS NULL THEN NULL WHEN " + q +
             " = 0 OR lower(" + q + ") = 'false' THEN 0 ELSE 1 END";
      names += (names.empty() ? "" : ", ") + q;
    }
    std::string body = " WHEN " + when + " BEGIN UPDATE \"" + table + "\" SET " + set +
                       " WHERE rowid = NEW.rowid; END";
    Tokens insert =
        TriggerHead(schema, "trg_" + table + "_bit" + suffix + "_ins", "AFTER INSERT", table);
    Append(insert, sql::Tokenize(body));
    out->push_back(std::move(insert));
    Tokens update = TriggerHead(schema, "trg_" + table + "_bit" + suffix + "_upd",
                                "AFTER UPDATE OF " + names, table);
    Append(update, sql::Tokenize(body));
    out->push_back(std::move(update));
  }

  // SQLite puts the schema on the index's name, not on its table.
  std::vector<Tokens> CreateIndex(const IndexDefinition& index) const override {
    Tokens out{Word("CREATE")};
    if (index.unique) out.push_back(Word("UNIQUE"));
    out.push_back(Word("INDEX"));
    Append(out, Qualified(index.schema, index.name));
    out.push_back(Word("ON"));
    out.push_back(QuotedName(index.table));
    out.push_back(LParen());
    for (size_t k = 0; k < index.keys.size(); ++k) {
      if (k > 0) out.push_back(Comma());
      Append(out, index.keys[k]);
    }
    out.push_back(RParen());
    if (!index.where.empty()) {
      out.push_back(Word("WHERE"));
      Append(out, index.where);
    }
    return {out};
  }

  // Foreign keys as triggers that raise the server's messages: a child row needs its parent; a
  // parent with children cannot go, or takes them with it (ON DELETE CASCADE). SQLite runs the
  // triggers of one event newest first, so the parents' triggers are made in reverse order of
  // declaration: the first declared key is the one a refused delete names.
  std::vector<Tokens> ForeignKeys(const std::vector<sql::ForeignKeyUse>& keys) const override {
    std::vector<Tokens> out;
    for (const sql::ForeignKeyUse& use : keys) ChildTriggers(use, out);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) ParentTrigger(*it, out);
    return out;
  }

  void ChildTriggers(const sql::ForeignKeyUse& use, std::vector<Tokens>& out) const {
    const ForeignKeyDefinition& fk = use.key;
    std::string present, matches_new, names;
    for (size_t k = 0; k < fk.columns.size(); ++k) {
      std::string c = "\"" + fk.columns[k] + "\"";
      std::string p = "\"" + fk.parent_columns.at(k) + "\"";
      present += (k ? " AND " : "") + ("NEW." + c + " IS NOT NULL");
      matches_new += (k ? " AND " : "") + (p + " = NEW." + c);
      names += (k ? ", " : "") + c;
    }
    auto conflict = [&](const char* statement) {
      return "SELECT RAISE(ABORT, " +
             Quoted(std::string("The ") + statement +
                    " statement conflicted with the FOREIGN KEY constraint \"" + fk.name +
                    "\". The conflict occurred in table \"dbo." + fk.parent + "\", column '" +
                    fk.parent_columns.front() + "'.") +
             "); END";
    };
    std::string missing = " WHEN " + present + " AND NOT EXISTS (SELECT 1 FROM \"" + fk.parent +
                          "\" WHERE " + matches_new + ") BEGIN ";
    Tokens insert = TriggerHead(use.schema, "trg_" + fk.name + "_ins", "BEFORE INSERT", use.child);
    Append(insert, sql::Tokenize(missing + conflict("INSERT")));
    out.push_back(std::move(insert));
    Tokens update =
        TriggerHead(use.schema, "trg_" + fk.name + "_upd", "BEFORE UPDATE OF " + names, use.child);
    Append(update, sql::Tokenize(missing + conflict("UPDATE")));
    out.push_back(std::move(update));
  }

  void ParentTrigger(const sql::ForeignKeyUse& use, std::vector<Tokens>& out) const {
    const ForeignKeyDefinition& fk = use.key;
    std::string matches_old;
    for (size_t k = 0; k < fk.columns.size(); ++k) {
      matches_old += (k ? " AND " : "") +
                     ("\"" + fk.columns[k] + "\" = OLD.\"" + fk.parent_columns.at(k) + "\"");
    }
    if (fk.cascade_delete) {
      Tokens del = TriggerHead(use.schema, "trg_" + fk.name + "_del", "AFTER DELETE", fk.parent);
      Append(del, sql::Tokenize(" BEGIN DELETE FROM \"" + use.child + "\" WHERE " + matches_old +
                                "; END"));
      out.push_back(std::move(del));
      return;
    }
    Tokens del = TriggerHead(use.schema, "trg_" + fk.name + "_del", "BEFORE DELETE", fk.parent);
    Append(del,
           sql::Tokenize(" WHEN EXISTS (SELECT 1 FROM \"" + use.child + "\" WHERE " + matches_old +
                         ") BEGIN SELECT RAISE(ABORT, " +
                         Quoted("The DELETE statement conflicted with the REFERENCE constraint \"" +
                                fk.name + "\". The conflict occurred in table \"dbo." + use.child +
                                "\", column '" + fk.columns.front() + "'.") +
                         "); END"));
    out.push_back(std::move(del));
  }

  // One trigger per statement refused, raising its text before the row changes.
  std::vector<Tokens> RefusingTrigger(const sql::RefusalTrigger& trigger) const override {
    std::vector<Tokens> out;
    auto add = [&](bool refused, const std::string& event, const std::string& suffix) {
      if (!refused) return;
      Tokens statement =
          TriggerHead(trigger.schema, trigger.name + suffix, "BEFORE " + event, trigger.table);
      Append(statement,
             sql::Tokenize(" BEGIN SELECT RAISE(ABORT, " + Quoted(trigger.message) + "); END"));
      out.push_back(std::move(statement));
    };
    add(trigger.update, "UPDATE", "_upd");
    add(trigger.del, "DELETE", "_del");
    return out;
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
    Append(out, Qualified(schema, index));
    return out;
  }

  // The counter of an AUTOINCREMENT column lives in sqlite_sequence, which the account and
  // system databases always have (their tables have IDENTITY columns); a work table's counter
  // is left alone, since tempdb may have none.
  std::vector<Tokens> Truncate(const Tokens& table, const std::string& schema,
                               const std::string& name) const override {
    Tokens del{Word("DELETE"), Word("FROM")};
    Append(del, table);
    if (schema == "tempdb") return {del};
    Tokens counter{Word("DELETE"), Word("FROM")};
    Append(counter, Qualified(schema, "sqlite_sequence"));
    counter.push_back(Word("WHERE"));
    counter.push_back(Word("name"));
    counter.push_back(Op("="));
    counter.push_back(Str(name));
    return {del, counter};
  }

  // SQLite refuses parameters in definitions and in most statements that are not about rows.
  bool TakesParameters(const Tokens& statement) const override {
    static const std::unordered_set<std::string> kNoParameters = {
        "create", "drop",     "alter",     "pragma",  "attach",  "detach",  "vacuum", "begin",
        "commit", "rollback", "savepoint", "release", "analyze", "reindex", "end"};
    return !sql::StartsWithWord(statement, kNoParameters);
  }

  std::string Render(const Tokens& tokens, std::vector<uint32_t>* params,
                     bool inline_values) const override {
    return sql::JoinTokens(tokens, [&](const Token& t, std::string& out) {
      if (sql::IsBound(t) && !(inline_values && t.param >= 0)) {
        params->push_back(sql::ParamIndex(t));
        out += "?" + std::to_string(params->size());
        return;
      }
      out += t.text;
    });
  }
};

}  // namespace

const sql::Emitter& TheEmitter() {
  static const SqliteEmitter emitter;
  return emitter;
}

}  // namespace rembiz::db::sqlite
