// Definitions: CREATE TABLE read into the TableDefinition that each emitter writes.
#include "db/sql/front_end.h"

namespace rembiz::db::sql {

// CREATE TABLE name (columns and constraints): the definition the emitters write. Storage
// clauses (ON [PRIMARY], CLUSTERED, NOT FOR REPLICATION) mean nothing here.
TableDefinition StatementRewriter::ParseTable(bool if_not_exists) {
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
  for (auto [part_begin, part_end] : SplitTop(t_, match_, open + 1, close)) {
    // Named copies: the lambdas below capture them, which some compilers refuse for bindings.
    const size_t b = part_begin;
    const size_t e = part_end;
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
      } else if ((IsWord(tk, "constraint") || IsWord(tk, "on")) && i + 1 < e) {
        // The name of a column constraint (a default) or a filegroup: the server's own business.
        ++i;
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
      } else {
        Fail("unexpected '" + tk.text + "' in the definition of column " + column.name);
      }
    }
    table.columns.push_back(std::move(column));
  }
  return table;
}

const ColumnDefinition* TableDefinition::Column(std::string_view column) const {
  for (const ColumnDefinition& c : columns) {
    if (EqualsIgnoreCase(c.name, column)) return &c;
  }
  return nullptr;
}

}  // namespace rembiz::db::sql
