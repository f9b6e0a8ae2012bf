#include "admin/table_kind.h"

#include "db/text.h"
#include "db/variant.h"
#include "host/errors.h"

namespace rembiz::admin {

using db::SqlText;

std::vector<std::string> TableKind::Columns() const {
  std::vector<std::string> columns;
  for (const Field& field : spec_.fields) columns.emplace_back(field.attr);
  return columns;
}

const Field& TableKind::KeyField() const {
  for (const Field& field : spec_.fields) {
    if (field.key) return field;
  }
  return spec_.fields.front();
}

std::string TableKind::KeyOf(const xml::Node& row) const {
  // Names that are keys (currencies) are texts; codes keep to the plain characters.
  if (KeyField().type == FieldType::kText) return Required(row, KeyField().attr);
  return Code(row, KeyField().attr, KeyField().length);
}

std::string TableKind::Literal(const Field& field, const xml::Node& row) const {
  std::string value = db::Trim(row.Attr(field.attr));
  if (value.empty() && field.required) Raise(kErrBusiness, "Rembiz.Admin.Required", field.attr);
  switch (field.type) {
    case FieldType::kCode:
      return value.empty() ? "Null" : SqlText(Code(row, field.attr, field.length));
    case FieldType::kText:
      return value.empty() ? "Null" : SqlText(value);
    case FieldType::kWhole:
      return value.empty() ? "Null" : std::to_string(Whole(row, field.attr, 0, -1000000, 1000000));
    case FieldType::kFlag:
      return Flag(row, field.attr, false) ? "1" : "0";
    case FieldType::kNumber: {
      if (value.empty()) return "Null";
      std::optional<double> number = db::ParseNumber(value);
      if (!number) Raise(kErrBusiness, "Rembiz.Admin.NotNumber", field.attr);
      return db::Variant(*number).ToText();
    }
    case FieldType::kDerived:
      break;
  }
  return "Null";
}

bool TableKind::Exists(Context& ctx, const std::string& key) const {
  return !ctx.cn
              .Execute("select 1 from " + std::string(spec_.table) + " where " +
                       std::string(KeyField().column) + " = " + SqlText(key))
              .Eof();
}

std::string TableKind::List(Context& ctx, const xml::Node&) {
  std::string columns;
  for (const Field& field : spec_.fields) {
    columns += (columns.empty() ? "t." : ", t.") + std::string(field.column) + " as " +
               std::string(field.attr);
  }
  db::Recordset rs = ctx.cn.Execute("select " + columns + ListExtra() +
                                    ", cast(t.ts as money) as ts from " + std::string(spec_.table) +
                                    " t" + ListJoin() + " order by " + std::string(spec_.order));
  return RowsXml(rs);
}

void TableKind::Add(Context& ctx, const xml::Node& row) {
  std::string key = KeyOf(row);
  if (Exists(ctx, key)) Raise(kErrBusiness, "Rembiz.Admin.Exists", spec_.name, key);
  Check(ctx, row, true);
  std::string columns, values;
  for (const Field& field : spec_.fields) {
    if (field.type == FieldType::kDerived) continue;
    columns += (columns.empty() ? "" : ", ") + std::string(field.column);
    values += (values.empty() ? "" : ", ") + Literal(field, row);
  }
  ctx.cn.Execute("insert into " + std::string(spec_.table) + " (" + columns + ") values (" +
                 values + ")");
  AfterAdd(ctx, row, key);
}

void TableKind::Change(Context& ctx, const xml::Node& row) {
  std::string key = KeyOf(row);
  std::string version = Version(row);
  if (!Exists(ctx, key)) Raise(kErrBusiness, "Rembiz.Admin.Stale");
  Check(ctx, row, false);
  std::string sets;
  for (const Field& field : spec_.fields) {
    if (field.key || field.type == FieldType::kDerived || !row.HasAttr(field.attr)) continue;
    sets += (sets.empty() ? "" : ", ") + std::string(field.column) + " = " + Literal(field, row);
  }
  // A change of nothing still proves the version and gives the record a new one.
  if (sets.empty()) sets = std::string(KeyField().column) + " = " + std::string(KeyField().column);
  ExecuteOne(ctx.cn, "update " + std::string(spec_.table) + " set " + sets + " where " +
                         std::string(KeyField().column) + " = " + SqlText(key) +
                         " and cast(ts as money) = " + version);
}

void TableKind::Delete(Context& ctx, const xml::Node& row) {
  std::string key = KeyOf(row);
  std::string version = Version(row);
  std::string quoted = SqlText(key);
  for (const Usage& usage : spec_.usages) {
    std::string sql(usage.sql);
    for (size_t at = sql.find("{}"); at != std::string::npos; at = sql.find("{}", at)) {
      sql.replace(at, 2, quoted);
      at += quoted.size();
    }
    RefuseInUse(ctx.cn, sql, key, usage.key);
  }
  ExecuteOne(ctx.cn, "delete from " + std::string(spec_.table) + " where " +
                         std::string(KeyField().column) + " = " + quoted +
                         " and cast(ts as money) = " + version);
  AfterDelete(ctx, key);
}

std::string TreeParent(db::Connection& cn, std::string_view table, std::string_view column,
                       const std::string& code) {
  std::string c(column);
  db::Recordset rs = cn.Execute("select " + c + " from " + std::string(table) + " where " + c +
                                " = left(" + SqlText(code) + ", len(" + c + ")) and " + c + " <> " +
                                SqlText(code) + " order by len(" + c + ") desc");
  return rs.Eof() ? "" : rs.Text(c);
}

}  // namespace rembiz::admin
