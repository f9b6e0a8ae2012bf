// SQL building shared by the classes: conditions from request XML, the operator's data
// permissions, account options, the cost-item source, work tables in tempdb and new GUIDs.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/text.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::frame {

// "1=1" and one " and <field><op><value>" per condition child (attributes fieldname, fieldtype,
// value, type). Field names must be plain column names; text values are quoted safely.
std::string CondFilter(const xml::Node& node);

// The operator's row authority of a type: "" unrestricted, "1=2" nothing, or an IN list.
std::string RowAuthString(host::Session& session, std::string_view auth_type,
                          std::string_view selector2 = "", std::string_view selector3 = "");

// The table (or derived table) restricted to the rows the operator may see.
std::string DataAuthFilter(host::Session& session, std::string_view table,
                           std::string_view alias_flag);

// An account option of a system ("EC"): cValue, or cDefault when cValue is null; "" when unset.
std::string AccOption(std::string_view name, db::Connection& cn, std::string_view system_id);

// The derived table "fitems" (citem_class, citemcode, citemname) of a cost-item class, or of
// every class when the class is empty.
std::string ItemSourceSql(std::string_view item_class, db::Connection& cn);

// Work tables in tempdb.
std::string TempName();
std::string CreateTempTable(db::Connection& cn, std::string_view column_definitions);
void DropTempTable(db::Connection& cn, std::string_view name);

// A new GUID from the database driver, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string NewGuid(db::Connection& cn);

// Throws an invalid-request error unless `name` is a plain SQL name ([A-Za-z_][A-Za-z0-9_.]*).
void RequireSqlName(std::string_view name, std::string_view what);
using db::IsSqlName;

}  // namespace rembiz::frame
