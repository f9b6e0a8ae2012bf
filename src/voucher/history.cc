#include "voucher/history.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "db/persist.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/sql_helpers.h"

namespace rembiz::voucher {
namespace {

using db::SqlText;
using frame::NormalizeSql;

// The card number of a voucher of `table`, as a SQL expression over its head.
std::string CardExpression(std::string_view table) {
  if (db::Lower(table) == "ec_loanvouch") return "'45'";
  if (db::Lower(table) == "ec_expenvouch") {
    return "Case When left(strTypeCode,1) = '1' Then '46' Else '47' End";
  }
  frame::RequireSqlName(table, "voucher table");
  return "''";
}

bool KeptByDatabase(const std::string& column) {
  const std::string name = db::Lower(column);
  return name == "autoid" || name == "guid" || name == "mguid" || name == "ts";
}

VoucherSnapshot::Values ValuesOf(const db::Recordset& rs) {
  VoucherSnapshot::Values out;
  for (int i = 0; i < rs.FieldCount(); ++i) {
    const std::string& name = rs.Field(i).name;
    if (KeptByDatabase(name) || rs.Value(i).IsNull()) continue;
    out.emplace(name, rs.Value(i).ToText());
  }
  return out;
}

// The changes of one record into `out`; `row` 0 is the head.
void Compare(const VoucherSnapshot::Values& before, const VoucherSnapshot::Values& after, int row,
             nlohmann::ordered_json& out) {
  std::vector<std::string> fields;
  for (const auto& [name, value] : before) fields.push_back(name);
  for (const auto& [name, value] : after) {
    if (!before.contains(name)) fields.push_back(name);
  }
  std::sort(fields.begin(), fields.end());
  for (const std::string& field : fields) {
    auto old_value = before.find(field);
    auto new_value = after.find(field);
    const bool had = old_value != before.end(), has = new_value != after.end();
    if (had && has && old_value->second == new_value->second) continue;
    nlohmann::ordered_json change = nlohmann::ordered_json::object();
    if (row > 0) change["row"] = row;
    change["field"] = field;
    change["old"] = had ? nlohmann::ordered_json(old_value->second) : nlohmann::ordered_json();
    change["new"] = has ? nlohmann::ordered_json(new_value->second) : nlohmann::ordered_json();
    out.push_back(std::move(change));
  }
}

}  // namespace

void WriteHistory(host::Session& session, db::Connection& cn, std::string_view table,
                  std::string_view guid, std::string_view event, std::string_view remark,
                  std::string_view changes, const ActingFor& acting_for) {
  WriteHistoryBy({session.UserId(), session.UserName()}, cn, table, guid, event, remark, changes,
                 acting_for);
}

void WriteHistoryBy(const Actor& actor, db::Connection& cn, std::string_view table,
                    std::string_view guid, std::string_view event, std::string_view remark,
                    std::string_view changes, const ActingFor& acting_for) {
  auto text_or_null = [](std::string_view value) {
    return value.empty() ? std::string("Null") : SqlText(value);
  };
  cn.Execute(NormalizeSql(
      "Insert Into EC_VoucherHistory (cCardNumber,cVouchGUID,cVouchCode,cEvent,cUser_Id,"
      "cUser_Name,cForUser_Id,cForUser_Name,cRemark,cChanges) Select " +
      CardExpression(table) + ",GUID,strVouchID," + SqlText(event) + "," + text_or_null(actor.id) +
      "," + text_or_null(actor.name) + "," + text_or_null(acting_for.id) + "," +
      text_or_null(acting_for.name) + "," + text_or_null(remark.substr(0, 255)) + "," +
      text_or_null(changes) + " From " + std::string(table) + " Where GUID = " + SqlText(guid)));
}

VoucherSnapshot ReadSnapshot(db::Connection& cn, std::string_view table, std::string_view guid) {
  frame::RequireSqlName(table, "voucher table");
  VoucherSnapshot out;
  const std::string qguid = SqlText(guid);
  db::Recordset head =
      cn.Execute(NormalizeSql("Select * From " + std::string(table) + " Where GUID = " + qguid));
  if (!head.Eof()) out.head = ValuesOf(head);
  db::Recordset rows = cn.Execute(NormalizeSql("Select * From " + std::string(table) +
                                               "_Sub Where MGuid = " + qguid + " Order By AutoID"));
  for (; !rows.Eof(); rows.MoveNext()) out.rows.push_back(ValuesOf(rows));
  return out;
}

VoucherSnapshot ReadLines(db::Connection& cn, const std::string& sql) {
  VoucherSnapshot out;
  for (db::Recordset rs = cn.Execute(NormalizeSql(sql)); !rs.Eof(); rs.MoveNext()) {
    out.rows.push_back(ValuesOf(rs));
  }
  return out;
}

void WriteLinesHistory(host::Session& session, db::Connection& cn, std::string_view guid,
                       std::string_view event, const VoucherSnapshot& before,
                       const std::string& sql) {
  const std::string changes = ChangesJson(before, ReadLines(cn, sql));
  if (!changes.empty()) WriteHistory(session, cn, "EC_ExpenVouch", guid, event, "", changes);
}

std::string ChangesJson(const VoucherSnapshot& before, const VoucherSnapshot& after) {
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  Compare(before.head, after.head, 0, out);
  const size_t rows = std::max(before.rows.size(), after.rows.size());
  static const VoucherSnapshot::Values kNone;
  for (size_t i = 0; i < rows; ++i) {
    Compare(i < before.rows.size() ? before.rows[i] : kNone,
            i < after.rows.size() ? after.rows[i] : kNone, static_cast<int>(i + 1), out);
  }
  return out.empty() ? "" : out.dump();
}

PaymentLineHistory::PaymentLineHistory(db::Connection& cn, bool loan, std::string_view line_guid)
    : cn_(cn), loan_(loan) {
  const std::string where = " Where GUID = " + SqlText(line_guid);
  sql_ = std::string("Select strPayID,blnNetOK From ") +
         (loan ? "EC_LoanVouch_Sub" : "EC_BalanceInfo") + where;
  db::Recordset line = cn.Execute(NormalizeSql(
      std::string("Select ") +
      (loan ? "MGuid From EC_LoanVouch_Sub" : "ExpenGUID From EC_BalanceInfo") + where));
  if (!line.Eof()) voucher_guid_ = line.Value(0).ToText();
  before_ = ReadLines(cn, sql_);
}

void PaymentLineHistory::Write(const Actor& actor, std::string_view event) {
  if (voucher_guid_.empty()) return;
  WriteHistoryBy(actor, cn_, loan_ ? "EC_LoanVouch" : "EC_ExpenVouch", voucher_guid_, event, "",
                 ChangesJson(before_, ReadLines(cn_, sql_)));
}

void AnswerHistory(db::Connection& cn, std::string_view guid, xml::Document& answer) {
  db::LoadXml(cn.Execute(NormalizeSql(
                  "Select AutoID,cCardNumber,cVouchGUID,cVouchCode,cEvent,cUser_Id,cUser_Name,"
                  "cForUser_Id,cForUser_Name,cRemark,cChanges,dTime From EC_VoucherHistory "
                  "Where cVouchGUID = " +
                  SqlText(guid) + " Order By AutoID")),
              answer);
}

}  // namespace rembiz::voucher
