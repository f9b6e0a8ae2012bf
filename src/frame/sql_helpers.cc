#include "frame/sql_helpers.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <random>

#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "host/errors.h"
#include "host/scope_rules.h"

namespace rembiz::frame {
namespace {

using db::Trim;

using db::kErrInvalidRequest;

bool IsItemClass(std::string_view code) {
  if (code.empty() || code.size() > 20) return false;
  for (char c : code) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  }
  return true;
}

}  // namespace

void RequireSqlName(std::string_view name, std::string_view what) {
  if (!IsSqlName(name)) {
    throw ComError(kErrInvalidRequest,
                   "Invalid request: " + std::string(what) + " '" + std::string(name) +
                       "' is not a valid name.",
                   "Rembiz");
  }
}

std::string CondFilter(const xml::Node& node) {
  std::string out = "1=1";
  for (const xml::Node& child : node.Children()) {
    std::string type = child.Attr("type");
    std::string field_type = child.Attr("fieldtype");
    std::string field = child.Attr("fieldname");
    std::string value = child.Attr("value");
    int kind = type == "0" || type == "1" || type == "5"   ? 0
               : type == "2" || type == "3" || type == "4" ? 1
               : type == "6"                               ? 2
                                                           : -1;
    if (kind < 0) continue;
    RequireSqlName(field, "condition field");
    const char* op = field_type == "0" ? "=" : field_type == "1" ? ">=" : "<=";
    if (kind == 0) {
      out += " and " + field + op + "'" + SqlEscape(value) + "'";
    } else if (kind == 1) {
      out += " and " + field + op + db::DoubleText(NumValue(Variant(value)));
    } else {
      out += " and " + field + "=" + (ToBool(Variant(value)) ? "1" : "0");
    }
  }
  return out;
}

std::string RowAuthString(host::Session& session, std::string_view auth_type,
                          std::string_view selector2, std::string_view selector3) {
  if (session.IsAdmin()) return "";
  std::unique_ptr<host::ScopeRules> rules = host::CreateScopeRules();
  rules->Init(session.ConnectionString(), session.UserId());
  std::string result;
  if (selector2.empty()) {
    result = rules->GetAuthString(auth_type);
  } else if (selector3.empty()) {
    result = rules->GetAuthString(auth_type, selector2);
  } else {
    result = rules->GetAuthString(auth_type, selector2, selector3);
  }
  return Trim(result).empty() ? "" : result;
}

std::string DataAuthFilter(host::Session& session, std::string_view table,
                           std::string_view alias_flag) {
  struct Rule {
    const char* type;
    const char* nothing;  // what "1=2" becomes: a list that matches no code
    const char* prefix;
    const char* suffix;
  };
  static constexpr Rule kRules[] = {
      {"department", "N''", " strDepartID IN (", ") And "},
      {"person", "N''", " strLoanID IN (", ") And "},
      // Vouchers without a cost item stay visible. The empty code is listed with the allowed
      // ones: a union with a bare list of codes would be no query at all.
      {"fitem", "N''", " Isnull(strItemID ,N'') IN (N'',", ") And "},
      {"user", "''", " strPersonID IN (", ") And "},
  };
  std::string conditions;
  for (const Rule& rule : kRules) {
    std::string list = RowAuthString(session, rule.type);
    if (list == "1=2") list = rule.nothing;
    if (!list.empty()) conditions += rule.prefix + list + rule.suffix;
  }
  if (conditions.empty()) return std::string(table);
  conditions.resize(conditions.size() - 4);
  std::string t(table);
  if (ToBool(Variant(alias_flag))) {
    return "(Select * From " + t + " Where " + conditions + ") As " + t;
  }
  return "(Select * From " + t + " Where " + conditions + ") ";
}

std::string AccOption(std::string_view name, db::Connection& cn, std::string_view system_id) {
  db::Recordset rs =
      cn.Execute(NormalizeSql("select ctype,cvalue,cdefault from accinformation where cname='" +
                              SqlEscape(name) + "' and csysid='" + SqlEscape(system_id) + "'"));
  if (rs.Eof()) return "";
  const Variant& value = rs.Value("cValue");
  return value.IsNull() ? rs.Value("cDefault").ToText() : value.ToText();
}

std::string ItemSourceSql(std::string_view item_class, db::Connection& cn) {
  auto one = [](const std::string& c) {
    if (c == "ch") {
      return std::string(
          "select N'ch' as citem_class,cinvcode as citemcode,cinvname as citemname from "
          "inventory");
    }
    return "select N'" + c + "' as citem_class,citemcode,citemname from fitemss" + c;
  };
  std::string c(item_class);
  if (!c.empty()) {
    if (!IsItemClass(c)) {
      throw ComError(kErrInvalidRequest,
                     "Invalid request: item class '" + c + "' is not a valid code.", "Rembiz");
    }
    return "(" + one(c) + ")fitems";
  }
  db::Recordset rs = cn.Execute("select citem_class from fitem");
  if (rs.Eof()) return "(select null as citem_class,null as citemcode,null as citemname)fitems";
  std::string parts;
  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
    std::string code = rs.Text("citem_class");
    if (!IsItemClass(code)) continue;  // a class that cannot name a table has no items
    // The members of the union stand without their own parentheses, which SQLite refuses.
    parts += " union all " + one(code);
  }
  if (parts.empty()) {
    return "(select null as citem_class,null as citemcode,null as citemname)fitems";
  }
  return "(" + parts.substr(std::string(" union all ").size()) + ")fitems";
}

std::string TempName() {
  // Unique across requests and threads: the digits of a random GUID plus the clock.
  thread_local std::mt19937_64 random{std::random_device{}()};
  uint64_t now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  char buf[64];
  std::snprintf(buf, sizeof buf, "qdtmp%016llx%016llx%llx",
                static_cast<unsigned long long>(random()),
                static_cast<unsigned long long>(random()), static_cast<unsigned long long>(now));
  return buf;
}

std::string CreateTempTable(db::Connection& cn, std::string_view column_definitions) {
  std::string name = TempName();
  DropTempTable(cn, name);
  cn.Execute(NormalizeSql("CREATE TABLE tempdb.." + name + std::string(column_definitions)));
  return name;
}

void DropTempTable(db::Connection& cn, std::string_view name) {
  try {
    std::string table(name);
    if (db::Lower(table).rfind("tempdb..", 0) == 0) table = table.substr(8);
    if (!IsSqlName(table)) return;
    cn.Execute("if exists(select 1 from tempdb..sysobjects where name=N'" + table +
               "' and xtype=N'U') drop table tempdb.." + table);
  } catch (...) {
    // Dropping a work table never fails a request.
  }
}

std::string NewGuid(db::Connection& cn) { return cn.NewGuid(); }

}  // namespace rembiz::frame
